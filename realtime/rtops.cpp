// The op interpreter: the common prologue and epilogue of every op, the
// op preparation, the operand helpers, and the control and data ops built
// so far (flow, blocks, waits on time, set, add and the other scalar
// arithmetic, the clock).
#include "realtime/rtops.h"

#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "lang/names.h"
#include "ui/clocks.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
// A float rounded to the nearest 32-bit integer, clamped.
int32_t f2i(double v) {
  if (!(v == v)) return 0;
  v = std::nearbyint(v);
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

uint8_t* rtbyt(int32_t ref) {
  if (ref < 0) return static_cast<uint8_t*>(heldptr(ref));
  return ref > 0 ? membyt(ref) : nullptr;
}

int ebytes(const RtOpnd* o) { return (o->type & 63) >> 3; }

// Pointer to element k from the current element, null past the end.
uint8_t* elmptr(const RtOpnd* o, int k) {
  int eb = ebytes(o);
  if (!o || o->kind < 0 || o->kind == 20 || eb < 1) return nullptr;
  int64_t off = int64_t(o->offset) + int64_t(k) * eb;
  if (off < 0 || off + eb > o->size) return nullptr;
  uint8_t* b = rtbyt(o->base);
  return b ? b + off : nullptr;
}

int32_t valint(const RtOpnd* o, const uint8_t* p) {
  switch (o->type) {
    case 8: return p[0];
    case 16: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 32: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case 96: {
      float f;
      std::memcpy(&f, p, 4);
      return f2i(f);
    }
    default: return getitm(p, o->type, 0);
  }
}

int32_t conval(const RtOpnd* o) {
  if (o->type == 96) {
    float f;
    std::memcpy(&f, &o->index, 4);
    return f2i(f);
  }
  return o->index;
}

void storeat(int32_t v, const RtOpnd* o, uint8_t* p) {
  switch (o->type) {
    case 8: p[0] = static_cast<uint8_t>(v); break;
    case 16: {
      int16_t s = static_cast<int16_t>(v);
      std::memcpy(p, &s, 2);
      break;
    }
    case 32: std::memcpy(p, &v, 4); break;
    case 96: {
      float f = static_cast<float>(v);
      std::memcpy(p, &f, 4);
      break;
    }
    default: break;
  }
}

RtOpnd* opnd(const RtOp* op, int k) { return k >= 1 && op->len >= k + 4 ? rtopnd(op->opnd[k - 1]) : nullptr; }
}  // namespace

int32_t opval(const RtOpnd* o) {
  if (!o) return 0;
  if (o->kind == -1) return conval(o);
  if (o->kind == 20) return f2i(getprm(o->index));
  const uint8_t* p = elmptr(o, 0);
  return p ? valint(o, p) : 0;
}

float opflt(const RtOpnd* o) {
  if (!o) return 0;
  if (o->kind == -1 && o->type == 96) {
    float f;
    std::memcpy(&f, &o->index, 4);
    return f;
  }
  if (o->kind == 20) return getprm(o->index);
  if (o->type == 96) {
    const uint8_t* p = elmptr(o, 0);
    float f = 0;
    if (p) std::memcpy(&f, p, 4);
    return f;
  }
  return static_cast<float>(opval(o));
}

int32_t opelm(const RtOpnd* o, int k) {
  if (!o) return 0;
  if (o->kind == -1) return k == 0 ? conval(o) : 0;
  if (o->kind == 20) return f2i(getprm(o->index));
  const uint8_t* p = elmptr(o, k);
  return p ? valint(o, p) : 0;
}

int putval(int32_t v, RtOpnd* o) {
  if (!o || o->kind < 0 || o->kind == 20 || o->type < 8 || o->type > 96) return 0;
  uint8_t* p = elmptr(o, 0);
  if (p) storeat(v, o, p);
  return 0;
}

bool rtincr(RtOpnd* o, int32_t step, int flags) {
  if (!o || o->kind < 0 || o->kind == 20) return false;
  if (step == 0) step = ebytes(o);
  int64_t nw = int64_t(o->offset) + step;
  bool ok = true;
  if (nw >= 0 && nw < o->size) {
    o->offset = static_cast<uint32_t>(nw);
  } else if (flags & OF_WRAP) {
    o->offset = 0;
  } else {
    ok = false;
  }
  if (o->base > 0) o->cur = addref(o->base, o->offset);
  trcint(8, "INCR", 0, static_cast<int>(o->offset), step, o->size, flags, ok);
  return ok;
}

int32_t rtarg(const RtOp* op, int k, int32_t dflt) {
  const RtOpnd* o = opnd(op, k);
  return o ? opelm(o, 0) : dflt;
}

int32_t rtnelm(const RtOpnd* o) {
  if (!o) return 0;
  int eb = ebytes(o);
  return eb > 0 ? o->size / eb : 0;
}

int rd_err(RtTask* t) {
  // The checks by op belong with the ops they guard; each counts the op.
  (void)t;
  rts.nchk++;
  return 0;
}

void rtcine() {}

void rtfclose() {}

// ---- Preparation -----------------------------------------------------------------

namespace {
// A copy of a text into a free string slot: its index, or -1.
int strslot(const char* text, int len) {
  if (len < 1) return -1;
  for (int i = RTSLOTS - 1; i >= 0; i--) {
    if (rts.str[i]) continue;
    char* s = static_cast<char*>(xalloc(static_cast<size_t>(len) + 1));
    if (!s) return -1;
    std::memcpy(s, text, static_cast<size_t>(len));
    s[len] = 0;
    rts.str[i] = s;
    return i;
  }
  return -1;
}

// The text of an op's text operand (a string variable's current element
// on), at most max - 1 characters; its length.
int optext(const RtOp* op, int k, char* buf, int max) {
  const RtOpnd* o = opnd(op, k);
  buf[0] = 0;
  if (!o || o->kind < 0 || o->kind == 20 || (op->flg & OF_LIST)) return 0;
  const uint8_t* p = elmptr(o, 0);
  if (!p) return 0;
  int n = 0;
  int64_t left = int64_t(o->size) - o->offset;
  while (n < max - 1 && n < left && p[n]) {
    buf[n] = static_cast<char>(p[n]);
    n++;
  }
  buf[n] = 0;
  return n;
}

void textprep(RtTask* t, RtOp* op) {
  char text[512];
  int len = 0;
  int opc = op->opc;
  if (opc == R_CLOCK) {
    int32_t v = rtarg(op, 2, 0);
    len = std::snprintf(text, sizeof text, "%2d:%02d", v / 60, v % 60);
  } else if (opc == R_NUMBER) {
    len = std::snprintf(text, sizeof text, "%d", rtarg(op, 2, 0));
  } else {
    len = optext(op, opc == R_SOUND ? 1 : 2, text, sizeof text);
    if (rtnops(op) == 4 && !(op->flg & OF_LIST) && opc != R_FOPEN) {
      int32_t l4 = rtarg(op, 4, 0);
      if (l4 >= 1 && l4 < len) len = l4;
    }
  }
  if (len < 0) len = 0;
  t->slot[2] = static_cast<int16_t>(strslot(text, len));
  if (opc == R_FOPEN) {
    t->slot[0] = t->slot[1] = -1;
  } else if (opc == R_SOUND) {
    t->slot[0] = static_cast<int16_t>(len);
  } else {
    int32_t l4 = rtarg(op, 4, 0);
    if (l4 >= 1 && l4 <= len) len = l4;
    t->slot[0] = static_cast<int16_t>(len);
    t->slot[1] = static_cast<int16_t>((rtarg(op, 3, 0) << 8) | (l4 & 0xFF));
  }
}

bool isif(int opc) {
  return opc == R_IFEQ || opc == R_IFGT || opc == R_IFLT || opc == R_IFAND || opc == R_IFGE ||
         opc == R_IFLE;
}

// Skips from the task's next op past the matching r_else or r_endif.
void rtskip(RtTask* t) {
  RtRpt* b = rtrpt(t->block);
  int depth = 1;
  while (depth > 0) {
    RtOp* p = rtop(t->next);
    if (!p || p->opc == 0) break;
    if (b) b->cdown--;
    int opc = p->opc;
    RtOp* nx = rtnext(p);
    if ((opc == R_REPEAT || opc == R_FORK) && rtnops(p) >= 5)
      nx = reinterpret_cast<RtOp*>(reinterpret_cast<int32_t*>(p) + p->opnd[4]);
    if (isif(opc)) depth++;
    else if (opc == R_ENDIF) depth--;
    else if (opc == R_ELSE && depth == 1) depth--;
    t->next = stkadr(nx);
  }
}
}  // namespace

int rtprep(RtTask* t, RtOp* op, uint32_t* due) {
  switch (op->opc) {
    case R_UWAIT:
      rts.flags |= RF_NOPUMP;
      if (trcmsk) rtwdump(1, 0);
      break;
    case R_AWAIT:
    case R_DWAIT: {
      int32_t v = rtarg(op, 2, 0) % 32768;
      if (op->opc == R_DWAIT && v == 0) v = 32767;
      t->slot[0] = static_cast<int16_t>(-v - 1);
      t->slot[2] = static_cast<int16_t>(rtarg(op, op->opc == R_AWAIT ? 3 : 5, 0));
      t->slot[3] = static_cast<int16_t>(rtarg(op, op->opc == R_AWAIT ? 4 : 3, 1));
      break;
    }
    case R_LUT: case R_MLUT: case R_RWAIT: case R_SWAP:
      if (*due > static_cast<uint32_t>(rts.lead)) *due -= static_cast<uint32_t>(rts.lead);
      break;
    case R_EDRAW: case R_ADRAW: case R_EFILL: case R_AFILL: {
      const RtOpnd* o = opnd(op, 2);
      int32_t x0 = opelm(o, 0), y0 = opelm(o, 1), x1 = opelm(o, 2), y1 = opelm(o, 3);
      t->slot[0] = static_cast<int16_t>(x0 + ((x1 - x0) >> 1));
      t->slot[1] = static_cast<int16_t>(y0 + ((y1 - y0) >> 1));
      t->slot[2] = static_cast<int16_t>(x1 - x0);
      t->slot[3] = static_cast<int16_t>(y1 - y0);
      break;
    }
    case R_BMOVE: {
      int32_t a = rtarg(op, 3, 0), b = rtarg(op, 4, 0);
      std::memcpy(&t->slot[0], &a, 4);
      std::memcpy(&t->slot[2], &b, 4);
      break;
    }
    case R_BPUT: case R_BSET: t->slot[0] = static_cast<int16_t>(rtarg(op, 3, 0)); break;
    case R_FREAD: case R_FWRITE: case R_FWAIT: case R_FCLOSE: t->slot[0] = t->slot[1] = -1; break;
    case R_GETXY:
      t->slot[0] = static_cast<int16_t>(rtarg(op, 2, 1));
      if (t->slot[0]) {
        rts.flags |= RF_NOPUMP;
        if (trcmsk) rtwdump(1, 0);
      }
      break;
    case R_TWAIT: {
      uint32_t ms = tickms(0);
      std::memcpy(&t->slot[0], &ms, 4);
      t->slot[2] = static_cast<int16_t>(rtarg(op, 2, 0));
      break;
    }
    case R_ENDIF: case R_CASE: case R_DEFAULT: return 1;
    case R_ELSE: rtskip(t); return 1;
    case R_SOUND:
      if (rtnops(op) >= 2) textprep(t, op);
      else t->slot[2] = -1;
      break;
    case R_PWAIT:
      t->slot[0] = static_cast<int16_t>(-rtarg(op, 2, 0) - 1);
      t->slot[2] = static_cast<int16_t>(rtarg(op, 3, 0));
      t->slot[3] = static_cast<int16_t>(rtarg(op, 4, 1));
      break;
    case R_ABREAD:
      t->slot[0] = -1;
      *due -= 10000;
      break;
    case R_VWAIT:
      if (rtnops(op) >= 2) {
        t->slot[1] = static_cast<int16_t>(rtarg(op, 2, 0));
        t->slot[0] = static_cast<int16_t>(rtarg(op, 3, 0));
      } else {
        t->slot[0] = -1;
      }
      break;
    case R_WINDOW: t->slot[0] = static_cast<int16_t>(rtarg(op, 2, -1)); break;
    case R_FLICKER: case R_CINE: t->slot[0] = 0; break;
    case R_TEXT: case R_WORD: case R_NUMBER: case R_FOPEN: case R_CLOCK: textprep(t, op); break;
    default: break;
  }
  return 0;
}

// ---- The interpreter ---------------------------------------------------------------

namespace {
void waitcancel() {
  for (int32_t a = rts.head; a; a = rttask(a)->rnext) {
    RtTask* o = rttask(a);
    if (o->opcode == R_UWAIT || o->opcode == R_AWAIT || o->opcode == R_DWAIT || o->opcode == R_TWAIT) {
      o->opcode = R_ABANDON;
      if (RtRpt* b = rtrpt(o->block)) {
        b->count = 0;
        b->cdown = 0;
      }
    }
  }
}

void rtarith(int opc, const RtOp* op) {
  RtOpnd* a = opnd(op, 1);
  RtOpnd* b = opnd(op, 2);
  RtOpnd* d = op->len >= 7 && op->opnd[2] ? rtopnd(op->opnd[2]) : a;
  int32_t x = opval(a), y = opval(b), r = 0;
  uint32_t ux = static_cast<uint32_t>(x), uy = static_cast<uint32_t>(y);
  switch (opc) {
    case R_ADD: r = static_cast<int32_t>(ux + uy); break;
    case R_SUB: r = static_cast<int32_t>(ux - uy); break;
    case R_MULT: r = static_cast<int32_t>(ux * uy); break;
    case R_DIV: r = (y == 0 || (x == INT32_MIN && y == -1)) ? 0 : x / y; break;
    case R_AND: r = x & y; break;
    case R_OR: r = x | y; break;
    default: break;
  }
  putval(r, d);
}
}  // namespace

int dortime(RtTask* t) {
  RtOp* op = rtop(t->cur);
  if (!op) return 0;
  int opc = t->opcode;
  if (opc == R_ABANDON) {
    nxtop(t);
    return 0;
  }
  const bool notr = opc >= 1 && opc <= RTNOPS && (rtinfo[opc] & 0x80);
  if ((rts.flags & RF_DORT) && !notr)
    jprintf(dbglun, "DoRT: %d %ld %ld\n", opc, static_cast<long>(t->due), static_cast<long>(rts.now));
  if (opc > 6)
    trclng(8, "Dortime", 0, t->seq, opc, static_cast<int32_t>(t->due), static_cast<int32_t>(rts.now),
           op->flg);
  if (op->flg & OF_HOLD) {
    uint32_t limit = rts.now + rtdura(opc);
    for (int32_t a = rts.head; a; a = rttask(a)->rnext) {
      RtTask* o = rttask(a);
      if (o != t && !o->hold && o->due <= limit) return 0;
    }
  } else if ((rts.flags & RF_LATE) && opc != R_UWAIT) {
    int32_t late = static_cast<int32_t>(rts.now - t->due);
    if (late > rts.latelim) rtlog(static_cast<uint32_t>(-late), op, -1, t->result);
  }
  if (op->flg & OF_BUSY) rts.now = rtspin(t->exact);
  const bool logged = op->flg & OF_LOG;
  if (jdebug >= 2 && !notr) {
    logprintf("rtop %3d %10d\n", opc, static_cast<int>(rts.now));
    if (logfp) std::fflush(logfp);
  }
  switch (opc) {
    case R_QUIT:
      trcint(32, "quit", 0, t->seq, 0, 0, 0, 0);
      rts.flags = 0;
      state |= ST_STOP;
      t->opcode = R_ABANDON;
      waitcancel();
      break;
    case R_PAUSE:
      state |= ST_STOP;
      rts.flags |= RF_PAUSED;
      t->opcode = R_ABANDON;
      break;
    case R_RESET:
    case R_SRESET:
      rts.lst.origin = rts.now;
      setdue(t, rts.now);
      if (rts.reset1 == 0) rts.reset1 = rts.now;
      break;
    case R_REPEAT:
    case R_FORK: {
      RtTask* sub = rttask(op->opnd[2]);
      RtRpt* b = sub ? rtrpt(sub->block) : nullptr;
      if (!b || b->count < 1 || !sub->inrun) break;
      if ((rts.flags & RF_FIFTHS) && !(b->flags & 0x20) && !(b->flags & 0x8000)) {
        b->interval /= 5;
        b->flags |= 0x8000;  // the interval is in fifths already
      }
      b->start = (rts.flags & RF_FIFTHS) ? rts.now * 5 - rts.lst.origin : rts.now - rts.lst.origin;
      setdue(sub, 0);
      nxtop(sub);
      trcint(8, " repeat", 0, t->seq, b->count, b->interval, b->flags, 0);
      if (b->flags & 3) break;
      rthold(t);
      if (op->flg & OF_ADV) rtincr(opnd(op, 1), op->extra, op->flg);
      return 0;
    }
    case R_END:
      trcint(8, " END ", 0, t->seq, 0, 0, 0, 0);
      if ((op->flg & OF_LIST)) {
        if (RtRpt* b = rtrpt(t->block)) b->cdown = 0;
      }
      break;
    case R_ADD: case R_SUB: case R_MULT: case R_DIV: case R_AND: case R_OR:
      rtarith(opc, op);
      break;
    case R_NOWAIT: waitcancel(); break;
    case R_SET: {
      int32_t v = opval(opnd(op, 1));
      RtOpnd* d = opnd(op, 2);
      int32_t n = rtarg(op, 3, 1);
      if (n >= 2 && d) {
        int64_t left = rtnelm(d) - int64_t(d->offset) / std::max(1, ebytes(d));
        if (n > left) n = static_cast<int32_t>(left);
        for (int32_t i = 0; i < n; i++)
          if (uint8_t* p = elmptr(d, i)) storeat(v, d, p);
      } else {
        putval(v, d);
      }
      break;
    }
    case R_PUT:
      putval(opval(opnd(op, 2)), opnd(op, 1));
      trcint(8, " put", 0, t->seq, 0, 0, 0, 0);
      break;
    case R_LOGVAL: t->result = static_cast<int16_t>(rtarg(op, 1, 0) & 0x7FFF); break;
    case R_GTIME: putval(static_cast<int32_t>(rtclock()), opnd(op, 1)); break;
    case R_XOR: putval(rtarg(op, 1, 0) ^ rtarg(op, 2, 0), opnd(op, 1)); break;
    case R_LOCK:
      if (jdebug) logprintf("R_LOCK %d\n", rtarg(op, 1, 1));
      break;
    default:
      // r_wait, r_synch and the ops whose work is done when they are
      // prepared; the device, drawing and file ops are not built yet.
      break;
  }
  // Epilogue.
  if (jdebug >= 2 && notr) logprintf("rtwt %3d %10d\n", opc, static_cast<int>(rts.now));
  if (op->flg & OF_ADV) rtincr(opnd(op, 1), op->extra, op->flg);
  if (logged || (opc == R_LOGVAL)) rtlog(rts.now, op, 1, t->result);
  nxtop(t);
  RtOp* nx = rtop(t->cur);
  if (t->inrun && !t->hold && nx && nx != op && (nx->flg & OF_CHAIN) && t->opcode != 0 &&
      !(state & (ST_ERROR | ST_INTR | ST_STOP)))
    return dortime(t);
  return 1;
}
