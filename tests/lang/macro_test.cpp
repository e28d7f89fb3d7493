// Text macros, flow control and the macro library, run through the real
// main loop: lines come from a scripted keyboard, macros from files in a
// scratch folder, and results are read back from variables and registers.
#include "lang/macro.h"

#include "core/args.h"
#include "core/units.h"
#include "core/varbl.h"
#include "graphics/views.h"
#include "lang/fastcmd.h"
#include "lang/maclib.h"
#include "lang/mactext.h"
#include "lang/mainloop.h"
#include "ui/events.h"
#include "ui/platform/clock.h"
#include "mac_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

namespace {

class Mac : public MacRun {
 protected:
  Mac() : MacRun("/tmp/pelix_mac") {}
  // The value of an expression at top level (through register #9).
  float val(const std::string& expr) {
    type("#9 = " + expr + "\n");
    return getres(9);
  }
  bool has(const std::string& s) const { return rows().find(s) != std::string::npos; }
};

TEST_F(Mac, RegistersAndStringArguments) {
  type("declare number r k\n");
  // The callee sees the caller's registers; the caller's come back.
  file("regs.imp", "r = $1\n#3 = 99\nreturn\n");
  type("#3 = 5\nregs #3\n");
  EXPECT_EQ(val("r"), 5.0f);
  EXPECT_EQ(getres(3), 5.0f);
  EXPECT_EQ(getres(0), 0.0f);  // return without a value leaves 0
  // A string argument and a missing one.
  file("strs.imp", "k = nargs\nsv = $1\n");
  type("declare string sv\nstrs 'hello'\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(val("k"), 1.0f);
  {
    uint16_t fl = 0;
    char txt[32] = {0};
    int32_t e = GETSYM("sv", 2, &fl, 1);
    ASSERT_GT(e, 0);
    GETCHV(e, txt, sizeof txt, 1);
    EXPECT_STREQ(txt, "hello");
  }
  EXPECT_EQ(maclev, 0);
  EXPECT_EQ(macmod, 0);
  EXPECT_EQ(curfrm(), nullptr);
  EXPECT_EQ(inunit, 0);
}

TEST_F(Mac, NestedLoopsAndBreak2) {
  type("declare number cnt tot kk\n");
  // Nested loops and break 2.
  file("nest.imp",
       "tot = 0\n"
       "cnt = 0\n"
       "while (cnt < 3) {\n"
       "  cnt = cnt + 1\n"
       "  kk = 0\n"
       "  while (kk < 3) {\n"
       "    kk = kk + 1\n"
       "    tot = tot + 1\n"
       "    if (tot == 7) {\n"
       "      break 2\n"
       "    }\n"
       "  }\n"
       "}\n"
       "tot = tot * 10\n");
  type("nest\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(val("tot"), 70.0f);
  EXPECT_EQ(val("cnt"), 3.0f);
  EXPECT_EQ(lopdep, 0);
  EXPECT_EQ(brclev, 0);
}

TEST_F(Mac, FileEndingInsideABlockEndsTheMacro) {
  type("declare number cnt tot\n");
  // A file that ends inside a skipped block or a loop ends the macro too.
  file("open1.imp", "tot = 3\nif (0) {\ntot = 4\n");
  file("open2.imp", "cnt = 0\nwhile (cnt < 2) {\ncnt = cnt + 1\n");
  type("open1\nopen2\n");
  EXPECT_EQ(val("tot"), 3.0f);
  EXPECT_EQ(val("cnt"), 1.0f);
  EXPECT_EQ(curfrm(), nullptr);
  EXPECT_EQ(lopdep, 0);
}

TEST_F(Mac, LocalsGoGlobalsStay) {
  file("mkvars.imp",
       "declare number loc\n"
       "declare global number gv\n"
       "loc = 3\n"
       "gv = $1\n");
  type("mkvars 42\n");
  EXPECT_EQ(rows(), "");
  uint16_t fl = 0;
  EXPECT_LT(GETSYM("loc", 3, &fl, 1), 0);
  int32_t g = GETSYM("gv", 2, &fl, 1);
  ASSERT_GT(g, 0);
  EXPECT_TRUE(fl & SY_GLOBAL);
  EXPECT_EQ(val("gv"), 42.0f);
  // The global entry moved into the caller's table, which owns its data.
  const SymEnt* e = symptr(g);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(blkown(e->data), g + 1);
  // A view record that showed the global follows it.
  nviews = 1;
  vwtab[0] = ViewRec{};
  vwtab[0].flags = VW_VAR;
  std::memcpy(vwtab[0].name, "gv", 2);
  file("mkvar2.imp", "declare global number gv2\nglo2 = 8\n");
  type("mkvar2\n");
  vwtab[0].entry = lstk.bot + 100;  // pretend it pointed into freed space
  EXPECT_EQ(vwrenm(lstk.bot), 1);
  EXPECT_EQ(vwtab[0].entry, g);
  nviews = 0;
}

TEST_F(Mac, LoopTypedAtThePrompt) {
  type("declare number cnt tot\ncnt = 0\nwhile (cnt < 4) {\ncnt = cnt + 1\ntot = tot + cnt\n}\n");
  // The loop's lines are echoed as they are typed after the notice.
  EXPECT_EQ(rows(), "Loop execution begins after '}'\ncnt = cnt + 1\ntot = tot + cnt\n}\n");
  EXPECT_EQ(val("cnt"), 4.0f);
  EXPECT_EQ(val("tot"), 10.0f);
  EXPECT_EQ(lopdep, 0);
  EXPECT_EQ(brclev, 0);
  // repeat with a nested if and break.
  type("tot = 0\nrepeat (10) {\ntot = tot + 1\nif (tot == 6) {\nbreak\n}\n}\n");
  EXPECT_EQ(val("tot"), 6.0f);
  EXPECT_EQ(lopdep, 0);
  EXPECT_EQ(brclev, 0);
  // A typed loop that calls a macro each pass.
  file("bump.imp", "tot = tot + $1\n");
  type("tot = 0\nrepeat (3) {\nbump 2\n}\n");
  EXPECT_EQ(val("tot"), 6.0f);
  EXPECT_FALSE(qpend(&dfltq));
}

TEST_F(Mac, BrokenFrameIsReported) {
  file("brk.imp", "r = 1\nr = 2\n");
  type("declare number r\n");
  kb.pending.clear();
  Term::keys(kb.pending, "brk\n");
  mainturn();  // the call
  ASSERT_NE(curfrm(), nullptr);
  curfrm()->magic = 1;
  MRETRN(-1);
  EXPECT_EQ(rows(), "ERROR  62: Broken macro frame\n   on line     0 of " + dir + "brk.imp\n");
  EXPECT_EQ(curfrm(), nullptr);
  EXPECT_EQ(macmod, 0);
  EXPECT_EQ(cursym, syssym);
}


uint16_t le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}
uint32_t le32(const std::string& b, size_t at) {
  return le16(b, at) | (static_cast<uint32_t>(le16(b, at + 2)) << 16);
}

TEST_F(Mac, LibraryStoresListsAndRunsMacros) {
  file("twice.imp", "r = $1 * 2\n\n   k = 3\n  k = k + 1\n");
  type("declare number r k\nmacro 'twice'\n");
  EXPECT_EQ(rows(), "");
  std::string lib = slurp(dir + "MACLIB");
  ASSERT_GE(lib.size(), 6u * 1024 + 40);
  EXPECT_EQ(le16(lib, 0), 13579);
  EXPECT_EQ(le16(lib, 2), 191);      // 6 directory blocks x 32 - 1
  EXPECT_EQ(le16(lib, 8), 1);        // entries
  for (int i = 10; i < 32; i++) EXPECT_EQ(lib[i], 0) << i;
  // Entry 1: kind, size, offset, name.
  EXPECT_EQ(le16(lib, 32), 2);
  EXPECT_EQ(le32(lib, 36), 6144u);
  EXPECT_EQ(lib.substr(48, 6), std::string("twice\0", 6));
  // Records: "r = $1 * 2" as is; the empty line is not stored; 3 blanks
  // become 1, 3; 2 blanks stay.
  std::string want = std::string("\x0b") + "r = $1 * 2" + std::string("\x08\x01\x03", 3) + "k = 3" +
                     std::string("\x0c") + "  k = k + 1" + std::string(1, '\0');
  EXPECT_EQ(lib.substr(6144, want.size()), want);
  EXPECT_EQ(le16(lib, 34), want.size() - 1);  // the end byte is not counted
  EXPECT_EQ(le32(lib, 4), 6144u + want.size() - 1);
  // The file goes; the library still runs the macro.
  ASSERT_EQ(std::remove((dir + "twice.imp").c_str()), 0);
  type("twice 21\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(val("r"), 42.0f);
  EXPECT_EQ(val("k"), 4.0f);
  // The listing.
  kb.rows.clear();
  EXPECT_EQ(fndmac(nullptr, 1), 0);
  EXPECT_EQ(rows(), "  1:     twice     2        6144     31\n");
  // A second store of the same name, answered yes: the new text goes in
  // the same entry.
  file("twice.imp", "r = $1 * 3\n");
  type("macro 'twice'\ny");
  lib = slurp(dir + "MACLIB");
  EXPECT_EQ(le16(lib, 8), 1);
  EXPECT_EQ(le32(lib, 36), 6144u + 31);  // after the old data
  std::remove((dir + "twice.imp").c_str());
  type("twice 5\n");
  EXPECT_EQ(val("r"), 15.0f);
}

TEST_F(Mac, LibraryPackingAndLookups) {
  // Lines of 240 characters: four fill 964 bytes of the first block, the
  // fifth does not fit its rest and starts the next block after a 255.
  std::string text;
  for (int i = 0; i < 5; i++) text += "k=k+1" + std::string(235, ' ') + "\n";
  file("lng5.imp", "k = 0\n" + text);
  type("declare number k r\nmacro 'lng5.imp' 1\n");  // capacity 1 directory block
  EXPECT_EQ(rows(), "");
  std::string lib = slurp(dir + "MACLIB");
  EXPECT_EQ(le16(lib, 2), 31);
  const size_t d = 1024;
  EXPECT_EQ(le32(lib, 36), d);
  // "k = 0" (6 bytes) and four 241-byte records: 970 bytes; the fifth
  // starts block 2.
  EXPECT_EQ(static_cast<uint8_t>(lib[d + 6 + 4 * 241]), 255);
  EXPECT_EQ(static_cast<uint8_t>(lib[2 * d]), 241);
  EXPECT_EQ(le16(lib, 34), 1024 + 241);
  std::remove((dir + "lng5.imp").c_str());
  type("lng5\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(val("k"), 5.0f);
  // Names match over 8 characters: a longer name never does.
  file("abcdefghij.imp", "r = 8\n");
  type("macro 'abcdefghij'\n");
  EXPECT_GT(fndmac("abcdefgh", 0), 0);
  EXPECT_STREQ(libent.name, "abcdefghij");
  EXPECT_EQ(fndmac("abcdefghij", 0), 0);
  EXPECT_EQ(fndmac("abcdefg", 0), 0);
  EXPECT_EQ(fndmac("LNG5", 0), 1);
  // A name with a '.' is never looked up in the library.
  char path[300];
  int u = -1;
  EXPECT_EQ(opnmac("lng5.imp", &u, 2, path, ".imp"), -1);
  EXPECT_EQ(opnmac("lng5", &u, 2, path, ".imp"), 0);
  EXPECT_EQ(u, libunit);
  // A full directory: capacity 1 holds 31 entries.
  for (int i = 2; i < 31; i++) {
    char nm[16];
    std::snprintf(nm, sizeof nm, "m%02d", i);
    file(std::string(nm) + ".imp", "r = 1\n");
    type("macro '" + std::string(nm) + "'\n");
  }
  EXPECT_EQ(le16(slurp(dir + "MACLIB"), 8), 31);
  file("one.imp", "r = 1\n");
  type("macro 'one'\n");
  EXPECT_EQ(rows(), "ERROR 143: Macro library directory full\n");
}

TEST_F(Mac, LibraryHeaderIsChecked) {
  // A file that is no library is refused once; the folders still serve.
  file("MACLIB", std::string(64, 'z'));
  file("plain2.imp", "r = 2\n");
  type("declare number r\nplain2\n");
  EXPECT_EQ(rows(), "ERROR 142: Bad macro library\n");
  EXPECT_LT(libunit, 0);
  EXPECT_EQ(val("r"), 2.0f);
  type("plain2\n");
  EXPECT_EQ(rows(), "");
  // A library whose entry claims data past the file's end reads no further.
  libcls();
  std::string lib(2048, '\0');
  lib[0] = char(13579 & 0xFF);
  lib[1] = char(13579 >> 8);
  lib[2] = 31;        // one directory block
  lib[4] = 0;
  lib[5] = 4;         // next free 1024
  lib[8] = 1;         // one entry
  lib[32] = 2;        // text
  lib[34] = char(0xFF);
  lib[35] = char(0xFF);  // 65535 bytes claimed
  lib[37] = 4;        // offset 1024
  std::memcpy(&lib[48], "ghost", 5);
  lib[1024] = 6;
  std::memcpy(&lib[1025], "r = 7", 5);
  file("MACLIB", lib);
  type("ghost\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(val("r"), 7.0f);
  EXPECT_EQ(curfrm(), nullptr);
}

TEST_F(Mac, PathsAndFileNames) {
  char out[300];
  EXPECT_EQ(mkfnam("abc", ".imp", "/x/y/", out), 5);
  EXPECT_STREQ(out, "/x/y/abc.imp");
  EXPECT_EQ(mkfnam("abc.txt", ".imp", "/x/", out), 3);
  EXPECT_STREQ(out, "/x/abc.txt");
  EXPECT_EQ(mkfnam("sub/abc", ".imp", "/x/", out), 0);  // a name with a folder keeps it
  EXPECT_STREQ(out, "sub/abc.imp");
  EXPECT_EQ(mkfnam("a.b/c", ".imp", "", out), 0);  // only the last part counts
  EXPECT_STREQ(out, "a.b/c.imp");
  // Folders are tried in order; the first that holds the file wins.
  std::string two = dir + "two/";
  ASSERT_EQ(mkdir(two.c_str(), 0755), 0);
  {
    std::ofstream f(two + "deep.imp");
    f << "r = 9\n";
  }
  char path[300];
  int u = -1;
  std::string list = dir + "|" + two;
  ASSERT_EQ(fserch("deep", ".imp", list.c_str(), path, &u, 33), 0);
  EXPECT_EQ(std::string(path), two + "deep.imp");
  closef(u, 0);
  // A folder written without its separator still works.
  setstrv("path", (dir + "two").c_str());
  type("declare number r\ndeep\n");
  EXPECT_EQ(val("r"), 9.0f);
  // With an empty path only the current folder is searched.
  setstrv("path", "");
  EXPECT_EQ(opnmac("deep", &u, -2, path, ".imp"), -1);
}

TEST_F(Mac, StartUpMacros) {
  // sysstart from the system folder, then start from the current folder.
  std::string old = strvar("sysdir");
  setstrv("sysdir", dir.c_str());
  file("sysstart.imp", "r = 1\n");
  file("start.txt", "r = r + 10\n");
  std::string oldcd = strvar("curdir");
  setstrv("curdir", dir.c_str());
  type("declare number r\n");
  ASSERT_EQ(Runmac(128), 0);
  macmod |= MM_SYSSTART;
  state = ST_STARTUP;
  type("");
  EXPECT_EQ(val("r"), 11.0f);
  EXPECT_EQ(macmod, 0);
  EXPECT_EQ(state & ST_STARTUP, 0);
  setstrv("curdir", oldcd.c_str());
  setstrv("sysdir", old.c_str());
}


TEST_F(Mac, LibraryLimitsAndLoops) {
  // A capacity of 0 still makes a valid library of one directory block.
  file("lp.imp",
       "k = 0\n"
       "r = 0\n"
       "while (k < 5) {\n"
       "   k = k + 1\n"
       "   if (k == 2) {\n"
       "      next\n"
       "   }\n"
       "   r = r + k\n"
       "}\n"
       "repeat (2) {\n"
       "   r = r * 10\n"
       "}\n");
  type("declare number k r\nmacro 'lp' 0\n");
  EXPECT_EQ(rows(), "");
  std::string lib = slurp(dir + "MACLIB");
  EXPECT_EQ(le16(lib, 2), 31);
  EXPECT_EQ(le32(lib, 36), 1024u);
  // Its loops run from the library: "}" and next go back by position.
  std::remove((dir + "lp.imp").c_str());
  type("lp\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(val("r"), 1300.0f);  // (1 + 3 + 4 + 5) x 100
  // A macro too large for the entry's 16-bit size is refused and nothing
  // is recorded.
  std::string big;
  for (int i = 0; i < 400; i++) big += "k = k + 1" + std::string(200, ' ') + "+ 0\n";
  file("big.imp", big);
  type("macro 'big'\n");
  EXPECT_EQ(rows(), "ERROR 142 (arg 2): Bad macro library\n");
  lib = slurp(dir + "MACLIB");
  EXPECT_EQ(le16(lib, 8), 1);
  EXPECT_EQ(le32(lib, 4), 1024u + le16(lib, 34));
  EXPECT_EQ(fndmac("big", 0), 0);
  // Deleting frees the slot, which the next macro takes.
  EXPECT_EQ(libdel("lp"), 1);
  EXPECT_EQ(libdel("lp"), 0);
  EXPECT_EQ(le16(slurp(dir + "MACLIB"), 32), 0);
  file("again.imp", "r = 5\n");
  type("macro 'again'\nagain\n");
  EXPECT_EQ(val("r"), 5.0f);
  lib = slurp(dir + "MACLIB");
  EXPECT_EQ(lib.substr(48, 6), std::string("again\0", 6));
  EXPECT_EQ(le16(lib, 8), 1);
}

TEST_F(Mac, NestedTypedLoops) {
  type("declare number k r\nk = 0\nr = 0\n"
       "while (k < 3) {\n"
       "k = k + 1\n"
       "repeat (k) {\n"
       "r = r + 1\n"
       "}\n"
       "}\n");
  EXPECT_EQ(val("r"), 6.0f);  // 1 + 2 + 3
  EXPECT_EQ(lopdep, 0);
  EXPECT_EQ(brclev, 0);
  // A false typed loop skips its lines as they are typed.
  type("while (0) {\nr = 100\n}\n");
  EXPECT_EQ(val("r"), 6.0f);
  // if/else typed at the prompt.
  type("if (r == 6) {\nr = 7\n} else {\nr = 8\n}\n");
  EXPECT_EQ(val("r"), 7.0f);
  EXPECT_EQ(brclev, 0);
}

// A typed loop is replayed whole, up to 32767 bytes with its final NUL;
// one byte more is error 136, and none of its lines runs.
TEST_F(Mac, TypedLoopUpTo32767Bytes) {
  // The text kept: the head (15 bytes), then a newline before each of the
  // 143 body lines (228 bytes, the last one 230 + extra) and before "}":
  // 32766 bytes and the NUL.
  auto loop = [](size_t extra) {
    std::string t = "while (k < 1) {\n";
    for (int i = 0; i < 143; i++) {
      std::string l = i == 0 ? "k = k + 1 ;" : "r = r + 1 ;";
      l.resize(i == 142 ? 230 + extra : 228, 'x');
      t += l + "\n";
    }
    return t + "}\n";
  };
  type("declare number k r\nk = 0\nr = 0\n" + loop(0));
  EXPECT_FALSE(has("ERROR"));
  EXPECT_EQ(val("k"), 1.0f);
  EXPECT_EQ(val("r"), 142.0f);
  EXPECT_EQ(lopdep, 0);
  type("k = 0\nr = 0\n" + loop(1));
  EXPECT_TRUE(has("ERROR 136: Typed loop too long\n"));
  EXPECT_EQ(val("k"), 0.0f);
  EXPECT_EQ(val("r"), 0.0f);
  EXPECT_EQ(lopdep, 0);
}

}  // namespace

// The held text of a macro file is checked against the file when a loop
// closes: at once after a command carried out the general way, otherwise
// once the clock has moved on.
TEST(MacText, ChangesSeenAfterACommandOrATick) {
  clock_set_virtual(true);
  const std::string path = "/tmp/pelix_mactext.imp";
  auto put = [&](const char* text) { std::ofstream(path, std::ios::binary) << text; };
  put("one\ntwo\n");
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char buf[64];
  ASSERT_EQ(mtline(f, buf, 63), 3);
  fcslow++;
  mtcheck(f);  // the file as it was read: kept
  put("ONE\nTWO!\n");
  mtcheck(f);  // nothing ran and no time passed: not looked at
  ASSERT_EQ(mtline(f, buf, 63), 3);
  EXPECT_STREQ(buf, "two");
  mtseek(f, 0);
  fcslow++;
  mtcheck(f);
  ASSERT_EQ(mtline(f, buf, 63), 3);
  EXPECT_STREQ(buf, "ONE");
  put("1\n2\n3\n");
  mtseek(f, 0);
  clock_sleep_ns(20'000'000);
  mtcheck(f);
  ASSERT_EQ(mtline(f, buf, 63), 1);
  EXPECT_STREQ(buf, "1");
  put("");  // the image goes before its stream (a closed unit drops it too)
  fcslow++;
  mtcheck(f);
  std::fclose(f);
  std::remove(path.c_str());
  clock_set_virtual(false);
}
