// The generators of the function dispatcher (random numbers, ramps and the
// sine series) and the repeat expander of pdstr.
#include "compute/genrat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "compute/arith.h"
#include "compute/expr.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "ui/clocks.h"
#include "ui/events.h"

namespace {

uint32_t rndstate = 1;
bool seeded = false;

constexpr int32_t ABSENT = -999;

// The ramp meets its end b: with bounce it turns back (b and lo change
// places, the step its sign, and the value moves back two steps so that the
// turning value is not repeated); without, it restarts at lo.
void rampturn(int64_t& cur, int64_t& s, int64_t& b, int64_t& lo, bool bounce) {
  if (bounce) {
    b = lo;
    lo = cur;
    s = -s;
    cur += 2 * s;
  } else {
    cur = lo;
  }
}

}  // namespace

// An explicit seed restarts the sequence but leaves the clock-seeded flag
// alone: only a seed taken from the clock sets it.
void rndset(uint32_t seed) { rndstate = seed; }

void rndrst() { seeded = false; }

// A linear congruential generator giving 15-bit integers.
int rndnxt() {
  rndstate = rndstate * 214013u + 2531011u;
  return static_cast<int>((rndstate >> 16) & 0x7FFF);
}

void rampspan(int64_t n, int64_t cur, int64_t s, int64_t b, int64_t lo, bool bounce, int64_t repeat,
              int64_t* lowest, int64_t* highest) {
  int64_t mn = INT64_MAX, mx = INT64_MIN;
  // Each value as genrat stores it: clamped to 32 bits.
  auto see = [&](int64_t v) {
    v = std::clamp<int64_t>(v, INT32_MIN + 1, INT32_MAX);
    mn = std::min(mn, v);
    mx = std::max(mx, v);
  };
  const int64_t rep = repeat >= 2 ? repeat : 0;
  int64_t left = rep;
  // After a few meetings of b the values only repeat those already seen:
  // without bounce every pass runs from lo to b again, with bounce the
  // passes alternate between two.
  for (int meet = 0; n > 0 && meet < 8;) {
    if (cur == b) {
      // One store as genrat makes it (b may be met with no step).
      see(cur);
      n--;
      if (!rep || --left <= 0) {
        left = rep;
        cur += s;
      }
    } else {
      // The values cur, cur + s, ...: the first stored for what is left of
      // its repeat, each further one repeat times (once without).
      const int64_t first = rep ? left : 1, per = rep ? rep : 1;
      int64_t j = 0;  // the steps until b is met; 0: never
      if (s != 0 && (b - cur) % s == 0 && (b - cur) / s >= 1) j = (b - cur) / s;
      const wide need = j ? first + static_cast<wide>(j - 1) * per : static_cast<wide>(n) + 1;
      if (need > n) {
        // n runs out first: the values up to the one of the last store.
        const int64_t steps = n <= first ? 0 : 1 + (n - first - 1) / per;
        see(cur);
        see(narrow(cur + static_cast<wide>(steps) * s));
        break;
      }
      see(cur);
      see(cur + (j - 1) * s);
      n -= static_cast<int64_t>(need);
      left = rep;
      cur = b;
    }
    if (cur != b) continue;
    meet++;
    rampturn(cur, s, b, lo, bounce);
  }
  *lowest = mn;
  *highest = mx;
}

int su_gen(FnCall& c) {
  int32_t* t = optab;
  int kind = getdst(c.dest);
  int32_t count = lngarg(2, -1);
  if (count < 1 && t[OT_REC + 2]) count = t[OT_CNT + 2];
  if (count < 1) {
    error(0, 77);
    c.ret = 0;
    return FS_RET;
  }
  t[OT_RCNT] = count;
  int64_t a = lngarg(3, 0);
  int64_t e = lngarg(4, ABSENT);
  double b = 0.0, step = 1.0, rep = 0.0;
  if (c.code == 244) {
    t[OT_RWSZ] = W_FLOAT;
    b = static_cast<double>(e);
  } else if (c.code == 1203) {
    t[OT_RWSZ] = W_FLOAT;
    if (c.orig == 205) a += 90;
    b = e != ABSENT ? static_cast<double>(e) : 1.0;
  } else {
    int64_t s = lngarg(5, 1);
    int64_t r = std::max<int64_t>(lngarg(6, 0), 1);
    int64_t last = ((count - 1 + r) / r - 1) * s + a;
    int64_t bb;
    if (e == ABSENT) {
      bb = last + s;
    } else {
      if (e < last) last = e;
      bb = e + s;
    }
    if (last < a) last = a;
    // A new result's type holds every value the ramp stores, from its
    // lowest to its highest (a falling ramp, or one whose end is never met,
    // goes beyond start and end); 16-bit items hold -32767 .. 32767.
    int64_t lowest = 0, highest = 0;
    const bool bounce = intarg(7, 0) != 0;
    rampspan(count, lngarg(8, static_cast<int32_t>(a)), s, bb, bounce ? a - s : a, bounce, lngarg(6, 0), &lowest,
             &highest);
    if (t[OT_REC + 2] && (kind & K_DATA) && t[OT_WSIZ + 2])
      t[OT_RWSZ] = t[OT_WSIZ + 2];
    else if (lowest >= 0 && highest <= 255)
      t[OT_RWSZ] = W_BYTE;
    else if (lowest >= -32767 && highest <= 32767)
      t[OT_RWSZ] = W_SHORT;
    else
      t[OT_RWSZ] = W_LONG;
    b = static_cast<double>(bb);
    step = static_cast<double>(s);
    rep = static_cast<double>(lngarg(6, 0));
    trclng(8, "ramp", 0, static_cast<int32_t>(count), static_cast<int32_t>(a),
           static_cast<int32_t>(bb), static_cast<int32_t>(s), static_cast<int32_t>(last));
  }
  c.gen[0] = static_cast<double>(a);
  c.gen[1] = b;
  c.gen[2] = step;
  c.gen[3] = rep;
  return FS_GO;
}

int genrat(int code, double a, double b, double step, double repeat) {
  int32_t* t = optab;
  PtrRec* d = oprec(2);
  if (!t || !d) return 0;
  int32_t n = std::min(t[OT_RCNT], t[OT_CNT + 2]);
  int32_t& part = t[OT_BUF + 2];
  prgidx = 0;
  prgtot = n > 0 ? static_cast<uint32_t>(n) : 0;
  int32_t i = 0;
  // Stores one value and moves the destination on when its part is used.
  auto put = [&](double v, bool integer) {
    if (integer)
      IPSTAK(static_cast<int32_t>(static_cast<int64_t>(v)), d);
    else
      PSTACK(v, d);
    i++;
    prgidx = static_cast<uint32_t>(i);
    if (i < n && i >= part) DMPVRB(d, &part, 1, i);
  };

  if (code == 244) {
    if (a != 0.0) {
      rndset(static_cast<uint32_t>(static_cast<int64_t>(a)));
    } else if (!seeded) {
      int32_t h[4] = {0, 0, 0, 0};
      gclock(h);
      rndset(static_cast<uint32_t>(h[3] * 10000 + h[2] * 100 + h[1]));
      seeded = true;
    }
    bool ranged = b > 0.0;
    double range = ranged ? b : 1.0;
    int mode = intarg(5, 0);
    if (!ranged || range < 2.0) mode = 0;
    uint8_t* used = nullptr;
    int64_t nr = static_cast<int64_t>(range);
    if (mode == 2) {
      used = nr > 0 && nr <= INT32_MAX ? static_cast<uint8_t*>(getmem(static_cast<size_t>(nr)))
                                       : nullptr;
      if (!used) {
        error(5, 129);
        prgtot = 0;
        return 0;
      }
      std::memset(used, 0, static_cast<size_t>(nr));
    }
    int64_t prev = -1, marked = 0;
    while (i < n && !stopped()) {
      double v = rndnxt() / 32768.0;
      if (ranged) v *= range;
      if (mode == 1 || mode == 2) {
        int64_t k = static_cast<int64_t>(v);
        if (k == prev) continue;
        if (mode == 2) {
          double frac = v - static_cast<double>(k);
          for (int64_t g = 0; g <= nr && (used[k] || k == prev); g++) k = (k + 1) % nr;
          v = frac + static_cast<double>(k);
          used[k] = 1;
          if (++marked >= nr) {
            std::memset(used, 0, static_cast<size_t>(nr));
            marked = 0;
          }
          chkio(0);
          trclng(8, "random", static_cast<int>(i), static_cast<int32_t>(k),
                 static_cast<int32_t>(prev), static_cast<int32_t>(marked), 0, 0);
        }
        prev = k;
      }
      put(v, false);
    }
    if (used) fremem(used);
  } else if (code == 245) {
    int64_t ia = static_cast<int64_t>(a), ib = static_cast<int64_t>(b);
    int64_t s = static_cast<int64_t>(step);
    int64_t cur = lngarg(8, static_cast<int32_t>(ia));
    bool bounce = intarg(7, 0) != 0;
    int64_t lo = bounce ? ia - s : ia;
    int64_t rep = static_cast<int64_t>(repeat) >= 2 ? static_cast<int64_t>(repeat) : 0;
    int64_t left = rep;
    while (i < n && !stopped()) {
      put(static_cast<double>(std::clamp<int64_t>(cur, INT32_MIN + 1, INT32_MAX)), true);
      if (rep) {
        if (--left <= 0) {
          left = rep;
          cur += s;
        }
      } else {
        cur += s;
      }
      if (cur == ib) rampturn(cur, s, ib, lo, bounce);
    }
  } else {
    constexpr double DEGRAD = 0.017453293;
    double ang = a * DEGRAD, st = b * DEGRAD;
    while (i < n && !stopped()) {
      put(std::sin(ang), false);
      ang += st;
    }
  }
  DMPVRB(d, &part, 0, 0);
  prgtot = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// The repeat expander.

int rptexp(char* output, int32_t max) {
  if (!output || max < 1) return 0;
  output[0] = 0;
  char src[129];
  float v;
  int len = 0;
  int t = getarg(2, &v, src, sizeof src, &len);
  if (!(t & K_STRING) || len < 1) return 0;
  trcstr(8, " ---> ", len, src, 0);
  std::string s(src, static_cast<size_t>(len));
  std::string out;
  size_t i = 0;
  while (i < s.size() && out.size() < static_cast<size_t>(max)) {
    char ch = s[i];
    if (ch == '\\') {
      if (i + 1 < s.size()) out.push_back(s[i + 1]);
      i += 2;
      continue;
    }
    if (ch != '(') {
      out.push_back(ch);
      i++;
      continue;
    }
    // A group: its matching ")", then "*" and the repeat count.
    size_t j = i + 1;
    int depth = 1;
    for (; j < s.size(); j++) {
      if (s[j] == '\\') {
        j++;
        continue;
      }
      if (s[j] == '(') depth++;
      if (s[j] == ')' && --depth == 0) break;
    }
    if (j >= s.size() || j + 1 >= s.size() || s[j + 1] != '*') return 0;
    size_t k = j + 2;
    int64_t n = 0;
    bool digits = false;
    while (k < s.size() && s[k] >= '0' && s[k] <= '9') {
      n = std::min<int64_t>(n * 10 + (s[k] - '0'), max);
      digits = true;
      k++;
    }
    if (!digits) n = 1;
    std::string inner = s.substr(i + 1, j - i - 1);
    // The scan walks through n copies of the inner text next.
    int64_t grown = static_cast<int64_t>(out.size()) + static_cast<int64_t>(inner.size()) * n +
                    static_cast<int64_t>(s.size() - k);
    if (grown >= max) {
      // The result is the empty text, and the cause is told.
      jprintf(errlun, "pdstr: the expansion needs more than %d characters\n", static_cast<int>(max - 1));
      return 0;
    }
    std::string rep;
    rep.reserve(static_cast<size_t>(inner.size() * static_cast<size_t>(n)));
    for (int64_t q = 0; q < n; q++) rep += inner;
    s = s.substr(0, i) + rep + s.substr(k);
  }
  size_t n = std::min(out.size(), static_cast<size_t>(max));
  std::memcpy(output, out.data(), n);
  output[n] = 0;
  trcstr(8, " ---> ", static_cast<int>(n), output, 0);
  return static_cast<int>(n);
}
