// rank as the main loop drives it: the width of its indices, and Ctrl-C
// arriving while a long sort runs.
#include "compute/rank.h"

#include "tests/compute/fast_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "compute/expr.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "lang/names.h"
#include "lang/order.h"
#include "lang/parse.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/window.h"

namespace {

// The fixture of the fast-path tests: Ctrl-C on the n-th poll of a long
// loop (keys_.at; 0 never).
class Rank : public FastPaths {
 protected:
  // Evaluates a line's expression as the main loop does; its record.
  PtrRec* run(const char* line) {
    return evalline(line);
  }
  // A declared array of n items of word size w, filled with f(i).
  template <class F>
  static PtrRec* array(const char* name, int w, int32_t n, F f) {
    int32_t e = putsym(0, name, static_cast<int>(std::strlen(name)), K_ARRAY | 0x1001, 0, 0, w);
    SymEnt* s = symptr(e);
    PtrRec* r = putptr(K_ARRAY | K_NAMED, 0, nullptr, 0, w, 1);
    r->Idx = e;
    r->Addr = static_cast<uint32_t>(s->data);
    EXPECT_GE(asnvrb(r, n, nullptr, 0), 0);
    int32_t cnt, part, tot, ws;
    gtvarb(r, &cnt, &part, &tot, &ws, 115);
    for (int32_t i = 0; i < cnt; i++) {
      if (i >= part) DMPVRB(r, &part, 1, i);
      PSTACK(f(i), r);
    }
    DMPVRB(r, &part, 0, 0);
    return r;
  }
  static std::vector<double> items(PtrRec* r, int32_t max = 8) {
    std::vector<double> v;
    int32_t cnt, part, tot, ws;
    gtvarb(r, &cnt, &part, &tot, &ws, 0);
    for (int32_t i = 0; i < cnt && i < max; i++) {
      if (i >= part) LDVARB(r, &part, i);
      v.push_back(GSTACK(r));
    }
    return v;
  }
};

TEST_F(Rank, IndicesAreSixteenBitUpTo32767ElementsElse32Bit) {
  array("a", W_SHORT, 32767, [](int32_t i) { return 32766 - i; });
  array("b", W_BYTE, 32768, [](int32_t i) { return i % 2; });
  PtrRec* r = run("rank(a)");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Wsiz, W_SHORT);
  EXPECT_EQ(items(r, 3), (std::vector<double>{32766, 32765, 32764}));
  // Equal bytes keep their order: the even positions, then the odd ones.
  r = run("rank(b)");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Wsiz, W_LONG);
  EXPECT_EQ(items(r, 3), (std::vector<double>{0, 2, 4}));
  r = run("rank(b, 1)");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(items(r, 3), (std::vector<double>{1, 3, 5}));
}

TEST_F(Rank, CtrlCStopsALongSortAndNothingIsWritten) {
  array("x", W_FLOAT, 70000, [](int32_t i) { return (i * 7919) % 70001; });
  array("d", W_LONG, 70000, [](int32_t) { return 7; });
  keys_.at = 2;
  run("d = rank(x)");
  EXPECT_TRUE(state & ST_INTR);
  EXPECT_GE(keys_.polls, 2);
  EXPECT_EQ(items(run("d"), 3), (std::vector<double>{7, 7, 7}));
  // Without the key the same sort completes.
  keys_.at = 0;
  run("d = rank(x)");
  EXPECT_FALSE(state & 0x8180);
  EXPECT_EQ(items(run("d"), 2), (std::vector<double>{0, 46355}));
}

}  // namespace
