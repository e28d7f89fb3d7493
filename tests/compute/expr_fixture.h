// Shared set-up for the evaluator and element-loop tests: a fresh low stack
// with a system table, variables and operand records made the way the
// argument access makes them, postfix lists, and the table-driven runner
// of element-wise cases.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "compute/arith.h"
#include "compute/expr.h"
#include "tests/support/interp.h"

// Raw bits of a float, for expected float items.
inline uint32_t fb(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}
// A signed value as the raw bits of a 16-bit item.
inline uint32_t s16(int32_t v) { return static_cast<uint32_t>(v) & 0xFFFF; }
constexpr double MISS = -0.0;  // the missing value as a source element

// One operand of a case: a number constant (num; word size 32 or 96) or an
// array of the word size with these values.
struct Opnd {
  int wsiz = 0;
  std::vector<double> v;
  bool num = false;
};

// One element-wise case: operator or function code, operands (b.v empty:
// one operand), destination word size code, destination window (dn 0: a
// fresh variable sized by the result; else a window of dn elements on a
// variable of dn + 2), the result count a function set-up would give (0:
// the element count of the operation), aflags, and the raw stored items.
struct ArCase {
  const char* name;
  int code;
  Opnd a, b;
  int dwsiz;
  int32_t dn;
  int32_t rcnt;
  int af;
  std::vector<uint32_t> want;
};

// Runs a prepared operation: (code, element count, loaded operands).
// Nonzero when it did the work. The element loop is one; a fast path that
// must store exactly as the element loop does is run through the same cases.
using Exec = int (*)(int code, int count, int nops);

class Expr : public ::testing::Test {
 protected:
  void SetUp() override {
    clrflags();
    stack_.begin();
    ASSERT_GT(mksystab(), 0);
    rststk();
    optab = nullptr;
  }
  void TearDown() override {
    clrflags();
    optab = nullptr;
    pausehk = nullptr;
    stack_.end();
  }

  // --- Variables -----------------------------------------------------------

  // Declares a variable without storage (extra: entry flags such as 0x4000,
  // data in high memory).
  static int32_t decl(const char* name, int kind, int wsiz, int extra = 0) {
    return putsym(0, name, static_cast<int>(strlen(name)), kind | 0x1001 | extra, 0, 0, wsiz);
  }
  // The record of a variable as the argument access makes it (its handle).
  static int32_t rec(int32_t entry) { return stkadr(varrec(entry)); }
  static PtrRec* R(int32_t h) { return ptrrec(h); }
  // A window x0 .. x0 + nx - 1 (and y0, ny for shaped kinds) of a record.
  static int32_t win(int32_t h, uint32_t x0, uint32_t nx, uint32_t y0 = 0, uint32_t ny = 0) {
    PtrRec* r = R(h);
    r->Offs[0] = x0, r->Offs[3] = nx, r->Offs[1] = y0, r->Offs[4] = ny;
    return h;
  }
  // Stores values through a fresh record (the store rules of PSTACK).
  static void put(int32_t entry, const std::vector<double>& v) {
    putitems(varrec(entry), static_cast<int32_t>(v.size()),
             [&v](int32_t i) { return v[static_cast<size_t>(i)]; });
  }
  // A variable of kind and word size holding the values (dims for shaped kinds).
  static int32_t var(const char* name, int kind, int wsiz, const std::vector<double>& v,
                     uint32_t nx = 0, uint32_t ny = 1) {
    int32_t e = decl(name, kind, wsiz);
    if (v.empty()) return e;
    mkstore(e, static_cast<int32_t>(v.size()), nx, ny);
    put(e, v);
    return e;
  }
  static int32_t arr(const char* name, int wsiz, const std::vector<double>& v) {
    return var(name, K_ARRAY, wsiz, v);
  }
  // The values of a variable, read through a fresh record.
  static std::vector<double> vals(int32_t entry) { return getitems(varrec(entry)); }
  // The values of any record (a temporary), read from its window.
  static std::vector<double> rvals(int32_t h) { return getitems(R(h)); }
  // The first value of a record (a one-element result); NaN when none.
  static float first(int32_t h) {
    std::vector<double> v = rvals(h);
    return v.empty() ? NAN : static_cast<float>(v[0]);
  }
  // Item i of stored data as raw bits by word size code.
  static uint32_t rawitem(const uint8_t* p, int wsiz, int32_t i) {
    switch (wsiz) {
      case 8:
        return p[i];
      case 16:
        return static_cast<uint32_t>(p[2 * i] | (p[2 * i + 1] << 8));
      case 24:
        return static_cast<uint32_t>(p[3 * i] | (p[3 * i + 1] << 8) | (p[3 * i + 2] << 16));
      case 264:
        return p[i] & 15;
      case 520:
        return p[i] >> 4;
      case 1:
      case 2:
      case 4: {
        int per = 8 / wsiz, b = (i % per) * wsiz;
        return (p[i / per] >> (8 - b - wsiz)) & ((1u << wsiz) - 1);
      }
      default: {
        uint32_t u;
        std::memcpy(&u, p + 4 * i, 4);
        return u;
      }
    }
  }
  // The raw items of a plain array variable's data (n -1: all; wsiz 0:
  // the declared word size).
  static std::vector<uint32_t> raws(int32_t entry, int32_t n = -1, int wsiz = 0) {
    SymEnt* e = symptr(entry);
    std::vector<uint32_t> out;
    if (!e || e->data <= 0) return out;
    if (n < 0) n = static_cast<int32_t>(e->value);
    const uint8_t* p = static_cast<const uint8_t*>(stkptr(e->data));
    for (int32_t i = 0; i < n; i++) out.push_back(rawitem(p, wsiz ? wsiz : e->type, i));
    return out;
  }
  static std::string text(int32_t entry) {
    std::string s;
    for (double v : vals(entry)) s.push_back(static_cast<char>(v));
    return s;
  }

  // --- Operand records -----------------------------------------------------

  // A number constant: kind 18, its value in the record.
  static int32_t num(double v, int wsiz = 96) {
    PtrRec* r = putptr(K_CONST, 0, nullptr, 0, wsiz, 1);
    r->Idx = -1;
    r->Length = 1;
    if (wsiz == 96) {
      float f = static_cast<float>(v);
      std::memcpy(&r->Addr, &f, 4);
    } else {
      int32_t i = static_cast<int32_t>(v);
      std::memcpy(&r->Addr, &i, 4);
    }
    return stkadr(r);
  }
  // A quoted string: kind 32 over a copy of its text in a low-stack block.
  static int32_t str(const char* s) {
    int32_t n = static_cast<int32_t>(strlen(s)), a = 0;
    EXPECT_GT(getstk(&a, n + 1, 1, 1, 0), 0);
    std::memcpy(stkptr(a), s, static_cast<size_t>(n) + 1);
    PtrRec* r = putptr(K_STRING, 0, nullptr, 0, 8, 1);
    r->Idx = -1;
    r->Addr = static_cast<uint32_t>(a);
    r->Length = n;
    return stkadr(r);
  }
  // An operator or function item.
  static int32_t item(int code, int count, int flags = 0) {
    PtrRec* r = putptr(K_ARGS | flags, 0, nullptr, 0, count, 1);
    r->Idx = code;
    return stkadr(r);
  }
  static int32_t asg() { return item(115, 2); }
  // Runs a postfix list of ids through doexpr; the result id.
  static int32_t eval(std::initializer_list<int32_t> ids) {
    auto* l = static_cast<uint32_t*>(getbuf(static_cast<int32_t>(4 * (ids.size() + 1))));
    l[0] = static_cast<uint32_t>(ids.size());
    uint32_t i = 1;
    for (int32_t id : ids) l[i++] = static_cast<uint32_t>(id);
    return doexpr(stkadr(l));
  }

  // --- The table-driven runner --------------------------------------------

  static int64_t dbytes(int wsiz, int64_t n) {
    int bits = wsiz == 264 || wsiz == 520 ? 8 : (wsiz & 63);
    return (n * bits + 7) / 8;
  }

  // Runs every case through exec, each on a fresh stack, and checks the
  // stored items; the bytes past a destination window stay untouched.
  void checkall(const std::vector<ArCase>& cases, Exec exec) {
    for (const ArCase& c : cases) {
      TearDown();
      SetUp();
      int32_t dent = 0;
      runcase(c, exec, &dent);
      EXPECT_EQ(raws(dent, c.dn > 0 ? c.dn : -1, c.dwsiz), c.want) << c.name;
      if (c.dn > 0) {
        const uint8_t* p = static_cast<const uint8_t*>(stkptr(symptr(dent)->data));
        for (int64_t k = dbytes(c.dwsiz, c.dn); k < dbytes(c.dwsiz, c.dn + 2); k++)
          if (!(c.dwsiz & 7) && p[k] != 0x5A) ADD_FAILURE() << c.name << ": byte " << k;
      }
      EXPECT_EQ(state & ST_ERROR, 0) << c.name;
    }
  }

  static int32_t mkopnd(const char* name, const Opnd& o) {
    if (o.num) return num(o.v.empty() ? 0.0 : o.v[0], o.wsiz);
    return rec(arr(name, o.wsiz, o.v));
  }

  // Prepares the operand table for case c as doarth does for a store fused
  // into the destination, and runs exec. *dent gets the destination's entry.
  static void runcase(const ArCase& c, Exec exec, int32_t* dent) {
    int32_t a = mkopnd("ca", c.a);
    int32_t b = c.b.v.empty() ? 0 : mkopnd("cb", c.b);
    // Nibble views (264, 520) exist only in records: the variable holds bytes.
    bool nib = c.dwsiz == 264 || c.dwsiz == 520;
    *dent = decl("cd", K_ARRAY, nib ? 8 : c.dwsiz);
    int32_t d;
    if (c.dn > 0) {
      PtrRec* r = R(rec(*dent));
      r->Wsiz = static_cast<int16_t>(c.dwsiz);
      EXPECT_GE(asnvrb(r, c.dn + 2, nullptr, 0), 0);
      SymEnt* e = symptr(*dent);
      std::memset(stkptr(e->data), 0x5A, static_cast<size_t>(dbytes(c.dwsiz, c.dn + 2)));
      d = win(rec(*dent), 0, static_cast<uint32_t>(c.dn));
    } else {
      d = rec(*dent);
    }
    R(d)->Wsiz = static_cast<int16_t>(c.dwsiz);
    int32_t* saved = optab;
    newopt();
    int32_t* t = optab;
    int mode = 0, n = b ? 2 : 1;
    ldopnd(0, a);
    t[OT_RWSZ] = t[OT_WSIZ];
    int32_t ec = t[OT_CNT];
    if ((t[OT_KIND] & 0x7E0) && t[OT_TOT] == 1) mode = 1;
    if (b) {
      ldopnd(1, b);
      if ((t[OT_WSIZ + 1] & 0xFF) > (t[OT_RWSZ] & 0xFF)) t[OT_RWSZ] = t[OT_WSIZ + 1];
      if (t[OT_CNT] > 1)
        ec = (t[OT_CNT + 1] < t[OT_CNT] && t[OT_CNT + 1] > 1) ? t[OT_CNT + 1] : t[OT_CNT];
      else
        ec = t[OT_CNT + 1];
      if ((t[OT_KIND + 1] & 0x7E0) && t[OT_TOT + 1] == 1) mode = 1;
    }
    // A function's set-up walks all of operand 1's elements.
    if (c.rcnt) ec = t[OT_CNT];
    t[OT_RCNT] = c.rcnt ? c.rcnt : ec;
    if (c.code == 111) {
      t[OT_RCNT] = std::max(t[OT_CNT], 0) + std::max(t[OT_CNT + 1], 0);
      if (t[OT_CNT] > 0) {
        ec = t[OT_CNT];
        t[OT_CNT + 1] = 0;
      }
    }
    getdst(d);
    aflags = c.af;
    EXPECT_EQ(setout(mode, 1), 1) << c.name;
    EXPECT_NE(exec(c.code, ec, n), 0) << c.name;
    aflags = 0;
    optab = saved;
  }

  LowStack stack_;
};

