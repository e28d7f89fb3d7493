// The MeasComp boards through the run-time loaded board library: loading
// and board set-up, single reads and digital writes, the call command, and
// background scans.
#include "realtime/devices/meascomp.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "files/dirutil.h"
#include "lang/cmdcodes.h"
#include "lang/keywords.h"
#include "realtime/devices/devlib.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/mclib.h"
#include "ui/clocks.h"
#include "ui/screen.h"

McScanRec mcrec;

namespace {

constexpr const char* DEFLIB = "libpelix_mccomedi.so";

// The 13 entry points, looked up by name.
struct McLib {
  decltype(&cbGetConfig) getconfig;
  decltype(&cbSetConfig) setconfig;
  decltype(&cbAIn) ain;
  decltype(&cbAOut) aout;
  decltype(&cbWinBufAlloc) bufalloc;
  decltype(&cbWinBufFree) buffree;
  decltype(&cbGetIOStatus) iostatus;
  decltype(&cbAInScan) ainscan;
  decltype(&cbStopIOBackground) stopio;
  decltype(&cbWinBufToArray) buftoarray;
  decltype(&cbDIn) din;
  decltype(&cbDOut) dout;
  decltype(&cbDConfigPort) dconfigport;
  decltype(&mcErrText) errtext;  // optional: why a call failed
};
void* lib;
McLib mc;
bool all13;

// The board command words.
enum : int {
  CB_GETCONFIG = CM_BOARD + 1,
  CB_SETCONFIG,
  CB_DIGCONFIGPORT,
  CB_DIGIN,
  CB_DIGOUT,
};
constexpr int NCB = 5;
// The number of arguments each board word expects.
constexpr int16_t cbargs[NCB] = {0, 0, 0, 0, 0};

template <typename F>
void find(F* f, const char* name) {
  *f = reinterpret_cast<F>(devsym(lib, name));
}

// Loads the library (once): 0 all there, 3 an entry point missing, -2 no
// library.
int mcload() {
  if (!lib) {
    const char* env = std::getenv("PELIX_LIB_MEASCOMP");
    const char* name = env && *env ? env : DEFLIB;
    std::string why;
    lib = devlib(name, &why);
    if (!lib) {
      jprintf(lstlun, "Warning: meascomp driver not found: %s\n", name);
      logprintf("meascomp library %s: %s\n", name, why.c_str());
      return -2;
    }
    find(&mc.getconfig, "cbGetConfig");
    find(&mc.setconfig, "cbSetConfig");
    find(&mc.ain, "cbAIn");
    find(&mc.aout, "cbAOut");
    find(&mc.bufalloc, "cbWinBufAlloc");
    find(&mc.buffree, "cbWinBufFree");
    find(&mc.iostatus, "cbGetIOStatus");
    find(&mc.ainscan, "cbAInScan");
    find(&mc.stopio, "cbStopIOBackground");
    find(&mc.buftoarray, "cbWinBufToArray");
    find(&mc.din, "cbDIn");
    find(&mc.dout, "cbDOut");
    find(&mc.dconfigport, "cbDConfigPort");
    find(&mc.errtext, "mcErrText");
    all13 = mc.getconfig && mc.setconfig && mc.ain && mc.aout && mc.bufalloc && mc.buffree && mc.iostatus &&
            mc.ainscan && mc.stopio && mc.buftoarray && mc.din && mc.dout && mc.dconfigport;
  }
  return all13 ? 0 : 3;
}

// A failed board call: its code printed, with the library's reason when
// it gives one; minus the code.
int mcfail(int code) {
  jprintf(lstlun, "Error initializing MeasComp USB DAQ: %d\n", -code);
  char why[200];
  if (code > 0 && mc.errtext && mc.errtext(code, why, sizeof why) == 0) jprintf(lstlun, "   %s\n", why);
  return -code;
}

int16_t pick(const McVar& v, int64_t i) {
  const uint8_t* p = v.data + i * ((v.type & 63) >> 3);
  return static_cast<int16_t>(getitm(p, v.type, 0));
}

void put(const McVar& v, int64_t i, int32_t x) { putitm(x, v.data + i * ((v.type & 63) >> 3), v.type, 0); }

// Copies rows [from, from + rows) of the buffer (already known to lie
// inside it) to the variables from row n on.
void copyrows(const uint16_t* buf, int32_t from, int32_t rows, int32_t n) {
  McScanRec& r = mcrec;
  const int nch = r.nch;
  if (r.data.type == 16 && r.stride == 1 && nch == r.span) {
    // Every channel of the span, rows one after the other: one copy.
    std::memcpy(r.data.data + int64_t(n) * r.step * 2, buf + from, size_t(rows) * r.span * 2);
  } else if (r.data.type == 16) {
    int16_t* d = reinterpret_cast<int16_t*>(r.data.data);
    for (int32_t i = 0; i < rows; i++) {
      const uint16_t* s = buf + from + int64_t(i) * r.span;
      int16_t* o = d + int64_t(n + i) * r.step;
      for (int j = 0; j < nch; j++) o[int64_t(j) * r.stride] = static_cast<int16_t>(s[r.col[j]]);
    }
  } else {
    for (int32_t i = 0; i < rows; i++) {
      const uint16_t* s = buf + from + int64_t(i) * r.span;
      for (int j = 0; j < nch; j++) put(r.data, int64_t(n + i) * r.step + int64_t(j) * r.stride, s[r.col[j]]);
    }
  }
  if (r.time.data)
    for (int32_t i = 0; i < rows; i++)
      put(r.time, n + i, static_cast<int32_t>(static_cast<uint32_t>(std::llround(r.start + (n + i) * r.tps))));
}

// The rows the variables take: below the capacity, and every element of a
// row inside the data (and the time) variable.
int32_t rowlimit() {
  const McScanRec& r = mcrec;
  int64_t lim = r.cap > 0 ? r.cap - 1 : 0;
  const int64_t reach = int64_t(r.nch - 1) * r.stride;  // the last channel's offset in a row
  const int64_t fit = r.data.nelem > reach ? (r.data.nelem - 1 - reach) / std::max(1, r.step) + 1 : 0;
  lim = std::min(lim, fit);
  if (r.time.data) lim = std::min(lim, r.time.nelem);
  return static_cast<int32_t>(std::max<int64_t>(lim, 0));
}

}  // namespace

int init_meascomp(BoardRec* b) {
  const int bn = b ? b->inunit : -1;
  if (logfp) {
    logprintf("init_meascomp: %d  %0xh (jdbg=%d)\n", bn, b ? static_cast<unsigned>(b->param) : 0u,
              static_cast<int>(jdebug));
    std::fflush(logfp);
  }
  mcstop(0, 0);
  mcrec = McScanRec{};
  int r = mcload();
  if (!b || r < 0) return r;
  int rc = 0;
  if (r != 0) {
    r = -3;
    jprintf(lstlun, "Error initializing MeasComp USB DAQ: %d\n", r);
  } else {
    int range = b->param;
    if (b->nin >= 1) {
      int n = 0;
      rc = mc.getconfig(MC_BOARDINFO, bn, 0, MC_NUMADCHANS, &n);
      logprintf("mc getconf(%d) -> %d %d (%d)\n", bn, rc, n, range);
      if (rc == 0 && n == 8 && range != 1) {
        jprintf(lstlun, "Warning: meascomp in 8 chan config, range changed to 1 (+-10v)\n");
        range = b->param = 1;
      }
    }
    const int digbits = b->nports * b->portbits;
    int16_t st = 0;
    int32_t cnt = 0, idx = 0;
    if (rc == 0) rc = mc.iostatus(bn, &st, &cnt, &idx, MC_AIFUNCTION);
    if (rc == 0) rc = mc.stopio(bn, MC_AIFUNCTION);
    uint16_t v = 0;
    if (rc == 0 && b->nin >= 1) rc = mc.ain(bn, 0, range, &v);
    if (rc == 0 && digbits > 0) {
      rc = mc.dconfigport(bn, MC_PORTA, MC_DIGOUT);
      if (rc == 0) rc = mc.dconfigport(bn, MC_PORTB, MC_DIGIN);
      if (rc == 0) {
        b->ndigout = static_cast<int16_t>(std::popcount(static_cast<uint16_t>(b->portmask)));
        b->ndigin = static_cast<int16_t>(std::max(0, digbits - b->ndigout));
        b->digmask = static_cast<int16_t>(b->ndigin >= 16 ? 0xFFFF : (1 << b->ndigin) - 1);
        b->outkind = DK_MEASCOMP;
        mcrec.packet = 31;
      }
    }
    r = rc == 0 ? 1 : mcfail(rc);
  }
  logprintf("init_meascomp -> %d\n", r);
  if (trcmsk) jprintf(dbglun, "init_meascomp: %d\n", r);
  return r;
}

int mcain(BoardRec* b, int k, int* value) {
  *value = 0;
  if (!lib || !all13) return -3;
  const int ch = b->in0 + k;
  if (mcrec.buf && mcrec.brd == b) {
    // While a run lasts the scan is collected first; outside one (a paused
    // program) its variables are not touched and the value stays.
    if (!(scrflags & 0x200)) return 1;
    if (!(mcrec.mask & (1 << ch))) return 0;
    mcscan();
    const int32_t n = mcrec.counter ? *mcrec.counter : 0;
    if (n <= 0) return 1;
    int j = std::popcount(static_cast<uint32_t>(mcrec.mask) & ((1u << ch) - 1));
    *value = static_cast<uint16_t>(pick(mcrec.data, int64_t(n - 1) * mcrec.step + int64_t(j) * mcrec.stride));
    return 0;
  }
  uint16_t v = 0;
  const int rc = mc.ain(b->inunit, k, b->param, &v);
  *value = v;
  return -rc;
}

int mcdout(BoardRec* b, int port, int bits) {
  if (!lib || !all13) return -3;
  return -mc.dout(b->outunit, port, static_cast<uint16_t>(bits));
}

int callcb(int n) {
  char name[64] = {0};
  int code = CM_HELP;  // the word alone lists the board words
  if (nargs() >= n) {
    int l = argtext(n, name, sizeof name);
    code = l > 0 ? cmdlook(name, &l) : -1;
  }
  if (code != CM_HELP && code != CM_LIST && (code <= CM_BOARD || code > CM_BOARD + NCB)) {
    error(0, 106);
    jprintf(errlun, "%s: not found\n", name);
    return 0;
  }
  if (code == CM_HELP || code == CM_LIST) {
    char next[64] = {0};
    int l = argtext(n + 1, next, sizeof next);
    int c2 = l > 0 ? cmdlook(next, &l) : -1;
    if (c2 > CM_BOARD && c2 <= CM_BOARD + NCB) {
      jprintf(lstlun, "%s expects %d arguments\n", cmdtxt(c2), cbargs[c2 - CM_BOARD - 1]);
    } else {
      for (int i = 1; i <= NCB; i++) jprintf(lstlun, i < NCB ? "%-17s" : "%s\n", cmdtxt(CM_BOARD + i));
    }
    return 0;
  }
  const char* word = cmdtxt(code);
  const int given = std::max(0, nargs() - n);
  if (given < cbargs[code - CM_BOARD - 1]) {
    jprintf(errlun, "command %s expects %d arguments\n", word, cbargs[code - CM_BOARD - 1]);
    return 0;
  }
  int a[5];
  float f[5];
  for (int i = 0; i < 5; i++) {
    a[i] = intarg(n + 1 + i, 0);
    f[i] = fltarg(n + 1 + i, 0.0f);
  }
  (void)f;  // the board words take integers only
  if (!lib || !all13) {
    const int r = init_meascomp(nullptr);
    if (r != 0) {
      // Without all 13 entry points the library is not used.
      if (r > 0) jprintf(lstlun, "Error initializing MeasComp USB DAQ: %d\n", -3);
      setres(r < 0 ? r : -3, 0);
      return 0;
    }
  }
  trcint(1, " prims", code, a[0], a[1], a[2], a[3], a[4]);
  int rc = 0, v = 0;
  bool hasval = false;
  switch (code) {
    case CB_GETCONFIG:
      rc = mc.getconfig(a[0], a[1], a[2], a[3], &v);
      hasval = true;
      break;
    case CB_SETCONFIG: rc = mc.setconfig(a[0], a[1], a[2], a[3], a[4]); break;
    case CB_DIGCONFIGPORT: rc = mc.dconfigport(a[0], a[1], a[2]); break;
    case CB_DIGIN: {
      uint16_t w = 0;
      mc.din(a[0], a[1], &w);  // its own result is not kept
      v = w;
      hasval = true;
      break;
    }
    case CB_DIGOUT: rc = mc.dout(a[0], a[1], static_cast<uint16_t>(a[2])); break;
    default: break;
  }
  jprintf(lstlun, "call %s -> return val = %d (%d)\n", word, rc, hasval ? v : 0);
  // The library reports a failure by a code other than 0; the code then
  // stays the result.
  if (rc != 0)
    jprintf(errlun, "error in function = %d\n", rc);
  else if (hasval)
    rc = v;
  setres(rc, 0);
  return 0;
}

int adcscan(int mask, int rate, int count, int options, const McVar& data, const McVar& time, int stride,
            int32_t* counter) {
  if (rate == 0) return mcrec.buf ? mcscan() : -1;
  if (!lib || !all13) return -2;
  mask &= 0xFFFF;
  // Every channel of the mask counts towards the room a row takes.
  const int nch = std::popcount(static_cast<uint32_t>(mask));
  if (nch < 1 || rate < 0) return -2;
  int64_t cap = data.nelem / nch;
  if (time.data && time.nelem > 0 && time.nelem < cap) cap = time.nelem;
  if (count > cap) count = static_cast<int32_t>(cap);
  BoardRec* b = nullptr;
  for (auto& x : boards) {
    if (!(x.inmask & mask)) continue;
    if (x.inkind != DK_MEASCOMP) return -2;
    if (!b) b = &x;
  }
  if (!b) return -2;
  if (mcrec.buf) {
    // The old scan is collected into its own variables; the new one counts
    // from what the caller gave.
    const int32_t given = counter ? *counter : 0;
    mcscan();
    mcstop(0, 0);
    if (counter) *counter = given;
  }
  const uint32_t bits = static_cast<uint32_t>(mask & b->inmask);
  const int lowbit = std::countr_zero(bits), highbit = 31 - std::countl_zero(bits);
  const int low = lowbit - b->in0, high = highbit - b->in0;
  const int span = high - low + 1;
  int opt = options ? options : 3;
  opt &= 7;
  int64_t length = (opt & 4) ? count : int64_t(rate) * 60;
  if (!(opt & 2) || count < length) length = count;
  int64_t total = span * length;
  const int p = mcrec.packet;
  if (p > 0) {
    int64_t q = int64_t(p / span) * span;
    if (q == 0) q = int64_t(p) * span;
    total = std::max(q, total - total % q);
  }
  total = std::min<int64_t>(total, 0x7FFFFFFF);
  McScanRec& r = mcrec;
  r = McScanRec{};
  r.packet = static_cast<uint16_t>(p);
  r.buf = mc.bufalloc(static_cast<int32_t>(total));
  if (!r.buf) return -4;
  r.options = static_cast<uint16_t>(opt);
  r.span = static_cast<uint16_t>(span);
  r.board = b->inunit;
  r.low = low;
  r.high = high;
  r.lowbit = lowbit;
  r.mask = static_cast<int32_t>(bits);
  r.nch = static_cast<uint16_t>(std::popcount(bits));
  for (int c = lowbit, j = 0; c <= highbit; c++)
    if (bits & (1u << c)) r.col[j++] = static_cast<int16_t>(c - lowbit);
  r.asked = count;
  r.rate = rate;
  r.counter = counter;
  r.data = data;
  r.time = time;
  r.stride = std::max(1, stride);
  r.step = stride > 1 ? 1 : span;
  r.total = static_cast<int32_t>(total);
  r.cap = static_cast<int32_t>(std::min<int64_t>(cap, 0x7FFFFFFF));
  r.brd = b;
  int32_t got = rate;
  const int rc = mc.ainscan(r.board, low, high, r.total, &got, b->param, r.buf, opt & 3);
  trcint(4, "adcscan", 0, mask, rate, count, static_cast<int>(total), rc);
  if (rc != 0) {
    logprintf("MC adc_scan err (%d): %s\n", rc, rc == 146 ? "Count not multiple of packet size" : rc == 24 ? "Bad rate" : "");
    mc.buffree(r.buf);
    r = McScanRec{};
    r.packet = static_cast<uint16_t>(p);
    return -rc;
  }
  r.rate = got;
  r.start = rtclock();
  r.last = 0;
  r.tps = got > 0 ? 50000.0 / got : 0.0;
  return 0;
}

int mcscan() {
  McScanRec& r = mcrec;
  if (!r.buf || !r.brd || r.brd->inkind != DK_MEASCOMP) return -1;
  int16_t status = 0;
  int32_t cnt = 0, index = 0;
  if (mc.iostatus(r.board, &status, &cnt, &index, MC_AIFUNCTION) != 0 || status != MC_RUNNING || index < 0) return 0;
  r.libcount = cnt;
  int32_t idx = index + r.span;
  if (idx > r.total) idx = r.total;
  if (idx == r.last) return 0;
  int32_t n = r.counter ? *r.counter : 0;
  const int32_t lim = rowlimit();
  const uint16_t* buf = static_cast<const uint16_t*>(r.buf);
  int copied = 0;
  while (r.last != idx) {
    // A wrapped buffer is taken to its end first, then from 0.
    const int32_t end = idx < r.last ? r.total : idx;
    int32_t rows = (end - r.last) / r.span;
    rows = std::max(0, std::min(rows, lim - n));
    if (rows > 0) copyrows(buf, r.last, rows, n);
    n += rows;
    copied += rows;
    r.last = end == r.total && idx < r.last ? 0 : end;
  }
  if (r.counter) *r.counter = n;
  return copied;
}

int mcstop(int, int what) {
  McScanRec& r = mcrec;
  if (!r.buf || !lib) return 0;
  if (what == 0) what = 3;
  if (what & 1) mc.stopio(r.board, MC_AIFUNCTION);
  if (what & 2) {
    mc.buffree(r.buf);
    r.buf = nullptr;
  }
  return 0;
}

bool mcbusy() { return mcrec.buf != nullptr; }

void mcunload() {
  mcstop(0, 0);
  mcrec = McScanRec{};
  devfree(lib);
  lib = nullptr;
  mc = McLib{};
  all13 = false;
}
