// The window manager: window records, z-order, frames, hit-testing and the
// composition of the screen.
#include "ui/platform/wm.h"

#include "ui/events.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {
constexpr int MAXWIN = 4096;  // places in the window list (place 0 unused)

struct Win {
  uint32_t gen = 0;  // generation of the place; the handle carries it
  bool live = false;
  bool visible = false;
  bool enabled = true;
  uint32_t style = 0;
  int32_t parent = 0;
  int x = 0, y = 0;  // client origin in parent client coordinates
  int bigw = 0, bigh = 0;  // a size larger than the screen it may take (wm_large)
  std::string title;
  Surface surf;
};

std::vector<Win> wins(1);
uint32_t lastgen = 0;  // generations are never given out twice, not even after wm_reset
std::vector<int> zorder;  // places, bottom first
int32_t capture = 0, focus = 0;
Surface screen;

int place(int32_t h) {
  if (h <= 0) return 0;
  const int i = h & (MAXWIN - 1);
  if (i <= 0 || i >= static_cast<int>(wins.size())) return 0;
  const Win& w = wins[static_cast<size_t>(i)];
  return w.live && w.gen == static_cast<uint32_t>(h) >> 12 ? i : 0;
}

Win* win(int32_t h) {
  int i = place(h);
  return i ? &wins[static_cast<size_t>(i)] : nullptr;
}

int32_t handle(int i) { return static_cast<int32_t>((wins[static_cast<size_t>(i)].gen << 12) | static_cast<uint32_t>(i)); }

// Frame widths around the client area: left, top, right, bottom.
void frame(const Win& w, int f[4]) {
  f[0] = f[1] = f[2] = f[3] = 0;
  if (w.style & WMS_POPUP) return;
  if (w.style & (WMS_CAPTION | WMS_BORDER | WMS_SIZING)) f[0] = f[1] = f[2] = f[3] = WM_BORDER;
  if (w.style & WMS_CAPTION) f[1] += WM_CAPHGT;
}

bool shown(int i) {
  // A window is on the screen when it and all its parents are visible.
  for (int k = 0; k < 64 && i; k++) {
    const Win& w = wins[static_cast<size_t>(i)];
    if (!w.visible) return false;
    i = place(w.parent);
  }
  return true;
}

void origin(int i, int* x, int* y) {
  int ox = 0, oy = 0;
  for (int k = 0; k < 64 && i; k++) {
    const Win& w = wins[static_cast<size_t>(i)];
    ox += w.x;
    oy += w.y;
    i = place(w.parent);
  }
  *x = ox;
  *y = oy;
}

// Places of the children of place p (in z-order).
bool isdesc(int i, int p) {
  for (int k = 0; k < 64 && i; k++) {
    i = place(wins[static_cast<size_t>(i)].parent);
    if (i == p) return true;
  }
  return false;
}

// Whether a window or one of its parents stays on top.
bool topmost(int i) {
  for (int k = 0; k < 64 && i; k++) {
    const Win& w = wins[static_cast<size_t>(i)];
    if (w.style & WMS_TOPMOST) return true;
    i = place(w.parent);
  }
  return false;
}

// Windows that stay on top go above the others, each group in its order.
void settle() {
  std::stable_partition(zorder.begin(), zorder.end(), [](int z) { return !topmost(z); });
}

void drawframe(Surface& s, const Win& w, int cx, int cy, bool active) {
  int f[4];
  frame(w, f);
  if (!f[0] && !f[1]) return;
  const int fx = cx - f[0], fy = cy - f[1];
  const int fw = w.surf.w + f[0] + f[2], fh = w.surf.h + f[1] + f[3];
  sfill(s, fx, fy, fw, fh, 0x404040);  // border
  if (w.style & WMS_CAPTION) {
    const uint32_t bar = active ? 0x203870 : 0x707070;
    sfill(s, cx, fy + WM_BORDER, w.surf.w, WM_CAPHGT - 1, bar);
    stext(s, cx + 4, fy + WM_BORDER + 1, w.title.data(),
          std::min<int>(static_cast<int>(w.title.size()), std::max(0, (w.surf.w - 24) / 8)),
          0xFFFFFF);
    // The close box at the right end of the caption.
    const int bx = cx + w.surf.w - 15, by = fy + WM_BORDER + 2;
    sfill(s, bx, by, 13, 13, 0xC0C0C0);
    for (int d = 3; d < 10; d++) {
      sfill(s, bx + d, by + d, 1, 1, 0);
      sfill(s, bx + 12 - d, by + d, 1, 1, 0);
    }
  }
}
}  // namespace

// The screen's size (wm_screensize; 1024 by 768 until it is set).
int scrw = 0, scrh = 0;

// A window is at most as large as the screen with its frame, as platforms
// limit their windows: a size read from a file cannot ask for gigabytes.
int fitw(int w) { return std::clamp(w, 1, (scrw > 0 ? scrw : 1024) + 2 * WM_BORDER); }
int fith(int h) { return std::clamp(h, 1, (scrh > 0 ? scrh : 768) + 2 * WM_BORDER + WM_CAPHGT); }

int32_t wm_create(const char* title, uint32_t style, int x, int y, int w, int h, int32_t parent,
                  uint32_t bg) {
  if (parent && !win(parent)) return 0;
  int i = 1;
  while (i < static_cast<int>(wins.size()) && wins[static_cast<size_t>(i)].live) i++;
  if (i >= MAXWIN) return 0;
  if (i == static_cast<int>(wins.size())) wins.emplace_back();
  Win& n = wins[static_cast<size_t>(i)];
  lastgen = (lastgen + 1) & 0x7FFFF;
  if (lastgen == 0) lastgen = 1;
  n = Win{};
  n.gen = lastgen;
  n.live = true;
  n.style = style;
  n.parent = parent;
  n.x = x;
  n.y = y;
  n.visible = style & WMS_VISIBLE;
  n.title = title ? title : "";
  n.surf.resize(fitw(w), fith(h), bg);
  zorder.push_back(i);
  settle();
  return handle(i);
}

bool wm_valid(int32_t hwnd) { return win(hwnd) != nullptr; }

void wm_large(int32_t hwnd, int w, int h) {
  if (Win* p = win(hwnd)) {
    p->bigw = std::clamp(w, 0, WM_MAXSIDE);
    p->bigh = std::clamp(h, 0, WM_MAXSIDE);
  }
}

void wm_destroy(int32_t hwnd) {
  const int i = place(hwnd);
  if (!i) return;
  // Children first.
  for (int c = 1; c < static_cast<int>(wins.size()); c++)
    if (wins[static_cast<size_t>(c)].live && place(wins[static_cast<size_t>(c)].parent) == i)
      wm_destroy(handle(c));
  if (!place(hwnd)) return;  // the window procedure may have destroyed it already
  wndproc(hwnd, WM_DESTROY, 0, 0);
  Win* w = win(hwnd);
  if (!w) return;
  w->live = false;
  w->surf = Surface{};
  std::erase(zorder, i);
  validwin(hwnd);
  if (capture == hwnd) capture = 0;
  if (focus == hwnd) focus = 0;
}

void wm_show(int32_t hwnd, bool on) {
  if (Win* w = win(hwnd)) w->visible = on;
}

bool wm_visible(int32_t hwnd) {
  const Win* w = win(hwnd);
  return w && w->visible;
}

void wm_setpos(int32_t hwnd, int x, int y, int w, int h) {
  Win* p = win(hwnd);
  if (!p) return;
  p->x = x;
  p->y = y;
  w = std::max(fitw(w), std::min(w, p->bigw));
  h = std::max(fith(h), std::min(h, p->bigh));
  if (w != p->surf.w || h != p->surf.h) {
    Surface n;
    n.resize(w, h, p->surf.w > 0 && p->surf.h > 0 ? p->surf.pixel(0, 0) : 0xFFFFFF);
    n.keep(p->surf);  // rows never drawn take no memory in the new size either
    p->surf = std::move(n);
  }
}

bool wm_getpos(int32_t hwnd, int* x, int* y, int* w, int* h) {
  const Win* p = win(hwnd);
  if (!p) return false;
  if (x) *x = p->x;
  if (y) *y = p->y;
  if (w) *w = p->surf.w;
  if (h) *h = p->surf.h;
  return true;
}

bool wm_origin(int32_t hwnd, int* x, int* y) {
  const int i = place(hwnd);
  if (!i) return false;
  origin(i, x, y);
  return true;
}

bool wm_onscreen(int32_t hwnd, int box[4]) {
  const int i = place(hwnd);
  if (!i) return false;
  const Win& w = wins[static_cast<size_t>(i)];
  int ox = 0, oy = 0;
  origin(i, &ox, &oy);
  const int sw = scrw > 0 ? scrw : 1024, sh = scrh > 0 ? scrh : 768;
  box[0] = std::clamp(-ox, 0, w.surf.w);
  box[1] = std::clamp(-oy, 0, w.surf.h);
  box[2] = std::clamp(sw - ox, box[0], w.surf.w);
  box[3] = std::clamp(sh - oy, box[1], w.surf.h);
  return true;
}

void wm_top(int32_t hwnd) {
  const int i = place(hwnd);
  if (!i) return;
  // The window and its descendants move to the top, keeping their order.
  std::vector<int> keep, up;
  for (int z : zorder) (z == i || isdesc(z, i) ? up : keep).push_back(z);
  keep.insert(keep.end(), up.begin(), up.end());
  zorder = std::move(keep);
  settle();
}

void wm_settitle(int32_t hwnd, const char* title) {
  if (Win* w = win(hwnd)) w->title = title ? title : "";
}

void wm_enable(int32_t hwnd, bool on) {
  if (Win* w = win(hwnd)) w->enabled = on;
}

Surface* wm_surface(int32_t hwnd) {
  Win* w = win(hwnd);
  return w ? &w->surf : nullptr;
}

int32_t wm_hit(int x, int y, int* cx, int* cy, int* part) {
  for (auto it = zorder.rbegin(); it != zorder.rend(); ++it) {
    const int i = *it;
    if (!shown(i)) continue;
    const Win& w = wins[static_cast<size_t>(i)];
    int ox, oy, f[4];
    origin(i, &ox, &oy);
    frame(w, f);
    if (x < ox - f[0] || y < oy - f[1] || x >= ox + w.surf.w + f[2] || y >= oy + w.surf.h + f[3])
      continue;
    int pt = HT_FRAME;
    if (x >= ox && y >= oy && x < ox + w.surf.w && y < oy + w.surf.h)
      pt = HT_CLIENT;
    else if ((w.style & WMS_CAPTION) && y < oy && y >= oy - f[1] + WM_BORDER)
      pt = x >= ox + w.surf.w - 15 && x < ox + w.surf.w - 2 ? HT_CLOSE : HT_CAPTION;
    if (cx) *cx = x - ox;
    if (cy) *cy = y - oy;
    if (part) *part = pt;
    return handle(i);
  }
  return 0;
}

void wm_capture(int32_t hwnd) { capture = win(hwnd) ? hwnd : 0; }
int32_t wm_captured() { return win(capture) ? capture : 0; }
void wm_focus(int32_t hwnd) { focus = win(hwnd) ? hwnd : 0; }
int32_t wm_focused() { return win(focus) ? focus : 0; }

// The screen's pixels are made when it is first composed: a run that never
// shows or saves the screen does not pay for them.

void wm_screensize(int w, int h) {
  scrw = std::max(1, w);
  scrh = std::max(1, h);
}

const Surface& wm_compose() {
  if (scrw <= 0) wm_screensize(1024, 768);
  if (scrw != screen.w || scrh != screen.h) screen.resize(scrw, scrh, 0x303030);
  sfill(screen, 0, 0, screen.w, screen.h, 0x303030);  // the desktop
  int top = 0;  // the topmost shown top-level window or child is drawn active
  for (int z : zorder)
    if (shown(z)) top = z;
  for (int z : zorder) {
    if (!shown(z)) continue;
    const Win& w = wins[static_cast<size_t>(z)];
    int ox, oy;
    origin(z, &ox, &oy);
    drawframe(screen, w, ox, oy, z == top || handle(z) == focus);
    sblit(screen, ox, oy, w.surf, 0, 0, w.surf.w, w.surf.h);
  }
  return screen;
}

void wm_reset() {
  wins.assign(1, Win{});
  zorder.clear();
  capture = focus = 0;
}
