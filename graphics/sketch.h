// The interactive tools of the vector window and what uses their results:
// the sketch editor (the sketch command), the box picked with the cursor
// (getbox), the area of interest of the function mask (setaoi, domask) and
// the function sample, which reads an array along or inside a path.
//
// Every pick happens in the vector window (window 4); the loops stop when
// the status word has any of the bits 0x8180.
#pragma once
#include <cstdint>

// ---- The editor's state, kept from one sketch command to the next ----------
struct SkState {
  int32_t start = -1;   // start mark: where the measurement or object began
  int32_t mark = -1;    // the marked record, -1 none
  int32_t link = -1;    // the link record the editor wrote last, -1 none
  int16_t curmode = 1033;  // cursor mode of point picking (0x400: menus off)
  int16_t jump = 10;    // jump distance of flag 0x1
  int16_t flags = 0;    // the run's flag word (SK_ bits)
  int16_t vmode = 0;    // vmode when the run was suspended
  int16_t last = 0;     // the last code, taken up again on resuming
};
extern SkState skst;

// Flag word of an editor run (argument 2 of sketch, default sflags).
enum : int {
  SK_JUMP = 0x1,       // far successive line-tos: the second becomes a move
  SK_CLOSEEND = 0x2,   // auto-close, then end (code -2)
  SK_CLOSE = 0x4,      // auto-close, then a bell
  SK_MEASURE = 0x8,    // an object closed by a new button is measured at once
  SK_CLOSEQ = 0x20,    // after auto-close, end (code -1)
  SK_ROTATED = 0x40,   // points of the rotated views
  SK_MENUS = 0x80,     // menus allowed: Backspace toggles them
  SK_SEGMENTS = 0x100, // a line-to after a line-to is a move: separate segments
  SK_FLUSH = 0x200,    // pending input dropped after every point
  SK_QUIET = 0x400,    // no clearing and no banner at the start
  SK_CENTRED = 0x800,  // text centred
  SK_TEXTSIZE = 0x7000,  // text size - 1
};

// Editor modes (the mode word skmode of graphics/veccmds.h).
enum : int {
  SKM_OUTLINE = 16384,  // an outline for mask or sample: line-tos only
  SKM_CALIB = 8192,     // a calibration bar is being drawn
  SKM_SUSPEND = 0x1000, // suspended while a key text runs
};

// The sketch command (mode 0), or an outline for mask and sample (mode
// SKM_OUTLINE, `add` added to the flags of sflags). Returns the last code
// (-1 or -2 when auto-close ended the run).
int sketch(int mode, int add = 0);

// An outline sketched by XOR (sketch mode SKM_OUTLINE, `add` added to the
// flags) and erased from the window again: its records stay in the list
// from the index returned to the write index.
int32_t xorpath(int add);

// A box picked in the vector window into box: x1, y1, x2, y2 (mode 2: x1,
// y1, z1, x2, y2, z2), ordered so that x1 <= x2 and y1 <= y2. Width and
// height both 2 or more: a box of that fixed size placed by one click
// (x2 - x1 = width - 1); otherwise a rubber band between two clicks, the
// right button switching between sizing and moving the box. An odd mode
// divides the four values by the display zoom. Returns 0, or -1 when the
// status word stopped it or a key ended it without a box.
int getbox(int16_t* box, int mode, int width, int height);

// The function mask, first part, on the current operand table: operand 1
// becomes a view of the source over the box or outline picked. dest is the
// destination handle of the assignment (0 none). Returns 0 view only, 1
// copy, 2 pack, -1 after an error or when stopped.
int setaoi(int32_t dest);
// The function mask, second part: copies (mode 0) or packs (mode 1) the
// elements of the view inside the area into the destination; r0 gets the
// number copied.
int domask(int mode);

// The function sample: a buffer of the sampled values and their count (in
// *count), or null when nothing is returned (stopped, or the samples became
// records).
float* sample(uint32_t* count);

// Asks for a number on the terminal ("\nEnter %s: "); the first number of
// the line, 0 when there is none.
float askstr(const char* prompt);
// The width nibble of new records, 1 to 15.
int curpen();
// A system variable bound to the pen width: its code (0 none), the factor
// and the offset.
struct PenPrm {
  int16_t code = 0;
  float factor = 1.0f;
  int16_t offset = 0;
};
extern PenPrm penprm;

// Back to the start-up state (tests).
void skini();
