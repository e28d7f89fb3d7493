// Existence, size and deletion of files through language paths.
#include "core/memory.h"
#include "core/units.h"
#include "files/fileutil.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class FileUtil : public ::testing::Test {
 protected:
  std::string dir, here;
  void SetUp() override {
    MakStk();
    char tmpl[] = "/tmp/pelix-futil-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    here = fs::current_path();
    fs::create_directory(dir + "/sub");
    std::ofstream(dir + "/sub/a.dat", std::ios::binary) << std::string(1234, 'a');
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(here.c_str()), 0);
    fs::remove_all(dir);
  }
};

TEST_F(FileUtil, ExistsDeleteAndSize) {
  EXPECT_EQ(Exists("sub"), 2);
  EXPECT_EQ(Exists("sub\\a.dat"), 1);
  EXPECT_EQ(Exists((dir + "/sub/a.dat").c_str()), 1);
  EXPECT_EQ(Exists("sub/none.dat"), 0);
  EXPECT_EQ(Exists(""), 0);
  EXPECT_EQ(Exists(nullptr), 0);

  EXPECT_EQ(fsize("sub\\a.dat", 0), 1234);
  EXPECT_EQ(fsize("sub/none.dat", 0), -1);
  EXPECT_EQ(fsize("sub", -1), -1);

  // An open unit is measured without moving it.
  int u = openf("sub/a.dat", 0x00, 10);
  ASSERT_GE(u, 5);
  char buf[10];
  ASSERT_EQ(rdblk(u, 0, buf, 10, 0), 10);
  ASSERT_EQ(wrtblk(u, 0, "bbbb", 4, 1300), 4);  // grows the file
  EXPECT_EQ(fsize(nullptr, u), 1304);
  ASSERT_EQ(rdblk(u, 1, buf, 10, 0), 10);
  EXPECT_EQ(std::string(buf, 10), std::string(10, 'a'));
  closef(u, 0);
  EXPECT_EQ(fsize(nullptr, u), -1);
  EXPECT_EQ(fsize(nullptr, 99), -1);

  EXPECT_EQ(wrtchk("sub/a.dat", nullptr, 1), 1);
  EXPECT_EQ(wrtchk("x", nullptr, 0), 0);

  EXPECT_EQ(delfil("sub\\a.dat"), 0);
  EXPECT_EQ(Exists("sub/a.dat"), 0);
  EXPECT_EQ(delfil("sub\\a.dat"), -1);
  EXPECT_EQ(delfil("sub"), -1);
  EXPECT_EQ(Exists("sub"), 2);
}

}  // namespace
