// Block operations on image memory: pixset clipped to the image on every
// side, vidbox's reads and writes with depth conversion and combining, 24-
// bit images three bytes a pixel, and the row converter's pairs.
#include "graphics/pixblock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx_fixture.h"
#include "graphics/pixels.h"

namespace {

TEST_F(Gfx, PixsetClipsToTheImage) {
  ImgWin iw(16, 12, 8);
  const int32_t r[4] = {-5, -5, 9, 9};
  pixset(iw.w, 3, r);
  EXPECT_EQ(iw.count(), 100);
  EXPECT_EQ(iw.at(9, 9), 3u);
  EXPECT_EQ(iw.at(10, 9), 0u);
  // The right and bottom edges; a rectangle wholly outside does nothing.
  const int32_t e[4] = {14, 10, 40, 40}, out[4] = {16, 0, 20, 5};
  pixset(iw.w, 4, e);
  pixset(iw.w, 5, out);
  EXPECT_EQ(iw.count(), 104);
  EXPECT_EQ(iw.at(15, 11), 4u);
  // 32-bit pixels; the pixel target's own size when no window is named.
  ImgWin t(6, 4, 32);
  pixtgt(t.w->pwrec);
  const int32_t all[4] = {0, 0, 100, 100};
  pixset(nullptr, 0x10203, all);
  EXPECT_EQ(t.count(), 24);
  EXPECT_EQ(t.at(5, 3), 0x10203u);
  pixtg = PixTgt{};
  // No window and no target memory: slot 7 holds nothing, nothing happens.
  pixset(nullptr, 1, all);
  EXPECT_FALSE(state & ST_ERROR);
}

TEST_F(Gfx, VidboxConvertsAndCombines) {
  // A 1-bit buffer into a 32-bit image without a table: 0 and 65793.
  ImgWin iw(8, 2, 32);
  uint8_t bits[2] = {0xA0, 0x01};
  EXPECT_EQ(vidbox(iw.w, bits, 0, 0, 8, 2, 1, 0, 0, 0, 1, nullptr), 0);
  EXPECT_EQ(iw.at(0, 0), 65793u);
  EXPECT_EQ(iw.at(1, 0), 0u);
  EXPECT_EQ(iw.at(2, 0), 65793u);
  EXPECT_EQ(iw.at(7, 1), 65793u);
  EXPECT_EQ(iw.count(), 3);
  // Combining ops on an 8-bit image; add wraps at the item width.
  ImgWin b(4, 1, 8);
  uint8_t v[4] = {0xF0, 0x0F, 0xFF, 200};
  vidbox(b.w, v, 0, 0, 4, 1, 1, 0, 0, 0, 8, nullptr);
  uint8_t m[4] = {0x0F, 0x0F, 0x0F, 100};
  vidbox(b.w, m, 0, 0, 4, 1, 1, 0, 1, 0, 8, nullptr);  // OR
  EXPECT_EQ(b.at(0, 0), 0xFFu);
  EXPECT_EQ(b.at(3, 0), 236u);
  vidbox(b.w, m, 0, 0, 4, 1, 1, 0, 2, 0, 8, nullptr);  // XOR
  EXPECT_EQ(b.at(0, 0), 0xF0u);
  EXPECT_EQ(b.at(1, 0), 0u);
  EXPECT_EQ(b.at(3, 0), 136u);
  vidbox(b.w, m, 0, 0, 4, 1, 1, 0, 3, 0, 8, nullptr);  // AND
  EXPECT_EQ(b.at(0, 0), 0u);
  EXPECT_EQ(b.at(3, 0), 0u);
  vidbox(b.w, v, 0, 0, 4, 1, 1, 0, 4, 0, 8, nullptr);  // add
  vidbox(b.w, m, 0, 0, 4, 1, 1, 0, 4, 0, 8, nullptr);
  EXPECT_EQ(b.at(3, 0), (200u + 100u) & 0xFF);
  EXPECT_EQ(b.at(2, 0), (0xFFu + 0x0Fu) & 0xFF);
  vidbox(b.w, m, 0, 0, 4, 1, 1, 0, 5, 0, 8, nullptr);  // unknown: unchanged
  EXPECT_EQ(b.at(3, 0), (200u + 100u) & 0xFF);
  // Negative x and y: the buffer is entered at the first pixel kept.
  ImgWin c(4, 4, 8);
  std::vector<uint8_t> box(6 * 3);
  for (size_t i = 0; i < box.size(); i++) box[i] = static_cast<uint8_t>(i + 1);
  vidbox(c.w, box.data(), -2, -1, 6, 3, 1, 0, 0, 0, 8, nullptr);
  EXPECT_EQ(c.at(0, 0), 6u * 1 + 3);  // buffer row 1, column 2
  EXPECT_EQ(c.at(3, 1), 6u * 2 + 6);
  EXPECT_EQ(c.count(), 8);
  // Reading back into a buffer of another depth.
  uint8_t back[4] = {};
  vidbox(iw.w, back, 0, 0, 4, 1, 0, 0, 0, 0, 8, nullptr);
  EXPECT_EQ(back[0], 1);
  EXPECT_EQ(back[1], 0);
  // No image memory at all: error 205.
  vidbox(nullptr, back, 0, 0, 1, 1, 0, 0, 0, 0, 8, nullptr);
  EXPECT_TRUE(state & ST_ERROR);
  state = 0;
}

TEST_F(Gfx, VidboxTwentyFourBitImages) {
  // Three bytes a pixel: a 24-bit buffer straight, a 32-bit one without its
  // high byte, an 8-bit one through the table's low three bytes.
  ImgWin iw(4, 1, 24);
  uint8_t b24[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  vidbox(iw.w, b24, 0, 0, 4, 1, 1, 0, 0, 0, 24, nullptr);
  EXPECT_EQ(iw.at(3, 0), 0x0C0B0Au);
  uint32_t b32[2] = {0xFF112233, 0x00445566};
  vidbox(iw.w, b32, 1, 0, 2, 1, 1, 0, 0, 0, 32, nullptr);
  EXPECT_EQ(iw.at(1, 0), 0x112233u);
  EXPECT_EQ(iw.at(2, 0), 0x445566u);
  EXPECT_EQ(iw.at(3, 0), 0x0C0B0Au);
  uint8_t b8[1] = {2};
  uint32_t tab[4] = {0, 0, 0xAA123456, 0};
  vidbox(iw.w, b8, 0, 0, 1, 1, 1, 0, 0, 0, 8, tab);
  EXPECT_EQ(iw.at(0, 0), 0x123456u);
  // Reading into a 32-bit buffer adds a zero high byte.
  uint32_t rd[4] = {};
  vidbox(iw.w, rd, 0, 0, 4, 1, 0, 0, 0, 0, 32, nullptr);
  EXPECT_EQ(rd[2], 0x445566u);
  EXPECT_EQ(rd[3], 0x0C0B0Au);
}

TEST(Pixels, RowConverterPairs) {
  uint16_t s16[2] = {0xFFFF, 0x0001};
  uint8_t d8[2] = {7, 7};
  wdcnvrt(s16, d8, 16, 8, 2, nullptr, 0);  // converts nothing
  EXPECT_EQ(d8[0], 7);
  uint8_t d24[6] = {};
  wdcnvrt(s16, d24, 16, 24, 2, nullptr, 0);
  EXPECT_EQ(d24[0], 0xF8);
  EXPECT_EQ(d24[2], 0xF8);
  EXPECT_EQ(d24[3], 0x08);
  uint8_t s24[6] = {1, 2, 3, 4, 5, 6};
  uint32_t d32[2] = {};
  wdcnvrt(s24, d32, 24, 32, 2, nullptr, 0);
  EXPECT_EQ(d32[1], 0x060504u);
  uint32_t s32[1] = {0x99AABBCC};
  uint8_t t24[3] = {};
  wdcnvrt(s32, t24, 32, 24, 1, nullptr, 0);
  EXPECT_EQ(t24[0], 0xCC);
  EXPECT_EQ(t24[2], 0xAA);
  wdcnvrt(s24, d8, 24, 8, 2, nullptr, 0);  // the lowest byte
  EXPECT_EQ(d8[1], 4);
  // Packed sources high bits first, through the table.
  uint8_t nib[1] = {0x3C};
  uint8_t tab8[16];
  for (int i = 0; i < 16; i++) tab8[i] = static_cast<uint8_t>(i * 10);
  wdcnvrt(nib, d8, 4, 8, 2, tab8, 16);
  EXPECT_EQ(d8[0], 30);
  EXPECT_EQ(d8[1], 120);
}

}  // namespace
