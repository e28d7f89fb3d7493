// The audio layer over SDL2 audio, with its file doubles and its trace.
#include "ui/platform/audio.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "ui/events.h"
#include "ui/platform/clock.h"
#include "ui/platform/sighold.h"

#ifdef PELIX_HAVE_SDL2
#include <SDL.h>
#include "ui/platform/sdl.h"
#endif

namespace {

// ---- The environment ---------------------------------------------------------

struct Env {
  bool read = false;
  std::string out, in, trace;
};
Env env;

void readenv() {
  if (env.read) return;
  env.read = true;
  auto get = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  env.out = get("PELIX_AUDIO_OUT");
  env.in = get("PELIX_AUDIO_IN");
  env.trace = get("PELIX_AUDIO_TRACE");
}

void atend();

// Closing at exit runs once, registered with the first use.
void onexit() {
  static bool done = false;
  if (done) return;
  done = true;
  std::atexit(atend);
}

// ---- SDL ----------------------------------------------------------------------

#ifdef PELIX_HAVE_SDL2
#define AUDFNS(X)                                                                                  \
  X(SDL_InitSubSystem) X(SDL_OpenAudioDevice) X(SDL_CloseAudioDevice) X(SDL_QueueAudio)           \
  X(SDL_ClearQueuedAudio) X(SDL_PauseAudioDevice) X(SDL_DequeueAudio) X(SDL_SetHint)              \
  X(SDL_GetQueuedAudioSize)

struct Api {
#define AUDFN(f) decltype(&::f) f = nullptr;
  AUDFNS(AUDFN)
#undef AUDFN
};
Api sdl;
int sdlstate = 0;  // 0 not tried, 1 ready, -1 not there

// Loads SDL and starts its audio once; false when either fails.
bool sdlup() {
  if (sdlstate) return sdlstate > 0;
  sdlstate = -1;
  if (!sdllib()) return false;
  Api a;
  bool all = true;
#define AUDFN(f) all = all && (a.f = reinterpret_cast<decltype(&::f)>(sdlsym(#f))) != nullptr;
  AUDFNS(AUDFN)
#undef AUDFN
  if (!all) return false;
  sdl = a;
  // SIGINT stays the program's own Ctrl-C.
  sdl.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // A run with a file double is a test: SDL's dummy device, unless a driver
  // was asked for.
  if ((!env.out.empty() || !env.in.empty()) && !std::getenv("SDL_AUDIODRIVER"))
    sdl.SDL_SetHint("SDL_AUDIODRIVER", "dummy");
  SigHold hold;  // SDL's audio threads take no signals
  if (sdl.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  sdlstate = 1;
  return true;
}

// The device format of a file format (24-bit samples are widened to 32).
SDL_AudioFormat sdlfmt(const WavFmt& f) {
  if (f.tag == 3) return AUDIO_F32LSB;
  switch (f.bits) {
    case 8: return AUDIO_U8;
    case 16: return AUDIO_S16LSB;
    default: return AUDIO_S32LSB;
  }
}
#endif

// ---- Output -------------------------------------------------------------------

struct Pend {
  uint64_t end;  // clock time at which the buffer has played
  uint32_t tag;
  int32_t hwnd;
};

struct Out {
  bool ready = false;
  WavFmt fmt;
  uint32_t dev = 0;  // the SDL device, 0 none
  int devfmt = 0, devrate = 0, devchans = 0;
  uint64_t end = 0;  // clock time at which the queued buffers end
  int32_t hwnd = 0;
  std::deque<Pend> pend;
  std::vector<uint8_t> wide;  // 24-bit samples widened for the device
};
Out out;

// The output file of PELIX_AUDIO_OUT.
struct OutFile {
  std::FILE* fp = nullptr;
  bool failed = false;
  uint32_t bytes = 0;
};
OutFile ofile;

// The trace of PELIX_AUDIO_TRACE.
std::FILE* trfp = nullptr;
bool marked = false;
std::chrono::steady_clock::time_point markt;

void closedev() {
#ifdef PELIX_HAVE_SDL2
  if (out.dev) sdl.SDL_CloseAudioDevice(out.dev);
#endif
  out.dev = 0;
  out.devfmt = out.devrate = out.devchans = 0;
}

// Appends a buffer to the output file, the file made with the first one;
// its two sizes are written again each time, so the file is whole
// whenever the program stops.
void fileout(const void* data, uint32_t bytes) {
  if (env.out.empty() || ofile.failed) return;
  if (!ofile.fp) {
    ofile.fp = std::fopen(env.out.c_str(), "wb");
    uint8_t h[WAVHDR];
    wavhdr(h, out.fmt, 0);
    if (!ofile.fp || std::fwrite(h, 1, WAVHDR, ofile.fp) != WAVHDR) {
      std::fprintf(stderr, "pelix: cannot write the audio output file %s\n", env.out.c_str());
      if (ofile.fp) std::fclose(ofile.fp);
      ofile.fp = nullptr;
      ofile.failed = true;
      return;
    }
  }
  // A WAVE file holds less than 4 GB.
  if (bytes > 0xFFFFFF00u - 36u - ofile.bytes) return;
  if (std::fwrite(data, 1, bytes, ofile.fp) != bytes) ofile.failed = true;
  ofile.bytes += bytes;
  uint8_t h[WAVHDR];
  wavhdr(h, out.fmt, ofile.bytes);
  std::fseek(ofile.fp, 4, SEEK_SET);
  std::fwrite(h + 4, 1, 4, ofile.fp);
  std::fseek(ofile.fp, 40, SEEK_SET);
  std::fwrite(h + 40, 1, 4, ofile.fp);
  std::fseek(ofile.fp, 0, SEEK_END);
  std::fflush(ofile.fp);
}

void trace() {
  if (!marked) return;
  marked = false;
  if (env.trace.empty()) return;
  const double us =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - markt).count();
  if (!trfp) trfp = std::fopen(env.trace.c_str(), "w");
  if (trfp) std::fprintf(trfp, "%.3f\n", us);
}

// ---- Input --------------------------------------------------------------------

struct In {
  bool open = false;
  bool file = false;
  uint32_t dev = 0;
  uint32_t rate = 0;
  uint64_t t0 = 0;
  int64_t fed = 0;  // samples handed out so far
  std::vector<int16_t> samples;
};
In in;

// The samples of the input file (first channel, 16 bits); false when it
// is no 8- or 16-bit PCM WAVE file.
bool readin(const std::string& name, std::vector<int16_t>& s) {
  std::FILE* fp = std::fopen(name.c_str(), "rb");
  if (!fp) return false;
  std::vector<uint8_t> b;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, fp)) > 0) b.insert(b.end(), chunk, chunk + n);
  std::fclose(fp);
  WavData w;
  if (wavparse(b.data(), b.size(), &w) != 0 || w.fmt.tag != 1 || (w.fmt.bits != 8 && w.fmt.bits != 16))
    return false;
  const size_t frames = w.bytes / w.fmt.align;
  s.resize(frames);
  const uint8_t* p = b.data() + w.offset;
  for (size_t i = 0; i < frames; i++, p += w.fmt.align)
    s[i] = w.fmt.bits == 8 ? static_cast<int16_t>((p[0] - 128) * 256)
                           : static_cast<int16_t>(p[0] | (p[1] << 8));
  return true;
}

void atend() {
  audinclose();
  closedev();
  if (ofile.fp) std::fclose(ofile.fp);
  ofile.fp = nullptr;
  if (trfp) std::fclose(trfp);
  trfp = nullptr;
}

}  // namespace

// ---- Output -------------------------------------------------------------------

int audout(const WavFmt& f) {
  readenv();
  onexit();
  out.ready = false;
  if (!wavplayable(f)) return -1;
  out.fmt = f;
#ifdef PELIX_HAVE_SDL2
  const int want = sdlfmt(f);
  if (out.dev && (want != out.devfmt || static_cast<int>(f.rate) != out.devrate ||
                  f.channels != out.devchans))
    closedev();
  if (!out.dev && sdlup()) {
    SDL_AudioSpec w{}, have{};
    w.freq = static_cast<int>(f.rate);
    w.format = static_cast<SDL_AudioFormat>(want);
    w.channels = static_cast<Uint8>(f.channels);
    w.samples = 1024;
    {
      SigHold hold;  // the device's thread takes no signals
      out.dev = sdl.SDL_OpenAudioDevice(nullptr, 0, &w, &have, 0);
    }
    if (out.dev) {
      out.devfmt = want;
      out.devrate = static_cast<int>(f.rate);
      out.devchans = f.channels;
      out.end = clock_ns();
      sdl.SDL_PauseAudioDevice(out.dev, 0);
    }
  }
#endif
  if (!out.dev && env.out.empty()) return -1;
  out.ready = true;
  return 0;
}

int audqueue(const void* data, uint32_t bytes, uint32_t tag) {
  if (!out.ready || !data) return -1;
  bytes -= bytes % out.fmt.align;
#ifdef PELIX_HAVE_SDL2
  if (out.dev && bytes > 0) {
    const void* p = data;
    uint32_t n = bytes;
    if (out.fmt.tag == 1 && out.fmt.bits == 24) {
      // The device takes 32-bit samples: each 24-bit one in the high bytes.
      const uint32_t count = bytes / 3;
      out.wide.resize(static_cast<size_t>(count) * 4);
      const auto* s = static_cast<const uint8_t*>(data);
      for (uint32_t i = 0; i < count; i++) {
        out.wide[i * 4] = 0;
        std::memcpy(&out.wide[i * 4 + 1], s + i * 3, 3);
      }
      p = out.wide.data();
      n = count * 4;
    }
    // The device plays in real time. When the virtual clock runs ahead of
    // it, the device holds more than is still to play by the clock: that
    // part is dropped, so that what the device holds stays within what was
    // queued for the time ahead (and half a second). On the real clock the
    // device keeps the clock's pace, and nothing is asked of it here.
    if (clock_virtual()) {
      const uint64_t now = clock_ns();
      const uint64_t ahead = out.end > now ? out.end - now : 0;
      const double bps = double(out.fmt.rate) * out.fmt.align;
      if (double(sdl.SDL_GetQueuedAudioSize(out.dev)) > double(ahead) * 1e-9 * bps + bps / 2 + 65536)
        sdl.SDL_ClearQueuedAudio(out.dev);
    }
    if (sdl.SDL_QueueAudio(out.dev, p, n) != 0 && env.out.empty()) return -1;
  }
#endif
  trace();
  fileout(data, bytes);
  const uint64_t now = clock_ns();
  const uint64_t start = out.end > now ? out.end : now;
  const uint64_t frames = bytes / out.fmt.align;
  out.end = start + frames * 1000000000ull / out.fmt.rate;
  if (out.hwnd) out.pend.push_back({out.end, tag, out.hwnd});
  return 0;
}

void audstop() {
#ifdef PELIX_HAVE_SDL2
  if (out.dev) sdl.SDL_ClearQueuedAudio(out.dev);
#endif
  // Buffers dropped count as played now.
  const uint64_t now = clock_ns();
  if (out.end > now) out.end = now;
  for (Pend& p : out.pend)
    if (p.end > now) p.end = now;
}

uint64_t audend() { return out.end; }

bool audbusy() { return out.end > clock_ns(); }

void audnotify(int32_t hwnd) { out.hwnd = hwnd; }

int audpump() {
  if (out.pend.empty()) return 0;
  const uint64_t now = clock_ns();
  int n = 0;
  while (!out.pend.empty() && out.pend.front().end <= now) {
    postmsg(out.pend.front().hwnd, MM_WOM_DONE, 1, out.pend.front().tag);
    out.pend.pop_front();
    n++;
  }
  return n;
}

void audclose() {
  audstop();
  audpump();
  closedev();
  if (out.hwnd) postmsg(out.hwnd, MM_WOM_CLOSE, 1, 0);
  out.pend.clear();
  out.ready = false;
}

uint32_t audheld() {
#ifdef PELIX_HAVE_SDL2
  if (out.dev) return sdl.SDL_GetQueuedAudioSize(out.dev);
#endif
  return 0;
}

// ---- Input --------------------------------------------------------------------

int audin(uint32_t rate) {
  readenv();
  onexit();
  audinclose();
  if (rate < 1) return -1;
  in.rate = rate;
  in.fed = 0;
  in.t0 = clock_ns();
  if (!env.in.empty()) {
    if (!readin(env.in, in.samples)) return -1;
    in.file = true;
    in.open = true;
    return 1;
  }
#ifdef PELIX_HAVE_SDL2
  if (sdlup()) {
    SDL_AudioSpec w{}, have{};
    w.freq = static_cast<int>(rate);
    w.format = AUDIO_S16SYS;
    w.channels = 1;
    w.samples = 1024;
    {
      SigHold hold;  // the device's thread takes no signals
      in.dev = sdl.SDL_OpenAudioDevice(nullptr, 1, &w, &have, 0);
    }
    if (in.dev) {
      sdl.SDL_PauseAudioDevice(in.dev, 0);
      in.open = true;
      return 0;
    }
  }
#endif
  return -1;
}

int32_t audread(int16_t* dst, int32_t max) {
  if (!in.open || !dst || max < 1) return 0;
  if (in.file) {
    // The file's samples at once, then zeros as the clock runs.
    const uint64_t ran = clock_ns() - in.t0;
    const int64_t due = static_cast<int64_t>(ran / 1000000ull * in.rate / 1000ull);
    const int64_t have = static_cast<int64_t>(in.samples.size());
    int64_t n = (due > have ? due : have) - in.fed;
    if (n > max) n = max;
    if (n < 0) n = 0;
    for (int64_t i = 0; i < n; i++) {
      const int64_t k = in.fed + i;
      dst[i] = k < have ? in.samples[static_cast<size_t>(k)] : 0;
    }
    in.fed += n;
    return static_cast<int32_t>(n);
  }
#ifdef PELIX_HAVE_SDL2
  if (in.dev)
    return static_cast<int32_t>(sdl.SDL_DequeueAudio(in.dev, dst, static_cast<Uint32>(max) * 2) / 2);
#endif
  return 0;
}

void audinclose() {
#ifdef PELIX_HAVE_SDL2
  if (in.dev) sdl.SDL_CloseAudioDevice(in.dev);
#endif
  in.dev = 0;
  in.open = in.file = false;
  in.samples.clear();
}

void audmark() {
  marked = true;
  markt = std::chrono::steady_clock::now();
}

void audreset() {
  atend();
  out = Out{};
  ofile = OutFile{};
  marked = false;
  env = Env{};
}
