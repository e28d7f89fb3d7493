// The command-line editor: keys in, the returned line, the echoed row.
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "lang/mainloop.h"
#include "lang/parse.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/platform/clock.h"
#include "ui/window.h"
#include "tests/support/interp.h"

namespace {

// Key codes of the editor.
enum : int {
  BS = 8, TAB = 9, ENTER = 13, CTLC = 3, CTLU = 21, ESC = 27,
  HOME = 199, UP = 200, LEFT = 203, RIGHT = 205, END = 207, DOWN = 208, INS = 210, DEL = 211,
};

class Editor : public ::testing::Test {
 protected:
  Term kb;  // types a script of key codes, then ends
  TermUse term;
  char buf[LINBUF];
  void SetUp() override {
    kb.end = true;
    term.begin(&kb);
    state = 0;
    pflags = 0;
    nargw = 0;
    inprompt = 0;
    insmod = true;
    txtwin = 0;
    blankcmd();
  }
  void TearDown() override {
    term.end();
    state = 0;
    pflags = 0;
    nargw = 0;
    insmod = true;
  }
  void type(const std::string& s) {
    for (unsigned char c : s) kb.typed.push_back(c);
  }
  void type(std::initializer_list<int> k) { kb.typed.insert(kb.typed.end(), k); }
  // Shows the prompt "> " and reads a line; the result in *n.
  std::string line(int* n = nullptr, int max = LINBUF) {
    wintext("> ", 2);
    int r = rdkeys(buf, 0, 0, max);
    if (n) *n = r;
    return r >= 0 ? std::string(buf) : std::string();
  }
};

TEST_F(Editor, InsertAndOverwrite) {
  type("abc");
  type({HOME, 'x', ENTER});
  int n;
  EXPECT_EQ(line(&n), "xabc");
  EXPECT_EQ(n, 4);
  ASSERT_EQ(kb.rows.size(), 1u);
  EXPECT_EQ(kb.rows[0], "> xabc");  // the echoed row, prompt and line
  int c, r;
  getcur(&c, &r);
  EXPECT_EQ(r, 1);  // the row was ended
  EXPECT_EQ(c, 0);
  // Ins switches to overwriting, and back.
  type("abc");
  type({HOME, INS, 'x', ENTER});
  EXPECT_EQ(line(), "xbc");
  EXPECT_FALSE(insmod);
  EXPECT_EQ(kb.rows[1], "> xbc");
  type({'a', 'b', LEFT, 'c', 'd', ENTER});  // overwrites, appends at the end
  EXPECT_EQ(line(), "acd");
  type({INS, 'a', 'b', LEFT, 'c', 'd', ENTER});
  EXPECT_EQ(line(), "acdb");
  EXPECT_TRUE(insmod);
}

TEST_F(Editor, DeletingAndMoving) {
  type("abc");
  type({HOME, BS, ENTER});  // Backspace at column 0 deletes under the cursor
  EXPECT_EQ(line(), "bc");
  type({BS, BS, ENTER});  // on an empty line it changes nothing
  EXPECT_EQ(line(), "");
  EXPECT_EQ(kb.rows.back(), ">");
  type("abc");
  type({LEFT, LEFT, DEL, ENTER});
  EXPECT_EQ(line(), "ac");
  type("ac");
  type({LEFT, 'b', HOME, RIGHT, 'Z', END, '!', RIGHT, RIGHT, '?', ENTER});
  EXPECT_EQ(line(), "aZbc!?");
  type("abcd");
  type({BS, LEFT, BS, DEL, END, DEL, ENTER});  // Del at the end deletes nothing
  EXPECT_EQ(line(), "a");
  EXPECT_EQ(kb.rows.back(), "> a");
}

TEST_F(Editor, ClearingAndAbandoning) {
  type("abc");
  type({CTLU, 'd', 'e', ENTER});
  EXPECT_EQ(line(), "de");
  EXPECT_EQ(kb.rows.back(), "> de");
  // Ctrl-C clears the line, raises the interrupt and returns 0.
  type("abc");
  type({CTLC});
  int n = -5;
  EXPECT_EQ(line(&n), "");
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(state & ST_INTR);
  EXPECT_EQ(kb.rows.back(), ">");
  // Esc is ignored on the command line ...
  type({'a', ESC, 'b', ENTER});
  EXPECT_EQ(line(), "ab");
  // ... and returned at other prompts.
  nargw = 2;
  type({'a', ESC});
  line(&n);
  EXPECT_EQ(n, 155 + 0x100);
  EXPECT_STREQ(buf, "a");
  // In menu-only mode every key but Enter is ignored.
  nargw = 0;
  pflags = 0x4000;
  type({'a', 'b', BS, ENTER});
  EXPECT_EQ(line(), "");
}

TEST_F(Editor, TabPadsToTheNextStopOrMovesToTheNextWord) {
  tabs = 8;
  type({'a', 'b', TAB, 'c', ENTER});
  EXPECT_EQ(line(), "ab      c");
  type("ab cd");
  type({HOME, TAB, 'X', ENTER});
  EXPECT_EQ(line(), "ab Xcd");
}

TEST_F(Editor, LongLinesSlideAndFullLinesEnd) {
  std::string s;
  for (int i = 0; i < 100; i++) s += static_cast<char>('A' + i % 26);
  type(s);
  type({ENTER});
  EXPECT_EQ(line(), s);
  // The row shows the end of the line, the cursor in view (77 cells after
  // the prompt; one is kept for the cursor); the finished row goes out as
  // the whole line typed, wherever the view stood.
  EXPECT_EQ(kb.rows.back(), "> " + s);
  type(s);
  type({HOME, ENTER});
  EXPECT_EQ(line(), s);
  EXPECT_EQ(kb.rows.back(), "> " + s);
  // A line that fits its row goes out as its row.
  type({'a', 'b', ENTER});
  EXPECT_EQ(line(), "ab");
  EXPECT_EQ(kb.rows.back(), "> ab");
  // A buffer of 10 bytes takes 9 characters; reaching them ends the line
  // and the rest of the typed line is passed over, never read as a line of
  // its own. Inside a command the 9 characters are the input; a command
  // line that does not fit is refused (error 186).
  nargw = 1;
  type("abcdefghijk");
  type({ENTER, 'x', ENTER});
  int n;
  EXPECT_EQ(line(&n, 10), "abcdefghi");
  EXPECT_EQ(n, 9);
  EXPECT_EQ(kb.typed.size(), 2u);  // only the next line is still to come
  kb.typed.clear();
  nargw = 0;
  type("abcdefghijk");
  type({ENTER});
  EXPECT_EQ(line(&n, 10), "");
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(state & ST_ERROR);
}

TEST_F(Editor, EditorModeReturnsSpecialKeys) {
  state |= ST_EDITOR;
  putcur(0, 3);
  curtxt("hello", 5, 2, 3, 0);  // the line stands on screen from column 2
  putcur(4, 3);                 // the cursor after "he"
  std::strcpy(buf, "hello");
  type({'X', UP});
  int n = rdkeys(buf, 2, 5, LINBUF);
  EXPECT_EQ(n, UP + 0x100);
  EXPECT_STREQ(buf, "heXllo");
  EXPECT_EQ(cmdrow(3), "  heXllo");
  EXPECT_TRUE(kb.rows.empty());  // the row is not ended
}

TEST_F(Editor, HistoryRecallStopsAtTheEndsOfTheRing) {
  hstclr();
  tlqclr();  // lines still queued would not count as typed
  type({UP, ENTER});  // no history: the line stays empty
  EXPECT_EQ(line(), "");
  for (const char* l : {"first", "second", "third"}) {
    std::strcpy(linbuf, l);
    Histry(0, static_cast<int>(std::strlen(l)), 0);
  }
  hstrst();
  type({UP, 'x', ENTER});  // Up is PgUp: the newest line, then edited
  EXPECT_EQ(line(), "thirdx");
  EXPECT_EQ(kb.rows.back(), "> thirdx");
  hstrst();
  type({UP, UP, UP, UP, UP, ENTER});  // not past the oldest
  EXPECT_EQ(line(), "first");
  type({DOWN, ENTER});
  EXPECT_EQ(line(), "second");
  type({DOWN, DOWN, DOWN, ENTER});  // not past the newest
  EXPECT_EQ(line(), "third");
  type({'a', 'b', 'c', 'd', 'e', 'f', 'g', 209, 201, ENTER});  // PgDn, PgUp
  EXPECT_EQ(line(), "second");
  EXPECT_EQ(kb.rows.back(), "> second");  // the longer line is erased
  hstclr();
}

TEST_F(Editor, TypedLinesComeFirst) {
  MakStk();
  ASSERT_GT(tlqput("one\ntwo", 0), 0);
  type({'k', ENTER});
  EXPECT_EQ(line(), "one");
  EXPECT_EQ(line(), "two");
  EXPECT_EQ(line(), "k");  // then the keyboard
  // Not in editor mode.
  ASSERT_GT(tlqput("queued", 0), 0);
  state |= ST_EDITOR;
  putcur(0, 5);
  buf[0] = 0;
  type({'z', 207});
  EXPECT_EQ(rdkeys(buf, 0, 0, LINBUF), 207 + 0x100);
  EXPECT_STREQ(buf, "z");
  state = 0;
  tlqclr();
}

TEST_F(Editor, EndOfInput) {
  // While alarms wait the idle line polls; keys and the end still come.
  state |= ST_ALARMS;
  clock_set_virtual(true);
  type({'a', 'b', ENTER});
  EXPECT_EQ(line(), "ab");
  int n = 0;
  line(&n);
  EXPECT_EQ(n, -1);
  EXPECT_TRUE(inend());
  clock_set_virtual(false);
  inreset();
  state = 0;
  kb.rows.clear();
  // At the command prompt: -1, and the main loop quits.
  type("ab");
  line(&n);
  EXPECT_EQ(n, -1);
  EXPECT_TRUE(inend());
  EXPECT_EQ(inprompt, 0);
  EXPECT_TRUE(kb.rows.empty());  // the prompt row stays as it stands
  // Anywhere else the program ends with a diagnostic.
  inreset();
  nargw = 1;
  EXPECT_EXIT(line(), ::testing::ExitedWithCode(1), "end of input while waiting for a key");
}

}  // namespace
