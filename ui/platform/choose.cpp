// The choice of backend for a run.
#include "ui/platform/backend.h"

#include "ui/platform/script.h"
#include "ui/platform/sdl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

Backend* choosebackend() {
  const char* want = std::getenv("PELIX_BACKEND");
  Backend* b = nullptr;
  if (want && std::strcmp(want, "sdl") == 0) {
    // The window is insisted on: without a display the run ends (mksdl
    // has said why).
    b = mksdl(false);
    if (!b) std::exit(1);
  } else if (!want || !*want) {
    const char* x = std::getenv("DISPLAY");
    const char* wl = std::getenv("WAYLAND_DISPLAY");
    if ((x && *x) || (wl && *wl)) b = mksdl(true);
  } else if (std::strcmp(want, "headless") != 0) {
    std::fprintf(stderr, "pelix: unknown PELIX_BACKEND %s; running headless\n", want);
  }
  if (!b) b = conbackend();
  if (const char* in = std::getenv("PELIX_INPUT"); in && *in) {
    auto* s = new ScriptInput(in, b);
    if (s->loaded()) return s;
    delete s;
  }
  return b;
}
