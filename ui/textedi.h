// The text editor's own state and helpers, shared by its buffer side
// (ui/texted.cpp) and its key loop (ui/edkeys.cpp).
#pragma once
#include "core/varbl.h"
#include "lang/parse.h"

#include <string>
#include <vector>

// A row of the screen changed but not folded back: the line's text from
// the first shown column as edited (longer than the row when an insertion
// pushed characters past its edge).
struct EdRow {
  bool on = false;
  std::string text;
};

struct EdState {
  std::vector<EdRow> rows;  // one per row of the window
  int ccol = 0;             // cursor column on the screen
  std::string fname;        // the attached file
  PtrRec var{};             // copy of the edited variable's pointer record
  bool trunc = false;       // the file did not fit: it is never written back
  bool sel = false;         // a rectangle corner was set with the right button
  int selln = 0, selcol = 0;
};
extern EdState eds;

// Line i of the buffer (from 0), empty past the end.
std::string edget(int i);
// Replaces line i; inserts a line after line i (-1: before the first);
// deletes line i. 0, or -1 (error 130 or 131 reported).
int edset(int i, const std::string& s);
int edins(int i, const std::string& s);
int eddel(int i);
// The line that holds buffer position pos.
int edfind(uint32_t pos);
// Frees the buffers and the paste buffer.
void edfree();
// Characters of a line that a row hands to the line editor at most.
int edcap();
// The text of row r as the line editor gets it: its pending text, else the
// line from the first shown column (at most edcap characters, NULs shown as
// blanks).
std::string edregion(int r);
// Whether a line runs on past what its row hands to the line editor.
bool edtail(int line);
// Line `line` with row text `region` folded in at the first shown column.
std::string edfold(int line, const std::string& region);
// Draws row r (its pending text, or its line); writes a row's text.
void edrowdraw(int r);
void edput(int r, const char* s, int n);
