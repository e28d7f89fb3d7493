// The pointer side of the cursor routines.
#include "ui/cursor.h"

#include "ui/events.h"
#include "ui/keys.h"
#include "ui/screen.h"

#include <algorithm>

CurState curst;

int getmus(const EvtRec* evt, int code) {
  if (!evt) return code;
  int x = evt->h, y = evt->v;
  if (!(curflg & 0x20)) {
    x = std::clamp<int>(x, curst.xmin, std::max(curst.xmin, curst.xmax));
    y = std::clamp<int>(y, curst.ymin, std::max(curst.ymin, curst.ymax));
  }
  curx = static_cast<int16_t>(x);
  cury = static_cast<int16_t>(y);
  if ((code == 129 || code == 130) && !(evt->modifiers & 2)) code = dblclk(code, 0);
  return code;
}

int putxy(int x, int y, int setpointer) {
  if (!(curflg & 1))
    drwcur(x, y, 0);
  else if (setpointer)
    setcurs(x, y);
  return 0;
}

void curini() { curst = CurState{}; }
