// Stand-ins for the services of fnsvc.h whose modules are not linked yet.
// They are weak: the owning module's definition replaces each at link time.
// Where the service has an obvious answer without its module (a window
// number, a distance, a point given as numbers) the stand-in gives it;
// anything that needs a device, a dialog or the pointer reports error 212.
#include "compute/fnsvc.h"

#include <cmath>
#include <cstring>
#include <strings.h>

#include "compute/func.h"
#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/varbl.h"
#include "ui/window.h"

#define WEAK __attribute__((weak))

WEAK int winrect(int32_t, int* rect) {
  if (rect) rect[0] = rect[1] = rect[2] = rect[3] = 0;
  return 0;
}

// A vector variable's first record, or up to ncoord numbers; a cursor
// click needs the pointer.
WEAK int setvec(uint8_t* out, int* argn, int ncoord) {
  std::memset(out, 0, 8);
  int32_t h = 0;
  int t = argtyp(*argn, &h);
  if (t & K_VECTOR) {
    PtrRec* r = ptrrec(h);
    int32_t cnt, part, tot, ws;
    if (r && gtvarb(r, &cnt, &part, &tot, &ws, 0) && cnt > 0 && part > 0 && ws == W_VEC) {
      if (const uint8_t* p = dptr(r)) std::memcpy(out, p, 8);
    }
    (*argn)++;
    return 1;
  }
  if (t == 0) {
    fnnavl();
    return 0;
  }
  int used = 0;
  for (int k = 0; k < ncoord && k < 3; k++) {
    int tk = argtyp(*argn, nullptr);
    if (!(tk & 16) || (tk & 32)) break;
    auto v = static_cast<int16_t>(intarg(*argn, 0));
    std::memcpy(out + 2 * k, &v, 2);
    (*argn)++;
    used++;
  }
  return used;
}
WEAK float vangle(int, int16_t*, int) {
  fnnavl();
  return 0.0f;
}
WEAK int curvec(int16_t* point, int) {
  if (point) point[0] = point[1] = point[2] = 0;
  return fnnavl();
}
WEAK float* sweep(int, uint32_t* count) {
  if (count) *count = 0;
  fnnavl();
  return nullptr;
}
WEAK float* sample(uint32_t* count) {
  if (count) *count = 0;
  fnnavl();
  return nullptr;
}
WEAK int setaoi() { return fnnavl(); }
WEAK int domask() { return fnnavl(); }
WEAK int getbox(int16_t* box, int mode, int, int) {
  if (box) std::memset(box, 0, mode == 2 ? 12 : 8);
  return fnnavl();
}
