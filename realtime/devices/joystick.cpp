// Joysticks through SDL2, loaded at run time.
#include "realtime/devices/joystick.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/output.h"
#include "core/state.h"
#include "realtime/devices/devsetup.h"
#include "ui/platform/sighold.h"
#include "ui/clocks.h"

#ifndef PELIX_HAVE_SDL2
int Init_gameport(BoardRec* b, int open) {
  if (!open) return b ? b->inunit : -1;
  if (b && b->inunit < 0) jprintf(lstlun, "Gameport initialization %s: %d (%d buttons)\n", "failed", -1, 0);
  return -1;
}
int getjoy(BoardRec*, int* x, int* y, int* z, int, int* status) {
  *x = *y = *z = 0;
  if (status) *status = -1;
  return 0;
}
void joyend() {}
#else
#include <SDL.h>

#include "ui/platform/sdl.h"

#define JOYFNS(X)                                                                            \
  X(SDL_SetHint) X(SDL_InitSubSystem) X(SDL_GetError) X(SDL_NumJoysticks) X(SDL_JoystickOpen) \
  X(SDL_JoystickClose) X(SDL_JoystickNumAxes) X(SDL_JoystickNumButtons) X(SDL_JoystickGetAxis) \
  X(SDL_JoystickGetButton) X(SDL_JoystickUpdate) X(SDL_JoystickGetAttached)                   \
  X(SDL_JoystickAttachVirtual) X(SDL_JoystickSetVirtualAxis) X(SDL_JoystickSetVirtualButton)

namespace {

struct JoyApi {
#define JOYFN(f) decltype(&::f) f = nullptr;
  JOYFNS(JOYFN)
#undef JOYFN
};
JoyApi sdl;

constexpr int NJOY = 16;
int sdlstate;                 // 0 not tried, 1 ready, -1 none
int virtidx = -1;             // SDL device index of the virtual joystick
SDL_Joystick* virtjoy;        // kept open: it holds the virtual positions
SDL_Joystick* open_[NJOY];    // joysticks opened by id
JoyHold holds[NJOY];

bool sdlload() {
  if (sdlstate) return sdlstate > 0;
  sdlstate = -1;
  if (!sdllib()) return false;
  JoyApi a;
  bool all = true;
#define JOYFN(f) all = all && (a.f = reinterpret_cast<decltype(&::f)>(sdlsym(#f))) != nullptr;
  JOYFNS(JOYFN)
#undef JOYFN
  if (!all) return false;
  sdl = a;
  // SIGINT stays the program's own Ctrl-C.
  sdl.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  sdl.SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  int up;
  {
    SigHold hold;  // threads SDL starts for joysticks take no signals
    up = sdl.SDL_InitSubSystem(SDL_INIT_JOYSTICK);
  }
  if (up != 0) {
    logprintf("joystick: %s\n", sdl.SDL_GetError());
    return false;
  }
  sdlstate = 1;
  // The virtual joystick of PELIX_JOYSTICK=x,y,z,nbuttons,pressed.
  const char* v = std::getenv("PELIX_JOYSTICK");
  long f[5] = {32768, 32768, 32768, 0, 0};
  int n = 0;
  for (const char* p = v; p && *p && n < 5;) {
    char* end = nullptr;
    f[n++] = std::strtol(p, &end, 0);
    if (end == p) break;
    p = *end == ',' ? end + 1 : end;
  }
  if (n > 0) {
    const int nb = static_cast<int>(f[3] < 0 ? 0 : f[3] > 32 ? 32 : f[3]);
    const int idx = sdl.SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 3, nb, 0);
    if (idx >= 0 && (virtjoy = sdl.SDL_JoystickOpen(idx)) != nullptr) {
      virtidx = idx;
      for (int k = 0; k < 3; k++) {
        const long p = f[k] < 0 ? 0 : f[k] > 65535 ? 65535 : f[k];
        sdl.SDL_JoystickSetVirtualAxis(virtjoy, k, static_cast<Sint16>(p - 32768));
      }
      for (int b = 0; b < nb; b++)
        sdl.SDL_JoystickSetVirtualButton(virtjoy, b, static_cast<Uint8>((f[4] >> b) & 1));
    } else {
      logprintf("joystick: no virtual joystick: %s\n", sdl.SDL_GetError());
    }
  }
  return true;
}

// The SDL device index of joystick id: the virtual joystick is id 0.
int devindex(int id) {
  const int n = sdl.SDL_NumJoysticks();
  if (virtidx < 0) return id < n ? id : -1;
  if (id == 0) return virtidx;
  int k = 0;
  for (int i = 0; i < n; i++) {
    if (i == virtidx) continue;
    if (++k == id) return i;
  }
  return -1;
}

int halve(Sint16 v) { return (static_cast<int>(v) + 32768) / 2; }

}  // namespace

int Init_gameport(BoardRec* b, int open) {
  if (!b) return -1;
  const int given = b->inunit;
  if (!open) {
    // The joystick is closed when no other board reads it.
    bool shared = false;
    for (const auto& o : boards)
      if (&o != b && o.inkind == DK_GAMEPORT && o.inunit == given) shared = true;
    if (given >= 0 && given < NJOY && open_[given] && !shared) {
      sdl.SDL_JoystickClose(open_[given]);
      open_[given] = nullptr;
    }
    return given;
  }
  const bool have = sdlload();
  const int ndev = have ? sdl.SDL_NumJoysticks() : 0;
  if (trcmsk) jprintf(dbglun, "Init_gameport: initJoyDev %d of %d JoyDevs\n", given, ndev);
  int id = -1, buttons = 0;
  for (int k = given >= 0 ? given : 0; have && k < NJOY && k < ndev; k++) {
    const int idx = devindex(k);
    SDL_Joystick* j = open_[k] ? open_[k] : idx >= 0 ? sdl.SDL_JoystickOpen(idx) : nullptr;
    const int axes = j ? sdl.SDL_JoystickNumAxes(j) : 0;
    const int nb = j ? sdl.SDL_JoystickNumButtons(j) : 0;
    if (trcmsk)
      jprintf(dbglun, "joyCaps: %d %d/%d [%d] (err= %d <%d>) axes= %d  buttons= %d  Caps= %oo  Freq: %d-%d\n", k,
              idx, ndev, NJOY, j ? 0 : 1, 0, axes, nb, 0, 0, 0);
    if (j && (axes > 0 || nb > 0)) {
      id = k;
      buttons = nb;
      if (!open_[k]) holds[k] = JoyHold{};
      open_[k] = j;
      break;
    }
    if (j && !open_[k]) sdl.SDL_JoystickClose(j);
    if (given >= 0) break;  // only the id asked for
  }
  if (given < 0)
    jprintf(lstlun, "Gameport initialization %s: %d (%d buttons)\n", id >= 0 ? "okay as device" : "failed", id,
            buttons);
  if (id < 0) return -1;
  b->inunit = static_cast<int16_t>(id);
  b->portbits = static_cast<int16_t>(buttons);
  b->ndigin = static_cast<int16_t>(buttons);
  b->digmask = static_cast<int16_t>(buttons >= 16 ? 0xFFFF : (1 << buttons) - 1);
  return 1;
}

int getjoy(BoardRec* b, int* x, int* y, int* z, int, int* status) {
  int st = -1, bits = 0;
  const int id = b ? b->inunit : -1;
  SDL_Joystick* j = id >= 0 && id < NJOY ? open_[id] : nullptr;
  *x = *y = *z = 0;
  if (j) {
    JoyHold& h = holds[id];
    sdl.SDL_JoystickUpdate();
    int err = sdl.SDL_JoystickGetAttached(j) ? 0 : 1;
    int xx = h.px, yy = h.py;
    if (!err) {
      xx = halve(sdl.SDL_JoystickGetAxis(j, 0));
      yy = sdl.SDL_JoystickNumAxes(j) > 1 ? halve(sdl.SDL_JoystickGetAxis(j, 1)) : 0;
      *z = sdl.SDL_JoystickNumAxes(j) > 2 ? halve(sdl.SDL_JoystickGetAxis(j, 2)) : 0;
      const int nb = sdl.SDL_JoystickNumButtons(j);
      for (int k = 0; k < nb && k < 32; k++)
        if (sdl.SDL_JoystickGetButton(j, k)) bits |= 1 << k;
      st = 0;
    }
    joyhold(&h, err, &xx, &yy, tickms(1));
    *x = xx;
    *y = yy;
  }
  if (status) *status = st;
  return bits;
}

void joyend() {
  if (sdlstate <= 0) return;
  for (auto& j : open_) {
    if (j) sdl.SDL_JoystickClose(j);
    j = nullptr;
  }
}
#endif

int joyaxis(BoardRec* b, int axis, int* status) {
  int x = 0, y = 0, z = 0;
  getjoy(b, &x, &y, &z, 255, status);
  return axis == 1 ? y : x;
}

void joyhold(JoyHold* h, int err, int* x, int* y, uint32_t now) {
  if (err == 1) {
    h->since = now ? now : 1;
    *x = h->px;
    *y = h->py;
    return;
  }
  if (h->since) {
    if (*x >= 32767 || *y >= 32767) {
      *x = h->px;
      *y = h->py;
      return;
    }
    h->since = 0;
  }
  h->px = *x;
  h->py = *y;
}
