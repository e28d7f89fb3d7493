// Cell reading, the text grab, the drawn cursors and the tablet,
// parameter-cursor and trigger pointer sources.
#include "ui/keys.h"

#include "compute/fnsvc.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "graphics/drawstate.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "ui/cursor.h"
#include "ui/events.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

TabState tabst;
PrmCur prmcur[3];
Trigger trig;

namespace {
// The rubber-band figure.
struct Band {
  int shape = 0;       // 0 off; else the shape byte (BC_ bits)
  bool drawn = false;
  int ax = 0, ay = 0;  // anchor
  int cx = 0, cy = 0;  // corner
  int dx = 0, dy = 0;  // the figure's size while it is moved whole
  bool anchored = false;  // a block is marked (grbtxt)
  bool fresh = true;      // the next corner set while off is the anchor
  float path = 0;         // length of the path the corner travelled
  uint16_t savflg = 0;    // the cursor flags when the figure went on
  int follow = 0;         // how it follows the pointer: 0 the corner, 1 the
                          // whole figure by its corner, 2 the whole figure
                          // by its anchor (a box of fixed size)
} band;

// The cross-hair as last drawn.
struct Cross {
  bool drawn = false;
  int x = 0, y = 0, mode = 0;
} cross;

int slots[2][2];  // saved text cursors

// XOR of one pixel of the current window's surface.
void xorpix(Surface* s, int x, int y, uint32_t v) {
  if (s && x >= 0 && y >= 0 && x < s->w && y < s->h) s->row(y)[x] ^= v;
}

Surface* cursurf() {
  const PwRec* p = wpwrec(curport);
  return p ? wm_surface(p->window) : nullptr;
}

// XOR lines, so that drawing twice leaves the surface as it was.
void xorline(Surface* s, int x0, int y0, int x1, int y1, uint32_t v) {
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    xorpix(s, x0, y0, v);
    if (x0 == x1 && y0 == y1) break;
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

// The figure between anchor and corner, XORed so that drawing it twice
// leaves the surface as it was.
void bandfig(Surface* s) {
  int ax = band.ax, ay = band.ay, cx = band.cx, cy = band.cy;
  const bool clip = band.shape & BC_CLAMP;
  auto clampto = [&](int& x, int& y) {
    x = std::clamp<int>(x, curst.xmin, std::max(curst.xmin, curst.xmax));
    y = std::clamp<int>(y, curst.ymin, std::max(curst.ymin, curst.ymax));
  };
  if (clip) {
    clampto(ax, ay);
    clampto(cx, cy);
  }
  const uint32_t v = 0xFFFFFF;
  const int kind = band.shape & 3;
  if (kind >= 2 || (band.shape & BC_MEASURE) == BC_MEASURE) {
    // An ellipse in the box, or a circle about the anchor through the
    // corner (or of the measured path's length); each pixel once.
    int rx, ry, x0, y0;
    if (kind == 2 && (band.shape & BC_MEASURE) != BC_MEASURE) {
      x0 = (ax + cx) / 2;
      y0 = (ay + cy) / 2;
      rx = std::abs(cx - ax) / 2;
      ry = std::abs(cy - ay) / 2;
    } else {
      x0 = ax;
      y0 = ay;
      const double r = (band.shape & BC_MEASURE) == BC_MEASURE ? band.path : std::hypot(cx - ax, cy - ay);
      rx = ry = static_cast<int>(std::lround(r));
    }
    std::vector<std::pair<int, int>> pts;
    const int steps = std::max(8, 8 * (rx + ry));
    for (int i = 0; i < steps; i++) {
      const double t = 2 * M_PI * i / steps;
      pts.emplace_back(x0 + static_cast<int>(std::lround(rx * std::cos(t))),
                       y0 + static_cast<int>(std::lround(ry * std::sin(t))));
    }
    std::sort(pts.begin(), pts.end());
    pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
    for (const auto& [x, y] : pts) {
      if (clip && (x < curst.xmin || x > curst.xmax || y < curst.ymin || y > curst.ymax)) continue;
      xorpix(s, x, y, v);
    }
    return;
  }
  if (band.shape & BC_LINE) {
    xorline(s, ax, ay, cx, cy, v);
    return;
  }
  const int x0 = std::min(ax, cx), x1 = std::max(ax, cx);
  const int y0 = std::min(ay, cy), y1 = std::max(ay, cy);
  xorline(s, x0, y0, x1, y0, v);
  if (y1 > y0) xorline(s, x0, y1, x1, y1, v);
  if (y1 - y0 > 1) {
    xorline(s, x0, y0 + 1, x0, y1 - 1, v);
    if (x1 > x0) xorline(s, x1, y0 + 1, x1, y1 - 1, v);
  }
}

void bandtoggle() {
  if (Surface* s = cursurf()) {
    bandfig(s);
    band.drawn = !band.drawn;
    if (const PwRec* p = wpwrec(curport)) invalwin(p->window);
  }
}

// The cell of the text window under a pixel point.
void pixcell(int x, int y, int* col, int* row) {
  const Wport* w = curport;
  const TxtGrid* g = wgrid(w);
  const int cw = w && w->chwid ? w->chwid : 8, ch = w && w->chhgt ? w->chhgt : 16;
  *col = x / cw + (g ? g->ocol : 0);
  *row = y / ch + (g ? g->orow : 0);
}

// A grid cell, or null outside the buffer.
char* cell(int col, int row) {
  TxtGrid* g = curgrid();
  char* b = gridbuf(g);
  if (!b || col < 0 || row < 0 || col >= g->rowlen || row >= g->nrows) return nullptr;
  return b + static_cast<size_t>(row) * g->rowlen + col;
}

// A field digit added, kept from overflowing.
int32_t addigit(int32_t v, int d) {
  if (v > (INT32_MAX - d) / 10) return INT32_MAX;
  return v * 10 + d;
}
}  // namespace

// ---- Cell reading ---------------------------------------------------------------

int txtcell(char* buf, int col, int row, int size) {
  if (!buf || size < 1) return 0;
  return txtget(col, row, buf, size - 1 > 0 ? size - 1 : -1) < 0 ? 0 : static_cast<int>(std::strlen(buf));
}

int getwrd(int x, int y, char* buf, int size) {
  if (!buf || size < 1) return 0;
  buf[0] = 0;
  auto word = [](const char* c) {
    const auto u = static_cast<unsigned char>(*c);
    return u >= 33 && u <= 175;
  };
  const char* at = cell(x, y);
  if (!at || !word(at)) return 0;
  int l = x, r = x;
  while (cell(l - 1, y) && word(cell(l - 1, y))) l--;
  while (cell(r + 1, y) && word(cell(r + 1, y))) r++;
  const int n = std::min(r - l + 1, size - 1);
  std::memcpy(buf, cell(l, y), static_cast<size_t>(n));
  buf[n] = 0;
  return n;
}

int wordat(int x, int y, char* buf, int size) {
  int col, row;
  pixcell(x, y, &col, &row);
  return getwrd(col, row, buf, size);
}

char* grbtxt(int key, int* len) {
  if (len) *len = 0;
  if (!band.anchored) return nullptr;
  int c0, r0, c1, r1;
  pixcell(band.ax, band.ay, &c0, &r0);
  pixcell(band.cx, band.cy, &c1, &r1);
  if (c1 < c0) std::swap(c0, c1);
  if (r1 < r0) std::swap(r0, r1);
  if (key == 8 || key == 211) {
    for (int r = r0; r <= r1; r++) erstxt(curwin, c0, r, c1 - c0 + 1);
    return nullptr;
  }
  if (key != 13 && key != 129 && key != 130) return nullptr;
  if (key == 130) r1 = r0;
  const int w = c1 - c0 + 1;
  auto* out = static_cast<char*>(getbuf((r1 - r0 + 1) * (w + 1) + 1));
  if (!out) return nullptr;
  int n = 0;
  for (int r = r0; r <= r1; r++) {
    char* row = out + n;
    int m = txtcell(row, c0, r, w + 1);
    while (m > 0 && row[m - 1] == ' ') m--;
    n += m;
    out[n++] = '\n';
  }
  out[--n] = 0;  // the last newline ends the text
  if (len) *len = n;
  return n > 0 ? out : nullptr;
}

namespace {
int bandset(int x, int y, int mode);
}

int Boxcur(int x, int y, int mode) {
  if (mode >= 0 || mode == -3 || mode == -9)
    band.follow = 0;
  else if (mode >= -6 && mode <= -4)
    band.follow = 1;
  else if (mode == -7)
    band.follow = 2;
  return bandset(x, y, mode);
}

int boxtrack(int x, int y) {
  if (!band.shape) return 0;
  if (band.follow == 2) return bandset(x + band.dx, y + band.dy, -4);
  return bandset(x, y, band.follow == 1 ? -4 : -3);
}

namespace {
int bandset(int x, int y, int mode) {
  if (mode > 0) {
    if (band.shape == 0) {
      band.savflg = curflg;
      band.ax = band.cx = curx;
      band.ay = band.cy = cury;
      band.anchored = true;
      band.fresh = false;
      band.path = 0;
      band.shape = mode & 0xFF ? mode & 0xFF : 1;
    }
    if (!band.drawn) bandtoggle();
    return 0;
  }
  if (mode >= -2) {
    if (band.drawn) bandtoggle();
    if (mode == 0) {  // off: the marked block stays for grbtxt
      if (band.shape) curflg = static_cast<uint16_t>((curflg & 0x8000) | (band.savflg & 0x7FFF));
      band.shape = 0;
      band.fresh = true;
    } else if (band.shape) {
      bandtoggle();  // redrawn at the stored corner
    }
    return 0;
  }
  x = std::max(x, 0);
  y = std::max(y, 0);
  if ((gflags & 0x2000) && mode != -7) {
    // Mirrored by the height of the cursor window, as the pick flips it
    // (the size of a box of fixed size is no point).
    int h = scrhgt;
    if (const PwRec* p = wpwrec(curport); p && p->rect[3] >= p->rect[1]) h = p->rect[3] - p->rect[1] + 1;
    y = std::max(0, h - 1 - y);
  }
  const bool was = band.drawn;
  if (was) bandtoggle();
  if (mode == -9 && band.shape == 0) {
    // The first point of an angle: a line from it follows the cursor.
    band.savflg = curflg;
    band.shape = 1 | BC_LINE;
    band.fresh = true;
  }
  if (band.fresh) {
    band.ax = band.cx = x;
    band.ay = band.cy = y;
    band.anchored = true;
    band.fresh = false;
    band.path = 0;
  } else if (mode == -7) {
    // A box of fixed size: the corner lies (x, y) from the anchor.
    band.dx = x;
    band.dy = y;
    band.cx = band.ax + x;
    band.cy = band.ay + y;
    if (band.shape == 0) {
      band.savflg = curflg;
      band.shape = 1;
    }
  } else if (mode >= -6 && mode <= -4) {
    // The whole figure moves with its corner.
    band.ax += x - band.cx;
    band.ay += y - band.cy;
    band.cx = x;
    band.cy = y;
  } else {
    if ((band.shape & BC_SLOPE) && (band.shape & BC_MEASURE) != BC_MEASURE) {
      // Fixed slope: the corner lies on a diagonal of the anchor.
      const int d = std::max(std::abs(x - band.ax), std::abs(y - band.ay));
      x = band.ax + (x < band.ax ? -d : d);
      y = band.ay + (y < band.ay ? -d : d);
    }
    band.path += static_cast<float>(std::hypot(x - band.cx, y - band.cy));
    band.cx = x;
    band.cy = y;
  }
  if (was || band.shape > 0) bandtoggle();
  return 0;
}
}  // namespace

int boxon() { return band.shape; }

int boxdrw(int x0, int y0, int x1, int y1, int value) {
  Surface* s = cursurf();
  if (!s) return 0;
  // An 8-bit value is a grey level (64, the erase pattern, draws 170);
  // wider values are colours.
  uint32_t v = static_cast<uint32_t>(value);
  if (value == 64) v = 170;
  if (v <= 255) v *= 0x010101u;
  xorline(s, x0, y0, x1, y1, v & 0xFFFFFF);
  if (const PwRec* p = wpwrec(curport)) invalwin(p->window);
  return 0;
}

int cellpix(int col, int row, int* x, int* y) {
  const Wport* w = curport;
  const TxtGrid* g = wgrid(w);
  const int cw = w && w->chwid ? w->chwid : 8, ch = w && w->chhgt ? w->chhgt : 16;
  if (x) *x = (col - (g ? g->ocol : 0)) * cw;
  if (y) *y = (row - (g ? g->orow : 0)) * ch;
  return 0;
}

// ---- The tablet -----------------------------------------------------------------

int tabfeed(TabState& t, int mode, int byte) {
  if (byte < 0) return -2;
  int32_t b = -1, x = 0, y = 0;
  const int fields = (mode >> 2) & 31;
  if (fields == 0 || ((mode & 0x400) && (byte & 0x80))) {
    // Binary packets of five bytes.
    if (byte & 0x80) {
      if (t.pos != 0) {  // a first byte inside a packet
        t.pos = 0;
        trcint(16, "frmerr", 0, byte, 0, 0, 0, 0);
        return -1;
      }
      t.pkt[t.pos++] = static_cast<uint8_t>(byte);
      return -2;
    }
    if (t.pos == 0) return -2;  // no packet start seen
    t.pkt[t.pos++] = static_cast<uint8_t>(byte);
    if (t.pos < 5) return -2;
    t.pos = 0;
    b = (t.pkt[0] & 7) + ((t.pkt[0] & 0x40) ? 8 : 0);
    x = t.pkt[1] | (t.pkt[2] << 7);
    y = t.pkt[3] | (t.pkt[4] << 7);
  } else {
    const int c = byte & 0x7F;
    if (c >= '0' && c <= '9') {
      if (t.nf < 8) t.field[t.nf] = addigit(t.indigit ? t.field[t.nf] : 0, c - '0');
      t.indigit = true;
      return -2;
    }
    if (c == '-' && (mode & 0x8000)) {
      t.neg = true;
      return -2;
    }
    if (t.indigit) {  // a field ends
      if (t.nf < 8) {
        if (t.neg) t.field[t.nf] = -t.field[t.nf];
        t.nf++;
      }
      t.indigit = t.neg = false;
    }
    if (c >= 32) return -2;
    // A control character ends the record: only a whole one counts.
    const int nf = t.nf;
    t.nf = 0;
    t.neg = false;
    if (nf != fields || nf < 2) return -2;
    int px = 0, py = 1;
    b = 1;
    if (mode & 0x80) {
      b = t.field[0];
      px = 1;
      py = 2;
    } else if ((mode & 0x100) && nf >= 3) {
      b = t.field[2];
    }
    if (mode & 0x200) std::swap(px, py);
    x = t.field[px];
    y = t.field[py];
  }
  if (b == t.buttons && x == t.x && y == t.y) return -1;
  if (t.held) {  // after a reset, buttons down wait for a release
    if (b != 0) return -1;
    t.held = false;
  }
  t.buttons = b;
  t.x = x;
  t.y = y;
  return b ? 128 | (b & 127) : 0;
}

int gettab(int mode) {
  if (!(curflg & 4) || !tablet) return -1;
  if (mode < 0) {
    tabst.buttons = -1;
    tabst.held = true;
  }
  for (int i = 0; i < 200; i++) {
    const int c = comgetc();
    if (c < 0) break;
    const int r = tabfeed(tabst, tablet, c);
    if (r == -2) continue;
    if (r == -1) return -1;
    const int sh = (tablet >> 12) & 3;
    int x = tabst.x >> sh, y = tabst.y >> sh;
    if (tablet & 0x4000) y = scrhgt - 1 - y;
    curx = static_cast<int16_t>(std::clamp(x, -32768, 32767));
    cury = static_cast<int16_t>(std::clamp(y, -32768, 32767));
    trcint(16, "gettab", 0, r, curx, cury, tabst.buttons, 0);
    return r;
  }
  return -1;
}

int tabdrain() {
  for (int i = 0; i < 100000 && comgetc() >= 0; i++) {
  }
  return 0;
}

// ---- Parameter cursors and triggers -----------------------------------------------

int prmval(const PrmCur* r, int dflt) {
  if (!r || r->param == 0) return dflt;
  const double v = static_cast<double>(getprm(r->param)) * r->scale + r->offset;
  return static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0));
}

int prmxy() {
  bool moved = false;
  int16_t* pt[2] = {&curx, &cury};
  const int lo[2] = {0, 0}, hi[2] = {scrwid - 1, scrhgt - 1};
  for (int k = 0; k < 2; k++) {
    const int d = prmval(&prmcur[k], 0);
    if (d == 0) continue;
    const int v = std::clamp(*pt[k] + d, lo[k], hi[k]);
    if (v != *pt[k]) {
      *pt[k] = static_cast<int16_t>(v);
      moved = true;
    }
  }
  trcint(16, "prmxy", 0, curx, cury, moved, 0, 0);
  return moved ? 0 : -1;
}

int trigger() {
  const int kind = trig.mode & 15;
  if (kind == 0 || trig.param == 0) return -1;
  const float v = getprm(trig.param);
  const float d = v - trig.ref;
  if ((trcmsk & (8 | 16 | 128)) == (8 | 16 | 128))
    jprintf(dbglun, "trigger: %5d %5d %5d %5d %5d\n", trig.param, static_cast<int>(v),
            static_cast<int>(trig.ref), static_cast<int>(d), trig.mode);
  const bool was = trig.mode & 0x40;
  bool fire = false, now = was;
  switch (kind) {
    case 1: now = d > 0; fire = now && !was; break;
    case 2: now = d <= 0; fire = now && !was; break;
    case 3:
      fire = d != 0;
      if (fire) trig.ref = v;
      break;
    case 4: now = d == 0; fire = now && !was; break;
    case 5: fire = d > 0; break;
    case 6: fire = d <= 0; break;
    case 7: fire = d == 0; break;
    default: break;
  }
  trig.mode = static_cast<int16_t>(now ? (trig.mode | 0x40) : (trig.mode & ~0x40));
  if (!fire) return -1;
  if (trig.cmd) {
    if (const char* t = static_cast<const char*>(stkptr(trig.cmd))) {
      xeqstr(t, 0, static_cast<int>(std::strlen(t)));
      return 128;
    }
  }
  return trig.key;
}

// ---- Drawn cursors -----------------------------------------------------------------

int drwcur(int x, int y, int mode) {
  Surface* s = cursurf();
  auto draw = [&](int px, int py, int m) {
    const int xmax = m == 64 ? 497 : 625, ymax = m == 64 ? 497 : 385;
    const uint32_t v = m == 64 ? 0x404040 : 0xAAAAAA;
    xorline(s, std::clamp(px - 7, 0, xmax), py, std::clamp(px + 7, 0, xmax), py, v);
    if (py - 7 < py) xorline(s, px, std::clamp(py - 7, 0, ymax), px, py - 1, v);
    xorline(s, px, py + 1, px, std::clamp(py + 7, 0, ymax), v);
  };
  if (cross.drawn && (mode == -1 || cross.x != x || cross.y != y)) {
    draw(cross.x, cross.y, cross.mode);
    cross.drawn = false;
  }
  if (mode == -1 || cross.drawn) return 0;
  draw(x, y, mode);
  cross = {true, x, y, mode};
  if (const PwRec* p = wpwrec(curport)) invalwin(p->window);
  return 0;
}

int savcur(int save, int n) {
  int (&s)[2] = slots[pflags & 1];
  if (save) {
    getcur(&s[0], &s[1]);
    if (n >= 0) {
      curx = static_cast<int16_t>(scrwid * n / 2);
      cury = static_cast<int16_t>(scrhgt * n / 2);
    }
  } else {
    putcur(s[0], s[1]);
  }
  return 0;
}
