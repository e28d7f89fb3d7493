// Drawing state cells (the vector list: graphics/veclist; the pixel
// writers: graphics/writers).
#include "graphics/drawstate.h"

#include "graphics/imgvars.h"
#include "graphics/pen.h"
#include "graphics/veclist.h"
#include "graphics/writers.h"

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
  vlini();
  penini();
  wrtini();
  imgini();
}
