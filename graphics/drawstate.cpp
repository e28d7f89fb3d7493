// Drawing state cells. The pixel writers are not built yet: until they
// are, setpxf only remembers the mode (the vector list: graphics/veclist).
#include "graphics/drawstate.h"

#include "graphics/veclist.h"

int16_t iplane, vplane, gplane;
uint8_t hplane;
int16_t iflags;
int16_t gunit = -1;
int16_t lwidth = 1;
int16_t penwidth = 1;
int16_t bitmask;
int16_t gflags;
int16_t xorflg;
int16_t zvalue;
int16_t zoff;
int16_t zfact;
int16_t vanish;
int16_t sflags;
int16_t vwindow;
int32_t lastvec;
int32_t vec0;
int32_t nvecs;
int32_t nvdata;
float calbar;
float calfact;
float aspect;
int16_t lastpt[3];

static int32_t pxfmode;  // mode word of the selected pixel writers

int setpxf(int mode) {
  pxfmode = mode;
  return 0;
}

void drwini() {
  iplane = vplane = gplane = 0;
  hplane = 0;
  iflags = 0;
  gunit = -1;
  lwidth = penwidth = 1;
  bitmask = gflags = xorflg = zvalue = zoff = zfact = vanish = sflags = vwindow = 0;
  lastvec = vec0 = nvecs = nvdata = 0;
  calbar = calfact = aspect = 0.0f;
  lastpt[0] = lastpt[1] = lastpt[2] = 0;
  pxfmode = 0;
  vlini();
}
