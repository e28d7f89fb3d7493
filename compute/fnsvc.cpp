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

WEAK int winrect(int32_t, int* rect) {
  if (rect) rect[0] = rect[1] = rect[2] = rect[3] = 0;
  return 0;
}

