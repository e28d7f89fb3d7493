// Start-up and shutdown of the interpreter: cmdlin brings it up from the
// platform entry to the first command, quit and finish take it down, dmpcor
// writes the dump files after a fatal state, fpetrp catches fatal signals,
// inimnu opens the menu file, modctx saves the macro state around nested
// input.
#pragma once
#include <cstdint>

// The interpreter's start-up, given the whole command line (program word
// first, then the options).
void cmdlin(const char* line);
// End of a start-up phase: 0x800 after "sysstart", 0x1000 after "start".
int Endstart(int flags);
// Runs the main loop; never returns (the program ends through finish).
int runmain();
// The quit command: ask 1 asks for confirmation first (Cancel returns 0);
// ask 2 or more only asks and returns 1 when confirmed. Outside macros the
// first quit runs the quitstr text and returns 0.
int quit(int ask);
// Ends the program with `status` after closing down devices and files.
[[noreturn]] void finish(int status);
// Writes the dump file "core"; with debug also "coredbg", which becomes the
// debug unit with every trace bit set. Sets the quit bit.
int dmpcor(int debug);
// Installs the handler of fatal signals (floating-point, segmentation and
// bus faults): floating-point exceptions stay masked, and a fatal signal
// writes the dump files and ends the program; it never returns into the
// faulting instruction.
int fpetrp();
// Opens (create: makes) the system menu file on the menu unit. The unit,
// or -1 (error 97 for a bad or uncreatable file).
int inimnu(int create);
extern int16_t mnulun;       // the menu unit (-1: not open)
extern uint8_t mnuhdr[32];   // the menu file's header as read (or made)
// Enters (0x4000) or leaves (0) nested input. With MODNEST the levels are
// counted: each entry saves a context of its own, even inside nested input,
// and each leave restores the last one; nested input ends with the last
// level. Without it, an entry inside nested input does nothing and a leave
// ends every level (the pflags bit set by hand).
constexpr int MODNEST = 1;
int modctx(int enter);

// The screen picked by the option text (the string variable cmdlin):
// "screen" followed (past blanks and "=") by l/L the leftmost, r/R the
// rightmost, a digit that screen; 1 when out of range or not given.
// lefts holds the left edge of each of the n screens.
int pickscr(const char* text, const int* lefts, int n);
// The dump file "core" written into file descriptor fd with raw writes
// (safe inside a signal handler). 0, or -1 when a write failed.
int wrcore(int fd);
