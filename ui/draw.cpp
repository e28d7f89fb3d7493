// Drawing primitives: a software rasteriser over window surfaces and
// off-screen ports.
#include "ui/draw.h"

#include "core/args.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "graphics/drawstate.h"
#include "graphics/pixels.h"
#include "graphics/writers.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/ports.h"
#include "ui/platform/face.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {
void* hp(int32_t ref) { return ref < 0 ? heldptr(ref) : nullptr; }

PwRec* cur = nullptr;  // the drawing port set by setPort
bool curset = false;   // a port was set (else the current window's record)

// Where the pixels of a port are.
struct Canvas {
  Surface* s = nullptr;    // a window's client surface
  uint8_t* px = nullptr;   // or an off-screen port's pixels
  int w = 0, h = 0, depth = 0;
  uint32_t rowbytes = 0;
  const uint8_t* ctab = nullptr;

  bool ok() const { return s || px; }

  // The nearest colour-table entry of a colour 0x00BBGGRR.
  int index(uint32_t c) const {
    const uint8_t* t = ctab ? ctab : progctab();
    int best = 0;
    long bd = -1;
    for (int i = 0; i < 256; i++) {
      const long db = long(t[i * 4]) - long((c >> 16) & 0xFF);
      const long dg = long(t[i * 4 + 1]) - long((c >> 8) & 0xFF);
      const long dr = long(t[i * 4 + 2]) - long(c & 0xFF);
      const long d = db * db + dg * dg + dr * dr;
      if (bd < 0 || d < bd) {
        bd = d;
        best = i;
      }
    }
    return best;
  }

  // Stores a raw value (xr: XOR it in).
  void raw(int x, int y, uint32_t v, bool xr) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    if (s) {
      uint32_t& d = s->row(y)[x];
      d = ((xr ? d : 0) ^ v) & 0xFFFFFF;
      return;
    }
    uint8_t* r = px + static_cast<size_t>(y) * rowbytes;
    switch (depth) {
      case 1: {
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
        if (!xr) r[x >> 3] &= static_cast<uint8_t>(~bit);
        if (v & 1) r[x >> 3] ^= bit;
        break;
      }
      case 8: r[x] = static_cast<uint8_t>((xr ? r[x] : 0) ^ v); break;
      case 16: {
        uint16_t o;
        std::memcpy(&o, r + 2 * x, 2);
        o = static_cast<uint16_t>((xr ? o : 0) ^ v);
        std::memcpy(r + 2 * x, &o, 2);
        break;
      }
      case 24:
        for (int k = 0; k < 3; k++)
          r[3 * x + k] = static_cast<uint8_t>((xr ? r[3 * x + k] : 0) ^ (v >> (8 * k)));
        break;
      case 32: {
        uint32_t o;
        std::memcpy(&o, r + 4 * x, 4);
        o = (xr ? o : 0) ^ v;
        std::memcpy(r + 4 * x, &o, 4);
        break;
      }
      default: break;
    }
  }

  // A colour 0x00BBGGRR in this canvas's layout.
  uint32_t conv(uint32_t c) const {
    if (s) return bgr(c);
    switch (depth) {
      case 1: return (c & 0xFFFFFF) ? 1 : 0;
      case 8: return static_cast<uint32_t>(index(c));
      case 16: return to565(bgr(c));
      case 24: return bgr(c);  // stored low byte first: blue, green, red
      default: return bgr(c);
    }
  }
  void put(int x, int y, uint32_t v) { raw(x, y, v, false); }
  void span(int x0, int x1, int y, uint32_t v) {
    if (y < 0 || y >= h) return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, w - 1);
    for (int x = x0; x <= x1; x++) put(x, y, v);
  }
};

Canvas canvas(PwRec* p) {
  Canvas c;
  if (!p) return c;
  if (p->window) {
    if (Surface* s = wm_surface(p->window)) {
      c.s = s;
      c.w = s->w;
      c.h = s->h;
      return c;
    }
  }
  if (auto* px = static_cast<uint8_t*>(hp(p->pixels))) {
    c.px = px;
    c.depth = p->depth;
    c.rowbytes = p->rowbytes;
    c.w = p->depth >= 8 ? static_cast<int>(p->rowbytes / (p->depth / 8)) : static_cast<int>(p->rowbytes * 8);
    c.h = p->rect[3];
    c.ctab = static_cast<const uint8_t*>(hp(p->ctab));
  }
  return c;
}

// The records drawn to: the dual target's used records, else the port.
struct Targets {
  PwRec* r[2] = {nullptr, nullptr};
  int n = 0;
};

Targets targets(bool windowonly = false) {
  Targets t;
  if (Wport* d = wdcport()) {
    if ((d->ctxflg & 1) && wpwrec(d)) t.r[t.n++] = wpwrec(d);
    if (!windowonly && (d->ctxflg & 4))
      if (auto* o = static_cast<PwRec*>(hp(d->offscr))) t.r[t.n++] = o;
    return t;
  }
  if (PwRec* p = getPort()) t.r[t.n++] = p;
  return t;
}

// A pen dot of the port's width centred on (x, y).
void dot(Canvas& c, const PwRec* p, int x, int y, uint32_t v) {
  const int w = std::max<int>(1, p->penwid);
  if (w == 1) {
    c.put(x, y, v);
    return;
  }
  const int o = (w - 1) / 2;
  for (int j = 0; j < w; j++) c.span(x - o, x - o + w - 1, y - o + j, v);
}

// A line from (x0, y0) towards (x1, y1), the end point left out.
void line(Canvas& c, const PwRec* p, int x0, int y0, int x1, int y1, uint32_t v) {
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  while (x0 != x1 || y0 != y1) {
    dot(c, p, x0, y0, v);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

// The rows of the filled ellipse in the box (x0, y0)-(x1, y1): for each
// row y0 + i, the first and last column ([1] < [0] for none).
std::vector<std::pair<int, int>> ellrows(int x0, int y0, int x1, int y1) {
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  const double cx = (x0 + x1) / 2.0, cy = (y0 + y1) / 2.0;
  const double a = (x1 - x0 + 1) / 2.0, b = (y1 - y0 + 1) / 2.0;
  std::vector<std::pair<int, int>> rows;
  for (int y = y0; y <= y1; y++) {
    const double t = (y - cy) / b;
    const double hw = a * std::sqrt(std::max(0.0, 1.0 - t * t));
    int l = static_cast<int>(std::ceil(cx - hw - 1e-9)), r = static_cast<int>(std::floor(cx + hw + 1e-9));
    l = std::max(l, x0);
    r = std::min(r, x1);
    if (r < l) {  // the pole rows keep the middle pixel(s)
      l = static_cast<int>(std::floor(cx));
      r = static_cast<int>(std::ceil(cx));
    }
    rows.emplace_back(l, r);
  }
  return rows;
}

// Angle of a point about a centre, counter-clockwise on the screen, in
// degrees 0 .. 360.
double angleof(double dx, double dy) {
  double a = std::atan2(-dy, dx) * 180.0 / M_PI;
  return a < 0 ? a + 360.0 : a;
}

// Whether angle a lies on the counter-clockwise sweep from s to e (the
// whole circle when they are equal).
bool insweep(double a, double s, double e) {
  s = std::fmod(std::fmod(s, 360.0) + 360.0, 360.0);
  e = std::fmod(std::fmod(e, 360.0) + 360.0, 360.0);
  if (std::fabs(s - e) < 1e-9) return true;
  return s < e ? (a >= s && a <= e) : (a >= s || a <= e);
}

// Draws the ellipse of a box on a canvas: filled (fill) and/or its outline
// (outline), only the part inside the sweep s..e when sweep is set.
void ellipse(Canvas& c, const PwRec* p, int x0, int y0, int x1, int y1, bool fill, uint32_t fv,
             bool outline, uint32_t ov, bool sweep = false, double s = 0, double e = 0) {
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  const auto rows = ellrows(x0, y0, x1, y1);
  const double cx = (x0 + x1) / 2.0, cy = (y0 + y1) / 2.0;
  auto in = [&](int x, int y) {
    if (y < y0 || y > y1) return false;
    const auto& r = rows[y - y0];
    return x >= r.first && x <= r.second;
  };
  for (int y = y0; y <= y1; y++) {
    const auto& r = rows[y - y0];
    for (int x = r.first; x <= r.second; x++) {
      if (sweep && !insweep(angleof(x - cx, y - cy), s, e)) continue;
      const bool edge = x == r.first || x == r.second || !in(x, y - 1) || !in(x, y + 1);
      if (outline && edge)
        dot(c, p, x, y, ov);
      else if (fill)
        c.put(x, y, fv);
    }
  }
}

void logrect(const char* what, const int32_t* r) {
  if (logfp && (jdebug & 2)) logprintf("%s(%d,%d->%d,%d) %d\n", what, r[0], r[1], r[2], r[3], jdebug);
}
}  // namespace

// ---- Ports and pen ------------------------------------------------------------

int setPort(PwRec* p) {
  if (jdebug > 1) logprintf("setPort(%ld) %10dt %ld %d\n", static_cast<long>(p ? p->window : 0), 0, 0L, 0);
  // None goes back to the current window's record.
  cur = p;
  curset = p != nullptr;
  return 0;
}

PwRec* getPort() { return curset ? cur : drawport(); }

PwRec* portset() { return curset ? cur : nullptr; }

void portgone(const PwRec* p) {
  if (!p || cur != p) return;
  cur = nullptr;
  curset = false;
}

int portdc(PwRec* p, int on) {
  if (!p) return 0;
  if (on)
    p->flags |= 32;
  else
    p->flags &= static_cast<uint16_t>(~32);
  return 0;
}

int moveto(int x, int y) {
  const Targets t = targets();
  for (int i = 0; i < t.n; i++) {
    t.r[i]->penx = static_cast<int16_t>(x);
    t.r[i]->peny = static_cast<int16_t>(y);
  }
  return 0;
}

int movpen(int x, int y) { return moveto(x, y); }

int lineto(int x, int y) {
  const Targets t = targets(true);
  for (int i = 0; i < t.n; i++) {
    PwRec* p = t.r[i];
    Canvas c = canvas(p);
    if (c.ok()) line(c, p, p->penx, p->peny, x, y, c.conv(p->pencol));
    p->penx = static_cast<int16_t>(x);
    p->peny = static_cast<int16_t>(y);
  }
  if (Wport* d = wdcport())  // the pen of the port not drawn to moves too
    if (auto* o = static_cast<PwRec*>(hp(d->offscr))) {
      o->penx = static_cast<int16_t>(x);
      o->peny = static_cast<int16_t>(y);
    }
  return 0;
}

int pendots(const int32_t* xy, int n) {
  if (!xy || n < 1) return 0;
  const Targets t = targets(true);
  for (int i = 0; i < t.n; i++) {
    PwRec* p = t.r[i];
    Canvas c = canvas(p);
    if (!c.ok()) continue;
    const uint32_t v = c.conv(p->pencol);
    for (int k = 0; k < n; k++) dot(c, p, xy[2 * k], xy[2 * k + 1], v);
  }
  return 0;
}

int drawline(int x0, int y0, int x1, int y1) {
  moveto(x0, y0);
  return lineto(x1, y1);
}

int drawrect(int x, int y, int w, int h) {
  moveto(x, y);
  lineto(x + w - 1, y);
  lineto(x + w - 1, y + h - 1);
  lineto(x, y + h - 1);
  return lineto(x, y);
}

int frmrect(const int32_t* r) {
  if (!r) return 0;
  return drawrect(r[0], r[1], r[2] - r[0] + 1, r[3] - r[1] + 1);
}

int roundrect(int x, int y, int w, int h) {
  // Twenty line steps from (x + 2, y) clockwise, each corner two pixels.
  int px = x + 2, py = y;
  moveto(px, py);
  auto step = [&](int dx, int dy) {
    px += dx;
    py += dy;
    lineto(px, py);
  };
  step(w - 4, 0);
  step(1, 0), step(0, 1), step(1, 0), step(0, 1);
  step(0, h - 4);
  step(0, 1), step(-1, 0), step(0, 1), step(-1, 0);
  step(-(w - 4), 0);
  step(-1, 0), step(0, -1), step(-1, 0), step(0, -1);
  step(0, -(h - 4));
  step(0, -1), step(1, 0), step(0, -1), step(1, 0);
  return 0;
}

int rndrect(const int32_t* r) {
  if (!r) return 0;
  return roundrect(r[0], r[1], r[2] - r[0] + 1, r[3] - r[1] + 1);
}

int insrect(int32_t* r, int dx, int dy) {
  if (!r) return 0;
  r[0] += dx;
  r[1] += dy;
  r[2] -= dx;
  r[3] -= dy;
  return 0;
}

int eraseRect(const int32_t* r) {
  if (!r) return 0;
  logrect("eraseRect", r);
  const Targets t = targets();
  for (int i = 0; i < t.n; i++) {
    Canvas c = canvas(t.r[i]);
    const uint32_t v = c.conv(t.r[i]->bkcol);
    for (int y = r[1]; y <= r[3]; y++) c.span(r[0], r[2], y, v);
  }
  return 0;
}

int fillrect(int x, int y, int w, int h) {
  const Targets t = targets();
  for (int i = 0; i < t.n; i++) {
    Canvas c = canvas(t.r[i]);
    const uint32_t v = c.conv(t.r[i]->fillcol);
    for (int j = 0; j < h; j++) c.span(x, x + w - 1, y + j, v);
  }
  return 0;
}

int drawoval(int x, int y, int w, int h) {
  if (w < 1 || h < 1) return 0;
  const Targets t = targets();
  for (int i = 0; i < t.n; i++) {
    Canvas c = canvas(t.r[i]);
    ellipse(c, t.r[i], x, y, x + w - 1, y + h - 1, false, 0, true, c.conv(t.r[i]->pencol));
  }
  return 0;
}

int fillval(int x, int y, int w, int h) {
  if (w < 1 || h < 1) return 0;
  const Targets t = targets();
  for (int i = 0; i < t.n; i++) {
    Canvas c = canvas(t.r[i]);
    ellipse(c, t.r[i], x, y, x + w - 1, y + h - 1, true, c.conv(t.r[i]->fillcol), true,
            c.conv(t.r[i]->pencol));
  }
  return 0;
}

namespace {
// The end points of an arc or pie, as the platform call takes them.
void arcends(int xc, int yc, int rx, int ry, int start, int extent, float& r, int* e) {
  r = std::sqrt(static_cast<float>(rx) * rx + static_cast<float>(ry) * ry);
  const float k = 0.017453293f;
  e[0] = static_cast<int>(std::lround(xc + r * std::cos(-start * k)));
  e[1] = static_cast<int>(std::lround(yc + r * std::sin(-start * k)));
  e[2] = static_cast<int>(std::lround(xc + r * std::cos(-extent * k)));
  e[3] = static_cast<int>(std::lround(yc + r * std::sin(-extent * k)));
}

void arcpie(int xc, int yc, int rx, int ry, int start, int extent, bool pie) {
  float r;
  int e[4];
  arcends(xc, yc, rx, ry, start, extent, r, e);
  const int x0 = xc - rx, y0 = yc - ry, x1 = xc + rx - 1, y1 = yc + ry - 1;
  if (pie && logfp)
    logprintf("PIE(%d,%d,%d,%d,%d,%d) %.1f %d,%d,%d,%d,%d,%d,%d,%d\n", xc, yc, rx, ry, start, extent,
              static_cast<double>(r), x0, y0, x1, y1, e[0], e[1], e[2], e[3]);
  if (x1 < x0 || y1 < y0) return;
  const double cx = (x0 + x1) / 2.0, cy = (y0 + y1) / 2.0;
  const double s = angleof(e[0] - cx, e[1] - cy), en = angleof(e[2] - cx, e[3] - cy);
  const Targets t = targets();
  for (int i = 0; i < t.n; i++) {
    PwRec* p = t.r[i];
    Canvas c = canvas(p);
    const uint32_t pv = c.conv(p->pencol);
    ellipse(c, p, x0, y0, x1, y1, pie, c.conv(p->fillcol), true, pv, true, s, en);
    if (pie) {
      // The two radii from the centre to where the sweep meets the edge.
      for (const double a : {s, en}) {
        const double rad = a * M_PI / 180.0;
        const double ax = (x1 - x0 + 1) / 2.0, ay = (y1 - y0 + 1) / 2.0;
        const double dx = std::cos(rad), dy = -std::sin(rad);
        const double f = 1.0 / std::sqrt(dx * dx / (ax * ax) + dy * dy / (ay * ay));
        const int ex = static_cast<int>(std::lround(cx + dx * f - (dx > 0 ? 0.5 : -0.5) * (std::fabs(dx) > 1e-9)));
        const int ey = static_cast<int>(std::lround(cy + dy * f - (dy > 0 ? 0.5 : -0.5) * (std::fabs(dy) > 1e-9)));
        const int ccx = static_cast<int>(std::floor(cx)), ccy = static_cast<int>(std::floor(cy));
        line(c, p, ccx, ccy, ex, ey, pv);
        dot(c, p, ex, ey, pv);
      }
    }
  }
}
}  // namespace

int drarc(int xc, int yc, int rx, int ry, int start, int extent) {
  arcpie(xc, yc, rx, ry, start, extent, false);
  return 0;
}

int drpie(int xc, int yc, int rx, int ry, int start, int extent) {
  arcpie(xc, yc, rx, ry, start, extent, true);
  return 0;
}

int drawpt(int x, int y, uint32_t colour) {
  const Targets t = targets();
  for (int i = 0; i < t.n; i++) {
    Canvas c = canvas(t.r[i]);
    if (wdcport())
      c.put(x, y, c.conv(colour));
    else
      dot(c, t.r[i], x, y, c.conv(colour));
  }
  return 0;
}

int txtwid(const char* text, int n) {
  if (!text || n < 1) return 0;
  if (const PwRec* p = getPort()) {
    const int w = ftwidth(fntrow(p->fontnum), text, n);
    if (w >= 0) return w;
  }
  return n * FACEWID;
}

int ptext(const char* text, int n) {
  if (!text) return 0;
  if (n < 1) n = static_cast<int>(std::strlen(text));
  const Targets t = targets();
  for (int i = 0; i < t.n; i++) {
    PwRec* p = t.r[i];
    if (!wdcport() && (p->flags & 1)) continue;  // a hidden port shows nothing
    Canvas c = canvas(p);
    struct Ink {
      Canvas* c;
      uint32_t v;
    } ink{&c, c.conv(p->fillcol)};
    // A named face of the port's font row, else the built-in face.
    int w = ftdraw(fntrow(p->fontnum), text, n, p->penx, p->peny,
                   [](void* k, int x, int y) {
                     auto* in = static_cast<Ink*>(k);
                     in->c->put(x, y, in->v);
                   },
                   &ink);
    if (w < 0) {
      for (int k = 0; k < n; k++) {
        const auto ch = static_cast<unsigned char>(text[k]);
        for (int r = 0; r < FACEHGT; r++) {
          const uint8_t bits = facerow(ch, r);
          for (int b = 0; b < FACEWID; b++)
            if (bits & (0x80 >> b)) c.put(p->penx + k * FACEWID + b, p->peny + r, ink.v);
        }
      }
      w = n * FACEWID;
    }
    p->penx = static_cast<int16_t>(p->penx + w);
  }
  return 0;
}

int movtxt(int x, int y, const char* text, int n) {
  moveto(x, y);
  return ptext(text, n);
}

int scr2cli(const PwRec* p, int16_t* pt) {
  int ox = 0, oy = 0;
  if (!p || !pt || !wm_origin(p->window, &ox, &oy)) return 0;
  pt[0] = static_cast<int16_t>(pt[0] - oy);
  pt[1] = static_cast<int16_t>(pt[1] - ox);
  return 0;
}

int cli2scr(const PwRec* p, int16_t* pt) {
  int ox = 0, oy = 0;
  if (!p || !pt || !wm_origin(p->window, &ox, &oy)) return 0;
  pt[0] = static_cast<int16_t>(pt[0] + oy);
  pt[1] = static_cast<int16_t>(pt[1] + ox);
  return 0;
}

int ptinrect(const int16_t* pt, const int32_t* r) {
  if (!pt || !r) return 0;
  return pt[1] >= r[0] && pt[1] <= r[2] && pt[0] >= r[1] && pt[0] <= r[3];
}

int stxtpos(int width, int value, int style) {
  PwRec* p = getPort();
  if (!p) return 0;
  if (width > 0) {
    p->penwid = static_cast<int16_t>(width);
    p->pen2 = static_cast<int16_t>(value);
  }
  if (style >= 0) p->pensty = static_cast<int16_t>(style);
  return 0;
}

int gtxtpos(int* width, int* value) {
  const PwRec* p = getPort();
  if (width) *width = p ? p->penwid : 1;
  if (value) *value = p ? p->pen2 : 0;
  return 0;
}

// ---- Colour -------------------------------------------------------------------

int settxc(uint32_t colour) {
  if (PwRec* p = getPort()) p->fillcol = colour;
  // A dual target fills (pies, text) in both of its records.
  if (wdcport()) {
    const Targets t = targets();
    for (int i = 0; i < t.n; i++) t.r[i]->fillcol = colour;
  }
  return 0;
}

int setpnc(uint32_t colour) {
  const Targets t = targets();
  for (int i = 0; i < t.n; i++) {
    t.r[i]->pencol = colour;
    if (t.r[i]->penwid < 1) t.r[i]->penwid = 1;
  }
  return 0;
}

int setbkc(uint32_t colour) {
  if (PwRec* p = getPort()) p->bkcol = colour;
  return 0;
}

namespace {
uint32_t tabcol(int index) {
  const uint8_t* e = progctab() + (index & 255) * 4;
  return static_cast<uint32_t>(e[2]) | (static_cast<uint32_t>(e[1]) << 8) | (static_cast<uint32_t>(e[0]) << 16);
}
}  // namespace

int colfg(int index) { return settxc(tabcol(index)); }
int colbg(int index) { return setbkc(tabcol(index)); }

int PClut(int where, uint8_t* table, int count, int dir, int size) {
  trcint(64, "PClut", 0, where, count, dir, size, 0);
  if (!table || count < 1) return 0;
  const int win = where % 100, byte = std::clamp(where / 100, 0, 3);
  uint8_t* tab = nullptr;
  if (win == 0) {
    tab = progctab();
  } else if (count > size || dir != 1) {
    // Window win counted from 1 (entry win - 1): its own colour table, or
    // that of its image (a write of its first entries finds it too).
    const Wport* w = wport(win - 1);
    if (const PwRec* p = wpwrec(w)) tab = static_cast<uint8_t*>(hp(p->ctab));
    if (!tab && w)
      if (const auto* o = static_cast<const PwRec*>(hp(w->offscr))) tab = static_cast<uint8_t*>(hp(o->ctab));
  }
  if (!tab) return 0;
  count = std::min(count, 256);  // never past the table
  if (dir == 1) {
    if (win == 0 && size == 4 && scrbits == 8) {
      // An 8-bit screen: the table is refreshed from the palette first.
      uint8_t ent[256 * 4];
      const int n = getpal(0, count, ent);
      for (int i = 0; i < n; i++) {
        tab[i * 4] = ent[i * 4 + 2];
        tab[i * 4 + 1] = ent[i * 4 + 1];
        tab[i * 4 + 2] = ent[i * 4];
        tab[i * 4 + 3] = 0;
      }
    }
    for (int i = 0; i < count; i++) {
      if (size == 1)
        table[i] = tab[i * 4 + byte];
      else
        std::memcpy(table + i * 4, tab + i * 4, 4);
    }
    return count;
  }
  // The entries written into the table: one byte of each (size 1) or all
  // four.
  auto store = [&] {
    for (int i = 0; i < count; i++) {
      if (size == 1)
        tab[i * 4 + byte] = table[i];
      else
        std::memcpy(tab + i * 4, table + i * 4, 4);
    }
  };
  if (win != 0) {
    // A window's colour table of its own (a pixel view's) takes the entries
    // and the window shows them; one that shows through the program's
    // table takes none.
    if (tab == progctab()) return 0;
    store();
    if (const PwRec* p = wpwrec(wport(win - 1))) invalwin(p->window);
    return count;
  }
  if (scrbits != 8) return 0;
  store();
  // The palette takes red, green, blue from the table's blue, green, red.
  std::vector<uint8_t> ent(static_cast<size_t>(count) * 4);
  for (int i = 0; i < count; i++) {
    ent[i * 4] = tab[i * 4 + 2];
    ent[i * 4 + 1] = tab[i * 4 + 1];
    ent[i * 4 + 2] = tab[i * 4];
  }
  setpal(0, count, ent.data());
  return count;
}

int64_t colname(const char* name) {
  // The values as menu and dialog descriptions have always stored them.
  static const struct {
    const char* name;
    uint32_t value;
  } names[9] = {{"black", 0},           {"gray", 0x7F7F7F},  {"white", 0xFFFFFF},
                {"green", 0xFF0000},    {"purple", 0x00FFFF}, {"red", 0x0000FF},
                {"orange", 0x7F7FFF},   {"yellow", 0xFF00FF}, {"blue", 0x00FF00}};
  if (!name) return -1;
  for (const auto& n : names)
    if (std::strcmp(n.name, name) == 0) return n.value;
  return -1;
}

// ---- Pixels -------------------------------------------------------------------

namespace {
// The colour 0x00BBGGRR of a palette index, as the pen takes it.
uint32_t palrgb(uint32_t index) {
  const uint8_t* e = progctab() + (index & 0xFF) * 4;
  return uint32_t(e[2]) | uint32_t(e[1]) << 8 | uint32_t(e[0]) << 16;
}

// SETpix; with pal, a value below 256 shows on a window as that palette
// entry's colour (in an image or the pixel target it stays the value).
int setpx(int x, int y, uint32_t value, bool pal) {
  trcint(536, "SETpix", 0, x, y, static_cast<int>(value), 0, 0);
  pal = pal && value < 256;
  if (Wport* d = wdcport()) {
    if (d->ctxflg & 1)
      if (PwRec* p = wpwrec(d)) {
        Canvas c = canvas(p);
        c.put(x, y, c.conv(pal ? palrgb(value) : value));
      }
    return 0;
  }
  // The current image variable, else the pixel target's memory, else the
  // drawing port (the screen of this platform).
  const bool xr = (xorflg & 0x80) != 0;
  if (curit) return imgpix(curit, x, y, value, xr);
  if (tgtpix(x, y, value, xr)) return 0;
  PwRec* p = getPort();
  if (!p) return 0;
  Canvas c = canvas(p);
  if (!c.ok()) return 0;
  c.raw(x, y, pal ? c.conv(palrgb(value)) : c.s ? bgr(value) : value, xr);
  return 0;
}
}  // namespace

int SETpix(int x, int y, uint32_t value) { return setpx(x, y, value, false); }
int SETpal(int x, int y, uint32_t value) { return setpx(x, y, value, true); }

int32_t getpix(const PwRec* p, int x, int y) {
  if (!p) return 0;
  Canvas c = canvas(const_cast<PwRec*>(p));
  if (!c.ok() || x < 0 || y < 0 || x >= c.w || y >= c.h) return 0;
  if (c.s) return static_cast<int32_t>(c.s->row(y)[x]);
  const uint8_t* r = c.px + static_cast<size_t>(y) * c.rowbytes;
  switch (c.depth) {
    case 1: return (r[x >> 3] >> (7 - (x & 7))) & 1;
    case 8: return r[x];
    case 16: {
      int16_t v;
      std::memcpy(&v, r + 2 * x, 2);
      return v;
    }
    case 24: return r[3 * x] | (r[3 * x + 1] << 8) | (r[3 * x + 2] << 16);
    default: {
      int32_t v;
      std::memcpy(&v, r + 4 * x, 4);
      return v;
    }
  }
}

void bset(void* p, int value, int n) {
  if (p && n > 0) std::memset(p, value, static_cast<size_t>(n));
}

void wset(void* p, int value, int n) {
  auto* q = static_cast<uint8_t*>(p);
  const auto v = static_cast<uint16_t>(value);
  for (int i = 0; q && i < n; i++) std::memcpy(q + 2 * i, &v, 2);
}

void lset(void* p, int32_t value, int n) {
  auto* q = static_cast<uint8_t*>(p);
  for (int i = 0; q && i < n; i++) std::memcpy(q + 4 * i, &value, 4);
}

int pattern() {
  // No fill pattern exists on this platform: every pattern number leaves
  // the drawing as it is. The arguments are still read as usual.
  intarg(2, 0);
  intarg(3, curwin);
  return 0;
}
