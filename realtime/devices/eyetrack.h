// The eye tracker on a serial port, and the user1, user2 and user3
// commands that drive it by hand.
//
// The tracker sends packets "V" "P" type length payload. Types 6 and 10 of
// length 16 are samples: eight 16-bit big-endian words; word 0 is eye X and
// word 1 eye Y (0 to 10000 across the screen), word 2 the age of the data
// in ms, words 4 and 5 the pupil sizes. Other packets are skipped by their
// length.
#pragma once
#include <cstdint>

constexpr int EYEBUF = 7200;   // bytes taken in one read
constexpr int EYECARRY = 23;   // most bytes kept from one read for the next

struct EyeState {
  int chan;          // the slot in use
  int mode;          // its mode word, 0 when the tracker is not open
  int flags;         // options of the last user1 or user2 command
  uint8_t carry[EYECARRY];
  int ncarry;
  uint16_t cur[8];   // the newest sample
  uint16_t prev[8];  // the one before it
  uint32_t tnew, told;  // their rtclock times
};
extern EyeState eye;

// Where the scan of n bytes of tracker data stops: the offset of the first
// sample packet (or -1); *tail the offset of a packet cut by the end of the
// data (or -1); *partial true for a type-10 header cut by the end of a full
// 7200-byte buffer.
int eyescan(const uint8_t* b, int n, int* tail, bool* partial);

// Opens the tracker on a slot with a mode: the comini result + 1 (1), 0
// when the port cannot be opened, -1 for a slot of 10 or more or a mode
// below 1.
int eyeini(int slot, int mode);
// eyepkt (destination, flags, &time or null): with flag 4 reads what the
// tracker sent and decodes its first sample. Flags 1 write X and Y (scaled
// to the screen, raw with 16), 2 then the pupil sizes, 8 dump the packet to
// the log file, 64 purge the input and the carry. The bytes that were
// waiting when a sample was decoded; 0 when none; -1 when the tracker is
// not open.
int eyepkt(int16_t* dest, int flags, uint32_t* time);

// The commands.
int user1();
int user2();
int user3();
