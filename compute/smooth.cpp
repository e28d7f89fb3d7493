// Smoothing, interpolation, dithering and stereograms (see smooth.h).
#include "compute/smooth.h"

// The running-mean kernels are plain loops; they are vectorised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "compute/arith.h"
#include "compute/expr.h"
#include "compute/fft.h"
#include "compute/fnsvc.h"
#include "compute/func.h"
#include "compute/genrat.h"
#include "compute/opstream.h"
#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "graphics/pen.h"
#include "graphics/redraw.h"
#include "graphics/veclist.h"
#include "ui/events.h"

int (*scrpixhk)(ScrPix* out) = nullptr;

namespace {

// ---------------------------------------------------------------------------
// Running mean.

// The mean of the values from p - (w-1)/2 to p + w/2 that exist, for every
// p; with f the value at p minus that mean. The sum is kept in double:
// each value is added once as the window reaches it and taken out once as
// it leaves. Float values are summed in that order.
void runflt(const float* v, int64_t n, int w, bool f, OpWrite& out) {
  const int64_t ahead = w / 2, behind = (w - 1) / 2;
  double s = 0;
  int64_t c = 0;
  for (int64_t k = 0; k < ahead && k < n; k++) {
    s += v[k];
    c++;
  }
  for (int64_t p = 0; p < n; p++) {
    if ((p & 0xFFFF) == 0) {
      if (stopped()) break;
      prgidx = static_cast<uint32_t>(p);
    }
    if (p + ahead < n) {
      s += v[p + ahead];
      c++;
    }
    double m = s / static_cast<double>(c);
    out.putf(f ? static_cast<double>(v[p]) - m : m);
    if (p - behind >= 0) {
      s -= v[p - behind];
      c--;
    }
  }
}

// Integer values: their double sums are exact, so each window's sum can be
// formed on its own (in 64-bit integers) and the positions split into
// independent runs. Results go to a byte or float destination held whole.
template <typename T>
struct IntRun {
  const T* v;
  int64_t n;
  int w;
  bool f;
  uint8_t* dst;
  int dws;
  bool nc;
};

// clang does not make multiversioned function templates: there the
// kernel is built for the baseline only.
#if defined(__clang__)
#define SMOOTH_CLONES
#else
#define SMOOTH_CLONES __attribute__((target_clones("avx2", "default")))
#endif

template <typename T, typename S>
SMOOTH_CLONES void intstore(const T* __restrict v,
                                                               const S* __restrict s,
                                                               const int32_t* __restrict c,
                                                               int64_t m, bool f, bool nc,
                                                               uint8_t* __restrict o8,
                                                               float* __restrict of) {
  if (of && !f) {
    for (int64_t k = 0; k < m; k++)
      of[k] = static_cast<float>(static_cast<double>(s[k]) / static_cast<double>(c[k]));
    return;
  }
  if (of) {
    for (int64_t k = 0; k < m; k++)
      of[k] = static_cast<float>(static_cast<double>(v[k]) -
                                 static_cast<double>(s[k]) / static_cast<double>(c[k]));
    return;
  }
  if (nc) {
    for (int64_t k = 0; k < m; k++) {
      double mean = static_cast<double>(s[k]) / static_cast<double>(c[k]);
      o8[k] = stfl8(nrwflt(f ? static_cast<double>(v[k]) - mean : mean), true);
    }
    return;
  }
  // The clamped truncation of the byte store rule; the values here are
  // finite, and -0.0 stores 0 either way.
  if constexpr (sizeof(T) == 1) {
    if (!f) {
      // Sums below 2^24 and counts below 256: the float quotient is the
      // double quotient rounded to float (no double rounding can differ).
      for (int64_t k = 0; k < m; k++) {
        float y = static_cast<float>(s[k]) / static_cast<float>(c[k]);
        y = y < 255.0f ? y : 255.0f;
        o8[k] = static_cast<uint8_t>(static_cast<int32_t>(y));
      }
      return;
    }
  }
  for (int64_t k = 0; k < m; k++) {
    double mean = static_cast<double>(s[k]) / static_cast<double>(c[k]);
    float y = static_cast<float>(f ? static_cast<double>(v[k]) - mean : mean);
    y = y > 0.0f ? y : 0.0f;
    y = y < 255.0f ? y : 255.0f;
    o8[k] = static_cast<uint8_t>(static_cast<int32_t>(y));
  }
}

// Sums of bytes fit 32 bits (at most 255 of them).
template <typename T>
using SumT = std::conditional_t<sizeof(T) == 1, int32_t, int64_t>;

template <typename T>
void intjob(void* ctx, int64_t lo, int64_t hi) {
  const IntRun<T>& j = *static_cast<const IntRun<T>*>(ctx);
  const int64_t ahead = j.w / 2, behind = (j.w - 1) / 2;
  constexpr int64_t CH = 4096;
  SumT<T> s[CH];
  int32_t c[CH];
  for (int64_t p0 = lo * CH; p0 < std::min(hi * CH, j.n); p0 += CH) {
    int64_t m = std::min(CH, j.n - p0);
    int64_t a = std::max<int64_t>(p0 - behind, 0), b = std::min(p0 + ahead, j.n - 1);
    SumT<T> sum = 0;
    for (int64_t k = a; k <= b; k++) sum += j.v[k];
    s[0] = sum;
    c[0] = static_cast<int32_t>(b - a + 1);
    if (p0 - behind - 1 >= -1 && p0 + m - 1 + ahead < j.n && p0 - behind >= 0) {
      // Inside the data: every window is whole.
      const T* add = j.v + p0 + ahead;
      const T* sub = j.v + p0 - behind - 1;
      for (int64_t k = 1; k < m; k++) {
        sum += static_cast<SumT<T>>(add[k]) - static_cast<SumT<T>>(sub[k]);
        s[k] = sum;
      }
      std::fill(c + 1, c + m, j.w);
    } else {
      for (int64_t k = 1; k < m; k++) {
        int64_t p = p0 + k;
        if (p + ahead < j.n) sum += j.v[p + ahead];
        if (p - behind - 1 >= 0) sum -= j.v[p - behind - 1];
        s[k] = sum;
        c[k] = static_cast<int32_t>(std::min(p + ahead, j.n - 1) - std::max<int64_t>(p - behind, 0) + 1);
      }
    }
    if (j.dws == W_BYTE)
      intstore<T, SumT<T>>(j.v + p0, s, c, m, j.f, j.nc, j.dst + p0, nullptr);
    else
      intstore<T, SumT<T>>(j.v + p0, s, c, m, j.f, j.nc, nullptr, reinterpret_cast<float*>(j.dst) + p0);
  }
}

template <typename T>
void runint(const T* v, int64_t n, int w, bool f, OpWrite& out) {
  uint8_t* d = out.whole();
  int dws = out.d->Wsiz;
  if (d && (dws == W_BYTE || dws == W_FLOAT) && out.n >= n) {
    IntRun<T> j{v, n, w, f, d, dws, noclmp()};
    parfor((n + 4095) / 4096, 4096 * 4, intjob<T>, &j);
    out.i = static_cast<int32_t>(n);
    return;
  }
  const int64_t ahead = w / 2, behind = (w - 1) / 2;
  int64_t s = 0, c = 0;
  for (int64_t k = 0; k < ahead && k < n; k++) {
    s += v[k];
    c++;
  }
  for (int64_t p = 0; p < n; p++) {
    if ((p & 0xFFFF) == 0) {
      if (stopped()) break;
      prgidx = static_cast<uint32_t>(p);
    }
    if (p + ahead < n) {
      s += v[p + ahead];
      c++;
    }
    double m = static_cast<double>(s) / static_cast<double>(c);
    out.putf(f ? static_cast<double>(v[p]) - m : m);
    if (p - behind >= 0) {
      s -= v[p - behind];
      c--;
    }
  }
}

// Vector smoothing over the records of a vector variable or of the whole
// vector list (list null).
int vsmooth(PtrRec* list, int w) {
  if (list && (list->Flg2 & 0x70)) {
    error(2, 134);
    return -1;
  }
  int32_t first = list ? static_cast<int32_t>(list->Offs[1]) : 0;
  int32_t count = list ? optab[OT_RCNT] : INT32_MAX;
  struct Pt {
    int32_t index;
    int16_t x, y, z;
    uint8_t colour, width;
  };
  std::vector<Pt> ring;
  int32_t sx = 0, sy = 0, sz = 0;
  auto emit = [&](bool drain) {
    // The average replaces the oldest pending line-to point.
    while (static_cast<int>(ring.size()) >= 2) {
      if (ring.size() > 2) {
        int32_t n = static_cast<int32_t>(ring.size());
        Pt& o = ring[1];
        int16_t prev[3] = {ring[0].x, ring[0].y, ring[0].z};
        vmove(prev);
        vdraw(o.index, 1);
        putvec(o.index, sx / n, sy / n, sz / n, 1, o.colour, o.width);
        vmove(prev);
        vdraw(o.index, 0);
      }
      if (!drain && static_cast<int>(ring.size()) < w) break;
      sx -= ring[0].x;
      sy -= ring[0].y;
      sz -= ring[0].z;
      ring.erase(ring.begin());
      if (!drain) break;
    }
  };
  uint8_t exp[12];
  for (int32_t k = 0; k < count; k++) {
    if (stopped()) break;
    if (!getvec(list, first + k, exp, 1)) break;
    int code = exp[0];
    int16_t x, y, z;
    std::memcpy(&x, exp + 6, 2);
    std::memcpy(&y, exp + 8, 2);
    std::memcpy(&z, exp + 10, 2);
    Pt pt{first + k, x, y, z, exp[2], exp[1]};
    if (code == 1) {
      ring.push_back(pt);
      sx += x;
      sy += y;
      sz += z;
      if (static_cast<int>(ring.size()) >= std::min(w, 3)) emit(false);
    } else {
      emit(true);
      ring.clear();
      sx = sy = sz = 0;
      if (code == 2) {
        ring.push_back(pt);
        sx = x;
        sy = y;
        sz = z;
      }
    }
    chkio(0);
  }
  emit(true);
  return 0;
}

}  // namespace

int su_smooth(FnCall& c) {
  // A bad width is refused before the destination is made.
  int w = intarg(3, 3);
  if (w < 1 || w > 255) return fnrefus(c, 3, 109);
  // No destination: the source itself is rewritten, and nothing is pushed.
  // Without operands the vector list is smoothed; nothing is made either.
  if (c.dest <= 0 && (optab[OT_REC] || c.n == 0)) c.defer++;
  return FS_GO;
}

int run_smooth(FnCall& c) {
  int32_t* t = optab;
  c.defer = 0;
  int w = intarg(3, 3);
  if (w > 256) w = 256;
  if (w < 1 || w > 255) {
    error(3, 109);
    return -1;
  }
  bool f = intarg(4, 0) != 0;
  PtrRec* src = oprec(0);
  if (!src || (t[OT_KIND] & K_VECTOR)) return vsmooth(src, w);
  int32_t n = t[OT_CNT];
  if (n < 1) return 0;

  // The values first (the destination may be the source itself).
  OpRead in;
  in.start(0);
  bool integer = src->Wsiz == W_BYTE || src->Wsiz == W_SHORT || src->Wsiz == W_LONG;
  std::vector<uint8_t> bv;
  std::vector<int32_t> iv;
  std::vector<float> fv;
  prgidx = 0;
  prgtot = static_cast<uint32_t>(n);
  const uint8_t* direct = nullptr;
  if (const uint8_t* p = in.whole(); p && src->Wsiz == W_BYTE) {
    // Read in place unless the destination is the source itself.
    if (t[OT_REC + 2] && !opalias())
      direct = p;
    else
      bv.assign(p, p + n);
  } else if (integer) {
    iv.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n && !stopped(); i++) iv[static_cast<size_t>(i)] = in.geti();
  } else {
    fv.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n && !stopped(); i++) fv[static_cast<size_t>(i)] = static_cast<float>(in.getf());
  }
  if (stopped()) {
    prgtot = 0;
    return -1;
  }
  if (!t[OT_REC + 2]) {
    // In place: the source is written as the destination.
    t[OT_REC + 2] = t[OT_REC];
    t[OT_KIND + 2] = gtvarb(src, &t[OT_CNT + 2], &t[OT_BUF + 2], &t[OT_TOT + 2], &t[OT_WSIZ + 2], 1);
  }
  OpWrite out;
  out.start();
  if (!out.d) return 0;
  if (direct)
    runint<uint8_t>(direct, n, w, f, out);
  else if (!bv.empty())
    runint<uint8_t>(bv.data(), n, w, f, out);
  else if (integer)
    runint<int32_t>(iv.data(), n, w, f, out);
  else
    runflt(fv.data(), n, w, f, out);
  out.end();
  prgtot = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Interpolation.

int linab(float x0, float y0, float x1, float y1, float* a, float* b) {
  if (x1 != x0) {
    *a = (y1 - y0) / (x1 - x0);
    *b = y0 - x0 * *a;
    return 1;
  }
  *b = y0 + (y1 - y0) / 2;
  return 0;
}

void spline(const float* px, const float* py, const float* chord, int n, const float* xs,
            float* ys) {
  double t[4] = {0, chord[0], chord[0] + chord[1], chord[0] + chord[1] + chord[2]};
  bool flat = !(t[1] < t[2]) || !(t[0] < t[1]) || !(t[2] < t[3]);
  auto lag = [&](const float* v, double u) {
    double s = 0;
    for (int i = 0; i < 4; i++) {
      double l = v[i];
      for (int j = 0; j < 4; j++)
        if (j != i) l *= (u - t[j]) / (t[i] - t[j]);
      s += l;
    }
    return s;
  };
  for (int k = 0; k < n; k++) {
    double x = xs[k];
    if (flat || px[2] == px[1]) {
      double d = px[2] - px[1];
      double u = d != 0 ? (x - px[1]) / d : 0;
      ys[k] = static_cast<float>(py[1] + u * (py[2] - py[1]));
      continue;
    }
    // The parameter where the curve's x is the wanted x, by bisection
    // between the segment's two points.
    double lo = t[1], hi = t[2];
    bool up = px[2] > px[1];
    for (int it = 0; it < 60; it++) {
      double mid = 0.5 * (lo + hi);
      double xm = lag(px, mid);
      if ((xm < x) == up)
        lo = mid;
      else
        hi = mid;
    }
    ys[k] = static_cast<float>(lag(py, 0.5 * (lo + hi)));
  }
}

// The table is checked before the destination is made: a refused call
// leaves it as it was.
int su_ipolat(FnCall& c) {
  int32_t* t = optab;
  if (c.n < 3) return fnrefus(c, 0, 47);
  int32_t h = 0, ny = 0;
  if (!(argtyp(4, &h) & K_DATA) || !argary(4, &ny)) return fnrefus(c, 4, 35);
  int32_t nx = t[OT_CNT + 1];
  if (!oprec(1) || nx != ny || nx < 2) return fnrefus(c, nx > ny ? 3 : 2, 82);
  return FS_GO;
}

int run_ipolat(FnCall& c) {
  int32_t* t = optab;
  if (c.n < 3) {
    error(0, 47);
    return -1;
  }
  int32_t nx = t[OT_CNT + 1], ny = 0;
  auto* ty = static_cast<const float*>(aryarg(4, 0, 0, 96, &ny, nullptr));
  if (state & ST_ERROR) return -1;
  if (!ty || !oprec(1) || nx != ny || nx < 2) {
    error(nx > ny ? 3 : 2, 82);
    return -1;
  }
  int32_t m = nx;
  // The pair table: with up to 1000 points one extrapolated pair before the
  // data and two after.
  std::vector<float> px, py;
  bool extra = m <= 1000;
  px.reserve(static_cast<size_t>(m + 3));
  py.reserve(static_cast<size_t>(m + 3));
  {
    std::vector<float> xs(static_cast<size_t>(m));
    OpRead tx;
    tx.start(1);
    for (int32_t i = 0; i < m; i++) xs[static_cast<size_t>(i)] = static_cast<float>(tx.getf());
    float a = 0, b = 0;
    if (extra) {
      linab(xs[0], ty[0], xs[1], ty[1], &a, &b);
      px.push_back(xs[0] - 1);
      py.push_back(a * (xs[0] - 1) + b);
    }
    for (int32_t i = 0; i < m; i++) {
      px.push_back(xs[static_cast<size_t>(i)]);
      py.push_back(ty[i]);
    }
    if (extra) {
      float xl = xs[static_cast<size_t>(m - 1)];
      a = 0;
      linab(xs[static_cast<size_t>(m - 2)], ty[m - 2], xl, ty[m - 1], &a, &b);
      for (int k = 1; k <= 2; k++) {
        px.push_back(xl + static_cast<float>(k));
        py.push_back(a * (xl + static_cast<float>(k)) + b);
      }
    }
  }
  const int32_t M = static_cast<int32_t>(px.size());
  // The data's own first and last x: outside them the spline mode is
  // linear, also where the extrapolated pairs would give it a segment.
  const float xfirst = px[extra ? 1 : 0], xlast = px[static_cast<size_t>(extra ? m : m - 1)];
  int mode = intarg(5, 0);
  OpRead in;
  in.start(0);
  if (opalias()) in.detach();
  OpWrite out;
  out.start();
  if (!out.d) return 0;
  int32_t n = std::min(t[OT_CNT], out.n);
  int32_t seg = -1, idx = 0, same = 0;
  bool raised = false;
  float a = 0, b = 0;  // the slope starts at 0
  prgidx = 0;
  prgtot = static_cast<uint32_t>(n);
  for (int32_t i = 0; i < n; i++) {
    if (stopped()) break;
    float x = static_cast<float>(in.getf());
    if (seg >= 0 && x < px[static_cast<size_t>(seg)]) idx = 0;
    if (seg < 0) idx = 0;
    while (idx < M && !(px[static_cast<size_t>(idx)] > x)) idx++;
    int32_t s = idx - 1;
    raised = false;
    if (s < 0) {
      s = 0;
      raised = true;
    }
    if (s >= M - 1) {
      s = M - 2;
      raised = true;
    }
    idx = s;
    float x0 = px[static_cast<size_t>(s)], y0 = py[static_cast<size_t>(s)];
    float x1 = px[static_cast<size_t>(s + 1)], y1 = py[static_cast<size_t>(s + 1)];
    if (s != seg) {
      same = 0;
      // An equal-x segment is loaded again at the next value.
      seg = linab(x0, y0, x1, y1, &a, &b) ? s : -1;
    } else {
      same++;
    }
    float v = 0;
    switch (mode) {
      case 1: v = y0; break;
      case 2: v = x0; break;
      case 4: v = y0 + static_cast<float>(same); break;
      case 5: v = same ? 0.0f : y0; break;
      case 3:
        if (!raised && !(x < xfirst) && !(x > xlast)) {
          float qx[4], qy[4], ch[4] = {0, 0, 0, 0};
          for (int k = 0; k < 4; k++) {
            int32_t j = s - 1 + k;
            if (j < 0) {
              qx[k] = x0 - 1;
              qy[k] = y0;
            } else if (j >= M) {
              qx[k] = x1 + 1;
              qy[k] = y1;
            } else {
              qx[k] = px[static_cast<size_t>(j)];
              qy[k] = py[static_cast<size_t>(j)];
            }
          }
          for (int k = 0; k < 3; k++)
            ch[k] = std::hypot(qx[k + 1] - qx[k], qy[k + 1] - qy[k]);
          spline(qx, qy, ch, 1, &x, &v);
          break;
        }
        [[fallthrough]];
      default:
        v = a * x + b;
        break;
    }
    out.putf(v);
    prgidx = static_cast<uint32_t>(i + 1);
  }
  out.end();
  prgtot = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Dither.

namespace {

// Pixels per element of a bit image: 1 for bit items, 8 for bytes.
int pixper(int wsiz) { return wsiz == W_BIT ? 1 : 8; }

// Changes operand 1's first two extents (and its count) for the sizing of
// the destination; rstsize puts them back.
void setsize(FnCall& c, uint32_t nx, uint32_t ny) {
  int32_t* t = optab;
  PtrRec* r = oprec(0);
  c.keep[0] = static_cast<int32_t>(r->Offs[3]);
  c.keep[1] = static_cast<int32_t>(r->Offs[4]);
  c.keep[2] = t[OT_CNT];
  uint32_t nz = std::max<uint32_t>(r->Offs[5], 1);
  r->Offs[3] = nx;
  r->Offs[4] = ny;
  int64_t cnt = static_cast<int64_t>(nx) * ny * nz;
  t[OT_RCNT] = t[OT_CNT] = static_cast<int32_t>(std::min<int64_t>(cnt, INT32_MAX));
}

void rstsize(FnCall& c) {
  PtrRec* r = oprec(0);
  if (!r || c.keep[2] == 0) return;
  r->Offs[3] = static_cast<uint32_t>(c.keep[0]);
  r->Offs[4] = static_cast<uint32_t>(c.keep[1]);
  optab[OT_CNT] = c.keep[2];
  c.keep[2] = 0;
}

}  // namespace

int su_dither(FnCall& c) {
  int32_t* t = optab;
  snapin(c.dest);
  int32_t cnt = 0, d[3] = {0, 0, 0};
  void* k = nullptr;
  int32_t h = 0;
  if (argtyp(3, &h) & 0x7C0) k = aryarg(3, 0, 0, 16, &cnt, d);
  PtrRec* r = oprec(0);
  if (!k || d[0] < 1 || d[0] != d[1] || !r) {
    if (!(state & ST_ERROR)) error(3, 161);
    c.ret = 0;
    return FS_RET;
  }
  // The source is an image of nx x ny pixels: a number has no extents.
  if (!(t[OT_KIND] & K_DIMS) || (t[OT_KIND] & K_NUMBER)) {
    error(2, 161);
    c.ret = 0;
    return FS_RET;
  }
  int s = d[0];
  c.aux = s;
  int32_t px = static_cast<int32_t>(r->Offs[3]) * pixper(t[OT_WSIZ]);
  int32_t rows = std::max<int32_t>(static_cast<int32_t>(r->Offs[4]), 1);
  uint32_t ow = static_cast<uint32_t>(std::min(px / s, 32766)) & ~1u;
  setsize(c, ow, static_cast<uint32_t>(rows / s));
  return FS_GO;
}

int run_dither(FnCall& c) {
  rstsize(c);
  int32_t* t = optab;
  if (!oprec(2)) {
    error(2, 70);
    return -1;
  }
  int k = c.aux;
  int32_t cnt = 0, d[3];
  auto* wt = static_cast<const int16_t*>(aryarg(3, 0, 0, 16, &cnt, d));
  PtrRec* r = oprec(0);
  if (!wt || !r || k < 1) return -1;
  int per = pixper(t[OT_WSIZ]);
  int32_t nx = static_cast<int32_t>(r->Offs[3]) * per;
  int32_t ny = t[OT_CNT] / std::max<int32_t>(static_cast<int32_t>(r->Offs[3]), 1);
  int32_t ow = std::min(nx / k, 32766) & ~1;
  int32_t oh = ny / k;
  OpRead in;
  if (!snapout(in)) {
    in.start(0);
    if (opalias()) in.detach();
  }
  OpWrite out;
  out.start();
  std::vector<uint8_t> bits(static_cast<size_t>(nx) * static_cast<size_t>(k));
  std::vector<uint8_t> raw(static_cast<size_t>((nx + 7) / 8));
  prgidx = 0;
  prgtot = static_cast<uint32_t>(oh);
  for (int32_t y = 0; y < oh; y++) {
    if (stopped()) break;
    for (int j = 0; j < k; j++) {
      uint8_t* row = bits.data() + static_cast<size_t>(j) * static_cast<size_t>(nx);
      if (per == 8) {
        int32_t got = in.bytes(raw.data(), nx / 8);
        for (int32_t b = got; b < nx / 8; b++) raw[static_cast<size_t>(b)] = 0;
        for (int32_t x = 0; x < nx; x++) row[x] = (raw[static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1;
      } else {
        for (int32_t x = 0; x < nx; x++) row[x] = in.geti() ? 1 : 0;
      }
    }
    for (int32_t o = 0; o < ow; o++) {
      int32_t sum = 0;
      for (int cc = 0; cc < k; cc++) {
        int32_t x = o * k + cc;
        for (int j = 0; j < k; j++)
          if (bits[static_cast<size_t>(j) * static_cast<size_t>(nx) + static_cast<size_t>(x)])
            sum += wt[j * k + cc];
      }
      out.puti(sum);
    }
    prgidx = static_cast<uint32_t>(y + 1);
    chkio(0);
  }
  out.end();
  prgtot = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Stereogram.

int su_stereo(FnCall& c) {
  int32_t* t = optab;
  snapin(c.dest);
  PtrRec* r = oprec(0);
  int32_t w = r ? static_cast<int32_t>(r->Offs[3]) : 0;
  if (!r || !(t[OT_KIND] & 0x680) || w < 1) {
    error(2, 161);
    c.ret = 0;
    return FS_RET;
  }
  int32_t ny = static_cast<int32_t>(r->Offs[4]);
  int32_t s;
  if ((t[OT_KIND + 1] & 0x7C0) && ny != 0) {
    s = t[OT_CNT + 1] / ny;
    if (s > w) s -= w;
  } else {
    s = intarg(3, 0);
  }
  if (s < 1) s = w;
  c.aux = s;
  trcint(8, "zstereo", w, s, t[OT_CNT], ny, 0, 0);
  t[OT_RWSZ] = W_BYTE;
  int32_t rows = t[OT_CNT] / w;
  setsize(c, static_cast<uint32_t>(w + s), static_cast<uint32_t>(std::max<int32_t>(ny, 1)));
  t[OT_RCNT] = t[OT_CNT] = static_cast<int32_t>(
      std::min<int64_t>(static_cast<int64_t>(rows) * (w + s), INT32_MAX));
  return FS_GO;
}

int run_stereo(FnCall& c) {
  rstsize(c);
  int32_t* t = optab;
  PtrRec* r = oprec(0);
  if (!r || !oprec(2)) return 0;
  const int32_t W = static_cast<int32_t>(r->Offs[3]);
  const int32_t P = c.aux;
  const int32_t H = t[OT_CNT] / W;
  const int32_t L = W + P;
  int flags = intarg(4, 0);
  float a6 = fltarg(6, 255.0f);
  double q = static_cast<double>(fltarg(5, 1.0f)) / a6;
  double mu = fltarg(7, 0.3333f);
  double E = fltarg(8, static_cast<float>(2 * P));
  if (a6 < 1 || E * mu == 0) return 0;
  bool pattern = oprec(1) && t[OT_CNT + 1] > H;
  if (!pattern) flags |= 0x100;
  int32_t pw = pattern ? t[OT_CNT + 1] / std::max(H, 1) : 0;
  int32_t m = std::clamp<int32_t>(static_cast<int32_t>(std::lround(0.05 * H)), 2, 10);

  OpRead in, pat;
  if (!snapout(in)) {
    in.start(0);
    if (opalias()) in.detach();
  }
  if (pattern) pat.start(1);
  OpWrite out;
  out.start();
  std::vector<int32_t> same(static_cast<size_t>(L)), row(static_cast<size_t>(L));
  std::vector<double> z(static_cast<size_t>(W));
  prgidx = 0;
  prgtot = static_cast<uint32_t>(H);
  for (int32_t y = 0; y < H; y++) {
    if (stopped()) break;
    for (int32_t x = 0; x < L; x++) same[static_cast<size_t>(x)] = x;
    for (int32_t x = 0; x < W; x++) z[static_cast<size_t>(x)] = in.getf() * q;
    if (flags & 0x100) {
      for (int32_t x = 0; x < L; x++) row[static_cast<size_t>(x)] = rndnxt() & 0xFF;
    } else {
      for (int32_t x = 0; x < pw; x++) {
        int32_t v = pat.geti();
        if (x < P) row[static_cast<size_t>(W + x)] = iclmp(v, 0, 255);
      }
      for (int32_t x = W - 1; x >= 0; x--) row[static_cast<size_t>(x)] = row[static_cast<size_t>(x + P)];
    }
    for (int32_t x = 0; x < W; x++) {
      double zx = z[static_cast<size_t>(x)];
      double sv = (1 - mu * zx) * E / (2 - mu * zx);
      if (!(std::fabs(sv) < 1e9)) continue;  // no separation for this depth
      int32_t s = static_cast<int32_t>(std::lround(sv));
      int32_t left = x - s / 2 + P / 2;
      int32_t right = left + s;
      if (left < 0 || right >= L || left > right) continue;
      int hid = 0;
      if (!(flags & 4)) {
        for (int32_t tt = 1;; tt++) {
          double zt = zx + (2 - mu * zx) * 2 * tt / (E * mu);
          if (zt >= 1) break;
          if (x - tt >= 0 && z[static_cast<size_t>(x - tt)] >= zt) hid |= 1;
          if (x + tt < W && z[static_cast<size_t>(x + tt)] >= zt) hid |= 2;
          if (hid || (x - tt < 0 && x + tt >= W)) break;
        }
      }
      if (!hid) {
        // A hidden mark (negative, flag 2) ends the walk where it stands: it is
        // neither followed nor overwritten, so it keeps its value for the row.
        int32_t k = same[static_cast<size_t>(left)];
        while (k >= 0 && k != left && k != right) {
          if (k < right) {
            left = k;
            k = same[static_cast<size_t>(left)];
          } else {
            same[static_cast<size_t>(left)] = right;
            left = right;
            right = k;
            k = same[static_cast<size_t>(left)];
          }
        }
        if (k >= 0) same[static_cast<size_t>(left)] = right;
      } else if (flags & 2) {
        same[static_cast<size_t>(x)] = -hid;
      }
    }
    for (int32_t x = L - 1; x >= 0; x--) {
      int32_t l = same[static_cast<size_t>(x)];
      if (l == x) continue;
      if (l >= 0)
        row[static_cast<size_t>(x)] = row[static_cast<size_t>(l)];
      else
        row[static_cast<size_t>(x)] = 1 - l;
    }
    if ((flags & 1) && y >= H - 2 * m && y <= H - m - 1) {
      for (int32_t k = 0; k < m; k++) {
        int32_t x = (W - m) / 2 + k;
        if (x >= 0 && x < L) row[static_cast<size_t>(x)] = 255;
        if (x + P >= 0 && x + P < L) row[static_cast<size_t>(x + P)] = 255;
      }
    }
    out.ints(row.data(), L);
    prgidx = static_cast<uint32_t>(y + 1);
    chkio(0);
  }
  out.end();
  prgtot = 0;
  return 0;
}

int stereoscreen(int offset, int d, int* x, int* y, int* width, int* rowbytes, int* lskip,
                 int* rskip, uint8_t** left, uint8_t** right) {
  ScrPix sp{nullptr, 0, 0, 0};
  if (!scrpixhk || scrpixhk(&sp) <= 0 || !sp.mem || d != sp.bits || d < 1 || sp.rowbytes < 1)
    return -1;
  int sw = sp.rowbytes * 8 / d;
  if (offset > 0 && (*width > offset || offset > sw - *width)) return -1;
  // The rectangle (with the right half's offset) must lie on the screen.
  int64_t extra = offset > 0 ? offset : 0;
  if (*x < 0 || *y < 0 || *width < 0 || *x / 2 + extra + (*width - *width / 2) > sw ||
      *y >= sp.rows)
    return -1;
  int half = *width / 2;
  *rowbytes = sp.rowbytes;
  *lskip = half * d / 8;
  *rskip = (*width - half) * d / 8;
  int64_t start = static_cast<int64_t>(*x / 2) * d / 8 + static_cast<int64_t>(*y) * sp.rowbytes;
  *left = sp.mem + start;
  *right = sp.mem + start + static_cast<int64_t>(offset > 0 ? offset : 0) * d / 8;
  if (offset == -1) *rskip = -*rskip;
  if (offset == -2) {
    *lskip = -*lskip;
    *right = *left;
  }
  *x /= 2;
  *width = half;
  if (trcmsk)
    jprintf(dbglun, "stereoscreen: %d  %d %d\n", static_cast<int>(reinterpret_cast<intptr_t>(sp.mem)),
            d, static_cast<int>(start));
  return 1;
}
