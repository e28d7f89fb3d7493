// Start-up and shutdown of the interpreter.
#include "lang/cstart.h"
#include "graphics/veclist.h"
#include "lang/macro.h"

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "core/varbl.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "realtime/devices/comport.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/meascomp.h"
#include "ui/alert.h"
#include "ui/events.h"
#include "ui/hooks.h"
#include "ui/platform/console.h"
#include "ui/platform/entry.h"
#include "ui/screen.h"
#include "ui/sysserv.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

int16_t mnulun = -1;
uint8_t mnuhdr[32];

// ---------------------------------------------------------------------------
// Start-up.

int pickscr(const char* text, const int* lefts, int n) {
  if (!text || std::strlen(text) < 7 || n < 1) return 1;
  const char* p = std::strstr(text, "screen");
  if (!p) return 1;
  p += 6;
  while (*p == ' ' || *p == '\t' || *p == '=') p++;
  int pick = 1;
  if (*p == 'l' || *p == 'L' || *p == 'r' || *p == 'R') {
    bool left = *p == 'l' || *p == 'L';
    for (int i = 1; i < n; i++) {
      if (!lefts) break;
      if (left ? lefts[i] < lefts[pick - 1] : lefts[i] > lefts[pick - 1]) pick = i + 1;
    }
  } else if (*p >= '0' && *p <= '9') {
    pick = *p - '0';
  }
  return pick < 1 || pick > n ? 1 : pick;
}

void cmdlin(const char* line) {
  // 1. Memory status and the low stack.
  memstat();
  MakStk();
  // 2. The command line, trailing blanks dropped.
  std::string text = line ? line : "";
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  logprintf("Wcmdline %d ch <%s>\n", static_cast<int>(text.size()), text.c_str());
  // 3. The system symbols.
  mksyms(text.c_str(), static_cast<int>(text.size()));
  // 4. The screens: the option "screen" picks the main one.
  std::string opts = strvar("cmdlin");
  int lefts[4] = {0, 0, 0, 0};
  int ns = std::clamp<int>(nscreens, 1, 4);
  for (int i = 0; i < ns; i++) lefts[i] = dvrect[1 + i][1];
  int scr = pickscr(opts.c_str(), lefts, ns);
  logprintf("Cmdlin %d ch <%s> (%d,%d) screen %d\n", static_cast<int>(opts.size()), opts.c_str(),
            static_cast<int>(nscreens), static_cast<int>(mainscreen), scr);
  mainscreen = static_cast<int16_t>(scr);
  scrnop();
  // 5. The scratch top, and the debug unit "jj" when tracing is on.
  setscr(std::max<int32_t>(1000, stkbot() + SCRATCH_GAP));
  if (trcmsk != 0 && dbglun <= 1) {
    int u = openf("jj", UM_CREATE | UM_TEXT, 512);
    if (u > 0)
      dbglun = static_cast<int16_t>(u);
    else
      jprintf(1, "Debug = %d -- output file open error\n", static_cast<int>(trcmsk));
  }
  // 6. Windows, menu bar, cursors.
  initWins();
  nopwin();
  mkmenubar();
  mkcursors();
  // 7. The fatal-signal trap; Ctrl-C arrives as a key.
  fpetrp();
  coninit();
  // 8. Ready.
  state = 0;
  logprintf("cmdlin %d: <%s>\n", static_cast<int>(text.size()), text.c_str());
  if (logfp) std::fflush(logfp);
  // 9. The start-up macros "sysstart" and "start" run through the macro
  // module once it exists; without them both phases end at once.
  int run = 0;
  if (Runmac(128) == 0) {
    macmod |= 0x800;
    run = 1;
  } else {
    Endstart(0x800);
    if (Runmac(8) == 0) {
      macmod |= 0x1000;
      run = 1;
    } else {
      Endstart(0x1000);
    }
  }
  state = run ? 0x0008 : 0;
}

int Endstart(int flags) {
  std::string sysdir = strvar("sysdir"), path = strvar("path");
  logprintf("endstart(%d) sysdir<%s>\n  path<%s>\n", flags, sysdir.c_str(), path.c_str());
  if (flags & 0x800) Alertb(nullptr, nullptr, -1, nullptr, nullptr, 0, 0, 0, 0);  // the start alert
  if (flags & 0x1000) {
    // The command windows are shown (they exist from initWins on).
  }
  return 0;
}

int runmain() {
  MAIN();
  return 0;
}

// ---------------------------------------------------------------------------
// Shutdown.

int quit(int ask) {
  if (ask) {
    // Cancel (button 1) keeps the program running; Quit (2) goes on.
    if (Alertb("Please confirm QUIT?\n", "Cancel;!Quit", 0, "Confirm", nullptr, 0, 0, 0, 0) != 2)
      return 0;
    if (ask >= 2) return 1;
  }
  if (!macmod && !(state & ST_QUIT)) {
    std::string qs = strvar("quitstr");
    if (!qs.empty()) {
      xeqstr(qs.c_str(), 0, 0);
      state |= ST_QUIT;
      return 0;
    }
  }
  finish(0);
}

void finish(int status) {
  // The Ctrl-C that may have asked for the end interrupts none of the
  // closing work: output is written whole, the status line too.
  state &= ~ST_INTR;
  mcstop(0, 0);  // acquisition stops first
  // A timed run that the end comes in (end of input at its key wait) makes
  // the files it writes, as a stopped run does.
  if (tmofinish) tmofinish();
  vlsync();
  scrrst();
  if (hstack_end > HIMEM_BASE) highmem(-1);
  for (int i = 0; i < NCOMSLOT; i++) closef(100 + i, 0);
  // The units are closed here, where a failure can still be said: rows
  // that could not be written end the program with a status that says so.
  if (clsall() > 0 && status == 0) status = 1;
  if (status != 0) jprintf(1, "finish status: %d\n", status);
  if (status >= 10) dmpcor(0);
  rowend();  // output that ended without its newline
  endwin();
  // Standard output that could not take what was written (a full disk,
  // /dev/full) fails the run, with its cause on standard error.
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int e = errno ? errno : conouterr();
    std::fprintf(stderr, "pelix: standard output could not be written%s%s\n", e ? ": " : "", e ? std::strerror(e) : "");
    if (status == 0) status = 1;
  }
  std::exit(status);
}

// ---------------------------------------------------------------------------
// Dump files.

namespace {
void put16(uint8_t* b, int off, uint32_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* b, int off, uint32_t v) {
  put16(b, off, v & 0xFFFF);
  put16(b, off + 2, v >> 16);
}
void putdesc(uint8_t* b, int off, const StkDesc& d) {
  put32(b, off, static_cast<uint32_t>(d.lowest));
  put32(b, off + 4, static_cast<uint32_t>(d.bot));
  put32(b, off + 8, static_cast<uint32_t>(d.freew));
  put32(b, off + 12, static_cast<uint32_t>(d.end));
}

bool wrall(int fd, const uint8_t* b, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, b, n);
    if (w <= 0) return false;
    b += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Writes text with raw writes.
void wrtext(int fd, const char* s) { wrall(fd, reinterpret_cast<const uint8_t*>(s), std::strlen(s)); }

volatile std::sig_atomic_t infatal = 0;

void onfatal(int sig) {
  // A second fault while dumping ends the program at once.
  if (infatal) _exit(128 + sig);
  infatal = 1;
  conrestore();  // the terminal gets its own settings back
  outsave();     // what was printed before the fault stays on standard output
  if (sig == SIGFPE) {
    wrtext(2, "\nFloating pt error\n");
  } else {
    char msg[] = "\nFatal signal 00\n";
    msg[14] = static_cast<char>('0' + (sig / 10) % 10);
    msg[15] = static_cast<char>('0' + sig % 10);
    wrtext(2, msg);
  }
  wrtext(2, "Stack dump in file: CORE\n");
  int fd = ::open("core", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    wrcore(fd);
    ::close(fd);
  }
  fd = ::open("coredbg", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    wrtext(fd, sig == SIGFPE ? "Floating pt error\n" : "Fatal signal\n");
    ::close(fd);
  }
  wrtext(2, "    Debug text in file: COREDBG\n");
  _exit(128 + sig);
}
}  // namespace

int wrcore(int fd) {
  uint8_t r[512];
  // Record 0: the interpreter state.
  std::memset(r, 0, sizeof r);
  put32(r, 0, 0);  // the low stack's base: a machine address has no meaning here
  put32(r, 4, static_cast<uint32_t>(stkbot()));
  put32(r, 8, static_cast<uint32_t>(scrtop));
  put32(r, 12, static_cast<uint32_t>(htmptop));
  put32(r, 16, static_cast<uint32_t>(hstack_end));
  put32(r, 20, static_cast<uint32_t>(nturns));
  put32(r, 24, 0);  // the current macro frame
  put32(r, 28, static_cast<uint32_t>(nerrtn));
  putdesc(r, 40, lstk);
  putdesc(r, 60, hstk);
  put16(r, 80, static_cast<uint32_t>(state));
  put16(r, 82, static_cast<uint32_t>(maclin));
  put16(r, 84, macmod);
  put16(r, 86, 0);
  put16(r, 88, static_cast<uint32_t>(inunit));
  put16(r, 90, static_cast<uint32_t>(lstlun));
  put16(r, 92, devflg);
  put16(r, 94, 0);
  put32(r, 120, static_cast<uint32_t>(pflags));
  put32(r, 124, static_cast<uint32_t>(aflags));
  put32(r, 128, static_cast<uint32_t>(trcmsk));
  put32(r, 132, static_cast<uint32_t>(jdebug));
  put16(r, 136, static_cast<uint32_t>(obase));
  put16(r, 138, static_cast<uint32_t>(ibase));
  put16(r, 140, static_cast<uint32_t>(errlun));
  put16(r, 142, static_cast<uint32_t>(dbglun));
  put16(r, 144, static_cast<uint32_t>(jrnlun));
  put32(r, 190, 0);
  put16(r, 194, static_cast<uint32_t>(maclev));
  bool ok = wrall(fd, r, sizeof r);
  // Record 1: the parse state.
  std::memset(r, 0, sizeof r);
  put16(r, 0, prsflg);
  put16(r, 2, static_cast<uint32_t>(nargw));
  put16(r, 4, static_cast<uint32_t>(qflag));
  put16(r, 6, static_cast<uint32_t>(lsttok));
  put16(r, 8, static_cast<uint32_t>(pendrd));
  put16(r, 10, static_cast<uint32_t>(pendct));
  std::memcpy(r + 20, linbuf, 230);
  for (int i = 0; i < MAXARG; i++) put16(r, 280 + 2 * i, static_cast<uint32_t>(argmap[i]));
  for (int i = 0; i < MAXARG; i++) put16(r, 360 + 2 * i, static_cast<uint32_t>(pendng[i]));
  ok = wrall(fd, r, sizeof r) && ok;
  // Record 2: the command word table.
  std::memset(r, 0, sizeof r);
  for (int e = 0; e < NWORDS && e * 16 < 512; e++) {
    const WORD& w = wrdtab[e];
    put16(r, e * 16, static_cast<uint16_t>(w.type));
    put16(r, e * 16 + 2, static_cast<uint16_t>(w.depth));
    put16(r, e * 16 + 4, static_cast<uint16_t>(w.v1));
    put16(r, e * 16 + 6, static_cast<uint16_t>(w.v2));
    std::memcpy(r + e * 16 + 8, w.b, 8);
  }
  ok = wrall(fd, r, sizeof r) && ok;
  // Record 3: further globals.
  std::memset(r, 0, sizeof r);
  put32(r, 0, static_cast<uint32_t>(dfltq.blk));
  put32(r, 4, static_cast<uint32_t>(dfltq.rd));
  put32(r, 8, static_cast<uint32_t>(dfltq.len));
  put32(r, 12, static_cast<uint32_t>(typq.blk));
  put32(r, 16, static_cast<uint32_t>(typq.rd));
  put32(r, 20, static_cast<uint32_t>(typq.len));
  put16(r, 24, static_cast<uint32_t>(savlst));
  ok = wrall(fd, r, sizeof r) && ok;
  // The low stack from word 0, 128 words a record, while a record starts
  // below word 200000; words past the end of the stack are zeros.
  for (int32_t a = 0; a < 200000; a += 128) {
    std::memset(r, 0, sizeof r);
    for (int k = 0; k < 128; k++) {
      int32_t w = a + k;
      if (lowstk && w < lstk.end) put32(r, 4 * k, lowstk[w]);
    }
    ok = wrall(fd, r, sizeof r) && ok;
  }
  return ok ? 0 : -1;
}

int dmpcor(int debug) {
  jprintf(1, "Stack dump in file: CORE\n");
  int fd = ::open("core", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    wrcore(fd);
    ::close(fd);
  }
  if (debug) {
    for (int u = 5; u < NUNITS; u++) {
      if (filtab[u].Nlinks != 0) continue;
      int got = openf("coredbg", UM_CREATE | UM_TEXT, 0);
      if (got > 0) {
        jprintf(1, "    Debug text in file: COREDBG\n");
        dbglun = static_cast<int16_t>(got);
        trcmsk = 0x7FFF;
      }
      break;
    }
  }
  state |= ST_QUIT;
  return 0;
}

int fpetrp() {
  // Floating-point exceptions stay masked: arithmetic gives infinities and
  // NaNs, never a trap.
  std::feclearexcept(FE_ALL_EXCEPT);
  struct sigaction sa {};
  sa.sa_handler = onfatal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  for (int s : {SIGFPE, SIGSEGV, SIGBUS, SIGILL, SIGABRT}) sigaction(s, &sa, nullptr);
  // A file grown past the process's size limit fails its write (EFBIG),
  // which is reported as any failed write is; the signal would end the
  // program and lose what it holds. (The program entry ignores it from the
  // start; a start-up without it does so here.)
  signal(SIGXFSZ, SIG_IGN);
  return 0;
}

// ---------------------------------------------------------------------------
// The menu file.

int inimnu(int create) {
  std::string name = strvar("menufile");
  if (name.size() > 300) name.resize(300);
  if (name.empty()) name = std::string(strvar("sysdir")) + "MENUS";
  if (mnulun > 0) closef(mnulun, 0);
  mnulun = -1;
  int u = openf(name.c_str(), 0x18, 512);
  if (u < 0 && create) {
    // Made, then opened again for reading and writing both.
    u = openf(name.c_str(), 0x98, 512);
    if (u > 0) {
      closef(u, 0);
      u = openf(name.c_str(), 0x18, 512);
    }
    if (u < 0) {
      error(0, 97);
      return -1;
    }
  }
  if (u < 0) return -1;
  std::memset(mnuhdr, 0, sizeof mnuhdr);
  int n = rdblk(u, 0, mnuhdr, 32, 0);
  bool empty = n <= 0 || std::all_of(mnuhdr, mnuhdr + 32, [](uint8_t c) { return c == 0; });
  if (empty) {
    std::memcpy(mnuhdr, "#PLXMNU", 8);
    put16(mnuhdr, 8, 10);
    put16(mnuhdr, 10, 0);
    put32(mnuhdr, 12, 320);
    put32(mnuhdr, 16, 0);
    put32(mnuhdr, 20, 0x2820);
  } else if (std::memcmp(mnuhdr, "#PLXMNU", 7) != 0) {
    closef(u, 0);
    error(0, 97);
    return -1;
  }
  mnulun = static_cast<int16_t>(u);
  return u;
}

// ---------------------------------------------------------------------------
// Nested input.

namespace {
// Context record (7 words in an 8-word headed block): the saved default
// queue, macro mode, macro level, macro frame and the link to the previous
// record.
struct Ctx {
  PendQ q;
  int32_t mode;
  int32_t level;
  int32_t frame;
  int32_t link;
};
static_assert(sizeof(Ctx) == 28);
int32_t ctxtop = 0;
}  // namespace

namespace {
// Saves the context of nested input (the running macro, the queued text)
// and starts a level of its own. 0, or -1 when no room.
int pushctx() {
  int32_t a = 0;
  if (getstk(&a, 8, 4, 1, 0) < 1 || a <= 0) return -1;
  auto* c = static_cast<Ctx*>(stkptr(a));
  std::memset(c, 0, sizeof *c);
  // A running macro is suspended behind a frame without a file.
  if (macmod) Runmac(256);
  c->mode = macmod;
  c->level = maclev;
  c->frame = frmadr;
  macmod = 0;
  maclev = 0;
  if (qpend(&dfltq)) {
    c->q = dfltq;
    dfltq = PendQ{};
    state &= ~ST_QUEUED;
    qflag = 0;
  }
  c->link = ctxtop;
  ctxtop = a;
  return 0;
}

// Puts the unread text of q in front of the default queue's (a new line
// between them) and frees q's block. The joined block is taken before the
// old ones are freed.
void qfront(PendQ* q) {
  if (!qpend(q)) {
    clrpst(q);
    return;
  }
  if (!qpend(&dfltq)) {
    clrpst(&dfltq);
    dfltq = *q;
    *q = PendQ{};
    return;
  }
  std::string now = static_cast<const char*>(stkptr(q->blk)) + q->rd;
  now += '\n';
  now += static_cast<const char*>(stkptr(dfltq.blk)) + dfltq.rd;
  int32_t b = 0;
  if (getstk(&b, static_cast<int32_t>(now.size()) + 1, 1, 1, 0) < 1 || b <= 0) {
    clrpst(q);
    return;
  }
  std::memcpy(stkptr(b), now.c_str(), now.size() + 1);
  clrpst(q);
  clrpst(&dfltq);
  dfltq = PendQ{b, 0, static_cast<int32_t>(now.size()) + 1};
}

// Restores the last saved context: the text queued meanwhile runs first,
// then the saved text; a suspended macro goes on after them. The text
// queued meanwhile (a dialog button's commands after the one that closed
// the dialog) is kept aside while the macro's frame brings back the queues
// it saved, so that none of it is lost.
void popctx() {
  if (ctxtop <= 0) return;
  int32_t a = ctxtop;
  Ctx c = *static_cast<Ctx*>(stkptr(a));
  ctxtop = c.link;
  PendQ now = dfltq;
  dfltq = PendQ{};
  frmadr = c.frame;
  macmod = static_cast<uint16_t>(c.mode);
  maclev = static_cast<int16_t>(c.level);
  // A restored macro pops the frame it was suspended behind and reopens
  // its file.
  if (macmod) {
    popmac();
    mreopn();
  }
  qfront(&c.q);
  qfront(&now);
  if (qpend(&dfltq)) {
    state |= ST_QUEUED;
    qflag = 1;
  } else {
    qflag = 0;
  }
  freblk(a);
}
}  // namespace

int modctx(int enter) {
  const bool nest = enter & MODNEST;
  if (enter & 0x4000) {
    if (!nest && (pflags & 0x4000)) return 0;
    if (pushctx() < 0) return -1;
    pflags |= 0x4000;
    return 0;
  }
  if (nest) {
    // One level ends; nested input with the last.
    popctx();
    if (ctxtop <= 0) pflags &= ~0x4000;
    return 0;
  }
  if (!(pflags & 0x4000)) return 0;
  while (ctxtop > 0) popctx();
  pflags &= ~0x4000;
  return 0;
}

