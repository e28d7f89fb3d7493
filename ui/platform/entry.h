// The program entry: opens the log, starts the interpreter and runs it.
#pragma once
#include <cstdio>

constexpr double PELIX_VERSION = 1.00;

extern int rdonly;           // 1 when the log file could not be opened
extern float sysversion;     // operating-system version number
extern char logname[260];    // the log file's name

int pelix_entry(int argc, char** argv);

// Run by the PELIX_TIMEOUT exit just before the program ends, so that what
// outlives the program (the serial ports' peers) is closed as the shutdown
// closes it. The device layer installs it. It runs in a signal handler: it
// may make async-signal-safe calls only.
extern void (*tmoclose)();

// The operating-system version as major + minor / 1000 (from uname).
float osversion();
// The system name text "Linux_%5.3f".
const char* osname();
