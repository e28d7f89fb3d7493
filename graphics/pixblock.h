// Block operations on image memory: filling a rectangle of a window's
// image with one value (pixset), and moving a box of rows between a
// caller's buffer and a window's image or the pixel target's memory with
// depth conversion and a combining operation (vidbox).
//
// A window's image is its off-screen port (image windows); a window
// without one has no image memory. Both clip the box to the image's
// width, height and row bytes.
#pragma once
#include <cstdint>

struct Wport;

// Fills rect {left, top, right, bottom} (inclusive) of a window's image
// (null: the pixel target when it has memory, else window slot 7) and
// shows it. Returns 0.
int pixset(Wport* window, uint32_t value, const int32_t* rect);
// Moves a box: direction 0 reads the image into the buffer, any other
// writes the buffer into the image combined by op (0 copy, 1 OR, 2 XOR,
// 3 AND, 4 add wrapping at the item width; others leave the image as it
// is). The buffer holds rows of width pixels at bufbits (0: the image's
// depth); table converts packed and 8-bit buffers (null: a grey table).
// Without a window: the pixel target when flags & 0x1FF, else window slot 7.
// Returns 0, or -1 when the conversion row cannot be had; no image memory
// at all is error 205.
int vidbox(Wport* window, void* buffer, int x, int y, int width, int height, int direction, int limit,
           int op, int flags, int bufbits, const void* table);
