// Opening and closing menus, the menu bar, picks, function keys, window
// commands, the menu command and the menuitem function.
#include "ui/menu.h"

#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "files/dirutil.h"
#include "files/keylog.h"
#include "lang/cmdcodes.h"
#include "lang/cstart.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "lang/rdline.h"
#include "ui/alert.h"
#include "ui/dialog.h"
#include "ui/dlgedit.h"
#include "ui/events.h"
#include "ui/keymenu.h"
#include "ui/platform/menubar.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int16_t mbar[NBAR + 1];
int16_t curkey = 0, curtab = 0, curdlg = 0, lastmnu = 0, edmnu = 0;
int16_t holdsw = 0, helpsw = 0, selitem = 0;
int (*wedstart)() = wedopen;

namespace {
constexpr int E_NOTFOUND = 95;
constexpr int E_FULL = 98;
constexpr int E_KIND = 203;
constexpr int C_ADDRESS = FN_ADDRESS;  // the code of "address": others stay open

std::string pending;  // stop texts not yet queued
std::vector<int16_t> modals;  // the open modal menus, in the order they opened
std::string held;     // the text the hold switch keeps
std::string looked;   // the text mnugo found last

bool isclose(int code) { return code == -99 || code == 0 || code == -1; }

void queue(const std::string& t) {
  if (!t.empty()) savcmd(t.c_str(), 0, static_cast<int>(t.size()), nullptr);
}

// A menu name of a file name given to the menu command.
std::string mbase(const char* s) {
  char nm[16];
  mnuname(s, nm);
  return nm;
}

// Whether a word code (argnum) is the system variable tablet.
bool istablet(int32_t kw) {
  const int i = kw - 1000 - SVBASE - 1;
  return kw >= 1000 && i >= 0 && i < NSYSVAR && std::strcmp(sysnam[i], "tablet") == 0;
}

// Whether argument a is a number (not a name or a text).
bool numarg(int a) {
  int32_t h = 0;
  const int t = argtyp(a, &h);
  return t == WT_NUMBER || t == K_CONST || ((t & K_NUMBER) && !(t & (K_STRING | K_LIST)));
}

// A menu named by argument a: its number (loaded, or loaded from the
// library), 0 when not there; load: also from the library.
int menuarg(int a, bool load, std::string* name) {
  if (numarg(a)) {
    const int k = intarg(a, 0);
    return mnurec(k) ? k : 0;
  }
  char buf[264];
  if (argtext(a, buf, sizeof buf) < 1) return 0;
  if (name) *name = buf;
  uint32_t pos = 0, size = 0;
  const int n = fndmnuname(mbase(buf).c_str(), &pos, &size);
  if (n > 0) return n;
  if (n == 0 && load) return std::max(rdmnu(pos, size), 0);
  return 0;
}

// Frees a loaded menu of a name that is not open (it is read anew).
void dropname(const std::string& nm) {
  for (int n = 1; n <= NMENUS; n++) {
    MnuRec* r = mnutab[n];
    if (r && !r->active && r->name[0] && nm == r->name) frmnu(n, true);
  }
}

// The rectangle of the main window's frame in screen coordinates.
void mainframe(int32_t out[4]) {
  const Wport* m = wport(2);
  if (!m) {
    out[0] = out[1] = 0;
    out[2] = scrwid - 1;
    out[3] = scrhgt - 1;
    return;
  }
  out[0] = m->rect[0] - 1;
  out[1] = m->rect[1] - 19;
  out[2] = m->rect[2] + 1;
  out[3] = m->rect[3] + 1;
}
}  // namespace

// ---- Opening and closing -----------------------------------------------------------

int shwdlg(int n, int show, int edit) {
  MnuRec* r = mnurec(n);
  if (!r) return -1;
  if (show) {
    // A dialog outside the main window moves to its centre, its size kept.
    int32_t m[4];
    mainframe(m);
    const int32_t w = r->rect[2] - r->rect[0], h = r->rect[3] - r->rect[1];
    if (r->rect[0] < m[0] || r->rect[1] < m[1] || r->rect[2] > m[2] || r->rect[3] > m[3]) {
      int32_t x = (m[0] + m[2]) / 2 - w / 2, y = (m[1] + m[3]) / 2 - h / 2;
      x = std::max(0, std::min<int32_t>(x, std::max<int32_t>(0, scrwid - w)));
      y = std::max(0, std::min<int32_t>(y, std::max<int32_t>(0, scrhgt - h)));
      r->rect[0] = x, r->rect[1] = y, r->rect[2] = x + w, r->rect[3] = y + h;
    }
    curdlg = static_cast<int16_t>(n);
    if (r->drawn) return drawDialog(n);
    return makdlg(n, edit, 0);
  }
  if (const int32_t dlg = dlgwinof(n)) {
    const int slot = winnum(dlg);
    if (slot >= 0) deletewin(slot);
  } else if (Wport* w = wport(r->barwin); w && w->wnum == n && (w->type & 0x60)) {
    deletewin(r->barwin);
  }
  return 0;
}

int GeTMNu(int n, int code) {
  MnuRec* r = mnurec(n);
  if (!r) return -1;
  const int k = r->kind & 15;
  if (!isclose(code)) {
    if (trcmsk & 16) jprintf(dbglun, "GeTMNu(%d,%d) %s kind %d\n", n, code, r->name, k);
    if (r->active) {
      // Already open: it only becomes the current one of its kind.
      if (k == MK_DIALOG) curdlg = static_cast<int16_t>(n);
      if (k == MK_KEY) curkey = static_cast<int16_t>(n);
      return 1;
    }
    if (k != MK_TEXT) {
      // The other open menu of the same kind.
      auto same = [&](int m) {
        const MnuRec* o = mnurec(m);
        return m != n && o && o->active && (o->kind & 15) == k;
      };
      int other = 0;
      if (same(lastmnu))
        other = lastmnu;
      else if (same(r->prev))
        other = r->prev;
      else
        for (int m = 1; m <= NMENUS && !other; m++)
          if (same(m)) other = m;
      if (other) {
        if (k == MK_KEY || (k != MK_DIALOG && code != C_ADDRESS)) GeTMNu(other, -99);
        r = mnurec(n);
        if (!r) return -1;
      }
      r->prev = static_cast<int16_t>(other);
    }
    r->active = 1;
    lastmnu = static_cast<int16_t>(n);
    switch (k) {
      case MK_TEXT: makMenu(n); break;
      case MK_DIALOG: shwdlg(n, 1, n == edmnu); break;
      case MK_KEY: curkey = static_cast<int16_t>(n); break;
      case MK_TABLET: curtab = static_cast<int16_t>(n); break;
      default: break;
    }
    if (n != edmnu) {
      int len = 0;
      mnugo(n, 0, 0, &len);
    }
    if (!pending.empty()) {
      queue(pending);
      pending.clear();
    }
    return 1;
  }
  if (r->active) {
    if (r->modal) {
      // Each modal menu waits for itself: the modal menus opened while it
      // was open close first, the innermost first.
      const auto mine = [&] { return std::find(modals.begin(), modals.end(), static_cast<int16_t>(n)); };
      while (mine() != modals.end() && modals.back() != n) {
        const int inner = modals.back();
        modals.pop_back();
        GeTMNu(inner, 0);
      }
      if (mine() != modals.end()) modals.erase(mine());
      r = mnurec(n);
      if (!r) return 0;
    }
    if (r->stoplen) {
      if (!pending.empty()) pending += '\n';
      pending += mnutext(r, r->stopoff, r->stoplen);
    }
    switch (k) {
      case MK_DIALOG: shwdlg(n, 0, 0); break;
      case MK_TEXT: rmvbar(n); break;
      case MK_KEY:
        if (curkey == n) curkey = 0;
        break;
      case MK_TABLET:
        if (curtab == n) curtab = 0;
        break;
      default: break;
    }
    r->active = 0;
    if (r->modal) {
      // Only its own level of nested input ends.
      r->modal = 0;
      modctx(MODNEST);
    }
    if (k == MK_DIALOG && curdlg == n) {
      const MnuRec* p = mnurec(r->prev);
      curdlg = p && p->active && (p->kind & 15) == MK_DIALOG ? r->prev : 0;
    }
  }
  if (!(r->kind & MK_FILE)) frmnu(n, true);
  return 0;
}

int endmodal() {
  int closed = 0;
  // The innermost first.
  while (!modals.empty()) {
    const int n = modals.back();
    const MnuRec* r = mnurec(n);
    if (r && r->active && r->modal) {
      GeTMNu(n, 0);
      closed++;
    } else {
      modals.pop_back();
    }
  }
  for (int n = NMENUS; n >= 1; n--)
    if (const MnuRec* r = mnurec(n); r && r->active && r->modal) {
      GeTMNu(n, 0);
      closed++;
    }
  // Their stop texts are queued now, so that the interrupt drops them with
  // the rest of the queued text.
  if (closed) PuTBaR();
  return closed;
}

int PuTBaR() {
  if (!pending.empty()) queue(pending);
  pending.clear();
  drwmbar();
  return 0;
}

int makMenu(int n) {
  MnuRec* r = mnurec(n);
  if (!r) return -1;
  int p = 1;
  while (p <= NBAR && mbar[p]) p++;
  if (p > NBAR) return 0;  // the bar is full: the menu does not appear
  r->barwin = static_cast<int16_t>(p);
  mbar[p] = static_cast<int16_t>(n);
  std::vector<MbarItem> items;
  // Only the first 128 items go on the popup: identifiers are position x
  // 128 + item.
  for (int i = 0; i < r->nwid && i < 128; i++) {
    const MnuWid* w = mnuwid(r, i);
    std::string t = mnutext(r, w->txtoff, w->txtlen);
    if (const size_t nl = t.find('\n'); nl != std::string::npos) t.resize(nl);
    if (t.compare(0, 2, "(-") == 0) t.clear();
    items.push_back(MbarItem{static_cast<uint32_t>(p * 128 + i), t});
    if (trcmsk & 16) jprintf(dbglun, " mnuItem %d: %d <%s>\n", i, p * 128 + i, t.c_str());
  }
  char title[16];
  std::memcpy(title, r->name, 16);
  title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
  mbaradd(p, title, items);
  drwmbar();
  return p;
}

int drwmbar() {
  mbardraw();
  return 0;
}

int rmvbar(int n) {
  MnuRec* r = mnurec(n);
  if (!r) return -1;
  // The position is freed, so that later menus still find one.
  const int p = r->barwin;
  if (p >= 1 && p <= NBAR && mbar[p] == n) {
    mbar[p] = 0;
    mbardel(p);
    drwmbar();
  }
  r->barwin = 0;
  return n;
}

// ---- Picks ---------------------------------------------------------------------------

int menuevent(int identifier, int, int modifiers) {
  const int pos = identifier / 128, item = identifier % 128;
  const int n = pos >= 1 && pos <= NBAR ? mbar[pos] : 0;
  const MnuRec* r = mnurec(n);
  const MnuWid* w = r ? mnuwid(r, item) : nullptr;
  if (w) {
    if (modifiers & MK_SHIFT) {
      if (trcmsk) jprintf(dbglun, "   HELP %s\n", mnutext(r, w->hlpoff, w->hlplen));
    } else if (w->cmdlen) {
      const char* cmd = mnutext(r, w->cmdoff, w->cmdlen);
      if (holdsw) {
        held = cmd;
        selitem = static_cast<int16_t>(item + 2);
        pushkey(128);
      } else {
        savcmd(cmd, 0, w->cmdlen, nullptr);
      }
      if (keylun >= 0) {
        char line[200];
        std::snprintf(line, sizeof line, "%s->'%s'", r->name, mnutext(r, w->txtoff, w->txtlen));
        logevt("Menu", 0, line, 0);
      }
    }
  }
  flushq();
  return 13;
}

const char* mnugo(int n, int key, int item, int* len) {
  if (len) *len = -1;
  const MnuRec* r = mnurec(n);
  if (!r || !r->active) return nullptr;
  if (key < 0) key = -key;
  if (helpsw || key == 130) key = '?';
  const MnuWid* w = nullptr;
  uint16_t off = 0, ln = 0;
  if (item == 0) {
    off = r->startoff, ln = r->startlen;
  } else if (item == 1) {
    off = r->stopoff, ln = r->stoplen;
  } else {
    w = mnuwid(r, item - 2);
    if (!w) return nullptr;
    if (key == '?')
      off = w->hlpoff, ln = w->hlplen;
    else
      off = w->cmdoff, ln = w->cmdlen;
  }
  looked = mnutext(r, off, ln);
  if (key == '?') {
    char up[16];
    for (int i = 0; i < 16; i++) up[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(r->name[i])));
    char head[80];
    std::snprintf(head, sizeof head, "Help for menu %s, Item %d\n\n", up, item);
    const std::string msg = head + looked;
    Alertb(msg.c_str(), "!OK", 0, "Menu help", nullptr, -1, -1, 0, 0);
    if (len) *len = static_cast<int>(looked.size());
    return looked.c_str();
  }
  if (key < 200 && !looked.empty()) {
    std::string t = looked;
    if (t.size() > 2 && t[t.size() - 2] == '!') {
      t.resize(t.size() - 2);
      mnuflg |= 0x80;
    } else {
      mnuflg &= static_cast<uint8_t>(~0x80);
    }
    if (trcmsk & 16)
      jprintf(dbglun, "(%d,%d,%d,%d,%ld,%d):\n%s\n", n, key, item, static_cast<int>(t.size()),
              static_cast<long>(off), holdsw, t.c_str());
    if (holdsw) {
      held = t;
      selitem = static_cast<int16_t>(item);
      pushkey(128);
    } else {
      queue(t);
    }
    if (w && keylun >= 0) {
      char line[200];
      std::snprintf(line, sizeof line, "%s_%d <%s>", r->name, item, mnutext(r, w->txtoff, w->txtlen));
      logevt("MnGo", 0, line, 0);
    }
    looked = t;
  }
  if (len) *len = static_cast<int>(looked.size());
  return looked.c_str();
}

const char* fncstr(int key, int run, int* len) {
  if (len) *len = 0;
  if (key == 128) {
    // The text the hold switch keeps, taken once.
    looked = held;
    held.clear();
    if (len) *len = static_cast<int>(looked.size());
    return looked.c_str();
  }
  int item = 0;
  if (key >= 187 && key <= 196)
    item = key - 184;
  else if (key == 155)
    item = 2;
  if (!item) return nullptr;
  // The last open key menu in table order.
  int m = 0;
  for (int n = NMENUS; n >= 1 && !m; n--)
    if (const MnuRec* r = mnurec(n); r && r->active && (r->kind & 15) == MK_KEY) m = n;
  if (!m) return nullptr;
  int l = 0;
  const char* t = mnugo(m, 999, item, &l);
  if (!t || l <= 0) return nullptr;
  if (len) *len = l;
  if (run >= 0) xeqstr(t, 0, l);
  return t;
}

bool keymenu() {
  for (int n = 1; n <= NMENUS; n++)
    if (const MnuRec* r = mnurec(n); r && r->active && (r->kind & 15) == MK_KEY) return true;
  return false;
}

int DowinCmd(int win, const EvtRec* evt, int key, int) {
  Wport* w = wport(win);
  if (!w) return 0;
  if (key == 130) {
    if (w->hlp > 0) Alertb(static_cast<const char*>(stkptr(w->hlp)), "!OK", 0, "Help", nullptr, -1, -1, 0, 0);
    return 0;
  }
  if (win != curwin && evt && evt->v < 0) {
    setwin(win);
    return 0;
  }
  if (w->cmd <= 0) return 0;
  const char* cmd = static_cast<const char*>(stkptr(w->cmd));
  if (!cmd || !*cmd) return 0;
  if (holdsw) {
    held = cmd;
    pushkey(128);
    return 0;
  }
  savcmd(cmd, 0, 0, nullptr);
  if (keylun >= 0) logevt("WCmd", 0, cmd, 0);
  return 13;
}

int itmstep(int key) {
  MnuRec* r = mnurec(curdlg);
  if (!r || curdlg > lastmnu || (key != 200 && key != 208)) return -1;
  int item = r->curitem + (key == 208 ? 1 : -1);
  if (item < 2) item = r->nwid - 1;
  if (item > r->nwid - 1) item = 2;
  r->curitem = static_cast<int16_t>(item);
  if (const int32_t dlg = dlgwinof(curdlg)) {
    (void)dlg;
  } else if (DlgWid* w = dlgwid(r, item - 1); w && r->drawn) {
    drwitem(w, r, 0);
  }
  return -1;
}

int mnunxt(int n, int step, int active) {
  const MnuRec* r = mnurec(n);
  if (!r || r->barwin < 1 || r->barwin > NBAR || mbar[r->barwin] != n) return 0;
  const int dir = step < 0 ? -1 : 1;
  int p = r->barwin;
  for (int k = 0; k < NBAR; k++) {
    p += dir;
    if (p > NBAR) p = 1;
    if (p < 1) p = NBAR;
    const MnuRec* o = mnurec(mbar[p]);
    if (o && mbar[p] != n && ((o->active != 0) == (active != 0))) return mbar[p];
  }
  return 0;
}

int waitsel() {
  curmnu = 4;
  int item = -1;
  for (;;) {
    const int k = getkey(0);
    if (state & 0x8180) break;
    if (k == 128) {
      item = selitem & 0xFF;
      break;
    }
  }
  curmnu = 0;
  return item;
}

int putmnu(int n) {
  if (trcmsk) jprintf(dbglun, "PUTMNU(%d)\n", n);
  return 0;
}

int mnupnd() {
  for (int n = 1; n <= NMENUS; n++)
    if (const MnuRec* r = mnurec(n); r && r->active && r->modal) return 1;
  return 0;
}

int mnufull() {
  error(0, E_FULL);
  return 0;
}

int nullmnu() { return 0; }
int shwpdlg(int n) { return mnurec(n) ? n : -1; }
int hidpdlg(int n) { return mnurec(n) ? n : -1; }

// ---- The menu command ---------------------------------------------------------------

int menucmd(int code) {
  // Menus whose texts open one another run on through the queue without
  // reading input: each menu command looks for a Ctrl-C (and the time-out)
  // first, so that such a loop ends between two of its steps.
  chkio(0);
  if (state & (ST_INTR | ST_STOP)) {
    pending.clear();
    return 0;
  }
  const int na = nargs();
  // The library is opened once here (load opens it for writing as it
  // stores), so that a bad one is reported once.
  if (code != 0 || na < 2 || argnum(2) != CM_LOAD) libopen(false);
  if (code != 0) {
    // The dispatcher's last resort: a word that names a menu opens it (and
    // closes it again when it is open).
    if (na != 1) return -1;
    std::string name;
    const int n = menuarg(1, true, &name);
    if (n <= 0) return -1;
    const MnuRec* r = mnurec(n);
    GeTMNu(n, r->active ? -1 : 1);
    state &= ~ST_ERROR;
    PuTBaR();
    return 0;
  }
  if (na < 2) {
    PuTBaR();
    return 0;
  }
  enum { OPEN, LOAD, FILEM, EDIT, CLOSE, BACK } mode = OPEN;
  int mcode = 1, wanted = 0, first = 3;
  bool modal = false;
  // The word tablet names a system variable: it is the mode word, not its
  // value.
  const int32_t kw = argnum(2);
  if (istablet(kw)) {
    wanted = MK_TABLET;
  } else if (numarg(2)) {
    const int k = intarg(2, 0);
    mcode = k;
    if (k == 0 || k == -1)
      mode = CLOSE;
    else if (k == -2)
      mode = BACK;
    else if (k >= 1 && k <= 9999)
      wanted = k;
  } else {
    char word[16] = {0};
    if (argtext(2, word, sizeof word) < 0) word[0] = 0;
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (kw == CM_LOAD) {
      mode = LOAD;
    } else if (kw == CM_FILE) {
      mode = FILEM;
    } else if (kw == CM_EDIT) {
      mode = EDIT;
    } else if (kw == FN_DIALOG) {
      wanted = MK_DIALOG;
    } else if (kw == FN_ADDRESS) {
      mcode = C_ADDRESS;
    } else if (std::strcmp(word, "function") == 0) {
      wanted = MK_KEY;
    } else if (std::strcmp(word, "tablet") == 0) {
      wanted = MK_TABLET;
    } else if (std::strcmp(word, "modal") == 0) {
      modal = true;
    } else {
      first = 2;
    }
  }
  if (mode == BACK) {
    const int n = lastmnu;
    const MnuRec* r = mnurec(n);
    const int prev = r ? r->prev : 0;
    if (r) GeTMNu(n, -99);
    if (prev) GeTMNu(prev, -99);
  }
  bool edited = false;
  // The names; none: the current dialog.
  const int last = mode == BACK ? first - 1 : std::max(na, first);
  for (int a = first; a <= last; a++) {
    if (state & 0x8180) break;
    const bool given = a <= na;
    std::string name;
    int n = given ? 0 : curdlg;
    if (given && numarg(a)) {
      n = intarg(a, 0);
      if (!mnurec(n)) n = 0;
    } else if (given) {
      char buf[264];
      if (argtext(a, buf, sizeof buf) < 1) continue;
      name = buf;
    }
    if (mode == LOAD) {
      if (name.empty()) continue;
      const std::string nm = mbase(name.c_str());
      const int m = ReadMenu(name.c_str(), wanted);
      if (m <= 0) continue;
      mnustor(m);
      frmnu(m, true);
      dropname(nm);
      continue;
    }
    if (mode == CLOSE) {
      if (!n && given && name.empty()) {
        // A number that names no menu.
        if (mcode == -1) error(a, E_NOTFOUND);
        continue;
      }
      if (!n && !name.empty()) {
        uint32_t pos = 0, size = 0;
        n = fndmnuname(mbase(name.c_str()).c_str(), &pos, &size);
        if (n < 0 && mcode == -1) error(a, E_NOTFOUND);
        if (n <= 0) continue;
      }
      if (n > 0) GeTMNu(n, mcode);
      continue;
    }
    // Opening.
    if (!n && !name.empty()) {
      const std::string nm = mbase(name.c_str());
      uint32_t pos = 0, size = 0;
      int found = mode == FILEM ? -1 : fndmnuname(nm.c_str(), &pos, &size);
      if (mode == FILEM) {
        // Read anew: a loaded menu of the name is closed and forgotten.
        for (int m = 1; m <= NMENUS; m++)
          if (const MnuRec* o = mnurec(m); o && o->active && o->name[0] && nm == o->name) GeTMNu(m, -99);
        dropname(nm);
      }
      if (found > 0) {
        const MnuRec* r = mnurec(found);
        // A text menu that is already open ends the command.
        if ((r->kind & 15) == MK_TEXT && r->active) break;
        n = found;
      } else if (found == 0) {
        n = rdmnu(pos, size);
      } else {
        n = ReadMenu(name.c_str(), wanted);
      }
      if (n <= 0) continue;
    }
    MnuRec* r = mnurec(n);
    if (!r) continue;
    if ((wanted & 15) > 0 && (r->kind & 15) != (wanted & 15)) {
      error(a, E_KIND);
      continue;
    }
    if (mode == EDIT) {
      edmnu = static_cast<int16_t>(n);
      edited = true;
    }
    if (modal && !r->active) {
      r->modal = 1;
      modals.push_back(static_cast<int16_t>(n));
      modctx(0x4000 | MODNEST);
    }
    GeTMNu(n, mcode);
  }
  // An error raised meanwhile does not stay in the status word.
  state &= ~ST_ERROR;
  PuTBaR();
  if (edited && wedstart) wedstart();
  return 0;
}

// ---- The menuitem function -------------------------------------------------------------

void* mnuitm(uint32_t* kind) {
  libopen(false);
  int n = 0;
  if (nargs() >= 2) {
    if (istablet(argnum(2))) {
      n = curtab;
    } else if (numarg(2)) {
      const int k = intarg(2, 0);
      n = k < 0 ? (-k <= NBAR ? mbar[-k] : 0) : (mnurec(k) ? k : 0);
    } else if (argnum(2) == FN_DIALOG) {
      n = curdlg;
    } else {
      char word[264];
      if (argtext(2, word, sizeof word) > 0) {
        std::string low = word;
        for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (low == "function") {
          n = curkey;
        } else if (low == "tablet") {
          n = curtab;
        } else {
          n = menuarg(2, true, nullptr);
        }
      }
    }
  }
  state &= ~ST_ERROR;
  const MnuRec* r = mnurec(n);
  const int item = intarg(3, -2);
  auto number = [&](float v) -> void* {
    auto* b = static_cast<float*>(getbuf(8));
    if (!b) return nullptr;
    *b = v;
    if (kind) *kind = K_NUMBER;
    optab[OT_RCNT] = 1;
    optab[OT_RWSZ] = W_FLOAT;
    return b;
  };
  if (!r) return number(static_cast<float>(mnulun > 0 ? mlibhdr(16) : 0));
  if (item == -2) return number(static_cast<float>(r->nwid));
  std::string t;
  if (item == -1) {
    t = r->name;
  } else if (item == 0) {
    t = mnutext(r, r->startoff, r->startlen);
  } else if (item == 1) {
    t = mnutext(r, r->stopoff, r->stoplen);
  } else if (const MnuWid* w = mnuwid(r, item - 2)) {
    t = mnutext(r, w->txtoff, w->txtlen);
  }
  auto* b = static_cast<char*>(getbuf(static_cast<int32_t>(t.size()) + 8));
  if (!b) return nullptr;
  std::memcpy(b, t.c_str(), t.size() + 1);
  if (kind) *kind = K_STRING;
  optab[OT_RCNT] = static_cast<int32_t>(t.size());
  optab[OT_RWSZ] = W_BYTE;
  return b;
}

void mnureset() {
  for (int n = 1; n <= NMENUS; n++) {
    if (!mnutab[n]) continue;
    if (mnutab[n]->active && (mnutab[n]->kind & 15) == MK_DIALOG) shwdlg(n, 0, 0);
    frmnu(n, true);
  }
  std::memset(mbar, 0, sizeof mbar);
  curkey = curtab = curdlg = lastmnu = edmnu = 0;
  holdsw = helpsw = selitem = 0;
  pending.clear();
  modals.clear();
  held.clear();
  mbarreset();
  alrtmnu = 0;
  alropen = 0;
}
