// The dialog editor: its tool window and add window, and the ".dlg" writer.
#include "ui/dlgedit.h"

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "files/safewrite.h"
#include "ui/dialog.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/menu.h"
#include "ui/platform/dlgwin.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int E_CREATE = 180;
constexpr int WORKBUF = 40000;  // bytes of the work buffer of an addition

// Control identifiers of the tool and add windows.
enum : int {
  C_WRITE = 1000, C_NONE = 2, C_CLOSE = 3, C_TEXT = 1004, C_CMDHLP = 1005, C_NEXT = 1011, C_PREV = 1012,
  C_X = 1013, C_Y = 1014, C_W = 1015, C_H = 1016, C_UNDO = 1019, C_MOVE = 1021, C_ADDWIN = 1022,
  C_DELETE = 1023, C_KIND = 1025, C_SHOWCMD = 1044, C_SHOWHLP = 1045,
  // the add window
  A_PUSH = 1017, A_CHECK = 1008, A_RADIO = 1007, A_EDIT = 1040, A_STATIC = 1038, A_X = 1045, A_Y = 1047,
  A_W = 1046, A_H = 1048, A_TEXT = 1049, A_CMD = 1050, A_HELP = 1006, A_ADD = 1022,
};

int32_t toolwin = 0, addwin = 0;
int sel = 0;            // the selected widget
bool showhelp = false;  // field 1005 shows the help
// The last move, for undo: the widget and its rectangle before it; the
// rectangle of the selected widget as it stands (what a move starts from).
int undoid = -1;
int32_t undorc[4];
int32_t snaprc[4];
char* work = nullptr;  // the work buffer
int workhalf = 0;

constexpr uint32_t VIS = WS_VISIBLE | WS_TABSTOP;

struct Ctl {
  int id, cls;
  uint32_t style;
  int x, y, w, h;
  const char* text;
};

// A row of four labelled fields at height y: x, y, width and height.
void sizerow(std::vector<Ctl>& c, const int (&ids)[4], int y, const char* const (&values)[4]) {
  static const char* const labels[4] = {"x", "y", "w", "h"};
  for (int k = 0; k < 4; k++) {
    c.push_back(Ctl{1061 + k, CC_STATIC, WS_VISIBLE, 10 + 72 * k, y + 2, 12, 16, labels[k]});
    c.push_back(Ctl{ids[k], CC_EDIT, VIS, 24 + 72 * k, y, 48, 20, values[k]});
  }
}

// Builds a dialog from a list of controls (pixels) beside a rectangle, with
// a procedure; registers it among the modeless dialogs. Its handle, 0 none.
int32_t makewin(const char* title, const std::vector<Ctl>& c, int w, int h, const int32_t* near, DlgProc proc) {
  const Ctl* ctls = c.data();
  const int n = static_cast<int>(c.size());
  DlgTmpl t;
  t.header(0x90C00000, n, 0, 0, px2dlu(w), py2dlu(h), title);
  for (int i = 0; i < n; i++)
    t.item(ctls[i].style, px2dlu(ctls[i].x), py2dlu(ctls[i].y), px2dlu(ctls[i].w), py2dlu(ctls[i].h), ctls[i].id,
           ctls[i].cls, ctls[i].text);
  int x = near ? near[2] + 16 : 40, y = near ? near[1] : 40;
  if (x + w >= scrwid) x = std::max(0, (near ? near[0] : 0) - w - 16);
  y = std::clamp(y, 0, std::max(0, scrhgt - h));
  const int place[4] = {x, y, w, h};
  int slot = 0;
  while (slot < NDLGTAB && dlgtab[slot]) slot++;
  if (slot >= NDLGTAB) return 0;
  const auto& b = t.bytes();
  const int32_t d = dlgcreate(b.data(), b.size(), 0, proc, 0, place);
  if (!d) return 0;
  dlgtab[slot] = d;
  ndlgtab = static_cast<int16_t>(std::max<int>(ndlgtab, slot + 1));
  return d;
}

void killwin(int32_t* h) {
  if (*h && dlgvalid(*h)) {
    dlgdrop(*h);
    wm_destroy(*h);
  }
  *h = 0;
}

MnuRec* edited() {
  MnuRec* r = mnurec(edmnu);
  return r && (r->kind & 15) == MK_DIALOG ? r : nullptr;
}

// The edited dialog is built again (in its own window slot).
void rebuild(int n) {
  if (const int32_t d = dlgwinof(n)) {
    const int slot = winnum(d);
    if (slot >= 0) deletewin(slot);
  }
  makdlg(n, 1, 0);
}

const char* kindname(int k) {
  switch (k) {
    case WK_PUSH: return "Push";
    case WK_CHECK: return "Check";
    case WK_RADIO: return "Radio";
    case WK_STATIC:
    case WK_STATIC2: return "Static";
    case WK_COMBO: return "Combo";
    case WK_EDIT: return "Edit";
    default: return "";
  }
}

// Each line of a text, prefixed by a character (none: 0), and a newline.
void putlines(std::string& out, const char* text, char prefix) {
  const char* p = text;
  for (;;) {
    const char* nl = std::strchr(p, '\n');
    if (prefix) out += prefix;
    out.append(p, nl ? static_cast<size_t>(nl - p) : std::strlen(p));
    out += '\n';
    if (!nl) break;
    p = nl + 1;
  }
}

// Why a widget's text, command and help would not read back as they are
// from a dialog file (each text line is written behind a double quote,
// each help line behind "?", the command's lines as they are); null when
// they would.
const char* unheld(const std::string& text, const std::string& cmd, const std::string& help) {
  if ((text + cmd + help).find('\r') != std::string::npos)
    return "a carriage return (a dialog file would end the line there)";
  if (cmd.empty()) return nullptr;
  for (size_t a = 0;;) {
    const size_t b = cmd.find('\n', a);
    const std::string ln = cmd.substr(a, b == std::string::npos ? std::string::npos : b - a);
    if (ln.find_first_not_of(" \t") == std::string::npos)
      return "a command line is empty (it would end the widget)";
    if (ln[0] == ' ' || ln[0] == '\t') return "a command line begins with a blank (it would be dropped)";
    if (ln[0] == '"') return "a command line begins with \" (it would be read as text)";
    if (ln[0] == '?') return "a command line begins with ? (it would be read as help)";
    if (b == std::string::npos) return nullptr;
    a = b + 1;
  }
}

// Reports a refusal on rows of its own below the command line, which
// comes back below it (the editor's windows run while it waits).
void refuse(const std::string& what) {
  lnoff();
  jprintf(errlun, "%s\n", what.c_str());
  lnon();
}

std::string field(int32_t dlg, int id, int max) {
  std::string s = dlgtextstr(dlg, id);
  if (static_cast<int>(s.size()) > max) s.resize(static_cast<size_t>(max));
  return s;
}

// The widget given by the add window's fields: 1 added; 0 when it does not
// fit the work buffer (nothing is added then); -1 when a dialog file could
// not hold its texts (refused with the reason, the add window stays open
// for them to be changed).
int addwidget(MnuRec* r, int32_t dlg) {
  const std::string text = field(dlg, A_TEXT, 50), cmd = field(dlg, A_CMD, 50), help = field(dlg, A_HELP, 50);
  // What Save writes must read back as the same dialog.
  if (const char* why = unheld(text, cmd, help)) {
    refuse(std::string("Widget not added: ") + why);
    return -1;
  }
  int half = 0;
  if (bigbuf(&half) < 0) return 0;
  const uint8_t* d = mnudata(r);
  if (!d) return 0;
  const int nw = r->nwid;
  // The texts in the first half, the widgets in the second.
  int ntext = r->widoff;
  const int need = ntext + (text.empty() ? 0 : static_cast<int>(text.size()) + 1) +
                   (cmd.empty() ? 0 : static_cast<int>(cmd.size()) + 1) + (help.empty() ? 0 : static_cast<int>(help.size()) + 1);
  if (need > half || need > 65535 - 8 || (nw + 1) * static_cast<int>(sizeof(DlgWid)) > half) return 0;
  std::memcpy(work, d, static_cast<size_t>(ntext));
  DlgWid w{};
  auto append = [&](const std::string& s, uint16_t* off, uint16_t* len) {
    if (s.empty()) return;
    *off = static_cast<uint16_t>(ntext);
    *len = static_cast<uint16_t>(s.size());
    std::memcpy(work + ntext, s.c_str(), s.size() + 1);
    ntext += static_cast<int>(s.size()) + 1;
  };
  append(text, &w.txtoff, &w.txtlen);
  append(cmd, &w.cmdoff, &w.cmdlen);
  append(help, &w.hlpoff, &w.hlplen);
  const int x = std::atoi(field(dlg, A_X, 10).c_str()), y = std::atoi(field(dlg, A_Y, 10).c_str());
  const int ww = std::atoi(field(dlg, A_W, 10).c_str()), hh = std::atoi(field(dlg, A_H, 10).c_str());
  w.rect[0] = x, w.rect[1] = y, w.rect[2] = x + ww, w.rect[3] = y + hh;
  w.fg = 0;
  w.bg = r->bkcol;
  struct {
    int id, kind, ctl;
    uint32_t style;
  } const kinds[] = {{A_PUSH, WK_PUSH, 1, 1}, {A_CHECK, WK_CHECK, 1, 2}, {A_RADIO, WK_RADIO, 1, 4},
                     {A_EDIT, WK_EDIT, 2, 4}, {A_STATIC, WK_STATIC, 3, 4}};
  int ctl = 1;
  uint32_t style = 1;
  w.kind = WK_PUSH;
  for (const auto& k : kinds)
    if (dlgchecked(dlg, k.id)) w.kind = static_cast<uint8_t>(k.kind), ctl = k.ctl, style = k.style;
  mkctl(dlgwinof(edmnu), style, ctl, w.rect, text.c_str(), nw + 1);
  // The new data block: the texts, the widgets behind them, the tail area.
  const int tbytes = (ntext + 7) & ~7;
  const int wbytes = (nw + 1) * static_cast<int>(sizeof(DlgWid));
  const uint32_t size = static_cast<uint32_t>(tbytes + wbytes + MNUTAIL);
  auto* nd = static_cast<uint8_t*>(xcalloc(size, 1));
  if (!nd) return 0;
  std::memcpy(nd, work, static_cast<size_t>(ntext));
  std::memcpy(nd + tbytes, d + r->widoff, static_cast<size_t>(nw) * sizeof(DlgWid));
  std::memcpy(nd + tbytes + nw * static_cast<int>(sizeof(DlgWid)), &w, sizeof w);
  std::memcpy(nd + size - MNUTAIL, d + r->size - MNUTAIL, MNUTAIL);
  void* old = mnudata(r);
  dropptr(r->data);
  xfree(old);
  r->data = holdptr(nd);
  r->size = size;
  r->widoff = static_cast<uint16_t>(tbytes);
  r->tail = static_cast<int32_t>(size - MNUTAIL);
  r->nwid = static_cast<int16_t>(nw + 1);
  return 1;
}

void tracemsg(const char* who, int32_t dlg, uint32_t message, uint32_t wParam, uint32_t lParam) {
  if (!(jdebug & 4) || !logfp) return;
  if ((message == WM_MOUSEMOVE && !(wParam & 19)) || message == 0xA0 || message == 0x84 || message == WM_SETCURSOR)
    return;
  logprintf("%s Event %16s %4xh %3d %d (%6d %d) %d\n", who, msgname(message), message, winnum(dlg),
            static_cast<int>(edmove), static_cast<int>(wParam), static_cast<int>(lParam), sel);
}
}  // namespace

bool wdeleted(const void* widget) {
  const auto* w = static_cast<const DlgWid*>(widget);
  return w && w->kind == 0 && w->txtoff == 0 && w->txtlen == 65535;
}

int bigbuf(int* half) {
  for (int s = WORKBUF; s >= 2001 && !work; s -= 1000) {
    work = static_cast<char*>(xcalloc(static_cast<size_t>(s), 1));
    workhalf = s / 2;
  }
  if (!work) return -1;
  if (half) *half = workhalf;
  return 1;
}

int mkctl(int32_t window, uint32_t style, int kind, const int32_t* rect, const char* text, int id) {
  if (!window || !rect) return -1;
  const int cls = kind == 1 ? CC_BUTTON : kind == 2 ? CC_EDIT : CC_STATIC;
  return dlgadd(window, cls, style | 0x50000000, rect[0], rect[1], rect[2] - rect[0] + 1, rect[3] - rect[1] + 1, id,
                kind == 2 ? "(Unnamed)" : text);
}

int wedset(int, MnuRec* r, int widget, int32_t window) {
  if (!r || !window) return -1;
  int i = std::max(widget, 0);
  while (i < r->nwid && wdeleted(dlgwid(r, i))) i++;
  if (i >= r->nwid) {
    i = std::min(widget, static_cast<int>(r->nwid) - 1);
    while (i >= 0 && wdeleted(dlgwid(r, i))) i--;
  }
  const DlgWid* w = dlgwid(r, i);
  if (!w) {
    for (int id : {C_TEXT, C_CMDHLP, C_X, C_Y, C_W, C_H, C_KIND}) dlgsettext(window, id, "");
    return -1;
  }
  sel = i;
  r->curitem = static_cast<int16_t>(i + 1);
  std::memcpy(snaprc, w->rect, sizeof snaprc);
  dlgsettext(window, C_TEXT, mnutext(r, w->txtoff, w->txtlen));
  dlgsettext(window, C_CMDHLP, showhelp ? mnutext(r, w->hlpoff, w->hlplen) : mnutext(r, w->cmdoff, w->cmdlen));
  const int v[4] = {w->rect[0], w->rect[1], w->rect[2] - w->rect[0], w->rect[3] - w->rect[1]};
  const int ids[4] = {C_X, C_Y, C_W, C_H};
  for (int k = 0; k < 4; k++) dlgsettext(window, ids[k], std::to_string(v[k]).c_str());
  dlgsettext(window, C_KIND, kindname(w->kind));
  return i;
}

int dlgredo(MnuRec* r) {
  DlgWid* w = dlgwid(r, undoid);
  if (!w || wdeleted(w)) return -1;
  std::memcpy(w->rect, undorc, sizeof undorc);
  undoid = -1;
  wedset(edmnu, r, sel, toolwin);
  rebuild(edmnu);
  return 0;
}

int wedtell(int n, int widget, int why) {
  MnuRec* r = mnurec(n);
  const DlgWid* w = dlgwid(r, widget);
  if (!w || n != edmnu) return 0;
  if (why == 2) {
    // Moved: the rectangle it had when it was selected or last moved is
    // kept for undo.
    undoid = widget;
    std::memcpy(undorc, widget == sel ? snaprc : w->rect, sizeof undorc);
  }
  wedset(n, r, widget, toolwin);
  return 0;
}

int32_t wedwin(const char* which) {
  const int32_t h = which && std::strcmp(which, "add") == 0 ? addwin : toolwin;
  return h && dlgvalid(h) ? h : 0;
}

int wedwrite(int n) {
  const MnuRec* r = mnurec(n);
  if (!r) return -1;
  char head[80];
  std::string out;
  std::snprintf(head, sizeof head, "%% %d,%d %dx%d\n", r->rect[0], r->rect[1], r->rect[2] - r->rect[0],
                r->rect[3] - r->rect[1]);
  out += head;
  if (r->startlen) out += std::string(mnutext(r, r->startoff, r->startlen)) + "\n";
  out += "\n";
  if (r->stoplen) {
    out += ")\n";
    putlines(out, mnutext(r, r->stopoff, r->stoplen), 0);
    out += "\n";
  }
  for (int i = 0; i < r->nwid; i++) {
    const DlgWid* w = dlgwid(r, i);
    if (wdeleted(w)) continue;
    if (const char* why = unheld(mnutext(r, w->txtoff, w->txtlen), mnutext(r, w->cmdoff, w->cmdlen),
                                 mnutext(r, w->hlpoff, w->hlplen))) {
      refuse(std::string(r->name) + ".dlg not written: widget " + std::to_string(i + 1) + ":\n  " + why);
      return -1;
    }
    // The empty first widget that a header followed by an empty line reads
    // as is that empty line.
    if (i == 0 && w->kind == 0 && !w->txtlen && !w->cmdlen && !w->hlplen) continue;
    std::snprintf(head, sizeof head, "%% %d,%d %dx%d %d\n", w->rect[0], w->rect[1], w->rect[2] - w->rect[0],
                  w->rect[3] - w->rect[1], w->kind);
    out += head;
    if (w->txtlen) putlines(out, mnutext(r, w->txtoff, w->txtlen), '"');
    if (w->cmdlen) putlines(out, mnutext(r, w->cmdoff, w->cmdlen), 0);
    if (w->hlplen) putlines(out, mnutext(r, w->hlpoff, w->hlplen), '?');
    out += "\n";
  }
  const std::string name = std::string(r->name) + ".dlg";
  SafeOut so;
  std::string open;
  int err = swtemp(name.c_str(), &so, &open, false);
  if (err < 0) err = EIO;
  FILE* f = err ? nullptr : std::fopen(open.c_str(), "wb");
  if (!err && !f) {
    err = errno ? errno : EIO;
    swdone(&so, false);
  }
  if (f) {
    errno = 0;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (!ok) err = errno ? errno : EIO;
    if (std::fclose(f) != 0) {
      ok = false;
      if (!err) err = errno ? errno : EIO;
    }
    const int r2 = swdone(&so, ok);
    if (r2 > 0) err = r2;  // the finished file could not take the name
  }
  if (err) {
    // Reported with the file's name and the cause, on rows of its own: the
    // tool window runs while the command line waits, and the line comes
    // back below the report. The error does not stay in the status word to
    // cost the next command line.
    lnoff();
    fileerr(name.c_str(), 0, E_CREATE, err);
    state &= ~ST_ERROR;
    lnon();
    return -1;
  }
  return 0;
}

// ---- The windows ------------------------------------------------------------------------

int wedopen() {
  killwin(&addwin);
  killwin(&toolwin);
  MnuRec* r = edited();
  if (!r) return -1;
  sel = 0;
  undoid = -1;
  showhelp = false;
  edmove = 0;
  const uint32_t S = WS_VISIBLE, E = VIS | ES_MULTILINE, B = VIS, R = VIS | BS_AUTORADIOBUTTON;
  std::vector<Ctl> c = {
      {C_KIND, CC_STATIC, S, 10, 8, 120, 16, ""},
      {C_TEXT, CC_EDIT, E, 10, 28, 280, 40, ""},
      {C_SHOWCMD, CC_BUTTON, R, 10, 74, 96, 16, "Command"},
      {C_SHOWHLP, CC_BUTTON, R, 120, 74, 80, 16, "Help"},
      {C_CMDHLP, CC_EDIT, E, 10, 94, 280, 56, ""},
      {C_PREV, CC_BUTTON, B, 10, 188, 66, 22, "< Prev"},
      {C_NEXT, CC_BUTTON, B, 82, 188, 66, 22, "Next >"},
      {C_UNDO, CC_BUTTON, B, 154, 188, 66, 22, "Undo"},
      {C_MOVE, CC_BUTTON, VIS | BS_AUTOCHECKBOX, 226, 188, 64, 22, "Move"},
      {C_ADDWIN, CC_BUTTON, B, 10, 218, 66, 22, "Add..."},
      {C_DELETE, CC_BUTTON, B, 82, 218, 66, 22, "Delete"},
      {C_WRITE, CC_BUTTON, B, 154, 218, 66, 22, "Save"},
      {C_CLOSE, CC_BUTTON, B, 226, 218, 64, 22, "Close"},
  };
  sizerow(c, {C_X, C_Y, C_W, C_H}, 158, {"", "", "", ""});
  toolwin = makewin("Dialog editor", c, 300, 250, r->rect, winedit);
  return toolwin ? 0 : -1;
}

int wedopn2() {
  killwin(&addwin);
  const uint32_t S = WS_VISIBLE, R = VIS | BS_AUTORADIOBUTTON, B = VIS;
  std::vector<Ctl> c = {
      {A_PUSH, CC_BUTTON, R, 10, 8, 56, 16, "Push"},
      {A_CHECK, CC_BUTTON, R, 70, 8, 64, 16, "Check"},
      {A_RADIO, CC_BUTTON, R, 138, 8, 64, 16, "Radio"},
      {A_EDIT, CC_BUTTON, R, 206, 8, 56, 16, "Edit"},
      {A_STATIC, CC_BUTTON, R, 266, 8, 64, 16, "Static"},
      {1065, CC_STATIC, S, 10, 62, 64, 16, "Text"},
      {A_TEXT, CC_EDIT, VIS, 82, 60, 248, 20, ""},
      {1066, CC_STATIC, S, 10, 88, 64, 16, "Command"},
      {A_CMD, CC_EDIT, VIS, 82, 86, 248, 20, ""},
      {1067, CC_STATIC, S, 10, 114, 64, 16, "Help"},
      {A_HELP, CC_EDIT, VIS, 82, 112, 248, 20, ""},
      {A_ADD, CC_BUTTON, B, 10, 144, 80, 22, "Add"},
      {C_NONE, CC_BUTTON, B, 100, 144, 80, 22, "Close"},
  };
  sizerow(c, {A_X, A_Y, A_W, A_H}, 32, {"10", "10", "80", "20"});
  // Beside the tool window.
  int x = 40, y = 40, w = 0, h = 0;
  if (toolwin) wm_getpos(toolwin, &x, &y, &w, &h);
  const int32_t near[4] = {x, y, x + w - 1, y + h - 1};
  addwin = makewin("Add widget", c, 340, 176, near, wedprv);
  return addwin ? 0 : -1;
}

int32_t winedit(int32_t dlg, uint32_t message, uint32_t wParam, uint32_t lParam) {
  tracemsg("winedit", dlg, message, wParam, lParam);
  MnuRec* r = edited();
  if (message == WM_INITDIALOG) {
    sel = 0;
    dlgcheck(dlg, C_SHOWCMD, 1);
    wedset(edmnu, r, 0, dlg);
    return 1;
  }
  if (message != WM_COMMAND) return 0;
  const int id = static_cast<int>(wParam & 0xFFFF);
  if ((wParam >> 16) != BN_CLICKED) return 1;  // typing into the fields changes nothing
  switch (id) {
    case C_SHOWCMD:
    case C_SHOWHLP:
      showhelp = id == C_SHOWHLP;
      dlgcheck(dlg, C_SHOWCMD, !showhelp);
      dlgcheck(dlg, C_SHOWHLP, showhelp);
      wedset(edmnu, r, sel, dlg);
      break;
    case C_NEXT:
    case C_PREV: {
      if (!r) break;
      // The next (previous) widget that is not deleted; none: stay.
      const int step = id == C_NEXT ? 1 : -1;
      int i = sel + step;
      while (i >= 0 && i < r->nwid && wdeleted(dlgwid(r, i))) i += step;
      if (i >= 0 && i < r->nwid) wedset(edmnu, r, i, dlg);
      break;
    }
    case C_DELETE: {
      DlgWid* w = dlgwid(r, sel);
      if (!w || wdeleted(w)) break;
      if (const int32_t d = dlgwinof(edmnu)) dlgdel(d, sel + 1);
      std::memset(w, 0, 4);
      w->txtlen = 65535;
      if (undoid == sel) undoid = -1;
      wedset(edmnu, r, sel, dlg);
      break;
    }
    case C_UNDO:
      if (r) dlgredo(r);
      break;
    case C_MOVE: edmove = static_cast<int16_t>(!edmove); break;
    case C_ADDWIN: wedopn2(); break;
    case C_CLOSE:
      killwin(&addwin);
      killwin(&toolwin);
      if (edmnu) GeTMNu(edmnu, -99);
      edmnu = 0;
      edmove = 0;
      xfree(work);
      work = nullptr;
      break;
    case C_WRITE:
      if (r) wedwrite(edmnu);
      break;
    default: break;
  }
  return 1;
}

int32_t wedprv(int32_t dlg, uint32_t message, uint32_t wParam, uint32_t lParam) {
  tracemsg("wedprv", dlg, message, wParam, lParam);
  if (message == WM_INITDIALOG) {
    dlgcheck(dlg, A_PUSH, 1);
    return 1;
  }
  if (message != WM_COMMAND) return 0;
  const int id = static_cast<int>(wParam & 0xFFFF);
  if ((wParam >> 16) != BN_CLICKED) return 1;
  switch (id) {
    case A_PUSH:
    case A_CHECK:
    case A_RADIO:
    case A_EDIT:
    case A_STATIC:
      for (int k : {A_PUSH, A_CHECK, A_RADIO, A_EDIT, A_STATIC}) dlgcheck(dlg, k, k == id);
      break;
    case A_ADD: {
      MnuRec* r = edited();
      const int added = r ? addwidget(r, dlg) : 0;
      if (added < 0) break;
      if (added > 0) {
        rebuild(edmnu);
        wedset(edmnu, r, r->nwid - 1, toolwin);
      }
      killwin(&addwin);
      break;
    }
    case C_NONE: killwin(&addwin); break;
    default: break;
  }
  return 1;
}
