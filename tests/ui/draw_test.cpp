// Drawing conventions pixel by pixel on off-screen ports, colour tables,
// the font table, cell reading and the tablet parser.
#include "ui/draw.h"
#include "compute/fnsvc.h"
#include "graphics/drawstate.h"
#include "graphics/pixels.h"
#include "tests/support/interp.h"
#include "ui/fonts.h"
#include "ui/keys.h"
#include "ui/ports.h"
#include "ui/platform/face.h"
#include "ui/platform/surface.h"
#include "ui/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A 32-bit off-screen port as the drawing port, black pen on white.
struct Port {
  PwRec* p;
  explicit Port(int w = 40, int h = 30, int depth = 32) {
    p = makcport(w, h, nullptr, depth, nullptr);
    setwdc(nullptr);
    setPort(p);
    p->penwid = 1;
    p->fontnum = 1;  // the built-in face
    p->pencol = 0x0000FF;  // red
    p->fillcol = 0x00FF00;
  }
  ~Port() {
    setPort(nullptr);
    dspport(p, 1);
  }
  bool on(int x, int y) const { return getpix(p, x, y) != 0; }
  // The set pixels as rows of '#' and '.'.
  std::string art(int w, int h) const {
    std::string s;
    for (int y = 0; y < h; y++) {
      for (int x = 0; x < w; x++) s += on(x, y) ? '#' : '.';
      s += '\n';
    }
    return s;
  }
  int count() const {
    int n = 0;
    for (int y = 0; y < p->rect[3]; y++)
      for (int x = 0; x < p->rect[2]; x++) n += on(x, y);
    return n;
  }
};

TEST(Draw, LinesAndRectangles) {
  Port t;
  // A line leaves its end point out; the pen moves there.
  drawline(2, 3, 6, 3);
  for (int x = 2; x <= 5; x++) EXPECT_TRUE(t.on(x, 3)) << x;
  EXPECT_FALSE(t.on(6, 3));
  EXPECT_EQ(t.p->penx, 6);
  EXPECT_EQ(getpix(t.p, 2, 3), 0xFF0000);  // red in the 32-bit layout
  // drawrect: the closed outline of x .. x + w - 1, y .. y + h - 1.
  Port r(12, 8);
  drawrect(1, 1, 5, 4);
  EXPECT_EQ(r.art(8, 6),
            "........\n"
            ".#####..\n"
            ".#...#..\n"
            ".#...#..\n"
            ".#####..\n"
            "........\n");
  // frmrect takes an inclusive rectangle; eraseRect fills one inclusively.
  Port f(12, 8);
  const int32_t rect[4] = {2, 1, 4, 3};
  frmrect(rect);
  EXPECT_EQ(f.count(), 8);
  f.p->bkcol = 0xFFFFFF;
  eraseRect(rect);
  EXPECT_EQ(f.count(), 9);
  fillrect(0, 0, 2, 2);
  EXPECT_EQ(f.count(), 13);
}

TEST(Draw, RoundRectangle) {
  Port t;
  // Twenty steps from (2, 0) back to it, each corner a two-pixel stair.
  roundrect(0, 0, 10, 8);
  EXPECT_EQ(t.art(12, 10),
            ".#########..\n"
            "##.......##.\n"
            "#.........#.\n"
            "#.........#.\n"
            "#.........#.\n"
            "#.........#.\n"
            "#.........#.\n"
            "##.......##.\n"
            ".#########..\n"
            "............\n");
  EXPECT_EQ(t.p->penx, 2);
  EXPECT_EQ(t.p->peny, 0);
}

TEST(Draw, EllipsesArcsAndPies) {
  Port t;
  fillval(0, 0, 9, 5);
  // The filled ellipse fits its box, touches its four sides, and is
  // symmetric about both middle lines.
  EXPECT_EQ(t.art(10, 6),
            "..#####...\n"
            "#########.\n"
            "#########.\n"
            "#########.\n"
            "..#####...\n"
            "..........\n");
  Port o;
  drawoval(0, 0, 11, 11);
  EXPECT_TRUE(o.on(5, 0));
  EXPECT_TRUE(o.on(0, 5));
  EXPECT_TRUE(o.on(10, 5));
  EXPECT_TRUE(o.on(5, 10));
  EXPECT_FALSE(o.on(5, 5));
  // An arc from 0 to 90 degrees: the upper right quarter only.
  Port a;
  drarc(10, 10, 8, 8, 0, 90);
  int right = 0, other = 0;
  for (int y = 0; y < 30; y++)
    for (int x = 0; x < 40; x++)
      if (a.on(x, y)) (x >= 10 && y <= 9 ? right : other)++;
  EXPECT_GT(right, 8);
  EXPECT_EQ(other, 0);
  // A pie fills its quarter in the fill colour, outlined in the pen's.
  Port p;
  drpie(10, 10, 8, 8, 90, 180);
  EXPECT_EQ(getpix(p.p, 6, 6), 0x00FF00);  // inside the upper left quarter
  EXPECT_EQ(getpix(p.p, 14, 6), 0);
  EXPECT_EQ(getpix(p.p, 6, 14), 0);
  EXPECT_EQ(getpix(p.p, 2, 9), 0xFF0000);
}

TEST(Draw, TextMetricsAndPixelLayouts) {
  Port t(64, 20);
  EXPECT_EQ(txtwid("abc", 3), 3 * FACEWID);
  movtxt(4, 2, "Hi", 2);
  EXPECT_EQ(t.p->penx, 4 + 2 * FACEWID);
  // The glyphs land inside their cells, in the text colour.
  int inside = 0;
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 64; x++)
      if (t.on(x, y)) {
        EXPECT_TRUE(x >= 4 && x < 4 + 2 * FACEWID && y >= 2 && y < 2 + FACEHGT) << x << "," << y;
        EXPECT_EQ(getpix(t.p, x, y), 0x00FF00);
        inside++;
      }
  EXPECT_GT(inside, 20);
  // 5-6-5 round trip.
  EXPECT_EQ(rgb565(0xFFFF), 0xF8FCF8u);
  EXPECT_EQ(to565(rgb565(0xFFFF)), 0xFFFFu);
  EXPECT_EQ(to565(rgb565(0x1234)), 0x1234u);
  // The same colour in 16, 24 and 8 bits.
  Port s16(4, 4, 16);
  drawpt(1, 1, 0x0000FF);
  EXPECT_EQ(static_cast<uint16_t>(getpix(s16.p, 1, 1)), 0xF800);
  Port s24(4, 4, 24);
  drawpt(1, 1, 0x0000FF);
  EXPECT_EQ(getpix(s24.p, 1, 1), 0xFF0000);
  const auto* px = static_cast<const uint8_t*>(heldptr(s24.p->pixels)) + s24.p->rowbytes + 3;
  EXPECT_EQ(px[2], 0xFF);  // blue, green, red bytes
  EXPECT_EQ(px[0], 0);
  // SETpix XORs under bit 0x80 of the XOR word, and replaces otherwise.
  Port s8(8, 2, 8);
  SETpix(3, 0, 0x0F);
  SETpix(3, 0, 0xF0);
  EXPECT_EQ(getpix(s8.p, 3, 0), 0xF0);
  const int16_t keep = xorflg;
  xorflg = static_cast<int16_t>(xorflg | 0x80);
  SETpix(3, 0, 0xFF);
  xorflg = keep;
  EXPECT_EQ(getpix(s8.p, 3, 0), 0x0F);
}

// A scene of every shape and some text, compared with the expected image
// (PELIX_REGEN=1 writes it anew).
TEST(Draw, SceneMatchesExpectedImage) {
  Port t(96, 64);
  t.p->bkcol = 0xFFFFFF;
  const int32_t all[4] = {0, 0, 95, 63};
  eraseRect(all);
  drawrect(2, 2, 30, 20);
  roundrect(36, 2, 30, 20);
  t.p->fillcol = 0xFF0000;
  fillval(70, 2, 24, 20);
  drawoval(2, 26, 30, 16);
  t.p->fillcol = 0x00FFFF;
  drpie(50, 34, 10, 10, 30, 150);
  t.p->pencol = 0x008000;
  drarc(80, 34, 10, 8, 200, 340);
  t.p->fillcol = 0x000000;
  movtxt(2, 46, "Ab1", 3);
  Surface got;
  got.resize(96, 64);
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 96; x++) got.row(y)[x] = static_cast<uint32_t>(getpix(t.p, x, y)) & 0xFFFFFF;
  const std::string want = std::string(PELIX_SOURCE_DIR) + "/tests/ui/want_scene.png";
  if (std::getenv("PELIX_REGEN")) {
    ASSERT_EQ(swrite(got, want), 0);
  }
  Surface w;
  ASSERT_EQ(sread(w, want), 0);
  ASSERT_EQ(w.w, 96);
  ASSERT_EQ(w.h, 64);
  for (int y = 0; y < 64; y++) {
    for (int x = 0; x < 96; x++) {
      ASSERT_EQ(w.row(y)[x], got.row(y)[x]) << x << "," << y;
    }
  }
}

TEST(Draw, ColourTableAndNames) {
  // Reading never runs past the table, whatever count is asked for.
  std::vector<uint8_t> out(2000 * 4, 0xEE);
  EXPECT_EQ(PClut(0, out.data(), 2000, 1, 4), 256);
  EXPECT_EQ(out[256 * 4], 0xEE);
  EXPECT_EQ(std::memcmp(out.data(), progctab(), 256 * 4), 0);
  // One byte of each entry (where / 100): the red bytes.
  std::vector<uint8_t> red(300, 0xEE);
  EXPECT_EQ(PClut(200, red.data(), 300, 1, 1), 256);
  EXPECT_EQ(red[255], progctab()[255 * 4 + 2]);
  EXPECT_EQ(red[256], 0xEE);
  // The colour names keep their stored values.
  EXPECT_EQ(colname("green"), 0xFF0000);
  EXPECT_EQ(colname("blue"), 0x00FF00);
  EXPECT_EQ(colname("orange"), 0x7F7FFF);
  EXPECT_EQ(colname("pink"), -1);
}

TEST(Fonts, TableRowsAreChecked) {
  initFonts(0);
  EXPECT_EQ(setlfnt(-1, "System", 12, 0), -1);
  EXPECT_EQ(setlfnt(fntcount(), "System", 12, 0), -1);
  EXPECT_EQ(setlfnt(3, "No Such Face Here", 12, 0), -1);
  EXPECT_EQ(fntrow(3)->width, 0);
  EXPECT_EQ(setlfnt(3, "System", 20, 3), 0);
  EXPECT_EQ(fntrow(3)->desc.weight, 700);
  EXPECT_EQ(fntrow(3)->desc.italic, 1);
  EXPECT_EQ(fntrow(3)->width, FACEWID);
  EXPECT_EQ(SETFONT(fntcount(), 0, 0), -1);
}

TEST(Fonts, NamedFacesDrawThroughFreeType) {
  initFonts(0);
  if (setlfnt(4, "DejaVu Sans", 20, 0) != 0) GTEST_SKIP() << "no named faces in this build";
  Port t(200, 40);
  t.p->fontnum = 4;
  // Proportional widths, unlike the built-in cells.
  EXPECT_LT(txtwid("iiii", 4), txtwid("WWWW", 4));
  movtxt(3, 2, "Wi", 2);
  EXPECT_EQ(t.p->penx, 3 + txtwid("Wi", 2));
  int set = 0, top = 99, left = 999;
  for (int y = 0; y < 40; y++)
    for (int x = 0; x < 200; x++)
      if (t.on(x, y)) {
        set++;
        top = std::min(top, y);
        left = std::min(left, x);
      }
  EXPECT_GT(set, 30);
  EXPECT_GE(top, 2);
  EXPECT_GE(left, 3);
  t.p->fontnum = 1;
  EXPECT_EQ(txtwid("Wi", 2), 2 * FACEWID);
}

TEST(Keys, WordsAndCellsRespectTheBuffer) {
  initWins();
  setwin(0);
  const char* text = "  alpha beta-gamma  ";
  curtxt(text, 0, 0, 3, 0);
  char buf[32];
  EXPECT_EQ(getwrd(9, 3, buf, sizeof buf), 10);
  EXPECT_STREQ(buf, "beta-gamma");
  char small[5];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(getwrd(9, 3, small, sizeof small), 4);
  EXPECT_STREQ(small, "beta");
  EXPECT_EQ(getwrd(0, 3, buf, sizeof buf), 0);  // a blank cell
  EXPECT_EQ(txtcell(small, 2, 3, sizeof small), 4);
  EXPECT_STREQ(small, "alph");
}

TEST(Keys, TextGrabCopiesAndErasesTheBlock) {
  initWins();
  setwin(0);
  const Wport* w = curport;
  const TxtGrid* g = wgrid(w);
  ASSERT_NE(g, nullptr);
  curtxt("one two", 0, 0, g->orow + 5, 0);
  curtxt("three  ", 0, 0, g->orow + 6, 0);
  // Anchor on "two"'s t, corner two rows down on column 6.
  Boxcur(4 * w->chwid + 1, 5 * w->chhgt + 1, -3);
  Boxcur(6 * w->chwid + 1, 6 * w->chhgt + 1, -3);
  int n = 0;
  const char* t = grbtxt(13, &n);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(std::string(t, n), "two\ne");
  t = grbtxt(130, &n);  // the right button: the first row only
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "two");
  EXPECT_EQ(grbtxt(137, &n), nullptr);
  grbtxt(211, &n);  // Del blanks the block
  char row[16];
  txtcell(row, 0, g->orow + 5, sizeof row);
  EXPECT_EQ(std::string(row).substr(0, 7), "one    ");
  Boxcur(0, 0, 0);
}

TEST(Keys, TabletParsers) {
  // Binary packets: buttons in the first byte, 14-bit x and y.
  TabState t;
  int r = -2;
  for (int b : {0x80 | 0x41, 5, 1, 9, 2}) r = tabfeed(t, 0x400, b);
  EXPECT_EQ(r, 128 | 9);
  EXPECT_EQ(t.x, 5 + 128);
  EXPECT_EQ(t.y, 9 + 256);
  // The same report again is nothing new; a first byte inside a packet is a
  // framing error.
  for (int b : {0x80 | 0x41, 5, 1, 9, 2}) r = tabfeed(t, 0x400, b);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(tabfeed(t, 0x400, 0x80), -2);
  EXPECT_EQ(tabfeed(t, 0x400, 0x81), -1);
  // ASCII records of three fields, buttons first; a partial record is
  // dropped; an endless field saturates.
  TabState a;
  const int mode = (3 << 2) | 0x80;
  auto feed = [&](const std::string& s) {
    int res = -2;
    for (unsigned char c : s) {
      const int q = tabfeed(a, mode, c);
      if (q != -2) res = q;
    }
    return res;
  };
  EXPECT_EQ(feed("1,120,45\r"), 129);
  EXPECT_EQ(a.x, 120);
  EXPECT_EQ(a.y, 45);
  EXPECT_EQ(feed("0,7\r"), -2);
  EXPECT_EQ(feed("0,99999999999999999999,3\r"), 0);
  EXPECT_EQ(a.x, INT32_MAX);
}

}  // namespace
