// Typed kernels for the avx512 instruction set.
#include <cstddef>
#include <cstdint>

#include "compute/qkern.h"
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq"))), apply_to = function)
#else
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq")
#endif

namespace qk_avx512 {
#include "compute/qkern.inc"
}  // namespace qk_avx512
#if defined(__clang__)
#pragma clang attribute pop
#endif
