// Image files kept safe: PackBits rows as TIFF readers expect them, the
// check that a header promises no more than its file holds, sizes from
// headers multiplied without overflow, and the temporary file of a write.
#include "core/blkbuf.h"
#include "core/memory.h"
#include "core/state.h"
#include "core/units.h"
#include "files/filevar.h"
#include "files/imgcommon.h"
#include "files/safewrite.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

class ImgSafe : public ::testing::Test {
 protected:
  ScratchDir scratch{"/tmp/pelix-imgsafe-", true};
  void SetUp() override {
    MakStk();
    pacrst();
    state = 0;
  }
  void TearDown() override {
    for (int u = 5; u < NUNITS; u++)
      while (filtab[u].Nlinks > 0) closef(u, 0);
    state = 0;
  }
  static std::string slurp(const char* name) {
    std::ifstream f(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  // A record of a new headerless file whose rows are n bytes, given the
  // format code afterwards (as a header reader would).
  PtrRec* rows(const char* name, int flg, int32_t n) {
    uint32_t dims[3] = {static_cast<uint32_t>(n), 1, 1};
    PtrRec* r = putptr(K_ARRAY | K_FILE, n, dims, 0, 8, 1);
    EXPECT_NE(r, nullptr);
    if (!r) return nullptr;
    r->Idx = -1;
    std::strcpy(filrec(r)->Nam, name);
    filrec(r)->Mod = 0x82;
    filrec(r)->Flg = FF_NOHDR;
    int32_t c, p, t, w;
    gtvarb(r, &c, &p, &t, &w, 115);
    EXPECT_GE(t, 0);
    filrec(r)->Flg = static_cast<uint8_t>(flg);
    return r;
  }
};

TEST_F(ImgSafe, PackBitsPieces) {
  // A TIFF's run-length rows are PackBits: a run of n is 257 - n and the
  // byte (runs of 128 at most), a literal of n is n - 1 and the bytes (128
  // at most); a literal stops before a run of three, not before one of two.
  std::vector<uint8_t> row(130, 'A');
  for (int b : {1, 2, 3, 3, 3, 1, 2, 2, 3, 67, 67, 67}) row.push_back(static_cast<uint8_t>(b));
  for (int k = 0; k < 129; k++) row.push_back(static_cast<uint8_t>(10 + k));
  PtrRec* r = rows("pb.dat", FT_TIFF | 2, static_cast<int32_t>(row.size()));
  ASSERT_NE(r, nullptr);
  int n = filio(r, -1, 2, row.data());
  std::vector<uint8_t> want = {0x81, 'A', 0xFF, 'A', 0x01, 1, 2, 0xFE, 3, 0x03, 1, 2, 2, 3, 0xFE, 'C', 0x7F};
  for (int k = 0; k < 128; k++) want.push_back(static_cast<uint8_t>(10 + k));
  want.push_back(0x00);
  want.push_back(10 + 128);
  std::string file = slurp("pb.dat");
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.end()), want);
  EXPECT_EQ(n, static_cast<int>(want.size()));
  // Other readers' decoder gives the row back (and skips the no-op 0x80).
  std::vector<uint8_t> back, in(want.size() + 1, 0x80);
  std::copy(want.begin(), want.end(), in.begin() + 1);
  ASSERT_TRUE(imgfmt::unpackbits(in.data(), in.size(), &back, row.size()));
  EXPECT_EQ(back, row);

  // The system's own run-length code stays for files other than TIFF, and
  // for TIFFs of the system's older files.
  PtrRec* o = rows("own.dat", FT_DMOD | 2, 3);
  uint8_t three[3] = {7, 7, 7};
  EXPECT_EQ(filio(o, -1, 2, three), 2);
  EXPECT_EQ(slurp("own.dat"), std::string("\x82\x07", 2));
  PtrRec* l = rows("old.dat", FT_TIFF | 2, 3);
  filrec(l)->Mod = static_cast<uint16_t>(filrec(l)->Mod | FM_OWNRLE);
  EXPECT_EQ(filio(l, -1, 2, three), 2);
  EXPECT_EQ(slurp("old.dat"), std::string("\x82\x07", 2));
}

TEST_F(ImgSafe, TiffDifferencesAndKeptRows) {
  // A TIFF's horizontal-differences tag leaves rows plain (other readers
  // ignore it without compression); rows of a compressed file that exists
  // are never written.
  PtrRec* r = rows("pd.dat", FT_TIFF | 3, 4);
  ASSERT_NE(r, nullptr);
  uint8_t row[4] = {10, 12, 11, 200};
  EXPECT_EQ(filio(r, -1, 2, row), 4);
  EXPECT_EQ(slurp("pd.dat"), std::string("\x0a\x0c\x0b\xc8", 4));
  filrec(r)->Mod = static_cast<uint16_t>(filrec(r)->Mod | FM_KEEP);
  EXPECT_EQ(filio(r, -1, 2, row), -1);
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_EQ(slurp("pd.dat"), std::string("\x0a\x0c\x0b\xc8", 4));
}

TEST_F(ImgSafe, HeaderMustFitItsFile) {
  PtrRec* r = putptr(K_IMAGE | K_FILE, 0, nullptr, 0, 8, 1);
  ASSERT_NE(r, nullptr);
  // Rows of 10 bytes padded to 12 from byte 100: the last row's pad may be
  // missing, one byte less is not enough.
  ASSERT_EQ(setfdim(r, 10, 3, 1, 8, 100, 4), 10);
  EXPECT_TRUE(hdrfits(r, 134, 0));
  EXPECT_FALSE(hdrfits(r, 133, 0));
  // 16-bit items of three slices, no pad: 2 x 4 x 5 x 3 bytes from 0.
  ASSERT_GT(setfdim(r, 4, 5, 3, 16, 0, 0), 0);
  EXPECT_TRUE(hdrfits(r, 120, 0));
  EXPECT_FALSE(hdrfits(r, 119, 0));
  // Compressed data may grow at most `grow` times, with 64 KB to spare.
  ASSERT_GT(setfdim(r, 1000, 1000, 1, 8, 0, 0), 0);
  EXPECT_TRUE(hdrfits(r, (1000000 - 65536) / 64, 64));
  EXPECT_FALSE(hdrfits(r, (1000000 - 65536) / 64 - 1, 64));
  // The largest sizes a header can name: no overflow, refused.
  EXPECT_EQ(setfdim(r, UINT32_MAX, UINT32_MAX, 1, 32, 0, 0), -1);
  ASSERT_GT(setfdim(r, 65535, 65535, UINT32_MAX, 8, 0, 0), 0);
  EXPECT_FALSE(hdrfits(r, INT64_MAX / 2, 0));
  EXPECT_FALSE(hdrfits(r, INT64_MAX / 2, 4096));
}

TEST_F(ImgSafe, TemporaryFileReplacesTheName) {
  std::ofstream("keep.tif", std::ios::binary) << "old";
  chmod("keep.tif", 0640);
  SafeOut s;
  std::string at;
  ASSERT_TRUE(swbegin("keep.tif", 2, &s, &at));
  EXPECT_NE(at.find("/.pelix-"), std::string::npos);
  struct stat st;
  ASSERT_EQ(stat(at.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the old file's permissions
  std::ofstream(at, std::ios::binary) << "new";
  EXPECT_EQ(slurp("keep.tif"), "old");
  // A failed write: the temporary goes, the old file stays.
  EXPECT_FALSE(swend(&s, false));
  EXPECT_NE(stat(at.c_str(), &st), 0);
  EXPECT_EQ(slurp("keep.tif"), "old");
  // A complete one replaces it.
  ASSERT_TRUE(swbegin("keep.tif", 2, &s, &at));
  std::ofstream(at, std::ios::binary) << "new";
  EXPECT_TRUE(swend(&s, true));
  EXPECT_EQ(slurp("keep.tif"), "new");
  EXPECT_NE(stat(at.c_str(), &st), 0);
  // A device is written in place; a missing folder is an open error.
  ASSERT_TRUE(swbegin("/dev/null", 2, &s, &at));
  EXPECT_EQ(at, "/dev/null");
  EXPECT_TRUE(s.temp.empty());
  EXPECT_FALSE(swbegin("nowhere/x.tif", 2, &s, &at));
  EXPECT_TRUE(state & ST_ERROR);
}

}  // namespace
