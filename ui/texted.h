// The full-screen text editor: the command edit opens a text file (a macro
// file, ".imp", by default) in the text window, where each row shows one
// line of the file from the first shown column. The row under the cursor is
// edited by the command-line editor (rdkeys in editor mode); the keys it
// does not consume come back to the key loop, which moves through the text,
// splits and joins lines, deletes words, lines and marked blocks, copies
// and pastes rectangles, searches, jumps, writes the file and ends the
// edit.
//
// The text lives in one buffer, line after line, each followed by a
// newline, with a line table of {offset, length}. Rows changed on the
// screen stay pending until a move needs the buffer; folding them back
// replaces only the columns a row shows, so the rest of a longer line, and
// characters an insertion pushed past the row's edge, stay in the line.
//
// Keys of the loop: Enter splits the line (below the last line it moves
// down); Up, Down, PgUp, PgDn, Left, Right, Home, End move and scroll; Esc
// drops the pending changes; F1 help; F2 search text (closed with F3: then
// the substitution text; with keypad plus or minus, or F2: search at once);
// F3 replaces the search text at the cursor by the substitution text;
// keypad minus and plus search backward and forward; F4 copies the
// rectangle between a right click and the cursor, or pastes it at the
// cursor; F5 sets or clears the block mark; F6 deletes the word under the
// cursor; F7 deletes the line; Del at the end of a line joins the next one
// (at column 0 the line joins the previous one), with a mark it deletes
// from the mark to the cursor; F8 jumps to a line (-100 the last); F9
// writes the file; F10 ends (asking "Save changes?" when changed); Ins
// switches insert mode; PrintScreen prints "Print text"; a click moves the
// cursor.
#pragma once
#include <cstdint>

// Flags of the edit record.
enum : uint16_t {
  ED_TEXT = 0x4000,      // text mode
  ED_DATA = 0x2000,      // data mode (a variable; no key loop)
  ED_SMALL = 0x1000,     // small-element mode (an image; no key loop)
  ED_FILE = 0x0008,      // a file is attached
  ED_CRLF = 0x0004,      // lines are written with CR LF
  ED_MODIFIED = 0x0040,  // the text was changed
  ED_ROWCHG = 0x0080,    // the cursor row was changed on the screen
  ED_ROWS = 0x0100,      // rows were changed on the screen
  ED_PENDING = 0x0180,   // changes on the screen not folded back yet
  ED_SEARCH = 0x0400,    // a search text is set
  ED_SUBST = 0x0800,     // a substitution text is set
};

// One entry of the line table.
struct EdLine {
  uint32_t off;  // where the line starts in the text buffer
  int32_t len;   // its length (the newline not counted); -1 marks the end
};

// The edit record: one for the whole program, reused by every edit.
struct EdRec {
  uint16_t maxln;    // capacity of the line table (argument 3, default 2000)
  uint16_t flags;    // ED_ flags
  char* text;        // text buffer
  uint32_t tsize;    // its size
  EdLine* ltab;      // line table (maxln + 1 entries)
  int16_t win;       // the text window (1)
  uint32_t used;     // bytes of the buffer in use
  uint16_t nlines;   // lines in the buffer
  int16_t currow;    // cursor row; -1 has the loop place the cursor again
  int32_t first;     // first shown line, from 1 (any line of the table)
  int16_t rows;      // rows of the window
  int16_t fcol;      // first shown column (sideways scroll)
  int16_t cols;      // columns of the window
  int16_t iconic;    // the window was an icon before the edit
  int16_t defwid;    // default width
  int16_t paste;     // 1: a rectangle is in the paste buffer
  int16_t pastesz;   // bytes of the paste buffer
  int16_t savkey;    // the key menu that was current before the edit
  uint8_t* pastebuf; // width, height, then the cells (a character and 0 each)
  int32_t markln;    // block mark: line from 1 (0 none) and column
  int16_t markcol;
  char search[40];
  char subst[40];
  char status[80];   // the status-line prompt
};
extern EdRec edrec;

// The command edit [file|variable [lines]]: prepares an edit. 1 when the key
// loop is to run, 0 otherwise.
int edit();
// Reads the file open on a unit into the buffer (and closes the unit): 0,
// or -1 (error 129: no memory for the table or the text). A file longer
// than the line table or the buffer reports error 131 and keeps its first
// lines; such an edit is never written back.
int eread(int unit);
// The key loop (text mode only). Returns 0.
int edtext();
// Folds the pending changes back, then redraws the rows from a first line
// (0: the current one).
int edscrn(int first);
// Draws line `line` (from 0) at a row, from the first shown column.
int edline(int line, int row);
// Folds the rows changed on the screen back into the buffer: 0, or -1 on an
// error (the modified bit stays).
int edmods();
// Moves the text behind line `to` by `change` bytes (growth toward the end,
// shrinking toward the front) and adds the change to the offsets of the
// lines after it; to = -1 moves the whole text. A negative `from` compacts
// the buffer (its lines always lie back to back here). 0, or -1 (error 130:
// the buffer is full).
int edspac(int from, int to, int change);
// The length of a row's text without trailing blanks and NULs.
int edlen(const char* row, int n);
// Shows a prompt of `length` characters on the status line (the bottom row)
// and reads the answer behind it into the row buffer (edrow). Returns the
// key that closed the answer (mode 0), or the number typed (mode 1, -100
// standing for the last line); 0 when nothing was entered; Esc gives 0, or
// -1 in mode 1.
int edmsg(const char* text, int length, int mode);
extern char edrow[];
// Help pages: topic "edithelp" (text mode), "editdata" (data mode),
// "editscreen" otherwise, "editgraph" for a negative mode; mode 2 lists the
// line table instead. In text mode a command word or system variable typed
// after the page shows its help next ("edlist" the line table); an empty
// answer leaves.
int edhelp(int mode);
// Lists the line table on the listing unit, three entries a row ("%3d:
// %6ld %3d"), at most 69 entries, the one behind the last line marked with
// length -1.
int edlist();
// Ends the edit (abort: an error, interrupt, stop or alarm; the buffers
// stay and `edit` of the same file goes on). Without abort a changed text
// asks "Save changes?" (Save, Cancel, Discard). Returns 1 when the edit
// ended, 0 when it goes on (Cancel, or a save that failed).
int eddone(int abort);
// Writes the buffer to the attached file (through a temporary file renamed
// over it): NULs become blanks, trailing blanks go. 0, or -1 (reported).
int ewrite();
// 1 when two pointer records describe the same file: both file-backed with
// equal kind flags, and the same name (the same real file), or, where a
// name is missing, the same data address and dimensions.
struct PtrRec;
int samfil(const PtrRec* a, const char* aname, const PtrRec* b, const char* bname);
int nullcmd();
int edclrm();
// Forgets the edit and frees its buffers (tests).
void edreset();
