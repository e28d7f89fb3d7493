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
  } else if (dbits == 24) {
    std::memcpy(d + 3 * static_cast<int64_t>(k), &v, 3);
  } else {
    std::memcpy(d + 4 * k, &v, 4);
  }
}
// Pixel k of a 16, 24 or 32-bit row.
uint32_t get(const uint8_t* s, int sbits, int32_t k) {
  uint32_t v = 0;
  std::memcpy(&v, s + static_cast<int64_t>(sbits / 8) * k, static_cast<size_t>(sbits / 8));
  return v;
}
}  // namespace

int wdcnvrt(const void* src, void* dst, int sbits, int dbits, int32_t count, const void* table,
            int32_t tabn) {
  if (!src || !dst || count < 1) return 0;
  const auto* s = static_cast<const uint8_t*>(src);
  // A 24-bit pixel is the three low bytes of a 32-bit one (blue, green, red).
  const bool todeep = dbits == 8 || dbits == 16 || dbits == 24 || dbits == 32;
  const int tbits = dbits == 24 ? 32 : dbits;  // the table's entry width
  if ((sbits == 1 || sbits == 2 || sbits == 4 || (sbits == 8 && dbits > 8)) && todeep) {
    int per = 8 / sbits;
    uint32_t m = (1u << sbits) - 1;
    for (int32_t k = 0; k < count; k++) {
      uint32_t v = sbits == 8 ? s[k] : (s[k / per] >> (8 - sbits * (k % per + 1))) & m;
      put(dst, dbits, k, tabent(table, tabn, tbits, v));
    }
  } else if (sbits == 16 && (dbits == 24 || dbits == 32)) {
    for (int32_t k = 0; k < count; k++) put(dst, dbits, k, rgb565(get(s, 16, k)));
  } else if ((sbits == 24 || sbits == 32) && (dbits == 8 || dbits == 16)) {
    for (int32_t k = 0; k < count; k++) {
      uint32_t v = get(s, sbits, k);
      put(dst, dbits, k, dbits == 8 ? (v & 0xFF) : to565(v));
    }
  } else if ((sbits == 24 && dbits == 32) || (sbits == 32 && dbits == 24)) {
    for (int32_t k = 0; k < count; k++) put(dst, dbits, k, get(s, sbits, k) & 0xFFFFFF);
  }
  return 0;
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
