// The scanline polygon filler.
#include "graphics/fill.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "graphics/veclist.h"
#include "graphics/writers.h"
#include "ui/events.h"

PtrRec* fillst = nullptr;

namespace {

constexpr int MAXROWS = 640;          // rows of the slot table at most
constexpr int64_t RESERVE = 8192;     // low-stack words left free beside the pool
constexpr int64_t POOLMAX = 1 << 24;  // bytes of the pool at most
constexpr int POLLROWS = 16;          // rows between input polls
constexpr int MASKMAX = 32768;        // bytes of a mask: below this

// The edges of a mask's outline (screen points), set into the mask with
// the spans.
struct Edge {
  int16_t a[3], b[3];
};
std::vector<Edge> medges;

// The row band of the drawing box that the table covers, and its x range.
struct Band {
  int rlo, rhi;  // rows rlo..rhi
  int xlo, xhi;
};
Band band(int rows) {
  return {std::max<int>(drwbox.min[1], 0), rows - 1, drwbox.min[0], drwbox.max[0]};
}

// Walks the line from a to b as the pen does, handing each pixel (x, y)
// and the line state to f; f returns false to stop.
template <class F>
bool walk(const int16_t* a, const int16_t* b, F f) {
  LnState ls;
  linprm(a, b, &ls);
  int32_t x = ls.x, y = ls.y;
  int64_t err = ls.err;
  const bool xmaj = ls.kind < LK_YMAJOR;
  for (int32_t i = 0; i < ls.count; i++) {
    if (!f(x, y, ls)) return false;
    if (err < 0) {
      err += ls.inc;
    } else {
      if (xmaj)
        y += ls.step;
      else
        x += ls.step;
      err += ls.dec;
    }
    if (xmaj)
      x++;
    else
      y++;
  }
  return true;
}

// The crossings of one edge (screen points) with the rows rlo..rhi of the
// table: in each row the first pixel the pen's walk of the line puts in it,
// with its z; x limited to the box. Edges are handed over last first, so
// that each row's crossings end up in the order of their edges.
struct Put {
  FillSlot* pool;
  int32_t* first;  // the table's: each row's next slot, counting down
  int xlo, xhi;    // the box's x range widened by one
  int32_t zbase;   // the line's z terms
  float zslope, round;
  int16_t zflat;   // the z of a flat line
  // A crossing at (x, y) whose major coordinate (for its z) is m.
  void operator()(int32_t x, int32_t y, int32_t m) const {
    FillSlot& s = pool[--first[y]];
    s.x = static_cast<int16_t>(std::clamp(x, xlo, xhi));
    s.z = zslope == 0.0f ? zflat
                         : static_cast<int16_t>(std::clamp(
                               zbase + ftrunc(static_cast<float>(m) * zslope + round), -32768, 32767));
  }
};

// n / d and n % d for n >= 0 and d > 0, in 32 bits when they fit (a
// 64-bit division takes several times as long).
inline void divmod(int64_t n, int64_t d, int64_t& q, int64_t& r) {
  if ((static_cast<uint64_t>(n) | static_cast<uint64_t>(d)) <= UINT32_MAX) {
    const auto n32 = static_cast<uint32_t>(n), d32 = static_cast<uint32_t>(d);
    q = n32 / d32;
    r = n32 % d32;
  } else {
    q = n / d;
    r = n % d;
  }
}

// The rows' first pixels worked out from the walk's terms: for an x-major
// walk of dx steps and dy rows, row k (k >= 1) begins at step
// ceil(dx (2k - 1) / 2dy); a y-major walk of dy rows is at minor offset
// floor((2dx k + dy) / 2dy) in row k. Both follow from the error term the
// walk keeps (2dy - dx, +2dy, -2dx at a row change); from one row to the
// next the quotient grows by 2dx / 2dy and the remainder carries.
template <bool Flat, bool Clamp>
void crossings(const LnState& ls, int rlo, int rhi, const Put& put) {
  const int64_t x0 = ls.x, y0 = ls.y;
  const int step = ls.step;
  FillSlot* const pool = put.pool;
  const int xlo = put.xlo, xhi = put.xhi;
  const int16_t zflat = put.zflat;
  auto one = [&](int32_t* f, int32_t x, int32_t m) {
    FillSlot& s = pool[--*f];
    s.x = static_cast<int16_t>(Clamp ? std::clamp(x, xlo, xhi) : x);
    if (Flat)
      s.z = zflat;
    else
      s.z = static_cast<int16_t>(
          std::clamp(put.zbase + ftrunc(static_cast<float>(m) * put.zslope + put.round), -32768, 32767));
  };
  if (ls.kind == LK_XMAJOR) {
    const int64_t dx = ls.count - 1, d2 = ls.inc;  // d2 = 2dy
    int64_t k = std::max<int64_t>(step > 0 ? rlo - y0 : y0 - rhi, 0);
    const int64_t k1 = std::min<int64_t>(step > 0 ? rhi - y0 : y0 - rlo, d2 / 2);
    if (k > k1) return;
    // The table's entry of row k, stepping with the walk's rows.
    int32_t* f = put.first + (y0 + step * k);
    if (k == 0) {
      one(f, static_cast<int32_t>(x0), static_cast<int32_t>(x0));
      f += step;
      k = 1;
    }
    int64_t q, r, dq, dr;
    divmod(dx * (2 * k - 1) + d2 - 1, d2, q, r);
    divmod(2 * dx, d2, dq, dr);
    auto x = static_cast<int32_t>(x0 + q);
    auto rr = static_cast<int32_t>(r);
    const auto q32 = static_cast<int32_t>(dq), r32 = static_cast<int32_t>(dr), dd = static_cast<int32_t>(d2);
    for (int64_t i = k1 - k; i >= 0; i--, f += step) {
      one(f, x, x);
      rr += r32;
      const int32_t c = -static_cast<int32_t>(rr >= dd);  // all ones on a carry
      x += q32 - c;
      rr -= dd & c;
    }
    return;
  }
  // y-major or vertical (2dx = 0): a pixel a row, from the upper end down.
  const int64_t dy = ls.count - 1, d2 = 2 * dy, e2 = ls.inc;
  int64_t k = std::max<int64_t>(rlo - y0, 0);
  const int64_t k1 = std::min<int64_t>(rhi - y0, dy);
  if (k > k1) return;
  // The upper end's row is at offset 0.
  int64_t q = 0, r = dy;
  if (k > 0) divmod(e2 * k + dy, d2, q, r);
  int32_t* f = put.first + (y0 + k);
  auto x = static_cast<int32_t>(x0 + step * q), y = static_cast<int32_t>(y0 + k);
  auto rr = static_cast<int32_t>(r);
  const auto e32 = static_cast<int32_t>(e2), dd = static_cast<int32_t>(d2);
  for (int64_t i = k1 - k; i >= 0; i--, f++, y++) {
    one(f, x, y);
    rr += e32;
    const int32_t c = -static_cast<int32_t>(rr >= dd);
    x += step & c;
    rr -= dd & c;
  }
}

// The terms of the pen's walk of an edge (a and b on different rows) that
// crossings reads: as linprm gives them, the few of a flat edge at once.
void edgeprm(const int16_t* a, const int16_t* b, LnState* ls) {
  if (a[2] != b[2]) {
    linprm(a, b, ls);
    return;
  }
  // Chosen by selection rather than branches: edges run every way.
  const int32_t ax = a[0], ay = a[1], bx = b[0], by = b[1];
  const bool sw = ax > bx;  // b is the left end
  const int32_t lx = sw ? bx : ax, ly = sw ? by : ay, rx = sw ? ax : bx, ry = sw ? ay : by;
  const int32_t dx = rx - lx, sdy = ry - ly;
  const int32_t dy = sdy < 0 ? -sdy : sdy;
  const bool ymaj = dy > dx;
  const bool back = sdy < 0 && ymaj;  // steep and rising: from the upper end
  ls->x = back ? rx : lx;
  ls->y = back ? ry : ly;
  ls->step = static_cast<int16_t>(sdy < 0 ? -1 : 1);
  ls->kind = static_cast<int16_t>(dx == 0 ? LK_VERT : ymaj ? LK_YMAJOR : LK_XMAJOR);
  ls->count = (ymaj ? dy : dx) + 1;
  ls->inc = 2 * static_cast<int64_t>(dx == 0 ? 0 : ymaj ? dx : dy);
  ls->zslope = 0.0f;
  ls->round = 0.5f;
  ls->zbase = a[2] > 0 ? a[2] - 1 : a[2];
}

// The same by walking the line pixel by pixel as the pen does (the trace
// mask that sends every pixel through the pixel writer asks for it).
void crosswalk(const int16_t* a, const int16_t* b, int rlo, int rhi, const Put& put) {
  int32_t last = INT32_MIN;
  walk(a, b, [&](int32_t x, int32_t y, const LnState& ls) {
    if (y != last) {
      last = y;
      if (y >= rlo && y <= rhi) put(x, y, ls.kind < LK_YMAJOR ? x : y);
    }
    return true;
  });
}

// Sets bit (x, y) of a mask whose rows are w bits from x0, y0.
inline void mbit(uint8_t* m, int w, int h, int x0, int y0, int x, int y) {
  const int cx = x - x0, cy = y - y0;
  if (cx < 0 || cx >= w || cy < 0 || cy >= h) return;
  const int64_t k = static_cast<int64_t>(cy) * w + cx;
  m[k >> 3] = static_cast<uint8_t>(m[k >> 3] | (0x80 >> (k & 7)));
}

}  // namespace

namespace {
// The edges of the outline that cross rows, kept from one fill to the next.
struct CrossEdge {
  int16_t a[3], b[3];
  int rlo, rhi;
};
std::vector<CrossEdge> kedges;
int edepth = 0;
}  // namespace

int filslT(int32_t start, int32_t count, FillSlot* pool, int32_t poolsize, FillRows* tab, uint32_t colour, int mode,
           int* fx, int* lx, int* lastrow, int open) {
  *fx = 9999;
  *lx = 0;
  *lastrow = -1;
  const Band bd = band(tab->rows);
  const int g = gflags;
  const bool notx = g & 1;
  const bool rot = !notx && (g & 0x38) && !(g & 0x10);
  const bool flip = !notx && (g & 0x2000) && !rot;
  const int32_t end = count < 1 ? vreccnt(fillst) : start + count;
  int32_t used = 0;
  int ylo = INT32_MAX, yhi = INT32_MIN, xlo = INT32_MAX, xhi = INT32_MIN;
  bool have = false, seen = false, ok = true;
  int16_t first[3] = {}, prev[3] = {}, rfirst[3] = {}, rprev[3] = {};
  if (mode == FILL_MASK) medges.clear();
  // The edges that cross rows (a fill within a fill has its own).
  std::vector<CrossEdge> own;
  std::vector<CrossEdge>& edges = edepth++ == 0 ? kedges : own;
  edges.clear();
  struct Depth {
    ~Depth() { edepth--; }
  } depth;

  // The screen point of a record's point.
  auto scr = [&](const int16_t* p, int16_t* out) {
    if (rot) {
      int16_t r[3];
      std::memcpy(out, vrotat(p, r), 6);
    } else {
      std::memcpy(out, p, 6);
    }
    if (flip) out[1] = static_cast<int16_t>(drworg[5] - out[1]);
    xlo = std::min<int>(xlo, out[0]);
    xhi = std::max<int>(xhi, out[0]);
    ylo = std::min<int>(ylo, out[1]);
    yhi = std::max<int>(yhi, out[1]);
  };
  // An edge: its outline drawn, and the rows it crosses counted at their
  // ends (one more at the first, one less after the last).
  // An edge that a redraw has just drawn in the same value as a line is
  // not drawn again; should the outline end with such edges, the last is
  // drawn after all, so that the pen and the line state are as it leaves
  // them.
  const bool logged = mode >= 0 && lnready(mode == 1 ? 0 : colour);
  bool pend = false;
  int16_t pp[3], pq[3];
  auto flush = [&]() {
    if (!pend) return;
    pend = false;
    vmove(pp);
    vline(pq, colour, mode);
  };
  auto edge = [&](const int16_t* ra, const int16_t* rb, const int16_t* a, const int16_t* b) __attribute__((always_inline)) {
    if (mode >= 0) {
      int16_t p[3], q[3];
      std::memcpy(p, ra, 6);
      std::memcpy(q, rb, 6);
      if (iclip(p, q) >= 0) {
        if (logged && lnseen(p, q)) {
          pend = true;
          std::memcpy(pp, p, sizeof pp);
          std::memcpy(pq, q, sizeof pq);
        } else {
          pend = false;
          vmove(p);
          vline(q, colour, mode);
        }
      }
    } else if (mode == FILL_MASK) {
      Edge e;
      std::memcpy(e.a, a, 6);
      std::memcpy(e.b, b, 6);
      medges.push_back(e);
    }
    if (a[1] == b[1]) return;
    const int rlo = std::max<int>(std::min(a[1], b[1]), bd.rlo);
    const int rhi = std::min<int>(std::max(a[1], b[1]) - 1, bd.rhi);
    if (rlo > rhi) return;
    if (static_cast<int64_t>(used) + (rhi - rlo + 1) > poolsize) {
      error(0, 114);
      ok = false;
      return;
    }
    used += rhi - rlo + 1;
    tab->lo = std::min(tab->lo, rlo);
    tab->hi = std::max(tab->hi, rhi);
    tab->count[rlo]++;
    tab->count[rhi + 1]--;
    // Filled in place (a copy of a record put together field by field
    // would be read back before its parts are written).
    CrossEdge& c = edges.emplace_back();
    std::memcpy(c.a, a, 6);
    std::memcpy(c.b, b, 6);
    c.rlo = rlo;
    c.rhi = rhi;
  };
  auto close = [&]() {
    if (have && open <= 0) edge(rprev, rfirst, prev, first);
    have = false;
  };

  for (int32_t i = start; i < end && ok; i++) {
    if (stopped()) {
      flush();
      return -1;
    }
    uint8_t e[12];
    if (!vecread(fillst, i, e, 1)) break;
    const int code = e[0];
    const int16_t raw[3] = {vget16(e + 4), vget16(e + 6), vget16(e + 8)};
    if (code == VC_LINE || code == VC_MOVE) {
      int16_t p[3];
      scr(raw, p);
      seen = true;
      if (have && code == VC_LINE) {
        edge(rprev, raw, prev, p);
      } else {
        close();
        std::memcpy(first, p, 6);
        std::memcpy(rfirst, raw, 6);
        have = true;
      }
      std::memcpy(prev, p, 6);
      std::memcpy(rprev, raw, 6);
      continue;
    }
    close();
    if (count < 1 && seen) break;
  }
  if (ok) close();
  flush();
  if (!ok || stopped()) return -1;
  // The counts from their ends, and each row's place in the pool: rows one
  // after another. The edges then put their crossings, last edge first, each
  // before those of the edges after it.
  if (tab->hi >= tab->lo) {
    int32_t n = 0, at = 0;
    for (int r = tab->lo; r <= tab->hi; r++) {
      n += tab->count[r];
      tab->count[r] = n;
      at += n;
      tab->first[r] = at;
    }
    tab->count[tab->hi + 1] = 0;
    const bool bywalk = (trcmsk & 536) == 536 && !(pflags & 1);
    for (size_t k = edges.size(); k-- > 0;) {
      const CrossEdge& c = edges[k];
      LnState ls;
      edgeprm(c.a, c.b, &ls);
      const Put put{pool,     tab->first, bd.xlo - 1, bd.xhi + 1, ls.zbase,
                    ls.zslope, ls.round,  static_cast<int16_t>(std::clamp(ls.zbase, -32768, 32767))};
      // The crossings lie between the edge's ends: within the box's
      // columns when both ends are.
      const bool in = std::min(c.a[0], c.b[0]) >= put.xlo && std::max(c.a[0], c.b[0]) <= put.xhi;
      const bool flat = ls.zslope == 0.0f;
      if (bywalk)
        crosswalk(c.a, c.b, c.rlo, c.rhi, put);
      else if (flat && in)
        crossings<true, false>(ls, c.rlo, c.rhi, put);
      else if (flat)
        crossings<true, true>(ls, c.rlo, c.rhi, put);
      else
        crossings<false, true>(ls, c.rlo, c.rhi, put);
    }
  }
  if (yhi < bd.rlo || ylo > bd.rhi || xhi < bd.xlo || xlo > bd.xhi) return -1;
  *fx = std::max(xlo, bd.xlo);
  *lx = std::min(xhi, bd.xhi);
  *lastrow = std::min(yhi, bd.rhi);
  const int fr = std::max(ylo, bd.rlo);
  if ((trcmsk & 56) == 56) {
    jprintf(dbglun, "Filled %d slots", static_cast<int>(used));
    for (int r = fr; r <= *lastrow; r++) {
      const int32_t n = r >= tab->lo && r <= tab->hi ? tab->count[r] : 0;
      jprintf(dbglun, "\n%3d: %3d=", r, static_cast<int>(n));
      for (int k = 0; k < 5 && k < n; k++) {
        const FillSlot& sl = pool[tab->first[r] + k];
        jprintf(dbglun, " %5d %5d/", sl.x, sl.z);
      }
    }
    jprintf(dbglun, "\n");
  }
  return fr;
}

namespace {
// Sorts n crossings by x in place; equal x keep their order.
void sortrow(FillSlot* v, int32_t n) {
  if (n == 2) {
    if (v[0].x > v[1].x) std::swap(v[0], v[1]);
    return;
  }
  for (int32_t i = 1; i < n; i++) {
    const FillSlot t = v[i];
    int32_t j = i;
    for (; j > 0 && v[j - 1].x > t.x; j--) v[j] = v[j - 1];
    v[j] = t;
  }
}
// Sorts the x of n crossings (n even): the spans of a row need no more
// than its x in order. Rows of up to eight by networks of exchanges,
// without branches.
inline void cx(int32_t* v, int i, int j) {
  const int32_t a = v[i], b = v[j];
  v[i] = a < b ? a : b;
  v[j] = a < b ? b : a;
}
inline __attribute__((always_inline)) void sortx(int32_t* v, int32_t n) {
  switch (n) {
    case 2: cx(v, 0, 1); return;
    case 4:
      cx(v, 0, 1), cx(v, 2, 3), cx(v, 0, 2), cx(v, 1, 3), cx(v, 1, 2);
      return;
    case 6:
      cx(v, 0, 5), cx(v, 1, 3), cx(v, 2, 4), cx(v, 1, 2), cx(v, 3, 4), cx(v, 0, 3);
      cx(v, 2, 5), cx(v, 0, 1), cx(v, 2, 3), cx(v, 4, 5), cx(v, 1, 2), cx(v, 3, 4);
      return;
    case 8:
      cx(v, 0, 2), cx(v, 1, 3), cx(v, 4, 6), cx(v, 5, 7), cx(v, 0, 4), cx(v, 1, 5), cx(v, 2, 6);
      cx(v, 3, 7), cx(v, 0, 1), cx(v, 2, 3), cx(v, 4, 5), cx(v, 6, 7), cx(v, 2, 4), cx(v, 3, 5);
      cx(v, 1, 4), cx(v, 3, 6), cx(v, 1, 2), cx(v, 3, 4), cx(v, 5, 6);
      return;
    default:
      for (int32_t i = 1; i < n; i++) {
        const int32_t t = v[i];
        int32_t j = i;
        for (; j > 0 && v[j - 1] > t; j--) v[j] = v[j - 1];
        v[j] = t;
      }
  }
}

// The spans of a row of n crossings (n even) straight into the image:
// only their x sorted (unless sorted is false: the row as it is). Returns
// the pair of the last span within the box, or -1. ByteBox: bytes stored,
// the box's columns within the image's.
template <bool ByteBox>
inline __attribute__((always_inline)) int rowspans(const FillSlot* row, int32_t n, bool sorted, int r, const SpanTgt& sp, int bx0, int bx1,
             std::vector<int32_t>& xv) {
  uint8_t* const line = r < sp.h ? sp.base + r * sp.row : nullptr;
  const uint64_t v8 = 0x0101010101010101ull * (sp.value & 0xFF);
  int last = -1;
  auto span = [&](int32_t k, int32_t xa, int32_t xb) __attribute__((always_inline)) {
    const int x0 = std::max<int>(xa, bx0), x1 = std::min<int>(xb, bx1);
    if (x0 > x1) return;
    last = k;
    if (ByteBox) {
      if (line) fillbytes(line + x0, x1 - x0 + 1, v8);
      return;
    }
    const int a = std::max(x0, 0), b = std::min(x1, sp.w - 1);
    if (!line || a > b) return;
    if (sp.bytes == 1 && !sp.xr)
      fillbytes(line + a, b - a + 1, v8);
    else
      spanrow(line + static_cast<int64_t>(a) * sp.bytes, b - a + 1);
  };
  // The usual rows, of two, four or eight crossings, without loops.
  if (n == 2) {
    int32_t v[2] = {row[0].x, row[1].x};
    cx(v, 0, 1);
    span(0, v[0], v[1]);
  } else if (n == 4 && sorted) {
    int32_t v[4] = {row[0].x, row[1].x, row[2].x, row[3].x};
    sortx(v, 4);
    span(0, v[0], v[1]);
    span(2, v[2], v[3]);
  } else if (n == 8 && sorted) {
    int32_t v[8] = {row[0].x, row[1].x, row[2].x, row[3].x, row[4].x, row[5].x, row[6].x, row[7].x};
    sortx(v, 8);
    span(0, v[0], v[1]);
    span(2, v[2], v[3]);
    span(4, v[4], v[5]);
    span(6, v[6], v[7]);
  } else {
    int32_t small[8];
    int32_t* xs = small;
    if (n > 8) {
      xv.resize(static_cast<size_t>(n));
      xs = xv.data();
    }
    for (int32_t k = 0; k < n; k++) xs[k] = row[k].x;
    if (sorted) sortx(xs, n);
    for (int32_t k = 0; k + 1 < n; k += 2) span(k, xs[k], xs[k + 1]);
  }
  return last;
}

}  // namespace

int sltsrt(int32_t count, int32_t head, FillSlot* pool) {
  // The chain's values sorted in a buffer and put back (the links stay):
  // every crossing of the row ends in its place, however many there are.
  static std::vector<FillSlot> big;
  FillSlot small[32];
  FillSlot* v = small;
  if (count > 32) {
    big.resize(static_cast<size_t>(count));
    v = big.data();
  }
  int32_t nv = 0;
  for (int32_t s = head; s >= 0 && nv < count; s = pool[s].next) v[nv++] = pool[s];
  if (nv > 2 && stopped()) return 0;
  sortrow(v, nv);
  int32_t k = 0;
  for (int32_t s = head; s >= 0 && k < nv; s = pool[s].next, k++) {
    pool[s].x = v[k].x;
    pool[s].z = v[k].z;
  }
  return 0;
}

uint8_t* DRwslt(FillSlot* pool, int first, FillRows* tab, uint32_t colour, int mode, int fx, int lx, int lastrow) {
  const int step = penwidth > 0 ? penwidth : 1;
  const bool mask = mode == FILL_MASK;
  const int w = lx - fx + 1, h = lastrow - first + 1;
  static std::vector<uint8_t> mbuf;
  if (mask) {
    if (w < 1 || h < 1 || static_cast<int64_t>(w) * h > static_cast<int64_t>(MASKMAX - 1) * 8) return nullptr;
    mbuf.assign(static_cast<size_t>((static_cast<int64_t>(w) * h + 7) / 8), 0);
  }
  int since = 0;
  // Spans straight into vimage where the pen would put them there.
  const bool fast = !mask && spanbeg(colour, mode);
  const int bx0 = drwbox.min[0], bx1 = drwbox.max[0];
  int16_t la[3] = {}, lb[3] = {};
  // The x of a row's crossings, sorted apart from them while the spans go
  // straight into the image; the row and pair of the last span, whose
  // crossings' z the pen keeps.
  const bool xonly = fast && (trcmsk & 40) != 40;
  const SpanTgt sp = spn;
  // Bytes stored, and the box's columns within the image's.
  const bool bytebox = sp.bytes == 1 && !sp.xr && bx0 >= 0 && bx1 < sp.w;
  std::vector<int32_t> xv;
  int lastr = -1, lastk = 0;
  bool lastsorted = true;
  for (int r = first; r <= lastrow && r < tab->rows && !stopped(); r += step) {
    int32_t n = tab->count[r];
    if (n < 2) continue;
    // An odd count drops its last crossing.
    if (n & 1) tab->count[r] = --n;
    FillSlot* row = pool + tab->first[r];
    if (xonly) {
      const bool sorted = n == 2 || !stopped();
      const int kk = bytebox ? rowspans<true>(row, n, sorted, r, sp, bx0, bx1, xv)
                             : rowspans<false>(row, n, sorted, r, sp, bx0, bx1, xv);
      if (kk >= 0) {
        lastr = r;
        lastk = kk;
        lastsorted = sorted;
      }
      if (++since >= POLLROWS) {
        since = 0;
        chkio(0);
      }
      continue;
    }
    if (n == 2 || !stopped()) sortrow(row, n);
    if ((trcmsk & 40) == 40) {
      jprintf(dbglun, "\nSorted %d slots", static_cast<int>(n));
      for (int32_t k = 0; k < n; k++) jprintf(dbglun, " %5d ", row[k].x);
    }
    for (int32_t k = 0; k + 1 < n; k += 2) {
      const FillSlot& a = row[k];
      const FillSlot& b = row[k + 1];
      if (mask) {
        // Crossings beyond the box lie just outside it, and the column that
        // evens a row's bits may lie there too: only the box's pixels count.
        const int x1 = std::min({static_cast<int>(b.x), lx, bx1});
        for (int x = std::max({static_cast<int>(a.x), fx, bx0}); x <= x1; x++) mbit(mbuf.data(), w, h, fx, first, x, r);
      } else {
        // Crossings beyond the box lie just outside it: the span stops at
        // its edge.
        const int x0 = std::max<int>(a.x, bx0), x1 = std::min<int>(b.x, bx1);
        if (x0 > x1) continue;
        if (fast) {
          spanput(x0, x1, r);
          la[0] = static_cast<int16_t>(x0), la[1] = static_cast<int16_t>(r), la[2] = a.z;
          lb[0] = static_cast<int16_t>(x1), lb[1] = static_cast<int16_t>(r), lb[2] = b.z;
          continue;
        }
        const int16_t p[3] = {static_cast<int16_t>(x0), static_cast<int16_t>(r), a.z};
        int16_t q[3] = {static_cast<int16_t>(x1), static_cast<int16_t>(r), b.z};
        vmove(p);
        vline(q, colour, mode);
      }
    }
    if (mask && (trcmsk & 8)) {
      char bits[65];
      const int64_t k0 = static_cast<int64_t>(r - first) * w;
      for (int k = 0; k < 64; k++) {
        const int64_t k1 = k0 + k;
        bits[k] = k < w && (mbuf[static_cast<size_t>(k1 >> 3)] & (0x80 >> (k1 & 7))) ? '1' : '0';
      }
      bits[64] = 0;
      jprintf(dbglun, "Bits: %s\n", bits);
    }
    if (++since >= POLLROWS) {
      since = 0;
      chkio(0);
    }
  }
  if (xonly && lastr >= 0) {
    spn.any = true;
    // The last span's ends, their z from the row sorted as the pen sorts it.
    FillSlot* row = pool + tab->first[lastr];
    if (lastsorted) sortrow(row, tab->count[lastr]);
    const FillSlot &a = row[lastk], &b = row[lastk + 1];
    la[0] = static_cast<int16_t>(std::max<int>(a.x, bx0)), la[1] = static_cast<int16_t>(lastr), la[2] = a.z;
    lb[0] = static_cast<int16_t>(std::min<int>(b.x, bx1)), lb[1] = static_cast<int16_t>(lastr), lb[2] = b.z;
  }
  if (fast) spanend(la, lb);
  if (!mask) return nullptr;
  // The outline's own pixels belong to the mask too.
  for (const Edge& e : medges)
    walk(e.a, e.b, [&](int32_t x, int32_t y, const LnState&) {
      if (x >= bx0 && x <= bx1) mbit(mbuf.data(), w, h, fx, first, x, y);
      return true;
    });
  return mbuf.data();
}

uint8_t* paint(int32_t start, int32_t count, uint32_t colour, int mode, int open, int16_t* box) {
  const int rows = std::min<int>(drwbox.max[1] + 1, MAXROWS);
  if (rows < 1) return nullptr;
  // The row table is kept from one fill to the next: only the rows a fill
  // used are cleared after it (a fill inside a fill gets its own).
  static std::vector<int32_t> kcnt, kfst;
  static bool busy = false;
  std::vector<int32_t> own[2];
  const bool kept = !busy;
  std::vector<int32_t>& cnt = kept ? kcnt : own[0];
  std::vector<int32_t>& fst = kept ? kfst : own[1];
  if (cnt.size() < static_cast<size_t>(rows) + 1) {
    cnt.assign(static_cast<size_t>(rows) + 1, 0);
    fst.assign(static_cast<size_t>(rows) + 1, 0);
  }
  FillRows tab{rows, cnt.data(), fst.data()};
  busy = true;
  struct Clear {
    FillRows& t;
    bool kept;
    ~Clear() {
      const int lo = std::max(t.lo, 0), hi = std::min(t.hi + 1, t.rows);
      if (lo <= hi) std::memset(t.count + lo, 0, static_cast<size_t>(hi - lo + 1) * sizeof(int32_t));
      if (kept) busy = false;
    }
  } clear{tab, kept};
  // The slot pool: the free low stack, less a reserve for the blocks that
  // reading the list may need.
  const int32_t keep = scrtop;
  const int64_t gap = static_cast<int64_t>(lstk.lowest) - scrtop - RESERVE;
  uint32_t bytes = 0;
  FillSlot* pool = nullptr;
  if (gap > 0) pool = static_cast<FillSlot*>(grbstk(&bytes, -static_cast<int>(std::min(gap * 4, POOLMAX)) - 1));
  const auto cap = static_cast<int32_t>(bytes / sizeof(FillSlot));
  int fx = 0, lx = 0, last = -1;
  const int first = filslT(start, count, pool, cap, &tab, colour, mode, &fx, &lx, &last, open);
  uint8_t* out = nullptr;
  if (first >= 0) {
    // The crossings are screen points already: the spans are drawn without
    // fat pixels, rotation or flip.
    const int16_t g = gflags;
    gflags = static_cast<int16_t>(g & ~(0x1800 | 0x0038 | 0x2000));
    setpxf(gflags);
    const bool mask = mode == FILL_MASK;
    if (mask && ((lx - fx + 1) & 1)) lx++;
    const uint8_t* m = DRwslt(pool, first, &tab, colour, mode, fx, lx, last);
    gflags = g;
    setpxf(g);
    scrtop = keep;
    if (mask) {
      if (box) {
        box[0] = static_cast<int16_t>(fx);
        box[1] = static_cast<int16_t>(first);
        box[2] = static_cast<int16_t>(lx);
        box[3] = static_cast<int16_t>(last);
      }
      if (m) {
        const size_t n = static_cast<size_t>((static_cast<int64_t>(lx - fx + 1) * (last - first + 1) + 7) / 8);
        out = static_cast<uint8_t*>(getbuf(static_cast<int32_t>(n)));
        if (out) std::memcpy(out, m, n);
      }
    }
    return out;
  }
  scrtop = keep;
  return out;
}
