// The ADC boxes and the response box on the serial ports.
#include "realtime/devices/serdev.h"

#include <algorithm>
#include <cstring>

#include "core/output.h"
#include "core/state.h"
#include "realtime/devices/comport.h"
#include "realtime/devices/devsetup.h"
#include "ui/clocks.h"
#include "ui/events.h"

namespace {

constexpr int GEPKT = 12;        // bytes of a geadc packet
constexpr int GEMAX = 24;        // most bytes taken for one geadc reply
constexpr int GEBUF = GEMAX + 2 * GEPKT;
constexpr int EEMAX = 2 * 9;     // eight channels and the repeated pair

int slotof(const BoardRec* b) { return b->inunit - 101; }

// The board's mask shifted by its parameter (geadc: where its channels sit).
uint32_t boardmask(const BoardRec* b, int mask) {
  const int sh = std::clamp<int>(b->param, 0, 15);
  return (static_cast<uint32_t>(mask) & 0xFFFFu) << sh;
}

// The eecadc channels of a mask: bits 0 to 7.
int eechans(uint32_t m, int* chans) {
  int n = 0;
  for (int k = 0; k < 8; k++)
    if (m & (1u << k)) chans[n++] = k;
  return n;
}

// Reads away what waits on the slot, 32 bytes a read, until nothing comes.
void drain(int slot, int size) {
  char tmp[32];
  for (int i = 0; i < 4096 && comread(slot, tmp, size, 4) > 0; i++) {
  }
}

// Sends the request of an eecadc box; the bytes sent.
int eereq(int slot, uint32_t m) {
  int chans[8];
  const int n = eechans(m, chans);
  if (n == 0) return 0;
  char req[EEMAX];
  int len = 0;
  for (int i = 0; i < n; i++) {
    req[len++] = static_cast<char>(chans[i] + 4);
    req[len++] = static_cast<char>(chans[i]);
  }
  req[len] = req[len - 2];
  req[len + 1] = req[len - 1];
  len += 2;
  cwrite(slot, req, len);
  return len;
}

// Waits until `want` bytes wait on the slot, or the deadline (ms of the
// real clock) passes, or the status word stops it. The bytes waiting, or -1
// when the port fails.
int waitfor(int slot, int want, uint64_t deadline, int flags) {
  char none;
  for (;;) {
    const int w = comread(slot, &none, 0, flags);
    if (w < 0 || w >= want || stopped()) return w;
    const uint64_t now = devms();
    if (now >= deadline) return w;
    chkio(0);
    comwait(slot, static_cast<int>(std::min<uint64_t>(5, deadline - now)));
  }
}

// The offset of a valid geadc packet in buf[0, n), searched from the last
// 12 bytes backwards in steps of 2; -1 when none.
int gefind(const uint8_t* buf, int n) {
  for (int o = n - GEPKT; o >= 0; o -= 2) {
    unsigned sum = 0;
    for (int i = 0; i < 10; i++) sum += buf[o + i];
    const unsigned w5 = buf[o + 10] | (buf[o + 11] << 8);
    if ((sum & 0xFFFF) == w5) return o;
  }
  return -1;
}

int failed(int16_t* dest, int code, const BoardRec* b, uint32_t m, int got, int len) {
  if (dest) dest[0] = static_cast<int16_t>(code);
  if (jdebug) logprintf("adcvals %d: %oo %d/%d %d\n", boardno(b) + 1, m, got, len, code);
  return code;
}

}  // namespace

int adbread(int mask, int16_t* dest, int stride, int flags, BoardRec* b) {
  const int slot = slotof(b);
  if (!comopen(slot)) return failed(dest, -3, b, 0, 0, 0);
  const bool ge = b->inkind == DK_GEADC;
  const uint32_t m = boardmask(b, mask);
  int chans[8];
  const int nee = ge ? 0 : eechans(m, chans);
  // A request: the input emptied first; a geadc box is sent nothing.
  int nreq = ge || nee == 0 ? 0 : 2 * (nee + 1);
  if (flags & 1) {
    drain(slot, 32);
    if (!ge) nreq = eereq(slot, m);
  }
  int len = ge ? GEPKT : 2 * (nee + 1);
  if (!ge && nee == 0) return 0;
  const int wflags = ge ? 2 | 4 | 16 : 2 | 4;
  if (flags & 4) {
    const uint64_t start = devms();
    const int k = nreq >= 2 && nreq <= 59 ? nreq / 2 : 1;
    const uint64_t tmo = std::max<uint64_t>(1, b->tmo / 50);
    const uint64_t deadline = start + tmo * static_cast<uint64_t>(k);
    const int w = waitfor(slot, len, deadline, wflags);
    if (w < 0) return failed(dest, -3, b, m, 0, len);
    if (w < len && !stopped()) {
      if (trcmsk)
        jprintf(dbglun, "adc timout: %d %d %d -> %d   %ld  %ld > %ld\n", static_cast<int>(m), nreq, w, -4,
                static_cast<long>(start), static_cast<long>(devms()), static_cast<long>(deadline));
      return failed(dest, -4, b, m, w, len);
    }
  }
  uint8_t buf[GEBUF] = {};
  if (ge) {
    char none;
    const int w = comread(slot, &none, 0, wflags);
    if (w > GEPKT) len = std::min(w, GEMAX);
  }
  const int rflags = ((flags & 4) ? 4 : 1) | (ge ? 16 : 0);
  int got = comread(slot, reinterpret_cast<char*>(buf), len, rflags);
  if (got < 0) got = 0;
  if (trcmsk & 12)
    jprintf(dbglun, " ard(%oo,,%d,%d) %d %d %d <%d %d %d %d %d %d %d %d %d %d>\n", m, stride, flags, nreq, len,
            got, buf[0], buf[1], buf[2], buf[3], buf[4], buf[5], buf[6], buf[7], buf[8], buf[9]);
  if (got < len) return failed(dest, -2, b, m, got, len);

  if (!ge) {
    for (int i = 0; i < nee; i++) {
      const int v = ((buf[2 + 2 * i] & 15) << 8) + buf[3 + 2 * i];
      if (dest) dest[stride * i] = static_cast<int16_t>(v);
    }
    if (trcmsk & 12)
      jprintf(dbglun, " avals %d %d <%d %d %d %d %d %d %d %d %d %d>\n", nee, got, buf[0], buf[1], buf[2], buf[3],
              buf[4], buf[5], buf[6], buf[7], buf[8], buf[9]);
    return got;
  }

  // geadc: the newest valid packet; up to twice 12 more bytes while none
  // is found among at most 24.
  int n = got, off = gefind(buf, n);
  while (off < 0 && n <= GEMAX && !stopped()) {
    int more = 0;
    if (flags & 4) {
      const uint64_t tmo = std::max<uint64_t>(1, b->tmo / 50);
      if (waitfor(slot, GEPKT, devms() + tmo, 2 | 4) > 0)
        more = comread(slot, reinterpret_cast<char*>(buf + n), GEPKT, 4);
    } else {
      more = comread(slot, reinterpret_cast<char*>(buf + n), GEPKT, 1 | 4);
    }
    if (more <= 0) break;
    n += more;
    off = gefind(buf, n);
  }
  if (off < 0) return failed(dest, -5, b, m, n, len);
  uint16_t w[6];
  for (int j = 0; j < 6; j++) w[j] = static_cast<uint16_t>(buf[off + 2 * j] | (buf[off + 2 * j + 1] << 8));
  int i = 0;
  for (int k = 0; k < 5; k++)
    if (m & (1u << k)) {
      if (dest) dest[stride * i] = static_cast<int16_t>(w[k + 1]);
      i++;
    }
  if (trcmsk & 12)
    jprintf(dbglun, " gevals %d %d %d <%d %d %d %d %d %d> %d\n", off, n, static_cast<int>(m), w[0], w[1], w[2], w[3],
            w[4], w[5], i);
  if (jdebug > 2)
    logprintf("ge adcvals %d/%d: %oo %d,%d,%d,%d,%d,%d %d %d\n", off, n, m, w[0], w[1], w[2], w[3], w[4], w[5], i,
              got);
  return n;
}

int adbchans(const BoardRec* b, int mask, int* local) {
  const uint32_t m = boardmask(b, mask);
  const int sh = std::clamp<int>(b->param, 0, 15);
  const int top = b->inkind == DK_GEADC ? 5 : 8;
  int n = 0;
  for (int k = sh; k < top; k++)
    if (m & (1u << k)) local[n++] = k - sh;
  return n;
}

int adbval(int channel, int* value, int flags, BoardRec* b) {
  if (channel < 0 || channel >= b->nin) {
    *value = -1;
    return -1;
  }
  const int slot = slotof(b);
  if (!comopen(slot)) return -3;
  if (flags & 1) {
    drain(slot, 4);
    const int sent = b->inkind == DK_GEADC ? 0 : eereq(slot, boardmask(b, 1 << channel));
    if (trcmsk & 12) jprintf(dbglun, "  adb  %d %d <%d %d %d %d %d %d %d %d %d %d>\n", channel, flags, sent, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    if (flags == 1) return 4;
  }
  int16_t v = 0;
  const int r = adbread(1 << channel, &v, 1, flags & ~1, b);
  *value = v;
  return r;
}

int init_adb(int slot, int mode, BoardRec* b) {
  if (!b || b->inkind == 0) return 0;
  if (mode != 0) {
    const int r = comini(slot, mode);
    if (r < 0) return r;
    b->inunit = static_cast<int16_t>(slot + 101);
  } else {
    comini(b->inunit - 101, 0);
    b->inunit = -1;
    b->inkind = 0;
  }
  initRT();
  return 1;
}

int comdev(int com, int mode, BoardRec* b) {
  if (mode != 0) {
    const int r = comini(com - 1, mode);
    if (r == 0) {
      b->outunit = static_cast<int16_t>(com);
      static const char hello[2] = {static_cast<char>(0xA0), static_cast<char>(0xE0)};
      cwrite(com - 1, hello, 2);
    }
    return r;
  }
  const int r = comini(b->outunit - 1, 0);
  b->outunit = 0;
  b->ndigin = 0;
  return r;
}

int comdig(BoardRec* b, int* status, int flags) {
  char c = 0;
  const int r = comread(b->outunit - 1, &c, 1, flags ? flags : 20);
  const uint32_t now = rtclock();
  if (r > 0) {
    b->lastdig = static_cast<uint8_t>(c);
    b->tlast = now;
    if (status) *status = 0;
    return b->lastdig;
  }
  if (b->tmo != 0) {
    uint32_t d = now - b->tlast;
    if (d > 99999999u) {
      b->tlast = 0;
      d = now;
    }
    if (d >= b->tmo) b->lastdig = 0;
  }
  if (status) *status = r;
  return b->lastdig;
}
