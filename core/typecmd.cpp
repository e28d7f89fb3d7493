// The typing and dumping commands, the debug echo of the parsed command,
// and the repaint of watched variables.
#include "core/typecmd.h"

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/format.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/typhooks.h"
#include "core/varbl.h"
#include "files/keylog.h"
#include "files/rdary.h"
#include "ui/alert.h"
#include "lang/keywords.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "lang/rdline.h"
#include "ui/events.h"
#include "ui/window.h"

namespace {

constexpr int MAXOPS = MAXARG;   // operands of one command
constexpr int LINMAX = 256;      // columns of one typed line
constexpr int FMTLEN = 1024;     // a format text
constexpr int QSTRMAX = 200;     // longest escaped string dumped as one quoted word

// One operand of a typing command.
struct Op {
  PtrRec* r;
  int32_t count;
  int kind;
  int wsiz;
};

// The record of argument n prepared for reading, literal words (numbers
// and texts) too; its item count in *count. Null when it has no data kind.
PtrRec* opnd(int n, int32_t* count) {
  *count = 0;
  PtrRec* r = argary(n, count);
  if (r || stopped()) return r;
  int32_t h = 0;
  int w = -1;
  int t = fndarg(n, &h, &w);
  if (h > 0 || w < 0 || (t != WT_NUMBER && t != WT_TEXT && t != WT_QUOTED)) return nullptr;
  r = ptrrec(resarg(w, 0));
  if (!r || !(r->Flg & 0x7F0)) return nullptr;
  int32_t part, tot, ws;
  int kind = gtvarb(r, count, &part, &tot, &ws, 0);
  if (kind & 0x7E9) savoff(r);
  return r;
}

// Whether argument n is the opening-brace word alone: a brace list
// ({1 2 3}, read as a parenthesised list) is an operand like any other.
bool bareopen(int n) {
  int32_t h = 0;
  int w = -1;
  int t = fndarg(n, &h, &w);
  return (t & 0x2001) == 0x2000 && argnum(n) == OP_LBRACE;
}

// A format text built piece by piece, never past its buffer.
struct Bld {
  char s[FMTLEN];
  int n = 0;
  Bld() { s[0] = 0; }
  void add(const char* t) {
    while (*t && n < FMTLEN - 1) s[n++] = *t++;
    s[n] = 0;
  }
};

// The numeric piece of an operand by its word size code; `dec` writes
// integers in base 10 (dump) instead of the output base.
const char* numpiece(int wsiz, bool dec) {
  switch (wsiz) {
    case W_FLOAT: return "%12.3f";
    case W_LONG: return dec ? "%12d" : "%12i";
    case W_SHORT: return dec ? "%7d" : "%7i";
    case W_RGB: return dec ? "%9d" : "%r";
    default: return dec ? "%5d" : "%5i";
  }
}

// The count of a repeat group around the single operand of a typed line:
// for matrices, images and solids the first window extent above 1, capped
// at 80 / (word size bits) + 4 and at 12; 0 (as many as fit) otherwise.
int grpcnt(const Op& o) {
  if (!(o.kind & (K_MATRIX | K_IMAGE | K_SOLID)) || (o.kind & K_VECTOR)) return 0;
  uint32_t ext = 0;
  for (int d = 3; d < 6 && !ext; d++)
    if (o.r->Offs[d] > 1) ext = o.r->Offs[d];
  if (!ext) return 0;
  int bits = itmbit(o.wsiz);
  int cap = std::min(80 / (bits > 0 ? bits : 8) + 4, 12);
  return static_cast<int>(std::min<uint32_t>(ext, static_cast<uint32_t>(cap)));
}

// Wraps a piece in a repeat group: "%" count "(" piece " %)".
void group(Bld& b, const char* piece, int cnt) {
  char h[24];
  if (cnt > 0)
    std::snprintf(h, sizeof h, "%%%d(", cnt);
  else
    std::snprintf(h, sizeof h, "%%(");
  b.add(h);
  b.add(piece);
  b.add(" %)");
}

// A piece of a formatted line longer than the line buffer.
void typepiece(const char* text, int n) { jprintf(lstlun, "%.*s", n, text); }

// Prints the format line by line on the listing unit until every item is
// used, nothing more is consumed, or a stop bit is set. A pass longer than
// the line buffer is written whole, in pieces: the format goes on where the
// buffer filled, never from its start again.
void typeout(int n, const char* fmt, int32_t* hdl, int32_t* left, int32_t* hand) {
  char line[LINMAX + 1];
  for (;;) {
    int64_t before = 0;
    for (int k = 0; k < n; k++) before += left[k];
    int r = fmtlong(n, line, fmt, hdl, sizeof line, left, hand, typepiece);
    if (stopped()) return;
    jprintf(lstlun, "%s", line);
    if (r <= 0) return;
    int64_t after = 0;
    for (int k = 0; k < n; k++) after += left[k];
    if (after >= before) return;  // a format that takes no items
  }
}

// The three tables of a typing command, zeroed, in the scratch area:
// handles (n + 1), items left (n), items in hand (n).
int32_t* tables(int n) {
  auto* t = static_cast<int32_t*>(getbuf((3 * n + 1) * 4));
  if (!t) {
    error(0, 42);
    return nullptr;
  }
  std::memset(t, 0, static_cast<size_t>(3 * n + 1) * 4);
  return t;
}

// type with the opening-brace word: copies the following input lines to
// the listing unit until a line starting with "}" or the end of input. A
// macro line too long for the line buffer, or a typed one too long for the
// command window's line, is error 186 and not copied; the copy goes on.
void typblk() {
  int num = 0;
  int32_t held = 0;
  while (!stopped()) {
    const bool typed = inpunt() == 0 && !(state & ST_QUEUED);
    int r = readky(inpunt(), 0, &num);
    if (r < 0 || (r & 2)) break;
    int lf = 0, lc = 0;
    if (lnlong(&lf, &lc) || (typed && keyfull())) {
      error(0, 186);
      held |= state & ST_ERROR;
      state &= ~ST_ERROR;
      continue;
    }
    jprintf(lstlun, "%s\n", linbuf);
  }
  state |= held;
}

// ---- dump ----------------------------------------------------------------

// Items of a record as bytes (string data), loaded part by part.
std::string rditems(PtrRec* r, int32_t count) {
  std::string s;
  int32_t part = 0, i = 0;
  while (i < count && !stopped()) {
    if (i >= part) {
      LDVARB(r, &part, i);
      if (part <= i) break;
    }
    s.push_back(static_cast<char>(igstak(r) & 0xFF));
    i++;
  }
  return s;
}

// Escapes text so that the parser's quoted strings and the text reader's
// quoted lines give it back.
std::string esc(const std::string& t) {
  std::string o;
  for (unsigned char c : t) {
    switch (c) {
      case '"': o += "\\\""; break;
      case '\\': o += "\\\\"; break;
      case '\n': o += "\\n"; break;
      case '\t': o += "\\t"; break;
      case '\r': o += "\\r"; break;
      case '\f': o += "\\f"; break;
      case '\b': o += "\\b"; break;
      case 27: o += "\\e"; break;
      default:
        if (c < 32 || c == 127) {
          char b[8];
          std::snprintf(b, sizeof b, "\\%03o", c);
          o += b;
        } else {
          o.push_back(static_cast<char>(c));
        }
    }
  }
  return o;
}

// A line of a brace block as the text reader takes it back: plain when it
// reads back as it is, else quoted with escapes.
std::string blkline(const std::string& t) {
  bool plain = !t.empty();
  for (unsigned char c : t)
    if (c < 32 || c == 127) plain = false;
  if (plain) {
    unsigned char a = static_cast<unsigned char>(t.front()), z = static_cast<unsigned char>(t.back());
    if (a == ' ' || a == '"' || a == '\'' || z == ' ' || z == '}' || z == '\\') plain = false;
  }
  return plain ? t : "\"" + esc(t) + "\"";
}

void putlong(const std::string& s) {
  // jprintf formats through a bounded buffer: long text goes in pieces.
  for (size_t i = 0; i < s.size() && !stopped(); i += 200)
    jprintf(lstlun, "%.*s", static_cast<int>(std::min<size_t>(200, s.size() - i)), s.c_str() + i);
}

// The name a dumped operand is written under; false when it has none.
bool dmpnam(int kind, const PtrRec* r, char* name) {
  name[0] = 0;
  if (kind & K_NAMED) return symnam(r->Idx, name, SYMNAM + 1) > 0;
  if (kind == SVFLAGS && r->Idx >= SVBASE + 1 && r->Idx <= SV_LAST) {
    std::snprintf(name, SYMNAM + 8, "%s", sysnam[r->Idx - SVBASE - 1]);
    return true;
  }
  if (kind == K_NUMBER && r->Idx >= 0 && r->Idx <= 9) {
    std::snprintf(name, SYMNAM + 8, "#%d", r->Idx);
    return true;
  }
  return false;
}

void dumpone(int n) {
  int32_t h = 0;
  int t = argtyp(n, &h);
  PtrRec* r = ptrrec(h);
  if (t == WT_TEXT || t == WT_QUOTED || (r && r->Flg == K_STRING && r->Idx == -1)) {
    // A word that names nothing.
    char txt[LINBUF];
    float v;
    int len = 0;
    getarg(n, &v, txt, sizeof txt, &len);
    if (len > 0) jprintf(lstlun, "; %s <undefined>\n", txt);
    return;
  }
  if (!r) return;
  char name[SYMNAM + 8];
  if (!dmpnam(t, r, name)) return;
  int32_t cnt = 0;
  r = argary(n, &cnt);
  if (!r || stopped()) return;
  int kind = r->Flg;
  // A string list counts its items, not their characters: items that are
  // all empty are still written, so that they read back.
  const bool strlst = (kind & (K_STRING | K_LIST)) == (K_STRING | K_LIST);
  if (cnt < 1 && !(strlst && r->Offs[3] > 0)) {
    jprintf(lstlun, "%s =\n", name);
    return;
  }
  if ((kind & K_LIST) && !(kind & K_STRING)) return;

  if (kind & K_STRING) {
    if (kind & K_LIST) {
      // One element per line inside braces.
      jprintf(lstlun, "%s = {\n", name);
      int32_t ne = static_cast<int32_t>(r->Offs[3]);
      for (int32_t e = 0; e < ne && !stopped(); e++) {
        int32_t part = 0;
        LDVARB(r, &part, 0);
        std::string el;
        if (part > 0) el.assign(reinterpret_cast<const char*>(dptr(r)), static_cast<size_t>(part));
        putlong(blkline(el));
        jprintf(lstlun, "\n");
      }
      if (!stopped()) jprintf(lstlun, "}\n");
      return;
    }
    // The text up to its first NUL, as the string reads.
    std::string s = rditems(r, cnt);
    s.resize(std::strlen(s.c_str()));
    if (s.empty()) {
      jprintf(lstlun, "%s =\n", name);
      return;
    }
    std::string e = esc(s);
    if (static_cast<int>(e.size()) <= QSTRMAX) {
      jprintf(lstlun, "%s = \"", name);
      putlong(e);
      jprintf(lstlun, "\"\n");
      return;
    }
    // Too long for one command line: a brace block of its lines, when each
    // of them fits a typed line; else the text in pieces joined on.
    bool fits = true;
    for (size_t a = 0; fits;) {
      size_t b = s.find('\n', a);
      std::string ln = s.substr(a, b == std::string::npos ? std::string::npos : b - a);
      fits = blkline(ln).size() <= QSTRMAX;
      if (b == std::string::npos) break;
      a = b + 1;
    }
    if (!fits) {
      std::string piece;
      bool first = true;
      for (size_t i = 0; i <= s.size() && !stopped(); i++) {
        std::string c = i < s.size() ? esc(s.substr(i, 1)) : std::string();
        if (i == s.size() || piece.size() + c.size() > QSTRMAX) {
          if (first)
            jprintf(lstlun, "%s = \"", name);
          else
            jprintf(lstlun, "%s = %s // \"", name, name);
          putlong(piece);
          jprintf(lstlun, "\"\n");
          first = false;
          piece.clear();
        }
        piece += c;
      }
      return;
    }
    jprintf(lstlun, "%s = {\n", name);
    size_t a = 0;
    for (;;) {
      size_t b = s.find('\n', a);
      std::string ln = s.substr(a, b == std::string::npos ? std::string::npos : b - a);
      putlong(blkline(ln));
      jprintf(lstlun, "\n");
      if (b == std::string::npos || stopped()) break;
      a = b + 1;
    }
    if (!stopped()) jprintf(lstlun, "}\n");
    return;
  }

  Op o{r, cnt, kind, r->Wsiz};
  Bld b;
  bool vec = (kind & K_VECTOR) && r->Wsiz == W_VEC;
  // Vector records go one to a line: two of them pass the line width.
  const char* piece = vec ? "{ %v }" : numpiece(o.wsiz, true);
  if (cnt > 1 && !vec)
    group(b, piece, grpcnt(o));
  else
    b.add(piece);
  b.add("\n");
  int32_t* tab = tables(1);
  if (!tab) return;
  tab[0] = stkadr(r);
  int32_t* left = tab + 2;
  int32_t* hand = tab + 3;
  left[0] = cnt;
  jprintf(lstlun, "%s =%s", name, cnt > 1 ? " {\n" : " ");
  fexact = 1;
  typeout(1, b.s, tab, left, hand);
  fexact = 0;
  if (cnt > 1 && !stopped()) jprintf(lstlun, "}\n");
}

// ---- ecodbg ----------------------------------------------------------------

struct Line {
  char s[81];
  int n = 0;
  Line() { s[0] = 0; }
  void add(const char* t) {
    while (*t && n < 80) s[n++] = *t++;
    s[n] = 0;
  }
  void addc(char c) {
    char t[2] = {c, 0};
    add(t);
  }
};

// The kind prefix of a variable word: one character, doubled for a string
// list, a matrix, a vector list and a solid.
void prefix(Line& l, int t) {
  static const char pre[] = "~^%@#$";
  int k = -1;
  bool twice = false;
  if (t & K_STRING) k = 0, twice = (t & K_LIST) != 0;
  else if (t & K_VECTOR) k = 2, twice = (t & (K_LIST | K_MATRIX)) != 0;
  else if (t & K_SOLID) k = 3, twice = true;
  else if (t & K_IMAGE) k = 3;
  else if (t & K_MATRIX) k = 1, twice = true;
  else if (t & K_ARRAY) k = 1;
  else if (t & K_NUMBER) k = 4;
  else if (t & 4) k = 5;
  if (k < 0) return;
  l.addc(pre[k]);
  if (twice) l.addc(pre[k]);
}

void echoword(Line& l, int w) {
  const WORD& W = wrdtab[w];
  int t = W.type;
  char buf[LINBUF];
  if (t == WT_NUMBER) {
    double v = wfloat(W);
    if (v == std::trunc(v) && std::fabs(v) < 2147483648.0)
      std::snprintf(buf, sizeof buf, "%d", static_cast<int>(v));
    else
      std::snprintf(buf, sizeof buf, "%.3f", v);
    l.add(buf);
  } else if (t == WT_TEXT || t == WT_QUOTED) {
    gettxt(w, buf, sizeof buf);
    l.add(buf);
  } else if (t == WT_MACARG) {
    std::snprintf(buf, sizeof buf, "$%d", std::max(1, wval(W)) % 10);
    l.add(buf);
  } else if (t & 0x2000) {
    // A keyword: by its text when it carries one, else by its name.
    int rel = (t & 8) ? W.v1 : W.v2;
    int e = w + rel;
    if (rel != 0 && e > w && e < NWORDS && (wrdtab[e].type == WT_TEXT || wrdtab[e].type == WT_QUOTED)) {
      gettxt(e, buf, sizeof buf);
      l.add(buf);
    } else if (!(t & 8)) {
      l.add(cmdnam(W.v1, buf) >= 0 ? buf : "?");
    }
  } else if (t == WT_GROUP || t <= 0 || (t & 0x4000)) {
    return;
  } else if (t & 8) {
    // A file word: its name text, or "<>" around the (empty) name text of a
    // numbered data file.
    prefix(l, t);
    int e = w + W.v1;
    if (e > w && e < NWORDS && wrdtab[e].type == WT_NUMBER) {
      filnam(w, buf, sizeof buf);
      l.addc('<');
      l.add(buf);
      l.addc('>');
    }
  } else {
    prefix(l, t);
    if (t & 0x1000) {
      char nm[SYMNAM + 1];
      symnam(wval(W), nm, sizeof nm);
      l.add(nm);
    } else if (t & 16) {
      int k = W.v1;
      if (k >= 0 && k <= 9)
        std::snprintf(buf, sizeof buf, "%d", k);
      else if (k > SVBASE && k <= SV_LAST)
        std::snprintf(buf, sizeof buf, "%s", sysnam[k - SVBASE - 1]);
      else
        std::snprintf(buf, sizeof buf, "%d", k);
      l.add(buf);
    }
    int16_t mark;
    std::memcpy(&mark, W.b, 2);
    if (mark) l.add(mark == '+' ? "++" : "--");
    if (t & 1) l.addc('(');
  }
}

}  // namespace

// ---- type and ftype --------------------------------------------------------

int ftype(int code) {
  state |= ST_LISTING;
  int first, nop;
  Bld fmt;
  if (code == 4 && bareopen(2)) {
    if (nargs() > 2) {
      error(3, 32);
      return 0;
    }
    typblk();
    return 0;
  }
  if (code == 5) {
    float v;
    int len = 0;
    int k = getarg(2, &v, fmt.s, sizeof fmt.s, &len);
    if (!(k & K_STRING) || len < 1) {
      error(2, 70);
      return 0;
    }
    fmt.n = len;
    first = 3;
    nop = std::max(0, nargs() - 2);
    if (nop > 0 && !hasdir(fmt.s)) {
      error(2, 133);
      return 0;
    }
  } else if (code == 4) {
    first = 2;
    nop = std::max(0, nargs() - 1);
  } else {
    first = 1;
    nop = 1;
  }
  nop = std::min(nop, MAXOPS);

  Op ops[MAXOPS];
  int multi = 0;
  for (int k = 0; k < nop; k++) {
    int32_t cnt = 0;
    PtrRec* r = opnd(first + k, &cnt);
    if (stopped()) return 0;
    ops[k] = {r, r ? std::max(cnt, 0) : 0, r ? r->Flg : 0, r ? r->Wsiz : 0};
    if (ops[k].count > 1) multi++;
  }
  if (nop == 1 && !ops[0].r) return 0;
  int32_t* tab = tables(nop);
  if (!tab) return 0;
  int32_t* hdl = tab;
  int32_t* left = tab + nop + 1;
  int32_t* hand = tab + 2 * nop + 1;
  for (int k = 0; k < nop; k++) {
    hdl[k] = ops[k].r && ops[k].count > 0 ? stkadr(ops[k].r) : 0;
    left[k] = hdl[k] ? ops[k].count : 0;
  }

  if (code != 5) {
    bool prevvec = false;
    for (int k = 0; k < nop; k++) {
      const Op& o = ops[k];
      bool vec = o.r && (o.kind & K_VECTOR) && o.wsiz == W_VEC;
      if (k > 0) fmt.add(vec || prevvec ? "\n" : " ");
      prevvec = vec;
      if (!hdl[k]) {
        fmt.add("-%d");
      } else if (o.kind & K_STRING) {
        fmt.add("%s");
      } else if (vec) {
        if (nop == 1 && (o.kind & K_MATRIX)) {
          fmt.add("%5#: %v");
          hdl[nop] = static_cast<int32_t>(o.r->Offs[1] & (FMTNUM - 1)) | FMTNUM;
        } else {
          if (k == 0) fmt.add(" ");
          fmt.add("%v");
        }
      } else {
        char piece[16];
        std::snprintf(piece, sizeof piece, "%s", numpiece(o.wsiz, false));
        if (multi >= 2 && o.count > 1) {
          char& let = piece[std::strlen(piece) - 1];
          let = static_cast<char>(let - 32);
        }
        if (nop == 1 && o.count > 1)
          group(fmt, piece, grpcnt(o));
        else
          fmt.add(piece);
      }
    }
    fmt.add("\n");
  }
  typeout(nop, fmt.s, hdl, left, hand);
  return 0;
}

// ---- dump -------------------------------------------------------------------

int vdump() {
  int n = nargs();
  for (int k = 2; k <= n; k++) {
    state |= ST_LISTING;
    if (stopped()) break;
    dumpone(k);
  }
  return 0;
}

// ---- ecodbg -------------------------------------------------------------------

int filnam(int, char* text, int max) {
  if (text && max > 0) text[0] = 0;
  return 0;
}

int ecodbg() {
  if (dbglun == 1) cmdwin();
  Line l;
  for (int i = 0; i < 2 * maclev - 1; i++) l.addc(' ');
  char num[16];
  std::snprintf(num, sizeof num, "%4d:", maclin);
  l.add(num);
  int na = std::min<int>(nargw, MAXARG);
  for (int a = 0; a < na; a++) {
    int w0 = argmap[a];
    if (w0 < 0 || w0 >= NWORDS) continue;
    // The argument's words run up to the next argument's first word.
    int w1 = nwords;
    for (int b = 0; b < na; b++)
      if (argmap[b] > w0 && argmap[b] < w1) w1 = argmap[b];
    w1 = std::min<int>(w1, NWORDS);
    l.addc(' ');
    for (int w = w0; w < std::max(w1, w0 + 1); w++) echoword(l, w);
  }
  jprintf(dbglun, "%s\n", l.s);
  return 0;
}

// ---- watch --------------------------------------------------------------------

WatchRec* wtchtab[NWATCH];
int16_t nwatch = 0;

namespace {
WatchRec wtchrec[NWATCH];
}

int addwat(int win, int32_t var, int type, const int32_t* dims) {
  if (win < 1 || win > 0xFFFF) return -1;
  for (int i = 0; i < NWATCH; i++) {
    if (wtchtab[i]) continue;
    WatchRec& w = wtchrec[i];
    std::memset(&w, 0, sizeof w);
    w.type = static_cast<uint16_t>(type & ~1);
    w.win = static_cast<uint16_t>(win);
    w.var = var;
    for (int k = 0; k < 3 && dims; k++) w.dims[k] = static_cast<int16_t>(std::clamp<int32_t>(dims[k], -32768, 32767));
    wtchtab[i] = &w;
    nwatch++;
    return i;
  }
  return -1;
}

int delwat(int win) {
  int n = 0;
  for (int i = 0; i < NWATCH; i++) {
    if (!wtchtab[i] || (win != 0 && wtchtab[i]->win != win)) continue;
    n += frewat(i);
  }
  return n;
}

int frewat(int slot) {
  if (slot < 0 || slot >= NWATCH || !wtchtab[slot]) return 0;
  wtchtab[slot] = nullptr;
  nwatch--;
  return 1;
}

int DoWatch(int cls) {
  int done = 0;
  for (int i = 0; i < NWATCH && nwatch > 0; i++) {
    WatchRec* w = wtchtab[i];
    if (!w) continue;
    bool due = false;
    if ((w->type & 0x1000) && w->var != 0) {
      // The entry must still lie in a symbol table of the bottom area: a
      // macro's locals go with its frame.
      SymEnt* e = w->var > 0 && w->var + SYMWDS <= lstk.bot ? symptr(w->var) : nullptr;
      if (e && e->flags != 0) {
        if ((e->nlen >> 4) != cls) {
          e->nlen &= 0x0F;
          due = true;
        }
      } else {
        w->var = 0;  // the variable went: its window shows that once
        due = true;
      }
    }
    // A view whose variable went or changed shape without a change mark.
    if (!due && !vwstale(w->win - 1)) continue;
    Wport* p = wport(w->win - 1);
    if (!p || (p->status & 8)) continue;
    int prev = usewin(w->win - 1);
    invport(nullptr);
    usewin(prev);
    done++;
    if (trcmsk) jprintf(dbglun, "DoWatch %d\n", w->win);
  }
  flushpnt();
  return done;
}

// ---- accept ---------------------------------------------------------------

namespace {

constexpr int PROMPT = 512;   // the prompt and its formatted text
constexpr int CODE_ACCEPT = 247;

// A number constant record in the scratch area.
PtrRec* numrec(float v) {
  PtrRec* r = putptr(K_CONST, 0, nullptr, 0, W_FLOAT, 1);
  if (!r) {
    error(0, 42);
    return nullptr;
  }
  r->Idx = -1;
  std::memcpy(&r->Addr, &v, 4);
  r->Length = 1;
  return r;
}

// A string record over a scratch copy of text.
PtrRec* strrec(const char* text) {
  int32_t l = static_cast<int32_t>(std::strlen(text));
  auto* d = static_cast<char*>(getbuf(l + 1));
  PtrRec* r = d ? putptr(K_STRING, 0, nullptr, 0, W_BYTE, 1) : nullptr;
  if (!r) {
    error(0, 42);
    return nullptr;
  }
  std::memcpy(d, text, static_cast<size_t>(l) + 1);
  r->Idx = -1;
  r->Addr = static_cast<uint32_t>(stkadr(d));
  r->Length = l;
  return r;
}

// Blanks become newlines once a line has passed width - 10 characters.
void wrap(char* s, int32_t n, int width) {
  if (width < 21) return;
  int col = 0;
  for (int32_t i = 0; i < n && s[i]; i++) {
    if (s[i] == '\n') {
      col = 0;
    } else if (s[i] == ' ' && col > width - 10) {
      s[i] = '\n';
      col = 0;
    } else {
      col++;
    }
  }
}

// The text of an answer record for the key log (at most size - 1 bytes).
void anstxt(PtrRec* r, char* buf, int size) {
  buf[0] = 0;
  if (!r || size < 2) return;
  if (r->Flg & K_STRING) {
    if (!(r->Flg & K_LIST) && r->Length > 0)
      std::snprintf(buf, static_cast<size_t>(size), "%.*s", r->Length,
                    static_cast<const char*>(stkptr(static_cast<int32_t>(r->Addr))));
    return;
  }
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  savoff(r);
  int n = 0;
  for (int32_t i = 0; i < cnt && n < size - 16; i++) {
    if (i >= part) {
      LDVARB(r, &part, i);
      if (part <= i) break;
    }
    n += std::snprintf(buf + n, static_cast<size_t>(size - n), i ? " %g" : "%g", GSTACK(r));
  }
}

void logacc(const char* prompt, const char* answer) {
  char t[PROMPT];
  std::snprintf(t, sizeof t, "%.20s  -> <%s>", prompt, answer);
  logevt("Acpt", 0, t, 0);
}

// The pending-command queues look empty while the question is asked.
struct Aside {
  PendQ d, t;
  int16_t flag;
  int32_t bit;
  Aside() : d(dfltq), t(typq), flag(qflag), bit(state & ST_QUEUED) {
    dfltq = {0, 0, 0};
    typq = {0, 0, 0};
    qflag = 0;
    state &= ~ST_QUEUED;
  }
  ~Aside() {
    dfltq = d;
    typq = t;
    qflag = flag;
    state |= bit;
  }
};

}  // namespace

PtrRec* Zaccpt(int code, int kind, int wsiz) {
  if (code != CODE_ACCEPT) {
    // The typed input of other commands: a brace block from the input unit.
    int k = kind >= 1 ? (kind & 0xFF0) : K_ARRAY;
    return rdary(inpunt(), k, wsiz, nullptr, code > 0 ? code : 1, nullptr);
  }
  setres(0, 0);
  int mode = argknd(4, 0);
  if (mode == 0) mode = intarg(4, 64);
  if (kind < 1) {
    kind = mode;
    wsiz = argknd(5, 63);
  }
  kind &= 0xFF0;
  const bool box = mode == 2 || mode == 3;

  char prompt[PROMPT];
  float v = 0.0f;
  int plen = 0;
  int pk = getarg(2, &v, prompt, sizeof prompt, &plen);
  if (!(pk & K_STRING)) prompt[0] = 0;
  int32_t dh = 0;
  int dk = argtyp(3, &dh);
  const bool hasdef = dk != 0;
  const int x = intarg(5, -1), y = intarg(6, -1), width = intarg(7, 0), height = intarg(8, 0);

  const bool queued = qpend(&dfltq) || qpend(&typq) || (state & ST_QUEUED);
  Aside aside;

  if (box) {
    char text[ALERTTXT];
    text[0] = 0;
    if (hasdef) {
      float dv = 0.0f;
      int l = 0;
      if (getarg(3, &dv, text, sizeof text, &l) & K_STRING)
        text[sizeof text - 1] = 0;
      else
        std::snprintf(text, sizeof text, "%d", lngarg(3, 0));
    }
    if (mode == 3) {
      const char* btn = intarg(3, 0) ? "!Yes;No" : "!No;Yes";
      int b = Alertb(prompt, btn, 0, "", nullptr, x, y, width, height);
      int yes = intarg(3, 0) ? b == 1 : b == 2;
      logacc(prompt, yes ? "Yes" : "No");
      if (stopped()) setres(-1, 0);
      return numrec(yes ? 1.0f : 0.0f);
    }
    Alertb(prompt, "!OK", 2, "Accept", text, x, y, width, height);
    text[sizeof text - 1] = 0;
    logacc(prompt, text);
    if (stopped()) setres(-1, 0);
    if (kind & K_STRING) {
      PtrRec* r = strrec(text);
      if (r) wrap(static_cast<char*>(stkptr(static_cast<int32_t>(r->Addr))), r->Length, width);
      return r;
    }
    return numrec(nrwflt(std::strtod(text, nullptr)));
  }

  // At the keyboard: the prompt, formatted over the default when it holds
  // directives.
  if (prompt[0]) {
    char shown[PROMPT];
    if (hasdir(prompt)) {
      int32_t h[1] = {hasdef ? dh : 0};
      format(1, shown, prompt, h, 1, sizeof shown, nullptr, nullptr);
      if (state & ST_ERROR) return nullptr;
    } else {
      std::snprintf(shown, sizeof shown, "%s", prompt);
    }
    jprintf(1, "%s", shown);
  }

  if (mode == 1) {
    int key = queued ? 0 : getkey(0);
    static const char keys[] = "\202\201nyNY";
    const char* at = key > 0 && key < 256 ? std::strchr(keys, key) : nullptr;
    int yes = at ? static_cast<int>(at - keys) & 1 : intarg(3, 0) & 1;
    if (prompt[0]) {
      if (key > 0 && key < 128 && std::isalpha(key)) jprintf(1, "%c", key);
      jprintf(1, "\n");
    }
    char a[2] = {static_cast<char>(yes ? 'Y' : 'N'), 0};
    logacc(prompt, a);
    if (stopped()) setres(-1, 0);
    return numrec(yes ? 1.0f : 0.0f);
  }

  PtrRec* def = nullptr;
  if (hasdef) {
    int32_t c = 0;
    def = argary(3, &c);
  }
  int key = getkey(0);
  if (key == 129 && !keytext) return def;
  if (key == 130 && !keytext) return nullptr;
  if (key > 0) pushkey(key, keytext);
  int limit = PROMPT - 1;
  if (kind & K_STRING) {
    int l5 = intarg(5, 0);
    if (l5 > 0) limit = l5;
  }
  PtrRec* r = rdary(0, kind, (kind & K_STRING) ? 0 : wsiz, nullptr, -limit, nullptr);
  if (stopped()) {
    setres(-1, 0);
    return r;
  }
  if (!r || r->Length < 1) return def;
  if ((r->Flg & K_STRING) && !(r->Flg & K_LIST))
    wrap(static_cast<char*>(stkptr(static_cast<int32_t>(r->Addr))), r->Length, width);
  char a[PROMPT];
  anstxt(r, a, sizeof a);
  logacc(prompt, a);
  return r;
}
