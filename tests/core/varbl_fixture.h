// Shared set-up for the pointer-record and element-access tests: a fresh
// low stack with a system table, no high memory, no option bits; helpers
// that declare variables and make records for them the way the argument
// access does.
#pragma once
#include "core/blkbuf.h"
#include "tests/support/interp.h"

class Var : public ::testing::Test {
 protected:
  void SetUp() override {
    freshinterp();
    stack_.begin();
    sys = mksystab();
    ASSERT_GT(sys, 0);
    freew = lstk.freew;
  }
  void TearDown() override {
    clrflags();
    stack_.end();
  }
  // Declares a variable without storage: kind flags (0x1000 added), word size.
  static int32_t decl(const char* name, int kind, int wsiz, int extra = 0) {
    return putsym(0, name, static_cast<int>(strlen(name)), kind | 0x1001 | extra, 0, 0, wsiz);
  }
  // The record of a variable as the argument access makes it.
  static PtrRec* rec(int32_t entry, bool scratch = true) { return varrec(entry, scratch); }
  // Sets a record's window.
  static void window(PtrRec* r, uint32_t ox, uint32_t oy, uint32_t nx, uint32_t ny) {
    r->Offs[0] = ox, r->Offs[1] = oy, r->Offs[3] = nx, r->Offs[4] = ny;
  }
  // Makes storage for a fresh named variable of n items (dims for the
  // dimensioned kinds) through asnvrb, as an assignment would.
  static PtrRec* make(int32_t entry, int32_t n, uint32_t nx = 0, uint32_t ny = 1, uint32_t nz = 1) {
    return mkstore(entry, n, nx, ny, nz);
  }

  // A record of no variable over a fresh zeroed block of `bytes` bytes,
  // prepared for writing; its data in *data.
  static PtrRec* raw(int wsiz, int32_t items, int32_t bytes, uint8_t** data) {
    int32_t a = 0;
    EXPECT_GT(getstk(&a, bytes, 1, 1, 0), 0);
    std::memset(stkptr(a), 0, static_cast<size_t>(bytes));
    PtrRec* r = putptr(K_ARRAY, 0, nullptr, 0, wsiz, 1);
    r->Idx = -1;
    r->Addr = static_cast<uint32_t>(a);
    r->Length = items;
    int32_t c, p, t, w;
    gtvarb(r, &c, &p, &t, &w, 115);
    *data = static_cast<uint8_t*>(stkptr(a));
    return r;
  }

  // The low stack's chain walks from the lowest block exactly to the end,
  // and the free-word count matches.
  static ::testing::AssertionResult chain() {
    int64_t a = lstk.lowest, freeb = 0;
    while (a < lstk.end) {
      int64_t sz = static_cast<int32_t>(lowstk[a]);
      if (sz < 2 || (sz & 1)) return ::testing::AssertionFailure() << "bad size at " << a;
      if (lowstk[a + 1] == 0) freeb += sz;
      a += sz;
    }
    if (a != lstk.end) return ::testing::AssertionFailure() << "walk ends at " << a;
    if (static_cast<int64_t>(lstk.lowest) - lstk.bot + freeb != lstk.freew)
      return ::testing::AssertionFailure() << "free words " << lstk.freew;
    return ::testing::AssertionSuccess();
  }

  int32_t sys = 0, freew = 0;
  LowStack stack_;
};
