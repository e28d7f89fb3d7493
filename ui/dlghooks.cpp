// Stand-ins for the movie services of ui/dlghooks.h. They are weak: the
// owning module's definition replaces each one at link time.
#include "ui/dlghooks.h"

#define WEAK __attribute__((weak))

WEAK int AudioMsg(int32_t, uint32_t) { return 0; }
