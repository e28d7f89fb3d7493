// The function dispatcher: the function table and `dofunc`, which sets up
// the operand table for one function item, sizes the destination, runs the
// operation and stores the result.
#include "compute/func.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "compute/analyze.h"
#include "compute/arith.h"
#include "compute/colour.h"
#include "compute/xform.h"
#include "compute/expr.h"
#include "compute/filter.h"
#include "compute/fit.h"
#include "compute/fnsvc.h"
#include "compute/funcs.h"
#include "compute/genrat.h"
#include "compute/opstream.h"
#include "compute/qarith.h"
#include "compute/rank.h"
#include "compute/smooth.h"
#include "compute/trace.h"
#include "compute/warp.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "realtime/devices/devvar.h"

void fnfresh(FnCall& c, bool covers) {
  // The items may end inside the last word: it is cleared either way.
  if (c.fresh && c.freshw > 0) {
    if (covers)
      zerwds(c.fresh + static_cast<int32_t>(c.freshw - 1), 1);
    else
      zerwds(c.fresh, c.freshw);
  }
  c.fresh = 0;
}

int fnrefus(FnCall& c, int arg, int code) {
  if (code) error(arg, code);
  c.ret = code ? 0 : -1;
  return FS_RET;
}

namespace {

// Shorthands for the table.
constexpr uint8_t GD = FN_GETDST | FN_ARRAY;  // the rows 209 .. 232
constexpr uint8_t CV = FN_OPW | FN_KEEP | FN_COVER;  // convolve and filter

#define LOOP(c, w) {c, w, SU_DEF, RC_OPND, 0, 0, 0, 0, OP_LOOP, nullptr, nullptr}
#define LOOPD(c, w) {c, w, SU_DEF, RC_OPND, 0, 0, 0, GD, OP_LOOP, nullptr, nullptr}
#define TEXT(c, w, s) {c, w, SU_OWN, RC_SET, 0, 8, K_STRING, 0, OP_HERE, s, nullptr}

// The function table: one row per code, in code order. Columns: code, word,
// set-up rule, result count rule, its count (or dimension), result element
// code (0: float), kind of a temporary result, flags, how the work is done,
// the set-up step and the operation.
constexpr FnDef fntab[] = {
    {37, "string", SU_DEF, RC_SET, 0, 8, K_STRING, 0, OP_HERE, su_strng, nullptr},
    {38, "array", SU_DEF, RC_OPND, 0, 0, 0, FN_DEFER, OP_DECL, nullptr, run_redim},
    {39, "matrix", SU_DEF, RC_OPND, 0, 0, 0, FN_DEFER, OP_DECL, nullptr, run_redim},
    {40, "file", SU_DEF, RC_OPND, 0, 0, 0, FN_DEFER, OP_DECL, su_file, run_file},
    {41, "image", SU_DEF, RC_OPND, 0, 0, 0, FN_DEFER, OP_DECL, nullptr, nullptr},
    {42, "solid", SU_DEF, RC_OPND, 0, 0, 0, FN_DEFER, OP_DECL, nullptr, run_redim},
    {43, "pointer", SU_DEF, RC_OPND, 0, 0, 0, FN_DEFER, OP_DECL, nullptr, nullptr},
    {62, "window", SU_DEF, RC_FIX, 1, 32, 0, 0, OP_HERE, nullptr, run_window},
    {103, "{", SU_OWN, RC_SET, 0, 96, 0, 0, OP_HERE, su_brace, run_accept},
    LOOP(201, "log"),
    LOOP(202, "alog"),
    LOOP(203, "sin"),
    LOOP(204, "asin"),
    LOOP(205, "cos"),
    LOOP(206, "acos"),
    LOOP(207, "sqrt"),
    {208, "sweep", SU_OWN, RC_SET, 0, 96, K_ARRAY, FN_GETDST, OP_HERE, su_sweep, nullptr},
    {209, "max", SU_DEF, RC_MAXMIN, 0, 0, 0, GD, OP_LOOP, nullptr, nullptr},
    {210, "min", SU_DEF, RC_MAXMIN, 0, 0, 0, GD, OP_LOOP, nullptr, nullptr},
    {211, "sum", SU_DEF, RC_SUM, 0, 0, 0, GD, OP_LOOP, nullptr, nullptr},
    {212, "mean", SU_DEF, RC_FIX, 1, 0, 0, GD, OP_LOOP, nullptr, nullptr},
    {213, "stdev", SU_DEF, RC_FIX, 1, 0, 0, GD, OP_LOOP, nullptr, nullptr},
    {214, "stats", SU_DEF, RC_FIX, 12, 0, K_ARRAY, GD, OP_LOOP, nullptr, nullptr},
    {215, "size", SU_DEF, RC_SET, 0, 32, 0, GD, OP_HERE, su_size, run_size},
    {216, "address", SU_DEF, RC_FIX, 1, 32, 0, GD, OP_HERE, nullptr, run_addr},
    {217, "mode", SU_DEF, RC_FIX, 1, 32, 0, GD, OP_HERE, nullptr, run_mode},
    {218, "length", SU_DEF, RC_FIX, 1, 96, 0, GD, OP_HERE, nullptr, run_length},
    {219, "angle", SU_DEF, RC_FIX, 1, 96, 0, GD, OP_HERE, nullptr, run_angle},
    {220, "area", SU_DEF, RC_FIX, 1, 96, 0, GD, OP_HERE, su_vlist, run_area},
    {221, "measure", SU_DEF, RC_FIX, 2, 96, 0, GD, OP_HERE, su_vlist, run_area},
    {222, "compress", SU_DEF, RC_OPND, 0, 0, 0, GD, OP_LOOP, su_comprs, nullptr},
    LOOPD(223, "substitute"),
    LOOPD(224, "frequency"),
    LOOPD(225, "bin"),
    {226, "transform", SU_DEF, RC_OPND, 0, 0, 0, GD | FN_OPW | FN_COVER, OP_HERE, su_trnsfm, trnsfm},
    {227, "analyze", SU_DEF, RC_SET, 0, 32, 0, GD, OP_HERE, su_anlyz, run_anlyz},
    LOOPD(228, "correlate"),
    {229, "row", SU_DEF, RC_SET, 0, 0, 0, GD, OP_HERE, su_rowcol, run_rowcol},
    {230, "column", SU_DEF, RC_SET, 0, 0, 0, GD, OP_HERE, su_rowcol, run_rowcol},
    {231, "zproj", SU_DEF, RC_SET, 0, 0, 0, GD, OP_HERE, su_rowcol, run_rowcol},
    {232, "projection", SU_DEF, RC_FIX, 12, 96, 0, GD, OP_HERE, nullptr, run_proj},
    {233, "ucase", SU_DEF, RC_OPND, 0, 0, 0, FN_OPW, OP_LOOP, su_case, run_case},
    {234, "lcase", SU_DEF, RC_OPND, 0, 0, 0, FN_OPW, OP_LOOP, su_case, run_case},
    LOOP(235, "integer"),
    LOOP(236, "round"),
    LOOP(237, "rem"),
    LOOP(238, "xor"),
    {239, "time", SU_OWN, RC_SET, 0, 0, 0, 0, OP_HERE, su_time, run_time},
    {240, "getbox", SU_OWN, RC_SET, 0, 16, 0, 0, OP_HERE, su_getbox, run_getbox},
    {241, "getxy", SU_OWN, RC_SET, 0, 16, 0, 0, OP_HERE, su_point, run_getxy},
    {242, "perp", SU_DEF, RC_FIX, 1, 136, 0, 0, OP_HERE, su_perp, run_perp},
    {243, "vector", SU_OWN, RC_SET, 0, 16, 0, 0, OP_HERE, su_point, run_vector},
    {244, "random", SU_OWN, RC_SET, 0, 96, 0, 0, OP_GEN, su_gen, nullptr},
    {245, "ramp", SU_OWN, RC_SET, 0, 0, 0, 0, OP_GEN, su_gen, nullptr},
    {246, "maklut", SU_OWN, RC_SET, 0, 16, 0, 0, OP_HERE, su_maklut, run_maklut},
    {247, "accept", SU_OWN, RC_SET, 0, 0, 0, 0, OP_HERE, su_accept, run_accept},
    TEXT(248, "format", su_format),
    {249, "map", SU_DEF, RC_OPND, 0, 0, 0, FN_COVER | FN_KEEP, OP_HERE, su_map, run_map},
    {250, "matmul", SU_DEF, RC_OPND, 0, 0, 0, 0, OP_HERE, su_matmul, run_matmul},
    {251, "rank", SU_DEF, RC_OPND, 0, 0, 0, 0, OP_HERE, su_rank, run_rank},
    LOOP(252, "align"),
    {253, "findvec", SU_OWN, RC_FIX, 1, 32, 0, 0, OP_HERE, su_fndvec, run_fndvec},
    {254, "warp", SU_DEF, RC_OPND, 0, 0, 0, 0, OP_HERE, su_warp, run_warp},
    {255, "smooth", SU_DEF, RC_OPND, 0, 0, 0, FN_OPW | FN_KEEP, OP_HERE, su_smooth, run_smooth},
    {256, "order", SU_DEF, RC_OPND, 0, 0, 0, 0, OP_HERE, su_order, run_order},
    {257, "search", SU_OWN, RC_SET, 0, 16, 0, 0, OP_HERE, su_trace, run_trace},
    {258, "trace", SU_OWN, RC_SET, 0, 16, 0, FN_STOPND, OP_HERE, su_trace, run_trace},
    {259, "sample", SU_OWN, RC_SET, 0, 96, 0, 0, OP_HERE, su_sample, nullptr},
    {260, "getchar", SU_OWN, RC_FIX, 1, 16, 0, 0, OP_HERE, nullptr, run_getchar},
    {261, "mask", SU_DEF, RC_OPND, 0, 0, 0, FN_OPW, OP_HERE, su_mask, run_mask},
    LOOP(262, "accum"),
    TEXT(263, "gettxt", su_gettxt),
    {264, "zoom", SU_DEF, RC_OPND, 0, 0, 0, FN_OPW | FN_STOPND, OP_HERE, su_zoom, run_zoom},
    {265, "menuitem", SU_OWN, RC_SET, 0, 0, 0, 0, OP_HERE, su_menu, nullptr},
    {266, "interpolate", SU_DEF, RC_OPND, 0, 0, 0, FN_KEEP, OP_HERE, su_ipolat, run_ipolat},
    {267, "flip", SU_DEF, RC_OPND, 0, 0, 0, FN_OPW | FN_KEEP, OP_HERE, su_flip, run_flip},
    LOOP(268, "invert"),
    {269, "convolve", SU_DEF, RC_OPND, 0, 0, 0, CV, OP_HERE, su_conv, run_conv},
    {270, "dither", SU_DEF, RC_OPND, 0, 0, 0, FN_STOPND, OP_HERE, su_dither, run_dither},
    {271, "filter", SU_DEF, RC_OPND, 0, 0, 0, CV, OP_HERE, su_conv, run_conv},
    {272, "vrbxy", SU_OWN, RC_SET, 0, 16, 0, 0, OP_HERE, su_point, run_getxy},
    {273, "dialog", SU_OWN, RC_SET, 0, 0, 0, 0, OP_HERE, su_dialog, nullptr},
    {274, "alert", SU_OWN, RC_FIX, 1, 16, 0, FN_STOPND, OP_HERE, nullptr, run_alert},
    {275, "index", SU_DEF, RC_OPND, 0, 16, 0, 0, OP_HERE, su_index, run_index},
    {276, "peak", SU_DEF, RC_SET, 0, 32, K_ARRAY, 0, OP_HERE, su_peak, nullptr},
    {277, "color", SU_DEF, RC_OPND, 0, 8, 0, 0, OP_HERE, su_rgb, run_color},
    TEXT(278, "getfile", su_getfil),
    TEXT(279, "pdstr", su_pdstr),
    {280, "comread", SU_OWN, RC_SET, 0, 8, K_STRING, 0, OP_HERE, su_comrd, nullptr},
    {281, "rgb", SU_DEF, RC_OPND, 0, 24, 0, 0, OP_HERE, su_rgb, run_rgb},
    LOOP(282, "shift"),
    LOOP(283, "atan"),
    {284, "fit", SU_DEF, RC_SET, 0, 96, 0, 0, OP_HERE, su_fit, run_fit},
    {285, "swap", SU_DEF, RC_OPND, 0, 0, 0, FN_OPW | FN_KEEP, OP_HERE, su_swap, run_swap},
    {286, "resource", SU_OWN, RC_SET, 0, 0, 0, 0, OP_HERE, su_resrc, run_resrc},
    {287, "stereogram", SU_DEF, RC_OPND, 0, 8, 0, 0, OP_HERE, su_stereo, run_stereo},
    {288, "fmode", SU_DEF, RC_FIX, 4, 8, 0, FN_STOPND, OP_HERE, nullptr, run_fmode},
    TEXT(289, "name", su_name),
    LOOP(290, "numbits"),
    {291, "import", SU_OWN, RC_SET, 0, 0, 0, 0, OP_HERE, su_import, run_import},
    LOOP(292, "eyepos"),
    {293, "open", SU_OWN, RC_FIX, 1, 16, 0, FN_STOPND, OP_HERE, nullptr, run_open},
    {294, "parse", SU_OWN, RC_SET, 0, 16, K_ARRAY, 0, OP_HERE, su_parse, nullptr},
    TEXT(295, "getenv", su_getenv),
    {1203, "series", SU_OWN, RC_SET, 0, 96, 0, 0, OP_GEN, su_gen, nullptr},
};

#undef LOOP
#undef LOOPD
#undef TEXT

constexpr bool ordered() {
  for (size_t i = 1; i < std::size(fntab); i++)
    if (fntab[i].code <= fntab[i - 1].code) return false;
  return true;
}
static_assert(ordered(), "the function table is in code order");

// Every function word 201 .. 295 has its row.
constexpr bool complete() {
  for (int c = 201; c <= 295; c++) {
    bool found = false;
    for (const FnDef& f : fntab) found = found || f.code == c;
    if (!found) return false;
  }
  return true;
}
static_assert(complete(), "every function word has a row");

// Operand row k (0 or 1) from argument a: its handle and, for a record,
// the counts, kind and word size from gtvarb.
void ldarg(int k, int a) {
  int32_t h = 0;
  int kind = argtyp(a, &h);
  optab[OT_ID + k] = h;
  if (h > 0 && ptrrec(h)) {
    ldopnd(k, h);
  } else {
    optab[OT_REC + k] = 0;
    optab[OT_KIND + k] = kind;
  }
}

// The default set-up: operands, counts, and the row's count rule.
void defset(FnCall& c) {
  int32_t* t = optab;
  const FnDef* f = c.def;
  ldarg(0, 2);
  t[OT_RWSZ] = W_FLOAT;
  t[OT_RCNT] = t[OT_CNT];
  if (c.n > 1) ldarg(1, 3);
  putslt(0, 0.0);
  if (f->flags & FN_GETDST) getdst(c.dest);
  c.ecnt = t[OT_RCNT];
  switch (f->count) {
    case RC_FIX:
      t[OT_RCNT] = f->nres;
      break;
    case RC_MAXMIN:
      if (c.n == 1 || (c.n == 2 && t[OT_CNT + 1] == 1)) t[OT_RCNT] = 1;
      break;
    case RC_SUM:
      t[OT_RCNT] = t[OT_REC + 2] && t[OT_CNT + 2] > 0 ? t[OT_CNT + 2] : 1;
      break;
    default:
      break;
  }
}

// Applies the row's element code and temporary kind.
void rowset(FnCall& c) {
  int32_t* t = optab;
  const FnDef* f = c.def;
  if (f->elem) t[OT_RWSZ] = f->elem;
  if (f->flags & FN_OPW) t[OT_RWSZ] = t[OT_WSIZ] ? t[OT_WSIZ] : W_FLOAT;
  if (f->dkind && !t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = f->dkind;
}

// One vector record into record 0 of a vector destination.
void putrec(const void* rec, PtrRec* d) {
  int32_t cnt, part, tot, ws;
  if (!d || !gtvarb(d, &cnt, &part, &tot, &ws, 115) || cnt < 1 || ws != W_VEC) return;
  if (part < 1) DMPVRB(d, &part, 1, 0);
  if (part < 1) return;
  if (uint8_t* p = dptr(d)) std::memcpy(p, rec, 8);
  DMPVRB(d, &part, 0, 0);
}

// Function calls written inside the item's argument list are evaluated
// first, each as an expression of its own, and the list entry is rewritten
// with the result so that every later read of the argument finds it. The
// item's list becomes the argument source again afterwards. -1 on failure.
int evlnst(int32_t item) {
  PtrRec* it = ptrrec(item);
  int n = it->Args > 0 ? std::max<int>(it->Wsiz, 0) : 0;
  for (int k = 0; k < n; k++) {
    uint32_t* list = stkwp(it->Args);
    if (!list) return -1;
    PtrRec* r = ptrrec(static_cast<int32_t>(list[1 + k]));
    if (!r || (r->Flg & 0x2009) != 0x2001 || !fndef(r->Idx)) continue;
    auto* l = static_cast<uint32_t*>(getbuf(8));
    if (!l) return -1;
    l[0] = 1;
    l[1] = list[1 + k];
    int32_t res = doexpr(stkadr(l));
    argset(-1, item);
    it = ptrrec(item);
    if (res <= 0 || stopped()) return -1;
    stkwp(it->Args)[1 + k] = static_cast<uint32_t>(res);
  }
  return 0;
}

// A call whose destination is also one of its operands. The element loop
// reads each element before it writes it: with the destination seen
// through the operands' own window, and storage that stays as it is, it
// works in place (mode 2); so does a row that handles its destination as
// operand 1 itself (FN_KEEP). Any other such call would read what it has
// already written, or storage remade for the result: its operand is read
// from a copy taken first, so that the call gives what it gives into
// another variable.

// Rows that read only what their operand is (its size, kind, address or
// transform), never its data.
bool metarow(int code) { return code == 215 || code == 216 || code == 217 || code == 232; }

// Whether record r reaches the data of destination d: the same symbol
// variable, the same data block, or the same file.
bool selfvar(const PtrRec* d, const PtrRec* r) {
  if (!d || !r) return false;
  if (d == r) return true;
  if ((d->Flg & K_NAMED) && (r->Flg & K_NAMED) && d->Idx > 0 && d->Idx == r->Idx) return true;
  if ((d->Flg & K_FILE) && (r->Flg & K_FILE)) {
    const FilRec* a = filrec(d);
    const FilRec* b = filrec(r);
    return a && b &&
           (a == b || (a->Lun > 0 && a->Lun == b->Lun) || std::strncmp(a->Nam, b->Nam, 256) == 0);
  }
  return (d->Flg & K_DATA) && (r->Flg & K_DATA) && !((d->Flg | r->Flg) & (K_VALUE | K_FILE)) &&
         d->Addr != 0 && d->Addr == r->Addr;
}

bool samewin(const PtrRec* a, const PtrRec* b) {
  return std::memcmp(a->Offs, b->Offs, sizeof a->Offs) == 0;
}

// Whether a destination of kind k may be one of its operands' variable: a
// variable with data, other than vector records (rewritten record by
// record) and lists but for one element (a list is copied element by
// element).
bool selfkind(int k, int32_t tot) {
  return (k & K_DATA) && !(k & K_VECTOR) && (!(k & K_LIST) || ((k & 1) && tot == 1));
}

// Whether the call is one whose operands may be its destination's variable.
bool selfrow(const FnCall& c) {
  const FnDef* f = c.def;
  return c.dest > 0 && f->setup == SU_DEF && !(f->flags & FN_DEFER) && !metarow(c.code);
}

// A copy of the window of the variable behind handle h, in a temporary of
// its own with the same kind, shape, word size and transform (an element
// of a list becomes a plain string or array). Its handle, or 0 when there
// is no room (error 42 reported).
int32_t snapvar(int32_t h) {
  int32_t* outer = optab;
  if (!newopt()) return 0;
  int32_t* t = optab;
  int k = ldopnd(0, h);
  PtrRec* s = oprec(0);
  int32_t res = 0;
  if (s) {
    t[OT_RCNT] = std::max(t[OT_CNT], 0);
    t[OT_RWSZ] = t[OT_WSIZ];
    int want = k & K_DATA & ~K_LIST;
    if (k & K_LIST) want = (k & K_STRING) ? K_STRING : K_ARRAY;
    t[OT_KIND + 2] = want ? want : K_ARRAY;
    // One element stays a variable of its kind and shape: a number would
    // give the call another result than the window it copies.
    outkeep = true;
    const int made = setout(0, 0);
    outkeep = false;
    if (made > 0) {
      res = t[OT_ID + 2];
      // One element goes through the element loop: the fast copy would
      // turn the source's record into a number.
      if (t[OT_RCNT] > 0 && !(t[OT_RCNT] > 1 && t[OT_WSIZ] == t[OT_WSIZ + 2] && qcopy()))
        ariths(115, t[OT_RCNT], 1);
      PtrRec* r = oprec(2);
      uint16_t w = 0;
      const XfmRec* x = xfhold(s, &w, false);
      if (r && x && (w & F2_XFORM) && !(r->Flg & K_VALUE)) {
        // The transform goes with the data (a copy of its record).
        auto* y = static_cast<XfmRec*>(zeroblk(static_cast<int32_t>(sizeof(XfmRec)) | 1));
        if (y) {
          uint32_t own = y->Ptr;
          std::memcpy(y, x, sizeof(XfmRec));
          y->Ptr = own;
          r->Xfrm = static_cast<int32_t>(own);
          r->Flg2 = static_cast<uint16_t>((r->Flg2 & ~F2_XFORM) | (w & F2_XFORM));
        }
      }
      if (stopped()) res = 0;
    }
  }
  optab = outer;
  return res;
}

// Argument a of the call (2 = operand 1) read from now on from handle h.
void setarg(int a, int32_t h) {
  PtrRec* it = ptrrec(lstsrc);
  uint32_t* list = it && it->Args > 0 ? stkwp(it->Args) : nullptr;
  if (list && a >= 2 && a - 2 < it->Wsiz) list[a - 1] = static_cast<uint32_t>(h);
}

// Before the set-up of a row with its own operation: every argument that
// is the destination's variable is read from a copy (a row marked FN_KEEP
// keeps operand 1 seen through the destination's window). 0 on failure.
int selfcopy(const FnCall& c) {
  const FnDef* f = c.def;
  PtrRec* d = ptrrec(c.dest);
  if (f->op == OP_LOOP || !selfrow(c) || !d) return 1;
  int32_t hs[8];
  int as[8], m = 0;
  for (int a = 2; a <= c.n + 1 && m < 8; a++) {
    int32_t h = 0;
    argtyp(a, &h);
    if (!selfvar(d, ptrrec(h))) continue;
    hs[m] = h;
    as[m++] = a;
  }
  if (m == 0) return 1;
  int32_t cnt, part, tot, ws;
  int dk = gtvarb(d, &cnt, &part, &tot, &ws, 115);
  if (!selfkind(dk, tot)) return 1;
  // (A diagonal flip of a window that is not square gives another shape:
  // it is read from a copy.)
  const bool reshape = c.code == 267 && (intarg(3, 0) & 4) && d->Offs[3] != d->Offs[4];
  if ((f->flags & FN_KEEP) && m == 1 && as[0] == 2 && !(dk & K_LIST) && !reshape) {
    // The row's own copy of operand 1 knows a symbol variable seen through
    // the destination's window.
    PtrRec* r = ptrrec(hs[0]);
    if (r != d) gtvarb(r, &cnt, &part, &tot, &ws, 0);
    if (samevar(c.dest, r) && !(r->Flg & K_LIST) && samewin(r, d)) return 1;
  }
  for (int i = 0; i < m; i++) {
    int32_t h = snapvar(hs[i]);
    if (!h) return 0;
    setarg(as[i], h);
  }
  return 1;
}

// At the result stage of the element loop: 2 when it runs in place, 1 when
// its operands that are the destination's variable were replaced by
// copies, 0 on failure.
int selfloop(const FnCall& c) {
  int32_t* t = optab;
  PtrRec* d = oprec(2);
  if (c.def->op != OP_LOOP || !selfrow(c) || !d || !selfkind(t[OT_KIND + 2], t[OT_TOT + 2]))
    return 1;
  bool same[2] = {selfvar(d, oprec(0)), selfvar(d, oprec(1))};
  if (!same[0] && !same[1]) return 1;
  int dk = t[OT_KIND + 2];
  bool inplace = !((t[OT_KIND] | t[OT_KIND + 1] | dk) & K_LIST);
  for (int k = 0; k < 2; k++)
    if (same[k] && !samewin(oprec(k), d)) inplace = false;
  // Only while the destination keeps its count, and its shape (a matrix,
  // image or solid takes the shape of its first shaped operand, which must
  // then be the destination itself).
  int32_t n = t[OT_RCNT];
  if (t[OT_CNT + 2] != n) inplace = false;
  if (dk & K_HDR) {
    int j = (t[OT_KIND] & 0x0E80) ? 0 : (t[OT_KIND + 1] & 0x0E80) ? 1 : -1;
    if (j < 0 || !same[j]) inplace = false;
  }
  if (inplace) return 2;
  for (int k = 0; k < 2; k++) {
    if (!same[k]) continue;
    int32_t h = snapvar(t[OT_ID + k]);
    if (!h) return 0;
    ldopnd(k, h);
  }
  return 1;
}

void trcset(FnCall& c, int point) {
  int32_t* t = optab;
  trcint(8, "dofunc", point, c.code, t[OT_RCNT], t[OT_RWSZ], c.store, c.defer);
  if ((trcmsk & 0x200) == 0x200) {
    trcptr(0x200, "  var1 ", 0, t[OT_REC]);
    trcptr(0x200, "  var2 ", 0, t[OT_REC + 1]);
    trcptr(0x200, "VrbDst", 0, t[OT_REC + 2]);
  }
}

}  // namespace

const FnDef* fndef(int code) {
  auto it = std::lower_bound(std::begin(fntab), std::end(fntab), code,
                             [](const FnDef& f, int v) { return f.code < v; });
  return it != std::end(fntab) && it->code == code ? &*it : nullptr;
}

int dofunc(int code, int32_t item, int depth, int32_t* stack, int32_t* dest) {
  int32_t nodest = 0;
  if (!dest) dest = &nodest;
  PtrRec* it = ptrrec(item);
  // The command dispatcher's route has no item to take operands from (the
  // line reader never makes it), and an item that counts operands but has
  // no argument list is no function call: both are refused.
  if (!it || !(it->Flg & K_ARGS) || (it->Wsiz > 0 && it->Args < 1) || !stack || depth < 0) {
    error(0, 71);
    return 0;
  }
  if (!optab && !newopt()) return 0;

  FnCall c{};
  c.orig = code;
  c.n = std::max<int>(it->Wsiz, 0);
  c.depth = depth;
  c.stack = stack;
  c.dest = *dest > 0 ? *dest : 0;
  argset(-1, item);
  trcint(8, "dofunc", 10, code, c.n, depth, c.dest, 0);
  // A nested call that failed has reported it; one that ends without a
  // value leaves this call none either.
  if (evlnst(item) < 0) return (state & ST_ERROR) ? 0 : -1;
  clropt();
  int32_t* t = optab;

  if (c.n > 1 && (code == 203 || code == 205)) code = 1203;
  // A brace list closed on its line with fewer than two items ({5}) asks as
  // accept does, one typed line: only the opening brace alone reads the
  // block of lines that follows it.
  if (code == 103 && c.n < 2 && (it->Flg & 1)) code = 247;
  c.code = code;
  const FnDef* f = fndef(code);
  if (!f) {
    // A command word written as a function (sort(v)): no function of that
    // name.
    error(1, 162);
    return 0;
  }
  c.def = f;

  // Arguments that are the destination's own variable.
  if (!selfcopy(c)) return 0;

  // Set-up.
  t[OT_RWSZ] = W_FLOAT;
  if (f->setup == SU_DEF) {
    int32_t h = 0;
    if (code == 43 && argtyp(2, &h) == 20) {
      t[OT_ID] = t[OT_REC] = h;
      t[OT_KIND] = 20;
    } else {
      defset(c);
      // An element-wise function or reduction needs its first operand:
      // sin() or max(, v) has none to work on.
      if (f->op == OP_LOOP && !t[OT_REC]) {
        error(2, 47);
        return 0;
      }
    }
  } else if (f->count == RC_FIX) {
    t[OT_RCNT] = f->nres;
  }
  rowset(c);
  if ((f->flags & FN_STOPND) && c.dest <= 0) c.stop = true;
  if (f->set && f->set(c) == FS_RET) return c.ret;
  if ((f->flags & FN_ARRAY) && !t[OT_REC + 2] && c.dest <= 0 && !t[OT_KIND + 2] &&
      t[OT_RCNT] > 1)
    t[OT_KIND + 2] = K_ARRAY;

  // The result stage.
  if (c.store > 0 && !c.buf) {
    c.buf = fnbuf(c, c.store, t[OT_RWSZ]);
    if (!c.buf) return 0;
  }
  if (code >= 38 && code <= 43) c.defer++;
  bool made = false;
  // A destination remade for the result is put back if the function fails.
  AsnScope hold;
  if (c.defer == 0 && !c.stop) {
    if (!t[OT_REC + 2]) getdst(c.dest);
    // A one-character text replaces the whole text of a string variable
    // (mode 1), where one number would only fill its first element; so
    // does a function of a one-character text (ucase("z")).
    bool text = c.text || ((t[OT_KIND] & K_STRING) && !(t[OT_KIND + 2] & K_LIST));
    int mode = text && t[OT_RCNT] == 1 && (t[OT_KIND + 2] & K_STRING) ? 1 : 0;
    // A destination that is also an operand of the element loop.
    int self = selfloop(c);
    if (self == 0) return 0;
    if (self == 2) mode = 2;
    // An operation that reads its operand while it writes the result keeps
    // the operand's data when the destination is that same variable.
    if ((f->flags & FN_KEEP) && samevar(c.dest, oprec(0))) mode = 2;
    // An answer of one list element given to a list is assigned as the
    // assignment assigns a one-element list (mode 1): the destination is
    // made anew for it rather than left without an element.
    if ((code == 103 || code == 233 || code == 234 || code == 247 || code == 256 || code == 267 || code == 291) &&
        c.aux == 115 &&
        (t[OT_KIND] & K_LIST) && (t[OT_KIND + 2] & K_LIST) && t[OT_TOT] == 1)
      mode = 1;
    // import gives its destination the file's rows and columns, one value
    // too.
    if (code == 291) mode = 1;
    // Vector records take only vector records: other items are refused
    // before the destination is touched.
    if (c.store > 0 && t[OT_REC + 2] && t[OT_WSIZ + 2] == W_VEC && t[OT_RWSZ] != W_VEC) {
      error(0, 111);
      return 0;
    }
    // A destination of three bytes a pixel (nx 3) given colours keeps that
    // shape: as it is when it holds the result, else three by the pixels.
    // One given the colours of such a source keeps its own shape when it
    // holds the pixels, else it takes one row of them.
    PtrRec shape{};
    if ((code == 277 || code == 281) && c.aux && t[OT_RCNT] > 0) {
      if (t[OT_CNT + 2] == t[OT_RCNT] && mode == 0) mode = 2;
      bool three = c.aux & 1;
      shape.Offs[3] = three ? 3 : static_cast<uint32_t>(t[OT_RCNT]);
      shape.Offs[4] = three ? static_cast<uint32_t>(t[OT_RCNT] / 3) : 1;
      shape.Offs[5] = 1;
      outshape = &shape;
    }
    // A row that stores every item of its result has new storage for it
    // left uncleared (fnfresh), unless an operand is the destination's own
    // variable: that one then reads the cleared storage, as before.
    mkcover = (f->flags & FN_COVER) && !samevar(c.dest, oprec(0)) && !samevar(c.dest, oprec(1));
    mkfresh = MkFresh{};
    // A text result (of a text operand in characters, made as text, or a
    // text or string list zoomed) is one item of a string list.
    outtext = c.text || ((t[OT_KIND] & (K_STRING | K_LIST)) == K_STRING && t[OT_RWSZ] == W_BYTE &&
                         !(t[OT_KIND + 1] & K_LIST)) ||
              (code == 264 && (t[OT_KIND] & K_STRING));
    // A list's items are the result only where the row gathered them as a
    // list (anything else of a list is numbers, or a text).
    const bool items = c.aux == 115 && (t[OT_KIND] & K_LIST);
    outnums = !outtext && !items && (t[OT_KIND] & K_LIST);
    // A text given to several items of a string list becomes each of
    // them, and a result given to a text-file word (not a list's items)
    // its text: it is made as a temporary, which the assignment then gives
    // to them.
    if (t[OT_REC + 2] && ((outtext && lstwin(oprec(2), t[OT_KIND + 2])) || (txtword(oprec(2)) && !items))) {
      t[OT_REC + 2] = t[OT_ID + 2] = 0;
      t[OT_KIND + 2] = outtext ? K_STRING : 0;
      c.dest = 0;
      *dest = -1;
      mode = 0;
    }
    int made1 = setout(mode, t[OT_KIND]);
    outshape = nullptr;
    mkcover = outtext = outnums = false;
    c.fresh = mkfresh.addr;
    c.freshw = mkfresh.words;
    mkfresh = MkFresh{};
    if (made1 <= 0) {
      fnfresh(c, false);
      if (code == 291) import(-1);  // the file its first pass left open
      return 0;
    }
    stack[depth] = t[OT_ID + 2];
    depth++;
    made = true;
  }
  trcset(c, -2);
  dopause();

  // The operation.
  c.ret = 0;
  if (f->op == OP_GEN) {
    genrat(code, c.gen[0], c.gen[1], c.gen[2], c.gen[3]);
  } else if (f->run) {
    int rr = f->run(c);
    fnfresh(c, false);
    if (rr < 0) {
      if (c.stop) return -1;
      return 0;
    }
  } else if (f->op == OP_LOOP) {
    int nops = t[OT_REC + 1] ? 2 : 1;
    if (!t[OT_REC] || !hardop(code, nops)) ariths(code, c.ecnt, nops);
  }
  trcint(0x208, "dofunc", 34, code, c.store, t[OT_RWSZ], depth, c.defer);

  // Store.
  if (c.stop) return -1;
  if (c.store > 0 && c.buf && made && !(state & ST_ERROR)) {
    if (t[OT_RWSZ] == W_VEC)
      putrec(c.buf, oprec(2));
    else
      putvrb(c.buf, t[OT_RWSZ], t[OT_ID + 2], c.store);
  }
  if (c.defer) {
    ptrptr(depth, c.defer, code);
    return 0;
  }
  if (state & ST_ERROR) return 0;
  argset(-1, 0);
  return depth;
}
