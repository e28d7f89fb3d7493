// convolve and filter: the band way (vectorised kernels over rows, shared
// by threads) against the streamed way (the per-pixel rules) for every
// filter kind, window size, image shape (1 x N, N x 1, windows larger than
// the image), post-processing and destination size, and the root and
// quotient shortcuts of the kernels over every operand they meet.
#include "compute/filter.h"

#include "tests/compute/fast_fixture.h"

#include "compute/arith.h"

#include <gtest/gtest.h>

#include <sched.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

class Filter : public FastPaths {
 protected:
  // Runs an in-place line (the destination is its source) with the fast
  // paths off and on, the source's pixels put back before each run.
  bool inplace(int32_t e, const std::vector<uint8_t>& px, const std::string& line) {
    std::vector<uint8_t> got[2];
    int err[2];
    for (int on = 0; on < 2; on++) {
      std::memcpy(data(e), px.data(), px.size());
      qpaths = on != 0;
      evalline(line.c_str());
      err[on] = state & 0x8180;
      got[on].assign(data(e), data(e) + px.size());
      state = 0;
    }
    qpaths = true;
    EXPECT_EQ(err[0], err[1]) << line;
    EXPECT_EQ(got[0], got[1]) << line;
    return err[0] == err[1] && got[0] == got[1] && got[1] != px;
  }
};

uint32_t lcg(uint32_t& s) { return s = s * 1664525u + 1013904223u; }

// Pixels with runs of equal values, zeros and the extremes.
std::vector<double> pixels(int32_t n, uint32_t seed) {
  std::vector<double> v(static_cast<size_t>(n));
  for (auto& x : v) {
    uint32_t r = lcg(seed) >> 8;
    x = r % 7 == 0 ? 0 : r % 11 == 0 ? 255 : r % 5 == 0 ? 128 : static_cast<double>(r % 256);
  }
  return v;
}

std::string str(int v) { return std::to_string(v); }

// This process held to one core while in scope (one thread sweeps the
// rows), then let go again.
struct OneCore {
  cpu_set_t old;
  bool held = false;
  OneCore() {
    if (sched_getaffinity(0, sizeof old, &old) != 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int i = 0; i < CPU_SETSIZE; i++)
      if (CPU_ISSET(i, &old)) {
        CPU_SET(i, &one);
        break;
      }
    held = sched_setaffinity(0, sizeof one, &one) == 0;
  }
  ~OneCore() {
    if (held) sched_setaffinity(0, sizeof old, &old);
  }
};

const char* const INPLACE[] = {
    "a = filter(a, 5, 3)",          "a = filter(a, 5, 5)",          "a = filter(a, 5, 2)",
    "a = filter(a, 0, 3)",          "a = filter(a, 3, 4)",          "a = filter(a, 8)",
    "a = filter(a, 12, 3)",         "a = filter(a, 6, 3, 0, 0, 128)", "a = filter(a, 6, 4, 0, 0, 100)",
    "a = filter(a, 9, 2, 0, 0, 1)", "a = filter(a, 10, 5, 0, 0, 200)",       "a = convolve(a, k, 0, 0, 0, 4)",
    "a = convolve(a, j, 0, 0, 0, 2)"};

}  // namespace

TEST_F(Filter, EveryKindSizeAndShapeAsTheRules) {
  const int shapes[][2] = {{1, 1}, {1, 9}, {9, 1}, {7, 5}, {37, 23}};
  uint32_t cases = 0;
  for (const auto& sh : shapes) {
    TearDown();
    SetUp();
    int32_t n = sh[0] * sh[1];
    var("a", 8, pixels(n, static_cast<uint32_t>(n)), static_cast<uint32_t>(sh[0]));
    int32_t d = var("d", 8, std::vector<double>(static_cast<size_t>(n), 0), static_cast<uint32_t>(sh[0]));
    std::string where = " on " + str(sh[0]) + " x " + str(sh[1]);
    for (int kind = 0; kind <= 12; kind++)
      for (int size = 1; size <= 7; size++) {
        if (kind == 8 && size != 3) continue;
        std::string f = "d = filter(a, " + str(kind) + ", " + str(size);
        ASSERT_TRUE(same(d, f + ")")) << f << where;
        cases++;
      }
    // Post-processing, binarising thresholds and tolerances.
    for (int kind : {0, 2, 3, 4, 5, 6, 8, 9, 11, 12})
      for (const char* args : {", 10, 5, 200, 1", ", -300, 0, 0, 2", ", 0, 0, 128", ", 0, 0, 300",
                               ", 0, 0, 0, 0, 0, 3"}) {
        std::string f = "d = filter(a, " + str(kind) + ", 3" + args + ")";
        ASSERT_TRUE(same(d, f)) << f << where;
        cases++;
      }
    // Tolerance means at tolerance 1 (the least kept as given) and 2.
    for (int size = 1; size <= 7; size++)
      for (int tol : {1, 2}) {
        std::string f = "d = filter(a, 12, " + str(size) + ", 0, 0, 0, 0, 0, " + str(tol) + ")";
        ASSERT_TRUE(same(d, f)) << f << where;
        cases++;
      }
  }
  EXPECT_EQ(cases, 5u * (12 * 7 + 1 + 50 + 14));
}

TEST_F(Filter, WideWindowsInSeveralPassesAsTheRules) {
  // The extremes and the mean take up to five (extremes) or four (sums)
  // rows and columns a pass: windows that need two and three passes, the
  // last one short or full, into bytes and (with an offset) into longs.
  var("a", 8, pixels(37 * 29, 21), 37);
  int32_t d = var("d", 8, std::vector<double>(37 * 29, 0), 37);
  int32_t l = var("l", 32, std::vector<double>(37 * 29, 0), 37);
  for (int kind : {0, 1, 3})
    for (int size : {8, 9, 10, 12, 13, 17}) {
      std::string f = "filter(a, " + str(kind) + ", " + str(size);
      ASSERT_TRUE(same(d, "d = " + f + ")")) << f;
      ASSERT_TRUE(same(l, "l = " + f + ", 1000)")) << f;
    }
}

TEST_F(Filter, DestinationSizesAndStoreRules) {
  // Sobel magnitudes and shifted or offset values beyond a byte go to bytes
  // (clamped, or their low byte with aflags 4), 16-bit, 32-bit and float
  // destinations.
  var("a", 8, pixels(40 * 30, 3), 40);
  for (int w : {8, 16, 32, 96}) {
    int32_t d = var(("d" + str(w)).c_str(), w, std::vector<double>(1200, 0), 40);
    std::string dn = "d" + str(w) + " = ";
    for (int af : {0, 4}) {
      aflags = af;
      ASSERT_TRUE(same(d, dn + "filter(a, 8)")) << w;
      ASSERT_TRUE(same(d, dn + "filter(a, 3, 3, 40000)")) << w;
      ASSERT_TRUE(same(d, dn + "filter(a, 0, 3, -100000, -70000)")) << w;
      ASSERT_TRUE(same(d, dn + "filter(a, 5, 5, 0, 0, 100)")) << w;
    }
    aflags = 0;
  }
}

TEST_F(Filter, ConvolveKernelsAsTheRules) {
  // Kernels of one row, one column, square and oblong, with negative,
  // zero and extreme weights; sums wrap as 32-bit values.
  var("a", 8, pixels(33 * 21, 9), 33);
  int32_t dl = var("dl", 32, std::vector<double>(693, 0), 33);
  int32_t ds = var("ds", 16, std::vector<double>(693, 0), 33);
  int32_t db = var("db", 8, std::vector<double>(693, 0), 33);
  const int dims[][2] = {{1, 1}, {3, 1}, {1, 3}, {3, 3}, {4, 2}, {5, 5}, {7, 3}};
  uint32_t seed = 11;
  for (const auto& k : dims) {
    std::vector<double> w(static_cast<size_t>(k[0] * k[1]));
    for (auto& x : w) {
      uint32_t r = lcg(seed) >> 8;
      x = r % 9 == 0 ? 0 : r % 13 == 0 ? 32767 : r % 17 == 0 ? -32768 : static_cast<double>(r % 41) - 20;
    }
    TearDown();
    SetUp();
    var("a", 8, pixels(33 * 21, 9), 33);
    dl = var("dl", 32, std::vector<double>(693, 0), 33);
    ds = var("ds", 16, std::vector<double>(693, 0), 33);
    db = var("db", 8, std::vector<double>(693, 0), 33);
    var("k", 16, w, static_cast<uint32_t>(k[0]));
    std::string what = str(k[0]) + " x " + str(k[1]);
    ASSERT_TRUE(same(dl, "dl = convolve(a, k)")) << what;
    ASSERT_TRUE(same(ds, "ds = convolve(a, k)")) << what;
    ASSERT_TRUE(same(db, "db = convolve(a, k, 128, 0, 255, 4)")) << what;
  }
}

TEST_F(Filter, LargeImagesSharedByThreadsAndStoppedByCtrlC) {
  ASSERT_EQ(highmem(16384), 0);
  const uint32_t nx = 1100, ny = 1000;
  var("a", 8, pixels(nx * ny, 5), nx, 0x4000);
  int32_t d = var("d", 8, std::vector<double>(nx * ny, 0), nx, 0x4000);
  var("k", 16, {1, 2, 1, 2, 4, 2, 1, 2, 1}, 3);
  for (const char* f : {"d = filter(a, 5, 3)", "d = filter(a, 5, 5)", "d = filter(a, 0, 3)",
                        "d = filter(a, 3, 3)", "d = filter(a, 5, 4)", "d = convolve(a, k, 0, 0, 0, 4)"})
    ASSERT_TRUE(same(d, f)) << f;
  keys_.at = 1;
  evalline("d = filter(a, 5, 9)");
  EXPECT_TRUE(state & ST_INTR);
  EXPECT_EQ(prgtot, 0u);
  state = 0;
  highmem(0);
}

TEST_F(Filter, RootsAndQuotientsInFloatsGiveTheIntegerResults) {
  // The Sobel root of every sum of squares the gradients reach, and every
  // quotient of the mean, hole-filling, tolerance and stretch kernels
  // (dividends below 2^16, divisors up to 257).
  for (int32_t m = 0; m <= 2 * 1020 * 1020; m++)
    if (static_cast<int32_t>(std::sqrt(static_cast<float>(m))) !=
        static_cast<int32_t>(std::sqrt(static_cast<double>(m))))
      FAIL() << m;
  for (int32_t b = 1; b <= 257; b++)
    for (int32_t a = 0; a < 65536; a += 1 + (a % 7 == 0 ? 0 : 2)) {
      if (static_cast<int32_t>(static_cast<float>(a) / static_cast<float>(b)) != a / b) FAIL() << a << "/" << b;
    }
}

TEST_F(Filter, InPlaceAsTheRules) {
  // The result written over its own source, read row by row while it is
  // overwritten: every window height, even ones (the centre row above the
  // middle), across the pieces the rows are taken in.
  const int shapes[][2] = {{1, 1}, {1, 9}, {9, 1}, {7, 5}, {37, 23}, {40, 70}};
  for (const auto& sh : shapes) {
    TearDown();
    SetUp();
    int32_t n = sh[0] * sh[1];
    std::vector<double> v = pixels(n, static_cast<uint32_t>(n + 1));
    int32_t a = var("a", 8, v, static_cast<uint32_t>(sh[0]));
    var("k", 16, {1, 2, 1, 2, 4, 2, 1, 2, 1}, 3);
    var("j", 16, {1, -1, 2, 3, 0, 1, 1, 1}, 4);
    std::vector<uint8_t> px(v.begin(), v.end());
    for (const char* f : INPLACE) ASSERT_TRUE(inplace(a, px, f) || n == 1) << f << " on " << sh[0] << " x " << sh[1];
  }
}

TEST_F(Filter, LargeBinarisingKindsAsTheRules) {
  // Kinds that binarise or copy the centre pixel over images shared by
  // threads (a million items and more) and written past the caches (four
  // million and more, rows not on 32-byte boundaries), 1 x N and N x 1:
  // odd and even window heights (the first output row repeats the first
  // row), thresholds that copy (0), the lowest and highest that leave
  // pixels at 1 (1, 255), above 255 (none), negative (every pixel at the
  // threshold), post-processing that leaves the bytes as they are or not,
  // and 16-bit, 32-bit and float destinations.
  ASSERT_EQ(highmem(65536), 0);
  const char* const args[] = {", 3, 0, 0, 128", ", 4, 0, 0, 1",  ", 3, 0, 0, 255",  ", 2, 0, 0, 256",
                              ", 5, 0, 0, 300", ", 3",           ", 4, 0, 0, -5",   ", 3, 7, 0, 128",
                              ", 3, 0, -9, 200, 1"};
  const uint32_t shapes[][2] = {{2101, 2000}, {1, 1 << 20}, {(1 << 22) + 37, 1}, {1100, 1000}};
  int cases = 0;
  for (const auto& sh : shapes) {
    TearDown();
    SetUp();
    ASSERT_EQ(highmem(65536), 0);
    const uint32_t n = sh[0] * sh[1];
    var("a", 8, pixels(static_cast<int32_t>(n), n), sh[0], 0x4000);
    // Every threshold for two kinds (one kind on the images of one row or
    // column), one for the others; on the image below the size written
    // past the caches, a few into wider items.
    const bool wide = sh[0] == 1100, line = sh[0] == 1 || sh[1] == 1;
    for (int w : {8, 16, 32, 96}) {
      if (w > 8 && !wide) break;
      int32_t d = var(("d" + str(w)).c_str(), w, std::vector<double>(n, 0), sh[0], 0x4000);
      for (int kind : {6, 7, 9, 10})
        for (int k = 0; k < 9; k++) {
          bool all = (kind == 6 || (kind == 9 && !line)) && !wide;
          if (!all && !(k == 0 || (wide && (k == 3 || k == 6 || k == 7) && kind == 6))) continue;
          std::string f = "d" + str(w) + " = filter(a, " + str(kind) + args[k] + ")";
          ASSERT_TRUE(same(d, f)) << f << " on " << sh[0] << " x " << sh[1];
          cases++;
        }
    }
  }
  EXPECT_EQ(cases, (2 * 9 + 2) + 2 * (9 + 3) + 4 * 7);
  // Ctrl-C stops the threads part way, the progress count ended.
  keys_.at = 1;
  evalline("d8 = filter(a, 6, 3, 0, 0, 100)");
  EXPECT_TRUE(state & ST_INTR);
  EXPECT_EQ(prgtot, 0u);
  state = 0;
  highmem(0);
}

TEST_F(Filter, LargeImagesInPlaceOnOneCoreAndByThreads) {
  // Large images in place with the process held to one core (one thread
  // sweeps the rows, keeping those it still needs), then by threads (the
  // source copied first), and the threads again after one core.
  ASSERT_EQ(highmem(65536), 0);
  const uint32_t nx = 2101, ny = 2000;
  std::vector<double> v = pixels(static_cast<int32_t>(nx * ny), 17);
  int32_t a = var("a", 8, v, nx, 0x4000);
  var("j", 16, {1, -1, 2, 3, 0, 1, 1, 1}, 4);
  std::vector<uint8_t> px(v.begin(), v.end());
  const char* const lines[] = {"a = filter(a, 5, 3)", "a = filter(a, 6, 4, 0, 0, 100)",
                               "a = convolve(a, j, 0, 0, 0, 2)"};
  for (const char* f : lines) ASSERT_TRUE(inplace(a, px, f)) << f;
  {
    OneCore one;
    for (const char* f : lines) ASSERT_TRUE(inplace(a, px, f)) << f << " on one core";
  }
  for (const char* f : lines) ASSERT_TRUE(inplace(a, px, f)) << f;
  highmem(0);
}
