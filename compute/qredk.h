// The typed kernels of the fast reductions (compute/qredk.inc), built for
// the baseline instruction set and for AVX2 and AVX-512; `qredk()` hands
// out the widest set the processor runs.
//
// The element loop adds every item that is not missing, in turn, into a
// double (and its square into another). Sums of bytes and 16-bit items are
// exact integers in any order. For 32-bit items and floats the kernels
// follow the loop's own sequence of roundings, a run of items at a time,
// keeping bounds [lo, hi] of the loop's running sum:
//  - while the running sum and every item are whole numbers below 2^53,
//    nothing rounds, so any order gives the loop's sum (32-bit items
//    always; floats where they are whole);
//  - while the running sum stays inside one binade [2^k, 2^(k+1)) (of
//    either sign), each addition rounds to the same grid of g = 2^(k-52):
//    the item rounded to that grid on its own (fl(t + C) - C, C = 1.5 x 2^k)
//    is what it adds, in any order of lanes, except for an item exactly
//    half way between two grid points, whose rounding to even also depends
//    on the running sum's last bit; such ties are counted, and each widens
//    the bounds by one grid step. A run is cut to the room the sum has
//    before the binade's edge, judged from the items' size so far;
//  - where the room is too small (near an edge or zero) a short piece is
//    added one item at a time from both bounds, each addition being
//    monotone in the running sum.
// The bounds are exact (lo == hi) unless ties occurred; compute/qreduce.cpp
// checks that both give the loop's floats, or adds everything again in the
// loop's order. Bounds that are not finite (a NaN or an infinity among the
// items) stand for nothing: the kernels stop adding then.
#pragma once
#include <cstdint>

// What a reduction pass computes (QRKern::reduce).
enum : int {
  RD_SUM = 1,  // the sum
  RD_SQ = 2,   // the sum of squares
  RD_MAX = 4,  // the largest item
  RD_NZ = 8,   // the count of items that are not zero
  RD_CNT = 16, // the count of items that are not missing
  RD_MIN = 32, // the smallest item
  RD_MM = RD_MAX | RD_MIN,
};

// The loop's running double sum, known to lie in [lo, hi].
struct SeqSum {
  double lo = 0, hi = 0;
};

// Partial results of one-operand reductions over runs of items, added up
// run after run. Items are the floats the element loop reads; a missing
// item counts in none of them.
struct RAcc {
  // Bytes and 16-bit items: exact integer sums (squares of 16-bit items
  // round in the loop once they pass 2^53: see QRKern::seqsum).
  int64_t isum = 0;
  uint64_t isq = 0;
  // 32-bit items and floats: the loop's sum and sum of squares.
  SeqSum s, q;
  int64_t missing = 0, nonzero = 0;
  // Over the items that are not missing; NaN is never either.
  float vmin = __builtin_inff(), vmax = -__builtin_inff();
};

// A run of floats summed in double lanes (QRKern::runsum): its sum s, and
// bounds dn <= 0 <= up of every partial sum of its items in order; every
// item is a multiple of 2^e. Where both the running sum and the items are
// multiples of a step and every partial sum stays below 2^53 steps, each
// addition is exact and the loop's sum is the running sum plus s.
struct RunSum {
  double s = 0, up = 0, dn = 0;
  int32_t e = 0;
};

// A run of floats rounded to the grid of a predicted running sum
// (QRKern::gridrun): g the grid's step (0: no grid there), d the sum of
// the items so rounded, [dn, up] bounds of its partial sums, t the items
// half way between two steps.
struct GridRun {
  double g = 0, d = 0, up = 0, dn = 0;
  int64_t t = 0;
};

struct QRKern {
  // One pass of a reduction over n items of word size code w (8, 16, 32,
  // 96); what: QR_ bits.
  void (*reduce)(int w, const void* p, int64_t n, int what, RAcc* a);
  // The loop's sum (and sum of squares when sq is set) of n items of any
  // word size, into a->s and a->q.
  void (*seqsum)(int w, const void* p, int64_t n, bool sq, RAcc* a);
  // Summaries of the runs of r floats (a multiple of 64, at most 2048) of
  // n items, into o[(n + r - 1) / r]; missing items counted into *missing
  // when given.
  void (*runsum)(const float* p, int64_t n, int r, RunSum* o, int64_t* missing);
  // The loop's sum a->s of the same n floats from their runs' summaries:
  // runs that every order adds exactly at once, the others item by item
  // (as reduce does with RD_SUM): returns the count of those.
  int64_t (*runadd)(const RunSum* o, const float* p, int64_t n, int r, RAcc* a);
  // The runs of r floats (a multiple of 64, at most 2048) of n items on
  // the grids of the running sum predicted as s0 + rate x (items before
  // the run), into o[(n + r - 1) / r]; missing items counted into *missing
  // when given.
  void (*gridrun)(const float* p, int64_t n, int r, double s0, double rate, GridRun* o, int64_t* missing);
  // The loop's sum a->s of the same n floats: runs whose grid is the
  // running sum's and whose partial sums stay in its binade at once, the
  // others item by item. Returns the count of those.
  int64_t (*gridadd)(const GridRun* o, const float* p, int64_t n, int r, RAcc* a);
  // The sums in the element loop's order (every item in turn into *sum,
  // its square into *sumsq when sq is set), items that are not missing.
  void (*serial)(int w, const void* p, int64_t n, bool sq, double* sum, double* sumsq);
  // The squared deviations from mean of the items that are not missing,
  // item k (counted from the walk's first) added in order into lane k % 8
  // of dev, as the element loop adds them (k0: the index of p's first item).
  void (*devsq)(int w, const void* p, int64_t n, double mean, int64_t k0, double* dev);
  // The index of the first item that is not missing and equals v (mode
  // 0), of the first that is not missing and not zero (1), of the last
  // such (2), or of the first that is not missing (3); -1 when there is
  // none.
  int64_t (*find)(int w, const void* p, int64_t n, float v, int mode);
  // Counts n items into the histogram h of nbins bins as the loop of
  // analyze does: the integer form of each item, below 0 into bin 0, from
  // nbins on into the last bin.
  void (*hist)(int w, const void* p, int64_t n, uint32_t* h, int32_t nbins);
};

// Runs of items summed each way (tests check that each way was taken):
// QW_FLANES floats on the grid in float lanes, QW_GRID on the grid in
// double lanes, QW_EXACT whole numbers added exactly, QW_ONE one by one.
enum : int { QW_FLANES, QW_GRID, QW_EXACT, QW_ONE, QW_N };
extern uint64_t qrruns[QW_N];

const QRKern& qredk();
// The baseline set alone (tests compare the sets).
const QRKern& qrbase();
