// The animate command: a movie file played in the main window, or the z
// slices of an image shown one after the other (the cine form).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "files/fileutil.h"
#include "graphics/movie/movie.h"
#include "graphics/pixels.h"
#include "ui/clocks.h"
#include "ui/editor.h"
#include "ui/events.h"
#include "ui/palette.h"
#include "ui/platform/clock.h"
#include "ui/platform/surface.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/window.h"

namespace {

constexpr int32_t STOPBITS = ST_ERROR | ST_INTR | ST_STOP;

// Waits ms on the clock object (at once on the virtual clock), in steps
// short enough for Ctrl-C.
void waitms(int64_t ms) {
  if (ms <= 0) return;
  if (clock_virtual()) {
    clock_sleep_ns(uint64_t(ms) * 1000000ull);
    return;
  }
  const uint64_t end = clock_ns() + uint64_t(ms) * 1000000ull;
  for (uint64_t now = clock_ns(); now < end && !(state & STOPBITS); now = clock_ns()) {
    clock_sleep_ns(std::min<uint64_t>(end - now, 5000000ull));
    chkio(0);
  }
}

void mark(int on) {
  if (Wport* w = wport(2)) {
    if (on)
      w->misc |= 0x80;
    else
      w->misc &= static_cast<uint8_t>(~0x80);
  }
}

// ---- The movie form ---------------------------------------------------------

int movform() {
  int action = intarg(3, 0);
  int32_t h2 = 0;
  const int k2 = argtyp(2, &h2);
  if (k2 & K_STRING) {
    char name[260] = {0};
    float v = 0;
    int len = 0;
    getarg(2, &v, name, sizeof name, &len);
    if (action == 3) {
      // Only whether the file opens for reading.
      std::FILE* fp = len > 0 ? std::fopen(hostpath(name).c_str(), "rb") : nullptr;
      if (!fp) return error(2, 66);
      std::fclose(fp);
      return 0;
    }
    int32_t pt[4] = {intarg(6, 0), intarg(7, 0), 0, 0};
    const bool point = pt[0] >= 1 && pt[1] >= 1;
    const int r = InitAVI(winhwnd(2), name, point ? pt : nullptr, intarg(4, 0), intarg(5, 0), intarg(8, 0),
                          intarg(9, 0), intarg(10, 100), 0);
    if (r < 0) return error(2, 66);
    if (r > 0) {
      if (action == 0)
        playAVI(0, 0, 0);
      else
        avilist(action);
      action = 0;
      mark(1);
    }
    if (state & STOPBITS) return 0;
  } else {
    const int32_t v = lngarg(2, 0);
    if (v == 0) {
      action = -1;
    } else {
      playAVI(lngarg(4, 0), 0, 0);
      mark(1);
    }
  }
  if (action == 0) {
    for (;;) {
      if (state & STOPBITS) break;
      const int r = maintainAVI(0);
      if (r == 0) break;
      pumpmsg();
      if (r > 0) waitms(r);
    }
  } else if (action < 0) {
    aviclos();
    mark(0);
  }
  return 0;
}

// ---- The cine form ------------------------------------------------------------

// The frames of a cine run on the screen. They are written over the screen
// as it is, above every window: a frameless topmost window over the area
// the frames take holds them (it starts as a copy of that part of the
// screen). They are also kept in the main window's pixels, and its repaint
// puts them back, so that no repaint of the main window wipes them while
// the run lasts.
struct CineScr {
  int32_t pop = 0;            // the topmost window (0: no run on the screen)
  int x = 0, y = 0, w = 0, h = 0;  // its area on the screen
  std::vector<uint32_t> px;   // the frame pixels of the area
  std::vector<uint8_t> set;   // which of them a frame has written
  int32_t mainwin = 0;        // the main window
  bool marked = false;        // the main window's repaint mark was ours
};
CineScr cine;

void cineopen(int x, int y, int w, int h) {
  if (w < 1 || h < 1) return;
  updall();
  const Surface& scr = wm_compose();
  const int32_t pop = wm_create("", WMS_POPUP | WMS_TOPMOST | WMS_VISIBLE, x, y, w, h, 0, 0);
  Surface* ps = wm_surface(pop);
  if (!ps) return;
  sblit(*ps, 0, 0, scr, x, y, w, h);
  cine.pop = pop;
  cine.x = x;
  cine.y = y;
  cine.w = ps->w;
  cine.h = ps->h;
  cine.px.assign(size_t(cine.w) * size_t(cine.h), 0);
  cine.set.assign(size_t(cine.w) * size_t(cine.h), 0);
  cine.mainwin = winhwnd(2);
  if (Wport* m = wport(2); m && !(m->misc & 0x80)) {
    m->misc |= 0x80;
    cine.marked = true;
  }
}

void cineclose() {
  if (!cine.pop) return;
  wm_destroy(cine.pop);
  if (Wport* m = wport(2); m && cine.marked) m->misc &= static_cast<uint8_t>(~0x80);
  cine = CineScr{};
}

// One pixel of a frame at a screen point.
void cineput(int sx, int sy, uint32_t v) {
  const int px = sx - cine.x, py = sy - cine.y;
  if (px < 0 || py < 0 || px >= cine.w || py >= cine.h) return;
  const size_t i = size_t(py) * size_t(cine.w) + size_t(px);
  cine.px[i] = v;
  cine.set[i] = 1;
  if (Surface* ps = wm_surface(cine.pop)) ps->row(py)[px] = v;
  int ox = 0, oy = 0;
  Surface* ms = wm_surface(cine.mainwin);
  if (ms && wm_origin(cine.mainwin, &ox, &oy)) {
    const int mx = sx - ox, my = sy - oy;
    if (mx >= 0 && my >= 0 && mx < ms->w && my < ms->h) ms->row(my)[mx] = v;
  }
}

// Where the frames go: an image variable's items, or the screen.
struct Cdst {
  uint8_t* items = nullptr;  // the variable's items (null: the screen)
  int64_t rowitems = 0;      // items a row
  int bytes = 1;             // bytes an item
  int w = 0, h = 0;          // extent from the position
  int x = 0, y = 0;          // the position
};

// One item of the screen's depth as a pixel of the main window.
uint32_t scrpx(const uint8_t* p, int bytes) {
  switch (bytes) {
    case 1: {
      const uint8_t* e = palent(p[0]);
      return e ? (uint32_t(e[0]) << 16 | uint32_t(e[1]) << 8 | e[2]) : 0;
    }
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return rgb565(v);
    }
    case 3: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    default: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v & 0xFFFFFF;
    }
  }
}

// Writes a row of n items (each repeated zoom times) at (x, y) of the
// destination, relative to its position; cut at its edges.
void putrow(const Cdst& d, const uint8_t* src, int n, int zoom, int x, int y) {
  if (y < 0 || y >= d.h) return;
  const int by = d.bytes;
  for (int i = 0; i < n; i++)
    for (int z = 0; z < zoom; z++) {
      const int cx = x + i * zoom + z;
      if (cx < 0 || cx >= d.w) continue;
      const uint8_t* s = src + size_t(i) * by;
      if (d.items)
        std::memcpy(d.items + (int64_t(d.y + y) * d.rowitems + d.x + cx) * by, s, size_t(by));
      else
        cineput(d.x + cx, d.y + y, scrpx(s, by));
    }
}

int cineform() {
  setres(-1, 0);
  int32_t cnt = 0;
  PtrRec* src = argary(2, &cnt);
  if (!src) return error(2, 35);
  const int fw = static_cast<int>(src->Offs[3]), fh0 = static_cast<int>(std::max<uint32_t>(src->Offs[4], 1));
  const int nz = static_cast<int>(std::max<uint32_t>(src->Offs[5], 1));
  const int by = src->Wbyts;
  const int code = src->Wsiz;
  if (fw < 1 || by < 1 || (code != 8 && code != 16 && code != 24 && code != 32 && code != 96))
    return error(2, 70);
  const int first0 = static_cast<int>(std::min<uint32_t>(src->XYZptr[2], static_cast<uint32_t>(nz - 1)));
  const int32_t srch = src->PTR;
  int32_t items = 0;
  const auto* data = static_cast<const uint8_t*>(aryarg(2, 0, 0, code, &items, nullptr));
  if (!data || items < int64_t(fw) * fh0 * nz) return error(2, 35);
  // The destination.
  Cdst d;
  int32_t h3 = 0;
  const int k3 = argtyp(3, &h3);
  bool screen = !(k3 & (K_IMAGE | K_SOLID | K_MATRIX | K_ARRAY));
  if (!screen) {
    int32_t dc = 0;
    PtrRec* dr = argary(3, &dc);
    if (!dr) return error(3, 70);
    if (dr->Wbyts != by) return error(3, 127);
    uint8_t* p = dat0(dr);
    if ((dr->Flg & (K_FILE | K_NOSTK)) || bufrec(dr) || !p || dr->Offs[3] < uint32_t(fw) ||
        std::max<uint32_t>(dr->Offs[4], 1) < uint32_t(fh0))
      return error(3, 70);
    d.items = p;
    d.rowitems = dr->Datdims[0];
    d.bytes = by;
    d.x = static_cast<int>(dr->Offs[0]);
    d.y = static_cast<int>(dr->Offs[1]);
    d.w = static_cast<int>(dr->Offs[3]);
    d.h = static_cast<int>(std::max<uint32_t>(dr->Offs[4], 1));
  } else {
    if (by != scrbits / 8) return error(3, 127);
    int x = intarg(3, 0);
    int y = intarg(4, 0);
    if (x < 0) {
      // The user picks the position.
      getxy(0, &x, &y);
      x = std::max(0, x);
    }
    if (x == 0 && y == 0) {
      x = std::max(0, (scrwid - fw) / 2);
      y = std::max(0, (scrhgt - fh0) / 2);
    }
    y = std::max<int>(y, mnubar);
    d.bytes = by;
    d.x = x;
    d.y = y;
    d.w = scrwid - x;
    d.h = scrhgt - y;
    if (d.w < 1 || d.h < 1) return error(3, 70);
  }
  int delay = std::max(0, intarg(5, 0));
  const int flags = intarg(6, 0);
  int zoom = std::max(1, intarg(7, 0));
  const int ntile = std::max(1, intarg(8, 1));
  const int tstart = intarg(9, -1);
  zoom = std::max(1, std::min(zoom, d.w / fw));
  const int fh = std::min(fh0, std::max(1, d.h / zoom));
  // The frame range and its step.
  int first = first0, last = nz - 1, step = 1;
  if (ntile > 1 && tstart >= 0) {
    first += tstart;
    last -= ntile - tstart - 1;
    step = ntile;
  }
  if (first > last) return 0;
  if (flags & 2) {
    step = -step;
    std::swap(first, last);
  }
  const bool tiles = ntile > 1 && tstart < 0;
  const int tpr = std::max(1, d.w / (fw * zoom));
  const bool strip = screen && !tiles && !(flags & 0x10) && d.w > fw * zoom;
  if (strip) setwin(2);
  if (screen && !(trcmsk & 4) && (aflags & 3) == 0) {
    // The area the frames take: one frame, or the tiles as they are laid.
    const int cols = tiles ? std::min(ntile, tpr) : 1;
    const int rows = tiles ? (ntile + tpr - 1) / tpr : 1;
    cineopen(d.x, d.y, std::min<int64_t>(d.w, int64_t(cols) * fw * zoom),
             std::min<int64_t>(d.h, int64_t(rows) * fh * zoom));
  }
  const size_t rowb = size_t(fw) * by;
  int cur = first, shown = -1, tile = 0;
  bool paused = false;
  uint32_t last_t = tickms(1);
  for (;;) {
    if (state & STOPBITS) break;
    // The frame.
    if (!(trcmsk & 4) && (aflags & 3) == 0) {
      const int tx = tiles ? (tile % tpr) * fw * zoom : 0;
      const int ty = tiles ? (tile / tpr) * fh * zoom : 0;
      if (ty + fh * zoom <= d.h || !tiles) {
        const uint8_t* f = data + size_t(cur) * size_t(fh0) * rowb;
        for (int r = 0; r < fh; r++)
          for (int z = 0; z < zoom; z++) putrow(d, f + size_t(r) * rowb, fw, zoom, tx, ty + r * zoom + z);
      }
    }
    shown = cur;
    if (tiles) tile = (tile + 1) % ntile;
    // The next frame.
    bool stop = false;
    int nx = cur + step;
    const int lo = std::min(first, last), hi = std::max(first, last);
    if ((step > 0 && nx > last) || (step < 0 && nx < last)) {
      if (flags & 1) {
        stop = true;
      } else if (flags & 4) {
        step = -step;
        std::swap(first, last);
        nx = cur + step;
        if (nx < lo || nx > hi) nx = cur;
      } else {
        nx = first;
      }
    }
    cur = nx;
    // Keys.
    for (;;) {
      int k = getkey(paused ? 0 : 0x401);
      if (k == ';') {
        const int c = getkey(0x401);
        k = c == 'u' ? 200 : c == 'd' ? 208 : c == 'l' ? 203 : c == 'r' ? 205 : c == 'c' ? 13 : c;
      }
      if (k <= 0) break;
      if (k == 27 || k == 155 || k == 'q') {
        stop = true;
      } else if (k == 13) {
        if (paused)
          paused = false;
        else
          stop = true;
      } else if (k == ' ') {
        paused = true;
      } else if (k == 200 || k == 208) {
        if ((k == 200) == (step > 0)) {
          step = -step;
          std::swap(first, last);
          cur += 2 * step;
          while (cur < lo) cur += hi - lo + 1;
          while (cur > hi) cur -= hi - lo + 1;
        }
      } else if (k == 203) {
        delay = std::max(0, delay - 10);
      } else if (k == 205) {
        delay += 10;
      } else {
        pushkey(k, keytext);
        stop = true;
      }
      if (stop || !paused || (state & STOPBITS)) break;
    }
    if (stop) break;
    // The delay since the last frame.
    uint32_t now = tickms(1);
    if (delay > 0) {
      const int64_t gone = int64_t(now) - last_t;
      if (gone >= 0 && gone < delay) waitms(delay - gone);
      now = tickms(1);
    }
    setfres(static_cast<float>(now - last_t), 0);
    last_t = now;
  }
  if (PtrRec* s = ptrrec(srch); s && shown >= 0) s->XYZptr[2] = static_cast<uint32_t>(shown);
  setres(shown, 0);
  cineclose();
  if (strip) {
    // The other windows show again.
    setwin(-1);
    for (int i = 0; i < nwins; i++)
      if (Wport* w = wport(i); w && !(w->status & 8))
        if (PwRec* p = wpwrec(w)) showwin(p);
  }
  return 0;
}

}  // namespace

bool cinepaint(int32_t window) {
  if (!cine.pop || window != cine.mainwin) return false;
  int ox = 0, oy = 0;
  Surface* ms = wm_surface(cine.mainwin);
  if (!ms || !wm_origin(cine.mainwin, &ox, &oy)) return false;
  for (int r = 0; r < cine.h; r++) {
    const int my = cine.y + r - oy;
    if (my < 0 || my >= ms->h) continue;
    for (int c = 0; c < cine.w; c++) {
      const size_t i = size_t(r) * size_t(cine.w) + size_t(c);
      const int mx = cine.x + c - ox;
      if (cine.set[i] && mx >= 0 && mx < ms->w) ms->row(my)[mx] = cine.px[i];
    }
  }
  return true;
}

int animat() {
  int32_t h2 = 0;
  const int k2 = argtyp(2, &h2);
  if ((k2 & (K_IMAGE | K_SOLID | K_ARRAY | K_MATRIX)) && !(k2 & K_STRING)) return cineform();
  return movform();
}
