// The program's logical palette: 256 colours of three bytes. It starts as
// the 3-3-2 colour cube of the program colour table; `setpal` loads entries
// into it and `nearpal` finds the entry nearest to a colour.
#pragma once
#include <cstdint>

constexpr int PALSIZ = 256;

// Sets count entries from index first (entries: four bytes each, red, green,
// blue and a flag byte that is ignored); entries past the palette are
// dropped. The screen takes the palette at once. Returns the entries set.
int setpal(int first, int count, const uint8_t* entries);
// Reads count entries from index first into out (four bytes each: red,
// green, blue, 0); entries past the palette are not read. Returns the
// entries read.
int getpal(int first, int count, uint8_t* out);
// The index of the palette entry nearest (least squared distance, the lowest
// index among equals) to a colour given as three 16-bit components.
int nearpal(const int16_t* colour);
// Entry i as three bytes (null outside the palette).
const uint8_t* palent(int i);
// Back to the colour cube.
void palini();
