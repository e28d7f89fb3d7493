// The sdl backend: one native window shows the program's screen, scaled to
// fit; keyboard and mouse become the program's messages. Finished rows of
// the command and text windows still go to standard output.
#pragma once
#include "ui/platform/backend.h"

// Makes the sdl backend, or null when the build has no SDL2 or no display
// could be opened (the reason on standard error unless quiet).
Backend* mksdl(bool quiet);
// True when the build has the sdl backend.
bool havesdl();
// The SDL2 library, opened once for all its users (the window, sound, the
// joystick): null when it is not there. sdlsym gives one of its entry
// points (null when missing).
void* sdllib();
void* sdlsym(const char* name);
