// Screen description cells, the display modes and pcview.
#include "ui/screen.h"

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "ui/platform/wm.h"

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

namespace {
int16_t startmode = -1;  // the mode at start, for pcview (0, ...)
int16_t wantw, wanth;    // wanted width, height and frequency
float wantf;
int wantmask;            // 1 width, 2 height, 4 frequency
}  // namespace

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
  curflg = 0x8023;  // cursor on, the system pointer, double-click test, no clamp
  curx = cury = musx = musy = 0;
  tablet = 0;
  wflags = 0;
  curmnu = mnuflg = 0;
  menuid = 0;
  wantmask = 0;
  fntwrd[0] = 1;
  fntwrd[1] = 12;
}

namespace {
struct ScrInit {
  ScrInit() { scrini(); }
} scrinit;
}  // namespace

// ---- Display modes --------------------------------------------------------
//
// The program's screen is a software surface (ui/platform/wm.h), so every
// mode of this table can be switched to: the screen takes its size and
// depth, and the sdl backend scales the screen to its window.

namespace {
struct Mode {
  int16_t bits, wid, hgt, freq;
};
constexpr int16_t sizes[5][2] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 1024}, {1600, 1200}};
constexpr int16_t depths[4] = {8, 16, 24, 32};
constexpr int NMODES = 20;

Mode mode(int n) {
  return Mode{depths[n / 5], sizes[n % 5][0], sizes[n % 5][1], 60};
}


void listmodes() {
  jprintf(lstlun, "VMODE nBits Width Height Freq   Flags  Name\n");
  for (int i = 0; i < NMODES; i++) {
    const Mode m = mode(i);
    jprintf(lstlun, " %3d: %5ld %5ld %5ld %5ld %7loo %s\n", i, static_cast<long>(m.bits),
            static_cast<long>(m.wid), static_cast<long>(m.hgt), static_cast<long>(m.freq), 0L,
            "PELIX screen");
  }
}

int switchto(int n) {
  if (n < 0 || n >= NMODES) return -1;
  if (jdebug) logprintf("pcview  %d\n", n);
  const Mode m = mode(n);
  scrbits = m.bits;
  scrwid = m.wid;
  scrhgt = m.hgt;
  scrfreq = m.freq;
  initscreen(1);
  wantmask = 0;
  return n;
}
}  // namespace

int initscreen(int how) {
  if (how) {
    nscreens = 1;
    displaywid = static_cast<int16_t>(scrwid - 1);
    displayhgt = static_cast<int16_t>(scrhgt - 1);
    if (logfp)
      logprintf("initScreen(%d) metrics: nscr=%d scr=%dx%d dpy=%dx%d vscr=%dx%d wmin=%dx%d\n", how,
                nscreens, scrwid, scrhgt, displaywid + 1, displayhgt + 1, scrwid, scrhgt, 0, 0);
  }
  if (how < 0) return 0;
  if (mainscreen < 1 || mainscreen > nscreens) mainscreen = 1;
  setrects();
  wm_screensize(scrwid, scrhgt);
  vmode = -1;
  for (int i = 0; i < NMODES; i++) {
    const Mode m = mode(i);
    if (m.bits == scrbits && m.wid == scrwid && m.hgt == scrhgt) {
      vmode = static_cast<int16_t>(i);
      scrfreq = m.freq;
      break;
    }
  }
  if (startmode < 0) startmode = vmode;
  if (logfp) logprintf("madeScreen: vmode=%d\n", vmode);
  return vmode;
}

int findScreen(int n) {
  (void)n;
  return nscreens < 2 ? nscreens : 1;  // one screen on this platform
}

int pcview(int what, double value) {
  int r = 0;
  const bool bad = !(value == value) || value < -32767.0 || value > 32767.0;
  const int v = bad ? -1 : static_cast<int>(value);
  switch (what) {
    case -1:
      listmodes();
      r = -1;
      break;
    case 0:
      switchto(startmode);  // back to the mode at start
      break;
    case 1:
      r = bad ? -1 : switchto(v);
      break;
    case 2: {
      if (v < 1) {
        listmodes();
        r = -1;
        break;
      }
      const int w = (wantmask & 1) ? wantw : scrwid, h = (wantmask & 2) ? wanth : scrhgt;
      r = -1;
      for (int i = 0; i < NMODES; i++) {
        const Mode m = mode(i);
        if (m.bits == v && m.wid == w && m.hgt == h && (!(wantmask & 4) || m.freq == wantf)) {
          r = i;
          break;
        }
      }
      if (jdebug) logprintf("pcview(%d,%d) (%d %d %d %d) -> %d,%d\n", what, v, w, h, static_cast<int>(wantf), wantmask, r, 0);
      if (r >= 0) r = switchto(r);
      break;
    }
    case 3:
    case 4:
    case 5:
      if (bad || v < 1) {
        r = -1;
        break;
      }
      if (what == 3) wantw = static_cast<int16_t>(v), wantmask |= 1;
      if (what == 4) wanth = static_cast<int16_t>(v), wantmask |= 2;
      if (what == 5) wantf = static_cast<float>(value), wantmask |= 4;
      break;
    default:
      r = -1;
      break;
  }
  setres(r, 0);
  return 0;
}
