// Splines through vector points.
#include "graphics/spline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "core/element.h"
#include "graphics/drawstate.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"

namespace {

struct Pt {
  double v[3];
  int colour, width;
};

// The second derivatives of the natural spline through n points: the
// tridiagonal system of the inner points, solved by elimination.
void secder(const double* t, const double* v, int n, double* m) {
  for (int i = 0; i < n; i++) m[i] = 0.0;
  if (n < 3) return;
  double a[4] = {}, b[4] = {}, c[4] = {}, r[4] = {};
  for (int i = 1; i < n - 1; i++) {
    const double h0 = t[i] - t[i - 1], h1 = t[i + 1] - t[i];
    a[i] = h0;
    b[i] = 2 * (h0 + h1);
    c[i] = h1;
    r[i] = 6 * ((v[i + 1] - v[i]) / h1 - (v[i] - v[i - 1]) / h0);
    if ((trcmsk & 48) == 48) jprintf(dbglun, "  mat %d: %7.2f [%9.4f %9.4f %9.4f]\n", i, r[i], a[i], b[i], c[i]);
  }
  for (int i = 2; i < n - 1; i++) {
    const double f = a[i] / b[i - 1];
    b[i] -= f * c[i - 1];
    r[i] -= f * r[i - 1];
  }
  for (int i = n - 2; i >= 1; i--) m[i] = (r[i] - (i + 1 < n - 1 ? c[i] * m[i + 1] : 0.0)) / b[i];
}

}  // namespace

double splval(const double* t, const double* v, int n, int k, double u) {
  double m[4];
  secder(t, v, n, m);
  const double h = t[k + 1] - t[k];
  if (h <= 0) return v[k];
  const double p = t[k + 1] - u, q = u - t[k];
  return m[k] * p * p * p / (6 * h) + m[k + 1] * q * q * q / (6 * h) + (v[k] / h - m[k] * h / 6) * p +
         (v[k + 1] / h - m[k + 1] * h / 6) * q;
}

int dosplin(int mode, int32_t start) {
  PtrRec* list = nullptr;
  int flags = mode, pps = 3;
  double minsp = 2;
  int32_t data = 0;
  if (mode < 0) {
    int32_t h = 0;
    const int k = argtyp(2, &h);
    if ((k & K_VECTOR) && (k & K_MATRIX)) {
      list = ptrrec(h);
      start = 0;
    } else {
      start = lngarg(2, vec0);
    }
    flags = intarg(3, 0);
    pps = std::max(intarg(4, 3), 0);
    minsp = fltarg(5, 2.0f);
    int32_t dh = 0;
    if (argtyp(6, &dh) & K_DIMS) data = dh;
    if (stopped()) return 0;
  }
  start = std::max<int32_t>(start, 0);
  if (!list && !veclst()) vinit(0);
  // The runs of points, read with relative records resolved and no
  // transform.
  std::vector<std::vector<Pt>> runs;
  {
    const int16_t g = gflags;
    gflags = static_cast<int16_t>(g | 1);
    int16_t keep[3];
    std::memcpy(keep, lastpt, sizeof keep);
    const int32_t n = vreccnt(list);
    for (int32_t i = start; i < n && !stopped(); i++) {
      uint8_t e[12];
      if (!getvec(list, i, e, 1)) break;
      if (e[0] < VC_LINE || e[0] > VC_DOT) continue;
      const Pt p{{static_cast<double>(vget16(e + 4)), static_cast<double>(vget16(e + 6)),
                  static_cast<double>(vget16(e + 8))},
                 vget16(e + 2), e[1]};
      if (runs.empty() || (e[0] == VC_MOVE && !runs.back().empty())) runs.emplace_back();
      std::vector<Pt>& r = runs.back();
      if (!r.empty()) {
        const Pt& b = r.back();
        const double d = std::hypot(std::hypot(p.v[0] - b.v[0], p.v[1] - b.v[1]), p.v[2] - b.v[2]);
        if (d == 0 || d < minsp) continue;
      }
      r.push_back(p);
    }
    std::memcpy(lastpt, keep, sizeof keep);
    gflags = g;
  }
  VecPort vp;
  if ((flags & 2) && !list) {
    nvecs = start;
    setnvec(-1, start);
  }
  std::vector<float> out;
  const double step = pps + 1;
  for (const std::vector<Pt>& r : runs) {
    const int m = static_cast<int>(r.size());
    if (m < 1 || stopped()) continue;
    const bool closed = (flags & 1) && m > 2;
    const int colour = r[0].colour, width = r[0].width;
    bool first = true;
    auto emit = [&](const double* v) {
      if (data) {
        out.push_back(static_cast<float>(v[0]));
        out.push_back(static_cast<float>(v[1]));
      } else {
        savvec(static_cast<int>(std::lround(v[0])), static_cast<int>(std::lround(v[1])),
               static_cast<int>(std::lround(v[2])), first ? VC_MOVE : VC_LINE, colour, width);
      }
      first = false;
    };
    // A window of four points slides along the run; each draws the interval
    // between its second and third points, so an open run is drawn from its
    // second point to its last but one. A closed run takes its first points
    // again at its end and comes back to its second point.
    const int windows = closed ? m : m - 3;
    if (windows < 1) continue;
    for (int j = 1; j <= windows && !stopped(); j++) {
      double t[4], c[3][4];
      t[0] = 0;
      for (int i = 0; i < 4; i++) {
        const Pt& q = r[static_cast<size_t>((j - 1 + i) % m)];
        for (int d = 0; d < 3; d++) c[d][i] = q.v[d];
        if (i > 0)
          t[i] = t[i - 1] + std::hypot(std::hypot(c[0][i] - c[0][i - 1], c[1][i] - c[1][i - 1]), c[2][i] - c[2][i - 1]);
      }
      if ((trcmsk & 48) == 48)
        jprintf(dbglun, " spl:(%4.0f,%4.0f)(%4.0f,%4.0f)(%4.1f,%4.1f)(%4.1f,%4.1f)[%4.1f,%4.1f,%4.1f,%4.1f] %d\n",
                c[0][0], c[1][0], c[0][1], c[1][1], c[0][2], c[1][2], c[0][3], c[1][3], t[0], t[1], t[2], t[3], j);
      for (double u = t[1]; u < t[2] && !stopped(); u += step) {
        double v[3];
        for (int d = 0; d < 3; d++) v[d] = splval(t, c[d], 4, 1, u);
        if ((trcmsk & 48) == 48)
          jprintf(dbglun, "  splined %d: %7.2f %7.2f %7.2f (%7.2f) -> %.2f\n", j, u, v[0], v[1], t[2], v[2]);
        emit(v);
      }
    }
    emit(r[static_cast<size_t>(closed ? 1 : m - 2)].v);
  }
  if (data && !out.empty()) putvrb(out.data(), W_FLOAT, data, static_cast<int32_t>(out.size()));
  setnvec(-1, nvecs);
  return 0;
}
