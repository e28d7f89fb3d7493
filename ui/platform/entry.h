// The program entry: opens the log, starts the interpreter and runs it.
#pragma once
#include <cstdio>

constexpr double PELIX_VERSION = 1.00;

extern int rdonly;           // 1 when the log file could not be opened
extern float sysversion;     // operating-system version number
extern char logname[260];    // the log file's name

int pelix_entry(int argc, char** argv);

// The operating-system version as major + minor / 1000 (from uname).
float osversion();
// The system name text "Linux_%5.3f".
const char* osname();
