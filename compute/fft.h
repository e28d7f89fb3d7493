// The fast Fourier transform: the fft command and the in-place transform
// routine that the real-time runner also calls.
//
// Data are interleaved complex pairs of 32-bit floats (real, imaginary).
// The transform is radix 2, decimation in time, done dimension by dimension
// from the last listed one (whose elements are consecutive in memory) to the
// first, without scaling: a forward and an inverse transform leave the data
// multiplied by the element count.
#pragma once
#include <cstdint>

// Transforms data in place: dims holds the complex count of each of the
// ndims dimensions (each a power of two), sign the sign of the exponent
// (-1 the inverse transform). Returns 0; dimension counts that are not
// powers of two (or below 1) leave the data untouched and return -1.
int fft(float* data, const int32_t* dims, int ndims, int sign);

// The fft command: argument 2 the float array, argument 3 the direction
// (default 1). Returns 0.
int fftcmd();

// Runs body(lo, hi) over [0, n) split into at most 4 parts on worker
// threads when n x cost is large enough to pay for them; the parts are
// disjoint, so the results do not depend on the split.
void parfor(int64_t n, int64_t cost, void (*body)(void* ctx, int64_t lo, int64_t hi), void* ctx);
