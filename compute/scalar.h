// The scalar path of the expression evaluator.
#pragma once
#include <cstdint>

// Computes the postfix list (word 0 its length, then the word ids) when it
// is a copy or one binary arithmetic or comparison operator into a single
// float number, every operand a single float number or a number constant.
// Returns the destination's word id (list word 1 holds it too), or 0 when
// the list is left to the general walk.
int32_t scalar(uint32_t* list);
// Sends every list to the general walk (tests compare the two).
extern bool noscalar;
