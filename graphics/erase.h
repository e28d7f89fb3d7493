// Erasing windows, and the erase command.
#pragma once

// Clears window n in its background colour: n = 0 the main window (slot
// 2), n > 0 slot n - 1, n < 0 the current window. A text window's grid is
// blanked and its cursor goes to column 0, row 0. Nothing for a slot
// without a window.
int erase(int n);
// The erase command: each argument in turn, the vector list (vecs) or the
// vector data list (vdata) emptied, a number's window cleared; without
// arguments the current window.
int erasecmd();
