// Row conversion between pixel depths, and pixel access to image
// variables: plain data in the word memory is read in place by its row
// layout; paged or file-backed data goes through the element access.
#include "graphics/pixels.h"

#include <cstring>

#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "graphics/veclist.h"

namespace {
uint32_t tabent(const void* table, int32_t tabn, int dbits, uint32_t i) {
  if (!table || static_cast<int64_t>(i) >= tabn) return 0;
  if (dbits == 8) return static_cast<const uint8_t*>(table)[i];
  if (dbits == 16) {
    uint16_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(table) + 2 * i, 2);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, static_cast<const uint8_t*>(table) + 4 * i, 4);
  return v;
}
void put(void* dst, int dbits, int32_t k, uint32_t v) {
  auto* d = static_cast<uint8_t*>(dst);
  if (dbits == 8)
    d[k] = static_cast<uint8_t>(v);
  else if (dbits == 16) {
    auto w = static_cast<uint16_t>(v);
    std::memcpy(d + 2 * k, &w, 2);
  } else {
    std::memcpy(d + 4 * k, &v, 4);
  }
}
}  // namespace

int wdcnvrt(const void* src, void* dst, int sbits, int dbits, int32_t count, const void* table,
            int32_t tabn) {
  if (!src || !dst || count < 1) return 0;
  const auto* s = static_cast<const uint8_t*>(src);
  bool todeep = dbits == 8 || dbits == 16 || dbits == 32;
  if ((sbits == 1 || sbits == 2 || sbits == 4 || (sbits == 8 && dbits > 8)) && todeep) {
    int per = 8 / sbits;
    uint32_t m = (1u << sbits) - 1;
    for (int32_t k = 0; k < count; k++) {
      uint32_t v = sbits == 8 ? s[k] : (s[k / per] >> (8 - sbits * (k % per + 1))) & m;
      put(dst, dbits, k, tabent(table, tabn, dbits, v));
    }
  } else if (sbits == 16 && dbits == 32) {
    for (int32_t k = 0; k < count; k++) {
      uint16_t v;
      std::memcpy(&v, s + 2 * k, 2);
      put(dst, 32, k, rgb565(v));
    }
  } else if (sbits == 32 && (dbits == 8 || dbits == 16)) {
    for (int32_t k = 0; k < count; k++) {
      uint32_t v;
      std::memcpy(&v, s + 4 * k, 4);
      put(dst, dbits, k, dbits == 8 ? (v & 0xFF) : to565(v));
    }
  }
  return 0;
}

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
