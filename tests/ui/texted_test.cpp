// The text editor's buffer: reading every kind of line end, the limits of
// the line table and the text buffer, folding a row back, writing, the
// same-file test.
#include "tests/lang/mac_fixture.h"

#include "core/units.h"
#include "ui/texted.h"
#include "ui/textedi.h"

#include <fstream>
#include <sstream>
#include <string>

namespace {

class TextEd : public MacRun {
 protected:
  TextEd() : MacRun("/tmp/pelix-texted-") {}
  void TearDown() override {
    edreset();
    state &= ~ST_ERROR;
    MacRun::TearDown();
  }
  int load(const std::string& name, const std::string& text, int maxln) {
    file(name, text);
    edreset();
    edrec.maxln = static_cast<uint16_t>(maxln);
    eds.fname = dir + name;
    return eread(openf((dir + name).c_str(), UM_RDONLY | UM_TEXT, 0));
  }
  std::string out() {
    std::string r = rows();
    kb.rows.clear();
    return r;
  }
  std::string slurp(const std::string& name) {
    std::ifstream f(dir + name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

TEST_F(TextEd, ReadTakesEveryLineEndAndLongLinesWhole) {
  const std::string longline(1000, 'x');
  ASSERT_EQ(load("a", "one\r\ntwo\rthree\n" + longline + "\nlast", 10), 0);
  ASSERT_EQ(edrec.nlines, 5);
  EXPECT_EQ(edget(0) + "|" + edget(1) + "|" + edget(2) + "|" + edget(4), "one|two|three|last");
  EXPECT_EQ(edget(3), longline);
  EXPECT_EQ(edrec.ltab[3].off, 14u);  // lines lie back to back, each with its newline
  EXPECT_EQ(edrec.used, 14u + 1001u + 5u);
  EXPECT_EQ(edrec.flags, ED_TEXT | ED_FILE);
  EXPECT_FALSE(eds.trunc);
}

TEST_F(TextEd, TableAndBufferFullAtTheirLastByteAndOnePast) {
  ASSERT_EQ(load("b", "1\n2\n3\n", 3), 0);
  EXPECT_EQ(edrec.nlines, 3);
  EXPECT_FALSE(eds.trunc);
  EXPECT_FALSE(state & ST_ERROR);
  ASSERT_EQ(load("c", "1\n2\n3\n\n", 3), 0);  // a fourth, empty line
  EXPECT_EQ(edrec.nlines, 3);
  EXPECT_TRUE(eds.trunc);
  EXPECT_NE(out().find("ERROR 131"), std::string::npos);
  // One line: a buffer of 112 bytes takes 111 characters and the newline.
  ASSERT_EQ(load("d", std::string(111, 'y') + "\n", 1), 0);
  EXPECT_FALSE(eds.trunc);
  ASSERT_EQ(load("e", std::string(112, 'y') + "\n", 1), 0);
  EXPECT_TRUE(eds.trunc);
  EXPECT_EQ(edrec.nlines, 0);
  // Growing a line up to the buffer's end, and one byte past it: error 130,
  // the line unchanged.
  ASSERT_EQ(load("f", "ab\n", 1), 0);
  EXPECT_EQ(edset(0, std::string(111, 'z')), 0);
  EXPECT_EQ(edrec.used, 112u);
  EXPECT_EQ(edset(0, std::string(112, 'z')), -1);
  EXPECT_EQ(edget(0), std::string(111, 'z'));
  EXPECT_NE(out().find("ERROR 130"), std::string::npos);
}

TEST_F(TextEd, FoldingReplacesOnlyTheColumnsARowShows) {
  ASSERT_EQ(load("g", "short\n" + std::string(200, 'a') + "\n", 10), 0);
  edrec.cols = 80;  // a row hands 159 characters to the line editor
  edrec.fcol = 10;
  EXPECT_EQ(edfold(0, "X  "), "short     X");
  EXPECT_EQ(edfold(0, ""), "short");
  edrec.fcol = 0;
  EXPECT_EQ(edregion(1).size(), 159u);
  // Two characters inserted at the row's start: the rest of the line stays.
  EXPECT_EQ(edfold(1, "XY" + std::string(159, 'a')), "XY" + std::string(200, 'a'));
  EXPECT_EQ(edfold(1, std::string(150, 'a')), std::string(191, 'a'));
}

TEST_F(TextEd, WritingTurnsNulsIntoBlanksAndDropsTrailingBlanks) {
  ASSERT_EQ(load("w", std::string("a\0b  \n\n", 7), 10), 0);
  edrec.flags |= ED_MODIFIED;
  ASSERT_EQ(ewrite(), 0);
  EXPECT_EQ(slurp("w"), "a b\n\n");
  EXPECT_FALSE(edrec.flags & ED_MODIFIED);
  edrec.flags |= ED_CRLF;
  ASSERT_EQ(ewrite(), 0);
  EXPECT_EQ(slurp("w"), "a b\r\n\r\n");
  // A write that fails is reported and the changes stay marked.
  eds.fname = dir + "none/w";
  edrec.flags |= ED_MODIFIED;
  EXPECT_EQ(ewrite(), -1);
  EXPECT_TRUE(edrec.flags & ED_MODIFIED);
  EXPECT_NE(out().find("ERROR  66"), std::string::npos);
}

TEST_F(TextEd, SameFileByItsRealName) {
  file("s", "x\n");
  file("t", "x\n");
  PtrRec a{}, b{};
  a.Flg = b.Flg = K_STRING | K_FILE;
  EXPECT_EQ(samfil(&a, (dir + "s").c_str(), &b, (dir + "./s").c_str()), 1);
  EXPECT_EQ(samfil(&a, (dir + "s").c_str(), &b, (dir + "t").c_str()), 0);
  b.Flg = K_STRING;
  EXPECT_EQ(samfil(&a, (dir + "s").c_str(), &b, (dir + "s").c_str()), 0);
}

}  // namespace
