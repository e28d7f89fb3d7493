// Colour tables and value mapping: rgb, color, maklut, map, index and the
// stretch command.
#include "compute/colour.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "compute/arith.h"
#include "compute/cores.h"
#include "compute/expr.h"
#include "compute/funcs.h"
#include "core/args.h"
#include "core/blkbuf.h"
#include "lang/cmdcodes.h"
#include "lang/parse.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/pixels.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/palette.h"
#include "ui/screen.h"
#include "ui/window.h"

namespace {

// Sequential reading of a prepared operand, part by part.
struct In {
  PtrRec* r;
  int32_t* part;
  int32_t n;
  int32_t i = 0;
  // Makes element i addressable; false at the end.
  bool load() {
    if (!r || i >= n) return false;
    if (i >= *part) {
      LDVARB(r, part, i);
      if (*part <= i) return false;
    }
    return true;
  }
  // Elements addressable from i on.
  int32_t avail() { return load() ? std::min(*part, n) - i : 0; }
  int32_t geti() {
    i++;
    return igstak(r);
  }
  double getf() {
    i++;
    return GSTACK(r);
  }
  void skip(int32_t m, int bytes) {
    r->Dptr = addref(r->Dptr, static_cast<int64_t>(m) * bytes);
    i += m;
  }
};

// Sequential writing of the destination.
struct Out {
  PtrRec* d;
  int32_t* part;
  int32_t n;
  int32_t i = 0;
  bool ok() const { return d && i < n && i < *part; }
  int32_t avail() const { return ok() ? std::min(*part, n) - i : 0; }
  void next(int32_t m) {
    i += m;
    if (i < n && i >= *part) DMPVRB(d, part, 1, i);
  }
  void puti(int32_t v) {
    IPSTAK(v, d);
    next(1);
  }
  void putf(double v) {
    PSTACK(v, d);
    next(1);
  }
  void raw(const uint8_t* b, int bytes) {
    if (uint8_t* p = dptr(d)) std::memcpy(p, b, static_cast<size_t>(bytes));
    d->Dptr = addref(d->Dptr, bytes);
    next(1);
  }
  void end() {
    if (d) DMPVRB(d, part, 0, 0);
  }
};

int bytesof(int wsiz) { return (wsiz & 63) / 8; }

// A plain number argument (no array kind).
bool plainnum(int n) {
  int32_t h = 0;
  int t = argtyp(n, &h);
  return (t & K_NUMBER) && !(t & (K_DIMS | K_STRING));
}

// x extent of a record's window (a window over the whole data may be kept
// as one run of items: then the data's own x extent).
uint32_t xext(const PtrRec* r) {
  // A number has no extents (its record's words hold its value).
  if (!r || !(r->Flg & K_DIMS) || (r->Flg & K_NUMBER)) return 0;
  __int128 prod = 1, whole = 1;
  for (int k = 0; k < 3; k++) {
    prod *= std::max<uint32_t>(r->Offs[3 + k], 1);
    whole *= std::max<uint32_t>(r->Datdims[k], 1);
  }
  bool all = r->Offs[0] == 0 && r->Offs[1] == 0 && r->Offs[2] == 0 && prod == whole;
  return all ? r->Datdims[0] : r->Offs[3];
}

void progress(int32_t i, int32_t n) {
  prgidx = static_cast<uint32_t>(std::max(i, 0));
  prgtot = static_cast<uint32_t>(std::max(n, 0));
}

}  // namespace

// ---------------------------------------------------------------------------
// maklut

int maklut(int16_t* table, int32_t n, int32_t i0, int32_t i1, int32_t o0, int32_t o1, int s,
           int32_t mask) {
  if (!table || n < 1) return 0;
  int64_t di = static_cast<int64_t>(i1) - i0 + 1;
  if (di < 1) di = static_cast<int64_t>(i1) - i0 - 1;
  int64_t dout = static_cast<int64_t>(o1) - o0 + 1;
  if (dout < 1) dout = static_cast<int64_t>(o1) - o0 - 1;
  float g = static_cast<float>(dout) / static_cast<float>(di);
  if (g < 0 && dout > 0) std::swap(o0, o1);
  if (di < 0) std::swap(i0, i1);
  if (s < 1) s = 1;
  if (mask == 0) mask = -1;
  auto put = [&](int64_t k, int c, int32_t v) {
    int64_t p = k * s + c;
    if (p >= 0 && p < n) table[p] = static_cast<int16_t>(static_cast<uint32_t>(v) & 0xFFFF);
  };
  const int64_t last = static_cast<int64_t>(n) - 1;
  for (int c = 0; c < s; c++) {
    if (c < 32 && !(static_cast<uint32_t>(mask) & (1u << c))) {
      if (trcmsk) jprintf(dbglun, "skipping %d\n", c);
      continue;
    }
    // Each range is clipped to the table.
    int64_t lo = std::clamp<int64_t>(i0, 0, n);
    int64_t hi = std::clamp<int64_t>(static_cast<int64_t>(i1) + 1, 0, n);
    for (int64_t k = 0; k < lo; k++) put(k, c, o0);
    for (int64_t k = lo; k < hi; k++)
      put(k, c, ftrunc(static_cast<float>(o0) + static_cast<float>(k - i0) * g));
    for (int64_t k = std::max(hi, lo); k <= last; k++) put(k, c, o1);
  }
  if ((trcmsk & 16) == 16) {
    for (int32_t k = 0; k < n; k++) {
      if (k >= 48 && k < n - 48) continue;
      jprintf(dbglun, " %3d", table[k]);
      if (k % 16 == 15 || k == n - 1) jprintf(dbglun, "\n");
    }
  }
  return 0;
}

int su_maklut(FnCall& c) {
  int32_t* t = optab;
  getdst(c.dest);
  int32_t h = 0;
  int ty = argtyp(2, &h);
  int32_t n = 0;
  const void* given = nullptr;
  if (ty & K_DIMS) {
    int32_t cnt = 0;
    if (PtrRec* r = argary(2, &cnt)) {
      (void)r;
      n = cnt;
      if (cnt >= 2) given = aryarg(2, 0, 0, W_SHORT, &n, nullptr);
    }
    if (state & ST_ERROR) {
      c.ret = 0;
      return FS_RET;
    }
  } else {
    n = lngarg(2, -1);
  }
  if (n < 1 && t[OT_REC + 2]) n = t[OT_CNT + 2];
  if (n < 1) {
    error(0, 77);
    c.ret = 0;
    return FS_RET;
  }
  auto* b = static_cast<int16_t*>(fnbuf(c, n, W_SHORT));
  if (!b) {
    c.ret = 0;
    return FS_RET;
  }
  if (given)
    std::memcpy(b, given, static_cast<size_t>(n) * 2);
  else
    std::memset(b, 0, static_cast<size_t>(n) * 2);
  c.buf = b;
  c.store = n;
  t[OT_RCNT] = n;
  t[OT_RWSZ] = W_SHORT;
  return FS_GO;
}

int run_maklut(FnCall& c) {
  int32_t n = c.store;
  int32_t a = intarg(3, 0);
  int32_t b = nargs() >= 4 ? lngarg(4, 0) + 1 : n;
  int32_t s = std::max(lngarg(5, 0), 0);
  if (s == 0 && b < n) s = 1;
  int32_t mask = lngarg(6, -1);
  if (trcmsk != 8) maklut(static_cast<int16_t*>(c.buf), n, 0, n - 1, a, b, s, mask);
  return 0;
}

// ---------------------------------------------------------------------------
// rgb

namespace {

// The destination was seen as three bytes a pixel before it was sized.
bool rgbtrip = false;

// The channel order of a 3-digit code: out[j] takes source byte ord[j].
bool chorder(int32_t code, int ord[3]) {
  int h = code / 100, t = (code / 10) % 10, u = code % 10;
  if (code < 100 || code > 999 || h < 1 || h > 3 || t < 1 || t > 3 || u < 1 || u > 3) return false;
  ord[0] = u - 1;
  ord[1] = t - 1;
  ord[2] = h - 1;
  return true;
}

}  // namespace

int rgbcnv(int n) {
  int32_t* t = optab;
  PtrRec* s = oprec(0);
  PtrRec* d = oprec(2);
  if (!s || !d) return 0;
  int sb = bytesof(t[OT_WSIZ]), db = bytesof(t[OT_WSIZ + 2]);
  if (sb < 1 || db < 1 || sb > 4 || db > 4) return 0;
  // A 16-bit pixel is 5-6-5 colour (blue in the low 5 bits, red in the
  // top 5), as the screen, the views and the depth conversion take it; a
  // bits-per-channel number asks for three fields of k bits instead.
  int k = 5;
  bool fields = false;
  if (n >= 2 && (sb == 2 || db == 2) && plainnum(n + 1)) {
    k = std::clamp(intarg(n + 1, 5), 1, 8);
    fields = true;
    n--;
  }
  uint32_t m = (1u << k) - 1;
  // Three channel operands are three planes, whatever their width.
  bool strip = sb == 1 && xext(s) == 3 && n < 3;
  bool dtrip = db == 1 && (xext(d) == 3 || rgbtrip);
  int32_t spix = strip ? t[OT_CNT] / 3 : t[OT_CNT];
  int32_t dpix = dtrip ? t[OT_CNT + 2] / 3 : t[OT_CNT + 2];
  int32_t np = std::min(spix, dpix);

  In in{s, &t[OT_BUF], t[OT_CNT]};
  Out out{d, &t[OT_BUF + 2], t[OT_CNT + 2]};

  // One operand: whole runs through the depth conversion, except for an
  // 8-bit source into 2 bytes or more (grey), the pairs that conversion
  // does not know (24-bit on either side, equal depths), and 16-bit pixels
  // of k-bit fields (its 5-6-5 is not theirs), which copy their colour
  // bytes pixel by pixel.
  bool known = (sb == 2 && db == 4) || (sb == 4 && (db == 1 || db == 2));
  if (n <= 1 && known && !fields && !strip && !dtrip) {
    progress(0, np);
    while (out.i < np && !stopped()) {
      int32_t m1 = std::min({in.avail(), out.avail(), np - out.i});
      if (m1 < 1) break;
      wdcnvrt(dptr(s), dptr(d), sb * 8, db * 8, m1, nullptr, 0);
      in.skip(m1, sb);
      d->Dptr = addref(d->Dptr, static_cast<int64_t>(m1) * db);
      out.next(m1);
      progress(out.i, np);
    }
    out.end();
    prgtot = 0;
    return 0;
  }

  // The per-pixel path.
  const uint8_t* pal = nullptr;
  In ch2{nullptr, nullptr, 0}, ch3{nullptr, nullptr, 0};
  int32_t p2 = 0, p3 = 0;
  int ord[3] = {0, 1, 2};
  if (n >= 3) {
    PtrRec* r2 = oprec(1);
    if (!r2 || t[OT_CNT + 1] != np) {
      error(3, 70);
      return 0;
    }
    int32_t c4 = 0;
    PtrRec* r4 = argary(4, &c4);
    int32_t h4 = 0;
    if (!r4 || !(argtyp(4, &h4) & K_DIMS) || c4 != np) {
      error(4, 70);
      return 0;
    }
    int32_t cnt, tot, ws;
    gtvarb(r2, &cnt, &p2, &tot, &ws, 0);
    gtvarb(r4, &cnt, &p3, &tot, &ws, 0);
    ch2 = In{r2, &p2, np};
    ch3 = In{r4, &p3, np};
  } else if (sb == 1 && !strip) {
    static uint8_t grey[768];
    if (n == 2 && oprec(1)) {
      // The palette: 768 bytes, never fewer.
      int32_t cnt = 0;
      pal = static_cast<const uint8_t*>(aryarg(3, 768, 768, W_BYTE, &cnt, nullptr));
      if (!pal) return 0;
    } else {
      for (int i = 0; i < 256; i++) grey[3 * i] = grey[3 * i + 1] = grey[3 * i + 2] = static_cast<uint8_t>(i);
      pal = grey;
    }
  } else if (n >= 2 && sb >= 3 && db >= 3 && nargs() >= 3) {
    if (!chorder(lngarg(3, 321), ord)) {
      error(3, 109);
      return 0;
    }
  }

  progress(0, np);
  for (int32_t px = 0; px < np; px++) {
    if ((px & 0xFFF) == 0) {
      if (stopped()) break;
      progress(px, np);
    }
    uint8_t b[3] = {0, 0, 0};
    if (n >= 3) {
      if (!in.load() || !ch2.load() || !ch3.load()) break;
      b[0] = static_cast<uint8_t>(in.geti());
      b[1] = static_cast<uint8_t>(ch2.geti());
      b[2] = static_cast<uint8_t>(ch3.geti());
    } else if (strip) {
      for (int j = 0; j < 3; j++) {
        if (!in.load()) break;
        b[j] = static_cast<uint8_t>(in.geti());
      }
    } else if (sb == 1) {
      if (!in.load()) break;
      const uint8_t* e = pal + 3 * (in.geti() & 0xFF);
      std::memcpy(b, e, 3);
    } else if (sb == 2) {
      if (!in.load()) break;
      uint32_t v = static_cast<uint32_t>(static_cast<int16_t>(in.geti()));
      if (!fields) v = rgb565(v & 0xFFFF);
      b[0] = static_cast<uint8_t>(fields ? (v & m) << (8 - k) : v);
      b[1] = static_cast<uint8_t>(fields ? ((v >> k) & m) << (8 - k) : v >> 8);
      b[2] = static_cast<uint8_t>(fields ? ((v >> (2 * k)) & m) << (8 - k) : v >> 16);
    } else {
      if (!in.load()) break;
      uint8_t raw[4] = {0, 0, 0, 0};
      if (const uint8_t* p = dptr(s)) std::memcpy(raw, p, static_cast<size_t>(sb));
      in.skip(1, sb);
      for (int j = 0; j < 3; j++) b[j] = raw[ord[j]];
    }
    if (dtrip) {
      for (int j = 0; j < 3 && out.ok(); j++) out.raw(&b[j], 1);
    } else if (!out.ok()) {
      break;
    } else if (db == 2) {
      uint32_t v = fields ? (static_cast<uint32_t>(b[0]) >> (8 - k)) | ((static_cast<uint32_t>(b[1]) >> (8 - k)) << k) |
                                ((static_cast<uint32_t>(b[2]) >> (8 - k)) << (2 * k))
                          : to565(b[0] | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16));
      uint8_t w[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
      out.raw(w, 2);
    } else if (db == 1) {
      out.raw(b, 1);
    } else {
      uint8_t w[4] = {b[0], b[1], b[2], 0};
      out.raw(w, db);
    }
  }
  out.end();
  prgtot = 0;
  return 0;
}

namespace {

// The operands of rgb and color checked before the destination is made, so
// that a refused call leaves it as it was.
bool rgbchk(FnCall& c) {
  int32_t* t = optab;
  PtrRec* s = oprec(0);
  if (!s) return true;
  int32_t h = 0;
  if (c.code == FN_COLOR) {
    if (!oprec(1)) return true;
    int32_t c4 = 0;
    PtrRec* r4 = (argtyp(4, &h) & K_DIMS) ? argary(4, &c4) : nullptr;
    if (!r4 || c4 < t[OT_CNT]) return error(4, 82), false;
    if (t[OT_CNT + 1] < t[OT_CNT]) return error(3, 82), false;
    return true;
  }
  int n = c.n;
  int sb = bytesof(t[OT_WSIZ]);
  int db = bytesof(t[OT_REC + 2] ? t[OT_WSIZ + 2] : W_RGB);
  if (n >= 2 && (sb == 2 || db == 2) && plainnum(n + 1)) n--;
  bool strip = sb == 1 && xext(s) == 3 && n < 3;
  if (n >= 3) {
    int32_t np = t[OT_RCNT];
    if (t[OT_REC + 2] && t[OT_WSIZ + 2] == W_BYTE && xext(oprec(2)) == 3) np /= 3;
    int32_t c4 = 0;
    if (!oprec(1) || t[OT_CNT + 1] != np) return error(3, 70), false;
    PtrRec* r4 = (argtyp(4, &h) & K_DIMS) ? argary(4, &c4) : nullptr;
    if (!r4 || c4 != np) return error(4, 70), false;
  } else if (sb == 1 && !strip && n == 2 && oprec(1)) {
    int32_t cnt = 0;
    if (!aryarg(3, 768, 768, W_BYTE, &cnt, nullptr)) return false;
  } else if (n >= 2 && sb >= 3 && db >= 3 && nargs() >= 3) {
    int ord[3];
    if (!chorder(lngarg(3, 321), ord)) return error(3, 109), false;
  }
  return true;
}

}  // namespace

int su_rgb(FnCall& c) {
  int32_t* t = optab;
  getdst(c.dest);
  PtrRec* s = oprec(0);
  c.aux = 0;
  // Three channel operands are three planes, whatever their width: only a
  // source alone (or with a palette) holds three bytes a pixel.
  const bool color = c.code == FN_COLOR;
  int n = c.n;
  if (!color && n >= 2 && (bytesof(t[OT_WSIZ]) == 2 || bytesof(t[OT_REC + 2] ? t[OT_WSIZ + 2] : W_RGB) == 2) &&
      plainnum(n + 1))
    n--;
  const bool planes = color ? oprec(1) != nullptr : n >= 3;
  if ((t[OT_WSIZ] == W_BYTE || color) && xext(s) == 3 && !planes) {
    t[OT_RCNT] /= 3;
    c.aux = 2;  // the source holds three bytes a pixel: its shape is no image's
  }
  // A byte destination of three bytes a pixel takes rgb's colours; color
  // gives one index a pixel, and its destination takes their count.
  if (PtrRec* d = oprec(2))
    if (!color && t[OT_WSIZ + 2] == W_BYTE && xext(d) == 3) {
      t[OT_RCNT] *= 3;
      c.aux |= 1;  // three bytes a pixel, whatever shape sizing leaves
    }
  t[OT_RWSZ] = c.code == FN_COLOR ? W_BYTE : W_RGB;
  if (!rgbchk(c)) {
    c.ret = 0;
    return FS_RET;
  }
  return FS_GO;
}

int run_rgb(FnCall& c) {
  rgbtrip = (c.aux & 1) != 0;
  int r = rgbcnv(c.n);
  rgbtrip = false;
  return r;
}

// ---------------------------------------------------------------------------
// color

int mapcolor() {
  int32_t* t = optab;
  PtrRec* s = oprec(0);
  PtrRec* d = oprec(2);
  if (!s || !d) return 0;
  In a{s, &t[OT_BUF], t[OT_CNT]};
  In b{nullptr, nullptr, 0}, e{nullptr, nullptr, 0};
  int32_t pb = 0, pe = 0;
  int32_t np;
  bool three = oprec(1) != nullptr;
  if (three) {
    int32_t c4 = 0, h4 = 0;
    PtrRec* r4 = (argtyp(4, &h4) & K_DIMS) ? argary(4, &c4) : nullptr;
    if (!r4 || c4 < t[OT_CNT]) {
      error(4, 82);
      return 0;
    }
    if (t[OT_CNT + 1] < t[OT_CNT]) {
      error(3, 82);
      return 0;
    }
    int32_t n2, n4, tot, ws;
    PtrRec* r2 = oprec(1);
    gtvarb(r2, &n2, &pb, &tot, &ws, 0);
    gtvarb(r4, &n4, &pe, &tot, &ws, 0);
    b = In{r2, &pb, n2};
    e = In{r4, &pe, n4};
    np = t[OT_CNT];
  } else {
    np = t[OT_CNT] / 3;
  }
  Out out{d, &t[OT_BUF + 2], t[OT_CNT + 2]};
  np = std::min(np, out.n);
  progress(0, np);
  for (int32_t px = 0; px < np && out.ok(); px++) {
    if ((px & 0xFFF) == 0 && stopped()) break;
    int16_t col[3];
    if (three) {
      if (!a.load() || !b.load() || !e.load()) break;
      col[0] = static_cast<int16_t>(a.geti());
      col[1] = static_cast<int16_t>(b.geti());
      col[2] = static_cast<int16_t>(e.geti());
    } else {
      bool ok = true;
      for (int j = 0; j < 3 && (ok = a.load()); j++) col[j] = static_cast<int16_t>(a.geti());
      if (!ok) break;
    }
    out.puti(nearpal(col));
    prgidx = static_cast<uint32_t>(px);
  }
  out.end();
  prgtot = 0;
  return 0;
}

int run_color(FnCall&) { return mapcolor(); }

// ---------------------------------------------------------------------------
// map

namespace {

// n items from the first item of the data, in one run of memory: a window
// over the whole data, no block buffers, not in paged high memory.
bool flatrun(const PtrRec* r, int32_t n) {
  if (!r || bufrec(r) || r->Page != 0 || (r->Flg & (K_LIST | K_FILE)) || !dat0(r)) return false;
  if ((r->Flg2 & F2_HIGH) && (himemflag & 2)) return false;
  int64_t prod = 1, whole = 1;
  for (int k = 0; k < 3; k++) {
    prod *= std::max<uint32_t>(r->Offs[3 + k], 1);
    whole *= std::max<uint32_t>(r->Datdims[k], 1);
  }
  return r->Offs[0] == 0 && r->Offs[1] == 0 && r->Offs[2] == 0 && prod == whole && whole >= n &&
         static_cast<int64_t>(r->Tot) >= n;
}

// Runs f over [0, m) in a few threads when m is large; every element is
// computed alone, so the split does not change the result. The threads take
// pieces in turn, so that one the system holds back delays only its own.
template <typename F>
void parfor(int32_t m, F f) {
  const int nthr = m >= (1 << 20) ? 4 : 1;
  if (nthr == 1) {
    f(0, m);
    return;
  }
  std::atomic<int64_t> next{0};
  auto work = [&f, &next, m] {
    const int64_t piece = 1 << 18;
    for (int64_t lo; (lo = next.fetch_add(piece)) < m;)
      f(static_cast<int32_t>(lo), static_cast<int32_t>(std::min<int64_t>(m, lo + piece)));
  };
  parts(nthr, [&](int) { work(); });
}

// d[j] = l8[s[j]] for j in [lo, hi).
void lut8base(const uint8_t* l8, const uint8_t* __restrict s, uint8_t* __restrict d, int32_t lo, int32_t hi) {
  for (int32_t j = lo; j < hi; j++) d[j] = l8[s[j]];
}

// The same 64 items at a time: two 128-entry lookups, the top bit of each
// item choosing between them. A large result is written past the caches
// (it would not stay there anyway), which spares reading it in first.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void lut8vbmi(const uint8_t* l8,
                                                                     const uint8_t* __restrict s,
                                                                     uint8_t* __restrict d, int32_t lo,
                                                                     int32_t hi) {
  const __m512i t0 = _mm512_loadu_si512(l8), t1 = _mm512_loadu_si512(l8 + 64);
  const __m512i t2 = _mm512_loadu_si512(l8 + 128), t3 = _mm512_loadu_si512(l8 + 192);
  int32_t j = lo;
  const bool big = hi - lo >= (1 << 20);
  if (big) {
    int32_t a = std::min(hi, lo + static_cast<int32_t>((64 - reinterpret_cast<uintptr_t>(d + lo) % 64) % 64));
    lut8base(l8, s, d, lo, a);
    j = a;
  }
  for (; j + 64 <= hi; j += 64) {
    __m512i v = _mm512_loadu_si512(s + j);
    __m512i a = _mm512_permutex2var_epi8(t0, v, t1);
    __m512i b = _mm512_permutex2var_epi8(t2, v, t3);
    __m512i r = _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), a, b);
    if (big)
      _mm512_stream_si512(reinterpret_cast<__m512i*>(d + j), r);
    else
      _mm512_storeu_si512(d + j, r);
  }
  if (big) _mm_sfence();
  lut8base(l8, s, d, j, hi);
}

// The fast table path; false when it declines.
bool mapfast(PtrRec* s, PtrRec* d, int shift, FnCall* call) {
  int32_t* t = optab;
  int ws = t[OT_WSIZ], wt = t[OT_WSIZ + 1], wd = t[OT_WSIZ + 2];
  auto whole = [](int w) { return w == W_BYTE || w == W_SHORT || w == W_RGB; };
  if ((ws & 32) || (wt & 32) || (wd & 32) || !whole(ws) || !whole(wt) || !whole(wd)) return false;
  bool wide16 = (ws & 16) && (wd & 16);
  int32_t nt = 0;
  const void* tab = aryarg(3, 0, 32767, wide16 ? W_SHORT : W_BYTE, &nt, nullptr);
  if (!tab || nt < 1) return !tab ? (state & ST_ERROR) != 0 : false;
  // The values the destination receives for each table entry.
  std::vector<int32_t> lut(static_cast<size_t>(nt));
  for (int32_t k = 0; k < nt; k++)
    lut[static_cast<size_t>(k)] = wide16 ? static_cast<const int16_t*>(tab)[k] : static_cast<const uint8_t*>(tab)[k];
  const bool nc = noclmp();
  int32_t n = std::min(t[OT_CNT], t[OT_CNT + 2]);
  In in{s, &t[OT_BUF], t[OT_CNT]};
  Out out{d, &t[OT_BUF + 2], t[OT_CNT + 2]};
  progress(0, n);
  const int32_t top = nt - 1;
  uint8_t l8[256];
  if (ws == W_BYTE && wd == W_BYTE)
    for (int v = 0; v < 256; v++) {
      int32_t x = shift > 0 ? (shift >= 31 ? 0 : v >> shift) : v;
      l8[v] = stin8(lut[static_cast<size_t>(std::min(x, top))], nc);
    }
  std::vector<uint16_t> l16;
  if (ws == W_SHORT && wd == W_SHORT) {
    l16.resize(static_cast<size_t>(nt));
    for (int32_t k = 0; k < nt; k++) l16[static_cast<size_t>(k)] = stin16(lut[static_cast<size_t>(k)], nc);
  }
  // Data in one run of memory is taken as one part.
  const bool one = flatrun(s, n) && flatrun(d, n);
  while (out.i < n && !stopped()) {
    int32_t m = one ? n : std::min({in.avail(), out.avail(), n - out.i});
    if (m < 1) break;
    // Data in one run is stored whole, item by item, without a stop.
    if (call) fnfresh(*call, one && n == t[OT_CNT + 2]);
    const uint8_t* sp = one ? dat0(s) : dptr(s);
    uint8_t* dp = one ? dat0(d) : dptr(d);
    if (ws == W_BYTE && wd == W_BYTE) {
      static const bool vbmi = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
      }();
      // 64 items at a time the lookup nearly keeps pace with the memory:
      // a second thread for a large run, and no more, since starting
      // threads on a busy machine costs more than they save.
      if (vbmi && m >= (1 << 22)) {
        int32_t h = (m / 2) & ~63;
        parts(2, [&](int k) { k ? lut8vbmi(l8, sp, dp, h, m) : lut8vbmi(l8, sp, dp, 0, h); });
      } else if (vbmi)
        lut8vbmi(l8, sp, dp, 0, m);
      else
        parfor(m, [&](int32_t lo, int32_t hi) { lut8base(l8, sp, dp, lo, hi); });
    } else if (ws == W_SHORT && wd == W_SHORT) {
      const uint16_t* L = l16.data();
      const int sh = std::min(shift, 31);
      parfor(m, [&](int32_t lo, int32_t hi) {
        for (int32_t j = lo; j < hi; j++) {
          int16_t v;
          std::memcpy(&v, sp + 2 * j, 2);
          int32_t x = sh > 0 ? (v >> sh) : v;
          x = x < 0 ? 0 : (x > top ? top : x);
          std::memcpy(dp + 2 * j, &L[x], 2);
        }
      });
    } else {
      // Other pairs item by item (a 24-bit value is its three bytes,
      // unsigned).
      for (int32_t j = 0; j < m; j++) {
        int32_t v = ws == W_BYTE ? sp[j] : ws == W_RGB ? sp[3 * j] | sp[3 * j + 1] << 8 | sp[3 * j + 2] << 16 : [&] {
          int16_t w;
          std::memcpy(&w, sp + 2 * j, 2);
          return static_cast<int32_t>(w);
        }();
        if (shift > 0) v = shift >= 31 ? (v < 0 ? -1 : 0) : v >> shift;
        v = std::clamp(v, 0, top);
        int32_t o = lut[static_cast<size_t>(v)];
        uint8_t bp = 0;
        istitm(o, dp + static_cast<int64_t>(j) * bytesof(wd), wd, &bp, nc);
      }
    }
    if (one) {
      out.i = n;
      break;
    }
    in.skip(m, bytesof(ws));
    d->Dptr = addref(d->Dptr, static_cast<int64_t>(m) * bytesof(wd));
    out.next(m);
    progress(out.i, n);
  }
  out.end();
  prgtot = 0;
  return true;
}

}  // namespace

int DoMap(int n, FnCall* c) {
  int32_t* t = optab;
  if (n < 2) {
    error(0, 47);
    return 0;
  }
  if (t[OT_KIND] & K_STRING) {
    error(2, 147);
    return 0;
  }
  if (t[OT_KIND + 1] & K_STRING) {
    error(3, 147);
    return 0;
  }
  int shift = intarg(4, 0);
  int kt = t[OT_KIND + 1], kd = t[OT_KIND + 2];
  if (((kt & K_IMAGE) && (kd & K_LIST)) || ((kt & K_LIST) && (kd & K_IMAGE))) {
    error(0, 207);
    return 0;
  }
  bool lists = ((kt | kd) & K_LIST) != 0;
  PtrRec* s = oprec(0);
  PtrRec* tb = oprec(1);
  PtrRec* d = oprec(2);
  if (!s || !tb || !d) return 0;
  if (!lists && mapfast(s, d, shift, c)) return 0;
  if (state & ST_ERROR) return 0;
  if (c) fnfresh(*c, false);

  In in{s, &t[OT_BUF], t[OT_CNT]};
  if (lists) {
    // Entry i of the table list into the next entry of the destination list.
    int32_t nt = t[OT_TOT + 1];
    int32_t j = 0, nd = t[OT_TOT + 2];
    int32_t hd = t[OT_ID + 2];
    while (j < nd && in.load() && !stopped()) {
      int32_t i = in.geti();
      if (i < 0 || i >= nt) continue;
      int32_t len = 0;
      const uint8_t* e = lstptr(tb, i, &len, 0);
      if (!e || len < 0) continue;
      std::vector<uint8_t> copy(e, e + len);
      d->XYZptr[0] = d->Offs[0] + static_cast<uint32_t>(j);
      if (maklst(hd, std::max(len, 1), j) <= 0) break;
      int32_t dl = 0;
      if (uint8_t* p = lstptr(d, j, &dl, 0))
        std::memcpy(p, copy.data(), static_cast<size_t>(std::min(dl, len)));
      j++;
    }
    flshio(d);
    return 0;
  }
  int32_t nt = 0;
  const auto* tab = static_cast<const float*>(aryarg(3, 0, 0, W_FLOAT, &nt, nullptr));
  if (!tab) return 0;
  double div = shift ? std::ldexp(1.0, shift) : 1.0;
  Out out{d, &t[OT_BUF + 2], t[OT_CNT + 2]};
  int32_t n2 = std::min(in.n, out.n);
  progress(0, n2);
  while (out.ok() && in.load()) {
    if ((out.i & 0xFFF) == 0 && stopped()) break;
    int32_t i = in.geti();
    double v = i < 0 || i >= nt ? 0.0 : tab[i] / div;
    out.putf(v);
    prgidx = static_cast<uint32_t>(out.i);
  }
  out.end();
  prgtot = 0;
  return 0;
}

int su_map(FnCall& c) {
  int32_t* t = optab;
  // The operands are checked before the destination is made.
  int e = 0, arg = 0;
  if (c.n < 2)
    e = 47;
  else if (t[OT_KIND] & K_STRING)
    e = 147, arg = 2;
  else if (t[OT_KIND + 1] & K_STRING)
    e = 147, arg = 3;
  else {
    getdst(c.dest);
    int kt = t[OT_KIND + 1], kd = t[OT_KIND + 2];
    if (((kt & K_IMAGE) && (kd & K_LIST)) || ((kt & K_LIST) && (kd & K_IMAGE)))
      e = 207;
    else if (!((kt | kd) & K_LIST) && !(kt & K_DATA))
      e = 35, arg = 3;  // the table is no array
  }
  if (e) {
    error(arg, e);
    c.ret = 0;
    return FS_RET;
  }
  return FS_GO;
}

int run_map(FnCall& c) { return DoMap(c.n, &c); }

// ---------------------------------------------------------------------------
// index

namespace {

// Leading blanks skipped.
const char* noblank(const char* s, int32_t* len) {
  while (*len > 0 && *s == ' ') {
    s++;
    (*len)--;
  }
  return s;
}

int cmpv(float tv, float x) { return tv > x ? 1 : (tv == x ? 0 : -1); }

// The argument that gives index an ordering of its table: 5 in place of
// the flags, or 6 after them; 0 none.
int ordarg() {
  int32_t h = 0;
  if (argtyp(5, &h) & K_DIMS) return 5;
  return nargs() >= 6 && (argtyp(6, &h) & K_DIMS) ? 6 : 0;
}

}  // namespace

int doindex(int n, int mode) {
  int32_t* t = optab;
  if (n < 2) {
    error(0, 47);
    return 0;
  }
  PtrRec* kr = oprec(0);
  PtrRec* tr = oprec(1);
  PtrRec* d = oprec(2);
  int32_t nk = mode == 1 ? 1 : (mode == 2 ? t[OT_TOT] : t[OT_CNT]);
  int32_t nt = t[OT_CNT + 1];
  if (!kr || nk < 1) {
    error(2, 109);
    return 0;
  }
  if (!tr || nt < 1) {
    error(3, 109);
    return 0;
  }
  if (!d) return 0;
  int dir = intarg(4, mode ? -1 : 0);
  int flags = 0;
  const int32_t* ord = nullptr;
  // The table and its order may be larger than the low stack: copies of
  // them are made in the process's memory.
  std::vector<uint8_t> ordcopy, tabcopy;
  const int oa = ordarg();
  if (oa != 5) flags = intarg(5, 0) & 63;
  if (oa) {
    int32_t cnt = 0;
    ord = static_cast<const int32_t*>(aryheap(oa, nt, nt, W_LONG, &cnt, &ordcopy));
    if (!ord) return 0;
    flags |= 64;
  }
  Out out{d, &t[OT_BUF + 2], t[OT_CNT + 2]};

  if (mode) {
    // Strings.
    char key[LINBUF];
    for (int32_t i = 0; i < nk && out.ok(); i++) {
      int32_t kl = 0;
      const char* k = key;
      if (mode == 1) {
        float v;
        int len = 0;
        getarg(2, &v, key, sizeof key, &len);
        kl = len;
      } else {
        const uint8_t* e = lstptr(kr, static_cast<int32_t>(kr->Offs[0]) + i, &kl, 0);
        kl = e ? std::min<int32_t>(kl, LINBUF - 1) : 0;
        if (e) std::memcpy(key, e, static_cast<size_t>(kl));
      }
      k = noblank(k, &kl);
      int32_t res = -1, kept = -1;
      // The table's items from its window's first, counted from there.
      for (int32_t j = 0; j < nt && kl > 0; j++) {
        int32_t el = 0;
        const uint8_t* e = lstptr(tr, static_cast<int32_t>(tr->Offs[0]) + j, &el, 0);
        if (!e) continue;
        const char* es = noblank(reinterpret_cast<const char*>(e), &el);
        int r = el > 0 ? isname(k, es, kl, el) : 0;
        if ((trcmsk & 24) == 24)
          jprintf(dbglun, " doindex: %3ld/%ld\t%3d/%ld s1=<%.*s> %d\ts2=<%.*s> %d => %d\n",
                  static_cast<long>(i), static_cast<long>(nk), static_cast<int>(j), static_cast<long>(nt),
                  static_cast<int>(kl), k, static_cast<int>(kl), static_cast<int>(el), es,
                  static_cast<int>(el), r);
        if (r == 1) {
          res = j;
          break;
        }
        if (kept < 0 && r == dir) kept = j;
      }
      out.puti(res >= 0 ? res : kept);
      chkio(0);
      if (stopped()) break;
    }
    out.end();
    return 0;
  }

  int32_t cnt = 0;
  const auto* tab = static_cast<const float*>(aryheap(3, 0, 0, W_FLOAT, &cnt, &tabcopy));
  if (!tab) return 0;
  nt = std::min(nt, cnt);
  std::vector<float> keys;
  keys.reserve(static_cast<size_t>(nk));
  {
    In in{kr, &t[OT_BUF], t[OT_CNT]};
    while (in.load()) keys.push_back(static_cast<float>(in.getf()));
  }
  if (keys.empty()) {
    error(2, 109);
    return 0;
  }
  auto entry = [&](int32_t p) -> float {
    if (flags & 64) {
      int32_t q = ord[p];
      return q >= 0 && q < nt ? tab[q] : 0.0f;
    }
    return tab[p];
  };
  auto stops = [&](int r) { return r == 0 || (dir > 0 && r > 0) || (dir < 0 && r < 0); };
  int32_t start = 0;
  if (flags & 4)
    while (start < nt && !(tab[start] > 0)) start++;
  const int32_t nkeys = static_cast<int32_t>(keys.size());

  if (flags & 8) {
    // The whole key array as a sequence.
    int32_t res = -1;
    for (int32_t p = start; p < nt && res < 0; p++) {
      if (!stops(cmpv(tab[p], keys[0]))) continue;
      bool all = true;
      for (int32_t j = 1; j < nkeys && all; j++)
        all = p + j < nt && stops(cmpv(tab[p + j], keys[static_cast<size_t>(j)]));
      if (all) res = p;
      chkio(0);
      if (stopped()) break;
    }
    if (out.ok()) out.puti(res);
    out.end();
    return 0;
  }

  for (int32_t i = 0; i < nkeys && out.ok(); i++) {
    float x = keys[static_cast<size_t>(i)];
    int32_t res = -1;
    if (flags & (1 | 64)) {
      float f = entry(start);
      if (dir < 0 || !(f < x)) {
        res = (dir == 0 && f > x) ? -1 : start;
      } else {
        // The first position whose entry is not below the key.
        int32_t lo = start, hi = nt;
        while (lo < hi) {
          int32_t mid = lo + (hi - lo) / 2;
          if (entry(mid) < x)
            lo = mid + 1;
          else
            hi = mid;
        }
        if (lo < nt && (entry(lo) == x || dir > 0)) res = lo;
      }
      if (res >= 0 && (flags & 64)) res = ord[res];
    } else {
      for (int32_t p = start; p < nt; p++) {
        if ((flags & 4) && tab[p] == 0.0f) continue;
        if (stops(cmpv(tab[p], x))) {
          res = p;
          break;
        }
      }
    }
    if ((flags & 2) && res >= 0) start = (flags & 64) ? start : res;
    out.puti(res);
    chkio(0);
    if (stopped()) break;
  }
  out.end();
  return 0;
}

int su_index(FnCall& c) {
  int32_t* t = optab;
  t[OT_RWSZ] = W_SHORT;
  c.aux = 0;
  // The operands are checked before the destination is made.
  if (c.n < 2 || t[OT_CNT] < 1 || !t[OT_REC + 1] || t[OT_CNT + 1] < 1) {
    if (c.n < 2)
      error(0, 47);
    else
      error(t[OT_CNT] < 1 ? 2 : 3, 109);
    c.ret = 0;
    return FS_RET;
  }
  const int oa = ordarg();
  if (oa && !((t[OT_KIND + 1] & 0x820) == 0x820)) {
    int32_t cnt = 0;
    if (!argary(oa, &cnt) || cnt < t[OT_CNT + 1]) {
      error(oa, 82);
      c.ret = 0;
      return FS_RET;
    }
  }
  if ((t[OT_KIND + 1] & 0x820) != 0x820 && !(t[OT_KIND + 1] & K_DATA)) {
    // Numbers are looked up in an array, which a number is not.
    error(3, 35);
    c.ret = 0;
    return FS_RET;
  }
  if ((t[OT_KIND + 1] & 0x820) == 0x820) {
    if (!(t[OT_KIND] & K_STRING)) {
      error(2, 184);
      c.ret = 0;
      return FS_RET;
    }
    t[OT_CNT + 1] = t[OT_TOT + 1];
    if (t[OT_KIND] & K_LIST) {
      t[OT_RCNT] = t[OT_TOT];
      if (!t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = K_ARRAY;
      c.aux = 2;
    } else {
      t[OT_RCNT] = 1;
      c.aux = 1;
    }
  }
  return FS_GO;
}

int run_index(FnCall& c) { return doindex(c.n, c.aux); }

// ---------------------------------------------------------------------------
// stretch

int stretch() {
  int32_t cnt = 0, h = 0;
  int ty = argtyp(2, &h);
  PtrRec* pr = (ty & K_DIMS) ? argary(2, &cnt) : nullptr;
  if (!pr || cnt < 1) {
    error(2, 85);
    return 0;
  }
  int lo = std::clamp(intarg(3, 0), 0, 255);
  int hi = std::clamp(intarg(4, 255), 0, 255);
  if (hi < lo) std::swap(lo, hi);
  int n = hi - lo + 1;
  int s = std::clamp(intarg(8, 1), 1, 7);
  int32_t mask = lngarg(9, -1);
  int inter = intarg(7, 8);
  int32_t pn = 0;
  const auto* pal = static_cast<const int16_t*>(aryarg(2, 0, 0, W_SHORT, &pn, nullptr));
  if (!pal) return 0;
  int32_t nent = pn / 4;
  if (nent < 1) {
    error(2, 85);
    return 0;
  }
  std::vector<int16_t> table(static_cast<size_t>(n));
  std::vector<uint8_t> ent(static_cast<size_t>(n) * 4);
  // One pass: the table, then the palette entries it names, loaded from lo.
  auto pass = [&](int low, int high) {
    maklut(table.data(), n, low, high, lo, hi, s, mask);
    for (int i = n - 1; i >= 0; i--) {
      int e = std::clamp<int>(table[static_cast<size_t>(i)], 0, nent - 1);
      for (int k = 0; k < 3; k++) {
        int v = static_cast<uint16_t>(pal[4 * e + 1 + k]);
        ent[static_cast<size_t>(4 * i + k)] = static_cast<uint8_t>(v > 255 ? v >> 8 : v);
      }
      ent[static_cast<size_t>(4 * i + 3)] = 0;
    }
    setpal(lo, n, ent.data());
  };
  if (!inter) {
    pass(intarg(5, lo), intarg(6, hi));
    return 0;
  }
  const int32_t* r = dvrect[0];  // the screen rectangle {top, left, bottom, right}
  int base = intarg(5, std::max(r[0], r[1]));
  int top = intarg(6, std::min(r[2], r[3]) + base - 1);
  int range = top - base;
  int bottom = std::max<int32_t>(r[2], 1), right = std::max<int32_t>(r[3], 1);
  int col = 0, row = 0;
  getcur(&col, &row);
  for (;;) {
    int u = 0, v = 0;
    int key = getxy(inter, &u, &v);
    u = std::max(u, 0);
    v = std::max(v - 40, 0);
    int low = static_cast<int>(static_cast<int64_t>(u) * range / bottom + base);
    int high = static_cast<int>(static_cast<int64_t>(v) * (range - 40) / right + base);
    pass(low, high);
    if (key >= 130 || (key >= 32 && key <= 128) || stopped()) break;
  }
  putcur(col, row);
  return 0;
}
