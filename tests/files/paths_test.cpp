// Path editing and the language-path to host-path conversion.
#include "files/fileutil.h"
#include "files/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::string pp(const char* src, int mode, int outsize = 256) {
  char out[300];
  int n = pthpart(src, out, mode, outsize);
  EXPECT_EQ(n, static_cast<int>(strlen(out)));
  return out;
}

TEST(Pthpart, EveryMode) {
  EXPECT_EQ(pp("c:\\data\\x.img", 0), "c:/data/x.img");
  EXPECT_EQ(pp("a/b/c", 1), "a\\b\\c");
  EXPECT_EQ(pp("a\\b\\c", 2), "a\\\\b\\\\c");
  EXPECT_EQ(pp("c:\\data\\x.img", 3), "x.img");
  EXPECT_EQ(pp("c:x.img", 3), "x.img");
  EXPECT_EQ(pp("x.img", 3), "x.img");
  EXPECT_EQ(pp("c:\\data\\x.img", 4), "c:\\data");
  EXPECT_EQ(pp("x.img", 4), "");
  EXPECT_EQ(pp("c:\\data\\x.img", 5), "c:\\data\\");
  EXPECT_EQ(pp("/usr/lib/a.so", 5), "/usr/lib/");
  EXPECT_EQ(pp("x.img", 5), "");
  EXPECT_EQ(pp("c:\\data", 6), "c:\\data\\");
  EXPECT_EQ(pp("a/b\\c", 6), "a/b\\c\\");
  EXPECT_EQ(pp("a\\b/c", 6), "a\\b/c/");
  EXPECT_EQ(pp("name", 6), "name/");
  EXPECT_EQ(pp("dir/", 6), "dir/");
  EXPECT_EQ(pp("c:", 6), "c:");
  EXPECT_EQ(pp("", 6), "");
  EXPECT_EQ(pp("keep", 9), "keep");
  // In place, and cut to the room given.
  char buf[32] = "c:\\data\\file.txt";
  EXPECT_EQ(pthpart(buf, buf, 3), 8);
  EXPECT_STREQ(buf, "file.txt");
  EXPECT_EQ(pp("a\\b\\c\\d", 2, 6), "a\\\\b\\");
  char one[1] = {'x'};
  EXPECT_EQ(pthpart("abc", one, 0, 1), 0);
  EXPECT_EQ(one[0], '\0');
}

TEST(Hostpath, SeparatorsCurdirAndShownForm) {
  std::string cd = curdir_text();
  ASSERT_FALSE(cd.empty());
  EXPECT_EQ(cd.back(), '/');
  EXPECT_EQ(cd, std::filesystem::current_path().string() + "/");
  EXPECT_EQ(hostpath(""), "");
  EXPECT_EQ(hostpath("/a/b.dat"), "/a/b.dat");
  EXPECT_EQ(hostpath("\\a\\b.dat"), "/a/b.dat");
  EXPECT_EQ(hostpath("/a//b/./c/."), "/a/b/c/");
  EXPECT_EQ(hostpath("x.img"), cd + "x.img");
  EXPECT_EQ(hostpath("sub\\x.img"), cd + "sub/x.img");
  EXPECT_EQ(hostpath("./sub/../x"), cd + "sub/../x");
  EXPECT_EQ(hostpath("/"), "/");
}

// In a process folder that was deleted a relative name stays relative, so
// that the host refuses it with its cause; it never names a file under "/".
TEST(Hostpath, DeletedFolderKeepsNamesRelative) {
  const auto here = std::filesystem::current_path();
  const auto gone = std::filesystem::temp_directory_path() / ("pelix_gone_" + std::to_string(getpid()));
  std::filesystem::create_directory(gone);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  std::filesystem::remove(gone);
  const std::string name = hostpath("zq.raw"), dotted = hostpath("./sub/./x.raw"), dot = hostpath(".");
  const std::string abs = hostpath("/tmp/./x.raw");
  ASSERT_EQ(chdir(here.c_str()), 0);
  EXPECT_EQ(name, "zq.raw");
  EXPECT_EQ(dotted, "sub/x.raw");
  EXPECT_EQ(dot, ".");
  EXPECT_EQ(abs, "/tmp/x.raw");
}

}  // namespace
