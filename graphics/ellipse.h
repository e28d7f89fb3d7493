// Ellipses and arcs: the midpoint ellipse through the symmetric-point
// writer, and arcs and pies through the platform with the arc command.
#pragma once
#include <cstdint>

// The ellipse of width and height (semi-axes width >> 1 and height >> 1,
// at least 1) about a centre point; flags nonzero fills it with spans.
// Flags bit 128: the centre is relative to the vector window (window 4);
// bit 256: the value is a palette colour (a vector record's), which an
// open ellipse shows on a window as the palette entry's colour.
// An ellipse that would cross the left or top edge or the screen's bottom
// is not drawn at all.
int ellips(const int16_t* centre, int width, int height, uint32_t value, int flags);
// An arc (pie: a filled pie) about a point with semi-axes width and height
// from angle1 to angle2 degrees, in a colour, through the platform.
int ARC(const int16_t* point, int width, int height, uint32_t colour, int angle1, int angle2, int pie);
// The arc command: arc colour rectangle angle0 span fill; the rectangle
// {left, top, right, bottom} bounds the arc.
int arccmd();
