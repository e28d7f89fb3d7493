// The show command: the interpreter's listing of its own state (variables
// by kind, defined strings, units, registers and system variables, the
// macro frame and library, windows, the timer log, alarms and word memory).
#pragma once
#include <cstdint>

// The command (argument 2 selects what is shown).
int show();
// Lists the entries of one kind of the current and the global symbol table
// (entry 0), or only `entry`; columns 0 names only, else a detailed line per
// entry. `title` heads the list ("%s Variables:").
int shosym(int kind, int32_t entry, const char* title, int columns);
// The macro part: the library directory, the running macro's frame, or the
// text of one library macro (argument 3).
int shomac();
// The word-memory dump: arguments 2 (first address), 3 (last) and 4 (label).
int shostk();
