// The waits and device ops of real-time programs: key, A/D, digital,
// parallel-port and sound waits; A/D reads, replay buffers and background
// scans; analog and digital output; the parallel and serial ports; the eye
// tracker and position input; tones and sounds.
#include "realtime/rtio.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "realtime/devices/boards.h"
#include "realtime/devices/comport.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/eyetrack.h"
#include "realtime/devices/joystick.h"
#include "realtime/devices/meascomp.h"
#include "realtime/devices/pport.h"
#include "realtime/devices/sound.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/platform/audio.h"
#include "ui/screen.h"
#include "ui/sysserv.h"

namespace {

constexpr int NADCH = 16;         // channels of the time-out and detector tables
constexpr int NREPLAY = 8;        // channels that may replay from a buffer
constexpr int16_t ADTIMEOUT = -32767;  // the value an await that timed out gives
constexpr uint32_t NOTIMEOUT = 0x3FFFFFFF;

// A replay buffer: the samples an A/D channel gives instead of the
// converter's, one per read, while they last.
struct Replay {
  const uint8_t* p;
  int type;
  int32_t n;
};

// The scan that r_ascan keeps: a board scan (collected by the library
// routines) or, with mode 8, one whose progress follows the clock.
struct RtScan {
  int32_t rate, mask, count, mode, step, nch;
  RtOpnd *data, *time, *cnt;
  uint32_t start;
  int32_t scans;  // scans so far (the board scan's sample counter)
};

Replay replay[NREPLAY];
uint16_t replaymask;
uint32_t lastread;       // clock time of the last A/D read
uint32_t adtmo[NADCH];   // an await on the channel gives up from this time on
PkRec* pkrec[NADCH];
RtScan scan;
int32_t scanword;        // channels of the clock-paced scan
int16_t lastdout;        // the last digital output word

constexpr int32_t STOPBITS = ST_ERROR | ST_INTR | ST_STOP;

RtOpnd* opk(const RtOp* op, int k) { return rtopk(op, k); }

// The common completion of a wait: the value into operand 1 and the task
// result, the task due at `when`, and `when` into the time-stamp operand.
void waitdone(RtTask* t, const RtOp* op, int32_t v, int tsop, uint32_t when) {
  t->result = static_cast<int16_t>(v);
  putval(v, opk(op, 1));
  setdue(t, when);
  if (tsop) Storetime(when, opk(op, tsop), op->flg);
}

// One pass of a busy wait: the clock moves on by a tick (the virtual clock
// only moves when a wait moves it).
void busytick() { rts.now = rtspin(rtclock() + 1); }

bool replays(int ch) { return ch >= 0 && ch < NREPLAY && (replaymask & (1 << ch)) && replay[ch].n > 0; }

int32_t replayval(int ch) {
  Replay& r = replay[ch];
  const int32_t v = getitm(r.p, r.type, 0);
  r.p += (r.type & 63) >> 3;
  r.n--;
  return v;
}

// One sample of a channel: its replay buffer while that lasts, else the
// converter. False when the read failed (*v is then the last value).
bool sample(int ch, int* v) {
  if (replays(ch)) {
    *v = static_cast<int16_t>(replayval(ch));
    if (ch < NADCH) adcval[ch] = static_cast<int16_t>(*v);
    return true;
  }
  return getadc(ch, v) >= 0;
}

// ---- Keys ----------------------------------------------------------------------

bool uwait(RtTask* t, const RtOp* op) {
  const int mode = rtarg(op, 3, 0);
  const int want = rtarg(op, 4, 0);
  int key = 0;
  if (t->slot[0] == -1 && (mode & 1)) {
    // Keys typed ahead of the wait do not count.
    clrpeek();
    while (inpend(1) && chkio(1)) {
    }
  }
  t->slot[0] = 0;
  if (mode & 4) {
    for (;;) {
      if (mode & 1)
        while (inpend(1) && chkio(1)) {
        }
      key = getkey(2048);
      // Key 3 (Ctrl-C) ends the wait and is stored and logged, as in the
      // polling form, before the run stops.
      if (key == 3) break;
      if (state & STOPBITS) return false;
      if (key <= 0) continue;
      if (!want || key == want) break;
    }
    rts.now = rtclock();
  } else {
    key = peek();
    if (!key) key = chkio(1);
    // At the end of the keyboard input the key never comes: getkey ends
    // the program, so that no run hangs.
    if (key <= 0 && inend()) key = getkey(0);
    if (key <= 0) return false;
    trcint(8, "uwait", 0, t->seq, key, want, mode, 0);
    if (want && key != want && key != 3) return false;
  }
  if (trcmsk) rtwdump(1, 0);
  waitdone(t, op, key, 2, rts.now);
  rts.flags &= static_cast<uint16_t>(~RF_NOPUMP);
  return true;
}

// ---- A/D waits -------------------------------------------------------------------

// Whether a change of the level state from `was` ends a wait for direction
// d: -1 any change, 0 rising, 1 falling, 2 any crossing.
bool crossmet(int d, int was) { return d < 0 || d == 2 || d == was; }

// The rows of the running scan for a channel: its samples and their times.
struct ScanSrc {
  const McVar* var = nullptr;  // board scan
  RtOpnd* opnd = nullptr;      // clock-paced scan
  int64_t step = 0, off = 0;   // elements from row to row; the channel's offset in a row
  uint32_t start = 0;
  double tps = 0;
  int32_t rows = 0;            // rows there are
};

bool scansrc(int ch, ScanSrc* s) {
  if (ch < 0 || ch >= NADCH) return false;
  if (mcbusy()) {
    if (!(mcrec.mask & (1 << ch))) return false;
    adcscan(0, 0, 0, 0, McVar{}, McVar{}, 0, nullptr);  // collects
    s->var = &mcrec.data;
    s->step = mcrec.step;
    s->off = int64_t(std::popcount(static_cast<uint32_t>(mcrec.mask) & ((1u << ch) - 1))) * mcrec.stride;
    s->start = mcrec.start;
    s->tps = mcrec.tps;
    s->rows = mcrec.counter ? *mcrec.counter : 0;
    return true;
  }
  if (!(scanword & (1 << ch)) || scan.rate <= 0 || !scan.data) return false;
  s->opnd = scan.data;
  s->step = std::max(1, scan.nch);
  s->off = std::popcount(static_cast<uint32_t>(scan.mask) & ((1u << ch) - 1));
  s->start = scan.start;
  s->tps = 50000.0 / scan.rate;
  int64_t n = int64_t(scan.rate) * int64_t(lastread - scan.start) / 50000;
  if (scan.count > 0) n = std::min<int64_t>(n, scan.count);
  s->rows = static_cast<int32_t>(std::max<int64_t>(n, 0));
  return true;
}

int32_t scanval(const ScanSrc& s, int32_t row) {
  const int64_t i = row * s.step + s.off;
  if (s.var) {
    if (i >= s.var->nelem) return 0;
    return getitm(s.var->data + i * ((s.var->type & 63) >> 3), s.var->type, 0);
  }
  return opbase(s.opnd, static_cast<int>(std::min<int64_t>(i, INT32_MAX)));
}

// The scan row a wait has read up to, kept in slots 4-5.
int32_t scanrow(const RtTask* t) {
  int32_t v;
  std::memcpy(&v, &t->slot[4], 4);
  return v;
}
void setscanrow(RtTask* t, int32_t v) { std::memcpy(&t->slot[4], &v, 4); }

// Later visits of an await: the time-out, then the samples since the last
// visit through the detector or the threshold.
bool awaitnext(RtTask* t, const RtOp* op) {
  int16_t* s = t->slot;
  const int ch = s[0];
  const int mode = s[3];
  const int thr = s[2];
  PkRec* pk = (mode & 24) ? pkrec[ch] : nullptr;
  if (rts.now >= adtmo[ch]) {
    putval(ADTIMEOUT, opk(op, 1));
    trcint(8, "aw_tout", 0, ch, static_cast<int>(rts.now), 0, 0, 0);
    if (trcmsk & 2)
      jprintf(dbglun, "AWAIT timeout: %ld > %ld (%d)\n", static_cast<long>(rts.now),
              static_cast<long>(rtarg(op, 7, 0)), opelm(opk(op, 1), 0));
    if (pk) pk->state |= 0x400;
    waitdone(t, op, ADTIMEOUT, 5, rts.now);
    return true;
  }
  const int d = (mode & 3) - 1;
  uint32_t last = rts.now;
  // Feeds one sample taken at `when`: true when it ends the wait.
  auto feed = [&](int v, uint32_t when) {
    last = when;
    if (pk) {
      const int r = adpeak(v, pk, mode & 27, ch, when);
      if (!r) return false;
      trcint(8, "awaIT", 0, ch, v, r, 0, 0);
      waitdone(t, op, v, 5, (r & 1) ? pk->thigh : pk->tlow);
      return true;
    }
    const int was = s[1], now = v > thr;
    s[1] = static_cast<int16_t>(now);
    if (now == was || !crossmet(d, was)) return false;
    trcint(8, "awaIT", 0, ch, v, thr, 0, 0);
    waitdone(t, op, v, 5, when);
    return true;
  };
  if ((mode & 32) && !replays(ch)) {
    lastread = rts.now;
    ScanSrc src;
    if (!scansrc(ch, &src)) return false;
    int32_t row = scanrow(t);
    if (row >= src.rows) return false;
    for (; row < src.rows; row++) {
      const uint32_t when = src.start + static_cast<uint32_t>(row * src.tps);
      if (feed(scanval(src, row), when)) {
        setscanrow(t, row + 1);
        return true;
      }
    }
    setscanrow(t, row);
  } else {
    int v = 0;
    if (!sample(ch, &v)) return false;
    if (feed(v, rts.now)) return true;
  }
  if (pk) setdue(t, last + pk->delay);
  return false;
}

bool await(RtTask* t, const RtOp* op) {
  int16_t* s = t->slot;
  if (s[0] >= 0) return awaitnext(t, op);
  const int ch = -s[0] - 1;
  s[0] = static_cast<int16_t>(ch);
  if (ch >= NADCH) {
    // No time-out or detector for it: the op fails and goes on at once.
    rtoperr(nullptr, op, 808);
    waitdone(t, op, ADTIMEOUT, 5, rts.now);
    return true;
  }
  int mode = static_cast<uint16_t>(s[3]);
  PkRec* pk = nullptr;
  if (mode && (mode & 24)) {
    if (!pkrec[ch]) pkrec[ch] = static_cast<PkRec*>(std::calloc(1, sizeof(PkRec)));
    pk = pkrec[ch];
    if (!pk)
      mode &= 0x227;
    else if (pk->state & 0x400)
      mode &= 0x783F;
    if (jdebug > 1) logprintf("await init W %oo\n", static_cast<unsigned>(mode));
  }
  const int32_t tmo = rtarg(op, 8, 0);
  adtmo[ch] = tmo > 0 ? static_cast<uint32_t>(tmo) : NOTIMEOUT;
  if (ch >= nextchan && !replays(ch)) mode &= 0x227;
  if (!(mode & 24)) pk = nullptr;
  s[3] = static_cast<int16_t>(mode);
  if (pk) {
    if (!(mode & 0x80)) {
      // Learning starts again: calibrating (0x40) from a cleared record.
      *pk = PkRec{};
      pk->state = 0x80 | 0x40;
      pk->low = 32767;
      pk->high = -32767;
    }
    pk->mult = s[2];
    pk->span = static_cast<uint32_t>(rtarg(op, 6, 0));
    pk->delay = static_cast<uint32_t>(rtarg(op, 7, 0));
    pk->start = rts.now;
    if (pk->state & 0x40) pk->span *= 4;
    trcint(8, "await", 0, ch, mode, static_cast<int>(pk->span), static_cast<int>(pk->delay), pk->mult);
    return awaitnext(t, op);
  }
  trcint(8, "await0", 0, ch, mode, s[2], 0, 0);
  const int thr = s[2];
  if ((mode & 32) && !replays(ch)) {
    s[1] = -1;
    lastread = rts.now;
    ScanSrc src;
    setscanrow(t, scansrc(ch, &src) ? src.rows : 0);
    return false;
  }
  int v = 0;
  sample(ch, &v);
  s[1] = static_cast<int16_t>(v > thr);
  const int d = (mode & 3) - 1;
  s[3] = static_cast<int16_t>((mode & 0x38) | (mode & 3));
  if (!(mode & 4)) {
    trcint(8, " aWaIt", 0, ch, v, thr, s[1], 0);
    return false;
  }
  chkio(0);
  for (;;) {
    if (inpend(1) || (state & STOPBITS) || rts.now >= adtmo[ch]) return false;
    busytick();
    if (!sample(ch, &v)) continue;
    const int now = v > thr, was = s[1];
    if (now == was) continue;
    s[1] = static_cast<int16_t>(now);
    if (crossmet(d, was)) break;
  }
  if (jdebug > 1) logprintf("await() %d %d %d %d %d\n", ch, v, thr, mode, s[1]);
  rts.now = rtclock();
  waitdone(t, op, v, 5, rts.now);
  return true;
}

// ---- Digital and parallel-port waits ----------------------------------------------

bool dwait(RtTask* t, const RtOp* op) {
  int16_t* s = t->slot;
  // Whether a change ends the wait: slot 3 is the edge not wanted
  // (0 rising, 1 falling, 2 or -1 any change).
  auto edge = [&](int changed, int v) { return ((changed & v) != 0) != s[3]; };
  // A change met: the value, unless only logged.
  auto met = [&](int changed, int v) {
    t->result = static_cast<int16_t>(v);
    if (s[2] && !(changed & s[2])) {
      if (op->flg & OF_LOG) rtlog(rts.now, op, 0, v);
      return false;
    }
    waitdone(t, op, v, 4, rts.now);
    return true;
  };
  int32_t v = 0;
  if (s[0] < 0) {
    const int mask = -s[0] - 1;
    s[0] = static_cast<int16_t>(mask);
    getdig(&v, mask, 20);
    s[1] = static_cast<int16_t>(v & mask);
    trcint(8, " setdwait", 0, mask, s[1], s[3], 0, 0);
    const int e = (s[3] & 3) - 1;
    const bool busy = s[3] & 4;
    s[3] = static_cast<int16_t>(e);
    if (!busy) return false;
    for (;;) {
      if (inpend(1) || (state & STOPBITS)) return false;
      busytick();
      if (getdig(&v, mask, 36) < 0) continue;
      v &= mask;
      if (v == s[1]) continue;
      const int changed = s[1] ^ v;
      s[1] = static_cast<int16_t>(v);
      if (edge(changed, v) && met(changed, v)) return true;
    }
  }
  const int mask = s[0];
  if (getdig(&v, mask, 36) < 0) return false;
  v &= mask;
  if (v == s[1]) return false;
  const int changed = s[1] ^ v;
  trcint(8, " dwait", 0, mask, v, changed, 0, 0);
  s[1] = static_cast<int16_t>(v);
  if (!edge(changed, v)) return false;
  return met(changed, v);
}

bool ptest(int mode, int v, int target) {
  if (v < 1) return false;
  if (mode & 8) return v == target;
  if (mode & 16) return (v & target) == target;
  if (mode & 1) return v > target;
  if (mode & 2) return v < target;
  return false;
}

bool pwait(RtTask* t, const RtOp* op) {
  int16_t* s = t->slot;
  auto met = [&](int v) {
    trcint(8, " pwait", 0, s[0], v, s[2], s[3], 0);
    waitdone(t, op, v, 5, rts.now);
    return true;
  };
  if (s[0] < 0) {
    const int port = -s[0] - 1;
    s[0] = static_cast<int16_t>(port);
    s[1] = static_cast<int16_t>(pportin(port));
    if (s[3] & 32) s[2] = s[1];
    trcint(8, " setpwait", 0, port, s[1], s[2], s[3], 0);
    if (!(s[3] & 4)) return false;
    for (;;) {
      if (inpend(1) || (state & STOPBITS)) return false;
      busytick();
      const int v = pportin(port);
      if (v != s[1] && ptest(s[3], v, s[2])) return met(v);
    }
  }
  const int v = pportin(s[0]);
  if (v == s[1]) return false;
  s[1] = -1;
  if (!ptest(s[3], v, s[2])) return false;
  return met(v);
}

// ---- A/D reads and writes -----------------------------------------------------------

void aread(const RtOp* op) {
  const int mask = rtarg(op, 2, 0) & 0xFFFF;
  const int32_t limit = rtarg(op, 3, 0);
  const int stride = std::max(1, rtarg(op, 5, 1));
  RtOpnd* o1 = opk(op, 1);
  // Only an array takes the values (a constant's entry has no offset), and
  // only while its next element lies inside the limit.
  if (!elmptr(o1, 0) || int64_t(o1->offset) + rtebytes(o1) > limit) return;
  trcint(8, "aread ", 0, mask, limit, stride, 0, 0);
  Storetime(rts.now, opk(op, 4), op->flg);
  lastread = rts.now;
  int chans[NADCH], n = 0;
  int16_t vals[NADCH];
  if (!(mask & replaymask)) {
    // The channels the boards hold, read at once.
    uint32_t have = 0;
    for (const auto& b : boards)
      if (b.inkind) have |= static_cast<uint16_t>(b.inmask);
    have &= static_cast<uint32_t>(mask);
    for (int c = 0; c < NADCH; c++)
      if (have & (1u << c)) {
        vals[n] = adcval[c];
        chans[n++] = c;
      }
    if (n) adcvals(static_cast<int>(have), vals, 1, 7);
  } else {
    for (int c = 0; c < NADCH; c++) {
      if (!(mask & (1 << c))) continue;
      int v = 0;
      sample(c, &v);
      vals[n] = static_cast<int16_t>(v);
      chans[n++] = c;
    }
  }
  for (int i = 0; i < n; i++) {
    const int c = chans[i];
    putelm(vals[i], o1, i * stride);
    adcval[c] = vals[i];
    if (pkrec[c] && !(pkrec[c]->state & 0x400)) adpeak(vals[i], pkrec[c], 0, c, rts.now);
    trcint(8, " Aread", 0, c, vals[i], 0, 0, 0);
  }
}

void awrite(const RtOp* op) {
  const int ch = rtarg(op, 2, -1);
  const int mode = rtarg(op, 3, 0);
  if (ch < 0) return;
  if (mode && ch < NREPLAY) {
    // Operand 1 from its current element to its end replays as the channel.
    const RtOpnd* o1 = opk(op, 1);
    const int eb = rtebytes(o1);
    replay[ch] = Replay{elmptr(o1, 0), o1 ? o1->type : 16, eb > 0 ? static_cast<int32_t>(rtleft(o1) / eb) : 0};
    if (!replay[ch].p) replay[ch].n = 0;
    replaymask |= static_cast<uint16_t>(1 << ch);
    return;
  }
  dacout(ch, static_cast<int>(rtfarg(op, 1, 0)));
}

// ---- Background scans -------------------------------------------------------------

McVar mcvar(const RtOpnd* o) {
  const int eb = rtebytes(o);
  uint8_t* p = elmptr(o, 0);
  if (!p || eb < 1) return McVar{};
  return McVar{p, o->type, rtleft(o) / eb};
}

void ascan(RtTask* t, const RtOp* op) {
  const int mask = rtarg(op, 1, 0) & 0xFFFF;
  const int rate = rtarg(op, 2, -1);
  const int count = rtarg(op, 4, 0);
  const int mode = rtarg(op, 5, 0);
  const int step = rtarg(op, 7, 1);
  RtOpnd* cnt = op->len >= 12 ? opk(op, 8) : nullptr;
  const int32_t had = scan.scans;
  if (rate > 0) {
    if (mode & 8) scanword = mask;
    scan.start = rts.now;
    scan.scans = 0;
  }
  if (!(scanword & mask)) {
    int r;
    if (rate < 0) {
      // The board scan stops, what it acquired collected.
      r = mcbusy() ? mcscan() : 0;
      mcstop(0, 0);
    } else if (rate == 0) {
      r = adcscan(mask, 0, 0, 0, McVar{}, McVar{}, 0, nullptr);  // collects
    } else {
      r = adcscan(mask, rate, count, mode, mcvar(opk(op, 3)), mcvar(opk(op, 6)), step, &scan.scans);
      // A scan refused before the running one was stopped leaves that one
      // counting on, so that it never writes over the rows it has taken.
      if (r < 0 && mcbusy()) scan.scans = had;
    }
    t->result = static_cast<int16_t>(r);
    putval(scan.scans, cnt);
    return;
  }
  if (rate < 0) {
    scanword = 0;
  } else if (rate > 0) {
    scan.rate = rate;
    scan.mask = mask;
    scan.nch = std::max(1, std::popcount(static_cast<uint32_t>(mask)));
    const RtOpnd* d = opk(op, 3);
    scan.count = count > 0 ? count : static_cast<int32_t>(rtnelm(d) * rtebytes(d) / 2 / scan.nch);
    scan.data = opk(op, 3);
    scan.time = opk(op, 6);
    scan.mode = mode;
    scan.cnt = cnt;
    scan.step = step;
  } else if (scan.rate > 0) {
    int64_t n = int64_t(scan.rate) * int64_t(rts.now - scan.start) / 50000;
    n = std::min<int64_t>(n, scan.count);
    if (n > scan.scans) {
      const int32_t per = 50000 / scan.rate;
      for (int64_t i = scan.scans; i < n && scan.time && i < rtnelm(scan.time); i++)
        if (uint8_t* p = baseptr(scan.time, static_cast<int>(i)))
          putitm(static_cast<int32_t>(scan.start + static_cast<uint32_t>(i * per)), p, scan.time->type, 0);
      scan.scans = static_cast<int32_t>(n);
      // The operands' current elements follow the scans taken.
      if (scan.data) rtsetoff(scan.data, n * scan.nch * rtebytes(scan.data));
      if (scan.time) rtsetoff(scan.time, n * rtebytes(scan.time));
      putval(scan.scans, scan.cnt);
    }
  }
}

// ---- Ports, eye tracker, position input, sound -----------------------------------

void portop(RtOp* op, bool write) {
  const int port = rtarg(op, 2, 0);
  RtOpnd* o1 = opk(op, 1);
  int r = 0;
  if (port >= 100) {
    if (write) {
      r = pportout(rtarg(op, 1, 0) & 255, port);
    } else {
      r = pportin(port);
      putval(r, o1);
    }
    return;
  }
  if (port < 1 || port > NCOMSLOT) return;
  int count = std::max(1, rtarg(op, 3, 1));
  const int mode = rtarg(op, 4, 0);
  if (mode) comini(port - 1, mode);
  char* p = reinterpret_cast<char*>(elmptr(o1, 0));
  // Never past operand 1's end; a constant writes its value's low byte.
  char one = static_cast<char>(rtarg(op, 1, 0));
  if (p) {
    count = static_cast<int>(std::min<int64_t>(count, rtleft(o1)));
  } else if (write && o1) {
    p = &one;
    count = 1;
  } else {
    count = 0;
  }
  if (count > 0)
    r = write ? cwrite(port - 1, p, count) : comread(port - 1, p, count, rtarg(op, 5, 0));
  if (op->flg & OF_ADV) op->extra = r;
}

}  // namespace

bool rtnoadv(const RtOp* op) {
  if (op->opc != R_PREAD) return false;
  const int port = rtarg(op, 2, 0);
  return port >= 1 && port <= NCOMSLOT && op->extra <= 0;
}

namespace {

bool eyepos(RtTask* t, const RtOp* op) {
  const int mode = rtarg(op, 2, 519);
  if (!mode) return true;
  int16_t v[8] = {};
  uint32_t when = 0;
  const int n = eyepkt(v, mode, &when);
  if (n <= 0) return false;
  // X, Y and the pupil sizes, as far as operand 1 has room.
  RtOpnd* o1 = opk(op, 1);
  const int words = (mode & 2) ? 4 : 2;
  for (int i = 0; i < words; i++) putelm(v[i], o1, i);
  putval(static_cast<int32_t>(when), opk(op, 3));
  t->result = static_cast<int16_t>(n);
  return true;
}

bool getxy(RtTask* t, const RtOp* op) {
  const int mode = t->slot[0];
  RtOpnd* o1 = opk(op, 1);
  int32_t x = musx, y = musy;
  if (mode & 2) {
    BoardRec* b = nullptr;
    for (auto& r : boards)
      if (r.inkind == DK_GAMEPORT) {
        b = &r;
        break;
      }
    if (!b) return false;
    int jx = 0, jy = 0, jz = 0, st = 0;
    const int btn = getjoy(b, &jx, &jy, &jz, 0, &st);
    if (st < 0) return false;
    if (mode & 1) {
      putelm(btn, o1, 0);
    } else {
      // The halved positions (0 to 32767) across the whole screen.
      putelm(static_cast<int32_t>(int64_t(jx) * scrwid / 32767), o1, 0);
      putelm(static_cast<int32_t>(int64_t(jy) * scrhgt / 32767), o1, 1);
    }
  } else {
    if (mode & 1) {
      const int key = inpend(1) ? getkey(1) : inend() ? getkey(0) : 0;
      if (jdebug) logprintf("r_getxy %d: %d %d\n", key, musx, musy);
      if (key <= 0 && !jdebug) return false;
    } else {
      while (chkio(1) > 0) {
      }
    }
    x = musx;
    y = musy;
    putelm(x, o1, 0);
    putelm(y, o1, 1);
  }
  Storetime(rts.now, opk(op, 3), op->flg);
  setdue(t, rts.now);
  if (mode) rts.flags &= static_cast<uint16_t>(~RF_NOPUMP);
  return true;
}

void rtsound(RtTask* t, const RtOp* op) {
  const int sl = t->slot[2];
  trcint(8, "sound", 0, sl, t->slot[0], 0, 0, 0);
  if (sl < 0 || sl >= RTSLOTS || !rts.str[sl]) {
    sound(-2, nullptr, 0);
    return;
  }
  int mode = rtarg(op, 1, 1);
  if (mode < 1) mode = 1;
  mode &= 15;
  const int fourth = mode >= 3 ? rtarg(op, 3, 10) : sl;
  trcstr(8, "sound", mode, rts.str[sl], fourth);
  sound(mode, rts.str[sl], fourth);
  xfree(rts.str[sl]);
  rts.str[sl] = nullptr;
  t->slot[2] = -1;
  if (mode >= 3) rts.now = rtclock();
}

}  // namespace

int adpeak(int value, PkRec* pk, int flags, int ch, uint32_t now) {
  int cand;
  if (flags && (pk->state & 0x200)) {
    cand = pk->state & ~0x200;
  } else {
    int event = 0;
    if (value > pk->high) {
      pk->midpk = static_cast<int16_t>((pk->high + pk->low) >> 1);
      pk->high = static_cast<int16_t>(value);
      pk->thigh = now;
      event = 17;
      if (pk->low > value) pk->low = static_cast<int16_t>(value + 1);
    } else if (value < pk->low) {
      pk->midvl = static_cast<int16_t>((pk->high + pk->low) >> 1);
      pk->low = static_cast<int16_t>(value);
      pk->tlow = now;
      event = 18;
    }
    if (pk->state & 0x1C0) {
      // Calibrating: the levels and the pace of the signal are learnt.
      if (static_cast<int32_t>(now - (pk->start + pk->span)) < 0) return 0;
      if (pk->high == pk->low) {
        pk->start = now;
        return 0;
      }
      pk->span /= 4;
      const int pos = (value - pk->low) * 100 / (pk->high - pk->low);
      const int32_t d = static_cast<int32_t>(pk->thigh - pk->tlow);
      const uint32_t ad = static_cast<uint32_t>(d < 0 ? -int64_t(d) : d);
      pk->hold = static_cast<int32_t>(ad / 100);
      if (pk->mult) pk->hold *= pk->mult;
      int ns;
      if (pk->thigh > ad)
        ns = 17;
      else if (pk->tlow > ad)
        ns = 18;
      else if (pos < 51)
        ns = d < 0 ? 9 : 10;
      else
        ns = d < 0 ? 18 : 17;
      if (!flags) ns |= 0x200;
      trcint(8, "adinit", ch, pk->low, pk->high, pk->hold, ns, static_cast<int>(pk->span));
      trcint(8, "adinit", ch + 100, value, pos, d, static_cast<int>(pk->thigh), static_cast<int>(pk->tlow));
      pk->state = static_cast<uint16_t>(ns);
      return 0;
    }
    cand = event;
    if (!event) {
      const int st = pk->state;
      cand = st & ~0x200;
      if ((st & 1) && !(st & 8)) {
        if (static_cast<int32_t>(now - pk->thigh) > pk->hold) cand = 9;
      } else if (st & 1) {
        if (value < pk->midvl) {
          pk->low = static_cast<int16_t>(value);
          pk->tlow = now;
          cand = 18;
        }
      } else if (!(st & 8)) {
        if (static_cast<int32_t>(now - pk->tlow) > pk->hold) cand = 10;
      } else if (value > pk->midpk) {
        pk->high = static_cast<int16_t>(value);
        pk->thigh = now;
        cand = 17;
      }
      if (trcmsk && ((trcmsk & 1) || !(trcmsk & 16)))
        jprintf(dbglun, "adpeak(%d) %d: %d %d %d -> %d\n", ch, value, pk->low, pk->high, st, cand);
    }
  }
  if (cand == pk->state) return 0;
  if ((trcmsk & 1) && static_cast<int32_t>(now - (pk->start + pk->span)) >= 0)
    jprintf(dbglun, "adpeak(%d) %d: state %d -> %d\n", ch, value, pk->state, cand);
  if (!flags) {
    pk->state = static_cast<uint16_t>(cand | 0x200);
    return 0;
  }
  if (static_cast<int32_t>(now - (pk->start + pk->span)) >= 0 && (cand & 27) == flags) {
    pk->start = now;
    return cand;
  }
  pk->state = static_cast<uint16_t>(cand);
  return 0;
}

void rtioini() {
  rtioend();
  std::memset(replay, 0, sizeof replay);
  replaymask = 0;
  lastread = 0;
  for (auto& x : adtmo) x = NOTIMEOUT;
  scan = RtScan{};
  scanword = 0;
  lastdout = 0;
}

void rtioend() {
  mcstop(0, 0);
  for (auto& p : pkrec) {
    std::free(p);
    p = nullptr;
  }
}

bool rtio(RtTask* t, RtOp* op) {
  switch (op->opc) {
    case R_UWAIT: return uwait(t, op);
    case R_AWAIT: return await(t, op);
    case R_DWAIT: return dwait(t, op);
    case R_PWAIT: return pwait(t, op);
    case R_SWAIT:
      if (sndplaying && audbusy()) return false;
      setdue(t, rts.now);
      return true;
    case R_AREAD: aread(op); return true;
    case R_AWRITE: awrite(op); return true;
    case R_DREAD: {
      int32_t v = 0;
      getdig(&v, rtarg(op, 3, -1), rtarg(op, 4, 0));
      putval(v, opk(op, 1));
      Storetime(rts.now, opk(op, 2), 0);
      return true;
    }
    case R_DWRITE: {
      int v = rtarg(op, 1, 0) & 0x7FFF;
      if (opk(op, 2)) v = (lastdout & ~rtarg(op, 2, 0)) | v;
      lastdout = static_cast<int16_t>(v);
      digout(v);
      trcint(8, "dwrite", 0, v, 0, 0, 0, 0);
      if (opk(op, 3)) Storetime(rts.now, opk(op, 3), OF_ADV);
      return true;
    }
    case R_PREAD: portop(op, false); return true;
    case R_PWRITE: portop(op, true); return true;
    case R_EYEPOS: return eyepos(t, op);
    case R_GETXY: return getxy(t, op);
    case R_ASCAN: ascan(t, op); return true;
    case R_SOUND: rtsound(t, op); return true;
    case R_TONE:
      sysbeep(rtarg(op, 2, 1000), rtarg(op, 1, 100));
      rts.now = rtclock();
      return true;
    case R_FSEEK: rtfseek(op); return true;
    case R_FOPEN: case R_FREAD: case R_FWRITE: case R_FWAIT: case R_FCLOSE: return RTFilio(t, op);
    default: return true;
  }
}
