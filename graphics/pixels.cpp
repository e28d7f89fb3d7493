// Pixel access to image variables. Plain data in the word memory is read
// in place by its row layout; paged or file-backed data goes through the
// element access.
#include "graphics/pixels.h"

#include <cstring>

#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "graphics/veclist.h"

// The system table's simage entry, found when the system names are made.
static int32_t siment;

int siminit() {
  vlini();
  uint16_t fl = 0;
  int32_t e = GETSYM("simage", 6, &fl, 1);
  siment = e > 0 ? e : 0;
  SymEnt* s = e > 0 ? symptr(e) : nullptr;
  if (!s || s->data > 0) return 0;
  auto* r = static_cast<PtrRec*>(zeroblk(sizeof(PtrRec)));
  if (!r) return 0;
  r->Idx = e;
  s = symptr(e);
  s->data = static_cast<int32_t>(r->PTR);
  ptrstk(static_cast<int32_t>(r->PTR), e + 1);
  return 0;
}

PtrRec* simrec() {
  const SymEnt* s = siment > 0 ? symptr(siment) : nullptr;
  PtrRec* src = s && (s->flags & 0x17F0) == 0x1000 ? ptrrec(s->data) : nullptr;
  if (!src || !(src->Flg & K_DIMS) || (src->Flg & K_LIST)) return nullptr;
  PtrRec* r = mktmp(src, -1);
  if (!r) return nullptr;
  int32_t cnt, part, tot, ws;
  if (!gtvarb(r, &cnt, &part, &tot, &ws, 0) || cnt < 1) return nullptr;
  return r;
}

int32_t getpix(PtrRec* r, int32_t x, int32_t y) {
  if (!r || x < 0 || y < 0 || static_cast<uint32_t>(x) >= r->Datdims[0] ||
      static_cast<uint32_t>(y) >= (r->Datdims[1] ? r->Datdims[1] : 1))
    return 0;
  int ws = r->Wsiz;
  const uint8_t* base = bufrec(r) ? nullptr : dat0(r);
  if (base && (ws == W_BYTE || ws == W_SHORT || ws == W_LONG || ws == W_FLOAT)) {
    size_t i = static_cast<size_t>(y) * r->Datdims[0] + static_cast<size_t>(x);
    switch (ws) {
      case W_BYTE: return base[i];
      case W_SHORT: {
        int16_t v;
        std::memcpy(&v, base + 2 * i, 2);
        return v;
      }
      case W_LONG: {
        int32_t v;
        std::memcpy(&v, base + 4 * i, 4);
        return v;
      }
      default: {
        float v;
        std::memcpy(&v, base + 4 * i, 4);
        return ftrunc(v);
      }
    }
  }
  // Other layouts through the element access, relative to the window.
  int32_t wx = x - static_cast<int32_t>(r->Offs[0]), wy = y - static_cast<int32_t>(r->Offs[1]);
  if (wx < 0 || wy < 0 || static_cast<uint32_t>(wx) >= r->Offs[3] ||
      static_cast<uint32_t>(wy) >= (r->Offs[4] ? r->Offs[4] : 1))
    return 0;
  if (!setxy(r, wx, wy, 1)) return 0;
  return ftrunc(GSTACK(r));
}
