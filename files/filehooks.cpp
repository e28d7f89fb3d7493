// Stand-ins for services the file commands call, until the owning modules
// are linked. They are weak: the owner's definition replaces each one at
// link time. They live apart from their callers so that none is inlined.
#include "files/filecopy.h"

#define WEAK __attribute__((weak))

// The menu module deletes menus; until it is linked no menu can be deleted
// (delete reports error 96).
WEAK int delmnu(const char*) { return -1; }
