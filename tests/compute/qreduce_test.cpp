// The fast reductions against the element loop: max, min, sum, mean,
// stdev, stats, the position of the largest and smallest element and the
// histogram of analyze, on every whole-byte word size, over arrays, images
// and windows, with the values at each edge (missing, NaN, infinities,
// the 16-bit and 32-bit limits) and sizes across every block boundary of
// the kernels. Each runs with the fast paths off and on; the destinations
// must hold the same bytes.
#include "compute/qreduce.h"

#include "tests/compute/fast_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "compute/arith.h"
#include "compute/qarith.h"
#include "compute/qredk.h"

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

using Qreduce = FastPaths;

// The reductions of one value (sum into a destination of one element; a
// longer one takes the running sums).
const char* const FNS[] = {"max", "min", "sum", "mean", "stdev", "stats"};
std::string dest(const char* f) { return std::strcmp(f, "sum") ? "x12" : "x1"; }

// Values for word size w from generator g, with the edges of the size.
std::vector<double> values(int w, int32_t n, const std::function<double(int32_t)>& g) {
  std::vector<double> v(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; i++) v[static_cast<size_t>(i)] = g(i);
  auto put = [&](int32_t at, double x) {
    if (at < n) v[static_cast<size_t>(at)] = x;
  };
  put(3, -0.0);  // missing (stored as the size's missing value)
  if (w == 16) put(5, -32767), put(6, 32767);
  if (w == 32) put(5, 16777217), put(6, -2147483647), put(7, 2147483520);
  return v;
}

uint32_t lcg(uint32_t& s) { return s = s * 1664525u + 1013904223u; }

}  // namespace

TEST_F(Qreduce, EveryReductionSizeAndShapeAsTheLoop) {
  // Sizes: one block and a few, across the float blocks (1024), the
  // 32768-item integer blocks and the searched pieces of stats (32768).
  const int32_t sizes[] = {2, 37, 1024 + 17, 70001};
  uint32_t done = 0, positions = 0;
  for (int w : {8, 16, 32, 96})
    for (int32_t n : sizes)
      for (int shape = 0; shape < 4; shape++) {
        TearDown();
        SetUp();
        uint32_t seed = static_cast<uint32_t>(n * 7 + w);
        std::vector<double> v = values(w, n, [&](int32_t) {
          double x = lcg(seed) % 2000 / 8.0 - (w == 8 ? 0 : 60);
          return w == 96 ? x + (lcg(seed) % 1000) * 1e-4 : std::trunc(x);
        });
        // shape 0: an array; 1: an image of one column; 2: a window of an
        // image one column wider; 3: an image of one row.
        int32_t a = shape == 0   ? var("a", w, v)
                    : shape == 1 ? var("a", w, v, 1)
                    : shape == 3 ? var("a", w, v, static_cast<uint32_t>(n))
                                 : 0;
        std::string src = "a";
        if (shape == 2) {
          std::vector<double> wide;
          for (int32_t i = 0; i < n; i++) wide.push_back(v[static_cast<size_t>(i)]), wide.push_back(7);
          a = var("a", w, wide, 2);
          src = "a(0, 0:" + std::to_string(n - 1) + ")";
        }
        (void)a;
        int32_t x = var("x12", 96, std::vector<double>(12, 0));
        int32_t x1 = var("x1", 96, {0});
        int32_t h = var("h1", 32, std::vector<double>(4096, 0));
        var("two", 8, {1, 2});
        std::string what = " w" + std::to_string(w) + " n" + std::to_string(n) + " shape " +
                           std::to_string(shape);
        uint32_t before = qrdone;
        for (const char* f : FNS) {
          uint32_t q0 = qrdone;
          if (!same(dest(f) == "x1" ? x1 : x, dest(f) + " = " + f + "(" + src + ")"))
            return ADD_FAILURE() << f << what;
          if (qrdone == q0) ADD_FAILURE() << "declined " << f << what;
        }
        // With a longer destination sum gives the running sums.
        if (!same(x, "x12 = sum(" + src + ")")) return ADD_FAILURE() << "running sum" << what;
        // The position of the best (operand 2 of a length other than the
        // result's; of n = 2 the pairwise maximum).
        uint32_t q0 = qrdone;
        for (const char* f : {"max", "min"})
          if (!same(x, std::string("x12 = ") + f + "(" + src + ", two)")) return ADD_FAILURE() << f << what;
        positions += qrdone - q0;
        q0 = qrdone;
        if (!same(h, "h1 = analyze(" + src + ")")) return ADD_FAILURE() << "analyze" << what;
        if (qrdone == q0) ADD_FAILURE() << "declined analyze" << what;
        EXPECT_GE(qrdone - before, 7u) << what;
        done++;
      }
  EXPECT_EQ(done, 64u);
  EXPECT_GT(positions, 60u);
}

TEST_F(Qreduce, EdgeValuesAsTheLoop) {
  // Missing values, NaN and infinities anywhere (a NaN makes the sums NaN
  // and never wins a maximum; a NaN first wins the position), all missing,
  // and a single element.
  const std::vector<std::vector<double>> sets = {
      {1, NaN, 3, -0.0, 2},       {NaN, 1, 5, 5, 2},     {INF, 1, -INF, 4, 2},
      {-0.0, -0.0, -0.0},         {0, 0, 0, 0},          {-1e12, -3e11, 5},
      {2, 9, 9, 1, 1, 9},         {4},                   {1e30, 1e30, 1e30, -1e30},
  };
  for (int w : {8, 16, 32, 96})
    for (size_t k = 0; k < sets.size(); k++) {
      TearDown();
      SetUp();
      var("a", w, sets[k]);
      var("two", 8, {1, 2});
      int32_t x = var("x12", 96, std::vector<double>(12, 0));
      int32_t x1 = var("x1", 96, {0});
      int32_t h = var("h1", 32, std::vector<double>(4096, 0));
      for (const char* f : FNS)
        ASSERT_TRUE(same(dest(f) == "x1" ? x1 : x, dest(f) + " = " + f + "(a)")) << w << " set " << k;
      ASSERT_TRUE(same(x, "x12 = max(a, two)")) << w << " set " << k;
      ASSERT_TRUE(same(x, "x12 = min(a, two)")) << w << " set " << k;
      ASSERT_TRUE(same(h, "h1 = analyze(a)")) << w << " set " << k;
    }
}

TEST_F(Qreduce, LongRunsOfMissingAroundTheLimitsAsTheLoop) {
  // The integer maximum and minimum of 16- and 32-bit items: long runs of
  // missing items (vector bodies and tails) with one item at a limit of
  // the size, or none; the largest item is one less than the missing value
  // wraps to.
  for (int w : {16, 32}) {
    const double big = w == 16 ? 32767 : 2147483647, small = -big;
    for (int32_t n : {40, 100, 1041})
      for (double one : {big, small, 0.0, 1.0})
        for (int32_t at : {-1, 0, 17, n - 1}) {
          TearDown();
          SetUp();
          std::vector<double> v(static_cast<size_t>(n), -0.0);  // missing
          if (at >= 0) v[static_cast<size_t>(at)] = one;
          var("a", w, v);
          int32_t x = var("x12", 96, std::vector<double>(12, 0));
          int32_t x1 = var("x1", 96, {0});
          for (const char* f : {"max", "min", "stats"})
            ASSERT_TRUE(same(dest(f) == "x1" ? x1 : x, dest(f) + " = " + f + "(a)"))
                << w << " n " << n << " value " << one << " at " << at;
        }
  }
}

TEST_F(Qreduce, SumsInTheLoopsOrderWhereTheLanesRoundOtherwise) {
  // 2^60, a thousand ones, -2^60: added one by one each one is lost (the
  // sum is 0), in lanes they are not. The bounds see it and the items are
  // added again in the loop's order.
  std::vector<double> v(1002, 1.0);
  v[0] = std::ldexp(1.0, 60);
  v[1001] = -std::ldexp(1.0, 60);
  var("a", 96, v);
  int32_t x = var("x12", 96, std::vector<double>(12, 0)), x1 = var("x1", 96, {0});
  for (const char* f : {"sum", "mean", "stdev", "stats"})
    EXPECT_TRUE(same(dest(f) == "x1" ? x1 : x, dest(f) + " = " + f + "(a)")) << f;
  x = x1;
  evalline("x1 = sum(a)");
  float got;
  std::memcpy(&got, bytes(x).data(), 4);
  EXPECT_EQ(got, 0.0f);
  // 1 + 2^-25 + 2^-25 is the float halfway between 1 and its successor:
  // only the exact order rounds it (to 1).
  TearDown();
  SetUp();
  var("a", 96, {1.0, std::ldexp(1.0, -25), std::ldexp(1.0, -25), 0, 0});
  x = var("x1", 96, {0});
  EXPECT_TRUE(same(x, "x1 = sum(a)"));
  evalline("x1 = sum(a)");
  std::memcpy(&got, bytes(x).data(), 4);
  EXPECT_EQ(got, 1.0f);
}

TEST_F(Qreduce, KernelSetsAgreeAndBoundTheLoopsSums) {
  // The widest instruction set gives the baseline's extremes, counts and
  // integer sums, and both sets' bounds hold the sums made in the loop's
  // order.
  const QRKern &k = qredk(), &b = qrbase();
  uint32_t seed = 5;
  std::vector<uint32_t> raw(5000);
  for (auto& u : raw) u = lcg(seed);
  raw[10] = 0x80000000u;  // missing as a float or a 32-bit item
  raw[11] = 0x7FC00000u;  // NaN
  for (int w : {8, 16, 32, 96})
    for (int what : {int{RD_SUM}, RD_SUM | RD_SQ | RD_CNT, int{RD_MAX}, int{RD_MIN}, 63}) {
      RAcc x, y;
      const void* p = raw.data();
      int64_t n = static_cast<int64_t>(raw.size()) * 4 / (w == 96 ? 4 : w / 8) - 3;
      if (w == 96) {
        // Floats of a moderate range, so that the sums are finite.
        for (auto& u : raw) u = (u & 0x807FFFFFu) | 0x3F000000u;
        raw[10] = 0x80000000u;
      }
      k.reduce(w, p, n, what, &x);
      b.reduce(w, p, n, what, &y);
      EXPECT_EQ(x.isum, y.isum) << w << " " << what;
      EXPECT_EQ(x.isq, y.isq) << w << " " << what;
      EXPECT_EQ(x.missing, y.missing) << w << " " << what;
      EXPECT_EQ(x.nonzero, y.nonzero) << w << " " << what;
      EXPECT_EQ(std::memcmp(&x.vmin, &y.vmin, 4) | std::memcmp(&x.vmax, &y.vmax, 4), 0) << w << " " << what;
      double s1 = 0, q1 = 0, s2 = 0, q2 = 0;
      k.serial(w, p, n, true, &s1, &q1);
      b.serial(w, p, n, true, &s2, &q2);
      EXPECT_EQ(std::memcmp(&s1, &s2, 8) | std::memcmp(&q1, &q2, 8), 0) << w;
      if (w >= 32 && (what & RD_SUM))
        for (const RAcc* r : {&x, &y}) {
          EXPECT_TRUE(r->s.lo <= s1 && s1 <= r->s.hi) << w << " " << what;
          if (what & RD_SQ) {
            EXPECT_TRUE(r->q.lo <= q1 && q1 <= r->q.hi) << w << " " << what;
          }
        }
      std::vector<uint32_t> h1(300), h2(300);
      k.hist(w, p, n, h1.data(), 300);
      b.hist(w, p, n, h2.data(), 300);
      EXPECT_EQ(h1, h2) << w;
    }
}

namespace {

// The element loop's sums of items (as the floats it reads) in its own
// order, missing items left out.
template <class T>
void loopsums(const std::vector<T>& v, double* s, double* q) {
  *s = *q = 0;
  for (T r : v) {
    float x;
    if constexpr (sizeof(T) == 2) {
      x = r == -32768 ? -0.0f : static_cast<float>(r);
    } else if constexpr (std::is_same_v<T, int32_t>) {
      x = r == INT32_MIN ? -0.0f : static_cast<float>(r);
    } else {
      x = r;
    }
    if (x == 0.0f && std::signbit(x)) continue;
    *s = *s + x;
    *q = *q + static_cast<double>(x) * x;
  }
}

// Whether x lies in the bounds (bounds that are not finite stand for
// nothing: the loop's order decides then).
bool within(double x, const SeqSum& b) {
  if (!std::isfinite(b.lo) || !std::isfinite(b.hi)) return true;
  return b.lo <= x && x <= b.hi;
}

}  // namespace

TEST_F(Qreduce, DeviationLanesOfEverySetAsOneByOne) {
  // The squared deviations of both kernel sets, from any first index and
  // past missing items, land in the lanes item by item as the loop adds
  // them (bits equal); a mean that is not finite goes one by one too.
  uint32_t seed = 9;
  std::vector<uint32_t> raw(700);
  for (auto& u : raw) u = lcg(seed);
  for (int w : {8, 16, 32, 96}) {
    if (w == 96)
      for (auto& u : raw) u = (u & 0x807FFFFFu) | 0x3F000000u;
    raw[3] = raw[40] = raw[41] = 0x80000000u;  // missing as a float or a 32-bit item
    if (w == 16) reinterpret_cast<int16_t*>(raw.data())[7] = -32768;
    const int64_t n = static_cast<int64_t>(raw.size()) * 4 / (w == 96 ? 4 : w / 8) - 5;
    for (double mean : {0.0, 12345.678, -3.5e7, static_cast<double>(INFINITY)})
      for (int64_t k0 : {0, 3, 8, 13}) {
        double want[8] = {};
        for (int64_t i = 0; i < n; i++) {
          const float x = w == 8    ? static_cast<float>(reinterpret_cast<const uint8_t*>(raw.data())[i])
                          : w == 16 ? (reinterpret_cast<const int16_t*>(raw.data())[i] == -32768
                                           ? -0.0f
                                           : static_cast<float>(reinterpret_cast<const int16_t*>(raw.data())[i]))
                          : w == 32 ? (static_cast<int32_t>(raw[static_cast<size_t>(i)]) == INT32_MIN
                                           ? -0.0f
                                           : static_cast<float>(static_cast<int32_t>(raw[static_cast<size_t>(i)])))
                                    : reinterpret_cast<const float*>(raw.data())[i];
          if (x == 0.0f && std::signbit(x)) continue;
          const double d = static_cast<double>(x) - mean;
          want[(k0 + i) & 7] += d * d;
        }
        for (const QRKern* k : {&qredk(), &qrbase()}) {
          double got[8] = {};
          k->devsq(w, raw.data(), n, mean, k0, got);
          EXPECT_EQ(0, std::memcmp(got, want, sizeof got)) << w << " " << mean << " " << k0;
        }
      }
  }
}

TEST_F(Qreduce, EveryWayOfTheSumsAsTheLoop) {
  // Arrays, images and windows whose sums take each way of the kernels
  // (float lanes, the grid, exact whole numbers, one by one, half-way
  // items, 32-bit items past 2^24), as sum, mean, stdev and stats.
  uint32_t seed = 3;
  const int32_t n = 20000;
  struct Case {
    const char* name;
    int w;
    std::function<double(int32_t)> f;
  };
  const std::vector<Case> cases = {
      {"large first", 96, [](int32_t i) { return i == 0 ? 1.5e9 : (i * 37 % 1000) * 0.013; }},
      {"walk", 96, [&](int32_t) { return (static_cast<int>(lcg(seed) % 20001) - 10000) * 0.0173; }},
      {"whole about zero", 96, [](int32_t i) { return std::abs(i % 400 - 200) - 100.0; }},
      {"half way", 96, [](int32_t i) { return i == 0 ? 1073741824.0 : 1.00000011920928955; }},
      // 2^24, then 1024 pairs of one step of the sum's grid (2^-28) and half
      // a step: the loop rounds each half step up to an even step, so the
      // pairs add 2^-17; 1 - 2^-17 and one step end the sum a step above
      // 2^24 + 1, the half way point between two floats. A half step that
      // added nothing would leave the sum at or below it.
      {"half way at a float's half way", 96,
       [](int32_t i) {
         return i == 0                ? 16777216.0
                : i <= 10             ? 0.0  // (item 5 is missing)
                : i <= 10 + 2048      ? std::ldexp(1.0, i % 2 ? -28 : -29)
                : i == 10 + 2048 + 1  ? 1 - std::ldexp(1.0, -17)
                : i == 10 + 2048 + 2  ? std::ldexp(1.0, -28)
                                      : 0.0;
       }},
      {"32-bit wide", 32, [&](int32_t) { return static_cast<double>(static_cast<int32_t>(lcg(seed) >> 3) - (1 << 28)); }},
      {"32-bit small", 32, [&](int32_t) { return static_cast<double>(static_cast<int32_t>(lcg(seed) % 4001) - 2000); }},
  };
  uint64_t ways[QW_N] = {};
  for (const Case& c : cases)
    for (int shape = 0; shape < 2; shape++) {
      TearDown();
      SetUp();
      const uint64_t before[QW_N] = {qrruns[0], qrruns[1], qrruns[2], qrruns[3]};
      std::vector<double> v(static_cast<size_t>(n));
      for (int32_t i = 0; i < n; i++) v[static_cast<size_t>(i)] = c.f(i);
      v[5] = -0.0;  // missing
      std::string src = "a";
      if (shape == 0) {
        var("a", c.w, v);
      } else {
        // The items as a window of an image two columns and a row larger.
        std::vector<double> img;
        for (int32_t y = 0; y < 201; y++)
          for (int32_t x = 0; x < 102; x++)
            img.push_back(x >= 1 && x <= 100 && y >= 1 ? v[static_cast<size_t>((y - 1) * 100 + x - 1)] : 9e6);
        var("a", c.w, img, 102);
        src = "a(1:100, 1:200)";
      }
      int32_t x = var("x12", 96, std::vector<double>(12, 0)), x1 = var("x1", 96, {0});
      var("r", 96, std::vector<double>(static_cast<size_t>(n), 0));
      uint32_t q0 = qrdone;
      for (const char* f : {"sum", "mean", "stdev", "stats"})
        EXPECT_TRUE(same(dest(f) == "x1" ? x1 : x, dest(f) + " = " + f + "(" + src + ")")) << c.name << " " << f << " " << shape;
      // Each a walk, stdev and stats a second one for the deviations from
      // the mean of the loop's own sum. Where the first walk leaves that
      // sum open (floats whose lanes or runs do not give it exactly), the
      // sum walks again from runs, then in the loop's order.
      const std::map<std::string, unsigned> walks = {
          {"large first", 9}, {"walk", 6}, {"whole about zero", 6}, {"half way", 9},
          {"half way at a float's half way", 10}, {"32-bit wide", 6}, {"32-bit small", 6}};
      EXPECT_EQ(qrdone - q0, walks.at(c.name)) << c.name;
      // (The running sums, the loop's own: a longer destination.)
      EXPECT_TRUE(same(x, "x12 = sum(" + src + ")")) << c.name << " running sum " << shape;
      for (int w = 0; w < QW_N; w++) ways[w] += qrruns[w] - before[w];
    }
  for (int w = 0; w < QW_N; w++) EXPECT_GT(ways[w], 0u) << "way " << w;
}

TEST_F(Qreduce, ExtremesPastMissingItemsZerosAndNaN) {
  // Floats: a missing item (-0.0) is never an extreme, nor does it hide a
  // +0 item; NaN never wins (but a NaN first is the position's best). Long
  // runs of missing 16- and 32-bit items around the limits of the size,
  // one item at a limit or none.
  const float M = -0.0f, N = std::numeric_limits<float>::quiet_NaN();
  const std::vector<std::vector<float>> pats = {
      {-3, M, -5, -7.5f},  // negatives: the largest is -3
      {0, M, -1, -2},      // the largest is +0
      {3, M, 5, 7.5f},     // positives: the smallest is 3
      {0, M, 1, 2},        // the smallest is +0
      {M, M, M, M},        // nothing counts
      {N, -4, M, -2},      // NaN first
      {-1, N, 5e30f, N},
  };
  for (size_t k = 0; k < pats.size(); k++)
    for (int32_t n : {4, 33, 100, 1041}) {
      TearDown();
      SetUp();
      std::vector<double> v;
      for (int32_t i = 0; i < n; i++) v.push_back(pats[k][static_cast<size_t>(i) % 4]);
      var("a", 96, v);
      var("two", 8, {1, 2});
      int32_t x = var("x12", 96, std::vector<double>(12, 0)), x1 = var("x1", 96, {0});
      for (const char* f : {"max", "min", "stats"})
        ASSERT_TRUE(same(dest(f) == "x1" ? x1 : x, dest(f) + " = " + f + "(a)")) << "pattern " << k << " n " << n;
      ASSERT_TRUE(same(x, "x12 = max(a, two)")) << k;
      ASSERT_TRUE(same(x, "x12 = min(a, two)")) << k;
    }
  for (int w : {16, 32}) {
    const double big = w == 16 ? 32767 : 2147483520, small = w == 16 ? -32767 : -2147483520;
    for (int32_t n : {40, 100, 1041})
      for (double one : {big, small, 0.0, 1.0})
        for (int32_t at : {-1, 0, 17, n - 1}) {
          TearDown();
          SetUp();
          std::vector<double> v(static_cast<size_t>(n), -0.0);  // missing
          if (at >= 0) v[static_cast<size_t>(at)] = one;
          var("a", w, v);
          int32_t x = var("x12", 96, std::vector<double>(12, 0)), x1 = var("x1", 96, {0});
          for (const char* f : {"max", "min", "stats"})
            ASSERT_TRUE(same(dest(f) == "x1" ? x1 : x, dest(f) + " = " + f + "(a)"))
                << w << " n " << n << " value " << one << " at " << at;
        }
  }
}

TEST_F(Qreduce, KernelsBoundTheLoopsSumsEveryWay) {
  // Runs that take each way of the kernels' sums: float lanes (a large sum
  // of small items), the grid in doubles and one by one (a walk about
  // zero, across binades), exact whole numbers (about zero, and 32-bit
  // items), half-way items (each a tie on the sum's grid), NaN and
  // infinities, 32-bit sums past 2^53 and 16-bit squares past 2^53. Both
  // instruction sets' bounds must hold the loop's sums, exactly where no
  // item fell half way.
  uint32_t seed = 11;
  const int n = 20000;
  std::vector<std::pair<const char*, std::vector<float>>> fl;
  auto fset = [&](const char* name, const std::function<float(int)>& f) {
    std::vector<float> v(n);
    for (int i = 0; i < n; i++) v[static_cast<size_t>(i)] = f(i);
    fl.emplace_back(name, v);
  };
  fset("large first", [](int i) { return i == 0 ? 1.5e9f : static_cast<float>(i * 37 % 1000) * 0.013f; });
  fset("walk", [&](int) { return static_cast<float>(static_cast<int>(lcg(seed) % 20001) - 10000) * 0.0173f; });
  fset("whole about zero", [](int i) { return static_cast<float>(std::abs(i % 400 - 200) - 100); });
  fset("half way", [](int i) { return i == 0 ? 1073741824.0f : 1.00000012f; });
  fset("missing", [](int i) { return i % 3 ? -0.0f : static_cast<float>(i % 7) - 3.5f; });
  // 2^30 - 64 and 2^-23, then 70 items of 1 + 2^-23: multiples of 2^-23
  // that add exactly only while the sum stays below 2^53 such steps, 2^30;
  // the last few, past it, each round.
  fset("past 2^53 steps", [](int i) {
    return i == 0 ? 1073741760.0f : i == 1 ? std::ldexp(1.0f, -23) : i < 72 ? 1.00000012f : 0.0f;
  });
  // 2^20 + 1000 and one step (an odd multiple of 2^-32), a walk of small
  // items, then down 5000 (below 2^20, where the step is halved), 3/8 of a
  // step (which rounds to half a step there, to none above), and up 5000:
  // the sum then lies half way between two steps and rounds up to even.
  fset("dip below the binade", [](int i) {
    if (i == 0) return 1049576.0f;
    if (i == 1) return std::ldexp(1.0f, -32);
    if (i == 5000) return -5000.0f;
    if (i == 5001) return std::ldexp(1.5f, -34);
    if (i == 5002) return 5000.0f;
    return i < 10000 ? static_cast<float>(i % 2 ? 1 : -1) * 0.0009765625f : 0.0f;
  });
  fset("nan", [](int i) { return i == 9000 ? std::numeric_limits<float>::quiet_NaN() : 2.5f; });
  fset("inf", [](int i) { return i == 15000 ? std::numeric_limits<float>::infinity() : -1.25f; });
  fset("both inf", [](int i) { return i == 10 ? -std::numeric_limits<float>::infinity() : i == 19990 ? std::numeric_limits<float>::infinity() : 1.0f; });
  std::vector<int32_t> small(n), wide(n), big((1 << 22) + 4096, 2147483520);
  for (int i = 0; i < n; i++) {
    small[static_cast<size_t>(i)] = static_cast<int32_t>(lcg(seed) % 4001) - 2000;
    wide[static_cast<size_t>(i)] = static_cast<int32_t>(lcg(seed) >> 3) - (1 << 28);
  }
  small[7] = wide[7] = big[7] = INT32_MIN;  // missing
  big[100] = -2147483647;
  std::vector<int16_t> sq((1 << 23) + (1 << 21), 32767);
  sq[3] = -32768;
  sq[4] = -32767;
  uint64_t ways[QW_N] = {};
  for (const QRKern* k : {&qredk(), &qrbase()}) {
    const uint64_t before[QW_N] = {qrruns[0], qrruns[1], qrruns[2], qrruns[3]};
    // exact: 1 the sum's bounds are one value, 2 the squares' too.
    auto check = [&](const char* name, int w, const void* p, int64_t len, double s, double q, int exact) {
      for (int what : {int{RD_SUM}, RD_SUM | RD_CNT, RD_SUM | RD_SQ | RD_CNT, 63}) {
        RAcc a;
        k->reduce(w, p, len, what, &a);
        EXPECT_TRUE(within(s, a.s)) << name << " " << what << ": " << s << " not in " << a.s.lo << " " << a.s.hi;
        if (what & RD_SQ) {
          EXPECT_TRUE(within(q, a.q)) << name << " " << what << ": " << q << " not in " << a.q.lo << " " << a.q.hi;
        }
        EXPECT_TRUE(!exact || a.s.lo == a.s.hi) << name << " " << what;
        EXPECT_TRUE(exact < 2 || !(what & RD_SQ) || a.q.lo == a.q.hi) << name << " " << what;
      }
    };
    for (auto& [name, v] : fl) {
      double s, q;
      loopsums(v, &s, &q);
      bool whole = std::strcmp(name, "whole about zero") == 0 || std::strcmp(name, "missing") == 0;
      const uint64_t exact0 = qrruns[QW_EXACT];
      check(name, 96, v.data(), n, s, q, whole ? 2 : 0);
      // A walk about zero: its items are multiples of the sum's step, and
      // add up exactly through zero.
      EXPECT_TRUE(std::strcmp(name, "walk") != 0 || qrruns[QW_EXACT] > exact0);
    }
    double s, q;
    loopsums(small, &s, &q);
    check("32-bit small", 32, small.data(), n, s, q, 2);
    loopsums(wide, &s, &q);
    check("32-bit wide", 32, wide.data(), n, s, q, 1);  // (squares past 2^53)
    loopsums(big, &s, &q);
    ASSERT_GT(s, 0x1p53);
    check("32-bit past 2^53", 32, big.data(), static_cast<int64_t>(big.size()), s, q, 0);
    loopsums(sq, &s, &q);
    ASSERT_GT(q, 0x1p53);
    RAcc a;
    k->seqsum(16, sq.data(), static_cast<int64_t>(sq.size()), true, &a);
    EXPECT_TRUE(within(s, a.s) && within(q, a.q)) << "16-bit squares past 2^53";
    for (int w = 0; w < QW_N; w++) ways[w] += qrruns[w] - before[w];
  }
  for (int w = 0; w < QW_N; w++) EXPECT_GT(ways[w], 0u) << "way " << w;
}

TEST_F(Qreduce, CtrlCStopsALongReductionAndNothingIsStored) {
  ASSERT_EQ(highmem(16384), 0);
  std::vector<double> v(600000, 3.0);
  var("a", 96, v, 0, 0x4000);
  int32_t x = var("x1", 96, {7});
  keys_.at = 1;
  evalline("x1 = sum(a)");
  EXPECT_TRUE(state & ST_INTR);
  EXPECT_GE(keys_.polls, 1);
  float got;
  std::memcpy(&got, bytes(x).data(), 4);
  EXPECT_EQ(got, 7.0f);
  EXPECT_EQ(prgtot, 0u);
  state = 0;
  keys_.at = 0;
  evalline("x1 = sum(a)");
  std::memcpy(&got, bytes(x).data(), 4);
  EXPECT_EQ(got, 1800000.0f);
  highmem(0);
}

TEST_F(Qreduce, RunsOfFloatsGiveTheLoopsSum) {
  // Floats' sums from runs of 512: runs whose items and running sum are
  // multiples of one step add at once, the others on the sum's grid item
  // by item; or runs rounded to the grids of predicted sums, those whose
  // prediction held added at once. Lengths about a run's, data about zero (through zero, across
  // binades, with items far finer than the sum's step), past 2^53 steps,
  // half-way items, subnormals, runs of zeros and missing items, NaN and
  // infinities; both instruction sets. Bounds must hold the loop's sum, and
  // be that sum where no item fell half way.
  uint32_t seed = 5;
  auto gauss = [&] {
    // (A sum of uniform numbers: about zero, small items now and then.)
    double t = 0;
    for (int k = 0; k < 4; k++) t += static_cast<double>(lcg(seed) >> 8) * 0x1p-24 - 0.5;
    return static_cast<float>(t * 173.0);
  };
  struct Case {
    const char* name;
    int n;
    std::function<float(int)> f;
    bool exact;
  };
  const std::vector<Case> cases = {
      {"about zero", 300000, [&](int) { return gauss(); }, false},
      {"about zero, fine items", 70001,
       [&](int i) { return i % 997 == 3 ? std::ldexp(gauss(), -30) : gauss(); }, false},
      {"one short of a run", 511, [&](int) { return gauss(); }, false},
      {"a run", 512, [&](int) { return gauss(); }, false},
      {"a run and one", 513, [&](int) { return gauss(); }, false},
      {"two runs less one", 1023, [&](int i) { return i == 1022 ? 3e38f : gauss(); }, false},
      {"positive", 100000, [&](int) { return static_cast<float>(lcg(seed) >> 8) * 0x1p-16f; }, false},
      {"half way", 5000, [](int i) { return i == 0 ? 1073741824.0f : 1.00000012f; }, false},
      {"past 2^53 steps", 2000,
       [](int i) { return i == 0 ? 1073741760.0f : i == 1 ? std::ldexp(1.0f, -23) : i < 72 ? 1.00000012f : 0.0f; },
       false},
      // 2^16 and 2^-36 (the sum's last bit) in the first run; 2^16 and
      // -2^16 in the second: above 2^17 the loop drops that bit (half a
      // step, to even), and back below it the sum is 2^16 again.
      {"a bit lost above the binade", 1024,
       [](int i) {
         return i == 0 ? 65536.0f : i == 1 ? std::ldexp(1.0f, -36) : i == 600 ? 65536.0f : i == 601 ? -65536.0f : 0.0f;
       },
       false},
      {"subnormal", 3000,
       [](int i) { return i % 5 == 0 ? std::ldexp(static_cast<float>(i % 7 + 1), -140) : std::ldexp(1.0f, -120); },
       false},
      {"zeros and missing", 4096, [](int i) { return i < 2000 ? (i % 2 ? -0.0f : 0.0f) : i < 3000 ? 1.5f : -0.0f; },
       true},
      {"whole about zero", 5000, [](int i) { return static_cast<float>(i % 401 - 200); }, true},
      {"nan", 5000, [](int i) { return i == 4000 ? std::numeric_limits<float>::quiet_NaN() : 2.5f; }, false},
      {"inf", 5000, [](int i) { return i == 700 ? -std::numeric_limits<float>::infinity() : 1.25f; }, false},
      {"max then -max", 2048,
       [](int i) { return i == 600 ? 3.4e38f : i == 601 ? -3.4e38f : i == 1500 ? 3.4e38f : 1.0f; }, false},
  };
  uint64_t fast = 0, onpace = 0;
  for (const QRKern* k : {&qredk(), &qrbase()})
    for (const Case& c : cases) {
      std::vector<float> v(static_cast<size_t>(c.n));
      for (int i = 0; i < c.n; i++) v[static_cast<size_t>(i)] = c.f(i);
      double s, q;
      loopsums(v, &s, &q);
      std::vector<RunSum> o(static_cast<size_t>((c.n + 511) / 512));
      int64_t miss = 0;
      RAcc a;
      const uint64_t e0 = qrruns[QW_EXACT];
      k->runsum(v.data(), c.n, 512, o.data(), &miss);
      k->runadd(o.data(), v.data(), c.n, 512, &a);
      fast += qrruns[QW_EXACT] - e0;
      int64_t want = 0;
      for (float x : v) want += x == 0.0f && std::signbit(x);
      EXPECT_EQ(miss, want) << c.name;
      if (std::isfinite(s)) {
        EXPECT_TRUE(a.s.lo <= s && s <= a.s.hi) << c.name << ": " << s << " not in " << a.s.lo << " " << a.s.hi;
      } else {
        // Bounds that are not finite stand for nothing.
        EXPECT_FALSE(std::isfinite(a.s.lo) && std::isfinite(a.s.hi)) << c.name;
      }
      EXPECT_TRUE(!c.exact || a.s.lo == a.s.hi) << c.name;
      // Runs rounded to the grids of predicted sums: the pace of the items,
      // and predictions far off (runs then item by item).
      for (int pr = 0; pr < 3; pr++) {
        const double rate = pr == 0 ? s / c.n : 0.0, s0 = pr == 2 ? 1e6 : 0.0;
        std::vector<GridRun> g(o.size());
        int64_t gm = 0;
        RAcc ga;
        const uint64_t g0 = qrruns[QW_GRID];
        k->gridrun(v.data(), c.n, 512, s0, rate, g.data(), &gm);
        k->gridadd(g.data(), v.data(), c.n, 512, &ga);
        if (pr == 0) onpace += qrruns[QW_GRID] - g0;
        EXPECT_EQ(gm, want) << c.name << " predicted " << pr;
        if (std::isfinite(s)) {
          EXPECT_TRUE(ga.s.lo <= s && s <= ga.s.hi)
              << c.name << " predicted " << pr << ": " << s << " not in " << ga.s.lo << " " << ga.s.hi;
        } else {
          EXPECT_FALSE(std::isfinite(ga.s.lo) && std::isfinite(ga.s.hi)) << c.name << " predicted " << pr;
        }
      }
      // The same from the kernels' runs of reduce.
      RAcc b;
      k->reduce(96, v.data(), c.n, RD_SUM, &b);
      EXPECT_TRUE(!std::isfinite(s) || (b.s.lo <= s && s <= b.s.hi)) << c.name;
    }
  // Most runs about zero add at once; runs of positive items on the grid
  // their pace predicts.
  EXPECT_GT(fast, 1000u);
  EXPECT_GT(onpace, 300u);
}

TEST_F(Qreduce, FloatsAboutZeroInThreadsAsTheLoop) {
  // A float image about zero of more than a million items (its runs are
  // summarised in threads), with a missing item and items past a 4096-bin
  // histogram, and as a 1 x N and N x 1 window; then with a NaN and with an
  // infinity; last all positive (a sum that drifts one way, whose runs
  // after the first few go on the sum's grid), with missing items on both
  // sides of that point: sum, mean, stdev, stats and analyze (half of the
  // items below its first bin) as the loop gives them.
  uint32_t seed = 9;
  const int32_t nx = 1200, ny = 1000;
  std::vector<double> v(static_cast<size_t>(nx) * ny);
  for (double& x : v) x = static_cast<float>((static_cast<double>(lcg(seed) >> 8) * 0x1p-24 - 0.5) * 300.0);
  v[77] = -0.0;
  v[78] = 9000.5;
  v[1000001] = 4096;
  for (int extra = 0; extra < 4; extra++) {
    TearDown();
    SetUp();
    if (extra == 1) v[900000] = NaN;
    if (extra == 2) v[900000] = -INF;
    if (extra == 3) {
      v[900000] = 3.5;
      for (double& y : v) y = std::fabs(y) + 0.25;
      v[77] = v[600000] = -0.0;
    }
    ASSERT_EQ(highmem(16384), 0);
    var("a", 96, v, nx, 0x4000);
    int32_t x = var("x12", 96, std::vector<double>(12, 0)), x1 = var("x1", 96, {0});
    int32_t h = var("h1", 32, std::vector<double>(4096, 0));
    const uint32_t q0 = qrdone;
    for (const char* src : {"a", "a(0:1199, 500)", "a(3, 0:999)"}) {
      for (const char* f : FNS)
        EXPECT_TRUE(same(dest(f) == "x1" ? x1 : x, dest(f) + " = " + f + "(" + src + ")")) << f << " " << src << " " << extra;
      EXPECT_TRUE(same(h, std::string("h1 = analyze(") + src + ")")) << src << " " << extra;
    }
    EXPECT_GE(qrdone - q0, 21u);
    highmem(0);
  }
}

TEST_F(Qreduce, HistogramsOfEveryEdgeAsTheLoop) {
  // The histogram of analyze in both instruction sets against the loop's
  // rule (the integer form of each item: below 0 into bin 0, from nbins on
  // into the last): floats' NaN, infinities and the 32-bit limits,
  // truncation toward zero, 16- and 32-bit limits, half the items below 0;
  // lengths that end inside a vector and a piece; one bin, a few, 4096
  // and more; integers inside 300 bins but for one item just past them and
  // one below, at the ends of two pieces of 1024.
  uint32_t seed = 21;
  const float F[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                     -std::numeric_limits<float>::infinity(), 2147483648.0f, -2147483648.0f, 2147483520.0f,
                     -2147483520.0f, -0.5f, -0.0f, 0.99f, 4095.9f, 4096.0f, 4097.5f, 1e-40f, 6.5f, -1.0f};
  const int32_t L[] = {INT32_MIN, INT32_MAX, -1, 0, 4095, 4096, 4097, 1 << 20, 299, 300};
  const int16_t S[] = {-32768, 32767, -1, 0, 299, 300, 4095, 4096};
  for (int64_t n : {int64_t{1}, int64_t{7}, int64_t{33}, int64_t{2048 + 5}, int64_t{70001}, int64_t{-70001}}) {
    const bool inside = n < 0;
    n = n < 0 ? -n : n;
    std::vector<float> f(static_cast<size_t>(n));
    std::vector<int32_t> l(static_cast<size_t>(n));
    std::vector<int16_t> s(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; i++) {
      uint32_t r = lcg(seed);
      f[static_cast<size_t>(i)] = r % 5 == 0 ? F[r / 5 % 16] : static_cast<float>(static_cast<int32_t>(r >> 20) - 2048) * 1.3f;
      l[static_cast<size_t>(i)] = r % 5 == 0 ? L[r / 5 % 10] : static_cast<int32_t>(r >> 19) - 4096;
      s[static_cast<size_t>(i)] = r % 5 == 0 ? S[r / 5 % 8] : static_cast<int16_t>(static_cast<int32_t>(r >> 20) - 2048);
      if (inside) {
        l[static_cast<size_t>(i)] = static_cast<int32_t>(r % 300);
        s[static_cast<size_t>(i)] = static_cast<int16_t>(r % 300);
      }
    }
    if (inside) {
      l[5 * 1024 - 1] = s[5 * 1024 - 1] = 300;
      l[9 * 1024] = s[9 * 1024] = -1;
    }
    for (int32_t nbins : {1, 7, 300, 4096, 5000}) {
      auto want = [&](auto form) {
        std::vector<uint32_t> h(static_cast<size_t>(nbins));
        for (int64_t i = 0; i < n; i++) {
          int64_t v = form(i);
          h[static_cast<size_t>(v < 0 ? 0 : v >= nbins ? nbins - 1 : v)]++;
        }
        return h;
      };
      const auto hf = want([&](int64_t i) -> int64_t {
        double x = f[static_cast<size_t>(i)];
        return x > -2147483649.0 && x < 2147483648.0 ? static_cast<int32_t>(x) : INT32_MIN;
      });
      const auto hl = want([&](int64_t i) -> int64_t { return l[static_cast<size_t>(i)]; });
      const auto hs = want([&](int64_t i) -> int64_t { return s[static_cast<size_t>(i)]; });
      for (const QRKern* k : {&qredk(), &qrbase()}) {
        std::vector<uint32_t> h(static_cast<size_t>(nbins));
        k->hist(96, f.data(), n, h.data(), nbins);
        EXPECT_EQ(h, hf) << "floats n " << n << " bins " << nbins;
        std::fill(h.begin(), h.end(), 0u);
        k->hist(32, l.data(), n, h.data(), nbins);
        EXPECT_EQ(h, hl) << "32-bit n " << n << " bins " << nbins;
        std::fill(h.begin(), h.end(), 0u);
        k->hist(16, s.data(), n, h.data(), nbins);
        EXPECT_EQ(h, hs) << "16-bit n " << n << " bins " << nbins;
      }
    }
  }
}

TEST_F(Qreduce, ExtremesInThreadsAsTheLoop) {
  // Images of more than a million items, whose extremes are found in
  // threads on parts of their own: the largest and the smallest at the
  // ends of the parts (the first item, the last, a quarter's edges), a
  // missing item beside them, and images whose items are all missing but
  // one, or all missing.
  const int32_t nx = 1100, ny = 1000, n = nx * ny;
  for (int w : {8, 16, 32, 96})
    for (int k = 0; k < 5; k++) {
      TearDown();
      SetUp();
      uint32_t seed = static_cast<uint32_t>(w * 10 + k);
      std::vector<double> v(static_cast<size_t>(n));
      for (double& y : v) y = static_cast<double>(lcg(seed) % 200) + (w == 8 ? 20 : -80);
      const int32_t at[] = {0, n - 1, n / 4 - 1, n / 4, n / 2};
      if (k < 3) {
        v[static_cast<size_t>(at[k])] = w == 8 ? 250 : 30000;
        v[static_cast<size_t>(at[k + 2])] = w == 8 ? 1 : -30000;
        v[static_cast<size_t>(at[(k + 1) % 5])] = -0.0;
      } else {
        for (double& y : v) y = -0.0;
        if (k == 3) v[static_cast<size_t>(n / 2 + 7)] = 5;
      }
      ASSERT_EQ(highmem(16384), 0);
      var("a", w, v, nx, 0x4000);
      int32_t x1 = var("x1", 96, {0});
      const uint32_t q0 = qrdone;
      for (const char* f : {"max", "min"}) EXPECT_TRUE(same(x1, std::string("x1 = ") + f + "(a)")) << f << " w " << w << " case " << k;
      EXPECT_EQ(qrdone - q0, 2u);
      highmem(0);
    }
}
