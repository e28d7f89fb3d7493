// The pen of the vector graphics: moving and drawing from it with the
// drawing-mode word gflags (origin, rotation of z into a screen axis, flip
// of y, platform line or a line walked pixel by pixel), line preparation and
// the walkers the real-time display ops share, clipping to the drawing box,
// and small geometric helpers.
//
// Points are three 16-bit components x, y, z.
#pragma once
#include <cstddef>
#include <cstdint>

#include "graphics/writers.h"

// Drawing box: minimum x, y, z and maximum x, y, z.
struct DrawBox {
  int16_t min[3];
  int16_t max[3];
};
extern DrawBox drwbox;
// Drawing origin: x and y added to every point; word 5 the drawing height
// used by the y flip. Kept with the device variables that write it
// (realtime/devices/devvar.h).
extern int16_t drworg[6];
// The pen point (the last point moved or drawn to, before the origin), and
// the previous rotated point.
extern int16_t penpt[3];
extern int16_t rotpt[3];
// The value last given to the platform pen by vline (-1: none), and the
// last text size.
extern uint32_t lastpen;
extern uint32_t lastsiz;
// Display zoom shifts (x, y) by which screen coordinates exceed image ones.
extern uint8_t zoomsh[2];

// The line state, filled by linprm and walked in place by the walkers.
enum : int16_t { LK_POINT = -2, LK_HORIZ = -1, LK_XMAJOR = 0, LK_YMAJOR = 1, LK_VERT = 2 };
struct LnState {
  int16_t kind;        // LK_*
  int16_t step;        // minor step, +1 or -1
  int64_t err;         // Bresenham error and its terms
  int64_t dec;
  int64_t inc;
  int32_t count;       // pixels: major length + 1
  int32_t x, y;        // the current pixel
  int32_t ex, ey;      // the pixel the walk ends on
  float zslope;        // z change per major step
  int32_t zbase;       // z at major coordinate m: zbase + trunc(m * zslope + round)
  float round;         // +0.5 for a slope that is not negative, else -0.5
  uint32_t value;      // the pixel value
};
extern LnState lnst;

// The display-device switch in force: gunit, or the device flags word while
// gunit is negative. 0x1: the hardware display hooks; 0x2: the window.
int dspsw();

int vmove(const int16_t* point);
// A line from the platform pen to (x, y) in the window: the pixels the walk
// into an image sets, both ends included (a dot is its one point), each a
// dot of the pen; the pen moves to (x, y). The platform's own line (lineto)
// leaves its end point out.
void winline(int x, int y);
// Draws from the pen to the point with a value (mode 1: value 0). The
// point may be changed (flipped) when it is the one drawn.
int vline(int16_t* point, uint32_t value, int mode);
// z rotated into a screen axis: into out, which is returned; under gflags
// bit 0x10 the point itself is returned (the rotated copy is a second trace).
const int16_t* vrotat(const int16_t* point, int16_t* out);
int linprm(const int16_t* from, const int16_t* to, LnState* ls);
// Walks the line state through a writer / through the installed pixel
// writer (typed loops for a plain image target).
int lnstep(PixWriter writer);
int drline();
// Rows of a fill: the span from (x0, y) to (x1, y), x0 <= x1, drawn as
// vmove(x0, y) and vline(x1, y, value, mode) draw it. While the mode word
// sends such a line through the pixel writer straight into vimage's memory
// (no transform, depth, brightness, fat-pixel or dash bits, vimage bound to
// a plain integer image), spanbeg returns true and spanput writes the
// pixels at once; spanend then leaves the pen, the platform pen and the
// line state as the last span's vmove and vline would. Otherwise spanbeg
// returns false and the caller draws with the pen.
bool spanbeg(uint32_t value, int mode);
inline void spanput(int x0, int x1, int y);
void spanend(const int16_t* a, const int16_t* b);

// The image and value of the spans while spanbeg holds.
struct SpanTgt {
  uint8_t* base = nullptr;  // item (0, 0)
  int64_t row = 0;          // bytes a row
  int32_t w = 0, h = 0;
  int bytes = 0;            // 1, 2 or 4
  uint32_t value = 0;
  bool xr = false;          // XOR the value in
  bool any = false;         // a span was put
};
extern SpanTgt spn;
// n items from p: the value stored or XORed in.
void spanrow(uint8_t* p, int32_t n);
// n bytes from p set to the byte that v repeats: a short row in a few
// overlapping words.
inline void fillbytes(uint8_t* p, int32_t n, uint64_t v) {
  typedef uint64_t Pair __attribute__((vector_size(16)));
  if (n > 256) {
    __builtin_memset(p, static_cast<int>(v & 0xFF), static_cast<size_t>(n));
  } else if (n >= 16) {
    const Pair w = {v, v};
    for (int32_t i = 0; i + 16 < n; i += 16) __builtin_memcpy(p + i, &w, 16);
    __builtin_memcpy(p + n - 16, &w, 16);
  } else if (n >= 8) {
    __builtin_memcpy(p, &v, 8);
    __builtin_memcpy(p + n - 8, &v, 8);
  } else if (n >= 4) {
    __builtin_memcpy(p, &v, 4);
    __builtin_memcpy(p + n - 4, &v, 4);
  } else {
    p[0] = p[n - 1] = p[n >> 1] = static_cast<uint8_t>(v);
  }
}
inline void spanput(int x0, int x1, int y) {
  spn.any = true;
  if (y < 0 || y >= spn.h) return;
  x0 = x0 > 0 ? x0 : 0;
  x1 = x1 < spn.w - 1 ? x1 : spn.w - 1;
  if (x1 < x0) return;
  const int32_t n = x1 - x0 + 1;
  uint8_t* p = spn.base + y * spn.row + static_cast<int64_t>(x0) * spn.bytes;
  if (spn.bytes == 1 && !spn.xr)
    fillbytes(p, n, 0x0101010101010101ull * (spn.value & 0xFF));
  else
    spanrow(p, n);
}

// The line log: the lines a redraw has just drawn straight into vimage
// (as vline's typed walk does), one after another, all of one value and
// plainly stored, with nothing else drawn since (pxgen). Storing that
// value again over such a line's pixels changes none of them, so the
// filler need not draw an outline edge that is among them. vdraw arms the
// log for a line record (lnarm, cleared when the line goes in) while a
// redraw walks the list, and empties it before any other record; a
// redraw empties it when it starts and ends.
extern bool lnarm;
void lnclear();
// Whether lines of the value drawn now would go into the image of the
// logged lines, the same way.
bool lnready(uint32_t value);
// The lines' ends (x and y: the same pixels whatever their z) as keys,
// kept round in a ring; the image and value they share.
struct LnLog {
  static constexpr int N = 64;  // a power of two
  uint64_t key[N];
  int n = 0;     // lines in the log
  int head = 0;  // where the next goes
  int hit = 0;   // where the last found one was
  const uint8_t* base = nullptr;
  uint32_t value = 0;
  uint32_t gen = 0;  // pxgen after the last line logged
};
extern LnLog lnlog;
inline uint64_t lnkey(const int16_t* a, const int16_t* b) {
  return (static_cast<uint64_t>(static_cast<uint16_t>(a[0])) << 48) |
         (static_cast<uint64_t>(static_cast<uint16_t>(a[1])) << 32) |
         (static_cast<uint64_t>(static_cast<uint16_t>(b[0])) << 16) | static_cast<uint16_t>(b[1]);
}
// Whether the line from a to b (or from b to a: the same pixels) is in
// the log (after lnready): the lines of an outline come in the order they
// were drawn, so the one after the last found is looked at first.
bool lnfind(const int16_t* a, const int16_t* b);
inline bool lnseen(const int16_t* a, const int16_t* b) {
  LnLog& g = lnlog;
  constexpr unsigned M = LnLog::N - 1;
  const unsigned first = static_cast<unsigned>(g.head - g.n) & M;
  const unsigned at = static_cast<unsigned>(g.hit + 1) & M;
  if (((at - first) & M) < static_cast<unsigned>(g.n)) {
    const uint64_t k = g.key[at];
    if (k == lnkey(a, b) || k == lnkey(b, a)) {
      g.hit = static_cast<int>(at);
      return true;
    }
  }
  return lnfind(a, b);
}

// Out-codes: bits 0-2 below the minimum x, y, z; bits 3-5 above the maximum.
inline int limits(const int16_t* p) {
  int c = 0;
  for (int k = 0; k < 3; k++) {
    if (p[k] < drwbox.min[k]) c |= 1 << k;
    if (p[k] > drwbox.max[k]) c |= 8 << k;
  }
  return c;
}
// Whether a point lies inside the drawing box (limits 0).
inline bool inbox(const int16_t* p) {
  return p[0] >= drwbox.min[0] && p[0] <= drwbox.max[0] && p[1] >= drwbox.min[1] && p[1] <= drwbox.max[1] &&
         p[2] >= drwbox.min[2] && p[2] <= drwbox.max[2];
}
// Clips a segment to the drawing box: 0 inside (points untouched), -1
// wholly outside or interrupted, else the combined out-codes (the points
// moved onto the box).
int iclipx(int16_t* p0, int16_t* p1);
inline int iclip(int16_t* p0, int16_t* p1) { return inbox(p0) && inbox(p1) ? 0 : iclipx(p0, p1); }
// Direction code 0..7 of the segment from a to b, from its slope.
int dircode(const int16_t* a, const int16_t* b);
// Euclidean distance over n components.
float vdist(const int16_t* a, const int16_t* b, int n);
// The angle at a vertex between the directions to a and b, in degrees.
float ANGLE(const int32_t* a, const int32_t* vertex, const int32_t* b);
// A box outline with the pen, scaled by the zoom shifts.
int vbox(int x, int y, int width, int height, uint32_t value, int zoom, int flags);
// The text cursor to (x, y) (the hardware hook when the device flags say so).
int clrwin(int x, int y);

// Back to the start-up state (tests).
void penini();
