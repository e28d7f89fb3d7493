// View windows: the view command, which shows variables in windows that
// follow them and moves, iconizes and deletes windows; setviewwin; and the
// view table that the language reads.
//
// A view never holds a variable's data address: it keeps the variable's
// number (its symbol entry, or a device number), its name and its shape at
// creation, looks the variable up at every repaint and shows a blank window
// while the variable is released or has another shape. Image and vector
// variables are shown as pixels (8-bit values through the palette), other
// variables as a table of numbers in a text window, whose grid holds only
// the cells the window's client area shows. `winarg` (declared in
// compute/fnsvc.h) finds a window by number or name for every command that
// takes a window argument.
#pragma once
#include <cstdint>

struct Wport;

constexpr int MAXVIEW = 40;
constexpr uint16_t VW_VAR = 0x1000;  // the record shows a variable

struct ViewRec {
  int16_t x0;       // x origin
  int16_t y0;       // y origin
  int16_t z;        // third field (vrbxy returns it as z)
  uint16_t flags;   // VW_VAR: `entry` holds the variable's symbol entry
  int32_t entry;    // stack address of the variable's symbol entry
  char name[12];    // the variable's name, lower case, NUL-padded
};
static_assert(sizeof(ViewRec) == 24, "a view record is 24 bytes");

extern ViewRec vwtab[MAXVIEW];
extern int16_t nviews;  // records in use

// After a macro returned and its bottom area from `freed` up was given
// back: every record that shows a variable whose entry lay there looks the
// name up again and keeps the new entry (a name no longer found leaves the
// record without its variable). Returns the records changed.
int vwrenm(int32_t freed);

// The view command (code 313). flag 0 is the command; a nonzero flag always
// shows every window again (the real-time display ops). Returns 0.
int view(int flag);
// Makes the window's platform record the drawing port, moves it to the
// rectangle's top-left and sizes it to its width and height (inclusive
// {left, top, right, bottom}), invalidates it; then, when argument n is a
// string, argument n becomes the window's command text and argument n + 1
// its help text (a final new line removed); otherwise the old command text
// is freed. Returns 0.
int setviewwin(Wport* w, int n, const int32_t* rect);

// The show-all and main-only state (tests).
extern bool vwmain;
// Forgets every view record (tests).
void vwreset();
