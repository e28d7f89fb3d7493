// Dialog windows: templates, controls, their drawing and their input.
#include "ui/platform/dlgwin.h"

#include "ui/events.h"
#include "ui/platform/face.h"
#include "ui/platform/surface.h"
#include "ui/platform/wm.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace {
constexpr int MAXTEXT = 4096;  // characters an edit control takes

struct Ctl {
  int id = 0;
  int cls = 0;
  uint32_t style = 0;
  int x = 0, y = 0, w = 0, h = 0;
  std::string text;
  int check = 0;
  int pos = 0;
  bool pressed = false;
  bool selall = false;
  int caret = 0;
  uint32_t fg = 0, bg = 0xFFFFFF;  // program colours
  bool visible() const { return style & WS_VISIBLE; }
  bool enabled() const { return !(style & WS_DISABLED); }
  int btype() const { return static_cast<int>(style & 0xF); }
};

struct Dlg {
  int32_t hwnd = 0;
  DlgProc proc = nullptr;
  std::vector<Ctl> ctls;
  int focus = -1;   // control with the keyboard focus
  int press = -1;   // control under a held button
  int defid = 0;    // the button Enter presses
  uint32_t bkcol = 0xFFFFFF;
  std::string typed;  // keys typed to a modal dialog without an edit field
  bool creating = true;  // controls are drawn once the procedure has set them up
  // What the surface's background holds: its colour and size when last
  // filled (a new surface comes filled white); stale after a control went.
  uint32_t filled = 0xFFFFFF;
  int fw = -1, fh = -1;
  bool stale = false;
};

std::vector<std::unique_ptr<Dlg>> dlgs;
int32_t modal = 0;  // the dialog that takes every key
int32_t kbd = 0;    // the dialog whose edit control was clicked last
int inproc = 0;     // dialog procedures running: dialogs are not forgotten meanwhile

// Calls a dialog's procedure.
int32_t call(DlgProc proc, int32_t h, uint32_t msg, uint32_t wp, uint32_t lp) {
  if (!proc) return 0;
  inproc++;
  const int32_t r = proc(h, msg, wp, lp);
  inproc--;
  return r;
}

Dlg* find(int32_t h) {
  if (!h) return nullptr;
  for (auto& d : dlgs)
    if (d->hwnd == h) {
      if (!wm_valid(h)) return nullptr;
      return d.get();
    }
  return nullptr;
}

// Forgets dialogs whose windows are gone.
void purge() {
  if (inproc) return;
  std::erase_if(dlgs, [](const std::unique_ptr<Dlg>& d) { return !wm_valid(d->hwnd); });
  if (modal && !wm_valid(modal)) modal = 0;
  if (kbd && !wm_valid(kbd)) kbd = 0;
}

Ctl* ctl(Dlg* d, int id) {
  if (!d) return nullptr;
  for (Ctl& c : d->ctls)
    if (c.id == id) return &c;
  return nullptr;
}

int index(const Dlg* d, const Ctl* c) { return static_cast<int>(c - d->ctls.data()); }

void drawone(Dlg* d, const Ctl& c) {
  if (d->creating) return;
  Surface* s = wm_surface(d->hwnd);
  if (!s) return;
  if (!c.visible()) return;
  int flags = 0;
  if (c.pressed) flags |= 1;
  const bool focused = d->focus >= 0 && &d->ctls[static_cast<size_t>(d->focus)] == &c;
  if (focused) flags |= 2;
  if (!c.enabled()) flags |= 4;
  if (c.selall) flags |= 8;
  if (c.id == d->defid && c.cls == CC_BUTTON && c.btype() <= BS_DEFPUSHBUTTON) flags |= 16;
  drawctl(*s, c.cls, c.style, c.x, c.y, c.w, c.h, c.text, c.check, c.pos, c.fg, c.bg, flags,
          focused && c.cls == CC_EDIT ? c.caret : -1);
  invalwin(d->hwnd);
}

void notify(Dlg* d, int id, uint32_t code) {
  call(d->proc, d->hwnd, WM_COMMAND, static_cast<uint32_t>(id) | (code << 16), 0x10000u | static_cast<uint32_t>(id));
}

// The control at a point of the dialog's client area that takes clicks.
int hit(const Dlg* d, int x, int y) {
  for (int i = static_cast<int>(d->ctls.size()) - 1; i >= 0; i--) {
    const Ctl& c = d->ctls[static_cast<size_t>(i)];
    if (!c.visible() || !c.enabled() || c.cls == CC_STATIC || c.cls == CC_COMBO) continue;
    if (x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h) return i;
  }
  return -1;
}

// True when a press at the point falls on the dialog itself: no shown,
// enabled control that takes the mouse lies under it (static texts let
// presses through to the dialog).
bool surface(const Dlg* d, int x, int y) {
  for (const Ctl& c : d->ctls) {
    if (!c.visible() || !c.enabled() || c.cls == CC_STATIC) continue;
    if (x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h) return false;
  }
  return true;
}

int trackpos(const Ctl& c, int x, int y) {
  const bool vert = (c.style & TBS_VERT) || c.h > c.w;
  const int len = vert ? c.h : c.w;
  const int off = vert ? y - c.y : x - c.x;
  if (len <= 0) return 0;
  const double f = std::clamp(static_cast<double>(off) / len, 0.0, 1.0);
  return static_cast<int>(f * 32767 + 0.5);
}

void setfocus(Dlg* d, int i) {
  const int old = d->focus;
  d->focus = i;
  if (old >= 0 && old < static_cast<int>(d->ctls.size())) {
    Ctl& o = d->ctls[static_cast<size_t>(old)];
    o.selall = false;
    drawone(d, o);
    if (old != i && o.cls == CC_EDIT) notify(d, o.id, EN_KILLFOCUS);
  }
  if (i >= 0) drawone(d, d->ctls[static_cast<size_t>(i)]);
}

void nextfocus(Dlg* d) {
  const int n = static_cast<int>(d->ctls.size());
  for (int k = 1; k <= n; k++) {
    const int i = (d->focus + k + n) % n;
    const Ctl& c = d->ctls[static_cast<size_t>(i)];
    if (c.visible() && c.enabled() && (c.style & WS_TABSTOP) && c.cls != CC_STATIC) {
      setfocus(d, i);
      return;
    }
  }
}

// A click on a button: its state, then the notification.
void clicked(Dlg* d, Ctl& c) {
  if (c.cls == CC_BUTTON) {
    if (c.btype() == BS_AUTOCHECKBOX) c.check = !c.check;
    if (c.btype() == BS_AUTORADIOBUTTON) c.check = 1;
  }
  drawone(d, c);
  const int id = c.id;
  if (c.cls == CC_TRACKBAR) {
    const bool vert = (c.style & TBS_VERT) || c.h > c.w;
    call(d->proc, d->hwnd, vert ? WM_VSCROLL : WM_HSCROLL, static_cast<uint32_t>(c.pos), static_cast<uint32_t>(id));
    return;
  }
  notify(d, id, BN_CLICKED);
}

// The button a modal dialog's typed text names: its label begins with the
// text (any case), or the text is its number among the buttons.
int typedbutton(const Dlg* d) {
  if (d->typed.empty()) return d->defid;
  std::vector<const Ctl*> btn;
  for (const Ctl& c : d->ctls)
    if (c.cls == CC_BUTTON && c.visible() && c.btype() <= BS_DEFPUSHBUTTON) btn.push_back(&c);
  for (const Ctl* c : btn) {
    if (c->text.size() < d->typed.size()) continue;
    bool same = true;
    for (size_t k = 0; k < d->typed.size() && same; k++)
      same = std::tolower(static_cast<unsigned char>(c->text[k])) ==
             std::tolower(static_cast<unsigned char>(d->typed[k]));
    if (same) return c->id;
  }
  int v = 0;
  for (char ch : d->typed) {
    if (ch < '0' || ch > '9' || v > 1000) return d->defid;
    v = v * 10 + (ch - '0');
  }
  return v >= 1 && v <= static_cast<int>(btn.size()) ? btn[static_cast<size_t>(v - 1)]->id : d->defid;
}

bool editkey(Dlg* d, Ctl& c, uint32_t message, uint32_t code) {
  bool changed = false;
  const int n = static_cast<int>(c.text.size());
  c.caret = std::clamp(c.caret, 0, n);
  if (message == WM_KEYDOWN) {
    switch (code) {
      case VK_LEFT: c.caret = std::max(0, c.caret - 1); break;
      case VK_RIGHT: c.caret = std::min(n, c.caret + 1); break;
      case VK_HOME: c.caret = 0; break;
      case VK_END: c.caret = n; break;
      case VK_DELETE:
        if (c.selall) {
          c.text.clear();
          c.caret = 0;
          changed = n > 0;
        } else if (c.caret < n) {
          c.text.erase(static_cast<size_t>(c.caret), 1);
          changed = true;
        }
        break;
      default: return false;
    }
    c.selall = false;
  } else {
    if (code == 8) {
      if (c.selall) {
        c.text.clear();
        c.caret = 0;
        changed = n > 0;
      } else if (c.caret > 0) {
        c.text.erase(static_cast<size_t>(c.caret - 1), 1);
        c.caret--;
        changed = true;
      }
    } else if (code >= 32 && code < 256 && code != 127) {
      if (c.selall) {
        c.text.clear();
        c.caret = 0;
      }
      if (static_cast<int>(c.text.size()) < MAXTEXT) {
        c.text.insert(static_cast<size_t>(c.caret), 1, static_cast<char>(code));
        c.caret++;
        changed = true;
      }
    } else {
      return false;
    }
    c.selall = false;
  }
  drawone(d, c);
  if (changed) notify(d, c.id, EN_CHANGE);
  return true;
}

void u16at(const uint8_t* t, size_t n, size_t& at, uint32_t* v, bool* ok) {
  if (at + 2 > n) {
    *ok = false;
    *v = 0;
    return;
  }
  *v = t[at] | t[at + 1] << 8;
  at += 2;
}

// A menu, class or title field: none, an ordinal, or a UTF-16 text.
void szord(const uint8_t* t, size_t n, size_t& at, std::string* text, uint32_t* ord, bool* ok) {
  uint32_t v = 0;
  u16at(t, n, at, &v, ok);
  if (ord) *ord = 0;
  if (!*ok || v == 0) return;
  if (v == 0xFFFF) {
    u16at(t, n, at, &v, ok);
    if (ord) *ord = v;
    return;
  }
  for (int k = 0; *ok && v != 0; k++) {
    if (text && text->size() < 1024) text->push_back(static_cast<char>(v < 256 ? v : '?'));
    u16at(t, n, at, &v, ok);
  }
}
}  // namespace

// ---- Templates ---------------------------------------------------------------

void DlgTmpl::u16(uint32_t v) {
  b_.push_back(static_cast<uint8_t>(v));
  b_.push_back(static_cast<uint8_t>(v >> 8));
}
void DlgTmpl::u32(uint32_t v) {
  u16(v & 0xFFFF);
  u16(v >> 16);
}
void DlgTmpl::text(const char* s) {
  for (const char* p = s ? s : ""; *p; p++) u16(static_cast<uint8_t>(*p));
  u16(0);
}

void DlgTmpl::header(uint32_t style, int count, int x, int y, int cx, int cy, const char* title) {
  b_.clear();
  u32(style);
  u32(0);
  u16(static_cast<uint32_t>(count));
  u16(static_cast<uint16_t>(x));
  u16(static_cast<uint16_t>(y));
  u16(static_cast<uint16_t>(cx));
  u16(static_cast<uint16_t>(cy));
  u16(0);  // no menu
  u16(0);  // the default class
  text(title);
}

void DlgTmpl::item(uint32_t style, int x, int y, int cx, int cy, int id, int cls, const char* title) {
  while (b_.size() & 3) b_.push_back(0);
  u32(style);
  u32(0);
  u16(static_cast<uint16_t>(x));
  u16(static_cast<uint16_t>(y));
  u16(static_cast<uint16_t>(cx));
  u16(static_cast<uint16_t>(cy));
  u16(static_cast<uint32_t>(id));
  if (cls == CC_TRACKBAR) {
    text(TRACKBAR);
  } else {
    u16(0xFFFF);
    u16(static_cast<uint32_t>(cls));
  }
  text(title);
  u16(0);
}

bool tmplparse(const uint8_t* t, size_t n, TmplInfo* out) {
  *out = TmplInfo{};
  if (!t || n < 18) return false;
  bool ok = true;
  size_t at = 0;
  uint32_t v = 0, w = 0;
  u16at(t, n, at, &v, &ok);
  u16at(t, n, at, &w, &ok);
  out->style = v | w << 16;
  at += 4;  // extended style
  uint32_t count = 0;
  u16at(t, n, at, &count, &ok);
  uint32_t c[4];
  for (uint32_t& k : c) u16at(t, n, at, &k, &ok);
  out->x = static_cast<int16_t>(c[0]);
  out->y = static_cast<int16_t>(c[1]);
  out->cx = static_cast<int16_t>(c[2]);
  out->cy = static_cast<int16_t>(c[3]);
  std::string menu, cls;
  uint32_t mord = 0, cord = 0;
  szord(t, n, at, &menu, &mord, &ok);
  szord(t, n, at, &cls, &cord, &ok);
  out->menu = !menu.empty() || mord != 0;
  out->cls = !cls.empty() || cord != 0;
  szord(t, n, at, &out->title, nullptr, &ok);
  if (ok && (out->style & 0x40)) {  // a font: point size and face
    u16at(t, n, at, &v, &ok);
    szord(t, n, at, nullptr, nullptr, &ok);
  }
  for (uint32_t i = 0; ok && i < count; i++) {
    at = (at + 3) & ~static_cast<size_t>(3);
    TmplItem it;
    u16at(t, n, at, &v, &ok);
    u16at(t, n, at, &w, &ok);
    it.style = v | w << 16;
    at += 4;
    for (uint32_t& k : c) u16at(t, n, at, &k, &ok);
    it.x = static_cast<int16_t>(c[0]);
    it.y = static_cast<int16_t>(c[1]);
    it.cx = static_cast<int16_t>(c[2]);
    it.cy = static_cast<int16_t>(c[3]);
    u16at(t, n, at, &v, &ok);
    it.id = static_cast<int>(v);
    uint32_t ord = 0;
    szord(t, n, at, &it.clsname, &ord, &ok);
    if (ord)
      it.cls = static_cast<int>(ord);
    else if (it.clsname == TRACKBAR)
      it.cls = CC_TRACKBAR;
    szord(t, n, at, &it.title, nullptr, &ok);
    u16at(t, n, at, &v, &ok);
    at += v;
    if (ok) out->items.push_back(std::move(it));
  }
  return ok;
}

// ---- Dialogs ------------------------------------------------------------------

int32_t dlgcreate(const uint8_t* tmpl, size_t n, int32_t parent, DlgProc proc, uint32_t init, const int* place) {
  purge();
  TmplInfo ti;
  if (!tmplparse(tmpl, n, &ti)) return 0;
  uint32_t style = WMS_CAPTION | WMS_BORDER | WMS_TOPMOST;
  if (parent) style |= WMS_CHILD;
  if (ti.style & WS_VISIBLE) style |= WMS_VISIBLE;
  int x = dlu2px(ti.x), y = dlu2py(ti.y), w = std::max(1, dlu2px(ti.cx)), hh = std::max(1, dlu2py(ti.cy));
  if (place && place[2] > 0 && place[3] > 0) x = place[0], y = place[1], w = place[2], hh = place[3];
  const int32_t h = wm_create(ti.title.c_str(), style, x, y, w, hh, parent, 0xFFFFFF);
  if (!h) return 0;
  auto d = std::make_unique<Dlg>();
  d->hwnd = h;
  d->proc = proc;
  d->fw = w, d->fh = hh;
  for (const TmplItem& it : ti.items) {
    Ctl c;
    c.id = it.id;
    c.cls = it.cls;
    c.style = it.style;
    c.x = dlu2px(it.x);
    c.y = dlu2py(it.y);
    c.w = dlu2px(it.cx);
    c.h = dlu2py(it.cy);
    c.text = it.title;
    c.fg = 0;
    c.bg = c.cls == CC_STATIC ? 0xFFFFFF : 0xFFFFFF;
    if (c.cls == CC_BUTTON && c.btype() == BS_DEFPUSHBUTTON && !d->defid) d->defid = c.id;
    d->ctls.push_back(std::move(c));
  }
  dlgs.push_back(std::move(d));
  call(proc, h, WM_INITDIALOG, 0, init);
  Dlg* made = find(h);
  if (!made) return 0;
  made->creating = false;
  dlgredraw(h);
  return h;
}

bool dlgvalid(int32_t dlg) { return find(dlg) != nullptr; }

void dlgredraw(int32_t dlg) {
  Dlg* d = find(dlg);
  if (!d) return;
  Surface* s = wm_surface(dlg);
  if (!s) return;
  // Every control fills its own rectangle: the background is filled again
  // only when it is not the dialog's colour and size any more.
  const uint32_t bg = bgr(d->bkcol);
  if (d->stale || d->filled != bg || d->fw != s->w || d->fh != s->h) {
    sfill(*s, 0, 0, s->w, s->h, bg);
    d->filled = bg;
    d->fw = s->w, d->fh = s->h;
    d->stale = false;
  }
  for (const Ctl& c : d->ctls) drawone(d, c);
  invalwin(dlg);
}

void dlgsize(int32_t dlg, int w, int h) {
  int x = 0, y = 0;
  if (!wm_getpos(dlg, &x, &y, nullptr, nullptr)) return;
  wm_setpos(dlg, x, y, w, h);
}

void dlgbkcol(int32_t dlg, uint32_t colour) {
  if (Dlg* d = find(dlg)) d->bkcol = colour;
}

bool dlghas(int32_t dlg, int id) { return ctl(find(dlg), id) != nullptr; }

int dlgtext(int32_t dlg, int id, char* buf, int max) {
  const Ctl* c = ctl(find(dlg), id);
  if (!c || !buf || max < 1) return -1;
  const int n = std::min(static_cast<int>(c->text.size()), max - 1);
  std::memcpy(buf, c->text.data(), static_cast<size_t>(n));
  buf[n] = 0;
  return n;
}

std::string dlgtextstr(int32_t dlg, int id) {
  const Ctl* c = ctl(find(dlg), id);
  return c ? c->text : std::string();
}

void dlgsettext(int32_t dlg, int id, const char* text) {
  Dlg* d = find(dlg);
  Ctl* c = ctl(d, id);
  if (!c) return;
  std::string t = text ? text : "";
  if (t.size() > MAXTEXT) t.resize(MAXTEXT);
  if (t == c->text) return;
  c->text = std::move(t);
  c->caret = std::min(c->caret, static_cast<int>(c->text.size()));
  drawone(d, *c);
}

void dlgcheck(int32_t dlg, int id, int on) {
  Dlg* d = find(dlg);
  if (Ctl* c = ctl(d, id); c && c->check != (on ? 1 : 0)) {
    c->check = on ? 1 : 0;
    drawone(d, *c);
  }
}

int dlgchecked(int32_t dlg, int id) {
  const Ctl* c = ctl(find(dlg), id);
  return c ? c->check : 0;
}

void dlgsetpos(int32_t dlg, int id, int pos) {
  Dlg* d = find(dlg);
  if (Ctl* c = ctl(d, id); c && c->pos != std::clamp(pos, 0, 32767)) {
    c->pos = std::clamp(pos, 0, 32767);
    drawone(d, *c);
  }
}

int dlgpos(int32_t dlg, int id) {
  const Ctl* c = ctl(find(dlg), id);
  return c ? c->pos : 0;
}

void dlgenable(int32_t dlg, int id, bool on) {
  Dlg* d = find(dlg);
  if (Ctl* c = ctl(d, id); c && c->enabled() != on) {
    if (on)
      c->style &= ~WS_DISABLED;
    else
      c->style |= WS_DISABLED;
    // The background under a control that is switched off is drawn again.
    if (Surface* s = wm_surface(dlg)) sfill(*s, c->x, c->y, c->w, c->h, bgr(d->bkcol));
    drawone(d, *c);
  }
}

void dlgcolours(int32_t dlg, int id, uint32_t fg, uint32_t bg) {
  Dlg* d = find(dlg);
  if (Ctl* c = ctl(d, id)) {
    c->fg = fg;
    c->bg = bg;
  }
}

void dlgdefault(int32_t dlg, int id) {
  Dlg* d = find(dlg);
  if (!d || d->defid == id) return;
  Ctl* old = ctl(d, d->defid);
  d->defid = id;
  // The old default loses its mark, the new one gets it.
  if (old) drawone(d, *old);
  if (Ctl* c = ctl(d, id)) drawone(d, *c);
}

void dlgfocus(int32_t dlg, int id, bool selall) {
  Dlg* d = find(dlg);
  Ctl* c = ctl(d, id);
  if (!c) return;
  c->selall = selall;
  c->caret = static_cast<int>(c->text.size());
  setfocus(d, index(d, c));
}

bool dlgrect(int32_t dlg, int id, int* x, int* y, int* w, int* h) {
  const Ctl* c = ctl(find(dlg), id);
  if (!c) return false;
  if (x) *x = c->x;
  if (y) *y = c->y;
  if (w) *w = c->w;
  if (h) *h = c->h;
  return true;
}

int dlgclass(int32_t dlg, int id) {
  const Ctl* c = ctl(find(dlg), id);
  return c ? c->cls : 0;
}

int dlgadd(int32_t dlg, int cls, uint32_t style, int x, int y, int w, int h, int id, const char* text) {
  Dlg* d = find(dlg);
  if (!d) return -1;
  Ctl c;
  c.id = id;
  c.cls = cls;
  c.style = style;
  c.x = x, c.y = y, c.w = w, c.h = h;
  c.text = text ? text : "";
  d->ctls.push_back(std::move(c));
  d->focus = -1;
  d->press = -1;
  drawone(d, d->ctls.back());
  return id;
}

void dlgdel(int32_t dlg, int id) {
  Dlg* d = find(dlg);
  if (!d) return;
  for (size_t i = 0; i < d->ctls.size(); i++)
    if (d->ctls[i].id == id) {
      d->ctls.erase(d->ctls.begin() + static_cast<long>(i));
      d->focus = -1;
      d->press = -1;
      d->stale = true;
      dlgredraw(dlg);
      return;
    }
}

void dlgmodal(int32_t dlg) {
  modal = dlg;
  if (Dlg* d = find(dlg)) d->typed.clear();
}

int32_t dlgmodalwin() { return find(modal) ? modal : 0; }

bool dlgwants(int32_t dlg, const Msg* m) {
  const Dlg* d = find(dlg);
  if (!d || !m || m->message < WM_KEYDOWN || m->message > WM_KEYLAST) return false;
  if (m->hwnd != dlg && modal != dlg && kbd != dlg) return false;
  if ((m->keys & (MK_CTRL | MK_ALT)) || m->message == WM_SYSKEYDOWN || m->message == WM_SYSCHAR) return false;
  const uint32_t code = m->wParam;
  return !(m->message == WM_CHAR && code < 32 && code != 8 && code != 9 && code != 13 && code != 27);
}

bool dlgmessage(int32_t dlg, const Msg* m) {
  Dlg* d = find(dlg);
  if (!d || !m) return false;
  const uint32_t msg = m->message;
  const bool key = msg >= WM_KEYDOWN && msg <= WM_KEYLAST;
  const bool mouse = msg >= WM_MOUSEMOVE && msg <= WM_MOUSELAST;
  const bool press = msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN;
  // A press elsewhere takes the keyboard back from the dialog.
  if (press && m->hwnd != dlg && kbd == dlg) kbd = 0;
  const bool mine = m->hwnd == dlg || (key && (modal == dlg || kbd == dlg));
  if (!mine) return false;
  if (msg == WM_COMMAND) {
    call(d->proc, dlg, msg, m->wParam, m->lParam);
    return true;
  }
  if (msg == WM_CLOSE && m->hwnd == dlg) {
    // The close box is the dialog's cancel, as Esc is: the window stays
    // until its procedure ends it (an alert is answered with no button).
    call(d->proc, dlg, WM_COMMAND, IDCANCEL, 0);
    return true;
  }
  if (mouse) {
    const int x = static_cast<int16_t>(m->lParam & 0xFFFF), y = static_cast<int16_t>(m->lParam >> 16);
    // A press on the dialog's own surface goes to its procedure first (the
    // dialog editor moves widgets there); a press on a control is the
    // control's, and its click reaches the procedure as a command.
    if (msg == WM_LBUTTONDOWN && surface(d, x, y) && call(d->proc, dlg, msg, m->wParam, m->lParam)) return true;
    if (!find(dlg)) return true;
    if (msg == WM_LBUTTONDOWN) {
      const int i = hit(d, x, y);
      d->press = i;
      if (i >= 0) {
        Ctl& c = d->ctls[static_cast<size_t>(i)];
        if (c.cls == CC_EDIT) {
          kbd = dlg;
          // The caret goes to the character under the point.
          const int line = std::max(0, (y - c.y - 2) / FACEHGT);
          int at = 0, ln = 0;
          while (ln < line && at < static_cast<int>(c.text.size())) {
            if (c.text[static_cast<size_t>(at)] == '\n') ln++;
            at++;
          }
          int col = std::max(0, (x - c.x - 2 + FACEWID / 2) / FACEWID);
          while (col > 0 && at < static_cast<int>(c.text.size()) && c.text[static_cast<size_t>(at)] != '\n') at++, col--;
          c.caret = at;
          c.selall = false;
          setfocus(d, i);
        } else if (c.cls == CC_TRACKBAR) {
          c.pos = trackpos(c, x, y);
          drawone(d, c);
        } else {
          c.pressed = true;
          drawone(d, c);
        }
      }
    } else if (msg == WM_MOUSEMOVE && (m->wParam & 1) && d->press >= 0) {
      Ctl& c = d->ctls[static_cast<size_t>(d->press)];
      if (c.cls == CC_TRACKBAR) {
        c.pos = trackpos(c, x, y);
        drawone(d, c);
      }
    } else if (msg == WM_RBUTTONUP) {
      // The right button on a control asks for its help.
      for (int i = static_cast<int>(d->ctls.size()) - 1; i >= 0; i--) {
        const Ctl& c = d->ctls[static_cast<size_t>(i)];
        if (c.visible() && x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h) {
          call(d->proc, dlg, WM_HELP, static_cast<uint32_t>(c.id), 0);
          break;
        }
      }
    } else if (msg == WM_LBUTTONUP && d->press >= 0 && d->press < static_cast<int>(d->ctls.size())) {
      Ctl& c = d->ctls[static_cast<size_t>(d->press)];
      d->press = -1;
      const bool inside = x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h;
      c.pressed = false;
      if (c.cls == CC_TRACKBAR) c.pos = trackpos(c, x, y);
      if (c.cls == CC_EDIT)
        drawone(d, c);
      else if (inside || c.cls == CC_TRACKBAR)
        clicked(d, c);
      else
        drawone(d, c);
    }
    return true;
  }
  if (!key) return false;
  uint32_t code = m->wParam;
  // Control keys and Ctrl or Alt combinations (Ctrl-C among them) go on to
  // the keyboard handler.
  if ((m->keys & (MK_CTRL | MK_ALT)) || msg == WM_SYSKEYDOWN || msg == WM_SYSCHAR) return false;
  if (msg == WM_KEYUP || msg == WM_SYSKEYUP) return true;
  if (msg == WM_CHAR && code < 32 && code != 8 && code != 9 && code != 13 && code != 27) return false;
  Ctl* f = d->focus >= 0 && d->focus < static_cast<int>(d->ctls.size()) ? &d->ctls[static_cast<size_t>(d->focus)] : nullptr;
  if (msg == WM_KEYDOWN) {
    if (code == VK_ESCAPE) return true;  // Esc comes as a character too
    if (f && f->cls == CC_EDIT) editkey(d, *f, msg, code);
    return true;
  }
  if (code == 27) {
    // Esc: a cancel command of no control.
    call(d->proc, dlg, WM_COMMAND, IDCANCEL, 0);
    return true;
  }
  if (code == 13) {
    const int id = f && f->cls == CC_EDIT ? d->defid : (modal == dlg ? typedbutton(d) : d->defid);
    d->typed.clear();
    if (Ctl* b = ctl(d, id)) clicked(d, *b);
    return true;
  }
  if (code == 9) {
    nextfocus(d);
    return true;
  }
  if (f && f->cls == CC_EDIT) {
    editkey(d, *f, msg, code);
    return true;
  }
  if (modal == dlg) {
    if (code == 8) {
      if (!d->typed.empty()) d->typed.pop_back();
    } else if (code >= 32 && d->typed.size() < 64) {
      d->typed.push_back(static_cast<char>(code));
    }
  }
  return true;
}

void dlgkey(int32_t dlg, int code) {
  Msg m{};
  m.hwnd = dlg;
  m.message = WM_CHAR;
  switch (code) {
    case 155: m.wParam = 27; break;
    case 203: m.message = WM_KEYDOWN, m.wParam = VK_LEFT; break;
    case 205: m.message = WM_KEYDOWN, m.wParam = VK_RIGHT; break;
    case 199: m.message = WM_KEYDOWN, m.wParam = VK_HOME; break;
    case 207: m.message = WM_KEYDOWN, m.wParam = VK_END; break;
    case 211: m.message = WM_KEYDOWN, m.wParam = VK_DELETE; break;
    default:
      if (code == 8 || code == 9 || code == 13 || code == 27 || (code >= 32 && code < 127))
        m.wParam = static_cast<uint32_t>(code);
      else
        return;
  }
  dlgmessage(dlg, &m);
}

// ---- Scripted input ---------------------------------------------------------

int dlgclick(int32_t dlg, int id) {
  const Ctl* c = ctl(find(dlg), id);
  if (!c) return -1;
  const int x = c->x + c->w / 2, y = c->y + c->h / 2;
  const uint32_t lp = (static_cast<uint32_t>(y & 0xFFFF) << 16) | static_cast<uint32_t>(x & 0xFFFF);
  postmsg(dlg, WM_LBUTTONDOWN, 1, lp);
  postmsg(dlg, WM_LBUTTONUP, 0, lp);
  return 0;
}

int dlgsetedit(int32_t dlg, int id, const char* text) {
  Dlg* d = find(dlg);
  Ctl* c = ctl(d, id);
  if (!c || c->cls != CC_EDIT) return -1;
  c->text = text ? text : "";
  if (c->text.size() > MAXTEXT) c->text.resize(MAXTEXT);
  c->caret = static_cast<int>(c->text.size());
  c->selall = false;
  drawone(d, *c);
  postmsg(dlg, WM_COMMAND, static_cast<uint32_t>(id) | (EN_CHANGE << 16), 0x10000u | static_cast<uint32_t>(id));
  return 0;
}

int dlgbutton(int32_t dlg, const char* label) {
  const Dlg* d = find(dlg);
  if (!d || !label) return 0;
  const char* l = *label == '!' ? label + 1 : label;
  for (const Ctl& c : d->ctls)
    if (c.cls == CC_BUTTON && c.btype() <= BS_DEFPUSHBUTTON && c.text == l) return c.id;
  return 0;
}

int dlglist(int32_t dlg, FILE* f) {
  const Dlg* d = find(dlg);
  if (!d || !f) return 0;
  int n = 0;
  for (const Ctl& c : d->ctls) {
    if (c.text.empty()) continue;
    std::fprintf(f, "%d ", c.id + 1);
    for (char ch : c.text) {
      if (ch == '\n')
        std::fputs("\\n", f);
      else
        std::fputc(ch, f);
    }
    std::fputc('\n', f);
    n++;
  }
  return n;
}

// ---- Drawing -------------------------------------------------------------------

void drawctl(Surface& s, int cls, uint32_t style, int x, int y, int w, int h, const std::string& text,
             int state, int pos, uint32_t fg, uint32_t bg, int flags, int caret) {
  const uint32_t ink = (flags & 4) ? 0x909090 : bgr(fg);
  const uint32_t face = 0xE0E0E0, dark = 0x404040, white = 0xFFFFFF;
  auto frame = [&](int fx, int fy, int fw, int fh, uint32_t c) {
    sfill(s, fx, fy, fw, 1, c);
    sfill(s, fx, fy + fh - 1, fw, 1, c);
    sfill(s, fx, fy, 1, fh, c);
    sfill(s, fx + fw - 1, fy, 1, fh, c);
  };
  // Lines of a text, each clipped to the width.
  auto lines = [&](int tx, int ty, int tw, int th, bool centre, uint32_t colour) {
    int row = 0;
    size_t at = 0;
    while (at <= text.size()) {
      size_t nl = text.find('\n', at);
      if (nl == std::string::npos) nl = text.size();
      const int len = static_cast<int>(nl - at);
      const int fit = std::max(0, std::min(len, tw / FACEWID));
      const int ly = ty + row * FACEHGT;
      if (ly + FACEHGT > ty + th + FACEHGT / 2) break;
      const int lx = centre ? tx + (tw - fit * FACEWID) / 2 : tx;
      stext(s, lx, ly, text.data() + at, fit, colour);
      row++;
      at = nl + 1;
    }
  };
  switch (cls) {
    case CC_BUTTON: {
      const int bt = static_cast<int>(style & 0xF);
      if (bt == BS_RADIOBUTTON || bt == BS_AUTORADIOBUTTON) {
        // A radio button: a ringed circle, with a dot in it when set.
        sfill(s, x, y, w, h, bgr(bg));
        const int by = y + (h - 12) / 2;
        for (int py = 0; py < 12; py++)
          for (int px = 0; px < 12; px++) {
            const double dx = px + 0.5 - 6, dy = py + 0.5 - 6, d2 = dx * dx + dy * dy;
            if (d2 > 36) continue;
            uint32_t c = d2 > 4.9 * 4.9 ? dark : (flags & 1) && d2 > 3.9 * 3.9 ? 0xC0C0C0 : white;
            if (state && d2 <= 2.6 * 2.6) c = ink;
            sfill(s, x + px, by + py, 1, 1, c);
          }
        stext(s, x + 16, y + (h - FACEHGT) / 2, text.data(),
              std::max(0, std::min(static_cast<int>(text.size()), (w - 16) / FACEWID)), ink);
        if (flags & 2) frame(x + 14, y, std::max(1, w - 14), h, 0x808080);
        break;
      }
      if (bt == BS_AUTOCHECKBOX || bt == 2) {
        sfill(s, x, y, w, h, bgr(bg));
        const int by = y + (h - 12) / 2;
        sfill(s, x, by, 12, 12, white);
        frame(x, by, 12, 12, dark);
        if (state) sfill(s, x + 3, by + 3, 6, 6, dark);
        if (flags & 1) frame(x + 1, by + 1, 10, 10, 0x808080);
        stext(s, x + 16, y + (h - FACEHGT) / 2, text.data(),
              std::max(0, std::min(static_cast<int>(text.size()), (w - 16) / FACEWID)), ink);
        if (flags & 2) frame(x + 14, y, std::max(1, w - 14), h, 0x808080);
        break;
      }
      sfill(s, x, y, w, h, (flags & 1) ? 0xB0B0B0 : face);
      frame(x, y, w, h, dark);
      // The default button (the one Enter presses) and the focused one have
      // a thicker frame.
      if (bt == BS_DEFPUSHBUTTON || (flags & (2 | 16))) frame(x + 1, y + 1, std::max(1, w - 2), std::max(1, h - 2), dark);
      const int len = static_cast<int>(text.size());
      const int fit = std::max(0, std::min(len, (w - 4) / FACEWID));
      stext(s, x + (w - fit * FACEWID) / 2 + ((flags & 1) ? 1 : 0), y + (h - FACEHGT) / 2 + ((flags & 1) ? 1 : 0),
            text.data(), fit, ink);
      break;
    }
    case CC_EDIT: {
      sfill(s, x, y, w, h, white);
      frame(x, y, w, h, dark);
      if (flags & 8) {
        // All text selected: drawn inverted.
        const int n = std::min(static_cast<int>(text.size()), std::max(0, (w - 4) / FACEWID));
        sfill(s, x + 2, y + 2, n * FACEWID, std::min(FACEHGT, h - 4), 0x3050A0);
        stext(s, x + 2, y + 2, text.data(), n, white);
      } else {
        lines(x + 2, y + 2, w - 4, h - 4, false, ink);
      }
      if (caret >= 0) {
        int row = 0, col = 0;
        for (int i = 0; i < caret && i < static_cast<int>(text.size()); i++) {
          if (text[static_cast<size_t>(i)] == '\n')
            row++, col = 0;
          else
            col++;
        }
        const int cx = x + 2 + col * FACEWID, cy = y + 2 + row * FACEHGT;
        if (cx < x + w - 1 && cy + FACEHGT <= y + h) sfill(s, cx, cy, 1, FACEHGT, dark);
      }
      break;
    }
    case CC_TRACKBAR: {
      sfill(s, x, y, w, h, bgr(bg));
      const bool vert = (style & TBS_VERT) || h > w;
      const double f = std::clamp(pos, 0, 32767) / 32767.0;
      if (vert) {
        sfill(s, x + w / 2 - 1, y + 2, 3, std::max(1, h - 4), dark);
        const int ty = y + static_cast<int>(f * std::max(0, h - 8));
        sfill(s, x + 1, ty, std::max(1, w - 2), 8, face);
        frame(x + 1, ty, std::max(1, w - 2), 8, dark);
      } else {
        sfill(s, x + 2, y + h / 2 - 1, std::max(1, w - 4), 3, dark);
        const int tx = x + static_cast<int>(f * std::max(0, w - 8));
        sfill(s, tx, y + 1, 8, std::max(1, h - 2), face);
        frame(tx, y + 1, 8, std::max(1, h - 2), dark);
      }
      if (flags & 2) frame(x, y, w, h, 0x808080);
      break;
    }
    default:  // static text and the rest
      sfill(s, x, y, w, h, bgr(bg));
      lines(x, y, w, h, (style & 3) == SS_CENTER, ink);
      break;
  }
}

void dlgreset() {
  for (auto& d : dlgs)
    if (wm_valid(d->hwnd)) wm_destroy(d->hwnd);
  dlgs.clear();
  modal = kbd = 0;
}
