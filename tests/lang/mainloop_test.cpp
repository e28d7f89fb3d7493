// The main loop's pieces that a session cannot show: queue order, the
// history ring, redirection's argument removal and capture, the dispatcher's
// not-available road, declarations and definitions, quit, finish and the
// dump files, nested input, and the platform services of the start-up.
#include "lang/mainloop.h"

#include "core/args.h"
#include "core/units.h"
#include "core/varbl.h"
#include "lang/cstart.h"
#include "lang/declare.h"
#include "lang/cmdcodes.h"
#include "lang/docmnd.h"
#include "lang/macro.h"
#include "parse_fixture.h"
#include "realtime/devices/devsetup.h"
#include "ui/hooks.h"
#include "ui/sysserv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <ios>
#include <new>

namespace {

class Loop : public Parse {
 protected:
  void SetUp() override {
    Parse::SetUp();
    clrpst(&dfltq);
    clrpst(&typq);
    qflag = 0;
    hstclr();
    lstlun = savlst = 1;
    errlun = dbglun = 1;
    jrnlun = -1;
    macmod = 0;
  }
  void TearDown() override {
    clrpst(&dfltq);
    clrpst(&typq);
    qflag = 0;
    lstlun = savlst = 1;
    Parse::TearDown();
  }
  // Runs one line as the main loop does: it is queued, taken by GETLIN,
  // redirected when it asks for it, and dispatched.
  int run(const char* line) {
    state = 0;
    log.rows.clear();
    savcmd(line, 0, 0, nullptr);
    int code = 0;
    int n = GETLIN(0, &code, 0x1F);
    if (n >= 1 && (code & 0x2000)) code = Redrct(code);
    if (n >= 1) DOCMND(code);
    return n;
  }
  // Runs a line as if typed: GETLIN records a typed line in the history
  // before the line is dispatched.
  int runtyped(const char* line) {
    state = 0;
    log.rows.clear();
    savcmd(line, 0, 0, nullptr);
    int code = 0;
    int n = GETLIN(0, &code, 0x1F);
    typed(line);
    if (n >= 1) DOCMND(code);
    return n;
  }
  // Records a line in the history as a typed line.
  static void typed(const char* line) {
    std::snprintf(linbuf, sizeof linbuf, "%s", line);
    Histry(0, static_cast<int>(std::strlen(linbuf)), 0);
  }
  std::string rows() const {
    std::string r;
    for (const auto& s : log.rows) r += s + "\n";
    return r;
  }
  static int32_t entry(const char* name) {
    uint16_t fl = 0;
    return GETSYM(name, static_cast<int>(std::strlen(name)), &fl, 1);
  }
};

TEST_F(Loop, LaterQueuedTextRunsFirstThenTheRestOfTheEarlier) {
  char line[LINBUF];
  EXPECT_EQ(savcmd("one\ntwo", 0, 0, nullptr), 7);
  EXPECT_EQ(qflag, 1);
  EXPECT_TRUE(state & ST_QUEUED);
  ASSERT_EQ(gtpstr(nullptr, line), 3);
  EXPECT_STREQ(line, "one");
  EXPECT_EQ(savcmd("three", 0, 0, nullptr), 5);
  ASSERT_EQ(gtpstr(nullptr, line), 5);
  EXPECT_STREQ(line, "three");
  ASSERT_EQ(gtpstr(nullptr, line), 3);
  EXPECT_STREQ(line, "two");
  EXPECT_EQ(gtpstr(nullptr, line), -1);
  EXPECT_FALSE(state & ST_QUEUED);
  EXPECT_EQ(dfltq.blk, 0);

  // Another queue's text is replaced, and the default queue is untouched.
  EXPECT_EQ(tlqput("a\nb", 0), 3);
  EXPECT_EQ(tlqput("c", 0), 1);
  ASSERT_EQ(gtpstr(&typq, line), 1);
  EXPECT_STREQ(line, "c");
  EXPECT_EQ(gtpstr(&typq, line), -1);
  EXPECT_FALSE(qpend(&dfltq));

  // A length cuts the text; an over-long line is cut to 239 characters and
  // the rest of it passed over.
  EXPECT_EQ(savcmd("abcdef", 0, 3, nullptr), 3);
  ASSERT_EQ(gtpstr(nullptr, line), 3);
  EXPECT_STREQ(line, "abc");
  std::string longl(300, 'x');
  longl += "\nnext";
  savcmd(longl.c_str(), 0, 0, nullptr);
  EXPECT_EQ(gtpstr(nullptr, line), 239);
  EXPECT_EQ(gtpstr(nullptr, line), 4);
  EXPECT_STREQ(line, "next");

  // xeqstr of a string variable's text.
  ASSERT_EQ(setstrv("ctrap", "alpha\nbeta"), 0);
  EXPECT_EQ(xeqstr(nullptr, sysent("ctrap"), 0), 10);
  ASSERT_EQ(gtpstr(nullptr, line), 5);
  EXPECT_STREQ(line, "alpha");
  clrpst(&dfltq);
}

TEST_F(Loop, HistoryRingOf24OverwritesTheOldest) {
  for (int i = 1; i <= 25; i++) {
    char l[16];
    std::snprintf(l, sizeof l, "line %d", i);
    typed(l);
  }
  EXPECT_EQ(hstcnt(), 24);
  EXPECT_STREQ(hstent(0), "line 2");
  EXPECT_STREQ(hstent(23), "line 25");
  // Recall: previous from the newest down, not past the oldest.
  EXPECT_EQ(Histry(-1, 0, 0), 7);
  EXPECT_STREQ(linbuf, "line 25");
  Histry(-1, 0, 0);
  EXPECT_STREQ(linbuf, "line 24");
  Histry(-2, 0, 0);
  EXPECT_STREQ(linbuf, "line 25");
  Histry(-2, 0, 0);
  EXPECT_STREQ(linbuf, "line 25");  // not past the newest
  for (int i = 0; i < 30; i++) Histry(-1, 0, 0);
  EXPECT_STREQ(linbuf, "line 2");
  hstrst();
  Histry(-1, 0, 0);
  EXPECT_STREQ(linbuf, "line 25");

  // Lines from a queue are not history; the pool wraps by dropping the
  // oldest texts.
  hstclr();
  std::snprintf(linbuf, sizeof linbuf, "queued");
  EXPECT_EQ(Histry(0, 6, 1), 0);
  EXPECT_EQ(hstcnt(), 0);
  std::string big(200, 'b');
  for (int i = 0; i < 6; i++) typed((big + char('0' + i)).c_str());
  EXPECT_LE(hstcnt(), 5);
  EXPECT_EQ(std::string(hstent(hstcnt() - 1)), big + '5');
  for (int i = 0; i + 1 < hstcnt(); i++) EXPECT_EQ(std::strlen(hstent(i)), 201u);
}

TEST_F(Loop, JournalRecallsAndQueues) {
  typed("first");
  typed("second");
  // One entry is queued for execution; the journal command's own line is
  // taken out of the history.
  runtyped("journal 1");
  char line[LINBUF];
  ASSERT_EQ(gtpstr(nullptr, line), 5);
  EXPECT_STREQ(line, "first");
  EXPECT_EQ(hstcnt(), 2);
  // Entry 0 is the one a recall gives: the newest.
  runtyped("journal 0");
  ASSERT_EQ(gtpstr(nullptr, line), 6);
  EXPECT_STREQ(line, "second");
  // An entry that holds nothing (the command's own) does nothing.
  runtyped("journal 3");
  EXPECT_FALSE(qpend(&dfltq));
  EXPECT_EQ(hstcnt(), 2);
  // A line that came from a queue is not taken out.
  typed("second again");
  run("journal");
  EXPECT_EQ(hstcnt(), 3);
}

TEST_F(Loop, RedirectionRemovesItsArgumentsAndEnds) {
  ScratchDir tmp("/tmp/pelix_ml", true);  // the working folder for the test
  ASSERT_EQ(setstrv("curdir", (tmp.path + "/").c_str()), 0);  // relative names follow curdir
  typed("alpha");
  typed("beta");
  savcmd("journal > out.txt", 0, 0, nullptr);
  int code = 0;
  ASSERT_EQ(GETLIN(0, &code, 0x1F), 3);
  EXPECT_EQ(code, 32 | 0x2000);
  EXPECT_EQ(Redrct(code), 32);
  EXPECT_EQ(nargs(), 1);  // ">" and the target are gone
  EXPECT_GE(lstlun, 5);
  EXPECT_EQ(savlst, 1);
  DOCMND(32);
  EXPECT_NE(lstlun, savlst);
  lstout();
  EXPECT_EQ(lstlun, 1);
  EXPECT_EQ(slurp("out.txt"), "  1: alpha\n  2: beta\n");
  // ">>" appends; ">" replaces.
  run("journal 1 1 >> out.txt");
  lstout();
  EXPECT_EQ(slurp("out.txt"), "  1: alpha\n  2: beta\nalpha\n");
  run("journal 2 2 > \"out.txt\"");
  lstout();
  EXPECT_EQ(slurp("out.txt"), "beta\n");
  // A file that cannot be opened: error 66, the output stays where it was.
  run("journal > \"/nonexistent/dir/x\"");
  EXPECT_EQ(err(), "ERROR  66 (arg 3)");
  EXPECT_EQ(lstlun, 1);
  // A target that names the terminal.
  run("journal > terminal");
  EXPECT_EQ(lstlun, 1);
  EXPECT_NE(rows().find("  1: alpha"), std::string::npos);
}

TEST_F(Loop, RedirectionIntoATextList) {
  typed("alpha");
  typed("beta");
  run("declare string list lines");
  ASSERT_FALSE(state & ST_ERROR) << rows();
  run("journal > lines");
  EXPECT_EQ(lstlun, 99);
  lstout();
  EXPECT_EQ(lstlun, 1);
  const SymEnt* e = symptr(entry("lines"));
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(e->value, 2u);
  const uint32_t* t = wordp(e->data);
  auto elem = [&](int i) {
    const uint8_t* p = static_cast<const uint8_t*>(stkptr(e->data + static_cast<int32_t>(t[i])));
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
  };
  EXPECT_EQ(elem(0), "  1: alpha");
  EXPECT_EQ(elem(1), "  2: beta");
  run("journal 2 2 >> lines");
  lstout();
  e = symptr(entry("lines"));
  ASSERT_EQ(e->value, 3u);
  t = wordp(e->data);
  EXPECT_EQ(elem(2), "beta");
  EXPECT_EQ(chkstk(0), 0);
  // A list that does not hold text is no target.
  run("declare vector list vl");
  savcmd("journal > vl", 0, 0, nullptr);
  int code = 0;
  GETLIN(0, &code, 0x1F);
  EXPECT_EQ(Redrct(code), -1);
  EXPECT_EQ(lstlun, 1);
}

TEST_F(Loop, QuietUnknownAndWordsWithoutARoad) {
  // pflags 0x200 silences the unknown-command line.
  pflags = 0x200;
  run("frobnicate 3");
  EXPECT_EQ(rows(), "");
  pflags = 0;
  // Words without a road do nothing.
  run("else");
  EXPECT_EQ(rows(), "");
  EXPECT_FALSE(state & ST_ERROR);
  run("watch");
  run("scan");
  EXPECT_EQ(rows(), "");
}

TEST_F(Loop, AnExceptionOutOfACommandIsAnErrorAndTheLoopGoesOn) {
  // A failed allocation is error 42, any other exception of the standard
  // library error 71; both leave minus the code in r0 and the error bit.
  auto nomem = [](int) -> int { throw std::bad_alloc(); };
  auto stream = [](int) -> int { throw std::ios_base::failure("reading a folder"); };
  auto fine = [](int code) { return code + 1; };
  EXPECT_EQ(cmdguard(nomem, 1), -1);
  EXPECT_EQ(getres(0), -42.0f);
  EXPECT_TRUE(state & ST_ERROR);
  state = 0;
  log.rows.clear();
  EXPECT_EQ(cmdguard(stream, 1), -1);
  EXPECT_EQ(getres(0), -71.0f);
  EXPECT_TRUE(state & ST_ERROR);
  ASSERT_FALSE(log.rows.empty());
  EXPECT_EQ(log.rows[0].rfind("ERROR  71", 0), 0u) << log.rows[0];
  state = 0;
  EXPECT_EQ(cmdguard(fine, 4), 5);
  EXPECT_FALSE(state & ST_ERROR);
  // Other exceptions pass (the fuzz harness ends a run with its own).
  struct Own {};
  auto own = [](int) -> int { throw Own{}; };
  EXPECT_THROW(cmdguard(own, 1), Own);
  // The next line runs as usual.
  run("ftype \"after\\n\"");
  EXPECT_EQ(rows(), "after\n");
}

TEST_F(Loop, DeclareKindsSizesAndErrors) {
  run("declare solid q(10,20,3)");
  ASSERT_FALSE(state & ST_ERROR) << rows();
  int32_t q = entry("q");
  ASSERT_GT(q, 0);
  const SymEnt* e = symptr(q);
  EXPECT_EQ(e->value, 600u);
  EXPECT_EQ(e->flags & 0x17F0, 0x1400);
  EXPECT_TRUE(e->flags & SY_GLOBAL);  // top level
  EXPECT_EQ(e->type, 8);
  const uint32_t* h = wordp(e->data);
  EXPECT_EQ(h[0], 10u);
  EXPECT_EQ(h[1], 20u);
  EXPECT_EQ(h[2], 3u);
  EXPECT_EQ(getres(0), 0.0f);

  run("declare image q2(10,20,3)");
  EXPECT_EQ(err(), "ERROR  26 (arg 3)");
  EXPECT_EQ(getres(0), -26.0f);
  run("declare list array q3");
  EXPECT_EQ(err(), "ERROR  15");
  run("declare string list q4");
  EXPECT_FALSE(state & ST_ERROR);
  EXPECT_EQ(symptr(entry("q4"))->flags & 0x1FF0, 0x1820);
  run("declare pointer integer q5");
  EXPECT_EQ(err(), "ERROR  15");
  run("declare integer k");
  e = symptr(entry("k"));
  EXPECT_EQ(e->flags & 0x17F2, 0x1012);
  EXPECT_EQ(e->type, 16);
  EXPECT_GT(e->data, 0);
  // Redeclaration: the same kind is ignored, another kind is error 44.
  run("declare integer k");
  EXPECT_FALSE(state & ST_ERROR);
  run("declare matrix k");
  EXPECT_EQ(err(), "ERROR  44 (arg 3)");
  // Undeclare frees the storage and the entry; release keeps the entry.
  uint32_t free0 = static_cast<uint32_t>(lstk.freew);
  run("declare array big(1000)");
  uint32_t free1 = static_cast<uint32_t>(lstk.freew);
  EXPECT_GE(free0 - free1, 1000u);
  run("release big");
  EXPECT_GT(entry("big"), 0);
  EXPECT_EQ(symptr(entry("big"))->data, 0);
  EXPECT_GE(static_cast<uint32_t>(lstk.freew) - free1, 990u);  // the storage is back
  run("undeclare big");
  EXPECT_LT(entry("big"), 0);
  run("undeclare nothere");
  EXPECT_FALSE(state & ST_ERROR);
  EXPECT_EQ(chkstk(0), 0);
  // A command word where a name belongs.
  run("declare integer list");
  EXPECT_EQ(err(), "ERROR  15");
  run("declare integer");
  EXPECT_EQ(err(), "ERROR 150 (arg 3)");
  run("declare abcdefghijklmn");
  EXPECT_EQ(err(), "ERROR  17 (arg 2)");
}

TEST_F(Loop, DeclareVectorListHoldsItsRecords) {
  // Each vector record is 8 bytes: a vector list of 5 takes 10 words, all
  // cleared.
  run("declare list vector vl(5)");
  ASSERT_FALSE(state & ST_ERROR) << rows();
  const SymEnt* e = symptr(entry("vl"));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->value, 5u);
  EXPECT_EQ(e->type, 136);
  const PtrRec* r = ptrrec(e->data);
  ASSERT_NE(r, nullptr);
  int32_t blk = fndstk(static_cast<int32_t>(r->Addr));
  ASSERT_GT(blk, 0);
  EXPECT_GE(static_cast<int64_t>(wordp(blk)[0]) - 2 - (static_cast<int32_t>(r->Addr) - (blk + 2)), 10);
  const uint32_t* d = wordp(static_cast<int32_t>(r->Addr));
  for (int k = 0; k < 10; k++) EXPECT_EQ(d[k], 0u) << k;
  EXPECT_EQ(chkstk(0), 0);
}

TEST_F(Loop, DeclareOverATarget) {
  run("declare array t(8)");
  run("declare byte array u(16) = t");
  ASSERT_FALSE(state & ST_ERROR) << rows();
  const SymEnt* t = symptr(entry("t"));
  const SymEnt* u = symptr(entry("u"));
  EXPECT_EQ(u->data, t->data);
  EXPECT_TRUE(u->flags & SY_NOTOWN);
  run("declare array w(9) = t");
  EXPECT_EQ(err(), "ERROR  79 (arg 3)");
  run("declare array w2(2) = 5");
  EXPECT_EQ(err(), "ERROR  63 (arg 5)");
}

TEST_F(Loop, DefineStoresParametersAsBytes) {
  run("define sq(a) a*a");
  ASSERT_FALSE(state & ST_ERROR) << rows();
  int32_t d = entry("sq");
  ASSERT_GT(d, 0);
  const SymEnt* e = symptr(d);
  EXPECT_TRUE(e->flags & SY_DEFINE);
  EXPECT_EQ(e->type, 1);
  ASSERT_EQ(e->value, 3u);
  const char* p = static_cast<const char*>(stkptr(e->data));
  EXPECT_EQ(std::string(p, 3), std::string("\x01*\x01", 3));
  // Another text of the same length replaces it; another length is error 45.
  run("define sq(b) b+b");
  EXPECT_EQ(std::string(static_cast<const char*>(stkptr(symptr(d)->data)), 3), std::string("\x01+\x01", 3));
  run("define sq(a) a*a*a");
  EXPECT_EQ(err(), "ERROR  45 (arg 3)");
  // No text undefines the name, and the name is not put in first.
  run("define sq");
  EXPECT_FALSE(state & ST_ERROR);
  EXPECT_LT(entry("sq"), 0);
  run("define pi 3.14159");
  run("define pi");
  EXPECT_LT(entry("pi"), 0);
  run("define 9x y");
  EXPECT_EQ(err(), "ERROR  18 (arg 2)");
  run("define abcdefghijklmn y");
  EXPECT_EQ(err(), "ERROR  17 (arg 2)");
}

TEST_F(Loop, QuitRunsQuitstrOnceAndEnds) {
  ASSERT_EQ(setstrv("quitstr", "farewell"), 0);
  EXPECT_EQ(quit(0), 0);
  EXPECT_TRUE(state & ST_QUIT);
  char line[LINBUF];
  ASSERT_EQ(gtpstr(nullptr, line), 8);
  EXPECT_STREQ(line, "farewell");
  // With the quit bit set the command window yields quit without reading.
  clrpst(&dfltq);
  qflag = 0;
  int code = 0;
  EXPECT_EQ(GETLIN(0, &code, 0x1F), 1);
  EXPECT_EQ(code, 2);
  EXPECT_EXIT(quit(0), ::testing::ExitedWithCode(0), "");
  // Inside a macro quit ends at once.
  state = 0;
  macmod = 3;
  EXPECT_EXIT(quit(0), ::testing::ExitedWithCode(0), "");
  macmod = 0;
}

TEST_F(Loop, FinishWritesTheCoreDumpForStatusTenOrMore) {
  ScratchDir tmp("/tmp/pelix_ml", true);  // the working folder for the test
  EXPECT_EXIT(finish(3), ::testing::ExitedWithCode(3), "");
  EXPECT_NE(access("core", F_OK), 0);
  std::snprintf(linbuf, sizeof linbuf, "the last line");
  state = 0x1234;
  EXPECT_EXIT(finish(12), ::testing::ExitedWithCode(12), "");
  std::string core = slurp("core");
  // Four state records and the low stack up to word 200000, 128 words each.
  ASSERT_EQ(core.size(), (4 + 1563) * 512u);
  EXPECT_EQ(static_cast<uint8_t>(core[80]) | static_cast<uint8_t>(core[81]) << 8, 0x1234);
  EXPECT_EQ(core.substr(512 + 20, 13), "the last line");
  uint32_t w0;
  std::memcpy(&w0, core.data() + 4 * 512 + 4 * 100, 4);
  EXPECT_EQ(w0, lowstk[100]);
  EXPECT_TRUE(std::string(core.data() + 40, 16) ==
              std::string(reinterpret_cast<const char*>(&lstk), 16));
}

TEST_F(Loop, FatalSignalDumpsAndExits) {
  ScratchDir tmp("/tmp/pelix_ml", true);  // the working folder for the test
  fpetrp();
  EXPECT_EXIT(std::raise(SIGSEGV), ::testing::ExitedWithCode(128 + SIGSEGV), "Fatal signal 11");
  EXPECT_EQ(access("core", F_OK), 0);
  EXPECT_EQ(access("coredbg", F_OK), 0);
  EXPECT_EXIT(std::raise(SIGFPE), ::testing::ExitedWithCode(128 + SIGFPE), "Floating pt error");
  std::signal(SIGSEGV, SIG_DFL);
  std::signal(SIGFPE, SIG_DFL);
  std::signal(SIGBUS, SIG_DFL);
  // Floating-point faults stay masked: a division by zero is an infinity.
  volatile double z = 0.0;
  EXPECT_TRUE(std::isinf(1.0 / z));
}

TEST_F(Loop, NestedInputRunsTheNewTextFirst) {
  savcmd("pending1\npending2", 0, 0, nullptr);
  modctx(0x4000);
  EXPECT_TRUE(pflags & 0x4000);
  EXPECT_FALSE(qpend(&dfltq));
  EXPECT_EQ(qflag, 0);
  savcmd("meanwhile", 0, 0, nullptr);
  modctx(0);
  EXPECT_FALSE(pflags & 0x4000);
  EXPECT_EQ(qflag, 1);
  char line[LINBUF];
  std::string got;
  while (gtpstr(nullptr, line) >= 0) got += std::string(line) + ";";
  EXPECT_EQ(got, "meanwhile;pending1;pending2;");
  // Leaving with nothing saved and nothing queued: the flag is cleared.
  modctx(0x4000);
  modctx(0);
  EXPECT_EQ(qflag, 0);
  EXPECT_EQ(chkstk(0), 0);
}

TEST_F(Loop, StartUpPiecesAndPlatformServices) {
  int lefts[3] = {0, -1024, 1024};
  EXPECT_EQ(pickscr("screen=r", lefts, 3), 3);
  EXPECT_EQ(pickscr("screen = L", lefts, 3), 2);
  EXPECT_EQ(pickscr("-x screen=2", lefts, 3), 2);
  EXPECT_EQ(pickscr("screen=7", lefts, 2), 1);
  EXPECT_EQ(pickscr("scr=2", lefts, 3), 1);
  EXPECT_EQ(clamp32(5ull << 32), 0xFFFFFFFFu);
  EXPECT_EQ(clamp32(123), 123u);
  EXPECT_EQ(initports(4), 0);
  EXPECT_EQ(initports(portcount()), 0);
  EXPECT_EQ(initports(2000), 0);
  EXPECT_EQ(initports(40), -1);
  EXPECT_EQ(ret1(), 1);
  EXPECT_EQ(mapstub(), 0);
  int32_t rec[16] = {0};
  rec[12] = 77;
  EXPECT_EQ(gword12(rec), 77);
  mkcursors();
  EXPECT_EQ(ringcur.andmask[3], 0x81);
  EXPECT_EQ(barcur.hotx, 6);
  EXPECT_EQ(devcls(2), 2);
  EXPECT_EQ(devcls(23), -2);
  EXPECT_EQ(devcls(99), -1);
  // getenvs: a string variable of the lower-cased name first.
  setenv("PELIXTESTVAR", "from-env", 1);
  EXPECT_STREQ(getenvs("PELIXTESTVAR"), "from-env");
  ASSERT_EQ(setstrv("editor", "vi"), 0);
  EXPECT_STREQ(getenvs("EDITOR"), "vi");
  // sysint: interrupt 0 does nothing; registers come back as given.
  run("sysint 0 1 2 3 4 1");
  EXPECT_EQ(rows(), "");
  run("sysint 33 1 2 3 4 1");
  EXPECT_EQ(rows(), "       1       2       3       4\n");
}

}  // namespace

TEST_F(Loop, LargeImagesInHighMemory) {
  // One block may take as much of high memory as there is; high memory
  // itself ends where byte references end, and a block past that is
  // refused with error 126.
  highmem(0);
  ASSERT_EQ(highmem(400000), 0);
  run("declare integer image big(4096,4096)");
  EXPECT_EQ(state & ST_ERROR, 0);
  run("declare real image fb(2048,2048)");
  EXPECT_EQ(state & ST_ERROR, 0);
  run("undeclare big");
  run("undeclare fb");
  highmem(0);
  ASSERT_EQ(highmem(INT32_MAX), 0);
  EXPECT_GT(hstk.end, HIMEM_BASE);
  EXPECT_LE(hstk.end, HIMEM_LIMIT);
  run("declare real image huge(24000,24000)");
  EXPECT_TRUE(state & ST_ERROR);
  highmem(0);
  state = 0;
}
