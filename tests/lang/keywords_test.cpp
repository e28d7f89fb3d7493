// The frozen keyword tables and keyword lookup.
#include "lang/keywords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

uint32_t fnv(const char* const* words, int n) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < n; i++) {
    std::string w = std::string(words[i]) + "\n";
    for (unsigned char c : w) {
      h ^= c;
      h *= 16777619u;
    }
  }
  return h;
}

int look(const char* w) {
  int len = static_cast<int>(std::strlen(w));
  return cmdlook(w, &len);
}

}  // namespace

TEST(Keywords, TablesAreFrozen) {
  // Compiled macros store these codes: the order of every table is pinned.
  ASSERT_EQ(cmdwds.size(), 232u);
  ASSERT_EQ(oprwds.size(), 28u);
  ASSERT_EQ(brdwds.size(), 16u);
  EXPECT_EQ(fnv(cmdwds.data(), NCMDWD), 0xaaca6757u);
  EXPECT_EQ(fnv(oprwds.data(), NOPRWD), 0xbc80681eu);
  EXPECT_EQ(fnv(brdwds.data(), NBRDWD), 0x9e89fea3u);
}

TEST(Keywords, CodesAtEveryRangeBoundary) {
  struct {
    const char* word;
    int code;
  } pins[] = {
      {"help", 1},      {"quit", 2},       {"if", 6},        {"declare", 34},  {"preproc", 67},
      {"log", 201},     {"sin", 203},      {"rem", 237},     {"getenv", 295},  {"wait", 301},
      {"system", 335},  {"digitize", 401}, {"fft", 407},     {"font", 501},    {"arc", 515},
      {"user3", 528},   {"cb_getconfig", 601}, {"xxx", 606},
  };
  for (const auto& p : pins) {
    EXPECT_EQ(look(p.word), p.code) << p.word;
    char out[24];
    EXPECT_EQ(cmdnam(p.code, out), static_cast<int>(std::strlen(p.word)));
    EXPECT_STREQ(out, p.word);
  }
  EXPECT_EQ(cmdcod(1), 1);
  EXPECT_EQ(cmdcod(67), 67);
  EXPECT_EQ(cmdcod(68), 201);
  EXPECT_EQ(cmdcod(162), 295);
  EXPECT_EQ(cmdcod(163), 301);
  EXPECT_EQ(cmdcod(197), 335);
  EXPECT_EQ(cmdcod(198), 401);
  EXPECT_EQ(cmdcod(204), 407);
  EXPECT_EQ(cmdcod(205), 501);
  EXPECT_EQ(cmdcod(232), 528);
  EXPECT_EQ(cmdcod(0), 0);
  EXPECT_EQ(cmdcod(233), 0);
  // Every command word maps to its code and back.
  for (int i = 1; i <= NCMDWD; i++) {
    int c = cmdcod(i);
    EXPECT_EQ(cmdidx(c), i);
    EXPECT_STREQ(cmdtxt(c), cmdwds[i - 1]);
  }
  // Codes between the ranges belong to no word.
  for (int c : {0, 68, 100, 129, 200, 296, 300, 336, 400, 408, 500, 529, 600, 617})
    EXPECT_EQ(cmdtxt(c), nullptr) << c;
  char out[24] = "junk";
  EXPECT_EQ(cmdnam(296, out), -1);
  EXPECT_STREQ(out, "");
  // Operators: "[" is 101, "?" 128; empty board slots have no word.
  EXPECT_STREQ(cmdtxt(101), "[");
  EXPECT_STREQ(cmdtxt(104), "}");
  EXPECT_STREQ(cmdtxt(115), "=");
  EXPECT_STREQ(cmdtxt(128), "?");
  EXPECT_STREQ(cmdtxt(607), "");
}

TEST(Keywords, AbbreviationsAndAmbiguity) {
  EXPECT_EQ(look("hel"), 1);
  EXPECT_EQ(look("he"), 1);
  EXPECT_EQ(look("re"), -2);      // read, return, release, repeat, ...
  EXPECT_EQ(look("h"), -1);       // one letter is never an abbreviation
  EXPECT_EQ(look("x"), -1);
  EXPECT_EQ(look("decl"), 34);
  EXPECT_EQ(look("helpx"), -1);   // longer than the keyword
  // An exact match wins over words it abbreviates further on.
  EXPECT_EQ(look("read"), 20);
  EXPECT_EQ(look("real"), 48);    // before "realtime"
  EXPECT_EQ(look("realt"), 323);
  EXPECT_EQ(look("menu"), 28);    // before "menuitem"
  EXPECT_EQ(look("menui"), 265);
  EXPECT_EQ(look("fil"), -2);     // file, filter, fill
  EXPECT_EQ(look("co"), -2);
  EXPECT_EQ(look("cb_digc"), 603);
  EXPECT_EQ(look("cb_dig"), -2);
  // Case matters: the line is folded before lookup.
  EXPECT_EQ(look("HELP"), -1);
  // The word is compared over its given length only.
  int len = 4;
  EXPECT_EQ(cmdlook("list a b", &len), 3);
}

TEST(Keywords, OperatorsTakeTheLongestMatchInTableOrder) {
  struct {
    const char* text;
    int code, len;
  } pins[] = {
      {">= 3", 120, 2}, {"> 3", 121, 1}, {">>out", 112, 2}, {"==b", 107, 2}, {"=b", 115, 1},
      {"!=", 124, 2},   {"!a", 125, 1},  {"++", 108, 2},    {"+1", 116, 1},  {"--", 109, 2},
      {"-1", 117, 1},   {"**2", 110, 2}, {"*2", 118, 1},    {"//", 111, 2},  {"/2", 119, 1},
      {"&&", 113, 2},   {"&", 126, 1},   {"||", 114, 2},    {"|", 127, 1},   {"?x", 128, 1},
      {"(", 105, 1},    {")", 106, 1},   {"[", 101, 1},     {"]", 102, 1},   {"{", 103, 1},
      {"}", 104, 1},    {"<=", 122, 2},  {"<", 123, 1},
  };
  for (const auto& p : pins) {
    int len = 0;
    EXPECT_EQ(cmdlook(p.text, &len), p.code) << p.text;
    EXPECT_EQ(len, p.len) << p.text;
  }
  int len = 0;
  EXPECT_EQ(cmdlook("`", &len), -1);
  EXPECT_EQ(cmdlook(",", &len), -1);
}

TEST(Keywords, LookupOverAnyTable) {
  const char* tab[] = {"alpha", "beta", "", "gamma"};
  int len = 2;
  EXPECT_EQ(lookup("be", &len, tab, 4, 1), 2);
  len = 2;
  EXPECT_EQ(lookup("be", &len, tab, 4, 0), -1);  // no abbreviation asked
  len = 5;
  EXPECT_EQ(lookup("gamma", &len, tab, 4, 1), -1);  // the empty entry ends the table
  len = 5;
  EXPECT_EQ(lookup("alpha", &len, tab, 1, 0), 1);
}

// The hashed look-up gives the table scan's answer for every keyword, every
// prefix of one, and texts that run past one.
TEST(Keywords, HashedLookupAgreesWithTheScan) {
  auto scan = [](const std::string& w) {
    int len = static_cast<int>(w.size());
    int i = lookup(w.c_str(), &len, cmdwds.data(), NCMDWD, 1);
    if (i > 0) return cmdcod(i);
    if (i == -2) return -2;
    len = static_cast<int>(w.size());
    i = lookup(w.c_str(), &len, brdwds.data(), NBRDWD, 1);
    return i > 0 ? i + CM_BOARD : i;
  };
  int checked = 0;
  for (const auto* table : {&cmdwds[0], &brdwds[0]}) {
    int n = table == &cmdwds[0] ? NCMDWD : NBRDWD;
    for (int k = 0; k < n; k++) {
      std::string w = table[k];
      for (size_t l = 1; l <= w.size() + 1; l++) {
        std::string p = l <= w.size() ? w.substr(0, l) : w + "x";
        ASSERT_EQ(look(p.c_str()), scan(p)) << p;
        checked++;
      }
    }
  }
  EXPECT_GT(checked, 1000);
  EXPECT_EQ(look("zzqq"), -1);
}
