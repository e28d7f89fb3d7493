// The hardware system variables.
#include "realtime/devices/hwvars.h"

#include <sys/statvfs.h>

#include <cmath>
#include <cstdlib>

#include "core/args.h"
#include "core/convert.h"
#include "graphics/drawstate.h"
#include "realtime/devices/boards.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/pport.h"
#include "ui/clocks.h"
#include "ui/events.h"

int16_t camera, cgain, coffset;
int32_t lpat, lcolor;
int16_t motpos[2];
uint32_t swword;
int16_t dacval[8];
int16_t clkdiv;
uint32_t clkstart;

namespace {

int16_t hw16(double v) { return static_cast<int16_t>(toi16(v)); }

// Free space of the current folder's file system in kilobytes.
double freedisk() {
  struct statvfs fs;
  if (statvfs(".", &fs) != 0) return -1.0;
  return std::floor(static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize) / 1024.0);
}

// The clock variable: ms since the reset; with a positive divisor d a bit
// that changes every d ms; with a negative one t x 100 / -d.
double clockv() {
  const uint32_t t = tickms(1) - clkstart;
  if (clkdiv > 0) return static_cast<double>((t / static_cast<uint32_t>(clkdiv)) & 1u);
  if (clkdiv < 0) return static_cast<double>(t) * 100.0 / static_cast<double>(-clkdiv);
  return static_cast<double>(t);
}

// Moves motor n to a position: |step| times the 8-byte step pattern, with
// a 1 ms wait after each. A step beyond 128 either way is ignored.
int motor(int n, int16_t pos) {
  const int step = pos - motpos[n];
  if (step < -128 || step > 128) return 0;
  motpos[n] = pos;
  const int c = (n + 2) * 16 + (step < 0 ? 2 : 0);
  const int pat[8] = {c, c, c + 1, c + 1, c + 1, c + 1, c, 128};
  for (int i = 0; i < std::abs(step); i++) {
    for (int b : pat) {
      const int r = pportout(b, MOTOR_PORT);
      if (r < 0) return r;
    }
    waitev(1, 1);
  }
  return 0;
}

}  // namespace

void hwini() {
  devflg = DF_GRAPHICS;
  camera = cgain = coffset = 0;
  lpat = lcolor = 0;
  motpos[0] = motpos[1] = 0;
  swword = 0;
  for (auto& a : adcval) a = 0;
  for (auto& d : dacval) d = 0;
  clkdiv = 0;
  clkstart = tickms(1);
}

float gethwp(int code) {
  switch (code) {
    case HW_CAMERA: return camera;
    case HW_CGAIN: return cgain;
    case HW_COFFSET: return coffset;
    case HW_LPAT: return static_cast<float>(lpat);
    case HW_LCOLOR: return static_cast<float>(lcolor);
    case HW_MOTOR1: return motpos[0];
    case HW_MOTOR2: return motpos[1];
    case HW_CLOCK: return static_cast<float>(clockv());
    case HW_DIGIO: {
      int32_t bits = 0;
      setres(getdig(&bits, -1, 0), 0);
      return static_cast<float>(bits);
    }
    case HW_FREEDISK: return static_cast<float>(freedisk());
    default: break;
  }
  if (code >= HW_SW1 && code <= HW_SW3) return static_cast<float>((swword >> (code - HW_SW1)) & 1u);
  if (code >= HW_ADC0 && code <= HW_ADC15) {
    int v = 0;
    setres(getadc(code - HW_ADC0, &v), 0);
    return static_cast<float>(v);
  }
  if (code >= HW_DAC0 && code <= HW_DAC7) {
    setres(0, 0);
    return dacval[code - HW_DAC0];
  }
  return -1.0f;
}

int puthwp(double value, int code) {
  int st = 0;
  switch (code) {
    case HW_CAMERA: {
      const int16_t v = hw16(value);
      camera = v < -1 ? -1 : (v > 3 ? 3 : v);
      break;
    }
    case HW_CGAIN:
    case HW_COFFSET: {
      int16_t v = hw16(value);
      v = v < 0 ? 0 : (v > 255 ? 255 : v);
      (code == HW_CGAIN ? cgain : coffset) = v;
      break;
    }
    case HW_LPAT: lpat = toi32(value); break;
    case HW_LCOLOR: lcolor = toi32(value); break;
    case HW_BITMASK: bitmask = hw16(value); break;
    case HW_MOTOR1:
    case HW_MOTOR2: st = motor(code - HW_MOTOR1, hw16(value)); break;
    case HW_CLOCK:
      clkstart = tickms(1);
      clkdiv = hw16(value);
      break;
    case HW_DIGIO: st = digout(toi32(value)); break;
    default:
      if (code >= HW_SW1 && code <= HW_SW3) {
        // The switch word goes out as two bytes, the second with the
        // strobe bit.
        const uint32_t bit = 1u << (code - HW_SW1);
        swword = hw16(value) != 0 ? swword | bit : swword & ~bit;
        const int s = static_cast<int>(swword & 0x7F) + 16;
        st = pportout(s, MOTOR_PORT);
        if (st >= 0) st = pportout(s | 128, MOTOR_PORT);
        if (st >= 0) st = -1;
      } else if (code >= HW_DAC0 && code <= HW_DAC7) {
        st = -1;
        const int16_t v = hw16(value);
        if (devflg & DF_ANALOGOUT) st = dacout(code - HW_DAC0, v);
        if (st >= 0) dacval[code - HW_DAC0] = v;
      } else {
        st = -1;
      }
      break;
  }
  setres(st, 0);
  return 0;
}
