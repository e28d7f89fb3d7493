// The scalar path of the expression evaluator.
#pragma once
#include <cstdint>

#include "core/element.h"

#include <cmath>

// Computes the postfix list (word 0 its length, then the word ids) when it
// is a copy or one binary arithmetic or comparison operator into a single
// float number, every operand a single float number or a number constant.
// Returns the destination's word id (list word 1 holds it too), or 0 when
// the list is left to the general walk.
int32_t scalar(uint32_t* list);
// Sends every list to the general walk (tests compare the two).
extern bool noscalar;

// Whether code is an operator the scalar path computes: "==" and the binary
// arithmetic and comparison operators.
inline bool scalarop(int code) { return code == 107 || (code >= 116 && code <= 124); }

// The element loop's result of such an operator on two single values: a
// missing operand gives a missing result (a product with a true zero gives
// 0), a zero result is a positive zero.
inline float scalres(int code, float a, float b) {
  if (ismiss(a) || ismiss(b)) {
    bool zero = (a == 0.0f && !std::signbit(a)) || (b == 0.0f && !std::signbit(b));
    return code == 118 && zero ? 0.0f : MISSING;
  }
  float r;
  switch (code) {
    case 107: r = a == b ? 1.0f : 0.0f; break;
    case 116: r = a + b; break;
    case 117: r = a - b; break;
    case 118: r = a * b; break;
    case 119: r = b == 0.0f ? 0.0f : a / b; break;
    case 120: r = a >= b ? 1.0f : 0.0f; break;
    case 121: r = a > b ? 1.0f : 0.0f; break;
    case 122: r = a <= b ? 1.0f : 0.0f; break;
    case 123: r = a < b ? 1.0f : 0.0f; break;
    default: r = a != b ? 1.0f : 0.0f; break;  // 124
  }
  return r == 0.0f ? 0.0f : r;
}
