// The movie engine: opening a movie, its clock, painting its frames.
#include "graphics/movie/movie.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "compute/smooth.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "files/fileutil.h"
#include "graphics/movie/ffmov.h"
#include "graphics/movie/movsnd.h"
#include "graphics/movie/riff.h"
#include "graphics/pixels.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/palette.h"
#include "ui/platform/clock.h"
#include "ui/platform/surface.h"
#include "ui/platform/wm.h"
#include "ui/window.h"

namespace {

constexpr int MAXSTRM = 50;  // streams used of one file
constexpr int NMOVREC = 8;   // records of the table

MovRec movtab[NMOVREC];
int16_t nmov = 0;     // records in use
uint16_t curmov = 0;  // the current record

struct Movie {
  bool ready = false;       // aviini has run
  bool open = false;
  int32_t window = 0;       // the movie window (platform handle)
  std::string host;
  AviInfo info;
  FfVideo* dec[MAXSTRM] = {};  // decoders of the video streams
  int vid = -1, aud = -1;   // the first video and sound streams
  int fd = -1;              // the file, for frames that need no decoder
  int32_t start = 0, end = 0;  // ms
  bool playing = false;
  int64_t clkstart = 0;     // the program's clock (ms) when playing began or looped
  int32_t mediastart = 0;   // the media time then
  int loopsdone = 0;        // loops played since the start (a sound clock counts on over them)
  int sflags = 0, layout = 0, loops = 0, playms = 0;
  int64_t playclk = 0;      // the program's clock when playAVI started
  float ratefac = 1.0f;
  // The frame last read or decoded, at its own size.
  int64_t pframe = -1;
  int pw = 0, ph = 0;
  std::vector<uint32_t> pix;
};
Movie mv;

// The program's clock in ms (the clock object, unaffected by the real-time
// clock's restarts).
int64_t nowms() { return static_cast<int64_t>(clock_ns() / 1000000ull); }

// The movie's length in ms.
int64_t movlen() { return int64_t(mv.end) - mv.start; }

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// Stops anything playing (avistop).
void avistop() {
  movstop();
  mv.playing = false;
}

// Frame width and height of a video stream: its bitmap header, else its
// decoder's.
void framesize(int s, int* w, int* h) {
  *w = *h = 0;
  const AviStrm& st = mv.info.strm[size_t(s)];
  if (st.fmt.size() >= 12) {
    *w = static_cast<int32_t>(le32(st.fmt.data() + 4));
    *h = std::abs(static_cast<int32_t>(le32(st.fmt.data() + 8)));
  }
  if ((*w < 1 || *h < 1) && mv.dec[s]) ffvsize(mv.dec[s], w, h);
  if (*w < 1 || *h < 1) *w = *h = 0;
}

// Collects the streams of the open file `name`: 0, or -1 when it has none.
int avigets(const char* name) {
  size_t n = mv.info.strm.size();
  if (n == 0) {
    error(0, 209);
    return -1;
  }
  if (n > MAXSTRM) {
    mv.info.strm.resize(MAXSTRM);
    error(0, 210);
  }
  avistop();
  mv.start = INT32_MAX;
  mv.end = INT32_MIN;
  auto ms32 = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, INT32_MAX)); };
  for (size_t i = 0; i < mv.info.strm.size(); i++) {
    AviStrm& s = mv.info.strm[i];
    // A start the file holds no sample for is a broken header: the stream
    // plays from 0.
    const int64_t held = strmheld(s);
    if (s.start != 0 && s.start >= held) {
      jprintf(errlun, "%s: stream %d starts at %u of %lld samples; it starts at 0\n",
              name, static_cast<int>(i), s.start, static_cast<long long>(held));
      s.start = 0;
    }
    // A stream with no length (its rate 0, or nothing in the file) takes
    // no part in the movie's times.
    if (const int64_t len = strmlen(s); len > 0) {
      mv.start = std::min(mv.start, ms32(smp2ms(s, s.start)));
      mv.end = std::max(mv.end, ms32(smp2ms(s, int64_t(s.start) + len)));
    }
    if (s.type == fourcc("vids")) {
      // Uncompressed frames need no decoder until they are shown scaled.
      int rw, rh;
      const bool raw = rawvid(s, &rw, &rh);
      if (!raw) mv.dec[i] = ffvopen(mv.host.c_str(), static_cast<int>(i), firstsmp(s));
      if (!raw && !mv.dec[i])
        jprintf(dbglun, "AVI Open can not find codec\n");
      else if (mv.vid < 0)
        mv.vid = static_cast<int>(i);
    } else if (s.type == fourcc("auds")) {
      if (mv.aud < 0) mv.aud = static_cast<int>(i);
    } else {
      jprintf(dbglun, "AVI init stream type not recognized: %d\n", static_cast<int32_t>(s.type));
    }
  }
  if (mv.start > mv.end) mv.start = mv.end = 0;
  return 0;
}

// The decoder of the video stream, opened when first needed.
FfVideo* viddec() {
  FfVideo*& d = mv.dec[mv.vid];
  if (!d) d = ffvopen(mv.host.c_str(), mv.vid, firstsmp(mv.info.strm[size_t(mv.vid)]));
  return d;
}

// Starts the sound of the current record (avisnd).
void avisnd() {
  if (mv.aud < 0) return;
  const AviStrm& s = mv.info.strm[size_t(mv.aud)];
  if (audopen(mv.window, mv.host.c_str(), mv.aud, s)) {
    const int32_t rate = audrate();
    const MovRec& r = movtab[curmov];
    const int64_t t0 = smp2ms(s, s.start);
    int64_t from = std::max<int64_t>(r.shown + 1, t0);  // from the time it starts at
    // Sample frames of the output, in 128 bits: a header's times may reach
    // 2^63 ms; past what 64 bits hold they stay at the ends.
    auto sat = [](__int128 v) {
      return static_cast<int64_t>(std::clamp<__int128>(v, INT64_MIN, INT64_MAX));
    };
    // A sample of the stream as a sample frame of the output, exactly (not
    // through whole milliseconds, which would lose the track's tail).
    auto frame = [&](int64_t smp) { return __int128(smp) * s.scale * rate / s.rate; };
    const __int128 first = std::max(__int128(from) * rate / 1000, frame(s.start));
    playaud(sat(first), sat(frame(int64_t(s.start) + strmlen(s))), mv.loops, mv.ratefac);
  }
  mv.playing = true;
  mv.clkstart = nowms();
  mv.mediastart = movtab[curmov].shown + 1;
}

// ---- Painting -----------------------------------------------------------------

// 8-bit pixels: the nearest palette entry of each 15-bit colour, made
// again when the palette changes. A paint asks for the table once.
const uint8_t* near8tab() {
  static std::vector<uint8_t> lut;
  static uint8_t palnow[256 * 3];
  uint8_t cur[256 * 3];
  for (int i = 0; i < 256; i++) std::memcpy(cur + 3 * i, palent(i), 3);
  if (lut.empty() || std::memcmp(cur, palnow, sizeof cur) != 0) {
    std::memcpy(palnow, cur, sizeof cur);
    lut.assign(32768, 0);
    for (int c = 0; c < 32768; c++) {
      const int16_t rgb[3] = {static_cast<int16_t>(((c >> 10) & 31) << 3 | 4),
                              static_cast<int16_t>(((c >> 5) & 31) << 3 | 4),
                              static_cast<int16_t>((c & 31) << 3 | 4)};
      lut[size_t(c)] = static_cast<uint8_t>(nearpal(rgb));
    }
  }
  return lut.data();
}

// Pixel memory a frame is drawn into.
struct Dest {
  uint8_t* px = nullptr;
  int bits = 32;
  int64_t rowbytes = 0;
  int w = 0, h = 0;
};

// One pixel 0x00RRGGBB stored at p in a depth (8 bits: through lut, the
// table of near8tab).
void putpx(uint8_t* p, int bits, uint32_t v, const uint8_t* lut) {
  switch (bits) {
    case 8: p[0] = lut[((v >> 9) & 0x7C00) | ((v >> 6) & 0x3E0) | ((v >> 3) & 31)]; break;
    case 16: {
      const auto s = static_cast<uint16_t>(to565(v));
      std::memcpy(p, &s, 2);
      break;
    }
    case 24:
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v >> 16);
      break;
    default: std::memcpy(p, &v, 4); break;
  }
}

// Where the frame's columns and rows come from when it is shown at dw x dh
// from (x, y) of a destination n pixels long: for each place i of the
// destination from i0 on, the source column (or row) of fw, mirrored with
// flip; only the places the frame covers inside the destination.
struct Span {
  int i0 = 0, i1 = 0;       // destination places covered: i0 <= i < i1
  std::vector<int> src;     // source of place i0 + j
};
Span span(int64_t x, int64_t dw, int fw, int n, bool flip) {
  Span sp;
  sp.i0 = static_cast<int>(std::clamp<int64_t>(x, 0, n));
  sp.i1 = static_cast<int>(std::clamp<int64_t>(x + dw, 0, n));
  for (int i = sp.i0; i < sp.i1; i++) {
    const int64_t p = flip ? dw - 1 - (int64_t(i) - x) : int64_t(i) - x;
    sp.src.push_back(static_cast<int>(p * fw / dw));
  }
  return sp;
}

// The frame (fw x fh pixels) shown at dw x dh from (x, y) of the
// destination, cut to it; sflags 1 mirrors it left-right, 2 turns it
// upside down. Only the part inside is drawn, row by row; a row that shows
// the same row of the frame as the one above it (a frame scaled up) is a
// copy of that one.
void blit(const Dest& d, const uint32_t* src, int fw, int fh, int64_t x, int64_t y, int64_t dw, int64_t dh,
          int sflags) {
  const int by = d.bits == 24 ? 3 : d.bits / 8;
  const Span cols = span(x, dw, fw, d.w, sflags & 1), rows = span(y, dh, fh, d.h, sflags & 2);
  if (cols.i1 <= cols.i0 || rows.i1 <= rows.i0) return;
  const bool same = dw == fw && !(sflags & 1) && d.bits == 32;
  const uint8_t* lut = d.bits == 8 ? near8tab() : nullptr;
  const int64_t left = int64_t(cols.i0) * by;
  const size_t bytes = size_t(cols.i1 - cols.i0) * size_t(by);
  for (int j = rows.i0; j < rows.i1; j++) {
    const int sj = rows.src[size_t(j - rows.i0)];
    uint8_t* o = d.px + j * d.rowbytes;
    if (j > rows.i0 && sj == rows.src[size_t(j - 1 - rows.i0)]) {
      std::memcpy(o + left, o - d.rowbytes + left, bytes);
      continue;
    }
    const uint32_t* row = src + size_t(sj) * size_t(fw);
    if (same) {
      std::memcpy(o + left, row + cols.src[0], bytes);
      continue;
    }
    for (int i = cols.i0; i < cols.i1; i++)
      putpx(o + int64_t(i) * by, d.bits, row[cols.src[size_t(i - cols.i0)]], lut);
  }
}

// The split for a stereo display: each row of the frame shown at dw x dh,
// its first part to the left-eye place, the rest to the right-eye place,
// in screen memory. False when the screen gives no layout.
bool stsplit(const uint32_t* src, int fw, int fh, int64_t x, int64_t y, int64_t dw, int64_t dh) {
  ScrPix sp{nullptr, 0, 0, 0};
  if (!scrpixhk || scrpixhk(&sp) <= 0 || !sp.mem || sp.bits < 8) return false;
  if (x < 0 || y < 0 || x > INT32_MAX || y > INT32_MAX || dw > INT32_MAX) return false;
  int sx = static_cast<int>(x), sy = static_cast<int>(y), w = static_cast<int>(dw), rowbytes = 0, lskip = 0,
      rskip = 0;
  uint8_t *left = nullptr, *right = nullptr;
  if (stereoscreen(mv.layout, sp.bits, &sx, &sy, &w, &rowbytes, &lskip, &rskip, &left, &right) < 0)
    return false;
  if (trcmsk)
    jprintf(dbglun, "avistereo (%d): %d,%d %dx%d %dx%d  %dx%d  %d %d (%d,%d)\n", mv.layout, static_cast<int>(x),
            static_cast<int>(y), static_cast<int>(dw), static_cast<int>(std::min<int64_t>(dh, INT32_MAX)), w,
            static_cast<int>(std::min<int64_t>(dh, INT32_MAX)), lskip, rskip, rowbytes, sp.bits, sx, sy);
  const int by = sp.bits == 24 ? 3 : sp.bits / 8;
  const int64_t total = int64_t(sp.rowbytes) * sp.rows;
  const int64_t l0 = left - sp.mem, r0 = right - sp.mem;
  // Only the pixels the two halves take of each row are made.
  const int lpx = std::abs(lskip) / by, rpx = std::abs(rskip) / by;
  const int ln = static_cast<int>(std::min<int64_t>(lpx, dw)), rn = static_cast<int>(std::min<int64_t>(rpx, dw - ln));
  const Span cols = span(0, dw, fw, ln + rn, mv.sflags & 1);
  const uint8_t* lut = sp.bits == 8 ? near8tab() : nullptr;
  std::vector<uint8_t> row(size_t(ln + rn) * by);
  int64_t made = -1;  // the frame's row that row holds
  for (int64_t j = 0; j < dh; j++) {
    const int64_t l = l0 + j * rowbytes, r = r0 + j * rowbytes;
    // Rows past the screen memory's end are not shown.
    if (l >= total && r >= total) break;
    const int64_t sj = ((mv.sflags & 2) ? dh - 1 - j : j) * fh / dh;
    const uint32_t* s = src + size_t(sj) * size_t(fw);
    if (sj != made)
      for (int i = 0; i < ln + rn; i++) putpx(row.data() + size_t(i) * by, sp.bits, s[cols.src[size_t(i)]], lut);
    made = sj;
    // Each half stays inside the screen memory.
    if (lskip > 0 && l >= 0 && l + int64_t(ln) * by <= total) std::memcpy(sp.mem + l, row.data(), size_t(ln) * by);
    if (rskip > 0 && r >= 0 && r + int64_t(rn) * by <= total)
      std::memcpy(sp.mem + r, row.data() + size_t(ln) * by, size_t(rn) * by);
  }
  return true;
}

}  // namespace

// ---- The engine -------------------------------------------------------------------

uint32_t muldv(uint32_t a, uint32_t b, uint32_t c) {
  if (c == 0) return 0;
  return static_cast<uint32_t>((uint64_t(a) * b + c / 2) / c);
}

int aviini() {
  mv.ready = true;
  return 1;
}

bool aviisopen() { return mv.open; }
int32_t aviwin() { return mv.open ? mv.window : 0; }
int32_t audpos() { return audposms(); }

int aviclos() {
  avistop();
  for (FfVideo*& d : mv.dec) {
    ffvclose(d);
    d = nullptr;
  }
  if (mv.fd >= 0) close(mv.fd);
  mv.fd = -1;
  const bool was = mv.open;
  mv.open = false;
  mv.info = AviInfo{};
  mv.vid = mv.aud = -1;
  mv.pframe = -1;
  mv.pix.clear();
  if (was && nmov > 0) nmov--;
  return 0;
}

int InitAVI(int32_t window, const char* file, const int32_t* rect, int mode, int sflags, int layout,
            int loops, int rate, int playms) {
  if (!mv.ready) aviini();
  const std::string host = file ? hostpath(file) : std::string();
  AviInfo info;
  if (host.empty() || aviread(host, &info) != 0) return -1;
  mv.window = window;
  aviclos();
  mv.host = host;
  mv.info = std::move(info);
  mv.open = true;
  mv.fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  const int slot = std::min<int>(nmov, NMOVREC - 1);
  MovRec& r = movtab[slot];
  r = MovRec{};
  r.mode = static_cast<uint16_t>(mode > 0 ? mode : 4);
  if (avigets(file) < 0) {
    aviclos();
    mv.open = false;
    return 0;
  }
  if (rect) {
    std::memcpy(r.rect, rect, sizeof r.rect);
    r.flags |= 32;
  }
  if (nmov == 0) mv.playing = false;
  nmov = static_cast<int16_t>(slot + 1);
  curmov = static_cast<uint16_t>(slot);
  mv.sflags = sflags;
  mv.layout = layout;
  mv.loops = loops;
  mv.ratefac = (rate > 0 ? rate : 100) / 100.0f;
  mv.playms = playms;
  mv.loopsdone = 0;
  return mv.vid >= 0 || mv.aud >= 0 ? 1 : 0;
}

int playAVI(int start, int index, int wait) {
  if (index < 0 || index >= nmov || !mv.open) return -1;
  curmov = static_cast<uint16_t>(index);
  MovRec& r = movtab[index];
  r.shown = start - 1;
  r.due = 0;
  mv.playclk = nowms();
  mv.loopsdone = 0;
  if (mv.aud >= 0) avisnd();
  if (mv.vid < 0) return 0;
  if (!mv.playing) {
    mv.playing = true;
    mv.clkstart = nowms();
    mv.mediastart = start;
    if (mv.aud >= 0) audloops(mv.loops, mv.ratefac);
  }
  return maintainAVI(wait);
}

namespace {
// Paints the movie window now (UpdateWindow): only the frame changes, so
// only the frame is painted.
void movpaint() { AVIpaint(0, mv.window); }
}  // namespace

int maintainAVI(int wait) {
  if (!mv.playing) return 0;
  if (audplaying()) wommsg();
  int result = 0;
  bool inval = false;
  for (int i = 0; i < nmov; i++) {
    MovRec& r = movtab[i];
    const int64_t now = nowms();
    int64_t t = audpos();
    if (t >= 1) {
      t -= int64_t(mv.loopsdone) * movlen();
    } else {
      double e = double(now - mv.clkstart);
      if (mv.ratefac > 0) e = std::round(e * mv.ratefac);
      t = static_cast<int64_t>(e) + mv.mediastart;
      if (t < mv.start) {
        // A play from before the movie's start: the clock goes there at once.
        mv.mediastart = static_cast<int32_t>(mv.mediastart + (mv.start - t));
        t = mv.start;
      }
    }
    if (mv.playms > 0) {
      if (now - mv.playclk < mv.playms) {
        mv.loops = 2;
      } else {
        mv.loops = 0;
        t = int64_t(mv.end) + 1;
      }
    }
    if (r.due > t) {
      // The wait on the program's clock: media time runs at the rate factor.
      const double rf = mv.ratefac > 0 ? mv.ratefac : 1.0;
      const int64_t w = static_cast<int64_t>(std::ceil(double(r.due - t) / rf));
      result = std::max<int>(result, static_cast<int>(std::min<int64_t>(w, 10000)));
      continue;
    }
    if (t == r.shown) continue;
    if (t < mv.start) t = mv.start;
    bool looped = false;
    if (t >= mv.end) {
      if (mv.loops > 0) mv.loops--;
      if (mv.loops != 0 && movlen() > 0) {
        mv.clkstart += static_cast<int64_t>(movlen() / (mv.ratefac > 0 ? mv.ratefac : 1.0f));
        mv.loopsdone++;
        t -= movlen();
        if (t >= mv.end || t < mv.start) t = mv.start;
        r.due = mv.start;
        looped = true;
      } else {
        movstop();
        mv.playing = false;
      }
    }
    r.shown = static_cast<int32_t>(std::clamp<int64_t>(t, INT32_MIN, INT32_MAX));
    if (mv.vid >= 0 && mv.playing) {
      if (wait) return looped ? -2 : -1;
      inval = true;
    }
    if (looped) result = -2;
  }
  if (inval) movpaint();
  if (result == -2) return -2;
  if (!mv.playing) return 0;  // it has just ended
  return result < 1 ? 1 : result;
}

namespace {
int moviepaint(int32_t window) {
  if (!mv.open || window != mv.window) return -1;
  const uint32_t t0 = rtclock();
  MovRec& r = movtab[curmov];
  const int n = winnum(window);
  Wport* w = wport(n);
  PwRec* p = wpwrec(w);
  if (!p || mv.vid < 0) return 0;
  const AviStrm& s = mv.info.strm[size_t(mv.vid)];
  const int64_t last = int64_t(s.start) + strmlen(s) - 1;
  int64_t k = ms2smp(s, r.shown);
  if (k > last) k = last;
  if (last < s.start) return 0;
  if (k < s.start) {
    // No frame before the stream's start: the next is due then.
    r.due = static_cast<int32_t>(std::clamp<int64_t>(smp2ms(s, s.start), 0, INT32_MAX));
    return 0;
  }
  const int64_t nx = nextfull(s, k + 1);
  // Times past the clock's range are the movie's end, never wrapped.
  r.due = static_cast<int32_t>(std::clamp<int64_t>(nx >= 0 ? smp2ms(s, nx) : mv.end, 0, INT32_MAX));
  int fw = 0, fh = 0;
  framesize(mv.vid, &fw, &fh);
  // The size shown may pass what the window holds: only the part inside is
  // ever drawn.
  const int64_t dw = int64_t(fw) * r.mode / 4, dh = int64_t(fh) * r.mode / 4;
  if (dw < 1 || dh < 1) return 0;
  // Where the frame goes in the window's client area.
  const int64_t cw = int64_t(p->rect[2]) - p->rect[0] + 1, ch = int64_t(p->rect[3]) - p->rect[1] + 1;
  int64_t x = (cw - dw) / 2, y = (ch - dh) / 2;
  if (r.flags & 32) {
    if (r.rect[2] < 1) {
      x = std::max<int64_t>(0, std::min<int64_t>(r.rect[0] - dw / 2, cw - dw));
      y = std::max<int64_t>(0, std::min<int64_t>(r.rect[1] - dh / 2, ch - dh));
      auto i32 = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
      r.rect[0] = i32(x);
      r.rect[1] = i32(y);
      r.rect[2] = i32(x + dw - 1);
      r.rect[3] = i32(y + dh - 1);
    } else {
      x = r.rect[0];
      y = r.rect[1];
    }
  }
  // Where it is drawn: the window's memory when it has some, else its
  // surface.
  Dest d;
  bool mem = false;
  if (auto* o = static_cast<PwRec*>(heldptr(w->offscr)); o && heldptr(o->pixels) && o->depth >= 8) {
    d.px = static_cast<uint8_t*>(heldptr(o->pixels));
    d.bits = o->depth;
    d.rowbytes = o->rowbytes;
    d.w = std::min<int>(o->rect[2], static_cast<int>(o->rowbytes * 8 / o->depth));
    d.h = o->rect[3];
    mem = true;
  } else if (Surface* sf = wm_surface(window)) {
    d.px = reinterpret_cast<uint8_t*>(sf->data());
    d.rowbytes = int64_t(sf->stride) * 4;
    d.w = sf->w;
    d.h = sf->h;
  }
  if (!d.px) return 0;
  if (!mv.layout && !(mv.sflags & 3) && d.bits == 32 && dw == fw && dh == fh && x >= 0 && y >= 0 &&
      x + dw <= d.w && y + dh <= d.h) {
    // Straight into place: uncompressed frames read from the file as they
    // are, others decoded; each only when the stream holds a frame of the
    // size it claims.
    uint32_t* at = reinterpret_cast<uint32_t*>(d.px + y * d.rowbytes) + x;
    const int stride = static_cast<int>(d.rowbytes / 4);
    int rw = 0, rh = 0;
    if (!(rawvid(s, &rw, &rh) && rw == fw && rh == fh && rawfrm(mv.fd, s, mv.vid, k, at, stride) == 0) &&
        ffvframe(viddec(), k, at, fw, fh, stride) != 0)
      return 0;
  } else {
    // Through the frame at its own size, read or decoded when it is not
    // the one in hand, and only when the stream holds a frame of the size
    // it claims; then shown at its scale, cut to the window.
    if (mv.pframe != k || mv.pw != fw || mv.ph != fh) {
      mv.pframe = -1;
      const bool raw = rawhas(s, k);
      if (!raw && ffvframe(viddec(), k, nullptr, fw, fh) != 0) return 0;
      mv.pix.assign(size_t(fw) * size_t(fh), 0);
      if (!(raw && rawfrm(mv.fd, s, mv.vid, k, mv.pix.data(), fw) == 0) &&
          ffvframe(viddec(), k, mv.pix.data(), fw, fh) != 0)
        return 0;
      mv.pframe = k;
      mv.pw = fw;
      mv.ph = fh;
    }
    // avistereo: split for a stereo display, else drawn whole (mirrored or
    // upside down by the stereo flags).
    if (!(mv.layout && stsplit(mv.pix.data(), fw, fh, x, y, dw, dh))) {
      mv.layout = 0;
      blit(d, mv.pix.data(), fw, fh, x, y, dw, dh, mv.sflags);
    }
  }
  if (mem) invalwin(window);
  if (jdebug > 2)
    logprintf("aviPaint %d T=%ld,%ld -> %ld x=%d-%d\n", static_cast<int>(k), static_cast<long>(r.shown),
              static_cast<long>(smp2ms(s, k)), static_cast<long>(r.due), static_cast<int>(x),
              static_cast<int>(x + dw - 1));
  r.paintdur = static_cast<int32_t>(rtclock() - t0);
  trclng(64, "AVIpaint", 0, static_cast<int>(k), r.shown, r.due, r.paintdur, 0);
  return static_cast<int>(k) + 1;
}
}  // namespace

int AVIpaint(int32_t, int32_t window) {
  const int r = moviepaint(window);
  // The frames of a cine run on the screen stay above the window's paint.
  return cinepaint(window) && r < 0 ? 0 : r;
}

int avilist(int level) {
  if (!mv.open || mv.info.strm.empty()) return 0;
  int fw = 0, fh = 0;
  const AviStrm& s0 = mv.info.strm[0];
  if (s0.type == fourcc("vids")) framesize(0, &fw, &fh);
  jprintf(lstlun, " %dx%d %8.3f - %8.3f\n", fw, fh, smp2ms(s0, s0.start) / 1000.0,
          smp2ms(s0, int64_t(s0.start) + strmlen(s0)) / 1000.0);
  int count = 0;
  if (level > 1) {
    for (size_t i = 0; i < mv.info.strm.size(); i++) {
      const AviStrm& s = mv.info.strm[i];
      if (s.type != fourcc("vids")) continue;
      for (int64_t k = nextfull(s, s.start); k >= 0; k = nextfull(s, k + 1)) {
        jprintf(lstlun, "%2d %4d %8.3f\n", static_cast<int>(i), static_cast<int>(k), smp2ms(s, k) / 1000.0);
        count++;
        if (state & 0x8180) return count;
      }
    }
  }
  return count;
}

int AudioMsg(int32_t window, uint32_t message) {
  trcint(64, "AudioMsg", 0, static_cast<int>(message), window, 0, 0, 0);
  if (message == MM_WOM_DONE)
    auddone();
  else if (message == MM_WOM_CLOSE)
    movstop();
  return 0;
}

int aviopen(const char* file, int32_t window, const int32_t* rect, int mode, int sflags, int layout,
            int loops, int rate, int playms) {
  const int r = InitAVI(window, file, rect, mode, sflags, layout, loops, rate, playms);
  if (r <= 0 && !(state & ST_ERROR)) error(0, 209);
  return r;
}
int aviplay(int start, int index, int wait) { return playAVI(start, index, wait); }
int avitick(int wait) { return maintainAVI(wait); }
int avipnt(int32_t dc, int32_t window) { return AVIpaint(dc, window); }
int avishow(int level) { return avilist(level); }

void avireset() {
  aviclos();
  audrst();
  nmov = 0;
  curmov = 0;
  mv = Movie{};
}
