// The one audio layer of the program: sound output and sound input through
// SDL2 audio (the library is loaded when sound is first asked for), used by
// the sound command, the real-time sound ops and movie sound alike.
//
// Output is a queue of buffers in one format. It is paced by the clock
// object: each buffer starts when the one before it ends (or when it is
// queued, if that is later) and lasts its frames / rate, so under the
// virtual clock a caller that waits for the end moves the clock by the
// sound's length at once. Buffers queued with a notification window report
// their end as message 957 (MM_WOM_DONE, lParam = the buffer's tag) to that
// window when the message loops run past it; closing the output reports 956.
//
// Test doubles and probes, chosen by the environment:
//  - PELIX_AUDIO_OUT=FILE: every buffer queued is also appended, unconverted,
//    to a WAVE file whose header carries the format of the first buffer;
//    its sizes are completed as it grows. Output then works without a device.
//  - PELIX_AUDIO_IN=FILE: input takes the samples of a 16- or 8-bit PCM WAVE
//    file (its first channel) at once, then zeros as the clock runs.
//  - PELIX_AUDIO_TRACE=FILE: for each sound, the microseconds from its mark
//    (audmark) to its first buffer handed to the device, one line each.
// With either file double set, SDL plays on its dummy device unless
// SDL_AUDIODRIVER names another driver.
#pragma once
#include <cstdint>

#include "ui/platform/wave.h"

// Makes the output ready for buffers of format f: the open device is kept
// when it already plays that format. 0, or -1 when the format cannot be
// played or neither a device nor the output file is there.
int audout(const WavFmt& f);
// Queues one buffer of samples in the output's format (whole frames);
// tag names it in its completion message. 0, or -1 when nothing took it.
int audqueue(const void* data, uint32_t bytes, uint32_t tag = 0);
// Drops every buffer not yet played; the output stays open.
void audstop();
// The clock time (clock_ns) at which the queued output ends.
uint64_t audend();
// Whether queued output is still playing by the clock.
bool audbusy();
// The window that gets the completion messages of buffers queued from now
// on (0: none).
void audnotify(int32_t hwnd);
// Posts the completion messages that are due; the message loops call it.
// The number posted.
int audpump();
// Closes the output device (message 956 to the notification window).
void audclose();
// The bytes the device holds that it has not played yet (0: no device).
uint32_t audheld();

// Opens 16-bit mono input at `rate` samples a second: 0 a device (its
// samples come in real time), 1 the input file (paced by the clock object),
// -1 when no input is there.
int audin(uint32_t rate);
// Takes up to max samples that have come in since the last call.
int32_t audread(int16_t* out, int32_t max);
// Closes the input.
void audinclose();

// Marks the start of a sound for the trace (see PELIX_AUDIO_TRACE).
void audmark();

// Closes everything and reads the environment again (tests).
void audreset();
