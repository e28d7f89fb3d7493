#include "ui/platform/clock.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
int mode = -1;           // -1 not yet decided, 0 real, 1 virtual
uint64_t virt_ns = 0;    // virtual time since start
uint64_t real_start = 0;

uint64_t mono_now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

void decide() {
  if (mode >= 0) return;
  const char* v = std::getenv("PELIX_CLOCK");
  mode = (v && std::strcmp(v, "virtual") == 0) ? 1 : 0;
  real_start = mono_now();
}
}  // namespace

bool clock_virtual() {
  decide();
  return mode == 1;
}

void clock_set_virtual(bool on) {
  mode = on ? 1 : 0;
  virt_ns = 0;
  real_start = mono_now();
}

uint64_t clock_ns() {
  decide();
  if (mode == 1) return virt_ns;
  return mono_now() - real_start;
}

uint64_t clock_ms_coarse() {
  decide();
  if (mode == 1) return virt_ns / 1000000ull;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  uint64_t ns = static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
  return ns > real_start ? (ns - real_start) / 1000000ull : 0;
}

void clock_sleep_ns(uint64_t ns) {
  decide();
  if (mode == 1) {
    virt_ns += ns;
    return;
  }
  timespec ts{static_cast<time_t>(ns / 1000000000ull), static_cast<long>(ns % 1000000000ull)};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

LocalTime clock_local() {
  decide();
  LocalTime lt{};
  if (mode == 1) {
    // The virtual clock starts at 2026-12-05 10:00:00.000, a Saturday; the
    // date follows the calendar (months, leap years) as its days pass.
    using namespace std::chrono;
    uint64_t ms = virt_ns / 1000000ull;
    uint64_t day_ms = 10ull * 3600000ull + ms;
    const sys_days d = sys_days{year{2026} / December / 5} + days{static_cast<int64_t>(day_ms / 86400000ull)};
    const year_month_day ymd{d};
    lt.year = static_cast<int>(ymd.year());
    lt.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    lt.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    lt.weekday = static_cast<int>(weekday{d}.c_encoding());
    day_ms %= 86400000ull;
    lt.hour = static_cast<int>(day_ms / 3600000ull);
    lt.minute = static_cast<int>(day_ms / 60000ull % 60);
    lt.second = static_cast<int>(day_ms / 1000ull % 60);
    lt.msec = static_cast<int>(day_ms % 1000);
    return lt;
  }
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  localtime_r(&ts.tv_sec, &t);
  lt.year = t.tm_year + 1900;
  lt.month = t.tm_mon + 1;
  lt.weekday = t.tm_wday;
  lt.day = t.tm_mday;
  lt.hour = t.tm_hour;
  lt.minute = t.tm_min;
  lt.second = t.tm_sec;
  lt.msec = static_cast<int>(ts.tv_nsec / 1000000);
  return lt;
}
