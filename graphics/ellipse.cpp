// Ellipses, arcs and the arc command.
#include "graphics/ellipse.h"

#include <algorithm>
#include <cstring>

#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "graphics/veclist.h"
#include "graphics/writers.h"
#include "ui/draw.h"
#include "ui/ports.h"
#include "ui/screen.h"
#include "ui/window.h"

namespace {

// A filled ellipse's two spans straight into the current image: what
// set4pix draws through the pen when a line goes walked into vimage
// without transform, depth or brightness test.
int lastdx, lastdy;  // the last step drawn, for the pen
int spans(int dx, int dy, int cx, int cy, uint32_t value, int) {
  lastdx = dx;
  lastdy = dy;
  LnState& ls = lnst;
  ls.kind = LK_HORIZ;
  ls.err = -1;
  ls.inc = ls.dec = 0;
  ls.step = 1;
  ls.count = 2 * dx + 1;
  ls.value = value;
  for (int y : {cy - dy, cy + dy}) {
    ls.x = cx - dx;
    ls.y = ls.ey = y;
    ls.ex = cx + dx;
    drline();
    if (dy == 0) break;
  }
  return 0;
}

// Whether set4pix's spans would go straight into the current image.
bool spanok() {
  return (gflags & (0x5F44 | 0x38 | 0x2000 | 0x0001)) == 0 && curit && curit == imgtgt(IV_VIMAGE) &&
         pixwr == SETpix && !wdcport();
}

}  // namespace

int ellips(const int16_t* centre, int width, int height, uint32_t value, int flags) {
  int16_t c[3];
  std::memcpy(c, centre, sizeof c);
  if (gflags & 0x38) {
    int16_t r[3];
    std::memcpy(c, vrotat(centre, r), sizeof c);
  }
  if (flags & 128) {
    if (const Wport* w = wport(4)) {
      c[0] = static_cast<int16_t>(c[0] + w->rect[0]);
      c[1] = static_cast<int16_t>(c[1] + w->rect[1]);
    }
    flags &= ~128;
  }
  const bool pal = (flags & 256) != 0;
  flags &= ~256;
  const int64_t cx = c[0], cy = c[1];
  const int64_t a = std::max(width >> 1, 1), b = std::max(height >> 1, 1);
  if (cx - a < 0 || cy - b < 0 || cy + b > scrhgt - 1 || stopped()) return 0;
  const ImgTgt* keep = curimg(IV_VIMAGE);
  SymWriter wr = symwr;
  // An open ellipse of a palette colour shows that colour on a window, as
  // a line of it does (its pixels go one by one through the pixel writer).
  const PixWriter keepw = pixwr;
  if (pal && !flags) pixwr = pixwr == SETpix ? SETpal : pixwr == fatpix ? fatpal : pixwr;
  const bool direct = flags && wr == set4pix && spanok();
  if (direct) wr = spans;
  auto put = [&](int64_t x, int64_t y) {
    wr(static_cast<int>(x), static_cast<int>(y), static_cast<int>(cx), static_cast<int>(cy), value, flags);
  };
  // Filled without XOR, the steps of one row are drawn once, at their
  // widest (each covers the ones before it): the same pixels.
  const bool merge = flags != 0 && !(xorflg & 0x80);
  int64_t hx = 0, hy = -1;
  auto step = [&](int64_t x, int64_t y) {
    if (!merge) {
      put(x, y);
      return;
    }
    if (hy >= 0 && hy != y) put(hx, hy);
    hx = x;
    hy = y;
  };
  int64_t x = 0, y = b;
  const int64_t a2 = a * a, b2 = b * b;
  int64_t d = b2 - a2 * b + a2 / 4, px = 0, py = 2 * a2 * b;
  while (px < py) {
    step(x, y);
    if (d > 0) {
      y -= 1;
      py -= 2 * a2;
      d -= py;
    }
    x += 1;
    px += 2 * b2;
    d += b2 + px;
  }
  d += ((3 * (a2 - b2)) / 2 - (px + py)) >> 1;
  while (y >= 0) {
    step(x, y);
    if (d < 0) {
      x += 1;
      px += 2 * b2;
      d += px;
    }
    y -= 1;
    py -= 2 * a2;
    d += a2 - py;
  }
  if (merge && hy >= 0) put(hx, hy);
  if (direct) {
    // The pen where set4pix's last move and line would have left it.
    const int ix = static_cast<int>(cx), iy = static_cast<int>(cy);
    const int16_t a[3] = {static_cast<int16_t>(lastdy ? ix + lastdx : ix - lastdx),
                          static_cast<int16_t>(lastdy ? iy + lastdy : iy), zvalue};
    vmove(a);
    penpt[0] = static_cast<int16_t>(lastdy ? ix - lastdx : ix + lastdx);
  }
  pixwr = keepw;
  curput(keep);
  return 0;
}

int ARC(const int16_t* point, int width, int height, uint32_t colour, int angle1, int angle2, int pie) {
  settxc(colour);
  setpnc(colour);
  // The platform pen now holds the arc's colour: the next line sets its own.
  lastpen = 0xFFFFFFFFu;
  if (pie)
    drpie(point[0], point[1], width, height, angle1, angle2);
  else
    drarc(point[0], point[1], width, height, angle1, angle2);
  return 0;
}

int arccmd() {
  int32_t h = 0, n = 0;
  const int k = nargs() >= 3 ? argtyp(3, &h) : 0;
  const PtrRec* r = (k & K_DIMS) ? argary(3, &n) : nullptr;
  if (nargs() < 6 || !r || n < 4 || stopped()) {
    if (!stopped()) jprintf(errlun, " usage: ARC colr rect angl0 deltaangle fillflg\n");
    return 0;
  }
  int32_t cnt = 0;
  const auto* v = static_cast<const int32_t*>(aryarg(3, 4, 4, W_LONG, &cnt, nullptr));
  if (!v || cnt < 4) return 0;
  int32_t rect[4];
  std::memcpy(rect, v, sizeof rect);
  const auto colour = static_cast<uint32_t>(lngarg(2, 0));
  const int a0 = intarg(4, 0), span = intarg(5, 0), fill = intarg(6, 0);
  const int w = rect[2] - rect[0], hgt = rect[3] - rect[1];
  if (w <= 0 || hgt <= 0 || stopped()) return 0;
  if (!veclst()) vinit(0);
  // The vector window (the current one without it) is drawn into, and its
  // off-screen port with it; the drawing target in force before comes back
  // afterwards.
  Wport* keep = wdcport();
  Wport* vw = wport(4);
  setwdc(vw ? vw : curport);
  // ARC takes semi-axes: the arc lies in its rectangle, as the real-time
  // display op draws it.
  const int16_t c[3] = {static_cast<int16_t>(rect[0] + w / 2), static_cast<int16_t>(rect[1] + hgt / 2), 0};
  ARC(c, w / 2, hgt / 2, colour, a0, span, fill);
  setwdc(keep);
  return 0;
}
