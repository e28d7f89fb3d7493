// The eye tracker: its packets, and the commands user1 to user3.
#include "realtime/devices/eyetrack.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "realtime/devices/comport.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/screen.h"

EyeState eye;

namespace {

uint8_t buf[EYEBUF];   // carry + the bytes of one read
char scratch[EYEBUF];  // bytes read away

constexpr int SAMPLE = 20;  // header and 16 payload bytes

bool isopen() { return eye.mode != 0 && comopen(eye.chan); }

void keep(const uint8_t* from, int count) {
  eye.ncarry = count >= 1 && count <= EYECARRY ? count : 0;
  if (eye.ncarry) std::memmove(eye.carry, from, static_cast<size_t>(eye.ncarry));
}

void sleepms1() {
  timespec ts{0, 1000000};
  nanosleep(&ts, nullptr);
}

}  // namespace

int eyescan(const uint8_t* b, int n, int* tail, bool* partial) {
  *tail = -1;
  *partial = false;
  int i = 0;
  while (i + 1 < n) {
    if (b[i] != 0x56 || b[i + 1] != 0x50) {
      i++;
      continue;
    }
    if (i + SAMPLE > n) {
      // Within 20 bytes of the end: the rest comes with the next read.
      *partial = n >= EYEBUF && i + 2 < n && b[i + 2] == 10;
      *tail = i;
      return -1;
    }
    const int type = b[i + 2], len = b[i + 3];
    if ((type == 6 || type == 10) && len == 16) return i;
    i += 4 + len;
  }
  // A last "V" may begin the next packet.
  if (i == n - 1 && b[i] == 0x56) *tail = i;
  return -1;
}

int eyeini(int slot, int mode) {
  if (slot < 0 || slot >= NCOMSLOT || mode < 1) return -1;
  const int r = comini(slot, mode);
  if (r >= 0) {
    eye.chan = slot;
    eye.mode = mode;
    eye.tnew = 0;
    eye.ncarry = 0;
    compurge(slot, 1);
    if (trcmsk) {
      jprintf(lstlun, " channel %d is now initialized\n", slot + 1);
      jprintf(lstlun, " value returned from comini is %d \n", r);
    }
  } else {
    eye.mode = 0;
    jprintf(errlun, " channel %d not initialized\n", slot + 1);
  }
  return r + 1;
}

int eyepkt(int16_t* dest, int flags, uint32_t* time) {
  if (!isopen()) return -1;
  char none;
  const int waiting = comread(eye.chan, &none, 0, 2 | 4);
  if (waiting < 0) return -1;
  if (waiting < SAMPLE) return 0;
  if (flags & 64) {
    compurge(eye.chan, 1);
    eye.ncarry = 0;
    return 0;
  }
  if (!(flags & 4)) return 0;
  if (dest) dest[0] = dest[1] = 0;
  if (comerr(eye.chan)) {
    compurge(eye.chan, 1);
    eye.ncarry = 0;
    return 0;
  }
  if (logfp) {
    logprintf("ep %d %d\n", eye.ncarry, waiting);
    std::fflush(logfp);
  }
  int n = 0;
  if (waiting <= 40) {
    std::memcpy(buf, eye.carry, static_cast<size_t>(eye.ncarry));
    n = eye.ncarry;
  }
  eye.ncarry = 0;
  int left = waiting;
  while (left > EYEBUF) {
    const int k = std::min(EYEBUF, left - EYEBUF);
    const int r = comread(eye.chan, scratch, k, 4);
    if (r <= 0) break;
    left -= r;
  }
  const int r = comread(eye.chan, reinterpret_cast<char*>(buf + n), std::min(left, EYEBUF - n), 1 | 4);
  if (r > 0) n += r;
  if (n >= 20 && logfp) {
    const uint8_t* t = buf + n - 20;
    logprintf("  pkt %4d/%4d %3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d\n",
              n - 20, n, t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11], t[12], t[13],
              t[14], t[15], t[16], t[17], t[18], t[19]);
  }
  const uint32_t now = rtclock();

  int tail = -1;
  bool partial = false;
  const int at = eyescan(buf, n, &tail, &partial);
  if (partial) {
    logprintf("PARTIAL PACKET!\n");
    return 0;
  }
  if (at < 0) {
    if (tail >= 0) keep(buf + tail, n - tail);
    return 0;
  }
  const uint8_t* p = buf + at;
  keep(p + SAMPLE, n - (at + SAMPLE));
  std::memcpy(eye.prev, eye.cur, sizeof eye.cur);
  for (int j = 0; j < 8; j++) eye.cur[j] = static_cast<uint16_t>((p[4 + 2 * j] << 8) | p[5 + 2 * j]);
  logprintf("  pkt %4d/%4d %d/%d %c%c %3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d,%3d\n", at, n, p[2],
            p[3], p[0], p[1], p[4], p[5], p[6], p[7], p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15], p[16],
            p[17]);
  if (time) {
    eye.told = eye.tnew;
    eye.tnew = now;
    *time = now;
  }
  int x = eye.cur[0], y = eye.cur[1];
  if (!(flags & 16)) {
    x = static_cast<int>(std::lround(eye.cur[0] * static_cast<double>(scrwid) / 10000.0));
    y = static_cast<int>(std::lround(eye.cur[1] * static_cast<double>(scrhgt) / 10000.0));
  }
  int k = 0;
  if (dest && (flags & 1)) {
    dest[0] = static_cast<int16_t>(x);
    dest[1] = static_cast<int16_t>(y);
    k = 2;
  }
  if (dest && (flags & 2)) {
    dest[k] = static_cast<int16_t>(eye.cur[4]);
    dest[k + 1] = static_cast<int16_t>(eye.cur[5]);
  }
  if ((flags & 8) && logfp) {
    for (int i = 0; i < SAMPLE; i++)
      logprintf("line# %d; n1=%d;  hx: %#x;  c: %c; \n", i, n, p[i], p[i] >= 32 && p[i] < 127 ? p[i] : '.');
    logprintf("x=%d  y=%d  \n", x, y);
    logprintf("The eyes are currently set at (%hd,%hd) \n", static_cast<short>(x), static_cast<short>(y));
    logprintf("Last data packet sent %d millisecs ago\n", eye.cur[2]);
    logprintf("n1=%d\n", n);
  }
  return waiting;
}

namespace {

// Opens the tracker on slot with mode unless it is open there already.
bool eyeopen(int slot, int mode) {
  if (isopen() && eye.chan == slot) return true;
  return eyeini(slot, mode) >= 1;
}

}  // namespace

int user1() {
  if (nargs() < 3) {
    jprintf(lstlun, " usage: user1 [flg channel}\n");
    jprintf(lstlun, " FLG: 1-Return Eye XY  2-Return Pupil Size \n");
    jprintf(lstlun, " 4-Read Data  8-Print X/Y to file\n");
    return 0;
  }
  const int flags = intarg(2, 519);
  const int slot = intarg(3, 1) - 1;
  eye.flags = flags;
  if (!eyeopen(slot, MODE_EYE)) return 0;
  compurge(slot, 1);
  initRT();
  compurge(slot, 1);
  uint64_t last = devms();
  int count = 0;
  while (count < 200 && !stopped()) {
    // Input is polled for 10 ms while the tracker's bytes come in.
    const uint64_t until = devms() + 10;
    while (devms() < until && !stopped()) {
      chkio(0);
      sleepms1();
    }
    if (stopped() || devms() - last > 1600) break;
    int16_t d[4] = {};
    const int r = eyepkt(d, flags, nullptr);
    if (r < 0) break;
    if (r == 0) continue;
    if (flags & 1) setcurs(d[0], d[1]);
    compurge(slot, 1);
    count++;
    last = devms();
  }
  setres(count, 0);
  return 0;
}

int user2() {
  if (nargs() < 3) {
    jprintf(lstlun, " FLG: 1-Move mouse cursor  2-Print Pupil Size \n");
    jprintf(lstlun, " 4-Print X/Y  8-Print X/Y to file\n");
    return 0;
  }
  const int flags = intarg(2, 5);
  const int slot = intarg(3, 1) - 1;
  const int mode = intarg(4, MODE_EYE);
  eye.flags = flags;
  if (!eyeopen(slot, mode)) return 0;
  compurge(slot, 1);
  return 0;
}

int user3() { return 0; }
