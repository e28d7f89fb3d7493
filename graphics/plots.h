// Plots and axes: data arrays drawn as vector objects (lines, dots, marker
// symbols, bars, error bars) placed by the plot record, which the axis
// command sets so that a later plot lands on the axis; and the client box
// of a window as the drawing commands use it.
#pragma once
#include <cstdint>
#include <vector>

struct PtrRec;
struct Wport;

// The plot record: kept between commands, zeroed at start.
struct PlotRec {
  int16_t org[2];   // screen x, y of the zero values
  int16_t lim[2];   // the largest screen x, y drawn (below 1: the box's)
  float zero[2];    // the data x, y at the origin
  float scale[2];   // pixels per data unit (0 counts as 1)
  int16_t flags;    // PR_*
};
enum : int16_t { PR_XLOG = 1, PR_YLOG = 2, PR_YDOWN = 128, PR_AXDOWN = 1024 };
extern PlotRec plotrec;

// The client box of window n (error 190, the box unchanged, when it is
// missing or not shown): i16 box[index + 2] = right, box[index + 3] =
// bottom and box[0], box[1] = left, top; relative: 0, 0 and the width and
// height less one. Index 1 fills a 3-D box {min x, y, z, max x, y, z}.
int winbox(int16_t* box, int n, int relative, int index);
int getwrect(int16_t* box, const Wport* w, int relative, int index);

// The items of a variable as floats (missing items as 0); the count, or
// -1 when it has no items to read.
int32_t fltitems(PtrRec* r, std::vector<float>& out);

// plot (sel 1) and histogram (sel 0).
int plot(int sel);
// axis [data] [flags] [title] [colour] [width] [x0] [y0] [length] [n] [low]
// [high] [tick] [title size] [number size] [w.d]
int axis();

// Back to the start-up state (tests).
void pltini();
