// The function dispatcher and the functions computed inside it, driven as
// the main loop drives them: a command line is parsed and ordered, and its
// expression is evaluated through the argument access, which hands every
// function item to dofunc.
#include "compute/func.h"

#include "tests/support/interp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "compute/expr.h"
#include "compute/fit.h"
#include "compute/funcs.h"
#include "compute/genrat.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "lang/declare.h"
#include "lang/names.h"
#include "lang/namehooks.h"
#include "lang/order.h"
#include "lang/parse.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/window.h"

namespace {


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
    stack_.begin();
    reset();
    ASSERT_EQ(mksys(), 0);
    ASSERT_TRUE(log_.open());
    initWins();
    oldbk_ = setbackend(&keys_);
    clrpeek();
    clrmsgs();
    inreset();
    tickms(1);  // the clock's first reading sets its start
  }
  void TearDown() override {
    setbackend(oldbk_);
    clrpeek();
    clrmsgs();
    inreset();
    log_.close();
    lstsrc = 0;
    lsttok = -1;
    nargw = 0;
    nwords = 0;
    optab = nullptr;
    reset();
    stack_.end();
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
    return evalline(line);
  }

  // The "ERROR(arg,code)" lines written to the log since the last call.
  std::vector<std::string> errors() { return log_.errors(); }

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
  LowStack stack_;
  LogFile log_;
};

void near(const std::vector<double>& got, const std::vector<double>& want, double tol = 1e-6) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got[i], want[i], tol) << "item " << i;
}

TEST_F(Func, TableCoversEveryFunctionWord) {
  for (int c = 201; c <= 295; c++) {
    const FnDef* f = fndef(c);
    ASSERT_NE(f, nullptr) << c;
    EXPECT_EQ(f->code, c);
  }
  for (int c : {37, 38, 39, 40, 41, 42, 43, 62, 103, 1203}) EXPECT_NE(fndef(c), nullptr) << c;
  for (int c : {0, 36, 44, 200, 296, 299, 300}) EXPECT_EQ(fndef(c), nullptr) << c;
  EXPECT_STREQ(fndef(201)->word, "log");
  EXPECT_STREQ(fndef(295)->word, "getenv");
  EXPECT_EQ(fndef(251)->op, OP_HERE);   // rank: its own routines
  EXPECT_EQ(fndef(209)->op, OP_LOOP);   // max: the element loop
  EXPECT_EQ(fndef(244)->op, OP_GEN);    // random
  EXPECT_TRUE(fndef(288)->flags & FN_STOPND);
  EXPECT_TRUE(fndef(38)->flags & FN_DEFER);
}

TEST_F(Func, ElementWiseFunctions) {
  declare("b", K_ARRAY, 16, {1, 4, 9, 100});
  // Without a destination a float temporary is pushed.
  PtrRec* r = run("sin(b)");
  ASSERT_NE(r, nullptr);
  near(items(r), {std::sin(1 * M_PI / 180), std::sin(4 * M_PI / 180), std::sin(9 * M_PI / 180),
                  std::sin(100 * M_PI / 180)});
  EXPECT_EQ(r->Wsiz, 96);
  // ucase keeps the operand's word size: text stays text.
  text("s", "abZ1");
  r = run("ucase(s)");
  EXPECT_EQ(str(r), "ABZ1");
  EXPECT_EQ(r->Wsiz, 8);
  r = run("lcase(s)");
  EXPECT_EQ(str(r), "abz1");
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(Func, SineSeries) {
  // A long series stays on the exact angles (no drift).
  int32_t x = declare("x", K_ARRAY, 96, {});
  run("x = sin(100, 0, 2)");
  std::vector<double> v = vals(x);
  ASSERT_EQ(v.size(), 100u);
  for (int i = 0; i < 100; i++) EXPECT_NEAR(v[i], std::sin(2.0 * i * M_PI / 180.0), 1e-6) << i;
  // No count and no sized destination: error 77, nothing stored.
  int32_t y = declare("y", K_ARRAY, 96, {});
  run("y = sin(0, 0, 2)");
  EXPECT_EQ(errors(), std::vector<std::string>{"ERROR(0,77)"});
  EXPECT_TRUE(vals(y).empty());
}

TEST_F(Func, TwoOperandMax) {
  declare("b", K_ARRAY, 16, {3, -2, 7, 7, 0, 5});
  declare("p", K_ARRAY, 16, {4, 4, 4, 9, 9, 1});
  PtrRec* r;
  // Two operands: element by element when operand 2 matches the result.
  r = run("max(b, p)");
  near(items(r), {4, 4, 7, 9, 9, 5});
  // A one-element operand 2: one value, the larger of the first elements.
  r = run("max(b, 0)");
  near(items(r), {3});
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(Func, SizeAddressMode) {
  std::vector<double> v(24, 1.0);
  declare("img", K_SOLID, 8, v, 4, 3, 2);
  PtrRec* r = run("size(img, 1)");
  near(items(r), {24});
  declare("a8", K_ARRAY, 8, {1, 2, 3});
  r = run("size(a8)");  // one dimension: its element count
  near(items(r), {3});
  r = run("mode(a8, 1)");
  near(items(r), {64});
  r = run("address(a8)");
  ASSERT_NE(r, nullptr);
  int32_t a = static_cast<int32_t>(items(r)[0]);
  // The byte reference of the data in the word memory.
  EXPECT_EQ(a, bytadr(symptr(GETSYM("a8", 2, nullptr, 1))->data));
  r = run("address(3)");
  near(items(r), {0});
  // file of a folder: 2.
  int32_t f = declare("f", K_ARRAY, 32, {});
  run("f = file(\"/tmp\")");
  near(vals(f), {2});
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(Func, CompressAndAnalyze) {
  int32_t b = declare("b", K_ARRAY, 16, {1, 1, 2, 2, 1});
  int32_t x = declare("x", K_ARRAY, 16, {0, 0, 0, 0, 0});
  run("x = compress(b, -2)");
  near(vals(x), {1, 2, 1});
  EXPECT_EQ(symptr(x)->value, 3u);
  // Option 0 drops a value; the index flag stores positions as integers.
  PtrRec* r = run("compress(b, 0, 1, 2)");
  near(items(r), {0, 1, 4});
  EXPECT_EQ(r->Wsiz, 32);
  (void)b;
  declare("h8", K_ARRAY, 8, {0, 1, 1, 3, 255, 3, 3});
  r = run("analyze(h8)");
  std::vector<double> h = items(r);
  ASSERT_EQ(h.size(), 256u);
  EXPECT_EQ(h[0], 1);
  EXPECT_EQ(h[1], 2);
  EXPECT_EQ(h[3], 3);
  EXPECT_EQ(h[255], 1);
  EXPECT_EQ(r->Wsiz, 32);
  // Values beyond the bins count in the last one; negatives in bin 0.
  declare("h16", K_ARRAY, 16, {-5, 2, 5000});
  r = run("analyze(h16)");
  h = items(r);
  ASSERT_EQ(h.size(), 4096u);
  EXPECT_EQ(h[0], 1);
  EXPECT_EQ(h[2], 1);
  EXPECT_EQ(h[4095], 1);
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(Func, BraceListAndStrings) {
  int32_t x = declare("x", K_ARRAY, 96, {});
  PtrRec* r = run("x = {4, 5, 6}");
  ASSERT_NE(r, nullptr);  // the expression ends with a value
  near(vals(x), {4, 5, 6});

  text("s", "hello");
  int32_t t = declare("t", K_STRING, 8, {});
  run("t = string(s)");
  EXPECT_EQ(str(symrec(t)), "hello");
  r = run("name(s)");
  EXPECT_EQ(str(r), "s");
  r = run("name(3)");
  EXPECT_EQ(str(r), "");
  ::setenv("PELIX_FUNC_TEST", "a=b c", 1);
  ::unsetenv("PELIX_FUNC_UNSET");
  r = run("getenv(\"PELIX_FUNC_TEST\")");
  EXPECT_EQ(str(r), "a=b c");
  r = run("getenv(\"PELIX_FUNC_UNSET\")");
  EXPECT_EQ(str(r), "");
  r = run("getenv(5)");
  EXPECT_EQ(str(r), "");
  r = run("pdstr(\"a(bc)*3d\")");
  EXPECT_EQ(str(r), "abcbcbcd");
  r = run("pdstr(\"x(a(b)*2)*2\")");
  EXPECT_EQ(str(r), "xabbabb");
  r = run("pdstr(\"\\\\(a\")");
  EXPECT_EQ(str(r), "(a");
  r = run("pdstr(\"a(bc\")");
  EXPECT_EQ(str(r), "");
  r = run("pdstr(\"(ab)*9\", 10)");
  EXPECT_EQ(str(r), "");  // would not fit
  r = run("getfile(\"/a/b/c.txt\", 3)");
  EXPECT_EQ(str(r), "c.txt");
  EXPECT_FLOAT_EQ(getres(0), 5.0f);
  r = run("getfile(\"\")");
  EXPECT_EQ(str(r), "");
  EXPECT_FLOAT_EQ(getres(0), -1.0f);
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

// The elements of a list variable (an empty slot is an empty element).
static std::vector<std::string> elems(int32_t e) {
  std::vector<std::string> out;
  int32_t t = symptr(e)->data;
  for (uint32_t i = 0; t > 0 && i < symptr(e)->value; i++) {
    int32_t len = 0;
    const uint8_t* p = lstptr(nullptr, static_cast<int32_t>(i), &len, t);
    out.push_back(p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len)) : "");
  }
  return out;
}

TEST_F(Func, BraceBlockReadsTheLinesThatFollow) {
  // A brace with no values on its line reads the block that follows, up to
  // the closing brace, as the destination's kind.
  auto decl = [&](const char* line) {
    state = 0;
    rststk();
    std::snprintf(linbuf, sizeof linbuf, "%s", line);
    prsflg = PF_PARSE | PF_ORDER;
    int code = 0;
    ASSERT_GT(PARSLN(static_cast<int>(std::strlen(linbuf)), &code), 0) << line;
    declar(34);
    ASSERT_FALSE(state & ST_ERROR) << line;
  };
  auto block = [&](const char* line, const char* typed) {
    keys_.keys = typed;
    keys_.pos = 0;
    run(line);
    EXPECT_EQ(state & ST_ERROR, 0) << line;
  };
  int32_t a = declare("a", K_ARRAY, 96, {9, 9});
  block("a = {", "1.5 -2\n3\n}\n");
  near(vals(a), {1.5, -2, 3});

  // A freshly declared list has one empty element: the block is still a
  // list, one element a line, the first one too.
  auto entry = [](const char* name) {
    uint16_t fl = 0;
    return GETSYM(name, static_cast<int>(std::strlen(name)), &fl, 1);
  };
  decl("declare list string l");
  int32_t l = entry("l");
  ASSERT_GT(l, 0);
  block("l = {", "alpha\nbeta gamma\n\"\"\n\"  delta\"\n}\n");
  EXPECT_EQ(elems(l), (std::vector<std::string>{"alpha", "beta gamma", "", "  delta"}));
  // A block of one line into a list of one element gives that element.
  decl("declare list string k");
  int32_t k = entry("k");
  block("k = {", "only\n}\n");
  EXPECT_EQ(elems(k), (std::vector<std::string>{"only"}));

  // A matrix that holds as many items as the block keeps its shape, its
  // rows wrapped over lines as dump writes them; otherwise the lines are
  // the rows.
  int32_t m = declare("m", K_MATRIX, 96, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 7, 2);
  block("m = {", "1 2 3 4 5 6\n7 8 9 10 11 12\n13 14\n}\n");
  near(vals(m), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
  const uint32_t* h = wordp(symptr(m)->data);
  EXPECT_EQ(h[0], 7u);
  EXPECT_EQ(h[1], 2u);
  block("m = {", "1 2\n3 4\n5 6\n}\n");
  near(vals(m), {1, 2, 3, 4, 5, 6});
  h = wordp(symptr(m)->data);
  EXPECT_EQ(h[0], 2u);
  EXPECT_EQ(h[1], 3u);
  // A window takes its row as typed.
  block("m(0:1,2) = {", "7 8\n}\n");
  near(vals(m), {1, 2, 3, 4, 7, 8});

  // Into a vector the values are one vector record, as vector() makes it.
  int32_t v = putsym(0, "v", 1, K_VECTOR | 0x1003, 0, 1, W_VEC);
  int32_t vb = 0;
  ASSERT_GT(getstk(&vb, 8, 1, 1, 0), 0);
  std::memset(stkptr(vb), 0, 8);
  symptr(v)->data = vb;
  run("v = {10 -20 30 5 3 200}");
  EXPECT_EQ(state & ST_ERROR, 0);
  int16_t xyz[3];
  std::memcpy(xyz, stkptr(vb), 6);
  EXPECT_EQ(xyz[0], 10);
  EXPECT_EQ(xyz[1], -20);
  EXPECT_EQ(xyz[2], 30);
  const uint8_t* vr = static_cast<const uint8_t*>(stkptr(vb));
  EXPECT_EQ(vr[6], (3 << 4) | 5);
  EXPECT_EQ(vr[7], 200);
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

// The ramp's span against its values made one by one (the store loop of
// genrat): every count, step, end, repeat, bounce and first value in small
// ranges, and long ramps that never or always meet their end.
TEST(RampSpan, EveryValueMade) {
  auto walk = [](int64_t n, int64_t cur, int64_t s, int64_t b, int64_t lo, bool bounce, int64_t repeat,
                 int64_t* mn, int64_t* mx) {
    int64_t rep = repeat >= 2 ? repeat : 0, left = rep;
    *mn = INT64_MAX;
    *mx = INT64_MIN;
    for (int64_t i = 0; i < n; i++) {
      int64_t v = std::clamp<int64_t>(cur, INT32_MIN + 1, INT32_MAX);
      *mn = std::min(*mn, v);
      *mx = std::max(*mx, v);
      if (!rep || --left <= 0) {
        left = rep;
        cur += s;
      }
      if (cur == b) {
        if (bounce) {
          b = lo;
          lo = cur;
          s = -s;
          cur += 2 * s;
        } else {
          cur = lo;
        }
      }
    }
  };
  int checked = 0;
  for (int64_t n : {1, 2, 3, 5, 9, 17})
    for (int64_t a = -3; a <= 3; a += 3)
      for (int64_t s = -3; s <= 3; s++)
        for (int64_t e = -6; e <= 6; e += 2)
          for (int64_t rep : {0, 2, 3})
            for (int bounce = 0; bounce < 2; bounce++)
              for (int64_t c0 : {a, a + 1, e + s}) {
                int64_t lo = bounce ? a - s : a, b = e + s, wm, wx, gm, gx;
                walk(n, c0, s, b, lo, bounce, rep, &wm, &wx);
                rampspan(n, c0, s, b, lo, bounce, rep, &gm, &gx);
                ASSERT_EQ(gm, wm) << n << " " << a << " " << s << " " << e << " " << rep << " " << bounce << " " << c0;
                ASSERT_EQ(gx, wx) << n << " " << a << " " << s << " " << e << " " << rep << " " << bounce << " " << c0;
                checked++;
              }
  EXPECT_GT(checked, 10000);
  int64_t lo, hi;
  rampspan(3000000, 0, 7, 7000001, 0, false, 0, &lo, &hi);  // never met
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 20999993);
  rampspan(3000000, 5, -1, 1, 5, false, 0, &lo, &hi);  // 5 4 3 2 5 4 ...
  EXPECT_EQ(lo, 2);
  EXPECT_EQ(hi, 5);
  rampspan(2000000000, -2000000000, -3, 0, 0, false, 0, &lo, &hi);  // clamped as stored
  EXPECT_EQ(lo, INT32_MIN + 1);
  EXPECT_EQ(hi, -2000000000);
}

TEST_F(Func, Generators) {
  PtrRec* r;
  r = run("ramp(256)");
  EXPECT_EQ(r->Wsiz, 8);
  EXPECT_EQ(items(r)[255], 255);
  r = run("ramp(257)");
  EXPECT_EQ(r->Wsiz, 16);
  EXPECT_EQ(items(r)[256], 256);
  // A new result holds the values the ramp makes, below its start and past
  // an end it never meets too.
  r = run("ramp(6, 3, -999, -1)");
  EXPECT_EQ(r->Wsiz, 16);
  EXPECT_EQ(items(r), (std::vector<double>{3, 2, 1, 0, -1, -2}));
  r = run("ramp(4, -32767, -999, 1)");
  EXPECT_EQ(r->Wsiz, 16);
  r = run("ramp(4, -32768, -999, -1)");
  EXPECT_EQ(r->Wsiz, 32);
  EXPECT_EQ(items(r), (std::vector<double>{-32768, -32769, -32770, -32771}));
  r = run("ramp(6, 0, 250, 100)");
  EXPECT_EQ(r->Wsiz, 16);
  EXPECT_EQ(items(r), (std::vector<double>{0, 100, 200, 300, 400, 500}));
  r = run("ramp(10, 0, 255)");
  EXPECT_EQ(r->Wsiz, 8);
  // A sized destination gives the count and keeps its word size.
  int32_t y = declare("y", K_ARRAY, 96, {9, 9, 9, 9});
  run("y = ramp(0, 5)");
  near(vals(y), {5, 6, 7, 8});
  EXPECT_EQ(wsiz(y), 96);

  // random: a seed restarts one sequence; mode 2 gives distinct integer
  // parts until the range is used.
  r = run("random(6, 7, 100)");
  std::vector<double> a = items(r);
  r = run("random(6, 7, 100)");
  EXPECT_EQ(items(r), a);
  for (double v : a) {
    EXPECT_GE(v, 0.0);
    EXPECT_LT(v, 100.0);
  }
  // An explicit seed does not count as the clock seed: without one, the
  // next call without a seed seeds from the clock; after it, calls without
  // a seed carry on the seeded sequence.
  rndrst();
  run("random(6, 7, 100)");
  r = run("random(9, 7)");
  std::vector<double> c = items(r);
  run("random(6, 7, 100)");
  r = run("random(3)");
  EXPECT_NE(items(r), std::vector<double>(c.begin() + 6, c.end()));
  run("random(6, 7, 100)");
  r = run("random(3)");
  EXPECT_EQ(items(r), std::vector<double>(c.begin() + 6, c.end()));
  r = run("random(20, 3, 10, 2)");
  std::vector<double> d = items(r);
  ASSERT_EQ(d.size(), 20u);
  int seen[10] = {};
  for (size_t i = 0; i < d.size(); i++) {
    int k = static_cast<int>(d[i]);
    ASSERT_GE(k, 0);
    ASSERT_LT(k, 10);
    seen[k]++;
    if (i > 0) {
      EXPECT_NE(k, static_cast<int>(d[i - 1])) << i;
    }
    if (i < 10) {
      EXPECT_EQ(seen[k], 1) << i;
    }
  }
  for (int k = 0; k < 10; k++) EXPECT_EQ(seen[k], 2) << k;
  run("random(0)");
  EXPECT_EQ(errors(), std::vector<std::string>{"ERROR(0,77)"});
}

TEST_F(Func, Declarations) {
  int32_t x = declare("x", K_ARRAY, 16, std::vector<double>(100, 2.0));
  run("x = array(0)");
  EXPECT_EQ(symptr(x)->value, 100u);
  run("x = array(10)");
  EXPECT_EQ(symptr(x)->value, 10u);
  EXPECT_EQ(wsiz(x), 16);
  near(vals(x), std::vector<double>(10, 0.0));
  int32_t m = declare("m", K_MATRIX, 8, std::vector<double>(12, 1.0), 4, 3);
  run("m = matrix(6)");
  // The same count: only the dimensions change; the last one follows.
  PtrRec* r = symrec(m);
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  EXPECT_EQ(r->Datdims[0], 6u);
  EXPECT_EQ(r->Datdims[1], 2u);
  near(vals(m), std::vector<double>(12, 1.0));
  EXPECT_EQ(errors(), std::vector<std::string>{});
  // No fitting destination: error 60, and nothing changes.
  run("m = array(5)");
  EXPECT_EQ(errors(), std::vector<std::string>{"ERROR(1,60)"});
  run("x = solid(2, 2, 2)");
  EXPECT_EQ(errors(), std::vector<std::string>{"ERROR(1,60)"});
  EXPECT_EQ(symptr(x)->value, 10u);
}

TEST_F(Func, TimeAndStopWithoutValue) {
  // time(0) resets the stopwatch and ends the expression without a value.
  EXPECT_EQ(run("time(0)"), nullptr);
  EXPECT_EQ(errors(), std::vector<std::string>{});
  PtrRec* r = run("time(1)");
  std::vector<double> t = items(r);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_GE(t[0], 0.0);
  EXPECT_LT(t[0], 60.0);
  r = run("time()");
  t = items(r);
  ASSERT_EQ(t.size(), 7u);
  EXPECT_GE(t[0], 2020);
  EXPECT_GE(t[1], 1);
  EXPECT_LE(t[1], 12);
  EXPECT_LE(t[3], 23);
  EXPECT_EQ(run("fmode(1)"), nullptr);
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(Func, KeyboardFunctions) {
  PtrRec* r = run("getchar(0)");
  near(items(r), {1});
  EXPECT_EQ(r->Wsiz, 16);
  keys_.keys = "q";
  keys_.pos = 0;
  r = run("getchar(0, 1)");
  near(items(r), {'q'});
  r = run("getchar(0, 1)");
  near(items(r), {0});  // nothing typed
  keys_.keys = "hello\n";
  keys_.pos = 0;
  r = run("gettxt()");
  EXPECT_EQ(str(r), "hello");
  // Esc gives the empty text.
  keys_.keys = "ab\x1b";
  keys_.pos = 0;
  r = run("gettxt()");
  EXPECT_EQ(str(r), "");
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(Func, VectorsAndPoints) {
  PtrRec* r = run("vector(3, -4, 5, 2, 1, 300)");
  // x, y, z and the packed (width << 4 | code) and colour bytes.
  near(items(r), {3, -4, 5, static_cast<int16_t>(0x12 | (44 << 8))});
  r = run("length(3, 4, 0)");
  near(items(r), {5});
  r = run("length(1, 1, 1, 4, 5, 1)");
  near(items(r), {5});
  run("area(3)");
  EXPECT_EQ(errors(), std::vector<std::string>{"ERROR(2,109)"});
  int32_t w = declare("w", K_ARRAY, 32, {});
  run("w = window()");
  near(vals(w), {0});
  run("w = window(3)");
  near(vals(w), {3});
  run("w = window(\"nowhere\")");
  near(vals(w), {-1});
}

TEST_F(Func, RefusedSampleLeavesTheDestination) {
  int32_t x = declare("x", K_ARRAY, 16, {7, 7, 7});
  // A number in place of the array gives positions only: a count below 1
  // or a width is refused before anything is picked or stored.
  for (const char* line : {"x = sample(0, 0, 5)", "x = sample(3, 0, 5, 2)"}) {
    EXPECT_EQ(run(line), nullptr) << line;
    EXPECT_EQ(errors(), std::vector<std::string>{"ERROR(3,152)"}) << line;
    near(vals(x), {7, 7, 7});
  }
}


TEST_F(Func, ServicesOfLaterModulesReportNotAvailable) {
  int32_t x = declare("x", K_ARRAY, 16, {5});
  // With no dialog open the dialog function gives no value: nothing is
  // stored and no error raised.
  run("x = dialog(1)");
  EXPECT_TRUE(errors().empty());
  near(vals(x), {5});
  // A serial port that was never opened: the read error, nothing stored.
  run("x = comread(1, 10)");
  EXPECT_EQ(errors().back(), "ERROR(2,192)");
  near(vals(x), {5});
  // format: the engine's text of the values.
  int32_t t = declare("t", K_STRING, 8, {});
  declare("v", K_ARRAY, 16, {7, 8});
  run("t = format(\"n=%d m=%d\", 3, v)");
  EXPECT_EQ(str(symrec(t)), "n=3 m=7");
  EXPECT_EQ(errors(), std::vector<std::string>{});
  // An empty format text is the dispatcher's own error.
  run("x = format(\"\")");
  EXPECT_EQ(errors(), std::vector<std::string>{"ERROR(2,70)"});
  // A pointer function assigns only to a pointer variable.
  int32_t p = declare("p", K_ARRAY, 16, {1, 2});
  (void)p;
  run("x = pointer(p)");
  EXPECT_EQ(errors(), std::vector<std::string>{"ERROR(0,87)"});
}


TEST_F(Func, WordsWithoutAnOperationOfTheirOwn) {
  declare("b", K_ARRAY, 16, {3, -1, 4});
  int32_t x = declare("x", K_ARRAY, 16, {9, 9, 9});
  for (const char* f : {"substitute", "frequency", "bin", "correlate", "align", "invert",
                        "eyepos"}) {
    std::string one = std::string("x = ") + f + "(b)";
    run(one.c_str());
    near(vals(x), {3, -1, 4});
    std::string two = std::string("x = ") + f + "(b, b)";
    run(two.c_str());
    near(vals(x), {0, 0, 0});
  }
  EXPECT_EQ(errors(), std::vector<std::string>{});
}


TEST_F(Func, NestedCallsKeepTheirArguments) {
  declare("b", K_ARRAY, 16, {1, 4, 9});
  declare("p", K_ARRAY, 16, {2, 2, 2});
  int32_t x = declare("x", K_ARRAY, 96, {});
  run("x = max(sqrt(b), p)");
  near(vals(x), {2, 2, 3});
  run("x = max(p, sqrt(b))");
  near(vals(x), {2, 2, 3});
  run("x = ramp(3, size(b), -999, max(p))");
  near(vals(x), {3, 5, 7});
  // A nested call that ends without a value leaves none for the outer one.
  EXPECT_EQ(run("max(time(0))"), nullptr);
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

}  // namespace

// A number's record is a short head: the words behind it are no extents.
// Whatever they hold (an extent of 2, a 2-D point; or 2^31 - 1, which
// overflowed the shape check), matmul of a number refuses before its
// destination is made.
TEST_F(Func, MatmulOfANumberIsRefused) {
  const int32_t e = declare("m", K_ARRAY, 96, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  for (uint32_t junk : {2u, 0x7FFFFFFFu}) {
    rststk();
    ASSERT_NE(newopt(), nullptr);
    PtrRec* m = varrec(e);
    auto* n = static_cast<PtrRec*>(getbuf(sizeof(PtrRec)));
    std::memset(n, 0, sizeof(PtrRec));
    n->Flg = K_CONST;
    n->Wsiz = W_FLOAT;
    n->Offs[3] = n->Offs[4] = junk;
    optab[OT_REC] = stkadr(n);
    optab[OT_KIND] = K_CONST;
    optab[OT_CNT] = optab[OT_TOT] = 1;
    optab[OT_REC + 1] = stkadr(m);
    optab[OT_KIND + 1] = K_ARRAY;
    optab[OT_CNT + 1] = optab[OT_TOT + 1] = 9;
    FnCall c{};
    c.dest = stkadr(m);
    EXPECT_EQ(su_matmul(c), FS_RET) << junk;
    optab = nullptr;
  }
}
