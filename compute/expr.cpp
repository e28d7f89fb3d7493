// The expression evaluator: the postfix walk, the preparation of one
// element-wise operation (operands, destination, result sizing), list
// copies and string comparisons.
#include "compute/expr.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "compute/arith.h"
#include "compute/fnsvc.h"
#include "compute/func.h"
#include "compute/opstream.h"
#include "compute/qarith.h"
#include "compute/scalar.h"
#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "realtime/devices/devvar.h"

int32_t* optab = nullptr;
const PtrRec* outshape = nullptr;
bool outkeep = false;
bool outtext = false;
bool outnums = false;

namespace {

// Float result table: bit 0 set means the code gives a float result when
// there is no destination. Index code - 200 from 200 on, else code - 5.
constexpr std::array<uint8_t, 120> mkflt() {
  std::array<uint8_t, 120> t{};
  for (int c : {201, 202, 203, 204, 205, 206, 211, 212, 213, 217, 218, 219, 220, 243, 249, 265,
                267, 282, 283})
    t[static_cast<size_t>(c - 200)] = 1;
  t[108 - 5] = 1;  // "++"
  return t;
}
constexpr std::array<uint8_t, 120> fltab = mkflt();

constexpr int K_ARRAYLIKE = 0x7E0;  // String to Solid
constexpr int K_SHAPED = 0x0E80;    // Matrix, Image, Solid, List
constexpr int K_SHAPEK = 0x0680;    // Matrix, Image, Solid: kinds of a shape

// The unit of a file-backed record's open file (one unit per file), else 0.
int filunit(const PtrRec* r) {
  const FilRec* f = (r->Flg & K_FILE) ? filrec(r) : nullptr;
  return f ? f->Lun : 0;
}

// True when the two records reach the same stored data: the same symbol
// variable, the same file, or the same data block.
bool samevar(const PtrRec* a, const PtrRec* b) {
  if (!a || !b) return false;
  if ((a->Flg & K_NAMED) && (b->Flg & K_NAMED) && a->Idx > 0 && a->Idx == b->Idx) return true;
  if (filunit(a) > 0 && filunit(a) == filunit(b)) return true;
  return (a->Flg & K_ARRAYLIKE) && (b->Flg & K_ARRAYLIKE) && !(a->Flg & K_VALUE) &&
         !(b->Flg & K_VALUE) && a->Addr != 0 && a->Addr == b->Addr;
}

bool samewin(const PtrRec* a, const PtrRec* b) {
  // Records of one file see the same items only through the same layout.
  if (filunit(a) > 0 && (a->Mptr != b->Mptr || a->Wsiz != b->Wsiz ||
                         std::memcmp(a->Datdims, b->Datdims, sizeof a->Datdims) != 0))
    return false;
  return std::memcmp(a->Offs, b->Offs, sizeof a->Offs) == 0;
}

// The shape a result takes from a source record: its window extents (or
// its data's dimensions where an extent is 0), each at least 1.
void srcdim(const PtrRec* s, uint32_t* e) {
  for (int k = 0; k < 3; k++) {
    uint32_t v = s->Offs[3 + k] ? s->Offs[3 + k] : s->Datdims[k];
    e[k] = v < 1 ? 1 : v;
  }
}

// True when entry i's result is consumed by the next element-wise
// operation of the list with one new operand or none: entry i + 1 is that
// operation, or an operand followed by it.
bool feeds(const int32_t* stack, uint32_t i, uint32_t n) {
  auto opitem = [&](uint32_t j) {
    PtrRec* r = j < n && stack[j] ? ptrrec(stack[j]) : nullptr;
    return r && (r->Flg & K_ARGS) && !(r->Flg & 9) && r->Wsiz == 2 && qarcod(r->Idx);
  };
  if (i + 1 >= n || !stack[i + 1]) return false;
  PtrRec* nx = ptrrec(stack[i + 1]);
  if (nx && (nx->Flg & K_ARGS)) return opitem(i + 1);
  return opitem(i + 2);
}

// Set while a result is sized that the operation will fully cover: its
// storage is not cleared first.
bool nozero = false;

}  // namespace

bool fltres(int code) {
  int i = code >= 200 ? code - 200 : code - 5;
  return i > 0 && i < static_cast<int>(fltab.size()) && (fltab[static_cast<size_t>(i)] & 1);
}

int ldopnd(int k, int32_t id) {
  int32_t* t = optab;
  t[OT_ID + k] = id;
  PtrRec* r = ptrrec(id);
  t[OT_REC + k] = r ? id : 0;
  t[OT_KIND + k] = gtvarb(r, &t[OT_CNT + k], &t[OT_BUF + k], &t[OT_TOT + k], &t[OT_WSIZ + k], 0);
  return t[OT_KIND + k];
}

namespace {
// An operand that is a device variable whose device number names no device
// (or a window without an image) cannot be read: an operation or
// assignment on it is error 163, so that it stores nothing rather than
// emptying its destination. (size() of one still gives 0.)
// Operand k, a string list, read from now on as one text: its items joined
// by newlines. False when there is no room (error 42 reported).
bool lstjoin(int k) {
  int32_t* t = optab;
  PtrRec* s = oprec(k);
  if (!s) return true;
  std::string txt;
  const int32_t ne = t[OT_TOT + k];
  const auto x0 = static_cast<int32_t>(s->Offs[0]);
  for (int32_t i = 0; i < ne && !stopped(); i++) {
    int32_t len = 0;
    const uint8_t* p = lstptr(s, x0 + i, &len, 0);
    if (i > 0) txt.push_back('\n');
    if (p && len > 0) txt.append(reinterpret_cast<const char*>(p), static_cast<size_t>(len));
  }
  auto* r = static_cast<PtrRec*>(zeroblk(static_cast<int32_t>(sizeof(PtrRec)) | 1));
  auto* b = r && txt.size() < INT32_MAX - 8 ? static_cast<char*>(getbuf(static_cast<int32_t>(txt.size()) + 1))
                                            : nullptr;
  if (!b) {
    error(0, 42);
    return false;
  }
  std::memcpy(b, txt.data(), txt.size());
  b[txt.size()] = 0;
  const auto n = static_cast<uint32_t>(txt.size());
  r->Flg = K_STRING;
  r->Idx = -1;
  r->Wsiz = W_BYTE;
  r->Addr = static_cast<uint32_t>(stkadr(b));
  r->Length = static_cast<int32_t>(n);
  r->Datdims[0] = r->Offs[3] = r->Tot = n;
  r->Datdims[1] = r->Datdims[2] = 1;
  ldopnd(k, stkadr(r));
  return true;
}

// Operand 0, a text, stored as each item of the destination, a window of
// several whole items of a string list: as a value fills every element of
// a window of an array. Items the list does not hold yet are made (empty
// ones before the window): the list is then assigned whole, its items and
// the window's. False for any other destination (the usual store runs).
bool lstfill() {
  int32_t* t = optab;
  PtrRec* d = oprec(2);
  if (!d || !oprec(0) || !lstwin(d, t[OT_KIND + 2])) return false;
  OpRead in;
  in.start(0);
  // An item holds at most 255 characters.
  std::vector<uint8_t> txt(static_cast<size_t>(std::clamp<int32_t>(t[OT_RCNT], 0, 255)));
  const int32_t len = txt.empty() ? 0 : in.bytes(txt.data(), static_cast<int32_t>(txt.size()));
  const uint32_t x0 = d->Offs[0];
  if (d->Addr == 0 || uint64_t{x0} + d->Offs[3] > d->Datdims[0]) {
    // (More items than a command's scratch memory could ever list: no
    // room.)
    if (uint64_t{x0} + d->Offs[3] > (1u << 20)) {
      error(0, 42);
      return true;
    }
    std::vector<std::string> items;
    for (uint32_t i = 0; d->Addr && i < d->Datdims[0] && !stopped(); i++) {
      int32_t n = 0;
      const uint8_t* p = lstptr(d, static_cast<int32_t>(i), &n, 0);
      items.emplace_back(p && n > 0 ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
                                    : std::string());
    }
    items.resize(std::max<size_t>(items.size(), size_t{x0} + d->Offs[3]));
    for (uint32_t i = 0; i < d->Offs[3]; i++)
      items[x0 + i].assign(reinterpret_cast<const char*>(txt.data()), static_cast<size_t>(std::max(len, 0)));
    // The items as a list, given to the list seen whole.
    PtrRec* src = putptr(K_STRING, 0, nullptr, 0, W_BYTE, 1);
    PtrRec* all = mktmp(d, -1);
    if (stopped() || !src || !all || !lstrec(src, items)) {
      if (!(state & ST_ERROR)) error(0, 42);
      return true;
    }
    src->Idx = -1;
    all->Flg = static_cast<uint16_t>(all->Flg & ~1);
    for (uint32_t& o : all->Offs) o = 0;
    int32_t st[2] = {stkadr(all), stkadr(src)};
    int32_t dd = st[0];
    doarth(115, 2, 2, st, &dd);
    return true;
  }
  for (uint32_t i = 0; i < d->Offs[3] && !stopped(); i++) {
    d->XYZptr[0] = x0 + i;
    d->Dptr = 0;
    maklst(stkadr(d), len, 0);
    if (len <= 0) continue;
    if (d->Dptr == 0) {
      if (!(state & ST_ERROR)) error(0, 42);
      break;
    }
    std::memmove(dptr(d), txt.data(), static_cast<size_t>(len));
  }
  d->XYZptr[0] = x0;
  return true;
}

bool nodevice(int k) {
  const int32_t* t = optab;
  const PtrRec* r = oprec(k);
  if (!r || t[OT_TOT + k] >= 0 || (t[OT_KIND + k] & (K_NAMED | K_FILE)) || r->Idx == -1) return false;
  if (!(state & ST_ERROR)) error(0, 163);
  return true;
}
}  // namespace

int32_t* newopt() {
  auto* t = static_cast<int32_t*>(getbuf(OPTWDS * 4));
  if (!t) return nullptr;
  std::memset(t, 0, OPTWDS * 4);
  t[OT_PREV] = optab ? stkadr(optab) : 0;
  optab = t;
  return t;
}

void clropt() {
  int32_t prev = optab[OT_PREV];
  std::memset(optab, 0, OPTWDS * 4);
  optab[OT_PREV] = prev;
}

bool lstwin(const PtrRec* d, int kind) {
  return d && (kind & (K_LIST | K_STRING | K_VECTOR | K_FILE | 1)) == (K_LIST | K_STRING | 1) &&
         d->Offs[3] >= 2 && static_cast<int32_t>(d->Offs[4]) <= 0;
}

// ---------------------------------------------------------------------------
// The postfix walk.

int32_t doexpr(int32_t lstadr) {
  uint32_t* list = stkwp(lstadr);
  if (!list) return 0;
  uint32_t n = list[0];
  if (int32_t r = scalar(list)) return r;
  int32_t* prev = optab;
  if (!newopt()) {
    if (n > 0) list[1] = 0;
    return 0;
  }
  // The stack overlays the list from word 1: stack entry k is list word
  // 1 + k, and entry i of the list is stack[i] too.
  int32_t* stack = reinterpret_cast<int32_t*>(list + 1);
  int depth = 0;
  bool walked = false, rerun = false;
  uint32_t i = 0;
  for (;; i++) {
    if (i >= n) {
      walked = true;
      break;
    }
    int32_t id = stack[i];
    if (id == 0) break;
    PtrRec* item = ptrrec(id);
    if (!item || !(item->Flg & K_ARGS)) {
      stack[depth++] = id;
      continue;
    }
    int code = item->Idx;
    int count = (item->Flg & 1) ? 0 : std::clamp<int>(item->Wsiz, 0, depth);
    int32_t dest = 0;
    bool fused = false;
    if (code == 115) {
      dest = count > 0 ? stack[depth - count] : 0;
    } else if (i + 1 < n && depth - count >= 1) {
      PtrRec* nx = ptrrec(stack[i + 1]);
      if (nx && nx->Flg == K_ARGS && nx->Idx == 115) {
        dest = stack[depth - count - 1];
        fused = true;
        i++;
      }
    }
    int nd;
    if (item->Flg & 8) {
      error(0, 162);
      nd = -1;
    } else if (count > 0) {
      // The result feeds only the next element-wise operation: it may be
      // computed with it in one pass.
      qnext = !fused && count == 2 && qarcod(code) && feeds(stack, i, n);
      qlast = 0;
      nd = doarth(code, count, depth, stack, &dest);
      qnext = false;
    } else {
      nd = dofunc(code, id, depth, stack, &dest);
    }
    if (nd >= 0) {
      if (dest > 0 && code != 115) {
        nd--;
      } else if (dest < 0) {
        // The destination was refused: the result is a temporary, and the
        // assignment runs (again) as its own item with it as the source.
        if (fused) {
          i--;
        } else if (code == 115 && !rerun) {
          rerun = true;
          i--;
        }
      }
    }
    if (trcmsk & 0x200)
      jprintf(dbglun, "DOEXPR: %d %d %ld -> %ld\n", static_cast<int>(i), nd,
              static_cast<long>(nd >= 0 && static_cast<uint32_t>(nd) < n ? stack[nd] : 0),
              static_cast<long>(nd >= 1 ? stack[nd - 1] : 0));
    // Deferred operations whose consumer did not take them are computed
    // before anything else can read their results.
    if (!(qlast && nd >= 1 && stack[nd - 1] == qlast)) qflush();
    qlast = 0;
    if (nd < 0) break;
    depth = nd;
    if (code != 115 || dest >= 0) rerun = false;
    // An operation that reported an error or was stopped ends the walk:
    // its result is not a value.
    if (state & 0x8180) break;
  }
  qflush();
  optab = prev;
  if (!walked) {
    if (n > 0) list[1] = 0;
    return 0;
  }
  return n > 0 ? static_cast<int32_t>(list[1]) : 0;
}

// ---------------------------------------------------------------------------
// One element-wise operation.

int getdst(int32_t id) {
  int32_t* t = optab;
  if (id > 0) {
    if (!t[OT_REC + 2]) t[OT_REC + 2] = id;
    PtrRec* r = ptrrec(t[OT_REC + 2]);
    t[OT_KIND + 2] =
        gtvarb(r, &t[OT_CNT + 2], &t[OT_BUF + 2], &t[OT_TOT + 2], &t[OT_WSIZ + 2], 115);
  }
  return t[OT_KIND + 2];
}

int doarth(int code, int count, int depth, int32_t* stack, int32_t* dest) {
  bool want = qnext;
  qnext = false;
  if (count < 1 || count > depth || !stack) return -1;
  if (!optab && !newopt()) return -1;
  clropt();
  int32_t* t = optab;
  int mode = 0, n = count;
  int32_t d = *dest > 0 ? *dest : 0;
  bool refuse = false;

  t[OT_ID] = stack[depth - count];
  if (code == 115 && d == t[OT_ID]) {
    t[OT_ID] = stack[depth - 1];
    n = 1;
    // A variable assigned to itself through the same record: nothing to do.
    if (count > 1 && t[OT_ID] == d) {
      stack[depth - count] = d;
      return depth - count + 1;
    }
  }

  // Operand 1; the destination itself (an assignment without a source) is
  // not read. An operand that is the destination's own record under any
  // other operation is read, and the result goes to a temporary.
  if (t[OT_ID] != d || d == 0) {
    ldopnd(0, t[OT_ID]);
  } else if (code != 115) {
    ldopnd(0, t[OT_ID]);
    refuse = true;
  }
  // A string list assigned or joined to a text is one text, its items
  // joined by newlines.
  if ((code == 115 || code == 111) && d > 0 && t[OT_ID] != d &&
      (t[OT_KIND] & (K_LIST | K_STRING)) == (K_LIST | K_STRING))
    if (const PtrRec* dr = ptrrec(d); dr && (dr->Flg & (K_STRING | K_LIST | K_VECTOR)) == K_STRING)
      if (!lstjoin(0)) return -1;
  if (code == 198) {
    // '?x': the element count as a one-element 32-bit number; -1 for a
    // plain string.
    if (PtrRec* r = oprec(0)) {
      int32_t v = (t[OT_KIND] & ~3) == K_STRING ? -1 : std::max(t[OT_CNT], 0);
      r->Flg = K_CONST;
      r->Wsiz = W_LONG;
      std::memcpy(&r->Addr, &v, 4);
      r->Length = 1;
      t[OT_BUF] = 0;
    }
    t[OT_KIND] = K_CONST;
    t[OT_WSIZ] = W_LONG;
    t[OT_CNT] = t[OT_TOT] = 1;
  }
  t[OT_RWSZ] = t[OT_WSIZ];
  int32_t ec = t[OT_CNT];
  if ((t[OT_KIND] & K_ARRAYLIKE) && t[OT_TOT] == 1) mode = 1;

  if (n > 1) {
    t[OT_ID + 1] = stack[depth - 1];
    ldopnd(1, t[OT_ID + 1]);
    // Joined into a text, a string list is its items joined by newlines.
    if (code == 111 && d > 0 && t[OT_ID + 1] != d &&
        (t[OT_KIND + 1] & (K_LIST | K_STRING)) == (K_LIST | K_STRING))
      if (const PtrRec* dr = ptrrec(d); dr && (dr->Flg & (K_STRING | K_LIST | K_VECTOR)) == K_STRING)
        if (!lstjoin(1)) return -1;
    if (t[OT_ID + 1] == d && d) refuse = true;
    if ((t[OT_WSIZ + 1] & 0xFF) > (t[OT_RWSZ] & 0xFF)) t[OT_RWSZ] = t[OT_WSIZ + 1];
    if (t[OT_CNT] > 1)
      ec = (t[OT_CNT + 1] < t[OT_CNT] && t[OT_CNT + 1] > 1) ? t[OT_CNT + 1] : t[OT_CNT];
    else
      ec = t[OT_CNT + 1];
    if ((t[OT_KIND + 1] & K_ARRAYLIKE) && t[OT_TOT + 1] == 1) mode = 1;
  }
  // An operand that could not be read leaves the destination as it was.
  if (nodevice(0) || (n > 1 && nodevice(1))) return -1;

  t[OT_RCNT] = ec;
  if (code == 111) {
    t[OT_RCNT] = std::max(t[OT_CNT], 0) + std::max(t[OT_CNT + 1], 0);
    if (t[OT_CNT] > 0) {
      ec = t[OT_CNT];
      t[OT_CNT + 1] = 0;
    }
  } else if ((code == 107 || (code >= 120 && code <= 124)) && (t[OT_KIND] & K_STRING) &&
             (t[OT_KIND + 1] & K_STRING)) {
    t[OT_RCNT] = 1;
    t[OT_RWSZ] = W_FLOAT;
    n = 1;
    ec = -99;
  } else if (code == 180) {
    t[OT_RWSZ] = W_FLOAT;
  }

  // The destination.
  int k = getdst(d);
  // Texts joined for several items of a string list: the text is made
  // first, then given to each of them.
  if (code == 111 && d > 0 && lstwin(oprec(2), k)) refuse = true;
  if ((k & (K_NAMED | K_FILE)) && (k & K_ARRAYLIKE)) {
    // The destination seen as an operand: through the same window the
    // operation runs in place when the destination already holds the
    // result; through another window, or when it must grow, the result
    // goes to a temporary first.
    PtrRec* dr = oprec(2);
    for (int j = 0; j < 2; j++) {
      PtrRec* o = oprec(j);
      if (!samevar(o, dr)) continue;
      if (samewin(o, dr) && t[OT_CNT + 2] >= t[OT_RCNT])
        mode = 2;
      else
        refuse = true;
    }
  }
  if (t[OT_CNT + 2] >= 128 && n == 2 && t[OT_RCNT] == 1) refuse = true;
  if (refuse && d) {
    d = -1;
    t[OT_KIND + 2] = 0;
    t[OT_REC + 2] = 0;
    k = 0;
    if (mode == 2) mode = 0;
  } else if (code == 115) {
    if (count == 1) mode = -1;
    if (t[OT_CNT] != t[OT_CNT + 2] && t[OT_REC])
      if (samedim(oprec(0), oprec(2))) ec = t[OT_RCNT] = t[OT_CNT];
  }

  if (k == 0) {
    // Strings joined into a temporary stay a string, even of one character.
    if (code == 111 && (t[OT_KIND] & K_STRING) && (t[OT_KIND + 1] & K_STRING))
      t[OT_KIND + 2] = K_STRING;
    // A temporary result: '/' and the float functions give floats, other
    // integer results double their size (a 24-bit or nibble operand counts
    // as the size that holds it).
    int w = t[OT_RWSZ];
    if (w == W_LONIB || w == W_HINIB) w = W_BYTE;
    if (w < W_FLOAT) {
      if (code == 119 || fltres(code))
        w = W_FLOAT;
      else if (w == W_RGB)
        w = W_LONG;
      else if (w < 32)
        w *= 2;
      t[OT_RWSZ] = w;
    }
  }

  // A deferred operation that reads the destination is computed before
  // the destination is sized.
  if (d > 0 && qreads(oprec(2))) {
    qflush();
    for (int j = 0; j < n; j++)
      if (t[OT_REC + j]) ldopnd(j, t[OT_ID + j]);
  }

  // A destination remade for the result is put back if the operation fails.
  AsnScope hold;
  // Element-wise results and copies from a source store every item of
  // their destination: new storage for it need not be cleared first.
  bool covers = (qarcod(code) || (code == 115 && count > 1)) && ec > 0 &&
                !((t[OT_KIND] | t[OT_KIND + 1] | k) & (K_LIST | K_VECTOR));
  nozero = mkcover = covers;
  mkfresh = MkFresh{};
  // A text assigned or joined (not a list) is one item of a string list.
  outtext = (code == 115 || code == 111) && t[OT_REC] && (t[OT_KIND] & (K_STRING | K_LIST)) == K_STRING &&
            (n < 2 || !(t[OT_KIND + 1] & K_LIST));
  // A text given to several items of a string list (a window of it, by a
  // subscript or through a pointer) becomes each of them.
  if (const int32_t dh = t[OT_REC + 2]; outtext && code == 115 && lstfill()) {
    outtext = false;
    if (state & ST_ERROR) return -1;
    const int nd = depth - count + 1;
    stack[nd - 1] = dh;
    *dest = d;
    return nd;
  }
  int r = setout(mode, 1);
  nozero = mkcover = outtext = false;
  MkFresh fresh = mkfresh;
  mkfresh = MkFresh{};
  if (r < 0) return -1;
  if (r == 0) return depth;

  int nd = depth - count + 1;
  if (code == 115 && d == -1) {
    stack[depth - 1] = t[OT_ID + 2];
    nd = depth;
  } else {
    stack[nd - 1] = t[OT_ID + 2];
  }
  *dest = d;

  // (A list of empty items still gives its items to a list.)
  const bool lists = (t[OT_KIND] & K_LIST) && (t[OT_KIND + 2] & K_LIST) && t[OT_TOT] > 0;
  if (ec < 1 && ec != -99 && !lists) return nd;

  int kinds = t[OT_KIND] | t[OT_KIND + 1] | t[OT_KIND + 2];
  bool plain = ec > 0 && !(kinds & (K_LIST | K_VECTOR));
  bool done = false;
  if (want && plain && k == 0 && qdefer(code, ec, n)) return nd;
  if (qpend(t[OT_REC]) || (n > 1 && qpend(t[OT_REC + 1]))) {
    if (plain && qfuse(code)) {
      done = true;
    } else {
      // Not in one pass: the deferred operands are computed first.
      qflush();
      for (int j = 0; j < n; j++)
        if (t[OT_REC + j]) ldopnd(j, t[OT_ID + j]);
    }
  }
  if (!done && t[OT_CNT + 2] >= 128 && !(t[OT_KIND + 2] & K_LIST) && ec > 0)
    done = hardop(code, n) != 0;
  if (!done && plain) {
    if (code == 115) {
      if (t[OT_WSIZ + 2] == t[OT_WSIZ] || t[OT_CNT] == 1)
        done = qcopy() != 0;
      else
        done = qcnvrt() != 0;
    } else if (n == 2 && qarcod(code)) {
      // Whole-byte word sizes only (qarith checks): 24-bit colour data and
      // nibbles have rules of their own in the element loop.
      done = qarith(code) != 0;
    }
  }
  if (!done) ariths(code, ec, n);
  // Storage made for the result that the operation did not finish is
  // cleared after all.
  if (fresh.addr && stopped()) zerwds(fresh.addr, fresh.words);
  return nd;
}

// ---------------------------------------------------------------------------
// Sizing the result.

namespace {

// A string list seen whole (no element chosen), of which a text makes one
// item.
bool lstwhole(const PtrRec* d, int kind) {
  return (kind & (K_LIST | K_STRING | K_VECTOR | K_FILE | 1)) == (K_LIST | K_STRING) && d->Store == 0;
}

// Makes the string list d one item of n characters, its window that item:
// the text then goes into it as into any element. Negative on failure.
int lstone(PtrRec* d, int32_t n) {
  int r = asnvrb(d, 1, nullptr, 1);
  if (r < 0) return r;
  d->XYZptr[0] = d->Offs[0];
  maklst(stkadr(d), n, 0);
  return 1;
}

}  // namespace

int setout(int mode, int reshape) {
  int32_t* t = optab;
  if (PtrRec* d = oprec(2)) {
    PtrRec tmpl;
    const PtrRec* tp = nullptr;
    if (reshape && outshape && (t[OT_KIND + 2] & K_SHAPED)) {
      tp = outshape;
    } else if (reshape && (t[OT_KIND + 2] & K_SHAPED)) {
      int j = (t[OT_KIND] & K_SHAPED) ? 0 : (t[OT_KIND + 1] & K_SHAPED) ? 1 : -1;
      if (PtrRec* s = j >= 0 ? oprec(j) : nullptr) {
        std::memset(&tmpl, 0, sizeof tmpl);
        uint32_t e[3];
        srcdim(s, e);
        if ((t[OT_KIND + j] & K_SOLID) && e[2] >= 2 && !(t[OT_KIND + 2] & K_SOLID)) {
          // A solid given to a flat destination: one extent of 1 skipped.
          uint32_t f[3] = {1, 1, 1};
          int m = 0;
          bool skipped = false;
          for (int q = 0; q < 3; q++) {
            if (e[q] == 1 && !skipped) {
              skipped = true;
              continue;
            }
            if (m < 3) f[m++] = e[q];
          }
          std::memcpy(e, f, sizeof e);
        }
        for (int q = 0; q < 3; q++) tmpl.Offs[3 + q] = tmpl.Datdims[q] = e[q];
        tmpl.Flg = static_cast<uint16_t>(t[OT_KIND + j] & K_SOLID);  // the shape is a solid's
        tp = &tmpl;
      }
    }
    int32_t cnt = ((t[OT_KIND + 2] & K_LIST) && (t[OT_KIND] & K_LIST)) ? t[OT_TOT] : t[OT_RCNT];
    const bool whole = lstwhole(d, t[OT_KIND + 2]);
    // A list of no items (an empty text file's lines) leaves a string list
    // seen whole with none, as an assignment of nothing does: nothing is
    // stored.
    if (whole && !outtext && (t[OT_KIND] & K_LIST) && t[OT_REC] && t[OT_TOT] <= 0) {
      asnvrb(d, 0, nullptr, -1);
      return 0;
    }
    // A text makes a string list seen whole one item; so do numbers (not
    // a list's items), the item's characters then their codes.
    const bool one = whole && (outtext || outnums || !(t[OT_KIND] & (K_LIST | K_VECTOR)));
    int r = one ? lstone(d, t[OT_RCNT]) : asnvrb(d, cnt, tp, mode);
    if (r < 0) return r + 1;
    t[OT_KIND + 2] =
        gtvarb(d, &t[OT_CNT + 2], &t[OT_BUF + 2], &t[OT_TOT + 2], &t[OT_WSIZ + 2], 1);
    // The window is the one item: its characters are what is stored.
    if (one) t[OT_CNT + 2] = t[OT_BUF + 2];
    t[OT_ID + 2] = t[OT_REC + 2];
    return 1;
  }

  // A temporary in the scratch area.
  t[OT_WSIZ + 2] = t[OT_RWSZ];
  int32_t cnt = t[OT_RCNT];
  int w = t[OT_RWSZ];
  int want = t[OT_KIND + 2];
  if (!want) {
    want = t[OT_KIND] & 0x07F0;
    if (t[OT_REC + 1]) want &= t[OT_KIND + 1];
    if (want & K_NUMBER) want &= ~K_NUMBER;
    if (!(want & 0x07F0)) want = K_ARRAY;
  }
  auto* r = static_cast<PtrRec*>(zeroblk(static_cast<int32_t>(sizeof(PtrRec)) | 1));
  if (!r) {
    error(0, 42);
    return -1;
  }
  r->Idx = -1;
  r->Wsiz = static_cast<int16_t>(w);
  // One value is a number held in its own record, unless a string or a
  // vector is wanted.
  if (cnt == 1 && !outkeep && !(t[OT_KIND + 2] & (K_STRING | K_VECTOR))) {
    r->Flg = K_CONST;
    r->Length = 1;
  } else {
    int bits = w == W_VEC ? 64 : (w & 63);
    int64_t bytes = cnt > 0 ? (static_cast<int64_t>(cnt) * bits + 7) / 8 : 0;
    if (bytes > INT32_MAX - 8) {
      error(0, 42);
      return -1;
    }
    int32_t a = 0;
    if (bytes > 0) {
      int got = getstk(&a, static_cast<int32_t>(bytes), 1, 2, -1);
      if (got < 1 || a == 0) return -1;  // error 42 was reported
      if (!nozero) zerwds(a, (bytes + 3) / 4);
    }
    r->Flg = static_cast<uint16_t>(want | K_NAMED);
    if (a >= HIMEM_BASE) r->Flg2 = F2_HIGH;
    r->Addr = static_cast<uint32_t>(a);
    r->Length = cnt > 0 ? cnt : 0;
    // The shape of the operand the result follows, when it has as many
    // elements; else one row. A matrix, image or solid is followed first,
    // as an assigned destination takes its shape from it, and the result
    // is then of that kind: a chain of element-wise operations on an image
    // (with numbers or same-sized operands) stays an image of its shape.
    uint32_t e[3] = {static_cast<uint32_t>(r->Length), 1, 1};
    int follow = -1;
    for (int pass = 0; pass < 2 && follow < 0; pass++)
      for (int j = 0; j < 2 && follow < 0; j++) {
        int kj = t[OT_KIND + j];
        if (oprec(j) && (kj & (pass == 0 ? K_SHAPEK : K_DIMS)) && t[OT_CNT + j] == cnt && cnt > 0)
          follow = j;
      }
    if (follow >= 0) {
      uint32_t f[3];
      srcdim(oprec(follow), f);
      if (static_cast<int64_t>(f[0]) * f[1] * f[2] == cnt) {
        std::memcpy(e, f, sizeof e);
        int sk = t[OT_KIND + follow] & K_SHAPEK;
        if (sk && !t[OT_KIND + 2] && !(want & (K_STRING | K_VECTOR | K_LIST)))
          r->Flg = static_cast<uint16_t>((want & ~K_DIMS) | sk | K_NAMED);
      }
    }
    for (int q = 0; q < 3; q++) r->Datdims[q] = r->Offs[3 + q] = e[q];
  }
  t[OT_REC + 2] = stkadr(r);
  t[OT_KIND + 2] =
      gtvarb(r, &t[OT_CNT + 2], &t[OT_BUF + 2], &t[OT_TOT + 2], &t[OT_WSIZ + 2], 1);
  t[OT_CNT + 2] = r->Length;
  t[OT_ID + 2] = t[OT_REC + 2];
  return 1;
}

int samedim(PtrRec* a, PtrRec* b) {
  if (!b) return 0;
  if (!a || (a->Wsiz == W_BYTE && b->Wsiz == W_NIBBLE)) {
    // A device variable of nibbles given bytes: viewed as bytes from now on.
    BufRec* bf = bufrec(b);
    if (bf && !(b->Flg & (K_NAMED | K_FILE | K_VALUE))) {
      b->Idx++;
      for (auto& s : bf->B) s.Siz[0] = static_cast<int16_t>(s.Siz[0] / 2);
      bf->Bufdims[0] /= 2;
      b->Wsiz = W_BYTE;
      b->Wbyts = 1;
      b->Rwds /= 2;
      b->Bufsiz = -1;
    }
    if (!a) return 1;
  }
  // A whole variable (a named one, or a file variable without a subscript)
  // is remade for what it is given, not cut to it.
  if (!(a->Flg & K_HDR) || !(b->Flg & K_HDR) || a->Length == 1 || (b->Flg & 0x1006) == 0x1000 ||
      (b->Flg & (K_FILE | 1)) == K_FILE)
    return 0;
  int nd = std::clamp<int>(b->Ndims, 1, 3);
  if (b->Flg & 1)
    for (int k = 0; k < nd; k++)
      if (b->Datdims[k] > 0 && b->Offs[3 + k] != b->Datdims[k] - b->Offs[k]) return 0;
  for (int k = 0; k < nd; k++) {
    uint32_t ea = a->Offs[3 + k], eb = b->Offs[3 + k];
    if (ea == eb || ea == 0 || eb == 0) continue;
    if (ea > eb) {
      a->Offs[3 + k] = eb;
      a->Flg |= 1;
    } else {
      b->Offs[3 + k] = ea;
      b->Flg |= 1;
    }
  }
  a->Bufsiz = b->Bufsiz = -1;
  if (optab && optab[OT_REC] == stkadr(a))
    optab[OT_KIND] = gtvarb(a, &optab[OT_CNT], &optab[OT_BUF], &optab[OT_TOT], &optab[OT_WSIZ], 0);
  return 1;
}

// ---------------------------------------------------------------------------
// Lists and strings.

int dolist(int) {
  PtrRec* s = oprec(0);
  PtrRec* d = oprec(2);
  if (!s || !d) return 0;
  int32_t n = optab[OT_TOT];
  bool str = (d->Flg & K_STRING) != 0;
  int sbits = s->Wsiz & 63;
  dopause();
  // The destination's elements are stored from its window's first (a list
  // of no variable has been read past it while it was prepared).
  d->XYZptr[0] = d->Offs[0];
  for (int32_t i = 0; i < n && !stopped(); i++) {
    // Element i of the source's window. Preparing a record of no variable
    // has already made its first element addressable and moved past it, so
    // the position is set here rather than taken as it stands.
    s->XYZptr[0] = s->Offs[0] + static_cast<uint32_t>(i);
    int32_t len = 0;
    LDVARB(s, &len, 0);
    if (len < 0) len = 0;
    int64_t bytes = (s->Flg & K_STRING) ? len : (static_cast<int64_t>(len) * sbits + 7) / 8;
    if (str) {
      bytes = std::min<int64_t>(bytes, 255);
      if (static_cast<int32_t>(d->Offs[4]) > 0) bytes = std::min<int64_t>(bytes, d->Offs[4]);
    }
    if (bytes > INT32_MAX) break;
    const uint8_t* src = bytes > 0 ? dptr(s) : nullptr;
    d->Dptr = 0;
    maklst(stkadr(d), static_cast<int32_t>(bytes), 0);
    if (bytes > 0) {
      if (d->Dptr == 0 || !src) break;  // no element could be made
      std::memmove(dptr(d), src, static_cast<size_t>(bytes));
    }
    d->XYZptr[0]++;
  }
  return 0;
}

uint64_t digval(const char* s, int n) {
  uint64_t w = 0x1000000, v = 0, d = 0;
  int k = 0;
  for (int i = 0; i <= n; i++) {
    int c = i < n ? static_cast<unsigned char>(s[i]) : 0;
    if (c >= '0' && c <= '9') {
      d = d * 10 + static_cast<uint64_t>(c - '0');
      k++;
      continue;
    }
    if (k > 0) {
      v += d * w;
      w = k < 64 ? w >> k : 0;
      d = 0;
      k = 0;
    }
    if (c >= 'a' && c <= 'z') c -= 32;
    if (c >= 'A' && c <= 'Z') {
      v += static_cast<uint64_t>(c) * w;
      w >>= 1;
    }
  }
  return v;
}

int compar(int code, const char* s1, int len1, const char* s2, int len2) {
  int r = 0;
  if (code == 121 || code == 123) {
    uint64_t v1 = digval(s1, len1), v2 = digval(s2, len2);
    r = code == 121 ? v1 > v2 : v1 < v2;
  } else {
    // A length of 0 would mean "up to the NUL" to isname: an empty string
    // compares as nothing.
    int m = (len1 > 0 && len2 > 0) ? isname(s1, s2, len1, len2) : 0;
    switch (code) {
      case 107:
        r = m == 1;
        break;
      case 120:
        r = m == 1 || m == 2;
        break;
      case 122:
        r = m == 1 || m == -1;
        break;
      case 124:
        r = m != 1;
        break;
      default:
        r = 0;
    }
  }
  if ((trcmsk & 0x208) == 0x208)
    jprintf(dbglun, "COMPAR: (%.*s,%d) <%d> (%.*s,%d)\n", std::max(len1, 0), s1, len1, code,
            std::max(len2, 0), s2, len2);
  return r;
}
