// The headless console: keys from a file descriptor, finished rows to a stream.
#include "core/output.h"
#include "core/state.h"
#include "ui/platform/console.h"
#include "ui/window.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
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

TEST(Console, KeysFromInput) {
  Pipe p;
  Console con(p.fd[0], stdout);
  EXPECT_EQ(con.keyin(KEY_POLL), 0);  // nothing typed yet, no wait
  p.put("ab\ncd\r\ne\r\r");
  EXPECT_EQ(con.keyin(KEY_PEEK), 0);  // a look takes no typed key
  std::string got;
  for (int i = 0; i < 9; i++) got += std::to_string(con.keyin(KEY_WAIT)) + " ";
  EXPECT_EQ(got, "97 98 13 99 100 13 101 13 13 ");
  EXPECT_EQ(con.keyin(KEY_POLL), 0);
  p.end();
  EXPECT_EQ(con.keyin(KEY_POLL), -1);
  EXPECT_EQ(con.keyin(KEY_WAIT), -1);
  EXPECT_TRUE(con.ended());
}

TEST(Console, InterruptIsCtrlC) {
  coninit();
  Pipe p;
  Console con(p.fd[0], stdout);
  raise(SIGINT);
  EXPECT_TRUE(conintr());
  EXPECT_EQ(con.keyin(KEY_PEEK), 3);
  EXPECT_FALSE(conintr());
  EXPECT_EQ(con.keyin(KEY_PEEK), 0);
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
