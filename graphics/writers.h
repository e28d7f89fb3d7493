// Pixel writers and the pixel target.
//
// Every pixel the vector graphics and the real-time display ops put down
// goes through the installed writer pair: a pixel writer (x, y, value) and a
// symmetric-point writer that draws one step of an ellipse. setpxf installs
// the pair for a drawing-mode word (gflags); the line walker chooses the
// depth-tested (mapz) or brightness-tested (britest) writer for a line,
// which end in the installed pixel writer.
//
// SETpix (ui/draw.h) writes into the current image variable when one is
// set (a line or a text sets it from vimage), else into the pixel target's
// memory when it has any, else into the drawing port. putpix and ellpix
// write straight into the pixel target's memory. Every writer checks its
// pixel against the image it writes into.
#pragma once
#include <cstdint>

#include "graphics/imgvars.h"

using PixWriter = int (*)(int x, int y, uint32_t value);
using SymWriter = int (*)(int dx, int dy, int cx, int cy, uint32_t value, int fill);

// Counts writes of pixels into memory (images, the pixel target): every
// writer of this module and the pen's typed walks and spans step it, so
// that a check can tell whether anything was drawn since.
extern uint32_t pxgen;

// The installed pair (SETpix and set4pix before any drawing).
extern PixWriter pixwr;
extern SymWriter symwr;

// Installs the writer pair for a mode word: 0x4000 putpix and ellpix;
// otherwise fatpix for the fat-pixel bits 0x1800, else SETpix, with set4pix.
int setpxf(int mode);

// Each pixel becomes a block of 2^k by 2^k growing right and down, k =
// (gflags & 0x1800) >> 11 (0 under gflags bit 0x0001), through SETpix.
int fatpix(int x, int y, uint32_t value);
// fatpix through SETpal.
int fatpal(int x, int y, uint32_t value);
// The value into the pixel target's memory (8, 16 or 32 bits a pixel).
int putpix(int x, int y, uint32_t value);
// The depth-tested writer of the line being walked: value 0 draws nothing;
// the pixel's depth z (from the line state) is compared with zimage's and
// drawn, with z stored into zimage, when it is not below it. A depth
// saturates to the range of zimage's items.
int mapz(int x, int y, uint32_t value);
// Draws only where the value is brighter (gflags 0x0400: darker) than the
// pixel of vimage (the pixel target without vimage); equal never draws.
int britest(int x, int y, uint32_t value);
// One step of an ellipse: the four points cx +- dx, cy +- dy through the
// pixel writer, or (fill) the two spans between them through the pen at
// depth zvalue.
int set4pix(int dx, int dy, int cx, int cy, uint32_t value, int fill);
// The same straight into the pixel target's memory.
int ellpix(int dx, int dy, int cx, int cy, uint32_t value, int fill);

// ---- The pixel target ----
struct PixTgt {
  uint8_t* mem = nullptr;  // pixel memory (null: none)
  int16_t bits = 0;        // bits per pixel
  int16_t rowbytes = 0;
  int16_t height = 0;
  int16_t width = 0;
};
extern PixTgt pixtg;
// Screen-select word: its low three bits hold the screen buffer last
// selected by pixtgt.
extern uint16_t scrsel;
// Selects the pixel target: n 0..2 screen buffer n (recorded in scrsel);
// any other n a platform window record as a window record holds it (its
// off-screen port's pixels when it has one). A descriptor without row
// bytes, or a reference to no live window, changes nothing.
int pixtgt(int32_t n);
// Pixels per row of the pixel target (its width, limited by its row bytes).
int tgtrow();
// A pixel of the pixel target's memory (8, 16 signed, 32 bits), 0 outside.
int32_t tgtget(int x, int y);

// ---- The current image variable ----
// Set from vimage at the start of every line, text and ellipse, switched to
// zimage by the depth test and to yzimage by the second trace; null: none.
extern const ImgTgt* curit;
// Makes the image of a bound name current (-1: none). Returns the previous
// one, for curput.
const ImgTgt* curimg(int which);
inline void curput(const ImgTgt* t) { curit = t; }
// SETpix's path into an image target: (x, y) inside its window, the value
// XORed in when xr is set, else stored (raw bits of the item; a float item
// takes the value as a number).
int imgpix(const ImgTgt* t, int x, int y, uint32_t value, bool xr);
// A pixel of an image target as a signed integer (8 bits unsigned, 16
// signed, 24, 32, float truncated); 0 outside.
int32_t imgget(const ImgTgt* t, int x, int y);
// SETpix's path into the pixel target's memory; false when it has none.
bool tgtpix(int x, int y, uint32_t value, bool xr);

// Back to the start-up state (tests).
void wrtini();
