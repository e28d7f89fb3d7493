// Neighbourhood operations over byte images: the functions convolve (a
// 16-bit integer kernel) and filter (13 kinds: maximum, minimum, local
// stretch, mean, standard deviation, median, Sobel magnitude, hole filling,
// tolerance mean, and kinds that only binarise).
//
// Edges are replicated: columns left of the image repeat its first pixel
// and right of it its last, rows above it its first row and rows below it
// its last row, whatever the window's size. Each result is shifted right, offset, clamped to the maximum and
// raised to the minimum, in that order, then stored.
#pragma once
#include <cstdint>

struct FnCall;

// The dispatcher's operation of convolve (269) and filter (271): the source
// is operand 1 (bytes, else error 113); the destination is written.
// Returns 0, or -1 after an error. fc: the dispatcher's call, whose new
// destination storage is cleared unless every item is written.
int conv(int code, FnCall* fc = nullptr);
int su_conv(FnCall& c);
int run_conv(FnCall& c);
