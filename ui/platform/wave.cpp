// RIFF WAVE headers and the reader of a file's format and samples.
#include "ui/platform/wave.h"

#include <cstring>

namespace {
uint16_t rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t rd32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void wr16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void wr32(uint8_t* p, uint32_t v) {
  wr16(p, v);
  wr16(p + 2, v >> 16);
}
}  // namespace

WavFmt wavpcm(uint32_t rate, uint16_t channels) {
  WavFmt f;
  f.tag = 1;
  f.channels = channels;
  f.rate = rate;
  f.align = static_cast<uint16_t>(2 * channels);
  f.bytesps = rate * f.align;
  f.bits = 16;
  return f;
}

void wavhdr(uint8_t* out, const WavFmt& f, uint32_t databytes) {
  std::memcpy(out, "RIFF", 4);
  wr32(out + 4, databytes + 36);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  wr32(out + 16, 16);
  wr16(out + 20, f.tag);
  wr16(out + 22, f.channels);
  wr32(out + 24, f.rate);
  wr32(out + 28, f.bytesps);
  wr16(out + 32, f.align);
  wr16(out + 34, f.bits);
  std::memcpy(out + 36, "data", 4);
  wr32(out + 40, databytes);
}

int wavparse(const uint8_t* p, size_t n, WavData* out) {
  if (!p || !out || n < 12 || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0)
    return -1;
  bool havefmt = false;
  WavFmt f;
  size_t pos = 12;
  while (pos + 8 <= n) {
    const uint8_t* c = p + pos;
    const size_t size = rd32(c + 4);
    const size_t body = pos + 8;
    const size_t room = n - body;
    if (std::memcmp(c, "fmt ", 4) == 0) {
      if (size < 16 || size > room) return -1;
      f.tag = rd16(c + 8);
      f.channels = rd16(c + 10);
      f.rate = rd32(c + 12);
      f.bytesps = rd32(c + 16);
      f.align = rd16(c + 20);
      f.bits = rd16(c + 22);
      // The extensible form names its real format in its sub-format.
      if (f.tag == 0xFFFE && size >= 40) f.tag = rd16(c + 32);
      havefmt = true;
    } else if (std::memcmp(c, "data", 4) == 0) {
      if (!havefmt || f.channels == 0 || f.rate == 0 || f.bits == 0 || f.bits % 8 != 0) return -1;
      const size_t frame = static_cast<size_t>(f.channels) * (f.bits / 8);
      // The block alignment of a file is taken as written only when it
      // holds the samples of one frame.
      if (f.align < frame) f.align = static_cast<uint16_t>(frame > 0xFFFF ? 0xFFFF : frame);
      size_t bytes = size < room ? size : room;
      bytes -= bytes % f.align;
      out->fmt = f;
      out->offset = body;
      out->bytes = bytes;
      return 0;
    }
    if (size > room) break;
    pos = body + size + (size & 1);  // chunks are padded to an even length
  }
  return -1;
}

bool wavplayable(const WavFmt& f) {
  if (f.channels < 1 || f.channels > 8 || f.rate < 1) return false;
  if (f.tag == 3) return f.bits == 32;
  return f.tag == 1 && (f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32);
}
