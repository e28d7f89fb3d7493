// Device and hardware cells and their system-variable access. The drivers
// (serial ports, boards, motors, the parallel port) are not attached yet:
// writes are kept in the cells and reads return them, within the ranges
// the variables allow.
#include "realtime/hwcells.h"

#include <sys/statvfs.h>

#include <cmath>

#include "core/convert.h"
#include "graphics/drawstate.h"
#include "ui/clocks.h"

uint16_t devflg = 2;
int16_t camera, cgain, coffset;
int32_t lpat, lcolor;
int16_t motpos[2];
uint32_t swword;
int16_t adcval[16];
int16_t dacval[8];
int32_t digwrd;
int16_t clkdiv;
uint32_t clkstart;
int16_t commode[NCOMSLOT];
int16_t priority;
uint8_t lptreg[5][3];

static int16_t hw16(double v) { return static_cast<int16_t>(toi16(v)); }
static int32_t hw32(double v) { return toi32(v); }

void hwini() {
  devflg = 2;
  camera = cgain = coffset = 0;
  lpat = lcolor = 0;
  motpos[0] = motpos[1] = 0;
  swword = 0;
  for (auto& a : adcval) a = 0;
  for (auto& d : dacval) d = 0;
  digwrd = 0;
  clkdiv = 0;
  clkstart = tickms(1);
  for (auto& c : commode) c = 0;
  priority = 0;
  for (auto& p : lptreg) p[0] = p[1] = p[2] = 0;
}

// Free space of the current folder's file system in kilobytes.
static double freedisk() {
  struct statvfs fs;
  if (statvfs(".", &fs) != 0) return -1.0;
  return std::floor(static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize) / 1024.0);
}

// The clock variable: ms since the reset; with a positive divisor d a bit
// that changes every d ms; with a negative one t x 100 / -d.
static double clockv() {
  uint32_t t = tickms(1) - clkstart;
  if (clkdiv > 0) return static_cast<double>((t / static_cast<uint32_t>(clkdiv)) & 1u);
  if (clkdiv < 0) return static_cast<double>(t) * 100.0 / static_cast<double>(-clkdiv);
  return static_cast<double>(t);
}

float gethwp(int index) {
  switch (index) {
    case HW_CAMERA: return camera;
    case HW_CGAIN: return cgain;
    case HW_COFFSET: return coffset;
    case HW_LPAT: return static_cast<float>(lpat);
    case HW_LCOLOR: return static_cast<float>(lcolor);
    case HW_MOTOR1: return motpos[0];
    case HW_MOTOR2: return motpos[1];
    case HW_CLOCK: return static_cast<float>(clockv());
    case HW_DIGIO: return static_cast<float>(digwrd);
    case HW_FREEDISK: return static_cast<float>(freedisk());
    default: break;
  }
  if (index >= HW_SW1 && index <= HW_SW3) return static_cast<float>((swword >> (index - HW_SW1)) & 1u);
  if (index >= HW_ADC0 && index <= HW_ADC15) return adcval[index - HW_ADC0];
  if (index >= HW_DAC0 && index <= HW_DAC7) return dacval[index - HW_DAC0];
  return -1.0f;
}

int puthwp(double value, int index) {
  switch (index) {
    case HW_CAMERA: {
      int16_t v = hw16(value);
      camera = v < -1 ? -1 : (v > 3 ? 3 : v);
      return 0;
    }
    case HW_CGAIN:
    case HW_COFFSET: {
      int16_t v = hw16(value);
      v = v < 0 ? 0 : (v > 255 ? 255 : v);
      (index == HW_CGAIN ? cgain : coffset) = v;
      return 0;
    }
    case HW_LPAT: lpat = hw32(value); return 0;
    case HW_LCOLOR: lcolor = hw32(value); return 0;
    case HW_BITMASK: bitmask = hw16(value); return 0;
    case HW_MOTOR1:
    case HW_MOTOR2: {
      // A step of more than 128 from the last position is refused.
      int16_t v = hw16(value);
      int16_t& pos = motpos[index - HW_MOTOR1];
      int step = v - pos;
      if (step < -128 || step > 128) return 0;
      pos = v;
      return 0;
    }
    case HW_CLOCK:
      clkstart = tickms(1);
      clkdiv = hw16(value);
      return 0;
    case HW_DIGIO: digwrd = hw32(value); return 0;
    default: break;
  }
  if (index >= HW_SW1 && index <= HW_SW3) {
    uint32_t bit = 1u << (index - HW_SW1);
    if (hw16(value) != 0)
      swword |= bit;
    else
      swword &= ~bit;
    return 0;
  }
  // Analog outputs 0 and 1 take values only while the device word allows it.
  if ((index == HW_DAC0 || index == HW_DAC0 + 1) && (devflg & 0x20) != 0) {
    dacval[index - HW_DAC0] = hw16(value);
    return 0;
  }
  return 0;
}

int comini(int slot, int mode) {
  if (slot < 0 || slot >= NCOMSLOT) return -1;
  commode[slot] = static_cast<int16_t>(mode >= 1 ? mode : 0);
  return 0;
}

int pportin(int code) {
  int lpt = code / 100, reg = code % 100;
  if (code < 0 || lpt < 1 || lpt > 4) return -2;
  if (reg > 2) return -1;
  return lptreg[lpt][reg];
}

int pportout(int value, int code) {
  int lpt = code / 100, reg = code % 100;
  if (code < 0 || lpt < 1 || lpt > 4) return -2;
  if (reg > 2) return -1;
  lptreg[lpt][reg] = static_cast<uint8_t>(value & 0xFF);
  return 0;
}
