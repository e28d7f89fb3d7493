// The command dispatcher: runs one parsed command line by its code.
#pragma once

// Error code of a command whose handler is not part of this build yet (the
// code also reports an include file that copy cannot open).
constexpr int E_NOTAVL = 212;

// Runs the parsed line with its command code. Always 0: results go to the
// number registers, failures through error() and the status word.
int DOCMND(int code);

// The one path of commands whose handler is not built yet: error 212 on the
// command word, -212 in r0. It goes with the last such command.
int notavl(int code);
