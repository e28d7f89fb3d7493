// The printer command: a text file listed on the printer, or an array
// printed as a raster of raw bytes framed by the printer's control strings
// (the string list prcodes), optionally through the grey table prlut, the
// halftone dot patterns prdots, a 90-degree rotation and a depth conversion.
#pragma once
#include <string>

// The printer command (code 52).
int vprint();
// Expands a line prefix template into the shared line buffer: bytes above
// 7 are copied, byte 1 becomes `first` in decimal, 2 and 3 `second`, 4 to 7
// the text. The result is cut at the 240-byte line (NUL included).
char* vpfmt(const char* tmpl, int first, int second, const char* text);
// Writes a NUL-terminated text as raw bytes to a unit's stream.
int vpwrit(const char* text, int unit);
// Element i of the system string list prcodes ("" when empty or missing).
std::string prcode(int i);
