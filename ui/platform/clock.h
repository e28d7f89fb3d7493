// The one clock object: every clock read of the program goes through it.
// PELIX_CLOCK=virtual makes it a virtual clock that starts at a fixed time
// and only moves when a wait advances it, so timed runs are repeatable.
#pragma once
#include <cstdint>

struct LocalTime {
  int year, month, weekday, day, hour, minute, second, msec;
};

// Monotonic time in nanoseconds since the clock was first read.
uint64_t clock_ns();
// Milliseconds since the clock was first read, from the kernel's coarse
// monotonic clock (its tick's resolution, a few nanoseconds a read); the
// virtual clock when that is in use.
uint64_t clock_ms_coarse();
// Waits (or, on the virtual clock, advances) for `ns` nanoseconds.
void clock_sleep_ns(uint64_t ns);
// The local date and time of day.
LocalTime clock_local();
// True when the virtual clock is in use.
bool clock_virtual();
// Test hook: switch to the virtual clock (or back) and reset it.
void clock_set_virtual(bool on);
