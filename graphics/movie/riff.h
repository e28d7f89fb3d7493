// Our own reader of AVI files' headers: the streams of the 'hdrl' list
// (their 'strh' and 'strf' chunks) and the sizes of the chunks the 'idx1'
// index lists for each stream. Decoding is FFmpeg's (graphics/movie/ffmov.h);
// this reader decides what the file holds, so that a stream type no
// decoder knows is still named, and every count and offset is checked
// against the file's real length before it is used.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A fourcc as the little-endian number of its four bytes ('vids', 'auds').
constexpr uint32_t fourcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

struct AviStrm {
  uint32_t type = 0;     // fccType
  uint32_t handler = 0;  // fccHandler
  uint32_t scale = 1, rate = 1;  // samples per second = rate / scale
  uint32_t start = 0;    // first sample
  uint32_t length = 0;   // samples
  uint32_t sampsize = 0; // bytes of one sample (0: one chunk a sample)
  std::vector<uint8_t> fmt;      // the strf chunk
  // Data bytes of each of its chunks, from idx1; a file without an index
  // has them from a walk of its 'movi' list (empty: the file holds none).
  std::vector<uint32_t> chunks;
  std::vector<uint32_t> offs;    // the chunks' offsets as the index gives them
  int64_t base = -1;             // what the offsets count from (-1: not known)
  int64_t fsize = 0;             // the file's length
};

struct AviInfo {
  uint32_t usframe = 0;          // avih microseconds per frame
  uint32_t width = 0, height = 0;
  std::vector<AviStrm> strm;     // the streams in file order
};

// Reads the headers of the AVI file at host path `name`: 0, or -1 when it
// does not open or is no AVI file.
int aviread(const std::string& name, AviInfo* out);

// Time in milliseconds of a sample of a stream, and the sample of a time
// (both rounded down, as a player counts).
int64_t smp2ms(const AviStrm& s, int64_t sample);
int64_t ms2smp(const AviStrm& s, int64_t ms);
// The samples the file holds of a stream: its chunks for a stream of one
// chunk a sample (video), else its chunks' bytes in whole samples.
int64_t strmheld(const AviStrm& s);
// The samples a stream plays: its header's length, but no more than the
// file holds (a stream whose rate is 0 has none).
int64_t strmlen(const AviStrm& s);
// The next sample from `from` on whose chunk holds data, -1 when none is
// left (a stream whose file holds no chunk of it has none).
int64_t nextfull(const AviStrm& s, int64_t from);
// The sample the stream's first chunk with data holds (its start when it
// has none, or when its chunks hold samples of sampsize bytes).
int64_t firstsmp(const AviStrm& s);

// Whether stream n's frames are uncompressed 32-bit bitmaps of w x h
// pixels whose chunks the index places: such frames need no decoder.
bool rawvid(const AviStrm& s, int* w, int* h);
// Whether the file holds the frame shown at `sample` of such a stream
// (the latest chunk with data not after it) whole: a chunk of exactly the
// frame's bytes, inside the file.
bool rawhas(const AviStrm& s, int64_t sample);
// Copies that frame from the open file `fd` into pixel memory (through a
// buffer that stays in the cache, no decoder): rows top first, `stride`
// pixels apart, each pixel 0x00RRGGBB. The chunk is checked to be stream
// n's and of the frame's size before anything is placed. 0, or -1 when it
// is not such a frame.
int rawfrm(int fd, const AviStrm& s, int n, int64_t sample, uint32_t* out, int64_t stride);
