// The program entry: opens the log, starts the interpreter and runs it.
#pragma once
#include <cstdio>

constexpr double PELIX_VERSION = 1.00;

extern int rdonly;           // 1 when the log file could not be opened
extern float sysversion;     // operating-system version number
extern char logname[260];    // the log file's name

int pelix_entry(int argc, char** argv);

// Adds a closer run by the PELIX_TIMEOUT exit just before the program ends,
// so that what outlives the program (the serial ports' peers, a shell
// command's processes) is ended as the shutdown ends it. The layers that
// start such processes add theirs (at most four). A closer may run on the
// time-out's watcher thread while the program's own thread is stuck: it
// may make async-signal-safe calls only.
void tmoclose(void (*closer)());
// Run by the orderly end of the time-out (tmoend, on the program's own
// thread) and by the program's end (finish) before the units are closed:
// the work a Ctrl-C finishes when it stops an operation, such as closing
// the files of a timed run. The real-time layer installs it.
extern void (*tmofinish)();

// The PELIX_TIMEOUT end, and the end asked by SIGTERM, SIGHUP or SIGQUIT. A
// watcher thread marks the time-out when it comes, a signal handler the
// signal; the polls and the input pumps see the mark and end the program
// there, as a Ctrl-C would stop the running operation: tmoend writes and
// closes the output units, drops the changed buffers of file-backed
// variables, ends the serial peers and exits with status 124 for the
// time-out, 128 + the signal's number for a signal (its diagnostic on
// standard error), standard output holding what the run printed. When no
// poll comes within 2 s, the watcher ends the program itself.
bool tmoarmed();  // a time-out is set
bool tmodue();    // the end (time-out or signal) has come
// A descriptor that becomes readable when the end has come (-1: none), for
// waits on input to wake at once.
int stopfd();
[[noreturn]] void tmoend();

// The operating-system version as major + minor / 1000 (from uname).
float osversion();
// The system name text "Linux_%5.3f".
const char* osname();
