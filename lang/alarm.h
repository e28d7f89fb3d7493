// Alarms: command texts that run later, after a delay, repeatedly with a
// period, or at a time of day. The alarm list is polled by the main loop
// (alarmck) while status bit 0x2000 is set; a due alarm's text is queued on
// the default queue and runs as a typed command would.
#pragma once
#include <cstdint>

#include "lang/mainloop.h"  // PendQ

// One alarm: a 36-byte headed block of the low stack.
struct AlmRec {
  uint32_t self;     // its own stack address (for freeing)
  float interval;    // seconds: > 0 once, < 0 every |interval| seconds
  int32_t due;       // due time of day in centiseconds (below CSDAY)
  uint32_t date;     // due date: day | month << 5 | year << 9
  uint32_t next;     // the next alarm of the list (0: the end)
  PendQ q;           // the command text
  uint8_t number;    // 1 .. 255
  uint8_t prio;      // priority in bits 0-6; bit 7 disabled
  uint16_t spare;
};
static_assert(sizeof(AlmRec) == 36, "an alarm record is 36 bytes");

constexpr int32_t CSDAY = 8640000;  // centiseconds of a day
constexpr uint8_t ALM_OFF = 0x80;   // priority bit: disabled
constexpr int ALM_MAXNUM = 255;     // highest alarm number

// Set when the main loop has served a Ctrl-C: alarms that fell due meanwhile
// do not start before the prompt (the Ctrl-C gives control back), and the
// prompt runs them only once nothing typed waits. The prompt clears it.
extern bool almhold;

// Head of the alarm list (stack address of the first record, 0 empty),
// kept in order of due date, then due time.
extern int32_t almhead;

// The alarm command.
int Alarm();
// n >= 0 and no record: the alarm numbered n (null when none).
// With a record: unlinks it; value >= 0 removes it (text and block freed),
// value < 0 reschedules it |value| seconds from now, keeping its number.
// Without a record and n < 0: a new alarm (n -1 a delay of value seconds,
// n -2 the time of day value in seconds) whose text is string argument 3 of
// the current command and priority argument 4; n receives its number.
// Returns the record, or null.
AlmRec* setalm(int* n, float value, AlmRec* rec);
// Lists alarm n (all when n <= 0) on the current output unit.
int almlst(int n, int detail);
// Frees every alarm (start-up and tests).
void almclr();
