// The functions computed inside the function dispatcher: declaration words
// used as functions, sizes and properties, vector geometry, time, keyboard
// and text input, file and environment queries, and the dispatcher's side
// of the handlers of other modules.
#include "compute/qreduce.h"
#include "compute/funcs.h"
#include "compute/xform.h"
#include "files/dirutil.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>

#include "compute/arith.h"
#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "compute/genrat.h"
#include "compute/opstream.h"
#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/fileutil.h"
#include "files/paths.h"
#include "files/rdary.h"
#include "lang/namehooks.h"
#include "realtime/devices/comport.h"
#include "realtime/devices/devvar.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/keys.h"
#include "ui/screen.h"
#include "ui/window.h"

uint32_t swbase = 0;

int itmbyt(int code) {
  if (code == W_VEC) return 8;
  return std::max((code & 63) / 8, 1);
}

void* fnbuf(FnCall& c, int32_t n, int code) {
  int64_t bytes = static_cast<int64_t>(std::max(n, 1)) * itmbyt(code);
  if (bytes <= static_cast<int64_t>(sizeof c.lbuf)) {
    std::memset(c.lbuf, 0, sizeof c.lbuf);
    return c.lbuf;
  }
  if (bytes > INT32_MAX - 16) {
    error(0, 42);
    return nullptr;
  }
  void* p = getbuf(static_cast<int32_t>(bytes));
  if (p) std::memset(p, 0, static_cast<size_t>(bytes));
  return p;
}

int settxt(FnCall& c, const char* text, int32_t len) {
  int32_t* t = optab;
  len = std::max(len, 0);
  t[OT_RWSZ] = W_BYTE;
  t[OT_RCNT] = len;
  if (!t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = K_STRING;
  c.store = len;
  c.buf = nullptr;
  c.text = true;
  if (len > 0) {
    c.buf = fnbuf(c, len, W_BYTE);
    if (!c.buf) {
      c.ret = 0;
      return FS_RET;
    }
    std::memcpy(c.buf, text, static_cast<size_t>(len));
  }
  return FS_GO;
}

int setlst(FnCall& c, const std::vector<std::string>& items) {
  int32_t* t = optab;
  PtrRec* r = putptr(K_STRING, 0, nullptr, 0, W_BYTE, 1);
  if (!r || !lstrec(r, items)) {
    if (!(state & ST_ERROR)) error(0, 42);
    return fnrefus(c, 0, 0);
  }
  r->Idx = -1;
  ldopnd(0, stkadr(r));
  t[OT_RWSZ] = t[OT_WSIZ];
  t[OT_RCNT] = t[OT_CNT];
  c.ecnt = t[OT_CNT];
  c.aux = 115;
  return FS_GO;
}

int lstres(FnCall& c, const std::vector<std::string>& items) {
  if ((getdst(c.dest) & (K_LIST | K_STRING | K_VECTOR)) == (K_LIST | K_STRING)) return setlst(c, items);
  std::string txt;
  for (size_t i = 0; i < items.size(); i++) {
    if (i > 0) txt.push_back('\n');
    txt += items[i];
  }
  c.aux = 0;
  return settxt(c, txt.data(), static_cast<int32_t>(std::min<size_t>(txt.size(), INT32_MAX / 2)));
}

bool optext(std::string* out) {
  int32_t* t = optab;
  if (!oprec(0) || (t[OT_KIND] & (K_STRING | K_LIST | K_VECTOR)) != K_STRING) return false;
  OpRead in;
  in.start(0);
  out->assign(static_cast<size_t>(std::max(in.n, 0)), '\0');
  out->resize(static_cast<size_t>(out->empty() ? 0 : in.bytes(reinterpret_cast<uint8_t*>(out->data()), in.n)));
  return true;
}

std::vector<std::string> lstitems(PtrRec* r) {
  std::vector<std::string> items;
  const auto x0 = static_cast<int32_t>(r->Offs[0]);
  for (int32_t i = 0; i < static_cast<int32_t>(r->Offs[3]) && !stopped(); i++) {
    int32_t len = 0;
    const uint8_t* p = lstptr(r, x0 + i, &len, 0);
    items.emplace_back(p && len > 0 ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len))
                                    : std::string());
  }
  return items;
}

namespace {

// Text of argument n (at most max - 1 characters) when it is a string;
// -1 when it is none.
int strarg(int n, char* buf, int max) {
  float v;
  int len = 0;
  buf[0] = 0;
  int t = getarg(n, &v, buf, max, &len);
  if (!(t & K_STRING) || (t & K_LIST)) {
    buf[0] = 0;
    return -1;
  }
  return len;
}

// One 32-bit, 16-bit or float value into the local buffer as the result.
void one32(FnCall& c, int32_t v) {
  std::memset(c.lbuf, 0, sizeof c.lbuf);
  std::memcpy(c.lbuf, &v, 4);
  c.buf = c.lbuf;
  c.store = 1;
}

// The window extent k of a record (its data dimension where the window
// has none), at least 1.
uint32_t extent(const PtrRec* r, int k) {
  uint32_t v = r->Offs[3 + k] ? r->Offs[3 + k] : r->Datdims[k];
  return v < 1 ? 1 : v;
}

// Number of dimensions: the Ndims field for arrays and the like, else 1.
int ndims(const PtrRec* r, int kind) {
  if (!r || !(kind & K_DIMS)) return 1;
  return std::clamp<int>(r->Ndims, 1, 3);
}

}  // namespace

// ---------------------------------------------------------------------------
int su_case(FnCall& c) {
  int32_t* t = optab;
  c.aux = 0;
  PtrRec* r = oprec(0);
  if (!r || (t[OT_KIND] & (K_LIST | K_STRING | K_VECTOR)) != (K_LIST | K_STRING)) return FS_GO;
  std::vector<std::string> items = lstitems(r);
  if (stopped()) return fnrefus(c, 0, 0);
  for (std::string& s : items)
    for (char& ch : s) {
      if (c.code == 233 && ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
      if (c.code == 234 && ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    }
  return lstres(c, items);  // a list assigned by run_case
}

bool lstrun(FnCall& c, int* rc) {
  int32_t* t = optab;
  *rc = 0;
  if (c.aux == 115) {
    if (!t[OT_REC] || !hardop(115, 1)) ariths(115, t[OT_CNT], 1);
    *rc = stopped() ? -1 : 0;
    return true;
  }
  return (t[OT_KIND] & (K_LIST | K_STRING)) == (K_LIST | K_STRING);
}

int run_case(FnCall& c) {
  int32_t* t = optab;
  if (int rc; lstrun(c, &rc)) return rc;
  const int nops = t[OT_REC + 1] ? 2 : 1;
  if (!t[OT_REC] || !hardop(c.code, nops)) ariths(c.code, c.ecnt, nops);
  return 0;
}

// Declaration words used as functions.

int su_strng(FnCall& c) {
  int32_t* t = optab;
  PtrRec* r = oprec(0);
  std::string s;
  if (r && (t[OT_KIND] & K_LIST)) {
    // The items' texts from the window's first item, one newline between
    // items.
    int32_t n = t[OT_TOT];
    int bits = r->Wsiz & 63;
    const int32_t x0 = static_cast<int32_t>(r->Offs[0]);
    for (int32_t i = 0; i < n && !stopped(); i++) {
      int32_t len = 0;
      const uint8_t* p = lstptr(r, x0 + i, &len, 0);
      if (i > 0) s.push_back('\n');
      int64_t bytes = (t[OT_KIND] & K_STRING) ? len : (static_cast<int64_t>(len) * bits + 7) / 8;
      if (p && bytes > 0) s.append(reinterpret_cast<const char*>(p), static_cast<size_t>(bytes));
    }
  } else if (r) {
    int32_t& part = t[OT_BUF];
    for (int32_t i = 0; i < t[OT_CNT] && !stopped(); i++) {
      if (i >= part) {
        LDVARB(r, &part, i);
        if (part <= i) break;
      }
      s.push_back(static_cast<char>(toi32(GSTACK(r)) & 0xFF));
    }
  }
  if (s.size() > static_cast<size_t>(INT32_MAX / 2)) s.resize(INT32_MAX / 2);
  return settxt(c, s.data(), static_cast<int32_t>(s.size()));
}

int run_redim(FnCall& c) {
  c.defer = 0;
  int32_t* t = optab;
  getdst(c.dest);
  PtrRec* d = oprec(2);
  int kind = t[OT_KIND + 2];
  int nd = c.code == 38 ? 1 : c.code == 39 ? 2 : 3;
  int bit = c.code == 38 ? K_ARRAY : c.code == 39 ? K_MATRIX : K_SOLID;
  int mask = bit;
  if (((kind & K_IMAGE) && c.code == 39) || (kind & K_LIST)) mask = K_IMAGE;
  if ((kind & (K_STRING | K_LIST)) == (K_STRING | K_LIST) && nd == 1) mask = K_STRING | K_LIST;
  bool ok = d && (kind & K_NAMED) && !(kind & K_VALUE) && d->Idx > 0 && (kind & mask) == mask;

  // The old dimensions: an array's count, else the data's dimensions.
  int64_t old[3] = {1, 1, 1}, oldtot = 1, nw[3] = {1, 1, 1};
  if (ok) {
    if (nd == 1) {
      old[0] = std::max<int64_t>(t[OT_TOT + 2], 0);
    } else {
      for (int k = 0; k < 3; k++) old[k] = std::max<uint32_t>(d->Datdims[k], 1);
    }
    for (int k = 0; k < nd; k++) oldtot *= old[k];
    int64_t before = 1;
    for (int k = 0; k < nd; k++) {
      int64_t v = lngarg(k + 2, 0);
      if (v <= 0) {
        v = old[k];
        // The last dimension, when not given, keeps the item count.
        if (k == nd - 1 && k > 0 && before > 0 && oldtot % before == 0) v = oldtot / before;
      }
      nw[k] = v;
      before *= v;
    }
  }
  int64_t tot = nw[0] * nw[1] * nw[2];
  if (!ok || tot < 1 || tot > INT32_MAX) {
    error(1, 60);
    c.stop = true;
    return -1;
  }
  trclng(8, "redim", nd, c.code, static_cast<int32_t>(nw[0]), static_cast<int32_t>(nw[1]),
         static_cast<int32_t>(nw[2]), static_cast<int32_t>(oldtot));
  if (tot == oldtot) {
    // Same count: a shaped variable only gets its new dimensions.
    if ((kind & K_HDR) && !(kind & K_LIST)) {
      SymEnt* e = symptr(d->Idx);
      if (uint32_t* h = e && e->data > 0 ? wordp(e->data) : nullptr)
        for (int k = 0; k < 3; k++) h[k] = static_cast<uint32_t>(nw[k]);
      for (int k = 0; k < 3; k++) {
        d->Datdims[k] = static_cast<uint32_t>(nw[k]);
        d->Offs[k] = 0;
        d->Offs[3 + k] = static_cast<uint32_t>(nw[k]);
      }
      d->Bufsiz = 0;
    }
    return 0;
  }
  // A new size: the storage is made again with the variable's own word size.
  int ws = d->Wsiz;
  int32_t xf = xfoff(symptr(d->Idx));
  erasvb(symptr(d->Idx));
  d->Addr = 0;
  d->Bufsiz = 0;
  PtrRec tmpl;
  std::memset(&tmpl, 0, sizeof tmpl);
  for (int k = 0; k < 3; k++) {
    d->Offs[k] = 0;
    d->Offs[3 + k] = 0;
    d->Datdims[k] = 0;
    tmpl.Offs[3 + k] = tmpl.Datdims[k] = static_cast<uint32_t>(nw[k]);
  }
  int32_t count = -1;
  makvar(d, &tmpl, &count, static_cast<int32_t>(tot), 0, ws);
  xfon(symptr(d->Idx), xf);
  if (count < 1) {
    if (!(state & ST_ERROR)) error(0, 42);
    c.stop = true;
    return -1;
  }
  return 0;
}

int su_file(FnCall& c) {
  int32_t* t = optab;
  int k = t[OT_KIND];
  if (c.n == 1 && (k & K_STRING) && !(k & K_LIST)) {
    c.defer--;
    c.aux = 1;
    t[OT_RCNT] = 1;
    t[OT_RWSZ] = W_SHORT;
  }
  return FS_GO;
}

int run_file(FnCall& c) {
  if (c.aux != 1) return 0;
  char name[257];
  int len = strarg(2, name, sizeof name);
  int16_t v = static_cast<int16_t>(len > 0 ? Exists(name) : 0);
  std::memset(c.lbuf, 0, sizeof c.lbuf);
  std::memcpy(c.lbuf, &v, 2);
  c.buf = c.lbuf;
  c.store = 1;
  return 0;
}

int run_window(FnCall& c) {
  one32(c, c.n < 1 ? curwin : winarg(2, nullptr));
  return 0;
}

// ---------------------------------------------------------------------------
// The brace list and accept.

namespace {

// One 8-byte vector record: x, y, z, the code (low four bits), the width
// (high four bits) and the colour.
void mkvec(uint8_t* rec, int x, int y, int z, int code, int width, int colour) {
  auto put16 = [&](int off, int v) {
    auto s = static_cast<int16_t>(static_cast<uint32_t>(v) & 0xFFFF);
    std::memcpy(rec + off, &s, 2);
  };
  put16(0, x);
  put16(2, y);
  put16(4, z);
  rec[6] = static_cast<uint8_t>(((width & 15) << 4) | (code & 15));
  rec[7] = static_cast<uint8_t>(colour & 255);
}

constexpr int K_ROWS = K_MATRIX | K_IMAGE | K_SOLID;

// A brace block read into a whole matrix, image or solid that already holds
// as many items as the block gives keeps its shape, the items filling it in
// order; otherwise the block's lines are its rows. So a variable written by
// dump reads back whole although its rows were wrapped to the line width.
// The block is read once as text and then taken as numbers.
PtrRec* rdrows(int kind, int ws, const PtrRec* dest, int32_t total) {
  PtrRec* txt = Zaccpt(103, K_STRING, W_BYTE);
  if (!txt || stopped()) return nullptr;
  const char* p = static_cast<const char*>(stkptr(static_cast<int32_t>(txt->Addr)));
  std::string lines(p ? p : "", p ? static_cast<size_t>(std::max(txt->Length, 0)) : 0);
  // Unit -1: the lines come from the text only (they were echoed as read).
  PtrRec* r = rdary(-1, K_ARRAY, ws, nullptr, 1, lines.c_str());
  if (r && r->Length > 0 && r->Length == total) {
    r->Flg = static_cast<uint16_t>(kind & K_ROWS);
    for (int k = 0; k < 3; k++)
      r->Offs[3 + k] = r->Datdims[k] = std::max<uint32_t>(dest->Datdims[k], 1);
    return r;
  }
  return rdary(-1, kind, ws, nullptr, 1, lines.c_str());
}

// Stores n 8-byte vector records into a list of vectors, record by record
// through the element access. A list whose window holds fewer records is
// left as it was (error 59).
bool putvls(const uint8_t* recs, int32_t n, PtrRec* d) {
  int32_t cnt, part, tot, ws;
  if (!d || !gtvarb(d, &cnt, &part, &tot, &ws, 115) || ws != W_VEC) {
    error(0, 111);
    return false;
  }
  if (cnt < n) {
    error(0, 59);
    return false;
  }
  for (int32_t i = 0; i < n && !stopped(); i++) {
    uint8_t* p = setxy(d, 0, i, 2);
    if (!p) return false;
    std::memcpy(p, recs + 8 * static_cast<int64_t>(i), 8);
    DMPVRB(d, &part, 0, 0);
  }
  return !stopped();
}

}  // namespace

int su_brace(FnCall& c) {
  if (c.n < 2) return su_accept(c);
  int32_t* t = optab;
  // Into a vector, or the first record of a list of vectors, the values are
  // one vector record, taken as the vector function takes them: the form
  // dump writes a vector and a list of one vector in.
  int dk = getdst(c.dest);
  if (c.dest > 0 && (dk & K_VECTOR) && t[OT_WSIZ + 2] == W_VEC && c.n <= 6) {
    t[OT_RCNT] = 1;
    t[OT_RWSZ] = W_VEC;
    std::memset(c.lbuf, 0, sizeof c.lbuf);
    mkvec(c.lbuf, intarg(2, 0), intarg(3, 0), intarg(4, 0), intarg(5, 0), intarg(6, 0),
          intarg(7, 0));
    c.buf = c.lbuf;
    c.store = 1;
    return FS_GO;
  }
  // Into a string list a brace list that holds texts gives one item an
  // operand: a text as it stands, a number as its shortest text. Into a
  // text those items are joined by newlines, as a string list is.
  const int sk = dk & (K_LIST | K_STRING | K_VECTOR);
  if (c.dest > 0 && (sk == K_STRING || sk == (K_LIST | K_STRING))) {
    bool texts = false;
    for (int k = 0; k < c.n && !texts; k++) {
      const int ty = argtyp(k + 2, nullptr);
      texts = (ty & K_STRING) && !(ty & K_LIST);
    }
    if (texts) {
      std::vector<std::string> items(static_cast<size_t>(c.n));
      for (int k = 0; k < c.n; k++) {
        if (argstr(k + 2, &items[static_cast<size_t>(k)], static_cast<int>(LSTMAX))) continue;
        char num[32];
        std::snprintf(num, sizeof num, "%g", static_cast<double>(fltarg(k + 2, 0.0f)));
        items[static_cast<size_t>(k)] = num;
      }
      return lstres(c, items);  // a list assigned by run_accept
    }
  }
  t[OT_RCNT] = c.n;
  t[OT_RWSZ] = W_FLOAT;
  auto* v = static_cast<float*>(fnbuf(c, c.n, W_FLOAT));
  if (!v) {
    c.ret = 0;
    return FS_RET;
  }
  for (int k = 0; k < c.n; k++) v[k] = fltarg(k + 2, 0.0f);
  c.buf = v;
  c.store = c.n;
  c.aux = 0;
  return FS_GO;
}

int su_accept(FnCall& c) {
  int32_t* t = optab;
  int kind = getdst(c.dest);
  int ws = t[OT_WSIZ + 2];
  const bool block = c.code == 103;
  // A one-element list counts as a string for accept. A brace block into a
  // list reads a list, one element a line, however many elements the list
  // had: that is how dump writes a list.
  if ((kind & K_LIST) && t[OT_TOT + 2] == 1 && !block) kind = K_STRING;
  // A brace block into a list of vectors: one record a line (dump writes
  // each as "{ %v }"), stored record by record from the list's first.
  if (block && c.dest > 0 && (kind & (K_VECTOR | K_MATRIX)) == (K_VECTOR | K_MATRIX) &&
      ws == W_VEC) {
    PtrRec* r = Zaccpt(c.code, kind, ws);
    c.ret = c.depth;
    if (stopped() || !r) {
      if (!(state & ST_ERROR)) argset(-1, 0);
      return FS_RET;
    }
    const auto* recs = static_cast<const uint8_t*>(stkptr(static_cast<int32_t>(r->Addr)));
    if (r->Length > 0 && !recs) {
      error(0, 42);
      return FS_RET;
    }
    if (!putvls(recs, std::max<int32_t>(r->Length, 0), oprec(2))) return FS_RET;
    c.stack[c.depth] = t[OT_REC + 2];
    argset(-1, 0);
    c.ret = c.depth + 1;
    return FS_RET;
  }
  PtrRec* r;
  if (block && (kind & K_ROWS) && !(kind & (K_VECTOR | K_LIST)) && t[OT_TOT + 2] > 0 &&
      t[OT_CNT + 2] == t[OT_TOT + 2] && oprec(2))
    r = rdrows(kind, ws, oprec(2), t[OT_TOT + 2]);
  else
    r = Zaccpt(c.code, kind, ws);
  if (stopped() || !r) {
    c.ret = c.depth;
    if (!(state & ST_ERROR)) argset(-1, 0);
    return FS_RET;
  }
  int32_t h = stkadr(r);
  if (c.dest <= 0) {
    r->Idx = -1;
    c.stack[c.depth] = h;
    argset(-1, 0);
    c.ret = c.depth + 1;
    return FS_RET;
  }
  // The answer goes into the destination as by the assignment.
  ldopnd(0, h);
  t[OT_RWSZ] = t[OT_WSIZ];
  t[OT_RCNT] = t[OT_CNT];
  c.ecnt = t[OT_CNT];
  c.aux = 115;
  return FS_GO;
}

int run_accept(FnCall& c) {
  if (c.aux != 115) return 0;
  if (!optab[OT_REC] || !hardop(115, 1)) ariths(115, c.ecnt, 1);
  return 0;
}

// ---------------------------------------------------------------------------
// Sizes and properties.

int su_size(FnCall& c) {
  int32_t* t = optab;
  int what = intarg(3, 0);
  int kind = t[OT_KIND];
  PtrRec* r = oprec(0);
  bool str = (kind & K_STRING) && !(kind & K_LIST);
  int dk = t[OT_KIND + 2];
  int32_t n = 1;
  c.aux = -1;
  if (what == 4) {
    // Four values, all zero when no window matches.
    int w = winarg(2, nullptr);
    n = 4;
    if (w >= 0 && w < WINTAB && wintab[w]) c.aux = w;
  } else if (what == 0 && !str && (!t[OT_REC + 2] || (dk & 0x7F0) == K_ARRAY)) {
    n = ndims(r, kind);
  }
  t[OT_RCNT] = n;
  t[OT_RWSZ] = W_LONG;
  return FS_GO;
}

int run_size(FnCall& c) {
  int32_t* t = optab;
  int what = intarg(3, 0);
  int kind = t[OT_KIND];
  PtrRec* r = oprec(0);
  int32_t n = std::clamp(t[OT_RCNT], 1, 4);
  int32_t v[4] = {0, 0, 0, 0};
  if (what == 4) {
    if (c.aux >= 0 && wintab[c.aux]) {
      int32_t rect[4] = {0, 0, 0, 0};
      winrect(wpwrec(wintab[c.aux]), rect);
      std::memcpy(v, rect, sizeof v);
    }
  } else if ((kind & K_STRING) && !(kind & K_LIST)) {
    char name[257];
    int len = strarg(2, name, sizeof name);
    int64_t sz = len > 0 ? fsize(name, 0) : -1;
    v[0] = static_cast<int32_t>(std::clamp<int64_t>(sz, -1, INT32_MAX));
    n = 1;
  } else if (what == 2) {
    v[0] = ndims(r, kind);
  } else if (what < 0) {
    int k = -what;
    v[0] = r && k <= ndims(r, kind) && (kind & K_DIMS) ? static_cast<int32_t>(extent(r, k - 1)) : 1;
  } else if (n == 1) {
    v[0] = std::max(t[OT_CNT], 0);
  } else {
    for (int k = 0; k < n && k < 3 && r; k++) v[k] = static_cast<int32_t>(extent(r, k));
  }
  std::memcpy(c.lbuf, v, sizeof v);
  c.buf = c.lbuf;
  c.store = n;
  return 0;
}

namespace {
// The 32-bit reference that address() hands out for data outside the word
// memory: one held pointer per distinct address, reused while it holds.
int32_t adrref(void* p) {
  static int32_t ref = 0;
  if (ref && heldptr(ref) == p) return ref;
  ref = holdptr(p);
  return ref;
}
}  // namespace

int run_addr(FnCall& c) {
  int32_t* t = optab;
  PtrRec* r = oprec(0);
  int32_t v = 0;
  if (r && (t[OT_KIND] & K_NAMED) && t[OT_CNT] >= 1) {
    // Data in the word memory: its byte reference; outside it: a held
    // pointer reference. Never a machine address.
    if ((r->Flg & K_NUMBER) || r->Data0 >= 0)
      v = r->Dptr;
    else
      v = adrref(dptr(r));
  }
  one32(c, v);
  return 0;
}

int run_mode(FnCall& c) {
  int32_t* t = optab;
  int what = intarg(3, 0);
  // The kind without the bookkeeping bits of a named record.
  int32_t k = t[OT_KIND] & 0x0FF0;
  int32_t w = t[OT_WSIZ] & 0xFF;
  one32(c, what == 1 ? k : what == 2 ? w : (k << 8) | w);
  return 0;
}

int run_proj(FnCall& c) {
  PtrRec* r = oprec(0);
  float v[12] = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  // The transform kept where rotate, scale, offset and pin put it: with a
  // named image or matrix, not on this record of it.
  uint16_t f2 = 0;
  if (const XfmRec* x = r ? xfhold(r, &f2, false) : nullptr) {
    for (int k = 0; k < 3; k++) {
      if (f2 & 0x20) v[k] = x->Scale[k];
      if (f2 & 0x10) v[3 + k] = x->Rotate[k];
      if (f2 & 0x40) v[6 + k] = x->Offset[k];
      if (f2 & 0x80) v[9 + k] = x->Pin[k];
    }
  }
  std::memcpy(c.lbuf, v, sizeof v);
  c.buf = c.lbuf;
  c.store = 12;
  return 0;
}

int su_comprs(FnCall&) {
  int32_t* t = optab;
  bool str = (t[OT_KIND] & K_STRING) != 0;
  int32_t opt = intarg(3, str ? 32 : -1);
  int flag = intarg(4, 0);
  t[OT_COPT] = opt;
  putslt(0, fltarg(5, static_cast<float>(opt)));
  // Operand 2 is dropped; its word-size slot carries the index flag.
  t[OT_REC + 1] = t[OT_ID + 1] = t[OT_KIND + 1] = t[OT_CNT + 1] = 0;
  t[OT_BUF + 1] = t[OT_TOT + 1] = 0;
  t[OT_WSIZ + 1] = flag;
  if (flag)
    t[OT_RWSZ] = W_LONG;
  else if (str)
    t[OT_RWSZ] = W_BYTE;  // kept characters stay text
  return FS_GO;
}

int32_t analyz(uint32_t* hist, int32_t nbins) {
  if (!hist || nbins < 1) return 0;
  std::memset(hist, 0, static_cast<size_t>(nbins) * 4);
  int32_t* t = optab;
  PtrRec* r = oprec(0);
  int32_t n = r ? t[OT_CNT] : 0;
  int32_t& part = t[OT_BUF];
  int32_t top = -1;
  if (qhist(hist, nbins, n, &top)) {
    prgtot = 0;
    return top + 1;
  }
  prgidx = 0;
  prgtot = n > 0 ? static_cast<uint32_t>(n) : 0;
  bool bytes = r && r->Wsiz == W_BYTE;
  for (int32_t i = 0; i < n;) {
    chkio(0);
    int32_t end = std::min<int64_t>(static_cast<int64_t>(i) + 1000, n);
    for (; i < end; i++) {
      if (stopped()) {
        prgtot = 0;
        return top + 1;
      }
      if (i >= part) {
        LDVARB(r, &part, i);
        if (part <= i) {
          i = n;
          break;
        }
      }
      int32_t v;
      if (bytes) {
        const uint8_t* p = dptr(r);
        v = p ? *p : 0;
        r->Dptr++;
      } else {
        v = igstak(r);
      }
      int32_t b = v < 0 ? 0 : v >= nbins ? nbins - 1 : v;
      hist[b]++;
      top = std::max(top, b);
    }
    prgidx = static_cast<uint32_t>(std::min(i, n));
  }
  prgtot = 0;
  return top + 1;
}

int su_anlyz(FnCall& c) {
  int32_t* t = optab;
  int32_t bins = t[OT_WSIZ] == W_BYTE ? 256 : 4096;
  t[OT_RWSZ] = W_LONG;
  PtrRec* d = oprec(2);
  // A plain 32-bit stack array larger than the bins takes the histogram in
  // its own data.
  if (d && t[OT_KIND + 2] == 0x1040 && t[OT_WSIZ + 2] == W_LONG && t[OT_CNT + 2] > bins &&
      t[OT_BUF + 2] >= t[OT_CNT + 2]) {
    c.aux = 1;
    t[OT_RCNT] = t[OT_CNT + 2];
    return FS_GO;
  }
  auto* h = static_cast<uint32_t*>(fnbuf(c, bins, W_LONG));
  if (!h) {
    c.ret = 0;
    return FS_RET;
  }
  int32_t used = analyz(h, bins);
  c.buf = h;
  c.store = std::max(used, std::min<int32_t>(256, bins));
  t[OT_RCNT] = c.store;
  return FS_GO;
}

int run_anlyz(FnCall& c) {
  if (c.aux != 1) return 0;
  PtrRec* d = oprec(2);
  int32_t n = optab[OT_CNT + 2];
  if (uint8_t* p = d ? dptr(d) : nullptr) analyz(reinterpret_cast<uint32_t*>(p), n);
  return 0;
}

int run_fmode(FnCall& c) {
  trcint(8, "FMODE", 0, c.n, 0, 0, 0, 0);
  // The stub leaves its bytes unset: they are zeros here.
  std::memset(c.lbuf, 0, sizeof c.lbuf);
  c.buf = c.lbuf;
  c.store = 4;
  return 0;
}

// ---------------------------------------------------------------------------
// Vector geometry.

namespace {
bool vlist(int kind, int32_t count) {
  return (kind & (K_VECTOR | K_MATRIX)) == (K_VECTOR | K_MATRIX) && count >= 2;
}
}  // namespace

int su_vlist(FnCall& c) {
  if (!vlist(optab[OT_KIND], optab[OT_CNT])) {
    error(2, 109);
    c.ret = 0;
    return FS_RET;
  }
  return FS_GO;
}

int run_length(FnCall& c) {
  int32_t* t = optab;
  float v = 0.0f;
  if (vlist(t[OT_KIND], t[OT_CNT])) {
    float len = 0.0f, area = 0.0f;
    measur(oprec(0), -1, -1, fltarg(3, 0.0f), &len, &area);
    v = len;
  } else {
    uint8_t p1[8], p2[8];
    std::memset(p2, 0, sizeof p2);
    int a = 2;
    setvec(p1, &a, 3);
    if (c.n > 1 && a <= c.n + 1) setvec(p2, &a, 3);
    if (stopped()) return -1;
    int16_t q1[3], q2[3];
    std::memcpy(q1, p1, 6);
    std::memcpy(q2, p2, 6);
    v = vdist(q1, q2, 3);
  }
  std::memcpy(c.lbuf, &v, 4);
  c.buf = c.lbuf;
  c.store = 1;
  return 0;
}

int run_angle(FnCall& c) {
  float v = vangle(c.n, nullptr, 0);
  if (stopped()) return -1;
  std::memcpy(c.lbuf, &v, 4);
  c.buf = c.lbuf;
  c.store = 1;
  return 0;
}

int run_area(FnCall& c) {
  float v[2] = {0.0f, 0.0f};
  measur(oprec(0), -1, -1, fltarg(3, 0.0f), &v[0], &v[1]);
  if (stopped()) return -1;
  if (c.code == 220)
    std::memcpy(c.lbuf, &v[1], 4);
  else
    std::memcpy(c.lbuf, v, 8);
  c.buf = c.lbuf;
  c.store = c.code == 220 ? 1 : 2;
  return 0;
}

int su_fndvec(FnCall& c) {
  int mode = intarg(2, 0);
  if (!(mode & 0x10)) return FS_GO;
  // Mode 0x10: the pointer goes to record `start` of the list.
  int32_t h = 0;
  int k = argtyp(4, &h);
  PtrRec* list = (k & (K_VECTOR | K_MATRIX)) == (K_VECTOR | K_MATRIX) ? ptrrec(h) : nullptr;
  uint8_t exp[12];
  if (getvec(list, lngarg(3, 0), exp, 1)) {
    int16_t x, y;
    std::memcpy(&x, exp + 4, 2);
    std::memcpy(&y, exp + 6, 2);
    setcurs(x, y);
  }
  c.ret = -1;
  return FS_RET;
}

int run_fndvec(FnCall& c) {
  int mode = intarg(2, 0);
  int32_t start = lngarg(3, 0);
  int32_t h = 0;
  int k = argtyp(4, &h);
  PtrRec* list = (k & (K_VECTOR | K_MATRIX)) == (K_VECTOR | K_MATRIX) ? ptrrec(h) : nullptr;
  uint8_t pt[8], out[12];
  int a = 5;
  setvec(pt, &a, 3);
  if (stopped()) return -1;
  int16_t q[3];
  std::memcpy(q, pt, 6);
  int32_t idx = fndvec(list, q, start, out, mode);
  if (stopped()) return -1;
  one32(c, idx);
  return 0;
}

// getxy, vrbxy and vector: one vector record into a vector destination,
// else four 16-bit values.
namespace {
void mkvec(uint8_t* rec, int x, int y, int z, int code, int width, int colour);

// getxy and vrbxy: the interactive pick into the local buffer; nothing is
// sized or stored when it fails.
int pick(FnCall& c) {
  int x = intarg(3, 0), y = intarg(4, 0), z = 0;
  int col = 0, row = 0;
  getcur(&col, &row);
  int key = getxyz(intarg(2, 1), &x, &y, &z);
  curson(curflg, 0);
  putcur(col, row);
  if (stopped()) return -1;
  std::memset(c.lbuf, 0, sizeof c.lbuf);
  mkvec(c.lbuf, x, y, z, 1, 0, key);
  c.aux = key;
  if (c.code == 272) {
    vrbxy(c.lbuf);
    if (stopped()) return -1;
  }
  return 0;
}
}  // namespace

void ptres(const FnCall& c) {
  int32_t* t = optab;
  if (getdst(c.dest) & K_VECTOR) {
    t[OT_RCNT] = 1;
    t[OT_RWSZ] = W_VEC;
  } else {
    t[OT_RCNT] = 4;
    t[OT_RWSZ] = W_SHORT;
  }
}

int su_point(FnCall& c) {
  ptres(c);
  if ((c.code == 241 || c.code == 272) && pick(c) < 0) {
    c.ret = 0;
    return FS_RET;
  }
  return FS_GO;
}

int run_vector(FnCall& c) {
  std::memset(c.lbuf, 0, sizeof c.lbuf);
  mkvec(c.lbuf, intarg(2, 0), intarg(3, 0), intarg(4, 0), intarg(5, 0), intarg(6, 0),
        intarg(7, 0));
  if (trcmsk >= 8) {
    int16_t v[4];
    std::memcpy(v, c.lbuf, 8);
    trcint(trcmsk, "DOFunc", 243, v[0], v[1], v[2], c.lbuf[6], c.lbuf[7]);
  }
  c.buf = c.lbuf;
  c.store = optab[OT_RWSZ] == W_VEC ? 1 : 4;
  return 0;
}

int run_getxy(FnCall& c) {
  // The point was picked by the set-up, before the destination was sized.
  int32_t* t = optab;
  c.buf = c.lbuf;
  c.store = t[OT_RWSZ] == W_VEC ? 1 : 4;
  // A one-element destination receives the key alone.
  if (t[OT_REC + 2] && t[OT_RWSZ] != W_VEC && c.dest > 0 && t[OT_CNT + 2] == 1) {
    auto k = static_cast<int16_t>(c.aux & 0xFF);
    std::memcpy(c.lbuf, &k, 2);
    c.store = 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Time.

int su_time(FnCall& c) {
  int32_t* t = optab;
  int k = intarg(2, -2);
  if (c.n >= 1 && k == 0) {
    // The stopwatch is reset; nothing is returned.
    swbase = tickms(1);
    c.ret = -1;
    return FS_RET;
  }
  if (c.n < 1 || k == -1) {
    t[OT_RCNT] = 7;
    t[OT_RWSZ] = W_LONG;
    if (!t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = K_ARRAY;
  } else {
    t[OT_RCNT] = 1;
    t[OT_RWSZ] = W_FLOAT;
  }
  return FS_GO;
}

int run_time(FnCall& c) {
  int k = intarg(2, -2);
  std::memset(c.lbuf, 0, sizeof c.lbuf);
  c.buf = c.lbuf;
  if (c.n < 1 || k == -1) {
    int32_t v[7] = {0, 0, 0, 0, 0, 0, 0};
    if (k == -1 && c.n >= 1) {
      const int16_t* s = rtstart();
      if (s) {
        // year, month, (weekday skipped), day, hour, minute, second, ms
        v[0] = s[0];
        v[1] = s[1];
        for (int q = 2; q < 7; q++) v[q] = s[q + 1];
      }
    } else {
      int32_t d[3] = {0, 0, 0}, h[4] = {0, 0, 0, 0};
      gtime(d);
      gclock(h);
      std::memcpy(v, d, sizeof d);
      std::memcpy(v + 3, h, sizeof h);
    }
    std::memcpy(c.lbuf, v, sizeof v);
    c.store = 7;
    return 0;
  }
  double r;
  if (k <= -3)
    r = RTclockTest(-k, intarg(3, 1)) / 1000.0;
  else
    r = static_cast<double>(tickms(1) - swbase) / 1000.0;
  float f = static_cast<float>(r);
  std::memcpy(c.lbuf, &f, 4);
  c.store = 1;
  return 0;
}

// ---------------------------------------------------------------------------
// Keyboard and text.

int run_getchar(FnCall& c) {
  int wait = intarg(3, 0);
  int16_t v = 1;
  if (wait) {
    // A key that is already typed (the type-ahead buffer, then input that
    // waits to be read); 0 when there is none.
    int k = getkey(1);
    v = static_cast<int16_t>(k > 0 ? k & 0xFF : 0);
  }
  std::memset(c.lbuf, 0, sizeof c.lbuf);
  std::memcpy(c.lbuf, &v, 2);
  c.buf = c.lbuf;
  c.store = 1;
  return 0;
}

int su_gettxt(FnCall& c) {
  constexpr int GTMAX = 2000;
  auto* text = static_cast<char*>(getbuf(GTMAX));
  if (!text) {
    c.ret = 0;
    return FS_RET;
  }
  int mode = intarg(2, 0);
  int len = 0, echoed = 0;
  for (;;) {
    curson(0x10, 1);
    // The cursor-key mode (0x200) lets the arrows move the pointer, and
    // turns Enter into a click only while the pointer is shown; without it
    // Enter comes as itself.
    int how = (curflg & 0x8000) ? 0xA00 : 0x800;
    int key = 0;
    while (key <= 0 && !stopped()) key = getkey(how);
    flushq();
    if (key == 27 || stopped()) {
      len = 0;
      break;
    }
    if (key == 13 || key >= 129) {
      int col = 0, row = 0;
      getcur(&col, &row);
      if (mode != 0) {
        if (len > 0) break;
        len = getwrd(col, row, text, GTMAX);
        len = std::clamp(len, 0, GTMAX - 1);
        if (len > 0) break;
        continue;
      }
      if (len > 0) break;
      if (curflg & 0x2000) {
        Boxcur(0, 0, 0);
        int n = 0;
        const char* g = grbtxt(key, &n);
        len = g ? std::clamp(n, 0, GTMAX - 1) : 0;
        if (len > 0) std::memcpy(text, g, static_cast<size_t>(len));
        break;
      }
      int px = 0, py = 0;
      cellpix(col, row, &px, &py);  // the corner is a pixel of the cell
      Boxcur(px, py, -3);
      continue;
    }
    if (len < GTMAX - 1) {
      jputc(1, key);
      echoed++;
      text[len++] = static_cast<char>(key);
    }
  }
  // The echoed text ends its row, as Enter does at the prompt.
  if (echoed) jputc(1, '\n');
  text[len] = 0;
  trcstr(8, "gettxt", len, text, mode);
  return settxt(c, text, len);
}

int su_format(FnCall& c) {
  char fmt[241];
  int flen = strarg(2, fmt, sizeof fmt);
  if (flen < 1) {
    error(2, 70);
    c.ret = 0;
    return FS_RET;
  }
  int nv = std::max(c.n - 1, 0);
  auto* handles = static_cast<int32_t*>(getbuf((nv + 2) * 4));
  auto* out = static_cast<char*>(getbuf(1025));
  if (!handles || !out) {
    c.ret = 0;
    return FS_RET;
  }
  std::memset(handles, 0, static_cast<size_t>(nv + 2) * 4);
  for (int k = 0; k < nv; k++) {
    int32_t h = 0;
    argtyp(k + 3, &h);
    handles[k] = h;
  }
  out[0] = 0;
  int len = format(nv, out, fmt, handles, 1, 1024, nullptr, nullptr);
  if (state & ST_ERROR) {
    c.ret = 0;
    return FS_RET;
  }
  len = std::clamp(len, 0, 1024);
  return settxt(c, out, len);
}

int su_comrd(FnCall& c) {
  int32_t* t = optab;
  // The count in full: a read of more than 32,767 bytes returns them all.
  int32_t count = lngarg(3, 0);
  if (count < 0) {
    error(3, 70);
    c.ret = 0;
    return FS_RET;
  }
  if (count == 0) count = 130;
  int flags = intarg(4, 0);
  int port = intarg(2, 1);
  auto* buf = static_cast<char*>(getbuf(count + 1));
  if (!buf) {
    c.ret = 0;
    return FS_RET;
  }
  int r = comread(port - 1, buf, count, flags);
  setres(r, 0);
  trcint(8, "comread", port, count, flags, r, 0, 0);
  if (state & ST_ERROR) {
    c.ret = 0;
    return FS_RET;
  }
  if (flags & 2) {
    t[OT_RWSZ] = W_SHORT;
    t[OT_RCNT] = 1;
    if (!t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = 0;
    auto v = static_cast<int16_t>(std::clamp(r, -32767, 32767));
    std::memset(c.lbuf, 0, sizeof c.lbuf);
    std::memcpy(c.lbuf, &v, 2);
    c.buf = c.lbuf;
    c.store = 1;
    return FS_GO;
  }
  return settxt(c, buf, std::clamp(r, 0, count));
}

int su_getfil(FnCall& c) {
  char out[257], name[257];
  out[0] = 0;
  int len = 0;
  float v = 0.0f;
  int t2 = getarg(2, &v, name, sizeof name, &len);
  if (!(t2 & K_STRING) || (t2 & K_LIST)) {
    len = browse(out, intarg(2, 0), nullptr);
  } else if (len < 1) {
    len = 0;
  } else if (int t3 = argtyp(3, nullptr); (t3 & 16) && !(t3 & K_STRING)) {
    len = pthpart(name, out, toi32(fltarg(3, 0.0f)), sizeof out);
  } else {
    std::string dirs(2561, '\0');
    int dl = strarg(3, dirs.data(), 2561);
    if (dl < 0) dirs[0] = 0;
    int unit = 0;
    if (fserch(name, nullptr, dirs.c_str(), out, &unit, 0x21) == 0) {
      if (unit > 0) closef(unit, 0);
      len = static_cast<int>(strnlen(out, sizeof out - 1));
    } else {
      len = 0;
    }
  }
  if (state & ST_ERROR) {
    c.ret = 0;
    return FS_RET;
  }
  len = std::clamp(len, 0, 256);
  out[len] = 0;
  setres(len < 1 ? len - 1 : len, 0);
  return settxt(c, out, len);
}

int su_name(FnCall& c) {
  char buf[41];
  int len = 0;
  int32_t h = 0;
  argtyp(2, &h);
  PtrRec* r = ptrrec(h);
  if (r && (r->Flg & K_NAMED) && !(r->Flg & K_ARGS) && r->Idx > 0 && symptr(r->Idx))
    len = symnam(r->Idx, buf, 40);
  return settxt(c, buf, std::clamp(len, 0, 40));
}

int su_getenv(FnCall& c) {
  char name[133];
  int len = strarg(2, name, sizeof name);
  // The command form: getenv set NAME (the name at most 40 characters).
  bool command = false;
  if (nargs() >= 3 && (len == 3 || argtext(2, name, 4) == 3) && strncasecmp(name, "set", 3) == 0) {
    len = argtext(3, name, 41);
    if (len < 1) {
      error(3, 56);
      return settxt(c, "", 0);
    }
    command = c.dest <= 0;
  }
  const char* v = len > 0 ? std::getenv(name) : nullptr;
  if (!v && len > 0) {
    // A bare name comes lower-cased from the line; the environment's names
    // are mostly upper case.
    char up[133];
    for (int k = 0; k <= len; k++) up[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[k])));
    v = std::getenv(up);
  }
  if (!v) v = "";
  size_t n = std::min<size_t>(std::strlen(v), 32767);
  if (command) {
    // Printed as it is, an empty value as an empty line (a value typed
    // would show nothing as a dash).
    jprintf(lstlun, "%.*s\n", static_cast<int>(n), v);
    c.stop = true;
    c.ret = 0;
    return FS_RET;
  }
  return settxt(c, v, static_cast<int32_t>(n));
}

int su_pdstr(FnCall& c) {
  int32_t max = lngarg(3, 2048);
  max = std::clamp(max, 1, 1 << 20);
  auto* out = static_cast<char*>(getbuf(max + 1));
  if (!out) {
    c.ret = 0;
    return FS_RET;
  }
  int len = rptexp(out, max);
  return settxt(c, out, len);
}

// ---------------------------------------------------------------------------
// Handlers of other modules reached through the dispatcher.

int su_getbox(FnCall& c) {
  int32_t* t = optab;
  t[OT_RCNT] = intarg(2, 0) == 2 ? 6 : 4;
  t[OT_RWSZ] = W_SHORT;
  if (!t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = K_ARRAY;
  return FS_GO;
}

int run_getbox(FnCall& c) {
  int mode = intarg(2, 0);
  int16_t box[6] = {0, 0, 0, 0, 0, 0};
  int r = getbox(box, mode, intarg(3, 0), intarg(4, 0));
  setfres(static_cast<float>(r), 0);
  if (stopped()) return -1;
  std::memcpy(c.lbuf, box, sizeof box);
  c.buf = c.lbuf;
  c.store = mode == 2 ? 6 : 4;
  return 0;
}

namespace {
// A result of n floats from an interactive sampler; none (stop without a
// value, or 0 after an error) when the sampler gave nothing.
int floatres(FnCall& c, float* b, uint32_t n, bool ok) {
  int32_t* t = optab;
  if (!b || !ok || stopped()) {
    c.ret = (state & ST_ERROR) ? 0 : -1;
    return FS_RET;
  }
  t[OT_RCNT] = static_cast<int32_t>(std::min<uint32_t>(n, INT32_MAX));
  t[OT_RWSZ] = W_FLOAT;
  c.buf = b;
  c.store = t[OT_RCNT];
  return FS_GO;
}
}  // namespace

int su_sweep(FnCall& c) {
  // The destination is loaded first: without one the values are not kept.
  getdst(c.dest);
  uint32_t n = 0;
  float* b = sweep(optab[OT_KIND + 2], &n);
  return floatres(c, b, n, optab[OT_REC + 2] != 0);
}

int su_sample(FnCall& c) {
  uint32_t n = 0;
  float* b = sample(&n);
  return floatres(c, b, n, true);
}

int su_mask(FnCall& c) {
  int r = setaoi(c.dest);
  if (r < 0) {
    c.ret = (state & ST_ERROR) ? 0 : -1;
    return FS_RET;
  }
  // The view only: the pointer functions hand it to the assignment.
  if (r == 0) c.defer++;
  c.aux = r - 1;
  return FS_GO;
}

int run_mask(FnCall& c) {
  if (c.defer) return 0;
  domask(c.aux);
  return stopped() ? -1 : 0;
}

int su_menu(FnCall& c) {
  int32_t* t = optab;
  uint32_t kind = 0;
  void* b = mnuitm(&kind);
  if (!b || stopped()) {
    c.ret = (state & ST_ERROR) ? 0 : -1;
    return FS_RET;
  }
  if (!t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = static_cast<int32_t>(kind);
  c.buf = b;
  c.store = t[OT_RCNT];
  return FS_GO;
}

int su_dialog(FnCall& c) {
  int32_t* t = optab;
  auto* texts = static_cast<char*>(getbuf(256));
  if (!texts) {
    c.ret = 0;
    return FS_RET;
  }
  texts[0] = 0;
  float number = 0.0f;
  int r = dlogitems(c.n, &number, texts, c.dest);
  if (r == -2) {
    error(0, 109);
    c.ret = -1;
    return FS_RET;
  }
  if (r <= 0 || stopped()) {
    c.ret = (state & ST_ERROR) ? 0 : -1;
    return FS_RET;
  }
  if (t[OT_RWSZ] == W_BYTE) {
    c.buf = texts;
    c.store = std::clamp(t[OT_RCNT], 0, 255);
  } else {
    std::memcpy(c.lbuf, &number, 4);
    c.buf = c.lbuf;
    t[OT_RWSZ] = W_FLOAT;
    t[OT_RCNT] = 1;
    c.store = 1;
  }
  return FS_GO;
}

int run_alert(FnCall& c) {
  int r = doalert();
  if (state & ST_ERROR) return -1;
  auto v = static_cast<int16_t>(std::clamp(r, -32767, 32767));
  std::memcpy(c.lbuf, &v, 2);
  c.buf = c.lbuf;
  c.store = 1;
  return 0;
}

int su_resrc(FnCall& c) {
  int k = envcmd(c.dest > 0 ? -1 : 0);
  if (k <= 0 || stopped()) {
    c.ret = (state & ST_ERROR) ? 0 : -1;
    return FS_RET;
  }
  optab[OT_RCNT] = k;
  return FS_GO;
}

int run_resrc(FnCall&) {
  envcmd(1);
  return stopped() ? -1 : 0;
}

int su_import(FnCall& c) {
  // The destination decides what is read: numbers, one string or a list.
  getdst(c.dest);
  // Nothing to read (an empty block, no file) ends without a value.
  if (import(0) <= 0 || stopped()) {
    c.ret = (state & ST_ERROR) ? 0 : -1;
    return FS_RET;
  }
  // Lines are assigned as the assignment assigns them: one line read into
  // a list makes a list of one element.
  c.aux = 115;
  return FS_GO;
}

int run_import(FnCall&) {
  import(1);
  return stopped() ? -1 : 0;
}

int run_open(FnCall& c) {
  int u = filopn(293, 1);
  if (state & ST_ERROR) return -1;
  auto v = static_cast<int16_t>(std::clamp(u, -32767, 32767));
  std::memcpy(c.lbuf, &v, 2);
  c.buf = c.lbuf;
  c.store = 1;
  return 0;
}

int su_parse(FnCall& c) {
  int32_t* t = optab;
  uint32_t n = 0;
  int16_t* b = fldcmd(&n);
  if (!b || stopped()) {
    c.ret = (state & ST_ERROR) ? 0 : -1;
    return FS_RET;
  }
  int32_t cnt = static_cast<int32_t>(std::min<uint32_t>(n / 3 * 3, INT32_MAX / 3 * 3));
  t[OT_RCNT] = cnt;
  t[OT_RWSZ] = W_SHORT;
  c.buf = b;
  c.store = cnt;
  return FS_GO;
}
