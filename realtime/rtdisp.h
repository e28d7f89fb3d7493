// The display ops of real-time programs: colour-table changes and buffer
// swaps timed to the monitor's frame, boxes, ellipses, arcs, lines and
// polylines, text, moving and copied pixel blocks, image blocks between
// variables and the screen, running sweeps, image sequences and movies,
// and movie recording.
//
// The run's screen memory is the off-screen port of the run window (made
// at the screen's depth when the window opens): the ops draw into it
// through the pixel writers and the window's port, and the window shows it
// when it is painted. Every read from and write to it, or to an image
// variable, is cut to what the memory holds.
#pragma once
#include <cstdint>
#include <string>

#include "realtime/rtsched.h"

// What an op asks of the interpreter after its own work.
enum : int {
  DS_DONE = 1,   // completed: the epilogue follows
  DS_AGAIN = 0,  // not yet: dortime returns 0, the op comes back
  DS_STAY = 2,   // dortime returns 1 without the epilogue (the op stays current)
};

// Whether an opcode is a display op.
bool isdisp(int opc);
// Runs display op `op` of task t; *logged is set when the op writes its own
// run-log entry instead of the epilogue's.
int rtdisp(RtTask* t, RtOp* op, bool* logged);

// The run window's screen memory: made when the window opens (rtwin),
// selected for a task's drawing, released when the run ends.
void rtscreen(int slot);
void rtscrfree();
// Steps the image sequences that are due (the scheduler, every pass), and
// the clock of the next one (0xFFFFFFFF: none).
void rtcine();
uint32_t cinedue();
// Closes the open movie of a run (aviclos), forgets its task and marks
// the window for repaint.
int rlsbuf();
int aviend();
// The image region of an op's operand 1 placed by operand k (see the
// display ops' text): its data (null when none), the region (x, y, w, h),
// its byte count and element type. The byte count goes into the op's extra
// word.
uint8_t* imgarg(RtOp* op, int k, int32_t* region, int32_t* bytes, int* type);
// The pixel data of an image operand's current frame: an element of a
// list of images (its header gives the frame's size and bits), else the
// operand's data from its current element on. Its width, height, element
// type and the bytes it holds; null for strings, constants and empty
// elements.
uint8_t* imgdata(const RtOpnd* o, int* w, int* h, int* type, int64_t* avail);
// The next name of operand k: a string list gives the name at its offset,
// which with op flag 0x80 moves on by one (unless flags 8), and at the
// list's end back to the first with flags 32 (else past the end, where no
// name is); a plain string gives its text. Empty when there is no name.
std::string nxtidx(RtOp* op, int k, int flags);
// Frees the cine records and sweep records, ends a recording (run end).
void rtdfree();
// Tells a movie recording that failed since it was last asked: a line
// "NAME: cause" on the error unit, then error 66 (the file could not be
// made) or 69 (a write failed), which leaves its negative code in #0.
void avwtell();

// Helpers of the display ops, tested alone.
// Mirrors a rectangle {left, top, right, bottom} of an image of rowpix
// pixels a row (by 1 or 2 bytes a pixel, rows as given): mode bit 1
// left-right, bit 2 top-bottom. Returns 0.
int flipbox(const int16_t* rect, uint8_t* image, int rowpix, int rows, int by, int mode);
// Shifts a rectangle of pixel memory by (dx, dy); the uncovered part takes
// the pixel just left of the rectangle (just right when it starts at
// column 0). Everything is cut to the memory.
int pixmove(uint8_t* mem, int bits, int64_t rowbytes, int width, int height, const int32_t* rect, int dx,
            int dy);
// 0x00BBGGRR and 0x00RRGGBB into each other.
inline uint32_t rgbswap(uint32_t c) { return (c & 0xFF00FF00u) | ((c >> 16) & 0xFF) | ((c & 0xFF) << 16); }
