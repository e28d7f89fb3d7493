// PCX: the header reader of file-backed variables, and the whole-image
// reader and writer of the read and write commands (run-length lines,
// planar and low-bit pixels, the 256-colour palette at the file's end).
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "files/filevar.h"
#include "files/imgcommon.h"
#include "files/imgfmt.h"

using namespace imgfmt;

namespace {

struct PcxHdr {
  int version, bits, planes, bpl;
  int64_t xmin, ymin, xmax, ymax;
  int64_t width, height;
};

// The header's fields, or false for values no image can have.
bool pcxfields(const uint8_t* h, PcxHdr* p) {
  p->version = h[1];
  p->bits = h[3];
  p->xmin = g16(h + 4, false);
  p->ymin = g16(h + 6, false);
  p->xmax = g16(h + 8, false);
  p->ymax = g16(h + 10, false);
  p->planes = h[65];
  p->bpl = g16(h + 66, false);
  if (h[0] != 10 || p->xmax < p->xmin || p->ymax < p->ymin || p->bpl == 0 || p->planes < 1) return false;
  if (p->bits != 1 && p->bits != 2 && p->bits != 4 && p->bits != 8) return false;
  if (p->bits == 8 && p->planes > 3) return false;
  if (p->bits * p->planes > 8 && p->bits != 8) return false;
  p->width = p->xmax - p->xmin + 1;
  p->height = p->ymax - p->ymin + 1;
  // A line must hold the width's pixels.
  if (int64_t{p->bpl} * 8 < p->width * p->bits) return false;
  return true;
}

// The file's whole contents.
bool readwhole(int unit, std::vector<uint8_t>* d) {
  int64_t len = unitlen(unit);
  if (len < 0 || len > INT32_MAX) return false;
  d->resize(static_cast<size_t>(len));
  return len == 0 || rdblk(unit, 0, d->data(), static_cast<int32_t>(len), 0) == len;
}

int refuse() {
  error(0, 86);
  return -2;
}

}  // namespace

int pcxhdr(PtrRec* r, int, int unit, uint8_t* hdr, int wflag, int32_t) {
  if (wflag >= 1) return 0;
  PcxHdr p;
  if (unitlen(unit) < 128 || !pcxfields(hdr, &p)) return refuse();
  if (p.version == 5 && p.bits == 8 && p.planes == 1) {
    uint8_t pal[769] = {};
    int64_t len = unitlen(unit);
    if (uint8_t* lut = imglut()) {
      if (len < 128 + 769 || rdblk(unit, 0, pal, 769, len - 769) != 769 || pal[0] != 12) std::memset(pal, 0, 769);
      for (int i = 0; i < 256; i++)
        for (int c = 0; c < 3; c++) lut[3 * i + c] = pal[1 + 3 * i + 2 - c];
    }
  }
  int bits = p.bits == 8 ? 8 * p.planes : p.bits * p.planes;
  int rec = setfdim(r, p.width, p.height, 1, bits, 128, 1);
  if (rec < 0) return refuse();
  if (FilRec* f = filrec(r)) f->Frec = static_cast<uint16_t>(std::min(rec, 65535));
  hdrrec(rec);
  return rec;
}

int pcxlin(const uint8_t* data, int64_t len, int64_t* pos, uint8_t* line, PcxState* st) {
  int64_t need = static_cast<int64_t>(st->planes) * st->bpl;
  std::vector<uint8_t> raw(static_cast<size_t>(need));
  int64_t k = 0;
  int listed = 0;
  while (k < need) {
    if (st->run > 0) {
      int64_t n = std::min<int64_t>(st->run, need - k);
      std::memset(&raw[static_cast<size_t>(k)], st->val, static_cast<size_t>(n));
      k += n;
      st->run -= static_cast<int>(n);
      continue;
    }
    if (*pos >= len) return -1;
    uint8_t c = data[(*pos)++];
    if ((c & 0xC0) == 0xC0) {
      if (*pos >= len) return -1;
      st->run = c & 0x3F;
      st->val = data[(*pos)++];
      if (trcmsk & 4) {
        jprintf(dbglun, "<%dx%d>", st->run, st->val);
        if (++listed % 16 == 0) jprintf(dbglun, "\n");
      }
    } else {
      raw[static_cast<size_t>(k++)] = c;
    }
  }
  if (st->bits == 8) {
    std::memcpy(line, raw.data(), static_cast<size_t>(need));
    return static_cast<int>(need);
  }
  // Low-bit pixels, high bits first; plane p gives the p-th field.
  for (int64_t x = 0; x < st->width; x++) {
    int v = 0;
    for (int p = 0; p < st->planes; p++) {
      int64_t bit = x * st->bits;
      uint8_t b = raw[static_cast<size_t>(p * st->bpl + bit / 8)];
      int f = (b >> (8 - st->bits - bit % 8)) & ((1 << st->bits) - 1);
      v |= f << (p * st->bits);
    }
    line[x] = static_cast<uint8_t>(v);
  }
  return static_cast<int>(st->width);
}

int pcxenc(const uint8_t* row, uint8_t* out, int64_t n, int wsiz) {
  int step = std::max((wsiz & 63) / 8, 1);
  int planes = (wsiz & 63) <= 8 ? 1 : 3;
  int64_t o = 0;
  for (int p = planes - 1; p >= 0; p--) {
    for (int64_t x = 0; x < n;) {
      uint8_t v = row[x * step + p];
      int64_t r = 1;
      while (x + r < n && r < 63 && row[(x + r) * step + p] == v) r++;
      if (r > 1 || v >= 0xC0) out[o++] = static_cast<uint8_t>(0xC0 | r);
      out[o++] = v;
      x += r;
    }
    if (n & 1) out[o++] = 0;
  }
  return static_cast<int>(o);
}

int readPCX(PtrRec* dst, PtrRec* fv) {
  FilRec* f = fv ? filrec(fv) : nullptr;
  if (!dst || !f) return -1;
  std::vector<uint8_t> d;
  PcxHdr p;
  if (!readwhole(f->Lun, &d) || d.size() < 128) return -1;
  if (trcmsk)
    jprintf(dbglun, "PCX Hdr: %d %d %d %d %d,%d -> %d,%d  %d,%d %d %d %d %dx%d %d (%d %d)\n", d[0], d[1], d[2], d[3],
            g16(&d[4], false), g16(&d[6], false), g16(&d[8], false), g16(&d[10], false), g16(&d[12], false),
            g16(&d[14], false), d[65], g16(&d[66], false), g16(&d[68], false), g16(&d[8], false) - g16(&d[4], false) + 1,
            g16(&d[10], false) - g16(&d[6], false) + 1, d[64], g16(&d[70], false), g16(&d[72], false));
  if (!pcxfields(d.data(), &p)) {
    error(0, 86);
    return -1;
  }
  int64_t w = (p.width + 1) & ~int64_t{1}, h = p.height;
  // Each coded byte gives at most 63: a header never promises more.
  if (w * h > INT32_MAX / 4 || p.width * h * p.planes > 63 * static_cast<int64_t>(d.size())) {
    error(0, 86);
    return -1;
  }
  bool rgb = p.bits == 8 && p.planes == 3;
  if (p.bits == 8 && p.planes == 2) {
    error(0, 86);
    return -1;
  }
  uint8_t pal[768];  // blue, green, red
  bool havepal = false, gray = true;
  if (p.version == 5 && p.bits == 8 && p.planes == 1 && d.size() >= 128 + 769 && d[d.size() - 769] == 12) {
    const uint8_t* t = &d[d.size() - 768];
    for (int i = 0; i < 256; i++) {
      pal[3 * i] = t[3 * i + 2];
      pal[3 * i + 1] = t[3 * i + 1];
      pal[3 * i + 2] = t[3 * i];
      gray &= t[3 * i] == t[3 * i + 1] && t[3 * i] == t[3 * i + 2];
    }
    havepal = true;
    if (uint8_t* lut = imglut()) std::memcpy(lut, pal, 768);
  }
  if (!havepal)
    for (int i = 0; i < 256; i++) pal[3 * i] = pal[3 * i + 1] = pal[3 * i + 2] = static_cast<uint8_t>(i);
  int dws = dst->Wsiz;
  int code = (dws == 8 || dws == 16 || dws == 24 || dws == 32) ? dws : 8;
  int ob = code / 8;
  uint32_t table[256];
  pal2lut(pal, table, 0, code);
  std::vector<uint8_t> out(static_cast<size_t>(w * h * ob), 0);
  std::vector<uint8_t> line(static_cast<size_t>(std::max<int64_t>(int64_t{p.planes} * p.bpl, w) + 8));
  std::vector<uint8_t> px(static_cast<size_t>(w * 4));
  PcxState st{p.bits, p.planes, p.bpl, static_cast<int>(p.width), 0, 0};
  int64_t pos = 128;
  int64_t end = havepal ? static_cast<int64_t>(d.size()) - 769 : static_cast<int64_t>(d.size());
  int res = static_cast<int>(h) + 1;
  for (int64_t y = 0; y < h; y++) {
    if (pcxlin(d.data(), end, &pos, line.data(), &st) < 0) {
      res = -1;
      break;
    }
    uint8_t* o = &out[static_cast<size_t>(y * w * ob)];
    if (rgb) {
      for (int64_t x = 0; x < w; x++) {
        int64_t sx = std::min<int64_t>(x, p.width - 1);
        uint32_t v = line[sx + 2 * p.bpl] | (line[sx + p.bpl] << 8) | (line[sx] << 16);
        p32(&px[static_cast<size_t>(4 * x)], v);
      }
      line2rgb(px.data(), 32, o, code, w);
      if (code == 8)
        for (int64_t x = 0; x < w; x++) {
          int rgbv[3];
          getrgb(px.data(), 32, x, 0, 0, rgbv);
          o[x] = static_cast<uint8_t>((rgbv[0] + rgbv[1] + rgbv[2]) / 3);
        }
    } else {
      if (w > p.width) line[p.width] = line[p.width - 1];
      if (code == 8) {
        for (int64_t x = 0; x < w; x++) o[x] = (havepal && gray && p.bits == 8) ? pal[3 * line[x]] : line[x];
      } else {
        std::memcpy(o, line.data(), static_cast<size_t>(w));
        maplut(o, table, w, code);
      }
    }
  }
  uint32_t dims[3] = {static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1};
  int32_t hd = stkadr(dst);
  if (!imgstore(hd, 0, dims, code == dws ? dws : dws, code, out)) return -1;
  return res;
}

int putpcx(PtrRec* src, PtrRec* fv) {
  FilRec* f = fv ? filrec(fv) : nullptr;
  if (!src || !f) return -1;
  std::vector<uint8_t> d;
  int64_t items = 0;
  int ws = src->Wsiz;
  if ((ws != 8 && ws != 16 && ws != 24 && ws != 32) || !getraw(src, &d, &items)) {
    if (!stopped()) error(3, 103);  // a Ctrl-C during the copy stops the write
    return -1;
  }
  int64_t w = (src->Flg & 1) && src->Offs[3] ? src->Offs[3] : src->Datdims[0];
  // A line's bytes (the width made even) are a 16-bit field too.
  if (w < 1 || w > 65534) {
    error(3, 103);
    return -1;
  }
  int64_t h = items / w;
  if (h < 1 || h > 65535) {
    error(3, 103);
    return -1;
  }
  // A 16-bit source is written as 24-bit colour.
  int code = ws == 16 ? 24 : ws;
  int sb = ws / 8, cb = code / 8;
  int planes = code <= 8 ? 1 : 3;
  int64_t bpl = (w + 1) & ~int64_t{1};
  uint8_t hd[128] = {};
  hd[0] = 10;
  hd[1] = 5;
  hd[2] = 1;
  hd[3] = 8;
  p16(hd + 8, static_cast<uint32_t>(w - 1));
  p16(hd + 10, static_cast<uint32_t>(h - 1));
  p16(hd + 12, 75);
  p16(hd + 14, 75);
  hd[65] = static_cast<uint8_t>(planes);
  p16(hd + 66, static_cast<uint32_t>(bpl));
  p16(hd + 68, 1);
  p16(hd + 74, 1);
  int u = f->Lun;
  if (wrtblk(u, 0, hd, 128, 0) < 0) return -1;
  std::vector<uint8_t> enc;
  enc.reserve(static_cast<size_t>(h * (2 * planes * bpl + 4)));
  std::vector<uint8_t> row(static_cast<size_t>(w * cb)), line(static_cast<size_t>(2 * planes * bpl + 4));
  for (int64_t y = 0; y < h; y++) {
    const uint8_t* s = &d[static_cast<size_t>(y * w * sb)];
    if (ws == 16) {
      line2rgb(s, 16, row.data(), 24, w);
      s = row.data();
    }
    int n = pcxenc(s, line.data(), w, code);
    enc.insert(enc.end(), line.begin(), line.begin() + n);
  }
  if (planes == 1) {
    enc.push_back(12);
    for (int i = 0; i < 256; i++)
      for (int c = 0; c < 3; c++) enc.push_back(static_cast<uint8_t>(i));
  }
  for (size_t o = 0; o < enc.size(); o += 1 << 20) {
    int32_t n = static_cast<int32_t>(std::min<size_t>(enc.size() - o, 1 << 20));
    if (wrtblk(u, 0, enc.data() + o, n, 128 + static_cast<int64_t>(o)) < 0) return -1;
  }
  return static_cast<int>(h);
}
