// Temporary files of whole-file writes: the name forms at the path limit,
// the lock that keeps a write's file from another write's clean-up, where a
// write aims (links, fifos, /proc links) and the drop at the program's end.
#include "core/tmpfile.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

namespace {

bool there(const std::string& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

TEST(TmpFile, NamesFitThePathAndTellFilesApart) {
  const std::string a = "exper_A.dat", b = "exper_B.dat";
  // ".NAME.pelix-" and six characters: 25 for an 11-character name.
  EXPECT_EQ(tmpprefix(229, a, 255), ".exper_A.dat.pelix-");
  // One character less: the name gives way to its hash, never to the
  // unique part.
  for (size_t dir = 230; dir <= 242; dir++) {
    const std::string pa = tmpprefix(dir, a, 255), pb = tmpprefix(dir, b, 255);
    ASSERT_FALSE(pa.empty()) << dir;
    EXPECT_LE(dir + 1 + pa.size() + 6, 255u) << dir;
    EXPECT_NE(pa, pb) << dir;
    EXPECT_EQ(pa.front(), '.');
    EXPECT_EQ(pa.back(), '~');
  }
  EXPECT_EQ(tmpprefix(230, a, 255).size(), 14u);  // "." + 12 of the hash + "~"
  EXPECT_EQ(tmpprefix(242, a, 255).size(), 6u);   // 4 of the hash
  EXPECT_EQ(tmpprefix(243, a, 255), "");           // no room left: in place
  // A long name is cut, its hash kept: ".NAM~HASH.pelix-".
  const std::string l1 = std::string(40, 'x') + "1.dat", l2 = std::string(40, 'x') + "2.dat";
  const size_t full = l1.size() + 14;  // the name and ".", ".pelix-", six
  EXPECT_EQ(tmpprefix(254 - full, l1, 255), "." + l1 + ".pelix-");
  const std::string c1 = tmpprefix(255 - full, l1, 255), c2 = tmpprefix(255 - full, l2, 255);
  EXPECT_EQ(c1.size() + 6, full - 1);
  EXPECT_EQ(c1.compare(0, 33, "." + std::string(31, 'x') + "~"), 0) << c1;
  EXPECT_NE(c1, c2);
  EXPECT_EQ(c1.substr(c1.size() - 7), ".pelix-");
  // An entry of a folder holds at most 255 characters.
  EXPECT_EQ(tmpprefix(10, std::string(250, 'y'), 4095).size() + 6, 255u);
}

TEST(TmpFile, LockedFilesAreNoLeftovers) {
  ScratchDir scratch{"/tmp/pelix-tmpf-", true};
  std::ofstream("keep.bin") << "old";
  TmpWrite w1, w2;
  ASSERT_EQ(tmpaim(scratch.path + "/keep.bin", &w1), 0);
  ASSERT_EQ(tmpmake(&w1), 0);
  ASSERT_FALSE(w1.temp.empty());
  // A second write of the file while the first holds its lock.
  ASSERT_EQ(tmpaim(scratch.path + "/keep.bin", &w2), 0);
  ASSERT_EQ(tmpmake(&w2), 0);
  EXPECT_TRUE(there(w1.temp));
  EXPECT_EQ(tmpend(&w2, false), -1);
  // The first write killed: its lock goes with it, and the file with the
  // next write of the name.
  close(w1.lock);
  w1.lock = -1;
  ASSERT_EQ(tmpaim(scratch.path + "/keep.bin", &w2), 0);
  ASSERT_EQ(tmpmake(&w2), 0);
  EXPECT_FALSE(there(w1.temp));
  std::ofstream(w2.temp) << "new";
  EXPECT_EQ(tmpend(&w2, true), 0);
  std::ifstream in("keep.bin");
  std::string got;
  in >> got;
  EXPECT_EQ(got, "new");
  // The end of the program drops the temporary files of writes under way.
  ASSERT_EQ(tmpaim(scratch.path + "/keep.bin", &w2), 0);
  ASSERT_EQ(tmpmake(&w2), 0);
  tmpdrop();
  EXPECT_FALSE(there(w2.temp));
  EXPECT_EQ(tmpend(&w2, true), ENOENT);
}

TEST(TmpFile, NoRoomKeepsTheOldFileAside) {
  // A folder whose path leaves no room for a temporary name within 255
  // characters: the file is written in place, the old one kept aside and
  // put back by a failed write or by the program's end.
  ScratchDir scratch{"/tmp/pelix-tmpf-", true};
  std::string d = scratch.path;
  while (d.size() < 246) {
    d += "/" + std::string(std::min<size_t>(60, 246 - d.size() - 1), 'd');
    ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
  }
  const std::string f = d + "/" + std::string(8, 'k');
  ASSERT_EQ(f.size(), 255u);
  auto slurp = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  std::ofstream(f, std::ios::binary) << "old";
  ASSERT_EQ(chmod(f.c_str(), 0640), 0);
  TmpWrite t;
  for (int end = 0; end < 3; end++) {
    ASSERT_EQ(tmpaim(f, &t), 0);
    ASSERT_EQ(tmpmake(&t), 0);
    EXPECT_TRUE(t.temp.empty());
    ASSERT_FALSE(t.keep.empty());
    EXPECT_EQ(slurp(t.keep), "old");
    EXPECT_EQ(slurp(f), "");
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::ofstream(f, std::ios::binary) << "part";
    const std::string keep = t.keep;
    if (end == 0) {
      EXPECT_EQ(tmpend(&t, false), -1);
    } else if (end == 1) {
      tmpdrop();  // the end by time-out or signal
    }
    if (end == 2) {
      EXPECT_EQ(tmpend(&t, true), 0);
      EXPECT_EQ(slurp(f), "part");
      EXPECT_FALSE(there(keep));
      break;
    }
    EXPECT_EQ(slurp(f), "old") << end;
    EXPECT_FALSE(there(keep));
    t.keep.clear();
  }
  // A new file there: the end by time-out or signal drops what was written.
  const std::string g = d + "/" + std::string(8, 'g');
  ASSERT_EQ(tmpaim(g, &t), 0);
  ASSERT_EQ(tmpmake(&t), 0);
  EXPECT_TRUE(t.temp.empty() && t.keep.empty());
  std::ofstream(g, std::ios::binary) << "part";
  tmpdrop();
  EXPECT_FALSE(there(g));
  tmpend(&t, false);
}

TEST(TmpFile, WhereAWriteGoes) {
  ScratchDir scratch{"/tmp/pelix-tmpf-", true};
  const std::string d = scratch.path;
  TmpWrite t;
  // A dangling link: the file it names is made (beside that file).
  ASSERT_EQ(symlink("made.raw", "dang.raw"), 0);
  ASSERT_EQ(tmpaim(d + "/dang.raw", &t), 0);
  EXPECT_EQ(t.dest, d + "/made.raw");
  ASSERT_EQ(tmpmake(&t), 0);
  EXPECT_EQ(t.temp.compare(0, d.size() + 17, d + "/.made.raw.pelix-"), 0) << t.temp;
  EXPECT_EQ(tmpend(&t, true), 0);
  EXPECT_TRUE(there("made.raw"));
  struct stat st;
  ASSERT_EQ(lstat("dang.raw", &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // A fifo, through a link too: straight, nothing made beside it.
  ASSERT_EQ(mkfifo("ff", 0644), 0);
  ASSERT_EQ(symlink("ff", "ff.lnk"), 0);
  ASSERT_EQ(tmpaim(d + "/ff.lnk", &t), 0);
  EXPECT_TRUE(t.straight);
  EXPECT_EQ(t.dest, d + "/ff");
  EXPECT_EQ(tmpmake(&t), 0);
  EXPECT_TRUE(t.temp.empty());
  // A folder is no file.
  ASSERT_EQ(mkdir("sub", 0755), 0);
  EXPECT_EQ(tmpaim(d + "/sub", &t), EISDIR);
  // A link to this program's own descriptor through /proc (as /dev/stdout
  // is): that descriptor, written where it stands.
  const int fd = open("open.bin", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(symlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), "own.lnk"), 0);
  ASSERT_EQ(tmpaim(d + "/own.lnk", &t), 0);
  EXPECT_TRUE(t.straight);
  EXPECT_EQ(t.own, fd);
  EXPECT_EQ(tmpown(d + "/own.lnk"), fd);
  EXPECT_EQ(tmpown(d + "/made.raw"), -1);
  close(fd);
}

}  // namespace
