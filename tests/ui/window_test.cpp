// Window records and the grid cell routines.
#include "ui/window.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace {

static_assert(offsetof(Wport, pwrec) == 8);
static_assert(offsetof(Wport, rect) == 16);
static_assert(offsetof(Wport, txtgrid) == 32);
static_assert(offsetof(Wport, name) == 40);
static_assert(offsetof(Wport, curcol) == 60);
static_assert(offsetof(Wport, cmd) == 68);
static_assert(offsetof(Wport, status) == 78);
static_assert(offsetof(TxtGrid, cols) == 8);
static_assert(offsetof(TxtGrid, nrows) == 18);

TEST(Window, FixedWindows) {
  initWins();
  ASSERT_NE(wport(0), nullptr);
  EXPECT_STREQ(wport(0)->name, "COMMANDS");
  EXPECT_STREQ(wport(1)->name, "TEXT");
  EXPECT_STREQ(wport(2)->name, "PELIX");
  EXPECT_EQ(wport(2)->type, 16);
  EXPECT_EQ(wport(0)->id, 1);
  EXPECT_EQ(wgrid(wport(2)), nullptr);
  TxtGrid* g = wgrid(wport(0));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->cols, 80);
  EXPECT_EQ(g->rows, 25);
  EXPECT_EQ(wport(3), nullptr);
  // The text window starts iconized: the topmost visible window is 0.
  EXPECT_TRUE(wport(1)->status & 8);
  setwin(2);
  setwin(-1);
  EXPECT_EQ(curwin, 0);
  setwin(7);  // an empty slot changes nothing
  EXPECT_EQ(curwin, 0);
}

TEST(Window, CursorAndCells) {
  initWins();
  blankcmd();
  putcur(200, 100);  // kept inside the grid
  int c, r;
  getcur(&c, &r);
  EXPECT_EQ(c, 79);
  EXPECT_EQ(r, 24);
  putcur(-1, 3);  // only places the caret again
  getcur(&c, &r);
  EXPECT_EQ(r, 24);
  EXPECT_EQ(curgrid()->wpos, 24 * 80 + 79);

  curtxt("hello", 0, 2, 1, 3);
  EXPECT_EQ(cmdrow(1), "  hello");
  getcur(&c, &r);
  EXPECT_EQ(c, 4);  // after caret - 1 characters
  EXPECT_EQ(r, 1);
  erstxt(0, 3, 1, 2);
  EXPECT_EQ(cmdrow(1), "  h  lo");
  erstxt(0, 78, 1, 10);  // cut at the row's end
  curtxt("abc", 3, 78, 2, 0);  // only what fits
  EXPECT_EQ(cmdrow(2), std::string(78, ' ') + "ab");
  char buf[8];
  EXPECT_EQ(txtget(2, 1, buf, 3), 3);
  EXPECT_STREQ(buf, "h  ");
  EXPECT_EQ(txtget(0, 40, buf, 3), 0);
}

TEST(Window, ScrollMovesTheBuffer) {
  initWins();
  blankcmd();
  for (int i = 0; i < 25; i++) curtxt(std::to_string(i).c_str(), 0, 0, i, 0);
  putcur(0, 10);
  scroll();  // not on the last row, but the grid shows the whole buffer
  EXPECT_EQ(curgrid()->orow, 0);
  EXPECT_EQ(cmdrow(0), "1");
  EXPECT_EQ(cmdrow(23), "24");
  EXPECT_EQ(cmdrow(24), "");
  blankcmd();  // no rows left for a later test's output to land on
  putcur(0, 0);
}

}  // namespace

namespace {

TEST(Window, TableGrowsAndKeepsItsWindows) {
  initWins();
  Wport* w0 = wport(0);
  const int n = nwins;
  EXPECT_GE(n, WINTAB);
  EXPECT_EQ(wingrow(5), 0);      // below 8
  EXPECT_EQ(wingrow(n), 0);      // the count already
  EXPECT_EQ(wingrow(1001), 0);   // above 1000
  EXPECT_EQ(wingrow(n + WINSTEP), n + WINSTEP);
  EXPECT_EQ(nwins, n + WINSTEP);
  EXPECT_EQ(wport(0), w0);  // the records stay where they are
  EXPECT_EQ(wintab[n + WINSTEP - 1], nullptr);
  EXPECT_EQ(wport(n + 5), nullptr);
  EXPECT_EQ(wingrow(3), 0);  // never shrinks
  EXPECT_EQ(nwins, n + WINSTEP);
  // Each window has its own platform record and handle.
  PwRec* p0 = wpwrec(wport(0));
  PwRec* p2 = wpwrec(wport(2));
  ASSERT_NE(p0, nullptr);
  ASSERT_NE(p2, nullptr);
  EXPECT_TRUE(p0->flags & 8);  // the grid has a caret
  EXPECT_EQ(p2->bkcol, 0x7F7F7Fu);
  EXPECT_NE(p0->window, p2->window);
  EXPECT_EQ(winnum(p2->window), 2);
  EXPECT_EQ(winnum(0), -1);
}

TEST(Window, RepaintKeepsTheCursorInView) {
  initWins();
  blankcmd();
  EXPECT_EQ(update(7, nullptr, 0), -1);  // no such window
  TxtGrid* g = curgrid();
  Wport* w = wport(0);
  // The origin follows the cursor: the cursor's row is the last shown or
  // above (the whole buffer shows here, so the origin goes back to 0).
  g->orow = 10;
  w->currow = -8;  // absolute row 2
  w->curcol = 3;
  w->status |= 6;
  EXPECT_EQ(update(0, nullptr, 0), 0);
  EXPECT_EQ(g->orow, 0);
  EXPECT_EQ(w->currow, 2);
  EXPECT_EQ(w->curcol, 3);
  EXPECT_EQ(w->status & 6, 0);
  EXPECT_EQ(g->wpos, 2 * g->rowlen + 3);
  // With status 64 the origin stays.
  g->orow = 1;
  w->currow = 0;
  w->status |= 64;
  update(0, nullptr, 0);
  EXPECT_EQ(g->orow, 1);
  w->status &= static_cast<uint8_t>(~64);
  g->orow = 0;
  putcur(0, 0);
}

}  // namespace
