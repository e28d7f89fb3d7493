// Symbol tables, defined strings and string variables.
#include "core/symbols.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/state.h"
#include "tests/support/interp.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// Runs f and tells whether it reported exactly the given error code.
template <class F>
::testing::AssertionResult reports(int code, F f) {
  state = 0;
  CaptureStdout();
  f();
  std::string out = GetCapturedStdout();
  bool err = state & ST_ERROR;
  state = 0;
  char want[16];
  snprintf(want, sizeof want, "ERROR %3d", code);
  if (err && out.find(want) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "wanted " << want << ", got \"" << out << "\"";
}

// True when the low stack's headed blocks lie back to back up to its end.
bool chainok() {
  int32_t a = lstk.lowest;
  while (a < lstk.end) {
    int32_t sz = int32_t(lowstk[a]);
    if (sz < 2) return false;
    a += sz;
  }
  return a == lstk.end;
}

class Symbols : public ::testing::Test {
 protected:
  void SetUp() override {
    freshinterp();
    bottom.keep();
    freew = lstk.freew;
    sys = mksystab();
    ASSERT_GT(sys, 0);
  }
  void TearDown() override {
    trcmsk = 0;
    state = 0;
    aflags = 0;
    // Pop the bottom area back to where the test found it.
    bottom.pop();
    EXPECT_EQ(stkbot(), bottom.mark);
    EXPECT_TRUE(chainok());
    EXPECT_EQ(lstk.freew, freew) << "a test left words taken";
  }

  static int32_t put(const char* name, int flags = 0x1010, int32_t data = 0, uint32_t value = 0,
                     int type = 96) {
    return putsym(0, name, int(strlen(name)), flags, data, value, type);
  }
  static int32_t find(const char* name, int outer = 1, uint16_t* fl = nullptr) {
    return GETSYM(name, int(strlen(name)), fl, outer);
  }
  // A macro level's table, as a macro call makes it.
  static int32_t push() {
    int32_t t = maktab(cursym);
    if (t > 0) cursym = defsym = t;
    return t;
  }
  static std::string text(int32_t desc) {
    char buf[2048];
    int n = GETCHV(desc, buf, sizeof buf, 1);
    return std::string(buf, size_t(n > 0 ? n : 0));
  }
  // A defined string: its text in a headed block, flags 8 + 1.
  static int32_t define(const char* name, const std::string& body, int nargs) {
    int32_t blk = 0;
    if (getstk(&blk, int32_t(body.size()), 1, 1, 0) < 1) return 0;
    memcpy(stkptr(blk), body.data(), body.size());
    return put(name, 9, blk, uint32_t(body.size()), nargs);
  }
  static uint32_t owner(int32_t data) { return wordp(data - 2)[1] & BLK_OWNER; }

  int32_t freew = 0, sys = 0;
  Bottom bottom;
};

TEST_F(Symbols, TableAndEntryLayout) {
  const SymTab* h = tabptr(sys);
  EXPECT_EQ(h->count, 0u);
  EXPECT_EQ(h->link, 0);
  EXPECT_EQ(h->marker, 654321u);
  EXPECT_EQ(h->spare, 0u);
  EXPECT_EQ(cursym, sys);
  EXPECT_EQ(syssym, sys);
  EXPECT_EQ(glbsym, sys);
  EXPECT_EQ(defsym, sys);

  int32_t a = put("alpha", 0x1021, 0, 77, 8);
  int32_t b = put("b");
  int32_t c = put("c");
  EXPECT_EQ(a, sys + 4);
  EXPECT_EQ(b, sys + 10);
  EXPECT_EQ(c, sys + 16);
  EXPECT_EQ(tabptr(sys)->count, 3u);
  EXPECT_EQ(stkbot(), sys + 22);

  // The entry's bytes in the word memory: value, data, flags, length, type, name.
  const uint32_t* w = lowstk + a;
  EXPECT_EQ(w[0], 77u);
  EXPECT_EQ(w[1], 0u);
  EXPECT_EQ(w[2], 0x1021u | (5u << 16) | (8u << 24));
  EXPECT_EQ(memcmp(w + 3, "alpha\0\0\0\0\0\0\0", 12), 0);

  char buf[16];
  EXPECT_EQ(symnam(a, buf, sizeof buf), 5);
  EXPECT_STREQ(buf, "alpha");
  EXPECT_EQ(symnam(a, buf, 3), 3);
  EXPECT_EQ(memcmp(buf, "alp", 3), 0);
}

TEST_F(Symbols, LookupSeesTheRightLevels) {
  int32_t sg = put("g");
  int32_t sloc = put("loc");
  put("pub", 0x1011);
  int32_t sx = put("x");  // a system name without flag 1: still seen everywhere

  int32_t A = push();
  int32_t aloc = put("loc");           // local to A
  int32_t apub = put("pub", 0x1011);   // visible from inner levels
  int32_t amine = put("mine");

  int32_t B = push();
  int32_t bg = put("g");  // shadows the system's g, local to B
  EXPECT_EQ(tabptr(B)->link, A);

  uint16_t fl = 0;
  EXPECT_EQ(find("g"), bg);
  EXPECT_EQ(find("pub", 1, &fl), apub);
  EXPECT_EQ(fl, 0x1011);
  EXPECT_EQ(find("loc"), sloc) << "a calling macro's local name must not be visible";
  EXPECT_EQ(find("mine"), -1);
  EXPECT_EQ(find("x"), sx);
  // Without the outer search only the current table counts.
  EXPECT_EQ(find("g", 0), bg);
  EXPECT_EQ(find("pub", 0), -1);
  EXPECT_EQ(find("x", 0), -1);

  // Two levels down: flag-1 names of every caller, locals of none.
  int32_t C = push();
  EXPECT_EQ(find("pub"), apub);
  EXPECT_EQ(find("g"), sg) << "B's local g must not shadow the system's for C";
  EXPECT_EQ(find("loc"), sloc);

  // Back in A: its own names whole.
  cursym = defsym = A;
  EXPECT_EQ(find("loc"), aloc);
  EXPECT_EQ(find("mine"), amine);
  EXPECT_EQ(find("g"), sg);
  (void)C;

  // A broken link ends the search instead of wandering.
  cursym = defsym = B;
  tabptr(A)->marker = 1;
  EXPECT_EQ(find("x"), -1);
  tabptr(A)->marker = SYMMARK;
  EXPECT_EQ(find("x"), sx);
}

TEST_F(Symbols, NamesAreCaseSensitiveAndExact) {
  int32_t upper = put("Abc");
  int32_t lower = put("abc");
  EXPECT_NE(upper, lower);
  EXPECT_EQ(find("Abc"), upper);
  EXPECT_EQ(find("abc"), lower);
  EXPECT_EQ(find("ABC"), -1);
  EXPECT_EQ(find("ab"), -1);
  EXPECT_EQ(find("abcd"), -1);
  EXPECT_EQ(GETSYM("abcd", 3, nullptr, 1), lower);
}

TEST_F(Symbols, TwelveCharacterNames) {
  int32_t a = put("abcdefghijkl");
  int32_t b = put("next", 0x1010, 0, 1234);
  ASSERT_GT(a, 0);
  EXPECT_EQ(find("abcdefghijkl"), a);
  EXPECT_EQ(memcmp(lowstk + a + 3, "abcdefghijkl", 12), 0);
  EXPECT_EQ(symptr(b)->value, 1234u) << "a 12-character name spilled into the next entry";
  char buf[13];
  EXPECT_EQ(symnam(a, buf, sizeof buf), 12);
  EXPECT_STREQ(buf, "abcdefghijkl");

  // Longer names are refused and change nothing.
  int32_t bot = stkbot();
  EXPECT_TRUE(reports(17, [] { EXPECT_EQ(put("abcdefghijklm"), 0); }));
  EXPECT_EQ(tabptr(sys)->count, 2u);
  EXPECT_EQ(stkbot(), bot);
  EXPECT_EQ(find("abcdefghijklm"), -1);
  EXPECT_TRUE(reports(15, [] { EXPECT_EQ(putsym(0, "x", 0, 0x1010, 0, 0, 96), 0); }));
}

TEST_F(Symbols, RemovalLeavesTheTableWhole) {
  int32_t a = put("a");
  int32_t s = put("s", 0x1021, 0, 0, 8);
  int32_t c = put("c");
  int32_t before = lstk.freew;
  PUTCHV(s, "some text", 9, 1);
  int32_t data = symptr(s)->data;
  ASSERT_GT(data, 0);

  delsym(s);
  EXPECT_EQ(find("s"), -1);
  EXPECT_EQ(find("a"), a);
  EXPECT_EQ(find("c"), c);
  EXPECT_EQ(tabptr(sys)->count, 3u);
  EXPECT_EQ(tabptr(sys)->marker, 654321u);
  EXPECT_EQ(lstk.freew, before) << "the string's block was not freed";
  EXPECT_TRUE(chainok());

  // The freed slot is reused before the table grows.
  int32_t bot = stkbot();
  EXPECT_EQ(put("d"), s);
  EXPECT_EQ(stkbot(), bot);
  EXPECT_EQ(put("e"), sys + 4 + 18);

  // A name entered into an earlier free slot is the one found.
  delsym(a);
  EXPECT_EQ(put("c", 0x1011), a);
  EXPECT_EQ(find("c"), a);
}

TEST_F(Symbols, PutsymRewritesAnEntryGivenByAddress) {
  int32_t a = put("a");
  int32_t b = put("b");
  delsym(a);
  // A free slot exists, but an entry in use named by address is rewritten
  // in place rather than duplicated.
  EXPECT_EQ(putsym(b, "b", 1, 0x1041, 0, 50, 8), b);
  EXPECT_EQ(symptr(b)->value, 50u);
  EXPECT_EQ(symptr(b)->flags, 0x1041);
  EXPECT_EQ(symptr(a)->flags, 0);
  EXPECT_EQ(tabptr(sys)->count, 2u);
}

TEST_F(Symbols, TableGrowth) {
  char name[8];
  std::vector<int32_t> ents;
  for (int i = 0; i < 100; i++) {
    snprintf(name, sizeof name, "v%d", i);
    ents.push_back(put(name));
    ASSERT_EQ(ents.back(), symadr(sys, i));
  }
  EXPECT_EQ(tabptr(sys)->count, 100u);
  EXPECT_EQ(stkbot(), sys + 4 + 600);
  for (int i = 0; i < 100; i++) {
    snprintf(name, sizeof name, "v%d", i);
    EXPECT_EQ(find(name), ents[size_t(i)]);
  }

  // An explicit address must be the slot right behind the last entry.
  int32_t bot = stkbot();
  int32_t w = 0;
  getstk(&w, 6, 4, 0, 0);
  EXPECT_TRUE(reports(49, [&] { EXPECT_EQ(putsym(bot + 2, "off", 3, 0x1010, 0, 0, 96), 0); }));
  EXPECT_EQ(putsym(bot, "on", 2, 0x1010, 0, 0, 96), bot);
  EXPECT_EQ(tabptr(sys)->count, 101u);

  // A table that is not the last thing in the bottom area cannot grow.
  int32_t A = push();
  cursym = defsym = sys;
  EXPECT_TRUE(reports(49, [] { EXPECT_EQ(put("late"), 0); }));
  EXPECT_TRUE(reports(50, [] { EXPECT_EQ(put("late", 8), 0); }));
  EXPECT_EQ(tabptr(A)->marker, 654321u);
  EXPECT_EQ(tabptr(sys)->count, 101u);
}

TEST_F(Symbols, GrowthWhileCompiling) {
  // A local table with room for two entries, then a word block in use.
  int32_t A = push();
  int32_t room = 0;
  getstk(&room, 16, 4, 0, 0);
  memset(stkptr(room), 0, 16 * 4);
  lowstk[room + 12 + 2] = 0x0101;  // the flags word of the slot after the room
  state = ST_COMPILE;
  int32_t bot = stkbot();
  EXPECT_EQ(put("x"), symadr(A, 0));
  EXPECT_EQ(put("y"), symadr(A, 1));
  EXPECT_EQ(stkbot(), bot) << "growth while compiling takes no words";
  EXPECT_EQ(tabptr(A)->count, 2u);
  EXPECT_TRUE(reports(49, [] {
    state = ST_COMPILE;
    EXPECT_EQ(put("z"), 0);
  }));
  EXPECT_EQ(tabptr(A)->count, 2u);
  // The definition table's full error has its own code.
  EXPECT_TRUE(reports(50, [] {
    state = ST_COMPILE;
    EXPECT_EQ(put("d", 8), 0);
  }));
}

TEST_F(Symbols, DefinitionTableWhileCompiling) {
  put("shared");
  int32_t A = push();
  int32_t alocal = put("both");
  // The compiler's define table: its own header, with A's link.
  int32_t D = maktab(tabptr(A)->link);
  int32_t room = 0;
  getstk(&room, 12, 4, 0, 0);
  memset(stkptr(room), 0, 12 * 4);
  defsym = D;
  state = ST_COMPILE;

  int32_t d1 = put("def", 8);  // flag 8: into the define table
  EXPECT_EQ(d1, symadr(D, 0));
  int32_t d2 = put("both", 8);
  EXPECT_EQ(d2, symadr(D, 1));
  EXPECT_EQ(tabptr(A)->count, 1u);

  EXPECT_EQ(find("def", 0), d1) << "the define table is searched second";
  EXPECT_EQ(find("both"), alocal) << "the current table comes first";
  aflags = 0x100;
  EXPECT_EQ(find("def"), -1);
  aflags = 0;
  state = 0;
  EXPECT_EQ(find("def"), -1) << "only while compiling";
}

TEST_F(Symbols, EntryOwnsItsDataBlock) {
  int32_t blk = 0;
  ASSERT_GT(getstk(&blk, 10, 4, 1, 0), 0);
  int32_t e = put("arr", 0x1043, blk, 10, 32);
  EXPECT_EQ(owner(blk), uint32_t(e + 1));
  // Rewriting the entry with its own block adds no reference.
  putsym(e, "arr", 3, 0x1043, blk, 10, 32);
  EXPECT_EQ(wordp(blk - 2)[1] >> BLK_REFSHIFT, 0u);

  int32_t blk2 = 0;
  ASSERT_GT(getstk(&blk2, 10, 4, 1, 0), 0);
  put("core", 0x1047, blk2, 10, 32);
  EXPECT_EQ(wordp(blk2 - 2)[1], 1u) << "flag 4: no owner recorded";
  EXPECT_EQ(symptr(put("neg", 0x1010, -5))->data, 0);

  delsym(e);
  putstk(blk2, 0, 0);
}

TEST_F(Symbols, StringVariables) {
  int32_t base = lstk.freew;
  int32_t s = put("s", 0x1021, 0, 0, 8);
  char buf[64];
  EXPECT_EQ(GETCHV(s, buf, 0, 1), 0);
  buf[0] = 'x';
  EXPECT_EQ(GETCHV(s, buf, 10, 1), 0);
  EXPECT_EQ(buf[0], 0);

  PUTCHV(s, "fifteen chars!!", 15, 1);
  const StrDesc* d = desptr(s);
  EXPECT_EQ(d->len, 15u);
  EXPECT_EQ(owner(d->data), uint32_t(s + 1));
  EXPECT_EQ(GETCHV(s, buf, 0, 1), 15);
  memset(buf, 'z', sizeof buf);
  EXPECT_EQ(GETCHV(s, buf, 10, 1), 9);
  EXPECT_STREQ(buf, "fifteen c");
  EXPECT_EQ(GETCHV(s, buf, 15, 1), 14);
  EXPECT_EQ(GETCHV(s, buf, 16, 1), 15);
  EXPECT_STREQ(buf, "fifteen chars!!");

  // A shorter text reuses the block.
  int32_t first = d->data;
  PUTCHV(s, "abc", 3, 1);
  EXPECT_EQ(d->data, first);
  EXPECT_EQ(text(s), "abc");

  // A longer text gets a new block; the old one is freed.
  int32_t free1 = lstk.freew;
  std::string longer = "a text much longer than the one before it";
  PUTCHV(s, longer.data(), int(longer.size()), 1);
  EXPECT_NE(d->data, first);
  EXPECT_EQ(d->len, longer.size());
  EXPECT_EQ(text(s), longer);
  EXPECT_EQ(owner(d->data), uint32_t(s + 1));
  EXPECT_EQ(lstk.freew, free1 - int32_t((longer.size() + 7) / 8 * 2 + 2) + 6);
  EXPECT_TRUE(chainok());

  // Items of 4 bytes.
  int32_t items[5] = {1, -2, 3, 400000, -5};
  PUTCHV(s, items, 5, 4);
  int32_t out[5] = {};
  EXPECT_EQ(GETCHV(s, out, 5, 4), 5);
  EXPECT_EQ(memcmp(items, out, sizeof items), 0);
  EXPECT_EQ(GETCHV(s, out, 3, 4), 3);

  // Length 0 frees the block and leaves no data.
  PUTCHV(s, "", 0, 1);
  EXPECT_EQ(d->len, 0u);
  EXPECT_EQ(d->data, 0);
  EXPECT_EQ(text(s), "");
  EXPECT_EQ(lstk.freew, base - 6);
}

TEST_F(Symbols, StringWithWiderItemsDoesNotOverrunItsBlock) {
  int32_t s = put("s", 0x1021, 0, 0, 8);
  PUTCHV(s, "abcd", 4, 1);  // one word of data, two with rounding
  int32_t guard = 0;
  ASSERT_GT(getstk(&guard, 16, 1, 1, 0), 0);
  memset(stkptr(guard), 0xA5, 16);
  int32_t wide[4] = {11, 22, 33, 44};
  PUTCHV(s, wide, 4, 4);  // 4 items, as before, but 16 bytes
  int32_t out[4] = {};
  EXPECT_EQ(GETCHV(s, out, 4, 4), 4);
  EXPECT_EQ(memcmp(out, wide, sizeof wide), 0);
  const unsigned char* g = static_cast<const unsigned char*>(stkptr(guard));
  for (int i = 0; i < 16; i++) EXPECT_EQ(g[i], 0xA5) << "byte " << i;
  EXPECT_TRUE(chainok());
  putstk(guard, 0, 0);
  PUTCHV(s, nullptr, 0, 1);
}

TEST_F(Symbols, StringSurvivesCompaction) {
  trcmsk = 0x800;
  int32_t s1 = put("s1", 0x1021, 0, 0, 8);
  int32_t s2 = put("s2", 0x1021, 0, 0, 8);
  std::string t1(1000, ' '), t2(700, ' ');
  for (size_t i = 0; i < t1.size(); i++) t1[i] = char('a' + i % 26);
  for (size_t i = 0; i < t2.size(); i++) t2[i] = char('0' + i % 10);

  int32_t f1 = 0, f2 = 0;
  ASSERT_GT(getstk(&f1, 2000, 4, 1, 0), 0);
  PUTCHV(s1, t1.data(), int(t1.size()), 1);
  ASSERT_GT(getstk(&f2, 2000, 4, 1, 0), 0);
  PUTCHV(s2, t2.data(), int(t2.size()), 1);
  int32_t at1 = desptr(s1)->data, at2 = desptr(s2)->data;
  putstk(f1, 0, 0);
  putstk(f2, 0, 0);

  // More than the free gap, less than the gap and the holes together.
  int32_t gap = lstk.lowest - scrtop;
  int32_t big = 0;
  ASSERT_GT(getstk(&big, gap + 3000, 4, 1, 0), 0) << "compaction did not make room";
  EXPECT_NE(desptr(s1)->data, at1) << "the string's block was expected to move";
  EXPECT_NE(desptr(s2)->data, at2);
  EXPECT_EQ(text(s1), t1);
  EXPECT_EQ(text(s2), t2);
  EXPECT_EQ(owner(desptr(s1)->data), uint32_t(s1 + 1));
  EXPECT_TRUE(chainok());

  putstk(big, 0, 0);
  PUTCHV(s1, nullptr, 0, 1);
  PUTCHV(s2, nullptr, 0, 1);
}

TEST_F(Symbols, StringCopiedFromABlockThatMoves) {
  trcmsk = 0x800;
  int32_t s1 = put("s1", 0x1021, 0, 0, 8);
  int32_t s3 = put("s3", 0x1021, 0, 0, 8);
  std::string t1(1000, ' ');
  for (size_t i = 0; i < t1.size(); i++) t1[i] = char('A' + i % 26);

  // A hole above s1 too small for the copy, so first fit cannot serve it.
  int32_t f1 = 0, f2 = 0;
  ASSERT_GT(getstk(&f1, 200, 4, 1, 0), 0);
  PUTCHV(s1, t1.data(), int(t1.size()), 1);
  ASSERT_GT(getstk(&f2, 2000, 4, 1, 0), 0);
  putstk(f1, 0, 0);
  putstk(f2, 0, 0);
  int32_t at1 = desptr(s1)->data;

  // Leave a gap smaller than the copy, so taking its block compacts the
  // stack while the source text sits in s1's block.
  int32_t gap = lstk.lowest - scrtop;
  int32_t scr = 0;
  ASSERT_GT(getstk(&scr, gap - 100, 4, 0, 1), 0);
  PUTCHV(s3, stkptr(at1), int(t1.size()), 1);
  EXPECT_NE(desptr(s1)->data, at1);
  EXPECT_EQ(text(s3), t1);
  EXPECT_EQ(text(s1), t1);

  rststk();
  PUTCHV(s1, nullptr, 0, 1);
  PUTCHV(s3, nullptr, 0, 1);
}

TEST_F(Symbols, DefinedStringsExpand) {
  std::vector<int32_t> ents;
  ents.push_back(define("pi", "3.14159", 0));
  ents.push_back(define("f", "\x01+\x02", 2));
  ents.push_back(define("sq", "\x01*\x01", 1));
  ents.push_back(define("big", std::string(200, 'b'), 0));
  put("var");

  auto run = [](std::string in, int start, int end, int* ret) {
    char line[LINSIZ];
    memset(line, 0, sizeof line);
    memcpy(line, in.data(), in.size());
    int32_t len = int32_t(in.size());
    *ret = chkdef(line, start, end, &len);
    EXPECT_EQ(size_t(len), strlen(line));
    return std::string(line);
  };
  int r = 0;
  EXPECT_EQ(run("x = pi + 1", 4, 6, &r), "x = 3.14159 + 1");
  EXPECT_EQ(r, 3);
  EXPECT_EQ(run("y = f(a,b) * 2", 4, 5, &r), "y = a+b * 2");
  EXPECT_EQ(r, 3);
  EXPECT_EQ(run("y = f a b", 4, 5, &r), "y = a+b");
  EXPECT_EQ(run("f((a,b),c)", 0, 1, &r), "(a,b)+c");
  EXPECT_EQ(run("sq(x+1)", 0, 2, &r), "x+1*x+1");
  EXPECT_EQ(run("f(,b)", 0, 1, &r), "-+b");
  EXPECT_FALSE(state & ST_ERROR);

  for (const char* bad : {"f(a)", "f(a,)", "f a", "f(a,b", "f"}) {
    std::string in = bad;
    EXPECT_TRUE(reports(36, [&] { EXPECT_EQ(run(in, 0, 1, &r), in) << bad; })) << bad;
    EXPECT_EQ(r, 1);
  }

  // Not a defined string: nothing happens.
  EXPECT_EQ(run("var = 1", 0, 3, &r), "var = 1");
  EXPECT_EQ(r, 3);
  EXPECT_EQ(run("PI", 0, 2, &r), "PI");
  EXPECT_EQ(run("nothing", 0, 7, &r), "nothing");
  EXPECT_FALSE(state & ST_ERROR);

  // An expansion that would not fit the line buffer leaves it as it was.
  std::string once = run("big big", 0, 3, &r);
  EXPECT_EQ(once, std::string(200, 'b') + " big");
  EXPECT_TRUE(reports(84, [&] { EXPECT_EQ(run(once, 201, 204, &r), once); }));

  for (int32_t e : ents) delsym(e);
}

}  // namespace
