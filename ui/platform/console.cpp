// Headless console backend.
#include "ui/platform/console.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t sigint = 0;

void onint(int) { sigint = 1; }

// Takes a pending interrupt: true once per SIGINT.
bool takeint() {
  if (!sigint) return false;
  sigint = 0;
  return true;
}

Backend* current = nullptr;
}  // namespace

void coninit() {
  struct sigaction sa {};
  sa.sa_handler = onint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocking read returns on Ctrl-C
  sigaction(SIGINT, &sa, nullptr);
}

int conintr() { return sigint != 0; }

Console::Console(int in, FILE* out) : infd(in), outf(out) {}

// Refills the input buffer. Returns 1 when bytes came, 0 when none are there
// (or an interrupt broke the wait), -1 at end of input.
int Console::fill(bool wait) {
  if (eof) return -1;
  if (!wait) {
    struct pollfd p {infd, POLLIN, 0};
    int r = poll(&p, 1, 0);
    if (r <= 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return 0;
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

int Console::keyin(int how) {
  if (takeint()) return 3;
  if (how == KEY_PEEK) return 0;
  for (;;) {
    if (pos >= len) {
      if (how == KEY_WAIT) fflush(outf);  // show everything before waiting
      int r = fill(how == KEY_WAIT);
      if (takeint()) return 3;
      if (r < 0) return -1;
      if (r == 0) {
        if (how == KEY_WAIT) continue;
        return 0;
      }
    }
    unsigned char c = buf[pos++];
    bool wascr = lastcr;
    lastcr = c == '\r';
    if (c == '\n' && wascr) continue;  // CR LF is one Enter
    if (c == '\n' || c == '\r') return 13;
    if (c == 0) continue;  // NUL is no key
    return c;
  }
}

void Console::rowout(int, const char* text, int n) {
  if (n > 0) fwrite(text, 1, static_cast<size_t>(n), outf);
  fputc('\n', outf);
}

Backend* backend() {
  static Console con(0, stdout);
  return current ? current : &con;
}

Backend* setbackend(Backend* b) {
  Backend* old = backend();
  current = b;
  return old;
}
