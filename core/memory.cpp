// Placeholder until the allocator lands.
#include "core/memory.h"
#include <cstdlib>

uint32_t* lowstk = nullptr;
StkDesc lstk{}, hstk{};
int32_t scrtop = 0, htmptop = 0, himemflag = 0, stktrap = 0;

int MakStk() {
  if (!lowstk) {
    lowstk = static_cast<uint32_t*>(calloc(STK_DEFAULT, 4));
    lstk = {STK_DEFAULT, 0, STK_DEFAULT, STK_DEFAULT};
  }
  return STK_DEFAULT;
}
