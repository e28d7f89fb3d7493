// The full-screen text editor: the edit command, the key loop and its keys,
// the status-line prompt, the help pages and the end of an edit.
#include "ui/texted.h"
#include "ui/textedi.h"

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/dirutil.h"
#include "lang/help.h"
#include "lang/keywords.h"
#include "lang/maclib.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "ui/alert.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/menu.h"
#include "ui/screen.h"
#include "ui/sysserv.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int DEFLINES = 2000;
constexpr int E_NOFILE = 46;
constexpr int E_OPEN = 66;
constexpr int E_LONG = 131;
constexpr int E_OTHER = 132;  // another file while a changed edit is attached
constexpr int MAXFCOL = 32000;

std::string rtrim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == 0)) s.pop_back();
  return s;
}

int curline() { return edrec.first - 1 + edrec.currow; }
int curcol() { return edrec.fcol + eds.ccol; }

void modified() { edrec.flags |= ED_MODIFIED; }

// Puts the cursor on a line (from 0) and a column of it, scrolling so that
// both show: a line off the screen is centred (centre) or just brought in;
// a column off the screen stands half a window in (centre) or at the edge.
// The pending rows are folded first when the view moves; the screen is
// redrawn.
void edshow(int line, int col, bool centre) {
  EdRec& e = edrec;
  int first = e.first, fcol = e.fcol;
  const int ln1 = line + 1;
  if (ln1 < first || ln1 >= first + e.rows)
    first = std::max(1, centre ? ln1 - e.rows / 2 : (ln1 < first ? ln1 : ln1 - e.rows + 1));
  if (centre)
    fcol = col >= e.cols ? col - e.cols / 2 : 0;
  else if (col < fcol)
    fcol = col;
  else if (col >= fcol + e.cols)
    fcol = col - e.cols + 1;
  if (first != e.first || fcol != e.fcol) edmods();
  e.first = first;
  e.fcol = static_cast<int16_t>(std::min(fcol, MAXFCOL));
  e.currow = static_cast<int16_t>(ln1 - e.first);
  eds.ccol = col - e.fcol;
  edscrn(0);
}

void clearwin() {
  EdRec& e = edrec;
  for (int r = 0; r < e.rows; r++) edput(r, "", 0);
  const int prev = usewin(e.win);
  putcur(0, 0);
  usewin(prev);
  invalwin(winhwnd(e.win));
}

// ---- Keys ---------------------------------------------------------------------------

void down() {
  EdRec& e = edrec;
  if (e.currow < e.rows - 1) {
    e.currow++;
    return;
  }
  edmods();
  if (e.first + e.rows - 1 <= e.nlines) e.first++;
  edscrn(0);
}

void up() {
  EdRec& e = edrec;
  if (e.currow > 0) {
    e.currow--;
  } else if (e.first > 1) {
    edmods();
    e.first--;
    edscrn(0);
  }
}

void enter() {
  EdRec& e = edrec;
  if (edmods() < 0) return;
  const int line = curline();
  if (line >= e.nlines) {
    down();
    return;
  }
  const std::string t = edget(line);
  const size_t at = std::min<size_t>(static_cast<size_t>(curcol()), t.size());
  if (edins(line, t.substr(at)) < 0) return;
  edset(line, t.substr(0, at));
  modified();
  edshow(line + 1, 0, false);
}

void blockdel() {
  EdRec& e = edrec;
  int a = e.markln - 1, ac = e.markcol, b = curline(), bc = curcol();
  e.markln = 0;
  edblock = false;
  if (b < a || (b == a && bc < ac)) std::swap(a, b), std::swap(ac, bc);
  if (e.nlines == 0) return;
  a = std::min<int>(a, e.nlines - 1);
  b = std::min<int>(b, e.nlines - 1);
  std::string head = edget(a);
  head.resize(std::min(static_cast<size_t>(ac), head.size()));
  const std::string last = edget(b);
  const std::string tail = static_cast<size_t>(bc) < last.size() ? last.substr(static_cast<size_t>(bc)) : "";
  for (int i = b; i > a; i--) eddel(i);
  edset(a, head + tail);
  modified();
  edshow(a, static_cast<int>(head.size()), false);
}

void del() {
  EdRec& e = edrec;
  if (edmods() < 0) return;
  if (e.markln > 0) {
    blockdel();
    return;
  }
  const int line = curline();
  if (line >= e.nlines) return;
  const int lc = curcol();
  if (lc == 0 && line > 0) {
    // At column 0 the line joins the end of the previous one.
    const std::string prev = edget(line - 1), t = edget(line);
    eddel(line);
    if (edset(line - 1, prev + t) < 0) return;
    modified();
    edshow(line - 1, static_cast<int>(prev.size()), false);
    return;
  }
  // The rest of the line goes and the next line joins it.
  std::string t = edget(line);
  t.resize(std::min(static_cast<size_t>(lc), t.size()));
  if (line + 1 < e.nlines) {
    const std::string next = edget(line + 1);
    eddel(line + 1);
    t += next;
  }
  if (edset(line, t) < 0) return;
  modified();
  edscrn(0);
}

// F6: the word under the cursor and the blanks after it.
void delword() {
  EdRec& e = edrec;
  std::string reg = edregion(e.currow);
  const size_t c = static_cast<size_t>(eds.ccol), n = reg.size();
  if (c >= n) return;
  size_t s = c, t = c;
  if (reg[c] != ' ') {
    while (s > 0 && reg[s - 1] != ' ') s--;
    while (t < n && reg[t] != ' ') t++;
  }
  while (t < n && reg[t] == ' ') t++;
  reg.erase(s, t - s);
  eds.rows[static_cast<size_t>(e.currow)] = EdRow{true, reg};
  e.flags |= ED_ROWCHG;
  eds.ccol = static_cast<int>(s);
  edrowdraw(e.currow);
}

// F7: the line goes; the row shows the next one.
void delline() {
  EdRec& e = edrec;
  if (edmods() < 0) return;
  const int line = curline();
  if (line >= e.nlines) return;
  eddel(line);
  modified();
  eds.ccol = 0;
  edscrn(0);
}

// F4: copies the rectangle between the right-click corner and the cursor,
// or pastes the copied one at the cursor.
void paste() {
  EdRec& e = edrec;
  if (e.markln > 0) {
    e.markln = 0;
    edblock = false;
    msgbeep();
    return;
  }
  if (eds.sel) {
    if (edmods() < 0) return;
    eds.sel = false;
    const int l0 = std::min(eds.selln, curline()), l1 = std::max(eds.selln, curline());
    const int c0 = std::min(eds.selcol, curcol()), c1 = std::max(eds.selcol, curcol());
    // Width and height are bytes of the buffer's head.
    const int w = std::min(c1 - c0 + 1, 255), h = std::min(l1 - l0 + 1, 255);
    xfree(e.pastebuf);
    e.pastesz = static_cast<int16_t>(std::min(w * h * 2 + 2, 32767));
    e.pastebuf = static_cast<uint8_t*>(xcalloc(static_cast<size_t>(w) * h * 2 + 2, 1));
    e.paste = 0;
    if (!e.pastebuf) return;
    e.pastebuf[0] = static_cast<uint8_t>(w);
    e.pastebuf[1] = static_cast<uint8_t>(h);
    for (int y = 0; y < h; y++) {
      const std::string t = edget(l0 + y);
      for (int x = 0; x < w; x++) {
        const size_t at = static_cast<size_t>(c0 + x);
        const char ch = at < t.size() && t[at] ? t[at] : ' ';
        e.pastebuf[2 + (y * w + x) * 2] = static_cast<uint8_t>(ch);
      }
    }
    e.paste = 1;
    return;
  }
  if (e.paste != 1 || !e.pastebuf) return;
  // The rectangle goes into the lines themselves, from the cursor's line
  // and column on, cell over cell: a line shorter than the column is
  // filled with blanks first. Lines past the end of the text are added up
  // to the last rectangle row that holds more than blanks.
  if (edmods() < 0) return;
  const int w = e.pastebuf[0], h = e.pastebuf[1];
  const int line = curline();
  const size_t col = static_cast<size_t>(curcol());
  for (int y = 0; y < h; y++) {
    std::string cells(static_cast<size_t>(w), ' ');
    for (int x = 0; x < w; x++) cells[static_cast<size_t>(x)] = static_cast<char>(e.pastebuf[2 + (y * w + x) * 2]);
    const int ln = line + y;
    if (ln >= e.nlines) {
      if (rtrim(cells).empty()) continue;
      bool added = true;
      while (added && e.nlines <= ln) added = edins(e.nlines - 1, std::string()) == 0;
      if (!added) break;
    }
    std::string t = edget(ln);
    const size_t had = t.size();
    if (t.size() < col + cells.size()) t.resize(col + cells.size(), ' ');
    t.replace(col, cells.size(), cells);
    // Blanks the rectangle brought past the line's old end are not kept.
    while (t.size() > had && t.back() == ' ') t.pop_back();
    if (edset(ln, t) < 0) break;
    modified();
  }
  edscrn(0);
}

// Searches for the search text from the cursor, forward (dir > 0) or
// backward; not found: a beep.
void search(int dir) {
  EdRec& e = edrec;
  if (edmods() < 0) return;
  const size_t n = strnlen(e.search, sizeof e.search);
  if (!(e.flags & ED_SEARCH) || n == 0 || e.used < n) {
    msgbeep();
    return;
  }
  const int line = curline();
  const int64_t pos = line < e.nlines
                          ? e.ltab[line].off + std::min<int64_t>(curcol(), e.ltab[line].len)
                          : static_cast<int64_t>(e.used);
  const int64_t lastpos = static_cast<int64_t>(e.used - n);
  int64_t found = -1;
  if (dir > 0) {
    for (int64_t p = pos + 1; p <= lastpos;) {
      const void* q = std::memchr(e.text + p, e.search[0], static_cast<size_t>(lastpos - p + 1));
      if (!q) break;
      const int64_t c = static_cast<const char*>(q) - e.text;
      if (std::memcmp(e.text + c, e.search, n) == 0) {
        found = c;
        break;
      }
      p = c + 1;
    }
  } else {
    for (int64_t p = std::min(pos - 1, lastpos); p >= 0; p--)
      if (e.text[p] == e.search[0] && std::memcmp(e.text + p, e.search, n) == 0) {
        found = p;
        break;
      }
  }
  if (found < 0) {
    msgbeep();
    return;
  }
  const int at = edfind(static_cast<uint32_t>(found));
  edshow(at, static_cast<int>(found - e.ltab[at].off), true);
}

// F2: the search text, and after F3 the substitution text.
void asksearch() {
  EdRec& e = edrec;
  int k = edmsg("Enter Search string:", 20, 0);
  if (k == 0) return;
  std::snprintf(e.search, sizeof e.search, "%s", edrow);
  e.flags |= ED_SEARCH;
  if (k == 189) {
    k = edmsg("Enter Subst string:", 19, 0);
    std::snprintf(e.subst, sizeof e.subst, "%s", k ? edrow : "");
    if (k)
      e.flags |= ED_SUBST;
    else
      e.flags &= static_cast<uint16_t>(~ED_SUBST);
  }
  if (k == 206) search(1);
  if (k == 202 || k == 188) search(-1);
}

// F3: the search text at the cursor is replaced by the substitution text.
void subst() {
  EdRec& e = edrec;
  if ((e.flags & (ED_SEARCH | ED_SUBST)) != (ED_SEARCH | ED_SUBST)) return;
  if (edmods() < 0) return;
  const int line = curline();
  const std::string s = e.search, r = e.subst;
  std::string t = edget(line);
  const size_t lc = static_cast<size_t>(curcol());
  if (line >= e.nlines || lc + s.size() > t.size() || t.compare(lc, s.size(), s) != 0) {
    msgbeep();
    return;
  }
  t.replace(lc, s.size(), r);
  if (edset(line, t) < 0) return;
  modified();
  edshow(line, static_cast<int>(lc + r.size()), false);
}

void jump() {
  EdRec& e = edrec;
  int n = edmsg("Jump to Line:", 13, 1);
  if (n == -100)
    n = e.nlines;
  else if (n == 0)
    n = 1;
  else if (n < 0)
    return;
  n = std::clamp<int>(n, 1, std::max<int>(1, e.nlines));
  edmods();
  edshow(n - 1, 0, true);
}

void save() {
  if (edmods() < 0) return;
  if (eds.trunc)
    error(0, E_LONG);  // only the first lines are here: the file stays as it is
  else
    ewrite();
  state &= ~ST_ERROR;  // the edit goes on
}

void page(int dir) {
  EdRec& e = edrec;
  edmods();
  const int maxfirst = std::max(1, e.nlines - e.rows + 1);
  int f = e.first + dir * e.rows;
  f = dir > 0 ? std::min(f, std::max<int>(e.first, maxfirst)) : std::max(f, 1);
  e.first = f;
  edscrn(0);
}

void endkey() {
  EdRec& e = edrec;
  const int line = curline();
  const EdRow& row = eds.rows[static_cast<size_t>(e.currow)];
  const std::string full = row.on ? edfold(line, row.text) : edget(line);
  edshow(line, static_cast<int>(rtrim(full).size()), false);
}

// Left and right: one column, scrolling sideways at the edges.
void side(int dir) {
  EdRec& e = edrec;
  const int c = eds.ccol + dir;
  if (c >= 0 && c < e.cols) {
    eds.ccol = c;
    return;
  }
  if ((dir < 0 && e.fcol == 0) || (dir > 0 && e.fcol >= MAXFCOL)) return;
  edmods();
  e.fcol = static_cast<int16_t>(e.fcol + dir);
  edscrn(0);
}

void edkey(int k) {
  EdRec& e = edrec;
  switch (k) {
    case 13: enter(); break;
    case 200: up(); break;
    case 208: down(); break;
    case 155:  // Esc: the pending changes go
      for (auto& r : eds.rows) r.on = false;
      e.flags &= static_cast<uint16_t>(~ED_PENDING);
      edscrn(0);
      break;
    case 187: edhelp(0); break;
    case 188: asksearch(); break;
    case 189: subst(); break;
    case 202: search(-1); break;
    case 206: search(1); break;
    case 190: paste(); break;
    case 191:  // F5: the block mark
      if (e.markln > 0) {
        e.markln = 0;
      } else {
        e.markln = curline() + 1;
        e.markcol = static_cast<int16_t>(curcol());
      }
      break;
    case 192: delword(); break;
    case 193: delline(); break;
    case 211: del(); break;
    case 194: jump(); break;
    case 195: save(); break;
    case 199:
      if (e.fcol > 0) {
        edmods();
        e.fcol = 0;
        edscrn(0);
      }
      eds.ccol = 0;
      break;
    case 201: page(-1); break;
    case 209: page(1); break;
    case 203: side(-1); break;
    case 205: side(1); break;
    case 207: endkey(); break;
    case 210: insmod = !insmod; break;
    case 242: jprintf(1, "Print text\n"); break;
    case -1:
    case 0:
    case 129:
    case 130:
    case 137:
    case 138:
    case 183: break;
    default:
      if (trcmsk) msgbeep();
      break;
  }
}

// One turn of the loop: the cursor row goes to the line editor. Returns the
// key it gave back (0 none, -1 the line was abandoned).
int edturn() {
  EdRec& e = edrec;
  e.currow = static_cast<int16_t>(std::clamp<int>(e.currow, 0, e.rows - 1));
  eds.ccol = std::clamp(eds.ccol, 0, e.cols - 1);
  const int row = e.currow, line = curline();
  // The row buffer holds LINBUF - 1 characters and the NUL: a pending row
  // that ran longer is folded back first, and nothing past the buffer is
  // ever handed over.
  if (edregion(row).size() > static_cast<size_t>(LINBUF - 1)) edmods();
  std::string orig = edregion(row);
  if (orig.size() > static_cast<size_t>(LINBUF - 1)) orig.resize(static_cast<size_t>(LINBUF - 1));
  std::string reg = orig;
  if (reg.size() < static_cast<size_t>(eds.ccol)) reg.resize(static_cast<size_t>(eds.ccol), ' ');
  reg.resize(std::min(reg.size(), static_cast<size_t>(LINBUF - 1)));
  std::memcpy(edrow, reg.c_str(), reg.size() + 1);
  if (curwin != e.win) setwin(e.win);
  putcur(eds.ccol, row);
  edblock = e.markln > 0;
  int k = rdkeys(edrow, 0, static_cast<int>(reg.size()), LINBUF);
  const std::string now(edrow);
  const bool changed = edtail(line) ? now != orig : rtrim(now) != rtrim(orig);
  if (changed) {
    eds.rows[static_cast<size_t>(row)] = EdRow{true, now};
    e.flags |= ED_ROWCHG;
  }
  eds.ccol = edcol;
  k = k >= 0x100 ? k - 0x100 : -1;
  if (k == 155 && keymsg != WM_CHAR) k = 0;  // Esc counts once: as the character
  // A row the line editor cannot take further is folded at once.
  if (changed && static_cast<int>(now.size()) >= LINBUF - 1) edmods();
  if ((k == 129 || k == 130 || k == 137 || k == 138) && curwin == e.win) {
    // A click puts the cursor on the cell under it; the right button also
    // sets the corner of a rectangle for F4.
    const Wport* w = wport(e.win);
    const int cw = w && w->chwid ? w->chwid : 8, ch = w && w->chhgt ? w->chhgt : 16;
    e.currow = static_cast<int16_t>(std::clamp(cury / ch, 0, e.rows - 1));
    eds.ccol = std::clamp(curx / cw, 0, e.cols - 1);
    if (k == 130 || k == 138) {
      eds.sel = true;
      eds.selln = curline();
      eds.selcol = curcol();
    }
  }
  if (eds.ccol >= e.cols) {
    // The cursor went past the last column: the view follows.
    edmods();
    e.fcol = static_cast<int16_t>(std::min(e.fcol + eds.ccol - e.cols + 1, MAXFCOL));
    eds.ccol = e.cols - 1;
    edscrn(0);
  }
  return k;
}

// The help pages' word: a command word's code, a system variable's code +
// 1000, a help topic's index as -(index + 1); 0 for none.
int helpword(const char* word) {
  int len = static_cast<int>(std::strlen(word));
  const int code = cmdlook(word, &len);
  if (code > 0) return code;
  len = static_cast<int>(std::strlen(word));
  const int sv = lookup(word, &len, sysnam, NSYSVAR, 0);
  if (sv > 0) return 1000 + SVBASE + sv;
  std::string low(word);
  for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const int t = fndhlp(low.c_str());
  return t >= 0 ? -(t + 1) : 0;
}
}  // namespace

// ---- The command ---------------------------------------------------------------------------

int edit() {
  EdRec& e = edrec;
  const int na = nargs();
  char name[UNIT_NAMELEN] = "";
  float v = 0;
  int len = 0;
  int kind = na >= 2 ? getarg(2, &v, name, sizeof name, &len) : 0;
  const bool attached = (e.flags & ED_FILE) && e.text;
  bool resume = false;
  if (na < 2) {
    if (attached) {
      resume = true;
    } else {
      len = browse(name, 0, nullptr);
      if (len < 1) {
        if (!macmod) error(2, E_NOFILE);
        return 0;
      }
      kind = K_STRING;
    }
  }
  if (!resume && !(kind & K_STRING)) {
    // A variable: data or small-element mode, which no key loop serves.
    if (attached && (e.flags & ED_MODIFIED)) {
      error(2, E_OTHER);
      return 0;
    }
    int32_t h = 0;
    argtyp(2, &h);
    const PtrRec* p = h ? ptrrec(h) : nullptr;
    edreset();
    if (p && (p->Flg & (K_IMAGE | K_SOLID)))
      e.flags = (p->Wsiz & 63) <= 8 ? ED_SMALL : 0;
    else
      e.flags = ED_DATA;
    if (p) eds.var = *p;
    return 1;
  }
  if (!resume) {
    // The file as named, else along the path with ".imp".
    std::string found = name;
    int unit = openf(name, UM_RDONLY | UM_TEXT, 0);
    if (unit < 0) {
      char path[300];
      if (fserch(name, ".imp", nullptr, path, &unit, UM_RDONLY | UM_TEXT) == 0)
        found = path;
      else
        unit = -1;
    }
    if (unit < 0 && attached && (e.flags & ED_MODIFIED)) {
      error(2, E_OTHER);  // a new file is never the one attached
      return 0;
    }
    if (unit < 0) {
      char msg[UNIT_NAMELEN + 64];
      std::snprintf(msg, sizeof msg, "File '%s' not found -- create new?\n", name);
      if (Alertb(msg, "!Yes;No", 0, nullptr, nullptr, -1, -1, 0, 0) != 1) return 0;
      char made[300];
      mkfnam(name, ".imp", "", made);
      const int u = openf(made, UM_CREATE | UM_TEXT, 0);
      if (u < 0) {
        error(2, E_OPEN);
        return 0;
      }
      closef(u, 0);
      unit = openf(made, UM_RDONLY | UM_TEXT, 0);
      if (unit < 0) {
        error(2, E_OPEN);
        return 0;
      }
      found = made;
    }
    PtrRec nv{};
    nv.Flg = K_STRING | K_FILE;
    if (attached && samfil(&nv, found.c_str(), &eds.var, eds.fname.c_str())) {
      // The file still attached: its kept buffer and modified bit go on.
      closef(unit, 0);
      resume = true;
    } else if (attached && (e.flags & ED_MODIFIED)) {
      closef(unit, 0);
      error(2, E_OTHER);
      return 0;
    } else {
      edreset();
      const int32_t lines = na >= 3 ? lngarg(3, DEFLINES) : DEFLINES;
      e.maxln = static_cast<uint16_t>(lines < 1 ? DEFLINES : std::min<int32_t>(lines, 65535));
      if (eread(unit) < 0) return 0;
      eds.fname = found;
      eds.var = nv;
    }
  }
  // The function keys belong to the editor while it runs.
  e.savkey = curkey;
  curkey = 0;
  return 1;
}

// ---- The key loop ------------------------------------------------------------------------------

int edtext() {
  EdRec& e = edrec;
  if (!(e.flags & ED_TEXT) || (e.flags & ED_SMALL) || !e.text) return 0;
  Wport* w = wport(1);
  TxtGrid* g = wgrid(w);
  if (!w || !g || !gridbuf(g)) return 0;
  e.win = 1;
  if (w->status & 8) e.iconic = 1;
  settitle(wpwrec(w), eds.fname.c_str());
  setwin(1);
  g->ocol = g->orow = 0;
  e.rows = static_cast<int16_t>(std::max(1, std::min<int>(g->rows, g->nrows)));
  // A row hands the line editor the columns it shows and as many again
  // for insertions: a wider window shows its first (LINBUF - 1) / 2.
  e.cols = static_cast<int16_t>(std::max(2, std::min<int>({g->cols, g->rowlen, (LINBUF - 1) / 2})));
  e.defwid = e.cols;
  eds.rows.assign(static_cast<size_t>(e.rows), EdRow{});
  e.flags &= static_cast<uint16_t>(~ED_PENDING);
  state |= ST_EDITOR;
  e.currow = 0;
  eds.ccol = 0;
  if (e.first < 1) e.first = 1;
  edscrn(0);
  for (;;) {
    if (state & 0x8180) {
      eddone(1);
      break;
    }
    if ((state & ST_ALARMS) && alarmck(0) != 0) {
      eddone(1);
      break;
    }
    const int k = edturn();
    if (!(state & ST_EDITOR)) break;
    if (k == 196) {
      if (eddone(0)) break;
      continue;
    }
    edkey(k);
  }
  return 0;
}

int edmsg(const char* text, int length, int mode) {
  EdRec& e = edrec;
  const int row = e.rows - 1;
  const int scol = std::clamp(length, 0, e.cols - 2);
  std::snprintf(e.status, sizeof e.status, "%.*s", scol, text ? text : "");
  edput(row, e.status, scol);
  edrow[0] = 0;
  const bool blk = edblock;
  edblock = false;
  int key = 0, cur = 0;
  for (;;) {
    const int prev = usewin(e.win);
    putcur(scol + cur, row);
    usewin(prev);
    const int k = rdkeys(edrow, scol, static_cast<int>(std::strlen(edrow)), sizeof e.search);
    cur = edcol;
    if (k == 0) {
      key = 155;  // Ctrl-C or Ctrl-E: the answer is dropped
      break;
    }
    key = k - 0x100;
    if (key == 155 && keymsg != WM_CHAR) continue;  // Esc counts once: as the character
    const int n = static_cast<int>(std::strlen(edrow));
    if (key == 203) cur = std::max(0, cur - 1);
    if (key == 205) cur = std::min(n, cur + 1);
    if (key == 199) cur = 0;
    if (key == 207) cur = n;
    if (key == 13 || key == 155) break;
    if (mode == 0 && (key == 188 || key == 189 || key == 202 || key == 206)) break;
  }
  edblock = blk;
  edrowdraw(row);
  if (key == 155) {
    edrow[0] = 0;
    return mode == 1 ? -1 : 0;
  }
  if (edlen(edrow, static_cast<int>(std::strlen(edrow))) == 0) return 0;
  if (mode == 1) return static_cast<int>(std::strtol(edrow, nullptr, 10));
  return key;
}

int edhelp(int mode) {
  EdRec& e = edrec;
  hlpkey(-1, nullptr);  // the help file's table
  const char* topic = mode < 0 ? "editgraph"
                      : (e.flags & ED_TEXT) ? "edithelp"
                      : (e.flags & ED_DATA) ? "editdata"
                                            : "editscreen";
  const int t = fndhlp(topic);
  int key = t >= 0 ? -(t + 1) : -(nhelp + 1);
  int pmode = mode;
  const int32_t savmsk = trcmsk;
  const int16_t savtxt = txtwin, savlst = lstlun;
  for (int pass = 0; pass < 100 && !(state & 0x8180); pass++) {
    clearwin();
    trcmsk = 0;
    txtwin = e.win;
    lstlun = 1;
    if (pmode == 2)
      edlist();
    else if (prthlp(key, 1, -1) < 0)
      jprintf(1, "No help for: %s\n", topic);
    trcmsk = savmsk;
    if (mode < 0 || !(e.flags & ED_TEXT)) {
      waitky();
      break;
    }
    // A word: the help page of a command word or system variable next.
    char word[82] = "";
    state &= ~ST_EDITOR;
    const int n = rdkeys(word, 0, 0, sizeof word);
    state |= ST_EDITOR;
    // Esc comes back as a key code (155 + 0x100), not a length: it leaves
    // as an empty word does.
    if (n <= 0 || n >= static_cast<int>(sizeof word) || edlen(word, n) == 0) break;
    word[edlen(word, n)] = 0;
    pmode = std::strcmp(word, "edlist") == 0 ? 2 : 0;
    const int k = pmode == 2 ? 0 : helpword(word);
    jprintf(dbglun, "  rdk: <%s> %d,%d,%d\n", word, k, n, pass);
    if (pmode == 0 && k == 0) {
      jprintf(1, "No help for: %s\n", word);
      waitky();
      continue;
    }
    if (k) key = k;
  }
  trcmsk = savmsk;
  txtwin = savtxt;
  lstlun = savlst;
  edscrn(0);
  return 0;
}

// ---- The end -------------------------------------------------------------------------------------

int eddone(int abort) {
  EdRec& e = edrec;
  if ((e.flags & ED_TEXT) && !(e.flags & ED_SMALL) && edmods() < 0) abort = 1;
  if (!abort) {
    if (e.flags & ED_MODIFIED) {
      clearwin();
      const int b = Alertb("Save changes?\n", "!Save;Cancel;Discard", 0, nullptr, nullptr, -1, -1, 0, 0);
      if (b == 1 && eds.trunc) {
        error(0, E_LONG);  // the file stays whole: the edit goes on
        state &= ~ST_ERROR;
        edscrn(0);
        return 0;
      }
      if (b == 1 && ewrite() < 0) {
        state &= ~ST_ERROR;
        edscrn(0);
        return 0;
      }
      if (b == 3) e.flags = 0;
      if (b != 1 && b != 3) {
        if (state & 0x8180) return eddone(1);
        edscrn(0);
        return 0;
      }
    }
    xfree(e.pastebuf);
    e.pastebuf = nullptr;
    e.paste = 0;
    if (!(e.flags & ED_MODIFIED)) e.flags = 0;
    if (!(e.flags & ED_FILE)) {
      edfree();
      if (Wport* w = wport(e.win)) {
        settitle(wpwrec(w), "Text");
        if (e.iconic) iconwin(w);
      }
      e.iconic = 0;
      eds.var = PtrRec{};
    }
  }
  // The key menu comes back and the command window takes the focus; an
  // aborted edit keeps its buffers for the next edit of its file.
  curkey = e.savkey;
  edblock = false;
  setwin(0);
  if (!abort) PuTBaR();
  state &= ~ST_EDITOR;
  return 1;
}
