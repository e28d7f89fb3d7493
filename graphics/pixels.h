// Single-pixel access to image variables, and the image that the region
// search and outline tracing test: the variable the system name `simage`
// refers to (a user gives it one with simage = image(variable)).
#pragma once
#include <cstdint>

struct PtrRec;

// The display layer's part of making the system names (start-up): simage
// gets its empty pointer record, so that an assignment can point it at an
// image, and the vector list is made again on first use.
int siminit();
// A scratch copy of the record that simage holds, prepared for reading;
// null when simage holds no image variable.
PtrRec* simrec();
// Pixel (x, y) of an image record, in the data's own coordinates (the
// window origin included): packed bits, 8, 16 (signed), 24, 32-bit or
// float elements, the latter truncated. 0 outside the data.
int32_t getpix(PtrRec* image, int32_t x, int32_t y);
