// Stand-ins for the dialog and movie services of ui/dlghooks.h. They are
// weak: the owning module's definition replaces each one at link time.
#include "ui/dlghooks.h"

#define WEAK __attribute__((weak))

WEAK int32_t mkmodeless(int32_t, int32_t, uint32_t) { return 0; }
WEAK bool dlgmsg(int32_t, const Msg*) { return false; }
WEAK void freetmpl(int32_t) {}
