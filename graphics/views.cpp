// The view table.
#include "graphics/views.h"

#include "lang/names.h"
#include "compute/fnsvc.h"
#include "core/args.h"
#include "core/convert.h"
#include "core/varbl.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>

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

// A number as given; a text, a plain word or a string variable changed to
// upper case and matched against the names of the windows (exact match or
// abbreviation); -1 when absent or not found.
int winarg(int n, const char*) {
  float v = 0.0f;
  char name[257];
  int len = 0;
  const int t = getarg(n, &v, name, sizeof name, &len);
  if (t == 0) return -1;
  if ((t & K_NUMBER) && !(t & K_STRING)) return toi32(v);
  if (len < 1) return -1;
  len = std::min<int>(len, 16);
  for (int i = 0; i < len; i++) name[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
  name[len] = 0;
  for (int w = 0; w < nwins; w++) {
    const Wport* p = wintab[w];
    if (!p || p->type == 0) continue;
    const int nl = static_cast<int>(strnlen(p->name, sizeof p->name));
    if (nl > 0 && isname(p->name, name, nl, len) > 0) return w;
  }
  return -1;
}
