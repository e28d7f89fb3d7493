// Strip decoders for TIFF files of other programs: PackBits and LZW (the
// TIFF variant: codes of 9 to 12 bits, high bits first, the width growing
// one code early).
#include <cstring>

#include "files/imgcommon.h"

namespace imgfmt {

int tifcomp = 0;
int tifpred = 0;
bool tifallow = false;

bool unpackbits(const uint8_t* in, size_t n, std::vector<uint8_t>* out, size_t want) {
  size_t i = 0;
  while (i < n && out->size() < want) {
    auto c = static_cast<int8_t>(in[i++]);
    if (c >= 0) {
      size_t k = static_cast<size_t>(c) + 1;
      if (i + k > n) return false;
      out->insert(out->end(), in + i, in + i + k);
      i += k;
    } else if (c != -128) {
      if (i >= n) return false;
      out->insert(out->end(), static_cast<size_t>(1 - c), in[i++]);
    }
  }
  if (out->size() > want) out->resize(want);
  return true;
}

bool unlzw(const uint8_t* in, size_t n, std::vector<uint8_t>* out, size_t want) {
  constexpr int CLEAR = 256, EOI = 257, MAXC = 4096;
  // Code k is the string of code prefix[k] followed by byte suffix[k].
  static int16_t prefix[MAXC];
  static uint8_t suffix[MAXC], first[MAXC];
  static uint16_t len[MAXC];
  for (int k = 0; k < 256; k++) {
    prefix[k] = -1;
    suffix[k] = first[k] = static_cast<uint8_t>(k);
    len[k] = 1;
  }
  int next = 258, width = 9, old = -1;
  uint64_t bits = 0;
  int have = 0;
  size_t i = 0;
  auto emit = [&](int code) {
    size_t at = out->size();
    out->resize(at + len[code]);
    for (int c = code, p = len[code] - 1; c >= 0; c = prefix[c], p--) (*out)[at + static_cast<size_t>(p)] = suffix[c];
  };
  while (out->size() < want) {
    while (have < width && i < n) {
      bits = (bits << 8) | in[i++];
      have += 8;
    }
    if (have < width) break;  // the data end without an end code
    int code = static_cast<int>((bits >> (have - width)) & ((1u << width) - 1));
    have -= width;
    if (code == EOI) break;
    if (code == CLEAR) {
      next = 258;
      width = 9;
      old = -1;
      continue;
    }
    if (old < 0) {
      if (code > 255) return false;
      emit(code);
      old = code;
      continue;
    }
    if (code > next || (code == next && next >= MAXC)) return false;
    int nf = code < next ? first[code] : first[old];
    if (next < MAXC) {
      prefix[next] = static_cast<int16_t>(old);
      suffix[next] = static_cast<uint8_t>(nf);
      first[next] = first[old];
      len[next] = static_cast<uint16_t>(len[old] + 1);
      next++;
    }
    emit(code);
    old = code;
    if (next + 1 >= (1 << width) && width < 12) width++;
  }
  if (out->size() > want) out->resize(want);
  return true;
}

}  // namespace imgfmt
