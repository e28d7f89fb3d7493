// Services of other modules that the typing commands and the watch repaint
// call. Each module that owns one defines it with this very signature; the
// weak stand-ins in typhooks.cpp answer until it is linked.
#pragma once
#include <cstdint>

// Dispatches pending paint messages only (also the update command).
int flushpnt();
// Invalidates a rectangle {left, top, right, bottom} of the current drawing
// port's window so that it repaints; null: the whole window.
int invport(const int32_t* rect);
