// The pen, lines, the line walkers and clipping.
#include "graphics/pen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "graphics/drawstate.h"
#include "realtime/devices/devsetup.h"
#include "ui/draw.h"
#include "ui/ports.h"
#include "ui/window.h"

DrawBox drwbox = {{0, 0, -1000}, {511, 511, 1000}};
int16_t penpt[3];
int16_t rotpt[3];
uint32_t lastpen = 0xFFFFFFFFu;
uint32_t lastsiz = 0;
uint8_t zoomsh[2];
LnState lnst;

int dspsw() { return gunit < 0 ? devflg : gunit; }

namespace {

// z into a screen axis under the mode bits m (0x20: y shows z, else x).
void rotate(const int16_t* p, int16_t* out, int m) {
  int a = (m & 0x20) ? 1 : 0;
  int16_t r[3];
  r[a] = static_cast<int16_t>(p[2] + zoff);
  r[1 - a] = p[1 - a];
  r[2] = static_cast<int16_t>(-p[a]);
  std::memcpy(out, r, sizeof r);
}

inline int16_t flipy(int16_t y) { return static_cast<int16_t>(drworg[5] - y); }

// The platform pen takes a value: a palette index through the program
// colour table, a larger value as a colour.
void pencol(uint32_t value) {
  if (value == lastpen) return;
  if (value >= 256) {
    settxc(value);
    setpnc(value);
  } else {
    const uint8_t* e = progctab() + value * 4;
    colfg(static_cast<int>(value));
    setpnc(static_cast<uint32_t>(e[2]) | (static_cast<uint32_t>(e[1]) << 8) | (static_cast<uint32_t>(e[0]) << 16));
  }
  lastpen = value;
}

// ---- The typed walk: a line straight into an image's memory --------------------

template <typename T>
inline void stv(uint8_t* p, T v, bool xr) {
  T o;
  if (xr) {
    std::memcpy(&o, p, sizeof(T));
    o = static_cast<T>(o ^ v);
  } else {
    o = v;
  }
  std::memcpy(p, &o, sizeof(T));
}

template <typename T, bool XR>
void walk(const ImgTgt& t, LnState& ls) {
  const T v = static_cast<T>(ls.value);
  const int64_t row = t.row;
  constexpr int S = sizeof(T);
  int32_t x = ls.x, y = ls.y;
  const int32_t n = ls.count;
  auto in = [&](int32_t px, int32_t py) {
    return static_cast<uint32_t>(px) < static_cast<uint32_t>(t.w) &&
           static_cast<uint32_t>(py) < static_cast<uint32_t>(t.h);
  };
  const bool inside = n > 0 && in(x, y) && in(ls.ex, ls.ey);
  int64_t err = ls.err;
  const int64_t inc = ls.inc, dec = ls.dec;
  const int step = ls.step;
  if (ls.kind < LK_XMAJOR) {
    // A row of count pixels from x to the right.
    if (inside) {
      uint8_t* p = t.base + y * row + static_cast<int64_t>(x) * S;
      if (!XR && S == 1) {
        std::memset(p, static_cast<int>(v), static_cast<size_t>(n));
      } else {
        for (int32_t i = 0; i < n; i++, p += S) stv<T>(p, v, XR);
      }
    } else {
      for (int32_t i = 0; i < n; i++)
        if (in(x + i, y)) stv<T>(t.base + y * row + static_cast<int64_t>(x + i) * S, v, XR);
    }
    x += n;
  } else {
    // One step along the major axis each pixel, one along the minor axis
    // when the error says so: x-major or y-major alike.
    const bool ymaj = ls.kind != LK_XMAJOR;
    const int mx = ymaj ? 0 : 1, my = ymaj ? 1 : 0, nx = ymaj ? step : 0, ny = ymaj ? 0 : step;
    if (inside) {
      uint8_t* p = t.base + y * row + static_cast<int64_t>(x) * S;
      const int64_t pmaj = ymaj ? row : S, pmin = ymaj ? static_cast<int64_t>(step) * S : step * row;
      // Without branches: the error's sign picks the step and the term
      // (a line's minor steps come too irregularly to be guessed). The
      // last pixel is the line's end; the step after it leaves the state.
      const int64_t dd = inc - dec, pboth = pmaj + pmin, nmin = -pmin;
      for (int32_t i = n - 1; i > 0; i--) {
        stv<T>(p, v, XR);
        const int64_t neg = err >> 63;  // -1 while the error is negative
        const int64_t e2 = err + dec;    // beside the sign, not after it
        err = e2 + (dd & neg);
        p += pboth + (nmin & neg);
      }
      stv<T>(p, v, XR);
      const bool minor = err >= 0;
      err += minor ? dec : inc;
      x = ls.ex + mx + (minor ? nx : 0);
      y = ls.ey + my + (minor ? ny : 0);
    } else {
      for (int32_t i = 0; i < n; i++) {
        if (in(x, y)) stv<T>(t.base + y * row + static_cast<int64_t>(x) * S, v, XR);
        if (err < 0) {
          err += inc;
        } else {
          x += nx;
          y += ny;
          err += dec;
        }
        x += mx;
        y += my;
      }
    }
  }
  ls.x = x;
  ls.y = y;
  ls.err = err;
}

// Whether the walk may go straight into the current image's memory: the
// installed writer is SETpix, nothing else takes its pixels first and the
// image's items are 8, 16 or 32-bit integers in plain memory.
bool direct() {
  return pixwr == SETpix && curit && curit->base && !curit->flt &&
         (curit->bytes == 1 || curit->bytes == 2 || curit->bytes == 4) && !wdcport() &&
         ((trcmsk & 536) != 536 || (pflags & 1));
}

// The typed walk of the line state into an image.
void walkin(const ImgTgt& t, LnState& ls) {
  pxgen++;
  const bool xr = (xorflg & 0x80) != 0;
  switch (t.bytes) {
    case 1: xr ? walk<uint8_t, true>(t, ls) : walk<uint8_t, false>(t, ls); break;
    case 2: xr ? walk<uint16_t, true>(t, ls) : walk<uint16_t, false>(t, ls); break;
    default: xr ? walk<uint32_t, true>(t, ls) : walk<uint32_t, false>(t, ls); break;
  }
}

// vimage's target when vline under the mode word m draws through drline's
// typed walk into it (no transform, depth, brightness, fat-pixel or dash
// bits; what direct() asks of the image); null otherwise.
// The answer is kept while the image names are pinned and what it was
// drawn from stays the same.
struct LnTgt {
  uint64_t stamp = 0;
  int m = 0;
  PixWriter pw = nullptr;
  const Wport* dual = nullptr;
  int32_t trc = 0, pfl = 0;
  const ImgTgt* t = nullptr;
} lnt;
const ImgTgt* lntgt(int m) {
  const uint64_t st = imgstamp();
  const Wport* dual = wdcport();
  if (st && st == lnt.stamp && m == lnt.m && pixwr == lnt.pw && dual == lnt.dual && trcmsk == lnt.trc &&
      pflags == lnt.pfl)
    return lnt.t;
  const ImgTgt* t = nullptr;
  if (!(m & (0x0001 | 0x0038 | 0x2000 | 0x5F44)) && pixwr == SETpix && !dual &&
      ((trcmsk & 536) != 536 || (pflags & 1)) && imgbound(IV_VIMAGE)) {
    t = imgtgt(IV_VIMAGE);
    if (t && (!t->base || t->flt || (t->bytes != 1 && t->bytes != 2 && t->bytes != 4))) t = nullptr;
  }
  if (st) lnt = {st, m, pixwr, dual, trcmsk, pflags, t};
  return t;
}

void lnadd(const int16_t* a, const int16_t* b, uint32_t value, const uint8_t* base) {
  LnLog& g = lnlog;
  if (g.n && (g.value != value || g.base != base)) g.n = 0;
  if (!g.n) {
    g.head = 0;
    g.hit = LnLog::N - 1;  // the first line looked for is the first logged
    g.value = value;
    g.base = base;
  }
  g.gen = pxgen;
  g.key[g.head] = lnkey(a, b);
  g.head = (g.head + 1) & (LnLog::N - 1);
  if (g.n < LnLog::N) g.n++;
}

}  // namespace

bool lnarm = false;
LnLog lnlog;

void lnclear() { lnlog.n = 0; }

bool lnready(uint32_t value) {
  const LnLog& g = lnlog;
  // Nothing drawn since the last line logged.
  if (!g.n || g.gen != pxgen || g.value != value || (xorflg & 0x80)) return false;
  const ImgTgt* t = lntgt(gflags);
  return t && t->base == g.base;
}

bool lnfind(const int16_t* a, const int16_t* b) {
  LnLog& g = lnlog;
  const uint64_t k = lnkey(a, b), r = lnkey(b, a);
  constexpr unsigned M = LnLog::N - 1;
  const unsigned first = static_cast<unsigned>(g.head - g.n) & M;
  for (int i = 0; i < g.n; i++) {
    const unsigned at = (first + static_cast<unsigned>(i)) & M;
    if (g.key[at] == k || g.key[at] == r) {
      g.hit = static_cast<int>(at);
      return true;
    }
  }
  return false;
}

namespace {
// linprm's work, inline where lines go straight into images.
inline __attribute__((always_inline)) int linprmi(const int16_t* from, const int16_t* to, LnState* ls) {
  const int16_t* a = from;
  const int16_t* b = to;
  if (from[0] > to[0]) std::swap(a, b);
  ls->x = a[0];
  ls->y = a[1];
  ls->ex = b[0];
  ls->ey = b[1];
  int32_t zs = a[2];
  int64_t dx = static_cast<int64_t>(b[0]) - a[0], dy = static_cast<int64_t>(b[1]) - a[1];
  int64_t dz = static_cast<int64_t>(b[2]) - a[2];
  ls->step = dy < 0 ? -1 : 1;
  if (dy < 0) {
    dy = -dy;
    if (dy > dx) {
      // Steep and falling: the walk starts at the upper end.
      ls->x = b[0];
      ls->y = b[1];
      ls->ex = a[0];
      ls->ey = a[1];
      zs = b[2];
      dz = -dz;
    }
  }
  ls->err = -1;
  ls->inc = 0;
  ls->dec = 0;
  int64_t count = std::max(dx, dy);
  if (dx == 0) {
    ls->kind = dy != 0 ? LK_VERT : LK_POINT;
  } else if (dy == 0) {
    ls->kind = LK_HORIZ;
  } else if (dy > dx) {
    ls->inc = 2 * dx;
    ls->dec = 2 * dx - 2 * dy;
    ls->err = 2 * dx - dy;
    ls->kind = LK_YMAJOR;
  } else {
    ls->inc = 2 * dy;
    ls->err = 2 * dy - dx;
    ls->dec = 2 * dy - 2 * dx;
    ls->kind = LK_XMAJOR;
  }
  count += 1;
  ls->count = static_cast<int32_t>(count);
  if (dz == 0) {
    // A flat line: zs - (m0 x 0 + 0.5) truncated toward zero.
    ls->zslope = 0.0f;
    ls->round = 0.5f;
    ls->zbase = zs > 0 ? zs - 1 : zs;
    return 0;
  }
  ls->zslope = static_cast<float>(dz) / static_cast<float>(count);
  ls->round = ls->zslope >= 0.0f ? 0.5f : -0.5f;
  int32_t m0 = ls->kind > 0 ? ls->y : ls->x;
  ls->zbase = ftrunc(static_cast<float>(zs) - (static_cast<float>(m0) * ls->zslope + ls->round));
  return 0;
}
}  // namespace

int linprm(const int16_t* from, const int16_t* to, LnState* ls) { return linprmi(from, to, ls); }

const int16_t* vrotat(const int16_t* point, int16_t* out) {
  rotate(point, out, gflags);
  return (gflags & 0x10) ? point : out;
}

int vmove(const int16_t* point) {
  int16_t p[3];
  std::memcpy(p, point, sizeof p);
  int ox = 0, oy = 0;
  const int m = gflags;
  if (!(m & 1)) {
    if (m & 0x38) {
      rotate(point, rotpt, m);
      if (!(m & 0x10)) std::memcpy(p, rotpt, sizeof p);
    }
    if (m & 0x2000) {
      p[1] = flipy(p[1]);
      if (m & 0x38) rotpt[1] = flipy(rotpt[1]);
    }
    ox = drworg[0];
    oy = drworg[1];
  }
  // The hardware display hook (dspsw() bit 0x1) does nothing here.
  moveto(p[0] + ox, p[1] + oy);
  std::memcpy(penpt, p, sizeof p);
  return 0;
}

void winline(int x, int y) {
  const Wport* d = wdcport();
  const PwRec* p = d ? wpwrec(d) : getPort();
  if (!p) {
    lineto(x, y);
    return;
  }
  const int32_t x0 = p->penx, y0 = p->peny;
  if (x < INT16_MIN || x > INT16_MAX || y < INT16_MIN || y > INT16_MAX) {
    lineto(x, y);
    return;
  }
  const int16_t a[3] = {static_cast<int16_t>(x0), static_cast<int16_t>(y0), 0};
  const int16_t b[3] = {static_cast<int16_t>(x), static_cast<int16_t>(y), 0};
  LnState ls;
  linprmi(a, b, &ls);
  static std::vector<int32_t> xy;  // kept between lines: no allocation each
  if (xy.size() < 2 * static_cast<size_t>(ls.count)) xy.resize(2 * static_cast<size_t>(ls.count));
  const bool ymaj = ls.kind >= LK_YMAJOR, row = ls.kind < LK_XMAJOR;
  for (int32_t i = 0; i < ls.count; i++) {
    xy[2 * static_cast<size_t>(i)] = ls.x;
    xy[2 * static_cast<size_t>(i) + 1] = ls.y;
    if (row) {
      ls.x++;
      continue;
    }
    if (ls.err < 0) {
      ls.err += ls.inc;
    } else {
      (ymaj ? ls.x : ls.y) += ls.step;
      ls.err += ls.dec;
    }
    (ymaj ? ls.y : ls.x)++;
  }
  pendots(xy.data(), ls.count);
  moveto(x, y);
}

int vline(int16_t* point, uint32_t value, int mode) {
  if (mode == 1) value = 0;
  int m = gflags;
  if (const ImgTgt* t = lntgt(m)) {
    // Straight into vimage: what the way below comes to for such a line.
    linprmi(penpt, point, &lnst);
    lnst.value = value;
    walkin(*t, lnst);
    if (lnarm && !(xorflg & 0x80)) {
      lnadd(penpt, point, value, t->base);
      lnarm = false;
    }
    std::memcpy(penpt, point, 3 * sizeof(int16_t));
    return 0;
  }
  const ImgTgt* keep = curimg(IV_VIMAGE);
  if (imgbound(IV_VIMAGE) && !(m & 0x5F44)) m |= 0x0100;
  int ox = drworg[0], oy = drworg[1];
  int16_t rot[3];
  int16_t* pt = point;
  if (m != 0) {
    if (m & 1) {
      m &= 0x0182;
      curit = nullptr;
      ox = oy = 0;
    }
    lnst.value = value;
    int16_t from[3];
    std::memcpy(from, penpt, sizeof from);
    bool rotated = false;
    if (m & 0x38) {
      rotate(point, rot, m);
      if (m & 0x10) {
        // The rotated copy is a second trace into yzimage; the point
        // itself is drawn on as usual.
        if (m & 0x2000) rot[1] = flipy(rot[1]);
        if (const ImgTgt* yz = imgtgt(IV_YZIMAGE)) {
          const ImgTgt* v = curit;
          curit = yz;
          linprm(rotpt, rot, &lnst);
          drline();
          curit = v;
        }
        std::memcpy(rotpt, rot, sizeof rot);
      } else {
        std::memcpy(from, rotpt, sizeof from);
        pt = rot;
        rotated = true;
      }
    }
    if (m & 0x2000) pt[1] = flipy(pt[1]);
    if (m & 0x5F44) {
      linprm(from, pt, &lnst);
      const ImgTgt* zt = (m & 0x0004) && imgbound(IV_ZIMAGE) ? imgtgt(IV_ZIMAGE) : nullptr;
      if ((m & 0x0004) && imgbound(IV_ZIMAGE)) {
        if (lnst.kind == LK_HORIZ && zt && zt->base && (zt->ws == W_BYTE || zt->ws == W_SHORT)) {
          // The depth test inline along the row.
          const int32_t y = lnst.y;
          int32_t x = lnst.x;
          const int32_t hi = zt->ws == W_BYTE ? 255 : INT16_MAX, lo = zt->ws == W_BYTE ? 0 : INT16_MIN;
          for (int32_t i = 0; i < lnst.count; i++, x++) {
            if (value == 0 || x < 0 || y < 0 || x >= zt->w || y >= zt->h) continue;
            int64_t z = static_cast<int64_t>(lnst.zbase) +
                        ftrunc(static_cast<float>(x) * lnst.zslope + lnst.round);
            uint8_t* p = zt->base + static_cast<int64_t>(y) * zt->row + static_cast<int64_t>(x) * zt->bytes;
            int32_t old;
            if (zt->ws == W_BYTE) {
              old = p[0];
            } else {
              int16_t s;
              std::memcpy(&s, p, 2);
              old = s;
            }
            if (z < old) continue;
            z = std::clamp<int64_t>(z, lo, hi);
            if (zt->ws == W_BYTE) {
              p[0] = static_cast<uint8_t>(z);
            } else {
              auto s = static_cast<int16_t>(z);
              std::memcpy(p, &s, 2);
            }
            pixwr(x, y, value);
          }
          lnst.x = x;
        } else {
          lnstep(mapz);
        }
      } else if (m & 0x0600) {
        lnstep(britest);
      } else if (m & 0x1900) {
        drline();
        std::memcpy(rotated ? rotpt : penpt, pt, 3 * sizeof(int16_t));
      }
      curit = keep;
      return 0;
    }
    if (rotated) std::memcpy(rotpt, pt, 3 * sizeof(int16_t));
  }
  curit = keep;
  if (m & 0x0002) return 0;
  const int sw = dspsw();
  // The hardware display hook (bit 0x1) does nothing here.
  if (!(sw & 2)) return 0;
  pencol(value);
  winline(pt[0] + ox, pt[1] + oy);
  return 0;
}


int lnstep(PixWriter writer) {
  LnState& ls = lnst;
  const uint32_t v = ls.value;
  // Major axis x for kinds below 1, else y; the minor axis steps by the
  // minor step when the error says so.
  const bool ymaj = ls.kind >= LK_YMAJOR;
  const int mx = ymaj ? 0 : 1, my = ymaj ? 1 : 0, nx = ymaj ? ls.step : 0, ny = ymaj ? 0 : ls.step;
  for (int32_t i = 0; i < ls.count; i++) {
    writer(ls.x, ls.y, v);
    if (ls.err < 0) {
      ls.err += ls.inc;
    } else {
      ls.x += nx;
      ls.y += ny;
      ls.err += ls.dec;
    }
    ls.x += mx;
    ls.y += my;
  }
  return 0;
}

int drline() {
  LnState& ls = lnst;
  if (direct()) {
    walkin(*curit, ls);
    return 0;
  }
  if (ls.kind < LK_XMAJOR) {
    // A row: count pixels from x to the right.
    for (int32_t i = 0; i < ls.count; i++) pixwr(ls.x + i, ls.y, ls.value);
    ls.x += ls.count;
    return 0;
  }
  return lnstep(pixwr);
}

SpanTgt spn;

bool spanbeg(uint32_t value, int mode) {
  spn = SpanTgt{};
  const int m = gflags;
  if ((m & (0x0001 | 0x0038 | 0x2000 | 0x5F44)) || !imgbound(IV_VIMAGE)) return false;
  const ImgTgt* keep = curimg(IV_VIMAGE);
  const bool ok = direct();
  const ImgTgt* t = curit;
  curit = keep;
  if (!ok) return false;
  spn.base = t->base;
  spn.row = t->row;
  spn.w = t->w;
  spn.h = t->h;
  spn.bytes = t->bytes;
  spn.value = mode == 1 ? 0 : value;
  spn.xr = (xorflg & 0x80) != 0;
  pxgen++;  // spans follow
  return true;
}

void spanrow(uint8_t* p, int32_t n) {
  const uint32_t v = spn.value;
  switch (spn.bytes) {
    case 1:
      if (spn.xr) {
        for (int32_t i = 0; i < n; i++) p[i] = static_cast<uint8_t>(p[i] ^ v);
      } else {
        std::memset(p, static_cast<int>(v & 0xFF), static_cast<size_t>(n));
      }
      break;
    case 2:
      for (int32_t i = 0; i < n; i++, p += 2) stv<uint16_t>(p, static_cast<uint16_t>(v), spn.xr);
      break;
    default:
      for (int32_t i = 0; i < n; i++, p += 4) stv<uint32_t>(p, v, spn.xr);
      break;
  }
}

void spanend(const int16_t* a, const int16_t* b) {
  if (!spn.any) return;
  // The state the last span's vmove and vline leave.
  moveto(a[0] + drworg[0], a[1] + drworg[1]);
  linprm(a, b, &lnst);
  lnst.value = spn.value;
  lnst.x += lnst.count;
  std::memcpy(penpt, b, sizeof penpt);
  spn = SpanTgt{};
}

int iclipx(int16_t* p0, int16_t* p1) {
  int c0 = limits(p0), c1 = limits(p1);
  if (c0 == 0 && c1 == 0) return 0;
  if (gflags & 1) return 0;
  const int all = c0 | c1;
  while (c0 != 0 || c1 != 0) {
    if (stopped() || (c0 & c1) != 0) return -1;
    const bool first = c0 != 0;
    int16_t* q = first ? p0 : p1;
    int code = first ? c0 : c1;
    const int16_t* bound = drwbox.min;
    if ((code & 7) == 0) {
      bound = drwbox.max;
      code >>= 3;
    }
    int k = (code & 1) ? 0 : (code & 2) ? 1 : 2;
    float t = static_cast<float>(bound[k] - p0[k]) / static_cast<float>(p1[k] - p0[k]);
    int16_t n[3];
    for (int j = 0; j < 3; j++)
      n[j] = j == k ? bound[k]
                    : static_cast<int16_t>(ftrunc(static_cast<float>(p0[j]) +
                                                  static_cast<float>(p1[j] - p0[j]) * t));
    std::memcpy(q, n, sizeof n);
    if (first)
      c0 = limits(p0);
    else
      c1 = limits(p1);
  }
  return all;
}

int dircode(const int16_t* a, const int16_t* b) {
  int dx = b[0] - a[0];
  float s = dx == 0 ? 999.0f : static_cast<float>(b[1] - a[1]) / static_cast<float>(dx);
  int c = s > 2.4f ? 0 : s > 0.4f ? 1 : s > -0.4f ? 2 : s > -2.4f ? 3 : 4;
  if (dx < 0) c += 4;
  return c % 8;
}

float vdist(const int16_t* a, const int16_t* b, int n) {
  double s = 0.0;
  for (int k = 0; k < n && k < 3; k++) {
    double d = static_cast<double>(a[k]) - b[k];
    s += d * d;
  }
  return static_cast<float>(std::sqrt(s));
}

float ANGLE(const int32_t* a, const int32_t* v, const int32_t* b) {
  double u[3], w[3], uu = 0, ww = 0, uw = 0;
  for (int k = 0; k < 3; k++) {
    u[k] = static_cast<double>(a[k]) - v[k];
    w[k] = static_cast<double>(b[k]) - v[k];
    uu += u[k] * u[k];
    ww += w[k] * w[k];
    uw += u[k] * w[k];
  }
  double l = std::sqrt(uu) * std::sqrt(ww);
  if (l == 0.0) return 0.0f;
  double c = uw / l;
  if (c < -1.0 || c > 1.0) return 0.0f;
  return static_cast<float>(std::acos(c) / 0.017453293);
}

int vbox(int x, int y, int width, int height, uint32_t value, int zoom, int flags) {
  if (zoom != 0) {
    x <<= zoomsh[0];
    width <<= zoomsh[0];
    y <<= zoomsh[1];
    height <<= zoomsh[1];
    if (zoom > 0) {
      if (flags & 1) width--;
      if (flags & 2) height--;
    } else {
      int sx = (zoomsh[0] ? 1 << (zoomsh[0] - 1) : 0) - flags;
      int sy = (zoomsh[1] ? 1 << (zoomsh[1] - 1) : 0) - flags;
      x += sx;
      width -= 2 * sx;
      y += sy;
      height -= 2 * sy;
    }
  }
  auto pt = [](int px, int py, int16_t* p) {
    p[0] = static_cast<int16_t>(px);
    p[1] = static_cast<int16_t>(py);
    p[2] = 0;
  };
  int16_t p[3];
  pt(x, y, p);
  vmove(p);
  const int corners[4][2] = {{x, y + height}, {x + width, y + height}, {x + width, y}, {x, y}};
  for (const auto& c : corners) {
    pt(c[0], c[1], p);
    vline(p, value, 0);
  }
  return 0;
}

int clrwin(int x, int y) {
  // With the hardware display (device flags bit 0x1) its hook does nothing.
  if (devflg & 1) return 0;
  return putcur(x, y);
}

void penini() {
  drwbox = {{0, 0, -1000}, {511, 511, 1000}};
  std::memset(drworg, 0, sizeof drworg);
  std::memset(penpt, 0, sizeof penpt);
  std::memset(rotpt, 0, sizeof rotpt);
  lastpen = 0xFFFFFFFFu;
  lastsiz = 0;
  zoomsh[0] = zoomsh[1] = 0;
  lnst = LnState{};
}
