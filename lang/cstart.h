// Start-up and shutdown.
#pragma once

// The interpreter's start-up, given the whole command line.
void cmdlin(const char* line);
// Runs the main loop until the program ends; returns the exit status.
int runmain();
// Ends the program with `status` after closing down devices and files.
[[noreturn]] void finish(int status);
