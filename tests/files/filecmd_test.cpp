// Line filling of the list command, name order and module expansion.
#include "files/filecmd.h"
#include "files/filecopy.h"
#include "files/keylog.h"
#include "ui/clocks.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::string fill(const char* in, int width, int* count, int mode) {
  char out[300];
  const int n = lfill(in, out, width, count, mode);
  return n < 0 ? "<ff>" : std::string(out) + "|" + std::to_string(n);
}

TEST(ListFill, TabsBackspacesWidthAndFormFeeds) {
  const int32_t keep = tabs;
  tabs = 8;
  int count = 5;
  EXPECT_EQ(fill("a\tb", 240, &count, 0), "a       b|9");
  EXPECT_EQ(fill("abcdefgh\tx", 240, &count, 0), "abcdefgh        x|17");
  EXPECT_EQ(fill("ab\bc", 240, &count, 0), "ac|2");
  EXPECT_EQ(fill("\bx", 240, &count, 0), "x|1");
  // Cut at the width, then after the last non-blank character.
  EXPECT_EQ(fill("abcdef", 4, &count, 0), "abcd|4");
  EXPECT_EQ(fill("abc   ", 240, &count, 0), "abc|3");
  EXPECT_EQ(fill("ab   cd", 4, &count, 0), "ab|2");
  EXPECT_EQ(fill("a\tb", 5, &count, 0), "a|1");
  EXPECT_EQ(count, 5);
  // Form feeds: a new page (positive mode), a blank (negative), or the
  // line counter past any page (0).
  EXPECT_EQ(fill("x\fy", 240, &count, 1), "<ff>");
  EXPECT_EQ(count, 5);
  EXPECT_EQ(fill("x\fy", 240, &count, -1), "x y|3");
  EXPECT_EQ(count, 5);
  EXPECT_EQ(fill("x\fy", 240, &count, 0), "xy|2");
  EXPECT_EQ(count, 1000);
  tabs = 4;
  EXPECT_EQ(fill("a\tb", 240, &count, 0), "a   b|5");
  tabs = keep;
}

TEST(FileCopy, NameOrder) {
  EXPECT_LT(namsrt("a9", "a10"), 0);
  EXPECT_GT(namsrt("a10", "a9"), 0);
  EXPECT_EQ(namsrt("x007", "x7"), 0);  // equal numbers
  EXPECT_LT(namsrt("x7a", "x007b"), 0);  // then the characters after them
  EXPECT_LT(namsrt("abc", "abd"), 0);
  EXPECT_GT(namsrt("b", "a9"), 0);
  EXPECT_LT(namsrt("ab", "abc"), 0);
  EXPECT_EQ(namsrt("same", "same"), 0);
  EXPECT_LT(namsrt("1", "a"), 0);  // a digit against a letter: by code
  // Eight positions at most: a difference at the ninth is no order.
  EXPECT_EQ(namsrt("abcdefgh1", "abcdefgh2"), 0);
  EXPECT_LT(namsrt("abcdefg1", "abcdefg2"), 0);
  EXPECT_EQ(namsrt("1a2b3c4d5", "1a2b3c4d6"), 0);
}

class ModExp : public ::testing::Test {
 protected:
  ScratchDir dir{"/tmp/pelix-modexp-", true};
  void SetUp() override { freshinterp(); }
  std::string run(const char* line, int* n) {
    FILE* f = std::tmpfile();
    *n = modexp(line, f);
    std::rewind(f);
    std::string s;
    int c;
    while ((c = std::fgetc(f)) != EOF) s += static_cast<char>(c);
    std::fclose(f);
    return s;
  }
};

TEST_F(ModExp, ParametersReplaced) {
  std::ofstream("m.mod") << "a${2}x $1 $2$1\n$3 ${1 $$ $0 $12 ${1}}\r\nlast\n";
  int n = 0;
  EXPECT_EQ(run("module m.mod 7 8", &n), "a8x 7 87\n$3 ${1 $$ $0 $12 7}\nlast\n");
  EXPECT_EQ(n, 3);
  // Any case, fields split at commas and tabs; twelve parameters.
  EXPECT_EQ(run("MODULE\tm.mod,p1,p2,3,4,5,6,7,8,9,10,11,twelve", &n),
            "ap2x p1 p2p1\n3 ${1 $$ $0 twelve p1}\nlast\n");
  // No module line, no file: nothing written and 0.
  EXPECT_EQ(run("modules m.mod 1", &n), "");
  EXPECT_EQ(n, 0);
  EXPECT_EQ(run("module", &n), "");
  EXPECT_EQ(n, 0);
  EXPECT_EQ(run("module none.mod 1", &n), "");
  EXPECT_EQ(n, 0);
  // A module without parameters keeps every dollar sign.
  EXPECT_EQ(run("module m.mod", &n), "a${2}x $1 $2$1\n$3 ${1 $$ $0 $12 ${1}}\nlast\n");
}

}  // namespace

namespace {

class KeyLog : public ::testing::Test {
 protected:
  ScratchDir dir{"/tmp/pelix-keylog-", true};
  LowStack stack;
  void SetUp() override {
    freshinterp();
    stack.begin();
    ASSERT_EQ(mksys(), 0);
  }
  void TearDown() override {
    clrparse();
    keylun = -1;
    state = 0;
    stack.end();
  }
  static int line(const char* text) {
    int code = 0;
    EXPECT_TRUE(prsline(text, PF_PARSE | PF_ORDER, &code)) << text;
    return filopn(code, 0);
  }
};

TEST_F(KeyLog, OpenLineAndHeldLineAtClose) {
  EXPECT_GE(line("open keylog \"k.txt\""), 5);
  logevt("Key", 0, "a", 5);
  logevt("Key", 0, "ab", 5);  // replaces the line held for key 5
  const size_t dl = std::strlen(datestr()) + 1;  // the date and a blank
  const std::string open = slurp("k.txt");
  EXPECT_EQ(open.substr(dl), "Open   18 Keylog file opened\n");
  EXPECT_EQ(line("close keylog"), 0);
  EXPECT_EQ(keylun, -1);
  const std::string all = slurp("k.txt");
  EXPECT_EQ(all.substr(open.size() + dl), "Key    2 ab\n");
  logevt("Key", 0, "late", 0);  // closed: nothing more
  EXPECT_EQ(slurp("k.txt"), all);
}

}  // namespace
