// Stand-ins for the services the line reader calls, until the owning
// modules are linked. They are weak: the owner's definition replaces each
// one at link time. They live apart from their callers so that none of them
// is inlined.
#include "lang/rdline.h"

#define WEAK __attribute__((weak))
WEAK int mnupnd() { return 0; }
WEAK int putmnu(int) { return 0; }
