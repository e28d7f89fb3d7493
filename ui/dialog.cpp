// Dialog menus shown as dialog windows, the dialog procedure, the dialog
// function, program-drawn dialogs and predefined dialog templates.
#include "ui/dialog.h"
#include "ui/dlgedit.h"

#include "compute/expr.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "files/fileutil.h"
#include "files/keylog.h"
#include "lang/mainloop.h"
#include "ui/dlghooks.h"
#include "ui/draw.h"
#include "ui/events.h"
#include "ui/menu.h"
#include "ui/platform/dlgwin.h"
#include "ui/platform/face.h"
#include "ui/platform/surface.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

int16_t alrtmnu = 0;
uint16_t alropen = 0;
int16_t edmove = 0;
int (*editem)(int, int, int) = wedtell;
int32_t (*dlgtoolwin)(const char*) = wedwin;

namespace {
constexpr int TMPLHEAD = 20;  // bytes before a template in its block
bool editing[NMENUS + 1];  // the dialog editor owns the dialog of this menu
int32_t lastdlg = 0;       // the dialog created last

// The window style and class of a widget kind; false for a kind that gets
// no control.
bool ctlof(int kind, uint32_t* style, int* cls) {
  switch (kind) {
    case WK_PUSH: *style = 0x50010000, *cls = CC_BUTTON; return true;
    case WK_CHECK: *style = 0x50010003, *cls = CC_BUTTON; return true;
    case WK_RADIO: *style = 0x50010004, *cls = CC_BUTTON; return true;
    case WK_SLIDER: *style = 0x50000000, *cls = CC_TRACKBAR; return true;
    case WK_STATIC:
    case WK_STATIC2: *style = 0x50000000, *cls = CC_STATIC; return true;
    case WK_COMBO: *style = 0x00010002, *cls = CC_COMBO; return true;
    case WK_EDIT: *style = 0x50010004, *cls = CC_EDIT; return true;
    default: return false;
  }
}

int mnuof(const MnuRec* r) {
  for (int n = 1; n <= NMENUS; n++)
    if (mnutab[n] == r) return n;
  return 0;
}

int widx(const MnuRec* r, const DlgWid* w) {
  const DlgWid* w0 = dlgwid(r, 0);
  return w0 && w ? static_cast<int>(w - w0) : -1;
}

std::string wtext(const MnuRec* r, const DlgWid* w) {
  return w ? std::string(mnutext(r, w->txtoff, w->txtlen)) : std::string();
}

// Writes a text into a widget's own text space, cut to its length.
void settext(MnuRec* r, DlgWid* w, const char* text) {
  uint8_t* d = mnudata(r);
  if (!d || w->txtlen == 0 || static_cast<uint32_t>(w->txtoff) + w->txtlen >= r->widoff) return;
  const size_t n = std::min<size_t>(std::strlen(text), w->txtlen);
  std::memset(d + w->txtoff, 0, w->txtlen);
  std::memcpy(d + w->txtoff, text, n);
}

// The text of an edit field into the tail buffer: at most 255 characters.
void settail(MnuRec* r, const char* text) {
  char* t = mnutail(r);
  if (!t) return;
  const size_t n = std::min<size_t>(std::strlen(text), MNUTAIL - 1);
  std::memcpy(t, text, n);
  t[n] = 0;
}

// Texts of the edit fields that have no command, by menu and widget. A
// field with a command (and an alert box's field) keeps its text in the
// record's tail buffer, which such fields share; every other field keeps
// its own, from its first text on.
struct OwnText {
  int wid;
  char text[MNUTAIL];
};
std::deque<OwnText> owntexts[NMENUS + 1];

bool intail(const MnuRec* r, const DlgWid* w) {
  return w->cmdlen > 0 || (r->editctl > 0 && widx(r, w) + 1 == r->editctl);
}

// The text of an edit field (MNUTAIL bytes): the tail buffer or its own.
char* fldbuf(MnuRec* r, const DlgWid* w) {
  if (!r || !w) return nullptr;
  if (intail(r, w)) return mnutail(r);
  const int n = mnuof(r), i = widx(r, w);
  if (!n || i < 0) return nullptr;
  for (OwnText& o : owntexts[n])
    if (o.wid == i) return o.text;
  OwnText& o = owntexts[n].emplace_back();
  o.wid = i;
  std::snprintf(o.text, MNUTAIL, "%s", wtext(r, w).c_str());
  return o.text;
}

// A new text of an edit field: at most 255 characters.
void setfld(MnuRec* r, const DlgWid* w, const char* text) {
  char* t = fldbuf(r, w);
  if (!t) return;
  const size_t n = std::min<size_t>(std::strlen(text), MNUTAIL - 1);
  std::memmove(t, text, n);
  t[n] = 0;
}

// The program-drawn window of a dialog (its own window record), 0 none.
Wport* drawnwin(const MnuRec* r) {
  Wport* w = wport(r->barwin);
  return w && (w->type & 0x60) && w->wnum == mnuof(r) ? w : nullptr;
}

// Draws one item of a program-drawn dialog.
void drawitem(MnuRec* r, DlgWid* w) {
  Wport* p = drawnwin(r);
  PwRec* pw = wpwrec(p);
  Surface* s = pw ? wm_surface(pw->window) : nullptr;
  uint32_t style = 0;
  int cls = 0;
  if (!s || !ctlof(w->kind, &style, &cls)) return;
  std::string text = wtext(r, w);
  if (w->kind == WK_EDIT) {
    const char* t = fldbuf(r, w);
    text = t ? t : "";
  }
  const int state = (w->kind == WK_CHECK || w->kind == WK_RADIO) && w->value != 0.0f ? 1 : 0;
  int flags = (w->flags & 0x40) ? 4 : 0;
  if (r->pressed == widx(r, w) + 1 && w->kind == WK_PUSH) flags |= 1;
  if (r->curitem == widx(r, w) + 1) flags |= 2;
  const int pos = w->kind == WK_SLIDER ? static_cast<int>(std::clamp(w->value, 0.0f, 32767.0f)) : 0;
  if (w->kind == WK_SLIDER && w->caretx != 0) style &= ~TBS_VERT;
  if (w->kind == WK_SLIDER && w->caretx == 0) style |= TBS_VERT;
  drawctl(*s, cls, style, w->rect[0], w->rect[1], w->rect[2] - w->rect[0] + 1, w->rect[3] - w->rect[1] + 1,
          text, state, pos, w->fg, w->bg, flags, (flags & 2) && w->kind == WK_EDIT ? w->caret : -1);
  invalwin(pw->window);
}

void logline(const char* tag, const std::string& line, int key) {
  if (keylun >= 0) logevt(tag, 0, line.c_str(), key);
}

// A click on widget i of dialog n (identifier i + 1): its value changes and
// its command is queued (or the alert is answered). For the dialog window
// dlg (0 for a program-drawn dialog).
int clickwid(int n, int i, int32_t dlg) {
  MnuRec* r = mnurec(n);
  DlgWid* w = dlgwid(r, i);
  if (!w) return 0;
  const int id = i + 1;
  r->curitem = static_cast<int16_t>(id);
  if (trcmsk) jprintf(dbglun, "DlgCMD: %d (%oo)\n", id, static_cast<unsigned>(id));
  if (editing[n] && edmnu == n) {
    w->flags ^= 0x80;
    if (editem) editem(n, i, 1);
    return 0;
  }
  switch (w->kind) {
    case WK_PUSH: w->value = 1.0f; break;
    case WK_CHECK: w->value = w->value != 0.0f ? 0.0f : 1.0f; break;
    case WK_RADIO:
      w->value = 1.0f;
      // The other radio buttons of its group are released.
      if (w->group != 0)
        for (int k = 0; k < r->nwid; k++) {
          DlgWid* o = dlgwid(r, k);
          if (o != w && o->kind == WK_RADIO && o->group == w->group && o->value != 0.0f) {
            o->value = 0.0f;
            drwitem(o, r, 0);
          }
        }
      drwitem(w, r, 0);
      break;
    default: break;
  }
  if (n == alrtmnu && alrtmnu) {
    // The pending alert box is answered.
    if (r->editctl > 0 && dlg) settail(r, dlgtextstr(dlg, r->editctl).c_str());
    int b = id - r->firstbtn - (r->editctl > 0 ? 1 : 0);
    if (w->kind != WK_PUSH) return 0;
    logline("Alrt", std::string(r->name) + "_" + std::to_string(id) + " <" + wtext(r, w) + ">", 0);
    r->pressed = static_cast<int16_t>(b);
    r->active = 0;
    if (dlg) {
      const int slot = winnum(dlg);
      if (slot >= 0) deletewin(slot);
    }
    dlgcmd = 1;
    return 13;
  }
  const char* cmd = mnutext(r, w->cmdoff, w->cmdlen);
  if (w->cmdlen > 0 && w->kind != WK_EDIT) {
    savcmd(cmd, 0, w->cmdlen, nullptr);
    r->pressed = 0;
    char v[32];
    std::snprintf(v, sizeof v, "%.0f", static_cast<double>(w->value));
    logline("MnGo", std::string(r->name) + "_" + std::to_string(id) + " <" + wtext(r, w) + "> [" + v + "]", 0);
    dlgcmd = 1;
    return 13;
  }
  return 0;
}

// The text of an edit field changed: into the tail buffer, and its command
// is queued.
int editchg(int n, int i, const char* text) {
  MnuRec* r = mnurec(n);
  DlgWid* w = dlgwid(r, i);
  if (!w || w->kind != WK_EDIT) return 0;
  setfld(r, w, text);
  r->curitem = static_cast<int16_t>(i + 1);
  if (w->cmdlen == 0) return 0;
  savcmd(mnutext(r, w->cmdoff, w->cmdlen), 0, w->cmdlen, nullptr);
  logline("Edit", std::string(r->name) + "_" + std::to_string(i + 1) + " <" + (mnutail(r) ? mnutail(r) : "") + ">",
          i + 1);
  dlgcmd = 1;
  return 13;
}

// A slider moved to pos (0..32767).
int slidewid(int n, int i, int pos) {
  MnuRec* r = mnurec(n);
  DlgWid* w = dlgwid(r, i);
  if (!w || w->kind != WK_SLIDER) return 0;
  w->value = static_cast<float>(std::clamp(pos, 0, 32767));
  r->curitem = static_cast<int16_t>(i + 1);
  if (w->cmdlen == 0) return 0;
  savcmd(mnutext(r, w->cmdoff, w->cmdlen), 0, w->cmdlen, nullptr);
  char v[32];
  std::snprintf(v, sizeof v, "%.0f", static_cast<double>(w->value));
  logline("MnGo", std::string(r->name) + "_" + std::to_string(i + 1) + " <" + wtext(r, w) + "> [" + v + "]", 0);
  dlgcmd = 1;
  return 13;
}

bool numdest(int32_t dest) {
  if (dest <= 0) return false;
  const PtrRec* p = ptrrec(dest);
  return p && !(p->Flg & K_STRING) && (p->Flg & (K_NUMBER | K_ARRAY | K_MATRIX | K_IMAGE | K_SOLID));
}

// The operand table's result of the dialog function: a number or a text.
int result(float v, const char* text, bool istext, float* number, char* texts, int32_t dest) {
  if (istext && !numdest(dest)) {
    const int len = static_cast<int>(std::min<size_t>(std::strlen(text), 255));
    std::memcpy(texts, text, static_cast<size_t>(len));
    texts[len] = 0;
    optab[OT_RWSZ] = W_BYTE;
    optab[OT_RCNT] = len;
    if (!optab[OT_REC + 2] && dest <= 0) optab[OT_KIND + 2] = K_STRING;
    return 1;
  }
  *number = istext ? static_cast<float>(std::strtod(text, nullptr)) : v;
  optab[OT_RWSZ] = W_FLOAT;
  return 1;
}
}  // namespace

// ---- The template and the procedure ------------------------------------------

int32_t dlgwinof(int n) {
  const MnuRec* r = mnurec(n);
  if (!r) return 0;
  const Wport* w = wport(r->barwin);
  const PwRec* p = w && w->wnum == n && (w->type & 0x60) ? wpwrec(w) : nullptr;
  return p && dlgvalid(p->window) ? p->window : 0;
}

int dlgmenuof(int32_t dlg) {
  const Wport* w = wport(winnum(dlg));
  return w && (w->type & 0x60) ? w->wnum : 0;
}

int makdlg(int n, int edit, int sysunits) {
  MnuRec* r = mnurec(n);
  if (!r || !r->active || (r->kind & 15) != MK_DIALOG) return -1;
  const int bx = sysunits ? DLGBX : 8, by = sysunits ? DLGBY : 16;
  int count = 0;
  for (int i = 0; i < r->nwid; i++) {
    uint32_t st;
    int cl;
    if (ctlof(dlgwid(r, i)->kind, &st, &cl)) count++;
  }
  DlgTmpl t;
  t.header(0x90C00000, count, r->rect[0] * 4 / bx, r->rect[1] * 8 / by, (r->rect[2] - r->rect[0] + 1) * 4 / bx,
           (r->rect[3] - r->rect[1] + 1) * 8 / by, r->name);
  for (int i = 0; i < r->nwid; i++) {
    const DlgWid* w = dlgwid(r, i);
    uint32_t style = 0;
    int cls = 0;
    if (!ctlof(w->kind, &style, &cls)) continue;
    t.item(style, w->rect[0] * 4 / bx, w->rect[1] * 8 / by, (w->rect[2] - w->rect[0] + 1) * 4 / bx,
           (w->rect[3] - w->rect[1] + 1) * 8 / by, i + 1, cls, wtext(r, w).c_str());
  }
  // The template block: its size, the client rectangle in pixels (the
  // dialog units lose odd pixels), the template.
  const auto& bytes = t.bytes();
  auto* blk = static_cast<uint8_t*>(xalloc(bytes.size() + TMPLHEAD));
  if (!blk) return -1;
  const int32_t head[5] = {static_cast<int32_t>(bytes.size()), r->rect[0], r->rect[1],
                           r->rect[2] - r->rect[0] + 1, r->rect[3] - r->rect[1] + 1};
  std::memcpy(blk, head, TMPLHEAD);
  std::memcpy(blk + TMPLHEAD, bytes.data(), bytes.size());
  // The dialog's own window slot when it is still free, else the first
  // free slot from 9.
  int slot = -1;
  if (r->barwin >= WINAUTO && r->barwin < nwins && !wport(r->barwin)) slot = r->barwin;
  slot = mkport(slot, 96, 0x240, r->name, r->rect);
  if (slot < 0) {
    xfree(blk);
    return -1;
  }
  wport(slot)->wnum = static_cast<int16_t>(n);
  r->barwin = static_cast<int16_t>(slot);
  editing[n] = edit != 0;
  wndproc(0, WM_MAKDLG, static_cast<uint32_t>(holdptr(blk)), static_cast<uint32_t>(slot));
  if (!dlgwinof(n)) {
    deletewin(slot);
    return -1;
  }
  return 0;
}

int32_t mkmodeless(int32_t tmpl, int32_t parent, uint32_t init) {
  const auto* blk = static_cast<const uint8_t*>(heldptr(tmpl));
  if (!blk) return 0;
  int32_t head[5];
  std::memcpy(head, blk, TMPLHEAD);
  return dlgcreate(blk + TMPLHEAD, static_cast<size_t>(std::max(0, head[0])), parent, dlgprc, init, head + 1);
}

bool dlgmsg(int32_t dialog, const Msg* m) { return dlgmessage(dialog, m); }

bool dlgkeymsg(int32_t dialog, const Msg* m) { return dlgwants(dialog, m); }

void dlgforget(int n) {
  if (n >= 1 && n <= NMENUS) owntexts[n].clear();
}

void freetmpl(int32_t tmpl) {
  void* blk = heldptr(tmpl);
  if (!blk) return;
  dropptr(tmpl);
  xfree(blk);
}

int32_t dlgprc(int32_t dlg, uint32_t message, uint32_t wParam, uint32_t lParam) {
  if ((trcmsk & 4) && logfp && message != WM_MOUSEMOVE && message != WM_SETCURSOR)
    logprintf(" dlgprc %3d %4d (%4oo) %6d (%6oo) %d (%oo) %s\n", winnum(dlg), static_cast<int>(message),
              message, static_cast<int>(wParam), wParam, static_cast<int>(lParam), lParam,
              message < 160 ? msgname(message) : "");
  switch (message) {
    case WM_INITDIALOG: {
      Wport* w = wport(static_cast<int>(lParam));
      PwRec* p = wpwrec(w);
      if (!p) return 1;
      p->window = dlg;
      p->flags &= static_cast<uint16_t>(~1);
      w->status = 0;
      w->type = 96;
      w->flags = 0x240;
      lastdlg = dlg;
      const int n = w->wnum;
      MnuRec* r = mnurec(n);
      if (!r) return 1;
      // The client area is exactly the record's rectangle.
      const int width = r->rect[2] - r->rect[0] + 1, height = r->rect[3] - r->rect[1] + 1;
      wm_setpos(dlg, r->rect[0], r->rect[1], std::max(1, width), std::max(1, height));
      std::memcpy(p->rect, r->rect, sizeof p->rect);
      std::memcpy(w->rect, r->rect, sizeof w->rect);
      dlgbkcol(dlg, r->bkcol);
      p->bkcol = r->bkcol;
      for (int i = 0; i < r->nwid; i++) {
        DlgWid* wd = dlgwid(r, i);
        dlgcolours(dlg, i + 1, wd->fg, wd->bg);
        drwitem(wd, r, 0);
      }
      invalwin(dlg);
      return 1;
    }
    case WM_COMMAND: {
      const int n = dlgmenuof(dlg);
      const int id = static_cast<int>(wParam & 0xFFFF);
      const uint32_t code = wParam >> 16;
      if (!n) return 0;
      if (lParam == 0) {
        // Esc: an alert is answered with no button; other dialogs stay.
        if (n == alrtmnu && id == IDCANCEL) {
          MnuRec* r = mnurec(n);
          r->pressed = 0;
          r->active = 0;
          const int slot = winnum(dlg);
          if (slot >= 0) deletewin(slot);
          dlgcmd = 1;
        }
        return 1;
      }
      if (code == BN_CLICKED) {
        clickwid(n, id - 1, dlg);
        return 1;
      }
      if (code == EN_CHANGE) {
        editchg(n, id - 1, dlgtextstr(dlg, id).c_str());
        return 1;
      }
      return code == EN_KILLFOCUS ? 1 : 0;
    }
    case WM_HELP: {
      // A control's help (mnugo with the right button's key); not in alerts.
      const int n = dlgmenuof(dlg);
      if (n && n != alrtmnu) {
        int len = 0;
        mnugo(n, 130, static_cast<int>(wParam) + 1, &len);
      }
      return 1;
    }
    case WM_HSCROLL:
    case WM_VSCROLL: {
      const int n = dlgmenuof(dlg);
      if (n) slidewid(n, static_cast<int>(lParam) - 1, static_cast<int>(wParam));
      return 1;
    }
    case WM_LBUTTONDOWN: {
      // The dialog editor's moving mode: the current widget moves here.
      const int n = dlgmenuof(dlg);
      MnuRec* r = mnurec(n);
      if (!edmove || !n || n != edmnu || !r) return 0;
      DlgWid* w = dlgwid(r, r->curitem - 1);
      if (!w) return 0;
      const int x = static_cast<int16_t>(lParam & 0xFFFF), y = static_cast<int16_t>(lParam >> 16);
      const int32_t dx = x - w->rect[0], dy = y - w->rect[1];
      w->rect[0] += dx, w->rect[2] += dx;
      w->rect[1] += dy, w->rect[3] += dy;
      if (editem) editem(n, r->curitem - 1, 2);
      const int slot = winnum(dlg);
      if (slot >= 0) deletewin(slot);
      makdlg(n, 1, 0);
      return 1;
    }
    default:
      return 0;
  }
}

// ---- Items ---------------------------------------------------------------------

int drwitem(DlgWid* w, MnuRec* r, int) {
  const int n = mnuof(r);
  const int i = widx(r, w);
  if (!n || i < 0 || i >= r->nwid) return 0;
  const int32_t dlg = dlgwinof(n);
  if (!dlg) {
    if (r->drawn) drawitem(r, w);
    return 0;
  }
  const int id = i + 1;
  if (!dlghas(dlg, id)) return 0;
  switch (w->kind) {
    case WK_CHECK:
    case WK_RADIO: dlgcheck(dlg, id, w->value != 0.0f); break;
    case WK_STATIC:
    case WK_STATIC2: dlgsettext(dlg, id, wtext(r, w).c_str()); break;
    case WK_EDIT:
      // A field of its own shows its text; the shared text shows once set.
      if (const char* t = fldbuf(r, w); t && (*t || !intail(r, w))) dlgsettext(dlg, id, t);
      break;
    case WK_SLIDER: dlgsetpos(dlg, id, static_cast<int>(std::clamp(w->value, 0.0f, 32767.0f))); break;
    default: break;
  }
  dlgenable(dlg, id, !(w->flags & 0x40));
  return 0;
}

int drawDialog(int n) {
  MnuRec* r = mnurec(n);
  if (!r || (r->kind & 15) != MK_DIALOG) return 0;
  if (const int32_t dlg = dlgwinof(n)) {
    dlgredraw(dlg);
    for (int i = 0; i < r->nwid; i++) drwitem(dlgwid(r, i), r, 0);
    return 0;
  }
  if (!r->drawn || !r->active) return 0;
  Wport* p = drawnwin(r);
  if (!p) {
    const int slot = makwin(-1, 96, 0x54E0, 0, r->name, r->rect, 1, 1);
    if (slot < 0) return -1;
    p = wport(slot);
    p->wnum = static_cast<int16_t>(n);
    r->barwin = static_cast<int16_t>(slot);
    if (PwRec* pw = wpwrec(p)) pw->bkcol = r->bkcol;
  }
  PwRec* pw = wpwrec(p);
  if (Surface* s = pw ? wm_surface(pw->window) : nullptr) sfill(*s, 0, 0, s->w, s->h, bgr(r->bkcol));
  for (int i = 0; i < r->nwid; i++) drawitem(r, dlgwid(r, i));
  return 0;
}

int isdlgwin(const EvtRec* evt) {
  if (!evt || evt->window < 1) return 0;
  const Wport* w = wport(evt->window);
  return w && (w->type & 0x60) ? 1 : 0;
}

int dlogSelect(const EvtRec* evt) {
  if (!isdlgwin(evt)) return 0;
  const Wport* p = wport(evt->window);
  MnuRec* r = mnurec(p->wnum);
  if (!r || !r->drawn) return 0;
  int item = r->curitem;
  if (evt->what == 1 || evt->what == 2) {
    item = 0;
    for (int i = 0; i < r->nwid; i++) {
      const DlgWid* w = dlgwid(r, i);
      if (evt->h >= w->rect[0] && evt->h <= w->rect[2] && evt->v >= w->rect[1] && evt->v <= w->rect[3] &&
          w->kind != WK_NONE && !(w->flags & 0x40))
        item = i + 1;
    }
  }
  if (item <= 0) return 0;
  const int old = r->curitem;
  r->curitem = static_cast<int16_t>(item);
  if (old > 0 && old != item) drawitem(r, dlgwid(r, old - 1));  // unhighlighted
  drawitem(r, dlgwid(r, item - 1));
  return p->wnum;
}

int dlgevt(int n, const EvtRec* evt) {
  MnuRec* r = mnurec(n);
  DlgWid* w = r && evt ? dlgwid(r, r->curitem - 1) : nullptr;
  if (!w) return 0;
  const int i = r->curitem - 1;
  if ((evt->what == 3 || evt->what == 10) && (evt->message == 27 || evt->message == 155)) {
    r->curitem = 0;
    drawitem(r, w);
    setwin(-1);
    return 0;
  }
  if (w->kind == WK_EDIT && (evt->what == 3 || evt->what == 10 || evt->what == 1)) return dlgedit(w, r, evt);
  if (evt->what == 1) {
    r->pressed = static_cast<int16_t>(i + 1);
    drawitem(r, w);
    if (w->kind == WK_SLIDER) setwin(evt->window);
    return 0;
  }
  if (evt->what != 2) return 0;
  if (r->pressed != i + 1) {
    const int was = r->pressed;
    r->pressed = 0;
    if (DlgWid* o = dlgwid(r, was - 1)) drawitem(r, o);
    return 0;
  }
  r->pressed = 0;
  switch (w->kind) {
    case WK_CHECK: w->value = w->value != 0.0f ? 0.0f : 1.0f; break;
    case WK_RADIO: w->value = 1.0f; break;
    case WK_SLIDER: {
      const bool horiz = w->caretx != 0;
      const int len = horiz ? w->rect[2] - w->rect[0] : w->rect[3] - w->rect[1];
      const int off = horiz ? evt->h - w->rect[0] : evt->v - w->rect[1];
      // A slider of no length keeps its value.
      if (len > 0) w->value = std::floor(std::clamp(static_cast<float>(off) / len, 0.0f, 1.0f) * 32767.0f + 0.5f);
      break;
    }
    default: break;
  }
  drawitem(r, w);
  if (w->cmdlen > 0) {
    if (keylun >= 0)
      logevt("DLog", 0, (std::string(r->name) + "_" + std::to_string(i + 1) + " <" + wtext(r, w) + ">").c_str(), 0);
    savcmd(mnutext(r, w->cmdoff, w->cmdlen), 0, w->cmdlen, nullptr);
    return 13;
  }
  return 0;
}

int setwidpos(DlgWid* w, MnuRec* r, int caret) {
  const char* t = fldbuf(r, w);
  if (!w || !t) return 0;
  const int n = static_cast<int>(std::strlen(t));
  caret = std::clamp(caret, 0, n);
  int line = 0, start = 0;
  for (int i = 0; i < caret; i++)
    if (t[i] == '\n') line++, start = i + 1;
  const int hgt = w->rect[3] - w->rect[1] + 1;
  w->nlines = static_cast<int16_t>(std::max(1, hgt / FACEHGT));
  w->width = static_cast<int16_t>(w->rect[2] - w->rect[0] + 1);
  if (line < w->topline) w->topline = static_cast<int16_t>(line);
  if (line >= w->topline + w->nlines) w->topline = static_cast<int16_t>(line - w->nlines + 1);
  const int cols = std::max(1, w->width / FACEWID);
  const int col = caret - start;
  if (col < w->firstch) w->firstch = static_cast<int16_t>(col);
  if (col >= w->firstch + cols) w->firstch = static_cast<int16_t>(col - cols + 1);
  w->caret = static_cast<int16_t>(caret);
  w->linest = static_cast<int16_t>(start);
  w->caretx = static_cast<int16_t>((col - w->firstch) * FACEWID);
  w->carety = static_cast<int16_t>((line - w->topline) * FACEHGT);
  if (jdebug >= 2)
    logprintf("setwidpos(%d) %d %d %d %d %d\n", caret, w->topline, w->nlines, w->firstch, w->caretx, w->carety);
  return 0;
}

int dlgedit(DlgWid* w, MnuRec* r, const EvtRec* evt) {
  char* t = fldbuf(r, w);
  if (!w || !t || !evt) return 0;
  int n = static_cast<int>(std::strlen(t));
  int caret = std::clamp<int>(w->caret, 0, n);
  bool changed = false;
  if (evt->what == 1) {
    // The caret goes to the character under the point.
    const int line = w->topline + std::max(0, (evt->v - w->rect[1]) / FACEHGT);
    int at = 0, ln = 0;
    while (ln < line && at < n) {
      if (t[at] == '\n') ln++;
      at++;
    }
    int col = w->firstch;
    int x = w->rect[0];
    while (at < n && t[at] != '\n' && x + txtwid(t + at, 1) / 2 < evt->h) {
      x += txtwid(t + at, 1);
      at++;
      col++;
    }
    caret = at;
  } else {
    const int ch = static_cast<int>(evt->message);
    const bool multi = w->rect[3] - w->rect[1] + 1 >= 2 * FACEHGT;
    switch (ch) {
      case 8:
      case 211:
        if (caret > 0) {
          std::memmove(t + caret - 1, t + caret, static_cast<size_t>(n - caret + 1));
          caret--;
          changed = true;
        }
        break;
      case 13:
        if (!multi) {
          r->curitem = 0;
          drawitem(r, w);
          return 0;
        }
        [[fallthrough]];
      default:
        if (ch == 199) {
          caret = 0;
        } else if (ch == 207) {
          caret = n;
        } else if (ch == 203) {
          caret = std::max(0, caret - 1);
        } else if (ch == 205) {
          caret = std::min(n, caret + 1);
        } else if (ch == 200 || ch == 208) {
          // Up and Down: the same column of the line before or after.
          int start = caret;
          while (start > 0 && t[start - 1] != '\n') start--;
          const int col = caret - start;
          if (ch == 200 && start > 0) {
            int ps = start - 1;
            while (ps > 0 && t[ps - 1] != '\n') ps--;
            caret = std::min(ps + col, start - 1);
          } else if (ch == 208) {
            int e = caret;
            while (e < n && t[e] != '\n') e++;
            if (e < n) {
              int ne = e + 1;
              while (ne < n && t[ne] != '\n') ne++;
              caret = std::min(e + 1 + col, ne);
            }
          }
        } else if ((ch >= 32 && ch < 128) || ch == 13) {
          // Inserted while the text is shorter than the item's text length.
          const int limit = std::min<int>(std::max<int>(w->txtlen, 1), MNUTAIL - 1);
          if (n < limit) {
            std::memmove(t + caret + 1, t + caret, static_cast<size_t>(n - caret + 1));
            t[caret++] = static_cast<char>(ch == 13 ? '\n' : ch);
            changed = true;
          }
        }
        break;
    }
  }
  if (jdebug)
    logprintf("edit(%d,%d,%d) ch=%d <%c> %d:%d/%d <%s> x0=%d c:%d,%d\n", evt->what, evt->h, evt->v,
              static_cast<int>(evt->message), evt->message >= 32 && evt->message < 127 ? static_cast<int>(evt->message) : ' ',
              caret, w->topline, n, t, w->rect[0], w->caretx, w->carety);
  setwidpos(w, r, caret);
  drawitem(r, w);
  if (!changed) return 0;
  if (w->cmdlen > 0) {
    savcmd(mnutext(r, w->cmdoff, w->cmdlen), 0, w->cmdlen, nullptr);
    return 13;
  }
  return 0;
}

// ---- The dialog function -------------------------------------------------------

int dialog(MnuRec* r, int n, int item, int mode, float* value, char* text) {
  DlgWid* w = dlgwid(r, item - 2);
  if (!w) return -1;
  const int32_t dlg = dlgwinof(n);
  if (mode == 0) {
    switch (w->kind) {
      case WK_CHECK:
      case WK_RADIO: *value = w->value; return 1;
      case WK_SLIDER: *value = w->value / 32767.0f; return 1;
      case WK_STATIC:
      case WK_STATIC2:
        std::snprintf(text, 256, "%s", mnutext(r, w->txtoff, w->txtlen));
        return 2;
      case WK_EDIT:
        // The field as it shows while the dialog is open, else the text
        // kept in the tail buffer.
        if (dlg && dlghas(dlg, item - 1))
          std::snprintf(text, 256, "%s", dlgtextstr(dlg, item - 1).c_str());
        else
          std::snprintf(text, 256, "%s", fldbuf(r, w) ? fldbuf(r, w) : "");
        return 2;
      default: *value = 0.0f; return 1;
    }
  }
  char buf[256];
  if (mode == 1) {
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(*value));
    text = buf;
  }
  const float v = mode == 1 ? *value : static_cast<float>(std::strtod(text, nullptr));
  switch (w->kind) {
    case WK_CHECK:
    case WK_RADIO: w->value = v != 0.0f ? 1.0f : 0.0f; break;
    case WK_SLIDER: w->value = std::clamp(v, 0.0f, 1.0f) * 32767.0f; break;
    case WK_STATIC:
    case WK_STATIC2: settext(r, w, text); break;
    case WK_EDIT:
      setfld(r, w, text);
      if (dlg && dlghas(dlg, item - 1)) dlgsettext(dlg, item - 1, fldbuf(r, w));
      break;
    default: break;
  }
  drwitem(w, r, 0);
  return 0;
}

int dlogitems(int nops, float* number, char* texts, int32_t dest) {
  const int n = curdlg;
  MnuRec* r = mnurec(n);
  if (!r || !r->active || (r->kind & 15) != MK_DIALOG) return 0;
  *number = 0.0f;
  texts[0] = 0;
  optab[OT_RWSZ] = W_FLOAT;
  auto readitem = [&](int item) {
    float v = 0.0f;
    char t[256] = {0};
    const int k = dialog(r, n, item, 0, &v, t);
    return result(v, t, k == 2, number, texts, dest);
  };
  if (nops <= 0) return readitem(r->curitem + 1);
  if (nops == 1) return readitem(intarg(2, 0));
  // Several operands: [group] mode-or-item values...
  int a = 2;
  int16_t group = 0;
  char word[16];
  float fv = 0.0f;
  int len = 0;
  if ((getarg(a, &fv, word, sizeof word, &len) & K_STRING) && strcasecmp(word, "group") == 0) {
    group = static_cast<int16_t>(++r->ngroup);
    a++;
  }
  const int last = nops + 1;
  if (a > last || !(argtyp(a, nullptr) & (K_NUMBER | K_ARRAY | 2))) return -2;
  const int first = intarg(a++, 0);
  int set = 0;
  auto mark = [&](int item) {
    DlgWid* w = dlgwid(r, item - 2);
    if (!w) return false;
    if (group) w->group = group;
    return true;
  };
  if (first == 1 || first == -1) {
    // Items follow: switched on (1) or off (-1).
    for (; a <= last && !(state & 0x8180); a++) {
      const int item = intarg(a, 0);
      if (item < 2 || !mark(item)) break;
      DlgWid* w = dlgwid(r, item - 2);
      if (first == 1)
        w->flags &= static_cast<uint8_t>(~0x40);
      else
        w->flags |= 0x40;
      drwitem(w, r, 0);
      set++;
    }
  } else {
    // Pairs of item and value (0), or values for the items from `first` on.
    int item = first;
    const bool pairs = first == 0;
    while (a <= last && !(state & 0x8180)) {
      if (pairs) item = intarg(a++, 0);
      if (item < 2 || a > last) break;
      int32_t h = 0;
      const int kind = argtyp(a, &h);
      PtrRec* p = h ? ptrrec(h) : nullptr;
      if ((kind & K_LIST) && (kind & K_STRING) && p) {
        // A text list: one element an item.
        for (int32_t e = 0; e < 1000 && !(state & 0x8180); e++) {
          int32_t l = 0;
          uint8_t* s = lstptr(p, e, &l, 0);
          if (!s) break;
          if (!mark(item)) break;
          char t[256];
          std::snprintf(t, sizeof t, "%.*s", static_cast<int>(std::clamp(l, 0, 255)), reinterpret_cast<char*>(s));
          dialog(r, n, item++, 2, nullptr, t);
          set++;
        }
      } else if ((kind & K_STRING) && !(kind & K_LIST)) {
        char t[256];
        int tl = 0;
        getarg(a, &fv, t, sizeof t, &tl);
        if (!mark(item)) break;
        dialog(r, n, item++, 2, nullptr, t);
        set++;
      } else if ((kind & (K_ARRAY | K_MATRIX)) && p) {
        // A numeric array: one element an item.
        std::vector<float> vals(static_cast<size_t>(std::max<int>(r->nwid, 1)));
        const int32_t cnt = getarr(p, vals.data(), static_cast<int32_t>(vals.size()), W_FLOAT);
        for (int32_t e = 0; e < cnt && mark(item); e++) {
          float v = vals[static_cast<size_t>(e)];
          dialog(r, n, item++, 1, &v, nullptr);
          set++;
        }
      } else {
        float v = fltarg(a, 0.0f);
        if (!mark(item)) break;
        dialog(r, n, item++, 1, &v, nullptr);
        set++;
      }
      a++;
    }
  }
  *number = static_cast<float>(set);
  optab[OT_RWSZ] = W_FLOAT;
  return 1;
}

// ---- Predefined dialogs ------------------------------------------------------------

int rdpdlg(const char* file, void* out) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(out);
  FILE* f = file ? std::fopen(hostpath(file).c_str(), "rb") : nullptr;
  if (!f) return -1;
  std::vector<uint8_t> all;
  uint8_t chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0 && all.size() < (1u << 20)) all.insert(all.end(), chunk, chunk + got);
  std::fclose(f);
  // Resource entries: {u32 data size, u32 header size, ...}; 32-byte blocks
  // whose first word is 0 are skipped.
  size_t at = 0;
  while (at + 32 <= all.size()) {
    uint32_t dsize = 0, hsize = 0;
    std::memcpy(&dsize, all.data() + at, 4);
    std::memcpy(&hsize, all.data() + at + 4, 4);
    if (dsize == 0) {
      at += 32;
      continue;
    }
    if (hsize < 8 || hsize > all.size() - at || dsize > all.size() - at - hsize) return -1;
    bytes->assign(all.begin() + static_cast<long>(at + hsize), all.begin() + static_cast<long>(at + hsize + dsize));
    TmplInfo ti;
    if (!tmplparse(bytes->data(), bytes->size(), &ti)) return -1;
    if (ti.menu) return 1;
    if (ti.cls) return 2;
    return 0;
  }
  return -1;
}

int ldpdlg(const char* file) {
  std::vector<uint8_t> t;
  const int k = rdpdlg(file, &t);
  if (k == 1) {
    jprintf(lstlun, "ERROR! Menu detected in Dialog Box \n");
    return -1;
  }
  if (k == 2) {
    jprintf(lstlun, "ERROR! Predefine Dialog Box not used \n");
    return -1;
  }
  if (k < 0) return -1;
  if (trcmsk & 8) dumpdlgt(t.data(), static_cast<int>(t.size()));
  return dlgcreate(t.data(), t.size(), winhwnd(2), pdlgproc, 0) ? 0 : -1;
}

int32_t pdlgproc(int32_t dlg, uint32_t message, uint32_t wParam, uint32_t) {
  if (message == WM_INITDIALOG) return 1;
  if (message != WM_COMMAND) return 0;
  const int id = static_cast<int>(wParam & 0xFFFF);
  // Control 1 ends the dialog; control 2 ends and destroys it.
  if (id == 1) {
    wm_show(dlg, false);
    return 1;
  }
  if (id == 2) {
    wm_destroy(dlg);
    return 1;
  }
  return 0;
}

uintptr_t align4(uintptr_t p) { return (p + 3) & ~static_cast<uintptr_t>(3); }

int dumpdlgt(const uint8_t* tmpl, int n) {
  TmplInfo ti;
  if (!tmplparse(tmpl, static_cast<size_t>(std::max(n, 0)), &ti)) return -1;
  jprintf(dbglun, "DLGTEMPLATE: %6d %6d %6d %6d %6d %6d %6d\n", static_cast<int>(ti.style >> 16),
          static_cast<int>(ti.style & 0xFFFF), static_cast<int>(ti.items.size()), ti.x, ti.y, ti.cx, ti.cy);
  jprintf(dbglun, "  arrays: %6d %6d\ntitle: ", ti.menu ? 1 : 0, ti.cls ? 1 : 0);
  for (char c : ti.title) jprintf(dbglun, "%6o ", static_cast<unsigned>(static_cast<uint8_t>(c)));
  jprintf(dbglun, "\n");
  for (const TmplItem& it : ti.items) {
    jprintf(dbglun, " DLGItem: %6d %6d %6d %6d %6d %6d %6d\n    text: ", static_cast<int>(it.style >> 16),
            static_cast<int>(it.style & 0xFFFF), it.x, it.y, it.cx, it.cy, it.id);
    jprintf(dbglun, "%s", it.title.c_str());
    jprintf(dbglun, " 0\n    date: %d\n", 0);
  }
  return 0;
}

int drwdlog(int count, const char* const* labels, const int32_t* rects, int selected) {
  PwRec* p = wpwrec(curport);
  Surface* s = p ? wm_surface(p->window) : nullptr;
  if (!s || !labels || !rects) return 0;
  for (int i = 0; i < count; i++) {
    const int32_t* r = rects + 4 * i;
    const char* l = labels[i] ? labels[i] : "";
    if (*l == '!') l++;
    int n = 0;
    while (l[n] && l[n] != ';' && l[n] != '\n') n++;
    const int w = r[2] - r[0] + 1, h = r[3] - r[1] + 1;
    std::string text(l, static_cast<size_t>(n));
    drawctl(*s, CC_BUTTON, i == selected ? static_cast<uint32_t>(BS_DEFPUSHBUTTON) : 0u, r[0], r[1], w, h, text, 0, 0, 0, 0xFFFFFF,
            i == selected ? 2 : 0, -1);
  }
  invalwin(p->window);
  return 0;
}

int nulldlg() { return 0; }

// ---- Text boxes ----------------------------------------------------------------------

TxtBox* newtbox(int lines, int bytes) {
  auto* b = static_cast<TxtBox*>(xcalloc(1, sizeof(TxtBox)));
  if (!b) return nullptr;
  b->lcap = static_cast<int16_t>(std::clamp(lines, 1, 32767));
  b->tcap = static_cast<int16_t>(std::clamp(bytes, 32, 32767));
  b->lines = static_cast<char**>(xcalloc(static_cast<size_t>(b->lcap), sizeof(char*)));
  b->text = static_cast<char*>(xcalloc(static_cast<size_t>(b->tcap), 1));
  if (!b->lines || !b->text) {
    frtbox(b);
    return nullptr;
  }
  return b;
}

int addtbox(TxtBox* b, const char* text) {
  if (!b || !text) return 0;
  int added = 0;
  const char* p = text;
  while (*p) {
    const char* e = std::strchr(p, '\n');
    const size_t n = e ? static_cast<size_t>(e - p) : std::strlen(p);
    bool visible = false;
    for (size_t k = 0; k < n; k++) visible = visible || static_cast<unsigned char>(p[k]) > ' ';
    if (visible) {
      // The buffer and the line table grow as needed (+256, 32 a line).
      const int need = b->tused + static_cast<int>(n) + 1;
      if (need > b->tcap || b->nlines >= b->lcap) {
        const int tcap = std::min(32767, std::max<int>(b->tcap, need + 256));
        const int lcap = std::min(32767, b->lcap + std::max(1, tcap / 32 - b->lcap));
        if (need > tcap || b->nlines >= lcap) return added;
        auto* nt = static_cast<char*>(xcalloc(static_cast<size_t>(tcap), 1));
        auto* nl = static_cast<char**>(xcalloc(static_cast<size_t>(lcap), sizeof(char*)));
        if (!nt || !nl) {
          xfree(nt);
          xfree(nl);
          return added;
        }
        std::memcpy(nt, b->text, static_cast<size_t>(b->tused));
        for (int i = 0; i < b->nlines; i++) nl[i] = nt + (b->lines[i] - b->text);
        xfree(b->text);
        xfree(b->lines);
        b->text = nt;
        b->lines = nl;
        b->tcap = static_cast<int16_t>(tcap);
        b->lcap = static_cast<int16_t>(lcap);
      }
      char* dst = b->text + b->tused;
      std::memcpy(dst, p, n);
      dst[n] = 0;
      b->lines[b->nlines++] = dst;
      b->tused = static_cast<int16_t>(b->tused + static_cast<int>(n) + 1);
      added++;
    }
    p += n;
    if (*p == '\n') p++;
  }
  return added;
}

void frtbox(TxtBox* b) {
  if (!b) return;
  xfree(b->text);
  xfree(b->lines);
  xfree(b);
}
