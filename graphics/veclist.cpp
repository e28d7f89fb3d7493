// The vector list and the vector data list: their scratch files, counts and
// marks, and reading records in expanded form through a list's transform.
#include "graphics/veclist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compute/xform.h"
#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/symbols.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/fileutil.h"
#include "files/filevar.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "graphics/redraw.h"
#include "lang/names.h"
#include "ui/screen.h"
#include "ui/window.h"

uint8_t vcmap[256];
VecPt vecpts[64];
uint32_t vecptgen = 1;
int16_t vlight[4];

namespace {

constexpr int32_t VBLOCK = 8192;  // bytes of a block buffer: 1024 records
constexpr int32_t VDATA0 = 86;    // the records' offset in the list file
constexpr int32_t VMAXREC = 32767 * (VBLOCK / 8);  // as many as the block numbers reach

int32_t lastdrw = -1;  // last-drawn mark
int32_t lastend = 0;   // last-end mark
bool vlok = false;     // the list has its file
// Why the list has no file: the name tried and the system's cause.
std::string vlnofile;
int vlnoerr = 0;
bool vdok = false;     // the data list has its file

// The units and host names of the two files, so that they are closed again
// (and only they) when the lists are forgotten.
struct LFile {
  int unit = 0;
  std::string host;
};
LFile vlf, vdf;

// The 8-byte table set up with the list (read by nothing here).
uint8_t vtab8[8];

// The colour map is the identity from the start.
void cmapini() {
  for (int i = 0; i < 256; i++) vcmap[i] = static_cast<uint8_t>(i);
}
struct CmapInit {
  CmapInit() { cmapini(); }
} cmapinit;

// The system entry of a list name. Its address is kept while the system
// table stays the same and the entry still holds the name, so that appending
// a record does not search the table.
struct EntCache {
  const char* name;
  size_t n;
  int32_t sys = 0, adr = 0;
  uint32_t gen = 0;       // symgen when the entry was last checked
  SymEnt* ent = nullptr;  // the entry then
  int32_t data = 0;       // the entry's record address last seen
  PtrRec* rec = nullptr;  // and the record there
};
EntCache entvec{"vecs", 4}, entdat{"vdata", 5};
SymEnt* vent(EntCache& c) {
  // No entry was made, rewritten or deleted since the last check.
  if (c.adr > 0 && c.ent && c.gen == symgen && c.sys == syssym) return c.ent;
  c.ent = nullptr;
  const size_t n = c.n;
  const SymTab* h = tabptr(syssym);
  if (c.adr > 0 && c.sys == syssym && h && h->count > 0 && c.adr <= symadr(syssym, static_cast<int>(h->count) - 1)) {
    SymEnt* s = symptr(c.adr);
    bool same = s && s->flags != 0 && static_cast<size_t>(s->nlen & 15) == n;
    for (size_t i = 0; same && i < n; i++) same = s->name[i] == c.name[i];
    if (same) {
      c.gen = symgen;
      c.ent = s;
      return s;
    }
  }
  int32_t e = sysent(c.name);
  c.sys = syssym;
  c.adr = e > 0 ? e : 0;
  c.gen = symgen;
  c.ent = e > 0 ? symptr(e) : nullptr;
  return c.ent;
}

// The pointer record an entry holds, when it is a list record of word size
// code wsiz.
PtrRec* entrec(EntCache& c, int wsiz) {
  SymEnt* e = vent(c);
  if (!e || e->data <= 0 || !(e->flags & SY_VALUE)) return nullptr;
  auto* p = e->data == c.data && c.rec ? c.rec : static_cast<PtrRec*>(stkptr(e->data));
  const bool ok = p && p->PTR == static_cast<uint32_t>(e->data) && p->Wsiz == wsiz && (p->Flg & K_MATRIX);
  c.data = e->data;
  c.rec = ok ? p : nullptr;
  return c.rec;
}

// ---- The files ----------------------------------------------------------------

// A list's file name: the string variable, else tmpdir joined to the base
// name, else the base name in the host's temporary folder.
std::string lstname(const char* var, const char* base) {
  std::string v = strvar(var);
  if (!v.empty()) return v;
  std::string t = strvar("tmpdir");
  if (t.empty()) {
    const char* h = std::getenv("TMPDIR");
    t = h && *h ? h : "/tmp";
  }
  if (t.back() != '/' && t.back() != '\\') t += '/';
  return t + base;
}

// Makes a list's file anew and opens it for update: an old file of that
// name is deleted first, and the file opened must be the one made here (two
// programs starting at once never share one). The unit, or -1.
int mkscr(const std::string& name, LFile* lf) {
  std::string host = hostpath(name);
  errno = ENAMETOOLONG;
  if (host.empty() || host.size() >= UNIT_NAMELEN) return -1;
  for (int k = 0; k < 8; k++) {
    if (unlink(host.c_str()) != 0 && errno != ENOENT) return -1;
    int fd = open(host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    struct stat a;
    const bool got = fstat(fd, &a) == 0;
    close(fd);
    if (!got) return -1;
    const int u = openf(host.c_str(), UM_UPDATE, 0);
    if (u < 0) return -1;
    FILE* fp = unitstream(u);
    struct stat b;
    if (fp && fstat(fileno(fp), &b) == 0 && a.st_ino == b.st_ino && a.st_dev == b.st_dev) {
      lf->unit = u;
      lf->host = filtab[u].name;
      return u;
    }
    closef(u, 0);
  }
  return -1;
}

// The list file's header: a vector file of no records yet (the records
// start at byte 86 whatever the count).
bool vhead(int unit) {
  uint8_t h[VDATA0] = {'I', 'I', 42, 0, 8, 0, 0, 0, 5, 0};
  auto ent = [&](int k, int tag, int type, uint32_t value) {
    uint8_t* e = h + 10 + 12 * k;
    e[0] = static_cast<uint8_t>(tag), e[1] = static_cast<uint8_t>(tag >> 8);
    e[2] = static_cast<uint8_t>(type);
    e[4] = 1;
    for (int i = 0; i < 4; i++) e[8 + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  ent(0, 256, 3, 8);
  ent(1, 257, 4, 0);
  ent(2, 258, 3, 8);
  ent(3, 273, 4, VDATA0);
  ent(4, 33332, 4, W_VEC);
  return wrtblk(unit, 0, h, VDATA0, 0) == VDATA0;
}

// A file-backed list record on an open unit: kind Vector (or Matrix) with
// the file bit, rows of nx items, buffers of VBLOCK bytes, the data from
// byte `data0` of the file; null when it cannot be prepared.
PtrRec* mkflist(const std::string& name, int unit, int kind, int wsiz, uint32_t nx, int type, int32_t data0) {
  uint32_t dims[3] = {nx, 1, 1};
  PtrRec* r = putptr(kind | K_FILE, VBLOCK, dims, 0, wsiz, 0);
  FilRec* f = r ? filrec(r) : nullptr;
  if (!f) {
    if (r) freptr(r);
    return nullptr;
  }
  r->Idx = -1;
  std::strncpy(f->Nam, name.c_str(), sizeof f->Nam - 1);
  f->Lun = static_cast<uint8_t>(unit);
  f->Mod = UM_UPDATE;
  f->Flg = static_cast<uint8_t>(type | FF_NOHDR);
  // A row of the table of active buffers left by a file that had this
  // unit before is not this file's.
  pactiv(r, -1);
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 115);
  if (tot < 0 || (state & ST_ERROR) || !bufrec(r) || r->Rwds != VBLOCK * 8 / (wsiz & 63)) {
    f->Lun = 0;  // the unit is the caller's to close
    freptr(r);
    return nullptr;
  }
  if (BufRec* b = bufrec(r)) {
    b->Bufdims[0] = nx;
    b->Bufdims[1] = static_cast<uint32_t>(VBLOCK / (nx * (wsiz & 63) / 8));
  }
  r->Mptr = static_cast<uint32_t>(data0);
  return r;
}

// The count words of a list: n rows of nx items.
void setcnt(PtrRec* p, EntCache& c, int32_t n, uint32_t nx, bool vec) {
  const uint32_t u = static_cast<uint32_t>(n);
  p->Length = vec ? n : static_cast<int32_t>(u * nx);
  p->Tot = u * nx;
  p->Datdims[0] = nx;
  p->Datdims[1] = u;
  p->Datdims[2] = 1;
  p->Offs[0] = p->Offs[1] = p->Offs[2] = 0;
  p->Offs[3] = nx;
  p->Offs[4] = u;
  p->Offs[5] = 1;
  if (SymEnt* e = vent(c)) e->value = vec ? u : u * nx;
}

// Binds a list record to its system name: the entry's data word holds the
// record, whose block belongs to that word.
void bindrec(EntCache& c, PtrRec* p, uint16_t flags) {
  SymEnt* e = vent(c);
  if (!e) return;
  p->Idx = c.adr;
  e->flags = static_cast<uint16_t>(flags | SY_VALUE);
  e->data = static_cast<int32_t>(p->PTR);
  e->type = static_cast<uint8_t>(p->Wsiz & 0xFF);
  ptrstk(static_cast<int32_t>(p->PTR), c.adr + 1);
}

void cloself(LFile* lf) {
  if (lf->unit > 0 && lf->unit < NUNITS && filtab[lf->unit].Nlinks > 0 && lf->host == filtab[lf->unit].name)
    closef(lf->unit, 0);
  lf->unit = 0;
  lf->host.clear();
}

// ---- Fast record access -------------------------------------------------------
//
// The records of the buffer last reached, so that a walk over the list
// reaches each record without looking for its block again. The buffer is
// trusted while it still holds that block at the same address (and, for a
// write, is still marked changed).
struct VCache {
  const PtrRec* r = nullptr;
  int32_t lo = 0, hi = -1;
  uint8_t* base = nullptr;
  uint32_t addr = 0;
  int16_t blk = 0;
  int slot = 0;
  // The buffer record found while a VecPin lives (no record moves then).
  BufRec* b = nullptr;
  int32_t bufp = 0;
} vcr;

void vcdrop() {
  vcr.r = nullptr;
  vcr.b = nullptr;
  vecptgen++;
}

int vpin = 0;  // VecPins alive

BufRec* vbuf(const PtrRec* p) {
  if (vpin && vcr.b && p->Bufp == vcr.bufp) return vcr.b;
  BufRec* b = bufrec(p);
  if (vpin) {
    vcr.b = b;
    vcr.bufp = p->Bufp;
  }
  return b;
}

uint8_t* vfast(PtrRec* p, int32_t index, int access) {
  if (vcr.r == p && index >= vcr.lo && index <= vcr.hi && p->Addr == vcr.addr) {
    BufRec* b = vbuf(p);
    if (b && b->B[vcr.slot].Blk == vcr.blk && (access != 2 || b->F[vcr.slot] == 2))
      return vcr.base + static_cast<int64_t>(index - vcr.lo) * 8;
  }
  vcr.r = nullptr;
  p->XYZptr[0] = 0;
  p->XYZptr[1] = static_cast<uint32_t>(index);
  p->XYZptr[2] = 0;
  uint8_t* q = nxtbuf(p, access);
  BufRec* b = bufrec(p);
  if (!q || !b || p->Bufsiz < 8) return nullptr;
  const int32_t per = p->Rwds / 8;
  if (per >= 1) {
    const int32_t off = index % per;
    vcr.r = p;
    vcr.lo = index - off;
    vcr.hi = vcr.lo + per - 1;
    vcr.base = q - static_cast<int64_t>(off) * 8;
    vcr.addr = p->Addr;
    vcr.slot = (b->Actv & 0x40) ? 0 : (b->Actv & 3);
    vcr.blk = b->B[vcr.slot].Blk;
  }
  return q;
}

// The vector list's count set to n. Records a shorter count drops stay in
// the file (the buffers are written out first), so that a longer count
// shows them again: a longer count reloads the buffers unless the caller
// writes every record it adds at once (fresh).
void vlcount(PtrRec* p, int32_t n, bool fresh) {
  vecptgen++;
  if (!vlok) return;
  const int32_t old = p->Length;
  if (n < old) {
    flshio(p);
  } else if (n > old && !fresh) {
    rstbuf(p);
    vcdrop();
  }
  setcnt(p, entvec, n, 8, true);
}

// The count grows to hold record index, which the caller writes at once.
bool vlgrow(PtrRec* p, int32_t index) {
  if (index < p->Length) return true;
  if (index >= VMAXREC) {
    error(0, 42);
    return false;
  }
  const bool fresh = index == p->Length;
  lastvec = -1;
  if (index > lastdrw) lastdrw = index;
  vlcount(p, index + 1, fresh);
  return true;
}

// Writes a record's fields.
void vrec(uint8_t* r, int x, int y, int z, int code, int colour, int width) {
  const int16_t v[3] = {static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(z)};
  std::memcpy(r, v, 6);
  r[6] = static_cast<uint8_t>(((width & 15) << 4) | (code & 15));
  r[7] = static_cast<uint8_t>(colour);
}


// The vector list's record index for writing, the count grown to hold it.
// A record that cannot be stored (the list has no file, or a block of it
// cannot be written to make room) is reported and not counted.
uint8_t* vwrite(int32_t index) {
  vecptgen++;
  PtrRec* p = veclst();
  if (!p || index < 0) return nullptr;
  if (!vlok) {
    // Said once a command.
    if (!(state & ST_ERROR)) {
      if (!vlnofile.empty()) jprintf(errlun, "%s: %s\n", vlnofile.c_str(), std::strerror(vlnoerr ? vlnoerr : EIO));
      error(0, 69);
    }
    return nullptr;
  }
  const int32_t old = p->Length, lv = lastvec, ld = lastdrw;
  if (!vlgrow(p, index)) return nullptr;
  uint8_t* r = vfast(p, index, 2);
  if (!r) {
    // The buffer keeps the block it could not write (its write said why).
    if (!(state & ST_ERROR)) error(0, 69);
    if (p->Length != old) setcnt(p, entvec, old, 8, true);
    lastvec = lv;
    lastdrw = ld;
  }
  return r;
}

}  // namespace

namespace {
PtrRec* vpinlst = nullptr;  // the vector list found while VecPins live
uint32_t vpingen = 0;       // symgen then (a new entry looks again)
}  // namespace

PtrRec* veclst() {
  if (vpin && vpinlst && vpingen == symgen) return vpinlst;
  PtrRec* p = entrec(entvec, W_VEC);
  if (vpin) {
    vpinlst = p;
    vpingen = symgen;
  }
  return p;
}
PtrRec* vdatlst() { return entrec(entdat, W_FLOAT); }

namespace {

// The names vecs and vdata used before their list exists: the list is made
// then, as any reader of it would.
PtrRec* vhold(int32_t entry) {
  if (entry <= 0) return nullptr;
  if (vent(entvec) && entry == entvec.adr) {
    vinit(0);
    return veclst();
  }
  if (vent(entdat) && entry == entdat.adr) {
    vinit(1);
    return vdatlst();
  }
  return nullptr;
}
struct HoldInit {
  HoldInit() { holdrec = vhold; }
} holdinit;

}  // namespace

int32_t vreccnt(PtrRec* list) {
  if (!list || list == veclst()) return nvecs;
  return (list->Flg & K_MATRIX) ? static_cast<int32_t>(list->Offs[4]) : 1;
}

int vinit(int flags) {
  if (flags & 1) return vinit2((flags & 2) ? 8 : 136);
  // A list in use is never made again: its file keeps its records.
  if (veclst()) return 0;
  if (!vent(entvec)) return 0;
  PtrRec* p = nullptr;
  vlok = false;
  vlnofile.clear();
  if (!(flags & 4)) {
    const std::string name = lstname("vecfil", "vecs.tmp");
    werrno = 0;
    const int u = mkscr(name, &vlf);
    if (u > 0 && vhead(u)) p = mkflist(name, u, K_VECTOR | K_MATRIX, W_VEC, 8, FT_VEC, VDATA0);
    if (p) {
      vlok = true;
    } else {
      vlnoerr = werrno ? werrno : errno;
      vlnofile = name;
      logprintf("vinit: no vector list file %s\n", name.c_str());
      cloself(&vlf);
    }
  }
  if (!p) {
    // A list without a file: its readers get no records.
    p = putptr(K_VECTOR | K_MATRIX, 0, nullptr, 0, W_VEC, 0);
    if (!p) return 0;
  }
  vcdrop();
  bindrec(entvec, p, 0x1180);
  setcnt(p, entvec, 0, 8, true);
  cmapini();
  // The drawing box reaches the screen's right edge and half the height
  // below the menu bar and a window header.
  const int m = mnubar + 18;
  drwbox.max[0] = static_cast<int16_t>(scrwid - 1);
  drwbox.max[1] = static_cast<int16_t>((scrhgt - 1 - m) / 2);
  // The vector window, in slot 4, becomes the current window: at (0, m), the
  // drawing box's width by its height less a window header.
  const int32_t r[4] = {0, m, drwbox.max[0] - 1, m + drwbox.max[1] - 18 - 1};
  if (makwin(4, 8, 273, 0, "VECS", r, 1, 2) == 4) setwin(4);
  std::memset(vtab8, 0xFF, sizeof vtab8);
  lastvec = 0;
  lastdrw = -1;
  lastend = 0;
  return 0;
}

int vinit2(int) {
  if (vdatlst() || !vent(entdat)) return 0;
  const std::string name = lstname("vdatfil", "vdata.tmp");
  PtrRec* p = nullptr;
  vdok = false;
  const int u = mkscr(name, &vdf);
  if (u > 0) p = mkflist(name, u, K_MATRIX, W_FLOAT, 2, 0, 0);
  if (p) {
    vdok = true;
  } else {
    logprintf("vinit: no vector data file %s\n", name.c_str());
    cloself(&vdf);
    p = putptr(K_MATRIX, 0, nullptr, 0, W_FLOAT, 0);
    if (!p) return 0;
  }
  bindrec(entdat, p, 0x1000);
  setcnt(p, entdat, 0, 2, false);
  return 0;
}

int setnvec(int which, int32_t n) {
  if (n < 0) return 0;
  if (which > 0) {
    PtrRec* p = vdatlst();
    if (p && vdok) {
      const int32_t old = static_cast<int32_t>(p->Offs[4]);
      if (n < old)
        flshio(p);
      else if (n > old)
        rstbuf(p);
      setcnt(p, entdat, std::min(n, VMAXREC), 2, false);
    }
    return 0;
  }
  lastvec = -1;
  if (which < 0) lastend = -1;
  if (which < 0 || n > lastdrw) lastdrw = n - 1;
  if (PtrRec* p = veclst()) vlcount(p, std::min(n, VMAXREC), false);
  return 0;
}

int putvec(int32_t index, int x, int y, int z, int code, int colour, int width) {
  if (!veclst()) vinit(0);
  uint8_t* r = vwrite(index);
  if (!r) return -1;
  vrec(r, x, y, z, code, colour, width);
  return 0;
}

int savvec(int x, int y, int z, int code, int colour, int width) {
  if (code == 1 && nvecs == 0) code = 2;
  const int32_t w = nvecs;
  if (w < 0) return 0;
  if (putvec(w, x, y, z, code, colour, width) < 0) return -1;
  lastdrw = w;
  nvecs = w + 1;
  vdraw(w, 0);
  return 0;
}

int endvec(int type) {
  const int32_t w = nvecs;
  if (w < 0) return 0;
  if (!veclst()) vinit(0);
  int y = 0, z = 0;
  bool restart = false;
  uint8_t keep[8] = {};
  int32_t at = w;             // where the end record goes
  int32_t patch = -1, off = 0;  // an earlier end record and its distance field
  int16_t dist = 0;
  if (type == 4) {
    const int32_t d = lastend - w;
    if (d < 0 && lastend >= 0) {
      patch = lastend;
      off = 2;
      dist = static_cast<int16_t>(-d);
    }
    y = d;
  } else if (type == 2 || type == 3) {
    if (type == 3 && w > 0) {
      // The last point is written again after the end record.
      if (const uint8_t* r = gtvptr(nullptr, w - 1, 1)) std::memcpy(keep, r, 8);
      restart = true;
      at = w - 1;
    }
    type = 2;
    const int32_t s = lastvec;
    int32_t d = s - at;
    const uint8_t* r = s >= 0 && d < 0 ? gtvptr(nullptr, s, 1) : nullptr;
    if (r && (r[6] & 15) == VC_END) {
      patch = s;
      off = 4;
      dist = static_cast<int16_t>(-d);
    } else {
      d = 0;
    }
    z = d;
  }
  // The new records first (the point a restart keeps before the end record
  // that takes its place), then the distance in the earlier end record: a
  // record the list cannot store changes nothing.
  if (restart && putvec(w, vget16(keep), vget16(keep + 2), vget16(keep + 4), keep[6] & 15, keep[7], keep[6] >> 4) < 0)
    return -1;
  if (putvec(at, type, y, z, VC_END, 0, 0) < 0) return -1;
  if (patch >= 0) {
    uint8_t* r = gtvptr(nullptr, patch, 2);
    if (r && (r[6] & 15) == VC_END) std::memcpy(r + off, &dist, 2);
  }
  if (type == 2) lastend = at;
  nvecs = restart ? w + 1 : at + 1;
  // A link starts the next object (set once the record is there: growing
  // the count clears the mark).
  if (type == 4) lastvec = at;
  return 0;
}

int puttext(const char* text, int colour, int size, int angle, int width) {
  const int n = text ? static_cast<int>(std::strlen(text)) : 0;
  if (n < 1 || n > 32767) return 0;
  if (!veclst()) vinit(0);
  const int32_t h = nvecs;
  if (h < 0) return 0;
  int32_t i = h;
  bool ok = putvec(h, n, size, angle, VC_TEXT, colour, width) == 0;
  for (int k = 0; ok && k < n; k += 6) {
    uint8_t b[6] = {};
    std::memcpy(b, text + k, static_cast<size_t>(std::min(6, n - k)));
    ok = putvec(++i, vget16(b), vget16(b + 2), vget16(b + 4), VC_TEXT, colour, 0) == 0;
  }
  if (!ok) {
    // A text the list cannot hold whole is not kept in part.
    if (PtrRec* p = veclst(); p && p->Length > h) vlcount(p, h, false);
    return -1;
  }
  nvecs = i + 1;
  lastdrw = i;
  vdraw(h, 0);
  return 0;
}

uint8_t* gtvptr(PtrRec* list, int32_t index, int access) {
  if (access == 2) vecptgen++;  // a record may change: the points read go
  if (index < 0) return nullptr;
  PtrRec* v = veclst();
  if (!list || list == v) {
    if (!v || !vlok || index >= v->Length) return nullptr;
    return vfast(v, index, access);
  }
  if (list->Wsiz != W_VEC) return nullptr;
  if (index >= ((list->Flg & K_MATRIX) ? static_cast<int32_t>(list->Offs[4]) : 1)) return nullptr;
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

namespace {
// The transform of the list last projected while a VecPin lives.
struct {
  bool ok = false;
  PtrRec* list = nullptr;  // the list asked for (null: the vector list)
  PtrRec* v = nullptr;     // the vector list then
  const XfmRec* x = nullptr;
  uint16_t w = 0;
  bool none = false;       // nothing to apply: no transform, no perspective
} vpc;
}  // namespace

VecPin::VecPin() {
  if (vpin++ == 0) {
    vecptgen++;
    vpc.ok = false;
    vpinlst = nullptr;
    vcr.b = nullptr;
  }
}
VecPin::~VecPin() {
  if (--vpin == 0) {
    vecptgen++;
    vpc.ok = false;
    vpinlst = nullptr;
    vcr.b = nullptr;
  }
}

int vproject(uint8_t* point, PtrRec* list) {
  if (gflags & 1) return 0;
  PtrRec* v = nullptr;
  const XfmRec* x = nullptr;
  uint16_t w = 0;
  if (vpin && vpc.ok && vpc.list == list) {
    v = vpc.v;
    x = vpc.x;
    w = vpc.w;
  } else {
    v = veclst();
    PtrRec* r = list ? list : v;
    if (!r) return 0;
    x = xfhold(r, &w, false);
    if (vpin) vpc = {true, list, v, x, w, !(x && (w & F2_XFORM) >> 4) && !(vanish != 0 && r == v)};
  }
  PtrRec* r = list ? list : v;
  if (!r) return 0;
  int sel = x ? (w & F2_XFORM) >> 4 : 0;
  const bool param = point[0] == VC_PARAM;
  if (param) sel &= 0xFF3;
  int16_t p[3];
  std::memcpy(p, point + 4, 6);
  if (sel) projct(p, x, sel);
  if (!param && vanish != 0 && r == v) {
    // Perspective toward the drawing box's centre.
    const int d = (gflags & 0x2000) ? -vanish : vanish;
    const float f = std::min(static_cast<float>(p[2]) / static_cast<float>(d), 1.0f);
    for (int k = 0; k < 2; k++) {
      const int half = (drwbox.max[k] - drwbox.min[k]) / 2;
      p[k] = static_cast<int16_t>(ftrunc(static_cast<float>(half - p[k]) * f + static_cast<float>(p[k])));
    }
  }
  std::memcpy(point + 4, p, 6);
  return 0;
}

namespace {
uint8_t* getrec(PtrRec* list, int32_t index);
}  // namespace

uint8_t* getvec(PtrRec* list, int32_t index, uint8_t* exp, int mode) {
  VecPt& pe = vecpts[index & 63];
  if (mode == 1 && !list && pe.gen == vecptgen && pe.index == index && pe.notx == (gflags & 1)) {
    std::memcpy(exp, pe.exp, 12);
    std::memcpy(lastpt, pe.raw, 6);
    return pe.raw;
  }
  uint8_t* r = nullptr;
  const PtrRec* pl = vpinlst;
  if (!list && vpin && pl && vcr.r == pl && vpingen == symgen && vlok && index >= vcr.lo && index <= vcr.hi &&
      index < pl->Length && pl->Addr == vcr.addr && vcr.b && pl->Bufp == vcr.bufp &&
      vcr.b->B[vcr.slot].Blk == vcr.blk) {
    // A walk's next record, in the buffer of the one before.
    r = vcr.base + static_cast<int64_t>(index - vcr.lo) * 8;
  } else {
    r = getrec(list, index);
  }
  if (!r) {
    std::memset(exp, 0, 12);
    return nullptr;
  }
  int16_t v[3];
  std::memcpy(v, r, 6);
  const int code = r[6] & 15;
  int ecode = code;
  if (mode != 0 && code >= 4 && code <= 6) {
    ecode = code - 3;
    for (int i = 0; i < 3; i++) v[i] = static_cast<int16_t>(v[i] + lastpt[i]);
  }
  // The expanded point put together in two words and stored whole (a word
  // read back soon after smaller stores into it would wait for them).
  const uint64_t lo = static_cast<uint64_t>(ecode) | static_cast<uint64_t>(r[6] >> 4) << 8 |
                      static_cast<uint64_t>(r[7]) << 16 | static_cast<uint64_t>(static_cast<uint16_t>(v[0])) << 32 |
                      static_cast<uint64_t>(static_cast<uint16_t>(v[1])) << 48;
  const uint32_t hi = static_cast<uint16_t>(v[2]);
  std::memcpy(exp, &lo, 8);
  std::memcpy(exp + 8, &hi, 4);
  if (mode == 1 && code < 8) {
    std::memcpy(lastpt, v, 6);
    const bool none = vpin && vpc.ok && vpc.list == list && vpc.none;
    if (!none) vproject(exp, list);
    if (vpin && !list && code >= VC_LINE && code <= VC_DOT) {
      // An absolute point of the list: its reading depends on nothing read
      // before it.
      pe.gen = vecptgen;
      pe.index = index;
      pe.notx = static_cast<int16_t>(gflags & 1);
      if (none) {
        std::memcpy(pe.exp, &lo, 8);
        std::memcpy(pe.exp + 8, &hi, 4);
      } else {
        std::memcpy(pe.exp, exp, 12);
      }
      std::memcpy(pe.raw, r, 8);
    }
  }
  return r;
}

namespace {
// Record index of a list, made addressable for reading (null: none).
uint8_t* getrec(PtrRec* list, int32_t index) {
  PtrRec* vl = list ? nullptr : veclst();
  if (!list && !vl) {
    vinit(0);
    vl = veclst();
  }
  uint8_t* r = nullptr;
  if (list && !(list->Flg & K_MATRIX)) {
    // A plain vector variable read at its current position plus index.
    int32_t cnt, part, tot, ws;
    if (list->Wsiz == W_VEC && index >= 0 && gtvarb(list, &cnt, &part, &tot, &ws, 0) && index < cnt)
      r = setpos(list, index * 8);
  } else if (!list) {
    // The vector list, found once.
    if (vl && vlok && index >= 0 && index < vl->Length) r = vfast(vl, index, 1);
  } else {
    r = gtvptr(list, index, 1);
  }
  return r;
}
}  // namespace


int ptvdat(float x, float y) {
  if (!vdatlst()) vinit(1);
  PtrRec* p = vdatlst();
  if (!p || !vdok || nvdata < 0 || nvdata >= VMAXREC) return 0;
  const int32_t i = nvdata;
  if (i >= static_cast<int32_t>(p->Offs[4])) setcnt(p, entdat, i + 1, 2, false);
  p->XYZptr[0] = 0;
  p->XYZptr[1] = static_cast<uint32_t>(i);
  p->XYZptr[2] = 0;
  uint8_t* q = nxtbuf(p, 2);
  if (!q || p->Bufsiz < 2) return 0;
  std::memcpy(q, &x, 4);
  std::memcpy(q + 4, &y, 4);
  nvdata = i + 1;
  return 0;
}

int vcopy(int32_t index, uint8_t* out, int code) {
  if (!veclst()) vinit(0);
  uint8_t src[8] = {};
  if (const uint8_t* r = gtvptr(nullptr, index, 1)) std::memcpy(src, r, 8);
  if (out) std::memcpy(out, src, 8);
  const int32_t w = nvecs;
  if (w >= 0) {
    uint8_t* d = vwrite(w);
    if (!d) return -1;
    std::memcpy(d, src, 6);
    d[6] = static_cast<uint8_t>((d[6] & 0xF0) | (code & 15));
    nvecs = w + 1;
  }
  uint8_t e[12];
  getvec(nullptr, index, e, 1);
  return 0;
}

int vlsync() {
  if (PtrRec* p = veclst(); p && vlok) {
    flshio(p);
    // The header counts the records, so that the file reads back as a
    // vector file.
    const uint32_t n = static_cast<uint32_t>(std::max(p->Length, 0));
    const uint8_t b[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                          static_cast<uint8_t>(n >> 24)};
    if (FilRec* f = filrec(p); f && f->Lun > 0) wrtblk(f->Lun, 0, b, 4, 10 + 12 + 8);
  }
  if (PtrRec* d = vdatlst(); d && vdok) flshio(d);
  return 0;
}

int32_t lastdrawn() { return lastdrw; }
int32_t lastendm() { return lastend; }
std::string vlfile() { return vlf.host; }
std::string vdfile() { return vdf.host; }

void vlini() {
  holdrec = vhold;
  vcdrop();
  for (VecPt& e : vecpts) e.gen = 0;
  vpinlst = nullptr;
  pacrst();
  cloself(&vlf);
  cloself(&vdf);
  vlok = vdok = false;
  entvec.adr = entdat.adr = 0;
  entvec.ent = entdat.ent = nullptr;
  entvec.rec = entdat.rec = nullptr;
  lastdrw = -1;
  lastend = 0;
  std::memset(vlight, 0, sizeof vlight);
  cmapini();
}
