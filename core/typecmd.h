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

// Watch entries: references to watch records {flags, window number
// (1-based), the watched variable's symbol address}; a null entry is free.
struct WatchRec {
  uint16_t flags;
  uint16_t win;
  int32_t sym;
};
static_assert(sizeof(WatchRec) == 8);
constexpr int NWATCH = 40;
extern WatchRec* wtchtab[NWATCH];
extern int16_t nwatch;  // entries in use

// Adds a watch entry (view windows call it); the slot, or -1 when the table
// is full or the window number is not 1 or more.
int addwat(int win, int32_t sym);
// Drops every entry of a window (all entries for win 0). Returns the count.
int delwat(int win);
// Repaints the windows of watched variables whose change marks differ from
// cls, clearing the marks. Returns the number of windows invalidated.
int DoWatch(int cls);

// Code 247 (the accept function): asks the user with the prompt of
// argument 2 and the default of argument 3, by mode (argument 4): 3 a yes/no
// box, 2 a value box, 1 a yes/no key, other modes a value typed at the text
// cursor. kind < 1 takes the kind from the mode and the word size from
// argument 5. Any other code (the brace list "{" without values, 103) reads
// the value from the current input unit up to a line ending in "}".
// Returns the answer's record (scratch), or null.
PtrRec* Zaccpt(int code, int kind, int wsiz);
