// Point picking through a pointer, and the rubber-band figure and XOR lines
// of the cursor routines.
#include "compute/fnsvc.h"
#include "graphics/drawstate.h"
#include "tests/support/interp.h"
#include "ui/cursor.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/keymenu.h"
#include "ui/menu.h"
#include "ui/keys.h"
#include "ui/platform/surface.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <vector>

namespace {

// A pointer backend: each poll or wait runs the next step.
struct Pointer : Term {
  std::deque<std::function<void()>> steps;
  bool pointer() override { return true; }
  int pump(int how) override {
    if (how == KEY_PEEK) return 0;
    if (steps.empty()) return -1;
    steps.front()();
    steps.pop_front();
    return 1;
  }
  void move(int x, int y) {
    steps.push_back([x, y] {
      postmsg(winhwnd(0), WM_MOUSEMOVE, 0, static_cast<uint32_t>(y) << 16 | static_cast<uint32_t>(x));
    });
  }
  void key(int k) {
    steps.push_back([k] { postmsg(winhwnd(0), WM_CHAR, static_cast<uint32_t>(k), 1); });
  }
};

TEST(Pick, AnchorMappingAndShifts) {
  Pointer pt;
  TermUse term;
  term.begin(&pt);
  setwin(0);
  curini();
  curflg = 0;
  mnureset();
  const char km[] = "E\nnothing\n\nF1\nx\n";
  const int kn = rdmnutxt(km, static_cast<int>(sizeof km - 1), "keys", false, 0);
  ASSERT_GT(kn, 0);
  GeTMNu(kn, 1);  // a key menu is open: Space keeps and restores the point
  pt.move(10, 20);
  pt.key(' ');
  pt.move(50, 60);
  pt.key(' ');
  pt.key('q');
  int x = 0, y = 0;
  EXPECT_EQ(getxy(1, &x, &y), 'q');
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
  EXPECT_EQ(musx, 10);  // the pointer went back too
  mnureset();
  // The box maps to image coordinates (0x100); mode 32 shifts.
  curst.xmin = 100;
  curst.ymin = 50;
  curst.boxw = 200;
  curst.boxh = 100;
  curst.imgw = 400;
  curst.imgh = 50;
  curst.imgx = 7;
  curst.xshift = 1;
  curst.yshift = 2;
  curflg = 0x100;
  pt.move(150, 90);
  pt.key('q');
  EXPECT_EQ(getxy(1, &x, &y), 'q');
  EXPECT_EQ(x, 107);
  EXPECT_EQ(y, 20);
  pt.move(151, 91);
  pt.key('q');
  getxy(33, &x, &y);
  EXPECT_EQ(x, 109 >> 1);
  EXPECT_EQ(y, 20 >> 2);
  // A point outside the box is clamped to it unless cursor flag 0x20.
  curst.xmax = 180;
  curflg = 0;
  pt.move(300, 60);
  EXPECT_EQ(getxy(9, &x, &y), 0);
  EXPECT_EQ(x, 180);
  // A three-coordinate pick sets the step once: Ins makes it 1 for the
  // arrows that follow.
  curini();
  for (uint32_t vk : {VK_INSERT, VK_RIGHT, VK_RIGHT})
    pt.steps.push_back([vk] { postmsg(winhwnd(0), WM_KEYDOWN, vk, 1); });
  pt.key('q');
  x = 100;
  y = 100;
  int z = 0;
  EXPECT_EQ(getxyz(4 | 16 | 1, &x, &y, &z), 'q');
  EXPECT_EQ(x, 102);
  EXPECT_EQ(y, 100);
  curini();
  term.end();
}

// The surface pixels of window 0.
std::vector<uint32_t> pixels() {
  const Surface* s = wm_surface(winhwnd(0));
  return s ? s->pixels() : std::vector<uint32_t>{};
}

int changed(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int n = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); i++) n += a[i] != b[i];
  return n;
}

TEST(Boxcur, FiguresEraseThemselvesAndKeepToTheBox) {
  initWins();
  setwin(0);
  curini();
  gflags = 0;
  const auto before = pixels();
  ASSERT_FALSE(before.empty());
  const Surface* s = wm_surface(winhwnd(0));
  // An XOR line: both ends, each pixel once; twice leaves nothing.
  boxdrw(2, 3, 12, 3, 64);
  EXPECT_EQ(changed(before, pixels()), 11);
  EXPECT_EQ(s->row(3)[12] ^ before[3 * s->stride + 12], 0xAAAAAAu);
  boxdrw(2, 3, 12, 3, 64);
  EXPECT_EQ(changed(before, pixels()), 0);
  // A box from the anchor: the outline of a 11 x 6 box.
  curx = 10;
  cury = 10;
  Boxcur(0, 0, 1);
  Boxcur(20, 15, -3);
  EXPECT_EQ(changed(before, pixels()), 2 * 11 + 2 * 4);
  // Moved whole, it keeps its size.
  Boxcur(30, 25, -4);
  EXPECT_EQ(changed(before, pixels()), 2 * 11 + 2 * 4);
  EXPECT_NE(s->row(20)[20], before[20 * s->stride + 20]);
  Boxcur(0, 0, 0);
  EXPECT_EQ(changed(before, pixels()), 0);
  // A line, a circle and an ellipse leave nothing behind.
  for (int shape : {1 | BC_LINE, 3, 2, int{BC_MEASURE}}) {
    curx = 40;
    cury = 40;
    Boxcur(0, 0, shape);
    Boxcur(52, 49, -3);
    Boxcur(60, 45, -3);
    EXPECT_GT(changed(before, pixels()), 10) << shape;
    Boxcur(0, 0, 0);
    EXPECT_EQ(changed(before, pixels()), 0) << shape;
  }
  // Kept to the active box: nothing is drawn beyond x 30.
  curst.xmax = 30;
  curx = 10;
  cury = 10;
  Boxcur(0, 0, 1 | BC_CLAMP);
  Boxcur(80, 20, -3);
  const auto now = pixels();
  for (int y = 0; y < s->h; y++)
    for (int x = 31; x < s->w; x++) ASSERT_EQ(now[y * s->stride + x], before[y * s->stride + x]);
  EXPECT_NE(now[10 * s->stride + 30], before[10 * s->stride + 30]);
  Boxcur(0, 0, 0);
  EXPECT_EQ(changed(before, pixels()), 0);
  // An angle's first point, then its second: a line between them; with y
  // flipped the points are mirrored by the window's height.
  Boxcur(5, 5, -9);
  Boxcur(5, 9, -3);
  EXPECT_EQ(changed(before, pixels()), 5);
  Boxcur(0, 0, 0);
  const PwRec* p = wpwrec(curport);
  ASSERT_NE(p, nullptr);
  const int h = p->rect[3] - p->rect[1] + 1;
  gflags = 0x2000;
  Boxcur(5, h - 1 - 5, -9);
  Boxcur(5, h - 1 - 9, -3);
  EXPECT_NE(s->row(9)[5], before[9 * s->stride + 5]);
  Boxcur(0, 0, 0);
  gflags = 0;
  curini();
}

}  // namespace
