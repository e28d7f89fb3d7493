// Window records (Wport), their text grids and the current window.
//
// Windows 0 "COMMANDS" and 1 "TEXT" are text windows with a character grid;
// window 2 "PELIX" is the main window. The grid is the truth of what a text
// window shows: drawing only follows it.
#pragma once
#include <cstdint>

// The character grid of a text window (20 bytes).
struct TxtGrid {
  int32_t buf;     // reference to the character buffer (nrows x rowlen bytes)
  int32_t wpos;    // write position: buffer offset of the cursor's cell
  int16_t cols;    // visible columns
  int16_t rows;    // visible rows
  int16_t ocol;    // scroll origin column: first buffer column shown
  int16_t orow;    // scroll origin row: first buffer row shown
  int16_t rowlen;  // row length of the buffer (columns)
  int16_t nrows;   // rows of the buffer
};
static_assert(sizeof(TxtGrid) == 20);

// The program window record (84 bytes).
struct Wport {
  uint16_t id;       //  0 slot + 1
  int16_t type;      //  2 0 free, 16 main window, bit 1 text window, ...
  int16_t flags;     //  4 creation flags (0x10 permanent, 0x200 grid with caret)
  int16_t view;      //  6 view number, 0 none
  int32_t pwrec;     //  8 platform window record (reference), 0 none
  int32_t offscr;    // 12 off-screen port (reference), 0 none
  int32_t rect[4];   // 16 left, top, right, bottom (inclusive)
  int32_t txtgrid;   // 32 text grid (reference), 0 none
  int32_t icon;      // 36 icon record (reference), 0 none
  char name[16];     // 40 at most 15 characters and a NUL
  uint8_t chwid;     // 56 character width in pixels
  uint8_t chhgt;     // 57 character height in pixels
  uint8_t fmet[2];   // 58 two further font metrics
  int16_t curcol;    // 60 text cursor column, relative to the grid origin
  int16_t currow;    // 62 text cursor row, relative to the grid origin
  int16_t penx;      // 64 text pen x in pixels
  int16_t peny;      // 66 text pen y in pixels
  int32_t cmd;       // 68 command text (stack address), 0 none
  int32_t hlp;       // 72 help text (stack address), 0 none
  int16_t wnum;      // 76 menu or dialog number shown
  uint8_t status;    // 78 2, 4 repaint marks; 8 iconized; 32 DIB section; 64 keep origin
  uint8_t misc;      // 79 0x80 a movie plays
  uint8_t ctxflg;    // 80 device-context flags
  uint8_t pad[3];    // 81
};
static_assert(sizeof(Wport) == 84);

constexpr int WINTAB = 20;  // window table entries (grows by 20)

extern Wport* wintab[WINTAB];  // window table; empty entries are null
extern int16_t nwins;          // entries in the table
extern int16_t curwin;         // current window number
extern Wport* curport;         // current window record
// The text output window: terminal output (unit 1) lands here. Window 0 at
// start; the focus switch around listings moves it between 0 and 1.
extern int16_t txtwin;

// Creates windows 0, 1 and 2 (once); window 0 becomes current.
int initWins();
// The record of window n, or null.
Wport* wport(int n);
// The grid of a window record, or null.
TxtGrid* wgrid(const Wport* w);
// The character buffer of a grid, or null.
char* gridbuf(const TxtGrid* g);
// The grid of the current window, or null.
TxtGrid* curgrid();

// Makes window n current (-1: the topmost visible window other than the
// main window). Returns 0.
int setwin(int n);
// Makes window n the current window and port without any platform work;
// returns the previous current window. Used to write into a window briefly.
int usewin(int n);

// Text cursor of the current window, as buffer cells (cursor + grid origin).
int getcur(int* col, int* row);
// Moves the text cursor to a buffer cell, kept inside the visible grid;
// col < 0 only places the caret again.
int putcur(int col, int row);
// Scrolls the current text window up one line when the cursor is on its
// last buffer row, else moves the grid's origin down one row.
int scroll();
// Writes n characters (the whole string for n < 1) at a cell of the current
// window: erases the cells, moves the cursor there and writes the text;
// caret > 0 puts the cursor after caret - 1 characters.
int curtxt(const char* text, int n, int col, int row, int caret);
// Blanks n cells of the current window's grid at a buffer cell.
int erstxt(int win, int col, int row, int n);
// Draws n characters at the pen position of the current port and advances
// the pen.
int gtext(const char* text, int n);
// Copies at most n characters of a grid row from a cell (the rest of the row
// when n < 1) into buf, NUL-terminated. Returns the count copied.
int txtget(int col, int row, char* buf, int n);
