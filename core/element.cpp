// Typed element access: preparing records, loading and dumping parts, and
// the item accessors with their store rules.
#include "core/element.h"

#include <algorithm>
#include <cstring>

#include "core/blkbuf.h"
#include "core/convert.h"
#include "core/output.h"
#include "core/symbols.h"
#include "files/filevar.h"
#include "lang/names.h"
#include "realtime/devices/devvar.h"
#include "ui/events.h"

namespace {

// The record's own stack address.
int32_t ownadr(const PtrRec* r) { return stkadr(r); }

// Points Dptr and Data0 at the record's data (Addr), or at the outside data
// a held reference names: its first item, at the first bit of its byte
// (items narrower than a byte written before moved the bit position on).
void setdat(PtrRec* r) {
  r->Bitp = 0;
  int32_t a = static_cast<int32_t>(r->Addr);
  if (a < 0) {
    r->Data0 = a;
    r->Dptr = 0;
  } else {
    r->Data0 = r->Dptr = bytadr(a);
  }
}

bool tracev() { return (trcmsk & 0x4000) && !(pflags & 1); }

// Stores a three-byte item, low byte first. The byte step, 3.
int put24(uint8_t* p, uint32_t u) {
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  return 3;
}

// Stores a field of wsiz bits (1, 2 or 4) at bit position *bitp of byte p,
// the first field in the high bits, and moves the position on. The byte
// step: 1 once the byte is full, else 0.
int putfld(uint8_t* p, uint8_t* bitp, int wsiz, uint32_t field) {
  int b = (*bitp & 7) & ~(wsiz - 1);
  int sh = 8 - b - wsiz;
  uint32_t mask = ((1u << wsiz) - 1) << sh;
  p[0] = static_cast<uint8_t>((p[0] & ~mask) | (field << sh));
  b += wsiz;
  *bitp = static_cast<uint8_t>(b & 7);
  return b >= 8 ? 1 : 0;
}

}  // namespace

bool tracei() { return (trcmsk & 0x8000) && !(pflags & 1); }

// ---------------------------------------------------------------------------
// Item reads and stores.

double lditm(const uint8_t* p, int wsiz, uint8_t* bitp, int* step) {
  switch (wsiz) {
    case W_BYTE:
    case W_VEC:
      *step = 1;
      return p[0];
    case W_SHORT: {
      int16_t s;
      memcpy(&s, p, 2);
      *step = 2;
      return s == INT16_MIN ? -0.0 : static_cast<double>(s);
    }
    case W_RGB:
      *step = 3;
      return static_cast<double>(p[0] | (p[1] << 8) | (p[2] << 16));
    case W_LONG: {
      int32_t l;
      memcpy(&l, p, 4);
      *step = 4;
      return l == INT32_MIN ? -0.0 : static_cast<double>(static_cast<float>(l));
    }
    case W_FLOAT: {
      float f;
      memcpy(&f, p, 4);
      *step = 4;
      return f;
    }
    case W_LONIB:
      *step = 1;
      return p[0] & 15;
    case W_HINIB:
      *step = 1;
      return p[0] >> 4;
    case W_BIT:
    case W_CRUMB:
    case W_NIBBLE: {
      int b = (*bitp & 7) & ~(wsiz - 1);
      int v = (p[0] >> (8 - b - wsiz)) & ((1 << wsiz) - 1);
      b += wsiz;
      *step = b >= 8 ? 1 : 0;
      *bitp = static_cast<uint8_t>(b & 7);
      return v;
    }
    default:
      *step = 0;
      return 0.0;
  }
}

int32_t ilditm(const uint8_t* p, int wsiz, uint8_t* bitp, int* step) {
  switch (wsiz) {
    case W_SHORT: {
      int16_t s;
      memcpy(&s, p, 2);
      *step = 2;
      return s;
    }
    case W_LONG: {
      int32_t l;
      memcpy(&l, p, 4);
      *step = 4;
      return l;
    }
    case W_FLOAT: {
      float f;
      memcpy(&f, p, 4);
      *step = 4;
      return ftrunc(f);
    }
    default:
      // Bytes, three bytes, nibbles and bit fields are exact as doubles.
      return static_cast<int32_t>(lditm(p, wsiz, bitp, step));
  }
}

int stitm(double v, uint8_t* p, int wsiz, uint8_t* bitp, bool nc) {
  float f = nrwflt(v);
  switch (wsiz) {
    case W_BYTE:
    case W_VEC:
      p[0] = stfl8(f, nc);
      return 1;
    case W_SHORT: {
      uint16_t s = stfl16(f, nc);
      memcpy(p, &s, 2);
      return 2;
    }
    case W_RGB:
      return put24(p, stfl24(f, nc));
    case W_LONG: {
      uint32_t u = stfl32(f, nc);
      memcpy(p, &u, 4);
      return 4;
    }
    case W_FLOAT:
      memcpy(p, &f, 4);
      return 4;
    case W_LONIB:
      p[0] = static_cast<uint8_t>((p[0] & 0xF0) | stflfld(f, 4, nc));
      return 1;
    case W_HINIB:
      p[0] = static_cast<uint8_t>((p[0] & 0x0F) | (stflfld(f, 4, nc) << 4));
      return 1;
    case W_BIT:
    case W_CRUMB:
    case W_NIBBLE:
      return putfld(p, bitp, wsiz, stflfld(f, wsiz, nc));
    default:
      return 0;
  }
}

int istitm(int32_t v, uint8_t* p, int wsiz, uint8_t* bitp, bool nc) {
  switch (wsiz) {
    case W_BYTE:
    case W_VEC:
      p[0] = stin8(v, nc);
      return 1;
    case W_SHORT: {
      uint16_t s = stin16(v, nc);
      memcpy(p, &s, 2);
      return 2;
    }
    case W_RGB:
      return put24(p, static_cast<uint32_t>(v));
    case W_LONG:
      memcpy(p, &v, 4);
      return 4;
    case W_FLOAT: {
      float f = static_cast<float>(v);
      memcpy(p, &f, 4);
      return 4;
    }
    case W_LONIB:
      p[0] = static_cast<uint8_t>((p[0] & 0xF0) | stinfld(v, 4, nc));
      return 1;
    case W_HINIB:
      p[0] = static_cast<uint8_t>((p[0] & 0x0F) | (stinfld(v, 4, nc) << 4));
      return 1;
    case W_BIT:
    case W_CRUMB:
    case W_NIBBLE:
      return putfld(p, bitp, wsiz, stinfld(v, wsiz, nc));
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Item accessors through a record. A Number record's single item stays put.

double GSTACK(PtrRec* r) {
  int step;
  uint8_t bp = r->Bitp;
  int32_t from = r->Dptr;
  double v = lditm(dptr(r), r->Wsiz, &bp, &step);
  if (!(r->Flg & K_NUMBER)) {
    r->Dptr = addref(r->Dptr, step);
    r->Bitp = bp;
  }
  if (tracev())
    jprintf(dbglun, "GSTACK(%ld,%d) = %14.5f (%ld -> %ld,%d)\n", static_cast<long>(ownadr(r)),
            r->Wsiz, v, static_cast<long>(from), static_cast<long>(r->Dptr), r->Bitp);
  return v;
}

void PSTACK(double v, PtrRec* r) {
  uint8_t bp = r->Bitp;
  int32_t from = r->Dptr;
  uint8_t* p = dptr(r);
  int step = stitm(v, p, r->Wsiz, &bp, noclmp());
  if (tracev()) {
    uint32_t w = 0;
    memcpy(&w, p, step > 0 && step <= 4 ? static_cast<size_t>(step) : 1);
    jprintf(dbglun, "PSTACK(%14.5f,%ld,%d) [%ld -> %ld] %lo %lo\n", v,
            static_cast<long>(ownadr(r)), r->Wsiz, static_cast<long>(from),
            static_cast<long>(r->Flg & K_NUMBER ? from : from + step),
            static_cast<unsigned long>(w), static_cast<unsigned long>(aflags));
  }
  if (!(r->Flg & K_NUMBER)) {
    r->Dptr = addref(r->Dptr, step);
    r->Bitp = bp;
  }
}

int32_t igstak(PtrRec* r) {
  int step;
  uint8_t bp = r->Bitp;
  int32_t v = ilditm(dptr(r), r->Wsiz, &bp, &step);
  if (!(r->Flg & K_NUMBER)) {
    r->Dptr = addref(r->Dptr, step);
    r->Bitp = bp;
  }
  if (tracei())
    jprintf(dbglun, "IGSTAK(%ld,%d) = %14ld\n", static_cast<long>(ownadr(r)), r->Wsiz,
            static_cast<long>(v));
  return v;
}

void IPSTAK(int32_t v, PtrRec* r) {
  uint8_t bp = r->Bitp;
  int step = istitm(v, dptr(r), r->Wsiz, &bp, noclmp());
  if (tracei())
    jprintf(dbglun, "IPSTAK: %14ld = (%ld,%d,%d)\n", static_cast<long>(v),
            static_cast<long>(ownadr(r)), r->Wsiz, r->Bitp);
  if (!(r->Flg & K_NUMBER)) {
    r->Dptr = addref(r->Dptr, step);
    r->Bitp = bp;
  }
}

// ---------------------------------------------------------------------------
// Preparing a record.

namespace {

// Turns a Vector record into an array view of the selected components.
// Returns false (record emptied, error 111) for a selection that is none.
bool vecview(PtrRec* r, int* kind, int32_t* count, int32_t* total, int32_t* wsiz) {
  if (!(*kind & K_MATRIX)) {
    *count = *total = 1;
  } else {
    *count = static_cast<int32_t>(r->Offs[4]);
    *total = static_cast<int32_t>(r->Datdims[1]);
    if (BufRec* b = bufrec(r)) r->Rwds = b->Rsiz;
  }
  uint32_t o = r->Offs[0], ex = r->Offs[3];
  if (ex == 8) return true;
  int nw;
  uint32_t no;
  if (o < 3 && o + ex <= 3 && ex >= 1) {
    *count *= static_cast<int32_t>(ex);
    nw = W_SHORT;
    no = o;
  } else if ((o == 3 || o == 4) && ex == 1) {
    nw = o == 3 ? W_LONIB : W_HINIB;
    no = 6;
  } else if (o == 5 && ex == 1) {
    nw = W_BYTE;
    no = 7;
  } else {
    error(0, 111);
    r->Flg = 0;
    *count = 0;
    return false;
  }
  r->Offs[0] = no;
  r->XYZptr[0] = no;
  r->Wsiz = static_cast<int16_t>(nw);
  *wsiz = nw;
  *kind &= ~K_VECTOR;
  if (!(*kind & K_MATRIX)) *kind |= K_ARRAY;
  r->Flg = static_cast<uint16_t>(*kind);
  if (nw == W_SHORT) {
    if (BufRec* b = bufrec(r)) {
      // The view reads the file: a changed block that cannot be written
      // there first (its write said why) leaves nothing to read.
      flshio(r);
      for (int i = 0; i < 3; i++)
        if (b->F[i] == 2 && b->B[i].Blk > 0) {
          if (!(state & ST_ERROR)) error(0, 69);
          r->Flg = 0;
          *count = 0;
          return false;
        }
      auto* nb = static_cast<BufRec*>(zeroblk(sizeof(BufRec) | 1));
      if (nb) {
        uint32_t self = nb->BPTR;
        memcpy(nb, b, sizeof(BufRec));
        nb->BPTR = self;
        nb->Bufdims[0] /= 2;
        // The view loads blocks into buffers of its own: blocks it loaded
        // into the list's buffers would lie there under the list's old
        // block numbers. It starts with none loaded (the list's were
        // written out above), and its buffers go with the command.
        const int64_t bytes = static_cast<int64_t>(b->Rsiz) * ((b->Actv & 0x40) ? 1 : 3);
        void* mem = bytes > 0 && bytes <= INT32_MAX ? getbuf(static_cast<int32_t>(bytes)) : nullptr;
        if (!mem) {
          error(0, 42);
          r->Flg = 0;
          *count = 0;
          return false;
        }
        r->Addr = static_cast<uint32_t>(stkadr(mem));
        r->Data0 = bytadr(static_cast<int32_t>(r->Addr));
        for (int i = 0; i < 3; i++) {
          nb->B[i].Blk = 0;
          nb->F[i] = 0;
        }
        // Freeing the view frees neither these buffers nor the list's.
        nb->Lnks = 2;
        r->Bufp = static_cast<int32_t>(self);
      }
      r->Rwds /= 2;
    }
    r->Datdims[0] /= 2;
    *total *= 4;
  }
  r->Length = *count;
  return true;
}

}  // namespace

int gtvarb(PtrRec* r, int32_t* count, int32_t* part, int32_t* total, int32_t* wsiz, int mode) {
  *count = *part = *total = *wsiz = 0;
  if (!r) return 0;
  int kind = r->Flg;
  if (kind == 0 || ((kind & K_ARGS) && !(kind & (K_NAMED | K_FILE)))) return 0;
  *wsiz = r->Wsiz;
  *count = *total = r->Length;

  if (kind & K_NUMBER) {
    if ((kind & K_NOSTK) && mode == 0) {
      float v = 0.0f;
      if (kind & K_NAMED) {
        const SymEnt* e = symptr(r->Idx);
        void* p = e && e->data ? stkptr(e->data) : nullptr;
        if (p) v = nrwflt(getelm(p, r->Wsiz));
      } else {
        v = nrwflt(getprm(r->Idx));
      }
      memcpy(&r->Addr, &v, 4);
      r->Flg = K_CONST;
      r->Wsiz = W_FLOAT;
      kind = K_CONST;
      *wsiz = W_FLOAT;
    }
  } else if (kind == K_NAMED) {
    return K_NAMED;
  }

  // Writing marks the symbol entry as written.
  if (mode && (kind & K_NAMED))
    if (SymEnt* e = symptr(r->Idx)) e->nlen |= 0xF0;

  if (kind == K_STRING || (kind & K_NUMBER) || (r->Idx == -1 && !(kind & K_FILE))) {
    if (kind == K_STRING) r->Offs[3] = static_cast<uint32_t>(r->Length);
    // A list of no variable is walked again from its window's first item,
    // as a variable's is.
    if (kind & K_LIST) r->XYZptr[0] = r->Offs[0];
    LDVARB(r, part, 0);
    if (kind & K_DATA) {
      r->Tot = static_cast<uint32_t>(*part);
      r->Ndims = 1;
    }
    return kind;
  }

  int32_t pt = r->Bufsiz;
  if (pt == 0) {
    if (!(kind & K_NAMED)) {
      int32_t tot = 0, w = r->Wsiz;
      const bool file = kind & K_FILE;
      if (file)
        kind = gfilvb(r, kind, &tot, &w, mode);
      else
        kind = gdevvb(r, kind, &tot, &w, mode);
      *total = tot;
      // A text file read whole that holds nothing (now a text of its own)
      // has no items, as an empty text has.
      if (tot < 0 || (file && mode == 0 && tot == 0 && (kind & (K_FILE | K_STRING)) == K_STRING)) {
        *count = 0;
        return kind;
      }
      r->Wsiz = static_cast<int16_t>(w);
      if (bufrec(r) && r->Rwds > 0) rstbuf(r);
    } else {
      const SymEnt* e = symptr(r->Idx);
      int32_t tot = e ? static_cast<int32_t>(e->value) : 0;
      int32_t data = e ? e->data : 0;
      if (!(kind & K_VECTOR)) {
        if ((kind & K_HDR) && !(kind & K_LIST) && data != 0) {
          if (r->Datdims[0] == 0) {
            const uint32_t* h = wordp(data);
            for (int k = 0; k < 3; k++) r->Datdims[k] = h[k];
            r->Addr = h[3];
          }
        } else {
          r->Datdims[0] = static_cast<uint32_t>(tot);
          r->Datdims[1] = r->Datdims[2] = 1;
        }
      } else {
        if (kind & K_MATRIX) {
          r->Datdims[1] = static_cast<uint32_t>(tot);
        } else {
          tot = 1;
          r->Datdims[1] = 1;
        }
        tot *= 8;
        r->Datdims[0] = 8;
        r->Datdims[2] = 1;
      }
      *total = tot;
    }
    if (r->Wsiz == 0) {
      error(86, 71);
      *count = 0;
      return kind;
    }
    r->Wbyts = static_cast<uint8_t>((r->Wsiz & 63) / 8);
  }
  *wsiz = r->Wsiz;

  // The data's first item.
  int32_t a = static_cast<int32_t>(r->Addr);
  if (a > 0 || (a == 0 && (kind & K_NAMED)))
    r->Data0 = bytadr(a);
  else if (a < 0)
    r->Data0 = a;
  r->Ndims = (kind & K_SOLID) ? 3 : (kind & (K_MATRIX | K_IMAGE | K_LIST)) ? 2 : 1;

  if (pt < 1) {
    int32_t cnt = *total, ps = 0;
    // A file record prepared before counts the items of its file, not of
    // the window it had then (a copy of a window of it may be prepared
    // again with another).
    if (pt < 0 && (kind & K_FILE) && !(kind & K_LIST) && r->Datdims[0] > 0) {
      wide prod = wide{r->Datdims[0]} * std::max<uint32_t>(r->Datdims[1], 1) *
                  std::max<uint32_t>(r->Datdims[2], 1);
      cnt = static_cast<int32_t>(std::min<wide>(prod, INT32_MAX));
    }
    int32_t n = chkoff(r, kind, &cnt, &ps, bufrec(r) ? r->Rwds : 0, r->Offs);
    // A list's window counts elements; its items are counted below, so a
    // window of empty elements is still a window.
    *count = cnt >= 1 || (kind & K_LIST) ? n : cnt;
    if (n < 1 || *count < 1) return kind;
    r->Bufsiz = ps;
    if (BufRec* b = bufrec(r))
      b->Bksiz = static_cast<uint32_t>(ps);
    else if ((r->Flg2 & F2_HIGH) && (himemflag & 2) && a >= HIMEM_BASE)
      r->Page = static_cast<uint16_t>(mappag() + 0x1000);
  } else {
    // A prepared record starts again at its window origin. A named variable
    // of no dimensions (a string) counts its whole data, as when it was
    // first prepared, not its window.
    *count = r->Length;
    savoff(r);
    if ((kind & K_NAMED) && !(kind & (K_DIMS | K_VECTOR | K_NUMBER)) && r->Idx > 0)
      if (const SymEnt* e = symptr(r->Idx)) *total = static_cast<int32_t>(e->value);
  }

  if (!(kind & K_ARGS)) {
    if (kind & K_VECTOR) {
      if (!vecview(r, &kind, count, total, wsiz)) return 0;
    }
    if ((kind & K_DIMS) && !(kind & K_LIST) && *count > 0) {
      wide prod = 1;
      for (int k = 0; k < 3; k++)
        if (r->Datdims[k] > 1) prod *= r->Datdims[k];
      if (prod > INT32_MAX) prod = INT32_MAX;
      if (!(kind & K_VECTOR)) *total = static_cast<int32_t>(prod);
      r->Tot = static_cast<uint32_t>(prod);
    } else if (!(kind & K_LIST)) {
      r->Tot = static_cast<uint32_t>(*total);
    }
    *part = 0;
    if (!(kind & K_LIST)) {
      if (!bufrec(r)) {
        ptradr(r);
        *part = r->Bufsiz;
        if (mode == 0) movptr(r);
      } else if (mode) {
        blkadr(r, 2);
        *part = sizbuf(r);
      }
    } else {
      int32_t ne = static_cast<int32_t>(r->Offs[3]);
      *total = ne;
      r->Tot = static_cast<uint32_t>(ne);
      if (mode == 0 || ne == 1) {
        int64_t sum = 0;
        for (int32_t i = 0; i < ne; i++) {
          sum += lstelm(r, static_cast<int32_t>(r->Offs[0]) + i);
        }
        *count = static_cast<int32_t>(sum);
      } else {
        *count = -1;
      }
      r->Length = *count;
      r->XYZptr[0] = r->Offs[0];
      if (mode) {
        *part = lstelm(r, static_cast<int32_t>(r->XYZptr[0]));
        r->Data0 = r->Dptr;
      }
    }
    r->Wbyts = static_cast<uint8_t>((r->Wsiz & 63) / 8);
  }
  return kind;
}

int LDVARB(PtrRec* r, int32_t* part, int32_t base) {
  if (!r) {
    error(88, 71);
    *part = 0;
    return 0;
  }
  int kind = r->Flg;
  int32_t p;
  if (kind & K_NUMBER) {
    // A number without storage is read and written in its own Addr word.
    // Only the first 9 words are touched: a number may be a short head.
    if ((kind & (K_VALUE | K_NOSTK)) || static_cast<int32_t>(r->Addr) <= 0)
      r->Dptr = bytadr(ownadr(r) + PR_ADDR);
    else
      r->Dptr = bytadr(static_cast<int32_t>(r->Addr));
    p = 1;
  } else if (kind == K_STRING || (r->Idx == -1 && !(kind & K_LIST))) {
    p = r->Length;
    setdat(r);
  } else if (!bufrec(r)) {
    if (kind & K_LIST) {
      p = lstelm(r, static_cast<int32_t>(r->XYZptr[0]));
      r->XYZptr[0]++;
    } else {
      ptradr(r);
      p = r->Bufsiz;
      movptr(r);
    }
  } else {
    blkadr(r, 1);
    p = sizbuf(r);
    movptr(r);
  }
  // A single number is read per command: the throttled poll serves it.
  if (kind & K_NUMBER)
    pollio();
  else
    chkio(0);
  if (base > 0) p += base;
  *part = p;
  return 0;
}

int DMPVRB(PtrRec* r, int32_t* part, int advance, int32_t base) {
  if (!r) {
    *part = 0;
    return 0;
  }
  int kind = r->Flg;
  if (!(kind & K_NUMBER)) {
    chkio(0);
    int32_t p = 0;
    BufRec* b = bufrec(r);
    if ((kind & K_LIST) && !b) {
      // The next element of the window, when it exists.
      if (advance > 0) {
        r->XYZptr[0]++;
        if (r->XYZptr[0] < r->Offs[0] + r->Offs[3])
          p = lstelm(r, static_cast<int32_t>(r->XYZptr[0]));
      }
    } else {
      int more = advance > 0 ? movptr(r) : 0;
      if (!b) {
        if (more) {
          ptradr(r);
          p = r->Bufsiz;
        }
      } else if (!(kind & K_DIMS)) {
        error(89, 71);
        p = 0;
      } else if (!more) {
        flshio(r);
        p = 0;
      } else {
        blkadr(r, 2);
        p = sizbuf(r);
      }
    }
    *part = p + base;
  } else if (kind & K_NOSTK) {
    double v = GSTACK(r);
    if (kind & K_NAMED) {
      const SymEnt* e = symptr(r->Idx);
      void* p = e && e->data ? stkptr(e->data) : nullptr;
      if (p) putelm(v, p, r->Wsiz);
    } else {
      putprm(v, r->Idx);
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Positioning.

uint8_t* nxtbuf(PtrRec* r, int mode) {
  if (r->Flg & K_LIST) {
    lstelm(r, static_cast<int32_t>(r->XYZptr[0]));
  } else if (bufrec(r)) {
    blkadr(r, mode);
    sizbuf(r);
  } else {
    ptradr(r);
  }
  return dptr(r);
}

int savoff(PtrRec* r) {
  for (int k = 0; k < 3; k++) r->XYZptr[k] = r->Offs[k];
  return 0;
}

uint8_t* setpos(PtrRec* r, int32_t n) {
  if (r->Flg & K_LIST) {
    r->XYZptr[0] = static_cast<uint32_t>(n);
    lstelm(r, n);
    return dptr(r);
  }
  if (r->Tot == 0 || r->Wsiz == 0) {
    error(777, 71);
    return nullptr;
  }
  if (r->Flg & K_NUMBER) {
    // A number's one item: its record keeps no window (its extents are not
    // set), so only item 0 is reached, where the value lies.
    if (n != 0) {
      error(0, 196);
      return nullptr;
    }
    int32_t part = 0;
    LDVARB(r, &part, 0);
    return part > 0 ? dptr(r) : nullptr;
  }
  if (n < 0 || n >= r->Length) {
    error(0, 196);
    savoff(r);
    return nullptr;
  }
  uint32_t nx = r->Offs[3] ? r->Offs[3] : 1, ny = r->Offs[4] ? r->Offs[4] : 1;
  uint32_t u = static_cast<uint32_t>(n);
  r->XYZptr[0] = r->Offs[0] + u % nx;
  r->XYZptr[1] = r->Offs[1] + (u / nx) % ny;
  r->XYZptr[2] = r->Offs[2] + static_cast<uint32_t>(u / (static_cast<uint64_t>(nx) * ny));
  return nxtbuf(r, 1);
}

uint8_t* setxy(PtrRec* r, int32_t x, int32_t y, int mode) {
  r->XYZptr[0] = r->Offs[0] + static_cast<uint32_t>(x);
  r->XYZptr[1] = r->Offs[1] + static_cast<uint32_t>(y);
  if (bufrec(r)) {
    blkadr(r, mode);
    sizbuf(r);
  } else {
    ptradr(r);
  }
  return dptr(r);
}

int clpoff(PtrRec* r, int32_t tol) {
  int moved = 0;
  int nd = r->Ndims < 1 ? 1 : (r->Ndims > 3 ? 3 : r->Ndims);
  for (int k = 0; k < nd; k++) {
    int64_t pos = static_cast<int32_t>(r->XYZptr[k]);
    int64_t org = r->Offs[k], end = org + r->Offs[3 + k];
    if (pos < org) {
      if (org - pos > tol) moved++;
      r->XYZptr[k] = static_cast<uint32_t>(org);
    } else if (pos >= end) {
      if (pos - end >= tol) moved++;
      // The last position inside the window, so that no read leaves it.
      r->XYZptr[k] = static_cast<uint32_t>(end > org ? end - 1 : org);
    }
  }
  return moved;
}

// ---------------------------------------------------------------------------
// Items of plain memory.

int32_t getitm(const void* mem, int wsiz, int32_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(mem);
  switch (wsiz) {
    case W_BYTE:
      return p[n];
    case W_SHORT: {
      int16_t s;
      memcpy(&s, p + 2 * static_cast<int64_t>(n), 2);
      return s;
    }
    case W_RGB: {
      const uint8_t* q = p + 3 * static_cast<int64_t>(n);
      return (q[0] << 16) | (q[1] << 8) | q[2];
    }
    case W_LONG: {
      int32_t l;
      memcpy(&l, p + 4 * static_cast<int64_t>(n), 4);
      return l;
    }
    case W_FLOAT: {
      float f;
      memcpy(&f, p + 4 * static_cast<int64_t>(n), 4);
      return ftrunc(f);
    }
    default:
      return 0;
  }
}

double getitf(const void* mem, int wsiz, int32_t n) {
  if (wsiz == W_FLOAT) {
    float f;
    memcpy(&f, static_cast<const uint8_t*>(mem) + 4 * static_cast<int64_t>(n), 4);
    return f;
  }
  return getitm(mem, wsiz, n);
}

void putitm(int32_t v, void* mem, int wsiz, int32_t n) {
  uint8_t* p = static_cast<uint8_t*>(mem);
  switch (wsiz) {
    case W_BYTE:
      p[n] = static_cast<uint8_t>(v);
      break;
    case W_SHORT: {
      uint16_t s = static_cast<uint16_t>(static_cast<uint32_t>(v));
      memcpy(p + 2 * static_cast<int64_t>(n), &s, 2);
      break;
    }
    case W_LONG:
      memcpy(p + 4 * static_cast<int64_t>(n), &v, 4);
      break;
    case W_FLOAT: {
      float f = static_cast<float>(v);
      memcpy(p + 4 * static_cast<int64_t>(n), &f, 4);
      break;
    }
    default:
      break;
  }
}

void putitf(double v, void* mem, int wsiz, int32_t n) {
  if (wsiz == W_FLOAT) {
    float f = nrwflt(v);
    memcpy(static_cast<uint8_t*>(mem) + 4 * static_cast<int64_t>(n), &f, 4);
    return;
  }
  putitm(ftrunc(v + 0.5), mem, wsiz, n);
}

// Bytes and shorts are the parts of the aligned word that holds them;
// reading and writing exactly the item's bytes gives the same value without
// touching the memory around it.
double getelm(const void* addr, int wsiz) {
  const uint8_t* p = static_cast<const uint8_t*>(addr);
  switch (wsiz) {
    case W_BYTE:
      return p[0];
    case W_SHORT: {
      int16_t s;
      memcpy(&s, p, 2);
      return s;
    }
    case W_LONG: {
      int32_t l;
      memcpy(&l, p, 4);
      return static_cast<float>(l);
    }
    default: {
      float f;
      memcpy(&f, p, 4);
      return f;
    }
  }
}

void putelm(double v, void* addr, int wsiz) {
  uint8_t* p = static_cast<uint8_t*>(addr);
  switch (wsiz) {
    case W_BYTE:
      p[0] = static_cast<uint8_t>(toi8(v));
      break;
    case W_SHORT: {
      int16_t s = static_cast<int16_t>(toi16(v));
      memcpy(p, &s, 2);
      break;
    }
    case W_LONG: {
      int32_t l = toi32(v);
      memcpy(p, &l, 4);
      break;
    }
    default: {
      float f = nrwflt(v);
      memcpy(p, &f, 4);
      break;
    }
  }
}

// Copies bytes between the word memory at a stack address (plus a byte
// offset) and a buffer; mode & 2 copies the buffer into the memory. A held
// reference, a negative offset, or a range that leaves the low stack or
// high memory is refused (-1).
int memxfr(int32_t addr, int32_t offset, void* buf, int32_t bytes, int mode) {
  if (addr < 0 || offset < 0 || bytes < 0 || !lowstk) return -1;
  int64_t b0 = static_cast<int64_t>(addr) * 4 + offset, b1 = b0 + bytes;
  if (addr < HIMEM_BASE) {
    if (b1 > static_cast<int64_t>(lstk.end) * 4) return -1;
  } else if (hstk.end <= 0 || b1 > static_cast<int64_t>(hstk.end) * 4) {
    return -1;
  }
  uint8_t* q = static_cast<uint8_t*>(buf);
  for (int64_t b = b0; b < b1;) {
    // Up to the end of the 16-KB page, so paged high memory is followed.
    int64_t run = b1 - b;
    if (addr >= HIMEM_BASE) run = 16384 - ((b - 4 * static_cast<int64_t>(HIMEM_BASE)) % 16384);
    if (run > b1 - b) run = b1 - b;
    uint8_t* p = membyt(static_cast<int32_t>(b));
    if (mode & 2)
      memcpy(p, q, static_cast<size_t>(run));
    else
      memcpy(q, p, static_cast<size_t>(run));
    q += run;
    b += run;
  }
  return 0;
}
