// The data ops of real-time programs: arithmetic on numbers and arrays,
// the table map, block copies, rectangle and table searches, scaling,
// moving an array operand, window sums and spectra, and vectors.
//
// Every array op works from its operands' current elements and never past
// their ends: counts are cut to what the source and the destination hold.
#include "compute/arith.h"
#include "compute/fft.h"
#include "compute/fnsvc.h"
#include "compute/qarith.h"
#include "core/element.h"
#include "core/output.h"
#include "realtime/rtops.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {
bool isarr(const RtOpnd* o) { return o && o->kind >= 0 && o->kind != 20 && rtebytes(o) > 0; }

int64_t nleft(const RtOpnd* o) {
  int eb = rtebytes(o);
  return eb > 0 ? rtleft(o) / eb : 0;
}

int32_t wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// An element as the element loop reads it (float precision, the missing
// value as -0.0); a constant or run parameter by its value.
float mixval(const RtOpnd* o, const uint8_t* p) {
  if (!p) return opflt(o);
  int step = 0;
  uint8_t bit = 0;
  return nrwflt(lditm(p, o->type, &bit, &step));
}

// A result stored as the element loop stores it: 16-bit values clamp to
// -32767..32767 (their low 16 bits with aflags' no-clamp bit), the other
// types by the store rule of every assignment.
void mixput(float r, const RtOpnd* d, uint8_t* p) {
  if (!p) return;
  if (d->type == 16) {
    const uint16_t s = stfl16(r, !noclmp());
    std::memcpy(p, &s, 2);
    return;
  }
  uint8_t bit = 0;
  stitm(r, p, d->type, &bit, noclmp());
}

// Whether a single b, read at its own type, is held whole in type ty: an
// element of that type, an omitted operand, or an integer constant in its
// range. The typed loops take such a b as one of a's elements; any other b
// (a real, a run parameter, an element of another type) goes through the
// element loop's rule.
bool intype(const RtOpnd* b, int ty) {
  if (!b) return true;
  if (b->kind == -1 && b->type != 96) {
    const int32_t v = b->index;
    return ty == 32 || (ty == 16 && v >= -32768 && v <= 32767) || (ty == 8 && v >= 0 && v <= 255);
  }
  return isarr(b) && b->type == ty;
}

// Array arithmetic over n elements of a (stepping), b (stepping when m > 1)
// into d.
void arrarith(int oper, RtOpnd* a, RtOpnd* b, RtOpnd* d, int32_t n, int32_t m, int mode) {
  if (!isarr(a) || !isarr(d)) return;
  const bool bstep = m > 1 && isarr(b);
  if (mode & 3) {
    // Packed colour: 4-byte pixels plus a 16-bit constant per pixel.
    int64_t cnt = std::min<int64_t>(n, std::min(rtleft(a), rtleft(d)) / 4);
    int16_t k = static_cast<int16_t>(opval(b));
    const int16_t* pk = &k;
    int32_t nk = 1;
    if (bstep && b->type == 16) {
      cnt = std::min(cnt, nleft(b));
      pk = static_cast<const int16_t*>(static_cast<void*>(elmptr(b, 0)));
      nk = m;
    }
    if (cnt > 0 && pk)
      qaddrgb(oper, elmptr(a, 0), pk, elmptr(d, 0), static_cast<int32_t>(cnt), nk,
              static_cast<int32_t>(cnt), a->type, 16);
    return;
  }
  const int ty = a->type;
  const bool same = d->type == ty && (bstep ? b->type == ty : intype(b, ty));
  auto typed = [](int t) { return t == 8 || t == 16 || t == 32 || t == 96; };
  if (same ? ty != 8 && ty != 16 && ty != 32 : !typed(ty) || !typed(d->type) || (bstep && !typed(b->type)))
    return;
  int64_t cnt = std::min<int64_t>(n, nleft(d));
  if (n > 1) cnt = std::min(cnt, nleft(a));
  if (bstep) cnt = std::min(cnt, nleft(b));
  if (cnt < 1) return;
  const int32_t c = static_cast<int32_t>(cnt);
  uint8_t* pa = elmptr(a, 0);
  uint8_t* pd = elmptr(d, 0);
  if (same) {
    // The typed loops; a single b is one of a's elements.
    int32_t bv = opval(b);
    uint8_t b8 = static_cast<uint8_t>(bv);
    int16_t b16 = static_cast<int16_t>(bv);
    const void* pb = bstep ? static_cast<const void*>(elmptr(b, 0))
                           : ty == 8 ? static_cast<const void*>(&b8)
                           : ty == 16 ? static_cast<const void*>(&b16) : static_cast<const void*>(&bv);
    const int32_t nb = bstep ? m : 1;
    switch (ty) {
      case 8: qarit8(oper, pa, static_cast<const uint8_t*>(pb), pd, n, nb, c); break;
      case 16:
        qarit16(oper, static_cast<const int16_t*>(static_cast<void*>(pa)), static_cast<const int16_t*>(pb),
                static_cast<int16_t*>(static_cast<void*>(pd)), n, nb, c);
        break;
      default:
        qarit32(oper, static_cast<const int32_t*>(static_cast<void*>(pa)), static_cast<const int32_t*>(pb),
                static_cast<int32_t*>(static_cast<void*>(pd)), n, nb, c);
        break;
    }
    return;
  }
  // Mixed element types: each element as the assignment d = a op b at the
  // prompt gives it: read at its own type, computed in floats by the element
  // loop's rule, stored with the assignment's clamping.
  const float bk = bstep ? 0.0f : mixval(b, isarr(b) ? elmptr(b, 0) : nullptr);
  for (int32_t i = 0; i < c; i++) {
    const float x = mixval(a, elmptr(a, n > 1 ? i : 0));
    const float y = bstep ? mixval(b, elmptr(b, i)) : bk;
    mixput(elres(oper, 2, x, y), d, elmptr(d, i));
  }
}

template <typename S, typename T>
void maploop(const uint8_t* src, const uint8_t* tab, uint8_t* dst, int32_t n, int64_t bound,
             bool incl, T past) {
  // A destination over the source (the default) is read a chunk ahead.
  S buf[512];
  for (int32_t i0 = 0; i0 < n; i0 += 512) {
    int32_t k = std::min<int32_t>(512, n - i0);
    std::memcpy(buf, src + size_t(i0) * sizeof(S), size_t(k) * sizeof(S));
    for (int32_t j = 0; j < k; j++) {
      int64_t v = buf[j];
      T r = past;
      if (v >= 0 && (incl ? v <= bound : v < bound)) std::memcpy(&r, tab + size_t(v) * sizeof(T), sizeof(T));
      std::memcpy(dst + size_t(i0 + j) * sizeof(T), &r, sizeof(T));
    }
  }
}

template <typename S>
void mapsrc(const uint8_t* src, int sbits, const uint8_t* tab, int ttype, int64_t limit, uint8_t* dst,
            int32_t n) {
  int64_t bound = limit - 1;
  if (sbits == 8) bound = std::min<int64_t>(bound, 255);
  if (sbits == 16) bound = std::min<int64_t>(bound, 65535);
  switch (ttype) {
    case 8:
      maploop<S, uint8_t>(src, tab, dst, n, bound, sbits <= 16,
                          static_cast<uint8_t>(std::min<int64_t>(limit - 1, 255)));
      break;
    case 16:
      maploop<S, uint16_t>(src, tab, dst, n, bound, sbits <= 16,
                           static_cast<uint16_t>(std::min<int64_t>(limit - 1, 65535)));
      break;
    case 32: maploop<S, int32_t>(src, tab, dst, n, bound, sbits == 8, wrap32(limit - 1)); break;
    default: break;
  }
}
}  // namespace

void maptbl(const uint8_t* src, int stype, const uint8_t* tab, int ttype, int64_t limit, uint8_t* dst,
            int32_t n) {
  if (!src || !tab || !dst || n < 1 || limit < 1) return;
  switch (stype) {
    case 8: mapsrc<uint8_t>(src, 8, tab, ttype, limit, dst, n); break;
    case 16: mapsrc<uint16_t>(src, 16, tab, ttype, limit, dst, n); break;
    case 32: mapsrc<int32_t>(src, 32, tab, ttype, limit, dst, n); break;
    default: break;
  }
}

void rtarith(int oper, const RtOp* op) {
  RtOpnd* a = rtopk(op, 1);
  RtOpnd* b = rtopk(op, 2);
  RtOpnd* d = rtopk(op, 3);
  if (!d) d = a;
  int32_t n = rtarg(op, 4, 1);
  int32_t m = rtarg(op, 5, n);
  int mode = rtarg(op, 6, 0);
  if (oper == RA_MAP) {
    // The table map: n source elements through operand 2 into the
    // destination, which takes the table's element type.
    if (!isarr(a) || !isarr(b) || !isarr(d) || n < 1) return;
    int tb = rtebytes(b);
    int64_t cnt = std::min<int64_t>({n, nleft(a), rtleft(d) / tb});
    if (cnt > 0) maptbl(elmptr(a, 0), a->type, elmptr(b, 0), b->type, nleft(b), elmptr(d, 0), static_cast<int32_t>(cnt));
    return;
  }
  if (n < 2 && m < 2) {
    int32_t x = opval(a), y = opval(b), r = 0;
    uint32_t ux = static_cast<uint32_t>(x), uy = static_cast<uint32_t>(y);
    switch (oper) {
      case RA_ADD: r = static_cast<int32_t>(ux + uy); break;
      case RA_SUB: r = static_cast<int32_t>(ux - uy); break;
      case RA_MUL: r = static_cast<int32_t>(ux * uy); break;
      case RA_DIV: r = y == 0 ? 0 : (x == INT32_MIN && y == -1) ? x : x / y; break;
      case RA_AND: r = x & y; break;
      case RA_OR: r = x | y; break;
      default: break;
    }
    putval(r, d);
    return;
  }
  arrarith(oper, a, b, d, std::max(n, 1), m, mode);
}

void rtcopy(const RtOp* op) {
  RtOpnd* s = rtopk(op, 1);
  RtOpnd* d = rtopk(op, 2);
  if (rtnops(op) < 3) {
    putval(opval(s), d);
    return;
  }
  const int32_t soff = rtarg(op, 4, 0), doff = rtarg(op, 5, 0);
  int64_t count = opval(rtopk(op, 3));
  const int mode = rtarg(op, 6, 0), group = rtarg(op, 7, 0), step = rtarg(op, 8, 0);
  trcint(8, " copy", 0, static_cast<int>(count), soff, doff, mode, group);
  if (!isarr(d) || doff < 0 || count < 0) return;
  const int sb = isarr(s) ? rtebytes(s) : 0, db = rtebytes(d);
  // Bytes from the source and destination offsets to their ends.
  const int64_t sleft = sb && soff >= 0 ? rtleft(s) - soff : 0;
  const int64_t dleft = rtleft(d) - doff;
  uint8_t* sp = sleft > 0 ? elmptr(s, 0) + soff : nullptr;
  uint8_t* dp = dleft > 0 ? elmptr(d, 0) + doff : nullptr;
  if (mode == 0 && group == 0 && step == 0) {
    if (!isarr(s)) {
      if (doff % db == 0) putelm(opval(s), d, doff / db);
      return;
    }
    if (count == 0) count = sleft;
    count = std::min({count, sleft, dleft});
    if (count > 0 && sp && dp) std::memmove(dp, sp, static_cast<size_t>(count));
    return;
  }
  // The strided form: groups of source elements, each combined into the
  // destination, which moves by the step.
  if (!dp) return;
  const bool val = !isarr(s);  // a constant or run parameter is spread
  if (!val && !sp) return;
  const int es = val ? db : sb;
  const int32_t sv = val ? opval(s) : 0;
  if (count == 0) count = val ? dleft / db * es : sleft;
  if (!val) count = std::min(count, sleft);
  int64_t gelm = group > 0 ? group : count / es;
  int64_t dstep = (step > 0 ? step : gelm) * db;
  int64_t gbytes = gelm * es;
  if (gelm < 1 || dstep < 1) return;
  int64_t so = 0, dof = 0;
  const bool raw = mode == 0 && !val && s->type == d->type;
  while (count > 0 && dof < dleft) {
    int64_t g = std::min<int64_t>(gelm, count / es);
    if (!val) g = std::min<int64_t>(g, (sleft - so) / es);
    g = std::min<int64_t>(g, (dleft - dof) / db);
    if (g < 1) break;
    if (raw) {
      std::memmove(dp + dof, sp + so, static_cast<size_t>(g * db));
    } else {
      for (int64_t i = g - 1; i >= 0; i--) {
        int32_t v = val ? sv : getitm(sp + so, s->type, static_cast<int32_t>(i));
        uint8_t* q = dp + dof;
        int32_t w = mode >= 1 && mode <= 4 ? getitm(q, d->type, static_cast<int32_t>(i)) : 0;
        switch (mode) {
          case 1:
            if (v == 0) continue;
            break;
          case 2: v &= w; break;
          case 3: v |= w; break;
          case 4: v ^= w; break;
          default: break;
        }
        putitm(v, q, d->type, static_cast<int32_t>(i));
      }
    }
    so += gbytes;
    dof += dstep;
    count -= gbytes;
    if (!val && so >= sleft) break;
  }
}

void rtinrect(const RtOp* op) {
  const RtOpnd* pt = rtopk(op, 1);
  const RtOpnd* r = rtopk(op, 2);
  const int32_t x = opelm(pt, 0), y = opelm(pt, 1);
  int32_t count = rtarg(op, 4, 0);
  int32_t res = -1;
  if (count >= 0) {
    // Every whole rectangle (four elements) that remains is tested.
    int64_t avail = isarr(r) ? nleft(r) / 4 : 0;
    if (count == 0 || count > avail) count = static_cast<int32_t>(avail);
    for (int32_t i = 0; i < count; i++) {
      int32_t l = opelm(r, 4 * i), t = opelm(r, 4 * i + 1), rr = opelm(r, 4 * i + 2), b = opelm(r, 4 * i + 3);
      if (x >= l && x <= rr && y >= t && y <= b) {
        res = i;
        break;
      }
    }
  } else {
    // A grid over the first rectangle: the cell index of the point.
    int32_t l = opelm(r, 0), t = opelm(r, 1), rr = opelm(r, 2), b = opelm(r, 3);
    int64_t w = int64_t(rr) - l + 1, dx = int64_t(x) - l;
    if (y < t || y > b) res = -1;
    else if (dx < 0) res = static_cast<int32_t>(dx);
    else if (dx >= w) res = -1;
    else res = wrap32(dx + (int64_t(y) - t) * w);
  }
  putval(res, rtopk(op, 3));
}

void rtindex(const RtOp* op) {
  const int32_t v = rtarg(op, 1, 0);
  const RtOpnd* tb = rtopk(op, 2);
  const int64_t avail = isarr(tb) ? rtleft(tb) / 2 : 0;
  int64_t n = rtarg(op, 4, 0);
  if (n <= 0 || n > avail) n = avail;
  int32_t res = -1;
  const uint8_t* p = n > 0 ? elmptr(tb, 0) : nullptr;
  for (int64_t i = 0; p && i < n; i++) {
    int16_t w;
    std::memcpy(&w, p + 2 * i, 2);
    if (w == v) {
      res = static_cast<int32_t>(i);
      break;
    }
  }
  putval(res, rtopk(op, 3));
}

void rtscale(const RtOp* op) {
  const int n = rtnops(op) - 1;
  int64_t v = int64_t(rtarg(op, 1, 0)) * rtarg(op, 2, 0);
  if (n >= 2 && rtarg(op, 3, 0) != 0) v /= rtarg(op, 3, 0);
  if (n >= 3) v += rtarg(op, 4, 0);
  if (n >= 4) v = std::max<int64_t>(v, rtarg(op, 5, 0));
  if (n >= 5) v = std::min<int64_t>(v, rtarg(op, 6, 0));
  putval(wrap32(v), rtopk(op, 1));
}

void rttell(const RtOp* op) {
  const RtOpnd* o = rtopk(op, 2);
  int32_t unit = rtarg(op, 3, 1);
  if (unit <= 0) unit = rtebytes(o);
  if (!isarr(o) || unit <= 0) return;
  putval(static_cast<int32_t>(o->offset / static_cast<uint32_t>(unit)), rtopk(op, 1));
}

void rtseek(const RtOp* op) {
  RtOpnd* o = rtopk(op, 2);
  if (!isarr(o)) return;
  int32_t unit = rtarg(op, 3, 1);
  if (unit <= 0) unit = rtebytes(o);
  int32_t mult = rtarg(op, 4, 1);
  if (mult <= 0) mult = 1;
  int64_t pos = int64_t(opval(rtopk(op, 1))) * unit;
  if (op->opc == R_INCR) pos += o->offset;
  else pos *= mult;
  trcint(8, "seekop", 0, static_cast<int>(pos), unit, mult, o->size, op->flg);
  if (pos >= o->size && (op->opc == R_INCR || (op->flg & OF_WRAP))) pos = 0;
  // Outside the data only the offset moves: the operand is exhausted.
  rtsetoff(o, pos < 0 || pos > 0x7FFFFFFF ? int64_t(o->size) : pos);
}

void rtsum(const RtOp* op) {
  RtOpnd* s = rtopk(op, 1);
  RtOpnd* r = rtopk(op, 2);
  if (!isarr(s) || !r || (op->opc == R_FFT && !isarr(r))) return;
  const int32_t n3 = rtarg(op, 3, 0), mode = rtarg(op, 4, 0), skip = rtarg(op, 5, 0);
  const int32_t thr = rtarg(op, 6, 10);
  const int64_t total = rtnelm(s);
  int64_t pos = s->offset / static_cast<uint32_t>(rtebytes(s));
  const bool back = mode & 1;
  int64_t avail;
  if (back) {
    if (mode & 2) pos -= 1;
    avail = pos + 1;
  } else {
    if (mode & 2) pos += 1;
    avail = total - pos;
  }
  pos = std::min<int64_t>(pos + skip, total - 1);
  // The window stays inside the array.
  avail = std::min(avail, back ? pos + 1 : total - pos);
  if (pos < 0 || avail < 1) return;
  int64_t n = n3 >= 1 && n3 <= avail ? n3 : avail;
  const int dir = back ? -1 : 1;
  trcint(8, " sum", 0, static_cast<int>(pos), static_cast<int>(n), mode, skip, thr);
  auto at = [&](int64_t i) { return baseptr(s, static_cast<int>(pos + dir * i)); };
  if (op->opc == R_SUM) {
    int64_t v = 0;
    if (mode & 4) {
      const int64_t first = valint(s, at(0));
      int64_t i = 0;
      while (i < n && std::llabs(valint(s, at(i)) - first) <= thr) i++;
      v = i;
    } else {
      for (int64_t i = 0; i < n; i++) v += valint(s, at(i));
    }
    putval(wrap32(v), r);
  } else {
    // The spectrum: a power of two of points, at most the result's
    // elements, from the window; magnitudes into the result.
    int64_t pts = std::min<int64_t>(n, rtnelm(r));
    int32_t p2 = 1;
    while (int64_t(p2) * 2 <= pts) p2 *= 2;
    if (pts < 1) return;
    n = p2;
    std::vector<float> buf(size_t(2 * p2), 0.0f);
    for (int32_t i = 0; i < p2; i++) buf[size_t(2 * i)] = static_cast<float>(valflt(s, at(i)));
    fft(buf.data(), &p2, 1, 1);
    for (int32_t i = 0; i < p2; i++) {
      uint8_t* q = elmptr(r, i);
      if (!q) break;
      double re = buf[size_t(2 * i)], im = buf[size_t(2 * i + 1)];
      putitf(std::sqrt(re * re + im * im), q, r->type, 0);
    }
  }
  if (n3 == 0) putval(static_cast<int32_t>(n), rtopk(op, 3));
}

void rtvec(int opc, const RtOp* op) {
  RtOpnd* a = rtopk(op, 1);
  RtOpnd* b = rtopk(op, 2);
  RtOpnd* c = rtopk(op, 3);
  if (!c) c = a;
  int mode = rtarg(op, 4, 0);
  int comps = mode & 3;
  if (!comps) comps = rtnelm(a) & 3;
  if (!comps) comps = 2;
  if (!isarr(b) || rtnelm(b) < 2) mode |= 8;
  const bool bscal = mode & 8;
  double av[4] = {0, 0, 0, 0};
  for (int i = 0; i < comps; i++) av[i] = opelf(a, i);
  auto bv = [&](int i) -> double { return opelf(b, bscal ? 0 : i); };
  auto put = [&](RtOpnd* o, int i, double v) {
    if (uint8_t* p = elmptr(o, i)) putitm(static_cast<int32_t>(std::lround(std::clamp(v, -2147483648.0, 2147483647.0))), p, o->type, 0);
  };
  double out[4] = {0, 0, 0, 0};
  int nout = comps;
  if (opc == R_VECADD) {
    for (int i = 0; i < comps; i++) out[i] = (mode & 4) ? av[i] - bv(i) : av[i] + bv(i);
  } else if (opc == R_VECMULT) {
    const int cols = isarr(b) ? static_cast<int>(b->width) : 0;
    const bool matrix = isarr(b) && b->type == 96 && (b->kind & 128) && (cols == 3 || cols == 4) &&
                        static_cast<int>(b->height) >= cols;
    if (matrix) {
      if (!(mode & 16)) return;
      // A row vector (w = 1 past a's components) times the matrix,
      // divided by the resulting w.
      double v[4] = {0, 0, 0, 0};
      for (int i = 0; i < comps && i < cols; i++) v[i] = av[i];
      if (comps < cols) v[cols - 1] = 1.0;
      if (mode & 0x80) {
        for (int j = 0; j < cols; j++) out[j] = v[j];
      } else {
        for (int j = 0; j < cols; j++) {
          double s = 0;
          for (int i = 0; i < cols; i++) {
            const uint8_t* p = baseptr(b, i * cols + j);
            s += v[i] * (p ? valflt(b, p) : 0.0);
          }
          out[j] = s;
        }
        if (out[cols - 1] != 0 && out[cols - 1] != 1) {
          for (int j = 0; j < cols - 1; j++) out[j] /= out[cols - 1];
        }
      }
      nout = std::min(comps, cols);
      if (mode & 64)
        jprintf(dbglun, "vecmult %g %g %g -> %g %g %g\n", v[0], v[1], v[2], out[0], out[1], out[2]);
    } else {
      for (int i = 0; i < comps; i++) {
        double y = bv(i);
        out[i] = (mode & 4) && y != 0 ? av[i] / y : av[i] * y;
      }
    }
  } else {
    double len = 0;
    for (int i = 0; i < comps; i++) len += av[i] * av[i];
    len = std::sqrt(len);
    double b0 = opelf(b, 0);
    if (b0 > 0) len /= b0;
    double l = std::nearbyint(len);
    if ((mode & 4) && l > 0 && l <= opelm(c, 0)) l = 0;
    put(rtopk(op, 5), 0, l);
    put(c, 0, l);
    if (l > 0) {
      double ang = std::atan2(av[1], av[0]) * 180.0 / 3.14159265358979323846;
      if (ang < 0) ang += 360.0;
      double b1 = opelf(b, 1);
      if (!bscal && b1 > 0) ang /= b1;
      put(c, 1, ang);
    }
    if (mode & 64) jprintf(dbglun, "vecsize %g %g -> %g\n", av[0], av[1], l);
    return;
  }
  if (mode & 64) jprintf(dbglun, "vec %d: %g %g %g -> %g %g %g\n", opc, av[0], av[1], av[2], out[0], out[1], out[2]);
  for (int i = 0; i < nout; i++) put(c, i, out[i]);
}
