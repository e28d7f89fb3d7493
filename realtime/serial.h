// Serial port slots (units 100 and up of formatted output write to slot unit - 100).
#pragma once

// Writes n bytes to serial port slot `slot`; returns the count written, or -1
// when the slot is not open.
int cwrite(int slot, const char* buf, int n);
