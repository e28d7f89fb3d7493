// Command arguments: finding and reading arguments, the resolver, subscript
// windows, arrays and results, and the number registers.
#include "core/args.h"

#include "tests/support/interp.h"

namespace {

class Args : public ::testing::Test {
 protected:
  void SetUp() override {
    clrflags();
    stack_.begin();
    ASSERT_EQ(mksys(), 0);
    ASSERT_TRUE(log_.open());
    pflags = 0x800;  // errors go to the log only
  }
  void TearDown() override {
    log_.close();
    tokhdr = nullptr;
    clrparse();
    clrflags();
    stack_.end();
  }
  // Parses a command line and, with PF_ORDER, orders its expressions (as
  // the main loop does); returns the code.
  static int parse(const char* line, uint16_t flags = PF_PARSE | PF_ORDER) {
    int code;
    EXPECT_TRUE(prsline(line, flags, &code)) << line;
    return code;
  }

  // The "ERROR(arg,code)" lines written to the log since the last call.
  std::vector<std::string> errors() { return log_.errors(); }

  // Declares a variable in the system table and gives it n items (dims for
  // a matrix), filled with 0, 1, 2, ... Returns the symbol entry.
  static int32_t declare(const char* name, int kind, int wsiz, int32_t n, uint32_t nx = 0,
                         uint32_t ny = 1) {
    int len = static_cast<int>(std::strlen(name));
    if (kind == 16) {
      // A number: one word of storage, as the declaration makes it.
      int32_t a = 0;
      EXPECT_GT(getstk(&a, 1, 4, 1, 0), 0);
      std::memset(stkptr(a), 0, 4);
      int32_t e = putsym(0, name, len, kind | 0x1003, a, 1, wsiz);
      ptrstk(a, e + 1);
      return e;
    }
    int32_t e = putsym(0, name, len, kind | 0x1001, 0, 0, wsiz);
    EXPECT_GT(e, 0);
    if (n == 0) return e;
    mkstore(e, n, nx, ny);
    putitems(symrec(e), INT32_MAX, [](int32_t i) { return static_cast<double>(i); });
    return e;
  }
  // A record of a declared variable, as the argument access makes it.
  static PtrRec* symrec(int32_t e) { return varrec(e); }
  // All items of a record, read through the element access.
  static std::vector<float> items(PtrRec* r) {
    std::vector<double> d = getitems(r);
    return std::vector<float>(d.begin(), d.end());
  }
  static PtrRec* argrec(int n) {
    int32_t h = 0;
    argtyp(n, &h);
    return h > 0 ? ptrrec(h) : nullptr;
  }

  LowStack stack_;
  LogFile log_;
};

TEST_F(Args, NumbersClampAndDefaults) {
  parse("list name 40000.7 -3.9 7 \"quoted\"", PF_PARSE);
  EXPECT_EQ(nargs(), 6);
  EXPECT_EQ(intarg(2, -5), -5);  // text: the default
  EXPECT_EQ(intarg(3, 0), 32767);
  EXPECT_EQ(intarg(4, 0), -3);
  EXPECT_EQ(lngarg(4, 0), -3);
  EXPECT_FLOAT_EQ(fltarg(3, 0), 40000.7f);
  EXPECT_EQ(intarg(5, 0), 7);
  EXPECT_EQ(intarg(6, 11), 11);     // a quoted string
  EXPECT_EQ(intarg(7, 12), 12);     // missing
  EXPECT_EQ(lngarg(40, -9), -9);    // beyond the argument map
  EXPECT_FLOAT_EQ(fltarg(-1, 2.5f), 2.5f);

  // A number beyond the 32-bit range clamps to +-2147400000.
  WORD& w = wrdtab[argmap[4]];
  float big = 3e9f;
  std::memcpy(w.b, &big, 4);
  setwslot(w, 2, 96);
  EXPECT_EQ(lngarg(5, 0), 2147400000);
  big = -3e9f;
  std::memcpy(w.b, &big, 4);
  EXPECT_EQ(lngarg(5, 0), -2147400000);
  EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(Args, GetargTextAndMissing) {
  parse("list abc \"a longer quoted text\" real");
  float v = 7;
  char text[64] = "junk";
  int len = 99;
  EXPECT_EQ(getarg(9, &v, text, sizeof text, &len), 0);
  EXPECT_EQ(v, 0.0f);
  EXPECT_EQ(len, 0);
  EXPECT_STREQ(text, "");

  EXPECT_EQ(getarg(2, &v, text, sizeof text, &len), WT_TEXT);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(len, 3);
  EXPECT_EQ(getarg(3, &v, text, sizeof text, &len), WT_QUOTED);
  EXPECT_STREQ(text, "a longer quoted text");  // over three entries
  EXPECT_EQ(len, 20);
  // Cut to maxlen - 1 characters.
  EXPECT_EQ(getarg(3, &v, text, 6, &len), WT_QUOTED);
  EXPECT_STREQ(text, "a lon");
  EXPECT_EQ(len, 5);
  // A keyword: its code as the value, its text when it has a text entry.
  EXPECT_EQ(getarg(4, &v, text, sizeof text, &len), WT_CMD);
  EXPECT_EQ(v, 48.0f);
  EXPECT_STREQ(text, "real");
  EXPECT_EQ(argnum(4), 48);
  EXPECT_EQ(argknd(4, 63), 96);
  EXPECT_EQ(argknd(4, 0), 0);
  EXPECT_EQ(argnum(2), -1);
  EXPECT_EQ(argnum(1), 3);  // the command word "list"

  parse("list image byte integer solid pflags");
  EXPECT_EQ(argknd(2, 0), 512);
  EXPECT_EQ(argknd(3, 63), 8);
  EXPECT_EQ(argknd(4, 63), 16);
  EXPECT_EQ(argknd(5, 0), 1024);
  EXPECT_EQ(argknd(5, 63), 0);
  EXPECT_EQ(argnum(6), SV_PFLAGS + 1000);
}

TEST_F(Args, RegisterPostIncrementReadOnce) {
  setfres(4.0f, 3);
  parse("list r3++ r3");
  EXPECT_EQ(intarg(2, 0), 4);
  EXPECT_EQ(intarg(2, 0), 4);  // the same value, not read again
  EXPECT_FLOAT_EQ(getres(3), 5.0f);
  EXPECT_EQ(wrdtab[argmap[1]].type, WT_NUMBER);  // rewritten as a constant
  EXPECT_EQ(intarg(3, 0), 5);

  // A decrement of a Number variable.
  int32_t e = declare("n", 16, 96, 1);
  float f = 10.0f;
  std::memcpy(stkptr(symptr(e)->data), &f, 4);
  parse("list n-- n");
  EXPECT_FLOAT_EQ(fltarg(2, 0), 10.0f);
  EXPECT_FLOAT_EQ(fltarg(2, 0), 10.0f);
  EXPECT_FLOAT_EQ(fltarg(3, 0), 9.0f);

  // A line of the one word is not rewritten; the step still happens once.
  setfres(1.0f, 2);
  parse("r2++", PF_PARSE);
  ASSERT_EQ(nwords, 1);
  EXPECT_FLOAT_EQ(fltarg(1, 0), 1.0f);
  EXPECT_FLOAT_EQ(fltarg(1, 0), 2.0f);  // read again: the register as it is now
  EXPECT_FLOAT_EQ(getres(2), 2.0f);
}

TEST_F(Args, RegistersIgnoreBadNumbers) {
  for (int i = 0; i < 10; i++) setres(i + 1, i);
  uint32_t after = lowstk[regadr + 10];
  uint32_t before = regadr > 0 ? lowstk[regadr - 1] : 0;
  EXPECT_EQ(setres(5, 10), 0);
  EXPECT_EQ(setfres(5.0f, -1), 0);
  EXPECT_EQ(setres(5, 1000), 0);
  for (int i = 0; i < 10; i++) EXPECT_FLOAT_EQ(getres(i), static_cast<float>(i + 1));
  EXPECT_EQ(lowstk[regadr + 10], after);
  if (regadr > 0) {
    EXPECT_EQ(lowstk[regadr - 1], before);
  }
  EXPECT_EQ(getres(10), 0.0f);
  setfres(-2.5f, 9);
  EXPECT_FLOAT_EQ(getres(9), -2.5f);
}

TEST_F(Args, SubscriptedVariableWindow) {
  int32_t e = declare("a", 64, 96, 10);
  const SymEnt before = *symptr(e);
  parse("list a[2:4] a[7] a[5:] a");
  PtrRec* r = argrec(2);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Offs[0], 2u);
  EXPECT_EQ(r->Offs[3], 3u);
  EXPECT_EQ(items(r), (std::vector<float>{2, 3, 4}));
  EXPECT_EQ(items(argrec(3)), (std::vector<float>{7}));
  EXPECT_EQ(intarg(3, 0), 7);  // one item: read as a number
  EXPECT_EQ(items(argrec(4)), (std::vector<float>{5, 6, 7, 8, 9}));
  // The variable itself is unchanged.
  EXPECT_EQ(std::memcmp(symptr(e), &before, sizeof before), 0);
  EXPECT_EQ(items(argrec(5)).size(), 10u);
  // Resolved once: the WORD now names the record.
  EXPECT_LT(wrdtab[argmap[1]].type, 0);
  EXPECT_EQ(argrec(2), r);

  // A matrix: x pair, then y pair.
  declare("m", 128, 96, 20, 5, 4);
  parse("list m[1:2,2:3] m[4,0:]");
  PtrRec* q = argrec(2);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(items(q), (std::vector<float>{11, 12, 16, 17}));
  EXPECT_EQ(items(argrec(3)), (std::vector<float>{4, 9, 14, 19}));
  EXPECT_TRUE(errors().empty());
}

TEST_F(Args, SubscriptsOutsideTheVariableAreRefused) {
  int32_t e = declare("a", 64, 96, 10);
  const SymEnt before = *symptr(e);
  setfres(-2.0f, 1);
  for (const char* line : {"list a[r1]", "list a[5:3]", "list a[10]", "list a[12:14]"}) {
    parse(line);
    EXPECT_EQ(argrec(2), nullptr) << line;
    EXPECT_TRUE(state & ST_ERROR) << line;
    EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(0,196)"})) << line;
  }
  // An end beyond the variable is cut to it.
  parse("list a[8:20]");
  EXPECT_EQ(items(argrec(2)), (std::vector<float>{8, 9}));
  EXPECT_EQ(std::memcmp(symptr(e), &before, sizeof before), 0);
}

TEST_F(Args, StringListElementsTakeACharacterWindow) {
  // A string list of three elements of six characters.
  int32_t e = putsym(0, "sl", 2, 0x1821, 0, 0, 8);
  PtrRec* r = symrec(e);
  r->Offs[3] = 3;
  int32_t cnt = 0;
  makvar(r, nullptr, &cnt, 3, 0, 8);
  ASSERT_GT(symptr(e)->data, 0);
  const char* texts[] = {"abcdef", "ghijkl", "mnopqr"};
  for (int i = 0; i < 3; i++) {
    r->XYZptr[0] = static_cast<uint32_t>(i);
    maklst(stkadr(r), 6, 0);
    std::memcpy(dptr(r), texts[i], 6);
  }
  // The second pair selects characters of the element.
  parse("list sl[1] sl[0, 2:4] sl[2,1] sl[1,3:] sl[0,2:40]");
  const char* want[] = {"ghijkl", "cde", "n", "jkl", "cdef"};
  for (int a = 2; a <= 6; a++) {
    float v = 0;
    char text[64] = "";
    int len = 0;
    EXPECT_EQ(getarg(a, &v, text, sizeof text, &len), 0x1821) << a;  // a list seen through a subscript
    EXPECT_STREQ(text, want[a - 2]) << a;
    EXPECT_EQ(v, 1.0f) << a;
  }
  EXPECT_TRUE(errors().empty());
  // No element holds more than 255 characters.
  parse("list sl[0,300]");
  EXPECT_EQ(argrec(2), nullptr);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(0,196)"}));
}

TEST_F(Args, StoresIntoStringListElementsKeepTheOthers) {
  int32_t e = putsym(0, "sl", 2, 0x1821, 0, 0, 8);
  // Stores as an assignment makes them: the destination prepared, sized
  // for the items, then written part by part.
  auto store = [&](const char* line, const char* text) {
    parse(line);
    PtrRec* r = argrec(2);
    ASSERT_NE(r, nullptr) << line;
    int n = static_cast<int>(std::strlen(text));
    int32_t cnt, part, tot, ws;
    gtvarb(r, &cnt, &part, &tot, &ws, 0);  // the evaluator reads it first
    ASSERT_GE(asnvrb(r, n, nullptr, 0), 0) << line;
    gtvarb(r, &cnt, &part, &tot, &ws, 115);
    for (int i = 0; i < n; i++) {
      if (i >= part) DMPVRB(r, &part, 1, i);
      if (i >= part) break;
      PSTACK(static_cast<unsigned char>(text[i]), r);
    }
    DMPVRB(r, &part, 0, 0);
  };
  auto element = [&](int i) {
    int32_t len = 0;
    const uint8_t* p = lstptr(nullptr, i, &len, symptr(e)->data);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len)) : "<none>";
  };
  store("list sl[0]", "abcdef");
  store("list sl[1]", "gh");
  EXPECT_EQ(element(0), "abcdef");  // storing element 1 keeps element 0
  EXPECT_EQ(element(1), "gh");
  // A character window writes inside the element and keeps the rest.
  store("list sl[0,2:3]", "XY");
  EXPECT_EQ(element(0), "abXYef");
  // Past the element's end the element grows, blanks up to the window.
  store("list sl[1,4:5]", "ZZ");
  EXPECT_EQ(element(1), "gh  ZZ");
  EXPECT_EQ(element(0), "abXYef");
  // A whole element is replaced whole.
  store("list sl[0]", "q");
  EXPECT_EQ(element(0), "q");
  EXPECT_EQ(element(1), "gh  ZZ");
  EXPECT_TRUE(errors().empty());
}

TEST_F(Args, SubscriptExpressionsNeedSingleValues) {
  declare("a", 64, 96, 10);
  declare("b", 64, 96, 3);
  declare("one", 64, 96, 1);
  parse("list a[b]");
  EXPECT_EQ(argrec(2), nullptr);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(0,56)"}));
  // A one-item array is a single value: it becomes a number constant.
  parse("list a[one]");
  PtrRec* r = argrec(2);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(items(r), (std::vector<float>{0}));
  EXPECT_TRUE(errors().empty());
}

TEST_F(Args, ArraysInAndOut) {
  int32_t ea = declare("a", 64, 96, 10);
  declare("s", 64, 16, 6);
  parse("list a s 5 a[3:5]");
  int32_t count = 0;
  int32_t dims[3] = {0, 0, 0};
  auto* f = static_cast<float*>(aryarg(2, 0, 0, 96, &count, dims));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(count, 10);
  EXPECT_EQ(dims[0], 10);
  EXPECT_EQ(f[9], 9.0f);
  // Its own buffer: the variable's data.
  EXPECT_EQ(static_cast<void*>(f), stkptr(symptr(ea)->data));
  // Converted to another word size, capped by max.
  auto* sh = static_cast<int16_t*>(aryarg(2, 4, 3, 16, &count, nullptr));
  ASSERT_NE(sh, nullptr);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(sh[2], 2);
  auto* g = static_cast<float*>(aryarg(5, 0, 0, 96, &count, nullptr));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(g[0], 3.0f);
  EXPECT_TRUE(errors().empty());

  // Errors 35 and 82 carry the argument number.
  EXPECT_EQ(aryarg(4, 0, 0, 96, &count, nullptr), nullptr);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(4,35)"}));
  EXPECT_FLOAT_EQ(getres(0), -35.0f);
  state = 0;
  EXPECT_EQ(aryarg(3, 7, 0, 96, &count, nullptr), nullptr);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(3,82)"}));

  // Writing: putarg resizes the variable and stores the items.
  state = 0;
  const float in[4] = {1.5f, -2.0f, 300.7f, 4.0f};
  EXPECT_EQ(putarg(3, in, 4, 96), 0);
  EXPECT_EQ(putarg(4, in, 4, 96), -1);  // a number constant
  parse("list s");
  // An array big enough keeps its size.
  EXPECT_EQ(items(argrec(2)), (std::vector<float>{1, -2, 300, 4, 4, 5}));
  const int16_t sv[3] = {7, 8, 9};
  EXPECT_EQ(putarg(2, sv, 3, 16), 0);  // same word size: copied as a run
  parse("list s");
  EXPECT_EQ(items(argrec(2)), (std::vector<float>{7, 8, 9, 4, 4, 5}));
  // A fresh variable takes the items' count.
  declare("t", 64, 96, 0);
  parse("list t");
  EXPECT_EQ(putarg(2, in, 4, 96), 0);
  parse("list t");
  EXPECT_EQ(items(argrec(2)), (std::vector<float>{1.5f, -2, 300.7f, 4}));
}

TEST_F(Args, SetnumStoresIntoVariables) {
  int32_t e = declare("n", 16, 96, 1);
  declare("a", 64, 16, 4);
  parse("list r4 n a[2] 3 pflags");
  EXPECT_EQ(setnum(2, 7.5), 0);
  EXPECT_FLOAT_EQ(getres(4), 7.5f);
  setnum(3, -1.25);
  float v;
  std::memcpy(&v, stkptr(symptr(e)->data), 4);
  EXPECT_FLOAT_EQ(v, -1.25f);
  setnum(4, 40000);  // a short clamps nothing by default: low 16 bits
  parse("list a");
  EXPECT_EQ(items(argrec(2)), (std::vector<float>{0, 1, 40000.0f - 65536.0f, 3}));
  parse("list 3");
  EXPECT_EQ(setnum(2, 5), 0);  // a constant: nothing
  EXPECT_EQ(setnum(9, 5), 0);  // missing: nothing
  EXPECT_TRUE(errors().empty());
}

TEST_F(Args, RegistersThroughRecords) {
  setfres(6.0f, 5);
  parse("list r5 #5");
  PtrRec* r = argrec(2);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Flg, K_NUMBER);
  EXPECT_EQ(items(r), (std::vector<float>{6}));
  EXPECT_EQ(setnum(3, 2.0), 0);
  EXPECT_FLOAT_EQ(getres(5), 2.0f);
  EXPECT_EQ(items(r), (std::vector<float>{2}));  // the register, not a copy

  // A record cannot name stack address 0 (Addr 0 means no data), so the
  // registers must not lie at word 0; with them elsewhere #0 works too.
  int32_t a = 0;
  ASSERT_GT(getstk(&a, 10, 4, 1, 0), 0);
  ASSERT_GT(a, 0);
  regadr = a;
  setfres(6.0f, 0);
  parse("list r0 #0");
  EXPECT_EQ(items(argrec(2)), (std::vector<float>{6}));
  EXPECT_EQ(setnum(3, 2.0), 0);
  EXPECT_FLOAT_EQ(getres(0), 2.0f);
}

TEST_F(Args, ListWordsAndListSources) {
  parse("list(5,6,7)");
  EXPECT_EQ(nargs(), 4);
  EXPECT_EQ(intarg(2, 0), 5);
  EXPECT_EQ(intarg(4, 0), 7);
  EXPECT_EQ(intarg(5, -1), -1);
  EXPECT_EQ(argcnt(1), 3);
  // Back to the plain argument map.
  argset(0, 0);
  EXPECT_EQ(lsttok, -1);
  EXPECT_EQ(nargs(), 1);
  EXPECT_EQ(intarg(2, -1), -1);

  // More than four elements go on in chained entries.
  parse("list(1,2,3,4,5,6,7,8)");
  EXPECT_EQ(nargs(), 9);
  for (int i = 1; i <= 8; i++) EXPECT_EQ(intarg(i + 1, 0), i) << i;
  EXPECT_EQ(intarg(10, -1), -1);

  // The list word resolved into a record with an argument list, which can
  // then be the list source.
  parse("list(9,8,7,6,5)");
  int32_t h = 0;
  EXPECT_EQ(argtyp(1, &h), 0x2001);
  ASSERT_GT(h, 0);
  EXPECT_EQ(argcnt(1), 5);
  argset(-1, h);
  EXPECT_EQ(lstsrc, h);
  EXPECT_EQ(nargs(), 6);
  EXPECT_EQ(intarg(2, 0), 9);
  EXPECT_EQ(intarg(6, 0), 5);
  EXPECT_EQ(intarg(7, -3), -3);
  int32_t h1 = 0;
  argtyp(1, &h1);
  EXPECT_EQ(h1, h);  // argument 1 is the record itself
  argset(-1, 0);
  EXPECT_EQ(lstsrc, 0);

  // A bare keyword made an item has no argument list: as the source it
  // gives no operands, never the command line's.
  parse("list 3 window 4");
  int32_t kh = 0;
  const int kw = argidx(3, &kh);
  ASSERT_GE(kw, 0);
  const int32_t item = resarg(kw, 0);
  ASSERT_GT(item, 0);
  ASSERT_EQ(ptrrec(item)->Flg & 0x2000, 0x2000);
  ASSERT_LT(ptrrec(item)->Args, 1);
  argset(-1, item);
  EXPECT_EQ(lstsrc, item);
  EXPECT_EQ(nargs(), 1);
  EXPECT_EQ(intarg(2, -3), -3);
  EXPECT_EQ(intarg(4, -3), -3);
  argtyp(1, &h1);
  EXPECT_EQ(h1, item);
  argset(-1, 0);
  EXPECT_EQ(nargs(), 4);
  EXPECT_EQ(intarg(2, 0), 3);
  EXPECT_TRUE(errors().empty());
}

TEST_F(Args, ANameThatHoldsNothingIsToldOnce) {
  // A system name of no kind whose layer has not filled it.
  const int32_t e = declare("zdev", 0, 1, 0);
  ASSERT_GT(e, 0);
  ASSERT_LE(symptr(e)->data, 0);
  parse("type zdev zdev");
  int32_t h = 0;
  EXPECT_EQ(argtyp(2, &h), 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(argary(3, nullptr), nullptr);
  EXPECT_EQ(argnum(2), -1);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(0,103)"}));
}

TEST_F(Args, BadTablesAreNeverIndexed) {
  parse("list 1 2");
  argmap[1] = 77;
  argmap[2] = -3;
  EXPECT_EQ(intarg(2, -1), -1);
  EXPECT_EQ(intarg(3, -1), -1);
  nargw = 500;
  EXPECT_EQ(nargs(), MAXARG);
  EXPECT_EQ(intarg(45, -1), -1);
  lsttok = 300;
  EXPECT_EQ(intarg(2, -1), -1);
  // A list source whose record is no record.
  lsttok = -1;
  argset(-1, 999999999);
  EXPECT_EQ(lstsrc, 0);
  // The resolver refuses a word index outside the table.
  EXPECT_EQ(resarg(42, 0), 0);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(98,71)"}));
  state = 0;
  EXPECT_EQ(tokstr(-1, nullptr, 0), 0);
  char t[4];
  EXPECT_EQ(tokstr(50, t, sizeof t), 0);
}

// Lays out the command "list(v,v,...)" with n elements directly in the
// word table (the parser's table would be full before 21 elements): the
// list word, its chained slot entries, then the element words, each naming
// variable entry v.
void listline(int n, int32_t v) {
  std::memset(wrdtab, 0, sizeof wrdtab);
  wrdtab[0].type = WT_CMDLIST;
  wrdtab[0].v1 = 3;
  wrdtab[0].v2 = static_cast<int16_t>(n);
  int next = 1, owner = 0, base = 0;
  std::vector<std::pair<int, int>> phys;
  for (int j = 0; j < n; j++) {
    int s = j - base;
    if (s == 3 && n - j > 1) {
      int c = next++;
      wrdtab[c].type = WT_SLOTS;
      setwslot(wrdtab[owner], 3, static_cast<int16_t>(c - owner));
      owner = c, base = j, s = 0;
    }
    phys.emplace_back(owner, s);
  }
  for (int j = 0; j < n; j++) {
    int e = next++;
    wrdtab[e].type = 0x1040;
    setwval(wrdtab[e], v);
    setwslot(wrdtab[phys[j].first], phys[j].second, static_cast<int16_t>(e - phys[j].first));
  }
  ASSERT_LE(next, NWORDS);
  nwords = static_cast<int16_t>(next);
  argmap[0] = 0;
  nargw = 1;
  lsttok = 0;
  lstsrc = 0;
  state = 0;
}

TEST_F(Args, WorkTableOverflow) {
  int32_t b = declare("b", 64, 96, 2);
  // The list word and 20 pending elements: 21 entries.
  listline(20, b);
  int32_t h = 0;
  EXPECT_EQ(argtyp(1, &h), 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(0,76)"}));
  EXPECT_EQ(wrdtab[0].type, WT_CMDLIST);  // left as it was
  // Nineteen fit; each becomes a record of b.
  listline(19, b);
  EXPECT_EQ(argtyp(1, &h), 0x2001);
  EXPECT_TRUE(errors().empty());
  EXPECT_EQ(nargs(), 20);
  PtrRec* e20 = argrec(20);
  ASSERT_NE(e20, nullptr);
  EXPECT_EQ(e20->Idx, b);
  EXPECT_EQ(items(e20), (std::vector<float>{0, 1}));
}

TEST_F(Args, ExpressionsGoToTheEvaluator) {
  declare("a", 64, 96, 3);
  parse("list a+1");
  int w = argmap[1];
  ASSERT_EQ(wrdtab[w].type, WT_GROUP);
  float v = 3;
  // The sum is a temporary array; the word is resolved to it, so a second
  // access does not evaluate again.
  EXPECT_EQ(getarg(2, &v, nullptr, 0, nullptr), 0x1040);
  EXPECT_EQ(v, 1.0f);
  EXPECT_EQ(errors(), std::vector<std::string>{});
  EXPECT_EQ(wrdtab[w].type, -0x1040);
  PtrRec* r = argrec(2);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(items(r), (std::vector<float>{1, 2, 3}));
}

TEST_F(Args, StringsAndIndirectNames) {
  int32_t s = putsym(0, "sv", 2, 0x1021, 0, 0, 8);
  ASSERT_GT(s, 0);
  ASSERT_EQ(PUTCHV(s, "arr", 3, 1), 0);
  declare("arr", 64, 96, 4);
  parse("list sv ^~sv #(2+1)");
  float v = 0;
  char text[16];
  int len = 0;
  EXPECT_EQ(getarg(2, &v, text, sizeof text, &len), 0x1020);
  EXPECT_STREQ(text, "arr");
  EXPECT_EQ(len, 3);
  EXPECT_EQ(v, 1.0f);
  // The string names the array.
  PtrRec* r = argrec(3);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Flg & 0x7F0, 64);
  EXPECT_EQ(items(r).size(), 4u);
  ASSERT_EQ(PUTCHV(s, "nothing", 7, 1), 0);
  parse("list ^~sv");
  EXPECT_EQ(argrec(2), nullptr);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(0,183)"}));
}

TEST_F(Args, IndirectRegisterNumber) {
  setfres(8.0f, 3);
  parse("list #(3)");
  EXPECT_EQ(intarg(2, 0), 8);
  EXPECT_EQ(setnum(2, 1.0), 0);
  EXPECT_FLOAT_EQ(getres(3), 1.0f);
}

TEST_F(Args, MacroArguments) {
  parse("list $1 $2");
  EXPECT_EQ(getarg(2, nullptr, nullptr, 0, nullptr), 0);  // no macro: missing
  static int32_t saved = 0;
  PtrRec* r = putptr(K_CONST, 0, nullptr, 0, 96, 1);
  float f = 12.5f;
  std::memcpy(&r->Addr, &f, 4);
  r->Length = 1;
  saved = static_cast<int32_t>(r->PTR);
  tokhdr = [](int n) { return n == 1 ? saved : 0; };
  EXPECT_FLOAT_EQ(fltarg(2, 0), 12.5f);
  EXPECT_EQ(fltarg(3, -1), -1.0f);
}

TEST_F(Args, DefaultDataFileNames) {
  char buf[DFNMAX];
  ASSERT_EQ(setstrv("datadir", "/lab/data/"), 0);
  EXPECT_EQ(dfname(7, buf, 0x200), 15);
  EXPECT_STREQ(buf, "/lab/data/7.img");
  dfname(12, buf, 0x100);
  EXPECT_STREQ(buf, "/lab/data/12.vec");
  dfname(3, buf, 0);
  EXPECT_STREQ(buf, "/lab/data/3.dat");
  dfname(-1, buf, 0x200);
  EXPECT_STREQ(buf, "/lab/data/*.img");
  ASSERT_EQ(setstrv("datadir", ""), 0);
  EXPECT_EQ(dfname(7, buf, 0x200), 0);
  EXPECT_STREQ(buf, "");
}


TEST_F(Args, FileBackedWords) {
  parse("list @scan{3} @\"my file.img\"");
  PtrRec* r = argrec(2);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Flg, 512 + 8);
  ASSERT_NE(filrec(r), nullptr);
  EXPECT_STREQ(filrec(r)->Nam, "scan");
  EXPECT_EQ(filrec(r)->Enum, 3);
  r = argrec(3);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(filrec(r)->Nam, "my file.img");
  EXPECT_TRUE(errors().empty());

  // A data-file number names the default data file.
  ASSERT_EQ(setstrv("datadir", "/lab/"), 0);
  parse("list @scan");
  int w = argmap[1] + wrdtab[argmap[1]].v1;
  wrdtab[w].type = WT_NUMBER;
  int32_t seven = 7;
  std::memcpy(wrdtab[w].b, &seven, 4);
  setwslot(wrdtab[w], 2, 32);
  r = argrec(2);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(filrec(r)->Nam, "/lab/7.img");
  ASSERT_EQ(setstrv("datadir", ""), 0);
  parse("list @scan");
  w = argmap[1] + wrdtab[argmap[1]].v1;
  wrdtab[w].type = WT_NUMBER;
  std::memcpy(wrdtab[w].b, &seven, 4);
  setwslot(wrdtab[w], 2, 32);
  EXPECT_EQ(argrec(2), nullptr);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(0,64)"}));

  // A name given by a variable must be a whole string.
  declare("a", 64, 96, 3);
  parse("list @<a>");
  EXPECT_EQ(argrec(2), nullptr);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(0,65)"}));
  int32_t s = putsym(0, "fn", 2, 0x1021, 0, 0, 8);
  ASSERT_EQ(PUTCHV(s, "data.img", 8, 1), 0);
  parse("list @<fn>");
  r = argrec(2);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(filrec(r)->Nam, "data.img");
}

TEST_F(Args, ListElementsAsRecords) {
  declare("a", 64, 96, 4);
  parse("list(\"text\", 5, a[1:2], real)");
  int32_t h = 0;
  ASSERT_EQ(argtyp(1, &h), 0x2001);
  argset(-1, h);
  float v = 0;
  char text[16];
  int len = 0;
  EXPECT_EQ(getarg(2, &v, text, sizeof text, &len), K_STRING);
  EXPECT_STREQ(text, "text");
  EXPECT_EQ(v, 1.0f);  // one string
  EXPECT_EQ(intarg(3, 0), 5);
  int32_t count = 0;
  PtrRec* r = argary(4, &count);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(items(r), (std::vector<float>{1, 2}));
  EXPECT_EQ(argnum(5), 48);
  EXPECT_EQ(argknd(5, 63), 96);
  EXPECT_EQ(argary(2, &count) == nullptr, false);  // a string has items
  EXPECT_EQ(argary(5, &count), nullptr);            // a keyword has none

  // An unknown name with a list keeps its name.
  parse("mymacro(1,2,3)");
  EXPECT_EQ(argtyp(1, &h), 0x2009);
  EXPECT_EQ(getarg(1, &v, text, sizeof text, &len), 0x2009);
  EXPECT_STREQ(text, "mymacro");
  EXPECT_EQ(v, 3.0f);
  EXPECT_TRUE(errors().empty());
}


TEST_F(Args, NoScratchRoomIsAnError) {
  declare("a", 64, 96, 4);
  parse("list a 3");
  int32_t keep = scrtop;
  scrtop = lstk.lowest - 4;  // the scratch area is full
  int32_t h = 0;
  EXPECT_EQ(argtyp(2, &h), 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR(0,42)"}));
  scrtop = keep;
  state = 0;
  EXPECT_EQ(items(argrec(2)).size(), 4u);
}

}  // namespace
