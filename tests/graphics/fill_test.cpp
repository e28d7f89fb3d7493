// The filler and object drawing where a session cannot look: masks, the
// crossings' sort, the pool running out, tiles, shading, the rotated second
// trace, flipped fills, text records, a walk past the list's end, normals
// and measuring.
#include "graphics/fill.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "gfx_fixture.h"
#include "graphics/pen.h"
#include "graphics/redraw.h"
#include "graphics/surface.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"

namespace {

struct Fill : Gfx {
  void SetUp() override {
    Gfx::SetUp();
    vinit(0);
  }
  void put(int x, int y, int z, int code, int colour = 0, int width = 0) {
    putvec(nvecs, x, y, z, code, colour, width);
    nvecs++;
  }
  // A closed outline of points, starting with a move.
  int32_t outline(std::vector<std::pair<int, int>> pts, int z = 0) {
    const int32_t at = nvecs;
    for (size_t k = 0; k < pts.size(); k++) put(pts[k].first, pts[k].second, z, k ? 1 : 2);
    return at;
  }
};

TEST_F(Fill, MasksOfOutlines) {
  // A rectangle: every bit of its box, rows of 4 bits.
  int16_t box[4];
  const int32_t a = outline({{2, 1}, {5, 1}, {5, 3}, {2, 3}});
  const uint8_t* m = paint(a, 4, 0, FILL_MASK, 0, box);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(std::vector<int16_t>(box, box + 4), (std::vector<int16_t>{2, 1, 5, 3}));
  EXPECT_EQ(m[0], 0xFF);
  EXPECT_EQ(m[1], 0xF0);
  // Three columns wide: the rows widen to 4 bits, the fourth clear.
  const int32_t b = outline({{10, 0}, {12, 0}, {12, 1}, {10, 1}});
  m = paint(b, 4, 0, FILL_MASK, 0, box);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(box[2], 13);
  EXPECT_EQ(m[0], 0xEE);
  // A mask of 32768 bytes or more is none; nothing was drawn.
  const int32_t c = outline({{0, 0}, {1023, 0}, {1023, 355}, {0, 355}});
  EXPECT_EQ(paint(c, 4, 0, FILL_MASK, 0, box), nullptr);
  EXPECT_EQ(box[2], 1023);
}

TEST_F(Fill, SortsEveryCrossingOfARow) {
  // 200 crossings in falling order (more than fifty passes of neighbour
  // swaps would leave unsorted); equal x keep their order.
  std::vector<FillSlot> pool(200);
  for (int k = 0; k < 200; k++) pool[k] = {static_cast<int16_t>(199 - k - (k == 150)), static_cast<int16_t>(k), k + 1};
  pool[199].next = -1;
  sltsrt(200, 0, pool.data());
  for (int k = 1; k < 200; k++) EXPECT_LE(pool[k - 1].x, pool[k].x) << k;
  EXPECT_EQ(pool[48].x, 48);
  EXPECT_EQ(pool[48].z, 150);
  EXPECT_EQ(pool[49].z, 151);
}

TEST_F(Fill, ThePoolRunningOut) {
  // Too little free memory for the crossings: error 114, no spans.
  run("declare byte image img(12,12)");
  run("vimage = img");
  const int32_t a = outline({{1, 1}, {9, 1}, {9, 9}, {1, 9}});
  const int32_t keep = scrtop;
  scrtop = lstk.lowest - 8192 - 8;
  paint(a, 4, 5, 0, 0, nullptr);
  scrtop = keep;
  EXPECT_TRUE(said("ERROR 114"));
  EXPECT_EQ(items("img")[5 * 12 + 5], 0);
}

TEST_F(Fill, ShadedTiles) {
  run("declare byte image img(40,20)");
  run("vimage = img");
  outline({{2, 2}, {18, 2}, {10, 18}});
  // A light straight above keeps the colour, one in the tile's plane takes
  // the whole strength off; below 1 it stays 1. The tile's triangle goes
  // again each time.
  put(-3, -2, -1, VC_TILE, 100);
  put(0, 0, 20, VC_PARAM, 0);
  vlight[0] = 8, vlight[1] = 6, vlight[2] = 500, vlight[3] = 30;
  EXPECT_EQ(vdraw(3, 0), 2);
  EXPECT_EQ(nvecs, 5);
  EXPECT_EQ(items("img")[8 * 40 + 10], 100);
  vlight[0] = 1000, vlight[2] = 0;
  vdraw(3, 0);
  EXPECT_EQ(items("img")[8 * 40 + 10], 70);
  vlight[3] = 200;
  vdraw(3, 0);
  EXPECT_EQ(items("img")[8 * 40 + 10], 1);
  vlight[3] = 0;
}

TEST_F(Fill, SecondTraceAndFlip) {
  run("declare byte image img(20,20)");
  run("declare byte image yz(20,20)");
  run("vimage = img");
  run("yzimage = yz");
  // Under the second trace the fill goes into yzimage turned (x shows z),
  // and into vimage as it is.
  const int32_t a = outline({{2, 2}, {6, 2}, {6, 5}, {2, 5}}, 9);
  put(-4, 4, -1, VC_FILL, 7);
  gflags = 0x18;
  vdraw(a + 4, 0);
  gflags = 0;
  setpxf(0);
  auto v = items("img"), y = items("yz");
  EXPECT_EQ(v[3 * 20 + 4], 7);
  EXPECT_EQ(y[3 * 20 + 9], 7);  // x = z + zoff
  EXPECT_EQ(y[3 * 20 + 4], 0);
  EXPECT_TRUE(imgbound(IV_VIMAGE));
  // Flipped about the drawing height: outline and spans in the same rows.
  run("img = 0");
  drworg[5] = 19;
  gflags = 0x2000;
  vdraw(a + 4, 0);
  gflags = 0;
  v = items("img");
  EXPECT_EQ(v[15 * 20 + 4], 7);
  EXPECT_EQ(v[16 * 20 + 4], 7);
  EXPECT_EQ(v[3 * 20 + 4], 0);
  EXPECT_EQ(v[12 * 20 + 4], 0);
}

TEST_F(Fill, TextRecordsAndAWalkPastTheEnd) {
  // A text of 6 bytes takes one record: the text after it is its own.
  put(6, 10, 0, VC_TEXT, 1);
  put(0x4241, 0x4443, 0x4645, VC_TEXT);
  put(3, 10, 0, VC_TEXT, 1);
  put(0x4241, 0x43, 0, VC_TEXT);
  EXPECT_EQ(vdraw(0, 0), 2);
  EXPECT_EQ(vdraw(2, 0), 2);
  EXPECT_FALSE(state & ST_ERROR);
  // A header of 10 bytes with one record: error 110, both consumed.
  put(10, 10, 0, VC_TEXT, 1);
  put(0x4241, 0x4443, 0x4645, VC_TEXT);
  put(5, 5, 0, VC_LINE);
  EXPECT_EQ(vdraw(4, 0), 2);
  EXPECT_TRUE(said("ERROR 110"));
  // An end record that skips past the list: the write index stays.
  state = 0;
  put(16, 50, 0, VC_END);
  run("redraw 7 0");
  EXPECT_EQ(nvecs, 8);
  EXPECT_EQ(veclst()->Length, 8);
}

TEST_F(Fill, NormalsAndMeasures) {
  const int16_t a[3] = {0, 0, 0}, b[3] = {10, 0, 0}, c[3] = {0, 10, 0};
  int16_t n[3] = {7, 7, 7};
  EXPECT_EQ(vnormal(a, b, c, n, -1), 1);
  EXPECT_EQ(std::vector<int16_t>(n, n + 3), (std::vector<int16_t>{0, 0, 20}));
  EXPECT_EQ(vnormal(b, a, c, n, -1), 1);
  EXPECT_EQ(n[2], -20);
  EXPECT_EQ(vnormal(b, a, c, n, 2), 1);
  EXPECT_EQ(n[2], 20);
  const int16_t d[3] = {3, 4, 0}, e[3] = {7, 9, 0};
  EXPECT_EQ(vnormal(a, d, d, n, -1), 0);
  EXPECT_EQ(n[2], 20);
  EXPECT_EQ(vnormal(d, e, d, n, -1), 0);
  // A square of side 10, closed: its length and area, with the sign of
  // its sense of rotation; scaled; open it has no area.
  put(1, 0, 0, VC_END);
  outline({{100, 100}, {110, 100}, {110, 110}, {100, 110}, {100, 100}});
  put(2, 0, 0, VC_END);
  float len = 0, area = 0;
  EXPECT_EQ(measur(nullptr, 1, -1, 0.0f, &len, &area), -5);
  EXPECT_EQ(len, 40.0f);
  EXPECT_EQ(area, 100.0f);
  EXPECT_EQ(lastvec, 6);
  // The whole list: records that are no point are passed over.
  EXPECT_EQ(measur(nullptr, -1, -1, 2.0f, &len, &area), 0);
  EXPECT_EQ(len, 80.0f);
  EXPECT_EQ(area, 400.0f);
}

}  // namespace

TEST_F(Fill, SpansStraightIntoImagesAsThePenPutsThem) {
  // A star with rows of several spans, partly left of and below the box,
  // filled into byte, short and long images, plain and XOR: the spans
  // written straight into the image are the pixels the pen puts one by one
  // (the trace mask 536 sends every pixel through SETpix).
  drwbox.max[1] = 30;
  const int32_t a = outline({{-6, 4}, {20, 40}, {12, 2}, {34, 28}, {2, 24}, {30, 8}}, 3);
  put(-6, 6, -1, VC_FILL, 201);
  put(0, 0, 0, VC_PARAM);
  const char* kinds[] = {"byte", "integer", "long"};
  for (const char* k : kinds) {
    for (int xr = 0; xr < 2; xr++) {
      std::vector<double> got[2];
      int16_t pen[2][3];
      LnState ls[2];
      for (int slow = 0; slow < 2; slow++) {
        run((std::string("declare ") + k + " image im" + k[0] + std::to_string(xr) + std::to_string(slow) +
             "(40,40)").c_str());
        run((std::string("vimage = im") + k[0] + std::to_string(xr) + std::to_string(slow)).c_str());
        trcmsk = slow ? 536 : 0;
        gflags = static_cast<int16_t>(xr ? 0x80 : 0);
        xorflg = static_cast<int16_t>(xr ? 0x80 : 0);
        setpxf(gflags);
        lastvec = 0;
        vdraw(a + 6, 0);
        vdraw(a + 6, 0);  // a second fill: XOR takes it out again
        vdraw(a + 6, 0);
        trcmsk = 0;
        gflags = xorflg = 0;
        setpxf(0);
        got[slow] = items((std::string("im") + k[0] + std::to_string(xr) + std::to_string(slow)).c_str());
        std::memcpy(pen[slow], penpt, sizeof penpt);
        ls[slow] = lnst;
      }
      // The pen and the line state as the last span's line leaves them.
      EXPECT_EQ(std::vector<int16_t>(pen[0], pen[0] + 3), std::vector<int16_t>(pen[1], pen[1] + 3)) << k;
      EXPECT_EQ(ls[0].x, ls[1].x);
      EXPECT_EQ(ls[0].y, ls[1].y);
      EXPECT_EQ(ls[0].count, ls[1].count);
      EXPECT_EQ(ls[0].zbase, ls[1].zbase);
      ASSERT_EQ(got[0].size(), 1600u);
      EXPECT_EQ(got[0], got[1]) << k << " xor " << xr;
      int n = 0;
      for (double v : got[0]) n += v == 201;
      EXPECT_GT(n, 300) << k;
      EXPECT_EQ(got[0][35 * 40 + 20], 0) << k;  // below the box: not drawn
    }
  }
}
