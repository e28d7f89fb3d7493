// Fast forms of simple assignments and conditions.
#include "lang/fastcmd.h"

#include "compute/arith.h"
#include "compute/scalar.h"
#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/typecmd.h"
#include "core/varbl.h"
#include "lang/mainloop.h"
#include "lang/order.h"
#include "lang/parse.h"
#include "ui/clocks.h"

#include <cmath>
#include <cstring>

FastCmd* fcur = nullptr;
bool fcmain = false;
bool nofast = false;
bool fcserved = false;
uint32_t fcslow = 0;
uint32_t fcfnrun = 0;
uint32_t fcgen = 1;

namespace {

// A plain number variable word: named, number kind (with or without the
// 0x2 bit, which is no part of the record's kind), no subscript, file or
// indirection.
bool numword(int t) { return t > 0 && (t & ~2) == (K_NAMED | K_NUMBER); }

// The float storage of a plain float number entry, or null.
inline float* numdata(int32_t sym) {
  if (sym <= 0 || sym >= HIMEM_BASE || int64_t(sym) + SYMWDS > lstk.end) return nullptr;
  const SymEnt* e = reinterpret_cast<const SymEnt*>(lowstk + sym);
  if ((e->flags & 0x7F0) != K_NUMBER || e->type != W_FLOAT || e->data <= 0 || e->data >= HIMEM_BASE ||
      e->data >= lstk.end)
    return nullptr;
  return reinterpret_cast<float*>(lowstk + e->data);
}

// The items of a number array entry (8-, 16-, 32-bit or float) lying whole
// in the low stack or in flat high memory: its form's element fields are
// set. False for any other entry.
bool arydata(int32_t sym, FastCmd& f) {
  if (sym <= 0 || sym >= HIMEM_BASE || int64_t(sym) + SYMWDS > lstk.end) return false;
  SymEnt* e = reinterpret_cast<SymEnt*>(lowstk + sym);
  const int ws = e->type;
  if ((e->flags & 0x7F0) != K_ARRAY || (ws != W_BYTE && ws != W_SHORT && ws != W_LONG && ws != W_FLOAT) ||
      e->data <= 0)
    return false;
  const int64_t words = (int64_t(e->value) * (ws == W_FLOAT ? 4 : ws / 8) + 3) / 4;
  if (e->data < HIMEM_BASE ? int64_t(e->data) + words > lstk.end
                           : hipaged() || int64_t(e->data) + words > hstk.end)
    return false;
  f.pe = static_cast<uint8_t*>(stkptr(e->data));
  f.ne = e->value;
  f.ew = ws;
  f.se = e;
  return f.pe != nullptr;
}

// A word the scalar path takes as an operand: a number constant of 32-bit
// or float size, or a plain float number variable word (no subscript, no
// "++" or "--"). Its entry or value goes to o.
bool operand(int w, FastOpd* o) {
  if (w < 0 || w >= NWORDS) return false;
  const WORD& W = wrdtab[w];
  if (W.type == WT_NUMBER) {
    const int ws = wnsiz(W);
    const int32_t bits = wnum(W);
    if (ws == W_FLOAT) {
      std::memcpy(&o->c, &bits, 4);
    } else if (ws == 0 || ws == W_LONG) {
      o->c = float(double(bits));
    } else {
      return false;
    }
    o->sym = 0;
    return true;
  }
  if (!numword(W.type)) return false;
  const int16_t m = wslot(W, 0);
  if (m == '+' || m == '-') return false;
  int32_t e = wval(W);
  if (e < 0) e = -e;
  if (!symptr(e)) return false;
  o->sym = e;
  return true;
}

// An operator word with two operands: its code when the scalar path
// computes it, else 0.
int binop(int w) {
  if (w < 0 || w >= NWORDS) return 0;
  const WORD& W = wrdtab[w];
  if (W.type != WT_CMD || W.v2 != 2 || !scalarop(W.v1)) return 0;
  return W.v1;
}

// A function call f(a) or f(a, b) whose operands are plain operands and
// whose result the element loop computes in one step: its code and
// operands go to f.
bool function(int w, FastCmd* f) {
  if (w < 0 || w >= NWORDS) return false;
  const WORD& W = wrdtab[w];
  const int n = W.v2;
  if (W.type != WT_CMDLIST || n < 1 || n > 2 || !elscal(W.v1, n)) return false;
  // The operands' words, by their places after the function word.
  for (int k = 0; k < n; k++) {
    const int16_t at = wslot(W, k);
    if (at < 1 || !operand(w + at, k ? &f->b : &f->a)) return false;
  }
  f->fn = W.v1;
  f->nf = static_cast<int8_t>(n);
  return true;
}

// The destination word of an assignment: a plain float number variable,
// or one element of a named number array with a single subscript that is
// an operand (no range, no second subscript). Its entry (and subscript) go
// to f.
bool target(int w, FastCmd* f) {
  if (w < 0 || w >= NWORDS) return false;
  const WORD& W = wrdtab[w];
  if (numword(W.type)) {
    f->elem = 0;
    return operand(w, &f->d);
  }
  if (W.type <= 0 || (W.type & ~2) != (K_NAMED | K_ARRAY | 1)) return false;
  const int16_t at = wslot(W, 0);
  if (at < 1 || wslot(W, 1) != SLOT_NONE || wslot(W, 2) != SLOT_NONE || wslot(W, 3) != SLOT_NONE ||
      !operand(w + at, &f->x))
    return false;
  int32_t e = wval(W);
  if (e < 0) e = -e;
  if (!symptr(e)) return false;
  f->d.sym = e;
  f->elem = 1;
  return true;
}

bool assignop(int w) {
  if (w < 0 || w >= NWORDS) return false;
  const WORD& W = wrdtab[w];
  return W.type == WT_CMD && W.v1 == OP_ASSIGN && W.v2 == 2;
}

// The form of an ordered group g of 1, 3 (a op b; with dest: d = a) or 5
// items (d = a op b).
void build(FastCmd* f, int g, bool dest) {
  f->kind = FC_NONE;
  if (!grpord(g)) return;
  const int items = wrdtab[g].b[0];
  int it[5];
  if (items < 1 || items > 5) return;
  for (int i = 0; i < items; i++) it[i] = grpitem(g, i);
  if (dest) {
    if ((items == 3 || items == 5) && assignop(it[items - 1]) && items == 3 && function(it[1], f) &&
        target(it[0], f)) {
      f->kind = FC_ASSIGN;
      return;
    }
    if ((items != 3 && items != 5) || !assignop(it[items - 1]) || !target(it[0], f) ||
        !operand(it[1], &f->a))
      return;
    if (items == 5 && (!operand(it[2], &f->b) || !(f->op = int16_t(binop(it[3])))))
      return;
    f->kind = FC_ASSIGN;
    return;
  }
  // A condition: a single value, or a comparison (whose result is 0 or 1
  // whatever the type of the temporary that holds it).
  if (items == 1) {
    if (!operand(it[0], &f->a)) return;
    f->op = 0;
  } else if (items == 3) {
    const int op = binop(it[2]);
    if (!operand(it[0], &f->a) || !operand(it[1], &f->b) || !(op == 107 || op >= 120)) return;
    f->op = int16_t(op);
  } else {
    return;
  }
  f->kind = FC_COND;
}

// The storage of an operand: its variable's float, or the constant.
const float* where(FastOpd& o) { return o.sym ? numdata(o.sym) : &o.c; }

}  // namespace

bool fcok() {
  return !nofast && !noscalar && !(state & (0x81F0 | ST_ALARMS)) && !trcmsk && !stktrap &&
         !nwatch && !pausehk && lstlun == savlst && !(logfp && nturns <= 200);
}

bool fcfind(FastCmd& f) {
  f.gen = 0;
  if (!(f.pa = where(f.a)) || ((f.op || f.nf > 1) && !(f.pb = where(f.b)))) return false;
  if (f.kind == FC_ASSIGN && f.elem) {
    // The element store marks the entry as written when it stores (a
    // subscript out of range leaves it as the usual way does).
    if (!(f.px = where(f.x)) || !arydata(f.d.sym, f)) return false;
  } else if (f.kind == FC_ASSIGN) {
    if (!(f.pd = numdata(f.d.sym))) return false;
    // The store marks the entry as written, as a prepared destination does
    // (the store follows at once: only a found form runs).
    reinterpret_cast<SymEnt*>(lowstk + f.d.sym)->nlen |= 0xF0;
  }
  f.gen = fcgen;
  return true;
}

bool fcassign() {
  FastCmd* f = fcur;
  if (!f || f->kind < 0 || !fcok()) return false;
  fcbatch();  // a command between batches: the operands are found again
  if (f->kind == 0) {
    int32_t h = 0;
    int w = -1;
    if (nargw != 1 || fndarg(1, &h, &w) != WT_GROUP || h != 0) {
      f->kind = FC_NONE;
      return false;
    }
    build(f, w, true);
  }
  return fcserved = f->kind == FC_ASSIGN && fcexec(*f, nullptr);
}

bool fccond(int32_t* v) {
  FastCmd* f = fcur;
  if (!f || f->kind < 0 || !fcok()) return false;
  fcbatch();
  // The argument is found as the general way finds it (the list token is
  // settled the same way).
  int32_t h = 0;
  const int w = argidx(2, &h);
  if (f->kind == 0) {
    f->kind = FC_NONE;
    if (h != 0 || w < 0 || w >= NWORDS) return false;
    if (wrdtab[w].type == WT_GROUP) {
      build(f, w, false);
    } else if (operand(w, &f->a)) {
      f->op = 0;
      f->kind = FC_COND;
    }
  }
  return fcserved = f->kind == FC_COND && fcexec(*f, v);
}

void fcturns(int slot, uint32_t n) {
  if (!n) return;
  nturns += int32_t(n);
  nerrtn = 0;
  // The slot is named when its count starts (its name never changes).
  if (tmslot[slot].count == 0) {
    tmcount(slot, slot == TM_ASSIGN ? "assign" : "iftest");
    n--;
  }
  tmslot[slot].count = uint16_t(tmslot[slot].count + n);
}
