// The vector list in the word memory, its counts, and reading records in
// expanded form through a list's transform.
#include "graphics/veclist.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "compute/fnsvc.h"
#include "compute/xform.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "ui/screen.h"
#include "ui/window.h"
#include "lang/names.h"

namespace {

int32_t vcap = 0;        // records the list's block holds
int32_t lastdrw = -1;    // last-drawn mark
int32_t lastend = 0;     // last-end mark

// The system entry of vecs. Its address is kept while the system table
// stays the same and the entry still holds the name, so that appending a
// record does not search the table.
int32_t ventsys = 0, ventadr = 0;
SymEnt* vent() {
  const SymTab* h = tabptr(syssym);
  if (ventadr > 0 && ventsys == syssym && h && h->count > 0 && ventadr <= symadr(syssym, static_cast<int>(h->count) - 1)) {
    SymEnt* s = symptr(ventadr);
    if (s && s->flags != 0 && (s->nlen & 15) == 4 && std::memcmp(s->name, "vecs", 4) == 0) return s;
  }
  int32_t e = sysent("vecs");
  ventsys = syssym;
  ventadr = e > 0 ? e : 0;
  return e > 0 ? symptr(e) : nullptr;
}

// A block of n records for the list, owned by its Addr word; the first
// `keep` records copied from the old block, the rest zeroed.
bool vgrow(PtrRec* p, int32_t n, int32_t keep) {
  int32_t a = 0;
  int64_t bytes = std::max<int64_t>(n, 1) * 8;
  if (bytes > INT32_MAX / 2 || getstk(&a, static_cast<int32_t>(bytes), 1, 2, 0) < 1 || a == 0) return false;
  auto* nb = static_cast<uint8_t*>(stkptr(a));
  std::memset(nb, 0, static_cast<size_t>(bytes));
  int32_t old = static_cast<int32_t>(p->Addr);
  if (old > 0 && keep > 0) std::memcpy(nb, stkptr(old), static_cast<size_t>(std::min(keep, vcap)) * 8);
  ptrstk(a, static_cast<int32_t>(p->PTR) + PR_ADDR);
  if (old > 0) freblk(old);
  p->Addr = static_cast<uint32_t>(a);
  p->Data0 = bytadr(a);
  if (a >= HIMEM_BASE) p->Flg2 |= F2_HIGH;
  vcap = n;
  return true;
}

// Sets the count words of the list.
void vcount(PtrRec* p, int32_t n) {
  SymEnt* e = vent();
  p->Length = n;
  p->Tot = static_cast<uint32_t>(n);
  p->Datdims[0] = static_cast<uint32_t>(n);
  p->Datdims[1] = p->Datdims[2] = 1;
  if (e) e->value = static_cast<uint32_t>(n);
}

// Writes record index of the list's block.
void vrec(PtrRec* p, int32_t index, int x, int y, int z, int code, int colour, int width) {
  uint8_t* r = static_cast<uint8_t*>(stkptr(static_cast<int32_t>(p->Addr))) + static_cast<int64_t>(index) * 8;
  int16_t v[3] = {static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(z)};
  std::memcpy(r, v, 6);
  r[6] = static_cast<uint8_t>(((width & 15) << 4) | (code & 15));
  r[7] = static_cast<uint8_t>(colour);
}

}  // namespace

PtrRec* veclst() {
  SymEnt* e = vent();
  if (!e || e->data <= 0 || !(e->flags & K_VECTOR)) return nullptr;
  auto* p = static_cast<PtrRec*>(stkptr(e->data));
  return p && p->PTR == static_cast<uint32_t>(e->data) && p->Wsiz == W_VEC ? p : nullptr;
}

uint8_t vcmap[256];

namespace {
void cmapini() {
  for (int i = 0; i < 256; i++) vcmap[i] = static_cast<uint8_t>(i);
}
struct CmapInit {
  CmapInit() { cmapini(); }
} cmapinit;
}  // namespace

int vinit(int mode) {
  if (mode & 1) return 0;  // the vector data list is not made in this build
  if (veclst()) return 0;
  SymEnt* e = vent();
  if (!e) return 0;
  PtrRec* p = putptr(0x1180, 0, nullptr, 0, W_VEC, 0);
  if (!p) return 0;
  vcap = 0;
  cmapini();
  if (!vgrow(p, 256, 0)) {
    freptr(p);
    return 0;
  }
  e = vent();
  p->Idx = sysent("vecs");
  e->flags = static_cast<uint16_t>(0x1180 | SY_VALUE | (p->Flg2 & F2_HIGH ? SY_HIGH : 0));
  e->data = static_cast<int32_t>(p->PTR);
  e->type = static_cast<uint8_t>(W_VEC & 0xFF);
  vcount(p, 0);
  // The drawing box reaches the screen's right edge and half the height
  // below the menu bar and a window header.
  const int m = mnubar + 18;
  drwbox.max[0] = static_cast<int16_t>(scrwid - 1);
  drwbox.max[1] = static_cast<int16_t>((scrhgt - 1 - m) / 2);
  // The vector window, in slot 4, becomes the current window: at (0, m), the
  // drawing box's width by its height less a window header.
  const int32_t r[4] = {0, m, drwbox.max[0] - 1, m + drwbox.max[1] - 18 - 1};
  if (makwin(4, 8, 273, 0, "VECS", r, 1, 2) == 4) setwin(4);
  lastvec = 0;
  lastdrw = -1;
  lastend = 0;
  return 0;
}

int setnvec(int which, int32_t n) {
  if (which > 0) {
    nvdata = n;
    return 0;
  }
  if (n < 0) return 0;
  nvecs = n;
  lastvec = -1;
  if (which < 0) lastend = -1;
  if (which < 0 || n > lastdrw) lastdrw = n - 1;
  PtrRec* p = veclst();
  if (!p) return 0;
  if (n > vcap) {
    int64_t want = std::max<int64_t>(n, static_cast<int64_t>(vcap) * 2);
    if (want > INT32_MAX / 16) want = n;
    if (!vgrow(p, static_cast<int32_t>(want), vcap)) return 0;
  }
  // Records past the count read as nothing when the count grows again:
  // a shorter count clears the records it drops (those past the old count
  // are clear already).
  int32_t old = p->Length < 0 ? vcap : std::min<int32_t>(p->Length, vcap);
  if (n < old) std::memset(static_cast<uint8_t*>(stkptr(static_cast<int32_t>(p->Addr))) + static_cast<int64_t>(n) * 8, 0, static_cast<size_t>(old - n) * 8);
  vcount(p, n);
  return 0;
}

int putvec(int32_t index, int x, int y, int z, int code, int colour, int width) {
  if (!veclst()) vinit(0);
  PtrRec* p = veclst();
  if (!p || index < 0) return 0;
  if (index >= p->Length) {
    int32_t keep = nvecs;
    setnvec(0, index + 1);
    nvecs = keep;
  }
  if (index >= vcap) return 0;
  vrec(p, index, x, y, z, code, colour, width);
  return 0;
}

int savvec(int x, int y, int z, int code, int colour, int width) {
  if (code == 1 && nvecs == 0) code = 2;
  int32_t w = nvecs;
  lastdrw = w;
  PtrRec* p = veclst();
  if (p && w >= 0 && w == p->Length && w < vcap) {
    // The next record inside the block: what putvec does, without the
    // look-ups.
    lastvec = -1;
    vcount(p, w + 1);
    vrec(p, w, x, y, z, code, colour, width);
  } else {
    putvec(w, x, y, z, code, colour, width);
  }
  nvecs = w + 1;
  return 0;
}

uint8_t* gtvptr(PtrRec* list, int32_t index, int access) {
  if (!list) {
    PtrRec* p = veclst();
    if (!p || index < 0 || index >= p->Length || index >= vcap) return nullptr;
    return static_cast<uint8_t*>(stkptr(static_cast<int32_t>(p->Addr))) + static_cast<int64_t>(index) * 8;
  }
  if (list->Wsiz != W_VEC) return nullptr;
  int32_t n = (list->Flg & K_MATRIX) ? static_cast<int32_t>(list->Offs[4]) : 1;
  if (index < 0 || index >= n) return nullptr;
  list->XYZptr[0] = list->Offs[0];
  list->XYZptr[1] = list->Offs[1] + static_cast<uint32_t>(index);
  list->XYZptr[2] = list->Offs[2];
  return nxtbuf(list, access);
}

int projct(int16_t* p, const XfmRec* x, int t) {
  if (!x || !t) return 0;
  int32_t v[3] = {p[0], p[1], p[2]};
  if (t & XF_PIN)
    for (int i = 0; i < 3; i++) v[i] -= x->Pin[i];
  if (t & XF_SCALE)
    for (int i = 0; i < 3; i++) v[i] = ftrunc(static_cast<float>(v[i]) * x->Scale[i]);
  if (t & XF_ROT) {
    int32_t o[3];
    for (int i = 0; i < 3; i++)
      o[i] = ftrunc(static_cast<float>(v[0]) * x->Matrix[0][i] + static_cast<float>(v[1]) * x->Matrix[1][i] +
                    static_cast<float>(v[2]) * x->Matrix[2][i]);
    std::memcpy(v, o, sizeof v);
  }
  if (t & (XF_OFFSET | XF_PIN))
    for (int i = 0; i < 3; i++) v[i] += x->Pin[i] + x->Offset[i];
  for (int i = 0; i < 3; i++) p[i] = static_cast<int16_t>(static_cast<uint32_t>(v[i]) & 0xFFFF);
  return 0;
}

int vproject(uint8_t* point, PtrRec* list) {
  if (gflags & 1) return 0;
  PtrRec* r = list ? list : veclst();
  if (!r) return 0;
  uint16_t w = 0;
  const XfmRec* x = xfhold(r, &w, false);
  int sel = x ? w >> 4 : 0;
  if (point[0] == 7) sel &= 0xFF3;
  int16_t v[3];
  std::memcpy(v, point + 4, 6);
  projct(v, x, sel);
  std::memcpy(point + 4, v, 6);
  return 0;
}

uint8_t* getvec(PtrRec* list, int32_t index, uint8_t* exp, int mode) {
  if (!list && !veclst()) vinit(0);
  uint8_t* r = nullptr;
  if (list && !(list->Flg & K_MATRIX)) {
    // A plain vector variable read at its current position plus index: its
    // count is in records, its items are the records' bytes.
    int32_t cnt, part, tot, ws;
    if (list->Wsiz == W_VEC && index >= 0 && gtvarb(list, &cnt, &part, &tot, &ws, 0) && index < cnt)
      r = setpos(list, index * 8);
  } else {
    r = gtvptr(list, index, 1);
  }
  std::memset(exp, 0, 12);
  if (!r) return nullptr;
  int16_t v[3];
  std::memcpy(v, r, 6);
  int code = r[6] & 15;
  exp[0] = static_cast<uint8_t>(code);
  exp[1] = static_cast<uint8_t>(r[6] >> 4);
  int16_t col = r[7];
  std::memcpy(exp + 2, &col, 2);
  if (mode != 0 && code != 0) {
    if (code >= 4 && code <= 6) {
      exp[0] = static_cast<uint8_t>(code - 3);
      for (int i = 0; i < 3; i++) v[i] = static_cast<int16_t>(v[i] + lastpt[i]);
    }
  }
  std::memcpy(exp + 4, v, 6);
  if (mode == 1 && code < 8 && code != 0) {
    std::memcpy(lastpt, v, 6);
    vproject(exp, list);
  }
  return r;
}

uint8_t vcolor;

uint8_t* vecptr(int32_t index) { return gtvptr(nullptr, index, 2); }

int32_t lastdrawn() { return lastdrw; }

void vlini() {
  vcap = 0;
  lastdrw = -1;
  lastend = 0;
  vcolor = 0;
  cmapini();
}
