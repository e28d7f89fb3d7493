// The hardware system variables (camera, cgain, coffset, lpat, lcolor,
// bitmask, motor1, motor2, sw1 to sw3, adc0 to adc15, dac0 to dac7, clock,
// digio, freedisk), which the system-variable access hands to gethwp and
// puthwp by code (the variable's index + 1).
#pragma once
#include <cstdint>

enum : int {
  HW_CAMERA = 17, HW_CGAIN = 18, HW_COFFSET = 19, HW_LPAT = 20, HW_LCOLOR = 22,
  HW_BITMASK = 24, HW_MOTOR1 = 70, HW_MOTOR2 = 71, HW_SW1 = 72, HW_SW3 = 74,
  HW_ADC0 = 75, HW_ADC15 = 90, HW_DAC0 = 91, HW_DAC7 = 98, HW_CLOCK = 100,
  HW_DIGIO = 106, HW_FREEDISK = 115,
};

// The register code the motors and switches write: LPT1's data register.
constexpr int MOTOR_PORT = 100;

extern int16_t camera, cgain, coffset;
extern int32_t lpat, lcolor;
extern int16_t motpos[2];   // last motor1 and motor2 positions
extern uint32_t swword;     // the switch word behind sw1 to sw3
extern int16_t dacval[8];   // last value written to each analog output
extern int16_t clkdiv;      // divisor of the clock variable
extern uint32_t clkstart;   // tickms(1) at the last clock reset

// The value of a hardware variable; -1 for other codes. adc, dac and digio
// leave their status in register 0.
float gethwp(int code);
// Sets a hardware variable; its status goes to register 0 (-1 for other
// codes). Returns 0.
int puthwp(double value, int code);

// Back to the start-up values, the device flags word too (start-up and
// tests).
void hwini();
