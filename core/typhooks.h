// Services of other modules that the watch repaint calls. Each module that
// owns one defines it with this very signature.
#pragma once
#include <cstdint>

// Invalidates a rectangle {left, top, right, bottom} of the current drawing
// port's window so that it repaints; null: the whole window.
int invport(const int32_t* rect);
// 1 when window n is a view whose variable no longer looks as the view last
// showed it (released, freed or given another shape) although no change
// mark says so: it must repaint. 0 for any other window.
int vwstale(int n);
