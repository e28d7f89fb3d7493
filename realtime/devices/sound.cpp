// The sound command: playing WAVE files, recording, and the camera stubs.
#include "realtime/devices/sound.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/tmpfile.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/dirutil.h"
#include "files/fileutil.h"
#include "files/safewrite.h"
#include "lang/maclib.h"
#include "lang/names.h"
#include "ui/events.h"
#include "ui/platform/audio.h"
#include "ui/platform/clock.h"

uint32_t sndplaying = 0;
uint32_t sndinit = 0;

namespace {

constexpr int RECRATE = 44100;  // the rate the sound command records at
constexpr uint64_t STEPNS = 10000000ull;  // 10 ms between polls

// Reads a whole open file (and closes it) into b, kept from play to play
// so that a sound started again reuses its room; false when it fails.
bool slurp(std::FILE* fp, std::vector<uint8_t>& b) {
  struct stat st;
  size_t n = 0;
  if (fstat(fileno(fp), &st) == 0 && st.st_size > 0) {
    b.resize(static_cast<size_t>(st.st_size));
    n = std::fread(b.data(), 1, b.size(), fp);
  }
  // A file that grows (or a pipe) is read to its end.
  uint8_t chunk[4096];
  size_t k;
  while ((k = std::fread(chunk, 1, sizeof chunk, fp)) > 0) {
    b.resize(n + k);
    std::memcpy(b.data() + n, chunk, k);
    n += k;
  }
  const bool ok = !std::ferror(fp);
  std::fclose(fp);
  b.resize(n);
  return ok;
}

// Opens the file a play asks for: the name itself when it opens, else
// (unless plain) name.snd in the folders of datadir, then along the path.
// Null when none opens; *path gets the name that was tried last.
std::FILE* openplay(const char* name, bool plain, std::string* path) {
  *path = name;
  if (std::FILE* fp = std::fopen(hostpath(name).c_str(), "rb")) return fp;
  if (plain) return nullptr;
  char found[256] = {0};
  int unit = 0;
  const char* data = strvar("datadir");
  if (fserch(name, ".snd", data ? data : "", found, &unit, UM_RDONLY) == 0 ||
      fserch(name, ".snd", nullptr, found, &unit, UM_RDONLY) == 0) {
    if (unit > 0) closef(unit, 0);
    *path = found;
    return std::fopen(hostpath(found).c_str(), "rb");
  }
  return nullptr;
}

// Waits until the output has played, polling input; false when the wait
// was stopped (Ctrl-C, an error or a stop), the sound then dropped.
bool playwait() {
  for (;;) {
    const uint64_t now = clock_ns(), end = audend();
    if (now >= end) return true;
    chkio(0);
    if (state & (ST_ERROR | ST_INTR | ST_STOP)) {
      audstop();
      return false;
    }
    const uint64_t left = end - now;
    clock_sleep_ns(left < STEPNS ? left : STEPNS);
  }
}

// Plays an open file count times (asynchronous: once, not waited for).
// 0, -1 when it could not be played, 1 when a wait was stopped.
int play(std::FILE* fp, int count, bool async) {
  static std::vector<uint8_t> b;
  WavData w;
  if (!fp || !slurp(fp, b) || wavparse(b.data(), b.size(), &w) != 0 || audout(w.fmt) != 0) return -1;
  for (int i = 0; i < count; i++) {
    if (audqueue(b.data() + w.offset, static_cast<uint32_t>(w.bytes)) != 0) return -1;
    if (!async && !playwait()) return 1;
  }
  return 0;
}

// The play forms: mode 2 plays the name unchanged.
int playcmd(int mode, const char* name, int count, int async) {
  sndinit = 1;
  std::string path;
  std::FILE* fp = openplay(name, mode == 2, &path);
  trcstr(1, "Sound", mode, path.c_str(), count);
  if (async > 0) {
    count = 1;
    sndplaying = 1;
  }
  trcstr(1, "sndplay", count, path.c_str(), async);
  const int r = count > 0 ? play(fp, count, async > 0) : 0;
  if (count <= 0 && fp) std::fclose(fp);
  if (r < 0) {
    sndplaying = 0;
    error(-1, 187);
  }
  return 0;
}

// Sleeps in real time (device waits run on the real clock).
void realsleep(uint64_t ns) { std::this_thread::sleep_for(std::chrono::nanoseconds(ns)); }

}  // namespace

int sound(int mode, const char* name, int seconds) {
  audmark();
  char text[260] = {0};
  int record = 0, count = 1, async = -1;
  if (mode == 0) {
    float v = 0.0f;
    const int t = getarg(2, &v, nullptr, 0, nullptr);
    if (t && (t & K_NUMBER) && !(t & K_STRING)) {
      // A number: a negative one is the mode; 0 or more does nothing.
      if (v >= 0.0f) return 0;
      mode = v <= -32767.0f ? -32767 : static_cast<int>(v);
    } else if (t & K_DATA & ~K_STRING) {
      // A variable in place of a name is measured and nothing is played.
      return 0;
    } else {
      record = intarg(3, 0);
      if (argtext(2, text, sizeof text - 4) < 0) {
        text[0] = 0;
        if (!t) browse(text, record > 0 ? 1 : 0, nullptr);
      }
      if (!text[0]) {
        if (!(state & ST_ERROR)) error(2, 46);
        return 0;
      }
      name = text;
      count = intarg(4, 1);
      async = intarg(5, -1);
      if (async == -1) async = 1;
    }
  } else if (mode == 1 || mode == 2) {
    async = 1;
  }

  if (mode != -1) {
    audstop();
    sndplaying = 0;
  }
  if (mode < -1) return 0;
  if (mode == -1) {
    // #0 tells it too: 0 while a sound plays, -2 when none does.
    const bool busy = sndplaying && audbusy();
    jprintf(lstlun, "Sound channel is%sbusy\n", busy ? " " : " not ");
    setres(busy ? 0 : -2, 0);
    return 0;
  }
  if (!name || !name[0]) return 0;
  if (mode == 3 || (mode == 0 && record > 0)) {
    if (mode == 3) count = seconds;
    const bool erred = state & ST_ERROR;
    const int r = sndrec(name, count, RECRATE, nullptr);
    logprintf("RecordSound %s %ds  -> %d\n", name, count, r);
    // A file that could not be written keeps its error's #0.
    if (erred || !(state & ST_ERROR)) setres(r, 0);
    return 0;
  }
  return playcmd(mode, name, count, async);
}

int sndrec(const char* name, int seconds, int rate, int16_t** buffer) {
  if (buffer) *buffer = nullptr;
  if (rate < 1) rate = RECRATE;
  if (seconds < 1 || seconds > 3600) return -2;
  const int64_t total = static_cast<int64_t>(seconds) * rate;
  if (total > INT32_MAX) return -2;
  struct Free {
    void operator()(int16_t* p) const { std::free(p); }
  };
  std::unique_ptr<int16_t, Free> buf(
      static_cast<int16_t*>(std::calloc(static_cast<size_t>(total), sizeof(int16_t))));
  if (!buf) return -2;
  const int how = audin(static_cast<uint32_t>(rate));
  if (how < 0) return -1;
  struct Close {
    ~Close() { audinclose(); }
  } close;
  // The file double is paced by the clock object; a device runs in real
  // time, with a deadline a little past its seconds.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds + 2);
  int64_t n = 0;
  for (;;) {
    n += audread(buf.get() + n, static_cast<int32_t>(total - n));
    if (n >= total) break;
    if (chkio(0) > 0) break;  // a key ends it; what came is kept
    if (state & (ST_ERROR | ST_INTR | ST_STOP)) break;
    if (how == 1) {
      clock_sleep_ns(STEPNS);
    } else {
      if (std::chrono::steady_clock::now() >= deadline) break;
      realsleep(STEPNS / 2);
    }
  }
  audinclose();
  const int16_t* s = buf.get();
  while (n > 0 && s[n - 1] == 0) n--;
  if (name) return wavwrt(name, s, static_cast<int32_t>(n), wavpcm(static_cast<uint32_t>(rate)));
  if (n > 0 && buffer) *buffer = buf.release();
  return static_cast<int>(n);
}

int wavwrt(const char* name, const int16_t* samples, int32_t count, const WavFmt& f) {
  if (!name || count < 0 || (count > 0 && !samples) || f.bits != 16) return -1;
  const std::string host = hostpath(name);
  if (host.empty()) return -1;
  // count frames of f.channels interleaved 16-bit values.
  const uint64_t vals = static_cast<uint64_t>(count) * f.channels;
  const uint64_t bytes = vals * 2;
  if (bytes > 0xFFFFFFFFull - 36) return -1;
  // Written through a temporary file beside it, as every whole file is (a
  // device or fifo straight: the header comes first). A failure is said
  // with its cause, as write says it: error 66 for the open, 69 for the
  // write; the old file stays.
  TmpWrite file;
  int err = tmpaim(host, &file);
  if (err == 0) err = tmpmake(&file);
  const int fd = err == 0 ? tmpfd(file) : -1;
  if (fd < 0 && err == 0) err = errno ? errno : EIO;
  std::FILE* fp = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!fp) {
    if (fd >= 0) {
      err = errno ? errno : EIO;
      close(fd);
    }
    tmpend(&file, false);
    fileerr(name, 2, 66, err);
    return -1;
  }
  uint8_t h[WAVHDR];
  wavhdr(h, f, static_cast<uint32_t>(bytes));
  errno = 0;
  bool ok = std::fwrite(h, 1, WAVHDR, fp) == WAVHDR;
  // The samples as little-endian bytes.
  std::vector<uint8_t> out(65536);
  for (uint64_t i = 0; ok && i < vals;) {
    const uint64_t k = std::min<uint64_t>(out.size() / 2, vals - i);
    for (uint64_t j = 0; j < k; j++) {
      const auto v = static_cast<uint16_t>(samples[i + j]);
      out[j * 2] = static_cast<uint8_t>(v);
      out[j * 2 + 1] = static_cast<uint8_t>(v >> 8);
    }
    ok = std::fwrite(out.data(), 1, k * 2, fp) == k * 2;
    i += k;
  }
  err = ok ? 0 : (errno ? errno : EIO);
  errno = 0;
  if (std::fclose(fp) != 0 && ok) {
    err = errno ? errno : EIO;
    ok = false;
  }
  // The file takes its name (and the old file's permissions).
  const int r = tmpend(&file, ok);
  if (r == 0) return 0;
  wrterr(name, 2, r > 0 ? r : err);
  return -1;
}

int devstb1() { return -1; }
int devstb2() { return 0; }
int devstb3() { return -1; }
int devstb4() { return -1; }
int devstb5() { return 0; }
int devstb6() { return -1; }
