// Object drawing: vector records turned into pixels, and redraw, which
// walks a stretch of the vector list (or of a vector variable) with it.
//
// Drawn so far: moves, lines and dots (relative ones too), text objects,
// ellipses, and end records' skips; tiles, fills and extended ops consume
// their records and draw nothing yet.
#pragma once
#include <cstdint>

struct PtrRec;

// Draws record index of the list being drawn (the vector list unless a
// redraw names a variable): mode 0 plain, 1 every line drawn from the
// record before it (a move first), -1 moves only. Returns the records
// consumed (at least 1).
int vdraw(int32_t index, int mode);
// n > 0 redraws the last n records of the vector list; n = 0 is the redraw
// command: redraw [start | vector variable] [erase] [flags].
int redraw(int n);

// Back to the start-up state (tests).
void rdrini();
