// File-backed variables: opening the file behind a variable, finding its
// format, laying out its rows, and moving one record between the file and a
// block buffer, plain or run-length packed.
#include "files/filevar.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <strings.h>

#include "core/blkbuf.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/units.h"
#include "files/fileutil.h"
#include "files/imgcommon.h"
#include "files/linerd.h"
#include "files/safewrite.h"
#include "files/rdary.h"
#include "files/txtfile.h"
#include "lang/rdline.h"
#include "ui/events.h"

#include <sys/stat.h>
#include <unistd.h>
#include <stdio_ext.h>
#include <cerrno>

namespace {

// Record bytes of the last layout made by setfdim (0: none yet).
int32_t lastrec = 0;

bool scratchrec(const PtrRec* r) { return r->Stack == 0; }

uint32_t rd32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int64_t pkpos(const PakRec* pk) { return (static_cast<int64_t>(pk->poshi) << 32) | pk->poslo; }
void setpos(PakRec* pk, int64_t p) {
  pk->poslo = static_cast<uint32_t>(p);
  pk->poshi = static_cast<uint32_t>(static_cast<uint64_t>(p) >> 32);
}

// The record's pack record, made on first use beside its file record.
PakRec* pakrec(FilRec* f) {
  if (f->Pack > 0) return static_cast<PakRec*>(stkptr(f->Pack));
  bool scr = f->Ptr < static_cast<uint32_t>(lstk.lowest);
  auto* pk = static_cast<PakRec*>(zeroblk(static_cast<int32_t>(sizeof(PakRec)) | (scr ? 1 : 0)));
  if (!pk) return nullptr;
  f->Pack = stkadr(pk);
  pk->blocks = 0;
  pk->unit = f->Lun;
  return pk;
}

// True for a unit on a plain file of no bytes (of only skip bytes).
bool emptyunit(int u, int skip = 0) {
  FILE* fp = unitstream(u);
  struct stat st;
  return fp && fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == skip;
}

// Text mode: the whole file read as a text array, the record becoming a
// pointer to it.
int textvar(PtrRec* r, FilRec* f, int kind, int32_t* total, int32_t* wsiz) {
  // The header lines before the data are passed over.
  char skip[256];
  // A file of no bytes is the empty text (an empty list); a byte-order
  // mark at its start is no text, so a file of only that mark is empty too.
  const bool empty = emptyunit(f->Lun, skpbom(unitstream(f->Lun)));
  for (int k = 0; k < f->Enum; k++)
    if (rdline(f->Lun, skip, sizeof skip) < 0) break;
  PtrRec* t = rdary(f->Lun, kind & ~K_FILE, 0, nullptr, 0, nullptr);
  closef(f->Lun, 0);
  f->Lun = 0;
  if (!t || (t->Length < 1 && !empty)) {
    *total = -1;
    error(0, 86);
    return kind;
  }
  r->Bufp = 0;
  kind = (kind & ~K_FILE) | K_NAMED;
  r->Flg = static_cast<uint16_t>(kind);
  for (int k = 0; k < 3; k++) r->Datdims[k] = t->Datdims[k];
  r->Addr = t->Addr;
  r->Idx = t->Idx;
  r->Wsiz = t->Wsiz;
  *wsiz = t->Wsiz;
  *total = t->Length;
  return kind;
}

// A text-file word an assignment writes: no text to start from, the record
// a string or list of its own, noted to be written when the assignment
// ends.
int notext(PtrRec* r, int kind, int32_t* total, int32_t* wsiz) {
  PtrRec t;
  std::memset(&t, 0, sizeof t);
  // A list gets its table when the assignment sizes it.
  if (!(kind & K_LIST) && !txtrec(&t, "")) {
    *total = -1;
    error(0, 42);
    return kind;
  }
  FilRec* f = filrec(r);
  r->Bufp = 0;
  kind = (kind & ~K_FILE) | K_NAMED;
  r->Flg = static_cast<uint16_t>(kind);
  for (int k = 0; k < 3; k++) r->Datdims[k] = t.Datdims[k];
  r->Addr = t.Addr;
  r->Idx = -1;
  r->Wsiz = W_BYTE;
  r->Length = t.Length;
  *wsiz = W_BYTE;
  *total = t.Length;
  if (f) txtreg(r, f->Nam);
  return kind;
}

int64_t dimprod(const PtrRec* r) {
  int64_t n = 1;
  for (int k = 0; k < 3; k++)
    if (r->Datdims[k] > 0) n *= r->Datdims[k];
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Opening.

namespace {

// a * b, false when it overflows.
bool mul(int64_t a, int64_t b, int64_t* out) { return !__builtin_mul_overflow(a, b, out); }

}  // namespace

bool hdrfits(PtrRec* r, int64_t flen, int64_t grow) {
  FilRec* f = filrec(r);
  if (!f || flen < 0) return false;
  int bits = r->Wsiz & 63;
  if (bits == 0) bits = 8;
  int64_t nx = std::max<uint32_t>(r->Datdims[0], 1), rows, bytes;
  int64_t row = (nx * bits + 7) / 8;
  if (!mul(std::max<uint32_t>(r->Datdims[1], 1), std::max<uint32_t>(r->Datdims[2], 1), &rows) ||
      !mul(row, rows, &bytes))
    return false;
  int64_t most = INT64_MAX;
  if (grow > 0 && !mul(flen, grow, &most)) most = INT64_MAX;
  const auto* idx = f->Strip > 0 ? static_cast<const uint32_t*>(stkptr(f->Strip)) : nullptr;
  if (idx) {
    int64_t n = idx[0], sum = 0;
    for (int64_t k = 0; k < n; k++) {
      int64_t o = idx[1 + k], l = idx[1 + n + k];
      // A packed strip starts inside the file; a plain one ends there too.
      if (o > flen || (grow == 0 && o + l > flen)) return false;
      sum += l;
    }
    if (grow > 0) return bytes <= most + 65536;
    // One strip holds all rows one after another; strips hold the rows.
    return n == 1 ? idx[1] + bytes <= flen : sum >= bytes;
  }
  if (grow > 0) return bytes <= most + 65536;
  int64_t pad = f->Pad < 0 ? -f->Pad / 8 : 0, need;
  // The last row's pad bytes may be missing.
  if (!mul(rows, row + pad, &need) || need - pad > flen - static_cast<int64_t>(r->Mptr)) return false;
  return true;
}

namespace {

// The checks made on an existing file's header before a file-backed
// variable uses it: PCX and JPEG pixels move only whole (read and write);
// a header may not promise more than its file holds; rows of a compressed
// file are never written (a row packed anew would overwrite the next). A
// refusal is error 86.
bool hdrok(PtrRec* r, bool write) {
  FilRec* f = filrec(r);
  int t = f->Flg & FF_TYPE, pm = f->Flg & FF_PACK;
  int comp = t == FT_TIFF ? imgfmt::tifcomp : 0;
  int64_t grow = comp == 5 ? 4096 : (comp || pm == 2) ? 64 : pm == 1 ? 4096 : 0;
  bool packed = comp || pm == 1 || pm == 2;
  if (t == FT_JPEG || t == FT_PCX || !hdrfits(r, imgfmt::unitlen(f->Lun), grow) || (packed && write)) {
    if (!(state & ST_ERROR)) error(0, 86);
    return false;
  }
  if (packed) f->Mod = static_cast<uint16_t>(f->Mod | FM_KEEP);
  return true;
}


// Bytes of whole items in a record of `rec` bytes (at least one item):
// a block of the file then starts where its items do.
int32_t wholerec(const PtrRec* r, int32_t rec) {
  int ib = (r->Wsiz & 63) / 8;
  if (ib <= 1 || rec <= 0) return rec;
  rec -= rec % ib;
  return rec < ib ? ib : rec;
}

// Block numbers are 16 bits: plain data of more records than they count is
// taken in larger records (whole multiples, so rows keep their place). The
// record bytes, or -1 for data that cannot be counted so (error 86).
int64_t bigrec(const PtrRec* r, const FilRec* f, int32_t rec) {
  if (f->Strip <= 0 && f->Pad == 0 && rec > 0) {
    int bb = r->Wsiz & 63;
    int64_t bytes = (dimprod(r) * (bb ? bb : 8) + 7) / 8;
    int64_t nrec = (bytes + rec - 1) / rec;
    // Large data also streams in records of about 64 KB: a transfer each
    // few kilobytes would cost more in calls than in bytes.
    int64_t k = bytes > (INT64_C(4) << 20) && rec < 65536 ? 65536 / rec : 1;
    if (nrec > 32767 * k) k = (nrec + 32766) / 32767;
    int64_t big = static_cast<int64_t>(rec) * k;
    return big > INT32_MAX / 4 ? -1 : big;
  }
  // One row a record (or strip): more rows than block numbers.
  if (f->Strip > 0 ? *static_cast<uint32_t*>(stkptr(f->Strip)) > 32767
                   : static_cast<int64_t>(r->Datdims[1]) * r->Datdims[2] > 32767)
    return -1;
  return rec;
}

// Takes the buffers of another record of the same file and layout when
// there is one: 1 shared, 0 none, -1 refused. A record whose buffer size
// was given and makes its blocks (given) is refused when the file is open
// with another one.
int sharbf(PtrRec* r, const FilRec* f, bool given) {
  BufRec* sb = pacfind(r);
  if (!sb) return 0;
  BufRec* own = bufrec(r);
  if (own == sb) return 1;
  if (own) {
    if (given && own->Rsiz > 0 && bigrec(r, f, wholerec(r, own->Rsiz)) != sb->Rsiz) {
      jprintf(errlun, "%s: the file is open with another buffer size\n", f->Nam);
      error(rsizarg, 70);
      return -1;
    }
    freblk(static_cast<int32_t>(r->Addr));
    freblk(r->Bufp);
    r->Bufp = 0;
    r->Addr = 0;
  }
  pactiv(r, 0);
  return bufrec(r) ? 1 : 0;
}

}  // namespace

int gfilvb(PtrRec* r, int kind, int32_t* total, int32_t* wsiz, int mode) {
  *total = -1;
  if (!r) return kind;
  *wsiz = r->Wsiz;
  // The record belongs to its file now: its items come through the block
  // buffers, not from the record itself.
  if (r->Idx == -1) r->Idx = 0;
  int sbit = scratchrec(r) ? 1 : 0;
  FilRec* f = filrec(r);
  if (!f) {
    f = static_cast<FilRec*>(zeroblk(static_cast<int32_t>(sizeof(FilRec)) | sbit));
    if (!f) return kind;
    r->Filp = static_cast<int32_t>(f->Ptr);
  }
  if (!f->Nam[0] && !f->Lun) {
    error(0, 66);
    return kind;
  }
  bool write = mode != 0;
  int m = f->Mod;
  bool given = m != 0;
  if (!given) {
    // Opened for update whenever the file allows it, also for reading: a
    // record kept by a pointer is written later through the same unit.
    m = 66 | UM_TEMP;
    f->Mod = static_cast<uint16_t>(m);
  }
  int32_t rs = 512;
  // A record size given by the caller (not the 512 taken for want of one)
  // is the strip size a new TIFF gets.
  bool rsgiven = false;
  if (BufRec* b = bufrec(r); b && b->Rsiz > 0) {
    rs = b->Rsiz;
    rsgiven = true;
  }

  // A text-file word of the command line (a string or a list of strings):
  // an assignment starts from no text, and its text (a list's items one a
  // line) is written to the file, old or new, when it ends; a part of the
  // file is never written alone. A read of a file not there finds nothing.
  // No file is made here.
  const bool textword = (kind & K_STRING) && !(kind & 0x7C0) && sbit && !(f->Flg & FF_TYPE) &&
                        (!given || (m & UM_TEXT));
  if (textword && !f->Lun) {
    bool part = false;
    for (uint32_t o : r->Offs) part = part || o != 0;
    const int there = Exists(f->Nam);
    if (!write && there == 0) {
      fileerr(f->Nam, 0, 66, ENOENT);
      return kind;
    }
    if (write && part) {
      jprintf(errlun, "%s: a text file is written whole, not in part\n", f->Nam);
      error(0, 69);
      return kind;
    }
    if (write && there != 2) return notext(r, kind, total, wsiz);
  }

  bool created = (m & UM_CREATE) != 0;
  // A file this opening makes is deleted again when the opening fails.
  bool made = false;
  if (!f->Lun) {
    made = Exists(f->Nam) == 0;
    int u = openf(f->Nam, m, rs);
    if (u < 0 && !given && !write && !(state & ST_ERROR)) {
      m = 65 | UM_TEMP;  // a file that can only be read
      f->Mod = static_cast<uint16_t>(m);
      u = openf(f->Nam, m, rs);
    } else if (u < 0 && (m & (UM_UPDATE | UM_WRITE)) && !(state & ST_ERROR)) {
      // A file to write that is not there yet is created; it stays open
      // for reading too, so that partly written blocks can be read back.
      m = (m & ~UM_WRITE) | UM_CREATE;
      created = true;
      u = openf(f->Nam, m, rs);
    }
    if (u < 0) {
      if (!(state & ST_ERROR)) error(0, 66);
      return kind;
    }
    f->Lun = static_cast<uint8_t>(u);
    // A file made by this opening to be written is new, and so is an empty
    // one opened for writing whose name or format asks for a header: it
    // gets its header. An empty file only read has no header: refused.
    if (!created && (write || made) && (m & (UM_UPDATE | UM_WRITE)) && !(m & UM_TEXT) &&
        !(f->Flg & FF_NOHDR) && ((write && made) || imgtyp(f->Nam) == FT_TIFF || (f->Flg & FF_TYPE)) &&
        emptyunit(u))
      created = true;
  }

  made = made && Exists(f->Nam) == 1;
  auto drop = [&] {
    closef(f->Lun, made ? 1 : 0);
    f->Lun = 0;
  };

  if (r->Wsiz <= 0) r->Wsiz = static_cast<int16_t>((kind & 0x620) ? 8 : (kind & K_VECTOR) ? 136 : 96);
  int bits = r->Wsiz & 63;
  if (bits == 0) bits = 8;

  if (m & UM_TEXT) return textvar(r, f, kind, total, wsiz);

  // The buffers: those of another record of the same file and layout when
  // one is in use (both then see the same data), else our own. Without a
  // header to read, the layout is known now.
  bool shared = false;
  if (f->Flg & FF_NOHDR) {
    int sh = sharbf(r, f, rsgiven);
    if (sh < 0) {
      drop();
      return kind;
    }
    shared = sh > 0;
  }
  if (!shared) {
    if (!bufrec(r)) {
      auto* b = static_cast<BufRec*>(zeroblk(static_cast<int32_t>(sizeof(BufRec)) | sbit));
      if (!b) {
        drop();
        return kind;
      }
      r->Bufp = static_cast<int32_t>(b->BPTR);
    }
    BufRec* b = bufrec(r);
    // Buffers made before may hold changed blocks, which new buffers would
    // drop: they are written first, and while one cannot be (its write
    // said why) the record keeps its buffers and gives no items.
    if (b->Rsiz > 0) {
      flshio(r);
      for (int i = 0; i < 3; i++)
        if (b->F[i] == 2 && b->B[i].Blk > 0) {
          if (!(state & ST_ERROR)) error(0, 69);
          return kind;
        }
    }
    b->Rsiz = 0;
    // A scratch record's buffers are scratch too: they go with the command
    // (a pointer that keeps the record gets buffers of its own).
    if (chgbuf(r, rs, sbit) != rs) {
      drop();
      if (!(state & ST_ERROR)) error(0, 42);
      return kind;
    }
    b->Bflg = 1;
  }
  BufRec* b = bufrec(r);

  if (r->Datdims[0] == 0) {
    bool img = kind & K_IMAGE;
    r->Datdims[0] = img ? 512 : 1;
    r->Datdims[1] = img ? 512 : 1;
    r->Datdims[2] = 1;
  }
  for (int k = 1; k < 3; k++)
    if (r->Datdims[k] == 0) r->Datdims[k] = 1;

  int32_t rec = -1;
  lastrec = 0;
  if (created) {
    // BMP is read only, and PCX and JPEG pixels move only whole (read and
    // write): a new file of theirs is no file-backed variable.
    int t = (f->Flg & FF_TYPE) ? (f->Flg & FF_TYPE) : imgtyp(f->Nam);
    if (!(f->Flg & FF_NOHDR) && (t == FT_BMP || t == FT_PCX || t == FT_JPEG)) {
      error(0, 86);
      drop();
      return kind;
    }
    // An 8-bit 512 x 512 image goes raw, unless its name asks for a header.
    bool raw = (f->Flg & FF_NOHDR) || (r->Wsiz == 8 && (kind & K_IMAGE) && r->Datdims[0] == 512 &&
                                       r->Datdims[1] == 512 && !t);
    if (!raw) {
      int32_t keep = b->Rsiz;
      if (!rsgiven && !shared) b->Rsiz = 0;
      sethdr(r);
      b->Rsiz = keep;
    }
    if (state & ST_ERROR) {
      // The header could not be written (sethdr reported why).
      drop();
      return kind;
    }
    if (lastrec <= 0)
      setfdim(r, r->Datdims[0], r->Datdims[1], r->Datdims[2], r->Wsiz, (f->Flg & FF_NOHDR) ? r->Mptr : 0, 0);
    rec = lastrec;
  } else if (f->Flg & FF_NOHDR) {
    rec = b->Rsiz;
  } else {
    auto* buf = static_cast<uint8_t*>(getbuf(512));
    if (!buf) {
      drop();
      return kind;
    }
    int h = gethdr(buf, r);
    kind = r->Flg;
    if (h < 0 && (state & ST_ERROR)) {
      // A header of a known format that could not be read.
      drop();
      return kind;
    }
    if (h >= 0 && !hdrok(r, write)) {
      drop();
      return kind;
    }
    if (h < 0 && (kind & K_IMAGE)) {
      // An image without a recognised header is taken raw.
      setfdim(r, r->Datdims[0], r->Datdims[1], r->Datdims[2], r->Wsiz, 0, 0);
      h = lastrec;
    }
    if (h < 0) {
      closef(f->Lun, 0);
      f->Lun = 0;
      if (given) {
        error(0, 86);
        return kind;
      }
      m = (m & ~0x50) | UM_TEXT;
      f->Mod = static_cast<uint16_t>(m);
      int u = openf(f->Nam, m, rs);
      if (u < 0) {
        if (!(state & ST_ERROR)) error(0, 86);
        return kind;
      }
      f->Lun = static_cast<uint8_t>(u);
      if (b && !shared) {
        freblk(static_cast<int32_t>(r->Addr));
        freblk(r->Bufp);
      }
      r->Bufp = 0;
      r->Addr = 0;
      return textvar(r, f, kind, total, wsiz);
    }
    rec = h > 0 ? h : lastrec;
    if (!shared) {
      // The header gave the layout (and the record size): another record
      // of the file with that layout has buffers already, which this one
      // then shares (two sets of buffers on the same items would each miss
      // the other's data).
      int sh = sharbf(r, f, false);
      if (sh < 0) {
        drop();
        return kind;
      }
      if (sh > 0) {
        shared = true;
        b = bufrec(r);
      }
    }
  }
  if (state & ST_ERROR) {
    drop();
    return kind;
  }
  if (rec <= 0) rec = b->Rsiz;
  if (!shared) {
    int64_t big = bigrec(r, f, wholerec(r, rec));
    if (big < 0) {
      drop();
      error(0, 86);
      return kind;
    }
    rec = static_cast<int32_t>(big);
  } else {
    rec = b->Rsiz;
  }
  if (rec > 0 && rec != b->Rsiz) {
    if (chgbuf(r, rec, shared ? 0 : sbit) != rec) {
      drop();
      if (!(state & ST_ERROR)) error(0, 42);
      return kind;
    }
  }
  // A record that outlives the command (a declared file variable's) keeps
  // its row, so that later records of the same items share its buffers.
  if (!shared) pactiv(r, scratchrec(r) ? 0 : 1);
  bits = r->Wsiz & 63;
  if (bits == 0) bits = 8;
  r->Rwds = static_cast<int32_t>(static_cast<int64_t>(b->Rsiz) * 8 / bits);
  int64_t n = dimprod(r);
  if (n > INT32_MAX) {
    drop();
    error(0, 86);
    return kind;
  }
  *wsiz = r->Wsiz;
  *total = static_cast<int32_t>(n);
  return kind;
}

namespace {

// Every pointer variable in reach (the tables from the running macro's out
// to the system table) whose record shares r's buffers takes r's layout,
// seen whole.
void filsync(const PtrRec* r) {
  int32_t t = cursym;
  for (int guard = 0; t > 0 && guard < 4096; guard++) {
    const SymTab* h = tabptr(t);
    if (!h || h->marker != SYMMARK) break;
    for (uint32_t i = 0; i < h->count; i++) {
      const SymEnt* s = symptr(symadr(t, static_cast<int>(i)));
      if (!s || (s->flags & 0x17F0) != 0x1000 || s->data <= 0 || fndstk(s->data) <= 0) continue;
      PtrRec* q = ptrrec(s->data);
      if (!q || q == r || !(q->Flg & K_FILE) || q->Bufp != r->Bufp) continue;
      q->Addr = r->Addr;
      q->Data0 = r->Data0;
      q->Rwds = r->Rwds;
      q->Mptr = r->Mptr;
      q->Ndims = r->Ndims;
      q->Tot = r->Tot;
      for (int k = 0; k < 3; k++) {
        q->Datdims[k] = r->Datdims[k];
        q->Offs[k] = q->XYZptr[k] = 0;
        q->Offs[3 + k] = r->Datdims[k];
      }
      q->Length = static_cast<int32_t>(std::min<int64_t>(dimprod(q), INT32_MAX));
      q->Bufsiz = -1;
    }
    t = h->link;
  }
}

}  // namespace

void filnew(PtrRec* r) {
  BufRec* b = bufrec(r);
  FilRec* f = filrec(r);
  if (!b || !f) return;
  b->Bufdims[0] = b->Bufdims[1] = b->Bufdims[2] = 0;
  sbufdm(r, r->Offs, r->Rwds);
  lastrec = 0;
  sethdr(r);
  // The records the new layout moves in: a size given for a file without
  // a header stays (whole items); else the header's.
  int32_t rec = (f->Flg & FF_NOHDR) || lastrec <= 0 ? b->Rsiz : lastrec;
  int64_t big = bigrec(r, f, wholerec(r, rec));
  if (big > 0 && big != b->Rsiz) {
    bool scr = b->BPTR < static_cast<uint32_t>(lstk.lowest);
    if (chgbuf(r, static_cast<int32_t>(big), scr ? 1 : 0) == big) {
      b->Bufdims[0] = b->Bufdims[1] = b->Bufdims[2] = 0;
      sbufdm(r, r->Offs, r->Rwds);
    }
  }
  rstbuf(r);
  paclay(r);
  filsync(r);
}

// ---------------------------------------------------------------------------
// Headers.

int imgtyp(const char* name) {
  if (!name) return 0;
  const char* dot = std::strrchr(name, '.');
  if (!dot || dot == name) return 0;
  // At least one character of the name before the extension.
  char before = dot[-1];
  if (before == '/' || before == '\\' || before == ':') return 0;
  const char* e = dot + 1;
  if (!strcasecmp(e, "pcx")) return FT_PCX;
  if (!strcasecmp(e, "tif") || !strcasecmp(e, "tiff")) return FT_TIFF;
  if (!strcasecmp(e, "jpeg") || !strcasecmp(e, "jpg")) return FT_JPEG;
  if (!strcasecmp(e, "bmp")) return FT_BMP;
  return 0;
}

int inihdr(PtrRec* r, uint8_t* buf, int wflag, int32_t blocks) {
  FilRec* f = filrec(r);
  if (!f || f->Lun < 1 || f->Lun >= NUNITS) return -1;
  int u = f->Lun;
  filtab[u].pos = -1;
  std::memset(buf, 0, 512);
  int n = rdblk(u, 0, buf, 512, 0);
  if (n < 0) {
    // What a failed read left is nothing.
    std::memset(buf, 0, 512);
    n = 0;
    state &= ~ST_ERROR;
  }
  int type = 0, swap = 0;
  if (n >= 4 && ((buf[0] == 0x49 && buf[1] == 0x49 && buf[2] == 0x2A && buf[3] == 0) ||
                 (buf[0] == 0x4D && buf[1] == 0x4D && buf[2] == 0 && buf[3] == 0x2A))) {
    type = FT_TIFF;
    swap = buf[0] == 0x4D ? FF_SWAP : 0;
  } else if (n >= 2 && ((buf[0] == 0x42 && buf[1] == 0x4D) || (buf[0] == 0x4D && buf[1] == 0x42))) {
    type = FT_BMP;
    swap = (buf[14] | (buf[15] << 8)) > 255 ? FF_SWAP : 0;
  } else if (n >= 4 && (!std::memcmp(buf, "#!DM", 4) || !std::memcmp(buf, "MD!#", 4))) {
    type = FT_DMOD;
    swap = rd32(buf + 16) >= 256 ? FF_SWAP : 0;
  } else if (n >= 4 && (!std::memcmp(buf, "DMPe", 4) || !std::memcmp(buf, "ePMD", 4))) {
    type = FT_DMPX;
    swap = rd32(buf + 16) >= 256 ? FF_SWAP : 0;
  } else {
    type = imgtyp(f->Nam);
  }
  if (type == 0) {
    if (wflag >= 1 && f->Enum == 0) {
      r->Mptr = 512;
      return 0;
    }
    return -1;
  }
  f->Flg = static_cast<uint8_t>((f->Flg & ~(FF_TYPE | FF_SWAP)) | type | swap);
  // A file made new has no header to read yet: its writer makes one.
  if (wflag >= 1 && n == 0) return 0;
  switch (type) {
    case FT_TIFF: return tifftags(r, swap, u, buf, wflag, blocks);
    case FT_BMP: return bmphdr(r, swap, u, buf, wflag, blocks);
    case FT_DMOD:
    case FT_DMPX: return dmodhdr(r, swap, u, buf, wflag, blocks);
    case FT_PCX: return pcxhdr(r, swap, u, buf, wflag, blocks);
    case FT_JPEG: return jpghdr(r, swap, u, buf, wflag, blocks);
    case FT_TEXT: return retm1(r, swap, u, buf, wflag, blocks);
    default: return -1;
  }
}

int retm1(PtrRec*, int, int, uint8_t*, int, int32_t) { return -1; }

void hdrrec(int32_t rec) { lastrec = rec; }

int gethdr(uint8_t* buf, PtrRec* r) {
  lastrec = 0;
  int h = inihdr(r, buf, 0, 0);
  if (h < 0) return -1;
  if (BufRec* b = bufrec(r)) b->Bflg |= 16;
  return h > 0 ? h : lastrec;
}

int sethdr(PtrRec* r) {
  FilRec* f = filrec(r);
  if (!f || f->Lun < 1) return 0;
  if (f->Flg & FF_NOHDR) {
    // No header: the data keep their offset, whatever the file holds.
    lastrec = 0;
    setfdim(r, r->Datdims[0], r->Datdims[1], r->Datdims[2], r->Wsiz, r->Mptr, 0);
    return 0;
  }
  int64_t n = dimprod(r);
  int64_t blocks = ((r->Wsiz & 63) * n / 8 + 1023) / 512;
  auto* buf = static_cast<uint8_t*>(getbuf(512));
  if (!buf) return 0;
  lastrec = 0;
  int32_t blk = static_cast<int32_t>(std::min<int64_t>(blocks, INT32_MAX));
  if (inihdr(r, buf, 1, blk) < 0) return 0;
  int type = f->Flg & FF_TYPE;
  int res = 0;
  bool before = state & ST_ERROR;
  werrno = 0;
  if (type <= FT_TIFF)
    res = settif(r, f->Lun, blk);
  else if (type == FT_DMOD || type == FT_DMPX)
    res = putdmod(r, f->Lun, blk);
  else if (type == FT_TEXT)
    res = type;
  if (werrno && !before) {
    // A header the system would not take: the write failed, said why.
    state &= ~ST_ERROR;
    wrterr(f->Nam, 0, werrno);
    return 0;
  }
  // Without a header, the data start the file (it reads back raw).
  if (lastrec <= 0)
    setfdim(r, r->Datdims[0], r->Datdims[1], r->Datdims[2], r->Wsiz, res > 0 ? r->Mptr : 0, 0);
  if (res > 0)
    if (BufRec* b = bufrec(r)) b->Bflg |= 16;
  return res;
}

int setfdim(PtrRec* r, int64_t nx, int64_t ny, int64_t nz, int wsiz, int64_t offset, int align) {
  int bits = wsiz & 63;
  if (nx < 0 || ny < 0 || nz < 1 || nx > UINT32_MAX || ny > UINT32_MAX || nz > UINT32_MAX || offset < 0 ||
      offset > UINT32_MAX)
    return -1;
  int64_t rowbits = static_cast<int64_t>(bits) * nx;
  int64_t row = (rowbits + 7) / 8;
  int64_t rem = align > 0 ? ((align - 1) & row) : 0;
  int64_t all = 0;
  if (__builtin_mul_overflow(row, ny, &all) || all < 1) return -1;
  r->Mptr = static_cast<uint32_t>(offset);
  r->Ndims = nz < 2 ? 2 : 3;
  r->Datdims[0] = static_cast<uint32_t>(nx);
  r->Datdims[1] = static_cast<uint32_t>(ny);
  r->Datdims[2] = static_cast<uint32_t>(nz);
  r->Wsiz = static_cast<int16_t>(wsiz);
  FilRec* f = filrec(r);
  int64_t rec;
  if (rowbits % 8 == 0 && rem == 0) {
    if (f) f->Pad = 0;
    int64_t total = all;
    if (total < 512) total *= nz;
    if (total <= 4096) {
      rec = total;
    } else {
      int64_t rr = row;
      if (rr > 4096)
        for (int k = 7; k >= 2; k--)
          while (rr > 4096 && rr % k == 0 && (rr / k) % 2 == 0) rr /= k;
      rec = rr >= 4096 ? 4096 : (4096 / rr) * rr;
    }
  } else {
    rec = row;
    if (f) f->Pad = static_cast<int8_t>(rem == 0 ? 8 - rowbits % 8 : -8 * (align - rem));
  }
  if (rec > INT32_MAX) return -1;
  lastrec = static_cast<int32_t>(rec);
  return lastrec;
}

// ---------------------------------------------------------------------------
// Moving records.

namespace {

// A failed write: reported with the system's cause unless an error was
// reported already; -1.
int wfail(const FilRec* f, bool before) {
  if (!before) {
    state &= ~ST_ERROR;
    wrterr(f->Nam, 0, werrno);
  }
  return -1;
}

// Bytes of the file open on a unit (its writes are flushed as they are
// made); -1 when unknown.
int64_t filesize(int u) {
  FILE* fp = unitstream(u);
  struct stat st;
  return fp && fstat(fileno(fp), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// Items of 2 or 4 bytes in a file of the other byte order, turned in place.
void swapitems(uint8_t* p, int64_t n, int bytes) {
  if (bytes != 2 && bytes != 4) return;
  for (int64_t k = 0; k + bytes <= n; k += bytes) std::reverse(p + k, p + k + bytes);
}

}  // namespace

int filio(PtrRec* r, int i, int dir, uint8_t* ext) {
  FilRec* f = r ? filrec(r) : nullptr;
  BufRec* b = r ? bufrec(r) : nullptr;
  if (!f || !b || f->Lun < 1 || b->Rsiz < 1) return -1;
  int32_t recb = b->Rsiz;
  uint8_t* mem;
  int64_t row;
  if (i >= 0) {
    if (i > 2 || b->B[i].Blk < 1) return -1;
    mem = static_cast<uint8_t*>(stkptr(static_cast<int32_t>(r->Addr)));
    if (!mem) return -1;
    mem += static_cast<int64_t>(i) * recb;
    row = b->B[i].Blk - 1;
  } else {
    if (!ext) return -1;
    mem = ext;
    row = -static_cast<int64_t>(i) - 1;
  }
  int pm = f->Flg & FF_PACK;
  bool tif = (f->Flg & FF_TYPE) == FT_TIFF;
  // A TIFF's run-length strips are PackBits (unless the file uses the
  // system's own code); its horizontal-differences tag leaves rows plain.
  bool pbits = tif && pm == 2 && !(f->Mod & FM_OWNRLE);
  if (tif && pm == 3) pm = 0;
  if (dir == 2 && (f->Mod & FM_KEEP)) {
    // A compressed file's rows are never written in place.
    error(0, 86);
    return -1;
  }
  int64_t pad = f->Pad < 0 ? -f->Pad / 8 : 0;
  int64_t pos, len = recb, plen = 0;
  uint32_t* idx = f->Strip > 0 ? static_cast<uint32_t*>(stkptr(f->Strip)) : nullptr;
  int64_t nidx = idx ? idx[0] : 0;
  if (idx && nidx == 1) {
    pos = (static_cast<int64_t>(f->Frec) + pad) * row + idx[1];
    len = f->Frec;
    plen = idx[2];
  } else if (idx && nidx > 1) {
    if (row >= nidx) return -1;
    pos = idx[1 + row];
    len = plen = idx[1 + nidx + row];
    // A PackBits strip lists its packed length: it unpacks to a record.
    if (pbits) len = recb;
  } else {
    pos = (recb + pad) * row + r->Mptr;
  }
  // A row listed longer than the buffer that takes it is a format error.
  if (len > recb || len < 0 || (pbits && dir == 1 && plen > 2 * static_cast<int64_t>(recb) + 1024)) {
    error(0, 86);
    return -1;
  }
  int64_t full = len;
  if (!idx && f->Pad == 0 && pm == 0) {
    // The last record ends with the data: the file never grows past it.
    int bits = r->Wsiz & 63;
    int64_t end = r->Mptr + (dimprod(r) * (bits ? bits : 8) + 7) / 8;
    if (pos + len > end) len = std::max<int64_t>(0, end - pos);
  }
  if (len == 0) {
    if (dir == 1) std::memset(mem, 0, static_cast<size_t>(full));
    return 0;
  }
  int u = f->Lun;
  int ib = (r->Wsiz & 63) / 8;
  bool swap = (f->Flg & FF_SWAP) && (ib == 2 || ib == 4);
  PakRec* pk = nullptr;
  if (pm && !(pbits && dir == 1)) {
    pk = pakrec(f);
    if (pk) {
      if (pk->unit != u) {
        error(11, 71);
        return -1;
      }
      pk->blocks = pk->packed = 0;
      pk->index = 0;
      pk->failed = 0;
      pk->rowlen = static_cast<int32_t>(len);
      setpos(pk, pos);
    } else {
      pm = 0;
      pbits = false;
    }
  }
  bool before = state & ST_ERROR;
  if (dir == 1) {
    if (pm == 1) {
      // LZW rows are not decoded here: refused, never handed out as zeros.
      error(0, 86);
      return -1;
    }
    int64_t got;
    if (pbits && pos >= filesize(u)) {
      // A strip not written yet (a new file's) holds zeros: what lies past
      // the file's end is no packed data.
      std::memset(mem, 0, static_cast<size_t>(full));
      return static_cast<int>(len);
    }
    if (pbits) {
      // The packed strip read whole and unpacked.
      std::vector<uint8_t> in(static_cast<size_t>(plen)), out;
      if (plen > 0 && rdblk(u, 0, in.data(), static_cast<int32_t>(plen), pos) != plen) {
        if (!before) state &= ~ST_ERROR;
        return -1;
      }
      out.reserve(static_cast<size_t>(len));
      if (!imgfmt::unpackbits(in.data(), in.size(), &out, static_cast<size_t>(len))) {
        error(0, 86);
        return -1;
      }
      got = static_cast<int64_t>(out.size());
      std::memcpy(mem, out.data(), out.size());
      if (got < len) std::memset(mem + got, 0, static_cast<size_t>(len - got));
    } else if (pm == 2) {
      pk->index = 512;
      got = unpack(mem, static_cast<int32_t>(len), pk);
      if (pk->failed) return -1;
      if (got < len) std::memset(mem + got, 0, static_cast<size_t>(len - got));
    } else {
      got = rdblk(u, 0, mem, static_cast<int32_t>(len), pos);
      if (got < 0) {
        if (!before) state &= ~ST_ERROR;
        return -1;
      }
      if (got < full) std::memset(mem + got, 0, static_cast<size_t>(full - got));
      if (pm == 3)
        for (int64_t k = 1; k < len; k++) mem[k] = static_cast<uint8_t>(mem[k] + mem[k - 1]);
    }
    if (swap) swapitems(mem, len, ib);
    if (f->Pad > 0 && f->Pad < 8) {
      // The pad bits of each row in the record read as zeros (records of
      // whole rows only: another record's last byte is an item's).
      int64_t rowb = (static_cast<int64_t>(r->Datdims[0]) * (r->Wsiz & 63) + 7) / 8;
      if (rowb > 0 && full % rowb == 0)
        for (int64_t k = rowb - 1; k < len; k += rowb) mem[k] &= static_cast<uint8_t>(256 - (1 << f->Pad));
    }
    return static_cast<int>(len);
  }

  // Writing: the items in the file's byte order, in a copy.
  if (swap) {
    auto* c = static_cast<uint8_t*>(getbuf(static_cast<int32_t>(len)));
    if (!c) return -1;
    std::memcpy(c, mem, static_cast<size_t>(len));
    swapitems(c, len, ib);
    mem = c;
  }
  werrno = 0;
  int64_t packed;
  if (pm == 0) {
    if (wrtblk(u, 0, mem, static_cast<int32_t>(len), pos) < 0) return wfail(f, before);
    return static_cast<int>(len);
  }
  if (pm == 1) {
    error(0, 86);  // no LZW writer
    return -1;
  }
  if (pm == 3) {
    // Horizontal differences, computed in a copy: the variable keeps its
    // values.
    auto* d = static_cast<uint8_t*>(getbuf(static_cast<int32_t>(len)));
    if (!d) return -1;
    d[0] = mem[0];
    for (int64_t k = 1; k < len; k++) d[k] = static_cast<uint8_t>(mem[k] - mem[k - 1]);
    if (wrtblk(u, 0, d, static_cast<int32_t>(len), pos) < 0) return wfail(f, before);
    packed = len;
  } else if (pbits) {
    // PackBits, each row on its own as TIFF readers expect: the strip's
    // unpacked length is the one listed before it was written.
    int64_t rowb = (static_cast<int64_t>(r->Datdims[0]) * (r->Wsiz & 63) + 7) / 8;
    int64_t unp = idx && nidx > 1 ? std::min<int64_t>(plen, len) : len;
    if (rowb < 1) rowb = unp;
    for (int64_t o = 0; o < unp && pk->packed >= 0; o += rowb)
      pbrow(mem + o, static_cast<int32_t>(std::min(rowb, unp - o)), pk);
    putpak(-1, pk);
    if (pk->packed < 0) return wfail(f, before);
    packed = pk->packed;
  } else {
    packed = packwr(mem, static_cast<int32_t>(len), pk);
    if (pk->packed < 0) return wfail(f, before);
  }
  if (idx && packed >= 1 && (nidx > 1 || pbits)) {
    if (pos + packed > UINT32_MAX) {
      error(0, 86);
      return -1;
    }
    idx[1 + nidx + row] = static_cast<uint32_t>(packed);
    if (row + 1 < nidx) {
      idx[1 + row + 1] = static_cast<uint32_t>(pos + packed);
    } else {
      // After the last row the offsets column is written back, and a
      // TIFF's packed lengths.
      if (nidx > 1) {
        auto* col = static_cast<uint8_t*>(getbuf(static_cast<int32_t>(4 * nidx)));
        if (!col) return -1;
        for (int64_t k = 0; k < nidx; k++) {
          uint32_t v = idx[1 + k];
          for (int j = 0; j < 4; j++) col[4 * k + j] = static_cast<uint8_t>(v >> (8 * j));
        }
        if (wrtblk(u, 0, col, static_cast<int32_t>(4 * nidx), idx[-1]) < 0) return wfail(f, before);
      }
      if (pbits && tiflens(u, idx) < 0) return wfail(f, before);
    }
  }
  return static_cast<int>(packed);
}

bool filplain(PtrRec* r, int64_t row, int64_t* pos, int64_t* len) {
  FilRec* f = r ? filrec(r) : nullptr;
  BufRec* b = r ? bufrec(r) : nullptr;
  if (!f || !b || f->Lun < 1 || b->Rsiz < 1 || row < 0 || f->Pad != 0 || (f->Mod & FM_KEEP)) return false;
  int pm = f->Flg & FF_PACK;
  if ((f->Flg & FF_TYPE) == FT_TIFF && pm == 3) pm = 0;
  int ib = (r->Wsiz & 63) / 8;
  if (pm != 0 || ((f->Flg & FF_SWAP) && (ib == 2 || ib == 4))) return false;
  const uint32_t* idx = f->Strip > 0 ? static_cast<const uint32_t*>(stkptr(f->Strip)) : nullptr;
  int64_t nidx = idx ? idx[0] : 0;
  int64_t at, n = b->Rsiz;
  if (idx && nidx == 1) {
    at = int64_t{f->Frec} * row + idx[1];
    n = f->Frec;
  } else if (idx && nidx > 1) {
    if (row >= nidx) return false;
    at = idx[1 + row];
    n = idx[1 + nidx + row];
  } else {
    at = int64_t{b->Rsiz} * row + r->Mptr;
    int bits = r->Wsiz & 63;
    int64_t end = r->Mptr + (dimprod(r) * (bits ? bits : 8) + 7) / 8;
    n = std::max<int64_t>(0, std::min(n, end - at));
  }
  if (n > b->Rsiz || n < 0) return false;
  *pos = at;
  *len = n;
  return true;
}

// ---------------------------------------------------------------------------
// Run-length packing: a run of n equal bytes is 0x80 | (n - 1) and the byte,
// a literal piece of n bytes is n - 1 and the bytes (n from 1 to 128).

int putpak(int byte, PakRec* pk) {
  if (byte >= 0) {
    pk->buf[pk->index++] = static_cast<uint8_t>(byte);
    if (pk->index < 512) return 0;
  }
  int n = pk->index;
  pk->index = 0;
  if (n == 0 || pk->packed < 0) return 0;
  if (wrtblk(pk->unit, 0, pk->buf, n, pkpos(pk) + pk->packed) < 0) {
    pk->packed = -1;
    return -1;
  }
  pk->packed += n;
  return 0;
}

int packwr(const uint8_t* row, int32_t len, PakRec* pk) {
  int32_t i = 0;
  while (i < len && !(state & 0x8180)) {
    int32_t look = std::min<int32_t>(len - i, 128);
    const uint8_t* p = row + i;
    int32_t n;
    bool run;
    if (look >= 3 && p[0] == p[1] && p[1] == p[2]) {
      n = 3;
      while (n < look && p[n] == p[0]) n++;
      run = true;
    } else if (look >= 2 && p[0] == p[1]) {
      n = 2;
      run = true;
    } else {
      // A literal up to the first change at position 3 or later, stopping
      // before a run of three that ends there; else a run of one.
      n = 1;
      run = true;
      for (int32_t j = 3; j < look; j++) {
        if (p[j] == p[j - 1]) continue;
        int32_t s = j - 1;
        while (s > 1 && p[s - 1] == p[j - 1]) s--;
        n = (j - s >= 3) ? s : j;
        run = false;
        break;
      }
    }
    if (run) {
      putpak(0x80 | (n - 1), pk);
      putpak(p[0], pk);
    } else {
      putpak(n - 1, pk);
      for (int32_t k = 0; k < n; k++) putpak(p[k], pk);
    }
    i += n;
  }
  putpak(-1, pk);
  return pk->packed;
}

int pbrow(const uint8_t* p, int32_t n, PakRec* pk) {
  int32_t i = 0;
  while (i < n && pk->packed >= 0) {
    int32_t run = 1;
    while (i + run < n && run < 128 && p[i + run] == p[i]) run++;
    if (run >= 2) {
      putpak(257 - run, pk);
      putpak(p[i], pk);
      i += run;
      continue;
    }
    // A literal piece ends where a run of three begins.
    int32_t j = i + 1;
    while (j < n && j - i < 128 && !(j + 2 < n && p[j] == p[j + 1] && p[j] == p[j + 2])) j++;
    putpak(j - i - 1, pk);
    for (int32_t k = i; k < j; k++) putpak(p[k], pk);
    i = j;
  }
  return pk->packed;
}

int getpak(PakRec* pk) {
  if (pk->failed) return 0;
  if (pk->index >= 512) {
    int n = rdblk(pk->unit, 0, pk->buf, 512, pkpos(pk) + 512 * static_cast<int64_t>(pk->blocks));
    if (n <= 0) {
      pk->failed = 1;
      return 0;
    }
    if (n < 512) std::memset(pk->buf + n, 0, static_cast<size_t>(512 - n));
    pk->blocks++;
    pk->index = 0;
  }
  return pk->buf[pk->index++];
}

int unpack(uint8_t* dst, int32_t len, PakRec* pk) {
  int32_t left = len;
  while (left > 0 && !pk->failed && !(state & 0x8180)) {
    int c = getpak(pk);
    if (pk->failed) break;
    if (c & 0x80) {
      int32_t n = std::min<int32_t>(c - 127, left);
      int v = getpak(pk);
      std::memset(dst + (len - left), v, static_cast<size_t>(n));
      left -= n;
    } else {
      int32_t n = c + 1;
      for (int32_t k = 0; k < n; k++) {
        int v = getpak(pk);
        if (k < left) dst[len - left + k] = static_cast<uint8_t>(v);
      }
      left -= std::min(n, left);
    }
  }
  return len - left;
}

// ---------------------------------------------------------------------------
// Making a file variable.

PtrRec* makfil(const char* path, int kind, int mode, int32_t recbytes, int wsiz, uint32_t nx,
               uint32_t ny, uint32_t nz, uint32_t bw0, uint32_t bw1, int scratch) {
  if (!path || std::strlen(path) >= sizeof(FilRec::Nam)) return nullptr;
  uint32_t dims[3] = {nx, ny, nz};
  PtrRec* r = putptr(kind | K_FILE, recbytes, dims, 0, wsiz, scratch);
  FilRec* f = r ? filrec(r) : nullptr;
  if (!f) return nullptr;
  r->Idx = -1;
  std::strncpy(f->Nam, path, sizeof f->Nam - 1);
  if (mode < 0) {
    int u = -mode;
    if (u >= NUNITS || filtab[u].Nlinks < 1) {
      if (!scratch) freptr(r);
      return nullptr;
    }
    f->Lun = static_cast<uint8_t>(u);
    f->Mod = filtab[u].mode;
  } else {
    f->Mod = static_cast<uint16_t>(mode);
  }
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, (f->Mod & 138) ? 115 : 0);
  if (tot < 0 || (state & ST_ERROR)) {
    if (!scratch) freptr(r);
    return nullptr;
  }
  if (BufRec* b = bufrec(r)) {
    b->Bufdims[0] = bw0;
    b->Bufdims[1] = bw1;
  }
  return r;
}

bool filext(PtrRec* r) {
  FilRec* f = r ? filrec(r) : nullptr;
  BufRec* b = r ? bufrec(r) : nullptr;
  if (!f || !b || f->Lun < 1) return f != nullptr;
  // A compressed file is never changed.
  if ((f->Flg & FF_PACK) || (f->Mod & FM_KEEP)) return true;
  int64_t items = dimprod(r);
  int bits = r->Wsiz & 63;
  int64_t pad = f->Pad < 0 ? -f->Pad / 8 : 0;
  int64_t want = 0;
  if (f->Strip > 0) {
    // Strips: up to the end of the last one.
    const auto* w = static_cast<const uint32_t*>(stkptr(f->Strip - 1));
    if (!w) return false;
    int64_t n = w[1];
    for (int64_t k = 0; k < n; k++) want = std::max<int64_t>(want, int64_t{w[2 + k]} + w[2 + n + k]);
  } else if (f->Pad != 0) {
    // One row a record, each followed by its pad bytes.
    int64_t rows = static_cast<int64_t>(std::max<uint32_t>(r->Datdims[1], 1)) *
                   std::max<uint32_t>(r->Datdims[2], 1);
    want = r->Mptr + rows * (b->Rsiz + pad);
  } else {
    want = r->Mptr + (items * bits + 7) / 8;
  }
  FILE* fp = unitstream(f->Lun);
  if (!fp) return false;
  struct stat st;
  // A device or a pipe is as long as it is.
  if (fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  if (fflush(fp) != 0 || fseeko(fp, 0, SEEK_END) != 0) {
    wrterr(f->Nam, 0, errno);
    return false;
  }
  int64_t have = ftello(fp), was = have;
  if (have >= want) return true;
  // Zeros up to the data's end, written so that a full disk shows now; a
  // long fill stops on Ctrl-C. What a failed or stopped fill added goes.
  static const uint8_t zero[65536] = {};
  bool ok = true;
  int err = 0;
  while (have < want) {
    size_t n = static_cast<size_t>(std::min<int64_t>(want - have, sizeof zero));
    if (fwrite(zero, 1, n, fp) != n) {
      err = errno;
      ok = false;
      break;
    }
    have += static_cast<int64_t>(n);
    chkio(0);
    if (stopped()) {
      ok = false;
      break;
    }
  }
  if (ok && fflush(fp) != 0) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    __fpurge(fp);
    clearerr(fp);
    if (ftruncate(fileno(fp), was) != 0) err = err ? err : errno;
    if (err || !stopped()) wrterr(f->Nam, 0, err);
  }
  return ok;
}

// ---------------------------------------------------------------------------
// The header listing of the show command.

int shofil(const char* name, int dump) {
  if (!name || !*name || std::strlen(name) >= sizeof(FilRec::Nam) || Exists(name) != 1) return 0;
  // A file open already is listed through its unit, in the mode it has.
  int open = fndfil(name);
  int u = openf(name, open >= 0 ? filtab[open].mode : 65, 512);
  if (u < 0) return 0;
  PtrRec* r = putptr(K_FILE, 0, nullptr, 0, 0, 1);
  FilRec* f = r ? filrec(r) : nullptr;
  auto* buf = static_cast<uint8_t*>(getbuf(512));
  if (!f || !buf) {
    closef(u, 0);
    return 0;
  }
  r->Idx = -1;
  std::strncpy(f->Nam, name, sizeof f->Nam - 1);
  f->Lun = static_cast<uint8_t>(u);
  inihdr(r, buf, -1, 0);
  int k = r->Flg;
  const char* what = (k & K_VECTOR) ? "vectors" : (k & K_STRING) ? "strings" : (k & K_FILE) ? "binary" : "ascii";
  const char* shape = (k & K_SOLID) ? "solid" : (k & (K_MATRIX | K_IMAGE | K_LIST)) ? "image" : "array";
  jprintf(lstlun, "File: %s\nType: %s %s (%o)\n", name, what, shape, k);
  jprintf(lstlun, "Dims: %ld x %ld x %ld\n", static_cast<long>(r->Datdims[0]), static_cast<long>(r->Datdims[1]),
          static_cast<long>(r->Datdims[2]));
  if (dump) shoptr(r);
  closef(u, 0);
  f->Lun = 0;
  return 0;
}
