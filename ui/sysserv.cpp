#include "ui/sysserv.h"

#include "core/output.h"

#include <cstdio>
#include <sys/sysinfo.h>

uint32_t totphys = 0, availphys = 0;

// Byte counts above 4 GiB are clamped, not wrapped.
static uint32_t clamp32(unsigned long long v) {
  return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

int memstat() {
  struct sysinfo si;
  if (sysinfo(&si) != 0) return 0;
  unsigned long long unit = si.mem_unit ? si.mem_unit : 1;
  unsigned long long tot = si.totalram * unit, avail = (si.freeram + si.bufferram) * unit;
  unsigned long long tswap = si.totalswap * unit, aswap = si.freeswap * unit;
  totphys = clamp32(tot);
  availphys = clamp32(avail);
  int load = tot ? static_cast<int>(100 - avail * 100 / tot) : 0;
  if (logfp) {
    logprintf("Memory(%d):\n MemLoad=   %d\n TotPhys=   %u\n AvailPhys= %u\n", 32, load, totphys,
              availphys);
    logprintf(" TotSwap=   %d\n AvailSwap= %d\n TotVirt=   %u\n AvailVirt= %u\n",
              static_cast<int>(clamp32(tswap) & 0x7FFFFFFF), static_cast<int>(clamp32(aswap) & 0x7FFFFFFF),
              clamp32(tot + tswap), clamp32(avail + aswap));
    std::fflush(logfp);
  }
  return 0;
}

int endwin() {
  if (logfp) {
    std::fclose(logfp);
    logfp = nullptr;
  }
  return 0;
}

int msgbeep() { return 0; }
