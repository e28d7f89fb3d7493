// Screen description and the pointer, window, menu and font words of the
// user interface that the system variables read and set. The screen is the
// program's own (a software surface): 1024 x 768 x 32 at start, another
// size or depth after a display mode switch.
#pragma once
#include <cstdint>

// Screen description.
extern int16_t vmode;       // display mode number (-1: none)
extern int16_t scrwid, scrhgt;  // main screen width and height
extern int16_t scrbits;     // screen depth in bits
extern float scrfreq;       // refresh rate
extern int16_t scrflags;    // screen flags word
extern int16_t mnubar;      // menu bar height
extern int16_t displaywid, displayhgt;  // virtual desktop size - 1
extern int16_t scr2wid, scr2hgt;        // second screen (0 when none)
extern int16_t mainscreen, nscreens;

// Rectangles {top, left, bottom, right} of the predefined matrix names:
// 0 displaydims, 1-4 scr1rect-scr4rect, 5-6 rt1rect-rt2rect,
// 10-17 cmdswin, textwin, curswin, xxxwin, vecswin, xxx2win, xxx3win, xxx4win.
constexpr int NDVRECT = 18;
extern int32_t dvrect[NDVRECT][4];

// Pointer and cursor state.
extern uint16_t curflg;     // cursor flags word
extern int16_t curx, cury;  // cursor position
extern int16_t musx, musy;  // last mouse position
extern int16_t tablet;      // tablet mode word (0: none)

// Window, menu and font words.
extern int16_t wflags;      // window flags
extern uint8_t curmnu;      // current menu number
extern uint8_t mnuflg;      // menu flag byte
extern int16_t menuid;      // kind word of the current menu's record (0: none)
extern int16_t fntwrd[2];   // first two 16-bit words of the current font record

// pcview (what, value), with its result in r0: -1 lists the display modes
// (r0 -1); 0 goes back to the mode at start; 1 switches to mode number
// value (r0 the mode, or -1 when there is no such mode); 2 switches to the
// mode of depth value at the wanted size (value < 1 lists); 3, 4, 5
// remember the wanted width, height and refresh rate for 2.
int pcview(int what, double value);
// Reads the screen description again (how != 0), sizes the program's screen
// and finds its display mode. Returns vmode.
int initscreen(int how);
// The screen number of screen n (1: the leftmost).
int findScreen(int n);

// Back to the start-up values (used by the start-up code and by tests).
void scrini();
