// The system's global option and status words, shared by every subsystem.
// They are the cells behind the system variables state, pflags, aflags and
// debug; the names table reads and sets them.
#pragma once
#include <cstdint>

// Status word bits.
enum : int32_t {
  ST_ERROR = 0x8000,     // an error was reported
  ST_LISTING = 0x4000,   // listing output in progress (paging)
  ST_ALARMS = 0x2000,    // the alarm list is not empty
  ST_QUIT = 0x1000,      // quit requested
  ST_NOIDLE = 0x0800,    // blocks the idle step
  ST_NOECHO = 0x0400,    // skip one echo
  ST_COMPILE = 0x0200,   // a macro is being compiled
  ST_INTR = 0x0100,      // interrupt (Ctrl-C)
  ST_STOP = 0x0080,      // stop
  ST_EDITOR = 0x0040,    // full-screen editor active
  ST_TEMPUNITS = 0x0020, // temporary units open
  ST_PAGING = 0x0010,    // the paging count has been started
  ST_STARTUP = 0x0008,   // start-up macro running
  ST_CMACRO = 0x0004,    // compiled macro running
  ST_TMACRO = 0x0002,    // text macro running
  ST_QUEUED = 0x0001,    // the default queue has text
};

// The status word (system variable state); 16 bits used.
extern int32_t state;
// Option words: pflags, aflags and the trace mask (system variable debug).
extern int32_t pflags;
extern int32_t aflags;
extern int32_t trcmsk;
// Debug level of the log file: 1 while "pelix.log" is open.
extern int32_t jdebug;

// True when a long loop must stop (error, interrupt or stop).
inline bool stopped() { return (state & 0x8180) != 0; }
