// The function dispatcher and the functions computed inside it, driven as
// the main loop drives them: a command line is parsed and ordered, and its
// expression is evaluated through the argument access, which hands every
// function item to dofunc.
#include "compute/func.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "compute/expr.h"
#include "compute/funcs.h"
#include "compute/genrat.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "lang/names.h"
#include "lang/order.h"
#include "lang/parse.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/platform/backend.h"

namespace {

const char CMDLINE[] = "/opt/lab/pelix";

// Keys from a script instead of the keyboard.
class Keys : public Backend {
 public:
  std::string keys;
  size_t pos = 0;
  int keyin(int how) override {
    if (how == KEY_PEEK) return 0;
    if (pos >= keys.size()) return how == KEY_WAIT ? -1 : 0;
    unsigned char c = static_cast<unsigned char>(keys[pos++]);
    return c == '\n' ? 13 : c;
  }
  void rowout(int, const char*, int) override {}
  void beep() override {}
  bool paging() override { return false; }
};

class Func : public ::testing::Test {
 protected:
  void SetUp() override {
    MakStk();
    savedl_ = lstk;
    std::memset(lowstk, 0, static_cast<size_t>(lstk.end) * 4);
    lstk = {savedl_.end, 0, savedl_.end, savedl_.end};
    tabs_[0] = cursym, tabs_[1] = glbsym, tabs_[2] = syssym, tabs_[3] = defsym;
    reset();
    rststk();
    nameini();
    ASSERT_EQ(mksyms(CMDLINE, static_cast<int>(sizeof CMDLINE - 1)), 0);
    rststk();
    log_ = std::tmpfile();
    ASSERT_NE(log_, nullptr);
    savlog_ = logfp;
    logfp = log_;
    jdebug = 1;
    oldbk_ = setbackend(&keys_);
  }
  void TearDown() override {
    setbackend(oldbk_);
    while (peek()) {
    }
    logfp = savlog_;
    jdebug = 0;
    std::fclose(log_);
    lstsrc = 0;
    lsttok = -1;
    nargw = 0;
    nwords = 0;
    optab = nullptr;
    reset();
    highmem(-1);
    himemflag = 0;
    cursym = tabs_[0], glbsym = tabs_[1], syssym = tabs_[2], defsym = tabs_[3];
    std::memset(lowstk, 0, static_cast<size_t>(lstk.end) * 4);
    lstk = {savedl_.end, 0, savedl_.end, savedl_.end};
    rststk();
  }
  static void reset() {
    state = 0;
    aflags = 0;
    trcmsk = 0;
    pflags = 0x800;  // errors go to the log only
  }

  // Parses and orders a line, then evaluates its expression (argument 1)
  // as the main loop's dispatcher does. The result's record, or null.
  PtrRec* run(const char* line) {
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

  // The "ERROR(arg,code)" lines written to the log since the last call.
  std::vector<std::string> errors() {
    std::vector<std::string> out;
    std::fflush(log_);
    std::fseek(log_, logpos_, SEEK_SET);
    char line[256];
    while (std::fgets(line, sizeof line, log_)) {
      if (std::strncmp(line, "ERROR(", 6) == 0) {
        line[std::strcspn(line, "\n")] = 0;
        out.emplace_back(line);
      }
    }
    logpos_ = std::ftell(log_);
    return out;
  }

  // Declares a variable and stores values into it (a shaped variable gets
  // nx by ny by nz).
  static int32_t declare(const char* name, int kind, int wsiz, const std::vector<double>& v,
                         uint32_t nx = 0, uint32_t ny = 1, uint32_t nz = 1) {
    int len = static_cast<int>(std::strlen(name));
    int32_t e = putsym(0, name, len, kind | 0x1001, 0, 0, wsiz);
    EXPECT_GT(e, 0);
    if (v.empty()) return e;
    PtrRec* r = symrec(e);
    PtrRec* t = nullptr;
    if (nx) {
      uint32_t d[3] = {nx, ny, nz};
      t = putptr(K_SOLID, 0, d, 0, 8, 1);
    }
    EXPECT_GE(asnvrb(r, static_cast<int32_t>(v.size()), t, 0), 0);
    r = symrec(e);
    int32_t cnt, part, tot, ws;
    gtvarb(r, &cnt, &part, &tot, &ws, 115);
    for (int32_t i = 0; i < cnt && i < static_cast<int32_t>(v.size()); i++) {
      if (i >= part) DMPVRB(r, &part, 1, i);
      PSTACK(v[static_cast<size_t>(i)], r);
    }
    DMPVRB(r, &part, 0, 0);
    return e;
  }
  static int32_t text(const char* name, const char* s) {
    std::vector<double> v;
    for (const char* p = s; *p; p++) v.push_back(static_cast<unsigned char>(*p));
    return declare(name, K_STRING, 8, v);
  }
  static PtrRec* symrec(int32_t e) {
    SymEnt* s = symptr(e);
    PtrRec* r = putptr((s->flags & 0x1FF0) | (s->flags & 4), 0, nullptr, 0, s->type, 1);
    r->Idx = e;
    r->Addr = static_cast<uint32_t>(s->data);
    r->Flg2 = s->flags & 0xC00F;
    return r;
  }
  static std::vector<double> items(PtrRec* r) {
    std::vector<double> v;
    if (!r) return v;
    int32_t cnt, part, tot, ws;
    gtvarb(r, &cnt, &part, &tot, &ws, 0);
    for (int32_t i = 0; i < cnt; i++) {
      if (i >= part) LDVARB(r, &part, i);
      v.push_back(GSTACK(r));
    }
    return v;
  }
  static std::vector<double> vals(int32_t e) { return items(symrec(e)); }
  static std::string str(PtrRec* r) {
    std::string s;
    for (double v : items(r)) s.push_back(static_cast<char>(static_cast<int>(v)));
    return s;
  }
  static int wsiz(int32_t e) { return symptr(e)->type; }

  Keys keys_;
  Backend* oldbk_ = nullptr;
  StkDesc savedl_{};
  int32_t tabs_[4] = {};
  FILE* log_ = nullptr;
  FILE* savlog_ = nullptr;
  long logpos_ = 0;
};

void near(const std::vector<double>& got, const std::vector<double>& want, double tol = 1e-6) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got[i], want[i], tol) << "item " << i;
}

TEST_F(Func, Probe) {
  int32_t b = declare("b", K_ARRAY, 16, {1, 4, 9});
  int32_t x = declare("x", K_ARRAY, 96, {});
  (void)b;
  PtrRec* r = run("x = sqrt(b)");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(errors(), std::vector<std::string>{});
  near(vals(x), {1, 2, 3});
}

}  // namespace
