// Geometric transforms: the transform record of a variable (rotation about
// three axes in a chosen order, scale, pin and offset), the commands that
// set it (rotate, scale, pin, offset), the function transform that
// resamples an array through it, freeze and zscan, and the matrix routines.
#pragma once
#include <cstdint>

#include "compute/func.h"
#include "core/varbl.h"

// Transform word bits (Flg2 >> 4).
enum : uint16_t {
  XF_ROT = 0x1,
  XF_SCALE = 0x2,
  XF_OFFSET = 0x4,
  XF_PIN = 0x8,
};
// The axis order of the transform word (bits 4-9 after the shift).
inline int xforder(uint16_t flg2) { return (flg2 >> 8) & 0x3F; }

// The 3 x 3 rotation about one axis (0 x, 1 y, 2 z) by angle degrees,
// row by row into out.
void rotaxis(int axis, float angle, float* out);
// out = b x a for n x n float matrices (out may be a or b); nothing when n
// is above 64 or scratch memory is short.
void mulmat(const float* a, const float* b, float* out, int n);
// Matrix of xf from angles in the axis order `order`. Returns 0.
int Setrot(int order, XfmRec* xf, const float* angles);
// The 4 x 4 homogeneous transform of a point (three floats) by m (sixteen
// floats, row by row). Returns 0, or -1 when w was 0 (taken as 1).
int xfmpnt(const float* in, const float* m, float* out);

// The transform of a variable's record: the record's own, or the one its
// named variable keeps; the transform word in *word. Null when none (and
// with make, a zeroed one is made for the variable).
XfmRec* xfhold(PtrRec* r, uint16_t* word, bool make);

// Inverse-maps a destination grid point through rec's transform into rec's
// current position, clipped to its window: 1 inside, 0 clipped.
int xfpoint(PtrRec* rec, const int32_t* point);
int xfok();
// A variable's box: words 0-2 its origin, 12-14 origin + extent - 1.
int xfbounds(const PtrRec* rec, int32_t* box);

// The commands rotate, scale, pin and offset (code 502 .. 505).
int sttrns(int code);
// The command freeze (rec null: argument 2's variable).
int freeze(PtrRec* rec);
// The command zscan.
int zscan();

// The rows of the function table for transform.
int su_trnsfm(FnCall& c);
int trnsfm(FnCall& c);
