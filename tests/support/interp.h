// Test support shared by the test executables: a fresh low stack and the
// symbol table heads kept for one test, the system table, the log read back
// for error lines, a command line parsed as the main loop does, records and
// items of declared variables, a scripted terminal, and scratch folders.
// Everything is inline; a fixture composes what it needs.
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lang/alarm.h"
#include "compute/expr.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "lang/macro.h"
#include "lang/names.h"
#include "lang/order.h"
#include "lang/parse.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/window.h"

// --- Stacks and tables ------------------------------------------------------

// The status word and the option, trace and arithmetic flags cleared.
inline void clrflags() {
  state = 0;
  aflags = 0;
  trcmsk = 0;
  pflags = 0;
}

// The heads of the four symbol tables, kept and put back.
struct SymHeads {
  int32_t t[4] = {};
  void keep() { t[0] = cursym, t[1] = glbsym, t[2] = syssym, t[3] = defsym; }
  void back() const { cursym = t[0], glbsym = t[1], syssym = t[2], defsym = t[3]; }
};

// A fresh zeroed low stack of the program's size for one test, with the
// symbol table heads as the test found them. end() gives up high memory,
// puts the heads back and leaves the stack zeroed again.
class LowStack {
 public:
  void begin() {
    MakStk();
    words_ = lstk.end;
    zero();
    heads_.keep();
  }
  void end() {
    highmem(-1);
    himemflag = 0;
    heads_.back();
    zero();
  }

 private:
  void zero() {
    std::memset(lowstk, 0, static_cast<size_t>(words_) * 4);
    lstk = {words_, 0, words_, words_};
    rststk();
  }
  int32_t words_ = 0;
  SymHeads heads_;
};

// The bottom area and the symbol table heads as a test found them on the
// stack in use. back() frees the data blocks the system table's entries
// own, pops the bottom area back to its mark and puts the heads back.
class Bottom {
 public:
  void keep() {
    mark = stkbot();
    heads_.keep();
  }
  void back() {
    const SymTab* h = tabptr(syssym);
    for (uint32_t i = 0; h && i < h->count; i++) {
      SymEnt* e = symptr(symadr(syssym, static_cast<int>(i)));
      if (e->flags != 0 && !(e->flags & SY_NOTOWN) && e->data > 0 && e->data < HIMEM_BASE)
        putstk(e->data, 0, 0);
    }
    pop();
  }
  // Pops the bottom area to the mark and puts the heads back, leaving the
  // system table's data to the test.
  void pop() {
    if (stkbot() > mark) putstk(stkbot(), stkbot() - mark, 4);
    heads_.back();
    rststk();
  }
  int32_t mark = 0;

 private:
  SymHeads heads_;
};

// The command line the tests start the system table with.
constexpr char PROGPATH[] = "/opt/lab/pelix";

// The name tables set up and the system table made as at start-up; 0 when
// it was made.
inline int mksys() {
  nameini();
  int r = mksyms(PROGPATH, static_cast<int>(sizeof PROGPATH - 1));
  rststk();
  return r;
}

// --- The log ------------------------------------------------------------------

// The log routed to a temporary file with the debug echo on, so that the
// error lines it gets can be read back.
class LogFile {
 public:
  // False when no temporary file could be made.
  bool open() {
    f_ = std::tmpfile();
    if (!f_) return false;
    saved_ = logfp;
    logfp = f_;
    jdebug = 1;
    pos_ = 0;
    return true;
  }
  void close() {
    if (!f_) return;
    logfp = saved_;
    jdebug = 0;
    std::fclose(f_);
    f_ = nullptr;
  }
  // The "ERROR(arg,code)" lines written since the last call.
  std::vector<std::string> errors() {
    std::vector<std::string> out;
    if (!f_) return out;
    std::fflush(f_);
    std::fseek(f_, pos_, SEEK_SET);
    char line[256];
    while (std::fgets(line, sizeof line, f_)) {
      if (std::strncmp(line, "ERROR(", 6) == 0) {
        line[std::strcspn(line, "\n")] = 0;
        out.emplace_back(line);
      }
    }
    pos_ = std::ftell(f_);
    return out;
  }

 private:
  FILE* f_ = nullptr;
  FILE* saved_ = nullptr;
  long pos_ = 0;
};

// --- Command lines --------------------------------------------------------

// Parses a command line as the main loop does and, with PF_ORDER, orders
// its expressions; the command code in *code. False when the parser or the
// ordering failed or an error was raised.
inline bool prsline(const char* line, uint16_t flags, int* code) {
  state = 0;
  lstsrc = 0;
  lsttok = -1;
  rststk();
  std::snprintf(linbuf, sizeof linbuf, "%s", line);
  prsflg = flags;
  *code = 0;
  if (PARSLN(static_cast<int>(std::strlen(linbuf)), code) <= 0) return false;
  if ((flags & PF_ORDER) && Aftpro(code) != 0) return false;
  return !(state & ST_ERROR);
}

// Parses and orders a line, then evaluates its expression (argument 1) as
// the main loop's dispatcher does. The result's record, or null.
inline PtrRec* evalline(const char* line) {
  state = 0;
  lstsrc = 0;
  lsttok = -1;
  optab = nullptr;
  rststk();
  std::snprintf(linbuf, sizeof linbuf, "%s", line);
  prsflg = PF_PARSE | PF_ORDER;
  int code = 0;
  EXPECT_GT(PARSLN(static_cast<int>(std::strlen(linbuf)), &code), 0) << line;
  EXPECT_EQ(Aftpro(&code), 0) << line;
  int32_t h = 0;
  argtyp(1, &h);
  return ptrrec(h);
}

// The parser's word table and list state left empty.
inline void clrparse() {
  lstsrc = 0;
  lsttok = -1;
  nargw = 0;
  nwords = 0;
}

// --- Variables and records -----------------------------------------------

// The record of a declared variable as the argument access makes it (in the
// scratch area unless scratch is false).
inline PtrRec* varrec(int32_t entry, bool scratch = true) {
  SymEnt* e = symptr(entry);
  PtrRec* r = putptr((e->flags & 0x1FF0) | (e->flags & 4), 0, nullptr, 0, e->type, scratch);
  r->Idx = entry;
  r->Addr = static_cast<uint32_t>(e->data);
  r->Flg2 = e->flags & 0xC00F;
  return r;
}

// Gives a declared variable storage for n items through asnvrb, as an
// assignment would (nx: the dimensions nx by ny by nz of a shaped kind).
// The record it was made through.
inline PtrRec* mkstore(int32_t entry, int32_t n, uint32_t nx = 0, uint32_t ny = 1, uint32_t nz = 1) {
  PtrRec* r = varrec(entry);
  PtrRec* t = nullptr;
  if (nx) {
    uint32_t d[3] = {nx, ny, nz};
    t = putptr(K_IMAGE, 0, d, 0, 8, 1);
  }
  EXPECT_GE(asnvrb(r, n, t, 0), 0);
  return r;
}

// Stores value(i) into the items 0 .. n - 1 of a record (no more than it
// has) by the store rules of PSTACK.
template <class F>
void putitems(PtrRec* r, int32_t n, F value) {
  int32_t c, p, t, w;
  gtvarb(r, &c, &p, &t, &w, 115);
  for (int32_t i = 0; i < c && i < n; i++) {
    if (i >= p) DMPVRB(r, &p, 1, i);
    PSTACK(value(i), r);
  }
  DMPVRB(r, &p, 0, 0);
}

// Every item of a record read through the element access; none for a null
// record or one without items.
inline std::vector<double> getitems(PtrRec* r) {
  std::vector<double> out;
  int32_t c, p, t, w;
  if (!r || !gtvarb(r, &c, &p, &t, &w, 0)) return out;
  for (int32_t i = 0; i < c; i++) {
    if (i >= p) LDVARB(r, &p, i);
    out.push_back(GSTACK(r));
  }
  return out;
}

// --- The terminal -----------------------------------------------------------

// A terminal of scripted keys that keeps every finished row. Keys in
// pending are there even for a look (KEY_PEEK: already waiting as events);
// keys in typed only for a poll or a wait. With both used up, input has
// ended (-1) when end is set, else nothing came (0).
struct Term : Backend {
  std::deque<int> pending, typed;
  std::vector<std::string> rows;
  bool end = false;
  int waits = 0;  // waits asked for
  int beeps = 0;
  bool pages = false;
  int keyin(int how) override {
    if (!pending.empty()) {
      int k = pending.front();
      pending.pop_front();
      return k;
    }
    if (how == KEY_PEEK) return 0;
    if (how == KEY_WAIT) waits++;
    if (!typed.empty()) {
      int k = typed.front();
      typed.pop_front();
      return k;
    }
    return end ? -1 : 0;
  }
  void rowout(int, const char* text, int n) override { rows.emplace_back(text, n); }
  void beep() override { beeps++; }
  bool paging() override { return pages; }
  // Appends the characters of s to a key queue, a line end as Enter (13).
  static void keys(std::deque<int>& q, const std::string& s) {
    for (unsigned char c : s) q.push_back(c == '\n' ? 13 : c);
  }
};

// The command window made current and blank, its cursor at the start.
inline void blankcmd() {
  setwin(0);
  TxtGrid* g = curgrid();
  std::memset(gridbuf(g), ' ', static_cast<size_t>(g->rowlen) * g->nrows);
  g->orow = g->ocol = 0;
  putcur(0, 0);
}

// Buffer row r of the command window, trailing blanks removed.
inline std::string cmdrow(int r) {
  char t[GRIDCOLS + 1];
  txtget(0, r, t, 0);
  std::string s(t);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// A fresh start for one test, whatever ran before it in the same process
// (test binaries also run shuffled): flags clear, the whole low stack zeroed
// with its descriptor as made, no high memory, the output units on the
// terminal, blank text windows with the cursor home, and no pending input.
inline void freshinterp() {
  clrflags();
  highmem(-1);
  himemflag = 0;
  MakStk();
  const int32_t words = lstk.end;
  std::memset(lowstk, 0, static_cast<size_t>(words) * 4);
  lstk = {words, 0, words, words};
  rststk();
  almhead = 0;  // the alarm list lived on the old stack
  regadr = -1;  // no number registers until a test makes them
  macini();     // no macro running
  lstlun = dbglun = errlun = 1;
  loglun = -1;
  initWins();
  for (int w : {1, 0}) {
    setwin(w);
    if (TxtGrid* g = curgrid()) {
      std::memset(gridbuf(g), ' ', static_cast<size_t>(g->rowlen) * g->nrows);
      putcur(0, 0);
    }
  }
  clrmsgs();
  clrpeek();
  inreset();
}

// A backend installed over fresh windows with the message queue, the
// type-ahead buffer and the input state emptied; end() puts the previous
// backend back and empties them again.
class TermUse {
 public:
  void begin(Backend* b) {
    initWins();
    old_ = setbackend(b);
    clrmsgs();
    clrpeek();
    inreset();
  }
  void end() {
    setbackend(old_);
    clrmsgs();
    clrpeek();
    inreset();
  }

 private:
  Backend* old_ = nullptr;
};

// --- Files --------------------------------------------------------------------

// The whole content of a file (empty when it cannot be read).
inline std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// A fresh empty folder for one test, named prefix and six more characters,
// removed with all it holds at the end; with enter, the working folder
// while it lasts.
class ScratchDir {
 public:
  explicit ScratchDir(const char* prefix, bool enter = false) {
    std::string t = std::string(prefix) + "XXXXXX";
    if (mkdtemp(t.data())) path = t;
    EXPECT_FALSE(path.empty()) << "no folder " << t;
    if (enter && !path.empty()) {
      old_ = std::filesystem::current_path().string();
      EXPECT_EQ(chdir(path.c_str()), 0);
    }
  }
  ~ScratchDir() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) ADD_FAILURE() << "cannot go back to " << old_;
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
    if (ec) ADD_FAILURE() << "cannot remove " << path;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string path;

 private:
  std::string old_;
};
