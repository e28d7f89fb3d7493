// Clocks: milliseconds since start, the 20-microsecond real-time clock,
// the local date and time, and the time profile.
#pragma once
#include <cstdint>

uint32_t tickms(int flag);
// Forgets the start tick, so the next tickms call is a first call again
// (as at program start; tests use it).
void tickrst();
void initRT();
uint32_t rtclock();
const int16_t* rtstart();  // year, month, weekday, day, hour, minute, second, ms
int32_t gclock(int32_t* arr);
int32_t gtime(int32_t* arr);
const char* datestr();
int RTclockTest(int ms, int flags);
int tmstat(int flag, int slot, const char* name);
// Counts one more timed run in a slot without reading the clock (commands
// that take far less than its resolution).
void tmcount(int slot, const char* name);

struct TmSlot {
  uint32_t total;
  uint32_t start;
  uint16_t count;
  char name[6];
};
static_assert(sizeof(TmSlot) == 16);
constexpr int NTMSLOT = 22;
// Slots of the command roads the dispatcher times.
enum { TM_ASSIGN = 1, TM_FTYPE = 2, TM_IMPLYD = 3, TM_IFTEST = 4, TM_MENDIF = 5 };
extern TmSlot tmslot[NTMSLOT];
