// The pen and the line walkers: line preparation of every kind, the walk's
// pixels and where it leaves the state, clipping to the drawing box, the
// direction code, distance and angle, rotation, flip and the origin, the
// second trace, the platform pen's colour cache, and the ellipse's steps.
#include "graphics/pen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "core/state.h"
#include "graphics/drawstate.h"
#include "graphics/ellipse.h"
#include "graphics/writers.h"
#include "tests/support/interp.h"
#include "ui/draw.h"
#include "ui/ports.h"
#include "ui/screen.h"
#include "ui/window.h"

namespace {

std::vector<std::pair<int, int>> seen;
int grab(int x, int y, uint32_t) {
  seen.emplace_back(x, y);
  return 0;
}

struct Steps {
  std::vector<std::pair<int, int>> d;
  std::vector<int> fill;
};
Steps steps;
int grabsym(int dx, int dy, int, int, uint32_t, int fill) {
  steps.d.emplace_back(dx, dy);
  steps.fill.push_back(fill);
  return 0;
}

class Pen : public ::testing::Test {
 protected:
  void SetUp() override {
    clrflags();
    drwini();
    seen.clear();
    steps = Steps{};
  }
  void TearDown() override {
    clrflags();
    drwini();
  }
  // The pixels a line walks, through the capturing writer.
  static std::vector<std::pair<int, int>> walk(const int16_t* a, const int16_t* b) {
    seen.clear();
    linprm(a, b, &lnst);
    lnstep(grab);
    return seen;
  }
};

TEST_F(Pen, LinePreparationOfEveryKind) {
  const int16_t p[3] = {10, 10, 0};
  linprm(p, p, &lnst);
  EXPECT_EQ(lnst.kind, LK_POINT);
  EXPECT_EQ(lnst.count, 1);
  const int16_t h0[3] = {0, 0, 0}, h1[3] = {5, 0, 0};
  linprm(h1, h0, &lnst);  // ends ordered: the walk starts at the left end
  EXPECT_EQ(lnst.kind, LK_HORIZ);
  EXPECT_EQ(lnst.count, 6);
  EXPECT_EQ(lnst.x, 0);
  // The steep falling line from (5, 0) to (0, 10) starts at (5, 0), walks y
  // and steps x by -1.
  const int16_t s0[3] = {5, 0, 0}, s1[3] = {0, 10, 0};
  linprm(s0, s1, &lnst);
  EXPECT_EQ(lnst.kind, LK_YMAJOR);
  EXPECT_EQ(lnst.step, -1);
  EXPECT_EQ(lnst.count, 11);
  EXPECT_EQ(std::make_pair(lnst.x, lnst.y), std::make_pair(5, 0));
  auto px = walk(s1, s0);
  ASSERT_EQ(px.size(), 11u);
  EXPECT_EQ(px.front(), std::make_pair(5, 0));
  EXPECT_EQ(px.back(), std::make_pair(0, 10));
  for (size_t i = 0; i < px.size(); i++) EXPECT_EQ(px[i].second, static_cast<int>(i));
  // A shallow falling line starts at its left end and steps y by -1.
  const int16_t f0[3] = {0, 4, 0}, f1[3] = {8, 0, 0};
  px = walk(f0, f1);
  EXPECT_EQ(lnst.kind, LK_XMAJOR);
  ASSERT_EQ(px.size(), 9u);
  EXPECT_EQ(px.front(), std::make_pair(0, 4));
  EXPECT_EQ(px.back(), std::make_pair(8, 0));
  // Vertical, walked downward from the upper end whichever end comes first.
  const int16_t v0[3] = {3, 9, 0}, v1[3] = {3, 2, 0};
  px = walk(v0, v1);
  EXPECT_EQ(lnst.kind, LK_VERT);
  ASSERT_EQ(px.size(), 8u);
  EXPECT_EQ(px.front(), std::make_pair(3, 2));
  // The walk leaves the state one step past the last pixel.
  EXPECT_EQ(lnst.y, 10);
  // A flat line at z 10: depth base 9 and every depth 9 (the base keeps its
  // rounding).
  const int16_t z0[3] = {0, 0, 10}, z1[3] = {20, 0, 10};
  linprm(z0, z1, &lnst);
  EXPECT_EQ(lnst.zbase, 9);
  EXPECT_FLOAT_EQ(lnst.round, 0.5f);
  // A falling depth rounds the other way.
  const int16_t d0[3] = {0, 0, 10}, d1[3] = {9, 0, 0};
  linprm(d0, d1, &lnst);
  EXPECT_FLOAT_EQ(lnst.zslope, -1.0f);
  EXPECT_FLOAT_EQ(lnst.round, -0.5f);
}

TEST_F(Pen, LongLinesWalkExactly) {
  // Terms beyond 16 bits: every x once, ending on the far point.
  const int16_t a[3] = {-30000, -100, 0}, b[3] = {30000, 100, 0};
  auto px = walk(a, b);
  ASSERT_EQ(px.size(), 60001u);
  EXPECT_EQ(px.back(), std::make_pair(30000, 100));
  for (size_t i = 1; i < px.size(); i++) {
    ASSERT_EQ(px[i].first, px[i - 1].first + 1);
    ASSERT_GE(px[i].second, px[i - 1].second);
  }
  const int16_t c[3] = {0, -32000, 0}, d[3] = {1, 32000, 0};
  px = walk(c, d);
  ASSERT_EQ(px.size(), 64001u);
  EXPECT_EQ(px[31999], std::make_pair(0, -1));
  EXPECT_EQ(px[32001], std::make_pair(1, 1));
}

TEST_F(Pen, DrlineWritesRowsToTheRight) {
  // Through the installed writer: a row of count pixels from its left end.
  pixwr = grab;
  const int16_t a[3] = {7, 3, 0}, b[3] = {2, 3, 0};
  linprm(a, b, &lnst);
  drline();
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen.front(), std::make_pair(2, 3));
  EXPECT_EQ(seen.back(), std::make_pair(7, 3));
  EXPECT_EQ(lnst.x, 8);
  pixwr = SETpix;
}

TEST_F(Pen, ClippingToTheBox) {
  int16_t a[3] = {10, 10, 0}, b[3] = {20, 30, 0};
  EXPECT_EQ(iclip(a, b), 0);
  EXPECT_EQ(a[0], 10);
  // Both below the minimum: -1, points left as they were.
  int16_t c[3] = {-5, 10, 0}, d[3] = {-1, 40, 0};
  EXPECT_EQ(iclip(c, d), -1);
  EXPECT_EQ(c[0], -5);
  EXPECT_EQ(d[0], -1);
  // Across the left edge: the outside point moves onto x = 0.
  int16_t e[3] = {-10, 0, 0}, f[3] = {10, 20, 0};
  EXPECT_EQ(iclip(e, f), 1);
  EXPECT_EQ(e[0], 0);
  EXPECT_EQ(e[1], 10);
  // Across the right and bottom edges at once (box 511 x 511).
  int16_t g[3] = {500, 500, 0}, h[3] = {520, 530, 0};
  EXPECT_EQ(iclip(g, h), (8 | 16));
  EXPECT_EQ(limits(h), 0);
  EXPECT_TRUE(h[0] == 511 || h[1] == 511);
  // The last valid point and one past it.
  const int16_t in[3] = {511, 511, 1000}, out[3] = {511, 512, 1000}, lo[3] = {0, 0, -1001};
  EXPECT_EQ(limits(in), 0);
  EXPECT_EQ(limits(out), 16);
  EXPECT_EQ(limits(lo), 4);
  // z is clipped like x and y.
  int16_t i[3] = {10, 10, -2000}, j[3] = {10, 10, 0};
  EXPECT_EQ(iclip(i, j), 4);
  EXPECT_EQ(i[2], -1000);
  // No transform: nothing is clipped; an interrupt gives -1.
  gflags = 1;
  int16_t k[3] = {-10, 0, 0}, l[3] = {10, 0, 0};
  EXPECT_EQ(iclip(k, l), 0);
  EXPECT_EQ(k[0], -10);
  gflags = 0;
  state = ST_INTR;
  EXPECT_EQ(iclip(k, l), -1);
  state = 0;
}

TEST_F(Pen, DirectionDistanceAngle) {
  const int16_t o[3] = {0, 0, 0};
  const int16_t down[3] = {0, 5, 0}, up[3] = {0, -5, 0}, left[3] = {-1, 0, 0};
  EXPECT_EQ(dircode(o, down), 0);
  EXPECT_EQ(dircode(o, up), 0);  // no x step: the slope counts as steep
  EXPECT_EQ(dircode(o, left), 6);
  const int16_t pts[8][3] = {{1, 3, 0}, {1, 1, 0}, {10, 1, 0}, {1, -1, 0},
                             {1, -3, 0}, {-1, -1, 0}, {-10, 1, 0}, {-1, 1, 0}};
  const int want[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  for (int k = 0; k < 8; k++) EXPECT_EQ(dircode(o, pts[k]), want[k]) << k;
  // The boundaries of the slope classes: 2.4 itself is class 1.
  const int16_t b24[3] = {5, 12, 0}, b04[3] = {5, 2, 0};
  EXPECT_EQ(dircode(o, b24), 1);
  EXPECT_EQ(dircode(o, b04), 2);
  const int16_t p[3] = {3, 4, 12};
  EXPECT_FLOAT_EQ(vdist(o, p, 2), 5.0f);
  EXPECT_FLOAT_EQ(vdist(o, p, 3), 13.0f);
  const int32_t a[3] = {5, 0, 0}, v[3] = {0, 0, 0}, b[3] = {0, 7, 0}, n[3] = {-2, 0, 0};
  EXPECT_FLOAT_EQ(ANGLE(a, v, b), 90.0f);
  EXPECT_NEAR(ANGLE(a, v, n), 180.0f, 1e-4);
  EXPECT_FLOAT_EQ(ANGLE(v, v, b), 0.0f);
}

TEST_F(Pen, RotationFlipAndTheSecondTrace) {
  zoff = 3;
  const int16_t p[3] = {10, 20, 30};
  int16_t out[3];
  gflags = 0x08;  // x shows z
  const int16_t* r = vrotat(p, out);
  EXPECT_EQ(r, out);
  EXPECT_EQ(out[0], 33);
  EXPECT_EQ(out[1], 20);
  EXPECT_EQ(out[2], -10);
  gflags = 0x28;  // y shows z
  vrotat(p, out);
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(out[1], 33);
  EXPECT_EQ(out[2], -20);
  gflags = 0x18;  // a second trace: the point itself is drawn
  EXPECT_EQ(vrotat(p, out), p);
  EXPECT_EQ(out[0], 33);
  // vmove: rotation into the previous rotated point, then the flip.
  drworg[5] = 100;
  gflags = 0x2008;
  vmove(p);
  EXPECT_EQ(penpt[0], 33);
  EXPECT_EQ(penpt[1], 80);
  EXPECT_EQ(rotpt[1], 80);
  // Without a transform neither applies.
  gflags = 1;
  vmove(p);
  EXPECT_EQ(penpt[0], 10);
  EXPECT_EQ(penpt[1], 20);
}

TEST_F(Pen, GflagsForty) {
  // Dashed lines without the line state draw nothing and leave the pen.
  pixwr = grab;
  gflags = 0x40;
  const int16_t a[3] = {1, 1, 0};
  vmove(a);
  int16_t b[3] = {9, 4, 0};
  vline(b, 7, 0);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(penpt[0], 1);
  // A fat-pixel line walks through the writer and the pen moves.
  gflags = 0x0800;
  vline(b, 7, 0);
  EXPECT_EQ(seen.size(), 9u);
  EXPECT_EQ(penpt[0], 9);
  pixwr = SETpix;
}

TEST_F(Pen, EllipseStepsAndRefusals) {
  symwr = grabsym;
  // Wide and flat: terms far beyond 32 bits still end on the axes.
  const int16_t c[3] = {20000, 383, 0};
  ellips(c, 40000, 766, 5, 0);
  ASSERT_FALSE(steps.d.empty());
  EXPECT_EQ(steps.d.front(), std::make_pair(0, 383));
  EXPECT_EQ(steps.d.back(), std::make_pair(20000, 0));
  for (size_t i = 1; i < steps.d.size(); i++) {
    ASSERT_GE(steps.d[i].first, steps.d[i - 1].first);
    ASSERT_LE(steps.d[i].second, steps.d[i - 1].second);
  }
  // Width and height 1: semi-axes 1 and 1.
  steps = Steps{};
  const int16_t s[3] = {5, 5, 0};
  ellips(s, 1, 1, 5, 0);
  EXPECT_EQ(steps.d.front(), std::make_pair(0, 1));
  EXPECT_EQ(steps.d.back(), std::make_pair(1, 0));
  // Crossing the left or top edge or the screen's bottom: nothing at all.
  steps = Steps{};
  const int16_t l[3] = {9, 50, 0}, t[3] = {50, 9, 0}, bot[3] = {50, static_cast<int16_t>(scrhgt - 10), 0};
  ellips(l, 20, 4, 5, 0);
  ellips(t, 4, 20, 5, 0);
  ellips(bot, 4, 20, 5, 0);
  EXPECT_TRUE(steps.d.empty());
  const int16_t edge[3] = {10, 10, 0};
  ellips(edge, 20, 20, 5, 0);  // touching both edges is allowed
  EXPECT_FALSE(steps.d.empty());
  // Filled without XOR, each row is drawn once at its widest.
  steps = Steps{};
  const int16_t f[3] = {100, 100, 0};
  ellips(f, 80, 20, 5, 1);
  std::vector<int> rows;
  for (auto& d : steps.d) rows.push_back(d.second);
  for (size_t i = 1; i < rows.size(); i++) EXPECT_LT(rows[i], rows[i - 1]);
  EXPECT_EQ(steps.d.front(), std::make_pair(12, 10));
  EXPECT_EQ(steps.fill.front(), 1);
  // With XOR every step is drawn, as the midpoint walk makes it.
  const size_t merged = steps.d.size();
  steps = Steps{};
  xorflg = 0x80;
  ellips(f, 80, 20, 5, 1);
  EXPECT_GT(steps.d.size(), merged);
  EXPECT_EQ(steps.d.front(), std::make_pair(0, 10));
  // An interrupt draws nothing.
  steps = Steps{};
  state = ST_STOP;
  ellips(f, 80, 20, 5, 1);
  EXPECT_TRUE(steps.d.empty());
  state = 0;
  symwr = set4pix;
}

// The platform pen on an off-screen port: the origin is added, the value is
// a palette index (or a colour from 256 up), and the pen's colour is set
// only when the value changes.
TEST_F(Pen, PlatformLineAndItsColourCache) {
  initWins();
  PwRec* p = makcport(40, 30, nullptr, 32, nullptr);
  setwdc(nullptr);
  setPort(p);
  drworg[0] = 2;
  drworg[1] = 3;
  const int16_t a[3] = {1, 1, 0};
  vmove(a);
  EXPECT_EQ(p->penx, 3);
  EXPECT_EQ(p->peny, 4);
  int16_t b[3] = {10, 1, 0};
  vline(b, 300, 0);
  EXPECT_EQ(p->pencol, 300u);
  EXPECT_NE(getpix(p, 3, 4), 0);
  EXPECT_NE(getpix(p, 12, 4), 0);  // the line ends on its end point, as in an image
  EXPECT_EQ(getpix(p, 13, 4), 0);
  p->pencol = 0x123456;
  vline(b, 300, 0);  // the same value: the pen is left as it is
  EXPECT_EQ(p->pencol, 0x123456u);
  vline(b, 255, 0);  // a palette index: the table's colour
  EXPECT_EQ(p->pencol, 0xFFFFFFu);
  // Mode 1 draws with value 0; gflags 0x0002 draws nothing.
  vline(b, 255, 1);
  EXPECT_EQ(p->pencol, 0u);
  gflags = 2;
  p->pencol = 7;
  vline(b, 255, 0);
  EXPECT_EQ(p->pencol, 7u);
  gflags = 0;
  // The device flags without bit 0x2: no window line.
  gunit = 1;
  vline(b, 300, 0);
  EXPECT_EQ(p->pencol, 7u);
  gunit = -1;
  setPort(nullptr);
  dspport(p, 1);
}

}  // namespace
