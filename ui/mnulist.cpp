// Listing menus (show menu) and writing a menu back as menu description
// text (show dialog).
#include "ui/menu.h"

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "files/dirutil.h"
#include "lang/maclib.h"
#include "ui/dialog.h"
#include "ui/platform/dlgwin.h"
#include "ui/screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
bool halted() { return (state & 0x8180) != 0; }

// A menu named by argument a (loaded, or loaded from the library or read
// from its file for the moment); *temp tells that it is to be released.
int namedmenu(int a, bool* temp, std::string* name) {
  *temp = false;
  char buf[264];
  if (argtext(a, buf, sizeof buf) < 1) {
    const int k = intarg(a, 0);
    if (mnurec(k)) return k;
    *name = std::to_string(k);
    return 0;
  }
  *name = buf;
  char nm[16];
  mnuname(buf, nm);
  uint32_t pos = 0, size = 0;
  libopen(false);
  const int n = fndmnuname(nm, &pos, &size);
  if (n > 0) return n;
  const uint32_t keep = state;
  const int m = n == 0 ? rdmnu(pos, size) : ReadMenu(buf, 0);
  state = (state & ~ST_ERROR) | (keep & ST_ERROR);
  if (m > 0) *temp = true;
  return m > 0 ? m : 0;
}

// Writes the lines of a text, each with a prefix (0: none).
void lines(const char* text, char prefix) {
  if (!text || !*text) return;
  const char* p = text;
  while (!halted()) {
    const char* e = std::strchr(p, '\n');
    const int n = e ? static_cast<int>(e - p) : static_cast<int>(std::strlen(p));
    if (prefix)
      jprintf(lstlun, "%c%.*s\n", prefix, n, p);
    else
      jprintf(lstlun, "%.*s\n", n, p);
    if (!e) break;
    p = e + 1;
  }
}

// Widths and heights are counted as x1 - x0 + 1; the written span is one
// less, so that reading it back (x1 = x0 + span) gives the same rectangle.
// A product truncated; one that is an integer but for the rounding of
// the factor (40 x 1.4) counts as that integer.
int scaled(double v, double f) {
  double p = v * f;
  const double r = std::nearbyint(p);
  if (std::fabs(p - r) <= 1e-9 * std::max(1.0, std::fabs(p))) p = r;
  return static_cast<int>(std::trunc(p));
}
int span(int32_t a, int32_t b, double f) { return scaled(static_cast<double>(b) - a + 1, f) - 1; }
int at(int32_t a, double f) { return scaled(a, f); }
// A scale factor as the user wrote it: the single-precision argument back
// to its shortest decimal.
double factor(float f) {
  char b[32];
  std::snprintf(b, sizeof b, "%.7g", static_cast<double>(f));
  return std::strtod(b, nullptr);
}
}  // namespace

int putqln(const char* text, char prefix, int length) {
  if (!text) return 0;
  std::string t(text, length > 0 ? std::min<size_t>(static_cast<size_t>(length), std::strlen(text)) : std::strlen(text));
  int n = 0;
  size_t p = 0;
  while (p <= t.size() && !halted()) {
    size_t e = t.find('\n', p);
    if (e == std::string::npos) e = t.size();
    jprintf(lstlun, "%c%s\n", prefix, t.substr(p, e - p).c_str());
    n++;
    p = e + 1;
  }
  return n;
}

int mnulist(const MnuRec* r, int unit, int longform) {
  if (!r) return -1;
  jprintf(unit, "Menu <%12.12s>  %d widgets  Bytes=%d  Pos: %d,%d  Size: %d x %d  Data:%ld\n", r->name, r->nwid,
          static_cast<int>(r->size), r->rect[0], r->rect[1], r->rect[2] - r->rect[0] + 1, r->rect[3] - r->rect[1] + 1,
          static_cast<long>(r->libpos));
  jprintf(unit, "  Start= %3d:%s\n  Stop=  %3d: %s\n", r->startlen, mnutext(r, r->startoff, r->startlen), r->stoplen,
          mnutext(r, r->stopoff, r->stoplen));
  jprintf(unit, "Wid# Flg    Txt       Cmd       Hlp\n");
  const bool dlg = (r->kind & 15) == MK_DIALOG;
  for (int i = 0; i < r->nwid && !halted(); i++) {
    const MnuWid* w = mnuwid(r, i);
    jprintf(unit, "%4d %3d %4d@%-4d %4d@%-4d %4d@%-4d", i, w->key, w->txtlen, w->txtoff, w->cmdlen, w->cmdoff, w->hlplen,
            w->hlpoff);
    if (dlg) {
      const DlgWid* d = dlgwid(r, i);
      jprintf(unit, " <%3d,%3d -> %3d,%3d>  %3d,%3d %3d", d->rect[0], d->rect[1], d->rect[2], d->rect[3],
              static_cast<int>(d->fg), static_cast<int>(d->bg), d->number);
    }
    if (longform) {
      jprintf(unit, "\n   Str:  %s\n", mnutext(r, w->txtoff, w->txtlen));
      jprintf(unit, "   Cmd:  %s\n", mnutext(r, w->cmdoff, w->cmdlen));
      jprintf(unit, "   Help: %s\n", mnutext(r, w->hlpoff, w->hlplen));
    } else {
      jprintf(unit, " %s\n", mnutext(r, w->txtoff, w->txtlen));
    }
  }
  return 0;
}

int shomnu() {
  jprintf(lstlun, "Menu flag= %d\n", curmnu | mnuflg << 8);
  if (nargs() >= 3) {
    bool temp = false;
    std::string name;
    const int n = namedmenu(3, &temp, &name);
    if (!n) {
      jprintf(errlun, "Menu %s not found\n", name.c_str());
      return 0;
    }
    mnulist(mnurec(n), lstlun, 1);
    if (temp) frmnu(n, true);
    return 0;
  }
  liblist(lstlun);
  jprintf(lstlun, "Incore Menus:\n");
  jprintf(lstlun, "Entry Name               Flag  Actv Itms  Prev Rsrc Port  Ptr  Addr\n");
  for (int n = 1; n <= NMENUS && !halted(); n++) {
    const MnuRec* r = mnurec(n);
    if (!r || !r->name[0]) continue;
    jprintf(lstlun, "%3d:  %-18.18s %3oo %4d %4d %4d %4d %5d %5d %9d\n", n, r->name, static_cast<unsigned>(r->kind),
            r->active, r->nwid, r->prev, static_cast<int>(r->libpos), r->barwin, static_cast<int>(r->data),
            static_cast<int>(r->size));
  }
  return 0;
}

int mnusave() {
  const int na = nargs();
  bool temp = false;
  std::string name;
  int n = 0;
  if (na >= 3) {
    n = namedmenu(3, &temp, &name);
  } else {
    n = curdlg ? curdlg : lastmnu;
    name = "dialog";
  }
  const MnuRec* r = mnurec(n);
  if (!r) {
    jprintf(errlun, "Menu %s not found\n", name.c_str());
    return 0;
  }
  const int flags = intarg(4, 0);
  const double sx = factor(fltarg(5, (flags & 2) ? 1.4f : 1.0f));
  const double sy = factor(fltarg(6, 1.0f));
  const double sh = factor(fltarg(7, (flags & 2) ? 0.9f : 1.0f));
  const int k = r->kind & 15;
  // Flag 1: the positions of a predefined dialog of the menu's name.
  std::vector<TmplItem> pre;
  if ((flags & 1) && k == MK_DIALOG) {
    std::vector<uint8_t> t;
    char path[264];
    int unit = -1;
    if (fserch(r->name, ".res", nullptr, path, &unit, 0x21) == 0) {
      closef(unit, 0);
      TmplInfo ti;
      if (rdpdlg(path, &t) == 0 && tmplparse(t.data(), t.size(), &ti)) pre = ti.items;
    }
  }
  if (k == MK_DIALOG) {
    jprintf(lstlun, "%% %d,%d %dx%d\n", at(r->rect[0], sx), at(r->rect[1], sy), span(r->rect[0], r->rect[2], sx),
            span(r->rect[1], r->rect[3], sy));
    lines(mnutext(r, r->startoff, r->startlen), 0);
    if (r->stoplen) {
      jprintf(lstlun, "\n)\n");
      lines(mnutext(r, r->stopoff, r->stoplen), 0);
    }
    for (int i = 0; i < r->nwid && !halted(); i++) {
      const DlgWid* w = dlgwid(r, i);
      // The empty widget of kind 0 that a header followed at once by an
      // empty line makes is that empty line: it is not written.
      if (i == 0 && w->kind == 0 && !w->txtlen && !w->cmdlen && !w->hlplen) continue;
      int32_t rc[4] = {w->rect[0], w->rect[1], w->rect[2], w->rect[3]};
      if (static_cast<size_t>(i) < pre.size()) {
        const TmplItem& it = pre[static_cast<size_t>(i)];
        rc[0] = dlu2px(it.x), rc[1] = dlu2py(it.y);
        rc[2] = rc[0] + dlu2px(it.cx) - 1, rc[3] = rc[1] + dlu2py(it.cy) - 1;
      }
      jprintf(lstlun, "\n%% %d,%d %dx%d %d\n", at(rc[0], sx), at(rc[1], sy), span(rc[0], rc[2], sx),
              span(rc[1], rc[3], sh), w->kind);
      if (w->txtlen) lines(mnutext(r, w->txtoff, w->txtlen), '"');
      lines(mnutext(r, w->cmdoff, w->cmdlen), 0);
      lines(mnutext(r, w->hlpoff, w->hlplen), '?');
    }
  } else {
    // Text and key menus: their items as they are read.
    bool sep = false;
    auto gap = [&] {
      if (sep) jprintf(lstlun, "\n");
      sep = true;
    };
    // The start and stop blocks; a key menu's come after its items, since
    // a block before the first item makes a text menu of the file.
    auto blocks = [&] {
      if (r->startlen) {
        gap();
        jprintf(lstlun, "(\n");
        lines(mnutext(r, r->startoff, r->startlen), 0);
      }
      if (r->stoplen) {
        gap();
        jprintf(lstlun, ")\n");
        lines(mnutext(r, r->stopoff, r->stoplen), 0);
      }
    };
    if (k != MK_KEY) blocks();
    for (int i = 0; i < r->nwid && !halted(); i++) {
      const MnuWid* w = mnuwid(r, i);
      gap();
      if (k == MK_KEY) {
        if (w->key == 0)
          jprintf(lstlun, "E\n");
        else if (w->key >= 1 && w->key <= 11)
          jprintf(lstlun, "F%d\n", w->key - 1);
        else if (w->key != 255)
          jprintf(lstlun, "M%d\n", w->key - 12);
        else
          jprintf(lstlun, "X\n");
      } else if (w->txtlen) {
        lines(mnutext(r, w->txtoff, w->txtlen), '"');
      } else {
        jprintf(lstlun, "\"\n");  // an empty text: a separator
      }
      lines(mnutext(r, w->cmdoff, w->cmdlen), 0);
      lines(mnutext(r, w->hlpoff, w->hlplen), '?');
    }
    if (k == MK_KEY) blocks();
  }
  if (temp) frmnu(n, true);
  return 0;
}
