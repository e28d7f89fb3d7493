// Macro files and the macro library: finding a macro along the search
// path, and the library file of 1024-byte blocks with its directory.
#include "lang/maclib.h"

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "core/units.h"
#include "files/fileutil.h"
#include "lang/names.h"
#include "lang/rdline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

int16_t libunit = 0;
LibHdr libhdr = {0, 0, 0};
int libfnd = 0;
LibEnt libent = {0, 0, 0, {0}};
// Bumped whenever the library is written, so that held blocks are read anew.
uint32_t libgen = 0;

namespace {

constexpr int MODE_TEXT = UM_RDONLY | UM_TEXT;  // 33: text macros
constexpr int MODE_CMP = 0x11;                  // 17: compiled macros
constexpr int HDRLEN = 32;

uint8_t dirbuf[LIBBLK];  // the directory block held (shared with writes)
int dirblk = -1;         // its number, -1 none
std::string libname;     // the library's file name

inline uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t rd32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void wr16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void wr32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// Reads directory block b into the held buffer. 0, or -1.
int getdir(int b) {
  if (b == dirblk) return 0;
  dirblk = -1;
  int n = rdblk(libunit, b, dirbuf, LIBBLK, 0);
  if (n < 0) return -1;
  dirblk = b;
  return 0;
}

// Writes the held block back as block b.
int putdir(int b) {
  if (wrtblk(libunit, b, dirbuf, LIBBLK, 0) < 0) {
    dirblk = -1;
    return -1;
  }
  dirblk = b;
  libfls();
  return 0;
}

// The header fields from / into block 0 in the held buffer.
void gethdr() {
  libhdr.maxent = rd16(dirbuf + 2);
  libhdr.nxtfre = rd32(dirbuf + 4);
  libhdr.nent = rd16(dirbuf + 8);
}
void puthdr() {
  wr16(dirbuf, LIBMAGIC);
  wr16(dirbuf + 2, libhdr.maxent);
  wr32(dirbuf + 4, libhdr.nxtfre);
  wr16(dirbuf + 8, libhdr.nent);
  std::memset(dirbuf + 10, 0, HDRLEN - 10);
}

// Length of the library file in bytes.
int64_t liblen() {
  FILE* f = unitstream(libunit);
  if (!f) return 0;
  if (std::fseek(f, 0, SEEK_END) != 0) return 0;
  long n = std::ftell(f);
  return n < 0 ? 0 : n;
}

// The entry of number k in the held block (which must be k's block).
uint8_t* entp(int k) { return dirbuf + (k % 32) * LIBENT; }

// Reads entry k's fields into libent.
void takent(int k) {
  const uint8_t* e = entp(k);
  libent.kind = rd16(e);
  libent.size = rd16(e + 2);
  libent.offset = rd32(e + 4);
  std::memcpy(libent.name, e + 16, 16);
  libent.name[16] = 0;
}

void lower(char* s) {
  for (; *s; s++)
    if (*s >= 'A' && *s <= 'Z') *s = char(*s + 32);
}

// The entry name of a macro file: the file name in lower case after its
// last folder separator or ':', cut at its first '.', at most 16 bytes.
void entnam(const char* file, char out[17]) {
  const char* p = file;
  for (const char* q = file; *q; q++)
    if (*q == '\\' || *q == '/' || *q == ':') p = q + 1;
  int n = 0;
  while (p[n] && p[n] != '.' && n < 16) {
    out[n] = p[n];
    n++;
  }
  out[n] = 0;
  lower(out);
}

// Packs the text file on `unit` into the library from byte offset `off`.
// The bytes from off up to the end byte, or -1 when a write failed or the
// data would not fit the entry's size field.
int64_t packtxt(int unit, uint32_t off) {
  FILE* f = unitstream(unit);
  if (!f) return -1;
  std::rewind(f);
  uint8_t blk[LIBBLK];
  int32_t b = int32_t(off / LIBBLK);
  int pos = int(off % LIBBLK);
  if (pos > 0) {
    if (rdblk(libunit, b, blk, LIBBLK, 0) < 0) return -1;
  } else {
    std::memset(blk, 0, sizeof blk);
  }
  int64_t total = 0;
  char line[LIBLINE + 1];
  int n;
  while ((n = strmln(f, line, LIBLINE)) >= 0) {
    if (n == 0) continue;  // empty lines are not stored
    int lead = 0;
    while (lead < n && line[lead] == ' ') lead++;
    uint8_t rec[LIBLINE + 3];
    int rl;
    if (lead >= 3) {
      rec[1] = 1;
      rec[2] = uint8_t(lead);
      std::memcpy(rec + 3, line + lead, size_t(n - lead));
      rl = n - lead + 3;
    } else {
      std::memcpy(rec + 1, line, size_t(n));
      rl = n + 1;
    }
    rec[0] = uint8_t(rl);
    if (pos + rl > LIBBLK) {
      // The record does not fit the rest of the block: 255 marks the
      // unused tail and the record starts the next block.
      blk[pos] = 255;
      total += LIBBLK - pos;
      if (wrtblk(libunit, b, blk, LIBBLK, 0) < 0) return -1;
      b++;
      pos = 0;
      std::memset(blk, 0, sizeof blk);
    }
    std::memcpy(blk + pos, rec, size_t(rl));
    pos += rl;
    total += rl;
    if (total > 0xFFFF) return -1;
    if (pos == LIBBLK) {
      if (wrtblk(libunit, b, blk, LIBBLK, 0) < 0) return -1;
      b++;
      pos = 0;
      std::memset(blk, 0, sizeof blk);
    }
  }
  if (total > 0xFFFF) return -1;
  if (pos > 0 || total == 0) {
    // The end byte; a macro whose last record filled its block ends at its
    // end position alone.
    blk[pos] = 0;
    if (wrtblk(libunit, b, blk, LIBBLK, 0) < 0) return -1;
  }
  return total;
}

// Copies the compiled file on `unit` into the library from offset `off`
// (a multiple of 1024). The bytes copied, or -1.
int64_t copycmp(int unit, uint32_t off) {
  FILE* f = unitstream(unit);
  if (!f) return -1;
  std::rewind(f);
  uint8_t blk[LIBBLK];
  int64_t total = 0;
  int32_t b = int32_t(off / LIBBLK);
  for (;;) {
    size_t n = std::fread(blk, 1, LIBBLK, f);
    if (n == 0) break;
    if (total + int64_t(n) > 0xFFFF) return -1;
    if (n < LIBBLK) std::memset(blk + n, 0, LIBBLK - n);
    // A short last block still goes at its block's offset.
    if (wrtblk(libunit, 0, blk, int32_t(n), int64_t(b++) * LIBBLK) < 0) return -1;
    total += int64_t(n);
    if (n < LIBBLK) break;
  }
  return total;
}

}  // namespace

const char* libnam() { return libname.c_str(); }

void libcls() {
  if (libunit > 0) closef(libunit, 0);
  libunit = 0;
  dirblk = -1;
  libfnd = 0;
  libhdr = {0, 0, 0};
  libname.clear();
  libfls();
}

int inimac(int create) {
  if (libunit > 0) return 0;
  std::string name = strvar("macrofile");
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) name = std::string(strvar("sysdir")) + "MACROS";
  libname = name;
  dirblk = -1;
  libfls();
  // Opening for update makes a missing file, so a look-up (which never
  // makes the library) first asks whether it is there.
  if (!create && !Exists(name.c_str())) {
    libunit = -1;
    return -1;
  }
  int u = openf(name.c_str(), UM_UPDATE, LIBBLK);
  bool fresh = false;
  if (u <= 0 && !create) u = openf(name.c_str(), UM_RDONLY, LIBBLK);  // a read-only library still serves look-ups
  if (u <= 0) {
    if (!create) {
      libunit = -1;
      return -1;
    }
    u = openf(name.c_str(), UM_UPDATE | UM_CREATE, LIBBLK);
    if (u <= 0) {
      libunit = -1;
      error(0, 142);
      return -1;
    }
    fresh = true;
  }
  libunit = int16_t(u);
  if (!fresh && create && liblen() == 0) fresh = true;  // an empty file is made anew
  if (fresh) {
    // Capacity: directory blocks; at least 1, and few enough that the
    // maximum entry count fits its 16-bit field.
    int c = intarg(3, LIBDIRDEF);
    if (c < 1) c = 1;
    if (c > 2048) c = 2048;
    std::memset(dirbuf, 0, sizeof dirbuf);
    libhdr.maxent = uint16_t(c * 32 - 1);
    libhdr.nxtfre = uint32_t(c) * LIBBLK;
    libhdr.nent = 0;
    puthdr();
    if (putdir(0) < 0) {
      closef(u, 0);
      libunit = -1;
      error(0, 142);
      return -1;
    }
    // The whole directory exists in the file, so no later read of it
    // reaches past the file's end.
    uint8_t zero[LIBBLK] = {0};
    for (int b = 1; b < c; b++) wrtblk(libunit, b, zero, LIBBLK, 0);
    dirblk = 0;
  } else {
    int64_t len = liblen();
    int n = len >= HDRLEN ? rdblk(libunit, 0, dirbuf, LIBBLK, 0) : -1;
    bool ok = n >= HDRLEN && rd16(dirbuf) == LIBMAGIC;
    if (ok) {
      gethdr();
      uint32_t dirbytes = (uint32_t(libhdr.maxent) + 1) * LIBENT;
      // The directory and the next free offset lie inside the file.
      ok = libhdr.nent <= libhdr.maxent && (libhdr.maxent + 1) % 32 == 0 &&
           libhdr.nxtfre >= dirbytes && int64_t(libhdr.nxtfre) <= len;
    }
    if (!ok) {
      closef(u, 0);
      libunit = -1;
      dirblk = -1;
      error(0, 142);
      return -1;
    }
    dirblk = 0;
  }
  libfnd = 0;
  return 0;
}

int fndmac(const char* name, int mode) {
  if (libunit <= 0) return 0;
  char key[9] = {0};
  if (mode == 0) {
    if (!name) return 0;
    size_t l = std::strlen(name);
    if (l == 0 || l > 8) return 0;  // a name longer than 8 characters never matches
    std::memcpy(key, name, l);
    lower(key);
  }
  int walk = libhdr.nent;
  if (mode < 0 && libhdr.nent < libhdr.maxent) walk++;
  for (int k = 1; k <= walk; k++) {
    if (getdir(k / 32) < 0) return 0;
    const uint8_t* e = entp(k);
    uint16_t kind = rd16(e);
    if (mode < 0) {
      if (kind == 0) {
        takent(k);
        libfnd = k;
        return k;
      }
      continue;
    }
    if (kind == 0) continue;
    if (mode > 0) {
      char nm[17] = {0};
      std::memcpy(nm, e + 16, 16);
      jprintf(lstlun, "%3d:  %8.8s\t%4d\t%8ld  %5d\n", k, nm, kind, long(rd32(e + 4)), rd16(e + 2));
      if (stopped()) break;
      continue;
    }
    if (std::memcmp(e + 16, key, 8) == 0) {
      takent(k);
      libfnd = k;
      return k;
    }
  }
  return 0;
}

int mkfnam(const char* name, const char* ext, const char* folder, char* out) {
  int fl = 0;
  out[0] = 0;
  if (!name) name = "";
  bool hasdir = false;
  for (int i = 0; i < 256 && name[i]; i++)
    if (name[i] == '\\' || name[i] == '/') hasdir = true;
  if (folder && *folder && !hasdir) {
    fl = int(strnlen(folder, 255));
    std::memcpy(out, folder, size_t(fl));
  }
  int nl = int(strnlen(name, 256));
  std::memcpy(out + fl, name, size_t(nl));
  out[fl + nl] = 0;
  if (ext && *ext) {
    const char* last = name;
    for (int i = 0; i < nl; i++)
      if (name[i] == '\\' || name[i] == '/' || name[i] == ':') last = name + i + 1;
    if (!std::strchr(last, '.')) {
      int el = int(strnlen(ext, 6));
      std::memcpy(out + fl + nl, ext, size_t(el));
      out[fl + nl + el] = 0;
    }
  }
  return fl;
}

int fserch(const char* name, const char* ext, const char* folders, char* path, int* unit, int mode) {
  std::string list = folders ? folders : strvar("path");
  size_t i = 0;
  do {
    size_t j = list.find('|', i);
    if (j == std::string::npos) j = list.size();
    std::string folder = list.substr(i, j - i);
    while (!folder.empty() && folder.back() == ' ') folder.pop_back();
    // A folder written without its trailing separator still names a folder.
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    char work[600];
    mkfnam(name, ext, folder.c_str(), work);
    int u = openf(work, mode, 512);
    if (u > 0) {
      if (unit) *unit = u;
      if (path) {
        std::strncpy(path, work, 255);
        path[255] = 0;
      }
      return 0;
    }
    i = j + 1;
  } while (i <= list.size());
  return -1;
}

int opnmac(const char* name, int* unit, int mode, char* path, const char* ext) {
  int m = mode < 0 ? -mode : mode;
  if (path) path[0] = 0;
  if (m == 128) {
    std::string sd = strvar("sysdir");
    logprintf("SysStart: %d <%s> <%s>\n", int(sd.size()), sd.c_str(), "sysstart");
    if (sd.empty()) sd = "./";
    return fserch("sysstart", ext, sd.c_str(), path, unit, MODE_TEXT);
  }
  if (m == 8) {
    if (fserch("start", ext, "", path, unit, MODE_TEXT) == 0) return 0;
    return fserch("start", ".txt", "", path, unit, MODE_TEXT);
  }
  if (!name || !*name) return -1;
  m = m == 4 ? 4 : 2;
  if (mode >= 0) {
    if (libunit == 0) inimac(0);
    if (libunit > 0 && !std::strchr(name, '.') && fndmac(name, 0) > 0 && libent.kind == m) {
      if (unit) *unit = libunit;
      if (path) {
        std::strncpy(path, libent.name, 255);
        path[255] = 0;
      }
      return 0;
    }
  }
  if (m == 4 && ext) {
    const char* dot = std::strrchr(name, '.');
    const char* slash = std::strrchr(name, '/');
    if (dot && (!slash || dot > slash) && std::strncmp(dot, ext, 4) != 0) return -1;
  }
  return fserch(name, ext, nullptr, path, unit, m == 4 ? MODE_CMP : MODE_TEXT);
}

// The data of the entry last found, clamped to the library file's length:
// {start, end} byte offsets.
void libspan(uint32_t* start, uint32_t* end) {
  uint64_t s = libent.offset, e = uint64_t(libent.offset) + libent.size;
  uint64_t len = uint64_t(liblen());
  if (e > len) e = len;
  if (s > e) s = e;
  *start = uint32_t(s);
  *end = uint32_t(e);
}

// Reads one line of a library macro without ending the macro: pos {current,
// start, end}. The length, or -1 at the macro's end.
int libnxt(uint32_t* pos, char* buf, int max) {
  static uint8_t blk[LIBBLK];
  static int held = -1;
  static int heldu = -1;
  static uint32_t heldgen = 0;
  if (heldgen != libgen) held = -1;
  buf[0] = 0;
  for (;;) {
    uint32_t cur = pos[0];
    if (cur >= pos[2] || libunit <= 0) return -1;
    int b = int(cur / LIBBLK), off = int(cur % LIBBLK);
    if (b != held || heldu != libunit) {
      held = -1;
      if (rdblk(libunit, b, blk, LIBBLK, 0) <= 0) return -1;
      held = b;
      heldu = libunit;
      heldgen = libgen;
    }
    int n = blk[off];
    if (n == 255) {
      pos[0] = uint32_t(b + 1) * LIBBLK;
      continue;
    }
    if (n == 0 || off + n > LIBBLK) return -1;
    int k = unpkln(blk + off, buf, max);
    pos[0] = cur + uint32_t(n);
    return k;
  }
}

int macro() {
  char name[257];
  int len = 0;
  float v = 0;
  int kind = getarg(2, &v, name, sizeof name, &len);
  bool text = kind == 32 || kind == 34 || (kind > 0 && (kind & 0x7F0) == 32);
  if (!text || len < 1) {
    error(2, 46);
    return 0;
  }
  char path[300];
  int u = -1;
  if (opnmac(name, &u, -2, path, ".cmp") != 0 && opnmac(name, &u, -2, path, ".imp") != 0) {
    error(2, 46);
    return 0;
  }
  size_t pl = std::strlen(path);
  int mkind = (pl >= 4 && std::strcmp(path + pl - 4, ".cmp") == 0) ? 4 : 2;
  if (libunit <= 0) {
    libunit = 0;
    if (inimac(1) != 0) {
      closef(u, 0);
      return 0;
    }
  }
  char en[17];
  entnam(path, en);
  if (!en[0]) {
    closef(u, 0);
    error(2, 46);
    return 0;
  }
  // Nothing is written while the next free offset lies outside the file.
  if (int64_t(libhdr.nxtfre) > liblen()) {
    closef(u, 0);
    error(0, 142);
    return 0;
  }
  int k = fndmac(en, 0);
  bool replace = false;
  if (k > 0) {
    if (intarg(3, 1) >= 2) {
      closef(u, 0);
      error(2, 146);
      return 0;
    }
    jprintf(1, "Delete previous? [n] ");
    int yes = yesno(-1);
    jprintf(1, "\n");
    if (yes <= 0) {
      closef(u, 0);
      return 0;
    }
    replace = true;  // the entry takes the new data; the old data's space stays unused
  } else {
    k = fndmac("", -1);
    if (k <= 0) {
      closef(u, 0);
      error(0, 143);
      return 0;
    }
    // The name goes into the free slot first (its kind stays 0 until the
    // data is written).
    if (getdir(k / 32) < 0) {
      closef(u, 0);
      error(0, 142);
      return 0;
    }
    uint8_t* e = entp(k);
    std::memset(e, 0, LIBENT);
    std::memcpy(e + 16, en, std::strlen(en));
    if (putdir(k / 32) < 0) {
      closef(u, 0);
      error(0, 142);
      return 0;
    }
  }
  uint32_t off = libhdr.nxtfre;
  if (mkind == 4) off = (off + LIBBLK - 1) / LIBBLK * LIBBLK;
  libgen++;
  dirblk = -1;
  int64_t size = mkind == 4 ? copycmp(u, off) : packtxt(u, off);
  closef(u, 0);
  libfls();
  libgen++;
  if (size < 0 || uint64_t(off) + uint64_t(size) > 0xFFFFFFFFull) {
    // Nothing is recorded: the data written lies past the next free offset
    // and is overwritten by the next macro stored.
    dirblk = -1;
    error(2, 142);
    return 0;
  }
  if (getdir(k / 32) < 0) {
    error(0, 142);
    return 0;
  }
  uint8_t* e = entp(k);
  wr16(e, uint32_t(mkind));
  wr16(e + 2, uint32_t(size));
  wr32(e + 4, off);
  std::memset(e + 8, 0, 8);
  std::memset(e + 16, 0, 16);
  std::memcpy(e + 16, en, std::strlen(en));
  if (putdir(k / 32) < 0) {
    error(0, 142);
    return 0;
  }
  if (getdir(0) < 0) {
    error(0, 142);
    return 0;
  }
  libhdr.nxtfre = off + uint32_t(size);
  if (k > libhdr.nent) libhdr.nent = uint16_t(k);
  puthdr();
  if (putdir(0) < 0) error(0, 142);
  (void)replace;
  return 0;
}

int libunt() { return libunit; }

int libdel(const char* name) {
  if (libunit == 0) inimac(0);
  int k = fndmac(name, 0);
  if (k <= 0 || getdir(k / 32) < 0) return 0;
  wr16(entp(k), 0);
  if (putdir(k / 32) < 0) {
    error(0, 142);
    return 0;
  }
  libfnd = 0;
  return k;
}
