// Angles of given points in the three planes and the snapping that changes
// them, and the shape option word's defaults.
#include <gtest/gtest.h>

#include "compute/fnsvc.h"
#include "graphics/drawstate.h"
#include "graphics/veccmds.h"

TEST(VecAngle, PlanesAndSnaps) {
  // Mode 1 leaves x out: y is the reference direction, z the side.
  int32_t a[9] = {0, 10, 0, 0, 0, 0, 0, 0, 10};
  EXPECT_NEAR(vangle(-1, a, 1), -90.0f, 1e-3);
  // Mode 2 leaves y out: z is the reference, x the side (a negative x
  // turns the direction past 180).
  int32_t b[9] = {0, 0, 10, 0, 0, 0, -10, 0, 0};
  EXPECT_NEAR(vangle(-1, b, 2), 90.0f, 1e-3);
  // Mode 4 snaps a side whose z lies within 3 of the vertex's onto the
  // axis, in place; a second snap gives 0.
  int32_t c[9] = {2, 10, 3, 0, 0, 0, 0, 4, 10};
  EXPECT_NEAR(vangle(-1, c, 5), -68.198f, 1e-2);
  EXPECT_EQ(c[2], 0);
  int32_t d[9] = {2, 10, 3, 0, 0, 0, 0, 4, -2};
  EXPECT_EQ(vangle(-1, d, 5), 0.0f);
  // Mode 0: the angle in space, 0 to 180.
  int32_t e[9] = {10, 0, 0, 0, 0, 0, 0, 10, 10};
  EXPECT_NEAR(vangle(-1, e, 0), 90.0f, 1e-3);
}

TEST(VecShape, OptionDefaults) {
  drwini();
  skmode = 0;
  EXPECT_EQ(shpopt(0, false), 2);              // a plain command: drawn, not kept
  EXPECT_EQ(shpopt(0, true), 0);
  EXPECT_EQ(shpopt(SO_OUTLINE | SO_TEMP, true), SO_TEMP);  // 4 goes with 1 or 2
  EXPECT_EQ(shpopt(SO_OUTLINE | SO_NOXFORM, true), SO_NOXFORM);
  EXPECT_EQ(shpopt(SO_DEFAULT | SO_FILL, true), SO_FILL | SO_TEMP);
  skmode = 0x1000;                             // in the sketch editor
  EXPECT_EQ(shpopt(0, false), 0);
  gflags = 0x08;
  EXPECT_EQ(shpopt(0, false), SO_OUTLINE);
  EXPECT_EQ(shpopt(SO_DEFAULT | SO_FILL, true), SO_FILL | SO_OUTLINE);
  skmode = 0;
  drwini();
}
