// Stand-ins for services whose modules are not linked yet. They are weak:
// the owning module's definition replaces each one at link time.
#include "lang/namehooks.h"

#include "ui/screen.h"

#define WEAK __attribute__((weak))

WEAK int waitev(int, int) { return 0; }
WEAK int peekky() { return 0; }
// Without pointer input the point stays where the cursor is.
WEAK int getxy(int, int* x, int* y) {
  if (x) *x = curx;
  if (y) *y = cury;
  return 13;
}
WEAK int curson(int, int) { return 0; }
WEAK int nargsv() { return 0; }
