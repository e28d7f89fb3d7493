// Platform services used at start and end: memory status, the log's close,
// the task bar, the window table's size, cursors, the menu bar, beeps, the
// environment, and the sysint command.
#pragma once
#include <cstdint>

extern uint32_t totphys, availphys;  // physical memory in bytes, clamped to 32 bits

// Records the memory status (and logs it while the log is open). 0.
int memstat();
// Byte counts above 4 GiB are clamped to 0xFFFFFFFF, not wrapped.
uint32_t clamp32(unsigned long long v);
// Closes the log file and shows the task bar again. 0.
int endwin();
// Shows (1) or hides (0) the task bar; there is none here. 0.
int TaskBar(int show);
// Grows the window table to max(n, count) entries: the count, 0 when that
// is below 8, equal to the count or above 1000, -1 when it cannot grow.
int initports(int n);
// Entries the window table holds.
int portcount();
// The program cursors: the arrow, a ring (hot spot 4,4) and a bar (6,7),
// 8 x 8 with one byte per row of AND and XOR mask. 0.
int mkcursors();
struct Cursor8 {
  uint8_t andmask[8];
  uint8_t xormask[8];
  int8_t hotx, hoty;
};
extern Cursor8 ringcur, barcur;
// Makes the menu bar (empty until menus are appended). 0.
int mkmenubar();
// The simple beep; a sine tone of a frequency (37 to 32767 Hz) and a
// duration (ms) through the audio layer, returning when it has sounded
// (-1 for a frequency or duration out of range).
int msgbeep();
int sysbeep(int duration, int frequency);
// A string variable of the lower-cased name (at most 40 characters) with a
// non-empty text, else the process environment; null when neither has it.
const char* getenvs(const char* name);
// The sysint command (code 307).
int sysint();
