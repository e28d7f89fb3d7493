// The generators of the function dispatcher: random numbers, ramps and the
// sine series, and the repeat expander of `pdstr`.
#pragma once
#include <cstdint>

#include "compute/func.h"

// The set-up of random (244), ramp (245) and the series (1203): the result
// count (argument 2, else the destination's count; error 77 when neither),
// the start and end values and the element code. Also the count rule of
// maklut.
int su_gen(FnCall& c);
// The lowest and highest value that genrat's ramp stores in n elements
// (before the store rule of the element type): the current value starts at
// cur and steps by s, repeat (2 or more) stores each value that many times,
// and meeting b restarts it at lo or, with bounce, turns it back.
void rampspan(int64_t n, int64_t cur, int64_t s, int64_t b, int64_t lo, bool bounce, int64_t repeat,
              int64_t* lowest, int64_t* highest);
// Writes the operand table's result count of elements into its destination
// record: code 244 random, 245 ramp, 1203 the series.
int genrat(int code, double a, double b, double step, double repeat);
// The random generator: integers 0 .. 32767 from a seed.
void rndset(uint32_t seed);
int rndnxt();
// Forgets the seed, so the next call without one seeds from the clock.
void rndrst();
// Expands the text of argument 2 (at most 128 characters): (text)*n gives
// n copies of text, groups nest, a backslash copies the next character.
// Returns the length written into output (max bytes and a NUL), 0 on any
// failure.
int rptexp(char* output, int32_t max);
