// The real-time ops that wait for events (keys, A/D crossings and peaks,
// digital edges, parallel-port values, the end of a sound) and that move
// data between a program's arrays and its devices and files: A/D reads,
// replay buffers and background scans, analog and digital output, the
// parallel and serial ports, the eye tracker, tones and sounds, and the
// eight file slots.
#pragma once
#include <cstdint>

#include "realtime/rtops.h"

// Runs one of these ops: false when the op is not done yet (a wait not
// met, no packet, a file transfer pending): dortime then returns 0 without
// the epilogue and the op is run again on a later turn.
bool rtio(RtTask* t, RtOp* op);

// The acquisition state of a run: cleared when a run is set up; at the end
// of a run the background scan stops and the peak records are freed.
void rtioini();

// Whether an op's operand 1 stays where it is after the op although the op
// advances it: a serial port read that took nothing (or failed) moves
// nothing on, so an empty poll leaves no gap in the data.
bool rtnoadv(const RtOp* op);
void rtioend();

// The peak detector of one A/D channel.
struct PkRec {
  uint32_t span;    // calibration span (ticks)
  uint32_t delay;   // re-check delay (ticks)
  uint32_t start;   // calibration start, or time of the last reported event
  int16_t low, high;
  int16_t midpk;    // mid-point used after a peak
  int16_t midvl;    // mid-point used after a valley
  uint32_t tlow, thigh;
  int32_t hold;     // ticks a peak or valley may last
  uint16_t state;   // 17 peak, 18 valley, 9 and 10 held too long; 0x200 unreported, 0x1C0 calibrating, 0x400 timed out
  int16_t mult;
};
// Feeds one value taken at `now` to a detector: the state that ends a wait
// (with flags the state wanted, mode & 27), else 0.
int adpeak(int value, PkRec* pk, int flags, int channel, uint32_t now);

// The file ops of the eight slots (realtime/rtfile.cpp): false while a
// transfer is pending.
bool RTFilio(RtTask* t, RtOp* op);
// r_fseek.
void rtfseek(const RtOp* op);
