// The view table.
#include "graphics/views.h"

#include "lang/names.h"

#include <cstring>

ViewRec vwtab[MAXVIEW];
int16_t nviews = 0;

int vwrenm(int32_t freed) {
  int changed = 0;
  int n = nviews < 0 ? 0 : (nviews > MAXVIEW ? MAXVIEW : nviews);
  for (int i = 0; i < n; i++) {
    ViewRec& v = vwtab[i];
    if (!(v.flags & VW_VAR) || v.entry < freed) continue;
    int len = int(strnlen(v.name, sizeof v.name));
    uint16_t kind = 0;
    int32_t e = len > 0 ? namvar(v.name, len, &kind) : -1;
    // namvar gives system variables 101..245 and predefined names with a
    // kind of their own; only a symbol entry of the variable kind counts.
    if (e > 0 && (kind & 0x1000)) {
      v.entry = e;
    } else {
      v.flags = uint16_t(v.flags & ~VW_VAR);
      v.entry = 0;
    }
    changed++;
  }
  return changed;
}
