// convolve and filter (see filter.h).
//
// The source is read row by row into padded row buffers (the row's first
// and last pixels replicated into the margins), and each output row is
// computed from the kh rows of its window: p = kh - 1 - hy rows above the
// output row and hy below it. Rows above the image repeat its first row and
// rows below it its last row, for every window height.
//
// Two ways give the same results. The streamed way reads the source
// through the element access, keeps kh rotating row buffers and applies
// the per-pixel rules as written; it serves masks, traces and data that is
// not in one piece. The band way reads a source held whole in memory into
// a destination held whole, splits the output rows over a few threads and
// computes each row with vectorised kernels.
#include "compute/filter.h"

// The kernels below are plain loops over a row; they are vectorised (built
// with -O3 and without errno from roots, see CMakeLists.txt).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <immintrin.h>

#include "compute/arith.h"
#include "compute/cores.h"
#include "compute/expr.h"
#include "compute/func.h"
#include "compute/opstream.h"
#include "compute/qarith.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "ui/events.h"

#define KERN __attribute__((target_clones("avx2", "default")))

namespace {

// Flags per filter kind: 1 binarise the input rows against the maximum,
// 2 gather the window, 4 the kind writes its output itself.
constexpr uint8_t KFLAG[13] = {2, 2, 2, 2, 2, 2, 1, 1, 4, 1, 1, 0, 0};

struct Conv {
  int code;          // 269 convolve, 271 filter
  int kind;          // filter kind
  int kw, kh, hx, hy;
  int32_t nx, ny;
  std::vector<int32_t> kern;  // kw x kh, row by row from the top
  int32_t add, mn, mx, shift, tol;
  bool bin;          // binarise the input rows
  bool trc;          // trace the windows and sums (trace mask bits 8 and 16)
};

// Post-processing of one value.
inline int32_t post(const Conv& c, int32_t v) {
  if (c.shift > 0) v >>= std::min(c.shift, 31);
  if (c.add) v = static_cast<int32_t>(static_cast<uint32_t>(v) + static_cast<uint32_t>(c.add));
  if (c.mx && v > c.mx) v = c.mx;
  if (v < c.mn) v = c.mn;
  return v;
}

// Fills a padded row buffer of nx + kw - 1 bytes whose pixels (from byte hx
// on) are in place: binarises them and replicates the edges.
void padrow(const Conv& c, uint8_t* b) {
  uint8_t* p = b + c.hx;
  if (c.bin)
    for (int32_t x = 0; x < c.nx; x++) p[x] = p[x] >= c.mx ? 1 : 0;
  for (int i = 0; i < c.hx; i++) b[i] = p[0];
  for (int i = c.hx + c.nx; i < c.nx + c.kw - 1; i++) b[i] = p[c.nx - 1];
}

// The source row that window row i stands for (i counted as the streamed
// way reads: slot j of output row y is row y - p + j): rows past the edges
// repeat the first and last rows.
int32_t wrow(const Conv& c, int64_t i) {
  return static_cast<int32_t>(std::clamp<int64_t>(i, 0, c.ny - 1));
}

// --- the per-pixel rules -------------------------------------------------

// The gathered window (its first nine values) on the debug unit.
void trcgat(const char* head, int32_t x, const uint8_t* g, int n, const float* r) {
  int v[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int k = 0; k < 9 && k < n; k++) v[k] = g[k];
  if (r)
    jprintf(dbglun, "%s (%d): %3d %3d %3d %3d %3d %3d %3d %3d %3d-> %5.2f\n", head, x, v[0], v[1],
            v[2], v[3], v[4], v[5], v[6], v[7], v[8], *r);
  else
    jprintf(dbglun, "%s (%d): %3d %3d %3d %3d %3d %3d %3d %3d %3d\n", head, x, v[0], v[1], v[2],
            v[3], v[4], v[5], v[6], v[7], v[8]);
}

int32_t isqrt(double v) { return v > 0 ? static_cast<int32_t>(std::sqrt(v)) : 0; }

// Standard deviation of n values with the given sum and sum of squares,
// in floats.
int32_t stdev(int64_t sum, int64_t sq, int n) {
  float fn = static_cast<float>(n);
  float fs = static_cast<float>(sum);
  float var = (static_cast<float>(sq) - fs * fs / fn) / fn;
  return var > 0 ? static_cast<int32_t>(std::sqrt(var)) : 0;
}

// One output row by the rules, pixel by pixel, before post-processing.
void refrow(const Conv& c, const uint8_t* const* rows, int32_t nx, int32_t* acc, uint8_t* gat) {
  const int n = c.kw * c.kh;
  const uint8_t* ctr = rows[c.hy] + c.hx;
  for (int32_t x = 0; x < nx; x++) {
    int32_t v = 0;
    int32_t cv = ctr[x];
    if (c.code == 269) {
      // Products of a byte and a 16-bit weight; sums wrap as 32-bit values.
      uint32_t s = 0;
      for (int j = 0; j < c.kh; j++)
        for (int i = 0; i < c.kw; i++)
          s += static_cast<uint32_t>(c.kern[static_cast<size_t>(j * c.kw + i)]) * rows[j][x + i];
      acc[x] = static_cast<int32_t>(s);
      continue;
    }
    switch (c.kind) {
      case 0:
      case 1: {
        int32_t m = c.kind == 0 ? 0 : 255;
        for (int j = 0; j < c.kh; j++)
          for (int i = 0; i < c.kw; i++) {
            int32_t p = rows[j][x + i];
            m = c.kind == 0 ? std::max(m, p) : std::min(m, p);
          }
        v = m;
        break;
      }
      case 2:
      case 3:
      case 4: {
        int32_t lo = 255, hi = 0;
        int64_t s = 0, q = 0;
        for (int j = 0; j < c.kh; j++)
          for (int i = 0; i < c.kw; i++) {
            int32_t p = rows[j][x + i];
            lo = std::min(lo, p);
            hi = std::max(hi, p);
            s += p;
            q += p * p;
          }
        if (c.kind == 3) {
          v = static_cast<int32_t>(s / n);
          break;
        }
        int32_t sd = stdev(s, q, n);
        if (c.kind == 4) {
          v = sd;
        } else {
          int32_t l = std::max(lo - 2 * sd, 0), h = std::min(hi + 2 * sd, 255);
          v = (cv - lo) * (h - l + 1) / (hi - lo + 1) + l;
        }
        break;
      }
      case 5: {
        int k = 0;
        for (int j = c.kh - 1; j >= 0; j--)
          for (int i = 0; i < c.kw; i++) gat[k++] = rows[j][x + i];
        if (c.trc) {
          trcgat("conv 1", x, gat, n, nullptr);
          std::sort(gat, gat + n);
          v = gat[n / 2];
          float r = static_cast<float>(v);
          trcgat("conv 2", x, gat, n, &r);
          break;
        }
        std::nth_element(gat, gat + n / 2, gat + n);
        v = gat[n / 2];
        break;
      }
      case 8: {
        const uint8_t *a = rows[0] + x, *b = rows[1] + x, *d = rows[2] + x;
        int32_t gy = (a[0] + 2 * a[1] + a[2]) - (d[0] + 2 * d[1] + d[2]);
        int32_t gx = (a[0] + 2 * b[0] + d[0]) - (a[2] + 2 * b[2] + d[2]);
        v = isqrt(static_cast<double>(gx * gx + gy * gy));
        break;
      }
      case 11: {
        if (cv) {
          v = cv;
          break;
        }
        int32_t s = 0, m = 0;
        for (int j = 0; j < c.kh; j++)
          for (int i = 0; i < c.kw; i++) {
            int32_t p = rows[j][x + i];
            if (p) {
              s += p;
              m++;
            }
          }
        v = m ? s / m : 0;
        break;
      }
      case 12: {
        int32_t s = 0, m = 0;
        for (int j = 0; j < c.kh; j++)
          for (int i = 0; i < c.kw; i++) {
            int32_t p = rows[j][x + i];
            bool centre = j == c.hy && i == c.hx;
            if (centre || (cv - p >= -c.tol && cv - p <= c.tol)) {
              s += p;
              m++;
            }
          }
        v = s / m;
        break;
      }
      default:
        // Kinds that only binarise their input give the centre pixel.
        v = cv;
        break;
    }
    acc[x] = v;
  }
}

// --- vectorised kernels --------------------------------------------------
//
// Each computes nx output values of a row from the kh rows of its windows
// (output x reads items x .. x + kw - 1 of each; w = nx + kw - 1), into
// acc as integers, or straight into bytes ob when the post-processing
// leaves the values as they are. Integer sums are exact; the
// float quotients and roots below give the integer results of the rules
// (checked for every operand in the ranges they meet).

// Per-thread work buffers.
struct Work {
  std::vector<int32_t> acc;
  std::vector<uint32_t> cs, cq, ws, wq;
  std::vector<uint16_t> s16, z16;
  std::vector<uint8_t> clo, chi, lo, mi, hi, gat;
  std::vector<uint16_t> hist;
  void size(const Conv& c) {
    size_t w = static_cast<size_t>(c.nx + c.kw - 1);
    acc.resize(static_cast<size_t>(c.nx));
    for (auto* v : {&cs, &cq, &ws, &wq}) v->resize(w);
    for (auto* v : {&s16, &z16}) v->resize(w);
    for (auto* v : {&clo, &chi, &lo, &mi, &hi}) v->resize(w);
    gat.resize(static_cast<size_t>(c.kw * c.kh));
    hist.resize(256);
  }
};

// The largest (kind 0) or smallest pixel of each window: columns first,
// then kw neighbouring columns, up to five rows or columns in one pass.
KERN void extrow(const uint8_t* const* rows, int kh, int kw, int32_t nx, bool big,
                 uint8_t* __restrict col, uint8_t* __restrict o, int32_t* __restrict acc,
                 bool wide) {
  const int32_t w = nx + kw - 1;
  auto ext = [big](uint8_t a, uint8_t b) -> uint8_t { return big ? (a > b ? a : b) : (a < b ? a : b); };
  // Columns: the first pass takes up to five rows, each further pass up to
  // four more into the columns made so far.
  int j = std::min(kh, 5);
  {
    const uint8_t *__restrict r0 = rows[0], *__restrict r1 = rows[j > 1 ? 1 : 0],
                  *__restrict r2 = rows[j > 2 ? 2 : 0], *__restrict r3 = rows[j > 3 ? 3 : 0],
                  *__restrict r4 = rows[j > 4 ? 4 : 0];
    for (int32_t x = 0; x < w; x++) col[x] = ext(ext(ext(r0[x], r1[x]), ext(r2[x], r3[x])), r4[x]);
  }
  for (; j < kh; j += 4) {
    const int m = std::min(kh - j, 4);
    const uint8_t *__restrict p0 = rows[j], *__restrict p1 = rows[j + (m > 1 ? 1 : 0)],
                  *__restrict p2 = rows[j + (m > 2 ? 2 : 0)], *__restrict p3 = rows[j + (m > 3 ? 3 : 0)];
    for (int32_t x = 0; x < w; x++) col[x] = ext(ext(col[x], p0[x]), ext(ext(p1[x], p2[x]), p3[x]));
  }
  // Neighbouring columns the same way.
  int i = std::min(kw, 5);
  {
    const uint8_t *__restrict c1 = col + (i > 1 ? 1 : 0), *__restrict c2 = col + (i > 2 ? 2 : 0),
                  *__restrict c3 = col + (i > 3 ? 3 : 0), *__restrict c4 = col + (i > 4 ? 4 : 0);
    for (int32_t x = 0; x < nx; x++) o[x] = ext(ext(ext(col[x], c1[x]), ext(c2[x], c3[x])), c4[x]);
  }
  for (; i < kw; i += 4) {
    const int m = std::min(kw - i, 4);
    const uint8_t *__restrict q0 = col + i, *__restrict q1 = col + i + (m > 1 ? 1 : 0),
                  *__restrict q2 = col + i + (m > 2 ? 2 : 0), *__restrict q3 = col + i + (m > 3 ? 3 : 0);
    for (int32_t x = 0; x < nx; x++) o[x] = ext(ext(o[x], q0[x]), ext(ext(q1[x], q2[x]), q3[x]));
  }
  if (wide)
    for (int32_t x = 0; x < nx; x++) acc[x] = o[x];
}

// Sums of M rows of bytes (added to what col holds when ACC) into 16-bit
// columns, one pass.
template <int M, bool ACC>
[[gnu::always_inline]] inline void addrows(const uint8_t* const* rows, int32_t w, uint16_t* __restrict col) {
  const uint8_t *__restrict p0 = rows[0], *__restrict p1 = rows[M > 1 ? 1 : 0],
                *__restrict p2 = rows[M > 2 ? 2 : 0], *__restrict p3 = rows[M > 3 ? 3 : 0];
  for (int32_t x = 0; x < w; x++) {
    uint16_t v = ACC ? col[x] : 0;
    v = static_cast<uint16_t>(v + p0[x]);
    if (M > 1) v = static_cast<uint16_t>(v + p1[x]);
    if (M > 2) v = static_cast<uint16_t>(v + p2[x]);
    if (M > 3) v = static_cast<uint16_t>(v + p3[x]);
    col[x] = v;
  }
}

// Sums of M neighbouring 16-bit columns (added to what sum holds when ACC),
// one pass; the last pass gives the quotients by fn into bytes ob or acc.
template <int M, bool ACC, int OUT>
[[gnu::always_inline]] inline void addcols(const uint16_t* __restrict col, int32_t nx, uint16_t* __restrict sum,
                                           float fn, int32_t* __restrict acc, uint8_t* __restrict ob) {
  const uint16_t *__restrict q0 = col, *__restrict q1 = col + (M > 1 ? 1 : 0), *__restrict q2 = col + (M > 2 ? 2 : 0),
                 *__restrict q3 = col + (M > 3 ? 3 : 0);
  for (int32_t x = 0; x < nx; x++) {
    uint16_t v = ACC ? sum[x] : 0;
    v = static_cast<uint16_t>(v + q0[x]);
    if (M > 1) v = static_cast<uint16_t>(v + q1[x]);
    if (M > 2) v = static_cast<uint16_t>(v + q2[x]);
    if (M > 3) v = static_cast<uint16_t>(v + q3[x]);
    if (OUT == 0)
      sum[x] = v;
    else if (OUT == 1)
      ob[x] = static_cast<uint8_t>(static_cast<float>(v) / fn);
    else
      acc[x] = static_cast<int32_t>(static_cast<float>(v) / fn);
  }
}

// The mean of windows of at most 257 pixels (sums below 65536): column
// sums and window sums in 16-bit lanes, up to four rows or columns a pass,
// the last pass giving the integer quotient (exact through floats for
// these sums).
KERN void meanrow(const uint8_t* const* rows, int kh, int kw, int32_t nx, uint16_t* __restrict col,
                  uint16_t* __restrict sum, int32_t* __restrict acc, uint8_t* __restrict ob) {
  const int32_t w = nx + kw - 1;
  for (int j = 0; j < kh; j += 4) {
    const uint8_t* const* r = rows + j;
    switch ((std::min(kh - j, 4) - 1) * 2 + (j > 0)) {
      case 0: addrows<1, false>(r, w, col); break;
      case 1: addrows<1, true>(r, w, col); break;
      case 2: addrows<2, false>(r, w, col); break;
      case 3: addrows<2, true>(r, w, col); break;
      case 4: addrows<3, false>(r, w, col); break;
      case 5: addrows<3, true>(r, w, col); break;
      case 6: addrows<4, false>(r, w, col); break;
      default: addrows<4, true>(r, w, col); break;
    }
  }
  const float fn = static_cast<float>(kw * kh);
  for (int i = 0; i < kw; i += 4) {
    const int m = std::min(kw - i, 4);
    const uint16_t* c = col + i;
    if (i + m < kw) {
      switch ((m - 1) * 2 + (i > 0)) {
        case 6: addcols<4, false, 0>(c, nx, sum, fn, acc, ob); break;
        default: addcols<4, true, 0>(c, nx, sum, fn, acc, ob); break;
      }
      continue;
    }
    const int out = ob ? 1 : 2;
    switch (((m - 1) * 2 + (i > 0)) * 2 + (out - 1)) {
      case 0: addcols<1, false, 1>(c, nx, sum, fn, acc, ob); break;
      case 1: addcols<1, false, 2>(c, nx, sum, fn, acc, ob); break;
      case 2: addcols<1, true, 1>(c, nx, sum, fn, acc, ob); break;
      case 3: addcols<1, true, 2>(c, nx, sum, fn, acc, ob); break;
      case 4: addcols<2, false, 1>(c, nx, sum, fn, acc, ob); break;
      case 5: addcols<2, false, 2>(c, nx, sum, fn, acc, ob); break;
      case 6: addcols<2, true, 1>(c, nx, sum, fn, acc, ob); break;
      case 7: addcols<2, true, 2>(c, nx, sum, fn, acc, ob); break;
      case 8: addcols<3, false, 1>(c, nx, sum, fn, acc, ob); break;
      case 9: addcols<3, false, 2>(c, nx, sum, fn, acc, ob); break;
      case 10: addcols<3, true, 1>(c, nx, sum, fn, acc, ob); break;
      case 11: addcols<3, true, 2>(c, nx, sum, fn, acc, ob); break;
      case 12: addcols<4, false, 1>(c, nx, sum, fn, acc, ob); break;
      case 13: addcols<4, false, 2>(c, nx, sum, fn, acc, ob); break;
      case 14: addcols<4, true, 1>(c, nx, sum, fn, acc, ob); break;
      default: addcols<4, true, 2>(c, nx, sum, fn, acc, ob); break;
    }
  }
}

// Window sums of the pixels (s) and of their squares (q), 32 bits, and the
// window minimum and maximum when mm.
KERN void sumrow(const uint8_t* const* rows, int kh, int kw, int32_t nx, bool mm,
                 uint32_t* __restrict cs, uint32_t* __restrict cq, uint8_t* __restrict clo,
                 uint8_t* __restrict chi, uint32_t* __restrict s, uint32_t* __restrict q,
                 uint8_t* __restrict lo, uint8_t* __restrict hi) {
  const int32_t w = nx + kw - 1;
  for (int32_t x = 0; x < w; x++) {
    uint32_t v = rows[0][x];
    cs[x] = v;
    cq[x] = v * v;
    clo[x] = chi[x] = rows[0][x];
  }
  for (int j = 1; j < kh; j++) {
    const uint8_t* __restrict p = rows[j];
    for (int32_t x = 0; x < w; x++) {
      uint32_t v = p[x];
      cs[x] += v;
      cq[x] += v * v;
    }
    if (mm)
      for (int32_t x = 0; x < w; x++) {
        clo[x] = p[x] < clo[x] ? p[x] : clo[x];
        chi[x] = p[x] > chi[x] ? p[x] : chi[x];
      }
  }
  for (int32_t x = 0; x < nx; x++) {
    s[x] = cs[x];
    q[x] = cq[x];
    lo[x] = clo[x];
    hi[x] = chi[x];
  }
  for (int i = 1; i < kw; i++) {
    for (int32_t x = 0; x < nx; x++) {
      s[x] += cs[x + i];
      q[x] += cq[x + i];
    }
    if (mm)
      for (int32_t x = 0; x < nx; x++) {
        lo[x] = clo[x + i] < lo[x] ? clo[x + i] : lo[x];
        hi[x] = chi[x + i] > hi[x] ? chi[x + i] : hi[x];
      }
  }
}

// The standard deviation (kind 4) or the local stretch (kind 2) from the
// window sums, in the rules' float and integer steps (n at most 257: the
// sums of squares stay below 2^24, the stretch quotient below 2^16).
KERN void sdrow(int n, bool stretch, int32_t nx, const uint8_t* __restrict ctr,
                const uint32_t* __restrict s, const uint32_t* __restrict q,
                const uint8_t* __restrict lo, const uint8_t* __restrict hi, int32_t* __restrict acc) {
  const float fn = static_cast<float>(n);
  for (int32_t x = 0; x < nx; x++) {
    float fs = static_cast<float>(s[x]);
    float var = (static_cast<float>(q[x]) - fs * fs / fn) / fn;
    int32_t sd = var > 0 ? static_cast<int32_t>(std::sqrt(var)) : 0;
    int32_t l0 = lo[x], h0 = hi[x];
    int32_t l = l0 - 2 * sd > 0 ? l0 - 2 * sd : 0, h = h0 + 2 * sd < 255 ? h0 + 2 * sd : 255;
    float num = static_cast<float>((ctr[x] - l0) * (h - l + 1));
    int32_t st = static_cast<int32_t>(num / static_cast<float>(h0 - l0 + 1)) + l;
    acc[x] = stretch ? st : sd;
  }
}

// The median of 3 x 3 windows: each padded column of three sorted once
// (shared by the three windows it belongs to), then the median of the
// largest of the smallest, the middle of the middles and the smallest of
// the largest.
KERN void med3row(const uint8_t* const* rows, int32_t nx, uint8_t* __restrict lo,
                  uint8_t* __restrict mi, uint8_t* __restrict hi, int32_t* __restrict acc,
                  uint8_t* __restrict ob) {
  const uint8_t *__restrict r0 = rows[0], *__restrict r1 = rows[1], *__restrict r2 = rows[2];
  const int32_t w = nx + 2;
  for (int32_t x = 0; x < w; x++) {
    uint8_t a = r0[x], b = r1[x], d = r2[x];
    uint8_t l = a < b ? a : b, h = a < b ? b : a;
    uint8_t m = h < d ? h : d;
    h = h < d ? d : h;
    lo[x] = l < m ? l : m;
    mi[x] = l < m ? m : l;
    hi[x] = h;
  }
  for (int32_t x = 0; x < nx; x++) {
    uint8_t a = lo[x] > lo[x + 1] ? lo[x] : lo[x + 1];
    a = a > lo[x + 2] ? a : lo[x + 2];
    uint8_t d = hi[x] < hi[x + 1] ? hi[x] : hi[x + 1];
    d = d < hi[x + 2] ? d : hi[x + 2];
    uint8_t p = mi[x], r = mi[x + 1], t = mi[x + 2];
    uint8_t pl = p < r ? p : r, ph = p < r ? r : p, pt = ph < t ? ph : t;
    uint8_t b = pl > pt ? pl : pt;
    uint8_t al = a < b ? a : b, ah = a < b ? b : a;
    uint8_t e = ah < d ? ah : d;
    lo[x] = al > e ? al : e;
  }
  if (ob)
    std::memcpy(ob, lo, static_cast<size_t>(nx));
  else
    for (int32_t x = 0; x < nx; x++) acc[x] = lo[x];
}

// A compare-exchange of two wires of a selection network: the smaller
// value to the first, the larger to the second (LO and HI keep one side).
#define CE(a, b)                      \
  {                                   \
    uint8_t t_ = v[a] < v[b] ? v[a] : v[b]; \
    v[b] = v[a] < v[b] ? v[b] : v[a]; \
    v[a] = t_;                        \
  }
#define LO(a, b) v[a] = v[a] < v[b] ? v[a] : v[b];
#define HI(a, b) v[b] = v[a] < v[b] ? v[b] : v[a];

// The median of 5 x 5 windows: a selection network of 113 comparators for
// the 13th of 25 values (an odd-even merge sort of 32, pruned to what the
// middle output needs).
KERN void med5row(const uint8_t* const* rows, int32_t nx, uint8_t* __restrict out) {
  const uint8_t *__restrict r0 = rows[0], *__restrict r1 = rows[1], *__restrict r2 = rows[2],
                *__restrict r3 = rows[3], *__restrict r4 = rows[4];
  for (int32_t x = 0; x < nx; x++) {
    uint8_t v[25];
    for (int i = 0; i < 5; i++) {
      v[i] = r0[x + i];
      v[5 + i] = r1[x + i];
      v[10 + i] = r2[x + i];
      v[15 + i] = r3[x + i];
      v[20 + i] = r4[x + i];
    }
    CE(0, 1); CE(2, 3); CE(4, 5); CE(6, 7); CE(8, 9); CE(10, 11);
    CE(12, 13); CE(14, 15); CE(16, 17); CE(18, 19); CE(20, 21); CE(22, 23);
    CE(0, 2); CE(1, 3); CE(4, 6); CE(5, 7); CE(8, 10); CE(9, 11);
    CE(12, 14); CE(13, 15); CE(16, 18); CE(17, 19); CE(20, 22); CE(21, 23);
    CE(1, 2); CE(5, 6); CE(9, 10); CE(13, 14); CE(17, 18); CE(21, 22);
    CE(0, 4); CE(1, 5); CE(2, 6); CE(3, 7); CE(8, 12); CE(9, 13);
    CE(10, 14); CE(11, 15); CE(16, 20); CE(17, 21); CE(18, 22); CE(19, 23);
    CE(2, 4); CE(3, 5); CE(10, 12); CE(11, 13); CE(18, 20); CE(19, 21);
    CE(1, 2); CE(3, 4); CE(5, 6); CE(9, 10); CE(11, 12); CE(13, 14);
    CE(17, 18); CE(19, 20); CE(21, 22); CE(0, 8); CE(1, 9); CE(2, 10);
    CE(3, 11); CE(4, 12); CE(5, 13); CE(6, 14); LO(7, 15); CE(16, 24);
    CE(4, 8); CE(5, 9); CE(6, 10); CE(7, 11); CE(20, 24); CE(2, 4);
    CE(3, 5); CE(6, 8); CE(7, 9); CE(10, 12); CE(11, 13); CE(18, 20);
    CE(19, 21); CE(22, 24); CE(1, 2); CE(3, 4); CE(5, 6); CE(7, 8);
    CE(9, 10); CE(11, 12); LO(13, 14); CE(17, 18); CE(19, 20); CE(21, 22);
    CE(23, 24); HI(0, 16); HI(1, 17); HI(2, 18); HI(3, 19); HI(4, 20);
    HI(5, 21); LO(6, 22); LO(7, 23); LO(8, 24); HI(8, 16); HI(9, 17);
    LO(10, 18); LO(11, 19); LO(12, 20); LO(13, 21); HI(6, 10); HI(7, 11);
    LO(12, 16); LO(13, 17); HI(10, 12); LO(11, 13); HI(11, 12);
    out[x] = v[12];
  }
}

#undef CE
#undef LO
#undef HI

// The median of other windows: a histogram of the window slides along the
// row (a column leaves, a column enters), and the median follows from the
// count of values below it.
void histmed(const Conv& c, const uint8_t* const* rows, int32_t nx, uint16_t* h, uint8_t* out) {
  const int32_t rank = c.kw * c.kh / 2;
  std::fill(h, h + 256, 0);
  for (int j = 0; j < c.kh; j++)
    for (int i = 0; i < c.kw; i++) h[rows[j][i]]++;
  int32_t med = 0, below = 0;  // below: the values less than med
  for (int32_t x = 0;; x++) {
    while (below > rank) below -= h[--med];
    while (below + h[med] <= rank) below += h[med++];
    out[x] = static_cast<uint8_t>(med);
    if (x + 1 >= nx) break;
    for (int j = 0; j < c.kh; j++) {
      int32_t out = rows[j][x], in = rows[j][x + c.kw];
      h[out]--;
      h[in]++;
      below += (in < med) - (out < med);
    }
  }
}

// The Sobel magnitude: gradients in integers, the root in floats
// (truncated, it equals the double root's for every sum of squares up to
// 2 x 1020^2).
KERN void sobrow(const uint8_t* const* rows, int32_t nx, int32_t* __restrict acc,
                 uint8_t* __restrict ob, bool nc) {
  const uint8_t *__restrict a = rows[0], *__restrict b = rows[1], *__restrict d = rows[2];
  for (int32_t x = 0; x < nx; x++) {
    int32_t gy = (a[x] + 2 * a[x + 1] + a[x + 2]) - (d[x] + 2 * d[x + 1] + d[x + 2]);
    int32_t gx = (a[x] + 2 * b[x] + d[x]) - (a[x + 2] + 2 * b[x + 2] + d[x + 2]);
    acc[x] = static_cast<int32_t>(std::sqrt(static_cast<float>(gx * gx + gy * gy)));
  }
  // Into bytes: clamped, or the low byte with clamping off.
  if (ob)
    for (int32_t x = 0; x < nx; x++)
      ob[x] = static_cast<uint8_t>(nc ? acc[x] & 0xFF : acc[x] < 255 ? acc[x] : 255);
}

// Hole filling (kind 11) from window sums of the pixels and of the
// pixels that are not zero (n at most 257).
KERN void holerow(const uint8_t* const* rows, int kh, int kw, int32_t nx, int hx,
                  const uint8_t* __restrict ctr, uint16_t* __restrict cs, uint16_t* __restrict cz,
                  int32_t* __restrict acc) {
  (void)hx;
  const int32_t w = nx + kw - 1;
  for (int32_t x = 0; x < w; x++) {
    cs[x] = rows[0][x];
    cz[x] = rows[0][x] != 0;
  }
  for (int j = 1; j < kh; j++) {
    const uint8_t* __restrict p = rows[j];
    for (int32_t x = 0; x < w; x++) {
      cs[x] = static_cast<uint16_t>(cs[x] + p[x]);
      cz[x] = static_cast<uint16_t>(cz[x] + (p[x] != 0));
    }
  }
  for (int32_t x = 0; x < nx; x++) {
    uint32_t s = 0, m = 0;
    for (int i = 0; i < kw; i++) {
      s += cs[x + i];
      m += cz[x + i];
    }
    int32_t q = m ? static_cast<int32_t>(static_cast<float>(s) / static_cast<float>(m)) : 0;
    acc[x] = ctr[x] ? ctr[x] : q;
  }
}

// The tolerance mean (kind 12): the pixels within tol of the centre,
// window position by position (n at most 257).
KERN void tolrow(const uint8_t* const* rows, int kh, int kw, int32_t nx, int hx, int32_t tol,
                 const uint8_t* __restrict ctr, uint16_t* __restrict s, uint16_t* __restrict m,
                 int32_t* __restrict acc) {
  (void)hx;
  for (int32_t x = 0; x < nx; x++) s[x] = m[x] = 0;
  for (int j = 0; j < kh; j++)
    for (int i = 0; i < kw; i++) {
      const uint8_t* __restrict p = rows[j] + i;
      for (int32_t x = 0; x < nx; x++) {
        int32_t d = ctr[x] - p[x];
        bool in = d >= -tol && d <= tol;
        s[x] = static_cast<uint16_t>(s[x] + (in ? p[x] : 0));
        m[x] = static_cast<uint16_t>(m[x] + in);
      }
    }
  for (int32_t x = 0; x < nx; x++)
    acc[x] = static_cast<int32_t>(static_cast<float>(s[x]) / static_cast<float>(m[x]));
}

// Values of 0..255 into bytes, when the row goes there straight.
inline void narrow(const int32_t* __restrict acc, int32_t nx, uint8_t* __restrict ob) {
  if (ob)
    for (int32_t x = 0; x < nx; x++) ob[x] = static_cast<uint8_t>(acc[x]);
}

// 3 x 3 windows in one pass per row, from column sums (the common size:
// no window arrays between the passes).
struct Cols3 {
  uint16_t* s;   // column sums
  uint32_t* q;   // column sums of squares
  uint8_t *lo, *hi, *nz;  // column extremes, counts of pixels not zero
};

KERN void cols3(const uint8_t* const* rows, int32_t w, bool sq, bool mm, bool nz, Cols3 c) {
  const uint8_t *__restrict a = rows[0], *__restrict b = rows[1], *__restrict d = rows[2];
  uint16_t* __restrict s = c.s;
  for (int32_t x = 0; x < w; x++) s[x] = static_cast<uint16_t>(a[x] + b[x] + d[x]);
  if (sq) {
    uint32_t* __restrict q = c.q;
    for (int32_t x = 0; x < w; x++) {
      uint32_t u = a[x], v = b[x], t = d[x];
      q[x] = u * u + v * v + t * t;
    }
  }
  if (mm) {
    uint8_t *__restrict lo = c.lo, *__restrict hi = c.hi;
    for (int32_t x = 0; x < w; x++) {
      uint8_t l = a[x] < b[x] ? a[x] : b[x], h = a[x] < b[x] ? b[x] : a[x];
      lo[x] = l < d[x] ? l : d[x];
      hi[x] = h < d[x] ? d[x] : h;
    }
  }
  if (nz) {
    uint8_t* __restrict z = c.nz;
    for (int32_t x = 0; x < w; x++)
      z[x] = static_cast<uint8_t>((a[x] != 0) + (b[x] != 0) + (d[x] != 0));
  }
}

// Mean (kind 3) of 3 x 3 windows.
KERN void mean3(const uint16_t* __restrict s, int32_t nx, int32_t* __restrict acc,
                uint8_t* __restrict ob) {
  for (int32_t x = 0; x < nx; x++) {
    int32_t v = static_cast<int32_t>(static_cast<float>(s[x] + s[x + 1] + s[x + 2]) / 9.0f);
    acc[x] = v;
  }
  narrow(acc, nx, ob);
}

// Standard deviation (kind 4) or stretch (kind 2) of 3 x 3 windows.
KERN void sd3(Cols3 c, const uint8_t* __restrict ctr, int32_t nx, bool stretch,
              int32_t* __restrict acc, uint8_t* __restrict ob) {
  const uint16_t* __restrict s = c.s;
  const uint32_t* __restrict q = c.q;
  const uint8_t *__restrict lo = c.lo, *__restrict hi = c.hi;
  const float fn = 9.0f;
  auto dev = [&](int32_t x) {
    float fs = static_cast<float>(s[x] + s[x + 1] + s[x + 2]);
    float var = (static_cast<float>(q[x] + q[x + 1] + q[x + 2]) - fs * fs / fn) / fn;
    return var > 0 ? static_cast<int32_t>(std::sqrt(var)) : 0;
  };
  if (!stretch) {
    for (int32_t x = 0; x < nx; x++) acc[x] = dev(x);
  } else {
    for (int32_t x = 0; x < nx; x++) {
      int32_t sd = dev(x);
      uint8_t l1 = lo[x] < lo[x + 1] ? lo[x] : lo[x + 1], h1 = hi[x] > hi[x + 1] ? hi[x] : hi[x + 1];
      int32_t l0 = l1 < lo[x + 2] ? l1 : lo[x + 2], h0 = h1 > hi[x + 2] ? h1 : hi[x + 2];
      int32_t l = l0 - 2 * sd > 0 ? l0 - 2 * sd : 0, h = h0 + 2 * sd < 255 ? h0 + 2 * sd : 255;
      float num = static_cast<float>((ctr[x] - l0) * (h - l + 1));
      acc[x] = static_cast<int32_t>(num / static_cast<float>(h0 - l0 + 1)) + l;
    }
  }
  narrow(acc, nx, ob);
}

// Hole filling (kind 11) of 3 x 3 windows.
KERN void hole3(Cols3 c, const uint8_t* __restrict ctr, int32_t nx, int32_t* __restrict acc,
                uint8_t* __restrict ob) {
  const uint16_t* __restrict s = c.s;
  const uint8_t* __restrict z = c.nz;
  // The quotient of every window first, then the centres that are not
  // zero over it (two plain loops: both vectorised). No pixel other than
  // zero: the sum is 0 too, and so is the quotient.
  for (int32_t x = 0; x < nx; x++) {
    int32_t m = z[x] + z[x + 1] + z[x + 2];
    float q = static_cast<float>(s[x] + s[x + 1] + s[x + 2]) / static_cast<float>(m + (m == 0));
    acc[x] = static_cast<int32_t>(q);
  }
  for (int32_t x = 0; x < nx; x++) acc[x] = ctr[x] ? ctr[x] : acc[x];
  narrow(acc, nx, ob);
}

// The tolerance mean (kind 12) of 3 x 3 windows: absolute differences in
// bytes (a tolerance above 255 takes every pixel).
KERN void tol3(const uint8_t* const* rows, int32_t nx, int32_t tol, int32_t* __restrict acc,
               uint8_t* __restrict ob) {
  const uint8_t t = static_cast<uint8_t>(tol > 255 ? 255 : tol);
  const uint8_t *__restrict a = rows[0], *__restrict b = rows[1], *__restrict d = rows[2];
  for (int32_t x = 0; x < nx; x++) {
    const uint8_t cv = b[x + 1];
    uint16_t s = 0;
    uint8_t m = 0;
    const uint8_t px[9] = {a[x], a[x + 1], a[x + 2], b[x], b[x + 1], b[x + 2], d[x], d[x + 1], d[x + 2]};
    for (int k = 0; k < 9; k++) {
      uint8_t ad = cv > px[k] ? static_cast<uint8_t>(cv - px[k]) : static_cast<uint8_t>(px[k] - cv);
      bool in = ad <= t;
      s = static_cast<uint16_t>(s + (in ? px[k] : 0));
      m = static_cast<uint8_t>(m + in);
    }
    int32_t v = static_cast<int32_t>(static_cast<float>(s) / static_cast<float>(m));
    acc[x] = v;
  }
  narrow(acc, nx, ob);
}

KERN void convrow(const int32_t* kern, const uint8_t* const* rows, int kh, int kw, int32_t nx,
                  int32_t* __restrict acc) {
  // Products of a byte and a 16-bit weight; sums wrap as 32-bit values, so
  // any order gives the same sum.
  uint32_t* __restrict u = reinterpret_cast<uint32_t*>(acc);
  if (kw == 3 && kh == 3) {
    // The common size in one pass, the weights held in registers.
    uint32_t k[9];
    for (int t = 0; t < 9; t++) k[t] = static_cast<uint32_t>(kern[t]);
    const uint8_t *__restrict a = rows[0], *__restrict b = rows[1], *__restrict d = rows[2];
    for (int32_t x = 0; x < nx; x++)
      u[x] = k[0] * a[x] + k[1] * a[x + 1] + k[2] * a[x + 2] + k[3] * b[x] + k[4] * b[x + 1] +
             k[5] * b[x + 2] + k[6] * d[x] + k[7] * d[x + 1] + k[8] * d[x + 2];
    return;
  }
  std::fill(u, u + nx, 0u);
  for (int j = 0; j < kh; j++) {
    // A row of the kernel at a time: its taps summed in registers.
    const uint8_t* __restrict p = rows[j];
    const int32_t* kr = kern + j * kw;
    int i = 0;
    for (; i + 3 <= kw; i += 3) {
      const uint32_t k0 = static_cast<uint32_t>(kr[i]), k1 = static_cast<uint32_t>(kr[i + 1]),
                     k2 = static_cast<uint32_t>(kr[i + 2]);
      const uint8_t* __restrict q = p + i;
      for (int32_t x = 0; x < nx; x++) u[x] += k0 * q[x] + k1 * q[x + 1] + k2 * q[x + 2];
    }
    for (; i < kw; i++) {
      const uint32_t k0 = static_cast<uint32_t>(kr[i]);
      if (k0 == 0) continue;
      const uint8_t* __restrict q = p + i;
      for (int32_t x = 0; x < nx; x++) u[x] += k0 * q[x];
    }
  }
}

// The centre pixel (kinds that only binarise): 1 or 0 against the
// threshold t, or as it is (t < 0).
KERN void centrow(const uint8_t* __restrict q, int32_t nx, int32_t t, int32_t* __restrict acc,
                  uint8_t* __restrict ob) {
  const uint8_t t8 = static_cast<uint8_t>(t > 255 ? 255 : t < 0 ? 0 : t);
  const bool bin = t >= 0, none = t > 255;  // a threshold above 255 leaves no pixel at 1
  if (ob) {
    if (!bin)
      std::memcpy(ob, q, static_cast<size_t>(nx));
    else
      for (int32_t x = 0; x < nx; x++) ob[x] = static_cast<uint8_t>(!none && q[x] >= t8);
    return;
  }
  for (int32_t x = 0; x < nx; x++) acc[x] = bin ? (!none && q[x] >= t8) : q[x];
}

// nx values of one output row by the kernels: straight into bytes ob when
// given (the post-processing leaves them as they are), else into acc
// before post-processing.
void fastrow(const Conv& c, const uint8_t* const* rows, int32_t nx, Work& W, int32_t* acc,
             uint8_t* ob, bool nc) {
  const int n = c.kw * c.kh;
  const uint8_t* ctr = rows[c.hy] + c.hx;
  uint8_t* bytes = ob ? ob : W.chi.data();  // kernels that give bytes only
  bool gavebytes = false;
  if (c.code == 269) {
    convrow(c.kern.data(), rows, c.kh, c.kw, nx, acc);
  } else if (c.kw == 3 && c.kh == 3 && (c.kind == 2 || c.kind == 3 || c.kind == 4 || c.kind == 11 ||
                                        c.kind == 12)) {
    Cols3 k{W.s16.data(), W.cq.data(), W.clo.data(), W.chi.data(), W.mi.data()};
    if (c.kind == 12) {
      tol3(rows, nx, c.tol, acc, ob);
      return;
    }
    cols3(rows, nx + 2, c.kind == 2 || c.kind == 4, c.kind == 2, c.kind == 11, k);
    if (c.kind == 3)
      mean3(k.s, nx, acc, ob);
    else if (c.kind == 11)
      hole3(k, ctr, nx, acc, ob);
    else
      sd3(k, ctr, nx, c.kind == 2, acc, ob);
    return;
  } else if (c.kind <= 1) {
    extrow(rows, c.kh, c.kw, nx, c.kind == 0, W.clo.data(), bytes, acc, !ob);
    return;
  } else if (c.kind == 3 && n <= 257) {
    meanrow(rows, c.kh, c.kw, nx, W.s16.data(), W.z16.data(), acc, ob);
    return;
  } else if ((c.kind == 2 || c.kind == 4) && n <= 257) {
    sumrow(rows, c.kh, c.kw, nx, c.kind == 2, W.cs.data(), W.cq.data(), W.clo.data(), W.chi.data(),
           W.ws.data(), W.wq.data(), W.lo.data(), W.hi.data());
    sdrow(n, c.kind == 2, nx, ctr, W.ws.data(), W.wq.data(), W.lo.data(), W.hi.data(), acc);
  } else if (c.kind == 5 && c.kw == 3 && c.kh == 3) {
    med3row(rows, nx, W.lo.data(), W.mi.data(), W.hi.data(), acc, ob);
    return;
  } else if (c.kind == 5) {
    if (c.kw == 5 && c.kh == 5)
      med5row(rows, nx, bytes);
    else
      histmed(c, rows, nx, W.hist.data(), bytes);
    gavebytes = true;
  } else if (c.kind == 8) {
    sobrow(rows, nx, acc, ob, nc);
    return;
  } else if (c.kind == 11 && n <= 257) {
    holerow(rows, c.kh, c.kw, nx, c.hx, ctr, W.s16.data(), W.z16.data(), acc);
  } else if (c.kind == 12 && n <= 257) {
    tolrow(rows, c.kh, c.kw, nx, c.hx, c.tol, ctr, W.s16.data(), W.z16.data(), acc);
  } else {
    refrow(c, rows, nx, acc, W.gat.data());
  }
  if (gavebytes && !ob)
    for (int32_t x = 0; x < nx; x++) acc[x] = bytes[x];
  else if (!gavebytes && ob)
    for (int32_t x = 0; x < nx; x++) ob[x] = static_cast<uint8_t>(acc[x]);
}

// Post-processing and the store of one row into bytes, 16-bit or 32-bit
// items or floats, by the store rules of the element access.
KERN void storerow(const Conv& c, int32_t nx, const int32_t* __restrict acc, uint8_t* __restrict o,
                   int dws, bool nc) {
  const int32_t sh = std::min(c.shift, 31), mx = c.mx, mn = c.mn;
  const uint32_t add = static_cast<uint32_t>(c.add);
  auto pp = [&](int32_t v) {
    if (sh > 0) v >>= sh;
    v = static_cast<int32_t>(static_cast<uint32_t>(v) + add);
    if (mx && v > mx) v = mx;
    return v < mn ? mn : v;
  };
  if (dws == W_BYTE) {
    for (int32_t x = 0; x < nx; x++) {
      int32_t v = pp(acc[x]);
      o[x] = v == INT32_MIN ? 0 : nc ? static_cast<uint8_t>(v & 0xFF)
                                     : static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  } else if (dws == W_SHORT) {
    int16_t* __restrict s = reinterpret_cast<int16_t*>(o);
    for (int32_t x = 0; x < nx; x++) {
      int32_t v = pp(acc[x]);
      int32_t r = nc ? static_cast<int16_t>(static_cast<uint16_t>(v))
                     : (v < -32767 ? -32767 : v > 32767 ? 32767 : v);
      s[x] = static_cast<int16_t>(v == INT32_MIN ? -32768 : r);
    }
  } else if (dws == W_LONG) {
    int32_t* __restrict l = reinterpret_cast<int32_t*>(o);
    for (int32_t x = 0; x < nx; x++) l[x] = pp(acc[x]);
  } else {
    float* __restrict f = reinterpret_cast<float*>(o);
    for (int32_t x = 0; x < nx; x++) f[x] = static_cast<float>(pp(acc[x]));
  }
}

void trcrow(const char* head, int r, const uint8_t* p, int32_t n) {
  auto at = [&](int32_t k) { return k >= 0 && k < n ? p[k] : 0; };
  jprintf(dbglun, "%s(%d): %3d %3d %3d %3d ... %3d %3d %3d %3d\n", head, r, at(0), at(1), at(2),
          at(3), at(n - 4), at(n - 3), at(n - 2), at(n - 1));
}

// --- the band way --------------------------------------------------------

// Output rows computed from a source held whole, written into a
// destination held whole. Threads take pieces of rows in turn; the main
// thread polls for Ctrl-C between its pieces, and a stop ends every thread
// at its next piece.
struct Band {
  const Conv* c;
  const uint8_t* src;
  uint8_t* dst;
  int dws;
  bool nc;
  int nt = 1;            // threads
  bool inplace = false;  // dst is src: one thread sweeps down the rows
  std::atomic<int32_t> next{0};
  std::atomic<bool> stop{false};
  std::atomic<int32_t> done{0};
};

constexpr int32_t PIECE = 16;  // output rows a thread takes at a time

// Whether the results go into a byte destination as they are: filter
// values lie in 0..255 (the Sobel kernel clamps its own), and the
// post-processing changes none of them.
bool direct(const Conv& c, int dws) {
  if (dws != W_BYTE || c.code != 271 || c.shift > 0 || c.add != 0 || c.mn > 0) return false;
  // The largest value the kind gives: binarised pixels 1, the Sobel
  // magnitude is clamped into the bytes only when nothing lowers it first.
  int32_t top = c.bin ? 1 : c.kind == 8 ? 1443 : 255;
  return c.mx == 0 || c.mx >= top;
}

// The binarised centre pixels of a large image written past the caches
// (the result would not stay there anyway): sparing the read of each
// destination line before its write takes a third of the memory traffic.
__attribute__((target("avx2"))) void centstream(const uint8_t* __restrict q, int64_t n, uint8_t t8,
                                                bool none, uint8_t* __restrict o) {
  int64_t x = 0;
  // Up to the first 32-byte boundary of the destination as usual.
  int64_t head = std::min<int64_t>(n, static_cast<int64_t>((32 - reinterpret_cast<uintptr_t>(o) % 32) % 32));
  for (; x < head; x++) o[x] = static_cast<uint8_t>(!none && q[x] >= t8);
  // v >= t exactly when t - v saturates to 0; none leaves every item 0.
  const __m256i tt = _mm256_set1_epi8(static_cast<char>(t8)), zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi8(none ? 0 : 1);
  for (; x + 64 <= n; x += 64) {
    // The source asked for 4 KB ahead, across the pages the prefetchers
    // stop at (a prefetch past the end is dropped, never a fault).
    _mm_prefetch(reinterpret_cast<const char*>(q + x + 4096), _MM_HINT_T0);
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + x));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + x + 32));
    a = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_subs_epu8(tt, a), zero), one);
    b = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_subs_epu8(tt, b), zero), one);
    _mm256_stream_si256(reinterpret_cast<__m256i*>(o + x), a);
    _mm256_stream_si256(reinterpret_cast<__m256i*>(o + x + 32), b);
  }
  _mm_sfence();
  for (; x < n; x++) o[x] = static_cast<uint8_t>(!none && q[x] >= t8);
}

KERN void centbin(const uint8_t* __restrict q, int64_t n, uint8_t t8, bool none, uint8_t* __restrict o) {
  for (int64_t x = 0; x < n; x++) o[x] = static_cast<uint8_t>(!none && q[x] >= t8);
}

// Images from this many items on are written past the caches.
constexpr int64_t STREAM = int64_t(1) << 22;

bool avx2ok() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}

void centflat(const uint8_t* __restrict q, int64_t n, int32_t t, uint8_t* __restrict o, bool big) {
  if (t < 0) {
    std::memcpy(o, q, static_cast<size_t>(n));
    return;
  }
  const uint8_t t8 = static_cast<uint8_t>(t > 255 ? 255 : t);
  const bool none = t > 255;  // a threshold above 255 leaves no pixel at 1
  if (big && avx2ok())
    centstream(q, n, t8, none, o);
  else
    centbin(q, n, t8, none, o);
}

// --- the crew: band threads kept between operations -------------------
//
// Starting threads anew for every operation costs about as much as a
// large binarise takes. The workers stay: after an operation each one
// waits a moment spinning (operations in a loop follow each other within
// microseconds), then sleeps until woken. A worker joins an operation
// through its gate while the gate is open and fewer than the wanted have
// joined; the caller closes the gate when its own share is done and waits
// only for those that joined (a worker the system holds back, or one still
// asleep, delays nothing). The workers come from thrnew (they take no
// signals) and are never ended; the process exit ends them.
class Crew {
 public:
  // Runs fn(arg, true) on the caller and fn(arg, false) on up to n - 1
  // workers at once; returns when every one has returned.
  void run(int n, void (*fn)(void*, bool), void* arg) {
    // One operation at a time has the workers; another caller works alone.
    if (n <= 1 || busy_.exchange(true, std::memory_order_acquire)) {
      fn(arg, true);
      return;
    }
    struct Free {
      std::atomic<bool>& busy;
      ~Free() { busy.store(false, std::memory_order_release); }
    } release{busy_};
    share(n, fn, arg);
  }

 private:
  static constexpr int MAXW = 3;  // workers at most
  // The gate: workers in the operation (bits 0-7), workers that joined it
  // (8-15), workers wanted (16-23), closed (bit 31).
  static constexpr uint32_t IN = 1, JOINED = 1 << 8, CLOSED = 1u << 31;
  std::atomic<bool> busy_{false};
  std::atomic<uint64_t> call_{0};  // operations started
  std::atomic<uint32_t> gate_{CLOSED};
  void (*fn_)(void*, bool) = nullptr;
  void* arg_ = nullptr;
  int size_ = 0;
  std::mutex m_;
  std::condition_variable cv_;

  void share(int n, void (*fn)(void*, bool), void* arg) {
    int want = std::min(n, MAXW + 1) - 1;
    while (size_ < want && grow()) {
    }
    want = std::min(want, size_);
    if (want <= 0) {
      fn(arg, true);
      return;
    }
    // The gate is closed and nobody is in: the operation's fields are free.
    fn_ = fn;
    arg_ = arg;
    gate_.store(static_cast<uint32_t>(want) << 16, std::memory_order_release);
    {
      // The workers' sleep checks the call under the lock: none misses it.
      std::lock_guard<std::mutex> lk(m_);
      call_.fetch_add(1, std::memory_order_release);
    }
    cv_.notify_all();
    // The workers that joined are waited for however the caller's share
    // ends: they use what the caller holds.
    struct Close {
      std::atomic<uint32_t>& gate;
      ~Close() {
        gate.fetch_or(CLOSED, std::memory_order_acq_rel);
        for (int spins = 0; gate.load(std::memory_order_acquire) & 0xFF; spins++) {
          if (spins < 4096)
            __builtin_ia32_pause();
          else
            std::this_thread::yield();
        }
      }
    } close{gate_};
    fn(arg, true);
  }

  bool grow() {
    // A worker that cannot be had leaves its share to the others.
    std::thread t = thrnew([this, seen = call_.load(std::memory_order_relaxed)] { loop(seen); });
    if (!t.joinable()) return false;
    t.detach();
    size_++;
    return true;
  }

  void loop(uint64_t seen) {
    for (;;) {
      uint64_t c = call_.load(std::memory_order_acquire);
      const auto t0 = std::chrono::steady_clock::now();
      for (int spins = 1; c == seen; spins++) {
        __builtin_ia32_pause();
        if (spins % 256 == 0 && std::chrono::steady_clock::now() - t0 > std::chrono::milliseconds(1)) {
          std::unique_lock<std::mutex> lk(m_);
          cv_.wait(lk, [&] { return call_.load(std::memory_order_acquire) != seen; });
        }
        c = call_.load(std::memory_order_acquire);
      }
      seen = c;
      uint32_t g = gate_.load(std::memory_order_relaxed);
      while (!(g & CLOSED) && ((g >> 8) & 0xFF) < ((g >> 16) & 0xFF)) {
        if (gate_.compare_exchange_weak(g, g + IN + JOINED, std::memory_order_acquire,
                                        std::memory_order_relaxed)) {
          fn_(arg_, false);
          gate_.fetch_sub(IN, std::memory_order_release);
          break;
        }
      }
    }
  }
};

Crew& crew() {
  static Crew* c = new Crew;  // never destroyed: its workers outlive every caller
  return *c;
}

// Kinds that only binarise or copy the centre pixel, into bytes: output
// row y is centre row y - d (d is 1 for even window heights, whose first
// output row repeats the first row), so the rows of a piece lie in one run
// of memory. Pieces of 64 KB at least; the main thread polls after every
// 256 KB or so it made.
void centband(Band& b, bool main) {
  const Conv& c = *b.c;
  const int32_t nx = c.nx;
  const int32_t d = c.kh - 1 - 2 * c.hy;
  const int32_t t = c.bin ? c.mx : -1;
  const bool big = int64_t{nx} * c.ny >= STREAM;
  const int32_t rows = std::max<int32_t>(PIECE, (1 << 16) / nx);
  int64_t made = 0;
  for (;;) {
    if (b.stop.load(std::memory_order_relaxed)) return;
    int32_t y0 = b.next.fetch_add(rows);
    if (y0 >= c.ny) return;
    int32_t y1 = std::min(c.ny, y0 + rows);
    int32_t y = y0;
    for (; y < std::min(y1, d); y++) centflat(b.src, nx, t, b.dst + int64_t{y} * nx, big);
    if (y < y1) centflat(b.src + int64_t{y - d} * nx, int64_t{y1 - y} * nx, t, b.dst + int64_t{y} * nx, big);
    int32_t done = b.done.fetch_add(y1 - y0) + (y1 - y0);
    made += int64_t{y1 - y0} * nx;
    if (main && (made >= 1 << 18 || done >= c.ny)) {
      made = 0;
      prgidx = static_cast<uint32_t>(done);
      chkio(0);
      if (stopped()) b.stop.store(true);
    }
  }
}

void bandrun(Band& b, bool main) {
  const Conv& c = *b.c;
  if (c.code == 271 && (c.kind == 6 || c.kind == 7 || c.kind == 9 || c.kind == 10) && direct(c, b.dws) &&
      !b.inplace) {
    centband(b, main);
    return;
  }
  const int32_t nx = c.nx;
  const size_t w = static_cast<size_t>(nx + c.kw - 1);
  // Rows padded at the edges (the first and last pixels replicated), for
  // the outputs whose windows reach past them.
  std::vector<uint8_t> pad(w * static_cast<size_t>(c.kh));
  std::vector<const uint8_t*> src(static_cast<size_t>(c.kh)), rows(static_cast<size_t>(c.kh));
  Work W;
  W.size(c);
  const int p = c.kh - 1 - c.hy;
  const int bpi = b.dws == W_BYTE ? 1 : b.dws == W_SHORT ? 2 : 4;
  const bool dir = direct(c, b.dws);
  const bool centre = c.code == 271 && (c.kind == 6 || c.kind == 7 || c.kind == 9 || c.kind == 10);
  // In place, the source rows an output row still needs that lie above it
  // or are itself are kept here (row r in slot r % (p + 1)) before the
  // output overwrites them.
  std::vector<uint8_t> ring(b.inplace ? static_cast<size_t>(nx) * static_cast<size_t>(p + 1) : 0);
  // Outputs whose windows lie inside the row: [hx, hx + inner).
  const int32_t inner = nx - c.kw + 1;
  // Padded rows for outputs x0 .. x0 + m - 1.
  auto padded = [&](int32_t x0, int32_t m) {
    for (int j = 0; j < c.kh; j++) {
      uint8_t* q = pad.data() + static_cast<size_t>(j) * w;
      for (int32_t i = 0; i < m + c.kw - 1; i++)
        q[i] = src[static_cast<size_t>(j)][std::clamp<int32_t>(x0 + i - c.hx, 0, nx - 1)];
      rows[static_cast<size_t>(j)] = q;
    }
  };
  for (;;) {
    if (b.stop.load(std::memory_order_relaxed)) return;
    int32_t y0 = b.next.fetch_add(PIECE);
    if (y0 >= c.ny) return;
    int32_t y1 = std::min(c.ny, y0 + PIECE);
    for (int32_t y = y0; y < y1; y++) {
      if (b.inplace)
        std::memcpy(ring.data() + static_cast<size_t>(y % (p + 1)) * static_cast<size_t>(nx),
                    b.src + int64_t{y} * nx, static_cast<size_t>(nx));
      for (int j = 0; j < c.kh; j++) {
        int32_t r = wrow(c, int64_t{y} - p + j);
        src[static_cast<size_t>(j)] =
            b.inplace && r <= y ? ring.data() + static_cast<size_t>(r % (p + 1)) * static_cast<size_t>(nx)
                                : b.src + static_cast<int64_t>(r) * nx;
      }
      uint8_t* o = b.dst + static_cast<int64_t>(y) * nx * bpi;
      uint8_t* ob = dir ? o : nullptr;
      int32_t* acc = W.acc.data();
      if (centre) {
        // Kinds that only binarise give the centre pixel.
        centrow(src[static_cast<size_t>(c.hy)], nx, c.bin ? c.mx : -1, acc, ob);
      } else if (inner > 0) {
        fastrow(c, src.data(), inner, W, acc + c.hx, ob ? ob + c.hx : nullptr, b.nc);
        if (c.hx > 0) {
          padded(0, c.hx);
          fastrow(c, rows.data(), c.hx, W, acc, ob, b.nc);
        }
        if (int32_t m = nx - c.hx - inner; m > 0) {
          padded(c.hx + inner, m);
          fastrow(c, rows.data(), m, W, acc + c.hx + inner, ob ? ob + c.hx + inner : nullptr, b.nc);
        }
      } else {
        padded(0, nx);
        fastrow(c, rows.data(), nx, W, acc, ob, b.nc);
      }
      if (!ob) storerow(c, nx, acc, o, b.dws, b.nc);
    }
    int32_t d = b.done.fetch_add(y1 - y0) + (y1 - y0);
    if (main) {
      prgidx = static_cast<uint32_t>(d);
      chkio(0);
      if (stopped()) b.stop.store(true);
    }
  }
}

// The threads the band way takes for an image: every kind shares images of
// a million items and more, on the cores this process may use.
int bandthreads(const Conv& c) {
  return int64_t{c.nx} * c.ny >= int64_t(1) << 20 && c.ny >= 2 * PIECE ? cores(4) : 1;
}

void bands(Band& b) {
  crew().run(b.inplace ? 1 : b.nt, [](void* p, bool main) { bandrun(*static_cast<Band*>(p), main); }, &b);
}

// The arguments of convolve or filter read and checked: false after an
// error. Nothing is written.
bool convarg(int code, Conv& c, PtrRec** mask) {
  int32_t* t = optab;
  if (!oprec(0) || t[OT_WSIZ] != W_BYTE) {
    error(1, 113);
    return false;
  }
  c.code = code;
  int a;
  if (code == 269) {
    int32_t h = 0, kc = 0, kd[3] = {0, 0, 0};
    const int16_t* k = nullptr;
    if (argtyp(3, &h) & 0x7C0) k = static_cast<const int16_t*>(aryarg(3, 0, 0, 16, &kc, kd));
    if (state & ST_ERROR) return false;
    c.kw = k ? kd[0] : 0;
    c.kh = k ? std::max(kd[1], 1) : 0;
    if (k && static_cast<int64_t>(c.kw) * c.kh > kc) c.kh = c.kw > 0 ? kc / c.kw : 0;
    if (static_cast<int64_t>(c.kw) * c.kh < 1) {
      error(3, 107);
      return false;
    }
    c.kern.assign(k, k + c.kw * c.kh);
    a = 4;
  } else {
    c.kind = intarg(3, -1);
    if (c.kind < 0 || c.kind > 12) {
      error(3, 109);
      return false;
    }
    int size = c.kind == 8 ? 3 : intarg(4, 3);
    if (size < 1 || size > 255) {
      error(3, 109);
      return false;
    }
    c.kw = c.kh = size;
    a = 5;
  }
  c.add = lngarg(a, 0);
  c.mn = lngarg(a + 1, 0);
  c.mx = lngarg(a + 2, 0);
  c.shift = intarg(a + 3, 0);
  int32_t mh = 0;
  *mask = nullptr;
  if (argtyp(a + 4, &mh) & 0x680) *mask = ptrrec(mh);
  c.tol = intarg(a + 5, 10);
  if (c.tol < 1) c.tol = 10;
  c.bin = code == 271 && (KFLAG[c.kind] & 1) && c.mx >= 1;
  c.hx = (c.kw - 1) / 2;
  c.hy = (c.kh - 1) / 2;
  return !(state & ST_ERROR);
}

}  // namespace

int conv(int code, FnCall* fc) {
  int32_t* t = optab;
  PtrRec* src = oprec(0);
  Conv c{};
  PtrRec* mask = nullptr;
  if (!convarg(code, c, &mask)) return -1;

  c.nx = src->Ndims > 1 || (t[OT_KIND] & K_DIMS) ? static_cast<int32_t>(src->Offs[3]) : t[OT_CNT];
  if (c.nx < 1) c.nx = t[OT_CNT];
  c.ny = c.nx > 0 ? t[OT_CNT] / c.nx : 0;
  if (c.nx < 1 || c.ny < 1) return 0;
  bool trc = (trcmsk & 0x18) == 0x18;
  c.trc = trc;
  if (trc) {
    int32_t k9[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < 9 && i < c.kern.size(); i++) k9[i] = c.kern[i];
    jprintf(dbglun, "kernel: %d x %d\n%d %d %d %d %d %d %d %d %d\n", c.kw, c.kh, k9[0], k9[1],
            k9[2], k9[3], k9[4], k9[5], k9[6], k9[7], k9[8]);
  }

  OpRead in;
  in.start(0);
  OpWrite out;
  out.start();
  if (!out.d) return 0;

  // Whole image in memory, whole destination: bands of rows.
  const uint8_t* whole = in.whole();
  uint8_t* dw = out.whole();
  int dws = out.d->Wsiz;
  const bool band = qpaths && whole && dw && !mask && !(trcmsk & 16) &&
                    (dws == W_BYTE || dws == W_SHORT || dws == W_LONG || dws == W_FLOAT) &&
                    out.n >= t[OT_CNT] && !(out.d->Flg & K_NUMBER);
  const int nt = band ? bandthreads(c) : 1;
  // A result written over its own source: one thread sweeping down the
  // rows keeps the source rows it still needs; otherwise the source is
  // copied first.
  const bool inplace = band && nt == 1 && dw == whole && dws == W_BYTE;
  if (opalias() && !inplace) {
    in.detach();
    // The copy may have moved the destination's window back to its origin.
    out.start();
    whole = in.whole();
    dw = out.whole();
  }
  if (band && whole && dw) {
    Band b;
    b.c = &c;
    b.src = whole;
    b.dst = dw;
    b.dws = dws;
    b.nc = noclmp();
    b.nt = nt;
    b.inplace = inplace;
    prgidx = 0;
    prgtot = static_cast<uint32_t>(c.ny);
    // Every item of the destination is written: storage made for it need
    // not be cleared first, unless the work stops part way.
    int32_t fresh = fc ? fc->fresh : 0;
    int64_t freshw = fc ? fc->freshw : 0;
    if (fc) fnfresh(*fc, out.n == t[OT_CNT]);
    dopause();
    if (!stopped()) bands(b);
    if (stopped() && fresh) zerwds(fresh, freshw);
    prgtot = 0;
    out.i = t[OT_CNT];
    out.end();
    return 0;
  }

  // Streamed: kh rotating row buffers.
  if (fc) fnfresh(*fc, false);
  size_t w = static_cast<size_t>(c.nx + c.kw - 1);
  std::vector<uint8_t> block(w * static_cast<size_t>(c.kh));
  std::vector<uint8_t*> ptr(static_cast<size_t>(c.kh), block.data());
  std::vector<int32_t> acc(static_cast<size_t>(c.nx));
  std::vector<uint8_t> gat(static_cast<size_t>(c.kw * c.kh));
  OpRead mk;
  if (mask) {
    mk.r = mask;
    int32_t cnt, tot, ws;
    gtvarb(mask, &cnt, &mk.part, &tot, &ws, 0);
    mk.n = cnt;
  }
  int32_t rows = c.ny + c.hy;
  prgidx = 0;
  prgtot = static_cast<uint32_t>(rows);
  for (int32_t r = 0; r < rows; r++) {
    if (stopped()) break;
    if ((trcmsk & 16) && c.ny > 100 && r > 4) break;
    uint8_t* newest = ptr[static_cast<size_t>(c.kh - 1)];
    if (r < c.ny) {
      int32_t got = in.bytes(newest + c.hx, c.nx);
      if (got < c.nx) std::memset(newest + c.hx + got, 0, static_cast<size_t>(c.nx - got));
      padrow(c, newest);
      if (trc) trcrow("cread", r, newest + c.hx, c.nx);
    }
    if (r >= c.hy) {
      refrow(c, ptr.data(), c.nx, acc.data(), gat.data());
      if (trc && code == 269)
        for (int32_t x = 0; x < c.nx; x++)
          jprintf(dbglun, "[%ld==%9.2f]", static_cast<long>(acc[static_cast<size_t>(x)]),
                  static_cast<double>(acc[static_cast<size_t>(x)]));
      const uint8_t* ctr = ptr[static_cast<size_t>(c.hy)] + c.hx;
      for (int32_t x = 0; x < c.nx; x++) {
        int32_t v = acc[static_cast<size_t>(x)];
        if (mask && mk.geti() == 0) v = ctr[x];
        acc[static_cast<size_t>(x)] = post(c, v);
      }
      out.ints(acc.data(), c.nx);
    }
    // The window moves down one row. Past the last source row the newest
    // slot takes the buffer of the last row again (now next to it).
    uint8_t* dropped = ptr[0];
    for (int j = 0; j + 1 < c.kh; j++) ptr[static_cast<size_t>(j)] = ptr[static_cast<size_t>(j + 1)];
    uint8_t*& slot = ptr[static_cast<size_t>(c.kh - 1)];
    if (r + 1 >= c.ny)
      slot = c.kh > 1 ? ptr[static_cast<size_t>(c.kh - 2)] : dropped;
    else if (r + 1 < c.kh)
      slot = block.data() + static_cast<size_t>(r + 1) * w;
    else
      slot = dropped;
    prgidx = static_cast<uint32_t>(r + 1);
    chkio(0);
  }
  prgtot = 0;
  out.end();
  return 0;
}

// The arguments are checked before the destination is made: a refused
// call leaves it as it was.
int su_conv(FnCall& c) {
  Conv k{};
  PtrRec* mask = nullptr;
  if (convarg(c.code, k, &mask)) return FS_GO;
  c.ret = 0;
  return FS_RET;
}

int run_conv(FnCall& c) { return conv(c.code, &c); }
