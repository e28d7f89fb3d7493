// The built-in bitmap face of the text windows: an 8 x 16 character cell.
#pragma once
#include <cstdint>

constexpr int FACEWID = 8, FACEHGT = 16;

// Row y (0..15) of the cell of character c: bit 7 is the leftmost pixel.
uint8_t facerow(unsigned char c, int y);
