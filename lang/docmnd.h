// The command dispatcher: runs one parsed command line by its code.
#pragma once

// Error code of a command whose handler is not part of this build yet.
constexpr int E_NOTAVL = 212;

// Runs the parsed line with its command code. Always 0: results go to the
// number registers, failures through error() and the status word.
int DOCMND(int code);

// The one path of commands whose handler is not built yet: error 212 on the
// command word ("Command or function not available yet"), -212 in r0.
int notavl(int code);
