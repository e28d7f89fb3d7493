// The headless console backend, and the choice of backend.
#include "ui/platform/console.h"

#include "ui/events.h"
#include "ui/platform/entry.h"
#include "ui/window.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t sigint = 0;

// The terminal's settings before the console took it, restored at exit, on
// a fatal or terminating signal and while the program is stopped.
struct termios saved {};
volatile std::sig_atomic_t raw = 0;  // the terminal is in our mode
int rawfd = -1;
Console* live = nullptr;  // the console that draws the edited line itself

void setraw() {
  struct termios t = saved;
  t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));  // ISIG stays: Ctrl-C is SIGINT
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(rawfd, TCSANOW, &t) == 0) raw = 1;
}

void onstop(int sig) {
  int keep = errno;
  conrestore();
  signal(sig, SIG_DFL);
  raise(sig);
  // Continued: the handler is set again and the terminal taken again.
  struct sigaction sa {};
  sa.sa_handler = onstop;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
  setraw();
  errno = keep;
}

void onint(int) { sigint = 1; }

// Takes a pending interrupt: true once per SIGINT.
bool takeint() {
  if (!sigint) return false;
  sigint = 0;
  return true;
}

Backend* current = nullptr;

// The cause of the first flush of the console's output that failed.
int outerr = 0;

void flushout(FILE* f) {
  if (std::fflush(f) != 0 && !outerr) outerr = errno ? errno : EIO;
}

// Results of Console::getb besides a byte.
constexpr int GB_END = -1;   // end of input
constexpr int GB_NONE = -2;  // nothing there without waiting
constexpr int GB_INTR = -3;  // an interrupt broke the wait

// Posts a key message to the window that has the focus.
void post(uint32_t message, uint32_t wParam, uint16_t keys) {
  postmsg(winhwnd(curwin), message, wParam, 1, keys);
}

// Modifier keys of an xterm modifier parameter (1 + Shift 1, Alt 2, Ctrl 4).
uint16_t xmods(int m) {
  if (m < 2) return 0;
  int b = m - 1;
  return static_cast<uint16_t>(((b & 1) ? MK_SHIFT : 0) | ((b & 2) ? MK_ALT : 0) |
                               ((b & 4) ? MK_CTRL : 0));
}

// The virtual key of "ESC [ n ~", 0 when none.
uint32_t tildekey(int n) {
  switch (n) {
    case 1:
    case 7: return VK_HOME;
    case 2: return VK_INSERT;
    case 3: return VK_DELETE;
    case 4:
    case 8: return VK_END;
    case 5: return VK_PRIOR;
    case 6: return VK_NEXT;
    case 23: return VK_F11;
    case 24: return VK_F12;
    default: break;
  }
  if (n >= 11 && n <= 15) return VK_F1 + static_cast<uint32_t>(n - 11);
  if (n >= 17 && n <= 21) return VK_F1 + 5 + static_cast<uint32_t>(n - 17);
  return 0;
}

// The virtual key of a final letter of "ESC [" or "ESC O", 0 when none.
uint32_t letterkey(int c) {
  switch (c) {
    case 'A': return VK_UP;
    case 'B': return VK_DOWN;
    case 'C': return VK_RIGHT;
    case 'D': return VK_LEFT;
    case 'H': return VK_HOME;
    case 'F': return VK_END;
    case 'P': return VK_F1;
    case 'Q': return VK_F1 + 1;
    case 'R': return VK_F1 + 2;
    case 'S': return VK_F1 + 3;
    default: return 0;
  }
}
}  // namespace

void coninit() {
  struct sigaction sa {};
  sa.sa_handler = onint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocking read returns on Ctrl-C
  sigaction(SIGINT, &sa, nullptr);
}

int conintr() { return sigint != 0; }

int conouterr() { return outerr; }

bool contake() { return takeint(); }

void conrestore() {
  if (!raw) return;
  tcsetattr(rawfd, TCSANOW, &saved);  // async-signal-safe
  raw = 0;
}

void outsave() {
  // The bytes standard output's buffer holds, not yet written (glibc's
  // stream fields); a handler that ends the program writes them itself.
  const char* b = stdout->_IO_write_base;
  const char* e = stdout->_IO_write_ptr;
  while (b && e && b < e) {
    const ssize_t n = write(STDOUT_FILENO, b, static_cast<size_t>(e - b));
    if (n <= 0) break;
    b += n;
  }
}

void conedit(int row, int col) {
  if (live && backend() == live) live->editrow(row, col);
}

// Decides once whether standard input is a terminal; a terminal is put in
// non-canonical mode without echo, since the line editor draws the line.
void Console::ttyinit() {
  if (tty >= 0) return;
  tty = isatty(infd) ? 1 : 0;
  // Only a terminal that also shows the output gets the line drawn.
  if (!tty || !isatty(fileno(outf)) || tcgetattr(infd, &saved) != 0) return;
  rawfd = infd;
  setraw();
  if (!raw) return;
  live = this;
  drawn = true;
  std::atexit(conrestore);
  // SIGTERM, SIGHUP and SIGQUIT end the program in order (entry.h), which
  // gives the terminal back its settings.
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = onstop;
  sigaction(SIGTSTP, &sa, nullptr);
}

// Shows row `row` of the current window as it stands, the cursor at
// column col: the line being edited on a terminal.
void Console::editrow(int row, int col) {
  if (!drawn || (curwin != 0 && curwin != 1)) return;
  char line[512];
  int n = txtget(0, row, line, static_cast<int>(sizeof line) - 1);
  while (n > 0 && line[n - 1] == ' ') n--;
  fputs("\r", outf);
  if (n > 0) fwrite(line, 1, static_cast<size_t>(n), outf);
  fputs("\x1b[K\r", outf);
  if (col > 0) fprintf(outf, "\x1b[%dC", col);
  flushout(outf);
  shown = curwin;
}

Console::Console(int in, FILE* out) : infd(in), outf(out) {}

// Refills the input buffer. Returns 1 when bytes came, 0 when none are there
// (or an interrupt broke the wait), -1 at end of input.
int Console::fill(bool wait) {
  if (eof) return -1;
  // A wait wakes when the end comes (the stop descriptor); without one, with
  // a time-out set it looks every 100 ms whether the time-out has come.
  const int stop = stopfd();
  if (!wait || stop >= 0 || tmoarmed()) {
    for (;;) {
      struct pollfd p[2] = {{infd, POLLIN, 0}, {stop, POLLIN, 0}};
      int r = poll(p, stop >= 0 ? 2 : 1, !wait ? 0 : stop >= 0 ? -1 : 100);
      if (r > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) break;
      // The end is under way already: a wait reads as it did before.
      if (r > 0 && wait && (p[1].revents & POLLIN) && !tmodue() && !sigint) break;
      if (!wait || sigint || tmodue() || (r < 0 && errno != EINTR)) return 0;
    }
  }
  for (;;) {
    ssize_t n = read(infd, buf, sizeof buf);
    if (n > 0) {
      pos = 0;
      len = static_cast<int>(n);
      return 1;
    }
    if (n == 0) {
      eof = true;
      return -1;
    }
    if (errno == EINTR) {
      if (sigint || !wait) return 0;
      continue;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    eof = true;  // a read error ends the input like end of file
    return -1;
  }
}

// The next input byte, or GB_END, GB_NONE, GB_INTR.
int Console::getb(bool wait) {
  while (pos >= len) {
    if (wait) {
      showrow();
      flushout(outf);  // show everything before waiting
    }
    int r = fill(wait);
    if (r < 0) return GB_END;
    if (r == 0) {
      if (sigint || tmodue()) return GB_INTR;
      if (!wait) return GB_NONE;
    }
  }
  return buf[pos++];
}

int EscSeq::feed(int b) {
  if (n++ == 0) {
    if (b != '[' && b != 'O') return ESC_ALONE;
    csi = b == '[';
    return ESC_MORE;
  }
  if (csi && b >= '0' && b <= '9') {
    if (npar < 2) par[npar] = std::min(par[npar] * 10 + (b - '0'), 9999);
    digits = true;
    return n > 16 ? ESC_NONE : ESC_MORE;
  }
  if (csi && b == ';') {
    npar++;
    digits = false;
    return n > 16 ? ESC_NONE : ESC_MORE;
  }
  if (csi && b >= 0x20 && b <= 0x3F) return n > 16 ? ESC_NONE : ESC_MORE;  // other parameter bytes
  if (b < 0x40 || b > 0x7E) return ESC_NONE;  // not a sequence after all
  if (digits || npar > 0) npar++;
  if (b == '~' && csi) {
    vk = npar > 0 ? tildekey(par[0]) : 0;
    keys = npar > 1 ? xmods(par[1]) : 0;
  } else {
    vk = letterkey(b);
    keys = npar > 1 ? xmods(par[1]) : 0;
  }
  return vk ? ESC_KEY : ESC_NONE;  // a sequence that names no key here is dropped
}

// After an ESC byte: posts the key of an escape sequence, or Esc. Only bytes
// that are already there belong to a sequence. Returns the messages posted.
int Console::special(bool) {
  EscSeq seq;
  for (bool first = true;; first = false) {
    const int c = getb(false);
    if (c < 0 && !first) return 0;  // an incomplete sequence is dropped
    const int r = c < 0 ? EscSeq::ESC_ALONE : seq.feed(c);
    if (r == EscSeq::ESC_MORE) continue;
    if (r == EscSeq::ESC_NONE) return 0;
    if (r == EscSeq::ESC_KEY) {
      post((seq.keys & MK_ALT) ? WM_SYSKEYDOWN : WM_KEYDOWN, seq.vk, seq.keys);
      return 1;
    }
    if (c >= 0) pos--;  // the byte after a lone ESC is a key of its own
    post(WM_CHAR, 27, 0);
    return 1;
  }
}

int Console::pump(int how) {
  ttyinit();
  if (takeint()) {
    post(WM_CHAR, 3, MK_CTRL);
    return 1;
  }
  // Typed input stays unread while the queue has no room for it.
  if (how == KEY_PEEK || msgroom() < MSGRESERVE) return 0;
  for (;;) {
    int c = getb(how == KEY_WAIT);
    if (c == GB_INTR) {
      if (takeint()) {
        post(WM_CHAR, 3, MK_CTRL);
        return 1;
      }
      if (tmodue()) return 0;  // the caller ends the program
      continue;
    }
    if (c == GB_NONE) return 0;
    if (c == GB_END) return -1;
    const bool wascr = lastcr;
    lastcr = c == '\r';
    if (c == '\n' && wascr) continue;  // CR LF is one Enter
    if (c == '\n' || c == '\r') {
      post(WM_CHAR, 13, 0);
      return 1;
    }
    if (c == 0) continue;
    if (c >= 128) {  // text (UTF-8 bytes): the special keys come as sequences
      post(WM_CHAR, static_cast<uint32_t>(c), MK_TYPED);
      return 1;
    }
    if (c == 127) {
      post(WM_CHAR, 8, 0);
      return 1;
    }
    if (c == 27) {
      if (int n = special(how == KEY_WAIT)) return n;
      continue;
    }
    const bool ctl = c < 32 && c != 8 && c != 9;
    post(WM_CHAR, static_cast<uint32_t>(c), ctl ? MK_CTRL : 0);
    return 1;
  }
}

// On a terminal: shows the current window's row up to the cursor (the
// prompt) before the program waits for the typed line.
void Console::showrow() {
  ttyinit();
  if (!tty || shown >= 0 || (curwin != 0 && curwin != 1)) return;
  int col = 0, row = 0;
  getcur(&col, &row);
  char line[512];
  int n = txtget(0, row, line, std::min(col, static_cast<int>(sizeof line) - 1));
  if (n <= 0) return;
  fwrite(line, 1, static_cast<size_t>(n), outf);
  shown = curwin;
}

void Console::rowout(int win, const char* text, int n) {
  if (shown >= 0 && drawn) {
    // The row under the cursor was shown (the prompt, the edited line): the
    // finished row takes its place.
    shown = -1;
    fputs("\r\x1b[K", outf);
  } else if (shown >= 0) {
    // The terminal has shown this row: the prompt and the echoed line.
    bool same = win == shown;
    shown = -1;
    if (same) return;
    fputc('\n', outf);
  }
  if (n > 0) fwrite(text, 1, static_cast<size_t>(n), outf);
  fputc('\n', outf);
  // A run that may be stopped by its time-out keeps its output written.
  if (tmoarmed()) flushout(outf);
}

int Backend::pump(int how) {
  int k = keyin(how);
  if (k < 0) return -1;
  if (k == 0) return 0;
  post(WM_CHAR, static_cast<uint32_t>(k), k < 32 && k != 8 && k != 9 && k != 13 ? MK_CTRL : 0);
  return 1;
}

Backend* conbackend() {
  static Console* con = [] {
    coninit();
    return new Console(0, stdout);
  }();
  return con;
}

Backend* backend() {
  static Backend* chosen = choosebackend();
  return current ? current : chosen;
}

Backend* setbackend(Backend* b) {
  Backend* old = backend();
  current = b;
  return old;
}
