// The filler's quick paths against the pen's own pixel-by-pixel path (the
// trace mask 536 sends every pixel through the pixel writer and makes the
// filler walk its edges pixel by pixel): the crossings of each row worked
// out from the walk's terms, and the outlines and spans written straight
// into images, on many random polygons, self-intersecting ones among them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gfx_fixture.h"
#include "graphics/imgvars.h"
#include "graphics/fill.h"
#include "graphics/pen.h"
#include "graphics/redraw.h"
#include "graphics/veclist.h"

namespace {

struct FillFast : Gfx {
  std::mt19937 rnd{52};
  void SetUp() override {
    Gfx::SetUp();
    vinit(0);
  }
  void TearDown() override {
    trcmsk = 0;
    gflags = xorflg = 0;
    setpxf(0);
    penwidth = 1;
    Gfx::TearDown();
  }
  int any(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); }
  void put(int x, int y, int z, int code, int colour = 0) {
    putvec(nvecs, x, y, z, code, colour, 0);
    nvecs++;
  }
  // Random contours of points around and partly beyond a box of w by h
  // (one to three, a move first; now and then one on a single row), some
  // edges flat or upright; the index of the first record and the count. Of
  // one colour now and then another, or one line on a row all of it: the
  // closing edge goes back along it.
  std::pair<int32_t, int32_t> polygon(int w, int h, bool flat, int colour = 0, bool row = false) {
    const int32_t at = nvecs;
    const int parts = row ? 0 : any(0, 3);  // none: one contour on a single row
    const int m = any(0, 3) == 0 ? 40 : 6;  // how far beyond the box
    for (int c = 0; c < std::max(parts, 1); c++) {
      const int n = row ? 2 : any(2, 12);
      for (int k = 0; k < n; k++) {
        int x = any(-m, w + m), y = row ? any(0, h) : any(-m, h + m);
        if (k && (any(0, 5) == 0 || !parts)) y = vget16(gtvptr(nullptr, nvecs - 1, 1) + 2);  // a flat edge
        if (k && any(0, 7) == 0) x = vget16(gtvptr(nullptr, nvecs - 1, 1));      // an upright one
        // Now and then a point of another colour.
        put(x, y, flat ? 5 : any(-900, 900), k ? VC_LINE : VC_MOVE, any(0, 9) || row ? colour : colour ^ 1);
      }
    }
    return {at, nvecs - at};
  }
};

// The crossings of a run as the filler lists them: per row, its count and
// its crossings (x, z) in order.
struct Rows {
  int first = -1, fx = 0, lx = 0, last = 0;
  std::vector<std::vector<std::pair<int, int>>> rows;
  bool operator==(const Rows& o) const {
    return first == o.first && fx == o.fx && lx == o.lx && last == o.last && rows == o.rows;
  }
};
Rows crossings(int32_t start, int32_t count, int open) {
  const int rows = drwbox.max[1] + 1;
  std::vector<FillSlot> pool(20000);
  std::vector<int32_t> cnt(static_cast<size_t>(rows) + 1, 0), fst(static_cast<size_t>(rows) + 1, 0);
  FillRows tab{rows, cnt.data(), fst.data()};
  Rows r;
  r.first = filslT(start, count, pool.data(), static_cast<int32_t>(pool.size()), &tab, 0, -1, &r.fx, &r.lx, &r.last,
                   open);
  r.rows.resize(static_cast<size_t>(rows));
  for (int y = std::max(tab.lo, 0); y <= tab.hi && y < rows; y++)
    for (int k = 0; k < cnt[y]; k++) r.rows[y].push_back({pool[fst[y] + k].x, pool[fst[y] + k].z});
  return r;
}

}  // namespace

TEST_F(FillFast, CrossingsWorkedOutAsThePenWalksThem) {
  drwbox = {{0, 0, -1000}, {79, 59, 1000}};
  int rows = 0;
  for (int i = 0; i < 400; i++) {
    const auto [at, n] = polygon(80, 60, i % 4 == 0);
    const int open = i % 5 == 0 ? 1 : 0;
    const Rows quick = crossings(at, n, open);
    trcmsk = 536;
    dbglun = 49;  // the pixel traces go nowhere
    const Rows walked = crossings(at, n, open);
    trcmsk = 0;
    dbglun = 1;
    ASSERT_TRUE(quick == walked) << "polygon " << i;
    for (const auto& r : quick.rows) rows += r.size() > 2;
  }
  EXPECT_GT(rows, 1000);  // rows of more than two crossings were met
  // Long edges, steep and shallow, that begin far above, below and beside
  // the box, with depth changing along them.
  const int ends[][4] = {{-30000, -20000, 30000, 20000}, {-200, 30000, 300, -30000}, {31000, 10, -31000, 50},
                         {40, -32000, 41, 32000},        {-5, -7, 90, 70},          {70, 2, 3, 58}};
  for (const auto& e : ends) {
    const int32_t at = nvecs;
    put(e[0], e[1], -800, VC_MOVE);
    put(e[2], e[3], 700, VC_LINE);
    put(e[2] + 9, e[3], -300, VC_LINE);
    const Rows quick = crossings(at, 3, 0);
    trcmsk = 536;
    dbglun = 49;
    const Rows walked = crossings(at, 3, 0);
    trcmsk = 0;
    dbglun = 1;
    EXPECT_TRUE(quick == walked) << e[0] << " " << e[1] << " " << e[2] << " " << e[3];
    EXPECT_GE(quick.first, 0);
  }
}

TEST_F(FillFast, OutlinesAndSpansAsThePenPutsThem) {
  // Random fills drawn by redraw's records into byte, short and long
  // images, plain and XOR, every row and every second row: the quick paths
  // leave the pixels, the pen and the line state as the pen's own path.
  const char* kinds[] = {"byte", "integer", "long"};
  for (const char* k : kinds)
    for (const char* s : {"f", "s"}) run((std::string("declare ") + k + " image q" + k[0] + s + "(80,64)").c_str());
  for (int i = 0; i < 64; i++) {
    drwbox = {{0, 0, -1000}, {static_cast<int16_t>(any(40, 90)), static_cast<int16_t>(any(30, 70)), 1000}};
    // Mostly outlines of the fill's colour, whose lines the fill need not
    // draw again.
    const int colour = any(1, 250);
    // The last few on a single row: nothing to fill, the outline's last
    // line sets the pen.
    const int32_t n = polygon(drwbox.max[0], drwbox.max[1], i % 2 == 0, i % 4 ? colour : 0, i >= 56).second;
    put(-n, n, i % 7 == 0 ? 1 : -1, VC_FILL, colour);
    put(0, 0, 0, VC_PARAM);
    const char* k = kinds[i % 3];
    const int xr = (i / 3) % 2;
    penwidth = i % 5 == 4 ? 2 : 1;
    std::vector<double> got[2];
    int16_t pen[2][3];
    LnState ls[2];
    for (int slow = 0; slow < 2; slow++) {
      const std::string name = std::string("q") + k[0] + (slow ? "s" : "f");
      run((name + " = 0").c_str());
      run(("vimage = " + name).c_str());
      trcmsk = slow ? 536 : 0;
      dbglun = slow ? 49 : 1;
      gflags = static_cast<int16_t>(xr ? 0x80 : 0);
      xorflg = static_cast<int16_t>(xr ? 0x80 : 0);
      setpxf(gflags);
      // The outline's records, then the fill.
      redraw(n + 2);
      trcmsk = 0;
      dbglun = 1;
      gflags = xorflg = 0;
      setpxf(0);
      got[slow] = items(name.c_str());
      std::memcpy(pen[slow], penpt, sizeof penpt);
      ls[slow] = lnst;
    }
    ASSERT_EQ(got[0].size(), 80u * 64u) << i;
    EXPECT_EQ(got[0], got[1]) << "polygon " << i << " " << k << " xor " << xr;
    EXPECT_EQ(std::vector<int16_t>(pen[0], pen[0] + 3), std::vector<int16_t>(pen[1], pen[1] + 3)) << i;
    EXPECT_EQ(ls[0].x, ls[1].x) << i;
    EXPECT_EQ(ls[0].y, ls[1].y) << i;
    EXPECT_EQ(ls[0].err, ls[1].err) << i;
    EXPECT_EQ(ls[0].count, ls[1].count) << i;
    EXPECT_EQ(ls[0].zbase, ls[1].zbase) << i;
    EXPECT_EQ(ls[0].value, ls[1].value) << i;
  }
}

TEST_F(FillFast, TheLineLogHoldsOnlyWhileNothingElseIsDrawn) {
  // A line drawn straight into vimage while armed is logged, in its value;
  // the log serves that value and image only, and not once anything else
  // has been drawn (a pixel through the writer, spans).
  run("declare byte image lg(40,30)");
  run("vimage = lg");
  ImgPin pin;
  const int16_t a[3] = {2, 3, 0}, b[3] = {30, 20, 0}, c[3] = {5, 25, 0};
  int16_t q[3];
  std::memcpy(q, b, sizeof q);
  lnclear();
  vmove(a);
  lnarm = true;
  vline(q, 77, 0);
  EXPECT_FALSE(lnarm);  // taken
  EXPECT_TRUE(lnready(77));
  EXPECT_FALSE(lnready(78));
  EXPECT_TRUE(lnseen(a, b));
  EXPECT_TRUE(lnseen(b, a));
  EXPECT_FALSE(lnseen(a, c));
  SETpix(1, 1, 5);
  EXPECT_FALSE(lnready(77));
  // Logged again, then spans begin: the log no longer serves.
  std::memcpy(q, c, sizeof q);
  lnarm = true;
  vline(q, 77, 0);
  EXPECT_TRUE(lnready(77));
  ASSERT_TRUE(spanbeg(77, 0));
  EXPECT_FALSE(lnready(77));
  // XOR lines are not logged.
  lnclear();
  xorflg = 0x80;
  std::memcpy(q, a, sizeof q);
  lnarm = true;
  vline(q, 77, 0);
  xorflg = 0;
  EXPECT_FALSE(lnready(77));
  lnarm = false;
}
