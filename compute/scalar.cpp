// The scalar path of the expression evaluator: an assignment whose operands
// and destination are single float numbers - a copy (d = a) or one binary
// arithmetic or comparison operator fused with its assignment (d = a op b) -
// is computed here, with the element loop's rules for missing values and
// its stores, without the operand table and the element loop.
#include "compute/scalar.h"

#include "compute/arith.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"

#include <cmath>
#include <cstring>

namespace {

// The symbol entry of a plain named float number record, or null.
SymEnt* numvar(const PtrRec* r) {
  if (!r || r->Flg != (K_NAMED | K_NUMBER) || r->Wsiz != W_FLOAT) return nullptr;
  SymEnt* e = symptr(r->Idx);
  if (!e || (e->flags & 0x7F0) != K_NUMBER || e->type != W_FLOAT || e->data <= 0 ||
      e->data >= HIMEM_BASE || uint32_t(e->data) != r->Addr)
    return nullptr;
  return e;
}

// The value of a scalar operand: a named float number or a number constant.
bool value(const PtrRec* r, float* v) {
  if (!r) return false;
  if (r->Flg == K_CONST && (r->Wsiz == W_LONG || r->Wsiz == W_FLOAT)) {
    if (r->Wsiz == W_FLOAT) {
      std::memcpy(v, &r->Addr, 4);
    } else {
      int32_t i;
      std::memcpy(&i, &r->Addr, 4);
      *v = float(double(i));
    }
    return true;
  }
  const SymEnt* e = numvar(r);
  if (!e) return false;
  const void* p = stkptr(e->data);
  if (!p) return false;
  *v = float(getelm(p, W_FLOAT));
  return true;
}

bool item(const PtrRec* r, int code, int count) {
  return r && r->Flg == K_ARGS && r->Idx == code && r->Wsiz == count;
}

}  // namespace

bool noscalar = false;

int32_t scalar(uint32_t* list) {
  const uint32_t n = list[0];
  if (noscalar || (n != 3 && n != 5) || (state & 0x8180) || trcmsk || pausehk) return 0;
  auto* s = reinterpret_cast<int32_t*>(list + 1);
  PtrRec* d = ptrrec(s[0]);
  SymEnt* de = numvar(d);
  if (!de || s[1] == s[0]) return 0;
  float a = 0, b = 0, r;
  if (n == 3) {
    if (!item(ptrrec(s[2]), 115, 2) || !value(ptrrec(s[1]), &a)) return 0;
    r = a;
  } else {
    const PtrRec* op = ptrrec(s[3]);
    if (!op || op->Flg != K_ARGS || op->Wsiz != 2 || !scalarop(op->Idx) ||
        !item(ptrrec(s[4]), 115, 2) || s[2] == s[0] || !value(ptrrec(s[1]), &a) ||
        !value(ptrrec(s[2]), &b))
      return 0;
    r = scalres(op->Idx, a, b);
  }
  // The store marks the entry as written, as a prepared destination does.
  de->nlen |= 0xF0;
  uint8_t bp = 0;
  stitm(r, static_cast<uint8_t*>(stkptr(de->data)), W_FLOAT, &bp, noclmp());
  list[1] = uint32_t(s[0]);
  return s[0];
}
