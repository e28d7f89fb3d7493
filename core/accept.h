// The accept function and the typed input of other commands.
#pragma once
#include <cstdint>

struct PtrRec;

// Code 247 (the accept function): asks the user with the prompt of
// argument 2 and the default of argument 3, by mode (argument 4): 3 a yes/no
// box, 2 a value box, 1 a yes/no key, other modes a value typed at the text
// cursor. kind < 1 takes the kind from the mode and the word size from
// argument 5. Any other code reads the value from the current input unit
// (a brace block). Returns the answer's record (scratch), or null.
PtrRec* Zaccpt(int code, int kind, int wsiz);
