// The movie's sound ring.
#include "graphics/movie/movsnd.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <deque>
#include <vector>

#include "core/output.h"
#include "graphics/movie/ffmov.h"
#include "graphics/movie/riff.h"
#include "ui/platform/audio.h"
#include "ui/platform/clock.h"

namespace {

constexpr int NBUF = 16;          // buffers of the ring
constexpr int BUFBYTES = 16384;   // data bytes of each

// A buffer handed to the output: its first sample, its frames and the
// clock time at which it has played (the output plays them one after the
// other, each from when it is queued or the one before ends).
struct Qbuf {
  int64_t first;
  int64_t frames;
  uint64_t end;
};

// A PCM track read from the file as it is: its chunks in order, each
// holding the bytes from cum[i] on of the track's data.
struct RawTrack {
  int fd = -1;
  int64_t origin = 0;            // the sample frame of the track's first byte
  std::vector<int64_t> at;       // where each chunk's data lies in the file
  std::vector<int64_t> cum;      // the track's bytes before each chunk (and all, last)
};

struct Snd {
  bool open = false;     // the ring is prepared and the output ready
  bool playing = false;
  int32_t window = 0;
  FfAudio* dec = nullptr;
  RawTrack raw;          // used when dec is null
  int rate = 0, chans = 0, ssize = 0;  // the samples played: rate, channels, bytes a frame
  int nprep = 0;         // prepared buffers (at least 2 to play)
  int queued = 0;        // buffers at the output
  int next = 0;          // the next buffer to fill
  int64_t start = 0, cur = 0, end = 0;  // start, current and end sample frames
  int loops = 0;
  float ratefac = 0;
  int64_t played = 0;    // frames of buffers that have ended
  uint64_t qend = 0;     // clock time at which the queued buffers end
  std::deque<Qbuf> q;
};
Snd snd;
// The ring's buffers, made once: each is filled before it is queued, and
// only the bytes filled are handed to the output.
std::vector<uint8_t> ring;

}  // namespace

bool audplaying() { return snd.playing; }
int32_t audrate() { return snd.open ? snd.rate : 0; }

namespace {

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The format of a PCM track that plays as it is (its 'strf' a wave format
// the output takes, whole bytes a sample, its chunks located in the file).
bool pcmtrack(const AviStrm& s, WavFmt* f) {
  if (s.fmt.size() < 16 || s.base < 0 || s.chunks.empty()) return false;
  const uint8_t* p = s.fmt.data();
  f->tag = le16(p);
  f->channels = le16(p + 2);
  f->rate = le32(p + 4);
  f->bytesps = le32(p + 8);
  f->align = le16(p + 12);
  f->bits = le16(p + 14);
  // WAVE_FORMAT_EXTENSIBLE: the sub-format's tag.
  if (f->tag == 0xFFFE && s.fmt.size() >= 40) f->tag = le16(p + 24);
  return wavplayable(*f) && f->bits % 8 == 0 && f->align == f->channels * f->bits / 8;
}

// Reads up to n sample frames from frame `at` on of a PCM track into out:
// the frames read (fewer at the track's end or where the file ends).
int rawread(const RawTrack& t, int64_t at, uint8_t* out, int n, int ssize) {
  int got = 0;
  if (at < t.origin) {
    // Nothing before the track's first byte: silence.
    got = static_cast<int>(std::min<int64_t>(n, t.origin - at));
    std::memset(out, ssize == 1 ? 0x80 : 0, size_t(got) * ssize);
  }
  int64_t pos = (at + got - t.origin) * ssize;
  int64_t want = int64_t(n - got) * ssize;
  uint8_t* o = out + size_t(got) * ssize;
  size_t i = static_cast<size_t>(std::upper_bound(t.cum.begin(), t.cum.end(), pos) - t.cum.begin());
  int64_t done = 0;
  while (want > 0 && i > 0 && i < t.cum.size()) {
    const int64_t off = pos - t.cum[i - 1];
    const int64_t k = std::min(want, t.cum[i] - pos);
    const ssize_t r = pread(t.fd, o + done, size_t(k), t.at[i - 1] + off);
    if (r <= 0) break;
    done += r;
    pos += r;
    want -= r;
    if (r < k) break;
    i++;
  }
  return got + static_cast<int>(done / ssize);
}

}  // namespace

int audopen(int32_t window, const char* host, int index, const AviStrm& s) {
  if (snd.open) return 1;
  WavFmt f;
  FfAudio* d = nullptr;
  RawTrack raw;
  if (pcmtrack(s, &f)) {
    // The track's own bytes, in its own format.
    raw.fd = open(host, O_RDONLY | O_CLOEXEC);
    if (raw.fd < 0) return 0;
    raw.origin = static_cast<int64_t>(__int128(s.start) * s.scale * f.rate / s.rate);
    raw.cum.push_back(0);
    for (size_t i = 0; i < s.chunks.size(); i++) {
      if (s.chunks[i] == 0) continue;
      raw.at.push_back(s.base + s.offs[i] + 8);
      raw.cum.push_back(raw.cum.back() + s.chunks[i]);
    }
  } else {
    int rate = 0, chans = 0;
    d = ffaopen(host, index, firstsmp(s), &rate, &chans);
    if (!d) return 0;
    if (chans < 1 || chans > 8) {
      ffaclose(d);
      return 0;
    }
    f = wavpcm(static_cast<uint32_t>(rate), static_cast<uint16_t>(chans));
  }
  const int ssize = f.align;
  auto fail = [&] {
    ffaclose(d);
    if (raw.fd >= 0) close(raw.fd);
    return 0;
  };
  if (ssize < 1 || ssize > BUFBYTES) return fail();
  if (audout(f) != 0) {
    // Any other sound stops and the output is tried once more.
    audclose();
    if (audout(f) != 0) return fail();
  }
  snd = Snd{};
  snd.dec = d;
  snd.raw = std::move(raw);
  snd.window = window;
  snd.rate = static_cast<int>(f.rate);
  snd.chans = f.channels;
  snd.ssize = ssize;
  if (ring.empty()) ring.resize(size_t(NBUF) * BUFBYTES);
  snd.nprep = NBUF;
  snd.open = true;
  audnotify(window);
  return 1;
}

void playaud(int64_t start, int64_t end, int loops, float ratefac) {
  if (!snd.open) return;
  if (start < 0) start = 0;
  if (end < 0) end = INT64_MAX;
  if (start >= end) return;
  if (!snd.playing) {
    snd.start = snd.cur = start;
    snd.end = end;
    snd.playing = true;
    snd.played = 0;
    snd.q.clear();
    snd.qend = clock_ns();
    snd.loops = loops;
    snd.ratefac = ratefac;
  } else {
    snd.end = end;
  }
  audfill();
}

void audloops(int loops, float ratefac) {
  snd.loops = loops;
  snd.ratefac = ratefac;
}

void audfill() {
  if (!snd.playing) return;
  while (snd.queued < snd.nprep) {
    if (snd.cur >= snd.end) {
      if (snd.loops > 0) snd.loops--;
      if (snd.loops == 0) break;
      snd.cur = snd.start;
    }
    const int64_t want = std::min<int64_t>(snd.end - snd.cur, BUFBYTES / snd.ssize);
    uint8_t* b = ring.data() + size_t(snd.next) * BUFBYTES;
    const int got = snd.dec ? ffaread(snd.dec, snd.cur, reinterpret_cast<int16_t*>(b), static_cast<int>(want))
                            : rawread(snd.raw, snd.cur, b, static_cast<int>(want), snd.ssize);
    if (got == 0 && snd.cur > snd.start) {
      // The track is shorter than its header says: it ends here.
      snd.end = snd.cur;
      continue;
    }
    if (got < 1) break;
    if (audqueue(b, static_cast<uint32_t>(got * snd.ssize), static_cast<uint32_t>(snd.next)) != 0) break;
    const uint64_t now = clock_ns();
    const uint64_t from = snd.qend > now ? snd.qend : now;
    snd.qend = from + uint64_t(got) * 1000000000ull / uint64_t(snd.rate);
    snd.q.push_back({snd.cur, got, snd.qend});
    snd.cur += got;
    snd.queued++;
    snd.next = (snd.next + 1) % snd.nprep;
    if (got < want) {
      snd.end = snd.cur;  // a short read ends the filling
      break;
    }
  }
  // Nothing queued and nothing more to fill: the sound has ended, and the
  // program's clock takes over.
  if (snd.queued == 0) movstop();
}

void auddone() {
  if (!snd.playing) return;
  if (snd.queued > 0) snd.queued--;
  if (!snd.q.empty()) {
    snd.played += snd.q.front().frames;
    snd.q.pop_front();
  }
  audfill();
}

void movstop() {
  if (!snd.open) return;
  snd.open = false;
  snd.playing = false;
  audnotify(0);
  ::audstop();
  audclose();
  ffaclose(snd.dec);
  if (snd.raw.fd >= 0) close(snd.raw.fd);
  snd = Snd{};
}

int32_t audposms() {
  if (!snd.playing || snd.rate <= 0) return -1;
  // Frames played: those of the buffers that have ended, and the part of
  // the one playing now.
  const uint64_t now = clock_ns();
  int64_t played = snd.played;
  for (const Qbuf& b : snd.q) {
    const uint64_t len = uint64_t(b.frames) * 1000000000ull / uint64_t(snd.rate);
    const uint64_t from = b.end - len;
    if (now >= b.end) {
      played += b.frames;
    } else {
      if (now > from) played += static_cast<int64_t>((now - from) * uint64_t(snd.rate) / 1000000000ull);
      break;
    }
  }
  // The rate factor speeds the time played (the sound itself plays at its
  // own speed).
  double ms = double(played) * 1000.0 / snd.rate;
  if (snd.ratefac > 0) ms *= snd.ratefac;
  ms += double(snd.start) * 1000.0 / snd.rate;
  return static_cast<int32_t>(std::lround(std::min(ms, 2147483647.0)));
}

void audrst() {
  if (snd.dec) ffaclose(snd.dec);
  if (snd.raw.fd >= 0) close(snd.raw.fd);
  snd = Snd{};
}
