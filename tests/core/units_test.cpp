// File units: open counts, modes, record and block I/O, checked against the
// bytes on disk as an outside tool (od, python3) sees them.
#include "core/memory.h"
#include "core/state.h"
#include "core/units.h"
#include "files/fileutil.h"
#include "ui/events.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Units : public ::testing::Test {
 protected:
  ScratchDir scratch{"/tmp/pelix-units-"};
  std::string dir = scratch.path;

  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    MakStk();
    state = 0;
    pflags = 0;
  }
  void TearDown() override {
    for (int u = 5; u < NUNITS; ++u)
      while (filtab[u].Nlinks > 0) closef(u, 0);
    state = 0;
    pflags = 0;
  }
  std::string path(const char* name) const { return dir + "/" + name; }
  static void put(const std::string& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
};

// The file's bytes as od prints them, turned back into bytes.
std::vector<uint8_t> odbytes(const std::string& p) {
  std::string cmd = "od -An -v -tu1 '" + p + "'";
  FILE* f = popen(cmd.c_str(), "r");
  std::vector<uint8_t> out;
  if (!f) return out;
  unsigned v;
  while (fscanf(f, "%u", &v) == 1) out.push_back(static_cast<uint8_t>(v));
  pclose(f);
  return out;
}

// Runs a python3 snippet with the file name as sys.argv[1]; its output.
std::string py(const std::string& code, const std::string& p) {
  std::string cmd = "python3 -c '" + code + "' '" + p + "'";
  FILE* f = popen(cmd.c_str(), "r");
  std::string out;
  if (!f) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, f)) out += buf;
  pclose(f);
  return out;
}

TEST_F(Units, ModeStringsAndWhatEachModeDoesToAFile) {
  // Every combination of the bits that choose the stream mode. Only create
  // (0x80) truncates; update without create reads and writes in place.
  struct Case {
    int mode;
    const char* s;
  } cases[] = {
      {0x00, "r+b"}, {0x01, "rb"},  {0x02, "r+b"}, {0x03, "r+b"},
      {0x04, "a+b"}, {0x05, "ab"},  {0x06, "a+b"}, {0x07, "a+b"},
      {0x80, "wb"},  {0x81, "wb"},  {0x82, "w+b"}, {0x83, "w+b"},
      {0x84, "wb"},  {0x85, "wb"},  {0x86, "w+b"}, {0x87, "w+b"},
  };
  for (const Case& c : cases) {
    for (int text : {0, 0x20}) {
      int mode = c.mode | text;
      std::string want = c.s;
      if (text) want.back() = 't';
      char s[5];
      EXPECT_EQ(std::string(unitmode(mode, s)), want) << std::hex << mode;
      // Bits outside the stream choice change nothing.
      EXPECT_EQ(std::string(unitmode(mode | 0x08 | 0x200 | 0x400 | 0x800 | 0x3000, s)), want)
          << std::hex << mode;

      std::string p = path("m.dat");
      put(p, "ABCDEFGH");
      int u = openf(p.c_str(), mode, 0);
      ASSERT_GE(u, 5) << std::hex << mode;
      const bool creates = mode & 0x80;
      const bool canread = want[0] == 'r' || want[1] == '+';
      const bool canwrite = want[0] != 'r' || want[1] == '+';
      if (canread && !creates) {
        char buf[4];
        EXPECT_EQ(rdblk(u, 1, buf, 4, 0), 4) << std::hex << mode;
        EXPECT_EQ(std::string(buf, 4), "EFGH") << std::hex << mode;
      }
      state = 0;
      int w = wrtblk(u, 0, "xy", 2, 0);
      EXPECT_EQ(w, canwrite ? 2 : -1) << std::hex << mode;
      closef(u, 0);
      state = 0;
      std::string got = slurp(p);
      if (creates)
        EXPECT_EQ(got, "xy") << std::hex << mode;
      else if (!canwrite)
        EXPECT_EQ(got, "ABCDEFGH") << std::hex << mode;
      else if (want[0] == 'a')
        EXPECT_EQ(got, "ABCDEFGHxy") << std::hex << mode;
      else
        EXPECT_EQ(got, "xyCDEFGH") << std::hex << mode;
    }
  }
}

TEST_F(Units, UpdateOpenKeepsTheFileAndCreatesAMissingOne) {
  std::string p = path("upd.dat");
  std::string orig(1000, '\0');
  for (int i = 0; i < 1000; ++i) orig[i] = static_cast<char>(i * 7);
  put(p, orig);
  // 0x12 is how the write command updates a file at an offset.
  for (int mode : {0x02, 0x12, 0x08}) {
    int u = openf(p.c_str(), mode, 10);
    ASSERT_GE(u, 5);
    EXPECT_EQ(wrtblk(u, 1, "0123456789", 10, 500), 10);
    closef(u, 0);
    std::string want = orig;
    want.replace(510, 10, "0123456789");
    EXPECT_EQ(slurp(p), want) << mode;
  }
  std::string q = path("new.dat");
  int u = openf(q.c_str(), 0x02, 0);
  ASSERT_GE(u, 5);
  EXPECT_EQ(wrtblk(u, 0, "abc", 3, 2), 3);
  closef(u, 0);
  EXPECT_EQ(slurp(q), std::string("\0\0abc", 5));
  // The default mode (r+b) does not make a missing file.
  EXPECT_EQ(openf(path("none.dat").c_str(), 0, 0), -1);
  EXPECT_EQ(Exists(path("none.dat").c_str()), 0);
}

TEST_F(Units, RecordsLandAtOffsetPlusRecordTimesLength) {
  std::string p = path("rec.dat");
  int u = openf(p.c_str(), 0x82, 100);
  ASSERT_GE(u, 5);
  std::vector<char> rec(100);
  for (int r : {2, 0, 3, 1}) {
    std::fill(rec.begin(), rec.end(), static_cast<char>('A' + r));
    ASSERT_EQ(wrtblk(u, r, rec.data(), 100, 40), 100);
  }
  closef(u, 0);
  std::string out = py(
      "import sys\n"
      "b=open(sys.argv[1],\"rb\").read()\n"
      "print(len(b), b[:40]==bytes(40), *[b[40+i*100:140+i*100]==bytes([65+i])*100 for i in range(4)])",
      p);
  EXPECT_EQ(out, "440 True True True True True\n");
}

TEST_F(Units, RoundTripThroughOneUnitAndBack) {
  std::string p = path("rt.dat");
  const int nrec = 37, len = 333;  // records straddle every 512-byte boundary
  std::vector<uint8_t> all(nrec * len);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>((i * 131 + i / 7) & 0xFF);
  int u = openf(p.c_str(), 0x82, len);
  ASSERT_GE(u, 5);
  for (int r = 0; r < nrec; ++r) ASSERT_EQ(wrtblk(u, r, &all[r * len], len, 0), len);
  closef(u, 0);
  EXPECT_EQ(filtab[u].Nlinks, 0);
  EXPECT_EQ(odbytes(p), all);

  u = openf(p.c_str(), 0x01, len);
  ASSERT_GE(u, 5);
  std::vector<uint8_t> buf(len);
  for (int r : {5, 0, 36, 17, 18, 19, 1}) {
    ASSERT_EQ(rdblk(u, r, buf.data(), len, 0), len) << r;
    EXPECT_EQ(0, memcmp(buf.data(), &all[r * len], len)) << r;
  }
  // Reading records in turn seeks at most once.
  uint32_t before = unitseeks();
  for (int r = 2; r < 6; ++r) ASSERT_EQ(rdblk(u, r, buf.data(), len, 0), len);
  EXPECT_LE(unitseeks() - before, 1u);
  closef(u, 0);
}

TEST_F(Units, CachedPositionNeverServesStaleBytes) {
  std::string p = path("mix.dat");
  int u = openf(p.c_str(), 0x82, 4);
  ASSERT_GE(u, 5);
  for (int r = 0; r < 4; ++r) ASSERT_EQ(wrtblk(u, r, std::string(4, 'A' + r).data(), 4, 0), 4);
  char buf[5] = {};
  ASSERT_EQ(rdblk(u, 0, buf, 4, 0), 4);
  EXPECT_STREQ(buf, "AAAA");
  // Write record 1; the stream is then at record 2 and reads it without a
  // seek: it must see the file, not the write's leftovers.
  ASSERT_EQ(wrtblk(u, 1, "XXXX", 4, 0), 4);
  ASSERT_EQ(rdblk(u, 2, buf, 4, 0), 4);
  EXPECT_STREQ(buf, "CCCC");
  // A write straight after a read, at the cached position.
  ASSERT_EQ(wrtblk(u, 3, "YYYY", 4, 0), 4);
  ASSERT_EQ(rdblk(u, 1, buf, 4, 0), 4);
  EXPECT_STREQ(buf, "XXXX");
  // Formatted output moves the stream behind the unit's back.
  FILE* fp = unitstream(u);
  ASSERT_NE(fp, nullptr);
  fseeko(fp, 0, SEEK_SET);
  fputs("zz", fp);
  ASSERT_EQ(rdblk(u, 2, buf, 4, 0), 4);
  EXPECT_STREQ(buf, "CCCC");
  // A caller may force the next seek by writing -1 into the slot.
  fseeko(fp, 0, SEEK_SET);
  filtab[u].pos = -1;
  ASSERT_EQ(rdblk(u, 3, buf, 4, 0), 4);
  EXPECT_STREQ(buf, "YYYY");
  closef(u, 0);
  EXPECT_EQ(slurp(p), "zzAAXXXXCCCCYYYY");
}

TEST_F(Units, ReadsPastTheEnd) {
  std::string p = path("end.dat");
  put(p, "0123456789");
  int u = openf(p.c_str(), 0x00, 8);
  ASSERT_GE(u, 5);
  char buf[8];
  memset(buf, '#', 8);
  EXPECT_EQ(rdblk(u, 1, buf, 8, 0), 2);  // the last two bytes, rest zeroed
  EXPECT_EQ(std::string(buf, 8), std::string("89\0\0\0\0\0\0", 8));
  memset(buf, '#', 8);
  EXPECT_EQ(rdblk(u, 5, buf, 8, 0), 8);  // writable: a zero record
  EXPECT_EQ(std::string(buf, 8), std::string(8, '\0'));
  EXPECT_EQ(rdblk(u, -1, buf, 8, 0), -1);
  closef(u, 0);
  u = openf(p.c_str(), 0x01, 8);
  EXPECT_EQ(rdblk(u, 5, buf, 8, 0), 0);  // read only: nothing
  closef(u, 0);
  EXPECT_EQ(rdblk(u, 0, buf, 8, 0), -1);  // closed unit
  EXPECT_EQ(slurp(p), "0123456789");
}

TEST_F(Units, FailedWritesAreReported) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  int u = openf("/dev/full", 0x02, 512);
  ASSERT_GE(u, 5);
  char buf[512] = {1};
  EXPECT_EQ(wrtblk(u, 0, buf, 512, 0), -1);
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_EQ(filtab[u].pos, -1);
  state = 0;
  ASSERT_EQ(bseek(u, 0, 0), 0);
  EXPECT_EQ(wrtbuf(u, buf, 100), 0);  // still in hand
  EXPECT_EQ(wrtbuf(u, buf, 500), -1);  // the first block fills and fails
  EXPECT_TRUE(state & ST_ERROR);
  state = 0;
  closef(u, 0);
  EXPECT_EQ(filtab[u].Nlinks, 0);
  EXPECT_TRUE(state & ST_ERROR);  // the unwritten rest is reported at close
  // A read-only unit refuses writes.
  state = 0;
  std::string p = path("ro.dat");
  put(p, "abc");
  u = openf(p.c_str(), 0x01, 0);
  EXPECT_EQ(wrtblk(u, 0, "x", 1, 0), -1);
  EXPECT_TRUE(state & ST_ERROR);
  closef(u, 0);
  EXPECT_EQ(slurp(p), "abc");
}

TEST_F(Units, OpenCountsNamesAndSlots) {
  std::string p = path("shared.dat");
  put(p, "hello");
  int a = openf(p.c_str(), 0x01, 0);
  ASSERT_GE(a, 5);
  EXPECT_EQ(filtab[a].Nlinks, 1);
  EXPECT_STREQ(filtab[a].name, p.c_str());
  // The same file under other spellings of its name, text bit ignored.
  std::string back = p;
  for (char& c : back)
    if (c == '/') c = '\\';
  std::string odd = dir + "//./shared.dat";
  EXPECT_EQ(openf(back.c_str(), 0x21, 0), a);
  EXPECT_EQ(openf(odd.c_str(), 0x01, 0), a);
  EXPECT_EQ(filtab[a].Nlinks, 3);
  EXPECT_EQ(fndfil(odd.c_str()), a);
  // Another read-only bit: error 83.
  EXPECT_EQ(openf(p.c_str(), 0x00, 0), -1);
  EXPECT_TRUE(state & ST_ERROR);
  state = 0;
  closef(a, 0);
  closef(a, 0);
  EXPECT_EQ(filtab[a].Nlinks, 1);
  char buf[5];
  EXPECT_EQ(rdblk(a, 0, buf, 5, 0), 5);  // still open and usable
  closef(a, 0);
  EXPECT_EQ(filtab[a].Nlinks, 0);
  EXPECT_EQ(filtab[a].name[0], '\0');
  EXPECT_EQ(fndfil(p.c_str()), -1);
  EXPECT_EQ(rdblk(a, 0, buf, 5, 0), -1);
  EXPECT_EQ(slurp(p), "hello");

  // A relative name is taken in the current folder, either separator.
  std::string here = fs::current_path();
  fs::create_directory(dir + "/sub");
  ASSERT_EQ(chdir(dir.c_str()), 0);
  int r = openf("sub\\x.dat", 0x82, 0);
  int r2 = openf("rel.dat", 0x82, 0);
  ASSERT_EQ(chdir(here.c_str()), 0);
  ASSERT_GE(r, 5);
  ASSERT_GE(r2, 5);
  EXPECT_EQ(std::string(filtab[r].name), dir + "/sub/x.dat");
  EXPECT_EQ(std::string(filtab[r2].name), dir + "/rel.dat");
  EXPECT_EQ(fndfil((dir + "\\sub/x.dat").c_str()), r);
  closef(r, 0);
  closef(r2, 0);

  // Units 5 to 49 in use: the next new name gives error 68.
  std::vector<int> units;
  for (int i = 0; i < 45; ++i) {
    int u = openf(path(("f" + std::to_string(i)).c_str()).c_str(), 0x82, 0);
    ASSERT_EQ(u, 5 + i);
    units.push_back(u);
  }
  state = 0;
  EXPECT_EQ(openf(path("one-more").c_str(), 0x82, 0), -1);
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_EQ(Exists(path("one-more").c_str()), 0);
  EXPECT_EQ(openf(path("f3").c_str(), 0x82, 0), 8);  // already open: fine
  closef(8, 0);
  for (int u : units) closef(u, 0);
  // Folders and names too long for a slot are not opened.
  EXPECT_EQ(openf(dir.c_str(), 0x01, 0), -1);
  EXPECT_EQ(openf(path(std::string(260, 'x').c_str()).c_str(), 0x82, 0), -1);
}

TEST_F(Units, CloseRulesTemporaryAndDeletion) {
  // Preset and out-of-range units are left alone.
  for (int u : {0, 1, 2, 3, 4, 50, 98, -1}) closef(u, 1);
  for (int u = 0; u < 5; ++u) EXPECT_EQ(filtab[u].Nlinks, -1);

  std::string p = path("tmp.dat");
  int t = openf(p.c_str(), 0x282, 0);
  ASSERT_GE(t, 5);
  EXPECT_TRUE(state & ST_TEMPUNITS);
  int k = openf(path("keep.dat").c_str(), 0x82, 0);
  clstmp();
  EXPECT_EQ(filtab[t].Nlinks, 0);
  EXPECT_EQ(filtab[k].Nlinks, 1);
  EXPECT_EQ(Exists(p.c_str()), 1);
  closef(k, 1);  // delete at the last close
  EXPECT_EQ(Exists(path("keep.dat").c_str()), 0);

  // Mode 0x800 deletes "alert.tmp" of the current folder.
  std::string here = fs::current_path();
  ASSERT_EQ(chdir(dir.c_str()), 0);
  put(dir + "/alert.tmp", "note");
  int a = openf("a.dat", 0x882, 0);
  closef(a, 0);
  EXPECT_EQ(Exists("alert.tmp"), 0);
  EXPECT_EQ(Exists("a.dat"), 1);
  ASSERT_EQ(chdir(here.c_str()), 0);

  // Serial ports are not there yet: the open fails cleanly.
  state = 0;
  EXPECT_EQ(openf("COM1", 0, 0), -1);
  EXPECT_EQ(openf("com10:", 0, 0), -1);
  EXPECT_EQ(closef(100, 0), 0);
}

TEST_F(Units, BlockStreamAcrossBlockBoundaries) {
  std::string p = path("blk.dat");
  std::vector<uint8_t> pat(3000);
  for (size_t i = 0; i < pat.size(); ++i) pat[i] = static_cast<uint8_t>((i * 37 + (i >> 9)) & 0xFF);
  int u = openf(p.c_str(), 0x82, 512);
  ASSERT_GE(u, 5);
  EXPECT_EQ(wrtbuf(u, pat.data(), 10), -1);  // no buffer yet
  ASSERT_EQ(bseek(u, 0, 0), 0);
  ASSERT_GT(filtab[u].blkbuf, 0);
  size_t at = 0;
  for (int n : {1, 100, 511, 512, 700, 1100, 76}) {
    ASSERT_EQ(wrtbuf(u, &pat[at], n), 0);
    at += static_cast<size_t>(n);
  }
  ASSERT_EQ(at, pat.size());
  closef(u, 0);  // flushes the partly filled last block and frees the buffer
  std::vector<uint8_t> want = pat;
  want.resize(3072, 0);  // whole blocks, zero-padded
  EXPECT_EQ(odbytes(p), want);

  u = openf(p.c_str(), 0x01, 512);
  ASSERT_GE(u, 5);
  EXPECT_EQ(rdbuf(u, 4), nullptr);  // no buffer yet
  ASSERT_EQ(bseek(u, 0, 0), 0);
  at = 0;
  for (int n : {7, 300, 512, 100, 511, 1, 512, 400, 200, 256, 201}) {
    uint8_t* q = rdbuf(u, n);
    ASSERT_NE(q, nullptr) << at;
    ASSERT_EQ(0, memcmp(q, &want[at], static_cast<size_t>(n))) << "at " << at << " n " << n;
    at += static_cast<size_t>(n);
  }
  ASSERT_EQ(at, 3000u);
  uint8_t* q = rdbuf(u, 72);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(0, memcmp(q, &want[3000], 72));
  EXPECT_EQ(rdbuf(u, 1), nullptr);  // end of the data
  // Positioning: block and byte, a byte count past 512, a fresh block.
  ASSERT_EQ(bseek(u, 2, 100), 0);
  q = rdbuf(u, 10);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(0, memcmp(q, &want[1124], 10));
  ASSERT_EQ(bseek(u, 0, 1124 + 512), 0);
  q = rdbuf(u, 500);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(0, memcmp(q, &want[1636], 500));
  q = rdbuf(u, 0);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(0, memcmp(q, &want[2560], 512));
  closef(u, 0);
  EXPECT_EQ(filtab[u].blkbuf, 0);
}

TEST_F(Units, BlockFlushInPlaceAndSharedBuffer) {
  std::string p = path("flush.dat");
  int u = openf(p.c_str(), 0x82, 512);
  ASSERT_GE(u, 5);
  ASSERT_EQ(bseek(u, 0, 0), 0);
  std::string a(600, 'a'), b(50, 'b');
  ASSERT_EQ(wrtbuf(u, a.data(), 600), 0);
  ASSERT_EQ(bseek(u, -3, 0), 0);  // the 88 bytes in hand go to block 1
  std::string disk = slurp(p);
  ASSERT_EQ(disk.size(), 1024u);
  EXPECT_EQ(disk.substr(0, 600), a);
  EXPECT_EQ(disk.substr(600), std::string(424, '\0'));
  ASSERT_EQ(wrtbuf(u, b.data(), 50), 0);
  // A second open shares the unit; its close only empties the buffer.
  EXPECT_EQ(openf(p.c_str(), 0x82, 512), u);
  closef(u, 0);
  EXPECT_GT(filtab[u].blkbuf, 0);
  closef(u, 0);
  EXPECT_EQ(filtab[u].Nlinks, 0);
  disk = slurp(p);
  ASSERT_EQ(disk.size(), 1024u);
  EXPECT_EQ(disk.substr(0, 650), a + b);
}

TEST_F(Units, YesNoKeys) {
  struct K {
    int key, want;
    bool err;
  } keys[] = {{27, -1, true}, {130, 0, true}, {'n', 0, true}, {'N', 0, true}, {129, 4, false},
              {13, 5, false}, {'y', 6, false}, {'Y', 7, false}, {208, 8, false}, {209, 9, false},
              {'q', 0, true}};
  for (const K& k : keys) {
    state = 0;
    EXPECT_EQ(yesno(k.key), k.want) << k.key;
    EXPECT_EQ((state & ST_ERROR) != 0, k.err) << k.key;
  }
}

TEST_F(Units, OverwriteNeedsAYes) {
  std::string p = path("keep.dat");
  put(p, "precious");
  pflags = 1;
  pushkey('n');
  EXPECT_EQ(openf(p.c_str(), 0x82, 0), -1);
  EXPECT_EQ(slurp(p), "precious");
  // Inside a macro nobody is asked.
  state = ST_TMACRO;
  int u = openf(p.c_str(), 0x82, 0);
  EXPECT_GE(u, 5);
  closef(u, 0);
  EXPECT_EQ(slurp(p), "");
}

}  // namespace
