// Command arguments: finding argument n, reading it as a number, text,
// variable or array, writing results back, the resolver that turns WORD
// entries into pointer records, subscript windows, and the number registers.
#include "core/args.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "compute/expr.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "lang/keywords.h"
#include "lang/names.h"
#include "lang/order.h"
#include "lang/parse.h"

int32_t regadr = -1;  // no registers until the system table is made
int32_t lstsrc = 0;
int32_t (*tokhdr)(int n) = nullptr;
bool margst = false;
bool asnlin = false;
PtrRec* (*holdrec)(int32_t entry) = nullptr;
void (*ptrcur)(int32_t entry) = nullptr;

// ---------------------------------------------------------------------------
// Number registers.

namespace {

// The word of register n, or null when n is no register or the low stack
// does not hold the registers.
uint32_t* regword(int n) {
  if (n < 0 || n > 9 || !lowstk || regadr < 0) return nullptr;
  if (lstk.end > 0 && regadr + n >= lstk.end) return nullptr;
  return lowstk + regadr + n;
}

}  // namespace

int setfres(float value, int n) {
  if (uint32_t* w = regword(n)) std::memcpy(w, &value, 4);
  return 0;
}

int setres(int32_t value, int n) { return setfres(static_cast<float>(value), n); }

float getres(int n) {
  float v = 0.0f;
  if (const uint32_t* w = regword(n)) std::memcpy(&v, w, 4);
  return v;
}

// ---------------------------------------------------------------------------
// Helpers.

namespace {

constexpr int PRWORDS = static_cast<int>(sizeof(PtrRec) / 4);  // 30
constexpr int SHORTREC = 36;     // bytes of a short record {PTR .. Length}
constexpr int INDBASE = 65400;   // indirect words: value = 65400 + relative index
constexpr int NAMEMAX = 256;     // file names
constexpr int K_NUMKIND = 0x7D0; // numeric kinds (Number and the array-like kinds)

// Error arguments of error 71 raised here.
enum : int {
  E71_NOEXPR = 90,   // an expression word is expected
  E71_NOLIST = 96,   // the list token's record has no argument list
  E71_RANGE = 98,    // a word index outside the table
  E71_DONE = 99,     // a resolved word or a number reached the resolver
};

WORD* wrd(int i) { return i >= 0 && i < NWORDS ? &wrdtab[i] : nullptr; }
int wtype(int i) { return i >= 0 && i < NWORDS ? wrdtab[i].type : 0; }

// The record a handle names, null unless the whole record lies in memory.
PtrRec* recof(int32_t h) {
  if (h < 1) return nullptr;
  if (h < HIMEM_BASE) {
    if (!lowstk || static_cast<int64_t>(h) + PRWORDS > lstk.end) return nullptr;
    return reinterpret_cast<PtrRec*>(lowstk + h);
  }
  if (static_cast<int64_t>(h) + PRWORDS > hstk.end) return nullptr;
  return ptrrec(h);
}

int32_t ownof(const PtrRec* r) { return r ? stkadr(r) : 0; }

// Scratch words for the command (they die with it); error 42 when the
// scratch area has no room.
void* scratch(int32_t bytes) {
  void* p = getbuf(bytes);
  if (!p) error(0, 42);
  return p;
}
PtrRec* scratchrec() {
  auto* r = static_cast<PtrRec*>(zeroblk(static_cast<int32_t>(sizeof(PtrRec)) | 1));
  if (!r) error(0, 42);
  return r;
}

// A fresh zero-filled scratch record with its own address set: the short
// head of 9 words (36 bytes) for a number, which the element access never
// reads beyond, else the full 120 bytes.
PtrRec* newrec(int kind, int32_t idx, uint32_t addr, int wsiz, int32_t length) {
  PtrRec* r = (kind & K_NUMBER) ? static_cast<PtrRec*>(zeroblk(SHORTREC | 1)) : scratchrec();
  if (!r && (kind & K_NUMBER)) error(0, 42);
  if (!r) return nullptr;
  r->Flg = static_cast<uint16_t>(kind);
  r->Idx = idx;
  r->Addr = addr;
  r->Wsiz = static_cast<int16_t>(wsiz);
  r->Length = length;
  return r;
}

// Rewrites WORD w as resolved: type = -kind, value = the record's handle.
void setres_word(int w, const PtrRec* r) {
  WORD* W = wrd(w);
  if (!W || !r || r->Flg == 0 || r->Flg >= 0x8000) return;
  W->type = static_cast<int16_t>(-static_cast<int>(r->Flg));
  setwval(*W, ownof(r));
}

// Rewrites WORD w as a float number constant.
void setnumw(int w, float v) {
  WORD* W = wrd(w);
  if (!W) return;
  W->type = WT_NUMBER;
  int32_t bits;
  std::memcpy(&bits, &v, 4);
  std::memcpy(W->b, &bits, 4);
  setwslot(*W, 2, 96);
}

// The value of a number constant's typed field.
float wrdnum(const WORD& W) {
  int32_t bits = wnum(W);
  switch (wnsiz(W)) {
    case 96: {
      float f;
      std::memcpy(&f, &bits, 4);
      return f;
    }
    case 8: return static_cast<float>(bits & 0xFF);
    case 16: return static_cast<float>(static_cast<int16_t>(bits & 0xFFFF));
    default: return static_cast<float>(bits);
  }
}

bool resolved(int w) { return wtype(w) < 0; }
int32_t whandle(int w) { return resolved(w) ? wval(wrdtab[w]) : 0; }

// An indirect name: kind + 4 without bit 0x1000, value 65301..65534.
bool indirect(int w) {
  const WORD* W = wrd(w);
  if (!W || W->type <= 0) return false;
  int t = W->type;
  if (!(t & 4) || (t & 0x1000) || (t & 0x2000)) return false;
  int32_t v = wval(*W);
  return v >= 65301 && v <= 65534;
}
int indtarget(int w) { return w + (wval(wrdtab[w]) - INDBASE); }

// A symbol variable word without a kind of its own (a pointer variable) or
// a vector list: its data word holds a pointer record.
bool recvar(int t) { return t > 0 && (t & 0x1000) && ((t & 0x17F0) == 0x1000 || (t & 0x180) == 0x180); }

// A number word still carrying a "++" or "--" mark.
bool stepword(int w) {
  const WORD* W = wrd(w);
  if (!W) return false;
  int t = W->type;
  if (t <= 0 || t == WT_NUMBER || !(t & 16) || (t & (0x2000 | 1 | 8)) || indirect(w)) return false;
  // A system variable's value cached by tokval shares the slot.
  if (!(t & 0x1000) && W->depth != 0 && wnsiz(*W) == 96) return false;
  int16_t m = wslot(*W, 0);
  return m == '+' || m == '-';
}

// A word whose number tokval can read without evaluation.
bool plainnum(int w) {
  int t = wtype(w);
  if (t == WT_NUMBER || t < 0) return true;
  if (t <= 0 || (t & 0x2000)) return false;
  return (t & 16) && !(t & (1 | 8)) && !(t & 0x7E0) && !indirect(w) && !recvar(t);
}

// Slot i of a word with subscripts or a list: the entry of the item word,
// or a slot code (-99 not given, -100 to the end) in *code. Slots past the
// third of an entry go on in a 0x4001 entry that its fourth slot leads to.
// Returns -1 for no word.
int slotword(int w, int i, int* code) {
  *code = SLOT_NONE;
  int e = w;
  for (int guard = 0; i >= 3 && guard < NWORDS; guard++) {
    const WORD* E = wrd(e);
    if (!E) return -1;
    int16_t s = wslot(*E, 3);
    if (s <= SLOT_NONE) {
      if (i == 3) *code = s;
      return -1;
    }
    int c = e + s;
    if (wtype(c) == WT_SLOTS && c != e) {
      e = c;
      i -= 3;
    } else if (i == 3) {
      return wrd(c) ? c : -1;
    } else {
      return -1;
    }
  }
  const WORD* E = wrd(e);
  if (!E || i < 0) return -1;
  int16_t s = wslot(*E, i);
  if (s <= SLOT_NONE) {
    *code = s;
    return -1;
  }
  int c = e + s;
  return wrd(c) && c != e ? c : -1;
}

// Element k of list word w (type & 0x2001 = 0x2001, element count in the
// second value); -1 when it is missing.
int lstelm(int w, int k) {
  const WORD* W = wrd(w);
  if (!W || k < 0 || k >= W->v2) return -1;
  int code;
  return slotword(w, k, &code);
}

// Reads the text of a record (a string, or a list of strings joined by
// newlines) into text (at most maxlen - 1 characters and a NUL); the
// element count (1 for a plain string) in *elems. Returns the length.
int rdtext(PtrRec* r, char* text, int maxlen, int32_t* elems) {
  int out = 0;
  if (elems) *elems = 0;
  if (maxlen > 0) text[0] = 0;
  int32_t cnt, part, tot, ws;
  int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
  if (!(kind & K_STRING)) return 0;
  int room = maxlen - 1;
  if (kind & K_LIST) {
    int32_t ne = static_cast<int32_t>(r->Offs[3]);
    r->XYZptr[0] = r->Offs[0];
    for (int32_t i = 0; i < ne && !stopped(); i++) {
      int32_t len = 0;
      LDVARB(r, &len, 0);
      if (i > 0 && out < room) text[out++] = '\n';
      const uint8_t* p = len > 0 ? dptr(r) : nullptr;
      for (int32_t j = 0; p && j < len && out < room; j++) text[out++] = static_cast<char>(p[j]);
    }
    if (elems) *elems = ne;
  } else {
    if (elems) *elems = 1;
    int32_t got = 0;
    while (got < cnt && out < room && !stopped()) {
      if (got >= part) {
        LDVARB(r, &part, got);
        if (part <= got) break;
      }
      int32_t run = std::min<int32_t>(part - got, room - out);
      const uint8_t* p = dptr(r);
      if (!p) break;
      std::memcpy(text + out, p, static_cast<size_t>(run));
      r->Dptr += run;
      out += run;
      got += run;
    }
  }
  if (maxlen > 0) text[out] = 0;
  return out;
}

// The first item of record r as a number when it holds fewer than 2 items:
// the kind (after preparation) with *value; -1 when it holds more.
int onevalue(PtrRec* r, float* value) {
  int32_t cnt, part, tot, ws;
  int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
  if (cnt >= 2) return -1;
  if (cnt >= 1) {
    if (part < 1) LDVARB(r, &part, 0);
    if (part >= 1) *value = static_cast<float>(GSTACK(r));
  }
  return kind;
}

// The record of a macro argument reference (type 4, argument max(n, 1)); a
// short saved record is copied into a full scratch record first. Null when
// no macro argument is there.
PtrRec* macarg(const WORD& W) {
  if (!tokhdr) return nullptr;
  int32_t n = std::max<int32_t>(wval(W), 1);
  PtrRec* s = recof(tokhdr(static_cast<int>(std::min<int32_t>(n, 32767))));
  if (!s || s->Flg == 0) return nullptr;
  if (s->Flg & 0x7E9) return s;
  PtrRec* r = newrec(0, 0, 0, 0, 0);
  if (!r) return nullptr;
  int32_t self = r->PTR;
  std::memcpy(r, s, SHORTREC);
  r->PTR = static_cast<uint32_t>(self);
  r->Stack = 0;
  return r;
}

// An expression record (kind 1 to 15) is evaluated once: its block goes to
// doexpr; the result's record, or null.
PtrRec* evlarg(PtrRec* r, int w) {
  int32_t res = doexpr(ownof(r));
  PtrRec* q = recof(res);
  if (!q || (state & ST_ERROR)) return nullptr;
  setres_word(w, q);
  return q;
}

// The number of a keyword word: with bit 8 clear the first value, with it
// the second.
int32_t kwnum(const WORD& W) { return (W.type & 8) ? W.v2 : W.v1; }
// The entry of a keyword word's text, -1 when it has none.
int kwtext(int w) {
  const WORD& W = wrdtab[w];
  if ((W.type & 0x2001) == 0x2001 && !(W.type & 8)) return -1;  // the second value counts items
  int rel = (W.type & 8) ? W.v1 : W.v2;
  if (rel == 0) return -1;
  int t = wtype(w + rel);
  return t == WT_TEXT || t == WT_QUOTED ? w + rel : -1;
}

}  // namespace

// The symbol entry a variable word names (a negative value is a reference
// that the symbol table resolved), 0 when it names none.
int32_t wrdsym(const WORD& W) {
  int32_t e = wval(W);
  if (e < 0) e = -e;
  return symptr(e) ? e : 0;
}

// ---------------------------------------------------------------------------
// Finding argument n.

namespace {

// Handle k (0-based) of a record's command-argument list {own address,
// handle, ...}; 0 when k is not below its count or the handle is below 1.
int32_t lsthdl(const PtrRec* r, int32_t k) {
  if (k < 0 || k >= r->Wsiz || r->Args < 1) return 0;
  int64_t end = r->Args < HIMEM_BASE ? lstk.end : hstk.end;
  if (static_cast<int64_t>(r->Args) + 1 + k >= end) return 0;
  const uint32_t* list = stkwp(r->Args);
  if (!list) return 0;
  auto h = static_cast<int32_t>(list[1 + k]);
  return h >= 1 ? h : 0;
}

}  // namespace

int argidx(int n, int32_t* handle) {
  *handle = 0;
  if (lstsrc) {
    PtrRec* s = recof(lstsrc);
    if (s && (s->Flg & K_ARGS)) {
      *handle = n == 1 ? lstsrc : lsthdl(s, n - 2);
      return -1;
    }
    lstsrc = 0;
  }
  if (lsttok >= 0 && n >= 2) {
    const WORD* T = wrd(lsttok);
    if (!T || T->type == 0) return -1;
    if (T->type < 0) {
      PtrRec* r = recof(wval(*T));
      if (!r || !(r->Flg & K_ARGS) || r->Args < 1) {
        error(E71_NOLIST, 71);
        return -1;
      }
      *handle = lsthdl(r, n - 2);
      return -1;
    }
    if ((T->type & 0x2001) == 0x2001) return lstelm(lsttok, n - 2);
    lsttok = -1;  // the command word itself, or no list word
  }
  int na = std::clamp<int>(nargw, 0, MAXARG);
  if (n < 1 || n > na) return -1;
  int w = argmap[n - 1];
  return wrd(w) ? w : -1;
}

int fndarg(int n, int32_t* handle, int* word) {
  *word = argidx(n, handle);
  if (*handle >= 1) {
    PtrRec* r = recof(*handle);
    if (!r) {
      *handle = 0;
      return 0;
    }
    return r->Flg;
  }
  *handle = 0;
  int w = *word;
  const WORD* W = wrd(w);
  if (!W) return 0;
  int t = W->type;
  if (t < 0) {
    PtrRec* r = recof(wval(*W));
    if (!r) return 0;
    *handle = ownof(r);
    return -t;
  }
  if (t == WT_MACARG) {
    PtrRec* r = macarg(*W);
    if (!r) return 0;
    *handle = ownof(r);
    return r->Flg;
  }
  if (recvar(t)) {
    int32_t h = resarg(w, 0);
    PtrRec* r = recof(h);
    if (!r) return 0;
    *handle = h;
    return r->Flg;
  }
  return t;
}

int nargs() {
  if (lstsrc) {
    PtrRec* s = recof(lstsrc);
    if (s && (s->Flg & K_ARGS)) return s->Args > 0 ? std::max<int>(s->Wsiz, 0) + 1 : 1;
    lstsrc = 0;
  }
  if (lsttok >= 0) {
    const WORD* T = wrd(lsttok);
    if (T && (T->type & 0x2001) == 0x2001 && T->type > 0) return std::max<int>(T->v2, 0) + 1;
    if (T && T->type < 0) {
      PtrRec* r = recof(wval(*T));
      if (r && (r->Flg & K_ARGS) && r->Args > 0) return std::max<int>(r->Wsiz, 0) + 1;
    }
    lsttok = -1;
  }
  return std::clamp<int>(nargw, 0, MAXARG);
}

int argset(int n, int32_t handle) {
  if (n < 0) {
    // An item without an argument list (a bare word) is a source with no
    // operands: its operands are never the command line's.
    PtrRec* r = recof(handle);
    if (r && (r->Flg & K_ARGS)) {
      lstsrc = handle;
      return 0;
    }
  }
  lstsrc = 0;
  int na = std::clamp<int>(nargw, 0, MAXARG);
  lsttok = (n >= 1 && n <= na && wrd(argmap[n - 1])) ? argmap[n - 1] : -1;
  return 0;
}

// ---------------------------------------------------------------------------
// Reading arguments.

int argword(int n, char* buf, int max) {
  if (!buf || max < 1) return -1;
  buf[0] = 0;
  int32_t h = 0;
  const int w = argidx(n, &h);
  const WORD* W = wrd(w);
  if (!W) return -1;
  const int t = W->type;
  if (t == WT_TEXT) return tokstr(w, buf, max);
  if (t == WT_CMD && W->v2 > 0) return tokstr(w + W->v2, buf, max);
  return -1;
}

int tokstr(int w, char* text, int maxlen) {
  if (maxlen < 1 || !text) return 0;
  int out = 0;
  const WORD* W = wrd(w);
  if (!W || (W->type != WT_TEXT && W->type != WT_QUOTED)) {
    text[0] = 0;
    return 0;
  }
  int left = std::max<int>(W->v1, 0);
  int e = w;
  for (int guard = 0; guard < NWORDS && left > 0 && out < maxlen - 1; guard++) {
    const WORD& E = wrdtab[e];
    int m = std::min({left, 8, maxlen - 1 - out});
    std::memcpy(text + out, E.b, static_cast<size_t>(m));
    out += m;
    left -= std::min(left, 8);
    if (left <= 0 || E.v2 == 0) break;
    int nx = e + E.v2;
    if (!wrd(nx) || !(wrdtab[nx].type & WT_CONT)) break;
    e = nx;
  }
  text[out] = 0;
  // A NUL inside the text ends it.
  return static_cast<int>(std::strlen(text));
}

int tokval(int w, float* value) {
  WORD* W = wrd(w);
  if (!W) return 0;
  int t = W->type;
  if (t == 0) return 0;
  if (t < 0 || t == WT_MACARG || ((t & 0x1000) && !(t & 0x2000) && ((t & 1) || recvar(t)))) {
    PtrRec* r = t < 0 ? recof(wval(*W)) : t == WT_MACARG ? macarg(*W) : recof(resarg(w, 0));
    if (!r) return -1;
    if (r->Flg > 0 && r->Flg < 16) {
      r = evlarg(r, t == WT_MACARG ? w : -1);
      if (!r) return -1;
    }
    // Only numbers are read here; text goes through the record.
    if (!(r->Flg & K_NUMKIND)) return -1;
    float v = 0.0f;
    int k = onevalue(r, &v);
    if (k >= 0) *value = v;
    return k;
  }
  if (!(t & 16) || (t & 0x2000)) return -1;
  if (t == WT_NUMBER) {
    *value = wrdnum(*W);
    return t;
  }
  if ((t & 1) || (t & 8) || indirect(w)) return -1;

  const bool alone = nwords == 1;
  int16_t mark = wslot(*W, 0);
  float v = 0.0f;
  int32_t sym = 0, data = 0;
  int k = -1;
  if (t & 0x1000) {
    sym = wrdsym(*W);
    if (!sym) return -1;
    const SymEnt* s = symptr(sym);
    data = s->data;
    void* p = data ? stkptr(data) : nullptr;
    if (p) v = static_cast<float>(getelm(p, s->type));
  } else {
    k = W->v1;
    if (alone && W->depth != 0 && wnsiz(*W) == 96) {
      // A system variable's value cached by an earlier read of this line.
      int32_t bits = wnum(*W);
      std::memcpy(&v, &bits, 4);
      *value = v;
      return t;
    }
    if (k >= 0 && k <= 9 && !(t & 4)) {
      v = getres(k);
    } else {
      v = getprm(k);
    }
  }
  *value = v;

  // A trailing "++" or "--" steps the variable after the read.
  if (mark != 0) {
    float nv = mark == '+' ? v + 1.0f : v - 1.0f;
    if (t & 0x1000) {
      const SymEnt* s = symptr(sym);
      void* p = data ? stkptr(data) : nullptr;
      if (p && s) putelm(nv, p, s->type);
    } else if (k >= 0 && k <= 9 && !(t & 4)) {
      setfres(nv, k);
    } else {
      putprm(nv, k);
    }
    setwslot(*W, 0, 0);
  }

  if (!alone) {
    setnumw(w, v);
  } else if (!(t & 0x1000) && !(k >= 0 && k <= 9 && !(t & 4))) {
    // Cache a system variable's value in the word.
    int32_t bits;
    std::memcpy(&bits, &v, 4);
    std::memcpy(W->b, &bits, 4);
    setwslot(*W, 2, 96);
    W->depth = 1;
  }
  return t;
}

namespace {

// Argument n resolved as getarg takes it: a plain value, keyword or text
// is answered here (*rec null); otherwise *rec is its record, with any
// expression run. The kind, 0 when missing.
int argres(int n, float* value, char* text, int maxlen, int* length, PtrRec** rec) {
  *rec = nullptr;
  int32_t h = 0;
  int w = -1;
  int type = fndarg(n, &h, &w);
  if (type == 0) return 0;
  PtrRec* r = nullptr;
  if (h < 1) {
    const WORD& W = wrdtab[w];
    float v = 0.0f;
    int t = tokval(w, &v);
    if (t == 0) return 0;
    if (t > 0) {
      *value = v;
      return t;
    }
    int wt = W.type;
    if (wt > 0 && (wt & 0x2000)) {
      *value = static_cast<float>(kwnum(W));
      int e = kwtext(w);
      if (maxlen >= 1 && e >= 0) {
        int l = tokstr(e, text, maxlen);
        if (length) *length = l;
      }
      return wt;
    }
    if (wt == WT_TEXT || wt == WT_QUOTED) {
      if (maxlen >= 1) {
        int l = tokstr(w, text, maxlen);
        if (length) *length = l;
      }
      return wt;
    }
    h = resarg(w, 0);
    r = recof(h);
    if (!r) return 0;
  } else {
    r = recof(h);
    if (!r) return 0;
  }

  if (r->Flg > 0 && r->Flg < 16) {
    r = evlarg(r, w);
    if (!r) return 0;
  }
  *rec = r;
  return r->Flg;
}

}  // namespace

int getarg(int n, float* value, char* text, int maxlen, int* length) {
  float dummy = 0.0f;
  if (!value) value = &dummy;
  *value = 0.0f;
  if (maxlen > 0 && length) *length = 0;
  if (maxlen > 0 && text) text[0] = 0;
  if (!text) maxlen = 0;

  PtrRec* r = nullptr;
  int type = argres(n, value, text, maxlen, length, &r);
  if (!r) return type;
  int kind = r->Flg;
  if (kind == K_CONST) {
    float f;
    if (r->Wsiz == 96) {
      std::memcpy(&f, &r->Addr, 4);
    } else {
      f = static_cast<float>(static_cast<int32_t>(r->Addr));
    }
    *value = f;
    return kind;
  }
  *value = static_cast<float>(r->Idx);
  if ((kind & K_STRING) && maxlen >= 2) {
    int32_t elems = 0;
    int l = rdtext(r, text, maxlen, &elems);
    if (length) *length = l;
    *value = static_cast<float>(elems);
  } else if ((kind & K_NUMKIND) && !(kind & K_LIST)) {
    *value = static_cast<float>(getnum(r, 0.0));
  } else if ((kind & 0x2009) == 0x2009) {
    *value = static_cast<float>(r->Wsiz);
    if (const FilRec* f = filrec(r); f && maxlen >= 1) {
      int l = static_cast<int>(strnlen(f->Nam, sizeof f->Nam));
      l = std::min(l, maxlen - 1);
      std::memcpy(text, f->Nam, static_cast<size_t>(l));
      text[l] = 0;
      if (length) *length = l;
    }
  }
  return kind;
}

int runarg(int n) {
  float v = 0.0f;
  PtrRec* r = nullptr;
  return argres(n, &v, nullptr, 0, nullptr, &r);
}

bool argstr(int n, std::string* out, int max) {
  std::string buf(static_cast<size_t>(std::max(max, 0)) + 1, '\0');
  float v = 0.0f;
  int len = 0;
  int t = getarg(n, &v, buf.data(), max + 1, &len);
  if (!(t & K_STRING) || (t & K_LIST)) return false;
  out->assign(buf.data(), static_cast<size_t>(std::clamp(len, 0, max)));
  return true;
}

int intarg(int n, int dflt) {
  float v;
  int t = getarg(n, &v, nullptr, 0, nullptr);
  return (t & K_NUMKIND) ? toi16(v) : dflt;
}

int32_t lngarg(int n, int32_t dflt) {
  float v;
  int t = getarg(n, &v, nullptr, 0, nullptr);
  return (t & K_NUMKIND) ? toi32(v) : dflt;
}

float fltarg(int n, float dflt) {
  float v;
  int t = getarg(n, &v, nullptr, 0, nullptr);
  return (t & K_NUMKIND) ? v : dflt;
}

int argtyp(int n, int32_t* handle) {
  int32_t h = 0;
  int w = -1;
  int t = fndarg(n, &h, &w);
  if (h < 1 && t > 0 && w >= 0) {
    // Words that stand for a variable are resolved into their record.
    bool var = t == WT_GROUP || t == WT_MACARG || (t & 0x1000) || ((t & 0x2001) == 0x2001) ||
               (!(t & 0x2000) && t != WT_NUMBER && t != WT_TEXT && t != WT_QUOTED &&
                (t & (0x7F0 | 8 | 4)));
    if (var) {
      h = resarg(w, 0);
      PtrRec* r = recof(h);
      t = r ? r->Flg : 0;
      if (!r) h = 0;
    }
  }
  if (PtrRec* r = recof(h); r && r->Flg > 0 && r->Flg < 16) {
    r = evlarg(r, w);
    h = ownof(r);
    t = r ? r->Flg : 0;
  }
  if (handle) *handle = h;
  return t;
}

PtrRec* argary(int n, int32_t* count) {
  if (count) *count = 0;
  int32_t h = 0;
  int t = argtyp(n, &h);
  PtrRec* r = recof(h);
  if (!r || !(t & 0x7F0)) return nullptr;
  int32_t cnt, part, tot, ws;
  int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
  if (kind & 0x7E9) savoff(r);
  if (count) *count = cnt;
  return r;
}

int32_t argnum(int n) {
  int32_t h = 0;
  int w = -1;
  int t = fndarg(n, &h, &w);
  if (PtrRec* r = recof(h)) {
    if (r->Flg & K_ARGS) return r->Idx;
    if (r->Flg == SVFLAGS && r->Idx > SVBASE) return (r->Idx & 0xFFFF) + 1000;
    return -1;
  }
  const WORD* W = wrd(w);
  if (!W || t <= 0) return -1;
  if (t & 0x2000) return kwnum(*W);
  if (t == SVFLAGS && !indirect(w)) return W->v1 + 1000;
  return -1;
}

int argcnt(int n) {
  int32_t h = 0;
  int w = -1;
  int t = fndarg(n, &h, &w);
  if (PtrRec* r = recof(h)) return (r->Flg & 0x2001) == 0x2001 ? r->Wsiz : 0;
  const WORD* W = wrd(w);
  if (W && t > 0 && (t & 0x2001) == 0x2001) return W->v2;
  return 0;
}

int argknd(int n, int mode) {
  int32_t h = 0;
  int w = -1;
  int t = fndarg(n, &h, &w);
  int32_t code = -1;
  if (PtrRec* r = recof(h)) {
    if (r->Flg & K_ARGS) code = r->Idx;
  } else if (const WORD* W = wrd(w); W && t > 0 && (t & 0x2000)) {
    code = kwnum(*W);
  }
  if (code < 0) return 0;
  if (mode == 63) {
    switch (code) {
      case 47: return 8;    // byte
      case 48: return 96;   // real
      case 49: return 32;   // long
      case 235: return 16;  // integer
      default: return 0;
    }
  }
  if (code >= 36 && code <= 42) return 16 << (code - 36);  // number .. solid
  return 0;
}

// ---------------------------------------------------------------------------
// Arrays and results.

namespace {
void* arycopy(int n, int32_t want, int32_t max, int code, int32_t* count, int32_t* dims,
              std::vector<uint8_t>* heap) {
  if (count) *count = 0;
  int32_t h = 0;
  int t = argtyp(n, &h);
  PtrRec* r = recof(h);
  if (!r || !(t & K_DATA)) {
    error(n, 35);
    return nullptr;
  }
  savoff(r);
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  int32_t wanted = want < 1 ? cnt : want;
  if (cnt < wanted || cnt < 0) {
    error(n, 82);
    return nullptr;
  }
  int32_t c = wanted;
  if (max > 0 && c > max) c = max;
  int ibytes = (code & 63) / 8;
  if (ibytes < 1) {
    error(n, 35);
    return nullptr;
  }
  void* out = nullptr;
  if (r->Wsiz == code && part >= c && c > 0) {
    out = dptr(r);
  } else {
    const int64_t bytes = int64_t{std::max<int32_t>(c, 1)} * ibytes;
    uint8_t* buf = nullptr;
    if (heap) {
      heap->assign(static_cast<size_t>(bytes), 0);
      buf = heap->data();
    } else {
      buf = bytes <= INT32_MAX ? static_cast<uint8_t*>(scratch(static_cast<int32_t>(bytes))) : nullptr;
      if (!buf && bytes > INT32_MAX) error(0, 42);
    }
    if (!buf) return nullptr;
    const bool nc = noclmp();
    uint8_t bitp = 0;
    for (int32_t i = 0; i < c && !stopped(); i++) {
      if (i >= part) {
        LDVARB(r, &part, i);
        if (part <= i) break;
      }
      stitm(GSTACK(r), buf + static_cast<int64_t>(i) * ibytes, code, &bitp, nc);
    }
    out = buf;
  }
  if (count) *count = c;
  if (dims) {
    int32_t rest = c;
    int nd = std::clamp<int>(r->Ndims, 1, 3);
    for (int d = 0; d < 3; d++) {
      int32_t e = static_cast<int32_t>(std::min<uint32_t>(r->Offs[3 + d], INT32_MAX));
      if (d >= nd) {
        dims[d] = 1;
        continue;
      }
      if (e < 1) e = rest;
      dims[d] = std::min(e, rest);
      rest = dims[d] > 0 ? rest / dims[d] : 0;
    }
  }
  return out;
}
}  // namespace

void* aryarg(int n, int32_t want, int32_t max, int code, int32_t* count, int32_t* dims) {
  return arycopy(n, want, max, code, count, dims, nullptr);
}

void* aryheap(int n, int32_t want, int32_t max, int code, int32_t* count, std::vector<uint8_t>* heap) {
  return arycopy(n, want, max, code, count, nullptr, heap);
}

int putvrb(const void* buffer, int code, int32_t handle, int32_t count) {
  PtrRec* r = recof(handle);
  if (!r || count == 0) return 0;
  int64_t nn = count > 0 ? count : -static_cast<int64_t>(count);
  auto n = static_cast<int32_t>(std::min<int64_t>(nn, INT32_MAX));
  if (asnvrb(r, n, nullptr, count > 0 ? 2 : 1) < 0) return -1;
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 115);
  if (!(r->Flg & K_LIST)) {
    if (cnt < 1) return 0;
    n = std::min(n, cnt);
  }
  const auto* src = static_cast<const uint8_t*>(buffer);
  int ibytes = (code & 63) / 8;
  if (ibytes < 1 || !src) return 0;
  uint8_t bitp = 0;
  for (int32_t i = 0; i < n && !stopped();) {
    if (i >= part) {
      DMPVRB(r, &part, 1, i);
      if (part <= i) break;
    }
    if (r->Wsiz == code && !(r->Flg & K_NUMBER)) {
      // Same item size: the run that the part holds is copied at once.
      int32_t run = std::min(part, n) - i;
      if (uint8_t* p = dptr(r)) std::memcpy(p, src + static_cast<int64_t>(i) * ibytes, static_cast<size_t>(run) * ibytes);
      r->Dptr += run * ibytes;
      i += run;
    } else {
      int step = 0;
      double v = lditm(src + static_cast<int64_t>(i) * ibytes, code, &bitp, &step);
      PSTACK(v, r);
      i++;
    }
  }
  DMPVRB(r, &part, 0, 0);
  return 0;
}

int putarg(int n, const void* buffer, int32_t count, int code) {
  int32_t h = 0;
  int t = argtyp(n, &h);
  if (!recof(h) || !(t & K_DATA)) return -1;
  return putvrb(buffer, code, h, count);
}

int setnum(int n, double value) {
  int32_t h = 0;
  int t = argtyp(n, &h);
  PtrRec* r = recof(h);
  if (!r || (t & (K_VALUE | K_FILE))) return 0;
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 115);
  if (cnt < 1 || part < 1) return 0;
  PSTACK(value, r);
  DMPVRB(r, &part, 0, 0);
  return 0;
}

int dfname(int n, char* buffer, int flags) {
  if (!buffer) return 0;
  buffer[0] = 0;
  const char* dir = strvar("datadir");
  int l = dir ? static_cast<int>(strnlen(dir, NAMEMAX - 1)) : 0;
  if (l < 1) return 0;
  std::memcpy(buffer, dir, static_cast<size_t>(l));
  const char* ext = (flags & 0x200) ? ".img" : (flags & 0x100) ? ".vec" : ".dat";
  int m;
  if (n < 0)
    m = std::snprintf(buffer + l, static_cast<size_t>(DFNMAX - l), "*%s", ext);
  else
    m = std::snprintf(buffer + l, static_cast<size_t>(DFNMAX - l), "%d%s", n, ext);
  return l + std::max(m, 0);
}

// ---------------------------------------------------------------------------
// Subscripts.

namespace {

// Sizes of a record's data per dimension, 0 where unknown.
void varsize(const PtrRec* r, int32_t size[3]) {
  size[0] = size[1] = size[2] = 0;
  int kind = r->Flg;
  // A named variable of vectors is sized by its entry: the record it keeps
  // holds the declared count of records until it is prepared.
  const bool vecs = (kind & K_VECTOR) && (kind & K_NAMED) && r->Idx >= 1;
  if (r->Datdims[0] > 0 && !vecs) {
    for (int d = 0; d < 3; d++) size[d] = static_cast<int32_t>(std::min<uint32_t>(r->Datdims[d], INT32_MAX));
    return;
  }
  if (!(kind & K_NAMED) || r->Idx < 1) return;
  const SymEnt* s = symptr(r->Idx);
  if (!s) return;
  int32_t tot = static_cast<int32_t>(std::min<uint32_t>(s->value, INT32_MAX));
  if (kind & K_VECTOR) {
    size[0] = 8;
    size[1] = (kind & K_MATRIX) ? tot : 1;
    size[2] = 1;
  } else if ((kind & K_LIST) && (kind & K_STRING)) {
    // A string list: elements along x, the characters of an element along
    // y (an element holds at most 255).
    size[0] = tot;
    size[1] = 255;
    size[2] = 1;
  } else if ((kind & K_HDR) && !(kind & K_LIST) && s->data > 0) {
    const uint32_t* h = stkwp(s->data);
    if (h && static_cast<int64_t>(s->data) + 3 <= (s->data < HIMEM_BASE ? lstk.end : hstk.end))
      for (int d = 0; d < 3; d++) size[d] = static_cast<int32_t>(std::min<uint32_t>(h[d], INT32_MAX));
  } else {
    size[0] = tot;
    size[1] = size[2] = 1;
  }
}

// The value of a subscript word as an index; false when it has none.
bool subval(int w, int32_t* v) {
  float f = 0.0f;
  int t = tokval(w, &f);
  if (t < 0) return false;
  *v = toi32(f);
  return true;
}

}  // namespace

int subwin(PtrRec* r, int w) {
  const WORD* W = wrd(w);
  if (!r || !W) return 0;
  int kind = r->Flg;
  int pairs = (kind & 0xE80) ? 2 : 1;
  // A file's data has all three dimensions (1 where it has none), so its
  // further subscripts are checked against them as well.
  if (kind & (K_SOLID | K_FILE)) pairs = 3;
  int32_t size[3];
  varsize(r, size);
  bool prepared = r->Bufsiz != 0;
  for (int d = 0; d < pairs; d++) {
    int c0, c1;
    int s0 = slotword(w, 2 * d, &c0);
    int s1 = slotword(w, 2 * d + 1, &c1);
    if (s0 < 0 && s1 < 0) continue;  // not given, or all of it
    int32_t start = 0, end = 0;
    if (s0 >= 0 && !subval(s0, &start)) {
      if (!(state & ST_ERROR)) error(0, 56);
      return -1;
    }
    bool toend = false;
    if (s1 >= 0) {
      if (!subval(s1, &end)) {
        if (!(state & ST_ERROR)) error(0, 56);
        return -1;
      }
    } else if (c1 == SLOT_NONE) {
      end = start;  // the start alone
    } else {
      toend = true;  // up to the end of the window
    }
    int32_t ext = static_cast<int32_t>(std::min<uint32_t>(r->Offs[3 + d], INT32_MAX));
    int32_t room = ext > 0 ? ext : size[d];
    // The window stays inside the variable: negative, reversed and
    // out-of-range subscripts are refused.
    if (start < 0 || (!toend && end < start) || (room > 0 && start >= room)) {
      if (!(state & ST_ERROR)) error(0, 196);
      return -1;
    }
    int64_t count = toend ? -1 : static_cast<int64_t>(end) - start + 1;
    int64_t left = room > 0 ? room - start : -1;
    int64_t next;
    if (left < 0)
      next = count < 0 ? 0 : count;
    else
      next = (count >= 0 && count <= left) ? count : left;
    r->Offs[d] += static_cast<uint32_t>(start);
    r->Offs[3 + d] = static_cast<uint32_t>(next);
  }
  // Buffers are taken afresh; an unprepared record is prepared in full later.
  if (prepared) r->Bufsiz = -1;
  for (int d = 0; d < 3; d++) r->XYZptr[d] = r->Offs[d];
  return 0;
}

PtrRec* mktmp(const PtrRec* src, int w) {
  if (!src) return nullptr;
  PtrRec* r = scratchrec();
  if (!r) return nullptr;
  int32_t self = r->PTR;
  std::memcpy(r, src, sizeof(PtrRec));
  r->PTR = static_cast<uint32_t>(self);
  r->Stack = 0;
  if (r->Bufsiz != 0) r->Bufsiz = -1;
  for (int d = 0; d < 3; d++) r->XYZptr[d] = r->Offs[d];
  if (w >= 0 && (wtype(w) & 1) && subwin(r, w) < 0) return nullptr;
  return r;
}

// ---------------------------------------------------------------------------
// The resolver.

namespace {

// The record of a symbol variable word: Idx the entry, Addr its data, Wsiz
// its word size, Flg2 its flags masked with 0xC00F. A variable that keeps a
// pointer record (no kind of its own, or a vector list) gives a copy of it.
PtrRec* symrec(int w) {
  const WORD& W = wrdtab[w];
  int t = W.type;
  int32_t e = wrdsym(W);
  const SymEnt* s = e ? symptr(e) : nullptr;
  if (!s || s->flags == 0) {
    error(E71_DONE, 71);
    return nullptr;
  }
  if (recvar(t)) {
    if (ptrcur) ptrcur(e);
    PtrRec* p = recof(s->data);
    // A placeholder whose record is made on first use (the vector list).
    if (!p && holdrec) p = holdrec(e);
    // A pointer whose variable is gone cannot be read; stored through (the
    // destination of the line), its empty window refuses the items.
    if (p && p->Flg == 0 && p->Store == ST_GONE && !(w == 0 && asnlin)) p = nullptr;
    if (!p) {
      // The name holds nothing: a system name its layer has not filled, or
      // a released pointer. Told once however often the command reads it.
      if (!(state & ST_ERROR)) error(0, 103);
      return nullptr;
    }
    return mktmp(p, w);
  }
  int kind = (t & 0x1FF0) | (t & 4);
  // A list seen through a subscript keeps kind flag 1: a store into it
  // replaces the selected elements, not the whole list.
  if ((t & K_LIST) && (t & 1)) kind |= 1;
  PtrRec* r = newrec(kind, e, static_cast<uint32_t>(s->data), s->type, 0);
  if (!r) return nullptr;
  r->Flg2 = static_cast<uint16_t>(s->flags & 0xC00F);
  if (kind & K_NUMBER) r->Length = 1;
  if ((kind & K_VECTOR) && !(kind & K_MATRIX)) r->Length = 1;
  return r;
}

// A string record over a scratch copy of text word w's text.
PtrRec* strrec(int w) {
  char buf[NWORDS * 8 + 1];
  int l = tokstr(w, buf, sizeof buf);
  auto* blk = static_cast<char*>(scratch(l + 1));
  if (!blk) return nullptr;
  std::memcpy(blk, buf, static_cast<size_t>(l) + 1);
  PtrRec* r = newrec(K_STRING, -1, static_cast<uint32_t>(stkadr(blk)), 8, l);
  return r;
}

// An indirect name whose group is a string variable word: the string names
// the variable (its kind must share a bit of 0x17F0 with the word's), and
// the word becomes that variable. Returns 1 rewritten, 0 not such a word,
// -1 error 183.
int indname(int w) {
  int g = indtarget(w);
  const WORD* G = wrd(g);
  if (!G || G->type <= 0 || (G->type & 0x17F0) != 0x1020 || (G->type & 1)) return 0;
  int32_t e = wrdsym(*G);
  const SymEnt* s = e ? symptr(e) : nullptr;
  char name[17] = {0};
  if (s && s->data > 0) GETCHV(e, name, sizeof name, 1);
  int l = static_cast<int>(std::strlen(name));
  while (l > 0 && static_cast<unsigned char>(name[l - 1]) <= 32) l--;
  uint16_t kind = 0;
  int32_t v = l > 0 ? namvar(name, l, &kind) : -1;
  WORD& W = wrdtab[w];
  if (v < 0 || !(kind & W.type & 0x17F0)) {
    error(0, 183);
    return -1;
  }
  W.type = static_cast<int16_t>(kind);
  setwval(W, v);
  setwslot(W, 0, 0);
  return 1;
}

// An indirect name whose group is a string variable word becomes the
// variable it names: 1 rewritten, 0 no such word, -1 error 183.
int prepind(int w) { return indirect(w) ? indname(w) : 0; }

// Whether word w must be resolved through the work table before its owner
// can be built (an indirect name of a string variable is rewritten first).
bool pending(int w) {
  int t = wtype(w);
  if (t <= 0 || t == WT_NUMBER) return false;
  if (prepind(w) < 0) return true;
  return !simple(w);
}

// Finishes entry e with record r: a single value is turned into a number
// constant (error 56 when the variable holds more than one item); the WORD
// (or, with 0x200, the low-stack word the entry names) receives the result.
int finish(EvlEnt* tab, int* n, PtrRec* r) {
  EvlEnt& e = tab[*n - 1];
  if (!r) return -1;
  int f = e.flags & 0x1FF;
  f &= ~0x100;
  if (f != 0 && f != 8 && (r->Flg & K_NUMKIND)) {
    int32_t cnt, part, tot, ws;
    int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
    if ((kind & 0x7C0) && cnt != 1) {
      error(0, 56);
      return -1;
    }
    float v = 0.0f;
    if (cnt >= 1) {
      if (part < 1) LDVARB(r, &part, 0);
      v = static_cast<float>(GSTACK(r));
    }
    if (stopped()) return -1;
    PtrRec* c = newrec(K_CONST, -1, 0, 96, 1);
    if (!c) return -1;
    std::memcpy(&c->Addr, &v, 4);
    if (!(e.flags & 0x200)) setnumw(e.word, v);
    r = c;
  } else if (!(e.flags & 0x200)) {
    setres_word(e.word, r);
  }
  if (e.flags & 0x200) {
    if (uint32_t* p = stkwp(e.handle)) *p = static_cast<uint32_t>(ownof(r));
  }
  e.handle = ownof(r);
  (*n)--;
  return 1;
}

}  // namespace

int pshtok(EvlEnt* tab, int* n, int word, int flags) {
  if (*n >= EVLMAX) {
    error(0, 76);
    return -1;
  }
  tab[*n] = {word, flags, 0};
  (*n)++;
  return 0;
}

int pshsub(EvlEnt* tab, int* n, int w) {
  int pushed = 0;
  for (int i = 0; i < 6; i++) {
    int code;
    int s = slotword(w, i, &code);
    if (s < 0 || plainnum(s)) continue;
    if (pshtok(tab, n, s, i + 1) < 0) return -1;
    pushed++;
  }
  return pushed;
}

bool simple(int w) {
  const WORD* W = wrd(w);
  if (!W) return false;
  int t = W->type;
  if (t <= 0) return false;
  if (t == WT_NUMBER || t == WT_MACARG || t == WT_TEXT || t == WT_QUOTED) return true;
  if (t & 0x2000) return (t & 0x2001) != 0x2001;
  if ((t & 8) || indirect(w)) return false;
  if (recvar(t)) {
    if (!(t & 1)) return true;
    for (int i = 0; i < 6; i++) {
      int code;
      int s = slotword(w, i, &code);
      if (s >= 0 && !plainnum(s)) return false;
    }
    return true;
  }
  return (t & 16) && !(t & 1);
}

int32_t tokvar(int w, int flags) {
  WORD* W = wrd(w);
  if (!W) {
    error(E71_RANGE, 71);
    return 0;
  }
  int t = W->type;
  if (t < 0) return wval(*W);
  PtrRec* r = nullptr;
  if (stepword(w)) {
    // A "++" or "--" word is read once and stepped once: tokval reads and
    // stores back, and the record holds the value read.
    float v = 0.0f;
    if (tokval(w, &v) <= 0) return 0;
    r = newrec(K_CONST, -1, 0, 96, 1);
    if (r) std::memcpy(&r->Addr, &v, 4);
  } else if (t == WT_NUMBER) {
    r = newrec(K_CONST, -1, static_cast<uint32_t>(wnum(*W)), wnsiz(*W) ? wnsiz(*W) : 32, 1);
  } else if (t == WT_MACARG) {
    r = macarg(*W);
    if (r && r->Flg > 0 && r->Flg < 16) r = evlarg(r, -1);
    // An argument the macro was not given is a missing operand; one that
    // must name a file must be a string.
    if (!r) {
      // A store through an argument that is not there reaches nothing.
      if (!(state & ST_ERROR)) error(w == 0 && margst ? 1 : 0, w == 0 && margst ? 58 : 47);
      return 0;
    }
    if ((flags & 0xFF) == 8 && !(r->Flg & K_STRING)) {
      error(0, 65);
      return 0;
    }
  } else if (t == WT_TEXT || t == WT_QUOTED) {
    r = strrec(w);
  } else if (t & 0x2000) {
    // A keyword, an operator or a function word used as an operator: an item
    // whose code is Idx and whose operand count is its word size.
    r = newrec(t, kwnum(*W), 0, (t & 8) ? 0 : W->v2, 0);
  } else if (indirect(w)) {
    int k = prepind(w);
    if (k < 0) return 0;
    if (k == 0 || !simple(w)) {
      error(E71_DONE, 71);
      return 0;
    }
    return tokvar(w, flags);
  } else if (t & 0x1000) {
    r = symrec(w);
  } else if (t & 16) {
    int k = W->v1;
    if (k >= 0 && k <= 9 && !(t & 4)) {
      r = newrec(K_NUMBER, k, static_cast<uint32_t>(regadr + k), 96, 1);
    } else {
      r = newrec(t | 4, k & 0xFFFF, 0, 96, 1);
    }
  }
  if (!r) return 0;
  return ownof(r);
}

int evllst(EvlEnt* tab, int* n) {
  EvlEnt& e = tab[*n - 1];
  int g = e.word;
  if (wtype(g) != WT_GROUP || !grpord(g)) {
    error(E71_NOEXPR, 71);
    return -1;
  }
  const WORD& G = wrdtab[g];
  int items = G.b[0];
  int lo = g + G.v1, hi = lo + G.b[1];
  int heads[NWORDS];
  if (items < 1 || items > NWORDS) {
    error(E71_NOEXPR, 71);
    return -1;
  }
  for (int i = 0; i < items; i++) {
    int h = grpitem(g, i);
    if (h < lo || h >= hi || !wrd(h)) {
      error(E71_NOEXPR, 71);
      return -1;
    }
    heads[i] = h;
  }
  // Nested groups and words that need the work table go first.
  if (!(e.flags & 0x100)) {
    int pushed = 0;
    for (int i = items - 1; i >= 0; i--) {
      if (!pending(heads[i])) continue;
      if (pshtok(tab, n, heads[i], 0) < 0) return -1;
      pushed++;
    }
    tab[*n - 1 - pushed].flags |= 0x100;
    if (pushed) return 0;
  }
  auto* list = static_cast<uint32_t*>(scratch((items + 1) * 4));
  if (!list) return -1;
  list[0] = static_cast<uint32_t>(items);
  for (int i = 0; i < items; i++) {
    int32_t h = resolved(heads[i]) ? whandle(heads[i]) : tokvar(heads[i], 0);
    if (h < 1 || stopped()) return -1;
    list[1 + i] = static_cast<uint32_t>(h);
  }
  int32_t res = doexpr(stkadr(list));
  PtrRec* r = recof(res);
  if (!r || (state & ST_ERROR)) return -1;
  return finish(tab, n, r);
}

int evltok(EvlEnt* tab, int* n) {
  EvlEnt& e = tab[*n - 1];
  int w = e.word;
  const WORD* W = wrd(w);
  if (!W) {
    error(E71_RANGE, 71);
    return -1;
  }
  if (prepind(w) < 0) return -1;
  int t = W->type;
  if (t < 0 || t == WT_NUMBER) {
    error(E71_DONE, 71);
    return -1;
  }
  if (t == WT_GROUP) return evllst(tab, n);

  // An indirect name given by an expression: its number makes the word a
  // numbered object of its kind.
  if (indirect(w)) {
    int g = indtarget(w);
    if (!wrd(g)) {
      error(E71_RANGE, 71);
      return -1;
    }
    if (!plainnum(g)) {
      if (pshtok(tab, n, g, 9) < 0) return -1;
      return 0;
    }
    float v = 0.0f;
    if (tokval(g, &v) < 0) {
      error(0, 56);
      return -1;
    }
    WORD& M = wrdtab[w];
    M.type = static_cast<int16_t>(t & ~4);
    setwval(M, toi32(v));
    setwslot(M, 0, 0);
    t = M.type;
  }

  if (simple(w)) {
    int32_t h = tokvar(w, e.flags);
    return h > 0 ? finish(tab, n, recof(h)) : -1;
  }

  // A list word: a record whose argument list holds one handle per element.
  if ((t & 0x2001) == 0x2001) {
    // An unknown name before "(" is a macro call only as the line's first
    // word; anywhere else it is no function.
    if ((t & 8) && w != argmap[0]) {
      error(0, 162);
      return -1;
    }
    if (e.flags & 0xFF) {
      error(0, 75);
      return -1;
    }
    int cnt = std::clamp<int>(W->v2, 0, MAXARG * 2);
    if (!(e.flags & 0x100)) {
      int pushed = 0;
      for (int k = cnt - 1; k >= 0; k--) {
        int x = lstelm(w, k);
        if (x < 0 || !pending(x)) continue;
        if (pshtok(tab, n, x, 0) < 0) return -1;
        pushed++;
      }
      tab[*n - 1 - pushed].flags |= 0x100;
      if (pushed) return 0;
    }
    // An unknown name with a list (a macro call) keeps the name in a file
    // record.
    auto* list = static_cast<uint32_t*>(scratch((cnt + 1) * 4));
    PtrRec* r = (t & 8) ? putptr(t, 0, nullptr, 0, cnt, 1) : newrec(t, W->v1, 0, cnt, 0);
    if (!list || !r) {
      if (list && !(state & ST_ERROR)) error(0, 42);
      return -1;
    }
    if (FilRec* f = filrec(r)) {
      r->Idx = 0;
      int e = kwtext(w);
      if (e >= 0) tokstr(e, f->Nam, sizeof f->Nam);
    }
    list[0] = r->PTR;
    int16_t save = lsttok;
    lsttok = static_cast<int16_t>(w);
    for (int k = 0; k < cnt; k++) {
      int x = lstelm(w, k);
      int32_t h = 0;
      if (x >= 0) h = resolved(x) ? whandle(x) : tokvar(x, 0);
      if (stopped()) {
        lsttok = save;
        return -1;
      }
      list[1 + k] = static_cast<uint32_t>(std::max<int32_t>(h, 0));
    }
    lsttok = save;
    r->Args = stkadr(list);
    return finish(tab, n, r);
  }

  // A file-backed word: a file record named by the word its first value
  // leads to, the data-file number in the one its second value leads to.
  if ((t & 8) && !(t & 0x2000)) {
    int nw = W->v1 ? w + W->v1 : -1;
    int ew = ((t & K_DATA) && W->v2) ? w + W->v2 : -1;
    if (!wrd(nw)) {
      error(0, 65);
      return -1;
    }
    if (!(e.flags & 0x100)) {
      int pushed = 0;
      int nt = wtype(nw);
      if (nt > 0 && nt != WT_QUOTED && nt != WT_NUMBER && nt != WT_MACARG && nt != WT_TEXT) {
        if (pshtok(tab, n, nw, 8) < 0) return -1;
        pushed++;
      }
      if (wrd(ew) && !plainnum(ew)) {
        if (pshtok(tab, n, ew, 7) < 0) return -1;
        pushed++;
      }
      if (t & 1) {
        int k = pshsub(tab, n, w);
        if (k < 0) return -1;
        pushed += k;
      }
      tab[*n - 1 - pushed].flags |= 0x100;
      if (pushed) return 0;
    }
    int kind = t & ~1;
    PtrRec* r = putptr(kind, 0, nullptr, 0, 0, 1);
    FilRec* f = r ? filrec(r) : nullptr;
    if (!f) {
      error(0, 42);
      return -1;
    }
    r->Idx = -1;
    char name[DFNMAX];
    name[0] = 0;
    int nt = wtype(nw);
    if (nt == WT_QUOTED || nt == WT_TEXT) {
      tokstr(nw, name, NAMEMAX);
    } else if (nt == WT_NUMBER) {
      float v = wrdnum(wrdtab[nw]);
      if (dfname(toi32(v), name, kind) < 1) {
        error(0, 64);
        return -1;
      }
    } else {
      PtrRec* s = nullptr;
      if (nt == WT_MACARG) {
        s = recof(tokvar(nw, 8));
        if (!s) return -1;
      } else {
        s = recof(whandle(nw));
      }
      bool whole = s && (s->Flg & K_STRING) && !(s->Flg & K_LIST) && s->Offs[0] == 0 && s->Offs[1] == 0;
      if (!whole) {
        error(0, 65);
        return -1;
      }
      rdtext(s, name, NAMEMAX, nullptr);
    }
    int l = static_cast<int>(strnlen(name, NAMEMAX - 1));
    std::memcpy(f->Nam, name, static_cast<size_t>(l));
    f->Nam[l] = 0;
    if (wrd(ew)) {
      float v = 0.0f;
      if (tokval(ew, &v) < 0) {
        error(0, 56);
        return -1;
      }
      f->Enum = static_cast<uint8_t>(toi32(v) & 0xFF);
    }
    if ((t & 1) && subwin(r, w) < 0) return -1;
    return finish(tab, n, r);
  }

  // A subscripted word: its subscripts first, then its window.
  if (t & 1) {
    if (!(e.flags & 0x100)) {
      int pushed = pshsub(tab, n, w);
      if (pushed < 0) return -1;
      tab[*n - 1 - pushed].flags |= 0x100;
      if (pushed) return 0;
    }
    PtrRec* r = nullptr;
    if (t & 0x1000) {
      r = symrec(w);
      if (r && !recvar(t) && subwin(r, w) < 0) return -1;
    } else {
      r = newrec(t & ~1, wval(*W), 0, 0, 0);
      if (r && subwin(r, w) < 0) return -1;
    }
    return finish(tab, n, r);
  }

  if (t & 0x1000) return finish(tab, n, symrec(w));

  // A numbered object of a kind ("@5", "^3"): its number is the record's
  // index; the layer that owns such objects sets it up when it is prepared.
  return finish(tab, n, newrec(t, wval(*W), 0, 0, 0));
}

int32_t resarg(int w, int flags) {
  const WORD* W = wrd(w);
  if (!W) {
    error(E71_RANGE, 71);
    return 0;
  }
  if (W->type < 0 && !(flags & 0x200)) return wval(*W);
  if (W->type == 0) return 0;
  if (prepind(w) < 0) return 0;
  if (simple(w) && (flags & 0x1FF) == 0) {
    int32_t h = tokvar(w, flags);
    PtrRec* r = recof(h);
    if (!r || stopped()) return 0;
    if (W->type != WT_NUMBER && !(flags & 0x200)) setres_word(w, r);
    return h;
  }
  EvlEnt tab[EVLMAX];
  int n = 0;
  pshtok(tab, &n, w, flags);
  for (int guard = 0; n > 0 && !stopped() && guard < 100000; guard++) {
    int r = wtype(tab[n - 1].word) == WT_GROUP ? evllst(tab, &n) : evltok(tab, &n);
    if (r < 0) return 0;
  }
  if (stopped() || n > 0) return 0;
  return tab[0].handle;
}
