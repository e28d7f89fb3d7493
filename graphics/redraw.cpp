// Object drawing and redraw.
#include "graphics/redraw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "compute/arith.h"
#include "compute/fnsvc.h"
#include "compute/xform.h"
#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/ellipse.h"
#include "graphics/erase.h"
#include "graphics/fill.h"
#include "graphics/pen.h"
#include "graphics/veclist.h"
#include "graphics/vtext.h"
#include "ui/draw.h"
#include "ui/events.h"
#include "ui/keys.h"
#include "ui/window.h"

namespace {

PtrRec* drlist = nullptr;  // the list being drawn (null: the vector list)
int16_t prevpt[3];         // the last point drawn, for the next line
int16_t curwid = 1;        // the current line width
int16_t lastcode = 0;      // the last code drawn (0 at the start of a redraw)
int16_t lastclip = 0;      // the last clip result

constexpr int POLLRECS = 64;  // records between input polls
int walking = 0;              // redraws walking the list (the line log is theirs)


// The list's scale factors, 1 without a scale transform.
void scales(float* s) {
  s[0] = s[1] = s[2] = 1.0f;
  PtrRec* r = drlist ? drlist : veclst();
  uint16_t w = 0;
  const XfmRec* x = r ? xfhold(r, &w, false) : nullptr;
  if (x && ((w >> 4) & XF_SCALE))
    for (int k = 0; k < 3; k++) s[k] = x->Scale[k];
}

// Swaps the image that vimage names for yzimage's while it lives (the
// rotated copy of a tile goes there), and back.
struct YzSwap {
  PtrRec old{};
  bool had = false, on = false;
  YzSwap() {
    const PtrRec* yz = imgbound(IV_YZIMAGE) ? imgname(IV_YZIMAGE) : nullptr;
    if (!yz) return;
    if (imgbound(IV_VIMAGE)) {
      old = *imgname(IV_VIMAGE);
      had = true;
    }
    const PtrRec y = *yz;
    on = imgbind(IV_VIMAGE, &y) == 0;
  }
  ~YzSwap() {
    if (on) imgbind(IV_VIMAGE, had ? &old : nullptr);
  }
  YzSwap(const YzSwap&) = delete;
  YzSwap& operator=(const YzSwap&) = delete;
};

}  // namespace

uint8_t* vabs(PtrRec* list, int32_t index, uint8_t* out) {
  uint8_t* r = getvec(list, index, out, 0);
  if (!r || out[0] < 4 || out[0] > 6) return r;
  // A relative point: the offsets back to the absolute point before it.
  int32_t s[3] = {vget16(out + 4), vget16(out + 6), vget16(out + 8)};
  for (int32_t j = index - 1; j >= 0 && !stopped(); j--) {
    uint8_t e[12];
    if (!getvec(list, j, e, 0)) break;
    const int c = e[0];
    if (c >= 1 && c <= 6)
      for (int k = 0; k < 3; k++) s[k] += vget16(e + 4 + 2 * k);
    if (c >= 1 && c <= 3) break;
  }
  out[0] = static_cast<uint8_t>(out[0] - 3);
  for (int k = 0; k < 3; k++) vput16(out + 4 + 2 * k, s[k]);
  return r;
}

int vdraw(int32_t index, int mode) {
  uint8_t e[12];
  const uint8_t* r = getvec(drlist, index, e, 1);
  int32_t next = index + 1;
  int code = r ? e[0] : 0;
  // Lines and moves keep the line log; a fill or tile reads it and empties
  // it after; anything else may draw over the lines in it.
  if (code != VC_LINE && code != VC_MOVE && code != VC_FILL && code != VC_TILE) lnclear();
  int16_t pt[3] = {vget16(e + 4), vget16(e + 6), vget16(e + 8)};
  if (code == VC_LINE && mode == 0 && index >= 1 && lastcode >= 1 && lastcode <= 6) {
    // The usual record, a line on from the point drawn before: as below.
    const uint32_t colour = vcmap[static_cast<uint8_t>(e[2])];
    const int w = lwidth < 0 ? -lwidth : (e[1] ? e[1] : lwidth);
    int16_t a[3], b[3];
    std::memcpy(a, prevpt, sizeof a);
    std::memcpy(b, pt, sizeof b);
    std::memcpy(prevpt, pt, sizeof prevpt);
    const int c = iclip(a, b);
    lastclip = static_cast<int16_t>(c);
    lastcode = VC_LINE;
    if (c < 0) return 1;
    int pw = 1, pv = 0;
    gtxtpos(&pw, &pv);
    if (w > 0 && pw != w) stxtpos(w, pv, -1);
    if (c != 0) vmove(a);
    lnarm = walking > 0;
    if (!lnarm) lnclear();
    vline(b, colour, mode);
    if (lnarm) lnclear();
    lnarm = false;
    std::memcpy(penpt, b, sizeof penpt);
    curwid = static_cast<int16_t>(w);
    return 1;
  }
  int16_t from[3];
  std::memcpy(from, prevpt, sizeof from);

  std::vector<char> text;
  int op = code;
  if (code == VC_TEXT) {
    // The text follows its header, 6 bytes a record: as many records as the
    // length needs, no more.
    const int len = std::max<int>(pt[0], 0);
    const int want = (len + 5) / 6;
    text.assign(static_cast<size_t>(want) * 6 + 1, 0);
    int got = 0;
    while (got < want) {
      uint8_t t[12];
      const uint8_t* q = getvec(drlist, next, t, 0);
      if (!q || t[0] != VC_TEXT) break;
      std::memcpy(text.data() + 6 * got, q, 6);
      got++;
      next++;
    }
    if (got < want) {
      // The text is cut short: nothing is drawn; the records gathered are
      // consumed and the next record is drawn as what it is.
      error(0, 110);
      lastcode = VC_TEXT;
      return std::max(next - index, 1);
    }
    text[static_cast<size_t>(len)] = 0;
  } else if (code == VC_OP) {
    op = pt[0];
  }
  if ((code == VC_OP || code == VC_ELLIPSE) && op >= 31 && index + 1 < vreccnt(drlist)) next = index + 2;
  if (code == VC_LINE || code == VC_OP || code == VC_ELLIPSE) {
    if (index < 1 || lastcode == 0 || lastcode > 6) {
      code = op = VC_MOVE;
    } else if (mode == 1) {
      // The record before, read again through the list's transform.
      uint8_t p[12];
      int16_t keep[3];
      std::memcpy(keep, lastpt, sizeof keep);
      getvec(drlist, index - 1, p, 1);
      std::memcpy(lastpt, keep, sizeof keep);
      from[0] = vget16(p + 4);
      from[1] = vget16(p + 6);
      from[2] = vget16(p + 8);
    }
  }
  if (code == VC_OP && op >= 1 && op <= 3) code = op;

  uint32_t colour = vcmap[static_cast<uint8_t>(e[2])];
  const int w = lwidth < 0 ? -lwidth : (e[1] ? e[1] : lwidth);
  const bool scaled = !(gflags & 1);

  if (op == VC_TEXT && code == VC_TEXT) {
    int16_t len = pt[0], size = pt[1], angle = pt[2];
    if (len > 0 && lastclip >= 0) {
      if (scaled) {
        float s[3];
        scales(s);
        size = static_cast<int16_t>(ftrunc(static_cast<float>(size) * std::max(s[0], 1.0f)));
      }
      vtext(text.data(), len, colour, w, size, angle, 0, -1);
    }
  } else if (op == VC_ELLIPSE) {
    int wd = pt[0], ht = pt[1];
    if (scaled) {
      float s[3];
      scales(s);
      wd = ftrunc(static_cast<float>(wd) * s[0]);
      ht = ftrunc(static_cast<float>(ht) * s[1]);
    }
    if (limits(from) == 0) ellips(from, wd, ht, colour, pt[2] | 256);
  } else if ((op == VC_TILE || op == VC_FILL) && code == op) {
    // The parameter record after it: the normal and the second colour. A
    // parameter in force that faces away is turned toward the viewer and
    // gives its colour.
    uint8_t pe[12];
    const uint8_t* param = nullptr;
    int16_t keep[3];
    std::memcpy(keep, lastpt, sizeof keep);
    if (index + 1 < vreccnt(drlist) && getvec(drlist, index + 1, pe, 1) && pe[0] == VC_PARAM) {
      next = index + 2;
      param = pe;
      if (pe[1] != 0 && vget16(pe + 8) < 0) {
        colour = static_cast<uint8_t>(pe[2]);
        for (int k = 0; k < 3; k++) vput16(pe + 4 + 2 * k, -vget16(pe + 4 + 2 * k));
      }
    }
    std::memcpy(lastpt, keep, sizeof keep);
    if (mode != -1) vtile(index, e, colour, op == VC_FILL ? -1 : w, mode, param);
    lnclear();
  } else if (op == VC_END) {
    int t = pt[0];
    if (t & 32) {
      float s[3];
      scales(s);
      const float f = (t == 33) ? s[1] : (t == 34) ? s[2] : s[0];
      if (ftrunc(500.0f * f) < pt[2]) t = 16;
    }
    if (t & 16) next = index + pt[1] - (t == 20 ? 2 : 0);
  } else if (code >= VC_LINE && code <= VC_DOT) {
    if (mode == -1) code = VC_MOVE;
    std::memcpy(prevpt, pt, sizeof prevpt);
    if (code == VC_DOT) {
      curwid = static_cast<int16_t>(w);
      if (w > 1) {
        if (limits(pt) == 0) ellips(pt, w, w, colour, 1);
        lastcode = VC_DOT;
        return 1;
      }
    }
    if (code == VC_MOVE) {
      vmove(pt);
    } else {
      int16_t a[3], b[3];
      std::memcpy(a, code == VC_DOT ? pt : from, sizeof a);
      std::memcpy(b, pt, sizeof b);
      const int c = iclip(a, b);
      lastclip = static_cast<int16_t>(c);
      if (c < 0) {
        lastcode = static_cast<int16_t>(code);
        return 1;
      }
      int pw = 1, pv = 0;
      gtxtpos(&pw, &pv);
      if (w > 0 && pw != w) stxtpos(w, pv, -1);
      if (c != 0 || mode == 1 || code == VC_DOT) vmove(a);
      // A line of the walk goes into the line log, or empties it when it
      // is drawn another way.
      lnarm = walking > 0 && code == VC_LINE;
      if (code != VC_LINE || !lnarm) lnclear();
      vline(b, colour, mode);
      if (lnarm) lnclear();
      lnarm = false;
      std::memcpy(penpt, b, sizeof penpt);
    }
    curwid = static_cast<int16_t>(w);
    lastcode = static_cast<int16_t>(code);
    return 1;
  }
  lastcode = static_cast<int16_t>(code);
  return std::max(next - index, 1);
}

int vtile(int32_t index, const uint8_t* rec, uint32_t colour, int width, int mode, const uint8_t* param) {
  const bool isparam = param && param[0] == VC_PARAM;
  int strength = vlight[3];
  bool shade = isparam && strength != 0;
  int16_t light[3] = {vlight[0], vlight[1], vlight[2]};
  if (shade && strength < 0) {
    uint8_t lp[12] = {VC_LINE};
    std::memcpy(lp + 4, light, 6);
    vproject(lp, drlist);
    std::memcpy(light, lp + 4, 6);
    strength = -strength;
  }
  int16_t normal[3] = {0, 0, 0};
  if (isparam) std::memcpy(normal, param + 4, 6);

  if ((gflags & 0x10) && !(gflags & 1) && imgbound(IV_YZIMAGE)) {
    // The rotated second trace: the tile turned as its lines are, into
    // yzimage.
    uint8_t p2[12] = {};
    if (param) std::memcpy(p2, param, 12);
    int16_t rn[3];
    vrotat(normal, rn);
    std::memcpy(p2 + 4, rn, 6);
    const int16_t g = gflags, z = zoff;
    gflags = static_cast<int16_t>(g & ~0x10);
    setpxf(gflags);
    {
      YzSwap swap;
      vtile(index, rec, colour, width, mode, param ? p2 : nullptr);
    }
    zoff = z;
    gflags = g;
    setpxf(g);
  }

  int32_t start = 0, count = 0;
  int open = 0;
  int32_t tstart = -1;
  int32_t lp[3] = {0, 0, 0};  // where the light is seen from
  if (width < 0) {
    start = index + vget16(rec + 4);
    count = vget16(rec + 6);
    open = vget16(rec + 8);
    if (shade) {
      shade = false;
      for (int32_t i = start; i < start + count && i < vreccnt(drlist); i++) {
        uint8_t v[12];
        if (vabs(drlist, i, v) && v[0] == VC_MOVE) {
          for (int k = 0; k < 3; k++) lp[k] = vget16(v + 4 + 2 * k);
          shade = true;
          break;
        }
      }
    }
  } else {
    if (!isparam || normal[2] < 0) return 0;
    // The triangle is appended to the list for the filler, and goes again.
    int32_t vx[3][3];
    for (int k = 0; k < 3; k++) {
      uint8_t v[12];
      if (!vabs(drlist, index + vget16(rec + 4 + 2 * k), v)) return 0;
      for (int c = 0; c < 3; c++) vx[k][c] = vget16(v + 4 + 2 * c);
    }
    tstart = nvecs;
    for (int k = 0; k < 3; k++) {
      if (putvec(nvecs, vx[k][0], vx[k][1], vx[k][2], k == 0 ? VC_MOVE : VC_LINE, 0, 0) < 0) {
        // No room in the list: the triangle is not filled.
        nvecs = tstart;
        setnvec(-1, tstart);
        return 0;
      }
      nvecs++;
    }
    chkio(0);
    for (int c = 0; c < 3; c++) lp[c] = ((vx[1][c] + vx[2][c]) / 2 + vx[0][c]) / 2;
    start = tstart;
    count = 3;
  }
  if (shade) {
    const int32_t L[3] = {light[0] - lp[0], light[1] - lp[1], light[2] - lp[2]};
    const int32_t o[3] = {0, 0, 0}, n[3] = {normal[0], normal[1], normal[2]};
    const float a = ANGLE(L, o, n);
    const float c = static_cast<float>(colour);
    const int32_t v = a < 90.0f ? ftrunc(c - static_cast<float>(strength) * std::sin(a * 0.017453293f))
                                : ftrunc(c - static_cast<float>(strength));
    const uint32_t was = colour;
    colour = v < 1 ? (was != 0 ? 1u : 0u) : static_cast<uint32_t>(v);
    if (trcmsk & 4) {
      // The normal and the light, drawn from the tile.
      const int16_t p[3] = {static_cast<int16_t>(lp[0]), static_cast<int16_t>(lp[1]), static_cast<int16_t>(lp[2])};
      int16_t q[3] = {static_cast<int16_t>(lp[0] + n[0]), static_cast<int16_t>(lp[1] + n[1]),
                      static_cast<int16_t>(lp[2] + n[2])};
      vmove(p);
      vline(q, 12, 0);
      int16_t s[3] = {light[0], light[1], light[2]};
      vmove(p);
      vline(s, 13, 0);
    }
  }
  fillst = tstart < 0 ? drlist : nullptr;
  paint(start, count, colour, mode, open, nullptr);
  fillst = nullptr;
  if (tstart >= 0) {
    nvecs = tstart;
    setnvec(-1, tstart);
  }
  return 0;
}

int redraw(int n) {
  int32_t start = 0, count = 0;
  int mode = 0, flags = 0;
  PtrRec* list = nullptr;
  if (n > 0) {
    start = nvecs - n;
    count = n;
  } else {
    int32_t h = 0;
    const int k = nargs() >= 2 ? argtyp(2, &h) : 0;
    if (stopped()) return 0;
    if ((k & K_VECTOR) && (k & K_MATRIX)) {
      int32_t cnt = 0;
      list = argary(2, &cnt);
      if (!list) return 0;
      start = 0;
      count = static_cast<int32_t>(list->Offs[4]);
    } else {
      start = std::max<int32_t>(lngarg(2, vec0), 0);
      count = lastdrawn() + 1 - start;
      if (count >= nvecs) setnvec(0, start + count);
    }
    const int era = intarg(3, count >= nvecs ? 1 : 0);
    flags = intarg(4, 0);
    if (flags & 4) mode = 1;
    if (era) {
      if (!imgbound(IV_VIMAGE))
        erase(5);
      else if (!(state & (ST_CMACRO | ST_TMACRO | ST_QUEUED)))
        jprintf(1, "Warning: Redraw does not clear VIMAGE\n");
    }
  }
  if (!list && !veclst()) return 0;
  // Lines through the platform go to the vector window while it exists.
  PwRec* port = portset();
  if (PwRec* v = wpwrec(wport(4))) setPort(v);
  savcur(1, -1);
  lastcode = 0;
  lastpen = 0xFFFFFFFFu;
  drlist = list;
  prgtot = static_cast<uint32_t>(std::max(count, 0));
  prgidx = 0;
  int32_t i = start;
  const int32_t end = start + std::max(count, 0);
  int since = 0;
  // The object being measured: where it starts, and whether lines of it
  // were drawn.
  int32_t ostart = start;
  bool inprog = false;
  auto measure = [&]() {
    float len = 0.0f, area = 0.0f;
    measur(list, ostart, -1, calfact, &len, &area);
    ptvdat(len, area);
  };
  ImgPin pin;  // no variable changes while the records are drawn
  VecPin vpin;
  lnclear();
  walking++;
  while (i < end && !stopped()) {
    if (flags) {
      uint8_t m[12];
      getvec(list, i, m, 0);
      const bool line = m[0] == VC_LINE || m[0] == VC_LINE + 3;
      const bool done = !line && inprog;
      if (line) inprog = true;
      if (done || (inprog && (flags & 2))) measure();
      if (!line) {
        inprog = false;
        ostart = i;
      }
    }
    const int k = vdraw(i, mode);
    i += k;
    prgidx += static_cast<uint32_t>(k);
    if (++since >= POLLRECS) {
      since = 0;
      chkio(0);
    }
  }
  walking--;
  lnclear();
  // The last object ends with the walk.
  if (flags && inprog && !stopped() && !(flags & 2)) measure();
  chkio(0);
  prgtot = 0;
  drlist = nullptr;
  // The cursor comes back unless an error was reported meanwhile: its
  // message stays on the screen.
  if (!(state & ST_ERROR)) savcur(0, -1);
  setPort(port);
  return 0;
}

void rdrini() {
  drlist = nullptr;
  walking = 0;
  lnclear();
  std::memset(prevpt, 0, sizeof prevpt);
  curwid = 1;
  lastcode = 0;
  lastclip = 0;
}
