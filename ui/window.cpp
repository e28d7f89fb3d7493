// Window records, the window table and the text-grid cell routines.
//
// The three fixed windows are made once at start and never deleted, so
// their records, platform records and grids live in static storage; the
// records refer to them through held-pointer references. Platform window
// handles are ids that are never given out twice, so a handle of a window
// that is gone matches no window.
#include "ui/window.h"

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "ui/screen.h"
#include "ui/events.h"
#include "ui/platform/backend.h"

#include <algorithm>
#include <cstring>

Wport** wintab = nullptr;
int16_t nwins = 0;
int16_t curwin = 0;
Wport* curport = nullptr;
int16_t txtwin = 0;

namespace {
constexpr int CHWID = 8, CHHGT = 16;

Wport ports[3];
PwRec precs[3];
TxtGrid grids[2];
char gridmem[2][GRIDCOLS * GRIDROWS];
bool made = false;
int32_t lasthwnd = 0;  // the last window handle given out

void mkport(int n, int16_t type, int16_t flags, const char* name) {
  Wport& w = ports[n];
  std::memset(&w, 0, sizeof w);
  w.id = static_cast<uint16_t>(n + 1);
  w.type = type;
  w.flags = flags;
  std::strncpy(w.name, name, 15);
  w.chwid = CHWID;
  w.chhgt = CHHGT;
  PwRec& p = precs[n];
  std::memset(&p, 0, sizeof p);
  p.window = ++lasthwnd;
  p.penwid = 1;
  p.bkcol = type == 16 ? 0x7F7F7Fu : 0xFFFFFFu;
  p.fillcol = type == 16 ? 0xFFFFFFu : 0;
  if (flags & 0x200) p.flags |= 8;  // the grid has a caret
  w.pwrec = holdptr(&p);
  wintab[n] = &w;
}

void mkgrid(int n) {
  TxtGrid& g = grids[n];
  std::memset(&g, 0, sizeof g);
  g.buf = holdptr(gridmem[n]);
  g.cols = g.rowlen = GRIDCOLS;
  g.rows = g.nrows = GRIDROWS;
  std::memset(gridmem[n], ' ', sizeof gridmem[n]);
  Wport& w = ports[n];
  w.txtgrid = holdptr(&g);
  w.rect[2] = GRIDCOLS * CHWID - 1;
  w.rect[3] = GRIDROWS * CHHGT - 1;
  PwRec* p = wpwrec(&w);
  std::memcpy(p->rect, w.rect, sizeof p->rect);
}

void ensure() {
  if (!made) initWins();
}

// A held reference, or null for 0 (none) and stale references.
void* held(int32_t ref) { return ref < 0 ? heldptr(ref) : nullptr; }

// Keeps the grid's write position on the cursor's cell.
void syncpos(Wport* w, TxtGrid* g) {
  g->wpos = (g->orow + w->currow) * g->rowlen + g->ocol + w->curcol;
}
}  // namespace

int wingrow(int n) {
  const int want = std::max<int>(n, nwins);
  if (want < 8 || want == nwins || want > 1000) return 0;
  auto** t = static_cast<Wport**>(xcalloc(static_cast<size_t>(want), sizeof(Wport*)));
  if (!t) return -1;
  if (wintab) {
    std::memcpy(t, wintab, static_cast<size_t>(nwins) * sizeof(Wport*));
    xfree(wintab);
  }
  wintab = t;
  nwins = static_cast<int16_t>(want);
  return want;
}

int initWins() {
  if (made) return 0;
  if (wingrow(WINTAB) < 0) return -1;
  made = true;
  logprintf("initWins: %d\n", static_cast<int>(nwins));
  mkport(2, 16, 0x10, "PELIX");
  mkport(0, 1, 0x210, "COMMANDS");
  mkport(1, 1, 0x210, "TEXT");
  mkgrid(0);
  mkgrid(1);
  ports[1].status |= 8;  // the text window starts iconized
  curwin = 0;
  curport = &ports[0];
  txtwin = 0;
  backend();  // the console takes over the keyboard and Ctrl-C from here
  return 0;
}

Wport* wport(int n) {
  ensure();
  if (n < 0 || n >= nwins) return nullptr;
  Wport* w = wintab[n];
  return w && w->type != 0 ? w : nullptr;
}

PwRec* wpwrec(const Wport* w) { return w ? static_cast<PwRec*>(held(w->pwrec)) : nullptr; }

TxtGrid* wgrid(const Wport* w) { return w ? static_cast<TxtGrid*>(held(w->txtgrid)) : nullptr; }

char* gridbuf(const TxtGrid* g) { return g ? static_cast<char*>(held(g->buf)) : nullptr; }

TxtGrid* curgrid() {
  ensure();
  return wgrid(curport);
}

int winnum(int32_t hwnd) {
  ensure();
  if (hwnd == 0) return -1;
  for (int i = 0; i < nwins; i++) {
    const PwRec* p = wpwrec(wport(i));
    if (p && p->window == hwnd) return i;
  }
  return -1;
}

int32_t winhwnd(int n) {
  const PwRec* p = wpwrec(wport(n));
  return p ? p->window : 0;
}

int setwin(int n) {
  ensure();
  if (jdebug > 1) logprintf("Setwin(%d) %d %d %d\n", n, curwin, txtwin, nwins);
  Wport* w = nullptr;
  if (n >= 0) {
    w = wport(n);
    if (!w) return 0;
    w->status &= static_cast<uint8_t>(~8);  // an iconized window is restored
  } else {
    for (int i = 0; i < nwins; i++) {
      Wport* c = wport(i);
      if (!c || c->type == 16 || (c->status & 8)) continue;
      w = c;
      n = i;
      break;
    }
    if (!w) {
      curwin = 2;
      curport = wport(2);
      return 0;
    }
    // Focus and text output follow the command window (window 1 stands in
    // for it while window 0 is iconized).
    Wport* w0 = wport(0);
    if (n == 0 || (n == 1 && w0 && (w0->status & 8))) txtwin = static_cast<int16_t>(n);
  }
  if (!wpwrec(w)) return 0;
  curwin = static_cast<int16_t>(n);
  curport = w;
  return 0;
}

int usewin(int n) {
  ensure();
  int old = curwin;
  if (Wport* w = wport(n)) {
    curwin = static_cast<int16_t>(n);
    curport = w;
  }
  return old;
}

int update(int n, const int32_t* rect, int32_t) {
  ensure();
  Wport* w = wport(n);
  if (!w) return -1;
  if (scrflags & 0x200) return 0;
  if (jdebug >= 3 && rect)
    logprintf(" Update %d %3oo: %4d %4d %4d %4d / %4d %4d %4d %4d (%d,%d)\n", n,
              static_cast<unsigned>(w->type), w->rect[0], w->rect[1], w->rect[2], w->rect[3],
              rect[0], rect[1], rect[2], rect[3], w->curcol, w->currow);
  TxtGrid* g = wgrid(w);
  if ((w->type & 1) && (w->flags & 0x200) && g && w->chwid && w->chhgt) {
    int vcols = std::min<int>((w->rect[2] - w->rect[0] + 1) / w->chwid, g->rowlen);
    int vrows = std::min<int>((w->rect[3] - w->rect[1] + 1) / w->chhgt, g->nrows);
    vcols = std::max(vcols, 1);
    vrows = std::max(vrows, 1);
    if (!(w->status & 64)) {
      // The scroll origin follows the cursor: its absolute cell stays in view.
      int arow = g->orow + w->currow, acol = g->ocol + w->curcol;
      int orow = std::max(0, arow - (vrows - 1));
      int ocol = std::max(0, acol - vcols + 1);
      g->orow = static_cast<int16_t>(orow);
      g->ocol = static_cast<int16_t>(ocol);
      w->currow = static_cast<int16_t>(arow - orow);
      w->curcol = static_cast<int16_t>(acol - ocol);
    }
    g->cols = static_cast<int16_t>(vcols);
    g->rows = static_cast<int16_t>(vrows);
    syncpos(w, g);
    if (jdebug > 2)
      logprintf(" UPD(%d) %d %d %d %d %d <%d,%d> %d\n", n, vcols, vrows, g->ocol, g->orow,
                g->rowlen, w->curcol, w->currow, g->nrows);
    w->status &= static_cast<uint8_t>(~6);
  }
  if (const PwRec* p = wpwrec(w)) validwin(p->window);
  return 0;
}

int getcur(int* col, int* row) {
  ensure();
  const Wport* w = curport;
  const TxtGrid* g = wgrid(w);
  int c = w ? w->curcol : 0, r = w ? w->currow : 0;
  if (g) {
    c += g->ocol;
    r += g->orow;
  }
  if (col) *col = c;
  if (row) *row = r;
  return 0;
}

int putcur(int col, int row) {
  ensure();
  Wport* w = curport;
  if (!w || col < 0) return 0;
  TxtGrid* g = wgrid(w);
  if (g) {
    col = std::clamp(col - g->ocol, 0, std::max(0, g->cols - 1));
    row = std::clamp(row - g->orow, 0, std::max(0, g->rows - 1));
  }
  w->curcol = static_cast<int16_t>(col);
  w->currow = static_cast<int16_t>(row);
  w->penx = static_cast<int16_t>(col * w->chwid);
  w->peny = static_cast<int16_t>(row * w->chhgt);
  w->status |= 2;
  if (g) syncpos(w, g);
  return 0;
}

int scroll() {
  ensure();
  Wport* w = curport;
  TxtGrid* g = wgrid(w);
  char* b = gridbuf(g);
  if (!b) return 0;
  int row = g->orow + w->currow;
  if (row + 1 >= g->nrows || g->orow + g->rows >= g->nrows) {
    // The buffer moves up one row, down to the last row shown, which is
    // blanked.
    int last = std::min(g->orow + g->rows - 1, g->nrows - 1);
    if (last > 0) std::memmove(b, b + g->rowlen, static_cast<size_t>(last) * g->rowlen);
    std::memset(b + static_cast<size_t>(last) * g->rowlen, ' ', g->rowlen);
  } else {
    g->orow++;
  }
  syncpos(w, g);
  if (const PwRec* p = wpwrec(w)) invalwin(p->window);
  return 0;
}

int erstxt(int, int col, int row, int n) {
  ensure();
  TxtGrid* g = curgrid();
  char* b = gridbuf(g);
  if (!b || row < 0 || row >= g->nrows || col >= g->rowlen || n < 1) return 0;
  if (col < 0) {
    n += col;
    col = 0;
  }
  n = std::min(n, g->rowlen - col);
  if (n > 0) std::memset(b + static_cast<size_t>(row) * g->rowlen + col, ' ', n);
  return 0;
}

int gtext(const char*, int n) {
  ensure();
  if (curport && n > 0) curport->penx = static_cast<int16_t>(curport->penx + n * curport->chwid);
  return 0;
}

int curtxt(const char* text, int n, int col, int row, int caret) {
  ensure();
  if (!text) return 0;
  if (n < 1) n = static_cast<int>(std::strlen(text));
  erstxt(curwin, col, row, n);
  putcur(col, row);
  Wport* w = curport;
  TxtGrid* g = wgrid(w);
  char* b = gridbuf(g);
  if (b) {
    int c = g->ocol + w->curcol;
    int r = g->orow + w->currow;
    int m = std::min(n, g->rowlen - c);
    if (m > 0 && r >= 0 && r < g->nrows) {
      std::memcpy(b + static_cast<size_t>(r) * g->rowlen + c, text, m);
      w->curcol = static_cast<int16_t>(w->curcol + m);
      syncpos(w, g);
    }
  }
  gtext(text, n);
  if (caret > 0) putcur(col + caret - 1, row);
  return 0;
}

int txtget(int col, int row, char* buf, int n) {
  ensure();
  if (!buf) return 0;
  buf[0] = 0;
  TxtGrid* g = curgrid();
  const char* b = gridbuf(g);
  if (!b || row < 0 || row >= g->nrows || col < 0 || col >= g->rowlen) return 0;
  int m = g->rowlen - col;
  if (n > 0) m = std::min(m, n);
  std::memcpy(buf, b + static_cast<size_t>(row) * g->rowlen + col, m);
  buf[m] = 0;
  return m;
}
