// Line fits, the affine fit and the transformation of points. Their
// arithmetic is in 32-bit floats, in the order the sums are written here,
// except the least-squares sums of the line fit, which are doubles.
#include "compute/fit.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "compute/expr.h"
#include "compute/funcs.h"
#include "compute/rank.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "ui/events.h"

namespace {

// Iteration caps of the robust fit: its bracketing walks by a fixed step,
// its bisection halves the interval.
constexpr int MAXBRK = 1000;
constexpr int MAXBIS = 200;

// A float array from the heap, given back when it goes out of scope.
struct Flts {
  float* p = nullptr;
  explicit Flts(int64_t n) {
    if (n >= 0 && n < (int64_t{1} << 29)) p = static_cast<float*>(getmem(static_cast<size_t>(n + 1) * 4));
  }
  ~Flts() {
    if (p) fremem(p);
  }
  Flts(const Flts&) = delete;
  Flts& operator=(const Flts&) = delete;
};

// Operand k's first n items as floats; false when fewer could be read.
bool rdopnd(int k, float* out, int32_t n) {
  PtrRec* r = oprec(k);
  if (!r) return false;
  return rdflts(r, &optab[OT_BUF + k], out, n) == n;
}

// The extent of operand record r along axis a, at least 1.
int32_t ext(const PtrRec* r, int a) {
  uint32_t v = r->Offs[3 + a] ? r->Offs[3 + a] : r->Datdims[a];
  return v < 1 ? 1 : static_cast<int32_t>(std::min<uint32_t>(v, INT32_MAX));
}

// The robust fit's state.
struct Robust {
  const float* x;
  const float* y;
  float* w;
  int32_t n;
  float aa = 0.0f;     // intercept of the last call
  float abdev = 0.0f;  // total absolute deviation of the last call
};

// For slope b: the median intercept, the absolute deviations, and the sum
// of x over points above the line minus the sum over the others.
float rofunc(Robust& s, float b) {
  int32_t n = s.n;
  for (int32_t j = 0; j < n; j++) s.w[j] = s.y[j] - b * s.x[j];
  std::sort(s.w, s.w + n, [](float a, float c) { return a < c; });
  int32_t k = (n + 1) / 2 - 1;
  s.aa = (s.w[k] + s.w[n - 1 - k]) / 2.0f;
  float sum = 0.0f, ab = 0.0f;
  for (int32_t j = 0; j < n; j++) {
    float d = s.y[j] - (b * s.x[j] + s.aa);
    ab += std::fabs(d);
    sum += d > 0.0f ? s.x[j] : -s.x[j];
  }
  s.abdev = ab;
  if ((trcmsk & 16) == 16) {
    int32_t lo = std::max(k - 2, 0);
    float v[5];
    for (int q = 0; q < 5; q++) v[q] = s.w[std::min(lo + q, n - 1)];
    jprintf(dbglun,
            "rofunc(%7.1f) %2d %2d aa=%7.1f arr(%d:%d)=%7.1f %7.1f %7.1f %7.1f %7.1f ab=%7.1f "
            "s=%7.1f\n",
            b, k, n - 1 - k, s.aa, lo, std::min(lo + 4, n - 1), v[0], v[1], v[2], v[3], v[4], ab,
            sum);
  }
  return sum;
}

}  // namespace

// ---------------------------------------------------------------------------
// The line fit.

int fit(float* res, int mode) {
  int32_t* t = optab;
  int32_t n = t[OT_CNT];
  if (!oprec(0) || n < 3 || !oprec(1) || t[OT_CNT + 1] != n) return -1;
  Flts x(n), y(n), w(n);
  if (!x.p || !y.p || !w.p) {
    error(0, 126);
    return -1;
  }
  if (!rdopnd(0, x.p, n) || !rdopnd(1, y.p, n)) return -1;
  // The sums, D and the line are taken in doubles, as the reductions keep
  // their sums: in floats an exact line over thousands of points, or x far
  // from 0, loses the slope to rounding.
  double sx = 0.0, sy = 0.0, sxy = 0.0, sxx = 0.0;
  for (int32_t j = 0; j < n; j++) {
    const double xj = x.p[j], yj = y.p[j];
    sx += xj;
    sy += yj;
    sxy += xj * yj;
    sxx += xj * xj;
  }
  const double fn = n;
  double D = fn * sxx - sx * sx;
  // D is n times the sum of squared deviations of x: never below 0. What
  // rounding leaves of it when every x is equal counts as 0.
  if (!(D > fn * sxx * fn * 4.0 * DBL_EPSILON)) D = 0.0;
  double da, db, dq = 0.0, ds = 0.0;
  if (D == 0.0) {
    db = 0.0;
    da = sy / fn;
  } else {
    da = (sxx * sy - sx * sxy) / D;
    db = (fn * sxy - sx * sy) / D;
    if (mode != 0) {
      for (int32_t j = 0; j < n; j++) {
        const double e = y.p[j] - (da + db * x.p[j]);
        dq += e * e;
      }
      ds = std::sqrt(dq / D);
    }
  }
  float a = nrwflt(da), b = nrwflt(db), q = nrwflt(dq), s = nrwflt(ds);
  float spread = s;
  if (mode > 1) {
    Robust st{x.p, y.p, w.p, n};
    if (!(s > 0.0f) || !std::isfinite(s)) {
      // Collinear points (or all x equal): the least-squares line is the
      // robust line too; no bracket can be found around it.
      rofunc(st, b);
      spread = st.abdev / fn;
    } else {
      float b1 = b, f1 = rofunc(st, b1);
      float b2 = f1 > 0.0f ? b1 + 3.0f * std::fabs(s) : b1 - 3.0f * std::fabs(s);
      float f2 = rofunc(st, b2);
      int it = 0;
      while (f1 * f2 > 0.0f && it++ < MAXBRK && !stopped()) {
        float bn = 2.0f * b2 - b1;
        b1 = b2;
        f1 = f2;
        b2 = bn;
        f2 = rofunc(st, b2);
        chkio(0);
      }
      if (f1 * f2 > 0.0f) {
        // No change of sign: the least-squares line stands.
        rofunc(st, b);
        b2 = b;
        st.aa = a;
      }
      float slope = b2;
      float tol = 0.01f * s;
      it = 0;
      while (std::fabs(b2 - b1) > tol && it++ < MAXBIS && !stopped()) {
        float bm = (b1 + b2) / 2.0f;
        if (bm == b1 || bm == b2) break;
        slope = bm;
        float f = rofunc(st, bm);
        if (f * f1 >= 0.0f) {
          f1 = f;
          b1 = bm;
        } else {
          f2 = f;
          b2 = bm;
        }
        chkio(0);
      }
      b = slope;
      a = st.aa;
      spread = st.abdev / fn;
    }
  }
  res[0] = b;
  res[1] = a;
  res[2] = mode != 0 ? spread : 0.0f;
  res[3] = q;
  return 1;
}

// ---------------------------------------------------------------------------
// The affine fit.

int aff_fit(float* res, int mode) {
  (void)mode;
  PtrRec* r1 = oprec(0);
  PtrRec* r2 = oprec(1);
  if (!r1 || !r2) return -1;
  int32_t d = ext(r1, 0), n = ext(r1, 1);
  if (ext(r2, 0) != d || ext(r2, 1) != n || d < 2 || d > 3) return -1;
  int64_t dn = static_cast<int64_t>(d) * n;
  if (optab[OT_CNT] < dn || optab[OT_CNT + 1] < dn) return -1;
  Flts pts(2 * dn);
  if (!pts.p) {
    error(0, 126);
    return -1;
  }
  float* X = pts.p;
  float* Y = pts.p + dn;
  if (!rdopnd(0, X, static_cast<int32_t>(dn)) || !rdopnd(1, Y, static_cast<int32_t>(dn))) return -1;
  if (n < d) {
    std::fflush(stdout);
    std::fputs("Too few points => under-determined system.\n", stdout);
    std::fflush(stdout);
    return 0;
  }
  const int m = d + 1, cols = m + d;
  float A[4][7] = {};
  for (int32_t p = 0; p < n; p++) {
    float xe[4];
    for (int k = 0; k < d; k++) xe[k] = X[p * d + k];
    xe[d] = 1.0f;
    for (int i = 0; i < m; i++) {
      for (int j = 0; j < m; j++) A[i][j] += xe[i] * xe[j];
      for (int j = 0; j < d; j++) A[i][m + j] += xe[i] * Y[p * d + j];
    }
  }
  // Gauss-Jordan elimination with partial pivoting.
  for (int c = 0; c < m; c++) {
    int piv = c;
    for (int i = c + 1; i < m; i++)
      if (std::fabs(A[i][c]) > std::fabs(A[piv][c])) piv = i;
    if (piv != c)
      for (int j = 0; j < cols; j++) std::swap(A[c][j], A[piv][j]);
    if (!(std::fabs(A[c][c]) > 1e-40f)) return 0;  // singular
    for (int i = c + 1; i < m; i++) {
      float f = A[i][c] / A[c][c];
      for (int j = c; j < cols; j++) A[i][j] -= f * A[c][j];
    }
  }
  for (int c = m - 1; c >= 0; c--) {
    for (int i = 0; i < c; i++) {
      float f = A[i][c] / A[c][c];
      for (int j = c; j < cols; j++) A[i][j] -= f * A[c][j];
    }
    float p = A[c][c];
    A[c][c] = 1.0f;
    for (int j = m; j < cols; j++) A[c][j] /= p;
  }
  for (int i = 0; i < m; i++) {
    for (int j = 0; j < d; j++) res[i * m + j] = A[i][m + j];
    res[i * m + d] = 0.0f;
  }
  res[m * m - 1] = 1.0f;
  return 1;
}

// ---------------------------------------------------------------------------
// The dispatcher's side of fit.

int su_fit(FnCall& c) {
  int32_t* t = optab;
  int k = t[OT_KIND];
  PtrRec* src = oprec(0);
  if (!(k & 0xFC0) || !src) {
    c.ret = -1;
    return FS_RET;
  }
  int m = intarg(4, 0);
  int d = (k & (K_MATRIX | K_IMAGE | K_SOLID | K_LIST)) ? ext(src, 0) : (k & K_VECTOR) ? 3 : 0;
  if (m & 16) d = 2;
  bool nodst = !t[OT_REC + 2] && c.dest <= 0;
  if (m & 8) {
    if (d != 2 && d != 3) {
      c.ret = -1;
      return FS_RET;
    }
    t[OT_RCNT] = (d + 1) * (d + 1);
    if (nodst) t[OT_KIND + 2] = K_MATRIX;
  } else {
    t[OT_RCNT] = 4;
    if (nodst) t[OT_KIND + 2] = K_ARRAY;
  }
  t[OT_RWSZ] = W_FLOAT;
  c.store = t[OT_RCNT];
  c.aux = d;
  // The fit runs before the destination is made: one that fails stores
  // nothing and leaves the destination as it was.
  auto* res = static_cast<float*>(fnbuf(c, c.store, W_FLOAT));
  if (!res) {
    c.ret = 0;
    return FS_RET;
  }
  c.buf = res;
  int r = c.store > 4 ? aff_fit(res, m) : fit(res, m);
  setfres(static_cast<float>(r), 0);
  if (r != 1) {
    c.ret = (state & ST_ERROR) ? 0 : -1;
    return FS_RET;
  }
  return FS_GO;
}

int run_fit(FnCall& c) {
  // The affine matrix made as a temporary is (d+1) x (d+1).
  PtrRec* d = oprec(2);
  if (d && c.store > 4 && d->Idx == -1 && (d->Flg & K_MATRIX)) {
    uint32_t e = static_cast<uint32_t>(c.aux + 1);
    d->Datdims[0] = d->Offs[3] = e;
    d->Datdims[1] = d->Offs[4] = e;
    d->Datdims[2] = d->Offs[5] = 1;
    d->Ndims = 2;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// matmul

namespace {

// True when the points have 2 or 3 coordinates and the matrix holds
// (coordinates + 1) squared elements.
bool mmshape() {
  int32_t* t = optab;
  PtrRec* p = oprec(0);
  // Points and matrix are arrays: a number has no shape (its record may be
  // a short head without extents).
  if (!p || !oprec(1) || !(t[OT_KIND] & K_DIMS) || ((t[OT_KIND] | t[OT_KIND + 1]) & K_NUMBER)) return false;
  int64_t m = int64_t{ext(p, 0)} + 1, mm = m * m;
  return m >= 3 && m <= 4 && (t[OT_TOT + 1] == mm || t[OT_CNT + 1] == mm) && t[OT_CNT + 1] >= mm;
}

}  // namespace

// A wrong shape writes nothing: given a destination, the call is refused
// before the destination is made (it stays as it was, and the expression
// has no value); a temporary result stays all zeros.
int su_matmul(FnCall& c) { return mmshape() || c.dest <= 0 ? FS_GO : fnrefus(c, 0, 0); }

int run_matmul(FnCall& c) {
  (void)c;
  int32_t* t = optab;
  PtrRec* p = oprec(0);
  PtrRec* mr = oprec(1);
  PtrRec* dr = oprec(2);
  if (!dr || !mmshape()) return 0;
  int f = intarg(4, 0);
  int32_t d = ext(p, 0), n = ext(p, 1);
  int m = d + 1;
  int64_t mm = int64_t{m} * m;
  float M[4][4] = {}, raw[16];
  if (!rdopnd(1, raw, static_cast<int32_t>(mm))) return 0;
  for (int i = 0; i < m; i++)
    for (int j = 0; j < m; j++) M[i][j] = (f & 1) ? raw[j * m + i] : raw[i * m + j];
  int64_t cnt = std::min<int64_t>(int64_t{d} * n, t[OT_CNT]);
  cnt = std::min<int64_t>(cnt, t[OT_CNT + 2]);
  int32_t np = static_cast<int32_t>(cnt / d);
  if (f & 8) {
    jprintf(dbglun, "MatMul %dx%d %d X %dx%d %d -> %dx%d %d\n", d, n, p->Wsiz, ext(mr, 0),
            ext(mr, 1), mr->Wsiz, ext(dr, 0), ext(dr, 1), dr->Wsiz);
    for (int i = 0; i < m; i++) {
      for (int j = 0; j < m; j++) jprintf(dbglun, " %5.1f", M[i][j]);
      jprintf(dbglun, "\n");
    }
  }
  int32_t& ppart = t[OT_BUF];
  int32_t& dpart = t[OT_BUF + 2];
  int32_t k = 0;
  for (int32_t q = 0; q < np && !stopped(); q++) {
    float in[3] = {0, 0, 0}, out[3] = {0, 0, 0};
    if (rdflts(p, &ppart, in, d) < d) break;
    ppart -= d;  // rdflts counts from 0: keep the part relative to this point
    for (int j = 0; j < d; j++) {
      float s = 0.0f;
      for (int i = 0; i < d; i++) s += in[i] * M[i][j];
      out[j] = s + M[d][j];
    }
    for (int j = 0; j < d; j++, k++) {
      if (k >= dpart) {
        DMPVRB(dr, &dpart, 1, k);
        if (dpart <= k) break;
      }
      PSTACK(out[j], dr);
    }
    if (f & 8)
      jprintf(dbglun, "%3d: %5.1f %5.1f %5.1f -> %5.1f %5.1f %5.1f\n", q, in[0], in[1], in[2],
              out[0], out[1], out[2]);
  }
  DMPVRB(dr, &dpart, 0, 0);
  return 0;
}
