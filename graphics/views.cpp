// View windows and the view table.
#include "graphics/views.h"

#include "compute/fnsvc.h"
#include "graphics/plots.h"
#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/format.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/typecmd.h"
#include "core/typhooks.h"
#include "core/varbl.h"
#include "lang/cmdcodes.h"
#include "lang/keywords.h"
#include "lang/names.h"
#include "ui/draw.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/platform/face.h"
#include "ui/platform/wm.h"
#include "ui/ports.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

ViewRec vwtab[MAXVIEW];
int16_t nviews = 0;
bool vwmain = false;

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

namespace {

constexpr int VWMAX = WM_MAXSIDE;  // the longest side of a view window in pixels
constexpr int GRIDMAX = 32767;   // the most columns and rows of a table view's grid
constexpr int FMTMAX = 40;       // the longest display format
constexpr int CELLMAX = FMTMAXW + 1;  // the widest cell: what one pass of the format engine writes

// What a view shows and how it looks its variable up.
struct VwRec {
  int32_t hwnd = 0;        // the platform window it belongs to; 0: free
  uint16_t type = 0;       // argument type word of the variable (0x1000 named)
  int32_t var = 0;         // symbol entry (named) or device number
  char name[SYMNAM + 1] = {};  // a named variable's name
  uint16_t kind = 0;       // kind flags at creation
  int16_t wsiz = 0;        // word size code at creation
  int32_t dims[3] = {};    // dimensions at creation
  bool table = false;      // a table in a text window, else pixels
  bool once = false;       // shown once at creation (a variable that cannot be looked up)
  char fmt[FMTMAX + 1] = {};
  int cw = 0;              // characters of one cell
  int64_t tcols = 0;       // characters of a table row, all its cells
  int64_t trows = 0;       // rows of the table
  bool shown = false;       // the last repaint found the variable at its shape
  // A pixel view's colour table (256 entries of blue, green, red, 0), the
  // table of its off-screen port, read and written through the window's
  // device variable; and the table as it was made. While the two agree the
  // view shows its items through the program's colours as they are now.
  std::shared_ptr<uint8_t[]> tab, tab0;
};
std::vector<VwRec> vws;  // by window slot

// The view record of window n, or null (a record of a window that is gone
// is dropped).
VwRec* vwof(int n) {
  if (n < 0 || n >= static_cast<int>(vws.size()) || vws[static_cast<size_t>(n)].hwnd == 0) return nullptr;
  VwRec& v = vws[static_cast<size_t>(n)];
  if (!wport(n) || winhwnd(n) != v.hwnd) {
    v = VwRec{};
    return nullptr;
  }
  return &v;
}

// Character cells: font table row 0, else the built-in face.
void cellsize(int* cw, int* ch) {
  const FntRow* f = fntrow(0);
  *cw = f && f->width ? f->width : FACEWID;
  *ch = f && f->height ? f->height : FACEHGT;
}

// The pointer record a variable keeps at stack address h, when all of it
// lies in the word memory; else null.
const PtrRec* keptrec(int32_t h) {
  constexpr int64_t words = sizeof(PtrRec) / 4;
  if (h < 1 || h + words > (h < HIMEM_BASE ? lstk.end : hstk.end)) return nullptr;
  const PtrRec* p = ptrrec(h);
  return p && p->Flg != 0 ? p : nullptr;
}

int32_t clampi(int64_t v, int32_t lo, int32_t hi) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, lo, hi));
}

// A prepared record's dimensions, the whole variable's (at least 1 each).
void recdims(const PtrRec* r, int32_t d[3]) {
  for (int k = 0; k < 3; k++) {
    const uint32_t v = r->Datdims[0] ? r->Datdims[k] : r->Offs[3 + k];
    d[k] = v ? clampi(v, 1, INT32_MAX) : 1;
  }
}

// The record of a view's variable as it is now, prepared for reading, and
// its item count; null when the variable is gone or empty. Its dimensions
// go to d.
PtrRec* vwvar(const VwRec& v, int32_t* count, int32_t d[3]) {
  if (v.once || v.var == 0) return nullptr;
  PtrRec* r = nullptr;
  if (v.type & 0x1000) {
    // A named variable: its entry must still lie in a symbol table and
    // carry the same name.
    const int32_t e = v.var;
    if (e < 1 || e + SYMWDS > lstk.bot) return nullptr;
    const SymEnt* s = symptr(e);
    if (!s || !(s->flags & SY_VAR) || s->data <= 0) return nullptr;
    char nm[SYMNAM + 1];
    const int l = symnam(e, nm, SYMNAM);
    nm[std::clamp(l, 0, SYMNAM)] = 0;
    if (std::strcmp(nm, v.name) != 0) return nullptr;
    const uint16_t t = s->flags;
    if ((t & 0x17F0) == 0x1000 || (t & 0x180) == 0x180) {
      // The variable keeps a pointer record of its own.
      if (ptrcur) ptrcur(e);
      const PtrRec* p = keptrec(s->data);
      if (!p) return nullptr;
      r = mktmp(p, -1);
    } else {
      const int kind = (t & 0x1FF0) | (t & 4);
      r = putptr(kind, 0, nullptr, 0, s->type, 1);
      if (r) {
        r->Idx = e;
        r->Addr = static_cast<uint32_t>(s->data);
        r->Flg2 = static_cast<uint16_t>(s->flags & 0xC00F);
      }
    }
  } else {
    // A device variable: made again from its kind and number.
    r = putptr(v.kind & ~(K_FILE | K_NAMED), 0, nullptr, 0, v.wsiz, 1);
    if (r) r->Idx = v.var;
  }
  if (!r) return nullptr;
  int32_t cnt = 0, part = 0, tot = 0, ws = 0;
  const uint16_t before = state;
  const int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
  if (!kind || cnt < 1 || ((state & ST_ERROR) && !(before & ST_ERROR))) return nullptr;
  recdims(r, d);
  *count = cnt;
  return r;
}

// ---- pixels -------------------------------------------------------------

// Bytes per item of the word sizes read straight from memory, else 0.
int itembytes(int ws) {
  switch (ws) {
    case W_BYTE: return 1;
    case W_SHORT: return 2;
    case W_RGB: return 3;
    case W_LONG:
    case W_FLOAT: return 4;
    default: return 0;
  }
}

inline uint32_t px565(uint32_t c) {
  return ((c & 0xF800) << 8) | ((c & 0x7E0) << 5) | ((c & 0x1F) << 3);
}

// Rows of 8-bit items through the palette: the hot loop of a repaint.
void rows8(Surface& s, const uint8_t* src, int64_t stride, int w, int h, const uint32_t* __restrict lut) {
  for (int y = 0; y < h; y++) {
    const uint8_t* __restrict a = src + y * stride;
    uint32_t* __restrict d = s.row(y);
    int x = 0;
    for (; x + 4 <= w; x += 4) {
      const uint32_t v0 = lut[a[x]], v1 = lut[a[x + 1]], v2 = lut[a[x + 2]], v3 = lut[a[x + 3]];
      d[x] = v0;
      d[x + 1] = v1;
      d[x + 2] = v2;
      d[x + 3] = v3;
    }
    for (; x < w; x++) d[x] = lut[a[x]];
  }
}

// Rows of 16, 24 and 32-bit items as pixels.
void rowsdeep(Surface& s, const uint8_t* src, int64_t stride, int w, int h, int bytes) {
  for (int y = 0; y < h; y++) {
    const uint8_t* a = src + y * stride;
    uint32_t* d = s.row(y);
    if (bytes == 2) {
      for (int x = 0; x < w; x++) d[x] = px565(a[2 * x] | (a[2 * x + 1] << 8));
    } else if (bytes == 3) {
      for (int x = 0; x < w; x++) d[x] = a[3 * x] | (a[3 * x + 1] << 8) | (uint32_t(a[3 * x + 2]) << 16);
    } else {
      for (int x = 0; x < w; x++) d[x] = a[4 * x] | (a[4 * x + 1] << 8) | (uint32_t(a[4 * x + 2]) << 16);
    }
  }
}

// The pixel of one item read through the element access.
uint32_t itempx(PtrRec* r, int ws, const uint32_t* lut) {
  if (ws == W_FLOAT) {
    const float f = static_cast<float>(GSTACK(r));
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b & 0xFFFFFF;
  }
  const uint32_t v = static_cast<uint32_t>(igstak(r));
  const int bits = ws & 63;
  if (bits <= 8) return lut[v & 0xFF];
  if (bits <= 16) return px565(v & 0xFFFF);
  return v & 0xFFFFFF;
}

// The pixels 8-bit items show: the program's colours, or the view's own
// table once it has been written.
void viewlut(const VwRec* v, uint32_t lut[256]) {
  if (!v || !v->tab || !v->tab0 || std::memcmp(v->tab.get(), v->tab0.get(), 1024) == 0) {
    pixlut(lut);
    return;
  }
  const uint8_t* t = v->tab.get();
  for (int i = 0; i < 256; i++)
    lut[i] = (uint32_t(t[i * 4 + 2]) << 16) | (uint32_t(t[i * 4 + 1]) << 8) | t[i * 4];
}

// Copies the items of a prepared record held flat in memory into a pixel
// view's off-screen port (rows of the port's width; what the variable does
// not cover is 0), so that the window's image holds what it shows.
void portfill(Wport* w, PtrRec* r, int32_t count, const int32_t d[3]) {
  auto* o = w ? static_cast<PwRec*>(heldptr(w->offscr)) : nullptr;
  auto* px = o ? static_cast<uint8_t*>(heldptr(o->pixels)) : nullptr;
  if (!px || o->rowbytes == 0 || o->rect[3] < 1) return;
  const size_t rb = o->rowbytes, rows = static_cast<size_t>(o->rect[3]);
  std::memset(px, 0, rb * rows);
  if (!r) return;
  const bool vec = (r->Flg & K_VECTOR) != 0;
  const int by = vec ? 1 : itembytes(r->Wsiz);
  const uint8_t* d0 = dat0(r);
  if (!by || by * 8 != o->depth || !d0 || bufrec(r) || hipaged() || r->Page) return;
  const int64_t total = static_cast<int64_t>(count) * (vec ? 8 : by);
  const int64_t stride = vec ? static_cast<int64_t>(rb) : static_cast<int64_t>(d[0]) * by;
  for (size_t y = 0; y < rows; y++) {
    const int64_t at = static_cast<int64_t>(y) * stride;
    const int64_t n = std::min<int64_t>({static_cast<int64_t>(rb), stride, total - at});
    if (n <= 0) break;
    std::memcpy(px + y * rb, d0 + at, static_cast<size_t>(n));
  }
}

// Paints a pixel view's surface from a prepared record of its variable (null:
// blank). Vector variables show their bytes row after row at the window's
// width; images their x by y items (the first plane).
void pixfill(Surface& s, PtrRec* r, int32_t count, const int32_t d[3], uint32_t bg, const VwRec* v) {
  int w = 0, h = 0;
  if (r) {
    uint32_t lut[256];
    viewlut(v, lut);
    const bool vec = (r->Flg & K_VECTOR) != 0;
    const int ws = vec ? static_cast<int>(W_BYTE) : r->Wsiz;
    const int by = vec ? 1 : itembytes(ws);
    uint8_t* d0 = dat0(r);
    const bool flat = by && d0 && !bufrec(r) && !hipaged() && !r->Page;
    if (vec) {
      // The records' bytes, as 8-bit pixels.
      const int64_t bytes = flat ? static_cast<int64_t>(count) * 8 : 0;
      const int64_t full = s.w > 0 ? bytes / s.w : 0;
      h = static_cast<int>(std::min<int64_t>(full, s.h));
      w = s.w;
      if (h > 0) rows8(s, d0, s.w, w, h, lut);
      const int rest = static_cast<int>(bytes - static_cast<int64_t>(h) * s.w);
      if (h < s.h && rest > 0) {
        rows8(s, d0 + static_cast<int64_t>(h) * s.w, s.w, rest, 1, lut);
        sfill(s, rest, h, s.w - rest, 1, bg);
        h++;
      }
    } else {
      w = static_cast<int>(std::min<int64_t>(d[0], s.w));
      h = static_cast<int>(std::min<int64_t>(d[1], s.h));
      if (static_cast<int64_t>(d[0]) * std::min<int64_t>(d[1], s.h) > count) h = 0;  // never read past the data
      if (flat) {
        const int64_t stride = static_cast<int64_t>(d[0]) * by;
        if (by == 1)
          rows8(s, d0, stride, w, h, lut);
        else
          rowsdeep(s, d0, stride, w, h, by);
      } else {
        // Through the element access: rows of d[0] items in order, each
        // part of the data made addressable before it is read.
        int32_t part = 0;
        for (int y = 0; y < h; y++) {
          uint32_t* dst = s.row(y);
          for (int32_t x = 0; x < d[0]; x++) {
            if (part <= 0) {
              LDVARB(r, &part, 0);
              if (part <= 0 || stopped()) {
                h = y;
                goto done;
              }
            }
            const uint32_t p = itempx(r, ws, lut);
            part--;
            if (x < w) dst[x] = p;
          }
        }
      done:;
      }
    }
  }
  // What the variable does not cover shows the background.
  if (w < s.w) sfill(s, w, 0, s.w - w, h, bg);
  if (h < s.h) sfill(s, 0, h, s.w, s.h - h, bg);
}

// Gives a pixel view its off-screen colour port: w x h pixels of the view's
// word size (8 for vector records), which the port owns, and a colour table
// of the view's own, made from the program's colours as they are now. The
// window's device variable (device 100 + slot + 1) reaches the table.
void viewport(Wport* nw, VwRec& v, int w, int h) {
  const int depth = (v.kind & K_VECTOR) ? 8 : v.wsiz == W_FLOAT ? 32 : (v.wsiz & 63);
  if (depth != 8 && depth != 16 && depth != 24 && depth != 32) return;
  PwRec* o = makcport(w, h, nullptr, depth, nullptr);
  if (!o) return;
  v.tab.reset(new uint8_t[1024]);
  v.tab0.reset(new uint8_t[1024]);
  uint32_t lut[256];
  pixlut(lut);
  for (int i = 0; i < 256; i++) {
    uint8_t* e = v.tab.get() + i * 4;
    e[0] = static_cast<uint8_t>(lut[i]);
    e[1] = static_cast<uint8_t>(lut[i] >> 8);
    e[2] = static_cast<uint8_t>(lut[i] >> 16);
    e[3] = 0;
  }
  std::memcpy(v.tab0.get(), v.tab.get(), 1024);
  dropptr(o->ctab);
  o->ctab = holdptr(v.tab.get());
  nw->offscr = holdptr(o);
  nw->status &= static_cast<uint8_t>(~32);  // the port owns its pixels
}

// ---- tables --------------------------------------------------------------

// Fills a table view's grid from a prepared record of its variable (null:
// blank): row y of the grid holds the items of row y (planes one below the
// other; a vector variable one record a row), each cell cw characters wide,
// cut at the grid's end.
void tabfill(Wport* w, PtrRec* r, int32_t count, const int32_t d[3], const VwRec& v) {
  TxtGrid* g = wgrid(w);
  char* b = gridbuf(g);
  if (!b) return;
  std::memset(b, ' ', static_cast<size_t>(g->rowlen) * static_cast<size_t>(g->nrows));
  if (!r || v.cw < 1) return;
  // Vector records are taken in order (the format engine counts them).
  const bool vec = (r->Flg & K_VECTOR) && r->Wsiz == W_VEC;
  const int64_t rows = std::min<int64_t>(vec ? count : static_cast<int64_t>(d[1]) * d[2], g->nrows);
  const int cells = vec ? 1 : std::max(1, std::min<int>(d[0], (g->rowlen + v.cw - 1) / v.cw));
  char out[FMTMAXW + 2];
  int32_t handles[2] = {static_cast<int32_t>(r->PTR), 0};
  int32_t left[1] = {count}, hand[1] = {0};
  for (int64_t y = 0; y < rows && !stopped(); y++) {
    if (!vec) {
      setpos(r, static_cast<int32_t>(std::min<int64_t>(y * d[0], INT32_MAX)));
      left[0] = d[0];
      hand[0] = 0;
    }
    char* row = b + y * g->rowlen;
    for (int c = 0; c < cells && left[0] > 0; c++) {
      format(1, out, v.fmt, handles, 0, static_cast<int>(sizeof out), left, hand);
      if (stopped()) return;
      const int at = c * v.cw;
      int k = 0;
      for (const char* p = out; *p && k < v.cw && at + k < g->rowlen; p++)
        if (static_cast<unsigned char>(*p) >= 32) row[at + k++] = *p;
    }
  }
}

// The grid of a table view: the whole cells its window's client area shows
// (at least one column and one row), never more than the table has. The
// window never scrolls its table, so what lies past its client area is
// neither held nor formatted.
void tabgrid(const Wport* w, const VwRec& v, int* cols, int* rows) {
  int ccw = 0, cch = 0;
  cellsize(&ccw, &cch);
  if (w->chwid) ccw = w->chwid;
  if (w->chhgt) cch = w->chhgt;
  int64_t cw = int64_t{w->rect[2]} - w->rect[0] + 1, chh = int64_t{w->rect[3]} - w->rect[1] + 1;
  int x = 0, y = 0, sw = 0, sh = 0;
  if (const PwRec* p = wpwrec(w); p && wm_getpos(p->window, &x, &y, &sw, &sh)) {
    cw = std::min<int64_t>(cw, sw);
    chh = std::min<int64_t>(chh, sh);
  }
  *cols = clampi(std::min<int64_t>(v.tcols, cw / std::max(ccw, 1)), 1, GRIDMAX);
  *rows = clampi(std::min<int64_t>(v.trows, chh / std::max(cch, 1)), 1, GRIDMAX);
}

// Gives a table view's grid the size its window shows now. -1 when the
// grid could not be had (it is then as it was).
int regrid(Wport* w, const VwRec& v) {
  int cols = 1, rows = 1;
  tabgrid(w, v, &cols, &rows);
  const TxtGrid* g = wgrid(w);
  if (g && gridbuf(g) && g->rowlen == cols && g->nrows == rows) return 0;
  return gridsize(w, cols, rows);
}

// ---- argument helpers ----------------------------------------------------

// Whether a file-backed record is the one a named pointer variable keeps
// (its Idx that variable's symbol entry): such a view looks it up again.
bool filevar(const PtrRec* r) {
  if (!(r->Flg & K_FILE) || r->Idx < 1 || r->Idx + SYMWDS > lstk.bot) return false;
  const SymEnt* s = symptr(r->Idx);
  if (!s || (s->flags & 0x17F0) != SY_VAR) return false;
  const PtrRec* p = keptrec(s->data);
  return p && (p->Flg & K_FILE) && p->Filp == r->Filp;
}

bool isstr(int k) { return (k & K_STRING) && !(k & K_LIST); }

// The name a view of record r takes: the variable's name in upper case, its
// file name, or "Dev %d"; at most 15 characters.
std::string varname(const PtrRec* r) {
  char buf[300] = {};
  if ((r->Flg & K_NAMED) && r->Idx > 0) {
    const int l = symnam(r->Idx, buf, SYMNAM);
    buf[std::clamp(l, 0, SYMNAM)] = 0;
  } else if (const FilRec* f = (r->Flg & K_FILE) ? filrec(r) : nullptr) {
    std::memcpy(buf, f->Nam, sizeof f->Nam);
    buf[sizeof f->Nam] = 0;
  } else {
    std::snprintf(buf, sizeof buf, "Dev %d", r->Idx);
  }
  std::string s(buf, strnlen(buf, 15));
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The printed width of a display format: "%v" counts 32, "%" with a width
// the width (its precision skipped), any other character 1. With cap, each
// width counts at most what the format engine writes of a field (FMTMAXW).
// -1 after error 149 for a "%" without a width.
int fmtwidth(const char* f, int arg, bool cap = false) {
  int n = 0;
  for (int i = 0; f[i]; i++) {
    if (f[i] != '%') {
      n++;
      continue;
    }
    if (f[i + 1] == 'v') {
      n += 32;
      i++;
      continue;
    }
    int j = i + 1;
    if (f[j] == '-') j++;
    if (f[j] < '0' || f[j] > '9') {
      error(arg, 149);
      return -1;
    }
    int v = 0;
    while (f[j] >= '0' && f[j] <= '9') {
      if (v < 100000) v = v * 10 + (f[j] - '0');
      j++;
    }
    if (f[j] == '.') {
      j++;
      while (f[j] >= '0' && f[j] <= '9') j++;
    }
    n += cap ? std::min(v, FMTMAXW) : v;
    i = f[j] ? j : j - 1;  // the directive's letter
  }
  return n;
}

// Places and sizes a window in the coordinates it was made in.
void placewin(Wport* w, const int32_t* rect) {
  PwRec* p = wpwrec(w);
  if (!p) return;
  const int prev = usewin(w->id - 1);
  movport(rect[0], rect[1]);
  sizport(p, rect[2] - rect[0] + 1, rect[3] - rect[1] + 1);
  std::memcpy(w->rect, p->rect, sizeof w->rect);
  invport(nullptr);
  usewin(prev);
}

// A copy of a text into a new headed block of the low stack (a final new
// line removed); its stack address, 0 when none could be had.
int32_t textblk(const std::string& text) {
  std::string t = text;
  if (!t.empty() && t.back() == '\n') t.pop_back();
  int32_t a = 0;
  const int n = getstk(&a, static_cast<int32_t>(t.size()) + 1, 1, 1, 0);
  if (n < static_cast<int>(t.size()) + 1 || a <= 0) return 0;
  auto* p = static_cast<char*>(stkptr(a));
  std::memcpy(p, t.data(), t.size());
  p[t.size()] = 0;
  return a;
}

// The work rectangle's usable top in window coordinates: below the menu bar
// and a caption.
int usetop() { return mnubar + 1; }

// The two show-all forms.
int showall(int flag) {
  if (!flag) vwmain = false;
  if (curport) deselwin(curport);
  if (!flag) fullscreen(1);
  int front = 0;
  for (int i = 0; i < nwins; i++) {
    Wport* w = wport(i);
    if (!w) continue;
    PwRec* p = wpwrec(w);
    if (w->status & 8) {
      if (IconRec* ic = w->icon < 0 ? static_cast<IconRec*>(heldptr(w->icon)) : nullptr) drwicn(ic, 0, nullptr);
      continue;
    }
    if (!p || !p->window) continue;
    showwin(p);
    invalwin(p->window);
    if (!(w->flags & 0x110)) {
      selectWindow(p);
      front++;
    }
  }
  if (front < 2) {
    if (PwRec* m = wpwrec(wport(2))) {
      hidewin(m);
      showwin(m);
      selectWindow(m);
    }
  }
  if (front > 0 && curport) selectWindow(wpwrec(curport));
  return 0;
}

int mainonly() {
  if (curport) deselwin(curport);
  fullscreen(0);
  for (int i = 0; i < nwins; i++) {
    Wport* w = wport(i);
    if (!w || i == 2 || w->type == 16 || (w->status & 8)) continue;
    hidewin(wpwrec(w));
  }
  invalwin(winhwnd(2));
  if (PwRec* m = wpwrec(wport(2))) {
    showwin(m);
    selectWindow(m);
  }
  vwmain = true;
  return 0;
}

}  // namespace

// ---- winarg --------------------------------------------------------------

int winarg(int n, const char* name) {
  std::string text;
  bool exact = false;  // a variable finds the window named after it, not an abbreviation
  if (n == 0) {
    if (!name) return -1;
    text.assign(name, strnlen(name, 256));
  } else {
    int32_t h = 0;
    const int t = argtyp(n, &h);
    if (t == 0) return -1;
    if (isstr(t)) {
      if (!argstr(n, &text, 256)) return -1;
    } else if ((t & K_NUMBER) && !(t & K_DIMS)) {
      return lngarg(n, -1);
    } else if (const PtrRec* r = ptrrec(h); r && (t & (K_DATA | K_FILE | K_NAMED))) {
      // A variable that is not a string names the window by its own name
      // (the symbol its record belongs to), not its file's.
      char word[SYMNAM + 1] = {};
      const int l = r->Idx > 0 ? symnam(r->Idx, word, SYMNAM) : 0;
      uint16_t fl = 0;
      if (l > 0 && GETSYM(word, l, &fl, 1) == r->Idx)
        text.assign(word, static_cast<size_t>(l));
      else
        text = varname(r);
      exact = true;
    } else {
      // A command word names the window by its word: as typed, or inside a
      // function's list (where the word is gone) by its keyword record.
      char word[64];
      constexpr uint16_t KWREC = 0x2000;  // a keyword's record: its code in Idx
      if (argword(n, word, sizeof word) > 0)
        text = word;
      else if (r && r->Flg == KWREC && cmdtxt(r->Idx))
        text = cmdtxt(r->Idx);
      else
        return -1;
    }
  }
  if (text.empty()) return -1;
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const int len = static_cast<int>(text.size());
  int abbr = -1;
  for (int w = 0; w < nwins; w++) {
    const Wport* p = wport(w);
    if (!p) continue;
    const int nl = static_cast<int>(strnlen(p->name, sizeof p->name));
    if (nl < 1) continue;
    const int m = isname(p->name, text.c_str(), nl, len);
    if (m == 1) return w;
    if (m == 2 && abbr < 0 && !exact) abbr = w;
  }
  return abbr;
}

// ---- setviewwin ----------------------------------------------------------

int setviewwin(Wport* w, int n, const int32_t* rect) {
  if (!w) return 0;
  PwRec* p = wpwrec(w);
  if (p) setPort(p);
  if (rect) placewin(w, rect);
  std::string cmd, hlp;
  if (n > 0 && argstr(n, &cmd, 1024)) {
    freblk(w->cmd);
    w->cmd = textblk(cmd);
    freblk(w->hlp);
    w->hlp = argstr(n + 1, &hlp, 1024) ? textblk(hlp) : 0;
  } else {
    freblk(w->cmd);
    w->cmd = 0;
  }
  return 0;
}

// ---- the repaint hooks ---------------------------------------------------

int vwpaint(int n, int refill) {
  VwRec* v = vwof(n);
  if (!v) return 0;
  Wport* w = wport(n);
  if (v->once) return v->table ? 2 : 1;
  if (v->table && !refill) return 2;
  if (v->table) regrid(w, *v);  // the window may have been sized since
  // The repaint reads the variable through scratch records of its own.
  const int32_t keep = scrtop;
  int32_t cnt = 0, d[3] = {1, 1, 1};
  PtrRec* r = vwvar(*v, &cnt, d);
  if (r && (std::memcmp(d, v->dims, sizeof d) != 0 || r->Wsiz != v->wsiz)) r = nullptr;  // reshaped
  v->shown = r != nullptr;
  if (v->table) {
    tabfill(w, r, cnt, d, *v);
  } else if (PwRec* p = wpwrec(w)) {
    if (Surface* s = wm_surface(p->window)) pixfill(*s, r, cnt, d, bgr(p->bkcol), v);
    portfill(w, r, cnt, d);
  }
  if (scrtop > keep) scrtop = keep;
  return v->table ? 2 : 1;
}

int vwbits(int n) {
  const VwRec* v = vwof(n);
  if (!v || v->table) return 0;
  return (v->kind & K_VECTOR) ? 8 : (v->wsiz == W_FLOAT ? 32 : (v->wsiz & 63));
}

int vwstale(int n) {
  VwRec* v = vwof(n);
  if (!v || v->once) return 0;
  const int32_t keep = scrtop;
  int32_t cnt = 0, d[3] = {1, 1, 1};
  const PtrRec* r = vwvar(*v, &cnt, d);
  const bool now = r && std::memcmp(d, v->dims, sizeof d) == 0 && r->Wsiz == v->wsiz;
  if (scrtop > keep) scrtop = keep;
  return now != v->shown ? 1 : 0;
}

void vwreset() {
  vws.clear();
  vwmain = false;
}

// ---- the view command ----------------------------------------------------

int view(int flag) {
  const int na = nargs();
  if (flag || na <= 1) return showall(flag);
  int32_t h2 = 0;
  const int k2 = argtyp(2, &h2);
  if (stopped()) return 0;  // argument 2 could not be resolved
  if (na == 2 && !vwmain && !(k2 & (K_NUMBER | K_STRING | K_DATA | K_FILE | K_NAMED))) return mainonly();

  // A window, or a variable to show.
  const int win = winarg(2, nullptr);
  Wport* w = win >= 0 ? wport(win) : nullptr;
  if (stopped()) return 0;
  if (w && (win == 2 || w->type == 16)) return 0;  // the main window is refused
  const PtrRec* arg = nullptr;
  if (!w) {
    arg = ptrrec(h2);
    if (!arg || !(k2 & (K_DATA | K_FILE | K_NAMED)) || isstr(k2)) return 0;
  }
  int32_t rect[4] = {-999, -999, -999, -999};
  // The window's rectangle, measured on the screen (error 190 for a window
  // winbox cannot measure) and placed in the coordinates it was made in.
  auto measure = [&] {
    const PwRec* p = wpwrec(w);
    if (!p) return;
    int16_t box[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; k++) box[k] = static_cast<int16_t>(std::clamp<int32_t>(p->rect[k], -32768, 32767));
    int32_t sr[4] = {0, 0, 0, 0};
    winrect(const_cast<PwRec*>(p), sr);
    winbox(box, win, 0, 0);
    const int dx = sr[0] - p->rect[0], dy = sr[1] - p->rect[1];
    for (int k = 0; k < 4; k++) rect[k] = box[k] - ((k & 1) ? dy : dx);
  };
  // An icon is measured only by the forms that move or size it (below): the
  // others delete it, iconize it or restore it and need no rectangle.
  const bool icon = w && (w->status & 8);
  if (w && !icon) measure();
  // Error 190 is reported and the command carries on; only what fails from
  // here on stops it.
  bool failed = stopped();
  auto stop = [&] { return !failed && stopped(); };

  // Arguments 3 to 7: positions, a keyword or a display format.
  int32_t pos[4] = {-999, -999, -999, -999};
  int npos = 0, act = 1, next = 3;
  bool kwimage = false, kwvector = false, boxed = false, hasfmt = false;
  std::string fmt;
  const int last = std::min(na, 7);
  for (int a = 3; a <= last; a++) {
    next = a + 1;
    int32_t h = 0;
    const int k = argtyp(a, &h);
    if (k & 0x2000) {
      const int c = argnum(a);
      if (c == CM_IMAGE) {
        kwimage = true;
      } else if (c == FN_VECTOR) {
        kwvector = true;
      } else {
        error(a, 109);
        return 0;
      }
      break;
    }
    if (isstr(k)) {
      argstr(a, &fmt, FMTMAX);
      hasfmt = true;
      break;
    }
    if (k == 0 || ((k & K_NUMBER) && !(k & K_DIMS))) {
      if (npos == 4) {
        error(a, 109);
        return 0;
      }
      if (k) {
        const int32_t v = lngarg(a, 0);
        if (npos == 0 && v == -999) boxed = true;
        pos[npos] = v;
        act = v;
      }
      npos++;  // "-" keeps its place
      continue;
    }
    next = a;  // anything else ends the list
    break;
  }
  if (stop()) return 0;
  if (icon && (na - 1 > 4 || boxed)) {
    measure();
    failed = stopped();
  }
  if (boxed) {
    // The user drags the rectangle in the vector window (getbox picks
    // there): its client coordinates are placed in the main window's.
    int16_t box[6] = {0, 0, 0, 0, 0, 0};
    if (getbox(box, 0, 0, 0) < 0 || stop()) return 0;
    int ox = 0, oy = 0;
    if (const PwRec* p = wpwrec(wport(4))) ox = p->rect[0], oy = p->rect[1];
    pos[0] = box[0] + ox;
    pos[1] = box[1] + oy;
    pos[2] = box[2] + ox;
    pos[3] = box[3] + oy;
    npos = 4;
    if (act == -999) act = 1;
  }

  // An existing window: iconized, deleted, or moved and made current.
  if (w) {
    const int after = na - 2;
    if (after == 1 && npos == 1 && (act == -1 || act == 0)) {
      if (act == -1) {
        iconwin(w);
      } else if (!(w->flags & 0x10)) {
        const bool cur = curwin == win;
        if (w->watch > 0) frewat(w->watch - 1);
        deletewin(win);
        if (cur) setwin(-1);
      }
      return 0;
    }
    // More than four arguments after the command word, or a rectangle the
    // user drew: the window moves.
    if (na - 1 > 4 || boxed) {
      // Values not given keep the window's size.
      const int32_t wid = rect[2] - rect[0], hgt = rect[3] - rect[1];
      int32_t r[4] = {rect[0], rect[1], rect[2], rect[3]};
      if (npos > 0 && pos[0] != -999) r[0] = pos[0];
      if (npos > 1 && pos[1] != -999) r[1] = pos[1];
      r[2] = npos > 2 && pos[2] != -999 ? pos[2] : r[0] + wid;
      r[3] = npos > 3 && pos[3] != -999 ? pos[3] : r[1] + hgt;
      if (npos >= 2 && r[1] < usetop()) {
        r[3] += usetop() - r[1];
        r[1] = usetop();
      }
      trcint(8, "VRECT", 1, r[0], r[1], r[2], r[3], act);
      if (r[2] >= r[0] && r[3] >= r[1]) setviewwin(w, next, r);
    }
    setwin(win);
    return 0;
  }

  // A new view of a variable.
  int32_t count = 0;
  PtrRec* r = argary(2, &count);
  if (!r || count < 1 || stopped()) return 0;
  const int kind = r->Flg;
  if ((kind & K_NUMBER) && !(kind & K_DIMS)) return 0;  // a number variable: nothing to show
  int32_t dims[3];
  recdims(r, dims);
  VwRec v;
  v.type = static_cast<uint16_t>(kind & 0xFFFE);
  v.kind = static_cast<uint16_t>(kind);
  v.wsiz = r->Wsiz;
  std::memcpy(v.dims, dims, sizeof dims);
  if (((kind & K_NAMED) && r->Idx > 0) || filevar(r)) {
    v.var = r->Idx;
    v.type |= 0x1000;
    const int l = symnam(r->Idx, v.name, SYMNAM);
    v.name[std::clamp(l, 0, SYMNAM)] = 0;
  } else if (!(kind & K_FILE) && r->Idx > 0) {
    v.var = r->Idx;  // a device number
  } else {
    v.once = true;   // shown as it is now
  }
  // What the window shows, and its size.
  int ccw = 0, cch = 0;
  cellsize(&ccw, &cch);
  int64_t wid = 0, hgt = 0;
  const bool flt = r->Wsiz == W_FLOAT;
  if (hasfmt) {
    v.table = true;
    std::snprintf(v.fmt, sizeof v.fmt, "%s", fmt.c_str());
    v.cw = fmtwidth(v.fmt, next - 1, true);
    if (v.cw < 0) return 0;
  } else if (kwvector && !(kind & (K_IMAGE | K_VECTOR))) {
    v.table = true;
    std::strcpy(v.fmt, "%v\n");
  } else if ((kind & (K_IMAGE | K_VECTOR)) || kwimage) {
    v.table = false;
  } else if (flt) {
    v.table = true;
    std::strcpy(v.fmt, "%12.3f ");
  } else {
    v.table = true;
    const int bits = r->Wsiz & 63;
    std::snprintf(v.fmt, sizeof v.fmt, "%%%dd ", bits <= 8 ? 4 : bits <= 16 ? 7 : 12);
  }
  // The window's width counts each field as the format gives it; a cell
  // holds what the format engine writes of it.
  const int shown = v.table ? fmtwidth(v.fmt, 0) : 0;
  if (v.table) v.cw = std::min(v.cw ? v.cw : fmtwidth(v.fmt, 0, true), CELLMAX);
  // A vector variable's table holds one record a row.
  const bool vecrows = v.table && (kind & K_VECTOR) && r->Wsiz == W_VEC;
  if (v.table) {
    wid = static_cast<int64_t>(vecrows ? 1 : dims[0]) * std::max(shown, 1) * ccw;
    hgt = static_cast<int64_t>(dims[1]) * cch;
    v.tcols = static_cast<int64_t>(vecrows ? 1 : dims[0]) * v.cw;
    v.trows = static_cast<int64_t>(dims[1]) * dims[2];
  } else if (kind & K_VECTOR) {
    wid = static_cast<int64_t>(GRIDCOLS) * FACEWID;
    hgt = static_cast<int64_t>(GRIDROWS) * FACEHGT;
  } else {
    wid = dims[0];
    hgt = dims[1];
  }
  // A window is never larger than VWMAX on a side (its surface is memory).
  wid = std::clamp<int64_t>(wid, 1, VWMAX);
  hgt = std::clamp<int64_t>(hgt, 1, VWMAX);

  // The rectangle: centred where no position was given.
  int32_t rr[4] = {pos[0], pos[1], pos[2], pos[3]};
  if (npos >= 2 && rr[1] != -999 && rr[1] < usetop()) {
    if (rr[3] != -999) rr[3] += usetop() - rr[1];
    rr[1] = usetop();
  }
  if (rr[0] == -999) rr[0] = clampi((scrwid - wid) / 2, INT16_MIN, INT16_MAX);
  if (rr[1] == -999) rr[1] = clampi((scrhgt - hgt) / 2, INT16_MIN, INT16_MAX);
  if (rr[2] == -999) rr[2] = clampi(rr[0] + wid - 1, INT32_MIN, INT32_MAX);
  if (rr[3] == -999) rr[3] = clampi(rr[1] + hgt - 1, INT32_MIN, INT32_MAX);
  rr[2] = std::min<int32_t>(rr[2], rr[0] + VWMAX - 1);
  rr[3] = std::min<int32_t>(rr[3], rr[1] + VWMAX - 1);
  trcint(8, "VRECT", 0, rr[0], rr[1], rr[2], rr[3], act);
  if (rr[2] < rr[0] || rr[3] < rr[1] || act == 0) return 0;

  // The window.
  const std::string name = varname(r);
  int type = 1, flags = 0x200;
  if (!v.table) {
    type = (kind & K_VECTOR) ? 8 : 4;
    const int size = (kind & K_VECTOR) ? 1 : std::max(1, (r->Wsiz & 63) / 8);
    flags = (size & 7) | 8 | 0x100;
  }
  const int slot = makwin(-1, type, flags, 0, name.c_str(), rr, 1, 0);
  Wport* nw = slot >= 0 ? wport(slot) : nullptr;
  if (!nw) return 0;
  if (v.table) {
    if (PwRec* p = wpwrec(nw)) p->flags &= static_cast<uint16_t>(~8);  // no caret
    nw->status |= 64;  // the table keeps its origin
  }
  v.hwnd = winhwnd(slot);
  // The window may be larger than the screen, as large as the whole table
  // or image: setviewwin sizes it below.
  wm_large(v.hwnd, static_cast<int>(wid), static_cast<int>(hgt));
  placewin(nw, rr);
  if (v.table && regrid(nw, v) < 0) {
    deletewin(slot);
    error(0, 42);
    return 0;
  }
  if (static_cast<int>(vws.size()) <= slot) vws.resize(static_cast<size_t>(slot) + 1);
  vws[static_cast<size_t>(slot)] = v;
  // Filled now from the argument itself: a format fault shows here, and a
  // variable that cannot be looked up again keeps this picture.
  VwRec& vr = vws[static_cast<size_t>(slot)];
  vr.shown = true;
  savoff(r);
  if (v.table) {
    tabfill(nw, r, count, dims, vr);
  } else if (PwRec* p = wpwrec(nw)) {
    viewport(nw, vr, static_cast<int>(wid), static_cast<int>(hgt));
    if (Surface* s = wm_surface(p->window)) pixfill(*s, r, count, dims, bgr(p->bkcol), &vr);
    portfill(nw, r, count, dims);
  }
  if (stopped()) {
    deletewin(slot);
    return 0;
  }
  setwin(slot);
  if (act < 0)
    iconwin(nw);
  else if (PwRec* p = wpwrec(nw))
    invalwin(p->window);
  if (!v.once) {
    const int ws = addwat(slot + 1, v.var, v.type, dims);
    if (ws >= 0) nw->watch = static_cast<int16_t>(ws + 1);
  }
  setviewwin(nw, next, rr);
  setres(slot, 0);
  return 0;
}
