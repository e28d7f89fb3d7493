// Drawing through the language: redraw of the list, the records' rules (a first line-to is a move, end records
// skip), the flip and the rotated second trace into images, box outlines,
// erasing windows and the vector lists, and packed bit images.
#include "graphics/redraw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gfx_fixture.h"
#include "graphics/ellipse.h"
#include "graphics/erase.h"
#include "graphics/pen.h"
#include "graphics/veclist.h"

namespace {

// The set pixels of an image as rows of '#' and '.'.
std::string art(const std::vector<double>& v, int w) {
  std::string s;
  for (size_t i = 0; i < v.size(); i++) {
    s += v[i] != 0 ? '#' : '.';
    if ((i + 1) % static_cast<size_t>(w) == 0) s += '\n';
  }
  return s;
}

TEST_F(Gfx, RedrawOfTheList) {
  run("declare byte image img(8,5)");
  run("vimage = img");
  // A line-to first is a move; then a line; an end record skipping two.
  const int16_t recs[7][4] = {{1, 1, 1, 5}, {6, 1, 1, 5}, {16, 3, 15, 0}, {1, 4, 1, 7},
                              {6, 4, 1, 7}, {1, 3, 2, 0}, {3, 3, 1, 9}};
  for (const auto& r : recs) putvec(nvecs++, r[0], r[1], 0, r[2], r[3], 0);
  run("redraw 0 0");
  EXPECT_EQ(art(items("img"), 8),
            "........\n"
            ".######.\n"
            "........\n"
            ".###....\n"
            "........\n");
  EXPECT_EQ(items("img")[8 + 1], 5);
  // From a start index: only the records from there.
  run("img = 0");
  run("redraw 5 0");
  EXPECT_EQ(art(items("img"), 8),
            "........\n"
            "........\n"
            "........\n"
            ".###....\n"
            "........\n");
  EXPECT_EQ(nvecs, 7);
}

TEST_F(Gfx, FlipAndTheSecondTrace) {
  run("declare byte image img(12,12)");
  run("declare byte image yz(12,12)");
  run("vimage = img");
  run("yzimage = yz");
  // Flip y about the drawing height 10.
  drworg[5] = 10;
  gflags = 0x2000;
  const int16_t a[3] = {2, 1, 0};
  vmove(a);
  int16_t b[3] = {6, 1, 0};
  vline(b, 4, 0);
  EXPECT_EQ(b[1], 9);  // the caller's point is the one drawn
  auto v = items("img");
  EXPECT_EQ(v[9 * 12 + 2], 4);
  EXPECT_EQ(v[9 * 12 + 6], 4);
  EXPECT_EQ(v[1 * 12 + 2], 0);
  // The rotated copy goes into yzimage from the previous rotated point; the
  // line itself is drawn as usual.
  gflags = 0x18;
  zoff = 0;
  const int16_t c[3] = {1, 5, 2};
  vmove(c);  // previous rotated point: (2, 5, -1)
  int16_t d[3] = {1, 5, 8};
  vline(d, 6, 0);
  gflags = 0;
  auto y = items("yz");
  EXPECT_EQ(y[5 * 12 + 2], 6);
  EXPECT_EQ(y[5 * 12 + 8], 6);
  EXPECT_EQ(rotpt[0], 8);
  v = items("img");
  EXPECT_EQ(v[5 * 12 + 1], 6);  // the unrotated point, a single pixel
}

TEST_F(Gfx, BoxOutline) {
  run("declare byte image img(10,8)");
  run("vimage = img");
  vbox(1, 1, 5, 4, 2, 0, 0);
  EXPECT_EQ(art(items("img"), 10),
            "..........\n"
            ".######...\n"
            ".#....#...\n"
            ".#....#...\n"
            ".#....#...\n"
            ".######...\n"
            "..........\n"
            "..........\n");
  // Zoomed by shifts of 1: doubled, one taken from width and height.
  run("img = 0");
  zoomsh[0] = zoomsh[1] = 1;
  vbox(0, 0, 3, 3, 2, 1, 3);
  zoomsh[0] = zoomsh[1] = 0;
  auto v2 = items("img");
  EXPECT_EQ(v2[5 * 10 + 5], 2);
  EXPECT_EQ(v2[6 * 10 + 6], 0);
}

TEST_F(Gfx, ErasingWindowsAndLists) {
  // A text window: its grid blanked, its cursor home.
  const int32_t r[4] = {20, 80, 20 + 160 - 1, 80 + 64 - 1};
  const int n = makwin(-1, 1, 0x200, 0, "NOTES", r, 1, 1);
  ASSERT_GT(n, 0);
  const int keep = usewin(n);
  curtxt("written", 0, 2, 1, 0);
  usewin(keep);
  TxtGrid* g = wgrid(wport(n));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(gridbuf(g)[g->rowlen + 2], 'w');
  erase(n + 1);
  EXPECT_EQ(gridbuf(g)[g->rowlen + 2], ' ');
  EXPECT_EQ(wport(n)->curcol, 0);
  EXPECT_EQ(wport(n)->currow, 0);
  // A slot without a window: nothing, no message.
  erase(60);
  EXPECT_FALSE(state & ST_ERROR);
  deletewin(n);
  // The lists: emptied by name.
  savvec(1, 1, 0, 2, 0, 0);
  savvec(2, 2, 0, 1, 0, 0);
  run("nvdata = 4");
  run("erase vecs vdata");
  EXPECT_EQ(nvecs, 0);
  EXPECT_EQ(nvdata, 0);
}

TEST_F(Gfx, PackedBitImages) {
  run("declare bit image bits(16,2)");
  run("vimage = bits");
  const ImgTgt* keep = curimg(IV_VIMAGE);
  ASSERT_NE(curit, nullptr);
  EXPECT_EQ(curit->base, nullptr);  // through the element access
  SETpix(0, 0, 1);
  SETpix(9, 1, 3);  // the low bit
  SETpix(10, 1, 2);
  xorflg = 0x80;
  SETpix(9, 1, 1);
  SETpix(3, 0, 1);
  xorflg = 0;
  curput(keep);
  auto v = items("bits");
  ASSERT_EQ(v.size(), 32u);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[3], 1);
  EXPECT_EQ(v[16 + 9], 0);
  EXPECT_EQ(v[16 + 10], 0);
}

// set4pix's spans through the pen, for comparison with the direct spans.
int viapen(int dx, int dy, int cx, int cy, uint32_t value, int fill) {
  return set4pix(dx, dy, cx, cy, value, fill);
}

TEST_F(Gfx, FilledEllipsesStraightOrThroughThePen) {
  run("declare byte image one(60,40)");
  run("declare byte image two(60,40)");
  const int16_t c[3] = {30, 20, 0};
  for (int xr : {0, 0x80}) {
    run("one = 0");
    run("two = 0");
    xorflg = static_cast<int16_t>(xr);
    run("vimage = one");
    ellips(c, 50, 30, 7, 1);
    ellips(c, 21, 9, 3, 1);
    int16_t pen1[3], pen2[3];
    std::memcpy(pen1, penpt, sizeof pen1);
    run("vimage = two");
    symwr = viapen;
    ellips(c, 50, 30, 7, 1);
    ellips(c, 21, 9, 3, 1);
    symwr = set4pix;
    std::memcpy(pen2, penpt, sizeof pen2);
    xorflg = 0;
    EXPECT_EQ(items("one"), items("two")) << xr;
    EXPECT_EQ(std::vector<int16_t>(pen1, pen1 + 3), std::vector<int16_t>(pen2, pen2 + 3)) << xr;
  }
  EXPECT_EQ(items("one")[20 * 60 + 30], 7 ^ 3);
}

}  // namespace
