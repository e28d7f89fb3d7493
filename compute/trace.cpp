// Region search and outline tracing (search, trace) and perp.
#include "compute/trace.h"
#include "compute/funcs.h"

#include <cstring>

#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "compute/func.h"
#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/imgvars.h"
#include "graphics/pen.h"
#include "graphics/pixels.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"
#include "lang/names.h"
#include "ui/events.h"
#include "ui/screen.h"

namespace {

constexpr int DX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int DY[8] = {1, 1, 0, -1, -1, -1, 0, 1};

// The search and trace state, kept between calls.
uint16_t tlim;             // search: maximum steps; trace: the flag word
uint8_t lo = 1, hi = 255;  // the current value range (inclusive)
int16_t tsave = 5;         // trace: moves between saved points
int16_t bnd[4];            // xmin, ymin, xmax, ymax (max exclusive)
PtrRec* img;               // the simage image of this call
const uint8_t* pix8;       // its pixels when they are plain bytes in memory
size_t pixrow;             // and their row length

// Bounds from the image: its window.
void setbnd() {
  if (bnd[2] != bnd[0] || !img) return;
  bnd[0] = static_cast<int16_t>(img->Offs[0]);
  bnd[1] = static_cast<int16_t>(img->Offs[1]);
  bnd[2] = static_cast<int16_t>(img->Offs[0] + img->Offs[3]);
  bnd[3] = static_cast<int16_t>(img->Offs[1] + (img->Offs[4] ? img->Offs[4] : 1));
}

// Marks a visited pixel (trace-mask bit 16) in plain image data.
void mark(int x, int y, int32_t v) {
  uint8_t* base = bufrec(img) ? nullptr : dat0(img);
  if (!base || img->Wsiz & 7 || img->Wsiz > 32) return;
  size_t i = static_cast<size_t>(y) * img->Datdims[0] + static_cast<size_t>(x);
  putitm(v, base, img->Wsiz, static_cast<int32_t>(i));
}

}  // namespace

// 1 in range, 0 out of range, -1 outside the bounds.
static inline __attribute__((always_inline)) int ibtest(int x, int y) {
  if (x < bnd[0] || y < bnd[1] || x >= bnd[2] || y >= bnd[3]) return -1;
  int32_t v = pix8 && !(trcmsk & 16) ? pix8[static_cast<size_t>(y) * pixrow + static_cast<size_t>(x)]
                                      : getpix(img, x, y);
  if ((trcmsk & 16) && v + 1 != lo) mark(x, y, v + 1);
  return v >= lo && v <= hi ? 1 : 0;
}

// Steps from (x, y) along a direction while the pixels test 1 - want.
// The steps taken (x and y moved to the pixel found), 0 for a negative
// want, -1 when the limit, a stop or the bounds end it.
static int iserch(int want, int* x, int* y, int dir, int limit) {
  setbnd();
  if (want < 0) return 0;
  int px = *x, py = *y, n = 0, t;
  dir &= 7;
  do {
    if (n == limit || stopped()) return -1;
    px += DX[dir];
    py += DY[dir];
    n++;
    t = ibtest(px, py);
  } while (t == 1 - want);
  if (t != want) return -1;
  *x = px;
  *y = py;
  return n;
}

static int follow(const int16_t* point, int direction);

bool tset(int flags, int low, int high, int interval) {
  img = simrec();
  bnd[2] = bnd[0];
  pix8 = nullptr;
  if (!img) return false;
  setbnd();
  // Plain byte data in memory is read in place; the bounds lie inside it.
  if (img->Wsiz == W_BYTE && !bufrec(img) && bnd[0] >= 0 && bnd[1] >= 0 &&
      static_cast<uint32_t>(bnd[2]) <= img->Datdims[0] &&
      static_cast<uint32_t>(bnd[3]) <= (img->Datdims[1] ? img->Datdims[1] : 1)) {
    pix8 = dat0(img);
    pixrow = img->Datdims[0];
  }
  tlim = static_cast<uint16_t>(flags);
  lo = static_cast<uint8_t>(low);
  hi = static_cast<uint8_t>(high);
  tsave = static_cast<int16_t>(interval < 1 ? 5 : interval);
  return true;
}

namespace {

// A saved outline point waiting to be written.
struct Pend {
  int16_t x, y;
  int8_t head, width;
  uint8_t colour;
};

// Writes saved points to the vector list in tracing order, merging a point
// that goes on in the same direction as the step before it: the last point
// is held back until the next one shows whether it replaces it.
struct Writer {
  int written = 0;      // points kept by this trace (the held one included)
  Pend tail{};          // the last point, not yet written
  int lx = 0, ly = 0;   // its position
  int sdx = 0, sdy = 0; // the step that led to it
  Pend ring[16];
  int head = 0, count = 0;

  static float ratio(int dx, int dy) {
    return dy == 0 ? 99999.9f : static_cast<float>(dx) / static_cast<float>(dy);
  }
  // The same slope (dx / dy, dy = 0 counting as 99999.9) and the same
  // signs. Equal cross products are equal slopes, so the quotients are
  // only formed for different ones, which may still round alike.
  static bool along(int dx, int dy, int sdx, int sdy) {
    if ((dx > 0) != (sdx > 0) || (dx < 0) != (sdx < 0) || (dy > 0) != (sdy > 0) || (dy < 0) != (sdy < 0))
      return false;
    if (static_cast<int64_t>(dx) * sdy == static_cast<int64_t>(dy) * sdx) return true;
    return ratio(dx, dy) == ratio(sdx, sdy);
  }

  void emit() { savvec(tail.x, tail.y, zvalue, written == 1 ? 2 : 1, tail.colour, tail.width); }

  void write(const Pend& p) {
    int dx = p.x - lx, dy = p.y - ly;
    if (written >= 1 && dx == 0 && dy == 0) return;  // the same point again
    // Collinear: the same slope and the same heading replace the last
    // point (a reversal is kept).
    if (written >= 2 && along(dx, dy, sdx, sdy)) {
      lx -= sdx;
      ly -= sdy;
      dx = p.x - lx;
      dy = p.y - ly;
    } else {
      if (written >= 1) emit();
      written++;
    }
    tail = p;
    sdx = dx;
    sdy = dy;
    lx = p.x;
    ly = p.y;
  }
  void push(const Pend& p) {
    if (count == 16) {
      write(ring[head]);
      head = (head + 1) & 15;
      count--;
    }
    ring[(head + count) & 15] = p;
    count++;
  }
  void flush() {
    while (count > 0) {
      write(ring[head]);
      head = (head + 1) & 15;
      count--;
    }
  }
  // The end of the outline: the held point too.
  void finish() {
    flush();
    if (written >= 1) emit();
    written = 0;
  }
};

}  // namespace

int trace(const int16_t* point, int direction) {
  // A caller that set nothing traces with the stored defaults; the image
  // record lives for the command only, so it is dropped afterwards.
  bool own = !img;
  if (own && !tset(tflags, tlo, thi, tsave)) return 0;
  int n = follow(point, direction);
  if (own) img = nullptr;
  return n;
}

static int follow(const int16_t* point, int direction) {
  int sx = point[0], sy = point[1];
  int in = ibtest(sx, sy);
  if (in < 0) return 0;
  int want = 1 - in;
  tlim &= static_cast<uint16_t>(~0x80);

  // The edge: the nearest hit along the directions tried (ties: the first).
  int tries[4], ntry;
  if (direction >= 0) {
    tries[0] = (direction - 2) & 6;
    tries[1] = (direction + 2) & 6;
    ntry = 2;
  } else {
    int d = direction & 6;
    for (int k = 0; k < 4; k++) tries[k] = (d - 2 + 2 * k) & 6;
    ntry = 4;
  }
  int best = -1, bx = 0, by = 0, bn = 0;
  for (int k = 0; k < ntry; k++) {
    int x = sx, y = sy;
    int n = iserch(want, &x, &y, tries[k], 50);
    if (n > 0 && (best < 0 || n < bn)) {
      best = k;
      bx = x;
      by = y;
      bn = n;
    }
  }
  if (best < 0) return 0;
  int wdir = tries[best];
  int r, h;
  if (direction >= 0) {
    r = best == 0 ? -2 : 2;
    if (!in) r = -r;
    h = direction & 6;
  } else {
    r = 2;
    h = in ? (wdir + 4) & 6 : wdir;
  }
  // From inside the hit is the first pixel outside: the follower starts
  // on the in-range pixel before it.
  if (in) {
    bx -= DX[wdir];
    by -= DY[wdir];
  }

  Writer w;
  int32_t first = nvecs;
  // Headings of the last 16 moves in a ring: hist(0) is the newest.
  int hring[16] = {0};
  int hpos = 0, nhist = 0;
  auto hist = [&](int k) { return hring[(hpos - 1 - k) & 15]; };
  int cx = bx, cy = by;
  // The moves are capped so that no outline runs without end; the cap
  // ends the outline as closed.
  int64_t area = static_cast<int64_t>(bnd[2] - bnd[0]) * (bnd[3] - bnd[1]);
  int64_t cap = 4 * (area > 0 ? area : 1), moves = 0;
  int nsaved = 0;
  bool stop = false;

  auto save = [&](int px, int py, int heading) {
    Pend p{static_cast<int16_t>(px), static_cast<int16_t>(py), static_cast<int8_t>(heading), 1,
           static_cast<uint8_t>(dcolor)};
    if ((tlim & 0x0C) && nhist > 0) {
      int tx = 0, ty = 0;
      for (int k = 0; k < 6 && k < nhist; k++) {
        tx += DX[hist(k)];
        ty += DY[hist(k)];
      }
      int16_t seg[4] = {0, 0, static_cast<int16_t>(tx), static_cast<int16_t>(ty)};
      int q = (dircode(seg, seg + 2) - r) & 7;
      int fx = px, fy = py;
      int n = iserch(0, &fx, &fy, q, 20);
      if (n < 1) n = 1;
      if (tlim & 0x04) {
        p.x = static_cast<int16_t>(px + DX[q] * (n / 2));
        p.y = static_cast<int16_t>(py + DY[q] * (n / 2));
      }
      if (tlim & 0x08) {
        int wd = (q & 1) ? static_cast<int>(static_cast<float>(n) * 1.414f) : n;
        p.width = static_cast<int8_t>(wd > 15 ? 15 : wd);
      }
    }
    if (tlim & 0x02) p.colour = static_cast<uint8_t>(getpix(img, p.x, p.y));
    w.push(p);
    nsaved++;
    if ((tlim & 0x10) && nsaved % 21 == 0) {
      w.flush();
      if (waitky() != ' ') stop = true;
    }
  };

  // Plain byte pixels are read in place away from the bounds' edges: the
  // range test is one unsigned compare, the neighbours fixed offsets.
  const int x0 = bnd[0], y0 = bnd[1], x1 = bnd[2] - 1, y1 = bnd[3] - 1;
  const uint8_t* const pix = pix8;
  const ptrdiff_t row = static_cast<ptrdiff_t>(pixrow);
  const unsigned vlo = lo, span = static_cast<unsigned>(hi - lo);
  const ptrdiff_t off[8] = {row, 0, 1, 0, -row, 0, -1, 0};
  auto direct = [&] { return pix8 && !(trcmsk & 16) && lo <= hi; };
  // Saved points that need no measuring, colour or key wait go straight
  // to the ring.
  const bool plain = !(tlim & 0x1E);
  // The headings are only read by the sharp-turn stop and the measuring.
  const bool keephist = (tlim & 0x0D) != 0;
  bool fast = direct();
  // Saving every move, a point the outline goes straight through (the move
  // out of it has the heading of the move into it) is dropped: the writer
  // would merge it away with the same result. The last point is held until
  // the next move shows which it is.
  const bool every = plain && tsave == 1;
  Pend held{};
  bool hold = false;

  save(cx, cy, h);
  int due = tsave;  // moves until the next saved point
  while (!stop) {
    int nd = -1;
    const int order[4] = {(h + r) & 6, h, (h - r) & 6, (h + 4) & 6};
    if (fast && cx > x0 && cy > y0 && cx < x1 && cy < y1) {
      const uint8_t* c = pix + cy * row + cx;
      for (int k = 0; k < 4; k++) {
        int d = order[k];
        if (static_cast<unsigned>(c[off[d]]) - vlo <= span) {
          nd = d;
          break;
        }
      }
    } else {
      for (int k = 0; k < 4; k++) {
        int d = order[k];
        if (ibtest(cx + DX[d], cy + DY[d]) == 1) {
          nd = d;
          break;
        }
      }
    }
    if (nd < 0) break;  // a pixel without in-range neighbours
    cx += DX[nd];
    cy += DY[nd];
    h = nd;
    moves++;
    if (keephist) {
      hring[hpos] = nd;
      hpos = (hpos + 1) & 15;
      if (nhist < 16) nhist++;
    }
    bool closed = (cx == bx && cy == by) || moves >= cap;
    if (--due == 0) due = tsave;
    if (closed || due == tsave) {
      Pend p{static_cast<int16_t>(cx), static_cast<int16_t>(cy), static_cast<int8_t>(h), 1,
              static_cast<uint8_t>(dcolor)};
      if (every) {
        if (hold && held.head != nd) w.push(held);
        held = p;
        hold = true;
      } else if (plain) {
        w.push(p);
      } else {
        save(cx, cy, h);
      }
    }
    if (closed) break;
    if ((tlim & 0x01) && nhist >= 15) {
      int ax = 0, ay = 0, ox = 0, oy = 0;
      for (int k = 0; k < 6; k++) {
        ax += DX[hist(k)];
        ay += DY[hist(k)];
        ox += DX[hist(9 + k)];
        oy += DY[hist(9 + k)];
      }
      if ((ax - ox) * (ax - ox) + (ay - oy) * (ay - oy) > 80) {
        if (due != tsave) save(cx, cy, h);
        break;
      }
    }
    if ((moves & 255) == 0) {
      if (chkio(0) > 0 || stopped()) break;
      fast = direct();
    }
  }
  tlim |= 0x80;
  if (hold) w.push(held);
  w.finish();
  return nvecs - first;
}

void perp(const int16_t* p, const int16_t* a, const int16_t* b, int16_t* out) {
  int dx = a[0] - b[0], dy = a[1] - b[1];
  if (dx == 0) {
    out[0] = a[0];
    out[1] = p[1];
    return;
  }
  if (dy == 0) {
    out[0] = p[0];
    out[1] = a[1];
    return;
  }
  float m = static_cast<float>(dy) / static_cast<float>(dx);
  float c = static_cast<float>(a[1]) - static_cast<float>(a[0]) * m;
  float x = (static_cast<float>(p[1]) + static_cast<float>(p[0]) / m - c) / (m + 1.0f / m);
  int ox = ftrunc(x + 0.5f);
  out[0] = static_cast<int16_t>(ox);
  out[1] = static_cast<int16_t>(ftrunc(static_cast<float>(ox) * m + c + 0.5f));
}

int trcfun(uint8_t* out, int mode) {
  std::memset(out, 0, 8);
  bnd[2] = bnd[0];  // every call takes the bounds from the image
  int flags = 0;
  int limit = 1000;
  if (mode == 0) {
    limit = intarg(2, 1000);
    if (limit < 1) limit = 1000;
  } else {
    flags = intarg(2, tflags);
  }
  int a = 4;
  uint8_t pt[8];
  setvec(pt, &a, 2);
  if (stopped()) return -1;
  int dir = nargs() >= a ? intarg(a, -1) : -1;
  if (dir < 0 && curflg != 0 && (mode == 0 || (flags & 0x60))) {
    int16_t p0[2];
    std::memcpy(p0, pt, 4);
    uint16_t saved = curflg;
    Boxcur(p0[0], p0[1], -9);
    uint8_t p2[8];
    setvec(p2, &a, 2);
    if (curflg & 0x2000) Boxcur(0, 0, 0);
    curflg = saved;
    int16_t seg[4] = {p0[0], p0[1], 0, 0};
    std::memcpy(seg + 2, p2, 4);
    dir = dircode(seg, seg + 2);
  } else {
    a++;
  }
  int interval = 5;
  if (mode == 1) interval = intarg(a++, 5);
  int low = intarg(a++, tlo);
  int high = intarg(a, thi);
  if (!tset(mode == 0 ? limit : flags, low, high, interval)) {
    error(2, 70);
    return -1;
  }
  int16_t p[2];
  std::memcpy(p, pt, 4);
  std::memcpy(out, pt, 4);
  if (mode == 0) {
    int x = p[0], y = p[1];
    if (iserch(1, &x, &y, dir < 0 ? 0 : dir, tlim) > 0) {
      int16_t v[2] = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
      std::memcpy(out, v, 4);
      out[6] = 1;
      out[7] = static_cast<uint8_t>(getpix(img, x, y));
      img = nullptr;
      return 1;
    }
    out[6] = 0;
    img = nullptr;
    return 0;
  }
  int n = trace(p, dir);
  img = nullptr;
  int16_t v = static_cast<int16_t>(n > 32767 ? 32767 : n);
  std::memcpy(out, &v, 2);
  std::memset(out + 2, 0, 2);
  setres(n, 0);
  return n;
}

// The search or trace runs before the destination is made: one that fails
// leaves the destination as it was.
int su_trace(FnCall& c) {
  ptres(c);
  if (trcfun(c.lbuf, c.code - 257) < 0 && (state & ST_ERROR)) {
    c.ret = 0;
    return FS_RET;
  }
  return FS_GO;
}

int run_trace(FnCall& c) {
  c.buf = c.lbuf;
  c.store = optab[OT_RWSZ] == W_VEC ? 1 : 4;
  return 0;
}

// perp: operand 1 and operand 2 vector variables; the line's second point
// is record 1 of a vector list operand 2, else argument 4's first record.
// The foot is computed here, before the destination is made.
int su_perp(FnCall& c) {
  PtrRec* p = oprec(0);
  PtrRec* q = oprec(1);
  uint8_t rp[12], ra[12], rb[12];
  bool ok = p && q && (p->Flg & K_VECTOR) && (q->Flg & K_VECTOR) && getvec(p, 0, rp, 0) &&
            getvec(q, 0, ra, 0);
  if (ok) {
    if (q->Flg & K_MATRIX) {
      ok = getvec(q, 1, rb, 0) != nullptr;
    } else {
      int32_t h = 0;
      int k = argtyp(4, &h);
      PtrRec* r = (k & K_VECTOR) ? ptrrec(h) : nullptr;
      ok = r && getvec(r, 0, rb, 0) != nullptr;
    }
  }
  if (!ok) {
    error(0, 151);
    c.ret = 0;
    return FS_RET;
  }
  int16_t P[2], A[2], B[2], out[2];
  std::memcpy(P, rp + 4, 4);
  std::memcpy(A, ra + 4, 4);
  std::memcpy(B, rb + 4, 4);
  perp(P, A, B, out);
  std::memset(c.lbuf, 0, 8);
  std::memcpy(c.lbuf, out, 4);
  std::memcpy(c.lbuf + 4, rp + 8, 2);  // z of p
  c.lbuf[6] = 1;
  // A point result: one record for a vector destination, else four 16-bit
  // integers.
  int32_t* t = optab;
  bool vec = (getdst(c.dest) & K_VECTOR) != 0 || c.dest <= 0;
  t[OT_RCNT] = vec ? 1 : 4;
  t[OT_RWSZ] = vec ? W_VEC : W_SHORT;
  return FS_GO;
}

int run_perp(FnCall& c) {
  c.buf = c.lbuf;
  c.store = optab[OT_RWSZ] == W_VEC ? 1 : 4;
  return 0;
}
