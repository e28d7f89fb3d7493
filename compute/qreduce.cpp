// Fast reductions and histograms (see qreduce.h).
#include "compute/qreduce.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "compute/arith.h"
#include "compute/cores.h"
#include "compute/expr.h"
#include "compute/qarith.h"
#include "compute/qredk.h"
#include "compute/qview.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/state.h"
#include "ui/events.h"

uint32_t qrdone = 0;

namespace {

constexpr int64_t POLLN = 1 << 18;  // items between interrupt polls
constexpr int64_t FINDN = 1 << 15;  // items of a piece whose positions are searched

// Operand 1 as a view of count items; false when no fast form reads it.
bool opview(int32_t count, View* v) {
  if (!qpaths || !optab || tracei() || count < 2 || optab[OT_CNT] != count) return false;
  return rowview(0, v) && !v->scalar;
}

// Walks the view's count items in pieces of at most `most` lying one after
// another: f(first item, index of it, items). The progress index follows;
// Ctrl-C is polled between pieces. 1 done, -1 stopped or a part missing.
template <class F>
int walk(const View& v, int64_t count, int64_t most, F f) {
  Cursor c;
  c.v = &v;
  c.paged = hipaged();
  c.seek(0);
  int64_t k = 0, since = 0;
  prgidx = 0;
  prgtot = static_cast<uint32_t>(count);
  qrdone++;
  while (k < count) {
    uint8_t* p;
    int64_t m = std::min({count - k, most, c.avail(&p)});
    if (m < 1) return -1;
    f(p, k, m);
    c.adv(m);
    k += m;
    since += m;
    prgidx = static_cast<uint32_t>(k);
    if (since >= POLLN) {
      since = 0;
      chkio(0);
      if (stopped()) return -1;
    }
  }
  return 1;
}

constexpr int RUN = 512;            // floats of a run summed at once
constexpr int64_t THRMIN = 1 << 20;  // items from which runs are summed in threads
constexpr int MAXTHR = 4;            // threads at most (the calling one among them)
constexpr int64_t PROBE = 1 << 15;   // items of the first stretch of runs

// The loop's sum of n floats into a->s (and their missing items counted
// into a->missing when cnt is set): the runs' summaries made in up to
// MAXTHR threads (each on runs of its own; the summaries do not depend on
// the running sum), then added up run after run in the loop's order. That
// serves sums that stay near their items' size (data about zero), whose
// runs add exactly. A sum that drifts one way grows far past its items,
// whose finer steps then round, run after run: a first stretch of PROBE
// items tells, and where its sum went one way for more than half the way
// its runs strayed, the rest goes on the grid of the sum, each run on the
// grid where the stretch's pace puts the sum (also in threads).
void floatsum(const QRKern& K, const float* p, int64_t n, bool cnt, RAcc* a) {
  std::vector<RunSum> o;
  for (int64_t b = 0; b < n;) {
    const int64_t m = b == 0 && n > 4 * PROBE ? PROBE : n - b;
    const int64_t nr = (m + RUN - 1) / RUN;
    o.resize(static_cast<size_t>(nr));
    const int nt = m >= THRMIN ? cores(MAXTHR) : 1;
    std::vector<int64_t> miss(static_cast<size_t>(nt), 0);
    auto part = [&](int t) {
      const int64_t r0 = nr * t / nt, r1 = nr * (t + 1) / nt;
      const int64_t f = r0 * RUN, e = std::min(m, r1 * RUN);
      if (e > f) K.runsum(p + b + f, e - f, RUN, o.data() + r0, cnt ? &miss[static_cast<size_t>(t)] : nullptr);
    };
    parts(nt, part);
    for (int64_t k : miss) a->missing += k;
    K.runadd(o.data(), p + b, m, RUN, a);
    b += m;
    if (b < n) {
      double sum = 0, stray = 0;
      for (const RunSum& r : o) sum += r.s, stray += r.up - r.dn;
      if (!(std::fabs(sum) <= 0.5 * stray)) {
        // The rest rounded run by run to the grid of the sum as the first
        // stretch's pace predicts it; runs the prediction missed (the
        // edges of binades) item by item.
        // (In one thread the kernels' own runs, on the grid in float lanes,
        // do better.)
        const int64_t rn = n - b, rr = (rn + RUN - 1) / RUN;
        const int gt = rn >= THRMIN ? cores(MAXTHR) : 1;
        if (gt <= 1) {
          K.reduce(W_FLOAT, p + b, rn, cnt ? RD_SUM | RD_CNT : RD_SUM, a);
          return;
        }
        const double s0 = a->s.lo, rate = sum / static_cast<double>(m);
        std::vector<GridRun> g(static_cast<size_t>(rr));
        std::vector<int64_t> gmiss(static_cast<size_t>(gt), 0);
        auto gpart = [&](int t) {
          const int64_t r0 = rr * t / gt, r1 = rr * (t + 1) / gt;
          const int64_t f = r0 * RUN, e = std::min(rn, r1 * RUN);
          if (e > f)
            K.gridrun(p + b + f, e - f, RUN, s0 + rate * static_cast<double>(f), rate, g.data() + r0,
                      cnt ? &gmiss[static_cast<size_t>(t)] : nullptr);
        };
        parts(gt, gpart);
        for (int64_t k : gmiss) a->missing += k;
        K.gridadd(g.data(), p + b, rn, RUN, a);
        return;
      }
    }
  }
}

// The largest or smallest of n items (what: RD_MAX or RD_MIN) into a: in
// up to MAXTHR threads from a million items of 16 bits or more on, each on
// a part of its own (extremes are the same in any order; bytes are done
// sooner than threads start).
void extremes(const QRKern& K, int w, const uint8_t* p, int64_t n, int what, RAcc* a) {
  const int nt = n >= THRMIN && w != W_BYTE ? cores(MAXTHR) : 1;
  if (nt <= 1) return K.reduce(w, p, n, what, a);
  std::vector<RAcc> r(static_cast<size_t>(nt));
  const int64_t sz = wbytes(w);
  auto part = [&](int t) {
    const int64_t b = n * t / nt, e = n * (t + 1) / nt;
    K.reduce(w, p + b * sz, e - b, what, &r[static_cast<size_t>(t)]);
  };
  parts(nt, part);
  for (const RAcc& x : r) {
    a->vmax = std::max(a->vmax, x.vmax);
    a->vmin = std::min(a->vmin, x.vmin);
  }
}

uint32_t bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

// Whether every sum in s gives the loop's floats of this code the same
// bits (the sum, the mean; each non-decreasing in the sum). The standard
// deviation takes its second pass from the mean the loop's own sum gives:
// there only that sum itself will do.
bool settled(int code, const SeqSum& s, int32_t valid) {
  if (!std::isfinite(s.lo) || !std::isfinite(s.hi)) return false;
  if (s.lo == s.hi) return true;
  if (code == 213 || code == 214) return false;
  if (code == 211 && bits(nrwflt(s.lo)) != bits(nrwflt(s.hi))) return false;
  if (code == 212) {
    const double n = valid > 0 ? valid : 1;
    if (bits(nrwflt(s.lo / n)) != bits(nrwflt(s.hi / n))) return false;
  }
  return true;
}

int whatof(int code) {
  switch (code) {
    case 209: return RD_MAX;
    case 210: return RD_MIN;
    case 211: return RD_SUM;
    case 212: return RD_SUM | RD_CNT;
    // stdev takes the sums of mean (its deviations are a pass of their
    // own); stats all the rest.
    default: return code == 214 ? RD_SUM | RD_MM | RD_NZ | RD_CNT : RD_SUM | RD_CNT;
  }
}

}  // namespace

int qreduce(int code, int32_t count, RedState* st) {
  View v;
  if (code < 209 || code > 214 || !opview(count, &v)) return 0;
  // The loop adds into slot 3 from what it holds: zero here.
  double s0 = getslt(3);
  if (s0 != 0 || std::signbit(s0)) return 0;
  if (stopped()) return -1;
  const QRKern& K = qredk();
  const int what = whatof(code);
  const bool pos = code == 214;
  // Parts of block buffers are read once: their sums are also made in the
  // loop's order as they pass.
  const bool ser = v.rec && (what & RD_SUM);
  // The sum of floats alone (and their count) from runs' summaries.
  const bool runs = !ser && v.w == W_FLOAT && (what & ~RD_CNT) == RD_SUM && count >= 2 * RUN;
  RAcc a;
  double ss = 0, sq = 0;
  float gmin = 1e10f, gmax = -1e10f;
  int rc = walk(v, count, pos ? FINDN : INT64_MAX, [&](uint8_t* p, int64_t k, int64_t m) {
    int64_t nz0 = a.nonzero;
    if (pos) a.vmin = __builtin_inff(), a.vmax = -__builtin_inff();
    if (runs) {
      floatsum(K, reinterpret_cast<const float*>(p), m, what & RD_CNT, &a);
    } else if (what == RD_MAX || what == RD_MIN) {
      extremes(K, v.w, p, m, what, &a);
    } else {
      K.reduce(v.w, p, m, what, &a);
    }
    if (ser) K.serial(v.w, p, m, false, &ss, &sq);
    if (!pos) return;
    // Ties keep the first position: only a piece with a new best is
    // searched.
    if (a.vmax > gmax) {
      gmax = a.vmax;
      st->at[1] = k + K.find(v.w, p, m, gmax, 0);
    }
    if (a.vmin < gmin) {
      gmin = a.vmin;
      st->at[0] = k + K.find(v.w, p, m, gmin, 0);
    }
    if (a.nonzero > nz0) {
      if (st->at[2] < 0) st->at[2] = k + K.find(v.w, p, m, 0, 1);
      st->at[3] = k + K.find(v.w, p, m, 0, 2);
    }
  });
  if (rc < 0) return -1;
  if (!pos) {
    if (a.vmax > gmax) gmax = a.vmax;
    if (a.vmin < gmin) gmin = a.vmin;
  }
  st->vmin = gmin;
  st->vmax = gmax;
  st->valid = static_cast<int32_t>(count - a.missing);
  st->nonzero = static_cast<int32_t>(a.nonzero);
  if (!(what & RD_SUM)) return 1;

  SeqSum s;
  if (ser) {
    s = SeqSum{ss, ss};
  } else if (v.w == W_BYTE || v.w == W_SHORT) {
    // Exact: every partial sum is a whole number below 2^53.
    s.lo = s.hi = static_cast<double>(a.isum);
  } else {
    s = a.s;
  }
  if (!settled(code, s, st->valid) && v.w == W_FLOAT && !runs) {
    // The loop's sum itself, from runs' summaries.
    RAcc b;
    rc = walk(v, count, INT64_MAX, [&](uint8_t* p, int64_t, int64_t m) {
      floatsum(K, reinterpret_cast<const float*>(p), m, false, &b);
    });
    if (rc < 0) return -1;
    s = b.s;
  }
  if (!settled(code, s, st->valid)) {
    // Added again one by one, in the loop's order.
    ss = sq = 0;
    rc = walk(v, count, INT64_MAX, [&](uint8_t* p, int64_t, int64_t m) { K.serial(v.w, p, m, false, &ss, &sq); });
    if (rc < 0) return -1;
    s = SeqSum{ss, ss};
  }
  // (Any sum within settled bounds gives the loop's floats.)
  st->sum = s.lo == s.hi ? s.lo : 0.5 * s.lo + 0.5 * s.hi;
  if ((code == 213 || code == 214) && st->valid > 1) {
    // The deviations from the mean of the loop's sum, in the loop's order.
    const double mean = st->sum / st->valid;
    double lanes[8] = {};
    rc = walk(v, count, INT64_MAX, [&](uint8_t* p, int64_t k, int64_t m) { K.devsq(v.w, p, m, mean, k, lanes); });
    if (rc < 0) return -1;
    st->dev = devsum(lanes);
  }
  return 1;
}

int qbest(int code, int32_t count, int32_t* best) {
  View v;
  if ((code != 209 && code != 210) || !opview(count, &v)) return 0;
  if (stopped()) return -1;
  const QRKern& K = qredk();
  // The first element that is not missing is the first best; a NaN there
  // stays the best, since nothing compares above or below it.
  int64_t first = -1, at = -1;
  bool firstnan = false, have = false;
  float g = 0;
  int rc = walk(v, count, FINDN, [&](uint8_t* p, int64_t k, int64_t m) {
    if (first < 0) {
      int64_t f = K.find(v.w, p, m, 0, 3);
      if (f >= 0) {
        first = k + f;
        RAcc one;
        K.reduce(v.w, p + f * wbytes(v.w), 1, RD_MM, &one);
        firstnan = one.vmax < one.vmin;  // a NaN is neither
      }
    }
    RAcc a;
    K.reduce(v.w, p, m, RD_MM, &a);
    float c = code == 209 ? a.vmax : a.vmin;
    if (!have || (code == 209 ? c > g : c < g)) {
      int64_t f = K.find(v.w, p, m, c, 0);
      if (f >= 0) {
        have = true;
        g = c;
        at = k + f;
      }
    }
  });
  if (rc < 0) return -1;
  *best = static_cast<int32_t>(first < 0 ? 0 : firstnan ? first : at);
  return 1;
}

int qhist(uint32_t* h, int32_t nbins, int32_t count, int32_t* top) {
  View v;
  if (!h || nbins < 1 || !opview(count, &v)) return 0;
  const QRKern& K = qredk();
  int rc = 1;
  if (!stopped())
    rc = walk(v, count, INT64_MAX, [&](uint8_t* p, int64_t, int64_t m) { K.hist(v.w, p, m, h, nbins); });
  else
    rc = -1;
  *top = -1;
  for (int32_t b = nbins - 1; b >= 0; b--)
    if (h[b]) {
      *top = b;
      break;
    }
  return rc;
}
