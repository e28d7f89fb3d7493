// Image-hardware commands and hooks: the image descriptor, the commands
// addlist, ipalu, roam, digitize, picture and watch, and the hooks that the
// image operations ask before they work in software. This system drives no
// image processor or frame grabber: every hook reports that it did nothing,
// so the software paths always run.
#pragma once
#include <cstdint>

// An image descriptor (44 bytes).
struct ImgDesc {
  uint32_t rowbytes;  // (bits / 8) x width
  uint32_t base;      // address of the first pixel
  int32_t rect[4];    // left, top, right, bottom
  uint32_t bits;      // bits per pixel: word size code & 63
  uint32_t rest[4];   // zero
};
static_assert(sizeof(ImgDesc) == 44);

// Clears a descriptor and sets base, bits and row bytes; a non-zero height
// also sets the rectangle (0, 0, width, height).
int iniimd(ImgDesc* d, uint32_t base, int code, int width, int height);
// The image-processor bit copy of the zoom function (operand table: source
// and result). Traces both rectangles; the hardware copy does nothing.
int CBITS(int mode);

// Hooks: each answers 0 (not done) while no hardware is present.
int ipconv(const void* src, void* dst, int kind, const void* kernel, int kw, int kh, int add,
           int lo, int hi, int shift);
int ipmap();
int iphist(const void* var, uint32_t* hist, int bins);
int ipzoom(int32_t variable, const int* factors, const int* corner);

// Command handlers (each returns 0).
int addlist();
int ipalu();
int roam();
int digtiz();
int picture();
int stub1();
