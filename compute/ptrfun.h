// The pointer functions image, pointer and file (codes 41, 43 and 40):
// they make the variable on the left of the assignment refer to another
// variable. Called by the function dispatcher's end step.
#pragma once

// depth: the evaluation depth at the end step; mode: the deferral count;
// code: 40, 41 or 43. Returns 0.
int ptrptr(int depth, int mode, int code);
