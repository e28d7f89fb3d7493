// Sound: the sound command and its internal forms. Sound files (RIFF WAVE)
// play through the audio layer (ui/platform/audio.h); recording takes 16-bit
// mono samples from the audio input into a WAVE file or into a buffer for
// the caller. Also the camera and frame-grabber stubs that setcam, the
// digitize command and the real-time grab op call.
#pragma once
#include <cstdint>

#include "ui/platform/wave.h"

extern uint32_t sndplaying;  // set when an asynchronous play starts, cleared by a stop
extern uint32_t sndinit;     // set on the first play request

// The sound command (mode 0) and the internal forms. Mode 0 takes its
// arguments from the command line: a file name, or a number (a negative
// number is the mode, 0 or more does nothing); the record flag (default 0);
// the count (default 1: repeats when playing, seconds when recording); the
// asynchronous flag (default -1, taken as 1). Internal modes: -1 the query
// ("Sound channel is busy" / "... is not busy" on the listing unit), below
// -1 stop only, 1 play `name` after looking it up, 2 play it unchanged
// (both asynchronous and once), 3 record `seconds` seconds into `name`.
// Every form but the query stops a playing sound first. Returns 0; a play
// that fails is error 187 (argument -1).
int sound(int mode, const char* name, int seconds);

// Records `seconds` (1 to 3600) seconds of 16-bit mono samples at `rate`
// (44100 when below 1), until the time is up or a key comes, then trims the
// trailing zero samples. With a name, writes it as a WAVE file: wavwrt's
// result. Without one, the sample count, with the samples in *buffer (the
// caller frees it with std::free; null when none came). -1 when the input
// does not open, -2 for seconds out of range or a buffer refused.
int sndrec(const char* name, int seconds, int rate, int16_t** buffer);
// Writes count 16-bit samples as a WAVE file of format f (a temporary file
// renamed over the name when whole). 0, or -1 when it cannot be written.
int wavwrt(const char* name, const int16_t* samples, int32_t count, const WavFmt& f);

// Camera and frame-grabber stubs: open a frame grabber on a serial port
// (-1), capture a frame from it (0), close it (-1); open camera device 20
// (-1), capture a frame from it (0), close it (-1).
int devstb1();
int devstb2();
int devstb3();
int devstb4();
int devstb5();
int devstb6();
