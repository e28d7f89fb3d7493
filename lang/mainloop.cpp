// The main loop, the pending-command queues, redirection of one command's
// output, the history of typed lines and the journal command.
#include "lang/mainloop.h"
#include "lang/lincache.h"
#include "lang/mactext.h"
#include "lang/maccomp.h"

#include "core/blkbuf.h"

#include "core/args.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/typecmd.h"
#include "core/units.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "lang/alarm.h"
#include "lang/declare.h"
#include "lang/docmnd.h"
#include "lang/fastcmd.h"
#include "lang/keywords.h"
#include "lang/macro.h"
#include "lang/names.h"
#include "lang/order.h"
#include "lang/parse.h"
#include "lang/rdline.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/hooks.h"
#include "ui/platform/backend.h"
#include "ui/platform/console.h"
#include "ui/window.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>

PendQ dfltq{};
PendQ typq{};
int16_t qflag = 0;
int16_t inunit = 0;
int16_t savlst = 1;
int32_t nturns = 0;
int32_t nerrtn = 0;
int16_t hdfail = 0;
int16_t hdcode = 0;

namespace {
constexpr int QMAX = 1024;       // characters one queueing takes
constexpr int MAINCMD = 300;     // characters of maincmd that are queued
constexpr int HISTREC = 300;     // characters of a recalled history line

// The line last taken from the typed-line queue (such lines are no typed
// input for the history).
bool fromtq = false;

// Capture of a redirected command's output into a text list variable: the
// headed block {lines so far, record handle, the record (30 words)}, the
// table's capacity and the symbol entry.
int32_t capblk = 0;
int32_t capent = 0;
int32_t capcap = 0;
// The unit a redirection opened for an alert box ("alert.tmp").
int16_t alertu = -1;

char* qtext(const PendQ* q) {
  return q->blk > 0 ? static_cast<char*>(stkptr(q->blk)) : nullptr;
}

// The queued texts and the typed loops' texts lie in headed blocks that only
// these words name while no macro frame and no nested input keeps a copy of
// them: the compaction between commands may move them then.
bool qmove() { return !curfrm() && !(pflags & 0x4000); }
struct QSlots {
  QSlots() {
    stkslot(&dfltq.blk, qmove);
    stkslot(&typq.blk, qmove);
    for (LoopEnt& e : lopstk) stkslot(&e.q.blk, qmove);
  }
} qslots;

// Length of text, at most max characters.
int txtlen(const char* t, int max) {
  int n = 0;
  while (n < max && t[n]) n++;
  return n;
}
}  // namespace

bool qpend(const PendQ* q) {
  const char* t = q ? qtext(q) : nullptr;
  return t && q->rd >= 0 && q->rd < q->len - 1 && t[q->rd] != 0;
}

int clrpst(PendQ* q) {
  if (!q) q = &dfltq;
  if (q->blk > 0) freblk(q->blk);
  q->blk = 0;
  q->rd = 0;
  q->len = 0;
  return 0;
}

int savcmd(const char* text, int argn, int length, PendQ* q) {
  if (!q) q = &dfltq;
  const bool dflt = q == &dfltq;
  char abuf[QMAX + 1];
  if (argn < 0) {
    float v = 0;
    int len = 0;
    int kind = getarg(-argn, &v, abuf, sizeof abuf, &len);
    if (!(kind & K_STRING) || (kind & K_LIST)) return 0;
    text = abuf;
    length = len;
  }
  if (!text) return 0;
  if (length < 1) length = QMAX;
  length = txtlen(text, length);
  if (length < 1) return 0;

  // The joined text: the new lines in front of the unread rest.
  std::string joined(text, static_cast<size_t>(length));
  if (dflt && qpend(q)) {
    joined += '\n';
    joined += qtext(q) + q->rd;
  }
  // The new block is taken before the old one is freed, so that a failed
  // allocation loses nothing that was queued.
  int32_t blk = 0;
  int32_t size = static_cast<int32_t>(joined.size()) + 1;
  if (getstk(&blk, size, 1, 1, 0) < 1 || blk <= 0) return 0;
  std::memcpy(stkptr(blk), joined.c_str(), static_cast<size_t>(size));
  clrpst(q);
  q->blk = blk;
  q->rd = 0;
  q->len = size;
  if (dflt) {
    qflag = 1;
    state |= ST_QUEUED;
  }
  return length;
}

int xeqstr(const char* text, int source, int length) {
  if (source >= 1) {
    char buf[QMAX + 1];
    const SymEnt* e = symptr(source);
    if (!e || !(e->flags & SY_STRING) || e->data <= 0) return 0;
    GETCHV(source, buf, sizeof buf, 1);
    return savcmd(buf, 0, txtlen(buf, QMAX), nullptr);
  }
  if (source < 0) return savcmd(nullptr, source, 0, nullptr);
  if (!text) return 0;
  if (length < 1) length = txtlen(text, QMAX);
  return savcmd(text, 0, length, nullptr);
}

int gtpstr(void* queue, char* buf) {
  PendQ* q = queue ? static_cast<PendQ*>(queue) : &dfltq;
  if (buf) buf[0] = 0;
  if (!qpend(q)) {
    clrpst(q);
    if (q == &dfltq) state &= ~ST_QUEUED;
    return -1;
  }
  const char* t = qtext(q);
  int p = q->rd, n = 0;
  while (p < q->len - 1 && t[p] && t[p] != '\n') {
    if (buf && n < LINBUF - 1) buf[n] = t[p];
    if (n < LINBUF - 1) n++;
    p++;
  }
  if (p < q->len - 1 && t[p] == '\n') p++;
  q->rd = p;
  if (buf) buf[n] = 0;
  fromtq = q == &typq;
  if (buf && (trcmsk & 1)) jprintf(dbglun, "%s\n", buf);
  return n;
}

int tlqput(const char* text, int length) { return savcmd(text, 0, length, &typq); }

void tlqclr() { clrpst(&typq); }

// ---------------------------------------------------------------------------
// History and journal.

namespace {
int16_t hoff[NHIST];  // pool offset of each ring position
int16_t hlen[NHIST];  // length of each ring position (0: empty)
char hpool[HISTPOOL];
int hnew = NHIST - 1;  // ring position of the newest entry
int hcnt = 0;          // entries in the ring
int hcur = 0;          // recall cursor: 0..hcnt (hcnt: past the newest)
int hwpos = 0;         // pool write offset
bool hlast = false;    // the last recorded line went into the ring

// Ring position of the entry i (0-based from the oldest).
int hpos(int i) { return ((hnew - hcnt + 1 + i) % NHIST + NHIST) % NHIST; }

void hdropold() {
  if (hcnt <= 0) return;
  hlen[hpos(0)] = 0;
  hcnt--;
  if (hcur > 0) hcur--;
}

// Copies entry i into linbuf; its length.
int hcopy(int i) {
  if (i < 0 || i >= hcnt) {
    linbuf[0] = 0;
    return 0;
  }
  int p = hpos(i);
  int n = std::min<int>({hlen[p], HISTREC, LINBUF - 1});
  std::memcpy(linbuf, hpool + hoff[p], static_cast<size_t>(n));
  linbuf[n] = 0;
  return n;
}

// Index (from the oldest) of ring position p, or -1 when it holds no entry.
int hindex(int p) {
  for (int i = 0; i < hcnt; i++)
    if (hpos(i) == p) return i;
  return -1;
}

void hrecord(const char* line, int length) {
  int n = std::min(length, HISTPOOL - 1);
  if (hwpos + n + 1 > HISTPOOL) hwpos = 0;
  // Entries whose text lies where the new text goes are dropped from the
  // old end.
  for (;;) {
    bool hit = false;
    for (int i = 0; i < hcnt && !hit; i++) {
      int p = hpos(i);
      hit = hoff[p] < hwpos + n + 1 && hwpos < hoff[p] + hlen[p] + 1;
    }
    if (!hit) break;
    hdropold();
  }
  if (hcnt == NHIST) hdropold();
  hnew = (hnew + 1) % NHIST;
  hoff[hnew] = static_cast<int16_t>(hwpos);
  hlen[hnew] = static_cast<int16_t>(n);
  std::memcpy(hpool + hwpos, line, static_cast<size_t>(n));
  hpool[hwpos + n] = 0;
  hwpos += n + 1;
  hcnt++;
  hcur = hcnt;
}

// Takes the newest entry out of the ring (the journal command's own line).
void hdropnew() {
  if (hcnt <= 0) return;
  hwpos = hoff[hnew];
  hlen[hnew] = 0;
  hnew = (hnew + NHIST - 1) % NHIST;
  hcnt--;
  hcur = std::min(hcur, hcnt);
}

bool jrnopen() {
  if (jrnlun < 0 || jrnlun == 1 || jrnlun >= NUNITS) return jrnlun >= 100;
  return jrnlun == 4 || unitstream(jrnlun) != nullptr;
}

// The journal listing: ring positions a..b (1-based, wrapping), or the
// whole ring from the oldest with numbers.
void hlist(int a, int b) {
  setfoc(1, 0x400);
  state |= ST_LISTING;
  if (a < 1) {
    for (int i = 0; i < hcnt && !stopped(); i++) {
      int p = hpos(i);
      jprintf(lstlun, "%3d: %s\n", p + 1, hpool + hoff[p]);
    }
  } else {
    int p = (a - 1) % NHIST;
    int last = (std::max(b, 1) - 1) % NHIST;
    for (int k = 0; k < NHIST && !stopped(); k++) {
      if (hindex(p) >= 0) jprintf(lstlun, "%s\n", hpool + hoff[p]);
      if (p == last) break;
      p = (p + 1) % NHIST;
    }
  }
  state &= ~ST_LISTING;
  setfoc(0, 0x400);
}
}  // namespace

void hstrst() { hcur = hcnt; }
int hstcnt() { return hcnt; }
const char* hstent(int i) { return i >= 0 && i < hcnt ? hpool + hoff[hpos(i)] : nullptr; }
void hstclr() {
  std::memset(hlen, 0, sizeof hlen);
  hnew = NHIST - 1;
  hcnt = hcur = hwpos = 0;
  hlast = false;
  fromtq = false;
}

int Histry(int mode, int length, int flag) {
  if (macmod) return 0;
  if (mode == 0) {
    hlast = false;
    int n = std::min(length, LINBUF - 1);
    if (n < 1) return 0;
    if (jrnopen()) jprintf(jrnlun, "%s\n", linbuf);
    bool queued = (flag != 0 || fromtq || qpend(&typq)) && !(pflags & 0x100);
    fromtq = false;
    if (queued) return 0;
    hrecord(linbuf, n);
    hlast = true;
    return n;
  }
  if (mode < 0) {
    if (hcnt == 0) {
      linbuf[0] = 0;
      return 0;
    }
    if (mode == -1)
      hcur = std::max(hcur - 1, 0);
    else
      hcur = std::min(hcur + 1, hcnt - 1);
    return hcopy(hcur);
  }
  // The journal command.
  if (hlast) hdropnew();
  hlast = false;
  int a = intarg(2, -2);
  int b = intarg(3, 0);
  if (a == -2 || b != 0) {
    hlist(b != 0 ? a : 0, b);
    return 0;
  }
  int i;
  if (a >= 1) {
    i = hindex((a - 1) % NHIST);
    if (a > NHIST || i < 0) return 0;  // no such entry (the command's own, say)
  } else {
    if (hcnt == 0) return 0;
    i = std::max(std::min(hcur, hcnt) - 1, 0);
    if (a == 0) hcur = i;
  }
  int n = hcopy(i);
  if (a == -1) {
    jprintf(1, "%s\n", linbuf);
    return 0;
  }
  if (n < 1) return 0;
  return xeqstr(linbuf, 0, n) > 0 ? n : 0;
}

// ---------------------------------------------------------------------------
// Focus and windows.

int cmdwin() {
  int prev = usewin(0);
  (void)prev;
  int col = 0, row = 0;
  getcur(&col, &row);
  const TxtGrid* g = curgrid();
  return col <= (g ? g->ocol : 0) ? 1 : 0;
}

int setfoc(int sw, int reasons) {
  const Wport* w0 = wport(0);
  const Wport* w1 = wport(1);
  bool ic0 = w0 && (w0->status & 8);
  bool ic1 = !w1 || (w1->status & 8);
  int pick = 0;
  if (ic0 && !ic1) {
    pick = 1;
  } else if (sw) {
    if (!ic0 && lstlun == 1 && !(vwindow & 4) && (reasons < 0 || (reasons & vwindow)))
      pick = 1;
  }
  vwindow = static_cast<int16_t>((vwindow & ~1) | pick);
  usewin(pick);
  if (lstlun == 1) txtwin = static_cast<int16_t>(pick);
  return 0;
}

int inpunt() { return inunit; }

int flushq() {
  // Keys that arrive are kept in the type-ahead buffer; the loop ends when
  // nothing more is pending (bounded, so that a stream of input cannot hold
  // the loop).
  for (int i = 0; i < 256; i++)
    if (chkio(0) <= 0) break;
  return 0;
}

// ---------------------------------------------------------------------------
// Interrupt, DEBUG> prompt, alarms.

int intrpt() {
  clrpst(&dfltq);
  state &= ~ST_QUEUED;
  if (qflag > 0) qflag = 0;
  int prev = usewin(txtwin);
  int col = 0, row = 0;
  getcur(&col, &row);
  const TxtGrid* g = curgrid();
  if (col > (g ? g->ocol : 0)) jline(row);
  usewin(prev);
  if (macmod && (pflags & 2)) {
    macabt();
    return 0;
  }
  std::string trap = strvar("ctrap");
  if (!trap.empty()) xeqstr(trap.c_str(), 0, 0);
  else macabt();
  return 0;
}

int dbgprm() {
  int prev = usewin(0);
  wintext("DEBUG> ", 7);
  usewin(prev);
  int32_t keep = pflags & 0x4000;
  pflags &= ~0x4000;
  int n = linlen(rdline(0, linbuf, LINBUF), LINBUF, linbuf);
  pflags |= keep;
  if (n >= 1) state |= ST_NOECHO;
  return n < 0 ? 0 : n;
}

// ---------------------------------------------------------------------------
// Redirection.

namespace {
// The role of a redirection target word, by its name.
enum { T_FILE, T_OUTPUT, T_JOURNAL, T_ERRORS, T_PRINTER, T_TERMINAL, T_ALERT, T_DEBUG, T_TABLET,
       T_COM1, T_COM2 };

int trgrole(int w, char* name, int max) {
  name[0] = 0;
  const WORD& W = wrdtab[w];
  const char* kw = nullptr;
  if (W.type == WT_CMD || W.type == WT_CMDLIST) kw = cmdtxt(W.v1);
  else if (W.type == SVFLAGS && wval(W) >= 101 && wval(W) <= 245) kw = sysnam[wval(W) - 101];
  if (kw) {
    static const struct {
      const char* n;
      int role;
    } tab[] = {{"output", T_OUTPUT},   {"journal", T_JOURNAL},   {"errors", T_ERRORS},
               {"printer", T_PRINTER}, {"terminal", T_TERMINAL}, {"alert", T_ALERT},
               {"debug", T_DEBUG},     {"tablet", T_TABLET},     {"com1", T_COM1},
               {"com2", T_COM2}};
    for (const auto& t : tab)
      if (std::strcmp(kw, t.n) == 0) return t.role;
    std::snprintf(name, static_cast<size_t>(max), "%s", kw);
    return T_FILE;
  }
  return T_FILE;
}

// Sets up capture into the text list variable of record `handle`.
int capture(int32_t handle, bool append) {
  PtrRec* r = ptrrec(handle);
  if (!r || !(r->Flg & K_NAMED) || r->Idx <= 0) return -1;
  int32_t ent = r->Idx;
  SymEnt* e = symptr(ent);
  if (!e) return -1;
  int32_t old = e->data;
  int64_t slots = 0;
  if (old > 0) {
    int32_t h = fndstk(old);
    slots = e->value;
    if (h > 0) slots = std::min<int64_t>(slots, static_cast<int64_t>(wordp(h)[0]) - 2 - (old - (h + 2)));
  }
  // With ">" the list is erased first; with ">>" new lines follow the last
  // element that holds text.
  int32_t have = 0;
  uint32_t* t = old > 0 ? wordp(old) : nullptr;
  for (int64_t i = 0; t && i < slots; i++) {
    if (!t[i]) continue;
    if (!append) {
      int32_t el = old + static_cast<int32_t>(t[i]);
      t[i] = 0;
      freblk(el);
    } else {
      have = static_cast<int32_t>(i + 1);
    }
  }
  // A table with room for 250 more lines, smaller by 25 while it cannot be
  // had.
  int32_t nt = 0;
  int32_t cap = have + 250;
  for (; cap >= have && cap > 0; cap -= 25) {
    if (getstk(&nt, cap, 4, 1, 0) >= 1 && nt > 0) break;
    nt = 0;
    if (state & ST_ERROR) state &= ~ST_ERROR;
  }
  if (nt <= 0) return -1;
  std::memset(stkptr(nt), 0, static_cast<size_t>(cap) * 4);
  uint32_t* nw = wordp(nt);
  for (int32_t i = 0; i < have; i++) {
    t = wordp(old);
    if (!t[i]) continue;
    int32_t el = old + static_cast<int32_t>(t[i]);
    nw[i] = static_cast<uint32_t>(el - nt);
    t[i] = 0;
    ptrstk(el, nt + i);
  }
  if (old > 0 && !(e->flags & SY_NOTOWN)) freblk(old);
  e = symptr(ent);
  e->data = nt;
  e->value = static_cast<uint32_t>(cap);
  e->flags = static_cast<uint16_t>((e->flags & ~SY_NOTOWN) | SY_VALUE);
  ptrstk(nt, ent + 1);

  // The collector's record {lines, handle} and its own copy of the
  // variable's record, which lives until the redirection ends.
  int32_t blk = 0;
  if (getstk(&blk, 2 + 30, 4, 1, 0) < 1 || blk <= 0) return -1;
  uint32_t* c = wordp(blk);
  std::memset(c, 0, (2 + 30) * 4);
  auto* rec = reinterpret_cast<PtrRec*>(c + 2);
  std::memcpy(rec, ptrrec(handle), sizeof(PtrRec));
  rec->PTR = static_cast<uint32_t>(blk + 2);
  rec->Stack = 0;
  rec->Addr = static_cast<uint32_t>(nt);
  rec->Data0 = bytadr(nt);
  rec->Datdims[0] = static_cast<uint32_t>(cap);
  rec->Datdims[1] = rec->Datdims[2] = 1;
  rec->Offs[0] = rec->Offs[1] = rec->Offs[2] = 0;
  rec->Offs[3] = static_cast<uint32_t>(cap);
  rec->Offs[4] = 0;
  rec->Offs[5] = 1;
  rec->Bufsiz = 0;
  c[0] = static_cast<uint32_t>(have);
  c[1] = static_cast<uint32_t>(blk + 2);
  capblk = blk;
  capent = ent;
  capcap = cap;
  colrec = blk;
  colmax = cap;
  collen = 0;
  colbuf[0] = 0;
  return 99;
}

// Ends capture into a text list: the open line, the unused part of the
// table, the variable marked as written.
void capend() {
  if (collen > 0) jputc(99, '\n');
  if (capblk > 0) {
    int32_t lines = static_cast<int32_t>(wordp(capblk)[0]);
    SymEnt* e = symptr(capent);
    if (e && e->data > 0) {
      lines = std::clamp(lines, 0, capcap);
      if (lines < capcap) putstk(e->data + lines, capcap - lines, 4);
      e = symptr(capent);
      e->value = static_cast<uint32_t>(lines);
      e->nlen |= 0xF0;
    }
    freblk(capblk);
  }
  capblk = capent = capcap = 0;
  colrec = 0;
  colmax = 0;
  collen = 0;
  colbuf[0] = 0;
}
}  // namespace

int Redrct(int code) {
  int plain = code & ~0x2000;
  int n = nargw;
  if (n < 3) return plain;
  int wop = argmap[n - 2], wt = argmap[n - 1];
  if (wop < 0 || wop >= NWORDS || wt < 0 || wt >= NWORDS) return plain;
  const WORD& op = wrdtab[wop];
  if (op.type != WT_CMD || (op.v1 != OP_GT && op.v1 != OP_SHR)) return plain;
  const bool append = op.v1 == OP_SHR;
  savlst = lstlun;

  int unit = -1;
  char name[UNIT_NAMELEN] = {0};
  int t = wrdtab[wt].type;
  const bool var = t > 0 && (t & 0x1000) && !(t & 0x2000);
  const bool list = var && ((t & K_LIST) || (t & 0x180) == 0x180);
  if (list) {
    // Only a list of text lines takes the output.
    if (!(t & K_STRING) || (t & 0x180) == 0x180) return -1;
    int32_t handle = 0;
    argtyp(n, &handle);
    if (handle <= 0 || capture(handle, append) < 0) return -1;
    unit = 99;
  } else {
    int role = T_FILE;
    if (var) {
      // A string variable holds the file name; no other variable is a target.
      if (!(t & K_STRING)) return -1;
      float v = 0;
      int len = 0;
      getarg(n, &v, name, sizeof name, &len);
    } else if (t == WT_TEXT || t == WT_QUOTED) {
      tokstr(wt, name, sizeof name);
    } else {
      role = trgrole(wt, name, sizeof name);
    }
    switch (role) {
      case T_OUTPUT: unit = lstlun; break;
      case T_JOURNAL: unit = jrnlun; break;
      case T_ERRORS: unit = errlun; break;
      case T_PRINTER: unit = prtlun > 0 ? prtlun : -1; break;
      case T_TERMINAL: unit = 1; break;
      case T_DEBUG: unit = dbglun; break;
      case T_TABLET: unit = -1; break;  // no tablet port is set on this platform
      case T_COM1: unit = 100; break;
      case T_COM2: unit = 101; break;
      case T_ALERT: {
        std::string tmp = strvar("tmpdir");
        std::string f = tmp.empty() ? "alert.tmp" : tmp + "/alert.tmp";
        unit = openf(f.c_str(), UM_CREATE | UM_UPDATE | UM_TEXT | UM_ALERT, 0);
        if (unit < 0) error(n, 66);
        alertu = static_cast<int16_t>(unit);
        break;
      }
      default:
        if (name[0]) unit = openf(name, append ? (UM_APPEND | UM_TEXT) : (UM_CREATE | UM_TEXT), 0);
        if (unit < 0) error(n, 66);
        break;
    }
    // An existing unit keeps its open when the redirection ends.
    if (role != T_FILE && role != T_ALERT && unit >= 0 && unit < NUNITS && filtab[unit].Nlinks > 0)
      filtab[unit].Nlinks++;
  }
  // The ">" or ">>" and the target are no arguments of the command.
  nargw = static_cast<int16_t>(n - 2);
  if (unit < 0) return plain;
  lstlun = static_cast<int16_t>(unit);
  if (trcmsk & 0x10)
    jprintf(dbglun, "Redirecting output to: %s (unit %d)\n",
            unit < NUNITS && filtab[unit].name[0] ? filtab[unit].name : "-", unit);
  return plain;
}

int lstout() {
  int u = lstlun;
  if (u == 99) {
    capend();
  } else if (u >= 0 && u < NUNITS) {
    if (u == alertu) {
      // The alert box shows the text; here it goes to the command window.
      if (FILE* f = unitstream(u)) {
        std::fflush(f);
        std::rewind(f);
        char line[LINBUF];
        while (std::fgets(line, sizeof line, f)) jprintf(1, "%s", line);
      }
      alertu = -1;
    }
    closef(u, 0);
  }
  lstlun = savlst;
  return 0;
}

// ---------------------------------------------------------------------------
// Lines and the loop.

namespace {
// Whether the row holds nothing but the prompt (or blanks) from column c0
// up to column col.
bool onlyprompt(int c0, int row, int col) {
  char have[LINBUF + 1];
  const int n = std::max(0, txtget(c0, row, have, std::min(col - c0, LINBUF)));
  std::string h(have, static_cast<size_t>(n)), pr(strvar("prompt") ? strvar("prompt") : "");
  while (!h.empty() && h.back() == ' ') h.pop_back();
  while (!pr.empty() && pr.back() == ' ') pr.pop_back();
  return h.empty() || h == pr;
}
}  // namespace

namespace {
// A flow-control line refused before it is parsed: an if, while or repeat
// head with words after its "{", or with a "{ ... }" on its line, and a
// "} else {" line with either (error 9 on the argument that holds the
// words). The line is not carried out; hdfail tells what it was.
bool flowref(int n, int* code) {
  int i = 0;
  while (linbuf[i] == ' ' || linbuf[i] == '\t') i++;
  const int c = linbuf[i] | 0x20;
  if (!(c == 'i' || c == 'w' || c == 'r' || linbuf[i] == '}') || !std::memchr(linbuf, '{', size_t(n)))
    return false;
  int arg = 0;
  const int f = headform(linbuf, &arg);
  if (f == HF_NONE) return false;
  int hc = 0;
  failform(linbuf, &hc);
  error(arg, 9);
  hdfail = int16_t(f);
  hdcode = int16_t(hc);
  *code = 0;
  return true;
}
}  // namespace

int GETLIN(int unit, int* code, int flags) {
  int dummy = 0;
  if (!code) code = &dummy;
  *code = 0;
  fcur = nullptr;
  lsttok = -1;
  lstsrc = 0;
  hdfail = 0;
  hlast = false;  // the journal takes out only a line recorded for this turn
  const int32_t err0 = state & ST_ERROR;
  int n = 0;
  bool macline = false;  // a line read from the running text macro
  int64_t at = -1, after = -1;  // where it was read, and the place after it
  if (qflag != 0) {
    int f = qflag;
    qflag = 0;
    if (f < 0) {
      // The parsed line again, without its first k arguments.
      int k = -1 - f;
      if (k > 0) {
        k = std::min<int>(k, nargw);
        for (int i = k; i < nargw; i++) argmap[i - k] = argmap[i];
        nargw = static_cast<int16_t>(nargw - k);
      }
      if (nargw < 1) return 0;
      *code = cmdkey(1);
      if ((prsflg & PF_ORDER) && !(state & ST_ERROR)) Aftpro(code);
      if (qpend(&dfltq)) qflag = 1;
      return (state & ST_ERROR) && !err0 ? 0 : nargw;
    }
    if (trcmsk & 2) n = dbgprm();
    if (n <= 0) {
      n = gtpstr(nullptr, linbuf);
      if (n < 0) return 0;
    }
    qflag = 1;
  } else {
    nargw = 0;
    n = -1;
    if ((trcmsk & 2) && (macmod & 2) && unit == inunit) n = dbgprm();
    if (n <= 0 && (state & ST_CMACRO) && unit == inunit) {
      // The compiled macro runner gives the next line here.
      return getipc(code);
    }
    if (n <= 0 && unit == 0 && (state & ST_QUIT)) {
      *code = 2;
      return 1;
    }
    if (n <= 0 && (state & ST_ALARMS) && !almhold && alarmck(0) == -1) return 0;
    uint32_t nfast = 0, io = iogen;
    fcbatch();
    for (;;) {
      if (n > 0) break;
      // A macro line read before at this place of its text is not read or
      // parsed again: its parse is loaded, or its fast form carried out at
      // once and the next line taken.
      at = -1;
      if ((flags & PF_PARSE) && !err0 && (macmod & 7) == 3 && unit == macunt() &&
          !(state & (ST_CMACRO | ST_INTR)) && unit != libunt())
        at = mtplace(unit);
      int64_t next = -1;
      FastCmd* f = nullptr;
      if (at >= 0 && lcplace(at, flags, &next, &f)) {
        bool fast = fcmain && flags == 0x1F && f->kind == FC_ASSIGN && fcok();
        if (fast && io != iogen) {
          io = iogen;
          fcbatch();
        }
        int na = 0;
        const bool ran = fast && fcexec(*f, nullptr);
        if (ran || lcload(code, &na)) {
          mtmove(next);
          macstep(uint32_t(next));
          if (ran) {
            nfast++;
            pollio();
            continue;
          }
          fcturns(TM_ASSIGN, nfast);
          return na;
        }
      }
      n = linlen(rdline(unit, linbuf, CMDLIN), CMDLIN, linbuf);
      int lf = 0, lc = 0;
      if (n > 0 && lnlong(&lf, &lc)) {
        // A macro line too long for the buffer: nothing of it runs.
        error(0, 186);
        hdfail = int16_t(lf);
        hdcode = int16_t(lc);
        return 0;
      }
      const char* row = n == 0 && unit == 0 ? keyfull() : nullptr;
      if (row && (state & ST_ERROR) && !err0) {
        // A typed line too long for the prompt (error 186): a head refused
        // so is passed over with its block, as one that fails is.
        int lc2 = 0;
        hdfail = int16_t(cutform(row, &lc2));
        hdcode = int16_t(lc2);
        // The lines of its block are then read as a block's, not as the
        // prompt's (which refuses a long one): a line stands for the head.
        if (hdfail) nargw = 1;
      }
      macline = n > 0 && (macmod & 7) == 3 && unit == macunt();
      if (macline && at >= 0) after = mtplace(unit);
      break;
    }
    fcturns(TM_ASSIGN, nfast);
    if (n <= 0) {
      // End of input at the prompt ends the program as quit does (the
      // quitstr text runs first).
      if (n < 0 && unit == 0 && inend()) {
        // The prompt that no line followed is taken off its row; output
        // left there without its newline stays, to be written at the end.
        int col = 0, row = 0;
        getcur(&col, &row);
        const TxtGrid* g = curgrid();
        int c0 = g ? g->ocol : 0;
        if (col > c0 && onlyprompt(c0, row, col)) {
          erstxt(curwin, c0, row, col - c0);
          putcur(c0, row);
        }
        *code = 2;
        return 1;
      }
    }
    if (n > 0) {
      if (!macmod) {
        Histry(0, n, qflag);
      } else if (trcmsk & 1) {
        jprintf(dbglun, "%4d: %s\n", maclin, linbuf);
        if ((trcmsk & 2) && dbglun != 1) jprintf(1, "%4d: %s\n", maclin, linbuf);
      }
    }
  }
  if (n < 1) return 0;
  // A line of a running text macro parsed before under the same tables.
  char raw[CMDLIN];
  macline = macline && (flags & PF_PARSE) && !err0;
  if (macline) {
    int na = 0;
    if (lcfind(linbuf, flags, code, &na, at, after)) return na;
    std::memcpy(raw, linbuf, sizeof raw);
  }
  // A define line takes its text as it stands: no defined name is put in
  // (redefining one would otherwise see its old text), and it is kept as
  // one text word rather than parsed as an expression.
  const bool def = (flags & PF_PARSE) && defline(linbuf);
  if (def) flags = (flags & ~(PF_DEFINES | PF_ORDER)) | PF_WHOLE;
  prsflg = static_cast<uint16_t>(flags);
  if (flags & 7) n = prepro(linbuf, n, CMDLIN, flags);
  if ((flags & PF_PARSE) && !def && flowref(n, code)) return 0;
  if (flags & PF_PARSE) PARSLN(n, code);
  if (def && nargw > 0) *code = 33;
  if ((flags & PF_ORDER) && !(state & ST_ERROR)) Aftpro(code);
  if ((state & ST_ERROR) && !err0) {
    // A head whose line could not be read counts as a false condition's.
    if (flags & PF_PARSE) {
      int c = 0;
      hdfail = int16_t(failform(prsln, &c));
      hdcode = int16_t(c);
    }
    *code = 0;
    return 0;
  }
  if (macline) lcstore(raw, flags, *code, at, after);
  return nargw;
}


namespace {
// Whether a repeating maincmd must end: Ctrl-C came (served this turn, or
// still waiting), or the keyboard input has ended with nothing left to read.
// Typed input is looked at one key ahead, and only while none waits: the
// rest stays with the platform until the line reader takes it, so however
// long the repeats run no typed key is pushed out of a full queue.
bool maincmd_ends(bool intr) {
  if (intr || conintr()) return true;
  if (inpend(1) || peekky()) return false;
  int r = backend()->pump(KEY_POLL);
  return (r < 0 || inend()) && !inpend(1) && !peekky();
}
}  // namespace

int mainturn() {
  static bool logged = false;
  if (!logged && logfp) {
    logprintf("mainloop()\n");
    logged = true;
  }
  // A Ctrl-C that ends the program came during the last command: that
  // command has returned, its threads have stopped.
  endnow();
  // 1. Scratch of the last command dropped at once.
  rststk();
  pacrst();  // per-command rows of the table of active buffers
  mapstub();
  // 2. The last command's redirection ends.
  if (lstlun != savlst) lstout();
  // 3. Stack checks.
  if (stktrap) trpstk(-1);
  if (trcmsk & 0x2000) chkstk(0);
  // 4, 5. Turn log and the count of failing turns.
  nturns++;
  if (logfp && nturns <= 200) logprintf("main %2d: %s\n", static_cast<int>(nturns), linbuf);
  // A turn that starts over after queueing maincmd is no new turn for the
  // count: otherwise the clean restart would reset it every time and a
  // failing maincmd text ending in ";" would repeat for ever.
  // A name that is neither command nor macro counts as a failing turn.
  static bool again = false, badcmd = false;
  if (!again) {
    if ((state & ST_ERROR) || badcmd)
      nerrtn++;
    else
      nerrtn = 0;
  }
  again = false;
  badcmd = false;
  // No compiled macro runs: its status bit (which the state variable can
  // set) must not make the loop wait on one for ever.
  if ((state & ST_CMACRO) && !ipcrun()) state &= ~ST_CMACRO;
  // 6. The status word.
  static bool intrseen = false;
  if (state & ST_INTR) intrseen = true;
  if (state & 0x81F0) {
    if (state & ST_TEMPUNITS) clstmp();
    // After an error with pflags bit 0x20 the macro module aborts every
    // running macro (macabt); otherwise the macro goes on.
    if ((state & ST_ERROR) && (pflags & 0x20)) macabt();
    if (state & ST_INTR) {
      intrpt();
      almhold = true;  // control comes back to the prompt first
    }
    // Aborted macros gave back their frames at the bottom of the stack: the
    // scratch area starts again above the bottom as it now stands.
    rststk();
    state &= (pflags & 0x10) | 0x3E0F;
    flushq();
  }
  // 7. Idle: maincmd, or the command window and its prompt.
  const bool idle = !(state & 0x9F8F) && qflag == 0 && !qpend(&typq);
  if (idle) {
    std::string mc = strvar("maincmd");
    if (!mc.empty() && !mnupnd()) {
      if (mc.size() > MAINCMD) mc.resize(MAINCMD);
      tlqput(mc.c_str(), static_cast<int>(mc.size()));
      if (mc.back() != ';' || nerrtn >= 11 || maincmd_ends(intrseen)) setstrv("maincmd", "");
      intrseen = false;
      again = true;
      return 0;
    }
    intrseen = false;  // a Ctrl-C while no maincmd repeats is spent
    if (cmdwin() && !(pflags & 0x80)) {
      std::string pr = strvar("prompt");
      if (!pr.empty()) wintext(pr.c_str(), static_cast<int>(pr.size()));
    }
    inunit = 0;
  }
  // 8. Windows that watch variables repaint.
  if (nwatch > 0 && ((pflags & 0x2000) || idle)) DoWatch(0);
  // 9. The next line.
  int code = 0;
  fcmain = true;
  int n = GETLIN(inunit, &code, 0x1F);
  fcmain = false;
  // A flow-control line that was refused as it was read.
  if (n < 1 && hdfail) hdpass(hdfail, hdcode);
  // 10. The parsed line is echoed on the debug unit, unless it was typed at
  // the DEBUG> prompt.
  if (n >= 1 && (trcmsk & 2)) {
    if (state & ST_NOECHO)
      state &= ~ST_NOECHO;
    else if ((trcmsk & 1) && qflag == 0 && (state & ST_CMACRO))
      ecodbg();
  }
  // 11. Redirection.
  // A target that cannot be opened raises error 66, yet the command still
  // runs with its output on the old unit: the error bit is held aside while
  // it runs (argument evaluation gives up while it is set) and kept for the
  // next turn.
  int32_t rerr = 0;
  if (n >= 1 && (code & 0x2000)) {
    const int32_t err0 = state & ST_ERROR;
    code = Redrct(code);
    if (!err0 && code >= 0) rerr = state & ST_ERROR;
  }
  // 12, 13.
  if (code != 32) hstrst();
  if (n >= 1) {
    state &= ~rerr;
    const int16_t lev = maclev;
    fcserved = false;
    cmdguard(DOCMND, code);
    // Anything but a "}" or a command a fast form served may have written
    // a file (the running macro's own file included).
    if (!fcserved && code != OP_RBRACE) fcslow++;
    if ((code == CM_UNKNOWN || code == -2) && maclev == lev) badcmd = true;
    state |= rerr;
  }
  return code;
}

int cmdguard(int (*run)(int), int code) {
  try {
    return run(code);
  } catch (const std::bad_alloc&) {
    error(0, 42);
  } catch (const std::exception& e) {
    if (logfp) logprintf("command %d: exception: %s\n", code, e.what());
    error(0, 71);
  }
  return -1;
}

void MAIN() {
  for (;;) mainturn();
}
