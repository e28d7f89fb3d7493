// Compaction of the stacks (trace-mask bit 0x800).
#include "memory_fixture.h"

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {
void fill(int32_t a, int32_t n, uint32_t tag) {
  for (int32_t i = 0; i < n; i++) *wordp(a + i) = tag + static_cast<uint32_t>(i);
}
bool same(int32_t a, int32_t n, uint32_t tag, int32_t skip = -1) {
  for (int32_t i = 0; i < n; i++)
    if (i != skip && *wordp(a + i) != tag + static_cast<uint32_t>(i)) return false;
  return true;
}
}  // namespace

TEST_F(Mem, PackLowStack) {
  small(3000);
  int32_t own;
  getstk(&own, 8, 4, 0, 0);  // owner words in the bottom area
  int32_t b1, b2, b3, b4;
  ASSERT_EQ(getstk(&b1, 600, 4, 1, 0), 600);
  ASSERT_EQ(getstk(&b2, 600, 4, 1, 0), 600);
  ASSERT_EQ(getstk(&b3, 600, 4, 1, 0), 600);
  ASSERT_EQ(getstk(&b4, 600, 4, 1, 0), 600);
  fill(b2, 600, 0x20000);
  fill(b4, 600, 0x40000);
  // b2 is owned by a bottom-area word; b4 by a word inside b2 (a record
  // that owns its data), which moves with b2.
  lowstk[own + 2] = static_cast<uint32_t>(b2);
  ptrstk(b2, own + 2);
  *wordp(b2 + 5) = static_cast<uint32_t>(b4);
  ptrstk(b4, b2 + 5);
  putstk(b1, 0, 0);
  putstk(b3, 0, 0);
  ASSERT_TRUE(chainok(lstk));

  // Without the option bit nothing moves and the request fails.
  int32_t big;
  CaptureStdout();
  EXPECT_EQ(getstk(&big, 700, 4, 1, 0), -1);
  GetCapturedStdout();
  state = 0;
  EXPECT_EQ(lstk.lowest, b4 - 2);

  trcmsk = 0x800;
  ASSERT_EQ(getstk(&big, 700, 4, 1, 0), 700);
  EXPECT_EQ(state & ST_ERROR, 0);
  EXPECT_TRUE(chainok(lstk));
  int32_t nb2 = static_cast<int32_t>(lowstk[own + 2]);
  EXPECT_EQ(nb2, b1);  // slid up into the top hole
  EXPECT_TRUE(same(nb2, 600, 0x20000, 5));
  int32_t nb4 = static_cast<int32_t>(*wordp(nb2 + 5));
  EXPECT_NE(nb4, b4);
  EXPECT_EQ(hdr(nb4)[1], static_cast<uint32_t>(nb2 + 5));  // owner followed its record
  EXPECT_TRUE(same(nb4, 600, 0x40000));
  EXPECT_EQ(hdr(nb2)[1], static_cast<uint32_t>(own + 2));
  int32_t largest = 0;
  EXPECT_GE(Packstk(&lstk, &largest), 0);
  EXPECT_GE(largest, lstk.lowest - scrtop);
}

TEST_F(Mem, PackKeepsPinnedBlocks) {
  small(3000);
  int32_t own;
  getstk(&own, 8, 4, 0, 0);
  int32_t b1, b2, b3, b4;
  getstk(&b1, 600, 4, 1, 0);
  getstk(&b2, 600, 4, 1, 0);
  getstk(&b3, 600, 4, 1, 0);
  getstk(&b4, 600, 4, 1, 0);
  // b2: owned but with an extra reference; b4: no owner; b3: an owner
  // word that does not hold its address (an offset, say). None may move.
  lowstk[own + 2] = static_cast<uint32_t>(b2);
  ptrstk(b2, own + 2);
  ptrstk(b2, own + 2);
  lowstk[own + 4] = 12;
  ptrstk(b3, own + 4);
  putstk(b1, 0, 0);
  trcmsk = 0x800;
  int32_t largest = 0;
  EXPECT_EQ(Packstk(&lstk, &largest), 0);
  EXPECT_EQ(lowstk[own + 2], static_cast<uint32_t>(b2));
  EXPECT_EQ(lowstk[own + 4], 12u);
  EXPECT_EQ(hdr(b1)[1], 0u);
  EXPECT_TRUE(chainok(lstk));
  // An interrupt stops the rounds at once.
  int32_t b5;
  getstk(&b5, 10, 4, 1, 0);
  lowstk[own + 6] = static_cast<uint32_t>(b5);
  ptrstk(b5, own + 6);
  state = ST_INTR;
  EXPECT_EQ(Packstk(&lstk, &largest), 0);
  EXPECT_EQ(lowstk[own + 6], static_cast<uint32_t>(b5));
  state = 0;
}

TEST_F(Mem, PackHighMemory) {
  highmem(40);
  ASSERT_EQ(hstk.end, HIMEM_BASE + 10240);
  int32_t own;
  getstk(&own, 8, 4, 0, 0);
  int32_t h1, h2, h3;
  ASSERT_EQ(getstk(&h1, 3000, 4, 3, 0), 3000);
  ASSERT_EQ(getstk(&h2, 3000, 4, 3, 0), 3000);
  ASSERT_EQ(getstk(&h3, 3000, 4, 3, 0), 3000);
  fill(h2, 3000, 0x200000);
  fill(h3, 3000, 0x300000);
  lowstk[own + 2] = static_cast<uint32_t>(h2);
  ptrstk(h2, own + 2);
  lowstk[own + 4] = static_cast<uint32_t>(h3);
  ptrstk(h3, own + 4);
  putstk(h1, 0, 0);
  EXPECT_EQ(hstk.bot, HIMEM_BASE + 9006);
  ASSERT_TRUE(chainok(hstk));

  trcmsk = 0x800;
  int32_t big;
  ASSERT_EQ(getstk(&big, 4000, 4, 3, 0), 4000);
  EXPECT_EQ(state & ST_ERROR, 0);
  EXPECT_TRUE(chainok(hstk));
  EXPECT_EQ(lowstk[own + 2], static_cast<uint32_t>(HIMEM_BASE + 2));
  EXPECT_EQ(lowstk[own + 4], static_cast<uint32_t>(HIMEM_BASE + 3004));
  EXPECT_TRUE(same(HIMEM_BASE + 2, 3000, 0x200000));
  EXPECT_TRUE(same(HIMEM_BASE + 3004, 3000, 0x300000));
  EXPECT_EQ(big, HIMEM_BASE + 6006);
  EXPECT_EQ(hstk.bot, HIMEM_BASE + 10006);
}

TEST_F(Mem, PackFillsAHoleFromFurtherDown) {
  small(3000);
  int32_t own;
  getstk(&own, 8, 4, 0, 0);
  int32_t t1, t2, t3, t4, t5;
  getstk(&t1, 600, 4, 1, 0);
  getstk(&t2, 100, 4, 1, 0);  // pinned: no owner
  getstk(&t3, 200, 4, 1, 0);
  getstk(&t4, 100, 4, 1, 0);
  getstk(&t5, 50, 4, 1, 0);  // pinned
  fill(t3, 200, 0x3000);
  fill(t4, 100, 0x4000);
  lowstk[own + 2] = static_cast<uint32_t>(t3);
  ptrstk(t3, own + 2);
  // t4 owns itself: its owner word is its own word 3.
  *wordp(t4 + 3) = static_cast<uint32_t>(t4);
  ptrstk(t4, t4 + 3);
  putstk(t1, 0, 0);
  int32_t hole = t1 - 2;
  trcmsk = 0x800;
  int32_t largest = 0;
  EXPECT_EQ(Packstk(&lstk, &largest), 2);
  EXPECT_TRUE(chainok(lstk));
  // t3, the largest that fits, went to the top of the hole; then t4 to the
  // top of what was left.
  int32_t n3 = static_cast<int32_t>(lowstk[own + 2]);
  EXPECT_EQ(n3, hole + 602 - 202 + 2);
  EXPECT_TRUE(same(n3, 200, 0x3000));
  int32_t n4 = n3 - 102;
  EXPECT_EQ(hdr(n4)[0], 102u);
  EXPECT_EQ(*wordp(n4 + 3), static_cast<uint32_t>(n4));
  EXPECT_EQ(hdr(n4)[1], static_cast<uint32_t>(n4 + 3));
  EXPECT_TRUE(same(n4, 100, 0x4000, 3));
  // The pinned blocks stayed; their old places merged into one free block.
  EXPECT_EQ(hdr(t2)[1], 1u);
  EXPECT_EQ(hdr(t5)[1], 1u);
  EXPECT_EQ(hdr(t4)[1], 0u);
  EXPECT_EQ(hdr(t4)[0], 304u);
  EXPECT_EQ(largest, lstk.lowest - scrtop);  // the gap is the largest stretch here
}

TEST_F(Mem, CommandStartMovesOnlyVariableData) {
  small(4000);
  ASSERT_GT(mksystab(), 0);
  int32_t e = putsym(0, "txt", 3, SY_VAR | SY_STRING | SY_GLOBAL, 0, 0, 8);
  ASSERT_GT(e, 0);
  int32_t own;
  getstk(&own, 8, 4, 0, 0);  // an owner word that is no symbol entry
  int32_t h, s, p;
  ASSERT_EQ(getstk(&h, 2000, 4, 1, 0), 2000);
  ASSERT_EQ(getstk(&s, 10, 4, 1, 0), 10);
  ASSERT_EQ(getstk(&p, 10, 4, 1, 0), 10);
  fill(s, 10, 0x5000);
  fill(p, 10, 0x7000);
  // s: a string variable's text, owned by its entry; p: a record owned by
  // a word that is no entry (it may hold its own address).
  symptr(e)->data = s;
  symptr(e)->value = 40;
  ptrstk(s, e + 1);
  lowstk[own] = static_cast<uint32_t>(p);
  ptrstk(p, own);
  rststk();
  EXPECT_EQ(symptr(e)->data, s);  // the gap is larger than the holes: nothing moves

  putstk(h, 0, 0);  // a hole far larger than the gap
  rststk();
  const int32_t ns = symptr(e)->data;
  EXPECT_EQ(ns, h + 2000 - 10);  // slid up to the top of the hole
  EXPECT_TRUE(same(ns, 10, 0x5000));
  EXPECT_EQ(static_cast<int32_t>(lowstk[own]), p);  // pinned
  EXPECT_TRUE(same(p, 10, 0x7000));
  EXPECT_TRUE(chainok(lstk));

  // The trace bit's compaction does not run at a command's start.
  EXPECT_EQ(trcmsk & 0x800, 0);
}

// Between commands every block whose references are known moves, with
// every word that names it: an alias into it, a list's slots, a pointer
// variable's record, a word registered outside the word memory.
namespace {
int32_t held = 0;
bool heldfree = true;
bool heldmay() { return heldfree; }
}  // namespace

TEST_F(Mem, CommandStartMovesBlocksWithTheirNames) {
  small(6000);
  ASSERT_GT(mksystab(), 0);
  int32_t ea = putsym(0, "arr", 3, SY_VAR | SY_ARRAY | SY_GLOBAL, 0, 0, 32);
  int32_t el = putsym(0, "als", 3, SY_VAR | SY_ARRAY | SY_GLOBAL | SY_NOTOWN, 0, 0, 32);
  int32_t es = putsym(0, "lst", 3, SY_VAR | SY_STRING | SY_LIST | SY_GLOBAL, 0, 0, 8);
  int32_t ep = putsym(0, "ptr", 3, SY_VAR | SY_GLOBAL, 0, 0, 0);
  ASSERT_GT(ep, 0);
  stkslot(&held, heldmay);
  int32_t h, a, t, e0, e2, p, q;
  ASSERT_EQ(getstk(&h, 3000, 4, 1, 0), 3000);
  getstk(&a, 10, 4, 1, 0);
  getstk(&t, 3, 4, 1, 0);  // a 3-slot element table
  getstk(&e0, 6, 1, 1, 0);
  getstk(&e2, 6, 1, 1, 0);
  getstk(&p, sizeof(PtrRec), 1, 1, 0);
  getstk(&q, 20, 1, 1, 0);
  fill(a, 10, 0xA000);
  symptr(ea)->data = a;
  symptr(ea)->value = 10;
  ptrstk(a, ea + 1);
  symptr(el)->data = a + 4;  // an alias of items 4 on
  symptr(es)->data = t;
  symptr(es)->value = 3;
  ptrstk(t, es + 1);
  uint32_t* tw = wordp(t);
  tw[0] = static_cast<uint32_t>(e0 - t);
  tw[1] = 0;
  tw[2] = static_cast<uint32_t>(e2 - t);
  ptrstk(e0, t);
  ptrstk(e2, t + 2);
  std::memcpy(stkptr(e0), "\4abcd", 6);
  std::memcpy(stkptr(e2), "\3xyz", 5);
  auto* r = static_cast<PtrRec*>(stkptr(p));
  std::memset(r, 0, sizeof *r);
  r->PTR = r->Stack = static_cast<uint32_t>(p);
  r->Idx = ep;
  symptr(ep)->data = p;
  symptr(ep)->value = static_cast<uint32_t>(p);
  ptrstk(p, ep + 1);
  held = q;
  std::memcpy(stkptr(q), "queued text", 12);

  heldfree = false;  // a copy of the word is kept elsewhere: it stays
  putstk(h, 0, 0);
  rststk();
  EXPECT_TRUE(chainok(lstk));
  EXPECT_EQ(held, q);
  const int32_t na = symptr(ea)->data;
  EXPECT_GT(na, a);
  EXPECT_TRUE(same(na, 10, 0xA000));
  EXPECT_EQ(hdr(na)[1], static_cast<uint32_t>(ea + 1));
  EXPECT_EQ(symptr(el)->data, na + 4);
  const int32_t nt = symptr(es)->data;
  EXPECT_GT(nt, t);
  EXPECT_EQ(hdr(nt)[1], static_cast<uint32_t>(es + 1));
  const uint32_t* ntw = wordp(nt);
  EXPECT_EQ(ntw[1], 0u);
  EXPECT_STREQ(static_cast<const char*>(stkptr(nt + static_cast<int32_t>(ntw[0]))) + 1, "abcd");
  EXPECT_STREQ(static_cast<const char*>(stkptr(nt + static_cast<int32_t>(ntw[2]))) + 1, "xyz");
  EXPECT_EQ(hdr(nt + static_cast<int32_t>(ntw[2]))[1], static_cast<uint32_t>(nt + 2));
  const int32_t np = symptr(ep)->data;
  EXPECT_GT(np, p);
  const auto* nr = static_cast<const PtrRec*>(stkptr(np));
  EXPECT_EQ(nr->PTR, static_cast<uint32_t>(np));
  EXPECT_EQ(nr->Stack, static_cast<uint32_t>(np));
  EXPECT_EQ(symptr(ep)->value, static_cast<uint32_t>(np));

  // Once no copy is kept, the registered block moves too and its word
  // follows it; the free words are all in the gap.
  heldfree = true;
  putstk(symptr(ea)->data, 0, 0);
  symptr(ea)->data = 0;
  symptr(el)->data = 0;
  rststk();
  EXPECT_TRUE(chainok(lstk));
  EXPECT_NE(held, q);
  EXPECT_STREQ(static_cast<const char*>(stkptr(held)), "queued text");
  EXPECT_EQ(lstk.freew, lstk.lowest - lstk.bot);
  held = 0;
}

TEST_F(Mem, CommandStartPacksPagedHighMemory) {
  small(4000);
  ASSERT_GT(mksystab(), 0);
  himemflag = 2;
  highmem(64);
  ASSERT_TRUE(hipaged());
  int32_t ea = putsym(0, "big", 3, SY_VAR | SY_ARRAY | SY_GLOBAL | SY_HIGH, 0, 0, 32);
  int32_t em = putsym(0, "mat", 3, SY_VAR | SY_MATRIX | SY_GLOBAL | SY_HIGH, 0, 0, 32);
  int32_t h1, a, hd, it;
  ASSERT_EQ(getstk(&h1, 3000, 4, 3, 0), 3000);
  ASSERT_EQ(getstk(&a, 5000, 4, 3, 0), 5000);  // crosses a page end
  getstk(&hd, 5, 4, 1, 0);                      // the matrix's header, low
  ASSERT_EQ(getstk(&it, 4500, 4, 3, 0), 4500);  // its items, high
  fill(a, 5000, 0x100000);
  fill(it, 4500, 0x200000);
  symptr(ea)->data = a;
  ptrstk(a, ea + 1);
  uint32_t* hw = wordp(hd);
  hw[0] = 90;
  hw[1] = 50;
  hw[2] = 1;
  hw[3] = static_cast<uint32_t>(it);
  symptr(em)->data = hd;
  ptrstk(hd, em + 1);
  ptrstk(it, hd + 3);
  putstk(h1, 0, 0);
  rststk();
  EXPECT_TRUE(chainok(hstk));
  EXPECT_EQ(symptr(ea)->data, HIMEM_BASE + 2);
  EXPECT_TRUE(same(HIMEM_BASE + 2, 5000, 0x100000));
  const int32_t nit = static_cast<int32_t>(wordp(symptr(em)->data)[3]);
  EXPECT_EQ(nit, HIMEM_BASE + 5004);
  EXPECT_TRUE(same(nit, 4500, 0x200000));
  EXPECT_EQ(hdr(nit)[1], static_cast<uint32_t>(symptr(em)->data + 3));
  EXPECT_EQ(hstk.bot, HIMEM_BASE + 9504);
  EXPECT_EQ(hstk.freew, hstk.end - hstk.bot);
}
