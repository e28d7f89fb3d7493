// Histograms, swap, flip and zoom (see analyze.h).
#include "compute/analyze.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "compute/arith.h"
#include "compute/expr.h"
#include "compute/func.h"
#include "compute/funcs.h"
#include "compute/opstream.h"
#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "ui/events.h"

int hist16(const uint16_t* values, uint32_t* hist, int32_t n, int code, int32_t nbins) {
  if (code != 16 || !values || !hist || nbins < 1) return 0;
  uint32_t top = static_cast<uint32_t>(nbins - 1);
  for (int32_t i = 0; i < n; i++) hist[std::min<uint32_t>(values[i], top)]++;
  return 0;
}

void revbyt(uint8_t* p, int32_t n) {
  if (p && n > 1) std::reverse(p, p + n);
}

// ---------------------------------------------------------------------------
// zoom

int su_zoom(FnCall& c) {
  int32_t* t = optab;
  PtrRec* r = oprec(0);
  int zx = intarg(3, 0), zy = intarg(4, zx);
  // Refused before the destination is made: it stays as it was.
  if ((zx < 0 && zy > 0) || (zx > 0 && zy < 0)) return fnrefus(c, 3, 120);
  // A text is one row of characters: enlarged, each is repeated (as
  // numpy's repeat does), and the result is the longer text (one item of
  // a string list).
  if (std::string txt; zx > 1 && optext(&txt)) {
    if (stopped()) return fnrefus(c, 0, 0);
    if (static_cast<int64_t>(txt.size()) * zx > INT32_MAX / 2) return fnrefus(c, 0, 42);
    std::string out;
    out.reserve(txt.size() * static_cast<size_t>(zx));
    for (char ch : txt) out.append(static_cast<size_t>(zx), ch);
    return settxt(c, out.data(), static_cast<int32_t>(out.size()));  // stored by the dispatcher
  }
  snapin(c.dest);
  c.gen[0] = zx;
  c.gen[1] = zy;
  c.keep[2] = 0;
  if (!r || !(t[OT_KIND] & 0x680)) return FS_GO;
  uint32_t e[2] = {std::max<uint32_t>(r->Offs[3], 1), std::max<uint32_t>(r->Offs[4], 1)};
  int f[2] = {zx, zy};
  for (int k = 0; k < 2; k++) {
    int64_t v = e[k];
    if (f[k] > 0) v *= f[k];
    if (f[k] < 0) v /= -static_cast<int64_t>(f[k]);
    e[k] = static_cast<uint32_t>(std::clamp<int64_t>(v, 0, INT32_MAX));
  }
  int bits = t[OT_WSIZ] & 63;
  if (bits > 0 && bits < 8) e[0] -= e[0] % static_cast<uint32_t>(8 / bits);
  c.keep[0] = static_cast<int32_t>(r->Offs[3]);
  c.keep[1] = static_cast<int32_t>(r->Offs[4]);
  c.keep[2] = t[OT_CNT];
  uint32_t nz = std::max<uint32_t>(r->Offs[5], 1);
  r->Offs[3] = e[0];
  r->Offs[4] = e[1];
  int64_t cnt = static_cast<int64_t>(e[0]) * e[1] * nz;
  t[OT_RCNT] = t[OT_CNT] = static_cast<int32_t>(std::min<int64_t>(cnt, INT32_MAX));
  c.aux = static_cast<int32_t>(e[0]);
  return FS_GO;
}

int run_zoom(FnCall& c) {
  int32_t* t = optab;
  if (c.text) return 0;  // the text su_zoom made
  PtrRec* r = oprec(0);
  if (r && c.keep[2]) {
    r->Offs[3] = static_cast<uint32_t>(c.keep[0]);
    r->Offs[4] = static_cast<uint32_t>(c.keep[1]);
    t[OT_CNT] = c.keep[2];
  }
  if (!oprec(2)) {
    error(2, 70);
    return -1;
  }
  int32_t w = r ? static_cast<int32_t>(r->Offs[3]) : 0;
  int32_t h = r ? static_cast<int32_t>(r->Offs[4]) : 0;
  if (!r || !(t[OT_KIND] & 0x680)) w = t[OT_CNT], h = 1;
  int cx = intarg(5, (w - 1) / 2), cy = intarg(6, (h - 1) / 2);
  // The source's elements per row.
  return zoomer(static_cast<int>(c.gen[0]), static_cast<int>(c.gen[1]), cx, cy, w);
}

int zoomer(int zx, int zy, int, int, int32_t n) {
  if ((zx < 0 && zy > 0) || (zx > 0 && zy < 0)) {
    error(3, 120);
    return -1;
  }
  int32_t* t = optab;
  PtrRec* src = oprec(0);
  OpWrite out;
  out.start();
  if (!src || !out.d || n < 1) return 0;
  int32_t rows = t[OT_CNT] / n;
  // The destination's row length: its x extent for an image, else all of it.
  int32_t dw = (t[OT_KIND + 2] & 0x680) ? static_cast<int32_t>(out.d->Offs[3]) : out.n;
  if (dw < 1) dw = out.n;
  OpRead in;
  if (!snapout(in)) {
    in.start(0);
    if (opalias()) in.detach();
  }
  std::vector<int32_t> row(static_cast<size_t>(n));
  prgidx = 0;
  prgtot = static_cast<uint32_t>(rows);
  if (zx >= 0 && zy >= 0) {
    // Enlarging: every source pixel repeated fx times across and fy down.
    // Real pixels into real ones are copied as they are.
    int fx = std::max(zx, 1), fy = std::max(zy, 1);
    const bool flt = t[OT_WSIZ] == W_FLOAT && t[OT_WSIZ + 2] == W_FLOAT;
    std::vector<double> frow(flt ? static_cast<size_t>(n) : 0);
    for (int32_t y = 0; y < rows && !out.full(); y++) {
      if (stopped()) break;
      for (int32_t x = 0; x < n; x++) {
        if (flt)
          frow[static_cast<size_t>(x)] = in.getf();
        else
          row[static_cast<size_t>(x)] = in.geti();
      }
      for (int k = 0; k < fy && !out.full(); k++)
        for (int32_t x = 0; x < dw; x++) {
          const size_t sx = static_cast<size_t>(std::min<int32_t>(x / fx, n - 1));
          if (flt)
            out.putf(frow[sx]);
          else
            out.puti(row[sx]);
        }
      prgidx = static_cast<uint32_t>(y + 1);
    }
  } else {
    int32_t step = zx < 0 ? -zx : 1;
    int32_t ystep = zy < 0 ? -zy : 1;
    // The result's extents: of an image, each row and each plane's rows
    // divided (rounded down, a row of part bytes to whole bytes); only those
    // elements are written, never more than the destination row holds.
    bool img = (t[OT_KIND] & 0x680) != 0;
    int32_t h = img ? std::max<int32_t>(static_cast<int32_t>(src->Offs[4]), 1) : 1;
    int32_t rw = img ? n / step : (n + step - 1) / step;
    int bits = t[OT_WSIZ] & 63;
    if (img && bits > 0 && bits < 8) rw -= rw % (8 / bits);
    int32_t rh = img ? h / ystep : 1;
    int32_t keep = std::min(rw, dw);
    for (int32_t y = 0; y < rows && !out.full(); y++) {
      if (stopped()) break;
      for (int32_t x = 0; x < n; x++) row[static_cast<size_t>(x)] = in.geti();
      int32_t yp = y % h;
      if (yp % ystep == 0 && yp / ystep < rh)
        for (int32_t k = 0; k < keep && !out.full(); k++)
          out.puti(row[static_cast<size_t>(k * step)]);
      prgidx = static_cast<uint32_t>(y + 1);
    }
  }
  out.end();
  prgtot = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// flip

// Refusals that write nothing are made before a destination is made: a
// destination of another word size (flip), a size other than 16 or 32 or
// data of part bytes (swap). The destination stays as it was and the
// expression has no value; a temporary result stays all zeros.
int su_flip(FnCall& c) {
  int32_t* t = optab;
  c.keep[2] = 0;
  PtrRec* r = oprec(0);
  c.aux = 0;
  if (!r) return FS_GO;
  // A string list is one row of whole items: mode 1 (or 3) reverses their
  // order, the others keep it.
  if ((t[OT_KIND] & (K_LIST | K_STRING | K_VECTOR)) == (K_LIST | K_STRING)) {
    std::vector<std::string> items = lstitems(r);
    if (stopped()) return fnrefus(c, 0, 0);
    const int mode = intarg(3, 0);
    if ((mode & 1) && !(mode & 4)) std::reverse(items.begin(), items.end());
    return lstres(c, items);  // a list assigned by run_flip
  }
  // A text is one row of characters: it comes back a text (one item of a
  // string list), reversed by mode 1 (or 3).
  if (std::string txt; optext(&txt)) {
    if (stopped()) return fnrefus(c, 0, 0);
    const int mode = intarg(3, 0);
    if ((mode & 1) && !(mode & 4)) std::reverse(txt.begin(), txt.end());
    c.aux = 0;
    return settxt(c, txt.data(), static_cast<int32_t>(txt.size()));  // stored by the dispatcher
  }
  // A number has no rows to flip.
  if (!(t[OT_KIND] & K_DATA)) return fnrefus(c, 2, 103);
  if (c.dest > 0 && getdst(c.dest) && oprec(2) && t[OT_WSIZ] != t[OT_WSIZ + 2]) return fnrefus(c, 0, 0);
  // The diagonal flip of a matrix, image or solid is its transpose: the
  // result is sized ny x nx (operand 1's extents swapped until it runs).
  if ((intarg(3, 0) & 4) && (t[OT_KIND] & K_HDR)) {
    c.keep[0] = static_cast<int32_t>(r->Offs[3]);
    c.keep[1] = static_cast<int32_t>(r->Offs[4]);
    c.keep[2] = 1;
    r->Offs[3] = std::max<uint32_t>(static_cast<uint32_t>(c.keep[1]), 1);
    r->Offs[4] = static_cast<uint32_t>(c.keep[0]);
  }
  return FS_GO;
}

int su_swap(FnCall& c) {
  int32_t* t = optab;
  if (!oprec(0) || c.dest <= 0) return FS_GO;
  int size = intarg(3, t[OT_WSIZ]);
  bool part = (t[OT_WSIZ] & 63) % 8 != 0;
  if (getdst(c.dest) && oprec(2)) part = part || (t[OT_WSIZ + 2] & 63) % 8 != 0;
  return (size != 16 && size != 32) || part ? fnrefus(c, 0, 0) : FS_GO;
}

namespace {

// Items kept as their value rather than their bytes: bit fields, crumbs,
// nibbles and the nibble halves of bytes.
bool partitem(int w) { return (w & 63) < 8 || w == W_LONIB || w == W_HINIB; }

// The items of row (y, z) of r addressable at once from x on (mode 1 to
// read, 2 to write): the first one's byte, or null; *run their count.
uint8_t* rowrun(PtrRec* r, int32_t x, int32_t y, int32_t z, int mode, int32_t* run) {
  r->XYZptr[2] = r->Offs[2] + static_cast<uint32_t>(z);
  uint8_t* p = setxy(r, x, y, mode);
  *run = p ? r->Bufsiz : 0;
  return *run > 0 ? p : nullptr;
}

// The item of r where rowrun found no run: in paged high memory an item
// may lie across two pages, and no run holds it. Its bytes are moved one by
// one (to buf, or from it with write); false for data elsewhere.
bool itembyt(PtrRec* r, uint8_t* buf, int64_t e, bool write) {
  if (bufrec(r) || (r->Flg & (K_FILE | K_NUMBER)) || r->Data0 <= 0) return false;
  for (int64_t j = 0; j < e; j++) {
    uint8_t* q = membyt(addref(r->Dptr, j));
    if (!q) return false;
    if (write)
      *q = buf[j];
    else
      buf[j] = *q;
  }
  return true;
}

}  // namespace

// The source is read whole first, row by row in the runs its storage gives
// (a row may cross a page of high memory or a block of a file), into a copy:
// whole-byte items as their bytes, smaller ones as their values. The
// flipped image is then written into the destination's rows the same way.
// So every element type, every storage and a destination that is the
// source's own data give the same result.
int run_flip(FnCall& c) {
  int32_t* t = optab;
  // The items of a string list, in their new order (su_flip); a text su_flip
  // made.
  if (int rc; lstrun(c, &rc)) return rc;
  if (c.text) return 0;
  PtrRec* s = oprec(0);
  PtrRec* d = oprec(2);
  int mode = intarg(3, 0);
  if (s && c.keep[2]) {
    s->Offs[3] = static_cast<uint32_t>(c.keep[0]);
    s->Offs[4] = static_cast<uint32_t>(c.keep[1]);
    c.keep[2] = 0;
  }
  if (!s || !d || t[OT_WSIZ] != t[OT_WSIZ + 2]) return 0;
  // A plain array is one row: its transpose holds the same values in the
  // same order.
  if ((mode & 4) && !(t[OT_KIND] & K_HDR)) mode = 0;
  const bool diag = (mode & 4) != 0;
  const int w = t[OT_WSIZ];
  const bool part = partitem(w);
  const int64_t e = part ? 1 : std::max(1, (w & 63) / 8);
  const bool shaped = (t[OT_KIND] & K_DIMS) != 0;
  const int32_t nx = shaped ? static_cast<int32_t>(s->Offs[3]) : t[OT_CNT];
  const int32_t ny = shaped ? std::max<int32_t>(1, static_cast<int32_t>(s->Offs[4])) : 1;
  // Each plane of a solid is flipped in its own plane of the destination.
  const int32_t nz = (t[OT_KIND] & K_SOLID) ? std::max<int32_t>(1, static_cast<int32_t>(s->Offs[5])) : 1;
  if (nx < 1) return 0;
  const int64_t n = static_cast<int64_t>(nx) * ny * nz;
  if (n > t[OT_CNT]) return 0;
  prgidx = 0;
  prgtot = static_cast<uint32_t>(t[OT_RCNT]);

  // The source, in storage order. Data in one piece is read where it lies,
  // unless the destination is that data.
  std::vector<uint8_t> copy;
  const uint8_t* img = part ? nullptr : contig(s, n);
  if (img && opalias()) {
    copy.assign(img, img + n * e);
    img = copy.data();
  }
  if (!img) {
    copy.resize(static_cast<size_t>(n * e));
    int64_t k = 0;
    for (int32_t z = 0; z < nz; z++)
      for (int32_t y = 0; y < ny; y++)
        for (int32_t x = 0; x < nx;) {
          int32_t run = 0;
          const uint8_t* p = rowrun(s, x, y, z, 1, &run);
          if (!p && !part && itembyt(s, copy.data() + k * e, e, false)) {
            k++;
            x++;
            continue;
          }
          if (!p) {
            prgtot = 0;
            return 0;
          }
          const int32_t m = std::min(run, nx - x);
          if (part) {
            uint8_t bitp = s->Bitp;
            int step = 0;
            for (int32_t i = 0; i < m; i++, p += step)
              copy[static_cast<size_t>(k + i)] = static_cast<uint8_t>(ilditm(p, w, &bitp, &step));
          } else {
            std::memcpy(copy.data() + k * e, p, static_cast<size_t>(m * e));
          }
          k += m;
          x += m;
        }
    img = copy.data();
  }

  // The flipped image: fx x fy x fz items, item (x, y, z) taken from the
  // source's item at src(x, y, z).
  const int32_t fx = diag ? ny : nx, fy = diag ? nx : ny, fz = nz;
  auto src = [&](int32_t x, int32_t y, int32_t z) -> int64_t {
    if (diag) return (static_cast<int64_t>(z) * ny + x) * nx + y;
    const int32_t xs = (mode & 1) ? nx - 1 - x : x, ys = (mode & 2) ? ny - 1 - y : y;
    return (static_cast<int64_t>(z) * ny + ys) * nx + xs;
  };
  // The same for item g of the flipped image in storage order.
  auto srcat = [&](int64_t g) {
    const int64_t gr = g / fx;
    return src(static_cast<int32_t>(g % fx), static_cast<int32_t>(gr % fy), static_cast<int32_t>(gr / fy));
  };
  // A matrix, image or solid destination takes each item at its place
  // (places outside it are not written); any other takes them in storage
  // order, as one row.
  const bool dshaped = (t[OT_KIND + 2] & K_HDR) != 0;
  const int32_t dnx = dshaped ? static_cast<int32_t>(d->Offs[3]) : t[OT_CNT + 2];
  const int32_t dny = dshaped ? std::max<int32_t>(1, static_cast<int32_t>(d->Offs[4])) : 1;
  const int32_t dnz = (t[OT_KIND + 2] & K_SOLID) ? std::max<int32_t>(1, static_cast<int32_t>(d->Offs[5])) : 1;
  // Writes the items of the flipped image from linear place f on (m of
  // them, along one row of the flipped image unless the destination is one
  // row) at destination row (y, z) from x on.
  auto put = [&](int64_t f, int32_t m, int32_t x, int32_t y, int32_t z) -> bool {
    while (m > 0) {
      int32_t run = 0;
      uint8_t* p = rowrun(d, x, y, z, 2, &run);
      if (!p) {
        uint8_t item[8] = {};
        if (part || e > 8) return false;
        std::memcpy(item, img + srcat(f) * e, static_cast<size_t>(e));
        if (!itembyt(d, item, e, true)) return false;
        f++;
        m--;
        x++;
        continue;
      }
      int32_t k = std::min(run, m);
      uint8_t bitp = d->Bitp;
      // Along one row of the flipped image the source's places step evenly.
      for (int32_t i = 0; i < k;) {
        const int64_t g = f + i;
        const int32_t seg = static_cast<int32_t>(std::min<int64_t>(k - i, fx - g % fx));
        const int64_t at = srcat(g);
        const int64_t step = diag ? nx : (mode & 1) ? -1 : 1;
        if (part) {
          for (int32_t j = 0; j < seg; j++) p += istitm(img[static_cast<size_t>(at + j * step)], p, w, &bitp, true);
        } else if (step == 1) {
          std::memcpy(p, img + at * e, static_cast<size_t>(seg * e));
          p += seg * e;
        } else {
          for (int32_t j = 0; j < seg; j++, p += e) std::memcpy(p, img + (at + j * step) * e, static_cast<size_t>(e));
        }
        i += seg;
      }
      f += k;
      m -= k;
      x += k;
    }
    return true;
  };
  if (dshaped) {
    const int32_t wx = std::min(fx, dnx);
    for (int32_t z = 0; z < std::min(fz, dnz); z++)
      for (int32_t y = 0; y < std::min(fy, dny); y++) {
        if (!put((static_cast<int64_t>(z) * fy + y) * fx, wx, 0, y, z)) break;
        chkio(0);
        prgidx += static_cast<uint32_t>(wx);
      }
  } else {
    const int64_t m = std::min<int64_t>(static_cast<int64_t>(fx) * fy * fz, dnx);
    put(0, static_cast<int32_t>(m), 0, 0, 0);
  }
  flshio(d);
  prgtot = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// swap

int run_swap(FnCall&) {
  int32_t* t = optab;
  PtrRec* s = oprec(0);
  PtrRec* d = oprec(2);
  if (!s || !d) return 0;
  int size = intarg(3, t[OT_WSIZ]);
  if (size != 16 && size != 32) return 0;
  int ub = size / 8;
  int sb = std::max(1, (t[OT_WSIZ] & 63) / 8), db = std::max(1, (t[OT_WSIZ + 2] & 63) / 8);
  if ((t[OT_WSIZ] & 63) % 8 || (t[OT_WSIZ + 2] & 63) % 8) return 0;
  int unit = std::max({ub, sb, db});
  // The bytes swapped follow the requested size (never past the data of
  // the source or the destination); the data are copied whole.
  int64_t copy = std::min<int64_t>(static_cast<int64_t>(t[OT_CNT]) * sb,
                                   static_cast<int64_t>(t[OT_CNT + 2]) * db);
  int64_t want = std::min<int64_t>(static_cast<int64_t>(t[OT_CNT]) * ub, copy);
  want -= want % ub;
  int32_t sp = t[OT_BUF], dp = t[OT_BUF + 2];
  if (bufrec(s) || bufrec(d)) {
    // Data in blocks (a file's, a device's): a unit may lie across two
    // blocks, so the bytes are gathered, swapped and put back.
    std::vector<uint8_t> buf(static_cast<size_t>(std::max<int64_t>(copy, 0)));
    int64_t got = 0, put = 0;
    while (got < copy) {
      int32_t si = static_cast<int32_t>(got / sb);
      if (si >= sp) {
        LDVARB(s, &sp, si);
        if (sp <= si) break;
      }
      int64_t run = std::min<int64_t>(copy - got, static_cast<int64_t>(sp - si) * sb - got % sb);
      std::memcpy(buf.data() + got, dptr(s), static_cast<size_t>(run));
      s->Dptr = addref(s->Dptr, run);
      got += run;
    }
    for (int64_t k = 0; k + ub <= std::min(want, got); k += ub) std::reverse(buf.data() + k, buf.data() + k + ub);
    if (d == s) {
      // One record read and written: it starts again at its first item.
      int32_t c2, t2, w2;
      d->Bufsiz = -1;
      gtvarb(d, &c2, &dp, &t2, &w2, 1);
    }
    while (put < got) {
      int32_t di = static_cast<int32_t>(put / db);
      if (di >= dp) {
        DMPVRB(d, &dp, 1, di);
        if (dp <= di) break;
      }
      int64_t run = std::min<int64_t>(got - put, static_cast<int64_t>(dp - di) * db - put % db);
      std::memcpy(dptr(d), buf.data() + put, static_cast<size_t>(run));
      d->Dptr = addref(d->Dptr, run);
      put += run;
    }
    DMPVRB(d, &dp, 0, 0);
    return 0;
  }
  int64_t done = 0;
  while (done < copy) {
    int32_t si = static_cast<int32_t>(done / sb), di = static_cast<int32_t>(done / db);
    if (si >= sp) {
      LDVARB(s, &sp, si);
      if (sp <= si) break;
    }
    if (di >= dp) {
      DMPVRB(d, &dp, 1, di);
      if (dp <= di) break;
    }
    int64_t run = std::min<int64_t>({copy - done, static_cast<int64_t>(sp - si) * sb,
                                     static_cast<int64_t>(dp - di) * db, int64_t(8192) * unit});
    if (run >= unit) run -= run % unit;
    if (run < 1) break;
    uint8_t* from = dptr(s);
    uint8_t* to = dptr(d);
    if (from != to) std::memmove(to, from, static_cast<size_t>(run));
    int64_t sw = std::min<int64_t>(run, want - done);
    for (int64_t k = 0; k + ub <= sw; k += ub) {
      std::swap(to[k], to[k + 1]);
      if (ub == 4) {
        std::swap(to[k + 2], to[k + 3]);
        uint8_t h[2] = {to[k], to[k + 1]};
        to[k] = to[k + 2];
        to[k + 1] = to[k + 3];
        to[k + 2] = h[0];
        to[k + 3] = h[1];
      }
    }
    s->Dptr = addref(s->Dptr, run);
    if (d != s) d->Dptr = addref(d->Dptr, run);
    done += run;
  }
  DMPVRB(d, &dp, 0, 0);
  return 0;
}
