// The low stack: bottom area, scratch area, headed blocks and their chain.
#include "memory_fixture.h"

#include <algorithm>
#include <cstdio>

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

TEST_F(Mem, FreshStackAndSizes) {
  EXPECT_EQ(MakStk(), STK_DEFAULT);  // exists already
  EXPECT_EQ(lstk.lowest, lstk.end);
  EXPECT_EQ(lstk.freew, lstk.end);
  EXPECT_EQ(lstk.bot, 0);
  EXPECT_EQ(scrtop, SCRATCH_GAP);

  EXPECT_EQ(stksiz(nullptr), 200000);
  EXPECT_EQ(stksiz(""), 200000);
  EXPECT_EQ(stksiz("5000"), 5000);
  EXPECT_EQ(stksiz("3001"), 3000);  // even, so headed blocks stay on even addresses
  EXPECT_EQ(stksiz("2000"), 200000);
  EXPECT_EQ(stksiz("12k"), 200000);
  EXPECT_EQ(stksiz("-5000"), 200000);
  // The low stack must stay below the high-memory addresses.
  EXPECT_EQ(stksiz("1000000"), STK_MAXWORDS);
  EXPECT_EQ(stksiz("99999999999999999999999"), STK_MAXWORDS);
  EXPECT_LT(STK_MAXWORDS, HIMEM_BASE);
}

TEST_F(Mem, RequestSizes) {
  int32_t a = 12345;
  EXPECT_EQ(getstk(&a, 0, 4, 1, 0), 0);
  EXPECT_EQ(a, 12345);  // an empty request leaves the address alone
  EXPECT_EQ(getstk(&a, -3, 4, 1, 0), 0);
  EXPECT_EQ(a, 12345);

  // 3 bytes: one word, raised to two.
  int32_t top = scrtop;
  EXPECT_EQ(getstk(&a, 3, 1, 0, 1), 3);
  EXPECT_EQ(a, top);
  EXPECT_EQ(scrtop, top + 2);
  EXPECT_EQ(lstk.freew, lstk.end);  // scratch does not count

  // A headed block of 3 bytes takes 4 words with its header.
  int32_t low = lstk.lowest;
  EXPECT_EQ(getstk(&a, 3, 1, 1, 0), 3);
  EXPECT_EQ(lstk.lowest, low - 4);
  EXPECT_EQ(a, lstk.lowest + 2);
  EXPECT_EQ(hdr(a)[0], 4u);
  EXPECT_EQ(hdr(a)[1], 1u);
  EXPECT_EQ(lstk.freew, lstk.end - 4);

  // The bottom area moves stkbot; the caller pops it by naming the top.
  EXPECT_EQ(getstk(&a, 10, 4, 0, 0), 10);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(lstk.bot, 10);
  EXPECT_EQ(getstk(&a, 5, 4, 0, 0), 5);
  EXPECT_EQ(a, 10);
  EXPECT_EQ(lstk.bot, 16);
  EXPECT_TRUE(chainok(lstk));
  putstk(16, 6, 4);
  EXPECT_EQ(lstk.bot, 10);
  putstk(5, 10, 4);  // not the top: ignored
  EXPECT_EQ(lstk.bot, 10);
  EXPECT_TRUE(chainok(lstk));

  // The count is capped at 32767 items.
  EXPECT_EQ(getstk(&a, 40000, 1, 1, 0), 32767);
  EXPECT_EQ(hdr(a)[0], 10000u + 2);
  EXPECT_TRUE(chainok(lstk));
}

TEST_F(Mem, SizesDoNotWrap) {
  int32_t a = 0;
  int32_t low = lstk.lowest, top = scrtop;
  // 65536 x 65536 bytes wraps to 0 in 32 bits; it must fail, not succeed.
  CaptureStdout();
  EXPECT_EQ(getstk(&a, 65536, 65536, 1, 0), -1);
  GetCapturedStdout();
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(lstk.lowest, low);
  state = 0;
  // A partial request of the same size gets what fits, whole items only.
  EXPECT_EQ(getstk(&a, 4096, 1 << 20, 0, 1), 0);  // not one item of 1 MB fits
  EXPECT_EQ(scrtop, top);
  int n = getstk(&a, 0x7FFFFFFF, 3, 0, 1);
  int64_t gap = (int64_t)lstk.lowest - top;
  EXPECT_EQ(n, 32767);
  EXPECT_EQ(a, top);
  // All words of the gap that whole 3-byte items fill, rounded up, no more.
  EXPECT_LE(scrtop, lstk.lowest);
  EXPECT_GE((int64_t)(scrtop - top) * 4, gap * 4 / 3 * 3);
  EXPECT_EQ(state & ST_ERROR, 0);

  // Heap wrappers and handles refuse sizes that cannot be had.
  int32_t err = 0;
  EXPECT_EQ(newhdl(SIZE_MAX - 4, &err), nullptr);
  EXPECT_EQ(err, -1);
  EXPECT_EQ(getmem(SIZE_MAX - 2), nullptr);
}

TEST_F(Mem, FirstFitSplitOrWhole) {
  int32_t a, b, c, d;
  ASSERT_EQ(getstk(&a, 10, 4, 1, 0), 10);  // 12 words
  ASSERT_EQ(getstk(&b, 10, 4, 1, 0), 10);
  ASSERT_EQ(getstk(&c, 10, 4, 1, 0), 10);
  EXPECT_EQ(b, c + 12);
  EXPECT_EQ(a, b + 12);
  int32_t low = lstk.lowest;
  putstk(b, 0, 0);
  EXPECT_EQ(hdr(b)[1], 0u);
  EXPECT_TRUE(chainok(lstk));

  // 8 data words need 10; the 12-word hole is at most words + 4: taken whole.
  ASSERT_EQ(getstk(&d, 8, 4, 1, 0), 8);
  EXPECT_EQ(d, b);
  EXPECT_EQ(hdr(d)[0], 12u);
  EXPECT_EQ(lstk.lowest, low);
  EXPECT_TRUE(chainok(lstk));

  // 6 data words in the same hole: split, the rest a free block of 4.
  putstk(d, 0, 0);
  ASSERT_EQ(getstk(&d, 6, 4, 1, 0), 6);
  EXPECT_EQ(d, b);
  EXPECT_EQ(hdr(d)[0], 8u);
  EXPECT_EQ(hdr(d + 8)[0], 4u);
  EXPECT_EQ(hdr(d + 8)[1], 0u);
  EXPECT_TRUE(chainok(lstk));

  // A request that fits no hole comes from the gap.
  ASSERT_EQ(getstk(&d, 20, 4, 1, 0), 20);
  EXPECT_EQ(d, low - 22 + 2);
  EXPECT_TRUE(chainok(lstk));
}

TEST_F(Mem, FreesMergeAndGiveBack) {
  int32_t blk[5];
  for (int32_t& x : blk) ASSERT_EQ(getstk(&x, 7, 4, 1, 0), 7);  // 10 words each
  int32_t end = lstk.end;
  EXPECT_EQ(lstk.lowest, end - 50);
  // Free 1 and 3 (not neighbours), then 2: one merged free block 1..3.
  putstk(blk[1], 0, 0);
  putstk(blk[3], 0, 0);
  EXPECT_TRUE(chainok(lstk));
  putstk(blk[2], 0, 0);
  EXPECT_TRUE(chainok(lstk));
  EXPECT_EQ(hdr(blk[3])[0], 30u);  // blk[3] is the lowest of the three
  EXPECT_EQ(hdr(blk[3])[1], 0u);
  // Freeing the lowest block gives it back to the gap.
  putstk(blk[4], 0, 0);
  EXPECT_TRUE(chainok(lstk));
  EXPECT_EQ(lstk.lowest, end - 10);
  putstk(blk[0], 0, 0);
  EXPECT_EQ(lstk.lowest, end);
  EXPECT_EQ(lstk.freew, lstk.end);
  EXPECT_TRUE(chainok(lstk));

  // Double free changes nothing.
  int32_t x, y;
  getstk(&x, 4, 4, 1, 0);
  getstk(&y, 4, 4, 1, 0);
  putstk(x, 0, 0);
  int32_t fw = lstk.freew;
  putstk(x, 0, 0);
  EXPECT_EQ(lstk.freew, fw);
  EXPECT_TRUE(chainok(lstk));
}

TEST_F(Mem, TailFree) {
  int32_t a, b;
  ASSERT_EQ(getstk(&a, 20, 4, 1, 0), 20);  // 22 words
  ASSERT_EQ(getstk(&b, 4, 4, 1, 0), 4);    // lowest
  uint32_t* p = static_cast<uint32_t*>(stkptr(a));
  for (int i = 0; i < 20; i++) p[i] = 100 + i;
  putstk(a + 8, 0, 0);  // keep 8 data words
  EXPECT_EQ(hdr(a)[0], 10u);
  EXPECT_EQ(hdr(a + 10)[0], 12u);
  EXPECT_EQ(hdr(a + 10)[1], 0u);
  for (int i = 0; i < 8; i++) EXPECT_EQ(p[i], 100u + i);
  EXPECT_TRUE(chainok(lstk));
  // An odd address is taken as the next word.
  putstk(a + 3, 0, 0);
  EXPECT_EQ(hdr(a)[0], 6u);
  EXPECT_EQ(hdr(a + 6)[0], 16u);  // merged with the free block behind
  EXPECT_EQ(hdr(a + 6)[1], 0u);
  EXPECT_TRUE(chainok(lstk));
  EXPECT_EQ(fndstk(a + 3), a - 2);
  EXPECT_EQ(fndstk(a + 4), a + 4);  // the free tail's own header
  EXPECT_EQ(fndstk(a + 19), a + 4);
}

TEST_F(Mem, OwnersAndReferences) {
  int32_t base = 0, a;
  getstk(&base, 4, 4, 0, 0);  // a word in the bottom area holds the address
  int32_t own = base + 2;
  ASSERT_EQ(getstk(&a, 8, 4, 1, 0), 8);
  int32_t b;
  ASSERT_EQ(getstk(&b, 8, 4, 1, 0), 8);  // below it, so a's free is visible
  lowstk[own] = static_cast<uint32_t>(a);
  ptrstk(a + 3, own);
  EXPECT_EQ(hdr(a)[1], static_cast<uint32_t>(own));
  ptrstk(a, 77);  // owned already: one more reference
  ptrstk(a, 78);
  EXPECT_EQ(hdr(a)[1] >> BLK_REFSHIFT, 2u);
  EXPECT_EQ(hdr(a)[1] & BLK_OWNER, static_cast<uint32_t>(own));
  putstk(a, 0, 0);
  putstk(a, 0, 0);
  EXPECT_NE(hdr(a)[1], 0u);  // still held after refs frees
  EXPECT_EQ(hdr(a)[1], static_cast<uint32_t>(own));
  putstk(a, 0, 0);
  EXPECT_EQ(hdr(a)[1], 0u);  // refs + 1 frees
  EXPECT_TRUE(chainok(lstk));
  // A free block takes no owner.
  ptrstk(a, own);
  EXPECT_EQ(hdr(a)[1], 0u);
  // The count stops at 15.
  int32_t c;
  getstk(&c, 2, 4, 1, 0);
  ptrstk(c, own);
  for (int i = 0; i < 20; i++) ptrstk(c, own);
  EXPECT_EQ(hdr(c)[1] >> BLK_REFSHIFT, 15u);
}

TEST_F(Mem, ScratchBuffersAndReset) {
  int32_t base = scrtop;
  char* p = static_cast<char*>(getbuf(10));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(stkadr(p), base);
  EXPECT_EQ(scrtop, base + 4);  // 3 words raised to 4
  char* q = static_cast<char*>(getbuf(8));
  EXPECT_EQ(stkadr(q), base + 4);
  frebuf(q);  // scratch buffers are never freed one by one
  EXPECT_EQ(scrtop, base + 6);
  frebuf(nullptr);
  int dummy;
  frebuf(&dummy);
  // The per-command reset drops them all.
  rststk();
  EXPECT_EQ(scrtop, lstk.bot + SCRATCH_GAP);
  EXPECT_EQ(stkadr(getbuf(4)), base);

  // The reset follows the bottom area.
  int32_t a;
  getstk(&a, 100, 4, 0, 0);
  rststk();
  EXPECT_EQ(scrtop, 100 + SCRATCH_GAP);

  // Zero-filled records: headed, or from the scratch area (size bit 0).
  uint32_t* r = static_cast<uint32_t*>(zeroblk(120));
  ASSERT_NE(r, nullptr);
  int32_t ra = stkadr(r);
  EXPECT_EQ(r[0], static_cast<uint32_t>(ra));
  for (int i = 1; i < 30; i++) EXPECT_EQ(r[i], 0u);
  EXPECT_EQ(hdr(ra)[0], 32u);
  EXPECT_EQ(ra, lstk.lowest + 2);
  int32_t st = scrtop;
  lowstk[st + 3] = 99;
  uint32_t* s = static_cast<uint32_t*>(zeroblk(120 | 1));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(stkadr(s), st);
  EXPECT_EQ(s[0], static_cast<uint32_t>(st));
  EXPECT_EQ(s[3], 0u);
  EXPECT_EQ(scrtop, st + 30);
  EXPECT_TRUE(chainok(lstk));
}

TEST_F(Mem, BottomAreaPastTheGap) {
  // One command grows the bottom area by more than the 400-word gap while
  // no scratch buffer is out: the scratch top moves with it, so new scratch
  // buffers never overlap it.
  int32_t a;
  ASSERT_EQ(getstk(&a, 500, 4, 0, 0), 500);
  EXPECT_EQ(lstk.bot, 500);
  EXPECT_GE(scrtop, lstk.bot);
  uint32_t* p = static_cast<uint32_t*>(getbuf(16));
  EXPECT_GE(stkadr(p), lstk.bot);
  // Growing over that live scratch buffer would overwrite it: refused,
  // nothing changes, and the buffer keeps its words.
  p[0] = 0xABCD1234u;
  int32_t bot = lstk.bot, top = scrtop;
  CaptureStdout();
  EXPECT_EQ(getstk(&a, 500, 4, 0, 0), -1);
  EXPECT_NE(GetCapturedStdout().find("ERROR  42"), std::string::npos);
  EXPECT_EQ(lstk.bot, bot);
  EXPECT_EQ(scrtop, top);
  EXPECT_EQ(p[0], 0xABCD1234u);
  state = 0;
  // At the next command the scratch area is empty again, and the bottom
  // area is checked against the headed blocks only.
  rststk();
  int32_t room = lstk.lowest - lstk.bot;
  CaptureStdout();
  EXPECT_EQ(getstk(&a, room + 2, 4, 0, 0), -1);
  GetCapturedStdout();
  state = 0;
  EXPECT_EQ(getstk(&a, room, 4, 0, 0), std::min(room, 32767));
  EXPECT_EQ(lstk.bot, lstk.lowest);
  EXPECT_EQ(scrtop, lstk.bot);
}

TEST_F(Mem, NoRoom) {
  small(3000);
  int32_t a;
  // getbuf of more than the gap: error 42, NULL, nothing taken.
  int32_t top = scrtop;
  CaptureStdout();
  EXPECT_EQ(getbuf(20000), nullptr);
  std::string out = GetCapturedStdout();
  EXPECT_NE(out.find("ERROR  42"), std::string::npos) << out;
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_EQ(scrtop, top);
  state = 0;
  // zeroblk from the scratch area with no room: NULL without an error.
  getstk(&a, 2500, 4, 1, 0);
  CaptureStdout();
  EXPECT_EQ(zeroblk(1000 | 1), nullptr);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(state & ST_ERROR, 0);
  EXPECT_EQ(scrtop, top);
  // A partial request takes what is left.
  int32_t gap = lstk.lowest - scrtop;
  EXPECT_EQ(getstk(&a, 100000, 1, 0, 1), gap * 4);
  EXPECT_EQ(scrtop, lstk.lowest);
  uint32_t b = 1;
  stkfre(&b);
  EXPECT_EQ(b, 0u);
}

TEST_F(Mem, GrabAndHeapFallback) {
  uint32_t bytes = 0, fre = 0;
  stkfre(&fre);
  EXPECT_EQ(fre, static_cast<uint32_t>(lstk.lowest - scrtop) * 4);
  int32_t top = scrtop;
  void* g = grbstk(&bytes, 4096);
  EXPECT_EQ(bytes, 4096u);
  EXPECT_EQ(stkadr(g), top);
  rststk();
  g = grbstk(&bytes, 2);
  EXPECT_EQ(bytes, fre / 2);
  rststk();
  g = grbstk(&bytes, 0);
  EXPECT_EQ(bytes, fre);
  EXPECT_EQ(scrtop, lstk.lowest);
  rststk();
  g = grbstk(&bytes, -4097);  // negative: low stack only, cap -share - 1
  EXPECT_EQ(bytes, 4096u);

  uint32_t* m = static_cast<uint32_t*>(getmem(100));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m[-1], 0xFFFFFFFFu);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(m) % 8, 0u);
  std::memset(m, 1, 100);
  fremem(m);
  fremem(nullptr);
}

TEST_F(Mem, ChainChecksAndListing) {
  int32_t a, b, c, base;
  getstk(&base, 4, 4, 0, 0);
  int32_t own = base + 2;
  getstk(&a, 6, 4, 1, 0);
  getstk(&b, 2, 4, 1, 0);
  getstk(&c, 4, 4, 1, 0);
  int32_t d;
  getstk(&d, 2, 4, 1, 0);
  lowstk[own] = static_cast<uint32_t>(a);
  ptrstk(a, own);
  ptrstk(a, 5);
  putstk(b, 0, 0);
  EXPECT_EQ(chkstk(0), 0);
  long e = lstk.end;
  CaptureStdout();
  chkstk(1);
  std::string out = GetCapturedStdout();
  // Blocks d, c, b (free), a (owned, one reference): two rows, by column.
  char want[1024];
  std::snprintf(want, sizeof want,
                "Stack 1    Size: %ld   Total Free: %ld\n"
                "%7ld -> %7ld  Symbol tables\n"
                "%7ld -> %7ld  Unused stack\n"
                "%7ld -> %7ld  Allocated\n"
                "Alloc list:\n"
                "  %6ld(%5ld,%5ld,%2d)  %6ld(%5ld,%5ld,%2d)\n"
                "  %6ld(%5ld,%5ld,%2d)  %6ld(%5ld,%5ld,%2d)\n"
                "Stack okay (%ld,%ld)\n",
                e, e - 4 - 22 + 4, 0L, 3L, 4L, e - 23, e - 22, e - 1,  //
                e - 22, 4L, 1L, 0, e - 12, 4L, 0L, 0,                  //
                e - 18, 6L, 1L, 0, e - 8, 8L, (long)own, 1,            //
                e, e);
  EXPECT_EQ(out, want);

  // A broken size: the silent check reports it on the debug unit.
  hdr(b)[0] = 0;
  CaptureStdout();
  EXPECT_EQ(chkstk(0), 1);
  out = GetCapturedStdout();
  EXPECT_EQ(out.rfind("Stack corrupted (", 0), 0u) << out;
  // Searching meets it: the Fndstk line and error 89.
  CaptureStdout();
  EXPECT_EQ(fndstk(a), 0);
  out = GetCapturedStdout();
  EXPECT_EQ(out.rfind("Fndstk: ", 0), 0u) << out;
  EXPECT_NE(out.find("ERROR  89 (arg 98)"), std::string::npos) << out;
  state = 0;
  // Freeing meets it: error 71 (arg 42) and the corrupted-chain line.
  CaptureStdout();
  putstk(c, 0, 0);
  out = GetCapturedStdout();
  EXPECT_NE(out.find("ERROR  71 (arg 42)"), std::string::npos) << out;
  EXPECT_NE(out.find("PUTSTK: corrupted "), std::string::npos) << out;
}

TEST_F(Mem, TraceBitChecksAndReports) {
  trcmsk = 0x2000;
  int32_t a;
  CaptureStdout();
  getstk(&a, 2000, 4, 1, 0);
  std::string out = GetCapturedStdout();
  char want[128];
  std::snprintf(want, sizeof want, "GETSTACK Request(0): 2000 Wds at Top %ld\n", (long)lstk.end);
  EXPECT_EQ(out, want);
  trcmsk = 0;
  EXPECT_EXIT(
      {
        trcmsk = 0x2000;
        int32_t x;
        getstk(&x, 0x7FFFFFF0, 4, 1, 0);
      },
      ::testing::ExitedWithCode(13), "");
}

TEST_F(Mem, Watchpoint) {
  int32_t a;
  getstk(&a, 4, 4, 1, 0);
  lowstk[a + 1] = 5;
  trpstk(a + 1);
  EXPECT_EQ(stktrap, a + 1);
  EXPECT_EQ(trpstk(-1), 0);
  lowstk[a + 1] = 9;
  CaptureStdout();
  EXPECT_EQ(trpstk(-1), 1);
  std::string out = GetCapturedStdout();
  EXPECT_EQ(out, "Trapped stack - Addr " + std::to_string(a + 1) + ": 5 -> 9\n");
  EXPECT_EQ(trpstk(-1), 0);
  trpstk(0);
  EXPECT_EQ(stktrap, 0);
  lowstk[a + 1] = 1;
  EXPECT_EQ(trpstk(-1), 0);
}

TEST_F(Mem, HeldPointers) {
  int x = 1, y = 2;
  EXPECT_EQ(holdptr(nullptr), -1);
  EXPECT_EQ(heldptr(-1), nullptr);
  EXPECT_EQ(stkptr(-1), nullptr);
  int32_t rx = holdptr(&x);
  EXPECT_LT(rx, -1);
  EXPECT_EQ(heldptr(rx), &x);
  EXPECT_EQ(stkptr(rx), &x);
  dropptr(rx);
  EXPECT_EQ(heldptr(rx), nullptr);
  EXPECT_EQ(stkptr(rx), nullptr);
  // Reusing the slot does not revive the old reference.
  int32_t ry = holdptr(&y);
  EXPECT_NE(ry, rx);
  EXPECT_EQ(heldptr(ry), &y);
  EXPECT_EQ(heldptr(rx), nullptr);
  dropptr(rx);  // stale: no effect
  EXPECT_EQ(heldptr(ry), &y);
  dropptr(ry);
  // Never a machine pointer: stkadr of heap memory is -1.
  void* h = xalloc(16);
  EXPECT_EQ(stkadr(h), -1);
  EXPECT_EQ(stkadr(nullptr), -1);
  xfree(h);
  EXPECT_EQ(heldptr(-123456), nullptr);
  EXPECT_EQ(heldptr(INT32_MIN), nullptr);
}

TEST_F(Mem, AddressRanges) {
  EXPECT_EQ(stkptr(0), lowstk);
  EXPECT_EQ(stkptr(lstk.end - 1), lowstk + lstk.end - 1);
  EXPECT_EQ(stkwp(0), nullptr);
  EXPECT_EQ(stkwp(5), lowstk + 5);
  EXPECT_EQ(stkadr(lowstk + 77), 77);
  EXPECT_EQ(stkadr(lowstk + lstk.end), -1);
  // Past the low stack's end, or high memory that does not exist: a
  // harmless word with error 71, never a write into the stack.
  CaptureStdout();
  uint32_t* p = static_cast<uint32_t*>(stkptr(lstk.end + 10));
  std::string out = GetCapturedStdout();
  EXPECT_NE(out.find("ERROR  71"), std::string::npos);
  EXPECT_TRUE(p < lowstk || p >= lowstk + lstk.end);
  state = 0;
  CaptureStdout();
  uint32_t* q = wordp(HIMEM_BASE + 10);
  out = GetCapturedStdout();
  uint32_t r0 = lowstk[0];  // error has left -71 in r0 (word 0)
  *q = 7;
  EXPECT_EQ(lowstk[0], r0);
  EXPECT_NE(q, lowstk);
  EXPECT_NE(out.find("ERROR  71 (arg 43)"), std::string::npos) << out;
  EXPECT_NE(out.find("himem err: "), std::string::npos) << out;
  EXPECT_TRUE(state & ST_ERROR);
}

TEST_F(Mem, HeapWrappers) {
  int32_t err = 5;
  void* h = newhdl(100, &err);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(err, 0);
  char* d = static_cast<char*>(hdlptr(h));
  EXPECT_EQ(d, static_cast<char*>(h) + 16);
  std::memset(d, 3, 100);
  dsphdl(h);
  uint32_t av = 0, tot = 0;
  memfree(&av, &tot);
  EXPECT_GT(tot, 0u);
  EXPECT_GT(av, 0u);
  // Figures over 4 GiB are clamped, not wrapped.
  unsigned long long kb = 0;
  char line[256];
  FILE* f = std::fopen("/proc/meminfo", "r");
  ASSERT_NE(f, nullptr);
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "MemTotal: %llu kB", &kb) == 1) break;
  std::fclose(f);
  EXPECT_EQ(tot, static_cast<uint32_t>(std::min<unsigned long long>(kb * 1024, 0xFFFFFFFFull)));
}

#if __has_include("lang/macro.h")
#include "lang/macro.h"
TEST_F(Mem, WatchpointInsideAMacro) {
  int32_t a;
  getstk(&a, 4, 4, 1, 0);
  lowstk[a] = 1;
  trpstk(a);
  lowstk[a] = 2;
  uint16_t mode = macmod;
  int16_t line = maclin;
  macmod = 3;
  maclin = 17;
  setmacnam("demo.imp");
  CaptureStdout();
  EXPECT_EQ(trpstk(-1), 1);
  std::string out = GetCapturedStdout();
  macmod = mode;
  maclin = line;
  setmacnam("");
  EXPECT_EQ(out, "Trapped stack - Addr " + std::to_string(a) + ": 1 -> 2   on line    17 of demo.imp\n");
  trpstk(0);
}
#endif
