// The headless console: keys and escape sequences from a file descriptor
// into the message queue, SIGINT as Ctrl-C, finished rows to a stream.
#include "core/output.h"
#include "core/state.h"
#include "ui/events.h"
#include "ui/platform/console.h"
#include "ui/window.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Pipe {
  int fd[2];
  Pipe() { EXPECT_EQ(pipe(fd), 0); }
  ~Pipe() {
    if (fd[0] >= 0) close(fd[0]);
    if (fd[1] >= 0) close(fd[1]);
  }
  void put(const std::string& s) { ASSERT_EQ(write(fd[1], s.data(), s.size()), ssize_t(s.size())); }
  void end() {
    close(fd[1]);
    fd[1] = -1;
  }
};

class ConsoleKeys : public ::testing::Test {
 protected:
  Pipe p;
  Console con{p.fd[0], stdout};
  TermUse term;
  void SetUp() override {
    term.begin(&con);
    state = 0;
  }
  void TearDown() override {
    term.end();
    state = 0;
  }
  // The key codes getkey gives until nothing more is there; "t" marks a
  // character typed as text.
  std::string codes() {
    std::string s;
    for (int k; (k = getkey(1)) > 0;) s += std::to_string(k) + (keytext ? "t " : " ");
    return s;
  }
};

TEST_F(ConsoleKeys, BytesAreCharacters) {
  EXPECT_EQ(con.pump(KEY_POLL), 0);  // nothing typed yet, no wait
  p.put("ab\ncd\r\ne\r\r");
  EXPECT_EQ(con.pump(KEY_PEEK), 0);  // a look takes no typed key
  EXPECT_EQ(codes(), "97 98 13 99 100 13 101 13 13 ");
  // Byte 127 is Backspace; NUL is no key; bytes above 127 are text (the
  // UTF-8 of an e acute), not the special keys of the same codes; control
  // bytes are control keys.
  p.put(std::string("x\x7f", 2) + std::string("\0\xc3\xa9", 3) + "\x15\x05" + "\t");
  EXPECT_EQ(codes(), "120 8 195t 169t 21 5 9 ");
  p.end();
  EXPECT_EQ(con.pump(KEY_POLL), -1);
  EXPECT_EQ(con.pump(KEY_WAIT), -1);
  EXPECT_TRUE(con.ended());
}

TEST_F(ConsoleKeys, EscapeSequencesAreSpecialKeys) {
  p.put("\x1b[A\x1b[B\x1b[C\x1b[D\x1b[H\x1b[F\x1b[3~\x1b[2~\x1b[5~\x1b[6~\x1b[1~\x1b[4~");
  EXPECT_EQ(codes(), "200 208 205 203 199 207 211 210 201 209 199 207 ");
  p.put("\x1bOP\x1bOS\x1b[15~\x1b[21~\x1b[23~\x1b[24~\x1bOA\x1bOF");
  EXPECT_EQ(codes(), "187 190 191 196 113 114 200 207 ");
  // Unknown sequences are dropped whole; a lone ESC is Esc and the next
  // byte a key of its own.
  p.put("\x1b[99~\x1b[2J" "a\x1bx\x1b");
  EXPECT_EQ(codes(), "97 27 120 27 ");
  // A modifier parameter: Ctrl-Up is a key-down message with Ctrl held.
  p.put("\x1b[1;5A");
  EXPECT_EQ(con.pump(KEY_POLL), 1);
  Msg m;
  ASSERT_EQ(peekmsg(&m, 0, 0, 1), 1);
  EXPECT_EQ(m.message, WM_KEYDOWN);
  EXPECT_EQ(m.wParam, VK_UP);
  EXPECT_EQ(m.keys, MK_CTRL);
  EXPECT_EQ(m.hwnd, winhwnd(curwin));
  dispmsg(&m);
  EXPECT_EQ(evtrec.what, 3);
  EXPECT_EQ(evtrec.message, 200u);
  EXPECT_EQ(evtrec.modifiers, MK_CTRL);
  // Alt with a key is a system key, which makes no key event.
  p.put("\x1b[1;3B");
  EXPECT_EQ(codes(), "");
}

TEST_F(ConsoleKeys, TypeAheadKeepsTextApartFromKeys) {
  // Typed while a computation polls: the polls move the keys into the
  // type-ahead buffer, which keeps the text bytes text and Home a key.
  p.put(std::string("\xc3\xa9") + "\x1b[H" + "\xc7");
  while (con.pump(KEY_POLL) > 0) {
  }
  for (int i = 0; i < 4; i++) chkio(0);
  EXPECT_EQ(peekky(), 195);
  EXPECT_EQ(codes(), "195t 169t 199 199t ");
  // Rows printed meanwhile take the keys typed and give them back as they
  // came: U+0081, whose second byte is the code of a click as a key.
  p.put("\xc2\x81");
  while (con.pump(KEY_POLL) > 0) {
  }
  jprintf(1, "row\nrow\nrow\n");
  EXPECT_EQ(codes(), "194t 129t ");
  clrpeek();
}

TEST_F(ConsoleKeys, TypedInputWaitsWhileTheQueueIsFull) {
  // 2,000 typed bytes, pumped in without the program taking any: they stop
  // at the reserve, wait unread, and come in whole and in order as the
  // program takes messages. A Ctrl-C still finds room.
  std::string typed;
  for (int i = 0; i < 2000; i++) typed += static_cast<char>('a' + i % 26);
  p.put(typed);
  while (con.pump(KEY_POLL) > 0) {
  }
  EXPECT_EQ(msgroom(), MSGRESERVE - 1);  // the last byte went in while the reserve was free
  EXPECT_EQ(con.pump(KEY_POLL), 0);  // no room: nothing read
  coninit();
  raise(SIGINT);
  EXPECT_EQ(con.pump(KEY_POLL), 1);
  signal(SIGINT, SIG_DFL);
  std::string got;
  for (;;) {
    Msg m;
    if (!peekmsg(&m, 0, 0, 1)) {
      if (con.pump(KEY_POLL) <= 0) break;
      continue;
    }
    if (m.message == WM_CHAR && m.wParam != 3) got += static_cast<char>(m.wParam);
  }
  EXPECT_EQ(got, typed);
  clrmsgs();
}

TEST_F(ConsoleKeys, InterruptIsCtrlC) {
  coninit();
  raise(SIGINT);
  EXPECT_TRUE(conintr());
  // Only events are looked at: the interrupt is one.
  EXPECT_EQ(chkio(1), 3);
  EXPECT_TRUE(state & ST_INTR);
  EXPECT_FALSE(conintr());
  EXPECT_EQ(chkio(0), 0);
  signal(SIGINT, SIG_DFL);
}

TEST(Console, FinishedRowsGoToOutput) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* out = open_memstream(&buf, &len);
  Pipe p;
  Console con(p.fd[0], out);
  Backend* old = setbackend(&con);
  initWins();
  state = 0;
  // Window 1 also writes its rows; the main window has no grid.
  TxtGrid* g = wgrid(wport(0));
  std::memset(gridbuf(g), ' ', static_cast<size_t>(g->rowlen) * g->nrows);
  g->ocol = g->orow = 0;
  setwin(0);
  putcur(0, 0);
  jprintf(1, "hello  \nworld");
  jprintf(1, "\n\n");
  int prev = txtwin;
  txtwin = 1;
  jprintf(1, "text window\n");
  txtwin = static_cast<int16_t>(prev);
  setbackend(old);
  fclose(out);
  EXPECT_EQ(std::string(buf, len), "hello\nworld\n\ntext window\n");
  free(buf);
}

}  // namespace

// On a terminal the prompt is shown before the program waits, and the row
// it ends is not written a second time (the terminal echoed the line).
TEST(ConsoleTerminal, PromptShownOnceBeforeTheWait) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  char* mem = nullptr;
  size_t memlen = 0;
  FILE* out = open_memstream(&mem, &memlen);
  {
    Console con(slave, out);
    TermUse term;
    term.begin(&con);
    setwin(0);
    // The grid as it stands at start, whatever scrolling an earlier test left.
    TxtGrid* g = curgrid();
    ASSERT_NE(g, nullptr);
    g->ocol = g->orow = 0;
    curtxt("PELIX> ", 7, 0, 0, 8);
    ASSERT_EQ(write(master, "a\n", 2), 2);
    EXPECT_EQ(con.pump(KEY_WAIT), 1);  // shows "PELIX> ", then reads 'a'
    fflush(out);
    EXPECT_EQ(std::string(mem, memlen), "PELIX> ");
    con.rowout(0, "PELIX> a", 8);  // the prompt row ends: already on screen
    con.rowout(1, "next", 4);
    fflush(out);
    EXPECT_EQ(std::string(mem, memlen), "PELIX> next\n");
    term.end();
  }
  fclose(out);
  free(mem);
  close(slave);
  close(master);
}

namespace {

// A terminal on both ends is taken out of canonical mode without echo while
// the console reads it, keeps Ctrl-C as SIGINT, and gets its settings back.
TEST(ConsoleTerminal, NonCanonicalWhileReadAndRestored) {
  int m = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(m, 0);
  ASSERT_EQ(grantpt(m), 0);
  ASSERT_EQ(unlockpt(m), 0);
  int s = open(ptsname(m), O_RDWR | O_NOCTTY);
  ASSERT_GE(s, 0);
  FILE* out = fdopen(dup(s), "w");
  {
    Console con{s, out};
    TermUse term;
    term.begin(&con);
    ASSERT_EQ(write(m, "a", 1), 1);
    EXPECT_EQ(con.pump(KEY_WAIT), 1);
    struct termios t {};
    ASSERT_EQ(tcgetattr(s, &t), 0);
    EXPECT_FALSE(t.c_lflag & ICANON);
    EXPECT_FALSE(t.c_lflag & ECHO);
    EXPECT_TRUE(t.c_lflag & ISIG);
    EXPECT_EQ(getkey(1), 'a');  // one key, no Enter needed
    conrestore();
    ASSERT_EQ(tcgetattr(s, &t), 0);
    EXPECT_TRUE(t.c_lflag & ICANON);
    EXPECT_TRUE(t.c_lflag & ECHO);
    term.end();
  }
  fclose(out);
  close(s);
  close(m);
}

}  // namespace
