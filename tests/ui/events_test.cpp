// Key input: the type-ahead buffer, getkey's flags, chkio and end of input.
#include "core/state.h"
#include "ui/events.h"
#include "ui/platform/backend.h"

#include <gtest/gtest.h>

#include <deque>

namespace {

struct Keys : Backend {
  std::deque<int> pending, typed;
  bool end = false;
  int waits = 0;
  int keyin(int how) override {
    if (!pending.empty()) {
      int k = pending.front();
      pending.pop_front();
      return k;
    }
    if (how == KEY_PEEK) return 0;
    if (how == KEY_WAIT) waits++;
    if (!typed.empty()) {
      int k = typed.front();
      typed.pop_front();
      return k;
    }
    return end ? -1 : 0;
  }
  void rowout(int, const char*, int) override {}
  void beep() override {}
  bool paging() override { return false; }
};

class Events : public ::testing::Test {
 protected:
  Keys keys;
  Backend* old = nullptr;
  void SetUp() override {
    old = setbackend(&keys);
    state = 0;
    inprompt = 0;
    while (peek()) {
    }
  }
  void TearDown() override { setbackend(old); }
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
