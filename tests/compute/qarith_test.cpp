// The fast typed paths against the element loop: every operator they take,
// every whole-byte word size code of operands and destination, arrays and
// single values, windows, aflags on and off, and the values at each edge
// (missing, -0.0, infinities, NaN, 32767 +- 1, 2^24 + 1, the most negative
// 32-bit value). Each operation runs with the fast paths forced off and on;
// the destinations must hold the same bytes.
#include <cmath>
#include <limits>

#include "compute/qarith.h"
#include "compute/qkern.h"
#include "ui/platform/console.h"

#include <csignal>
#include "tests/compute/expr_fixture.h"

namespace {

constexpr float INF = std::numeric_limits<float>::infinity();

// Raw items at the edges of each word size.
std::vector<uint32_t> edges(int w) {
  auto f = [](float x) { return fb(x); };
  switch (w) {
    case 8:
      return {0, 1, 2, 3, 7, 100, 127, 128, 200, 254, 255, 10, 20, 5, 250, 64};
    case 16:
      return {0, 1, s16(-1), 0x8000, 32767, s16(-32767), 32766, 30000, s16(-30000), 5, 255, 256,
              3, s16(-5), 100, 16384};
    case 32:
      return {0, 1, 0xFFFFFFFF, 0x80000000, 16777217, 16777216, static_cast<uint32_t>(-16777217),
              0x7FFFFFFF, 0x80000001, 32767, 32768, static_cast<uint32_t>(-32768), 65536, 100000, 3,
              7};
    default:
      return {f(0.0f), f(-0.0f), f(1), f(-1), f(2.5f), f(-2.5f), f(INF), f(-INF), 0x7FC00000,
              0x7F800001, f(32767), f(32768), f(-32768), f(16777216), f(1e10f), f(0.5f)};
  }
}

// Windows on the operands and the destination: items of the operation,
// operand variable shape and window, destination shape and window.
struct Layout {
  int32_t n;
  uint32_t ax, ay, wx0, wnx, wy0, wny;  // operands (ay 0: one dimension)
  uint32_t dx, dy, dx0, dnx, dy0, dny;  // destination
};
const Layout layouts[] = {
    {16, 16, 0, 0, 16, 0, 0, 16, 0, 0, 16, 0, 0},  // whole arrays
    {9, 6, 4, 1, 3, 1, 3, 5, 5, 2, 3, 1, 3},        // inner windows, row by row
    {12, 6, 4, 0, 6, 1, 2, 12, 0, 0, 12, 0, 0},     // whole rows of an image
};

class Qpaths : public Expr {
 protected:
  void TearDown() override {
    qpaths = true;
    Expr::TearDown();
  }

  // A variable of word size w (an image when ay > 0) whose data holds the
  // edge items from `seed` on.
  int32_t mkvar(const char* name, int w, const Layout& L, int seed) {
    int32_t e = decl(name, L.ay ? K_IMAGE : K_ARRAY, w);
    int32_t items = static_cast<int32_t>(L.ax * (L.ay ? L.ay : 1));
    mkstore(e, items, L.ay ? L.ax : 0, L.ay ? L.ay : 1);
    std::vector<uint32_t> v = edges(w);
    uint8_t* p = data(e);
    for (int32_t i = 0; i < items; i++) {
      uint32_t u = v[static_cast<size_t>((i * 7 + seed) % 16)];
      std::memcpy(p + i * (w == 8 ? 1 : w == 16 ? 2 : 4), &u, w == 8 ? 1 : w == 16 ? 2 : 4);
    }
    return e;
  }
  static uint8_t* data(int32_t e) {
    SymEnt* s = symptr(e);
    uint32_t* h = wordp(s->data);
    return static_cast<uint8_t*>(stkptr((s->flags & K_HDR) ? static_cast<int32_t>(h[3]) : s->data));
  }
  static int64_t nbytes(int32_t e) {
    SymEnt* s = symptr(e);
    return (static_cast<int64_t>(s->value) * (s->type & 63) + 7) / 8;
  }
  // The record of variable e through the layout's operand (or destination)
  // window.
  int32_t view(int32_t e, const Layout& L, bool dest) {
    int32_t h = rec(e);
    if (dest ? L.dy : L.ay)
      win(h, dest ? L.dx0 : L.wx0, dest ? L.dnx : L.wnx, dest ? L.dy0 : L.wy0,
          dest ? L.dny : L.wny);
    else
      win(h, dest ? L.dx0 : L.wx0, dest ? L.dnx : L.wnx);
    return h;
  }

  // Runs `build` (which returns the postfix list's result) with the fast
  // paths off and on; the destination's bytes and the error state must
  // agree. Returns false after the first difference.
  template <typename F>
  bool same(int32_t dent, int af, const std::string& what, F build) {
    std::vector<uint8_t> got[2];
    int err[2];
    for (int on = 0; on < 2; on++) {
      rststk();
      std::memset(data(dent), 0x5A, static_cast<size_t>(nbytes(dent)));
      state = 0;
      qpaths = on != 0;
      aflags = af;
      build();
      aflags = 0;
      err[on] = state & ST_ERROR;
      got[on].assign(data(dent), data(dent) + nbytes(dent));
    }
    qpaths = true;
    EXPECT_EQ(err[0], err[1]) << what;
    EXPECT_EQ(got[0], got[1]) << what;
    return err[0] == err[1] && got[0] == got[1];
  }
};

const int wsizes[] = {8, 16, 32, 96};
const int codes[] = {115, 107, 113, 114, 116, 117, 118, 119, 120, 121, 122, 123, 124, 126, 127};
// Single values: exact zero, the missing value, a fraction, integers at the
// 16-bit edge, a large value.
const double scalars[] = {0.0, -0.0, 2.5, 3, -1, 32768, 1e10};

}  // namespace

TEST_F(Qpaths, EveryOperatorSizeAndEdgeAsTheLoop) {
  int cases = 0;
  uint32_t done = qdone;
  for (const Layout& L : layouts)
    for (int wd : wsizes)
      for (int wa : wsizes)
        for (int wb : wsizes) {
          TearDown();
          SetUp();
          Layout D = L;
          int32_t dent = decl("d", L.dy ? K_IMAGE : K_ARRAY, wd);
          mkstore(dent, static_cast<int32_t>(L.dx * (L.dy ? L.dy : 1)), L.dy ? L.dx : 0,
                  L.dy ? L.dy : 1);
          int32_t a = mkvar("a", wa, L, 0), b = mkvar("b", wb, L, 5);
          for (int code : codes)
            for (int af : {0, 4})
              for (int form = 0; form < 3; form++) {
                // form 0: two arrays; 1: array op value; 2: value op array.
                if (code == 115 && form == 2) continue;
                for (double s : scalars) {
                  if (form == 0 && s != 0.0) continue;
                  std::string what = "code " + std::to_string(code) + " d" + std::to_string(wd) +
                                     " a" + std::to_string(wa) + " b" + std::to_string(wb) +
                                     " form " + std::to_string(form) + " s " + std::to_string(s) +
                                     " af " + std::to_string(af) + " n " + std::to_string(L.n);
                  bool ok = same(dent, af, what, [&] {
                    int32_t d = view(dent, D, true);
                    int32_t x = view(a, L, false), y = view(b, L, false);
                    int32_t v = num(s, wb == 32 ? 32 : 96);
                    if (code == 115) return eval({d, form == 0 ? x : v, asg()});
                    if (form == 1) y = v;
                    if (form == 2) x = v;
                    return eval({d, x, y, item(code, 2), asg()});
                  });
                  cases++;
                  if (!ok) return;
                }
              }
        }
  EXPECT_GT(cases, 10000);
  EXPECT_GT(qdone - done, static_cast<uint32_t>(cases) / 2);
}

TEST_F(Qpaths, FusedChainsRoundEachIntermediateAsItsTemporary) {
  // d = a * s + b, d = b - a * s, d = (a + b) * s - a, and the same into
  // a temporary: each intermediate is stored as its temporary would be
  // (bytes + bytes gives 16 bits, clamped; 16-bit + 16-bit gives 32 bits).
  uint32_t chains = qchains;
  for (const Layout& L : layouts)
    for (int wd : wsizes)
      for (int wa : wsizes)
        for (int wb : {8, 16, 96}) {
          TearDown();
          SetUp();
          int32_t dent = decl("d", L.dy ? K_IMAGE : K_ARRAY, wd);
          mkstore(dent, static_cast<int32_t>(L.dx * (L.dy ? L.dy : 1)), L.dy ? L.dx : 0,
                  L.dy ? L.dy : 1);
          int32_t a = mkvar("a", wa, L, 3), b = mkvar("b", wb, L, 11);
          for (int af : {0, 4})
            for (double s : {2.5, 300.0, -0.0}) {
              std::string what = "d" + std::to_string(wd) + " a" + std::to_string(wa) + " b" +
                                 std::to_string(wb) + " s " + std::to_string(s) + " af " +
                                 std::to_string(af) + " n " + std::to_string(L.n);
              auto A = [&] { return view(a, L, false); };
              auto B = [&] { return view(b, L, false); };
              auto D = [&] { return view(dent, L, true); };
              bool ok = same(dent, af, what + " a*s+b", [&] {
                return eval({D(), A(), num(s), item(118, 2), B(), item(116, 2), asg()});
              });
              ok = ok && same(dent, af, what + " b-a*s", [&] {
                return eval({D(), B(), A(), num(s), item(118, 2), item(117, 2), asg()});
              });
              ok = ok && same(dent, af, what + " (a+b)*s-a", [&] {
                return eval({D(), A(), B(), item(116, 2), num(s), item(118, 2), A(), item(117, 2),
                             asg()});
              });
              // The destination is an operand of the deferred product.
              ok = ok && same(a, af, what + " a=a*s+b", [&] {
                return eval({view(a, L, false), A(), num(s), item(118, 2), B(), item(116, 2),
                             asg()});
              });
              // Into a temporary, copied into d afterwards.
              ok = ok && same(dent, af, what + " temp", [&] {
                int32_t t = eval({A(), B(), item(116, 2), num(s), item(119, 2)});
                return t ? eval({D(), t, asg()}) : 0;
              });
              if (!ok) return;
            }
        }
  EXPECT_GT(qchains - chains, 1000u);
}

TEST_F(Qpaths, DeclinesKeepTheLoopsResult) {
  // A multi-element operand shorter than the destination: the loop repeats
  // the last result; a scalar with a scalar fills the destination; a
  // destination that is an operand through another window goes through a
  // temporary. (Untouched items keep the 0x5A bytes same() fills in.)
  int32_t a = arr("a", 16, {1, 2, 3, 4, 5});
  int32_t d = arr("d", 16, std::vector<double>(10, 0));
  EXPECT_TRUE(same(d, 0, "short", [&] {
    return eval({win(rec(d), 0, 8), rec(a), num(1), item(116, 2), asg()});
  }));
  EXPECT_EQ(vals(d), (std::vector<double>{2, 3, 4, 5, 6, 6, 6, 6, 23130, 23130}));
  EXPECT_TRUE(same(d, 0, "scalars", [&] {
    return eval({win(rec(d), 0, 8), num(2), num(3), item(118, 2), asg()});
  }));
  EXPECT_EQ(vals(d), (std::vector<double>{6, 6, 6, 6, 6, 6, 6, 6, 23130, 23130}));
  std::vector<double> before = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  put(d, before);
  EXPECT_TRUE(same(d, 0, "other window", [&] {
    put(d, before);
    return eval({win(rec(d), 0, 8), win(rec(d), 1, 8), num(1), item(116, 2), asg()});
  }));
  EXPECT_EQ(vals(d), (std::vector<double>{3, 4, 5, 6, 7, 8, 9, 10, 9, 10}));
}

TEST_F(Qpaths, SubByteCopiesAsTheLoop) {
  // Bit fields, crumbs and nibbles: a single value repeated, or items of
  // the same size, through windows whose x origin and extent are whole
  // bytes or not.
  const uint32_t wins[][2] = {{0, 32}, {8, 16}, {4, 12}, {3, 8}, {2, 30}};
  uint32_t done = qdone;
  for (int w : {1, 2, 4}) {
    TearDown();
    SetUp();
    int32_t d = decl("d", K_ARRAY, w), a = decl("a", K_ARRAY, w);
    mkstore(d, 32);
    mkstore(a, 32);
    for (int i = 0; i < 16; i++) data(a)[i] = static_cast<uint8_t>(i * 37 + 11);
    for (const auto& wn : wins)
      for (int af : {0, 4}) {
        std::string what = "w" + std::to_string(w) + " win " + std::to_string(wn[0]) + "+" +
                           std::to_string(wn[1]) + " af " + std::to_string(af);
        bool ok = same(d, af, what, [&] {
          return eval({win(rec(d), wn[0], wn[1]), win(rec(a), wn[0], wn[1]), asg()});
        });
        for (double s : {0.0, 1.0, 3.0, 2.5, 15.0, 300.0, -1.0, -0.0})
          ok = ok && same(d, af, what + " value " + std::to_string(s), [&] {
            return eval({win(rec(d), wn[0], wn[1]), num(s), asg()});
          });
        if (!ok) return;
      }
  }
  EXPECT_GT(qdone - done, 50u);
}

TEST_F(Qpaths, KernelSetsAgree) {
  // The widest instruction set the processor offers gives the baseline's
  // bits for every edge pair.
  const QKern &k = qkern(), &b = qkbase();
  std::vector<float> x, y;
  for (int w : wsizes)
    for (uint32_t u : edges(w)) {
      float f;
      b.load(w, &u, &f, 1);
      x.push_back(f);
    }
  for (size_t i = 0; i < x.size(); i++) y.push_back(x[(i * 11 + 3) % x.size()]);
  int n = static_cast<int>(x.size());
  for (int code : codes) {
    if (code == 115) continue;
    std::vector<float> r1(x.size()), r2(x.size());
    k.binary(code, x.data(), 0, y.data(), 0, r1.data(), n);
    b.binary(code, x.data(), 0, y.data(), 0, r2.data(), n);
    EXPECT_EQ(0, std::memcmp(r1.data(), r2.data(), r1.size() * 4)) << code;
    for (int w : wsizes)
      for (bool nc : {false, true}) {
        std::vector<uint8_t> s1(x.size() * 4), s2(x.size() * 4);
        k.store(w, r1.data(), s1.data(), n, nc);
        b.store(w, r1.data(), s2.data(), n, nc);
        EXPECT_EQ(s1, s2) << code << " " << w << " " << nc;
      }
  }
}

TEST_F(Qpaths, RunnerLoops) {
  // The real-time runner's loops: integer arithmetic of the element type;
  // a value of count 1 stays in place; a zero divisor gives 0; the most
  // negative 32-bit value divided by -1 gives the dividend.
  uint8_t a8[3] = {200, 10, 7}, b8 = 100, d8[3];
  qarit8(116, a8, &b8, d8, 3, 1, 3);
  EXPECT_EQ(std::vector<int>(d8, d8 + 3), (std::vector<int>{255, 110, 107}));
  aflags = 4;
  qarit8(116, a8, &b8, d8, 3, 1, 3);
  EXPECT_EQ(d8[0], 44);
  aflags = 0;
  uint8_t z8 = 0;
  qarit8(119, a8, &z8, d8, 3, 1, 3);
  EXPECT_EQ(std::vector<int>(d8, d8 + 3), (std::vector<int>{0, 0, 0}));
  int16_t a16[2] = {30000, -30000}, b16[2] = {30000, 30000}, d16[2];
  qarit16(116, a16, b16, d16, 2, 2, 2);
  qarit16(117, a16 + 1, b16, d16 + 1, 1, 1, 1);
  EXPECT_EQ(d16[0], 32767);
  EXPECT_EQ(d16[1], -32767);
  int32_t a32[2] = {INT32_MIN, 7}, m1 = -1, d32[2];
  qarit32(119, a32, &m1, d32, 2, 1, 2);
  EXPECT_EQ(d32[0], INT32_MIN);
  EXPECT_EQ(d32[1], -7);
  float af[2] = {3, -5}, zf = 0, df[2];
  qaritf(119, af, &zf, df, 2, 1, 2);
  EXPECT_EQ(df[0], 0.0f);
  uint8_t px[8] = {10, 250, 0, 128, 1, 2, 3, 4}, dp[8];
  int16_t k = 20;
  EXPECT_EQ(qaddrgb(116, px, &k, dp, 2, 1, 2, 32, 16), 0);
  EXPECT_EQ(std::vector<int>(dp, dp + 4), (std::vector<int>{30, 255, 20, 148}));
  EXPECT_EQ(qaddrgb(118, px, &k, dp, 2, 1, 2, 32, 16), -1);
  int16_t f16[4];
  fillval(0x12345, f16, 16, 4);
  EXPECT_EQ(f16[3], 0x2345);
  EXPECT_EQ(bitcnt(0xF0F), 8);
  EXPECT_EQ(bitcnt(-1), 0);
}

TEST_F(Qpaths, StoppedResultInNewStorageIsCleared) {
  // An image destination is made anew for the result and not cleared
  // first; a Ctrl-C that stops the operation leaves it cleared, never
  // holding what its words held before. (The new storage is made while the
  // old one is still held: it takes the freed storage of a third image.)
  coninit();
  const uint32_t side = 300;
  std::vector<double> ones(side * side, 1.0), nines(side * side, 9.0);
  int32_t a = var("a", K_IMAGE, 16, ones, side, side);
  int32_t d = var("d", K_IMAGE, 16, nines, side, side);
  int32_t g = var("g", K_IMAGE, 16, nines, side, side);
  erasvb(symptr(g));
  pausehk = [] {
    std::raise(SIGINT);
    return 0;
  };
  eval({rec(d), rec(a), num(1), item(116, 2), asg()});
  EXPECT_TRUE(state & ST_INTR);
  std::vector<double> got = vals(d);
  ASSERT_EQ(got.size(), ones.size());
  for (size_t j = 0; j < got.size(); j++)
    if (got[j] != 0) {
      ADD_FAILURE() << "item " << j << " is " << got[j];
      break;
    }
}

TEST_F(Qpaths, LargeOperationsSharedByThreads) {
  // From 1M items a few threads share the work: the same bytes as the
  // loop, and a Ctrl-C still stops it.
  ASSERT_EQ(highmem(16384), 0);
  const int32_t n = (1 << 20) + 4099;
  auto big = [&](const char* name, int w) {
    int32_t e = decl(name, K_ARRAY, w, 0x4000);
    mkstore(e, n);
    uint8_t* p = data(e);
    for (int32_t i = 0; i < n; i++) {
      auto v = static_cast<uint16_t>((static_cast<uint32_t>(i) * 7919u) & 0xFFFF);
      std::memcpy(p + 2 * i, &v, 2);
    }
    return e;
  };
  int32_t a = big("a", 16), b = big("b", 16), d = big("d", 16);
  ASSERT_GE(symptr(a)->data, HIMEM_BASE);
  uint32_t done = qdone;
  EXPECT_TRUE(same(d, 0, "sum", [&] { return eval({rec(d), rec(a), rec(b), item(116, 2), asg()}); }));
  EXPECT_TRUE(same(d, 4, "chain", [&] {
    return eval({rec(d), rec(a), num(2.5), item(118, 2), rec(b), item(117, 2), asg()});
  }));
  EXPECT_EQ(qdone - done, 2u);

  coninit();
  std::memset(data(d), 0x5A, static_cast<size_t>(nbytes(d)));
  pausehk = [] {
    std::raise(SIGINT);
    return 0;
  };
  eval({rec(d), rec(a), rec(b), item(116, 2), asg()});
  EXPECT_TRUE(state & ST_INTR);
  int untouched = 0;
  const auto* p = reinterpret_cast<const uint16_t*>(data(d));
  for (int32_t i = 0; i < n; i++) untouched += p[i] == 0x5A5A;
  EXPECT_GT(untouched, 0);
  EXPECT_EQ(prgtot, 0u);
  state = 0;
  highmem(0);
}
