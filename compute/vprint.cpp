// The printer command.
#include "compute/vprint.h"

#include "compute/arith.h"
#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/units.h"
#include "core/varbl.h"
#include "files/filecmd.h"
#include "lang/cmdcodes.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "ui/events.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
constexpr int E_NOIMAGES = 141;  // image printing is off (prflags bit 8)
constexpr int E_NOPRINTER = 185; // the printer unit has no open stream

// The data of a system table: its entry's data address and count, null when
// it has none.
const uint8_t* sysdata(const char* name, uint32_t* count, const uint32_t** hdr) {
  const int32_t e = sysent(name);
  const SymEnt* s = e > 0 ? symptr(e) : nullptr;
  if (hdr) *hdr = nullptr;
  *count = 0;
  if (!s || s->data <= 0) return nullptr;
  if (hdr) {
    // A matrix starts with its header {nx, ny, nz, items, ...}.
    const uint32_t* h = wordp(s->data);
    if (!h || h[3] == 0) return nullptr;
    *hdr = h;
    *count = h[0] * h[1];
    return reinterpret_cast<const uint8_t*>(wordp(static_cast<int32_t>(h[3])));
  }
  *count = s->value;
  return reinterpret_cast<const uint8_t*>(wordp(s->data));
}
}  // namespace

std::string prcode(int i) {
  const int32_t e = sysent("prcodes");
  const SymEnt* s = e > 0 ? symptr(e) : nullptr;
  if (!s || s->data <= 0 || i < 0 || static_cast<uint32_t>(i) >= s->value) return "";
  const uint32_t off = wordp(s->data)[i];
  if (off == 0) return "";
  const auto* el = reinterpret_cast<const uint8_t*>(wordp(s->data + static_cast<int32_t>(off)));
  if (!el) return "";
  return std::string(reinterpret_cast<const char*>(el + 1), el[0]);
}

char* vpfmt(const char* tmpl, int first, int second, const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(tmpl); *p; p++) {
    if (*p > 7)
      out += static_cast<char>(*p);
    else if (*p == 1)
      out += std::to_string(first);
    else if (*p == 2 || *p == 3)
      out += std::to_string(second);
    else if (*p >= 4 && text)
      out += text;
    if (out.size() >= LINBUF - 1) break;
  }
  out.resize(std::min<size_t>(out.size(), LINBUF - 1));
  std::memcpy(linbuf, out.c_str(), out.size() + 1);
  return linbuf;
}

int vpwrit(const char* text, int unit) {
  FILE* f = unitstream(unit);
  if (!f || !text) return 0;
  errno = 0;
  std::fwrite(text, 1, std::strlen(text), f);
  if (ferror_unlocked(f)) unitfail(unit, errno);
  return 0;
}

namespace {
// Sends a control string when it is not empty.
void sendcode(int i, FILE* f) {
  std::string s = prcode(i);
  if (!s.empty()) std::fwrite(s.data(), 1, s.size(), f);
}

// Lists a text file on the printer: the listing unit becomes the printer
// unit for this command.
int prtext() {
  if (lstlun != prtlun) {
    lstlun = prtlun;
    if (prtlun >= 0 && prtlun < NUNITS && filtab[prtlun].Nlinks > 0) filtab[prtlun].Nlinks++;
  }
  return flist(CM_PRINTER);
}
}  // namespace

int vprint() {
  int32_t h = 0;
  const int kind0 = argtyp(2, &h);
  PtrRec* r = h ? ptrrec(h) : nullptr;
  if ((kind0 & K_STRING) && !(kind0 & K_LIST)) return prtext();
  if (!r) return 0;
  int mode = intarg(3, 0);
  if (!(prflags & 8)) {
    error(0, E_NOIMAGES);
    return 0;
  }
  int kind = r->Flg & K_DATA;
  if (r->Idx <= 0) {
    if ((kind & K_IMAGE) && (mode & 1)) kind = 0;
    if (kind & K_SOLID) mode |= 0x20;
  }
  if (!(kind & K_DIMS)) return 0;
  FILE* out = unitstream(prtlun);
  if (!out) {
    error(0, E_NOPRINTER);
    return 0;
  }
  int32_t count = 0, part = 0, total = 0, wsiz = 0;
  if (!gtvarb(r, &count, &part, &total, &wsiz, 0) || count < 1) return 0;
  const bool bitimg = (mode & 0x20) != 0;
  const int32_t nx = std::max<int32_t>(1, static_cast<int32_t>(r->Offs[3]));
  const int32_t ny = std::max<int32_t>(1, static_cast<int32_t>(r->Offs[4]));
  const int32_t srccols = bitimg ? nx * 8 : nx;
  int b = bitimg ? 1 : itmbit(r->Wsiz);
  const bool rot = (mode & 2) != 0;
  const int32_t cols = rot ? ny : srccols;
  const int32_t rows = rot ? srccols : ny;

  const int elbits = itmbit(r->Wsiz);
  const bool dflt = elbits >= 2 && !(mode & 1);
  const bool wantlut = intarg(5, dflt ? 1 : 0) != 0;
  const bool wantdots = intarg(6, wantlut ? 1 : 0) != 0;
  uint32_t nlut = 0, ndots = 0;
  const uint32_t* dhdr = nullptr;
  const uint8_t* lut = wantlut ? sysdata("prlut", &nlut, nullptr) : nullptr;
  const uint8_t* dots = wantdots && (prflags & 4) ? sysdata("prdots", &ndots, &dhdr) : nullptr;
  if (!lut || nlut == 0) lut = nullptr;
  if (!dots || ndots == 0) dots = nullptr;
  const int dw = dots ? static_cast<int>(dhdr[0]) : 0;
  const int dh = dots ? static_cast<int>(dhdr[1]) : 1;
  if (trcmsk & 16) {
    if (dots) {
      jprintf(dbglun, "Dots\t%d x %d\n", dw, dh);
      for (int k = 0; k < dh; k++) {
        for (int c = 0; c < 9; c++) jprintf(dbglun, " %3d", c < dw ? dots[k * dw + c] : 0);
        jprintf(dbglun, "\n");
      }
    }
    if (lut) {
      jprintf(dbglun, "Lut %3d:", static_cast<int>(nlut));
      for (uint32_t c = 0; c < 10; c++) jprintf(dbglun, " %3d", c < nlut ? lut[c] : 0);
      jprintf(dbglun, "\n");
    }
  }
  const bool byelem = rot || lut || dots;
  const int ob = byelem ? 8 : b;
  const int p = intarg(4, dh);
  const bool convert = ob != p && !(mode & 4);
  const int32_t linebytes = static_cast<int32_t>((static_cast<int64_t>(cols - 1) * p) / 8 + 1);
  const int32_t rowbytes = static_cast<int32_t>((static_cast<int64_t>(cols - 1) * ob) / 8 + 1);
  const int32_t itembytes = std::max(1, (ob + 7) / 8);
  // Scratch buffers; a short scratch area is error 42 (reported by getbuf).
  auto* line = static_cast<uint8_t*>(getbuf(linebytes + 8));
  auto* row = static_cast<uint8_t*>(getbuf(std::max(rowbytes, cols * itembytes) + 8));
  auto* dotrow = dots ? static_cast<uint8_t*>(getbuf(cols + 8)) : nullptr;
  if (!line || !row || (dots && !dotrow)) return 0;

  // One source pixel by column and row of the source.
  auto pixel = [&](int32_t x, int32_t y) -> int32_t {
    if (bitimg) {
      setxy(r, x / 8, y, 0);
      return (igstak(r) >> (7 - x % 8)) & 1;
    }
    setxy(r, x, y, 0);
    return igstak(r);
  };
  sendcode((mode & 1) ? 8 : 3, out);
  const std::string prefix = vpfmt(prcode((mode & 1) ? 9 : 6).c_str(), linebytes, 0, "");
  std::memset(line, 0, static_cast<size_t>(linebytes));
  prgtot = static_cast<uint32_t>(rows);
  for (int32_t y = 0; y < rows && !(state & 0x8180); y++) {
    prgidx = static_cast<uint32_t>(y);
    // The row, element by element (8-bit) or in its own element size.
    if (byelem) {
      for (int32_t x = 0; x < cols; x++) {
        int32_t v = rot ? pixel(nx * (bitimg ? 8 : 1) - 1 - y, x) : pixel(x, y);
        v &= 255;
        if (lut && static_cast<uint32_t>(v) <= nlut - 1) v = lut[v];
        row[x] = static_cast<uint8_t>(v);
      }
    } else if (bitimg) {
      for (int32_t x = 0; x < nx; x++) {
        setxy(r, x, y, 0);
        row[x] = static_cast<uint8_t>(igstak(r));
      }
    } else if (b % 8 == 0) {
      for (int32_t x = 0; x < cols; x++) {
        const uint8_t* src = setxy(r, x, y, 0);
        std::memcpy(row + static_cast<size_t>(x) * (b / 8), src, static_cast<size_t>(b / 8));
      }
    } else {
      std::memset(row, 0, static_cast<size_t>(rowbytes));
      for (int32_t x = 0; x < cols; x++) {
        setxy(r, x, y, 0);
        putitm(igstak(r), row, b, x);
      }
    }
    for (int k = 0; k < dh && !(state & 0x8180); k++) {
      if (!prefix.empty()) std::fwrite(prefix.data(), 1, prefix.size(), out);
      const uint8_t* src = row;
      if (dots) {
        for (int32_t x = 0; x < cols; x++)
          dotrow[x] = row[x] < dw ? dots[k * dw + row[x]] : row[x];
        src = dotrow;
      }
      if (convert) {
        std::memset(line, 0, static_cast<size_t>(linebytes));
        wdcnvt(src, line, ob, p, cols);
      } else {
        std::memcpy(line, src, static_cast<size_t>(std::min(linebytes, rowbytes)));
      }
      std::fwrite(line, 1, static_cast<size_t>(linebytes), out);
    }
    chkio(0);
  }
  prgtot = 0;
  sendcode(4, out);
  std::fflush(out);
  return 0;
}
