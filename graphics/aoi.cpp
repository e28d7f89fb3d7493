// Boxes and areas of interest: getbox, and the function mask (setaoi,
// domask) with its mask record.
#include <algorithm>
#include <cstring>

#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/fill.h"
#include "graphics/pen.h"
#include "graphics/redraw.h"
#include "graphics/sketch.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"
#include "graphics/writers.h"
#include "lang/mainloop.h"
#include "ui/events.h"
#include "ui/keys.h"
#include "ui/platform/backend.h"
#include "ui/screen.h"

// ---- getbox ---------------------------------------------------------------------

int getbox(int16_t* box, int mode, int width, int height) {
  const uint16_t savflg = curflg;
  VecWin vw;
  int16_t a[3] = {}, b[3] = {};
  int r = -1;
  // A pick's button, 129 for Enter; below 128 for a key.
  auto button = [](int k) {
    k &= 0xFF;
    return k == 13 ? 129 : k;
  };
  if (width >= 2 && height >= 2) {
    // A box of fixed size, placed by its first corner.
    Boxcur(0, 0, 1);
    Boxcur(width - 1, height - 1, -7);
    const int k = button(curvec(a, 0));
    if (k >= 128 && !stopped()) {
      b[0] = static_cast<int16_t>(std::min(a[0] + width - 1, 32767));
      b[1] = static_cast<int16_t>(std::min(a[1] + height - 1, 32767));
      b[2] = a[2];
      r = 0;
    }
  } else {
    // The rubber band: the first pick sets the first corner, the second
    // (the box cursor on: it carries the drag flag) the second corner;
    // the right button switches between sizing and moving the box.
    bool have = false, moving = false;
    flushq();
    for (;;) {
      // Without a pointer nothing can drive the band; at the end of the
      // scripted and typed input it ends without a box.
      if (!backend()->pointer() || inend()) break;
      int16_t p[3];
      int k = curvec(p, -1);
      if (stopped()) break;
      const int c = button(k);
      if (c < 128) break;
      // The pick that the end of input gives is no click.
      if (inend() && (c == 130 || c == 138)) break;
      if (have && boxon()) k |= 0x100;
      if (c == 130 || c == 138) {
        if (have) {
          // The pick moved the pointer: what moved so far goes with it.
          if (moving) {
            for (int i = 0; i < 2; i++) a[i] = static_cast<int16_t>(a[i] + p[i] - b[i]);
          }
          b[0] = p[0];
          b[1] = p[1];
          b[2] = p[2];
          moving = !moving;
          if (moving) setcurs(b[0], b[1]);
          Boxcur(b[0], b[1], moving ? -4 : -3);
        }
      } else if (!(k & 0x100)) {
        std::memcpy(a, p, sizeof a);
        std::memcpy(b, p, sizeof b);
        have = true;
        Boxcur(0, 0, 1);
        Boxcur(p[0], p[1], -3);
      } else {
        if (moving)
          for (int i = 0; i < 2; i++) a[i] = static_cast<int16_t>(a[i] + p[i] - b[i]);
        std::memcpy(b, p, sizeof b);
        r = 0;
        break;
      }
      chkio(0);
      flushq();
    }
  }
  Boxcur(0, 0, 0);
  curflg = savflg;
  if (r < 0) return -1;
  int16_t x1 = std::min(a[0], b[0]), x2 = std::max(a[0], b[0]);
  int16_t y1 = std::min(a[1], b[1]), y2 = std::max(a[1], b[1]);
  if (mode & 1) {
    // Window coordinates to image coordinates.
    x1 = static_cast<int16_t>(x1 >> zoomsh[0]);
    x2 = static_cast<int16_t>(x2 >> zoomsh[0]);
    y1 = static_cast<int16_t>(y1 >> zoomsh[1]);
    y2 = static_cast<int16_t>(y2 >> zoomsh[1]);
  }
  if (box) {
    if (mode == 2) {
      const int16_t v[6] = {x1, y1, a[2], x2, y2, b[2]};
      std::memcpy(box, v, sizeof v);
    } else {
      const int16_t v[4] = {x1, y1, x2, y2};
      std::memcpy(box, v, sizeof v);
    }
  }
  return 0;
}

// ---- The mask function ----------------------------------------------------------

namespace {

// The mask record (aoirec) of the outline form: a record of kind 4224 with
// 1-bit items over the outline's bounding box (rows of Datdims[0] bits,
// high bit first, a set bit inside), its window the part the view covers.
// It lives in the scratch area with the mask; 0 when the area is a box.
int32_t aoiadr = 0;

// Whether destination handle d is a named variable with data of its own,
// and whether it is a pointer variable (a view, no data of its own).
bool nameddst(int32_t d, bool* pointer) {
  *pointer = false;
  const PtrRec* r = ptrrec(d);
  if (!r) return false;
  const SymEnt* s = r->Idx > 0 ? symptr(r->Idx) : nullptr;
  if ((s && (s->flags & 0x17F0) == 0x1000) || !(r->Flg & K_DATA)) {
    *pointer = true;
    return false;
  }
  return (r->Flg & K_NAMED) && r->Idx > 0;
}

}  // namespace

int32_t xorpath(int add) {
  const int16_t g = gflags, xf = xorflg;
  // Drawn by XOR, so that drawing it again erases it.
  gflags = static_cast<int16_t>(g | 0x180);
  xorflg = static_cast<int16_t>(xf | 0x80);
  setpxf(gflags);
  const int32_t s0 = nvecs;
  sketch(SKM_OUTLINE, add);
  if (nvecs > s0) {
    VecPort vp;
    redraw(nvecs - s0);
  }
  gflags = g;
  xorflg = xf;
  setpxf(gflags);
  return s0;
}

int setaoi(int32_t dest) {
  int32_t* t = optab;
  aoiadr = 0;
  // #0: the elements copied, none until the copy (an area refused or
  // never picked copies none).
  setres(0, 0);
  if (!t) return -1;
  const int mode = intarg(5, 0);
  bool ptrd = false;
  const bool named = nameddst(dest, &ptrd);
  if (mode != 0 && !named) {
    error(5, 140);
    return -1;
  }
  PtrRec* src = oprec(0);
  if (!src || !(t[OT_KIND] & K_DIMS) || (t[OT_KIND] & (K_LIST | K_VECTOR))) {
    error(2, 35);
    return -1;
  }
  const int ret = mode != 0 ? 2 : (argtyp(6, nullptr) && (dest <= 0 || ptrd) ? 0 : 1);
  int16_t box[4] = {0, 0, 0, 0};
  uint8_t* mask = nullptr;
  if (intarg(3, 0) != 0) {
    const int32_t s0 = xorpath(0);
    if (nvecs > s0 && !stopped()) mask = paint(s0, nvecs - s0, 0, FILL_MASK, 0, box);
    nvecs = s0;
    setnvec(-1, s0);
    if (!mask) {
      if (!stopped()) state |= ST_STOP;
      return -1;
    }
  } else {
    int16_t b[6] = {};
    if (getbox(b, 0, 0, 0) < 0 || stopped()) {
      if (!stopped()) state |= ST_STOP;
      return -1;
    }
    std::memcpy(box, b, sizeof box);
  }
  // The view: the box taken from the source's window origin; it may reach
  // past the window into the rest of the array, never past the array.
  PtrRec* v = mktmp(src, -1);
  if (!v) return -1;
  int32_t off[2];
  for (int k = 0; k < 2; k++) {
    const int64_t full = std::max<uint32_t>(src->Datdims[k], 1);
    const int64_t base = src->Offs[k];
    int64_t s = base + box[k], e = base + box[k + 2];
    if (e < 0 || s >= full) {
      error(3, 155);
      return -1;
    }
    off[k] = static_cast<int32_t>(s < 0 ? -s : 0);
    s = std::max<int64_t>(s, 0);
    e = std::min<int64_t>(e, full - 1);
    v->Offs[k] = static_cast<uint32_t>(s);
    v->Offs[3 + k] = static_cast<uint32_t>(e - s + 1);
  }
  v->Bufsiz = -1;
  if (ldopnd(0, static_cast<int32_t>(v->PTR)) == 0 || t[OT_CNT] < 1) {
    if (!(state & ST_ERROR)) error(3, 155);
    return -1;
  }
  t[OT_RCNT] = t[OT_CNT];
  if (mask) {
    auto* a = static_cast<PtrRec*>(zeroblk(static_cast<int32_t>(sizeof(PtrRec)) | 1));
    if (!a) {
      error(0, 42);
      return -1;
    }
    a->Flg = 4224;
    a->Wsiz = W_BIT;
    a->Ndims = 2;
    a->Datdims[0] = static_cast<uint32_t>(box[2] - box[0] + 1);
    a->Datdims[1] = static_cast<uint32_t>(box[3] - box[1] + 1);
    a->Datdims[2] = 1;
    a->Offs[0] = static_cast<uint32_t>(off[0]);
    a->Offs[1] = static_cast<uint32_t>(off[1]);
    a->Offs[3] = v->Offs[3];
    a->Offs[4] = std::max<uint32_t>(v->Offs[4], 1);
    a->Offs[5] = 1;
    a->Length = static_cast<int32_t>(a->Offs[3] * a->Offs[4]);
    a->Tot = a->Datdims[0] * a->Datdims[1];
    a->Data0 = bytadr(stkadr(mask));
    aoiadr = static_cast<int32_t>(a->PTR);
  }
  return ret;
}

namespace {

// Whether element (x, y) of the view lies inside the area.
struct Inside {
  const PtrRec* a = nullptr;
  const uint8_t* bits = nullptr;
  float thr = 0.0f;
  bool operator()(uint32_t x, uint32_t y) const {
    if (!a) return true;
    const uint64_t i = static_cast<uint64_t>(a->Offs[1] + y) * a->Datdims[0] + a->Offs[0] + x;
    const float m = static_cast<float>((bits[i >> 3] >> (7 - (i & 7))) & 1);
    return m > thr;
  }
};

// Plain items in word memory that a row run can be copied from at once.
bool plain(const PtrRec* r) {
  return !bufrec(r) && !(r->Flg & K_FILE) &&
         (r->Wsiz == W_BYTE || r->Wsiz == W_SHORT || r->Wsiz == W_LONG || r->Wsiz == W_FLOAT);
}

}  // namespace

int domask(int mode) {
  int32_t* t = optab;
  PtrRec* src = t ? oprec(0) : nullptr;
  PtrRec* dst = t ? oprec(2) : nullptr;
  setres(0, 0);
  if (!src || !dst) return -1;
  Inside in;
  in.thr = fltarg(4, 0.0f);
  if (const auto* a = static_cast<const PtrRec*>(ptrrec(aoiadr))) {
    in.a = a;
    in.bits = dat0(a);
    if (!in.bits) in.a = nullptr;
  }
  const uint32_t nx = std::max<uint32_t>(src->Offs[3], 1), ny = std::max<uint32_t>(src->Offs[4], 1);
  const uint32_t nz = std::max<uint32_t>(src->Offs[5], 1);
  int32_t cnt = 0, part = 0, tot = 0, ws = 0;
  gtvarb(src, &cnt, &part, &tot, &ws, 0);
  const int64_t view = static_cast<int64_t>(nx) * ny * nz;
  // Packing collects the inside items first, in the source's item size
  // (whole bytes) or as 32-bit integers, then the destination takes them.
  const int pw = plain(src) ? static_cast<int>(src->Wsiz) : static_cast<int>(W_LONG);
  const int pb = (pw & 63) / 8;
  uint8_t* pack = nullptr;
  if (mode == 1) {
    pack = static_cast<uint8_t*>(getbuf(static_cast<int32_t>(std::min<int64_t>(view * pb + 4, INT32_MAX))));
    if (!pack) {
      error(0, 42);
      return -1;
    }
  }
  int32_t dlen = 0;
  gtvarb(dst, &dlen, &part, &tot, &ws, 1);
  dlen = dst->Length;
  const bool fast = plain(src) && plain(dst) && src->Wsiz == dst->Wsiz;
  const int eb = (src->Wsiz & 63) / 8;
  int64_t copied = 0;
  for (uint32_t z = 0; z < nz && !stopped(); z++) {
    for (uint32_t y = 0; y < ny && !stopped(); y++) {
      uint32_t x = 0;
      while (x < nx) {
        if (!in(x, y)) {
          x++;
          continue;
        }
        uint32_t e = x + 1;
        while (e < nx && in(e, y)) e++;
        // The run x .. e - 1 of inside items.
        const int64_t at = x + static_cast<int64_t>(nx) * (y + static_cast<int64_t>(ny) * z);
        int64_t n = e - x;
        if (mode == 1) {
          for (int64_t i = 0; i < n; i++) {
            const uint8_t* sp = setpos(src, static_cast<int32_t>(at + i));
            if (!sp) break;
            if (pw == src->Wsiz)
              std::memcpy(pack + copied * pb, sp, static_cast<size_t>(pb));
            else
              putitm(igstak(src), pack, W_LONG, static_cast<int32_t>(copied));
            copied++;
          }
        } else {
          // Items whose place lies outside the destination are skipped.
          n = std::min<int64_t>(n, dlen - at);
          if (n > 0) {
            uint8_t* sp = setpos(src, static_cast<int32_t>(at));
            uint8_t* dp = sp ? setpos(dst, static_cast<int32_t>(at)) : nullptr;
            if (fast && sp && dp) {
              std::memmove(dp, sp, static_cast<size_t>(n * eb));
            } else if (sp && dp) {
              for (int64_t i = 0; i < n; i++) {
                setpos(src, static_cast<int32_t>(at + i));
                const int32_t val = igstak(src);
                setpos(dst, static_cast<int32_t>(at + i));
                IPSTAK(val, dst);
              }
            }
            copied += std::max<int64_t>(n, 0);
          }
        }
        x = e;
      }
      if ((y & 63) == 63) chkio(0);
    }
  }
  if (mode == 1) {
    // The destination is made again for what was copied, no more (with
    // nothing copied it keeps the cleared items setout gave it).
    if (copied > 0) putvrb(pack, pw, t[OT_ID + 2], -static_cast<int32_t>(copied));
  } else if (bufrec(dst)) {
    flshio(dst);
  }
  setres(static_cast<int32_t>(std::min<int64_t>(copied, INT32_MAX)), 0);
  return stopped() ? -1 : 0;
}
