// The vector commands and the point and measuring services they share.
#include "graphics/veccmds.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "compute/fnsvc.h"
#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "graphics/surface.h"
#include "graphics/veclist.h"
#include "graphics/vtext.h"
#include "graphics/writers.h"
#include "lang/mainloop.h"
#include "ui/cursor.h"
#include "ui/draw.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/keys.h"
#include "ui/screen.h"
#include "ui/window.h"

int32_t dcolor = -1;
uint16_t skmode = 0;

namespace {

// Flags of the shape commands line .. disk, by code - 512: 0x01 three
// components, 0x02 a point after a single size, 0x04 the second point
// relative, 0x08 a size may follow the first point, 0x10 a second size,
// 0x20 and 0x40 interactive forms.
constexpr uint8_t SHPFLG[10] = {0x00, 0x24, 0x48, 0x58, 0x58, 0x25, 0x13, 0x49, 0x13, 0x41};

int16_t s16(int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767)); }

// Whether argument n is a number (not a string, not a variable with items).
bool isnum(int n) {
  const int t = argtyp(n, nullptr);
  return (t & K_NUMBER) && !(t & (K_STRING | K_DIMS));
}

// Record 0 of a vector variable (in memory, file-backed or a list) into out.
bool firstrec(PtrRec* r, uint8_t* out) {
  if (!r) return false;
  int32_t cnt = 0, part = 0, tot = 0, ws = 0;
  if (r->Flg & K_MATRIX) {
    if (const uint8_t* p = gtvptr(r, 0, 1)) {
      std::memcpy(out, p, 8);
      return true;
    }
    return false;
  }
  if (!gtvarb(r, &cnt, &part, &tot, &ws, 0) || cnt < 1 || ws != W_VEC) return false;
  if (part < 1) LDVARB(r, &part, 0);
  const uint8_t* p = part >= 1 ? dptr(r) : nullptr;
  if (!p) return false;
  std::memcpy(out, p, 8);
  return true;
}

// Reads the text lines of argument n: a string list's items, else the
// string's lines (split at newlines).
std::vector<std::string> textlines(int n) {
  std::vector<std::string> out;
  int32_t h = 0;
  const int t = argtyp(n, &h);
  if ((t & K_LIST) && (t & K_STRING)) {
    int32_t cnt = 0;
    PtrRec* r = argary(n, &cnt);
    for (int32_t i = 0; r && i < cnt && !stopped(); i++) {
      int32_t len = 0;
      const uint8_t* p = lstptr(r, i, &len, 0);
      out.emplace_back(p ? reinterpret_cast<const char*>(p) : "", p ? static_cast<size_t>(std::max(len, 0)) : 0);
    }
    return out;
  }
  std::string s;
  if (!argstr(n, &s, 32767)) return out;
  size_t at = 0;
  for (;;) {
    const size_t nl = s.find('\n', at);
    out.push_back(s.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  return out;
}

// The drawing-mode word and the XOR word for a shape, put back afterwards.
struct ModeKeep {
  int16_t g = gflags, x = xorflg;
  ~ModeKeep() {
    gflags = g;
    xorflg = x;
    setpxf(gflags);
  }
};

}  // namespace

// ---- Ports ----------------------------------------------------------------------

VecPort::VecPort() : keep(portset()) {
  if (!veclst()) vinit(0);
  if (PwRec* v = wpwrec(wport(4))) setPort(v);
}
VecPort::~VecPort() { setPort(keep); }

VecWin::VecWin() : keep(-1) {
  if (!veclst()) vinit(0);
  if (wport(4)) keep = usewin(4);
}
VecWin::~VecWin() {
  if (keep >= 0) usewin(keep);
}

int shpopt(int given, bool present) {
  const int dflt = (skmode & 0x1000) ? ((gflags & 0x38) ? SO_OUTLINE : 0) : SO_TEMP;
  int o = present ? given : dflt;
  if (present && (o & SO_DEFAULT)) o = (o & ~SO_DEFAULT) | dflt;
  if (o & (SO_NOXFORM | SO_TEMP)) o &= ~SO_OUTLINE;
  return o;
}

// ---- Points ---------------------------------------------------------------------

int curvec(int16_t* point, int kind) {
  if (kind >= 0) flushq();
  VecWin vw;
  int x = curx, y = cury, z = zvalue, key = 0;
  bool grab = false;
  do {
    key = getxyz(1, &x, &y, &z);
    if (curflg & 0x2000) grab = true;
  } while (key == 0 && !stopped());
  if (point) {
    point[0] = s16(x);
    point[1] = s16(y);
    point[2] = s16(z);
  }
  return (key & 0xFF) | (grab ? 0x100 : 0);
}

int rubber(int shape, int16_t* a, int16_t* b) {
  VecWin vw;
  int k = curvec(a, 0);
  if ((k & 0xFF) == 13) k = 129;
  if ((k & 0xFF) < 128 || stopped()) return -1;
  // The figure is anchored at the first point and follows the pointer
  // until the second pick.
  Boxcur(0, 0, shape);
  k = curvec(b, -1);
  Boxcur(0, 0, 0);
  if ((k & 0xFF) == 13) k = 129;
  if ((k & 0xFF) < 128 || stopped()) return -1;
  return k;
}

int setvec(uint8_t* out, int* argn, int ncoord) {
  std::memset(out, 0, 8);
  int32_t h = 0;
  const int t = argtyp(*argn, &h);
  if ((t & K_VECTOR) && firstrec(ptrrec(h), out)) {
    (*argn)++;
    return 1;
  }
  out[6] = 1;
  // Only a missing argument ("-", or none) is picked with the cursor: an
  // argument that is there and no number asks for nothing (error 109).
  if (t && fltarg(*argn, 1.0f) != fltarg(*argn, 2.0f)) {
    error(*argn, 109);
    return -1;
  }
  const int x = t ? intarg(*argn, -9999) : -9999;
  int16_t p[3];
  if (x == -9999) {
    int k = curvec(p, 0);
    if ((k & 0xFF) == 13) k = 129;
    if ((k & 0xFF) < 128 || stopped()) return -1;
    out[6] = static_cast<uint8_t>(k & 1);
    std::memcpy(out, p, 6);
    // An argument left empty ("-") is used up by the pick.
    const int used = *argn <= nargs() ? 1 : 0;
    *argn += used;
    return used;
  }
  p[0] = static_cast<int16_t>(x);
  p[1] = static_cast<int16_t>(intarg(*argn + 1, 0));
  p[2] = ncoord >= 3 ? static_cast<int16_t>(intarg(*argn + 2, 0)) : zvalue;
  std::memcpy(out, p, 6);
  const int used = ncoord >= 3 ? 3 : 2;
  *argn += used;
  return used;
}

// ---- Measuring ------------------------------------------------------------------

int measur(PtrRec* list, int32_t start, int32_t count, float scale, float* length, float* area) {
  int32_t first = std::max<int32_t>(start, 0);
  const int32_t end = count > 0 ? first + count : vreccnt(list);
  int16_t keep[3];
  std::memcpy(keep, lastpt, sizeof keep);
  float len = 0.0f;
  int64_t ar = 0;
  bool seen = false, measured = false;
  int16_t s[3] = {}, p[3] = {};
  int32_t i = first, last = first;
  for (; i < end && !stopped(); i++) {
    last = i;
    uint8_t e[12];
    if (!getvec(list, i, e, 1)) break;
    const int c = e[0];
    if (c < VC_LINE || c > VC_DOT) {
      if (count <= 0 && start >= 0 && measured) break;
      first = i + 1;
      continue;
    }
    int16_t q[3];
    std::memcpy(q, e + 4, 6);
    if (!seen) {
      std::memcpy(s, q, 6);
      seen = true;
    } else if (c == VC_LINE) {
      len += vdist(p, q, 3);
      ar += (static_cast<int64_t>(q[0]) - p[0]) * (static_cast<int64_t>(q[1]) + p[1]) / 2;
      measured = true;
    }
    std::memcpy(p, q, 6);
  }
  std::memcpy(lastpt, keep, sizeof keep);
  lastvec = last;
  int sign = 1;
  float a = 0.0f;
  if (seen) {
    if (vdist(p, s, 3) <= 5.0f) {
      ar += (static_cast<int64_t>(s[0]) - p[0]) * (static_cast<int64_t>(s[1]) + p[1]) / 2;
      if (ar < 0) {
        ar = -ar;
        sign = -1;
      }
      a = static_cast<float>(ar);
      if (scale > 0.0f) a *= scale * scale;
    }
    if (scale > 0.0f) len *= scale;
  }
  if (length) *length = len;
  if (area) *area = a;
  return (i - first) * sign;
}

// ---- Fills and outlines ---------------------------------------------------------

int vpaint(int32_t start, int32_t colour, int32_t colour2) {
  if (!veclst()) vinit(0);
  const int32_t fill = nvecs;
  // A fill record counts at most 32767 points.
  const int32_t n = std::min<int32_t>(fill - std::max<int32_t>(start, 0), 32767);
  savvec(-n, n, -1, VC_FILL, colour, 0);
  // The outline's normal, oriented along the axis that shows depth.
  const int16_t g = gflags;
  gflags = static_cast<int16_t>(g | 1);
  const int axis = (g & 0x08) ? 0 : (g & 0x20) ? 1 : 2;
  int16_t keep[3];
  std::memcpy(keep, lastpt, sizeof keep);
  int16_t normal[3] = {0, 0, 0}, base[3] = {}, prev[3] = {};
  int got = 0;
  bool hasbase = false, hasprev = false;
  for (int32_t i = std::max<int32_t>(start, 0); i < fill && got < 2 && !stopped(); i++) {
    uint8_t e[12];
    if (!getvec(nullptr, i, e, 1)) break;
    if (e[0] < VC_LINE || e[0] > VC_DOT) continue;
    int16_t q[3];
    std::memcpy(q, e + 4, 6);
    if (!hasbase) {
      std::memcpy(base, q, 6);
      hasbase = true;
    } else {
      int16_t out[3];
      if (hasprev && vnormal(base, prev, q, out, axis)) {
        std::memcpy(normal, out, 6);
        got++;
      }
      std::memcpy(prev, q, 6);
      hasprev = true;
    }
  }
  std::memcpy(lastpt, keep, sizeof keep);
  gflags = g;
  savvec(normal[0], normal[1], normal[2], VC_PARAM, colour2 >= 0 ? colour2 : 0, colour2 >= 0 ? 1 : 0);
  endvec(4);
  // The ends of the object chain back to the record before the filled
  // points: each one of type 2 after the first is made a skip, the fill
  // drawing their outline. Objects before the fill's points are left alone.
  bool first = true;
  for (int32_t i = nvecs - 1; i >= std::max<int32_t>(start - 1, 0) && !stopped();) {
    uint8_t* r = gtvptr(nullptr, i, 1);
    if (!r || (r[6] & 15) != VC_END) break;
    const int type = vget16(r);
    const int d = (type & 15) == 4 ? vget16(r + 2) : vget16(r + 4);
    if (type == 2) {
      if (first) {
        first = false;
      } else if (uint8_t* w = gtvptr(nullptr, i, 2)) {
        vput16(w, type + 18);
      }
    }
    if (d >= 0) break;
    i += d;
  }
  return 0;
}

int shpcirc(const int16_t* c, int rx, int ry, int32_t colour, int option) {
  ModeKeep mk;
  if (option & SO_NOXFORM) gflags = static_cast<int16_t>(gflags | 1);
  // Under rotation (not as a second trace) the offsets of the axis that
  // shows depth go to z.
  const int rot = (mk.g & 0x10) ? 0 : (mk.g & 0x28);
  auto at = [&](int dx, int dy, int16_t* o) {
    o[0] = o[1] = o[2] = 0;
    if (rot & 0x08)
      o[1] = s16(dy), o[2] = s16(dx);
    else if (rot & 0x20)
      o[0] = s16(dx), o[2] = s16(dy);
    else
      o[0] = s16(dx), o[1] = s16(dy);
  };
  const int32_t start = nvecs;
  int16_t o[3];
  at(rx, 0, o);
  savvec(c[0] + o[0], c[1] + o[1], c[2] + o[2], VC_MOVE, colour, 1);
  if (rx < 1) return 0;
  const double k = static_cast<double>(ry) * ry / (static_cast<double>(rx) * rx);
  const double step = 2.0 / rx, r2 = static_cast<double>(ry) * ry;
  int xp = rx, yp = 0;
  for (double t = 6.2831853; t > 0 && !stopped(); t -= step) {
    const double cx = rx * std::cos(t) + 0.5;
    const int X = static_cast<int>(std::trunc(cx));
    const double a = r2 - k * cx * cx;
    int Y = a > 0 ? static_cast<int>(std::trunc(std::sqrt(a) + 0.5)) : 0;
    if (t < 3.1415926) Y = -Y;
    at(X - xp, Y - yp, o);
    savvec(o[0], o[1], o[2], VC_LINE + 3, colour, 1);
    xp = X;
    yp = Y;
  }
  at(rx - xp, -yp, o);
  savvec(o[0], o[1], o[2], VC_LINE + 3, colour, 1);
  if (option & SO_FILL) vpaint(start, colour, -1);
  return 0;
}

// ---- The commands ---------------------------------------------------------------

int vpoint() {
  uint8_t p[8];
  int a = 2;
  if (setvec(p, &a, 3) < 0 || stopped()) return 0;
  const int code = intarg(a, 1);
  const int32_t colour = lngarg(a + 1, dcolor);
  const int width = intarg(a + 2, lwidth);
  const int remove = intarg(a + 3, 0);
  VecPort vp;
  savvec(vget16(p), vget16(p + 2), vget16(p + 4), code, colour, width);
  if (remove != 0 && nvecs > 0) {
    nvecs--;
    setnvec(-1, nvecs);
  }
  return 0;
}

int paintc() {
  const int32_t colour = lngarg(2, dcolor);
  const int32_t start = lngarg(3, 0);
  const int32_t colour2 = lngarg(4, -1);
  if (stopped()) return 0;
  VecPort vp;
  return vpaint(start, colour, colour2);
}

int puttxt() {
  const std::vector<std::string> lines = textlines(2);
  // A negative colour given draws nothing; the default colour draws.
  const int32_t colour = lngarg(3, dcolor);
  const bool draws = !isnum(3) || colour >= 0;
  uint8_t p[8];
  int a = 4;
  if (setvec(p, &a, 2) < 0 || stopped()) return 0;
  int size = intarg(a, 1);
  if (size == 0) size = 1;
  const int width = intarg(a + 1, 1);
  const int angle = intarg(a + 2, 0);
  const int keep = intarg(a + 4, 0);
  const int unit = intarg(a + 5, -1);
  const int s = std::abs(size);
  double co = 1.0, si = 0.0;
  degcs(angle, &co, &si);
  const int dx = static_cast<int>(std::trunc(si * 8 * s));
  const int dy = static_cast<int>(std::trunc(co * 16 * s));
  const int16_t gu = gunit;
  if (unit >= 0) gunit = static_cast<int16_t>(unit);
  VecPort vp;
  const int32_t before = nvecs;
  int32_t x = vget16(p), y = vget16(p + 2);
  const int z = vget16(p + 4);
  for (const std::string& l : lines) {
    if (stopped()) break;
    if (!l.empty() && draws) {
      savvec(s16(x), s16(y), z, VC_MOVE, 0, 0);
      puttext(l.c_str(), colour, size, angle, width);
    }
    x += dx;
    y += dy;
  }
  if (!keep) {
    nvecs = before;
    setnvec(-1, before);
  }
  gunit = gu;
  return 0;
}

int shapes(int code) {
  const int k = code - 512;
  if (k < 0 || k >= 10) return 0;
  const uint8_t fl = SHPFLG[k];
  const int ncomp = (fl & 0x01) ? 3 : 2;
  const int32_t colour = lngarg(2, dcolor);
  flushq();
  int16_t p1[3] = {}, p2[3] = {};
  int s1 = -1, s2 = -1;
  int a = 3;
  const bool box = code == 513, round = code == 514 || code == 516;
  if ((box || round) && !argtyp(3, nullptr)) {
    // The rubber-band forms (no point given: argument 3 missing or left
    // empty): the box between the two picks, the ellipse in it, or the
    // circle about the first pick through the second.
    if (nargs() >= 3) a = 4;
    const int shape = box ? 1 : code == 516 ? 2 : 3;
    int16_t a0[3], b0[3];
    if (rubber(shape, a0, b0) < 0) return 0;
    if (box) {
      std::memcpy(p1, a0, 6);
      std::memcpy(p2, b0, 6);
    } else if (shape == 2) {
      p1[0] = s16((a0[0] + b0[0]) / 2);
      p1[1] = s16((a0[1] + b0[1]) / 2);
      p1[2] = a0[2];
      s1 = std::abs(b0[0] - a0[0]);
      s2 = std::abs(b0[1] - a0[1]);
    } else {
      std::memcpy(p1, a0, 6);
      s1 = s2 = 2 * static_cast<int>(std::lround(std::hypot(b0[0] - a0[0], b0[1] - a0[1])));
    }
  } else {
    uint8_t v[8];
    if (setvec(v, &a, ncomp) < 0 || stopped()) return 0;
    std::memcpy(p1, v, 6);
    if ((fl & 0x08) && isnum(a)) {
      s1 = intarg(a++, 0);
      if ((fl & 0x10) && isnum(a))
        s2 = intarg(a++, 0);
      else if (fl & 0x02) {
        if (setvec(v, &a, ncomp) < 0 || stopped()) return 0;
      }
    } else {
      if (setvec(v, &a, ncomp) < 0 || stopped()) return 0;
      std::memcpy(p2, v, 6);
      if (fl & 0x04)
        for (int i = 0; i < 3; i++) p2[i] = s16(p1[i] + p2[i]);
    }
  }
  const int width = intarg(a, ncomp == 3 ? 0 : 1);
  const bool optgiven = isnum(a + 1);
  const int opt = shpopt(intarg(a + 1, 0), optgiven);

  ModeKeep mk;
  if (opt & SO_NOXFORM) gflags = static_cast<int16_t>(gflags | 1);
  if (opt & SO_XOR) {
    // Pixels are XORed: the lines are walked through the pixel writer.
    gflags = static_cast<int16_t>(gflags | 0x180);
    xorflg = static_cast<int16_t>(xorflg | 0x80);
  }
  setpxf(gflags);
  VecPort vp;
  const int32_t before = nvecs;
  endvec(2);
  savvec(p1[0], p1[1], p1[2], VC_MOVE, colour, width);
  const int dx = p2[0] - p1[0], dy = p2[1] - p1[1], dz = p2[2] - p1[2];
  bool ended = false;
  if (code == 512) {
    savvec(dx, dy, dz, VC_LINE + 3, colour, width);
  } else if (box) {
    const int e = dx == 0 ? dz : 0;
    savvec(dx, 0, e, VC_LINE + 3, colour, width);
    savvec(0, dy, dz - e, VC_LINE + 3, colour, width);
    savvec(-dx, 0, -e, VC_LINE + 3, colour, width);
    savvec(0, -dy, -(dz - e), VC_LINE + 3, colour, width);
    if (opt & SO_FILL) {
      vpaint(before + 1, colour, -1);
      ended = true;
    }
  } else if (round) {
    int w = s1, h = s2;
    if (s1 < 0) {
      // From the second point: the extent along each axis on the screen.
      w = std::abs((gflags & 0x08) ? dz : dx);
      h = std::abs((gflags & 0x20) ? dz : dy);
    } else if (s2 < 0) {
      h = w;
    }
    if (code == 514) h = w;
    if (w != 0 && h != 0) {
      if (opt & SO_OUTLINE) {
        shpcirc(p1, w / 2, h / 2, colour, opt);
        ended = (opt & SO_FILL) != 0;
      } else {
        savvec(w, h, opt & SO_FILL, VC_ELLIPSE, colour, 1);
      }
    }
  }
  if (!ended) endvec(4);
  if (opt & (SO_NOXFORM | SO_TEMP)) {
    nvecs = before;
    setnvec(-1, before);
  }
  return 0;
}

int grid() {
  const int32_t colour = lngarg(2, dcolor);
  const int dx = intarg(3, 25);
  const int dy = intarg(4, dx);
  const int32_t x0 = intarg(5, curst.xmin), y0 = intarg(6, curst.ymin);
  const int32_t x1 = intarg(7, curst.xmax), y1 = intarg(8, curst.ymax);
  const int keep = intarg(9, 0);
  if (stopped()) return 0;
  ModeKeep mk;
  gflags = static_cast<int16_t>(gflags | 1);
  VecPort vp;
  const auto v = static_cast<uint32_t>(colour);
  int lines = 0;
  auto line = [&](int32_t ax, int32_t ay, int32_t bx, int32_t by) {
    const int16_t a[3] = {s16(ax), s16(ay), zvalue};
    int16_t b[3] = {s16(bx), s16(by), zvalue};
    vmove(a);
    vline(b, v, 0);
    if (++lines % 64 == 0) chkio(0);
  };
  // Counters of 32 bits: an end at 32767 ends the walk.
  if (dx > 0)
    for (int32_t x = x0; x <= x1 && !stopped(); x += dx) line(x, y0, x, y1);
  if (dy > 0)
    for (int32_t y = y0; y <= y1 && !stopped(); y += dy) line(x0, y, x1, y);
  if (!keep) setnvec(-1, nvecs);
  return 0;
}
