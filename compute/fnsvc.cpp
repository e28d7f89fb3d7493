// Stand-ins for the services of fnsvc.h whose modules are not linked yet.
// They are weak: the owning module's definition replaces each at link time.
// Anything that needs a device, a dialog or the pointer reports error 212.
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
