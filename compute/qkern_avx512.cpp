// Typed kernels for the avx512 instruction set.
#include <cstddef>
#include <cstdint>

#include <immintrin.h>

#include "compute/qkern.h"
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq"))), apply_to = function)
#else
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq")
#endif
// The 512-bit conversions of the reduction kernels are spelt out.
#define QK_AVX512 1

namespace qk_avx512 {
#include "compute/qkern.inc"
}  // namespace qk_avx512
#if defined(__clang__)
#pragma clang attribute pop
#endif
