// Pixel rows: conversion between pixel depths, and single-pixel access to
// image variables.
#pragma once
#include <cstdint>

// 5-6-5 colour to 32 bits and back.
inline uint32_t rgb565(uint32_t v) {
  return ((v & 0xF800) << 8) | ((v & 0x7E0) << 5) | ((v & 0x1F) << 3);
}
inline uint32_t to565(uint32_t v) {
  return ((v & 0xF80000) >> 8) | ((v & 0xFC00) >> 5) | ((v & 0xF8) >> 3);
}

// Converts one row of count pixels from sbits to dbits per pixel. Packed
// sources (1, 2, 4 bits) hold their pixels high bits first; they and 8-bit
// sources go through the table (bytes for 8-bit, 16-bit words for 16-bit,
// 32-bit words for 24 and 32-bit destinations; entries past the table give
// 0). 16 to 24 or 32 expands 5-6-5 colour, 24 or 32 to 16 reduces to it,
// 24 or 32 to 8 keeps the lowest byte, 24 to 32 adds a zero high byte and
// 32 to 24 drops it (a 24-bit pixel is blue, green, red). Every other pair
// converts nothing. tabn: table entries.
int wdcnvrt(const void* src, void* dst, int sbits, int dbits, int32_t count, const void* table,
            int32_t tabn);

struct PtrRec;

// Pixel (x, y) of an image record, in the data's own coordinates (the
// window origin included): packed bits, 8, 16 (signed), 24, 32-bit or
// float elements, the latter truncated. 0 outside the data.
int32_t getpix(PtrRec* image, int32_t x, int32_t y);
