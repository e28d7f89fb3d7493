// The display ops: the run's screen memory, colours, the drawing ops and
// the block ops. Frame timing, text, image sequences, movies, sweeps and
// recording are in rtdseq.cpp.
#include "realtime/rtdisp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "compute/analyze.h"
#include "compute/smooth.h"
#include "core/convert.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/ellipse.h"
#include "graphics/pen.h"
#include "graphics/pixblock.h"
#include "graphics/writers.h"
#include "realtime/rtdint.h"
#include "realtime/rtops.h"
#include "ui/draw.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/ports.h"
#include "ui/screen.h"
#include "ui/window.h"

// ---- The screen memory -------------------------------------------------------------

namespace {
int scrhook(ScrPix* out) {
  if (!pixtg.mem) return 0;
  out->mem = pixtg.mem;
  out->bits = pixtg.bits;
  out->rowbytes = pixtg.rowbytes;
  out->rows = pixtg.height;
  return 1;
}
}  // namespace

void rtscreen(int slot) {
  Wport* w = wport(slot);
  if (!w) return;
  int depth = scrbits;
  if (depth != 8 && depth != 16 && depth != 24 && depth != 32) depth = 32;
  setImagePtr(w, depth);
  // The window's background shows in its memory from the start.
  if (auto* o = static_cast<PwRec*>(heldptr(w->offscr))) {
    if (PwRec* p = wpwrec(w)) {
      o->bkcol = p->bkcol;
      o->fillcol = p->fillcol;
      o->pencol = p->pencol;
    }
    pixtgt(w->offscr);
  }
  scrpixhk = scrhook;
}

void rtscrfree() {
  // The memory goes with the window: nothing may point at it afterwards.
  pixtg = PixTgt{};
  setPort(nullptr);
  setwdc(nullptr);
  scrpixhk = nullptr;
}

Scr scrof(const RtTask* t) {
  Scr s;
  const int n = t && t->wport > 0 ? t->wport - 1 : (rts.defport > 0 ? rts.defport - 1 : -1);
  s.w = wport(n);
  if (!s.w) return s;
  s.hwnd = winhwnd(n);
  s.port = static_cast<PwRec*>(heldptr(s.w->offscr));
  if (s.port) {
    s.px = static_cast<uint8_t*>(heldptr(s.port->pixels));
    s.bits = s.port->depth;
    s.rowbytes = s.port->rowbytes;
    s.width = s.bits >= 8 ? std::min<int>(s.port->rect[2], static_cast<int>(s.rowbytes / (s.bits / 8))) : 0;
    s.height = s.port->rect[3];
  }
  return s;
}

Scr dspsel(RtTask* t) {
  Scr s = scrof(t);
  scrpixhk = scrhook;
  if (s.port) {
    if (pixtg.mem != s.px) pixtgt(s.w->offscr);
    setPort(s.port);
  } else if (s.w) {
    setPort(wpwrec(s.w));
  }
  return s;
}

void shown(const Scr& s) {
  if (s.hwnd) invalwin(s.hwnd);
}

uint32_t platcol(int32_t v) {
  if (scrbits <= 8 && v >= 0 && v < 256) {
    const uint8_t* e = progctab() + v * 4;
    return uint32_t(e[2]) | uint32_t(e[1]) << 8 | uint32_t(e[0]) << 16;
  }
  return rgbswap(static_cast<uint32_t>(v));
}

PenKeep::PenKeep() : p(getPort()) {
  if (p) {
    pen = p->pencol;
    fill = p->fillcol;
  }
}
PenKeep::~PenKeep() {
  if (p) {
    p->pencol = pen;
    p->fillcol = fill;
  }
}

void pencol(int32_t v) {
  const uint32_t c = platcol(v);
  setpnc(c);
  settxc(c);
}

// ---- Helpers -------------------------------------------------------------------------

int32_t opcount(const RtOpnd* o, int per) {
  const int eb = rtebytes(o);
  if (eb < 1 || per < 1) return 0;
  return static_cast<int32_t>(std::min<int64_t>(rtleft(o) / eb / per, INT32_MAX));
}

int aline(const int16_t* pt, double angle, int len, uint32_t value) {
  const int16_t to[3] = {static_cast<int16_t>(std::trunc(pt[0] + std::cos(angle) * len + 0.5)),
                         static_cast<int16_t>(std::trunc(pt[1] + std::sin(angle) * len + 0.5)), 0};
  const int16_t from[3] = {pt[0], pt[1], 0};
  if (jdebug > 2) logprintf("aline(%.2f,%d) %d  %d,%d -> %d,%d\n", angle, len, 0, pt[0], pt[1], to[0], to[1]);
  linprm(from, to, &lnst);
  lnst.value = value;
  lnstep(SETpix);
  return 0;
}

int flipbox(const int16_t* rect, uint8_t* image, int rowpix, int rows, int by, int mode) {
  if (!rect || !image || rowpix < 1 || rows < 1 || (by != 1 && by != 2 && by != 4)) return 0;
  const int x0 = std::max<int>(0, std::min(rect[0], rect[2])), x1 = std::min<int>(rowpix - 1, std::max(rect[0], rect[2]));
  const int y0 = std::max<int>(0, std::min(rect[1], rect[3])), y1 = std::min<int>(rows - 1, std::max(rect[1], rect[3]));
  if (x1 < x0 || y1 < y0) return 0;
  trcint(64, "flipbox", 0, x0, y0, x1, y1, mode);
  const int64_t rb = int64_t(rowpix) * by;
  if (mode & 1)
    for (int y = y0; y <= y1; y++) {
      uint8_t* r = image + y * rb;
      for (int a = x0, b = x1; a < b; a++, b--)
        std::swap_ranges(r + int64_t(a) * by, r + int64_t(a + 1) * by, r + int64_t(b) * by);
    }
  if (mode & 2) {
    const size_t n = size_t(x1 - x0 + 1) * by;
    std::vector<uint8_t> tmp(n);
    for (int a = y0, b = y1; a < b; a++, b--) {
      uint8_t* ra = image + a * rb + int64_t(x0) * by;
      uint8_t* rbp = image + b * rb + int64_t(x0) * by;
      std::memcpy(tmp.data(), ra, n);
      std::memcpy(ra, rbp, n);
      std::memcpy(rbp, tmp.data(), n);
    }
  }
  return 0;
}

int pixmove(uint8_t* mem, int bits, int64_t rowbytes, int width, int height, const int32_t* rect, int dx, int dy) {
  if (!mem || !rect || (bits != 8 && bits != 16 && bits != 32) || width < 1 || height < 1) return 0;
  trcint(64, "pixmove", 0, rect[0], rect[1], dx, dy, 0);
  const int by = bits / 8;
  // The rectangle and where it goes, both on the memory.
  int l = std::max(0, rect[0]), t = std::max(0, rect[1]);
  int r = std::min(width - 1, rect[2]), b = std::min(height - 1, rect[3]);
  if (r < l || b < t) return 0;
  const int w = r - l + 1;
  // The fill: the pixel just left of the rectangle, or just right of it.
  auto at = [&](int x, int y) { return mem + int64_t(y) * rowbytes + int64_t(x) * by; };
  std::vector<uint8_t> row(size_t(w) * by);
  std::vector<uint8_t> fill(by);
  const int rowsn = b - t + 1;
  for (int k = 0; k < rowsn; k++) {
    const int y = dy > 0 ? b - k : t + k;
    const int fx = l > 0 ? l - 1 : std::min(width - 1, r + 1);
    std::memcpy(fill.data(), at(fx, y), size_t(by));
    std::memcpy(row.data(), at(l, y), row.size());
    // The uncovered part of the source row.
    for (int x = l; x <= r; x++) std::memcpy(at(x, y), fill.data(), size_t(by));
    const int ny = y + dy;
    if (ny < 0 || ny >= height) continue;
    for (int i = 0; i < w; i++) {
      const int nx = l + i + dx;
      if (nx >= 0 && nx < width) std::memcpy(at(nx, ny), row.data() + size_t(i) * by, size_t(by));
    }
  }
  // Rows the moved box left behind were filled above; rows it moved onto
  // that it also came from were rewritten by later rows (the order of the
  // walk keeps a row from being read after it was written).
  return 0;
}

// ---- Drawing ops ----------------------------------------------------------------------

namespace {

int16_t slotv(const RtTask* t, int k) { return t->slot[k]; }

void rectarg(RtTask* t, int k, int32_t* r) {
  rtargs(t, k, 4);
  for (int i = 0; i < 4; i++) r[i] = slotv(t, i);
}

// r_adraw and r_afill: an arc or a pie.
void rtarc(RtTask* t, RtOp* op, bool pie) {
  const int32_t col = rtarg(op, 1, 0);
  const int16_t cen[3] = {slotv(t, 0), slotv(t, 1), 0};
  const int w = slotv(t, 2), h = slotv(t, 3);
  const int a1 = rtarg(op, 3, 0), a2 = rtarg(op, 4, 0);
  PenKeep keep;
  if (rtnops(op) < 6) {
    trcint(64, "r_arc", 0, cen[0], cen[1], w, h, a1);
    ARC(cen, w / 2, h / 2, platcol(col), a1, a2, pie);
    return;
  }
  // From the start point to the end point, counter-clockwise, on the
  // ellipse of the bounding box.
  pencol(col);
  const double s = std::atan2(-(double(rtarg(op, 4, 0)) - cen[1]), double(rtarg(op, 3, 0)) - cen[0]) * 57.29577951;
  const double e = std::atan2(-(double(rtarg(op, 6, 0)) - cen[1]), double(rtarg(op, 5, 0)) - cen[0]) * 57.29577951;
  double ext = e - s;
  if (ext <= 0) ext += 360;
  if (pie)
    drpie(cen[0], cen[1], w / 2, h / 2, static_cast<int>(std::lround(s)), static_cast<int>(std::lround(ext)));
  else
    drarc(cen[0], cen[1], w / 2, h / 2, static_cast<int>(std::lround(s)), static_cast<int>(std::lround(ext)));
}

// r_ldraw: a polyline.
void ldraw(RtOp* op) {
  RtOpnd* pts = rtopk(op, 2);
  const int32_t col = rtarg(op, 1, 0);
  int32_t n = rtarg(op, 3, 1);
  const int mode = rtarg(op, 4, 0);
  if (n == 0) n = 1;
  if (!pts || rtebytes(pts) != 2) return;
  const int16_t* w = reinterpret_cast<const int16_t*>(elmptr(pts, 0));
  int64_t words = rtleft(pts) / 2;
  if (!w || words < 1) return;
  int64_t i = 0;
  if (mode & 3) {
    if ((mode & 3) == 2 && w[0] > 0) n = w[0];
    i = 1;
  }
  const int per = (mode & 1) ? 3 : 2;
  n = static_cast<int32_t>(std::min<int64_t>(n, (words - i) / per));
  if (n < 1) return;
  trcint(64, "ldraw", 0, n, mode, col, 0, 0);
  PenKeep keep;
  const int16_t xr = xorflg;
  if (mode & 8) xorflg = static_cast<int16_t>(xorflg | 0x80);
  uint32_t c = static_cast<uint32_t>(col);
  bool lift = true;
  int16_t px = 0, py = 0;
  for (int32_t k = 0; k < n; k++) {
    const int16_t* q = w + i + int64_t(k) * per;
    if (mode & 1) c = static_cast<uint16_t>(*q++);
    int16_t x = q[0], y = q[1];
    if (x == -1 && y == -1) {
      lift = true;
      continue;
    }
    if ((mode & 8) && !lift) {
      // Polar: an angle in degrees and a length from the point before.
      const double a = q[0] * 0.017453293;
      x = static_cast<int16_t>(px + std::lround(std::cos(a) * q[1]));
      y = static_cast<int16_t>(py - std::lround(std::sin(a) * q[1]));
    }
    if (lift) {
      moveto(x, y);
    } else if (mode & 16) {
      const int16_t a[3] = {px, py, 0}, b[3] = {x, y, 0};
      linprm(a, b, &lnst);
      lnst.value = c;
      lnstep(SETpix);
    } else {
      pencol(static_cast<int32_t>(c));
      lineto(x, y);
    }
    lift = false;
    px = x;
    py = y;
  }
  i += int64_t(n) * per;
  xorflg = xr;
  if (mode & 4) rtincr(pts, static_cast<int32_t>(i * 2), op->flg);
}

// r_graph: (x, y, code) triples drawn straight into the screen memory.
void graph(RtOp* op, const Scr& s) {
  RtOpnd* o = rtopk(op, 1);
  if (!s.px || !o || rtebytes(o) != 2) return;
  const int16_t* w = reinterpret_cast<const int16_t*>(elmptr(o, 0));
  const uint32_t v = static_cast<uint32_t>(rtarg(op, 2, 0));
  const int32_t n = std::min<int32_t>(rtarg(op, 3, 0), opcount(o, 3));
  if (!w) return;
  bool have = false;
  int16_t prev[3] = {0, 0, 0};
  for (int32_t k = 0; k < n; k++) {
    const int16_t* p = w + 3 * k;
    const int16_t pt[3] = {p[0], p[1], 0};
    trcint(1024, "plotpt", 0, pt[0], pt[1], p[2], 0, 0);
    if (p[2] == 1) {
      if (have) {
        linprm(prev, pt, &lnst);
        lnst.value = v;
        lnstep(putpix);
      }
    } else if (p[2] == 2) {
      putpix(pt[0], pt[1], v);
    }
    std::memcpy(prev, pt, sizeof prev);
    have = true;
  }
}

// r_movepoints.
void movepoints(RtOp* op) {
  RtOpnd* po = rtopk(op, 1);
  RtOpnd* vo = rtopk(op, 2);
  const int mode = rtarg(op, 4, 0);
  const int per = (mode & 16) ? 3 : 2;
  if (!po || !vo || rtebytes(po) != 2 || rtebytes(vo) != 2) return;
  auto* p = reinterpret_cast<int16_t*>(elmptr(po, 0));
  auto* v = reinterpret_cast<int16_t*>(elmptr(vo, 0));
  if (!p || !v) return;
  int32_t n = std::min(rtarg(op, 3, 0), opcount(po, per));
  const int32_t nv = opcount(vo, per);
  const RtOpnd* bo = rtopk(op, 5);
  int16_t rect[4] = {0, 0, 0, 0};
  const bool bounds = bo != nullptr;
  for (int i = 0; i < 4 && bounds; i++) rect[i] = static_cast<int16_t>(opelm(bo, i));
  int32_t vi = 0;
  for (int32_t k = 0; k < n && nv > 0; k++) {
    int16_t* pt = p + int64_t(k) * per;
    int16_t* vel = v + int64_t(std::min(vi, nv - 1)) * per;
    if (!(mode & 32))
      for (int c = 0; c < per; c++) pt[c] = static_cast<int16_t>(pt[c] + vel[c]);
    if (bounds) {
      for (int guard = 0; guard < 4; guard++) {
        const int r = inrange(pt, rect);
        if (r == 0) break;
        const int ax = std::abs(r) - 1;
        const int span = rect[ax + 2] - rect[ax] + 1;
        if (mode & 4) {
          vel[ax] = static_cast<int16_t>(-vel[ax]);
          pt[ax] = static_cast<int16_t>(pt[ax] + 2 * vel[ax]);
        } else if (span > 0) {
          pt[ax] = static_cast<int16_t>(pt[ax] + (r < 0 ? span : -span));
        } else {
          break;
        }
      }
    }
    if ((mode & 3) == 0 || ((mode & 3) == 2 && (k & 1))) vi++;
  }
}

// r_bread and r_bwrite: a box variable against an image variable.
void blockcopy(RtTask* t, RtOp* op, bool toimage) {
  RtOpnd* box = rtopk(op, 1);
  RtOpnd* img = rtopk(op, 2);
  if (!box || !img || rtebytes(box) < 1 || rtebytes(box) != rtebytes(img)) return;
  rtargs(t, 3, 2);
  int x = slotv(t, 0), y = slotv(t, 1);
  const int mode = rtarg(op, 4, 0);
  const int bw = static_cast<int>(box->width), bh = static_cast<int>(std::max<uint32_t>(box->height, 1));
  const int iw = static_cast<int>(img->width), ih = static_cast<int>(std::max<uint32_t>(img->height, 1));
  if (mode & 8) {
    x -= bw / 2;
    y -= bh / 2;
  }
  x = std::max(0, x);
  y = std::max(0, y);
  const int eb = rtebytes(img);
  int nx = std::min(bw, iw - x), ny = std::min(bh, ih - y);
  // Never past either variable's data.
  ny = static_cast<int>(std::min<int64_t>(ny, img->size / std::max<int64_t>(1, int64_t(iw) * eb) - y));
  ny = static_cast<int>(std::min<int64_t>(ny, box->size / std::max<int64_t>(1, int64_t(bw) * eb)));
  if (nx < 1 || ny < 1) return;
  uint8_t* bp = baseptr(box, 0);
  uint8_t* ip = baseptr(img, 0);
  if (!bp || !ip) return;
  for (int r = 0; r < ny; r++)
    copybox(bp + int64_t(r) * bw * eb, ip, x, y + r, nx, 1, toimage ? 1 : 0, iw, img->type, mode & 7);
}

}  // namespace

uint8_t* imgdata(const RtOpnd* o, int* w, int* h, int* type, int64_t* avail) {
  *w = *h = *type = 0;
  *avail = 0;
  if (!o || o->kind < 0 || o->kind == 20 || (o->kind & K_STRING)) return nullptr;
  if (!(o->kind & K_LIST)) {
    *w = static_cast<int>(std::min<uint32_t>(o->width, INT32_MAX));
    *h = static_cast<int>(std::min<uint32_t>(std::max<uint32_t>(o->height, 1), INT32_MAX));
    *type = o->type;
    *avail = rtleft(o);
    return elmptr(o, 0);
  }
  if (!(o->kind & K_IMAGE)) return nullptr;
  // An element of a list of images: its header gives the frame's size and
  // bits; what it holds is the smaller of its data bytes and its block.
  PtrRec rec{};
  rec.Flg = static_cast<uint16_t>(o->kind);
  rec.Addr = static_cast<uint32_t>(o->data);
  int32_t len = 0;
  uint8_t* p = lstptr(&rec, static_cast<int32_t>(std::min<uint32_t>(o->offset, INT32_MAX)), &len, 0);
  if (!p) return nullptr;
  uint32_t hdr[5];
  uint16_t bits;
  std::memcpy(hdr, p - LST_HDR, sizeof hdr);
  std::memcpy(&bits, p - LST_HDR + 20, 2);
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
  *w = static_cast<int>(std::min<uint32_t>(hdr[0], INT32_MAX));
  *h = static_cast<int>(std::min<uint32_t>(hdr[1], INT32_MAX));
  *type = bits;
  *avail = std::min<int64_t>(hdr[3], int64_t(hdr[4]) - LST_HDR);
  return p;
}

uint8_t* imgarg(RtOp* op, int k, int32_t* region, int32_t* bytes, int* type) {
  RtOpnd* o = rtopk(op, 1);
  region[0] = region[1] = region[2] = region[3] = 0;
  *bytes = 0;
  *type = 0;
  int w = 0, h = 0, ty = 0;
  int64_t avail = 0;
  uint8_t* p = imgdata(o, &w, &h, &ty, &avail);
  const int eb = (ty & 63) / 8;
  const int64_t fb = int64_t(w) * h * eb;
  if (!p || w < 1 || h < 1 || eb < 1 || fb > avail) return nullptr;
  *type = ty;
  *bytes = static_cast<int32_t>(std::min<int64_t>(fb, INT32_MAX));
  op->extra = *bytes;
  const RtOpnd* r = rtopk(op, k);
  if (r && rtebytes(r) == 2 && r->size >= 8 && opelm(r, 0) >= 0 && opelm(r, 1) >= 0) {
    region[0] = opelm(r, 0);
    region[1] = opelm(r, 1);
    region[2] = opelm(r, 2);
    region[3] = opelm(r, 3);
    if (region[2] < 1) {
      region[2] = w;
      region[3] = h;
      region[0] -= w / 2;
      region[1] -= h / 2;
    }
  } else {
    region[2] = w;
    region[3] = h;
    region[0] = (rts.clip[2] - rts.clip[0] - w) / 2;
    region[1] = (rts.clip[3] - rts.clip[1] - h) / 2;
  }
  // The region reads no more rows than the image holds.
  region[2] = std::min(region[2], w);
  region[3] = std::min(region[3], h);
  return p;
}

std::string nxtidx(RtOp* op, int k, int flags) {
  RtOpnd* o = rtopk(op, k);
  std::string s;
  if (!o || o->kind < 0 || o->kind == 20 || !(o->kind & K_STRING)) return s;
  if (!(o->kind & K_LIST)) {
    const uint8_t* p = elmptr(o, 0);
    const int64_t left = rtleft(o);
    for (int64_t i = 0; p && i < left && p[i] && s.size() < 299; i++) s.push_back(static_cast<char>(p[i]));
    return s;
  }
  const int32_t n = rtlstn(o);
  const int64_t i = o->offset;
  int32_t len = 0;
  if (i < n)
    if (const uint8_t* p = lstptr(nullptr, static_cast<int32_t>(i), &len, o->data)) s.assign(reinterpret_cast<const char*>(p), size_t(len));
  if ((op->flg & OF_LIST) && !(flags & 8)) {
    // On to the next name; at the end back to the first with flags 32.
    int64_t nx = i + 1;
    if (nx >= n) nx = (flags & 32) ? 0 : n;
    o->offset = static_cast<uint32_t>(nx);
  }
  return s;
}

bool isdisp(int opc) {
  switch (opc) {
    case R_LUT: case R_BDRAW: case R_EDRAW: case R_ADRAW: case R_BFILL: case R_EFILL: case R_AFILL:
    case R_BMOVE: case R_BPUT: case R_GRAPH: case R_TEXT: case R_BSET: case R_SWEEP: case R_FONT:
    case R_COLOR: case R_ERASE: case R_MOVEPT: case R_POINT: case R_CURSOR: case R_RGB: case R_LINE:
    case R_WORD: case R_NUMBER: case R_MLUT: case R_PICTURE: case R_LDRAW: case R_SWRITE: case R_RWAIT:
    case R_SREAD: case R_BREAD: case R_BWRITE: case R_WREAD: case R_WWRITE: case R_WINDOW: case R_PEN:
    case R_FLIP: case R_SWAP: case R_SCREEN: case R_FLICKER: case R_CINE: case R_ARROW: case R_AVIWRITE:
    case R_AVIADDFRAME: case R_DRAWDOTS: case R_MOVEPOINTS: case R_GRAB: case R_HISTO: case R_SETSWEEP:
    case R_CLOCK:
      return true;
    default: return false;
  }
}

int rtdisp(RtTask* t, RtOp* op, bool* logged) {
  const int opc = op->opc;
  switch (opc) {
    case R_LUT: case R_MLUT: case R_RWAIT: case R_SWAP: return frmop(t, op);
    case R_TEXT: case R_WORD: case R_NUMBER: case R_CLOCK: dspsel(t); return textop(t, op);
    case R_FLICKER: case R_CINE: dspsel(t); return cineop(t, op, logged);
    case R_SWEEP: case R_SETSWEEP: dspsel(t); return sweepop(t, op);
    case R_AVIWRITE: case R_AVIADDFRAME: return aviop(t, op);
    default: break;
  }
  const Scr s = dspsel(t);
  switch (opc) {
    case R_BDRAW: {
      int32_t r[4];
      rectarg(t, 2, r);
      PenKeep keep;
      pencol(rtarg(op, 1, 0));
      frmrect(r);
      break;
    }
    case R_BFILL: {
      int32_t r[4];
      rectarg(t, 2, r);
      pixset(nullptr, static_cast<uint32_t>(rtarg(op, 1, 0)), r);
      break;
    }
    case R_EDRAW: case R_EFILL: {
      const int16_t c[3] = {slotv(t, 0), slotv(t, 1), 0};
      ellips(c, slotv(t, 2), slotv(t, 3), static_cast<uint32_t>(rtarg(op, 1, 0)), opc == R_EFILL ? 1 : 0);
      break;
    }
    case R_ADRAW: case R_AFILL: rtarc(t, op, opc == R_AFILL); break;
    case R_LINE: {
      const int32_t col = rtarg(op, 1, -1);
      const int x0 = rtarg(op, 2, 0), y0 = rtarg(op, 3, 0);
      const bool two = rtnops(op) >= 5;
      PenKeep keep;
      if (col >= 0) pencol(col);
      // The line the line command draws: both ends, a dot for one point.
      moveto(x0, y0);
      winline(two ? rtarg(op, 4, 0) : x0, two ? rtarg(op, 5, 0) : y0);
      break;
    }
    case R_LDRAW: ldraw(op); break;
    case R_GRAPH: graph(op, s); break;
    case R_POINT: {
      RtOpnd* p = rtopk(op, 1);
      int32_t x = opelm(p, 0), y = opelm(p, 1);
      if (const RtOpnd* m = rtopk(op, 3)) {
        int16_t prm[6];
        for (int i = 0; i < 6; i++) prm[i] = static_cast<int16_t>(opelm(m, i));
        y = rtmap(y, prm);
      }
      SETpix(x, y, static_cast<uint32_t>(rtarg(op, 2, 0)));
      break;
    }
    case R_DRAWDOTS: {
      RtOpnd* p = rtopk(op, 2);
      const uint32_t v = static_cast<uint32_t>(rtarg(op, 1, 0));
      const int32_t n = std::min(rtarg(op, 3, 0), opcount(p, 2));
      const int rad = std::max(1, rtarg(op, 5, 1));
      for (int32_t k = 0; k < n; k++) {
        const int16_t c[3] = {static_cast<int16_t>(opelm(p, 2 * k)), static_cast<int16_t>(opelm(p, 2 * k + 1)), 0};
        ellips(c, 2 * rad, 2 * rad, v, 1);
      }
      break;
    }
    case R_MOVEPOINTS: movepoints(op); break;
    case R_ARROW: {
      if (rtnops(op) < 4) break;
      const auto val = static_cast<uint32_t>(rtarg(op, 1, 0));
      RtOpnd* p = rtopk(op, 2);
      const int16_t tip[2] = {static_cast<int16_t>(opelm(p, 0)), static_cast<int16_t>(opelm(p, 1))};
      const float a = static_cast<float>(rtarg(op, 3, 0) * 0.017453293 + 3.1415926);
      const int len = rtarg(op, 4, 0);
      aline(tip, a, len, val);
      const int head = rtarg(op, 5, 10);
      if (head > 0) {
        aline(tip, a + 3.1415926 / 7, len / head, val);
        aline(tip, a - 3.1415926 / 7, len / head, val);
      }
      break;
    }
    case R_ERASE: {
      if (trcmsk) rtwdump(1, 0);
      const int32_t r[4] = {t->clip[0], t->clip[1], t->clip[2] - 1, t->clip[3] - 1};
      pixset(nullptr, static_cast<uint32_t>(rtarg(op, 1, static_cast<int32_t>(rts.bgval))), r);
      break;
    }
    case R_BMOVE: {
      RtOpnd* d = rtopk(op, 1);
      RtOpnd* ro = rtopk(op, 2);
      const int dx = opelm(d, 0), dy = opelm(d, 1);
      int32_t r[4];
      for (int i = 0; i < 4; i++) r[i] = opelm(ro, i);
      trcint(64, "mBOX", 0, r[0], r[1], dx, dy, 0);
      pixmove(s.px, s.bits, s.rowbytes, s.width, s.height, r, dx, dy);
      for (int i = 0; i < 4; i++) putelm(r[i] + (i & 1 ? dy : dx), ro, i);
      int32_t left, iv;
      std::memcpy(&left, &t->slot[0], 4);
      std::memcpy(&iv, &t->slot[2], 4);
      left--;
      std::memcpy(&t->slot[0], &left, 4);
      shown(s);
      if (left > 0) {
        setdue(t, t->due + static_cast<uint32_t>(iv));
        if (op->flg & OF_ADV) rtincr(d, op->extra, op->flg);
        if ((rts.flags & RF_CHECK) && rd_err(t) != 0) return DS_DONE;
        return DS_STAY;
      }
      break;
    }
    case R_BPUT: case R_BSET: {
      RtOpnd* p = rtopk(op, 1);
      RtOpnd* ro = rtopk(op, 2);
      const int px = opelm(p, 0), py = opelm(p, 1);
      int32_t r[4];
      for (int i = 0; i < 4; i++) r[i] = opelm(ro, i);
      const int mode = slotv(t, 0);
      int dx = 0, dy = 0;
      if (mode & 4) {
        dx = -px;
        dy = -py;
      } else if (mode & 2) {
        dx = px;
        dy = py;
      } else if (mode & 1) {
        dx = px - (r[0] + r[2]) / 2;
        dy = py - (r[1] + r[3]) / 2;
      } else {
        dx = px - r[0];
        dy = py - r[1];
      }
      if (opc == R_BPUT) pixmove(s.px, s.bits, s.rowbytes, s.width, s.height, r, dx, dy);
      for (int i = 0; i < 4; i++) putelm(r[i] + (i & 1 ? dy : dx), ro, i);
      break;
    }
    case R_BREAD: case R_BWRITE: blockcopy(t, op, opc == R_BWRITE); break;
    case R_SWRITE: case R_SREAD: case R_WREAD: case R_WWRITE: {
      int32_t reg[4], bytes = 0;
      int type = 0;
      uint8_t* d = imgarg(op, 2, reg, &bytes, &type);
      if (!d) break;
      const int mode = rtarg(op, 3, 0);
      if ((mode & 8) && rtopk(op, 2)) {
        reg[0] -= reg[2] / 2;
        reg[1] -= reg[3] / 2;
      }
      const RtOpnd* tb = rtopk(op, 5);
      const uint8_t* tab = tb ? elmptr(tb, 0) : nullptr;
      const int dir = opc == R_SWRITE || opc == R_WWRITE ? 1 : 0;
      vidbox(nullptr, d, reg[0], reg[1], reg[2], reg[3], dir, 0, mode & 7, 1, type & 63, tab);
      break;
    }
    case R_FLIP: {
      RtOpnd* ro = rtopk(op, 1);
      const int16_t r[4] = {static_cast<int16_t>(opelm(ro, 0)), static_cast<int16_t>(opelm(ro, 1)),
                            static_cast<int16_t>(opelm(ro, 2)), static_cast<int16_t>(opelm(ro, 3))};
      const int mode = rtarg(op, 2, 0);
      if (RtOpnd* im = rtopk(op, 3)) {
        const int eb = rtebytes(im);
        uint8_t* p = baseptr(im, 0);
        const int w = static_cast<int>(im->width);
        if (p && eb > 0 && w > 0) flipbox(r, p, w, static_cast<int>(im->size / (int64_t(w) * eb)), eb, mode);
      } else if (s.px && s.bits >= 8) {
        flipbox(r, s.px, static_cast<int>(s.rowbytes / (s.bits / 8)), s.height, s.bits / 8, mode);
      }
      break;
    }
    case R_PICTURE: {
      int32_t reg[4], bytes = 0;
      int type = 0;
      imgarg(op, 2, reg, &bytes, &type);
      break;
    }
    case R_GRAB: grabop(op); break;
    case R_HISTO: {
      int32_t reg[4], bytes = 0;
      int type = 0;
      const uint8_t* src = imgarg(op, 1, reg, &bytes, &type);
      RtOpnd* bins = rtopk(op, 2);
      if (!src || !bins || bins->type != 32) break;
      auto* b = reinterpret_cast<uint32_t*>(elmptr(bins, 0));
      const int32_t nb = opcount(bins, 1);
      if (!b || nb < 1) break;
      std::fill_n(b, nb, 0u);
      if (type == 16) hist16(reinterpret_cast<const uint16_t*>(src), b, bytes / 2, 16, nb);
      if (RtOpnd* o3 = rtopk(op, 3)) {
        int64_t sum = 0;
        for (int32_t i = 0; i < nb; i += 2) sum += b[i];
        putval(static_cast<int32_t>(std::min<int64_t>(sum, INT32_MAX)), o3);
      }
      break;
    }
    case R_FONT: {
      const int f = rtarg(op, 1, -1), sz = rtarg(op, 2, -1), st = rtarg(op, 3, 1);
      if (f >= 0 && f < fntcount()) {
        if (jdebug) logprintf("rfont %d/%d %d %d\n", f, fntcount(), sz, st);
        settext(f, sz, st);
      }
      break;
    }
    case R_COLOR: {
      const int32_t fg = rtarg(op, 1, 0);
      rts.fgidx = static_cast<int16_t>(fg);
      if (fg >= 0 && fg < 256) colfg(fg);
      if (scrbits > 8) {
        rts.fgval = static_cast<uint32_t>(fg);
        settxc(platcol(fg));
        setpnc(platcol(fg));
      }
      if (rtnops(op) >= 2) {
        const int32_t bg = rtarg(op, 2, 0);
        rts.bgidx = static_cast<int16_t>(bg);
        if (bg >= 0 && bg < 256) colbg(bg);
        if (scrbits > 8) {
          rts.bgval = static_cast<uint32_t>(bg);
          setbkc(platcol(bg));
        } else {
          rts.bgval = static_cast<uint32_t>(bg);
        }
      }
      trcint(64, "color", 0, fg, rts.bgidx, 0, 0, 0);
      break;
    }
    case R_RGB: {
      const uint32_t c = static_cast<uint32_t>(rtarg(op, 1, 0)) & 0xFFFFFF;
      settxc(c);
      setpnc(c);
      auto nearest = [](uint32_t v) {
        const int16_t rgb[3] = {static_cast<int16_t>(v & 0xFF), static_cast<int16_t>((v >> 8) & 0xFF),
                                static_cast<int16_t>((v >> 16) & 0xFF)};
        return static_cast<uint32_t>(nearpal(rgb));
      };
      rts.fgval = scrbits > 8 ? rgbswap(c) : nearest(c);
      if (rtnops(op) >= 2) {
        const uint32_t b = static_cast<uint32_t>(rtarg(op, 2, 0)) & 0xFFFFFF;
        setbkc(b);
        rts.bgval = scrbits > 8 ? rgbswap(b) : nearest(b);
      }
      trcint(64, "color", 0, static_cast<int>(c), static_cast<int>(rts.bgval), 0, 0, 0);
      break;
    }
    case R_CURSOR: {
      const int v = rtarg(op, 1, 1);
      if (!(v & 1)) {
        curson(17, 0);
      } else {
        if (rtnops(op) >= 2) {
          RtOpnd* p = rtopk(op, 2);
          const int px = opelm(p, 0), py = opelm(p, 1);
          if (px >= 0 && py >= 0) setcurs(px, py);
        }
        curson(17, 1);
      }
      trcint(64, "cursor", 0, v, 0, 0, 0, 0);
      break;
    }
    case R_PEN:
      if (rtarg(op, 2, -1) >= 0) stxtpos(rtarg(op, 1, -1), rtarg(op, 2, -1), rtarg(op, 3, -1));
      break;
    case R_MOVEPT: {
      RtOpnd* a = rtopk(op, 1);
      RtOpnd* b = rtopk(op, 2);
      putelm(opelm(b, 0) + opelm(a, 0), b, 0);
      putelm(opelm(b, 1) + opelm(a, 1), b, 1);
      return DS_DONE;
    }
    case R_WINDOW: winop(t); return DS_DONE;
    case R_SCREEN: {
      const int n = rtarg(op, 1, 1);
      setrtwin(t, n);
      if (trcmsk) rtwdump(1, 0);
      return DS_DONE;
    }
    default: return DS_DONE;
  }
  shown(s);
  return DS_DONE;
}
