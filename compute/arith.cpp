// The general element loop: every operator and element-wise function that
// no fast path took, the one-pass reductions, accum, compress,
// concatenation and the string comparisons.
#include "compute/arith.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "compute/expr.h"
#include "compute/qreduce.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "graphics/vecarith.h"
#include "ui/events.h"

uint32_t prgidx = 0;
uint32_t prgtot = 0;
int (*pausehk)() = nullptr;

int32_t prgpct() {
  if (prgtot == 0) return -1;
  return static_cast<int32_t>(static_cast<uint64_t>(prgidx) * 100 / prgtot);
}

int dopause() { return pausehk ? pausehk() : 0; }

int qrgb24(int code, float a, float b, int, float* r) {
  if (code != 116 && code != 118) return 0;
  uint32_t v = static_cast<uint32_t>(toi32(a));
  uint32_t out = v & 0xFF000000u;
  for (int k = 0; k < 3; k++) {
    float c = static_cast<float>((v >> (8 * k)) & 0xFF);
    float x = code == 116 ? c + b : c * b + 0.5f;
    int32_t iv = 0;
    if (x > 0.0f) iv = x >= 255.0f ? 255 : static_cast<int32_t>(x);
    out |= static_cast<uint32_t>(iv) << (8 * k);
  }
  *r = static_cast<float>(out);
  return 1;
}

int bitcnt(int32_t v) { return v > 0 ? __builtin_popcount(static_cast<uint32_t>(v)) : 0; }

void redend(double sum, double dev, int32_t valid, double* mean, double* sd) {
  double n = valid > 0 ? valid : 1;
  double var = n > 1 ? dev / (n - 1) : 0.0;
  *sd = var > 0.0 ? std::sqrt(var) : 0.0;
  // Data holding a NaN or an infinity (the sum of floats in a double is
  // finite otherwise) has no spread: NaN, as its sum and mean say.
  if (!std::isfinite(sum)) *sd = std::nan("");
  *mean = sum / n;
}

namespace {

constexpr double DEGRAD = 0.017453293;  // degrees to radians
constexpr double RADDEG = 57.295785;    // radians to degrees
constexpr uint32_t POLL = 0xFFFF;       // elements between interrupt polls

// The integer form of an element: clamped to +-2147400000, truncated.
inline int32_t ival(float f) { return toi32(f); }

// Codes that read the integer forms ia and ib.
bool useint(int code) {
  switch (code) {
    case 113: case 114: case 126: case 127: case 180: case 195: case 233: case 234:
    case 235: case 237: case 238: case 282: case 290:
      return true;
    default:
      return false;
  }
}

// ia! as a float product, in chunks of 100 factors with an interrupt poll
// between chunks. Once the product is infinite it stays so.
float factrl(int32_t ia) {
  float p = 1.0f;
  for (int32_t k = ia; k > 1;) {
    for (int c = 0; c < 100 && k > 1; c++) p *= static_cast<float>(k--);
    if (std::isinf(p) || k <= 1) break;
    chkio(0);
    if (stopped()) break;
  }
  return p;
}

float unary(int code, float a, int32_t ia) {
  switch (code) {
    case 180:
      return ia <= 0 ? 1.0f : factrl(ia);
    case 187:
      return -a;
    case 195:
      return static_cast<float>(-1 - ia);
    case 201:
      return a > 0.0f ? static_cast<float>(std::log(static_cast<double>(a)) * 0.4342945) : 0.0f;
    case 202:
      return a <= 13.0f ? static_cast<float>(std::exp(a * 2.302585)) : 0.0f;
    case 203:
      return static_cast<float>(std::sin(a * DEGRAD));
    case 204:
      return a >= -1.0f && a <= 1.0f ? static_cast<float>(std::asin(static_cast<double>(a)) * RADDEG)
                                     : -1.0f;
    case 205:
      return static_cast<float>(std::cos(a * DEGRAD));
    case 206:
      return a >= -1.0f && a <= 1.0f ? static_cast<float>(std::acos(static_cast<double>(a)) * RADDEG)
                                     : -1.0f;
    case 207:
      return a >= 0.0f ? static_cast<float>(std::sqrt(static_cast<double>(a))) : 0.0f;
    case 233:
      return ia >= 97 && ia <= 122 ? a - 32.0f : a;
    case 234:
      return ia >= 65 && ia <= 90 ? a + 32.0f : a;
    case 235:
      return static_cast<float>(ia);
    case 236:
      return static_cast<float>(toi32(a + 0.5));
    case 237:
      return a - static_cast<float>(ia);
    case 262: {
      double s = getslt(0) + a;
      putslt(0, s);
      return nrwflt(s);
    }
    case 283:
      return static_cast<float>(std::atan(static_cast<double>(a)) * RADDEG);
    case 290:
      return static_cast<float>(bitcnt(ia));
    default:
      return a;
  }
}

float binary(int code, float a, float b, int32_t ia, int32_t ib) {
  switch (code) {
    case 107:
      return a == b ? 1.0f : 0.0f;
    case 110: {
      if (b == 0.0f) return 1.0f;
      if (a == 0.0f || b < 0.0f || (a < 0.0f && b != std::trunc(b))) return 0.0f;
      double p = std::pow(static_cast<double>(a), static_cast<double>(b));
      return p >= 2147399936.0 ? 0.0f : nrwflt(p);
    }
    case 113:
      return ia && ib ? 1.0f : 0.0f;
    case 114:
      return ia || ib ? 1.0f : 0.0f;
    case 116:
      return a + b;
    case 117:
      return a - b;
    case 118:
      return a * b;
    case 119:
      return b == 0.0f ? 0.0f : a / b;
    case 120:
      return a >= b ? 1.0f : 0.0f;
    case 121:
      return a > b ? 1.0f : 0.0f;
    case 122:
      return a <= b ? 1.0f : 0.0f;
    case 123:
      return a < b ? 1.0f : 0.0f;
    case 124:
      return a != b ? 1.0f : 0.0f;
    case 126:
      return static_cast<float>(ia & ib);
    case 127:
      return static_cast<float>(ia | ib);
    case 209:
      return a > b ? a : b;
    case 210:
      return a < b ? a : b;
    case 237:
      return ib > 0 ? static_cast<float>(ia % ib) : 0.0f;
    case 238:
      return static_cast<float>(ia ^ ib);
    case 262: {
      float r = a + nrwflt(getslt(0));
      if (r > b)
        r = 2.0f * b - r;
      else if (r < 0.0f)
        r = 1.0f;
      putslt(0, r);
      return r;
    }
    case 282: {
      uint32_t u = static_cast<uint32_t>(ia);
      if (ib > 0) return static_cast<float>(static_cast<int32_t>(u << (ib & 31)));
      return static_cast<float>(ia >> ((-ib) & 31));
    }
    case 283:
      return static_cast<float>(std::atan2(static_cast<double>(a), static_cast<double>(b)) * RADDEG);
    default:
      return 0.0f;
  }
}

// Element i of an operand: loads the next part when i has reached the
// addressable count. False when no part could be loaded.
bool rdelem(PtrRec* r, int32_t* part, int32_t i, float* v) {
  if (i >= *part) {
    LDVARB(r, part, i);
    if (*part <= i) return false;
  }
  *v = static_cast<float>(GSTACK(r));
  return true;
}

// The text of a string operand (n items), part by part.
std::string rdtext(PtrRec* r, int32_t n, int32_t* part) {
  std::string s;
  if (!r || n < 1) return s;
  s.reserve(static_cast<size_t>(std::min<int32_t>(n, 4096)));
  float v;
  for (int32_t i = 0; i < n && rdelem(r, part, i, &v); i++)
    s.push_back(static_cast<char>(static_cast<uint8_t>(ival(v))));
  return s;
}

// The reductions of max, min, sum, mean, stdev and stats over one operand.
struct Reduce {
  float vmin = 1e10f, vmax = -1e10f;
  int32_t valid = 0, nonzero = 0;

  void add(float a, uint32_t index) {
    if (ismiss(a)) return;
    if (a > vmax) {
      vmax = a;
      putslt(9, index);
    }
    if (a < vmin) {
      vmin = a;
      putslt(8, index);
    }
    putslt(3, getslt(3) + a);
    if (a != 0.0f) {
      if (nonzero == 0) putslt(10, index);
      putslt(11, index);
      nonzero++;
    }
    valid++;
  }

  // The mean the deviations are taken from.
  double mean() const { return getslt(3) / (valid > 0 ? valid : 1); }

  // dev: the sum of squared deviations from mean() (stdev and stats).
  float end(int code, int32_t count, double dev) {
    putslt(1, valid);
    if (valid > 0) {
      putslt(6, vmin);
      putslt(7, vmax);
    }
    double mean, sd;
    redend(getslt(3), dev, valid, &mean, &sd);
    putslt(5, sd);
    putslt(4, mean);
    switch (code) {
      case 209:
        return vmax;
      case 210:
        return vmin;
      case 211:
        return nrwflt(getslt(3));
      case 212:
        return nrwflt(getslt(4));
      case 213:
        return nrwflt(getslt(5));
      default:
        putslt(2, nonzero);
        return static_cast<float>(count);
    }
  }
};

// The sum of squared deviations from mean of operand 1's first n elements
// that are not missing, read again from its start in the loop's order.
double devpass(int32_t n, double mean) {
  int32_t* t = optab;
  ldopnd(0, t[OT_ID]);
  PtrRec* s = oprec(0);
  int32_t& part = t[OT_BUF];
  double lanes[8] = {};
  for (int32_t i = 0; i < n && s; i++) {
    if (i > 0 && (i & POLL) == 0) {
      chkio(0);
      if (stopped()) break;
    }
    float a;
    if (!rdelem(s, &part, i, &a)) break;
    if (ismiss(a)) continue;
    const double d = static_cast<double>(a) - mean;
    lanes[i & 7] += d * d;
  }
  return devsum(lanes);
}

}  // namespace

bool elscal(int code, int nops) {
  switch (code) {
    case 201: case 202: case 203: case 204: case 205: case 206: case 207:
    case 233: case 234: case 235: case 236: case 290:
      return nops == 1;
    case 209: case 210: case 238: case 282:
      return nops == 2;
    case 237: case 283:
      return nops == 1 || nops == 2;
    default:
      return false;
  }
}

float elres(int code, int nops, float a, float b) {
  float r;
  if (nops < 2) {
    if (ismiss(a)) return a;
    r = unary(code, a, ival(a));
  } else {
    if (ismiss(a) || ismiss(b)) return MISSING;  // (the product's rule is not needed here)
    r = binary(code, a, b, ival(a), ival(b));
  }
  return r == 0.0f ? 0.0f : r;
}

namespace {

// A destination that compress may shorten: a named plain variable on the
// stack whose window is its whole data, from the data's first item.
bool shrinks(const PtrRec* d) {
  return (d->Flg & 0x1F82) == K_NAMED && !(d->Flg & (K_FILE | K_NOSTK)) && d->Idx > 0 &&
         !bufrec(d) && d->Offs[0] == 0 && static_cast<int64_t>(d->Length) == d->Tot &&
         (d->Flg & (K_ARRAY | K_STRING));
}

}  // namespace

void putres(float r, PtrRec* d) {
  if (d->Wsiz != W_SHORT) {
    PSTACK(r, d);
    return;
  }
  uint16_t s = stfl16(r, !noclmp());
  std::memcpy(dptr(d), &s, 2);
  if (!(d->Flg & K_NUMBER)) d->Dptr = addref(d->Dptr, 2);
}

int ariths(int code, int count, int nops) {
  int32_t* t = optab;
  if (!t) return 0;
  if ((t[OT_KIND] & K_LIST) && (t[OT_KIND + 2] & K_LIST)) return dolist(code);
  if ((t[OT_KIND] | t[OT_KIND + 1] | t[OT_KIND + 2]) & K_VECTOR) return dovecs(code, count);

  PtrRec* s1 = oprec(0);
  PtrRec* s2 = nops > 1 ? oprec(1) : nullptr;
  PtrRec* d = oprec(2);
  int32_t n1 = s1 ? t[OT_CNT] : 0;
  int32_t n2 = s2 ? t[OT_CNT + 1] : 0;
  int32_t &p1 = t[OT_BUF], &p2 = t[OT_BUF + 1], &pd = t[OT_BUF + 2];
  int32_t dcnt = t[OT_CNT + 2];

  float a = 0.0f, b = 0.0f, r = 0.0f;
  int32_t ia = 0, ib = 0;
  if (count == -99) {
    // Two strings compared: one value.
    std::string x = rdtext(s1, t[OT_CNT], &p1);
    std::string y = rdtext(oprec(1), t[OT_CNT + 1], &p2);
    a = static_cast<float>(compar(code, x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                  static_cast<int>(y.size())));
    n1 = t[OT_CNT] = 0;
    count = 1;
    nops = 1;
    s2 = nullptr;
  }
  bool concat = code == 111 && nops > 1;
  if (concat) {
    // Operand 1's elements, then operand 2's; doarth cleared word 7.
    n1 = std::max(n1, 0);
    n2 = s2 ? t[OT_RCNT] - n1 : 0;
    count = n1 + std::max(n2, 0);
  }

  bool cumsum = code == 211 && nops < 2 && t[OT_RCNT] > 1;
  bool pairmm = (code == 209 || code == 210) && nops > 1 && t[OT_CNT + 1] == t[OT_RCNT];
  bool reduce = nops < 2 ? code >= 209 && code <= 214 && !cumsum
                         : (code == 209 || code == 210) && !pairmm;
  bool rgb = t[OT_WSIZ] == W_RGB && t[OT_WSIZ + 2] == W_RGB;
  bool needi = useint(code);
  Reduce red;
  int32_t best = -1;
  float bestv = 0.0f;
  // compress: option, the value to drop, store indices instead of values.
  int32_t copt = t[OT_COPT];
  float cval = nrwflt(getslt(0));
  bool cidx = t[OT_WSIZ + 1] != 0;
  float prev = std::numeric_limits<float>::quiet_NaN();

  int64_t last = static_cast<int64_t>(count) - 1;
  int64_t index = 0;
  int32_t stored = 0;
  prgidx = 0;
  prgtot = count > 0 ? static_cast<uint32_t>(count) : 0;
  dopause();
  bool done = !d || dcnt < 1 || pd < 1;

  // Stores r; once the sources are used up, the last result (for stats
  // the next slot) fills the rest of the destination. True when the
  // destination is done.
  auto putr = [&](float rv) {
    for (;;) {
      putres(rv, d);
      stored++;
      if (stored >= dcnt) return true;
      if (stored >= pd) {
        DMPVRB(d, &pd, 1, stored);
        if (pd <= stored) return true;
      }
      if (index <= last || code == 222) return false;
      if ((stored & POLL) == 0) chkio(0);
      if (stopped()) return true;
      if (code == 214 && nops < 2) {
        if (stored >= 12) return true;
        rv = nrwflt(getslt(stored));
      }
    }
  };

  // A reduction over operand 1 alone runs through its fast form when it
  // has one; the loop below then has nothing left to read.
  if (reduce && !done && count == n1 && count > 1) {
    RedState rs;
    int32_t at = 0;
    int q = nops < 2 ? qreduce(code, count, &rs) : qbest(code, count, &at);
    if (q < 0) {
      done = true;  // stopped: nothing is stored, as in the loop
    } else if (q > 0) {
      index = count;
      prgidx = static_cast<uint32_t>(index);
      if (nops < 2) {
        red.vmin = rs.vmin;
        red.vmax = rs.vmax;
        red.valid = rs.valid;
        red.nonzero = rs.nonzero;
        putslt(3, rs.sum);
        for (int k = 0; k < 4; k++)
          if (rs.at[k] >= 0) putslt(8 + k, static_cast<double>(rs.at[k]));
        r = red.end(code, count, rs.dev);
      } else {
        r = static_cast<float>(at);
      }
      if (putr(r)) done = true;
    }
  }

  while (!done && index <= last && !stopped()) {
    if (index > 0 && (index & POLL) == 0) {
      chkio(0);
      if (stopped()) break;
    }
    int32_t i = static_cast<int32_t>(index);
    bool store = true;
    if (concat) {
      bool ok = i < n1 ? rdelem(s1, &p1, i, &r) : rdelem(s2, &p2, i - n1, &r);
      if (!ok) break;
    } else {
      if (i < n1) {
        if (!rdelem(s1, &p1, i, &a)) break;
        if (needi) ia = ival(a);
      }
      if (nops < 2) {
        r = a;
        if (code == 115 || code == 112) {
          // a copy
        } else if (cumsum) {
          putslt(3, getslt(3) + a);
          r = nrwflt(getslt(3));
        } else if (reduce) {
          red.add(a, static_cast<uint32_t>(i));
          store = index == last;
          if (store) {
            // The deviations in a second pass, from the mean of the first.
            double dev = 0.0;
            if ((code == 213 || code == 214) && red.valid > 1) dev = devpass(std::min(count, n1), red.mean());
            if (stopped()) break;
            r = red.end(code, count, dev);
          }
        } else if (code == 222) {
          if (ismiss(a) || (copt == 0 && a == cval) || (copt == -2 && a == prev)) {
            store = false;
          } else {
            prev = a;
            r = cidx ? static_cast<float>(i) : a;
          }
        } else if (!ismiss(a)) {
          r = unary(code, a, ia);
          if (r == 0.0f) r = 0.0f;
        }
      } else {
        if (i < n2) {
          if (!rdelem(s2, &p2, i, &b)) break;
          if (needi) ib = ival(b);
        }
        if (reduce) {
          // The position of the largest (smallest) element of operand 1.
          if (!ismiss(a) && (best < 0 || (code == 209 ? a > bestv : a < bestv))) {
            best = i;
            bestv = a;
          }
          store = index == last;
          r = static_cast<float>(std::max(best, 0));
        } else if (ismiss(a) || ismiss(b)) {
          bool zero = (a == 0.0f && !std::signbit(a)) || (b == 0.0f && !std::signbit(b));
          r = code == 118 && zero ? 0.0f : MISSING;
        } else if (!(rgb && qrgb24(code, a, b, t[OT_WSIZ + 1], &r))) {
          r = binary(code, a, b, ia, ib);
          if (r == 0.0f) r = 0.0f;
        }
      }
    }
    index++;
    prgidx = static_cast<uint32_t>(index);
    if (!store) continue;

    if (putr(r)) done = true;
  }

  bool shorten = false;
  if (d && code == 222 && stored < dcnt) {
    shorten = shrinks(d) || (d->Idx == -1 && (d->Flg & K_DATA));
    // A destination that cannot be shortened has the rest cleared.
    while (!shorten && stored < dcnt && stored < pd && !stopped()) {
      PSTACK(0.0, d);
      stored++;
      if (stored < dcnt && stored >= pd) DMPVRB(d, &pd, 1, stored);
    }
  }
  if (d) DMPVRB(d, &pd, 0, 0);
  if (shorten) {
    // compress: the variable keeps only what was stored.
    if (d->Idx > 0) {
      int bits = t[OT_WSIZ + 2] & 63;
      int64_t from = (static_cast<int64_t>(stored) * bits + 31) / 32;
      int64_t words = (static_cast<int64_t>(dcnt - stored) * bits) / 32;
      int32_t data = static_cast<int32_t>(d->Addr);
      if (words > 3 && data > 0) putstk(data + static_cast<int32_t>(from), 0, 0);
      if (SymEnt* e = symptr(d->Idx)) e->value = static_cast<uint32_t>(stored);
    }
    d->Length = stored;
    d->Tot = static_cast<uint32_t>(stored);
    d->Datdims[0] = d->Offs[3] = static_cast<uint32_t>(stored);
    t[OT_CNT + 2] = stored;
  }
  prgtot = 0;
  return 0;
}
