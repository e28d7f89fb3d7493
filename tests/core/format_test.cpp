// The format engine, the typing and dump commands, accept, the debug echo
// and the watch repaint.
#include "core/format.h"

#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/typecmd.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/keylog.h"
#include "lang/declare.h"
#include "lang/names.h"
#include "lang/order.h"
#include "lang/parse.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/window.h"

namespace {


class Fmt : public ::testing::Test {
 protected:
  void SetUp() override {
    freshinterp();
    stack_.begin();
    reset();
    ASSERT_EQ(mksys(), 0);
    ASSERT_TRUE(log_.open());
    initWins();
  }
  void TearDown() override {
    log_.close();
    lstlun = 1;
    dbglun = 1;
    keylun = -1;
    lstsrc = 0;
    lsttok = -1;
    nargw = 0;
    nwords = 0;
    reset();
    stack_.end();
    while (peek()) {
    }
  }
  static void reset() {
    state = 0;
    aflags = 0;
    trcmsk = 0;
    pflags = 0x800;  // errors go to the log only
    tabs = 8;
    obase = 10;
  }

  // Parses and orders a command line as the main loop does; its code.
  static int parse(const char* line) {
    state = 0;
    lstsrc = 0;
    lsttok = -1;
    rststk();
    std::snprintf(linbuf, sizeof linbuf, "%s", line);
    prsflg = PF_PARSE | PF_ORDER;
    int code = 0;
    EXPECT_GT(PARSLN(static_cast<int>(std::strlen(linbuf)), &code), 0) << line;
    EXPECT_EQ(Aftpro(&code), 0) << line;
    EXPECT_FALSE(state & ST_ERROR) << line;
    return code;
  }

  // The "ERROR(arg,code)" lines logged since the last call.
  std::vector<std::string> errors() { return log_.errors(); }

  // What fn writes on a file unit made the listing (or another) unit.
  static std::string capture(const std::function<void()>& fn, int16_t* role = &lstlun) {
    char path[] = "/tmp/pelix_fmtXXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    int u = openf(path, 0x80 | 0x02, 0);
    EXPECT_GE(u, 5);
    int16_t saved = *role;
    *role = static_cast<int16_t>(u);
    fn();
    *role = saved;
    FILE* f = unitstream(u);
    std::string s;
    if (f) {
      std::fflush(f);
      std::fseek(f, 0, SEEK_SET);
      int c;
      while ((c = std::fgetc(f)) != EOF) s.push_back(static_cast<char>(c));
    }
    closef(u, 1);
    return s;
  }

  // A variable in the system table with n items 0, 1, 2, ... (dims for a
  // matrix). Returns its entry.
  static int32_t declare(const char* name, int kind, int wsiz, int32_t n, uint32_t nx = 0,
                         uint32_t ny = 1) {
    int len = static_cast<int>(std::strlen(name));
    if (kind == K_NUMBER) {
      int32_t a = 0;
      EXPECT_GT(getstk(&a, 1, 4, 1, 0), 0);
      std::memset(stkptr(a), 0, 4);
      int32_t e = putsym(0, name, len, kind | 0x1003, a, 1, wsiz);
      ptrstk(a, e + 1);
      return e;
    }
    int32_t e = putsym(0, name, len, kind | 0x1001, 0, 0, wsiz);
    EXPECT_GT(e, 0);
    if (n == 0) return e;
    PtrRec* r = symrec(e);
    PtrRec* t = nullptr;
    if (nx) {
      uint32_t d[3] = {nx, ny, 1};
      t = putptr(K_IMAGE, 0, d, 0, 8, 1);
    }
    EXPECT_GE(asnvrb(r, n, t, 0), 0);
    r = symrec(e);
    int32_t cnt, part, tot, ws;
    gtvarb(r, &cnt, &part, &tot, &ws, 115);
    for (int32_t i = 0; i < cnt; i++) {
      if (i >= part) DMPVRB(r, &part, 1, i);
      PSTACK(i, r);
    }
    DMPVRB(r, &part, 0, 0);
    return e;
  }
  static void setnum(int32_t e, float v) { std::memcpy(stkptr(symptr(e)->data), &v, 4); }
  static int32_t strvar(const char* name, const std::string& text) {
    int32_t e = putsym(0, name, static_cast<int>(std::strlen(name)), 0x1021, 0, 0, 8);
    EXPECT_EQ(PUTCHV(e, text.data(), static_cast<int>(text.size()), 1), 0);
    return e;
  }
  // A list of strings: a table block owned by the entry and one element per
  // text.
  static int32_t strlist(const char* name, const std::vector<std::string>& items) {
    int32_t e = putsym(0, name, static_cast<int>(std::strlen(name)), 0x1821, 0, 0, 8);
    int32_t t = 0;
    int32_t n = static_cast<int32_t>(items.size());
    EXPECT_GT(getstk(&t, n, 4, 1, 0), 0);
    std::memset(stkptr(t), 0, static_cast<size_t>(n) * 4);
    SymEnt* s = symptr(e);
    s->data = t;
    s->value = static_cast<uint32_t>(n);
    ptrstk(t, e + 1);
    for (int32_t i = 0; i < n; i++) {
      const std::string& it = items[static_cast<size_t>(i)];
      maklst(-t, static_cast<int32_t>(std::max<size_t>(it.size(), 1)), i);
      auto* p = static_cast<uint8_t*>(stkptr(t + static_cast<int32_t>(wordp(t)[i])));
      p[0] = static_cast<uint8_t>(it.size());
      std::memcpy(p + 1, it.data(), it.size());
      p[1 + it.size()] = 0;
    }
    return e;
  }
  static PtrRec* symrec(int32_t e) {
    SymEnt* s = symptr(e);
    PtrRec* r = putptr((s->flags & 0x1FF0) | (s->flags & 4), 0, nullptr, 0, s->type, 1);
    r->Idx = e;
    r->Addr = static_cast<uint32_t>(s->data);
    r->Flg2 = s->flags & 0xC00F;
    return r;
  }

  // Records of no variable: a number constant, and a block of items.
  static int32_t num(float v) {
    PtrRec* r = putptr(K_CONST, 0, nullptr, 0, W_FLOAT, 1);
    r->Idx = -1;
    std::memcpy(&r->Addr, &v, 4);
    r->Length = 1;
    return stkadr(r);
  }
  static int32_t inum(int32_t v) {
    PtrRec* r = putptr(K_CONST, 0, nullptr, 0, W_LONG, 1);
    r->Idx = -1;
    r->Addr = static_cast<uint32_t>(v);
    r->Length = 1;
    return stkadr(r);
  }
  static int32_t items(int kind, int wsiz, const void* data, int32_t bytes, int32_t n) {
    auto* d = static_cast<uint8_t*>(getbuf(bytes + 4));
    std::memcpy(d, data, static_cast<size_t>(bytes));
    PtrRec* r = putptr(kind, 0, nullptr, 0, wsiz, 1);
    r->Idx = -1;
    r->Addr = static_cast<uint32_t>(stkadr(d));
    r->Length = n;
    return stkadr(r);
  }
  static int32_t str(const std::string& s) {
    return items(K_STRING, W_BYTE, s.data(), static_cast<int32_t>(s.size()),
                 static_cast<int32_t>(s.size()));
  }

  // One single pass over the given operands.
  static std::string fmt1(const char* f, std::vector<int32_t> h = {}, int max = 300) {
    std::vector<char> out(static_cast<size_t>(max) + 8, '#');
    h.push_back(0);
    int r = format(static_cast<int>(h.size()) - 1, out.data(), f, h.data(), 1, max, nullptr, nullptr);
    std::string s(out.data());
    EXPECT_LE(static_cast<int>(s.size()), max - 1);
    if (!(state & ST_ERROR)) {
      EXPECT_EQ(r, static_cast<int>(s.size())) << f;
    }
    return s;
  }

  // Line-by-line passes until format returns 0 (at most 50).
  static std::vector<std::string> lines(const char* f, std::vector<int32_t> h,
                                        std::vector<int32_t> counts,
                                        std::vector<int>* rets = nullptr) {
    int n = static_cast<int>(h.size());
    h.push_back(0);
    std::vector<int32_t> hand(static_cast<size_t>(n), 0);
    std::vector<std::string> out;
    for (int i = 0; i < 50; i++) {
      char line[257];
      int r = format(n, line, f, h.data(), 0, sizeof line, counts.data(), hand.data());
      out.emplace_back(line);
      if (rets) rets->push_back(r);
      if (r <= 0) break;
    }
    return out;
  }

  LowStack stack_;
  LogFile log_;
};

// ---------------------------------------------------------------------------
// The engine, one directive at a time.

TEST_F(Fmt, PercentSignsAndUnknownLetters) {
  EXPECT_EQ(fmt1("100%% sure"), "100% sure");
  EXPECT_EQ(errors().size(), 0u);
  char out[32];
  int32_t h[2] = {num(1), 0};
  EXPECT_EQ(format(1, out, "a%5k", h, 1, sizeof out, nullptr, nullptr), 0);
  EXPECT_STREQ(out, "a%");
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(2,149)"}));
  // A percent sign at the very end is no directive either.
  state = 0;
  EXPECT_EQ(format(0, out, "x%", h, 1, sizeof out, nullptr, nullptr), 0);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(2,149)"}));
  // A stop bit: nothing at all.
  state = ST_INTR;
  std::strcpy(out, "old");
  EXPECT_EQ(format(0, out, "text", h, 1, sizeof out, nullptr, nullptr), 0);
  EXPECT_STREQ(out, "");
}

TEST_F(Fmt, IntegerLettersBasesFlagsAndSigns) {
  EXPECT_EQ(fmt1("%06d", {inum(42)}), "000042");
  EXPECT_EQ(fmt1("%b", {inum(5)}), "101");
  EXPECT_EQ(fmt1("%h %x", {inum(255), inum(255)}), "FF FF");
  EXPECT_EQ(fmt1("%6d|", {inum(-7)}), "    -7|");
  EXPECT_EQ(fmt1("%06d", {inum(-42)}), "-00042");
  EXPECT_EQ(fmt1("%-6d|", {inum(42)}), "42    |");
  EXPECT_EQ(fmt1("%o %q", {inum(8), inum(5)}), "10 11");
  // Other bases write the 32 bits unsigned; floats are truncated.
  EXPECT_EQ(fmt1("%h", {inum(-1)}), "FFFFFFFF");
  EXPECT_EQ(fmt1("%d %d", {num(2.9f), num(-2.9f)}), "2 -2");
  obase = 16;
  EXPECT_EQ(fmt1("%i", {inum(255)}), "FF");
  obase = 10;
  EXPECT_EQ(fmt1("%4i", {inum(255)}), " 255");
  // Digits that do not fit the width widen nothing: stars.
  EXPECT_EQ(fmt1("%2d", {inum(12345)}), "**");
}

TEST_F(Fmt, FloatsWithSeparatorsAsDecimalMark) {
  EXPECT_EQ(fmt1("%8,2f", {num(3.14159f)}), "    3,14");
  EXPECT_EQ(fmt1("%8.2f", {num(3.14159f)}), "    3.14");
  EXPECT_EQ(fmt1("%12.3f", {num(2.0f)}), "       2.000");
  EXPECT_EQ(fmt1("%7.1f|", {num(-2.25f)}), "   -2.2|");
  EXPECT_EQ(fmt1("%-7.1f|", {num(-2.5f)}), "-2.5   |");
  EXPECT_EQ(fmt1("%f", {num(0.5f)}), "0.500000");
  EXPECT_EQ(fmt1("%6:1f", {num(1.5f)}), "   1:5");
  // The exact mode of dump: as many decimals as the float needs.
  fexact = 1;
  EXPECT_EQ(fmt1("%12.3f", {num(3.14159f)}), "     3.14159");
  EXPECT_EQ(fmt1("%12.3f", {num(2.0f)}), "       2.000");
  fexact = 0;
}

TEST_F(Fmt, StringsCharactersAndColumns) {
  EXPECT_EQ(fmt1("<%s>", {str("hello")}), "<hello>");
  EXPECT_EQ(fmt1("%8s|", {str("hello")}), "   hello|");
  EXPECT_EQ(fmt1("%-8s|", {str("hello")}), "hello   |");
  EXPECT_EQ(fmt1("%3s|", {str("hello")}), "hello|");   // no precision: not cut
  EXPECT_EQ(fmt1("%3.0s|", {str("hello")}), "hel|");   // cut to the width
  EXPECT_EQ(fmt1("%c%c", {str("AB")}), "AB");
  EXPECT_EQ(fmt1("%3c|", {str("ABCD")}), "ABC|");
  EXPECT_EQ(fmt1("%C", {str(std::string("a\001b\037c"))}), "a.b.c");
  EXPECT_EQ(fmt1("%.95C", {str(std::string("a\001b"))}), "a_b");
  EXPECT_EQ(fmt1("%2C|", {str("xyz")}), "xy|");
  // Tabs: blanks to the next stop; t: blanks up to and including a column.
  EXPECT_EQ(fmt1("ab\tc"), "ab      c");
  tabs = 4;
  EXPECT_EQ(fmt1("abcde\tf"), "abcde   f");
  EXPECT_EQ(fmt1("ab%10t|"), "ab         |");
  EXPECT_EQ(fmt1("abcdef%2t|"), "abcdef |");  // at least one blank
  EXPECT_EQ(fmt1("line\nab%3t|"), "line\nab  |");
}

TEST_F(Fmt, ThreeBytesRunningNumbersAndVectors) {
  const uint8_t rgb[6] = {1, 2, 3, 250, 128, 7};
  EXPECT_EQ(fmt1("%r%r", {items(K_ARRAY, W_RGB, rgb, 6, 2)}),
            "      3     2     1       7   128   250 ");
  const int32_t w = 0x01020304;
  EXPECT_EQ(fmt1("%r", {items(K_ARRAY, W_LONG, &w, 4, 1)}), "      1     2     3 ");
  EXPECT_EQ(fmt1("%3.2.5#,%3.2.5#"), "  5,  7");
  EXPECT_EQ(fmt1("%#%#%#"), "012");

  // A matrix of two vector records.
  int32_t e = putsym(0, "vl", 2, 0x1000 | K_VECTOR | K_MATRIX | 1, 0, 0, W_VEC);
  PtrRec* r = symrec(e);
  ASSERT_GE(asnvrb(r, 2, nullptr, 0), 0);
  auto* d = static_cast<uint8_t*>(stkptr(symptr(e)->data));
  ASSERT_NE(d, nullptr);
  const int16_t p0[3] = {10, -20, 30}, p1[3] = {1, 2, 3};
  std::memcpy(d, p0, 6);
  d[6] = 0x21;
  d[7] = 9;
  std::memcpy(d + 8, p1, 6);
  d[14] = 0x0F;
  d[15] = 255;
  r = symrec(e);
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  EXPECT_EQ(cnt, 2);
  std::vector<int32_t> h = {stkadr(r), FMTNUM | 0};
  std::vector<int32_t> left = {cnt}, hand = {0};
  char line[257];
  EXPECT_EQ(format(1, line, "%5#: %v\n", h.data(), 0, sizeof line, left.data(), hand.data()), 1);
  EXPECT_STREQ(line, "    0:       10    -20     30\t 1  2   9\n");
  EXPECT_EQ(format(1, line, "%5#: %v\n", h.data(), 0, sizeof line, left.data(), hand.data()), 0);
  EXPECT_STREQ(line, "    1:        1      2      3\t15  0 255\n");
}

TEST_F(Fmt, MoreDirectivesThanValuesAndBounds) {
  // Operands are taken in turn; an operand with nothing left gives blanks.
  EXPECT_EQ(fmt1("%d,%d,%d", {inum(1), inum(2)}), "1,2,");
  EXPECT_EQ(fmt1("%4d|%4d|", {inum(1)}), "   1|    |");
  EXPECT_EQ(fmt1("[%5d]"), "[     ]");
  EXPECT_EQ(fmt1("[%5d][%s]", {0}), "[     ][]");
  // Widths, precisions and texts never pass the output.
  std::string big = fmt1("%100000d", {inum(1)}, 64);
  EXPECT_EQ(big.size(), 63u);
  big = fmt1("%5.100000f|", {num(1.0f)}, 64);
  EXPECT_LE(big.size(), 63u);
  big = fmt1("%99999999999999999999d", {inum(1)}, 40);
  EXPECT_EQ(big.size(), 39u);
  EXPECT_EQ(fmt1("abcdef", {}, 4), "abc");
  EXPECT_EQ(fmt1("%-300s|", {str("x")}, 10), "x        ");
  EXPECT_EQ(fmt1("%1000000(ab%)", {}, 11), "ababababab");
  // A group that writes and takes nothing ends.
  EXPECT_EQ(fmt1("%2000000000(%)x"), "x");
  EXPECT_EQ(errors().size(), 0u);
}

// ---------------------------------------------------------------------------
// The line-by-line mode.

TEST_F(Fmt, RepeatGroupsLineByLine) {
  const int32_t seven[7] = {0, 1, 2, 3, 4, 5, 6};
  int32_t a = items(K_ARRAY, W_LONG, seven, sizeof seven, 7);
  std::vector<int> rets;
  auto l = lines("%3(%4d%)\n", {a}, {7}, &rets);
  EXPECT_EQ(l, (std::vector<std::string>{"   0   1   2\n", "   3   4   5\n", "   6        \n"}));
  EXPECT_EQ(rets, (std::vector<int>{4, 1, 0}));

  // As many as fit 79 columns: an even count above 5.
  uint8_t hundred[100];
  for (int i = 0; i < 100; i++) hundred[i] = static_cast<uint8_t>(i);
  int32_t b = items(K_ARRAY, W_BYTE, hundred, 100, 100);
  l = lines("%(%5i %)\n", {b}, {100});
  ASSERT_EQ(l.size(), 9u);
  EXPECT_EQ(l[0], "    0     1     2     3     4     5     6     7     8     9    10    11 \n");
  EXPECT_EQ(l[8].substr(0, 24), "   96    97    98    99 ");

  // Nested groups: the inner one runs for each run of the outer.
  l = lines("%2(<%3(%1d%)>%)\n", {b}, {12});
  EXPECT_EQ(l[0], "<012><345>\n");
  EXPECT_EQ(l[1], "<678><9**>\n");  // 10 and 11 do not fit one place
  // A sixth nested group is ignored, with its closing.
  l = lines("%1(%1(%1(%1(%1(%2(%d%)%)%)%)%)%)|\n", {b}, {3});
  EXPECT_EQ(l[0], "0|\n");
}

TEST_F(Fmt, UpperCaseLettersTakeOneItemOfEveryOperand) {
  const int32_t three[3] = {0, 1, 2};
  const int16_t five[5] = {10, 11, 12, 13, 14};
  int32_t a = items(K_ARRAY, W_LONG, three, sizeof three, 3);
  int32_t b = items(K_ARRAY, W_SHORT, five, sizeof five, 5);
  std::vector<int> rets;
  auto l = lines("%4I%4I\n", {a, b}, {3, 5}, &rets);
  EXPECT_EQ(l, (std::vector<std::string>{"   0  10\n", "   1  11\n", "   2  12\n", "      13\n",
                                          "      14\n"}));
  EXPECT_EQ(rets, (std::vector<int>{4, 3, 2, 1, 0}));
  // Lower-case letters keep taking items of one operand.
  a = items(K_ARRAY, W_LONG, three, sizeof three, 3);
  b = items(K_ARRAY, W_SHORT, five, sizeof five, 2);
  l = lines("%4d%4d\n", {a, b}, {3, 2});
  EXPECT_EQ(l, (std::vector<std::string>{"   0   1\n", "   2  10\n", "      11\n"}));
  // An empty operand (handle 0) between two others.
  a = items(K_ARRAY, W_LONG, three, sizeof three, 3);
  b = items(K_ARRAY, W_SHORT, five, sizeof five, 3);
  l = lines("%3I -%d%3I\n", {a, 0, b}, {3, 0, 3});
  EXPECT_EQ(l[0], "  0 - 10\n");
  EXPECT_EQ(l[2], "  2 - 12\n");
}

TEST_F(Fmt, StringListsAndLongStringsAcrossLines) {
  int32_t e = strlist("names", {"alpha", "", "gamma"});
  PtrRec* r = symrec(e);
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  savoff(r);
  EXPECT_EQ(cnt, 10);
  auto l = lines("%s\n", {stkadr(r)}, {cnt});
  EXPECT_EQ(l, (std::vector<std::string>{"alpha\n", "gamma\n"}));
  // A string longer than the line goes on in the next pass.
  std::string s(300, 'x');
  s[299] = 'y';
  l = lines("%s\n", {str(s)}, {300});
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].size(), 256u);
  EXPECT_EQ(l[1], std::string(43, 'x') + "y\n");
}

// ---------------------------------------------------------------------------
// type, ftype, quoted strings and expression lines.

TEST_F(Fmt, TypeBuildsItsFormatFromTheOperands) {
  declare("a", K_ARRAY, W_BYTE, 100);
  int32_t x = declare("x", K_NUMBER, W_FLOAT, 1);
  setnum(x, 2.0f);
  strvar("s", "hello");
  declare("m", K_MATRIX, W_FLOAT, 6, 3, 2);
  declare("b", K_ARRAY, W_LONG, 3);
  declare("c", K_ARRAY, W_SHORT, 2);
  declare("e", K_ARRAY, W_LONG, 0);

  EXPECT_EQ(parse("type a"), 4);
  std::string out = capture([] { ftype(4); });
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 9);
  EXPECT_EQ(out.substr(0, out.find('\n')),
            "    0     1     2     3     4     5     6     7     8     9    10    11 ");
  EXPECT_TRUE(state & ST_LISTING);

  parse("type x");
  EXPECT_EQ(capture([] { ftype(4); }), "       2.000\n");
  parse("type s");
  EXPECT_EQ(capture([] { ftype(4); }), "hello\n");
  parse("type m");
  EXPECT_EQ(capture([] { ftype(4); }),
            "       0.000        1.000        2.000 \n       3.000        4.000        5.000 \n");
  // Several operands of several items: one item of each per line.
  parse("type b c");
  EXPECT_EQ(capture([] { ftype(4); }),
            "           0       0\n           1       1\n           2        \n");
  parse("type s x e");
  EXPECT_EQ(capture([] { ftype(4); }), "hello        2.000 -\n");
  EXPECT_EQ(errors().size(), 0u);
}

TEST_F(Fmt, FtypeQuotedLinesAndExpressions) {
  declare("a", K_ARRAY, W_LONG, 3);
  int32_t x = declare("x", K_NUMBER, W_FLOAT, 1);
  setnum(x, 2.0f);
  EXPECT_EQ(parse("ftype \"%d-%d\\n\" a"), 5);
  EXPECT_EQ(capture([] { ftype(5); }), "0-1\n2-\n");
  parse("ftype \"%5.1f|%s\\n\" x \"txt\"");
  EXPECT_EQ(capture([] { ftype(5); }), "  2.0|txt\n");
  parse("ftype \"plain\\n\"");
  EXPECT_EQ(capture([] { ftype(5); }), "plain\n");
  // A directive that takes nothing ends after one line.
  parse("ftype \"%5t|\\n\" a");
  EXPECT_EQ(capture([] { ftype(5); }), "      |\n");

  parse("ftype \"none\\n\" x");
  EXPECT_EQ(capture([] { ftype(5); }), "");
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(2,133)"}));
  parse("ftype 5 x");
  ftype(5);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(2,70)"}));
  parse("ftype \"\" x");
  ftype(5);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(2,70)"}));
  parse("type { x");
  ftype(4);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(3,32)"}));
  parse("ftype \"%5k\" x");
  EXPECT_EQ(capture([] { ftype(5); }), "");
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(2,149)"}));

  EXPECT_EQ(parse("\"quoted text\""), 99);
  EXPECT_EQ(capture([] { ftype(99); }), "quoted text\n");
  EXPECT_EQ(errors().size(), 0u);
}

// ---------------------------------------------------------------------------
// dump.

TEST_F(Fmt, DumpWritesAssignmentsThatReadBack) {
  int32_t x = declare("x", K_NUMBER, W_FLOAT, 1);
  setnum(x, 2.0f);
  int32_t y = declare("y", K_NUMBER, W_FLOAT, 1);
  setnum(y, 3.14159f);
  declare("a", K_ARRAY, W_LONG, 3);
  declare("e", K_ARRAY, W_LONG, 0);
  strvar("s", "he said \"hi\"\n\tok\\");
  strlist("l", {"abc", "", " x", "end}"});
  parse("dump x y");
  EXPECT_EQ(capture([] { vdump(); }), "x =        2.000\ny =      3.14159\n");
  parse("dump a");
  EXPECT_EQ(capture([] { vdump(); }),
            "a = {\n           0            1            2 " + std::string(39, ' ') + "\n}\n");
  parse("dump e");
  EXPECT_EQ(capture([] { vdump(); }), "e =\n");
  parse("dump s");
  EXPECT_EQ(capture([] { vdump(); }), "s = \"he said \\\"hi\\\"\\n\\tok\\\\\"\n");
  parse("dump l");
  EXPECT_EQ(capture([] { vdump(); }), "l = {\nabc\n\"\"\n\" x\"\n\"end}\"\n}\n");
  parse("dump nothing");
  EXPECT_EQ(capture([] { vdump(); }), "; nothing <undefined>\n");
  parse("dump obase");
  EXPECT_EQ(capture([] { vdump(); }), "obase =       10.000\n");
  setfres(5.0f, 3);
  parse("dump #3");
  EXPECT_EQ(capture([] { vdump(); }), "#3 =        5.000\n");
  // Three-byte items dump as whole numbers; vector records one to a line.
  const uint8_t rgb[6] = {1, 2, 3, 0, 0, 1};
  int32_t c = putsym(0, "c", 1, 0x1000 | K_ARRAY | 1, 0, 0, W_RGB);
  PtrRec* cr = symrec(c);
  ASSERT_GE(asnvrb(cr, 2, nullptr, 0), 0);
  std::memcpy(stkptr(symptr(c)->data), rgb, 6);
  parse("dump c");
  std::string out = capture([] { vdump(); });
  EXPECT_EQ(out.substr(0, 26), "c = {\n   197121     65536 ");
  parse("declare list vector vl(2)");
  declar(34);
  ASSERT_EQ(errors().size(), 0u);
  parse("dump vl");
  out = capture([] { vdump(); });
  EXPECT_EQ(out.substr(0, 44), "vl = {\n{        0      0      0\t 0  0   0 }\n");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4);
  // A declared string that holds only its NUL is empty.
  strvar("z", std::string(1, '\0'));
  parse("dump z");
  EXPECT_EQ(capture([] { vdump(); }), "z =\n");
  // A long string becomes a brace block of its lines.
  strvar("t", std::string(150, 'a') + "\n" + std::string(100, 'b') + " ");
  parse("dump t");
  EXPECT_EQ(capture([] { vdump(); }),
            "t = {\n" + std::string(150, 'a') + "\n\"" + std::string(100, 'b') + " \"\n}\n");
  // A line too long for a typed line: the text in pieces joined on, each
  // piece a command line of its own; escapes are never split.
  strvar("u", std::string(199, 'c') + "\"" + std::string(150, 'd') + "\n" + "e");
  parse("dump u");
  EXPECT_EQ(capture([] { vdump(); }), "u = \"" + std::string(199, 'c') + "\"\nu = u // \"\\\"" +
                                          std::string(150, 'd') + "\\ne\"\n");
  EXPECT_EQ(errors().size(), 0u);
}

// ---------------------------------------------------------------------------
// accept.

// Makes handles the arguments 2, 3, ... of the current function.
static void fnargs(const std::vector<int32_t>& h) {
  auto* list = static_cast<uint32_t*>(getbuf(static_cast<int32_t>(4 * (h.size() + 1))));
  PtrRec* r = putptr(K_ARGS, 0, nullptr, 0, static_cast<int>(h.size()), 1);
  list[0] = static_cast<uint32_t>(stkadr(r));
  for (size_t i = 0; i < h.size(); i++) list[1 + i] = static_cast<uint32_t>(h[i]);
  r->Idx = 247;
  r->Args = stkadr(list);
  argset(-1, stkadr(r));
}
static void keys(const char* s) {
  for (; *s; s++) pushkey(*s == '\n' ? 13 : static_cast<unsigned char>(*s));
}
static float value(PtrRec* r) {
  float v;
  std::memcpy(&v, &r->Addr, 4);
  return v;
}

TEST_F(Fmt, AcceptYesNoKeysAndBoxes) {
  // Mode 1: a key decides; any other key takes argument 3, odd = yes.
  fnargs({str(""), num(0), num(1)});
  keys("Y");
  PtrRec* r = Zaccpt(247, 0, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Flg, K_CONST);
  EXPECT_EQ(value(r), 1.0f);
  EXPECT_EQ(getres(0), 0.0f);
  fnargs({str(""), num(0), num(1)});
  keys("n");
  EXPECT_EQ(value(Zaccpt(247, 0, 0)), 0.0f);
  fnargs({str(""), num(1), num(1)});
  keys("q");
  EXPECT_EQ(value(Zaccpt(247, 0, 0)), 1.0f);
  fnargs({str(""), num(2), num(1)});
  keys("q");
  EXPECT_EQ(value(Zaccpt(247, 0, 0)), 0.0f);

  // Mode 3: a yes/no box; "!No;Yes" when argument 3 is 0.
  fnargs({str("Sure?"), num(1), num(3)});
  keys("no\n");
  EXPECT_EQ(value(Zaccpt(247, 0, 0)), 0.0f);
  fnargs({str("Sure?"), num(0), num(3)});
  keys("\n");  // the default: No
  EXPECT_EQ(value(Zaccpt(247, 0, 0)), 0.0f);
  fnargs({str("Sure?"), num(0), num(3)});
  keys("y\n");
  EXPECT_EQ(value(Zaccpt(247, 0, 0)), 1.0f);

  // Mode 2: a value box preset with the default; logged in the key log.
  std::string log = capture(
      [&] {
        fnargs({str("How many items?"), num(7), num(2)});
        keys("42\n");
        PtrRec* a = Zaccpt(247, K_NUMBER, W_FLOAT);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(value(a), 42.0f);
        fnargs({str("Name"), str("anon"), num(2)});
        keys("\n");
        a = Zaccpt(247, K_STRING, W_BYTE);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->Flg, K_STRING);
        EXPECT_EQ(std::string(static_cast<char*>(stkptr(static_cast<int32_t>(a->Addr))),
                              static_cast<size_t>(a->Length)),
                  "anon");
      },
      &keylun);
  ASSERT_NE(log.find(" Acpt   24 How many items?  -> <42>\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" Acpt   15 Name  -> <anon>\n"), std::string::npos) << log;
  EXPECT_EQ(errors().size(), 0u);
}

// ---------------------------------------------------------------------------
// The debug echo, the watch repaint and the key log.

TEST_F(Fmt, EcodbgEchoesTheParsedLine) {
  declare("arr", K_ARRAY, W_LONG, 3);
  declare("mat", K_MATRIX, W_FLOAT, 4, 2, 2);
  strvar("s", "x");
  parse("type arr mat 5 2.5 s #3 \"txt\"");
  std::string out = capture([] { ecodbg(); }, &dbglun);
  EXPECT_EQ(out, "   0: type ^arr ^^mat 5 2.500 ~s #3 txt\n");
}

TEST_F(Fmt, WatchRepaintsChangedVariablesOnce) {
  int32_t e = declare("w", K_ARRAY, W_LONG, 3);
  int32_t f = declare("v", K_ARRAY, W_LONG, 3);
  ASSERT_EQ(addwat(1, e), 0);
  ASSERT_EQ(addwat(3, f), 1);
  EXPECT_EQ(nwatch, 2);
  symptr(e)->nlen |= 0xF0;
  symptr(f)->nlen |= 0xF0;
  // Window 1 (the command window) is open; window 3 (the main window) too.
  EXPECT_EQ(DoWatch(0), 2);
  EXPECT_EQ(symptr(e)->nlen >> 4, 0);
  EXPECT_EQ(DoWatch(0), 0);  // unchanged: skipped
  // A window that is iconized is left out, its marks cleared all the same.
  symptr(e)->nlen |= 0xF0;
  wport(0)->status |= 8;
  EXPECT_EQ(DoWatch(0), 0);
  EXPECT_EQ(symptr(e)->nlen >> 4, 0);
  wport(0)->status &= static_cast<uint8_t>(~8);
  // Marks equal to the class are skipped; the others are cleared.
  symptr(e)->nlen |= 0xF0;
  EXPECT_EQ(DoWatch(15), 1);  // v (marks 0) repaints, w (marks 15) does not
  EXPECT_EQ(symptr(e)->nlen >> 4, 15);
  EXPECT_EQ(DoWatch(0), 1);
  EXPECT_EQ(delwat(0), 2);
  EXPECT_EQ(nwatch, 0);
  EXPECT_EQ(addwat(0, e), -1);
}

TEST_F(Fmt, KeyLogHoldsOneLinePerKey) {
  std::string out = capture(
      [] {
        logevt("Key", 0, "a", 5);
        logevt("Key", 0, "ab", 5);
        logevt("Key", 0, "abc", 6);
        logevt("Acpt", 0, "x", 0);
        logevt("Key", 0, "held", 7);
        logevt(nullptr, 0, nullptr, 0);
        logevt("Long", 3, "abcdef", 0);
      },
      &keylun);
  std::vector<std::string> l;
  size_t a = 0;
  for (size_t b; (b = out.find('\n', a)) != std::string::npos; a = b + 1) l.push_back(out.substr(a, b - a));
  ASSERT_EQ(l.size(), 5u) << out;
  const size_t dl = std::strlen(datestr()) + 1;
  auto tail = [dl](const std::string& s) { return s.substr(dl); };
  EXPECT_EQ(tail(l[0]), "Key    2 ab");
  EXPECT_EQ(tail(l[1]), "Key    3 abc");
  EXPECT_EQ(tail(l[2]), "Acpt    1 x");
  EXPECT_EQ(tail(l[3]), "Key    4 held");
  EXPECT_EQ(tail(l[4]), "Long    3 abc");
  // Nothing is written while the key log is closed.
  EXPECT_EQ(logevt("Key", 0, "z", 0), 0);
}

}  // namespace
