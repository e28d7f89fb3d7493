// The field scanners of import and parse: the token before a terminator,
// fields with and without quotes, and classified fields with kept
// separators.
#include "files/import.h"
#include "files/linerd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string tok(const char* text, const char* terms, int quote) {
  int start = -1;
  int n = nxttok(text, static_cast<int>(std::strlen(text)), terms, &start, quote);
  return std::to_string(start) + ":" + std::string(text + start, static_cast<size_t>(n));
}

std::vector<std::string> split(std::string text, const char* seps, int quote) {
  std::vector<int32_t> tab;
  // Counting alone gives the same count, and leaves the text alone.
  std::string copy = text;
  int c = impfld(copy.data(), static_cast<int>(copy.size()), nullptr, seps, quote);
  EXPECT_EQ(copy, text);
  int n = impfld(text.data(), static_cast<int>(text.size()), &tab, seps, quote);
  EXPECT_EQ(c, n) << copy;
  std::vector<std::string> out;
  for (int i = 0; i < n; i++)
    out.emplace_back(text.substr(static_cast<size_t>(tab[2 * i]), static_cast<size_t>(tab[2 * i + 1])));
  return out;
}

using V = std::vector<std::string>;

TEST(Import, TokenBeforeTheFirstTerminator) {
  EXPECT_EQ(tok("1,2,3;comment", ";\n", 1), "0:1,2,3");
  EXPECT_EQ(tok("  \t 4 5", ";\n", 1), "4:4 5");  // from the first byte above the blank
  EXPECT_EQ(tok("\"a;b\";c", ";", 1), "0:\"a;b\"");  // a terminator inside quotes
  EXPECT_EQ(tok("'a\\';b';c", ";", 1), "0:'a\\';b'");  // a backslash skips the quote
  EXPECT_EQ(tok("\"a;b\";c", ";", 0), "0:\"a");      // quote mode 0: quotes are ordinary
  EXPECT_EQ(tok("   ", ";", 1), "0:");
  EXPECT_EQ(tok(" ;x", ";", 1), "1:");
  EXPECT_EQ(tok("no end", "", 1), "0:no end");
}

TEST(Import, FieldsSeparatorsAndQuotes) {
  EXPECT_EQ(split("1,,2", ",", 1), (V{"1", "2"}));  // no empty fields
  EXPECT_EQ(split(",, a \t b,", " \t,", 1), (V{"a", "b"}));
  EXPECT_EQ(split("\"x, y\",3", ",", 1), (V{"x, y", "3"}));
  EXPECT_EQ(split("\"x, y\",3", ",", 2), (V{"\"x, y\"", "3"}));
  EXPECT_EQ(split("\"x, y\",3", ",", 3), (V{"\"x, y\"", "3"}));
  EXPECT_EQ(split("\"x, y\",3", ",", 0), (V{"\"x", " y\"", "3"}));
  EXPECT_EQ(split("'a\\'b',c", ",", 1), (V{"a\\'b", "c"}));  // the backslash stays
  EXPECT_EQ(split("\"\",5", ",", 1), (V{"", "5"}));  // an empty quoted field is a field
  EXPECT_EQ(split("5'10\",x", ",", 1), (V{"5'10\"", "x"}));  // quotes inside a field are ordinary
  EXPECT_EQ(split("\"ab\"cd,e", ",", 1), (V{"abcd", "e"}));
  EXPECT_EQ(split("\"open, end", ",", 1), (V{"open, end"}));
  EXPECT_EQ(split("", ",", 1), (V{}));
  EXPECT_EQ(split("a b", "", 1), (V{"a b"}));
}

TEST(Import, ParseFieldsAndClasses) {
  int16_t t[300];
  // Default separators: a, b and c.
  ASSERT_EQ(splitf("a=b c", " \t,=", "", t, 100), 3);
  EXPECT_EQ(std::vector<int16_t>(t, t + 9), (std::vector<int16_t>{0, 1, 1, 2, 1, 1, 4, 1, 1}));
  // "=" kept: a field of its own whose class is its code.
  ASSERT_EQ(splitf("a=b c", " \t,=", "=", t, 100), 4);
  EXPECT_EQ(std::vector<int16_t>(t, t + 12), (std::vector<int16_t>{0, 1, 1, 1, 1, '=', 2, 1, 1, 4, 1, 1}));
  // Classes by the first character: digit, underscore or point, other.
  ASSERT_EQ(splitf("12ab _x .5 +y", " ", "", t, 100), 4);
  EXPECT_EQ(t[2], 2);
  EXPECT_EQ(t[1], 4);
  EXPECT_EQ(t[5], 3);
  EXPECT_EQ(t[8], 3);
  EXPECT_EQ(t[11], 0);
  // A kept character that is also a separator is still a field; the count
  // stops at the maximum.
  ASSERT_EQ(splitf(",,a,b", ",", ",", t, 3), 3);
  EXPECT_EQ(t[2], ',');
  EXPECT_EQ(t[5], ',');
  EXPECT_EQ(t[6], 2);
  EXPECT_EQ(splitf("", " ", "", t, 100), 0);
}

}  // namespace

namespace {

struct Line {
  std::string text;
  int64_t off;
};

// The lines LineRd reads from bytes s, and the bytes it looked at.
std::vector<Line> lines(const std::string& s, int64_t* scanned = nullptr) {
  FILE* f = std::tmpfile();
  std::fwrite(s.data(), 1, s.size(), f);
  std::rewind(f);
  LineRd rd(f, 0);
  std::vector<Line> out;
  char* l;
  int n;
  int64_t off;
  while (rd.next(&l, &n, &off)) out.push_back({std::string(l, static_cast<size_t>(n)), off});
  EXPECT_FALSE(rd.nomem());
  if (scanned) *scanned = rd.scanned();
  std::fclose(f);
  return out;
}

TEST(LineReader, EndsOffsetsAndPieceBoundaries) {
  auto v = lines("a\nbb\rccc\r\n\ndd");
  ASSERT_EQ(v.size(), 5u);
  EXPECT_EQ(v[0].text, "a");
  EXPECT_EQ(v[1].text, "bb");
  EXPECT_EQ(v[2].text, "ccc");
  EXPECT_EQ(v[2].off, 5);
  EXPECT_EQ(v[3].text, "");  // CR LF is one end: the LF after it ends an empty line
  EXPECT_EQ(v[3].off, 10);
  EXPECT_EQ(v[4].text, "dd");  // the last line needs no end
  // A CR LF split across the first 1 MiB piece is one line end; a line of
  // 3 MiB is read whole.
  std::string s(1 << 20, 'x');
  s[(1 << 20) - 1] = '\r';
  s += "\nnext\r";
  s += std::string(3 << 20, 'y') + "\rz";
  v = lines(s);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].text.size(), (1u << 20) - 1);
  EXPECT_EQ(v[1].text, "next");
  EXPECT_EQ(v[1].off, 1 << 20 | 1);
  EXPECT_EQ(v[2].text.size(), 3u << 20);
  EXPECT_EQ(v[3].text, "z");
}

TEST(LineReader, EachByteLookedAtOnceWhateverTheLineEnd) {
  // Lines ended by CR alone cost what lines ended by LF cost: one scan for
  // either end (not a scan for LF through the rest of the piece per line).
  for (const char* end : {"\n", "\r", "\r\n"}) {
    std::string s;
    for (int i = 0; i < 200000; i++) s += std::to_string(i) + ",1.5,2" + end;
    int64_t scanned = 0;
    auto v = lines(s, &scanned);
    ASSERT_EQ(v.size(), 200000u) << end[0];
    EXPECT_EQ(v[199999].text, "199999,1.5,2");
    EXPECT_LE(scanned, static_cast<int64_t>(s.size()) + 64) << "line end " << int(end[0]);
  }
}

TEST(LineReader, AShortFileAndOneThatGrowsWhileRead) {
  // A short file ending in CR (whether an LF follows is only known at the
  // end), read from an offset.
  auto v = lines("ab\r\nc\r");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[1].text, "c");
  EXPECT_EQ(v[1].off, 4);
  FILE* f = std::tmpfile();
  std::fputs("skip\nab\rc", f);
  std::fflush(f);
  std::fseek(f, 5, SEEK_SET);
  LineRd rd(f, 5);
  // The file grows after the reader has started: its new bytes, a line of
  // 3 MiB among them, are read whole.
  const std::string big(3 << 20, 'y');
  std::fseek(f, 0, SEEK_END);
  std::fputs(("d\n" + big + "\rz").c_str(), f);
  std::fflush(f);
  std::fseek(f, 5, SEEK_SET);
  char* l;
  int n;
  int64_t off;
  std::vector<std::string> got;
  while (rd.next(&l, &n, &off)) got.emplace_back(l, static_cast<size_t>(n));
  EXPECT_FALSE(rd.nomem());
  std::fclose(f);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], "ab");
  EXPECT_EQ(got[1], "cd");
  EXPECT_EQ(got[2].size(), big.size());
  EXPECT_EQ(got[3], "z");
}

// The lines a reader of lines of at most most bytes (0: the reader's own
// most) reads from s, and whether it stopped at a line too long.
std::vector<std::string> capped(const std::string& s, size_t most, bool* toolong) {
  FILE* f = fmemopen(const_cast<char*>(s.data()), s.size(), "r");
  EXPECT_NE(f, nullptr);
  std::vector<std::string> out;
  if (!f) return out;
  // most 0: the reader's own most.
  LineRd rd = most ? LineRd(f, 0, most) : LineRd(f, 0);
  char* l;
  int n;
  int64_t off;
  while (rd.next(&l, &n, &off)) out.emplace_back(l, static_cast<size_t>(n));
  *toolong = rd.toolong();
  EXPECT_FALSE(rd.nomem());
  // Nothing more once it stopped.
  EXPECT_FALSE(rd.next(&l, &n, &off));
  std::fclose(f);
  return out;
}

TEST(LineReader, ALineLongerThanTheMostEndsTheReading) {
  bool lng = false;
  // Lines of exactly the most bytes, with each kind of end, are read whole.
  for (const char* end : {"\n", "\r", "\r\n", ""}) {
    auto v = capped("ab\n" + std::string(10, 'x') + end + (*end ? "z" : ""), 10, &lng);
    EXPECT_FALSE(lng) << int(end[0]);
    ASSERT_EQ(v.size(), *end ? 3u : 2u);
    EXPECT_EQ(v[1], std::string(10, 'x'));
  }
  // One byte more is too long, whether its end follows, comes later or
  // never does: the lines before it are read, nothing after.
  for (const char* end : {"\n", "\r\n", "yyyy\n", ""}) {
    auto v = capped("ab\n" + std::string(11, 'x') + end + "z\n", 10, &lng);
    EXPECT_TRUE(lng) << end;
    EXPECT_EQ(v, (V{"ab"})) << end;
  }
  // Long lines within the most, read across pieces: a line of 3 MiB and
  // one of 1 MiB ended by CR LF.
  std::string s(3 << 20, 'y');
  s += "\n" + std::string(1 << 20, 'w') + "\r\nq";
  auto v = capped(s, 3 << 20, &lng);
  EXPECT_FALSE(lng);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].size(), 3u << 20);
  EXPECT_EQ(v[1].size(), 1u << 20);
  // A stream with no line end at all, as a device without end gives it:
  // the reader stops once the line passes the most, having read it once.
  FILE* z = std::fopen("/dev/zero", "r");
  ASSERT_NE(z, nullptr);
  LineRd rd(z, 0, 5 << 20);
  char* l;
  int n;
  int64_t off;
  EXPECT_FALSE(rd.next(&l, &n, &off));
  EXPECT_TRUE(rd.toolong());
  EXPECT_FALSE(rd.nomem());
  EXPECT_LE(ftello(z), (5 << 20) + (2 << 20));
  std::fclose(z);
}

TEST(LineReader, TheLongestLineIs64MiB) {
  ASSERT_EQ(LINEMAX, size_t{64} << 20);
  bool lng = false;
  std::string s(LINEMAX, 'x');
  s += "\nz";
  auto v = capped(s, 0, &lng);
  EXPECT_FALSE(lng);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].size(), LINEMAX);
  EXPECT_EQ(v[1], "z");
  s.insert(0, "x");
  v = capped(s, 0, &lng);
  EXPECT_TRUE(lng);
  EXPECT_TRUE(v.empty());
}

}  // namespace
