// Services on window ports and rectangles.
#include "ui/ports.h"

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/typhooks.h"
#include "ui/events.h"
#include "ui/platform/wm.h"
#include "ui/window.h"

#include <cstring>

namespace {
Wport* dual = nullptr;  // the dual drawing target

struct Full {
  bool on = false;
  int32_t mrect[4], crect[4];  // main and command window rectangles kept
} full;
}  // namespace

int rectsize(int32_t* r, int width, int height) {
  const int32_t rr = r[0] + width - 1, bb = r[1] + height - 1;
  const int changed = rr != r[2] || bb != r[3];
  r[2] = rr;
  r[3] = bb;
  return changed;
}

int rectmove(int32_t* r, int x, int y) {
  return rectoff(r, x - r[0], y - r[1]);
}

int rectoff(int32_t* r, int dx, int dy) {
  r[0] += dx;
  r[1] += dy;
  r[2] += dx;
  r[3] += dy;
  return dx != 0 || dy != 0;
}

PwRec* drawport() { return wpwrec(curport); }

int movport(int x, int y) {
  PwRec* p = drawport();
  if (!p) return 0;
  rectmove(p->rect, x, y);
  std::memcpy(curport->rect, p->rect, sizeof p->rect);
  return resetRect(p, 1);
}

int invport(const int32_t*) {
  // Windows repaint whole: the rectangle only says that something changed.
  if (const PwRec* p = drawport()) invalwin(p->window);
  return 0;
}

int redrawrect(int32_t hwnd, const int32_t*) {
  invalwin(hwnd);
  const int n = winnum(hwnd);
  if (n >= 0) update(n, nullptr, 0);
  return 0;
}

int32_t winatpt(int x, int y) {
  int cx, cy, part;
  return wm_hit(x, y, &cx, &cy, &part);
}

int curwrec(int, PwRec** out) {
  const int n = winnum(evtrec.hwnd);
  if (out) *out = wpwrec(wport(n));
  return n;
}

int updcur() { return update(txtwin, nullptr, 0); }

int setwdc(Wport* w) {
  if (w == dual && w) return w->ctxflg;
  if (dual) dual->ctxflg = 0;
  dual = w;
  if (!w) return 0;
  w->ctxflg = 0;
  if (const PwRec* p = wpwrec(w); p && !(p->flags & 1)) w->ctxflg |= 1 | 2;
  if (w->offscr) w->ctxflg |= 4 | 8;
  return w->ctxflg;
}

Wport* wdcport() { return dual; }

int fullscreen(int restore) {
  PwRec* m = wpwrec(wport(2));
  PwRec* c = wpwrec(wport(0));
  if (!m || !c) return 0;
  if (restore == 0) {
    if (full.on) return 0;
    std::memcpy(full.mrect, m->rect, sizeof full.mrect);
    std::memcpy(full.crect, c->rect, sizeof full.crect);
    // The command window fills the main window's client area.
    const int w = m->rect[2] - m->rect[0] + 1, h = m->rect[3] - m->rect[1] + 1;
    c->rect[0] = 0;
    c->rect[1] = 0;
    rectsize(c->rect, w, h);
    resetRect(c, 1);
    full.on = true;
  } else {
    if (!full.on) return 0;
    std::memcpy(m->rect, full.mrect, sizeof full.mrect);
    std::memcpy(c->rect, full.crect, sizeof full.crect);
    resetRect(m, 1);
    resetRect(c, 1);
    full.on = false;
  }
  std::memcpy(wport(0)->rect, c->rect, sizeof c->rect);
  std::memcpy(wport(2)->rect, m->rect, sizeof m->rect);
  if (jdebug > 0)
    logprintf("fullscreen(%d) r(%d,%d,%d,%d) t(%d,%d) s(%d,%d) ms(%d,%d) mt(%d,%d)\n", restore,
              c->rect[0], c->rect[1], c->rect[2], c->rect[3], c->rect[0], c->rect[1],
              full.crect[0], full.crect[1], full.mrect[0], full.mrect[1], m->rect[0], m->rect[1]);
  return 0;
}

int shoprt(const Wport* w) {
  if (!logfp || !w) return 0;
  logprintf("Wport: %oo %oo %oo\n   a:%d  g:%d  r:%d,%d->%d,%d\n", static_cast<unsigned>(w->type),
            static_cast<unsigned>(w->status), static_cast<unsigned>(w->flags), w->pwrec, w->offscr,
            w->rect[0], w->rect[1], w->rect[2], w->rect[3]);
  logprintf("   link:%d  icon=%d  name:%-16.16s\n   ch:%dx%d  %d,%d  at:%d,%d\n", w->txtgrid, w->icon,
            w->name, w->chwid, w->chhgt, w->fmet[0], w->fmet[1], w->curcol, w->currow);
  logprintf("   cmd:%d  hlp:%d  wnum:%d  misc:%d\n", w->cmd, w->hlp, w->wnum, w->misc);
  return 0;
}

int mkcaret(PwRec* p) {
  if (p) {
    p->flags |= 8;
    invalwin(p->window);
  }
  return 0;
}
