// Device variables, the constant fill of window-backed images, the camera
// selection and the hardware-display stubs.
#include "realtime/devices/devvar.h"

#include <algorithm>
#include <cstring>

#include "compute/arith.h"
#include "compute/expr.h"
#include "core/blkbuf.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "graphics/pixblock.h"
#include "graphics/veclist.h"
#include "realtime/devices/sound.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/hwvars.h"
#include "ui/draw.h"
#include "ui/ports.h"
#include "ui/screen.h"
#include "ui/window.h"

const DevMem devmem[NDEVMEM] = {
    {64, 100, 100, MK_SYS, 80},   {64, 101, 101, MK_WIN, 80},  {128, 100, 100, MK_SYS, 4240},
    {128, 101, 101, MK_WIN, 4240}, {512, 0, 256, MK_SYS, 520}, {64, 97, 512, MK_SYS, 80},
    {64, 98, 256, MK_SYS, 72},    {64, 99, 128, MK_SYS, 72},   {128, 0, 0, MK_PARM, 144},
    {128, 1, 1, MK_PARM, 144},    {128, 2, 2, MK_PARM, 144},   {128, 3, 3, MK_PARM, 144},
    {128, 4, 4, MK_PARM, 144},    {128, 5, 5, MK_PARM, 144},   {128, 6, 6, MK_PARM, 144},
    {128, 10, 10, MK_PARM, 144},  {128, 11, 11, MK_PARM, 144}, {128, 12, 12, MK_PARM, 144},
    {128, 13, 13, MK_PARM, 144},  {128, 14, 14, MK_PARM, 20624}, {128, 15, 15, MK_PARM, 144},
    {128, 16, 16, MK_PARM, 144},  {128, 17, 17, MK_PARM, 144},
};

int16_t blk14[2];
int16_t drworg[6];
int16_t sunblk[4];

namespace {

constexpr int TRC = 64;  // trace mask of the device-variable traces
constexpr int WF_SCREEN = 520, WF_BIGIMG = 4616, WF_LUT = 4240, WF_3X2 = 20624;

// The window a device number of 101 and up names (entry n % 100 - 1 of the
// window table), or null.
Wport* devwin(int dev) {
  if (dev < 100 || dev % 100 == 0) return nullptr;
  Wport* w = wport(dev % 100 - 1);
  return w && w->type != 0 ? w : nullptr;
}

// A window's image: its off-screen port, when that holds pixels.
PwRec* winimg(const Wport* w) {
  if (!w) return nullptr;
  auto* o = static_cast<PwRec*>(heldptr(w->offscr));
  return o && heldptr(o->pixels) ? o : nullptr;
}

// 2 to the screen depth, at most the 256 entries of a colour table.
int64_t entries(int depth) { return depth >= 1 && depth < 9 ? (int64_t{1} << depth) : 256; }

int wsizof(int bits) { return bits == 8 ? 8 : bits == 16 ? 16 : 32; }

// The bytes of the data a record names.
int64_t databytes(const PtrRec* r) {
  int64_t n = 1;
  for (int k = 0; k < 3; k++) n *= r->Datdims[k] ? r->Datdims[k] : 1;
  return n * (r->Wsiz & 63) / 8;
}

// Moves bytes between a buffer and a device block held in memory: len
// bytes at offset off of a block of size bytes.
void memio(uint8_t* buf, void* dev, int64_t size, int64_t off, int64_t len, int dir) {
  if (off >= size) return;
  len = std::min(len, size - off);
  auto* d = static_cast<uint8_t*>(dev) + off;
  if (dir == 1)
    std::memcpy(buf, d, static_cast<size_t>(len));
  else
    std::memcpy(d, buf, static_cast<size_t>(len));
}

// A parameter block: memory numbers 0 to 6 and 10 to 17 are the
// rectangles of the predefined names (block 14 two words longer), 18 the
// drawing origin. A write of block 0 limits every coordinate to 0..640;
// blocks 0 to 6 keep each pair low before high, (x1, x2) and (y1, y2).
int parmio(int mem, uint8_t* buf, int64_t off, int64_t len, int dir) {
  int16_t v[6] = {0, 0, 0, 0, 0, 0};
  int nv;
  if ((mem >= 0 && mem <= 6) || (mem >= 10 && mem <= 17)) {
    nv = mem == 14 ? 6 : 4;
    for (int k = 0; k < 4; k++)
      v[k] = static_cast<int16_t>(std::clamp<int32_t>(dvrect[mem][k], -32768, 32767));
    if (mem == 14) v[4] = blk14[0], v[5] = blk14[1];
  } else if (mem == 18) {
    nv = 6;
    std::memcpy(v, drworg, sizeof v);
  } else {
    return -1;
  }
  trcint(TRC, "DEvio", mem, nv, static_cast<int>(off), static_cast<int>(len), dir, 0);
  const int64_t size = nv * 2;
  memio(buf, v, size, off, len, dir);
  if (dir == 1) return 0;
  if (mem == 0)
    for (int k = 0; k < 4; k++) v[k] = std::clamp<int16_t>(v[k], 0, 640);
  if (mem <= 6) {
    if (v[0] > v[2]) std::swap(v[0], v[2]);
    if (v[1] > v[3]) std::swap(v[1], v[3]);
  }
  if (mem == 18) {
    std::memcpy(drworg, v, sizeof drworg);
  } else {
    for (int k = 0; k < 4; k++) dvrect[mem][k] = v[k];
    if (mem == 14) blk14[0] = v[4], blk14[1] = v[5];
  }
  // The buffer shows what the device took.
  memio(buf, v, size, off, len, 1);
  return 0;
}

// A colour table through PClut (where: the memory number; bytes per entry
// 4, or 1 for the byte that where / 100 selects). The entries before and
// after the block stay as they are.
int lutio(int where, uint8_t* buf, int64_t off, int64_t len, int dir, int size) {
  trcint(TRC, "lutio", where, static_cast<int>(off), static_cast<int>(len), dir, size, 0);
  uint8_t tab[256 * 4] = {0};
  const int64_t have = PClut(where, tab, 256, 1, size) * size;
  if (dir == 1) {
    memio(buf, tab, have, off, len, 1);
    return 0;
  }
  if (off >= 256 * size) return 0;
  len = std::min<int64_t>(len, 256 * size - off);
  std::memcpy(tab + off, buf, static_cast<size_t>(len));
  // Every entry the block reaches, the last one too when it ends inside it.
  PClut(where, tab, static_cast<int>((off + len + size - 1) / size), 2, size);
  return 0;
}

}  // namespace

int memnum(int dev, int kind, int* mem, int* memkind, const char* tag) {
  const int cls = kind & 0x7F0;
  const int key = dev < 100 ? dev : (dev % 100 == 0 ? 100 : 101);
  int wf = 0;
  *mem = 0;
  *memkind = 0;
  for (int i = NDEVMEM - 1; i >= 0; i--) {
    const DevMem& d = devmem[i];
    trcint(TRC, "Memnum", i, d.cls, d.dev, cls, key, 0);
    if (d.cls != cls || d.dev != key) continue;
    if (d.kind == MK_WIN && !winimg(devwin(dev))) break;
    if (d.cls == 512 && !(devflg & 1)) break;
    *mem = key >= 100 ? dev : d.mem;
    *memkind = d.kind;
    wf = d.wflags;
    break;
  }
  trcint(TRC, "memnum", dev, kind, *mem, *memkind, wf, tag ? static_cast<int>(tag[0]) : 0);
  return wf;
}

int devptr(int kind, int dev, PtrRec* r, int32_t* count) {
  int mem = 0, mk = 0;
  *count = 0;
  const int wf = memnum(dev, kind, &mem, &mk, "devptr");
  int bits = wf & 63;
  if (!bits || !r) return 0;
  r->Idx = dev;
  r->Mptr = static_cast<uint32_t>(mem & 0xFFFF) | (static_cast<uint32_t>(mk) << 16);
  const int depth = scrbits;
  int64_t n = 256;
  if (mk == MK_WIN) {
    const Wport* w = devwin(dev);
    n = w && (w->type & 0x5E) ? entries(depth) : 2;
  } else if (mk == MK_SYS) {
    n = entries(depth);
  }
  int64_t d0, d1 = 1;
  if (kind & K_ARRAY) {
    d0 = mem == 512 ? 4 : n;
    if ((mem & 64) && depth > 8) bits = 32;  // window memory holds whole entries
  } else if (wf == WF_SCREEN) {
    d0 = std::max<int64_t>(1, static_cast<int64_t>(scrwid) * scrbits / 8 * 8 / std::max(1, depth));
    d1 = std::max<int16_t>(scrhgt, 1);
  } else if (kind & K_IMAGE) {
    d0 = d1 = wf == WF_BIGIMG ? 1024 : 512;
  } else if (wf == WF_LUT) {
    d0 = 4;  // the colour table as rows of four bytes
    d1 = n;
    bits = 8;
  } else if (wf == WF_3X2) {
    d0 = 3;
    d1 = 2;
  } else {
    d0 = d1 = 2;
  }
  r->Datdims[0] = static_cast<uint32_t>(d0);
  r->Datdims[1] = static_cast<uint32_t>(d1);
  r->Datdims[2] = 1;
  r->Wsiz = static_cast<int16_t>(wsizof(bits));
  *count = static_cast<int32_t>(d0 * d1);
  trcint(TRC, "devptr", dev, kind, mem, mk, bits, *count);
  return bits;
}

int gdevvb(PtrRec* r, int kind, int32_t* total, int32_t* wsiz, int) {
  *total = -1;
  if (!r) return kind;
  trcint(TRC, "gdevvb", r->Idx, kind, 0, 0, 0, 0);
  int32_t cnt = 0;
  const int bits = devptr(kind, r->Idx, r, &cnt);
  if (!bits || cnt < 1) return kind;
  // A window of the variable past the device's extent (a colour table's
  // 4 x 256 bytes, pclut's 256 entries) is refused, as it is on a variable
  // in memory.
  for (int k = 0; k < 3; k++) {
    const uint64_t o = r->Offs[k], e = r->Offs[3 + k], d = std::max<uint32_t>(r->Datdims[k], 1);
    if (o >= d || o + e > d) {
      if (!(state & ST_ERROR)) error(0, 196);
      return kind;
    }
  }
  const int mk = static_cast<int>(r->Mptr >> 16);
  // Without image-processor hardware only window memory and matrices.
  if (!(devflg & 1) && mk != MK_WIN && !(kind & K_MATRIX)) return kind;
  const int64_t bytes = databytes(r);
  int64_t row = static_cast<int64_t>(r->Datdims[0]) * (r->Wsiz & 63) / 8;
  if (kind & (K_IMAGE | K_SOLID)) {
    if (mk == MK_WIN) {
      const Wport* w = devwin(r->Idx);
      if (!w) return kind;
      const PwRec* o = winimg(w);
      if (!o) {
        error(0, 205);
        return kind;
      }
      // Its data lies in the window's image; the block buffers carry it
      // here, so the record keeps its kind (flag 4 would make the buffers'
      // address a machine pointer).
      row = o->rowbytes;
    } else {
      row = bytes;
    }
  }
  trcint(TRC, "GDEVvb", r->Idx, kind, cnt, static_cast<int>(row), static_cast<int>(bytes), 0);

  // The block: the record's size (4096 by default) in whole rows when a row
  // fits in it, at most the data.
  BufRec* b = bufrec(r);
  int64_t bs = b && b->Rsiz > 0 ? b->Rsiz : 4096;
  if (row > 0 && row < bs) bs = bs / row * row;
  bs = std::min(bs, bytes);
  const bool one = 3 * bs > bytes || bs >= 3411;
  const int sbit = r->Stack == 0 ? 1 : 0;
  // Every record has buffers of its own, never those of another record of
  // the same device: two windows of one device variable in one command (type
  // veclut(0:5) veclut(255)) are read side by side, and a block one of them
  // loads must not replace the block the other is still reading. The device
  // holds the data, so each reads what the device has.
  if (!b) {
    b = static_cast<BufRec*>(zeroblk(static_cast<int32_t>(sizeof(BufRec)) | sbit));
    if (!b) {
      error(99, 42);
      return kind;
    }
    r->Bufp = static_cast<int32_t>(b->BPTR);
  }
  // The record is its buffers' one user: a write reads its block first, so
  // that the items of the block it does not write keep the device's values.
  if (b->Lnks < 1) b->Lnks = 1;
  if (one) b->Actv = static_cast<uint8_t>(b->Actv | 0x40);
  b->Rsiz = 0;
  if (chgbuf(r, static_cast<int32_t>(bs), sbit) != bs) {
    if (!(state & ST_ERROR)) error(99, 42);
    return kind;
  }
  trcint(TRC, "Gdevvb", r->Idx, b->Rsiz, b->Actv, 0, 0, 0);
  r->Rwds = static_cast<int32_t>(static_cast<int64_t>(b->Rsiz) * 8 / bits);
  *wsiz = r->Wsiz;
  *total = cnt;
  trcint(TRC, "GdEvVb", r->Idx, cnt, r->Rwds, r->Wsiz, 0, 0);
  return kind;
}

int devio(PtrRec* r, int i, int dir) {
  BufRec* b = r ? bufrec(r) : nullptr;
  if (!b || b->Rsiz < 1 || b->Bufdims[0] < 1 || i < 0 || i > 2 || b->B[i].Blk < 1) return 0;
  auto* base = static_cast<uint8_t*>(stkptr(static_cast<int32_t>(r->Addr)));
  if (!base) return 0;
  uint8_t* buf = base + static_cast<int64_t>(i) * b->Rsiz;
  const int64_t off = static_cast<int64_t>(b->B[i].Blk - 1) * b->Rsiz;
  const int64_t len = std::min<int64_t>(b->Rsiz, databytes(r) - off);
  const int mem = static_cast<int>(r->Mptr & 0xFFFF);
  trcint(TRC, "devio", r->Idx, mem, i, b->B[i].Blk, dir, static_cast<int>(len));
  if (len < 1) return 0;
  if (mem < 100 && !(r->Flg & (K_ARRAY | K_IMAGE))) return parmio(mem, buf, off, len, dir);
  // Window memory: the memory number is the device number, 100 and up.
  if (r->Idx >= 100) return lutio(mem, buf, off, len, dir, 4);
  if (r->Flg & K_IMAGE) {
    // Image-processor memory: the page is selected, no data moves (a read
    // finds nothing there: zeros).
    ippage(mem, static_cast<int>(off >> 16));
    if (dir == 1) std::memset(buf, 0, static_cast<size_t>(len));
    trcint(TRC, "imgio", mem, static_cast<int>(off), dir, 0, 0, 0);
    return 0;
  }
  trcint(TRC, "deVIO", mem, static_cast<int>(off), static_cast<int>(len), dir, scrbits, 0);
  if (mem == 128) {
    memio(buf, vcmap, sizeof vcmap, off, len, dir);
  } else if (mem == 512) {
    memio(buf, sunblk, sizeof sunblk, off, len, dir);
  } else if (scrbits > 8) {
    // Deep screens: the bytes of the program colour table as they are.
    trcint(TRC, "DEVio", mem, static_cast<int>(off), static_cast<int>(len), dir, 0, 0);
    memio(buf, progctab(), 256 * 4, off, len, dir);
  } else {
    // Screens of 8 bits or less: one byte an entry, the byte the memory
    // number selects (256: byte 2 of each entry).
    return lutio(mem / 100 * 100, buf, off, len, dir, 1);
  }
  return 0;
}

int ippage(int mem, int page) {
  trcint(TRC, "ippage", mem, page, 0, 0, 0, 0);
  return 0;
}

int hardop(int op, int nops) {
  if (op != 115 || !optab) return 0;
  const PtrRec* s = oprec(0);
  const PtrRec* d = oprec(2);
  trcint(TRC, "hardop", op, nops, s ? s->Flg : 0, d ? d->Flg : 0, 0, 0);
  if (!s || !d || s->Flg != K_CONST) return 0;
  if ((d->Flg & 0x1200) != 0x200 || d->Addr != 0) return 0;
  const int64_t w = d->Offs[3] ? d->Offs[3] : d->Datdims[0];
  const int64_t h = d->Offs[4] ? d->Offs[4] : std::max<uint32_t>(d->Datdims[1], 1);
  if (w < 16) return 0;
  dopause();
  int32_t v;
  if (s->Wsiz == 96) {
    float f;
    std::memcpy(&f, &s->Addr, 4);
    v = static_cast<int32_t>(std::clamp<double>(f, INT32_MIN, INT32_MAX));
  } else {
    v = static_cast<int32_t>(s->Addr);
  }
  // Window 0's image memory over the variable's rectangle.
  const int32_t r[4] = {static_cast<int32_t>(d->Offs[0]), static_cast<int32_t>(d->Offs[1]),
                        static_cast<int32_t>(d->Offs[0] + std::min<int64_t>(w, 32767) - 1),
                        static_cast<int32_t>(d->Offs[1] + std::min<int64_t>(h, 32767) - 1)};
  pixset(wport(0), static_cast<uint32_t>(v), r);
  return 1;
}

int setcam(int n) {
  int r;
  if (n == 20) {
    r = devstb4();
  } else if (n >= 1 && n <= 10) {
    r = devstb1();
  } else if (n != 0) {
    r = -1;
  } else {
    // Closing: the open device is closed, and the camera is off after it.
    if (devflg & 0x200) {
      if (camera == 20)
        devstb6();
      else if (camera >= 1 && camera <= 9)
        devstb3();
    }
    r = 0;
  }
  if (r >= 1) {
    devflg = static_cast<uint16_t>(devflg | 0x200);
    camera = static_cast<int16_t>(n);
  } else if (r == 0) {
    devflg = static_cast<uint16_t>(devflg & ~0x200);
    camera = 0;
  }
  return r;
}

int hwmove() { return 0; }
int hwline() { return 0; }
int hwtext() { return 0; }
int hwclr() { return 0; }
int ipalustb() { return 0; }
int ipwait() { return 0; }
