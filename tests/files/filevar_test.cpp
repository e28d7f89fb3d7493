// File-backed variables: row layout, extension and magic detection, the
// run-length packer on real files, packed and differenced rows through
// filio, a block write that fails, PackBits rows as TIFF readers expect
// them, the check that a header promises no more than its file holds, and
// the temporary file of a whole write.
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
#include <random>
#include <string>
#include <vector>

namespace {

class FileVar : public ::testing::Test {
 protected:
  ScratchDir scratch{"/tmp/pelix-fvar-", true};
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
  // A record of a new file with the given pack mode and record bytes.
  PtrRec* packed(const char* name, int mode, int32_t rec) {
    // Made without a header (a new file of no type gets a TIFF one): the
    // packed rows start the file.
    uint32_t dims[3] = {static_cast<uint32_t>(rec), 1, 1};
    PtrRec* r = putptr(K_ARRAY | K_FILE, rec, dims, 0, 8, 1);
    EXPECT_NE(r, nullptr);
    if (!r) return nullptr;
    r->Idx = -1;
    std::strcpy(filrec(r)->Nam, name);
    filrec(r)->Mod = 0x82;
    filrec(r)->Flg = FF_NOHDR;
    int32_t c, p, t, w;
    gtvarb(r, &c, &p, &t, &w, 115);
    EXPECT_GE(t, 0);
    filrec(r)->Flg = static_cast<uint8_t>(mode);
    return r;
  }
};

TEST_F(FileVar, RowLayoutAndExtensions) {
  PtrRec* r = putptr(K_IMAGE | K_FILE, 0, nullptr, 0, 8, 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(setfdim(r, 1000, 1000, 1, 8, 0, 0), 4000);  // four whole rows
  EXPECT_EQ(filrec(r)->Pad, 0);
  EXPECT_EQ(setfdim(r, 3, 5, 1, 12, 0, 1), 5);  // 36 bits a row: 4 unused
  EXPECT_EQ(filrec(r)->Pad, 4);
  EXPECT_EQ(setfdim(r, 10, 3, 1, 8, 0, 4), 10);  // rows padded to 12 bytes
  EXPECT_EQ(filrec(r)->Pad, -16);
  EXPECT_EQ(setfdim(r, 4099, 10, 1, 8, 0, 0), 4096);
  EXPECT_EQ(setfdim(r, 10000, 10, 1, 8, 0, 0), 4000);  // 10000 / 5, twice
  EXPECT_EQ(setfdim(r, 8, 8, 4, 8, 16, 0), 256);  // small data: one record
  EXPECT_EQ(r->Ndims, 3);
  EXPECT_EQ(r->Mptr, 16u);
  EXPECT_EQ(setfdim(r, 0, 8, 1, 8, 0, 0), -1);

  EXPECT_EQ(imgtyp("a.TIF"), FT_TIFF);
  EXPECT_EQ(imgtyp("dir/b.tiff"), FT_TIFF);
  EXPECT_EQ(imgtyp("c.Jpeg"), FT_JPEG);
  EXPECT_EQ(imgtyp("c.jpg"), FT_JPEG);
  EXPECT_EQ(imgtyp("d.bmp"), FT_BMP);
  EXPECT_EQ(imgtyp("e.pcx"), FT_PCX);
  EXPECT_EQ(imgtyp(".tif"), 0);  // only the extension
  EXPECT_EQ(imgtyp("dir/.tif"), 0);
  EXPECT_EQ(imgtyp("f.raw"), 0);
}

TEST_F(FileVar, MagicDetection) {
  struct Case {
    const char* name;
    std::string bytes;
    int flg;
  };
  std::string bmpbe = "BM" + std::string(12, '\0') + std::string("\x00\x01", 2);
  const Case cases[] = {
      {"le.dat", std::string("II*\0", 4), FT_TIFF},
      {"be.dat", std::string("MM\0*", 4), FT_TIFF | FF_SWAP},
      {"bm.dat", "BM" + std::string(20, '\0'), FT_BMP},
      {"bmbe.dat", bmpbe, FT_BMP | FF_SWAP},
      {"mb.dat", "MB" + std::string(20, '\0'), FT_BMP},
      {"dm.dat", "#!DMOD_1.0" + std::string(20, '\0'), FT_DMOD},
      {"dmr.dat", "MD!#" + std::string(20, '\0'), FT_DMOD},
      {"dp.dat", "DMPelix 1" + std::string(20, '\0'), FT_DMPX},
      {"x.TIF", "plain text", FT_TIFF},
      {"x.bmp", "plain text", FT_BMP},
  };
  uint8_t buf[512];
  for (const Case& c : cases) {
    std::ofstream(c.name, std::ios::binary) << c.bytes;
    PtrRec* r = putptr(K_IMAGE | K_FILE, 0, nullptr, 0, 8, 1);
    ASSERT_NE(r, nullptr);
    std::strcpy(filrec(r)->Nam, c.name);
    int u = openf(c.name, 0x42, 512);
    ASSERT_GE(u, 5);
    filrec(r)->Lun = static_cast<uint8_t>(u);
    EXPECT_GE(inihdr(r, buf, 1, 0), 0) << c.name;
    EXPECT_EQ(filrec(r)->Flg, c.flg) << c.name;
    closef(u, 0);
  }
  // Not recognised: reading gives -1, writing a blank 512-byte header.
  std::ofstream("none.dat", std::ios::binary) << "plain text";
  PtrRec* r = putptr(K_IMAGE | K_FILE, 0, nullptr, 0, 8, 1);
  std::strcpy(filrec(r)->Nam, "none.dat");
  int u = openf("none.dat", 0x42, 512);
  filrec(r)->Lun = static_cast<uint8_t>(u);
  EXPECT_EQ(inihdr(r, buf, 0, 0), -1);
  EXPECT_EQ(inihdr(r, buf, 1, 0), 0);
  EXPECT_EQ(r->Mptr, 512u);
  // A known format whose reader is missing is an error, not a raw read.
  std::ofstream("t.dat", std::ios::binary) << std::string("II*\0", 4) << std::string(100, 'x');
  PtrRec* t = makfil("t.dat", K_IMAGE, 0, 0, 8, 0, 0, 0, 0, 0, 1);
  EXPECT_EQ(t, nullptr);
  EXPECT_TRUE(state & ST_ERROR);
}

TEST_F(FileVar, RunLengthRowsOnFile) {
  // 512 equal bytes: four runs of 128.
  PtrRec* r = packed("eq.dat", 2, 512);
  ASSERT_NE(r, nullptr);
  std::vector<uint8_t> row(512, 0x41), back(512);
  EXPECT_EQ(filio(r, -1, 2, row.data()), 8);
  EXPECT_EQ(slurp("eq.dat"), std::string("\xff" "A" "\xff" "A" "\xff" "A" "\xff" "A"));

  // Runs of 2 and 3, a literal stopped before a run, a lone last byte.
  PtrRec* s = packed("mix.dat", 2, 12);
  std::vector<uint8_t> mix = {5, 5, 1, 2, 4, 4, 4, 4, 9, 8, 7, 7};
  ASSERT_GT(filio(s, -1, 2, mix.data()), 0);
  std::string want("\x81\x05\x01\x01\x02\x83\x04\x80\x09\x80\x08\x81\x07", 13);
  EXPECT_EQ(slurp("mix.dat"), want);
  std::vector<uint8_t> got(12, 0xEE);
  EXPECT_EQ(filio(s, -1, 1, got.data()), 12);
  EXPECT_EQ(got, mix);

  // Packed output longer than 512 bytes goes in 512-byte blocks; a record of
  // 1000 bytes packs and unpacks whole.
  PtrRec* q = packed("rnd.dat", 2, 1000);
  std::mt19937 gen(7);
  std::vector<uint8_t> rnd(1000);
  for (auto& b : rnd) b = static_cast<uint8_t>(gen());
  int n = filio(q, -1, 2, rnd.data());
  EXPECT_GT(n, 1000);
  EXPECT_EQ(static_cast<int>(slurp("rnd.dat").size()), n);
  std::vector<uint8_t> rb(1000);
  EXPECT_EQ(filio(q, -1, 1, rb.data()), 1000);
  EXPECT_EQ(rb, rnd);
}

TEST_F(FileVar, DifferencedAndLzwRows) {
  PtrRec* r = packed("diff.dat", 3, 6);
  ASSERT_NE(r, nullptr);
  std::vector<uint8_t> row = {10, 12, 11, 200, 3, 3}, keep = row;
  EXPECT_EQ(filio(r, -1, 2, row.data()), 6);
  EXPECT_EQ(row, keep);  // the variable keeps its values
  EXPECT_EQ(slurp("diff.dat"), std::string("\x0a\x02\xff\xbd\x3b\x00", 6));
  std::vector<uint8_t> back(6);
  EXPECT_EQ(filio(r, -1, 1, back.data()), 6);
  EXPECT_EQ(back, keep);

  PtrRec* z = packed("lzw.dat", 1, 6);
  EXPECT_EQ(filio(z, -1, 2, row.data()), -1);  // never written
  EXPECT_TRUE(state & ST_ERROR);
  state = 0;
  std::vector<uint8_t> none(6, 0x55);
  EXPECT_EQ(filio(z, -1, 1, none.data()), -1);  // refused, not zeros
  EXPECT_TRUE(state & ST_ERROR);
}

TEST_F(FileVar, FailedWriteKeepsTheBuffer) {
  PtrRec* r = makfil("/dev/full", K_IMAGE, 0x42, 512, 8, 512, 512, 1, 0, 0, 1);
  ASSERT_NE(r, nullptr);
  blkadr(r, 2);
  *dptr(r) = 99;
  BufRec* b = bufrec(r);
  int i = (b->Actv & 0x40) ? 0 : (b->Actv & 3);
  EXPECT_EQ(b->F[i], 2);
  flshio(r);
  EXPECT_TRUE(state & ST_ERROR);  // reported
  EXPECT_EQ(b->F[i], 2);          // still changed: nothing lost
  EXPECT_EQ(*dptr(r), 99);
}

TEST_F(FileVar, PackBitsPieces) {
  // A TIFF's run-length rows are PackBits: a run of n is 257 - n and the
  // byte (runs of 128 at most), a literal of n is n - 1 and the bytes (128
  // at most); a literal stops before a run of three, not before one of two.
  std::vector<uint8_t> row(130, 'A');
  for (int b : {1, 2, 3, 3, 3, 1, 2, 2, 3, 67, 67, 67}) row.push_back(static_cast<uint8_t>(b));
  for (int k = 0; k < 129; k++) row.push_back(static_cast<uint8_t>(10 + k));
  PtrRec* r = packed("pb.dat", FT_TIFF | 2, static_cast<int32_t>(row.size()));
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
  PtrRec* o = packed("own.dat", FT_DMOD | 2, 3);
  uint8_t three[3] = {7, 7, 7};
  EXPECT_EQ(filio(o, -1, 2, three), 2);
  EXPECT_EQ(slurp("own.dat"), std::string("\x82\x07", 2));
  PtrRec* l = packed("old.dat", FT_TIFF | 2, 3);
  filrec(l)->Mod = static_cast<uint16_t>(filrec(l)->Mod | FM_OWNRLE);
  EXPECT_EQ(filio(l, -1, 2, three), 2);
  EXPECT_EQ(slurp("old.dat"), std::string("\x82\x07", 2));
}

TEST_F(FileVar, TiffDifferencesAndKeptRows) {
  // A TIFF's horizontal-differences tag leaves rows plain (other readers
  // ignore it without compression); rows of a compressed file that exists
  // are never written.
  PtrRec* r = packed("pd.dat", FT_TIFF | 3, 4);
  ASSERT_NE(r, nullptr);
  uint8_t row[4] = {10, 12, 11, 200};
  EXPECT_EQ(filio(r, -1, 2, row), 4);
  EXPECT_EQ(slurp("pd.dat"), std::string("\x0a\x0c\x0b\xc8", 4));
  filrec(r)->Mod = static_cast<uint16_t>(filrec(r)->Mod | FM_KEEP);
  EXPECT_EQ(filio(r, -1, 2, row), -1);
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_EQ(slurp("pd.dat"), std::string("\x0a\x0c\x0b\xc8", 4));
}

TEST_F(FileVar, HeaderMustFitItsFile) {
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

TEST_F(FileVar, TemporaryFileReplacesTheName) {
  std::ofstream("keep.tif", std::ios::binary) << "old";
  chmod("keep.tif", 0640);
  SafeOut s;
  std::string at;
  ASSERT_TRUE(swbegin("keep.tif", 2, &s, &at));
  EXPECT_NE(at.find("/.keep.tif.pelix-"), std::string::npos);
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

TEST_F(FileVar, LeftoversOfTheSameFileGo) {
  // What writes killed before their rename left: those of keep.tif go at
  // its next write; another file's, and names of another form, stay.
  std::ofstream("keep.tif", std::ios::binary) << "old";
  const char* gone[] = {".keep.tif.pelix-Ab3xY9", ".keep.tif.pelix-000000"};
  const char* kept[] = {".other.tif.pelix-Ab3xY9", ".keep.tif.pelix-Ab3xY", ".keep.tif.pelix-Ab3xY90",
                        ".keep.tif.pelix-Ab_xY9", ".pelix-Ab3xY9", "keep.tif.pelix-Ab3xY9"};
  for (const char* n : gone) std::ofstream(n) << "part";
  for (const char* n : kept) std::ofstream(n) << "part";
  mkdir(".keep.tif.pelix-dir123", 0755);
  SafeOut s;
  std::string at;
  ASSERT_TRUE(swbegin("keep.tif", 2, &s, &at));
  struct stat st;
  for (const char* n : gone) EXPECT_NE(stat(n, &st), 0) << n;
  for (const char* n : kept) EXPECT_EQ(stat(n, &st), 0) << n;
  EXPECT_EQ(stat(".keep.tif.pelix-dir123", &st), 0);
  // A write under way is not a leftover: a second write of the name while
  // the first is open keeps its file.
  SafeOut s2;
  std::string at2;
  ASSERT_TRUE(swbegin("keep.tif", 2, &s2, &at2));
  EXPECT_EQ(stat(at.c_str(), &st), 0);
  EXPECT_FALSE(swend(&s2, false));
  std::ofstream(at, std::ios::binary) << "new";
  EXPECT_TRUE(swend(&s, true));
  EXPECT_EQ(slurp("keep.tif"), "new");
  // A long name is cut in its temporary file's name, whose path stays
  // within a unit's name.
  std::string lng = scratch.path + "/" + std::string(200, 'n') + ".tif";
  ASSERT_TRUE(swbegin(lng.c_str(), 2, &s, &at));
  EXPECT_LT(at.size(), static_cast<size_t>(UNIT_NAMELEN));
  EXPECT_NE(at.find("/.nnnn"), std::string::npos);
  EXPECT_NE(at.find(".pelix-"), std::string::npos);
  EXPECT_FALSE(swend(&s, false));
}

}  // namespace
