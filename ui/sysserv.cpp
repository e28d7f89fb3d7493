#include "ui/sysserv.h"

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "ui/events.h"
#include "ui/platform/audio.h"
#include "ui/platform/backend.h"
#include "ui/platform/clock.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/sysinfo.h>
#include <vector>

uint32_t totphys = 0, availphys = 0;
Cursor8 ringcur{}, barcur{};

uint32_t clamp32(unsigned long long v) {
  return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

namespace {
// A count for a "%d" field: clamped to the largest positive int.
int clampint(unsigned long long v) { return v > INT_MAX ? INT_MAX : static_cast<int>(v); }

int ports = WINTAB;      // entries of the window table
bool menubar = false;    // the menu bar exists
}  // namespace

int memstat() {
  struct sysinfo si;
  if (sysinfo(&si) != 0) return 0;
  unsigned long long unit = si.mem_unit ? si.mem_unit : 1;
  unsigned long long tot = static_cast<unsigned long long>(si.totalram) * unit;
  unsigned long long avail = (static_cast<unsigned long long>(si.freeram) + si.bufferram) * unit;
  unsigned long long tswap = static_cast<unsigned long long>(si.totalswap) * unit;
  unsigned long long aswap = static_cast<unsigned long long>(si.freeswap) * unit;
  totphys = clamp32(tot);
  availphys = clamp32(avail);
  int load = tot ? static_cast<int>(100 - std::min(avail, tot) * 100 / tot) : 0;
  if (logfp) {
    logprintf("Memory(%d):\n MemLoad=   %d\n TotPhys=   %u\n AvailPhys= %u\n", 32, load, totphys,
              availphys);
    logprintf(" TotSwap=   %d\n AvailSwap= %d\n TotVirt=   %u\n AvailVirt= %u\n", clampint(tswap),
              clampint(aswap), clamp32(tot + tswap), clamp32(avail + aswap));
    std::fflush(logfp);
  }
  return 0;
}

int endwin() {
  if (logfp) {
    std::fclose(logfp);
    logfp = nullptr;
  }
  TaskBar(1);
  return 0;
}

int TaskBar(int show) {
  // There is no task bar to find on this platform.
  if (jdebug && logfp) logprintf(" TaskBar(%d) -> %d (%d)\n", show, 0, 0);
  return 0;
}

int portcount() { return ports; }

int initports(int n) {
  int want = std::max(n, ports);
  trcint(8, "initports", 0, n, ports, want, 0, 0);
  if (want < 8 || want == ports || want > 1000) return 0;
  // The window table is a fixed array of WINTAB entries; a larger table
  // cannot be had.
  if (want > WINTAB) return -1;
  ports = want;
  return ports;
}

int mkcursors() {
  static const uint8_t ring[8] = {0x38, 0x66, 0x42, 0x81, 0x81, 0x42, 0x66, 0x38};
  static const uint8_t bar[8] = {0x05, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x05};
  std::memcpy(ringcur.andmask, ring, 8);
  std::memcpy(ringcur.xormask, ring, 8);
  ringcur.hotx = 4;
  ringcur.hoty = 4;
  std::memcpy(barcur.andmask, bar, 8);
  std::memcpy(barcur.xormask, bar, 8);
  barcur.hotx = 6;
  barcur.hoty = 7;
  return 0;
}

int mkmenubar() {
  menubar = true;
  return 0;
}

int msgbeep() {
  backend()->beep();
  return 0;
}

int sysbeep(int duration, int frequency) {
  // A sine tone of the frequency (37 to 32767 Hz) played through the audio
  // layer; the call returns when it has sounded, as the platform's beep did.
  if (duration <= 0 || frequency < 37 || frequency > 32767) return -1;
  constexpr uint32_t rate = 44100;
  const uint64_t n = std::min<uint64_t>(uint64_t(duration) * rate / 1000, uint64_t(rate) * 60);
  std::vector<int16_t> tone(static_cast<size_t>(n));
  for (uint64_t i = 0; i < n; i++)
    tone[i] = static_cast<int16_t>(std::lround(16384.0 * std::sin(2.0 * M_PI * frequency * double(i) / rate)));
  if (n == 0 || audout(wavpcm(rate)) != 0 || audqueue(tone.data(), static_cast<uint32_t>(n * 2)) != 0) {
    backend()->beep();
    return -1;
  }
  while (clock_ns() < audend()) {
    chkio(0);  // Ctrl-C cuts it short
    if (state & (ST_ERROR | ST_INTR | ST_STOP)) {
      audstop();
      break;
    }
    const uint64_t left = audend() - clock_ns();
    clock_sleep_ns(std::min<uint64_t>(left, 10000000ull));
  }
  return 0;
}

const char* getenvs(const char* name) {
  static char buf[301];
  if (!name || !*name) return nullptr;
  char low[41];
  int n = 0;
  for (; n < 40 && name[n]; n++) low[n] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[n])));
  low[n] = 0;
  // A string variable of the program first.
  if (lowstk && cursym > 0) {
    uint16_t flags = 0;
    int32_t e = GETSYM(low, n, &flags, 1);
    if (e > 0 && (flags & SY_STRING) && !(flags & SY_LIST)) {
      const SymEnt* s = symptr(e);
      if (s && s->value > 0 && s->data > 0) {
        GETCHV(e, buf, sizeof buf, 1);
        if (buf[0]) return buf;
      }
    }
  }
  return std::getenv(name);
}

int sysint() {
  int intno = intarg(2, 0);
  if (intno < 1) return 0;
  int16_t regs[8] = {0};
  int out;
  int32_t h = 0;
  int k3 = argtyp(3, &h);
  if ((k3 & K_NUMBER) && nargs() >= 6) {
    for (int i = 0; i < 4; i++) regs[i] = static_cast<int16_t>(intarg(3 + i, 0));
    out = 7;
  } else {
    int32_t count = 0;
    auto* a = static_cast<int16_t*>(aryarg(3, 4, 4, 16, &count, nullptr));
    if (!a) return 0;
    std::memcpy(regs, a, sizeof(int16_t) * 4);
    out = 4;
  }
  // No software interrupt exists here: the registers come back as they went.
  int nout = 4;
  int32_t h2 = 0;
  int k4 = argtyp(out, &h2);
  if (out == 4 && (k4 & K_DIMS) && nargs() >= 5) {
    int32_t count = 0;
    auto* b = static_cast<int16_t*>(aryarg(4, 4, 4, 16, &count, nullptr));
    if (!b) return 0;
    std::memcpy(regs + 4, b, sizeof(int16_t) * 4);
    nout = 8;
    out = 5;
  }
  int32_t ho = 0;
  int ko = argtyp(out, &ho);
  if (ho > 0 && (ko & K_DIMS) && (ko & 0x1000)) {
    putarg(out, regs, nout, 16);
  } else if (fltarg(out, 0.0f) != 0.0f) {
    for (int i = 0; i < nout; i++) jprintf(lstlun, " %7d", regs[i]);
    jprintf(lstlun, "\n");
  }
  return 0;
}
