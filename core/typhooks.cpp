// Stand-ins for services whose modules are not linked yet. They are weak:
// the owning module's definition replaces each one at link time.
#include "core/typhooks.h"

#define WEAK __attribute__((weak))


