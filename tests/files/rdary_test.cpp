// Reading lines of numbers and text into variables, and the field splitter.
#include "files/rdary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/element.h"
#include "core/memory.h"
#include "core/state.h"
#include "core/varbl.h"

namespace {

class Rdary : public ::testing::Test {
 protected:
  void SetUp() override {
    MakStk();
    rststk();
    state = 0;
    aflags = 0;
  }
  void TearDown() override {
    state = 0;
    rststk();
  }
  static std::vector<float> values(PtrRec* r) {
    std::vector<float> v;
    int32_t cnt, part, tot, ws;
    gtvarb(r, &cnt, &part, &tot, &ws, 0);
    for (int32_t i = 0; i < cnt; i++) {
      if (i >= part) LDVARB(r, &part, i);
      v.push_back(static_cast<float>(GSTACK(r)));
    }
    return v;
  }
  static std::string text(PtrRec* r) {
    return std::string(static_cast<char*>(stkptr(static_cast<int32_t>(r->Addr))),
                       static_cast<size_t>(r->Length));
  }
  static std::vector<std::string> elements(PtrRec* r) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < r->Offs[3]; i++) {
      int32_t len = 0;
      const uint8_t* p = lstptr(r, static_cast<int32_t>(i), &len, 0);
      out.emplace_back(p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len))
                         : std::string("<none>"));
    }
    return out;
  }
};

TEST_F(Rdary, FieldsAreNumbersOrWords) {
  float v[8];
  int t[8];
  const char* line = "3 4 x,-2.5e1;y 1e+5";
  int n = txtfld(line, static_cast<int>(std::strlen(line)), v, t, 8);
  ASSERT_EQ(n, 5);
  EXPECT_EQ(t[0], 16);
  EXPECT_EQ(v[0], 3.0f);
  EXPECT_EQ(v[1], 4.0f);
  EXPECT_EQ(t[2], 32);
  EXPECT_EQ(v[2], 4.0f);  // the word's start offset
  EXPECT_EQ(t[3], 32);    // "-2.5e1;y" is one run of bytes above 44
  EXPECT_EQ(t[4], 16);    // an exponent's "+" stays in its field
  EXPECT_EQ(v[4], 100000.0f);
  // A "+" separates unless an "e" after a digit or a point precedes it.
  const char* l2 = "1.5e+03,2.e+1 e+5 x1e+2 1+2";
  n = txtfld(l2, static_cast<int>(std::strlen(l2)), v, t, 8);
  ASSERT_EQ(n, 7);
  EXPECT_EQ(v[0], 1500.0f);
  EXPECT_EQ(v[1], 20.0f);
  EXPECT_EQ(t[2], 32);  // "e"
  EXPECT_EQ(v[3], 5.0f);
  EXPECT_EQ(t[4], 32);  // "x1e+2" is a word
  EXPECT_EQ(v[5], 1.0f);
  EXPECT_EQ(v[6], 2.0f);
  EXPECT_EQ(txtfld("1 2 3 4", 7, v, t, 2), 2);  // never more than max
  EXPECT_EQ(txtfld("-.5 . -", 7, v, t, 8), 3);
  EXPECT_EQ(v[0], -0.5f);
  EXPECT_EQ(t[1], 32);
  EXPECT_EQ(t[2], 32);
}

TEST_F(Rdary, NumbersUpToAnEmptyLineOrABrace) {
  PtrRec* r = rdary(0, K_ARRAY, 0, nullptr, 0, "3 4 x\n5\n\n6\n");
  ASSERT_NE(r, nullptr);
  auto v = values(r);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0], 3.0f);
  EXPECT_EQ(v[1], 4.0f);
  EXPECT_TRUE(ismiss(v[2]));
  EXPECT_EQ(v[3], 5.0f);
  // With a count a line ending in "}" ends the input; an empty line does not.
  r = rdary(0, K_ARRAY, W_SHORT, nullptr, 103, "1 2\n\n3 4}\n9\n");
  v = values(r);
  EXPECT_EQ(v, (std::vector<float>{1, 2, 3, 4}));
  EXPECT_EQ(r->Wsiz, W_SHORT);
  // A matrix takes its row width from the first row.
  r = rdary(0, K_MATRIX, 0, nullptr, 1, "1 2 3\n4 5\n6 7 8 9\n}\n");
  EXPECT_EQ(r->Datdims[0], 3u);
  EXPECT_EQ(r->Datdims[1], 3u);
  EXPECT_EQ(values(r), (std::vector<float>{1, 2, 3, 4, 5, 0, 6, 7, 8}));
  // A single number lives in the record; nothing entered gives Length 0.
  r = rdary(0, K_NUMBER, 0, nullptr, -1, "7.5 8");
  EXPECT_EQ(r->Flg, K_CONST);
  EXPECT_EQ(values(r), (std::vector<float>{7.5f}));
  r = rdary(0, K_ARRAY, 0, nullptr, 0, "\n1\n");
  EXPECT_LT(r->Length, 1);
  r = rdary(0, K_ARRAY, 0, nullptr, 0, "1\n\x1b\n2\n");
  EXPECT_EQ(values(r), (std::vector<float>{1}));
}

TEST_F(Rdary, TextPlainAndAsList) {
  PtrRec* r = rdary(0, K_STRING, 0, nullptr, 0, "first\nsecond  \t\n\nthird");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Flg, K_STRING);
  EXPECT_EQ(text(r), "first\nsecond");
  // One line, cut to the limit.
  r = rdary(0, K_STRING, 0, nullptr, -4, "abcdef\nnext");
  EXPECT_EQ(text(r), "abcd");
  // Quoted lines lose their quotes and have their escapes resolved; a lone
  // backslash is a blank line; "\}" keeps the brace as data.
  r = rdary(0, K_STRING | K_LIST, 0, nullptr, 1,
            "abc\n\"x\\ty\"\n\\\n\" lead\"\nkeep\\}\n'q'\nlast}\nafter\n");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Flg, K_STRING | K_LIST);
  EXPECT_EQ(elements(r),
            (std::vector<std::string>{"abc", "x\ty", "", " lead", "keep }", "q", "last"}));
  // A list's Length is its element count (not its characters): the element
  // access of a record of no variable takes the list's total from it.
  EXPECT_EQ(r->Length, 7);
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  EXPECT_EQ(tot, 7);
  EXPECT_EQ(part, 3);  // the first element, "abc", is addressable
  // An empty list; one empty answer line enters nothing either, a quoted
  // empty line is one empty element.
  r = rdary(0, K_STRING | K_LIST, 0, nullptr, 1, "}\n");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Length, 0);
  r = rdary(0, K_STRING | K_LIST, 0, nullptr, -80, "\nnext\n");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Length, 0);
  r = rdary(0, K_STRING | K_LIST, 0, nullptr, -80, "\"\"\n");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Length, 1);
}

TEST_F(Rdary, VectorListOneRecordALine) {
  // The lines dump writes for a list of vectors: "{ %v }" each, then "}".
  // The inner braces do not end the block; each line is one 8-byte record
  // (x, y, z as 16 bits, code and width in byte 6, colour in byte 7).
  PtrRec* r = rdary(0, K_VECTOR | K_MATRIX, W_VEC, nullptr, 1,
                    "{       10    -20     30\t 5  3 200 }\n"
                    "  {   -32767  32767      0\t15 15 255 }\n"
                    "\n"
                    "{ 1 2 }\n"
                    "}\n"
                    "{ 9 9 9 9 9 9 }\n");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Flg, K_VECTOR | K_MATRIX);
  EXPECT_EQ(r->Wsiz, W_VEC);
  ASSERT_EQ(r->Length, 3);
  EXPECT_EQ(r->Datdims[0], 8u);
  EXPECT_EQ(r->Datdims[1], 3u);
  const auto* d = static_cast<const uint8_t*>(stkptr(static_cast<int32_t>(r->Addr)));
  ASSERT_NE(d, nullptr);
  const uint8_t want[24] = {10, 0,    0xEC, 0xFF, 30, 0, 0x35, 200,  //
                            0x01, 0x80, 0xFF, 0x7F, 0, 0, 0xFF, 255,  //
                            1, 0, 2, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(d, want, sizeof want), 0);

  // A last line with data before its brace is the last record; another
  // kind keeps the brace rule, so "{" is a word there.
  r = rdary(0, K_VECTOR | K_MATRIX, W_VEC, nullptr, 1, "{ 4 5 6 }\n7 8 9 }\n{ 1 }\n");
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->Length, 2);
  d = static_cast<const uint8_t*>(stkptr(static_cast<int32_t>(r->Addr)));
  EXPECT_EQ(d[8], 7);
  EXPECT_EQ(d[12], 9);
  r = rdary(0, K_ARRAY, 0, nullptr, 1, "{ 4 5 }\n6 }\n");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Length, 3);
}

}  // namespace
