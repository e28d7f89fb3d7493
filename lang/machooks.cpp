// Stand-ins for the services the macro calls and loops use of modules that
// are not linked yet: the macro compiler (in-memory loops), the compiled
// runner, the start-up end and the keyboard handler's saved trace mask.
// They are weak: the owning module's definition replaces each one.
#include "lang/macro.h"

#define WEAK __attribute__((weak))

WEAK int runipc(int) { return -1; }
WEAK int loopcompil(int) { return -1; }
WEAK void ipcfre() {}
WEAK void Endstart(int) {}
WEAK int32_t savdbg = 0;

// The main loop's queues and redirection, until lang/mainloop is linked.
#include "lang/mainloop.h"

#include <cstring>

WEAK PendQ dfltq = {0, 0, 0};
WEAK PendQ typq = {0, 0, 0};
WEAK int16_t qflag = 0;
WEAK int16_t inunit = 0;
WEAK int16_t savlst = 1;
WEAK bool qpend(const PendQ* q) { return q && q->blk > 0 && q->rd < q->len - 1; }
WEAK int clrpst(PendQ* q) {
  if (q) *q = PendQ{0, 0, 0};
  return 0;
}
WEAK int savcmd(const char*, int, int, PendQ*) { return 0; }
WEAK int lstout() { return 0; }
