// Point picking with the pointer: two coordinates (getxy), and three
// (getxyz) with one screen axis standing for z or with split views.
#include "compute/fnsvc.h"
#include "core/output.h"
#include "core/state.h"
#include "graphics/drawstate.h"
#include "graphics/views.h"
#include "lang/mainloop.h"
#include "ui/cursor.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/keymenu.h"
#include "ui/keys.h"
#include "ui/platform/backend.h"
#include "ui/platform/clock.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <algorithm>
#include <cstring>

namespace {
// Size of the cursor window's client area (the screen without one).
void viewsize(int* w, int* h) {
  *w = scrwid;
  *h = scrhgt;
  if (const PwRec* p = wpwrec(curport)) {
    const int pw = p->rect[2] - p->rect[0] + 1, ph = p->rect[3] - p->rect[1] + 1;
    if (pw > 0 && ph > 0) {
      *w = pw;
      *h = ph;
    }
  }
}

int splitpos() {
  if (curst.split > 0) return curst.split;
  int w, h;
  viewsize(&w, &h);
  return ((gflags & 0x20) ? h : w) / 2;
}

// The pointer goes to a point and becomes the cursor point.
void pointto(int x, int y) {
  setcurs(x, y);
  curx = static_cast<int16_t>(x);
  cury = static_cast<int16_t>(y);
  curst.lastx = static_cast<int16_t>(x);
  curst.lasty = static_cast<int16_t>(y);
}
}  // namespace

int getxy(int mode, int* x, int* y) {
  trcint(152, "getXY", 0, mode, curx, cury, curflg, 0);
  const float xs = curst.boxw > 0 ? static_cast<float>(curst.imgw) / curst.boxw : 1.0f;
  const float ys = curst.boxh > 0 ? static_cast<float>(curst.imgh) / curst.boxh : 1.0f;
  if ((mode & 4) && x && y) pointto(*x, *y);
  if (mode & 16) {
    flushq();
    curstep = 8;
  }
  const bool draw = (curflg & 0x18) && !(curflg & 0x40);
  int key = 130;
  int px = curx, py = cury;
  // Without a pointer device (the headless console) there is nothing to
  // follow: the pick ends at once with the right button ("done").
  bool live = backend()->pointer();
  while (live) {
    const int16_t ox = curx, oy = cury;
    key = getkey((mode & 0x401) | 0x200);
    if (key >= 1 && key <= 5) {
      key = 0;
      break;
    }
    const bool moved = musx != curst.lastx || musy != curst.lasty;
    if (curx != ox || cury != oy) {
      // A button or an arrow key moved the cursor point: the pointer follows.
      setcurs(curx, cury);
    } else if (moved) {
      curx = musx;
      cury = musy;
      if (!(curflg & 0x20)) {
        curx = std::clamp(curx, curst.xmin, std::max(curst.xmin, curst.xmax));
        cury = std::clamp(cury, curst.ymin, std::max(curst.ymin, curst.ymax));
      }
    } else if (key == 0) {
      if (inend()) {  // input ended while polling: the pick is done
        key = 130;
        break;
      }
      if (mode & 1) clock_sleep_ns(2000000ull);
      continue;
    }
    curst.lastx = musx;
    curst.lasty = musy;
    trcint(152, "getXY", 1, key, curx, cury, musx, musy);
    if (key == ' ' && keymenu()) {
      // Space keeps the point; a second Space takes the pointer back there.
      if (!curst.anchored) {
        curst.anchx = curx;
        curst.anchy = cury;
        curst.anchored = true;
      } else {
        pointto(curst.anchx, curst.anchy);
        curst.anchored = false;
      }
      key = 0;
    }
    if (curflg & 3) setcurs(curx, cury);
    if (draw) putxy(curx, cury, 0);
    if (boxon() && !(gflags & 0x2000)) boxtrack(curx, cury);  // the figure follows
    px = curx;
    py = cury;
    if (curflg & 0x100) {
      px = static_cast<int>((px - curst.xmin) * xs) + curst.imgx;
      py = static_cast<int>((py - curst.ymin) * ys) + curst.imgy;
    }
    if (mode & 32) {
      px >>= curst.xshift;
      py >>= curst.yshift;
    }
    if (key != 0 || (mode & 8)) break;
  }
  if (!live) {
    px = curx;
    py = cury;
  }
  if (x) *x = px;
  if (y) *y = py;
  if ((mode & 64) && key >= 129 && key <= 135) key = dblclk(key, 0);
  curst.drag = 0;
  trcint(152, "getxy", 0, key, px, py, mode, 0);
  return key;
}

int getxyz(int mode, int* x, int* y, int* z) {
  if (mode < 0) mode = 0;
  const int axes = gflags & 0x38;
  int px = x ? *x : 0, py = y ? *y : 0, pz = z ? *z : zvalue;
  int key = 0;
  if (!(axes & 0x10)) curst.zview = false;
  for (;;) {
    int gx = px, gy = py;
    // Each move comes back, so that z follows it and the views switch.
    key = getxy(mode | 8, &gx, &gy);
    mode &= ~(4 | 16);  // the start point and the drain only once
    if (stopped()) return 0;
    if (!axes) {
      px = gx;
      py = gy;
      pz = prmval(&prmcur[2], pz);
    } else if (!(axes & 0x10)) {
      // One screen axis stands for z.
      if (axes & 0x20) {
        px = gx;
        pz = gy;
        py = prmval(&prmcur[1], py);
      } else {
        pz = gx;
        py = gy;
        px = prmval(&prmcur[0], px);
      }
    } else {
      // Split views: x-y before the split, z along one axis after it.
      const bool vert = axes & 0x20;  // the z view lies below the split
      const int sp = splitpos();
      const bool inz = (vert ? gy : gx) >= sp;
      if (key == 9 || inz != curst.zview) {
        // The other view becomes active; the pointer goes to the same point
        // there, the shared coordinate kept.
        curst.zview = key == 9 ? !curst.zview : inz;
        if (curst.zview)
          pointto(vert ? px : sp + pz, vert ? sp + pz : py);
        else
          pointto(px, py);
        if (curflg & 0x7800) {
          putxy(px, py, 0);
          putxy(vert ? px : sp + pz, vert ? sp + pz : py, 0);
        }
        trcint(152, "\tcur", 0, curst.zview, px, py, pz, 0);
        if (key == 9 || key == 0) continue;
      } else if (curst.zview) {
        if (vert) {
          px = gx;
          pz = gy - sp;
        } else {
          pz = gx - sp;
          py = gy;
        }
      } else {
        px = gx;
        py = gy;
      }
    }
    trcint(152, "\txyz", 0, key, px, py, pz, 0);
    if (key == 206) {
      // Keypad "+": the point snaps to the nearest stored vector point.
      const int16_t q[3] = {static_cast<int16_t>(px), static_cast<int16_t>(py), static_cast<int16_t>(pz)};
      uint8_t out[12];
      if (fndvec(nullptr, q, 0, out, 0) >= 0) {
        int16_t v[3];
        std::memcpy(v, out + 4, 6);
        px = v[0];
        py = v[1];
        pz = v[2];
        pointto(px, py);
      }
      continue;
    }
    if (key != 0 || (mode & 8)) break;
  }
  if (gflags & 0x2000) {
    int w, h;
    viewsize(&w, &h);
    py = h - 1 - py;
    if (axes) pz = h - 1 - pz;
  }
  const int v = vwindow & 7;
  if (v < nviews) {
    px -= vwtab[v].x0;
    py -= vwtab[v].y0;
    pz -= vwtab[v].z;
  }
  if (x) *x = px;
  if (y) *y = py;
  if (z) *z = pz;
  trcint(152, "getxyz", 0, key, px, py, pz, 0);
  return key;
}
