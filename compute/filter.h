// Neighbourhood operations over byte images: the functions convolve (a
// 16-bit integer kernel) and filter (13 kinds: maximum, minimum, local
// stretch, mean, standard deviation, median, Sobel magnitude, hole filling,
// tolerance mean, and kinds that only binarise).
//
// Edges are replicated: rows above the image repeat its first row, rows
// below its last, columns left of it its first pixel and right of it its
// last. Each result is shifted right, offset, clamped to the maximum and
// raised to the minimum, in that order, then stored.
#pragma once
#include <cstdint>

struct FnCall;

// The dispatcher's operation of convolve (269) and filter (271): the source
// is operand 1 (bytes, else error 113); the destination is written.
// Returns 0, or -1 after an error.
int conv(int code);
int su_conv(FnCall& c);
int run_conv(FnCall& c);
