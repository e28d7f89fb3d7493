// Compiled macros: the loader (checks, relinking, the frame push), the
// runner that hands the main loop one command record at a time, and the
// text blocks that commands read after their record.
#include "lang/maccomp.h"

#include "core/args.h"
#include "core/blkbuf.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/typecmd.h"
#include "core/units.h"
#include "core/varbl.h"
#include "lang/fastcmd.h"
#include "lang/keywords.h"
#include "lang/maclib.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "lang/parse.h"
#include "ui/clocks.h"
#include "ui/events.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// One running compiled form: a compiled macro, or a loop compiled in memory
// (which runs inside the frame of the text macro that holds it).
struct Ipc {
  bool loop = false;
  std::vector<uint8_t> cmds;  // the resident command section
  bool resident = true;       // else records are read from the file
  int unit = -1;              // the file's unit (file reads)
  int64_t cmdpos = 0;         // the command section's stream position
  PtrRec* ld = nullptr;       // the file's stream while loading (scratch)
  int32_t io = 0;             // its headed copy while running (file reads)
  int32_t cmdsz = 0;
  std::vector<int32_t> syms;  // live entry of each symbol entry
  std::vector<uint16_t> symfl;  // each symbol entry's flags as the file gives them
  int32_t txt = -1;           // text-block line to read next (-1: none)
  int32_t calleroff = 0;      // the caller's command offset
  int16_t callerunit = -1;    // the caller's macro unit
  int16_t endline = 0;        // a loop's last line in its macro
  int16_t inunit = -1;        // a loop's input unit (its text blocks)
  std::vector<uint8_t> rec;   // the record read last (file reads)
  // Fast forms of the assignment and condition records, by offset, each
  // with what its record says of the way on. Each slot has a block of its
  // own, so that it stays where it is whatever becomes of the list that
  // holds this entry.
  struct Slot {
    FastCmd f;
    int32_t next;  // the record's next offset
    int32_t alt;   // a condition's false target
    int32_t txt;   // its text block (-1: none)
    int16_t line;  // its macro line
  };
  std::vector<Slot*> fptr;
  std::vector<std::unique_ptr<Slot>> forms;
};

std::vector<Ipc> ipcs;
int32_t ipcprv = 0;  // offset of the record taken last

bool ctrl(int16_t c) { return c < 0; }

// Drops the innermost compiled form (a fast slot of it is current no more).
void popipc() {
  ipcs.pop_back();
  fcur = nullptr;
}

// The fast-form slot of the record at offset off with command code c, made
// when needed; null for a record no fast form can serve.
FastCmd* fastslot(Ipc& p, int32_t off, const uint8_t* r) {
  if (off < 0 || off >= p.cmdsz) return nullptr;
  if (!p.fptr.empty() && p.fptr[size_t(off)]) return &p.fptr[size_t(off)]->f;
  const int16_t c = get16(r + 2);
  const int na = r[0];
  const bool cond = (c == CM_IF || c == CM_WHILE) && na >= 2;
  if (c != OP_ASSIGN && !cond) return nullptr;
  if (p.fptr.empty()) p.fptr.assign(size_t(p.cmdsz), nullptr);
  auto sl = std::make_unique<Ipc::Slot>();
  sl->next = get32(r + 4);
  sl->alt = cond ? int32_t(uint32_t(sl->next) + uint32_t(uint16_t(get16(r + RECHDR + 2)))) : sl->next;
  const int32_t end = off + recsiz(r);
  sl->txt = sl->next > end ? end : -1;
  sl->line = get16(r + 8);
  p.forms.push_back(std::move(sl));
  p.fptr[size_t(off)] = p.forms.back().get();
  return &p.fptr[size_t(off)]->f;
}

// The stream that p's records are read through (file reads).
PtrRec* iorec(const Ipc& p) {
  if (p.ld) return p.ld;
  return p.io > 0 ? static_cast<PtrRec*>(stkptr(p.io)) : nullptr;
}

// Drops p's stream record; the unit stays open (the macro's return closes it).
void iofree(Ipc& p) {
  if (PtrRec* r = p.io > 0 ? static_cast<PtrRec*>(stkptr(p.io)) : nullptr) {
    if (FilRec* f = filrec(r)) f->Lun = 0;
    freptr(r);
    frebuf(r);
  }
  p.io = 0;
}

// n bytes at offset off of p's command section into buf (file reads).
bool ipcrd(Ipc& p, uint8_t* buf, int32_t n, int32_t off) {
  PtrRec* r = iorec(p);
  if (!r || n < 0 || off < 0 || int64_t(off) + n > p.cmdsz) return false;
  stmset(r, p.cmdpos + off);
  const uint8_t* d = rdptr(r, buf, n);
  if (d && d != buf) std::memcpy(buf, d, size_t(n));
  return d != nullptr;
}

// Reads the record at offset off from the file (ipcblk): its header gives
// its size. Null when it does not lie whole inside the command section.
const uint8_t* ipcblk(Ipc& p, int32_t off) {
  uint8_t h[RECHDR];
  if (!ipcrd(p, h, RECHDR, off)) return nullptr;
  int32_t n = recsiz(h);
  if (off + n > p.cmdsz) return nullptr;
  p.rec.resize(size_t(n));
  return ipcrd(p, p.rec.data(), n, off) ? p.rec.data() : nullptr;
}

// The record at offset off of p, or null when it does not lie whole inside
// the command section.
inline const uint8_t* record(Ipc& p, int32_t off) {
  if (off < 0 || off > p.cmdsz - RECHDR) return nullptr;
  if (p.resident) {
    const uint8_t* r = p.cmds.data() + off;
    return off + recsiz(r) <= p.cmdsz ? r : nullptr;
  }
  return ipcblk(p, off);
}

// Runs the resident records from the current offset while each is a jump
// or has a made fast form that runs, between turns of the main loop. Stops
// at the first other record, with the offset left on it, or when an error
// or a stop is pending.
[[gnu::noinline, gnu::aligned(64)]] void fastrun(Ipc& p) {
  const uint8_t* base = p.cmds.data();
  const int32_t sz = p.cmdsz;
  Ipc::Slot* const* fp = p.fptr.data();
  uint32_t nas = 0, nif = 0;
  uint32_t io = iogen;
  fcbatch();
  int32_t off = ipcoff;
  for (uint32_t steps = 1;; steps++) {
    if (state & 0x8180) break;
    if ((steps & 0x3FF) == 0) chkio(0);  // a loop of jumps alone still sees Ctrl-C
    if (io != iogen) {
      // A poll served something: the state is checked again.
      io = iogen;
      fcbatch();
      if (!fcok()) break;
    }
    if (off < 0 || off > sz - RECHDR) break;
    Ipc::Slot* sl = fp[off];
    if (!sl) {
      // A jump record moves on; any other record without a form ends the run.
      const uint8_t* r = base + off;
      const int32_t next = get32(r + 4);
      if (get16(r + 2) >= 0 || next < 0 || next > sz) break;
      ipcprv = off;
      ipcoff = off = next;
      continue;
    }
    FastCmd& f = sl->f;
    int32_t v = 0;
    if (f.kind <= 0 || !fcexec(f, &v)) break;
    ipcprv = off;
    maclin = sl->line;
    p.txt = sl->txt;
    if (f.kind == FC_COND) {
      if (stopped()) v = 0;
      pollio();
      // A false condition jumps ahead by the distance the compiler stored.
      off = v ? sl->next : sl->alt;
      nif++;
    } else {
      off = sl->next;
      nas++;
    }
    ipcoff = off;
  }
  fcturns(TM_ASSIGN, nas);
  fcturns(TM_IFTEST, nif);
}

// The i16 at offset off of p's command section (text blocks), or -1.
int rd16(Ipc& p, int32_t off) {
  if (off < 0 || off + 2 > p.cmdsz) return -1;
  uint8_t b[2];
  if (p.resident) {
    std::memcpy(b, p.cmds.data() + off, 2);
  } else if (!ipcrd(p, b, 2, off)) {
    return -1;
  }
  return get16(b);
}

// One record's counts, argument map, jump distance and word references lie
// inside their tables, and a word that names a variable has the kind of
// the symbol it names (a record is checked again when it is loaded).
bool recok(const Ipc& p, const uint8_t* r, bool loop) {
  const int na = r[0], nw = r[1];
  const int16_t code = get16(r + 2);
  const int32_t next = get32(r + 4);
  const int nsym = int(p.syms.size());
  if (na > MAXARG || nw > NWORDS || next < 0 || next > p.cmdsz) return false;
  if (ctrl(code) && (na != 0 || nw != 0)) return false;
  for (int i = 0; i < na; i++) {
    bool dist = i == 1 && (code == CM_IF || code == CM_WHILE);
    int a = dist ? uint16_t(get16(r + RECHDR + 2 * i)) : get16(r + RECHDR + 2 * i);
    if (dist) {
      int64_t t = int64_t(next) + a;
      if (t < 0 || t > p.cmdsz) return false;
    } else if (a < 0 || a >= nw) {
      return false;
    }
  }
  for (int i = 0; i < nw; i++) {
    WORD w;
    std::memcpy(&w, r + RECHDR + 2 * na + 16 * i, sizeof w);
    if (w.type > 0 && (w.type & 0x1000) && !(w.type & 0x2000)) {
      int32_t v = wval(w);
      if (v < 0) {
        int64_t k = (-int64_t(v) - 1);
        if (k % SYMWDS || k / SYMWDS >= nsym) return false;
        k /= SYMWDS;
        if (size_t(k) < p.symfl.size() && (w.type & 0x7F0) != (p.symfl[size_t(k)] & 0x7F0)) return false;
      } else if (!loop) {
        // A file names live entries of the system table only.
        const int32_t t0 = symadr(syssym, 0);
        if (v < t0 || v >= symadr(syssym, int(tabptr(syssym)->count)) || (v - t0) % SYMWDS) return false;
        const SymEnt* s = symptr(v);
        if (!s || (w.type & 0x7F0) != (s->flags & 0x7F0)) return false;
      }
    }
  }
  return true;
}

// Every record and text block of the section, walked in file order: counts,
// offsets, word references and symbol indices lie inside their tables. A
// command record's next offset points forward, to the record after it or
// past its text block; every jump (a control record's next offset, a
// condition's false target) lands on the start of a record. A jump back is
// the "}" or next of a while loop to its head, or a goto to an earlier
// label, so that each pass round a loop reads a command or a condition.
// True when the section can run.
bool checks(Ipc& p, bool loop) {
  std::vector<int32_t> starts;
  int32_t off = 0;
  while (off < p.cmdsz) {
    const uint8_t* r = record(p, off);
    if (!r) return false;
    int16_t code = get16(r + 2);
    int32_t next = get32(r + 4);
    int32_t size = recsiz(r);
    if (!recok(p, r, loop)) return false;
    starts.push_back(off);
    int32_t end = off + size;
    if (!ctrl(code) && next < end) return false;
    if (!ctrl(code) && next > end) {
      // A text block fills the gap up to the next record exactly.
      int32_t t = end;
      for (;;) {
        int l = rd16(p, t);
        if (l < 0) return false;
        if (l == 0) {
          t += 2;
          break;
        }
        t += 2 + l;
        if (t > next) return false;
      }
      if (t != next) return false;
      end = next;
    }
    if (code == LOOPEND && !loop) return false;
    off = end;
  }
  if (off != p.cmdsz) return false;
  // The jumps, now that every record's place is known.
  auto at = [&](int64_t t) { return std::binary_search(starts.begin(), starts.end(), t); };
  for (int32_t s : starts) {
    const uint8_t* r = record(p, s);
    if (!r) return false;
    const int16_t code = get16(r + 2);
    const int32_t next = get32(r + 4);
    // A condition carries its false-jump distance in its second entry.
    if ((code == CM_IF || code == CM_WHILE) &&
        (r[0] < 2 || !at(int64_t(next) + uint16_t(get16(r + RECHDR + 2)))))
      return false;
    if (!ctrl(code)) continue;
    if (!at(next)) return false;
    if (next > s) continue;
    // Backward: to a while head, or by a goto.
    if (code == -CM_GOTO) continue;
    const uint8_t* h = (code == -OP_RBRACE || code == -CM_NEXT) ? record(p, next) : nullptr;
    if (!h || get16(h + 2) != CM_WHILE) return false;
  }
  return true;
}

// The parse tables as a command left them: the listing borrows them.
struct ParseSave {
  char lin[CMDLIN];
  WORD tab[NWORDS];
  int16_t map[MAXARG], nw, low, na, tok, line;
  uint16_t flg;
  ParseSave() {
    std::memcpy(lin, linbuf, sizeof lin);
    std::memcpy(tab, wrdtab, sizeof tab);
    std::memcpy(map, argmap, sizeof map);
    nw = nwords;
    low = lowmrk;
    na = nargw;
    tok = lsttok;
    line = maclin;
    flg = prsflg;
  }
  ~ParseSave() {
    std::memcpy(linbuf, lin, sizeof lin);
    std::memcpy(wrdtab, tab, sizeof tab);
    std::memcpy(argmap, map, sizeof map);
    nwords = nw;
    lowmrk = low;
    nargw = na;
    lsttok = tok;
    maclin = line;
    prsflg = flg;
  }
};

// Loads a checked command record into the parse tables: its argument map,
// its words with their symbol references made live entries, and for a
// record without words (the closing return) its command word.
void ldrec(const Ipc& p, const uint8_t* r) {
  const int na = r[0], nw = r[1];
  const int16_t c = get16(r + 2);
  for (int i = 0; i < na; i++) argmap[i] = get16(r + RECHDR + 2 * i);
  // Word by word: a few 16-byte words, where a block copy of unknown size
  // costs more to start than the copy itself.
  const uint8_t* src = r + RECHDR + 2 * na;
  for (int i = 0; i < nw; i++) {
    WORD& w = wrdtab[i];
    std::memcpy(&w, src + size_t(i) * sizeof(WORD), sizeof(WORD));
    if (w.type > 0 && (w.type & 0x1000) && !(w.type & 0x2000) && wval(w) < 0)
      setwval(w, p.syms[size_t((-int64_t(wval(w)) - 1) / SYMWDS)]);
  }
  nwords = int16_t(nw);
  lowmrk = NWORDS;
  nargw = int16_t(na);
  if (na == 0 && c > 0) {
    WORD& w = wrdtab[0];
    w = WORD{};
    w.type = WT_CMD;
    w.v1 = c;
    argmap[0] = 0;
    nargw = 1;
    if (nwords < 1) nwords = 1;
  }
  lsttok = int16_t(na > 0 || c == 0 ? argmap[0] : -1);
  prsflg = 0x1F;
  linbuf[0] = 0;
}

// Loads a record as the runner does and traces it as a parsed command (the
// listing with trace bits 0x14).
void trcrec(const Ipc& p, const uint8_t* r) {
  maclin = get16(r + 8);
  ldrec(p, r);
  ecodbg();
}

// The listing of the records, following the next offsets.
void lstcmd(Ipc& p) {
  ParseSave keep;
  const bool parsed = (trcmsk & 0x14) == 0x14;
  jprintf(dbglun, "\nCommand table:\n\tAddr Key  Args Words    Next   Arg1 Arg2\n");
  int32_t off = 0;
  for (int guard = 0; guard < 100000; guard++) {
    const uint8_t* r = record(p, off);
    if (!r) break;
    int16_t code = get16(r + 2);
    int32_t next = get32(r + 4);
    char kw[24] = "";
    cmdnam(code < 0 ? -code : code, kw);
    if (ctrl(code) || r[0] < 2)
      jprintf(dbglun, "Ipc:%7ld %4d %5d %5d %7ld           %s\n", long(off), int(code), int(r[0]),
              int(r[1]), long(next), kw);
    else
      jprintf(dbglun, "Ipc:%7ld %4d %5d %5d %7ld %5d %5d  %s\n", long(off), int(code), int(r[0]),
              int(r[1]), long(next), int(get16(r + RECHDR)), int(get16(r + RECHDR + 2)), kw);
    if (parsed && !ctrl(code) && code != LOOPEND) trcrec(p, r);
    if (next <= off || code == CM_RETURN || code == LOOPEND) break;
    off = next;
  }
}

// A compiled form stops: its state goes; a loop compiled in memory also
// drops the loop entry and the block that its head took.
void endloop() {
  if (ipcs.empty()) return;
  ipcoff = ipcs.back().calleroff;
  if (ipcs.back().loop) maclin = ipcs.back().endline;
  popipc();
  state &= ~ST_CMACRO;
  if (lopdep > 0) {
    LoopEnt& e = lopstk[--lopdep];
    brclev = e.brace;
    e = LoopEnt{};
  }
}


// Refuses a file that does not hold a sound compiled macro.
int refuse(int unit, bool lib) {
  jprintf(errlun, "Illegal IPC file format\n");
  error(0, 94);
  if (!lib && unit > 0) closef(unit, 0);
  return 0;
}

}  // namespace

// Symbol-table listing of the traces (mask bit 4): entries of 24 bytes.
void lstsym(const std::vector<uint8_t>& s, const char* head) {
  jprintf(dbglun, "\n%s\n", head);
  jprintf(dbglun, "\tName\t\tFlag Wsiz\tNdata  Address\n");
  for (size_t i = 0; i + 24 <= s.size(); i += 24) {
    char nm[13] = {0};
    std::memcpy(nm, &s[i + 12], size_t(std::min(12, s[i + 10] & 15)));
    jprintf(dbglun, "%3d %12s %6d %4d %8ld %8ld\n", int(i / 24), nm, get16(&s[i + 8]) & 0xFFFF,
            int(s[i + 11]), long(get32(&s[i])), long(get32(&s[i + 4])));
  }
}

// Reads record by record from the file instead of keeping the command
// section resident (set by tests to check that mode).
bool ipcfile = false;

bool ipcrun() { return !ipcs.empty(); }

void ipcini() {
  ipcs.clear();
  fcur = nullptr;
  ipcprv = 0;
}

void ipcfre() {
  if (state & ST_COMPILE) return;  // the frame of a macro being compiled
  // Loops compiled in memory above it go first.
  while (!ipcs.empty() && ipcs.back().loop) popipc();
  if (ipcs.empty()) return;
  ipcoff = ipcs.back().calleroff;
  mcunit = ipcs.back().callerunit;
  iofree(ipcs.back());
  popipc();
}

int64_t stmpos(const PtrRec* r) { return int64_t(r->XYZptr[1]) * 512 + r->XYZptr[0]; }

void stmset(PtrRec* r, int64_t pos) {
  pos = std::clamp<int64_t>(pos, 0, int64_t(UINT32_MAX) * 512);
  r->XYZptr[1] = uint32_t(pos / 512);
  r->XYZptr[0] = uint32_t(pos % 512);
}

namespace {

// One piece of a record that is not file-backed: the bytes addressable at
// stream position pos (mode 1 reading, 2 writing `want` bytes), their count
// in *len; null when there are none. The position counts bytes of
// whole-byte items.
uint8_t* piece(PtrRec* r, int64_t pos, int mode, int64_t* len, int64_t want = 0) {
  *len = 0;
  const int bits = r->Wsiz & 63;
  if (bits < 8 || bits % 8 || pos % (bits / 8)) return nullptr;
  const int wb = bits / 8;
  const int64_t item = pos / wb;
  if (!bufrec(r)) {
    // Data held in memory: the rest of it from the position.
    uint8_t* d = dat0(r);
    if (!d && r->Addr > 0 && !(r->Flg & K_NOSTK)) d = static_cast<uint8_t*>(stkptr(int32_t(r->Addr)));
    const int64_t tot = r->Tot > 0 ? int64_t(r->Tot) : std::max<int32_t>(r->Length, 0);
    if (!d || item >= tot) return nullptr;
    *len = (tot - item) * wb;
    return d + pos;
  }
  // Through the block buffers: the position as item coordinates.
  const int64_t nx = std::max<uint32_t>(r->Datdims[0], 1), ny = std::max<uint32_t>(r->Datdims[1], 1);
  const int64_t nz = std::max<uint32_t>(r->Datdims[2], 1);
  if (item >= nx * ny * nz) return nullptr;
  r->XYZptr[0] = uint32_t(item % nx);
  r->XYZptr[1] = uint32_t(item / nx % ny);
  r->XYZptr[2] = uint32_t(item / (nx * ny));
  // A write that covers less than the whole block reads it first, so that
  // the block's other bytes are written back as they were.
  uint32_t off = 0;
  if (mode == 2 && (blknum(r, &off) < 1 || off != 0 || want < int64_t(r->Rwds) * wb)) mode = 3;
  uint8_t* d = blkadr(r, mode);
  const int32_t k = d ? sizbuf(r) : 0;
  if (k < 1) return nullptr;
  *len = int64_t(k) * wb;
  return d;
}

}  // namespace

uint8_t* rdptr(PtrRec* r, uint8_t* buf, int32_t n) {
  if (!r || n < 0) return nullptr;
  const int64_t pos = stmpos(r);
  const uint32_t z = r->XYZptr[2];
  if (r->Flg & K_FILE) {
    // One transfer through the unit's record I/O.
    const FilRec* f = filrec(r);
    if (!f || f->Lun < 1) return nullptr;
    if (!buf) buf = static_cast<uint8_t*>(getbuf(std::max(n, 1)));
    if (!buf || (n > 0 && rdblk(f->Lun, 0, buf, n, pos + CMPBASE) != n)) return nullptr;
    stmset(r, pos + n);
    return buf;
  }
  uint8_t* out = nullptr;
  int64_t done = 0;
  while (done < n) {
    int64_t len = 0;
    uint8_t* d = piece(r, pos + done, 1, &len);
    if (!d) break;
    if (done == 0 && len >= n) {
      out = d;  // all of it in the first piece: read in place
      done = n;
      break;
    }
    if (!buf) buf = static_cast<uint8_t*>(getbuf(n));
    if (!buf) break;
    const int64_t k = std::min<int64_t>(len, n - done);
    std::memcpy(buf + done, d, size_t(k));
    done += k;
  }
  r->XYZptr[2] = z;
  if (done < n) {
    stmset(r, pos);
    return nullptr;
  }
  stmset(r, pos + n);
  return out ? out : buf;
}

int32_t wrtptr(PtrRec* r, const uint8_t* bytes, int32_t n) {
  if (!r || n < 0 || (n > 0 && !bytes)) return -1;
  const int64_t pos = stmpos(r);
  const uint32_t z = r->XYZptr[2];
  if (r->Flg & K_FILE) {
    const FilRec* f = filrec(r);
    if (!f || f->Lun < 1 || (n > 0 && wrtblk(f->Lun, 0, bytes, n, pos + CMPBASE) != n)) return -1;
    stmset(r, pos + n);
    return n;
  }
  int64_t done = 0;
  while (done < n) {
    int64_t len = 0;
    uint8_t* d = piece(r, pos + done, 2, &len, n - done);
    if (!d) break;  // no room left
    const int64_t k = std::min<int64_t>(len, n - done);
    std::memcpy(d, bytes + done, size_t(k));
    done += k;
  }
  if (bufrec(r)) flshio(r);
  r->XYZptr[2] = z;
  stmset(r, pos + done);
  return int32_t(done);
}

// Pushes a loop compiled in memory (the compiler's side).
void ipcloop(std::vector<uint8_t>&& cmds, int16_t endline) {
  Ipc p;
  p.loop = true;
  p.endline = endline;
  p.cmdsz = int32_t(cmds.size());
  p.cmds = std::move(cmds);
  p.calleroff = ipcoff;
  p.callerunit = mcunit;
  p.inunit = inunit;
  ipcs.push_back(std::move(p));
  ipcoff = 0;
  state |= ST_CMACRO;
}

bool ipcunit(int unit) {
  if (ipcs.empty() || !(state & ST_CMACRO)) return false;
  if (unit == macunt()) return true;
  // A loop typed at the prompt: its text blocks, not the keyboard.
  const Ipc& p = ipcs.back();
  return p.loop && unit == p.inunit && p.txt >= 0;
}

namespace {

// Where a compiled macro's bytes come from: a unit (its file, or its entry
// in the library) or a variable's data. They are read through a pointer
// record: a file-backed one bound to the unit (offsets count from the
// file's start, stream positions from its compiled data), or one over the
// variable's data.
struct Src {
  int unit = -1;
  bool lib = false;
  const uint8_t* mem = nullptr;
  PtrRec* io = nullptr;
  int64_t at = 0;  // the offset of stream position 0
  // Reads a section (rdcmp): n bytes at offset off, none past limit.
  bool read(void* buf, int64_t n, int64_t off, int64_t limit) const {
    if (!io || n < 0 || n > 0x7FFFFFFF || off < at || off + n > limit) return false;
    if (n == 0) return true;
    stmset(io, off - at);
    const uint8_t* d = rdptr(io, static_cast<uint8_t*>(buf), int32_t(n));
    if (d && d != buf) std::memcpy(buf, d, size_t(n));
    return d != nullptr;
  }
};

// A variable that holds a compiled macro: an array or command list of a
// named variable. Its bytes and their count; -1 when the argument is none,
// -2 when it is one that cannot be used (file-backed: refused).
int64_t ipcvar(int argi, const uint8_t** data) {
  int32_t h = 0;
  int w = -1;
  fndarg(argi, &h, &w);
  const PtrRec* r = ptrrec(h);
  if (!r) return -1;
  const int t = r->Flg;
  if (!(t & (0x2000 | K_ARRAY)) || !(t & (0x1000 | 8))) return -1;
  if (t & 8) return -2;
  if ((r->Wsiz & 63) != 8 || r->Length < 1 || r->Addr == 0) return -1;
  *data = static_cast<const uint8_t*>(stkptr(int32_t(r->Addr)));
  return *data ? int64_t(r->Length) : -1;
}

}  // namespace

int runipc(int argi) {
  char name[257];
  char path[300] = "";
  Src src;
  int64_t base = CMPBASE, limit = 0;
  if (argname(argi, name, sizeof name) >= 1) {
    if (opnmac(name, &src.unit, 4, path, ".cmp") != 0 || src.unit <= 0) return -1;
    src.lib = libunit > 0 && src.unit == libunit;
    if (src.lib) {
      uint32_t s0 = 0, e0 = 0;
      libspan(&s0, &e0);
      base += s0;
      limit = e0;
    } else {
      FILE* f = unitstream(src.unit);
      long here = f ? std::ftell(f) : -1;
      if (f && std::fseek(f, 0, SEEK_END) == 0) limit = std::ftell(f);
      if (f && here >= 0) std::fseek(f, here, SEEK_SET);
    }
    // The file variable's stream, bound to the open unit.
    src.io = putptr(K_FILE, 0, nullptr, 0, 8, 1);
    if (FilRec* f = src.io ? filrec(src.io) : nullptr) f->Lun = uint8_t(src.unit);
    src.at = CMPBASE;
  } else {
    int64_t n = ipcvar(argi, &src.mem);
    if (n == -2) {
      jprintf(errlun, "Illegal IPC file format\n");
      return -1;
    }
    if (n < CMPHDR) return -1;
    // The data holds the compiled bytes, with or without the file's header.
    limit = n;
    base = n >= CMPBASE + CMPHDR && get16(src.mem + CMPBASE + 2) == int16_t(CMPTYPE) &&
                   get16(src.mem + 2) != int16_t(CMPTYPE)
               ? CMPBASE
               : 0;
    // A stream over the variable's bytes.
    if ((src.io = putptr(K_ARRAY, 0, nullptr, 0, 8, 1))) {
      src.io->Flg = K_ARRAY | K_NAMED;
      src.io->Data0 = bytadr(stkadr(src.mem));
      src.io->Tot = uint32_t(n);
      src.io->Datdims[0] = uint32_t(n);
    }
  }
  const int u = src.unit;
  const bool lib = src.lib;
  uint8_t h[CMPHDR];
  if (!src.read(h, CMPHDR, base, limit) || uint16_t(get16(h + 2)) != CMPTYPE) {
    if (!lib && u > 0) closef(u, 0);
    return -1;
  }
  const int64_t sysz = uint32_t(get32(h + 12)), rlsz = uint32_t(get32(h + 16));
  const int64_t labs = uint32_t(get32(h + 20)), cmds = uint32_t(get32(h + 24));
  if (trcmsk & 4)
    jprintf(dbglun, "  Sysz=%7ld Rlsz=%7ld Labs=%7ld Cmds=%7ld\n", long(sysz), long(rlsz), long(labs),
            long(cmds));
  const int64_t total = base + CMPHDR + sysz + rlsz + labs + cmds;
  if (get16(h + 6) != CMPHDR || sysz % 24 || rlsz % RELSZ || labs % LABSZ || cmds < RECHDR ||
      cmds > 0x7FFFFFFF || total > limit)
    return refuse(u, lib);

  std::vector<uint8_t> sym(static_cast<size_t>(sysz)), refs(static_cast<size_t>(rlsz)),
      lab(static_cast<size_t>(labs));
  int64_t pos = base + CMPHDR;
  auto rdsec = [&](std::vector<uint8_t>& v) {
    bool ok = src.read(v.data(), int64_t(v.size()), pos, limit);
    pos += int64_t(v.size());
    return ok;
  };
  if (!rdsec(sym) || !rdsec(refs) || !rdsec(lab)) return refuse(u, lib);

  Ipc p;
  p.unit = u;
  p.cmdpos = pos - src.at;
  p.cmdsz = int32_t(cmds);
  p.resident = !ipcfile || src.mem;
  p.ld = src.io;
  if (p.resident) {
    p.cmds.resize(size_t(cmds));
    if (!src.read(p.cmds.data(), cmds, pos, limit)) return refuse(u, lib);
  }
  if (trcmsk & 4) lstsym(sym);

  // Relinking: every symbol is a reference to a live variable of its kind.
  int fresh = 0;
  bool bad = false;
  const int nsym = int(sysz / 24);
  p.syms.assign(size_t(nsym), 0);
  p.symfl.resize(size_t(nsym));
  for (int i = 0; i < nsym; i++) p.symfl[size_t(i)] = uint16_t(get16(&sym[size_t(i) * 24 + 8]));
  for (int i = 0; i < nsym; i++) {
    const uint8_t* s = &sym[size_t(i) * 24];
    int len = s[10] & 15;
    if (len < 1 || len > SYMNAM) return refuse(u, lib);
    const char* nm = reinterpret_cast<const char*>(s + 12);
    int32_t data = get32(s + 4);
    uint16_t fl = uint16_t(get16(s + 8));
    uint16_t live = 0;
    int32_t e = data < 0 ? GETSYM(nm, len, &live, 1) : -1;
    if (e >= 0 && (live & 0x7F0) != (fl & 0x7F0)) {
      jprintf(errlun, "Symbol table error: %12.12s\n", nm);
      error(0, 44);
      bad = true;
    } else if (e >= 0) {
      p.syms[size_t(i)] = e;
      put32(&sym[size_t(i) * 24 + 4], e);
    } else {
      jprintf(dbglun, "New symbol: %12.12s %6d %6ld %6ld\n", nm, int(fl), long(data), 0L);
      fresh++;
    }
  }
  if (!checks(p, false)) return refuse(u, lib);
  if (trcmsk & 4) {
    lstsym(sym);
    jprintf(dbglun, "\nRelocation table\n  Flag\tLoc\tLabel Levl\tAddr1   Addr2   Addr3\n");
    for (size_t i = 0; i + RELSZ <= refs.size(); i += RELSZ) {
      char nm[13] = {0};
      std::memcpy(nm, &refs[i + 8], 12);
      jprintf(dbglun, " %5d %5d    %-16s\n", int(get16(&refs[i])), int(get16(&refs[i + 2])), nm);
    }
    jprintf(dbglun, "\nLabel table:\n   Label  Address\n");
    for (size_t i = 0; i + LABSZ <= lab.size(); i += LABSZ)
      jprintf(dbglun, " %5d   %8ld\n", int(uint16_t(get16(&lab[i]))), long(get32(&lab[i + 4])));
    lstcmd(p);
  }
  if (bad) {
    // A symbol of another kind: the macro does not run.
    if (!lib && u > 0) closef(u, 0);
    return 0;
  }
  if (fresh) {
    if (!lib && u > 0) closef(u, 0);
    return -1;
  }

  p.ld = nullptr;
  if (!p.resident) {
    // Records are read at run time through a record of the macro's own.
    PtrRec* r = putptr(K_FILE, 0, nullptr, 0, 8, 0);
    if (FilRec* f = r ? filrec(r) : nullptr) {
      f->Lun = uint8_t(u);
      p.io = stkadr(r);
    } else {
      if (!lib && u > 0) closef(u, 0);
      return -1;
    }
  }

  // The call: the caller's state is kept as for a text macro.
  const bool framed = curfrm() != nullptr;
  p.calleroff = ipcoff;
  p.callerunit = mcunit;
  callsv();
  int16_t oldunit = mcunit;
  int16_t olddep = lopdep;
  // A macro from a variable reads its text blocks through a unit of its own.
  mcunit = int16_t(u > 0 ? u : MEMUNIT);
  lopdep = 0;
  if (PutMac(path[0] ? path : "NoName", argi, 4) != 0) {
    iofree(p);
    if (!lib && u > 0) closef(u, 0);
    mcunit = oldunit;
    lopdep = olddep;
    callbk(framed);
    return 0;
  }
  libps[0] = libps[2] = 0;
  libps[1] = 0xFFFFFFFFu;
  ipcs.push_back(std::move(p));
  ipcoff = 0;
  state |= ST_CMACRO;
  return 0;
}

int getipc(int* code) {
  int dummy = 0;
  if (!code) code = &dummy;
  *code = 0;
  if (ipcs.empty()) {
    state &= ~ST_CMACRO;
    return 0;
  }
  if (state & 0x8180) {
    // An error or a stop ends every macro; a loop compiled in memory goes
    // with the macro that holds it.
    while (!ipcs.empty() && ipcs.back().loop) endloop();
    macabt();
    return 0;
  }
  pollio();
  const bool fast = fcmain && fcok();
  for (uint32_t steps = 1;; steps++) {
    if (state & 0x8180) return 0;
    if ((steps & 0x3FF) == 0) chkio(0);  // a loop of jumps alone still sees Ctrl-C
    Ipc& p = ipcs.back();
    if (fast && p.resident && !p.fptr.empty()) {
      fastrun(p);
      if (state & 0x8180) return 0;
    }
    const uint8_t* r = record(p, ipcoff);
    int32_t next = r ? get32(r + 4) : -1;
    if (!r || !recok(p, r, p.loop)) {
      error(0, 94);
      while (!ipcs.empty() && ipcs.back().loop) endloop();
      macabt();
      return 0;
    }
    ipcprv = ipcoff;
    int16_t c = get16(r + 2);
    const int32_t end = ipcoff + recsiz(r);
    ipcoff = next;
    if (ctrl(c)) continue;
    if (c == LOOPEND) {
      endloop();
      return 0;
    }
    maclin = get16(r + 8);
    // A record with a made fast form runs here, between turns of the main
    // loop, and the next record is taken.
    FastCmd* f = fastslot(p, ipcprv, r);
    if (f && f->kind > 0 && fast && fcok()) {
      int32_t v = 0;
      fcbatch();  // records read one by one: each is a batch of its own
      if (fcexec(*f, &v)) {
        p.txt = next > end ? end : -1;
        if (f->kind == FC_COND) {
          if (stopped()) v = 0;
          pollio();
          // A false condition jumps ahead by the distance the compiler stored.
          if (!v) ipcoff = int32_t(uint32_t(ipcoff) + uint32_t(uint16_t(get16(r + RECHDR + 2))));
          fcturns(TM_IFTEST, 1);
        } else {
          fcturns(TM_ASSIGN, 1);
        }
        continue;
      }
    }
    fcur = f;
    ldrec(p, r);
    p.txt = next > end ? end : -1;
    if (trcmsk & 4) {
      ecodbg();
      if ((trcmsk & 0x1C) == 0x1C && c != CM_RETURN) return 0;
    }
    *code = c;
    return nargw;
  }
}

int rdipc(char* buf, int max) {
  if (!buf || max < 1) return -1;
  buf[0] = 0;
  if (ipcs.empty()) return -1;
  Ipc& p = ipcs.back();
  int l = p.txt >= 0 ? rd16(p, p.txt) : 0;
  if (l <= 0) {
    p.txt = -1;
    return -1;
  }
  int n = std::min(l - 1, max - 1);
  if (p.resident) {
    std::memcpy(buf, p.cmds.data() + p.txt + 2, size_t(n));
  } else if (!ipcrd(p, reinterpret_cast<uint8_t*>(buf), n, p.txt + 2)) {
    n = 0;
  }
  buf[n] = 0;
  p.txt += 2 + l;
  return n;
}

char* NXTSTR(int arg, char* buf, int32_t* state, int seps) {
  if (!state) return nullptr;
  char* p = nullptr;
  int32_t left = 0;
  if (!buf) {
    // First call: the string argument into a scratch buffer.
    if (arg < 1) return nullptr;
    std::vector<char> tmp(65536);
    float v = 0;
    int len = 0;
    int k = getarg(arg, &v, tmp.data(), int(tmp.size()), &len);
    if (!(k == WT_TEXT || k == WT_QUOTED || (k > 0 && (k & K_STRING)))) return nullptr;
    len = std::clamp(len, 0, int(tmp.size()) - 1);
    p = static_cast<char*>(getbuf(len + 1));
    if (!p) return nullptr;
    std::memcpy(p, tmp.data(), size_t(len));
    p[len] = 0;
    left = len;
  } else if (*state < 0) {
    // Past the item returned last and the NUL written after it.
    p = buf + std::strlen(buf) + 1;
    left = -*state;
  } else {
    p = buf;
    left = *state;
  }
  auto sep = [seps](char c) { return c == '\n' || (seps && (c == ' ' || c == ',' || c == '\t')); };
  while (left > 0 && sep(*p)) {
    p++;
    left--;
  }
  if (left <= 0) {
    *state = 0;
    return nullptr;
  }
  int32_t n = 0;
  while (n < left && !sep(p[n]) && p[n]) n++;
  p[n] = 0;
  *state = -(left - std::min(left, n + 1));
  return p;
}
