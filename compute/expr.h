// Expression evaluation: the postfix lists that the argument access builds
// are walked here with the operand table.
#pragma once
#include <cstdint>

// Evaluates the postfix list at stack address `list`: word 0 the number of
// entries n, then n word ids (stack addresses of pointer records) in
// evaluation order, operands before the operator or function items that
// consume them. Returns the word id of the record that holds the result
// (list word 1 holds it too afterwards), or 0 on failure.
int32_t doexpr(int32_t list);
