// The sweep function: an oscilloscope in the vector window. One or two
// traces are drawn column by column straight into the window's pixels
// (XOR), an eraser running four columns ahead, until a key ends it; the
// values of the last sweep are the result, oldest first.
#include "graphics/sweep.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "compute/fnsvc.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/plots.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"
#include "graphics/writers.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "ui/draw.h"
#include "ui/events.h"
#include "ui/platform/clock.h"
#include "ui/window.h"

namespace {

// A source of values: an array's items in turn, or a live number (a
// variable or a system variable) read at every step.
struct Src {
  PtrRec* r = nullptr;
  uint16_t flg = 0;
  int32_t idx = 0;
  int32_t wsiz = 0;
  bool live = false;
  std::vector<float> items;
  size_t at = 0;
  float value = 0.0f;  // a constant's

  // Takes argument n: false when it is no source (or an array without
  // items).
  bool set(int n) {
    int32_t h = 0;
    const int t = argtyp(n, &h);
    r = ptrrec(h);
    if (!t || (t & K_STRING)) return false;
    if (!r) {
      // A number given as such.
      if (!(t & K_NUMBER)) return false;
      value = fltarg(n, 0.0f);
      return true;
    }
    if (t & K_DIMS) return fltitems(r, items) >= 1;
    if (!(t & K_NUMBER)) return false;
    // The record is read afresh at every step (a read turns a system
    // variable's record into a constant: its kind is kept here).
    flg = r->Flg;
    idx = r->Idx;
    wsiz = r->Wsiz;
    live = (t & (K_NUMBER | K_NOSTK)) == (K_NUMBER | K_NOSTK);
    return true;
  }
  bool array() const { return !items.empty(); }
  float now() {
    if (!r) return value;
    if (flg & K_NOSTK) {
      if (flg & K_NAMED) {
        const SymEnt* e = symptr(idx);
        const void* p = e && e->data ? stkptr(e->data) : nullptr;
        return p ? static_cast<float>(getelm(p, wsiz)) : 0.0f;
      }
      return getprm(idx);
    }
    int32_t part = 0;
    LDVARB(r, &part, 0);
    return part >= 1 ? static_cast<float>(GSTACK(r)) : 0.0f;
  }
};

// The scale that fits a value into half the window height (1 when it fits
// or the window is under 2 pixels high).
float autoscale(float v, int h) {
  const int half = h / 2;
  if (half < 1) return 1.0f;
  if (v < -static_cast<float>(half)) v = -v;
  if (!(v > static_cast<float>(half))) return 1.0f;
  const float k = std::ceil(v / static_cast<float>(half));
  const float s = 1.0f / k;
  jprintf(1, "YScale set at %6.3f\n", s);
  return s;
}

int screeny(float v, float scale, int zero, int h) {
  const double y = static_cast<double>(v) * scale + zero;
  return h - (std::isnan(y) ? 0 : static_cast<int>(std::clamp(y, 0.0, static_cast<double>(h))));
}

}  // namespace

float* sweep(int, uint32_t* count) {
  if (count) *count = 0;
  if (nargs() < 2 || !argtyp(2, nullptr)) return nullptr;
  if (!veclst()) vinit(0);
  Src s1, s2, trig;
  if (!s1.set(2)) {
    error(2, 70);
    return nullptr;
  }
  // A number given as such where a second source or a trigger may stand
  // holds the place of none (a function's arguments cannot be left out).
  auto given = [](int n) {
    const int t = nargs() >= n ? argtyp(n, nullptr) : 0;
    return t != 0 && (t & ~K_VALUE) != K_NUMBER;
  };
  const bool two = given(10);
  if (two && (!s2.set(10) || !s1.live || !s2.live)) {
    error(s1.live ? 10 : 2, 70);
    return nullptr;
  }
  const bool trigd = given(14);
  if (trigd && (!trig.set(14) || trig.array())) {
    error(14, 70);
    return nullptr;
  }
  const auto c1 = static_cast<uint32_t>(lngarg(3, dcolor));
  int32_t delay = std::max<int32_t>(lngarg(4, 0), 0);
  const int32_t npts = lngarg(5, 0);
  const int xoff = intarg(6, 0);
  float xstep = fltarg(7, 0.0f);
  if (xstep == 0.0f) xstep = 1.0f;
  const int zoff1 = intarg(8, 0);
  float sc1 = fltarg(9, 0.0f);
  const auto c2 = static_cast<uint32_t>(lngarg(11, dcolor));
  const int zarg2 = intarg(12, -1);
  float sc2 = fltarg(13, 0.0f);
  const float level = fltarg(15, 0.0f);
  const bool rising = intarg(16, 1) != 0;
  if (stopped()) return nullptr;

  int16_t box[4] = {0, 0, 0, 0};
  winbox(box, 4, 0, 0);
  const int H = box[3] - box[1], W = box[2] - box[0];
  int zero1 = H / 2 + zoff1;
  int zero2 = zarg2 == -1 ? zero1 : H / 2 + zarg2;
  if (sc1 == 0.0f) sc1 = autoscale(s1.array() ? s1.items[0] : s1.now(), H);
  if (sc2 == 0.0f) sc2 = sc1;
  const bool cyclic = npts < 0;
  int32_t N = npts != 0 ? std::abs(npts) : static_cast<int32_t>(static_cast<float>(W - xoff) / xstep);
  N = std::max(N, 1);
  if (N > INT32_MAX / 4) return nullptr;  // no room for its buffers
  auto* vals = static_cast<float*>(getbuf(N * 4));
  auto* y1 = static_cast<int32_t*>(getbuf(N * 4));
  auto* y2 = static_cast<int32_t*>(getbuf(N * 4));
  auto* out = static_cast<float*>(getbuf(N * 4));
  if (!vals || !y1 || !y2 || !out) return nullptr;
  for (int32_t i = 0; i < N; i++) y1[i] = y2[i] = -1;

  // XOR pixels straight into the vector window.
  const int16_t xkeep = xorflg;
  xorflg = static_cast<int16_t>(xorflg | 0x80);
  const ImgTgt* ikeep = curit;
  curput(nullptr);
  const PixTgt tkeep = pixtg;
  pixtg.mem = nullptr;
  VecPort vp;
  VecWin vw;
  flushq();
  const PwRec* port = getPort();
  auto xof = [&](int32_t c) { return static_cast<int>(static_cast<float>(c) * xstep + static_cast<float>(xoff)); };

  int32_t col = 0, er = -1;
  bool wrapped = false;
  int sel = 1, step = 1, phase = 0, last = 0;
  uint64_t due = 0;
  while (!stopped()) {
    const int key = chkio(1);
    if (key > 0) {
      if (trcmsk) jprintf(dbglun, "[%d]\n", key);
      last = key;
      int& zero = sel == 2 ? zero2 : zero1;
      float& sc = sel == 2 ? sc2 : sc1;
      const float f = 1.0f + static_cast<float>(step + 1) / 10.0f;
      if (key == '1') {
        sel = 1;
      } else if (key == '2') {
        if (two) sel = 2;
      } else if (key == '?') {
        jprintf(1, "Y1scale=%.1f  Y1zero=%d", sc1, zero1);
        if (two) jprintf(1, "\tY2scale=%.1f  Y2zero=%d", sc2, zero2);
        jprintf(1, "\n");
      } else if (key == 199) {  // Home
        zero = H / 2;
        sc = 1.0f;
        delay = 0;
      } else if (key == 201) {  // PgUp
        zero += 10 * step + 1;
      } else if (key == 209) {  // PgDn
        zero -= 10 * step - 1;
      } else if (key == 203) {  // Left
        delay = std::max<int32_t>(delay - 1, 0);
      } else if (key == 205) {  // Right
        delay++;
      } else if (key == 210) {  // Ins
        step = step >= 8 ? 1 : 2 * step;
      } else if (key == 200) {  // Up
        sc *= f;
      } else if (key == 208) {  // Down
        sc /= f;
      } else {
        break;
      }
    } else if (inend()) {
      break;  // no input will come: as a key
    }
    if (col == 0 && trigd && phase < 2) {
      // The edge: first the other side of the level, then this one.
      const bool s = trig.now() > level;
      if (phase == 0 && s != rising) phase = 1;
      if (phase == 1 && s == rising) phase = 2;
      if (phase < 2) {
        clock_sleep_ns(1000000ull);
        continue;
      }
    }
    if (delay > 0) {
      const uint64_t now = clock_ms_coarse();
      if (now < due) {
        clock_sleep_ns(std::min<uint64_t>(due - now, 10) * 1000000ull);
        continue;
      }
      due = now + static_cast<uint64_t>(delay);
    }
    float v = 0.0f;
    if (s1.array()) {
      if (s1.at >= s1.items.size()) {
        if (!cyclic) break;
        s1.at = 0;
      }
      v = s1.items[s1.at++];
    } else {
      v = s1.now();
    }
    const int a = screeny(v, sc1, zero1, H);
    const int b = two ? screeny(s2.now(), sc2, zero2, H) : -1;
    vals[col] = v;
    if (col == N - 4 && er < 0) er = 0;
    if (er >= 0) {
      if (y1[er] >= 0) SETpix(xof(er), y1[er], 0xFFFFFF);
      if (two && y2[er] >= 0) SETpix(xof(er), y2[er], 0xFFFFFF);
      y1[er] = y2[er] = -1;
      er = (er + 1) % N;
    }
    SETpix(xof(col), a, c1);
    if (two) SETpix(xof(col), b, c2);
    y1[col] = a;
    y2[col] = b;
    if (port) invalwin(port->window);
    if (++col >= N) {
      col = 0;
      wrapped = true;
      phase = 0;
    }
  }
  jprintf(dbglun, "Sweep done (%o,%d)\n", static_cast<unsigned>(state & 0xFFFF), last);
  pixtg = tkeep;
  curput(ikeep);
  xorflg = xkeep;
  // The values of the last sweep, oldest first.
  int32_t n = 0;
  if (wrapped) {
    for (int32_t i = 0; i < N; i++) out[n++] = vals[(col + i) % N];
  } else {
    for (int32_t i = 0; i < col; i++) out[n++] = vals[i];
  }
  if (count) *count = static_cast<uint32_t>(n);
  return out;
}
