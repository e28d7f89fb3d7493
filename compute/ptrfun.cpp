// The pointer functions. So far they take the source as it is: the
// re-shaping arguments of pointer and file (buffer size, dimensions, item
// size) and the file form are not built and report error 212.
#include "compute/ptrfun.h"

#include <cstdint>

#include "compute/expr.h"
#include "compute/func.h"
#include "core/args.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "lang/parse.h"

namespace {

// The symbol entry of the variable the line starts with, 0 when the first
// word is no plain variable.
int32_t target() {
  if (nwords < 1) return 0;
  const WORD& w = wrdtab[0];
  if (w.type < 0) {
    const PtrRec* r = ptrrec(wval(w));
    return r && (r->Flg & K_NAMED) && symptr(r->Idx) ? r->Idx : 0;
  }
  if (!(w.type & 0x1000) || (w.type & 0x2000) || wval(w) < 1) return 0;
  int32_t e = wval(w) < 0 ? -wval(w) : wval(w);
  return symptr(e) ? e : 0;
}

}  // namespace

int ptrptr(int depth, int mode, int code) {
  PtrRec* src = oprec(0);
  int32_t e = depth >= 1 ? target() : 0;
  trcint(8, "Ptrvrb", 1, depth, mode, code, e, 0);
  SymEnt* s = e > 0 ? symptr(e) : nullptr;
  if (!s || (s->flags & 0x17F0) != 0x1000) {
    if (depth > 0)
      error(0, 87);
    else if (mode == 1 && src)
      shoptr(src);
    return 0;
  }
  if (code != 41 && optab[OT_REC + 1]) {
    fnnavl();
    return 0;
  }
  PtrRec* rec = ptrrec(s->data);
  if (!rec) {
    rec = static_cast<PtrRec*>(zeroblk(sizeof(PtrRec)));
    if (!rec) return 0;
    s = symptr(e);
    s->data = static_cast<int32_t>(rec->PTR);
    ptrstk(static_cast<int32_t>(rec->PTR), e + 1);
  }
  if (rec->Xfrm > 0) freblk(rec->Xfrm);
  rec->Xfrm = 0;
  if (rec->Flg) freptr(rec);
  rec->Stack = static_cast<uint32_t>(e + 1);
  int kind = src && src->Flg != K_CONST ? src->Flg : 0;
  if ((kind & 0x7E9) && !stopped()) {
    ptrvrb(src, rec);
    symptr(e)->value = static_cast<uint32_t>(rec->PTR);
  } else {
    uint32_t self = rec->PTR;
    freblk(static_cast<int32_t>(self));
    s = symptr(e);
    s->data = 0;
    s->value = 0;
  }
  trcint(8, "ptrptr", 2, e, kind, 0, 0, 0);
  return 0;
}
