// Row conversion between pixel depths.
#include "graphics/pixels.h"

#include <cstring>

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
