// Stand-ins for services whose modules are not linked yet. They are weak:
// the owning module's definition replaces each one at link time.
#include "core/typhooks.h"

#include "lang/mainloop.h"

#define WEAK __attribute__((weak))

WEAK int flushpnt() { return 0; }
WEAK int invport(const int32_t*) { return 0; }

// The main loop's pending-command queues, which accept sets aside while it
// asks.
WEAK PendQ dfltq = {0, 0, 0};
WEAK PendQ typq = {0, 0, 0};
WEAK int16_t qflag = 0;
WEAK bool qpend(const PendQ* q) { return q && q->blk != 0 && q->rd < q->len - 1; }
