// The vector list store: its scratch file, records past one block, counts
// lowered and raised, the marks, end records' distances, text objects,
// relative records, perspective and the data list.
#include "graphics/veclist.h"

#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "lang/names.h"

namespace {

class Veclist : public ::testing::Test {
 protected:
  Bottom bottom;
  ScratchDir dir{"/tmp/veclist", true};  // also the current folder
  void SetUp() override {
    MakStk();
    rststk();
    clrflags();
    bottom.keep();
    drwini();
    ASSERT_EQ(mksys(), 0);
    setstrv("tmpdir", dir.path.c_str());
  }
  void TearDown() override {
    drwini();
    bottom.back();
  }
  static int16_t at(const uint8_t* e, int k) {
    int16_t v;
    std::memcpy(&v, e + 4 + 2 * k, 2);
    return v;
  }
  // Record i as {x, y, z, code, width, colour}.
  static std::vector<int> rec(int32_t i) {
    const uint8_t* r = gtvptr(nullptr, i, 1);
    if (!r) return {};
    int16_t v[3];
    std::memcpy(v, r, 6);
    return {v[0], v[1], v[2], r[6] & 15, r[6] >> 4, r[7]};
  }
  // nvecs = n, as an assignment sets it.
  static void run_nvecs(int32_t n) { putprm(n, 114); }
  void put(int x, int y, int z, int code, int colour = 0, int width = 0) {
    putvec(nvecs, x, y, z, code, colour, width);
    nvecs++;
  }
};

TEST_F(Veclist, RecordsPastOneBlockAndCountsLoweredAndRaised) {
  // The first record of an empty list is a move; 2500 records outgrow two
  // blocks and each reads back, the list bound to vecs.
  for (int i = 0; i < 2500; i++) savvec(i, -i, 7, 1, i & 255, 3);
  EXPECT_EQ(rec(0), (std::vector<int>{0, 0, 7, 2, 3, 0}));
  EXPECT_EQ(rec(1023), (std::vector<int>{1023, -1023, 7, 1, 3, 255}));
  EXPECT_EQ(rec(1024), (std::vector<int>{1024, -1024, 7, 1, 3, 0}));
  EXPECT_EQ(rec(2499), (std::vector<int>{2499, -2499, 7, 1, 3, 2499 & 255}));
  EXPECT_TRUE(rec(2500).empty());
  EXPECT_EQ(symptr(sysent("vecs"))->value, 2500u);
  EXPECT_EQ(vlfile(), dir.path + "/vecs.tmp");
  // Lowered, then raised past what the buffers held: the file shows them.
  run_nvecs(100);
  EXPECT_TRUE(rec(100).empty());
  EXPECT_EQ(lastdrawn(), 99);
  run_nvecs(2499);
  EXPECT_EQ(rec(2498)[0], 2498);
  EXPECT_EQ(rec(100)[0], 100);
  // The list in use is never made again.
  vinit(2);
  EXPECT_EQ(rec(2000)[0], 2000);
  // setnvec: which 0 keeps a higher last-drawn mark, -1 sets it.
  setnvec(0, 5);
  setnvec(0, 9);
  EXPECT_EQ(lastdrawn(), 2498);
  setnvec(-1, 5);
  EXPECT_EQ(lastdrawn(), 4);
  EXPECT_EQ(lastvec, -1);
}

TEST_F(Veclist, EndRecordsAndTheirDistances) {
  // endvec(3) after two points: the last point comes again after the end.
  put(10, 10, 0, 2);
  put(20, 20, 0, 1);
  endvec(3);
  EXPECT_EQ(nvecs, 3);
  EXPECT_EQ(rec(1), (std::vector<int>{2, 0, 0, 15, 0, 0}));
  EXPECT_EQ(rec(2), (std::vector<int>{20, 20, 0, 1, 0, 0}));
  // A link: back distance to the last end record, whose y gets the forward
  // distance; it starts the next object, whose end points back to it.
  endvec(4);
  EXPECT_EQ(rec(3), (std::vector<int>{4, -2, 0, 15, 0, 0}));
  EXPECT_EQ(rec(1)[1], 2);
  EXPECT_EQ(lastvec, 3);
  put(30, 30, 0, 1);
  lastvec = 3;
  endvec(2);
  EXPECT_EQ(rec(5), (std::vector<int>{2, 0, -2, 15, 0, 0}));
  EXPECT_EQ(rec(3)[2], 2);
  EXPECT_EQ(lastendm(), 5);
  // Type 1: no distances.
  endvec(1);
  EXPECT_EQ(rec(6), (std::vector<int>{1, 0, 0, 15, 0, 0}));
}

TEST_F(Veclist, TextRelativeRecordsAndPerspective) {
  // A 7-byte text: the header and two records, the second one byte and
  // five zeros.
  puttext("ABCDEFG", 5, 10, 30, 2);
  EXPECT_EQ(nvecs, 3);
  EXPECT_EQ(rec(0), (std::vector<int>{7, 10, 30, 8, 2, 5}));
  EXPECT_EQ(rec(2), (std::vector<int>{'G', 0, 0, 8, 0, 5}));
  EXPECT_EQ(lastdrawn(), 2);
  // A relative move in draw mode: absolute from the last absolute point.
  put(10, 0, 0, 2);
  put(3, 0, 0, 5);
  uint8_t e[12];
  getvec(nullptr, 3, e, 1);
  ASSERT_NE(getvec(nullptr, 4, e, 1), nullptr);
  EXPECT_EQ(e[0], 2);
  EXPECT_EQ(at(e, 0), 13);
  EXPECT_EQ(lastpt[0], 13);
  // Read raw, it stays relative.
  getvec(nullptr, 4, e, 0);
  EXPECT_EQ(e[0], 5);
  // Perspective toward the box's centre: at z = vanish / 2 halfway.
  drwbox.max[0] = 1023;
  drwbox.max[1] = 355;
  vanish = 200;
  put(111, 21, 100, 2);
  getvec(nullptr, 5, e, 1);
  EXPECT_EQ(at(e, 0), (511 - 111) / 2 + 111);
  EXPECT_EQ(at(e, 1), (177 - 21) / 2 + 21);
  EXPECT_EQ(at(e, 2), 100);
  // Beyond the vanishing distance the factor stays 1; the flip reverses it.
  put(111, 21, 400, 2);
  getvec(nullptr, 6, e, 1);
  EXPECT_EQ(at(e, 0), 511);
  gflags = 0x2000;
  getvec(nullptr, 5, e, 1);
  EXPECT_EQ(at(e, 0), ftrunc(-0.5f * 400 + 111));
  gflags = 0;
  vanish = 0;
  // vcopy: a copy with a new code at the write index.
  uint8_t raw[8];
  vcopy(4, raw, 1);
  EXPECT_EQ(rec(7), (std::vector<int>{3, 0, 0, 1, 0, 0}));
}

TEST_F(Veclist, AListWithoutItsFileStaysEmpty) {
  // The temporary folder named by TMPDIR when tmpdir is empty; a folder that
  // is not there: the list has no records, and no other folder (the current
  // one here) is tried.
  setstrv("tmpdir", "");
  std::ofstream("vecs.tmp") << "keep";
  const char* old = std::getenv("TMPDIR");
  const std::string keep = old ? old : "";
  setenv("TMPDIR", (dir.path + "/none").c_str(), 1);
  savvec(1, 1, 1, 2, 0, 0);
  savvec(2, 2, 2, 1, 0, 0);
  if (old)
    setenv("TMPDIR", keep.c_str(), 1);
  else
    unsetenv("TMPDIR");
  EXPECT_NE(veclst(), nullptr);
  EXPECT_EQ(vlfile(), "");
  EXPECT_TRUE(rec(0).empty());
  EXPECT_EQ(veclst()->Length, 0);
  std::ifstream k("vecs.tmp");
  std::string t;
  k >> t;
  EXPECT_EQ(t, "keep");
}

}  // namespace
