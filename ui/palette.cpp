// The logical palette and its nearest-colour lookup.
#include "ui/palette.h"

#include <cstring>

#include "ui/window.h"

namespace {
uint8_t pal[PALSIZ][3];
bool made = false;

void cube() {
  for (int i = 0; i < PALSIZ; i++) {
    pal[i][0] = static_cast<uint8_t>((i & 0xE0) ? (i & 0xE0) | 0x1F : 0);
    pal[i][1] = static_cast<uint8_t>((i & 0x1C) ? ((i & 0x1C) << 3) | 0x1F : 0);
    pal[i][2] = static_cast<uint8_t>((i & 3) ? ((i & 3) << 6) | 0x3F : 0);
  }
  made = true;
}
}  // namespace

void palini() { cube(); }

int setpal(int first, int count, const uint8_t* entries) {
  if (!made) cube();
  if (!entries || count < 1 || first < 0) return 0;
  int n = 0;
  for (int i = 0; i < count && first + i < PALSIZ; i++, n++)
    std::memcpy(pal[first + i], entries + 4 * i, 3);
  if (n > 0) palshow();
  return n;
}

int getpal(int first, int count, uint8_t* out) {
  if (!made) cube();
  if (!out || count < 1 || first < 0) return 0;
  int n = 0;
  for (int i = 0; i < count && first + i < PALSIZ; i++, n++) {
    std::memcpy(out + 4 * i, pal[first + i], 3);
    out[4 * i + 3] = 0;
  }
  return n;
}

int nearpal(const int16_t* colour) {
  if (!made) cube();
  int best = 0;
  int64_t bd = -1;
  for (int i = 0; i < PALSIZ; i++) {
    int64_t d = 0;
    for (int k = 0; k < 3; k++) {
      int64_t e = static_cast<int64_t>(colour[k]) - pal[i][k];
      d += e * e;
    }
    if (bd < 0 || d < bd) {
      bd = d;
      best = i;
    }
  }
  return best;
}

const uint8_t* palent(int i) {
  if (!made) cube();
  return i >= 0 && i < PALSIZ ? pal[i] : nullptr;
}
