// Shared set-up for the word-memory tests: a fresh low stack (the real one,
// or a small one of the test's own), no high memory, no trace bits.
#pragma once
#include "core/args.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

class Mem : public ::testing::Test {
 protected:
  void SetUp() override {
    freshinterp();
    saved_ = lowstk;
    savedl_ = lstk;
    fresh(lowstk, savedl_.end);
  }
  void TearDown() override {
    trcmsk = 0;
    state = 0;
    highmem(-1);
    himemflag = 0;
    lowstk = saved_;
    lstk = savedl_;
    fresh(lowstk, lstk.end);
  }
  // Makes `words` words at `base` the low stack, empty.
  static void fresh(uint32_t* base, int32_t words) {
    lowstk = base;
    std::memset(lowstk, 0, static_cast<size_t>(words) * 4);
    lstk = {words, 0, words, words};
    // Nothing another test left behind may point into the wiped stack or
    // keep error lines from the terminal.
    trcmsk = 0;
    state = 0;
    pflags = 0;
    lstlun = errlun = dbglun = outlun = 1;
    loglun = -1;
    regadr = -1;
    cursym = glbsym = syssym = defsym = 0;
    rststk();
  }
  // Switches to a small low stack of the test's own.
  void small(int32_t words) {
    own_.assign(static_cast<size_t>(words), 0);
    fresh(own_.data(), words);
  }

  std::vector<uint32_t> own_;
  uint32_t* saved_ = nullptr;
  StkDesc savedl_{};
};

// Walks a chain and checks everything the allocator promises: sizes even
// and at least 2, the walk ends on the chain's end, no two free blocks side
// by side, no free block at the open end, and the free-word count exact.
inline ::testing::AssertionResult chainok(const StkDesc& d) {
  bool high = &d == &hstk;
  int64_t end = high ? d.bot : d.end;
  int64_t p = d.lowest, freeblk = 0;
  bool prevfree = false, lastfree = false, first = true, firstfree = false;
  while (p < end) {
    uint32_t* h = static_cast<uint32_t*>(stkptr(static_cast<int32_t>(p)));
    int64_t s = static_cast<int32_t>(h[0]);
    if (s < 2 || (s & 1)) return ::testing::AssertionFailure() << "bad size " << s << " at " << p;
    bool fr = h[1] == 0;
    if (fr && prevfree) return ::testing::AssertionFailure() << "unmerged free blocks at " << p;
    if (first) firstfree = fr;
    first = false;
    if (fr) freeblk += s;
    prevfree = lastfree = fr;
    p += s;
  }
  if (p != end) return ::testing::AssertionFailure() << "walk ends at " << p << " not " << end;
  if (!high && firstfree) return ::testing::AssertionFailure() << "lowest block free";
  if (high && lastfree) return ::testing::AssertionFailure() << "last block free";
  int64_t gap = high ? (int64_t)d.end - d.bot : (int64_t)d.lowest - d.bot;
  if (gap + freeblk != d.freew)
    return ::testing::AssertionFailure() << "free words " << d.freew << " != " << gap + freeblk;
  return ::testing::AssertionSuccess();
}

inline uint32_t* hdr(int32_t data) { return static_cast<uint32_t*>(stkptr(data - 2)); }
