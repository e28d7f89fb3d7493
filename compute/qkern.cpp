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
void reduce(int w, const void* p, int64_t n, int what, QRedAcc* a);
void serial(int w, const void* p, int64_t n, bool sq, double* sum, double* sumsq);
int64_t find(int w, const void* p, int64_t n, float v, int mode);
void hist(int w, const void* p, int64_t n, uint32_t* h, int32_t nbins);
}  // namespace qk_avx2
namespace qk_avx512 {
void load(int w, const void* s, float* f, int n);
void store(int w, const float* f, void* d, int n, bool nc);
bool binary(int code, const float* a, int sa, const float* b, int sb, float* r, int n);
void intadd(int code, int w, const void* a, const void* b, float v, int which, void* d, int n,
            bool nc);
void reduce(int w, const void* p, int64_t n, int what, QRedAcc* a);
void serial(int w, const void* p, int64_t n, bool sq, double* sum, double* sumsq);
int64_t find(int w, const void* p, int64_t n, float v, int mode);
void hist(int w, const void* p, int64_t n, uint32_t* h, int32_t nbins);
}  // namespace qk_avx512

// The table of one instruction set.
#define QKSET(ns) \
  QKern { ns::load, ns::store, ns::binary, ns::intadd, ns::reduce, ns::serial, ns::find, ns::hist }

const QKern& qkbase() {
  static const QKern k = QKSET(qk_base);
  return k;
}

const QKern& qkern() {
  static const QKern k = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
      return QKSET(qk_avx512);
    if (__builtin_cpu_supports("avx2")) return QKSET(qk_avx2);
    return qkbase();
  }();
  return k;
}
