// Text and number conversion helpers.
#include "core/convert.h"
#include "core/state.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

inline unsigned uc(char c) { return static_cast<unsigned char>(c); }
inline bool isdig(unsigned c) { return c >= '0' && c <= '9'; }

// Appends one decimal digit to a value, saturating at INT32_MAX.
inline uint32_t adddig(uint32_t v, unsigned d) {
  if (v > (0x7FFFFFFFu - d) / 10) return 0x7FFFFFFFu;
  return v * 10 + d;
}

// One character of b matching one of a, as cmpsti compares them.
inline bool chmatch(unsigned ca, unsigned cb) {
  return ca == cb || (islowr(static_cast<int>(cb)) && ca + 32 == cb);
}

// Fills the buffer with n stars (n limited to size - 1) and terminates it.
int stars(char* buffer, int n, int size) {
  if (n > size - 1) n = size - 1;
  if (n < 0) n = 0;
  memset(buffer, '*', static_cast<size_t>(n));
  buffer[n] = 0;
  return n;
}

// A float truncated toward zero, its low 32 bits kept; NaN and infinities 0.
uint32_t lowbits(float f) {
  double t = std::trunc(static_cast<double>(f));
  if (!std::isfinite(t)) return 0;
  t = std::fmod(t, 4294967296.0);
  if (t < 0) t += 4294967296.0;
  return static_cast<uint32_t>(t);
}

// Unaligned item access.
template <class T>
inline T ld(const unsigned char* p) {
  T v;
  memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
inline void st(unsigned char* p, T v) {
  memcpy(p, &v, sizeof v);
}

// Bytes per item of a whole-byte code known to cnvtyp: index 1..4.
constexpr int kbytes[5] = {0, 1, 2, 4, 4};

}  // namespace

// ---- Characters and strings -------------------------------------------

int chrtyp(int ch) {
  if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')) return 1;
  if (ch >= '0' && ch <= '9') return 2;
  if (ch == '_' || ch == '.') return 3;
  return 0;
}

int islowr(int ch) {
  return (ch >= 'a' && ch <= 'z') || ch == '_' || ch == '.' || ch == '$' || ch == '\\';
}

int getdec(const char* text, int32_t* value) {
  uint32_t v = 0;
  int n = 0;
  if (text) {
    while (isdig(uc(text[n]))) {
      v = adddig(v, uc(text[n]) - '0');
      n++;
    }
  }
  if (value) *value = static_cast<int32_t>(v);
  return n;
}

int32_t atoun(const char* text) {
  if (!text) return -1;
  const char* s = text;
  while (*s && uc(*s) <= 32) s++;
  if (!*s) return -1;
  if (*s == '.' && isdig(uc(s[1]))) return 0;
  if (!isdig(uc(*s))) return -1;
  uint32_t v = 0;
  for (; isdig(uc(*s)); s++) v = adddig(v, uc(*s) - '0');
  return static_cast<int32_t>(v);
}

int lenstr(const char* text) { return text ? static_cast<int>(strlen(text)) : 0; }

int cpystr(const char* source, char* destination, int n) {
  if (!destination) return 0;
  size_t count = 0;
  if (source) {
    if (n > 0) {
      count = static_cast<size_t>(n);
    } else {
      size_t lim = n < 0 ? static_cast<size_t>(-static_cast<int64_t>(n)) : 511;
      count = strnlen(source, lim);
    }
    memmove(destination, source, count);
  }
  destination[count] = 0;
  return static_cast<int>(count);
}

int trimln(char* line, int max) {
  if (!line || max <= 0) return 0;
  int end = 0;
  while (end < max && line[end] && line[end] != '\n') end++;
  int len = end;
  while (len > 0 && uc(line[len - 1]) <= 32) len--;
  if (len < max) line[len] = 0;
  return len;
}

int insert(int n, int position, char* text, int length, int size) {
  if (!text || length < 0) return -1;
  if (position < 0) position = 0;
  if (position > length) position = length;
  if (n == 0) return length;
  if (n > 0) {
    if (static_cast<int64_t>(length) + n + 1 > size) return -1;
    memmove(text + position + n, text + position, static_cast<size_t>(length - position));
    text[length + n] = 0;
    return length + n;
  }
  int64_t m = -static_cast<int64_t>(n);
  if (position + m >= length) {
    text[position] = 0;
    return position;
  }
  int rest = length - position - static_cast<int>(m);
  memmove(text + position, text + position + m, static_cast<size_t>(rest));
  text[position + rest] = 0;
  return position + rest;
}

int caseto(char* text, int delta) {
  if (!text) return 0;
  int i = 0;
  for (; text[i]; i++) {
    unsigned c = uc(text[i]);
    if (delta == -32) {
      if (c >= 'a' && c <= 'z') text[i] = static_cast<char>(c - 32);
    } else if (c >= 'A' && c <= 'Z') {
      text[i] = static_cast<char>(static_cast<unsigned char>(c + static_cast<unsigned>(delta)));
    }
  }
  return i;
}

int cmpstr(const char* a, const char* b) {
  size_t i = 0;
  while (a[i] && a[i] == b[i]) i++;
  if (!a[i]) return b[i] ? -1 : 1;
  return 0;
}

int cmpsti(const char* a, const char* b) {
  for (size_t i = 0;; i++) {
    unsigned ca = uc(a[i]), cb = uc(b[i]);
    if (!ca && !cb) return 1;
    if (!cb) return -1;
    if (!ca) return 0;
    if (!chmatch(ca, cb)) return 0;
  }
}

int isname(const char* a, const char* b, int la, int lb) {
  int i = 0;
  bool aend, bend;
  for (;; i++) {
    aend = (la > 0 && i >= la) || !a[i];
    bend = (lb > 0 && i >= lb) || !b[i];
    if (aend || bend) break;
    if (a[i] != b[i]) return 0;
  }
  if (i == 0) return 0;
  if (aend && bend) return 1;
  return bend ? 2 : -1;
}

int kwindx(const char* keyword, const char* text) {
  if (!keyword || !text) return -1;
  size_t klen = strlen(keyword);
  for (size_t p = 0; text[p]; p++) {
    size_t i = 0;
    while (i < klen && text[p + i] && chmatch(uc(keyword[i]), uc(text[p + i]))) i++;
    if (i == klen && text[p + klen]) return static_cast<int>(p);
  }
  return -1;
}

// ---- Integers and numbers ---------------------------------------------

int32_t limval(int32_t v, int32_t lo, int32_t hi) {
  if (v < lo) v = lo;
  return v > hi ? hi : v;
}

int32_t imod(int32_t a, int32_t b) {
  if (b == 0 || b == -1) return 0;
  return a % b;
}

int32_t iabs(int32_t v) {
  return v < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
}

int ilog2(int32_t v) {
  int n = 0;
  while (v > 1) {
    v >>= 1;
    n++;
  }
  return n;
}

int32_t clmp16(int32_t v) { return limval(v, -32767, 32767); }
int32_t clmp8(int32_t v) { return limval(v, 0, 255); }

int32_t toi16(double x) {
  if (std::isnan(x)) return 0;
  if (x > 32767.0) x = 32767.0;
  if (x < -32767.0) x = -32767.0;
  return static_cast<int32_t>(x);
}

int32_t toi32(double x) {
  if (std::isnan(x)) return 0;
  if (x > 2147400000.0) x = 2147400000.0;
  if (x < -2147400000.0) x = -2147400000.0;
  return static_cast<int32_t>(x);
}

int32_t toi8(double x) {
  if (std::isnan(x)) return 0;
  if (x > 255.0) x = 255.0;
  if (x < 0.0) x = 0.0;
  return static_cast<int8_t>(static_cast<uint8_t>(static_cast<int32_t>(x)));
}

int32_t cnvbas(int32_t v, int to, int from) {
  if (from < 2) return v;
  uint32_t u = static_cast<uint32_t>(v);
  if (v < 0) u += 65536u;
  uint32_t f = static_cast<uint32_t>(from), t = static_cast<uint32_t>(to);
  uint32_t r = 0, p = 1;
  while (u) {
    r += (u % f) * p;
    p *= t;
    u /= f;
  }
  if (from == 10 && r >= 32768u && r <= 0x7FFFFFFFu) r -= 65536u;
  return static_cast<int32_t>(r);
}

int itostr(int32_t value, char* buffer, int width, int base, int signroom, int size) {
  if (!buffer || size <= 0) return 0;
  if (base < 2 || base > 36) base = 10;
  if (signroom < 0) signroom = 0;
  uint32_t u = static_cast<uint32_t>(value);
  bool neg = false;
  if (base == 10 && value < 0) {
    u = 0u - u;
    neg = true;
    signroom++;
  }
  uint32_t b = static_cast<uint32_t>(base);
  int ndig = 0;
  for (uint32_t t = u;; t /= b) {
    ndig++;
    if (t < b) break;
  }
  char fill = width < 0 ? '0' : ' ';
  int64_t places = width < 0 ? -static_cast<int64_t>(width)
                             : width > 0 ? width : static_cast<int64_t>(ndig) + signroom;
  if (places > size - 1) return stars(buffer, size - 1, size);
  int pl = static_cast<int>(places);
  for (int i = 0; i < pl; i++) buffer[i] = fill;
  buffer[pl] = 0;
  int pos = pl;
  uint32_t t = u;
  do {
    if (pos <= signroom) return stars(buffer, pl, size);
    unsigned d = t % b;
    buffer[--pos] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
    t /= b;
  } while (t);
  if (neg) {
    int first = fill == '0' ? signroom : pos;  // zero fill: the zeros are digits
    buffer[first - 1] = '-';
  }
  return pl;
}

int ftostr(double value, char* buffer, int width, int decimals, int size) {
  if (!buffer || size <= 0) return 0;
  if (width > 4096) width = 4096;
  if (width < -4096) width = -4096;
  if (decimals < 0) decimals = 0;
  if (decimals > 350) decimals = 350;
  int starn = width < 0 ? -width : width > 0 ? width : 1;
  char fmt[32];
  if (value < 0) {
    // The sign goes next to the number, not in front of the padding.
    int w = width > 0 ? width - 1 : width < 0 ? width + 1 : 0;
    snprintf(fmt, sizeof fmt, "%%%d.%df", w, decimals);
    if (size < 2) return stars(buffer, starn, size);
    buffer[0] = ' ';
    int n = snprintf(buffer + 1, static_cast<size_t>(size - 1), fmt, -value);
    if (n < 0 || n >= size - 1) return stars(buffer, starn, size);
    int i = 1;
    while (buffer[i] == ' ') i++;
    buffer[i - 1] = '-';
    return n + 1;
  }
  snprintf(fmt, sizeof fmt, "%%%d.%df", width, decimals);
  int n = snprintf(buffer, static_cast<size_t>(size), fmt, value);
  if (n < 0 || n >= size) return stars(buffer, starn, size);
  return n;
}

int fshort(double value, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  int n;
  if (std::isfinite(value) && value == std::trunc(value)) {
    if (value >= -2147483648.0 && value <= 2147483647.0)
      n = snprintf(buffer, static_cast<size_t>(size), "%d", static_cast<int>(value));
    else
      n = snprintf(buffer, static_cast<size_t>(size), "%.0f", value);
  } else if (value > -100.0 && value < 100.0) {
    n = snprintf(buffer, static_cast<size_t>(size), "%.3f", value);
  } else {
    n = snprintf(buffer, static_cast<size_t>(size), "%.1f", value);
  }
  if (n < 0 || n >= size) return stars(buffer, size - 1, size);
  return n;
}

// ---- Items by word size code ------------------------------------------

double getval(const void* pointer, int code) {
  auto p = static_cast<const unsigned char*>(pointer);
  if (code <= 8) return *p;
  if (code == 16) return ld<int16_t>(p);
  if (code == 32) return ld<int32_t>(p);
  return ld<float>(p);
}

void putval(double value, void* pointer, int code) {
  auto p = static_cast<unsigned char*>(pointer);
  if (code <= 8)
    *p = static_cast<unsigned char>(toi16(value) & 0xFF);
  else if (code == 16)
    st<int16_t>(p, static_cast<int16_t>(toi16(value)));
  else if (code == 32)
    st<int32_t>(p, toi32(value));
  else
    st<float>(p, static_cast<float>(value));
}

namespace {
int codeidx(int code) {
  switch (code) {
    case 8: return 1;
    case 16: return 2;
    case 96: return 3;
    case 32: return 4;
    default: return 0;
  }
}
}  // namespace

int cnvcod(int from, int to) {
  if ((from | to) & 0x7F87) return 0;
  int f = codeidx(from), t = codeidx(to);
  if (!f || !t) return 0;
  return 16 * f + t;
}

int32_t cnvtyp(const void* source, void* destination, int conversion, int32_t n) {
  switch (conversion) {
    case 18: case 19: case 20: case 33: case 35: case 36:
    case 49: case 50: case 52: case 65: case 66: case 67: break;
    default: return 0;
  }
  if (n <= 0) return 0;
  int f = conversion >> 4, t = conversion & 15;
  auto s = static_cast<const unsigned char*>(source);
  auto d = static_cast<unsigned char*>(destination);
  size_t sb = static_cast<size_t>(kbytes[f]), db = static_cast<size_t>(kbytes[t]);
  // Overlapping buffers convert from a copy of the source.
  std::vector<unsigned char> tmp;
  size_t sbytes = sb * static_cast<size_t>(n), dbytes = db * static_cast<size_t>(n);
  if (s < d + dbytes && d < s + sbytes) {
    tmp.assign(s, s + sbytes);
    s = tmp.data();
  }
  for (int32_t i = 0; i < n; i++, s += sb, d += db) {
    switch (conversion) {
      case 18: st<int16_t>(d, static_cast<int16_t>(*s)); break;
      case 19: st<float>(d, static_cast<float>(*s)); break;
      case 20: st<int32_t>(d, static_cast<int32_t>(*s)); break;
      case 33: *d = static_cast<unsigned char>(ld<uint16_t>(s) & 0xFF); break;
      case 35: st<float>(d, static_cast<float>(ld<int16_t>(s))); break;
      case 36: st<int32_t>(d, static_cast<int32_t>(ld<int16_t>(s))); break;
      case 49: *d = static_cast<unsigned char>(lowbits(ld<float>(s)) & 0xFF); break;
      case 50: st<uint16_t>(d, static_cast<uint16_t>(lowbits(ld<float>(s)) & 0xFFFF)); break;
      case 52: st<uint32_t>(d, lowbits(ld<float>(s))); break;
      case 65: *d = static_cast<unsigned char>(ld<uint32_t>(s) & 0xFF); break;
      case 66: st<uint16_t>(d, static_cast<uint16_t>(ld<uint32_t>(s) & 0xFFFF)); break;
      case 67: st<float>(d, static_cast<float>(ld<int32_t>(s))); break;
      default: return 0;
    }
  }
  return n;
}

namespace {

inline bool bitcode(int code) { return code >= 1 && code <= 7; }

// Bytes held by n items of a code (bit-packed or one of 8, 16, 32, 96).
size_t itemspan(int code, int32_t n) {
  if (bitcode(code)) return (static_cast<size_t>(n) * static_cast<size_t>(code) + 7) / 8;
  return static_cast<size_t>(n) * static_cast<size_t>(kbytes[codeidx(code)]);
}

// Item i as an integer: bit fields and bytes unsigned, 16 and 32 bits
// signed, floats truncated toward zero (NaN 0, clamped to 64 bits).
int64_t rditem(const unsigned char* p, int code, int32_t i) {
  if (bitcode(code)) {
    uint64_t off = static_cast<uint64_t>(i) * static_cast<uint64_t>(code);
    size_t at = static_cast<size_t>(off >> 3);
    unsigned sh = static_cast<unsigned>(off & 7), w = static_cast<unsigned>(code);
    unsigned mask = (1u << w) - 1;
    if (sh + w <= 8) return (p[at] >> (8 - sh - w)) & mask;
    unsigned two = (static_cast<unsigned>(p[at]) << 8) | p[at + 1];
    return (two >> (16 - sh - w)) & mask;
  }
  size_t k = static_cast<size_t>(i);
  switch (code) {
    case 8: return p[k];
    case 16: return ld<int16_t>(p + 2 * k);
    case 32: return ld<int32_t>(p + 4 * k);
    default: {
      double t = std::trunc(static_cast<double>(ld<float>(p + 4 * k)));
      if (std::isnan(t)) return 0;
      if (t >= 9.2e18) return INT64_C(9200000000000000000);
      if (t <= -9.2e18) return -INT64_C(9200000000000000000);
      return static_cast<int64_t>(t);
    }
  }
}

// Stores item i of a destination whose bytes were zeroed: bit fields and
// bytes are clipped to their maximum (or masked with aflags bit 0x4).
void writem(unsigned char* p, int code, int32_t i, int64_t v) {
  size_t k = static_cast<size_t>(i);
  if (code == 96) {
    st<float>(p + 4 * k, static_cast<float>(v));
    return;
  }
  if (code == 16) {
    st<uint16_t>(p + 2 * k, static_cast<uint16_t>(static_cast<uint64_t>(v) & 0xFFFF));
    return;
  }
  if (code == 32) {
    st<uint32_t>(p + 4 * k, static_cast<uint32_t>(static_cast<uint64_t>(v) & 0xFFFFFFFFu));
    return;
  }
  unsigned w = code == 8 ? 8 : static_cast<unsigned>(code);
  unsigned max = (1u << w) - 1;
  unsigned u;
  if (aflags & 0x4)
    u = static_cast<unsigned>(static_cast<uint64_t>(v) & max);
  else
    u = v < 0 ? 0 : v > max ? max : static_cast<unsigned>(v);
  if (code == 8) {
    p[k] = static_cast<unsigned char>(u);
    return;
  }
  uint64_t off = static_cast<uint64_t>(i) * w;
  size_t at = static_cast<size_t>(off >> 3);
  unsigned sh = static_cast<unsigned>(off & 7);
  if (sh + w <= 8) {
    p[at] = static_cast<unsigned char>(p[at] | (u << (8 - sh - w)));
  } else {  // straddles two bytes
    unsigned two = u << (16 - sh - w);
    p[at] = static_cast<unsigned char>(p[at] | (two >> 8));
    p[at + 1] = static_cast<unsigned char>(p[at + 1] | (two & 0xFF));
  }
}

}  // namespace

int32_t wdcnvt(const void* source, void* destination, int from, int to, int32_t n) {
  if (n <= 0 || !source || !destination) return 0;
  bool fb = bitcode(from), tb = bitcode(to);
  if ((!fb && !codeidx(from)) || (!tb && !codeidx(to))) return 0;
  if (!fb && !tb) {
    if (from != to) return cnvtyp(source, destination, cnvcod(from, to), n);
    memmove(destination, source, itemspan(from, n));
    return n;
  }
  auto s = static_cast<const unsigned char*>(source);
  auto d = static_cast<unsigned char*>(destination);
  size_t sbytes = itemspan(from, n), dbytes = itemspan(to, n);
  std::vector<unsigned char> tmp;
  if (s < d + dbytes && d < s + sbytes) {
    tmp.assign(s, s + sbytes);
    s = tmp.data();
  }
  memset(d, 0, dbytes);
  for (int32_t i = 0; i < n; i++) writem(d, to, i, rditem(s, from, i));
  return n;
}

void filwds(void* pointer, uint32_t value, int32_t n) {
  auto p = static_cast<unsigned char*>(pointer);
  for (int32_t i = 0; i < n; i++) st<uint32_t>(p + 4 * static_cast<size_t>(i), value);
}

void movbak(const void* source, void* destination, int32_t n) {
  auto s = static_cast<const unsigned char*>(source);
  auto d = static_cast<unsigned char*>(destination);
  for (int32_t i = n - 1; i >= 0; i--) d[i] = s[i];
}

void swab2(void* buffer, int32_t bytes) {
  auto p = static_cast<unsigned char*>(buffer);
  for (int32_t i = 0; i + 1 < bytes; i += 2) {
    unsigned char c = p[i];
    p[i] = p[i + 1];
    p[i + 1] = c;
  }
}

void swab2w(void* buffer, int32_t bytes) {
  auto p = static_cast<unsigned char*>(buffer);
  for (int32_t i = 0; i + 1 < bytes; i += 2) {
    uint16_t w = ld<uint16_t>(p + i);
    st<uint16_t>(p + i, static_cast<uint16_t>((w >> 8) | (w << 8)));
  }
}

namespace {

// Item access of the box modes 4 to 6, by word size code: 8 unsigned byte,
// 16 signed short, 24 three bytes with the first most significant, 32 long;
// 96 floats are read and written as floats.
int32_t boxget(const unsigned char* p, int bits) {
  switch (bits) {
    case 8: return p[0];
    case 16: return ld<int16_t>(p);
    case 24: return (p[0] << 16) | (p[1] << 8) | p[2];
    default: return ld<int32_t>(p);
  }
}

void boxput(unsigned char* p, int bits, uint32_t v) {
  switch (bits) {
    case 8: p[0] = static_cast<unsigned char>(v); break;
    case 16: st<uint16_t>(p, static_cast<uint16_t>(v)); break;
    case 24:
      p[0] = static_cast<unsigned char>(v >> 16);
      p[1] = static_cast<unsigned char>(v >> 8);
      p[2] = static_cast<unsigned char>(v);
      break;
    default: st<uint32_t>(p, v); break;
  }
}

bool boxnz(const unsigned char* p, size_t ib, bool isf) {
  if (isf) return ld<float>(p) != 0.0f;
  for (size_t k = 0; k < ib; k++)
    if (p[k]) return true;
  return false;
}

// Combines a run of items of ib bytes from src into dst.
void boxrun(unsigned char* dst, const unsigned char* src, size_t items, size_t ib, int bits,
            bool isf, int mode) {
  size_t nb = items * ib;
  switch (mode) {
    case 0: memmove(dst, src, nb); break;
    case 1: for (size_t k = 0; k < nb; k++) dst[k] |= src[k]; break;
    case 2: for (size_t k = 0; k < nb; k++) dst[k] ^= src[k]; break;
    case 3: for (size_t k = 0; k < nb; k++) dst[k] &= src[k]; break;
    case 4:
      for (size_t k = 0; k < nb; k += ib) {
        if (isf)
          st<float>(dst + k, ld<float>(dst + k) + ld<float>(src + k));
        else
          boxput(dst + k, bits, static_cast<uint32_t>(boxget(dst + k, bits)) +
                                     static_cast<uint32_t>(boxget(src + k, bits)));
      }
      break;
    case 5:
      for (size_t k = 0; k < nb; k += ib)
        if (boxnz(src + k, ib, isf)) memmove(dst + k, src + k, ib);
      break;
    case 6:
      for (size_t k = 0; k < nb; k += ib)
        if (boxnz(dst + k, ib, isf)) memmove(dst + k, src + k, ib);
      break;
  }
}

}  // namespace

int32_t copybox(void* flat, void* image, int x, int y, int nx, int ny, int toimage,
                int rowlen, int code, int mode) {
  if (!flat || !image || nx <= 0 || ny <= 0 || rowlen <= 0 || mode < 0 || mode > 6) return 0;
  bool isf = code == 96;
  int bits = isf ? 32 : code & 63;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
  size_t ib = static_cast<size_t>(bits / 8);
  int64_t start = static_cast<int64_t>(y) * rowlen + x;
  if (start < 0) return 0;
  auto img = static_cast<unsigned char*>(image) + static_cast<size_t>(start) * ib;
  auto fl = static_cast<unsigned char*>(flat);
  size_t runs = static_cast<size_t>(ny), items = static_cast<size_t>(nx);
  if (nx == rowlen) {  // whole rows: one run
    items *= runs;
    runs = 1;
  }
  for (size_t r = 0; r < runs; r++) {
    if (toimage)
      boxrun(img, fl, items, ib, bits, isf, mode);
    else
      boxrun(fl, img, items, ib, bits, isf, mode);
    img += static_cast<size_t>(rowlen) * ib;
    fl += items * ib;
  }
  return static_cast<int32_t>(static_cast<int64_t>(nx) * ny);
}
