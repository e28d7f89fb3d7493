// Command lines end to end: parsed, ordered, resolved by the argument
// access and evaluated, as the assignment command does.
#include "tests/compute/expr_fixture.h"

namespace {

class Lines : public Expr {
 protected:
  void SetUp() override {
    Expr::SetUp();
    ASSERT_EQ(mksys(), 0);
  }
  void TearDown() override {
    clrparse();
    Expr::TearDown();
  }
  // Parses, orders and evaluates one line (a new command each time);
  // returns the kind of the result and its first value in *v.
  static int run(const char* line, float* v = nullptr) {
    int code;
    if (!prsline(line, PF_PARSE | PF_ORDER, &code)) return -1;
    float x = 0;
    int k = getarg(1, &x, nullptr, 0, nullptr);
    if (v) *v = x;
    return k;
  }
};

}  // namespace

TEST_F(Lines, AssignmentsAndExpressions) {
  int32_t a = arr("a", 16, {1, 2, 3, 4});
  int32_t b = arr("b", 16, {10, 20, 30, 40});
  int32_t c = decl("c", K_ARRAY, 16);
  EXPECT_GT(run("c = a + b"), 0);
  EXPECT_EQ(vals(c), (std::vector<double>{11, 22, 33, 44}));
  EXPECT_GT(run("c = a * 2.5 + b"), 0);
  EXPECT_EQ(vals(c), (std::vector<double>{12, 25, 37, 50}));
  EXPECT_GT(run("c = (a + b) * 2"), 0);
  EXPECT_EQ(vals(c), (std::vector<double>{22, 44, 66, 88}));
  EXPECT_GT(run("c = -a"), 0);
  EXPECT_EQ(vals(c), (std::vector<double>{-1, -2, -3, -4}));
  EXPECT_GT(run("c = a - b - a"), 0);  // left to right
  EXPECT_EQ(vals(c), (std::vector<double>{-10, -20, -30, -40}));
  EXPECT_GT(run("c = a == 2"), 0);
  EXPECT_EQ(vals(c), (std::vector<double>{0, 1, 0, 0}));
  EXPECT_GT(run("c = a"), 0);
  EXPECT_EQ(vals(c), vals(a));
  EXPECT_GT(run("a = a * 3"), 0);  // in place
  EXPECT_EQ(vals(a), (std::vector<double>{3, 6, 9, 12}));
  EXPECT_GT(run("c = a // b"), 0);
  EXPECT_EQ(vals(c), (std::vector<double>{3, 6, 9, 12, 10, 20, 30, 40}));
  float v = 0;
  EXPECT_GT(run("7 / 2", &v), 0);
  EXPECT_EQ(v, 3.5f);
  EXPECT_GT(run("?b", &v), 0);
  EXPECT_EQ(v, 4.0f);
  EXPECT_GT(run("5!", &v), 0);
  EXPECT_EQ(v, 120.0f);
  EXPECT_GT(run("2 ** 10 + 7 rem 4", &v), 0);
  EXPECT_EQ(v, 1027.0f);
  (void)b;
}

TEST_F(Lines, Strings) {
  int32_t s = decl("s", K_STRING, 8);
  EXPECT_GT(run("s = \"abc\" // \"de\""), 0);
  EXPECT_EQ(text(s), "abcde");
  // A line that begins with a quoted string is no expression: the result
  // of the comparison goes into a variable.
  int32_t c = arr("c", 96, {5, 5});
  EXPECT_GT(run("c = \"file10\" > \"file9\""), 0);
  EXPECT_EQ(vals(c), (std::vector<double>{1, 1}));
  float v = -1;
  EXPECT_EQ(run("s == \"abcde\"", &v), K_CONST);
  EXPECT_EQ(v, 1.0f);
  EXPECT_EQ(run("s != \"abcde\"", &v), K_CONST);
  EXPECT_EQ(v, 0.0f);
}
