// pixset and vidbox.
#include "graphics/pixblock.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "graphics/pixels.h"
#include "graphics/writers.h"
#include "lang/namehooks.h"
#include "ui/clocks.h"
#include "ui/draw.h"
#include "ui/screen.h"
#include "ui/window.h"

namespace {

// Image memory a block operation addresses.
struct Mem {
  uint8_t* px = nullptr;
  int bits = 0;
  int64_t rowbytes = 0;
  int width = 0, height = 0;
  PwRec* port = nullptr;  // the off-screen port, shown afterwards
};

// A window's image: its off-screen port, clipped to its row bytes.
Mem winmem(Wport* w) {
  Mem m;
  auto* o = w ? static_cast<PwRec*>(heldptr(w->offscr)) : nullptr;
  auto* px = o ? static_cast<uint8_t*>(heldptr(o->pixels)) : nullptr;
  if (!px || o->depth < 8 || o->rowbytes == 0) return m;
  m.px = px;
  m.bits = o->depth;
  m.rowbytes = o->rowbytes;
  m.width = std::min<int64_t>(o->rect[2], o->rowbytes * 8 / o->depth);
  m.height = o->rect[3];
  m.port = o;
  return m;
}

Mem tgtmem() {
  Mem m;
  if (!pixtg.mem || pixtg.bits < 8) return m;
  m.px = pixtg.mem;
  m.bits = pixtg.bits;
  m.rowbytes = pixtg.rowbytes;
  m.width = tgtrow();
  m.height = pixtg.height;
  return m;
}

// Shows a window's off-screen port in the window.
void show(Wport* w, const Mem& m) {
  if (w && m.port) dibdraw(m.port, wpwrec(w));
}

int bytesof(int bits) { return bits == 24 ? 3 : bits / 8; }

uint32_t ld(const uint8_t* p, int by) {
  uint32_t v = 0;
  std::memcpy(&v, p, static_cast<size_t>(by));
  return v;
}
void st(uint8_t* p, int by, uint32_t v) { std::memcpy(p, &v, static_cast<size_t>(by)); }

// Combines a row of n items into the image.
void combine(uint8_t* d, const uint8_t* s, int n, int by, int op) {
  if (op == 0) {
    std::memcpy(d, s, static_cast<size_t>(n) * by);
    return;
  }
  if (op < 1 || op > 4) return;
  const uint32_t mask = by >= 4 ? 0xFFFFFFFFu : (1u << (8 * by)) - 1;
  for (int i = 0; i < n; i++, d += by, s += by) {
    uint32_t a = ld(d, by), b = ld(s, by);
    switch (op) {
      case 1: a |= b; break;
      case 2: a ^= b; break;
      case 3: a &= b; break;
      default: a = (a + b) & mask; break;
    }
    st(d, by, a);
  }
}

// The grey conversion table of an image depth (without a caller's table):
// 16 bits 5-6-5 greys, 24 and 32 bits the level in each of the three low
// bytes, 8 bits the level spread over a packed source's range.
std::vector<uint32_t> greytab(int dbits, int sbits) {
  std::vector<uint32_t> t(256);
  for (uint32_t i = 0; i < 256; i++) {
    if (dbits == 16)
      t[i] = to565(i * 0x10101u);
    else if (dbits == 8)
      t[i] = sbits >= 1 && sbits < 8 ? std::min<uint32_t>(255, i * 255 / ((1u << sbits) - 1)) : i;
    else
      t[i] = i * 0x10101u;
  }
  return t;
}

std::vector<uint8_t> rowbuf;  // the conversion row, grown on demand and kept

}  // namespace

int pixset(Wport* w, uint32_t value, const int32_t* rect) {
  if (!rect) return 0;
  const bool cur = (curflg & 0x8000) != 0;
  if (cur) curson(17, 0);
  Mem m;
  if (!w && pixtg.mem) {
    m = tgtmem();
  } else {
    if (!w) w = wport(7);
    if (w) m = winmem(w);
  }
  if (logfp) {
    logprintf("pixset %d %s %xh %d %xh %d,%d %d %d\n", w ? w->id - 1 : -1, w ? w->name : "", value, m.bits,
              0u, rect[0], rect[1], m.width, static_cast<int>(m.rowbytes));
    std::fflush(logfp);
  }
  int x = rect[0], y = rect[1];
  int64_t wd = static_cast<int64_t>(rect[2]) - rect[0] + 1, ht = static_cast<int64_t>(rect[3]) - rect[1] + 1;
  if (x < 0) {
    wd += x;
    x = 0;
  }
  if (y < 0) {
    ht += y;
    y = 0;
  }
  wd = std::min<int64_t>(wd, m.width - x);
  ht = std::min<int64_t>(ht, m.height - y);
  if (m.px && wd >= 1 && ht >= 1 && (m.bits == 8 || m.bits == 16 || m.bits == 32)) {
    const int by = m.bits / 8;
    for (int64_t j = 0; j < ht; j++) {
      uint8_t* p = m.px + (y + j) * m.rowbytes + static_cast<int64_t>(x) * by;
      if (by == 1)
        std::memset(p, static_cast<int>(value & 0xFF), static_cast<size_t>(wd));
      else
        for (int64_t i = 0; i < wd; i++) st(p + i * by, by, value);
    }
    show(w, m);
    if (logfp && w)
      logprintf(" BitBlt %d,%d %dx%d %d\n", x, y, static_cast<int>(wd), static_cast<int>(ht), 1);
  }
  if (cur) curson(17, 1);
  return 0;
}

int vidbox(Wport* w, void* buffer, int x, int y, int width, int height, int dir, int limit, int op, int flags,
           int bufbits, const void* table) {
  (void)limit;  // always 0; changes nothing
  Mem m;
  if (w) {
    m = winmem(w);
  } else if (flags & 0x1FF) {
    m = tgtmem();
  } else {
    w = wport(7);
    if (w) m = winmem(w);
  }
  if (!m.px || !buffer) {
    if (!m.px) error(0, 205);
    return 0;
  }
  if (m.bits != 8 && m.bits != 16 && m.bits != 24 && m.bits != 32) return 0;
  const int64_t uw = width;  // the buffer's rows keep the unclipped width
  const int bb = bufbits ? bufbits : m.bits;
  const int64_t bstep = static_cast<int64_t>(bb) * uw / 8;
  // The box clipped to the image on every side; the buffer is entered at
  // the first pixel kept.
  int64_t sx = 0, sy = 0;
  if (x < 0) {
    sx = -static_cast<int64_t>(x);
    x = 0;
  }
  if (y < 0) {
    sy = -static_cast<int64_t>(y);
    y = 0;
  }
  int64_t wd = std::min<int64_t>(uw - sx, m.width - x), ht = std::min<int64_t>(height - sy, m.height - y);
  if (wd < 1 || ht < 1) return 0;
  if (flags & 0x200)
    jprintf(dbglun, "VBox(%ld %d %d %d %d %d %ld %d %d) %d %ld %d\n", 0L, x, y, static_cast<int>(wd),
            static_cast<int>(ht), dir, 0L, op, flags & 0x1FF, m.bits, 0L, static_cast<int>(m.rowbytes));
  const int by = bytesof(m.bits);
  const bool conv = bb != m.bits;
  // A packed buffer is entered at a whole byte only.
  if (conv && (sx * bb) % 8 != 0) return 0;
  std::vector<uint32_t> grey;
  const void* tab = table;
  int32_t tabn = 256;
  if (conv && !tab) {
    grey = greytab(m.bits, bb);
    tab = grey.data();
  }
  // The table's entries are read at the destination's width: a grey table
  // made as 32-bit words is narrowed for 8- and 16-bit destinations.
  std::vector<uint8_t> narrowed;
  auto rowtab = [&](int dbits) -> const void* {
    if (!grey.empty() && (dbits == 8 || dbits == 16)) {
      if (narrowed.empty()) {
        narrowed.resize(256 * 2);
        for (int i = 0; i < 256; i++) {
          if (dbits == 8)
            narrowed[static_cast<size_t>(i)] = static_cast<uint8_t>(grey[static_cast<size_t>(i)]);
          else
            st(&narrowed[static_cast<size_t>(2 * i)], 2, grey[static_cast<size_t>(i)]);
        }
      }
      return narrowed.data();
    }
    return tab;
  };
  if (conv) {
    const size_t need = static_cast<size_t>((static_cast<int64_t>(m.bits) * wd + 7) / 8);
    if (rowbuf.size() < need) {
      try {
        rowbuf.resize(need);
      } catch (...) {
        rowbuf.clear();
        return -1;
      }
    }
  }
  const uint32_t t0 = rtclock();
  auto* buf = static_cast<uint8_t*>(buffer);
  const bool whole = !conv && wd == m.width && m.rowbytes == wd * by && bstep == m.rowbytes;
  const int64_t rows = whole ? 1 : ht;
  const int64_t n = whole ? wd * ht : wd;
  for (int64_t j = 0; j < rows; j++) {
    uint8_t* img = m.px + (y + j) * m.rowbytes + static_cast<int64_t>(x) * by;
    uint8_t* b = buf + (sy + j) * bstep + sx * bb / 8;
    if (dir) {
      const uint8_t* src = b;
      if (conv) {
        wdcnvrt(b, rowbuf.data(), bb, m.bits, static_cast<int32_t>(n), rowtab(m.bits), tabn);
        src = rowbuf.data();
      }
      combine(img, src, static_cast<int>(n), by, op);
    } else if (conv) {
      std::memcpy(rowbuf.data(), img, static_cast<size_t>(n * by));
      wdcnvrt(rowbuf.data(), b, m.bits, bb, static_cast<int32_t>(n), rowtab(bb), tabn);
    } else {
      std::memcpy(b, img, static_cast<size_t>(n * by));
    }
  }
  if (dir) show(w, m);
  if (jdebug > 1)
    logprintf("vmem %d %d -> %d %6d %6d\n", w ? 1 : 0, dir, 1, static_cast<int>(rtclock() - t0), 0);
  return 0;
}
