// The vector commands' module.
#include "graphics/veccmds.h"

#include <algorithm>
#include <cstring>

#include "core/state.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "graphics/veclist.h"

int measur(PtrRec* list, int32_t start, int32_t count, float scale, float* length, float* area) {
  int32_t first = std::max<int32_t>(start, 0);
  const int32_t end = count > 0 ? first + count : vreccnt(list);
  int16_t keep[3];
  std::memcpy(keep, lastpt, sizeof keep);
  float len = 0.0f;
  int64_t ar = 0;
  bool seen = false, measured = false;
  int16_t s[3] = {}, p[3] = {};
  int32_t i = first, last = first;
  for (; i < end && !stopped(); i++) {
    last = i;
    uint8_t e[12];
    if (!getvec(list, i, e, 1)) break;
    const int c = e[0];
    if (c < VC_LINE || c > VC_DOT) {
      if (count <= 0 && start >= 0 && measured) break;
      first = i + 1;
      continue;
    }
    int16_t q[3];
    std::memcpy(q, e + 4, 6);
    if (!seen) {
      std::memcpy(s, q, 6);
      seen = true;
    } else if (c == VC_LINE) {
      len += vdist(p, q, 3);
      ar += (static_cast<int64_t>(q[0]) - p[0]) * (static_cast<int64_t>(q[1]) + p[1]) / 2;
      measured = true;
    }
    std::memcpy(p, q, 6);
  }
  std::memcpy(lastpt, keep, sizeof keep);
  lastvec = last;
  int sign = 1;
  float a = 0.0f;
  if (seen) {
    if (vdist(p, s, 3) <= 5.0f) {
      ar += (static_cast<int64_t>(s[0]) - p[0]) * (static_cast<int64_t>(s[1]) + p[1]) / 2;
      if (ar < 0) {
        ar = -ar;
        sign = -1;
      }
      a = static_cast<float>(ar);
      if (scale > 0.0f) a *= scale * scale;
    }
    if (scale > 0.0f) len *= scale;
  }
  if (length) *length = len;
  if (area) *area = a;
  return (i - first) * sign;
}
