// View windows: the watch record a view makes and frees, the repaint that
// looks its variable up (following a change, blank after a release or a new
// shape, the same pixels through the element access as from memory), the
// table's cells and its grid bounded by what its window shows, display
// format widths, winarg's matches and the command and help texts.
#include "graphics/views.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "compute/fnsvc.h"
#include "core/typecmd.h"
#include "core/typhooks.h"
#include "gfx_fixture.h"
#include "ui/platform/face.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"

namespace {

class Views : public Gfx {
 protected:
  void TearDown() override {
    for (int i = WINAUTO; i < nwins; i++)
      if (wport(i)) deletewin(i);
    delwat(0);
    vwreset();
    Gfx::TearDown();
  }
  // The window a view of the last command made (#0), checked to exist.
  int made() {
    const int n = static_cast<int>(getres(0));
    EXPECT_TRUE(wport(n) != nullptr) << n;
    return n;
  }
  Surface& surf(int n) { return *wm_surface(winhwnd(n)); }
  // Row r of a window's grid, trailing blanks removed.
  std::string gridrow(int n, int r) {
    const TxtGrid* g = wgrid(wport(n));
    std::string s(gridbuf(g) + static_cast<size_t>(r) * g->rowlen, static_cast<size_t>(g->rowlen));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  }
  int32_t entry(const char* name) {
    uint16_t fl = 0;
    return GETSYM(name, static_cast<int>(std::strlen(name)), &fl, 1);
  }
};

uint32_t cube(int v) {
  uint32_t lut[256];
  pixlut(lut);
  return lut[v & 255];
}

TEST_F(Views, WatchRecordLivesWithItsView) {
  run("declare byte image img(20,10)");
  run("view img 100 100");
  const int n = made();
  Wport* w = wport(n);
  ASSERT_GT(w->watch, 0);
  const WatchRec* r = wtchtab[w->watch - 1];
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(sizeof *r, 28u);
  EXPECT_EQ(r->win, n + 1);
  EXPECT_EQ(r->var, entry("img"));
  EXPECT_EQ(r->type & 0x1001, 0x1000);
  EXPECT_TRUE(r->type & K_IMAGE);
  EXPECT_EQ(r->dims[0], 20);
  EXPECT_EQ(r->dims[1], 10);
  EXPECT_EQ(r->dims[2], 1);
  for (uint8_t b : r->spare) EXPECT_EQ(b, 0);
  EXPECT_EQ(std::string(w->name), "IMG");
  EXPECT_EQ(w->type, 4);
  EXPECT_EQ(w->flags, 1 | 8 | 0x100);
  EXPECT_EQ(nwatch, 1);
  // Iconized with -1, deleted with 0: its watch entry goes with it. The
  // forms that neither move nor size an icon leave it unmeasured (no error
  // 190): -1 keeps it an icon, the name alone or one other value restores
  // it, 0 deletes it.
  run("view img -1");
  EXPECT_TRUE(w->status & 8);
  run("view img -1");
  EXPECT_TRUE(w->status & 8);
  run("view img");
  EXPECT_FALSE(w->status & 8);
  run("view img -1");
  run("view img 5");
  EXPECT_FALSE(w->status & 8);
  EXPECT_EQ(curwin, n);
  run("view img -1");
  EXPECT_FALSE(said("ERROR"));
  run("view img 0");
  EXPECT_FALSE(said("ERROR"));
  EXPECT_EQ(wport(n), nullptr);
  EXPECT_EQ(nwatch, 0);
  // A window deleted any other way drops its entries too.
  run("view img 100 100");
  const int m = made();
  EXPECT_EQ(nwatch, 1);
  deletewin(m);
  EXPECT_EQ(nwatch, 0);
  // A full table leaves a new view without an entry.
  for (int i = 0; i < NWATCH; i++) ASSERT_GE(addwat(1, 0, 0), 0);
  run("view img 100 100");
  EXPECT_EQ(wport(made())->watch, 0);
  EXPECT_EQ(nwatch, NWATCH);
}

TEST_F(Views, RepaintLooksTheVariableUp) {
  run("declare byte image img(20,10)");
  run("img = img + rem(ramp(200, 0, -999, 37), 256)");
  run("view img 100 100");
  const int n = made();
  flushpnt();
  Surface& s = surf(n);
  ASSERT_EQ(s.w, 20);
  ASSERT_EQ(s.h, 10);
  EXPECT_EQ(s.row(0)[1], cube(37));
  EXPECT_EQ(s.row(9)[19], cube(199 * 37 % 256));
  // An image larger than the screen: the window's surface holds it whole.
  run("declare byte image wide(1500,30)");
  run("wide(1499,29) = 77");
  run("view wide 0 40 1499 69");
  const int big = made();
  flushpnt();
  ASSERT_EQ(surf(big).w, 1500);
  ASSERT_EQ(surf(big).h, 30);
  EXPECT_EQ(surf(big).row(29)[1499], cube(77));
  DoWatch(0);  // the marks of both images cleared
  // A change: the watch repaint invalidates the window and paints it.
  run("img(1,0) = 5");
  EXPECT_EQ(DoWatch(0), 1);
  EXPECT_EQ(s.row(0)[1], cube(5));
  EXPECT_EQ(DoWatch(0), 0);
  // Released: the view is stale without any change mark, repaints once and
  // is blank.
  run("release img");
  EXPECT_EQ(vwstale(n), 1);
  EXPECT_EQ(DoWatch(0), 1);
  EXPECT_EQ(s.row(0)[1], 0xFFFFFFu);
  EXPECT_EQ(s.row(9)[19], 0xFFFFFFu);
  EXPECT_EQ(vwstale(n), 0);
  EXPECT_EQ(DoWatch(0), 0);
  // Storage again but of another shape: still blank.
  run("img = ramp(5)");
  DoWatch(0);
  EXPECT_EQ(s.row(0)[0], 0xFFFFFFu);
  // Undeclared: its entry freed; the watch entry forgets the variable.
  run("undeclare img");
  EXPECT_EQ(DoWatch(0), 1);
  const WatchRec* r = wtchtab[wport(n)->watch - 1];
  EXPECT_EQ(r->var, 0);
  EXPECT_EQ(DoWatch(0), 0);
  // A new variable of that name at that entry and shape is shown again.
  run("declare byte image img(20,10)");
  run("img = img + 3");
  update(n, nullptr, 0);
  EXPECT_EQ(s.row(5)[5], cube(3));
}

TEST_F(Views, ElementAccessPaintsAsMemoryDoes) {
  // The same bytes in a file-backed variable (read through its block
  // buffers) and in memory give the same pixels; 16-bit items as 5-6-5.
  const std::string f = tmp.path + "/pix.raw";
  run("declare byte image mem(64,40)");
  run("mem = mem + rem(ramp(2560, 0, -999, 11), 256)");
  run(("write \"" + f + "\" mem").c_str());
  run("declare pointer fp");
  run("declare string nm");
  run(("nm = \"" + f + "\"").c_str());
  run("fp = file(nm, 0, 64, 40, 1, 0, 8)");
  run("view mem 10 60");
  const int a = made();
  run("view fp image");
  const int b = made();
  // A file-backed variable's window takes the file's name.
  EXPECT_EQ(std::string(wport(b)->name).substr(0, 8), "/TMP/GFX");
  flushpnt();
  Surface &sa = surf(a), &sb = surf(b);
  ASSERT_EQ(sb.w, 64);
  ASSERT_EQ(sb.h, 40);
  EXPECT_EQ(sa.pixels(), sb.pixels());
  EXPECT_EQ(sb.row(39)[63], cube(2559 * 11 % 256));
  run("declare integer image w16(3,1)");
  run("w16(1,0) = -1");
  run("w16(2,0) = 2016");
  run("view w16 10 300");
  const int c = made();
  flushpnt();
  EXPECT_EQ(surf(c).row(0)[0], 0u);
  EXPECT_EQ(surf(c).row(0)[1], 0xF8FCF8u);
  EXPECT_EQ(surf(c).row(0)[2], 0x00FC00u);
}

TEST_F(Views, TablesByElementSizeAndFormat) {
  run("declare byte array b8(3)");
  run("b8(2) = 255");
  run("view b8 10 60");
  const int a = made();
  EXPECT_EQ(wport(a)->type, 1);
  EXPECT_EQ(wport(a)->rect[2] - wport(a)->rect[0] + 1, 3 * 5 * FACEWID);
  EXPECT_EQ(gridrow(a, 0), "   0    0  255");
  run("declare long array l32(2)");
  run("l32(0) = -123456");
  run("view l32 10 100");
  const int b = made();
  EXPECT_EQ(wport(b)->rect[2] - wport(b)->rect[0] + 1, 2 * 13 * FACEWID);
  EXPECT_EQ(gridrow(b, 0), "     -123456            0");
  // A format's width: "%-5d|" six characters; "%v" 32; a precision skipped.
  run("declare integer matrix m(2,3)");
  run("m(1,2) = 42");
  run("view m 10 140 \"%-5d|\"");
  const int c = made();
  EXPECT_EQ(wport(c)->rect[2] - wport(c)->rect[0] + 1, 2 * 6 * FACEWID);
  EXPECT_EQ(wport(c)->rect[3] - wport(c)->rect[1] + 1, 3 * FACEHGT);
  EXPECT_EQ(gridrow(c, 0), "0    |0    |");
  EXPECT_EQ(gridrow(c, 2), "0    |42   |");
  run("view l32 \"%v%6.2f\"");  // an existing window: the format is not read
  run("declare real array r(2)");
  run("view r 10 200 \"%v%6.2f\"");
  EXPECT_EQ(wport(made())->rect[2] - wport(made())->rect[0] + 1, 2 * 38 * FACEWID);
  // A "%" without a width is error 149 on the format; nothing is made.
  run("declare real array rw(2)");
  run("view rw 10 200 \"%%\"");
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_TRUE(said("ERROR 149 (arg 5)"));
  EXPECT_EQ(winarg(0, "RW"), -1);
  // A vector variable's table: one record a row.
  run("declare vector vv");
  run("vv = vector(10, -20, 30, 5, 3, 200)");
  run("view vv 10 300 \"%v \"");
  const int d = made();
  EXPECT_EQ(wport(d)->rect[2] - wport(d)->rect[0] + 1, 33 * FACEWID);
  EXPECT_EQ(gridrow(d, 0), "      10    -20     30 5  3 200");
  // A table follows its variable at each repaint.
  run("b8(0) = 7");
  update(a, nullptr, 0);
  EXPECT_EQ(gridrow(a, 0), "   7    0  255");
}

TEST_F(Views, TableGridHoldsWhatItsWindowShows) {
  // 5000 16-bit items: the window is as wide as it was always made (8192
  // pixels, larger than the screen), its grid the 1024 columns that shows:
  // items 0 to 127, the last ending at the grid's end.
  run("declare integer array wide(5000)");
  run("wide(127) = 1234");
  run("wide(128) = 999");
  run("view wide 10 60");
  const int a = made();
  const TxtGrid* g = wgrid(wport(a));
  EXPECT_EQ(wport(a)->rect[2] - wport(a)->rect[0] + 1, 8192);
  EXPECT_EQ(surf(a).w, 8192);
  EXPECT_EQ(g->rowlen, 1024);
  EXPECT_EQ(g->nrows, 1);
  EXPECT_EQ(gridrow(a, 0).size(), 1023u);  // cells of "%7d "
  EXPECT_EQ(gridrow(a, 0).substr(1016), "   1234");
  // Sized down to 408 pixels the grid holds 51 columns (the seventh cell
  // cut there); sized up again it holds the whole 1024 again.
  run("wide(6) = -32000");
  run("view wide 10 60 417 75");
  update(a, nullptr, 0);
  g = wgrid(wport(a));
  EXPECT_EQ(g->rowlen, 51);
  EXPECT_EQ(gridrow(a, 0), "      0       0       0       0       0       0  -3");
  run("view wide 10 60 8201 75");
  update(a, nullptr, 0);
  g = wgrid(wport(a));
  EXPECT_EQ(g->rowlen, 1024);
  EXPECT_EQ(gridrow(a, 0).substr(1016), "   1234");
  // 40000 rows, centred: 8192 pixels tall, a grid of the 512 rows that
  // shows. Only the rows on the screen are drawn: the first rows lie above
  // it and stay blank, and no more surface rows than the screen's take
  // memory.
  run("declare integer matrix tall(1,40000)");
  run("tall(0,511) = 77");
  run("tall(0,512) = 88");
  run("view tall");
  const int b = made();
  EXPECT_EQ(wgrid(wport(b))->nrows, 512);
  EXPECT_EQ(gridrow(b, 511), "     77");
  EXPECT_EQ(gridrow(b, 0), "      0");
  update(b, nullptr, 0);
  int on[4] = {0, 0, 0, 0};
  ASSERT_TRUE(wm_onscreen(winhwnd(b), on));
  ASSERT_GT(on[1], FACEHGT);
  ASSERT_LT(on[3], 8192 - FACEHGT);
  const Surface& s = surf(b);
  auto ink = [&](int y0, int y1) {
    int n = 0;
    for (int y = y0; y < y1; y++)
      for (int x = 0; x < 7 * FACEWID; x++) n += s.row(y)[x] != 0xFFFFFFu;
    return n;
  };
  const int first = (on[1] + FACEHGT - 1) / FACEHGT * FACEHGT;  // a whole row on the screen
  EXPECT_LE(s.nmade(), on[3] - on[1] + FACEHGT);
  EXPECT_GT(ink(first, first + FACEHGT), 0);
  EXPECT_EQ(ink(0, FACEHGT), 0);
  // A field wider than the format engine writes (4096) is a cell of 4096:
  // the window keeps the width the format gives.
  run("declare byte matrix qb(3,2)");
  run("qb(0,1) = 9");
  run("view qb 10 60 \"%-99999d\"");
  const int c = made();
  EXPECT_EQ(wport(c)->rect[2] - wport(c)->rect[0] + 1, 8192);
  EXPECT_EQ(wgrid(wport(c))->rowlen, 1024);
  EXPECT_EQ(gridrow(c, 1), "9");
}

TEST_F(Views, WinargMatchesNames) {
  run("declare byte image ab(4,4)");
  run("declare byte image abc(4,4)");
  run("view abc 10 60");
  const int c = made();
  // The variable ab finds no window (ABC is no name of it): a view is made.
  run("view ab 10 100");
  const int a = made();
  EXPECT_NE(a, c);
  run("window ab");
  EXPECT_EQ(getres(0), a);
  // A typed name: exact before an abbreviation, in any case.
  run("window \"Ab\"");
  EXPECT_EQ(getres(0), a);
  run("window \"ABC\"");
  EXPECT_EQ(getres(0), c);
  EXPECT_EQ(winarg(0, "a"), a < c ? a : c);
  EXPECT_EQ(winarg(0, "comm"), 0);
  EXPECT_EQ(winarg(0, "nosuch"), -1);
  EXPECT_EQ(winarg(0, ""), -1);
  // A number is the window number as given.
  run("window 55");
  EXPECT_EQ(getres(0), 55);
  // The main window is refused; a missing window and a number variable
  // end the command without a message.
  run("view \"PELIX\" 0");
  EXPECT_NE(wport(2), nullptr);
  run("declare number x");
  run("view x");
  run("view nosuch");
  EXPECT_FALSE(said("ERROR"));
}

TEST_F(Views, CommandAndHelpTexts) {
  run("declare byte array t8(2)");
  run("view t8 10 60 \"%3d \" \"type 5\\n\" \"some help\"");
  const int n = made();
  Wport* w = wport(n);
  ASSERT_GT(w->cmd, 0);
  EXPECT_STREQ(static_cast<const char*>(stkptr(w->cmd)), "type 5");
  ASSERT_GT(w->hlp, 0);
  EXPECT_STREQ(static_cast<const char*>(stkptr(w->hlp)), "some help");
  // Moved with four values; a later call without texts frees the command.
  run("view t8 30 80 100 120");
  EXPECT_EQ(w->rect[0], 30);
  EXPECT_EQ(w->rect[1], 80);
  EXPECT_EQ(w->rect[2], 100);
  EXPECT_EQ(w->rect[3], 120);
  EXPECT_EQ(w->cmd, 0);
  // Two values keep the size; a top above the usable area comes down.
  run("view t8 40 0 - - \"\" \"c\"");  // a string is the format; the texts follow it
  EXPECT_EQ(w->rect[0], 40);
  EXPECT_EQ(w->rect[1], mnubar + 1);
  EXPECT_EQ(w->rect[2], 110);
  EXPECT_EQ(w->rect[3], mnubar + 41);
  EXPECT_STREQ(static_cast<const char*>(stkptr(w->cmd)), "c");
}

TEST_F(Views, ShowAllAndMainOnly) {
  run("declare byte image img(8,8)");
  run("view img 100 100");
  const int n = made();
  const int32_t h = winhwnd(n);
  // An argument that cannot be resolved is an error, not the main-only form.
  run("view img(99,99)");
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_FALSE(vwmain);
  EXPECT_TRUE(wm_visible(h));
  run("view -");
  EXPECT_TRUE(vwmain);
  EXPECT_FALSE(wm_visible(h));
  EXPECT_FALSE(wm_visible(winhwnd(0)));
  EXPECT_TRUE(wm_visible(winhwnd(2)));
  run("view -");  // main only already: nothing
  EXPECT_TRUE(vwmain);
  run("view");
  EXPECT_FALSE(vwmain);
  EXPECT_TRUE(wm_visible(h));
  EXPECT_TRUE(wm_visible(winhwnd(0)));
  run("view");
  EXPECT_TRUE(wm_visible(h));
  // The flag form leaves the main-only state alone.
  run("view -");
  view(1);
  EXPECT_TRUE(vwmain);
  EXPECT_TRUE(wm_visible(h));
  run("view");
}

TEST_F(Views, ArgumentErrors) {
  run("declare byte image img(8,8)");
  run("view img 10 60 box");
  EXPECT_TRUE(said("ERROR 109 (arg 5)"));
  run("view img 1 2 3 4 5");
  EXPECT_TRUE(said("ERROR 109 (arg 7)"));
  EXPECT_EQ(nwatch, 0);
  // An empty rectangle or action 0 makes nothing.
  run("view img 100 100 50 50");
  run("view img 100 0");
  EXPECT_EQ(nwatch, 0);
  // A negative action opens the view as an icon.
  run("view img 100 -1");
  EXPECT_TRUE(wport(made())->status & 8);
}

}  // namespace
