// Smooth curves through vector points: natural cubic splines over a
// sliding window of four points, parametrised by chord length.
#pragma once
#include <cstdint>

// The spline command (mode -1: spline [start | vectors] [flags] [points per
// segment] [minimum spacing] [data variable]), or a curve through the
// points of the vector list from start on with flags mode. Flags: 1 the
// run is closed; 2 the curve replaces the points it was made from. Each run
// of points (a move starts a new one) becomes a move and line-tos sampled
// every (points per segment + 1) units along the chords: a window of four
// points slides along it and draws from its second point to its third, so
// an open run of n points goes from its second point to point n - 1 (fewer
// than four draw nothing), a closed one round to its second point again.
// Points nearer than the minimum spacing to the last one kept (or at
// distance 0) are passed over. With a data variable the curve
// goes into it as float (x, y) pairs instead. Returns 0.
int dosplin(int mode, int32_t start);

// The natural cubic spline (second derivative 0 at both ends) through n
// (2 to 4) values v at the parameters t (increasing), evaluated at u in
// interval k (t[k] <= u <= t[k + 1]).
double splval(const double* t, const double* v, int n, int k, double u);
