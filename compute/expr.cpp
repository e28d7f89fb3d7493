// Expression evaluation. Until the evaluator is built, an expression is
// refused with a clear error instead of being skipped.
#include "compute/expr.h"

#include "core/memory.h"
#include "core/output.h"

int32_t doexpr(int32_t list) {
  if (uint32_t* p = stkwp(list); p && p[0] > 0) p[1] = 0;
  error(100, 71);
  return 0;
}
