// Placeholder for the function dispatcher until it is built: a function
// item ends the expression with an error instead of computing anything.
#include "compute/func.h"

#include "core/output.h"

int dofunc(int, int32_t, int, int32_t*, int32_t*) {
  error(0, 71);
  return 0;
}
