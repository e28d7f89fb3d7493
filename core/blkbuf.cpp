// Block buffers: finding the item at a record's position in a buffer or
// loading its block, writing changed buffers back, and the address of the
// current item of variables held in the word memory.
#include "core/blkbuf.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "files/filevar.h"
#include "realtime/devices/devvar.h"

int (*blkio)(PtrRec* r, int i, int dir) = nullptr;

int rsizarg = 0;

namespace {

int nbufs(const BufRec* b) { return (b->Actv & 0x40) ? 1 : 3; }

// Buffers in order of use, most recent first.
int order(const BufRec* b, int* o) {
  if (b->Actv & 0x40) {
    o[0] = 0;
    return 1;
  }
  o[0] = b->Actv & 3;
  o[1] = (b->Actv >> 2) & 3;
  o[2] = (b->Actv >> 4) & 3;
  // A damaged order word still names each buffer once.
  bool seen[4] = {false, false, false, false};
  int n = 0;
  for (int k = 0; k < 3; k++)
    if (o[k] < 3 && !seen[o[k]]) seen[o[k]] = true, o[n++] = o[k];
  for (int i = 0; i < 3; i++)
    if (!seen[i]) o[n++] = i;
  return 3;
}

// Makes buffer i the most recent.
void touch(BufRec* b, int i) {
  if (b->Actv & 0x40) return;
  int o[3];
  order(b, o);
  int n[3] = {i, 0, 0}, k = 1;
  for (int j = 0; j < 3; j++)
    if (o[j] != i) n[k++] = o[j];
  b->Actv = static_cast<uint8_t>(n[0] | (n[1] << 2) | (n[2] << 4));
}

void pacstale(const PtrRec* r);

int xfer(PtrRec* r, int i, int dir) {
  if (blkio) return blkio(r, i, dir);
  if (!(r->Flg & K_FILE)) return devio(r, i, dir);
  int n = filio(r, i, dir);
  if (n >= 0 && dir == 2) pacstale(r);
  return n;
}

// A transfer that failed is reported (unless its layer reported it): 71
// with argument 90 for a write, 91 for a read.
void xferr(int dir) {
  if (!(state & ST_ERROR)) error(dir == 2 ? 90 : 91, 71);
}

// The record whose last blkadr found no buffer for its position: its next
// sizbuf gives 0 usable items, so that no loop reads or writes there.
const PtrRec* nobuf = nullptr;

// The data's dimensions as their blocks hold them: a file keeps each row of
// bit fields, crumbs or nibbles in whole bytes, so its blocks hold the
// items of a row's last byte past the row's end too (no window reaches
// them).
void dimsof(const PtrRec* r, int64_t* g) {
  for (int k = 0; k < 3; k++) g[k] = r->Datdims[k] < 1 ? 1 : r->Datdims[k];
  int bits = r->Wsiz & 63;
  if ((r->Flg & K_FILE) && bits >= 1 && bits < 8) g[0] = (g[0] * bits + 7) / 8 * 8 / bits;
}

// The grid that blocks run over: the window's extents (Bflg 0x2) or the
// data's dimensions; the position is taken relative to the window then.
void grid(const PtrRec* r, const BufRec* b, int64_t* g, int64_t* p) {
  bool win = b->Bflg & 2;
  dimsof(r, g);
  for (int k = 0; k < 3; k++) {
    if (win) g[k] = r->Offs[3 + k] < 1 ? 1 : r->Offs[3 + k];
    p[k] = static_cast<int64_t>(r->XYZptr[k]) - (win ? r->Offs[k] : 0);
  }
}

// --- parts in use ------------------------------------------------------------
//
// Several records (the windows of one command) share one set of buffers.
// Each record's current part lies in one buffer from its Dptr on, and its
// caller reads or writes it item by item, loading other records' parts in
// between. A buffer that holds another record's unused items is given up
// only when every buffer does: those items are then copied aside (the
// record's spill) and the record goes on there; what a writer stores in
// its spill goes back into its block before its next part.

struct Hold {
  int32_t rec = 0;    // the record (stack address)
  int32_t buf = 0;    // its buffer record
  int slot = -1;      // the buffer its part lies in; -1 spilled or none
  int32_t blk = 0;    // the part's block
  int32_t lo = 0;     // byte reference of the part's first item
  int32_t hi = 0;     // byte reference past its last item
  bool wr = false;    // the record writes its part
  int32_t spill = 0;  // stack address of the spill block, 0 none
  int32_t cap = 0;    // its bytes
  int32_t off = -1;   // spilled: byte offset in the block of the spill's start
  int32_t len = 0;    // spilled bytes
};
std::vector<Hold> holds;

Hold* holdof(const PtrRec* r) {
  int32_t a = stkadr(r);
  for (Hold& h : holds)
    if (h.rec == a) return &h;
  return nullptr;
}

// Whether hold h still has items to use in buffer slot of buffer record buf.
bool live(const Hold& h, int32_t buf, int slot) {
  if (h.buf != buf || h.slot != slot || h.hi <= h.lo) return false;
  const PtrRec* q = ptrrec(h.rec);
  return q && q->Bufp == buf && q->Dptr >= h.lo && q->Dptr < h.hi;
}

bool held(const BufRec* b, int slot, const PtrRec* r) {
  int32_t me = stkadr(r), buf = static_cast<int32_t>(b->BPTR);
  for (const Hold& h : holds)
    if (h.rec != me && live(h, buf, slot)) return true;
  return false;
}

// Copies the unused items of hold h aside; false without room (error 42).
bool spill(Hold& h, const PtrRec* r) {
  PtrRec* q = ptrrec(h.rec);
  int32_t n = h.hi - q->Dptr;
  if (h.cap < n) {
    void* p = getbuf(n);
    if (!p) {
      error(0, 42);
      return false;
    }
    h.spill = stkadr(p);
    h.cap = n;
  }
  int32_t base = addref(r->Data0, static_cast<int64_t>(h.slot) * bufrec(r)->Rsiz);
  std::memcpy(stkptr(h.spill), membyt(q->Dptr), static_cast<size_t>(n));
  h.off = q->Dptr - base;
  h.len = n;
  h.slot = -1;
  q->Dptr = bytadr(h.spill);
  return true;
}

// Spills the records (but r) that still use buffer slot of r's buffers, or
// every buffer for slot -1.
bool spills(PtrRec* r, int slot) {
  BufRec* b = bufrec(r);
  if (!b) return true;
  int32_t me = stkadr(r), buf = static_cast<int32_t>(b->BPTR);
  for (Hold& h : holds) {
    if (h.rec == me) continue;
    for (int k = 0; k < 3; k++)
      if ((slot < 0 || slot == k) && live(h, buf, k) && !spill(h, r)) return false;
  }
  return true;
}

// What record r wrote in its spill goes back into its block; the spill is
// then done with.
void unspill(PtrRec* r) {
  Hold* h = holdof(r);
  if (!h || h->off < 0) return;
  int32_t n = h->wr ? r->Dptr - bytadr(h->spill) : 0;
  if (n > 0 && r->Bitp) n++;
  if (n > h->len) n = h->len;
  int32_t off = h->off, blk = h->blk, src = h->spill;
  h->off = -1;
  h->slot = -1;
  if (n <= 0) return;
  BufRec* b = bufrec(r);
  if (!b || static_cast<int32_t>(b->BPTR) != h->buf) return;
  int i = getblk(r, blk, 3);
  if (i < 0) return;
  uint8_t* to = membyt(addref(r->Data0, static_cast<int64_t>(i) * b->Rsiz + off));
  std::memcpy(to, stkptr(src), static_cast<size_t>(n));
  b->F[i] = 2;
}

}  // namespace

bool blkwin(const PtrRec* r, int32_t blk) {
  const BufRec* b = bufrec(r);
  if (!b || blk < 1 || r->Rwds < 1) return false;
  // Blocks that follow the window hold window items only.
  if (b->Bflg & 2) return true;
  int64_t g[3], o[3], e[3];
  dimsof(r, g);
  for (int k = 0; k < 3; k++) {
    o[k] = r->Offs[k];
    // A row's pad items are no window's: a block that holds them is read
    // before it is written.
    int64_t x = r->Offs[3 + k], d = r->Datdims[k] < 1 ? 1 : r->Datdims[k];
    e[k] = o[k] + (x < 1 ? d - o[k] : x);
  }
  int64_t layer = g[0] * g[1];
  int64_t first = static_cast<int64_t>(blk - 1) * r->Rwds;
  int64_t last = narrow(static_cast<wide>(first) + r->Rwds - 1);
  int64_t total = narrow(static_cast<wide>(layer) * g[2]);
  if (last >= total) last = total - 1;  // items past the data do not exist
  if (last < first) return true;
  auto at = [&](int64_t l, int64_t* p) {
    p[0] = l % g[0];
    p[1] = (l / g[0]) % g[1];
    p[2] = l / layer;
  };
  int64_t a[3], z[3];
  at(first, a);
  at(last, z);
  auto inside = [&](int k, int64_t v0, int64_t v1) { return v0 >= o[k] && v1 < e[k]; };
  bool fullx = o[0] == 0 && e[0] >= g[0], fully = o[1] == 0 && e[1] >= g[1];
  if (a[2] == z[2] && a[1] == z[1]) return inside(0, a[0], z[0]) && inside(1, a[1], a[1]) && inside(2, a[2], a[2]);
  if (!fullx) return false;
  if (a[2] == z[2]) return inside(1, a[1], z[1]) && inside(2, a[2], a[2]);
  return fully && inside(2, a[2], z[2]);
}

int32_t setadr(PtrRec* r, int64_t index) {
  int bits = r->Wsiz & 63;
  int64_t bitoff = narrow(static_cast<wide>(index) * bits);
  int64_t off = bitoff / 8;
  if (bits % 8) r->Bitp = static_cast<uint8_t>(bitoff % 8);
  r->Dptr = r->Data0 < 0 ? addref(0, off) : addref(r->Data0, off);
  return addref(0, off);
}

int ptradr(PtrRec* r) {
  int64_t dx = r->Datdims[0] ? r->Datdims[0] : 1, dy = r->Datdims[1] ? r->Datdims[1] : 1;
  int64_t x = r->XYZptr[0], y = r->XYZptr[1], z = r->XYZptr[2];
  int64_t idx = narrow((static_cast<wide>(z) * dy + y) * dx + x);
  int64_t off = setadr(r, idx);
  int64_t rem = static_cast<int64_t>(r->Tot) - idx;
  int bits = r->Wsiz & 63;
  if (bits == 0) bits = 8;

  if (r->Page) {
    int64_t pgb = static_cast<int64_t>(r->Page / 32) * 128;
    if (pgb > 0) {
      int32_t a = static_cast<int32_t>(r->Addr);
      int64_t in;
      if (a > 0) {
        in = (off + (static_cast<int64_t>(a) - HIMEM_BASE) * 4) % pgb;
      } else {
        int64_t page = off / pgb;
        in = off % pgb;
        if (page + 1 != (r->Page & 7)) {
          r->Page = static_cast<uint16_t>((r->Page & ~7) | ((page + 1) & 7));
          if (r->Idx >= 9) ippage(r->Idx - 10, static_cast<int>(page));
        }
        r->Dptr = r->Data0 < 0 ? addref(0, in) : addref(r->Data0, in);
      }
      // Up to the page's end, the item that crosses it included: the pages
      // of high memory lie one after the other in the process's memory, so
      // an item of three or eight bytes that starts before a page's end is
      // whole behind its address.
      int64_t cap = ((pgb - in) * 8 + bits - 1) / bits;
      if (rem > cap) rem = cap;
    }
  }

  // A part never leaves the window: on the first axis the window does not
  // span, the run ends at the window's edge.
  int nd = r->Ndims < 1 ? 1 : (r->Ndims > 3 ? 3 : r->Ndims);
  wide prod = 1, lin = 0;
  for (int k = 0; k < nd; k++) {
    int64_t dim = r->Datdims[k] ? r->Datdims[k] : 1;
    int64_t ext = r->Offs[3 + k], org = r->Offs[k], pos = r->XYZptr[k];
    if (ext < dim) {
      int64_t cap = narrow((ext + org - pos) * prod - lin);
      if (rem > cap) rem = cap;
      break;
    }
    lin += pos * prod;
    prod *= dim;
  }
  int64_t most = 131072 / bits;
  if (rem > most) rem = most;
  if (rem < 0) rem = 0;
  r->Bufsiz = static_cast<int32_t>(rem);
  return 0;
}

int32_t inbloc(const BufSlot* s, const uint32_t* org, const uint32_t* pos) {
  if (s->Blk < 1) return -1;
  int64_t sx = static_cast<uint16_t>(s->Siz[0]), sy = static_cast<uint16_t>(s->Siz[1]),
          sz = static_cast<uint16_t>(s->Siz[2]);
  int64_t dx = static_cast<int64_t>(pos[0]) - org[0];
  if (dx < 0 || dx >= sx) return -1;
  int64_t dy = static_cast<int64_t>(pos[1]) - org[1];
  if (dy < 0 || dy >= sy) return -1;
  int64_t i = static_cast<uint16_t>(s->I0) + dx + dy * sx;
  if (pos[2] != org[2]) {
    int64_t dz = static_cast<int64_t>(pos[2]) - org[2];
    if (dz < 0 || dz >= sz) return -1;
    i += dz * sx * sy;
  }
  return static_cast<int32_t>(i);
}

int32_t blknum(const PtrRec* r, uint32_t* offset) {
  const BufRec* b = bufrec(r);
  int64_t g[3], p[3];
  if (b) {
    grid(r, b, g, p);
  } else {
    dimsof(r, g);
    for (int k = 0; k < 3; k++) p[k] = r->XYZptr[k];
  }
  int64_t L = narrow((static_cast<wide>(p[2]) * g[1] + p[1]) * g[0] + p[0]);
  int64_t rw = r->Rwds > 0 ? r->Rwds : 1;
  *offset = static_cast<uint32_t>(L % rw);
  return static_cast<int32_t>(L / rw + 1);
}

int getblk(PtrRec* r, int32_t blk, int mode) {
  BufRec* b = bufrec(r);
  if (!b) return 0;
  int nb = nbufs(b);
  int i = -1;
  for (int k = 0; k < nb; k++)
    if (b->B[k].Blk == blk) i = k;
  if (i < 0) {
    // The least recently used buffer that no other record still reads or
    // writes in; when each does, the least recently used one, whose
    // records go on in their spills.
    int o[3];
    order(b, o);
    i = o[nb - 1];
    for (int k = nb - 1; k >= 0; k--)
      if (!held(b, o[k], r)) {
        i = o[k];
        break;
      }
    if (b->F[i] == 2) {
      // A buffer whose changes cannot be written keeps them (and its
      // block); nothing else is loaded into it.
      if (xfer(r, i, 2) < 0) {
        xferr(2);
        return -1;
      }
      b->F[i] = 0;
    }
    if (!spills(r, i)) return -1;
    b->B[i].Blk = static_cast<int16_t>(blk);
    // A write reads the block first unless every item of it will be
    // written: the window's block fills the buffer, nobody else uses the
    // buffers, and the block lies wholly inside the window (items of the
    // block outside the window would otherwise be written back unread).
    int m = mode;
    if (m == 2 && (static_cast<int64_t>(b->Bksiz) < r->Rwds || b->Lnks >= 1 || !blkwin(r, blk)))
      m = 3;
    if ((m & 1) && xfer(r, i, 1) < 0) {
      // What a failed read left in the buffer is nothing: it is empty.
      b->B[i].Blk = 0;
      b->F[i] = 0;
      xferr(1);
      return -1;
    }
  }
  touch(b, i);
  return i;
}

int blkxyz(PtrRec* r, BufSlot* s, uint32_t* org, int32_t offset) {
  BufRec* b = bufrec(r);
  if (!b || s->Blk < 1 || r->Rwds < 1) return 0;
  int64_t g[3], p[3];
  grid(r, b, g, p);
  int64_t rw = r->Rwds;
  int64_t start = static_cast<int64_t>(s->Blk - 1) * rw, end = start + rw;
  int64_t L = start + offset;
  int64_t nx = g[0], ny = g[1], layer = narrow(static_cast<wide>(nx) * ny);
  int64_t x = L % nx, y = (L / nx) % ny, z = L / layer;
  int64_t rs = L - x;  // start of the row
  int64_t ox, oy, oz, sx, sy, sz, first;
  if (rs >= start && rs + nx <= end) {
    // Whole rows: as many around the position as the block holds, within
    // the layer; whole layers when the block holds the position's layer.
    int64_t ls = z * layer;
    if (ls >= start && ls + layer <= end) {
      int64_t z0 = z - (ls - start) / layer, z1 = z + (end - ls - layer) / layer;
      ox = 0, oy = 0, oz = z0, sx = nx, sy = ny, sz = z1 - z0 + 1;
      first = z0 * layer;
    } else {
      int64_t y0 = y, y1 = y;
      while (y0 > 0 && rs - (y - y0 + 1) * nx >= start) y0--;
      while (y1 + 1 < ny && rs + (y1 - y + 2) * nx <= end) y1++;
      ox = 0, oy = y0, oz = z, sx = nx, sy = y1 - y0 + 1, sz = 1;
      first = z * layer + y0 * nx;
    }
  } else {
    // The part of the position's row that lies in the block.
    int64_t a = rs > start ? rs : start, e = rs + nx < end ? rs + nx : end;
    ox = a - rs, oy = y, oz = z, sx = e - a, sy = 1, sz = 1;
    first = a;
  }
  int64_t i0 = first - start;
  // Box fields are 16 bits: a box that cannot be described stays empty,
  // and the position is then found through its block number.
  if (i0 > 65535 || sx > 65535 || sy > 65535 || sz > 65535) {
    s->I0 = 0;
    s->Siz[0] = s->Siz[1] = s->Siz[2] = 0;
    return 0;
  }
  s->I0 = static_cast<int16_t>(static_cast<uint16_t>(i0));
  s->Siz[0] = static_cast<int16_t>(static_cast<uint16_t>(sx));
  s->Siz[1] = static_cast<int16_t>(static_cast<uint16_t>(sy));
  s->Siz[2] = static_cast<int16_t>(static_cast<uint16_t>(sz));
  bool win = b->Bflg & 2;
  org[0] = static_cast<uint32_t>(ox + (win ? r->Offs[0] : 0));
  org[1] = static_cast<uint32_t>(oy + (win ? r->Offs[1] : 0));
  org[2] = static_cast<uint32_t>(oz + (win ? r->Offs[2] : 0));
  return 0;
}

uint8_t* blkadr(PtrRec* r, int mode) {
  BufRec* b = bufrec(r);
  if (!b) return nullptr;
  unspill(r);
  int o[3], n = order(b, o), i = -1;
  int32_t k = -1;
  for (int j = 0; j < n && k < 0; j++) {
    k = inbloc(&b->B[o[j]], b->Org[o[j]], r->XYZptr);
    if (k >= 0) i = o[j];
  }
  if (k >= 0) {
    touch(b, i);
  } else {
    uint32_t off;
    int32_t blk = blknum(r, &off);
    i = getblk(r, blk, mode);
    if (i < 0) {
      nobuf = r;
      return dptr(r);
    }
    blkxyz(r, &b->B[i], b->Org[i], static_cast<int32_t>(off));
    k = static_cast<int32_t>(off);
  }
  if (mode & 2) b->F[i] = 2;
  if (nobuf == r) nobuf = nullptr;
  setadr(r, narrow(static_cast<wide>(i) * r->Rwds + k));
  // The part from here is in use until sizbuf says how far it reaches.
  Hold* h = holdof(r);
  if (!h) {
    // A long command (a real-time run) makes many records: those whose
    // parts are used up and that have nothing to write back go.
    if (holds.size() >= 64)
      std::erase_if(holds, [](const Hold& o) { return o.off < 0 && !live(o, o.buf, o.slot); });
    holds.push_back(Hold{});
    h = &holds.back();
    h->rec = stkadr(r);
  }
  h->buf = static_cast<int32_t>(b->BPTR);
  h->slot = i;
  h->blk = b->B[i].Blk;
  h->lo = h->hi = r->Dptr;
  h->wr = mode & 2;
  return dptr(r);
}

// Items usable from the position in the current buffer: up to the end of
// its block, and across a row's end only where the window's next item is
// the block's next item (the window spans the grid's rows).
int32_t sizbuf(PtrRec* r) {
  BufRec* b = bufrec(r);
  if (!b) {
    error(72, 71);
    return 0;
  }
  if (nobuf == r) {
    // The position's block could not be loaded (reported there).
    nobuf = nullptr;
    r->Bufsiz = 0;
    return 0;
  }
  int i = (b->Actv & 0x40) ? 0 : (b->Actv & 3);
  int64_t run = 0;
  if (b->B[i].Blk >= 1 && r->Rwds >= 1) {
    int64_t g[3], p[3];
    grid(r, b, g, p);
    bool win = b->Bflg & 2;
    int64_t L = narrow((static_cast<wide>(p[2]) * g[1] + p[1]) * g[0] + p[0]);
    int64_t end = static_cast<int64_t>(b->B[i].Blk) * r->Rwds;
    run = end - L;
    // Window in grid coordinates.
    int64_t wo[3], we[3];
    for (int k = 0; k < 3; k++) {
      wo[k] = win ? 0 : static_cast<int64_t>(r->Offs[k]);
      int64_t e = r->Offs[3 + k];
      we[k] = e < 1 ? g[k] : e;
    }
    int64_t inwin;
    if (wo[0] == 0 && we[0] >= g[0]) {
      if (wo[1] == 0 && we[1] >= g[1])
        inwin = narrow(static_cast<wide>(wo[2] + we[2] - p[2]) * g[0] * g[1] -
                       static_cast<wide>(p[1]) * g[0] - p[0]);
      else
        inwin = narrow(static_cast<wide>(wo[1] + we[1] - p[1]) * g[0] - p[0]);
    } else {
      inwin = wo[0] + we[0] - p[0];
    }
    if (run > inwin) run = inwin;
    // Never past the current buffer's box: its items lie one after
    // another in the buffer from I0 on.
    const BufSlot& bx = b->B[i];
    int64_t sx = static_cast<uint16_t>(bx.Siz[0]), sy = static_cast<uint16_t>(bx.Siz[1]),
            sz = static_cast<uint16_t>(bx.Siz[2]);
    if (sx > 0 && sy > 0 && sz > 0) {
      int32_t k = inbloc(&bx, b->Org[i], r->XYZptr);
      if (k >= 0) run = std::min<int64_t>(run, static_cast<uint16_t>(bx.I0) + sx * sy * sz - k);
    }
  }
  if (run < 1) {
    error(71, 71);
    run = 0;
  }
  if (run > INT32_MAX) run = INT32_MAX;
  r->Bufsiz = static_cast<int32_t>(run);
  if (Hold* h = holdof(r); h && h->slot == i && h->lo == r->Dptr)
    h->hi = addref(h->lo, (run * (r->Wsiz & 63) + 7) / 8);
  return r->Bufsiz;
}

int flshio(PtrRec* r) {
  if (!r || !(r->Flg & 0x7E9)) return 0;
  BufRec* b = bufrec(r);
  if (!b || (state & (ST_INTR | ST_STOP))) return 0;
  unspill(r);
  int o[3], n = order(b, o);
  for (int j = n - 1; j >= 0; j--) {
    int i = o[j];
    if (b->F[i] == 2 && b->B[i].Blk > 0) {
      // A failed write leaves the buffer changed.
      if (xfer(r, i, 2) < 0)
        xferr(2);
      else
        b->F[i] = 0;
    }
  }
  return 0;
}

// --- the table of active buffers ------------------------------------------
//
// A headed low-stack block: two words {rows, persistent rows}, a marker, then
// the 12-byte rows {key, data address, buffer record}, persistent rows first.

namespace {

constexpr uint32_t PAC_MARK = 0x50414354;
constexpr int32_t PAC_GROW = 20;
int32_t pactbl = 0;  // the block's stack address, 0 none

struct PacRow {
  uint32_t key;
  uint32_t data;
  uint32_t buf;
};

// How the bytes of a file-backed row's file are items: records of one file
// share buffers only where the same bytes are the same items. One per row.
struct Lay {
  uint32_t mptr = 0;
  int32_t wsiz = 0;
  int32_t pad = 0;
  int32_t strip = 0;
  uint32_t dims[3] = {0, 0, 0};
  bool operator==(const Lay&) const = default;
};
std::vector<Lay> lays;

Lay layof(const PtrRec* r) {
  Lay l;
  if (!(r->Flg & K_FILE)) return l;
  const FilRec* f = filrec(r);
  l.mptr = r->Mptr;
  l.wsiz = r->Wsiz;
  l.pad = f ? f->Pad : 0;
  l.strip = f && f->Strip > 0 ? 1 : 0;
  for (int k = 0; k < 3; k++) l.dims[k] = r->Datdims[k] < 1 ? 1 : r->Datdims[k];
  return l;
}

uint32_t* pachdr() {
  if (pactbl <= 0 || fndstk(pactbl) != pactbl - 2 || wordp(pactbl)[2] != PAC_MARK) {
    pactbl = 0;
    lays.clear();
    return nullptr;
  }
  return wordp(pactbl);
}
int32_t paccap() { return (static_cast<int32_t>(*wordp(pactbl - 2)) - 2 - 3) / 3; }
PacRow* pacrow(int32_t k) { return reinterpret_cast<PacRow*>(wordp(pactbl) + 3) + k; }

// A table of `rows` rows holding the old one's rows; false when no room.
bool pacmake(int32_t rows) {
  int32_t a = 0;
  if (getstk(&a, 3 + 3 * rows, 4, 1, 0) < 1 || a <= 0) return false;
  uint32_t* h = wordp(a);
  std::memset(h, 0, static_cast<size_t>(3 + 3 * rows) * 4);
  h[2] = PAC_MARK;
  if (uint32_t* o = pachdr()) {
    std::memcpy(h, o, static_cast<size_t>(3 + 3 * o[0]) * 4);
    putstk(pactbl, 0, 0);
  }
  pactbl = a;
  return true;
}

}  // namespace

namespace {

uint32_t packey(const PtrRec* r) {
  uint32_t who = (r->Flg & K_FILE) ? (filrec(r) ? filrec(r)->Lun : 0u)
                                   : static_cast<uint32_t>(r->Idx) & 0xFFFF;
  return who * 65536u + (r->Flg & ~1u);
}

// Whether row k is for record r: a file-backed record's row is one of the
// same file with the same layout (whatever the kinds), any other record's
// one of the same key. A device record with buffers of its own keeps them
// (the device holds the data, so two pointers to one device variable each
// read what it has): its row is the one of those buffers. A record leaving
// the table (op -1) leaves the row of its buffers (op -2), or else one of
// its key.
bool pacfits(const PtrRec* r, uint32_t key, int32_t k, int op) {
  const PacRow* row = pacrow(k);
  if (op == -2) return r->Bufp > 0 && row->buf == static_cast<uint32_t>(r->Bufp);
  if (!(r->Flg & K_FILE) && op >= 0 && r->Bufp > 0) return row->buf == static_cast<uint32_t>(r->Bufp);
  if (!(r->Flg & K_FILE) || op == -1) return row->key == key;
  return (row->key >> 16) == (key >> 16) && (row->key & K_FILE) && static_cast<size_t>(k) < lays.size() &&
         lays[static_cast<size_t>(k)] == layof(r);
}

// Buffers of the file's other layouts hold what the file held when they
// were read: once a block is written, their clean buffers are emptied, so
// that their next use reads the file again (and a later write of theirs
// does not put back the bytes this one changed).
void pacstale(const PtrRec* r) {
  uint32_t* h = pachdr();
  const FilRec* f = filrec(r);
  if (!h || !f || f->Lun < 1) return;
  for (int32_t k = 0; k < static_cast<int32_t>(h[0]); k++) {
    const PacRow* row = pacrow(k);
    if ((row->key >> 16) != f->Lun || !(row->key & K_FILE) || row->buf == static_cast<uint32_t>(r->Bufp))
      continue;
    auto* b = static_cast<BufRec*>(stkptr(static_cast<int32_t>(row->buf)));
    if (!b) continue;
    for (int i = 0; i < nbufs(b); i++)
      if (b->F[i] != 2) b->B[i].Blk = 0;
  }
}

}  // namespace

BufRec* pacfind(const PtrRec* r) {
  uint32_t* h = pachdr();
  if (!h || !r) return nullptr;
  uint32_t key = packey(r);
  for (int32_t k = 0; k < static_cast<int32_t>(h[0]); k++)
    if (pacfits(r, key, k, 0)) return static_cast<BufRec*>(stkptr(static_cast<int32_t>(pacrow(k)->buf)));
  return nullptr;
}

int pactiv(PtrRec* r, int op) {
  if (!r) return 0;
  BufRec* b = bufrec(r);
  // The table is made for its first row and freed with its last.
  if (!pachdr() && (op == -1 || !b || !pacmake(PAC_GROW))) return 0;
  uint32_t* h = pachdr();
  uint32_t key = packey(r);
  if ((trcmsk & 0x218) == 0x218)
    for (uint32_t k = 0; k < h[0]; k++)
      jprintf(dbglun, " Pactbl\t%2d:  %12ld\t%10ld\tBptr=%10ld\n", static_cast<int>(k),
              static_cast<long>(pacrow(static_cast<int32_t>(k))->key),
              static_cast<long>(pacrow(static_cast<int32_t>(k))->data),
              static_cast<long>(pacrow(static_cast<int32_t>(k))->buf));
  int32_t rows = static_cast<int32_t>(h[0]), pers = static_cast<int32_t>(h[1]);
  int32_t found = -1;
  int32_t to = op == -1 ? pers : rows;
  // The row of the record's own buffers, persistent or not.
  for (int32_t k = 0; op == -1 && k < rows && found < 0; k++)
    if (pacfits(r, key, k, -2)) found = k;
  for (int32_t k = 0; k < to && found < 0; k++) {
    if (!pacfits(r, key, k, op)) continue;
    if (op == 1 && k >= pers) continue;
    found = k;
  }
  if (found >= 0) {
    PacRow* row = pacrow(found);
    if (op == -1) {
      std::memmove(row, row + 1, static_cast<size_t>(rows - found - 1) * sizeof(PacRow));
      if (static_cast<size_t>(found) < lays.size()) lays.erase(lays.begin() + found);
      h[0]--;
      if (found < pers) h[1]--;
      if (h[0] == 0) {
        putstk(pactbl, 0, 0);
        pactbl = 0;
        lays.clear();
      }
      return 0;
    }
    if (!b) {
      // Shares the row's buffers.
      auto* sb = static_cast<BufRec*>(stkptr(static_cast<int32_t>(row->buf)));
      r->Bufp = static_cast<int32_t>(row->buf);
      r->Addr = row->data;
      r->Data0 = bytadr(static_cast<int32_t>(row->data));
      int bits = r->Wsiz & 63;
      r->Rwds = static_cast<int32_t>(static_cast<int64_t>(sb->Rsiz) * 8 / (bits ? bits : 8));
      sb->Lnks++;
    } else if (static_cast<uint32_t>(r->Bufp) != row->buf) {
      error(70, 71);
    }
    return 0;
  }
  if (op == -1 || !b) return 0;
  if (rows >= paccap()) {
    if (!pacmake(rows + PAC_GROW)) return 0;
    h = pachdr();
  }
  PacRow nr{key, r->Addr, static_cast<uint32_t>(r->Bufp)};
  if (b->Lnks < 1) b->Lnks = 1;
  if (op == 1) {
    // At the end of the persistent rows; the per-command rows move down.
    std::memmove(pacrow(pers + 1), pacrow(pers), static_cast<size_t>(rows - pers) * sizeof(PacRow));
    *pacrow(pers) = nr;
    lays.resize(static_cast<size_t>(rows));
    lays.insert(lays.begin() + pers, layof(r));
    h[1]++;
  } else {
    *pacrow(rows) = nr;
    lays.resize(static_cast<size_t>(rows));
    lays.push_back(layof(r));
  }
  h[0]++;
  return 0;
}

void paclay(const PtrRec* r) {
  uint32_t* h = pachdr();
  if (!h || r->Bufp <= 0) return;
  lays.resize(h[0]);
  for (uint32_t k = 0; k < h[0]; k++)
    if (PacRow* row = pacrow(static_cast<int32_t>(k)); row->buf == static_cast<uint32_t>(r->Bufp)) {
      lays[k] = layof(r);
      row->data = r->Addr;
    }
}

int pacrst() {
  // No table and no part in use: nothing to reset (every command's start).
  if (pactbl <= 0 && lays.empty() && holds.empty()) return 0;
  if (uint32_t* h = pachdr()) {
    h[0] = h[1];
    lays.resize(h[1]);
    // A device's data may change between commands (its own stores, other
    // records', other commands'): the buffers of a device pointer are read
    // anew in each command, never taken from one before.
    for (uint32_t k = 0; k < h[1]; k++) {
      const PacRow* row = pacrow(static_cast<int32_t>(k));
      if (row->key & K_FILE) continue;
      if (auto* b = static_cast<BufRec*>(stkptr(static_cast<int32_t>(row->buf))))
        for (int i = 0; i < nbufs(b); i++) b->B[i].Blk = 0, b->F[i] = 0;
    }
  }
  // Parts in use end with the command (their spills are scratch).
  holds.clear();
  return 0;
}

int blkspl(PtrRec* r) {
  BufRec* b = bufrec(r);
  if (!b) return 0;
  flshio(r);
  spills(r, -1);
  return 0;
}

void blkend(const PtrRec* r) {
  int32_t a = stkadr(r);
  std::erase_if(holds, [a](const Hold& h) { return h.rec == a; });
}

int rstbuf(PtrRec* r) {
  BufRec* b = bufrec(r);
  if (!b) return 0;
  blkspl(r);
  b->Actv = (b->Actv & 0x40) ? 0x40 : 6;
  for (int i = 0; i < 3; i++) {
    b->B[i].Blk = static_cast<int16_t>(static_cast<uint16_t>(65535));
    b->F[i] = 0;
  }
  return 0;
}
