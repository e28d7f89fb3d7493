// The pointer functions (pointer, image, file), the load command, the alert
// function and the view coordinates of vrbxy. ptrptr, doalert and vrbxy are
// declared with the other services of the function dispatcher in
// compute/fnsvc.h; this module holds their definitions.
#pragma once
#include <cstdint>

// The command load: spreads the values of argument 2 over the variables
// from argument 3 on.
int load();

// A variable's entry lets go of its storage (released, undeclared, a local
// at its macro's end): the pointer variables that view it are emptied, so
// that none reaches storage another variable may hold next.
void ptrfreed(int32_t ent);

// A variable's entry moved from one address to another (a macro's global
// handed to its caller): the pointer variables that view it follow it.
void ptrmoved(int32_t from, int32_t to);

// Before each use of a pointer variable (core's ptrcur, which this module
// installs) its view of a named variable is laid out again over the
// storage that variable holds now, so that it follows storage made anew;
// a view that no longer fits that storage is emptied as ptrfreed does.

// Longest file name a pointer function takes (the file record's name field
// holds it and a NUL).
constexpr int PTRNAM = 255;
