// Macro state cells. The macro frames that hold the name per level come with
// the macro calls; until then one name is kept for the running macro.
#include "lang/macro.h"

#include <cstring>

uint16_t macmod = 0;
int16_t maclev = 0;
int16_t maclin = 0;

namespace {
char curname[256];
}

const char* macnam() { return curname; }

void setmacnam(const char* name) {
  if (!name) name = "";
  std::strncpy(curname, name, sizeof curname - 1);
  curname[sizeof curname - 1] = 0;
}
