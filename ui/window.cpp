// Window records, the window table, platform windows, off-screen ports,
// icons, repaint by kind, the window command and the text-grid cell
// routines.
//
// Every window, the three fixed ones included, is made by makwin: a record
// on the process heap in the window table, a platform record, a platform
// window of the window manager (ui/platform/wm.h) and, for text windows, a
// grid. Platform window handles are generation-checked, so a handle of a
// window that is gone matches no window and calls on it do nothing.
#include "ui/window.h"

#include "core/args.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/typecmd.h"
#include "core/varbl.h"
#include "lang/cstart.h"
#include "ui/dlghooks.h"
#include "ui/draw.h"
#include "ui/events.h"
#include "ui/palette.h"
#include "ui/platform/backend.h"
#include "ui/platform/face.h"
#include "ui/platform/wm.h"
#include "ui/ports.h"
#include "ui/screen.h"
#include "compute/fnsvc.h"
#include "ui/dialog.h"

#include <algorithm>
#include <cstring>

Wport** wintab = nullptr;
int16_t nwins = 0;
int16_t curwin = 0;
Wport* curport = nullptr;
int16_t txtwin = 0;

namespace {
constexpr int CHWID = FACEWID, CHHGT = FACEHGT;
constexpr int MAXWINS = 1000;  // the window table's limit

bool made = false;
bool inwords = false;    // window records go into word memory
IconRec* icons[NICONS];  // placed icons by icon slot

// A held reference, or null for 0 (none) and stale references.
void* held(int32_t ref) { return ref < 0 ? heldptr(ref) : nullptr; }

void ensure() {
  if (!made) initWins();
}

// Keeps the grid's write position on the cursor's cell.
void syncpos(Wport* w, TxtGrid* g) {
  g->wpos = (g->orow + w->currow) * g->rowlen + g->ocol + w->curcol;
}

// The work rectangle: the screen less the task-bar allowance at the bottom.
void workrect(int32_t r[4]) {
  r[0] = 0;
  r[1] = 0;
  r[2] = scrwid - 1;
  r[3] = scrhgt - 1 - 30;
}

IconRec* wicon(const Wport* w) { return w ? static_cast<IconRec*>(held(w->icon)) : nullptr; }

// Frees a grid and its buffer.
void freegrid(Wport* w) {
  TxtGrid* g = wgrid(w);
  if (!g) return;
  if (char* b = gridbuf(g)) {
    dropptr(g->buf);
    xfree(b);
  }
  dropptr(w->txtgrid);
  xfree(g);
  w->txtgrid = 0;
}

// Frees what a record owns besides its platform record (kept for reuse).
void freeparts(Wport* w) {
  freegrid(w);
  if (PwRec* o = static_cast<PwRec*>(held(w->offscr))) {
    dspport(o, !(w->status & 32));
    dropptr(w->offscr);
    w->offscr = 0;
  }
  if (IconRec* ic = wicon(w)) {
    if (ic->slot >= 0) drwicn(ic, -1, nullptr);
    dropptr(w->icon);
    xfree(ic);
    w->icon = 0;
  }
  // The command and help texts: headed blocks of the low stack.
  freblk(w->cmd);
  freblk(w->hlp);
  w->cmd = w->hlp = 0;
}

// The platform window handle of the main window.
int32_t mainhwnd() {
  const Wport* m = nwins > 2 ? wintab[2] : nullptr;
  const PwRec* p = m && m->type ? wpwrec(m) : nullptr;
  return p ? p->window : 0;
}

// Default icon pictures: a framed square; image windows get a cross in it,
// vector displays a diagonal.
void defpict(uint8_t pict[128], int kind) {
  std::memset(pict, 0, 128);
  auto set = [&](int x, int y) { pict[y * 4 + x / 8] |= static_cast<uint8_t>(0x80 >> (x & 7)); };
  for (int i = 2; i < 30; i++) {
    set(i, 2), set(i, 29), set(2, i), set(29, i);
    if (kind == 1) set(i, 16), set(16, i);
    if (kind == 2) set(i, i);
  }
}

// Paints the grid of a text window into its surface.
void paintgrid(Wport* w, const TxtGrid* g, Surface* s, const PwRec* p) {
  const uint32_t bg = bgr(p->bkcol), fg = bgr(p->fillcol);
  sfill(*s, 0, 0, s->w, s->h, bg);
  const char* b = gridbuf(g);
  if (!b) return;
  // Only the cells on the screen are drawn: a window larger than the screen
  // (a view of a large table) makes no pixels that nobody sees.
  int on[4] = {0, 0, s->w, s->h};
  wm_onscreen(p->window, on);
  const int ch = std::max<int>(w->chhgt, 1);
  const int r0 = on[1] / ch, r1 = std::min<int>(g->rows, (on[3] + ch - 1) / ch);
  const int c0 = on[0] / FACEWID, c1 = (on[2] + FACEWID - 1) / FACEWID;
  for (int r = r0; r < r1; r++) {
    const int br = g->orow + r;
    if (br < 0 || br >= g->nrows) continue;
    const char* row = b + static_cast<size_t>(br) * g->rowlen + g->ocol;
    int n = std::min<int>({g->cols, g->rowlen - g->ocol, c1});
    while (n > c0 && row[n - 1] == ' ') n--;  // blank rows and tails are not drawn
    if (n > c0) stext(*s, c0 * FACEWID, r * w->chhgt, row + c0, n - c0, fg);
  }
  if (w == curport && (p->flags & 8))  // the caret of the current window
    sfill(*s, w->curcol * w->chwid, w->currow * w->chhgt + 2, 1, 12, fg);
}

// Paints the main window: its background and the placed icons.
void paintmain(Surface* s, const PwRec* p) {
  sfill(*s, 0, 0, s->w, s->h, bgr(p->bkcol));
  for (IconRec* ic : icons)
    if (ic) drwicn(ic, 0, nullptr);
}
}  // namespace

int wingrow(int n) {
  const int want = std::max<int>(n, nwins);
  if (want < 8 || want == nwins || want > MAXWINS) return 0;
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

// ---- Platform windows ------------------------------------------------------

namespace {
// Creates the platform window and its platform record.
PwRec* NewWin(Wport* w, const char* name, const int32_t* rect, int visible, int type, int flags) {
  uint32_t style = 0;
  if (type == 256) {
    style = WMS_POPUP;
  } else if (!(flags & 0x80)) {
    style = WMS_CAPTION | WMS_BORDER;
    if (!(flags & 0x20) || (flags & 0x100)) style |= WMS_MINBOX;
    if (!(flags & 0x40)) style |= WMS_SIZING;
  } else if (flags & 0x2000) {
    style = WMS_POPUP;
  } else {
    style = WMS_BORDER;
  }
  int32_t parent = 0;
  if (type != 16 && !(flags & 0x4000)) {
    parent = mainhwnd();
    style |= WMS_CHILD;
  }
  if (visible) style |= WMS_VISIBLE;
  auto* p = static_cast<PwRec*>(xcalloc(1, sizeof(PwRec)));
  if (!p) return nullptr;
  int wid = rect[2] - rect[0] + 1;
  if (wid & 1) wid--;  // an even width
  const int hgt = rect[3] - rect[1] + 1;
  p->bkcol = type == 16 ? 0x7F7F7Fu : 0xFFFFFFu;
  p->fillcol = type == 16 ? 0xFFFFFFu : 0;
  p->penwid = 1;
  p->window = wm_create(name, style, rect[0], rect[1], std::max(1, wid), std::max(1, hgt), parent,
                        bgr(p->bkcol));
  if (!p->window) {
    xfree(p);
    return nullptr;
  }
  if (flags & 0x200) p->flags |= 8;
  if (!visible) p->flags |= 1;
  p->rect[0] = rect[0];
  p->rect[1] = rect[1];
  p->rect[2] = rect[0] + std::max(1, wid) - 1;
  p->rect[3] = rect[3];
  std::memcpy(w->rect, p->rect, sizeof w->rect);
  if (logfp)
    logprintf("NewWin(,%s,<%d,%d,%d,%d>,%d,,%d,%oo) %o %d\n", name, rect[0], rect[1], rect[2],
              rect[3], visible, type, static_cast<unsigned>(flags), style, p->window);
  return p;
}
}  // namespace

int showwin(PwRec* p) {
  if (!p) return 0;
  wm_show(p->window, true);
  p->flags &= static_cast<uint16_t>(~1);
  invalwin(p->window);
  if (int n = winnum(p->window); n != 2) invalwin(mainhwnd());
  return 0;
}

int hidewin(PwRec* p) {
  if (!p) return 0;
  wm_show(p->window, false);
  p->flags |= 1;
  return 0;
}

int destroywin(PwRec* p) {
  if (!p || !p->window) return 0;
  const int32_t h = p->window;
  p->window = 0;  // the window procedure no longer finds this window
  wm_destroy(h);
  return 0;
}

int settitle(PwRec* p, const char* text) {
  if (p) wm_settitle(p->window, text);
  return 0;
}

int selectWindow(PwRec* p) {
  if (!p) return 0;
  const int n = winnum(p->window);
  if (jdebug > 1) logprintf("selectWindow(%d) %d,%d,%d  %d\n", n, p->rect[0], p->rect[1], p->rect[2], curwin);
  if (n == 2) return 0;
  wm_enable(p->window, true);
  wm_top(p->window);
  wm_focus(p->window);
  invalwin(p->window);
  return 0;
}

int deselwin(Wport* w) {
  PwRec* p = wpwrec(w);
  if (!p || w->type == 16) return 0;
  if (jdebug > 1) logprintf("deselectWindow(%d) %d,%d,%d  %d\n", w->id - 1, p->rect[0], p->rect[1], p->rect[2], curwin);
  wm_enable(p->window, false);
  invalwin(p->window);  // the caret goes
  return 0;
}

int winrect(PwRec* p, int32_t* out) {
  if (!p || !out) return 0;
  int x = 0, y = 0;
  wm_origin(p->window, &x, &y);
  int32_t r[4] = {x, y, x + p->rect[2] - p->rect[0], y + p->rect[3] - p->rect[1]};
  const int changed = std::memcmp(r, out, sizeof r) != 0;
  std::memcpy(out, r, sizeof r);
  return changed;
}

int resetRect(PwRec* p, int apply) {
  if (!p) return 0;
  if (jdebug & 4) logprintf("resetRect(%d) <%d,%d->%d,%d>\n", apply, p->rect[0], p->rect[1], p->rect[2], p->rect[3]);
  if (apply) {
    wm_setpos(p->window, p->rect[0], p->rect[1], p->rect[2] - p->rect[0] + 1, p->rect[3] - p->rect[1] + 1);
    invalwin(p->window);
    invalwin(mainhwnd());
  }
  p->state &= static_cast<uint16_t>(~2);
  return 0;
}

int sizport(PwRec* p, int w, int h) {
  if (!p) return 0;
  p->rect[2] = p->rect[0] + w - 1;
  p->rect[3] = p->rect[1] + h - 1;
  return resetRect(p, 1);
}

// ---- Off-screen ports ------------------------------------------------------

namespace {
// The program colour table: 256 entries of blue, green, red, 0; a 3-3-2
// colour cube on a true-colour screen.
uint8_t* coltab() {
  static uint8_t t[256 * 4];
  static bool done = false;
  if (!done) {
    for (int i = 0; i < 256; i++) {
      t[i * 4 + 2] = static_cast<uint8_t>((i & 0xE0) ? ((i & 0xE0) | 0x1F) : 0);
      t[i * 4 + 1] = static_cast<uint8_t>((i & 0x1C) ? (((i & 0x1C) << 3) | 0x1F) : 0);
      t[i * 4 + 0] = static_cast<uint8_t>((i & 3) ? (((i & 3) << 6) | 0x3F) : 0);
    }
    done = true;
  }
  return t;
}
}  // namespace

uint8_t* progctab() { return coltab(); }

PwRec* makcport(int width, int height, void* pixels, int depth, PwRec* rec) {
  if (width <= 0 || height <= 0) return nullptr;
  if (depth != 1 && depth != 8 && depth != 16 && depth != 24 && depth != 32) return nullptr;
  uint32_t rowbytes;
  if (depth < 16) {
    rowbytes = ((static_cast<uint32_t>(width) * depth + 15) >> 3) & ~1u;
    width = static_cast<int>(rowbytes);
  } else {
    rowbytes = static_cast<uint32_t>(depth >> 3) * static_cast<uint32_t>(width);
  }
  const bool fresh = rec == nullptr;
  if (fresh) rec = static_cast<PwRec*>(xcalloc(1, sizeof(PwRec)));
  if (!rec) return nullptr;
  if (!pixels) {
    pixels = xcalloc(static_cast<size_t>(rowbytes) * static_cast<size_t>(height), 1);
    if (!pixels) {
      if (fresh) xfree(rec);
      return nullptr;
    }
  }
  rec->rect[0] = rec->rect[1] = 0;
  rec->rect[2] = width;
  rec->rect[3] = height;
  rec->rowbytes = rowbytes;
  rec->pixels = holdptr(pixels);
  rec->depth = static_cast<uint16_t>(depth & 63);
  rec->ctab = holdptr(coltab());
  if (auto* h = static_cast<uint8_t*>(xcalloc(44, 1))) {
    auto put = [&](int off, uint32_t v) { std::memcpy(h + off, &v, 4); };
    put(0, 44);
    put(4, static_cast<uint32_t>(width));
    put(8, static_cast<uint32_t>(-height));
    h[12] = 1;
    h[14] = static_cast<uint8_t>(depth);
    rec->bmhdr = holdptr(h);
  }
  return rec;
}

int dspport(PwRec* p, int freepix) {
  if (!p) return 0;
  if (void* px = held(p->pixels)) {
    dropptr(p->pixels);
    if (freepix) xfree(px);
  }
  if (void* h = held(p->bmhdr)) {
    dropptr(p->bmhdr);
    xfree(h);
  }
  dropptr(p->ctab);
  portgone(p);
  xfree(p);
  return 0;
}

int setImagePtr(Wport* w, int depth) {
  PwRec* p = wpwrec(w);
  if (!p) return 0;
  if (PwRec* o = static_cast<PwRec*>(held(w->offscr))) {
    dspport(o, 1);
    dropptr(w->offscr);
    w->offscr = 0;
  }
  PwRec* o = makcport(p->rect[2] - p->rect[0] + 1, p->rect[3] - p->rect[1] + 1, nullptr, depth, nullptr);
  if (!o) {
    jprintf(dbglun, "[setImagePtr] CreateCompatibleBitmap error\n");
    return 0;
  }
  w->offscr = holdptr(o);
  w->status &= static_cast<uint8_t>(~32);  // the port owns its pixels here
  return 0;
}

int dibdraw(PwRec* port, PwRec* win) {
  if (!port || !win) return 0;
  Surface* s = wm_surface(win->window);
  const auto* px = static_cast<const uint8_t*>(held(port->pixels));
  if (!s || !px) return 0;
  const uint8_t* ct = static_cast<const uint8_t*>(held(port->ctab));
  if (!ct) ct = coltab();
  const int rows = std::min(s->h, port->rect[3]);
  const int depth = port->depth;
  // On the 8-bit screen the program's colour table stands for the screen's
  // palette: its pixels show through the palette as it is now.
  uint8_t scrpal[256 * 4];
  if (depth == 8 && scrbits == 8 && ct == coltab()) {
    uint32_t lut[256];
    pixlut(lut);
    for (int i = 0; i < 256; i++) std::memcpy(scrpal + i * 4, &lut[i], 4);
    ct = scrpal;
  }
  for (int y = 0; y < rows; y++) {
    const uint8_t* r = px + static_cast<size_t>(y) * port->rowbytes;
    uint32_t* d = s->row(y);
    const int cols = std::min<int>(s->w, depth >= 8 ? static_cast<int>(port->rowbytes / (depth / 8)) : port->rect[2] * 8 / std::max(1, depth));
    for (int x = 0; x < cols; x++) {
      uint32_t v = 0;
      switch (depth) {
        case 1: v = (r[x >> 3] & (0x80 >> (x & 7))) ? 0xFFFFFF : 0; break;
        case 8: {
          const uint8_t* e = ct + r[x] * 4;
          v = (e[2] << 16) | (e[1] << 8) | e[0];
          break;
        }
        case 16: {
          const uint32_t c = r[x * 2] | (r[x * 2 + 1] << 8);
          v = ((c & 0xF800) << 8) | ((c & 0x7E0) << 5) | ((c & 0x1F) << 3);
          break;
        }
        case 24: v = r[x * 3] | (r[x * 3 + 1] << 8) | (r[x * 3 + 2] << 16); break;
        case 32: v = (r[x * 4] | (r[x * 4 + 1] << 8) | (r[x * 4 + 2] << 16)); break;
        default: break;
      }
      d[x] = v;
    }
  }
  return 0;
}

void pixlut(uint32_t lut[256]) {
  if (scrbits == 8) {
    for (int i = 0; i < 256; i++) {
      const uint8_t* e = palent(i);
      lut[i] = e ? (uint32_t(e[0]) << 16) | (uint32_t(e[1]) << 8) | e[2] : 0;
    }
    return;
  }
  const uint8_t* ct = coltab();
  for (int i = 0; i < 256; i++)
    lut[i] = (uint32_t(ct[i * 4 + 2]) << 16) | (uint32_t(ct[i * 4 + 1]) << 8) | ct[i * 4];
}

// ---- Window records --------------------------------------------------------

int winsetup(Wport* w, int flags, int, int fixed) {
  if (!w) return -1;
  w->chwid = CHWID;
  w->chhgt = CHHGT;
  int result = 0;
  if ((flags & 0x7FFF) && fixed >= 0 && (w->type & 1)) {
    // A grid never has fewer than one column and one row.
    const int cols = std::max(1, (w->rect[2] - w->rect[0] + 1) / w->chwid);
    const int rows = std::max(1, (w->rect[3] - w->rect[1] + 1) / w->chhgt);
    TxtGrid* g = wgrid(w);
    if (!g) {
      g = static_cast<TxtGrid*>(xcalloc(1, sizeof(TxtGrid)));
      if (!g) return -1;
      w->txtgrid = holdptr(g);
    }
    if (char* b = gridbuf(g)) {
      dropptr(g->buf);
      xfree(b);
      g->buf = 0;
    }
    g->cols = g->rowlen = static_cast<int16_t>(std::min(cols, 32767));
    g->rows = g->nrows = static_cast<int16_t>(std::min(rows, 32767));
    g->ocol = g->orow = 0;
    g->wpos = 0;
    if (flags & 0x200) {
      auto* b = static_cast<char*>(xalloc(static_cast<size_t>(g->rowlen) * g->nrows));
      if (!b) {
        freegrid(w);
        return -1;
      }
      std::memset(b, ' ', static_cast<size_t>(g->rowlen) * g->nrows);
      g->buf = holdptr(b);
    }
    result = g->rowlen * g->nrows;
    if (logfp)
      logprintf("winsetup(%d,%d): flg=%oo sz=%dx%d fsz=%dx%d csz=%dx%d\n", w->id - 1, fixed,
                static_cast<unsigned>(flags), cols, rows, g->rowlen, g->nrows, w->chwid, w->chhgt);
  }
  w->fmet[0] = CHHGT;
  w->fmet[1] = CHWID;
  return fixed > 0 ? fixed : result;
}

int gridsize(Wport* w, int cols, int rows) {
  TxtGrid* g = wgrid(w);
  if (!g) return -1;
  cols = std::clamp(cols, 1, 32767);
  rows = std::clamp(rows, 1, 32767);
  auto* b = static_cast<char*>(xalloc(static_cast<size_t>(cols) * static_cast<size_t>(rows)));
  if (!b) return -1;
  std::memset(b, ' ', static_cast<size_t>(cols) * static_cast<size_t>(rows));
  if (char* old = gridbuf(g)) {
    dropptr(g->buf);
    xfree(old);
  }
  g->buf = holdptr(b);
  g->rowlen = g->cols = static_cast<int16_t>(cols);
  g->nrows = g->rows = static_cast<int16_t>(rows);
  g->ocol = g->orow = 0;
  g->wpos = 0;
  w->curcol = w->currow = 0;
  return 0;
}

namespace {
// The record of a window slot (-1: the first free slot from 9), zeroed and
// without a platform record; the table grows to cover the slot. Null when
// none can be had.
Wport* takeslot(int* slotp) {
  int slot = *slotp;
  if (slot < -1) return nullptr;
  if (slot == -1) {
    slot = WINAUTO;
    while (slot < nwins && wintab[slot] && wintab[slot]->type != 0) slot++;
  }
  if (slot >= MAXWINS) return nullptr;  // beyond the table's limit
  if (slot >= nwins) {
    // The table grows in steps of 20 until it covers the slot.
    const int want = std::min(MAXWINS, (slot / WINSTEP + 1) * WINSTEP);
    if (wingrow(std::max<int>(want, nwins + WINSTEP)) <= 0 && slot >= nwins) return nullptr;
  }
  Wport* w = wintab[slot];
  if (w && w->type != 0) deletewin(slot);
  if (w && w->type != 0) return nullptr;  // a permanent window stays
  if (!w) {
    // A headed block of the low stack (kept for reuse when the window is
    // deleted), or the process heap before the stack exists.
    if (inwords) w = static_cast<Wport*>(zeroblk(sizeof(Wport)));
    if (!w) w = static_cast<Wport*>(xcalloc(1, sizeof(Wport)));
    if (!w) return nullptr;
    wintab[slot] = w;
  }
  PwRec* old = wpwrec(w);
  if (old) {
    portgone(old);
    dropptr(w->pwrec);
    xfree(old);
  }
  std::memset(w, 0, sizeof *w);
  w->id = static_cast<uint16_t>(slot + 1);
  *slotp = slot;
  return w;
}
}  // namespace

int mkport(int slot, int type, int flags, const char* name, const int32_t* rect) {
  ensure();
  Wport* w = takeslot(&slot);
  if (!w) return -1;
  auto* p = static_cast<PwRec*>(xcalloc(1, sizeof(PwRec)));
  if (!p) return -1;
  p->bkcol = 0xFFFFFF;
  p->penwid = 1;
  p->flags = 1;  // no platform window yet
  if (rect) {
    std::memcpy(p->rect, rect, sizeof p->rect);
    std::memcpy(w->rect, rect, sizeof w->rect);
  }
  w->pwrec = holdptr(p);
  w->type = static_cast<int16_t>(type);
  w->flags = static_cast<int16_t>(flags);
  std::strncpy(w->name, name ? name : "", 15);
  w->chwid = CHWID;
  w->chhgt = CHHGT;
  return slot;
}

int makwin(int slot, int type, int flags, int, const char* name, const int32_t* rect, int visible,
           int font) {
  ensure();
  Wport* w = takeslot(&slot);
  if (!w) return -1;
  int32_t r[4];
  if (rect) {
    std::memcpy(r, rect, sizeof r);
  } else {
    workrect(r);
  }
  PwRec* p = NewWin(w, name ? name : "", r, visible < 0 ? 1 : visible, type, flags);
  if (!p) return -1;
  w->pwrec = holdptr(p);
  w->type = static_cast<int16_t>(type);
  w->flags = static_cast<int16_t>(flags);
  std::strncpy(w->name, name ? name : "", 15);
  p->fontnum = static_cast<int16_t>(font);
  const int res = winsetup(w, flags, font, 0);
  if (res < 0) {
    deletewin(slot);
    return res;
  }
  if (!(flags & 0x1000)) {
    auto* ic = static_cast<IconRec*>(xcalloc(1, sizeof(IconRec)));
    if (!ic) {
      w->flags |= 0x1000;
    } else {
      ic->win = static_cast<int16_t>(slot);
      ic->slot = -1;
      if (type & 4)
        defpict(ic->pict, 1);
      else if (type & 8)
        defpict(ic->pict, 2);
      else if (!(type & 1))
        defpict(ic->pict, 0);
      else if (slot > 1 && wintab[0] && wicon(wintab[0]))
        std::memcpy(ic->pict, wicon(wintab[0])->pict, 96);
      w->icon = holdptr(ic);
    }
  }
  invalwin(p->window);
  if (logfp)
  {
    logprintf("makwin(%d,%d,%d,%d,%d,%d):%d,%d,%d\n", slot, type, flags, r[0], r[1], visible,
              r[2], r[3], font);
    shoprt(w);
  }
  return slot;
}

int deletewin(int n) {
  ensure();
  if (n < 0 || n >= nwins) return 0;
  Wport* w = wintab[n];
  if (!w || w->type == 0 || (w->flags & 0x10)) return 0;
  if (logfp)
    logprintf("deletewin(%d) %d %d %d %d %d %d %d\n", n, w->type, w->flags, w->rect[0], w->rect[1],
              w->rect[2], w->rect[3], curwin);
  // A dialog's own window leaves nothing on the main window to repaint.
  const bool dialog = w->type & 0x60;
  w->type = 0;
  PwRec* p = wpwrec(w);
  if (p) dlgdrop(p->window);
  destroywin(p);
  portgone(p);  // the record stays for reuse, but nothing draws into it
  freeparts(w);
  delwat(n + 1);  // watch entries live as long as their windows
  if (curwin == n) setwin(-1);  // the current window moves
  if (!dialog) invalwin(mainhwnd());
  return 0;
}

int winlost(int n) {
  if (n < 0 || n >= nwins) return 0;
  Wport* w = wintab[n];
  if (!w || w->type == 0) return 0;
  if (logfp) logprintf("winlost(%d)\n", n);
  w->type = 0;
  if (PwRec* p = wpwrec(w)) {
    p->window = 0;
    portgone(p);
  }
  freeparts(w);
  delwat(n + 1);
  if (curwin == n) setwin(-1);
  if (txtwin == n) txtwin = 0;
  return 0;
}

void winwords(bool on) { inwords = on; }

int initWins() {
  if (made) return 0;
  if (!wintab && wingrow(WINTAB) < 0) return -1;
  made = true;
  logprintf("initWins: %d\n", static_cast<int>(nwins));
  initscreen(1);
  // The main window fills the screen below its caption.
  const int32_t mr[4] = {WM_BORDER, WM_CAPHGT + WM_BORDER, scrwid - 1 - WM_BORDER, scrhgt - 1 - WM_BORDER};
  makwin(2, 16, 0x10, 0, "PELIX", mr, 1, 1);
  // The command window at the bottom left of the main window, the text
  // window above it (iconized); each shows a grid of 80 x 25 cells.
  const int cw = GRIDCOLS * CHWID, ch = GRIDROWS * CHHGT;
  const int mh = mr[3] - mr[1] + 1;
  const int y0 = std::max(mnubar + WM_CAPHGT + 1, mh - ch - 4);
  const int32_t r0[4] = {4, y0, 4 + cw - 1, y0 + ch - 1};
  const int32_t r1[4] = {24, mnubar + WM_CAPHGT + 1, 24 + cw - 1, mnubar + WM_CAPHGT + ch};
  makwin(0, 1, 0x210, 0, "COMMANDS", r0, 1, 1);
  makwin(1, 1, 0x210, 0, "TEXT", r1, 0, 1);
  if (Wport* t = wintab[1]) t->status |= 8;  // iconized, without an icon shown
  wintab[0]->flags |= 0x10;  // the command windows stay
  wintab[1]->flags |= 0x10;
  curwin = 0;
  curport = wintab[0];
  txtwin = 0;
  selectWindow(wpwrec(curport));
  backend();  // the backend takes over the keyboard and Ctrl-C from here
  logprintf("madeWins mbar=%d whdr=%d ymax=%d\n", mnubar, WM_CAPHGT, static_cast<int>(scrhgt));
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
    if (w->status & 8) icon(nullptr, n);  // an iconized window is restored
  } else {
    for (int i = 0; i < nwins; i++) {
      Wport* c = wport(i);
      if (!c || c->type == 16 || (c->status & 8)) continue;
      w = c;
      n = i;
      break;
    }
    if (!w) {
      if (curport && curwin != 2) deselwin(curport);
      curwin = 2;
      curport = wport(2);
      return 0;
    }
    // Focus and text output follow the command window (window 1 stands in
    // for it while window 0 is iconized).
    Wport* w0 = wport(0);
    if (n == 0 || (n == 1 && w0 && (w0->status & 8))) txtwin = static_cast<int16_t>(n);
  }
  PwRec* p = wpwrec(w);
  if (!p) return 0;
  if (curport && curport != w) deselwin(curport);
  selectWindow(p);
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

// ---- Icons -------------------------------------------------------------------

int iconwin(Wport* w) {
  IconRec* ic = wicon(w);
  if (!w || w->type == 0 || !ic || (w->status & 8)) return 0;
  hidewin(wpwrec(w));
  drwicn(ic, 1, nullptr);
  w->status |= 8;
  invalwin(mainhwnd());
  if (w == curport) setwin(-1);
  return 0;
}

int icon(const EvtRec* evt, int n) {
  if (evt) {
    n = -1;
    const int32_t pt[2] = {evt->h, evt->v};
    for (const IconRec* ic : icons)
      if (ic && pt[0] >= ic->rect[0] && pt[0] <= ic->rect[2] && pt[1] >= ic->rect[1] &&
          pt[1] <= ic->rect[3]) {
        n = ic->win;
        break;
      }
    if (n < 0) return 0;
  }
  Wport* w = wport(n);
  if (!w || !(w->status & 8)) return 0;
  if (IconRec* ic = wicon(w); ic && ic->slot >= 0) drwicn(ic, -1, nullptr);
  showwin(wpwrec(w));
  w->status &= static_cast<uint8_t>(~8);
  if (evt) setwin(n);
  return 1;
}

int drwicn(IconRec* ic, int mode, const int16_t* point) {
  if (!ic || (pflags & 0x40)) return 0;
  Surface* s = wm_surface(mainhwnd());
  const PwRec* mp = wpwrec(nwins > 2 ? wintab[2] : nullptr);
  if (!s || !mp) return 0;
  int32_t wr[4];
  workrect(wr);
  const uint32_t bg = bgr(mp->bkcol);
  const int ih = CHHGT;
  auto erase = [&](const int32_t* r) {
    sfill(*s, r[0] - 32, r[1], r[2] - r[0] + 65, r[3] - r[1] + 1 + ih, bg);
  };
  if (mode == -1) {
    if (ic->slot >= 0 && ic->slot < NICONS && icons[ic->slot] == ic) icons[ic->slot] = nullptr;
    erase(ic->rect);
    ic->slot = -1;
    invalwin(mainhwnd());
    return 0;
  }
  if (mode == 1) {
    int tr = 0;
    for (; tr < NICONS; tr++) {
      const int x = wr[2] - 88 + (tr & 1 ? 44 : 0);
      const int y = wr[1] + 20 + 20 * tr;
      if (y >= wr[3] - 40) {
        tr = NICONS;
        break;
      }
      const int32_t r[4] = {x, y, x + 31, y + 31};
      bool clash = false;
      for (const IconRec* o : icons)
        if (o && o != ic && !(r[2] < o->rect[0] || r[0] > o->rect[2] || r[3] < o->rect[1] || r[1] > o->rect[3]))
          clash = true;
      if (!clash && !icons[tr]) {
        std::memcpy(ic->rect, r, sizeof r);
        break;
      }
    }
    if (tr >= NICONS) return 0;  // no place: not drawn
    ic->slot = static_cast<int16_t>(tr);
    icons[tr] = ic;
  } else if (mode == 2 && point) {
    const int x = point[1], y = point[0];
    if (x < wr[2] - 88 || x > wr[2] - 38 || y < wr[1] + 20 || y > wr[3] - 40) return 0;
    erase(ic->rect);
    ic->rect[2] += x - ic->rect[0];
    ic->rect[3] += y - ic->rect[1];
    ic->rect[0] = x;
    ic->rect[1] = y;
  }
  if (ic->slot < 0) return 0;
  // The picture in a white square, and the name below it.
  const int x = ic->rect[0], y = ic->rect[1];
  sfill(*s, x, y, 32, 32, 0xFFFFFF);
  for (int r = 0; r < 32; r++)
    for (int c = 0; c < 32; c++)
      if (ic->pict[r * 4 + c / 8] & (0x80 >> (c & 7))) sfill(*s, x + c, y + r, 1, 1, 0);
  const Wport* w = ic->win >= 0 && ic->win < nwins ? wintab[ic->win] : nullptr;
  if (w) {
    const int n = static_cast<int>(strnlen(w->name, 15));
    const int tw = n * CHWID;
    const int left = x - std::max(0, tw - 32) / 2;
    sfill(*s, left, y + 32, std::max(32, tw), ih, bg);
    stext(*s, left, y + 32, w->name, n, bgr(mp->fillcol));
  }
  invalwin(mainhwnd());
  return 0;
}

// ---- Repaint -------------------------------------------------------------------

int update(int n, const int32_t* rect, int32_t) {
  ensure();
  Wport* w = wport(n);
  if (!w) return -1;
  if (scrflags & 0x200) return 0;
  PwRec* p = wpwrec(w);
  if (p && (p->state & 2)) resetRect(p, 0);
  if (jdebug >= 3 && rect)
    logprintf(" Update %d %3oo: %4d %4d %4d %4d / %4d %4d %4d %4d (%d,%d)\n", n,
              static_cast<unsigned>(w->type), w->rect[0], w->rect[1], w->rect[2], w->rect[3],
              rect[0], rect[1], rect[2], rect[3], w->curcol, w->currow);
  // A view shows its variable as it is now.
  if (vwpaint(n, 1) == 1) {
    if (p) validwin(p->window);
    return 0;
  }
  TxtGrid* g = wgrid(w);
  Surface* s = p ? wm_surface(p->window) : nullptr;
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
    if (s) paintgrid(w, g, s, p);
  } else if (w->type == 16) {
    if (s) paintmain(s, p);
    if (w->misc & 0x80) AVIpaint(0, p->window);  // the movie it shows
    for (int i = 0; i < ndlgtab; i++)  // the modeless dialogs show again
      if (dlgtab[i]) wm_show(dlgtab[i], true);
  } else if (w->type & 0x60) {
    drawDialog(w->wnum);  // dialog and alert windows
  } else if (PwRec* o = static_cast<PwRec*>(held(w->offscr))) {
    dibdraw(o, p);
  } else if (s && p && !(w->type & 8)) {
    sfill(*s, 0, 0, s->w, s->h, bgr(p->bkcol));
  }
  if (p) validwin(p->window);
  return 0;
}

void palshow() {
  if (scrbits != 8) return;
  for (int i = 0; i < nwins; i++) {
    const Wport* w = wport(i);
    const auto* o = w ? static_cast<const PwRec*>(held(w->offscr)) : nullptr;
    if ((o && o->depth == 8 && held(o->ctab) == coltab()) || vwbits(i) == 8)
      if (const PwRec* p = wpwrec(w)) invalwin(p->window);
  }
}

int updall() {
  // Painting only: the windows' state (scroll origins, marks) stays as the
  // program left it, so that showing the screen changes nothing.
  ensure();
  for (int i = 0; i < nwins; i++) {
    Wport* w = wport(i);
    if (!w || (w->status & 8)) continue;
    PwRec* p = wpwrec(w);
    Surface* s = p ? wm_surface(p->window) : nullptr;
    if (!s || !wm_visible(p->window)) continue;
    if (vwpaint(i, 0) == 1) continue;
    if (TxtGrid* g = wgrid(w); (w->type & 1) && (w->flags & 0x200) && g)
      paintgrid(w, g, s, p);
    else if (w->type == 16) {
      paintmain(s, p);
      if (w->misc & 0x80) AVIpaint(0, p->window);
    }
    else if (PwRec* o = static_cast<PwRec*>(held(w->offscr)))
      dibdraw(o, p);
  }
  return 0;
}

// ---- The window command --------------------------------------------------------

int wincmd() {
  ensure();
  const int n = winarg(2, nullptr);
  if (n >= 0 && n < nwins) {
    const int act = intarg(3, -99);
    if (act == -99 || act > 0)
      setwin(n);
    else if (wport(n))
      iconwin(wport(n));
  }
  setres(n, 0);
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
