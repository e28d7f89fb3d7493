// The command-line editor rdkeys, and the pointer flag and keyboard point
// picking of the cursor routines.
#include "ui/editor.h"

#include "core/output.h"
#include "core/state.h"
#include "lang/alarm.h"
#include "lang/mainloop.h"
#include "lang/parse.h"
#include "compute/fnsvc.h"
#include "core/typecmd.h"
#include "graphics/views.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/keymenu.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/platform/backend.h"
#include "ui/platform/clock.h"
#include "ui/platform/console.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <cstring>
#include <string>

bool insmod = true;
bool edblock = false;
int edcol = 0;

namespace {
int showcnt = 0;  // display count of the system pointer

// The line being edited and how it stands on the screen.
struct Line {
  char text[LINBUF + 1];
  int len = 0;    // characters in the line
  int cur = 0;    // insertion point
  int lim = 0;    // most characters
  int scol = 0;   // screen column of the line's start
  int row = 0;    // buffer row
  int avail = 1;  // cells the line may take on the row
  int off = 0;    // first character shown
  int shown = 0;  // characters shown at the last redraw
  bool fixed = false;  // editor mode: the row shows the line from its start, never slid

  void clear() {
    len = cur = 0;
    text[0] = 0;
  }
  void del(int at) {
    if (at < 0 || at >= len) return;
    std::memmove(text + at, text + at + 1, static_cast<size_t>(len - at));
    len--;
  }
  // A printable character at the cursor: appended at the end, else
  // inserted or written over.
  void put(char c) {
    if (cur < len && !insmod) {
      text[cur++] = c;
      return;
    }
    if (len >= lim) return;
    std::memmove(text + cur + 1, text + cur, static_cast<size_t>(len - cur + 1));
    text[cur++] = c;
    len++;
  }
  // Draws the shown part from the start column, the caret after the cursor.
  // A line longer than the row slides so that the cursor stays in view.
  void draw() {
    text[len] = 0;
    if (fixed) {
      const int n = std::min(len, avail);
      if (n > 0)
        curtxt(text, n, scol, row, std::min(cur, avail - 1) + 1);
      if (shown > n) erstxt(curwin, scol + n, row, shown - n);
      shown = n;
      putcur(scol + std::min(cur, avail - 1), row);
      return;
    }
    if (cur < off) off = cur;
    if (cur - off > avail - 1) off = cur - (avail - 1);
    if (off > 0 && len - off < avail - 1) off = std::max(0, len - (avail - 1));
    int n = std::min(len - off, avail);
    if (n > 0)
      curtxt(text + off, n, scol, row, cur - off + 1);
    else
      putcur(scol, row);
    if (shown > n) erstxt(curwin, scol + n, row, shown - n);
    shown = n;
    putcur(scol + cur - off, row);
  }
  // The line of the history the recall moved to (in linbuf).
  void recall(int mode) {
    int n = Histry(mode, 0, 0);
    clear();
    if (n > 0) {
      n = std::min<int>({n, lim, static_cast<int>(strnlen(linbuf, LINBUF))});
      std::memcpy(text, linbuf, static_cast<size_t>(n));
      len = n;
    }
    text[len] = 0;
    cur = len;
  }
};
// The line rdkeys reads outside editor mode, for lnoff and lnon: the line,
// its window, the column its row starts at, and the text before the line
// on the row (the prompt).
struct Held {
  Line* ln = nullptr;
  int win = 0;
  int col0 = 0;
  std::string head;
};
Held held;

// Keeps the line as the one held while rdkeys runs.
struct HoldLine {
  Held saved;
  HoldLine(Line* ln, int col0, const std::string& head) : saved(held) { held = {ln, curwin, col0, head}; }
  ~HoldLine() { held = saved; }
  HoldLine(const HoldLine&) = delete;
  HoldLine& operator=(const HoldLine&) = delete;
};
}  // namespace

void lnoff() {
  if (!held.ln) return;
  const int prev = usewin(held.win);
  const Line& ln = *held.ln;
  erstxt(held.win, held.col0, ln.row, ln.scol + ln.shown - held.col0);
  putcur(held.col0, ln.row);
  usewin(prev);
}

void lnon() {
  if (!held.ln) return;
  const int prev = usewin(held.win);
  Line& ln = *held.ln;
  int col = 0, row = 0;
  getcur(&col, &row);
  if (col > held.col0) row = jline(row);
  const int n = static_cast<int>(held.head.size());
  if (n > 0) curtxt(held.head.data(), n, held.col0, row, 0);
  ln.row = row;
  ln.scol = held.col0 + n;
  ln.shown = 0;
  ln.draw();
  conedit(ln.row, ln.scol + ln.cur - ln.off);
  usewin(prev);
}

namespace {
// The last line read when it filled its limit before its end: what was
// typed, the characters passed over after the limit too (at most FULLROW).
constexpr size_t FULLROW = 4096;
bool lastfull = false;
std::string fullrow;
}  // namespace

const char* keyfull() { return lastfull ? fullrow.c_str() : nullptr; }

int rdkeys(char* buf, int start, int length, int max) {
  lastfull = false;
  if (!buf) return 0;
  const bool edmode = state & ST_EDITOR;
  const bool prompt = !edmode && nargw == 0;  // the command prompt
  if (jdebug > 1)
    logprintf("rdkeys(buf,%d,%d,%d) %d %d %d\n", start, length, max, curwin,
              static_cast<int>(state), static_cast<int>(nargw));
  // The room of the caller's buffer: max is its size when given.
  const int room = max > 0 ? std::min(max, LINBUF) : LINBUF;
  if (room < 1) return 0;

  // Lines queued as if typed come first.
  if (!edmode && qpend(&typq)) {
    char q[LINBUF];
    int n = gtpstr(&typq, q);
    if (n >= 0) {
      n = std::min(n, room - 1);
      std::memcpy(buf, q, static_cast<size_t>(n));
      buf[n] = 0;
      return n;
    }
  }

  Line ln{};
  ln.lim = room - 1;
  int col = 0;
  getcur(&col, &ln.row);
  flushq();
  const TxtGrid* g = curgrid();
  const int width = g ? g->cols - 1 : ln.lim;  // the line's width on the row
  if (edmode) {
    ln.len = std::clamp(length, 0, ln.lim);
    std::memcpy(ln.text, buf, static_cast<size_t>(ln.len));
    ln.text[ln.len] = 0;
    ln.scol = start;
    ln.shown = ln.len;
  } else {
    ln.scol = col;
  }
  if (ln.scol > width || ln.scol < 0) ln.scol = 0;
  ln.cur = edmode ? std::clamp(col - ln.scol, 0, ln.len) : 0;
  ln.avail = std::max(1, width - ln.scol);
  if (edmode) {
    // The editor's row: every column of the window, the line never slid;
    // characters pushed past the edge stay in the line, unseen.
    ln.fixed = true;
    ln.avail = std::max(1, (g ? g->cols : ln.lim) - ln.scol);
  }

  // The prompt before the line, to be shown again after output that took
  // the row (lnoff, lnon).
  const int col0 = g ? g->ocol : 0;
  char head[LINBUF + 1] = {};
  const int hn = !edmode && ln.scol > col0 ? txtget(col0, ln.row, head, std::min(ln.scol - col0, LINBUF)) : 0;
  HoldLine hold(edmode ? nullptr : &ln, col0, std::string(head, static_cast<size_t>(std::max(hn, 0))));

  const int saveprompt = inprompt;
  inprompt = prompt ? 1 : 0;
  int result = -2;  // -2: the line goes on
  // With views open an idle command line gives way now and then, so that
  // the main loop refreshes them; meanwhile it waits on the input with a
  // short time-out rather than spinning.
  const bool views = prompt && (nviews > 0 || nwatch > 0);
  const uint32_t refresh = tickms(1) + 200;
  bool full = false;  // the line reached its limit before its end
  while (result == -2) {
    int key;
    if (prompt && ln.len == 0 && ((state & ST_ALARMS) || views)) {
      // While alarms wait, an idle command line polls, so that a due alarm
      // runs (its command is queued and the line given up).
      // After a Ctrl-C they wait until the prompt is idle: nothing typed.
      if ((state & ST_ALARMS) && !almhold && alarmck(0) != 0) {
        result = 0;
        break;
      }
      if (views && static_cast<int32_t>(tickms(1) - refresh) >= 0) {
        // The prompt comes off its row: the main loop shows it again.
        const TxtGrid* gg = curgrid();
        const int c0 = gg ? gg->ocol : 0;
        if (ln.scol > c0) erstxt(curwin, c0, ln.row, ln.scol - c0);
        putcur(c0, ln.row);
        inprompt = saveprompt;
        buf[0] = 0;
        return 0;
      }
      key = getkey(1);
      if (key == 0) {
        if (inend()) key = -1;
        else if (almhold) {
          almhold = false;  // idle: a held alarm may run now
          continue;
        } else {
          clock_sleep_ns(10000000ull);
          continue;
        }
      }
    } else {
      key = getkey(0);
    }
    if (key < 0) {
      // End of input at the command prompt: the main loop quits.
      inprompt = saveprompt;
      buf[0] = 0;
      return -1;
    }
    if (key == 0) continue;
    // A character 128-255 typed as text goes into the line as it comes
    // (UTF-8 bytes among them); the same codes as keys are the special keys.
    const bool text = keytext && key >= 128 && key <= 255;
    if (key == 27) key = 155;
    if (!text && edmode && ((key >= 131 && key != 211) || key == 13 || key == 129 || key == 130 ||
                   (key == 211 && (edblock || ln.cur >= ln.len)))) {
      // Keys the editor acts on: the special keys, Enter, the mouse
      // buttons, and Del where it joins lines or cuts a marked block.
      result = key + 0x100;
      break;
    }
    // F1..F10 (and Esc, the key menu's first item, taken from its character)
    // on a blank command line run the key menu's texts.
    if (!text && prompt && ln.len == 0 && ((key >= 187 && key <= 196) || (key == 155 && keymsg == WM_CHAR))) {
      int n = 0;
      if (fncstr(key, 0, &n) && n > 0) {
        result = 0;
        break;
      }
    }
    // Up and Down recall history unless a key menu is shown (its highlight
    // moves) or text-grab mode is on.
    if (!text && !edmode && !(curflg & 0x2000) && !keymenu()) {
      if (key == 200) key = 201;
      if (key == 208) key = 209;
    }
    // Menu-only mode (a modal menu is open) takes only Enter; Ctrl-C ends
    // the modal menus and the line, as it ends any wait.
    if ((pflags & 0x4000) && key == 3) endmodal();
    if ((pflags & 0x4000) && key != 13 && key != 3) continue;
    bool redraw = true;
    switch (text ? -1 : key) {
      case 8:
        if (ln.cur > 0) {
          ln.cur--;
          ln.del(ln.cur);
        } else {
          ln.del(0);
        }
        break;
      case 211:
        ln.del(ln.cur);
        break;
      case 9:
        if (ln.cur == ln.len) {
          const int tw = tabwidth();
          do {
            ln.put(' ');
          } while (ln.len < ln.lim && (ln.len % tw) != 0);
        } else {
          while (ln.cur < ln.len && ln.text[ln.cur] != ' ') ln.cur++;
          while (ln.cur < ln.len && ln.text[ln.cur] == ' ') ln.cur++;
        }
        break;
      case 13:
        result = ln.len;
        break;
      case 129:  // a left click ends a line that is not empty
        redraw = false;
        if (ln.len > 0) {
          result = ln.len;
        } else if (curflg & 0x2000) {
          // Text grab: the marked block becomes the command.
          Boxcur(curx, cury, -3);
          int n = 0;
          if (const char* t = grbtxt(129, &n); t && n > 0) {
            Boxcur(0, 0, 0);
            xeqstr(t, 0, n);
            result = 0;
          }
        }
        break;
      case 130:  // the word under the pointer and a blank; or a grab starts
        if (curflg & 0x2000) {
          Boxcur(0, 0, 0);
          Boxcur(curx, cury, 1);
          redraw = false;
        } else {
          char w[LINBUF];
          const int n = wordat(curx, cury, w, sizeof w);
          for (int i = 0; i < n; i++) ln.put(w[i]);
          if (n > 0) ln.put(' ');
        }
        break;
      case 137:
      case 138:  // double clicks: the box corner and the cross-hair
        redraw = false;
        if (!(curflg & 0x2000)) {
          Boxcur(curx, cury, -3);
          drwcur(curx, cury, 0);
        } else if (ln.len == 0) {
          int n = 0;
          grbtxt(key, &n);
        }
        break;
      case 131:
      case 21:  // Ctrl-U
        ln.clear();
        break;
      case 3:  // Ctrl-C
      case 5:  // Ctrl-E
        if (!edmode) ln.clear();  // the editor's line stays as it stands
        redraw = !edmode;
        result = 0;
        break;
      case 199:
        ln.cur = 0;
        break;
      case 207:
        ln.cur = ln.len;
        break;
      case 203:
        if (ln.cur > 0) ln.cur--;
        break;
      case 205:
        if (ln.cur < ln.len) ln.cur++;
        break;
      case 201:
        ln.recall(-1);
        break;
      case 209:
        ln.recall(-2);
        break;
      case 210:
        insmod = !insmod;
        redraw = false;
        break;
      case 155:
        redraw = false;
        if (!prompt) result = 155 + 0x100;
        break;
      default:
        if (text || (key >= 32 && key <= 127))
          ln.put(static_cast<char>(key));
        else
          redraw = false;  // Ctrl-Q, Ctrl-S and keys the editor does not know
        break;
    }
    if (redraw) {
      ln.draw();
      conedit(ln.row, ln.scol + ln.cur - ln.off);
    }
    if (result == -2 && ln.len >= ln.lim) {
      result = ln.len;  // a full line ends the input
      full = !edmode;
    }
    // The editor scrolls sideways when the cursor leaves the row.
    if (result == -2 && edmode && ln.cur >= ln.avail) result = 0x100;
  }
  // What was typed, for a line longer than its row (which shows part of it).
  const bool slid = !edmode && (ln.off > 0 || ln.len > ln.shown);
  const std::string typed(ln.text, static_cast<size_t>(slid ? ln.len : 0));
  lastfull = full;
  if (full) {
    fullrow.assign(ln.text, static_cast<size_t>(ln.len));
    // The rest of the typed line never becomes input of its own: it is
    // passed over up to its Enter. A command line that did not fit is
    // refused whole.
    int key;
    while ((key = getkey(0)) > 0 && key != 13 && key != 3) {
      if (key >= 32 && key < 127 && fullrow.size() < FULLROW) fullrow += static_cast<char>(key);
    }
    if (prompt) {
      ln.clear();
      result = 0;
    }
  }
  inprompt = saveprompt;
  ln.text[ln.len] = 0;
  std::memcpy(buf, ln.text, static_cast<size_t>(ln.len) + 1);
  if (edmode) {
    // The editor's row stays as it is drawn; a line that ended without a
    // key of its own gives 0x100.
    edcol = ln.cur;
    return result >= 0x100 || result == 0 ? result : 0x100;
  }
  if (result >= 0x100) return result;
  // The row ends after the line as shown; a line longer than its row is
  // handed on whole, as typed.
  if (slid) {
    char head[LINBUF + 1];
    const int h = ln.scol > 0 ? std::max(0, txtget(0, ln.row, head, std::min(ln.scol, LINBUF))) : 0;
    const std::string whole = std::string(head, static_cast<size_t>(h)) + typed;
    rowwhole(ln.row, whole.data(), static_cast<int>(whole.size()));
  }
  putcur(ln.scol + ln.shown, ln.row);
  jline(ln.row);
  if (full && prompt) error(0, 186);
  return result;
}

int ShowCursr() {
  showcnt++;
  if (trcmsk & 4) jprintf(dbglun, "ShowCursor %d\n", showcnt);
  return 0;
}

int HideCursr() {
  showcnt--;
  if (trcmsk & 4) jprintf(dbglun, "HideCursor %d\n", showcnt);
  return 0;
}

int curson(int which, int on) {
  const int prev = (curflg & 0x8000) ? 1 : 0;
  if (which & 1) {
    const uint16_t now = on ? static_cast<uint16_t>(curflg | 0x8000) : static_cast<uint16_t>(curflg & 0x7FFF);
    if (now != curflg) {
      curflg = now;
      if (on)
        ShowCursr();
      else
        HideCursr();
    }
  }
  return prev;
}
