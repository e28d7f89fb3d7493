// Vector arithmetic (a placeholder: every operation on vectors is refused
// with error 116) and the search for the vector record nearest to a point.
#include "graphics/vecarith.h"

#include "compute/fnsvc.h"
#include "core/output.h"
#include "graphics/drawstate.h"
#include "graphics/veclist.h"

#include <algorithm>
#include <cmath>
#include <cstring>

int dovecs(int, int) {
  error(0, 116);
  return 0;
}

// The vector record nearest to a point: the drawable records (codes 1-3)
// from start on, read as drawn; mode 0x10 compares in 3-D, rotation bits
// 0x08 or 0x20 of gflags leave out x or y (the axis that shows z), else z is
// left out. A record within 3 units ends the search unless mode bit 4 asks
// for the nearest overall; with mode bit 8 the pointer goes to the point
// found. The index, or -1.
int32_t fndvec(PtrRec* list, const int16_t* point, int32_t start, uint8_t* out, int mode) {
  if (!point) return -1;
  if (list && list == veclst()) list = nullptr;  // the vector list by name
  bool use[3] = {true, true, false};
  if (mode & 0x10) use[2] = true;
  else if (gflags & 0x08) use[0] = false, use[2] = true;
  else if (gflags & 0x20) use[1] = false, use[2] = true;
  double best = 999999.9;
  int32_t found = -1;
  uint8_t exp[12];
  for (int32_t i = std::max(start, 0);; i++) {
    if (!getvec(list, i, exp, 1)) break;
    if (exp[0] < 1 || exp[0] > 3) continue;
    int16_t v[3];
    std::memcpy(v, exp + 4, 6);
    double d = 0;
    for (int k = 0; k < 3; k++) {
      if (!use[k]) {
        v[k] = point[k];
        continue;
      }
      const double e = static_cast<double>(v[k]) - point[k];
      d += e * e;
    }
    d = std::sqrt(d);
    if (d < best) {
      best = d;
      found = i;
      if (out) {
        std::memcpy(out, exp, 12);
        std::memcpy(out + 4, v, 6);
      }
      if (d <= 3 && !(mode & 4)) break;
    }
  }
  if (found >= 0 && (mode & 8) && out) {
    int16_t v[2];
    std::memcpy(v, out + 4, 4);
    setcurs(v[0], v[1]);
  }
  return found;
}
