// Typed kernels for the avx2 instruction set.
#include <cstddef>
#include <cstdint>

#include "compute/qkern.h"
#pragma GCC target("avx2")

namespace qk_avx2 {
#include "compute/qkern.inc"
}  // namespace qk_avx2
