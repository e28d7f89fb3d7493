// Text macros: the macro state cells that the rest of the system reads.
#pragma once
#include <cstdint>

// Macro mode: 0 no macro; otherwise the PutMac mode + 1 (1 a frame without a
// file, 3 a text macro, 5 a compiled macro); bit 0x800 while "sysstart" runs,
// bit 0x1000 while "start" runs.
extern uint16_t macmod;
extern int16_t maclev;  // macro level: depth of nested macro calls
extern int16_t maclin;  // number of the current line of the running macro

// The file path (or library name) of the running macro; "" when none.
const char* macnam();
// Records the running macro's name (at most 255 characters are kept).
void setmacnam(const char* name);
