// Pointer records and variable storage: making, copying and releasing
// records, the storage of symbol variables, lists and windows.
#include "core/varbl.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/units.h"
#include "core/convert.h"
#include "files/filevar.h"

uint8_t* hmbyt(int32_t b) { return static_cast<uint8_t*>(stkptr(b >> 2)) + (b & 3); }

void freblk(int32_t addr) {
  if (addr <= 0) return;
  int32_t h = fndstk(addr);
  if (h > 0) putstk(h + 2, 0, 0);
}

bool mkcover = false;
MkFresh mkfresh;

void zerwds(int32_t addr, int64_t words) {
  while (words > 0) {
    int64_t run = words;
    if (addr >= HIMEM_BASE) {
      int64_t in = (addr - HIMEM_BASE) & (HPAGE_WORDS - 1);
      if (run > HPAGE_WORDS - in) run = HPAGE_WORDS - in;
    }
    memset(stkptr(addr), 0, static_cast<size_t>(run) * 4);
    addr += static_cast<int32_t>(run);
    words -= run;
  }
}

namespace {

int32_t ownadr(const PtrRec* r) { return stkadr(r); }

// Takes `bytes` of storage as whole words; the stack address, or 0 on failure
// (error 42 reported). Scratch storage when scratch is set.
int32_t takstk(int64_t bytes, int where, bool scratch) {
  int64_t words = (bytes + 3) / 4;
  if (words < 1) words = 1;
  if (words > 0x3FFFFFFF / 4) {
    error(0, 42);
    return 0;
  }
  int32_t a = 0;
  int got = scratch ? getstk(&a, static_cast<int32_t>(words), 4, 0, -1)
                    : getstk(&a, static_cast<int32_t>(words), 4, where, 0);
  return got > 0 ? a : 0;
}

// Bits of one stored item: a vector element is 8 bytes.
int stobits(int wsiz) { return wsiz == W_VEC ? 64 : (wsiz & 63); }

// The list table of a record (or a bare table) and its number of slots.
int32_t lsttbl(const PtrRec* r, int32_t table, int64_t* slots) {
  int32_t t = r ? static_cast<int32_t>(r->Addr) : table;
  *slots = 0;
  if (t <= 0) return 0;
  int32_t h = fndstk(t);
  if (h > 0) {
    int64_t blkw = static_cast<int64_t>(wordp(h)[0]) - 2 - (t - (h + 2));
    *slots = blkw;
  } else if (r) {
    *slots = r->Datdims[0];
  }
  if (r && r->Datdims[0] > 0 && r->Datdims[0] < *slots) *slots = r->Datdims[0];
  return t;
}

bool strlst(const PtrRec* r) { return !r || (r->Flg & K_STRING); }

}  // namespace

// ---------------------------------------------------------------------------
// Records.

PtrRec* putptr(int kind, int32_t bufbytes, const uint32_t* dims, int bflags, int wsiz,
               int scratch) {
  int sbit = scratch ? 1 : 0;
  auto* r = static_cast<PtrRec*>(zeroblk(sizeof(PtrRec) | sbit));
  if (!r) return nullptr;
  if (kind & K_FILE) {
    auto* f = static_cast<FilRec*>(zeroblk(sizeof(FilRec) | sbit));
    if (!f) {
      if (!scratch) frebuf(r);
      return nullptr;
    }
    r->Filp = static_cast<int32_t>(f->Ptr);
  }
  if (bufbytes) {
    auto* b = static_cast<BufRec*>(zeroblk(sizeof(BufRec) | sbit));
    if (!b) {
      if (!scratch) {
        if (r->Filp) frebuf(stkptr(r->Filp));
        frebuf(r);
      }
      return nullptr;
    }
    b->Bflg = static_cast<uint8_t>(bflags);
    b->Rsiz = bufbytes;
    r->Bufp = static_cast<int32_t>(b->BPTR);
  }
  r->Flg = static_cast<uint16_t>(kind);
  r->Wsiz = static_cast<int16_t>(wsiz);
  if (dims)
    for (int k = 0; k < 3; k++) r->Datdims[k] = dims[k];
  if (!scratch) r->Stack = r->PTR;
  trcptr(2048, "putptr", 1, static_cast<int32_t>(r->PTR));
  return r;
}

int setrec(PtrRec* r, int kind, int32_t idx, uint32_t addr, int wsiz, int32_t length) {
  r->Flg = static_cast<uint16_t>(kind);
  r->Idx = idx;
  r->Addr = addr;
  r->Wsiz = static_cast<int16_t>(wsiz);
  r->Length = length;
  return 0;
}

int ptrvrb(PtrRec* src, PtrRec* dst) {
  flshio(src);
  uint32_t ptr = dst->PTR, stack = dst->Stack;
  memmove(dst, src, sizeof(PtrRec));
  dst->PTR = ptr;
  dst->Stack = stack;
  dst->Store = 0;  // a macro argument's store rule stays with the argument
  bool scratch = stack == 0;

  FilRec* f = (src->Flg & K_FILE) ? filrec(src) : nullptr;
  if (f && f->Lun > 0 && f->Lun < NUNITS && filtab[f->Lun].Nlinks > 0 &&
      (filtab[f->Lun].mode & UM_TEMP)) {
    filtab[f->Lun].mode &= static_cast<uint16_t>(~UM_TEMP);
    // dst takes the file over: its own file record and strip table.
    auto* nf = static_cast<FilRec*>(zeroblk(sizeof(FilRec) | (scratch ? 1 : 0)));
    if (nf) {
      uint32_t self = nf->Ptr;
      memcpy(nf, f, sizeof(FilRec));
      nf->Ptr = self;
      nf->Pack = 0;
      nf->Strip = 0;
      if (f->Strip > 0) {
        const uint32_t* st = wordp(f->Strip);
        int64_t n = st[0];
        int64_t words = 2 + 2 * n;
        int32_t a = takstk(words * 4, 1, false);
        if (a) {
          memcpy(stkptr(a), st - 1, static_cast<size_t>(words) * 4);
          nf->Strip = a + 1;
        }
      }
      dst->Filp = static_cast<int32_t>(self);
    }
  }

  BufRec* b = bufrec(src);
  if ((src->Flg & K_DATA) && src->Rwds >= 1 && b) {
    int32_t a = static_cast<int32_t>(src->Addr);
    if (b->Pflg & 1) {
      b->Lnks++;
    } else if (a > 0 && a < HIMEM_BASE && a < lstk.lowest) {
      // Scratch data cannot be shared: dst gets its own buffers.
      auto* nb = static_cast<BufRec*>(zeroblk(sizeof(BufRec) | (scratch ? 1 : 0)));
      if (nb) {
        uint32_t self = nb->BPTR;
        memcpy(nb, b, sizeof(BufRec));
        nb->BPTR = self;
        nb->Pflg = 1;
        nb->Lnks = 1;
        dst->Bufp = static_cast<int32_t>(self);
        dst->Addr = 0;
        int32_t rs = nb->Rsiz;
        nb->Rsiz = 0;
        chgbuf(dst, rs, 0);
        int32_t na = static_cast<int32_t>(dst->Addr);
        if (na > 0) ptrstk(na, ownadr(dst) + PR_ADDR);
      }
    } else {
      // Both records use the buffers from now on.
      b->Pflg |= 1;
      b->Lnks = static_cast<int16_t>((b->Lnks < 1 ? 1 : b->Lnks) + 1);
    }
    pactiv(dst, 1);
  }
  return 0;
}

int freptr(PtrRec* r) {
  if (!r) return 0;
  flshio(r);
  blkend(r);
  BufRec* b = bufrec(r);
  // Records that share block buffers (a pointer to a file variable and the
  // variable) share its file record too: the last of them closes the file.
  bool shared = false;
  if ((r->Flg & K_DATA) && b) {
    if (b->Lnks > 0) b->Lnks--;
    if (b->Lnks <= 0) {
      pactiv(r, -1);
      freblk(static_cast<int32_t>(r->Addr));
      freblk(r->Bufp);
    } else {
      shared = true;
    }
    r->Bufp = 0;
    r->Addr = 0;
  } else if (int32_t a = static_cast<int32_t>(r->Addr); a > 0 && !(r->Flg & K_NAMED) && !b) {
    // Data that this record owns (its Addr word is the block's owner).
    int32_t h = fndstk(a);
    int32_t own = ownadr(r);
    if (h > 0 && own > 0 && static_cast<int32_t>(wordp(h)[1] & 0x3FFFFFF) == own + PR_ADDR) {
      putstk(h + 2, 0, 0);
      r->Addr = 0;
    }
  }
  if (r->Flg & K_FILE) {
    if (FilRec* f = shared ? nullptr : filrec(r)) {
      if (f->Lun) closef(f->Lun, 0);
      f->Lun = 0;
      if (f->Strip > 0) freblk(f->Strip);
      if (f->Pack > 0) freblk(f->Pack);
      f->Strip = f->Pack = 0;
      freblk(r->Filp);
    }
    r->Filp = 0;
  }
  if (r->Xfrm > 0) freblk(r->Xfrm);
  r->Xfrm = 0;
  return 0;
}

int32_t chgbuf(PtrRec* r, int32_t bytes, int mode) {
  BufRec* b = bufrec(r);
  if (!b) return 0;
  bool single = b->Actv & 0x40;
  if (bytes >= 3411) single = true;
  int64_t total = single ? bytes : 3 * static_cast<int64_t>(bytes);
  int32_t a = static_cast<int32_t>(r->Addr);
  int32_t h = (a > 0 && a < HIMEM_BASE) ? fndstk(a) : 0;
  bool headed = h > 0 && h + 2 == a;
  int64_t old = headed ? static_cast<int64_t>(b->Rsiz) * ((b->Actv & 0x40) ? 1 : 3) : 0;
  bool fresh = false;
  if (total > old || (mode == 0 && !headed)) {
    fresh = true;
    // The buffers move: what they hold goes first.
    blkspl(r);
    int32_t na = 0;
    int64_t words = (total + 3) / 4;
    int got = 0;
    if (words >= 1 && words < 0x0FFFFFFF) {
      if (mode == 0)
        got = getstk(&na, static_cast<int32_t>(words), 4, 1, 0);
      else if (mode > 0)
        got = getstk(&na, static_cast<int32_t>(words), 4, 0, 1);
      else
        got = getstk(&na, static_cast<int32_t>(words), 4, 2, -1);
    }
    if (got < 1) {
      if (mode == 0) {
        b->Rsiz = 0;
        r->Rwds = 0;
        return 0;
      }
      return b->Rsiz;
    }
    if (mode > 0 && got < words && got < 32767) {
      // The scratch area gave less: the buffers shrink with it.
      int64_t have = static_cast<int64_t>(got) * 4;
      bytes = static_cast<int32_t>(single ? have : have / 3);
    }
    if (headed) putstk(a, 0, 0);
    r->Addr = static_cast<uint32_t>(na);
    r->Data0 = bytadr(na);
  }
  if (single) b->Actv |= 0x40;
  // New memory, or a new size: the buffers start empty.
  if (bytes != b->Rsiz || fresh) {
    b->Rsiz = bytes;
    int bits = r->Wsiz & 63;
    r->Rwds = static_cast<int32_t>(static_cast<int64_t>(bytes) * 8 / (bits ? bits : 8));
    r->Bufsiz = -1;
    b->Bufdims[0] = b->Bufdims[1] = b->Bufdims[2] = 0;
    rstbuf(r);
  }
  return b->Rsiz;
}

// ---------------------------------------------------------------------------
// Storage of symbol variables.

int erasvb(SymEnt* e) {
  if (!e) return 0;
  uint16_t flags = e->flags;
  int32_t data = e->data;
  if (data > 0 && !(flags & SY_NOTOWN)) {
    if (flags & K_LIST) {
      int32_t h = fndstk(data);
      int64_t slots = e->value;
      if (h > 0) {
        int64_t cap = static_cast<int64_t>(wordp(h)[0]) - 2 - (data - (h + 2));
        if (slots > cap) slots = cap;
      }
      // The elements, last first, freed together: one walk of the chain,
      // however long the list.
      uint32_t* t = wordp(data);
      std::vector<int32_t> els;
      for (int64_t i = slots - 1; i >= 0; i--) {
        if (t[i]) {
          els.push_back(data + static_cast<int32_t>(t[i]));
          t[i] = 0;
        }
      }
      putblks(els.data(), els.size());
    } else if ((flags & K_HDR) && !(flags & K_VECTOR)) {
      int32_t items = static_cast<int32_t>(wordp(data)[3]);
      if (items > 0 && fndstk(items) != fndstk(data)) freblk(items);
      freblk(xfoff(e));
    } else if ((flags & (K_DATA | K_NUMBER)) == 0 ||
               (flags & (K_VECTOR | K_MATRIX)) == (K_VECTOR | K_MATRIX)) {
      // Pointer variables (no data kind) and vector lists hold a pointer
      // record; a number keeps its value in a plain block.
      auto* r = static_cast<PtrRec*>(stkptr(data));
      if (r && fndstk(data) > 0) {
        // A list of vectors: its block of records, which its record's Addr
        // word owns, goes with it.
        if ((flags & (K_VECTOR | K_MATRIX)) == (K_VECTOR | K_MATRIX) && static_cast<int32_t>(r->Addr) > 0) {
          const int32_t h = fndstk(static_cast<int32_t>(r->Addr));
          if (h > 0 && (wordp(h)[1] & BLK_OWNER) == static_cast<uint32_t>(data + PR_ADDR))
            freblk(static_cast<int32_t>(r->Addr));
          r->Addr = 0;
        }
        freptr(r);
      }
    }
    freblk(data);
  }
  e->value = 0;
  e->data = 0;
  return 0;
}

namespace {

// The fifth header word of a named matrix, image or solid, which holds its
// transform block; null for other entries.
uint32_t* xfword(const SymEnt* e) {
  if (!e || e->data <= 0 || (e->flags & SY_NOTOWN) || !(e->flags & K_HDR) ||
      (e->flags & (K_VECTOR | K_LIST)))
    return nullptr;
  return wordp(e->data + 4);
}

}  // namespace

int32_t xfoff(SymEnt* e) {
  uint32_t* w = xfword(e);
  if (!w) return 0;
  auto x = static_cast<int32_t>(*w);
  *w = 0;
  return x > 0 ? x : 0;
}

void xfon(SymEnt* e, int32_t xf) {
  if (xf <= 0) return;
  if (uint32_t* w = xfword(e))
    *w = static_cast<uint32_t>(xf);
  else
    freblk(xf);
}

int makvar(PtrRec* r, const PtrRec* tmpl, int32_t* count, int32_t n, int flag, int wsiz) {
  int kind = r->Flg;
  int64_t items;
  if (*count >= 0) {
    if (flag < 0) return 0;
    items = static_cast<int64_t>(r->Offs[0]) + *count;
  } else {
    *count = n;
    items = n;
    // A variable without data stored into through a window (a released
    // array given zqa(5) = 3, or zqa(2:3) = 1) holds the window and the
    // items before it, cleared.
    if ((kind & K_DIMS) && !(kind & (K_LIST | K_FILE | K_VECTOR))) {
      if (static_cast<int32_t>(r->Offs[3]) > n) *count = static_cast<int32_t>(r->Offs[3]);
      items = static_cast<int64_t>(r->Offs[0]) + *count;
    }
  }
  if (items < 0) items = 0;
  if (wsiz) r->Wsiz = static_cast<int16_t>(wsiz);
  int bits = stobits(r->Wsiz);
  int64_t bytes = (items * bits + 7) / 8;
  bool high = r->Flg2 & F2_HIGH;
  bool named = (kind & K_NAMED) && r->Idx > 0;
  bool scratch = !named && r->Stack == 0;
  // A file's buffers go back under the old layout before it changes.
  if ((kind & K_FILE) && !(kind & K_LIST)) rstbuf(r);
  r->Tot = static_cast<uint32_t>(items);

  if ((kind & K_HDR) && !(kind & K_LIST) && tmpl) {
    int64_t prod = 1;
    uint32_t d[3];
    for (int k = 0; k < 3; k++) {
      uint32_t v = tmpl->Offs[3 + k] ? tmpl->Offs[3 + k] : tmpl->Datdims[k];
      d[k] = v < 1 ? 1 : v;
      prod *= d[k];
    }
    // A template whose shape does not hold the items gives one row.
    if (prod != items) d[0] = static_cast<uint32_t>(items), d[1] = d[2] = 1;
    // A matrix or image given a solid's shape holds the plane it shows,
    // no further planes: its storage (or file) and its count are the
    // plane's.
    if ((tmpl->Flg & K_SOLID) && !(kind & K_SOLID) && d[2] > 1 && r->Offs[0] == 0) {
      d[2] = 1;
      items = int64_t{d[0]} * d[1];
      *count = static_cast<int32_t>(items);
      bytes = (items * bits + 7) / 8;
      r->Tot = static_cast<uint32_t>(items);
    }
    for (int k = 0; k < 3; k++) r->Datdims[k] = d[k];
  } else if (!(kind & K_LIST)) {
    r->Datdims[0] = static_cast<uint32_t>(items);
    r->Datdims[1] = r->Datdims[2] = 1;
  }

  if (kind & K_LIST) {
    SymEnt* e = named ? symptr(r->Idx) : nullptr;
    int32_t table = e ? e->data : static_cast<int32_t>(r->Addr);
    if (table <= 0) {
      int64_t sz = static_cast<int64_t>(r->Offs[3]) + r->Offs[0];
      if (sz < n) sz = n;
      if (sz < 1) sz = 1;
      table = takstk(sz * 4, 3, scratch);
      if (!table) {
        *count = -1;
        return 0;
      }
      zerwds(table, sz);
      if (e) {
        e->value = static_cast<uint32_t>(sz);
        e->data = table;
        ptrstk(table, r->Idx + 1);
      } else if (!scratch) {
        ptrstk(table, ownadr(r) + PR_ADDR);
      }
      r->Datdims[0] = static_cast<uint32_t>(sz);
      r->Datdims[1] = r->Datdims[2] = 1;
    }
    r->Addr = static_cast<uint32_t>(table);
    r->Data0 = bytadr(table);
    if (r->Offs[3] == 1) {
      r->XYZptr[0] = r->Offs[0];
      maklst(ownadr(r), static_cast<int32_t>(bytes), 0);
      int64_t slots;
      lsttbl(r, 0, &slots);
      if (r->Offs[0] >= slots || wordp(table)[r->Offs[0]] == 0) {
        *count = -1;
        return 0;
      }
    }
    r->Length = *count;
    return 0;
  }

  for (int k = 0; k < 3; k++) {
    uint32_t d = r->Datdims[k];
    r->Offs[3 + k] = d > r->Offs[k] ? d - r->Offs[k] : 0;
  }

  if (kind & K_FILE) {
    // A file holds the items its shape shows.
    if (kind & K_HDR)
      r->Tot = static_cast<uint32_t>(std::min<int64_t>(int64_t{r->Datdims[0]} * r->Datdims[1] * r->Datdims[2], UINT32_MAX));
    if (bufrec(r)) {
      filnew(r);
      blkadr(r, 2);
      r->Bufsiz = sizbuf(r);
    }
    r->Length = *count;
    return 0;
  }

  bool hdr = (kind & K_HDR) && !(kind & K_VECTOR);
  int where = high ? 2 : 1;
  int32_t block, itemsadr;
  if (hdr && high) {
    block = takstk(20, 1, scratch);
    if (!block) {
      *count = -1;
      return 0;
    }
    itemsadr = takstk(bytes, where, scratch);
    if (!itemsadr) {
      if (!scratch) freblk(block);
      *count = -1;
      return 0;
    }
    if (!scratch) ptrstk(itemsadr, block + 3);
  } else {
    block = takstk(bytes + (hdr ? 20 : 0), where, scratch);
    if (!block) {
      *count = -1;
      return 0;
    }
    itemsadr = hdr ? block + 5 : block;
  }
  if (hdr) {
    uint32_t* h = wordp(block);
    h[0] = r->Datdims[0];
    h[1] = r->Datdims[1];
    h[2] = r->Datdims[2];
    h[3] = static_cast<uint32_t>(itemsadr);
    h[4] = 0;
  }
  // New storage never shows what the words held before: it is cleared,
  // unless the caller is about to store every item of it.
  if (mkcover && items == n && r->Offs[0] == 0 && r->Offs[1] == 0 && r->Offs[2] == 0)
    mkfresh = {itemsadr, (bytes + 3) / 4};
  else
    zerwds(itemsadr, (bytes + 3) / 4);
  if (SymEnt* e = named ? symptr(r->Idx) : nullptr) {
    e->value = static_cast<uint32_t>(items);
    e->data = block;
    // Storage made for an alias is its own: it is freed and moved with it.
    e->flags = static_cast<uint16_t>(e->flags & ~SY_NOTOWN);
    ptrstk(block, r->Idx + 1);
  } else if (!scratch) {
    ptrstk(block, ownadr(r) + PR_ADDR);
  }
  r->Addr = static_cast<uint32_t>(itemsadr);
  r->Data0 = bytadr(itemsadr);
  r->Length = *count;
  return 0;
}

namespace {

AsnHold asnheld;

// Points a list of vectors (its entry and the entry's pointer record) at a
// block of n 8-byte records.
void setvls(SymEnt* e, PtrRec* p, int32_t block, uint32_t n) {
  p->Addr = static_cast<uint32_t>(block);
  p->Data0 = block > 0 ? bytadr(block) : 0;
  p->Length = static_cast<int32_t>(n);
  p->Tot = n;
  p->Datdims[0] = n;
  p->Datdims[1] = p->Datdims[2] = 1;
  e->value = n;
}

// The pointer record a list of vectors keeps in its entry, or null.
PtrRec* vlsrec(const SymEnt* e) {
  if (!e || e->data <= 0 || fndstk(e->data) <= 0) return nullptr;
  PtrRec* p = ptrrec(e->data);
  // A block of records is no pointer record: a record names itself.
  return p && p->PTR == static_cast<uint32_t>(e->data) && p->Wsiz == W_VEC ? p : nullptr;
}

// A new zeroed block of n records for list p, owned by p's Addr word; 0
// without room (error 42 reported).
int32_t vlsblk(const PtrRec* p, uint32_t n, bool high) {
  int32_t blk = takstk(static_cast<int64_t>(n) * 8, high ? 2 : 1, false);
  if (!blk) return 0;
  zerwds(blk, static_cast<int64_t>(n) * 2);
  ptrstk(blk, static_cast<int32_t>(p->PTR) + PR_ADDR);
  return blk;
}

// Remakes the list of vectors behind named record r to n zeroed records.
// Only the block of records changes; the entry keeps its pointer record, so
// the list stays a list of vectors. Without room the list is as it was.
bool remakevl(PtrRec* r, int32_t n) {
  SymEnt* e = symptr(r->Idx);
  PtrRec* p = vlsrec(e);
  if (!p) return false;
  bool high = r->Flg2 & F2_HIGH;
  int32_t blk = vlsblk(p, static_cast<uint32_t>(n), high);
  if (!blk) return false;
  int32_t old = static_cast<int32_t>(p->Addr);
  uint32_t oldn = e->value;
  if (asnheld.open && !(asnheld.ent == r->Idx && asnheld.ptr == e->data)) {
    // The first remake of this list under the hold: its records are kept.
    const auto* src = old > 0 ? static_cast<const uint8_t*>(stkptr(old)) : nullptr;
    asnheld.ent = r->Idx;
    asnheld.ptr = e->data;
    asnheld.recs.assign(src, src ? src + static_cast<size_t>(oldn) * 8 : src);
  }
  if (old > 0) freblk(old);
  setvls(e, p, blk, static_cast<uint32_t>(n));
  r->Addr = static_cast<uint32_t>(blk);
  r->Data0 = bytadr(blk);
  r->Datdims[0] = r->Datdims[1] = r->Datdims[2] = 0;
  r->Offs[0] = r->Offs[1] = 0;
  r->Offs[3] = 8;
  r->Offs[4] = 0;  // all the records
  r->Bufsiz = 0;   // prepared afresh from the entry
  r->Length = n;
  return true;
}

}  // namespace

// A file variable made anew holds zeros where a store leaves items
// unwritten, as new storage in memory does: its items are cleared through
// a copy of its record, which leaves the record as makvar left it.
static void filzero(const PtrRec* r) {
  PtrRec* w = mktmp(r, -1);
  if (!w) return;
  int32_t cnt, part, tot, ws;
  w->Bufsiz = -1;
  gtvarb(w, &cnt, &part, &tot, &ws, 1);
  for (int32_t i = 0; i < cnt && !stopped(); i++) {
    if (i >= part) {
      DMPVRB(w, &part, 1, i);
      if (part <= i) break;
    }
    IPSTAK(0, w);
  }
  DMPVRB(w, &part, 0, 0);
}

AsnHold asnbeg() {
  AsnHold outer = std::move(asnheld);
  asnheld = AsnHold{};
  asnheld.open = true;
  return outer;
}

void asnend(const AsnHold& outer, bool ok) {
  if (!ok && asnheld.ent > 0) {
    // Put the kept records back in place of the new ones.
    SymEnt* e = symptr(asnheld.ent);
    PtrRec* p = vlsrec(e);
    if (p && e->data == asnheld.ptr) {
      auto n = static_cast<uint32_t>(asnheld.recs.size() / 8);
      int32_t cur = static_cast<int32_t>(p->Addr);
      if (cur > 0) freblk(cur);
      setvls(e, p, 0, 0);
      int32_t blk = n ? vlsblk(p, n, e->flags & SY_HIGH) : 0;
      if (blk) {
        std::memcpy(stkptr(blk), asnheld.recs.data(), asnheld.recs.size());
        setvls(e, p, blk, n);
      }
    }
  }
  asnheld = outer;
}

int asnvrb(PtrRec* r, int32_t n, const PtrRec* tmpl, int mode) {
  int32_t count, part, total, wsiz;
  if (r->Store == ST_NOSTORE) {
    error(1, 58);
    return -2;
  }
  if (r->Store == ST_GONE) {
    error(0, 59);  // no window left to take the items
    return -2;
  }
  int kind = gtvarb(r, &count, &part, &total, &wsiz, 115);
  if (mode == 2 && count >= n) return 1;
  if (r->Store == ST_KEEPWIN) {
    if (mode >= 0 && count < n) {
      error(0, 59);
      return -2;
    }
    return mode;
  }
  if (kind == K_CONST || kind == K_STRING || kind == 34) {
    error(0, 58);
    return -2;
  }
  if ((kind & K_STRING) && !(kind & K_LIST) && (kind & K_NAMED) && !(kind & K_NOSTK) && r->Idx > 0) {
    // A window on part of a string takes the text in place: the characters
    // outside it stay, and text longer than the window does not fit.
    const SymEnt* e = symptr(r->Idx);
    if (e && e->data > 0 && count >= 0 && (r->Offs[0] != 0 || int64_t(count) < int64_t(e->value))) {
      if (count < n) {
        error(0, 59);
        return -2;
      }
      return mode;
    }
  }
  if ((kind & K_NUMBER) && (kind & K_NAMED) && !(kind & K_NOSTK) && r->Idx > 0) {
    // A released number has no data: a store gives it new storage rather
    // than going through its empty address.
    SymEnt* e = symptr(r->Idx);
    if (e && e->data <= 0) {
      int32_t words = std::max(1, (stobits(r->Wsiz) + 31) / 32);
      int32_t blk = 0;
      if (getstk(&blk, words, 4, 1, 0) < 1 || blk <= 0) return -2;
      for (int32_t i = 0; i < words; i++) *wordp(blk + i) = 0;
      e = symptr(r->Idx);
      e->data = blk;
      e->flags = static_cast<uint16_t>((e->flags | SY_VALUE) & ~SY_NOTOWN);
      r->Addr = static_cast<uint32_t>(blk);
      LDVARB(r, &part, 0);
    }
  }
  if (!(kind & K_DATA) || ((kind & K_VECTOR) && !(kind & K_MATRIX))) return mode;

  bool whole = (kind & K_LIST) && (kind & 1);
  if (whole)
    count = -1;
  else if (kind & K_LIST)
    count = total;

  // A list of vectors seen whole, record by record: a new count remakes its
  // block of records. One without its pointer record yet is made below.
  if ((kind & (K_VECTOR | K_MATRIX)) == (K_VECTOR | K_MATRIX) && (kind & K_NAMED) &&
      !(kind & K_NOSTK) && r->Idx > 0 && r->Wsiz == W_VEC && vlsrec(symptr(r->Idx))) {
    // An empty list takes the records it is given.
    if (total <= 0 && n >= 1 && mode >= 0) return remakevl(r, n) ? mode : -2;
    if (n < 1 || count != total || count == n || (n == 1 && mode <= 0)) {
      if (mode >= 0 && count < n) {
        error(0, 59);
        return -2;
      }
      return mode;
    }
    return remakevl(r, n) ? mode : -2;
  }

  bool hdrk = (kind & K_HDR) && !(kind & K_VECTOR);
  // A matrix, image or solid given no items keeps its shape and its data;
  // so does a file variable (a file holds one item at least).
  bool keep = n < 1 && (hdrk || (kind & K_FILE)) && !(kind & K_LIST);
  bool drop = count == total && (count != n || hdrk) && !(n == 1 && mode <= 0) && !keep;
  if (whole && static_cast<int32_t>(r->Offs[4]) <= 0) drop = true;
  // A variable remade for the result keeps its storage until the new one
  // is made: without room for both it stays as it was.
  SymEnt old{};
  PtrRec before;
  bool held = false;
  if (drop) {
    if ((kind & K_NAMED) && !(kind & K_NOSTK) && r->Idx > 0) {
      if (whole || ((kind & K_LIST) && (kind & K_VALUE))) {
        uint32_t x0 = r->XYZptr[0];
        for (uint32_t i = 0; i < r->Offs[3]; i++) lstdel(ownadr(r), static_cast<int32_t>(x0 + i));
      } else if (!(kind & K_VALUE)) {
        SymEnt* e = symptr(r->Idx);
        if (e && mode >= 0) {
          // The entry lets go of its blocks (which no longer move with it).
          old = *e;
          before = *r;
          held = true;
          e->value = 0;
          e->data = 0;
        } else {
          erasvb(e);
        }
        r->Addr = 0;
        r->Bufsiz = 0;
        r->Datdims[0] = r->Datdims[1] = r->Datdims[2] = 0;
        // Remade whole: its old extent does not size the new storage.
        if (!(kind & K_LIST)) r->Offs[3] = 0;
        // A list made anew holds exactly the items it is given: its old
        // extent does not size the new element table (an extent of one
        // still makes the one element a text is stored into).
        if (kind & K_LIST) r->Offs[3] = std::min<uint32_t>(r->Offs[3], 1);
      }
    }
    // Remade whole, through any name (an alias too): its old extent does
    // not size the new storage.
    if (!(kind & K_LIST)) r->Offs[3] = 0;
    total = 0;
    count = -1;
  }
  if (mode < 0) return mode;
  if (count < n && total > 0 && !whole) {
    error(0, 59);
    return -2;
  }
  if (total <= 0) {
    makvar(r, tmpl, &count, n, 0, r->Wsiz);
    if ((kind & K_FILE) && !(kind & K_LIST) && !mkcover && count >= 1) filzero(r);
    if (held) {
      SymEnt* e = symptr(r->Idx);
      if (count < 0 && e) {
        // No room: the old storage is the variable's again.
        e->value = old.value;
        e->data = old.data;
        std::memcpy(r, &before, sizeof before);
      } else {
        // The variable keeps its transform on its new storage.
        xfon(e, xfoff(&old));
        erasvb(&old);
      }
    }
    if (count < 1) return -2;
  } else if (whole && n != 1) {
    int32_t ny = static_cast<int32_t>(r->Offs[4]);
    int32_t len = ny > 0 ? static_cast<int32_t>(r->Offs[1]) + ny : n;
    // maklst takes bytes: an element of another list holds len items.
    int64_t bytes = len;
    if (!(kind & K_STRING)) bytes = (static_cast<int64_t>(len) * stobits(r->Wsiz) + 7) / 8;
    maklst(ownadr(r), static_cast<int32_t>(bytes > INT32_MAX ? INT32_MAX : bytes), 0);
    r->Bufsiz = ny > 0 ? ny : n;
  }
  return mode;
}

// ---------------------------------------------------------------------------
// Windows.

int32_t chkoff(PtrRec* r, int kind, int32_t* count, int32_t* part, int32_t n, uint32_t* offs) {
  int nd = (kind & K_SOLID) ? 3 : (kind & (K_MATRIX | K_IMAGE)) ? 2 : 1;
  wide len = 1;
  bool unknown = false;
  for (int k = 0; k < nd; k++) {
    int64_t dim = nd > 1 ? static_cast<int64_t>(r->Datdims[k])
                         : (kind & K_LIST) ? static_cast<int64_t>(r->Datdims[0]) : *count;
    int64_t org = offs[k];
    int32_t ext = static_cast<int32_t>(offs[3 + k]);
    if (ext == -101) {
      unknown = true;
      continue;
    }
    if (dim > 0) {
      if (org >= dim) {
        r->Length = 0;
        return 0;
      }
      if (ext <= 0 || ext > dim - org) ext = static_cast<int32_t>(dim - org);
    } else if (ext < 1) {
      // No data and no extent: the size the window needs is not known.
      r->Length = -1;
      if (*count < 1) *count = -1;
      return 0;
    }
    offs[3 + k] = static_cast<uint32_t>(ext);
    len *= ext;
  }
  if (len > INT32_MAX) len = INT32_MAX;
  r->Length = unknown ? -1 : static_cast<int32_t>(len);
  int32_t need = static_cast<int32_t>(len);
  if (*count < 1) *count = -need;
  if (unknown || (kind & K_LIST))
    *part = -1;
  else if (*part <= 0)
    *part = sbufdm(r, offs, n);
  for (int k = 0; k < 3; k++) r->XYZptr[k] = offs[k];
  return r->Length;
}

namespace {

// A file-backed record keeps the record its file layer chose: its rows may
// lie at fixed places (strips, padded or packed rows), blocks of a small
// window's size could number more than a block number counts (16 bits),
// and records that share its buffers keep using their size. So does any
// record whose buffers are shared (a pointer to a device variable and the
// windows of it): the others count their blocks in that size.
bool keeprec(const PtrRec* r) {
  if (r->Flg & K_FILE) return true;
  const BufRec* b = bufrec(r);
  return b && (b->Pflg & 1);
}

}  // namespace

int32_t sbufdm(PtrRec* r, const uint32_t* offs, int32_t n) {
  BufRec* b = bufrec(r);
  bool win = b && (b->Bflg & 2);
  int kind = r->Flg;
  int nd = (kind & K_SOLID) ? 3 : (kind & (K_MATRIX | K_IMAGE | K_LIST)) ? 2 : 1;
  wide prod = 1;
  uint32_t ext[3] = {1, 1, 1};
  bool rows = true;
  for (int k = 0; k < nd; k++) {
    int64_t e = offs[3 + k];
    if (e < 1) e = 1;
    if (!win && !rows) e = 1;
    if (win && k == 0 && (e & 1)) e++;
    if (n > 0 && prod * e > n) e = n / prod > 0 ? static_cast<int64_t>(n / prod) : 1;
    ext[k] = static_cast<uint32_t>(e);
    if (!win && e < r->Datdims[k]) rows = false;
    prod *= e;
  }
  if (b) {
    if (win || b->Bufdims[0] == 0) {
      int64_t rem = n > 0 ? n : narrow(prod);
      for (int k = 0; k < 3; k++) {
        int64_t d = k < nd ? ext[k] : 1;
        int64_t v = rem < d ? rem : d;
        if (v < 1) v = 1;
        b->Bufdims[k] = static_cast<uint32_t>(v);
        rem /= v;
      }
    }
  }
  if (prod > INT32_MAX) prod = INT32_MAX;
  if (prod != n && !keeprec(r)) {
    r->Rwds = static_cast<int32_t>(prod);
    // Items narrower than a byte fill the record's last byte in part.
    if (b) b->Rsiz = static_cast<int32_t>(narrow(((r->Wsiz & 63) * prod + 7) / 8));
  }
  return static_cast<int32_t>(prod);
}

int movptr(PtrRec* r) {
  if (r->Wsiz == W_VEC) {
    r->XYZptr[1]++;
    return 1;
  }
  int64_t carry = r->Bufsiz > 0 ? r->Bufsiz : 0;
  for (int k = 0; k < 3 && carry > 0; k++) {
    int64_t ext = static_cast<int32_t>(r->Offs[3 + k]);
    if (ext < 1) continue;
    int64_t org = r->Offs[k];
    int64_t t = static_cast<int64_t>(r->XYZptr[k]) + carry - org;
    if (t < 0) t = 0;
    r->XYZptr[k] = static_cast<uint32_t>(org + t % ext);
    carry = t / ext;
  }
  // Items carried out of the last axis: the window is done.
  return carry > 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Lists.

namespace {

// Element n: in place, or (copy set) a terminated copy when a string
// window ends inside the element.
uint8_t* lstget(PtrRec* r, int32_t n, int32_t* length, int32_t table, bool copy) {
  *length = 0;
  int64_t slots;
  int32_t t = lsttbl(r, table, &slots);
  if (!t || n < 0 || n >= slots) return nullptr;
  uint32_t slot = wordp(t)[n];
  if (!slot) return nullptr;
  int32_t el = t + static_cast<int32_t>(slot);
  uint8_t* p = static_cast<uint8_t*>(stkptr(el));
  if (strlst(r)) {
    int32_t L = p[0];
    int32_t start = 0, len = L;
    if (r && static_cast<int32_t>(r->Offs[4]) >= 1) {
      start = r->Offs[1] < static_cast<uint32_t>(L) ? static_cast<int32_t>(r->Offs[1]) : L;
      int32_t ny = static_cast<int32_t>(r->Offs[4]);
      len = L - start < ny ? L - start : ny;
    }
    *length = len;
    if (r) {
      r->Dptr = addref(bytadr(el), 1 + start);
      r->Bitp = 0;
    }
    if (start + len == L || !copy) return p + 1 + start;
    // The window ends inside the element: a terminated copy, so that the
    // element keeps its later characters.
    auto* c = static_cast<uint8_t*>(getbuf(len + 1));
    if (!c) return p + 1 + start;
    memcpy(c, p + 1 + start, static_cast<size_t>(len));
    c[len] = 0;
    return c;
  }
  *length = static_cast<int32_t>(wordp(el)[3]);
  if (r) {
    r->Dptr = addref(bytadr(el), LST_HDR);
    r->Bitp = 0;
  }
  return p + LST_HDR;
}

}  // namespace

uint8_t* lstptr(PtrRec* r, int32_t n, int32_t* length, int32_t table) {
  return lstget(r, n, length, table, true);
}

int32_t lstelm(PtrRec* r, int32_t n) {
  int32_t len;
  lstget(r, n, &len, 0, false);
  return len;
}

int32_t lstslots(const PtrRec* r, int32_t table) {
  int64_t slots;
  if (!lsttbl(r, table, &slots) || slots < 0) return 0;
  return slots > INT32_MAX ? INT32_MAX : static_cast<int32_t>(slots);
}

int lstdel(int32_t rec, int32_t n) {
  PtrRec* r = rec > 0 ? ptrrec(rec) : nullptr;
  int64_t slots;
  int32_t t = lsttbl(r, rec > 0 ? 0 : -rec, &slots);
  if (!t || n < 0 || n >= slots) return 0;
  uint32_t* sp = wordp(t) + n;
  if (*sp) {
    int32_t el = t + static_cast<int32_t>(*sp);
    *sp = 0;
    freblk(el);
  }
  return 0;
}

int maklst(int32_t rec, int32_t length, int32_t n) {
  PtrRec* r = rec > 0 ? ptrrec(rec) : nullptr;
  if (r) n = static_cast<int32_t>(r->XYZptr[0]);
  bool str = strlst(r);
  // A store through a character window (ny above 0) of a string element:
  // the element must reach the window's end, and keeps its other characters.
  bool win = r && str && static_cast<int32_t>(r->Offs[4]) > 0;
  if (win) {
    int64_t wend = static_cast<int64_t>(r->Offs[1]) + static_cast<int32_t>(r->Offs[4]);
    if (length > wend) length = static_cast<int32_t>(wend);
  }
  if (str && length > 255) length = 255;
  int64_t slots;
  int32_t t = lsttbl(r, rec > 0 ? 0 : -rec, &slots);
  if (!t || n < 0 || n >= slots) return 0;
  uint32_t* sp = wordp(t) + n;
  int32_t el = *sp ? t + static_cast<int32_t>(*sp) : 0;
  int64_t have = -1;
  if (el) {
    if (str)
      have = static_cast<uint8_t*>(stkptr(el))[0];
    else
      have = static_cast<int64_t>(wordp(el)[4]) - LST_HDR;
  }
  if (win && length >= 1 && have > length) length = static_cast<int32_t>(have);
  if (!el || have < length || length < 1) {
    uint8_t old[256];
    int oldn = 0;
    if (win && el && length >= 1) {
      oldn = static_cast<int>(have);
      memcpy(old, static_cast<uint8_t*>(stkptr(el)) + 1, static_cast<size_t>(oldn));
    }
    lstdel(rec > 0 ? rec : -t, n);
    el = 0;
    if (length < 1) return 0;
    int32_t bytes = length + (str ? 2 : LST_HDR);
    el = takstk(bytes, 3, false);
    if (!el) return 0;
    zerwds(el, (bytes + 3) / 4);
    sp = wordp(t) + n;
    *sp = static_cast<uint32_t>(el - t);
    ownnew(el, t + n);
    if (!str) wordp(el)[4] = static_cast<uint32_t>(bytes);
    if (win) {
      // The old characters, then blanks up to the window.
      uint8_t* q = static_cast<uint8_t*>(stkptr(el)) + 1;
      memcpy(q, old, static_cast<size_t>(oldn));
      memset(q + oldn, ' ', static_cast<size_t>(length - oldn));
    }
  }
  uint8_t* p = static_cast<uint8_t*>(stkptr(el));
  if (str) {
    p[0] = static_cast<uint8_t>(length);
    p[1 + length] = 0;
  } else {
    int bits = r ? (r->Wsiz & 63) : 8;
    wordp(el)[3] = static_cast<uint32_t>(static_cast<int64_t>(length) * 8 / (bits ? bits : 8));
  }
  if (r) {
    r->Dptr = addref(bytadr(el), str ? 1 : LST_HDR);
    r->Bitp = 0;
  }
  return 0;
}

// ---------------------------------------------------------------------------

void* ptrdat(const PtrRec* r) { return stkptr(static_cast<int32_t>(r->Addr)); }

PtrRec* getvar(int32_t handle) {
  PtrRec* r = ptrrec(handle);
  if (!r) return nullptr;
  int32_t c, p, t, w;
  gtvarb(r, &c, &p, &t, &w, 0);
  return r;
}

double getnum(PtrRec* r, double dflt) {
  if (!r) return dflt;
  int32_t c, p, t, w;
  int kind = gtvarb(r, &c, &p, &t, &w, 0);
  if (!kind || t <= 0 || c == 0) return dflt;
  if (p < 1) LDVARB(r, &p, 0);
  if (p < 1) return dflt;
  return GSTACK(r);
}

int32_t getarr(PtrRec* r, void* buf, int32_t max, int wsiz) {
  int32_t c, p, t, w;
  int kind = gtvarb(r, &c, &p, &t, &w, 0);
  if (!kind || c < 1) return 0;
  int32_t n = c < max ? c : max;
  int step = (wsiz & 63) / 8;
  uint8_t* q = static_cast<uint8_t*>(buf);
  for (int32_t i = 0; i < n; i++) {
    if (i >= p) {
      LDVARB(r, &p, i);
      if (p <= i) return i;
    }
    putval(GSTACK(r), q + static_cast<int64_t>(i) * step, wsiz);
  }
  return n;
}

// ---------------------------------------------------------------------------
// The record dump.

int shoptr(const PtrRec* r) {
  int u = lstlun;
  if (!r) {
    jprintf(u, "NULL Pointer\n");
    return 0;
  }
  int kind = r->Flg;
  jprintf(u, "PTR = %ld  Flg = %d.\n", static_cast<long>(r->PTR), kind);
  if (kind == 0) {
    jprintf(u, "\tEmpty Ptr\n");
    return 0;
  }
  if (kind <= 15) {
    const uint32_t* w = reinterpret_cast<const uint32_t*>(r);
    int32_t nargs = static_cast<int32_t>(w[0]);
    jprintf(u, "  Expression Ptr   Nargs= %d\n  ", nargs);
    for (int i = 0; i < nargs && i < 20 && i < 29; i++)
      jprintf(u, " %6ld", static_cast<long>(static_cast<int32_t>(w[1 + i])));
    jprintf(u, "\n");
    return 0;
  }
  jprintf(u, "  Flg=\t%#-6oo\tIdx= %-6ld Wsiz= %-3d Dptr= %ld ", kind, static_cast<long>(r->Idx),
          r->Wsiz, static_cast<long>(r->Dptr));
  if (kind == K_CONST) {
    // The value is one item of the record's word size held in Addr.
    uint8_t item[4], bp = 0;
    int step = 0;
    memcpy(item, &r->Addr, 4);
    jprintf(u, "Value= %9.2f\n", lditm(item, r->Wsiz, &bp, &step));
  } else if (kind == K_NAMED) {
    jprintf(u, "Addr= %-7ld\n", static_cast<long>(static_cast<int32_t>(r->Addr)));
  } else {
    jprintf(u, "Addr= %-7ld Rwds= %ld\n", static_cast<long>(static_cast<int32_t>(r->Addr)),
            static_cast<long>(r->Rwds));
  }
  if (!(kind & 0x7E9)) return 0;
  jprintf(u, "  Flg2= %#-6oo\tNdims = %3d\tWbyts = %3d\t", r->Flg2, r->Ndims, r->Wbyts);
  if (r->Stack) jprintf(u, " Stack = %7ld", static_cast<long>(r->Stack));
  if (r->Page) jprintf(u, " Page = %8oo\t", r->Page);
  jprintf(u, "\n\tLength= %-9ld Offs: %6ld %6ld %6ld %6ld %6ld %6ld\n", static_cast<long>(r->Length),
          static_cast<long>(r->Offs[0]), static_cast<long>(r->Offs[1]),
          static_cast<long>(r->Offs[2]), static_cast<long>(r->Offs[3]),
          static_cast<long>(r->Offs[4]), static_cast<long>(r->Offs[5]));
  jprintf(u, "  Bufsiz= %-9ld Tot= %-9ld Mptr= %-7ld (%d,%d) Data0= %ld\n",
          static_cast<long>(r->Bufsiz), static_cast<long>(r->Tot),
          static_cast<long>(static_cast<int32_t>(r->Mptr)), static_cast<int16_t>(r->Mptr & 0xFFFF),
          static_cast<int16_t>(r->Mptr >> 16), static_cast<long>(r->Data0));
  if (const BufRec* b = bufrec(r)) {
    jprintf(u, "  BPTR=%7ld Pflg=%d Lnks=%d Bflg= %d Rsiz= %ld", static_cast<long>(b->BPTR), b->Pflg,
            b->Lnks, b->Bflg, static_cast<long>(b->Rsiz));
    jprintf(u, " Bksiz= %-5ld Actv= %d", static_cast<long>(b->Bksiz), b->Actv);
    int nb = (b->Actv & 0x40) ? 1 : 3;
    for (int i = 0; i < nb; i++) {
      jprintf(u, "\n  %d: Blk=%4d F=%3d", i, b->B[i].Blk, b->F[i]);
      if (b->B[i].Blk >= 0)
        jprintf(u, ": I0=%5d Org=%6ld %6ld %6ld Siz=%4d %4d %4d", b->B[i].I0,
                static_cast<long>(b->Org[i][0]), static_cast<long>(b->Org[i][1]),
                static_cast<long>(b->Org[i][2]), b->B[i].Siz[0], b->B[i].Siz[1], b->B[i].Siz[2]);
    }
    jprintf(u, "\n  Bufdims: %9ld %9ld %9ld\n", static_cast<long>(b->Bufdims[0]),
            static_cast<long>(b->Bufdims[1]), static_cast<long>(b->Bufdims[2]));
  }
  if (const FilRec* f = filrec(r)) {
    jprintf(u, "  FILE:  Ptr=%ld  Lun=%d  Enum=%d  Mod=%d  Flg=%d  Pad=%d  Frec=%d  Nam= %.256s\n",
            static_cast<long>(f->Ptr), f->Lun, f->Enum, f->Mod, f->Flg, f->Pad, f->Frec, f->Nam);
    if (f->Strip > 0) {
      const uint32_t* st = wordp(f->Strip);
      int32_t cnt = static_cast<int32_t>(st[0]);
      jprintf(u, "TIFF: %d flag, %d strips  Pack:%ld\n", f->Flg & 60, cnt, static_cast<long>(f->Pack));
      int lim = (trcmsk & 4) ? cnt : (cnt < 20 ? cnt : 20);
      for (int i = 0; i < lim; i++) {
        jprintf(u, "   %6ld (%5ld)", static_cast<long>(st[1 + i]), static_cast<long>(st[1 + cnt + i]));
        if (i % 4 == 3 || i == lim - 1) jprintf(u, "\n");
      }
    }
  }
  jprintf(u, "  XYZptr:  %9ld %9ld %9ld\n", static_cast<long>(r->XYZptr[0]),
          static_cast<long>(r->XYZptr[1]), static_cast<long>(r->XYZptr[2]));
  jprintf(u, "  Datdims: %9ld %9ld %9ld\n", static_cast<long>(r->Datdims[0]),
          static_cast<long>(r->Datdims[1]), static_cast<long>(r->Datdims[2]));
  if ((kind & K_ARGS) && r->Args > 0) {
    const uint32_t* w = wordp(r->Args);
    int nargs = r->Wsiz;
    jprintf(u, "  Cmdargs (Ptr=%ld,Nargs=%2d):\n   ", static_cast<long>(w[0]), nargs);
    int lim = nargs < 20 ? nargs : 20;
    for (int i = 0; i < lim; i++) {
      jprintf(u, " %6ld", static_cast<long>(static_cast<int32_t>(w[1 + i])));
      if (i == 6 || i == 14) jprintf(u, "\n   ");
    }
    jprintf(u, "\n");
  }
  if ((r->Flg2 & F2_XFORM) && r->Xfrm > 0) {
    const XfmRec* x = xfmrec(r);
    jprintf(u, "  Rotate:  %9.2f %9.2f %9.2f\n", static_cast<double>(x->Rotate[0]),
            static_cast<double>(x->Rotate[1]), static_cast<double>(x->Rotate[2]));
    jprintf(u, "  Scale:   %9.2f %9.2f %9.2f\n", static_cast<double>(x->Scale[0]),
            static_cast<double>(x->Scale[1]), static_cast<double>(x->Scale[2]));
    jprintf(u, "  Offset:  %9d %9d %9d\n", x->Offset[0], x->Offset[1], x->Offset[2]);
    jprintf(u, "  Pin:  %9d %9d %9d\n", x->Pin[0], x->Pin[1], x->Pin[2]);
    jprintf(u, "  Matrix:\n\t%9.3f %9.3f %9.3f\n", static_cast<double>(x->Matrix[0][0]),
            static_cast<double>(x->Matrix[0][1]), static_cast<double>(x->Matrix[0][2]));
    jprintf(u, "    %9.3f %9.3f %9.3f\n\t%9.3f %9.3f %9.3f\n", static_cast<double>(x->Matrix[1][0]),
            static_cast<double>(x->Matrix[1][1]), static_cast<double>(x->Matrix[1][2]),
            static_cast<double>(x->Matrix[2][0]), static_cast<double>(x->Matrix[2][1]),
            static_cast<double>(x->Matrix[2][2]));
  }
  return 0;
}
