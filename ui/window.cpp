// Window records and the text-grid cell routines.
//
// The three fixed windows keep their records in static storage; a record's
// grid and a grid's buffer are referenced by number (1-based) into the
// tables below, so that the records keep their 32-bit layout.
#include "ui/window.h"

#include <algorithm>
#include <cstring>
#include <iterator>

Wport* wintab[WINTAB];
int16_t nwins = 0;
int16_t curwin = 0;
Wport* curport = nullptr;
int16_t txtwin = 0;

namespace {
constexpr int GRIDCOLS = 80, GRIDROWS = 25;
constexpr int CHWID = 8, CHHGT = 16;

Wport ports[3];
TxtGrid grids[2];
char gridmem[2][GRIDCOLS * GRIDROWS];
bool made = false;

void mkport(int n, int16_t type, int16_t flags, const char* name) {
  Wport& w = ports[n];
  std::memset(&w, 0, sizeof w);
  w.id = static_cast<uint16_t>(n + 1);
  w.type = type;
  w.flags = flags;
  std::strncpy(w.name, name, 15);
  w.chwid = CHWID;
  w.chhgt = CHHGT;
  wintab[n] = &w;
}

void mkgrid(int n) {
  TxtGrid& g = grids[n];
  std::memset(&g, 0, sizeof g);
  g.buf = n + 1;
  g.cols = g.rowlen = GRIDCOLS;
  g.rows = g.nrows = GRIDROWS;
  std::memset(gridmem[n], ' ', sizeof gridmem[n]);
  ports[n].txtgrid = n + 1;
  ports[n].rect[2] = GRIDCOLS * CHWID - 1;
  ports[n].rect[3] = GRIDROWS * CHHGT - 1;
}

void ensure() {
  if (!made) initWins();
}

// Keeps the grid's write position on the cursor's cell.
void syncpos(Wport* w, TxtGrid* g) {
  g->wpos = (g->orow + w->currow) * g->rowlen + g->ocol + w->curcol;
}
}  // namespace

int initWins() {
  if (made) return 0;
  made = true;
  std::fill(std::begin(wintab), std::end(wintab), nullptr);
  nwins = WINTAB;
  mkport(2, 16, 0x10, "PELIX");
  mkport(0, 1, 0x210, "COMMANDS");
  mkport(1, 1, 0x210, "TEXT");
  mkgrid(0);
  mkgrid(1);
  ports[1].status |= 8;  // the text window starts iconized
  curwin = 0;
  curport = &ports[0];
  txtwin = 0;
  return 0;
}

Wport* wport(int n) {
  ensure();
  if (n < 0 || n >= nwins || n >= WINTAB) return nullptr;
  Wport* w = wintab[n];
  return w && w->type != 0 ? w : nullptr;
}

TxtGrid* wgrid(const Wport* w) {
  if (!w || w->txtgrid < 1 || w->txtgrid > 2) return nullptr;
  return &grids[w->txtgrid - 1];
}

char* gridbuf(const TxtGrid* g) {
  if (!g || g->buf < 1 || g->buf > 2) return nullptr;
  return gridmem[g->buf - 1];
}

TxtGrid* curgrid() {
  ensure();
  return wgrid(curport);
}

int setwin(int n) {
  ensure();
  if (n >= 0) {
    Wport* w = wport(n);
    if (!w) return 0;
    w->status &= static_cast<uint8_t>(~8);  // an iconized window is restored
    curwin = static_cast<int16_t>(n);
    curport = w;
    return 0;
  }
  for (int i = 0; i < nwins && i < WINTAB; i++) {
    Wport* w = wport(i);
    if (!w || w->type == 16 || (w->status & 8)) continue;
    curwin = static_cast<int16_t>(i);
    curport = w;
    Wport* w0 = wport(0);
    if (i == 0 || (i == 1 && w0 && (w0->status & 8))) txtwin = static_cast<int16_t>(i);
    return 0;
  }
  curwin = 2;
  curport = wport(2);
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
    int last = std::min(g->orow + g->rows - 1, g->nrows - 1);
    if (last > 0)
      std::memmove(b, b + g->rowlen, static_cast<size_t>(last) * g->rowlen);
    std::memset(b + static_cast<size_t>(last) * g->rowlen, ' ', g->rowlen);
  } else {
    g->orow++;
  }
  syncpos(w, g);
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
  if (curport && n > 0)
    curport->penx = static_cast<int16_t>(curport->penx + n * curport->chwid);
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
    if (m > 0) {
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
