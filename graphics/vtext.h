// Vector text at the pen: the text of a text record, drawn horizontally in
// the current font with its size in tenths of the font cell; a negative
// size ends the text at the pen, and a turned text keeps the height of its
// turned cell. With vimage bound the glyphs go into it, else to the window.
#pragma once
#include <cstdint>

// The cosine and sine of an angle in degrees: exact (0, 1 or -1) for a
// multiple of 90, else through the degree factor.
void degcs(int angle, double* co, double* si);

// The cell of a text of a size (tenths of the font cell; 0 counts as 1,
// a negative size as its magnitude) in the font text is drawn in now: its
// width and height in pixels.
void txtcell(int size, float* w, float* h);

int stext(const char* text, int length, uint32_t colour, int ignored, int size, int angle, int32_t background);
// The hardware display hook when the display-device switch asks for it
// (it does nothing), else stext.
int vtext(const char* text, int length, uint32_t colour, int ignored, int size, int angle, int ignored2,
          int32_t background);
