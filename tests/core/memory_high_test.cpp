// High memory, flat and paged: placement, temporaries, paging and resizing.
#include "memory_fixture.h"

#include <cstdio>

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

TEST_F(Mem, FlatHighMemory) {
  uint32_t avail = 0, total = 0;
  memfree(&avail, &total);
  ASSERT_GT(avail, 1u << 20);
  CaptureStdout();
  highmem(40);
  std::string out = GetCapturedStdout();
  char want[256];
  std::snprintf(want, sizeof want,
                "    Allocate 40960 bytes of high memory, of %ld available\n"
                "    High memory allocated in a single contiguous block\n",
                (long)avail);
  // The available figure may move between the two reads; compare the rest.
  EXPECT_EQ(out.substr(0, 40), std::string(want).substr(0, 40));
  EXPECT_NE(out.find("    High memory allocated in a single contiguous block\n"), std::string::npos);
  EXPECT_EQ(hstk.lowest, HIMEM_BASE);
  EXPECT_EQ(hstk.bot, HIMEM_BASE);
  EXPECT_EQ(hstk.freew, 10240);
  EXPECT_EQ(hstk.end, HIMEM_BASE + 10240);
  EXPECT_EQ(htmptop, hstk.end);
  EXPECT_EQ(hstack_end, hstk.end);

  // Where 2: 300 words go high, 100 stay low while the low stack has room.
  int32_t a, b, c;
  ASSERT_EQ(getstk(&a, 300, 4, 2, 0), 300);
  EXPECT_EQ(a, HIMEM_BASE + 2);
  EXPECT_EQ(hstk.bot, HIMEM_BASE + 302);
  EXPECT_EQ(hstk.freew, 10240 - 302);
  ASSERT_EQ(getstk(&b, 100, 4, 2, 0), 100);
  EXPECT_LT(b, HIMEM_BASE);
  ASSERT_EQ(getstk(&b, 100, 4, 3, 0), 100);  // where 3 insists
  EXPECT_EQ(b, HIMEM_BASE + 304);
  ASSERT_EQ(getstk(&c, 50, 4, 2, 0), 50);
  EXPECT_LT(c, HIMEM_BASE);

  // Addresses map both ways in the flat form.
  uint32_t* pa = wordp(a);
  EXPECT_EQ(stkadr(pa), a);
  EXPECT_EQ(stkadr(pa + 299), a + 299);
  EXPECT_EQ(mapstk(a + 7, 2), pa + 7);
  EXPECT_TRUE(chainok(hstk));

  // Freeing the last block lowers the top; a middle one waits for merging.
  putstk(a, 0, 0);
  EXPECT_EQ(hstk.bot, HIMEM_BASE + 404);
  EXPECT_TRUE(chainok(hstk));
  putstk(b, 0, 0);
  EXPECT_EQ(hstk.bot, HIMEM_BASE);
  EXPECT_EQ(hstk.freew, 10240);
  EXPECT_TRUE(chainok(hstk));

  // Temporaries (partial 2) come down from the end, and go at the reset.
  int32_t t;
  ASSERT_EQ(getstk(&t, 1000, 4, 0, 2), 1000);
  EXPECT_EQ(t, hstk.end - 1000);
  EXPECT_EQ(htmptop, t);
  EXPECT_EQ(hstk.freew, 10240);
  int32_t u;
  ASSERT_EQ(getstk(&u, 10000, 4, 0, 2), 10240 - 1000);  // what is left
  EXPECT_EQ(u, HIMEM_BASE);
  rststk();
  EXPECT_EQ(htmptop, hstk.end);

  // While a block is in use the flat block is neither freed nor resized:
  // the variables in it keep their addresses and values.
  int32_t v;
  ASSERT_EQ(getstk(&v, 100, 4, 3, 0), 100);
  wordp(v)[99] = 1234;
  CaptureStdout();
  highmem(0);
  highmem(80);
  out = GetCapturedStdout();
  EXPECT_EQ(out, "ERROR 124: High memory holds variables: it cannot be freed or resized\n"
                 "ERROR 124: High memory holds variables: it cannot be freed or resized\n");
  EXPECT_EQ(hstk.end, HIMEM_BASE + 10240);
  EXPECT_EQ(wordp(v)[99], 1234u);
  state &= ~ST_ERROR;
  highmem(40);  // the size it has: nothing to do
  EXPECT_EQ(state & ST_ERROR, 0);
  putstk(v, 0, 0);

  // Empty, another size does nothing and says nothing; 0 frees it.
  CaptureStdout();
  highmem(80);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(state & ST_ERROR, 0);
  EXPECT_EQ(hstk.end, HIMEM_BASE + 10240);
  highmem(0);
  EXPECT_EQ(hstk.end, 0);
  EXPECT_EQ(hstk.freew, 0);
  EXPECT_EQ(hstack_end, 0);
  EXPECT_EQ(htmptop, 0);

  // Quiet while the start-up macro runs.
  state = ST_STARTUP;
  CaptureStdout();
  highmem(8);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(hstk.end, HIMEM_BASE + 2048);
}

TEST_F(Mem, HighOrLowWhenTheLowStackIsShort) {
  small(4000);
  highmem(40);
  int32_t a, b;
  ASSERT_EQ(getstk(&a, 100, 4, 2, 0), 100);
  EXPECT_LT(a, HIMEM_BASE);
  ASSERT_EQ(getstk(&a, 1900, 4, 1, 0), 1900);  // the low stack drops below 2000 free
  ASSERT_LT(lstk.freew, 2000);
  ASSERT_EQ(getstk(&b, 100, 4, 2, 0), 100);
  EXPECT_GE(b, HIMEM_BASE);
  // A share of the largest free stretch comes from high memory when it
  // is larger there (flat form only).
  uint32_t bytes = 0;
  void* g = grbstk(&bytes, 0);
  EXPECT_EQ(bytes, static_cast<uint32_t>(hstk.end - hstk.bot) * 4);
  EXPECT_EQ(stkadr(g), htmptop);
  EXPECT_EQ(htmptop, hstk.bot);
  rststk();
  g = grbstk(&bytes, -1);  // negative share: the low stack only
  EXPECT_LT(stkadr(g), HIMEM_BASE);
  EXPECT_EQ(maxfre(), hstk.end - hstk.bot);
}

TEST_F(Mem, PagedHighMemory) {
  himemflag = 2;
  CaptureStdout();
  highmem(64);
  std::string out = GetCapturedStdout();
  EXPECT_EQ(out.rfind("High memory:\n Request 64 kbytes of ", 0), 0u) << out;
  EXPECT_NE(out.find("  Allocate 64 Kb in 4 16Kb pages (4 page frames)\n"), std::string::npos) << out;
  EXPECT_EQ(hstk.end, HIMEM_BASE + 4 * HPAGE_WORDS);
  EXPECT_EQ(hstk.freew, 4 * HPAGE_WORDS);
  EXPECT_EQ(hstack_end, hstk.end);

  // A block over three pages; every word written through stkptr (frame 0)
  // is read back through the other frames.
  int32_t a;
  ASSERT_EQ(getstk(&a, 3 * HPAGE_WORDS, 4, 3, 0), 3 * HPAGE_WORDS);
  EXPECT_EQ(a, HIMEM_BASE + 2);
  for (int32_t i = 0; i < 3 * HPAGE_WORDS; i += 97) *wordp(a + i) = 0xA0000000u + static_cast<uint32_t>(i);
  // Frames 1 to 3 are handed out in turn.
  int frames[4];
  for (int& f : frames) f = mappag();
  for (int k = 0; k < 3; k++) {
    EXPECT_GE(frames[k], 1);
    EXPECT_LE(frames[k], 3);
    EXPECT_EQ(frames[k + 1], frames[k] % 3 + 1);
  }
  for (int32_t i = 0; i < 3 * HPAGE_WORDS; i += 97)
    ASSERT_EQ(*mapstk(a + i, frames[i % 3]), 0xA0000000u + static_cast<uint32_t>(i)) << i;
  // Distinct pages are distinct memory.
  uint32_t* p0 = mapstk(HIMEM_BASE + 100, 1);
  uint32_t* p1 = mapstk(HIMEM_BASE + HPAGE_WORDS + 100, 2);
  uint32_t* p2 = mapstk(HIMEM_BASE + 2 * HPAGE_WORDS + 100, 3);
  EXPECT_NE(p0, p1);
  EXPECT_NE(p1, p2);
  *p0 = 1;
  *p1 = 2;
  *p2 = 3;
  EXPECT_EQ(*wordp(HIMEM_BASE + 100), 1u);
  EXPECT_EQ(*wordp(HIMEM_BASE + HPAGE_WORDS + 100), 2u);
  EXPECT_EQ(*wordp(HIMEM_BASE + 2 * HPAGE_WORDS + 100), 3u);
  // Paged memory has no stack address for a machine pointer.
  EXPECT_EQ(stkadr(p1), -1);
  EXPECT_TRUE(chainok(hstk));

  // A page outside those in use: error 71 (arg 43), the himem err line,
  // the error bit, and a harmless word that is not r0 (low-stack word 0).
  CaptureStdout();
  uint32_t* bad = mapstk(HIMEM_BASE + 4 * HPAGE_WORDS + 5, 2);
  out = GetCapturedStdout();
  ASSERT_NE(bad, nullptr);
  EXPECT_NE(bad, lowstk);
  uint32_t r0 = lowstk[0];  // error has left -71 in r0 (word 0)
  *bad = 99;
  EXPECT_EQ(lowstk[0], r0);
  EXPECT_NE(out.find("ERROR  71 (arg 43)"), std::string::npos) << out;
  char want[80];
  std::snprintf(want, sizeof want, "himem err: 4 4 5 %ld 2\n", (long)(HIMEM_BASE + 4 * HPAGE_WORDS + 5));
  EXPECT_NE(out.find(want), std::string::npos) << out;
  EXPECT_TRUE(state & ST_ERROR);
  state = 0;
  CaptureStdout();
  EXPECT_NE(wordp(HIMEM_BASE - 1 + 4 * HPAGE_WORDS + 1), lowstk);
  GetCapturedStdout();
  state = 0;

  // Shrinking keeps every page the blocks reach, even a partly used one.
  putstk(a, 0, 0);
  ASSERT_EQ(getstk(&a, HPAGE_WORDS + 10, 4, 3, 0), HPAGE_WORDS + 10);
  *wordp(a + HPAGE_WORDS + 5) = 77;
  highmem(0);
  EXPECT_EQ(hstk.end, HIMEM_BASE + 2 * HPAGE_WORDS);
  EXPECT_EQ(*wordp(a + HPAGE_WORDS + 5), 77u);
  EXPECT_TRUE(chainok(hstk));
  // Growing adds pages and free words; the data stays.
  highmem(128);
  EXPECT_EQ(hstk.end, HIMEM_BASE + 8 * HPAGE_WORDS);
  EXPECT_EQ(*wordp(a + HPAGE_WORDS + 5), 77u);
  EXPECT_TRUE(chainok(hstk));
  // The form does not change while high memory exists.
  himemflag = 1;
  highmem(160);
  EXPECT_EQ(hstk.end, HIMEM_BASE + 10 * HPAGE_WORDS);
  // A negative size frees it all.
  highmem(-1);
  EXPECT_EQ(hstk.end, 0);
  EXPECT_EQ(hstk.freew, 0);
  EXPECT_EQ(hstack_end, 0);
  // Now the flat form can be chosen.
  highmem(4);
  EXPECT_EQ(hstk.end, HIMEM_BASE + 1024);
  int32_t f;
  ASSERT_EQ(getstk(&f, 300, 4, 3, 0), 300);
  EXPECT_EQ(stkadr(wordp(f)), f);
}

// Freeing many blocks at once leaves both stacks as freeing them one after
// the other does: the same blocks, free or held by the same owners and
// references, the same data, the same descriptors (only the words of free
// space may differ). References are dropped, a block named twice or by an
// inner word is freed once, ends go back to the gaps, neighbours merge.
TEST_F(Mem, ManyFreesAtOnceAsOneByOne) {
  small(4000);
  CaptureStdout();
  highmem(8);
  GetCapturedStdout();
  int32_t bottom = 0;
  getstk(&bottom, 4, 4, 0, 0);
  int32_t lo[8], hi[6];
  for (int32_t& a : lo) ASSERT_EQ(getstk(&a, 6, 4, 1, 0), 6);
  for (int32_t& a : hi) ASSERT_EQ(getstk(&a, 6, 4, 3, 0), 6);
  ASSERT_GE(hi[0], HIMEM_BASE);
  for (int32_t b : {lo[2], hi[1]}) {
    ptrstk(b, bottom + 2);
    ptrstk(b, bottom + 3);  // a second reference
  }
  for (int32_t b : lo) *wordp(b + 1) = static_cast<uint32_t>(b);
  for (int32_t b : hi) *wordp(b + 1) = static_cast<uint32_t>(b);
  const std::vector<int32_t> addrs = {lo[1], hi[4], lo[2], hi[1], lo[1], lo[3] + 3, 0, bottom, hi[5],
                                      lo[7], hi[2], lo[6], hi[1], hstk.bot + 4, lo[0] - 1};
  const int64_t hwords = hstk.end - HIMEM_BASE;
  auto* high = static_cast<uint32_t*>(stkptr(HIMEM_BASE));
  // The descriptors, the bottom area, then each block of both chains: its
  // place, size and state, and the data of a block in use.
  auto layout = [&] {
    std::vector<int64_t> v = {lstk.lowest, lstk.bot, lstk.freew, lstk.end, hstk.lowest, hstk.bot, hstk.freew, hstk.end};
    v.insert(v.end(), lowstk, lowstk + lstk.bot);
    for (const StkDesc* d : {&lstk, &hstk})
      for (int64_t p = d->lowest, end = d == &hstk ? d->bot : d->end; p < end;) {
        const uint32_t* h = static_cast<uint32_t*>(stkptr(static_cast<int32_t>(p)));
        v.insert(v.end(), {p, h[0], h[1]});
        if (h[1]) v.insert(v.end(), h + 2, h + h[0]);
        p += std::max<uint32_t>(h[0], 2);
      }
    return v;
  };
  const std::vector<uint32_t> low0(lowstk, lowstk + lstk.end), high0(high, high + hwords);
  const StkDesc l0 = lstk, h0 = hstk;
  for (int32_t a : addrs) freblk(a);
  const auto one = layout();
  std::copy(low0.begin(), low0.end(), lowstk);
  std::copy(high0.begin(), high0.end(), high);
  lstk = l0;
  hstk = h0;
  putblks(addrs.data(), addrs.size());
  EXPECT_TRUE(chainok(lstk));
  EXPECT_TRUE(chainok(hstk));
  EXPECT_EQ(layout(), one);
  // What one by one gives: lo[2] keeps its owner, hi[1] (named twice)
  // lost both references; lo[0] (named by a word of its header) merged
  // with lo[1]; the lowest low blocks and the last high ones went back to
  // their gaps.
  EXPECT_EQ(hdr(lo[2])[1], static_cast<uint32_t>(bottom + 2));
  EXPECT_EQ(hdr(hi[1])[0], 16u);
  EXPECT_EQ(hdr(hi[1])[1], 0u);
  EXPECT_EQ(hdr(lo[1])[0], 16u);
  EXPECT_EQ(hdr(lo[3])[1], 0u);
  EXPECT_EQ(hdr(lo[4])[1], 1u);
  EXPECT_EQ(lstk.lowest, lo[5] - 2);
  EXPECT_EQ(hstk.bot, hi[4] - 2);
  EXPECT_EQ(state & ST_ERROR, 0);

  // The owner of a block just taken is set in its header at once; a block
  // not as just taken is looked up as ptrstk does.
  int32_t x;
  ASSERT_EQ(getstk(&x, 6, 4, 3, 0), 6);
  ownnew(x, bottom + 2);
  EXPECT_EQ(hdr(x)[1], static_cast<uint32_t>(bottom + 2));
  ownnew(x, bottom + 3);
  EXPECT_EQ(hdr(x)[1], static_cast<uint32_t>(bottom + 2) | 1u << BLK_REFSHIFT);
  ownnew(hi[0] + 3, bottom + 3);  // an inner word: its block's header
  EXPECT_EQ(hdr(hi[0])[1], static_cast<uint32_t>(bottom + 3));
}
