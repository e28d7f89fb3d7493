// Typed reduction kernels for the AVX2 instruction set (with fused
// multiply-add).
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "compute/qredk.h"
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC target("avx2,fma")
#endif

#define QR_AVX2 1
namespace qr_avx2 {
#include "compute/qredk.inc"
}  // namespace qr_avx2
#if defined(__clang__)
#pragma clang attribute pop
#endif
