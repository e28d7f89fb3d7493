// The command dispatcher: runs one parsed command line by its code.
#pragma once

// Runs the parsed line with its command code. Always 0: results go to the
// number registers, failures through error() and the status word.
int DOCMND(int code);

