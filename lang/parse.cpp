// The word parser: splits the line buffer into arguments and words, fills
// the command word table and the argument map, and gives the line its code.
//
// Each argument starts as one pending scratch word spanning the rest of the
// line. Parsing a pending word makes it final and may make new pending
// words: the items of its subscripts or argument list, the text of a
// bracketed file name or indirect name, and the rest of the span when the
// argument goes on after the word. New pending words are parsed right after
// the word that made them, so an owner and everything it owns end up as one
// run of final entries in the order they were written.
#include "lang/parse.h"

#include "core/args.h"
#include "core/convert.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "lang/keywords.h"
#include "lang/names.h"

#include <algorithm>
#include <cmath>
#include <cstring>

char linbuf[CMDLIN];
char prsln[CMDLIN];
WORD wrdtab[NWORDS];
int16_t nwords = 0;
int16_t lowmrk = NWORDS;
int16_t argmap[MAXARG];
int16_t nargw = 0;
int16_t lsttok = -1;
uint16_t prsflg = 0;
int16_t pendng[MAXARG];
int16_t pendrd = 1;
int16_t pendct = 0;

namespace {

// Link codes of pending words.
constexpr int LK_VALUE = 0x4000;  // owner's first and second value: 65400 + index
constexpr int LK_FIELD = 0x1000;  // owner's first value (slot 0) or second value (slot 1)
constexpr int LK_SLOT = 0x2000;   // owner's subscript slot
constexpr int LK_OWNER = 0x7F;    // bits 0-6: the owning entry
constexpr int LK_SHIFT = 7;       // bits 7-11: the slot
constexpr int INDIRECT = 65400;

int exstat = -2;  // expression state: -2 decide anew, -1 expression, 0 command, >0 "(" depth
int leadv = 0;    // the line's leading operator value
int pendins = 0;  // where the pending list takes words made while one word is parsed
int argend = 0;   // position after the last character the argument used
int prsarg = 0;   // the argument being parsed: the argument number of errors
bool gobclosed = false;  // the last bracketed gobble reached its closing bracket

inline int uc(char c) { return static_cast<unsigned char>(c); }
inline bool blank(int c) { return c <= 32; }
inline bool isdig(int c) { return c >= '0' && c <= '9'; }
inline bool isnamc(int c) { return chrtyp(c) != 0; }

inline int16_t linkof(const WORD& w) { return wslot(w, 0); }
inline int16_t groupof(const WORD& w) { return wslot(w, 1); }

// Position where the span of a pending word ends (exclusive).
int spanend(int p, int len) {
  int n = lenstr(linbuf);
  if (len < 0) return n;
  return std::min(n, p + len);
}

// Whether nothing but blanks lies in [p, end).
bool usedup(int p, int end) {
  for (; p < end && linbuf[p]; p++)
    if (!blank(uc(linbuf[p]))) return false;
  return true;
}

// Serves the link of a scratch word that became final entry k.
void serve(int k, int link, int group) {
  WORD& w = wrdtab[k];
  w.depth = 0;
  if (group >= 0 && group < nwords) w.depth = int16_t(wrdtab[group].depth + 1);
  if (link < 0) return;
  if ((link & (LK_VALUE | LK_FIELD | LK_SLOT)) == 0) {
    if (link >= 1 && link <= MAXARG) argmap[link - 1] = int16_t(k);
    return;
  }
  int o = link & LK_OWNER;
  int s = (link >> LK_SHIFT) & 0x1F;
  if (o >= nwords) return;
  WORD& own = wrdtab[o];
  int16_t rel = int16_t(k - o);
  // Items kept in a slot continuation belong to the word that heads it.
  w.depth = int16_t(own.type == WT_SLOTS ? own.depth : own.depth + 2);
  if (link & LK_VALUE) setwval(own, INDIRECT + rel);
  else if (link & LK_FIELD) (s == 0 ? own.v1 : own.v2) = rel;
  else if (s < 4) setwslot(own, s, rel);
}

// Moves the entries [k, nwords) one entry up and makes entry k an
// expression group in their place; the moved words get one level deeper and
// pending words that point into them follow. Returns 0, or -1 (error 41).
int mkgroup(int k) {
  if (k < 0 || k >= nwords) {
    error(prsarg, 71);
    return -1;
  }
  if (nwords >= lowmrk) {
    error(prsarg, 41);
    return -1;
  }
  for (int i = nwords; i > k; i--) {
    wrdtab[i] = wrdtab[i - 1];
    wrdtab[i].depth++;
  }
  int old = nwords++;
  for (int i = pendrd - 1; i < pendct; i++) {
    WORD& p = wrdtab[pendng[i]];
    int link = linkof(p);
    if (link >= 0 && (link & (LK_VALUE | LK_FIELD | LK_SLOT))) {
      int o = link & LK_OWNER;
      if (o >= k && o < old) setwslot(p, 0, int16_t(link + 1));
    }
    int g = groupof(p);
    if (g >= k && g < old) setwslot(p, 1, int16_t(g + 1));
  }
  WORD& g = wrdtab[k];
  int16_t d = int16_t(wrdtab[k + 1].depth - 1);
  std::memset(&g, 0, sizeof g);
  g.type = WT_GROUP;
  g.depth = d;
  g.v1 = 1;
  setwslot(g, 0, -1);
  setwslot(g, 1, -1);
  return 0;
}

// Decides whether the argument goes on after word k, which ends at q; end is
// the span's end, open whether the span runs to the end of the line, group
// the expression group the word belongs to (-1 none).
int endwrd(int k, int q, int end, bool open, int group) {
  const WORD& w = wrdtab[k];
  bool cmd = (w.type & ~1) == WT_CMD;
  int opv = cmd ? int(w.v1) : int(OP_PLUS);
  if (open) {
    if (exstat == -2) {
      bool cmdmode = w.type == WT_TEXT || (w.type & ~1) == WT_UNKLIST ||
                     (cmd && (opv < 105 || opv > 300)) || (w.type == WT_CMD && opv > 200);
      exstat = cmdmode ? 0 : -1;
      leadv = opv;
    } else if (exstat == 0) {
      if (cmd && opv == OP_LPAREN) exstat = 1;
    } else if (exstat >= 1 && cmd) {
      if (opv == OP_LPAREN) exstat++;
      else if (opv == OP_RPAREN) exstat--;
      else if (opv < 105 || opv > 300) exstat = 0;
    }
  }
  bool ends = usedup(q, end) ||
              (open && exstat < 1 && (exstat != 0 || blank(uc(linbuf[q]))));
  if (ends) {
    if (open) {
      argend = q;
      if (leadv == CM_IF) exstat = -2;
    }
    return 0;
  }
  if (open) argend = q;
  // The rest of the span is the next word of the same argument.
  if (group < 0) {
    if (mkgroup(k) < 0) return -1;
    group = k;
  }
  int s = makwrd(q, open ? -(lenstr(linbuf) - q + 1) : end - q, 0, -1);
  if (s < 0) return -1;
  setwslot(wrdtab[s], 1, int16_t(group));
  return 0;
}

// Counts of subscript slots allowed for a word.
int maxslots(const WORD& w) {
  if (w.type & WT_CMD) {
    if (w.type != WT_CMD && w.type != WT_CMDLIST && nargw >= 1 && nwords > 0 &&
        wrdtab[0].type == WT_CMD && wrdtab[0].v1 == CM_DECLARE)
      return 6;
    return 1000;
  }
  int t = w.type;
  if ((t & 0x400) || (t & 0x17F0) == 0x1000) return 6;
  if (nwords > 0 && (wrdtab[0].type & ~1) == WT_CMD && wrdtab[0].v1 == CM_DECLARE) return 6;
  if (t & 0xE80) return 4;
  return 2;
}

// Reads the subscripts or argument list that opens at linbuf[q] ("(" or
// "[") for word k of argument a; items become pending words linked to
// their slots. *qout gets the position after the closing bracket. Returns
// the item count (0 when all were empty), or -1 on error.
int getsub(int q, int a, int k, int end, int* qout) {
  const bool list = (wrdtab[k].type & WT_CMD) != 0;
  const int open = uc(linbuf[q]);
  const int unit = open == '(' ? 1 : 32;
  struct Item {
    int16_t start, len;  // len < 0: a slot code (-99, -100)
  };
  Item items[MAXARG * 2];
  int n = 0;
  bool full = false;
  auto add = [&](int s, int l) {
    if (n >= MAXARG * 2) {
      full = true;
      return false;
    }
    items[n++] = {int16_t(s), int16_t(l)};
    return true;
  };
  int depth = unit;
  int braces = 0;  // a braced list inside an item keeps its commas
  int i = q + 1;
  int st = i;      // start of the current item
  bool colon = false;  // subscript: the pair's first item has ended
  int pairs = 0;
  bool closed = false;
  for (; i < end && linbuf[i]; i++) {
    int c = uc(linbuf[i]);
    if (c == '"' || c == '\'') {
      int l = qotlen(linbuf + i);
      if (l >= 0) i += l + 1;
      else i = end - 1;
      continue;
    }
    if (c == '{') braces++;
    else if (c == '}') braces -= braces > 0;
    else if (braces > 0) continue;
    else if (c == '(') depth += 1;
    else if (c == '[') depth += 32;
    else if (c == ')' || c == ']') {
      if (depth == unit && c == (unit == 1 ? ')' : ']')) {
        closed = true;
        break;
      }
      depth -= c == ')' ? 1 : 32;
      if (depth < unit) break;  // a closing bracket of the other kind
    } else if (depth == unit && c == ',') {
      if (list) {
        if (!add(st, i - st)) break;
      } else {
        if (colon) {
          if (!add(st, i - st > 0 ? i - st : SLOT_END)) break;
        } else {
          if (!add(st, i - st) || !add(0, SLOT_NONE)) break;
        }
        pairs++;
        colon = false;
      }
      st = i + 1;
    } else if (depth == unit && c == ':' && !list && !colon) {
      if (!add(st, i - st)) break;
      colon = true;
      st = i + 1;
    }
  }
  if (full) {
    error(prsarg, 41);
    return -1;
  }
  if (!closed) {
    error(a, 8);
    return -1;
  }
  if (list) {
    add(st, i - st);
  } else {
    if (colon) add(st, i - st > 0 ? i - st : SLOT_END);
    else {
      add(st, i - st);
      add(0, SLOT_NONE);
    }
    pairs++;
  }
  *qout = i + 1;
  // An item that is only blanks is empty.
  int used = 0;
  for (int j = 0; j < n; j++) {
    if (items[j].len >= 0) {
      if (usedup(items[j].start, items[j].start + items[j].len)) items[j].len = SLOT_NONE;
      else used++;
    }
  }
  if (n > maxslots(wrdtab[k])) {
    error(a, 5);
    return -1;
  }
  int16_t phys[MAXARG * 2];
  if (chnslt(k, n, phys) < 0) return -1;
  for (int j = 0; j < n; j++)
    if (items[j].len < 0) setwslot(wrdtab[phys[j] >> 8], phys[j] & 0xFF, items[j].len);
  for (int j = 0; j < n; j++) {
    if (items[j].len < 0) continue;
    int o = phys[j] >> 8, s = phys[j] & 0xFF;
    if (makwrd(items[j].start, items[j].len, 0, LK_SLOT | (s << LK_SHIFT) | o) < 0) return -1;
  }
  return used == 0 ? 0 : n;
}

// Rewrites a braced list "{a b c}" that opens at linbuf[p] and closes at
// linbuf[c] into "(a,b,c)": the first blank after each item but the last
// becomes ",".
void bracelist(int p, int c) {
  linbuf[p] = '(';
  linbuf[c] = ')';
  int depth = 0;
  int cand = -1;  // a blank that ends an item
  for (int i = p + 1; i < c; i++) {
    int ch = uc(linbuf[i]);
    if (ch == '"' || ch == '\'') {
      int l = qotlen(linbuf + i);
      if (l >= 0) i += l + 1;
      if (cand >= 0 && depth == 0) {
        linbuf[cand] = ',';
        cand = -1;
      }
      continue;
    }
    if (ch == '(' || ch == '[' || ch == '{') depth++;
    else if (ch == ')' || ch == ']' || ch == '}') depth--;
    if (depth != 0) continue;
    if (blank(ch)) {
      if (cand < 0 && i > p + 1 && !blank(uc(linbuf[i - 1])) && linbuf[i - 1] != ',') cand = i;
    } else if (cand >= 0) {
      if (ch != ',') linbuf[cand] = ',';
      cand = -1;
    }
  }
}

// Whether symbol entry e holds a file-backed pointer record of a kind
// that shares a bit of `kind`.
bool filevar(int32_t e, int kind) {
  const SymEnt* s = e > 0 ? symptr(e) : nullptr;
  const PtrRec* r = s && s->data > 0 ? ptrrec(s->data) : nullptr;
  return r && (r->Flg & K_FILE) && (r->Flg & kind & 0xFF0);
}

constexpr const char* PREFIX = "~^%@#$";
constexpr int PKIND1[6] = {32, 64, 256, 512, 16, 4};
constexpr int PKIND2[6] = {2080, 128, 2304, 1024, 16, 0};

// Parses the pending word at the read index for argument a.
int wparse(int a) {
  int s = pendng[pendrd - 1];
  pendrd++;
  pendins = pendrd - 1;
  int link = linkof(wrdtab[s]);
  int group = groupof(wrdtab[s]);
  int preset = wrdtab[s].type;
  int p = wrdtab[s].v1;
  int len = wrdtab[s].v2;
  int k = s;
  if (s >= nwords) {
    k = makwrd(-1, 0, 0, 0);
    if (k < 0) return -1;
    wrdtab[k] = wrdtab[s];
    wrdtab[s].type = WT_FREE;
    serve(k, link, group);
  }
  WORD& w = wrdtab[k];
  w.type = 0;
  w.v1 = w.v2 = 0;
  std::memset(w.b, 0, sizeof w.b);

  const bool open = len < 0;
  int end = spanend(p, len);
  while (p < end && blank(uc(linbuf[p]))) p++;
  if (p >= end) {
    error(a, 6);
    return -1;
  }
  int q = p;            // position after the word
  int16_t type = 0;
  int kind = 0;         // required kind from a prefix
  bool subs = false;    // the word may take subscripts or a list
  int c = uc(linbuf[p]);

  if (c == '"' || c == '\'') {
    // A quoted string: its body with escapes decoded.
    char tmp[CMDLIN], body[CMDLIN];
    int l = end - p;
    std::memcpy(tmp, linbuf + p, size_t(l));
    tmp[l] = 0;
    int pos = 1;
    int n = unesc(body, sizeof body, tmp, c, &pos);
    if (wrdtxt(k, WT_QUOTED, body, n) < 0) return -1;
    return endwrd(k, p + pos, end, open, group);
  }

  int pi = chrpos(c, PREFIX);
  if (pi >= 0) {
    if (p + 1 < end && uc(linbuf[p + 1]) == c) {
      if (c == '$') {
        error(a, 2);
        return -1;
      }
      kind = PKIND2[pi];
      p += 2;
    } else {
      kind = PKIND1[pi];
      p += 1;
    }
    q = p;
  }
  int c2 = p < end ? uc(linbuf[p]) : 0;

  if (kind && (c2 == '#' || c2 == '~' || c2 == '(')) {
    // An indirect name, given by the group that follows.
    int nx;
    int gl = gobble(linbuf + p, end - p, &nx);
    int sp = p, sl = gl;
    if (c2 == '(') {
      // The group names the variable: it must be closed and hold a word.
      if (!gobclosed) {
        error(a, 8);
        return -1;
      }
      sp = p + 1;
      sl = gl - 2;
      if (sl < 1) {
        error(a, 6);
        return -1;
      }
    }
    type = int16_t(kind + 4);
    w.type = type;
    if (sl > 0 && makwrd(sp, sl, 0, LK_VALUE | k) < 0) return -1;
    q = p + gl;
    subs = (kind & 16) == 0;
  } else {
    bool num = false;
    double v = 0;
    int nk = kind;
    int n = 0;
    if (!(c2 == '-' && (prsflg & PF_ORDER)) && c2 && c2 != '<') {
      char save = linbuf[end];
      linbuf[end] = 0;  // a number never runs past its span
      int st0 = state & ST_ERROR;
      n = rdnum(&v, linbuf + p, &nk);
      linbuf[end] = save;
      if (n < 0 || (!st0 && (state & ST_ERROR))) return -1;
      num = n > 0;
    }
    if (num && kind == 0) {
      w.type = WT_NUMBER;
      int32_t bits;
      if (nk == 96) {
        float f = float(v);
        std::memcpy(&bits, &f, 4);
      } else {
        bits = int32_t(v);
      }
      std::memcpy(w.b, &bits, 4);
      setwslot(w, 2, int16_t(nk));
      return endwrd(k, p + n, end, open, group);
    }
    if (num) {
      // A numbered object of the prefix's kind: "#3" is number register 3.
      type = int16_t(kind);
      setwval(w, toi32(std::trunc(v)));
      q = p + n;
      subs = kind != WT_MACARG && (kind & 16) == 0;
    } else {
      int nx;
      int nl = c2 == '<' ? 0 : igtnam(linbuf + p, &nx);
      if (c2 == '"' || c2 == '\'') nl = 0;
      nl = std::min(nl, end - p);
      if (preset == WT_TEXT && kind == 0) {
        // Text wanted (a file name in angle brackets): a variable of that
        // name, else the whole span as text.
        int l = end - p;
        while (l > 0 && blank(uc(linbuf[p + l - 1]))) l--;
        uint16_t fl = 0;
        int32_t r = nl == l ? namvar(linbuf + p, nl, &fl) : -1;
        if (r >= 0 && fl) {
          w.type = int16_t(fl);
          setwval(w, r);
          return endwrd(k, p + nl, end, open, group);
        }
        if (wrdtxt(k, WT_TEXT, linbuf + p, l) < 0) return -1;
        return endwrd(k, end, end, open, group);
      }
      uint16_t fl = 0;
      int32_t r = nl > 0 ? namvar(linbuf + p, nl, &fl) : -1;
      if (r >= 0) {
        // A known variable. A declared file variable's entry holds its
        // pointer record: the record's kind meets the prefix.
        bool fv = kind && (fl & 0x17F0) == 0x1000 && filevar(r, kind);
        if (fl == 0 || (kind && (fl & 0xFF0) != (kind & 0xFF0) && !fv)) {
          error(a, 4);
          return -1;
        }
        type = int16_t(fl);
        setwval(w, r);
        q = p + nl;
        if ((fl & 0x7F0) == 16 && q + 1 < end && (linbuf[q] == '+' || linbuf[q] == '-') &&
            linbuf[q + 1] == linbuf[q]) {
          setwslot(w, 0, int16_t(linbuf[q]));
          q += 2;
        }
        subs = (fl & 16) == 0;
      } else if (kind == 0) {
        int code = -1;
        int ol = nl;
        if (nl > 0) {
          code = cmdlook(linbuf + p, &ol);
          if (code == -2) {
            error(a, 37);
            return -1;
          }
          if (code > CM_BOARD && k == 0) code = -1;
        } else {
          ol = 0;
          code = cmdlook(linbuf + p, &ol);
          if (code < 0 || p + ol > end) {
            error(a, 9);
            return -1;
          }
        }
        if (code > 0 && nl > 0) {
          // A command or function word.
          type = WT_CMD;
          w.type = type;
          w.v1 = int16_t(code);
          q = p + nl;
          subs = true;
          int b = q;
          if (code == CM_IF || code == 10 || code == 59)
            while (b < end && (linbuf[b] == ' ' || linbuf[b] == '\t')) b++;
          bool lst = b < end && linbuf[b] == '(';
          if (lst) q = b;
          if (!lst && k != 0 && (q >= end || blank(uc(linbuf[q])))) {
            int t = makwrd(-1, 0, 0, -1);
            if (t < 0) return -1;
            wrdtab[t].depth = int16_t(w.depth + 2);
            if (wrdtxt(t, WT_TEXT, linbuf + p, nl) < 0) return -1;
            w.v2 = int16_t(t - k);
          }
        } else if (code > 0) {
          // An operator word.
          type = WT_CMD;
          w.type = type;
          w.v1 = int16_t(code);
          q = p + ol;
          if (code == OP_LBRACE) {
            int gl = gobble(linbuf + p, end - p, &nx);
            int cl = p + gl - 1;
            if (gl >= 2 && linbuf[cl] == '}') {
              bracelist(p, cl);
              int cnt = getsub(p, a, k, end, &q);
              if (cnt < 0) return -1;
              w.v2 = int16_t(cnt);
              w.type = WT_CMDLIST;
              return endwrd(k, q, end, open, group);
            }
          }
        } else {
          // A name that is no command word.
          q = p + nl;
          if (q < end && linbuf[q] == '(') {
            type = WT_UNKLIST;
            w.type = type;
            int t = makwrd(-1, 0, 0, -1);
            if (t < 0) return -1;
            wrdtab[t].depth = int16_t(w.depth + 2);
            if (wrdtxt(t, WT_TEXT, linbuf + p, nl) < 0) return -1;
            w.v1 = int16_t(t - k);
            subs = true;
          } else {
            if (wrdtxt(k, WT_TEXT, linbuf + p, nl) < 0) return -1;
            return endwrd(k, q, end, open, group);
          }
        }
      } else {
        // A prefixed name that is no variable: a file name.
        type = int16_t(kind + 8);
        w.type = type;
        if (c2 == '"' || c2 == '\'') {
          // A quoted file name.
          int l = qotlen(linbuf + p);
          int sl = l < 0 ? end - p : std::min(l + 2, end - p);
          if (makwrd(p, sl, 0, LK_FIELD | k) < 0) return -1;
          q = p + sl;
        } else if (c2 == '<') {
          int gl = gobble(linbuf + p, end - p, &nx);
          int sl = gl - (linbuf[p + gl - 1] == '>' ? 2 : 1);
          if (sl > 0 && makwrd(p + 1, sl, WT_TEXT, LK_FIELD | k) < 0) return -1;
          q = p + gl;
        } else {
          if (nl < 2) {
            error(a, 7);
            return -1;
          }
          int t = makwrd(-1, 0, 0, -1);
          if (t < 0) return -1;
          wrdtab[t].depth = int16_t(w.depth + 2);
          if (wrdtxt(t, WT_TEXT, linbuf + p, nl) < 0) return -1;
          w.v1 = int16_t(t - k);
          q = p + nl;
        }
        if (q < end && linbuf[q] == '{') {
          int gl = gobble(linbuf + q, end - q, &nx);
          int sl = gl - (linbuf[q + gl - 1] == '}' ? 2 : 1);
          if (sl > 0 && makwrd(q + 1, sl, 0, LK_FIELD | (1 << LK_SHIFT) | k) < 0) return -1;
          q += gl;
        }
        subs = (kind & 16) == 0;
      }
    }
  }
  // Subscripts or an argument list.
  WORD& ww = wrdtab[k];
  ww.type = type;
  if (subs && q < end && (linbuf[q] == '(' || (linbuf[q] == '[' && type != WT_UNKLIST))) {
    int cnt = getsub(q, a, k, end, &q);
    if (cnt < 0) return -1;
    if (type & WT_CMD) wrdtab[k].v2 = int16_t(cnt);
    wrdtab[k].type = int16_t(type | 1);
  }
  return endwrd(k, q, end, open, group);
}

}  // namespace

double wfloat(const WORD& w) {
  int32_t v = wnum(w);
  if (wnsiz(w) == 96) {
    float f;
    std::memcpy(&f, &v, 4);
    return f;
  }
  return v;
}

int chnslt(int k, int n, int16_t* phys) {
  for (int s = 0; s < 4; s++) setwslot(wrdtab[k], s, SLOT_NONE);
  int owner = k;
  int base = 0;  // first slot held by owner
  for (int j = 0; j < n; j++) {
    int s = j - base;
    if (s == 3 && n - j > 1) {
      int c = makwrd(-1, 0, WT_SLOTS, -1);
      if (c < 0) return -1;
      wrdtab[c].depth = int16_t(wrdtab[k].depth + 2);
      for (int t = 0; t < 4; t++) setwslot(wrdtab[c], t, SLOT_NONE);
      setwslot(wrdtab[owner], 3, int16_t(c - owner));
      owner = c;
      base = j;
      s = 0;
    }
    phys[j] = int16_t((owner << 8) | s);
  }
  return 0;
}

int makwrd(int position, int length, int type, int link) {
  if (position < 0) {
    if (nwords >= lowmrk || nwords >= NWORDS) {
      error(prsarg, 41);
      return -1;
    }
    int e = nwords++;
    std::memset(&wrdtab[e], 0, sizeof(WORD));
    wrdtab[e].type = int16_t(type);
    return e;
  }
  if (pendct >= MAXARG) {
    error(prsarg, 41);
    return -1;
  }
  int e = -1;
  for (int i = NWORDS - 1; i >= lowmrk; i--) {
    if (wrdtab[i].type == WT_FREE) {
      e = i;
      break;
    }
  }
  if (e < 0) {
    if (lowmrk - 1 < nwords) {
      error(prsarg, 41);
      return -1;
    }
    e = --lowmrk;
  }
  WORD& w = wrdtab[e];
  std::memset(&w, 0, sizeof w);
  w.type = int16_t(type);
  w.v1 = int16_t(position);
  w.v2 = int16_t(length);
  setwslot(w, 0, int16_t(link));
  setwslot(w, 1, -1);
  int at = std::clamp<int>(pendins, 0, pendct);
  for (int i = pendct; i > at; i--) pendng[i] = pendng[i - 1];
  pendng[at] = int16_t(e);
  pendct++;
  pendins = at + 1;
  return e;
}

int wrdtxt(int e, int t, const char* text, int length) {
  if (e < 0 || e >= NWORDS) return -1;
  if (length < 0) length = 0;
  int pieces = std::max(1, (length + 7) / 8);
  int cur = e;
  int left = length;
  WORD& first = wrdtab[e];
  first.type = int16_t(t);
  for (int i = 0; i < pieces; i++) {
    WORD& w = wrdtab[cur];
    if (i > 0) {
      w.type = int16_t(WT_CONT + t);
      w.depth = int16_t(first.depth + 2);
    }
    w.v1 = int16_t(left);
    int m = std::min(left, 8);
    std::memset(w.b, 0, sizeof w.b);
    if (m > 0) std::memcpy(w.b, text + (length - left), size_t(m));
    left -= m;
    w.v2 = 0;
    if (i + 1 < pieces) {
      int nx = makwrd(-1, 0, 0, -1);
      if (nx < 0) return -1;
      wrdtab[cur].v2 = int16_t(nx - cur);
      cur = nx;
    }
  }
  first.v1 = int16_t(length);
  return pieces;
}

int gettxt(int e, char* out, int size) {
  if (!out || size < 1) return 0;
  out[0] = 0;
  if (e < 0 || e >= NWORDS) return 0;
  // An unknown name before "(" keeps its text in the entry it links to.
  if ((wrdtab[e].type & ~1) == WT_UNKLIST) {
    e += wrdtab[e].v1;
    if (e < 0 || e >= NWORDS || wrdtab[e].type != WT_TEXT) return 0;
  }
  int total = wrdtab[e].v1;
  int n = 0;
  int cur = e;
  for (int guard = 0; guard < NWORDS && n < total; guard++) {
    const WORD& w = wrdtab[cur];
    int m = std::min(total - n, 8);
    for (int i = 0; i < m && n < size - 1; i++) out[n++] = char(w.b[i]);
    if (n >= size - 1 || w.v2 == 0) break;
    int nx = cur + w.v2;
    if (nx < 0 || nx >= NWORDS || !(wrdtab[nx].type & WT_CONT)) break;
    cur = nx;
  }
  out[n] = 0;
  return n;
}

namespace {
// What a line that begins with "$" and digits stores through that macro
// argument: 1 a value ("$n = value"); -1 anything else that stores: into a
// part of it ("$n(i) = ...", "$n (i) = ..."), a step ("$n++", "$n--") or
// an operator with its assignment ("$n += 2", "$n *= 2", "$n <<= 1" ...);
// 0 no store ("$n == 2", a "$" line of other words).
int margset(const char* s) {
  if (s[0] != '$' || s[1] < '0' || s[1] > '9') return 0;
  s++;
  while (*s >= '0' && *s <= '9') s++;
  while (*s == ' ' || *s == '\t') s++;
  bool sub = false;
  if (*s == '(' || *s == '[') {
    sub = true;
    const char open = *s, close = open == '(' ? ')' : ']';
    int depth = 0;
    for (; *s; s++) {
      if (*s == open) depth++;
      else if (*s == close && --depth == 0) break;
    }
    if (!*s) return 0;
    s++;
    while (*s == ' ' || *s == '\t') s++;
  }
  if (s[0] == '=' && s[1] != '=') return sub ? -1 : 1;
  if ((s[0] == '+' || s[0] == '-') && s[1] == s[0]) return -1;
  // An operator of one character, or one doubled, before its "=".
  int k = s[0] && s[1] == s[0] && std::strchr("*/&|<>", s[0]) ? 2 : 0;
  if (!k && s[0] && std::strchr("+-*/%&|^", s[0])) k = 1;
  return k && s[k] == '=' && s[k + 1] != '=' ? -1 : 0;
}
}  // namespace

int PARSLN(int n, int* code) {
  static bool traced = false;
  if (!traced) {
    // The tracers read the word table where it lies.
    trcwset(reinterpret_cast<const uint8_t*>(wrdtab), argmap, &nargw, &nwords);
    traced = true;
  }
  int dummy;
  if (!code) code = &dummy;
  *code = 0;
  nwords = 0;
  lowmrk = NWORDS;
  nargw = 0;
  pendrd = 1;
  pendct = 0;
  exstat = -2;
  leadv = 0;
  argend = 0;
  if (n < 0) return 0;
  if (n >= CMDLIN) n = CMDLIN - 1;
  linbuf[n] = 0;
  std::memcpy(prsln, linbuf, size_t(n) + 1);
  int i = 0;
  while (linbuf[i] && blank(uc(linbuf[i]))) i++;
  // "$n = ..." stores through a macro argument: an ordinary line. Any
  // other store through one (into a part of it, a step, an operator with
  // its assignment) reaches nothing: refused.
  const int mset = margset(linbuf + i);
  margst = mset > 0;
  if (mset < 0) {
    error(1, 58);
    return 0;
  }
  bool dollar = linbuf[i] == '$' && !margst;
  if (dollar || (prsflg & PF_WHOLE)) {
    int st = dollar ? i + 1 : 0;
    int e = makwrd(-1, 0, 0, -1);
    if (e < 0 || wrdtxt(e, WT_TEXT, linbuf + st, lenstr(linbuf + st)) < 0) return 0;
    argmap[0] = int16_t(e);
    nargw = 1;
    *code = dollar ? CM_DOLLAR : 0;
    return n;
  }
  int pos = 0;
  int args = 0;
  // Errors of the parse carry the number of the argument being parsed.
  struct ArgNo {
    ~ArgNo() { prsarg = 0; }
  } argno;
  while (args < MAXARG) {
    while (linbuf[pos] && blank(uc(linbuf[pos]))) pos++;
    if (!linbuf[pos]) break;
    int a = ++args;
    prsarg = a;
    pendct = 0;
    pendrd = 1;
    pendins = 0;
    lowmrk = NWORDS;
    argend = pos + 1;
    int s = makwrd(pos, -(lenstr(linbuf) - pos + 1), 0, a);
    if (s < 0) return 0;
    argmap[a - 1] = int16_t(s);
    nargw = int16_t(args);
    while (pendrd <= pendct && pendrd <= MAXARG) {
      if (wparse(a) < 0) {
        nargw = int16_t(args);
        return 0;
      }
    }
    pos = std::max(argend, pos + 1);
    if (pos > lenstr(linbuf)) pos = lenstr(linbuf);
  }
  nargw = int16_t(args);
  lowmrk = NWORDS;
  if (args == 0) return 0;
  // Words left over after the last argument the map can hold would be
  // dropped without a word: the line is refused instead.
  while (args >= MAXARG && linbuf[pos] && blank(uc(linbuf[pos]))) pos++;
  if (args >= MAXARG && linbuf[pos]) {
    prsarg = MAXARG + 1;
    error(prsarg, 41);
    prsarg = 0;
    return 0;
  }
  *code = cmdkey(1);
  if (nargw == 0) return 0;
  return n;
}

int chrpos(int ch, const char* text) {
  if (!text || ch == 0) return -1;
  for (int i = 0; text[i]; i++)
    if (uc(text[i]) == (ch & 0xFF)) return i;
  return -1;
}

int rdnum(double* value, const char* text, int* kind) {
  int want = kind ? *kind : 0;
  if (value) *value = 0;
  if (!text) return 0;
  int i = 0;
  bool neg = false;
  if (text[0] == '-') {
    neg = true;
    i = 1;
  }
  int c = uc(text[i]);
  if (c >= ':' || !(isdig(c) || c == '.')) return 0;
  if (c == '.' && !isdig(uc(text[i + 1]))) return 0;
  int base = ibase >= 2 && ibase <= 36 ? ibase : 10;
  // The run of digit characters (0-9, a-f) and one ".", at most 40.
  const int start = i;
  int j = i;
  int dot = -1;
  while (j - start < 40) {
    int d = uc(text[j]);
    if (isdig(d) || (d >= 'a' && d <= 'f')) j++;
    else if (d == '.' && dot < 0) dot = j++;
    else break;
  }
  int runend = j;
  // A radix letter after the digits.
  int radix = 0, rend = runend, used = runend;
  int nc = uc(text[runend]);
  if (nc == 'h' || nc == 'o' || nc == 'q') {
    radix = nc == 'h' ? 16 : nc == 'o' ? 8 : 4;
    used = runend + 1;
  } else if (runend - 1 > start && text[runend - 1] == 'b' && base <= 11) {
    radix = 2;
    rend = runend - 1;
    used = runend;
  } else if (runend - 1 > start && text[runend - 1] == 'd' && base <= 13) {
    radix = 10;
    rend = runend - 1;
    used = runend;
  }
  auto digit = [](int d) { return isdig(d) ? d - '0' : d - 'a' + 10; };
  auto valid = [&](int r, int to) {
    for (int t = start; t < to; t++) {
      int d = uc(text[t]);
      if (d != '.' && digit(d) >= r) return false;
    }
    return true;
  };
  if (radix && (dot >= 0 && dot >= rend ? false : !valid(radix, rend))) radix = 0;
  if (!radix) {
    radix = base;
    // The number ends at the first character that is no digit of the base.
    rend = start;
    while (rend < runend) {
      int d = uc(text[rend]);
      if (d == '.') {
        if (rend != dot) break;
      } else if (digit(d) >= radix) {
        break;
      }
      rend++;
    }
    used = rend;
  }
  double v = 0, scale = 1;
  bool frac = false;
  int ndig = 0;
  for (int t = start; t < rend; t++) {
    int d = uc(text[t]);
    if (d == '.') {
      frac = true;
      continue;
    }
    ndig++;
    if (frac) {
      scale /= radix;
      v += digit(d) * scale;
    } else {
      v = v * radix + digit(d);
    }
  }
  if (ndig == 0) return 0;
  if (v > 2147399935.0) {
    error(prsarg, 100);
    return -1;
  }
  if (value) *value = neg ? -v : v;
  if (kind) *kind = (frac || want) ? 96 : 32;
  return used;
}

int igtnam(const char* text, int* next) {
  int dummy;
  if (!next) next = &dummy;
  *next = 0;
  if (!text) return 0;
  int c = uc(text[0]);
  if (c == '"' || c == '\'') {
    int l = qotlen(text);
    int n = l < 0 ? lenstr(text) : l + 2;
    *next = uc(text[n]);
    return n;
  }
  if (!islowr(c)) return 0;
  int i = 1;
  while (isnamc(uc(text[i]))) i++;
  *next = uc(text[i]);
  return i;
}

int gobble(const char* text, int max, int* next) {
  int dummy;
  if (!next) next = &dummy;
  *next = 0;
  if (!text || max <= 0) return 0;
  int c = uc(text[0]);
  int close = c == '(' ? ')' : c == '<' ? '>' : c == '[' ? ']' : c == '{' ? '}' : 0;
  int i = 0;
  if (close) {
    int depth = 0;
    gobclosed = false;
    for (; i < max && text[i]; i++) {
      int ch = uc(text[i]);
      if ((ch == '"' || ch == '\'') && c != '<') {
        int l = qotlen(text + i);
        if (l >= 0 && i + l + 1 < max) {
          i += l + 1;
          continue;
        }
      }
      if (ch == c) depth++;
      else if (ch == close && --depth == 0) {
        i++;
        gobclosed = true;
        break;
      }
    }
  } else {
    while (i < max && text[i] && !blank(uc(text[i])) &&
           (isnamc(uc(text[i])) || chrpos(uc(text[i]), "~^%@#$\\") >= 0))
      i++;
  }
  *next = i < max ? uc(text[i]) : 0;
  return i;
}

int unesc(char* dst, int size, const char* src, int delim, int* pos) {
  int dummy = 0;
  if (!pos) pos = &dummy;
  int n = 0;
  if (!src) {
    if (dst && size > 0) dst[0] = 0;
    return 0;
  }
  int i = *pos;
  auto put = [&](int ch) {
    if (dst && n < size - 1) dst[n++] = char(ch);
  };
  for (int c = uc(src[i]); c && c != delim; c = uc(src[i])) {
    if (c == '\\' && src[i + 1]) {
      int e = uc(src[++i]);
      int k = chrpos(e, "btnfre");
      if (k >= 0) {
        put("\b\t\n\f\r\x1b"[k]);
        i++;
      } else if (e >= '0' && e <= '7') {
        int v = 0;
        for (int m = 0; m < 3 && src[i] >= '0' && src[i] <= '7'; m++) v = v * 8 + (src[i++] - '0');
        put(v & 0xFF);
      } else {
        put(e);
        i++;
      }
    } else {
      put(c);
      i++;
    }
  }
  if (delim && uc(src[i]) == delim) i++;
  *pos = i;
  if (dst && size > 0) dst[n] = 0;
  return n;
}

int qotlen(const char* text) {
  if (!text) return -1;
  int q = uc(text[0]);
  for (int i = 1; i <= 300 && text[i]; i++) {
    if (text[i] == '\\' && text[i + 1]) {
      i++;
      continue;
    }
    if (uc(text[i]) == q) return i - 1;
  }
  return -1;
}

bool kindpfx(int kind, char pfx[3]) {
  for (int i = 0; i < 6; i++)
    if (PKIND1[i] == kind) {
      pfx[0] = PREFIX[i];
      pfx[1] = 0;
      return true;
    }
  for (int i = 0; i < 6; i++)
    if (PKIND2[i] == kind) {
      pfx[0] = pfx[1] = PREFIX[i];
      pfx[2] = 0;
      return true;
    }
  return false;
}
