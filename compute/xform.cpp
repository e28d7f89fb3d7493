// Geometric transforms: rotate, scale, pin and offset, the function
// transform, freeze, zscan and the matrix routines.
#include "compute/xform.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "compute/arith.h"
#include "compute/cores.h"
#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "graphics/drawstate.h"
#include "graphics/veclist.h"
#include "ui/events.h"
#include "ui/screen.h"

namespace {

constexpr double DEGRAD = 0.017453293;

// A transform block kept by a named variable: the record and its word.
struct XfmHome {
  XfmRec x;
  uint32_t word;
};
static_assert(sizeof(XfmHome) == 80);

// The persistent record of a named list of vectors.
PtrRec* vlist(const PtrRec* r) {
  if (!(r->Flg & (K_NAMED | K_FILE)) || r->Idx <= 0) return nullptr;
  const SymEnt* e = symptr(r->Idx);
  if (!e || e->data <= 0 || !(e->flags & K_VECTOR) || !(e->flags & K_MATRIX)) return nullptr;
  auto* p = static_cast<PtrRec*>(stkptr(e->data));
  return p && p->PTR == static_cast<uint32_t>(e->data) && p->Wsiz == W_VEC ? p : nullptr;
}

// The header word of a named matrix, image or solid that keeps its transform.
uint32_t* hdrslot(const PtrRec* r) {
  if (!(r->Flg & K_NAMED) || r->Idx <= 0 || (r->Flg & (K_VECTOR | K_LIST))) return nullptr;
  const SymEnt* e = symptr(r->Idx);
  if (!e || e->data <= 0 || !(e->flags & K_HDR) || (e->flags & (K_VECTOR | K_LIST))) return nullptr;
  return wordp(e->data + 4);
}

}  // namespace

static void winbox(const PtrRec* r, int64_t* org, int64_t* ext) {
  int64_t prod = 1, whole = 1;
  for (int k = 0; k < 3; k++) {
    prod *= std::max<uint32_t>(r->Offs[3 + k], 1);
    whole *= std::max<uint32_t>(r->Datdims[k], 1);
  }
  // A window that covers the whole data may be kept as one run of items.
  bool all = r->Offs[0] == 0 && r->Offs[1] == 0 && r->Offs[2] == 0 && prod == whole;
  for (int k = 0; k < 3; k++) {
    org[k] = all ? 0 : r->Offs[k];
    ext[k] = std::max<int64_t>(all ? r->Datdims[k] : r->Offs[3 + k], 1);
  }
}

// ---------------------------------------------------------------------------
// Matrix routines.

void rotaxis(int axis, float angle, float* out) {
  double th = static_cast<double>(angle) * DEGRAD;
  float c = static_cast<float>(std::cos(th));
  float s = static_cast<float>(std::sin(th));
  if (c > -1e-6f && c < 1e-6f) c = 0.0f;
  if (s > -1e-6f && s < 1e-6f) s = 0.0f;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      float v = 0.0f;
      if (i == j)
        v = i == axis ? 1.0f : c;
      else if (i != axis && j != axis)
        v = i != (j + 1) % 3 ? s : -s;
      out[3 * i + j] = v;
    }
}

void mulmat(const float* a, const float* b, float* out, int n) {
  if (n < 1 || n > 64) return;
  auto* w = static_cast<float*>(getbuf(n * n * 4));
  if (!w) return;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      float s = 0.0f;
      for (int k = n - 1; k >= 0; k--) s += b[i * n + k] * a[k * n + j];
      w[i * n + j] = s;
    }
  std::memcpy(out, w, static_cast<size_t>(n) * n * 4);
}

int Setrot(int order, XfmRec* xf, const float* angles) {
  float* m = &xf->Matrix[0][0];
  int ax = order & 3;
  rotaxis(ax, angles[std::min(ax, 2)], m);
  for (int f = 1; f < 3; f++) {
    int a = (order >> (2 * f)) & 3;
    float t[9];
    rotaxis(a, angles[std::min(a, 2)], t);
    mulmat(m, t, m, 3);
  }
  return 0;
}

int xfmpnt(const float* in, const float* m, float* out) {
  float p[4] = {in[0], in[1], in[2], 1.0f};
  float r[4];
  for (int i = 0; i < 4; i++) {
    float s = 0.0f;
    for (int j = 0; j < 4; j++) s += p[j] * m[4 * j + i];
    r[i] = s;
  }
  int ret = 0;
  float w = r[3];
  if (w == 0.0f) {
    w = 1.0f;
    ret = -1;
  }
  for (int i = 0; i < 3; i++) out[i] = r[i] / w;
  return ret;
}

// ---------------------------------------------------------------------------
// The transform record of a variable.

XfmRec* xfhold(PtrRec* r, uint16_t* word, bool make) {
  *word = 0;
  // A number has no transform (its record may be a short head).
  if (!r || (r->Flg & K_NUMBER)) return nullptr;
  if (PtrRec* v = vlist(r)) r = v;
  if (uint32_t* slot = hdrslot(r)) {
    auto* h = *slot > 0 ? static_cast<XfmHome*>(stkptr(static_cast<int32_t>(*slot))) : nullptr;
    if (!h && make) {
      h = static_cast<XfmHome*>(zeroblk(sizeof(XfmHome)));
      if (!h) return nullptr;
      *hdrslot(r) = h->x.Ptr;
    }
    if (!h) return nullptr;
    *word = static_cast<uint16_t>(h->word & F2_XFORM);
    return &h->x;
  }
  XfmRec* x = xfmrec(r);
  if (!x && make) {
    x = static_cast<XfmRec*>(zeroblk(sizeof(XfmRec)));
    if (!x) return nullptr;
    r->Xfrm = static_cast<int32_t>(x->Ptr);
  }
  *word = static_cast<uint16_t>(r->Flg2 & F2_XFORM);
  return x;
}

namespace {

// Writes the transform word back where xfhold found it.
void xfput(PtrRec* r, uint16_t word) {
  if (PtrRec* v = vlist(r)) r = v;
  if (uint32_t* slot = hdrslot(r)) {
    if (*slot > 0) static_cast<XfmHome*>(stkptr(static_cast<int32_t>(*slot)))->word = word;
    return;
  }
  r->Flg2 = static_cast<uint16_t>((r->Flg2 & ~F2_XFORM) | (word & F2_XFORM));
}

// The inverse map of one point; t is the transform word >> 4.
inline void invmap(const XfmRec* x, int t, const float* m, const int32_t* p, int64_t* pos) {
  float q[3];
  for (int i = 0; i < 3; i++) q[i] = static_cast<float>(p[i]) - x->Pin[i] - x->Offset[i];
  if (t & XF_SCALE)
    for (int i = 0; i < 3; i++) q[i] /= x->Scale[i] == 0.0f ? 1.0f : x->Scale[i];
  if (t & XF_ROT) {
    float o[3];
    for (int i = 0; i < 3; i++) o[i] = q[0] * m[i] + q[1] * m[3 + i] + q[2] * m[6 + i];
    std::memcpy(q, o, sizeof q);
  }
  for (int i = 0; i < 3; i++) {
    float f = static_cast<float>(x->Pin[i]) + q[i] + 0.5f;
    pos[i] = std::isfinite(f) && std::fabs(f) < 2e9f ? static_cast<int64_t>(f) : INT32_MIN;
  }
}

}  // namespace

int xfok() { return 1; }

int xfpoint(PtrRec* rec, const int32_t* point) {
  uint16_t w = 0;
  const XfmRec* x = xfhold(rec, &w, false);
  int t = x ? w >> 4 : 0;
  int64_t pos[3] = {point[0], point[1], point[2]};
  if (t) invmap(x, t, &x->Matrix[0][0], point, pos);
  const bool steps = (trcmsk & 32) && !(trcmsk & 1) && point[0] == point[1];
  if (steps) jprintf(dbglun, "0: %4ld %4ld %4ld->", static_cast<long>(point[0]), static_cast<long>(point[1]),
                     static_cast<long>(point[2]));
  if (steps && t) {
    // The intermediate steps of the inverse map, as invmap takes them.
    float q[3];
    for (int i = 0; i < 3; i++) q[i] = static_cast<float>(point[i]) - x->Pin[i] - x->Offset[i];
    if (t & XF_PIN) jprintf(dbglun, " 1: %4.0f %4.0f %4.0f->", q[0], q[1], q[2]);
    if (t & XF_SCALE)
      for (int i = 0; i < 3; i++) q[i] /= x->Scale[i] == 0.0f ? 1.0f : x->Scale[i];
    jprintf(dbglun, " 2: %4.0f %4.0f %4.0f->", q[0], q[1], q[2]);
    if (t & XF_ROT) {
      float o[3];
      for (int i = 0; i < 3; i++) o[i] = q[0] * x->Matrix[0][i] + q[1] * x->Matrix[1][i] + q[2] * x->Matrix[2][i];
      std::memcpy(q, o, sizeof q);
    }
    jprintf(dbglun, " 3: %4.0f %4.0f %4.0f->", q[0], q[1], q[2]);
  }
  for (int i = 0; i < 3; i++) rec->XYZptr[i] = static_cast<uint32_t>(pos[i]);
  // Clipped to the window: a coordinate outside moves to the limit.
  int64_t org[3], ext[3];
  winbox(rec, org, ext);
  int out = 0;
  for (int i = 0; i < 3; i++) {
    if (pos[i] < org[i]) {
      out++;
      rec->XYZptr[i] = static_cast<uint32_t>(org[i]);
    } else if (pos[i] >= org[i] + ext[i]) {
      out++;
      rec->XYZptr[i] = static_cast<uint32_t>(org[i] + ext[i] - 1);
    }
  }
  if ((trcmsk & 32) && ((trcmsk & 1) || point[0] == point[1])) {
    if (trcmsk & 1)
      jprintf(dbglun, "0: %4ld %4ld %4ld->", static_cast<long>(point[0]), static_cast<long>(point[1]),
              static_cast<long>(point[2]));
    jprintf(dbglun, " 4: %4ld %4ld %4ld (%d)\n", static_cast<long>(rec->XYZptr[0]),
            static_cast<long>(rec->XYZptr[1]), static_cast<long>(rec->XYZptr[2]), out);
  }
  return out == 0 ? 1 : 0;
}

int xfbounds(const PtrRec* rec, int32_t* box) {
  for (int i = 0; i < 3; i++) {
    box[i] = static_cast<int32_t>(rec->Offs[i]);
    box[12 + i] = static_cast<int32_t>(rec->Offs[i] + rec->Offs[3 + i]) - 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// rotate, scale, pin, offset

namespace {

// One click of the pointer as a point, taken as getbox, mask and sample take
// theirs (curvec: queued input dropped first, in the vector window; Enter
// counts as a click): false when the pick ended without one (another key,
// the end of input, a stop).
bool click(int16_t* p) {
  int k = curvec(p, 0) & 0xFF;
  if (k == 13) k = 129;
  return k >= 128 && !stopped();
}

// The angle at b from a to c in the two coordinates (i, j).
float angat(const int16_t* a, const int16_t* b, const int16_t* c, int i, int j) {
  double a1 = std::atan2(static_cast<double>(a[j]) - b[j], static_cast<double>(a[i]) - b[i]);
  double a2 = std::atan2(static_cast<double>(c[j]) - b[j], static_cast<double>(c[i]) - b[i]);
  double d = (a1 - a2) * 57.295785;
  while (d > 180.0) d -= 360.0;
  while (d < -180.0) d += 360.0;
  return static_cast<float>(d);
}

}  // namespace

int sttrns(int code) {
  int k = code - 501;
  int32_t h = 0;
  int ty = argtyp(2, &h);
  int first = 2;
  bool direct = false;
  PtrRec* tg = nullptr;
  if ((ty & 0xE80) || ((ty & 0x1000) && (ty & K_VECTOR) && nargs() >= 3)) {
    tg = ptrrec(h);
    first = 3;
    direct = (ty & K_VECTOR) && !(ty & 0xE80);
  }
  int kind = 0;
  if (!tg) {
    // The vector list: its own record, which is never prepared here.
    if (!veclst()) vinit(0);
    tg = veclst();
    kind = tg ? tg->Flg : 0;
  } else {
    flshio(tg);
    int32_t cnt, part, tot, ws;
    kind = gtvarb(tg, &cnt, &part, &tot, &ws, 0);
  }
  if (!tg) {
    error(2, 87);
    return 0;
  }
  if (!direct && (!(kind & 0xE80) || (!vlist(tg) && !hdrslot(tg) && static_cast<int32_t>(tg->Stack) <= 0))) {
    error(2, 87);
    return 0;
  }
  // A record of its own elsewhere: the word at its Stack link names it.
  if (!direct && !vlist(tg) && !hdrslot(tg)) {
    const uint32_t* link = wordp(static_cast<int32_t>(tg->Stack));
    PtrRec* own = link ? ptrrec(static_cast<int32_t>(*link)) : nullptr;
    if (!own) {
      error(2, 87);
      return 0;
    }
    tg = own;
  }
  uint16_t word = 0;
  XfmRec* x = direct ? nullptr : xfhold(tg, &word, true);
  if (direct) {
    x = static_cast<XfmRec*>(zeroblk(sizeof(XfmRec) | 1));
    tg->Xfrm = x ? static_cast<int32_t>(x->Ptr) : 0;
  }
  if (!x) return 0;
  uint16_t t = static_cast<uint16_t>(word >> 4);

  if (nargs() >= first) {
    if (k == 1 || k == 2) {
      float* f = k == 1 ? x->Rotate : x->Scale;
      for (int i = 0; i < 3; i++) {
        if (k == 2 && f[i] == 0.0f) f[i] = 1.0f;
        f[i] = fltarg(first + i, f[i]);
      }
    } else {
      int16_t* f = k == 3 ? x->Pin : x->Offset;
      int32_t hv = 0;
      if (argtyp(first, &hv) & K_VECTOR) {
        int16_t v[3] = {0, 0, 0};
        PtrRec* vr = ptrrec(hv);
        int32_t c2, p2, t2, w2;
        if (vr && gtvarb(vr, &c2, &p2, &t2, &w2, 0) && w2 == W_VEC)
          if (const uint8_t* p = gtvptr(vr, 0, 1)) std::memcpy(v, p, 6);
        std::memcpy(f, v, 6);
      } else {
        for (int i = 0; i < 3; i++) f[i] = static_cast<int16_t>(intarg(first + i, f[i]));
      }
    }
  } else {
    // Interactive: points clicked with the pointer. A pick that ends
    // without its clicks leaves the transform as it was.
    uint16_t saved = curflg;
    int16_t p1[3], p2[3], p3[3];
    if (k == 3) {
      if (click(p1)) std::memcpy(x->Pin, p1, sizeof p1);
    } else if (k == 4) {
      bool ok = click(p1);
      if (ok) Boxcur(p1[0], p1[1], -9);
      if (ok && click(p2))
        for (int i = 0; i < 3; i++) x->Offset[i] = static_cast<int16_t>(x->Offset[i] + p2[i] - p1[i]);
    } else if (k == 2) {
      bool ok = click(p1);
      if (ok) Boxcur(p1[0], p1[1], -9);
      ok = ok && click(p2) && click(p3);
      for (int i = 0; i < 3 && ok; i++) {
        float f = p2[i] != p1[i] ? static_cast<float>(p3[i] - p1[i]) / static_cast<float>(p2[i] - p1[i]) : 1.0f;
        if (f == 0.0f) f = 1.0f;
        if (x->Scale[i] == 0.0f) x->Scale[i] = 1.0f;
        x->Scale[i] *= f;
      }
    } else {
      Boxcur(x->Pin[0], x->Pin[1], -9);
      if (click(p1) && click(p2)) {
        x->Rotate[2] -= angat(p2, x->Pin, p1, 0, 1);
        if (!(x->Pin[2] == p1[2] && p1[2] == p2[2])) x->Rotate[0] -= angat(p2, x->Pin, p1, 1, 2);
      }
    }
    Boxcur(0, 0, 0);
    curflg = saved;
  }

  // The flag bit of this part.
  static const uint16_t bit[5] = {0, XF_ROT, XF_SCALE, XF_PIN, XF_OFFSET};
  bool any = false;
  for (int i = 0; i < 3; i++) {
    if (k == 1) any = any || x->Rotate[i] != 0.0f;
    if (k == 2) any = any || x->Scale[i] != 1.0f;
    if (k == 3) any = any || x->Pin[i] != 0;
    if (k == 4) any = any || x->Offset[i] != 0;
  }
  t = static_cast<uint16_t>(any ? t | bit[k] : t & ~bit[k]);
  if (k == 1) {
    t &= 0x0F;
    if (any) {
      int order = intarg(first + 3, 6);
      for (int f = 0; f < 3; f++)
        if (((order >> (2 * f)) & 3) > 2 || order < 0 || order > 63) {
          error(first + 3, 109);
          return 0;
        }
      Setrot(order, x, x->Rotate);
      t = static_cast<uint16_t>(t | (order << 4));
    }
  }
  word = static_cast<uint16_t>((t << 4) & F2_XFORM);
  if (direct) {
    tg->Flg2 = static_cast<uint16_t>((tg->Flg2 & ~F2_XFORM) | word);
    freeze(tg);
    tg->Flg2 = static_cast<uint16_t>(tg->Flg2 & ~F2_XFORM);
    tg->Xfrm = 0;
  } else {
    xfput(tg, word);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// freeze

int freeze(PtrRec* rec) {
  PtrRec* r = rec;
  int32_t cnt = 0, part, tot, ws = 0;
  if (!r) {
    int32_t h = 0;
    argtyp(2, &h);
    r = ptrrec(h);
    if (r) gtvarb(r, &cnt, &part, &tot, &ws, 0);
  } else {
    ws = r->Wsiz;
  }
  if (!r || !(r->Flg & K_VECTOR) || r->Wsiz != W_VEC) {
    error(2, 109);
    return 0;
  }
  uint16_t w = 0;
  const XfmRec* x = xfhold(r, &w, false);
  int t = x ? w >> 4 : 0;
  int32_t n = (r->Flg & K_MATRIX) ? static_cast<int32_t>(r->Offs[4]) : 1;
  for (int32_t i = 0; i < n && !stopped(); i++) {
    uint8_t* p = gtvptr(r, i, 2);
    if (!p) break;
    int code = p[6] & 15;
    if (code > 6 || code < 1) continue;
    int16_t v[3];
    std::memcpy(v, p, 6);
    if (t) projct(v, x, t);
    if (code > 3) p[6] = static_cast<uint8_t>(p[6] - 3);
    std::memcpy(p, v, 6);
  }
  flshio(r);
  return 0;
}

// ---------------------------------------------------------------------------
// zscan

int zscan() {
  int32_t cnt = 0;
  PtrRec* r = argary(2, &cnt);
  if (!r || cnt < 1) {
    error(2, 70);
    return 0;
  }
  if (r->Wsiz == W_VEC || r->Wsiz == W_FLOAT) {
    error(2, 122);
    return 0;
  }
  int mode = intarg(3, 1);
  if (mode > 2) mode = 1;
  int colour = intarg(4, -1);
  int keep = intarg(5, 1);
  int32_t thr = lngarg(6, 0);
  int width = intarg(7, 1);
  if (!veclst()) vinit(0);
  int64_t org[3], ext[3];
  winbox(r, org, ext);
  int32_t nx = static_cast<int32_t>(std::min<int64_t>(ext[0], INT32_MAX));
  int32_t start = nvecs;
  int32_t cnt2, part = 0, tot, ws;
  gtvarb(r, &cnt2, &part, &tot, &ws, 0);
  bool wide = (r->Wsiz & 63) > 8;
  bool gap = true;
  for (int32_t i = 0; i < cnt; i++) {
    int32_t xi = i % nx;
    if (xi == 0) {
      if (stopped()) break;
      if (i > 0 && !keep) {
        nvecs = start;
        setnvec(0, start);
      }
      gap = true;
    }
    if (i >= part) {
      LDVARB(r, &part, i);
      if (part <= i) break;
    }
    int32_t v = igstak(r);
    if (v <= thr) {
      gap = true;
      continue;
    }
    int x = static_cast<int>(org[0] + xi), y = static_cast<int>(org[1] + i / nx);
    int c = colour >= 0 ? colour : (wide ? std::clamp(v, 0, 255) : v);
    if (mode == 1) {
      savvec(x, y, v, gap ? 2 : 1, c, width);
    } else if (mode == 2) {
      savvec(x, y, 0, 2, c, width);
      savvec(x, y, v, 1, c, width);
    } else {
      savvec(x, y, v, 3, c, width);
    }
    gap = false;
  }
  if (!keep) {
    nvecs = start;
    setnvec(0, start);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// transform

int su_trnsfm(FnCall& c) {
  int32_t* t = optab;
  PtrRec* s = oprec(0);
  getdst(c.dest);
  // Another element type in the destination is refused before it is made.
  if (s && t[OT_REC + 2] && t[OT_WSIZ + 2] && t[OT_WSIZ + 2] != t[OT_WSIZ]) {
    error(1, 127);
    c.ret = 0;
    return FS_RET;
  }
  if (!s || !(t[OT_KIND] & K_DIMS)) return FS_GO;
  PtrRec* d = oprec(2);
  for (int k = 0; k < 3; k++) c.keep[k] = static_cast<int32_t>(s->Offs[3 + k]);
  if (d && t[OT_CNT + 2] > 0) {
    t[OT_RCNT] = t[OT_CNT + 2];
    for (int k = 0; k < 3; k++) s->Offs[3 + k] = std::max<uint32_t>(d->Offs[3 + k], 1);
  } else {
    uint16_t w = 0;
    int32_t h4 = 0;
    PtrRec* tv = (argtyp(4, &h4) & K_DIMS) ? ptrrec(h4) : s;
    const XfmRec* x = xfhold(tv, &w, false);
    if (x && (w & 0x20)) {
      int64_t prod = 1;
      for (int k = 0; k < 3; k++) {
        float f = x->Scale[k] == 0.0f ? 1.0f : x->Scale[k];
        int32_t e = std::max(ftrunc(static_cast<float>(s->Offs[3 + k]) * f), 1);
        s->Offs[3 + k] = static_cast<uint32_t>(e);
        prod *= e;
      }
      t[OT_RCNT] = static_cast<int32_t>(std::min<int64_t>(prod, INT32_MAX));
      // The result takes the scaled shape; the count is put back after.
      c.gen[0] = t[OT_CNT];
      c.gen[1] = 1;
      t[OT_CNT] = t[OT_RCNT];
    }
  }
  c.aux = 1;
  return FS_GO;
}

namespace {

struct Rgb {
  uint8_t b[3];
};

constexpr int32_t TILE = 128;

// What one tile row of the resident path needs.
struct TileArgs {
  int32_t x0, len;
  float p0, o0, s0;
  bool sc, rot;
  float m0, m1, m2, b0, b1, b2, c0, c1, c2, n0, n1, n2, qy, qz, h0, h1, h2;
  int32_t g0, g1, g2, d0, d1;
};

// The tile loops are built at O3 without trapping math by g++, so that they
// are vectorised; clang vectorises them as they are.
#if defined(__clang__)
#define XF_FAST
#else
#define XF_FAST __attribute__((optimize("O3", "no-trapping-math")))
#endif

// The source item index of each element of a tile row, -1 outside the
// window. The same float steps as xfpoint, in the same order; -1 < f < org
// + ext (limits below 2^24, exact as floats) and trunc(f) >= org. Written
// without branches so that the compiler can keep several lanes at once.
template <bool SC, bool ROT>
XF_FAST void tilerun(const TileArgs& a, int32_t* __restrict ix) {
  const TileArgs t = a;
  for (int32_t k = 0; k < t.len; k++) {
    float q0 = static_cast<float>(t.x0 + k) - t.p0 - t.o0;
    if constexpr (SC) q0 /= t.s0;
    float f0, f1, f2;
    if constexpr (ROT) {
      f0 = (t.n0 + ((q0 * t.m0 + t.b0) + t.c0)) + 0.5f;
      f1 = (t.n1 + ((q0 * t.m1 + t.b1) + t.c1)) + 0.5f;
      f2 = (t.n2 + ((q0 * t.m2 + t.b2) + t.c2)) + 0.5f;
    } else {
      f0 = (t.n0 + q0) + 0.5f;
      f1 = (t.n1 + t.qy) + 0.5f;
      f2 = (t.n2 + t.qz) + 0.5f;
    }
    bool in = (f0 > -1.0f) & (f0 < t.h0) & (f1 > -1.0f) & (f1 < t.h1) & (f2 > -1.0f) & (f2 < t.h2);
    // Brought into range first, so that every conversion is defined.
    float c0 = f0 > -1.0f ? (f0 < t.h0 ? f0 : t.h0) : -1.0f;
    float c1 = f1 > -1.0f ? (f1 < t.h1 ? f1 : t.h1) : -1.0f;
    float c2 = f2 > -1.0f ? (f2 < t.h2 ? f2 : t.h2) : -1.0f;
    int32_t i0 = static_cast<int32_t>(c0), i1 = static_cast<int32_t>(c1), i2 = static_cast<int32_t>(c2);
    in = in & (i0 >= t.g0) & (i1 >= t.g1) & (i2 >= t.g2);
    ix[k] = in ? (i2 * t.d1 + i1) * t.d0 + i0 : -1;
  }
}

// A rotation within the plane (the third column of the matrix is zero):
// the third coordinate is the same for every element of a row, so only
// the first two are computed per element; zb is the row's plane index
// times the source's rows. The same float steps as tilerun.
template <bool SC>
__attribute__((always_inline)) XF_FAST inline void planerun(
    const TileArgs& a, int32_t zb, int32_t* __restrict ix) {
  const TileArgs t = a;
  for (int32_t k = 0; k < t.len; k++) {
    float q0 = static_cast<float>(t.x0 + k) - t.p0 - t.o0;
    if constexpr (SC) q0 /= t.s0;
    float f0 = (t.n0 + ((q0 * t.m0 + t.b0) + t.c0)) + 0.5f;
    float f1 = (t.n1 + ((q0 * t.m1 + t.b1) + t.c1)) + 0.5f;
    bool in = (f0 > -1.0f) & (f0 < t.h0) & (f1 > -1.0f) & (f1 < t.h1);
    float c0 = f0 > -1.0f ? (f0 < t.h0 ? f0 : t.h0) : -1.0f;
    float c1 = f1 > -1.0f ? (f1 < t.h1 ? f1 : t.h1) : -1.0f;
    int32_t i0 = static_cast<int32_t>(c0), i1 = static_cast<int32_t>(c1);
    in = in & (i0 >= t.g0) & (i1 >= t.g1);
    ix[k] = in ? (zb + i1) * t.d0 + i0 : -1;
  }
}

XF_FAST void planebase(const TileArgs& a, int32_t zb, int32_t* ix) {
  a.sc ? planerun<true>(a, zb, ix) : planerun<false>(a, zb, ix);
}

__attribute__((target("avx2"))) XF_FAST void planeavx2(const TileArgs& a, int32_t zb,
                                                                                    int32_t* ix) {
  a.sc ? planerun<true>(a, zb, ix) : planerun<false>(a, zb, ix);
}

__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq"))) XF_FAST void planeavx512(
    const TileArgs& a, int32_t zb, int32_t* ix) {
  a.sc ? planerun<true>(a, zb, ix) : planerun<false>(a, zb, ix);
}

// The plane of a tile row of an in-plane rotation (the third column of the
// matrix zero): 0 when the row needs the general steps (a coordinate not
// finite), 1 when the plane is outside the source, 2 with *zb its index
// times the source's rows.
int planez(const TileArgs& a, int32_t* zb) {
  if (!a.rot || a.m2 != 0.0f || a.len < 1) return 0;
  // The first coordinate along the row runs monotonically between its ends.
  auto q0at = [&a](int32_t k) {
    float q0 = static_cast<float>(a.x0 + k) - a.p0 - a.o0;
    if (a.sc) q0 /= a.s0;
    return q0;
  };
  float qa = q0at(0), qb = q0at(a.len - 1);
  if (!std::isfinite(qa) || !std::isfinite(qb)) return 0;
  // q0 * m2 is a zero of either sign for every element; the sums that take
  // it give the same value up to the sign of a zero, which the final + 0.5
  // removes.
  float f2 = (a.n2 + ((qa * a.m2 + a.b2) + a.c2)) + 0.5f;
  bool in = (f2 > -1.0f) & (f2 < a.h2);
  int32_t i2 = in ? static_cast<int32_t>(f2) : 0;
  if (!in || i2 < a.g2) return 1;
  *zb = i2 * a.d1;
  return 2;
}

int isalevel() {
  static const int isa = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
      return 2;
    return __builtin_cpu_supports("avx2") ? 1 : 0;
  }();
  return isa;
}

// The source index of each element of a tile row of an in-plane rotation;
// false when the row needs the general steps.
bool planeidx(const TileArgs& a, int32_t* ix) {
  int32_t zb = 0;
  int k = planez(a, &zb);
  if (k == 0) return false;
  if (k == 1) {
    for (int32_t j = 0; j < a.len; j++) ix[j] = -1;
    return true;
  }
  int isa = isalevel();
  if (isa == 2)
    planeavx512(a, zb, ix);
  else if (isa == 1)
    planeavx2(a, zb, ix);
  else
    planebase(a, zb, ix);
  return true;
}

// g++ 12 warns of its own intrinsics' unset pass-through operands.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// A tile row of bytes of an in-plane rotation in one pass, 16 elements at a
// time: the steps of planerun, then each lane reads the 4 bytes from its
// item, so that the last 3 items of the source are read alone. Inside the
// limits no clamp is needed before the conversions.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq"))) void plane8x(const TileArgs& a, int32_t zb,
                                                                           const uint8_t* s, int32_t items,
                                                                           uint8_t fill, uint8_t* out) {
  const __m512 p0 = _mm512_set1_ps(a.p0), o0 = _mm512_set1_ps(a.o0), s0 = _mm512_set1_ps(a.s0);
  const __m512 m0 = _mm512_set1_ps(a.m0), m1 = _mm512_set1_ps(a.m1);
  const __m512 b0 = _mm512_set1_ps(a.b0), b1 = _mm512_set1_ps(a.b1);
  const __m512 c0 = _mm512_set1_ps(a.c0), c1 = _mm512_set1_ps(a.c1);
  const __m512 n0 = _mm512_set1_ps(a.n0), n1 = _mm512_set1_ps(a.n1);
  const __m512 h0 = _mm512_set1_ps(a.h0), h1 = _mm512_set1_ps(a.h1);
  const __m512 half = _mm512_set1_ps(0.5f), mone = _mm512_set1_ps(-1.0f);
  const __m512i g0 = _mm512_set1_epi32(a.g0), g1 = _mm512_set1_epi32(a.g1);
  const __m512i d0 = _mm512_set1_epi32(a.d0), zv = _mm512_set1_epi32(zb);
  const __m512i top = _mm512_set1_epi32(items - 4), fv = _mm512_set1_epi32(fill);
  const __m512i step = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  int32_t k = 0;
  for (; k < a.len; k += 16) {
    int32_t n = std::min(16, a.len - k);
    __mmask16 live = static_cast<__mmask16>((1u << n) - 1);
    __m512 q0 = _mm512_cvtepi32_ps(_mm512_add_epi32(_mm512_set1_epi32(a.x0 + k), step));
    q0 = _mm512_sub_ps(_mm512_sub_ps(q0, p0), o0);
    if (a.sc) q0 = _mm512_div_ps(q0, s0);
    __m512 f0 = _mm512_add_ps(_mm512_add_ps(n0, _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(q0, m0), b0), c0)), half);
    __m512 f1 = _mm512_add_ps(_mm512_add_ps(n1, _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(q0, m1), b1), c1)), half);
    __mmask16 in = live & _mm512_cmp_ps_mask(f0, mone, _CMP_GT_OQ) & _mm512_cmp_ps_mask(f0, h0, _CMP_LT_OQ) &
                   _mm512_cmp_ps_mask(f1, mone, _CMP_GT_OQ) & _mm512_cmp_ps_mask(f1, h1, _CMP_LT_OQ);
    __m512i i0 = _mm512_cvttps_epi32(f0), i1 = _mm512_cvttps_epi32(f1);
    in &= _mm512_cmpge_epi32_mask(i0, g0) & _mm512_cmpge_epi32_mask(i1, g1);
    __m512i ix = _mm512_add_epi32(_mm512_mullo_epi32(_mm512_add_epi32(zv, i1), d0), i0);
    __mmask16 end = in & _mm512_cmpgt_epi32_mask(ix, top);
    __m512i g = _mm512_mask_i32gather_epi32(fv, static_cast<__mmask16>(in & ~end), ix, s, 1);
    _mm512_mask_cvtepi32_storeu_epi8(out + k, live, g);
    if (end) {
      alignas(64) int32_t iv[16];
      _mm512_store_si512(iv, ix);
      for (; end; end = static_cast<__mmask16>(end & (end - 1))) {
        int j = __builtin_ctz(end);
        out[k + j] = s[iv[j]];
      }
    }
  }
}
#pragma GCC diagnostic pop

// out[k] = s[ix[k]], or fill where ix[k] < 0, for k < len:
// 16 at a time, each lane reading the 4 bytes from its item, so that the
// last 3 items of the source are read alone. False without the instructions.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void gather8x(const uint8_t* s, int32_t items,
                                                                   const int32_t* ix, int32_t len, uint8_t fill,
                                                                   uint8_t* out) {
  const __m512i neg = _mm512_set1_epi32(-1), top = _mm512_set1_epi32(items - 4);
  const __m512i fv = _mm512_set1_epi32(fill);
  int32_t k = 0;
  for (; k + 16 <= len; k += 16) {
    __m512i v = _mm512_loadu_si512(ix + k);
    __mmask16 in = _mm512_cmpgt_epi32_mask(v, neg) & _mm512_cmple_epi32_mask(v, top);
    __m512i g = _mm512_mask_i32gather_epi32(fv, in, v, s, 1);
    _mm512_mask_cvtepi32_storeu_epi8(out + k, 0xFFFF, g);
    __mmask16 end = _mm512_cmpgt_epi32_mask(v, top);
    while (end) {
      int j = __builtin_ctz(end);
      out[k + j] = s[ix[k + j]];
      end = static_cast<__mmask16>(end & (end - 1));
    }
  }
  for (; k < len; k++) out[k] = ix[k] >= 0 ? s[ix[k]] : fill;
}

bool gather8(const uint8_t* s, int32_t items, const int32_t* ix, int32_t len, uint8_t fill, uint8_t* out) {
  static const bool ok = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
  }();
  if (!ok) return false;
  gather8x(s, items, ix, len, fill, out);
  return true;
}

void tileidx(const TileArgs& a, int32_t* ix) {
  if (planeidx(a, ix)) return;
  if (a.rot)
    a.sc ? tilerun<true, true>(a, ix) : tilerun<false, true>(a, ix);
  else
    a.sc ? tilerun<true, false>(a, ix) : tilerun<false, false>(a, ix);
}

// The rows y0 .. y1 of plane z of a resident source and a contiguous
// destination. Each element is mapped with the same float operations, in
// the same order, as the general path (xfpoint); the terms that do not
// change along a row are computed once per row.
struct Fast {
  const XfmRec* x;
  int t;
  const float* m;
  const uint8_t* src;
  uint8_t* dst;
  int bytes;
  int64_t org[3], ext[3], dim[2];
  int32_t nx, ny;
  int32_t items;  // of the source
  const uint8_t* fill;

  template <typename T>
  void row(int32_t z, int32_t y, T* __restrict out, int32_t x0, int32_t x1) const {
    const bool sc = t & XF_SCALE, rot = t & XF_ROT;
    float q[3];
    const int32_t pr[3] = {0, y, z};
    for (int i = 0; i < 3; i++) {
      q[i] = static_cast<float>(pr[i]) - x->Pin[i] - x->Offset[i];
      if (sc) q[i] /= x->Scale[i] == 0.0f ? 1.0f : x->Scale[i];
    }
    float b[3], c[3], pin[3], hi[3];
    for (int i = 0; i < 3; i++) {
      b[i] = q[1] * m[3 + i];
      c[i] = q[2] * m[6 + i];
      pin[i] = static_cast<float>(x->Pin[i]);
      hi[i] = static_cast<float>(org[i] + ext[i]);
    }
    const float m0 = m[0], m1 = m[1], m2 = m[2];
    const int64_t g0 = org[0], g1 = org[1], g2 = org[2], d0 = dim[0], d1 = dim[1];
    const float b0 = b[0], b1 = b[1], b2 = b[2], c0 = c[0], c1 = c[1], c2 = c[2];
    const float n0 = pin[0], n1 = pin[1], n2 = pin[2], h0 = hi[0], h1 = hi[1], h2 = hi[2];
    const float qy = q[1], qz = q[2];
    const float s0 = sc ? (x->Scale[0] == 0.0f ? 1.0f : x->Scale[0]) : 1.0f;
    const float p0 = static_cast<float>(x->Pin[0]), o0 = static_cast<float>(x->Offset[0]);
    T fv;
    std::memcpy(&fv, fill, sizeof fv);
    const T* __restrict S = reinterpret_cast<const T*>(src);
    int32_t ix[TILE];
    const int32_t len = std::min(x1 - x0, TILE);
    TileArgs a{x0, len, p0, o0, s0, sc, rot, m0, m1, m2, b0, b1, b2, c0, c1, c2, n0, n1, n2, qy, qz,
               h0, h1, h2, static_cast<int32_t>(g0), static_cast<int32_t>(g1), static_cast<int32_t>(g2),
               static_cast<int32_t>(d0), static_cast<int32_t>(d1)};
    if constexpr (sizeof(T) == 1) {
      int32_t zb = 0;
      int pk = isalevel() == 2 ? planez(a, &zb) : 0;
      if (pk == 2) {
        plane8x(a, zb, src, items, fill[0], reinterpret_cast<uint8_t*>(out + x0));
        return;
      }
      if (pk == 1) {
        std::memset(out + x0, fill[0], static_cast<size_t>(len));
        return;
      }
    }
    tileidx(a, ix);
    if constexpr (sizeof(T) == 1) {
      if (gather8(src, items, ix, len, fill[0], reinterpret_cast<uint8_t*>(out + x0))) return;
    }
    for (int32_t k = 0; k < len; k++) out[x0 + k] = ix[k] >= 0 ? S[ix[k]] : fv;
  }

  // Tiles of a few columns keep the source reads of a rotation close together.
  void rows(int32_t z, int32_t y0, int32_t y1) const {
    for (int32_t x0 = 0; x0 < nx; x0 += TILE) {
      int32_t x1 = std::min(x0 + TILE, nx);
      for (int32_t y = y0; y < y1; y++) {
        uint8_t* out = dst + ((static_cast<int64_t>(z) * ny + y) * nx) * bytes;
        switch (bytes) {
          case 1: row(z, y, out, x0, x1); break;
          case 2: row(z, y, reinterpret_cast<uint16_t*>(out), x0, x1); break;
          case 4: row(z, y, reinterpret_cast<uint32_t*>(out), x0, x1); break;
          default: row(z, y, reinterpret_cast<Rgb*>(out), x0, x1); break;
        }
      }
    }
  }
};

// Data in one run of memory from its first item: no block buffers, and not
// in paged high memory.
bool resident(const PtrRec* r) {
  return r && !bufrec(r) && r->Page == 0 && !(r->Flg & (K_LIST | K_FILE)) && dat0(r) &&
         (!(r->Flg2 & F2_HIGH) || !(himemflag & 2)) &&
         (r->Wsiz == W_BYTE || r->Wsiz == W_SHORT || r->Wsiz == W_RGB || r->Wsiz == W_LONG ||
          r->Wsiz == W_FLOAT);
}

}  // namespace

int trnsfm(FnCall& c) {
  int32_t* t = optab;
  PtrRec* s = oprec(0);
  PtrRec* d = oprec(2);
  if (c.aux == 1 && s)
    for (int k = 0; k < 3; k++) s->Offs[3 + k] = static_cast<uint32_t>(c.keep[k]);
  if (c.gen[1] == 1) t[OT_CNT] = static_cast<int32_t>(c.gen[0]);
  if (!s || !d) return 0;
  if (t[OT_WSIZ] != t[OT_WSIZ + 2]) {
    error(1, 127);
    return -1;
  }
  int32_t h4 = 0;
  PtrRec* tv = (argtyp(4, &h4) & (K_DIMS | K_VECTOR)) ? ptrrec(h4) : s;
  if (tv != s) {
    int32_t cn, pa, to, wz;
    gtvarb(tv, &cn, &pa, &to, &wz, 0);
  }
  uint16_t w = 0;
  XfmRec* x = xfhold(tv, &w, false);
  int tw = x ? w >> 4 : 0;
  if (!tw) {
    int32_t cn, pa, to, wz;
    gtvarb(s, &cn, &pa, &to, &wz, 0);
    t[OT_CNT] = cn;
    t[OT_BUF] = pa;
    fnfresh(c, false);
    ariths(115, std::min(t[OT_CNT], t[OT_CNT + 2]), 1);
    return 0;
  }

  if (t[OT_KIND] & K_VECTOR) {
    // Vector records through the transform.
    int32_t n = (s->Flg & K_MATRIX) ? static_cast<int32_t>(s->Offs[4]) : 1;
    prgidx = 0;
    prgtot = static_cast<uint32_t>(std::max(n, 0));
    fnfresh(c, false);
    for (int32_t i = 0; i < n; i++) {
      uint8_t rec[8];
      const uint8_t* p = gtvptr(s, i, 1);
      if (!p) break;
      std::memcpy(rec, p, 8);
      int code = rec[6] & 15;
      if (tv == s) {
        uint8_t e[12];
        if (getvec(s, i, e, 1)) std::memcpy(rec, e + 4, 6);
      } else if (code >= 1 && code <= 3) {
        int16_t v[3];
        std::memcpy(v, rec, 6);
        projct(v, x, tw);
        std::memcpy(rec, v, 6);
      }
      if (uint8_t* q = gtvptr(d, i, 2)) std::memcpy(q, rec, 8);
    }
    flshio(d);
    prgtot = 0;
    return 0;
  }

  int32_t fill = intarg(3, 0);
  int64_t dorg[3], dext[3];
  winbox(d, dorg, dext);
  int32_t nx = static_cast<int32_t>(std::min<int64_t>(dext[0], INT32_MAX));
  int32_t ny = static_cast<int32_t>(std::min<int64_t>(dext[1], INT32_MAX));
  int32_t nz = static_cast<int32_t>(std::min<int64_t>(dext[2], INT32_MAX));
  float saved[3][3];
  std::memcpy(saved, x->Matrix, sizeof saved);
  int order = xforder(static_cast<uint16_t>(w));
  if (tw & XF_ROT) {
    int inv = (order & 0xC) | ((order << 4) & 0x30) | ((order >> 4) & 3);
    Setrot(inv, x, x->Rotate);
  }
  int64_t total = static_cast<int64_t>(nx) * ny * nz;
  prgidx = 0;
  prgtot = static_cast<uint32_t>(std::min<int64_t>(total, UINT32_MAX));

  bool whole = dorg[0] == 0 && dorg[1] == 0 && dorg[2] == 0 && dext[0] == std::max<uint32_t>(d->Datdims[0], 1) &&
               dext[1] == std::max<uint32_t>(d->Datdims[1], 1) && t[OT_CNT + 2] == total;
  Fast f{};
  // The point trace needs the general path.
  bool fast = tv == s && resident(s) && resident(d) && whole && s->Wsiz == d->Wsiz && !(trcmsk & 32);
  if (fast) {
    f.x = x;
    f.t = tw;
    f.m = &x->Matrix[0][0];
    f.src = dat0(s);
    f.dst = dat0(d);
    f.bytes = (s->Wsiz & 63) / 8;
    winbox(s, f.org, f.ext);
    for (int i = 0; i < 3; i++) fast = fast && f.org[i] + f.ext[i] < (1 << 24);
    int64_t items = 1;
    for (int i = 0; i < 3; i++) items *= std::max<uint32_t>(s->Datdims[i], 1);
    fast = fast && items < INT32_MAX;
    f.items = static_cast<int32_t>(items);
  }
  if (fast) {
    f.dim[0] = s->Datdims[0] ? s->Datdims[0] : 1;
    f.dim[1] = s->Datdims[1] ? s->Datdims[1] : 1;
    f.nx = nx;
    f.ny = ny;
    uint8_t fb[4] = {0, 0, 0, 0};
    uint8_t bp = 0;
    istitm(fill, fb, s->Wsiz == W_FLOAT ? static_cast<int>(W_LONG) : static_cast<int>(s->Wsiz), &bp, noclmp());
    if (s->Wsiz == W_FLOAT) {
      float ff = static_cast<float>(fill);
      std::memcpy(fb, &ff, 4);
    }
    f.fill = fb;
    // Rows in bands of one plane, taken in turn by a few threads for a
    // large result; every element is computed alone, so the result does
    // not depend on the split. The main thread polls for Ctrl-C between
    // its bands and a stop ends the others at their next band.
    constexpr int32_t band = 64;
    const int64_t perz = (ny + band - 1) / band, nb = perz * nz;
    std::atomic<int64_t> next{0};
    std::atomic<bool> stop{false};
    auto work = [&f, &next, &stop, perz, nb, ny](bool poll) {
      while (!stop.load(std::memory_order_relaxed)) {
        int64_t b = next.fetch_add(1);
        if (b >= nb) break;
        auto z = static_cast<int32_t>(b / perz);
        auto y0 = static_cast<int32_t>(b % perz) * band;
        f.rows(z, y0, std::min(y0 + band, ny));
        if (poll) {
          prgidx = static_cast<uint32_t>(std::min<int64_t>((static_cast<int64_t>(z) * ny + y0) * f.nx, UINT32_MAX));
          chkio(0);
          if (stopped()) stop.store(true);
        }
      }
    };
    // Storage made for the result is left uncleared: every band stores
    // all its items, and the bands a stop leaves are cleared below.
    const bool fresh = c.fresh != 0;
    fnfresh(c, true);
    if (!stopped()) {
      // A part that runs on the caller polls.
      const int nthr = total >= (1 << 20) ? 4 : 1;
      const std::thread::id me = std::this_thread::get_id();
      parts(nthr, [&](int) { work(std::this_thread::get_id() == me); });
    }
    int64_t done = std::min(next.load(), nb);
    if (fresh && done < nb) {
      int64_t from = ((done / perz) * ny + (done % perz) * band) * nx * f.bytes;
      std::memset(f.dst + from, 0, static_cast<size_t>(total * f.bytes - from));
    }
  } else {
    fnfresh(c, false);
    int32_t& pd = t[OT_BUF + 2];
    int64_t done = 0;
    for (int32_t z = 0; z < nz; z++) {
      for (int32_t y = 0; y < ny; y++) {
        if (stopped()) break;
        for (int32_t xx = 0; xx < nx; xx++) {
          if (done >= t[OT_CNT + 2]) break;
          int32_t p[3] = {xx, y, z};
          double v = fill;
          if (xfok() && xfpoint(tv, p)) {
            if (tv != s) std::memcpy(s->XYZptr, tv->XYZptr, sizeof s->XYZptr);
            nxtbuf(s, 1);
            v = GSTACK(s);
          }
          PSTACK(v, d);
          done++;
          if (done < t[OT_CNT + 2] && done >= pd) DMPVRB(d, &pd, 1, static_cast<int32_t>(done));
        }
        prgidx = static_cast<uint32_t>(std::min<int64_t>(done, UINT32_MAX));
        chkio(0);
      }
    }
    DMPVRB(d, &pd, 0, 0);
  }
  std::memcpy(x->Matrix, saved, sizeof saved);
  prgtot = 0;
  return 0;
}



