// The fast Fourier transform (see fft.h).
//
// The arithmetic is the classic in-place radix-2 transform: twiddle factors
// come from the double-precision recurrence w' = w + w (wpr + i wpi), each
// butterfly's product is rounded to a float, and the data stay floats. The
// loops are arranged for speed without changing any operation: the
// twiddles of a stage are taken from a table filled by that recurrence,
// rows are transformed in split real/imaginary form, and strided dimensions
// are transformed in tiles of columns that stay in cache. The butterflies
// of one stage are independent, so their order and the split over threads
// change no result.
#include "compute/fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "compute/cores.h"
#include "compute/expr.h"
#include "compute/opstream.h"
#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"

void parfor(int64_t n, int64_t cost, void (*body)(void*, int64_t, int64_t), void* ctx) {
  if (n <= 0) return;
  int np = 1;
  if (n > 1 && n * cost >= (int64_t(1) << 20)) {
    unsigned hw = std::thread::hardware_concurrency();
    np = static_cast<int>(std::min<int64_t>({4, n, hw ? hw : 1}));
  }
  if (np <= 1) {
    body(ctx, 0, n);
    return;
  }
  parts(np, [&](int k) { body(ctx, n * k / np, n * (k + 1) / np); });
}

namespace {

// Twiddles of every stage of an n-point transform: stage h (the half size,
// 1, 2, 4, ... n/2) keeps its h factors at [h, 2h).
struct Twid {
  std::vector<double> wr, wi;
};

void mktwid(Twid& tw, int32_t n, int sign) {
  tw.wr.assign(static_cast<size_t>(n), 0.0);
  tw.wi.assign(static_cast<size_t>(n), 0.0);
  const float s = static_cast<float>(sign * 6.28318530717959);
  for (int32_t h = 1; h < n; h *= 2) {
    double theta = static_cast<double>(s / static_cast<float>(2 * h));
    double wtemp = std::sin(0.5 * theta);
    double wpr = -2.0 * wtemp * wtemp;
    double wpi = std::sin(theta);
    double wr = 1.0, wi = 0.0;
    for (int32_t j = 0; j < h; j++) {
      tw.wr[static_cast<size_t>(h + j)] = wr;
      tw.wi[static_cast<size_t>(h + j)] = wi;
      wtemp = wr;
      wr = wr * wpr - wi * wpi + wr;
      wi = wi * wpr + wtemp * wpi + wi;
    }
  }
}

// Bit-reversed index of every k below n.
std::vector<int32_t> mkrev(int32_t n) {
  std::vector<int32_t> rev(static_cast<size_t>(n), 0);
  int bits = 0;
  while ((int32_t(1) << bits) < n) bits++;
  for (int32_t k = 0; k < n; k++) {
    int32_t r = 0;
    for (int b = 0; b < bits; b++)
      if (k & (int32_t(1) << b)) r |= int32_t(1) << (bits - 1 - b);
    rev[static_cast<size_t>(k)] = r;
  }
  return rev;
}

// One butterfly stage over split arrays: pairs (a, a + h) of every block
// of 2h, twiddle j at a = block + j.
__attribute__((target_clones("avx2", "default"))) void stgsplit(
    float* __restrict re, float* __restrict im, int32_t n, int32_t h,
    const double* __restrict wr, const double* __restrict wi) {
  for (int32_t blk = 0; blk < n; blk += 2 * h) {
    float* __restrict ar = re + blk;
    float* __restrict ai = im + blk;
    float* __restrict br = re + blk + h;
    float* __restrict bi = im + blk + h;
    for (int32_t j = 0; j < h; j++) {
      double xr = br[j], xi = bi[j];
      float tr = static_cast<float>(wr[j] * xr - wi[j] * xi);
      float ti = static_cast<float>(wr[j] * xi + wi[j] * xr);
      br[j] = ar[j] - tr;
      bi[j] = ai[j] - ti;
      ar[j] = ar[j] + tr;
      ai[j] = ai[j] + ti;
    }
  }
}

// One butterfly of two interleaved rows of m complex values with one twiddle.
__attribute__((target_clones("avx2", "default"))) void bfrows(float* __restrict a,
                                                             float* __restrict b, int32_t m,
                                                             double wr, double wi) {
  for (int32_t q = 0; q < 2 * m; q += 2) {
    double xr = b[q], xi = b[q + 1];
    float tr = static_cast<float>(wr * xr - wi * xi);
    float ti = static_cast<float>(wr * xi + wi * xr);
    b[q] = a[q] - tr;
    b[q + 1] = a[q + 1] - ti;
    a[q] = a[q] + tr;
    a[q + 1] = a[q + 1] + ti;
  }
}

struct Job {
  float* data;
  int32_t n;        // complex count of the dimension
  int64_t nprev;    // complex stride between its elements
  int64_t nrem;     // independent transforms along the slower dimensions
  const Twid* tw;
  const std::vector<int32_t>* rev;
};

// Contiguous transforms (stride 1): rows lo .. hi - 1.
void rowjob(void* ctx, int64_t lo, int64_t hi) {
  const Job& j = *static_cast<const Job*>(ctx);
  int32_t n = j.n;
  std::vector<float> re(static_cast<size_t>(n)), im(static_cast<size_t>(n));
  const int32_t* rev = j.rev->data();
  for (int64_t r = lo; r < hi; r++) {
    float* row = j.data + r * 2 * n;
    for (int32_t k = 0; k < n; k++) {
      int32_t s = rev[k];
      re[static_cast<size_t>(k)] = row[2 * s];
      im[static_cast<size_t>(k)] = row[2 * s + 1];
    }
    for (int32_t h = 1; h < n; h *= 2)
      stgsplit(re.data(), im.data(), n, h, j.tw->wr.data() + h, j.tw->wi.data() + h);
    for (int32_t k = 0; k < n; k++) {
      row[2 * k] = re[static_cast<size_t>(k)];
      row[2 * k + 1] = im[static_cast<size_t>(k)];
    }
  }
}

// Strided transforms: the work items are (transform, tile of columns).
constexpr int64_t TILE = 32;  // complex columns of one tile

void coljob(void* ctx, int64_t lo, int64_t hi) {
  const Job& j = *static_cast<const Job*>(ctx);
  int32_t n = j.n;
  int64_t tiles = (j.nprev + TILE - 1) / TILE;
  for (int64_t w = lo; w < hi; w++) {
    int64_t r = w / tiles, p0 = (w % tiles) * TILE;
    int32_t m = static_cast<int32_t>(std::min<int64_t>(TILE, j.nprev - p0));
    float* base = j.data + r * 2 * static_cast<int64_t>(n) * j.nprev + 2 * p0;
    auto row = [&](int64_t k) { return base + 2 * k * j.nprev; };
    const int32_t* rev = j.rev->data();
    for (int32_t k = 0; k < n; k++) {
      int32_t s = rev[k];
      if (k < s) {
        float* a = row(k);
        float* b = row(s);
        for (int32_t q = 0; q < 2 * m; q++) std::swap(a[q], b[q]);
      }
    }
    for (int32_t h = 1; h < n; h *= 2) {
      const double* wr = j.tw->wr.data() + h;
      const double* wi = j.tw->wi.data() + h;
      for (int32_t blk = 0; blk < n; blk += 2 * h)
        for (int32_t q = 0; q < h; q++) bfrows(row(blk + q), row(blk + q + h), m, wr[q], wi[q]);
    }
  }
}

bool pow2(int64_t v) { return v >= 1 && (v & (v - 1)) == 0; }

void trcfft(const char* head, const float* d, int64_t count) {
  float v[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (int k = 0; k < 8 && k < count; k++) v[k] = d[k];
  jprintf(dbglun, "%s %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f\n", head, v[0], v[1], v[2],
          v[3], v[4], v[5], v[6], v[7]);
}

}  // namespace

int fft(float* data, const int32_t* dims, int ndims, int sign) {
  if (!data || !dims || ndims < 1) return -1;
  int64_t ntot = 1;
  for (int k = 0; k < ndims; k++) {
    if (!pow2(dims[k])) return -1;
    ntot *= dims[k];
  }
  bool trc = (trcmsk & 0x18) == 0x18;
  if (trc) {
    jprintf(dbglun, "fft(,&%ld,%d,%d)\n", static_cast<long>(dims[0]), ndims, sign);
    trcfft(" FFT:", data, 2 * ntot);
  }
  int64_t nprev = 1;
  for (int k = ndims - 1; k >= 0; k--) {
    int32_t n = dims[k];
    int64_t nrem = ntot / (n * nprev);
    if (n > 1) {
      Twid tw;
      mktwid(tw, n, sign);
      std::vector<int32_t> rev = mkrev(n);
      Job j{data, n, nprev, nrem, &tw, &rev};
      int64_t logn = 0;
      while ((int64_t(1) << logn) < n) logn++;
      if (nprev == 1) {
        parfor(nrem, n * logn, rowjob, &j);
      } else {
        int64_t tiles = (nprev + TILE - 1) / TILE;
        parfor(nrem * tiles, TILE * n * logn, coljob, &j);
      }
    }
    nprev *= n;
  }
  if (trc) trcfft(" -->:", data, 2 * ntot);
  return 0;
}

int fftcmd() {
  int32_t h = 0;
  int kind = argtyp(2, &h);
  PtrRec* r = h > 0 ? ptrrec(h) : nullptr;
  if (!r || !(kind & 0x7C0)) {
    error(2, 147);
    return 0;
  }
  int32_t cnt, part, tot, ws;
  kind = gtvarb(r, &cnt, &part, &tot, &ws, 1);
  if (state & ST_ERROR) return 0;
  // All items must be reachable at once: one run of memory.
  auto* p = reinterpret_cast<float*>(contig(r, cnt));
  if (ws != W_FLOAT || cnt < 1 || !p) {
    error(2, 70);
    return 0;
  }
  int sign = intarg(3, 1);
  int nd = std::clamp<int>(r->Ndims, 1, 3);
  int32_t dims[3] = {1, 1, 1};
  int64_t x = nd == 1 ? cnt : static_cast<int64_t>(r->Offs[3]);
  dims[0] = static_cast<int32_t>(x / 2);
  for (int k = 1; k < nd; k++) dims[k] = static_cast<int32_t>(r->Offs[3 + k]);
  // Every count must be a power of two, and the x extent whole pairs.
  bool ok = x % 2 == 0;
  int64_t prod = 1;
  for (int k = 0; k < nd; k++) {
    ok = ok && pow2(dims[k]);
    prod *= dims[k];
  }
  if (!ok || 2 * prod != cnt) {
    error(2, 70);
    return 0;
  }
  fft(p, dims, nd, sign);
  DMPVRB(r, &part, 0, 0);
  return 0;
}
