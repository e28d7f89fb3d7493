// The pointer functions (pointer, image, file), the load command, the alert
// function and the view coordinates of vrbxy. ptrptr, doalert and vrbxy are
// declared with the other services of the function dispatcher in
// compute/fnsvc.h; this module holds their definitions.
#pragma once
#include <cstdint>

// The command load: spreads the values of argument 2 over the variables
// from argument 3 on.
int load();

// Longest file name a pointer function takes (the file record's name field
// holds it and a NUL).
constexpr int PTRNAM = 255;
