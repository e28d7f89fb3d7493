// Stand-ins for services whose modules are not linked yet. They are weak:
// the owning module's definition replaces each one at link time.
#include "lang/namehooks.h"

#include <chrono>
#include <ctime>

#define WEAK __attribute__((weak))

WEAK int waitev(int, int) { return 0; }
WEAK int peekky() { return 0; }
WEAK int getxy(int, int* x, int* y) {
  if (x) *x = 0;
  if (y) *y = 0;
  return 0;
}
WEAK int curson(int, int) { return 0; }
WEAK int flushq() { return 0; }
WEAK int cmdwin() { return 0; }
WEAK int modctx(int) { return 0; }
WEAK int nargsv() { return 0; }

static void localnow(struct tm* t, int32_t* ms) {
  auto now = std::chrono::system_clock::now();
  std::time_t s = std::chrono::system_clock::to_time_t(now);
  localtime_r(&s, t);
  auto since = now.time_since_epoch();
  *ms = static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000);
}

WEAK int gclock(int32_t* arr) {
  struct tm t;
  int32_t ms;
  localnow(&t, &ms);
  if (arr) {
    arr[0] = t.tm_hour;
    arr[1] = t.tm_min;
    arr[2] = t.tm_sec;
    arr[3] = ms;
    return 0;
  }
  return ((t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec) * 1000) + ms;
}

WEAK int gtime(int32_t* arr) {
  struct tm t;
  int32_t ms;
  localnow(&t, &ms);
  int year = t.tm_year + 1900, month = t.tm_mon + 1;
  if (arr) {
    arr[0] = year;
    arr[1] = month;
    arr[2] = t.tm_mday;
    return 0;
  }
  return t.tm_mday | (month << 5) | (year << 9);
}

WEAK uint32_t tickms(int) {
  using namespace std::chrono;
  static const steady_clock::time_point start = steady_clock::now();
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}
