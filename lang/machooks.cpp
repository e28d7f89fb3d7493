// Stand-in for the keyboard handler's saved trace mask, which the macro
// returns use, until the keyboard handler owns it. It is weak: the owning
// module's definition replaces it.
#include "lang/macro.h"

#define WEAK __attribute__((weak))

WEAK int32_t savdbg = 0;
