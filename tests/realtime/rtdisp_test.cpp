// The pixel-block helpers of the display ops on raw memory: moves that
// leave the fill behind and stop at the memory's edges, and flips.
#include "realtime/rtdisp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A 6 x 4 byte image whose pixel (x, y) is 10 * y + x.
std::vector<uint8_t> ramp() {
  std::vector<uint8_t> m(24);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 6; x++) m[size_t(y) * 6 + x] = static_cast<uint8_t>(10 * y + x);
  return m;
}

TEST(RtDisp, PixmoveFillsBehindAndStopsAtTheEdges) {
  auto m = ramp();
  const int32_t r[4] = {1, 1, 2, 2};
  pixmove(m.data(), 8, 6, 6, 4, r, 2, 1);
  // The box (11 12 / 21 22) went to (3, 2); where it was takes the pixel
  // left of it on its row (10 and 20).
  const std::vector<uint8_t> want = {0,  1,  2,  3,  4,  5,   //
                                     10, 10, 10, 13, 14, 15,  //
                                     20, 20, 20, 11, 12, 25,  //
                                     30, 31, 32, 21, 22, 35};
  EXPECT_EQ(m, want);
  // A box at column 0 takes the pixel right of it; moved up past the top,
  // its first row is cut off.
  m = ramp();
  const int32_t c[4] = {0, 0, 1, 1};
  pixmove(m.data(), 8, 6, 6, 4, c, 0, -1);
  EXPECT_EQ(m[0], 10);  // the row that moved up from y = 1
  EXPECT_EQ(m[1], 11);
  EXPECT_EQ(m[6], 12);  // its own place filled from the right (12)
  EXPECT_EQ(m[7], 12);
  EXPECT_EQ(m[2], 2);
  // A rectangle past the memory is cut to it; one wholly outside does
  // nothing; 32-bit pixels move whole, and a box as wide as the memory
  // takes its own last pixel as the fill.
  m = ramp();
  const int32_t far[4] = {10, 10, 20, 20};
  pixmove(m.data(), 8, 6, 6, 4, far, 1, 1);
  EXPECT_EQ(m, ramp());
  std::vector<uint32_t> w = {1, 2, 3, 4};
  const int32_t all[4] = {0, 0, 1, 0};
  pixmove(reinterpret_cast<uint8_t*>(w.data()), 32, 8, 2, 2, all, 0, 1);
  EXPECT_EQ(w, (std::vector<uint32_t>{2, 2, 1, 2}));
}

TEST(RtDisp, FlipboxBothWaysWithinTheImage) {
  auto m = ramp();
  const int16_t r[4] = {4, 2, 9, 9};  // cut to columns 4-5, rows 2-3
  flipbox(r, m.data(), 6, 4, 1, 3);
  EXPECT_EQ(m[2 * 6 + 4], 35);
  EXPECT_EQ(m[2 * 6 + 5], 34);
  EXPECT_EQ(m[3 * 6 + 4], 25);
  EXPECT_EQ(m[3 * 6 + 3], 33);  // outside the rectangle
  std::vector<uint16_t> s = {1, 2, 3, 4, 5, 6};
  const int16_t q[4] = {0, 0, 2, 1};
  flipbox(q, reinterpret_cast<uint8_t*>(s.data()), 3, 2, 2, 2);
  EXPECT_EQ(s, (std::vector<uint16_t>{4, 5, 6, 1, 2, 3}));
  EXPECT_EQ(rgbswap(0x00112233u), 0x00332211u);
}

}  // namespace
