// Image format pieces below the commands: PCX line coding, the pixel
// converters and the JPEG memory coder.
#include "core/element.h"
#include "core/memory.h"
#include "core/symbols.h"
#include "core/units.h"
#include "core/state.h"
#include "files/imgcommon.h"
#include "files/filevar.h"
#include "files/imgfmt.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(ImgFmt, PcxLines) {
  // 100 equal bytes: runs of 63 and 37; a lone byte of 0xC0 or more takes a
  // count; an odd width adds a zero byte per plane.
  std::vector<uint8_t> row(100, 7), out(400);
  int n = pcxenc(row.data(), out.data(), 100, 8);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), (std::vector<uint8_t>{0xFF, 7, 0xE5, 7}));
  uint8_t odd[5] = {1, 0xC5, 2, 2, 3};
  n = pcxenc(odd, out.data(), 5, 8);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), (std::vector<uint8_t>{1, 0xC1, 0xC5, 0xC2, 2, 3, 0}));

  // Decoding: a run crossing the end of a line goes on in the next one, and
  // the data running out mid-line is the end.
  const uint8_t data[] = {0xC6, 9, 4, 5};
  PcxState st{8, 1, 4, 4, 0, 0};
  int64_t pos = 0;
  uint8_t line[8] = {};
  ASSERT_EQ(pcxlin(data, sizeof data, &pos, line, &st), 4);
  EXPECT_EQ(std::vector<uint8_t>(line, line + 4), (std::vector<uint8_t>{9, 9, 9, 9}));
  ASSERT_EQ(pcxlin(data, sizeof data, &pos, line, &st), 4);
  EXPECT_EQ(std::vector<uint8_t>(line, line + 4), (std::vector<uint8_t>{9, 9, 4, 5}));
  EXPECT_EQ(pcxlin(data, sizeof data, &pos, line, &st), -1);
}

TEST(ImgFmt, PixelConversion) {
  // 16-bit 5-6-5 to 24-bit and back, 32-bit to 24, and palette tables.
  uint8_t p16[2] = {0x1F, 0xF8};  // red 31, blue 31
  uint8_t p24[3], back[2], p32[4] = {0x30, 0x20, 0x10, 0};
  line2rgb(p16, 16, p24, 24, 1);
  EXPECT_EQ(p24[0], 248);
  EXPECT_EQ(p24[1], 0);
  EXPECT_EQ(p24[2], 248);
  line2rgb(p24, 24, back, 16, 1);
  EXPECT_EQ(back[0], 0x1F);
  EXPECT_EQ(back[1], 0xF8);
  line2rgb(p32, 32, p24, 24, 1);
  EXPECT_EQ(p24[0], 0x30);
  EXPECT_EQ(p24[2], 0x10);
  uint8_t pal[768] = {};
  pal[3 * 2] = 10;      // blue
  pal[3 * 2 + 2] = 200; // red
  uint32_t t32[256];
  pal2lut(pal, t32, 0, 24);
  EXPECT_EQ(t32[2], (200u << 16) | 10u);
  uint8_t row[6] = {2, 0};
  maplut(row, t32, 2, 24);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 6), (std::vector<uint8_t>{10, 0, 200, 0, 0, 0}));
}

TEST(ImgFmt, GreyAndColourBytesAsTheStoreRule) {
  // Grey bytes spread over three colour bytes; colour pixels made grey as
  // one pixel at a time is: the mean of the three through the byte store
  // rule (every sum of three bytes).
  std::vector<uint8_t> grey(256), rgb(768), back(256);
  for (int v = 0; v < 256; v++) grey[static_cast<size_t>(v)] = static_cast<uint8_t>(v);
  line2rgb(grey.data(), 8, rgb.data(), 24, 256);
  for (int v = 0; v < 256; v++)
    ASSERT_TRUE(rgb[3 * v] == v && rgb[3 * v + 1] == v && rgb[3 * v + 2] == v) << v;
  for (int s = 0; s <= 765; s++) {
    uint8_t px[3] = {static_cast<uint8_t>(std::min(s, 255)), static_cast<uint8_t>(std::clamp(s - 255, 0, 255)),
                     static_cast<uint8_t>(std::clamp(s - 510, 0, 255))};
    uint8_t one = 0, want = 0;
    line2rgb(px, 24, &one, 8, 1);
    uint8_t bitp = 0;
    stitm((px[0] + px[1] + px[2]) / 3.0, &want, 8, &bitp, false);
    ASSERT_EQ(one, want) << s;
  }
}

TEST(ImgFmt, JpegInMemory) {
  MakStk();
  state = 0;
  std::vector<uint8_t> rgb(16 * 8 * 3, 90), buf(100000);
  int64_t n = 0;
  ASSERT_EQ(jpgmem(rgb.data(), 16, 8, 90, buf.data(), static_cast<int64_t>(buf.size()), &n), 1);
  ASSERT_GT(n, 100);
  int w = 0, h = 0, bits = 0;
  ASSERT_EQ(rdjpgh(buf.data(), n, &w, &h, &bits), 1);
  EXPECT_EQ(w, 16);
  EXPECT_EQ(h, 8);
  EXPECT_EQ(bits, 24);
  // A buffer too small stops with an error, writing nothing past its end.
  std::vector<uint8_t> small(64 + 16, 0xAB);
  EXPECT_EQ(jpgmem(rgb.data(), 16, 8, 90, small.data(), 64, &n), 0);
  EXPECT_TRUE(state & ST_ERROR);
  for (int k = 64; k < 80; k++) EXPECT_EQ(small[static_cast<size_t>(k)], 0xAB);
  // Bytes that are no JPEG are refused, never a crash.
  EXPECT_EQ(rdjpgh(rgb.data(), 50, &w, &h, &bits), 0);
  state = 0;
}

}  // namespace

// Damaged copies of real files (cut short, bytes changed) through every
// reader: each is refused or read, never a crash or a write out of bounds
// (the sanitizer build runs this too).
TEST(ImgFmt, DamagedFilesNeverCrash) {
  ScratchDir dir("/tmp/pelix-imgfuzz-", true);
  LowStack stack;
  stack.begin();
  clrflags();
  ASSERT_EQ(mksys(), 0);
  std::string src = std::string(PELIX_SOURCE_DIR) + "/tests/session/imgread.files/";
  std::mt19937 gen(28);
  int tried = 0;
  int32_t e = putsym(0, "fz", 2, K_IMAGE | 0x1001, 0, 0, 8);
  for (const char* seed : {"im8.tif", "imbe.tif", "bit1.tif", "im24.bmp", "p4.pcx", "rgb.pcx", "plan4.pcx", "gray.jpg",
                           "col.jpg"}) {
    std::string orig = slurp(src + seed);
    ASSERT_FALSE(orig.empty()) << seed;
    std::string ext = std::strrchr(seed, '.');
    for (int v = 0; v < 60; v++) {
      std::string d = orig;
      if (v % 3 == 0) {
        d.resize(gen() % d.size());
      } else {
        for (int k = 0, n = 1 + static_cast<int>(gen() % 6); k < n; k++)
          d[gen() % d.size()] = static_cast<char>(v % 3 == 1 ? gen() : (gen() & 1 ? 0xFF : 0));
      }
      std::string name = "f" + std::to_string(v) + ext;
      std::ofstream(name, std::ios::binary) << d;
      rststk();
      state = 0;
      PtrRec* dst = varrec(e);
      PtrRec* fv = putptr(K_IMAGE | K_FILE, 0, nullptr, 0, 8, 1);
      ASSERT_TRUE(dst && fv);
      std::strcpy(filrec(fv)->Nam, name.c_str());
      int u = openf(name.c_str(), 1, 512);
      ASSERT_GE(u, 5);
      filrec(fv)->Lun = static_cast<uint8_t>(u);
      std::vector<uint8_t> buf(512);
      inihdr(fv, buf.data(), 0, 0);
      state = 0;
      if (ext == ".pcx") readPCX(dst, fv);
      if (ext == ".jpg") readjpg(dst, fv);
      if (ext == ".tif" || ext == ".bmp") {
        // The rows as the read command moves them.
        int32_t c, p, t, w;
        gtvarb(fv, &c, &p, &t, &w, 0);
        BufRec* b = bufrec(fv);
        state = 0;
        if (t > 0 && b && b->Rsiz > 0) {
          std::vector<uint8_t> rec(static_cast<size_t>(b->Rsiz));
          for (int k = 0; k < 300 && filio(fv, -k - 1, 1, rec.data()) > 0; k++) {
          }
        }
      }
      closef(u, 0);
      filrec(fv)->Lun = 0;
      tried++;
    }
  }
  EXPECT_EQ(tried, 9 * 60);
  clrflags();
  stack.end();
}
