// convolve and filter (see filter.h).
//
// The source is read row by row into padded row buffers (the row's first
// and last pixels replicated into the margins), and each output row is
// computed from the kh rows of its window. Rows outside the image are the
// nearest edge row. An image held whole in memory and written into a byte
// or 16-bit destination held whole is split into bands of rows over a few
// threads; every band computes its rows exactly as the serial path does.
#include "compute/filter.h"

// The kernels below are plain loops over a row; they are vectorised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "compute/arith.h"
#include "compute/expr.h"
#include "compute/fft.h"
#include "compute/func.h"
#include "compute/opstream.h"
#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "ui/events.h"

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

// Sum over the window, per x, into acc: column sums first, then sums of
// kw neighbouring columns (integer sums: the order changes nothing).
__attribute__((target_clones("avx2", "default"))) void winsum(const Conv& c,
                                                             const uint8_t* const* rows,
                                                             int32_t* __restrict acc,
                                                             int32_t* __restrict col) {
  const int32_t nx = c.nx, kw = c.kw, kh = c.kh, w = nx + kw - 1;
  std::fill(col, col + w, 0);
  for (int j = 0; j < kh; j++) {
    const uint8_t* __restrict p = rows[j];
    for (int32_t x = 0; x < w; x++) col[x] += p[x];
  }
  std::fill(acc, acc + nx, 0);
  for (int i = 0; i < kw; i++) {
    const int32_t* __restrict q = col + i;
    for (int32_t x = 0; x < nx; x++) acc[x] += q[x];
  }
}

// The mean of windows of at most 257 pixels (sums below 65536): column
// sums and window sums in 16-bit lanes, then the integer quotient (exact
// through floats for sums below 2^22).
__attribute__((target_clones("avx2", "default"))) void mean16(const Conv& c,
                                                             const uint8_t* const* rows,
                                                             int32_t* __restrict acc,
                                                             uint16_t* __restrict col,
                                                             uint16_t* __restrict sum) {
  const int32_t nx = c.nx, kw = c.kw, kh = c.kh, w = nx + kw - 1;
  const uint8_t* __restrict r0 = rows[0];
  for (int32_t x = 0; x < w; x++) col[x] = r0[x];
  for (int j = 1; j < kh; j++) {
    const uint8_t* __restrict p = rows[j];
    for (int32_t x = 0; x < w; x++) col[x] = static_cast<uint16_t>(col[x] + p[x]);
  }
  for (int32_t x = 0; x < nx; x++) sum[x] = col[x];
  for (int i = 1; i < kw; i++) {
    const uint16_t* __restrict q = col + i;
    for (int32_t x = 0; x < nx; x++) sum[x] = static_cast<uint16_t>(sum[x] + q[x]);
  }
  const float fn = static_cast<float>(kw * kh);
  for (int32_t x = 0; x < nx; x++) acc[x] = static_cast<int32_t>(static_cast<float>(sum[x]) / fn);
}

// Post-processing and the store of one row into bytes or 16-bit items.
__attribute__((target_clones("avx2", "default"))) void store8(const Conv& c,
                                                             const int32_t* __restrict acc,
                                                             uint8_t* __restrict o, bool nc) {
  const int32_t nx = c.nx, sh = std::min(c.shift, 31), mx = c.mx, mn = c.mn;
  const uint32_t add = static_cast<uint32_t>(c.add);
  for (int32_t x = 0; x < nx; x++) {
    int32_t v = acc[x];
    if (sh > 0) v >>= sh;
    v = static_cast<int32_t>(static_cast<uint32_t>(v) + add);
    if (mx && v > mx) v = mx;
    if (v < mn) v = mn;
    o[x] = v == INT32_MIN ? 0 : nc ? static_cast<uint8_t>(v & 0xFF) : static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
}

__attribute__((target_clones("avx2", "default"))) void convrow(const Conv& c,
                                                              const uint8_t* const* rows,
                                                              int32_t* __restrict acc) {
  const int32_t nx = c.nx, kw = c.kw, kh = c.kh;
  const int32_t* kern = c.kern.data();
  uint32_t* __restrict u = reinterpret_cast<uint32_t*>(acc);
  std::fill(u, u + nx, 0u);
  for (int j = 0; j < kh; j++)
    for (int i = 0; i < kw; i++) {
      // Products of a byte and a 16-bit weight; sums wrap as 32-bit values.
      const uint32_t k = static_cast<uint32_t>(kern[j * kw + i]);
      if (k == 0) continue;
      const uint8_t* __restrict p = rows[j] + i;
      for (int32_t x = 0; x < nx; x++) u[x] += k * p[x];
    }
}

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

// Standard deviation of n values with the given sum and sum of squares.
int32_t stdev(int64_t sum, int64_t sq, int n) {
  float fn = static_cast<float>(n);
  float fs = static_cast<float>(sum);
  float var = (static_cast<float>(sq) - fs * fs / fn) / fn;
  return var > 0 ? static_cast<int32_t>(std::sqrt(var)) : 0;
}

// One output row of a filter kind, before post-processing.
void filtrow(const Conv& c, const uint8_t* const* rows, int32_t* acc, int32_t* col, uint8_t* gat) {
  const int n = c.kw * c.kh;
  const uint8_t* ctr = rows[c.hy] + c.hx;
  switch (c.kind) {
    case 3: {
      if (n <= 257) {
        // col has room for two 16-bit rows of nx + kw - 1 items.
        auto* c16 = reinterpret_cast<uint16_t*>(col);
        mean16(c, rows, acc, c16, c16 + c.nx + c.kw - 1);
        return;
      }
      winsum(c, rows, acc, col);
      if (255.0 * n < 4194304.0) {
        float fn = static_cast<float>(n);
        for (int32_t x = 0; x < c.nx; x++) acc[x] = static_cast<int32_t>(static_cast<float>(acc[x]) / fn);
      } else {
        for (int32_t x = 0; x < c.nx; x++) acc[x] /= n;
      }
      return;
    }
    case 8: {
      const uint8_t *a = rows[0], *b = rows[1], *cc = rows[2];
      for (int32_t x = 0; x < c.nx; x++) {
        int32_t gy = (a[x] + 2 * a[x + 1] + a[x + 2]) - (cc[x] + 2 * cc[x + 1] + cc[x + 2]);
        int32_t gx = (a[x] + 2 * b[x] + cc[x]) - (a[x + 2] + 2 * b[x + 2] + cc[x + 2]);
        acc[x] = isqrt(static_cast<double>(gx * gx + gy * gy));
      }
      return;
    }
    case 6: case 7: case 9: case 10:
      for (int32_t x = 0; x < c.nx; x++) acc[x] = ctr[x];
      return;
    default:
      break;
  }
  for (int32_t x = 0; x < c.nx; x++) {
    int32_t v = 0;
    int32_t cv = ctr[x];
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
        break;
    }
    acc[x] = v;
  }
}

void onerow(const Conv& c, const uint8_t* const* rows, int32_t* acc, int32_t* col, uint8_t* gat) {
  if (c.code == 269)
    convrow(c, rows, acc);
  else
    filtrow(c, rows, acc, col, gat);
}

void trcrow(const char* head, int r, const uint8_t* p, int32_t n) {
  auto at = [&](int32_t k) { return k >= 0 && k < n ? p[k] : 0; };
  jprintf(dbglun, "%s(%d): %3d %3d %3d %3d ... %3d %3d %3d %3d\n", head, r, at(0), at(1), at(2),
          at(3), at(n - 4), at(n - 3), at(n - 2), at(n - 1));
}

// Bands of rows computed from a source held whole, written into a
// destination held whole (bytes or 16-bit items).
struct Band {
  const Conv* c;
  const uint8_t* src;
  uint8_t* dst;
  int dws;
  bool nc;
};

void bandjob(void* ctx, int64_t lo, int64_t hi) {
  const Band& b = *static_cast<const Band*>(ctx);
  const Conv& c = *b.c;
  size_t w = static_cast<size_t>(c.nx + c.kw - 1);
  // The padded rows of the band's window, kept by source row index.
  std::vector<uint8_t> store(w * static_cast<size_t>(c.kh));
  std::vector<int32_t> have(static_cast<size_t>(c.kh), -1);
  std::vector<const uint8_t*> rows(static_cast<size_t>(c.kh));
  std::vector<int32_t> acc(static_cast<size_t>(c.nx)), col(w);
  std::vector<uint8_t> gat(static_cast<size_t>(c.kw * c.kh));
  for (int64_t y = lo; y < hi; y++) {
    for (int j = 0; j < c.kh; j++) {
      // The window holds kh - 1 - hy rows above the output row and hy below
      // (the rotation of the streamed path gives the same).
      int32_t sy = static_cast<int32_t>(std::clamp<int64_t>(y - (c.kh - 1 - c.hy) + j, 0, c.ny - 1));
      size_t slot = static_cast<size_t>(sy % c.kh);
      uint8_t* buf = store.data() + slot * w;
      if (have[slot] != sy) {
        std::memcpy(buf + c.hx, b.src + static_cast<int64_t>(sy) * c.nx, static_cast<size_t>(c.nx));
        padrow(c, buf);
        have[slot] = sy;
      }
      rows[static_cast<size_t>(j)] = buf;
    }
    onerow(c, rows.data(), acc.data(), col.data(), gat.data());
    if (b.dws == 8) {
      store8(c, acc.data(), b.dst + y * c.nx, b.nc);
    } else {
      uint8_t* o = b.dst + 2 * y * c.nx;
      for (int32_t x = 0; x < c.nx; x++) {
        uint16_t v = stin16(post(c, acc[static_cast<size_t>(x)]), b.nc);
        std::memcpy(o + 2 * x, &v, 2);
      }
    }
  }
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

int conv(int code) {
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
  if (opalias()) in.detach();
  OpWrite out;
  out.start();
  if (!out.d) return 0;

  // Whole image in memory, whole destination: bands of rows in parallel.
  const uint8_t* whole = in.whole();
  uint8_t* dw = out.whole();
  int dws = out.d->Wsiz;
  if (whole && dw && !mask && !(trcmsk & 16) && (dws == 8 || dws == 16) && out.n >= t[OT_CNT] &&
      !(out.d->Flg & K_NUMBER)) {
    Band b{&c, whole, dw, dws, noclmp()};
    prgidx = 0;
    prgtot = static_cast<uint32_t>(c.ny);
    parfor(c.ny, static_cast<int64_t>(c.nx) * c.kw * c.kh, bandjob, &b);
    prgtot = 0;
    out.i = t[OT_CNT];
    out.end();
    return 0;
  }

  // Streamed: kh rotating row buffers.
  size_t w = static_cast<size_t>(c.nx + c.kw - 1);
  std::vector<uint8_t> block(w * static_cast<size_t>(c.kh));
  std::vector<uint8_t*> ptr(static_cast<size_t>(c.kh), block.data());
  std::vector<int32_t> acc(static_cast<size_t>(c.nx)), col(w);
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
      onerow(c, ptr.data(), acc.data(), col.data(), gat.data());
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
    // The window moves down one row.
    uint8_t* dropped = ptr[0];
    for (int j = 0; j + 1 < c.kh; j++) ptr[static_cast<size_t>(j)] = ptr[static_cast<size_t>(j + 1)];
    uint8_t*& slot = ptr[static_cast<size_t>(c.kh - 1)];
    if (r + 1 >= c.ny)
      slot = c.kh > 1 ? ptr[static_cast<size_t>(c.kh - 2)] : dropped;  // the last row again
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

int run_conv(FnCall& c) { return conv(c.code); }
