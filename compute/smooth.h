// Smoothing, interpolation, dithering and stereograms: the functions smooth
// (a running mean along storage order, or over the points of vector
// records), interpolate (linear, step, spline and counting modes over a
// table), dither (weighted cell sums of a bit image) and stereogram (a
// random-dot or patterned stereogram by linked pixels with hidden-surface
// removal), and the side-by-side screen layout of stereo movie display.
#pragma once
#include <cstdint>

struct FnCall;

// Dispatcher steps of smooth (255), interpolate (266), dither (270) and
// stereogram (287).
int su_smooth(FnCall& c);
int run_smooth(FnCall& c);
int su_ipolat(FnCall& c);
int run_ipolat(FnCall& c);
int su_dither(FnCall& c);
int run_dither(FnCall& c);
int su_stereo(FnCall& c);
int run_stereo(FnCall& c);

// The line through (x0, y0) and (x1, y1): slope *a and intercept *b, result
// 1; for equal x, *b = the middle y, *a unchanged, result 0.
int linab(float x0, float y0, float x1, float y1, float* a, float* b);

// The cubic curve through four points (px[k], py[k]) parameterised by the
// chord lengths between them, evaluated at n x values between px[1] and
// px[2]: n y values.
void spline(const float* px, const float* py, const float* chord, int n, const float* xs,
            float* ys);

// Screen pixel memory for direct stereo display: its first byte, bits per
// pixel, bytes per row and rows. The display installs `scrpixhk`; without
// it there is no screen memory.
struct ScrPix {
  uint8_t* mem;
  int16_t bits;
  int16_t rowbytes;
  int16_t rows;
};
extern int (*scrpixhk)(ScrPix* out);

// Side-by-side stereo layout on the screen: offset (pixels between the two
// halves, -1 and -2 special layouts), d bits per pixel, in/out x, y and
// width; out the row bytes, left and right skip bytes and the first bytes
// of the left and right halves. Returns 1, or -1 when the depth differs
// from the screen's, there is no screen memory, or the rectangle does not
// fit the screen.
int stereoscreen(int offset, int d, int* x, int* y, int* width, int* rowbytes, int* lskip,
                 int* rskip, uint8_t** left, uint8_t** right);
