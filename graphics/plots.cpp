// Plots, histograms and axes.
#include "graphics/plots.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "graphics/drawstate.h"
#include "graphics/imgvars.h"
#include "graphics/pen.h"
#include "graphics/redraw.h"
#include "graphics/spline.h"
#include "graphics/veccmds.h"
#include "graphics/veclist.h"
#include "graphics/vtext.h"
#include "ui/draw.h"
#include "ui/window.h"

PlotRec plotrec;

namespace {

constexpr float LOG10E = 0.4342945f;

int16_t s16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }

// A float truncated to an integer, saturated far beyond any screen.
int64_t sat(float v) {
  if (std::isnan(v)) return 0;
  return static_cast<int64_t>(std::clamp(v, -1e9f, 1e9f));
}

// The drawing box refreshed from the vector window (relative).
void boxrefresh() {
  int16_t b[6] = {drwbox.min[0], drwbox.min[1], drwbox.min[2], drwbox.max[0], drwbox.max[1], drwbox.max[2]};
  winbox(b, 4, 1, 1);
  for (int k = 0; k < 3; k++) {
    drwbox.min[k] = b[k];
    drwbox.max[k] = b[3 + k];
  }
}

// A value as plotted on a log axis: false when it has no logarithm.
bool logval(float* v) {
  if (!(*v > 0.0f)) return false;
  *v = std::log(*v) * LOG10E;
  return true;
}

// The argument items as floats: empty when there are none (count -1).
int32_t argitems(int n, std::vector<float>& v) {
  int32_t h = 0;
  const int t = nargs() >= n ? argtyp(n, &h) : 0;
  if (!t || (t & K_STRING) || !(t & (K_NUMBER | K_DIMS))) return -1;
  int32_t cnt = 0;
  PtrRec* r = argary(n, &cnt);
  if (!r && (t & K_NUMBER)) {
    v.assign(1, fltarg(n, 0.0f));  // a number given as such
    return 1;
  }
  return r ? fltitems(r, v) : -1;
}

// The records of one point's marker and bars, appended and drawn.
struct Emit {
  int32_t colour;
  int width;
  void abs(int64_t x, int64_t y, int code) const { savvec(s16(x), s16(y), zvalue, code, colour, width); }
  void rel(int64_t dx, int64_t dy, int code) const { savvec(s16(dx), s16(dy), 0, code + 3, colour, width); }
  // A fill of the last n points, written straight at the write index.
  void fill(int n) const {
    if (putvec(nvecs, -n, n, -1, VC_FILL, colour, 0) == 0) nvecs++;
  }
};

}  // namespace

int getwrect(int16_t* box, const Wport* w, int relative, int index) {
  int32_t r[4] = {};
  PwRec* keep = portset();
  winrect(wpwrec(w), r);
  setPort(keep);
  box[index + 2] = s16(r[2]);
  box[index + 3] = s16(r[3]);
  if (relative) {
    box[0] = box[1] = 0;
    box[index + 2] = s16(static_cast<int64_t>(r[2]) - r[0]);
    box[index + 3] = s16(static_cast<int64_t>(r[3]) - r[1]);
  } else {
    box[0] = s16(r[0]);
    box[1] = s16(r[1]);
  }
  return 0;
}

int winbox(int16_t* box, int n, int relative, int index) {
  const Wport* w = wport(n);
  const PwRec* p = wpwrec(w);
  if (!w || !p || (p->flags & 1) || (w->status & 8)) {
    error(0, 190);
    return 0;
  }
  return getwrect(box, w, relative, index);
}

int32_t fltitems(PtrRec* r, std::vector<float>& out) {
  out.clear();
  if (!r) return -1;
  int32_t cnt = 0, part = 0, tot = 0, ws = 0;
  savoff(r);
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  if (cnt < 1) return -1;
  out.resize(static_cast<size_t>(cnt));
  int32_t i = 0;
  while (i < cnt && !stopped()) {
    if (i >= part) {
      LDVARB(r, &part, i);
      if (part <= i) break;
    }
    const int32_t m = std::min(part, cnt);
    if (ws == W_FLOAT && r->Bitp == 0) {
      if (const uint8_t* p = dptr(r)) std::memcpy(&out[static_cast<size_t>(i)], p, static_cast<size_t>(m - i) * 4);
      i = m;
      part = m;  // the next part is loaded from where this one ended
    } else {
      for (; i < m; i++) out[static_cast<size_t>(i)] = static_cast<float>(GSTACK(r));
    }
  }
  out.resize(static_cast<size_t>(i));
  for (float& f : out)
    if (ismiss(f)) f = 0.0f;
  return i;
}

int plot(int sel) {
  const bool isplot = sel == 1;
  std::vector<float> ys, xs, es;
  if (argitems(2, ys) < 1) {
    if (!stopped()) error(2, 70);
    return 0;
  }
  int a = 3;
  bool hasx = false;
  if (isplot) {
    int32_t h = 0;
    const int t = nargs() >= 3 ? argtyp(3, &h) : 0;
    if ((t & K_DIMS) && !(t & K_STRING)) {
      if (argitems(3, xs) < 1) {
        if (!stopped()) error(3, 70);
        return 0;
      }
      hasx = true;
    }
    a = 4;
  }
  const size_t n = hasx ? std::min(ys.size(), xs.size()) : ys.size();
  const int style = intarg(a, 1);
  const int32_t colour = lngarg(a + 1, dcolor);
  if (argitems(a + 2, es) < 2) es.clear();
  const int keep = intarg(a + 3, 0);
  // The size (plot: the marker size; histogram: the bar width) follows
  // keep; the origins and scales follow it. A histogram reads its width
  // last, since it defaults to the x scale.
  int w = 10, h = 10;
  const int k = a + 4;
  if (isplot) {
    w = intarg(k, 10);
    h = aspect != 0.0f ? ftrunc(static_cast<float>(w) * aspect) : w;
  }
  plotrec.org[0] = static_cast<int16_t>(intarg(k + 1, plotrec.org[0]));
  plotrec.scale[0] = fltarg(k + 2, plotrec.scale[0]);
  plotrec.org[1] = static_cast<int16_t>(intarg(k + 3, plotrec.org[1]));
  plotrec.scale[1] = fltarg(k + 4, plotrec.scale[1]);
  const float xsc = plotrec.scale[0] != 0.0f ? plotrec.scale[0] : 1.0f;
  const float ysc = plotrec.scale[1] != 0.0f ? plotrec.scale[1] : 1.0f;
  if (!isplot) {
    w = intarg(k, ftrunc(xsc));
    h = w;
  }
  if (stopped()) return 0;

  VecPort vp;
  const int32_t start = nvecs;
  boxrefresh();
  const int64_t xlim = plotrec.lim[0] >= 1 ? plotrec.lim[0] : drwbox.max[0];
  const int64_t ylim = plotrec.lim[1] >= 1 ? plotrec.lim[1] : drwbox.max[1];
  int mode = isplot ? style & 15 : (style & 1) ? 11 : 10;
  if (isplot && (mode == 0 || (style & 32))) mode = 3;
  const Emit em{colour, penwidth};
  const int pf = plotrec.flags;
  const float x0 = plotrec.zero[0], y0 = plotrec.zero[1];
  const int64_t ox = plotrec.org[0], oy = plotrec.org[1];
  int code = VC_MOVE;  // the next record of a line
  size_t ei = 0;
  // No variable changes while the points are drawn.
  auto pin = std::make_unique<ImgPin>();
  for (size_t i = 0; i < n && !stopped(); i++) {
    float x = hasx ? xs[i] : static_cast<float>(i), y = ys[i];
    // A NaN has no place on the screen: such a point is out.
    bool in = !std::isnan(x) && !std::isnan(y);
    if ((pf & PR_XLOG) && !logval(&x)) in = false;
    const int64_t sx = sat((x - x0) * xsc + static_cast<float>(ox));
    if (sx > xlim || ((style & 64) && isplot && ys[i] == 0.0f)) in = false;
    if ((pf & PR_YLOG) && !logval(&y)) in = false;
    const float dy = (y - y0) * ysc;
    // y grows downward on the screen (flag 128), as on a y axis drawn
    // running downward.
    const bool down = (pf & (PR_YDOWN | PR_AXDOWN)) != 0;
    const int64_t sy = sat(down ? static_cast<float>(oy) + dy : static_cast<float>(oy) - dy);
    if (sy > ylim) in = false;
    if (!in) {
      if (mode == 1) code = VC_MOVE;
      continue;
    }
    switch (mode) {
      case 1: case 2:
        em.abs(sx, sy, code);
        code = VC_LINE;
        break;
      case 4:
        em.abs(sx, sy + h / 2, VC_MOVE);
        em.rel(0, -h, VC_LINE);
        break;
      case 5: case 7:
        em.abs(sx - w / 2, sy - h / 2, VC_MOVE);
        em.rel(w, h, VC_LINE);
        em.rel(0, -h, VC_MOVE);
        em.rel(-w, h, VC_LINE);
        if (mode == 5) break;
        em.rel(0, -h / 2, VC_MOVE);
        em.rel(w, 0, VC_LINE);
        em.rel(-w / 2, -h / 2, VC_MOVE);
        em.rel(0, h, VC_LINE);
        break;
      case 6:
        em.abs(sx - w / 2, sy, VC_MOVE);
        em.rel(w, 0, VC_LINE);
        em.rel(-w / 2, -h / 2, VC_MOVE);
        em.rel(0, h, VC_LINE);
        break;
      case 8: case 9:
        em.abs(sx, sy, VC_MOVE);
        savvec(w, h, mode == 9 ? 8 : 0, VC_ELLIPSE, colour, penwidth);
        break;
      case 10: case 11:
        if (isplot) {
          em.abs(sx - w / 2, sy - h / 2, VC_MOVE);
          em.rel(w, 0, VC_LINE);
          em.rel(0, h, VC_LINE);
          em.rel(-w, 0, VC_LINE);
          em.rel(0, -h, VC_LINE);
        } else {
          // The bar from the point to the base, cut to the window (just
          // past its edges, where a pen of this width shows nothing): a bar
          // taller than a relative record holds keeps its sides and base.
          const int64_t m = int64_t(penwidth) + 1;
          const int64_t lo = drwbox.min[1] - m, hi = drwbox.max[1] + m;
          const int64_t top = std::clamp<int64_t>(sy, lo, hi), base = std::clamp<int64_t>(oy, lo, hi);
          em.abs(sx, top, VC_MOVE);
          em.rel(w, 0, VC_LINE);
          em.rel(0, base - top, VC_LINE);
          em.rel(-w, 0, VC_LINE);
          em.rel(0, top - base, VC_LINE);
        }
        if (mode == 11) em.fill(5);
        break;
      case 12: case 13:
        em.abs(sx, sy - h / 2, VC_MOVE);
        em.rel(w / 2, h, VC_LINE);
        em.rel(-w, 0, VC_LINE);
        em.rel(w / 2, -h, VC_LINE);
        if (mode == 13) em.fill(4);
        break;
      case 14: case 15:
        em.abs(sx, sy - h / 2, VC_MOVE);
        em.rel(w / 2, h / 2, VC_LINE);
        em.rel(-w / 2, h / 2, VC_LINE);
        em.rel(-w / 2, -h / 2, VC_LINE);
        em.rel(w / 2, -h / 2, VC_LINE);
        if (mode == 15) em.fill(5);
        break;
      default:
        em.abs(sx, sy, VC_DOT);
        break;
    }
    if (!es.empty()) {
      // The error bar of this point: a cap, a move to its middle, the stem,
      // a move and the other cap.
      float e = ei < es.size() ? es[ei] : 0.0f;
      ei++;
      const bool xbar = isplot && (style & 16);
      if (e > 0.0f && (!(pf & (xbar ? PR_XLOG : PR_YLOG)) || logval(&e))) {
        const int64_t px = isplot ? sx : sx + w / 2;
        const int64_t len = sat(e * (xbar ? xsc : ysc));
        const int c = std::max(1, (xbar ? w : h) / 4);
        if (xbar) {
          em.abs(px - len, sy - c, VC_MOVE);
          em.rel(0, 2 * c, VC_LINE);
          em.rel(0, -c, VC_MOVE);
          em.rel(2 * len, 0, VC_LINE);
          em.rel(0, -c, VC_MOVE);
          em.rel(0, 2 * c, VC_LINE);
        } else {
          em.abs(px - c, sy - len, VC_MOVE);
          em.rel(2 * c, 0, VC_LINE);
          em.rel(-c, 0, VC_MOVE);
          em.rel(0, 2 * len, VC_LINE);
          em.rel(-c, 0, VC_MOVE);
          em.rel(2 * c, 0, VC_LINE);
        }
        if (mode == 1) em.abs(sx, sy, VC_MOVE);
      }
    }
  }
  pin.reset();
  if (isplot && (style & 32))
    dosplin(keep > 0 ? 2 : 0, start);
  else if (mode >= 11 && (mode & 1) && nvecs > start)
    redraw(nvecs - start);
  if (keep == 0) {
    nvecs = start;
    setnvec(-1, start);
  }
  return 0;
}

int axis() {
  std::vector<float> data;
  const int32_t nd = argitems(2, data);
  const int flags = intarg(3, 0);
  std::string title;
  const bool hastitle = argstr(4, &title, 300) && !title.empty();
  const int32_t colour = lngarg(5, dcolor);
  const int pw = intarg(6, penwidth);
  if (stopped()) return 0;
  VecPort vp;
  boxrefresh();
  const int a = (flags & 2) ? 0 : 1;  // 0 the x axis, 1 the y axis
  const int tsize = intarg(14, hastitle ? 20 : 0);
  const int nsize = (flags & 0x200) ? 0 : intarg(15, 10);
  // The title stands beyond the numbers: the sizes are in tenths of the
  // font cell (8 pixels a tenth of the sum).
  int gap = ((tsize + (4 * a + 1) * nsize + 5) / 10) * 8;
  if (a == 1 && (flags & 0x80)) gap = -gap;
  const PlotRec before = plotrec;  // kept when the range is refused
  int ox = plotrec.org[0], oy = plotrec.org[1];
  if (flags & 1) {
    plotrec = PlotRec{};
    ox = drwbox.min[0] + 60;
    oy = (flags & 0x400) ? drwbox.min[1] + 40 : drwbox.max[1] - drwbox.min[1] - 40;
  }
  ox = intarg(7, ox);
  oy = intarg(8, oy);
  plotrec.org[0] = static_cast<int16_t>(ox);
  plotrec.org[1] = static_cast<int16_t>(oy);
  const int ext = drwbox.max[a] - drwbox.min[a];
  const int dlen = ftrunc(0.9f * static_cast<float>(ext - 40));
  int len = intarg(9, 0);
  if (len < 1 || len > dlen) len = dlen;
  int n = intarg(10, -1);
  if (n == 0) n = -1;  // 0 divisions: automatic
  float low = fltarg(11, 0.0f), high = fltarg(12, 0.0f);
  const int tick = intarg(13, 8);
  const float fmt = fltarg(16, 0.0f);
  const bool reversed = high < low;
  if (reversed) std::swap(low, high);
  bool fromdata = false;
  if (low == high && nd >= 1) {
    fromdata = true;
    if (nd == 1) {
      low = 0.0f;
      high = data[0] - 1.0f;
    } else {
      low = 999999.9f;
      high = -999999.9f;
      for (float v : data) {
        if (stopped()) break;
        // A value without a logarithm, or with no place on an axis
        // (infinite or NaN), stays out of the range.
        if (!std::isfinite(v) || ((flags & 8) && !logval(&v))) continue;
        low = std::min(low, v);
        high = std::max(high, v);
      }
      if (low > high) low = high = 0.0f;
    }
  } else {
    high -= 1.0f;
  }
  if (fromdata && !(flags & 0x40) && low > 0.0f) low = 0.0f;
  // A range whose ends or span a float cannot hold has no scale: refused
  // with its cause; nothing is drawn and the plot record stays as it was.
  auto undrawable = [&](float lo, float hi, float sp) {
    if (std::isfinite(lo) && std::isfinite(hi) && std::isfinite(sp)) return false;
    plotrec = before;
    jprintf(errlun, "axis: the range %g to %g cannot be drawn\n", static_cast<double>(lo),
            static_cast<double>(hi + (fromdata ? 0.0f : 1.0f)));
    error(fromdata ? 2 : std::isfinite(low) ? 12 : 11, 100);
    return true;
  };
  float span = high - low + 1.0f;
  if (undrawable(low, high, span)) return 0;
  if (span == 0.0f) span = 1.0f;
  // The divisions: the step a round number of the span's leading digit.
  static const int DIVS[11] = {10, 10, 8, 6, 8, 10, 6, 7, 8, 9, 10};
  auto lead = [](float s) {
    const double l = std::log10(std::fabs(static_cast<double>(s)));
    const int e = static_cast<int>(l);  // s is finite and not 0: |l| < 46
    const int m = static_cast<int>(std::clamp(std::pow(10.0, l - e) + 0.999999, 1.0, 10.0));
    return std::pair<int, int>{e, m};
  };
  float step = 1.0f;
  if (fromdata) {
    int nn = n;
    bool found = false;
    for (int round = 0; round < 10 && !found; round++) {
      const auto [e, m] = lead(span);
      if (n < 0) nn = DIVS[m];
      step = static_cast<float>(std::pow(10.0, e) * m / nn);
      low = std::floor(low / step) * step;
      span = high - low + 1.0f;
      if (undrawable(low, high, span)) return 0;
      found = static_cast<float>(nn) * step >= span;
    }
    n = nn;
    if (!found) step = span / static_cast<float>(n);
  } else {
    if (n < 0) n = DIVS[lead(span).second];
    step = span / static_cast<float>(n);
  }
  high = low + static_cast<float>(n) * step;
  span = static_cast<float>(n) * step;
  if (undrawable(low, high, span)) return 0;
  if (reversed) {
    low = high;
    step = -step;
    span = -span;
  }
  const float scale = static_cast<float>(len) / span;
  plotrec.zero[a] = low;
  plotrec.scale[a] = scale;
  int16_t pf = static_cast<int16_t>(plotrec.flags & ~0x7C);
  const int16_t logbit = static_cast<int16_t>(a + 1);
  pf = static_cast<int16_t>((flags & 8) ? (pf | logbit) : (pf & ~logbit));
  // A y axis says which way its values run; an x axis keeps that.
  if (a == 1) pf = static_cast<int16_t>((flags & 0x400) ? (pf | PR_AXDOWN) : (pf & ~PR_AXDOWN));
  plotrec.flags = pf;
  plotrec.lim[a] = s16(static_cast<int64_t>(a == 0 ? ox : oy) + len);

  const int32_t start = nvecs;
  const bool none = (flags & 0xB00) == 0xB00;
  const int up = (a == 1 && !(flags & 0x400)) ? -1 : 1;  // along the axis on the screen
  const Emit em{colour, pw};
  if (!none) {
    if (hastitle) {
      if (a == 0)
        em.abs(ox + len / 2, oy + gap, VC_MOVE);
      else
        em.abs(ox - gap, oy + up * (len / 2), VC_MOVE);
      puttext(title.c_str(), colour, -tsize, 90 * a, pw);
    }
    if (!(flags & 0x800)) {
      em.abs(ox, oy, VC_MOVE);
      em.rel(a == 0 ? len : 0, a == 0 ? 0 : up * len, VC_LINE);
    }
  }
  // The ticks, each step rounded from the start so that rounding does not
  // drift; the numbers stand at the ticks' places.
  std::vector<int32_t> at(static_cast<size_t>(n) + 1, 0);
  const bool ticks = !(flags & 0x100), nums = !(flags & 0x200);
  if (ticks || nums) {
    const int half = tick / 2;
    em.abs(a == 0 ? ox : ox - half, a == 0 ? oy - half : oy, VC_MOVE);
    int32_t sum = 0;
    for (int i = 1; i <= n + 1 && !stopped(); i++) {
      at[static_cast<size_t>(i - 1)] = sum;
      if (ticks) em.rel(a == 0 ? 0 : tick, a == 0 ? tick : 0, VC_LINE);
      const int32_t d = ftrunc(static_cast<float>(i) * step * scale - static_cast<float>(sum));
      const int back = ticks ? -tick : 0;
      em.rel(a == 0 ? d : back, a == 0 ? back : up * d, VC_MOVE);
      sum += d;
    }
  }
  if (nums) {
    int width = 4, dec = 0;
    double div = 1.0;
    if (fmt > 0.0f) {
      width = static_cast<int>(fmt);
      dec = static_cast<int>(std::floor((fmt - static_cast<float>(width)) * 10.0f + 0.001f));
    } else {
      const int e = static_cast<int>(std::log10(std::fabs(static_cast<double>(span))));
      if (e >= 0) {
        div = std::pow(10.0, e - e % 4);
        dec = 2 - e % 4;
      } else {
        dec = 3;
      }
      if (flags & 0x20)
        dec = 0;
      else if (low < 0.0f)
        dec--;
      dec = std::max(dec, 0);
    }
    const int nh = (nsize * 8 + 5) / 10;
    const int shift = (flags & 4) ? len / (2 * (n + 1)) : 0;
    // A number of a y axis stands centred on its tick: text is drawn from
    // its pen half a cell down, so the pen goes a whole cell above the tick.
    float cw = 0.0f, chh = 0.0f;
    txtcell(nsize, &cw, &chh);
    const int lift = ftrunc(chh + 0.5f);
    float v = low;
    for (int i = 1; i <= n + 1 && !stopped(); i++, v += step) {
      if ((flags & 4) && i == 1) continue;
      char text[64];
      ftostr(v / div, text, width, dec, sizeof text);
      const int32_t along = at[static_cast<size_t>(i - 1)] + shift;
      const char* s = text;
      if (a == 1) {
        em.abs((flags & 0x80) ? ox + tick : ox - width * nh, oy + up * along - lift, VC_MOVE);
        puttext(s, colour, nsize, 0, 1);
      } else {
        while (*s == ' ') s++;
        em.abs(ox + along, (flags & 0x80) ? oy - tick - 2 * nh : oy + nh, VC_MOVE);
        puttext(s, colour, -nsize, 0, 1);
      }
    }
  }
  if (!(flags & 0x10)) {
    nvecs = start;
    setnvec(-1, start);
  }
  return 0;
}

void pltini() { plotrec = PlotRec{}; }
