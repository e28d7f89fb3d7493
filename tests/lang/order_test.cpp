// Expression ordering: the evaluation order of every priority level, the
// group entries that record it, and the ordering errors.
#include "parse_fixture.h"

#include "compute/func.h"

namespace {

class Order : public Parse {
 protected:
  // One word as text: a variable by name, a number by value, an operator by
  // its keyword (unary minus "neg", not "not", element count "?#", the
  // factorial "fact"), a call with its items, a nested group in brackets.
  std::string word(int e) {
    const WORD& w = wrdtab[e];
    if (w.type == WT_GROUP) return "[" + postfix(e) + "]";
    if (w.type == WT_NUMBER) {
      char b[32];
      std::snprintf(b, sizeof b, "%g", wfloat(w));
      return b;
    }
    if (w.type == WT_CMD) {
      switch (w.v1) {
        case 187: return "neg";
        case 195: return "not";
        case 198: return "?#";
        case 180: return "fact";
      }
      const char* t = cmdtxt(w.v1);
      return t ? t : "?";
    }
    if (w.type == WT_CMDLIST) {
      std::string r = cmdtxt(w.v1);
      r += "(";
      int n = w.v2;
      // Follow the slot chain as the argument access does.
      int cur = e, k = 0;
      for (int j = 0; j < n; j++, k++) {
        if (k == 3 && n - j > 1) {
          cur += wslot(wrdtab[cur], 3);
          k = 0;
        }
        int16_t s = wslot(wrdtab[cur], k);
        if (j) r += ",";
        if (s > -99) r += word(cur + s);
      }
      return r + ")";
    }
    if (w.type & 0x1000) {
      auto it = names.find(wval(w));
      return it == names.end() ? "var" : it->second;
    }
    if (w.type == WT_TEXT) return text(e);
    return "?";
  }
  std::string postfix(int g) {
    std::string r;
    int n = wrdtab[g].b[0];
    for (int i = 0; i < n; i++) {
      int e = grpitem(g, i);
      if (i) r += " ";
      r += e < 0 ? "<bad>" : word(e);
    }
    return r;
  }
  // Parses an expression line and shows its one group in postfix order.
  std::string order(const char* line) {
    parse(line);
    if (state & ST_ERROR) return err();
    if (nargw != 1 || !grpord(argmap[0])) return "not one group";
    return postfix(argmap[0]);
  }
};

}  // namespace

TEST_F(Order, EveryPriorityLevel) {
  // Assignment (1) last; * (6) before + (5).
  EXPECT_EQ(order("a = b + c * d"), "a b c d * + =");
  EXPECT_EQ(order("a = b * c + d"), "a b c * d + =");
  // Equal priorities left to right.
  EXPECT_EQ(order("a = b - c - d"), "a b c - d - =");
  EXPECT_EQ(order("a = b / c * d"), "a b c / d * =");
  EXPECT_EQ(order("a = b - c * d - e"), "a b c d * - e - =");
  // ** and // (7) before * (6).
  EXPECT_EQ(order("a = b * c ** 2"), "a b c 2 ** * =");
  EXPECT_EQ(order("a = b // c + d"), "a b c // d + =");
  // Unary minus (9) before *, also after an operator.
  EXPECT_EQ(order("a = -b * c"), "a b neg c * =");
  EXPECT_EQ(order("a = b * -c"), "a b c neg * =");
  EXPECT_EQ(order("a = - - b"), "a b neg neg =");
  EXPECT_EQ(order("a = +b"), "a b =");  // a unary "+" is dropped
  // Not, element count and the factorial (10).
  EXPECT_EQ(order("a = !n"), "a n not =");
  EXPECT_EQ(order("a = n!"), "a n fact =");
  EXPECT_EQ(order("a = n! + 1"), "a n fact 1 + =");
  EXPECT_EQ(order("a = ?s"), "a s ?# =");
  EXPECT_EQ(order("a = ?zz"), "a zz ?# =");  // an unknown name after "?"
  // Comparison (3) and logical (2) operators.
  EXPECT_EQ(order("a = b > 1 && c < 2 || d == 3"), "a b 1 > c 2 < && d 3 == || =");
  EXPECT_EQ(order("a = b + 1 >= c & d != e"), "a b 1 + c >= d e != & =");
  // Parentheses add 16 per level.
  EXPECT_EQ(order("a = (b + c) * d"), "a b c + d * =");
  EXPECT_EQ(order("a = b * (c + d)"), "a b c d + * =");
  EXPECT_EQ(order("a = ((b + c) * d - 1) / 2"), "a b c + d * 1 - 2 / =");
  EXPECT_EQ(order("a = b * (-c)"), "a b c neg * =");
  // Expressions without assignment.
  EXPECT_EQ(order("3 + 4 * 5"), "3 4 5 * +");
  EXPECT_EQ(order("-a"), "a neg");
}

TEST_F(Order, OperandCountsAndCodesInTheWords) {
  parse("a = b * -c");
  int g = argmap[0];
  const WORD& neg = wrdtab[grpitem(g, 3)];
  EXPECT_EQ(neg.v1, 187);
  EXPECT_EQ(neg.v2, 1);
  const WORD& mul = wrdtab[grpitem(g, 4)];
  EXPECT_EQ(mul.v1, 118);
  EXPECT_EQ(mul.v2, 2);
  EXPECT_EQ(wrdtab[grplast(g)].v1, OP_ASSIGN);
  // A function word in operand position takes one operand; after an
  // operand it is used infix and takes two.
  parse("a = sin b + c rem d");
  g = argmap[0];
  EXPECT_EQ(postfix(g), "a b sin c d rem + =");
  EXPECT_EQ(wrdtab[grpitem(g, 2)].v2, 1);
  EXPECT_EQ(wrdtab[grpitem(g, 5)].v2, 2);
}

TEST_F(Order, FunctionCallsWithSeveralArguments) {
  EXPECT_EQ(order("a = max(b, c + 1, d * 2) + 1"), "a max(b,[c 1 +],[d 2 *]) 1 + =");
  EXPECT_EQ(order("a = max(b, (c + 1) * 2)"), "a max(b,[c 1 + 2 *]) =");
  EXPECT_EQ(order("a = min(max(b, c), -d)"), "a min(max(b,c),[d neg]) =");
  EXPECT_EQ(order("a = x(b + 1)"), "a x =");
  // A line that begins with a function word and blank-separated arguments
  // is a call with those arguments.
  EXPECT_EQ(parse("max b c+1 d"), CM_EXPR);
  EXPECT_EQ(nargw, 1);
  EXPECT_EQ(postfix(argmap[0]), "max(b,[c 1 +],d)");
  // The group records where the items start and its first nested group.
  parse("a = max(b, c + 1, d * 2)");
  int g = argmap[0];
  EXPECT_EQ(W(g), "1 0 -12 0 | 03 0c 04 01 0b 00 00 00");
  EXPECT_EQ(wrdtab[g + wrdtab[g].v1 + 3].type, WT_GROUP);
}

TEST_F(Order, GroupsOfMoreThanSixItemsGoOnInContinuations) {
  parse("a = b + c + d + e - 1");
  int g = argmap[0];
  EXPECT_EQ(postfix(g), "a b c + d + e + 1 - =");
  EXPECT_EQ(wrdtab[g].b[0], 11);
  ASSERT_GT(wrdtab[g].v2, 0);
  const WORD& c = wrdtab[wrdtab[g].v2];
  EXPECT_EQ(c.type, WT_SLOTS);
  EXPECT_EQ(c.v2, 0);
  // Items 7 to 11 start at words 6 to 10.
  for (int i = 0; i < 5; i++) EXPECT_EQ(c.b[i], 6 + i);
  EXPECT_EQ(grpitem(g, 11), -1);
}

TEST_F(Order, GroupEntryLayout) {
  // No entry freed: the words stay in place, one level deeper, and the
  // group is a new entry after them.
  EXPECT_EQ(parse("a = 3"), OP_ASSIGN);
  EXPECT_EQ(nargw, 1);
  EXPECT_EQ(argmap[0], 3);
  EXPECT_EQ(W(3), "1 0 -3 0 | 03 03 00 01 02 00 00 00");
  EXPECT_EQ(W(2), "2000 1 115 2 | 00 00 00 00 00 00 00 00");
  // Parentheses free their entries: the group takes the first one and the
  // rest are cleared.
  EXPECT_EQ(parse("a = (b)"), OP_ASSIGN);
  EXPECT_EQ(argmap[0], 0);
  EXPECT_EQ(W(0), "1 0 1 0 | 03 03 00 01 02 00 00 00");
  EXPECT_EQ(nwords, 4);
  // A group of a command's argument is ordered in place.
  EXPECT_EQ(parse("type b+c*d"), 4);
  EXPECT_EQ(args(), (std::vector<int>{0, 1}));
  EXPECT_EQ(W(1), "1 0 1 0 | 05 05 00 01 02 03 04 00");
  EXPECT_EQ(postfix(1), "b c d * +");
  // A function call that begins a command's argument gets a group.
  EXPECT_EQ(parse("type sin(b) c"), 4);
  EXPECT_EQ(nargw, 3);
  EXPECT_EQ(wrdtab[argmap[1]].type, WT_GROUP);
  EXPECT_EQ(postfix(argmap[1]), "sin(b)");
  // In a command line a lone "-" is blanked: a missing argument.
  EXPECT_EQ(parse("type - 3"), 4);
  EXPECT_EQ(wrdtab[argmap[1]].type, WT_NONE);
  // "if": only the groups of its own condition are ordered.
  EXPECT_EQ(parse("if (a > b) c = d + 1"), CM_IF);
  EXPECT_EQ(nargw, 6);
  EXPECT_EQ(postfix(1), "a b >");
  EXPECT_EQ(wrdtab[argmap[1]].type, 0x1010);  // the rest stays as parsed
  EXPECT_EQ(wrdtab[argmap[4]].type, WT_CMD);
  // The code of an ordered line is found again from its group.
  parse("a = 3");
  EXPECT_EQ(cmdkey(1), OP_ASSIGN);
  parse("help = 3");
  EXPECT_EQ(nargw, 0);
}

TEST_F(Order, CommandWordsThatAreFunctionsAreCallsInArguments) {
  // Every command word the function dispatcher evaluates as well: exactly
  // the declaration words and window.
  std::vector<std::string> both;
  for (int i = 1; i <= NCMDWD; i++) {
    int code = cmdcod(i);
    if (code < 101 && fndef(code)) both.push_back(cmdwds[static_cast<size_t>(i - 1)]);
  }
  EXPECT_EQ(both, (std::vector<std::string>{"string", "array", "matrix", "file", "image", "solid",
                                            "pointer", "window"}));
  for (const std::string& wd : both) {
    SCOPED_TRACE(wd);
    // Beginning a command's argument, the call gets a group of its own,
    // as a function word's call does.
    std::string line = "type " + wd + "(2) b";
    EXPECT_EQ(parse(line.c_str()), 4);
    ASSERT_EQ(nargw, 3);
    EXPECT_EQ(wrdtab[argmap[1]].type, WT_GROUP);
    EXPECT_EQ(postfix(argmap[1]), wd + "(2)");
    EXPECT_EQ(wrdtab[argmap[2]].type & 0x1000, 0x1000);
    // Inside an expression it is an operand; written bare it is no value.
    EXPECT_EQ(order(("a = " + wd + "(b) + 1").c_str()), "a " + wd + "(b) 1 + =");
    EXPECT_EQ(order(("a = " + wd).c_str()), "ERROR   9 (arg 3)");
    EXPECT_EQ(order(("type (" + wd + ")").c_str()), "ERROR   9 (arg 2)");
  }
  // As the first word the line stays the command.
  EXPECT_EQ(parse("window(2)"), CM_WINDOW);
  EXPECT_EQ(wrdtab[argmap[0]].type, WT_CMDLIST);
  // A keyword that is no function keeps its place as a keyword argument,
  // with or without a list.
  EXPECT_EQ(parse("show macro(2)"), CM_SHOW);
  EXPECT_EQ(wrdtab[argmap[1]].type, WT_CMDLIST);
  EXPECT_EQ(parse("show window 2"), CM_SHOW);
  EXPECT_EQ(wrdtab[argmap[1]].type, WT_CMD);
  EXPECT_FALSE(state & ST_ERROR);
}

TEST_F(Order, RedirectionFlag) {
  EXPECT_EQ(parse("list a > out"), 3 | 0x2000);
  EXPECT_EQ(parse("list a >> out"), 3 | 0x2000);
  EXPECT_EQ(parse("list > out"), 3 | 0x2000);
  EXPECT_EQ(parse("list a out"), 3);
  EXPECT_EQ(parse("list >"), 3);
  EXPECT_EQ(parse("a = b > c"), OP_ASSIGN);  // a comparison, not a redirection
}

TEST_F(Order, Errors) {
  EXPECT_EQ(order("a b"), "ERROR  13 (arg 2)");
  EXPECT_EQ(order("a = b c"), "ERROR  13 (arg 4)");
  EXPECT_EQ(order("a = b + * c"), "ERROR  12");
  EXPECT_EQ(order("a = * b"), "ERROR  12");
  EXPECT_EQ(order("a = zz + 1"), "ERROR 182");
  EXPECT_EQ(order("type m(1, zz+1)"), "ERROR 182");
  // The table full while ordering: no room for the group entry.
  std::string line = "a = b";
  for (int i = 0; i < 18; i++) line += "+1";
  EXPECT_EQ(order(line.c_str()), "ERROR  41");
  // One item more is more words than a line's arguments can hold.
  EXPECT_EQ(order((line + "+1").c_str()), "ERROR  41 (arg 41)");
}

TEST_F(Order, RowMovesKeepTheRestInOrder) {
  int32_t r[5][3] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
  movrow(r, 3, 1);
  EXPECT_EQ(r[0][0], 0);
  EXPECT_EQ(r[1][0], 3);
  EXPECT_EQ(r[2][0], 1);
  EXPECT_EQ(r[3][0], 2);
  EXPECT_EQ(r[4][0], 4);
  movrow(r, 2, 2);
  EXPECT_EQ(r[2][0], 1);
}
