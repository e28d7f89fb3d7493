// The commands dmread and dmwrite.
//
//   dmread FILE                     lists the records
//   dmread FILE 0 0                 lists them as XML
//   dmread FILE 0 N                 prints text record N
//   dmread FILE VAR N [STR] [INFO]  reads record N into VAR (its text into
//                                   STR; with INFO non-zero nine numbers
//                                   that describe the record instead)
//   dmwrite FILE "text" [N]         appends a text-only record
//   dmwrite FILE VAR N ["text"]     appends a variable as record N
//   dmwrite FILE STR [N] ["text"]   appends the text file STR names
// N below 0 in dmread is the -N-th record of the header. Both leave the
// record's ordinal (dmread) or the records appended (dmwrite) in r0, -1
// when they fail.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "compute/arith.h"
#include "core/args.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "files/dirutil.h"
#include "files/dmrec/dmrec.h"
#include "files/fileutil.h"
#include "lang/names.h"

namespace {

constexpr int DESCMAX = 132;    // characters of a description written
constexpr int64_t CHUNK = 16384;  // bytes of one converted piece
constexpr int64_t HEAD = 1 << 20;  // bytes read before the variable read into is sized

// The DM file record of a command, closed (and a failed append taken back)
// when the command ends.
struct Opened {
  DmFile dm;
  ~Opened() {
    if (dm.fp) DMREC(0, &dm, DMR_CLOSE);
  }
};

// The file name of argument 2 (a number names a numbered data file); false
// after error 46 when there is none.
bool dmfile(std::string* out) {
  float v = 0.0f;
  int t = getarg(2, &v, nullptr, 0, nullptr);
  char buf[DFNMAX + 1] = {0};
  if (t && (t & K_NUMBER) && !(t & K_STRING)) {
    dfname(toi32(v), buf, 0);
  } else if (t && argtext(2, buf, 257) < 0) {
    buf[0] = 0;
  }
  if (!buf[0]) {
    error(2, 46);
    return false;
  }
  *out = buf;
  return true;
}

bool isnum(int t) { return (t & K_NUMBER) && !(t & K_STRING); }

// A record's data that could not be read: the cause, then error 66.
void readerr(const DmFile* dm, const std::string& name, const std::string& link) {
  jprintf(errlun, "%s: %s\n", link.empty() ? name.c_str() : link.c_str(), std::strerror(dm->err ? dm->err : EIO));
  error(2, 66);
}

// The numeric kinds a record's data can be read into.
constexpr int K_READABLE = K_NUMBER | K_DATA;

// One element of a record as a number.
double loadel(const uint8_t* p, int type) {
  int64_t i64;
  double d;
  uint8_t bp = 0;
  int step = 0;
  switch (type) {
    case 0: return p[0];
    case 8: case 16: case 24: case 32: case 96: return lditm(p, type, &bp, &step);
    case 136: return lditm(p, W_SHORT, &bp, &step);
    case 144: return lditm(p, W_LONG, &bp, &step);
    case 160: std::memcpy(&i64, p, 8); return static_cast<double>(i64);
    case 224: std::memcpy(&d, p, 8); return d;
    default: return p[0];
  }
}

// The word size code a variable of record type `type` has when its
// elements are the record's bytes as they are (0: none).
int samecode(int type) {
  switch (type) {
    case 0: return W_BYTE;
    case 8: case 16: case 24: case 32: case 96: return type;
    default: return 0;
  }
}

// The first n items of a variable when they lie one after another in the
// word memory (a plain variable seen whole, in the low stack or in high
// memory that is not paged), so that they move in one piece; else null.
uint8_t* flatrun(const PtrRec* r, int64_t n) {
  int kind = r->Flg;
  if (kind & (K_LIST | K_VECTOR | K_ARGS | K_NUMBER | K_FILE | K_NOSTK | K_VALUE)) return nullptr;
  if (!(kind & K_DATA) || bufrec(r) || r->Data0 <= 0 || r->Page) return nullptr;
  if (hipaged() && r->Data0 >= 4 * HIMEM_BASE) return nullptr;
  __int128 items = 1;
  for (int k = 0; k < 3; k++) {
    uint32_t d = std::max<uint32_t>(r->Datdims[k], 1);
    if (r->Offs[k] != 0 || (r->Offs[3 + k] != 0 && r->Offs[3 + k] < d)) return nullptr;
    items *= d;
  }
  if (items < n) return nullptr;
  return membyt(r->Data0);
}

// Sizes a numeric variable for n elements, nx wide: a variable of another
// count or width is made anew (keeping its word size); one that cannot be
// (a window, a file) keeps its size. The elements it can take. With dry,
// only says how many it would take, changing nothing.
int64_t sizevar(PtrRec* r, int64_t n, int64_t nx, int64_t ny, int64_t nz, int64_t nt, bool dry) {
  int32_t cnt = 0, part = 0, tot = 0, ws = 0;
  int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
  if (!kind) return 0;
  uint32_t d[3] = {static_cast<uint32_t>(n), 1, 1};
  int64_t rest = n / std::max<int64_t>(nx, 1);
  if ((kind & K_SOLID) && nx > 0 && ny > 0) {
    d[0] = static_cast<uint32_t>(nx);
    d[1] = static_cast<uint32_t>(ny);
    d[2] = static_cast<uint32_t>(std::max<int64_t>(nz, 1) * std::max<int64_t>(nt, 1));
  } else if ((kind & (K_MATRIX | K_IMAGE)) && nx > 0) {
    d[0] = static_cast<uint32_t>(nx);
    d[1] = static_cast<uint32_t>(rest);
  }
  bool same = cnt == n && (!(kind & (K_MATRIX | K_IMAGE | K_SOLID)) || r->Datdims[0] == d[0]);
  // A window (a subscripted variable) is filled as far as it reaches: the
  // variable around it keeps its shape and its other elements.
  bool window = false;
  for (int k = 0; k < 3; k++)
    window = window || r->Offs[k] != 0 || (r->Offs[3 + k] != 0 && r->Offs[3 + k] < std::max<uint32_t>(r->Datdims[k], 1));
  bool remake = !window && (r->Flg & K_NAMED) && !(r->Flg & (K_FILE | K_NOSTK | K_VALUE | K_NUMBER)) && r->Idx > 0;
  if (dry) return !same && remake && n <= INT32_MAX ? n : cnt < 1 ? 0 : std::min<int64_t>(cnt, n);
  if (!same && remake && n <= INT32_MAX) {
    if (SymEnt* e = symptr(r->Idx)) {
      erasvb(e);
      r->Addr = 0;
      r->Bufsiz = 0;
      for (auto& v : r->Datdims) v = 0;
      for (auto& v : r->Offs) v = 0;
    }
    PtrRec t;
    std::memset(&t, 0, sizeof t);
    for (int k = 0; k < 3; k++) t.Offs[3 + k] = t.Datdims[k] = d[k];
    if (asnvrb(r, static_cast<int32_t>(n), &t, 1) < 0) return -1;
  }
  kind = gtvarb(r, &cnt, &part, &tot, &ws, 115);
  if (!kind || cnt < 1) return 0;
  return std::min<int64_t>(cnt, n);
}

// Reads the record's data into the variable's first n elements, of which
// the first `have` were read already into head: straight into its storage
// when it holds the record's elements as they are, else through a scratch
// piece converted element by element. Stops at a short read or a stop bit;
// false after a read error.
bool readvar(DmFile* dm, PtrRec* r, int64_t n, const uint8_t* head, int64_t have) {
  int32_t cnt = 0, part = 0, tot = 0, ws = 0;
  gtvarb(r, &cnt, &part, &tot, &ws, 115);
  n = std::min<int64_t>(n, cnt);
  have = std::min(have, n);
  const bool direct = samecode(dm->type) == r->Wsiz && !(r->Flg & K_NUMBER) && r->Wbyts == dm->bpe;
  if (uint8_t* flat = direct ? flatrun(r, n) : nullptr) {
    std::memcpy(flat, head, static_cast<size_t>(have * dm->bpe));
    if (have == n) return true;
    dm->dbuf = flat + have * dm->bpe;
    dm->dbsize = (n - have) * dm->bpe;
    int64_t got = DMRECIO(dm, n - have, 0);
    return got >= 0 || got == DM_NULLIO;
  }
  bool ok = true;
  int64_t i = 0;
  if (direct) {
    while (i < n && !stopped()) {
      if (i >= part) {
        DMPVRB(r, &part, 1, static_cast<int32_t>(i));
        if (part <= i) break;
      }
      int64_t run = std::min<int64_t>(part, n) - i, got;
      if (i < have) {
        got = run = std::min(run, have - i);
        std::memcpy(dptr(r), head + i * dm->bpe, static_cast<size_t>(run * dm->bpe));
      } else {
        dm->dbuf = dptr(r);
        dm->dbsize = run * dm->bpe;
        got = DMRECIO(dm, run, 0);
        if (got < 0) {
          ok = got == DM_NULLIO;
          break;
        }
      }
      r->Dptr = addref(r->Dptr, got * dm->bpe);
      i += got;
      if (got < run) break;
    }
  } else {
    const int vb = std::max(1, (r->Wsiz & 63) / 8);
    const int64_t per = std::max<int64_t>(1, CHUNK / std::max<int>(dm->bpe, vb));
    while (i < n && !stopped()) {
      const uint8_t* from = head + i * dm->bpe;
      int64_t req = std::min(per, n - i), got = std::min(req, have - i);
      if (i >= have) {
        dm->dbuf = nullptr;
        got = DMRECIO(dm, req, 0);
        if (got < 0) {
          ok = got == DM_NULLIO;
          break;
        }
        from = dm->dbuf;
      } else {
        req = got;
      }
      for (int64_t j = 0; j < got && i < n; j++, i++) {
        if (i >= part) {
          DMPVRB(r, &part, 1, static_cast<int32_t>(i));
          if (part <= i) break;
        }
        putres(nrwflt(loadel(from + j * dm->bpe, dm->type)), r);
      }
      if (got < req) break;
    }
  }
  DMPVRB(r, &part, 0, 0);
  return ok;
}

// Prints a text record on the listing unit, line by line.
void listtext(DmFile* dm) {
  std::string carry;
  while (!stopped()) {
    dm->dbuf = nullptr;
    int64_t got = DMRECIO(dm, CHUNK, 0);
    if (got <= 0) break;
    carry.append(reinterpret_cast<const char*>(dm->dbuf), static_cast<size_t>(got));
    size_t s = 0, e;
    while ((e = carry.find('\n', s)) != std::string::npos && !stopped()) {
      size_t l = e - s;
      if (l > 0 && carry[s + l - 1] == '\r') l--;
      jprintf(lstlun, "%.*s\n", static_cast<int>(l), carry.c_str() + s);
      s = e + 1;
    }
    carry.erase(0, s);
  }
  if (!carry.empty() && !stopped()) jprintf(lstlun, "%s\n", carry.c_str());
}

// How reading a text file ended.
enum class Txt { OK, MISSING, FULL };

// The lines of a text file, each ended by a newline. MISSING when the name
// names no regular file that can be read (a folder, an empty name), FULL
// when the text is larger than the free word memory (most bytes).
Txt readtext(const std::string& name, std::string* out, int64_t most) {
  out->clear();
  const std::string host = name.empty() ? std::string() : hostpath(name);
  if (host.empty()) return Txt::MISSING;
  const int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Txt::MISSING;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return Txt::MISSING;
  }
  if (st.st_size > most) {
    close(fd);
    return Txt::FULL;
  }
  std::string raw(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  bool failed = false;
  while (got < raw.size()) {
    const ssize_t k = read(fd, raw.data() + got, raw.size() - got);
    if (k < 0 && errno == EINTR) continue;
    failed = k < 0;
    if (k <= 0) break;
    got += static_cast<size_t>(k);
  }
  close(fd);
  if (failed) return Txt::MISSING;
  raw.resize(got);  // a file that shrank meanwhile
  out->reserve(raw.size() + 1);
  for (size_t i = 0; i < raw.size(); i++) {
    char c = raw[i];
    if (c == '\r') {
      if (i + 1 < raw.size() && raw[i + 1] == '\n') i++;
      c = '\n';
    }
    out->push_back(c);
  }
  if (!out->empty() && out->back() != '\n') out->push_back('\n');
  return Txt::OK;
}

// The elements of the text list of argument n, each ended by a newline.
std::string listtxt(int n) {
  std::string s;
  int32_t cnt = 0;
  PtrRec* r = argary(n, &cnt);
  if (!r) return s;
  const int32_t ne = static_cast<int32_t>(r->Offs[3]);
  for (int32_t e = 0; e < ne && !stopped(); e++) {
    int32_t part = 0;
    LDVARB(r, &part, 0);
    if (part > 0) s.append(reinterpret_cast<const char*>(dptr(r)), static_cast<size_t>(part));
    s.push_back('\n');
  }
  return s;
}

// Writes a variable's items as the record's data, run by run from its own
// storage (bit fields and nibbles converted to bytes).
int64_t writevar(DmFile* dm, PtrRec* r) {
  int32_t cnt = 0, part = 0, tot = 0, ws = 0;
  if (!gtvarb(r, &cnt, &part, &tot, &ws, 0)) return DM_BADPTR;
  const int64_t n = std::min<int64_t>(cnt, dm->elems);
  const bool direct = r->Wsiz == dm->type && r->Wbyts == dm->bpe && !(r->Flg & K_NUMBER);
  if (uint8_t* flat = direct ? flatrun(r, n) : nullptr) {
    dm->dbuf = flat;
    dm->dbsize = n * dm->bpe;
    return DMRECIO(dm, n, DMIO_WRITE | DMIO_KEEP);
  }
  std::vector<uint8_t> piece;
  int64_t i = 0;
  while (i < n && !stopped()) {
    if (i >= part) {
      LDVARB(r, &part, static_cast<int32_t>(i));
      if (part <= i) break;
    }
    int64_t run = std::min<int64_t>(part, n) - i;
    int64_t got;
    if (direct) {
      dm->dbuf = dptr(r);
      dm->dbsize = run * dm->bpe;
      got = DMRECIO(dm, run, DMIO_WRITE | DMIO_KEEP);
      if (got > 0) r->Dptr = addref(r->Dptr, got * dm->bpe);
    } else {
      run = std::min(run, CHUNK);
      piece.resize(static_cast<size_t>(run));
      for (int64_t j = 0; j < run; j++) piece[static_cast<size_t>(j)] = static_cast<uint8_t>(cvclmp(GSTACK(r), 255));
      dm->dbuf = piece.data();
      dm->dbsize = run;
      got = DMRECIO(dm, run, DMIO_WRITE | DMIO_KEEP);
    }
    if (got < 0) return got;
    i += got;
    if (got < run) return DM_DATAIO;
  }
  return i;
}

// The append of dmwrite: the data first, then the header block. A failure
// at either step (or a stop) takes the append back.
int append(Opened& o, int32_t num, PtrRec* var, const std::string* text) {
  DmFile* dm = &o.dm;
  int r = DMREC(num, dm, DMR_APPEND | DMR_HDRLAST);
  if (r < 1) {
    // Nothing was written yet: a file this append made goes again, any
    // other is closed as it was.
    if (dm->created)
      dmrback(dm);
    else if (dm->fp)
      DMREC(0, dm, DMR_CLOSE);
    return r < 0 ? r : DM_HWRITE;
  }
  int64_t w = 0;
  if (dm->addr >= 0 && dm->bytes > 0) {
    if (var) {
      w = writevar(dm, var);
    } else {
      dm->dbuf = reinterpret_cast<uint8_t*>(const_cast<char*>(text->data()));
      dm->dbsize = static_cast<int64_t>(text->size());
      w = DMRECIO(dm, 0, DMIO_WRITE | DMIO_KEEP);
    }
    if (w >= 0 && dm->moved < dm->bytes) w = stopped() ? 0 : DM_DATAIO;
    if (w < 0 || stopped()) {
      dmrback(dm);
      return w < 0 ? static_cast<int>(w) : 0;
    }
  }
  int c = DMREC(0, dm, DMR_CLOSE | DMR_WRHDR);
  if (c < 0) {
    dmrback(dm);
    return c;
  }
  return r;
}

}  // namespace

int pdread() {
  setres(-1, 0);
  std::string name;
  if (!dmfile(&name)) return -1;
  const int na = nargs();
  int32_t hv = 0;
  PtrRec* var = nullptr;
  if (na >= 3) {
    float v = 0.0f;
    int t3 = argtyp(3, &hv);
    if (hv > 0 && (t3 & K_NAMED) && (t3 & K_READABLE)) {
      var = ptrrec(hv);
    } else if (!isnum(t3) || (getarg(3, &v, nullptr, 0, nullptr), v != 0.0f)) {
      error(3, 109);
      return -1;
    }
  }
  int flags = 0, want = 0;
  if (na < 3) {
    flags = DMR_LIST;
  } else {
    int t4 = na >= 4 ? argtyp(4, nullptr) : 0;
    if (!isnum(t4)) {
      error(4, 109);
      return -1;
    }
    want = lngarg(4, 0);
    if (!var && want == 0) flags = DMR_LIST | DMR_XML;
  }
  state |= ST_LISTING;
  Opened o;
  DmFile* dm = &o.dm;
  std::string desc, link;
  dm->name = name;
  dm->desc = &desc;
  dm->link = &link;
  int r = DMREC(want, dm, flags);
  // A name not found is looked for behind curdir and datadir.
  for (const char* dir : {"curdir", "datadir"}) {
    if (r != DM_OPEN) break;
    std::string alt = std::string(strvar(dir)) + name;
    dmrclr(dm);
    dm->name = alt;
    dm->desc = &desc;
    dm->link = &link;
    r = DMREC(want, dm, flags);
  }
  if (r < 1) {
    // A record cut short by the file's end, or whose data file is no
    // regular file, is refused with its cause.
    if (!dm->why.empty()) jprintf(errlun, "%s\n", dm->why.c_str());
    if (dm->fp) DMREC(0, dm, DMR_CLOSE);
    error(2, 66);
    return -1;
  }
  if (flags & DMR_LIST) {
    setres(r, 0);
    return 0;
  }
  if (var) {
    int32_t h5 = 0;
    int t5 = na >= 5 ? argtyp(5, &h5) : 0;
    PtrRec* r5 = ptrrec(h5);
    if (r5 && (t5 & K_STRING) && !(t5 & K_LIST) && (t5 & K_NAMED) && r5->Idx > 0)
      PUTCHV(r5->Idx, desc.data(), static_cast<int>(std::min<size_t>(desc.size(), INT32_MAX)), 1);
    if (na >= 6 && fltarg(6, 0.0f) != 0.0f) {
      auto cl = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
      int32_t info[9] = {r, cl(dm->elems), cl(dm->addr), dm->found, dm->type, cl(dm->nx), cl(dm->ny), cl(dm->nz), cl(dm->nt)};
      putvrb(info, W_LONG, hv, 9);
    } else if (dm->elems > 0 && dm->addr >= 0) {
      if ((var->Flg & K_STRING) && !(var->Flg & K_LIST) && var->Idx > 0 && dm->type == 0) {
        // A text record into a string variable: its whole text.
        dm->dbuf = nullptr;
        int64_t got = dm->bytes <= INT32_MAX ? DMRECIO(dm, 0, 0) : int64_t{DM_DALLOC};
        if (got < 0) {
          error(2, 66);
          return -1;
        }
        PUTCHV(var->Idx, dm->dbuf, static_cast<int>(got), 1);
      } else if (var->Flg & (K_LIST | K_STRING)) {
        // A string takes text records only, and a list none.
        error(3, 109);
        return -1;
      } else {
        // The data's first piece is read before the variable is sized: a
        // data file that cannot be read (a read error at its start) leaves
        // the variable as it was.
        int64_t n = sizevar(var, dm->elems, dm->nx, dm->ny, dm->nz, dm->nt, true);
        std::vector<uint8_t> head;
        int64_t have = 0;
        if (n > 0) {
          have = std::min<int64_t>(n, std::max<int64_t>(1, HEAD / dm->bpe));
          head.resize(static_cast<size_t>(have * dm->bpe));
          dm->dbuf = head.data();
          dm->dbsize = have * dm->bpe;
          have = DMRECIO(dm, have, 0);
          if (have < 0 && have != DM_NULLIO) {
            readerr(dm, name, link);
            return -1;
          }
          have = std::max<int64_t>(have, 0);
        }
        n = sizevar(var, dm->elems, dm->nx, dm->ny, dm->nz, dm->nt, false);
        if (n < 0 || (state & ST_ERROR)) return -1;
        if (n > 0 && !readvar(dm, ptrrec(hv), n, head.data(), have)) {
          readerr(dm, name, link);
          return -1;
        }
      }
    }
  } else if (dm->type == 0) {
    if (dm->elems > 0 && dm->addr >= 0) listtext(dm);
  } else {
    jprintf(errlun, "DMREAD can't list binary data records\n");
  }
  setres(r, 0);
  return 0;
}

int dmwrite() {
  setres(-1, 0);
  std::string name;
  if (!dmfile(&name)) return -1;
  const int na = nargs();
  int32_t h3 = 0;
  int t3 = na >= 3 ? argtyp(3, &h3) : 0;
  PtrRec* src = ptrrec(h3);
  int t4 = na >= 4 ? argtyp(4, nullptr) : 0;
  int32_t num = isnum(t4) ? lngarg(4, 0) : 0;
  Opened o;
  DmFile* dm = &o.dm;
  std::string desc, text;
  dm->name = name;
  dm->desc = &desc;
  dm->ny = dm->nz = dm->nt = 1;
  PtrRec* var = nullptr;
  if (t3 == 34) {
    // A quoted string: a record of text only, the string its description.
    argstr(3, &desc, DESCMAX);
    dm->type = 0;
    dm->nx = 0;
  } else if (src && (t3 & K_STRING) && (t3 & K_NAMED)) {
    int32_t cnt = 0, part = 0, tot = 0, ws = 0;
    gtvarb(src, &cnt, &part, &tot, &ws, 0);
    if ((t3 & K_LIST) && tot > 1) {
      // A list of text lines is the record's text.
      text = listtxt(3);
    } else {
      // The name of a text file, whose lines are the record's text.
      std::string fname;
      if (t3 & K_LIST) {
        fname = listtxt(3);
        if (!fname.empty()) fname.pop_back();
      } else if (!argstr(3, &fname, 255)) {
        fname.clear();
      }
      // The name ends at its first zero byte (an empty string holds one).
      fname.resize(std::strlen(fname.c_str()));
      const Txt rt = readtext(fname, &text, static_cast<int64_t>(maxfre()) * 4);
      if (rt == Txt::MISSING) {
        jprintf(errlun, "File %s not found\n", fname.c_str());
        return -1;
      }
      if (rt == Txt::FULL || static_cast<int64_t>(text.size()) > static_cast<int64_t>(maxfre()) * 4) {
        error(2, 126);
        return -1;
      }
    }
    dm->type = 0;
    dm->nx = static_cast<int64_t>(text.size());
    if (na >= 5) argstr(5, &desc, DESCMAX);
  } else if (src && (t3 & K_READABLE) && !(t3 & K_STRING)) {
    if (num < 1) {
      error(4, 109);
      return -1;
    }
    int32_t cnt = 0, part = 0, tot = 0, ws = 0;
    if (!gtvarb(src, &cnt, &part, &tot, &ws, 0) || cnt < 1) {
      error(3, 109);
      return -1;
    }
    int w = src->Wsiz;
    if (w == W_BIT || w == W_CRUMB || w == W_NIBBLE || w == W_LONIB || w == W_HINIB)
      w = W_BYTE;
    else if (w != W_BYTE && w != W_SHORT && w != W_RGB && w != W_LONG && w != W_FLOAT) {
      error(3, 109);
      return -1;
    }
    int64_t e[3];
    for (int k = 0; k < 3; k++) {
      uint32_t x = src->Offs[3 + k] ? src->Offs[3 + k] : src->Datdims[k];
      e[k] = std::max<uint32_t>(x, 1);
    }
    if (!(src->Flg & (K_MATRIX | K_IMAGE | K_SOLID)) || e[0] * e[1] * e[2] != cnt) {
      e[0] = cnt;
      e[1] = e[2] = 1;
    }
    dm->type = static_cast<int16_t>(w);
    dm->nx = e[0];
    dm->ny = e[1];
    dm->nz = e[2];
    var = src;
    if (na >= 5) argstr(5, &desc, DESCMAX);
  } else {
    error(3, 109);
    return -1;
  }
  int r = append(o, num, var, &text);
  if (r < 0) {
    error(r, 211);
    return -1;
  }
  if (r > 0) setres(r, 0);
  return 0;
}
