// Straight-line fits (least squares and least absolute deviation), the
// affine fit of two point sets and the transformation of points by an
// affine matrix: the functions fit and matmul of the function dispatcher.
#pragma once
#include "compute/func.h"

// fit(x, y [, mode]): mode bit 8 asks for the affine fit (a (d+1) x (d+1)
// matrix), else the line [slope, intercept, spread, chi-square]; r0 gets 1
// on success, 0 for an affine system that cannot be solved, -1 on bad input.
int su_fit(FnCall& c);
int run_fit(FnCall& c);
// matmul(points, matrix [, flags]): each point [p, 1] times the matrix.
int su_matmul(FnCall& c);
int run_matmul(FnCall& c);

// The line fit over operands 1 (x) and 2 (y) into res[4]; the affine fit
// into res[(d+1)^2]. Their returns as above.
int fit(float* res, int mode);
int aff_fit(float* res, int mode);
