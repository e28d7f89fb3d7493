// RIFF WAVE files: the 44-byte header of a PCM file, and reading the format
// and the sample data of a file in memory. All numbers are little-endian
// bytes, never a struct dumped.
#pragma once
#include <cstddef>
#include <cstdint>

// The format record of a WAVE file's "fmt " chunk.
struct WavFmt {
  uint16_t tag = 1;         // 1 PCM, 3 32-bit float (WAVE_FORMAT_EXTENSIBLE read as its sub-format)
  uint16_t channels = 1;
  uint32_t rate = 44100;    // samples (frames) a second
  uint32_t bytesps = 88200; // bytes a second
  uint16_t align = 2;       // bytes a frame
  uint16_t bits = 16;       // bits a sample
};

constexpr int WAVHDR = 44;

// The format of 16-bit PCM samples of `channels` channels at `rate`.
WavFmt wavpcm(uint32_t rate, uint16_t channels = 1);
// Writes the 44-byte header of a file of `databytes` data bytes:
// "RIFF", databytes + 36, "WAVE", "fmt ", 16, the format's six fields,
// "data", databytes.
void wavhdr(uint8_t* out, const WavFmt& f, uint32_t databytes);

// A parsed file: its format and where its samples lie in the bytes given.
struct WavData {
  WavFmt fmt;
  size_t offset = 0;  // of the first sample byte
  size_t bytes = 0;   // sample bytes (whole frames, within the file)
};
// Parses a WAVE file held in memory. The chunks are walked in order; a
// chunk that claims more than the file holds ends the walk (a "data" chunk
// so cut keeps the whole frames that are there). 0, or -1 when the bytes
// are no RIFF WAVE file, have no "fmt " chunk before the "data" chunk, or a
// format with no channels, no rate or no whole bytes a sample.
int wavparse(const uint8_t* p, size_t n, WavData* out);
// Whether the audio layer can play the format: PCM of 8, 16, 24 or 32 bits,
// or 32-bit float, of 1 to 8 channels.
bool wavplayable(const WavFmt& f);
