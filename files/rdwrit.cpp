// The read and write commands: a whole variable from or to a file in any of
// the image formats, raw or packed, through a file-backed variable of the
// file, record by record.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <new>
#include <vector>

#include <sys/stat.h>

#include "compute/arith.h"
#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/symbols.h"
#include "core/state.h"
#include "core/units.h"
#include "files/dirutil.h"
#include "files/fileutil.h"
#include "files/filevar.h"
#include "files/imgcommon.h"
#include "files/imgfmt.h"
#include "files/paths.h"
#include "files/safewrite.h"
#include "lang/cmdcodes.h"
#include "lang/names.h"

using namespace imgfmt;

namespace imgfmt {

// The items of a variable's window as raw bytes of its own word size.
bool getraw(PtrRec* r, std::vector<uint8_t>* out, int64_t* items) {
  int32_t cnt, part, tot, ws;
  int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
  if (!kind || cnt < 1) return false;
  int bits = r->Wsiz & 63;
  if (bits < 8 || bits % 8) return false;
  int ib = bits / 8;
  out->assign(static_cast<size_t>(cnt) * ib, 0);
  for (int32_t i = 0; i < cnt && !stopped();) {
    if (i >= part) {
      LDVARB(r, &part, i);
      if (part <= i) break;
    }
    int32_t run = std::min(part, cnt) - i;
    const uint8_t* p = dptr(r);
    if (!p) return false;
    std::memcpy(out->data() + static_cast<size_t>(i) * ib, p, static_cast<size_t>(run) * ib);
    r->Dptr += run * ib;
    i += run;
  }
  // A copy stopped short (Ctrl-C) holds no image.
  if (stopped()) return false;
  *items = cnt;
  return true;
}

// The items of a variable's window of 1, 2 or 4 bits packed high bits
// first, each row of nx items padded to whole bytes.
bool getbits(PtrRec* r, int64_t nx, std::vector<uint8_t>* out, int64_t* items) {
  int32_t cnt, part, tot, ws;
  int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
  int bits = r->Wsiz;
  if (!kind || cnt < 1 || nx < 1 || (bits != 1 && bits != 2 && bits != 4)) return false;
  int64_t rows = (cnt + nx - 1) / nx, rowb = (nx * bits + 7) / 8;
  out->assign(static_cast<size_t>(rows * rowb), 0);
  int32_t mask = (1 << bits) - 1;
  for (int32_t i = 0; i < cnt && !stopped(); i++) {
    if (i >= part) {
      LDVARB(r, &part, i);
      if (part <= i) break;
    }
    int32_t v = static_cast<int32_t>(GSTACK(r)) & mask;
    int64_t bit = (i / nx) * rowb * 8 + (i % nx) * bits;
    (*out)[static_cast<size_t>(bit / 8)] |= static_cast<uint8_t>(v << (8 - bits - bit % 8));
  }
  if (stopped()) return false;
  *items = cnt;
  return true;
}

// Unpacks n items of 1, 2 or 4 bits (high bits first) into bytes, rows of
// nx items each starting a new run of rowb bytes.
std::vector<uint8_t> unbits(const std::vector<uint8_t>& in, int bits, int64_t n, int64_t nx, int64_t rowb) {
  std::vector<uint8_t> out(static_cast<size_t>(std::max<int64_t>(n, 0)), 0);
  int mask = (1 << bits) - 1;
  nx = std::max<int64_t>(nx, 1);
  for (int64_t i = 0; i < n; i++) {
    int64_t bit = (i / nx) * rowb * 8 + (i % nx) * bits;
    if (bit / 8 >= static_cast<int64_t>(in.size())) break;
    out[static_cast<size_t>(i)] = static_cast<uint8_t>((in[static_cast<size_t>(bit / 8)] >> (8 - bits - bit % 8)) & mask);
  }
  return out;
}

// Unsigned items of 16 or 32 bits as 32-bit integers (code 32) or floats
// (code 96).
std::vector<uint8_t> widen(const std::vector<uint8_t>& in, int from, int to) {
  int ib = from / 8;
  size_t n = in.size() / static_cast<size_t>(ib);
  std::vector<uint8_t> out(n * 4);
  for (size_t k = 0; k < n; k++) {
    uint32_t v = ib == 2 ? g16(&in[2 * k], false) : g32(&in[4 * k], false);
    if (to == W_FLOAT) {
      float x = static_cast<float>(v);
      std::memcpy(&v, &x, 4);
    }
    p32(&out[4 * k], v);
  }
  return out;
}

// Makes the destination an image (or the kind it is) of the file's shape
// and word size, and stores the bytes.
bool imgstore(int32_t h, int kind, const uint32_t* dims, int wsiz, int code, const std::vector<uint8_t>& data) {
  PtrRec* r = ptrrec(h);
  if (!r) return false;
  int64_t n = int64_t{dims[0]} * dims[1] * dims[2];
  if (n < 1 || n > INT32_MAX) return false;
  PtrRec t;
  std::memset(&t, 0, sizeof t);
  for (int k = 0; k < 3; k++) t.Offs[3 + k] = t.Datdims[k] = dims[k];
  int32_t cnt, part, tot, ws;
  gtvarb(r, &cnt, &part, &tot, &ws, 0);
  bool same = r->Wsiz == wsiz && cnt == n && (!(r->Flg & K_HDR) || (r->Datdims[0] == dims[0]));
  if (!same) {
    if (kind && (r->Flg & K_NAMED) && !(r->Flg & (K_FILE | K_NOSTK)))
      r->Flg = static_cast<uint16_t>((r->Flg & ~0x7C0) | kind);
    if (wsiz > 255 && r->Wsiz != wsiz) return false;
    // A named variable is made anew in the file's shape.
    if ((r->Flg & K_NAMED) && !(r->Flg & (K_FILE | K_NOSTK | K_VALUE)) && r->Idx > 0)
      if (SymEnt* e = symptr(r->Idx)) {
        erasvb(e);
        r->Addr = 0;
        r->Bufsiz = 0;
        r->Datdims[0] = r->Datdims[1] = r->Datdims[2] = 0;
        for (int k = 0; k < 6; k++) r->Offs[k] = 0;
      }
    r->Wsiz = static_cast<int16_t>(wsiz);
    r->Wbyts = static_cast<uint8_t>((wsiz & 63) / 8);
    if (asnvrb(r, static_cast<int32_t>(n), &t, 1) < 0) return false;
    // The variable keeps the file's element type (and kind) from now on.
    if ((r->Flg & K_NAMED) && r->Idx > 0)
      if (SymEnt* e = symptr(r->Idx)) {
        e->type = static_cast<uint8_t>(wsiz);
        if (kind) e->flags = static_cast<uint16_t>((e->flags & ~0x7C0) | (r->Flg & 0x7C0));
      }
  }
  putvrb(data.data(), code, h, static_cast<int32_t>(n));
  return !(state & ST_ERROR);
}

bool isplain(const char* name) {
  struct stat st;
  if (Exists(name) == 0) return true;
  return filstat(name, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace imgfmt

namespace {

// Type bits of the units the commands open (kept in the unit's slot).
constexpr int UM_TYPOTH = 0x1000, UM_TYPTIF = 0x2000, UM_TYPTXT = 0x3000;

// The name a write retried on the next drive takes (empty: none), and the
// numbered name the last try used.
char spanname[256] = "";
char lastnum[256] = "";

// Drive number of a letter (A = 1), 0 for none.
int drive(char c) {
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return c >= 'A' && c <= 'Z' ? c - 'A' + 1 : 0;
}
// The drive after d in disklo..diskhi, wrapping.
int nextdrive(int d) {
  if (diskhi < disklo) return 0;
  return d + 1 > diskhi || d + 1 < disklo ? disklo : d + 1;
}
// The drive letter becomes the first character of datadir.
void setdrive(char c) {
  std::string dd = strvar("datadir");
  if (dd.empty()) return;
  dd[0] = c;
  setstrv("datadir", dd.c_str());
}

int rdwrit1(int code);

}  // namespace

int rdwrit(int code) {
  bool wr = code == CM_WRITE;
  if (!wr || disklo < 1) return rdwrit1(code);
  // A write that fails is tried again on the next drive (dflags 0x400).
  spanname[0] = 0;
  int res = rdwrit1(code);
  int start = 0, d = 0;
  // Each drive of the range once (a start outside it never comes round).
  for (int k = 0; k <= diskhi - disklo && res < 0 && (state & ST_ERROR) && !(state & (ST_INTR | ST_STOP)) &&
                  (dflags & 0x400) && disklo < diskhi && lastnum[0] && drive(lastnum[0]);
       k++) {
    if (!start) start = d = drive(lastnum[0]);
    d = nextdrive(d);
    if (d == start || d <= 0) break;
    std::memcpy(spanname, lastnum, sizeof spanname);
    spanname[0] = static_cast<char>('A' + d - 1);
    state &= ~ST_ERROR;
    res = rdwrit1(code);
    if (res >= 0 && (dflags & 0x2000)) setdrive(spanname[0]);
  }
  spanname[0] = 0;
  return res;
}

namespace {

int rdwrit1(int code) {
  bool wr = code == CM_WRITE;
  struct Arg {
    Arg() { wrtarg = 2; }
    ~Arg() { wrtarg = 0; }
  } arg;
  int na = nargs();
  if (!wr && na < 3) {
    error(3, 109);
    return -1;
  }
  int32_t h = 0;
  int t3 = argtyp(3, &h);
  PtrRec* v = ptrrec(h);
  if (!v || !(t3 & 0x7F0)) {
    error(3, 147);
    return -1;
  }
  int32_t cnt = 0;
  v = argary(3, &cnt);
  if (!v) {
    error(3, 147);
    return -1;
  }

  // The file name.
  char name[320] = {0};
  float num = 0;
  int t2 = na >= 2 ? getarg(2, &num, nullptr, 0, nullptr) : 0;
  bool fromnum = false;
  if (t2 && !(t2 & K_STRING) && (t2 & K_NUMBER)) {
    int flags = (v->Flg & K_VECTOR) ? 0x100 : (v->Flg & (K_IMAGE | K_SOLID)) ? 0x200 : 0;
    if (dfname(static_cast<int>(num), name, flags) == 0) {
      error(0, 64);
      return -1;
    }
    fromnum = true;
    if (spanname[0]) std::memcpy(name, spanname, sizeof spanname);
  } else if (t2) {
    if (argtext(2, name, 256) < 0) name[0] = 0;
  } else {
    browse(name, wr ? 1 : 0, nullptr);
  }
  pthpart(name, name, 0, 256);
  if (!name[0]) {
    if (!(state & ST_ERROR)) error(2, 46);
    return -1;
  }
  std::memcpy(lastnum, fromnum ? name : "", fromnum ? sizeof lastnum : 1);
  // Drive spanning: a numbered file is looked for on the drives from disklo
  // to diskhi (letters A = 1, B = 2, ...), starting at its own.
  if (!wr && fromnum && disklo >= 1 && !(dflags & 0x200) && drive(name[0]) && Exists(name) != 1) {
    int start = drive(name[0]), d = start;
    // Each drive of the range once (a start outside it never comes round).
    for (int k = 0; k <= diskhi - disklo && (d = nextdrive(d)) != start && d > 0; k++) {
      name[0] = static_cast<char>('A' + d - 1);
      if (Exists(name) == 1) {
        if (dflags & 0x1000) setdrive(name[0]);
        break;
      }
    }
    if (Exists(name) != 1) name[0] = static_cast<char>('A' + start - 1);
  }
  if (!wr && !fromnum && Exists(name) != 1) {
    // A name not found is looked for in the data folder.
    std::string dir = strvar("datadir");
    for (char& c : dir)
      if (c == '\\') c = '/';
    size_t cut = dir.rfind('/');
    if (cut != std::string::npos) {
      std::string alt = dir.substr(0, cut + 1) + name;
      if (alt.size() < 256 && Exists(alt.c_str()) == 1) std::strcpy(name, alt.c_str());
    }
  }

  // Only a plain file (or one this command makes) is ever deleted after a
  // failed write, never a device or a folder.
  bool delok = wr && isplain(name);
  int fmt = na >= 4 ? static_cast<int>(lngarg(4, 0)) : (dflags & 0xFF);
  int32_t recarg = na >= 5 ? lngarg(5, 0) : 0;
  bool haverec = na >= 5 && recarg != 0;
  int32_t hoff = 0;
  bool haveoff = false, hdrvar = false;
  std::vector<uint8_t> hdrbytes;
  if (na >= 6) {
    int32_t oh = 0;
    int t6 = argtyp(6, &oh);
    if (wr && oh && (t6 & 0x7E0) && !(t6 & K_NUMBER)) {
      int64_t hi = 0;
      PtrRec* hr = argary(6, nullptr);
      if (hr && getraw(hr, &hdrbytes, &hi)) hdrvar = true;
    } else {
      hoff = lngarg(6, 0);
      haveoff = true;
    }
  }
  int64_t want = na >= 8 ? lngarg(8, 0) : 0;

  int kind = v->Flg;
  int bits = v->Wsiz & 63;
  if (!(kind & K_DIMS) || (wr && cnt < 1)) {
    error(3, 103);
    return -1;
  }
  // A plain byte image goes raw unless its name asks for a format.
  if (wr && fmt == 0 && (kind & 0x7F0) == K_IMAGE && v->Wsiz == 8 && !(kind & K_FILE) && !imgtyp(name))
    fmt = FF_NOHDR;
  int type = fmt & FF_TYPE;
  if (!type) type = imgtyp(name);
  if (!type) type = FT_TIFF;
  if (wr && type == FT_BMP && !(fmt & FF_NOHDR)) {
    // BMP files are read only: no header of theirs is ever written.
    error((fmt & FF_TYPE) ? 4 : 2, 86);
    return -1;
  }
  int32_t oldaf = aflags;
  if (fmt & 0x100) aflags |= 0x100;
  struct Restore {
    int32_t af;
    ~Restore() { aflags = af; }
  } restore{oldaf};

  // PCX and JPEG move whole images through their own coders.
  if (type == FT_PCX || type == FT_JPEG) {
    if (!(kind & K_NAMED)) {
      error(3, 103);
      return -1;
    }
    bool win = (kind | t3) & 1;
    for (int k = 0; k < 3; k++)
      if (v->Offs[k] || (v->Offs[3 + k] && v->Offs[3 + k] != std::max<uint32_t>(v->Datdims[k], 1))) win = true;
    if (win) {
      error(3, 144);
      return -1;
    }
    int res;
    SafeOut so;
    std::string at = name;
    if (wr && !swbegin(name, 2, &so, &at)) return -1;
    werrno = 0;
    if (type == FT_JPEG && wr) {
      res = putjpg(v, 0, at.c_str());
      if (res == 0) res = -1;
    } else {
      // The temporary file is there; a straight target is opened for
      // writing only.
      int mode = !wr ? UM_RDONLY : !so.temp.empty() ? UM_UPDATE : so.straight ? UM_CREATE : UM_UPDATE | UM_CREATE;
      int u = openf(at.c_str(), mode, 512);
      if (u < 0) {
        // A write that cannot open its file says why.
        if (!(state & ST_ERROR) && wr) fileerr(name, 2, 66, errno);
        else if (!(state & ST_ERROR)) error(2, 66);
        swend(&so, false);
        return -1;
      }
      PtrRec* fv = putptr(K_FILE | K_IMAGE, 512, nullptr, 0, 8, 1);
      FilRec* f = fv ? filrec(fv) : nullptr;
      if (!f) {
        closef(u, 0);
        swend(&so, false);
        return -1;
      }
      std::memcpy(f->Nam, name, std::min(std::strlen(name), sizeof f->Nam - 1));
      f->Nam[sizeof f->Nam - 1] = 0;
      f->Lun = static_cast<uint8_t>(u);
      f->Mod = static_cast<uint16_t>(mode);
      f->Flg = static_cast<uint8_t>(type);
      if (type == FT_PCX)
        res = wr ? putpcx(v, fv) : readPCX(ptrrec(h), fv);
      else
        res = readjpg(ptrrec(h), fv);
      closef(u, 0);
      f->Lun = 0;
    }
    if (wr) {
      const bool intr = stopped() && !(state & ST_ERROR);
      if (res < 0 && werrno) {
        // A write the system refused: reported with its cause.
        state &= ~ST_ERROR;
        wrterr(name, 2, werrno);
      } else if (res < 0 && !stopped()) {
        error(3, 103);
      }
      // A write stopped by Ctrl-C keeps the old file; #0 = 0.
      if (!swend(&so, res >= 0 && !stopped())) {
        if (intr) setres(0, 0);
        return -1;
      }
    }
    setres(res, 0);
    return res < 0 ? -1 : 0;
  }

  // The file variable: the window's shape and word size. What is written
  // is the window's items, so a written file takes the window's extents.
  uint32_t dims[3];
  int64_t wprod = 1;
  for (int k = 0; k < 3; k++) {
    uint32_t e = v->Offs[3 + k] ? v->Offs[3 + k] : v->Datdims[k];
    wprod *= std::max<uint32_t>(e, 1);
  }
  bool inwin = (kind & 1) || (wr && wprod == cnt);
  for (int k = 0; k < 3; k++) {
    dims[k] = inwin && v->Offs[3 + k] ? v->Offs[3 + k] : v->Datdims[k];
    if (dims[k] < 1) dims[k] = 1;
  }
  // Rows of 1, 2 or 4 bits are padded to whole bytes in the file. A TIFF
  // header keeps the true width (its rows are padded by the format); other
  // files have their width widened to match.
  int64_t vnx = dims[0];
  bool subbyte = bits == 1 || bits == 2 || bits == 4;
  // A DMOD header knows whole bytes only: such items go a byte each.
  bool asbytes = wr && subbyte && !(fmt & FF_NOHDR) && !hdrvar && (type == FT_DMOD || type == FT_DMPX);
  bool tifhdr = wr && !(fmt & FF_NOHDR) && !hdrvar && (type == FT_TIFF || type == FT_VEC);
  if (subbyte && !asbytes && !tifhdr) dims[0] = static_cast<uint32_t>((int64_t{dims[0]} * bits + 7) / 8 * 8 / bits);
  int ib = asbytes ? 8 : std::max(bits, 1);
  int64_t rowb = (int64_t{dims[0]} * ib + 7) / 8;
  int64_t databytes = rowb * dims[1] * dims[2];
  int32_t rec = recarg;
  if (!haverec) {
    BufRec* vb = bufrec(v);
    if (vb && vb->Rsiz > 0) rec = vb->Rsiz;
    else rec = static_cast<int32_t>(std::min<int64_t>(rowb > 0 && rowb <= 5120 ? 5120 / rowb * rowb : 5120, std::max<int64_t>(databytes, 1)));
  }
  if (rec < 1) {
    error(5, 109);
    return -1;
  }
  bool raw = (fmt & FF_NOHDR) || hdrvar;
  int mode;
  if (wr)
    mode = (haveoff || (fmt & 0x8000)) ? UM_UPDATE : (UM_UPDATE | UM_CREATE);
  else
    mode = UM_RDONLY;
  if (!wr) {
    // A unit already open on the file as TIFF or as text sets the type;
    // the read shares that unit in its own mode.
    int ou = fndfil(name);
    if (ou >= 1 && ou < NUNITS && filtab[ou].Nlinks > 0) {
      int om = filtab[ou].mode;
      if ((om & UM_TYPTXT) == UM_TYPTXT || (om & UM_TEXT)) type = FT_TEXT;
      else if (om & UM_TYPTIF) type = FT_TIFF;
      mode = om & ~(UM_CREATE | UM_TEMP);
    }
  }
  // A whole new file is written beside the old one and replaces it when
  // complete (a file open on a unit already is written through that unit).
  SafeOut so;
  std::string at = name;
  if (wr && (mode & UM_CREATE) && fndfil(name) < 0 && !swbegin(name, 2, &so, &at)) return -1;
  // The temporary file is there already; a straight target (a device, a
  // fifo, standard output) is opened for writing only.
  int omode = !so.temp.empty() ? (mode & ~UM_CREATE) | UM_UPDATE : so.straight ? mode & ~UM_UPDATE : mode;
  // The slot keeps the type the unit was opened as.
  werrno = 0;
  int u = openf(at.c_str(), omode | (type == FT_TEXT ? UM_TYPTXT : type == FT_TIFF ? UM_TYPTIF : UM_TYPOTH), 512);
  if (u < 0) {
    // A write that cannot open its file says why.
    if (!(state & ST_ERROR) && wr) fileerr(name, 2, 66, errno);
    else if (!(state & ST_ERROR)) error(2, 66);
    swend(&so, false);
    return -1;
  }
  bool created = (mode & UM_CREATE) != 0;
  // Only a file made in place by this command is deleted after a failure.
  delok = delok && so.temp.empty();
  // Every way out closes the unit; a failed write leaves the old file.
  auto fin = [&](bool ok) {
    closef(u, !ok && created && delok ? 1 : 0);
    return swend(&so, ok && !(state & ST_ERROR));
  };
  int fkind = (kind & 0x7C0) ? (kind & 0x7C0) : K_IMAGE;
  PtrRec* fv = putptr(fkind | K_FILE, rec, dims, 0, asbytes ? static_cast<int>(W_BYTE) : v->Wsiz, 1);
  DropIdx drop{fv};
  FilRec* f = fv ? filrec(fv) : nullptr;
  if (!f) {
    fin(false);
    return -1;
  }
  fv->Idx = -1;
  std::memcpy(f->Nam, name, std::min(std::strlen(name), sizeof f->Nam - 1));
  f->Nam[sizeof f->Nam - 1] = 0;
  f->Lun = static_cast<uint8_t>(u);
  f->Mod = static_cast<uint16_t>(mode | ((fmt & FF_PACK) ? UM_PACKED : 0));
  f->Flg = static_cast<uint8_t>((raw ? FF_NOHDR : type) | (fmt & FF_PACK));
  if (wr && hdrvar) {
    // A header variable is written at the start, raw.
    for (size_t o = 0; o < hdrbytes.size(); o += 16384) {
      int32_t n = static_cast<int32_t>(std::min<size_t>(16384, hdrbytes.size() - o));
      if (wrtblk(u, 0, hdrbytes.data() + o, n, static_cast<int64_t>(o)) < 0) {
        state &= ~ST_ERROR;
        wrterr(name, 2, werrno);
        fin(false);
        return -1;
      }
    }
    if (!haveoff) {
      hoff = static_cast<int32_t>(hdrbytes.size());
      haveoff = true;
    }
  }
  if (!wr && raw && cnt <= 1 && (kind & 0x7C0)) {
    // Raw data into a variable without a size: as many items as the file
    // holds, one row.
    int64_t len = unitlen(u) - (haveoff ? hoff : 0);
    int64_t n = len > 0 ? len * 8 / ib : 0;
    fv->Datdims[0] = static_cast<uint32_t>(std::min<int64_t>(n, INT32_MAX));
    fv->Datdims[1] = fv->Datdims[2] = 1;
    if (!haverec)
      if (BufRec* fb = bufrec(fv)) fb->Rsiz = static_cast<int32_t>(std::clamp<int64_t>(len, 1, 5120));
  }
  int32_t fc, fp, ft, fw;
  tifcomp = 0;
  tifallow = !wr;
  int fk = gtvarb(fv, &fc, &fp, &ft, &fw, wr ? 115 : 0);
  tifallow = false;
  int comp = wr || raw ? 0 : tifcomp;
  BufRec* b = bufrec(fv);
  if (ft < 0 || !b || (state & ST_ERROR)) {
    if (!(state & ST_ERROR)) error(2, 66);
    fin(false);
    f->Lun = 0;
    return -1;
  }
  if (haveoff) fv->Mptr = static_cast<uint32_t>(hoff);
  int32_t R = b->Rsiz;
  if (raw && haverec && recarg > 0 && recarg != R && !(f->Flg & FF_PACK) && f->Strip <= 0) {
    if (chgbuf(fv, recarg, 1) == recarg) R = recarg;
  }
  int fbits = fv->Wsiz & 63;
  int64_t fitems = int64_t{fv->Datdims[0]} * std::max<uint32_t>(fv->Datdims[1], 1) * std::max<uint32_t>(fv->Datdims[2], 1);
  int64_t total = (fitems * std::max(fbits, 1) + 7) / 8;
  // Rows of 1, 2 or 4 bits that do not fill whole bytes come a row a
  // record, each from a byte of its own.
  int64_t frowb = (int64_t{fv->Datdims[0]} * std::max(fbits, 1) + 7) / 8;
  if ((fbits == 1 || fbits == 2 || fbits == 4) && (int64_t{fv->Datdims[0]} * fbits) % 8)
    total = frowb * std::max<uint32_t>(fv->Datdims[1], 1) * std::max<uint32_t>(fv->Datdims[2], 1);
  if (want > 0) total = std::min<int64_t>(total, (want * std::max(fbits, 1) + 7) / 8);
  if (R < 1 || total < 1) {
    error(3, 103);
    fin(false);
    f->Lun = 0;
    return -1;
  }

  std::vector<uint8_t> data, tmp(static_cast<size_t>(R));
  int64_t nrec = 0, done = 0;
  // The elements moved and their total, for the progress display.
  struct Progress {
    ~Progress() { prgtot = 0; }
  } progress;
  int pbits = std::max(fbits, 1);
  prgidx = 0;
  prgtot = static_cast<uint32_t>(std::min<int64_t>(total * 8 / pbits, UINT32_MAX));
  auto step = [&] { prgidx = static_cast<uint32_t>(std::min<int64_t>(done * 8 / pbits, UINT32_MAX)); };
  bool fail = false;
  if (wr) {
    int64_t have = 0;
    bool got = false;
    try {
      got = subbyte ? getbits(v, vnx, &data, &have) : getraw(v, &data, &have);
      if (got && asbytes) data = unbits(data, bits, have, vnx, (vnx * bits + 7) / 8);
    } catch (const std::bad_alloc&) {
      error(0, 42);
    }
    if (!got) {
      if (!stopped()) error(3, 103);
      fin(false);
      f->Lun = 0;
      // A stopped write moved nothing: #0 = 0.
      if (!(state & ST_ERROR)) setres(0, 0);
      return -1;
    }
    total = std::min<int64_t>(total, static_cast<int64_t>(data.size()));
    // A TIFF holds 24-bit pixels red first.
    if (type == FT_TIFF && !raw && fv->Wsiz == 24) swaprb(data.data(), static_cast<int64_t>(data.size() / 3));
    for (int64_t k = 0; done < total && !stopped(); k++) {
      int64_t n = std::min<int64_t>(R, total - done);
      // Records that lie one after another in the file as plain bytes go
      // out in one write, straight from the data (up to 8 MB at a time).
      int64_t pos = 0, len = 0, p2 = 0, l2 = 0, run = 0, kk = k;
      if (filplain(fv, k, &pos, &len) && len == n && n > 0) {
        run = n;
        for (kk = k + 1; done + run < total && run < (INT64_C(8) << 20) &&
                         filplain(fv, kk, &p2, &l2) && p2 == pos + run && l2 == std::min<int64_t>(R, total - done - run);
             kk++)
          run += l2;
      }
      if (run > n) {
        werrno = 0;
        bool before = state & ST_ERROR;
        if (wrtblk(u, 0, data.data() + done, static_cast<int32_t>(run), pos) < 0) {
          if (!before) {
            state &= ~ST_ERROR;
            wrterr(name, 2, werrno);
          }
          fail = true;
          break;
        }
        done += run;
        nrec += kk - k;
        k = kk - 1;
        step();
        continue;
      }
      std::memset(tmp.data(), 0, tmp.size());
      std::memcpy(tmp.data(), data.data() + done, static_cast<size_t>(n));
      if (k > INT32_MAX - 1 || filio(fv, static_cast<int>(-k - 1), 2, tmp.data()) < 0) {
        fail = true;
        break;
      }
      done += n;
      nrec++;
      step();
    }
  } else if (comp) {
    // Compressed strips of another program, decoded one by one.
    const auto* idx = f->Strip > 0 ? static_cast<const uint32_t*>(stkptr(f->Strip)) : nullptr;
    int64_t ns = idx ? idx[0] : 0;
    std::vector<uint8_t> in;
    try {
      data.reserve(static_cast<size_t>(total));
      for (int64_t k = 0; k < ns && static_cast<int64_t>(data.size()) < total && !stopped(); k++) {
        uint32_t off = idx[1 + k], len = idx[1 + ns + k];
        in.resize(len);
        bool ok = len == 0 || rdblk(u, 0, in.data(), static_cast<int32_t>(len), off) == static_cast<int>(len);
        if (ok)
          ok = comp == 5 ? unlzw(in.data(), len, &data, static_cast<size_t>(total))
                         : unpackbits(in.data(), len, &data, static_cast<size_t>(total));
        if (!ok) {
          fail = true;
          break;
        }
        nrec++;
        done = static_cast<int64_t>(data.size());
        step();
      }
      data.resize(static_cast<size_t>(total), 0);
    } catch (const std::bad_alloc&) {
      fail = true;
    }
    if (fail) {
      if (!(state & ST_ERROR)) error(0, 86);
      fin(false);
      f->Lun = 0;
      return -1;
    }
    int ib0 = (fv->Wsiz & 63) / 8;
    if ((f->Flg & FF_SWAP) && (ib0 == 2 || ib0 == 4)) {
      // Items of a file in the other byte order, turned before the
      // differences are summed (they are differences of the values).
      for (size_t k = 0; k + ib0 <= data.size(); k += ib0) std::reverse(data.begin() + k, data.begin() + k + ib0);
      f->Flg = static_cast<uint8_t>(f->Flg & ~FF_SWAP);
    }
    if (tifpred == 2 && fbits % 8 == 0) {
      // Horizontal differences: each sample adds the one a pixel before
      // (byte samples of gray or colour, 16- or 32-bit integer samples).
      int64_t rowb2 = int64_t{fv->Datdims[0]} * (fbits / 8);
      int64_t step2 = fbits == 24 ? 3 : 1;
      for (int64_t r0 = 0; r0 + rowb2 <= total; r0 += rowb2) {
        uint8_t* p = &data[static_cast<size_t>(r0)];
        if (fbits == 8 || fbits == 24) {
          for (int64_t x = step2; x < rowb2; x++) p[x] = static_cast<uint8_t>(p[x] + p[x - step2]);
        } else if (fbits == 16) {
          for (int64_t x = 2; x < rowb2; x += 2) p16(p + x, g16(p + x, false) + g16(p + x - 2, false));
        } else if (fbits == 32) {
          for (int64_t x = 4; x < rowb2; x += 4) p32(p + x, g32(p + x, false) + g32(p + x - 4, false));
        }
      }
    }
  } else {
    try {
      data.assign(static_cast<size_t>(total), 0);
    } catch (const std::bad_alloc&) {
      error(0, 42);
      fin(false);
      f->Lun = 0;
      return -1;
    }
    for (int64_t k = 0; done < total && !stopped(); k++) {
      int got = k > INT32_MAX - 1 ? -1 : filio(fv, static_cast<int>(-k - 1), 1, tmp.data());
      if (got <= 0) break;
      int64_t n = std::min<int64_t>({static_cast<int64_t>(got), R, total - done});
      std::memcpy(data.data() + done, tmp.data(), static_cast<size_t>(n));
      done += n;
      nrec++;
      step();
    }
  }
  if (wr && (fail || stopped())) {
    // An interrupted write counts as failed: the old file stays, and #0
    // says nothing was written.
    if (fail && !(state & ST_ERROR)) error(2, 66);
    fin(false);
    f->Lun = 0;
    if (!(state & ST_ERROR)) setres(0, 0);
    return -1;
  }
  bool ok = fin(true);
  f->Lun = 0;
  if (wr && !ok) return -1;
  if (!wr) {
    if (state & ST_ERROR) return -1;
    uint32_t fd[3] = {fv->Datdims[0], std::max<uint32_t>(fv->Datdims[1], 1), std::max<uint32_t>(fv->Datdims[2], 1)};
    int dk = fk & 0x7C0;
    if (want > 0 && want < fitems) {
      fd[0] = static_cast<uint32_t>(want);
      fd[1] = fd[2] = 1;
    }
    if (raw) dk = 0;
    int ib2 = (fv->Wsiz & 63) / 8;
    if ((f->Flg & FF_SWAP) && !raw && comp && (ib2 == 2 || ib2 == 4))
      // Items of a file in the other byte order (filio turns those it reads).
      for (size_t k = 0; k + ib2 <= data.size(); k += ib2) std::reverse(data.begin() + k, data.begin() + k + ib2);
    bool tif = (f->Flg & FF_TYPE) == FT_TIFF && !raw;
    if (tifrgb && tif && fv->Wsiz == 24) swaprb(data.data(), static_cast<int64_t>(data.size() / 3));
    int fw2 = fv->Wsiz, vws = fv->Wsiz;
    if (fw2 == 1 || fw2 == 2 || fw2 == 4) {
      // Packed items are stored one by one in the variable's own packing.
      data = unbits(data, fw2, int64_t{fd[0]} * fd[1] * fd[2], fv->Datdims[0], frowb);
      fw2 = W_BYTE;
    }
    const PtrRec* dv = ptrrec(h);
    if (tif && tifunsig && dv && ((fw2 == W_SHORT && (dv->Wsiz == W_LONG || dv->Wsiz == W_FLOAT)) ||
                                  (fw2 == W_LONG && dv->Wsiz == W_FLOAT))) {
      // Unsigned samples into a wider declared variable keep their values
      // (and the variable its type).
      data = widen(data, fw2, dv->Wsiz);
      fw2 = vws = dv->Wsiz;
    }
    if (!imgstore(h, dk, fd, vws, fw2, data)) {
      if (!(state & ST_ERROR)) error(3, 144);
      return -1;
    }
  }
  setres(static_cast<int32_t>(std::min<int64_t>(nrec, INT32_MAX)), 0);
  return 0;
}

}  // namespace
