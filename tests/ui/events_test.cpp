// Key input: the type-ahead buffer, getkey's flags, chkio and end of input.
#include "core/output.h"
#include "core/state.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/platform/clock.h"
#include "ui/screen.h"
#include "ui/window.h"
#include "tests/support/interp.h"

// The progress counters of the array loop (the evaluator's).
extern uint32_t prgidx;
extern uint32_t prgtot;

namespace {

class Events : public ::testing::Test {
 protected:
  Term keys;
  TermUse term;
  void SetUp() override {
    term.begin(&keys);
    state = 0;
    pflags = 0;
    trcmsk = 0;
    inprompt = 0;
  }
  void TearDown() override {
    term.end();
    state = 0;
    trcmsk = 0;
  }
  // A key message to the current window, handed on like typed input.
  static void post(uint32_t message, uint32_t wParam, uint16_t mods = 0) {
    postmsg(winhwnd(curwin), message, wParam, 1, mods);
  }
};

TEST_F(Events, TypeAheadBuffer) {
  pushkey('a');
  pushkey(0);  // not stored
  pushkey(300);
  pushkey('b');
  EXPECT_EQ(peek(), 'a');
  EXPECT_EQ(peek(), 'b');
  EXPECT_EQ(peek(), 0);
  // 98 places; a full buffer with nothing read drops further keys.
  for (int i = 0; i < 100; i++) pushkey('A' + i % 26);
  EXPECT_EQ(peek(), 'A');
  // With one key read, the unread keys move to the front and one more fits.
  pushkey('z');
  int n = 0;  // keys read after the first
  int last = 0;
  for (int k; (k = peek()) != 0; n++) last = k;
  EXPECT_EQ(n, 98);
  EXPECT_EQ(last, 'z');
  // Reading to the end empties it: the next key starts at the front.
  pushkey('q');
  EXPECT_EQ(peek(), 'q');
  EXPECT_EQ(peek(), 0);
}

TEST_F(Events, GetkeyFlags) {
  pushkey('t');
  keys.typed = {'x'};
  EXPECT_EQ(getkey(0x800), 'x');  // skips the type-ahead buffer
  EXPECT_EQ(getkey(0), 't');
  // One pass without waiting: nothing there gives 0.
  EXPECT_EQ(getkey(1), 0);
  keys.typed = {'y'};
  EXPECT_EQ(getkey(1), 'y');
  // 0x901 only looks at pending events: typed input stays for a wait.
  keys.typed = {'w'};
  EXPECT_EQ(getkey(0x901), 0);
  EXPECT_EQ(keys.typed.size(), 1u);
  keys.pending = {'p'};
  EXPECT_EQ(getkey(0x901), 'p');
  EXPECT_EQ(waitky(), 'w');
  // Ctrl-C raises the interrupt bit and is passed on.
  keys.typed = {3};
  EXPECT_EQ(getkey(0), 3);
  EXPECT_TRUE(state & ST_INTR);
}

TEST_F(Events, Chkio) {
  EXPECT_EQ(chkio(0), 0);
  keys.pending = {'k'};
  EXPECT_EQ(chkio(1), 'k');  // handed back only
  EXPECT_EQ(peek(), 0);
  keys.pending = {'m'};
  EXPECT_EQ(chkio(0), 'm');  // also kept for the next getkey
  EXPECT_EQ(chkio(3), 'm');  // above 2: answered from the buffer, which keeps it
  EXPECT_EQ(getkey(0), 'm');
  // Typed input is never taken by the poll.
  keys.typed = {'t'};
  EXPECT_EQ(chkio(0), 0);
  EXPECT_EQ(keys.typed.size(), 1u);
  keys.pending = {3};
  EXPECT_EQ(chkio(1), 3);
  EXPECT_TRUE(state & ST_INTR);
  keys.pending = {1};  // a code of 1 counts as nothing
  EXPECT_EQ(chkio(0), 0);
}

TEST_F(Events, ChkioLeavesKeysQueuedWhenTheBufferIsFull) {
  for (int i = 0; i < 98; i++) pushkey('a');
  post(WM_CHAR, 'x');
  post(WM_CHAR, 'y');
  post(WM_CHAR, 3, MK_CTRL);
  // Full: the typed keys stay queued, the Ctrl-C behind them is served.
  EXPECT_EQ(chkio(0), 3);
  EXPECT_TRUE(state & ST_INTR);
  EXPECT_EQ(chkio(0), 0);
  state = 0;
  int n = 0;
  while (peek()) n++;
  EXPECT_EQ(n, 98);
  // Room again: the waiting keys come in their order.
  EXPECT_EQ(chkio(0), 'x');
  EXPECT_EQ(chkio(0), 'y');
  EXPECT_EQ(getkey(0), 'x');
  EXPECT_EQ(getkey(0), 'y');
}

TEST_F(Events, WindowProcedureMakesKeyEvents) {
  // Key-down messages go through the virtual-key table; keys without an
  // entry come as characters instead.
  post(WM_KEYDOWN, VK_F11);
  post(WM_KEYDOWN, 'A');
  post(WM_CHAR, 'a');
  post(WM_KEYDOWN, VK_HOME);
  post(WM_KEYDOWN, VK_F1 + 4);
  post(WM_SYSKEYDOWN, VK_F10);           // F10 alone is a system key
  post(WM_SYSKEYDOWN, VK_F10, MK_ALT);   // with Alt it is the platform's
  post(WM_KEYDOWN, VK_SNAPSHOT);
  std::string got;
  for (int k; (k = getkey(1)) > 0;) got += std::to_string(k) + " ";
  EXPECT_EQ(got, "113 97 199 191 196 242 ");
  // The event record of a key.
  post(WM_CHAR, 'b', MK_SHIFT);
  Msg m;
  ASSERT_EQ(peekmsg(&m, WM_KEYDOWN, WM_KEYLAST, 1), 1);
  EXPECT_EQ(dispmsg(&m), 0);
  EXPECT_EQ(evtrec.what, 3);
  EXPECT_EQ(evtrec.message, uint32_t('b'));
  EXPECT_EQ(evtrec.modifiers, MK_SHIFT);
  EXPECT_EQ(evtrec.window, curwin);
  EXPECT_EQ(shiftdn(), 4);
  // Alt with a character is an Alt+key event; a menu command is kind 100
  // and answers with Enter (no menu has its identifier: nothing is queued).
  wndproc(winhwnd(0), WM_SYSCHAR, 'x', 0);
  EXPECT_EQ(evtrec.what, 3);  // Alt is not held for this message
  post(WM_SYSCHAR, 'w', MK_ALT);
  EXPECT_EQ(getkey(1), 196);  // Alt-W is F10
  post(WM_COMMAND, 0x10005);
  ASSERT_EQ(peekmsg(&m, 0, 0, 1), 1);
  dispmsg(&m);
  EXPECT_EQ(evtrec.what, 100);
  EXPECT_EQ(evtrec.message, 0x10005u);
  EXPECT_EQ(evtkey(1, 0), 13);
  EXPECT_EQ(evtkey(0, 0), 0);
}

TEST_F(Events, PaintComesWhenNothingElseIsPending) {
  const int32_t h = winhwnd(0);
  ASSERT_NE(h, 0);
  EXPECT_EQ(winnum(h), 0);
  EXPECT_EQ(winnum(h + 1000), -1);
  EXPECT_NE(winhwnd(1), h);
  invalwin(h);
  invalwin(h);  // one mark per window
  post(WM_CHAR, 'a');
  Msg m;
  ASSERT_EQ(getmsg(&m), 1);
  EXPECT_EQ(m.message, WM_CHAR);
  ASSERT_EQ(peekmsg(&m, WM_PAINT, WM_PAINT, 1), 1);
  EXPECT_EQ(m.hwnd, h);
  ASSERT_EQ(getmsg(&m), 1);  // paint stays until the window is repainted
  EXPECT_EQ(m.message, WM_PAINT);
  dispmsg(&m);
  EXPECT_EQ(peekmsg(&m, 0, 0, 0), 0);
  // Scrolling a text window marks it; flushpnt repaints it.
  setwin(0);
  scroll();
  EXPECT_EQ(peekmsg(nullptr, WM_PAINT, WM_PAINT, 0), 1);
  flushpnt();
  EXPECT_EQ(peekmsg(nullptr, 0, 0, 0), 0);
  // At the end of input there is only the quit message.
  keys.end = true;
  EXPECT_EQ(getmsg(&m), 0);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_TRUE(inend());
}

TEST_F(Events, DokeyTranslatesAndActs) {
  // Alt keys.
  EXPECT_EQ(dokey('w', MK_ALT, 0), 196);
  EXPECT_EQ(dokey('S', MK_ALT, 0), 195);
  EXPECT_EQ(dokey('.', MK_ALT, 0), 3);
  EXPECT_TRUE(state & ST_INTR);
  state = 0;
  EXPECT_EQ(dokey('q', MK_ALT, 0), 0);
  std::string q;
  for (int k; (k = peek()) != 0;) q += static_cast<char>(k);
  EXPECT_EQ(q, "u 1\r");
  // Shift and Ctrl with a digit; mode < 0 takes the key as it is.
  EXPECT_EQ(dokey('3', MK_CTRL, 0), 189);
  EXPECT_EQ(dokey('7', MK_SHIFT, 0), 199);
  EXPECT_EQ(dokey('3', MK_CTRL, -1), '3');
  // Control keys: Ctrl-E stops and is passed on, Ctrl-B empties the
  // type-ahead buffer, other control keys pass untranslated.
  EXPECT_EQ(dokey(5, 0, 0), 5);
  EXPECT_TRUE(state & ST_STOP);
  pushkey('z');
  EXPECT_EQ(dokey(2, 0, 0), 0);
  EXPECT_EQ(peek(), 0);
  EXPECT_EQ(dokey(21, 0, 0), 21);
  EXPECT_EQ(dokey(17 | (115 << 8), 0, 0), 199);  // scan byte in the table
  // Cursor-key mode: Ins cycles the step 8, 1, 64, 8; arrows move the point.
  curstep = 8;
  curx = 100;
  cury = 100;
  EXPECT_EQ(dokey(210, 0, 0x200), 0);
  EXPECT_EQ(curstep, 1);
  dokey(210, 0, 0x200);
  EXPECT_EQ(curstep, 64);
  dokey(210, 0, 0x200);
  EXPECT_EQ(curstep, 8);
  EXPECT_EQ(dokey(205, 0, 0x200), 0);
  EXPECT_EQ(dokey(200, 0, 0x200), 0);
  EXPECT_EQ(curx, 108);
  EXPECT_EQ(cury, 92);
  curflg = 0x8000;
  EXPECT_EQ(dokey(13, 0, 0x200), 129);
  curflg = 0;
  EXPECT_EQ(dokey(13, 0, 0x200), 0);
  EXPECT_EQ(dokey(200, 0, 0), 200);  // outside that mode an arrow passes
  curx = cury = 0;
}

TEST_F(Events, CtrlAShowsProgressAndCtrlDSetsTheTraceMask) {
  txtwin = 0;
  blankcmd();
  // No loop running: nothing.
  prgtot = 0;
  EXPECT_EQ(dokey(1, 0, 0), 0);
  EXPECT_TRUE(keys.rows.empty());
  prgidx = 3000000000u;  // index x 100 does not fit 32 bits
  prgtot = 4000000000u;
  keys.typed = {1};
  EXPECT_EQ(getkey(1), 0);  // consumed
  ASSERT_EQ(keys.rows.size(), 1u);
  EXPECT_EQ(keys.rows[0], " 75% done");
  prgidx = prgtot = 0;
  // Ctrl-D asks for the mask; digits until another key.
  keys.typed = {4, '1', '2', 13, 'x'};
  EXPECT_EQ(getkey(0), 'x');
  EXPECT_EQ(trcmsk, 12);
  int c, r;
  getcur(&c, &r);
  char t[40];
  txtget(0, r, t, 15);
  EXPECT_STREQ(t, "[Debug (0)=12  ");
  // No digit leaves it.
  keys.typed = {4, 'y'};
  EXPECT_EQ(getkey(1), 0);
  EXPECT_EQ(trcmsk, 12);
  trcmsk = 0;
}

TEST_F(Events, Waits) {
  clock_set_virtual(true);
  // A timed wait keeps what is typed meanwhile in the type-ahead buffer.
  keys.pending = {'a'};
  EXPECT_EQ(waitev(20, 1), 0);
  EXPECT_EQ(peek(), 'a');
  EXPECT_EQ(waitev(1, 0), 0);
  // Ctrl-C ends it at once and stays set.
  keys.pending = {3};
  EXPECT_EQ(waitev(3600, 0), 3);
  EXPECT_TRUE(state & ST_INTR);
  EXPECT_EQ(peek(), 3);  // kept for the next getkey too
  state = 0;
  // A key wait takes typed input and gives its code.
  keys.typed = {'k'};
  EXPECT_EQ(waitev(-1, 0), 'k');
  EXPECT_EQ(peek(), 0);
  EXPECT_EQ(peekky(), 0);
  pushkey('p');
  EXPECT_EQ(peekky(), 'p');
  EXPECT_EQ(peekky(), 'p');
  // Input is pending only as queued events.
  EXPECT_EQ(inpend(1), 0);
  keys.pending = {'e'};
  EXPECT_EQ(inpend(1), 1);
  EXPECT_EQ(inpend(0), 1);
  clock_set_virtual(false);
  // At the end of input a key wait ends the program.
  clrmsgs();
  keys.end = true;
  EXPECT_EXIT(waitev(-1, 1), ::testing::ExitedWithCode(1), "end of input while waiting for a key");
}

TEST_F(Events, EndOfInput) {
  keys.end = true;
  EXPECT_EQ(getkey(1), 0);  // a call that does not wait just finds nothing
  inprompt = 1;
  EXPECT_EQ(getkey(0), -1);  // at the command prompt the editor decides
  EXPECT_EQ(waitky(), -1);
  EXPECT_TRUE(inend());
  inprompt = 0;
  EXPECT_EXIT(getkey(0), ::testing::ExitedWithCode(1), "end of input while waiting for a key");
}

}  // namespace
