// Number registers: ten floats in the low stack at `regadr`.
#include "core/args.h"
#include "core/memory.h"

#include <cstring>

int32_t regadr = 0;

namespace {
// The word of register n, or null when n is no register or the low stack
// does not hold the registers.
uint32_t* regword(int n) {
  if (n < 0 || n > 9 || !lowstk || regadr < 0) return nullptr;
  if (lstk.end > 0 && regadr + n >= lstk.end) return nullptr;
  return lowstk + regadr + n;
}
}  // namespace

int setfres(float value, int n) {
  if (uint32_t* w = regword(n)) std::memcpy(w, &value, 4);
  return 0;
}

int setres(int32_t value, int n) { return setfres(static_cast<float>(value), n); }

float getres(int n) {
  float v = 0.0f;
  if (const uint32_t* w = regword(n)) std::memcpy(&v, w, 4);
  return v;
}
