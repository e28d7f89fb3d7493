// Screen description cells. Until the platform layer switches real display
// modes, pcview takes the requested setting into the description, so that
// reading the variable back gives what was set; senseless sizes are refused.
#include "ui/screen.h"

int16_t vmode, scrwid, scrhgt, scrbits;
float scrfreq;
int16_t scrflags, mnubar, displaywid, displayhgt, scr2wid, scr2hgt, mainscreen, nscreens;
int32_t dvrect[NDVRECT][4];
uint16_t curflg;
int16_t curx, cury, musx, musy, tablet;
int16_t wflags;
uint8_t curmnu, mnuflg;
int16_t menuid;
int16_t fntwrd[2];

// Rectangles that follow the screen size: displaydims, scr1rect, the windows.
static void setrects() {
  for (int i = 0; i < NDVRECT; i++) {
    if (i == 0 || i == 1 || i >= 10) {
      dvrect[i][0] = 0;
      dvrect[i][1] = 0;
      dvrect[i][2] = scrhgt - 1;
      dvrect[i][3] = scrwid - 1;
    }
  }
}

void scrini() {
  vmode = -1;
  scrwid = 1024;
  scrhgt = 768;
  scrbits = 32;
  scrfreq = 60.0f;
  scrflags = 0;
  mnubar = 38;
  displaywid = scrwid - 1;
  displayhgt = scrhgt - 1;
  scr2wid = scr2hgt = 0;
  mainscreen = nscreens = 1;
  for (auto& r : dvrect) r[0] = r[1] = r[2] = r[3] = 0;
  setrects();
  curflg = 0;
  curx = cury = musx = musy = 0;
  tablet = 0;
  wflags = 0;
  curmnu = mnuflg = 0;
  menuid = 0;
  fntwrd[0] = 1;
  fntwrd[1] = 12;
}

namespace {
struct ScrInit {
  ScrInit() { scrini(); }
} scrinit;
}  // namespace

int pcview(int what, double value) {
  if (!(value == value)) return -1;  // NaN
  if (value < -32767.0 || value > 32767.0) return -1;
  auto v = static_cast<int16_t>(value);
  switch (what) {
    case 1:
      if (v < 0) return -1;
      vmode = v;
      break;
    case 2:
      if (v != 8 && v != 16 && v != 24 && v != 32) return -1;
      scrbits = v;
      break;
    case 3:
      if (v < 1) return -1;
      scrwid = v;
      if (nscreens < 2) displaywid = static_cast<int16_t>(v - 1);
      break;
    case 4:
      if (v < 1) return -1;
      scrhgt = v;
      if (nscreens < 2) displayhgt = static_cast<int16_t>(v - 1);
      break;
    case 5:
      if (value <= 0.0) return -1;
      scrfreq = static_cast<float>(value);
      break;
    default:
      return -1;
  }
  setrects();
  return 0;
}
