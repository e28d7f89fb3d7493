// fill, warp, the displacement map and the segment-crossing test.
#include "compute/warp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "compute/func.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/veclist.h"
#include "ui/events.h"

// ---------------------------------------------------------------------------
// fill

int dofill() {
  int32_t hd = 0, hp = 0;
  argtyp(2, &hd);
  PtrRec* d = ptrrec(hd);
  if (!d || !(d->Flg & K_DATA) || (d->Flg & K_VECTOR)) {
    error(2, 70);
    return 0;
  }
  argtyp(3, &hp);
  PtrRec* p = ptrrec(hp);
  if (!p || !(p->Flg & 0x7F0) || (p->Flg & K_VECTOR)) {
    error(3, 70);
    return 0;
  }
  int32_t pc, ppart, ptot, pws;
  if (!gtvarb(p, &pc, &ppart, &ptot, &pws, 0) || pc < 1) return 0;
  if (pc > 32767 || (pws & 3)) {
    error(0, 127);
    return 0;
  }
  int32_t pnx = static_cast<int32_t>(p->Offs[3] ? p->Offs[3] : static_cast<uint32_t>(pc));
  int32_t pny = static_cast<int32_t>(p->Offs[4] ? p->Offs[4] : 1);
  int32_t pnz = static_cast<int32_t>(p->Offs[5] ? p->Offs[5] : 1);
  if ((p->Flg & K_STRING) || (p->Flg & K_NUMBER)) {
    pnx = pc;
    pny = pnz = 1;
  }
  if ((pws & 63) == 4 && (pnx & 1)) pnx = pnx == 1 ? 2 : pnx - 1;
  if (pnx < 1 || pny < 1 || pnz < 1) return 0;

  int32_t dc, dpart, dtot, dws;
  if (!gtvarb(d, &dc, &dpart, &dtot, &dws, 115) || dc < 1) return 0;
  int32_t dnx = static_cast<int32_t>(d->Offs[3] ? d->Offs[3] : static_cast<uint32_t>(dc));
  int32_t dny = static_cast<int32_t>(d->Offs[4] ? d->Offs[4] : 1);
  if (d->Flg & K_STRING) dnx = dc, dny = 1;
  int bytes = (dws & 7) == 0 && dws <= W_FLOAT ? (dws & 63) / 8 : 0;

  // The pattern, read in order, then converted to the destination's items
  // by the store rule (bit-field destinations store element by element).
  auto* val = static_cast<double*>(getbuf(pc * 8));
  void* pat = bytes ? getbuf(pc * bytes) : val;
  if (!val || !pat) {
    error(0, 127);
    return 0;
  }
  for (int32_t i = 0; i < pc; i++) {
    if (i >= ppart) {
      if (stopped()) return 0;
      LDVARB(p, &ppart, i);
      if (ppart <= i) return 0;
    }
    val[i] = GSTACK(p);
  }
  if (bytes) {
    bool nc = (aflags & AF_NOCLAMP) != 0;
    for (int32_t i = 0; i < pc; i++) {
      uint8_t bp = 0;
      stitm(val[i], static_cast<uint8_t*>(pat) + static_cast<size_t>(i) * bytes, dws, &bp, nc);
    }
  }
  if (stopped()) return 0;

  int32_t px = 0, py = 0, pz = 0, dx = 0, dy = 0;
  int64_t poll = 0;
  // A destination addressable whole at once is written row by row, each
  // row tiled once per pattern row and copied.
  if (bytes && dpart >= dc && dc % dnx == 0 && dptr(d)) {
    uint8_t* q = dptr(d);
    const auto* src = static_cast<const uint8_t*>(pat);
    size_t rb = static_cast<size_t>(dnx) * bytes;
    int64_t nrow = static_cast<int64_t>(pny) * pnz;
    bool cache = nrow * static_cast<int64_t>(rb) <= (4 << 20);
    std::vector<uint8_t> rows(cache ? static_cast<size_t>(nrow) * rb : rb);
    std::vector<uint8_t> done(cache ? static_cast<size_t>(nrow) : 0);
    for (int32_t k = 0; k < dc / dnx && !stopped(); k++) {
      int64_t pr = static_cast<int64_t>(pz) * pny + py;
      uint8_t* row = rows.data() + (cache ? static_cast<size_t>(pr) * rb : 0);
      if (!cache || !done[static_cast<size_t>(pr)]) {
        for (int32_t x = 0; x < dnx; x += pnx) {
          int64_t at = pr * pnx;
          int32_t run = std::min(pnx, dnx - x);
          if (at + run > pc) run = static_cast<int32_t>(std::max<int64_t>(0, pc - at));
          std::memcpy(row + static_cast<size_t>(x) * bytes, src + at * bytes,
                      static_cast<size_t>(run) * bytes);
        }
        if (cache) done[static_cast<size_t>(pr)] = 1;
      }
      std::memcpy(q + static_cast<size_t>(k) * rb, row, rb);
      py = (py + 1) % pny;
      if (++dy >= dny) {
        dy = py = 0;
        pz = (pz + 1) % pnz;
      }
      if ((k & 255) == 255) chkio(0);
    }
    d->Dptr += static_cast<int32_t>(static_cast<int64_t>(dc) * bytes);
    DMPVRB(d, &dpart, 0, 0);
    return 0;
  }
  for (int32_t i = 0; i < dc && !stopped();) {
    if (i >= dpart) {
      DMPVRB(d, &dpart, 1, i);
      if (dpart <= i) break;
    }
    int32_t run = std::min({pnx - px, dpart - i, dnx - dx});
    if (run < 1) run = 1;
    int64_t at = (static_cast<int64_t>(pz) * pny + py) * pnx + px;
    if (at + run > pc) run = static_cast<int32_t>(std::max<int64_t>(1, pc - at));
    if (bytes) {
      if (uint8_t* q = dptr(d))
        std::memcpy(q, static_cast<uint8_t*>(pat) + at * bytes, static_cast<size_t>(run) * bytes);
      d->Dptr += run * bytes;
    } else {
      const auto* v = static_cast<const double*>(pat);
      for (int32_t k = 0; k < run; k++) PSTACK(at + k < pc ? v[at + k] : 0.0, d);
    }
    px += run;
    if (px >= pnx) px = 0;
    dx += run;
    if (dx >= dnx) {
      px = dx = 0;
      py = (py + 1) % pny;
      if (++dy >= dny) {
        dy = py = 0;
        pz = (pz + 1) % pnz;
      }
    }
    i += run;
    poll += run;
    if (poll >= 65536) {
      poll = 0;
      chkio(0);
    }
  }
  DMPVRB(d, &dpart, 0, 0);
  return 0;
}

// ---------------------------------------------------------------------------
// warp

namespace {
std::vector<int16_t> wpairs;  // the last pair list: x, y per point
}

int warpprs(const int16_t** points) {
  if (points) *points = wpairs.data();
  return static_cast<int>(wpairs.size() / 4);
}

int su_warp(FnCall& c) {
  // The frame comes from an array, matrix, image or solid; the points from
  // vector records or an array of points.
  constexpr int frame = K_ARRAY | K_MATRIX | K_IMAGE | K_SOLID, points = K_VECTOR | K_ARRAY | K_MATRIX | K_IMAGE;
  constexpr int never = K_NUMBER | K_STRING | K_LIST;
  const int k1 = optab[OT_KIND], k2 = optab[OT_KIND + 1];
  if (optab[OT_REC] && (!(k1 & frame) || (k1 & (never | K_VECTOR)))) return fnrefus(c, 2, 109);
  if (optab[OT_REC + 1] && (!(k2 & points) || (k2 & (never | K_SOLID)))) return fnrefus(c, 3, 109);
  return FS_GO;
}

int run_warp(FnCall& c) {
  (void)c;
  PtrRec* o1 = oprec(0);
  PtrRec* o2 = oprec(1);
  int32_t c1 = o1 ? optab[OT_CNT] : 0;
  int32_t c2 = o2 ? optab[OT_CNT + 1] : 0;
  bool corners = intarg(4, 0) != 0;
  // Capacity in points: 100 without a point variable, else the points it
  // holds + 4 (and room for the corners when they are asked for).
  int32_t cap = 100;
  if (o2 && c2 > 0) {
    int nx = static_cast<int>(o2->Offs[3]), ny = static_cast<int>(o2->Offs[4] ? o2->Offs[4] : 1);
    int32_t pts = c2;
    if (o2->Flg & K_VECTOR)
      pts = c2 * 2;  // a record may be a dot that counts twice
    else if (nx == 4)
      pts = ny;
    else if (nx == 2)
      pts = ny / 2;
    cap = pts + 4;
  }
  if (corners) cap += 8;
  wpairs.clear();
  std::vector<int16_t> pl;
  pl.reserve(static_cast<size_t>(cap) * 2);
  // Every point is checked against the capacity before it is written.
  auto put = [&](int x, int y) {
    if (static_cast<int32_t>(pl.size() / 2) >= cap) return false;
    pl.push_back(static_cast<int16_t>(x));
    pl.push_back(static_cast<int16_t>(y));
    return true;
  };
  int ex = 0, ey = 0;
  if (o1 && c1 > 0) {
    ex = static_cast<int>(o1->Offs[3]);
    ey = static_cast<int>(o1->Offs[4] ? o1->Offs[4] : 1);
  }
  if (corners) {
    const int cx[4] = {0, ex, ex, 0}, cy[4] = {0, 0, ey, ey};
    for (int k = 0; k < 4; k++) put(cx[k], cy[k]), put(cx[k], cy[k]);
  }
  int offx = 0, offy = 0;
  if (!(o2 && c2 > 0) || !(o1 && c1 > 0)) {
    int16_t a[3] = {0, 0, 0}, b[3] = {0, 0, 0};
    jprintf(lstlun, "Pos of old image: \n");
    if (curvec(a, 0) < 0 || stopped()) return -1;
    jprintf(lstlun, "Pos of new image: \n");
    if (curvec(b, 0) < 0 || stopped()) return -1;
    offx = a[0] - b[0];
    offy = a[1] - b[1];
  }
  if (o2 && c2 > 0) {
    uint8_t e[12];
    for (int32_t i = 0; !stopped(); i++) {
      if (!getvec(o2, i, e, 1)) break;
      int code = e[0];
      if (code < 1 || code > 3) continue;
      int16_t x, y;
      std::memcpy(&x, e + 4, 2);
      std::memcpy(&y, e + 6, 2);
      bool second = (pl.size() / 2) & 1;
      if (!second && code == 3) {
        if (!put(x, y) || !put(x, y)) break;
      } else if (!put(second ? x - offx : x, second ? y - offy : y)) {
        break;
      }
    }
  } else {
    jprintf(lstlun, "Enter control points in pairs: \n");
    while (!stopped()) {
      int16_t pt[3] = {0, 0, 0};
      int k = curvec(pt, 521);
      if (k < 129) break;
      bool second = (pl.size() / 2) & 1;
      if (!second && !(k & 1)) {
        if (!put(pt[0], pt[1]) || !put(pt[0], pt[1])) break;
      } else if (!put(second ? pt[0] - offx : pt[0], second ? pt[1] - offy : pt[1])) {
        break;
      }
    }
  }
  if (pl.size() & 2) pl.resize(pl.size() - 2);  // an unpaired last point
  wpairs = pl;
  int n = static_cast<int>(pl.size() / 4);
  if (trcmsk & 16) {
    jprintf(dbglun, "warp %d pairs\n", n);
    for (int k = 0; k < n; k++)
      jprintf(dbglun, "%3d: (%d,%d) -> (%d,%d)\n", k, pl[4 * k], pl[4 * k + 1], pl[4 * k + 2],
              pl[4 * k + 3]);
  }
  if (trcmsk & 32) waitky();
  setres(n, 0);
  return 0;
}

// ---------------------------------------------------------------------------
// The displacement map.

int bytesz(int wsize) {
  switch (wsize) {
    case 8: return 1;
    case 16: return 2;
    case 24: return 3;
    default: return 4;
  }
}

void nbrtab(int32_t* o, int count, int d, int32_t nx, int32_t layer, uint32_t* m) {
  int s = static_cast<int>(std::lround(std::sqrt(static_cast<double>(d))));
  if (s < 1) s = 1;
  uint32_t mk[26] = {0};
  if (count == 2) {
    o[0] = d, mk[0] = 2;
    o[1] = -d, mk[1] = 1;
  } else if (count == 8) {
    const int32_t v[8] = {d, -d, -nx * d, nx * d, (nx + 1) * s, (1 - nx) * s, (nx - 1) * s,
                          (-nx - 1) * s};
    const uint32_t k[8] = {2, 1, 8, 16, 18, 10, 17, 9};
    for (int i = 0; i < 8; i++) o[i] = v[i], mk[i] = k[i];
  } else if (count == 26) {
    const int32_t v[10] = {d, -d, -nx * d, nx * d, -layer * d, layer * d,
                           (1 - nx) * s, -(nx + 1) * s, (nx - 1) * s, (nx + 1) * s};
    const uint32_t k[10] = {66, 65, 72, 80, 64, 128, 74, 73, 81, 82};
    for (int i = 0; i < 10; i++) o[i] = v[i], mk[i] = k[i];
    const int base[8] = {0, 1, 2, 3, 6, 7, 8, 9};
    for (int j = 0; j < 8; j++) {
      int b = base[j];
      int32_t add = b < 4 ? layer * d : layer * s;
      o[10 + j] = v[b] + add, mk[10 + j] = k[b] + 128;
      o[18 + j] = v[b] - add, mk[18 + j] = k[b] + 64;
    }
  } else {
    return;
  }
  if (m)
    for (int i = 0; i < count; i++) m[i] = mk[i];
  if (trcmsk & 16) {
    jprintf(dbglun, "Neighbors %d (%d %d %d)\n", count, d, nx, layer);
    for (int i = 0; i < count; i++) jprintf(dbglun, "% 2d: %7d  %5oo\n", i, o[i], mk[i]);
  }
}

namespace {

int32_t ldit(const WarpMap* m, uint32_t i) {
  int b = bytesz(static_cast<int>(m->wsize));
  const uint8_t* p = m->data + static_cast<size_t>(i) * b;
  switch (b) {
    case 1: return static_cast<int8_t>(p[0]);
    case 2: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 3: {
      int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
      return v & 0x800000 ? v - 0x1000000 : v;
    }
    default: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

void stit(WarpMap* m, uint32_t i, int32_t v) {
  int b = bytesz(static_cast<int>(m->wsize));
  uint8_t* p = m->data + static_cast<size_t>(i) * b;
  auto u = static_cast<uint32_t>(v);
  for (int k = 0; k < b; k++) p[k] = static_cast<uint8_t>(u >> (8 * k));
}

// Cell index of (x, y, z).
uint32_t cellof(const WarpMap* m, int x, int y, int z) {
  uint32_t i = static_cast<uint32_t>(x);
  if (m->ndims >= 2) i += static_cast<uint32_t>(y) * m->nx;
  if (m->ndims >= 3) i += static_cast<uint32_t>(z) * m->layer;
  return i;
}

bool isempty(const WarpMap* m, uint32_t i) {
  int b = bytesz(static_cast<int>(m->wsize));
  uint32_t mask = b >= 4 ? 0xFFFFFFFFu : (1u << (8 * b)) - 1;
  return (static_cast<uint32_t>(ldit(m, i)) & mask) == m->empty;
}

// Direction bits of a cell.
uint32_t dirbits(const WarpMap* m, uint32_t i, int d) {
  uint32_t x = i % m->nx, y = (i / m->nx) % m->ny, z = i / m->layer;
  uint32_t b = 0;
  auto ud = static_cast<uint32_t>(d);
  if (x >= ud) b |= 1;
  if (x + ud < m->nx) b |= 2;
  if (m->ndims >= 2) {
    if (y >= ud) b |= 8;
    if (y + ud < m->ny) b |= 16;
  }
  if (m->ndims >= 3) {
    if (z >= ud) b |= 64;
    if (z + ud < m->nz) b |= 128;
  }
  return b;
}

}  // namespace

int32_t mapget(const WarpMap* m, int x, int y, int z, int c) {
  return ldit(m, cellof(m, x, y, z) + static_cast<uint32_t>(c) * m->cells);
}

void mapput(int x, int y, int z, int dx, int dy, int dz, WarpMap* m) {
  uint32_t i = cellof(m, x, y, z);
  if (i >= m->cells) return;
  stit(m, i, dx);
  if (m->ndims >= 2) stit(m, i + m->cells, dy);
  if (m->ndims >= 3) stit(m, i + 2 * m->cells, dz);
}

int warppts(WarpMap* m, const int16_t* old, const int16_t* nw, int n, int nd, int check) {
  const uint32_t ext[3] = {m->nx, m->ny, m->nz};
  auto lim = static_cast<int32_t>(m->empty - 1);
  for (int k = 0; k < n; k++) {
    int o[3] = {0, 0, 0}, dv[3] = {0, 0, 0};
    for (int a = 0; a < nd && a < 3; a++) {
      int u = old[k * nd + a], v = nw[k * nd + a];
      if (check && (u < 0 || v < 0 || static_cast<uint32_t>(u) >= ext[a] ||
                    static_cast<uint32_t>(v) >= ext[a]))
        return k;
      o[a] = u;
      dv[a] = std::clamp(v - u, -lim, lim);
    }
    if (!check && (o[0] < 0 || o[1] < 0 || o[2] < 0 || static_cast<uint32_t>(o[0]) >= ext[0] ||
                   static_cast<uint32_t>(o[1]) >= ext[1] || static_cast<uint32_t>(o[2]) >= ext[2]))
      continue;  // never a store outside the grid
    mapput(o[0], o[1], o[2], dv[0], dv[1], dv[2], m);
  }
  return n;
}

int mapfill(WarpMap* m, int d, int copy) {
  if (!m->data) return 0;
  uint32_t cells = m->cells;
  int nc = m->ndims;
  std::vector<uint8_t> full(cells);
  for (uint32_t i = 0; i < cells; i++) full[i] = !isempty(m, i);
  int written = 0;
  if (copy) {
    // Each non-empty cell of the pass start fills its empty neighbours.
    for (uint32_t i = 0; i < cells; i++) {
      if (!full[i]) continue;
      uint32_t bits = dirbits(m, i, d);
      for (uint32_t k = 0; k < m->nbrs; k++) {
        if ((m->masks[k] & bits) != m->masks[k]) continue;
        auto j = static_cast<uint32_t>(static_cast<int64_t>(i) + m->offs[k]);
        if (j >= cells || full[j] || !isempty(m, j)) continue;
        for (int c = 0; c < nc; c++) stit(m, j + c * cells, ldit(m, i + c * cells));
        written++;
      }
    }
    return written;
  }
  // Averaging: every component of each non-empty cell becomes the mean of
  // its own value and its non-empty neighbours', rounded half up.
  std::vector<int32_t> out(static_cast<size_t>(cells) * nc);
  for (uint32_t i = 0; i < cells; i++) {
    if (!full[i]) continue;
    uint32_t bits = dirbits(m, i, d);
    int64_t sum[3] = {0, 0, 0};
    int cnt = 1;
    for (int c = 0; c < nc; c++) sum[c] = ldit(m, i + c * cells);
    for (uint32_t k = 0; k < m->nbrs; k++) {
      if ((m->masks[k] & bits) != m->masks[k]) continue;
      auto j = static_cast<uint32_t>(static_cast<int64_t>(i) + m->offs[k]);
      if (j >= cells || !full[j]) continue;
      for (int c = 0; c < nc; c++) sum[c] += ldit(m, j + c * cells);
      cnt++;
    }
    for (int c = 0; c < nc; c++)
      out[static_cast<size_t>(c) * cells + i] =
          static_cast<int32_t>(std::floor(static_cast<double>(sum[c]) / cnt + 0.5));
  }
  for (uint32_t i = 0; i < cells; i++) {
    if (!full[i]) continue;
    for (int c = 0; c < nc; c++) stit(m, i + c * cells, out[static_cast<size_t>(c) * cells + i]);
    written++;
  }
  return written;
}

int warpmap(const int16_t* old, const int16_t* nw, int n, int nx, int ny, int nz, int nd,
            int flags, WarpMap* m, int wsize) {
  if (nd < 1 || nd > 3 || nx < 1) return 0;
  if (nd < 2) ny = 1;
  if (nd < 3) nz = 1;
  if (ny < 1 || nz < 1) return 0;
  int b = bytesz(wsize);
  uint64_t cells = static_cast<uint64_t>(nx) * ny * nz;
  uint64_t need = cells * b * nd;
  if (need > 0x7FFFFFFF) return 0;
  if (m->dbytes < need || !m->data) {
    xfree(m->data);
    m->data = static_cast<uint8_t*>(xalloc(need));
    m->dbytes = m->data ? static_cast<uint32_t>(need) : 0;
    if (!m->data) return 0;
  }
  m->nx = static_cast<uint32_t>(nx);
  m->ny = static_cast<uint32_t>(ny);
  m->nz = static_cast<uint32_t>(nz);
  m->layer = m->nx * m->ny;
  m->cells = static_cast<uint32_t>(cells);
  m->ndims = static_cast<uint16_t>(nd);
  m->wsize = static_cast<uint32_t>(wsize);
  m->flags = static_cast<uint16_t>(flags);
  m->empty = 1u << (8 * b - 1);
  for (uint32_t i = 0; i < m->cells; i++) {
    stit(m, i, static_cast<int32_t>(m->empty));
    for (int c = 1; c < nd; c++) stit(m, i + c * m->cells, 0);
  }
  // The corners hold no displacement; an extent of 1 has one corner.
  int zs = nd >= 3 && nz > 1 ? nz - 1 : 1, ys = ny > 1 ? ny - 1 : 1, xs = nx > 1 ? nx - 1 : 1;
  for (int z = 0; z < nz; z += zs)
    for (int y = 0; y < ny; y += ys)
      for (int x = 0; x < nx; x += xs) mapput(x, y, z, 0, 0, 0, m);
  warppts(m, old, nw, n, nd, 1);
  m->nbrs = nd == 1 ? 2 : nd == 2 ? 8 : 26;
  nbrtab(m->offs, static_cast<int>(m->nbrs), 1, static_cast<int32_t>(m->nx),
         static_cast<int32_t>(m->layer), m->masks);
  for (int k = 0; k < nx && !stopped(); k++)
    if (mapfill(m, 1, 1) == 0) break;
  for (int k = 0; k < nx && !stopped(); k++) {
    mapfill(m, 1, 0);
    warppts(m, old, nw, n, nd, 0);
  }
  return nd;
}

void mapfree(WarpMap* m) {
  xfree(m->data);
  m->data = nullptr;
  m->dbytes = 0;
}

// ---------------------------------------------------------------------------
// crossv

namespace {

struct Pt {
  int x, y;
};

Pt ldpt(const void* p) {
  int16_t v[2];
  std::memcpy(v, p, 4);
  return {v[0], v[1]};
}

int cross2(Pt a, Pt b, Pt c, Pt d, int16_t* out, bool give) {
  auto mask = [](int pa, int pb, int pc, int pd) {
    return (pc < pa ? 1 : 0) | (pd < pa ? 2 : 0) | (pc < pb ? 4 : 0) | (pd < pb ? 8 : 0);
  };
  int mx = mask(a.x, b.x, c.x, d.x), my = mask(a.y, b.y, c.y, d.y);
  bool overlap = !(mx == 0 || mx == 15 || my == 0 || my == 15);
  const float vert = 999999.9f;
  float m1 = a.x == b.x ? vert : static_cast<float>(b.y - a.y) / static_cast<float>(b.x - a.x);
  float m2 = c.x == d.x ? vert : static_cast<float>(d.y - c.y) / static_cast<float>(d.x - c.x);
  float c1 = a.x == b.x ? static_cast<float>(a.x) : static_cast<float>(a.y) - m1 * a.x;
  float c2 = c.x == d.x ? static_cast<float>(c.x) : static_cast<float>(c.y) - m2 * c.x;
  if (m1 == m2) {
    if (!overlap) return 0;
    return c1 == c2 ? 3 : 0;
  }
  float x, y;
  if (a.x == b.x) {
    x = static_cast<float>(a.x);
    y = m2 * x + c2;
  } else if (c.x == d.x) {
    x = static_cast<float>(c.x);
    y = m1 * x + c1;
  } else {
    x = (c2 - c1) / (m1 - m2);
    y = m1 * x + c1;
  }
  int ix = static_cast<int>(std::lround(x)), iy = static_cast<int>(std::lround(y));
  if (give && out) {
    out[0] = static_cast<int16_t>(ix);
    out[1] = static_cast<int16_t>(iy);
  }
  if (!overlap) return 0;
  auto within = [](int v, int p, int q) { return v >= std::min(p, q) && v <= std::max(p, q); };
  if (!(within(ix, a.x, b.x) && within(iy, a.y, b.y) && within(ix, c.x, d.x) &&
        within(iy, c.y, d.y)))
    return 0;
  bool endx = ix == a.x || ix == b.x || ix == c.x || ix == d.x;
  bool endy = iy == a.y || iy == b.y || iy == c.y || iy == d.y;
  return endx && endy ? 2 : 1;
}

}  // namespace

int crossv(const void* a, const void* b, const void* c, const void* d, int16_t* out, int n) {
  if (n <= 0) {
    Pt pa = ldpt(a), pb = ldpt(b), pc = ldpt(c), pd = ldpt(d);
    int r = cross2(pa, pb, pc, pd, out, true);
    if (trcmsk & 16) {
      jprintf(dbglun, "ICV: (%3d,%3d)-(%3d,%3d) X (%3d,%3d)-(%3d,%3d)  [%2d,%2d]", pa.x, pa.y,
              pb.x, pb.y, pc.x, pc.y, pd.x, pd.y, out ? out[0] : 0, out ? out[1] : 0);
      jprintf(dbglun, " ==> %d (%d)\n", r, 0);
    }
    return r;
  }
  // a: point records (8 bytes each) after a 4-byte header; b: n segments
  // of two i16 point indices; c, d: the test segment's end indices; out:
  // the x limit.
  const auto* recs = static_cast<const uint8_t*>(a) + 4;
  const auto* segs = static_cast<const int16_t*>(b);
  int16_t ic, id;
  std::memcpy(&ic, c, 2);
  std::memcpy(&id, d, 2);
  int limit = out ? out[0] : -32768;
  Pt tc = ldpt(recs + 8 * ic), td = ldpt(recs + 8 * id);
  int r = 0;
  for (int k = n - 1; k >= 0 && !stopped(); k--) {
    int s0 = segs[2 * k], s1 = segs[2 * k + 1];
    if (s0 == ic || s0 == id || s1 == ic || s1 == id) continue;
    Pt p0 = ldpt(recs + 8 * s0), p1 = ldpt(recs + 8 * s1);
    if (p0.x <= limit && p1.x <= limit) continue;
    r = cross2(tc, td, p0, p1, nullptr, false);
    if (r == 1) return 1;
  }
  return r;
}
