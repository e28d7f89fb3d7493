// The element loop: every operator and element-wise function, every
// destination word size code, the missing value, clamping at each edge,
// reductions, accum, compress, concatenation and operands of different
// sizes. The case table runs through the element loop directly and through
// the whole evaluator (doexpr and doarth), which will pick the fast typed
// paths where they apply: both must store exactly these items.
#include <csignal>

#include "tests/compute/arith_cases.h"
#include "ui/platform/console.h"

namespace {

int loop(int code, int count, int nops) {
  ariths(code, count, nops);
  return 1;
}

}  // namespace

TEST_F(Expr, ElementLoopCases) { checkall(arcases(), loop); }

// The same cases through the evaluator: a postfix list with the operation
// fused into the assignment of the destination.
TEST_F(Expr, EvaluatorCases) {
  for (const ArCase& c : arcases()) {
    if (c.rcnt) continue;  // a function set-up, not an operator
    TearDown();
    SetUp();
    bool nib = c.dwsiz == 264 || c.dwsiz == 520;
    int32_t dent = decl("cd", K_ARRAY, nib ? 8 : c.dwsiz);
    int32_t d;
    if (c.dn > 0) {
      PtrRec* r = R(rec(dent));
      r->Wsiz = static_cast<int16_t>(c.dwsiz);
      ASSERT_GE(asnvrb(r, c.dn + 2, nullptr, 0), 0);
      d = win(rec(dent), 0, static_cast<uint32_t>(c.dn));
    } else {
      d = rec(dent);
    }
    R(d)->Wsiz = static_cast<int16_t>(c.dwsiz);
    int32_t a = mkopnd("ca", c.a);
    aflags = c.af;
    int32_t res;
    if (c.code == 115) {
      res = eval({d, a, asg()});
    } else if (c.b.v.empty()) {
      res = eval({d, a, item(c.code, 1), asg()});
    } else {
      int32_t b = mkopnd("cb", c.b);
      res = eval({d, a, b, item(c.code, 2), asg()});
    }
    aflags = 0;
    EXPECT_EQ(res, d) << c.name;
    EXPECT_EQ(raws(dent, c.dn > 0 ? c.dn : -1, c.dwsiz), c.want) << c.name;
    EXPECT_EQ(state & ST_ERROR, 0) << c.name;
  }
}

TEST_F(Expr, TranscendentalFunctions) {
  int32_t x = rec(arr("x", 96, {100, 2, 30, 0.5, 60, 1, 4}));
  struct F {
    int code;
    int32_t at;
    double want;
  } fs[] = {{201, 0, 2.0},       {202, 1, 100.0},     {203, 2, 0.5},    {204, 3, 30.0},
            {205, 4, 0.5},       {206, 3, 60.0},      {207, 6, 2.0},    {283, 5, 45.0}};
  char name[4] = "f0";
  for (const F& f : fs) {
    name[1]++;
    int32_t d = decl(name, K_ARRAY, 96);
    int32_t res = eval({rec(d), x, item(f.code, 1), asg()});
    ASSERT_GT(res, 0) << f.code;
    EXPECT_NEAR(vals(d)[static_cast<size_t>(f.at)], f.want, 2e-4 * std::max(1.0, f.want)) << f.code;
  }
}

TEST_F(Expr, CompressDropsAndShortens) {
  // Option -2 keeps 1, 2, 1 of 1, 1, 2, 2, 1; a plain array shrinks to 3.
  int32_t src = arr("src", 16, {1, 1, 2, 2, 1});
  int32_t dst = arr("dst", 16, {0, 0, 0, 0, 0});
  newopt();
  ldopnd(0, rec(src));
  optab[OT_COPT] = -2;
  getdst(rec(dst));
  optab[OT_RCNT] = 5;
  ASSERT_EQ(setout(0, 0), 1);
  ariths(222, 5, 1);
  EXPECT_EQ(vals(dst), (std::vector<double>{1, 2, 1}));
  EXPECT_EQ(symptr(dst)->value, 3u);

  // Option 0 drops the value; with the index flag the positions are kept.
  // A window cannot shrink: the rest of it is cleared.
  int32_t v = arr("v", 32, {5, 0, 5, 3, MISS, 0, 9});
  int32_t big = arr("big", 32, {7, 7, 7, 7, 7, 7, 7, 7, 7});
  newopt();
  ldopnd(0, rec(v));
  optab[OT_COPT] = 0;
  putslt(0, 0.0);
  optab[OT_WSIZ + 1] = 1;
  getdst(win(rec(big), 0, 7));
  optab[OT_RCNT] = 7;
  ASSERT_EQ(setout(0, 0), 1);
  ariths(222, 7, 1);
  EXPECT_EQ(vals(big), (std::vector<double>{0, 2, 3, 6, 0, 0, 0, 7, 7}));
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Expr, LoopStopsAndReportsProgress) {
  // The pause runs once before the loop with the total published; a stop
  // raised there ends the loop before anything is stored, and the total is
  // 0 afterwards.
  static uint32_t seen = 0;
  static int calls = 0;
  seen = 0;
  calls = 0;
  pausehk = [] {
    seen = prgtot;
    calls++;
    state |= ST_INTR;
    return 0;
  };
  int32_t a = arr("a", 16, {1, 2, 3, 4});
  int32_t d = arr("d", 16, {9, 9, 9, 9});
  EXPECT_EQ(eval({rec(d), rec(a), num(1), item(116, 2), asg()}), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, 4u);
  EXPECT_EQ(prgtot, 0u);
  EXPECT_EQ(prgpct(), -1);
  EXPECT_EQ(vals(d), (std::vector<double>{9, 9, 9, 9}));

  // Without a stop the loop runs through; its index reaches the total.
  state = 0;
  calls = 0;
  pausehk = [] {
    calls++;
    return 0;
  };
  int32_t dr = rec(d);
  EXPECT_EQ(eval({dr, rec(a), num(1), item(116, 2), asg()}), dr);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(prgidx, 4u);
  EXPECT_EQ(prgtot, 0u);
  EXPECT_EQ(vals(d), (std::vector<double>{2, 3, 4, 5}));
}

TEST_F(Expr, PartsOfPagedHighMemory) {
  // Operands and destination in paged high memory come in parts of at most
  // one page: every part is loaded and written back, none is overrun.
  himemflag = 2;
  ASSERT_EQ(highmem(512), 0);
  const int32_t n = 20000;
  std::vector<double> v(n), w(n);
  for (int32_t i = 0; i < n; i++) v[static_cast<size_t>(i)] = i, w[static_cast<size_t>(i)] = 2 * i;
  int32_t a = decl("a", K_ARRAY, 96, 0x4000);
  PtrRec* r = R(rec(a));
  ASSERT_GE(asnvrb(r, n, nullptr, 0), 0);
  put(a, v);
  int32_t b = decl("b", K_ARRAY, 32, 0x4000);
  r = R(rec(b));
  ASSERT_GE(asnvrb(r, n, nullptr, 0), 0);
  put(b, v);
  ASSERT_GE(symptr(a)->data, HIMEM_BASE);
  int32_t d = decl("d", K_ARRAY, 32, 0x4000);
  int32_t dr = rec(d);
  EXPECT_EQ(eval({dr, rec(a), rec(b), item(116, 2), asg()}), dr);
  EXPECT_EQ(vals(d), w);
  // A temporary takes the same road.
  int32_t t = eval({rec(a), rec(b), item(116, 2)});
  EXPECT_EQ(rvals(t), w);
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Expr, CtrlCStopsALongLoop) {
  // A Ctrl-C that arrives during the loop is seen at the next poll (the
  // next part, at the latest every 65536 elements): the loop stops there,
  // what was stored stays and the rest of the destination is untouched.
  coninit();
  const int32_t n = 100000;
  std::vector<double> v(n, 1.0), nine(n, 9.0);
  int32_t a = arr("a", 16, v);
  int32_t d = arr("d", 16, nine);
  pausehk = [] {
    std::raise(SIGINT);
    return 0;
  };
  EXPECT_EQ(eval({rec(d), rec(a), num(1), item(116, 2), asg()}), 0);
  EXPECT_TRUE(state & ST_INTR);
  std::vector<double> got = vals(d);
  ASSERT_EQ(got.size(), static_cast<size_t>(n));
  size_t k = 0;
  while (k < got.size() && got[k] == 2) k++;
  EXPECT_GT(k, 0u);
  EXPECT_LE(k, 65536u);
  for (size_t j = k; j < got.size(); j++)
    if (got[j] != 9) {
      ADD_FAILURE() << "element " << j << " is " << got[j];
      break;
    }
  EXPECT_EQ(prgtot, 0u);
}
