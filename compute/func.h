// The function dispatcher: one built-in function item of a postfix list.
#pragma once
#include <cstdint>

// code: the function or declaration code; item: the stack address of the
// function item's record (its command-argument list holds the operands);
// depth and stack: the evaluation stack of doexpr; dest: in/out handle of
// the destination of a fused assignment (0 none). Returns the new depth
// (0 after an error, -1 when the expression ends without a value).
int dofunc(int code, int32_t item, int depth, int32_t* stack, int32_t* dest);
