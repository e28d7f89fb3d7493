// The message queue, the window procedure, the input-event record and the
// loops that take input: getkey, chkio, the waits and the type-ahead buffer.
// The keyboard handler dokey lives here too, beside evtkey that calls it.
#include "ui/events.h"

#include "core/output.h"
#include "core/state.h"
#include "lang/cstart.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "ui/clocks.h"
#include "ui/hooks.h"
#include "compute/arith.h"
#include "compute/fnsvc.h"
#include "realtime/devices/comport.h"
#include "ui/cursor.h"
#include "ui/dialog.h"
#include "ui/dlghooks.h"
#include "ui/menu.h"
#include "ui/platform/audio.h"
#include "ui/platform/menubar.h"
#include "ui/platform/surface.h"
#include "ui/platform/wm.h"
#include "ui/platform/backend.h"
#include "ui/platform/clock.h"
#include "ui/platform/entry.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <deque>
#include <vector>

// The progress counters of the running array loop (the evaluator's).
extern uint32_t prgidx;
extern uint32_t prgtot;

EvtRec evtrec;
int32_t dlgtab[NDLGTAB];
int16_t ndlgtab = 0;
uint32_t dlgcmd = 0;
int inprompt = 0;
uint32_t keymsg = WM_CHAR;
bool keytext = false;
int32_t savdbg = 0;
int16_t curstep = 8;

namespace {
// ---- Queue state ----------------------------------------------------------
constexpr size_t QMAX = 1024;
std::deque<Msg> msgq;
std::vector<int32_t> paintq;  // windows marked for repaint, oldest first
uint16_t curkeys = 0;         // modifier keys of the message being handled
bool ended = false;           // the keyboard input has ended
bool evttext = false;         // the key event is a character 128-255 typed as text

// ---- Window-procedure state -----------------------------------------------
uint8_t btnstate = 0;  // buttons last seen; 1 frame button held, 4 frame move or size loop
uint8_t inpoll = 0;    // 1 while chkio runs above level 0
int polling = 0;       // chkio calls under way
uint32_t btntime = 0;  // tickms(1) at the last press that made an event
int16_t chordx = 0, chordy = 0;  // last point seen with left and right held
int dblwatch = -1;     // while dblclk waits: 0, 1 after a release, 2 after a new left press
bool giveup = false;   // the line reader gives up its line (the main window closes)

// ---- Type-ahead buffer: 98 key codes and a terminating NUL, the count
// stored since the buffer was last empty, and the read position.
constexpr int PEEKMAX = 98;
uint8_t peekbuf[PEEKMAX + 1];
bool peektxt[PEEKMAX + 1];  // the key at the same place is typed text
int16_t peekcnt = 0;
int16_t peekpos = 0;


// The virtual-key table: the key code that WM_KEYDOWN makes for a virtual
// key, 0 when the character follows as WM_CHAR instead.
constexpr auto vktab = [] {
  struct T {
    uint8_t v[256];
  } t{};
  for (int k : {1, 2, 3, 4, 5, 6, 10, 11, 12, 14, 15, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 29,
                30, 31, 41, 42, 43, 47})
    t.v[k] = static_cast<uint8_t>(k);
  t.v[VK_PRIOR] = 201;
  t.v[VK_NEXT] = 209;
  t.v[VK_END] = 207;
  t.v[VK_HOME] = 199;
  t.v[VK_LEFT] = 203;
  t.v[VK_UP] = 200;
  t.v[VK_RIGHT] = 205;
  t.v[VK_DOWN] = 208;
  t.v[VK_SNAPSHOT] = 242;
  t.v[VK_INSERT] = 210;
  t.v[VK_DELETE] = 211;
  t.v[VK_ADD] = 206;
  t.v[VK_SUBTRACT] = 202;
  for (uint32_t k = VK_F1; k <= VK_F10; k++) t.v[k] = static_cast<uint8_t>(187 + (k - VK_F1));
  t.v[VK_F11] = 113;
  t.v[VK_F12] = 114;
  return t;
}();

// dokey's tables: control keys by scan byte, Shift and Ctrl with a digit,
// and the arrow steps of the cursor-key mode.
constexpr uint8_t ctlscan[26] = {115, 126, 116, 78, 123, 124, 69, 119, 125, 121, 114, 117, 255,
                                 67,  122, 120, 99, 118, 96,  97, 98, 100, 101, 109, 103, 111};
constexpr uint8_t ctlcode[26] = {199, 200, 201, 202, 203, 205, 206, 207, 208, 209, 210, 211, 242,
                                 183, 187, 188, 189, 190, 191, 192, 193, 194, 195, 196, 197, 198};
constexpr uint8_t shdigit[10] = {210, 207, 208, 209, 203, 129, 205, 199, 200, 201};
constexpr uint8_t ctdigit[10] = {196, 187, 188, 189, 190, 191, 192, 193, 194, 195};

// Platform names of the message numbers 0..136 for the message log.
constexpr const char* msgnames[137] = {
    "NULL", "CREATE", "DESTROY", "MOVE", "xx", "SIZE", "ACTIVATE", "SETFOCUS", "KILLFOCUS", "xx",
    "ENABLE", "SETREDRAW", "SETTEXT", "GETTEXT", "GETTEXTLENGTH", "PAINT", "CLOSE",
    "QUERYENDSESSION", "QUIT", "QUERYOPEN", "ERASEBKGND", "SYSCOLORCHANGE", "ENDSESSION", "xx",
    "SHOWWINDOW", "xx", "WININICHANGE", "DEVMODECHANGE", "ACTIVATEAPP", "FONTCHANGE",
    "TIMECHANGE", "CANCELMODE", "SETCURSOR", "MOUSEACTIVATE", "CHILDACTIVATE", "QUEUESYNC",
    "GETMINMAXINFO", "xx", "PAINTICON", "ICONERASEBKGND", "NEXTDLGCTL", "xx", "SPOOLERSTATUS",
    "DRAWITEM", "MEASUREITEM", "DELETEITEM", "VKEYTOITEM", "CHARTOITEM", "SETFONT", "GETFONT",
    "SETHOTKEY", "GETHOTKEY", "xx", "xx", "xx", "QUERYDRAGICON", "xx", "COMPAREITEM", "xx", "xx",
    "xx", "GETOBJECT", "xx", "xx", "xx", "COMPACTING", "xx", "xx", "COMMNOTIFY", "xx",
    "WINDOWPOSCHANGING", "WINDOWPOSCHANGED", "POWER", "xx", "COPYDATA", "CANCELJOURNAL", "xx",
    "xx", "NOTIFY", "xx", "INPUTLANGCHANGEREQUEST", "INPUTLANGCHANGE", "TCARD", "HELP",
    "USERCHANGED", "NOTIFYFORMAT", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx",
    "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx",
    "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "xx", "CONTEXTMENU", "STYLECHANGING",
    "STYLECHANGED", "DISPLAYCHANGE", "GETICON", "SETICON", "NCCREATE", "NCDESTROY", "NCCALCSIZE",
    "NCHITTEST", "NCPAINT", "NCACTIVATE", "GETDLGCODE", "SYNCPAINT"};


bool inrange(uint32_t m, uint32_t lo, uint32_t hi) { return (lo == 0 && hi == 0) || (m >= lo && m <= hi); }

// Whether a key or mouse message is queued.
bool inputq() {
  return std::any_of(msgq.begin(), msgq.end(), [](const Msg& m) {
    return inrange(m.message, WM_KEYDOWN, WM_KEYLAST) || inrange(m.message, WM_MOUSEMOVE, WM_MOUSELAST);
  });
}

// Takes the first queued message that is not input (keys, the pointer,
// menu picks): a message of a window or its frame.
bool takewin(Msg* m) {
  const auto it = std::find_if(msgq.begin(), msgq.end(), [](const Msg& q) {
    return !inrange(q.message, WM_KEYDOWN, WM_KEYLAST) && !inrange(q.message, WM_MOUSEMOVE, WM_MOUSELAST) &&
           q.message != WM_COMMAND;
  });
  if (it == msgq.end()) return false;
  *m = *it;
  msgq.erase(it);
  return true;
}

// True when a key message is one of the modeless dialogs'.
bool dlgkey(const Msg& m) {
  for (int i = 0; i < ndlgtab; i++)
    if (dlgtab[i] && dlgkeymsg(dlgtab[i], &m)) return true;
  return false;
}

// Asks the backend for input; notes the end of the keyboard input.
int pumpin(int how) {
  // Nothing runs while the program waits: a pending end comes first.
  if (tmodue()) tmoend();
  if (how == KEY_WAIT) endnow();
  audpump();  // sound buffers that have played report to their windows
  int r = backend()->pump(how);
  if (tmodue()) tmoend();
  if (r < 0 && how != KEY_PEEK) ended = true;
  return r;
}

// End of input while a key is awaited: at the command prompt the caller
// decides (-1); anywhere else the program ends, so that no run hangs.
int endkey() {
  ended = true;
  if (inprompt) return -1;
  std::fflush(stdout);
  std::fprintf(stderr, "pelix: end of input while waiting for a key\n");
  finish(1);
}

void sleepms(int ms) { clock_sleep_ns(static_cast<uint64_t>(ms) * 1000000ull); }

// A key event from WM_KEYDOWN, WM_SYSKEYDOWN, WM_CHAR or WM_SYSCHAR.
int32_t keyevt(uint32_t message, uint32_t code, uint32_t lParam) {
  if ((jdebug & 4) && logfp) {
    int c = static_cast<int>(code & 0xFF);
    logprintf("Char Event(%xh,%d(%xh,%c,%oo,%xh),%oo,%oo) %d %oo %d %d\n", message, code, code,
              c >= 32 && c < 127 ? c : ' ', code, lParam, static_cast<unsigned>(curkeys),
              static_cast<unsigned>(btnstate), curwin, static_cast<unsigned>(state & 0xFFFF), inpoll,
              inprompt);
    std::fflush(logfp);
  }
  evtrec.param = lParam;
  evtrec.message = code;
  evtrec.window = curwin;
  keymsg = message;
  evttext = message == WM_CHAR && (curkeys & MK_TYPED) && code >= 128 && code <= 255;
  if (message == WM_SYSCHAR && keyheld(VK_MENU)) {
    evtrec.what = 10;
    evtrec.modifiers = MK_ALT;
  } else {
    evtrec.what = 3;
    evtrec.modifiers = 0;
  }
  if (keyheld(VK_SHIFT)) evtrec.modifiers |= MK_SHIFT;
  if (keyheld(VK_CONTROL)) evtrec.modifiers |= MK_CTRL;
  // Ctrl+Shift+Q ends the program at once while debugging.
  if (keyheld(VK_CONTROL) && jdebug && code == 17 && keyheld(VK_SHIFT)) finish(0);
  return 0;
}

// Ctrl-D: asks for a new trace mask at the text cursor.
void dbgkey() {
  const bool alt = jlnmsk != 0;  // inside jline the mask is kept aside
  int32_t mask = alt ? jlnmsk : trcmsk;
  int prev = usewin(txtwin);
  int col, row;
  getcur(&col, &row);
  if (const TxtGrid* g = curgrid(); g && col > g->cols - 20) putcur(std::max(0, g->cols - 20), row);
  usewin(prev);
  int v = keynum("[Debug (%d)=", mask);
  if (v < 0) return;
  if (alt)
    jlnmsk = v;
  else
    trcmsk = v;
  if (!logfp) return;
  if (v == 99) {
    std::fclose(logfp);
    logfp = nullptr;
    jdebug = 0;
    return;
  }
  jdebug = v;
  logprintf("\njdebug = %d ------------------\n", v);
}
}  // namespace

const char* msgname(uint32_t m) {
  if (m < 137) return msgnames[m];
  return m < 160 ? "" : " ";
}

// ---- The message queue -----------------------------------------------------

int postmsg(int32_t hwnd, uint32_t message, uint32_t wParam, uint32_t lParam, uint16_t keys) {
  if (msgq.size() >= QMAX) {
    logprintf("postmsg: queue full, message %u lost\n", message);
    return -1;
  }
  Msg m{};
  m.hwnd = hwnd;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = tickms(1);
  m.x = musx;
  m.y = musy;
  m.keys = keys;
  msgq.push_back(m);
  return 0;
}

int msgroom() { return static_cast<int>(QMAX - std::min(msgq.size(), QMAX)); }

int peekmsg(Msg* m, uint32_t lo, uint32_t hi, int remove) {
  for (auto it = msgq.begin(); it != msgq.end(); ++it) {
    if (!inrange(it->message, lo, hi)) continue;
    if (m) *m = *it;
    if (remove) msgq.erase(it);
    return 1;
  }
  if (!paintq.empty() && inrange(WM_PAINT, lo, hi)) {
    // Paint stays pending until the window is validated (update does).
    if (m) {
      *m = Msg{};
      m->hwnd = paintq.front();
      m->message = WM_PAINT;
      m->time = tickms(1);
    }
    return 1;
  }
  return 0;
}

int getmsg(Msg* m) {
  for (;;) {
    if (peekmsg(m, 0, 0, 1)) return 1;
    if (pumpin(KEY_WAIT) < 0 && msgq.empty()) {
      if (m) {
        *m = Msg{};
        m->message = WM_QUIT;
      }
      return 0;
    }
  }
}

int32_t dispmsg(const Msg* m) {
  if (!m) return 0;
  curkeys = m->keys;
  if (mbarmsg(m)) return 0;  // the menu bar and its popups track themselves
  return wndproc(m->hwnd, m->message, m->wParam, m->lParam);
}

void invalwin(int32_t hwnd) {
  if (hwnd == 0) return;
  if (std::find(paintq.begin(), paintq.end(), hwnd) == paintq.end()) paintq.push_back(hwnd);
}

void validwin(int32_t hwnd) { std::erase(paintq, hwnd); }

void clrmsgs() {
  msgq.clear();
  paintq.clear();
  evtrec = EvtRec{};
}

bool keyheld(uint32_t vk) {
  switch (vk) {
    case VK_SHIFT: return curkeys & MK_SHIFT;
    case VK_CONTROL: return curkeys & MK_CTRL;
    case VK_MENU: return curkeys & MK_ALT;
    default: return false;
  }
}

// ---- The window procedure --------------------------------------------------

namespace {
// Mouse messages: the event of a press, a move with a button held, or a
// release; a click into a window that is neither current nor the main
// window only selects it.
int32_t mouseevt(int32_t hwnd, int n, uint32_t message, uint32_t wParam, uint32_t lParam) {
  const int16_t x = static_cast<int16_t>(lParam & 0xFFFF), y = static_cast<int16_t>(lParam >> 16);
  const uint8_t buttons = static_cast<uint8_t>(wParam & 19);
  if (message == WM_MOUSEMOVE) {
    musx = x;
    musy = y;
    if (!buttons) return 0;
  }
  const uint8_t old = btnstate;
  btnstate = buttons;
  if (dblwatch == 0 && buttons == 0)
    dblwatch = 1;
  else if (dblwatch == 1 && buttons == 1)
    dblwatch = 2;
  if (old == 3 && !inpoll) {
    // A left+right chord makes no further events until every button is up.
    if (!buttons) wm_capture(0);
    chordx = x;
    chordy = y;
    if (buttons) btnstate = 3;
    return 0;
  }
  // A window with a command text of its own takes the click (DowinCmd).
  if (buttons && buttons != old && !inpoll && n >= 0 && n != curwin && n != 2 && wport(n) &&
      wport(n)->cmd <= 0) {
    if (jdebug) logprintf("mousekey(%d,%d) %d %d\n", n, curwin, x, y);
    const int prev = curwin;
    setwin(n);
    // While a line is read at the prompt its echo stays in its window.
    if (inprompt) usewin(prev);
    return 0;
  }
  if (buttons && buttons != old && !inpoll) btntime = tickms(1);
  evtrec.h = x;
  evtrec.v = y;
  evtrec.modifiers = static_cast<int16_t>(buttons | (keyheld(VK_MENU) ? MK_ALT : 0) |
                                          (keyheld(VK_SHIFT) ? MK_SHIFT : 0) |
                                          (keyheld(VK_CONTROL) ? MK_CTRL : 0));
  evtrec.hwnd = hwnd;
  evtrec.window = static_cast<int16_t>(n);
  evtrec.what = buttons ? 1 : 2;
  evtrec.message = static_cast<uint32_t>(static_cast<int32_t>(evtrec.modifiers));
  return 0;
}
}  // namespace

int32_t wndproc(int32_t hwnd, uint32_t message, uint32_t wParam, uint32_t lParam) {
  const int n = winnum(hwnd);
  if ((jdebug & 4) && logfp && !(message == WM_MOUSEMOVE && !(wParam & 19)) && message != 0xA0 &&
      message != 0x84 && message != WM_SETCURSOR)
    logprintf("Event %10d %16s %4xh %3d %d (%6d %d) %d\n", static_cast<int>(rtclock()),
              msgname(message), message, n, btnstate, static_cast<int>(wParam),
              static_cast<int>(lParam), curwin);
  evtrec.what = 0;
  switch (message) {
    case WM_DESTROY:
      if (n < 0) return 0;
      if (logfp)
        logprintf("Destroy  win %d %d (%d %d)\n", n, wport(n) ? (wport(n)->flags & 0x20) != 0 : 0,
                  static_cast<int>(wParam), static_cast<int>(lParam));
      if (n == 2) {
        quit(0);
        return 0;
      }
      // Destroyed behind the program's back: the window leaves the table.
      winlost(n);
      return 0;
    case WM_CLOSE: {
      // A permanent window (flag 0x10) is never deleted: its close box does
      // nothing (the main window's asks to quit, below).
      if (const Wport* pw = n >= 0 && n != 2 ? wport(n) : nullptr; pw && (pw->flags & 0x10)) return 0;
      if ((wflags & 16) || n < 0) {
        wm_destroy(hwnd);
        return 0;
      }
      const Wport* w = wport(n);
      const int closable = w && (w->flags & 0x20);
      if (logfp) logprintf("Close  win %d %d (%d %d)\n", n, closable, static_cast<int>(wParam), static_cast<int>(lParam));
      if (n == 2) {
        // Cancel keeps the program running; Quit goes the quit road (the
        // quitstr text, else the end). At the command prompt the line is
        // given up and the confirmation runs as the next command.
        if (inprompt) {
          xeqstr("quit 1", 0, 0);
          giveup = true;
        } else if (quit(2)) {
          quit(0);
        }
        return 0;
      }
      if (!closable) wm_destroy(hwnd);
      return 0;
    }
    case WM_MOVE:
    case WM_SIZE:
      if (n >= 0) {
        if (PwRec* p = wpwrec(wport(n))) {
          const int a = static_cast<int16_t>(lParam & 0xFFFF), b = static_cast<int16_t>(lParam >> 16);
          if (message == WM_MOVE) {
            if (a <= -32000) return 0;
            const int32_t w = p->rect[2] - p->rect[0], h = p->rect[3] - p->rect[1];
            p->rect[0] = a;
            p->rect[1] = b;
            p->rect[2] = a + w;
            p->rect[3] = b + h;
          } else if (wParam == 1) {
            if (!(wflags & 16) && n == curwin && !(state & 0x40)) iconwin(wport(n));
            return 0;
          } else {
            p->rect[2] = p->rect[0] + a - 1;
            p->rect[3] = p->rect[1] + b - 1;
          }
          std::memcpy(wport(n)->rect, p->rect, sizeof p->rect);
          if (btnstate)
            p->state |= 2;
          else
            resetRect(p, 0);
        }
      }
      return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      return mouseevt(hwnd, n, message, wParam, lParam);
    case WM_PAINT:
      // Repaints wait for the end of a frame loop, which repaints in full.
      if (btnstate != 4 && n >= 0) update(n, nullptr, 0);
      validwin(hwnd);
      return 0;
    case WM_KEYDOWN: {
      uint8_t code = vktab.v[wParam & 0xFF];
      return code ? keyevt(message, code, lParam) : 0;
    }
    case WM_SYSKEYDOWN:
      // F10 without Alt arrives as a system key.
      if (!keyheld(VK_MENU)) {
        uint8_t code = vktab.v[wParam & 0xFF];
        return code ? keyevt(message, code, lParam) : 0;
      }
      return 0;
    case WM_CHAR:
    case WM_SYSCHAR:
      return keyevt(message, wParam, lParam);
    case WM_COMMAND:
      if (jdebug > 2)
        logprintf(" COMMAND %d md=%d mac=%d s=%oo\n", static_cast<int>(wParam), btnstate, maclev,
                  static_cast<unsigned>(state & 0xFFFF));
      if (maclev != 0) return 0;  // menus do not interleave with a running macro
      evtrec.param = lParam;
      evtrec.message = wParam;
      evtrec.what = 100;
      evtrec.modifiers = static_cast<int16_t>((keyheld(VK_SHIFT) ? MK_SHIFT : 0) |
                                              (keyheld(VK_CONTROL) ? MK_CTRL : 0));
      btnstate = 0;
      return 0;
    case 0xA1:  // WM_NCLBUTTONDOWN
    case 0xA4:  // WM_NCRBUTTONDOWN
    case 0xA7:  // WM_NCMBUTTONDOWN
      btnstate = 1;
      return 0;
    case 0xA2:  // WM_NCLBUTTONUP
    case 0xA5:  // WM_NCRBUTTONUP
    case 0xA8:  // WM_NCMBUTTONUP
      btnstate = 0;
      return 0;
    case WM_ACTIVATEAPP:
      if (jdebug > 2) logprintf(" ACTIVATEAPP %d %d scrflag=%d\n", static_cast<int>(wParam), n, scrflags);
      if (!wParam && (scrflags & 0x80)) scrrst();
      return 0;
    case WM_SYSCOMMAND:
      return 0;  // frames are the window manager's; nothing to pass on
    case WM_MOUSEACTIVATE:
      return n == 2 && wParam ? 0 : 1;
    case WM_ENTERSIZEMOVE:
      btnstate = 4;
      return 0;
    case WM_EXITSIZEMOVE:
      if (btnstate == 4) invalwin(hwnd);
      btnstate = 0;
      return 0;
    case MM_WOM_OPEN:
    case MM_WOM_CLOSE:
    case MM_WOM_DONE:
      AudioMsg(hwnd, message);
      return 0;
    case WM_MAKDLG: {
      // A modeless dialog in the first empty slot of the table; the
      // template is freed in either case.
      int slot = 0;
      while (slot < NDLGTAB && dlgtab[slot]) slot++;
      if (slot < NDLGTAB) {
        if (const int32_t d = mkmodeless(static_cast<int32_t>(wParam), hwnd, lParam)) {
          dlgtab[slot] = d;
          ndlgtab = static_cast<int16_t>(std::max<int>(ndlgtab, slot + 1));
        }
      }
      freetmpl(static_cast<int32_t>(wParam));
      return 0;
    }
    default:
      return 0;
  }
}

void dlgdrop(int32_t dialog) {
  for (int i = 0; i < ndlgtab; i++)
    if (dlgtab[i] == dialog) dlgtab[i] = 0;
  while (ndlgtab > 0 && !dlgtab[ndlgtab - 1]) ndlgtab--;
}

// ---- Loops -------------------------------------------------------------------

int evtkey(int have, int flags) {
  if (have < 1) return 0;
  // A dialog whose items the program draws owns the events of its window
  // (keys with Ctrl or Alt excepted).
  const bool key = evtrec.what == 3 || evtrec.what == 10;
  if ((evtrec.what == 1 || evtrec.what == 2 || (key && !(evtrec.modifiers & (MK_CTRL | MK_ALT)))) &&
      isdlgwin(&evtrec)) {
    const Wport* w = wport(evtrec.window);
    const MnuRec* r = w ? mnurec(w->wnum) : nullptr;
    if (r && r->drawn) {
      const int n = dlogSelect(&evtrec);
      trcint(152, "GEtkEY", 0, n, evtrec.what, evtrec.window, 0, 0);
      return n ? dlgevt(n, &evtrec) : 0;
    }
  }
  switch (evtrec.what) {
    case 1: {
      const int code = (evtrec.modifiers & (2 | MK_SHIFT)) ? 130 : 129;
      if (flags == 0x901) return getmus(&evtrec, code);
      const int n = evtrec.window;
      const Wport* w = wport(n);
      // A window with a command text of its own runs it.
      if (n == curwin) return w && w->cmd > 0 ? DowinCmd(n, &evtrec, code, n) : getmus(&evtrec, code);
      if (n < 0 || !w) return 0;
      if (w->cmd > 0) return DowinCmd(n, &evtrec, code, n);
      if (w->type == 16) return icon(&evtrec, n);
      const int prev = curwin;
      setwin(n);
      // While a line is read at the prompt its echo stays in its window (a
      // drag that outlasts a pick ends here).
      if (inprompt) usewin(prev);
      return 0;
    }
    case 3:
    case 10:
      return dokey(static_cast<int>(evtrec.message), evtrec.modifiers, flags);
    case 100: {
      // A pick from the menu bar.
      const int r = menuevent(static_cast<int>(evtrec.message & 0xFFFF), static_cast<int>(evtrec.message >> 16),
                              evtrec.modifiers);
      if (r) dlgcmd = static_cast<uint32_t>(-1);
      return r;
    }
    default:
      return 0;
  }
}

int getkey(int flags) {
  if (!(flags & 1)) trcint(144, "getkey", 0, flags, 0, 0, 0, 0);
  int code = 0;
  for (;;) {
    code = 0;
    bool look = true;  // messages are to be taken this pass
    if (flags == 0x901) {
      // Keys typed into a dialog's field are the dialog's: a look for a key
      // already waiting leaves them (and what follows them) to it.
      pumpin(KEY_PEEK);
      const auto first = std::find_if(msgq.begin(), msgq.end(), [](const Msg& q) {
        return inrange(q.message, WM_KEYDOWN, WM_KEYLAST) || inrange(q.message, WM_MOUSEMOVE, WM_MOUSELAST);
      });
      look = first != msgq.end() && !dlgkey(*first);
    }
    keytext = false;
    if (look && !(flags & 0x800)) {
      if (int c = peek()) {
        code = c;
        keymsg = WM_CHAR;
        break;
      }
    }
    if (look && (flags & 1) && flags != 0x901) {
      if (!inputq()) pumpin(KEY_POLL);
      look = inputq();
      // Without input, the windows' own messages (a close box, a frame
      // moved) are served all the same: a view closed at the idle prompt
      // goes now. Menu picks wait for the reader with the input.
      Msg m;
      for (size_t k = 0; !look && k < QMAX && !giveup && takewin(&m); k++) dispmsg(&m);
      if (giveup) {
        giveup = false;
        code = 5;  // the line reader ends its line empty
        break;
      }
    }
    while (look) {
      Msg m;
      if (flags & 1) {
        if (!peekmsg(&m, 0, 0, 1)) break;
      } else if (!getmsg(&m)) {
        return endkey();
      }
      // Modeless dialogs see the message first; a button that queued a
      // command answers the line reader with Enter.
      dlgcmd = 0;
      bool taken = false;
      for (int i = 0; i < ndlgtab && !taken; i++)
        if (dlgtab[i] && dlgmsg(dlgtab[i], &m)) taken = true;
      if (taken) {
        if (dlgcmd) {
          code = 13;
          break;
        }
        continue;
      }
      dispmsg(&m);
      if (giveup) {
        giveup = false;
        code = 5;  // the line reader ends its line empty
        break;
      }
      if (evtrec.what == 0) continue;
      const bool text = evttext && evtrec.what == 3;
      code = evtkey(1, flags);
      // A typed character that came through unchanged stays text.
      keytext = text && code == static_cast<int>(evtrec.message);
      evtrec.what = 0;
      if (code < 0) return 0;
      break;
    }
    // The pointer and device polls (tablet, trigger, parameter cursor) come
    // with the cursor routines; without them a pass that got no key ends here.
    if ((flags & 1) || code >= 1) break;
    sleepms(10);
  }
  if (code >= 1) trcint(152, "getKEY", 0, code, curx, cury, flags, 0);
  return code;
}

uint32_t iogen = 0;

int endreq = 0;

void endnow() {
  if (const int s = endreq) {
    endreq = 0;  // once: finish may wait for input itself
    finish(s);
  }
}

int chkio(int level) {
  iogen++;
  // A Ctrl-C that ends the program waits for the operation that polls.
  struct Poll {
    Poll() { polling++; }
    ~Poll() { polling--; }
  } poll;
  // The time-out ends the program at the poll, as a Ctrl-C stops the
  // running operation.
  if (tmodue()) tmoend();
  if (level > 2 && peekpos < peekcnt) return peekbuf[peekpos];
  if (level > 0) inpoll = 1;
  // Only level 1 takes typed input: the polls of long loops must not eat
  // the lines that wait on standard input.
  pumpin(level == 1 ? KEY_POLL : KEY_PEEK);
  int code = 0;
  bool text = false;  // the key is a character typed as text
  Msg m;
  // A full type-ahead buffer takes no more keys: they wait in the queue for
  // the line reader, and only a Ctrl-C is looked for among them. Keys that
  // are a dialog's (typed into its edit field) wait in the queue too, for
  // the loop that hands them to the dialog, and the keys behind them with
  // them.
  const bool full = level == 0 && peekcnt - peekpos >= PEEKMAX;
  auto next = [&]() {
    const auto first = std::find_if(msgq.begin(), msgq.end(),
                                    [](const Msg& q) { return inrange(q.message, WM_KEYDOWN, WM_KEYLAST); });
    if (first == msgq.end()) return false;
    if (!full && !dlgkey(*first)) {
      m = *first;
      msgq.erase(first);
      return true;
    }
    auto it = std::find_if(msgq.begin(), msgq.end(),
                           [](const Msg& q) { return q.message == WM_CHAR && q.wParam == 3; });
    if (it == msgq.end()) return false;
    m = *it;
    msgq.erase(it);
    return true;
  };
  while (next()) {
    if (jdebug > 2) logprintf("chkio(%d) %d %d %d\n", level, m.message, m.wParam, m.lParam);
    dispmsg(&m);
    if (evtrec.what != 3) continue;
    code = dokey(static_cast<int>(evtrec.message), evtrec.modifiers, -1);
    text = evttext && code == static_cast<int>(evtrec.message);
    evtrec.what = 0;
    if (code == 1) code = 0;
    break;
  }
  if (code == 0) {
    while (peekmsg(&m, WM_MOUSEMOVE, WM_MOUSELAST, 1)) {
      if (jdebug > 2) logprintf("chkiO(%d) %d %d %d\n", level, m.message, m.wParam, m.lParam);
      dispmsg(&m);
      if (evtrec.what != 1) continue;
      code = evtrec.modifiers;
      evtrec.what = 0;
      break;
    }
  }
  if (code && jdebug > 2)
    logprintf("chkio(%d) -->  %d %d %ld\n", level, code, static_cast<int>(state),
              static_cast<long>(rtclock()));
  if (level == 0 && code) pushkey(code, text);
  keytext = text && code;
  inpoll = 0;
  return code;
}

int pollio() {
  static uint32_t calls = 0;
  if ((calls++ & 63) != 0 && msgq.empty()) return 0;
  return chkio(0);
}

int inpend(int which) {
  pumpin(KEY_PEEK);
  if (which) return inputq() ? 1 : 0;
  return inputq() || peekmsg(nullptr, 0, 0, 0) ? 1 : 0;
}

int pumpmsg() {
  pumpin(KEY_PEEK);
  Msg m;
  while (peekmsg(&m, 0, 0, 1)) {
    dispmsg(&m);
    if (evtrec.what) {
      evtkey(1, -1);
      evtrec.what = 0;
    }
  }
  return 0;
}

int flushpnt() {
  Msg m;
  while (peekmsg(&m, WM_PAINT, WM_PAINT, 1)) {
    dispmsg(&m);
    validwin(m.hwnd);  // a window the procedure does not know is validated too
  }
  return 0;
}

int waitky() {
  for (;;) {
    int k = getkey(0);
    if (k != 0) return k;
  }
}

int waitev(int time, int unit) {
  const bool forkey = time < 0;
  uint64_t deadline = 0;
  if (!forkey) {
    // A monotonic deadline in 64 bits: a wait across midnight or of many
    // days ends on time.
    uint64_t ms = static_cast<uint64_t>(time) * (unit == 0 ? 1000u : 1u);
    deadline = clock_ns() + ms * 1000000ull;
  }
  const bool alarms = state & ST_ALARMS;
  int r = -1;
  for (;;) {
    if (alarms && alarmck(1) != 0) break;  // a due alarm ran
    r = chkio(forkey ? 1 : 0);
    if (state & ST_INTR) break;
    if (forkey) {
      if (r > 0) break;
      if (ended) return endkey();
      sleepms(10);
      continue;
    }
    const uint64_t now = clock_ns();
    if (now >= deadline) break;
    if (clock_virtual())
      clock_sleep_ns(deadline - now);  // the virtual clock moves at once
    else
      sleepms(static_cast<int>(std::min<uint64_t>(10, (deadline - now + 999999) / 1000000)));
  }
  return r;
}

int dblclk(int code, int) {
  // The button changes are counted as the window procedure sees them. The
  // second press makes no event of its own: it is the double click.
  const uint32_t until = btntime + 200;
  dblwatch = 0;
  while (static_cast<int32_t>(tickms(1) - until) < 0 && dblwatch < 2) {
    pumpin(KEY_PEEK);
    Msg m;
    while (dblwatch < 2 && peekmsg(&m, WM_MOUSEMOVE, WM_MOUSELAST, 1)) {
      dispmsg(&m);
      evtrec.what = 0;
    }
    if (state & 0x8180) break;
    if (dblwatch < 2) sleepms(1);
  }
  const bool twice = dblwatch == 2;
  dblwatch = -1;
  return twice ? code | 8 : code;
}

int keynum(const char* prompt, int value) {
  jprintf(-1, prompt, value);
  int n = -1;
  for (;;) {
    Msg m;
    if (!peekmsg(&m, WM_KEYDOWN, WM_KEYLAST, 1)) {
      if (pumpin(KEY_WAIT) < 0 && !inputq()) {
        if (endkey() < 0) return n;
      }
      continue;
    }
    dispmsg(&m);
    if (evtrec.what != 3 && evtrec.what != 10) continue;
    int c = static_cast<int>(evtrec.message);
    evtrec.what = 0;
    if (c < '0' || c > '9') return n;
    jprintf(-1, "%c", c);
    // The number saturates instead of overflowing.
    n = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(std::max(n, 0)) * 10 + (c - '0'),
                                           0x7FFFFFFF));
  }
}

int shiftdn() { return evtrec.modifiers & MK_SHIFT; }

int setcurs(int x, int y) {
  // The pointer of this platform is the program's own: its position moves.
  musx = static_cast<int16_t>(x);
  musy = static_cast<int16_t>(y);
  return 0;
}

int dbgtxt(const char* format, int a, int b, int c, int y) {
  Surface* s = wm_surface(winhwnd(2));
  if (!s || !format) return 0;
  char text[128];
  const int n = std::snprintf(text, sizeof text, format, a, b, c);
  sfill(*s, 300, y, 301, 21, 0xFFFFFF);
  stext(*s, 310, y + 3, text, std::clamp(n, 0, 36), 0);
  return 0;
}

int regcls(const char* name, int, int, int, int) {
  // Window classes are the window kinds of makwin here: one atom a name.
  static const char* const names[] = {"main", "text", "image", "dialog", "alert", "desktop"};
  for (int i = 0; i < 6; i++)
    if (name && std::strcmp(name, names[i]) == 0) return 0xC000 + i;
  return 0;
}

int comgetc() {
  char b = 0;
  return comread(tablet & 3, &b, 1, 0) == 1 ? static_cast<uint8_t>(b) : -1;
}

int wommsg() {
  Msg m;
  int r = 0;
  while (peekmsg(&m, MM_WOM_OPEN, MM_WOM_DONE, 1)) {
    dispmsg(&m);
    r = 1;
  }
  return r;
}

int waitevt(int16_t* point) {
  if (jdebug) logprintf("waitevt() START\n");
  while (chkio(1) > 0) {
  }
  int code = 0;
  for (;;) {
    Msg m;
    if (!getmsg(&m)) {
      if (endkey() < 0) break;
      continue;
    }
    dispmsg(&m);
    if (evtrec.what == 3 || evtrec.what == 10) {
      code = dokey(static_cast<int>(evtrec.message), evtrec.modifiers, -1);
      if (jdebug)
        logprintf("waitevt() KEY %d,%d,%d,%d\n", code, static_cast<int>(evtrec.message),
                  evtrec.modifiers, evtrec.window);
      evtrec.what = 0;
      if (code) break;
    } else if (evtrec.what == 1) {
      if (point) {
        point[0] = evtrec.v;
        point[1] = evtrec.h;
      }
      if (jdebug) logprintf("waitevt() MUS %d,%d,%d,%d\n", evtrec.v, evtrec.h, evtrec.modifiers, evtrec.window);
      evtrec.what = 0;
      break;
    }
  }
  if (jdebug) logprintf("waitevt() END\n");
  return code;
}

int settmo(int time, int unit) {
  static int32_t tdate = 0, tms = 0;  // the deadline: packed date, time of day
  if (time != 0) {
    int64_t ms = static_cast<int64_t>(gclock(nullptr)) + static_cast<int64_t>(time) * (unit == 0 ? 1000 : 1);
    int32_t date = gtime(nullptr);
    // Whole days move into the packed date (day | month << 5 | year << 9):
    // counted on the calendar.
    while (ms >= 86400000) {
      ms -= 86400000;
      int d = date & 31, mo = (date >> 5) & 15, y = date >> 9;
      static const int mdays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      int dim = mdays[(mo + 11) % 12] + (mo == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0));
      if (++d > dim) {
        d = 1;
        if (++mo > 12) mo = 1, y++;
      }
      date = d | mo << 5 | y << 9;
    }
    tdate = date;
    tms = static_cast<int32_t>(ms);
    return 0;
  }
  const int32_t today = gtime(nullptr);
  const auto key = [](int32_t d) { return ((d >> 9) * 16 + ((d >> 5) & 15)) * 32 + (d & 31); };
  if (key(today) != key(tdate)) return key(today) > key(tdate) ? 1 : 0;
  return gclock(nullptr) >= tms ? 1 : 0;
}

namespace {
// The pause of the array loops.
struct Pause {
  int16_t mode = 0;
  uint32_t deadline = 0, interval = 1;
  int lastpoll = 0;
} pausest;

int pausestep() {
  Pause& p = pausest;
  if (p.mode == 0) return 0;
  const int m = p.mode;
  if (m & 1) p.mode = 0;  // odd modes act once
  for (;;) {
    bool done = false;
    if (m <= 2) {
      if (static_cast<int32_t>(tickms(1) - p.deadline) >= 0) {
        p.deadline = tickms(1) + p.interval;
        done = true;
      }
    } else if (m <= 4) {
      done = p.lastpoll != 0;
    } else {
      done = true;  // no trigger device on this platform
    }
    if (done) break;
    p.lastpoll = chkio(0);
    if (state & 0x8180) {
      state &= ~ST_INTR;
      break;
    }
    sleepms(1);
  }
  p.lastpoll = 0;
  return 0;
}
}  // namespace

int setpause(int mode, uint32_t interval) {
  pausest.mode = static_cast<int16_t>(mode);
  pausest.interval = interval;
  pausest.lastpoll = 0;
  if (mode == 1) pausest.deadline = tickms(1) + interval;
  if (mode == 5 || mode == 6) pausest.mode = 0;  // no trigger device: error 168 for the caller
  pausehk = pausest.mode ? pausestep : nullptr;
  return mode == 5 || mode == 6 ? -1 : 0;
}

int dokey(int event, int modifiers, int mode) {
  trcint(144, "Dokey", 0, event, modifiers, mode, static_cast<int>(state), 0);
  if (jdebug & 2)
    logprintf("Dokey(%d,%d,%d) %d,%d %d,%d\n", event, modifiers, mode, static_cast<int>(state),
              static_cast<int>(trcmsk), curx, cury);
  int code = event & 0xFF;
  const int scan = (event >> 8) & 0xFF;
  if (modifiers & MK_ALT) {
    if (code == '.') {
      code = 3;
    } else if (code == 'S' || code == 's') {
      return 195;
    } else if (code == 'W' || code == 'w') {
      return 196;
    } else if (code == 'q') {
      if (peekpos >= peekcnt)
        for (int k : {int{'u'}, int{' '}, int{'1'}, 13}) pushkey(k);
      return 0;
    } else {
      jprintf(dbglun, "<Cmd-%c>\n", code);
      return ' ';
    }
  }
  switch (code) {
    case 1:  // progress of the running array loop
      if (prgtot > 0)
        jprintf(1, " %ld%% done\n",
                static_cast<long>(static_cast<uint64_t>(prgidx) * 100u / prgtot));
      return 0;
    case 2:
      clrpeek();
      return 0;
    case 3:
      state |= ST_INTR;
      if (pflags & 8) {
        if (!polling) finish(2);
        endreq = 2;
      }
      return 3;
    case 4:
      if (!(pflags & 1)) dbgkey();
      return 0;
    case 5:
      state |= ST_STOP;
      return 5;
    case 6:
      // Line stepping of a macro: the trace mask is kept aside (the macro
      // return puts it back) and the step goes on with Enter.
      if ((trcmsk & 2) && maclev > 0) {
        savdbg = trcmsk;
        trcmsk &= ~3;
        pushkey(13);
      }
      return 0;
    default:
      break;
  }
  if (code >= 7 && code <= 31) {
    // Passed on, translated when the scan byte is in the table.
    int pos = -1;
    for (int i = 0; i < 26; i++)
      if (ctlscan[i] == scan) pos = i;
    int to = pos >= 0 ? ctlcode[pos] : code;
    if ((trcmsk & 128) && txtwin != curwin)
      jprintf(1, " [%o,%o->%o %d] s=%d\n", static_cast<unsigned>(scan), static_cast<unsigned>(code),
              static_cast<unsigned>(to), pos, static_cast<int>(state));
    code = to;
  }
  if (mode < 0) return code;
  if (code >= '0' && code <= '9') {
    if (modifiers & MK_SHIFT) return shdigit[code - '0'];
    if (modifiers & MK_CTRL) return ctdigit[code - '0'];
  }
  if (mode & 0x200) {
    int dx = 0, dy = 0;
    switch (code) {
      case 210:  // Ins: steps 64, 8, 1, 64, ...
        curstep = static_cast<int16_t>(curstep / 8);
        if (curstep == 0) curstep = 64;
        return 0;
      case 200: dy = -1; break;
      case 205: dx = 1; break;
      case 208: dy = 1; break;
      case 203: dx = -1; break;
      case 13: return (curflg & 0x8000) ? 129 : 0;
      default: return code;
    }
    curx = static_cast<int16_t>(curx + dx * curstep);
    cury = static_cast<int16_t>(cury + dy * curstep);
    return 0;
  }
  return code;
}

// ---- Type-ahead buffer ---------------------------------------------------------

int pushkey(int code, bool text) {
  if (peekcnt >= PEEKMAX && peekpos > 0) {
    // Full, but partly read: the unread keys move to the front.
    int n = peekcnt - peekpos;
    for (int i = 0; i < n; i++) peekbuf[i] = peekbuf[peekpos + i], peektxt[i] = peektxt[peekpos + i];
    peekcnt = static_cast<int16_t>(n);
    peekpos = 0;
    peekbuf[peekcnt] = 0;
  }
  if (code < 1 || code > 255 || peekcnt >= PEEKMAX) return 0;
  if (peekpos >= peekcnt) peekpos = peekcnt = 0;
  peektxt[peekcnt] = text && code >= 128;
  peekbuf[peekcnt++] = static_cast<uint8_t>(code);
  peekbuf[peekcnt] = 0;
  return 0;
}

int peek() {
  if (peekpos >= peekcnt) return 0;
  keytext = peektxt[peekpos];
  int c = peekbuf[peekpos++];
  if (peekbuf[peekpos] == 0) peekpos = peekcnt = 0;
  trcint(128, "peek", 0, c, peekpos, peekcnt, 0, 0);
  if (jdebug >= 1) logprintf("getpeek %d %c %ld\n", c, c < 32 ? ' ' : c, static_cast<long>(rtclock()));
  return c;
}

int peekky() { return peekpos < peekcnt ? peekbuf[peekpos] : 0; }

void clrpeek() {
  peekpos = peekcnt = 0;
  peekbuf[0] = 0;
}

int inend() { return ended; }

void inreset() { ended = false; }
