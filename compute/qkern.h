// The typed kernels of the fast paths (compute/qkern.inc), built for the
// baseline instruction set and for AVX2 and AVX-512; `qkern()` hands out
// the widest set the processor runs.
#pragma once
#include <cstdint>

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
};

const QKern& qkern();
// The baseline set alone (tests compare the sets).
const QKern& qkbase();
