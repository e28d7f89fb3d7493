// The vector list: the display list of vector records that the vector
// commands append to and redraw replays. It lives in the word memory as a
// vector variable bound to the system name `vecs`, so a user reads the
// records back through it (its write index is the system variable nvecs).
//
// Vector record (8 bytes): i16 x, i16 y, i16 z, u8 (width << 4) | code,
// u8 colour. Codes: 1 line to, 2 move to, 3 dot, 4 to 6 the relative forms
// of 1 to 3, 7 a parameter record. The expanded form that readers get is
// 12 bytes: u8 code, u8 width, i16 colour, i16 x, i16 y, i16 z.
#pragma once
#include <cstdint>

struct PtrRec;

// The list's pointer record (stack address; 0 until vinit made it).
extern int32_t vlrec;
// Colour of new vector records (the drawing colour).
extern uint8_t vcolor;

// Makes the vector list when it does not exist yet (any mode; mode 3 is
// the vector data list, which is not kept here). Returns 0.
int vinit(int mode);
// Sets the record count of the vector list (which <= 0) or of the data
// list (which > 0). Returns 0.
int setnvec(int which, int32_t n);
// Writes one record at index of the vector list, growing it when needed.
int putvec(int32_t index, int x, int y, int z, int code, int colour, int width);
// Appends one record at the write index nvecs (code 1 becomes 2 when the
// list is empty). Returns 0.
int savvec(int x, int y, int z, int code, int colour, int width);
// Record index of a vector list (null: the vector list) in expanded form;
// mode not 0 turns the relative codes into absolute ones from the last
// absolute point. Null past the end (the expanded point is then zeroed).
uint8_t* getvec(PtrRec* list, int32_t index, uint8_t* exp, int mode);
// The 8-byte record index of the vector list, or null.
uint8_t* vecptr(int32_t index);

// The direction code 0..7 of the segment from (x0, y0) to (x1, y1), y
// growing downward: 0 (0, 1), 1 (1, 1), 2 (1, 0), 3 (1, -1), 4 (0, -1),
// 5 (-1, -1), 6 (-1, 0), 7 (-1, 1), taken from the slope.
int dircode(const int16_t* segment);

// Back to no list (start-up and tests).
void vlini();
