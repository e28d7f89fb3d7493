// Services of other modules that the watch repaint calls. Each module that
// owns one defines it with this very signature; the weak stand-in in
// typhooks.cpp answers until it is linked.
#pragma once
#include <cstdint>

// Invalidates a rectangle {left, top, right, bottom} of the current drawing
// port's window so that it repaints; null: the whole window.
int invport(const int32_t* rect);
