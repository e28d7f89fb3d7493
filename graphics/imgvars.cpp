// The image variables bound to system names, and their image targets.
#include "graphics/imgvars.h"

#include <cstring>

#include "core/args.h"
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

uint64_t imgstampv = 0;

namespace {

constexpr const char* NAMES[NIMGNAME] = {"vimage", "zimage", "yzimage", "simage"};
constexpr int32_t RECWDS = sizeof(PtrRec) / 4;

// The system entries of the four names, found when the names are made.
int32_t nament[NIMGNAME];

// The resolved target of each name and what it was resolved from.
struct Held {
  ImgTgt t;
  bool ok = false;
  uint32_t gen = 0;
  int32_t ent = 0, data = 0, items = 0, addr = 0;
  bool paged = false;
  int pin = 0;  // looked up while pinned (at this depth)
};
Held held[NIMGNAME];
// Changes whenever a binding changes or a bound image's storage goes.
uint32_t imggen = 1;
// While pinned, a target found is used again without looking again.
int pinned = 0;
// The stamp after imggen or the pins changed.
void restamp() { imgstampv = pinned ? (static_cast<uint64_t>(pinned) << 32) | imggen : 0; }
struct Bound {
  uint32_t gen = 0;
  bool on = false;
};
Bound bound[NIMGNAME];

SymEnt* entof(int which) {
  if (which < 0 || which >= NIMGNAME || nament[which] <= 0) return nullptr;
  SymEnt* s = symptr(nament[which]);
  return s && (s->flags & 0x17F0) == SY_VAR ? s : nullptr;
}

// Words of the headed block from address a to its end; 0 when a lies in
// no block.
int64_t blkroom(int32_t a) {
  int32_t h = fndstk(a);
  if (h <= 0) return 0;
  return static_cast<int64_t>(*wordp(h)) - (a - h);
}

// The name's block: its pointer record followed by the work record that
// drawing prepares. A block without room for both (made by a pointer
// function after a release) is made again with its record kept.
PtrRec* namblk(int which) {
  SymEnt* s = entof(which);
  if (!s) return nullptr;
  PtrRec* r = s->data > 0 ? ptrrec(s->data) : nullptr;
  if (r && blkroom(s->data) >= 2 * RECWDS) return r;
  auto* n = static_cast<PtrRec*>(zeroblk(2 * sizeof(PtrRec)));
  if (!n) return nullptr;
  s = entof(which);
  int32_t self = static_cast<int32_t>(n->PTR);
  if (r) {
    std::memcpy(n, r, sizeof(PtrRec));
    n->PTR = static_cast<uint32_t>(self);
    freblk(s->data);
  }
  n->Stack = static_cast<uint32_t>(stkadr(&s->data));
  n->Idx = r ? n->Idx : 0;
  s->data = self;
  ptrstk(self, nament[which] + 1);
  PtrRec* w = n + 1;
  w->PTR = static_cast<uint32_t>(self + RECWDS);
  return n;
}

// Empties a name's record; what it referred to belongs to the image.
void empty(PtrRec* r, SymEnt* s) {
  uint32_t own = r->PTR, stk = r->Stack;
  std::memset(r, 0, sizeof(PtrRec));
  r->PTR = own;
  r->Stack = stk;
  if (s) s->value = 0;
}

// The data block and first item of a named variable's entry.
void dataof(const SymEnt* e, int32_t* data, int32_t* items) {
  *data = e ? e->data : 0;
  *items = *data;
  if (e && *data > 0 && (e->flags & K_HDR) && !(e->flags & (K_LIST | K_VECTOR)))
    *items = static_cast<int32_t>(wordp(*data)[3]);
}

bool isasn(int w) {
  if (w < 0 || w >= NWORDS) return false;
  const WORD& W = wrdtab[w];
  return W.type == WT_CMD && W.v1 == OP_ASSIGN && W.v2 == 2;
}

}  // namespace

int imginit() {
  for (int i = 0; i < NIMGNAME; i++) {
    uint16_t fl = 0;
    int32_t e = GETSYM(NAMES[i], static_cast<int>(std::strlen(NAMES[i])), &fl, 1);
    nament[i] = e > 0 ? e : 0;
    held[i] = Held{};
    SymEnt* s = entof(i);
    if (s && s->data <= 0) namblk(i);
  }
  imggen++;
  restamp();
  return 0;
}

void imgini() {
  for (auto& h : held) h = Held{};
  for (auto& e : nament) e = 0;
  imggen++;
  restamp();
}

PtrRec* imgname(int which) {
  SymEnt* s = entof(which);
  return s && s->data > 0 ? ptrrec(s->data) : nullptr;
}

bool imgbound(int which) {
  if (pinned && which >= 0 && which < NIMGNAME && bound[which].gen == imggen) return bound[which].on;
  const PtrRec* r = imgname(which);
  const bool on = r && (r->Flg & K_DIMS) && !(r->Flg & K_LIST);
  if (which >= 0 && which < NIMGNAME) bound[which] = {pinned ? imggen : 0, on};
  return on;
}

ImgPin::ImgPin() {
  pinned++;
  restamp();
}
ImgPin::~ImgPin() {
  --pinned;
  restamp();
  if (pinned == 0)
    for (auto& b : bound) b.gen = 0;
}

int imgbind(int which, const PtrRec* src) {
  PtrRec* tgt = namblk(which);
  SymEnt* s = entof(which);
  if (!tgt || !s) return -1;
  imggen++;
  restamp();
  held[which].ok = false;
  if (!src) {
    empty(tgt, s);
    return 0;
  }
  if (!(src->Flg & K_DIMS) || (src->Flg & (K_LIST | K_VECTOR))) return -1;
  // As the pointer function image() binds: a copy of the record, prepared
  // again from the variable's entry whenever it is read.
  PtrRec work = *src;
  if ((work.Flg & K_NAMED) && work.Idx > 0) {
    // Laid out afresh from the entry's header at every use, so that the
    // name follows the image when it is given new storage.
    work.Bufsiz = 0;
    work.Datdims[0] = 0;
  }
  work.Xfrm = 0;
  work.Args = 0;
  empty(tgt, s);
  ptrvrb(&work, tgt);
  s = entof(which);
  s->value = tgt->PTR;
  return 0;
}

bool imgasn() {
  int32_t h = 0;
  int g = -1;
  if (nargw != 1 || fndarg(1, &h, &g) != WT_GROUP || h != 0 || !grpord(g) || wrdtab[g].b[0] != 3)
    return false;
  int d = grpitem(g, 0), v = grpitem(g, 1);
  if (!isasn(grpitem(g, 2)) || d < 0 || v < 0 || d >= NWORDS || v >= NWORDS) return false;
  // The destination: one of the four names, as a plain word.
  const WORD& D = wrdtab[d];
  if (D.type <= 0 || !(D.type & 0x1000) || (D.type & 0x2000) || (D.type & 1)) return false;
  int32_t e = wval(D);
  if (e < 0) e = -e;
  int which = -1;
  for (int i = 0; i < NIMGNAME; i++)
    if (nament[i] > 0 && e == nament[i]) which = i;
  if (which < 0) return false;
  const WORD& V = wrdtab[v];
  if (V.type == WT_NUMBER) {
    // A zero unbinds; any other number is stored through the binding.
    if (wfloat(V) != 0.0) return false;
    imgbind(which, nullptr);
    return true;
  }
  if (V.type <= 0 || !(V.type & 0x1000) || (V.type & 0x2000)) return false;
  int32_t rh = resarg(v, 0);
  const PtrRec* r = ptrrec(rh);
  if (!r || stopped()) return true;
  if (!(r->Flg & (K_MATRIX | K_IMAGE)) || (r->Flg & (K_LIST | K_VECTOR))) {
    error(1, 147);
    return true;
  }
  if (imgbind(which, r) < 0) error(1, 147);
  return true;
}

void imgfreed(const SymEnt* e) {
  if (!e || e->flags == 0) return;
  const int32_t ent = stkadr(e);
  for (int i = 0; i < NIMGNAME; i++) {
    PtrRec* r = imgname(i);
    if (!r || r->Flg == 0 || ent == nament[i] || !(r->Flg & K_NAMED) || r->Idx != ent) continue;
    empty(r, entof(i));
    held[i].ok = false;
    imggen++;
    restamp();
  }
}

void imgmoved(int32_t from, int32_t to) {
  for (int i = 0; i < NIMGNAME; i++) {
    PtrRec* r = imgname(i);
    if (r && r->Flg != 0 && (r->Flg & K_NAMED) && r->Idx == from) {
      r->Idx = to;
      held[i].ok = false;
      imggen++;
      restamp();
    }
  }
}

PtrRec* simrec() {
  PtrRec* src = imgname(IV_SIMAGE);
  if (!src || !(src->Flg & K_DIMS) || (src->Flg & K_LIST)) return nullptr;
  PtrRec* r = mktmp(src, -1);
  if (!r) return nullptr;
  int32_t cnt, part, tot, ws;
  if (!gtvarb(r, &cnt, &part, &tot, &ws, 0) || cnt < 1) return nullptr;
  return r;
}

const ImgTgt* imgtgt(int which) {
  if (which < 0 || which >= NIMGNAME) return nullptr;
  Held& H = held[which];
  if (pinned && H.ok && H.gen == imggen && H.pin == pinned) return &H.t;
  PtrRec* nm = imgname(which);
  H.pin = 0;
  if (!nm || !(nm->Flg & K_DIMS) || (nm->Flg & (K_LIST | K_VECTOR | K_FILE))) return nullptr;
  const bool named = (nm->Flg & K_NAMED) && nm->Idx > 0;
  int32_t data = 0, items = 0;
  if (named) {
    const SymEnt* e = symptr(nm->Idx);
    if (!e || e->flags == 0) return nullptr;
    dataof(e, &data, &items);
  }
  const bool paged = hipaged();
  if (H.ok && H.gen == imggen && H.ent == (named ? nm->Idx : 0) && H.data == data && H.items == items &&
      H.paged == paged && H.addr == static_cast<int32_t>(nm->Addr)) {
    H.pin = pinned;
    return &H.t;
  }
  H.ok = false;
  if (blkroom(nm->PTR) < 2 * RECWDS) {
    nm = namblk(which);
    if (!nm) return nullptr;
  }
  PtrRec* w = nm + 1;
  int32_t self = static_cast<int32_t>(nm->PTR) + RECWDS;
  std::memcpy(w, nm, sizeof(PtrRec));
  w->PTR = static_cast<uint32_t>(self);
  w->Stack = 0;
  w->Bufsiz = 0;
  w->Xfrm = 0;
  w->Args = 0;
  // A named image is laid out again from its entry (its storage may have
  // been made anew since it was bound).
  if (named) w->Datdims[0] = 0;
  int32_t cnt, part, tot, ws;
  if (!gtvarb(w, &cnt, &part, &tot, &ws, 0) || cnt < 1 || (state & ST_ERROR)) return nullptr;
  ImgTgt t;
  t.rec = w;
  t.ws = w->Wsiz;
  t.w = static_cast<int32_t>(w->Offs[3] ? w->Offs[3] : w->Datdims[0]);
  t.h = static_cast<int32_t>(w->Offs[4] ? w->Offs[4] : (w->Datdims[1] ? w->Datdims[1] : 1));
  t.flt = t.ws == W_FLOAT;
  int by = t.ws == W_BYTE ? 1 : t.ws == W_SHORT ? 2 : t.ws == W_RGB ? 3 : (t.ws == W_LONG || t.flt) ? 4 : 0;
  uint8_t* d0 = dat0(w);
  if (by && d0 && !bufrec(w) && !paged && !w->Page) {
    int64_t dx = w->Datdims[0] ? w->Datdims[0] : 1, dy = w->Datdims[1] ? w->Datdims[1] : 1;
    int64_t first = (static_cast<int64_t>(w->Offs[2]) * dy + w->Offs[1]) * dx + w->Offs[0];
    t.bytes = static_cast<int16_t>(by);
    t.row = dx * by;
    t.base = d0 + first * by;
  }
  H.t = t;
  H.ok = true;
  H.gen = imggen;
  H.ent = named ? nm->Idx : 0;
  H.data = data;
  H.items = items;
  H.addr = static_cast<int32_t>(nm->Addr);
  H.paged = paged;
  H.pin = pinned;
  return &H.t;
}
