// The matrix routines of the geometric transforms and the lookup-table
// builder: exact zeros of a quarter turn, the product order, the axis order
// and its inverse, the homogeneous divide, and table ranges clipped.
#include <cmath>

#include "compute/colour.h"
#include "compute/xform.h"
#include "tests/compute/expr_fixture.h"

namespace {

class Xform : public Expr {};

void rowmul(const float* p, const float* m, float* out) {
  for (int i = 0; i < 3; i++) out[i] = p[0] * m[i] + p[1] * m[3 + i] + p[2] * m[6 + i];
}

}  // namespace

TEST_F(Xform, MatrixRoutines) {
  // A quarter turn about z maps (1, 0, 0) to (0, 1, 0) exactly.
  float m[9], o[3];
  rotaxis(2, 90.0f, m);
  const float px[3] = {1, 0, 0};
  rowmul(px, m, o);
  EXPECT_EQ(o[0], 0.0f);
  EXPECT_EQ(o[1], 1.0f);
  EXPECT_EQ(o[2], 0.0f);
  // out = b x a, and out may be one of the operands.
  float a[9] = {1, 2, 0, 0, 1, 0, 0, 0, 1}, b[9] = {1, 0, 0, 3, 1, 0, 0, 0, 1};
  mulmat(a, b, a, 3);
  const float ba[9] = {1, 2, 0, 3, 7, 0, 0, 0, 1};
  for (int i = 0; i < 9; i++) EXPECT_EQ(a[i], ba[i]) << i;
  // The default order (z, y, x in fields 1..3): x acts first on a row
  // vector. x by 90 then z by 90 takes (0, 1, 0) to (0, 0, 1), then on.
  XfmRec x{};
  const float ang[3] = {90, 0, 90};
  Setrot(6, &x, ang);
  const float py[3] = {0, 1, 0};
  float q[3];
  rowmul(py, &x.Matrix[0][0], q);
  EXPECT_EQ(q[0], 0.0f);
  EXPECT_EQ(q[1], 0.0f);
  EXPECT_EQ(q[2], 1.0f);
  // The homogeneous transform divides by w; w = 0 is taken as 1.
  float h[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 1, 1, 2};
  const float in[3] = {1, 2, 3};
  float r[3];
  EXPECT_EQ(xfmpnt(in, h, r), 0);
  EXPECT_EQ(r[0], 1.5f);
  EXPECT_EQ(r[2], 3.5f);
  h[15] = 0;
  EXPECT_EQ(xfmpnt(in, h, r), -1);
  EXPECT_EQ(r[1], 5.0f);
}

TEST_F(Xform, LookupTableRanges) {
  // An input range given high to low falls between the two output limits.
  int16_t t[256];
  maklut(t, 256, 100, 50, 0, 255, 1, -1);
  EXPECT_EQ(t[0], 255);
  EXPECT_EQ(t[49], 255);
  EXPECT_EQ(t[100], 4);
  EXPECT_EQ(t[101], 0);
  EXPECT_EQ(t[255], 0);
  for (int k = 51; k <= 100; k++) EXPECT_LE(t[k], t[k - 1]) << k;
  // Ranges reaching past the table, and a stride, never write past it.
  int16_t g[12];
  for (auto& v : g) v = 77;
  maklut(g, 10, -5, 40, 0, 9, 3, -1);
  EXPECT_EQ(g[10], 77);
  EXPECT_EQ(g[11], 77);
  // A channel left out of the mask keeps its entries.
  int16_t c[6] = {9, 9, 9, 9, 9, 9};
  maklut(c, 6, 0, 1, 10, 20, 2, 1);
  EXPECT_EQ(c[1], 9);
  EXPECT_EQ(c[3], 9);
  EXPECT_EQ(c[0], 10);
}
