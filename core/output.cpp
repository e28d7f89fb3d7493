// Formatted output through numbered units, error reporting and tracing.
#include "core/output.h"
#include "lang/mainloop.h"

#include "core/args.h"
#include "core/memory.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "lang/help.h"
#include "lang/macro.h"
#include "lang/namehooks.h"
#include "realtime/devices/comport.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/window.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <string>

int16_t lstlun = 1, errlun = 1, jrnlun = -1, dbglun = 1, hlplun = -1;
int16_t loglun = -1, outlun = 1, prtlun = 4, fndlun = -1, keylun = -1;
int32_t tabs = 8;
FILE* logfp = nullptr;
int16_t pgcnt = 0;
int32_t jlnmsk = 0;
int32_t colmax = 0;
int32_t colrec = 0;
char colbuf[COLLEN + 1];
int16_t collen = 0;
int (*colhook)(const char*, int) = nullptr;

int tabwidth() {
  int t = tabs & 0xFF;
  if (t < 1) return 8;
  int w = 1;
  while (w * 2 <= t) w *= 2;
  return w;
}

namespace {
// One call's formatted text, of any length (file units take theirs
// through vfprintf): a local buffer, or the heap when it is longer.
class Text {
 public:
  Text(const char* fmt, va_list ap) {
    va_list cp;
    va_copy(cp, ap);
    int n = vsnprintf(local, sizeof local, fmt, cp);
    va_end(cp);
    if (n < 0) n = 0, local[0] = 0;  // a conversion the C library refuses
    const size_t want = static_cast<size_t>(n);
    p = local;
    len = std::min(static_cast<size_t>(n), sizeof local - 1);
    if (static_cast<size_t>(n) >= sizeof local) {
      heap = static_cast<char*>(malloc(want + 1));
      if (heap) {
        va_copy(cp, ap);
        vsnprintf(heap, want + 1, fmt, cp);
        va_end(cp);
        p = heap;
        len = want;
      }
    }
  }
  ~Text() { free(heap); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  const char* p;
  size_t len;

 private:
  char local[256];
  char* heap = nullptr;
};

bool terminal(int unit) { return unit == 1 || unit == 4; }

// The LOG unit when terminal output is copied to it, else 0.
int logcopy() { return loglun > 0 && !terminal(loglun) ? loglun : 0; }

// Text for units 50 and up goes character by character, up to a NUL.
void charout(int unit, const char* s, size_t len) {
  for (size_t i = 0; i < len && s[i]; i++) jputc(unit, static_cast<unsigned char>(s[i]));
}

// Writes text into the text output window: tabs expanded, lines ended by
// jline, wrapped at the window's width when trace bit 0x1 asks for it.
// A line is wrapped (or, without wrapping, cut at the row's end) while it
// is taken, so that no more than a row is held at a time.
void termout(const char* s, size_t len) {
  int32_t savmsk = trcmsk;
  trcmsk = 0;
  int prev = usewin(txtwin);
  int col = 0, row = 0;
  getcur(&col, &row);
  const TxtGrid* g = curgrid();
  const int width = g ? g->cols : 0;
  const bool wrap = (savmsk & 1) && width > 0;
  const int tw = tabwidth();
  std::string seg;
  size_t i = 0;
  while (i < len && !(state & ST_INTR)) {
    seg.clear();
    // Characters of this line that the row can still show.
    size_t keep = g ? static_cast<size_t>(std::max(0, g->rowlen - col)) : 0;
    int lcol = col;      // column of the line's first character
    size_t gone = 0;     // characters of the line already written
    for (; i < len && !(state & ST_INTR); i++) {
      char ch = s[i];
      if (ch == 0 || ch == '\n' || ch == '\r' || ch == '\f') break;
      if (ch == '\t') {
        int pos = lcol + static_cast<int>(gone + seg.size());
        seg.append(static_cast<size_t>(tw - (pos & (tw - 1))), ' ');
      } else {
        seg += ch;
      }
      if (!wrap) {
        if (seg.size() > keep) seg.resize(keep);
        continue;
      }
      while (col + static_cast<int>(seg.size()) > width && !(state & ST_INTR)) {
        // Break at the last blank within one line width of the first
        // character that does not fit; without one, at that character.
        // The character at the break begins the next line.
        int b = std::max(0, width - col);
        int k = b;
        for (int j = b; j >= 0 && j > b - width; j--) {
          if ((j > 0 || col > 0) && seg[static_cast<size_t>(j)] == ' ') {
            k = j;
            break;
          }
        }
        wintext(seg.data(), k);
        getcur(&col, &row);
        jline(row);
        seg.erase(0, static_cast<size_t>(k));
        gone += static_cast<size_t>(k);
        col = 0;
      }
    }
    if (state & ST_INTR) break;
    if (!seg.empty()) wintext(seg.data(), static_cast<int>(seg.size()));
    if (i >= len || s[i] == 0) break;
    char term = s[i++];
    getcur(&col, &row);
    if (term == '\f')
      jline(g ? g->orow + g->rows - 1 : row);
    else if (term == '\n')
      jline(row);
    else
      putcur(0, row);
    col = 0;
  }
  usewin(prev);
  trcmsk = savmsk;
}

// One run of text without BEL at the text cursor of the current window.
void winrun(const char* run, int m) {
  Wport* w = curport;
  TxtGrid* g = wgrid(w);
  char* b = gridbuf(g);
  int k = m;
  if (b) {
    int c = w->curcol + g->ocol;
    int r = w->currow + g->orow;
    k = std::min(m, g->rowlen - c);
    if (jdebug > 4)
      logprintf("wintext(%d) %d/%d (%d,%d) [%d,%d %d,%d] %d\n", m, k, g->rowlen, c, r, g->ocol,
                g->orow, g->cols, g->rows, curwin);
    if (k > 0 && c >= 0 && r >= 0 && r < g->nrows) {
      std::memcpy(b + static_cast<size_t>(r) * g->rowlen + c, run, static_cast<size_t>(k));
      w->curcol = static_cast<int16_t>(w->curcol + k);
      g->wpos = r * g->rowlen + c + k;
    }
    if (k < 0) k = 0;
  }
  gtext(run, k);
}

// The whole text of a row whose cells show only part of it (rowwhole).
std::string wholetext;
int wholerow = -1;
int wholewin = -1;

// The cells of the row under the text cursor of window 0 or 1 (null when
// there is none), with the cursor's place.
const char* cursorrow(int* len, int* col, int* row) {
  if (curwin != 0 && curwin != 1) return nullptr;
  const TxtGrid* g = curgrid();
  const char* b = gridbuf(g);
  if (!b) return nullptr;
  getcur(col, row);
  if (*row < 0 || *row >= g->nrows) return nullptr;
  *len = g->rowlen;
  return b + static_cast<size_t>(*row) * g->rowlen;
}

int trimmed(const char* p, int n) {
  while (n > 0 && p[n - 1] == ' ') n--;
  return n;
}

// Hands the row under the text cursor of window 0 or 1 to the backend: the
// row is finished.
void rowdone() {
  int n = 0, col, row = INT_MIN;
  const char* p = cursorrow(&n, &col, &row);
  if (row == INT_MIN) return;  // no text window under the cursor
  const bool whole = wholerow >= 0 && row == wholerow && curwin == wholewin;
  wholerow = -1;
  if (!p) return;
  if (whole) p = wholetext.data(), n = static_cast<int>(wholetext.size());
  backend()->rowout(curwin, p, trimmed(p, n));
}

// The command word table as registered by the parser.
const uint8_t* wtab = nullptr;
const int16_t* wamap = nullptr;
const int16_t* wnargs = nullptr;
const int16_t* wnwords = nullptr;

bool trcon(int mask) { return (trcmsk & mask) == mask && !(pflags & 1); }

int16_t i16at(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// One WORD entry's trace line.
void wrdline(const char* tag, int point, int index) {
  if (!wtab || index < 0 || index >= 42) {
    jprintf(dbglun, "%s %3d WORD(%d):\n", tag, point, index);
    return;
  }
  const uint8_t* e = wtab + 16 * index;
  int type = i16at(e), second = i16at(e + 2);
  int v1 = i16at(e + 4), v2 = i16at(e + 6);
  jprintf(dbglun, "%s %3d WORD(%d): %6d %3d ", tag, point, index, type, second);
  if (type == 18) {
    int32_t bits;
    std::memcpy(&bits, e + 8, 4);
    int wsc = i16at(e + 12);
    double v;
    if (wsc == 96) {
      float f;
      std::memcpy(&f, &bits, 4);
      v = f;
    } else {
      v = bits;
    }
    jprintf(dbglun, "%10.2f (%d)\n", v, wsc);
  } else if (type & 0x1000) {
    int32_t addr = static_cast<int32_t>((static_cast<uint32_t>(v1) & 0xFFFF) |
                                        (static_cast<uint32_t>(v2) << 16));
    jprintf(dbglun, "%9ld   %4d %4d %4d %4d\n", static_cast<long>(addr), i16at(e + 8), i16at(e + 10),
            i16at(e + 12), i16at(e + 14));
  } else if ((type & 32) || type == 1 || type == 16385) {
    jprintf(dbglun, "%4d %4d\t%3d %3d %3d %3d %3d %3d %3d %3d\n", v1, v2, e[8], e[9], e[10], e[11],
            e[12], e[13], e[14], e[15]);
  } else {
    jprintf(dbglun, "%4d %4d\t%4d %4d %4d %4d\n", v1, v2, i16at(e + 8), i16at(e + 10), i16at(e + 12),
            i16at(e + 14));
  }
}
}  // namespace

int vjprintf(int unit, const char* fmt, va_list ap) {
  if (unit < 0) unit = 1;
  if (unit == 1) {
    if (int lg = logcopy()) {
      va_list cp;
      va_copy(cp, ap);
      vjprintf(lg, fmt, cp);
      va_end(cp);
    }
  }
  if (unit < 50 && !terminal(unit)) {
    if (FILE* f = unitstream(unit)) {
      va_list cp;
      va_copy(cp, ap);
      errno = 0;
      vfprintf(f, fmt, cp);
      va_end(cp);
      if (unit == dbglun && unit > 1) fflush(f);
      if (ferror_unlocked(f)) unitfail(unit, errno);
    }
    return 0;
  }
  Text t(fmt, ap);
  if (unit >= 50)
    charout(unit, t.p, t.len);
  else
    termout(t.p, t.len);
  return 0;
}

int jprintf(int unit, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vjprintf(unit, fmt, ap);
  va_end(ap);
  return 0;
}

int jputc(int unit, int c) {
  if (unit < 0) unit = 1;
  if (terminal(unit)) {
    int prev = usewin(txtwin);
    if (c == '\n') {
      int col, row;
      getcur(&col, &row);
      jline(row);
    } else if (c != 0) {
      char ch = static_cast<char>(c);
      wintext(&ch, 1);
    }
    usewin(prev);
    if (unit == 1)
      if (int lg = logcopy()) jputc(lg, c);
    return 0;
  }
  if (unit == 99) {
    if (c == '\n') {
      if (colrec > 0 && lowstk && colrec + 1 < lstk.end) {
        int32_t count = static_cast<int32_t>(lowstk[colrec]);
        if (count < colmax && collect_line(colbuf, collen) == 0)
          lowstk[colrec] = static_cast<uint32_t>(count + 1);
      }
      collen = 0;
      colbuf[0] = 0;
    } else if (collen < COLLEN) {
      colbuf[collen++] = static_cast<char>(c);
      colbuf[collen] = 0;
    }
    return 0;
  }
  if (unit >= 100) {
    char ch = static_cast<char>(c);
    cwrite(unit - 100, &ch, 1);
    return 0;
  }
  if (unit < 50)
    if (FILE* f = unitstream(unit)) {
      errno = 0;
      if (fputc(c, f) == EOF && ferror_unlocked(f)) unitfail(unit, errno);
    }
  return 0;
}

int collect_line(const char* line, int n) {
  if (colhook) return colhook(line, n);
  if (colrec <= 0 || !lowstk || colrec + 1 >= lstk.end) return -1;
  int32_t count = static_cast<int32_t>(lowstk[colrec]);
  int32_t handle = static_cast<int32_t>(lowstk[colrec + 1]);
  PtrRec* r = ptrrec(handle);
  if (!r || count < 0) return -1;
  // The new element is the list's current element.
  r->XYZptr[0] = static_cast<uint32_t>(count);
  maklst(handle, n, count);
  if (n < 1) return 0;
  int32_t len = 0;
  uint8_t* p = lstptr(r, count, &len, 0);
  if (!p || len < 1) return -1;
  std::memcpy(p, line, static_cast<size_t>(std::min(len, n)));
  return 0;
}

void rowwhole(int row, const char* text, int n) {
  wholetext.assign(text ? text : "", static_cast<size_t>(text ? std::max(n, 0) : 0));
  wholerow = row;
  wholewin = curwin;
}

void rowend() {
  int n = 0, col = 0, row;
  const char* p = cursorrow(&n, &col, &row);
  if (p && col > 0 && trimmed(p, n) > 0) rowdone();
}

int jline(int row) {
  jlnmsk = trcmsk;
  trcmsk = 0;
  int key = getkey(0x901);
  if (key == 19) {  // Ctrl-S: hold until Ctrl-Q or Ctrl-C
    for (;;) {
      int k = getkey(0x800);
      if (k == 17 || k == 3 || k < 0) break;
    }
  } else if (key == 3) {
    state |= ST_INTR;
  } else if (key > 0 && (key < 129 || key > 143 || keytext)) {  // typed text is no click
    pushkey(key, keytext);
  }
  Wport* w = curport;
  const TxtGrid* g = wgrid(w);
  const int nrow = g ? g->rows : 1;
  const bool paging = (state & ST_LISTING) && !(pflags & 4) && backend()->paging();
  if (paging) {
    if (!(state & ST_PAGING)) {
      pgcnt = static_cast<int16_t>(nrow - 2);
      state |= ST_PAGING;
    }
    if (nrow < 7 && --pgcnt <= 0) {
      pgcnt = 1;
      waitky();
    }
  }
  rowdone();
  const int col0 = g ? g->ocol : 0;
  int next = row + 1;
  if (row >= (g ? g->orow : 0) + nrow - 1) {
    // The cursor goes to the last row first, so that scrolling moves the
    // rows above it (a form feed ends a line from any row).
    putcur(col0, (g ? g->orow : 0) + nrow - 1);
    scroll();
    next = (g ? g->orow : 0) + nrow - 1;
  }
  putcur(col0, next);
  if (paging && nrow - 1 >= 6 && --pgcnt <= 0) {
    pgcnt = static_cast<int16_t>(nrow - 1);
    curtxt(" More? ", 7, col0, next, 0);
    int a = yesno(-1);
    if (a == 8 || a == 9) pgcnt = 1;
    erstxt(curwin, col0, next, 7);
    putcur(col0, next);
  }
  trcmsk = jlnmsk;
  jlnmsk = 0;
  return next;
}

int jflush(int unit) {
  if (unit >= 0 && unit < 50)
    if (FILE* f = unitstream(unit)) {
      errno = 0;
      if (fflush(f) != 0) unitfail(unit, errno);
    }
  return 0;
}

int wintext(const char* text, int n) {
  if (!text) return 0;
  int i = 0;
  while (i < n) {
    int j = i;
    while (j < n && text[j] != 7) j++;
    if (j > i) winrun(text + i, j - i);
    if (j < n) {
      backend()->beep();
      j++;
    }
    i = j;
  }
  return 0;
}

int logprintf(const char* fmt, ...) {
  if (!logfp) return 0;
  va_list ap;
  va_start(ap, fmt);
  vfprintf(logfp, fmt, ap);
  va_end(ap);
  return 0;
}

int error(int arg, int code) { return errtxt(arg, code, nullptr); }

int errtxt(int arg, int code, const char* text) {
  if (jdebug && logfp) {
    logprintf("ERROR(%d,%d)\n", arg, code);
    fflush(logfp);
  }
  if (pflags & 0x1000) backend()->beep();
  if (!(pflags & 0x800)) {
    if (errlun == 1) cmdwin();
    trcint(280, "error", 0, state, trcmsk, errlun, code, pflags);
    if (errlun > 0) {
      jprintf(errlun, "ERROR %3d", code);
      if (arg > 0) jprintf(errlun, " (arg %d)", arg);
      jprintf(errlun, ":");
      int16_t savlun = lstlun;
      lstlun = errlun;
      // A negative code has no line of its own (a negative line would
      // print the whole topic).
      int r = -1;
      if (text) {
        jprintf(errlun, " %s\n", text);
        r = 1;
      } else if (code >= 0)
        r = prthlp(50, 0, code);
      lstlun = savlun;
      if (macmod)
        jprintf(errlun, "   on line %5d of %s\n", maclin, macnam());
      else if (r < 0)
        jprintf(errlun, "\n");
    }
  }
  trcint(280, "error", 50, state, trcmsk, errlun, code, pflags);
  state |= ST_ERROR;
  tlqclr();  // an error drops the lines typed ahead
  setres(code > 0 ? -code : code == 0 ? -1 : code, 0);
  return 0;
}

// ---- Tracing --------------------------------------------------------------

int trcint(int mask, const char* tag, int point, int a, int b, int c, int d, int e) {
  if (!trcon(mask)) return 0;
  jprintf(dbglun, "%s(%5d): %5d %5d %5d %5d %5d\n", tag, point, a, b, c, d, e);
  jflush(dbglun);
  return 0;
}

int trclng(int mask, const char* tag, int point, int a, int32_t b, int32_t c, int32_t d, int32_t e) {
  if (!trcon(mask)) return 0;
  jprintf(dbglun, "%s(%5d): %5d %8ld %8ld %8ld %8ld\n", tag, point, a, static_cast<long>(b),
          static_cast<long>(c), static_cast<long>(d), static_cast<long>(e));
  jflush(dbglun);
  return 0;
}

int trcarr(int mask, const char* tag, int point, int32_t addr, const int32_t* arr, int count) {
  if (!trcon(mask)) return 0;
  jprintf(dbglun, "%s(%5d) %d items at %8ld\n", tag, point, count, static_cast<long>(addr));
  for (int i = 0; arr && i < count; i += 6) {
    jprintf(dbglun, "\t");
    for (int j = i; j < count && j < i + 6; j++) jprintf(dbglun, " %8ld", static_cast<long>(arr[j]));
    jprintf(dbglun, "\n");
  }
  jflush(dbglun);
  return 0;
}

int trcstr(int mask, const char* tag, int point, const char* text, int value) {
  if (!trcon(mask)) return 0;
  if (!text) text = "";
  jprintf(dbglun, "%s(%5d) val=%5d\tlen=%3d:%s\n", tag, point, value,
          static_cast<int>(std::strlen(text)), text);
  jflush(dbglun);
  return 0;
}

int trcwrd(int mask, const char* tag, int point, int index) {
  if (!trcon(mask)) return 0;
  wrdline(tag, point, index);
  jflush(dbglun);
  return 0;
}

int trcptr(int mask, const char* tag, int point, int32_t ptr) {
  if (!trcon(mask)) return 0;
  jprintf(dbglun, "%s WORD(%d):   ", tag, point);
  int16_t savlun = lstlun;
  lstlun = dbglun;
  shoptr(ptrrec(ptr));
  lstlun = savlun;
  jflush(dbglun);
  return 0;
}

int trckey(int code) {
  jprintf(dbglun, "KEY = %d\n", code);
  int nargs = wnargs ? *wnargs : 0;
  for (int i = 1; wamap && i <= nargs; i++) jprintf(dbglun, "  ARG: %5d Word: %5d\n", i, wamap[i - 1]);
  int nwords = wnwords ? std::min<int>(*wnwords, 42) : 0;
  for (int i = 0; i < nwords; i++) wrdline("\t\t", i, i);
  jflush(dbglun);
  return 0;
}

int trcmat(int mask, const char* tag, int point, double value, const float* m9) {
  if (!trcon(mask)) return 0;
  jprintf(dbglun, "  %s (%d): %12.3f\n", tag, point, value);
  for (int r = 0; m9 && r < 3; r++)
    jprintf(dbglun, "\t%9.3f %9.3f %9.3f\n", m9[3 * r], m9[3 * r + 1], m9[3 * r + 2]);
  jflush(dbglun);
  return 0;
}

void trcwset(const uint8_t* words, const int16_t* argmap, const int16_t* nargs,
             const int16_t* nwords) {
  wtab = words;
  wamap = argmap;
  wnargs = nargs;
  wnwords = nwords;
}
