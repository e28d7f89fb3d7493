// The channel routines over the board records: analog inputs 0 to 15 by
// their global numbers, the digital input and output words spread over the
// boards' bits, and the analog outputs.
#pragma once
#include <cstdint>

extern int16_t adcval[16];  // the last value read from each analog channel

// One analog channel: its value into *value (the channel's last value when
// the read fails); the status (>= 0 good).
int getadc(int channel, int* value);
// Several channels (a global mask) in rising order into destination[0],
// [stride], ...; the ADC boxes answer all their channels in one exchange
// with the caller's flags. The first negative status stops it.
int adcvals(int mask, int16_t* dest, int stride, int flags);
// The digital input word over the boards whose bits meet mask (each
// board's value XORed with its mask, at its running bit position): the
// status; -1 when no board answered.
int getdig(int32_t* bits, int32_t mask, int flags);
// The digital output word: the status; -1 when no board takes bits.
int digout(int32_t value);
// Analog output: no kind supports it (-1).
int dacout(int channel, int value);
