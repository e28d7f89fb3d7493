// Stand-ins for the main loop's services that the line editor calls, until
// the main loop is linked. They are weak: its definitions replace them.
#include "lang/mainloop.h"

#define WEAK __attribute__((weak))
WEAK PendQ typq{};
WEAK bool qpend(const PendQ* q) { return q && q->blk != 0 && q->len > 0; }
WEAK int Histry(int, int, int) { return 0; }
