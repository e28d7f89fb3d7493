// Device and hardware cells: the words behind the device system variables
// (camera, gains, line pattern and colour, motors, switches, analog and
// digital channels, the millisecond clock, serial port modes, parallel
// port registers, the run priority), with gethwp and puthwp that read and
// set them. Without acquisition hardware attached, a read gives back what
// was last stored.
#pragma once
#include <cstdint>

// Indexes (system variable code - 100) of the device variables.
enum : int {
  HW_CAMERA = 17, HW_CGAIN = 18, HW_COFFSET = 19, HW_LPAT = 20, HW_LCOLOR = 22,
  HW_BITMASK = 24, HW_MOTOR1 = 70, HW_MOTOR2 = 71, HW_SW1 = 72, HW_SW3 = 74,
  HW_ADC0 = 75, HW_ADC15 = 90, HW_DAC0 = 91, HW_DAC7 = 98, HW_CLOCK = 100,
  HW_DIGIO = 106, HW_FREEDISK = 115,
};

constexpr int NCOMSLOT = 10;  // serial port slots 0 to 9 (units 100 to 109)

extern uint16_t devflg;     // device flags word (system variable unit); 2 at start
extern int16_t camera, cgain, coffset;
extern int32_t lpat, lcolor;
extern int16_t motpos[2];   // last motor1 and motor2 positions
extern uint32_t swword;     // switch word behind sw1 to sw3
extern int16_t adcval[16];  // last value read from each analog channel
extern int16_t dacval[8];   // last value written to each analog output
extern int32_t digwrd;      // digital word last written
extern int16_t clkdiv;      // divisor of the clock variable
extern uint32_t clkstart;   // tickms at the last clock reset
extern int16_t commode[NCOMSLOT];  // mode word of each serial port slot (0: closed)
extern int16_t priority;    // priority word of real-time runs
extern uint8_t lptreg[5][3];  // parallel port registers, [LPT 1-4][data, status, control]

// gethwp (index) -> value of device variable index (code - 100); -1 for others.
float gethwp(int index);
// puthwp (value, index): sets a device variable; other indexes are ignored.
int puthwp(double value, int index);

// comini (slot, mode): a mode of 1 or more opens serial port slot 0 to 9 with
// that mode word, 0 or less closes it; 0 on success, -1 for a bad slot.
int comini(int slot, int mode);
// Parallel port registers by code 100 x LPT + register: the value, -1 for a
// register other than 0 to 2, -2 for an LPT other than 1 to 4.
int pportin(int code);
int pportout(int value, int code);

// Back to the start-up values (used by the start-up code and by tests).
void hwini();
