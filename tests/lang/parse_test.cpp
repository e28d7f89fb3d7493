// The word parser: the WORD table, argument map and command code of lines
// that exercise every word type, and the parser's errors.
#include "parse_fixture.h"

#include "core/units.h"

#include <cstdarg>
#include <fstream>

namespace {

std::string fmt(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* f, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, f);
  std::vsnprintf(buf, sizeof buf, f, ap);
  va_end(ap);
  return buf;
}

int addr(const char* name) {
  uint16_t k = 0;
  return namvar(name, static_cast<int>(std::strlen(name)), &k);
}

// Every relative link of the table points at an entry in use.
::testing::AssertionResult linksok() {
  for (int e = 0; e < nwords; e++) {
    const WORD& w = wrdtab[e];
    auto in = [&](int rel) { return e + rel >= 0 && e + rel < nwords; };
    if ((w.type == WT_TEXT || w.type == WT_QUOTED || (w.type & WT_CONT)) && w.type != WT_SLOTS &&
        w.v2 != 0 && !in(w.v2))
      return ::testing::AssertionFailure() << "text link of entry " << e;
    if (w.type == WT_SLOTS || w.type == WT_CMDLIST || w.type == (WT_UNKLIST | 1) ||
        (w.type & 0x1001) == 0x1001) {
      for (int s = 0; s < 4; s++) {
        int16_t v = wslot(w, s);
        if (v > -99 && !in(v)) return ::testing::AssertionFailure() << "slot " << s << " of " << e;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(Parse, NumbersStringsVariablesAndCommandWords) {
  EXPECT_EQ(parse("type 3 1.5 10h 'ab\\tc' x"), 4);
  EXPECT_EQ(args(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(table(), "2000 0 4 0 | 00 00 00 00 00 00 00 00\n"
                     "12 0 0 0 | 03 00 00 00 20 00 00 00\n"   // 3, 32-bit integer
                     "12 0 0 0 | 00 00 c0 3f 60 00 00 00\n"   // 1.5, float (96)
                     "12 0 0 0 | 10 00 00 00 20 00 00 00\n"   // 10h is 16
                     "22 0 4 0 | 61 62 09 63 00 00 00 00\n" +  // the tab decoded
                         fmt("1040 0 %d 0 | 00 00 00 00 00 00 00 00\n", addr("x")));
  EXPECT_EQ(wfloat(wrdtab[2]), 1.5);
  EXPECT_EQ(wfloat(wrdtab[3]), 16.0);

  // A command word that is not the first word keeps its text.
  EXPECT_EQ(parse("type hel"), 4);
  EXPECT_EQ(table(), "2000 0 4 0 | 00 00 00 00 00 00 00 00\n"
                     "2000 0 1 1 | 00 00 00 00 00 00 00 00\n"
                     "20 2 3 0 | 68 65 6c 00 00 00 00 00\n");
  EXPECT_EQ(text(2), "hel");

  // An unknown name is text; a name followed by "(" gets its list.
  EXPECT_EQ(parse("foo(1,2) zz"), CM_UNKNOWN);
  EXPECT_EQ(args(), (std::vector<int>{0, 4}));
  EXPECT_EQ(table(), "2009 0 1 2 | 02 00 03 00 9d ff 9d ff\n"
                     "20 2 3 0 | 66 6f 6f 00 00 00 00 00\n"
                     "12 2 0 0 | 01 00 00 00 20 00 00 00\n"
                     "12 2 0 0 | 02 00 00 00 20 00 00 00\n"
                     "20 0 2 0 | 7a 7a 00 00 00 00 00 00\n");
  EXPECT_TRUE(linksok());

  // A Number variable with "++" or "--" keeps the mark.
  EXPECT_EQ(parse("type a++ b--"), 4);
  EXPECT_EQ(W(1), fmt("1010 0 %d 0 | 2b 00 00 00 00 00 00 00", addr("a")));
  EXPECT_EQ(W(2), fmt("1010 0 %d 0 | 2d 00 00 00 00 00 00 00", addr("b")));
  // System variables and predefined names.
  EXPECT_EQ(parse("type ibase r3"), 4);
  EXPECT_EQ(W(1), "14 0 132 0 | 00 00 00 00 00 00 00 00");
  EXPECT_EQ(W(2), "10 0 3 0 | 00 00 00 00 00 00 00 00");
}

TEST_F(Parse, CommandCodesOfLines) {
  EXPECT_EQ(parse("hel"), 1);
  EXPECT_EQ(parse("HELP"), 1);  // folded before lookup
  EXPECT_EQ(parse("h"), CM_UNKNOWN);  // one letter never abbreviates
  EXPECT_EQ(parse("zz 1 2"), CM_UNKNOWN);
  EXPECT_EQ(parse("'text' 3"), CM_QUOTED);
  EXPECT_EQ(parse("a = 3"), OP_ASSIGN);
  EXPECT_EQ(parse("zz = 3"), CM_UNKNOWN);
  EXPECT_EQ(parse("3 + 4"), CM_EXPR);
  EXPECT_EQ(parse("sin(1)"), CM_EXPR);
  EXPECT_EQ(parse("sin 1"), CM_EXPR);
  EXPECT_EQ(parse("-a"), CM_EXPR);
  EXPECT_EQ(parse("-", 0x0F), CM_EXPR);  // "-" alone is an operator word
  EXPECT_EQ(W(0), "2000 0 117 0 | 00 00 00 00 00 00 00 00");
  EXPECT_EQ(parse("a >= 3", 0x0F), CM_EXPR);  // one operator, not ">" and "="
  EXPECT_EQ(nargw, 3);
  EXPECT_EQ(wrdtab[1].v1, 120);
  EXPECT_EQ(parse("}"), OP_RBRACE);
  EXPECT_EQ(parse("} else {"), OP_RBRACE);
  EXPECT_EQ(nargw, 3);
  EXPECT_EQ(parse("$ anything at all"), CM_DOLLAR);
  EXPECT_EQ(nargw, 1);
  EXPECT_EQ(text(0), " anything at all");
  // A board command is no first word, but is one further on.
  EXPECT_EQ(parse("cb_digin"), CM_UNKNOWN);
  EXPECT_EQ(parse("call cb_digin 1"), 25);
  EXPECT_EQ(wrdtab[argmap[1]].v1, 604);
  // The current list token is argument 1's entry.
  EXPECT_EQ(parse("list"), 3);
  EXPECT_EQ(lsttok, 0);
  // An empty line has no argument.
  EXPECT_EQ(parse("   "), 0);
  EXPECT_EQ(nargw, 0);
}

TEST_F(Parse, ErrorsWithTheirArgumentNumbers) {
  struct {
    const char* line;
    const char* err;
  } cases[] = {
      {"help = 3", "ERROR  16 (arg 2)"},   // assignment to a command word
      {"re", "ERROR  37 (arg 1)"},         // ambiguous abbreviation
      {"type 1 re", "ERROR  37 (arg 3)"},
      {"type $$1", "ERROR   2 (arg 2)"},   // doubled "$"
      {"type ~x", "ERROR   4 (arg 2)"},    // an array with a string prefix
      {"type x(1,2)", "ERROR   5 (arg 2)"},  // an array takes one pair of slots
      {"type @< >", "ERROR   6 (arg 2)"},  // an empty word
      {"type @q", "ERROR   7 (arg 2)"},    // a file name of one character
      {"type x(1", "ERROR   8 (arg 2)"},   // unclosed
      {"type x(1]", "ERROR   8 (arg 2)"},
      {"type `", "ERROR   9 (arg 2)"},     // no word, no operator
      {"type a,b", "ERROR   9 (arg 2)"},
      {"type 3000000000", "ERROR 100 (arg 2)"},  // number too large
      {"type 1 x(2147399936)", "ERROR 100 (arg 3)"},
  };
  for (const auto& c : cases) {
    parse(c.line);
    EXPECT_TRUE(state & ST_ERROR) << c.line;
    EXPECT_EQ(err(), c.err) << c.line;
  }
  // After error 16 the line has no argument; after other errors PARSLN
  // gives 0.
  parse("help = 3");
  EXPECT_EQ(nargw, 0);
  prsflg = 0x1F;
  int code = -5;
  std::snprintf(linbuf, sizeof linbuf, "type x(1");
  state = 0;
  EXPECT_EQ(PARSLN(8, &code), 0);
  EXPECT_EQ(code, 0);
}

TEST_F(Parse, TableFullIsError41) {
  // Names kept as text of two entries each: the 21st needs a 43rd entry.
  std::string line = "type";
  for (int i = 0; i < 21; i++) line += " zabcdefgh";  // two entries each
  parse(line.c_str());
  EXPECT_EQ(err(), "ERROR  41 (arg 22)");
  // A command followed by 39 numbers parses into 40 arguments, the most a
  // line can have; a 41st argument would be dropped silently, so the line
  // is refused.
  line = "type";
  for (int i = 1; i <= 39; i++) line += " " + std::to_string(i);
  EXPECT_EQ(parse((line + "   ").c_str()), 4);
  EXPECT_EQ(err(), "");
  EXPECT_EQ(nargw, 40);
  EXPECT_EQ(nwords, 40);
  EXPECT_EQ(wnum(wrdtab[argmap[39]]), 39);
  EXPECT_EQ(parse((line + " 40").c_str()), 0);
  EXPECT_EQ(err(), "ERROR  41 (arg 41)");
}

TEST_F(Parse, QuotingEscapesAndLongTexts) {
  EXPECT_EQ(parse("type '\\101\\x\\\"q' \"it's\" '\\t\\e\\0'"), 4);
  EXPECT_EQ(W(1), "22 0 4 0 | 41 78 22 71 00 00 00 00");  // octal 101 is A
  EXPECT_EQ(W(2), "22 0 4 0 | 69 74 27 73 00 00 00 00");
  EXPECT_EQ(W(3), "22 0 3 0 | 09 1b 00 00 00 00 00 00");
  // Quotes keep their case and hold blanks and ";".
  EXPECT_EQ(parse("type 'A b;C' D ; comment"), 4);
  EXPECT_EQ(nargw, 3);
  EXPECT_EQ(text(1), "A b;C");
  EXPECT_EQ(W(2), fmt("1010 0 %d 0 | 00 00 00 00 00 00 00 00", addr("d")));
  // A text longer than 8 characters goes on in continuation entries.
  EXPECT_EQ(parse("type 'abcdefghijklmnopqrstu' b"), 4);
  EXPECT_EQ(table(), "2000 0 4 0 | 00 00 00 00 00 00 00 00\n"
                     "22 0 21 1 | 61 62 63 64 65 66 67 68\n"
                     "4022 2 13 1 | 69 6a 6b 6c 6d 6e 6f 70\n"
                     "4022 2 5 0 | 71 72 73 74 75 00 00 00\n" +
                         fmt("1010 0 %d 0 | 00 00 00 00 00 00 00 00\n", addr("b")));
  EXPECT_EQ(args(), (std::vector<int>{0, 1, 4}));
  EXPECT_EQ(text(1), "abcdefghijklmnopqrstu");
  // The whole line as one text (parse flag 0x40).
  EXPECT_EQ(parse("  Keep THIS as it is", 0x48), 0);
  EXPECT_EQ(nargw, 1);
  EXPECT_EQ(text(0), "  Keep THIS as it is");
  EXPECT_EQ(wrdtab[0].v1, 20);
  EXPECT_EQ(nwords, 3);
}

TEST_F(Parse, Prefixes) {
  int xa = addr("x"), sa = addr("s");
  // "#3" is number register 3, "$2" argument 2 of the running macro.
  EXPECT_EQ(parse("type #3 $2 ^x %%x"), 0);
  EXPECT_EQ(err(), "ERROR   4 (arg 5)");
  EXPECT_EQ(parse("type #3 $2 ^x"), 4);
  EXPECT_EQ(W(1), "10 0 3 0 | 00 00 00 00 00 00 00 00");
  EXPECT_EQ(W(2), "4 0 2 0 | 00 00 00 00 00 00 00 00");
  EXPECT_EQ(W(3), fmt("1040 0 %d 0 | 00 00 00 00 00 00 00 00", xa));
  // An indirect name: the group after the prefix; 65400 + its offset.
  EXPECT_EQ(parse("type ^~s"), 4);
  EXPECT_EQ(table(), "2000 0 4 0 | 00 00 00 00 00 00 00 00\n"
                     "44 0 -135 0 | 00 00 00 00 00 00 00 00\n" +
                         fmt("1020 2 %d 0 | 00 00 00 00 00 00 00 00\n", sa));
  EXPECT_EQ(wval(wrdtab[1]), 65401);
  EXPECT_EQ(parse("type #(a+1)"), 4);
  EXPECT_EQ(wval(wrdtab[1]), 65401);
  EXPECT_EQ(wrdtab[1].type, 16 + 4);
  EXPECT_EQ(wrdtab[2].type, WT_GROUP);
  EXPECT_TRUE(grpord(2));
  // A prefixed name that is no variable is a file name: its text, a
  // bracketed name or number, and a braced number after it.
  EXPECT_EQ(parse("type @pic.img{2} @<3> ^'my file.dat'"), 4);
  EXPECT_EQ(table(), "2000 0 4 0 | 00 00 00 00 00 00 00 00\n"
                     "208 0 1 2 | 00 00 00 00 00 00 00 00\n"
                     "20 2 7 0 | 70 69 63 2e 69 6d 67 00\n"
                     "12 2 0 0 | 02 00 00 00 20 00 00 00\n"
                     "208 0 1 0 | 00 00 00 00 00 00 00 00\n"
                     "12 2 0 0 | 03 00 00 00 20 00 00 00\n"
                     "48 0 1 0 | 00 00 00 00 00 00 00 00\n"
                     "22 2 11 1 | 6d 79 20 66 69 6c 65 2e\n"
                     "4022 4 3 0 | 64 61 74 00 00 00 00 00\n");
  EXPECT_EQ(args(), (std::vector<int>{0, 1, 4, 6}));
  // In angle brackets a name is text, or the variable of that name.
  EXPECT_EQ(parse("type @<dir/pic.img> @<s>"), 4);
  EXPECT_EQ(W(1), "208 0 1 0 | 00 00 00 00 00 00 00 00");
  EXPECT_EQ(W(2), "20 2 11 1 | 64 69 72 2f 70 69 63 2e");
  EXPECT_EQ(text(2), "dir/pic.img");
  EXPECT_EQ(W(5), fmt("1020 2 %d 0 | 00 00 00 00 00 00 00 00", sa));
  // Doubled prefixes.
  declare("sl", 0x1821);
  declare("vl", 0x1901);
  EXPECT_EQ(parse("type ~~sl %%vl ##3 @@sol ^^m"), 4);
  EXPECT_EQ(wrdtab[argmap[1]].type, 0x1820);
  EXPECT_EQ(wrdtab[argmap[2]].type, 0x1900);
  EXPECT_EQ(wrdtab[argmap[3]].type, 16);
  EXPECT_EQ(wrdtab[argmap[4]].type, 0x1400);
  EXPECT_EQ(wrdtab[argmap[5]].type, 0x1080);
}

TEST_F(Parse, SubscriptsAndLists) {
  int xa = addr("x"), ma = addr("m");
  // An array: one (first, last) pair; -99 a slot not given, -100 to the end.
  EXPECT_EQ(parse("type x(1:5) x(2) x(3:) x[4]"), 4);
  EXPECT_EQ(table(), fmt("2000 0 4 0 | 00 00 00 00 00 00 00 00\n"
                         "1041 0 %d 0 | 01 00 02 00 9d ff 9d ff\n"
                         "12 2 0 0 | 01 00 00 00 20 00 00 00\n"
                         "12 2 0 0 | 05 00 00 00 20 00 00 00\n"
                         "1041 0 %d 0 | 01 00 9d ff 9d ff 9d ff\n"
                         "12 2 0 0 | 02 00 00 00 20 00 00 00\n"
                         "1041 0 %d 0 | 01 00 9c ff 9d ff 9d ff\n"
                         "12 2 0 0 | 03 00 00 00 20 00 00 00\n"
                         "1041 0 %d 0 | 01 00 9d ff 9d ff 9d ff\n"
                         "12 2 0 0 | 04 00 00 00 20 00 00 00\n",
                         xa, xa, xa, xa));
  // A matrix: two pairs; blanks inside are passed over.
  parse("type m(1:, :3) m( i+1 , 2 )");  // i is unknown
  EXPECT_EQ(err(), "ERROR 182");
  EXPECT_EQ(parse("type m(1:, :3) m( a+1 , 2 )"), 4);
  EXPECT_EQ(W(1), fmt("1081 0 %d 0 | 01 00 9c ff 9d ff 02 00", ma));
  EXPECT_EQ(W(4), fmt("1081 0 %d 0 | 01 00 9d ff 05 00 9d ff", ma));
  EXPECT_EQ(wrdtab[5].type, WT_GROUP);  // the item a+1, ordered
  EXPECT_EQ(wrdtab[5].depth, 2);
  EXPECT_TRUE(grpord(5));
  // Solids take three pairs; a pointer variable and declare lines six slots.
  EXPECT_EQ(parse("type sol(1:2,3:4,5:6) p(1,2,3)"), 4);
  EXPECT_EQ(wrdtab[1].type, 0x1401);
  EXPECT_EQ(parse("type sol(1,2,3,4)"), 0);
  EXPECT_EQ(err(), "ERROR   5 (arg 2)");
  EXPECT_EQ(parse("declare array q(1,2,3)"), 34);
  EXPECT_EQ(table(), "2000 0 34 0 | 00 00 00 00 00 00 00 00\n"
                     "2000 0 38 1 | 00 00 00 00 00 00 00 00\n"
                     "20 2 5 0 | 61 72 72 61 79 00 00 00\n"
                     "2009 0 1 3 | 02 00 03 00 04 00 9d ff\n"
                     "20 2 1 0 | 71 00 00 00 00 00 00 00\n"
                     "12 2 0 0 | 01 00 00 00 20 00 00 00\n"
                     "12 2 0 0 | 02 00 00 00 20 00 00 00\n"
                     "12 2 0 0 | 03 00 00 00 20 00 00 00\n");
  EXPECT_EQ(parse("declare array q(1,2,3,4,5,6,7)"), 0);
  EXPECT_EQ(err(), "ERROR   5 (arg 3)");
  // An argument list: one slot per item; from a fifth item on, a 0x4001
  // entry is chained from the fourth slot; a list of four keeps it.
  EXPECT_EQ(parse("type max(1,2,3,4)"), 4);
  EXPECT_EQ(W(1), "2001 0 209 4 | 01 00 02 00 03 00 04 00");
  EXPECT_EQ(parse("type max(1,2,3,4,5,6,7)"), 4);
  EXPECT_EQ(table(), "2000 0 4 0 | 00 00 00 00 00 00 00 00\n"
                     "2001 0 209 7 | 02 00 03 00 04 00 01 00\n"
                     "4001 2 0 0 | 04 00 05 00 06 00 07 00\n"
                     "12 2 0 0 | 01 00 00 00 20 00 00 00\n"
                     "12 2 0 0 | 02 00 00 00 20 00 00 00\n"
                     "12 2 0 0 | 03 00 00 00 20 00 00 00\n"
                     "12 2 0 0 | 04 00 00 00 20 00 00 00\n"
                     "12 2 0 0 | 05 00 00 00 20 00 00 00\n"
                     "12 2 0 0 | 06 00 00 00 20 00 00 00\n"
                     "12 2 0 0 | 07 00 00 00 20 00 00 00\n"
                     // a function call that begins a command's argument is
                     // evaluated as an expression: its group
                     "1 0 -9 0 | 01 09 00 00 00 00 00 00\n");
  EXPECT_TRUE(linksok());
  EXPECT_EQ(parse("type max(1,2,3,4,5,6,7,8)"), 4);
  EXPECT_EQ(W(2), "4001 2 0 0 | 05 00 06 00 07 00 01 00");
  EXPECT_EQ(W(3), "4001 2 0 0 | 07 00 08 00 9d ff 9d ff");
  EXPECT_TRUE(linksok());
  // Empty items; an empty list has no item.
  EXPECT_EQ(parse("type max(,2) max()"), 4);
  EXPECT_EQ(W(1), "2001 0 209 2 | 9d ff 01 00 9d ff 9d ff");
  EXPECT_EQ(W(3), "2001 0 209 0 | 9d ff 9d ff 9d ff 9d ff");
  // A braced list reads as the parenthesised list 1,2,3.
  EXPECT_EQ(parse("type {1 2  3} 4"), 4);
  EXPECT_EQ(W(1), "2001 0 103 3 | 01 00 02 00 03 00 9d ff");
  EXPECT_EQ(std::string(linbuf), "type (1,2, 3) 4");
  EXPECT_EQ(nargw, 3);
  // "if", "while" and "repeat" carry their condition, blanks or not.
  EXPECT_EQ(parse("while (a < 3) {"), 10);
  EXPECT_EQ(args(), (std::vector<int>{0, 5}));
  EXPECT_EQ(W(0), "2001 0 10 1 | 01 00 9d ff 9d ff 9d ff");
  EXPECT_EQ(parse("if(a) type a"), 6);
  EXPECT_EQ(nargw, 3);
  // A command word other than those takes no list across a blank.
  EXPECT_EQ(parse("type (a + b) c"), 4);
  EXPECT_EQ(nargw, 3);
  EXPECT_EQ(wrdtab[1].type, WT_GROUP);
}

TEST_F(Parse, GluedTextFormsOneArgumentInCommandMode) {
  // In command mode blanks separate arguments; glued text is one argument,
  // an expression group whose words lie one level deeper.
  EXPECT_EQ(parse("type a+b c", 0x0F), 4);
  EXPECT_EQ(args(), (std::vector<int>{0, 1, 5}));
  EXPECT_EQ(table(), "2000 0 4 0 | 00 00 00 00 00 00 00 00\n"
                     "1 0 1 0 | ff ff ff ff 00 00 00 00\n" +
                         fmt("1010 1 %d 0 | 00 00 00 00 00 00 00 00\n", addr("a")) +
                         "2000 1 116 0 | 00 00 00 00 00 00 00 00\n" +
                         fmt("1010 1 %d 0 | 00 00 00 00 00 00 00 00\n", addr("b")) +
                         fmt("1010 0 %d 0 | 00 00 00 00 00 00 00 00\n", addr("c")));
  // In expression mode every word is an argument of its own.
  EXPECT_EQ(parse("a=b+c", 0x0F), OP_ASSIGN);
  EXPECT_EQ(nargw, 5);
  // Without parse flag 16 a "-" starts a number.
  EXPECT_EQ(parse("type -3", 0x0F), 4);
  EXPECT_EQ(W(1), "12 0 0 0 | fd ff ff ff 20 00 00 00");
  EXPECT_EQ(parse("type -3", 0x1F), 4);
  EXPECT_EQ(wrdtab[1].type, WT_GROUP);
  // Inside parentheses the words run on across blanks.
  EXPECT_EQ(parse("type (a + b) c", 0x0F), 4);
  EXPECT_EQ(args(), (std::vector<int>{0, 1, 7}));
  // After "if" has its condition, the next word decides the mode again.
  EXPECT_EQ(parse("if (a) b = 1", 0x0F), 6);
  EXPECT_EQ(nargw, 4);
}

TEST_F(Parse, NumbersInEveryRadix) {
  struct {
    const char* text;
    double value;
    int kind, used;
  } cases[] = {
      {"12", 12, 32, 2},     {"10h", 16, 32, 3},   {"0ffh", 255, 32, 4}, {"101b", 5, 32, 4},
      {"17o", 15, 32, 3},    {"13q", 7, 32, 3},    {"19d", 19, 32, 3},   {"1.5", 1.5, 96, 3},
      {".25", 0.25, 96, 3},  {"-7", -7, 32, 2},    {"3.", 3, 96, 2},     {"12a", 12, 32, 2},
      {"2147399935", 2147399935.0, 32, 10},
  };
  for (const auto& c : cases) {
    double v = 0;
    int kind = 0;
    EXPECT_EQ(rdnum(&v, c.text, &kind), c.used) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(kind, c.kind) << c.text;
  }
  double v = 0;
  int kind = 0;
  for (const char* no : {"-", ".", ".x", "a1", "(", "", "-a"}) EXPECT_EQ(rdnum(&v, no, &kind), 0) << no;
  // A required kind makes a float.
  kind = 16;
  EXPECT_EQ(rdnum(&v, "3", &kind), 1);
  EXPECT_EQ(kind, 96);
  // Too large.
  state = 0;
  kind = 0;
  EXPECT_EQ(rdnum(&v, "2147399936", &kind), -1);
  EXPECT_TRUE(state & ST_ERROR);
  // The input base: hex digits need no suffix; "b" and "d" are digits.
  ibase = 16;
  kind = 0;
  EXPECT_EQ(rdnum(&v, "1b", &kind), 2);
  EXPECT_EQ(v, 27);
  EXPECT_EQ(rdnum(&v, "12d", &kind), 3);
  EXPECT_EQ(v, 0x12d);
  ibase = 2;
  EXPECT_EQ(rdnum(&v, "1012", &kind), 3);
  EXPECT_EQ(v, 5);
  ibase = 10;
}

TEST_F(Parse, CharacterHelpers) {
  EXPECT_EQ(chrpos('^', "~^%@#$"), 1);
  EXPECT_EQ(chrpos('x', "~^%@#$"), -1);
  int next = 0;
  EXPECT_EQ(igtnam("abc_1.d+2", &next), 7);
  EXPECT_EQ(next, '+');
  EXPECT_EQ(igtnam("1abc", &next), 0);
  EXPECT_EQ(igtnam("Abc", &next), 0);  // upper case starts no name
  EXPECT_EQ(igtnam("$x", &next), 2);
  EXPECT_EQ(igtnam("'a b' c", &next), 5);
  EXPECT_EQ(gobble("(a(b)c) d", 20, &next), 7);
  EXPECT_EQ(next, ' ');
  EXPECT_EQ(gobble("<x.img>{2}", 20, &next), 7);
  EXPECT_EQ(gobble("(open", 5, &next), 5);
  EXPECT_EQ(gobble("~name(1) x", 20, &next), 5);
  EXPECT_EQ(qotlen("'abc' d"), 3);
  EXPECT_EQ(qotlen("'a\\'c' d"), 4);
  EXPECT_EQ(qotlen("'open"), -1);
  char out[16];
  int pos = 1;
  EXPECT_EQ(unesc(out, sizeof out, "'a\\nb\\101\\7x' rest", '\'', &pos), 6);
  EXPECT_EQ(std::string(out, 6), std::string("a\nbA\7x"));
  EXPECT_EQ(pos, 13);
  // The output buffer is never overrun.
  pos = 0;
  EXPECT_EQ(unesc(out, 4, "abcdefgh", 0, &pos), 3);
  EXPECT_STREQ(out, "abc");
}

TEST_F(Parse, PreprocessorFlagsAndDefinedNames) {
  char line[LINBUF];
  auto pp = [&](const char* in, int flags) {
    std::snprintf(line, sizeof line, "%s", in);
    state = 0;
    int n = prepro(line, static_cast<int>(std::strlen(line)), LINBUF, flags);
    EXPECT_EQ(n, static_cast<int>(std::strlen(line)));
    return std::string(line);
  };
  EXPECT_EQ(pp("TYPE 'Keep ;' ; rest  ", 6), "type 'Keep ;'");
  EXPECT_EQ(pp("TYPE \"a\\\"B\" C", 4), "type \"a\\\"B\" c");
  EXPECT_EQ(pp("a;b", 4), "a;b");
  EXPECT_EQ(pp("x \t ", 0), "x");
  define("big", "a+b");
  define("twice", "big*2");
  define("sq", "\x01*\x01", 1);
  EXPECT_EQ(pp("type big", 7), "type a+b");
  EXPECT_EQ(pp("type twice", 7), "type a+b*2");      // scanned again
  EXPECT_EQ(pp("type 'big' BIG", 7), "type 'big' a+b");
  EXPECT_EQ(pp("type bigger", 7), "type bigger");
  EXPECT_EQ(pp("type sq(c)", 7), "type c*c");
  // A definition that uses itself never ends: error 84, the line empty.
  define("loop", "loop+1");
  EXPECT_EQ(pp("type loop", 7), "");
  EXPECT_TRUE(state & ST_ERROR);
  // Growth past the line buffer is an error, never an overflow.
  std::string t(200, 'z');
  define("long", t.c_str());
  EXPECT_EQ(pp("type long long", 7), "");
  EXPECT_TRUE(state & ST_ERROR);
  // A smaller buffer of the caller's is never overrun either.
  char small[40];
  std::memset(small, 0x5A, sizeof small);
  define("wide", "a+b+c+d");
  std::snprintf(small, 24, "type wide wide wide");
  state = 0;
  EXPECT_EQ(prepro(small, 19, 24, 7), 0);
  EXPECT_TRUE(state & ST_ERROR);
  for (size_t i = 24; i < sizeof small; i++) EXPECT_EQ(small[i], 0x5A);
  std::snprintf(small, 24, "type wide");
  state = 0;
  EXPECT_EQ(prepro(small, 9, 24, 7), 12);
  EXPECT_STREQ(small, "type a+b+c+d");
}

TEST_F(Parse, ReaderOfTextUnitsAndTheLibrary) {
  std::string path = ::testing::TempDir() + "pelix_rdline.txt";
  {
    std::ofstream f(path, std::ios::binary);
    f << "first line  \r\nsecond\rthird\n" << std::string(300, 'q') << "\nlast";
  }
  int u = openf(path.c_str(), 0x21, 512);
  ASSERT_GE(u, 5);
  char buf[LINBUF];
  EXPECT_EQ(rdline(u, buf, LINBUF), 10);
  EXPECT_STREQ(buf, "first line");
  EXPECT_EQ(rdline(u, buf, LINBUF), 6);
  EXPECT_STREQ(buf, "second");
  EXPECT_EQ(rdline(u, buf, LINBUF), 5);
  EXPECT_EQ(rdline(u, buf, LINBUF), LINBUF - 1);  // cut; the rest is passed over
  EXPECT_EQ(rdline(u, buf, LINBUF), 4);
  EXPECT_STREQ(buf, "last");
  EXPECT_EQ(rdline(u, buf, LINBUF), -1);  // the end: the unit is closed
  EXPECT_EQ(unitstream(u), nullptr);
  EXPECT_EQ(rdline(-1, buf, LINBUF), -1);
  state = ST_INTR;
  EXPECT_EQ(rdline(3, buf, LINBUF), -1);
  state = 0;
  std::remove(path.c_str());

  // A library macro: packed lines, a blank count, a block change and the end.
  path = ::testing::TempDir() + "pelix_rdlib.bin";
  std::vector<uint8_t> lib(3 * 1024, 0);
  size_t at = 1024;
  auto put = [&](const std::string& s) {
    lib[at++] = static_cast<uint8_t>(s.size() + 1);
    for (char c : s) lib[at++] = static_cast<uint8_t>(c);
  };
  put("type 1");
  put(std::string("\x01\x04", 2) + "type 2");
  lib[at] = 255;  // the rest of the block is unused
  at = 2048;
  put(std::string(250, 'w'));
  lib[at] = 0;
  {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(lib.data()), static_cast<std::streamsize>(lib.size()));
  }
  u = openf(path.c_str(), 0x01, 1024);
  ASSERT_GE(u, 5);
  libfls();
  uint32_t pos[3] = {1024, 1024, 3000};
  EXPECT_EQ(rdlibl(u, pos, buf, LINBUF), 6);
  EXPECT_STREQ(buf, "type 1");
  EXPECT_EQ(rdlibl(u, pos, buf, LINBUF), 10);
  EXPECT_STREQ(buf, "    type 2");
  EXPECT_EQ(rdlibl(u, pos, buf, LINBUF), LINBUF - 1);  // cut to 239
  EXPECT_EQ(pos[0], 2048u + 251u);
  EXPECT_EQ(rdlibl(u, pos, buf, LINBUF), -2);  // the end byte
  // The end position ends the macro as well.
  pos[0] = 1024;
  pos[2] = 1031;
  EXPECT_EQ(rdlibl(u, pos, buf, LINBUF), 6);
  EXPECT_EQ(rdlibl(u, pos, buf, LINBUF), -2);
  closef(u, 0);
  std::remove(path.c_str());
}

TEST_F(Parse, ClassifierOfTheFlowControlScanners) {
  std::string path = ::testing::TempDir() + "pelix_readky.txt";
  {
    std::ofstream f(path);
    f << "label 12\n} else {\nwhile (a) { ; note\nhelp topic\nlab 3\n";
  }
  int u = openf(path.c_str(), 0x21, 512);
  ASSERT_GE(u, 5);
  int n = 0;
  EXPECT_EQ(readky(u, 1, &n), 1);
  EXPECT_EQ(n, 12);
  EXPECT_EQ(readky(u, 1, &n), 2 + 4);
  EXPECT_EQ(readky(u, 0, &n), 4);
  EXPECT_EQ(readky(u, -1, &n), 1);
  EXPECT_EQ(readky(u, 1, &n), 0);  // "lab" is not "label"
  EXPECT_EQ(readky(u, 1, &n), -1);
  std::remove(path.c_str());
}

TEST_F(Parse, HeadsWithWordsAfterTheirBraceOpenABlockForTheScanners) {
  // The scanners' class agrees with the parse that the head refuses: a "{"
  // that the line does not close, with words after it.
  struct Case {
    const char* line;
    bool refused;
    int cls;
  } cases[] = {
      {"while (n < 3) { n = n + 1", true, 4},
      {"if (1) { ftype \"x\\n\"", true, 4},
      {"  rep (2) { n = n + 1", true, 4},
      {"IF (a == \"(\") { type a", true, 4},
      {"if (1) { type a {", true, 4},
      {"if (c) { type n }", false, 0},
      {"if (c) {", false, 4},
      {"while (c) {   ; a note", false, 4},
      {"} else { type a", false, 6},
      {"type { a", false, 0},
      {"ifx (c) { a", false, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wrdhead(c.line), c.refused) << c.line;
    EXPECT_EQ(lincls(c.line), c.cls) << c.line;
    if (std::strncmp(c.line, "ifx", 3) == 0 || c.line[0] == '}' || c.line[0] == 't') continue;
    parse(c.line, 0x1F);
    ASSERT_FALSE(state & ST_ERROR) << c.line;
    bool parsed = nargw >= 3 && wrdtab[argmap[1]].type == WT_CMD && wrdtab[argmap[1]].v1 == OP_LBRACE;
    EXPECT_EQ(parsed, c.refused) << c.line;
  }
}

TEST_F(Parse, ABraceBeforeARedirectionOpensABlockForTheScanners) {
  // The "{" of "type {" opens its block whatever target its output goes to;
  // a ">" that is no redirection of a "{" leaves the line as it is.
  const struct {
    const char* line;
    int cls;
  } cases[] = {
      {"type { > \"zq.txt\"", 4},      {"  type {>> 'a b>c.txt'", 4},
      {"type { >> zqout", 4},           {"type { > \"a;b\"   ; a note", 4},
      {"} else { > \"f\"", 6},         {"type \"{\" > \"f\"", 0},
      {"type {1 2} > \"f\"", 0},        {"x = a > b", 0},
      {"type { >= b", 0},               {"type { -> b", 0},
      {"type { > ", 0},                 {"ftype \"%d\" { > zq > \"f\"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(lincls(c.line), c.cls) << c.line;
  // The parse agrees: the "{" is the word before the redirection.
  EXPECT_EQ(parse("type { > \"zq.txt\"") & ~0x2000, CM_TYPE);
  ASSERT_EQ(nargw, 4);
  EXPECT_EQ(wrdtab[argmap[1]].v1, OP_LBRACE);
}

TEST_F(Parse, StoresThroughAMacroArgumentOtherThanAValueAreRefused) {
  for (const char* line : {"$1(1) = 7", "$1 (1) = 78", "$2 [0] = 1", "$1++", "$1 --", "$1 += 2", "$1 -= 2",
                           "$1(0) *= 3", "$1 /= 2", "$1 %= 2", "$1 **= 2", "$1 <<= 1", "$1 |= 4"}) {
    parse(line);
    EXPECT_EQ(err(), "ERROR  58 (arg 1)") << line;
    EXPECT_FALSE(margst) << line;
  }
  // A value is the one store; a comparison or other words store nothing.
  for (const char* line : {"$1 = 9", "$3=2"}) {
    parse(line);
    EXPECT_EQ(err(), "") << line;
    EXPECT_TRUE(margst) << line;
  }
  for (const char* line : {"$1 == 2", "$1 <= 2", "$1 >= 2", "$1 != 2", "$1 - 1", "$ anything"}) {
    EXPECT_EQ(parse(line), CM_DOLLAR) << line;
    EXPECT_EQ(err(), "") << line;
  }
}

TEST_F(Parse, AnUnknownNameAloneInAConditionIsOne) {
  for (const char* line : {"if (zqundef) {", "while (zqundef) {", "repeat (zqundef) {", "if (zqundef) type 1"}) {
    parse(line);
    EXPECT_EQ(err(), "ERROR 182") << line;
  }
  for (const char* line : {"if (n) {", "if (\"zq\") {", "type zqundef"}) {
    parse(line);
    EXPECT_EQ(err(), "") << line;
  }
}

TEST_F(Parse, FlowLinesRefusedBeforeTheyRunAndTheirArgument) {
  struct Case {
    const char* line;
    int form, arg, cls;
  } cases[] = {
      {"if (c) { type n }", HF_ONELINE, 3, 0},
      {"while (c) {}", HF_ONELINE, 3, 0},
      {"if (c) { type n", HF_WORDS, 3, 4},
      {"if (0) {ftype \"x\\n\"", HF_WORDS, 2, 4},
      {"while (k < 3) {k = k + 1", HF_WORDS, 2, 4},
      {"} else { type a }", HF_ELSELINE, 3, 2},
      {"} else { type a", HF_ELSEWORDS, 4, 6},
      {"}else{type a", HF_ELSEWORDS, 1, 6},
      {"}else{", HF_ELSEWORDS, 1, 6},
      {"} else{", HF_ELSEWORDS, 2, 6},
      {"}ELSE {", HF_ELSEWORDS, 1, 6},
      {"}   else   {", HF_NONE, 0, 6},
      {"} else {", HF_NONE, 0, 6},
      {"} else { ; a note", HF_NONE, 0, 6},
      {"if (c) {", HF_NONE, 0, 4},
      {"if (a == \"}\") {", HF_NONE, 0, 4},
      {"} foo { a", HF_NONE, 0, 2},
      {"x = {1, 2}", HF_NONE, 0, 0},
  };
  for (const Case& c : cases) {
    int arg = 0;
    EXPECT_EQ(headform(c.line, &arg), c.form) << c.line;
    if (c.form != HF_NONE) {
      EXPECT_EQ(arg, c.arg) << c.line;
    }
    EXPECT_EQ(lincls(c.line), c.cls) << c.line;
  }
  // A line that could not be read: a head opens a block (a typed loop's
  // replayed head ends with "!"), an if alone guards the next line.
  const struct {
    const char* line;
    int form, code;
  } fails[] = {
      {"if (zz < 3) {", HF_FAILBLK, CM_IF},       {"whi (1 {", HF_FAILBLK, CM_WHILE},
      {"repeat (zz + 1) !", HF_FAILBLK, CM_REPEAT}, {"if (zz + 1)", HF_FAILONE, CM_IF},
      {"if (zz + 1) type 1", HF_NONE, CM_IF},     {"type zz +", HF_NONE, 0},
  };
  for (const auto& f : fails) {
    int code = -1;
    EXPECT_EQ(failform(f.line, &code), f.form) << f.line;
    EXPECT_EQ(code, f.code) << f.line;
  }
}

TEST_F(Parse, RandomLinesKeepTheTableConsistent) {
  // Lines made of the language's characters and words: whatever the parser
  // and the ordering make of them, every index stays inside the table.
  const char* bits[] = {"a", "b", "x", "m", "s", "zz", "help", "max", "sin", "if", "type", "rem",
                        "(", ")", "[", "]", "{", "}", ",", ":", "+", "-", "*", "/", "=", "==",
                        "<", ">", "!", "&", "|", "?", "'q w'", "\"e\\n\"", "#", "$", "%", "^",
                        "@", "~", "<f>", "1", "2.5", "10h", " ", " ", " ", ";", ".", "_"};
  const int nb = static_cast<int>(sizeof bits / sizeof bits[0]);
  uint32_t seed = 12345;
  auto rnd = [&](int n) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 16) % static_cast<uint32_t>(n));
  };
  for (int t = 0; t < 20000; t++) {
    std::string line;
    int words = 1 + rnd(24);
    for (int i = 0; i < words; i++) line += bits[rnd(nb)];
    int flags = rnd(4) == 0 ? 0x0F : 0x1F;
    parse(line.c_str(), flags);
    ASSERT_GE(nwords, 0) << line;
    ASSERT_LE(nwords, NWORDS) << line;
    ASSERT_LE(nargw, MAXARG) << line;
    if (state & ST_ERROR) continue;
    for (int a = 0; a < nargw; a++) {
      ASSERT_GE(argmap[a], 0) << line;
      ASSERT_LT(argmap[a], nwords) << line;
    }
    ASSERT_TRUE(linksok()) << line;
    for (int e = 0; e < nwords; e++) {
      if (!grpord(e)) continue;
      for (int i = 0; i < wrdtab[e].b[0]; i++) {
        int it = grpitem(e, i);
        ASSERT_GE(it, 0) << line;
        ASSERT_LT(it, nwords) << line;
      }
    }
  }
}
