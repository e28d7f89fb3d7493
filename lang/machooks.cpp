// Stand-ins for the services the macro calls and loops use of modules that
// are not linked yet: the macro compiler (in-memory loops), the compiled
// runner, and the keyboard handler's saved trace mask.
// They are weak: the owning module's definition replaces each one.
#include "lang/macro.h"

#define WEAK __attribute__((weak))

WEAK int runipc(int) { return -1; }
WEAK int loopcompil(int) { return -1; }
WEAK void ipcfre() {}
WEAK int32_t savdbg = 0;

