// DMOD (read and write) and BMP (read): header readers and the DMOD header
// writer of file-backed variables. The pixel rows follow the header as they
// are; a reader only lays them out (setfdim).
#include <algorithm>
#include <cstring>
#include <string>

#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "files/filevar.h"
#include "files/imgcommon.h"
#include "files/safewrite.h"
#include "lang/names.h"

using namespace imgfmt;

namespace {

int refuse() {
  error(0, 86);
  return -2;
}

float gf32(const uint8_t* p) {
  uint32_t u = g32(p, false);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

}  // namespace

int dmodhdr(PtrRec* r, int swap, int unit, uint8_t* hdr, int wflag, int32_t) {
  if (wflag >= 1) return 0;  // a write: the writer makes the header
  bool be = swap != 0;
  int64_t flen = unitlen(unit);
  if (flen < 400) return refuse();
  uint32_t ftype = g32(hdr + 16, be);
  uint8_t main[400];
  if (rdblk(unit, 0, main, 400, 0) != 400) return refuse();
  uint32_t nrecs = g32(main + 284, be), rsiz = g32(main + 288, be);
  uint32_t h2 = g32(main + 388, be), h2size = g32(main + 392, be), data0 = g32(main + 396, be);
  bool print = wflag < 0;
  if (print)
    jprintf(lstlun, "DMOD: Ftype= %ld  Data0=%ld  Hdr2=%ld  Hdr2Size=%ld  Nrecs=%ld  Rsiz=%ld\n", static_cast<long>(ftype),
            static_cast<long>(data0), static_cast<long>(h2), static_cast<long>(h2size), static_cast<long>(nrecs),
            static_cast<long>(rsiz));
  if (ftype == 22) {
    if (print) jprintf(lstlun, "  paradigm file format\n");
    return -1;
  }
  uint8_t s[224];
  if (int64_t{h2} + 224 > flen || data0 > flen || rdblk(unit, 0, s, 224, h2) != 224) return refuse();
  int64_t nx = g32(s, be) >> 16, ny = g32(s + 4, be) >> 16;
  int64_t e3 = g32(s + 8, be), e4 = g32(s + 12, be);
  int order = s[16], orient = s[17], link = s[18], et = s[19];
  int64_t sz = g32(s + 20, be), st = g32(s + 24, be);
  bool cplx = et & 4;
  int wsiz = (et & 3) == 2 ? 96 : ((et & 3) + 1) * 8;
  if (cplx) nx *= 2;
  // The sizes in the header are checked as they are multiplied: the data
  // must lie in the file.
  int64_t nz = 0, items = 0, bytes = 0;
  if (nx < 1 || ny < 1 || __builtin_mul_overflow(std::max<int64_t>(sz, 1), std::max<int64_t>(st, 1), &nz) ||
      nz > INT32_MAX || __builtin_mul_overflow(nx * ny, nz, &items) ||
      __builtin_mul_overflow(items, (wsiz & 63) / 8, &bytes) || bytes > flen - int64_t{data0})
    return refuse();
  int rec = setfdim(r, nx, ny, nz, wsiz, data0, 1);
  if (rec < 0) return refuse();
  if (FilRec* f = filrec(r)) f->Frec = static_cast<uint16_t>(std::min(rec, 65535));
  if (print) {
    jprintf(lstlun, "   %ld x %ld x %ld x %ld%s pixels (%ld x %ld slices)  %d wdsiz  --> RSIZ=%d\n", static_cast<long>(nx),
            static_cast<long>(ny), static_cast<long>(e3), static_cast<long>(e4), cplx ? " COMPLEX" : "",
            static_cast<long>(sz), static_cast<long>(st), wsiz, rec);
    jprintf(lstlun, "   Order: %d   Orientation: %d    Vector flag: %d  VDim: %d\n", order, orient, g16(s + 64, be),
            static_cast<int16_t>(g16(s + 66, be)));
    jprintf(lstlun, "   Origins (XYZT): %6.3f %6.3f %6.3f %6.3f\n", gf32(s + 44), gf32(s + 48), gf32(s + 52), gf32(s + 56));
    jprintf(lstlun, "   Deltas  (XYZT): %6.3f %6.3f %6.3f %6.3f   ZGap: %6.3f\n", gf32(s + 28), gf32(s + 32), gf32(s + 36),
            gf32(s + 40), gf32(s + 60));
    jprintf(lstlun, "   Linkflg: %d  Linkptr: %ld\n", link, static_cast<long>(g32(s + 92, be)));
  }
  auto field = [](const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), n)); };
  std::string text = field(main, 16) + "\n";
  std::string prod = field(main + 28, 256), com = field(main + 292, 80);
  if (!prod.empty()) text += prod + "\n";
  if (!com.empty()) text += com + "\n";
  if (print)
    jprintf(lstlun, "Comments:\n%s", text.c_str());
  else
    setstrv("rdhdr", text.c_str());
  hdrrec(rec);
  return rec;
}

int putdmod(PtrRec* r, int unit, int32_t) {
  FilRec* f = filrec(r);
  if (!f) return 0;
  uint32_t nx = r->Datdims[0], ny = std::max<uint32_t>(r->Datdims[1], 1), nz = std::max<uint32_t>(r->Datdims[2], 1);
  int bits = r->Wsiz & 63;
  int bytes = std::max(bits / 8, 1);
  if (nx < 1 || bits == 0) return 0;
  // The second header holds the width and height in 16 bits and the main
  // header the bytes of a slice in 32: a larger image has no DMOD header.
  if (nx > 65535 || ny > 65535 || uint64_t{nx} * ny * bytes > UINT32_MAX) {
    error(wrtarg ? 3 : 0, 144);
    return 0;
  }
  uint8_t m[400] = {}, s[224] = {};
  std::strcpy(reinterpret_cast<char*>(m), (f->Flg & FF_TYPE) == FT_DMPX ? "DMPelix 1" : "#!DMOD_1.0");
  p32(m + 16, 23);
  p32(m + 24, 1);
  std::memcpy(m + 28, "PELIX", 5);
  p32(m + 284, nz);
  p32(m + 288, nx * ny * static_cast<uint32_t>(bytes));
  std::string com = strvar("wrthdr");
  std::memcpy(m + 292, com.data(), std::min<size_t>(com.size(), 79));
  p32(m + 388, 400);
  p32(m + 392, 224);
  p32(m + 396, 624);
  p16(s + 2, nx);
  p16(s + 6, ny);
  s[19] = static_cast<uint8_t>(r->Wsiz == 96 ? 2 : bytes - 1);
  p32(s + 20, nz);
  p32(s + 24, 1);
  int w = wrtblk(unit, 0, m, 400, 0);
  if (w < 0) return w;
  w = wrtblk(unit, 0, s, 224, 400);
  if (w < 0) return w;
  r->Mptr = 624;
  return w;
}

int bmphdr(PtrRec* r, int swap, int unit, uint8_t* hdr, int wflag, int32_t) {
  if (wflag >= 1) return 0;
  bool be = swap != 0;
  int64_t flen = unitlen(unit);
  if (flen < 30) return refuse();
  uint32_t fsize = g32(hdr + 2, be), off = g32(hdr + 10, be), hsize = g32(hdr + 14, be);
  int64_t w = static_cast<int32_t>(g32(hdr + 18, be));
  int64_t h = static_cast<int32_t>(g32(hdr + 22, be));
  int planes = g16(hdr + 26, be), bits = g16(hdr + 28, be);
  uint32_t comp = flen >= 34 ? g32(hdr + 30, be) : 0;
  if (wflag < 0) {
    jprintf(lstlun, "BITMAP: Fsize= %ld  Data0=%ld  Hsize=%ld\n", static_cast<long>(fsize), static_cast<long>(off),
            static_cast<long>(hsize));
  }
  // A negative height is a top-down bitmap: its rows are as many.
  if (h < 0) h = -h;
  if (w < 1 || h < 1 || off > flen || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
      (comp != 0 && comp != 3))
    return refuse();
  int64_t row = (w * bits + 7) / 8;
  int64_t padded = (row + 3) & ~int64_t{3};
  int64_t frame = 0;
  // A frame the header's sizes cannot describe is refused (w and h are
  // below 2^31, a row below 2^34 bytes: the product is checked).
  if (__builtin_mul_overflow(padded, h, &frame)) return refuse();
  int64_t nz = frame > 0 ? (flen - off) / frame : 1;
  if (nz < 1) nz = 1;
  int rec = setfdim(r, w, h, nz, bits, off, 4);
  if (rec < 0) return refuse();
  if (FilRec* f = filrec(r)) f->Frec = static_cast<uint16_t>(std::min(rec, 65535));
  if (wflag < 0) {
    jprintf(lstlun, "  Data: %ld x %ld  pixels,  %d bits/pixel --> RSIZ=%d\n", static_cast<long>(w), static_cast<long>(h), bits,
            rec);
    if (flen >= 54)
      jprintf(lstlun, "  Nplanes: %d  Compress: %ld  Bmapsize: %ld  Xres: %ld Yres: %ld  Ncols: %ld %ld\n", planes,
              static_cast<long>(comp), static_cast<long>(g32(hdr + 34, be)), static_cast<long>(g32(hdr + 38, be)),
              static_cast<long>(g32(hdr + 42, be)), static_cast<long>(g32(hdr + 46, be)),
              static_cast<long>(g32(hdr + 50, be)));
  }
  hdrrec(rec);
  return rec;
}
