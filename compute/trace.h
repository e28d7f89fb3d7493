// Region search and outline tracing over the image that simage refers to,
// and the foot of a perpendicular.
//
// search walks from a point in one direction until it meets a pixel inside
// the value range [low, high]; trace follows the outline of the region of
// in-range pixels from a start point on the four axis neighbours and
// appends it to the vector list as a move record and line records.
//
// Direction codes 0..7 and their steps (dx, dy), y growing downward:
// 0 (0, 1), 1 (1, 1), 2 (1, 0), 3 (1, -1), 4 (0, -1), 5 (-1, -1), 6 (-1, 0),
// 7 (-1, 1).
#pragma once
#include <cstdint>

struct FnCall;

// The search and trace functions (mode 0 search, 1 trace): the result
// point into the 8-byte record `out`. Returns the records appended (trace),
// or 1 found / 0 not found (search); -1 when the image or point is missing.
int trcfun(uint8_t* out, int mode);
// Follows the outline from the point (x, y) in a direction (negative: any
// of the four axis directions). Returns the records appended. It works with
// the state tset gave it, else with tflags, tlo, thi and the simage image.
int trace(const int16_t* point, int direction);
// Sets the state trace works with: flags, range, save interval; the image
// is the one simage refers to, for the current command. False when there is
// no image.
bool tset(int flags, int low, int high, int interval);
// The foot of the perpendicular from p onto the line through a and b
// (points of i16 x, y); writes x and y of out.
void perp(const int16_t* p, const int16_t* a, const int16_t* b, int16_t* out);

// Function dispatcher rows: search and trace (257, 258), perp (242).
int su_trace(FnCall& c);
int run_trace(FnCall& c);
int su_perp(FnCall& c);
int run_perp(FnCall& c);
