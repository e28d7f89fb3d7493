// Erasing windows.
#include "graphics/erase.h"

#include <cstdlib>
#include <cstring>

#include "core/args.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/veclist.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "ui/draw.h"
#include "ui/ports.h"
#include "ui/window.h"

int erase(int n) {
  const int slot = n == 0 ? 2 : n > 0 ? n - 1 : curwin;
  Wport* w = slot >= 0 && slot < nwins ? wport(slot) : nullptr;
  PwRec* p = w && w->type != 0 ? wpwrec(w) : nullptr;
  if (!p) return 0;
  // The window's own records only: a dual drawing target steps aside.
  Wport* dual = wdcport();
  if (dual) setwdc(nullptr);
  PwRec* keep = portset();
  const int32_t r[4] = {0, 0, p->rect[2] - p->rect[0], p->rect[3] - p->rect[1]};
  setPort(p);
  eraseRect(r);
  // An image window shows its off-screen port again on every repaint.
  if (auto* o = static_cast<PwRec*>(heldptr(w->offscr))) {
    o->bkcol = p->bkcol;
    setPort(o);
    const int32_t ro[4] = {0, 0, o->rect[2], o->rect[3]};
    eraseRect(ro);
  }
  setPort(keep);
  if (dual) setwdc(dual);
  if (w->type & 1) {
    // A text window shows its grid: the grid is blanked too.
    if (TxtGrid* g = wgrid(w))
      if (char* b = gridbuf(g)) std::memset(b, ' ', static_cast<size_t>(g->nrows) * g->rowlen);
    const int old = usewin(slot);
    putcur(0, 0);
    usewin(old);
  }
  return 0;
}

namespace {
// The symbol entry that argument n names as a plain variable word, else 0.
int32_t argent(int n) {
  int32_t h = 0;
  const int w = argidx(n, &h);
  if (w < 0 || w >= NWORDS || h != 0) return 0;
  const WORD& W = wrdtab[w];
  if (W.type <= 0 || !(W.type & 0x1000) || (W.type & 0x2000)) return 0;
  return std::abs(wval(W));
}
}  // namespace

int erasecmd() {
  const int n = nargs();
  if (n < 2) return erase(-1);
  const int32_t evec = sysent("vecs"), edat = sysent("vdata");
  for (int k = 2; k <= n && !stopped(); k++) {
    const int32_t e = argent(k);
    if (e > 0 && e == evec) {
      // The marks go too: a redraw never brings the old records back.
      if (nvecs > 0) {
        nvecs = 0;
        setnvec(-1, 0);
      }
      continue;
    }
    if (e > 0 && e == edat) {
      if (nvdata > 0) {
        nvdata = 0;
        setnvec(1, 0);
      }
      continue;
    }
    int32_t h = 0;
    const int kind = argtyp(k, &h);
    if (stopped()) break;
    // An image variable stands for no window on this platform.
    if (kind & K_IMAGE) continue;
    erase(intarg(k, -1));
  }
  return 0;
}
