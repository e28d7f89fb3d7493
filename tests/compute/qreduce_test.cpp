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

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
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
      for (int shape = 0; shape < 3; shape++) {
        TearDown();
        SetUp();
        uint32_t seed = static_cast<uint32_t>(n * 7 + w);
        std::vector<double> v = values(w, n, [&](int32_t) {
          double x = lcg(seed) % 2000 / 8.0 - (w == 8 ? 0 : 60);
          return w == 96 ? x + (lcg(seed) % 1000) * 1e-4 : std::trunc(x);
        });
        // shape 0: an array; 1: an image of one column; 2: a window of an
        // image one column wider.
        int32_t a = shape == 0   ? var("a", w, v)
                    : shape == 1 ? var("a", w, v, 1)
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
  EXPECT_EQ(done, 48u);
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
