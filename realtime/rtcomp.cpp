// The real-time op table and the script compiler.
#include "realtime/rtcomp.h"

#include "core/args.h"
#include "core/convert.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "files/fileutil.h"
#include "lang/macro.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "lang/rdline.h"
#include "realtime/rtsched.h"
#include "ui/events.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

// ---- The op table ---------------------------------------------------------------

const char* const rtkeys[RTNOPS + 1] = {
    "",          "r_quit",    "r_pause",   "r_reset",   "r_uwait",      "r_await",
    "r_dwait",   "r_aread",   "r_awrite",  "r_dread",   "r_dwrite",     "r_lut",
    "r_bdraw",   "r_edraw",   "r_adraw",   "r_bfill",   "r_efill",      "r_afill",
    "r_bmove",   "r_bput",    "r_image",   "r_graph",   "r_text",       "r_fread",
    "r_fwrite",  "r_copy",    "r_inrect",  "r_repeat",  "r_end",        "r_seek",
    "r_label",   "r_goto",    "r_bset",    "r_ifeq",    "r_ifgt",       "r_iflt",
    "r_incr",    "r_synch",   "r_sweep",   "r_font",    "r_color",      "r_erase",
    "r_movept",  "r_getxy",   "r_point",   "r_wait",    "r_fork",       "r_sreset",
    "r_cursor",  "r_rgb",     "r_add",     "r_sub",     "r_mult",       "r_div",
    "r_line",    "r_word",    "r_twait",   "r_nowait",  "r_logval",     "r_clkset",
    "r_clkon",   "r_endif",   "r_else",    "r_ifand",   "r_set",        "r_put",
    "r_and",     "r_or",      "r_number",  "r_mlut",    "r_picture",    "r_ldraw",
    "r_gtime",   "r_swrite",  "r_rwait",   "r_fwait",   "r_fseek",      "r_sread",
    "r_sound",   "r_tone",    "r_scale",   "r_bread",   "r_bwrite",     "r_xor",
    "r_pwait",   "r_pread",   "r_pwrite",  "r_index",   "r_switch",     "r_case",
    "r_break",   "r_fopen",   "r_fclose",  "r_tell",    "r_abread",     "r_vwait",
    "r_atrig",   "r_wread",   "r_wwrite",  "r_window",  "r_pen",        "r_swait",
    "r_flip",    "r_default", "r_eyepos",  "r_swap",    "r_render",     "r_rotate",
    "r_offset",  "r_zoom",    "r_project", "r_lock",    "r_screen",     "r_flicker",
    "r_cine",    "r_arrow",   "r_user1",   "r_user2",   "r_user3",      "r_aviwrite",
    "r_aviaddframe", "r_drawdots", "r_movepoints", "r_map", "r_grab",  "r_histo",
    "r_ifge",    "r_ifle",    "r_ascan",   "r_sum",     "r_setsweep",   "r_adjscale",
    "r_fft",     "r_vecadd",  "r_vecmult", "r_vecsize", "r_clock",
};

namespace {
struct OpTables {
  uint8_t info[RTNOPS + 1]{};
  uint32_t dur[RTNOPS + 1]{};
};

constexpr OpTables mktables() {
  OpTables t{};
  auto set = [&t](std::initializer_list<int> ops, uint8_t bits) {
    for (int o : ops) t.info[o] = static_cast<uint8_t>(t.info[o] | bits);
  };
  set({R_DREAD, R_DWRITE, R_FONT, R_COLOR, R_GETXY, R_WAIT, R_CURSOR, R_RGB, R_LOGVAL,
       R_PICTURE, R_GTIME, R_SWRITE, R_FWAIT, R_SREAD, R_SOUND, R_PWAIT, R_SWITCH, R_FCLOSE,
       R_VWAIT, R_WREAD, R_WWRITE, R_WINDOW, R_PEN, R_FLIP, R_EYEPOS, R_RENDER, R_ASCAN},
      1);
  set({R_DWAIT, R_AREAD, R_AWRITE, R_BDRAW, R_EDRAW, R_BFILL, R_EFILL, R_BMOVE, R_BPUT,
       R_IMAGE, R_TEXT, R_FREAD, R_FWRITE, R_COPY, R_SEEK, R_BSET, R_IFEQ, R_IFGT, R_IFLT,
       R_INCR, R_MOVEPT, R_POINT, R_ADD, R_SUB, R_MULT, R_DIV, R_WORD, R_CLKON, R_IFAND,
       R_SET, R_PUT, R_AND, R_OR, R_NUMBER, R_MLUT, R_LDRAW, R_FSEEK, R_SCALE, R_BREAD,
       R_BWRITE, R_XOR, R_PREAD, R_PWRITE, R_INDEX, R_FOPEN, R_TELL, R_ATRIG, R_ROTATE,
       R_OFFSET, R_ZOOM, R_PROJECT, R_IFGE, R_IFLE, R_SUM, R_VECADD, R_VECMULT, R_VECSIZE,
       R_CLOCK},
      2);
  set({R_AWAIT, R_LUT, R_GRAPH, R_INRECT, R_SWEEP, R_LINE, R_SETSWEEP}, 3);
  set({R_ADRAW, R_AFILL, R_CLKSET, R_ABREAD}, 4);
  set({R_AREAD, R_AWRITE}, 2 << 3);
  set({R_BMOVE, R_BPUT, R_TEXT, R_INRECT, R_BSET, R_MOVEPT, R_GETXY, R_POINT, R_WORD,
       R_NUMBER, R_EYEPOS},
      4 << 3);
  set({R_GRAPH, R_RGB}, 6 << 3);
  set({R_LUT}, 8 << 3);
  set({R_UWAIT, R_AWAIT, R_DWAIT, R_TWAIT, R_RWAIT, R_FWAIT, R_PWAIT, R_VWAIT}, 0x80);
  struct D {
    int op;
    uint32_t ticks;
  };
  const D durs[] = {{R_RESET, 7},  {R_AREAD, 15},   {R_AWRITE, 3},  {R_DREAD, 10},  {R_DWRITE, 9},
                    {R_LUT, 664},  {R_BDRAW, 19},   {R_EDRAW, 31},  {R_ADRAW, 36},  {R_BFILL, 43},
                    {R_EFILL, 78}, {R_AFILL, 30},   {R_BMOVE, 75},  {R_BPUT, 71},   {R_TEXT, 45},
                    {R_SEEK, 3},   {R_BSET, 3},     {R_SYNCH, 3},   {R_SWEEP, 28},  {R_FONT, 4},
                    {R_COLOR, 7},  {R_ERASE, 3250}, {R_POINT, 3},   {R_CURSOR, 4},  {R_RGB, 9},
                    {R_ADD, 3},    {R_SUB, 3},      {R_MULT, 3},    {R_DIV, 3},     {R_LINE, 3},
                    {R_WORD, 3},   {R_CLKSET, 8},   {R_CLKON, 7},   {R_SET, 3},     {R_PUT, 3},
                    {R_AND, 3},    {R_OR, 3},       {R_MLUT, 663},  {R_PICTURE, 443},
                    {R_LDRAW, 43}, {R_GTIME, 3},    {R_SWRITE, 7650}};
  for (const D& d : durs) t.dur[d.op] = d.ticks;
  return t;
}
constexpr OpTables optab = mktables();
}  // namespace

const uint8_t rtinfo[RTNOPS + 1] = {
#define R(i) optab.info[i]
#define R8(i) R(i), R(i + 1), R(i + 2), R(i + 3), R(i + 4), R(i + 5), R(i + 6), R(i + 7)
    R8(0), R8(8), R8(16), R8(24), R8(32), R8(40), R8(48), R8(56), R8(64), R8(72), R8(80),
    R8(88), R8(96), R8(104), R8(112), R8(120), R8(128), R(136),
#undef R
};
const uint32_t rtdur[RTNOPS + 1] = {
#define R(i) optab.dur[i]
    R8(0), R8(8), R8(16), R8(24), R8(32), R8(40), R8(48), R8(56), R8(64), R8(72), R8(80),
    R8(88), R8(96), R8(104), R8(112), R8(120), R8(128), R(136),
#undef R
#undef R8
};

int rtopcode(const char* word, int len) {
  if (len < 3 || len > 15 || word[0] != 'r' || word[1] != '_') return 0;
  for (int i = 1; i <= RTNOPS; i++)
    if (static_cast<int>(std::strlen(rtkeys[i])) == len && std::memcmp(rtkeys[i], word, len) == 0)
      return i;
  return 0;
}

// ---- Tables --------------------------------------------------------------------

namespace {
// A headed block of `words` zero words after its own-address word; the
// stack address of the block (0 when memory is short).
int32_t rtalloc(int64_t words) {
  int32_t a = 0;
  if (words < 1 || words > 0x3FFFFFF) return 0;
  if (getstk(&a, static_cast<int32_t>(words + 1), 4, 1, 0) < 1 || a <= 0) return 0;
  uint32_t* p = wordp(a);
  std::memset(p, 0, static_cast<size_t>(words + 1) * 4);
  p[0] = static_cast<uint32_t>(a);
  return a;
}

RtOpnd* entry(int32_t a) { return static_cast<RtOpnd*>(static_cast<void*>(wordp(a))); }

int32_t conadd(int16_t type, int32_t bits, int* count, int max) {
  if (!rts.contab) return 0;
  for (int i = 0; i < *count; i++) {
    int32_t a = rts.contab + 1 + i * RTCONW;
    const RtOpnd* e = entry(a);
    if (e->type == type && e->index == bits) return a;
  }
  if (*count >= max) {
    error(0, 173);
    return 0;
  }
  int32_t a = rts.contab + 1 + *count * RTCONW;
  RtOpnd* e = entry(a);
  e->cur = bytadr(a) + 12;
  e->base = type == 96 ? e->cur : 0;
  e->type = type;
  e->kind = -1;
  e->index = bits;
  ++*count;
  return a;
}
}  // namespace

int32_t iconst(int32_t value, int* count, int max) { return conadd(32, value, count, max); }

int32_t fconst(float value, int* count, int max) {
  int32_t bits;
  std::memcpy(&bits, &value, 4);
  return conadd(96, bits, count, max);
}

void rtdflt() {
  rts.frame = 665.0f;
  rts.lead = 300;
}

namespace {
bool isif(int opc) {
  return opc == R_IFEQ || opc == R_IFGT || opc == R_IFLT || opc == R_IFAND || opc == R_IFGE ||
         opc == R_IFLE;
}
bool isblk(int opc) { return opc == R_REPEAT || opc == R_FORK || opc == R_SWITCH; }
}  // namespace

namespace {
bool ifopen = false;  // the last ifchk walk reached the end of the list
}  // namespace

int ifchk(int mode, RtOp* op, int depth, int* count) {
  int32_t* start = reinterpret_cast<int32_t*>(op);
  RtOp* p = op;
  int n = 0;
  while (p->opc != 0) {
    int opc = p->opc;
    if (isif(opc) && (p != op || depth == 0)) {
      depth++;
    } else if (opc == R_ENDIF) {
      depth--;
    } else if (opc == R_ELSE && depth == 1 && p != op) {
      depth--;
    }
    n++;
    if (mode == 1 && isblk(opc) && p != op && rtnops(p) >= 5 && p->opnd[4] > 0) {
      p = reinterpret_cast<RtOp*>(reinterpret_cast<int32_t*>(p) + p->opnd[4]);
      continue;
    }
    p = rtnext(p);
    if (depth < 1) break;
  }
  ifopen = depth >= 1;
  *count = n;
  return static_cast<int>(reinterpret_cast<int32_t*>(p) - start);
}

// ---- The compiler --------------------------------------------------------------

namespace {
constexpr int OPBUF = 2048;
constexpr int SPILL = 1024;

std::string tmpname;  // the spill file of the last compile

struct Comp {
  uint8_t buf[OPBUF + 256];
  int nbuf = 0;         // bytes in the buffer
  int nspill = 0;       // records written to the spill file
  int fd = -1;          // spill file
  int nops = 0;         // ops
  int nwords = 0;       // words of all ops
  int open = 0;         // open blocks
  int ncase = 0;        // case entries to reserve
  std::vector<RtLabel> labels;
  int labmax = 0;
  bool failed = false;  // the spill file could not be made
};

// Opens the spill file exclusively: "rtime.tmp" in the temporary folder,
// or a unique name beside it when that one is taken.
int spillopen(std::string& path) {
  std::string dir = strvar("tmpdir");
  std::string base = dir.empty() ? std::string() : dir + "/";
  path = hostpath(base + "rtime.tmp");
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  for (int i = 1; fd < 0 && errno == EEXIST && i < 100; i++) {
    path = hostpath(base + "rtime" + std::to_string(getpid()) + "_" + std::to_string(i) + ".tmp");
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  }
  return fd;
}

bool spill(Comp& c) {
  if (c.fd < 0) {
    if (c.failed) return false;
    c.fd = spillopen(tmpname);
    if (c.fd < 0) {
      jprintf(errlun, "TempFile: %s\n", tmpname.c_str());
      error(0, 172);
      c.failed = true;
      return false;
    }
  }
  if (pwrite(c.fd, c.buf, SPILL, static_cast<off_t>(c.nspill) * SPILL) != SPILL) {
    error(0, 172);
    c.failed = true;
    return false;
  }
  c.nspill++;
  c.nbuf -= SPILL;
  std::memmove(c.buf, c.buf + SPILL, static_cast<size_t>(c.nbuf));
  return true;
}

// The WORD entry of argument n, or null.
const WORD* argword(int n) {
  int32_t h = 0;
  int w = argidx(n, &h);
  return w >= 0 && w < NWORDS ? &wrdtab[w] : nullptr;
}

// Argument n as a 32-bit integer: an integer number word exactly as
// written (the float road would round values above 2^24), else lngarg.
int32_t intword(int n, int32_t dflt) {
  const WORD* w = argword(n);
  if (w && w->type == WT_NUMBER && wnsiz(*w) != 96) return wnum(*w);
  return lngarg(n, dflt);
}

// Rewrites the raw line: a leading r_ keyword becomes its opcode in the
// keyword's width, and a lone "-" becomes "*".
void rewrite(char* line) {
  char* p = line;
  while (*p && static_cast<unsigned char>(*p) < 33) p++;
  char* e = p;
  while (static_cast<unsigned char>(*e) > 32) e++;
  int len = static_cast<int>(e - p);
  int opc = rtopcode(p, len);
  if (opc) {
    char num[24];
    itostr(opc, num, len, 10, 0, sizeof num);
    std::memcpy(p, num, static_cast<size_t>(len));
  }
  bool quoted = false;
  for (char* q = line; *q; q++) {
    if (*q == '"') quoted = !quoted;
    if (quoted || *q != '-') continue;
    bool before = q == line || q[-1] == ' ' || q[-1] == '\t';
    bool after = q[1] == 0 || q[1] == ' ' || q[1] == '\t';
    if (before && after) *q = '*';
  }
}

struct Operand {
  int32_t ref = 0;   // entry address, 0 null
  int32_t bytes = 0; // noted byte size
  bool var = false;
  bool negconst = false;
};

bool textop(int opc) {
  return opc == R_TEXT || opc == R_SOUND || opc == R_FOPEN || opc == R_PICTURE || opc == R_WORD;
}

// A variable operand's entry (found or appended); 0 on failure.
int32_t varent(PtrRec* r, int32_t count, bool sysv, int32_t code, Operand& o) {
  int32_t base = 0, data = 0, idx = code, bytes = 4;
  int16_t type = 32, kind = 20;
  uint32_t wid = 1, hgt = 1, off = 0;
  if (!sysv) {
    base = r->Data0 < 0 ? r->Data0 : r->Dptr;
    data = static_cast<int32_t>(r->Addr);
    idx = r->Idx;
    type = r->Wsiz;
    kind = static_cast<int16_t>(r->Flg);
    int eb = (type & 63) / 8;
    bytes = static_cast<int32_t>(std::min<int64_t>(int64_t(count) * eb, INT32_MAX));
    wid = r->Offs[3];
    hgt = r->Offs[4];
    // A list's offset is the number of its current element: the first
    // its window names.
    if (kind & K_LIST) off = r->Offs[0];
  }
  o.bytes = bytes;
  for (int i = 0; i < rts.nvars; i++) {
    int32_t a = rts.vartab + 1 + i * RTVARW;
    const RtOpnd* e = entry(a);
    if (e->base == base && e->index == idx && e->kind == kind && e->offset == off) return a;
  }
  if (rts.nvars >= rts.varmax) {
    error(0, 173);
    return 0;
  }
  int32_t a = rts.vartab + 1 + rts.nvars * RTVARW;
  RtOpnd* e = entry(a);
  e->cur = base;
  e->base = base;
  e->type = type;
  e->kind = kind;
  e->index = idx;
  e->offset = off;
  e->size = bytes;
  e->data = data;
  e->width = wid;
  e->height = hgt;
  rts.nvars++;
  return a;
}

// Compiles the parsed line into `op`. Returns false when the line makes no op.
bool compline(Comp& c, RtOp& op, int lnum) {
  const WORD* w1 = argword(1);
  int opc = 0;
  if (w1 && w1->type == WT_NUMBER && wnsiz(*w1) != 96) opc = wnum(*w1);
  if (opc < 1 || opc > RTNOPS || opc == R_GOTO) {
    error(0, 171);
    return false;
  }
  std::memset(&op, 0, sizeof op);
  op.opc = static_cast<uint8_t>(opc);
  op.flg = static_cast<uint8_t>(intword(2, 0));
  const int32_t code = intword(3, 0);
  op.code = static_cast<uint8_t>(code);
  op.line = lnum;
  // A case value is the code byte itself: one it does not hold would match
  // another value.
  if (opc == R_CASE && (code < 0 || code > 255)) {
    error(3, 70);
    return false;
  }
  if (opc == R_LABEL) {
    if (static_cast<int>(c.labels.size()) >= c.labmax) {
      error(0, 173);
    } else {
      c.labels.push_back({op.code, 0, static_cast<uint32_t>(c.nwords)});
    }
    return false;
  }
  const int na = nargs();
  int ai = 4;
  const WORD* w4 = argword(4);
  if (w4 && w4->type == WT_CMD && argnum(4) == OP_PLUS) {
    op.flg |= OF_REL;
    ai = 5;
  }
  op.time = intword(ai, 0);
  ai++;

  Operand opd[RTMAXOPND + 2];
  int n = 0;
  bool neg = false;
  const int err0 = state & ST_ERROR;
  for (int i = ai; i <= na; i++) {
    const WORD* w = argword(i);
    if (w && w->type == WT_CMD) {
      int k = argnum(i);
      if (k == OP_INC && n == 1) {
        op.flg |= OF_ADV;
        continue;
      }
      if (k == OP_MINUS) {
        neg = true;
        continue;
      }
      if (k != 118) {
        error(i, 175);
        return false;
      }
    }
    if (n >= RTMAXOPND) {  // more operands than an op can hold
      error(i, 175);
      return false;
    }
    Operand& o = opd[n];
    o = Operand{};
    if (w && w->type == WT_CMD) {
      n++;  // "*": an omitted operand
      continue;
    }
    if (w && w->type == WT_NUMBER) {
      if (wnsiz(*w) == 96) {
        float f = static_cast<float>(wfloat(*w));
        if (neg) f = -f;
        o.negconst = f < 0;
        o.ref = fconst(f, &rts.ncons, rts.conmax);
      } else {
        int32_t v = intword(i, 0);
        if (neg) v = static_cast<int32_t>(0u - static_cast<uint32_t>(v));
        o.negconst = v < 0;
        o.ref = iconst(v, &rts.ncons, rts.conmax);
      }
      neg = false;
      n++;
      continue;
    }
    neg = false;
    if (w && w->type == WT_GROUP) {  // an expression: its result lives for this line only
      error(i, 175);
      return false;
    }
    int32_t h = 0;
    int k = w ? argtyp(i, &h) : 0;
    if (k == 20) {
      o.ref = varent(nullptr, 1, true, argnum(i) - 1000, o);
      o.var = true;
    } else if ((k & 0x7F0) && ((k & K_NAMED) || !(k & K_VALUE))) {
      int32_t cnt = 0;
      PtrRec* r = argary(i, &cnt);
      if (!r) {
        error(i, 175);
        return false;
      }
      o.ref = varent(r, cnt, false, 0, o);
      o.var = true;
      if (textop(opc) && n == 1) {
        if (k & K_LIST)
          op.flg |= OF_LIST;
        else if (!(k & K_STRING))
          o.bytes = 0;
      }
    } else {
      if (!(state & ST_ERROR)) error(i, 175);
      return false;
    }
    n++;
  }
  if ((state & ST_ERROR) && !err0) return false;

  auto addc = [&](int32_t v) {
    opd[n] = Operand{};
    opd[n].ref = iconst(v, &rts.ncons, rts.conmax);
    n++;
  };
  auto cval = [&](int k) -> int32_t {  // compile-time value of operand k (from 1)
    if (k > n || !opd[k - 1].ref) return 0;
    const RtOpnd* e = entry(opd[k - 1].ref);
    if (e->kind == -1) {
      if (e->type == 96) {
        float f;
        std::memcpy(&f, &e->index, 4);
        return static_cast<int32_t>(std::lround(f));
      }
      return e->index;
    }
    return 0;
  };
  int step = rtstep(opc);
  // Per-op completion.
  if (n > 0) {
    if (opc == R_AREAD || opc == R_AWRITE) {
      int ch = 0;
      for (uint32_t v = static_cast<uint32_t>(cval(2)); v; v &= v - 1) ch++;
      if (ch < 1) ch = 1;
      step *= ch;
      if (opc == R_AREAD && n < RTMAXOPND) {
        int given = n;
        int32_t count = opd[0].bytes;
        if (given >= 4 && n < RTMAXOPND) {
          opd[4] = opd[3];
          if (ch > 1) {
            count /= ch;
            step /= ch;
          }
        }
        if (given >= 3) {
          opd[3] = opd[2];
          if (opd[3].var) count = std::min(count, opd[3].bytes);
        }
        opd[2] = Operand{};
        opd[2].ref = iconst(count, &rts.ncons, rts.conmax);
        n = std::max(n, 3) + (given >= 3 ? 1 : 0);
        if (given >= 4) n = std::max(n, 5);
        trcint(8, "ard_ini", 0, ch, step, count, given, n);
      }
    } else if (opc == R_DREAD) {
      n = 1;
      addc(opd[0].bytes / 2);
      trcint(8, "drd_ini", 0, opd[0].bytes, n, 0, 0, 0);
    } else if ((opc == R_TEXT || opc == R_WORD) && (n == 2 || n == 3) && !(op.flg & OF_LIST)) {
      int32_t b2 = opd[1].bytes;
      if (n == 2) addc(0);
      addc(b2);
    } else if (opc == R_SOUND && !(op.flg & OF_LIST) && n >= 2) {
      addc(opd[1].bytes);
    } else if (opc == R_SEEK || opc == R_INCR) {
      if (n < 2 || !opd[1].ref || opd[1].negconst) {
        error(na + 1, 175);
        return false;
      }
      if (n == 2) addc(1);
    }
  }
  if (n < rtmin(opc)) {
    error(0, 176);
    return false;
  }
  // Blocks and branches.
  switch (opc) {
    case R_REPEAT:
    case R_FORK:
      c.open++;
      if (n < 1 || !opd[0].ref) {
        if (n < 1) n = 1;
        opd[0].ref = iconst(67108863, &rts.ncons, rts.conmax);
      }
      for (int k = 1; k < 6; k++) {
        if (k >= n) opd[k] = Operand{};
        if (!opd[k].ref) opd[k].ref = iconst(0, &rts.ncons, rts.conmax);
      }
      n = std::max(n, 6);
      break;
    case R_END:
      if (--c.open < 0) {
        c.open = 0;
        error(0, 198);
        return false;
      }
      break;
    case R_SWITCH:
      c.open++;
      for (int k = n; k < 5; k++) opd[k] = Operand{};
      n = std::max(n, 5);
      break;
    case R_CASE:
      c.ncase++;
      break;
    case R_IFEQ: case R_IFGT: case R_IFLT: case R_IFAND: case R_IFGE: case R_IFLE:
      if (n == 2) opd[n++] = Operand{};
      break;
    case R_ELSE:
      if (n == 0) opd[n++] = Operand{};
      break;
    case R_BREAK: {
      if (c.open < 1) {
        error(0, 198);
        return false;
      }
      int levels = 1;
      if (n == 0) {
        opd[0] = Operand{};
        opd[0].ref = iconst(1, &rts.ncons, rts.conmax);
      } else {
        levels = c.open;
      }
      if (2 + levels > RTMAXOPND) {
        error(0, 198);
        return false;
      }
      n = 2 + levels;
      for (int k = 1; k < n; k++) opd[k] = Operand{};
      opd[1].ref = levels;  // the level count, as a raw number
      break;
    }
    default:
      break;
  }
  if (n > RTMAXOPND) {
    error(0, 175);
    return false;
  }
  if (n > 0) op.extra = (op.flg & OF_ADV) ? step : 0;
  op.len = static_cast<uint8_t>(n > 0 ? 4 + n : 3);
  for (int k = 0; k < n; k++) op.opnd[k] = opd[k].ref;
  return true;
}

// Pass 2 over the copied op list.
void pass2(Comp& c, int32_t listadr, int32_t casadr) {
  RtOp* first = rtop(listadr);
  int32_t* w0 = reinterpret_cast<int32_t*>(first);
  auto adr = [&](const RtOp* p) {
    return listadr + static_cast<int32_t>(reinterpret_cast<const int32_t*>(p) - w0);
  };
  int ncase = 0;
  for (RtOp* op = first; op->opc != 0; op = rtnext(op)) {
    int opc = op->opc;
    if ((opc == R_FREAD || opc == R_FWRITE || opc == R_FWAIT || opc == R_FOPEN ||
         opc == R_FCLOSE) && !rts.filtab) {
      rts.filtab = rtalloc(8 * 544 / 4);
      if (!rts.filtab) error(0, 173);
    }
    if (opc == R_REPEAT || opc == R_FORK) {
      int32_t ta = newlst();
      int32_t ba = rtalloc(sizeof(RtRpt) / 4);
      if (!ta || !ba) {
        error(0, 173);
        return;
      }
      RtTask* t = rttask(ta);
      RtRpt* b = static_cast<RtRpt*>(static_cast<void*>(wordp(ba) + 1));
      t->block = ba + 1;
      auto cv = [&](int k) -> int32_t {
        const RtOpnd* e = op->opnd[k - 1] ? entry(op->opnd[k - 1]) : nullptr;
        return e && e->kind == -1 ? e->index : 0;
      };
      if (opc == R_REPEAT) {
        int fl = (cv(3) & 15) | 0x40;
        const RtOpnd* e4 = op->opnd[3] ? entry(op->opnd[3]) : nullptr;
        if (e4 && e4->kind == -1) fl += 16 * e4->index;
        b->flags = static_cast<uint16_t>(fl);
      } else {
        b->flags = static_cast<uint16_t>((cv(1) | 1) & 15);
      }
      op->opnd[2] = ta;
      if (rtnops(op) >= 5) t->window = static_cast<int16_t>(cv(5));
      RtOp* bf = rtnext(op);
      bf->flg &= static_cast<uint8_t>(~OF_REL);
      b->first = adr(bf);
      int depth = 1, counted = 0;
      RtOp* p = bf;
      for (; p->opc != 0; p = rtnext(p)) {
        if (depth == 1) counted++;
        if (isblk(p->opc)) depth++;
        if (p->opc == R_END && --depth == 0) break;
      }
      if (p->opc == 0) {
        error(0, 178);
        return;
      }
      p->flg |= OF_LIST;
      RtOp* after = rtnext(p);
      b->after = adr(after);
      op->opnd[4] = static_cast<int32_t>(reinterpret_cast<int32_t*>(after) - reinterpret_cast<int32_t*>(op));
      b->nops = static_cast<uint16_t>(counted - 1);
      rts.lst.nops -= static_cast<uint32_t>(counted);
    } else if (isif(opc) || opc == R_ELSE) {
      int cnt = 0;
      if (trcmsk && isif(opc)) jprintf(dbglun, " %3d %4d\n", opc, op->len);
      int d = ifchk(0, op, isif(opc) ? 0 : 1, &cnt);
      if (ifopen) {
        if (errlun > 0)
          jprintf(errlun, "Error: missing ENDIF for IF on Realtime code line %d\n", op->line);
        error(op->line, 213);
        return;
      }
      if (isif(opc))
        op->opnd[2] = d;
      else
        op->opnd[0] = d;
    } else if (opc == R_SWITCH) {
      RtCase* tab = static_cast<RtCase*>(static_cast<void*>(wordp(casadr)));
      int firstcase = ncase, ndflt = 0;
      int32_t dflt = -1, endoff = 0;
      int depth = 1;
      for (RtOp* p = rtnext(op); p->opc != 0; p = rtnext(p)) {
        int32_t off = static_cast<int32_t>(reinterpret_cast<int32_t*>(rtnext(p)) - reinterpret_cast<int32_t*>(op));
        if (depth == 1 && p->opc == R_CASE) {
          for (int k = firstcase; k < ncase; k++)
            if (tab[k].value == static_cast<int16_t>(p->code)) error(2, 195);
          if (ncase < c.ncase) tab[ncase++] = {static_cast<int16_t>(p->code), static_cast<uint16_t>(off)};
        } else if (depth == 1 && p->opc == R_DEFAULT) {
          if (++ndflt > 1) {
            error(2, 202);
            break;
          }
          dflt = off;
        }
        if (isblk(p->opc)) depth++;
        if (p->opc == R_END) depth--;
        endoff = off;
        if (depth == 0) break;
      }
      trcint(8, "rswitch", 0, ncase - firstcase, dflt, endoff, 0, 0);
      op->opnd[1] = ncase - firstcase;
      op->opnd[2] = casadr + firstcase;
      op->opnd[3] = dflt >= 0 ? dflt : endoff;
      op->opnd[4] = endoff;
    } else if (opc == R_BREAK) {
      int levels = op->opnd[1];
      int found = 0, nest = 0;
      for (RtOp* p = rtnext(op); p->opc != 0; p = rtnext(p)) {
        if (isblk(p->opc)) {
          nest++;
        } else if (p->opc == R_END) {
          if (nest == 0) {
            if (found < levels)
              op->opnd[2 + found++] =
                  static_cast<int32_t>(reinterpret_cast<int32_t*>(p) - reinterpret_cast<int32_t*>(op));
          } else {
            nest--;
          }
        }
      }
      trcint(8, "rbreak", 0, levels, found, nest, 0, 0);
      if (found < levels || nest != 0) {
        error(0, 198);
        return;
      }
    }
    if (stopped()) return;
  }
}

// The compile-time listing (trace-mask bit 8).
void listing(int32_t listadr) {
  trcint(8, "TLIST", 0, static_cast<int>(rts.lst.nops), rts.nvars, rts.ncons, 0, 0);
  jprintf(dbglun, "List 1:\n");
  jprintf(dbglun, " Nops=%7ld\tNrpts=%d  Psiz=%ld\n", static_cast<long>(rts.lst.nops),
          rts.lst.nblk, 576L);
  RtOp* first = rtop(listadr);
  int32_t* w0 = reinterpret_cast<int32_t*>(first);
  int i = 0;
  for (RtOp* op = first; op->opc != 0; op = rtnext(op), i++) {
    long off = static_cast<long>(reinterpret_cast<int32_t*>(op) - w0);
    jprintf(dbglun, "%3d (%5ld): %3d  %3d  %3d\t%8ld (%2d)", i, off, op->opc, op->flg, op->code,
            static_cast<long>(op->time), op->len);
    int cnt = 0;
    switch (op->opc) {
      case R_REPEAT:
        jprintf(dbglun, "  repeat -> %5d (%d)\n", static_cast<int>(off + op->opnd[4]), op->opnd[4]);
        break;
      case R_FORK: jprintf(dbglun, "  fork\n"); break;
      case R_END: jprintf(dbglun, "  end\n"); break;
      case R_ENDIF: jprintf(dbglun, "  endif\n"); break;
      case R_ELSE: {
        int d = ifchk(1, op, 1, &cnt);
        jprintf(dbglun, "  else -> %5d (%4d,%4d,%2d)\n", static_cast<int>(off + d), op->opnd[0], d, cnt);
        break;
      }
      case R_SWITCH: {
        jprintf(dbglun, "  switch %3d cases, end-> %5d (%d)\n", op->opnd[1],
                static_cast<int>(off + op->opnd[4]), op->opnd[3]);
        const RtCase* tab = static_cast<const RtCase*>(static_cast<void*>(wordp(op->opnd[2])));
        for (int k = 0; k < op->opnd[1]; k++)
          jprintf(dbglun, "    case %3d  -> %5d (%5d)\n", tab[k].value,
                  static_cast<int>(off + tab[k].off), tab[k].off);
        break;
      }
      case R_BREAK:
        jprintf(dbglun, "  break %d: ", op->opnd[1]);
        for (int k = 0; k < op->opnd[1]; k++)
          jprintf(dbglun, "%5d (%3d) ", static_cast<int>(off + op->opnd[2 + k]), op->opnd[2 + k]);
        jprintf(dbglun, "\n");
        break;
      default:
        if (isif(op->opc)) {
          int d = ifchk(1, op, 0, &cnt);
          jprintf(dbglun, "  if_  -> %5d (%4d,%4d,%2d)\n", static_cast<int>(off + d), op->opnd[2], d, cnt);
        } else {
          jprintf(dbglun, "\n");
        }
    }
  }
  jprintf(dbglun, "Constants:\n");
  for (int k = 0; k < rts.ncons; k++) {
    const RtOpnd* e = entry(rts.contab + 1 + k * RTCONW);
    jprintf(dbglun, " %3d: %7d %12ld\n", k, e->type, static_cast<long>(e->index));
  }
  int ntask = 0;
  int32_t last = 0;
  for (int32_t a = rts.chain; a; a = rttask(a)->chain) ntask++, last = a;
  jprintf(dbglun, "CHKS: %d   1st= %d\tLast=%d\n\t# List L_Nops  Rptflg  R_Nops\n", ntask,
          rts.chain, last);
  jprintf(dbglun, "  1=%ld\t2=%ld\n", static_cast<long>(rts.lst.nops), static_cast<long>(rts.lst.nblk));
  for (int32_t a = rts.chain; a; a = rttask(a)->chain) {
    RtTask* t = rttask(a);
    jprintf(dbglun, "%4d: %2d  %4ld ", t->seq, t->list, static_cast<long>(rts.lst.nops));
    if (t->block) {
      RtRpt* b = rtrpt(t->block);
      RtOp* f = rtop(b->first);
      jprintf(dbglun, "\t1  %4d\t%4d\n", b->nops, f ? f->opc : 0);
    } else {
      jprintf(dbglun, "%12ld\t%4d\n", static_cast<long>(rts.lst.nops), first->opc);
    }
  }
}

void freetab(int32_t& a) {
  if (a > 0) putstk(a, 0, 0);
  a = 0;
}
}  // namespace

const char* rttmpname() { return tmpname.c_str(); }

void rtdrop(int unit) {
  char line[LINBUF + 8];
  while (!(state & ST_INTR) && rdline(unit, line, LINBUF) >= 0)
    if (lincls(line) & 2) return;
}

int rdrtime(int unit, const char* name, int inlin) {
  int N = lngarg(6, 20);
  if (N < 1) N = 20;
  if (N > 80) N = 80;
  rts.rtfact = N;
  rts.varmax = 20 * N;
  rts.conmax = 32 * N;
  Comp c;
  c.labmax = 20 * N;
  rts.vartab = rtalloc(int64_t(rts.varmax) * RTVARW);
  rts.contab = rtalloc(int64_t(rts.conmax) * RTCONW);
  rts.nvars = rts.ncons = 0;
  if (!rts.vartab || !rts.contab) {
    error(0, 173);
    freetab(rts.vartab);
    freetab(rts.contab);
    return -1;
  }
  // Errors of the compile name the script and its line, as for a macro.
  const bool ownmac = unit >= 0 && unit == macunt();
  const uint16_t savmod = macmod;
  const int16_t savlin = maclin;
  const int32_t savfrm = frmadr;
  const int32_t savbot = lstk.bot;
  if (!ownmac) {
    if (macmod == 0) macmod = 1;
    maclin = 0;
    int32_t f = botget(FRMWDS);
    if (f) {
      std::memset(wordp(f), 0, FRMWDS * 4);
      MacFrame* fr = static_cast<MacFrame*>(static_cast<void*>(wordp(f)));
      fr->magic = FRMMAGIC;
      fr->prev = savfrm;
      cpystr(name ? name : "", fr->name, -255);
      frmadr = f;
    }
  }
  const int32_t savtop = scrtop;
  char line[LINBUF + 8];
  int lnum = 0;
  bool endfound = false;
  bool anyerr = false;  // an error of an earlier line (kept aside so that
                        // the variables of later lines still resolve)
  for (;;) {
    setscr(savtop);
    if (state & ST_ERROR) {
      anyerr = true;
      state &= ~ST_ERROR;
    }
    if (state & ST_INTR) break;
    int n = rdline(unit, line, LINBUF);
    if (n < 0) {
      endfound = true;
      break;
    }
    lnum++;
    if (!ownmac) maclin = static_cast<int16_t>(maclin + 1);
    if (trcmsk & 2) jprintf(dbglun, "%3d: %s\n", lnum, line);
    n = prepro(line, n, LINBUF, 7);
    rewrite(line);
    std::memcpy(linbuf, line, static_cast<size_t>(n) + 1);
    prsflg = PF_PARSE | 7;
    int code = 0;
    nargw = 0;
    if (n > 0) PARSLN(n, &code);
    lsttok = -1;
    lstsrc = 0;
    if (nargw < 1) {
      if (unit == inpunt() && !inlin) {
        endfound = true;
        break;
      }
      continue;
    }
    if (code == OP_RBRACE && inlin) {
      endfound = true;
      break;
    }
    if (trcmsk & 0x100) trckey(code);
    RtOp op;
    if (!compline(c, op, lnum)) continue;
    trcint(8, "RDRTIME", lnum, op.opc, op.flg, op.code, op.len, c.nops);
    int bytes = op.len * 4;
    std::memcpy(c.buf + c.nbuf, &op, static_cast<size_t>(bytes));
    c.nbuf += bytes;
    c.nops++;
    c.nwords += op.len;
    if (c.nbuf >= SPILL && !spill(c)) break;
    chkio(0);
  }
  state &= ~ST_STOP;
  if (anyerr) state |= ST_ERROR;
  // The macro context back.
  if (!ownmac) {
    macmod = savmod;
    maclin = savlin;
    frmadr = savfrm;
    botcut(savbot);
  }
  setscr(savtop);
  int32_t listadr = 0;
  auto giveup = [&]() {
    if (c.fd >= 0) {
      close(c.fd);
      unlink(tmpname.c_str());
    }
    freetab(rts.vartab);
    freetab(rts.contab);
    freetab(rts.filtab);
    rts.nvars = rts.ncons = 0;
    return -1;
  };
  if (state & 0x8180) {
    // The rest of the script is passed over.
    if (!endfound) {
      char skip[LINBUF];
      if (inlin) {
        int number = 0;
        while (true) {
          int r = readky(unit, 0, &number);
          if (r <= 0 || r == 2 || (r & 2)) break;
        }
      } else if (unit == inpunt()) {
        while (rdline(unit, skip, LINBUF) > 0) {
        }
      }
    }
    return giveup();
  }
  if (c.open > 0) {
    error(0, 199);
    return giveup();
  }
  if (c.nspill > 0 && c.nbuf > 0) {
    std::memset(c.buf + c.nbuf, 0, static_cast<size_t>(SPILL - c.nbuf % SPILL) % SPILL);
    c.nbuf = SPILL;
    if (!spill(c)) return giveup();
  }
  if (c.nops == 0) {
    error(0, 170);
    return giveup();
  }
  int64_t words = int64_t(c.nwords) + c.ncase + 2;
  int32_t blk = rtalloc(words);
  if (!blk) {
    error(0, 173);
    return giveup();
  }
  listadr = blk + 1;
  rts.lst.oplist = listadr;
  rts.lst.nops = static_cast<uint32_t>(c.nops);
  int32_t ma = newlst();
  if (!ma) {
    error(0, 173);
    putstk(blk, 0, 0);
    rts.lst.oplist = 0;
    return giveup();
  }
  rts.lst.main = ma;
  rts.head = rts.tail = ma;
  rttask(ma)->next = listadr;
  // The ops into the list: from the spill file, then the buffer.
  uint8_t* dst = static_cast<uint8_t*>(static_cast<void*>(wordp(listadr)));
  int64_t want = int64_t(c.nwords) * 4, got = 0;
  for (int r = 0; r < c.nspill && got < want; r++) {
    uint8_t rec[SPILL];
    if (pread(c.fd, rec, SPILL, static_cast<off_t>(r) * SPILL) != SPILL) {
      error(0, 172);
      break;
    }
    int64_t k = std::min<int64_t>(SPILL, want - got);
    std::memcpy(dst + got, rec, static_cast<size_t>(k));
    got += k;
  }
  if (got < want && c.nspill == 0) {
    std::memcpy(dst, c.buf, static_cast<size_t>(want));
    got = want;
  }
  if (c.fd >= 0) {
    close(c.fd);
    unlink(tmpname.c_str());
    c.fd = -1;
  }
  int32_t casadr = listadr + c.nwords + 2;
  if (!stopped()) {
    // Labels are linked only for jumps, which the compiler refuses.
    pass2(c, listadr, casadr);
  }
  trcint(8, "rdRTIME", 0, c.nops, c.nwords, rts.nvars, rts.ncons, state);
  if (!stopped() && (trcmsk & 8)) listing(listadr);
  if (stopped()) {
    rtfree();
    return -1;
  }
  return 0;
}

// ---- Trace listings ------------------------------------------------------------

void rtvdump(int tag) {
  for (int i = 0; i < rts.nvars; i++) {
    const RtOpnd* e = entry(rts.vartab + 1 + i * RTVARW);
    jprintf(dbglun, " Vrb%2d  %2d: %6d %6d %6d %6d\n", tag, i, static_cast<int>(e->offset), e->index,
            e->data, e->type);
  }
}

void rttdump(int tag) {
  int pos = 0;
  for (int32_t a = rts.head; a; a = rttask(a)->rnext, pos++) {
    RtTask* t = rttask(a);
    RtRpt* b = rtrpt(t->block);
    RtOp* cur = rtop(t->cur);
    jprintf(dbglun, " Chk%2d  %2d: %3d %3d %3d %3d %3d %8d\n", tag, pos, t->seq, t->opcode,
            b ? b->cdown : 0, static_cast<int>(rts.lst.nops), cur ? cur->opc : 0,
            static_cast<int>(t->due));
  }
  RtOp* op = rtop(rts.lst.oplist);
  for (uint32_t i = 0; op && op->opc && i < rts.lst.nops; i++, op = rtnext(op))
    jprintf(dbglun, "  %3d: %3d %3oo %2d %12d\n", i, op->opc, op->flg, op->len, op->time);
}

void rtwdump(int tag, int unit) {
  (void)tag;
  int pos = 0;
  for (int32_t a = rts.head; a; a = rttask(a)->rnext, pos++) {
    RtTask* t = rttask(a);
    RtOp* cur = rtop(t->cur);
    jprintf(unit > 0 ? unit : dbglun,
            unit > 0 ? " Chk%2d  %2d: %3d %3d %3d %8d [%d,%d %dx%d %xh %d]\n"
                     : " Chk%2d  %2d: %3d %3d %3d %8d[%d,%d %dx%d %xh %d]\n",
            tag, pos, t->seq, t->opcode, cur ? cur->opc : 0, static_cast<int>(t->due), t->clip[0],
            t->clip[1], t->clip[2] - t->clip[0], t->clip[3] - t->clip[1],
            static_cast<unsigned>(t->wport), t->window);
  }
}
