// The pointer side of the cursor routines: the cursor state of point
// picking, and a button press that the key reader gets becoming the cursor
// position and a button key code.
#pragma once
#include <cstdint>

struct EvtRec;

// The box that holds the cursor and its mapping to image coordinates, the
// Space anchor and the shifts of point picking.
struct CurState {
  int16_t lastx = 200, lasty = 200;  // last pointer position read (200, 200: read again)
  int16_t xmin = 0, ymin = 0, xmax = 1023, ymax = 767;
  int16_t boxw = 1024, boxh = 768;   // box size in screen units
  int16_t imgx = 0, imgy = 0;        // image offsets (cursor flag 0x100)
  int16_t imgw = 1024, imgh = 768;   // image size
  int16_t anchx = 0, anchy = 0;      // point kept by Space
  bool anchored = false;
  uint8_t xshift = 0, yshift = 0;    // right shifts of getxy mode 32
  int16_t drag = 0;                  // drag mode
  // Split views (getxyz with drawing-mode bits 0x10): the x-y view lies
  // before the split, the view in which one axis is z after it (a vertical
  // split at x = split, or with bit 0x20 a horizontal one at y = split);
  // 0 splits the cursor window in the middle.
  int16_t split = 0;
  bool zview = false;                // the z view is the active one
};
extern CurState curst;

// Takes a button-down event (code 129 left, 130 right or Shift): the cursor
// position becomes the event's point (client coordinates of its window),
// clamped to the box unless cursor flag 0x20; a left double click gives 137
// (138 with Shift). Returns the key code.
int getmus(const EvtRec* evt, int code);

// Draws the cursor at (x, y): the cross-hair unless cursor flag 0x01, else
// the system pointer moves there when setpointer is set.
int putxy(int x, int y, int setpointer);

// Back to the start-up state (tests).
void curini();
