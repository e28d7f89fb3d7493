// Image-hardware commands and hooks.
#include "compute/imghw.h"

#include "compute/expr.h"
#include "core/args.h"
#include "core/element.h"
#include "core/output.h"
#include "core/state.h"
#include "core/varbl.h"
#include "lang/names.h"
#include "realtime/devices/devsetup.h"
#include "lang/parse.h"
#include "ui/clocks.h"
#include "ui/editor.h"
#include "ui/events.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
constexpr int E_NOTDATA = 147;
constexpr int E_NOTIMGLIST = 206;
constexpr int E_NOELEMS = 175;
constexpr int E_TOOSMALL = 59;
constexpr int E_NOGRABBER = 157;
constexpr int E_DIGARG = 156;

// Whether an image processor is present: never on this system.
constexpr bool hwpresent = false;

// The hardware calls that stand for the image processor and the frame
// grabber: none of them does anything here.
int hwroam(int, int) { return 0; }
int hwalu() { return 0; }
int hwcopy(const ImgDesc*, const ImgDesc*) { return 0; }
int grabframe(uint16_t*, int32_t) { return 0; }  // 16-bit samples captured
int camcapture(const char*) { return 0; }

// Capture statistics of digitize.
uint32_t lastticks, totticks, ncaptures;
}  // namespace

int iniimd(ImgDesc* d, uint32_t base, int code, int width, int height) {
  std::memset(d, 0, sizeof *d);
  d->base = base;
  d->bits = static_cast<uint32_t>(code & 63);
  d->rowbytes = d->bits / 8 * static_cast<uint32_t>(width);
  if (height != 0) {
    d->rect[2] = width;
    d->rect[3] = height;
  }
  return 0;
}

int CBITS(int) {
  ImgDesc s, d;
  PtrRec* src = oprec(0);
  PtrRec* dst = oprec(2);
  if (!src || !dst) return 0;
  iniimd(&s, static_cast<uint32_t>(src->Data0), src->Wsiz, static_cast<int>(src->Offs[3]), 0);
  iniimd(&d, static_cast<uint32_t>(dst->Data0), dst->Wsiz, static_cast<int>(dst->Offs[3]), 0);
  for (int k = 0; k < 2; k++) {
    s.rect[k] = static_cast<int32_t>(src->Offs[k]);
    s.rect[2 + k] = static_cast<int32_t>(src->Offs[3 + k]);
    d.rect[k] = static_cast<int32_t>(dst->Offs[k]);
    d.rect[2 + k] = static_cast<int32_t>(dst->Offs[3 + k]);
  }
  trcint(1, "CBITS", 0, s.rect[0], s.rect[1], s.rect[2], s.rect[3], 0);
  trcint(1, "  -->", 0, d.rect[0], d.rect[1], d.rect[2], d.rect[3], 0);
  if (trcmsk & 1) return 0;
  hwcopy(&s, &d);
  return 0;
}

int ipconv(const void*, void*, int, const void*, int, int, int, int, int, int) {
  return hwpresent ? 1 : 0;
}
int ipmap() { return hwpresent ? 1 : 0; }
int iphist(const void*, uint32_t* hist, int) {
  if (hist) hist[0] = 0;
  return hwpresent ? 1 : 0;
}

int ipzoom(int32_t, const int*, const int*) { return hwpresent ? 1 : 0; }

int stub1() { return 0; }
int picture() { return 0; }

int ipalu() {
  char text[LINBUF];
  float v = 0;
  int len = 0;
  for (int a = 2; a <= 5; a++) intarg(a, -1);
  getarg(3, &v, text, sizeof text, &len);
  intarg(6, 0);
  intarg(7, 0);
  hwalu();
  setres(0, 0);
  return 0;
}

int roam() {
  const int x = intarg(2, -9999);
  const int y = intarg(3, -9999);
  intarg(4, 0);
  if (y != -9999 || x == 0) {
    hwroam(x, y);
    return 0;
  }
  int px = x, py = 0;
  const int kind = intarg(5, 8);
  for (;;) {
    const int c = getxy(kind, &px, &py);
    hwroam(px, py);
    if (c == 2 || c >= 32 || c < 0 || (state & 0x8180)) break;
  }
  return 0;
}

int addlist() {
  setres(-1, 0);
  int32_t hl = 0, hd = 0, he = 0;
  const int kl = argtyp(3, &hl);
  if ((kl & (K_LIST | K_IMAGE)) != (K_LIST | K_IMAGE) || !hl) {
    error(3, E_NOTIMGLIST);
    return 0;
  }
  const int kd = argtyp(2, &hd);
  if (!(kd & K_DATA) || !hd) {
    error(2, E_NOTDATA);
    return 0;
  }
  char text[133] = {0};
  int tlen = 0;
  if (nargs() >= 4) {
    float v = 0;
    const int kt = getarg(4, &v, text, sizeof text, &tlen);
    if (!(kt & K_STRING)) tlen = 0;
    text[tlen] = 0;
  }
  const int ke = nargs() >= 5 ? argtyp(5, &he) : 0;
  const bool copy = (intarg(6, 1) & 1) != 0;
  PtrRec* list = ptrrec(hl);
  PtrRec* data = ptrrec(hd);
  int32_t lc = 0, lp = 0, lt = 0, lw = 0, dc = 0, dp = 0, dt = 0, dw = 0;
  gtvarb(list, &lc, &lp, &lt, &lw, 1);
  if (lt <= 0) {
    error(3, E_NOELEMS);
    return 0;
  }
  gtvarb(data, &dc, &dp, &dt, &dw, 0);
  if (dc <= 0) {
    error(2, E_NOELEMS);
    return 0;
  }
  const int bits = itmbit(data->Wsiz);
  const int64_t dbytes = static_cast<int64_t>(dc) * bits / 8;
  int64_t size = copy ? dbytes : 0;
  if (tlen > 0) size += tlen + 1;
  if ((ke & K_DATA) && he) {
    PtrRec* extra = ptrrec(he);
    int32_t ec = 0, ep = 0, et = 0, ew = 0;
    gtvarb(extra, &ec, &ep, &et, &ew, 0);
    size += static_cast<int64_t>(ec) * itmbit(extra->Wsiz) / 8;
  }
  if (size > 0x7FFFFF00) {
    error(0, 42);
    return 0;
  }
  // The first empty slot from the list's window origin.
  list = ptrrec(hl);
  const int64_t slots = list->Datdims[0];
  int64_t idx = list->Offs[0];
  if (!(list->Flg & 1)) {
    const SymEnt* s = list->Idx > 0 ? symptr(list->Idx) : nullptr;
    const uint32_t* tab = s && s->data > 0 ? wordp(s->data) : nullptr;
    while (tab && idx < lt && idx < slots && tab[idx] != 0) idx++;
  }
  if (idx >= slots) {
    error(3, E_TOOSMALL);
    return 0;
  }
  list->XYZptr[0] = static_cast<uint32_t>(idx);
  maklst(hl, static_cast<int32_t>(size), static_cast<int32_t>(idx));
  list = ptrrec(hl);
  const SymEnt* le = list->Idx > 0 ? symptr(list->Idx) : nullptr;
  if ((state & ST_ERROR) || !le || le->data <= 0 || wordp(le->data)[idx] == 0) return 0;
  data = ptrrec(hd);
  uint8_t* start = membyt(list->Dptr);
  uint32_t* hdr = reinterpret_cast<uint32_t*>(start - LST_HDR);
  const uint32_t nx = std::max<uint32_t>(1, data->Offs[3]);
  const uint32_t ny = std::max<uint32_t>(1, data->Offs[4]);
  const uint32_t nz = (data->Flg & K_SOLID) && data->Offs[5] > 0 ? data->Offs[5] : 1;
  hdr[0] = nx;
  hdr[1] = ny;
  hdr[2] = nz;
  hdr[3] = copy ? static_cast<uint32_t>(dbytes) : 0;
  const uint16_t b16 = static_cast<uint16_t>(bits), t16 = static_cast<uint16_t>(tlen);
  std::memcpy(reinterpret_cast<uint8_t*>(hdr) + 20, &b16, 2);
  std::memcpy(reinterpret_cast<uint8_t*>(hdr) + 26, &t16, 2);
  int64_t off = 0;
  if (copy) {
    // The items in their own size, element by element in the window's order.
    for (int32_t i = 0; i < dc && !(state & 0x8180); i++) {
      setpos(data, i);
      if (bits % 8 == 0) {
        std::memcpy(start + off, dptr(data), static_cast<size_t>(bits / 8));
        off += bits / 8;
      } else {
        putitm(igstak(data), start, data->Wsiz, i);
      }
    }
    off = dbytes;
  }
  if (tlen > 0) {
    std::memcpy(start + off, text, static_cast<size_t>(tlen) + 1);
    // The text is referred to by its byte reference in the word memory.
    hdr[10] = static_cast<uint32_t>(list->Dptr + static_cast<int32_t>(off));
  }
  setres(static_cast<int32_t>(ny), 0);
  return 0;
}

int digtiz() {
  setres(-1, 0);
  int32_t h = 0;
  const int k = argtyp(2, &h);
  const int a = intarg(3, 0), b = intarg(4, 0);
  if ((k & K_STRING) && !(k & K_LIST)) {
    char name[257];
    float v = 0;
    int len = 0;
    getarg(2, &v, name, sizeof name, &len);
    camcapture(name);
    return 0;
  }
  if (!(k & (K_MATRIX | K_IMAGE | K_SOLID)) || !h) {
    error(2, E_DIGARG);
    return 0;
  }
  if (!(devflg & 0x200)) {
    error(0, E_NOGRABBER);
    return 0;
  }
  PtrRec* r = ptrrec(h);
  constexpr int32_t W = 320, H = 240, N = W * H;
  // The frame's shape: 320 x 240 x 1.
  PtrRec shape{};
  const uint32_t dims[3] = {W, H, 1};
  for (int q = 0; q < 3; q++) shape.Offs[3 + q] = shape.Datdims[q] = dims[q];
  if (asnvrb(r, N, &shape, 0) < 0 || (state & ST_ERROR)) return 0;
  int32_t c = 0, p = 0, t = 0, w = 0;
  r = ptrrec(h);
  gtvarb(r, &c, &p, &t, &w, 1);
  std::vector<uint16_t> buf(N);
  const uint32_t t0 = rtclock();
  const int got = grabframe(buf.data(), N);
  lastticks = rtclock() - t0;
  totticks += lastticks;
  ncaptures++;
  chkio(0);
  jprintf(dbglun, "DIGTIZ(%d,%d,%d) %dx%d (%d) -> %d dst: %d %d  T= %d ticks (n=%d) buf=%d <%d,%d,%d,%d,%d>\n",
          k, a, b, W, H, N, got, c, r->Wsiz, static_cast<int>(lastticks), static_cast<int>(ncaptures), 0,
          0, 0, 0, 0, 0);
  const int32_t n = std::min<int32_t>(got, c);
  for (int32_t i = 0; i < n; i++) {
    uint8_t* q = setpos(r, i);
    const uint16_t s = buf[static_cast<size_t>(i)];
    const uint8_t lo = static_cast<uint8_t>(s);
    switch (r->Wbyts) {
      case 1: q[0] = lo; break;
      case 2: std::memcpy(q, &s, 2); break;
      case 3: q[0] = q[1] = q[2] = lo; break;
      case 4: q[0] = q[1] = q[2] = lo; q[3] = 0; break;
      default: break;
    }
  }
  return 0;
}
