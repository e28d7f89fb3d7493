// The scanline polygon filler: the crossings of a run of vector records'
// outline with the rows of the drawing box, sorted along each row and
// drawn as spans between pairs, or set as the bits of a one-bit mask.
//
// A row counts the crossings of the edges that span it, top row included
// and bottom row left out, so a vertex that a contour passes through
// counts once and a top or bottom vertex twice or not at all; horizontal
// edges are left to the outline. Points left or right of the drawing box
// cross at its edge, so a polygon partly outside is filled up to the box.
#pragma once
#include <cstdint>

struct PtrRec;

// A crossing: its x and z, and the next crossing of its chain (-1: none;
// sltsrt sorts such chains). The filler keeps the crossings of a row one
// after another instead, in the order their edges come.
struct FillSlot {
  int16_t x;
  int16_t z;
  int32_t next;
};

// The crossings of each row: their count and the slot of the first (the
// row's crossings follow it in the pool); lo and hi the range of rows that
// received any. count and first have rows + 1 entries (the filler counts
// an edge's rows at their ends: one more and one less after its last row).
struct FillRows {
  int rows = 0;
  int32_t* count = nullptr;
  int32_t* first = nullptr;
  int lo = INT32_MAX, hi = -1;
};

// Mode of paint that makes a mask instead of drawing.
constexpr int FILL_MASK = -4;

// The list the filler reads its points from (null: the vector list).
extern PtrRec* fillst;

// Fills the outline of the run of count records from start (count < 1: up
// to the write index, ending after the first record that is no point after
// points) with colour: the outline drawn by the pen (mode >= 0; mode 1
// draws with 0), then the spans. open > 0 leaves the contours open. In mask
// mode (FILL_MASK) nothing is drawn: the mask of the outline and its inside
// is returned (rows of box[2] - box[0] + 1 bits, high bit first) and box
// gets the outline's bounding box (left, top, right, bottom); null when
// there is none or it would need 32768 bytes or more. Error 114 when the
// crossings need more memory than is free.
uint8_t* paint(int32_t start, int32_t count, uint32_t colour, int mode, int open, int16_t* box);
// The crossings of the outline into the slot pool and the rows; the first
// row of the outline, or below 0 (nothing inside the box, error 114, or
// interrupted). *fx, *lx and *lastrow get its x range and last row.
int filslT(int32_t start, int32_t count, FillSlot* pool, int32_t poolsize, FillRows* tab, uint32_t colour,
           int mode, int* fx, int* lx, int* lastrow, int open);
// Sorts a row's chain of count crossings by x (equal x keep their order).
int sltsrt(int32_t count, int32_t head, FillSlot* pool);
// Draws the spans of the rows first to lastrow (every penwidth-th row), or
// in mask mode returns the mask of x range fx..lx.
uint8_t* DRwslt(FillSlot* pool, int first, FillRows* tab, uint32_t colour, int mode, int fx, int lx, int lastrow);
