// The input and output commands: vector records appended from a vector file
// to a vector list, or from a list to the end of a vector file. A vector
// file is a TIFF of format type 8 whose rows are 8-byte vector records, the
// last one the end marker (first word 1, byte 6 = 15).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "files/dirutil.h"
#include "files/fileutil.h"
#include "files/filevar.h"
#include "files/imgcommon.h"
#include "files/imgfmt.h"
#include "files/paths.h"
#include "files/safewrite.h"
#include "graphics/drawstate.h"
#include "graphics/redraw.h"
#include "graphics/veclist.h"
#include "lang/cmdcodes.h"

namespace {

bool endmark(const uint8_t* v) { return v[0] == 1 && v[1] == 0 && v[6] == 15; }

// A scratch file variable of vector records on an open unit.
PtrRec* vecfile(const char* name, int unit, int mode, uint32_t rows) {
  uint32_t dims[3] = {8, rows, 1};
  PtrRec* fv = putptr(K_VECTOR | K_MATRIX | K_FILE, 1024, dims, 0, W_VEC, 1);
  FilRec* f = fv ? filrec(fv) : nullptr;
  if (!f) return nullptr;
  fv->Idx = -1;
  std::memcpy(f->Nam, name, std::min(std::strlen(name), sizeof f->Nam - 1));
  f->Nam[sizeof f->Nam - 1] = 0;
  f->Lun = static_cast<uint8_t>(unit);
  f->Mod = static_cast<uint16_t>(mode);
  f->Flg = FT_VEC;
  return fv;
}

// Moves the records bytes of a file variable record by record.
bool moverecs(PtrRec* fv, std::vector<uint8_t>* d, int dir) {
  BufRec* b = bufrec(fv);
  if (!b || b->Rsiz < 1) return false;
  std::vector<uint8_t> tmp(static_cast<size_t>(b->Rsiz));
  int64_t total = static_cast<int64_t>(d->size()), done = 0;
  for (int64_t k = 0; done < total && !stopped(); k++) {
    int64_t n = std::min<int64_t>(b->Rsiz, total - done);
    if (dir == 2) {
      std::memset(tmp.data(), 0, tmp.size());
      std::memcpy(tmp.data(), d->data() + done, static_cast<size_t>(n));
    }
    int got = filio(fv, static_cast<int>(-k - 1), dir, tmp.data());
    if (got <= 0) return dir == 1;
    if (dir == 1) std::memcpy(d->data() + done, tmp.data(), static_cast<size_t>(std::min<int64_t>(n, got)));
    done += n;
  }
  return !(state & ST_ERROR);
}

// The records of an existing vector file (end marker and after dropped).
// For output (app) a target that is no regular file (a device, a fifo)
// holds no records to keep: reading it would take a writer's bytes, or
// wait for one. A file that cannot be opened is reported with its cause
// (argument arg).
bool readvecs(const char* name, std::vector<uint8_t>* recs, int arg, bool app) {
  recs->clear();
  if (Exists(name) != 1) return true;
  if (struct stat st; app && filstat(name, &st) == 0 && !S_ISREG(st.st_mode)) return true;
  int u = openf(name, UM_RDONLY, 512);
  if (u < 0) {
    if (!(state & ST_ERROR)) fileerr(name, arg, 66, errno ? errno : EIO);
    return false;
  }
  PtrRec* fv = vecfile(name, u, UM_RDONLY, 1);
  imgfmt::DropIdx drop{fv};
  int32_t c, p, t, w;
  imgfmt::tifphot = 0;  // a file no TIFF header describes names no vector records
  if (fv) gtvarb(fv, &c, &p, &t, &w, 0);
  bool ok = fv && t >= 0 && !(state & ST_ERROR);
  // A file whose rows are not vector records (an image) is no vector file:
  // refused, and kept as it is. Vector records are marked by their word
  // size code, or are 8-byte rows of a file that names no photometric kind.
  if (ok && fv->Wsiz != W_VEC && !(imgfmt::tifphot < 0 && fv->Wsiz == 8 && fv->Datdims[0] == 8)) {
    error(0, 86);
    ok = false;
  }
  if (ok) {
    int64_t bytes = int64_t{fv->Datdims[0]} * std::max<uint32_t>(fv->Datdims[1], 1);
    recs->assign(static_cast<size_t>(bytes / 8 * 8), 0);
    ok = moverecs(fv, recs, 1);
  }
  // The unit is closed: its buffers are no one's to share (a file written
  // next on the same unit has buffers of its own).
  if (fv) pactiv(fv, -1);
  closef(u, 0);
  if (fv) filrec(fv)->Lun = 0;
  for (size_t i = 0; ok && i + 8 <= recs->size(); i += 8)
    if (endmark(&(*recs)[i])) {
      recs->resize(i);
      break;
    }
  return ok;
}

// Writes the records and the end marker as the whole vector file, into a
// temporary file beside it that replaces it when complete: a failed write
// leaves no new file behind and an old one as it was. A target that is no
// regular file is written straight, where it takes the file's seeks (a fifo
// does not: "Illegal seek"). false when it cannot be written (reported with
// its cause: error 66 on argument arg when it cannot be opened, else 69).
bool writevecs(const char* name, std::vector<uint8_t>* recs, int arg) {
  const uint8_t mark[8] = {1, 0, 0, 0, 0, 0, 15, 0};
  recs->insert(recs->end(), mark, mark + 8);
  SafeOut so;
  std::string at;
  if (const int e = swtemp(name, &so, &at, false); e != 0) {
    fileerr(name, arg, 66, e > 0 ? e : EIO);
    return false;
  }
  // The temporary file is there already; a device is written in place.
  const int mode = UM_UPDATE | UM_CREATE;
  // A straight target is opened for writing only.
  const int omode = !so.temp.empty() ? UM_UPDATE : so.straight ? UM_CREATE : mode;
  errno = 0;
  int u = openf(at.c_str(), omode, 512);
  if (u < 0) {
    if (!(state & ST_ERROR)) fileerr(name, arg, 66, errno ? errno : EIO);
    swend(&so, false);
    return false;
  }
  PtrRec* fv = vecfile(name, u, mode, static_cast<uint32_t>(recs->size() / 8));
  imgfmt::DropIdx drop{fv};
  int32_t c, p, t, w;
  if (fv) gtvarb(fv, &c, &p, &t, &w, 115);
  bool ok = fv && t >= 0 && !(state & ST_ERROR) && moverecs(fv, recs, 2);
  if (fv) pactiv(fv, -1);
  closef(u, 0);  // a close that fails is an error of its own
  if (fv) filrec(fv)->Lun = 0;
  ok = ok && !(state & ST_ERROR);
  if (!ok && !(state & ST_ERROR)) error(arg, 66);
  return swend(&so, ok) && ok;
}

std::string vbound;  // the vector file the vector list is bound to

// Appends one 8-byte vector record to the vector list; false when the list
// cannot store it (reported).
bool addvec(const uint8_t* v) {
  int16_t x, y, z;
  std::memcpy(&x, v, 2);
  std::memcpy(&y, v + 2, 2);
  std::memcpy(&z, v + 4, 2);
  if (putvec(nvecs, x, y, z, v[6] & 15, v[7], v[6] >> 4) < 0) return false;
  nvecs++;
  return true;
}

void listrec(int i, const uint8_t* v) {
  int16_t x, y, z;
  std::memcpy(&x, v, 2);
  std::memcpy(&y, v + 2, 2);
  std::memcpy(&z, v + 4, 2);
  jprintf(dbglun, " %3d:  %6d %6d %6d\t%2d %2d %3d\n", i, x, y, z, v[6] & 15, v[6] >> 4, v[7]);
}

}  // namespace

int vecio(int code) {
  bool out = code == CM_OUTPUT;
  // The list: argument 3, or the system's vector list.
  PtrRec* list = nullptr;
  if (nargs() >= 3) {
    int32_t h = 0;
    int t = argtyp(3, &h);
    list = (t & K_VECTOR) ? argary(3, nullptr) : nullptr;
    // Input grows the list: a single vector record cannot take more.
    if (!list || list->Wsiz != W_VEC || (!out && !(list->Flg & K_MATRIX))) {
      error(3, 117);
      return -1;
    }
  } else if (!veclst()) {
    vinit(0);
  }
  int32_t nlist = list ? ((list->Flg & K_MATRIX) ? static_cast<int32_t>(list->Offs[4]) : 1) : nvecs;
  if (!list && (!veclst() || nvecs > veclst()->Length)) {
    error(0, 118);
    return -1;
  }

  char name[320] = {0};
  float num = 0;
  int t2 = nargs() >= 2 ? getarg(2, &num, nullptr, 0, nullptr) : 0;
  if (t2 && !(t2 & K_STRING) && (t2 & K_NUMBER)) {
    if (dfname(static_cast<int>(num), name, 0x100) == 0) {
      error(0, 64);
      return -1;
    }
  } else if (t2) {
    if (argtext(2, name, 256) < 0) name[0] = 0;
  }
  pthpart(name, name, 0, 256);
  if (!name[0]) {
    error(2, 46);
    return -1;
  }

  std::vector<uint8_t> recs;
  if (!readvecs(name, &recs, 2, out)) {
    if (!(state & ST_ERROR)) error(2, 66);
    return -1;
  }
  int64_t copied = 0;
  if (out) {
    size_t old = recs.size();
    for (int32_t i = 0; i < nlist && !stopped(); i++) {
      // A record the list counts but cannot give (a block it cannot load,
      // reported there) leaves the file as it was.
      const uint8_t* v = gtvptr(list, i, 1);
      if (!v) {
        if (!(state & ST_ERROR)) error(0, 118);
        return -1;
      }
      recs.insert(recs.end(), v, v + 8);
      if (trcmsk & 16) listrec(i, v);
      copied++;
    }
    (void)old;
    if (!writevecs(name, &recs, 2)) return -1;
  } else if (list) {
    // The list variable is made anew with its own records and then the file's.
    std::vector<uint8_t> all;
    for (int32_t i = 0; i < nlist; i++)
      if (const uint8_t* v = gtvptr(list, i, 1)) all.insert(all.end(), v, v + 8);
    size_t mine = all.size();
    all.insert(all.end(), recs.begin(), recs.end());
    auto n = static_cast<int64_t>(all.size() / 8);
    if (n > static_cast<int64_t>(mine / 8)) {
      if (n > INT32_MAX / 8 || asnvrb(list, static_cast<int32_t>(n), nullptr, 1) < 0 ||
          !(list = argary(3, nullptr))) {
        if (!(state & ST_ERROR)) error(0, 118);
        return -1;
      }
      for (int64_t i = 0; i < n && !stopped(); i++) {
        uint8_t* v = gtvptr(list, static_cast<int32_t>(i), 2);
        if (!v) {
          error(0, 118);
          return -1;
        }
        std::memcpy(v, &all[static_cast<size_t>(i) * 8], 8);
        if (i * 8 >= static_cast<int64_t>(mine)) {
          if (trcmsk & 16) listrec(static_cast<int>(i - mine / 8), v);
          copied++;
        }
      }
      int32_t part = 0;
      DMPVRB(list, &part, 0, 0);
    }
  } else {
    for (size_t i = 0; i + 8 <= recs.size() && !stopped(); i += 8) {
      if (!addvec(&recs[i])) break;
      if (trcmsk & 16) listrec(static_cast<int>(i / 8), &recs[i]);
      copied++;
    }
    // The new records are drawn as they are now part of the list.
    if (copied > 0 && !stopped()) redraw(static_cast<int>(std::min<int64_t>(copied, INT32_MAX)));
    if (state & ST_ERROR) return -1;
  }
  setres(static_cast<int32_t>(std::min<int64_t>(copied, INT32_MAX)), 0);
  return 0;
}

int vecrole(const char* name) {
  // The list goes back to the file it was bound to, and is let go.
  if (!vbound.empty()) {
    std::vector<uint8_t> recs;
    for (int32_t i = 0; i < nvecs; i++)
      if (const uint8_t* v = gtvptr(nullptr, i, 1)) recs.insert(recs.end(), v, v + 8);
    const std::string file = vbound;
    vbound.clear();
    if (!writevecs(file.c_str(), &recs, 0)) return -1;
  }
  if (veclst()) {
    nvecs = 0;
    setnvec(-1, 0);
  }
  if (!name) return 0;
  // The list is made again with the records of the file.
  std::vector<uint8_t> recs;
  if (!readvecs(name, &recs, 3, false)) {
    if (!(state & ST_ERROR)) error(3, 66);
    return -1;
  }
  if (!veclst()) vinit(0);
  for (size_t i = 0; i + 8 <= recs.size() && !stopped(); i += 8)
    if (!addvec(&recs[i])) return -1;
  vbound = hostpath(name);
  return 0;
}
