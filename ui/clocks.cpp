#include "ui/clocks.h"

#include "core/output.h"
#include "ui/platform/clock.h"

#include <cmath>
#include <cstdio>
#include <cstring>

TmSlot tmslot[NTMSLOT];

namespace {
uint32_t start_tick = 0xFFFFFFFFu;
uint64_t rt_start_ns = 0;
uint32_t rt_start_tick = 0;
int16_t rt_start_time[8];
uint32_t rt_freq = 1000000000u;  // the monotonic clock counts nanoseconds
char datebuf[32];

// The platform tick count: milliseconds of the program's clock, 32 bits.
uint32_t tickcount() { return static_cast<uint32_t>(clock_ns() / 1000000ull); }
}  // namespace

void tickrst() { start_tick = 0xFFFFFFFFu; }

uint32_t tickms(int flag) {
  uint32_t count = tickcount();
  if (start_tick == 0xFFFFFFFFu) {
    start_tick = count;
    return count + 1;
  }
  // Exact modular difference, so a wrapped count still gives elapsed time.
  uint32_t ms = count - start_tick;
  if (flag) return ms;
  // After about 71.6 hours the 60-microsecond count passes 32 bits: it
  // wraps like the millisecond count instead of overflowing the conversion.
  return static_cast<uint32_t>(static_cast<uint64_t>(std::floor(ms / 0.06 + 0.5)));
}

void initRT() {
  rt_start_ns = clock_ns();
  rt_start_tick = tickms(1);
  LocalTime lt = clock_local();
  int16_t t[8] = {static_cast<int16_t>(lt.year),   static_cast<int16_t>(lt.month),
                  static_cast<int16_t>(lt.weekday), static_cast<int16_t>(lt.day),
                  static_cast<int16_t>(lt.hour),    static_cast<int16_t>(lt.minute),
                  static_cast<int16_t>(lt.second),  static_cast<int16_t>(lt.msec)};
  std::memcpy(rt_start_time, t, sizeof t);
  logprintf("initRT: %12.8f (%d Hz) tick0=%d\n", 50000.0 / rt_freq, static_cast<int>(rt_freq),
            static_cast<int>(rt_start_tick));
}

uint32_t rtclock() {
  // 50000 ticks per second: one tick per 20000 ns.
  return static_cast<uint32_t>((clock_ns() - rt_start_ns) / 20000ull);
}

const int16_t* rtstart() { return rt_start_time; }

int32_t gclock(int32_t* arr) {
  LocalTime lt = clock_local();
  if (arr) {
    arr[0] = lt.hour;
    arr[1] = lt.minute;
    arr[2] = lt.second;
    arr[3] = lt.msec;
    return 0;
  }
  return ((lt.hour * 3600 + lt.minute * 60 + lt.second) * 1000) + lt.msec;
}

int32_t gtime(int32_t* arr) {
  LocalTime lt = clock_local();
  if (arr) {
    arr[0] = lt.year;
    arr[1] = lt.month;
    arr[2] = lt.day;
    return 0;
  }
  return lt.day | lt.month << 5 | lt.year << 9;
}

const char* datestr() {
  LocalTime lt = clock_local();
  std::snprintf(datebuf, sizeof datebuf, "%2d/%02d %2d:%02d:%02d", lt.month, lt.day, lt.hour,
                lt.minute, lt.second);
  return datebuf;
}

int RTclockTest(int ms, int flags) {
  if (!(flags && rt_freq)) initRT();
  if (flags & 1) jprintf(lstlun, "Testing clocks for %d msecs ...\n", ms);
  uint32_t t0 = tickms(1), c0 = rtclock();
  uint32_t want = static_cast<uint32_t>(ms) * 50u;
  while (rtclock() - c0 < want) {
    if (clock_virtual()) clock_sleep_ns(20000);
  }
  uint32_t dc = rtclock() - c0;
  uint32_t dt = tickms(1) - t0;
  float perf = static_cast<float>(dc) / 50.0f;
  float ratio = dt ? perf / static_cast<float>(dt) : 1.0f;
  int result = static_cast<int>(ratio * 1000.0f + 0.5f);
  if (flags & 1) {
    jprintf(lstlun, "Tested Clocks:\n");
    jprintf(lstlun, "  Requested:         %10.3f s\n", ms / 1000.0);
    jprintf(lstlun, "  Performance clock: %10.3f s (Freq: %u Hz)\n", perf / 1000.0, rt_freq);
    jprintf(lstlun, "  Tick counter:      %10.3f s\n", dt / 1000.0);
  } else {
    logprintf("RTclockTest %d ms -> %.1f %d ms (%u Hz)\n", ms, static_cast<double>(perf),
              static_cast<int>(dt), rt_freq);
  }
  if (result == 1000) return result;
  if (flags & 2) {
    // The adjusted frequency is kept for later reports only.
    rt_freq = static_cast<uint32_t>(static_cast<double>(rt_freq) * ratio);
    logprintf("RT clock frequency adjusted to: %u Hz\n", rt_freq);
    if (flags & 1) jprintf(lstlun, "RT clock frequency adjusted to: %u Hz\n", rt_freq);
  }
  return result;
}

int tmstat(int flag, int slot, const char* name) {
  if (slot < 0 || slot >= NTMSLOT) return 0;
  // Read around every command: the coarse clock costs a few nanoseconds
  // where the fine one costs tens, and its totals still sum real time.
  uint32_t now = static_cast<uint32_t>(clock_ms_coarse());
  TmSlot& s = tmslot[slot];
  if (flag == 1) {
    s.total += now - s.start;
    tmcount(slot, name);
  }
  s.start = now;
  return 0;
}

void tmcount(int slot, const char* name) {
  if (slot < 0 || slot >= NTMSLOT) return;
  TmSlot& s = tmslot[slot];
  // A slot keeps its name: copied again only when it was cleared (the
  // count with it) or another name comes.
  static const char* named[NTMSLOT];
  if (name && (s.count == 0 || named[slot] != name)) {
    std::strncpy(s.name, name, sizeof s.name);
    named[slot] = name;
  }
  s.count++;
}
