// Ranking, ordering by an index, peak detection and the line reductions.
//
// rank keeps the order of equal elements: it sorts (key, index) pairs with a
// stable radix sort on keys that order as the elements compare (floats by
// value, 32- and 16-bit items signed, other items by their first byte), so
// the result is the one an exchange sort that never swaps equals gives, in
// O(n) passes. A string list is ranked by a stable comparison sort.
#include "compute/rank.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "compute/arith.h"
#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "compute/funcs.h"
#include "compute/opstream.h"
#include "core/args.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "ui/events.h"

namespace {

// Items read between two polls of the keyboard.
constexpr int32_t POLLRUN = 1 << 16;

bool whole(int wsiz) {
  return wsiz == W_BYTE || wsiz == W_SHORT || wsiz == W_RGB || wsiz == W_LONG || wsiz == W_FLOAT;
}

// Walks n items of a prepared record from its current position: items of a
// whole-byte code in runs (run(p, i, count), p the bytes of item i), any
// other items one by one (one(i), which reads the item through the element
// access). Returns the items walked; fewer on a stop or when the data ends.
template <class Run, class One>
int32_t walk(PtrRec* r, int32_t* part, int32_t n, Run&& run, One&& one) {
  bool runs = !(r->Flg & (K_NUMBER | K_LIST)) && whole(r->Wsiz);
  int wb = (r->Wsiz & 63) / 8;
  int32_t i = 0;
  while (i < n && !stopped()) {
    if (i >= *part) {
      LDVARB(r, part, i);
      if (*part <= i) break;
    }
    int32_t end = static_cast<int32_t>(std::min<int64_t>({*part, n, int64_t{i} + POLLRUN}));
    if (runs) {
      if (const uint8_t* p = dptr(r)) run(p, i, end - i);
      r->Dptr = addref(r->Dptr, static_cast<int64_t>(end - i) * wb);
      i = end;
    } else {
      for (; i < end; i++) one(i);
    }
    chkio(0);
  }
  prgidx = static_cast<uint32_t>(i);
  return i;
}

// Order-preserving keys: unsigned comparison of the keys gives the order of
// the elements.
inline uint32_t fltkey(float f) {
  if (std::isnan(f)) return 0xFFC00000u;
  if (f == 0.0f) f = 0.0f;  // -0 and +0 are equal
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}
inline uint32_t i32key(int32_t v) { return static_cast<uint32_t>(v) ^ 0x80000000u; }

// The keys of n items of operand record r into key[i] << 32 | i.
int32_t rdkeys(PtrRec* r, int32_t* part, int32_t n, uint64_t* pr) {
  int w = r->Wsiz;
  auto put = [pr](int32_t i, uint32_t k) {
    pr[i] = (static_cast<uint64_t>(k) << 32) | static_cast<uint32_t>(i);
  };
  auto run = [&](const uint8_t* p, int32_t i0, int32_t cnt) {
    switch (w) {
      case W_FLOAT:
        for (int32_t j = 0; j < cnt; j++) {
          float f;
          std::memcpy(&f, p + 4 * j, 4);
          put(i0 + j, fltkey(f));
        }
        break;
      case W_LONG:
        for (int32_t j = 0; j < cnt; j++) {
          int32_t v;
          std::memcpy(&v, p + 4 * j, 4);
          put(i0 + j, i32key(v));
        }
        break;
      case W_SHORT:
        for (int32_t j = 0; j < cnt; j++) {
          int16_t v;
          std::memcpy(&v, p + 2 * j, 2);
          put(i0 + j, static_cast<uint32_t>(v + 32768));
        }
        break;
      case W_RGB:
        for (int32_t j = 0; j < cnt; j++) put(i0 + j, p[3 * j]);
        break;
      default:
        for (int32_t j = 0; j < cnt; j++) put(i0 + j, p[j]);
        break;
    }
  };
  auto one = [&](int32_t i) {
    if (w == W_FLOAT || (r->Flg & K_NUMBER)) {
      put(i, fltkey(static_cast<float>(GSTACK(r))));
    } else {
      int32_t v = igstak(r);
      if (w == W_LONG)
        put(i, i32key(v));
      else if (w == W_SHORT)
        put(i, static_cast<uint32_t>(static_cast<int16_t>(v) + 32768));
      else if (w == W_RGB)
        put(i, static_cast<uint32_t>(v) & 0xFF);
      else
        put(i, static_cast<uint32_t>(v));
    }
  };
  return walk(r, part, n, run, one);
}

// Stable LSD radix sort of n pairs on their high 32 bits, 11 bits a pass;
// passes where every key has the same digit are skipped. tmp holds n pairs.
// False when stopped.
bool rdxsrt(uint64_t* a, uint64_t* tmp, int32_t n) {
  constexpr int BITS = 11, NB = 1 << BITS;
  static uint32_t cnt[3][NB];
  std::memset(cnt, 0, sizeof cnt);
  for (int32_t i = 0; i < n; i++) {
    uint32_t k = static_cast<uint32_t>(a[i] >> 32);
    cnt[0][k & (NB - 1)]++;
    cnt[1][(k >> BITS) & (NB - 1)]++;
    cnt[2][k >> (2 * BITS)]++;
  }
  uint64_t* src = a;
  uint64_t* dst = tmp;
  for (int pass = 0; pass < 3; pass++) {
    chkio(0);
    if (stopped()) return false;
    uint32_t* c = cnt[pass];
    bool trivial = false;
    uint32_t sum = 0;
    for (int b = 0; b < NB; b++) {
      if (c[b] == static_cast<uint32_t>(n)) trivial = true;
      uint32_t v = c[b];
      c[b] = sum;
      sum += v;
    }
    if (trivial) continue;
    int shift = 32 + pass * BITS;
    for (int32_t i = 0; i < n; i++) {
      uint64_t v = src[i];
      dst[c[(v >> shift) & (NB - 1)]++] = v;
    }
    std::swap(src, dst);
  }
  if (src != a) std::memcpy(a, src, static_cast<size_t>(n) * sizeof(uint64_t));
  return true;
}

// One string of a string list for the comparison: at most 64 characters.
struct Str {
  char s[65];
};

}  // namespace

int32_t rdflts(PtrRec* r, int32_t* part, float* out, int32_t n) {
  auto run = [&](const uint8_t* p, int32_t i0, int32_t cnt) {
    if (r->Wsiz == W_FLOAT) {
      std::memcpy(out + i0, p, static_cast<size_t>(cnt) * 4);
      return;
    }
    uint8_t bp = 0;
    int step = 0;
    for (int32_t j = 0; j < cnt; j++) {
      out[i0 + j] = static_cast<float>(lditm(p, r->Wsiz, &bp, &step));
      p += step;
    }
  };
  auto one = [&](int32_t i) { out[i] = static_cast<float>(GSTACK(r)); };
  return walk(r, part, n, run, one);
}

// ---------------------------------------------------------------------------
// rank

int su_rank(FnCall& c) {
  int32_t* t = optab;
  int k = t[OT_KIND];
  if (k & K_LIST) {
    if (!(k & K_STRING)) {
      // Only a list of strings has an order.
      c.ret = -1;
      return FS_RET;
    }
    PtrRec* r = oprec(0);
    t[OT_RCNT] = r ? static_cast<int32_t>(r->Offs[3]) : 0;
    // The indices are numbers, not a list like the operand.
    if (!t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = K_ARRAY;
  }
  t[OT_RWSZ] = t[OT_RCNT] > 32767 ? W_LONG : W_SHORT;
  return FS_GO;
}

int run_rank(FnCall& c) {
  int32_t* t = optab;
  PtrRec* r = oprec(0);
  int32_t n = t[OT_RCNT];
  if (!r || n < 1) return 0;
  bool desc = lngarg(3, 0) != 0;
  auto* idx = static_cast<uint32_t*>(getmem(static_cast<size_t>(n) * 4));
  if (!idx) {
    error(0, 126);
    return -1;
  }
  bool ok = true;
  prgidx = 0;
  prgtot = static_cast<uint32_t>(n);
  if (t[OT_KIND] & K_LIST) {
    auto* s = static_cast<Str*>(getmem(static_cast<size_t>(n) * sizeof(Str)));
    if (!s) {
      fremem(idx);
      error(0, 126);
      return -1;
    }
    for (int32_t i = 0; i < n; i++) {
      int32_t len = 0;
      const uint8_t* p = lstptr(r, static_cast<int32_t>(r->Offs[0]) + i, &len, 0);
      len = p ? std::clamp(len, 0, 64) : 0;
      if (len) std::memcpy(s[i].s, p, static_cast<size_t>(len));
      s[i].s[len] = 0;
      idx[i] = static_cast<uint32_t>(i);
    }
    std::stable_sort(idx, idx + n, [s, desc](uint32_t a, uint32_t b) {
      int d = std::strcmp(s[a].s, s[b].s);  // bytes compared unsigned
      return desc ? d > 0 : d < 0;
    });
    fremem(s);
  } else {
    auto* pr = static_cast<uint64_t*>(getmem(static_cast<size_t>(n) * 16));
    if (!pr) {
      fremem(idx);
      error(0, 126);
      return -1;
    }
    int32_t& part = t[OT_BUF];
    int32_t got = rdkeys(r, &part, n, pr);
    for (int32_t i = got; i < n; i++) pr[i] = static_cast<uint64_t>(i);
    if (desc)
      for (int32_t i = 0; i < n; i++) pr[i] ^= 0xFFFFFFFF00000000ull;
    ok = got == n && rdxsrt(pr, pr + n, n);
    for (int32_t i = 0; ok && i < n; i++) idx[i] = static_cast<uint32_t>(pr[i]);
    fremem(pr);
  }
  prgtot = 0;
  // Interrupted or failed: nothing is written.
  ok = ok && !stopped();
  if (ok) {
    if (t[OT_RWSZ] == W_SHORT) {
      // Up to 32767 indices: 16-bit items, written over the low halves.
      auto* h = reinterpret_cast<int16_t*>(idx);
      for (int32_t i = 0; i < n; i++) h[i] = static_cast<int16_t>(idx[i]);
    }
    putvrb(idx, t[OT_RWSZ], t[OT_ID + 2], n);
  }
  fremem(idx);
  (void)c;
  return ok ? 0 : -1;
}

// ---------------------------------------------------------------------------
// order

namespace {

// In-memory data that is contiguous from its first item: no block buffers,
// no file, the whole data in the window, flat memory.
bool flat(const PtrRec* r) {
  return !bufrec(r) && !(r->Flg & (K_FILE | K_LIST | K_NUMBER)) && r->Offs[0] == 0 &&
         r->Offs[1] == 0 && r->Offs[2] == 0 && r->Length == static_cast<int32_t>(r->Tot) &&
         r->Length > 0 && !((himemflag & 2) && static_cast<int32_t>(r->Addr) >= HIMEM_BASE);
}

}  // namespace

namespace {

// The indices of operand 2 for a source of ns items (no more indices than
// that), in order: false when one lies outside the source (error 196,
// the call refused) or the work was stopped.
bool ordidx(FnCall& c, int32_t ns, std::vector<int32_t>* idx) {
  int32_t* t = optab;
  PtrRec* x = oprec(1);
  const int32_t n = std::min(ns, t[OT_CNT + 1]);
  idx->reserve(static_cast<size_t>(std::max(n, 0)));
  int32_t part = t[OT_BUF + 1];
  for (int32_t i = 0; i < n && !stopped(); i++) {
    if (i >= part) {
      LDVARB(x, &part, i);
      if (part <= i) break;
    }
    const int32_t k = igstak(x);
    if (k < 0 || k >= ns) {
      fnrefus(c, 0, 196);
      return false;
    }
    idx->push_back(k);
  }
  if (stopped()) fnrefus(c, 0, 0);
  return !stopped();
}

// order of a string list: whole items move. The source's items (counted
// from its window's first) are gathered in the new order before anything
// is written, so a list ordered into itself reads none it has overwritten;
// an index outside the items refuses the call (error 196). Into a string
// list they are assigned as a list; anywhere else the result is their text,
// one newline between items.
int ordlst(FnCall& c) {
  PtrRec* s = oprec(0);
  std::vector<int32_t> idx;
  if (!ordidx(c, static_cast<int32_t>(s->Offs[3]), &idx)) return FS_RET;
  std::vector<std::string> items;
  items.reserve(idx.size());
  for (const int32_t k : idx) {
    int32_t len = 0;
    const uint8_t* p = lstptr(s, static_cast<int32_t>(s->Offs[0]) + k, &len, 0);
    if (p && len > 0)
      items.emplace_back(reinterpret_cast<const char*>(p), static_cast<size_t>(len));
    else
      items.emplace_back();
  }
  return lstres(c, items);  // a list assigned by run_order
}

// order of a text: its characters picked by the indices, one for each
// (no more than the text holds), give one text (an index outside the text
// refuses the call, error 196): into a string list one item.
int ordtxt(FnCall& c, const std::string& src) {
  std::vector<int32_t> idx;
  if (!ordidx(c, static_cast<int32_t>(src.size()), &idx)) return FS_RET;
  std::string txt;
  for (const int32_t k : idx) txt.push_back(src[static_cast<size_t>(k)]);
  return settxt(c, txt.data(), static_cast<int32_t>(txt.size()));  // stored by the dispatcher
}

}  // namespace

// Every index is checked before the destination is made: an index outside
// the source refuses the call (error 196) and leaves the destination as it
// was.
int su_order(FnCall& c) {
  int32_t* t = optab;
  PtrRec* x = oprec(1);
  c.aux = 0;
  const bool lst = (t[OT_KIND] & (K_LIST | K_STRING)) == (K_LIST | K_STRING);
  // Without an index nothing is ordered: a string list, like an array,
  // leaves its destination as it was.
  if (lst && oprec(0) && !x) return fnrefus(c, 0, 0);
  if (!oprec(0) || !x) return FS_GO;
  if (lst) return ordlst(c);
  if (std::string txt; optext(&txt)) return ordtxt(c, txt);
  int32_t n = std::min(t[OT_CNT], t[OT_CNT + 1]);
  const uint32_t lim = static_cast<uint32_t>(std::max(t[OT_CNT], 0));
  bool bad = false;
  const uint8_t* x0 = flat(x) ? dat0(x) : nullptr;
  if (x0 && (x->Wsiz == W_LONG || x->Wsiz == W_SHORT) && !(x->Flg & (K_NUMBER | K_LIST))) {
    if (x->Wsiz == W_LONG) {
      uint32_t worst = 0;
      for (int32_t i = 0; i < n; i++) {
        int32_t h;
        std::memcpy(&h, x0 + 4 * static_cast<int64_t>(i), 4);
        worst = std::max(worst, static_cast<uint32_t>(h));
      }
      bad = n > 0 && worst >= lim;
    } else {
      uint32_t worst = 0;
      for (int32_t i = 0; i < n; i++) {
        int16_t h;
        std::memcpy(&h, x0 + 2 * static_cast<int64_t>(i), 2);
        worst = std::max(worst, static_cast<uint32_t>(static_cast<int32_t>(h)));
      }
      bad = n > 0 && worst >= lim;
    }
  } else {
    int32_t part = t[OT_BUF + 1];
    for (int32_t i = 0; i < n && !bad && !stopped(); i++) {
      if (i >= part) {
        LDVARB(x, &part, i);
        if (part <= i) break;
      }
      bad = static_cast<uint32_t>(igstak(x)) >= lim;
    }
    ldopnd(1, t[OT_ID + 1]);  // read again from the start
  }
  if (stopped()) return fnrefus(c, 0, 0);
  return bad ? fnrefus(c, 0, 196) : FS_GO;
}

int run_order(FnCall& c) {
  int32_t* t = optab;
  // The items of a string list, gathered in order by su_order; a text
  // su_order made.
  if (int rc; lstrun(c, &rc)) return rc;
  if (c.text) return 0;
  PtrRec* s = oprec(0);
  PtrRec* x = oprec(1);
  PtrRec* d = oprec(2);
  if (!s || !x || !d) return 0;
  int32_t n = std::min(t[OT_CNT], t[OT_CNT + 1]);
  n = std::min(n, t[OT_CNT + 2]);
  if (n < 1) return 0;
  if (s != d && opalias()) {
    // The destination is the source's own data (v = order(v, ...)): the
    // source is read whole first, so no element is read after it was
    // overwritten.
    OpRead in;
    in.start(0);
    in.detach();
    int32_t& xp = t[OT_BUF + 1];
    int32_t& dp = t[OT_BUF + 2];
    for (int32_t i = 0; i < n && !stopped(); i++) {
      if (i >= xp) {
        LDVARB(x, &xp, i);
        if (xp <= i) break;
      }
      uint32_t k = static_cast<uint32_t>(igstak(x));
      if (k >= static_cast<uint32_t>(in.n)) {
        error(0, 196);
        break;
      }
      if (i >= dp) {
        DMPVRB(d, &dp, 1, i);
        if (dp <= i) break;
      }
      if (in.flt)
        PSTACK(in.mf[k], d);
      else
        IPSTAK(in.at(static_cast<int32_t>(k)), d);
    }
    DMPVRB(d, &dp, 0, 0);
    return 0;
  }
  int ws = s->Wsiz, wd = d->Wsiz;
  bool copy = ws == wd && whole(ws) && !(s->Flg & (K_NUMBER | K_LIST)) && !(d->Flg & K_NUMBER);
  bool flt = ws == W_FLOAT || wd == W_FLOAT;
  int wb = (ws & 63) / 8;
  int32_t& xpart = t[OT_BUF + 1];
  int32_t& dpart = t[OT_BUF + 2];
  int32_t scnt = t[OT_CNT];
  prgidx = 0;
  prgtot = static_cast<uint32_t>(n);

  // In-memory data that is contiguous (no block buffers, the whole of it
  // in the window, flat memory): indexed directly; the index list and the
  // destination are streamed part by part.
  bool xint = (x->Wsiz == W_LONG || x->Wsiz == W_SHORT) && !(x->Flg & (K_NUMBER | K_LIST));
  const uint8_t* s0 = copy && flat(s) ? dat0(s) : nullptr;
  // The index list and the destination flat too: no parts at all.
  uint8_t* x0 = flat(x) ? dat0(x) : nullptr;
  uint8_t* d0 = flat(d) ? dat0(d) : nullptr;
  if (s0 && xint && !(d->Flg & K_LIST)) {
    int xb = x->Wsiz == W_LONG ? 4 : 2;
    int32_t i = 0;
    while (i < n && !stopped()) {
      if (!x0 && i >= xpart) {
        LDVARB(x, &xpart, i);
        if (xpart <= i) break;
      }
      if (!d0 && i >= dpart) {
        DMPVRB(d, &dpart, 1, i);
        if (dpart <= i) break;
      }
      int64_t lim = std::min<int64_t>(n, int64_t{i} + POLLRUN);
      if (!x0) lim = std::min<int64_t>(lim, xpart);
      if (!d0) lim = std::min<int64_t>(lim, dpart);
      int32_t end = static_cast<int32_t>(lim);
      const uint8_t* xp = x0 ? x0 + static_cast<int64_t>(i) * xb : dptr(x);
      uint8_t* dp = d0 ? d0 + static_cast<int64_t>(i) * wb : dptr(d);
      if (!xp || !dp) break;
      int32_t done = 0;
      const int32_t cnt = end - i;
      // The item size and the index size as constants of the loop.
      auto move = [&](auto wbc, auto xbc) {
        constexpr int W = decltype(wbc)::value, X = decltype(xbc)::value;
        using Idx = std::conditional_t<X == 4, int32_t, int16_t>;
        const uint32_t lim = static_cast<uint32_t>(scnt);
        const uint8_t* __restrict xs = xp;
        uint8_t* __restrict ds = dp;
        int32_t j = 0;
        for (; j < cnt; j++) {
          Idx h;
          std::memcpy(&h, xs + X * static_cast<int64_t>(j), X);
          uint32_t k = static_cast<uint32_t>(static_cast<int32_t>(h));
          if (k >= lim) break;
          std::memcpy(ds + static_cast<int64_t>(j) * W, s0 + static_cast<int64_t>(k) * W, W);
        }
        done = j;
      };
      using I4 = std::integral_constant<int, 4>;
      using I2 = std::integral_constant<int, 2>;
      switch (wb * 8 + xb) {
        case 12: move(std::integral_constant<int, 1>{}, I4{}); break;
        case 10: move(std::integral_constant<int, 1>{}, I2{}); break;
        case 20: move(I2{}, I4{}); break;
        case 18: move(I2{}, I2{}); break;
        case 28: move(std::integral_constant<int, 3>{}, I4{}); break;
        case 26: move(std::integral_constant<int, 3>{}, I2{}); break;
        case 36: move(I4{}, I4{}); break;
        default: move(I4{}, I2{}); break;
      }
      if (!x0) x->Dptr = addref(x->Dptr, static_cast<int64_t>(done) * xb);
      if (!d0) d->Dptr = addref(d->Dptr, static_cast<int64_t>(done) * wb);
      if (done < cnt) {
        error(0, 196);  // an index outside the source
        break;
      }
      i = end;
      prgidx = static_cast<uint32_t>(i);
      chkio(0);
    }
    DMPVRB(d, &dpart, 0, 0);
    prgtot = 0;
    return 0;
  }

  for (int32_t i = 0; i < n && !stopped(); i++) {
    if (i >= xpart) {
      LDVARB(x, &xpart, i);
      if (xpart <= i) break;
    }
    int32_t k = igstak(x);
    if (!setpos(s, k)) break;  // error 196 outside the source
    if (i >= dpart) {
      DMPVRB(d, &dpart, 1, i);
      if (dpart <= i) break;
    }
    if (copy) {
      const uint8_t* sp = dptr(s);
      uint8_t* dp = dptr(d);
      if (sp && dp) std::memcpy(dp, sp, static_cast<size_t>(wb));
      d->Dptr = addref(d->Dptr, wb);
    } else if (flt) {
      PSTACK(GSTACK(s), d);
    } else {
      IPSTAK(igstak(s), d);
    }
    if ((i & (POLLRUN - 1)) == 0) {
      prgidx = static_cast<uint32_t>(i);
      chkio(0);
    }
  }
  DMPVRB(d, &dpart, 0, 0);
  prgtot = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// peak

// The peaks are found before the destination is sized, so that it is made
// with exactly as many elements as were reported.
int su_peak(FnCall& c) {
  int32_t* t = optab;
  getdst(c.dest);
  PtrRec* y = oprec(0);
  PtrRec* xr = oprec(1);
  int32_t n = y ? t[OT_CNT] : 0;
  bool hasx = xr && t[OT_CNT + 1] > 0 && (t[OT_KIND + 1] & 0x7F0);
  if (hasx) n = std::min(n, t[OT_CNT + 1]);
  int m = intarg(4, 1);
  int T = intarg(5, 10);
  t[OT_RWSZ] = W_LONG;
  if (!t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = K_ARRAY;
  auto* out = static_cast<int32_t*>(getmem(static_cast<size_t>(std::max(n, 1)) * 4));
  if (!out) {
    error(0, 126);
    c.ret = 0;
    return FS_RET;
  }
  bool fltout = (m & 4) || (m & 8);
  int32_t found = 0;
  int s = m & 1;
  float vmax = -9999999.0f, vmin = 9999999.0f, xmax = 0, xmin = 0;
  int32_t imax = 0, imin = 0;
  int32_t ypart = t[OT_BUF], xpart = hasx ? t[OT_BUF + 1] : 0;
  prgtot = static_cast<uint32_t>(std::max(n, 0));
  // A destination of floats takes values and positions as they are.
  auto report = [&](float v, float x, int32_t i) {
    float f = (m & 4) ? v : (m & 8) ? x : static_cast<float>(i);
    if (fltout && t[OT_REC + 2] && t[OT_WSIZ + 2] == W_FLOAT)
      std::memcpy(&out[found], &f, 4);
    else
      out[found] = (m & 4) || (m & 8) ? cvi32(f) : i;
    found++;
  };
  for (int32_t i = 0; i < n && !stopped(); i++) {
    prgidx = static_cast<uint32_t>(i);
    if (i >= ypart) {
      LDVARB(y, &ypart, i);
      if (ypart <= i) break;
    }
    float v = static_cast<float>(GSTACK(y));
    float x = static_cast<float>(i);
    if (hasx) {
      if (i >= xpart) {
        LDVARB(xr, &xpart, i);
        if (xpart <= i) break;
      }
      x = static_cast<float>(GSTACK(xr));
    }
    if (s >= 1) {
      if (v > vmax) {
        vmax = v;
        xmax = x;
        imax = i;
        s = T;
      } else if (v < vmax) {
        if (--s < 1) {
          if (m & 1) report(vmax, xmax, imax);
          vmax = -9999999.0f;
        }
      }
    } else {
      if (v < vmin) {
        vmin = v;
        xmin = x;
        imin = i;
        s = -T;
      } else if (v > vmin) {
        if (++s > 0) {
          if (m & 2) report(vmin, xmin, imin);
          vmin = 9999999.0f;
        }
      }
    }
  }
  prgtot = 0;
  setfres(static_cast<float>(found), 0);
  if (stopped() || found < 1) {
    // Nothing to store: the destination is left as it was.
    fremem(out);
    c.ret = -1;
    return FS_RET;
  }
  t[OT_RCNT] = found;
  if (fltout && t[OT_REC + 2] && t[OT_WSIZ + 2] == W_FLOAT) t[OT_RWSZ] = W_FLOAT;
  c.store = found;
  c.buf = getbuf(found * 4);
  if (!c.buf) {
    fremem(out);
    c.ret = 0;
    return FS_RET;
  }
  std::memcpy(c.buf, out, static_cast<size_t>(found) * 4);
  fremem(out);
  return FS_GO;
}

// ---------------------------------------------------------------------------
// row, column, zproj

namespace {

// The extent of the window of record r along axis a, at least 1.
int32_t axext(const PtrRec* r, int a) {
  uint32_t v = r->Offs[3 + a] ? r->Offs[3 + a] : r->Datdims[a];
  return v < 1 ? 1 : static_cast<int32_t>(std::min<uint32_t>(v, INT32_MAX));
}

}  // namespace

int su_rowcol(FnCall& c) {
  int32_t* t = optab;
  int red = argnum(3);
  if (red < 209 || red > 213) return fnrefus(c, 3, 109);
  PtrRec* r = oprec(0);
  int a = c.code - 229;
  if (r && (t[OT_KIND] & K_DIMS)) {
    int32_t L = axext(r, a);
    if (L > 0) t[OT_RCNT] = t[OT_CNT] / L;
  }
  if (t[OT_RCNT] > 1 && !t[OT_REC + 2] && c.dest <= 0) t[OT_KIND + 2] = K_ARRAY;
  return FS_GO;
}

int run_rowcol(FnCall& c) {
  int32_t* t = optab;
  int red = argnum(3);
  if (red < 209 || red > 213) {
    error(3, 109);
    return -1;
  }
  PtrRec* r = oprec(0);
  PtrRec* d = oprec(2);
  if (!r || !d) return 0;
  int a = c.code - 229;
  int32_t n = t[OT_CNT];
  int32_t nx = axext(r, 0), ny = axext(r, 1), nz = axext(r, 2);
  if (!(t[OT_KIND] & K_DIMS)) nx = n, ny = nz = 1;
  if (static_cast<int64_t>(nx) * ny * nz != n) {
    // A window whose extents do not multiply to its count: one row.
    nx = n;
    ny = nz = 1;
    if (a != 0) return 0;
  }
  // Nothing to reduce along an empty axis.
  if (n < 1 || nx < 1 || ny < 1 || nz < 1) return 0;
  auto* v = static_cast<float*>(getmem(static_cast<size_t>(std::max(n, 1)) * 4));
  if (!v) {
    error(0, 126);
    return -1;
  }
  int32_t& part = t[OT_BUF];
  prgtot = static_cast<uint32_t>(n);
  int32_t got = rdflts(r, &part, v, n);
  prgtot = 0;
  if (got < n || stopped()) {
    fremem(v);
    return 0;
  }
  int32_t L = a == 0 ? nx : a == 1 ? ny : nz;
  // Item of line j, element k: lines end in storage order of the other two
  // axes (row: y then z; column: x then z; zproj: x then y).
  int64_t step = a == 0 ? 1 : a == 1 ? nx : static_cast<int64_t>(nx) * ny;
  int32_t lines = n / L;
  int32_t& dpart = t[OT_BUF + 2];
  for (int32_t j = 0; j < lines && !stopped(); j++) {
    int64_t base;
    if (a == 0) {
      base = static_cast<int64_t>(j) * nx;
    } else if (a == 1) {
      base = static_cast<int64_t>(j / nx) * nx * ny + j % nx;
    } else {
      base = j;
    }
    double s = 0.0;
    float mx = v[base], mn = v[base];
    for (int32_t k = 0; k < L; k++) {
      float f = v[base + k * step];
      s += f;
      mx = std::max(mx, f);
      mn = std::min(mn, f);
    }
    double out;
    switch (red) {
      case 209: out = mx; break;
      case 210: out = mn; break;
      case 211: out = s; break;
      case 212: out = s / L; break;
      default: {
        // A line of one element has no spread. The squared deviations
        // from the line's mean in a second pass: the sum of squares less
        // the squared sum cancels on large values with a small spread.
        out = 0.0;
        if (L > 1) {
          const double mean = s / L;
          double dev = 0.0;
          for (int32_t k = 0; k < L; k++) {
            const double e = v[base + k * step] - mean;
            dev += e * e;
          }
          out = std::sqrt(dev / (L - 1));
        }
        break;
      }
    }
    if (j >= dpart) {
      DMPVRB(d, &dpart, 1, j);
      if (dpart <= j) break;
    }
    PSTACK(out, d);
  }
  DMPVRB(d, &dpart, 0, 0);
  fremem(v);
  return 0;
}
