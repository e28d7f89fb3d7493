// The typed kernels of the fast paths (compute/qkern.inc), built for the
// baseline instruction set and for AVX2 and AVX-512; `qkern()` hands out
// the widest set the processor runs.
#pragma once
#include <cstdint>

// What a reduction pass computes (QKern::reduce).
enum : int {
  QR_SUM = 1,  // the sum (with the bound of its error)
  QR_SQ = 2,   // the sum of squares (with its bound)
  QR_MAX = 4,  // the largest item
  QR_NZ = 8,   // the count of items that are not zero
  QR_CNT = 16, // the count of items that are not missing
  QR_MIN = 32, // the smallest item
  QR_MM = QR_MAX | QR_MIN,
};

// Partial results of one-operand reductions over runs of items, added up
// run after run. Items are the floats the element loop reads; a missing
// item counts in none of them.
struct QRedAcc {
  // Bytes and 16-bit items: exact integer sums.
  int64_t isum = 0;
  uint64_t isq = 0;
  // 32-bit items and floats: sums over lanes in doubles, an upper bound of
  // the sum of magnitudes, and ebnd / qbnd: sums over blocks of (items of
  // the block + 64) x (the magnitude sum, or sum of squares, up to the
  // block's end), which bound the rounding of any order of adding up.
  double fsum = 0, fsq = 0, fabs = 0, ebnd = 0, qbnd = 0;
  int64_t missing = 0, nonzero = 0;
  // Over the items that are not missing; NaN is never either.
  float vmin = __builtin_inff(), vmax = -__builtin_inff();
};

struct QKern {
  // n items of word size code w (8, 16, 32, 96) as the floats the element
  // loop reads (the missing value as -0.0).
  void (*load)(int w, const void* s, float* f, int n);
  // n floats stored with the loop's rule for word size code w; nc: aflags
  // switches clamping off.
  void (*store)(int w, const float* f, void* d, int n, bool nc);
  // r = a op b for n items; sa / sb: a / b is one value (a[0], b[0]).
  // False for a code it does not compute.
  bool (*binary)(int code, const float* a, int sa, const float* b, int sb, float* r, int n);
  // + (116) or - (117) of items of word size code w (8, 16 or 32) into
  // the same size in one pass: which 0 both arrays, 1 a is the value v, 2
  // b is v (not missing; for 8 and 16 a whole number of at most 16384 in
  // magnitude, whose sums are exact in integers).
  void (*intadd)(int code, int w, const void* a, const void* b, float v, int which, void* d,
                 int n, bool nc);
  // One pass of a reduction over n items of word size code w (8, 16, 32,
  // 96); what: QR_ bits.
  void (*reduce)(int w, const void* p, int64_t n, int what, QRedAcc* a);
  // The sums in the element loop's order (every item in turn into *sum,
  // its square into *sq when sq is set), items that are not missing.
  void (*serial)(int w, const void* p, int64_t n, bool sq, double* sum, double* sumsq);
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

const QKern& qkern();
// The baseline set alone (tests compare the sets).
const QKern& qkbase();
