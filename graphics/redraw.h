// Object drawing: vector records turned into pixels (moves, lines, dots,
// texts, ellipses, tiles and fills, end records' skips), and redraw, which
// walks a stretch of the vector list (or of a vector variable) with it.
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
// Shades and fills a tile (width >= 0: the triangle of the vertices at
// index + the record's x, y and z, drawn only with a parameter record that
// faces the viewer) or a fill (width < 0: the record's y points from index
// + its x). record and parameter are expanded points (parameter null when
// there is none).
int vtile(int32_t index, const uint8_t* record, uint32_t colour, int width, int mode, const uint8_t* parameter);
// The absolute point of record index of a list (relative records added to
// the absolute point before them), untransformed: its expanded form in out,
// or null when there is no such record.
uint8_t* vabs(PtrRec* list, int32_t index, uint8_t* out);

// Back to the start-up state (tests).
void rdrini();
