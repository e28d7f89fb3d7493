// What the two files of the display ops share (realtime/rtdisp.cpp and
// realtime/rtdseq.cpp).
#pragma once
#include <cstdint>

#include "realtime/rtdisp.h"

struct PwRec;
struct Wport;

// The screen memory of a task's window: its off-screen port.
struct Scr {
  Wport* w = nullptr;
  PwRec* port = nullptr;
  int32_t hwnd = 0;
  uint8_t* px = nullptr;
  int bits = 0;
  int64_t rowbytes = 0;
  int width = 0, height = 0;
};
Scr scrof(const RtTask* t);
// Selects the task's window for drawing: its memory as the pixel target and
// its port as the drawing port.
Scr dspsel(RtTask* t);
// The window shows what was drawn when it is next painted.
void shown(const Scr& s);

// A colour operand as the platform takes it (0x00BBGGRR): on a screen of
// at most 8 bits a value below 256 is a palette index; otherwise a screen
// pixel 0x00RRGGBB.
uint32_t platcol(int32_t v);
// Pen and text colour of a colour operand.
void pencol(int32_t v);
// Keeps the drawing port's pen and text colours and puts them back.
struct PenKeep {
  PwRec* p;
  uint32_t pen = 0, fill = 0;
  PenKeep();
  ~PenKeep();
};

// Whole groups of per elements an operand holds from its current element.
int32_t opcount(const RtOpnd* o, int per);
// A line of a length and angle (radians) from a point, walked through SETpix.
int aline(const int16_t* pt, double angle, int len, uint32_t value);

// The ops of rtdseq.cpp.
int frmop(RtTask* t, RtOp* op);
int textop(RtTask* t, RtOp* op);
int cineop(RtTask* t, RtOp* op, bool* logged);
int sweepop(RtTask* t, RtOp* op);
int aviop(RtTask* t, RtOp* op);
void grabop(RtOp* op);
void winop(RtTask* t);
