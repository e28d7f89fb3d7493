// Existence, size and deletion of files through language paths.
#include "core/memory.h"
#include "core/symbols.h"
#include "core/units.h"
#include "files/fileutil.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class FileUtil : public ::testing::Test {
 protected:
  ScratchDir scratch{"/tmp/pelix-futil-", true};  // the working folder
  std::string dir = scratch.path;
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    MakStk();
    fs::create_directory(dir + "/sub");
    std::ofstream(dir + "/sub/a.dat", std::ios::binary) << std::string(1234, 'a');
  }
};

TEST_F(FileUtil, ExistsDeleteAndSize) {
  EXPECT_EQ(Exists("sub"), 2);
  EXPECT_EQ(Exists("sub\\a.dat"), 1);
  EXPECT_EQ(Exists((dir + "/sub/a.dat").c_str()), 1);
  EXPECT_EQ(Exists("sub/none.dat"), 0);
  EXPECT_EQ(Exists(""), 0);
  EXPECT_EQ(Exists(nullptr), 0);
  // Too long for the path buffer: missing, even when it would exist.
  std::string deep = "sub";
  while (dir.size() + deep.size() < 250) deep += "/d";
  fs::create_directories(dir + "/" + deep);
  EXPECT_EQ(Exists(deep.c_str()), 2);
  deep += "/dddddddddd";
  fs::create_directories(dir + "/" + deep);
  EXPECT_EQ(Exists(deep.c_str()), 0);

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

// Relative names follow the string variable curdir (else sysdir), not the
// process's folder: the language keeps its own current folder.
TEST_F(FileUtil, RelativeNamesFollowCurdir) {
  // A system table holding the two string variables, as start-up makes them.
  rststk();
  const int32_t mark = stkbot();
  const int32_t saved[4] = {cursym, glbsym, syssym, defsym};
  ASSERT_GT(mksystab(), 0);
  int32_t cd = putsym(0, "curdir", 6, 0x1021, 0, 0, 8);
  int32_t sd = putsym(0, "sysdir", 6, 0x1021, 0, 0, 8);
  ASSERT_GT(cd, 0);
  ASSERT_GT(sd, 0);
  auto set = [](int32_t e, const std::string& t) { PUTCHV(e, t.data(), static_cast<int>(t.size()), 1); };

  fs::create_directory(dir + "/other");
  std::ofstream(dir + "/other/b.dat", std::ios::binary) << std::string(77, 'b');
  set(cd, dir + "\\other");  // either separator; the trailing one is added
  EXPECT_EQ(std::string(curdir_text()), dir + "/other/");
  EXPECT_EQ(hostpath("b.dat"), dir + "/other/b.dat");
  EXPECT_EQ(Exists("b.dat"), 1);
  EXPECT_EQ(Exists("sub"), 0);  // the process's folder is not looked at
  EXPECT_EQ(fsize("b.dat", 0), 77);
  int u = openf("b.dat", 0x01, 0);
  ASSERT_GE(u, 5);
  EXPECT_STREQ(filtab[u].name, (dir + "/other/b.dat").c_str());
  EXPECT_EQ(fndfil((dir + "/other/b.dat").c_str()), u);
  closef(u, 0);
  EXPECT_EQ(delfil("b.dat"), 0);
  EXPECT_FALSE(fs::exists(dir + "/other/b.dat"));

  // An empty curdir falls back to sysdir; a relative text is taken from the
  // process's folder.
  set(cd, "");
  set(sd, dir + "/sub/");
  EXPECT_EQ(hostpath("a.dat"), dir + "/sub/a.dat");
  EXPECT_EQ(Exists("a.dat"), 1);
  set(cd, "other");
  EXPECT_EQ(hostpath("x"), dir + "/other/x");

  set(cd, "");
  set(sd, "");
  putstk(stkbot(), stkbot() - mark, 4);
  cursym = saved[0];
  glbsym = saved[1];
  syssym = saved[2];
  defsym = saved[3];
  // Without a system table the process's folder is the base again.
  EXPECT_EQ(hostpath("a.dat"), dir + "/a.dat");
}

}  // namespace
