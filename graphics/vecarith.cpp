// Vector arithmetic, the search for the vector record nearest to a point,
// and angles between points.
#include "graphics/vecarith.h"

#include "compute/arith.h"
#include "compute/expr.h"
#include "compute/fnsvc.h"
#include "compute/trace.h"
#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"
#include "ui/screen.h"

#include <algorithm>
#include <cmath>
#include <cstring>

uint8_t* vrecat(PtrRec* r, int32_t i, int access) {
  if (!r || r->Wsiz != W_VEC || i < 0) return nullptr;
  if (r->Flg & K_MATRIX) return gtvptr(r, i, access);
  // A vector variable (not a matrix of vectors) holds one record: its 8
  // bytes from the origin, whatever its length counts.
  if (i >= 1 || r->Length < 1) return nullptr;
  r->XYZptr[0] = r->Offs[0];
  r->XYZptr[1] = r->Offs[1];
  r->XYZptr[2] = r->Offs[2];
  return nxtbuf(r, access);
}

int dovecs(int code, int count) {
  int32_t* t = optab;
  PtrRec* s1 = oprec(0);
  PtrRec* s2 = oprec(1);
  PtrRec* d = oprec(2);
  const bool vec1 = s1 && (t[OT_KIND] & K_VECTOR), vecd = d && (t[OT_KIND + 2] & K_VECTOR);
  const bool vec2 = s2 && (t[OT_KIND + 1] & K_VECTOR);
  if (!vec1 || !vecd || (code != 115 && (!vec2 || (code != 116 && code != 117)))) {
    error(1, 116);
    return 0;
  }
  const int32_t n1 = t[OT_CNT], n2 = code == 115 ? 0 : t[OT_CNT + 1];
  prgtot = static_cast<uint32_t>(std::max(count, 0));
  for (int32_t i = 0; i < count && !stopped(); i++) {
    prgidx = static_cast<uint32_t>(i);
    uint8_t r[8] = {0, 0, 0, 0, 0, 0, VC_LINE, 0};
    if (n1 >= 1 && (n1 == 1 || i < n1))
      if (const uint8_t* a = vrecat(s1, n1 == 1 ? 0 : i, 1)) std::memcpy(r, a, 8);
    if (n2 >= 1 && (n2 == 1 || i < n2)) {
      const uint8_t* b = vrecat(s2, n2 == 1 ? 0 : i, 1);
      const int ca = r[6] & 15, cb = b ? (b[6] & 15) : 0;
      if (b && ca >= 1 && ca <= 3 && cb >= 1 && cb <= 3) {
        for (int k = 0; k < 3; k++) {
          const int32_t v = code == 116 ? vget16(r + 2 * k) + vget16(b + 2 * k) : vget16(r + 2 * k) - vget16(b + 2 * k);
          vput16(r + 2 * k, std::clamp<int32_t>(v, -32768, 32767));
        }
      }
    }
    if (uint8_t* w = vrecat(d, i, 2)) std::memcpy(w, r, 8);
  }
  flshio(d);
  prgidx = 0;
  prgtot = 0;
  return 0;
}

// The vector record nearest to a point, from start on. Flags: 1 the index
// of the object that holds it (the record after an end record of type 2),
// 2 a line-to stands for the point of its segment nearest the point, 4 the
// nearest overall (else a record within 3 units ends the search), 8 the
// pointer goes to the point found. gflags 0x10 compares in 3-D; rotation
// (0x08, 0x20) leaves out the axis that shows z; else z is left out.
int32_t fndvec(PtrRec* list, const int16_t* point, int32_t start, uint8_t* out, int flags) {
  if (!point) return -1;
  if (list && list == veclst()) list = nullptr;
  if (list) {
    // A variable's record is prepared for reading its records.
    int32_t cnt = 0, part = 0, tot = 0, ws = 0;
    gtvarb(list, &cnt, &part, &tot, &ws, 0);
  }
  bool use[3] = {true, true, false};
  if (gflags & 0x10)
    use[2] = true;
  else if (gflags & 0x28)
    use[(gflags & 0x20) ? 1 : 0] = false, use[2] = true;
  int16_t keep[3];
  std::memcpy(keep, lastpt, sizeof keep);
  double best = 999999.9;
  int32_t found = -1, obj = -1, foundobj = -1;
  int16_t prev[3] = {};
  bool hasprev = false;
  const int32_t n = vreccnt(list);
  for (int32_t i = std::max(start, 0); i < n && !stopped(); i++) {
    uint8_t e[12];
    if (!getvec(list, i, e, 1)) break;
    if (e[0] == VC_END && (flags & 1) && (vget16(e + 4) & 15) == 2) obj = i + 1;
    if (e[0] < VC_LINE || e[0] > VC_DOT) continue;
    int16_t v[3];
    std::memcpy(v, e + 4, 6);
    int16_t cand[3];
    std::memcpy(cand, v, 6);
    if ((flags & 2) && e[0] == VC_LINE && hasprev) {
      // The foot of the perpendicular, kept on the segment.
      int16_t f[2];
      perp(point, prev, v, f);
      const bool inx = f[0] >= std::min(prev[0], v[0]) && f[0] <= std::max(prev[0], v[0]);
      const bool iny = f[1] >= std::min(prev[1], v[1]) && f[1] <= std::max(prev[1], v[1]);
      if (inx && iny) {
        cand[0] = f[0];
        cand[1] = f[1];
      } else if (vdist(point, prev, 2) < vdist(point, v, 2)) {
        std::memcpy(cand, prev, 6);
      }
    }
    std::memcpy(prev, v, 6);
    hasprev = true;
    double d = 0;
    for (int k = 0; k < 3; k++) {
      if (!use[k]) {
        cand[k] = point[k];
        continue;
      }
      const double q = static_cast<double>(cand[k]) - point[k];
      d += q * q;
    }
    d = std::sqrt(d);
    if (d < best) {
      best = d;
      found = i;
      foundobj = obj;
      if (out) {
        std::memcpy(out, e, 12);
        std::memcpy(out + 4, cand, 6);
      }
      if (d <= 3 && !(flags & 4)) break;
    }
  }
  std::memcpy(lastpt, keep, sizeof keep);
  if (found >= 0 && (flags & 8) && out) setcurs(vget16(out + 4), vget16(out + 6));
  if (found >= 0 && (flags & 1) && !(flags & 2) && foundobj >= 0) return foundobj;
  return found;
}

int32_t* angpts(int n, int k) {
  if (n != 0 && n != 2 * k && n != 3 * k) {
    error(0, 47);
    return nullptr;
  }
  auto* p = static_cast<int32_t*>(getbuf(k * 3 * 4));
  if (!p) return nullptr;
  std::memset(p, 0, static_cast<size_t>(k) * 12);
  if (n > 0) {
    const int per = n / k;
    for (int i = 0; i < k; i++)
      for (int c = 0; c < per; c++) p[3 * i + c] = lngarg(2 + per * i + c, 0);
    return p;
  }
  // Picked in the vector window; a line from the first point follows the
  // cursor while the angle is built. Esc stops.
  VecWin vw;
  int32_t* r = p;
  for (int i = 0; i < k && r; i++) {
    int x = curx, y = cury, z = zvalue, key = 0;
    do key = getxyz(1, &x, &y, &z);
    while (key == 0 && !stopped());
    if (key == 155 || key == 27) state |= ST_STOP;  // Esc
    if (stopped()) {
      r = nullptr;
      break;
    }
    p[3 * i] = x;
    p[3 * i + 1] = y;
    p[3 * i + 2] = z;
    if (i == 0) Boxcur(curx, cury, -9);
  }
  Boxcur(0, 0, 0);
  return r;
}

float vangle(int n, int32_t* pts, int mode) {
  int32_t* p = pts;
  if (n >= 0) {
    mode = -1;
    if (n > 0 && n % 3 == 1) {
      mode = intarg(n + 1, -1);
      n--;
    }
    int32_t h[3] = {};
    const bool vecs = n == 3 && (argtyp(2, &h[0]) & K_VECTOR) && (argtyp(3, &h[1]) & K_VECTOR) &&
                      (argtyp(4, &h[2]) & K_VECTOR);
    if (vecs) {
      p = static_cast<int32_t*>(getbuf(36));
      for (int i = 0; p && i < 3; i++) {
        uint8_t r[8] = {};
        PtrRec* v = ptrrec(h[i]);
        int32_t cnt = 0, part = 0, tot = 0, ws = 0;
        if (v) gtvarb(v, &cnt, &part, &tot, &ws, 0);
        if (const uint8_t* q = vrecat(v, 0, 1)) std::memcpy(r, q, 8);
        for (int c = 0; c < 3; c++) p[3 * i + c] = vget16(r + 2 * c);
      }
    } else {
      p = angpts(n, 3);
    }
    if (!p) {
      if (!(state & ST_ERROR)) error(0, 119);
      return 0.0f;
    }
  }
  if (!p) return 0.0f;
  if (mode < 0) mode = (p[2] == p[5] && p[5] == p[8]) ? 3 : 0;
  const int a = mode & 3;
  if (a == 0) return ANGLE(p, p + 3, p + 6);
  // Each segment's direction from the vertex against a reference 30000
  // units along the next axis, in the plane that leaves axis a - 1 out.
  const int ax = a - 1, nx = a % 3, ox = (a + 1) % 3;
  const int32_t* v = p + 3;
  float th[2];
  int snaps = 0;
  for (int s = 0; s < 2; s++) {
    int32_t* q = s == 0 ? p : p + 6;
    if (mode & 4) {
      if (std::abs(q[nx] - v[nx]) <= 3) {
        q[nx] = v[nx];
        snaps++;
      } else if (std::abs(q[ox] - v[ox]) <= 3) {
        q[ox] = v[ox];
        snaps++;
      }
      if (snaps >= 2) return 0.0f;
    }
    int32_t pp[3] = {q[0], q[1], q[2]}, ref[3] = {v[0], v[1], v[2]};
    pp[ax] = v[ax];
    ref[nx] += 30000;
    float t = ANGLE(pp, v, ref);
    if (q[ox] < v[ox]) t = 360.0f - t;
    th[s] = t;
  }
  float r = th[0] - th[1];
  while (r > 180.0f) r -= 360.0f;
  while (r < -180.0f) r += 360.0f;
  return r;
}
