// Formatted output to file units and into a text list variable.
#include "core/units.h"
#include "varbl_fixture.h"

namespace {

class FileUnits : public ::testing::Test {
 protected:
  Term be;
  TermUse term;
  // A folder of the test's own: tests run side by side in separate processes.
  ScratchDir scratch{"/tmp/pelix-outunits-"};
  std::string name = scratch.path + "/output_units_test.txt";
  int unit = -1;
  void SetUp() override {
    freshinterp();
    term.begin(&be);
    state = pflags = trcmsk = 0;
    loglun = -1;
    dbglun = errlun = 1;
    txtwin = 0;
    unit = openf(name.c_str(), 0x80 | 0x02, 0);
    ASSERT_GE(unit, 5);
  }
  void TearDown() override {
    loglun = -1;
    dbglun = errlun = lstlun = 1;
    state = pflags = trcmsk = 0;
    if (unit > 0) closef(unit, 1);
    term.end();
  }
};

TEST_F(FileUnits, TextReachesTheFileWhole) {
  jprintf(unit, "%5000d|\n", 7);
  jprintf(unit, "tab\tstays\n");
  jputc(unit, '\n');
  jflush(unit);
  std::string want = std::string(4999, ' ') + "7|\ntab\tstays\n\n";
  EXPECT_EQ(slurp(name), want);
  EXPECT_TRUE(be.rows.empty());
}

TEST_F(FileUnits, LogCopyAndDebugFlush) {
  loglun = static_cast<int16_t>(unit);
  jprintf(1, "to both %d\n", 1);
  jprintf(-2, "also copied\n");
  jprintf(4, "printer only\n");
  jputc(1, 'x');
  jputc(1, '\n');
  loglun = -1;
  jflush(unit);
  EXPECT_EQ(slurp(name), "to both 1\nalso copied\nx\n");
  ASSERT_GE(be.rows.size(), 4u);
  EXPECT_EQ(be.rows[0], "to both 1");
  EXPECT_EQ(be.rows[2], "printer only");
  // Trace lines on a DEBUG file are flushed as they are written.
  dbglun = static_cast<int16_t>(unit);
  trcmsk = 4;
  trcint(4, "tag", 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(slurp(name), "to both 1\nalso copied\nx\ntag(    1):     2     3     4     5     6\n");
  // Errors on a file unit.
  errlun = static_cast<int16_t>(unit);
  pflags = 0;
  trcmsk = 0;
  error(4, 31);
  jflush(unit);
  std::string all = slurp(name);
  EXPECT_EQ(all.substr(all.size() - 45), "ERROR  31 (arg 4): More than 20 nested loops\n");
}

class Collector : public Var {};

TEST_F(Collector, LinesBecomeListElements) {
  int32_t e = decl("lines", K_STRING | K_LIST, 8);
  PtrRec* r = rec(e, false);
  int32_t count = -1;
  makvar(r, nullptr, &count, 3, 0, 8);
  SymEnt* s = symptr(e);
  ASSERT_GE(s->value, 3u);
  int32_t cr = 0;
  ASSERT_GT(getstk(&cr, 2, 4, 1, 0), 0);
  lowstk[cr] = 0;
  lowstk[cr + 1] = static_cast<uint32_t>(stkadr(r));
  colrec = cr;
  colmax = 3;
  colhook = nullptr;
  collen = 0;
  jprintf(99, "abc\n");
  jputc(99, 'd');
  jputc(99, 'e');
  jputc(99, '\n');
  jprintf(99, "\nlast one\nbeyond\n");
  EXPECT_EQ(lowstk[cr], 3u);
  int32_t len = 0;
  const uint8_t* p = lstptr(nullptr, 0, &len, s->data);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), len), "abc");
  p = lstptr(nullptr, 1, &len, s->data);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), len), "de");
  p = lstptr(nullptr, 2, &len, s->data);  // an empty line: an empty element
  EXPECT_EQ(len, 0);
  colrec = 0;
  colmax = 0;
}

}  // namespace
