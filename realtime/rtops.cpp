// The op interpreter: the common prologue and epilogue of every op, the
// op preparation, the operand helpers, the pre-run operand check, and the
// control ops (flow, blocks, branches and their skip walk, switch and
// break, waits on time and on a variable); the data ops are in rtdata.cpp.
#include "realtime/rtops.h"

#include "realtime/rtdisp.h"
#include "realtime/rtio.h"

#include "core/element.h"
#include "ui/window.h"
#include "core/symbols.h"
#include "core/convert.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "compute/qarith.h"
#include "core/varbl.h"
#include "lang/help.h"
#include "lang/names.h"
#include "ui/clocks.h"
#include "ui/events.h"

#include <algorithm>
#include <cctype>
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

bool isdata(const RtOpnd* o) { return o && o->kind >= 0 && o->kind != 20 && rtebytes(o) > 0; }

uint8_t* atoff(const RtOpnd* o, int64_t off) {
  if (!isdata(o)) return nullptr;
  int eb = rtebytes(o);
  if (off < 0 || off + eb > o->size) return nullptr;
  uint8_t* b = rtbyt(o->base);
  return b ? b + off : nullptr;
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

RtOpnd* opnd(const RtOp* op, int k) { return rtopk(op, k); }
}  // namespace

namespace {
// The advance of operand 1 after an op that asks for it. An array stepped
// past its end without the wrap flag is spent (its offset at its end): the
// op's later stores are dropped rather than landing on its last element
// again, and its later reads give 0.
void advop(const RtOp* op) {
  if (rtnoadv(op)) return;
  RtOpnd* o = opnd(op, 1);
  if (rtincr(o, op->extra, op->flg) || (op->flg & OF_WRAP)) return;
  if (o && o->kind >= 0 && o->kind != 20 && !(o->kind & K_LIST)) rtsetoff(o, o->size);
}
}  // namespace

RtOpnd* rtopk(const RtOp* op, int k) {
  return op && k >= 1 && k <= RTMAXOPND && op->len >= k + 4 ? rtopnd(op->opnd[k - 1]) : nullptr;
}

uint8_t* elmptr(const RtOpnd* o, int k) {
  return o ? atoff(o, int64_t(o->offset) + int64_t(k) * rtebytes(o)) : nullptr;
}

uint8_t* baseptr(const RtOpnd* o, int k) { return o ? atoff(o, int64_t(k) * rtebytes(o)) : nullptr; }

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

double valflt(const RtOpnd* o, const uint8_t* p) {
  if (o->type == 96) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
  }
  return valint(o, p);
}

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

int32_t opbase(const RtOpnd* o, int k) {
  if (!o) return 0;
  if (o->kind < 0 || o->kind == 20) return opelm(o, k);
  const uint8_t* p = baseptr(o, k);
  return p ? valint(o, p) : 0;
}

float opelf(const RtOpnd* o, int k) {
  if (!o) return 0;
  if (o->kind < 0 || o->kind == 20) return k == 0 || o->kind == 20 ? opflt(o) : 0.0f;
  const uint8_t* p = elmptr(o, k);
  return p ? static_cast<float>(valflt(o, p)) : 0.0f;
}

int putval(int32_t v, RtOpnd* o) {
  if (!o || o->type < 8 || o->type > 96) return 0;
  if (uint8_t* p = elmptr(o, 0)) storeat(v, o, p);
  return 0;
}

int putelm(int32_t v, RtOpnd* o, int k) {
  if (!o) return 0;
  if (uint8_t* p = elmptr(o, k)) putitm(v, p, o->type, 0);
  return 0;
}

int64_t rtleft(const RtOpnd* o) {
  if (!isdata(o)) return 0;
  int64_t l = int64_t(o->size) - o->offset;
  return l > 0 ? l : 0;
}

void rtsetoff(RtOpnd* o, int64_t off) {
  if (!isdata(o)) return;
  o->offset = static_cast<uint32_t>(off);
  if (off >= 0 && off < o->size && o->base > 0) o->cur = addref(o->base, static_cast<uint32_t>(off));
}

int32_t rtlstn(const RtOpnd* o) {
  if (!o || o->kind < 0 || !(o->kind & K_LIST)) return 0;
  int32_t n = lstslots(nullptr, o->data);
  // The table's block may hold more words than the list has elements.
  if (const SymEnt* e = o->index > 0 ? symptr(o->index) : nullptr; e && e->data == o->data)
    n = static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(n), e->value));
  return n;
}

bool rtincr(RtOpnd* o, int32_t step, int flags) {
  if (!o || o->kind < 0 || o->kind == 20) return false;
  if (step == 0) step = rtebytes(o);
  // A list's offset numbers its elements: it moves one element on, within
  // the list's slots.
  const bool list = (o->kind & K_LIST) != 0;
  const int64_t end = list ? rtlstn(o) : o->size;
  if (list) step = 1;
  int64_t nw = int64_t(o->offset) + step;
  bool ok = true;
  if (nw >= 0 && nw < end) {
    o->offset = static_cast<uint32_t>(nw);
  } else if (flags & OF_WRAP) {
    o->offset = 0;
  } else {
    ok = false;
  }
  if (o->base > 0 && !list) o->cur = addref(o->base, o->offset);
  trcint(8, "INCR", 0, static_cast<int>(o->offset), step, o->size, flags, ok);
  return ok;
}

int Storetime(uint32_t time, RtOpnd* o, int flags) {
  if (!isdata(o)) return 0;
  putval(static_cast<int32_t>(time), o);
  if ((flags & OF_ADV) && int64_t(o->offset) + 4 < o->size) rtsetoff(o, int64_t(o->offset) + 4);
  trcint(8, "Storetime", 0, static_cast<int>(time), static_cast<int>(o->offset), flags, 0, 0);
  return 0;
}

int32_t rtarg(const RtOp* op, int k, int32_t dflt) {
  const RtOpnd* o = opnd(op, k);
  return o ? opelm(o, 0) : dflt;
}

float rtfarg(const RtOp* op, int k, float dflt) {
  const RtOpnd* o = opnd(op, k);
  return o ? opflt(o) : dflt;
}

int rtargs(RtTask* t, int k, int n) {
  if (n > 4) {
    error(55, 71);
    return 1;
  }
  const RtOpnd* o = opnd(rtop(t->cur), k);
  for (int i = 0; i < n; i++) t->slot[i] = static_cast<int16_t>(opelm(o, i));
  return 1;
}

int32_t rtmap(int32_t v, const int16_t p[6]) {
  int64_t r = int64_t(v) - p[0];
  if (p[1] != 0) r *= p[1];
  if (p[2] != 0) r /= p[2];
  r += p[3];
  if (p[5] > p[4]) r = std::clamp<int64_t>(r, p[4], p[5]);
  return static_cast<int32_t>(static_cast<uint32_t>(r));
}

int inrange(const int16_t pt[2], const int16_t rect[4]) {
  for (int ax = 0; ax < 2; ax++) {
    if (pt[ax] < rect[ax]) return -(ax + 1);
    if (pt[ax] > rect[ax + 2]) return ax + 1;
  }
  return 0;
}

int32_t rtnelm(const RtOpnd* o) {
  if (!o) return 0;
  if (o->kind < 0 || o->kind == 20) return 1;  // a constant entry has no size field
  int eb = rtebytes(o);
  return eb > 0 ? o->size / eb : 0;
}

// ---- The operand check -----------------------------------------------------------

void rtoperr(RtTask* t, const RtOp* op, int code) {
  long num = 0;
  for (const RtOp* p = rtop(rts.lst.oplist); p && p->opc != 0 && p != op; p = rtnext(const_cast<RtOp*>(p)))
    num++;
  jprintf(errlun, "RTIME error %3d: opcode %3d opnum %ld", code, op ? op->opc : 0, num);
  if (!(rts.ophelp > 0 && prthlp(-rts.ophelp, 0, code - 800) > 0)) jprintf(errlun, "\n");
  if (++rts.nerr >= 50) error(0, 179);
  if (t) t->opcode = R_ABANDON;
}

namespace {
// Whether a point lies on the screen of the run (the default window).
bool onscreen(int32_t x, int32_t y) {
  return x >= rts.clip[0] && x < rts.clip[2] && y >= rts.clip[1] && y < rts.clip[3];
}

// The rectangle (left, top, right, bottom) of an operand, moved by (dx, dy):
// 0 when both corners are on the screen, else 801 with its coordinates.
int rectchk(const RtOpnd* r, int32_t dx, int32_t dy) {
  int32_t c[4];
  for (int i = 0; i < 4; i++) c[i] = opelm(r, i) + (i & 1 ? dy : dx);
  if (onscreen(c[0], c[1]) && onscreen(c[2], c[3])) return 0;
  jprintf(errlun, "Coords: %4d %4d %4d %4d\n", c[0], c[1], c[2], c[3]);
  return 801;
}
}  // namespace

int rd_err(RtTask* t) {
  RtOp* op = rtop(t->cur);
  if (!op) return 0;
  rts.nchk++;
  int code = 0;
  const RtOpnd* o1 = opnd(op, 1);
  const RtOpnd* o2 = opnd(op, 2);
  switch (op->opc) {
    case R_AREAD:
    case R_DREAD: {
      int32_t n = rtarg(op, op->opc == R_AREAD ? 3 : 2, 0);
      if (op->flg & OF_ADV) n--;
      if (n < 1) code = 808;
      break;
    }
    case R_LUT: {
      int32_t start = rtarg(op, 2, 0), count = rtarg(op, 3, 0);
      if (start < 0 || count < 1 || int64_t(start) + count > 256) code = 807;
      break;
    }
    case R_BDRAW: case R_EDRAW: case R_ADRAW: case R_BFILL: case R_EFILL: case R_AFILL:
      code = rectchk(o2, 0, 0);
      break;
    case R_BMOVE: code = rectchk(o2, opelm(o1, 0), opelm(o1, 1)); break;
    case R_BPUT: code = rectchk(o2, opelm(o1, 0) - opelm(o2, 0), opelm(o1, 1) - opelm(o2, 1)); break;
    case R_GRAPH: case R_POINT:
      if (!onscreen(opelm(o1, 0), opelm(o1, 1))) code = 801;
      break;
    case R_MOVEPT:
      if (!onscreen(opelm(o1, 0) + opelm(o2, 0), opelm(o1, 1) + opelm(o2, 1))) code = 801;
      break;
    case R_TEXT: {
      int s = t->slot[2];
      if (t->slot[0] < 1 || s < 0 || s >= RTSLOTS || !rts.str[s]) code = 803;
      break;
    }
    case R_COPY: {
      // The two-operand form is a single store and has no count.
      if (rtnops(op) < 3) break;
      int32_t n = rtarg(op, 3, 0);
      if (n < 1 || n > 1000000 || !elmptr(o1, 0) || !elmptr(o2, 0)) code = 804;
      break;
    }
    case R_REPEAT:
      if (rtarg(op, 1, 0) < 0 || rtarg(op, 2, 0) < 0) code = 805;
      break;
    case R_SYNCH:
      if (t->block) code = 806;
      break;
    case R_SWRITE: case R_SREAD: case R_WREAD: case R_WWRITE: {
      // The image region: operand 1's data, placed by operand 2 (x, y, w, h).
      int32_t reg[4], bytes = 0;
      int type = 0;
      if (!imgarg(op, 2, reg, &bytes, &type)) {
        code = 808;
        break;
      }
      int32_t x = opelm(o2, 0), y = opelm(o2, 1), w = opelm(o2, 2), h = opelm(o2, 3);
      if (w < 1) w = reg[2];
      if (h < 1) h = reg[3];
      if (!onscreen(x, y) || !onscreen(x + w - 1, y + h - 1)) code = 801;
      break;
    }
    default: break;
  }
  if (code) rtoperr(t, op, code);
  return code;
}

// ---- Preparation -----------------------------------------------------------------

namespace {
// The window r_window names, as a window argument names one: operand 1 a
// number is the window's number; a text, or a variable of array kind by
// its name, is matched (upper case, exact or abbreviated, 16 characters
// at most) with the names of the windows. Not found, or no such operand:
// operand 2's value, default -1.
int rtwinop(const RtOp* op) {
  const RtOpnd* o = opnd(op, 1);
  if (!o) return rtarg(op, 2, -1);
  if (o->kind < 0 || o->kind == 20 || !(o->kind & (K_STRING | K_ARRAY | K_MATRIX | K_IMAGE | K_SOLID | K_LIST)))
    return rtarg(op, 1, -1);
  char name[17] = {0};
  int len = 0;
  if ((o->kind & K_STRING) && !(o->kind & K_LIST)) {
    const uint8_t* p = elmptr(o, 0);
    const int64_t left = int64_t(o->size) - o->offset;
    while (p && len < 16 && len < left && p[len]) {
      name[len] = static_cast<char>(p[len]);
      len++;
    }
  } else if (const SymEnt* e = o->index > 0 ? symptr(o->index) : nullptr) {
    len = std::min(e->nlen & 15, SYMNAM);
    std::memcpy(name, e->name, size_t(len));
  }
  for (int i = 0; i < len; i++) name[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
  for (int w = 0; len > 0 && w < nwins; w++) {
    const Wport* p = wintab[w];
    if (!p || p->type == 0) continue;
    const int nl = static_cast<int>(strnlen(p->name, sizeof p->name));
    if (nl > 0 && isname(p->name, name, nl, len) > 0) return w;
  }
  return rtarg(op, 2, -1);
}

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
// on, or a list's next name: r_text's moves by its flags, r_word's stays),
// at most max - 1 characters; its length.
int optext(RtOp* op, int k, char* buf, int max) {
  const RtOpnd* o = opnd(op, k);
  buf[0] = 0;
  if (!o || o->kind < 0 || o->kind == 20) return 0;
  if (op->flg & OF_LIST) {
    const int fl = op->opc == R_TEXT ? rtarg(op, 3, 0) : op->opc == R_WORD ? 8 : 0;
    const std::string s = nxtidx(op, k, fl);
    const int n = static_cast<int>(std::min<size_t>(s.size(), size_t(max - 1)));
    std::memcpy(buf, s.data(), size_t(n));
    buf[n] = 0;
    return n;
  }
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
    len = optext(op, 2, text, sizeof text);
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
    // The flags in the high byte, the character limit in the low one: each
    // kept to its byte, so that neither spills into the other.
    const int32_t lim = std::clamp<int32_t>(l4, 0, 255);
    t->slot[1] = static_cast<int16_t>(static_cast<uint16_t>(((rtarg(op, 3, 0) & 0xFF) << 8) | lim));
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
      t->slot[0] = -1;  // the first visit
      rts.flags |= RF_NOPUMP;
      if (trcmsk) rtwdump(1, 0);
      break;
    case R_AWAIT:
    case R_DWAIT: {
      int32_t v = rtarg(op, 2, 0) & 0x7FFF;  // modulo 32768, a negative number too
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
    case R_WINDOW: t->slot[0] = static_cast<int16_t>(rtwinop(op)); break;
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


// The test of an IF op.
bool iftest(int opc, int32_t a, int32_t b) {
  switch (opc) {
    case R_IFEQ: return a == b;
    case R_IFGT: return a > b;
    case R_IFLT: return a < b;
    case R_IFAND: return (a & b) != 0;
    case R_IFGE: return a >= b;
    case R_IFLE: return a <= b;
    default: return true;
  }
}

RtOp* opat(RtOp* op, int32_t words) {
  return reinterpret_cast<RtOp*>(reinterpret_cast<int32_t*>(op) + words);
}

// r_switch: the task goes on at the first case of the value, else at the
// default (or past the block).
void rtswitch(RtTask* t, RtOp* op) {
  int32_t v = rtarg(op, 1, 0);
  int32_t n = op->opnd[1], off = op->opnd[3];
  const RtCase* tab = n > 0 && op->opnd[2] > 0 ? static_cast<const RtCase*>(static_cast<void*>(wordp(op->opnd[2]))) : nullptr;
  for (int32_t i = 0; tab && i < n; i++)
    if (tab[i].value == v) {
      off = tab[i].off;
      break;
    }
  trcint(8, "SWITCH", 0, t->seq, v, n, off, 0);
  if (off > 0) t->next = stkadr(opat(op, off));
}

// r_break: leaves up to n enclosing blocks. Leaving a REPEAT or FORK ends
// its task, and its parent, which waits for it, goes on with the walk.
// Returns the task that continues with the epilogue (null when none).
RtTask* rtbreak(RtTask* t, RtOp* op) {
  int32_t n = rtarg(op, 1, 0);
  int32_t levels = std::min(n, op->opnd[1]);
  trcint(8, "BREAK", 0, t->seq, n, levels, 0, 0);
  for (int32_t i = 0; i < levels && 2 + i < RTMAXOPND; i++) {
    RtOp* ex = opat(op, op->opnd[2 + i]);
    t->next = stkadr(ex);
    RtRpt* b = rtrpt(t->block);
    if (!(ex->flg & OF_LIST) || !b) continue;
    RtTask* p = rttask(b->parent);
    RtOp* pc = p ? rtop(p->cur) : nullptr;
    const bool waits = p && p->inrun && p->hold && pc && (pc->opc == R_REPEAT || pc->opc == R_FORK) &&
                       pc->opnd[2] == stkadr(t);
    b->count = 0;
    b->cdown = 0;
    t->opcode = 0;
    endchk(t, 0);
    if (!waits) return nullptr;  // the parent went on without the block
    t = p;
  }
  return t;
}

// r_vwait: the value of operand 1 against the reference (slot 1) by the
// condition (slot 0; -1 on the first visit). The reference lives in a
// 16-bit slot, so the value is taken in its low 16 bits too: a 32-bit
// variable holding 70000 compares as 4464, and one noted at the first
// visit is not seen to change when it has not.
bool vwait(RtTask* t, const RtOp* op) {
  const int32_t v = static_cast<int16_t>(rtarg(op, 1, 0));
  if (t->slot[0] == -1) {
    t->slot[1] = static_cast<int16_t>(v);
    t->slot[0] = 4;
    return false;
  }
  int32_t r = t->slot[1];
  bool met;
  switch (t->slot[0]) {
    case 0: met = v == r; break;
    case 1: met = v > r; break;
    case 2: met = v < r; break;
    case 3: met = (v & r) != 0; break;
    case 4: met = v != r; break;
    case 5: met = (v & r) == 0; break;
    default: met = v != 0; break;
  }
  if (met) t->result = static_cast<int16_t>(v);
  return met;
}

// r_twait: met when the millisecond tick differs from the one noted when
// the op was prepared; slot 2 nonzero spins until then.
bool twait(RtTask* t) {
  uint32_t ms0;
  std::memcpy(&ms0, &t->slot[0], 4);
  if (t->slot[2] != 0)
    while (tickms(0) == ms0 && !inpend(0)) rtspin(rtclock() + 1);
  if (tickms(0) == ms0) return false;
  rts.now = rtclock();
  return true;
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
  bool logged = op->flg & OF_LOG;
  if (jdebug >= 2 && !notr) {
    logprintf("rtop %3d %10d\n", opc, static_cast<int>(rts.now));
    if (logfp) std::fflush(logfp);
  }
  if (isdisp(opc)) {
    const int r = rtdisp(t, op, &logged);
    if (r == DS_AGAIN) return 0;
    if (r == DS_STAY) return 1;
    opc = 0;
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
    case R_IFEQ: case R_IFGT: case R_IFLT: case R_IFAND: case R_IFGE: case R_IFLE: {
      int32_t a = opval(opnd(op, 1)), b = opval(opnd(op, 2));
      bool yes = iftest(opc, a, b);
      trcint(8, " OP_IF ", 0, t->seq, opc, a, b, yes);
      if (!yes) rtskip(t);
      break;
    }
    case R_SWITCH: rtswitch(t, op); break;
    case R_BREAK:
      t = rtbreak(t, op);
      if (!t) return 1;
      break;
    case R_ADD: rtarith(RA_ADD, op); break;
    case R_SUB: rtarith(RA_SUB, op); break;
    case R_MULT: rtarith(RA_MUL, op); break;
    case R_DIV: rtarith(RA_DIV, op); break;
    case R_AND: rtarith(RA_AND, op); break;
    case R_OR: rtarith(RA_OR, op); break;
    case R_MAP: rtarith(RA_MAP, op); break;
    case R_COPY: rtcopy(op); break;
    case R_INRECT: rtinrect(op); break;
    case R_SEEK: case R_INCR: rtseek(op); break;
    case R_TELL: rttell(op); break;
    case R_INDEX: rtindex(op); break;
    case R_SCALE: rtscale(op); break;
    case R_SUM: case R_FFT: rtsum(op); break;
    case R_VECADD: case R_VECMULT: case R_VECSIZE: rtvec(opc, op); break;
    case R_NOWAIT: waitcancel(); break;
    case R_SET: {
      int32_t v = opval(opnd(op, 1));
      RtOpnd* d = opnd(op, 2);
      int32_t n = rtarg(op, 3, 1);
      if (n >= 2 && d) {
        int64_t left = rtleft(d) / std::max(1, rtebytes(d));
        if (n > left) n = static_cast<int32_t>(left);
        if (n > 0) fillval(v, elmptr(d, 0), d->type, n);
      } else {
        putval(v, d);
      }
      break;
    }
    case R_PUT:
      putval(opval(opnd(op, 2)), opnd(op, 1));
      trcint(8, " put", 0, t->seq, 0, 0, 0, 0);
      break;
    case R_LOGVAL:
      logged = true;
      t->result = static_cast<int16_t>(rtarg(op, 1, 0) & 0x7FFF);
      break;
    case R_GTIME: putval(static_cast<int32_t>(rtclock()), opnd(op, 1)); break;
    case R_XOR: putval(rtarg(op, 1, 0) ^ rtarg(op, 2, 0), opnd(op, 1)); break;
    case R_LOCK:
      if (jdebug) logprintf("R_LOCK %d\n", rtarg(op, 1, 1));
      break;
    case R_UWAIT: case R_AWAIT: case R_DWAIT: case R_AREAD: case R_AWRITE: case R_DREAD:
    case R_DWRITE: case R_FREAD: case R_FWRITE: case R_GETXY: case R_FWAIT: case R_FSEEK:
    case R_SOUND: case R_TONE: case R_PWAIT: case R_PREAD: case R_PWRITE: case R_FOPEN:
    case R_FCLOSE: case R_SWAIT: case R_EYEPOS: case R_ASCAN:
      // Waits, device I/O and file ops.
      if (!rtio(t, op)) return 0;
      break;
    case R_TWAIT:
      if (!twait(t)) return 0;
      setdue(t, rts.now);
      break;
    case R_VWAIT:
      if (!vwait(t, op)) return 0;
      setdue(t, rts.now);
      break;
    default:
      // r_wait, r_synch and the ops whose work is done when they are
      // prepared.
      break;
  }
  // Epilogue.
  if (jdebug >= 2 && notr) logprintf("rtwt %3d %10d\n", opc, static_cast<int>(rts.now));
  if (op->flg & OF_ADV) advop(op);
  if (logged) rtlog(rts.now, op, 1, t->result);
  RtOp* self = rtop(t->cur);
  nxtop(t);
  RtOp* nx = rtop(t->cur);
  if (t->inrun && !t->hold && nx && nx != self && (nx->flg & OF_CHAIN) && t->opcode != 0 &&
      !(state & (ST_ERROR | ST_INTR | ST_STOP)))
    return dortime(t);
  return 1;
}
