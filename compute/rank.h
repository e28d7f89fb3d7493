// Ranking, ordering by an index, peak detection and the line reductions of
// row, column and zproj: functions of the function dispatcher that walk whole
// arrays (their set-up steps and operations, compute/func.h).
#pragma once
#include <cstdint>

#include "compute/func.h"

struct PtrRec;

// rank(x [, descending]): the indices that put x in order, equal elements
// in input order; 16-bit indices up to 32767 elements, 32-bit above.
int su_rank(FnCall& c);
int run_rank(FnCall& c);
// order(x, index): destination[i] = x[index[i]].
int su_order(FnCall& c);
int run_order(FnCall& c);
// peak(y [, x] [, mode] [, count]): the confirmed maxima and minima; r0
// gets their number.
int su_peak(FnCall& c);
// row, column, zproj (x, reduction): one value per line along an axis.
int su_rowcol(FnCall& c);
int run_rowcol(FnCall& c);

// Reads up to n items of a prepared record (its part in *part) as floats
// into out, from its current position on; the count read (less on a stop
// or when the data ends).
int32_t rdflts(PtrRec* r, int32_t* part, float* out, int32_t n);
