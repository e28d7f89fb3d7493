// The movie's sound ring.
#include "graphics/movie/movsnd.h"

#include <cmath>
#include <cstring>
#include <deque>
#include <vector>

#include "core/output.h"
#include "graphics/movie/ffmov.h"
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

struct Snd {
  bool open = false;     // the ring is prepared and the output ready
  bool playing = false;
  int32_t window = 0;
  FfAudio* dec = nullptr;
  int rate = 0, chans = 0, ssize = 0;  // decoded samples: rate, channels, bytes a frame
  int nprep = 0;         // prepared buffers (at least 2 to play)
  int queued = 0;        // buffers at the output
  int next = 0;          // the next buffer to fill
  std::vector<uint8_t> ring;
  int64_t start = 0, cur = 0, end = 0;  // start, current and end sample frames
  int loops = 0;
  float ratefac = 0;
  int64_t played = 0;    // frames of buffers that have ended
  uint64_t qend = 0;     // clock time at which the queued buffers end
  std::deque<Qbuf> q;
};
Snd snd;

}  // namespace

bool audplaying() { return snd.playing; }
int32_t audrate() { return snd.open ? snd.rate : 0; }

int audopen(int32_t window, const char* host, int index) {
  if (snd.open) return 1;
  int rate = 0, chans = 0;
  FfAudio* d = ffaopen(host, index, &rate, &chans);
  if (!d) return 0;
  const int ssize = chans * 2;
  if (ssize < 1 || ssize > BUFBYTES || chans > 8) {
    ffaclose(d);
    return 0;
  }
  if (audout(wavpcm(static_cast<uint32_t>(rate), static_cast<uint16_t>(chans))) != 0) {
    // Any other sound stops and the output is tried once more.
    audclose();
    if (audout(wavpcm(static_cast<uint32_t>(rate), static_cast<uint16_t>(chans))) != 0) {
      ffaclose(d);
      return 0;
    }
  }
  snd = Snd{};
  snd.dec = d;
  snd.window = window;
  snd.rate = rate;
  snd.chans = chans;
  snd.ssize = ssize;
  snd.ring.assign(size_t(NBUF) * BUFBYTES, 0);
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
    uint8_t* b = snd.ring.data() + size_t(snd.next) * BUFBYTES;
    const int got = ffaread(snd.dec, snd.cur, reinterpret_cast<int16_t*>(b), static_cast<int>(want));
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
  snd = Snd{};
}
