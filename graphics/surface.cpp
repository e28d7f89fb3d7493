// Surfaces between consecutive outlines.
#include "graphics/surface.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/args.h"
#include "core/element.h"
#include "core/state.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "graphics/redraw.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"

namespace {

using Pt = std::array<int16_t, 3>;


// An outline: the run of points from its first point to the first record
// that is no point, with their records' indices, its sense of rotation and
// its perimeter.
struct Outline {
  std::vector<int32_t> idx;
  std::vector<Pt> pt;
  int32_t begin = 0, end = 0;
  int sign = 1;
  float perim = 0.0f;
  int colour = 0;
};

bool ispoint(int code) { return code >= VC_LINE && code <= VC_DOT + 3; }

// The outline from record `from` on (records that are no point skipped
// first), within the first `limit` records.
bool outline(int32_t from, int32_t limit, Outline* o) {
  *o = Outline{};
  int32_t i = from;
  uint8_t e[12];
  for (; i < limit; i++) {
    if (!getvec(nullptr, i, e, 0)) return false;
    if (ispoint(e[0])) break;
  }
  if (i >= limit) return false;
  o->begin = i;
  o->colour = static_cast<uint8_t>(e[2]);
  Pt base{};
  for (; i < limit && !stopped(); i++) {
    if (!getvec(nullptr, i, e, 0) || !ispoint(e[0])) break;
    Pt p{vget16(e + 4), vget16(e + 6), vget16(e + 8)};
    if (e[0] > VC_DOT) {
      if (o->pt.empty()) {
        uint8_t a[12];
        vabs(nullptr, i, a);
        p = {vget16(a + 4), vget16(a + 6), vget16(a + 8)};
      } else {
        for (int k = 0; k < 3; k++) p[k] = static_cast<int16_t>(p[k] + base[k]);
      }
    }
    base = p;
    o->pt.push_back(p);
    o->idx.push_back(i);
  }
  o->end = i;
  float len = 0.0f, area = 0.0f;
  const int n = measur(nullptr, o->begin, o->end - o->begin, 0.0f, &len, &area);
  o->sign = n < 0 ? -1 : 1;
  o->perim = len;
  return true;
}

// The first move record from `from` on, or -1.
int32_t nextmove(int32_t from, int32_t limit) {
  for (int32_t i = from; i < limit && !stopped(); i++) {
    uint8_t e[12];
    if (!getvec(nullptr, i, e, 0)) break;
    if (e[0] == VC_MOVE || e[0] == VC_MOVE + 3) return i;
  }
  return -1;
}

float dist(const Pt& a, const Pt& b) { return vdist(a.data(), b.data(), 3); }

struct Stitch {
  int colour, second, flags, width;
};

// One triangle of the surface: a tile and its parameter record (or, with
// flag 1, the connecting edge as a move and a line), drawn at once.
void emit(const Stitch& s, int32_t ia, int32_t ib, int32_t ic, const Pt& a, const Pt& b, const Pt& c) {
  const int32_t w = nvecs;
  if (s.flags & 1) {
    savvec(a[0], a[1], a[2], VC_MOVE, s.colour, s.width);
    savvec(b[0], b[1], b[2], VC_LINE, s.colour, s.width);
  } else {
    int16_t n[3];
    const int32_t d[3] = {ia - w, ib - w, ic - w};
    for (int32_t k : d)
      if (k < -32768) return;
    if (!vnormal(a.data(), b.data(), c.data(), n, -1)) return;
    // A tile whose parameter record cannot be stored is not kept either.
    if (putvec(w, d[0], d[1], d[2], VC_TILE, s.colour, s.width) < 0) return;
    if (putvec(w + 1, n[0], n[1], n[2], VC_PARAM, s.second, 1) < 0) {
      setnvec(0, w);
      return;
    }
    nvecs = w + 2;
    vdraw(w, 0);
  }
  if (s.flags & 2) {
    nvecs = w;
    setnvec(-1, w);
  }
}

// Stitches outline b to outline a with triangles: two cursors walk them,
// the one behind in its share of the perimeter going on first, else the
// one whose new diagonal is shorter; each wraps once round its outline.
void stitch(const Stitch& s, const Outline& a, const Outline& b) {
  const int n = static_cast<int>(a.pt.size()), m = static_cast<int>(b.pt.size());
  const bool rev = !(s.flags & 8) && a.sign != b.sign;
  auto bnext = [&](int j) { return rev ? (j + m - 1) % m : (j + 1) % m; };
  int i = 0, j = 0;
  if (!(s.flags & 4)) {
    float best = dist(a.pt[0], b.pt[0]);
    for (int k = 1; k < m; k++)
      if (dist(a.pt[0], b.pt[k]) < best) best = dist(a.pt[0], b.pt[k]), j = k;
  }
  bool adone = a.perim <= 0.0f || n < 2, bdone = b.perim <= 0.0f || m < 2;
  int asteps = 0, bsteps = 0;
  float la = 0.0f, lb = 0.0f;
  while (!(adone && bdone) && !stopped()) {
    const int ni = (i + 1) % n, nj = bnext(j);
    bool adv;
    if (adone) {
      adv = false;
    } else if (bdone) {
      adv = true;
    } else {
      const float pa = la / a.perim, pb = lb / b.perim;
      if (pa <= 0.8f * pb)
        adv = true;
      else if (pb <= 0.8f * pa)
        adv = false;
      else
        adv = dist(a.pt[ni], b.pt[j]) <= dist(b.pt[nj], a.pt[i]);
    }
    if (adv) {
      emit(s, a.idx[i], b.idx[j], a.idx[ni], a.pt[i], b.pt[j], a.pt[ni]);
      la += dist(a.pt[i], a.pt[ni]);
      i = ni;
      adone = ++asteps >= n;
    } else {
      emit(s, a.idx[i], b.idx[j], b.idx[nj], a.pt[i], b.pt[j], b.pt[nj]);
      lb += dist(b.pt[j], b.pt[nj]);
      j = nj;
      bdone = ++bsteps >= m;
    }
  }
}

// The end record before an outline skips it: redraw then shows the surface
// and not its outlines.
void hide(const Outline& o) {
  for (int32_t j = o.begin - 1; j >= 0; j--) {
    uint8_t e[12];
    if (!getvec(nullptr, j, e, 0) || ispoint(e[0])) return;
    if (e[0] != VC_END) continue;
    uint8_t* r = gtvptr(nullptr, j, 2);
    if (!r) return;
    const int16_t t = static_cast<int16_t>(vget16(r) | 18);
    std::memcpy(r, &t, 2);
    if (vget16(r + 2) <= 0) {
      const int32_t d = o.end - j;
      const auto y = static_cast<int16_t>(d > 32767 ? 32767 : d);
      std::memcpy(r + 2, &y, 2);
    }
    return;
  }
}

}  // namespace

int vnormal(const int16_t* a, const int16_t* b, const int16_t* c, int16_t* out, int axis) {
  int64_t u[3], w[3], n[3];
  for (int k = 0; k < 3; k++) {
    u[k] = static_cast<int64_t>(a[k]) - c[k];
    w[k] = static_cast<int64_t>(b[k]) - c[k];
  }
  for (int k = 0; k < 3; k++) n[k] = u[(k + 1) % 3] * w[(k + 2) % 3] - u[(k + 2) % 3] * w[(k + 1) % 3];
  const double len = std::sqrt(static_cast<double>(n[0]) * n[0] + static_cast<double>(n[1]) * n[1] +
                               static_cast<double>(n[2]) * n[2]);
  if (len == 0.0) return 0;
  if (axis >= 0 && axis < 3 && n[axis] < 0)
    for (int64_t& v : n) v = -v;
  for (int k = 0; k < 3; k++) out[k] = static_cast<int16_t>(ftrunc(static_cast<double>(n[k]) * 20.0 / len));
  return 1;
}

int surfac() {
  if (!veclst()) vinit(0);
  const int colarg = intarg(2, -1);
  const int flags = intarg(4, 0);
  const int32_t s0 = std::max<int32_t>(lngarg(5, 0), 0), s1 = lngarg(6, 0);
  const int width = intarg(7, 0);
  if (stopped()) return 0;
  const int32_t limit = nvecs;
  // The first outline begins after the start record (at it, when the
  // start record is a point itself).
  uint8_t e[12];
  const bool pt = getvec(nullptr, s0, e, 0) && ispoint(e[0]);
  Outline a;
  if (!outline(pt ? s0 : s0 + 1, limit, &a)) return 0;
  Stitch s{colarg >= 0 ? colarg : a.colour, 0, flags, width};
  s.second = intarg(3, s.colour);
  std::vector<Outline> used{a};
  int32_t from = s1 > 0 ? s1 : nextmove(a.end, limit);
  while (from >= 0 && !stopped()) {
    Outline b;
    if (!outline(from, limit, &b)) break;
    stitch(s, used.back(), b);
    used.push_back(b);
    if (flags & 16) break;
    from = nextmove(b.end, limit);
  }
  if (!(flags & 2) && used.size() >= 2)
    for (const Outline& o : used) hide(o);
  return 0;
}
