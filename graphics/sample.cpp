// The function sample: an array read along a vector path, or averaged
// inside an outline.
//
// sample(n, path, array, width, flags, record width):
//   n < 0 the mean of the elements inside the outline and their count; 0
//   one sample per pixel of path length; 1 one at each record; above 1, n
//   samples spaced evenly along the path. The path is a vector variable or
//   a start index in the vector list; -1 picks a point (n = 1) or lets the
//   user sketch the path. The array is argument 4 (absent: vimage). A width
//   above 1 averages that many values across the path. Flags: 1 or 16 make
//   each sample a dot record coloured by its value instead of a result (16
//   keeps them), 4 one sample per record, 32 the records take the path's
//   code; with n > 1 and flag 1 the samples replace a path at the list's end.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "compute/fnsvc.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/fill.h"
#include "graphics/imgvars.h"
#include "graphics/pen.h"
#include "graphics/redraw.h"
#include "graphics/sketch.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"
#include "ui/events.h"

namespace {

// Sample flags (argument 6).
enum : int { SF_RECORDS = 1, SF_PERREC = 4, SF_KEEP = 16, SF_CODE = 32 };

// A point of the path: where it lies and the record it came from.
struct PathPt {
  double x, y, z;
  int code, colour, width;
};

// The array a sample reads: its view extents.
struct Arr {
  PtrRec* r = nullptr;
  int64_t nx = 0, ny = 0;
  // The element nearest (x, y); false when it lies outside the array.
  bool at(double x, double y, double* v) const {
    if (!r) return false;
    const double fx = std::floor(x + 0.5), fy = std::floor(y + 0.5);
    if (!(fx >= 0 && fy >= 0 && fx < static_cast<double>(nx) && fy < static_cast<double>(ny))) return false;
    const int64_t i = static_cast<int64_t>(fx) + static_cast<int64_t>(fy) * nx;
    if (!setpos(r, static_cast<int32_t>(i))) return false;
    *v = GSTACK(r);
    return true;
  }
};

// A prepared scratch copy of an array variable's record.
PtrRec* prepared(const PtrRec* src) {
  if (!src || !(src->Flg & K_DIMS) || (src->Flg & (K_LIST | K_VECTOR))) return nullptr;
  PtrRec* r = mktmp(src, -1);
  if (!r) return nullptr;
  int32_t cnt, part, tot, ws;
  if (!gtvarb(r, &cnt, &part, &tot, &ws, 0) || cnt < 1) return nullptr;
  return r;
}

// The drawable points of records from..to - 1 of a list (null: the vector
// list), relative records made absolute, as they are drawn.
std::vector<PathPt> pathpts(PtrRec* list, int32_t from, int32_t to) {
  std::vector<PathPt> out;
  int16_t keep[3];
  std::memcpy(keep, lastpt, sizeof keep);
  // The absolute point before the path is the base of relative records.
  int16_t base[3] = {0, 0, 0};
  for (int32_t j = from - 1; j >= 0 && !stopped(); j--) {
    uint8_t e[12];
    if (!getvec(list, j, e, 0)) break;
    if (e[0] >= 1 && e[0] <= 6) {
      if (vabs(list, j, e)) std::memcpy(base, e + 4, sizeof base);
      break;
    }
  }
  std::memcpy(lastpt, base, sizeof base);
  for (int32_t i = from; i < to && !stopped(); i++) {
    uint8_t e[12];
    if (!getvec(list, i, e, 1)) break;
    if (e[0] < VC_LINE || e[0] > VC_DOT) continue;
    out.push_back(PathPt{static_cast<double>(vget16(e + 4)), static_cast<double>(vget16(e + 6)),
                         static_cast<double>(vget16(e + 8)), e[0], e[2], e[1]});
  }
  std::memcpy(lastpt, keep, sizeof keep);
  return out;
}

double seglen(const PathPt& a, const PathPt& b) {
  return std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) + (b.z - a.z) * (b.z - a.z));
}

// Values read across the path since the last poll for an interrupt.
int64_t unpolled = 0;

// The positions j = lo .. hi (of 0 .. width - 1) across the path whose point
// p0 + (j - c) d, rounded, may lie in 0 .. lim - 1: every other one lies
// outside. Widened by two on each side against rounding; the caller reads
// each point it visits with the exact bounds check.
void reach(double p0, double d, double c, double lim, int64_t* lo, int64_t* hi) {
  if (d == 0.0) {
    if (!(p0 + 0.5 >= 0.0 && p0 + 0.5 < lim)) *hi = -1;
    return;
  }
  double a = (-0.5 - p0) / d + c, b = (lim - 0.5 - p0) / d + c;
  if (!std::isfinite(a) || !std::isfinite(b)) return;
  if (a > b) std::swap(a, b);
  const double top = static_cast<double>(*hi) + 4.0;
  a = std::clamp(a, -4.0, top);
  b = std::clamp(b, -4.0, top);
  *lo = std::max(*lo, static_cast<int64_t>(std::floor(a)) - 2);
  *hi = std::min(*hi, static_cast<int64_t>(std::ceil(b)) + 2);
}

// One sample at (x, y): the element there, or the mean of `width` elements
// across the direction (dx, dy); elements outside the array are left out,
// and a sample with none inside is 0. Only the positions that can reach the
// array are visited, in the same order, so the sum is that of the full
// width.
float value(const Arr& a, double x, double y, double dx, double dy, int width) {
  double v = 0.0;
  if (width <= 1 || (dx == 0.0 && dy == 0.0)) return a.at(x, y, &v) ? static_cast<float>(v) : 0.0f;
  const double l = std::sqrt(dx * dx + dy * dy);
  const double px = -dy / l, py = dx / l;
  const double c = (width - 1) / 2.0;
  int64_t lo = 0, hi = width - 1;
  reach(x, px, c, static_cast<double>(a.nx), &lo, &hi);
  reach(y, py, c, static_cast<double>(a.ny), &lo, &hi);
  lo = std::max<int64_t>(lo, 0);
  hi = std::min<int64_t>(hi, width - 1);
  double sum = 0.0;
  int n = 0;
  for (int64_t j = lo; j <= hi; j++) {
    const double o = static_cast<double>(j) - c;
    if (a.at(x + o * px, y + o * py, &v)) {
      sum += v;
      n++;
    }
    if (++unpolled >= 65536) {
      unpolled = 0;
      chkio(0);
      if (stopped()) break;
    }
  }
  return n ? static_cast<float>(sum / n) : 0.0f;
}

int16_t c16(double v) { return static_cast<int16_t>(std::clamp(std::floor(v + 0.5), -32768.0, 32767.0)); }

}  // namespace

float* sample(uint32_t* count) {
  if (count) *count = 0;
  const int n = intarg(2, 0);
  const int width = intarg(5, 0);
  const int flags = intarg(6, 0);
  const int recw = intarg(7, 0);
  if (stopped()) return nullptr;

  // The array: argument 4, else the image vimage names; another kind of
  // argument gives positions only.
  Arr arr;
  bool posonly = false;
  int32_t h4 = 0;
  const int t4 = argtyp(4, &h4);
  if (!t4) {
    arr.r = imgbound(IV_VIMAGE) ? prepared(imgname(IV_VIMAGE)) : nullptr;
  } else if ((t4 & (K_ARRAY | K_MATRIX | K_IMAGE)) && ptrrec(h4)) {
    arr.r = prepared(ptrrec(h4));
  } else {
    posonly = true;
  }
  if (posonly && (n < 1 || width > 1)) {
    error(3, 152);
    return nullptr;
  }
  if (!arr.r && !posonly) {
    state |= ST_STOP;
    return nullptr;
  }
  if (arr.r) {
    arr.nx = std::max<uint32_t>(arr.r->Offs[3], 1);
    arr.ny = std::max<uint32_t>(arr.r->Offs[4], 1);
  }

  // The path.
  if (!veclst()) vinit(0);
  const int32_t before = nvecs;
  PtrRec* list = nullptr;
  int32_t from = 0, to = 0;
  int32_t h3 = 0;
  const int t3 = argtyp(3, &h3);
  if ((t3 & K_VECTOR) && ptrrec(h3) == veclst()) {
    // The vector list named: all of it.
    to = nvecs;
  } else if ((t3 & K_VECTOR) && ptrrec(h3)) {
    list = ptrrec(h3);
    int32_t cnt, part, tot, ws;
    PtrRec* v = mktmp(list, -1);
    if (v && (v->Flg & K_MATRIX)) gtvarb(v, &cnt, &part, &tot, &ws, 0);
    list = v;
    to = list ? vreccnt(list) : 0;
  } else {
    const int32_t start = lngarg(3, -1);
    if (start >= 0) {
      from = start;
      to = nvecs;
    } else if (n == 1) {
      int16_t p[3];
      int k = curvec(p, 0) & 0xFF;
      if (k == 13) k = 129;
      if (k >= 128 && !stopped()) {
        VecPort vp;
        savvec(p[0], p[1], p[2], VC_DOT, dcolor, 0);
      }
      from = before;
      to = nvecs;
    } else {
      from = xorpath(SK_ROTATED);
      to = nvecs;
    }
  }
  // The write index goes back to where it was, or the records stay.
  bool replace = false;
  int32_t made = 0;
  auto finish = [&]() {
    if (replace) {
      // The resampled records take the place of the path.
      for (int32_t i = 0; i < made; i++) {
        const uint8_t* s = gtvptr(nullptr, to + i, 1);
        uint8_t rec[8];
        if (!s) break;
        std::memcpy(rec, s, 8);
        if (uint8_t* d = gtvptr(nullptr, from + i, 2)) std::memcpy(d, rec, 8);
      }
      nvecs = from + made;
    } else if (!(flags & SF_KEEP)) {
      nvecs = before;
    }
    setnvec(-1, nvecs);
  };
  if (stopped()) {
    finish();
    return nullptr;
  }
  std::vector<PathPt> pts = pathpts(list, from, to);
  if (pts.empty()) {
    state |= ST_STOP;
    finish();
    return nullptr;
  }

  // n < 0: the mean inside the outline.
  if (n < 0) {
    // The box stays empty (right of its left) when the filler finds no
    // part of the outline inside the drawing box.
    int16_t box[4] = {0, 0, -1, -1};
    PtrRec* keepf = fillst;
    fillst = list;
    uint8_t* m = paint(from, to - from, 0, FILL_MASK, 0, box);
    fillst = keepf;
    const bool outline = std::any_of(pts.begin(), pts.end(), [](const PathPt& p) { return p.code <= VC_MOVE; });
    if (!m && !stopped() && box[2] < box[0] && outline) {
      // Only the part inside the drawing box is counted: with none there,
      // nothing is known and the caller is told why.
      jprintf(errlun, "sample: the outline lies outside the drawing box (x %d to %d, y %d to %d)\n",
              static_cast<int>(drwbox.min[0]), static_cast<int>(drwbox.max[0]), std::max<int>(drwbox.min[1], 0),
              static_cast<int>(drwbox.max[1]));
      setres(-1, 0);
      state |= ST_STOP;
      finish();
      return nullptr;
    }
    if (!m) {
      // No mask (one that would take 32768 bytes or more is not made):
      // nothing is known of the inside, so no values, as mask ends.
      if (!stopped()) state |= ST_STOP;
      finish();
      return nullptr;
    }
    auto* out = static_cast<float*>(getbuf(8));
    if (!out) {
      finish();
      return nullptr;
    }
    out[0] = out[1] = 0.0f;
    const int64_t w = box[2] - box[0] + 1, rows = box[3] - box[1] + 1;
    if (trcmsk & 8) {
      jprintf(dbglun, "AOI Bounds: %4d %4d %4d %4d\n", box[0], box[1], box[2], box[3]);
      // Each row in bytes of 8 bits from its first (rows follow each other
      // bit by bit in the mask).
      for (int64_t y = 0; y < rows && !stopped(); y++) {
        for (int64_t b = 0; b < w; b += 8) {
          unsigned byte = 0;
          for (int64_t k = b; k < b + 8; k++) {
            const uint64_t i = static_cast<uint64_t>(y * w + k);
            byte = (byte << 1) | (k < w ? (m[i >> 3] >> (7 - (i & 7))) & 1u : 0u);
          }
          jprintf(dbglun, " %4o", byte);
        }
        jprintf(dbglun, "\n");
      }
    } else {
      double sum = 0.0;
      int64_t cnt = 0;
      for (int64_t y = 0; y < rows && !stopped(); y++)
        for (int64_t x = 0; x < w; x++) {
          const uint64_t i = static_cast<uint64_t>(y * w + x);
          double v;
          if (((m[i >> 3] >> (7 - (i & 7))) & 1) && arr.at(static_cast<double>(box[0] + x), static_cast<double>(box[1] + y), &v)) {
            sum += v;
            cnt++;
          }
        }
      out[0] = cnt ? static_cast<float>(sum / static_cast<double>(cnt)) : 0.0f;
      out[1] = static_cast<float>(cnt);
    }
    finish();
    if (count) *count = 2;
    return out;
  }

  // The sample points along the path.
  struct Smp {
    double x, y, z, dx, dy;
    size_t rec;  // the path point whose record it belongs to
  };
  std::vector<Smp> smp;
  if (n == 1 || (flags & SF_PERREC)) {
    for (size_t k = 0; k < pts.size(); k++) {
      double dx = 0, dy = 0;
      if (k > 0 && pts[k].code == VC_LINE) {
        dx = pts[k].x - pts[k - 1].x;
        dy = pts[k].y - pts[k - 1].y;
      } else if (k + 1 < pts.size() && pts[k + 1].code == VC_LINE) {
        dx = pts[k + 1].x - pts[k].x;
        dy = pts[k + 1].y - pts[k].y;
      }
      smp.push_back(Smp{pts[k].x, pts[k].y, pts[k].z, dx, dy, k});
    }
  } else {
    double total = 0.0;
    for (size_t k = 1; k < pts.size(); k++)
      if (pts[k].code == VC_LINE) total += seglen(pts[k - 1], pts[k]);
    if (!(total > 0.0)) {
      state |= ST_STOP;
      finish();
      return nullptr;
    }
    const int64_t want = n > 1 ? n : std::max<int64_t>(1, static_cast<int64_t>(total));
    const double step = total / static_cast<double>(want);
    size_t k = 1;
    double done = 0.0;  // path length before segment k
    for (int64_t j = 0; j < want && !stopped(); j++) {
      const double s = step * static_cast<double>(j);
      // The segment that holds s.
      for (;;) {
        while (k < pts.size() && pts[k].code != VC_LINE) k++;
        if (k >= pts.size()) break;
        const double l = seglen(pts[k - 1], pts[k]);
        if (s <= done + l || k + 1 >= pts.size()) break;
        done += l;
        k++;
      }
      if (k >= pts.size()) break;
      const PathPt& a = pts[k - 1];
      const PathPt& b = pts[k];
      const double l = seglen(a, b);
      const double f = l > 0 ? std::clamp((s - done) / l, 0.0, 1.0) : 0.0;
      smp.push_back(Smp{a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f, b.x - a.x, b.y - a.y, k});
    }
  }

  const size_t ns = smp.size();
  float* out = nullptr;
  const bool records = flags & (SF_RECORDS | SF_KEEP);
  if (!records) {
    out = static_cast<float*>(getbuf(static_cast<int32_t>(std::max<size_t>(ns, 1) * 4)));
    if (!out) {
      finish();
      return nullptr;
    }
  }
  const int32_t mark = nvecs;
  {
    VecPort vp;
    for (size_t j = 0; j < ns && !stopped(); j++) {
      const Smp& s = smp[j];
      const float v = posonly ? 0.0f : value(arr, s.x, s.y, s.dx, s.dy, width);
      if ((j & 1023) == 1023) chkio(0);
      if (out) {
        out[j] = v;
        continue;
      }
      const PathPt& p = pts[s.rec];
      const int colour = posonly ? p.colour : static_cast<int>(std::clamp(std::floor(v + 0.5f), 0.0f, 255.0f));
      savvec(c16(s.x), c16(s.y), c16(s.z), (flags & SF_CODE) ? p.code : VC_DOT, colour, recw ? recw : p.width);
    }
  }
  made = nvecs - mark;
  replace = records && n > 1 && (flags & SF_RECORDS) && !(state & ST_INTR) && !list && to == mark && made > 0;
  if (replace) to = mark;
  finish();
  if (!out) return nullptr;
  if (count) *count = static_cast<uint32_t>(ns);
  return out;
}
