// Fast forms of the element loop's one-operand reductions (max, min, sum,
// mean, stdev, stats), of the position of the largest or smallest element,
// and of the histogram of analyze, over operand 1 of the current operand
// table (compute/expr.h), run by run through the typed kernels.
//
// Each gives the element loop's results bit for bit. Maxima, minima,
// counts and positions are exact in any order, and so are the integer sums
// of bytes and 16-bit items. The loop adds 32-bit items and floats one by
// one into doubles; the kernels (compute/qredk.h) follow its roundings run
// by run and give bounds of its sums, exact unless items fell half way
// between two steps of the sum's grid. The loop's results are floats (the
// sum, the mean and the standard deviation narrowed to float): when every
// double within the bounds gives the same floats, the bounds stand for the
// loop's sums; otherwise the items are added again one by one in the
// loop's order.
#pragma once
#include <cstdint>

// Reductions and histograms the fast forms did (tests compare the ways).
extern uint32_t qrdone;

// The reduction state the element loop ends with.
struct RedState {
  float vmin = 1e10f, vmax = -1e10f;  // the running minimum and maximum
  int32_t valid = 0, nonzero = 0;
  double sum = 0;  // slot 3: the element loop's sum
  // The squared deviations from the mean sum / valid, added in the loop's
  // order (stdev and stats).
  double dev = 0;
  // Slots 8 to 11 (positions of the minimum, the maximum, the first and
  // the last element that is not zero) when they were set.
  int64_t at[4] = {-1, -1, -1, -1};
};

// Reduction code 209 to 214 over the count items of operand 1: 1 done (st
// filled), 0 declined (nothing was read), -1 stopped by Ctrl-C or a part
// that could not be read (the loop stores nothing then either).
int qreduce(int code, int32_t count, RedState* st);
// The position of the largest (209) or smallest (210) element of operand
// 1 (count items), as the loop finds it with two operands: 1 done, 0
// declined, -1 stopped.
int qbest(int code, int32_t count, int32_t* best);
// The histogram of analyze: counts operand 1's count items into h (nbins
// bins, cleared by the caller). 1 done (*top: the highest bin used, -1
// none), 0 declined, -1 stopped part way.
int qhist(uint32_t* h, int32_t nbins, int32_t count, int32_t* top);
