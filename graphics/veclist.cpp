// The vector list store: a vector variable of 8-byte records in a headed
// block of the word memory (high memory when there is some), bound to the
// system name `vecs`. The block grows by doubling; the record's count words
// (Length, Tot and the x extent) always equal the write index nvecs.
#include "graphics/veclist.h"

#include <cmath>
#include <cstring>

#include "core/element.h"
#include "core/memory.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"

int32_t vlrec;
uint8_t vcolor;

static int32_t vlcap;  // records the data block holds
static int16_t lastabs[3];  // last absolute point of the readers

namespace {

PtrRec* vlist() { return ptrrec(vlrec); }

// A block for n records (where 3: high memory when it exists); 0 none.
int32_t vblock(int32_t n) {
  int32_t a = 0;
  int saved = pflags;
  pflags |= 0x800;  // a failure is answered by the caller
  int r = getstk(&a, n, 8, 3, 0);
  pflags = saved;
  return r > 0 ? a : 0;
}

// Points the record at n records of its block.
void vcount(PtrRec* r, int32_t n) {
  r->Length = n;
  r->Tot = static_cast<uint32_t>(n);
  r->Datdims[0] = static_cast<uint32_t>(n);
  r->Datdims[1] = r->Datdims[2] = 1;
  r->Bufsiz = 0;
  if (SymEnt* s = symptr(r->Idx)) s->value = static_cast<uint32_t>(n);
}

// Room for n records; false when the block cannot grow.
bool vroom(int32_t n) {
  PtrRec* r = vlist();
  if (!r) return false;
  if (n <= vlcap) return true;
  int32_t cap = vlcap < 256 ? 256 : vlcap;
  while (cap < n && cap < (1 << 28)) cap *= 2;
  if (cap < n) return false;
  int32_t a = vblock(cap);
  r = vlist();
  if (!a || !r) return false;
  std::memset(stkptr(a), 0, static_cast<size_t>(cap) * 8);
  int32_t old = static_cast<int32_t>(r->Addr);
  if (old > 0) {
    std::memcpy(stkptr(a), stkptr(old), static_cast<size_t>(vlcap) * 8);
    freblk(old);
  }
  r->Addr = static_cast<uint32_t>(a);
  r->Data0 = r->Dptr = bytadr(a);
  ptrstk(a, static_cast<int32_t>(r->PTR) + PR_ADDR);
  vlcap = cap;
  return true;
}

}  // namespace

int vinit(int mode) {
  if (mode & 1) return 0;  // the vector data list is not kept here
  if (vlist()) return 0;
  uint16_t fl = 0;
  int32_t e = GETSYM("vecs", 4, &fl, 1);
  SymEnt* s = e > 0 ? symptr(e) : nullptr;
  if (!s) return 0;
  PtrRec* r = putptr(K_VECTOR | K_MATRIX | K_NAMED, 0, nullptr, 0, W_VEC, 0);
  if (!r) return 0;
  r->Idx = e;
  r->Wbyts = 8;
  r->Ndims = 1;
  vlrec = static_cast<int32_t>(r->PTR);
  vlcap = 0;
  s = symptr(e);
  s->data = vlrec;
  s->type = W_VEC;
  r->Stack = static_cast<uint32_t>(e + 1);  // the symbol's data word
  if (!vroom(256)) {
    s->data = 0;
    freblk(vlrec);
    vlrec = 0;
    return 0;
  }
  vcount(vlist(), 0);
  nvecs = 0;
  return 0;
}

int setnvec(int which, int32_t n) {
  if (which > 0) {
    nvdata = n;
    return 0;
  }
  if (n < 0) return 0;
  if (!vlist() || !vroom(n)) return 0;
  // Records past the new count are cleared, so a list that grows again
  // shows no stale records.
  PtrRec* r = vlist();
  if (n < nvecs && nvecs <= vlcap)
    std::memset(static_cast<uint8_t*>(stkptr(static_cast<int32_t>(r->Addr))) + 8 * n, 0,
                static_cast<size_t>(nvecs - n) * 8);
  nvecs = n;
  vcount(r, n);
  return 0;
}

uint8_t* vecptr(int32_t index) {
  PtrRec* r = vlist();
  if (!r || index < 0 || index >= vlcap || r->Addr == 0) return nullptr;
  return static_cast<uint8_t*>(stkptr(static_cast<int32_t>(r->Addr))) + 8 * index;
}

int putvec(int32_t index, int x, int y, int z, int code, int colour, int width) {
  if (index < 0) return 0;
  vinit(0);
  if (!vlist()) return 0;
  if (index >= nvecs) {
    if (!vroom(index + 1)) return 0;
    nvecs = index + 1;
    vcount(vlist(), nvecs);
    lastvec = -1;
  }
  uint8_t* p = vecptr(index);
  if (!p) return 0;
  int16_t v[3] = {static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(z)};
  std::memcpy(p, v, 6);
  p[6] = static_cast<uint8_t>(((width & 15) << 4) | (code & 15));
  p[7] = static_cast<uint8_t>(colour);
  return 0;
}

int savvec(int x, int y, int z, int code, int colour, int width) {
  vinit(0);
  if (code == 1 && nvecs <= 0) code = 2;
  return putvec(nvecs < 0 ? 0 : nvecs, x, y, z, code, colour, width);
}

uint8_t* getvec(PtrRec* list, int32_t index, uint8_t* exp, int mode) {
  const uint8_t* p = nullptr;
  if (!list) {
    vinit(0);
    if (index < nvecs) p = vecptr(index);
  } else if (list->Wsiz == W_VEC && index >= 0) {
    // A plain vector variable read at its current position plus index.
    // Its count is in records, its items are the records' bytes.
    int32_t cnt, part, tot, ws;
    if (gtvarb(list, &cnt, &part, &tot, &ws, 0) && index < cnt)
      p = setpos(list, index * 8);
  }
  if (!p) {
    if (exp) std::memset(exp, 0, 12);
    return nullptr;
  }
  int16_t v[3];
  std::memcpy(v, p, 6);
  int code = p[6] & 15;
  if (mode && code >= 4 && code <= 6) {
    code -= 3;
    for (int k = 0; k < 3; k++) v[k] = static_cast<int16_t>(v[k] + lastabs[k]);
  }
  if (mode && code >= 1 && code <= 3)
    for (int k = 0; k < 3; k++) lastabs[k] = v[k];
  if (exp) {
    exp[0] = static_cast<uint8_t>(code);
    exp[1] = static_cast<uint8_t>(p[6] >> 4);
    int16_t c = p[7];
    std::memcpy(exp + 2, &c, 2);
    std::memcpy(exp + 4, v, 6);
  }
  return const_cast<uint8_t*>(p);
}

int dircode(const int16_t* s) {
  int dx = s[2] - s[0], dy = s[3] - s[1];
  if (dx == 0 && dy == 0) return 0;
  double a = std::atan2(static_cast<double>(dy), static_cast<double>(dx)) * 4.0 / M_PI;
  int k = static_cast<int>(std::lround(a));
  return ((2 - k) % 8 + 8) % 8;
}

void vlini() {
  vlrec = 0;
  vlcap = 0;
  vcolor = 0;
  lastabs[0] = lastabs[1] = lastabs[2] = 0;
}
