// Window records (Wport), their platform window records (PwRec), the text
// grids of text windows, off-screen ports, icons and the current window.
//
// Windows 0 "COMMANDS" and 1 "TEXT" are text windows with a character grid;
// window 2 "PELIX" is the main window; every other window takes a free slot
// from 9 up. All are made by makwin in the same way. The grid is the truth
// of what a text window shows: drawing only follows it. Record fields that
// refer to machine objects (the platform record, the grid, the grid's
// buffer, pixels) hold held-pointer references (core/memory.h), 0 for none.
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

// The platform window record (96 bytes).
struct PwRec {
  uint16_t state;     //  0 bit 2: moved or resized while a button or frame loop was active
  uint16_t flags;     //  2 1 hidden, 8 has a caret, 32 device context kept
  int32_t window;     //  4 platform window handle (0: none)
  int32_t font;       //  8 current font object (reference)
  int32_t oldfont;    // 12 the object the font replaced
  int16_t txthgt;     // 16 text height
  int16_t txtsty;     // 18 text style
  int16_t penwid;     // 20 pen width (at least 1)
  int16_t pen2;       // 22 a second pen value
  int16_t pensty;     // 24 pen style
  int16_t pad0;       // 26
  int32_t rect[4];    // 28 client rectangle left, top, right, bottom (inclusive)
  uint32_t rowbytes;  // 44 pixel map: row bytes
  int32_t pixels;     // 48 pixel data (reference)
  uint16_t depth;     // 52 bits per pixel
  int16_t fontnum;    // 54 font number
  int32_t ctab;       // 56 colour table (reference)
  int32_t dc;         // 60 device context (reference)
  int32_t dc2;        // 64 a second device context
  int32_t bmhdr;      // 68 bitmap information header (reference)
  int16_t peny, penx; // 72 graphics pen position
  uint32_t bkcol;     // 76 background colour 0x00BBGGRR
  uint32_t fillcol;   // 80 fill and text colour
  uint32_t pencol;    // 84 pen colour
  int32_t penobj;     // 88 pen object (reference)
  int32_t savbmp;     // 92 the object the bitmap section replaced
};
static_assert(sizeof(PwRec) == 96);

// The program window record (84 bytes).
struct Wport {
  uint16_t id;       //  0 slot + 1
  int16_t type;      //  2 0 free, 16 main window, bit 1 text window, ...
  int16_t flags;     //  4 creation flags (0x10 permanent, 0x200 grid with caret)
  int16_t watch;     //  6 watch entry slot + 1 (view windows), 0 none
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
  uint8_t pad1[3];   // 81
};
static_assert(sizeof(Wport) == 84);

constexpr int WINTAB = 20;    // entries of the window table at start
constexpr int WINSTEP = 20;   // the window table grows in steps of 20
constexpr int WINAUTO = 9;    // automatic slots start here (0-8 are fixed)
// The text grid of the command and text windows.
constexpr int GRIDCOLS = 80, GRIDROWS = 25;

extern Wport** wintab;    // window table; empty entries are null
extern int16_t nwins;     // entries in the table
extern int16_t curwin;    // current window number
extern Wport* curport;    // current window record
// The text output window: terminal output (unit 1) lands here. Window 0 at
// start; the focus switch around listings moves it between 0 and 1.
extern int16_t txtwin;

// Icon record of a window (152 bytes).
struct IconRec {
  int32_t rect[4];    // icon rectangle on the main window, inclusive
  uint8_t pict[128];  // 32 x 32 picture, one bit a pixel
  int16_t win;        // window slot
  int16_t slot;       // icon slot (0..19), -1 when not placed
  int32_t pad;
};
static_assert(sizeof(IconRec) == 152);
constexpr int NICONS = 20;

// Grows the window table to max(n, count) entries: the new pointer array is
// zeroed, the old pointers copied and the old array freed. Returns the new
// count; 0 when that is below 8, equal to the count or above 1000; -1 when
// no memory could be had. (initports, the platform service, grows the table
// through it.)
int wingrow(int n);
// Window records made from now on go into word memory (headed blocks of
// the low stack, visible to the stack listing) when on; the program turns
// it on at start.
void winwords(bool on);
// Creates windows 0, 1 and 2 (once); window 0 becomes current.
int initWins();
// The record of window n, or null for a free or missing slot.
Wport* wport(int n);
// The platform record of a window record, or null.
PwRec* wpwrec(const Wport* w);
// The grid of a window record, or null.
TxtGrid* wgrid(const Wport* w);
// The character buffer of a grid, or null.
char* gridbuf(const TxtGrid* g);
// The grid of the current window, or null.
TxtGrid* curgrid();
// The window slot of a platform window handle, -1 when no window has it.
int winnum(int32_t hwnd);
// The platform window handle of window n, 0 when none.
int32_t winhwnd(int n);

// Makes a window in a slot (-1: the first free slot from 9; a slot past the
// table grows it, up to its limit). Type, creation flags, name, client
// rectangle (left, top, right, bottom inclusive, main-window coordinates),
// visible, font. Returns the slot, or -1.
int makwin(int slot, int type, int flags, int ignored, const char* name, const int32_t* rect,
           int visible, int font);
// A window record and platform record in a slot (as makwin) without a
// platform window: the dialog that is made for it fills that in. The slot,
// or -1.
int mkport(int slot, int type, int flags, const char* name, const int32_t* rect);
// Character metrics and the text grid of a window. Returns the grid size
// (columns x rows), 0 without a grid, or the fixed value given; -1 when no
// grid could be had.
int winsetup(Wport* w, int flags, int font, int fixed);
// Deletes window n (nothing for a free slot or a permanent window); the
// current window moves when it was n.
int deletewin(int n);
// The platform destroyed window n: its record is freed and, when it was
// current, the current window moves. Used by the window procedure.
int winlost(int n);
// Makes window n current (-1: the topmost visible window other than the
// main window). Returns 0.
int setwin(int n);
// Iconizes a window: hidden, its icon placed on the main window.
int iconwin(Wport* w);
// Restores an iconized window: the one whose icon lies under the event's
// point (evt non-null; it is also selected), else window n. 1 when a window
// was restored.
struct EvtRec;
int icon(const EvtRec* evt, int n);
// Draws an icon (mode -1 erase, 1 place, 2 move to the point, else redraw).
int drwicn(IconRec* ic, int mode, const int16_t* point);
// Platform window calls on a window's platform record.
int showwin(PwRec* p);
int hidewin(PwRec* p);
int destroywin(PwRec* p);
int settitle(PwRec* p, const char* text);
int selectWindow(PwRec* p);
int deselwin(Wport* w);
// The client rectangle in screen coordinates; returns 1 when it changed.
int winrect(PwRec* p, int32_t* out);
// Applies (apply non-zero) the record's rectangle to its platform window.
int resetRect(PwRec* p, int apply);
int sizport(PwRec* p, int w, int h);
// Off-screen ports: width, height, pixels (null: own buffer), depth 1, 8, 16,
// 24 or 32, record (null: a new one). The record, or null.
PwRec* makcport(int width, int height, void* pixels, int depth, PwRec* rec);
int dspport(PwRec* p, int freepix);
// An off-screen port of the window's client size at a depth.
int setImagePtr(Wport* w, int depth);
// Copies an off-screen port's pixels into a window record's surface.
int dibdraw(PwRec* port, PwRec* win);
// The pixels (0x00RRGGBB) that the 256 values of an 8-bit port show with
// the program colour table: the table itself, or on the 8-bit screen the
// palette as it is now.
void pixlut(uint32_t lut[256]);
// Gives a text window's grid cols x rows cells (each cut to 1..32767), a
// blank buffer, its origin and cursor at 0. 0, or -1 when no memory could
// be had (the grid is then as it was).
int gridsize(Wport* w, int cols, int rows);
// The window command: window number (argument 2), action (argument 3).
int wincmd();
// Makes window n the current window and port without any platform work;
// returns the previous current window. Used to write into a window briefly.
int usewin(int n);
// Repaints window n (rect: the update rectangle, or null): a text window's
// scroll origin follows the cursor and its repaint marks are cleared. 0, or
// -1 for a window not in the table.
int update(int n, const int32_t* rect, int32_t dc);
// Repaints every shown window (before the screen is composed).
int updall();
// View windows (the view module owns them). vwpaint paints window n from
// the variable it shows: 1 a pixel view, painted; 2 a table view, whose
// grid was filled again from the variable when refill is set (the caller
// paints the grid); 0 any other window. vwbits: the bits per pixel of a
// pixel view's variable, 0 for any other window.
int vwpaint(int n, int refill);
int vwbits(int n);
// The palette changed: on the 8-bit screen the windows whose pixels show
// through it are painted again.
void palshow();

// Text cursor of the current window, as buffer cells (cursor + grid origin).
int getcur(int* col, int* row);
// Moves the text cursor to a buffer cell, kept inside the visible grid;
// col < 0 only places the caret again.
int putcur(int col, int row);
// Scrolls the current text window up one line when the row after the cursor
// lies past the buffer, else moves the grid's origin down one row.
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
