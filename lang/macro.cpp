// Text macros: calls and returns, macro frames, saved arguments and local
// symbol tables, and the cells of the macro state.
#include "lang/macro.h"
#include "lang/maccomp.h"
#include "lang/mactext.h"

#include "compute/ptrfn.h"
#include "core/args.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/units.h"
#include "core/varbl.h"
#include "graphics/imgvars.h"
#include "graphics/views.h"
#include "lang/cstart.h"
#include "lang/maclib.h"
#include "lang/parse.h"
#include "lang/rdline.h"
#include "ui/events.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <strings.h>
#include <utility>
#include <vector>

uint16_t macmod = 0;
int16_t maclev = 0;
int16_t maclin = 0;
int16_t mcunit = -1;
int16_t lstlbl = 0;
int16_t brclev = 0;
int16_t lopdep = 0;
int32_t ipcoff = 0;
uint32_t libps[3] = {0, 0xFFFFFFFFu, 0};
LoopEnt lopstk[MAXLOOP];
int32_t frmadr = 0;
uint32_t curpos = 0;
uint32_t prvpos = 0;

namespace {
// The status bits that a macro's start and end keep: listing, alarms, a
// quit asked for (the quitstr text that names a macro runs once, and the
// quit goes on after it), the editor, temporary units and paging.
constexpr int32_t ST_MACKEEP = ST_LISTING | ST_ALARMS | ST_QUIT | ST_EDITOR | ST_TEMPUNITS | ST_PAGING;

// The top-level save area: the macro state cells as they were when the
// first macro was called from top level.
struct TopSave {
  int16_t line, label, brace, loops;
  uint16_t mode;
  int16_t unit, input, pad;
  uint32_t libpos[3];
  int32_t ipcoff;
  uint32_t curpos, prvpos;
  int32_t loopsav;  // the top level's loop stack, saved in the bottom area
  uint8_t spare[28];
};
static_assert(sizeof(TopSave) == 72, "the top-level save area is 72 bytes");
TopSave topsav;

// A name for the running macro while no frame holds one.
char loosename[256];

// Words of a saved argument ahead of its pointer record: the symbol entry
// of the variable it shows with its tracking mode in the top 4 bits (1 the
// entry's data word is the data, 2 the entry's record holds it), and the
// data address when it was saved.
constexpr int SIDEWDS = 2;
constexpr int SHORTWDS = 9;   // short pointer record
constexpr int FULLWDS = 30;   // full pointer record
constexpr int ARGSLOTS = 20;  // saved-arguments table

inline uint32_t& W(int32_t a) { return lowstk[a]; }

}  // namespace

// ---------------------------------------------------------------------------
// Bottom area helpers.

int32_t botget(int32_t words) {
  int32_t a = 0;
  if (words < 1 || getstk(&a, words, 4, 0, 0) < 1 || a <= 0) return 0;
  return a;
}

void botcut(int32_t to) {
  if (to < 0 || to >= lstk.bot) return;
  lstk.freew += lstk.bot - to;
  lstk.bot = to;
}

// A block's header may lie in high memory as well as in the low stack.
int32_t blkown(int32_t addr) {
  int32_t h = addr > 0 ? fndstk(addr) : 0;
  return h > 0 ? int32_t(*wordp(h + 1) & BLK_OWNER) : 0;
}

void setown(int32_t addr, int32_t owner) {
  int32_t h = addr > 0 ? fndstk(addr) : 0;
  uint32_t* st = h > 0 ? wordp(h + 1) : nullptr;
  if (!st || *st == 0 || owner < 2 || uint32_t(owner) > BLK_OWNER) return;
  *st = (*st & ~BLK_OWNER) | uint32_t(owner);
}

// ---------------------------------------------------------------------------
// Cells and names.

MacFrame* curfrm() {
  if (frmadr <= 0 || !lowstk || frmadr + FRMWDS > lstk.end) return nullptr;
  return reinterpret_cast<MacFrame*>(lowstk + frmadr);
}

const char* macnam() {
  MacFrame* f = curfrm();
  return f ? f->name : loosename;
}

void setmacnam(const char* name) {
  if (!name) name = "";
  MacFrame* f = curfrm();
  char* d = f ? f->name : loosename;
  std::strncpy(d, name, 255);
  d[255] = 0;
}

bool libmac() { return libunit > 0 && mcunit == libunit; }

uint32_t macpos() {
  if (libmac()) return libps[0];
  FILE* f = mcunit > 0 ? unitstream(mcunit) : nullptr;
  long p = f ? mttell(f) : -1;
  return p < 0 ? 0 : uint32_t(p);
}

int macunt() {
  int m = macmod & 7;
  return (m == 3 || m == 5) ? mcunit : -1;
}

uint32_t* libpos() { return (macmod & 7) == 3 && libmac() ? libps : nullptr; }

void macinc() { macstep(macpos()); }

void macstep(uint32_t pos) {
  maclin = int16_t(uint16_t(maclin) + 1u);
  prvpos = curpos;
  curpos = pos;
}

int nargsv() {
  MacFrame* f = curfrm();
  return f ? f->nargs : nargw;
}

int32_t mactok(int n) {
  MacFrame* f = curfrm();
  if (!f || f->argtab <= 0 || n < 0 || n >= ARGSLOTS) return 0;
  int32_t rec = int32_t(W(f->argtab + n));
  if (rec <= SIDEWDS || rec >= lstk.bot) return 0;
  if (n == 0) return rec;
  // A variable's data may have moved (compaction) since the call, or the
  // variable may be gone: the saved record follows it, or is no more.
  uint32_t side = W(rec - SIDEWDS);
  int mode = int(side >> 28);
  if (mode == 0) return rec;
  int32_t ent = int32_t(side & 0x0FFFFFFF);
  const SymEnt* s = symptr(ent);
  if (!s || s->flags == 0) return 0;
  uint32_t base = W(rec - 1), cur = base;
  if (mode == 1) {
    cur = uint32_t(s->data);
  } else if (mode == 3) {
    // A matrix, image or solid: the items its header names.
    if (s->data <= 0 || s->data + 5 > lstk.end) return 0;
    cur = W(s->data + 3);
  } else {
    const PtrRec* p = ptrrec(s->data);
    if (!p) return 0;
    cur = p->Addr;
  }
  if (cur != base) {
    auto* r = reinterpret_cast<PtrRec*>(lowstk + rec);
    uint32_t delta = cur - base;
    r->Addr += delta;
    if (r->Dptr > 0) r->Dptr = int32_t(uint32_t(r->Dptr) + 4u * delta);
    if ((r->Flg & 0x7E9) && r->Data0 > 0) r->Data0 = int32_t(uint32_t(r->Data0) + 4u * delta);
    W(rec - 1) = cur;
  }
  return rec;
}

void macini() {
  macmod = 0;
  maclev = 0;
  maclin = 0;
  mcunit = -1;
  lstlbl = brclev = lopdep = 0;
  ipcoff = 0;
  libps[0] = libps[2] = 0;
  libps[1] = 0xFFFFFFFFu;
  std::memset(lopstk, 0, sizeof lopstk);
  std::memset(&topsav, 0, sizeof topsav);
  frmadr = 0;
  curpos = prvpos = 0;
  loosename[0] = 0;
  tokhdr = mactok;
}

// ---------------------------------------------------------------------------
// Saving arguments.

namespace {

// A copy of record r with its side words in the bottom area; the record's
// address, or 0 when the bottom area is full.
int32_t savrec(const PtrRec* r, int32_t frame, bool dflt) {
  bool full = (r->Flg & 0x7E9) != 0;
  int rw = full ? FULLWDS : SHORTWDS;
  int32_t a = botget(SIDEWDS + rw);
  if (!a) return 0;
  int32_t at = a + SIDEWDS;
  std::memcpy(lowstk + at, r, size_t(rw) * 4);
  W(a) = 0;
  W(a + 1) = 0;
  auto* c = reinterpret_cast<PtrRec*>(lowstk + at);
  c->PTR = uint32_t(at);
  c->Stack = 0;
  // A store through the argument reaches the caller only where the data
  // is the caller's own (a headed block or high memory, passed by
  // reference) or a register whose copy goes back at the return.
  c->Store = ST_NOSTORE;
  uint16_t k = c->Flg;
  if ((k & K_NUMBER) && !(k & (K_VALUE | K_NOSTK | K_FILE)) && c->Idx >= 1 && c->Idx <= 9 &&
      regadr > 0 && c->Addr == uint32_t(regadr + c->Idx)) {
    if (dflt) {
      // The default command names the running macro's own register: its
      // value now is the default.
      float v = getres(c->Idx);
      c->Flg = K_CONST;
      c->Idx = -1;
      c->Wsiz = 96;
      std::memcpy(&c->Addr, &v, 4);
    } else {
      // The caller's register: the callee reads the copy kept in its frame.
      c->Addr = uint32_t(frame + int32_t(offsetof(MacFrame, regs) / 4) + c->Idx - 1);
      c->Dptr = 0;
      c->Store = ST_KEEPWIN;
    }
    return at;
  }
  if ((k & 0x7F0) && !(k & (K_VALUE | K_NOSTK | K_FILE)) && int32_t(c->Addr) > 0 &&
      int32_t(c->Addr) < lstk.lowest) {
    // Data in the bottom area or in the scratch area: copied, since the
    // scratch area is given back after this command.
    bool scratch = int32_t(c->Addr) >= lstk.bot;
    bool numeric = !full;
    if (full || scratch) {
      int bpi = std::max(1, (c->Wsiz & 63) / 8);
      int64_t items = std::max<int64_t>(c->Length, full ? int64_t(c->Tot) : 0);
      if (numeric && items < 1) items = 1;
      if (items >= 1) {
        int64_t bytes = items * bpi + ((k & K_STRING) ? 1 : 0);
        int64_t words = (bytes + 3) / 4;
        if ((k & K_HDR) && !(k & K_VECTOR)) words += 5;
        int64_t avail = int64_t(lstk.lowest) - int64_t(c->Addr);
        if (words > avail) words = avail;
        int32_t src = int32_t(c->Addr);
        int32_t d = words > 0 ? botget(int32_t(words)) : 0;
        if (words > 0 && !d) return 0;
        if (d) {
          std::memmove(lowstk + d, lowstk + src, size_t(words) * 4);
          c = reinterpret_cast<PtrRec*>(lowstk + at);
          uint32_t delta = uint32_t(d - src);
          c->Addr += delta;
          if (c->Dptr > 0) c->Dptr = int32_t(uint32_t(c->Dptr) + 4u * delta);
          if (full && c->Data0 > 0) c->Data0 = int32_t(uint32_t(c->Data0) + 4u * delta);
        }
      }
    }
    return at;
  }
  if ((k & 0x7F0) && !(k & (K_VALUE | K_NOSTK | K_FILE)) && int32_t(c->Addr) > 0) c->Store = ST_KEEPWIN;
  // A variable's data is shared; the saved record follows the variable.
  if ((k & 0x7F0) && !(k & (K_VALUE | K_NOSTK)) && c->Idx > 0 && c->Idx < lstk.bot) {
    const SymEnt* s = symptr(c->Idx);
    if (s && (s->flags & SY_VAR)) {
      int mode = 0;
      if (uint32_t(s->data) == c->Addr) {
        mode = 1;
      } else if ((s->flags & K_HDR) && !(s->flags & (K_VECTOR | K_LIST)) && s->data > 0 &&
                 s->data + 5 <= lstk.end && W(s->data + 3) == c->Addr) {
        mode = 3;
      } else if (const PtrRec* p = ptrrec(s->data); p && fndstk(s->data) > 0 && p->Addr == c->Addr) {
        mode = 2;
      }
      if (mode) {
        W(a) = uint32_t(c->Idx) | (uint32_t(mode) << 28);
        W(a + 1) = c->Addr;
      }
    }
  }
  return at;
}

// A record for argument n whatever its word: its handle, 0 when missing.
int32_t argrec(int n, int* missing) {
  *missing = 0;
  int32_t h = 0;
  int w = -1;
  int t = fndarg(n, &h, &w);
  if (t == 0 && h <= 0) {
    *missing = 1;
    return 0;
  }
  if (h <= 0) {
    t = argtyp(n, &h);
    if (stopped()) return 0;
  }
  if (h <= 0 && w >= 0) h = tokvar(w, 0);
  return h;
}

}  // namespace

int SVMARG(int first, int count, int32_t* table, int dflt, int32_t frame, int namlen) {
  int32_t before = lstk.bot;
  if (!table) return -1;
  if (*table <= 0) {
    int32_t t = botget(ARGSLOTS);
    if (!t) return -1;
    std::memset(lowstk + t, 0, ARGSLOTS * 4);
    // Slot 0: a string record of the macro's name in the frame.
    int32_t a = botget(FULLWDS);
    if (!a) return -1;
    std::memset(lowstk + a, 0, FULLWDS * 4);
    auto* r = reinterpret_cast<PtrRec*>(lowstk + a);
    r->PTR = uint32_t(a);
    setrec(r, K_STRING, -1, uint32_t(frame + int32_t(offsetof(MacFrame, name) / 4)), 8,
           std::clamp(namlen, 0, 255));
    r->Store = ST_NOSTORE;
    W(t) = uint32_t(a);
    *table = t;
  }
  int32_t t = *table;
  int n = std::min(count, MAXMARG);
  for (int k = 1; k <= n; k++) {
    if (dflt && W(t + k) != 0) continue;
    int missing = 0;
    int32_t h = argrec(first + k - 1, &missing);
    if (missing) continue;
    const PtrRec* r = ptrrec(h);
    if (!r || r->Flg == 0) {
      if (state & ST_ERROR) return -1;
      continue;
    }
    PtrRec tmp;
    if (!(r->Flg & 0x7F0) || r->Flg < 16) {
      // No data kind (a keyword or operator word): its value as a number.
      float v = 0;
      getarg(first + k - 1, &v, nullptr, 0, nullptr);
      std::memset(&tmp, 0, sizeof tmp);
      tmp.Flg = K_CONST;
      tmp.Idx = -1;
      tmp.Wsiz = 96;
      std::memcpy(&tmp.Addr, &v, 4);
      tmp.Length = 1;
      r = &tmp;
    }
    int32_t s = savrec(r, frame, dflt != 0);
    if (!s) return -1;
    W(t + k) = uint32_t(s);
  }
  return lstk.bot - before;
}

// ---------------------------------------------------------------------------
// Frames.

int PutMac(const char* name, int argi, int mode) {
  if (!name) name = "";
  int32_t start = lstk.bot;
  int32_t fa = botget(FRMWDS);
  if (!fa) {
    state |= ST_INTR;
    if (!(state & ST_ERROR)) error(0, 42);
    return -1;
  }
  std::memset(lowstk + fa, 0, FRMWDS * 4);
  auto* f = reinterpret_cast<MacFrame*>(lowstk + fa);
  int nl = int(strnlen(name, 255));
  std::memcpy(f->name, name, size_t(nl));
  int cnt = argi > 0 ? std::max(0, nargs() - argi) : 0;
  int32_t tab = 0;
  int32_t st = 0;
  if (SVMARG(argi + 1, cnt, &tab, 0, fa, nl) < 0 || !(st = maktab(cursym))) {
    botcut(start);
    state |= ST_INTR;
    if (!(state & ST_ERROR)) error(0, 42);
    return -1;
  }
  f = reinterpret_cast<MacFrame*>(lowstk + fa);
  f->magic = FRMMAGIC;
  f->prev = frmadr;
  f->outsav = uint16_t(outlun);
  outlun = lstlun;
  for (int k = 1; k <= 9; k++) f->regs[k - 1] = getres(k);
  f->dfltq = dfltq;
  f->typq = typq;
  dfltq = PendQ{0, 0, 0};
  typq = PendQ{0, 0, 0};
  if (qflag > 0) qflag = 0;
  state &= ~ST_QUEUED;
  f->argtab = tab;
  f->nargs = uint16_t(std::min(cnt, 65535));
  f->symtab = st;
  f->libpos[0] = 0;
  f->libpos[1] = 0xFFFFFFFFu;
  f->libpos[2] = 0;
  cursym = st;
  if (!(state & ST_COMPILE)) defsym = cursym;  // defines go to the current table
  frmadr = fa;
  maclin = lstlbl = brclev = 0;
  ipcoff = 0;
  inunit = mcunit;
  macmod = uint16_t(mode + 1);
  if (!(state & (ST_COMPILE | ST_STARTUP))) state = (state & ST_MACKEEP) + mode;
  tokhdr = mactok;
  return 0;
}

namespace {

// Moves the loop stack into the bottom area: its address, 0 when empty or
// without room. The live entries are left free for the callee, which takes
// them from the bottom: a typed loop's text then belongs to the saved copy
// alone, so that the callee's loops cannot free it. Loops that cannot be
// kept are dropped, their texts freed.
int32_t saveloops() {
  if (lopdep <= 0) return 0;
  int n = std::min<int>(lopdep, MAXLOOP);
  int32_t a = botget(n * int32_t(sizeof(LoopEnt) / 4));
  if (a) std::memcpy(lowstk + a, lopstk, size_t(n) * sizeof(LoopEnt));
  for (int i = 0; i < n; i++) {
    if (!a && lopstk[i].q.blk > 0) clrpst(&lopstk[i].q);
    lopstk[i] = LoopEnt{};
  }
  return a;
}

// Puts a saved loop stack back and gives its words back when they are the
// last of the bottom area.
void getloops(int32_t a, int depth) {
  int n = std::clamp(depth, 0, MAXLOOP);
  if (a > 0 && n > 0) {
    std::memcpy(lopstk, lowstk + a, size_t(n) * sizeof(LoopEnt));
    int32_t words = n * int32_t(sizeof(LoopEnt) / 4);
    if (words & 1) words++;
    if (a + words == lstk.bot) botcut(a);
  }
}

void savetop() {
  topsav.line = maclin;
  topsav.label = lstlbl;
  topsav.brace = brclev;
  topsav.loops = lopdep;
  topsav.mode = macmod;
  topsav.unit = mcunit;
  topsav.input = inunit;
  std::memcpy(topsav.libpos, libps, sizeof libps);
  topsav.ipcoff = ipcoff;
  topsav.curpos = curpos;
  topsav.prvpos = prvpos;
  topsav.loopsav = saveloops();
}

void gettop() {
  maclin = topsav.line;
  lstlbl = topsav.label;
  brclev = topsav.brace;
  lopdep = topsav.loops;
  mcunit = topsav.unit;
  inunit = topsav.input;
  std::memcpy(libps, topsav.libpos, sizeof libps);
  ipcoff = topsav.ipcoff;
  curpos = topsav.curpos;
  prvpos = topsav.prvpos;
  if (topsav.loopsav) getloops(topsav.loopsav, lopdep);
  else if (lopdep > 0) lopdep = 0;  // its loops could not be kept
  topsav.loopsav = 0;
}

// Closes the running macro's unit unless it is the library's or the line
// reader closed it already.
void closemu() {
  int u = mcunit;
  if (u > 4 && u < NUNITS && u != libunit && filtab[u].Nlinks > 0) closef(u, 0);
}

// Erases a local variable, or a local defined name: that holds only its
// text block.
void erasel(SymEnt* e) {
  if (e->flags & SY_DEFINE) {
    if (e->data > 0 && !(e->flags & SY_NOTOWN)) freblk(e->data);
    e->value = 0;
    e->data = 0;
    return;
  }
  imgfreed(e);  // the image names and pointers bound to a local let go of it
  ptrfreed(stkadr(e));
  erasvb(e);
}

// The loop entries of the macro being left go with it (a return or an
// abort from inside its loops): none stays for a later head to take as
// its own. The caller's come back from its frame.
void droploops() {
  for (LoopEnt& e : lopstk) {
    if (e.q.blk > 0) clrpst(&e.q);
    e = LoopEnt{};
  }
}

// Everything back to top level after a frame that cannot be trusted.
void lostfrm() {
  if (frmadr > 0 && frmadr < lstk.bot) botcut(frmadr);
  droploops();
  frmadr = 0;
  gettop();
  macmod = 0;
  maclev = 0;
  inunit = 0;
  cursym = glbsym;
  if (!(state & ST_COMPILE)) defsym = cursym;  // defines go to the current table
}

}  // namespace

int popmac() {
  MacFrame* f = curfrm();
  if (!f) return 0;
  const SymTab* t = f->magic == FRMMAGIC ? tabptr(f->symtab) : nullptr;
  if (!t || t->marker != SYMMARK || f->symtab < frmadr || f->symtab + SYMHDR > lstk.bot) {
    error(0, 62);
    lostfrm();
    return -1;
  }
  MacFrame fr;
  std::memcpy(&fr, f, sizeof fr);
  const int32_t start = frmadr;
  const int32_t link = t->link;
  int64_t room = (int64_t(lstk.bot) - (fr.symtab + SYMHDR)) / SYMWDS;
  const int cnt = int(std::clamp<int64_t>(t->count, 0, room));
  // A macro being compiled has only entries without storage (and copies
  // of outer symbols): nothing is erased or moved.
  const bool compiled = (macmod & 7) == 5 || (state & (ST_CMACRO | ST_COMPILE));

  // Locals are erased; globals are kept for the move below.
  int globals = 0;
  if (!compiled) {
    for (int i = 0; i < cnt; i++) {
      auto* e = reinterpret_cast<SymEnt*>(lowstk + symadr(fr.symtab, i));
      if (e->flags == 0) continue;
      if (e->flags & SY_GLOBAL) globals++;
      else erasel(e);
    }
  }

  botcut(start);
  droploops();
  for (int k = 1; k <= 9; k++) setfres(fr.regs[k - 1], k);
  if (dfltq.blk > 0) clrpst(&dfltq);
  if (typq.blk > 0) clrpst(&typq);
  dfltq = fr.dfltq;
  typq = fr.typq;
  if (qpend(&dfltq)) {
    qflag = 1;
    state |= ST_QUEUED;
  }

  frmadr = fr.prev;
  if (!frmadr) {
    gettop();
    macmod = 0;
  } else {
    MacFrame* c = curfrm();
    if (!c || c->magic != FRMMAGIC) {
      error(0, 62);
      lostfrm();
      return -1;
    }
    maclin = int16_t(c->line);
    lstlbl = int16_t(c->label);
    brclev = int16_t(c->brace);
    lopdep = int16_t(std::min<int>(c->loops, MAXLOOP));
    macmod = c->mode;
    if (c->libpos[1] != 0xFFFFFFFFu) std::memcpy(libps, c->libpos, sizeof libps);
    if (c->loopsav) getloops(c->loopsav, lopdep);
    else lopdep = 0;  // its loops could not be kept
    c->loopsav = 0;
  }

  // Output goes where it went before the call. A redirection of the
  // running line ends; an output unit the macro opened for itself and left
  // open is closed as that end closes it, and the listing comes back to
  // the caller's unit.
  if (lstlun != savlst) lstout();
  const int16_t mine = outlun, home = int16_t(fr.outsav);
  if (mine != home) {
    if (mine >= 5 && mine < NUNITS && filtab[mine].Nlinks > 0) closef(mine, 0);
    if (lstlun == mine) lstlun = home;
    if (savlst == mine) savlst = home;
  }
  outlun = home;
  if (lstlun != savlst) lstout();
  cursym = link;
  if (!(state & ST_COMPILE)) defsym = cursym;  // defines go to the current table

  if (compiled) {
    ipcfre();
    return 0;
  }
  if (globals) {
    // Globals move down into the caller's table, appended at the new top of
    // the bottom area (every destination lies below every source left).
    int moved = 0;
    // Where each moved entry went: a pointer moved after the variable it
    // views finds that variable's new entry here (ptrmoved reaches only
    // the pointers already in the caller's table).
    std::vector<std::pair<int32_t, int32_t>> went;
    for (int i = 0; i < cnt; i++) {
      int32_t src = symadr(fr.symtab, i);
      auto* e = reinterpret_cast<SymEnt*>(lowstk + src);
      if (e->flags == 0 || !(e->flags & SY_GLOBAL)) continue;
      SymTab* ct = tabptr(link);
      int32_t dst = 0;
      if (ct) {
        int32_t end = symadr(link, int(ct->count));
        if (end == lstk.bot) {
          int32_t a = botget(SYMWDS);
          if (a == end) {
            dst = end;
            ct->count++;
          } else if (a) {
            botcut(a);
          }
        }
        for (uint32_t j = 0; !dst && j < ct->count; j++) {
          int32_t s = symadr(link, int(j));
          if (s + SYMWDS <= lstk.bot && reinterpret_cast<SymEnt*>(lowstk + s)->flags == 0) dst = s;
        }
      }
      if (!dst) {
        erasel(e);  // no slot left in the caller's table
        continue;
      }
      std::memmove(lowstk + dst, lowstk + src, sizeof(SymEnt));
      imgmoved(src, dst);
      ptrmoved(src, dst);
      auto* d = reinterpret_cast<SymEnt*>(lowstk + dst);
      if (d->data > 0 && blkown(d->data) == src + 1) setown(d->data, dst + 1);
      if ((d->flags & 0x17F0) == 0x1000 && d->data > 0 && fndstk(d->data) > 0) {
        // A pointer variable's own record: its owner is the entry's data
        // word; it names its own entry until it views a variable.
        if (PtrRec* p = ptrrec(d->data)) {
          if (p->Idx == src) {
            p->Idx = dst;
          } else if (p->Flg & K_NAMED) {
            for (const auto& [from, to] : went) {
              if (p->Idx == from) {
                p->Idx = to;
                break;
              }
            }
          }
          if (p->Stack == uint32_t(src + 1)) p->Stack = uint32_t(dst + 1);
        }
        setown(d->data, dst + 1);
      }
      went.emplace_back(src, dst);
      moved++;
    }
    if (moved) vwrenm(start);
  }
  return 0;
}

int mskip(int n) {
  char buf[LINBUF];
  bool lib = libmac();
  FILE* f = lib ? nullptr : (mcunit > 0 ? unitstream(mcunit) : nullptr);
  int r = 0;
  for (int i = 0; i < n; i++) {
    int len;
    if (lib) {
      len = libnxt(libps, buf, LINBUF);
    } else if (f) {
      len = mtline(f, nullptr, 0);
    } else {
      len = -1;
    }
    if (len < 0) {
      r = 1;
      break;
    }
    maclin = int16_t(uint16_t(maclin) + 1u);
  }
  curpos = prvpos = macpos();
  return r;
}

int repos(int line, uint32_t pos) {
  bool lib = libmac();
  FILE* f = lib ? nullptr : (mcunit > 0 ? unitstream(mcunit) : nullptr);
  if (!lib && !f) return 1;
  if (pos > 0 && line >= 1) {
    if (!lib) mtcheck(f);  // a file changed since it was read is read again
    bool ok = lib ? (libps[0] = pos - 1, true) : mtseek(f, long(pos - 1)) == 0;
    if (ok) {
      maclin = int16_t(line - 1);
      curpos = prvpos = pos - 1;
      return 0;
    }
  }
  if (lib) libps[0] = libps[1];
  else if (mtseek(f, 0) != 0) return 1;
  maclin = 0;
  curpos = prvpos = macpos();
  return line > 1 ? mskip(line - 1) : 0;
}

int mreopn() {
  maclev = int16_t(std::max(0, maclev - 1));
  MacFrame* f = curfrm();
  if ((macmod & 7) == 5 && ipcrun()) {
    // A compiled caller goes on from its records.
    state = (state & ~ST_TMACRO) | ST_CMACRO;
    inunit = mcunit;
    return 0;
  }
  bool ok = false;
  if (f && f->libpos[1] != 0xFFFFFFFFu) {
    if (libunit > 0) {
      mcunit = libunit;
      curpos = prvpos = libps[0];
      ok = true;
    }
  } else if (f && f->name[0]) {
    int u = openf(f->name, UM_RDONLY | UM_TEXT, 512);
    if (u > 0) {
      mcunit = int16_t(u);
      ok = true;
      FILE* s = unitstream(u);
      uint32_t p = f->libpos[0];
      if (p > 0 && s && mtseek(s, long(p - 1)) == 0) {
        curpos = prvpos = p - 1;
      } else {
        int line = maclin;
        maclin = 0;
        mskip(line);
      }
    }
  }
  if (!ok) {
    error(0, 80);
    macmod = 0;
    state &= ST_MACKEEP;
    macabt();
    return -1;
  }
  inunit = mcunit;
  // Back in a text macro (a compiled callee had the compiled bit).
  state &= ~ST_CMACRO;
  if (!(state & (ST_COMPILE | ST_STARTUP))) state |= ST_TMACRO;
  return 0;
}

int MRETRN(int how) {
  if (!curfrm()) return 0;
  if (how > 0) setfres(fltarg(2, 0.0f), 0);
  uint16_t bits = macmod & (MM_SYSSTART | MM_START);
  trcint(0x400, "Mretrn", 0, how, maclev, maclin, macmod, 0);
  closemu();
  popmac();
  if (maclev < 2) {
    if (bits) Endstart(bits);
    macmod = 0;
    inunit = 0;
    maclev = 0;
    if (bits & MM_SYSSTART) {
      if (Runmac(8) != 0) {
        Endstart(MM_START);
        state = 0;
      } else {
        state = ST_STARTUP;
        macmod |= MM_START;
      }
    } else {
      state &= ST_MACKEEP;
    }
  } else if (how < 0) {
    maclev--;
  } else {
    mreopn();
  }
  if (savdbg > 0) {
    trcmsk = savdbg;
    savdbg = 0;
  }
  return 0;
}

int macabt() {
  if (!curfrm() && !macmod && lopdep == 0 && brclev == 0) return 0;
  for (int guard = 0; curfrm() && guard < 100000; guard++) MRETRN(-1);
  if (curfrm()) lostfrm();
  // Loops typed at top level go with the macros.
  for (int i = 0; i < MAXLOOP; i++) {
    if (lopstk[i].q.blk > 0) clrpst(&lopstk[i].q);
    lopstk[i] = LoopEnt{};
  }
  lopdep = 0;
  brclev = 0;
  maclev = 0;
  macmod = 0;
  state &= ST_MACKEEP;
  return 0;
}

// ---------------------------------------------------------------------------
// Calls.

namespace {


}  // namespace

// The text of argument n as a macro name; its length (0 when it is no text).
int argname(int n, char* name, int max) {
  name[0] = 0;
  int32_t h = 0;
  int w = -1;
  fndarg(n, &h, &w);
  if (h <= 0 && w >= 0) {
    int t = wrdtab[w].type;
    if (t == WT_TEXT || t == WT_QUOTED || t == WT_UNKLIST || t == (WT_UNKLIST | 1))
      return gettxt(w, name, max);
  }
  int len = 0;
  float v = 0;
  int k = getarg(n, &v, name, max, &len);
  if (!(k == WT_TEXT || k == WT_QUOTED || (k > 0 && (k & 0x7F0) == K_STRING))) {
    name[0] = 0;
    return 0;
  }
  return len;
}

void callsv() {
  MacFrame* c = curfrm();
  if (c) {
    c->line = uint16_t(maclin);
    c->label = uint16_t(lstlbl);
    c->brace = uint16_t(brclev);
    c->loops = uint16_t(lopdep);
    c->libpos[0] = libmac() ? libps[0] : curpos + 1;
    c->mode = macmod;
    c->loopsav = saveloops();
    maclev++;
    // A compiled caller may read its records from its file: that stays open.
    if ((macmod & 7) != 5) closemu();
  } else {
    maclev = 1;
    savetop();
  }
}

void callbk(bool framed) {
  if (framed) {
    MacFrame* c = curfrm();
    if (c->loopsav) getloops(c->loopsav, lopdep);
    else lopdep = 0;  // its loops could not be kept
    c->loopsav = 0;
    mreopn();
  } else {
    gettop();
    maclev = 0;
  }
}

int Runmac(int mode) {
  if (mode == -1) {
    error(0, 80);
    return -1;
  }
  char name[257] = "";
  int nidx = 0;
  if (mode == 1 || mode == 2 || mode == -2) {
    nidx = mode == 1 ? 1 : 2;
    if (argname(nidx, name, sizeof name) < 1) {
      if (mode == 2) {
        if (runipc(2) == 0) return 0;
        error(2, 20);
      }
      return -1;
    }
  }
  if (macmod & 4) {
    jprintf(errlun, "calling uncompiled macro: %s\n", name);
    return -1;
  }
  char path[300] = "";
  int u = -1;
  if (mode == 256) {
    u = 0;
  } else if (mode == 2) {
    u = openf(name, UM_RDONLY | UM_TEXT, 512);
    if (u > 0) {
      std::strncpy(path, name, 255);
      path[255] = 0;
    } else if (opnmac(name, &u, 2, path, ".imp") != 0) {
      jprintf(errlun, "file open error: %s\n", path[0] ? path : name);
      return -1;
    }
  } else if (mode == 128 || mode == 8) {
    if (opnmac(nullptr, &u, mode, path, ".imp") != 0) return -1;
  } else {
    // A word typed as a command runs a macro file only: a name whose
    // extension is not the macros' own names a data file, never run.
    const size_t dot = std::string_view(name).rfind('.');
    const size_t sep = std::string_view(name).find_last_of("/\\");
    if (dot != std::string_view::npos && (sep == std::string_view::npos || dot > sep) && name[dot + 1] &&
        strcasecmp(name + dot, ".imp") != 0)
      return -1;
    if (opnmac(name, &u, 2, path, ".imp") != 0) return -1;
  }
  bool lib = libunit > 0 && u == libunit;
  uint32_t ls = 0, le = 0;
  if (lib) libspan(&ls, &le);

  MacFrame* c = curfrm();
  callsv();
  // A macro that calls its own file shares the caller's unit (an open of an
  // open file raises its count): the callee reads it from the start.
  if (!lib && u > 0)
    if (FILE* s = unitstream(u)) mtseek(s, 0);
  int16_t oldunit = mcunit;
  mcunit = int16_t(u);
  int16_t olddep = lopdep;
  lopdep = 0;
  trcstr(0x400, "Runmac", 0, path, maclev);
  if (PutMac(path, nidx, mode == 256 ? 0 : 2) != 0) {
    if (!lib && u > 0) closef(u, 0);
    lopdep = olddep;
    mcunit = oldunit;
    callbk(c != nullptr);
    return -1;
  }
  MacFrame* f = curfrm();
  if (lib) {
    libps[0] = libps[1] = ls;
    libps[2] = le;
    std::memcpy(f->libpos, libps, sizeof libps);
  } else {
    libps[0] = libps[2] = 0;
    libps[1] = 0xFFFFFFFFu;
  }
  curpos = prvpos = lib ? ls : 0;
  return 0;
}
