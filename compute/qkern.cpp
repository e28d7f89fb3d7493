// Typed kernels for the base instruction set.
#include <cstddef>
#include <cstdint>

#include "compute/qkern.h"


namespace qk_base {
#include "compute/qkern.inc"
}  // namespace qk_base

namespace qk_avx2 {
void load(int w, const void* s, float* f, int n);
void store(int w, const float* f, void* d, int n, bool nc);
bool binary(int code, const float* a, int sa, const float* b, int sb, float* r, int n);
void intadd(int code, int w, const void* a, const void* b, float v, int which, void* d, int n,
            bool nc);
}  // namespace qk_avx2
namespace qk_avx512 {
void load(int w, const void* s, float* f, int n);
void store(int w, const float* f, void* d, int n, bool nc);
bool binary(int code, const float* a, int sa, const float* b, int sb, float* r, int n);
void intadd(int code, int w, const void* a, const void* b, float v, int which, void* d, int n,
            bool nc);
}  // namespace qk_avx512

const QKern& qkbase() {
  static const QKern k{qk_base::load, qk_base::store, qk_base::binary, qk_base::intadd};
  return k;
}

const QKern& qkern() {
  static const QKern k = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
      return QKern{qk_avx512::load, qk_avx512::store, qk_avx512::binary, qk_avx512::intadd};
    if (__builtin_cpu_supports("avx2")) return QKern{qk_avx2::load, qk_avx2::store, qk_avx2::binary, qk_avx2::intadd};
    return qkbase();
  }();
  return k;
}
