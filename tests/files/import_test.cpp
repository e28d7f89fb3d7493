// The field scanners of import and parse: the token before a terminator,
// fields with and without quotes, and classified fields with kept
// separators.
#include "files/import.h"

#include <gtest/gtest.h>

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
