// The table map's nine source/table loops and the small mapping helpers of
// the real-time ops, checked on raw buffers with values worked out by hand.
#include "realtime/rtops.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

template <typename T>
std::vector<uint8_t> bytes(std::initializer_list<T> v) {
  std::vector<uint8_t> b(v.size() * sizeof(T));
  std::memcpy(b.data(), std::data(v), b.size());
  return b;
}

template <typename T>
std::vector<int64_t> values(const std::vector<uint8_t>& b) {
  std::vector<int64_t> out(b.size() / sizeof(T));
  for (size_t i = 0; i < out.size(); i++) {
    T v;
    std::memcpy(&v, b.data() + i * sizeof(T), sizeof(T));
    out[i] = v;
  }
  return out;
}

// Maps src (stype) through a table of `limit` entries i * 10 + 1 (ttype)
// and returns the results read as the table's type.
std::vector<int64_t> run(const std::vector<uint8_t>& src, int stype, int ttype, int limit) {
  int tb = ttype / 8;
  std::vector<uint8_t> tab(size_t(limit) * tb);
  for (int i = 0; i < limit; i++) {
    int32_t v = i * 10 + 1;
    std::memcpy(tab.data() + size_t(i) * tb, &v, size_t(tb));
  }
  int n = static_cast<int>(src.size()) / (stype / 8);
  std::vector<uint8_t> dst(size_t(n) * tb, 0xEE);
  maptbl(src.data(), stype, tab.data(), ttype, limit, dst.data(), n);
  if (ttype == 8) return values<uint8_t>(dst);
  if (ttype == 16) return values<uint16_t>(dst);
  return values<int32_t>(dst);
}

TEST(RtMap, NineLoopsBoundAndPastValue) {
  // 8-bit source: values up to the bound map (inclusive); past it the
  // value is limit - 1 itself, cut to the table's range.
  auto s8 = bytes<uint8_t>({0, 2, 3, 4, 255});
  EXPECT_EQ(run(s8, 8, 8, 4), (std::vector<int64_t>{1, 21, 31, 3, 3}));
  EXPECT_EQ(run(s8, 8, 16, 4), (std::vector<int64_t>{1, 21, 31, 3, 3}));
  EXPECT_EQ(run(s8, 8, 32, 4), (std::vector<int64_t>{1, 21, 31, 3, 3}));
  // A table longer than 256 entries: an 8-bit source reaches entry 255.
  EXPECT_EQ(run(s8, 8, 32, 300), (std::vector<int64_t>{1, 21, 31, 41, 2551}));
  // 16-bit source (unsigned): inclusive with 8- and 16-bit tables, strict
  // with a 32-bit table (limit - 1 itself gives limit - 1).
  auto s16 = bytes<uint16_t>({0, 3, 4, 65535});
  EXPECT_EQ(run(s16, 16, 8, 4), (std::vector<int64_t>{1, 31, 3, 3}));
  EXPECT_EQ(run(s16, 16, 16, 4), (std::vector<int64_t>{1, 31, 3, 3}));
  EXPECT_EQ(run(s16, 16, 32, 4), (std::vector<int64_t>{1, 3, 3, 3}));
  // Entry 299 (2991 stored as a byte), and a value past the bound cut to 255.
  EXPECT_EQ(run(bytes<uint16_t>({299, 400}), 16, 8, 300), (std::vector<int64_t>{175, 255}));
  // 32-bit source: strict; a negative value never indexes the table.
  auto s32 = bytes<int32_t>({1, 2, 3, -5, INT32_MIN});
  EXPECT_EQ(run(s32, 32, 8, 4), (std::vector<int64_t>{11, 21, 3, 3, 3}));
  EXPECT_EQ(run(s32, 32, 16, 4), (std::vector<int64_t>{11, 21, 3, 3, 3}));
  EXPECT_EQ(run(s32, 32, 32, 4), (std::vector<int64_t>{11, 21, 3, 3, 3}));
  // No table maps nothing.
  EXPECT_EQ(run(s8, 8, 8, 0), (std::vector<int64_t>{0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(RtMap, InPlaceWiderTable) {
  // The destination over the source, with wider results: every source
  // element is read before it is overwritten.
  std::vector<uint8_t> buf(16, 0);
  const uint8_t src[4] = {3, 0, 2, 1};
  std::memcpy(buf.data(), src, 4);
  const int32_t tab[4] = {100, 200, 300, 400};
  maptbl(buf.data(), 8, reinterpret_cast<const uint8_t*>(tab), 32, 4, buf.data(), 4);
  EXPECT_EQ(values<int32_t>(buf), (std::vector<int64_t>{400, 100, 300, 200}));
}

TEST(RtHelpers, MapAndRange) {
  const int16_t p[6] = {10, 3, 2, 5, 0, 0};
  EXPECT_EQ(rtmap(13, p), 9);   // (13 - 10) * 3 / 2 + 5, no clamp
  EXPECT_EQ(rtmap(7, p), 1);    // -9 / 2 truncates to -4
  const int16_t c[6] = {0, 0, 0, 0, -2, 6};
  EXPECT_EQ(rtmap(9, c), 6);
  EXPECT_EQ(rtmap(-9, c), -2);
  const int16_t r[4] = {0, 10, 20, 30};
  const int16_t in[2] = {20, 10}, left[2] = {-1, 40}, ybig[2] = {5, 31}, ysmall[2] = {5, 9};
  EXPECT_EQ(inrange(in, r), 0);
  EXPECT_EQ(inrange(left, r), -1);  // x is tested first
  EXPECT_EQ(inrange(ybig, r), 2);
  EXPECT_EQ(inrange(ysmall, r), -2);
}

}  // namespace
