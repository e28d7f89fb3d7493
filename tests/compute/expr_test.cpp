// The evaluator: the postfix walk, fused stores, in-place operations,
// temporaries and their word sizes, aliasing windows, string comparisons,
// string and list assignment, and the failures that end an expression.
#include "tests/compute/expr_fixture.h"

#include "files/rdary.h"

TEST_F(Expr, FusedStoreGoesStraightIntoTheDestination) {
  int32_t a = decl("a", K_ARRAY, 16);
  int32_t b = arr("b", 16, {1, 2, 3});
  int32_t c = arr("c", 16, {10, 20, 30});
  int32_t ar = rec(a), br = rec(b), cr = rec(c), plus = item(116, 2), eq = asg();
  auto* l = static_cast<uint32_t*>(getbuf(24));
  uint32_t ids[] = {5, static_cast<uint32_t>(ar), static_cast<uint32_t>(br),
                    static_cast<uint32_t>(cr), static_cast<uint32_t>(plus),
                    static_cast<uint32_t>(eq)};
  std::memcpy(l, ids, sizeof ids);
  int32_t top = scrtop;
  EXPECT_EQ(doexpr(stkadr(l)), ar);
  EXPECT_EQ(static_cast<int32_t>(l[1]), ar);
  // Only the operand table was taken: no temporary record, no data.
  EXPECT_EQ(scrtop - top, OPTWDS);
  EXPECT_EQ(vals(a), (std::vector<double>{11, 22, 33}));
  EXPECT_EQ(optab, nullptr);  // the enclosing (no) table is current again

  // Assigning a variable to itself through one record changes nothing.
  EXPECT_EQ(eval({ar, ar, asg()}), ar);
  EXPECT_EQ(vals(a), (std::vector<double>{11, 22, 33}));
}

TEST_F(Expr, InPlaceAndOverlappingWindows) {
  // a = a * 2 runs in place: the data block stays where it was.
  int32_t a = arr("a", 32, {1, 2, 3, 4});
  int32_t data = symptr(a)->data;
  EXPECT_GT(eval({rec(a), rec(a), num(2), item(118, 2), asg()}), 0);
  EXPECT_EQ(vals(a), (std::vector<double>{2, 4, 6, 8}));
  EXPECT_EQ(symptr(a)->data, data);

  // The same variable through another window: the result is computed from
  // the old values (a temporary first), never smeared by the writes.
  int32_t s = arr("s", 16, {0, 1, 2, 3, 4, 5, 6, 7});
  int32_t d = win(rec(s), 1, 7);
  EXPECT_EQ(eval({d, win(rec(s), 0, 7), num(0), item(116, 2), asg()}), d);
  EXPECT_EQ(vals(s), (std::vector<double>{0, 0, 1, 2, 3, 4, 5, 6}));
  d = win(rec(s), 0, 7);
  EXPECT_EQ(eval({d, win(rec(s), 1, 7), asg()}), d);
  EXPECT_EQ(vals(s), (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 6}));
  // The second operand aliasing through another window counts too.
  d = win(rec(s), 1, 7);
  EXPECT_EQ(eval({d, win(rec(s), 1, 7), win(rec(s), 0, 7), item(116, 2), asg()}), d);
  EXPECT_EQ(vals(s), (std::vector<double>{0, 1, 3, 5, 7, 9, 11, 12}));

  // A result that must grow the destination it reads is not made in place.
  int32_t t = arr("t", 16, {1, 2});
  EXPECT_GT(eval({rec(t), rec(t), rec(t), item(111, 2), asg()}), 0);
  EXPECT_EQ(vals(t), (std::vector<double>{1, 2, 1, 2}));
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Expr, TwoOperandReductionIntoALargeDestination) {
  std::vector<double> zeros(200, 0.0);
  int32_t d = arr("d", 16, zeros);
  int32_t dr = rec(d);
  EXPECT_EQ(eval({dr, num(3), num(4), item(116, 2), asg()}), dr);
  std::vector<double> v = vals(d);
  ASSERT_EQ(v.size(), 200u);
  EXPECT_EQ(v.front(), 7);
  EXPECT_EQ(v.back(), 7);
}

TEST_F(Expr, ElementCount) {
  EXPECT_EQ(first(eval({str("abc"), item(198, 1)})), -1);
  EXPECT_EQ(first(eval({rec(decl("e", K_ARRAY, 16)), item(198, 1)})), 0);
  EXPECT_EQ(first(eval({num(5), item(198, 1)})), 1);
  EXPECT_EQ(first(eval({rec(arr("x", 8, {1, 2, 3, 4, 5})), item(198, 1)})), 5);
}

TEST_F(Expr, StringComparisons) {
  struct S {
    const char* a;
    int code;
    const char* b;
    float want;
  } cs[] = {{"abc", 107, "abc", 1},   {"abcd", 120, "abc", 1},   {"abc", 122, "abcd", 1},
            {"abc", 107, "abd", 0},   {"abc", 124, "abd", 1},    {"", 107, "", 0},
            {"abc", 120, "abcd", 0},  {"abcd", 122, "abc", 0},   {"abc", 124, "abc", 0},
            {"file10", 121, "file9", 1}, {"file10", 123, "file9", 0}, {"B", 121, "a", 1}};
  for (const S& c : cs) {
    int32_t r = eval({str(c.a), str(c.b), item(c.code, 2)});
    ASSERT_GT(r, 0) << c.a << " " << c.code << " " << c.b;
    EXPECT_EQ(R(r)->Flg, K_CONST);
    EXPECT_EQ(R(r)->Wsiz, 96);
    EXPECT_EQ(first(r), c.want) << c.a << " " << c.code << " " << c.b;
  }
  EXPECT_EQ(compar(107, "ab", 2, "abc", 3), 0);
  EXPECT_GT(digval("file10", 6), digval("file9", 5));
  EXPECT_EQ(digval("a-b", 3), digval("AB", 2));
}

TEST_F(Expr, StringAssignmentAndConcatenation) {
  int32_t s = decl("s", K_STRING, 8);
  EXPECT_GT(eval({rec(s), str("abc"), asg()}), 0);
  EXPECT_EQ(text(s), "abc");
  EXPECT_EQ(symptr(s)->value, 3u);
  // Growing a string from itself.
  EXPECT_GT(eval({rec(s), rec(s), str("de"), item(111, 2), asg()}), 0);
  EXPECT_EQ(text(s), "abcde");
  // A shorter text replaces it.
  EXPECT_GT(eval({rec(s), str("xy"), asg()}), 0);
  EXPECT_EQ(text(s), "xy");

  // Joined strings without a destination are a string, even of one character.
  int32_t t = eval({str("ab"), str("cd"), item(111, 2)});
  ASSERT_GT(t, 0);
  EXPECT_TRUE(R(t)->Flg & K_STRING);
  std::string got;
  for (double v : rvals(t)) got.push_back(static_cast<char>(v));
  EXPECT_EQ(got, "abcd");
  t = eval({str("x"), str(""), item(111, 2)});
  ASSERT_GT(t, 0);
  EXPECT_TRUE(R(t)->Flg & K_STRING);
  EXPECT_EQ(rvals(t), (std::vector<double>{'x'}));

  // Arrays: three then two.
  int32_t c = eval({rec(arr("p", 16, {1, 2, 3})), rec(arr("q", 16, {4, 5})), item(111, 2)});
  EXPECT_EQ(rvals(c), (std::vector<double>{1, 2, 3, 4, 5}));
}

TEST_F(Expr, TemporaryWordSizes) {
  int32_t x = arr("x", 8, {7, 200}), y = arr("y", 8, {2, 100});
  int32_t q = eval({rec(x), rec(y), item(119, 2)});
  EXPECT_EQ(R(q)->Wsiz, 96);
  EXPECT_EQ(rvals(q), (std::vector<double>{3.5, 2}));
  int32_t p = eval({rec(x), rec(y), item(116, 2)});
  EXPECT_EQ(R(p)->Wsiz, 16);
  EXPECT_EQ(rvals(p), (std::vector<double>{9, 300}));
  // Nested: the 16-bit sum times bytes gives 32 bits.
  int32_t m = eval({rec(x), rec(y), item(116, 2), rec(y), item(118, 2)});
  EXPECT_EQ(R(m)->Wsiz, 32);
  EXPECT_EQ(rvals(m), (std::vector<double>{18, 30000}));
  // The float functions and '++' make floats; negation doubles.
  EXPECT_EQ(R(eval({rec(x), item(201, 1)}))->Wsiz, 96);
  EXPECT_EQ(R(eval({rec(x), item(207, 1)}))->Wsiz, 16);
  int32_t n = eval({rec(x), item(187, 1)});
  EXPECT_EQ(R(n)->Wsiz, 16);
  EXPECT_EQ(rvals(n), (std::vector<double>{-7, -200}));
  // 24-bit and nibble data give 32 and 16 bits, never a size without items.
  int32_t c = arr("c", 24, {0x10000, 5});
  EXPECT_EQ(R(eval({rec(c), rec(c), item(116, 2)}))->Wsiz, 32);
  int32_t nb = rec(x);
  R(nb)->Wsiz = 264;
  int32_t nb2 = rec(x);
  R(nb2)->Wsiz = 264;
  int32_t s = eval({nb, nb2, item(116, 2)});
  EXPECT_EQ(R(s)->Wsiz, 16);
  EXPECT_EQ(rvals(s), (std::vector<double>{14, 16}));
  // A one-element result is a number held in its record.
  int32_t one = eval({num(2, 32), num(3, 32), item(117, 2)});
  EXPECT_EQ(R(one)->Flg, K_CONST);
  EXPECT_EQ(R(one)->Wsiz, 32);
  EXPECT_EQ(first(one), -1);
}

TEST_F(Expr, ShapeFollowsTheOperand) {
  int32_t m = var("m", K_MATRIX, 16, {1, 2, 3, 4, 5, 6}, 3, 2);
  int32_t m2 = decl("m2", K_MATRIX, 16);
  EXPECT_GT(eval({rec(m2), rec(m), num(2), item(118, 2), asg()}), 0);
  const uint32_t* h = wordp(symptr(m2)->data);
  EXPECT_EQ(h[0], 3u);
  EXPECT_EQ(h[1], 2u);
  EXPECT_EQ(vals(m2), (std::vector<double>{2, 4, 6, 8, 10, 12}));
}

TEST_F(Expr, ListAssignment) {
  int32_t l1 = decl("l1", K_STRING | K_LIST, 8);
  PtrRec* r = R(win(rec(l1), 0, 2));
  int32_t count = -1;
  makvar(r, nullptr, &count, 2, 0, 8);
  ASSERT_EQ(count, 2);
  int32_t tab = symptr(l1)->data;
  const char* words[] = {"ab", "cde"};
  for (int i = 0; i < 2; i++) {
    maklst(-tab, static_cast<int32_t>(strlen(words[i])), i);
    int32_t len;
    auto* p = const_cast<uint8_t*>(lstptr(nullptr, i, &len, tab));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, words[i], strlen(words[i]));
  }
  int32_t l2 = decl("l2", K_STRING | K_LIST, 8);
  EXPECT_GT(eval({rec(l2), rec(l1), asg()}), 0);
  EXPECT_EQ(state & ST_ERROR, 0);
  int32_t t2 = symptr(l2)->data;
  ASSERT_GT(t2, 0);
  ASSERT_NE(t2, tab);
  for (int i = 0; i < 2; i++) {
    int32_t len = 0;
    const uint8_t* p = lstptr(nullptr, i, &len, t2);
    ASSERT_NE(p, nullptr) << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len)), words[i]);
  }
}

// The elements of a list, read from its table (an empty slot is an empty
// element).
static std::vector<std::string> elems(int32_t entry) {
  std::vector<std::string> out;
  int32_t t = symptr(entry)->data;
  for (uint32_t i = 0; t > 0 && i < symptr(entry)->value; i++) {
    int32_t len = 0;
    const uint8_t* p = lstptr(nullptr, static_cast<int32_t>(i), &len, t);
    out.push_back(p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len)) : "");
  }
  return out;
}

TEST_F(Expr, ListOfNoVariableCopiesEveryElement) {
  // A typed brace block read into a list is a record of no variable;
  // assigned to a list it gives all its elements, the first one too, and no
  // more.
  PtrRec* src = rdary(0, K_STRING | K_LIST, 0, nullptr, 1, "alpha\nbeta gamma\n\"\"\n\"  delta\"\n}\n");
  ASSERT_NE(src, nullptr);
  int32_t l = decl("l", K_STRING | K_LIST, 8);
  EXPECT_GT(eval({rec(l), stkadr(src), asg()}), 0);
  EXPECT_EQ(state & ST_ERROR, 0);
  EXPECT_EQ(elems(l), (std::vector<std::string>{"alpha", "beta gamma", "", "  delta"}));

  // A named source seen through a window from element 1 copies from there.
  int32_t k = decl("k", K_STRING | K_LIST, 8);
  EXPECT_GT(eval({rec(k), win(rec(l), 1, 2), asg()}), 0);
  EXPECT_EQ(elems(k), (std::vector<std::string>{"beta gamma", ""}));
}

TEST_F(Expr, FailuresEndTheExpressionWithoutAValue) {
  int32_t a = arr("a", 16, {1, 2});
  int32_t ar = rec(a);
  // An id of 0 before the end.
  EXPECT_EQ(eval({ar, 0, num(1), item(116, 2)}), 0);
  EXPECT_EQ(state & ST_ERROR, 0);
  // A refused item.
  EXPECT_EQ(eval({ar, item(116, 2, 8)}), 0);
  EXPECT_TRUE(state & ST_ERROR);
  state = 0;
  // A function item before the dispatcher exists: an error, no element loop.
  int32_t d = arr("d", 16, {5, 5});
  EXPECT_EQ(eval({rec(d), item(209, 1, 1), asg()}), 0);
  EXPECT_TRUE(state & ST_ERROR);
  EXPECT_EQ(vals(d), (std::vector<double>{5, 5}));
  state = 0;
  // A string too small for many items: error 58 from the assignment.
  EXPECT_EQ(eval({str("ab"), rec(a), asg()}), 0);
  EXPECT_TRUE(state & ST_ERROR);
  state = 0;
  // Vector operands go to the vector arithmetic.
  newopt();
  optab[OT_KIND] = K_VECTOR;
  ariths(116, 1, 1);
  EXPECT_TRUE(state & ST_ERROR);
}

TEST_F(Expr, AssignmentWithoutASourceErases) {
  int32_t a = arr("a", 16, {1, 2, 3});
  int32_t ar = rec(a);
  EXPECT_EQ(eval({ar, asg()}), ar);
  EXPECT_EQ(symptr(a)->value, 0u);
  EXPECT_EQ(symptr(a)->data, 0);
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Expr, SameDimensionsCutTheLargerWindow) {
  uint32_t da[3] = {10, 8, 1}, db[3] = {6, 4, 1};
  PtrRec* a = putptr(K_MATRIX, 0, da, 0, 16, 1);
  PtrRec* b = putptr(K_MATRIX, 0, db, 0, 16, 1);
  a->Idx = b->Idx = -1;
  a->Offs[3] = 10, a->Offs[4] = 8, a->Length = 80, a->Ndims = 2;
  b->Offs[3] = 6, b->Offs[4] = 4, b->Length = 24, b->Ndims = 2;
  EXPECT_EQ(samedim(a, b), 1);
  EXPECT_EQ(a->Offs[3], 6u);
  EXPECT_EQ(a->Offs[4], 4u);
  EXPECT_TRUE(a->Flg & 1);
  EXPECT_FALSE(b->Flg & 1);
  EXPECT_EQ(a->Bufsiz, -1);
  // A window of b that stops short of its data's end: no.
  b->Flg |= 1;
  b->Offs[3] = 5;
  EXPECT_EQ(samedim(a, b), 0);
  // A plain stack variable as destination, or a one-item source: no.
  b->Flg = K_MATRIX | K_NAMED;
  EXPECT_EQ(samedim(a, b), 0);
  b->Flg = K_MATRIX;
  a->Length = 1;
  EXPECT_EQ(samedim(a, b), 0);
  EXPECT_EQ(samedim(nullptr, b), 1);
}

TEST_F(Expr, OperandTablesNest) {
  // A table made inside an evaluation links to the one before it and the
  // evaluation restores the enclosing table when it ends.
  int32_t* outer = newopt();
  ASSERT_NE(outer, nullptr);
  outer[OT_RCNT] = 1234;
  int32_t r = eval({num(2), num(3), item(116, 2)});
  EXPECT_EQ(first(r), 5);
  EXPECT_EQ(optab, outer);
  EXPECT_EQ(outer[OT_RCNT], 1234);
  int32_t* inner = newopt();
  EXPECT_EQ(inner[OT_PREV], stkadr(outer));
}
