// Alert boxes and the about box: a temporary dialog record (kind 4, built
// in memory) of message lines, an optional edit field and a row or rows of
// push buttons, shown as a dialog window and waited for.
#include "ui/alert.h"

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "ui/dialog.h"
#include "ui/draw.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/menu.h"
#include "ui/platform/backend.h"
#include "ui/platform/dlgwin.h"
#include "ui/platform/entry.h"
#include "ui/platform/wm.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int MAXLINES = 128;
constexpr int EDITLIM = 512;

struct Spec {
  int kind;
  int32_t rect[4];
  std::string text;
};

// A dialog record made in memory: kind 4 without the file flag, open.
int mkrec(const std::string& name, const int32_t rect[4], const std::vector<Spec>& wids) {
  const int n = newmnu();
  if (n < 0) return -1;
  MnuRec* r = mnurec(n);
  std::memset(r, 0, sizeof *r);
  std::string texts;
  std::vector<DlgWid> ws(wids.size());
  for (size_t i = 0; i < wids.size(); i++) {
    DlgWid& w = ws[i];
    std::memset(&w, 0, sizeof w);
    w.kind = static_cast<uint8_t>(wids[i].kind);
    std::memcpy(w.rect, wids[i].rect, sizeof w.rect);
    w.fg = 0;
    w.bg = 0xFFFFFF;
    if (!wids[i].text.empty() && texts.size() + wids[i].text.size() < 60000) {
      w.txtoff = static_cast<uint16_t>(texts.size());
      w.txtlen = static_cast<uint16_t>(wids[i].text.size());
      texts += wids[i].text;
      texts += '\0';
    }
  }
  const size_t tb = (texts.size() + 7) & ~static_cast<size_t>(7);
  const size_t size = tb + ws.size() * sizeof(DlgWid) + MNUTAIL;
  auto* d = static_cast<uint8_t*>(xcalloc(size, 1));
  if (!d) {
    frmnu(n, true);
    return -1;
  }
  std::memcpy(d, texts.data(), texts.size());
  if (!ws.empty()) std::memcpy(d + tb, ws.data(), ws.size() * sizeof(DlgWid));
  std::snprintf(r->name, sizeof r->name, "%.15s", name.c_str());
  r->size = static_cast<uint32_t>(size);
  r->kind = MK_DIALOG;
  r->active = 1;
  r->nwid = static_cast<int16_t>(ws.size());
  std::memcpy(r->rect, rect, sizeof r->rect);
  r->bkcol = 0xFFFFFF;
  r->widoff = static_cast<uint16_t>(tb);
  r->data = holdptr(d);
  r->tail = static_cast<int32_t>(size - MNUTAIL);
  return n;
}

// Closes the pending alert box and releases its record.
void closealert() {
  const int n = alrtmnu;
  if (n) {
    if (const int32_t dlg = dlgwinof(n)) {
      const int slot = winnum(dlg);
      if (slot >= 0) deletewin(slot);
    }
    frmnu(n, true);
  }
  if (dlgmodalwin()) dlgmodal(0);
  alrtmnu = 0;
  alropen = 0;
}

// The about box's text.
std::string about() {
  char b[512];
  uint32_t sfree = 0;
  stkfre(&sfree);
  const double mb = 1024.0 * 1024.0;
  const double halloc = hstk.end > hstk.lowest ? (static_cast<double>(hstk.end) - HIMEM_BASE) * 4 / mb : 0.0;
  const double hfree = hstk.freew > 0 ? static_cast<double>(hstk.freew) * 4 / mb : 0.0;
  uint32_t avail = 0, total = 0;
  memfree(&avail, &total);
  std::snprintf(b, sizeof b,
                "PELIX -- Version %3.2f.%02d\nA laboratory workbench for images, data and experiments\n"
                "\nStack memory: %ld bytes allocated, %ld free\n"
                "High memory: %.1f Mbytes allocated, %.1f Mb free, %.1f Mb available",
                PELIX_VERSION, 0, static_cast<long>(lstk.end) * 4, static_cast<long>(sfree), halloc, hfree,
                static_cast<double>(avail) / mb);
  return b;
}
}  // namespace

int Alertb(const char* message, const char* buttons, int kind, const char* title, char* text, int x,
           int y, int width, int height) {
  if (kind < 0) {
    const int n = alrtmnu;
    closealert();
    return n - 1;
  }
  std::string ttl = title && *title ? title : "Alert";
  std::string low = ttl;
  for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool edit = low.compare(0, 6, "accept") == 0;
  std::string msg = message ? message : "";
  const bool aboutbox = msg.empty() && (!buttons || !*buttons);
  std::string btns = buttons ? buttons : "";
  if (aboutbox) {
    ttl = "About PELIX";
    msg = (kind & 4) ? std::string() : about();
    if (!(kind & 4)) btns = "!OK";
  } else if (!buttons || (btns.empty() && !(kind & 4))) {
    btns = "!OK";
  }
  // A new alert replaces the pending one.
  closealert();

  // The buttons: an optional count a row (a first character below 13),
  // then labels separated by ";" or newlines, "!" marking the default.
  int perrow = 0;
  size_t at = 0;
  if (!btns.empty() && static_cast<unsigned char>(btns[0]) < 13 && btns[0] != '\n') {
    perrow = static_cast<unsigned char>(btns[0]);
    at = 1;
  }
  std::vector<std::string> labels;
  int dflt = 0;
  while (at < btns.size()) {
    size_t e = btns.find_first_of(";\n", at);
    if (e == std::string::npos) e = btns.size();
    std::string l = btns.substr(at, e - at);
    if (!l.empty() && l[0] == '!') {
      if (!dflt) dflt = static_cast<int>(labels.size()) + 1;
      l.erase(0, 1);
    }
    labels.push_back(l);
    at = e + 1;
  }
  if (!dflt && !labels.empty()) dflt = 1;
  const int nb = static_cast<int>(labels.size());

  // The message lines (a leading CR of a line skipped).
  std::vector<std::string> lines;
  for (size_t p = 0; p < msg.size() && static_cast<int>(lines.size()) < MAXLINES;) {
    size_t e = msg.find('\n', p);
    if (e == std::string::npos) e = msg.size();
    std::string l = msg.substr(p, e - p);
    if (!l.empty() && l[0] == '\r') l.erase(0, 1);
    lines.push_back(l);
    p = e + 1;
  }
  const int nl = static_cast<int>(lines.size());

  // Measures.
  int cw = 8, ch = 16;
  dlgcell(&cw, &ch);
  cw = std::max(1, cw), ch = std::max(1, ch);
  const int lh = ch + 4, bh = ch + 8, step = bh + 10;
  int widest = 0;
  for (const std::string& l : lines) widest = std::max(widest, txtwid(l.c_str(), static_cast<int>(l.size())));
  int lwide = 0;
  for (const std::string& l : labels) lwide = std::max(lwide, txtwid(l.c_str(), static_cast<int>(l.size())));
  const int elines = edit ? std::max(1, height) : 0;
  const int edith = edit ? (elines + 1) * bh : 0;
  if (perrow <= 0) perrow = nb > 4 ? 4 : std::max(nb, 1);
  if (kind & 8) perrow = 1;
  const int bw = lwide + 4 * cw;
  const int rows = nb > 0 ? (nb + perrow - 1) / perrow : 0;
  int boxw = std::max(widest + 16 * cw, (bw + 4 * cw) * perrow);
  if (edit && width > 0) boxw = std::max(boxw, width * cw);
  int boxh = (nl + 2) * lh + edith + 10 + rows * step;
  if (!edit && width > 0) boxw = width;
  if (!edit && height > 0) boxh = height;
  // Clamped to the main window's client area and centred on it.
  const Wport* mw = wport(2);
  const int32_t mx = mw ? mw->rect[0] : 0, my = mw ? mw->rect[1] : 0;
  const int mwid = mw ? mw->rect[2] - mw->rect[0] + 1 : 1024, mhgt = mw ? mw->rect[3] - mw->rect[1] + 1 : 768;
  boxw = std::clamp(boxw, 1, std::max(1, mwid));
  boxh = std::clamp(boxh, 1, std::max(1, mhgt - WM_CAPHGT));
  int bx = (mwid - boxw) / 2, by = (mhgt - boxh) / 2;
  if (x >= 0) bx = width > 0 ? x : x - boxw / 2;
  if (y >= 0) by = height > 0 ? y : y - boxh / 2;
  bx = std::clamp(bx, 0, std::max(0, mwid - boxw));
  by = std::clamp(by, WM_CAPHGT, std::max(WM_CAPHGT, mhgt - boxh));

  // The widgets: the lines, the edit field, the buttons.
  std::vector<Spec> wids;
  for (int i = 0; i < nl; i++) {
    Spec s{WK_STATIC, {cw, lh - 5 + i * lh, boxw - cw - 1, lh - 5 + i * lh + lh - 1}, lines[static_cast<size_t>(i)]};
    if (kind & 2) {
      const int tw = txtwid(s.text.c_str(), static_cast<int>(s.text.size()));
      s.rect[0] = std::max(0, (boxw - tw) / 2);
      s.rect[2] = s.rect[0] + std::max(tw, 1) - 1;
    }
    wids.push_back(s);
  }
  const int etop = (nl + 1) * lh;
  if (edit) wids.push_back(Spec{WK_EDIT, {20, etop, boxw - 21, etop + elines * ch + 7}, std::string()});
  const int btop = etop + edith;
  const int colw = boxw / perrow;
  for (int i = 0; i < nb; i++) {
    const int row = i / perrow, col = i % perrow;
    const int inrow = std::min(perrow, nb - row * perrow);
    int x0;
    if (kind & 16)
      x0 = boxw - (col + 1) * colw + (colw - bw) / 2;
    else
      x0 = (boxw - inrow * colw) / 2 + col * colw + (colw - bw) / 2;
    const int y0 = btop + row * step;
    wids.push_back(Spec{WK_PUSH, {x0, y0, x0 + bw - 1, y0 + bh - 1}, labels[static_cast<size_t>(i)]});
  }
  const int32_t rect[4] = {mx + bx, my + by, mx + bx + boxw - 1, my + by + boxh - 1};
  const int n = mkrec(ttl, rect, wids);
  if (n < 0) return -1;
  MnuRec* r = mnurec(n);
  r->firstbtn = static_cast<int16_t>(nl);
  r->editctl = static_cast<int16_t>(edit ? nl + 1 : 0);
  r->editlim = static_cast<int16_t>(std::min(EDITLIM, ALERTTXT - 1));
  if (edit && text) {
    char* t = mnutail(r);
    std::snprintf(t, MNUTAIL, "%.*s", ALERTTXT - 1, text);
  }
  alrtmnu = static_cast<int16_t>(n);
  alropen = 1;
  if (trcmsk) {
    // The box's size and place in the main window, the main window's
    // rectangle with the buttons a row, each widget, the window made.
    jprintf(dbglun, "abox %dx%d  %d %d\n", boxw, boxh, nl, nb);
    jprintf(dbglun, "ralert %d,%d %dx%d\n", bx, by, boxw, boxh);
    jprintf(dbglun, "Alert Win %d,%d  %d,%d (nx=%d)\n", mx, my, mwid, mhgt, perrow);
    for (size_t i = 0; i < wids.size(); i++) {
      const Spec& w = wids[i];
      jprintf(dbglun, "Alrt Wid %2d: %3d %3d (%3d,%3d,%3d,%3d) %3d %s %d %d %d\n", static_cast<int>(i), w.kind, 0,
              w.rect[0], w.rect[1], w.rect[2], w.rect[3], static_cast<int>(w.text.size()), w.text.c_str(), 0, 0xFFFFFF,
              0);
    }
    jprintf(dbglun, "malert %d,%d %dx%d\n", rect[0], rect[1], boxw, boxh + 30);
  }
  makdlg(n, 0, 1);
  const int32_t dlg = dlgwinof(n);
  if (dlg) {
    wm_settitle(dlg, ttl.c_str());
    if (dflt) dlgdefault(dlg, nl + (edit ? 1 : 0) + dflt);
    if (edit) dlgfocus(dlg, nl + 1, true);
  }
  // Headless, the box is also written out as it opens.
  {
    backend()->alertout(ttl.c_str(), static_cast<int>(ttl.size()));
    for (const std::string& l : lines) backend()->alertout(l.c_str(), static_cast<int>(l.size()));
    if (nb > 0) {
      std::string b;
      for (int i = 0; i < nb; i++) b += (i + 1 == dflt ? " <" : " ") + labels[static_cast<size_t>(i)] + (i + 1 == dflt ? ">" : "");
      backend()->alertout(b.c_str(), static_cast<int>(b.size()));
    }
  }
  if (nb == 0) return 0;  // the box stays open
  if (!dlg) {
    closealert();
    return -1;
  }
  dlgmodal(dlg);
  // The box may be replaced meanwhile (a help alert opened while it waits):
  // its record is looked up again each time.
  const int me = n;
  auto mine = [me]() { return alrtmnu == me ? mnurec(me) : nullptr; };
  while (mine() && mine()->active && !(state & 0x8180)) {
    // Keys typed ahead of the box come as codes: they are the box's too.
    const int k = getkey(0);
    if (mine() && mine()->active && k > 0 && dlgvalid(dlg)) dlgkey(dlg, k);
  }
  MnuRec* done = mine();
  if (!done) return -1;
  int result = -1;
  if (!done->active && !(state & 0x8180)) {
    result = done->pressed;
    if (edit && text && result > 0) {
      const char* t = mnutail(done);
      std::snprintf(text, ALERTTXT, "%.*s", std::max<int>(0, done->editlim), t ? t : "");
    }
  }
  closealert();
  return result;
}

bool keyline(char* buf, int size, bool esc) {
  int n = 0;
  buf[0] = 0;
  for (;;) {
    int k = getkey(0);
    if (k == 3) {
      state |= ST_INTR;
      return false;
    }
    if (esc && (k == 27 || k == 155)) return false;
    if (k < 0 || k == 13 || k == 10) break;
    if (k == 8 || k == 127) {
      if (n > 0) n--;
    } else if (k >= 32 && k < 256 && n < size - 1) {
      buf[n++] = static_cast<char>(k);
    }
  }
  buf[n] = 0;
  return true;
}
