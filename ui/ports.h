// Services on window ports and rectangles: moving and sizing the drawing
// port, invalidating, the window under a point, the dual drawing target,
// the full-screen arrangement and the port log.
#pragma once
#include <cstdint>

struct PwRec;
struct Wport;

// Rectangle helpers on {left, top, right, bottom} (inclusive); each returns
// 1 when something changed, else 0.
int rectsize(int32_t* r, int width, int height);
int rectmove(int32_t* r, int x, int y);
int rectoff(int32_t* r, int dx, int dy);
// The current window's platform record: the drawing port.
PwRec* drawport();
// Moves the drawing port's rectangle to (x, y) and applies it.
int movport(int x, int y);
// Invalidates a rectangle of the given one's size at the drawing port's
// client origin (null: the whole window).
int invport(const int32_t* rect);
// Invalidates a window and repaints it at once.
int redrawrect(int32_t hwnd, const int32_t* rect);
// The platform window under a screen point, 0 when none.
int32_t winatpt(int x, int y);
// Stores the platform record of the current event's window (null when
// none); returns its window number or -1.
int curwrec(int ignored, PwRec** out);
// Repaints the window of the text output port.
int updcur();
// Makes a window port the target of the dual-port drawing routines (null
// ends it). Returns its context flags.
int setwdc(Wport* w);
// The dual drawing target, or null.
Wport* wdcport();
// Full screen (restore 0): the command window fills the main window;
// restore 1 puts both back.
int fullscreen(int restore);
// Logs a port on the log file.
int shoprt(const Wport* w);
// Creates the caret of a platform record (the caret flag).
int mkcaret(PwRec* p);
