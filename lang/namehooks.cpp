// Stand-ins for services whose modules are not linked yet. They are weak:
// the owning module's definition replaces each one at link time.
#include "lang/namehooks.h"

#define WEAK __attribute__((weak))

WEAK int flushq() { return 0; }
WEAK int cmdwin() { return 0; }
WEAK int modctx(int) { return 0; }
WEAK int nargsv() { return 0; }
