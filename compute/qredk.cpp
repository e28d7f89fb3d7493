// Typed reduction kernels for the base instruction set, and the choice of
// the widest set the processor runs.
#include "compute/qredk.h"

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

uint64_t qrruns[QW_N];

namespace qr_base {
#include "compute/qredk.inc"
}  // namespace qr_base

#define QR_DECL                                                                     \
  void reduce(int w, const void* p, int64_t n, int what, RAcc* a);                  \
  void seqsum(int w, const void* p, int64_t n, bool sq, RAcc* a);                   \
  void runsum(const float* p, int64_t n, int r, RunSum* o, int64_t* missing);       \
  int64_t runadd(const RunSum* o, const float* p, int64_t n, int r, RAcc* a);       \
  void gridrun(const float* p, int64_t n, int r, double s0, double rate, GridRun* o, int64_t* missing); \
  int64_t gridadd(const GridRun* o, const float* p, int64_t n, int r, RAcc* a);     \
  void serial(int w, const void* p, int64_t n, bool sq, double* sum, double* sumsq); \
  void devsq(int w, const void* p, int64_t n, double mean, int64_t k0, double* dev); \
  int64_t find(int w, const void* p, int64_t n, float v, int mode);                 \
  void hist(int w, const void* p, int64_t n, uint32_t* h, int32_t nbins);
namespace qr_avx2 {
QR_DECL
}  // namespace qr_avx2
namespace qr_avx512 {
QR_DECL
}  // namespace qr_avx512

// The table of one instruction set.
#define QRSET(ns) \
  QRKern { ns::reduce, ns::seqsum, ns::runsum, ns::runadd, ns::gridrun, ns::gridadd, ns::serial, ns::devsq, ns::find, ns::hist }

const QRKern& qrbase() {
  static const QRKern k = QRSET(qr_base);
  return k;
}

const QRKern& qredk() {
  static const QRKern k = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
      return QRSET(qr_avx512);
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return QRSET(qr_avx2);
    return qrbase();
  }();
  return k;
}
