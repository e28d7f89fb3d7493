// Expression ordering over the command word table.
//
// The words of each expression become rows {first entry, priority, last
// entry}: an operand has priority 0, an operator its class plus 16 for each
// enclosing parenthesis. The insertion pass moves each operand before the
// operators waiting for it and each operator after every operator of higher
// or equal priority, which gives the postfix order; the words are then
// copied in that order and the group entry records where each item starts.
#include "lang/order.h"

#include "compute/func.h"
#include "core/args.h"
#include "core/output.h"
#include "lang/keywords.h"
#include "lang/parse.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int MAXROW = 100;

// Class of operators 105-128 (index code - 105).
constexpr int16_t clstab[24] = {11, 11, 3, 10, 10, 7, 7, 3, 2, 2, 1, 5,
                                5,  6,  6, 3, 3,  3, 3, 3, 2, 2, 2, 2};
constexpr int CL_FUNC = 8, CL_UNARY = 9, CL_POSTFIX = 10;  // (class 1: assignments)
constexpr int UNARY = 70;     // a unary "-", "!", "?" gets code + 70
constexpr int FACTORIAL = 180;
constexpr int ELCOUNT = OP_QUERY + UNARY;  // unary "?": the element count

int32_t rows[MAXROW][3];
int nrows = 0;
int n0 = 0;  // entries of the parsed line (entries after it were added here)

// An open group of the walk.
struct Open {
  int g;         // group entry
  int rs, re;    // its words
  int rowstart;  // first row of the group
  int level;     // level outside the group (the group's words lie deeper)
  int paren;     // parenthesis level outside the group
  int open0;     // argument of the outermost open "(" outside the group
  bool lparen;   // the word before the group was "("
  bool plus;     // a unary "+" before the group still waits for its operand
  bool func;     // made for a function call that begins an argument
};
Open stk[NWORDS];
int nstk = 0;
int level = 0;
int paren = 0;
int open0 = 0;        // argument of the outermost "(" still open
bool lparen = false;  // the last word was "("
bool plus = false;    // a dropped unary "+" still waits for its operand
bool exprline = false;
int curarg = 0;

// The end (exclusive) of the run of entry e: e and the deeper entries after it.
int runend(int e) {
  int d = wrdtab[e].depth;
  int j = e + 1;
  while (j < n0 && j < nwords && wrdtab[j].depth > d) j++;
  return j;
}

// A word with this code and a parenthesised list is a function call: the
// function words, the command words (below the operators' 101) that the
// function dispatcher also evaluates (the declaration words and window),
// and a brace list ({1 2 3} reads as the list 1,2,3).
bool fncode(int code) {
  return (code >= 105 && code <= 300) || code == OP_LBRACE || (code < 101 && fndef(code));
}

int rowstart() { return nstk > 0 ? stk[nstk - 1].rowstart : 0; }

int addrow(int first, int prio, int last) {
  if (nrows >= MAXROW) {
    error(0, 11);
    return -1;
  }
  rows[nrows][0] = first;
  rows[nrows][1] = prio;
  rows[nrows][2] = last;
  nrows++;
  lparen = false;
  plus = false;
  return 0;
}

// An operand is expected: at the start of an expression, or after an
// operator other than a postfix one.
bool expecting() {
  return nrows == rowstart() ||
         (rows[nrows - 1][1] > 0 && (rows[nrows - 1][1] & 15) != CL_POSTFIX);
}

// An operand row, with the check for two operands in a row.
int operand(int e) {
  int rs = rowstart();
  bool funclevel = nstk > 0 && stk[nstk - 1].func && level == stk[nstk - 1].level;
  // A postfix operator ends the operand before it.
  if (nrows > rs && !expecting() && !funclevel) {
    error(curarg, 13);
    return -1;
  }
  return addrow(e, 0, runend(e) - 1);
}

int opengroup(int g, int rs, int re, bool func) {
  if (nstk >= NWORDS) {
    error(11, 71);
    return -1;
  }
  stk[nstk++] = {g, rs, re, nrows, level, paren, open0, lparen, plus, func};
  paren = 0;
  lparen = false;
  plus = false;
  if (!func) level = wrdtab[g].depth + 1;
  return 0;
}

int closegroup() {
  if (paren > 0) {
    error(open0, 8);  // a "(" of the group is never closed
    return -1;
  }
  if (plus) {
    error(curarg, 47);
    return -1;
  }
  Open t = stk[--nstk];
  int freed = EXPSRT(rows + t.rowstart, nrows - t.rowstart, t.g, t.rs, t.re, -1);
  nrows = t.rowstart;
  level = t.level;
  paren = t.paren;
  open0 = t.open0;
  lparen = t.lparen;
  plus = t.plus;
  if (freed < 0) return -1;
  // A group standing where a word of the enclosing expression stands is
  // one operand of it.
  if (!t.func && wrdtab[t.g].depth == level && (exprline || nstk > 0)) return operand(t.g);
  return 0;
}

// Makes the row of word e at the current level of an expression.
int row(int e) {
  WORD& w = wrdtab[e];
  if (w.type != WT_CMD || w.v1 < 105 || w.v1 > 300) {
    // A command word gives no value: not bare, and a command word that is
    // also a function (window, file ...) only with its list. A bare "{"
    // reads its values from the lines that follow.
    if (w.type == WT_CMD && w.v1 != OP_LBRACE) {
      error(curarg, 9);
      return -1;
    }
    if (w.type == WT_TEXT) {
      bool q = nrows > rowstart() && rows[nrows - 1][1] > 0 &&
               wrdtab[rows[nrows - 1][0]].v1 == ELCOUNT;
      if (!q) {
        error(0, 182);
        return -1;
      }
    }
    return operand(e);
  }
  int cd = w.v1;
  if (cd == OP_LPAREN) {
    if (paren++ == 0) open0 = curarg;
    lparen = true;
    return 0;
  }
  if (cd == OP_RPAREN) {
    // A ")" closes a "(" that holds an operand: one without its "(", or
    // right after it, is out of place; one after an operator leaves that
    // operator without its operand.
    if (paren == 0 || lparen) {
      error(curarg, 9);
      return -1;
    }
    if (expecting()) {
      error(curarg, 47);
      return -1;
    }
    paren--;
    return 0;
  }
  // At the start of an expression or right after an operator (other than a
  // postfix one, which ends an operand), "-", "!" and "?" are unary and
  // "+" is dropped.
  bool pre = expecting();
  lparen = false;
  int cls, cnt;
  if (pre && (cd == OP_MINUS || cd == OP_NOT || cd == OP_QUERY)) {
    cd += UNARY;
    cls = CL_UNARY;
    cnt = 1;
  } else if (pre && cd == OP_PLUS) {
    plus = true;
    return 0;
  } else if (!pre && cd == OP_NOT) {
    cd = FACTORIAL;
    cls = CL_POSTFIX;
    cnt = 1;
  } else if (cd <= 128) {
    cls = clstab[cd - 105];
    cnt = cls == CL_POSTFIX ? 1 : 2;
  } else {
    cls = CL_FUNC;  // a function word used as an operator
    cnt = pre ? 1 : 2;
  }
  w.v1 = int16_t(cd);
  w.v2 = int16_t(cnt);
  return addrow(e, cls + 16 * paren, runend(e) - 1);
}

// Opens a group for the function call at entry e, whose words end before
// entry end; the group entry is new. Its index, or -1.
int fngroup(int e, int end) {
  int g = makwrd(-1, 0, WT_GROUP, -1);
  if (g < 0) return -1;
  wrdtab[g].depth = wrdtab[e].depth;
  wrdtab[g].v1 = 1;
  setwslot(wrdtab[g], 0, -1);
  setwslot(wrdtab[g], 1, -1);
  if (opengroup(g, e, end, true) < 0) return -1;
  return g;
}

}  // namespace

void movrow(int32_t (*r)[3], int from, int to) {
  if (from == to) return;
  int32_t keep[3] = {r[from][0], r[from][1], r[from][2]};
  for (int i = from; i > to; i--) std::memcpy(r[i], r[i - 1], sizeof r[i]);
  std::memcpy(r[to], keep, sizeof keep);
}

int EXPSRT(int32_t (*src)[3], int nr, int g, int rs, int re, int mode) {
  int32_t r[MAXROW][3];
  nr = std::clamp(nr, 0, MAXROW);
  std::memcpy(r, src, sizeof(int32_t) * 3 * size_t(nr));
  // Insertion pass.
  int ins = -1;
  bool expect = true;  // an operand is expected
  for (int i = 0; i < nr; i++) {
    int pr = r[i][1];
    if (pr == 0) {
      if (ins >= 0 && ins < i) movrow(r, i, ins++);
      expect = false;
      continue;
    }
    int cls = pr & 15;
    if (expect && cls != CL_UNARY && cls != CL_FUNC) {
      error(0, 12);
      return -1;
    }
    // A unary operator, or a function word, where an operand is expected
    // is a prefix operator.
    bool prefix = expect;
    expect = cls != CL_POSTFIX;
    if (ins < 0) ins = i;
    // An operator goes after every waiting operator of higher or equal
    // priority and before those of lower priority. A prefix operator belongs
    // to the operand that follows: it is applied before every operator
    // still waiting for that operand (- max v is -(max v)).
    if (prefix) {
      if (ins < i && r[ins][1] > 0) movrow(r, i, ins);
    } else {
      while (ins < i && r[ins][1] >= pr) ins++;
      if (ins < i && r[ins][1] > 0 && r[ins][1] < pr) movrow(r, i, ins);
    }
  }
  // An expression that ends where an operand is expected lacks one; only
  // an assignment may end so (it has no source: the variable's data go).
  if (expect) {
    const WORD& l = wrdtab[src[std::max(nr - 1, 0)][0]];
    if (nr == 0 || l.type != WT_CMD || l.v1 != OP_ASSIGN) {
      error(curarg, 47);
      return -1;
    }
  }
  // The words of the rows in their new order; words in no row (parentheses,
  // a dropped unary "+") are left out.
  WORD buf[NWORDS];
  int starts[MAXROW];
  int len = 0;
  for (int i = 0; i < nr; i++) {
    starts[i] = len;
    for (int e = r[i][0]; e <= r[i][2] && len < NWORDS; e++) buf[len++] = wrdtab[e];
  }
  int freed = (re - rs) - len;
  int dst = rs;
  if (mode == 0) {
    if (freed > 0) {
      g = rs;
      dst = rs + 1;
    } else {
      g = makwrd(-1, 0, 0, -1);
      if (g < 0) return -1;
    }
    for (int i = 0; i < len; i++) buf[i].depth++;
  }
  std::memcpy(&wrdtab[dst], buf, sizeof(WORD) * size_t(len));
  int gdepth = mode == 0 ? 0 : wrdtab[g].depth;
  for (int e = dst + len; e < re; e++) {
    if (e == g) continue;
    std::memset(&wrdtab[e], 0, sizeof(WORD));
    wrdtab[e].depth = int16_t(gdepth + 1);
  }
  // The line's group ends the table: the word count drops by the freed
  // entries after it. A nested group keeps its freed entries, which lie
  // inside the run of the item that holds it.
  if (mode == 0 && re == nwords && dst + len < re) nwords = int16_t(dst + len);
  // The group entry.
  WORD& gw = wrdtab[g];
  gw.type = WT_GROUP;
  gw.depth = int16_t(gdepth);
  gw.v1 = int16_t(dst - g);
  gw.v2 = 0;
  std::memset(gw.b, 0, sizeof gw.b);
  gw.b[0] = uint8_t(nr);
  gw.b[1] = uint8_t(len);
  for (int i = 0; i < len; i++) {
    if (buf[i].type == WT_GROUP) {
      gw.b[2] = uint8_t(i + 1);
      break;
    }
  }
  for (int i = 1; i < nr && i <= 5; i++) gw.b[2 + i] = uint8_t(starts[i]);
  int prev = g;
  for (int i = 6; i < nr; i += 8) {
    int c = makwrd(-1, 0, WT_SLOTS, -1);
    if (c < 0) return -1;
    wrdtab[c].depth = int16_t(gdepth + 1);
    for (int j = 0; j < 8 && i + j < nr; j++) wrdtab[c].b[j] = uint8_t(starts[i + j]);
    wrdtab[prev].v2 = int16_t(c);
    prev = c;
  }
  if (mode == 0) {
    argmap[0] = int16_t(g);
    nargw = 1;
  }
  return freed;
}

int mksubs(int) {
  if (nargw < 1) return 0;
  int f = argmap[0];
  if (f < 0 || f >= nwords || wrdtab[f].type != WT_CMD) return 0;
  int n = nargw - 1;
  // The arguments become the function word's list items.
  for (int e = f + 1; e < nwords; e++) wrdtab[e].depth = int16_t(wrdtab[e].depth + 2);
  int16_t phys[MAXARG];
  if (chnslt(f, n, phys) < 0) return -1;
  for (int j = 0; j < n; j++) {
    int o = phys[j] >> 8, s = phys[j] & 0xFF;
    setwslot(wrdtab[o], s, int16_t(argmap[j + 1] - o));
  }
  wrdtab[f].type = WT_CMDLIST;
  wrdtab[f].v2 = int16_t(n);
  nargw = 1;
  return 0;
}

int Aftpro(int* code) {
  if (!code || nargw < 1) return 0;
  int c = *code;
  lowmrk = NWORDS;  // no scratch word is in use once the line is parsed
  if (c >= CM_EXPR && c <= 300) {
    int f = argmap[0];
    if (f >= 0 && f < nwords && wrdtab[f].type == WT_CMD && wrdtab[f].v1 > 200 &&
        mksubs(c) < 0)
      return -1;
  }
  exprline = c == OP_ASSIGN || c == CM_EXPR || (c >= 105 && c <= 300);
  asnlin = c == OP_ASSIGN;
  // A line ordered before (dispatched again) keeps its group.
  if (exprline && nargw == 1 && grpord(argmap[0])) return 0;
  // An if whose word carries no condition reads its argument 2 as the
  // condition (and refuses it): that argument is ordered too.
  int lastarg = nargw;
  if (c == CM_IF)
    lastarg = argmap[0] >= 0 && argmap[0] < nwords && wrdtab[argmap[0]].type == WT_CMDLIST ? 1
                                                                                         : std::min<int>(nargw, 2);
  n0 = nwords;
  nrows = 0;
  nstk = 0;
  paren = 0;
  open0 = 0;
  lparen = false;
  plus = false;
  int lastend = 0;
  // The condition of if, while and repeat is the first item of the command
  // word's own list: a lone function call there is evaluated as an
  // expression too, like one that begins a command's argument.
  int cond = -1, condend = -1;
  if ((c == CM_IF || c == CM_WHILE || c == CM_REPEAT) && argmap[0] >= 0 && argmap[0] < nwords &&
      wrdtab[argmap[0]].type == WT_CMDLIST && wrdtab[argmap[0]].v2 >= 1) {
    int x = argmap[0] + wslot(wrdtab[argmap[0]], 0);
    if (x > argmap[0] && x < nwords && wrdtab[x].type == WT_CMDLIST && fncode(wrdtab[x].v1))
      cond = x;
    // An unknown name alone there is one as in any expression.
    if (x > argmap[0] && x < nwords && wrdtab[x].type == WT_TEXT) {
      error(0, 182);
      return -1;
    }
  }
  for (int a = 1; a <= lastarg; a++) {
    curarg = a;
    int s = argmap[a - 1];
    if (s < 0 || s >= n0) {
      error(11, 71);
      return -1;
    }
    int t = runend(s);
    lastend = t;
    level = wrdtab[s].depth;
    if (!exprline) {
      nrows = 0;
      paren = 0;
      lparen = false;
      plus = false;
    }
    for (int e = s; e < t && e < n0; e++) {
      WORD& w = wrdtab[e];
      // A word at a lower level ends the groups it is not part of.
      while (nstk > 0 && !stk[nstk - 1].func && w.depth < level)
        if (closegroup() < 0) return -1;
      if (e == condend && nstk > 0) {
        // The condition's group ends with the function call's words.
        if (closegroup() < 0) return -1;
        condend = -1;
      }
      if (w.type == WT_GROUP && !grpord(e)) {
        if (opengroup(e, e + 1, runend(e), false) < 0) return -1;
        continue;
      }
      if (e == cond) {
        int g = fngroup(e, runend(e));
        if (g < 0) return -1;
        setwslot(wrdtab[s], 0, int16_t(g - s));
        condend = runend(e);
        level = w.depth;  // given back when the group closes
        if (row(e) < 0) return -1;
        continue;
      }
      if (w.depth > level) continue;
      if (!exprline && nstk == 0) {
        if (e == s && a > 1 && w.type == WT_CMDLIST && fncode(w.v1)) {
          // A function call that begins a command's argument is evaluated
          // as an expression: a group is made for it.
          int g = fngroup(e, t);
          if (g < 0) return -1;
          argmap[a - 1] = int16_t(g);
        } else {
          if (w.type == WT_CMD && w.v1 == OP_MINUS) w.type = WT_NONE;  // "-": a missing argument
          continue;
        }
      }
      if (row(e) < 0) return -1;
    }
    while (nstk > 0)
      if (closegroup() < 0) return -1;
    condend = -1;
  }
  if (exprline && paren > 0) {
    error(open0, 8);
    return -1;
  }
  if (exprline && plus) {
    error(curarg, 47);
    return -1;
  }
  if (exprline && lastarg >= 1) {
    int rs = argmap[0];
    if (EXPSRT(rows, nrows, -1, rs, lastend, 0) < 0) return -1;
    nrows = 0;
  }
  if (c != CM_IF && nargw > 2) {
    const WORD& w = wrdtab[argmap[nargw - 2]];
    if (w.type == WT_CMD && (w.v1 == OP_GT || w.v1 == OP_SHR)) *code = c | 0x2000;
  }
  return 0;
}

bool grpord(int e) {
  if (e < 0 || e >= NWORDS) return false;
  const WORD& w = wrdtab[e];
  return w.type == WT_GROUP && w.b[0] != 0xFF;
}

int grpitem(int e, int i) {
  if (!grpord(e)) return -1;
  const WORD& w = wrdtab[e];
  int n = w.b[0];
  if (i < 0 || i >= n) return -1;
  int first = e + w.v1;
  if (i == 0) return first;
  if (i <= 5) return first + w.b[2 + i];
  int c = w.v2;
  int k = i - 6;
  for (int guard = 0; k >= 8 && guard < NWORDS; guard++) {
    if (c <= 0 || c >= NWORDS) return -1;
    c = wrdtab[c].v2;
    k -= 8;
  }
  if (c <= 0 || c >= NWORDS) return -1;
  return first + wrdtab[c].b[k];
}

int grplast(int e) {
  if (!grpord(e)) return -1;
  return grpitem(e, wrdtab[e].b[0] - 1);
}
