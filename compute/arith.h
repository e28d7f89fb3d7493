// The general element loop and the reductions.
//
// `ariths` reads operands and destination from the current operand table
// (compute/expr.h), reads each element with GSTACK, computes in 32-bit
// floats and stores with PSTACK, so every destination keeps exactly the
// store rule of the element access (truncation, clamping, the missing
// value). It is the path every operation takes that no fast path took.
//
// Defined results where the arithmetic has none:
//  - '/' by zero gives 0; rem by a divisor of 0 or less gives 0;
//  - integer forms of elements (ia, ib) are clamped to +-2147400000 before
//    truncation, so no integer operation meets the most negative integer;
//    shift counts are taken modulo 32 and shifts run on unsigned bits;
//  - log of 0 or less 0, sqrt of a negative value 0, asin/acos outside
//    -1..1 give -1, alog above 13 gives 0, a power of 2147399936 or more 0;
//  - a missing element (-0.0) gives a missing result, but missing times an
//    exact zero is 0; a computed -0.0 is stored as +0.
#pragma once
#include <cstdint>

// The element loop: code, element count of the operation (-99: the string
// comparison prepared by doarth), number of loaded operands (1 or 2).
int ariths(int code, int count, int nops);

struct PtrRec;
// Stores one result as the element loop does: 16-bit results clamp to
// -32767..32767 unless aflags switches clamping off (then their low 16
// bits are kept); every other word size as PSTACK stores it. Readers that
// convert data into a variable store through it too, so that they give
// what an assignment gives.
void putres(float r, PtrRec* d);

// Progress of the running array loop for Ctrl-A: the element index and the
// total; the total is 0 while no loop runs.
extern uint32_t prgidx;
extern uint32_t prgtot;
// Percent done (index x 100 / total), -1 while no loop runs.
int32_t prgpct();

// The pause before every array loop. The user interface installs the wait
// of the pause modes in `pausehk`; without it dopause returns at once.
extern int (*pausehk)();
int dopause();

// The colour-byte rule for 24-bit data: + (116) and * (118) per byte of the
// 24-bit value a, each byte clamped to 0..255. 1 when *r was computed, else
// 0. code2 is not used.
int qrgb24(int code, float a, float b, int code2, float* r);
// Number of set bits of v for v > 0; 0 for v <= 0.
int bitcnt(int32_t v);

// Functions whose call on single values (nops of them) the element loop
// computes as one unary or binary step, the result a float: the fast forms
// of macro lines compute them with elres.
bool elscal(int code, int nops);
// The element loop's result of such a function on single values a (and b):
// a missing operand gives a missing result, a computed -0.0 is +0.
float elres(int code, int nops, float a, float b);

// The mean and the sample standard deviation the reductions derive from
// the sum, the sum of squared deviations from the mean (a second pass over
// the data: the sum of squares less the squared sum cancels on large
// values with a small spread) and the count of elements that are not
// missing (a count of 0 divides as 1; one element deviates by 0).
void redend(double sum, double dev, int32_t valid, double* mean, double* sd);
// The squared deviations are added in eight lanes, element i into lane
// i % 8 in order (so that every path adds them in one order, and fast);
// their sum is the lanes added in order.
inline double devsum(const double* lanes) {
  double s = 0.0;
  for (int j = 0; j < 8; j++) s += lanes[j];
  return s;
}
