// Drawing primitives on the drawing port: the pen, lines, rectangles, round
// rectangles, ellipses, arcs, pies, pixels and text; colours, the program
// colour table and the colour names.
//
// A port is a platform window record (PwRec). A window's record draws into
// its window's client surface; an off-screen port (makcport) into its own
// pixels at 1, 8, 16, 24 or 32 bits a pixel with its own row stride, the
// colour converted to the port's layout (32: red x 65536 + green x 256 +
// blue; 24: blue, green, red bytes; 16: 5-6-5; 8: the nearest entry of the
// port's colour table; 1: set for any colour but black).
//
// Conventions (those of the drawing code that calls them):
// - lineto draws from the pen to (x, y) without the end point, and the pen
//   moves there; a one-point line draws that point.
// - Rectangles given as {left, top, right, bottom} are inclusive; (x, y, w,
//   h) boxes cover x .. x + w - 1 and y .. y + h - 1.
// - Ellipses fill or outline the box from (x0, y0) to (x1, y1) inclusive.
// - Arcs and pies run counter-clockwise (on the screen) from the start
//   radial to the end radial.
// - Colours are 0x00BBGGRR.
// Everything draws into the dual target (setwdc) instead while one is set:
// its window record and its off-screen port, as its context flags say.
#pragma once
#include <cstdint>

struct PwRec;

// ---- Ports and pen ----
// Makes a port the drawing port (null: back to the current window's record).
int setPort(PwRec* p);
PwRec* getPort();
// The port set by setPort, or null while the current window's record is
// the drawing port (for saving and restoring the port).
PwRec* portset();
// A port is freed or its window is gone: when it is the drawing port, the
// current window's record becomes the drawing port again.
void portgone(const PwRec* p);
// Keeps (on) or releases the port's context: flag 32.
int portdc(PwRec* p, int on);
int moveto(int x, int y);
int lineto(int x, int y);
// Pen dots (of the pen's width and colour) at n points, x and y pairs.
int pendots(const int32_t* xy, int n);
int movpen(int x, int y);
int drawline(int x0, int y0, int x1, int y1);
int drawrect(int x, int y, int w, int h);
int frmrect(const int32_t* r);
int roundrect(int x, int y, int w, int h);
int rndrect(const int32_t* r);
int insrect(int32_t* r, int dx, int dy);
int eraseRect(const int32_t* r);
int fillrect(int x, int y, int w, int h);
int drawoval(int x, int y, int w, int h);
int fillval(int x, int y, int w, int h);
int drarc(int xc, int yc, int rx, int ry, int start, int extent);
int drpie(int xc, int yc, int rx, int ry, int start, int extent);
int drawpt(int x, int y, uint32_t colour);
// Text of the built-in face at the graphics pen (top left of the first
// cell), in the text colour on transparent ground; the pen advances by
// the text's width.
int ptext(const char* text, int n);
int movtxt(int x, int y, const char* text, int n);
// The width of n characters in the port's font.
int txtwid(const char* text, int n);
// Point conversion between a window's client and screen coordinates.
int scr2cli(const PwRec* p, int16_t* point);
int cli2scr(const PwRec* p, int16_t* point);
// Inclusive test of a point (v, h) in a rectangle.
int ptinrect(const int16_t* point, const int32_t* r);
// Pen width, second value and style of the port.
int stxtpos(int width, int value, int style);
int gtxtpos(int* width, int* value);

// ---- Colour ----
int settxc(uint32_t colour);
int setpnc(uint32_t colour);
int setbkc(uint32_t colour);
int colfg(int index);
int colbg(int index);
// The program colour table: 256 entries of blue, green, red, 0.
uint8_t* progctab();
// Colour-table access: where % 100 the window counted from 1 (0: the
// program table),
// where / 100 the byte of each entry for size 1; dir 1 reads, any other
// writes (the program table only). The count is clamped to the table.
// Returns the entries moved.
int PClut(int where, uint8_t* table, int count, int dir, int size);
// The colour names of menu and dialog descriptions and their values as
// stored: -1 for an unknown name.
int64_t colname(const char* name);

// ---- Pixels ----
// One pixel: into the dual target's window while one is set, else into
// the current image variable (graphics/writers.h), else into the pixel
// target's memory, else into the drawing port's pixels. With XOR (bit 0x80
// of the XOR word) the value is XORed in, else it replaces.
int SETpix(int x, int y, uint32_t value);
// SETpix for a palette colour (a vector record's): below 256 the value is
// a palette index, shown on a window in that entry's colour.
int SETpal(int x, int y, uint32_t value);
// One pixel of a port's pixels (8, 16 signed, 32 bits; 24 as 32-bit colour).
int32_t getpix(const PwRec* p, int x, int y);
// Fills of bytes, 16-bit and 32-bit words.
void bset(void* p, int value, int n);
void wset(void* p, int value, int n);
void lset(void* p, int32_t value, int n);

// ---- The pattern command ----
int pattern();
