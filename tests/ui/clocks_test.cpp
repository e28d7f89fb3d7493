#include "ui/clocks.h"
#include "ui/platform/clock.h"

#include <gtest/gtest.h>

// Runs in its own process per test (gtest_discover_tests), but the clock
// state is global: each test sets the virtual clock first.

TEST(Clocks, TickmsFirstCallWrapAndSixtyMicrosecondUnits) {
  clock_set_virtual(true);
  tickrst();
  // Park the 32-bit millisecond count 5 ms before it wraps.
  clock_sleep_ns((0xFFFFFFFFull - 4) * 1000000ull);
  uint32_t first = tickms(1);
  EXPECT_EQ(first, 0xFFFFFFFFu - 4 + 1);  // the first call returns the count + 1
  clock_sleep_ns(10 * 1000000ull);         // the count wraps past 0
  EXPECT_EQ(tickms(1), 10u);               // exact modular difference, no lost ms
  clock_sleep_ns(3 * 1000000ull);
  EXPECT_EQ(tickms(1), 13u);
  EXPECT_EQ(tickms(0), 217u);  // 13 / 0.06 = 216.67, rounded
}

TEST(Clocks, TickmsSixtyMicrosecondUnitsWrapAfterSeventyTwoHours) {
  clock_set_virtual(true);
  tickrst();
  tickms(1);
  // 100 hours: 360000000 ms are 6000000000 units of 60 us, past 32 bits.
  clock_sleep_ns(360000000ull * 1000000ull);
  EXPECT_EQ(tickms(1), 360000000u);
  EXPECT_EQ(tickms(0), static_cast<uint32_t>(6000000000ull));
}

TEST(Clocks, RtclockCountsTwentyMicrosecondTicks) {
  clock_set_virtual(true);
  initRT();
  EXPECT_EQ(rtclock(), 0u);
  clock_sleep_ns(1000000ull);  // 1 ms = 50 ticks
  EXPECT_EQ(rtclock(), 50u);
  clock_sleep_ns(19999ull);
  EXPECT_EQ(rtclock(), 50u);  // truncated toward zero
  clock_sleep_ns(1ull);
  EXPECT_EQ(rtclock(), 51u);
}

TEST(Clocks, DateAndTimeOfDayPacking) {
  clock_set_virtual(true);  // starts 2026-12-05 10:00:00.000
  EXPECT_EQ(gtime(nullptr), 5 | 12 << 5 | 2026 << 9);
  int32_t d[3];
  EXPECT_EQ(gtime(d), 0);
  EXPECT_EQ(d[0], 2026);
  EXPECT_EQ(d[1], 12);
  EXPECT_EQ(d[2], 5);
  clock_sleep_ns(61234ull * 1000000ull);  // 1 min 1.234 s later
  EXPECT_EQ(gclock(nullptr), (10 * 3600 + 1 * 60 + 1) * 1000 + 234);
  int32_t t[4];
  gclock(t);
  EXPECT_EQ(t[0], 10);
  EXPECT_EQ(t[1], 1);
  EXPECT_EQ(t[2], 1);
  EXPECT_EQ(t[3], 234);
  EXPECT_STREQ(datestr(), "12/05 10:01:01");
}

TEST(Clocks, VirtualDateFollowsTheCalendar) {
  clock_set_virtual(true);  // 2026-12-05 10:00, a Saturday
  const uint64_t day = 86400ull * 1000000000ull;
  auto at = [](int y, int m, int d) { return d | m << 5 | y << 9; };
  EXPECT_EQ(clock_local().weekday, 6);
  clock_sleep_ns(26 * day);  // the last day of the year
  EXPECT_EQ(gtime(nullptr), at(2026, 12, 31));
  clock_sleep_ns(14 * 3600ull * 1000000000ull - 1000000ull);  // 23:59:59.999
  EXPECT_EQ(gtime(nullptr), at(2026, 12, 31));
  clock_sleep_ns(1000000ull);  // midnight: a new month and year
  EXPECT_EQ(gtime(nullptr), at(2027, 1, 1));
  EXPECT_EQ(clock_local().weekday, 5);  // a Friday
  EXPECT_EQ(clock_local().hour, 0);
  clock_sleep_ns(58 * day);
  EXPECT_EQ(gtime(nullptr), at(2027, 2, 28));
  clock_sleep_ns(day);  // 2027 is no leap year
  EXPECT_EQ(gtime(nullptr), at(2027, 3, 1));
  clock_sleep_ns(365 * day);
  EXPECT_EQ(gtime(nullptr), at(2028, 2, 29));  // 2028 is
  EXPECT_EQ(clock_local().weekday, 2);           // a Tuesday
}
