// The pointer side of the cursor routines.
#include "ui/cursor.h"

#include "ui/events.h"
#include "ui/screen.h"

int getmus(const EvtRec* evt, int code) {
  if (!evt) return code;
  curx = evt->h;
  cury = evt->v;
  if ((code == 129 || code == 130) && !(evt->modifiers & 2)) code = dblclk(code, 0);
  return code;
}
