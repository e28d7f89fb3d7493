// The parallel port through its run-time loaded library.
#include "realtime/devices/pport.h"

#include <cstdlib>
#include <string>

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "realtime/devices/devlib.h"
#include "realtime/devices/devsetup.h"
#include "ui/platform/clock.h"

int32_t lptbase[5] = {-1, 0x378, 0x278, 0x3BC, 0};

namespace {

using Inp32Fn = short (*)(short);
using Out32Fn = void (*)(short, short);

void* lib;
Inp32Fn inp32;
Out32Fn out32;

constexpr const char* DEFLIB = "libpelix_inpout.so";

int inb(int port) { return static_cast<uint8_t>(inp32(static_cast<short>(port))); }
void outb(int port, int v) { out32(static_cast<short>(port), static_cast<short>(v & 255)); }

// The register's address, or a negative code.
int regaddr(int code) {
  const int reg = code % 100, lpt = code / 100;
  if (code < 0 || reg > 2) return -1;
  if (lpt < 1 || lpt > 4) return -2;
  if (!lib) return -4;
  if (lptbase[lpt] <= 0) return -1;
  return lptbase[lpt] + reg;
}

}  // namespace

bool pportok() { return lib != nullptr; }

int init_pport(BoardRec* b) {
  if (!lib) {
    const char* env = std::getenv("PELIX_LIB_PPORT");
    std::string why;
    void* h = devlib(env && *env ? env : DEFLIB, &why);
    if (!h) {
      logprintf("init_pport: no library %s %s\n", env && *env ? env : DEFLIB, why.c_str());
      return -2;
    }
    auto in = reinterpret_cast<Inp32Fn>(devsym(h, "Inp32"));
    auto out = reinterpret_cast<Out32Fn>(devsym(h, "Out32"));
    if (!in || !out) {
      devfree(h);
      return -3;
    }
    lib = h;
    inp32 = in;
    out32 = out;
  }
  const int lpt = b && b->outunit >= 1 && b->outunit <= 4 ? b->outunit : 1;
  const int given = b ? static_cast<uint16_t>(b->param) : 0;
  const int addr = given >= 16 ? given : lptbase[lpt];
  if (addr <= 0) return -1;
  // The port must give back what was written to it: 255, then 0.
  outb(addr, 255);
  const int a = inb(addr);
  if (jdebug > 1) logprintf("init_pport: write 255 -> %xh\ninit_pport: read -> %d\n", addr, a);
  outb(addr, 0);
  const int z = inb(addr);
  if (jdebug > 1) logprintf("init_pport: write 0 -> %xh\ninit_pport: read -> %d\n", addr, z);
  if (a == 255 && z == 0) {
    lptbase[lpt] = addr;
  } else {
    static const char* const msg = "init pport error: library loaded but port unresponsive -- check driver\n";
    jprintf(dbglun, "%s", msg);
    if (errlun != dbglun) jprintf(errlun, "%s", msg);
  }
  return 1;
}

int free_pport() {
  devfree(lib);
  lib = nullptr;
  inp32 = nullptr;
  out32 = nullptr;
  return 0;
}

int portio(int flag, int port, int value) {
  trcint(8, "portio", flag, port, value, lib ? 1 : 0, 0, 0);
  if (flag < 0 || flag > 3) {
    logprintf(" portio flag (%d) not supported\n", flag);
    return -2;
  }
  if (port < 16 || port > 65535) {
    logprintf(" portio port (%xh) out of range (%xh - %xh\n", port, 16, 65535);
    return -3;
  }
  if (!lib) {
    logprintf(" portio not initialized\n");
    return -4;
  }
  if (flag == 1 || flag == 3) {
    if (value >= 0) outb(port, value);
    return 0;
  }
  return inb(port);
}

int portcmd() {
  const int flag = intarg(2, -1);
  const int32_t port = lngarg(3, 0);
  const int32_t value = lngarg(4, -1);
  const int r = portio(flag, static_cast<int>(static_cast<uint32_t>(port) & 0xFFFF), value);
  setres(r, 0);
  return 0;
}

int pportin(int code) {
  const int a = regaddr(code);
  return a < 0 ? a : inb(a);
}

int pportout(int value, int code) {
  const int a = regaddr(code);
  if (a < 0) return a;
  outb(a, value);
  return 0;
}

int pport_adc(int lpt) {
  if (!lib || lpt < 1 || lpt > 3) return -1;
  const int ctrl = lpt * 100 + 2;
  pportout(12, ctrl);
  clock_sleep_ns(1000000);
  pportout(4, ctrl);
  const int st = pportin(lpt * 100 + 1);
  const int co = pportin(ctrl);
  if (st < 0 || co < 0) return -1;
  const int v = ((st & 248) + (co & 7)) ^ 131;
  if (trcmsk & 4)
    jprintf(dbglun, "pport_adc(%d) %d 0%xh -> %oo %oo -> %d\n", lpt, ctrl, lptbase[lpt] + 2, st, co, v);
  return v;
}
