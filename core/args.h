// Command arguments and the number registers.
//
// The ten number registers #0..#9 are 32-bit floats in consecutive words of
// the low stack; `regadr` holds the word address of #0 (the system table's
// start-up takes them first from the bottom area, so they sit at word 0).
// Commands leave their numeric results there; `error` leaves -code in #0.
#pragma once
#include <cstdint>

extern int32_t regadr;  // low-stack word address of register #0

// Store into number register #n (n 0..9; any other n is ignored). Return 0.
int setres(int32_t value, int n);
int setfres(float value, int n);
// The value of register #n (0 for any other n, or before the low stack exists).
float getres(int n);
