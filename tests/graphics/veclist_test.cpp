// The vector list store: records appended and read back through the system
// name vecs, growth of its block, the count set through setnvec.
#include "graphics/veclist.h"

#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <cstring>

#include "graphics/drawstate.h"
#include "lang/names.h"

namespace {

class Veclist : public ::testing::Test {
 protected:
  Bottom bottom;
  void SetUp() override {
    MakStk();
    rststk();
    clrflags();
    bottom.keep();
    drwini();
    ASSERT_EQ(mksys(), 0);
  }
  void TearDown() override {
    bottom.back();
    drwini();
  }
  static int16_t at(const uint8_t* e, int k) {
    int16_t v;
    std::memcpy(&v, e + 4 + 2 * k, 2);
    return v;
  }
};

TEST_F(Veclist, AppendsGrowsAndCounts) {
  // The first record of an empty list is a move; 300 records outgrow the
  // first block and every one reads back.
  for (int i = 0; i < 300; i++) savvec(i, -i, 7, 1, i & 255, 3);
  EXPECT_EQ(nvecs, 300);
  uint8_t e[12];
  ASSERT_NE(getvec(nullptr, 0, e, 0), nullptr);
  EXPECT_EQ(e[0], 2);
  ASSERT_NE(getvec(nullptr, 299, e, 0), nullptr);
  EXPECT_EQ(e[0], 1);
  EXPECT_EQ(e[1], 3);
  EXPECT_EQ(at(e, 0), 299);
  EXPECT_EQ(at(e, 1), -299);
  EXPECT_EQ(at(e, 2), 7);
  EXPECT_EQ(getvec(nullptr, 300, e, 0), nullptr);
  EXPECT_EQ(e[0], 0);
  // The list is the variable vecs: its record counts what was written.
  uint16_t fl = 0;
  const SymEnt* s = symptr(GETSYM("vecs", 4, &fl, 1));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->data, static_cast<int32_t>(veclst()->PTR));
  EXPECT_EQ(veclst()->Length, 300);
  // A shorter count drops the records past it: grown again, they are empty.
  setnvec(0, 10);
  setnvec(0, 20);
  ASSERT_NE(getvec(nullptr, 15, e, 0), nullptr);
  EXPECT_EQ(e[0], 0);
  EXPECT_EQ(at(e, 0), 0);
  // A relative record reads as absolute from the last absolute point.
  setnvec(0, 0);
  savvec(10, 0, 0, 2, 0, 0);
  savvec(3, 1, 0, 5, 0, 0);
  getvec(nullptr, 0, e, 1);
  ASSERT_NE(getvec(nullptr, 1, e, 1), nullptr);
  EXPECT_EQ(e[0], 2);
  EXPECT_EQ(at(e, 0), 13);
  EXPECT_EQ(at(e, 1), 1);
}

}  // namespace
