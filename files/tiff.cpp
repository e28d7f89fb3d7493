// TIFF: the header writer of file-backed variables (always little-endian,
// one image file directory) and the reader of a file's first directory in
// either byte order. Tags 33332 (full word size code) and 33333 (slices) are
// private. Compression 32773 here names the system's own run-length code.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "files/filevar.h"
#include "files/imgcommon.h"
#include "files/safewrite.h"
#include "lang/names.h"
#include "ui/draw.h"
#include "ui/screen.h"

using namespace imgfmt;


namespace imgfmt {

int tifrgb = 0;
int tifphot = -1;
bool tifunsig = false;

int64_t unitlen(int unit) {
  FILE* fp = unitstream(unit);
  if (!fp) return -1;
  fflush(fp);
  if (fseeko(fp, 0, SEEK_END) != 0) return -1;
  return ftello(fp);
}

uint8_t* imglut() {
  int32_t a = sysent("imglut");
  auto* e = a > 0 ? static_cast<SymEnt*>(stkptr(a)) : nullptr;
  if (!e || e->data <= 0 || e->value < 768) return nullptr;
  return static_cast<uint8_t*>(stkptr(e->data));
}

int64_t winitems(const PtrRec* r) {
  int64_t n = 1;
  for (int k = 0; k < 3; k++) {
    uint32_t e = r->Offs[3 + k] ? r->Offs[3 + k] : r->Datdims[k];
    if (e > 0) n *= e;
  }
  return n;
}

}  // namespace imgfmt

namespace {

void tifent(uint8_t* e, int tag, int type, uint32_t count, uint32_t value) {
  if (type == 3 && value > 65535) type = 4;
  p16(e, tag);
  p16(e + 2, type);
  p32(e + 4, count);
  if (type == 3 && count == 1) {
    p32(e + 8, 0);
    p16(e + 8, value);
  } else {
    p32(e + 8, value);
  }
}

// A new row index of n strips: the block's first word is the offsets
// column's file position; the Strip field addresses the count word.
uint32_t* newidx(FilRec* f, int64_t n, uint32_t colpos) {
  if (f->Strip > 0) freblk(f->Strip);
  f->Strip = 0;
  int64_t words = 2 * n + 2;
  if (words > INT32_MAX / 8) return nullptr;
  int32_t a = 0;
  if (getstk(&a, static_cast<int32_t>(words), 4, 1, 0) < 1 || !a) return nullptr;
  auto* w = static_cast<uint32_t*>(stkptr(a));
  std::memset(w, 0, static_cast<size_t>(words) * 4);
  w[0] = colpos;
  w[1] = static_cast<uint32_t>(n);
  f->Strip = a + 1;
  return w + 1;
}

}  // namespace

int settif(PtrRec* r, int unit, int32_t) {
  FilRec* f = filrec(r);
  BufRec* b = bufrec(r);
  if (!f) return -1;
  int bits = r->Wsiz & 63;
  int64_t nx = r->Datdims[0], ny = std::max<uint32_t>(r->Datdims[1], 1),
          nz = std::max<uint32_t>(r->Datdims[2], 1);
  if (nx < 1 || bits == 0) return -1;
  // A file that already holds data without a TIFF header stays as it is:
  // its data would otherwise lie under the new header.
  if (unitlen(unit) > 0) {
    uint8_t m[4] = {};
    if (rdblk(unit, 0, m, 4, 0) != 4 || !(m[0] == 0x49 && m[1] == 0x49 && m[2] == 0x2A && m[3] == 0)) {
      return 0;
    }
  }
  bool vec = (f->Flg & FF_TYPE) == FT_VEC;
  int pm = f->Flg & FF_PACK;
  bool b8 = bits == 8 && !vec;
  std::string desc = vec ? "" : strvar("wrthdr");
  if (desc.size() > 450) desc.resize(450);
  bool wide = (r->Wsiz & (64 | 128)) != 0;
  bool solid = (r->Flg & K_SOLID) != 0;

  // Rows are padded to whole bytes (ImageWidth stays nx).
  int64_t row = (nx * bits + 7) / 8;
  int64_t total = row * ny * nz;
  // Strip offsets are 32 bits: larger data has no TIFF header (and is never
  // written raw under the TIFF's name).
  if (total > UINT32_MAX / 2) {
    error(wrtarg ? 3 : 0, 144);
    return -1;
  }
  int64_t strip = b && b->Rsiz > 0 ? b->Rsiz : (row > 10240 || row == 0 ? 10240 : 10240 / row * row);
  int64_t rps = b && b->Bufdims[1] > 0 ? b->Bufdims[1] : strip / row;
  if (rps >= 1) strip = rps * row;
  // Records are counted in 16 bits: a strip stays below 64 KB (whole rows).
  if (strip > 65535) {
    rps = std::max<int64_t>(1, 65535 / row);
    strip = rps * row;
  }
  if (rps < 1) {
    // A strip holds whole rows, at least one.
    rps = 1;
    strip = row;
  }
  int64_t ns = vec ? 1 : (total + strip - 1) / strip;
  if (vec) strip = total;
  if (ns < 1) ns = 1;

  // 24-bit pixels are written as three 8-bit samples, red first, so that
  // other programs see colour (the reader turns them back).
  bool rgb = bits == 24 && !vec;
  // Other programs learn float and signed samples from SampleFormat (the
  // system's own reading goes by the word size code).
  int sfmt = vec ? 0 : r->Wsiz == 96 ? 3 : (r->Wsiz == 16 || r->Wsiz == 32) ? 2 : 0;
  int n = vec ? 4 : 11 + (b8 ? 1 : 0) + (desc.empty() ? 0 : 1) + (rgb ? 1 : 0) + (sfmt ? 1 : 0);
  n += (wide ? 1 : 0) + (solid ? 1 : 0);
  int64_t p = 12 * (vec ? 6 : n) + 14;
  int64_t descpos = 0, softpos = 0, bpspos = 0, offpos = 0, lenpos = 0, mappos = 0;
  if (!vec) {
    if (!desc.empty()) {
      descpos = p;
      p += static_cast<int64_t>(desc.size()) + 1;
    }
    softpos = p;
    p = (p + 9) & ~int64_t{3};
    if (rgb) {
      bpspos = p;
      p += 8;
    }
    if (ns >= 2) {
      offpos = p;
      lenpos = p + 4 * ns;
      p += 8 * ns;
    }
    if (b8) {
      mappos = p;
      p += 1536;
    }
  }
  int64_t data0 = p;
  if (data0 + total > UINT32_MAX) {
    error(wrtarg ? 3 : 0, 144);
    return -1;
  }

  uint32_t* idx = newidx(f, ns, static_cast<uint32_t>(offpos));
  if (!idx) {
    error(0, 42);
    return -1;
  }
  for (int64_t k = 0; k < ns; k++) {
    idx[1 + k] = static_cast<uint32_t>(data0 + k * strip);
    idx[1 + ns + k] = static_cast<uint32_t>(k + 1 < ns ? strip : total - k * strip);
  }

  std::vector<uint8_t> h(static_cast<size_t>(vec ? data0 : rgb ? bpspos + 6 : softpos + 6), 0);
  h[0] = h[1] = 0x49;
  h[2] = 0x2A;
  p32(&h[4], 8);
  p16(&h[8], n);
  uint8_t* e = &h[10];
  auto ent = [&](int tag, int type, uint32_t count, uint32_t value) {
    tifent(e, tag, type, count, value);
    e += 12;
  };
  if (!vec) ent(254, 3, 1, 0);
  ent(256, 3, 1, static_cast<uint32_t>(nx));
  ent(257, 3, 1, static_cast<uint32_t>(ny * (solid ? 1 : nz)));
  if (rgb)
    ent(258, 3, 3, static_cast<uint32_t>(bpspos));
  else
    ent(258, 3, 1, bits);
  if (!vec) ent(259, 3, 1, pm == 1 ? 5 : pm == 2 ? 32773 : 1);
  // Every image names its photometric kind (palette for 8 bits, else gray):
  // readers of other programs refuse a file without it.
  if (!vec) ent(262, 3, 1, b8 ? 3 : rgb ? 2 : 1);
  if (!vec && !desc.empty()) ent(270, 2, static_cast<uint32_t>(desc.size() + 1), static_cast<uint32_t>(descpos));
  ent(273, 4, static_cast<uint32_t>(ns), static_cast<uint32_t>(ns >= 2 ? offpos : data0));
  if (rgb) ent(277, 3, 1, 3);
  if (!vec) {
    ent(278, 3, 1, static_cast<uint32_t>(rps));
    ent(279, 4, static_cast<uint32_t>(ns), static_cast<uint32_t>(ns >= 2 ? lenpos : total));
    ent(305, 2, 6, static_cast<uint32_t>(softpos));
    ent(317, 3, 1, pm == 3 ? 2 : 1);
  }
  if (b8) ent(320, 3, 768, static_cast<uint32_t>(mappos));
  if (sfmt) ent(339, 3, 1, static_cast<uint32_t>(sfmt));
  if (wide) ent(33332, 4, 1, static_cast<uint32_t>(r->Wsiz));
  if (solid) ent(33333, 4, 1, static_cast<uint32_t>(nz));
  if (!vec) {
    if (!desc.empty()) std::memcpy(&h[static_cast<size_t>(descpos)], desc.data(), desc.size());
    std::memcpy(&h[static_cast<size_t>(softpos)], "PELIX", 6);
    for (int k = 0; rgb && k < 3; k++) p16(&h[static_cast<size_t>(bpspos + 2 * k)], 8);
  }
  if (wrtblk(unit, 0, h.data(), static_cast<int32_t>(h.size()), 0) < 0) return -1;
  if (ns >= 2) {
    std::vector<uint8_t> a(static_cast<size_t>(8 * ns));
    for (int64_t k = 0; k < 2 * ns; k++) p32(&a[static_cast<size_t>(4 * k)], idx[1 + k]);
    if (wrtblk(unit, 0, a.data(), static_cast<int32_t>(a.size()), offpos) < 0) return -1;
  }
  if (b8) {
    uint8_t m[1536];
    const uint8_t* lut = imglut();
    bool any = false;
    for (int i = 0; lut && i < 768; i++) any |= lut[i] != 0;
    // On an 8-bit screen the map is the screen's palette (blue, green, red
    // and a zero byte an entry), as the image is seen there.
    uint8_t pal[256 * 4];
    const bool scr = scrbits == 8 && PClut(0, pal, 256, 1, 4) == 256;
    for (int i = 0; i < 256; i++) {
      // A palette never set is the gray ramp: an all-black map shows nothing.
      int rr = any ? lut[3 * i + 2] : i, gg = any ? lut[3 * i + 1] : i, bb = any ? lut[3 * i] : i;
      if (scr) rr = pal[4 * i + 2], gg = pal[4 * i + 1], bb = pal[4 * i];
      p16(&m[2 * i], static_cast<uint32_t>(rr * 257));
      p16(&m[512 + 2 * i], static_cast<uint32_t>(gg * 257));
      p16(&m[1024 + 2 * i], static_cast<uint32_t>(bb * 257));
    }
    if (wrtblk(unit, 0, m, 1536, mappos) < 0) return -1;
  }
  // Rows are padded to whole bytes: the variable keeps its width, its
  // blocks hold the pad items.
  setfdim(r, nx, ny, nz, r->Wsiz, data0, 0);
  // One strip is contiguous: it moves in records of any size (a vector
  // file's in records of 128 vectors). Strips of a table move one a record.
  int64_t rec = strip;
  if (ns == 1) rec = std::min<int64_t>(total, vec ? 1024 : b && b->Rsiz > 0 ? b->Rsiz : 10240);
  f->Frec = static_cast<uint16_t>(std::min<int64_t>(rec, 65535));
  hdrrec(static_cast<int32_t>(rec));
  return 1;
}

int tiflens(int unit, const uint32_t* idx) {
  uint8_t c[2];
  if (rdblk(unit, 0, c, 2, 8) != 2) return -1;
  int n = g16(c, false);
  std::vector<uint8_t> e(static_cast<size_t>(12 * n));
  if (n < 1 || rdblk(unit, 0, e.data(), 12 * n, 10) != 12 * n) return -1;
  int64_t ns = idx[0];
  for (int i = 0; i < n; i++) {
    const uint8_t* t = &e[static_cast<size_t>(12 * i)];
    if (g16(t, false) != 279) continue;
    if (g16(t + 2, false) != 4 || g32(t + 4, false) != ns) return -1;
    std::vector<uint8_t> v(static_cast<size_t>(4 * ns));
    for (int64_t k = 0; k < ns; k++) p32(&v[static_cast<size_t>(4 * k)], idx[1 + ns + k]);
    int64_t at = ns == 1 ? 10 + 12 * i + 8 : g32(t + 8, false);
    return wrtblk(unit, 0, v.data(), static_cast<int32_t>(v.size()), at) < 0 ? -1 : 0;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Reading.

namespace {

struct TagVal {
  std::vector<uint32_t> v;  // values (RATIONAL: numerator, denominator pairs)
};

const char* label(int tag) {
  switch (tag) {
    case 262: return "Photo Interp: %ld\n";
    case 263: return "Threshold: %ld\n";
    case 264: return "Dither width: %ld\n";
    case 265: return "Dither height: %ld\n";
    case 266: return "Bit order: %ld\n";
    case 274: return "Orientation: %ld\n";
    case 277: return "Samples per pixel: %ld\n";
    case 280: return "Min data value:";
    case 281: return "Max data value:";
    case 282: return "Horiz pix/inch: %ld/%ld\n";
    case 283: return "Vert pix/inch: %ld/%ld\n";
    case 284: return "Planar config: %ld\n";
    case 286: return "X Position: %ld/%ld\n";
    case 287: return "Y Position: %ld/%ld\n";
    case 288: return "Free offset: %ld\n";
    case 289: return "Free size: %ld\n";
    case 290: return "Gray response unit: %ld\n";
    case 291: return "Gray response curve:";
    case 292: return "Group 3 options: %ld\n";
    case 293: return "Group 4 options: %ld\n";
    case 296: return "Resolution unit: %ld\n";
    case 297: return "Page number: %ld\n";
    case 301: return "Color response curve:";
    case 318: return "White Point:";
    case 319: return "Primary chrom.:";
    default: return nullptr;
  }
}

int refuse() {
  error(0, 86);
  return -2;
}

// A refusal that says on the error unit which feature of the file (unit)
// is not read: "t.tif: tiled TIFF is not read".
int refuse(int unit, const char* what) {
  const char* name = unit >= 0 && unit < NUNITS ? filtab[unit].name : "";
  const char* base = std::strrchr(name, '/');
  jprintf(errlun, "%s: %s is not read\n", base ? base + 1 : name, what);
  return refuse();
}

}  // namespace

int tifftags(PtrRec* r, int swap, int unit, uint8_t* hdr, int wflag, int32_t) {
  FilRec* f = filrec(r);
  if (!f) return -1;
  if (wflag >= 1) return 0;  // a write: the writer makes the header
  // A file that is TIFF by its name alone is read in the writer's byte
  // order (little-endian): a damaged magic does not make it raw data.
  bool be = swap != 0;
  int64_t flen = unitlen(unit);
  if (flen < 8) return refuse(unit, "TIFF cut short");
  uint32_t ifd = g32(hdr + 4, be);
  uint8_t cb[2];
  const uint8_t* cp;
  if (int64_t{ifd} + 2 <= 512) {
    cp = hdr + ifd;
  } else {
    if (ifd + int64_t{2} > flen || rdblk(unit, 0, cb, 2, ifd) != 2) return refuse(unit, "TIFF cut short");
    cp = cb;
  }
  int64_t nent = g16(cp, be);
  if (nent < 1) return refuse();
  if (int64_t{ifd} + 2 + 12 * nent > flen) return refuse(unit, "TIFF cut short");
  std::vector<uint8_t> ents(static_cast<size_t>(12 * nent));
  if (rdblk(unit, 0, ents.data(), static_cast<int32_t>(ents.size()), ifd + 2) != static_cast<int>(ents.size()))
    return refuse();
  bool list = trcmsk & 16;
  // BitsPerSample is 1 when the file does not give it (TIFF's default, as
  // bilevel images are written), for each of its samples.
  int nsamp = 1, photo = -1, sfmt = 0, planar = 1, sbits = 1, spp = 1, fill = 1;
  bool havebits = false, tiled = false;
  tifunsig = false;
  tifrgb = 0;
  tifphot = -1;
  tifcomp = tifpred = 0;
  int64_t nx = 0, ny = 1, nz = 1, wsiz = 1, full = 0, rps = 0;
  int kind = 0, pm = 0, pred = 0;
  long comp = 1;
  bool slices = false, ours = false;
  std::vector<uint32_t> offs, lens;
  bool haveoff = false, havelen = false;
  uint32_t offcol = 0;
  std::string text;
  for (int64_t i = 0; i < nent; i++) {
    const uint8_t* e = &ents[static_cast<size_t>(12 * i)];
    int tag = g16(e, be), type = g16(e + 2, be);
    uint32_t cnt = g32(e + 4, be);
    int es = (type == 3 || type == 8) ? 2 : (type == 4 || type == 9 || type == 11) ? 4
           : (type == 5 || type == 10 || type == 12) ? 8 : 1;
    int64_t size = static_cast<int64_t>(es) * cnt;
    std::vector<uint8_t> raw;
    const uint8_t* vp = e + 8;
    uint32_t vfield = g32(e + 8, be);
    if (size > 4) {
      if (size > flen || vfield + size > flen) return refuse(unit, "TIFF cut short");
      raw.resize(static_cast<size_t>(size));
      if (rdblk(unit, 0, raw.data(), static_cast<int32_t>(size), vfield) != size) return refuse();
      vp = raw.data();
    }
    std::vector<uint32_t> v;
    if (type != 2) {
      int64_t nv = (es == 8 ? 2 : 1) * static_cast<int64_t>(cnt);
      v.resize(static_cast<size_t>(nv));
      for (int64_t k = 0; k < nv; k++)
        v[static_cast<size_t>(k)] = es == 1 ? vp[k] : es == 2 ? g16(vp + 2 * k, be) : g32(vp + 4 * k, be);
    }
    long val = v.empty() ? static_cast<long>(vfield) : static_cast<long>(v[0]);
    if (list)
      jprintf(dbglun, "Tag: %5ld Type:%2d  Size:%d  Leng:%4d  NN:%3d  Val:%ld  Ntags:%d I:%d\n", static_cast<long>(tag),
              type, es, static_cast<int>(cnt), static_cast<int>(size), val, static_cast<int>(nent), static_cast<int>(i));
    if (type == 2) {
      if (cnt >= 2 && text.size() < 512) {
        std::string s(reinterpret_cast<const char*>(vp), static_cast<size_t>(size));
        s = s.substr(0, s.find('\0'));
        if (tag == 305 && s == "PELIX") ours = true;
        if (!text.empty()) text += '\n';
        text += s;
        if (text.size() > 511) text.resize(511);
      }
      continue;
    }
    if (v.empty()) continue;
    if (tag == 266) fill = static_cast<int>(val);  // listed below as "Bit order"
    switch (tag) {
      case 254:
      case 255: break;
      case 256:
        nx = v[0];
        kind |= K_ARRAY;
        break;
      case 257:
        ny = v[0];
        if (ny > 1) kind |= K_MATRIX;
        break;
      case 258: {
        havebits = true;
        int64_t s = 0;
        for (uint32_t x : v) s += x;
        wsiz = s;
        nsamp = static_cast<int>(v.size());
        sbits = static_cast<int>(v[0]);
        for (uint32_t x : v)
          if (static_cast<int>(x) != sbits) sbits = -1;
        break;
      }
      case 339:
        sfmt = static_cast<int>(val);
        break;
      case 277:
        spp = static_cast<int>(std::clamp<long>(val, 1, 65535));
        if (list) jprintf(dbglun, "Samples per pixel: %ld\n", val);
        break;
      case 322: case 323: case 324: case 325:
        tiled = true;
        if (list) jprintf(dbglun, "Unrecognized tag: %d   Val=%ld\n", tag, val);
        break;
      case 284:
        planar = static_cast<int>(val);
        if (list) jprintf(dbglun, "Planar config: %ld\n", val);
        break;
      case 259:
        comp = val;
        if (val == 5) pm = (pm & ~1) | 1;
        if (val == 32773) pm = (pm & ~3) | 2;
        if (list) jprintf(dbglun, "Compression: %ld\n", val);
        break;
      case 273:
        haveoff = true;
        offcol = cnt > 1 ? vfield : 0;
        offs = v;
        break;
      case 278:
        rps = val;
        break;
      case 279:
        if (!haveoff) return refuse();
        havelen = true;
        lens = v;
        break;
      case 262:
        photo = static_cast<int>(val);
        if (list) jprintf(dbglun, "Photo Interp: %ld\n", val);
        break;
      case 317:
        pred = static_cast<int>(val);
        if (val == 2) pm |= 3;
        break;
      case 320: {
        uint8_t* lut = imglut();
        int64_t third = static_cast<int64_t>(v.size()) / 3, m = std::min<int64_t>(third, 256);
        if (lut) {
          std::memset(lut, 0, 768);
          for (int64_t k = 0; k < m; k++) {
            lut[3 * k + 2] = static_cast<uint8_t>(v[static_cast<size_t>(k)] >> 8);
            lut[3 * k + 1] = static_cast<uint8_t>(v[static_cast<size_t>(third + k)] >> 8);
            lut[3 * k] = static_cast<uint8_t>(v[static_cast<size_t>(2 * third + k)] >> 8);
          }
        }
        if (trcmsk) jprintf(dbglun, "TIFF Color map: %d at %ld\n", static_cast<int>(cnt), static_cast<long>(vfield));
        break;
      }
      case 33332:
        full = val;
        if (val & (8 | 128)) kind |= K_VECTOR | K_MATRIX;
        break;
      case 33333:
        nz = val;
        slices = true;
        kind |= K_SOLID;
        break;
      default:
        if (!list) break;
        if (const char* l = label(tag)) {
          bool two = std::strstr(l, "/%ld") != nullptr;
          if (std::strchr(l, '%')) {
            jprintf(dbglun, l, val, two && v.size() > 1 ? static_cast<long>(v[1]) : 0L);
          } else {
            jprintf(dbglun, "%s", l);
            if (cnt == 1) {
              if (es == 8)
                jprintf(dbglun, " %ld/%ld\n", val, static_cast<long>(v[1]));
              else
                jprintf(dbglun, " %ld\n", val);
            } else {
              jprintf(dbglun, "\n");
            }
          }
        } else {
          jprintf(dbglun, "Unrecognized tag: %d   Val=%ld\n", tag, val);
        }
    }
  }
  if (wflag >= 0 && !text.empty()) setstrv("rdhdr", text.c_str());
  if (!havebits && spp > 1) {
    nsamp = spp;
    wsiz = spp;
  }
  if (tiled && (!haveoff || offs.empty())) return refuse(unit, "tiled TIFF");
  if (!haveoff || offs.empty()) return refuse();
  if (comp == 8 || comp == 32946) return refuse(unit, "Deflate TIFF");
  if (planar == 2 && nsamp > 1) return refuse(unit, "TIFF with separate planes");
  // Samples of fewer than 8 bits whose bytes begin at their low bit would
  // be read in the wrong order.
  if (fill == 2 && wsiz < 8) return refuse(unit, "TIFF with its bits low bit first (FillOrder 2)");
  // Compressed strips of other programs are decoded by the read command;
  // a code this reader does not know is refused, never read as pixels.
  tifcomp = tifpred = 0;
  if (comp != 1 && !(ours && (comp == 5 || comp == 32773))) {
    if (comp != 5 && comp != 32773) {
      char what[48];
      std::snprintf(what, sizeof what, "TIFF compression %ld", comp);
      return refuse(unit, what);
    }
    if (!tifallow) return refuse();
    tifcomp = static_cast<int>(comp);
    tifpred = pred;
    pm = 0;
  }
  // Samples the system's pixels cannot hold are refused, never read as
  // wrong pixels: planes stored apart, colour of other than three 8-bit
  // samples, floats of other than 32 bits.
  if ((planar == 2 && nsamp > 1) || (nsamp > 1 && (nsamp != 3 || sbits != 8)) ||
      (sfmt == 3 && !full && wsiz != 32) || (!full && wsiz > 32))
    return refuse();
  if (sfmt == 3 && !full) wsiz = 96;
  // Samples of another program are unsigned unless it says otherwise; the
  // system's own files hold signed ones.
  tifunsig = (sfmt == 1 || (sfmt == 0 && !ours)) && !full && (wsiz == 16 || wsiz == 32);
  if (full) wsiz = full;
  tifrgb = nsamp == 3 && wsiz == 24 && photo == 2;
  tifphot = photo;
  int bits = static_cast<int>(wsiz & 63);
  if (nx < 1 || ny < 1 || nz < 1 || bits == 0 || wsiz > 0x7FFF) return refuse();
  // Differences are undone for byte samples only.
  if (tifcomp && tifpred == 2 && bits != 8 && bits != 24 && bits != 16 && bits != 32) return refuse();
  if (tifcomp && tifpred > 2) return refuse();  // the floating-point predictor
  int64_t rowbits = nx * bits;
  int64_t row = (rowbits + 7) / 8;
  int64_t rows = 0, bytes = 0;
  if (row > INT32_MAX / 4 || __builtin_mul_overflow(ny, nz, &rows) || rows > INT32_MAX ||
      __builtin_mul_overflow(row, rows, &bytes) || bytes > (int64_t{1} << 40))
    return refuse();
  int64_t ns = static_cast<int64_t>(offs.size());
  if (havelen && static_cast<int64_t>(lens.size()) != ns) return refuse();
  if (!havelen) {
    lens.assign(static_cast<size_t>(ns), 0);
    if (ns > 1) std::fill(lens.begin(), lens.end(), static_cast<uint32_t>(std::min<int64_t>(
                    (rps > 0 ? rps : ny) * row, UINT32_MAX)));
  }
  if (ns == 1 && lens[0] == 0) lens[0] = static_cast<uint32_t>(std::min<int64_t>(row * ny * (slices ? nz : 1), UINT32_MAX));
  // Every strip lies inside the file (a packed strip starts inside it).
  int64_t maxlen = 0;
  for (int64_t k = 0; k < ns; k++) {
    int64_t o = offs[static_cast<size_t>(k)], l = lens[static_cast<size_t>(k)];
    if (o > flen || ((pm & 3) == 0 && o + l > flen)) return refuse(unit, "TIFF cut short");
    maxlen = std::max(maxlen, l);
  }
  // The system's own files with run-length strips: PackBits whose lengths
  // are the packed ones (strips one after another, the last ending the
  // file), else the older files in the system's own code, whose lengths
  // are those of the unpacked strips.
  f->Mod = static_cast<uint16_t>(f->Mod & ~FM_OWNRLE);
  if (ours && comp == 32773) {
    bool pb = static_cast<int64_t>(offs[static_cast<size_t>(ns - 1)]) + lens[static_cast<size_t>(ns - 1)] == flen;
    for (int64_t k = 0; k + 1 < ns && pb; k++)
      pb = static_cast<int64_t>(offs[static_cast<size_t>(k)]) + lens[static_cast<size_t>(k)] == offs[static_cast<size_t>(k + 1)];
    if (!pb) f->Mod = static_cast<uint16_t>(f->Mod | FM_OWNRLE);
  }
  bool pbits = ours && comp == 32773 && !(f->Mod & FM_OWNRLE);
  int64_t rec;
  if (pbits) {
    // A record is a strip as it unpacks; rows that do not fill whole bytes
    // are padded as in plain strips (the variable keeps its width: the
    // blocks hold the pad items).
    int64_t rows = ny * nz;
    rec = (ns == 1 ? rows : std::min(rps > 0 ? rps : rows, rows)) * row;
    f->Pad = static_cast<int8_t>(rowbits % 8 ? 8 - rowbits % 8 : 0);
  } else if (rowbits % 8) {
    f->Pad = static_cast<int8_t>(8 - rowbits % 8);
    rec = ns == 1 ? row : maxlen;
  } else if (ns == 1 && (pm & 3) == 0 && lens[0] > 10240) {
    int64_t k = std::max<int64_t>(1, 10240 / row);
    if ((nx & 1) && (k & 1)) k = k == 1 ? 2 : k - 1;
    if (bits != 8)
      while (k * row > 10240 && k >= 2) k /= 2;
    rec = k * row;
    f->Pad = 0;
  } else {
    rec = maxlen;
    f->Pad = 0;
  }
  if (rec < 1 || rec > 65535 * 16) return refuse();
  // A single plain strip is read in evenly spaced records, whose size
  // the file record keeps in 16 bits: a wider record becomes whole items
  // below that bound (records need not end with a row).
  if (ns == 1 && rec > 65535 && !pbits && (pm & 3) == 0 && !tifcomp && f->Pad == 0) {
    int64_t ib = std::max<int64_t>(1, bits / 8);
    rec = 65535 / ib * ib;
  }
  uint32_t* idx = newidx(f, ns, offcol);
  if (!idx) return -1;
  for (int64_t k = 0; k < ns; k++) {
    idx[1 + k] = offs[static_cast<size_t>(k)];
    idx[1 + ns + k] = lens[static_cast<size_t>(k)];
  }
  f->Flg = static_cast<uint8_t>((f->Flg & ~FF_PACK) | (pm & 3));
  f->Frec = static_cast<uint16_t>(std::min<int64_t>(rec, 65535));
  if (rec > 65535 && ns == 1) return refuse();
  int64_t data0 = offs[0];
  if (setfdim(r, nx, ny, nz, static_cast<int>(wsiz), data0, 0) < 0) return refuse();
  if (rowbits % 8) f->Pad = static_cast<int8_t>(8 - rowbits % 8);
  r->Ndims = slices ? 3 : ny > 1 ? 2 : 1;
  if (kind) {
    // An image stays an image when the file has rows.
    if ((r->Flg & K_IMAGE) && !(kind & (K_SOLID | K_VECTOR)) && ny > 1) kind = K_IMAGE;
    r->Flg = static_cast<uint16_t>((r->Flg & ~0x7F0) | kind);
  }
  if (wflag < 0) shoptr(r);
  hdrrec(static_cast<int32_t>(rec));
  return static_cast<int>(rec);
}
