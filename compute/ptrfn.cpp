// The pointer functions, load, alert and vrbxy.
//
// A pointer variable holds a pointer record of its own (a headed block whose
// owner is the variable's data-address word); `p = pointer(a ...)` copies
// the record of a, or of a part or re-shaped view of it, into that record.
// Everything the record refers to that the pointer function makes (a buffer
// record, a file record) is a headed block too, freed with the variable.
#include "compute/ptrfn.h"

#include <algorithm>
#include <cstring>

#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "core/blkbuf.h"
#include "lang/mainloop.h"
#include "lang/parse.h"
#include "ui/alert.h"

namespace {

// The symbol entry of the pointer variable that the line assigns to: the
// first word of the line, when it is a pointer variable (kind exactly
// 0x1000) and the pointer function is the whole right side (depth 1).
// 0 without a target (depth 0), -1 for anything else.
int32_t ptrtgt(int depth) {
  if (depth == 0) return 0;
  if (depth != 1 || nwords < 1) return -1;
  const WORD& W = wrdtab[0];
  int32_t e = 0;
  if (W.type < 0) {
    // Resolved already: the record's symbol entry.
    const PtrRec* r = ptrrec(wval(W));
    e = r ? r->Idx : 0;
  } else if ((W.type & 0x1000) && !(W.type & 0x2000)) {
    e = wval(W);
    if (e < 0) e = -e;
  }
  const SymEnt* s = e > 0 ? symptr(e) : nullptr;
  if (!s || (s->flags & 0x17F0) != 0x1000) return -1;
  return e;
}

// The variable's own record: made (zeroed, owned by its data-address word)
// when it has none; a record it held before is released.
PtrRec* ownrec(int32_t e) {
  SymEnt* s = symptr(e);
  PtrRec* r = s->data > 0 ? ptrrec(s->data) : nullptr;
  if (!r) {
    r = static_cast<PtrRec*>(zeroblk(sizeof(PtrRec)));
    if (!r) {
      error(0, 42);
      return nullptr;
    }
    s = symptr(e);
    s->data = static_cast<int32_t>(r->PTR);
    ptrstk(s->data, stkadr(&s->data));
  }
  if (r->Xfrm > 0) freblk(r->Xfrm);
  r->Xfrm = 0;
  r->Stack = static_cast<uint32_t>(stkadr(&s->data));
  if (r->Flg) freptr(r);
  return r;
}

// Re-shapes the source for pointer and file: arguments 4 to 6 give the
// dimensions (below 2: 1), 7 the layer word and 8 the word size code. The
// new shape must lie inside the data. Returns the highest dimension above
// 1 (0 for none), -1 on failure.
int reshape(PtrRec* r, bool tofile) {
  uint32_t d[3];
  int noted = 0;
  for (int k = 0; k < 3; k++) {
    uint32_t cur = r->Offs[3 + k] ? r->Offs[3 + k] : r->Datdims[k];
    int32_t v = lngarg(4 + k, static_cast<int32_t>(std::min<uint32_t>(cur, INT32_MAX)));
    d[k] = v < 2 ? 1 : static_cast<uint32_t>(v);
    if (d[k] > 1) noted = k + 1;
  }
  r->Mptr = static_cast<uint32_t>(lngarg(7, static_cast<int32_t>(r->Mptr)));
  int w = lngarg(8, r->Wsiz);
  bool same = w == r->Wsiz;
  for (int k = 0; k < 3; k++) {
    uint32_t cur = r->Offs[3 + k] ? r->Offs[3 + k] : r->Datdims[k];
    same = same && (cur < 2 ? 1 : cur) == d[k];
  }
  // The source's own shape: its record as it is, window included.
  if (same && !tofile) return noted;
  if (tofile || (r->Flg & K_FILE)) {
    // The file layer sizes file data when it opens it; a new shape views
    // the file from its first item.
    for (int k = 0; k < 3; k++) {
      r->Datdims[k] = r->Offs[3 + k] = d[k];
      r->Offs[k] = r->XYZptr[k] = 0;
    }
    r->Wsiz = static_cast<int16_t>(w);
    return noted;
  }
  // A new shape views the data from its first item: it must not reach
  // past the data's end.
  int ob = r->Wsiz == W_VEC ? 64 : (r->Wsiz & 63), nb = w == W_VEC ? 64 : (w & 63);
  wide have = static_cast<wide>(r->Tot) * ob;
  wide want = static_cast<wide>(d[0]) * d[1] * d[2] * nb;
  if (nb < 1 || want > have || (r->Flg & (K_LIST | K_VECTOR | K_NUMBER))) {
    error(0, 196);
    return -1;
  }
  // The record stays prepared with the new shape over the data's first
  // item (in-memory data without block buffers is addressable whole).
  if (bufrec(r)) {
    error(0, 196);
    return -1;
  }
  for (int k = 0; k < 3; k++) {
    r->Offs[k] = r->XYZptr[k] = 0;
    r->Datdims[k] = r->Offs[3 + k] = d[k];
  }
  r->Wsiz = static_cast<int16_t>(w);
  r->Wbyts = static_cast<uint8_t>((w & 63) / 8);
  r->Bitp = 0;
  r->Dptr = r->Data0;
  r->Ndims = static_cast<uint8_t>(std::max(noted, 1));
  // An array, matrix or solid becomes the kind of its new shape.
  if ((r->Flg & (K_ARRAY | K_MATRIX | K_SOLID)) && noted)
    r->Flg = static_cast<uint16_t>((r->Flg & ~(K_ARRAY | K_MATRIX | K_SOLID)) |
                                   (noted == 3 ? K_SOLID : 32 << noted));
  r->Length = static_cast<int32_t>(std::min<wide>(static_cast<wide>(d[0]) * d[1] * d[2], INT32_MAX));
  r->Tot = static_cast<uint32_t>(r->Length);
  r->Bufsiz = r->Length;
  return noted;
}

// The rubber-band box over a window image: its first corner becomes the
// window origin and the box, corners included, the extent.
void boxwin(PtrRec* r) {
  int16_t box[6] = {};
  if (getbox(box, 0, 0, 0) < 0 || stopped()) return;
  int x0 = std::min(box[0], box[2]), x1 = std::max(box[0], box[2]);
  int y0 = std::min(box[1], box[3]), y1 = std::max(box[1], box[3]);
  r->Offs[0] = static_cast<uint32_t>(std::max(x0, 0));
  r->Offs[1] = static_cast<uint32_t>(std::max(y0, 0));
  r->Offs[3] = static_cast<uint32_t>(x1 - x0 + 1);
  r->Offs[4] = static_cast<uint32_t>(y1 - y0 + 1);
  r->Bufsiz = -1;
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
}

// Makes the source r file-backed: the text of the source as given (src)
// names the file. The new kind, 0 when it cannot be.
int filsrc(PtrRec* r, const PtrRec* src, int noted, int32_t bsz) {
  char name[PTRNAM + 2] = {};
  int32_t len = 0;
  if (src && (src->Flg & K_STRING)) {
    PtrRec tmp = *src;
    int32_t cnt, part, tot, ws;
    gtvarb(&tmp, &cnt, &part, &tot, &ws, 0);
    len = cnt;
    if (len > PTRNAM) {
      // The name field holds 256 bytes with its NUL.
      error(2, 65);
      return 0;
    }
    for (int32_t i = 0; i < len; i++) {
      if (i >= part) {
        LDVARB(&tmp, &part, i);
        if (part <= i) break;
      }
      name[i] = static_cast<char>(igstak(&tmp));
    }
  }
  if (len < 1) {
    error(2, 65);
    return 0;
  }
  FilRec* f = filrec(r);
  if (!f) {
    f = static_cast<FilRec*>(zeroblk(sizeof(FilRec)));
    if (!f) {
      error(0, 42);
      return 0;
    }
    r->Filp = static_cast<int32_t>(f->Ptr);
  }
  if (noted) f->Flg = 64;
  // A buffer size of its own: the file layer's block buffers take it, as
  // whole items (a block of the file starts where its items do). One or
  // three buffers, and the mark of a size that is no multiple of 4, go by
  // the size as given.
  BufRec* b = bufrec(r);
  int ib = (r->Wsiz & 63) / 8;
  if (bsz > 0 && bsz < ib) {
    error(3, 70);
    return 0;
  }
  int32_t given = bsz;
  if (ib > 1) bsz -= bsz % ib;
  if (bsz > 0 && (!b || b->Rsiz != bsz)) {
    if (!b) {
      b = static_cast<BufRec*>(zeroblk(sizeof(BufRec)));
      if (!b) {
        error(0, 42);
        return 0;
      }
      r->Bufp = static_cast<int32_t>(b->BPTR);
    }
    b->Rsiz = bsz;
    int bits = r->Wsiz & 63;
    r->Rwds = static_cast<int32_t>(static_cast<int64_t>(bsz) * 8 / (bits ? bits : 8));
    if (given % 4) b->Bflg |= 64;
    if (given >= 3411) b->Actv |= 0x40;
  }
  if (noted == 3) noted = 5;
  int kind = r->Flg & ~(K_NAMED | K_STRING | K_ARRAY | K_MATRIX | K_SOLID);
  kind |= K_FILE | (noted ? 32 << noted : K_ARRAY);
  r->Flg = static_cast<uint16_t>(kind);
  std::memset(f->Nam, 0, sizeof f->Nam);
  std::memcpy(f->Nam, name, static_cast<size_t>(len));
  r->Idx = 0;
  r->Addr = 0;
  r->Data0 = r->Dptr = 0;
  for (int k = 0; k < 6; k++) r->Offs[k] = 0;
  r->Bufsiz = 0;
  int32_t cnt, part, tot, ws;
  rsizarg = bsz > 0 ? 3 : 0;
  kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
  rsizarg = 0;
  return tot < 0 ? 0 : kind;
}

}  // namespace

int ptrptr(int depth, int mode, int code) {
  int32_t* t = optab;
  int32_t e = ptrtgt(depth);
  trcint(8, "Ptrvrb", 0, depth, mode, code, e, 0);
  PtrRec* src = t ? oprec(0) : nullptr;
  if (e <= 0) {
    if (t) t[OT_REC + 2] = 0;
    if (e < 0 || depth > 0)
      error(0, 87);
    else if (mode == 1)
      shoptr(src);
    return 0;
  }
  PtrRec* tgt = ownrec(e);
  if (!tgt) return 0;
  t[OT_REC + 2] = static_cast<int32_t>(tgt->PTR);
  trcint(8, "PtrPtr", 0, e, static_cast<int32_t>(tgt->PTR), code, 0, 0);

  int kind = src ? src->Flg : 0;
  if (kind == K_CONST) kind = 0;
  // A copy of the source's record is re-shaped, never the source itself.
  PtrRec work{};
  if (src) work = *src;
  // A variable's record is prepared again from its symbol entry when it is
  // read through the pointer (a re-shaped one stays prepared).
  if ((work.Flg & K_NAMED) && work.Idx > 0) work.Bufsiz = 0;
  if (kind & 0x7E9) {
    bool shape = code == 43 || code == 40;
    // A part of a window image picked with the box.
    if (shape && kind == K_IMAGE && lngarg(3, 0) < 0) boxwin(&work);
    bool tofile = code == 40 || ((kind & K_STRING) && !(kind & K_LIST) && work.Length >= 257);
    int noted = shape ? reshape(&work, tofile) : 0;
    kind = noted < 0 ? 0 : work.Flg;
    if (kind && tofile) {
      kind = filsrc(&work, src, noted, shape ? lngarg(3, 0) : 0);
    } else if (kind && !(kind & K_FILE) && work.Idx < 1) {
      // Data that lives only while the command runs cannot be pointed at.
      error(2, 147);
      kind = 0;
    }
  }
  // A view of a whole or windowed named variable is laid out again from the
  // variable's entry at every use, so that it follows the variable's
  // storage when that is made anew; a view of all of it follows its size
  // too (its extents are taken anew).
  if (kind && work.Bufsiz == 0 && (kind & K_NAMED) && work.Idx > 0 && !(kind & (K_LIST | K_VECTOR | K_FILE))) {
    bool all = true;
    for (int k = 0; k < 3; k++)
      all = all && work.Offs[k] == 0 && (work.Offs[3 + k] == 0 || work.Offs[3 + k] >= work.Datdims[k]);
    if (all) work.Offs[3] = work.Offs[4] = work.Offs[5] = 0;
    work.Datdims[0] = 0;
  }
  SymEnt* s = symptr(e);
  if (kind && !stopped()) {
    work.Flg = static_cast<uint16_t>(kind);
    ptrvrb(&work, tgt);
    s->value = tgt->PTR;
  } else {
    // The variable keeps an empty record, so that it can be assigned again.
    if (work.Filp > 0 && (!src || work.Filp != src->Filp)) freblk(work.Filp);
    if (work.Bufp > 0 && (!src || work.Bufp != src->Bufp)) freblk(work.Bufp);
    uint32_t own = tgt->PTR, stk = tgt->Stack;
    std::memset(tgt, 0, sizeof(PtrRec));
    tgt->PTR = own;
    tgt->Stack = stk;
    s->value = 0;
  }
  trcint(8, "ptrptr", 1, e, kind, static_cast<int32_t>(s->value), 0, 0);
  return 0;
}

namespace {

// Calls f(record, entry) for every pointer variable in reach (the tables
// from the running macro's out to the system table) whose record is in use.
template <class F>
void eachptr(F f) {
  int32_t t = cursym;
  for (int guard = 0; t > 0 && guard < 4096; guard++) {
    const SymTab* h = tabptr(t);
    if (!h || h->marker != SYMMARK) break;
    const uint32_t n = h->count;
    const int32_t link = h->link;
    for (uint32_t i = 0; i < n; i++) {
      SymEnt* s = symptr(symadr(t, static_cast<int>(i)));
      if (!s || (s->flags & 0x17F0) != 0x1000 || s->data <= 0 || fndstk(s->data) <= 0) continue;
      PtrRec* r = ptrrec(s->data);
      if (r && r->Flg != 0) f(r, s);
    }
    t = link;
  }
}

// The same for the pointer variables whose record views the variable of
// entry ent.
template <class F>
void eachview(int32_t ent, F f) {
  if (ent <= 0) return;
  eachptr([&](PtrRec* r, SymEnt* s) {
    if ((r->Flg & K_NAMED) && r->Idx == ent) f(r, s);
  });
}

// A pointer variable's view lets go of its variable: the record stays,
// empty, so that the pointer can be assigned again.
void letgo(PtrRec* r, SymEnt* s) {
  freptr(r);
  const uint32_t own = r->PTR, stk = r->Stack;
  std::memset(r, 0, sizeof(PtrRec));
  r->PTR = own;
  r->Stack = stk;
  s->value = 0;
}

// The same when the variable itself is gone: until it is set again the
// pointer refuses every use.
void orphan(PtrRec* r, SymEnt* s) {
  letgo(r, s);
  r->Store = ST_GONE;
}

// Whether words a to a + n - 1 lie inside the word memory.
bool inmem(int32_t a, int64_t n) {
  if (a < 1) return false;
  return static_cast<int64_t>(a) + n <= (a < HIMEM_BASE ? lstk.end : hstk.end);
}

// Bits one item of word size code w takes in storage.
int64_t itembits(int w) { return w == W_VEC ? 64 : (w & 63); }

// Lays view r out again over the storage that variable v holds now: false
// when it cannot be without reaching past that storage.
bool follow(PtrRec* r, const SymEnt* v) {
  if (!v || !(v->flags & SY_VAR) || !inmem(v->data, 1)) return false;
  const int vk = v->flags & 0x7F0, rk = r->Flg & 0x7F0;
  const bool hdr = (vk & K_HDR) && !(vk & (K_LIST | K_VECTOR));
  // The variable's first item and the items it holds.
  int32_t items = v->data;
  int64_t have = v->value;
  if ((vk & (K_VECTOR | K_MATRIX)) == (K_VECTOR | K_MATRIX)) {
    // A list of vectors keeps its records in a block of its own record.
    const PtrRec* l = inmem(v->data, sizeof(PtrRec) / 4) ? ptrrec(v->data) : nullptr;
    items = l ? static_cast<int32_t>(l->Addr) : 0;
  } else if (hdr) {
    if (!inmem(v->data, 5)) return false;
    const uint32_t* h = wordp(v->data);
    items = static_cast<int32_t>(h[3]);
    have = static_cast<int64_t>(h[0]) * h[1] * h[2];
  }
  if (!inmem(items, 1)) return false;
  if ((vk | rk) & (K_LIST | K_VECTOR | K_NUMBER)) {
    // Elements, records and numbers are read in the variable's own layout.
    if (rk != vk || r->Wsiz != v->type || r->Bufsiz != 0) return false;
  } else {
    if (have < 1) return false;
    // The items the view is laid out over at its next use: its own shape
    // when it has one (re-shaped, a box, a header kind's dimensions), else
    // the variable's as the entry gives them; they must fit the storage.
    int64_t n = have;
    if (r->Bufsiz != 0 || ((rk & K_HDR) && r->Datdims[0] != 0)) {
      n = 1;
      for (int k = 0; k < 3; k++) n *= std::max<uint32_t>(r->Datdims[k], 1);
    } else if ((rk & K_HDR) && !hdr) {
      return false;  // no header to lay it out from
    } else if (!(rk & K_HDR)) {
      n = v->value;
    }
    if (static_cast<wide>(n) * itembits(r->Wsiz) > static_cast<wide>(have) * itembits(v->type))
      return false;
  }
  r->Addr = static_cast<uint32_t>(items);
  r->Flg2 = static_cast<uint16_t>((r->Flg2 & ~F2_HIGH) | (v->flags & SY_HIGH));
  r->Page = 0;  // taken again when the record is prepared
  return true;
}

// Brings pointer variable ent's view up to date (installed as ptrcur).
void ptrnow(int32_t ent) {
  SymEnt* s = symptr(ent);
  if (!s || (s->flags & 0x17F0) != 0x1000 || !inmem(s->data, sizeof(PtrRec) / 4)) return;
  PtrRec* r = ptrrec(s->data);
  if (!r || !(r->Flg & (K_NUMBER | K_DATA)) || !(r->Flg & K_NAMED) || r->Idx <= 0 ||
      (r->Flg & (K_FILE | K_NOSTK)) || r->Bufp > 0)
    return;
  const SymEnt* v = symptr(r->Idx);
  // A variable without storage (released): the view stays, over no data,
  // so that a store through it makes the storage as a store into the
  // variable does.
  if (v && (v->flags & SY_VAR) && v->data <= 0 && r->Bufsiz == 0 && (v->flags & 0x7F0) == (r->Flg & 0x7F0)) {
    r->Addr = 0;
    // A list emptied of its items: a view of the whole list holds none
    // either (a window keeps its place for the items to come).
    if ((r->Flg & (K_LIST | 1)) == K_LIST) r->Datdims[0] = r->Offs[0] = r->Offs[3] = 0;
    return;
  }
  if (!follow(r, v)) letgo(r, s);
}

struct PtrcurInit {
  PtrcurInit() { ptrcur = ptrnow; }
} ptrcurinit;

}  // namespace

void ptrfreed(int32_t ent) {
  eachview(ent, orphan);
  // A file variable's entry holds its file's record, which its views share:
  // they write back what they changed and let go of the file without
  // closing it (the variable's own release does that).
  const SymEnt* e = symptr(ent);
  if (!e || (e->flags & 0x17F0) != 0x1000 || !inmem(e->data, sizeof(PtrRec) / 4)) return;
  const PtrRec* v = ptrrec(e->data);
  if (!v || !(v->Flg & K_FILE) || v->Filp <= 0) return;
  const int32_t filp = v->Filp;
  eachptr([&](PtrRec* r, SymEnt* s) {
    if (r == v || !(r->Flg & K_FILE) || r->Filp != filp) return;
    flshio(r);
    r->Filp = 0;
    orphan(r, s);
  });
}

void ptrmoved(int32_t from, int32_t to) {
  if (from == to) return;
  eachview(from, [to](PtrRec* r, SymEnt*) { r->Idx = to; });
}

// ---------------------------------------------------------------------------
// load

int load() {
  int32_t h = 0;
  int k = argtyp(2, &h);
  PtrRec* r = ptrrec(h);
  if (k == 34 && !r) {
    // A quoted text (kind 34) is a string source: its characters, one per target.
    char text[LINBUF];
    float v = 0;
    int len = 0;
    getarg(2, &v, text, sizeof text, &len);
    int nt = std::min(std::max(nargs() - 2, 0), std::max(len, 0));
    trcint(8, "load", 0, k, len, nt, 8, 0);
    for (int i = 0; i < nt && !stopped(); i++) setnum(3 + i, static_cast<unsigned char>(text[i]));
    return 0;
  }
  if (!(k & 0x7E0) || !r) {
    error(2, 147);
    return 0;
  }
  int nt = std::max(nargs() - 2, 0);
  int32_t cnt, part, tot, ws;
  bool vec = r->Wsiz == W_VEC;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  trcint(8, "load", 0, k, cnt, nt, ws, 0);
  if (vec) {
    // The first record, its block read first where it is not in memory
    // (the vector list's records lie in its file's blocks). Without a
    // record there are no values: the targets stay as they are.
    if (cnt > 0 && ws == W_VEC && part <= 0) LDVARB(r, &part, 0);
    const uint8_t* p = cnt > 0 && part > 0 && ws == W_VEC ? dptr(r) : nullptr;
    if (!p) return 0;
    uint8_t rec[8];
    std::memcpy(rec, p, 8);
    int16_t xyz[3];
    std::memcpy(xyz, rec, 6);
    double v[6] = {static_cast<double>(xyz[0]), static_cast<double>(xyz[1]),
                   static_cast<double>(xyz[2]), static_cast<double>(rec[6] & 15),
                   static_cast<double>(rec[6] >> 4), static_cast<double>(rec[7])};
    for (int i = 0; i < std::min(nt, 6) && !stopped(); i++) setnum(3 + i, v[i]);
    return 0;
  }
  nt = static_cast<int>(std::min<int64_t>(nt, cnt));
  for (int i = 0; i < nt && !stopped(); i++) {
    if (i >= part) {
      LDVARB(r, &part, i);
      if (part <= i) break;
    }
    setnum(3 + i, GSTACK(r));
  }
  return 0;
}

// ---------------------------------------------------------------------------
// alert

int doalert() {
  // An alert still open (the start alert) is closed first.
  Alertb(nullptr, nullptr, -1, nullptr, nullptr, 0, 0, 0, 0);
  auto* msg = static_cast<char*>(getbuf(1024));
  auto* btn = static_cast<char*>(getbuf(512));
  if (!msg || !btn) return 0;
  char title[64] = {};
  float v = 0.0f;
  int lm = 0, lb = 0, lt = 0;
  msg[0] = btn[0] = 0;
  int km = getarg(2, &v, msg, 1024, &lm);
  int kb = getarg(3, &v, btn, 512, &lb);
  int kind = intarg(4, 2);
  int kt = getarg(5, &v, title, sizeof title, &lt);
  int x = intarg(6, -1), y = intarg(7, -1);
  int o8 = intarg(8, 0), o9 = intarg(9, 0);
  trcint(8, "doalert", 0, km, kb, kind, x, y);
  if ((km & K_STRING) || (kb & K_STRING)) {
    if (!(km & K_STRING)) msg[0] = 0;
    if (!(kb & K_STRING)) btn[0] = 0;
    if (!(kt & K_STRING)) title[0] = 0;
    if (!msg[0] && !btn[0]) return 0;
    int r = Alertb(msg, btn, kind, title, nullptr, x, y, o8, o9);
    setres(r, 0);
    setfoc(0, 0);
    return r;
  }
  // Numbers only: the about box.
  if (kind != 4) kind = 1;
  if (km && kb) Alertb(nullptr, nullptr, kind, nullptr, nullptr, x, y, o8, o9);
  return 0;
}

// ---------------------------------------------------------------------------
// vrbxy

// The view coordinates of the point under the cursor. No window of this
// build shows a view of a variable, so no window qualifies and the record
// is cleared.
int vrbxy(uint8_t* record) {
  if (record) std::memset(record, 0, 8);
  trcint(8, "vrbxy", 0, 0, 0, 0, 0, 0);
  return 0;
}
