// Declarations and definitions: the commands declare (34), release (60)
// and undeclare (65), and define (33).
#pragma once

// declare, release or undeclare (by command code) the names of the current
// line. #0 is -1 until the command succeeds, then 0.
int declar(int code);
// The define command: define [global] name[(p,q,...)] text.
int define();

// Whether a line (already case-folded) begins with the define command; its
// defined names must not be substituted before it runs.
bool defline(const char* line);
