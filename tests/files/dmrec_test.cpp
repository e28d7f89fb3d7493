// The DM record engine through its own calls: header-line splitting and
// keyword lookup, byte swapping, paths of link files, files made reversed
// or with link files, the header's room to its last byte, the first line's
// checks, finding by ordinal and number, the listing forms, partial data
// moves and taking back a failed append.
#include "files/dmrec/dmrec.h"
#include "files/dmrec/splitln.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "tests/support/interp.h"

namespace {

std::vector<std::string> lines;
int collect(const char* l, int n) {
  lines.emplace_back(l, static_cast<size_t>(n));
  return 0;
}

class DmRec : public ::testing::Test {
 protected:
  ScratchDir dir{"/tmp/pelix-dmrec-"};
  void SetUp() override {
    MakStk();
    rststk();
    state = 0;
    lines.clear();
  }
  void TearDown() override {
    colhook = nullptr;
    colrec = 0;
    lstlun = 1;
    state = 0;
  }
  std::string at(const char* name) const { return dir.path + "/" + name; }
  static std::string slurp(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  static void put(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  // Appends a record of int16 data (or none) and closes the file.
  static int add(const std::string& name, int num, std::vector<int16_t> data, int flags = 0,
                 std::string desc = "", std::string* link = nullptr) {
    DmFile dm;
    dm.name = name;
    dm.type = 16;
    dm.nx = static_cast<int64_t>(data.size());
    dm.desc = &desc;
    dm.link = link;
    int r = DMREC(num, &dm, DMR_APPEND | flags);
    if (r < 1) {
      if (dm.fp) DMREC(0, &dm, DMR_CLOSE);
      return r;
    }
    if (!data.empty()) {
      dm.dbuf = reinterpret_cast<uint8_t*>(data.data());
      dm.dbsize = static_cast<int64_t>(data.size() * 2);
      EXPECT_EQ(DMRECIO(&dm, 0, DMIO_WRITE | DMIO_KEEP), static_cast<int64_t>(data.size()));
    }
    EXPECT_EQ(DMREC(0, &dm, DMR_CLOSE), 0);
    return r;
  }
  // Reads the record's data (DMR_READ) as int16 values.
  static std::vector<int16_t> get(const std::string& name, int wanted, std::string* desc = nullptr,
                                  int* result = nullptr) {
    DmFile dm;
    dm.name = name;
    dm.desc = desc;
    int r = DMREC(wanted, &dm, DMR_READ);
    if (result) *result = r;
    std::vector<int16_t> v;
    if (r >= 1 && dm.moved > 0) {
      v.resize(static_cast<size_t>(dm.moved / 2));
      std::memcpy(v.data(), dm.dbuf, static_cast<size_t>(dm.moved));
    }
    if (dm.fp) DMREC(0, &dm, DMR_CLOSE);
    return v;
  }
};

TEST(Splitln, WordsQuotesEqualsAndComments) {
  char l1[] = "  Record 3 16,8192\t\"a \\\" b\" x-1.5_y # rest";
  char* w[20];
  ASSERT_EQ(splitln(l1, w, 20), 6);
  EXPECT_STREQ(w[0], "Record");
  EXPECT_STREQ(w[2], "16");  // the comma ends the word and goes
  EXPECT_STREQ(w[3], "8192");
  EXPECT_STREQ(w[4], "\"a \\\" b\"");  // an escaped quote does not end it
  EXPECT_STREQ(w[5], "x-1.5_y");
  char l2[] = "text = hello world";
  ASSERT_EQ(splitln(l2, w, 20), 4);
  EXPECT_STREQ(w[1], "=");
  EXPECT_STREQ(w[2], "hello");
  char l3[] = "key=value==x";
  ASSERT_EQ(splitln(l3, w, 20), 6);
  EXPECT_STREQ(w[0], "key");
  EXPECT_STREQ(w[1], "=");
  EXPECT_STREQ(w[2], "value");
  EXPECT_STREQ(w[3], "=");
  EXPECT_STREQ(w[4], "=");
  EXPECT_STREQ(w[5], "x");
  char l4[] = "a b c d\nnext line";
  EXPECT_EQ(splitln(l4, w, 3), 3);  // the count stops at max
  char l5[] = "a b c d\nnext line";
  EXPECT_EQ(splitln(l5, w, 20), 4);  // the line end ends the split
  char l6[] = "#all comment";
  EXPECT_EQ(splitln(l6, w, 20), 0);
  char l7[] = "\"open quote";
  ASSERT_EQ(splitln(l7, w, 20), 1);
  EXPECT_STREQ(w[0], "\"open quote");
}

TEST(Splitln, ScantokModes) {
  const char* t = "  ab.c-d{x $y\r\nz";
  const char* p = t;
  int n = 0;
  EXPECT_EQ(scantok(&p, 1, &n), 0);
  EXPECT_EQ(n, 2);
  const char* s = p;
  EXPECT_EQ(scantok(&p, 6, &n), 0);  // up to "-"
  EXPECT_EQ(std::string(s, static_cast<size_t>(n)), "ab.c");
  p = s;
  EXPECT_EQ(scantok(&p, 3, &n), 0);  // a name holds "-"
  EXPECT_EQ(std::string(s, static_cast<size_t>(n)), "ab.c-d");
  p = s;
  EXPECT_EQ(scantok(&p, '$', &n), 0);
  EXPECT_EQ(std::string(s, static_cast<size_t>(n)), "ab.c-d{x ");
  p = s;
  EXPECT_EQ(scantok(&p, 2, &n), 0);
  EXPECT_EQ(std::string(s, static_cast<size_t>(n)), "ab.c-d{x");
  // The rest of the line: CR LF is one line end, passed over.
  EXPECT_EQ(scantok(&p, 4, &n), 1);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(*p, 'z');
  EXPECT_EQ(scantok(&p, 3, &n), 2);
  EXPECT_EQ(n, 1);
  const char* q = "'it\\'s' more";
  p = q;
  EXPECT_EQ(scantok(&p, 5, &n), 0);
  EXPECT_EQ(n, 7);
}

TEST(Splitln, FndkeyPrefixOrderAndSkips) {
  static const char* const keys[] = {"dmdata", "record", "text", "link", nullptr};
  EXPECT_EQ(fndkey("dmdata", keys), 0);
  EXPECT_EQ(fndkey("r", keys), 1);
  EXPECT_EQ(fndkey("tex", keys), 2);
  EXPECT_EQ(fndkey("texts", keys), -1);  // longer than the keyword
  EXPECT_EQ(fndkey("", keys), -1);
  EXPECT_EQ(fndkey("Text", keys), -1);  // exact: callers lower-case
  static const char* const order[] = {"line", "link", nullptr};
  EXPECT_EQ(fndkey("li", order), 0);  // the first in list order wins
  static const char* const skip[] = {KEYSKIP, "line", "link", nullptr};
  EXPECT_EQ(fndkey("li", skip), 1);
  EXPECT_EQ(fndkey("link", skip), 2);
  EXPECT_EQ(isnamc('-') + isnamc('_') + isnamc('.') + isnamc('z') + isnamc('Z') + isnamc('0') + isnamc('9'), 7);
  EXPECT_EQ(isnamc('/') + isnamc(':') + isnamc('@') + isnamc('[') + isnamc('`') + isnamc('{') + isnamc(' '), 0);
}

TEST(DmRecCodec, SwapByElementSize) {
  uint8_t b[16];
  auto fill = [&] {
    for (int i = 0; i < 16; i++) b[i] = static_cast<uint8_t>(i);
  };
  fill();
  swapwd(b, 16, 16);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(b[15], 14);
  for (int t : {32, 96}) {
    fill();
    swapwd(b, t, 16);
    EXPECT_EQ(b[0], 3) << t;
    EXPECT_EQ(b[3], 0) << t;
    EXPECT_EQ(b[4], 7) << t;
    EXPECT_EQ(b[12], 15) << t;
  }
  fill();
  swapwd(b, 224, 16);  // doubles: eight bytes each
  EXPECT_EQ(b[0], 7);
  EXPECT_EQ(b[8], 15);
  for (int t : {0, 8, 24}) {
    fill();
    swapwd(b, t, 16);
    EXPECT_EQ(b[0], 0) << t;
    EXPECT_EQ(b[1], 1) << t;
  }
  fill();
  swap16(b, 2);
  EXPECT_EQ(b[0], 2);
  EXPECT_EQ(b[1], 3);
  EXPECT_EQ(b[2], 0);
  EXPECT_EQ(b[4], 6);
  EXPECT_EQ(b[8], 8);  // only two words
  EXPECT_EQ(dmbpe(0), 1);
  EXPECT_EQ(dmbpe(7), 1);
  EXPECT_EQ(dmbpe(24), 3);
  EXPECT_EQ(dmbpe(96), 4);
  EXPECT_EQ(dmbpe(136), 2);
  EXPECT_EQ(dmbpe(224), 8);
  EXPECT_EQ(typnam(96), std::string("float32"));
  EXPECT_EQ(typnam(24), nullptr);
  EXPECT_EQ(std::string(dmrmsg(-6)), "header overflow");
  EXPECT_EQ(std::string(dmrmsg(-14)), "file seek error");
}

TEST(DmRecCodec, MkpathJoinsBesideTheBase) {
  std::string out;
  EXPECT_EQ(mkpath("rec.dat", "/data/run/f.dm", &out), 0);
  EXPECT_EQ(out, "/data/run/rec.dat");
  EXPECT_EQ(mkpath("sub/rec.dat", "c:\\data\\f.dm", &out), 4);
  EXPECT_EQ(out, "c:\\data\\rec.dat");  // the name's own folder goes
  EXPECT_EQ(mkpath("/abs/rec.dat", "/data/f.dm", &out), 5);
  EXPECT_EQ(out, "/abs/rec.dat");
  mkpath("d:rec.dat", "/data/f.dm", &out);
  EXPECT_EQ(out, "d:rec.dat");
  mkpath("rec.dat", "f.dm", &out);
  EXPECT_EQ(out, "rec.dat");
}

TEST_F(DmRec, MadeReversedTheDataAreSwapped) {
  std::string f = at("rev.dm");
  ASSERT_EQ(add(f, 5, {1, -2, 0x1234}, DMR_REVERSE), 1);
  std::string b = slurp(f);
  ASSERT_EQ(b.size(), 8192u + 6);
  EXPECT_EQ(b.substr(0, 21), "DMDATA     8192 dcba\n");
  EXPECT_EQ(b.substr(8192), std::string("\x00\x01\xff\xfe\x12\x34", 6));
  // Appending to it swaps too; reading swaps back.
  ASSERT_EQ(add(f, 6, {7}), 1);
  EXPECT_EQ(slurp(f).substr(8200), std::string("\x00\x07", 2));
  EXPECT_EQ(get(f, 5), (std::vector<int16_t>{1, -2, 0x1234}));
  EXPECT_EQ(get(f, -2), (std::vector<int16_t>{7}));
}

TEST_F(DmRec, LinkFilesBesideTheFile) {
  std::string f = at("lk.dm"), link;
  ASSERT_EQ(add(f, 3, {4, 5}, DMR_LINK, "linked", &link), 1);
  EXPECT_EQ(link, "lk.dm.rec3");
  std::string b = slurp(f);
  ASSERT_EQ(b.size(), 8192u);  // the header alone
  EXPECT_EQ(b.substr(0, 21), "DMDATA        0 abcd\n");
  EXPECT_NE(b.find("Record    3  16            0            2      1      1      1\n lk.dm.rec3\n  Text: linked\n\x1a"),
            std::string::npos);
  EXPECT_EQ(slurp(at("lk.dm.rec3")), std::string("\x04\x00\x05\x00", 4));
  std::string desc;
  EXPECT_EQ(get(f, 3, &desc), (std::vector<int16_t>{4, 5}));
  EXPECT_EQ(desc, "linked");
  // A named link file: its folder goes, it lies beside the DM file.
  link = "elsewhere/data.bin";
  ASSERT_EQ(add(f, 4, {9}, DMR_LINK, "", &link), 1);
  EXPECT_EQ(link, "data.bin");
  EXPECT_EQ(get(f, 4), (std::vector<int16_t>{9}));
  // A link file that is gone: "data file open".
  std::remove(at("data.bin").c_str());
  int r = 0;
  get(f, 4, nullptr, &r);
  EXPECT_EQ(r, DM_LINKOPEN);
}

TEST_F(DmRec, HeaderRoomToTheLastByte) {
  std::string f = at("room.dm");
  // The header text starts with 84 bytes; a record line is 63 bytes, 72
  // plus its description with one; 0x1A and a zero byte follow the last.
  std::string d132(132, 'd');
  for (int k = 1; k <= 39; k++) ASSERT_EQ(add(f, k, {}, 0, d132), 1) << k;
  const std::string before = slurp(f);
  EXPECT_EQ(before.find('\x1a'), 84u + 39 * 204);  // 8040
  // 150 bytes are left before the end mark's two: 79 characters of
  // description are one too many, 78 fit exactly.
  EXPECT_EQ(add(f, 40, {}, 0, std::string(79, 'x')), DM_HFULL);
  EXPECT_EQ(slurp(f), before);
  ASSERT_EQ(add(f, 40, {}, 0, std::string(78, 'x')), 1);
  std::string full = slurp(f);
  ASSERT_EQ(full.size(), 8192u);
  EXPECT_EQ(full.substr(8188, 4), std::string("x\n\x1a\x00", 4));
  EXPECT_EQ(add(f, 41, {}), DM_HFULL);
  EXPECT_EQ(slurp(f), full);
  // A 132-character description reads back whole.
  std::string desc;
  get(f, 39, &desc);
  EXPECT_EQ(desc, d132);
}

TEST_F(DmRec, FirstLineChecks) {
  auto open = [&](const std::string& bytes, int flags = 0) {
    put(at("h.dm"), bytes);
    DmFile dm;
    dm.name = at("h.dm");
    int r = DMREC(0, &dm, flags | DMR_OPEN);
    int mode = dm.mode;
    int64_t hs = dm.hsize;
    if (dm.fp) DMREC(0, &dm, DMR_CLOSE);
    return std::vector<int64_t>{r, mode, hs};
  };
  std::string pad(8192, '\0');
  EXPECT_EQ(open("DMDATA 8192 abcd\n" + pad)[0], 1);
  EXPECT_EQ(open("DMDATA 8193 abcd\n" + pad.substr(0, 8175))[0], DM_FORMAT);  // past the end
  EXPECT_EQ(open("DMDATA 8192 abcd\n" + pad.substr(0, 8175))[0], 1);          // to the last byte
  EXPECT_EQ(open("DMDATA 99999999999999999999 abcd\n" + pad)[0], DM_FORMAT);
  EXPECT_EQ(open("DMDATA 8192 abc\n" + pad)[0], DM_FORMAT);  // a tag of three
  EXPECT_EQ(open("DMDATA abcd -5\n" + pad)[0], DM_FORMAT);   // a size below 0
  EXPECT_EQ(open("dmdata abcd 20\nrecord 1 0 -1 0\n"), (std::vector<int64_t>{1, 0, 20}));
  EXPECT_EQ(open("DMDATA\nrecord 1 0 -1 0\n"), (std::vector<int64_t>{1, DMM_TEXT, 23}));
  EXPECT_EQ(open("DMDATA 0 dcba\n")[1], DMM_TEXT);
  EXPECT_EQ(open("DMDATAX 8192\n" + pad)[0], DM_FORMAT);
  EXPECT_EQ(open("")[0], DM_FORMAT);
  EXPECT_EQ(open("\n\n")[0], DM_FORMAT);
  DmFile dm;
  dm.name = at("none.dm");
  EXPECT_EQ(DMREC(1, &dm, 0), DM_OPEN);
  EXPECT_EQ(DMREC(1, &dm, DMR_APPEND | DMR_MUSTOPEN), DM_OPEN);
  EXPECT_FALSE(std::filesystem::exists(at("none.dm")));
  // Another file is never taken for one: appending leaves it alone.
  put(at("t.txt"), "some text\n");
  EXPECT_EQ(add(at("t.txt"), 1, {1}), DM_FORMAT);
  EXPECT_EQ(slurp(at("t.txt")), "some text\n");
}

TEST_F(DmRec, FindByOrdinalAndNumberAndMoveInParts) {
  std::string f = at("find.dm");
  ASSERT_EQ(add(f, 7, {1, 2, 3}, 0, "seven"), 1);
  ASSERT_EQ(add(f, 3, {4}), 1);
  ASSERT_EQ(add(f, 9, {}, 0, "empty"), 1);
  std::string desc = "old";
  int r = 0;
  EXPECT_EQ(get(f, 7, &desc, &r), (std::vector<int16_t>{1, 2, 3}));
  EXPECT_EQ(r, 1);
  EXPECT_EQ(desc, "seven");
  EXPECT_EQ(get(f, -2, &desc, &r), (std::vector<int16_t>{4}));
  EXPECT_EQ(r, 2);
  EXPECT_EQ(desc, "");  // no text line after it
  get(f, 4, nullptr, &r);
  EXPECT_EQ(r, DM_NOTFOUND);
  get(f, -4, nullptr, &r);
  EXPECT_EQ(r, DM_NOTFOUND);
  DmFile dm;
  dm.name = f;
  EXPECT_EQ(DMREC(0, &dm, 0), 3);  // every record: their count
  DMREC(0, &dm, DMR_CLOSE);
  // The second record's data follow the first's 6 bytes at a multiple of 8.
  std::string b = slurp(f);
  EXPECT_NE(b.find("Record    3  16         8200            1"), std::string::npos);
  EXPECT_NE(b.find("Record    9  16           -1            0"), std::string::npos);
  // Parts: 2 elements, then the rest, then nothing is left.
  DmFile p;
  p.name = f;
  ASSERT_EQ(DMREC(7, &p, 0), 1);
  EXPECT_EQ(DMRECIO(&p, 2, 0), 2);
  EXPECT_EQ(p.moved, 4);
  EXPECT_EQ(DMRECIO(&p, 5, 0), 1);
  EXPECT_EQ(reinterpret_cast<int16_t*>(p.dbuf)[0], 3);
  EXPECT_EQ(DMRECIO(&p, 0, 0), DM_NULLIO);
  p.moved = 0;
  p.dbuf = nullptr;
  EXPECT_EQ(DMRECIO(&p, 1, DMIO_WRITE), DM_BADPTR);
  DMREC(0, &p, DMR_CLOSE);
  EXPECT_EQ(DMRECIO(&p, 1, 0), DM_NODATA);
}

TEST_F(DmRec, RecordsPastTheirFileAreRefused) {
  std::string hdr = "DMDATA 100 abcd\nRecord 1 16 100 3\nRecord 2 16 104 3\nRecord 3 32 -1 0\n";
  hdr.resize(100, '\0');
  put(at("short.dm"), hdr + std::string(8, '\1'));
  int r = 0;
  EXPECT_EQ(get(at("short.dm"), 1, nullptr, &r).size(), 3u);
  EXPECT_EQ(r, 1);
  get(at("short.dm"), 2, nullptr, &r);  // 6 bytes from 104: two too many
  EXPECT_EQ(r, DM_FORMAT);
  get(at("short.dm"), 3, nullptr, &r);  // an empty record is found
  EXPECT_EQ(r, 3);
}

TEST_F(DmRec, ListingForms) {
  std::string f = at("list.dm"), link = "x.bin";
  ASSERT_EQ(add(f, 2, {1, 2}, 0, "two"), 1);
  ASSERT_EQ(add(f, 5, {3}, DMR_LINK, "", &link), 1);
  // The listing unit is the line collector.
  auto* rec = static_cast<uint32_t*>(getbuf(8));
  ASSERT_NE(rec, nullptr);
  rec[0] = rec[1] = 0;
  colrec = stkadr(rec);
  colmax = 1000;
  colhook = collect;
  lstlun = 99;
  auto list = [&](int flags) {
    lines.clear();
    DmFile dm;
    dm.name = f;
    EXPECT_EQ(DMREC(0, &dm, DMR_LIST | flags), 2);
    EXPECT_EQ(dm.fp, nullptr);  // a listing closes the file
    return lines;
  };
  EXPECT_EQ(list(0), (std::vector<std::string>{" # RecTyp Wsiz      RSiz  Descr", " 1      2   16         2  two",
                                                " 2      5   16         1  "}));
  EXPECT_EQ(list(DMR_FULL),
            (std::vector<std::string>{"DMDATA   8192 abcd",
                                      "Record    2  16         8192            2      1      1      1 ",
                                      "  Text: two",
                                      "Record    5  16            0            1      1      1      1 x.bin"}));
  EXPECT_EQ(list(DMR_NUMBERED),
            (std::vector<std::string>{"DMDATA   8192 abcd",
                                      " 1      2  16         8192            2      1      1      1 ",
                                      "              two",
                                      " 2      5  16            0            1      1      1      1 x.bin"}));
}

TEST_F(DmRec, FailedAppendIsTakenBack) {
  std::string f = at("back.dm");
  ASSERT_EQ(add(f, 1, {1, 2, 3}, 0, "kept"), 1);
  const std::string before = slurp(f);
  DmFile dm;
  dm.name = f;
  dm.type = 16;
  dm.nx = 1000;
  ASSERT_EQ(DMREC(2, &dm, DMR_APPEND | DMR_HDRLAST), 1);
  std::vector<int16_t> data(1000, 5);
  dm.dbuf = reinterpret_cast<uint8_t*>(data.data());
  dm.dbsize = 2000;
  ASSERT_EQ(DMRECIO(&dm, 0, DMIO_WRITE), 1000);
  EXPECT_EQ(slurp(f).size(), 8200u + 2000);  // the data, not yet the header
  EXPECT_EQ(dmrback(&dm), 0);
  EXPECT_EQ(slurp(f), before);
  // A file the append made goes again.
  DmFile nw;
  nw.name = at("new.dm");
  nw.type = 8;
  nw.nx = 4;
  ASSERT_EQ(DMREC(1, &nw, DMR_APPEND | DMR_HDRLAST), 1);
  EXPECT_TRUE(std::filesystem::exists(nw.name));
  dmrback(&nw);
  EXPECT_FALSE(std::filesystem::exists(nw.name));
}

}  // namespace
