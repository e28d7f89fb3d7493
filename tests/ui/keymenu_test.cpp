// The key menu's function keys, and the idle command prompt with views open.
#include "lang/mainloop.h"
#include "lang/parse.h"
#include "tests/support/interp.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/keymenu.h"
#include "ui/menu.h"
#include "ui/keys.h"
#include "ui/platform/backend.h"
#include "ui/window.h"
#include "graphics/views.h"

namespace {

TEST(KeyMenu, FunctionKeysRunTheirTextsOnABlankLine) {
  Term kb;
  kb.end = true;
  TermUse term;
  term.begin(&kb);
  state = 0;
  nargw = 0;
  clrpst(&dfltq);
  mnureset();
  EXPECT_FALSE(keymenu());
  // The items answer by their place: the first Esc, the second F1.
  const char km[] = "E\nquit\n\nF1\nftype 1\n";
  const int kn = rdmnutxt(km, static_cast<int>(sizeof km - 1), "keys", false, 0);
  ASSERT_GT(kn, 0);
  EXPECT_EQ(GeTMNu(kn, 1), 1);
  EXPECT_TRUE(keymenu());
  int n = 0;
  EXPECT_STREQ(fncstr(155, -1, &n), "quit");
  EXPECT_EQ(fncstr(188, -1, &n), nullptr);  // F2 unbound
  char buf[LINBUF];
  // F1 on a blank line: the line ends empty and the text runs next.
  kb.typed = {187};
  EXPECT_EQ(rdkeys(buf, 0, 0, LINBUF), 0);
  ASSERT_TRUE(qpend(&dfltq));
  char q[LINBUF];
  ASSERT_GT(gtpstr(&dfltq, q), 0);
  EXPECT_STREQ(q, "ftype 1");
  // Inside a line F1 is no text; Up does not recall while a key menu shows.
  kb.typed = {'a', 187, 200, 'b', 13};
  EXPECT_EQ(rdkeys(buf, 0, 0, LINBUF), 2);
  EXPECT_STREQ(buf, "ab");
  EXPECT_FALSE(qpend(&dfltq));
  mnureset();
  term.end();
}

// Counts the polls that find nothing.
struct PollTerm : Term {
  int polls = 0;
  int keyin(int how) override {
    const int k = Term::keyin(how);
    if (k == 0 && how != KEY_PEEK) polls++;
    return k;
  }
};

TEST(KeyMenu, IdlePromptWithViewsGivesWayWithoutSpinning) {
  PollTerm kb;  // nothing typed, input not ended
  TermUse term;
  term.begin(&kb);
  state = 0;
  nargw = 0;
  initWins();
  setwin(0);
  wintext("P> ", 3);
  int col = 0, row = 0;
  getcur(&col, &row);
  const int16_t keep = nviews;
  nviews = 1;
  char buf[LINBUF];
  // The line is given up so that the views refresh, after waits rather
  // than a stream of polls, and the prompt comes off its row.
  EXPECT_EQ(rdkeys(buf, 0, 0, LINBUF), 0);
  nviews = keep;
  EXPECT_LT(kb.polls, 100);
  char cell[8];
  txtcell(cell, col - 3, row, sizeof cell);
  EXPECT_EQ(std::string(cell).substr(0, 3), "   ");
  kb.typed = {'x', 13};
  EXPECT_EQ(rdkeys(buf, 0, 0, LINBUF), 1);
  term.end();
}

}  // namespace
