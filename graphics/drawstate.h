// Drawing state of the image display and vector graphics: the words that
// the system variables read and set for the pixel writers, the pen, the
// vector list and the view windows. The drawing code reads them from here.
#pragma once
#include <cstdint>

extern int16_t iplane, vplane, gplane;  // plane words of the display and image hardware
extern uint8_t hplane;                  // 8-bit plane word
extern int16_t iflags;                  // flags of the image devices
extern int16_t gunit;     // display-device switch: 0x1 hardware path; negative: use unit
extern int16_t lwidth;    // default vector line width (negative forces -lwidth)
extern int16_t penwidth;  // pen width
extern int16_t bitmask;   // drawing bit mask
extern int16_t gflags;    // drawing-mode word
extern int16_t xorflg;    // XOR word of the pixel writer: 0x80 XOR mode
extern int16_t zvalue;    // default z of new vector points
extern int16_t zoff;      // rotation offset of vector points
extern int16_t zfact;     // z factor
extern int16_t vanish;    // perspective distance (0: none)
extern int16_t sflags;    // sketch editor flags
extern int16_t vwindow;   // view-window word (low 3 bits)
extern int32_t lastvec;   // object-start mark of the vector list
extern int32_t vec0;      // first vector index
extern int32_t nvecs;     // record count (write index) of the vector list
extern int32_t nvdata;    // pair count of the vector data list
extern float calbar;      // calibration bar length
extern float calfact;     // calibration factor
extern float aspect;      // aspect ratio of plot markers
extern int16_t lastpt[3]; // last absolute vector point x, y, z

// The vector list entry points vinit and setnvec (graphics/veclist.h).
int vinit(int mode);
int setnvec(int which, int32_t n);

// Back to the start-up values (used by the start-up code and by tests).
void drwini();
