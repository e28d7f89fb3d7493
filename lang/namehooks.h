// Services of other modules that the system variables call. Each module
// that owns one of these declares and defines it with this signature.
#pragma once
#include <cstdint>

// Input (user interface): waits time ms (unit 1) or s (unit 0) while
// polling input, or with a negative time until a key, whose code it returns.
int waitev(int time, int unit);
// The next type-ahead key without taking it, 0 when the buffer is empty.
int peekky();
// Interactive point input: follows the pointer until a key or button,
// writes the point into x and y and the cursor position cells.
int getxy(int mode, int* x, int* y);
// Turns the system pointer (which 0x1) and the drawn cross-hair (0x10) on
// or off; returns the previous state.
int curson(int which, int on);

// Command language: drains pending input events; makes the command window
// current; enters (0x4000) or leaves (0) nested input.
int flushq();
int cmdwin();
int modctx(int enter);
// Inside a macro the argument count of the current frame, at top level the
// word count of the current command.
int nargsv();
