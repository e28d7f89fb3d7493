// The sdl backend.
#include "ui/platform/sdl.h"

#ifndef PELIX_HAVE_SDL2
#include <cstdio>

Backend* mksdl(bool quiet) {
  if (!quiet) std::fprintf(stderr, "pelix: no display can be opened (built without SDL2)\n");
  return nullptr;
}
bool havesdl() { return false; }
void* sdllib() { return nullptr; }
void* sdlsym(const char*) { return nullptr; }
#else
#include "ui/events.h"
#include "ui/platform/clock.h"
#include "ui/platform/console.h"
#include "ui/platform/entry.h"
#include "ui/platform/sighold.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/window.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define SDLFNS(X) X(SDL_CreateRenderer) X(SDL_CreateTexture) X(SDL_CreateWindow) \
  X(SDL_DestroyTexture) X(SDL_DestroyWindow) X(SDL_GetDesktopDisplayMode) X(SDL_GetError) \
  X(SDL_FilterEvents) X(SDL_GetCurrentVideoDriver) X(SDL_GetModState) X(SDL_InitSubSystem) X(SDL_PollEvent) X(SDL_QuitSubSystem) \
  X(SDL_RenderClear) X(SDL_RenderCopy) X(SDL_RenderPresent) X(SDL_RenderSetLogicalSize) \
  X(SDL_SetHint) X(SDL_StartTextInput) X(SDL_UpdateTexture) X(SDL_WaitEventTimeout)

void* sdllib() {
  static void* h = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  return h;
}

void* sdlsym(const char* name) {
  void* h = sdllib();
  return h ? dlsym(h, name) : nullptr;
}

// The SDL library is loaded when the window backend is first asked for:
// a run without a display neither loads it nor the libraries it pulls in.
namespace {
struct SdlApi {
#define SDLFN(f) decltype(&::f) f = nullptr;
  SDLFNS(SDLFN)
#undef SDLFN
};
SdlApi sdl;

// Loads the library and its entry points once; false when it is not there.
bool sdlload() {
  static int state = 0;  // 0 not tried, 1 loaded, -1 missing
  if (state) return state > 0;
  state = -1;
  if (!sdllib()) return false;
  SdlApi a;
  bool all = true;
#define SDLFN(f) all = all && (a.f = reinterpret_cast<decltype(&::f)>(sdlsym(#f))) != nullptr;
  SDLFNS(SDLFN)
#undef SDLFN
  if (!all) return false;
  sdl = a;
  state = 1;
  return true;
}
}  // namespace

bool havesdl() { return true; }

namespace {
int32_t focushwnd() { return winhwnd(curwin); }

uint16_t keymods(uint16_t m) {
  return static_cast<uint16_t>(((m & KMOD_SHIFT) ? MK_SHIFT : 0) | ((m & KMOD_CTRL) ? MK_CTRL : 0) |
                               ((m & KMOD_ALT) ? MK_ALT : 0));
}

// The virtual key of an SDL key that WM_KEYDOWN reports, 0 for others.
uint32_t vkey(SDL_Keycode k) {
  switch (k) {
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_PRINTSCREEN: return VK_SNAPSHOT;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_PAUSE: return 0x13;
    case SDLK_CAPSLOCK: return 0x14;
    default: break;
  }
  if (k >= SDLK_F1 && k <= SDLK_F12) return VK_F1 + static_cast<uint32_t>(k - SDLK_F1);
  return 0;
}

class Sdl : public Backend {
 public:
  bool open(bool quiet);
  int pump(int how) override;
  void rowout(int, const char* text, int n) override {
    if (n > 0) std::fwrite(text, 1, static_cast<size_t>(n), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  void beep() override {}
  bool paging() override { return false; }
  bool pointer() override { return true; }
  void show() override { present(); }

 private:
  int event(const SDL_Event& e);
  int mouse(int x, int y, uint32_t message, uint32_t buttons, uint16_t keys);
  void present();
  SDL_Window* win_ = nullptr;
  SDL_Renderer* ren_ = nullptr;
  SDL_Texture* tex_ = nullptr;
  int tw_ = 0, th_ = 0;
  uint32_t buttons_ = 0;     // buttons held (1 left, 2 right, 16 middle)
  int32_t drag_ = 0;         // window moved by its caption
  int dragx_ = 0, dragy_ = 0;
  uint64_t shown_ = 0;       // clock_ns of the last present
};

bool Sdl::open(bool quiet) {
  if (!sdlload()) {
    if (!quiet) std::fprintf(stderr, "pelix: no display can be opened (the SDL2 library is not there)\n");
    return false;
  }
  // SIGINT stays the program's own Ctrl-C (not a quit event).
  sdl.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  coninit();
  int up;
  {
    SigHold hold;  // threads SDL starts for the display take no signals
    up = sdl.SDL_InitSubSystem(SDL_INIT_VIDEO);
  }
  if (up != 0) {
    if (!quiet) std::fprintf(stderr, "pelix: no display can be opened (%s)\n", sdl.SDL_GetError());
    return false;
  }
  // Without a display SDL falls back to a driver that shows nothing; one
  // that SDL_VIDEODRIVER names is taken as asked (the tests' dummy driver).
  const char* drv = sdl.SDL_GetCurrentVideoDriver();
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  if (drv && (std::strcmp(drv, "offscreen") == 0 || std::strcmp(drv, "dummy") == 0) && !(asked && *asked)) {
    if (!quiet) std::fprintf(stderr, "pelix: no display can be opened (no display server; SDL offers only its %s driver)\n", drv);
    sdl.SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  int w = scrwid, h = scrhgt;
  SDL_DisplayMode dm;
  if (sdl.SDL_GetDesktopDisplayMode(0, &dm) == 0 && dm.w > 0 && dm.h > 0 && (dm.w < w || dm.h < h)) {
    // Scaled down to fit the display, keeping the proportions.
    const double f = std::min(dm.w / static_cast<double>(w), dm.h / static_cast<double>(h)) * 0.95;
    if (f > 0.1) w = static_cast<int>(w * f), h = static_cast<int>(h * f);
  }
  win_ = sdl.SDL_CreateWindow("PELIX", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, SDL_WINDOW_RESIZABLE);
  if (win_) ren_ = sdl.SDL_CreateRenderer(win_, -1, SDL_RENDERER_SOFTWARE);
  if (!win_ || !ren_) {
    if (!quiet) std::fprintf(stderr, "pelix: no display can be opened (%s)\n", sdl.SDL_GetError());
    if (win_) sdl.SDL_DestroyWindow(win_);
    win_ = nullptr;
    sdl.SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  sdl.SDL_RenderSetLogicalSize(ren_, scrwid, scrhgt);
  sdl.SDL_StartTextInput();
  return true;
}

void Sdl::present() {
  updall();
  const Surface& s = wm_compose();
  if (!tex_ || tw_ != s.w || th_ != s.h) {
    if (tex_) sdl.SDL_DestroyTexture(tex_);
    tex_ = sdl.SDL_CreateTexture(ren_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, s.w, s.h);
    tw_ = s.w;
    th_ = s.h;
    sdl.SDL_RenderSetLogicalSize(ren_, s.w, s.h);
  }
  if (tex_) {
    sdl.SDL_UpdateTexture(tex_, nullptr, s.data(), s.stride * 4);
    sdl.SDL_RenderClear(ren_);
    sdl.SDL_RenderCopy(ren_, tex_, nullptr, nullptr);
    sdl.SDL_RenderPresent(ren_);
  }
  shown_ = clock_ns();
}

// A pointer message at a screen point: to the window that captured the
// pointer, else the one under it; presses on a frame act on the frame.
int Sdl::mouse(int x, int y, uint32_t message, uint32_t buttons, uint16_t keys) {
  if (drag_) {
    int ox = 0, oy = 0, px = 0, py = 0, w = 0, h = 0;
    wm_getpos(drag_, &px, &py, &w, &h);
    wm_origin(drag_, &ox, &oy);
    const int nx = px + x - dragx_, ny = py + y - dragy_;
    dragx_ = x;
    dragy_ = y;
    if (message == WM_MOUSEMOVE) {
      wm_setpos(drag_, nx, ny, w, h);
      postmsg(drag_, WM_MOVE, 0, (static_cast<uint32_t>(ny & 0xFFFF) << 16) | static_cast<uint32_t>(nx & 0xFFFF));
      return 1;
    }
    if (!buttons) {
      postmsg(drag_, WM_EXITSIZEMOVE, 0, 0);
      drag_ = 0;
      return 1;
    }
    return 0;
  }
  int cx = 0, cy = 0, part = HT_NOWHERE;
  int32_t h = wm_captured();
  if (h) {
    int ox = 0, oy = 0;
    wm_origin(h, &ox, &oy);
    cx = x - ox;
    cy = y - oy;
    part = HT_CLIENT;
  } else {
    h = wm_hit(x, y, &cx, &cy, &part);
  }
  if (!h) return 0;
  const bool press = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
  if (part != HT_CLIENT) {
    if (press && part == HT_CLOSE) return postmsg(h, WM_CLOSE, 0, 0), 1;
    if (press && part == HT_CAPTION && message == WM_LBUTTONDOWN) {
      drag_ = h;
      dragx_ = x;
      dragy_ = y;
      postmsg(h, WM_ENTERSIZEMOVE, 0, 0);
      return 1;
    }
    return 0;
  }
  if (press) wm_capture(h);
  if (!buttons) wm_capture(0);
  const uint32_t lp = (static_cast<uint32_t>(cy & 0xFFFF) << 16) | static_cast<uint32_t>(cx & 0xFFFF);
  postmsg(h, message, buttons | (keys & (MK_SHIFT | MK_CTRL)), lp, keys);
  return 1;
}

int Sdl::event(const SDL_Event& e) {
  const int32_t h = focushwnd();
  switch (e.type) {
    case SDL_QUIT:
      postmsg(winhwnd(2), WM_CLOSE, 0, 0);
      return 1;
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
        postmsg(winhwnd(2), WM_CLOSE, 0, 0);
        return 1;
      }
      if (e.window.event == SDL_WINDOWEVENT_EXPOSED) shown_ = 0;
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED || e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
        postmsg(winhwnd(2), WM_ACTIVATEAPP, e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED, 0);
        return 0;  // no input for a waiting loop
      }
      return 0;
    case SDL_KEYDOWN: {
      const SDL_Keycode k = e.key.keysym.sym;
      const uint16_t keys = keymods(e.key.keysym.mod);
      if (const uint32_t vk = vkey(k)) {
        const bool sys = (keys & MK_ALT) || k == SDLK_F10;
        postmsg(h, sys ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, 1, keys);
        return 1;
      }
      switch (k) {
        case SDLK_RETURN:
        case SDLK_KP_ENTER: postmsg(h, WM_CHAR, 13, 1, keys); return 1;
        case SDLK_BACKSPACE: postmsg(h, WM_CHAR, 8, 1, keys); return 1;
        case SDLK_TAB: postmsg(h, WM_CHAR, 9, 1, keys); return 1;
        case SDLK_ESCAPE:
          // Esc comes as a key and as a character, as the keyboard sends it.
          postmsg(h, WM_KEYDOWN, VK_ESCAPE, 1, keys);
          postmsg(h, WM_CHAR, 27, 1, keys);
          return 2;
        default: break;
      }
      if (k >= 32 && k < 127 && (keys & (MK_CTRL | MK_ALT))) {
        // Control and Alt combinations make no text input of their own.
        if (keys & MK_ALT) {
          postmsg(h, WM_SYSCHAR, static_cast<uint32_t>(k), 1, keys);
        } else if (k >= 'a' && k <= 'z') {
          postmsg(h, WM_CHAR, static_cast<uint32_t>(k - 'a' + 1), 1, keys);
        } else {
          postmsg(h, WM_CHAR, static_cast<uint32_t>(k), 1, keys);
        }
        return 1;
      }
      return 0;
    }
    case SDL_TEXTINPUT: {
      const uint16_t keys = keymods(static_cast<uint16_t>(sdl.SDL_GetModState()));
      if (keys & (MK_CTRL | MK_ALT)) return 0;  // made by the key down already
      int n = 0;
      for (const char* p = e.text.text; *p; p++) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 32 && c < 127) postmsg(h, WM_CHAR, c, 1, keys & MK_SHIFT), n++;
        if (c >= 128) postmsg(h, WM_CHAR, c, 1, MK_TYPED), n++;  // UTF-8 text
      }
      return n;
    }
    case SDL_MOUSEMOTION: {
      uint32_t b = 0;
      if (e.motion.state & SDL_BUTTON_LMASK) b |= 1;
      if (e.motion.state & SDL_BUTTON_RMASK) b |= 2;
      if (e.motion.state & SDL_BUTTON_MMASK) b |= 16;
      return mouse(e.motion.x, e.motion.y, WM_MOUSEMOVE, b, keymods(static_cast<uint16_t>(sdl.SDL_GetModState())));
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      const bool down = e.type == SDL_MOUSEBUTTONDOWN;
      uint32_t bit = 1, msg = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
      if (e.button.button == SDL_BUTTON_RIGHT) bit = 2, msg = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
      if (e.button.button == SDL_BUTTON_MIDDLE) bit = 16, msg = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
      buttons_ = down ? (buttons_ | bit) : (buttons_ & ~bit);
      return mouse(e.button.x, e.button.y, msg, buttons_, keymods(static_cast<uint16_t>(sdl.SDL_GetModState())));
    }
    default:
      return 0;
  }
}

// An event filter that takes Ctrl-C key presses out of SDL's queue and
// posts them; every other event stays.
int SDLCALL ctrlc(void* posted, SDL_Event* e) {
  if (e->type != SDL_KEYDOWN || e->key.keysym.sym != SDLK_c || !(e->key.keysym.mod & KMOD_CTRL) ||
      (e->key.keysym.mod & KMOD_ALT))
    return 1;
  postmsg(focushwnd(), WM_CHAR, 3, 1, MK_CTRL);
  ++*static_cast<int*>(posted);
  return 0;
}

int Sdl::pump(int how) {
  // The screen follows the program: at each wait, and now and then while
  // it polls.
  if (how == KEY_WAIT || clock_ns() - shown_ > 50000000ull) present();
  int posted = 0;
  if (contake()) {
    // Ctrl-C in the terminal that started the program.
    postmsg(focushwnd(), WM_CHAR, 3, 1, MK_CTRL);
    posted++;
  }
  // Events wait in SDL's queue while ours has no room for what one may
  // post (a text event is up to 32 characters): nothing typed is lost. A
  // Ctrl-C among them is taken all the same.
  SDL_Event e;
  while (msgroom() >= MSGRESERVE && sdl.SDL_PollEvent(&e)) posted += event(e);
  if (msgroom() < MSGRESERVE) {
    sdl.SDL_FilterEvents(ctrlc, &posted);
    return posted;
  }
  if (posted || how != KEY_WAIT) return posted;
  for (;;) {
    if (sdl.SDL_WaitEventTimeout(&e, 100)) {
      posted += event(e);
      while (msgroom() >= MSGRESERVE && sdl.SDL_PollEvent(&e)) posted += event(e);
      if (posted) return posted;
    }
    if (contake()) {
      postmsg(focushwnd(), WM_CHAR, 3, 1, MK_CTRL);
      return 1;
    }
    if (tmodue()) return 0;  // the caller ends the program
    present();
  }
}
}  // namespace

Backend* mksdl(bool quiet) {
  auto* b = new Sdl;
  if (!b->open(quiet)) {
    delete b;
    return nullptr;
  }
  return b;
}
#endif
