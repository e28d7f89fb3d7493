// Vector text at the pen.
#include "graphics/vtext.h"

#include <cmath>
#include <cstdlib>

#include "core/element.h"
#include "graphics/drawstate.h"
#include "graphics/pen.h"
#include "graphics/writers.h"
#include "realtime/devices/devsetup.h"
#include "ui/draw.h"
#include "ui/fonts.h"
#include "ui/platform/face.h"
#include "ui/window.h"

namespace {

// The glyphs of a text into the current image variable: the set pixels of
// each cell, the first cell's top left at (x, y).
void imgtext(const FntRow* row, const char* text, int n, int x, int y, uint32_t value) {
  struct Ink {
    uint32_t v;
  } ink{value};
  int w = row ? ftdraw(row, text, n, x, y, [](void* k, int px, int py) { SETpix(px, py, static_cast<Ink*>(k)->v); }, &ink)
              : -1;
  if (w >= 0) return;
  for (int k = 0; k < n; k++) {
    const auto ch = static_cast<unsigned char>(text[k]);
    for (int r = 0; r < FACEHGT; r++) {
      const uint8_t bits = facerow(ch, r);
      for (int b = 0; b < FACEWID; b++)
        if (bits & (0x80 >> b)) SETpix(x + k * FACEWID + b, y + r, value);
    }
  }
}

}  // namespace

void degcs(int angle, double* co, double* si) {
  if (angle % 90 == 0) {
    static constexpr double C[4] = {1, 0, -1, 0}, S[4] = {0, 1, 0, -1};
    const int q = ((angle / 90) % 4 + 4) % 4;
    *co = C[q];
    *si = S[q];
    return;
  }
  const float r = static_cast<float>(angle) * 0.017453293f;
  *co = std::cos(r);
  *si = std::sin(r);
}

namespace {
// The font row text is drawn in: the current port's, else the active one.
const FntRow* txtrow() {
  const PwRec* port = getPort();
  const FntRow* row = port ? fntrow(port->fontnum) : nullptr;
  if (!row || row->width == 0) row = fntactive();
  return row;
}
}  // namespace

void txtcell(int size, float* w, float* h) {
  const FntRow* row = txtrow();
  const int cw = row && row->width ? row->width : FACEWID, ch = row && row->height ? row->height : FACEHGT;
  const int s = size == 0 ? 1 : std::abs(size);
  *w = static_cast<float>(cw) * static_cast<float>(s) / 10.0f;
  *h = static_cast<float>(ch) * static_cast<float>(s) / 10.0f;
}

int stext(const char* text, int length, uint32_t colour, int, int size, int angle, int32_t background) {
  const ImgTgt* keep = curimg(IV_VIMAGE);
  const FntRow* row = txtrow();
  const int s = size == 0 ? 1 : std::abs(size);
  float w = 0.0f, h = 0.0f;
  txtcell(size, &w, &h);
  int32_t x = penpt[0], y = penpt[1];
  if (!(gflags & 1)) {
    x += drworg[0];
    y += drworg[1];
  }
  double dco = 1.0, dsi = 0.0;
  degcs(angle, &dco, &dsi);
  const auto co = static_cast<float>(dco), si = static_cast<float>(dsi);
  if (size < 0) {
    const float len = static_cast<float>(length) * w;
    x = ftrunc(static_cast<float>(x) - len * co / 5.0f);
    y = ftrunc(static_cast<float>(y) + len * si / 5.0f);
  }
  if (angle != 0) {
    const int32_t turned = ftrunc(w * std::fabs(si) + h * std::fabs(co) + 0.99f);
    h = static_cast<float>((turned - 1) / 2);
  }
  const int32_t yd = ftrunc(static_cast<float>(y) + h / 2.0f);
  // No fat pixels in text; the mode word comes back afterwards.
  const int16_t mode = gflags;
  gflags = static_cast<int16_t>(gflags & ~0x1800);
  setpxf(gflags);
  const auto ps = static_cast<uint32_t>(s);
  if (ps != lastsiz) {
    settext(-1, s, -1);
    lastsiz = ps;
  }
  if (colour != lastpen && colour < 256) {
    colfg(static_cast<int>(colour));
    if (background >= 0 && background < 256 && static_cast<uint32_t>(background) != colour) colbg(background);
  }
  if (text && length > 0) {
    if (curit) {
      imgtext(row, text, length, x, yd, colour);
    } else {
      moveto(x, yd);
      ptext(text, length);
    }
  }
  gflags = mode;
  setpxf(gflags);
  curput(keep);
  return 0;
}

int vtext(const char* text, int length, uint32_t colour, int ignored, int size, int angle, int,
          int32_t background) {
  // The hardware display hook (bit 0x1 of the display-device switch) does
  // nothing on this platform.
  if (dspsw() & 1) return 0;
  return stext(text, length, colour, ignored, size, angle, background);
}
