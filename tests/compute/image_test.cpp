// The image routines that other modules call directly: the FFT, the 16-bit
// histogram, byte reversal, the two-point line, the spline and the stereo
// screen layout.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "compute/analyze.h"
#include "compute/fft.h"
#include "compute/smooth.h"

namespace {

// A plain discrete Fourier transform with the sign convention of fft.
std::vector<std::complex<double>> dft(const std::vector<std::complex<double>>& a, int sign) {
  size_t n = a.size();
  std::vector<std::complex<double>> out(n);
  for (size_t k = 0; k < n; k++)
    for (size_t j = 0; j < n; j++)
      out[k] += a[j] * std::polar(1.0, sign * 2 * M_PI * double(j * k % n) / double(n));
  return out;
}

TEST(ImageRoutines, FftMatchesTheDefinitionAndRefusesOtherCounts) {
  std::vector<float> d(2 * 32);
  std::vector<std::complex<double>> a(32);
  for (int k = 0; k < 32; k++) {
    d[2 * k] = static_cast<float>((k * 7) % 11) - 5.0f;
    d[2 * k + 1] = static_cast<float>((k * 3) % 5);
    a[k] = {d[2 * k], d[2 * k + 1]};
  }
  for (int sign : {1, -1}) {
    std::vector<float> v = d;
    int32_t dims[1] = {32};
    ASSERT_EQ(fft(v.data(), dims, 1, sign), 0);
    auto want = dft(a, sign);
    for (int k = 0; k < 32; k++) {
      EXPECT_NEAR(v[2 * k], want[k].real(), 1e-3) << k;
      EXPECT_NEAR(v[2 * k + 1], want[k].imag(), 1e-3) << k;
    }
  }
  // Two dimensions: forward then inverse gives the data times the count.
  std::vector<float> m(2 * 16 * 8), m0;
  for (size_t k = 0; k < m.size(); k++) m[k] = static_cast<float>((k * 13) % 17);
  m0 = m;
  int32_t dims2[2] = {8, 16};
  fft(m.data(), dims2, 2, -1);
  fft(m.data(), dims2, 2, 1);
  for (size_t k = 0; k < m.size(); k++) EXPECT_NEAR(m[k], 128 * m0[k], 1e-2);
  // A count that is no power of two leaves the data as it was.
  int32_t bad[2] = {6, 4};
  std::vector<float> u(48, 1.0f);
  EXPECT_EQ(fft(u.data(), bad, 2, 1), -1);
  for (float f : u) EXPECT_EQ(f, 1.0f);
}

TEST(ImageRoutines, Hist16AndRevbyt) {
  uint16_t v[5] = {0, 3, 255, 256, 65535};
  std::vector<uint32_t> h(256, 0);
  hist16(v, h.data(), 5, 16, 256);
  EXPECT_EQ(h[0], 1u);
  EXPECT_EQ(h[3], 1u);
  EXPECT_EQ(h[255], 3u);
  hist16(v, h.data(), 5, 8, 256);  // only code 16 counts
  EXPECT_EQ(h[255], 3u);
  uint8_t b[5] = {1, 2, 3, 4, 5};
  revbyt(b, 4);
  EXPECT_EQ(b[0], 4);
  EXPECT_EQ(b[3], 1);
  EXPECT_EQ(b[4], 5);
}

TEST(ImageRoutines, LineAndSpline) {
  float a = 7, b = 0;
  EXPECT_EQ(linab(1, 10, 2, 20, &a, &b), 1);
  EXPECT_FLOAT_EQ(a, 10);
  EXPECT_FLOAT_EQ(b, 0);
  a = 0;
  EXPECT_EQ(linab(2, 10, 2, 20, &a, &b), 0);
  EXPECT_FLOAT_EQ(a, 0);  // left as it was
  EXPECT_FLOAT_EQ(b, 15);
  // Through four points of a parabola the curve passes through the points
  // and stays between them.
  float px[4] = {0, 1, 2, 3}, py[4] = {0, 1, 4, 9}, ch[4];
  for (int k = 0; k < 3; k++) ch[k] = std::hypot(px[k + 1] - px[k], py[k + 1] - py[k]);
  float xs[3] = {1, 1.5f, 2}, ys[3];
  spline(px, py, ch, 3, xs, ys);
  EXPECT_NEAR(ys[0], 1, 1e-4);
  EXPECT_NEAR(ys[2], 4, 1e-4);
  EXPECT_GT(ys[1], 1.5f);
  EXPECT_LT(ys[1], 2.8f);
}

uint8_t screen[64 * 100];
int fakescr(ScrPix* s) {
  *s = {screen, 8, 64, 100};
  return 1;
}

TEST(ImageRoutines, StereoScreenLayout) {
  int x = 10, y = 2, w = 20, rb = 0, ls = 0, rs = 0;
  uint8_t *l = nullptr, *r = nullptr;
  scrpixhk = nullptr;
  EXPECT_EQ(stereoscreen(0, 8, &x, &y, &w, &rb, &ls, &rs, &l, &r), -1);  // no screen memory
  scrpixhk = fakescr;
  EXPECT_EQ(stereoscreen(0, 16, &x, &y, &w, &rb, &ls, &rs, &l, &r), -1);  // depth differs
  EXPECT_EQ(stereoscreen(30, 8, &x, &y, &w, &rb, &ls, &rs, &l, &r), 1);
  EXPECT_EQ(rb, 64);
  EXPECT_EQ(ls, 10);
  EXPECT_EQ(rs, 10);
  EXPECT_EQ(l, screen + 5 + 2 * 64);
  EXPECT_EQ(r, l + 30);
  EXPECT_EQ(x, 5);
  EXPECT_EQ(w, 10);
  // Outside the screen: a rectangle below it, or an offset past its edge.
  x = 10, y = 120, w = 20;
  EXPECT_EQ(stereoscreen(0, 8, &x, &y, &w, &rb, &ls, &rs, &l, &r), -1);
  x = 100, y = 0, w = 20;
  EXPECT_EQ(stereoscreen(50, 8, &x, &y, &w, &rb, &ls, &rs, &l, &r), -1);
  x = 10, y = 0, w = 20;
  EXPECT_EQ(stereoscreen(-2, 8, &x, &y, &w, &rb, &ls, &rs, &l, &r), 1);
  EXPECT_EQ(r, l);
  EXPECT_EQ(ls, -10);
  scrpixhk = nullptr;
}

}  // namespace
