// Pixel writers, the pixel target and the current image variable.
#include "graphics/writers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/element.h"
#include "core/output.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "ui/draw.h"
#include "ui/window.h"

PixWriter pixwr = SETpix;
SymWriter symwr = set4pix;
PixTgt pixtg;
uint16_t scrsel = 0;
const ImgTgt* curit = nullptr;
uint32_t pxgen = 0;

int setpxf(int mode) {
  if (mode & 0x4000) {
    pixwr = putpix;
    symwr = ellpix;
  } else {
    pixwr = (mode & 0x1800) ? fatpix : SETpix;
    symwr = set4pix;
  }
  return 0;
}

// ---- The current image variable ----------------------------------------------

const ImgTgt* curimg(int which) {
  const ImgTgt* old = curit;
  curit = which >= 0 ? imgtgt(which) : nullptr;
  return old;
}

namespace {

inline uint32_t ld16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t ld32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void st16(uint8_t* p, uint32_t v) {
  auto s = static_cast<uint16_t>(v);
  std::memcpy(p, &s, 2);
}
inline void st32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// One item at p of word size ws: the value stored as raw bits (XORed in
// when xr), a float item as a number.
void putraw(uint8_t* p, int ws, uint32_t v, bool xr) {
  switch (ws) {
    case W_BYTE: p[0] = static_cast<uint8_t>((xr ? p[0] : 0) ^ v); break;
    case W_SHORT: st16(p, (xr ? ld16(p) : 0) ^ v); break;
    case W_RGB: {
      // Low byte first, as the element access stores it.
      uint32_t o = xr ? static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) : 0;
      o ^= v;
      p[0] = static_cast<uint8_t>(o);
      p[1] = static_cast<uint8_t>(o >> 8);
      p[2] = static_cast<uint8_t>(o >> 16);
      break;
    }
    case W_LONG: st32(p, (xr ? ld32(p) : 0) ^ v); break;
    case W_FLOAT: {
      float f;
      std::memcpy(&f, p, 4);
      int32_t o = xr ? ftrunc(f) : 0;
      f = static_cast<float>(static_cast<int32_t>(static_cast<uint32_t>(o) ^ v));
      std::memcpy(p, &f, 4);
      break;
    }
    default: break;
  }
}

int32_t getraw(const uint8_t* p, int ws) {
  switch (ws) {
    case W_BYTE: return p[0];
    case W_SHORT: return static_cast<int16_t>(ld16(p));
    case W_RGB: return p[0] | (p[1] << 8) | (p[2] << 16);
    case W_LONG: return static_cast<int32_t>(ld32(p));
    case W_FLOAT: {
      float f;
      std::memcpy(&f, p, 4);
      return ftrunc(f);
    }
    default: return 0;
  }
}

bool wholebytes(int ws) {
  return ws == W_BYTE || ws == W_SHORT || ws == W_RGB || ws == W_LONG || ws == W_FLOAT;
}

}  // namespace

int imgpix(const ImgTgt* t, int x, int y, uint32_t v, bool xr) {
  pxgen++;
  if (!t || x < 0 || y < 0 || x >= t->w || y >= t->h) return 0;
  if (t->base) {
    putraw(t->base + static_cast<int64_t>(y) * t->row + static_cast<int64_t>(x) * t->bytes, t->ws, v, xr);
    return 0;
  }
  // Through the element access (paged or packed data).
  PtrRec* r = t->rec;
  uint8_t* p = setxy(r, x, y, 2);
  if (!p) return 0;
  if (wholebytes(t->ws)) {
    putraw(p, t->ws, v, xr);
  } else {
    // Packed items: the low bits of the value.
    int bits = t->ws & 63;
    uint32_t m = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    uint32_t o = xr ? static_cast<uint32_t>(igstak(r)) : 0;
    setxy(r, x, y, 2);
    IPSTAK(static_cast<int32_t>((o ^ v) & m), r);
  }
  return 0;
}

int32_t imgget(const ImgTgt* t, int x, int y) {
  if (!t || x < 0 || y < 0 || x >= t->w || y >= t->h) return 0;
  if (t->base) return getraw(t->base + static_cast<int64_t>(y) * t->row + static_cast<int64_t>(x) * t->bytes, t->ws);
  PtrRec* r = t->rec;
  uint8_t* p = setxy(r, x, y, 1);
  if (!p) return 0;
  if (wholebytes(t->ws)) return getraw(p, t->ws);
  return igstak(r);
}

// ---- The pixel target -----------------------------------------------------------

int tgtrow() {
  if (!pixtg.mem || pixtg.bits < 8 || pixtg.rowbytes < 1) return 0;
  return std::min<int>(pixtg.width, pixtg.rowbytes / (pixtg.bits / 8));
}

namespace {
// The address of pixel (x, y) of the pixel target, or null outside it.
uint8_t* tgtadr(int x, int y) {
  if (!pixtg.mem || x < 0 || y < 0 || y >= pixtg.height || x >= tgtrow()) return nullptr;
  return pixtg.mem + static_cast<int64_t>(y) * pixtg.rowbytes + static_cast<int64_t>(x) * (pixtg.bits / 8);
}
}  // namespace

int pixtgt(int32_t n) {
  const uint8_t* mem = nullptr;
  int bits = 0, rowbytes = 0, width = 0, height = 0;
  if (n >= 0 && n <= 2) {
    scrsel = static_cast<uint16_t>((scrsel & ~7u) | static_cast<uint16_t>(n));
    // The screens of this platform are composed by the window manager and
    // have no pixel memory of their own: nothing changes.
    return 0;
  }
  // A window record as a window port holds it: the window's own record or
  // its off-screen port.
  for (int k = 0; k < nwins; k++) {
    Wport* w = wport(k);
    if (!w || (w->pwrec != n && w->offscr != n) || n == 0) continue;
    auto* p = static_cast<PwRec*>(heldptr(w->offscr ? w->offscr : w->pwrec));
    if (!p) return 0;
    mem = static_cast<const uint8_t*>(heldptr(p->pixels));
    bits = p->depth;
    rowbytes = static_cast<int>(std::min<uint32_t>(p->rowbytes, 32767));
    width = p->rect[2];
    height = p->rect[3];
    break;
  }
  if (rowbytes == 0 || !mem) return 0;
  pixtg.mem = const_cast<uint8_t*>(mem);
  pixtg.bits = static_cast<int16_t>(bits);
  pixtg.rowbytes = static_cast<int16_t>(rowbytes);
  pixtg.width = static_cast<int16_t>(std::clamp(width, 0, 32767));
  pixtg.height = static_cast<int16_t>(std::clamp(height, 0, 32767));
  return 0;
}

int32_t tgtget(int x, int y) {
  const uint8_t* p = tgtadr(x, y);
  if (!p) return 0;
  switch (pixtg.bits) {
    case 8: return p[0];
    case 16: return static_cast<int16_t>(ld16(p));
    case 32: return static_cast<int32_t>(ld32(p));
    default: return 0;
  }
}

bool tgtpix(int x, int y, uint32_t v, bool xr) {
  pxgen++;
  if (!pixtg.mem) return false;
  uint8_t* p = tgtadr(x, y);
  if (!p) return true;
  switch (pixtg.bits) {
    case 8: putraw(p, W_BYTE, v, xr); break;
    case 16: putraw(p, W_SHORT, v, xr); break;
    case 32: putraw(p, W_LONG, v, xr); break;
    default: break;
  }
  return true;
}

// ---- The writers -------------------------------------------------------------------

namespace {
template <PixWriter put>
int fat(int x, int y, uint32_t value) {
  int k = (gflags & 1) ? 0 : (gflags & 0x1800) >> 11;
  int n = 1 << k;
  for (int i = n - 1; i >= 0; i--)
    for (int j = n - 1; j >= 0; j--) put(x + i, y + j, value);
  return 0;
}
}  // namespace

int fatpix(int x, int y, uint32_t value) { return fat<SETpix>(x, y, value); }
int fatpal(int x, int y, uint32_t value) { return fat<SETpal>(x, y, value); }

int putpix(int x, int y, uint32_t value) {
  pxgen++;
  // No stereo port pair exists on this platform: the pixel target only.
  uint8_t* p = tgtadr(x, y);
  if (!p) return 0;
  switch (pixtg.bits) {
    case 8: p[0] = static_cast<uint8_t>(value); break;
    case 16: st16(p, value); break;
    case 32: st32(p, value); break;
    default: break;
  }
  return 0;
}

int mapz(int x, int y, uint32_t value) {
  if (value == 0) return 0;
  const LnState& ls = lnst;
  int32_t m = ls.kind > 0 ? y : x;
  int64_t z = static_cast<int64_t>(ls.zbase) +
              ftrunc(static_cast<float>(m) * ls.zslope + ls.round);
  const ImgTgt* zt = imgtgt(IV_ZIMAGE);
  if (!zt) return pixwr(x, y, value);
  int32_t old = imgget(zt, x, y);
  if (z < old) return 0;
  // The depth saturates to the items' range, so that a far line never
  // draws over a near one.
  switch (zt->ws) {
    case W_BYTE: z = std::clamp<int64_t>(z, 0, 255); break;
    case W_SHORT: z = std::clamp<int64_t>(z, INT16_MIN, INT16_MAX); break;
    default: z = std::clamp<int64_t>(z, INT32_MIN, INT32_MAX); break;
  }
  const ImgTgt* keep = curit;
  curit = zt;
  pixwr(x, y, static_cast<uint32_t>(static_cast<int32_t>(z)));
  curit = keep;
  return pixwr(x, y, value);
}

int britest(int x, int y, uint32_t value) {
  const ImgTgt* vt = imgtgt(IV_VIMAGE);
  int32_t old = vt ? imgget(vt, x, y) : tgtget(x, y);
  auto v = static_cast<int32_t>(value);
  if ((gflags & 0x0400) ? !(v < old) : !(v > old)) return 0;
  return pixwr(x, y, value);
}

int set4pix(int dx, int dy, int cx, int cy, uint32_t value, int fill) {
  if (!fill) {
    if (dx == 0) {
      pixwr(cx, cy + dy, value);
      if (dy != 0) pixwr(cx, cy - dy, value);
      return 0;
    }
    pixwr(cx + dx, cy + dy, value);
    pixwr(cx - dx, cy + dy, value);
    if (dy != 0) {
      pixwr(cx + dx, cy - dy, value);
      pixwr(cx - dx, cy - dy, value);
    }
    return 0;
  }
  int16_t a[3] = {static_cast<int16_t>(cx - dx), static_cast<int16_t>(cy - dy), zvalue};
  int16_t b[3] = {static_cast<int16_t>(cx + dx), static_cast<int16_t>(cy - dy), zvalue};
  vmove(a);
  vline(b, value, 0);
  if (dy != 0) {
    int16_t c[3] = {static_cast<int16_t>(cx + dx), static_cast<int16_t>(cy + dy), zvalue};
    int16_t d[3] = {static_cast<int16_t>(cx - dx), static_cast<int16_t>(cy + dy), zvalue};
    vmove(c);
    vline(d, value, 0);
  }
  return 0;
}

namespace {
// A span x0..x1 of row y of the pixel target's memory, clipped to it.
void tgtspan(int x0, int x1, int y, uint32_t v) {
  pxgen++;
  if (!pixtg.mem || y < 0 || y >= pixtg.height) return;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, tgtrow() - 1);
  if (x1 < x0) return;
  uint8_t* p = pixtg.mem + static_cast<int64_t>(y) * pixtg.rowbytes;
  switch (pixtg.bits) {
    case 8: std::memset(p + x0, static_cast<int>(v & 0xFF), static_cast<size_t>(x1 - x0 + 1)); break;
    case 16:
      for (int x = x0; x <= x1; x++) st16(p + 2 * x, v);
      break;
    case 32:
      for (int x = x0; x <= x1; x++) st32(p + 4 * x, v);
      break;
    default: break;
  }
}
}  // namespace

int ellpix(int dx, int dy, int cx, int cy, uint32_t value, int fill) {
  int x0 = cx - dx, x1 = cx + dx, y0 = cy - dy, y1 = cy + dy;
  if (!fill) {
    putpix(x0, y0, value);
    if (dx == 0) {
      if (dy != 0) putpix(x0, y1, value);
      return 0;
    }
    putpix(x1, y0, value);
    if (dy != 0) {
      putpix(x0, y1, value);
      putpix(x1, y1, value);
    }
    return 0;
  }
  tgtspan(x0, x1, y0, value);
  if (dy != 0) tgtspan(x0, x1, y1, value);
  return 0;
}

void wrtini() {
  pixwr = SETpix;
  symwr = set4pix;
  pixtg = PixTgt{};
  scrsel = 0;
  curit = nullptr;
}
