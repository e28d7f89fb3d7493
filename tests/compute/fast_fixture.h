// Shared set-up of the fast-path tests: a fresh interpreter as the main
// loop drives it, declared variables filled by the store rules, and a line
// run with the fast paths off and on whose destination bytes must agree.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "compute/qarith.h"
#include "tests/support/interp.h"

// Ctrl-C on the n-th poll (0: never).
class Poller : public Backend {
 public:
  int at = 0, polls = 0;
  int keyin(int how) override {
    if (how != KEY_PEEK || at == 0) return 0;
    return ++polls == at ? 3 : 0;
  }
  void rowout(int, const char*, int) override {}
  void beep() override {}
  bool paging() override { return false; }
};

class FastPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    stack_.begin();
    clrflags();
    pflags = 0x800;
    ASSERT_EQ(mksys(), 0);
    initWins();
    old_ = setbackend(&keys_);
    clrpeek();
    clrmsgs();
    inreset();
  }
  void TearDown() override {
    qpaths = true;
    setbackend(old_);
    clrpeek();
    clrmsgs();
    inreset();
    clrparse();
    optab = nullptr;
    clrflags();
    stack_.end();
  }

  // A declared variable (an image of nx by n / nx when nx > 0) of word
  // size w holding v (stored by the store rules, or as raw floats).
  static int32_t var(const char* name, int w, const std::vector<double>& v, uint32_t nx = 0,
                     int extra = 0) {
    int kind = nx ? K_IMAGE : K_ARRAY;
    int32_t e = putsym(0, name, static_cast<int>(std::strlen(name)), kind | 0x1001 | extra, 0, 0, w);
    EXPECT_GT(e, 0);
    auto n = static_cast<int32_t>(v.size());
    PtrRec* r = nx ? mkstore(e, n, nx, static_cast<uint32_t>(n) / nx) : mkstore(e, n);
    (void)r;
    putitems(varrec(e), n, [&v](int32_t i) { return v[static_cast<size_t>(i)]; });
    return e;
  }
  // The first byte of a variable's data (behind its header block when it
  // has one, as data in high memory does).
  static uint8_t* data(int32_t e) {
    SymEnt* s = symptr(e);
    uint32_t* h = wordp(s->data);
    return static_cast<uint8_t*>(stkptr((s->flags & K_HDR) ? static_cast<int32_t>(h[3]) : s->data));
  }
  static std::vector<uint8_t> bytes(int32_t e) {
    SymEnt* s = symptr(e);
    const uint8_t* p = data(e);
    return {p, p + static_cast<int64_t>(s->value) * ((s->type & 63) / 8)};
  }
  // Runs the line with the fast paths off and on, the destination filled
  // with 0x5A first; the bytes and the errors must agree.
  bool same(int32_t dest, const std::string& line) {
    std::vector<uint8_t> got[2];
    int err[2];
    for (int on = 0; on < 2; on++) {
      std::memset(data(dest), 0x5A, bytes(dest).size());
      qpaths = on != 0;
      evalline(line.c_str());
      err[on] = state & 0x8180;
      got[on] = bytes(dest);
      state = 0;
    }
    qpaths = true;
    EXPECT_EQ(err[0], err[1]) << line;
    EXPECT_EQ(got[0], got[1]) << line;
    return err[0] == err[1] && got[0] == got[1];
  }

  Poller keys_;
  Backend* old_ = nullptr;
  LowStack stack_;
};
