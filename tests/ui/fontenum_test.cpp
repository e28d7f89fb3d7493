// The font table built from the faces of the system, and the palette read
// back into the program colour table.
#include "tests/support/interp.h"
#include "ui/draw.h"
#include "ui/fonts.h"
#include "ui/palette.h"
#include "ui/screen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

TEST(Fonts, TableOfTheSystemFaces) {
  initFonts(1);
  const int n = fntcount();
  ASSERT_GE(n, 2);
  EXPECT_STREQ(fntrow(1)->desc.face, "System");
  std::set<std::string> seen;
  for (int i = 1; i < n; i++) {
    const FntRow* r = fntrow(i);
    EXPECT_EQ(r->fnum, i);
    EXPECT_NE(r->width, 0) << i;  // every row is used
    EXPECT_TRUE(seen.insert(r->desc.face).second) << r->desc.face;  // each face once
  }
#ifdef PELIX_HAVE_FONTS
  EXPECT_TRUE(seen.count("DejaVu Sans"));
#endif
  EXPECT_EQ(fntrow(0)->fnum, 0);  // row 0 copies the default font
  EXPECT_STREQ(fntrow(0)->desc.face, fntactive()->desc.face);
  EXPECT_EQ(fntrow(n), nullptr);
  // Back to the built-in table.
  initFonts(0);
  EXPECT_EQ(fntcount(), FNTROWS);
  EXPECT_STREQ(fntrow(2)->desc.face, "");
}

TEST(Palette, ReadBackIntoTheColourTable) {
  palini();
  const uint8_t e[8] = {10, 20, 30, 99, 40, 50, 60, 99};
  EXPECT_EQ(setpal(254, 3, e), 2);  // the third entry lies past the palette
  uint8_t out[12];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(getpal(254, 3, out), 2);
  const uint8_t want[8] = {10, 20, 30, 0, 40, 50, 60, 0};
  EXPECT_EQ(std::memcmp(out, want, 8), 0);
  EXPECT_EQ(out[8], 0xEE);
  // An 8-bit screen: reading whole entries refreshes the table first, in
  // blue, green, red order.
  const int16_t bits = scrbits;
  scrbits = 8;
  setpal(0, 1, e);
  uint8_t t[4];
  EXPECT_EQ(PClut(0, t, 1, 1, 4), 1);
  const uint8_t bgr[4] = {30, 20, 10, 0};
  EXPECT_EQ(std::memcmp(t, bgr, 4), 0);
  scrbits = bits;
  palini();
}

}  // namespace
