// Colour tables and value mapping: pixel format conversion (rgb), nearest
// palette colours (color), lookup tables (maklut), mapping through a table
// (map), table search (index) and the palette stretch command.
#pragma once
#include <cstdint>

#include "compute/func.h"

// Fills a lookup table of n 16-bit entries: per channel c (0 .. s-1, mask
// bit 1 << c set), entries below i0 get o0, entries i0 .. i1 a ramp from o0
// with slope (o1 - o0 +- 1) / (i1 - i0 +- 1), entries above i1 get o1; the
// entry of index k and channel c sits at k * s + c. Positions outside the
// table are skipped.
int maklut(int16_t* table, int32_t n, int32_t i0, int32_t i1, int32_t o0, int32_t o1, int s,
           int32_t mask);

// The operations on the current operand table; n is the operand count.
int rgbcnv(int n);
int mapcolor();
// c: the dispatcher's call, whose new destination storage the map clears
// or covers (fnfresh); null clears nothing.
int DoMap(int n, FnCall* c = nullptr);
// mode 0 numbers, 1 one key string, 2 a list of key strings.
int doindex(int n, int mode);

// The stretch command: reloads the screen palette through a lookup table.
int stretch();

// Rows of the function table.
int su_maklut(FnCall& c);
int run_maklut(FnCall& c);
int su_map(FnCall& c);
int run_map(FnCall& c);
int su_index(FnCall& c);
int run_index(FnCall& c);
int su_rgb(FnCall& c);
int run_rgb(FnCall& c);
int run_color(FnCall& c);
