// Image analysis and rearrangement: the 16-bit histogram routine, and the
// functions swap (byte order of 16- and 32-bit data), flip (mirror and
// diagonal flips) and zoom (reduction by keeping every n-th element, and
// enlargement by pixel replication).
#pragma once
#include <cstdint>

struct FnCall;

// Adds n unsigned 16-bit values into hist (nbins counts); values above
// nbins - 1 count in the top bin. Does nothing unless code is 16. Returns 0.
int hist16(const uint16_t* values, uint32_t* hist, int32_t n, int code, int32_t nbins);

// Reverses n bytes in place.
void revbyt(uint8_t* p, int32_t n);

// zoom: factors zx, zy (negative reduce, positive enlarge, 0 keep), centre
// px, py, and n source elements per row. Returns 0, or -1 after error 120.
int zoomer(int zx, int zy, int px, int py, int32_t n);

// Dispatcher steps of zoom (264), flip (267) and swap (285).
int su_zoom(FnCall& c);
int run_zoom(FnCall& c);
int su_flip(FnCall& c);
int run_flip(FnCall& c);
int su_swap(FnCall& c);
int run_swap(FnCall& c);
