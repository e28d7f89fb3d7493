// Views of operands as runs of items (see qview.h).
#include "compute/qview.h"

#include <algorithm>

#include "compute/expr.h"
#include "core/memory.h"

namespace {
constexpr int PAGEB = HPAGE_WORDS * 4;  // bytes of a high-memory page
}  // namespace

// Makes a view of a prepared record: count its items (the operand table's
// count), part its addressable items. False when the record is not plain
// word memory of a whole-byte word size, or its window is not what its
// count says.
bool mkview(PtrRec* r, int32_t count, int32_t part, bool dest, View* v) {
  *v = View{};
  if (!r || count < 1) return false;
  int kind = r->Flg;
  if (kind & (K_LIST | K_VECTOR | K_ARGS)) return false;
  int w = r->Wsiz;
  if (!wcode(w)) return false;
  v->w = w;
  v->count = count;
  if (kind & K_NUMBER) {
    // A number is read in place; as a destination it may stand for a
    // system variable: the loop stores it.
    if (dest || count != 1 || part < 1) return false;
    int step;
    uint8_t bp = r->Bitp;
    v->scalar = true;
    v->v = static_cast<float>(lditm(dptr(r), w, &bp, &step));
    return true;
  }
  if (!(kind & K_DATA) || r->Data0 <= 0) return false;
  if (count == 1 && !dest) {
    if (part < 1) return false;
    int step;
    uint8_t bp = r->Bitp;
    v->scalar = true;
    v->v = static_cast<float>(lditm(dptr(r), w, &bp, &step));
    return true;
  }
  if (bufrec(r)) {
    if (!(kind & K_DIMS)) return false;
    v->rec = r;
    v->dest = dest;
    v->part0 = part;
    return true;
  }
  v->base = r->Data0;
  if (kind == K_STRING || r->Idx == -1) {
    if (r->Length < count) return false;
    v->whole = true;
    return true;
  }
  int nd = std::clamp<int>(r->Ndims, 1, 3);
  int64_t prod = 1;
  for (int k = 0; k < 3; k++) {
    int64_t d = r->Datdims[k] ? r->Datdims[k] : 1;
    int64_t o = r->Offs[k], e = r->Offs[3 + k];
    if (k >= nd) {
      if (o != 0 || e > 1 || d != 1) return false;
      e = 1;
    }
    if (e < 1 || o + e > d) return false;
    v->dim[k] = d;
    v->org[k] = o;
    v->ext[k] = e;
    prod *= e;
  }
  return prod == count;
}

bool rowview(int k, View* v) {
  int32_t* t = optab;
  return mkview(oprec(k), t[OT_CNT + k], t[OT_BUF + k], k == 2, v);
}

int64_t Cursor::avail(uint8_t** out) {
  *out = nullptr;
  if (v->rec) {
    int32_t at = static_cast<int32_t>(k);
    if (k >= part) {
      if (v->dest)
        DMPVRB(v->rec, &part, 1, at);
      else
        LDVARB(v->rec, &part, at);
      if (part <= k) return 0;
    }
    *out = dptr(v->rec);
    return part - k;
  }
  if (left <= 0) locate();
  *out = p;
  return left;
}

void Cursor::locate() {
  const View& w = *v;
  int64_t idx, run;
  if (w.whole) {
    idx = k;
    run = w.count - k;
  } else {
    int64_t x = k % w.ext[0], y = (k / w.ext[0]) % w.ext[1], z = k / (w.ext[0] * w.ext[1]);
    idx = ((w.org[2] + z) * w.dim[1] + w.org[1] + y) * w.dim[0] + w.org[0] + x;
    if (w.ext[0] < w.dim[0])
      run = w.ext[0] - x;
    else if (w.ext[1] < w.dim[1])
      run = (w.ext[1] - y) * w.dim[0] - x;
    else
      run = (w.ext[2] - z) * w.dim[0] * w.dim[1] - y * w.dim[0] - x;
  }
  run = std::min(run, w.count - k);
  int64_t b = w.base + idx * wbytes(w.w);
  if (paged && b >= 4LL * HIMEM_BASE) {
    // Pages of paged high memory are reached one by one.
    int64_t in = (b - 4LL * HIMEM_BASE) % PAGEB;
    run = std::min(run, (PAGEB - in) / wbytes(w.w));
  }
  p = membyt(static_cast<int32_t>(b));
  left = run;
}

