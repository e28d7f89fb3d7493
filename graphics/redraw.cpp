// Object drawing and redraw.
#include "graphics/redraw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "compute/arith.h"
#include "compute/xform.h"
#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/ellipse.h"
#include "graphics/erase.h"
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

inline int16_t at16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// The list's scale factors, 1 without a scale transform.
void scales(float* s) {
  s[0] = s[1] = s[2] = 1.0f;
  PtrRec* r = drlist ? drlist : veclst();
  uint16_t w = 0;
  const XfmRec* x = r ? xfhold(r, &w, false) : nullptr;
  if (x && ((w >> 4) & XF_SCALE))
    for (int k = 0; k < 3; k++) s[k] = x->Scale[k];
}

// The records of the list: the write index, or a variable's count.
int32_t reccount() {
  if (!drlist) return nvecs;
  return (drlist->Flg & K_MATRIX) ? static_cast<int32_t>(drlist->Offs[4]) : 1;
}

}  // namespace

int vdraw(int32_t index, int mode) {
  uint8_t e[12];
  const uint8_t* r = getvec(drlist, index, e, 1);
  int32_t next = index + 1;
  int code = r ? e[0] : 0;
  int16_t pt[3] = {at16(e + 4), at16(e + 6), at16(e + 8)};
  int16_t from[3];
  std::memcpy(from, prevpt, sizeof from);

  std::vector<char> text;
  int op = code;
  if (code == 8) {
    // The text follows its header, 6 bytes a record.
    const int len = std::max<int>(pt[0], 0);
    text.assign(static_cast<size_t>(len) + 7, 0);
    int got = 0;
    while (got < len) {
      uint8_t t[12];
      const uint8_t* q = getvec(drlist, next, t, 0);
      if (!q || t[0] != 8) break;
      std::memcpy(text.data() + got, q, 6);
      got += 6;
      next++;
    }
    if (got < len) {
      error(0, 110);
      next--;
      lastcode = 8;
      return std::max(next - index, 1);
    }
    text[static_cast<size_t>(len)] = 0;
  } else if (code == 9) {
    op = pt[0];
  }
  if (code == 9 || code == 10) {
    if (op >= 31 && index + 1 < reccount()) next = index + 2;
  }
  if (code == 1 || code == 9 || code == 10) {
    if (index < 1 || lastcode == 0 || lastcode > 6) {
      code = op = 2;
    } else if (mode == 1) {
      // The record before, read again through the list's transform.
      uint8_t p[12];
      int16_t keep[3];
      std::memcpy(keep, lastpt, sizeof keep);
      getvec(drlist, index - 1, p, 1);
      std::memcpy(lastpt, keep, sizeof keep);
      from[0] = at16(p + 4);
      from[1] = at16(p + 6);
      from[2] = at16(p + 8);
    }
  }

  const uint32_t colour = vcmap[static_cast<uint8_t>(e[2])];
  const int w = lwidth < 0 ? -lwidth : (e[1] ? e[1] : lwidth);
  const bool scaled = !(gflags & 1);

  if (op == 8) {
    int16_t len = pt[0], size = pt[1], angle = pt[2];
    if (len > 0 && lastclip >= 0) {
      if (scaled) {
        float s[3];
        scales(s);
        size = static_cast<int16_t>(ftrunc(static_cast<float>(size) * std::max(s[0], 1.0f)));
      }
      vtext(text.data(), len, colour, w, size, angle, 0, -1);
    }
  } else if (op == 10) {
    int wd = pt[0], ht = pt[1];
    if (scaled) {
      float s[3];
      scales(s);
      wd = ftrunc(static_cast<float>(wd) * s[0]);
      ht = ftrunc(static_cast<float>(ht) * s[1]);
    }
    if (limits(from) == 0) ellips(from, wd, ht, colour, pt[2]);
  } else if (op == 15) {
    int t = pt[0];
    if (t & 32) {
      float s[3];
      scales(s);
      const float f = (t == 33) ? s[1] : (t == 34) ? s[2] : s[0];
      if (ftrunc(500.0f * f) < pt[2]) t = 16;
    }
    if (t & 16) next = index + pt[1] - (t == 20 ? 2 : 0);
  } else if (op >= 1 && op <= 3 && code <= 3) {
    if (mode == -1) code = 2;
    std::memcpy(prevpt, pt, sizeof prevpt);
    if (code == 3) {
      curwid = static_cast<int16_t>(w);
      if (w > 1) {
        if (limits(pt) == 0) ellips(pt, w, w, colour, 1);
        lastcode = 3;
        return 1;
      }
    }
    if (code == 2) {
      vmove(pt);
    } else {
      int16_t a[3], b[3];
      std::memcpy(a, code == 3 ? pt : from, sizeof a);
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
      if (c != 0 || mode == 1 || code == 3) vmove(a);
      vline(b, colour, mode);
      std::memcpy(penpt, b, sizeof penpt);
    }
    curwid = static_cast<int16_t>(w);
    lastcode = static_cast<int16_t>(code);
    return 1;
  }
  lastcode = static_cast<int16_t>(code);
  return std::max(next - index, 1);
}

int redraw(int n) {
  int32_t start = 0, count = 0;
  int mode = 0;
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
    const int flags = intarg(4, 0);
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
  ImgPin pin;  // no variable changes while the records are drawn
  while (i < end && !stopped()) {
    const int k = vdraw(i, mode);
    i += k;
    prgidx += static_cast<uint32_t>(k);
    if (++since >= POLLRECS) {
      since = 0;
      chkio(0);
    }
  }
  chkio(0);
  prgtot = 0;
  drlist = nullptr;
  // The cursor comes back unless an error was reported meanwhile: its
  // message stays on the screen.
  if (!(state & ST_ERROR)) savcur(0, -1);
  setPort(port);
  if (!list && i > nvecs) {
    nvecs = i;
    setnvec(0, i);
  }
  return 0;
}

void rdrini() {
  drlist = nullptr;
  std::memset(prevpt, 0, sizeof prevpt);
  curwid = 1;
  lastcode = 0;
  lastclip = 0;
}
