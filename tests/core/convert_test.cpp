// Conversion helpers: expected values worked out by hand or with python3.
#include "core/convert.h"
#include "core/state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

std::string itos(int32_t v, int width, int base, int signroom, int size = 64) {
  char buf[80];
  memset(buf, '#', sizeof buf);
  int n = itostr(v, buf, width, base, signroom, size);
  EXPECT_EQ(n, static_cast<int>(strlen(buf)));
  EXPECT_EQ(buf[n + 1], '#') << "wrote past the NUL";
  return buf;
}

std::string ftos(double v, int width, int decimals, int size = 64) {
  char buf[80];
  memset(buf, '#', sizeof buf);
  int n = ftostr(v, buf, width, decimals, size);
  EXPECT_EQ(n, static_cast<int>(strlen(buf)));
  EXPECT_LT(n, size);
  EXPECT_EQ(buf[size], '#') << "wrote past the buffer";
  return buf;
}

std::string fsh(double v, int size = 64) {
  char buf[80];
  memset(buf, '#', sizeof buf);
  int n = fshort(v, buf, size);
  EXPECT_EQ(n, static_cast<int>(strlen(buf)));
  EXPECT_EQ(buf[size], '#');
  return buf;
}

template <class T>
T at(const void* p, size_t i) {
  T v;
  memcpy(&v, static_cast<const unsigned char*>(p) + i * sizeof(T), sizeof v);
  return v;
}

struct AflagsGuard {
  int32_t saved = aflags;
  ~AflagsGuard() { aflags = saved; }
};

}  // namespace

TEST(Convert, CharacterClasses) {
  EXPECT_EQ(chrtyp('a'), 1);
  EXPECT_EQ(chrtyp('Z'), 1);
  EXPECT_EQ(chrtyp('0'), 2);
  EXPECT_EQ(chrtyp('9'), 2);
  EXPECT_EQ(chrtyp('_'), 3);
  EXPECT_EQ(chrtyp('.'), 3);
  for (int c : std::initializer_list<int>{'$', '@', '[', '`', '{', '/', ':', ' ', 0, 200, -60}) EXPECT_EQ(chrtyp(c), 0) << c;
  for (int c : {'a', 'z', '_', '.', '$', '\\'}) EXPECT_TRUE(islowr(c)) << c;
  for (int c : std::initializer_list<int>{'A', 'Z', '0', '@', '`', '{', '?', ' ', 0, 224}) EXPECT_FALSE(islowr(c)) << c;
}

TEST(Convert, DecimalReaders) {
  int32_t v = -7;
  EXPECT_EQ(getdec("123abc", &v), 3);
  EXPECT_EQ(v, 123);
  EXPECT_EQ(getdec("0099x", &v), 4);
  EXPECT_EQ(v, 99);
  EXPECT_EQ(getdec("-5", &v), 0);  // no sign, no skipping
  EXPECT_EQ(v, 0);
  EXPECT_EQ(getdec(" 5", &v), 0);
  EXPECT_EQ(getdec("99999999999", &v), 11);
  EXPECT_EQ(v, 2147483647);

  EXPECT_EQ(atoun("  42x"), 42);
  EXPECT_EQ(atoun("\t\r\x01 7"), 7);
  EXPECT_EQ(atoun("12.5"), 12);
  EXPECT_EQ(atoun(".5"), 0);
  EXPECT_EQ(atoun("  .9x"), 0);
  EXPECT_EQ(atoun(""), -1);
  EXPECT_EQ(atoun("   "), -1);
  EXPECT_EQ(atoun("."), -1);
  EXPECT_EQ(atoun(".x"), -1);
  EXPECT_EQ(atoun("-3"), -1);
  EXPECT_EQ(atoun("+3"), -1);
  EXPECT_EQ(atoun("a1"), -1);
  EXPECT_EQ(atoun("4294967296"), 2147483647);  // saturates, never reads as -1
  EXPECT_EQ(atoun("2147483647"), 2147483647);

  EXPECT_EQ(lenstr("abc"), 3);
  EXPECT_EQ(lenstr(""), 0);
  EXPECT_EQ(lenstr(nullptr), 0);
}

TEST(Convert, CpystrCounts) {
  char d[600];
  const char src[] = "ab\0cd";
  memset(d, '#', sizeof d);
  EXPECT_EQ(cpystr(src, d, 5), 5);  // exactly n bytes, NULs included
  EXPECT_EQ(0, memcmp(d, "ab\0cd\0#", 7));

  memset(d, '#', sizeof d);
  EXPECT_EQ(cpystr("hello", d, -3), 3);
  EXPECT_EQ(0, memcmp(d, "hel\0#", 5));
  memset(d, '#', sizeof d);
  EXPECT_EQ(cpystr("hi", d, -5), 2);
  EXPECT_EQ(0, memcmp(d, "hi\0#", 4));

  std::string big(600, 'x');
  memset(d, '#', sizeof d);
  EXPECT_EQ(cpystr(big.c_str(), d, 0), 511);
  EXPECT_EQ(d[510], 'x');
  EXPECT_EQ(d[511], 0);
  EXPECT_EQ(d[512], '#');
  memset(d, '#', sizeof d);
  EXPECT_EQ(cpystr("short", d, 0), 5);
  EXPECT_STREQ(d, "short");
  EXPECT_EQ(d[6], '#');
}

TEST(Convert, TrimlnCutsAtNewlineAndTrailingBlanks) {
  char a[32] = "abc   \n def";
  EXPECT_EQ(trimln(a, 32), 3);
  EXPECT_STREQ(a, "abc");
  char b[32] = "  x \t\r";
  EXPECT_EQ(trimln(b, 32), 3);
  EXPECT_STREQ(b, "  x");
  char c[32] = "   ";
  EXPECT_EQ(trimln(c, 32), 0);
  EXPECT_STREQ(c, "");
  char d[32] = "ab  cdef";
  EXPECT_EQ(trimln(d, 4), 2);  // looks at "ab  " only
  EXPECT_STREQ(d, "ab");
  // A full buffer without a terminator: nothing is written at or past max.
  char e[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  EXPECT_EQ(trimln(e, 4), 4);
  EXPECT_EQ(e[4], 'e');
}

TEST(Convert, InsertOpensAndCloses) {
  char t[16] = "abcdef";
  EXPECT_EQ(insert(2, 2, t, 6, 16), 8);
  EXPECT_STREQ(t, "abcdcdef");  // the tail moved up by 2; the gap keeps old bytes
  strcpy(t, "abcdef");
  EXPECT_EQ(insert(-2, 1, t, 6, 16), 4);
  EXPECT_STREQ(t, "adef");
  strcpy(t, "abcdef");
  EXPECT_EQ(insert(-3, 3, t, 6, 16), 3);  // nothing behind: cut
  EXPECT_STREQ(t, "abc");
  strcpy(t, "abcdef");
  EXPECT_EQ(insert(-10, 2, t, 6, 16), 2);
  EXPECT_STREQ(t, "ab");
  strcpy(t, "abcdef");
  EXPECT_EQ(insert(0, 2, t, 6, 16), 6);
  EXPECT_STREQ(t, "abcdef");
  // A gap that would not fit the buffer changes nothing.
  char u[10] = "abcdef";
  u[7] = '#';
  EXPECT_EQ(insert(4, 0, u, 6, 10), -1);
  EXPECT_STREQ(u, "abcdef");
  EXPECT_EQ(insert(3, 6, u, 6, 10), 9);  // exact fit at the end
  EXPECT_EQ(u[9], 0);
}

TEST(Convert, CasetoTouchesLettersOnly) {
  char t[32] = "Ab_1.z$\\[@`{";
  caseto(t, -32);
  EXPECT_STREQ(t, "AB_1.Z$\\[@`{");
  caseto(t, 32);
  EXPECT_STREQ(t, "ab_1.z$\\[@`{");
  char u[8] = "AZaz";
  EXPECT_EQ(caseto(u, 1), 4);  // other deltas shift A-Z only
  EXPECT_STREQ(u, "B[az");
}

TEST(Convert, StringCompare) {
  EXPECT_EQ(cmpstr("abc", "abc"), 1);
  EXPECT_EQ(cmpstr("ab", "abc"), -1);
  EXPECT_EQ(cmpstr("abc", "ab"), 0);
  EXPECT_EQ(cmpstr("abd", "abc"), 0);
  EXPECT_EQ(cmpstr("Abc", "abc"), 0);
  EXPECT_EQ(cmpstr("", "x"), -1);
  EXPECT_EQ(cmpstr("", ""), 1);

  EXPECT_EQ(cmpsti("ABC", "abc"), 1);
  EXPECT_EQ(cmpsti("abc", "abc"), 1);
  EXPECT_EQ(cmpsti("abc", "ABC"), 0);  // upper case of b does not fold
  EXPECT_EQ(cmpsti("ABC", "ab"), -1);  // b ends before a
  EXPECT_EQ(cmpsti("AB", "abc"), 0);   // a ends before b
  EXPECT_EQ(cmpsti("A1", "a1"), 1);
  EXPECT_EQ(cmpsti("!", "A"), 0);      // 'A' - 32 is '!' but 'A' is no islowr character
  EXPECT_EQ(cmpsti("?", "_"), 1);      // islowr characters match c - 32
  EXPECT_EQ(cmpsti("x", ""), -1);
  EXPECT_EQ(cmpsti("", ""), 1);

  EXPECT_EQ(isname("abc", "ab", 0, 0), 2);
  EXPECT_EQ(isname("ab", "abc", 0, 0), -1);
  EXPECT_EQ(isname("abc", "abc", 0, 0), 1);
  EXPECT_EQ(isname("abc", "abd", 0, 0), 0);
  EXPECT_EQ(isname("abc", "ABC", 0, 0), 0);
  EXPECT_EQ(isname("", "", 0, 0), 0);  // nothing compared
  EXPECT_EQ(isname("abc", "", 0, 0), 0);
  EXPECT_EQ(isname("abcdef", "abcxyz", 3, 3), 1);
  EXPECT_EQ(isname("abcdef", "abcxyz", 2, 0), -1);
  EXPECT_EQ(isname("abcdef", "abcxyz", 0, 2), 2);
  EXPECT_EQ(isname("abcdef", "abcxyz", 4, 4), 0);
  const char padded[12] = {'a', 'b', 0, 0};
  EXPECT_EQ(isname(padded, "ab", 12, 0), 1);  // a NUL ends a name too

  const char* line = "-x -y=3 screen=2";
  EXPECT_EQ(kwindx("screen", line), 8);
  EXPECT_EQ(line[8], 's');
  EXPECT_EQ(kwindx("screen", "screen"), -1);  // nothing follows
  EXPECT_EQ(kwindx("screen", "screen="), 0);
  EXPECT_EQ(kwindx("SCREEN", "foo screen=1"), 4);
  EXPECT_EQ(kwindx("screen", "SCREEN=1"), -1);
  EXPECT_EQ(kwindx("ab", "aabc"), 1);
  EXPECT_EQ(kwindx("ab", "aab"), -1);
  EXPECT_EQ(kwindx("q", ""), -1);
  EXPECT_EQ(kwindx("zz", "abc"), -1);
}

TEST(Convert, IntegerHelpers) {
  EXPECT_EQ(limval(5, 0, 3), 3);
  EXPECT_EQ(limval(-5, 0, 3), 0);
  EXPECT_EQ(limval(2, 0, 3), 2);
  EXPECT_EQ(limval(2, 5, 3), 3);  // min(max(v, lo), hi)

  EXPECT_EQ(imod(7, 3), 1);
  EXPECT_EQ(imod(-7, 3), -1);
  EXPECT_EQ(imod(7, -3), 1);
  EXPECT_EQ(imod(7, 0), 0);
  EXPECT_EQ(imod(INT32_MIN, -1), 0);

  EXPECT_EQ(iabs(-5), 5);
  EXPECT_EQ(iabs(5), 5);
  EXPECT_EQ(iabs(INT32_MIN), INT32_MIN);

  EXPECT_EQ(ilog2(0), 0);
  EXPECT_EQ(ilog2(-4), 0);
  EXPECT_EQ(ilog2(1), 0);
  EXPECT_EQ(ilog2(2), 1);
  EXPECT_EQ(ilog2(3), 1);
  EXPECT_EQ(ilog2(1023), 9);
  EXPECT_EQ(ilog2(1024), 10);
  EXPECT_EQ(ilog2(INT32_MAX), 30);

  EXPECT_EQ(clmp16(40000), 32767);
  EXPECT_EQ(clmp16(-40000), -32767);
  EXPECT_EQ(clmp16(-32768), -32767);
  EXPECT_EQ(clmp8(-1), 0);
  EXPECT_EQ(clmp8(256), 255);
  EXPECT_EQ(clmp8(17), 17);
}

TEST(Convert, FloatToIntegerRules) {
  EXPECT_EQ(toi16(-3.7), -3);
  EXPECT_EQ(toi16(3.99), 3);
  EXPECT_EQ(toi16(1e6), 32767);
  EXPECT_EQ(toi16(-1e6), -32767);
  EXPECT_EQ(toi16(-32767.9), -32767);
  EXPECT_EQ(toi16(-0.0), 0);
  EXPECT_EQ(toi16(std::nan("")), 0);
  EXPECT_EQ(toi16(INFINITY), 32767);

  EXPECT_EQ(toi32(-3e9), -2147400000);
  EXPECT_EQ(toi32(3e9), 2147400000);
  EXPECT_EQ(toi32(2147483647.0), 2147400000);
  EXPECT_EQ(toi32(2147399999.9), 2147399999);
  EXPECT_EQ(toi32(-2.5), -2);
  EXPECT_EQ(toi32(std::nan("")), 0);

  EXPECT_EQ(toi8(200), -56);
  EXPECT_EQ(toi8(128), -128);
  EXPECT_EQ(toi8(127.9), 127);
  EXPECT_EQ(toi8(300), -1);
  EXPECT_EQ(toi8(-5), 0);
  EXPECT_EQ(toi8(0.9), 0);
}

TEST(Convert, Cnvbas) {
  EXPECT_EQ(cnvbas(0x1234, 10, 16), 1234);
  EXPECT_EQ(cnvbas(1234, 16, 10), 4660);
  EXPECT_EQ(cnvbas(100, 8, 10), 64);
  EXPECT_EQ(cnvbas(511, 10, 8), 777);
  EXPECT_EQ(cnvbas(9999, 16, 10), -26215);  // 0x9999 = 39321, less 65536
  EXPECT_EQ(cnvbas(-1, 10, 16), 16665);     // 0xFFFF read as decimal 15 15 15 15
  EXPECT_EQ(cnvbas(-2, 16, 10), 349492);
  EXPECT_EQ(cnvbas(0, 16, 10), 0);
  EXPECT_EQ(cnvbas(37, 16, 1), 37);  // no base to read: unchanged
  EXPECT_EQ(cnvbas(37, 16, 0), 37);
}

TEST(Convert, Itostr) {
  EXPECT_EQ(itos(255, 0, 16, 0), "FF");
  EXPECT_EQ(itos(-42, 5, 10, 0), "  -42");
  EXPECT_EQ(itos(123456, 3, 10, 0), "***");
  EXPECT_EQ(itos(7, -3, 10, 0), "007");
  EXPECT_EQ(itos(-42, -5, 10, 0), "-0042");
  EXPECT_EQ(itos(-42, 3, 10, 0), "-42");
  EXPECT_EQ(itos(-123, 3, 10, 0), "***");  // the sign needs a place too
  EXPECT_EQ(itos(-42, 0, 10, 0), "-42");
  EXPECT_EQ(itos(0, 0, 10, 0), "0");
  EXPECT_EQ(itos(0, 4, 10, 0), "   0");
  EXPECT_EQ(itos(0, -3, 10, 0), "000");
  EXPECT_EQ(itos(12345, 5, 10, 0), "12345");
  EXPECT_EQ(itos(-1, 0, 16, 0), "FFFFFFFF");  // unsigned outside base 10
  EXPECT_EQ(itos(-1, 0, 2, 0), std::string(32, '1'));
  EXPECT_EQ(itos(-8, 0, 8, 0), "37777777770");
  EXPECT_EQ(itos(INT32_MIN, 0, 10, 0), "-2147483648");
  EXPECT_EQ(itos(INT32_MAX, 0, 10, 0), "2147483647");
  EXPECT_EQ(itos(35, 0, 36, 0), "Z");
  EXPECT_EQ(itos(42, 5, 10, 1), "   42");  // a sign place alone writes no "-"
  EXPECT_EQ(itos(42, 0, 10, 1), " 42");
  EXPECT_EQ(itos(-42, 0, 10, 1), " -42");
  EXPECT_EQ(itos(99, 2, 10, 1), "**");      // sign place leaves one digit place
  EXPECT_EQ(itos(5, 3, 10, 3), "***");
  // The caller's buffer: a field that does not fit is size - 1 stars.
  EXPECT_EQ(itos(12345, 10, 10, 0, 8), "*******");
  EXPECT_EQ(itos(12345, 0, 10, 0, 6), "12345");
  EXPECT_EQ(itos(12345, 0, 10, 0, 5), "****");
  EXPECT_EQ(itos(5, 0, 10, 0, 1), "");
}

TEST(Convert, Ftostr) {
  EXPECT_EQ(ftos(-1.5, 8, 2), "   -1.50");
  EXPECT_EQ(ftos(1.5, 8, 2), "    1.50");
  EXPECT_EQ(ftos(1234.5678, 12, 3), "    1234.568");
  EXPECT_EQ(ftos(-1234.5678, 12, 3), "   -1234.568");
  EXPECT_EQ(ftos(2.345, 0, 2), "2.35");
  EXPECT_EQ(ftos(0.125, 0, 2), "0.12");  // printf's round-half-even on exact binary values
  EXPECT_EQ(ftos(-0.001, 6, 2), " -0.00");
  EXPECT_EQ(ftos(-1.5, 0, 2), "-1.50");
  EXPECT_EQ(ftos(-1.5, 5, 2), "-1.50");
  EXPECT_EQ(ftos(-1.5, 3, 2), "-1.50");
  EXPECT_EQ(ftos(-1.5, -8, 2), "-1.50   ");  // left-justified keeps the width
  EXPECT_EQ(ftos(1.5, -8, 2), "1.50    ");
  EXPECT_EQ(ftos(123.456, 3, 1), "123.5");  // wider than the field, as printf
  EXPECT_EQ(ftos(7.0, 4, 0), "   7");
  EXPECT_EQ(ftos(7.0, 4, -2), "   7");      // negative decimals read as 0
  EXPECT_EQ(ftos(-INFINITY, 6, 1), "  -inf");
  // Buffer limits: no printf overflow.
  EXPECT_EQ(ftos(1e30, 12, 3, 20), "************");
  EXPECT_EQ(ftos(1.0, 30, 2, 10), "*********");
  EXPECT_EQ(ftos(-1.5, 5, 2, 6), "-1.50");
  EXPECT_EQ(ftos(-1.5, 5, 2, 5), "****");
  EXPECT_EQ(ftos(-1.5, 5, 2, 1), "");
}

TEST(Convert, Fshort) {
  EXPECT_EQ(fsh(3), "3");
  EXPECT_EQ(fsh(2.5), "2.500");
  EXPECT_EQ(fsh(1234.56), "1234.6");
  EXPECT_EQ(fsh(-100), "-100");
  EXPECT_EQ(fsh(-99.5), "-99.500");
  EXPECT_EQ(fsh(100.25), "100.2");
  EXPECT_EQ(fsh(-1234.25), "-1234.2");
  EXPECT_EQ(fsh(0.0005), "0.001");
  EXPECT_EQ(fsh(-0.0), "0");
  EXPECT_EQ(fsh(1e20), "100000000000000000000");
  EXPECT_EQ(fsh(1e20, 8), "*******");
}

TEST(Convert, GetvalPutval) {
  unsigned char b[8] = {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0};
  EXPECT_EQ(getval(b, 8), 255.0);
  EXPECT_EQ(getval(b, 4), 255.0);  // codes up to 8 read a byte
  EXPECT_EQ(getval(b + 1, 16), -2.0);
  EXPECT_EQ(getval(b + 1, 32), -2.0);  // bytes FE FF FF FF
  float f = 2.5f;
  memcpy(b, &f, 4);
  EXPECT_EQ(getval(b, 96), 2.5);

  unsigned char p[8];
  memset(p, 0xAA, sizeof p);
  putval(300, p, 8);
  EXPECT_EQ(p[0], 44);
  EXPECT_EQ(p[1], 0xAA);
  putval(-1, p, 8);
  EXPECT_EQ(p[0], 0xFF);
  putval(1e6, p, 16);
  EXPECT_EQ(at<int16_t>(p, 0), 32767);
  EXPECT_EQ(p[2], 0xAA);
  putval(-3.9, p, 16);
  EXPECT_EQ(at<int16_t>(p, 0), -3);
  putval(-3e9, p, 32);
  EXPECT_EQ(at<int32_t>(p, 0), -2147400000);
  putval(0.1, p, 96);
  EXPECT_EQ(at<float>(p, 0), 0.1f);
  memset(p, 0xAA, sizeof p);
  putval(3, p, 1);  // a bit code writes one byte, never a 4-byte float
  EXPECT_EQ(p[0], 3);
  EXPECT_EQ(p[1], 0xAA);
}

TEST(Convert, Cnvcod) {
  EXPECT_EQ(cnvcod(8, 16), 18);
  EXPECT_EQ(cnvcod(8, 96), 19);
  EXPECT_EQ(cnvcod(8, 32), 20);
  EXPECT_EQ(cnvcod(96, 8), 49);
  EXPECT_EQ(cnvcod(32, 96), 67);
  EXPECT_EQ(cnvcod(16, 16), 34);
  EXPECT_EQ(cnvcod(8, 8), 17);
  for (int bad : {1, 2, 4, 24, 64, 136, 264, 520, 0}) {
    EXPECT_EQ(cnvcod(bad, 8), 0) << bad;
    EXPECT_EQ(cnvcod(16, bad), 0) << bad;
  }
}

TEST(Convert, CnvtypEveryCode) {
  const uint8_t bytes[3] = {0, 200, 255};
  int16_t s16[3];
  float fl[3];
  int32_t s32[3];
  EXPECT_EQ(cnvtyp(bytes, s16, 18, 3), 3);
  EXPECT_EQ(s16[1], 200);
  EXPECT_EQ(s16[2], 255);
  cnvtyp(bytes, fl, 19, 3);
  EXPECT_EQ(fl[2], 255.0f);
  cnvtyp(bytes, s32, 20, 3);
  EXPECT_EQ(s32[1], 200);

  const int16_t h[3] = {-1, 0x1234, 300};
  uint8_t ob[3];
  cnvtyp(h, ob, 33, 3);
  EXPECT_EQ(ob[0], 0xFF);
  EXPECT_EQ(ob[1], 0x34);
  EXPECT_EQ(ob[2], 44);
  cnvtyp(h, fl, 35, 3);
  EXPECT_EQ(fl[0], -1.0f);
  EXPECT_EQ(fl[1], 4660.0f);
  cnvtyp(h, s32, 36, 3);
  EXPECT_EQ(s32[0], -1);

  // Float to integer: truncated toward zero, low bits kept, no clamping.
  const float g[4] = {300.7f, -1.5f, 1e10f, -3e9f};
  cnvtyp(g, ob, 49, 3);
  EXPECT_EQ(ob[0], 44);
  EXPECT_EQ(ob[1], 0xFF);
  EXPECT_EQ(ob[2], 0x00);
  const float g2[3] = {40000.0f, -2.9f, 1e10f};
  uint16_t u16[3];
  cnvtyp(g2, u16, 50, 3);
  EXPECT_EQ(u16[0], 0x9C40);
  EXPECT_EQ(u16[1], 0xFFFE);
  EXPECT_EQ(u16[2], 0xE400);
  cnvtyp(g + 2, s32, 52, 2);
  EXPECT_EQ(static_cast<uint32_t>(s32[0]), 0x540BE400u);
  EXPECT_EQ(s32[1], 1294967296);  // -3000000000 mod 2^32
  const float bad[2] = {NAN, INFINITY};
  cnvtyp(bad, s32, 52, 2);
  EXPECT_EQ(s32[0], 0);
  EXPECT_EQ(s32[1], 0);

  const int32_t w[2] = {0x12345678, 16777217};
  cnvtyp(w, ob, 65, 1);
  EXPECT_EQ(ob[0], 0x78);
  cnvtyp(w, u16, 66, 1);
  EXPECT_EQ(u16[0], 0x5678);
  cnvtyp(w + 1, fl, 67, 1);
  EXPECT_EQ(fl[0], 16777216.0f);

  // Codes outside the table copy nothing.
  uint8_t dst[4] = {9, 9, 9, 9};
  for (int code : {17, 34, 51, 68, 21, 0, 99}) {
    EXPECT_EQ(cnvtyp(bytes, dst, code, 3), 0) << code;
    EXPECT_EQ(dst[0], 9);
  }

  // In place: widening bytes to 32-bit in the same buffer.
  unsigned char buf[16] = {1, 2, 3, 250};
  EXPECT_EQ(cnvtyp(buf, buf, 20, 4), 4);
  EXPECT_EQ(at<int32_t>(buf, 0), 1);
  EXPECT_EQ(at<int32_t>(buf, 3), 250);
}

TEST(Convert, WdcnvtBitPacked) {
  AflagsGuard g;
  aflags = 0;
  const uint8_t v8[8] = {0, 1, 2, 255, 0, 1, 0, 1};
  uint8_t out[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(wdcnvt(v8, out, 8, 1, 8), 8);
  EXPECT_EQ(out[0], 0x75);  // clipped: 0 1 1 1 0 1 0 1
  EXPECT_EQ(out[1], 0xFF);  // only the bytes of the items are touched
  aflags = 4;
  wdcnvt(v8, out, 8, 1, 8);
  EXPECT_EQ(out[0], 0x55);  // masked: 0 1 0 1 0 1 0 1
  aflags = 0;

  const uint8_t a5 = 0xA5;
  uint8_t unp[8];
  wdcnvt(&a5, unp, 1, 8, 8);
  const uint8_t want[8] = {1, 0, 1, 0, 0, 1, 0, 1};
  EXPECT_EQ(0, memcmp(unp, want, 8));

  const uint8_t q[4] = {3, 4, 1, 0};
  wdcnvt(q, out, 8, 2, 4);
  EXPECT_EQ(out[0], 0xF4);
  aflags = 4;
  wdcnvt(q, out, 8, 2, 4);
  EXPECT_EQ(out[0], 0xC4);
  aflags = 0;

  const uint8_t nib = 0x9F;
  int16_t n16[2];
  wdcnvt(&nib, n16, 4, 16, 2);
  EXPECT_EQ(n16[0], 9);
  EXPECT_EQ(n16[1], 15);

  const int16_t neg[2] = {-5, 20};
  wdcnvt(neg, out, 16, 4, 2);
  EXPECT_EQ(out[0], 0x0F);
  aflags = 4;
  wdcnvt(neg, out, 16, 4, 2);
  EXPECT_EQ(out[0], 0xB4);
  aflags = 0;

  // 3-bit items straddle byte boundaries.
  const uint8_t t3[8] = {1, 2, 3, 4, 5, 6, 7, 0};
  uint8_t p3[3];
  EXPECT_EQ(wdcnvt(t3, p3, 8, 3, 8), 8);
  EXPECT_EQ(p3[0], 0x29);
  EXPECT_EQ(p3[1], 0xCB);
  EXPECT_EQ(p3[2], 0xB8);
  uint8_t back[8];
  wdcnvt(p3, back, 3, 8, 8);
  EXPECT_EQ(0, memcmp(back, t3, 8));

  // Floats to bits truncate, then clip; bits to floats.
  const float fv[4] = {0.5f, 1.0f, -2.0f, 3.7f};
  out[0] = 0xFF;
  wdcnvt(fv, out, 96, 1, 4);
  EXPECT_EQ(out[0], 0x50);  // 0 1 0 1, the rest of the byte zeroed
  float fb[4];
  wdcnvt(out, fb, 1, 96, 4);
  EXPECT_EQ(fb[1], 1.0f);
  EXPECT_EQ(fb[2], 0.0f);

  // Whole-byte pairs go through cnvtyp; equal codes copy; others do nothing.
  const uint8_t src[3] = {7, 200, 9};
  int16_t w16[3] = {0, 0, 0};
  EXPECT_EQ(wdcnvt(src, w16, 8, 16, 3), 3);
  EXPECT_EQ(w16[1], 200);
  int16_t c16[3] = {0, 0, 0};
  EXPECT_EQ(wdcnvt(w16, c16, 16, 16, 3), 3);
  EXPECT_EQ(c16[2], 9);
  uint8_t none[3] = {5, 5, 5};
  EXPECT_EQ(wdcnvt(src, none, 24, 8, 1), 0);
  EXPECT_EQ(wdcnvt(src, none, 1, 24, 3), 0);
  EXPECT_EQ(none[0], 5);
}

TEST(Convert, WordAndByteMoves) {
  uint32_t w[4] = {0, 0, 0, 0};
  filwds(w, 0xDEADBEEF, 3);
  EXPECT_EQ(w[2], 0xDEADBEEFu);
  EXPECT_EQ(w[3], 0u);

  char t[8] = "abcdef";
  movbak(t, t + 2, 4);  // destination above source: safe
  EXPECT_STREQ(t, "ababcd");

  unsigned char s[5] = {1, 2, 3, 4, 5};
  swab2(s, 5);
  const unsigned char ws[5] = {2, 1, 4, 3, 5};
  EXPECT_EQ(0, memcmp(s, ws, 5));
  swab2w(s, 5);
  const unsigned char orig[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(0, memcmp(s, orig, 5));
  swab2w(s + 1, 2);  // unaligned
  EXPECT_EQ(s[1], 3);
  EXPECT_EQ(s[2], 2);
}

TEST(Convert, CopyboxModes) {
  // Image 4 x 3 bytes, box 2 x 2 at (1, 1).
  uint8_t img[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  uint8_t flat[4] = {0};
  EXPECT_EQ(copybox(flat, img, 1, 1, 2, 2, 0, 4, 8, 0), 4);
  const uint8_t got[4] = {5, 6, 9, 10};
  EXPECT_EQ(0, memcmp(flat, got, 4));

  uint8_t f2[4] = {0xF0, 0, 0x0F, 3};
  copybox(f2, img, 1, 1, 2, 2, 1, 4, 8, 0);
  const uint8_t im2[12] = {0, 1, 2, 3, 4, 0xF0, 0, 7, 8, 0x0F, 3, 11};
  EXPECT_EQ(0, memcmp(img, im2, 12));

  uint8_t m[4] = {0x0F, 0xFF, 0x01, 0x02};
  copybox(m, img, 1, 1, 2, 2, 1, 4, 8, 1);  // OR
  EXPECT_EQ(img[5], 0xFF);
  EXPECT_EQ(img[6], 0xFF);
  copybox(m, img, 1, 1, 2, 2, 1, 4, 8, 2);  // XOR
  EXPECT_EQ(img[5], 0xF0);
  EXPECT_EQ(img[6], 0x00);
  EXPECT_EQ(img[9], 0x0E);
  EXPECT_EQ(img[10], 0x01);
  uint8_t m2[4] = {0x3C, 0xFF, 0x06, 0xFF};
  copybox(m2, img, 1, 1, 2, 2, 1, 4, 8, 3);  // AND
  EXPECT_EQ(img[5], 0x30);
  EXPECT_EQ(img[6], 0x00);
  EXPECT_EQ(img[9], 0x06);
  EXPECT_EQ(img[10], 0x01);
  EXPECT_EQ(img[4], 4);

  // Add, item by item, bytes wrap.
  uint8_t a[12] = {0};
  a[5] = 250;
  uint8_t ten[4] = {10, 1, 2, 3};
  copybox(ten, a, 1, 1, 2, 2, 1, 4, 8, 4);
  EXPECT_EQ(a[5], 4);
  EXPECT_EQ(a[6], 1);
  EXPECT_EQ(a[10], 3);
  EXPECT_EQ(a[4], 0);
  EXPECT_EQ(a[7], 0);

  // Mode 5: zero source items leave the target unchanged.
  uint8_t b[12];
  memset(b, 7, sizeof b);
  uint8_t src5[4] = {0, 9, 0, 8};
  copybox(src5, b, 1, 1, 2, 2, 1, 4, 8, 5);
  EXPECT_EQ(b[5], 7);
  EXPECT_EQ(b[6], 9);
  EXPECT_EQ(b[9], 7);
  EXPECT_EQ(b[10], 8);

  // Mode 6: only non-zero target items are replaced (target = flat here).
  uint8_t tgt[4] = {0, 1, 0, 1};
  uint8_t im6[12];
  memset(im6, 5, sizeof im6);
  copybox(tgt, im6, 0, 0, 2, 2, 0, 4, 8, 6);
  const uint8_t w6[4] = {0, 5, 0, 5};
  EXPECT_EQ(0, memcmp(tgt, w6, 4));

  // Whole rows: one run.
  uint8_t rows[12] = {0};
  uint8_t all[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(copybox(all, rows, 0, 1, 4, 2, 1, 4, 8, 0), 8);
  EXPECT_EQ(rows[3], 0);
  EXPECT_EQ(rows[4], 1);
  EXPECT_EQ(rows[11], 8);

  // 16-bit items: signed add; the flat buffer advances by nx, the image by a row.
  int16_t i16[6] = {-5, 0, 0, 100, 0, 0};
  int16_t f16[2] = {3, -200};
  copybox(f16, i16, 0, 0, 1, 2, 1, 3, 16, 4);
  EXPECT_EQ(i16[0], -2);
  EXPECT_EQ(i16[3], -100);
  EXPECT_EQ(i16[1], 0);

  // Float items are 4 bytes and add as floats.
  float fi[6] = {0, 0.5f, 0, 0, 0, 0};
  float ff[1] = {0.25f};
  copybox(ff, fi, 1, 0, 1, 1, 1, 3, 96, 4);
  EXPECT_EQ(fi[1], 0.75f);
  EXPECT_EQ(fi[2], 0.0f);
  float fz[1] = {0.5f};
  float fimg[3] = {0, 0, 0};
  copybox(fz, fimg, 2, 0, 1, 1, 1, 3, 96, 5);  // 0.5 counts as non-zero
  EXPECT_EQ(fimg[2], 0.5f);

  // 24-bit items, first byte most significant.
  uint8_t i24[6] = {0x00, 0x00, 0xFF, 0, 0, 0};
  uint8_t f24[3] = {0x00, 0x00, 0x01};
  copybox(f24, i24, 0, 0, 1, 1, 1, 2, 24, 4);
  EXPECT_EQ(i24[0], 0x00);
  EXPECT_EQ(i24[1], 0x01);
  EXPECT_EQ(i24[2], 0x00);

  // Bad shapes and modes do nothing.
  EXPECT_EQ(copybox(flat, img, 0, 0, 0, 2, 0, 4, 8, 0), 0);
  EXPECT_EQ(copybox(flat, img, 0, 0, 1, 1, 0, 4, 8, 7), 0);
  EXPECT_EQ(copybox(flat, img, 0, 0, 1, 1, 0, 4, 2, 0), 0);
}
