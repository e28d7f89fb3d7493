// Formatted output, error lines, the line collector, paging and tracing.
#include "core/args.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "lang/help.h"
#include "lang/names.h"
#include "lang/macro.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/window.h"
#include "tests/support/interp.h"

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>

namespace {

std::vector<std::string> collected;
int collect(const char* line, int n) {
  collected.emplace_back(line, n);
  return 0;
}

void cleargrid(int win) {
  Wport* w = wport(win);
  TxtGrid* g = wgrid(w);
  std::memset(gridbuf(g), ' ', static_cast<size_t>(g->rowlen) * g->nrows);
  g->orow = g->ocol = 0;
  w->curcol = w->currow = 0;
  g->wpos = 0;
}

// Text of buffer row `row` of window `win`, trailing blanks removed.
std::string gridrow(int win, int row) {
  TxtGrid* g = wgrid(wport(win));
  std::string s(gridbuf(g) + static_cast<size_t>(row) * g->rowlen, g->rowlen);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

class Output : public ::testing::Test {
 protected:
  Term be;
  TermUse term;
  void SetUp() override {
    MakStk();
    if (regadr < 0) {  // the registers, as the system table's start-up makes them
      int32_t a = 0;
      getstk(&a, 10, 4, 0, 0);
      regadr = a;
    }
    term.begin(&be);
    cleargrid(0);
    cleargrid(1);
    setwin(0);
    txtwin = 0;
    state = pflags = trcmsk = 0;
    jdebug = 0;
    tabs = 8;
    lstlun = errlun = dbglun = outlun = 1;
    loglun = -1;
    macmod = 0;
    maclin = 0;
    setmacnam("");
    colhook = collect;
    collected.clear();
    colrec = 0;
    collen = 0;
    std::snprintf(hlpfnam, sizeof hlpfnam, "%s/system/pelix.hlp", PELIX_SOURCE_DIR);
    hlpcls();
    for (int i = 0; i < 10; i++) setres(0, i);
    while (peek()) {
    }
  }
  void TearDown() override {
    term.end();
    state = pflags = trcmsk = 0;
    tabs = 8;
    lstlun = errlun = dbglun = outlun = 1;
    loglun = -1;
    macmod = 0;
    colrec = 0;
    colhook = nullptr;
    hlpfnam[0] = 0;
    hlpcls();
  }
};

TEST_F(Output, ErrorLinesAndRegisterZero) {
  error(0, 5);
  ASSERT_EQ(be.rows.size(), 1u);
  EXPECT_EQ(be.rows[0], "ERROR   5: Too many subscripts or list items");
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_EQ(getres(0), -5.0f);

  state = 0;
  error(3, 5);
  EXPECT_EQ(be.rows.back(), "ERROR   5 (arg 3): Too many subscripts or list items");

  error(0, 0);
  EXPECT_EQ(getres(0), -1.0f);
  EXPECT_EQ(be.rows.back(), "ERROR   0: General error");

  // A negative code has no text line: only the newline follows the colon.
  size_t before = be.rows.size();
  error(0, -4);
  EXPECT_EQ(getres(0), -4.0f);
  ASSERT_EQ(be.rows.size(), before + 1);
  EXPECT_EQ(be.rows.back(), "ERROR  -4:");

  // Beyond the topic's lines, and a code without a text.
  error(0, 900);
  EXPECT_EQ(be.rows.back(), "ERROR 900:");
  error(0, 250);
  EXPECT_EQ(be.rows.back(), "ERROR 250:");
  EXPECT_EQ(getres(0), -250.0f);
  // The grid holds what the rows said.
  EXPECT_EQ(gridrow(0, 0), "ERROR   5: Too many subscripts or list items");
}

TEST_F(Output, ErrorInsideMacroNamesLineAndMacro) {
  macmod = 3;
  maclin = 12;
  setmacnam("mymac");
  error(2, 16);
  ASSERT_EQ(be.rows.size(), 2u);
  EXPECT_EQ(be.rows[0], "ERROR  16 (arg 2): Cannot assign to a command word");
  EXPECT_EQ(be.rows[1], "   on line    12 of mymac");
  // Without a help text the macro line still ends the message.
  be.rows.clear();
  error(0, -3);
  ASSERT_EQ(be.rows.size(), 1u);
  EXPECT_EQ(be.rows[0], "ERROR  -3:   on line    12 of mymac");
}

TEST_F(Output, QuietErrorsAndBeep) {
  pflags = 0x800;
  error(1, 42);
  EXPECT_TRUE(be.rows.empty());
  EXPECT_EQ(gridrow(0, 0), "");
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_EQ(getres(0), -42.0f);
  EXPECT_EQ(be.beeps, 0);
  pflags = 0x800 | 0x1000;
  error(0, 42);
  EXPECT_EQ(be.beeps, 1);
  EXPECT_TRUE(be.rows.empty());
  // ERROR set to no unit prints nothing either.
  pflags = 0;
  errlun = 0;
  error(0, 42);
  EXPECT_TRUE(be.rows.empty());
}

TEST_F(Output, MissingHelpFile) {
  std::snprintf(hlpfnam, sizeof hlpfnam, "/nonexistent/pelix.hlp");
  hlpcls();
  error(0, 5);
  ASSERT_EQ(be.rows.size(), 2u);
  EXPECT_EQ(be.rows[0], "ERROR   5:Help file not found");
  EXPECT_EQ(be.rows[1], "");
  EXPECT_EQ(hlplun, 0);
  // Afterwards errors carry only their numbers.
  error(0, 6);
  EXPECT_EQ(be.rows.back(), "ERROR   6:");
}

TEST_F(Output, TabsCarriageReturnAndUnits) {
  jprintf(1, "abc\tX\n");
  EXPECT_EQ(be.rows.back(), "abc     X");
  tabs = 4;
  jprintf(1, "a\tb\tc\n");
  EXPECT_EQ(be.rows.back(), "a   b   c");
  tabs = 8;
  jprintf(1, "abcdef\rXY\n");
  EXPECT_EQ(be.rows.back(), "XYcdef");
  // A negative unit is the terminal; unit 4 shows in the text window too.
  jprintf(-7, "minus seven\n");
  EXPECT_EQ(be.rows.back(), "minus seven");
  jprintf(4, "printer\n");
  EXPECT_EQ(be.rows.back(), "printer");
  // Units 50 to 98 write nothing.
  size_t n = be.rows.size();
  jprintf(60, "nothing\n");
  jputc(60, '\n');
  EXPECT_EQ(be.rows.size(), n);
  // Terminal output follows the text output window.
  txtwin = 1;
  jprintf(-1, "in text\n");
  EXPECT_EQ(gridrow(1, 0), "in text");
  EXPECT_EQ(curwin, 0);  // the current window is given back
  // Text without a newline stay on the row until it is finished.
  txtwin = 0;
  size_t rows = be.rows.size();
  jprintf(1, "one ");
  jprintf(1, "two");
  EXPECT_EQ(be.rows.size(), rows);
  jputc(1, '\n');
  EXPECT_EQ(be.rows.back(), "one two");
}

TEST_F(Output, ScrollKeepsLastRowsAndWritesEveryRow) {
  for (int i = 0; i < 30; i++) jprintf(1, "line %d\n", i);
  ASSERT_EQ(be.rows.size(), 30u);
  for (int i = 0; i < 30; i++) EXPECT_EQ(be.rows[i], "line " + std::to_string(i));
  // 25 rows: after 30 lines the grid shows lines 6..29 and an empty last row.
  EXPECT_EQ(gridrow(0, 0), "line 6");
  EXPECT_EQ(gridrow(0, 23), "line 29");
  EXPECT_EQ(gridrow(0, 24), "");
  int col, row;
  getcur(&col, &row);
  EXPECT_EQ(col, 0);
  EXPECT_EQ(row, 24);
  // A form feed goes to the last row of the page.
  cleargrid(0);
  jprintf(1, "top\fbottom\n");
  EXPECT_EQ(be.rows[be.rows.size() - 2], "top");
  EXPECT_EQ(be.rows.back(), "bottom");
  EXPECT_EQ(gridrow(0, 23), "bottom");
}

TEST_F(Output, LongLinesAreCutOrWrapped) {
  std::string words;
  for (int i = 0; i < 12; i++) words += "word" + std::to_string(i) + "  ";  // 12 x 7 = 84
  jprintf(1, "%s|\n", words.c_str());
  // Without wrapping the row holds the first 80 characters.
  EXPECT_EQ(be.rows.back(), words.substr(0, 80));

  trcmsk = 1;  // trace bit 0x1 wraps lines
  be.rows.clear();
  jprintf(1, "%s|\n", words.c_str());
  ASSERT_EQ(be.rows.size(), 2u);
  // Broken at the last blank within the width; the blank begins the next line.
  // word10 ends at column 75; the last blank within the width is column 77.
  EXPECT_EQ(be.rows[0], words.substr(0, 76));
  EXPECT_EQ(be.rows[1], words.substr(77) + "|");
  EXPECT_EQ(trcmsk, 1);  // the trace mask comes back

  be.rows.clear();
  jprintf(1, "%s\n", std::string(170, 'x').c_str());
  ASSERT_EQ(be.rows.size(), 3u);
  EXPECT_EQ(be.rows[0], std::string(80, 'x'));
  EXPECT_EQ(be.rows[1], std::string(80, 'x'));
  EXPECT_EQ(be.rows[2], std::string(10, 'x'));
}

TEST_F(Output, WideFormatsAreSafe) {
  jprintf(1, "%-5000d|\n", 7);
  EXPECT_EQ(be.rows.back(), "7");
  jprintf(1, "%5000d|\n", 7);
  EXPECT_EQ(be.rows.back(), "");
  std::string big(3000, 'q');
  jprintf(1, "%s%s\n", big.c_str(), "end");
  EXPECT_EQ(be.rows.back(), std::string(80, 'q'));
  // The collector keeps 240 characters of a line.
  colrec = 200;
  colmax = 10;
  lowstk[colrec] = 0;
  jprintf(99, "%5000d\n", 7);
  ASSERT_EQ(collected.size(), 1u);
  EXPECT_EQ(collected[0], std::string(240, ' '));
  // A line of a million tabs takes no more than a row.
  std::string tabsline(1000000, '\t');
  tabs = 128;
  jprintf(1, "%s|\n", tabsline.c_str());
  EXPECT_EQ(be.rows.back(), "");
  trcmsk = 1;
  jprintf(1, "x%s|\n", std::string(40, '\t').c_str());
  trcmsk = 0;
  tabs = 8;
  // 40 tab stops of 128 wrapped into rows of 80; the blank at each break
  // begins the next row.
  EXPECT_EQ(be.rows.back(), " |");
  EXPECT_EQ(be.rows[be.rows.size() - 65], "x");
  // A text of any length is written whole: past a megabyte its line still
  // ends, and the next output starts a row of its own.
  size_t n = be.rows.size();
  jprintf(1, "%3000000d|\n", 1);
  ASSERT_EQ(be.rows.size(), n + 1);
  EXPECT_EQ(be.rows.back(), "");
  jprintf(1, "next\n");
  EXPECT_EQ(be.rows.back(), "next");
}

TEST_F(Output, LineCollectorAndLogCopy) {
  colrec = 200;
  colmax = 2;
  lowstk[colrec] = 0;
  jputc(99, 'a');
  jputc(99, 'b');
  jputc(99, 'c');
  jputc(99, '\n');
  ASSERT_EQ(collected.size(), 1u);
  EXPECT_EQ(collected[0], "abc");
  EXPECT_EQ(lowstk[colrec], 1u);
  jprintf(99, "two\nthree\n");
  // The third line is past the maximum of 2 and is dropped.
  ASSERT_EQ(collected.size(), 2u);
  EXPECT_EQ(collected[1], "two");
  EXPECT_EQ(lowstk[colrec], 2u);

  // Terminal output is copied to LOG as well.
  collected.clear();
  lowstk[colrec] = 0;
  loglun = 99;
  jprintf(1, "logged %d\n", 5);
  jputc(1, 'x');
  jputc(1, '\n');
  ASSERT_EQ(collected.size(), 2u);
  EXPECT_EQ(collected[0], "logged 5");
  EXPECT_EQ(collected[1], "x");
  EXPECT_EQ(be.rows[be.rows.size() - 2], "logged 5");
  EXPECT_EQ(be.rows.back(), "x");
  // Unit 4 output is not copied.
  jprintf(4, "printer\n");
  EXPECT_EQ(collected.size(), 2u);
}

TEST_F(Output, InterruptDropsTheRest) {
  be.pending = {3};  // Ctrl-C seen at the first end of line
  jprintf(1, "a\nb\nc\n");
  EXPECT_TRUE(state & ST_INTR);
  ASSERT_EQ(be.rows.size(), 1u);
  EXPECT_EQ(be.rows[0], "a");
  jprintf(1, "more\n");
  EXPECT_EQ(be.rows.size(), 1u);
}

TEST_F(Output, PauseAndTypeAhead) {
  // Ctrl-S holds output; keys meanwhile are dropped until Ctrl-Q.
  be.pending = {19};
  be.typed = {'a', 'b', 17};
  jprintf(1, "x\ny\n");
  EXPECT_EQ(be.rows.size(), 2u);
  EXPECT_TRUE(be.typed.empty());
  EXPECT_FALSE(state & ST_INTR);
  EXPECT_EQ(peek(), 0);
  // Any other key goes to the type-ahead buffer; mouse buttons do not.
  be.pending = {'k', 130};
  jprintf(1, "p\nq\n");
  EXPECT_EQ(peek(), 'k');
  EXPECT_EQ(peek(), 0);
}

TEST_F(Output, MorePrompt) {
  be.pages = true;
  state = ST_LISTING;
  // 25 rows: the first page holds 23 lines; then " More? " waits.
  be.typed = {'y', 208, 'n'};
  for (int i = 0; i < 60 && !(state & ST_ERROR); i++) jprintf(1, "l%d\n", i);
  // 'y': a full page of 24 more; Down arrow: one more line; 'n' stops.
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_TRUE(be.typed.empty());
  EXPECT_EQ(be.rows.size(), 23u + 24u + 1u);
  // The prompt is erased from the grid.
  for (int r = 0; r < 25; r++) EXPECT_EQ(gridrow(0, r).find("More?"), std::string::npos);
  // A key that is no answer stops too and waits in the type-ahead buffer.
  state = ST_LISTING;
  be.rows.clear();
  be.typed = {'q'};
  for (int i = 0; i < 60 && !(state & ST_ERROR); i++) jprintf(1, "m%d\n", i);
  EXPECT_EQ(be.rows.size(), 23u);
  EXPECT_EQ(peek(), 'q');
  // pflags 0x4 switches paging off.
  state = ST_LISTING;
  pflags = 4;
  be.rows.clear();
  for (int i = 0; i < 60; i++) jprintf(1, "n%d\n", i);
  EXPECT_EQ(be.rows.size(), 60u);
  EXPECT_FALSE(state & ST_ERROR);
}

TEST_F(Output, BelBeepsAndIsNotShown) {
  jprintf(1, "a\ab\n");
  EXPECT_EQ(be.beeps, 1);
  EXPECT_EQ(be.rows.back(), "ab");
}

TEST_F(Output, TraceLines) {
  colrec = 200;
  colmax = 100;
  lowstk[colrec] = 0;
  dbglun = 99;
  trcint(8, "fn", 3, 1, 2, 3, 4, 5);
  EXPECT_TRUE(collected.empty());  // mask not selected
  trcmsk = 8 | 16;
  trcint(8, "fn", 3, 1, 2, 3, 4, 5);
  trclng(16, "Fn", 12, 1, 123456, -2, 3, 4);
  int32_t arr[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  trcarr(8, "arr", 1, 4000, arr, 8);
  trcstr(8, "str", 2, "hello", 42);
  float m[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  trcmat(8, "mat", 4, 1.5, m);
  std::vector<std::string> want = {
      "fn(    3):     1     2     3     4     5",
      "Fn(   12):     1   123456       -2        3        4",
      "arr(    1) 8 items at     4000",
      "\t        1        2        3        4        5        6",
      "\t        7        8",
      "str(    2) val=   42\tlen=  5:hello",
      "  mat (4):        1.500",
      "\t    1.000     2.000     3.000",
      "\t    4.000     5.000     6.000",
      "\t    7.000     8.000     9.000",
  };
  EXPECT_EQ(collected, want);
  // pflags bit 0x1 silences tracing.
  collected.clear();
  pflags = 1;
  trcint(8, "fn", 3, 1, 2, 3, 4, 5);
  EXPECT_TRUE(collected.empty());
  pflags = 0;

  // WORD entries: a number, a variable, a text and a command word.
  uint8_t words[42 * 16] = {};
  auto put16 = [&](int e, int off, int16_t v) { std::memcpy(words + 16 * e + off, &v, 2); };
  put16(0, 0, 0x2000);
  put16(0, 4, 50);
  put16(1, 0, 18);
  float f = 2.5f;
  std::memcpy(words + 16 + 8, &f, 4);
  put16(1, 12, 96);
  put16(2, 0, 0x1010);
  put16(2, 4, 100);
  put16(2, 6, 1);
  put16(3, 0, 32);
  put16(3, 4, 3);
  std::memcpy(words + 48 + 8, "abc", 3);
  int16_t amap[4] = {0, 1, 2, 3};
  int16_t nargs = 2, nwords = 4;
  trcwset(words, amap, &nargs, &nwords);
  trcwrd(8, "w", 7, 1);
  trcwrd(8, "w", 7, 2);
  trcwrd(8, "w", 7, 3);
  trcwrd(8, "w", 7, 0);
  std::vector<std::string> wantw = {
      "w   7 WORD(1):     18   0       2.50 (96)",
      "w   7 WORD(2):   4112   0     65636      0    0    0    0",
      "w   7 WORD(3):     32   0    3    0\t 97  98  99   0   0   0   0   0",
      "w   7 WORD(0):   8192   0   50    0\t   0    0    0    0",
  };
  EXPECT_EQ(collected, wantw);
  collected.clear();
  trcmsk = 0;
  trckey(50);  // always prints
  ASSERT_EQ(collected.size(), 7u);
  EXPECT_EQ(collected[0], "KEY = 50");
  EXPECT_EQ(collected[1], "  ARG:     1 Word:     0");
  EXPECT_EQ(collected[2], "  ARG:     2 Word:     1");
  EXPECT_EQ(collected[3], "\t\t   0 WORD(0):   8192   0   50    0\t   0    0    0    0");
  trcwset(nullptr, nullptr, nullptr, nullptr);
  // A pointer record's dump follows its header line.
  collected.clear();
  trcmsk = 8;
  trcptr(8, "ptr", 4, 0);
  EXPECT_EQ(collected, std::vector<std::string>{"ptr WORD(4):   NULL Pointer"});
}

TEST_F(Output, ErrorTrace) {
  colrec = 200;
  colmax = 100;
  lowstk[colrec] = 0;
  dbglun = 99;
  trcmsk = 280;
  pflags = 0x800;  // quiet: only the second trace point
  error(2, 7);
  ASSERT_EQ(collected.size(), 1u);
  EXPECT_EQ(collected[0], "error(   50):     0   280     1     7  2048");
}

TEST_F(Output, RegistersIgnoreOtherNumbers) {
  setres(5, 3);
  setfres(2.5f, 9);
  setres(7, 10);
  setres(7, -1);
  EXPECT_EQ(getres(3), 5.0f);
  EXPECT_EQ(getres(9), 2.5f);
  EXPECT_EQ(getres(10), 0.0f);
  float f;
  std::memcpy(&f, &lowstk[regadr + 3], 4);
  EXPECT_EQ(f, 5.0f);
}

// ---- The help file -------------------------------------------------------

std::string tmpfile(const std::string& text) {
  std::string name = ::testing::TempDir() + "help_test.hlp";
  std::ofstream(name, std::ios::binary) << text;
  return name;
}

TEST_F(Output, HelpFileFormat) {
  // A file written by hand: two topics, the second with a CR LF line and a
  // line longer than 130 characters; a table line of five fields.
  std::string body0 = "first line\nsecond\n";
  std::string body1 = "Error   0          zero\r\nError   1          " + std::string(200, 'z') + "\n";
  std::string head = "##PELIX HELP FILE=0000032=00003\n";
  auto tline = [](long off, int n, const char* name) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "T %08ld 0 %5d  1 %s\n", off, n, name);
    return std::string(buf);
  };
  std::string shortline = "T 1 2 3 four\n";
  long start = static_cast<long>(head.size() + tline(0, 0, "begin").size() + shortline.size() +
                                 tline(0, 0, "errors").size());
  std::string table = tline(start, 2, "begin") + shortline +
                      tline(start + static_cast<long>(body0.size()), 2, "errors");
  std::string path = tmpfile(head + table + body0 + body1);
  std::snprintf(hlpfnam, sizeof hlpfnam, "%s", path.c_str());
  hlpcls();
  ASSERT_EQ(rdhelp(), 0);
  EXPECT_EQ(nhelp, 3);
  EXPECT_EQ(fndhlp("begin"), 0);
  EXPECT_EQ(fndhlp("four"), -1);  // five fields leave the slot empty
  EXPECT_EQ(fndhlp("errors"), 2);
  EXPECT_EQ(hlpkey(-1, nullptr), 0);
  EXPECT_EQ(hlpkey(-4, nullptr), -1);
  char name[32] = "BEGIN";
  EXPECT_EQ(hlpkey(9999, name), 0);  // the name in the buffer, in lower case
  // Command codes name their keyword, 1000 + n the system variable n.
  EXPECT_EQ(hlpkey(50, name), 2);
  EXPECT_STREQ(name, "errors");
  EXPECT_EQ(hlpkey(1102, name), -1);
  EXPECT_STREQ(name, "debug");
  EXPECT_EQ(hlpkey(0, nullptr), -1);

  EXPECT_EQ(prthlp(50, 0, 0), 1);
  EXPECT_EQ(be.rows.back(), " zero");
  // 130 characters of a line are kept; the first 18 are skipped.
  colrec = 200;
  colmax = 10;
  lowstk[colrec] = 0;
  lstlun = 99;
  EXPECT_EQ(prthlp(50, 0, 1), 1);
  lstlun = 1;
  ASSERT_EQ(collected.size(), 1u);
  EXPECT_EQ(collected[0], " " + std::string(111, 'z'));
  EXPECT_EQ(prthlp(50, 0, 2), -1);
  // With a trace mask of 9 or more each topic from index 1 is traced on a
  // line of its own.
  collected.clear();
  lowstk[colrec] = 0;
  dbglun = 99;
  trcmsk = 9;
  ASSERT_EQ(rdhelp(), 0);
  trcmsk = 0;
  dbglun = 1;
  ASSERT_EQ(collected.size(), 2u);
  EXPECT_EQ(collected[0], " 1 HLP      0 (31) <              >:##PELIX HELP FILE=0000032=00003");
  EXPECT_EQ(collected[1], " 2 HLP    " + std::to_string(start + 18) + " (23) <        errors>:Error   0          zero");
  EXPECT_EQ(prthlp(-1, 1, -1), 2);
  EXPECT_EQ(be.rows[be.rows.size() - 2], "first line");
  EXPECT_EQ(be.rows.back(), "second");

  // A wrong banner: no help, no message.
  be.rows.clear();
  std::snprintf(hlpfnam, sizeof hlpfnam, "%s", tmpfile("#PELIX HELP\n").c_str());
  hlpcls();
  EXPECT_EQ(rdhelp(), -1);
  EXPECT_EQ(hlplun, 0);
  EXPECT_TRUE(be.rows.empty());
  // Bad numbers, a table beyond the file, a short table.
  std::snprintf(hlpfnam, sizeof hlpfnam, "%s", tmpfile("##PELIX HELP FILE=0=3\n").c_str());
  EXPECT_EQ(rdhelp(), -1);
  EXPECT_EQ(be.rows.back(), "help file header syntax error");
  std::snprintf(hlpfnam, sizeof hlpfnam, "%s", tmpfile("##PELIX HELP FILE=9999=3\n").c_str());
  EXPECT_EQ(rdhelp(), -1);
  EXPECT_EQ(be.rows.back(), "help table seek error (ptr= 9999)");
  std::snprintf(hlpfnam, sizeof hlpfnam, "%s",
                tmpfile("##PELIX HELP FILE=23=3\nT 0 0 1 1 a\n").c_str());
  EXPECT_EQ(rdhelp(), -1);
  EXPECT_EQ(be.rows.back(), "help table read error at line 1/3");
}

// The help text is read once and again only when the file changes: written
// in place (size or time), replaced (another inode); a file that is gone
// leaves the text that was read.
TEST_F(Output, HelpTextReadAgainWhenTheFileChanges) {
  auto file = [](const std::string& zero, const std::string& two, const std::string& mid,
                 const char* topic = "mid") {
    std::string head = "##PELIX HELP FILE=0000032=00002\n";
    auto tline = [](long off, int n, const char* name) {
      char buf[80];
      std::snprintf(buf, sizeof buf, "T %08ld 0 %5d  1 %s\n", off, n, name);
      return std::string(buf);
    };
    const long start = static_cast<long>(head.size() + tline(0, 0, "errors").size() + tline(0, 0, topic).size());
    std::string errs = "Error   0          " + zero + "\nError   1          one\r\n";
    // The second topic starts inside a line; the last line has no line end.
    std::string rest = "xx" + mid + "\nlast " + two;
    return head + tline(start, 3, "errors") + tline(start + static_cast<long>(errs.size()) + 2, 2, topic) + errs +
           rest;
  };
  const std::string path = ::testing::TempDir() + "help_change.hlp";
  auto put = [&](const std::string& text) { std::ofstream(path, std::ios::binary | std::ios::trunc) << text; };
  auto settime = [&](time_t sec) {
    struct timespec t[2] = {{sec, 0}, {sec, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
  };
  auto line = [&](int key, int n) {
    be.rows.clear();
    const int r = prthlp(key, 0, n);
    return r == 1 && !be.rows.empty() ? be.rows.back() : "(" + std::to_string(r) + ")";
  };
  put(file("zero", "two", "mid"));
  settime(1000000000);
  std::snprintf(hlpfnam, sizeof hlpfnam, "%s", path.c_str());
  hlpcls();
  ASSERT_EQ(rdhelp(), 0);
  EXPECT_EQ(line(50, 0), " zero");
  EXPECT_EQ(line(50, 1), " one");  // cut at the CR
  EXPECT_EQ(line(-2, 0), "mid");   // from inside a line
  EXPECT_EQ(line(-2, 1), "last two");
  EXPECT_EQ(line(-2, 2), "(-1)");  // past the end of the text
  EXPECT_EQ(line(50, 2), "xxmid");  // the third line of errors
  EXPECT_EQ(line(50, 3), "(-1)");   // past its line count
  // Forgotten and loaded again from the unchanged text: the same table.
  hlpcls();
  EXPECT_EQ(fndhlp("mid"), -1);
  ASSERT_EQ(rdhelp(), 0);
  EXPECT_EQ(nhelp, 2);
  EXPECT_EQ(fndhlp("mid"), 1);
  EXPECT_EQ(line(-2, 1), "last two");

  // Written in place with the same size and time: the text read stays.
  put(file("nul!", "two", "mid"));
  settime(1000000000);
  EXPECT_EQ(line(50, 0), " zero");
  // The same size at another time: read again.
  settime(1000000001);
  EXPECT_EQ(line(50, 0), " nul!");
  // Another size at the same time.
  put(file("nul!", "three", "mid"));
  settime(1000000001);
  EXPECT_EQ(line(-2, 1), "last three");
  // Replaced by another file (a new inode) of the same size and time.
  const std::string other = path + ".new";
  std::ofstream(other, std::ios::binary) << file("null", "three", "mod", "new");
  {
    struct timespec t[2] = {{1000000001, 0}, {1000000001, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), t, 0), 0);
  }
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
  EXPECT_EQ(line(50, 0), " null");
  EXPECT_EQ(line(-2, 0), "mod");
  // Its table is read again too: the second topic has another name.
  EXPECT_EQ(fndhlp("mid"), -1);
  EXPECT_EQ(fndhlp("new"), 1);
  // Gone: the text read is still there.
  std::remove(path.c_str());
  EXPECT_EQ(line(50, 0), " null");
  EXPECT_EQ(line(-2, 1), "last three");
}

TEST_F(Output, SystemHelpFileHasEveryErrorText) {
  ASSERT_EQ(rdhelp(), 0);
  int t = fndhlp("errors");
  ASSERT_GE(t, 0);
  // Every topic starts at the beginning of a line and its lines exist.
  std::ifstream f(hlpfnam, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  for (int i = 0; i < nhelp; i++) {
    uint32_t off = hlptab[i].offset;
    ASSERT_LT(off, all.size());
    EXPECT_TRUE(off > 0 && all[off - 1] == '\n') << "topic " << i;
  }
  const int codes[] = {2,  4,  5,  6,  7,   8,   9,   11,  12,  13,  15,  16,  17,  18,  19,
                       20, 21, 25, 26, 29,  30,  31,  32,  35,  36,  37,  41,  42,  43,  44,
                       45, 46, 49, 50, 56,  58,  59,  60,  62,  63,  64,  65,  66,  68,  70,
                       71, 73, 75, 76, 77,  79,  80,  81,  82,  83,  84,  86,  87,  89,  90,
                       91, 92, 94, 97, 99,  100, 107, 109, 111, 113, 116, 120, 122, 125, 126,
                       127, 129, 133, 136, 141, 142, 143, 145, 146, 147, 149, 150, 151, 154,
                       156, 157, 161, 168, 175, 182, 183, 184, 196, 205, 206, 777};
  for (int code : codes) {
    be.rows.clear();
    EXPECT_EQ(prthlp(50, 0, code), 1) << code;
    ASSERT_EQ(be.rows.size(), 1u);
    EXPECT_GT(be.rows[0].size(), 3u) << "no text for error " << code;
    EXPECT_EQ(be.rows[0][0], ' ') << code;
  }
}

}  // namespace
