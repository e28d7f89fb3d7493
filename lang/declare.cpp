// Declarations and definitions.
#include "lang/declare.h"

#include "core/args.h"
#include "core/blkbuf.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "core/element.h"
#include "compute/ptrfn.h"
#include "files/filevar.h"
#include "graphics/imgvars.h"
#include "lang/docmnd.h"
#include "lang/keywords.h"
#include "lang/parse.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/units.h"
#include "files/fileutil.h"

namespace {

// Whether a file name can also be a variable's name: a letter or "_", then
// letters, digits, "_" and "." (at most the symbol name's length).
bool symname(const char* s, int len) {
  if (len < 1 || len > SYMNAM || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (int k = 1; k < len; k++)
    if (!(std::isalnum(static_cast<unsigned char>(s[k])) || s[k] == '_' || s[k] == '.')) return false;
  return true;
}

}  // namespace

namespace {
// Attribute word codes.
enum : int {
  A_LIST = 3, A_GLOBAL = 35, A_NUMBER = 36, A_STRING = 37, A_ARRAY = 38, A_MATRIX = 39,
  A_FILE = 40, A_IMAGE = 41, A_SOLID = 42, A_POINTER = 43, A_BIT = 44, A_CRUMB = 45,
  A_NIBBLE = 46, A_BYTE = 47, A_REAL = 48, A_LONG = 49, A_CORE = 51, A_HIGH = 55, A_LOW = 58,
  A_INTEGER = 235, A_VECTOR = 243, A_RGB = 281,
};

const WORD* argw(int n, int* w) {
  int32_t h = 0;
  *w = argidx(n, &h);
  return *w >= 0 && *w < NWORDS ? &wrdtab[*w] : nullptr;
}

bool cmdword(const WORD* W) { return W && (W->type == WT_CMD || W->type == WT_CMDLIST); }

// Item k of the list of word w (WT_UNKLIST | 1): the item's WORD, or -1.
int listitem(int w, int k) {
  int e = w;
  for (int guard = 0; k >= 3 && guard < NWORDS; guard++) {
    int16_t s = wslot(wrdtab[e], 3);
    if (s <= SLOT_NONE) return -1;
    int c = e + s;
    if (c < 0 || c >= NWORDS) return -1;
    if (wrdtab[c].type == WT_SLOTS && c != e) {
      e = c;
      k -= 3;
    } else {
      return k == 3 ? c : -1;
    }
  }
  int16_t s = wslot(wrdtab[e], k);
  if (s <= SLOT_NONE) return -1;
  int c = e + s;
  return c >= 0 && c < NWORDS && c != e ? c : -1;
}

// Takes a headed block of `words` words (where: 1 low, 3 high when high
// memory exists). 0 when it cannot be had (the memory layer reports error 42
// for a request it refused); the caller reports 126.
int32_t takblk(int64_t words, int where) {
  if (words < 1 || words > HIMEM_MAXWORDS) return 0;
  int32_t a = 0;
  int r = getstk(&a, static_cast<int32_t>(words), 4, where, 0);
  if (r < 1 || a <= 0) return 0;
  return a;
}

// Words of the headed block that holds addr, from addr to its end; -1 when
// addr lies in no headed block.
int64_t blkwords(int32_t addr) {
  int32_t h = fndstk(addr);
  if (h <= 0) return -1;
  return static_cast<int64_t>(*wordp(h)) - (addr - h);
}

// Releases an entry's storage (release keeps the entry, undeclare clears it).
void relent(int32_t ent, bool drop) {
  SymEnt* e = symptr(ent);
  if (!e) return;
  // The image names and pointer variables bound to the variable let go of
  // it first.
  imgfreed(e);
  ptrfreed(ent);
  uint16_t f = e->flags;
  // A plain vector keeps its value in a block that erasvb leaves alone.
  if ((f & (K_VECTOR | K_MATRIX)) == K_VECTOR && e->data > 0 && !(f & SY_NOTOWN)) {
    freblk(e->data);
    e->data = 0;
  }
  erasvb(e);
  e = symptr(ent);
  if (drop)
    delsym(ent);
  else
    e->flags = static_cast<uint16_t>(e->flags & ~SY_VALUE);
}

// A file declaration that read its file whole as text (no binary header):
// the shape, word size and bytes of what was read, for an ordinary variable
// of the name. Numbers, strings, arrays and matrices only; false otherwise.
bool textvals(const PtrRec* r, int kind, int32_t* dims, int* ws, std::vector<uint8_t>* out) {
  int k = kind & 0x7F0;
  if (!r || (r->Flg & (K_FILE | K_LIST)) || (k != K_NUMBER && k != K_STRING && k != K_ARRAY && k != K_MATRIX))
    return false;
  dims[0] = dims[1] = dims[2] = 1;
  *ws = k == K_STRING ? 8 : r->Wsiz;
  if (k == K_NUMBER) {
    out->resize(4);
    std::memcpy(out->data(), &r->Addr, 4);
    return true;
  }
  int bits = *ws & 63;
  const auto* p = static_cast<int32_t>(r->Addr) > 0 ? static_cast<const uint8_t*>(stkptr(static_cast<int32_t>(r->Addr)))
                                                   : nullptr;
  if (!p || r->Length < 1 || (bits != 8 && bits != 16 && bits != 32)) return false;
  if (k == K_MATRIX) {
    dims[0] = static_cast<int32_t>(std::max<uint32_t>(r->Datdims[0], 1));
    dims[1] = static_cast<int32_t>(std::max<uint32_t>(r->Datdims[1], 1));
  } else {
    dims[0] = r->Length;
  }
  out->assign(p, p + static_cast<size_t>(r->Length) * (bits / 8));
  return true;
}

// Copies bytes into the words from addr on (page by page in paged high
// memory).
void putwds(int32_t addr, const std::vector<uint8_t>& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    size_t run = bytes.size() - at;
    if (addr >= HIMEM_BASE) {
      size_t in = static_cast<size_t>((addr - HIMEM_BASE) & (HPAGE_WORDS - 1));
      run = std::min(run, (HPAGE_WORDS - in) * 4);
    }
    std::memcpy(stkptr(addr), bytes.data() + at, run);
    addr += static_cast<int32_t>((run + 3) / 4);
    at += run;
  }
}

// Error 126, storage that could not be had: its text names the memory that
// was asked for, high memory (himemsize sets it) or the low stack (CSTACK).
void nostore(int arg, bool high) {
  if (high)
    error(arg, 126);
  else
    errtxt(arg, 126, "Storage allocation failed (CSTACK sets the low stack)");
}

// The kind flags of the kind word c.
uint16_t kindof(int c) {
  if (c >= A_NUMBER && c <= A_SOLID && c != A_FILE) return static_cast<uint16_t>((16 << (c - A_NUMBER)) + 0x1000);
  return 0;
}
}  // namespace

int declar(int code) {
  setres(-1, 0);
  const int n = nargs();
  int i = 2;
  bool list = false, global = false, file = false, core = false;
  int kw = 0, wsiz = 0, place = 0;  // place: 0 default, 1 low, 2 high
  bool lowset = false;
  for (; i <= n; i++) {
    int w;
    const WORD* W = argw(i, &w);
    if (!cmdword(W)) break;
    int c = W->v1;
    bool more = true;
    switch (c) {
      case A_LIST: list = true; break;
      case A_GLOBAL: global = true; break;
      case A_FILE: file = true; break;
      case A_CORE: core = true; break;
      case A_POINTER: kw = c; place = 1; lowset = true; break;
      case A_VECTOR:
      case A_NUMBER: case A_STRING: case A_ARRAY: case A_MATRIX: case A_IMAGE: case A_SOLID:
        if (kw) more = false;  // a second kind word ends the attributes
        else kw = c;
        break;
      case A_BIT: wsiz = 1; break;
      case A_CRUMB: wsiz = 2; break;
      case A_NIBBLE: wsiz = 4; break;
      case A_BYTE: wsiz = 8; break;
      case A_LONG: wsiz = 32; break;
      case A_INTEGER: wsiz = 16; break;
      case A_REAL: wsiz = 96; break;
      case A_RGB: wsiz = 24; break;
      case A_HIGH: if (!lowset) place = 2; break;
      case A_LOW: place = 1; lowset = true; break;
      default: more = false; break;
    }
    if (!more) break;
  }
  // At top level every declaration is visible everywhere.
  const SymTab* ct = tabptr(cursym);
  if (!ct || ct->link == 0) global = true;

  if ((list && kw != A_STRING && kw != A_VECTOR && kw != A_IMAGE) ||
      (kw == A_POINTER && (wsiz || file || core)) ||
      // A string list's elements are byte strings.
      (list && kw == A_STRING && wsiz && wsiz != 8)) {
    error(0, 15);
    return 0;
  }
  // A string list's items live in memory only: no file holds them.
  if (list && file && kw == A_STRING) {
    jprintf(errlun, "declare: string lists are not file-backed\n");
    error(0, 15);
    return 0;
  }
  if (i > n) {
    error(i, 150);
    return 0;
  }

  for (; i <= n; i++) {
    int w;
    const WORD* W = argw(i, &w);
    if (!W || cmdword(W)) {
      error(i, 150);
      return 0;
    }
    int t = W->type;
    bool eq = false;
    if (i + 1 <= n) {
      int we;
      const WORD* E = argw(i + 1, &we);
      eq = E && E->type == WT_CMD && E->v1 == OP_ASSIGN;
    }
    char name[LINBUF] = {0};
    std::vector<uint8_t> fromtext;  // what a text file declared held
    int32_t ent = 0;
    int ndims = 0;
    int32_t dims[3] = {1, 1, 1};
    bool varword = t > 0 && (t & 0x1000) && !(t & 0x2000);

    if (varword) {
      int32_t e = wval(*W);
      ent = e < 0 ? -e : e;
      if (!symptr(ent)) {
        error(i, 150);
        return 0;
      }
      if (code == 60) {  // release: the variable stays, without data
        relent(ent, false);
        if (eq) i += 2;
        continue;
      }
      symnam(ent, name, SYMNAM);
      name[SYMNAM] = 0;
      ndims = (symptr(ent)->flags & 0x7F0) >> 6;
    } else if (t == WT_TEXT || t == WT_UNKLIST || t == (WT_UNKLIST | 1) ||
               (file && t == WT_QUOTED)) {
      int tw = t == WT_TEXT || t == WT_QUOTED ? w : w + W->v1;
      tokstr(tw, name, sizeof name);
      if (code == 60) {
        if (trcmsk) jprintf(dbglun, "%s -- Release ignored\n", name);
        if (eq) i += 2;
        continue;
      }
      if (t != WT_TEXT && t != WT_QUOTED) {
        ndims = std::max<int>(W->v2, 0);
        for (int k = 0; k < std::min(ndims, 3); k++) {
          int iw = listitem(w, k);
          float v = 1;
          if (iw < 0 || tokval(iw, &v) < 0 || v < 0) {
            if (!(state & ST_ERROR)) error(i, 15);
            return 0;
          }
          dims[k] = static_cast<int32_t>(std::min(v, 2147483520.0f));
        }
      }
      int len = static_cast<int>(std::strlen(name));
      if (len < 1) {
        error(i, 15);
        return 0;
      }
      uint16_t fl = 0;
      // A file-backed declaration names a file; a name that can be a
      // variable's is the variable's too.
      int32_t e = len <= SYMNAM && (!file || symname(name, len)) ? GETSYM(name, len, &fl, 0) : -1;
      if (e > 0 && !(fl & SY_DEFINE)) ent = e;
    } else {
      error(i, 150);
      return 0;
    }

    // Undeclare.
    if (code == 65) {
      if (ent > 0) {
        const SymEnt* e = symptr(ent);
        if (trcmsk)
          jprintf(dbglun, "Release: %s (%o,%ld), %ld wds\n", name, e->flags, static_cast<long>(ent),
                  static_cast<long>(e->data > 0 ? std::max<int64_t>(blkwords(e->data), 0) : 0));
        relent(ent, true);
      } else if (trcmsk) {
        jprintf(dbglun, "%s -- Undeclare ignored\n", name);
      }
      if (eq) i += 2;
      continue;
    }

    // The kind.
    int kc = kw;
    if (!kc) kc = ndims == 0 ? A_NUMBER : ndims == 1 ? A_ARRAY : ndims == 2 ? A_MATRIX : A_SOLID;
    uint16_t kind;
    bool veclist = false;
    if (kc == A_VECTOR) {
      veclist = list;
      kind = static_cast<uint16_t>(0x1100 + (list ? 0x80 : 2));
    } else if (kc == A_POINTER) {
      kind = 0x1000;
    } else {
      kind = kindof(kc);
    }
    const bool plist = list && !veclist;
    int ws = wsiz;
    if (!ws) ws = (kc == A_STRING || kc == A_IMAGE || kc == A_SOLID) ? 8 : kc == A_VECTOR ? 136 : 96;
    bool high = place == 2 || (place == 0 && !(kc == A_NUMBER || kc == A_STRING || kc == A_VECTOR ||
                                                kc == A_POINTER || file));

    // An existing name.
    bool rewrite = false;
    if (ent > 0) {
      if (!(state & ST_CMACRO)) {
        const SymEnt* e = symptr(ent);
        if (ent > cursym || global) {
          if ((e->flags & 0x7F0) != (kind & 0x7F0) || file || (e->flags & K_FILE)) {
            error(i, 44);
            return 0;
          }
          if (trcmsk) jprintf(dbglun, "%s -- Redeclaration ignored\n", name);
          if (eq) {
            setres(0, 0);
            return 0;
          }
          continue;
        }
        ent = 0;  // an outer table's name is shadowed by a new entry
      } else {
        rewrite = true;
      }
    }
    int len = static_cast<int>(std::strlen(name));
    if (len > (file ? static_cast<int>(sizeof(FilRec::Nam)) - 1 : SYMNAM)) {
      error(i, 17);
      return 0;
    }

    uint16_t flags = static_cast<uint16_t>(kind | (global ? SY_GLOBAL : 0) | (core ? SY_NOTOWN : 0) |
                                           (plist ? SY_LIST : 0));
    if (core) aliasmade = true;
    if (state & ST_COMPILE) {
      // Compiling: the entry only, no storage; "=" ends the line. A file
      // variable's entry holds its pointer record, as a pointer's does.
      if (file && !symname(name, len)) continue;
      if (file) flags = static_cast<uint16_t>(0x1000 | (global ? SY_GLOBAL : 0));
      putsym(rewrite ? ent : 0, name, len, flags, 0, 0, ws & 0xFF);
      if (eq) break;
      continue;
    }

    // A target after "=".
    bool target = false;
    int32_t taddr = 0;
    int64_t tsize = -1;  // words the target holds; -1 no limit (core)
    if (eq) {
      if (file) {
        error(i, 15);
        return 0;
      }
      int ti = i + 2;
      if (core) {
        taddr = lngarg(ti, 0);
        if (taddr < 0 && trcmsk) jprintf(dbglun, "Coreaddr: %lu\n", static_cast<unsigned long>(uint32_t(taddr)));
      } else {
        // The target's data: its entry's block (the items of a header
        // kind), moved on by its current position when that is a whole
        // number of words.
        int32_t cnt = 0;
        PtrRec* r = argary(ti, &cnt);
        const SymEnt* te = r && (r->Flg & 0x1000) && !(r->Flg & K_FILE) ? symptr(r->Idx) : nullptr;
        int32_t base = te ? te->data : 0;
        if (te && base > 0 && (te->flags & K_HDR) && !(te->flags & (K_VECTOR | K_LIST)))
          base = static_cast<int32_t>(*wordp(base + 3));
        if (base <= 0 || !wordp(base)) {
          error(ti, 63);
          return 0;
        }
        int64_t off = r->Data0 > 0 ? static_cast<int64_t>(r->Dptr) - r->Data0 : 0;
        if (off > 0 && off % 4 == 0) base += static_cast<int32_t>(off / 4);
        taddr = base;
        tsize = blkwords(base);
        if (tsize < 0) {
          error(ti, 63);
          return 0;
        }
      }
      target = true;
      flags |= SY_NOTOWN;
      aliasmade = true;
    } else if (file && core) {
      error(i, 15);
      return 0;
    }

    // Dimensions.
    int maxd = kc == A_NUMBER || kc == A_POINTER ? 0
               : (kc == A_STRING || kc == A_ARRAY || kc == A_VECTOR) ? 1
               : (kc == A_MATRIX || kc == A_IMAGE) ? 2 : 3;
    int given = varword ? 0 : ndims;
    if (given > maxd) {
      error(i, 26);
      return 0;
    }
    // Each step of the product is checked: three dimensions near 2^31
    // would overflow even 64 bits.
    int64_t count = static_cast<int64_t>(dims[0]) * dims[1];
    if (count <= INT32_MAX) count *= dims[2];
    if (count > INT32_MAX) {
      nostore(i, high && !file);
      return 0;
    }

    if (file) {
      // The file layer opens the file named like the variable (made when
      // missing, with its header) and makes it as long as its data. A name
      // that can be a variable's becomes one: its entry holds the file's
      // pointer record, which keeps the file open while the entry lives.
      uint32_t fd[3] = {static_cast<uint32_t>(dims[0]), static_cast<uint32_t>(dims[1]),
                        static_cast<uint32_t>(dims[2])};
      bool named = symname(name, len);
      PtrRec* r = putptr((kind & ~K_NAMED) | K_FILE, 0, fd, 0, ws, named ? 0 : 1);
      FilRec* f = r ? filrec(r) : nullptr;
      if (!f) {
        nostore(i, false);
        return 0;
      }
      r->Idx = -1;
      std::memcpy(f->Nam, name, static_cast<size_t>(len) + 1);
      bool had = Exists(name) != 0;
      int32_t cnt, part, tot, wsz;
      gtvarb(r, &cnt, &part, &tot, &wsz, 115);
      // filext reports a failure itself (a stopped fill is no error); a
      // file this declaration made goes again.
      if (tot < 0 || (state & ST_ERROR) || !filext(r)) {
        if (f->Lun > 0) closef(f->Lun, had ? 0 : 1);
        f->Lun = 0;
        if (named) freptr(r);
        return 0;
      }
      // Prepared for writing, its first buffer counts as changed: it is
      // written back now (the file's own bytes), so that it never puts
      // them back over what another record of the file writes later.
      flshio(r);
      if (named && textvals(r, kind, dims, &ws, &fromtext)) {
        // The file was read whole as text: the name becomes an ordinary
        // variable holding what was read, which keeps it past this command
        // and takes subscripts as any variable does.
        freptr(r);
        count = int64_t{dims[0]} * dims[1] * dims[2];
        high = place == 2 || (place == 0 && !(kc == A_NUMBER || kc == A_STRING));
      } else if (named) {
        if (f->Lun > 0 && f->Lun < NUNITS) filtab[f->Lun].mode &= static_cast<uint16_t>(~UM_TEMP);
        f->Mod = static_cast<uint16_t>(f->Mod & ~UM_TEMP);
        uint16_t fl = static_cast<uint16_t>(0x1000 | SY_VALUE | (global ? SY_GLOBAL : 0));
        int32_t e = putsym(rewrite ? ent : 0, name, len, fl, static_cast<int32_t>(r->PTR), 1, 0);
        if (e <= 0) {
          freptr(r);
          if (!(state & ST_ERROR)) nostore(i, false);
          return 0;
        }
      }
      if (fromtext.empty()) {
        if (eq) i += 2;
        continue;
      }
    }

    int bits = ws == 136 ? 64 : (ws & 63);
    // A string list's storage is its element table, one word per element; a
    // vector list holds its 8-byte records themselves.
    int64_t words = plist ? count : (count * bits + 31) / 32;
    const bool hdr = (kind & K_HDR) && !(kind & K_VECTOR) && !plist;
    int32_t data = 0, block = 0, items = 0;
    bool taken = false;
    int where = high ? 3 : 1;
    if (target) {
      if (tsize >= 0 && words > tsize) {
        error(i, 79);
        return 0;
      }
      items = taddr;
    }
    if (kc == A_POINTER) {
      PtrRec* r = putptr(0, 0, nullptr, 0, 0, 0);
      if (!r) {
        nostore(i, false);
        return 0;
      }
      data = static_cast<int32_t>(r->PTR);
      taken = true;
    } else if (hdr) {
      bool itemsfail = false;  // the header was had, its items not
      if (target || high) {
        block = takblk(6, 1);  // the 5-word header (blocks are even)
        if (block && !target) {
          items = takblk(words, where);
          if (!items) {
            freblk(block);
            block = 0;
            itemsfail = true;
          }
        }
      } else {
        block = takblk(words + 5, 1);
        items = block ? block + 5 : 0;
      }
      if (!block || (!target && !items)) {
        nostore(i, itemsfail && high);
        return 0;
      }
      uint32_t* h = wordp(block);
      h[0] = static_cast<uint32_t>(dims[0]);
      h[1] = static_cast<uint32_t>(dims[1]);
      h[2] = static_cast<uint32_t>(dims[2]);
      h[3] = static_cast<uint32_t>(items);
      h[4] = 0;
      if (!target) zerwds(items, words);
      if (target && !core) {
        // The target's block gains a reference.
        int32_t th = fndstk(items);
        if (th > 0 && (*wordp(th + 1) >> BLK_REFSHIFT) < 15) *wordp(th + 1) += 1u << BLK_REFSHIFT;
      } else if (!target && items != block + 5) {
        ptrstk(items, block + 3);
      }
      data = block;
      taken = true;
      flags = static_cast<uint16_t>(flags & ~SY_NOTOWN);  // the header is the entry's own
      if (items >= HIMEM_BASE) flags |= SY_HIGH;
    } else if (target) {
      data = items;
    } else if (words > 0) {
      block = takblk(words, where);
      if (!block) {
        nostore(i, high);
        return 0;
      }
      zerwds(block, words);
      if (veclist) {
        PtrRec* r = putptr(kind, 0, nullptr, 0, ws, 0);
        if (!r) {
          freblk(block);
          nostore(i, false);
          return 0;
        }
        r->Addr = static_cast<uint32_t>(block);
        r->Data0 = bytadr(block);
        r->Length = static_cast<int32_t>(count);
        r->Tot = static_cast<uint32_t>(count);
        r->Datdims[0] = static_cast<uint32_t>(count);
        r->Datdims[1] = r->Datdims[2] = 1;
        ptrstk(block, static_cast<int32_t>(r->PTR) + PR_ADDR);
        data = static_cast<int32_t>(r->PTR);
      } else {
        data = block;
      }
      taken = true;
      if (block >= HIMEM_BASE) flags |= SY_HIGH;
    } else if (veclist) {
      // An empty vector list still has its pointer record: records are
      // added to it later.
      PtrRec* r = putptr(kind, 0, nullptr, 0, ws, 0);
      if (!r) {
        nostore(i, false);
        return 0;
      }
      r->Datdims[1] = r->Datdims[2] = 1;
      data = static_cast<int32_t>(r->PTR);
      taken = true;
    }
    if (taken) flags |= SY_VALUE;
    int32_t e = putsym(rewrite ? ent : 0, name, len, flags, data, static_cast<uint32_t>(count), ws & 0xFF);
    if (e <= 0) {
      if (data > 0 && taken) freblk(data);
      if (!(state & ST_ERROR)) nostore(i, false);
      return 0;
    }
    if (kc == A_POINTER || veclist) {
      PtrRec* r = ptrrec(data);
      if (r) r->Idx = e;
    }
    if (!fromtext.empty()) putwds(hdr ? items : block, fromtext);
    if (eq) i += 2;
  }
  setres(0, 0);
  return 0;
}

// ---------------------------------------------------------------------------
// define

namespace {
bool parmch(int c) { return (c >= 'a' && c <= 'z') || c == '_' || c == '.' || c == '$' || c == '\\'; }
bool blank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

bool defline(const char* line) {
  if (!line) return false;
  while (blank(*line)) line++;
  char word[41];
  int l = 0;
  while (l < 40 && line[l] && !blank(line[l])) {
    word[l] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[l])));
    l++;
  }
  word[l] = 0;
  if (l < 2) return false;
  int len = l;
  return cmdlook(word, &len) == 33;
}

int define() {
  setres(-1, 0);
  // The definition is the raw rest of the line: skip the command word and
  // any "global" words, then the name with its parameter list.
  const char* p = linbuf;
  while (blank(*p)) p++;
  while (*p && !blank(*p)) p++;
  bool global = false;
  int narg = 2;  // the name's argument number: "global" words come first
  for (;;) {
    while (blank(*p)) p++;
    if (std::strncmp(p, "global", 6) == 0 && (p[6] == 0 || blank(p[6]))) {
      global = true;
      narg++;
      p += 6;
      continue;
    }
    break;
  }
  const SymTab* ct = tabptr(cursym);
  if (!ct || ct->link == 0) global = true;

  std::string name, params;
  while (*p && !blank(*p) && *p != '(') name += static_cast<char>(std::tolower(static_cast<unsigned char>(*p++)));
  if (*p == '(') {
    p++;
    while (*p && *p != ')') params += *p++;
    if (*p == ')') p++;
  }
  while (blank(*p)) p++;
  std::string def(p);
  while (!def.empty() && blank(def.back())) def.pop_back();
  if (def.size() > 299) def.resize(299);

  bool namok = !name.empty() && (std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_');
  for (char c : name) namok = namok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  if (!namok) {
    error(narg, 18);
    return 0;
  }
  if (name.size() > SYMNAM) {
    error(narg, 17);
    return 0;
  }
  if (def == name) def.clear();

  // Parameters become bytes 1, 2, ... where they stand alone.
  int np = 0;
  for (char c : params) {
    if (!parmch(static_cast<unsigned char>(c))) continue;
    np++;
    for (size_t k = 0; k < def.size(); k++) {
      if (def[k] != c) continue;
      bool lft = k > 0 && parmch(static_cast<unsigned char>(def[k - 1]));
      bool rgt = k + 1 < def.size() && parmch(static_cast<unsigned char>(def[k + 1]));
      if (!lft && !rgt) def[k] = static_cast<char>(np);
    }
  }

  const int len = static_cast<int>(def.size());
  uint16_t fl = 0;
  int32_t ent = GETSYM(name.c_str(), static_cast<int>(name.size()), &fl, global ? 1 : 0);
  if (ent > 0 && !(fl & SY_DEFINE)) ent = -1;
  if (ent > 0) {
    SymEnt* e = symptr(ent);
    if (static_cast<int>(e->value) != len) {
      if (len > 0) {
        error(narg + 1, 45);
        return 0;
      }
      delsym(ent);  // undefined: its text block goes with it
      setres(0, 0);
      return 0;
    }
    if (len > 0 && e->data > 0) std::memcpy(stkptr(e->data), def.data(), static_cast<size_t>(len));
    e->type = static_cast<uint8_t>(np);
    setres(0, 0);
    return 0;
  }
  if (len > 0) {
    int32_t blk = 0;
    if (getstk(&blk, len, 1, 1, 0) < 1 || blk <= 0) return 0;
    std::memcpy(stkptr(blk), def.data(), static_cast<size_t>(len));
    int32_t e = putsym(0, name.c_str(), static_cast<int>(name.size()), SY_DEFINE | (global ? SY_GLOBAL : 0),
                       blk, static_cast<uint32_t>(len), np);
    if (e <= 0) {
      freblk(blk);
      return 0;
    }
  }
  setres(0, 0);
  return 0;
}
