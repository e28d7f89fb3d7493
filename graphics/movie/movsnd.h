// The sound track of the playing movie: a ring of 16 buffers of 16 KB
// filled from the track and queued on the one audio layer, each reporting
// its end (message 957) to the movie window. A PCM track plays in its own
// format, its bytes read from the file's chunks as they are; any other
// track is decoded to 16-bit samples.
#pragma once
#include <cstdint>

struct AviStrm;

// Opens the sound of audio stream `index` (header s) of the file (host
// path) for a window: 1, or 0 when it cannot play (no decoder, a sample
// size outside 1..16384, or no output).
int audopen(int32_t window, const char* host, int index, const AviStrm& s);
// Plays samples start .. end (sample frames of the track at its rate,
// counted from time 0; negative: the stream's start, its end) with a loop count and rate factor; a sound that
// plays already only has its end moved.
void playaud(int64_t start, int64_t end, int loops, float ratefac);
// Fills the ring while fewer buffers are queued than prepared.
void audfill();
// Stops the sound and frees the ring; the output is closed.
void movstop();
// One buffer has played.
void auddone();
// Whether the sound plays; its sample rate (0 when closed).
bool audplaying();
int32_t audrate();
// The position in ms: the time of the start sample plus the time of the
// samples played since the sound started (loops included; times the rate
// factor when positive), -1 when no sound plays.
int32_t audposms();
// The loop count and rate factor of the playing sound.
void audloops(int loops, float ratefac);
// Forgets everything (tests).
void audrst();
