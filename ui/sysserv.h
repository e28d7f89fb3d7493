// Platform services used at start and end: memory status, the log's close,
// beeps.
#pragma once
#include <cstdint>

extern uint32_t totphys, availphys;  // physical memory in bytes, clamped to 32 bits

int memstat();
int endwin();
int msgbeep();
