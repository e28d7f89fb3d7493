// Background scans collected from the simulated board library (100 rows a
// status call), and the peak detector of the A/D waits, traced by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "realtime/devices/devsetup.h"
#include "realtime/devices/meascomp.h"
#include "realtime/rtio.h"
#include "tests/realtime/devtest.h"

namespace {

class Scan : public DevFixture {
 protected:
  int32_t n = 0;
  void SetUp() override {
    DevFixture::SetUp();
    ::setenv("PELIX_LIB_MEASCOMP", "libpelix_mcsim.so", 1);
    devrst();
    BoardRec& b = boards[0];
    b.inkind = DK_MEASCOMP;
    b.nin = 8;
    b.inmask = 0xFF;
    b.param = 1;
    b.portmask = 255;
    b.portbits = 8;
    b.nports = 1;
    nboards = 1;
    nextchan = 8;
    ASSERT_EQ(init_meascomp(&b), 1);
  }
  void TearDown() override {
    mcunload();
    devrst();
    ::unsetenv("PELIX_LIB_MEASCOMP");
    DevFixture::TearDown();
  }
  int start(int mask, std::vector<int16_t>& d, int count, int stride = 1) {
    n = 0;
    return adcscan(mask, 1000, count, 0, McVar{reinterpret_cast<uint8_t*>(d.data()), 16, int64_t(d.size())},
                   McVar{}, stride, &n);
  }
};

TEST_F(Scan, AWrappedBufferIsCopiedToItsEndThenFromTheStart) {
  // 150 rows round down to a buffer of 124 (a multiple of the packet, 31).
  std::vector<int16_t> d(206, -1);
  ASSERT_EQ(start(1 << 2, d, 150), 0);
  EXPECT_EQ(mcrec.total, 124);
  EXPECT_EQ(mcscan(), 100);
  EXPECT_EQ(mcscan(), 100);  // rows 100-123, then 124-199 from position 0
  for (int r = 0; r < 200; r++) ASSERT_EQ(d[r], (2 << 12) | r) << r;
  // 206 elements: the counter stops one row short of the capacity.
  EXPECT_EQ(mcscan(), 5);
  EXPECT_EQ(n, 205);
  EXPECT_EQ(d[204], (2 << 12) | 204);
  EXPECT_EQ(d[205], -1);
  mcstop(0, 0);
  EXPECT_FALSE(mcbusy());
}

TEST_F(Scan, RowsAndPacketsCountEveryChannel) {
  // Three channels (1-3, span 3): the buffer is a multiple of 30 samples.
  std::vector<int16_t> d(30, -1);
  ASSERT_EQ(start(0b1110, d, 1000), 0);
  EXPECT_EQ(mcrec.span, 3);
  EXPECT_EQ(mcrec.total % 30, 0);
  EXPECT_EQ(mcrec.total, 30);  // 10 rows asked: at least one multiple of 30
  // Channels 1 and 3 with a gap: every channel of the mask counts, the
  // column of the gap is skipped.
  // Its buffer holds 10 rows, so the first status finds rows 90-99.
  std::vector<int16_t> e(8, -1);
  ASSERT_EQ(start(0b1010, e, 100), 0);
  EXPECT_EQ(mcrec.span, 3);
  mcscan();
  EXPECT_EQ(n, 3);  // capacity 8 / 2 channels = 4 rows, one short
  EXPECT_EQ(e[0], (1 << 12) | 90);
  EXPECT_EQ(e[1], (3 << 12) | 90);
  EXPECT_EQ(e[2], -1);  // a row takes the span: 3 elements
  EXPECT_EQ(e[3], (1 << 12) | 91);
}

TEST_F(Scan, ChannelBlocksStayInsideTheVariable) {
  // Stride 10: channel 1's block starts at element 10; a row that would
  // write past element 14 is not copied. (A buffer of 15 rows: the first
  // status finds rows 90-99.)
  std::vector<int16_t> d(15, -1);
  ASSERT_EQ(start(0b11, d, 100, 10), 0);
  mcscan();
  EXPECT_EQ(n, 5);
  EXPECT_EQ(d[4], 94);
  EXPECT_EQ(d[5], -1);
  EXPECT_EQ(d[10], (1 << 12) | 90);
  EXPECT_EQ(d[14], (1 << 12) | 94);
  // A channel off the board, or no library call taken: refused.
  EXPECT_EQ(start(1 << 9, d, 100), -2);
}

TEST(Peak, CalibratesThenReportsTheStateWaitedFor) {
  // One sample a tick of 500 + 400 sin(18 k degrees): high 900 at tick 5,
  // low 100 at tick 15. The span of 20 ticks is learnt over 80.
  PkRec pk{};
  pk.state = 0xC0;
  pk.low = 32767;
  pk.high = -32767;
  pk.span = 80;
  auto v = [](int k) { return static_cast<int>(std::lround(500 + 400 * std::sin(k * 18 * M_PI / 180))); };
  for (uint32_t k = 0; k < 80; k++) ASSERT_EQ(adpeak(v(k), &pk, 17, 3, k), 0) << k;
  EXPECT_EQ(pk.state, 0xC0);
  EXPECT_EQ(pk.high, 900);
  EXPECT_EQ(pk.thigh, 5u);
  EXPECT_EQ(pk.low, 100);
  EXPECT_EQ(pk.tlow, 15u);
  // The span has passed: the low came last, so a valley is what was found.
  EXPECT_EQ(adpeak(v(80), &pk, 17, 3, 80), 0);
  EXPECT_EQ(pk.state, 18);
  EXPECT_EQ(pk.span, 20u);
  // Held past the hold time (0): 10, a state not waited for, is kept.
  EXPECT_EQ(adpeak(v(81), &pk, 17, 3, 81), 0);
  EXPECT_EQ(pk.state, 10);
  // Above the after-peak mid-point: a peak, the state waited for (17).
  EXPECT_EQ(adpeak(v(82), &pk, 17, 3, 82), 17);
  EXPECT_EQ(pk.start, 82u);
  EXPECT_EQ(pk.state, 10);  // reported, not stored
  // Without flags (an A/D read) a change is kept unreported (0x200) and a
  // later wait for it gets it at once.
  EXPECT_EQ(adpeak(v(83), &pk, 0, 3, 83), 0);
  EXPECT_EQ(pk.state, 17 | 0x200);
  EXPECT_EQ(adpeak(v(84), &pk, 9, 3, 120), 0);
  EXPECT_EQ(pk.state, 17);
  EXPECT_EQ(adpeak(v(84), &pk, 17, 3, 121), 0);
}

}  // namespace
