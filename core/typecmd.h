// The typing and dumping commands built on the format engine, the accept
// function, the echo of the parsed command to the debug unit, and the
// repaint of windows that watch variables.
#pragma once
#include <cstdint>

struct PtrRec;

// The commands type (code 4) and ftype (5), and the printing of a quoted
// string line (99) and an expression line (200). Returns 0.
int ftype(int code);
// The dump command (code 63): each operand written as an assignment that
// reads back. Returns 0.
int vdump();
// Writes the parsed current command on the DEBUG unit. Returns 0.
int ecodbg();
// The file-word name text that ecodbg asks for: empty (text[0] = 0 when
// text is given). Returns 0.
int filnam(int word, char* text, int max);

// The watch table: 40 references to watch records, a null entry free. A
// record (28 bytes, zero-filled when made) names a variable whose window
// repaints when it changes: the variable's argument type word (bit 0
// cleared; 0x1000 a named variable), the window number + 1, the variable's
// number (the Idx of its pointer record: a named variable's symbol entry)
// and its x, y and z dimensions when the window was made.
struct WatchRec {
  uint16_t type;
  uint16_t win;
  int32_t var;
  int16_t dims[3];
  uint8_t spare[14];
};
static_assert(sizeof(WatchRec) == 28);
constexpr int NWATCH = 40;
extern WatchRec* wtchtab[NWATCH];
extern int16_t nwatch;  // entries in use

// Adds a watch entry in the first free slot (view windows call it): the
// slot, or -1 when the table is full or the window number is not 1 or
// more. dims (3 values, clamped to 16 bits) may be null.
int addwat(int win, int32_t var, int type = 0x1000, const int32_t* dims = nullptr);
// Drops every entry of a window (all entries for win 0). Returns the count.
int delwat(int win);
// Drops the entry in a slot; 1 when there was one.
int frewat(int slot);
// Repaints the windows of watched named variables whose change marks differ
// from cls, clearing the marks. An entry whose variable is gone (its entry
// freed, or no longer in a symbol table) repaints its window once and then
// names no variable. Returns the number of windows invalidated.
int DoWatch(int cls);

// Code 247 (the accept function): asks the user with the prompt of
// argument 2 and the default of argument 3, by mode (argument 4): 3 a yes/no
// box, 2 a value box, 1 a yes/no key, other modes a value typed at the text
// cursor. kind < 1 takes the kind from the mode and the word size from
// argument 5. Any other code (the brace list "{" without values, 103) reads
// the value from the current input unit up to a line ending in "}".
// Returns the answer's record (scratch), or null.
PtrRec* Zaccpt(int code, int kind, int wsiz);
