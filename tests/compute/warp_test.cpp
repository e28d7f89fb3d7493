// The displacement map, its neighbour tables and the segment-crossing test.
#include "compute/warp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(Warp, NeighbourTables) {
  int32_t o[26];
  uint32_t m[26];
  nbrtab(o, 8, 1, 10, 100, m);
  const int32_t o8[8] = {1, -1, -10, 10, 11, -9, 9, -11};
  const uint32_t m8[8] = {2, 1, 8, 16, 18, 10, 17, 9};
  for (int i = 0; i < 8; i++) EXPECT_EQ(o[i], o8[i]) << i;
  for (int i = 0; i < 8; i++) EXPECT_EQ(m[i], m8[i]) << i;
  nbrtab(o, 26, 1, 10, 100, m);
  EXPECT_EQ(o[4], -100);
  EXPECT_EQ(o[5], 100);
  EXPECT_EQ(o[10], 101);  // entry 0 one layer up
  EXPECT_EQ(m[10], 66u + 128);
  EXPECT_EQ(o[14], -9 + 100);  // entry 6 one layer up
  EXPECT_EQ(o[25], 11 - 100);  // entry 9 one layer down
  EXPECT_EQ(m[25], 82u + 64);
  EXPECT_EQ(bytesz(8) + bytesz(16) + bytesz(24) + bytesz(96), 1 + 2 + 3 + 4);
}

TEST(Warp, MapFromPairs) {
  WarpMap map{};
  const int16_t old[2] = {2, 1}, nw[2] = {3, 3};
  ASSERT_EQ(warpmap(old, nw, 1, 5, 4, 1, 2, 7, &map, 16), 2);
  EXPECT_EQ(map.empty, 0x8000u);
  EXPECT_EQ(map.flags, 7);
  EXPECT_EQ(map.cells, 20u);
  // The control point keeps its displacement, and every cell was reached
  // with values between the corners' 0 and it.
  EXPECT_EQ(mapget(&map, 2, 1, 0, 0), 1);
  EXPECT_EQ(mapget(&map, 2, 1, 0, 1), 2);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 5; x++) {
      int32_t dx = mapget(&map, x, y, 0, 0), dy = mapget(&map, x, y, 0, 1);
      EXPECT_TRUE(dx >= 0 && dx <= 1 && dy >= 0 && dy <= 2) << x << "," << y;
    }
  mapfree(&map);
}

TEST(Warp, ExtentOfOneAndChecks) {
  // An extent of 1 takes its single corner (the corner loop once stepped
  // by 0 without end).
  WarpMap map{};
  ASSERT_EQ(warpmap(nullptr, nullptr, 0, 5, 1, 1, 2, 0, &map, 8), 2);
  for (int x = 0; x < 5; x++) EXPECT_EQ(mapget(&map, x, 0, 0, 0), 0);
  // One component: the pairs are x values; a pair outside ends the entry.
  const int16_t old[3] = {1, 3, 9}, nw[3] = {2, 1, 0};
  ASSERT_EQ(warpmap(old, nw, 3, 5, 1, 1, 1, 0, &map, 8), 1);
  EXPECT_EQ(mapget(&map, 1, 0, 0, 0), 1);
  EXPECT_EQ(mapget(&map, 3, 0, 0, 0), -2);
  EXPECT_EQ(warppts(&map, old, nw, 3, 1, 1), 2);
  // Displacements are clamped to the item range.
  const int16_t o2[1] = {0}, n2[1] = {300};
  warppts(&map, o2, n2, 1, 1, 0);
  EXPECT_EQ(mapget(&map, 0, 0, 0, 0), 127);
  mapfree(&map);
}

TEST(Warp, Crossings) {
  const int16_t a[2] = {0, 0}, b[2] = {10, 10}, c[2] = {0, 10}, d[2] = {10, 0};
  int16_t out[2] = {0, 0};
  EXPECT_EQ(crossv(a, b, c, d, out, 0), 1);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[1], 5);
  const int16_t e[2] = {20, 20}, f[2] = {30, 30};
  EXPECT_EQ(crossv(a, b, e, f, out, 0), 0);
  const int16_t g[2] = {5, 5}, h[2] = {15, 15};
  EXPECT_EQ(crossv(a, b, g, h, out, 0), 3);  // the same line, overlapping
  const int16_t i[2] = {10, 0}, j[2] = {0, 20};
  EXPECT_EQ(crossv(a, b, i, j, out, 0), 1);
  EXPECT_EQ(out[0], 7);  // (6.67, 6.67) rounded
  // A crossing on an end point; boxes that only touch do not cross.
  const int16_t k[2] = {5, 5}, l[2] = {10, 0};
  EXPECT_EQ(crossv(a, b, k, l, out, 0), 2);
  const int16_t m[2] = {10, 10}, n[2] = {20, 0};
  EXPECT_EQ(crossv(a, b, m, n, out, 0), 0);

  // Table form: points (8-byte records after a 4-byte header) and segments
  // of point indices; the test segment is 0-1.
  uint8_t pts[4 + 8 * 6] = {};
  const int16_t xy[6][2] = {{0, 0}, {10, 10}, {0, 10}, {10, 0}, {20, 20}, {30, 30}};
  for (int n = 0; n < 6; n++) std::memcpy(pts + 4 + 8 * n, xy[n], 4);
  const int16_t segs[3][2] = {{2, 3}, {4, 5}, {1, 4}};
  int16_t i0 = 0, i1 = 1, limit = -100;
  EXPECT_EQ(crossv(pts, segs, &i0, &i1, &limit, 3), 1);  // 2-3 crosses; 1-4 shares an end
  limit = 10;  // segments left of x = 10 are skipped
  EXPECT_EQ(crossv(pts, segs, &i0, &i1, &limit, 2), 0);
}

}  // namespace
