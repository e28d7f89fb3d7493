// The pixel writers and their targets: the pixel target of a window's
// off-screen port, the direct writers clipped to it, SETpix into bound
// images of every item size, the image names bound and let go, the depth
// and brightness tests, fat pixels.
#include "graphics/writers.h"

#include <gtest/gtest.h>

#include <vector>

#include "gfx_fixture.h"
#include "graphics/pen.h"

namespace {

TEST_F(Gfx, PixelTargetAndDirectWriters) {
  // A screen buffer has no pixel memory here: the target stays, the
  // screen-select word records it.
  pixtgt(1);
  EXPECT_EQ(scrsel & 7, 1);
  EXPECT_EQ(pixtg.mem, nullptr);
  ImgWin iw(12, 5, 8);
  pixtgt(iw.w->pwrec);
  ASSERT_EQ(pixtg.mem, iw.px());
  EXPECT_EQ(pixtg.bits, 8);
  EXPECT_EQ(pixtg.width, 12);
  EXPECT_EQ(pixtg.height, 5);
  pixtgt(2);  // the low three bits only
  EXPECT_EQ(scrsel & 7, 2);
  EXPECT_EQ(pixtg.mem, iw.px());
  // A reference to no live window changes nothing.
  pixtgt(-12345);
  EXPECT_EQ(pixtg.mem, iw.px());
  // putpix: the last pixel of a row and of the image, and one past each.
  const int rb = static_cast<int>(iw.o->rowbytes);
  putpix(11, 4, 9);
  putpix(12, 4, 9);
  putpix(11, 5, 9);
  putpix(-1, 0, 9);
  EXPECT_EQ(iw.px()[4 * rb + 11], 9);
  int set = 0;
  for (int i = 0; i < rb * 5; i++) set += iw.px()[i] != 0;
  EXPECT_EQ(set, 1);
  EXPECT_EQ(tgtget(11, 4), 9);
  EXPECT_EQ(tgtget(12, 4), 0);
  // ellpix: spans clipped at both ends; outline points.
  ellpix(20, 1, 5, 2, 7, 1);
  for (int x = 0; x < 12; x++) {
    EXPECT_EQ(iw.px()[rb + x], 7) << x;
    EXPECT_EQ(iw.px()[3 * rb + x], 7) << x;
  }
  EXPECT_EQ(iw.px()[2 * rb + 5], 0);
  ellpix(0, 2, 3, 2, 6, 0);  // dx 0: (3, 0) and (3, 4) only
  EXPECT_EQ(iw.px()[3], 6);
  EXPECT_EQ(iw.px()[4 * rb + 3], 6);
  EXPECT_EQ(iw.px()[2 * rb + 3], 0);
  // SETpix without an image variable writes into the target (XOR too).
  xorflg = 0x80;
  SETpix(3, 0, 3);
  EXPECT_EQ(iw.px()[3], 5);
  xorflg = 0;
  pixtg = PixTgt{};
}

TEST_F(Gfx, SixteenAndThirtyTwoBitTargets) {
  ImgWin a(6, 3, 16), b(6, 3, 32);
  pixtgt(a.w->pwrec);
  ellpix(3, 0, 2, 1, 0x1234, 1);
  auto at16 = [&](int x, int y) {
    uint16_t v;
    std::memcpy(&v, a.px() + y * a.o->rowbytes + 2 * x, 2);
    return v;
  };
  EXPECT_EQ(at16(0, 1), 0x1234);
  EXPECT_EQ(at16(5, 1), 0x1234);
  EXPECT_EQ(tgtget(5, 1), 0x1234);
  pixtgt(b.w->pwrec);
  putpix(5, 2, 0xABCDEF);
  EXPECT_EQ(tgtget(5, 2), 0xABCDEF);
  pixtg = PixTgt{};
}

TEST_F(Gfx, SetpixIntoBoundImagesOfEverySize) {
  run("declare byte image b8(4,3)");
  run("declare integer image b16(4,3)");
  run("declare long image b32(4,3)");
  run("declare real image bf(4,3)");
  run("declare rgb image b24(4,3)");
  struct Case {
    const char* bind;
    const char* name;
    uint32_t v;
    double want;
  } cases[] = {{"vimage = b8", "b8", 0x1FE, 254},
               {"vimage = b16", "b16", 0x1FFFE, -2},
               {"vimage = b32", "b32", 0xFFFFFFFF, -1},
               {"vimage = bf", "bf", 300, 300},
               {"vimage = b24", "b24", 0x123456, 0x123456}};
  for (const auto& c : cases) {
    run(c.bind);
    ASSERT_TRUE(imgbound(IV_VIMAGE)) << c.bind;
    const ImgTgt* keep = curimg(IV_VIMAGE);
    ASSERT_NE(curit, nullptr) << c.bind;
    SETpix(3, 2, c.v);
    SETpix(4, 2, c.v);  // past the right edge
    SETpix(0, 3, c.v);  // past the bottom
    curput(keep);
    auto v = items(c.name);
    ASSERT_EQ(v.size(), 12u) << c.name;
    EXPECT_EQ(v[11], c.want) << c.name;
    double sum = 0;
    for (double d : v) sum += d != 0;
    EXPECT_EQ(sum, 1) << c.name;
  }
  // XOR into the byte image.
  run("vimage = b8");
  const ImgTgt* keep = curimg(IV_VIMAGE);
  xorflg = 0x80;
  SETpix(3, 2, 0x0F);
  xorflg = 0;
  curput(keep);
  EXPECT_EQ(items("b8")[11], 0xF1);
}

TEST_F(Gfx, NamesBoundAndLetGo) {
  run("declare byte image img(5,4)");
  run("img = 7");
  run("vimage = img");
  run("zimage = img");
  run("simage = img");
  EXPECT_TRUE(imgbound(IV_VIMAGE));
  EXPECT_TRUE(imgbound(IV_ZIMAGE));
  ASSERT_NE(simrec(), nullptr);
  const ImgTgt* t = imgtgt(IV_VIMAGE);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->w, 5);
  EXPECT_EQ(t->h, 4);
  EXPECT_EQ(imgget(t, 4, 3), 7);
  // = 0 lets one name go; the others stay.
  run("vimage = 0");
  EXPECT_FALSE(imgbound(IV_VIMAGE));
  EXPECT_TRUE(imgbound(IV_ZIMAGE));
  EXPECT_EQ(imgtgt(IV_VIMAGE), nullptr);
  // Releasing the image lets every name bound to it go.
  run("vimage = img");
  run("release img");
  for (int n : {IV_VIMAGE, IV_ZIMAGE, IV_SIMAGE}) {
    EXPECT_FALSE(imgbound(n)) << n;
    EXPECT_EQ(imgtgt(n), nullptr) << n;
  }
  EXPECT_EQ(simrec(), nullptr);
  EXPECT_EQ(symptr(sysent("vimage"))->value, 0u);
  // A window of an image: its origin and extents.
  run("declare byte image big(10,8)");
  run("vimage = big(2:6,3:7)");
  t = imgtgt(IV_VIMAGE);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->w, 5);
  EXPECT_EQ(t->h, 5);
  const ImgTgt* keep = curimg(IV_VIMAGE);
  SETpix(0, 0, 3);
  SETpix(4, 4, 4);
  SETpix(5, 4, 5);  // outside the window
  curput(keep);
  auto v = items("big");
  EXPECT_EQ(v[3 * 10 + 2], 3);
  EXPECT_EQ(v[7 * 10 + 6], 4);
  EXPECT_EQ(v[7 * 10 + 7], 0);
  // Not an image: error 147, the name left as it was.
  run("declare string s");
  run("vimage = s");
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_TRUE(imgbound(IV_VIMAGE));
  // A number other than 0 is stored through the binding.
  run("vimage = 2");
  EXPECT_EQ(items("big")[3 * 10 + 2], 2);
  EXPECT_TRUE(imgbound(IV_VIMAGE));
}

TEST_F(Gfx, DepthAndBrightnessTests) {
  run("declare byte image img(8,2)");
  run("declare byte image zb(8,2)");
  run("vimage = img");
  run("zimage = zb");
  const ImgTgt* keep = curimg(IV_VIMAGE);
  // A flat line at depth 300 into an 8-bit depth image: stored as 255.
  const int16_t a[3] = {0, 0, 300}, b[3] = {7, 0, 300};
  linprm(a, b, &lnst);
  mapz(0, 0, 9);
  EXPECT_EQ(items("zb")[0], 255);
  EXPECT_EQ(items("img")[0], 9);
  mapz(1, 0, 0);  // value 0 leaves both images
  EXPECT_EQ(items("zb")[1], 0);
  EXPECT_EQ(items("img")[1], 0);
  // A flat line at z 256 has depth 255: equal draws; at 255 (254) not.
  const int16_t c[3] = {0, 0, 256}, d[3] = {7, 0, 256};
  linprm(c, d, &lnst);
  mapz(0, 0, 7);
  EXPECT_EQ(items("img")[0], 7);
  const int16_t e[3] = {0, 0, 255}, f[3] = {7, 0, 255};
  linprm(e, f, &lnst);
  mapz(0, 0, 6);
  EXPECT_EQ(items("img")[0], 7);
  // Negative depths saturate at 0 and lose against a stored 0 only when
  // below it: -50 stores nothing over 0.
  const int16_t g[3] = {0, 1, -50}, h[3] = {7, 1, -50};
  linprm(g, h, &lnst);
  mapz(4, 1, 6);
  EXPECT_EQ(items("img")[8 + 4], 0);
  EXPECT_EQ(items("zb")[8 + 4], 0);
  // britest: brighter only, equal never; 0x0400 darker only.
  run("img = 50");
  britest(0, 0, 50);
  britest(1, 0, 51);
  britest(2, 0, 49);
  gflags = 0x0400;
  britest(3, 0, 49);
  britest(4, 0, 50);
  gflags = 0;
  curput(keep);
  auto v = items("img");
  EXPECT_EQ(v[0], 50);
  EXPECT_EQ(v[1], 51);
  EXPECT_EQ(v[2], 50);
  EXPECT_EQ(v[3], 49);
  EXPECT_EQ(v[4], 50);
}

TEST_F(Gfx, FatPixels) {
  run("declare byte image img(20,20)");
  run("vimage = img");
  const ImgTgt* keep = curimg(IV_VIMAGE);
  gflags = 0x1800;
  fatpix(4, 5, 1);
  gflags = 0x1801;
  fatpix(0, 0, 2);
  gflags = 0x0800;
  fatpix(18, 18, 3);
  gflags = 0;
  curput(keep);
  auto v = items("img");
  int n1 = 0, n2 = 0, n3 = 0;
  for (double x : v) n1 += x == 1, n2 += x == 2, n3 += x == 3;
  EXPECT_EQ(n1, 64);
  EXPECT_EQ(v[5 * 20 + 4], 1);
  EXPECT_EQ(v[12 * 20 + 11], 1);
  EXPECT_EQ(n2, 1);
  EXPECT_EQ(n3, 4);
  EXPECT_EQ(v[19 * 20 + 19], 3);
}

}  // namespace
