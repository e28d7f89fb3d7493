// Names and system variables: the system table, name lookup, and every
// system variable's default, range and cell.
#include "lang/names.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/args.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "realtime/devices/comport.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/hwvars.h"
#include "realtime/devices/pport.h"
#include "realtime/rtsched.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/platform/entry.h"
#include "ui/screen.h"
#include "tests/support/interp.h"

namespace {

const char CMDLINE[] = "/opt/lab/pelix screen=2 -q";

// Every cell the system variables reach, back to its start-up value.
void resetcells() {
  if (hstk.end > HIMEM_BASE) highmem(0);
  trpstk(0);
  nameini();
  drwini();
  scrini();
  hwini();
  comend();
  priority = 0;
  state = 0;
  pflags = 0;
  aflags = 0;
  trcmsk = 0;
  himemflag = 0;
  tabs = 8;
  rdonly = 0;
}

// The keyboard of these tests: the key 'k' is always typed, so that chkkey
// and keyrd find one instead of the end of input.
struct KeyK : Backend {
  int keyin(int how) override { return how == KEY_PEEK ? 0 : 'k'; }
  void rowout(int, const char*, int) override {}
  void beep() override {}
  bool paging() override { return false; }
};

class Names : public ::testing::Test {
 protected:
  KeyK keys;
  Backend* oldbe = nullptr;
  // The vector lists' files go here (tmpdir is left as TEMP gives it).
  ScratchDir tmp{"/tmp/names"};
  std::string oldtmp;
  bool hadtmp = false;
  void SetUp() override {
    if (const char* t = std::getenv("TMPDIR")) oldtmp = t, hadtmp = true;
    setenv("TMPDIR", tmp.path.c_str(), 1);
    // Serial ports on loopback peers: a test never opens a real port.
    for (int n = 1; n <= NCOMSLOT; n++) ::setenv(("PELIX_COM" + std::to_string(n)).c_str(), "exec:cat", 1);
    oldbe = setbackend(&keys);
    clrpeek();
    MakStk();
    rststk();
    clrparse();  // nargs reads the word count of the command line
    resetcells();
    bottom.keep();
    ASSERT_EQ(mksyms(CMDLINE, static_cast<int>(sizeof CMDLINE - 1)), 0);
    ASSERT_GT(syssym, 0);
  }
  void TearDown() override {
    resetcells();
    bottom.back();
    state = 0;
    clrpeek();
    setbackend(oldbe);
    if (hadtmp)
      setenv("TMPDIR", oldtmp.c_str(), 1);
    else
      unsetenv("TMPDIR");
    for (int n = 1; n <= NCOMSLOT; n++) ::unsetenv(("PELIX_COM" + std::to_string(n)).c_str());
  }
  static int code(const char* name) {
    uint16_t k = 0;
    return namvar(name, static_cast<int>(std::strlen(name)), &k);
  }
  static double get(const char* name) { return getprm(code(name)); }
  static void put(const char* name, double v) { putprm(v, code(name)); }

  Bottom bottom;
};

// ---------------------------------------------------------------------------

TEST_F(Names, SystemTableHoldsTheStringVariables) {
  // Names are unique across system variables and predefined names (the
  // per-variable table below pins each name at its code).
  std::set<std::string> seen(std::begin(sysnam), std::end(sysnam));
  for (const PreDef& p : prdnam) EXPECT_TRUE(seen.insert(p.name).second) << p.name;
  EXPECT_EQ(seen.size(), 180u);
  // The system table: 24 string variables, the list, the tables, the
  // placeholders, stack and hstack.
  const SymTab* h = tabptr(syssym);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->count, 38u);
  EXPECT_EQ(h->link, 0);
  EXPECT_EQ(h->marker, SYMMARK);
  int strings = 0;
  for (uint32_t i = 0; i < h->count; i++) {
    const SymEnt* e = symptr(symadr(syssym, static_cast<int>(i)));
    if ((e->flags & SY_STRING) && !(e->flags & SY_LIST)) {
      EXPECT_EQ(std::string(e->name, e->nlen & 15), strnam[strings]);
      strings++;
    }
  }
  EXPECT_EQ(strings, NSTRVAR);
  EXPECT_EQ(cursym, syssym);
  EXPECT_EQ(glbsym, syssym);
  EXPECT_EQ(defsym, syssym);
}

TEST_F(Names, SystemTableEntriesHaveTheirFlagsAndStorage) {
  struct Want {
    const char* name;
    uint16_t flags;
    uint8_t type;
  };
  const Want want[] = {
      {"sysdir", 0x1021, 8}, {"maincmd", 0x1021, 8}, {"prompt", 0x1023, 8},  {"prcodes", 0x1823, 8},
      {"prlut", 0x1041, 8},  {"prdots", 0x1081, 8},  {"imglut", 0x1043, 8},  {"vecs", 0x1001, 1},
      {"wdevice", 0x1001, 1}, {"stack", 0x1043, 32}, {"hstack", 0x1043, 32},
  };
  for (const Want& w : want) {
    int32_t a = sysent(w.name);
    ASSERT_GT(a, 0) << w.name;
    const SymEnt* e = symptr(a);
    EXPECT_EQ(e->flags, w.flags) << w.name;
    EXPECT_EQ(e->type, w.type) << w.name;
  }
  const SymEnt* p = symptr(sysent("prompt"));
  EXPECT_EQ(p->value, 64u);
  ASSERT_GT(p->data, 0);
  EXPECT_EQ(std::string(static_cast<const char*>(stkptr(p->data))), "PELIX> ");
  EXPECT_STREQ(strvar("prompt"), "PELIX> ");

  const SymEnt* pc = symptr(sysent("prcodes"));
  EXPECT_EQ(pc->value, 27u);
  ASSERT_GT(pc->data, 0);
  for (int i = 0; i < 27; i++) EXPECT_EQ(wordp(pc->data)[i], 0u);
  const SymEnt* lut = symptr(sysent("imglut"));
  EXPECT_EQ(lut->value, 768u);
  ASSERT_GT(lut->data, 0);
  // The blocks belong to their entries' data words.
  EXPECT_EQ(fndstk(lut->data) + 2, lut->data);
  EXPECT_EQ(static_cast<int32_t>(wordp(lut->data - 1)[0] & 0x3FFFFFF), sysent("imglut") + 1);

  const SymEnt* st = symptr(sysent("stack"));
  EXPECT_EQ(st->data, 0);
  EXPECT_EQ(st->value, static_cast<uint32_t>(lstk.end));
  const SymEnt* hs = symptr(sysent("hstack"));
  EXPECT_EQ(hs->data, HIMEM_BASE);
  EXPECT_EQ(hs->value, 0u);
  for (const char* n : {"prlut", "vecs", "vdata", "zdevice"}) {
    EXPECT_EQ(symptr(sysent(n))->data, 0) << n;
    EXPECT_EQ(symptr(sysent(n))->value, 0u) << n;
  }
  // The image names hold empty pointer records that an assignment points at
  // an image.
  for (const char* n : {"vimage", "zimage", "yzimage", "simage"}) {
    const PtrRec* r = ptrrec(symptr(sysent(n))->data);
    ASSERT_NE(r, nullptr) << n;
    EXPECT_EQ(r->Flg, 0) << n;
    EXPECT_EQ(symptr(sysent(n))->value, 0u) << n;
  }
  // The ten number registers come first and are cleared.
  EXPECT_GE(regadr, 0);
  EXPECT_LT(regadr, syssym);
  for (int i = 0; i < 10; i++) EXPECT_EQ(wordp(regadr)[i], 0u);
}

TEST_F(Names, StringVariablesStartWithTheirDefaults) {
  const char* pelix = std::getenv("PELIX");
  if (pelix && *pelix) {
    std::string want = pelix;
    if (want.back() != '/') want += '/';
    EXPECT_EQ(std::string(strvar("sysdir")), want);
  }
  EXPECT_EQ(std::string(strvar("cmdprog")), "/opt/lab/pelix");
  EXPECT_EQ(std::string(strvar("cmdlin")), "screen=2 -q");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(strvar("curdir")), std::string(cwd) + "/");
  const char* t = std::getenv("TEMP");
  if (!t) t = std::getenv("TMP");
  EXPECT_EQ(std::string(strvar("tmpdir")), t ? t : "");
  EXPECT_EQ(std::string(strvar("opsys")), osname());
  EXPECT_EQ(std::string(strvar("opsys")).rfind("Linux_", 0), 0u);
  EXPECT_STRNE(strvar("cvsversion"), "");
  for (const char* n : {"path", "helpfile", "ctrap", "quitstr", "fontname", "datadir", "vecfil", "vdatfil",
                        "rdhdr", "wrthdr", "editor", "macrofile", "menufile", "drawkeys", "filtyp", "maincmd"})
    EXPECT_STREQ(strvar(n), "") << n;

  // Set and read back; the prompt keeps its block while the text fits.
  EXPECT_EQ(setstrv("maincmd", "show time;"), 0);
  EXPECT_STREQ(strvar("maincmd"), "show time;");
  EXPECT_EQ(setstrv("maincmd", "x"), 0);
  EXPECT_STREQ(strvar("maincmd"), "x");
  int32_t pb = symptr(sysent("prompt"))->data;
  EXPECT_EQ(setstrv("prompt", "LAB> "), 0);
  EXPECT_STREQ(strvar("prompt"), "LAB> ");
  EXPECT_EQ(symptr(sysent("prompt"))->data, pb);
  EXPECT_EQ(setstrv("nosuch", "x"), -1);
  EXPECT_EQ(setstrv("prcodes", "x"), -1);
  EXPECT_STREQ(strvar("nosuch"), "");
}

TEST(NamesPaths, SystemFolderAndCommandLine) {
  EXPECT_EQ(sysfold("/opt/lab/system", nullptr), "/opt/lab/system/");
  EXPECT_EQ(sysfold("/opt/lab/system/", nullptr), "/opt/lab/system/");
  EXPECT_EQ(sysfold("  \"/my lab/sys\" ", nullptr), "/my lab/sys/");
  EXPECT_EQ(sysfold("C:\\PELIX", nullptr), "C:/PELIX/");
  // Without PELIX: the program folder's "system" when it exists, else the
  // current folder.
  char tmpl[] = "/tmp/pelixnamesXXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string base = tmpl;
  EXPECT_EQ(sysfold(nullptr, base.c_str()), curfold());
  EXPECT_EQ(sysfold("", base.c_str()), curfold());
  ASSERT_EQ(mkdir((base + "/system").c_str(), 0700), 0);
  EXPECT_EQ(sysfold(nullptr, base.c_str()), base + "/system/");
  EXPECT_EQ(sysfold(nullptr, (base + "/").c_str()), base + "/system/");
  rmdir((base + "/system").c_str());
  rmdir(base.c_str());
  EXPECT_EQ(curfold().back(), '/');

  std::string prog, rest;
  splitcmd("pelix a b", 9, &prog, &rest);
  EXPECT_EQ(prog, "pelix");
  EXPECT_EQ(rest, "a b");
  splitcmd("pelix", 5, &prog, &rest);
  EXPECT_EQ(prog, "pelix");
  EXPECT_EQ(rest, "");
  splitcmd("pelix ", 6, &prog, &rest);
  EXPECT_EQ(rest, "");
  splitcmd("\"/my lab/pelix\" -x", 18, &prog, &rest);
  EXPECT_EQ(prog, "/my lab/pelix");
  EXPECT_EQ(rest, "-x");
  splitcmd("'p'q r", 6, &prog, &rest);
  EXPECT_EQ(prog, "p");
  EXPECT_EQ(rest, "r");
  splitcmd("\"open", 5, &prog, &rest);
  EXPECT_EQ(prog, "\"open");
  splitcmd("a\tb", 3, &prog, &rest);
  EXPECT_EQ(prog, "a");
  EXPECT_EQ(rest, "b");
  splitcmd("", 0, &prog, &rest);
  EXPECT_EQ(prog, "");
}

TEST_F(Names, NamvarResolvesSystemVariablesPredefinedNamesAndSymbols) {
  uint16_t k = 0;
  for (int i = 0; i < NSYSVAR; i++) {
    k = 0;
    EXPECT_EQ(namvar(sysnam[i], static_cast<int>(std::strlen(sysnam[i])), &k), 101 + i) << sysnam[i];
    EXPECT_EQ(k, 20);
  }
  for (const PreDef& p : prdnam) {
    k = 0;
    EXPECT_EQ(namvar(p.name, static_cast<int>(std::strlen(p.name)), &k), p.index) << p.name;
    EXPECT_EQ(k, p.kind) << p.name;
  }
  EXPECT_EQ(namvar("r7", 2, &k), 7);
  EXPECT_EQ(k, 16);
  EXPECT_EQ(namvar("textwin", 7, &k), 11);
  EXPECT_EQ(k, 128);
  EXPECT_EQ(namvar("videolut", 8, &k), 100);
  EXPECT_EQ(namvar("screen2", 7, &k), 2);
  EXPECT_EQ(k, 512);
  // Predefined names compare over the run of name characters.
  EXPECT_EQ(namvar("r3(2)", 5, &k), 3);
  EXPECT_EQ(k, 16);
  EXPECT_EQ(namvar("redlut[", 7, &k), 20);
  // System variables match exactly: no abbreviation, case matters.
  EXPECT_LT(namvar("stat", 4, &k), 0);
  EXPECT_LT(namvar("State", 5, &k), 0);
  EXPECT_LT(namvar("r10", 3, &k), 0);
  EXPECT_LT(namvar("r0.5", 4, &k), 0);
  EXPECT_EQ(namvar("statex", 5, &k), 101);  // only the given length counts
  // Symbols: the entry, flags masked with 0x1FF6.
  k = 0;
  int32_t e = namvar("sysdir", 6, &k);
  EXPECT_EQ(e, sysent("sysdir"));
  EXPECT_EQ(k, 0x1020);
  EXPECT_EQ(namvar("prompt", 6, &k), sysent("prompt"));
  EXPECT_EQ(k, 0x1022);
  EXPECT_EQ(namvar("nosuchname", 10, &k), -1);
  EXPECT_EQ(namvar("averyveryverylongname", 21, &k), -1);
  EXPECT_EQ(namvar("", 0, &k), -1);
}

TEST_F(Names, NamvarWhileCompilingCopiesOuterSymbols) {
  // A macro-level table above the system table, as the compiler sees it.
  int32_t t = maktab(syssym);
  ASSERT_GT(t, 0);
  // Room cleared behind the header, into which the table grows in place.
  int32_t room = 0;
  ASSERT_GT(getstk(&room, 12, 4, 0, 0), 0);
  std::memset(stkptr(room), 0, 48);
  cursym = defsym = t;
  int32_t outer = sysent("maincmd");
  state = ST_COMPILE;
  uint16_t k = 0;
  int32_t c = namvar("maincmd", 7, &k);
  ASSERT_GT(c, 0);
  EXPECT_NE(c, outer);
  EXPECT_EQ(tabptr(t)->count, 1u);
  EXPECT_EQ(c, symadr(t, 0));
  const SymEnt* e = symptr(c);
  EXPECT_EQ(e->data, -outer);
  EXPECT_EQ(e->flags, 0x1020);
  EXPECT_EQ(k, 0x1020);
  // The copy is found from then on; no second copy is made.
  EXPECT_EQ(namvar("maincmd", 7, &k), c);
  EXPECT_EQ(tabptr(t)->count, 1u);
  // Without compiling, the outer entry itself is returned.
  state = 0;
  cursym = defsym = syssym;
  EXPECT_EQ(namvar("maincmd", 7, &k), outer);
}

// ---------------------------------------------------------------------------
// Every system variable: its default, a value in range, a value out of it.

constexpr double ANY = 1e300;    // default not fixed (clock, memory, time)
constexpr double KEEP = -1e300;  // the variable keeps the value it had
constexpr double NONE = 2e300;   // no value to try

struct Case {
  const char* name;
  double def;   // value at start-up
  double in;    // a value in range ...
  double inr;   // ... and what reads back
  double out;   // a value out of range ...
  double outr;  // ... and what reads back
};

const Case cases[] = {
    {"state", 0, 2, 2, 2.5, KEEP},
    {"debug", 0, 64, 64, -40000, -32767},
    {"unit", 2, 0x22, 0x22, 40000, 32767},
    {"outlun", 1, 5, KEEP, NONE, 0},
    {"version", PELIX_VERSION, 3, KEEP, NONE, 0},
    {"nargs", 0, 3, KEEP, NONE, 0},
    {"freestack", ANY, 3, KEEP, NONE, 0},
    {"pflags", 0, 0x10, 0x10, 0.5, KEEP},
    {"iplane", 0, 5, 5, -40000, -32767},
    {"vplane", 0, 6, 6, 40000, 32767},
    {"gplane", 0, 7, 7, 1e9, 32767},
    {"chkkey", 'k', 65, KEEP, NONE, 0},
    {"cursor", 0x8023, 2, 0x8002, 2.5, KEEP},  // the cursor-on bit is kept
    {"nvecs", 0, 1000, 1000, -1, KEEP},
    {"obase", 10, 16, 16, 37, KEEP},
    {"cpuspeed", 0, 1.5, 1.5, NONE, 0},
    {"camera", 0, 2, 2, 7, 3},
    {"cgain", 0, 200, 200, 300, 255},
    {"coffset", 0, 17, 17, -4, 0},
    {"lpat", 0, 100000, 100000, 3e9, 2147400000},
    {"lwidth", 1, 3, 3, 40000, 32767},
    {"lcolor", 0, 0xFFFFFF, 0xFFFFFF, -3e9, -2147400000},
    {"penwidth", 1, 2, 2, 40000, 32767},
    {"bitmask", 0, 0xFF, 0xFF, 40000, 32767},
    {"hour", ANY, 3, KEEP, NONE, 0},
    {"day", ANY, 3, KEEP, NONE, 0},
    {"secs", ANY, 3, KEEP, NONE, 0},
    {"hplane", 0, 200, 200, 300, 44},
    {"getx", 0, 3, KEEP, NONE, 0},
    {"gety", 0, 3, KEEP, NONE, 0},
    {"keyrd", 'k', 3, KEEP, NONE, 0},
    {"ibase", 10, 2, 2, 1, KEEP},
    {"gflags", 0, 0x80, 0x80, 40000, 32767},
    {"iflags", 0, 9, 9, 40000, 32767},
    {"aflags", 0, 4, 4, 40000, 32767},
    {"himemsize", 0, 64, 64, -5, KEEP},
    {"himembase", -1, 3, KEEP, NONE, 0},
    {"himemflag", 0, 2, 2, 3, 1},
    {"lastvec", 0, 100000, 100000, 3e9, 2147400000},
    {"sflags", 0, 3, 3, 40000, 32767},
    {"maxmem", ANY, 3, KEEP, NONE, 0},
    {"calbar", 0, 2.5, 2.5, NONE, 0},
    {"tablet", 0, 0x84, 0x84, 40000, 32767},
    {"cursx", 0, 3, KEEP, NONE, 0},
    {"cursy", 0, 3, KEEP, NONE, 0},
    {"zvalue", 0, -7, -7, 40000, 32767},
    {"prpage", 0, 60, 60, 70000, 4464},
    {"nvdata", 0, 12, 12, -3, KEEP},
    {"com1", 0, 0x1234, 0x1234, -5, 0},
    {"com2", 0, 9600, 9600, 0, 0},
    {"com3", 0, 1, 1, -1, 0},
    {"com4", 0, 2, 2, -100, 0},
    {"com5", 0, 3, 3, 0, 0},
    {"com6", 0, 4, 4, 0, 0},
    {"com7", 0, 5, 5, 0, 0},
    {"com8", 0, 6, 6, -1, 0},
    {"alevel", 0, 2, 2, 40000, 32767},
    {"wflags", 0, 16, 16, 40000, 32767},
    {"disklo", 0, 67, 67, 40000, 32767},
    {"diskhi", 0, 70, 70, 40000, 32767},
    {"dflags", 0, 0x200, 0x200, 40000, 32767},
    {"zoff", 0, 10, 10, 40000, 32767},
    {"zfact", 0, 2, 2, 40000, 32767},
    {"menuflag", 0, 0x0400, 0x0400, 0x0405, 0x0400},
    {"prflags", 0, 12, 12, 40000, 32767},
    {"tabs", 8, 4, 4, 260, 4},
    {"vanish", 0, 500, 500, 40000, 32767},
    {"prwide", 80, 132, 132, 40000, 32767},
    {"aspect", 0, 0.75, 0.75, NONE, 0},
    {"motor1", 0, 100, 100, 300, KEEP},
    {"motor2", 0, -128, -128, 1, KEEP},
    {"sw1", 0, 1, 1, 5, 1},
    {"sw2", 0, 1, 1, 0, 0},
    {"sw3", 0, 1, 1, -2, 1},
    {"adc0", 0, 3, KEEP, NONE, 0},
    {"adc1", 0, 3, KEEP, NONE, 0},
    {"adc2", 0, 3, KEEP, NONE, 0},
    {"adc3", 0, 3, KEEP, NONE, 0},
    {"adc4", 0, 3, KEEP, NONE, 0},
    {"adc5", 0, 3, KEEP, NONE, 0},
    {"adc6", 0, 3, KEEP, NONE, 0},
    {"adc7", 0, 3, KEEP, NONE, 0},
    {"adc8", 0, 3, KEEP, NONE, 0},
    {"adc9", 0, 3, KEEP, NONE, 0},
    {"adc10", 0, 3, KEEP, NONE, 0},
    {"adc11", 0, 3, KEEP, NONE, 0},
    {"adc12", 0, 3, KEEP, NONE, 0},
    {"adc13", 0, 3, KEEP, NONE, 0},
    {"adc14", 0, 3, KEEP, NONE, 0},
    {"adc15", 0, 3, KEEP, NONE, 0},
    {"dac0", 0, 3, KEEP, NONE, 0},  // unit has no 0x20 at start
    {"dac1", 0, 3, KEEP, NONE, 0},
    {"dac2", 0, 3, KEEP, NONE, 0},
    {"dac3", 0, 3, KEEP, NONE, 0},
    {"dac4", 0, 3, KEEP, NONE, 0},
    {"dac5", 0, 3, KEEP, NONE, 0},
    {"dac6", 0, 3, KEEP, NONE, 0},
    {"dac7", 0, 3, KEEP, NONE, 0},
    {"vmode", -1, 3, 3, -2, KEEP},
    {"clock", ANY, NONE, 0, NONE, 0},
    {"wactive", -1, 3, KEEP, NONE, 0},
    {"tflags", 0, 3, 3, 40000, 32767},
    {"tlo", 1, 30, 30, 256 + 31, 31},
    {"thi", 255, 220, 220, -1, 255},
    {"calfact", 0, 0.125, 0.125, NONE, 0},
    {"digio", 0, 0x5A, KEEP, NONE, 0},  // no board: nothing to write or read
    {"himemfree", ANY, 3, KEEP, NONE, 0},
    {"scrwid", 1024, 800, KEEP, 0, KEEP},
    {"scrhgt", 768, 600, KEEP, -4, KEEP},
    {"mnubar", 38, 3, KEEP, NONE, 0},
    {"hdrbar", -1, 3, KEEP, NONE, 0},
    {"chrwid", -1, 3, KEEP, NONE, 0},
    {"chrhgt", -1, 3, KEEP, NONE, 0},
    {"scrbits", 32, 16, 16, 0, KEEP},
    {"freedisk", ANY, 3, KEEP, NONE, 0},
    {"scrfreq", 60, 75, KEEP, -1, KEEP},
    {"scrflags", 0, 3, KEEP, NONE, 0},
    {"sysversion", ANY, 3, KEEP, NONE, 0},
    {"fontactive", 1, 3, KEEP, NONE, 0},
    {"fontsize", 12, 3, KEEP, NONE, 0},
    {"stacktrap", 0, 500, 500, -5, KEEP},
    {"priority", 0, 3, 3, 40000, 32767},
    {"jpegquality", 0, 75, 75, 40000, 32767},
    {"lpt100", -4, 0x55, KEEP, NONE, 0},  // no port library
    {"lpt101", -4, 0x55, KEEP, NONE, 0},
    {"lpt102", -4, 0x55, KEEP, NONE, 0},
    {"lpt200", -4, 0x55, KEEP, NONE, 0},
    {"lpt201", -4, 0x55, KEEP, NONE, 0},
    {"lpt202", -4, 0x55, KEEP, NONE, 0},
    {"lpt300", -4, 0x55, KEEP, NONE, 0},
    {"lpt301", -4, 0x55, KEEP, NONE, 0},
    {"lpt302", -4, 0x55, KEEP, NONE, 0},
    {"displaywid", 1023, 800, KEEP, 0, KEEP},
    {"displayhgt", 767, 600, KEEP, 0, KEEP},
    {"rdonly", 0, 1, 1, 40000, 32767},
    {"gunit", -1, 1, 1, 40000, 32767},
    {"vpage", 0, 3, 3, 65537, 1},
    {"menuid", 0, 3, KEEP, NONE, 0},
    {"year", ANY, 3, KEEP, NONE, 0},
    {"vwindow", 0, 1, 3, 12, 4},
    {"vec0", 0, 0, 0, 5, 0},  // never above nvecs (0)
    {"scr2wid", 0, 3, KEEP, NONE, 0},
    {"scr2hgt", 0, 3, KEEP, NONE, 0},
    {"mainscreen", 1, 3, KEEP, NONE, 0},
    {"nscreens", 1, 3, KEEP, NONE, 0},
};

TEST_F(Names, EverySystemVariableReadsItsDefaultAndKeepsItsRange) {
  ASSERT_EQ(sizeof cases / sizeof cases[0], static_cast<size_t>(NSYSVAR));
  for (int i = 0; i < NSYSVAR; i++) {
    const Case& c = cases[i];
    ASSERT_STREQ(c.name, sysnam[i]) << "case table out of order";
    SCOPED_TRACE(c.name);
    int cd = 101 + i;
    double d = getprm(cd);
    if (c.def != ANY) {
      EXPECT_FLOAT_EQ(d, c.def);
    }
    if (c.in != NONE) {
      double before = getprm(cd);
      putprm(c.in, cd);
      if (c.inr == KEEP) {
        if (c.def != ANY) {
          EXPECT_FLOAT_EQ(getprm(cd), before) << "read-only variable changed";
        }
      } else {
        EXPECT_FLOAT_EQ(getprm(cd), c.inr);
      }
    }
    if (c.out != NONE) {
      double before = getprm(cd);
      putprm(c.out, cd);
      EXPECT_FLOAT_EQ(getprm(cd), c.outr == KEEP ? before : c.outr);
    }
    resetcells();
  }
}

TEST_F(Names, VolatileVariablesStayInTheirRanges) {
  double h = get("hour"), d = get("day"), s = get("secs"), y = get("year");
  EXPECT_GE(h, 0.0);
  EXPECT_LT(h, 24.0);
  EXPECT_LT(h - std::floor(h), 0.60);
  EXPECT_GE(d, 1.01);
  EXPECT_LE(d, 12.31 + 1e-4);
  EXPECT_GE(s, 0.0);
  EXPECT_LT(s, 61.0);
  EXPECT_GE(y, 2000.0);
  EXPECT_FLOAT_EQ(static_cast<float>(get("sysversion")), sysversion);
  EXPECT_GT(get("sysversion"), 2.0);
  EXPECT_GT(get("freedisk"), 0.0);
  EXPECT_GE(get("himemfree"), 0.0);

  // freestack and maxmem count bytes of the word memory.
  EXPECT_FLOAT_EQ(get("freestack"), static_cast<float>(4.0 * lstk.freew));
  double mm = get("maxmem");
  EXPECT_GE(mm, 4.0 * (lstk.lowest - lstk.bot) - 4);
  EXPECT_LE(mm, 4.0 * lstk.end);
  EXPECT_EQ(std::fmod(mm, 4.0), 0.0);

  // The clock counts ms from its reset; a positive divisor gives a bit.
  put("clock", 0);
  double t = get("clock");
  EXPECT_GE(t, 0.0);
  EXPECT_LT(t, 60000.0);
  put("clock", 30000);
  EXPECT_EQ(get("clock"), 0.0);
}

// Setting every variable that takes a value to a value of its own and
// reading them all back catches two variables that share one cell.
TEST_F(Names, NoTwoVariablesShareACell) {
  std::map<int, double> want;  // code -> value that must read back
  std::set<double> used;
  const std::set<std::string> skip = {
      "himemsize",   // allocates memory; its cell is the memory end
      "displaywid",  // the display size follows scrwid and scrhgt
      "displayhgt", "sw1", "sw2", "sw3",  // bits of one word: below
      "clock",
      "vmode", "scrbits",  // these switch the display mode: only modes of the table
      "scrwid", "scrhgt", "scrfreq",
  };
  for (int i = 0; i < NSYSVAR; i++) {
    const Case& c = cases[i];
    if (c.in == NONE || c.inr == KEEP || skip.count(c.name)) continue;
    double v = 40 + i;
    std::string n = c.name;
    if (n == "debug") v = 64 + 128;
    if (n == "camera") v = 3;
    if (n == "obase") v = 16;
    if (n == "ibase") v = 7;
    if (n == "nvecs") v = 1000;
    if (n == "menuflag") v = 0x6700;
    if (n == "scrbits") v = 24;
    if (n == "vwindow") v = 6;
    if (n == "gflags") v = 0x48;
    if (n == "cursor") v = 52;
    if (n == "pflags") v = 0x100;
    ASSERT_TRUE(used.insert(v).second) << n << " value " << v << " not distinct";
    want[101 + i] = v;
  }
  for (auto& [cd, v] : want) putprm(v, cd);
  putprm(1, 172);
  putprm(0, 173);
  putprm(1, 174);
  for (auto& [cd, v] : want) {
    // cursor keeps its cursor-on bit (set from the start).
    const double got = std::string(sysnam[cd - 101]) == "cursor" ? getprm(cd) - 0x8000 : getprm(cd);
    EXPECT_FLOAT_EQ(got, v) << sysnam[cd - 101];
  }
  EXPECT_EQ(getprm(172), 1.0f);
  EXPECT_EQ(getprm(173), 0.0f);
  EXPECT_EQ(getprm(174), 1.0f);
  putprm(0, 172);
  putprm(1, 173);
  EXPECT_EQ(getprm(172), 0.0f);
  EXPECT_EQ(getprm(173), 1.0f);
  EXPECT_EQ(getprm(174), 1.0f);
}

// ---------------------------------------------------------------------------
// Side effects of setting.

TEST_F(Names, StateAndPflagsTakeOnlyWhole16BitValues) {
  put("state", 2.5);
  EXPECT_EQ(state, 0);
  put("state", 2);
  EXPECT_EQ(state, 2);
  put("state", 32768);
  EXPECT_EQ(state, 2);
  put("state", -32767);
  EXPECT_EQ(state, -32767);
  state = 0;
  put("pflags", 0x4000 + 0.25);
  EXPECT_EQ(pflags, 0);
  put("pflags", 0x4010);
  EXPECT_EQ(pflags, 0x4010);
  put("obase", 1);
  put("obase", 37);
  EXPECT_EQ(obase, 10);
  put("obase", 16);
  EXPECT_EQ(obase, 16);
  put("ibase", 36);
  EXPECT_EQ(ibase, 36);
}

TEST_F(Names, GflagsSetsTheXorWordAndResetsZvalue) {
  put("gflags", 0x80);
  EXPECT_EQ(xorflg, 0xC80);
  put("gflags", 0x08);
  EXPECT_EQ(xorflg, 0xC00);
  EXPECT_EQ(zvalue, 0);  // empty vector list
  lastpt[0] = 11;
  lastpt[1] = 22;
  lastpt[2] = 33;
  nvecs = 5;
  zvalue = 7;
  put("gflags", 0x08 | 0x80);  // rotation bits unchanged
  EXPECT_EQ(zvalue, 7);
  put("gflags", 0x20);  // y shows z
  EXPECT_EQ(zvalue, 22);
  put("gflags", 0x28);  // 0x20 set: still y; bits changed
  EXPECT_EQ(zvalue, 22);
  put("gflags", 0x00);
  EXPECT_EQ(zvalue, 33);
  put("gflags", 0x08);
  EXPECT_EQ(zvalue, 11);
  zvalue = 5;
  put("gflags", 0x10 | 0x20);  // bit 0x10 keeps zvalue
  EXPECT_EQ(zvalue, 5);
  EXPECT_EQ(gflags, 0x30);
}

TEST_F(Names, VectorCountsAndFirstIndex) {
  put("nvecs", 40);
  EXPECT_EQ(nvecs, 40);
  put("nvecs", -1);
  EXPECT_EQ(nvecs, 40);
  put("vec0", 30);
  EXPECT_EQ(get("vec0"), 30);
  put("vec0", 50);
  EXPECT_EQ(get("vec0"), 40);  // lowered to nvecs
  put("vec0", -1);
  EXPECT_EQ(get("vec0"), 40);
  put("nvdata", 100000);
  EXPECT_EQ(get("nvdata"), 100000);
  put("lastvec", -1);
  EXPECT_EQ(get("lastvec"), -1);
}

TEST_F(Names, CursorKeepsThePointerBit) {
  curflg = 0x8000;
  put("cursor", 1);
  EXPECT_EQ(curflg, 0x8001);
  put("cursor", 4);
  EXPECT_EQ(curflg, 0x8004);
  put("cursor", 4.5);
  EXPECT_EQ(curflg, 0x8004);
  curflg = 0;
  put("cursor", -1);
  EXPECT_EQ(get("cursor"), 0xFFFF);
}

TEST_F(Names, GetxAndGetyReadOnePick) {
  // With no pointer input attached, a pick takes the cursor position.
  curx = 10;
  cury = 20;
  EXPECT_EQ(get("getx"), 10);
  curx = 30;
  cury = 40;
  EXPECT_EQ(get("gety"), 20);  // same pick
  EXPECT_EQ(get("getx"), 30);  // a new pick
  curx = 50;
  cury = 60;
  EXPECT_EQ(get("getx"), 50);  // getx twice: two picks
  EXPECT_EQ(get("gety"), 60);
  nameini();
  cury = 70;
  EXPECT_EQ(get("gety"), 70);  // gety first makes a pick
}

TEST_F(Names, MenuflagTakesOnlyTheFlagByte) {
  curmnu = 5;
  put("menuflag", 0x0300 | 0x77);
  EXPECT_EQ(get("menuflag"), 0x0305);
  EXPECT_EQ(curmnu, 5);
  EXPECT_EQ(mnuflg, 3);
  // A flag byte with its top bit set survives being read and stored back.
  put("menuflag", 0x8105);
  EXPECT_EQ(mnuflg, 0x81);
  EXPECT_EQ(get("menuflag"), 0x8105);
  put("menuflag", get("menuflag"));
  EXPECT_EQ(mnuflg, 0x81);
}

TEST_F(Names, VwindowNeedsAWideTextWindowForOddValues) {
  put("vwindow", 1);
  EXPECT_EQ(get("vwindow"), 3);
  put("vwindow", 5);
  EXPECT_EQ(get("vwindow"), 5);
  put("vwindow", 2);
  EXPECT_EQ(get("vwindow"), 2);
  vwindow = 0x40 | 2;  // bits above the low 3 stay
  dvrect[11][1] = 100;
  dvrect[11][3] = 101;  // 1 wide
  put("vwindow", 3);
  EXPECT_EQ(vwindow, 0x42);
  put("vwindow", 4);
  EXPECT_EQ(vwindow, 0x44);
}

TEST_F(Names, HighMemoryVariables) {
  EXPECT_EQ(get("himemsize"), 0);
  put("himemflag", 3);
  EXPECT_EQ(himemflag, 1);  // odd clears 0x2
  put("himemflag", 2);
  EXPECT_EQ(himemflag, 2);
  put("himemsize", 64);
  ASSERT_GT(hstk.end, HIMEM_BASE);
  EXPECT_EQ(get("himemsize"), 64);
  EXPECT_EQ(symptr(sysent("hstack"))->value, static_cast<uint32_t>(hstk.end - HIMEM_BASE));
  // While high memory exists the two low bits keep their values.
  put("himemflag", 0x11);
  EXPECT_EQ(himemflag, 0x12);
  // The free high memory counts toward freestack and maxmem.
  EXPECT_FLOAT_EQ(get("freestack"), static_cast<float>(4.0 * (lstk.freew + hstk.freew)));
  EXPECT_GE(get("maxmem"), 4.0 * 16384 - 16);
  put("himemsize", 0);
  EXPECT_EQ(get("himemsize"), 0);
  EXPECT_EQ(symptr(sysent("hstack"))->value, 0u);
  EXPECT_EQ(get("himembase"), -1);
}

TEST_F(Names, DeviceVariables) {
  // No kind drives an analog output: dac writes store nothing, with or
  // without unit's 0x20, and leave -1 in #0.
  put("dac0", 100);
  EXPECT_EQ(get("dac0"), 0);
  put("unit", 0x22);
  put("dac1", -100);
  EXPECT_EQ(getres(0), -1.0f);
  EXPECT_EQ(get("dac1"), 0);
  put("unit", 2);
  // Without the port library a motor still takes its position (the write
  // gives -4); a step of more than 128 is refused.
  put("motor1", 128);
  EXPECT_EQ(getres(0), -4.0f);
  put("motor1", 257);
  EXPECT_EQ(get("motor1"), 128);
  put("motor1", 0);
  EXPECT_EQ(get("motor1"), 0);
  // The switches are bits of one word.
  put("sw2", 1);
  EXPECT_EQ(swword, 2u);
  put("sw3", 1);
  EXPECT_EQ(swword, 6u);
  put("sw2", 0);
  EXPECT_EQ(swword, 4u);
  EXPECT_EQ(get("sw3"), 1);
  EXPECT_EQ(get("sw2"), 0);
  // Serial ports: com3 reads the slot's mode word; a port that cannot be
  // opened stays closed.
  ::setenv("PELIX_COM3", "/nonexistent/tty", 1);
  put("com3", 0x2580);
  EXPECT_EQ(get("com3"), 0);
  EXPECT_EQ(getres(0), -191.0f);
  state = 0;
  // Parallel port registers by 100 x port + register: the register is
  // checked first, then the port, then the library.
  EXPECT_EQ(pportin(500), -2);
  EXPECT_EQ(pportin(103), -1);
  EXPECT_EQ(pportout(1, 500), -2);
  EXPECT_EQ(pportout(1, 103), -1);
  EXPECT_EQ(pportin(202), -4);
  EXPECT_EQ(get("lpt202"), -4);
  // Unknown device indexes read -1 and ignore writes.
  EXPECT_EQ(gethwp(200), -1.0f);
  EXPECT_EQ(getprm(99), -1.0f);
  EXPECT_EQ(getprm(246), -1.0f);
  EXPECT_EQ(puthwp(1, 200), 0);
  EXPECT_EQ(getres(0), -1.0f);
  putprm(5, 246);
  // bitmask reads the drawing mask that puthwp stores.
  put("bitmask", 0x0F0F);
  EXPECT_EQ(bitmask, 0x0F0F);
}

TEST_F(Names, ScreenVariablesGoThroughTheDisplayMode) {
  // The size variables only say which size a depth switch wants.
  put("displaywid", 640);
  put("scrhgt", 480);
  EXPECT_EQ(scrwid, 1024);
  EXPECT_EQ(getres(0), 0.0f);
  put("scrbits", 16);  // the mode of that depth at the wanted size
  EXPECT_EQ(scrwid, 640);
  EXPECT_EQ(scrbits, 16);
  EXPECT_EQ(get("displayhgt"), 479);
  EXPECT_EQ(dvrect[0][2], 479);
  EXPECT_EQ(dvrect[0][3], 639);
  EXPECT_EQ(getres(0), static_cast<float>(vmode));
  put("scrbits", 12);  // no such mode
  EXPECT_EQ(scrbits, 16);
  EXPECT_EQ(getres(0), -1.0f);
  const int m = vmode;
  put("vmode", 99);
  EXPECT_EQ(vmode, m);
  EXPECT_EQ(getres(0), -1.0f);
  put("vmode", 2);  // 8 bits, 1024 x 768
  EXPECT_EQ(scrwid, 1024);
  EXPECT_EQ(scrbits, 8);
  EXPECT_EQ(getres(0), 2.0f);
  put("scrfreq", 72.5);
  EXPECT_EQ(getres(0), 0.0f);
}

TEST_F(Names, NaNIsRefusedOrTakenAsZero) {
  double nan = std::nan("");
  put("state", 3);
  put("state", nan);
  EXPECT_EQ(state, 3);
  state = 0;
  put("lwidth", nan);
  EXPECT_EQ(lwidth, 0);
  put("nvecs", 9);
  put("nvecs", nan);
  EXPECT_EQ(nvecs, 9);
  put("obase", nan);
  EXPECT_EQ(obase, 10);
}

}  // namespace
