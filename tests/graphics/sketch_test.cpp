// What the sessions cannot reach of the sketch tools: the pen width bound
// to a system variable, getbox under a display zoom, the number askstr
// takes from a line, and the bell of the editor's refused keys.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>

#include "graphics/pen.h"
#include "graphics/sketch.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"
#include "tests/graphics/gfx_fixture.h"
#include "ui/cursor.h"
#include "ui/events.h"
#include "ui/screen.h"

namespace {

// A terminal with a pointer: each poll or wait runs the next step.
struct Clicks : Term {
  std::deque<std::function<void()>> steps;
  bool pointer() override { return true; }
  int pump(int how) override {
    if (how == KEY_PEEK) return 0;
    if (steps.empty()) return Term::pump(how);  // the typed keys
    steps.front()();
    steps.pop_front();
    return 1;
  }
  void click(int x, int y, bool right = false) {
    steps.push_back([x, y, right] {
      const uint32_t lp = static_cast<uint32_t>(y) << 16 | static_cast<uint32_t>(x);
      const int32_t h = winhwnd(4);
      postmsg(h, WM_MOUSEMOVE, 0, lp);
      postmsg(h, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? 2 : 1, lp);
      postmsg(h, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, lp);
    });
  }
  void key(int k) {
    steps.push_back([k] { postmsg(winhwnd(4), WM_CHAR, static_cast<uint32_t>(k), 1); });
  }
};

class Sketch : public ::testing::Test {
 protected:
  Clicks pt;
  TermUse term;
  Bottom bottom;
  ScratchDir tmp{"/tmp/sketchtest"};

  void SetUp() override {
    MakStk();
    rststk();
    term.begin(&pt);
    clrflags();
    errlun = lstlun = dbglun = 1;
    bottom.keep();
    drwini();
    ASSERT_EQ(mksys(), 0);
    setstrv("tmpdir", tmp.path.c_str());
    curini();
    skini();
    vinit(0);
  }
  void TearDown() override {
    zoomsh[0] = zoomsh[1] = 0;
    skini();
    curini();
    setwdc(nullptr);
    setPort(nullptr);
    term.end();
    drwini();
    bottom.back();
    state = 0;
  }
};

// The code of a system variable for getprm.
int svcode(const char* name) {
  for (int i = 0; i < NSYSVAR; i++)
    if (std::strcmp(sysnam[i], name) == 0) return 101 + i;
  return 0;
}

}  // namespace

TEST_F(Sketch, PenWidthIsClampedAndMayFollowAVariable) {
  for (auto [w, want] : {std::pair{0, 1}, {1, 1}, {7, 7}, {15, 15}, {16, 15}, {-3, 1}}) {
    lwidth = static_cast<int16_t>(w);
    EXPECT_EQ(curpen(), want) << w;
  }
  lwidth = 4;
  // Bound to zvalue: the truncated value times the factor, plus the offset.
  penprm = PenPrm{static_cast<int16_t>(svcode("zvalue")), 1.5f, 2};
  ASSERT_GT(penprm.code, 100);
  zvalue = 7;
  EXPECT_EQ(curpen(), 12);  // 7 x 1.5 + 2 = 12.5
  zvalue = 20;
  EXPECT_EQ(curpen(), 15);
  zvalue = -9;
  EXPECT_EQ(curpen(), 1);
  zvalue = 0;
  lwidth = 0;
}

TEST_F(Sketch, GetboxDividesByTheZoomInOddModes) {
  int16_t box[6] = {};
  zoomsh[0] = 1;
  zoomsh[1] = 2;
  pt.click(100, 20);
  pt.click(40, 41);
  ASSERT_EQ(getbox(box, 1, 0, 0), 0);
  EXPECT_EQ(box[0], 20);
  EXPECT_EQ(box[1], 5);
  EXPECT_EQ(box[2], 50);
  EXPECT_EQ(box[3], 10);
  // Mode 2 is even: window coordinates, with z, and six values.
  std::memset(box, 0x55, sizeof box);
  pt.click(9, 8);
  pt.click(3, 30);
  ASSERT_EQ(getbox(box, 2, 0, 0), 0);
  const int16_t want[6] = {3, 8, 0, 9, 30, 0};
  for (int i = 0; i < 6; i++) EXPECT_EQ(box[i], want[i]) << i;
  // A fixed box placed at the far end keeps its size past 16 bits' reach.
  pt.click(32760, 5);
  ASSERT_EQ(getbox(box, 0, 20, 3), 0);
  EXPECT_EQ(box[2], 32767);
  EXPECT_EQ(box[3], 7);
  // A key before the second corner: no box, nothing written.
  std::memset(box, 0, sizeof box);
  pt.click(5, 5);
  pt.key('q');
  EXPECT_EQ(getbox(box, 0, 0, 0), -1);
  EXPECT_EQ(box[0], 0);
  EXPECT_EQ(box[2], 0);
}

TEST_F(Sketch, AskstrTakesTheFirstNumberOfTheLine) {
  Term::keys(pt.typed, "abc -2.5e1 x 7\n\nno number\n+.5\nx.5y\n");
  EXPECT_FLOAT_EQ(askstr("it"), -25.0f);
  EXPECT_FLOAT_EQ(askstr("it"), 0.0f);
  EXPECT_FLOAT_EQ(askstr("it"), 0.0f);
  EXPECT_FLOAT_EQ(askstr("it"), 0.5f);
  EXPECT_FLOAT_EQ(askstr("it"), 0.5f);
  bool prompt = false;
  for (const auto& r : pt.rows) prompt = prompt || r.find("Enter it: ") != std::string::npos;
  EXPECT_TRUE(prompt);
}

TEST_F(Sketch, RefusedKeysRingTheBellAndChangeNothing) {
  // Two points, then W, Y, S and O with no mark, B with no fill: each
  // rings the bell; the records stay as they were.
  pt.click(10, 10);
  pt.click(30, 20);
  for (int k : {'W', 'Y', 'S', 'O', 'B'}) pt.key(k);
  pt.key('Q');
  const int before = pt.beeps;
  sketch(0);
  EXPECT_EQ(pt.beeps - before, 5);
  // The move and the line (no link: the last code was no line-to).
  ASSERT_EQ(nvecs, 2);
  uint8_t e[12];
  ASSERT_TRUE(getvec(nullptr, 0, e, 0));
  EXPECT_EQ(e[0], VC_MOVE);
  ASSERT_TRUE(getvec(nullptr, 1, e, 0));
  EXPECT_EQ(e[0], VC_LINE);
  EXPECT_EQ(vget16(e + 4), 30);
  EXPECT_EQ(vget16(e + 6), 20);
}
