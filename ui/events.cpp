// Key input through the platform backend, with the type-ahead buffer.
#include "ui/events.h"

#include "core/output.h"
#include "core/state.h"
#include "lang/cstart.h"
#include "ui/platform/backend.h"

#include <cstdio>

int inprompt = 0;

namespace {
// Type-ahead buffer: 98 key codes and a terminating NUL, the count stored
// since the buffer was last empty, and the read position.
constexpr int PEEKMAX = 98;
uint8_t peekbuf[PEEKMAX + 1];
int16_t peekcnt = 0;
int16_t peekpos = 0;
bool ended = false;

// The part of key dispatch that must act on every key: Ctrl-C raises the
// interrupt bit and is passed on.
int dokey(int code) {
  if (code == 3) state |= ST_INTR;
  return code;
}

// End of input while a key is awaited.
int endkey() {
  ended = true;
  if (inprompt) return -1;
  fflush(stdout);
  fprintf(stderr, "pelix: end of input while waiting for a key\n");
  finish(1);
}
}  // namespace

int inend() { return ended; }

int pushkey(int code) {
  if (peekcnt >= PEEKMAX && peekpos > 0) {
    int n = peekcnt - peekpos;
    for (int i = 0; i < n; i++) peekbuf[i] = peekbuf[peekpos + i];
    peekcnt = static_cast<int16_t>(n);
    peekpos = 0;
    peekbuf[peekcnt] = 0;
  }
  if (code < 1 || code > 255 || peekcnt >= PEEKMAX) return 0;
  if (peekpos >= peekcnt) peekpos = peekcnt = 0;
  peekbuf[peekcnt++] = static_cast<uint8_t>(code);
  peekbuf[peekcnt] = 0;
  return 0;
}

int peek() {
  if (peekpos >= peekcnt) return 0;
  int c = peekbuf[peekpos++];
  if (peekbuf[peekpos] == 0) peekpos = peekcnt = 0;
  trcint(128, "peek", 0, c, peekpos, peekcnt, 0, 0);
  if (jdebug >= 1) logprintf("getpeek %d %c %ld\n", c, c < 32 ? ' ' : c, 0L);
  return c;
}

int getkey(int flags) {
  if (!(flags & 1)) trcint(144, "getkey", 0, flags, 0, 0, 0, 0);
  for (;;) {
    int code;
    if (flags == 0x901) {
      code = backend()->keyin(KEY_PEEK);
      if (code < 0) code = 0;
    } else {
      if (!(flags & 0x800)) {
        int c = peek();
        if (c) return c;
      }
      code = backend()->keyin((flags & 1) ? KEY_POLL : KEY_WAIT);
      if (code < 0) {
        if (flags & 1) {
          ended = true;
          return 0;
        }
        return endkey();
      }
    }
    if (code > 0) code = dokey(code);
    if (code >= 1) {
      trcint(152, "getKEY", 0, code, flags, 0, 0, 0);
      return code;
    }
    if (flags & 1) return code;
  }
}

int waitky() {
  for (;;) {
    int k = getkey(0);
    if (k != 0) return k;
  }
}

int chkio(int level) {
  if (level > 2 && peekpos < peekcnt) return peekbuf[peekpos];
  int code = backend()->keyin(KEY_PEEK);
  if (code < 0) code = 0;
  if (code > 0) code = dokey(code);
  if (code == 1) code = 0;
  if (code > 0 && level == 0) pushkey(code);
  return code;
}
