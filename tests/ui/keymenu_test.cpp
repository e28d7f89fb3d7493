// The key menu's function keys at the command prompt.
#include "lang/mainloop.h"
#include "lang/parse.h"
#include "tests/support/interp.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/keymenu.h"
#include "ui/window.h"

namespace {

TEST(KeyMenu, FunctionKeysRunTheirTextsOnABlankLine) {
  Term kb;
  kb.end = true;
  TermUse term;
  term.begin(&kb);
  state = 0;
  nargw = 0;
  clrpst(&dfltq);
  clrfkeys();
  EXPECT_FALSE(keymenu());
  ASSERT_EQ(setfkey(3, "ftype 1"), 0);  // F1
  ASSERT_EQ(setfkey(2, "quit"), 0);     // Esc
  EXPECT_EQ(setfkey(13, "x"), -1);
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
  clrfkeys();
  term.end();
}

}  // namespace
