// Typed kernels for the avx512 instruction set.
#include <cstddef>
#include <cstdint>

#include "compute/qkern.h"
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512dq")

namespace qk_avx512 {
#include "compute/qkern.inc"
}  // namespace qk_avx512
