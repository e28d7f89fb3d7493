// Typed kernels for the avx2 instruction set.
#include <cstddef>
#include <cstdint>

#include <immintrin.h>

#include "compute/qkern.h"
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif

#define QK_AVX2 1
namespace qk_avx2 {
#include "compute/qkern.inc"
}  // namespace qk_avx2
#if defined(__clang__)
#pragma clang attribute pop
#endif
