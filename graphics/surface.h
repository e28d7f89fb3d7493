// Surfaces: consecutive outlines of the vector list stitched into shaded
// triangles (tile records with their normals), and the normal of three
// points.
#pragma once
#include <cstdint>

// The normal of the triangle a, b, c (three 16-bit components each): (a -
// c) x (b - c) scaled to length 20 (truncated), turned so that its axis
// component is not negative when axis >= 0. 0 (out unchanged) when the
// points are in a line, else 1.
int vnormal(const int16_t* a, const int16_t* b, const int16_t* c, int16_t* out, int axis);
// The surface command: surface [colour] [second colour] [flags] [start]
// [second start] [tile width]. Flags: 1 the connecting edges as lines
// only, 2 keep nothing, 4 both outlines from their first points, 8 the
// second outline never reversed, 16 stop after the second outline.
int surfac();
