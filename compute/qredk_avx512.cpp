// Typed reduction kernels for the AVX-512 instruction set.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "compute/qredk.h"
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq"))), apply_to = function)
#else
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq")
#endif

#define QR_AVX512 1
namespace qr_avx512 {
#include "compute/qredk.inc"
}  // namespace qr_avx512
#if defined(__clang__)
#pragma clang attribute pop
#endif
