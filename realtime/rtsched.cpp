// The scheduler of real-time runs: set-up, the run loop, due times, block
// tasks, the run log, pause, resume and the clean-up.
#include "realtime/rtsched.h"

#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/units.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/writers.h"
#include "lang/help.h"
#include "lang/mainloop.h"
#include "lang/parse.h"
#include "realtime/rtdisp.h"
#include "realtime/rtio.h"
#include "realtime/rtops.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/platform/clock.h"
#include "ui/screen.h"
#include "ui/sysserv.h"
#include "ui/window.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <sys/resource.h>

RtState rts;

int16_t priority;

namespace {
// The watched word: a variable element named by argument 6.
uint8_t* watchp = nullptr;
int watchn = 0;
uint8_t watch0[4];
uint32_t traptime = 0;
bool watched = false;

uint32_t starttick = 0;  // clock at the start of this call of the command

// Scheduling class saved while a run raises it.
bool raised = false;
int savpolicy = 0;
sched_param savparam{};
int savnice = 0;
bool niced = false;

int32_t opndval(int32_t ref) { return ref ? opval(rtopnd(ref)) : 0; }

void linktail(RtTask* t, int32_t a) {
  t->prev = rts.tail;
  t->rnext = 0;
  if (rts.tail)
    rttask(rts.tail)->rnext = a;
  else
    rts.head = a;
  rts.tail = a;
  t->inrun = 1;
}

void unlink(RtTask* t) {
  if (t->prev)
    rttask(t->prev)->rnext = t->rnext;
  else
    rts.head = t->rnext;
  if (t->rnext)
    rttask(t->rnext)->prev = t->prev;
  else
    rts.tail = t->prev;
  t->inrun = 0;
  // rnext is kept: the run loop takes the successor after the call returns.
}

void tohead(RtTask* t, int32_t a) {
  if (rts.head == a) return;
  unlink(t);
  t->prev = 0;
  t->rnext = rts.head;
  if (rts.head) rttask(rts.head)->prev = a;
  rts.head = a;
  if (!rts.tail) rts.tail = a;
  t->inrun = 1;
}

int32_t adrof(const void* p) { return stkadr(p); }

void raise_priority() {
  raised = niced = false;
  if (priority <= 0) return;
  savpolicy = sched_getscheduler(0);
  sched_getparam(0, &savparam);
  sched_param sp{};
  sp.sched_priority = sched_get_priority_min(SCHED_FIFO) + 1;
  if (sched_setscheduler(0, SCHED_FIFO, &sp) == 0) {
    raised = true;
    return;
  }
  errno = 0;
  savnice = getpriority(PRIO_PROCESS, 0);
  if (errno == 0 && setpriority(PRIO_PROCESS, 0, savnice - 10) == 0) niced = true;
}

void restore_priority() {
  if (raised) sched_setscheduler(0, savpolicy, &savparam);
  if (niced) setpriority(PRIO_PROCESS, 0, savnice);
  if (jdebug && (raised || niced))
    logprintf(" endReal %oo %oo  Priority %d: %d (%d -> %d set %d): (nml=%d,high=%d,RT=%d)\n",
              static_cast<unsigned>(state), static_cast<unsigned>(scrflags), priority,
              sched_getscheduler(0), savpolicy, raised ? SCHED_FIFO : 0, raised || niced ? 1 : 0, 32,
              128, 256);
  raised = niced = false;
}
}  // namespace

void setdue(RtTask* t, uint32_t due) {
  t->hold = 0;
  t->due = due;
}

void rthold(RtTask* t) {
  t->hold = 1;
  t->due = RT_NEVER;  // shown in the listings; the hold is what counts
}

uint32_t rtspin(uint32_t until) {
  uint32_t now = rtclock();
  if (clock_virtual()) {
    while (static_cast<int32_t>(until - now) > 0) {
      clock_sleep_ns(uint64_t(until - now) * 20000ull);
      now = rtclock();
    }
    return now;
  }
  while (static_cast<int32_t>(until - now) > 0) now = rtclock();
  return now;
}

int32_t newlst() {
  int32_t a = 0;
  if (getstk(&a, static_cast<int32_t>(sizeof(RtTask) / 4 + 1), 4, 1, 0) < 1 || a <= 0) return 0;
  uint32_t* p = wordp(a);
  std::memset(p, 0, sizeof(RtTask) + 4);
  p[0] = static_cast<uint32_t>(a);
  int32_t ta = a + 1;
  RtTask* t = rttask(ta);
  t->list = 1;
  t->seq = static_cast<int16_t>(++rts.seqctr);
  // Appended to the chain of all tasks.
  if (!rts.chain) {
    rts.chain = ta;
  } else {
    int32_t x = rts.chain;
    while (rttask(x)->chain) x = rttask(x)->chain;
    rttask(x)->chain = ta;
  }
  return ta;
}

// ---- Windows -----------------------------------------------------------------

namespace {
int32_t winsize[2][2];  // width and height of real-time windows 1 and 2
}  // namespace

int rtwin(int n) {
  int32_t rect[4];
  int type = 256, flags = 0x70E0;
  if (n < 1) {
    // The default window: over the command window's rectangle, taken as
    // real-time window 1.
    Wport* w = wport(0);
    if (!w) return 0;
    std::memcpy(rect, w->rect, sizeof rect);
    type = 4;
    flags = 8;
    n = 1;
  } else {
    if (n > 2) return 0;
    int32_t* rr = dvrect[4 + n];
    if (rr[2] <= rr[0] && rr[3] <= rr[1]) std::memcpy(rr, dvrect[n], sizeof dvrect[n]);
    if (rr[2] <= rr[0] || rr[3] <= rr[1]) return 0;
    // Screen rectangles hold top, left, bottom, right.
    rect[0] = rr[1];
    rect[1] = rr[0];
    rect[2] = rr[3];
    rect[3] = rr[2];
  }
  if (jdebug)
    logprintf("rtwin(%d) %d,%d->%d,%d  %d %xh\n", n, rect[0], rect[1], rect[2], rect[3], n, 0u);
  char name[16];
  std::snprintf(name, sizeof name, "REALTIME %d", n);
  const int slot = makwin(-1, type, flags, 0, name, rect, 1, 0);
  if (slot < 0) return 0;
  rtscreen(slot);
  rts.winid[n - 1] = static_cast<int16_t>(slot + 1);
  winsize[n - 1][0] = rect[2] - rect[0] + 1;
  winsize[n - 1][1] = rect[3] - rect[1] + 1;
  setrtwin(nullptr, n);
  return n;
}

int setrtwin(RtTask* t, int n) {
  if (n < 1 || n > 2 || !rts.winid[n - 1]) return 0;
  int32_t w = winsize[n - 1][0], h = winsize[n - 1][1];
  if (t) {
    t->window = static_cast<int16_t>(n);
    t->wport = rts.winid[n - 1];
    t->clip[0] = t->clip[1] = 0;
    t->clip[2] = w;
    t->clip[3] = h;
  } else {
    rts.defwin = static_cast<uint8_t>(n);
    rts.defport = rts.winid[n - 1];
    rts.clip[0] = rts.clip[1] = 0;
    rts.clip[2] = w;
    rts.clip[3] = h;
  }
  return rts.winid[n - 1];
}

void rtwdone(int n) {
  if (n < 1 || n > 2 || !rts.winid[n - 1]) return;
  // The window port goes with the run.
  deletewin(rts.winid[n - 1] - 1);
  rts.winid[n - 1] = 0;
}

// ---- The run log -------------------------------------------------------------

void rtlog(uint32_t time, const RtOp* op, int mode, int value) {
  if (rts.logleft <= 0 || !rts.lognext) return;
  RtLogEnt* e = rts.lognext;
  const uint32_t preset = e->time;
  if ((rts.flags & RF_ELAPSED) && mode == 1) time = rtclock() - preset;
  e->time = time;
  e->opc = op ? op->opc : 0;
  e->code = op ? op->code : 0;
  e->value = static_cast<uint16_t>(value);
  rts.lognext++;
  rts.logleft--;
  // Another entry written before the op's own (a lateness entry) hands the
  // op's preset on to the next entry, which the op's log write takes.
  if ((rts.flags & RF_ELAPSED) && mode != 1 && rts.logleft > 0) rts.lognext->time = preset;
}

namespace {
// Presets the next entry with the later of the due time and now.
void logpreset(uint32_t due) {
  if (rts.logleft > 0 && rts.lognext) rts.lognext->time = due > rts.now ? due : rts.now;
}
}  // namespace

// ---- Tasks ---------------------------------------------------------------------

int minint(RtTask* t) {
  RtRpt* b = rtrpt(t->block);
  if (!b) return 1;
  if (b->cdown-- > 0) return 0;
  if (--b->count <= 0) {
    b->count = 0;
    return 1;
  }
  int32_t iv = b->interval;
  if (b->flags & 0x20) {
    RtOpnd* o = rtopnd(b->interval);
    iv = o ? opval(o) : 0;
    if (o) rtincr(o, 4, 0);
    if (rts.flags & RF_FIFTHS) iv /= 5;
  }
  uint32_t rel = rts.now - rts.lst.origin;
  if (iv >= 1) {
    uint32_t base = b->start;
    if ((b->flags & 0x10) && rel > base) base = rel;
    b->start = base + static_cast<uint32_t>(iv);
  } else {
    b->start = rel;
  }
  setdue(t, b->start);
  b->cdown = 10000;
  return -1;
}

void endchk(RtTask* t, int go) {
  int32_t ta = adrof(t);
  unlink(t);
  if (!rts.head) {
    rts.flags = 0;
    state |= ST_STOP;
  }
  RtRpt* b = rtrpt(t->block);
  if (!b) return;
  if (!(b->flags & 2) && rts.lst.nblk > 0) {
    if (--rts.lst.nblk == 0) {
      RtTask* m = rttask(rts.lst.main);
      if (m && m->inrun && m->opcode == R_SYNCH) setdue(m, rts.now);
    }
  }
  // The parent goes on only when it waits on this very block.
  RtTask* p = rttask(b->parent);
  if (!p || !p->inrun || !p->hold) return;
  RtOp* pc = rtop(p->cur);
  if (!pc || (pc->opc != R_REPEAT && pc->opc != R_FORK) || pc->opnd[2] != ta) return;
  setdue(p, t->due);
  if (go) nxtop(p);
}

namespace {
// Starts the block of a REPEAT or FORK op that the parent task reaches.
void blkprep(RtTask* t, RtOp* op) {
  RtTask* sub = rttask(op->opnd[2]);
  RtRpt* b = sub ? rtrpt(sub->block) : nullptr;
  if (!b) return;
  b->count = op->opc == R_FORK ? 1 : opndval(op->opnd[0]);
  if (b->count > 0) {
    b->interval = (b->flags & 0x20) ? op->opnd[1] : opndval(op->opnd[1]);
    b->cdown = 20000;
    b->parent = adrof(t);
    sub->next = b->first;
    if (!sub->inrun) {
      linktail(sub, op->opnd[2]);
      rthold(sub);
      if (!(b->flags & 2)) rts.lst.nblk++;
    }
    int w = (b->flags & 4) && rts.both ? 2 : rts.defwin;
    if (!sub->window) setrtwin(sub, w);
  }
  t->next = b->after;
}

bool optimed(int opc) { return opc != R_REPEAT && opc != R_FORK && opc != R_QUIT && opc != R_UWAIT; }
}  // namespace

void nxtop(RtTask* t) {
  RtRpt* b = rtrpt(t->block);
  RtOp* prevop = rtop(t->cur);
  // Op-timing mode: the same op again until its batch is done.
  if ((rts.flags & RF_OPTIME) && prevop && optimed(prevop->opc) && prevop->opc != R_ABANDON) {
    int was = rts.opctr--;
    if (was > 1) {
      t->next = t->cur;
      if (b) b->cdown++;
      else rts.lst.nops++;
    } else if (was == 1 && rts.logleft > 0 && rts.lognext) {
      rtlog(rtclock() - rts.lognext->time, prevop, 0, t->result);
    }
  }
  // 1. Advance.
  bool done = false;
  if (b) {
    int r = minint(t);
    if (r == 1)
      done = true;
    else if (r == -1)
      t->next = b->first;
  } else {
    if (rts.lst.nops == 0)
      done = true;
    else
      rts.lst.nops--;
  }
  RtOp* op = rtop(t->next);
  if (done || !op || op->opc == 0) {
    t->opcode = 0;
    endchk(t, 1);
    return;
  }
  // 2. The new current op.
  t->cur = t->next;
  t->next = adrof(rtnext(op));
  t->opcode = op->opc;
  uint32_t due = static_cast<uint32_t>(op->time);
  int32_t w2 = 0;  // r_wait's operand 2
  if (op->opc == R_WAIT) {
    due = static_cast<uint32_t>(opndval(op->opnd[0]));
    w2 = rtnops(op) >= 2 ? opndval(op->opnd[1]) : 0;
  }
  // 3. Preparation by op; some ops are not run and the task moves on.
  if (rtprep(t, op, &due)) {
    nxtop(t);
    return;
  }
  // 4. Due time.
  if ((op->flg & OF_REL) || w2 == 1) {
    due += rts.now;
  } else {
    if (b && (op->opc != R_WAIT || w2 == 2)) due += b->start;
    due += rts.lst.origin;
  }
  bool wait = false;  // r_synch waits for the running blocks to end
  if (op->opc == R_SYNCH) {
    due = 0;
    wait = !b && rts.lst.nblk > 0;
  }
  if (!wait && (rts.flags & 0x1FF)) {
    if (rts.flags & RF_FIFTHS) due /= 5;
    if ((rts.flags & RF_OPTIME) && optimed(op->opc) && rts.opctr <= 0) {
      rts.opctr = rts.oprep;
      op->flg &= static_cast<uint8_t>(~OF_LOG);
      logpreset(due);
    }
    if (rts.logleft > 0) {
      if (rts.flags & RF_ELAPSED) logpreset(due);
      if (rts.flags & RF_LOGALL) op->flg |= OF_LOG;
    }
    if ((rts.flags & RF_NOTIME) && op->opc != R_SYNCH) due = 0;
    if (rts.flags & RF_STEP) waitky();
    if ((rts.flags & RF_CHECK) && rd_err(t) != 0) due = 0;
  }
  int32_t ta = adrof(t);
  if (!wait && (op->flg & OF_BUSY)) {
    t->exact = due;
    due = due - 35;
    tohead(t, ta);
    for (int32_t a = t->rnext; a; a = rttask(a)->rnext) {
      RtTask* o = rttask(a);
      RtOp* oc = rtop(o->cur);
      if (o->hold || !oc) continue;
      if (o->due <= due && o->due + rtdura(oc->opc) > due) o->due = due + 1;
    }
  } else if (!wait && rtdura(op->opc) >= 35) {
    uint32_t dur = rtdura(op->opc);
    for (int32_t a = rts.head; a; a = rttask(a)->rnext) {
      RtTask* o = rttask(a);
      RtOp* oc = rtop(o->cur);
      if (a == ta) continue;
      if (!oc || !(oc->flg & OF_BUSY)) break;
      if (o->due >= due && o->due <= due + dur) due = o->due + 1;
    }
  }
  // 5. A due time never moves backwards.
  t->result = 0;
  if (op->opc == R_REPEAT || op->opc == R_FORK) blkprep(t, op);
  if (wait)
    rthold(t);
  else if (t->hold || due > t->due)
    setdue(t, due);
}

// ---- Set-up ----------------------------------------------------------------------

namespace {
// The log variable: its record and the data it covers.
RtLogEnt* logbase = nullptr;  // entry 0 of the run log
int32_t logsym = 0, logdata = 0;  // the log variable's symbol entry and data

// Whether the variables of a loaded program still hold the data it was
// compiled with (a paused program outlives the command that made it).
bool rtvalid() {
  auto same = [](int32_t sym, int32_t data) {
    if (sym <= 0) return true;
    const SymEnt* s = symptr(sym);
    return s && s->flags != 0 && s->data == data;
  };
  for (int i = 0; i < rts.nvars; i++) {
    const RtOpnd* e = rtopnd(rts.vartab + 1 + i * RTVARW);
    if ((e->kind & K_DIMS) && !(e->kind & K_NOSTK) && !same(e->index, e->data)) return false;
  }
  return !rts.logrec || same(logsym, logdata);
}

int logsetup(int32_t handle, PtrRec* r) {
  if (!r) return -1;
  int eb = r->Wbyts;
  if (eb < 1 || eb > 8) return -1;
  int per = 8 / eb;
  if (r->Tot == 0) {
    // An empty log is made to hold 1000 entries: a matrix, image or solid
    // as 1000 rows of one entry, an array as one row. The record is then
    // prepared again, so that it addresses the new storage.
    int32_t n = 1000 * per;
    PtrRec rows{};
    const uint32_t dims[3] = {static_cast<uint32_t>(per), 1000, 1};
    for (int q = 0; q < 3; q++) rows.Offs[3 + q] = rows.Datdims[q] = dims[q];
    const bool shaped = r->Flg & (K_MATRIX | K_IMAGE | K_SOLID);
    if (asnvrb(r, n, shaped ? &rows : nullptr, 0) < 0 || r->Tot == 0) return -1;
    int32_t cnt = 0, part = 0, tot = 0, ws = 0;
    gtvarb(r, &cnt, &part, &tot, &ws, 0);
    if (tot < n) return -1;
  }
  savoff(r);
  uint8_t* d = dptr(r);
  if (!d) return -1;
  logbase = static_cast<RtLogEnt*>(static_cast<void*>(d));
  logsym = r->Idx;
  logdata = static_cast<int32_t>(r->Addr);
  int64_t elems = r->Tot;
  if (uint8_t* d0 = dat0(r); d0 && d >= d0) elems -= (d - d0) / eb;
  if ((r->Flg & K_FILE) && r->Bufsiz > 0) elems = std::min<int64_t>(elems, r->Bufsiz);
  if (elems < 0) elems = 0;
  rts.logrec = handle;
  rts.logall = static_cast<int32_t>(std::min<int64_t>(elems / per, 0x7FFFFFFF));
  rts.logleft = rts.logall - 1;
  if (rts.logleft > 0) {
    RtLogEnt* e = static_cast<RtLogEnt*>(static_cast<void*>(d));
    std::memset(e, 0, sizeof *e);
    rts.lognext = e + 1;
  } else {
    rts.logleft = 0;
    rts.lognext = nullptr;
  }
  return 0;
}

RtLogEnt* log0() { return rts.logrec ? logbase : nullptr; }

// Whether the last argument is the word "{" (the script follows inline).
bool inlinearg() {
  int na = nargs();
  if (na < 2) return false;
  int32_t h = 0;
  int w = argidx(na, &h);
  return w >= 0 && w < NWORDS && wrdtab[w].type == WT_CMD && wrdtab[w].v1 == OP_LBRACE;
}
}  // namespace

int runlog() {
  // A paused program that a new one replaces lets its windows go.
  if (rts.winid[0] || rts.winid[1]) {
    rtdfree();
    rtscrfree();
    rtwdone(1);
    rtwdone(2);
  }
  rtfree();
  std::memset(&rts, 0, sizeof rts);
  rtioini();
  rts.latelim = 10;
  rts.oprep = 1000;
  // A "{" that is the last argument starts the inline script, wherever it
  // stands: it is never the log. A head refused before the script is read
  // drops the script's lines, so that none of them runs at the prompt.
  const bool inlin = inlinearg();
  auto refuse = [inlin](int arg) {
    error(arg, 170);
    if (inlin) rtdrop(inpunt());
    return -1;
  };
  // The run log.
  int32_t loghdl = 0;
  PtrRec* logr = nullptr;
  if (nargs() >= (inlin ? 4 : 3)) {
    int32_t h = 0;
    int k = argtyp(3, &h);
    if (k) {
      int32_t cnt = 0;
      PtrRec* r = (k & (K_ARRAY | K_MATRIX | K_IMAGE | K_SOLID)) ? argary(3, &cnt) : nullptr;
      if (!r || r->Wbyts < 1 || (k & K_VALUE)) return refuse(3);
      loghdl = h;
      logr = r;
    }
  }
  rts.flags = static_cast<uint16_t>(lngarg(4, 0));
  if (rts.flags & RF_OPTIME)
    rts.oprep = lngarg(5, 1000);
  else
    rts.latelim = lngarg(5, 10);
  // The script.
  int32_t h2 = 0;
  int k2 = nargs() >= 2 ? argtyp(2, &h2) : 0;
  int rc;
  if (inlin) {
    rc = rdrtime(inpunt(), "realtime", 1);
  } else if (k2 & K_STRING) {
    char name[300] = {0};
    float v = 0;
    int len = 0;
    getarg(2, &v, name, sizeof name, &len);
    int u = len > 0 ? openf(name, 33, 0) : -1;
    if (u < 0) {
      state &= ~ST_ERROR;
      error(2, 46);
      return -1;
    }
    rc = rdrtime(u, name, 0);
    closef(u, 0);
  } else if (k2 == 0) {
    rc = rdrtime(inpunt(), "realtime", 0);
  } else {
    error(2, 170);
    return -1;
  }
  if (rc < 0 || (state & 0x8180)) {
    rtfree();
    return -1;
  }
  if (loghdl && logsetup(loghdl, logr) < 0) {
    rtfree();
    error(3, 170);
    return -1;
  }
  // The display.
  int win = 0;
  if ((rts.flags & RF_MAINWIN) && (scrflags & 0x40) && !(rts.flags & RF_DEFWIN)) {
    rts.defport = 3;  // the main window (2), drawn over screen 0
    rts.defwin = 1;
    rts.clip[0] = rts.clip[1] = 0;
    rts.clip[2] = dvrect[1][3] + 1;
    rts.clip[3] = dvrect[1][2] + 1;
    win = 1;
  } else {
    int w2 = 0;
    if ((rts.flags & RF_WIN2) && !(rts.flags & RF_DEFWIN)) w2 = rtwin(2);
    win = rtwin((rts.flags & RF_DEFWIN) ? 0 : 1);
    rts.both = win && w2;
    if (win) setrtwin(nullptr, win);
  }
  if (!win) {
    rtfree();
    return -1;
  }
  // The drawing mode of the run: bit 0x4000 selects the run's writers.
  rts.savgfl = gflags;
  gflags = static_cast<int16_t>(gflags | 0x4000);
  setpxf(gflags);
  initRT();
  rts.flags |= RF_LOADED;
  char topic[] = "operrs";
  int hk = hlpkey(9999, topic);
  rts.ophelp = static_cast<int16_t>(hk >= 0 ? hk + 1 : 0);  // the help key is -ophelp
  return rts.flags;
}

void rtfree() {
  for (int32_t a = rts.chain; a;) {
    RtTask* t = rttask(a);
    int32_t nx = t->chain;
    if (t->block) putstk(t->block - 1, 0, 0);
    putstk(a - 1, 0, 0);
    a = nx;
  }
  rts.chain = rts.head = rts.tail = 0;
  if (rts.lst.oplist) putstk(rts.lst.oplist - 1, 0, 0);
  rts.lst = RtList{};
  if (rts.vartab) putstk(rts.vartab, 0, 0);
  if (rts.contab) putstk(rts.contab, 0, 0);
  if (rts.filtab) {
    rtfclose();
    putstk(rts.filtab, 0, 0);
  }
  rts.vartab = rts.contab = rts.filtab = 0;
  rts.nvars = rts.ncons = 0;
  for (char*& s : rts.str) {
    xfree(s);
    s = nullptr;
  }
}

// ---- The run -------------------------------------------------------------------

namespace {
uint32_t mindue() {
  uint32_t m = cinedue();
  for (int32_t a = rts.head; a; a = rttask(a)->rnext) {
    RtTask* t = rttask(a);
    if (!t->hold && t->due < m) m = t->due;
  }
  return m;
}

void runloop() {
  const int32_t stopbits = ST_ERROR | ST_INTR | ST_STOP;
  while (!(state & stopbits)) {
    rts.now = rtclock();
    rtcine();
    bool ran = false;
    for (int32_t a = rts.head; a && !(state & stopbits);) {
      RtTask* t = rttask(a);
      if (!t->hold && rts.now >= t->due) {
        if (dortime(t)) {
          rts.now = rtclock();
          ran = true;
        }
      }
      a = t->rnext;
    }
    if (watched && std::memcmp(watchp, watch0, static_cast<size_t>(watchn)) != 0) {
      traptime = rts.now;
      watched = false;
    }
    if (inpend(0)) {
      if (jdebug > 1) logprintf("anyevent: %d %d %d %oo %ld\n", 0, 0, 0, rts.flags, static_cast<long>(rts.now));
      if (!(rts.flags & RF_NOPUMP)) chkio(0);
    }
    // On the virtual clock the run is instant: the clock moves straight to
    // the next due time.
    if (!ran && clock_virtual() && !(state & stopbits)) {
      uint32_t m = mindue();
      rtspin(m != 0xFFFFFFFFu && m > rts.now ? m : rts.now + 1);
    } else if (!ran && raised) {
      // A real-time class that spins without a break is stopped by the
      // kernel for a part of every second (its real-time throttling): with
      // the next op more than 600 microseconds away the loop sleeps until
      // 500 microseconds before it, and spins from there. Only keys and
      // clicks keep it awake: a window waiting for its repaint, which the
      // run does not serve, must not.
      uint32_t m = mindue();
      if (m != 0xFFFFFFFFu && static_cast<int32_t>(m - rts.now) > 30 && !inpend(1))
        clock_sleep_ns(uint64_t(m - rts.now - 25) * 20000ull);
    }
  }
}

void rtstart() {
  flushq();
  rtdflt();
  starttick = rtclock();
  chkio(0);
  scrflags = static_cast<int16_t>(scrflags | 0x200);
}

void rtafter(uint16_t flags0, bool watching) {
  restore_priority();
  if (flags0 & RF_TASKBAR) TaskBar(1);
  setres(1, 0);
  scrflags = static_cast<int16_t>(scrflags & ~0x200);
  if (rts.flags & RF_PAUSED) {
    // The windows stay; nothing outside the run draws into their memory
    // meanwhile (a window closed while paused leaves nothing behind).
    rtscrfree();
    avwtell();
    return;
  }
  rtioend();  // the background scan stops
  // The log is closed.
  RtLogEnt* e0 = log0();
  if (e0 && rts.logall > 1) {
    if ((flags0 & RF_ELAPSED) && rts.logleft > 0) {
      rts.lognext->time = rtclock() - starttick;
      rts.lognext->code = 0;
      rts.lognext->opc = 0;
      rts.lognext->value = 0;
      rts.lognext++;
      rts.logleft--;
    }
    int32_t used = rts.logall - 1 - rts.logleft;
    if (rts.logleft > 0) {
      rts.lognext->time = 0xFFFFFFFFu;
      rts.lognext->opc = 0;
      rts.lognext->code = 255;
      rts.lognext->value = 0;
      rts.lognext++;
      rts.logleft--;
    }
    if (used > 0) e0->time = static_cast<uint32_t>(used);
  }
  rtdfree();
  rtfree();
  gflags = static_cast<int16_t>(rts.savgfl);
  setpxf(gflags);
  rts.flags = 0;
  rtscrfree();
  rtwdone(1);
  rtwdone(2);
  // A movie recording that failed is told once the run is over.
  avwtell();
  if (watching) jprintf(lstlun, "memory trap at time %ld\n", static_cast<long>(traptime));
}

void rtrun(bool fresh, bool watching) {
  uint16_t flags0 = rts.flags;
  rtstart();
  raise_priority();
  if (rts.flags & RF_TASKBAR) TaskBar(0);
  if (fresh) {
    rts.now = rtclock();
    RtTask* m = rttask(rts.lst.main);
    if (m) {
      if (rts.defwin) setrtwin(m, rts.defwin);
      m->inrun = 1;
      nxtop(m);
      if (!rttask(m->block)) rts.lst.nops++;
    }
    if (trcmsk) rttdump(1);
  } else if (trcmsk) {
    rttdump(1);
  }
  runloop();
  rtafter(flags0, watching);
}
}  // namespace

int rtime() {
  setres(-1, 0);
  const int na = nargs();
  int32_t h2 = 0;
  int k2 = na >= 2 ? argtyp(2, &h2) : 0;
  bool resume = na <= 1 || (k2 & K_NUMBER);
  if (resume && !inlinearg()) {
    if (!(rts.flags & RF_LOADED)) return 0;
    const bool ok = rtvalid();
    if (!ok) rts.logrec = 0;  // its log is gone: nothing is written there
    if (na >= 2 && lngarg(2, 1) == 0) {
      // Dropped: the loop ends at once and the program is cleaned up.
      uint16_t f0 = rts.flags;
      rts.flags = 0;
      rtafter(f0, false);
      return 0;
    }
    if (!ok) {
      // A variable of the program was freed or remade while it was paused.
      uint16_t f0 = rts.flags;
      rts.flags = 0;
      rtafter(f0, false);
      error(1, 170);
      return 0;
    }
    rts.flags &= static_cast<uint16_t>(~RF_PAUSED);
    state &= ~ST_STOP;
    watched = false;
    rtrun(false, false);
    return 0;
  }
  // A variable as argument 6 names the word to watch.
  watched = false;
  watchp = nullptr;
  traptime = 0;
  int32_t h6 = 0;
  int k6 = na >= 6 ? argtyp(6, &h6) : 0;
  if ((k6 & 0x7D0) && h6 > 0 && ((k6 & K_NAMED) || !(k6 & K_VALUE))) {
    int32_t cnt = 0;
    PtrRec* r = argary(6, &cnt);
    int eb = r ? (r->Wsiz & 63) / 8 : 0;
    if (r && !(r->Flg & K_FILE) && eb >= 1 && eb <= 4) {
      watchp = dptr(r);
      watchn = eb;
    }
  }
  int restart = na >= 7 ? lngarg(7, 0) : 0;
  if (runlog() < 0) return 0;
  if (restart) initRT();
  bool watching = watchp != nullptr;
  if (watching) {
    std::memcpy(watch0, watchp, static_cast<size_t>(watchn));
    watched = true;
  }
  rtrun(true, watching);
  return 0;
}
