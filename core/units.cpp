// Numbered file units: the file table, openf/closef, record I/O and the
// block stream.
#include "core/units.h"

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/tmpfile.h"
#include "files/fileutil.h"
#include "lang/namehooks.h"
#include "realtime/devices/comport.h"
#include "ui/events.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <stdio_ext.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

static_assert(sizeof(off_t) == 8, "file positions must be 64-bit");

namespace {

constexpr UnitSlot kPreset{-1, 0, -1, -1, {}, 0, 0};

// Every stream position is 64-bit. upos is the real cached position of each
// unit; the slot's pos field keeps its low 32 bits (or -1/-2). The cached
// position counts only while the slot field still agrees with upos, so a
// caller that writes -1 or -2 into the slot forces the next seek as before.
int64_t upos[NUNITS];
// The last transfer on the unit was a read: a write must position first.
bool uread[NUNITS];
// The unit's stream cannot be positioned (a fifo, a socket, or this
// program's own descriptor named through /proc): it starts at position 0
// where it stands, and a move elsewhere fails (ESPIPE).
bool ustream[NUNITS];
// The unit writes this program's own descriptor (opened as /dev/stdout):
// what standard output holds goes out before each of its writes, which are
// not buffered, so that both keep the order they were made in.
bool uown[NUNITS];
void ownfirst(int u) {
  if (uown[u]) std::fflush(stdout);
}
uint32_t nseeks;
// Per unit since its open: the name as the opener gave it (for messages),
// and the cause (errno) of the first formatted write that failed, 0 none.
std::string ushown[NUNITS];
int uerr[NUNITS];

// Says a failed write or close of a unit with its cause, "NAME: cause" on
// the error unit, and raises error `code`. A report about the error unit
// itself goes to the terminal.
void unitsay(int unit, int code, int err) {
  const int16_t keep = errlun;
  if (errlun == unit) errlun = 1;
  const std::string& nm = ushown[unit].empty() ? std::string(filtab[unit].name) : ushown[unit];
  jprintf(errlun, "%s: %s\n", nm.empty() ? "file" : nm.c_str(), std::strerror(err ? err : EIO));
  error(0, code);
  errlun = keep;
}

int32_t low32(int64_t p) {
  return p < 0 ? static_cast<int32_t>(p) : static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(p)));
}

void setcpos(int u, int64_t p) {
  upos[u] = p;
  filtab[u].pos = low32(p);
}

int64_t cpos(int u) {
  int64_t p = upos[u];
  return (p >= 0 && filtab[u].pos == low32(p)) ? p : -1;
}

FILE* ufile(int u) {
  if (u < 0 || u >= NUNITS || filtab[u].strm >= -1) return nullptr;
  return static_cast<FILE*>(heldptr(filtab[u].strm));
}

// Moves the stream to pos unless it is known to be there already. A write
// after a read must position the stream even so (writes are flushed at
// once, so a read after a write needs nothing).
bool seekto(int u, FILE* fp, int64_t pos, bool forwrite) {
  if (cpos(u) == pos && !(forwrite && uread[u])) return true;
  if (ustream[u]) {
    errno = ESPIPE;
    return false;
  }
  ++nseeks;
  if (fseeko(fp, static_cast<off_t>(pos), SEEK_SET) != 0) {
    setcpos(u, -1);
    return false;
  }
  uread[u] = false;
  setcpos(u, pos);
  return true;
}

// The byte position of a record, or -1 when it cannot be one.
int64_t recpos(int32_t record, int32_t length, int64_t offset) {
  if (record < 0 || length < 0 || offset < 0 || offset > (INT64_MAX >> 1)) return -1;
  return offset + static_cast<int64_t>(record) * length;
}

bool writable(int mode) {
  char s[5];
  unitmode(mode, s);
  return s[0] != 'r' || s[1] == '+';
}

int openflags(int mode) {
  char s[5];
  unitmode(mode, s);
  bool plus = s[1] == '+';
  int f = O_CLOEXEC | (plus ? O_RDWR : (s[0] == 'r' ? O_RDONLY : O_WRONLY));
  if (s[0] == 'w')
    f |= O_CREAT | O_TRUNC;
  else if (s[0] == 'a')
    f |= O_CREAT | O_APPEND;
  else if (mode & UM_UPDATE)
    f |= O_CREAT;  // update: made when missing, never truncated
  return f;
}

// "com1" to "com10" (any case, an optional ':') name serial port slots.
int serslot(const char* name) {
  if (tolower(static_cast<unsigned char>(name[0])) != 'c' ||
      tolower(static_cast<unsigned char>(name[1])) != 'o' ||
      tolower(static_cast<unsigned char>(name[2])) != 'm')
    return -1;
  const char* p = name + 3;
  int n = 0, digits = 0;
  while (isdigit(static_cast<unsigned char>(*p)) && digits < 3) n = n * 10 + (*p++ - '0'), ++digits;
  if (*p == ':') ++p;
  if (digits == 0 || *p || n < 1 || n > 10) return -1;
  return n - 1;
}

UnitBlock* ublk(int u) {
  if (u < 0 || u >= NUNITS || filtab[u].blkbuf <= 0) return nullptr;
  return static_cast<UnitBlock*>(stkptr(filtab[u].blkbuf));
}

void freeblk(int u) {
  if (filtab[u].blkbuf > 0) putstk(filtab[u].blkbuf, 0, 0);
  filtab[u].blkbuf = 0;
}

// Writes the first 512 bytes in hand as the next block and moves the rest
// down. On failure the bytes stay in hand, so nothing is lost silently.
int putblk(int u, UnitBlock* b) {
  if (b->blkno < 0 || b->blkno == INT16_MAX) return -1;
  if (wrtblk(u, b->blkno, b->data, UBLK, 0) != UBLK) return -1;
  ++b->blkno;
  b->nhand = static_cast<int16_t>(b->nhand - UBLK);
  std::memmove(b->data, b->data + UBLK, static_cast<size_t>(b->nhand));
  if (b->nhand == 0) b->flags &= static_cast<uint16_t>(~UB_CHANGED);
  return 0;
}

}  // namespace

UnitSlot filtab[NUNITS] = {kPreset, kPreset, kPreset, kPreset, kPreset};

const char* unitmode(int mode, char out[5]) {
  int m = mode & 0x71FF;
  int k = 0;
  if (m & UM_CREATE) {
    out[k++] = 'w';
    if (m & UM_UPDATE) out[k++] = '+';
  } else if (m & UM_UPDATE) {
    // Update without create reads and writes in place: it never truncates.
    out[k++] = (m & UM_APPEND) ? 'a' : 'r';
    out[k++] = '+';
  } else {
    out[k++] = (m & UM_APPEND) ? 'a' : 'r';
    if (!(m & UM_RDONLY)) out[k++] = '+';
  }
  out[k++] = (m & UM_TEXT) ? 't' : 'b';
  out[k] = '\0';
  return out;
}

uint32_t unitseeks() { return nseeks; }

int fndfil(const char* name) {
  if (!name || !*name) return -1;
  std::string full = hostpath(name);
  for (int u = 0; u < NUNITS; ++u)
    if (filtab[u].Nlinks > 0 && full == filtab[u].name) return u;
  return -1;
}

int ovwask(const char* name) {
  std::string full = hostpath(name);
  int exists = Exists(full.c_str());
  if ((pflags & 0x1) && exists && !(state & (ST_TMACRO | ST_CMACRO | ST_STARTUP))) {
    jprintf(1, "Overwriting existing file: %s\tOkay? ", full.c_str());
    if (yesno(-1) < 1) return -1;
  }
  char work[UNIT_NAMELEN];
  int r = wrtchk(full.c_str(), work, exists);
  return r < 0 ? r : 0;
}

int werrno = 0;

int openf(const char* name, int mode, int) {
  if (!name || !*name) return -1;
  int slot = serslot(name);
  if (slot >= 0) return seropen(slot) == 0 ? 100 + slot : -1;
  std::string full = hostpath(name);
  if (full.size() >= UNIT_NAMELEN) {
    errno = ENAMETOOLONG;
    return -1;
  }

  int u = fndfil(full.c_str());
  if (u >= 0) {
    if (((filtab[u].mode ^ mode) & UM_MATCH) != 0 || filtab[u].Nlinks == INT16_MAX) {
      error(0, 83);
      return -1;
    }
    ++filtab[u].Nlinks;
    return u;
  }
  for (u = 1; u < NUNITS && filtab[u].Nlinks != 0; ++u) {
  }
  if (u >= NUNITS) {
    error(0, 68);
    return -1;
  }

  if ((mode & UM_CREATE) && ovwask(full.c_str()) < 0) return -1;

  char s[5];
  unitmode(mode, s);
  char fm[4] = {s[0], s[1] == '+' ? '+' : 'b', s[1] == '+' ? 'b' : '\0', '\0'};
  // A new file named through /proc for this program's own descriptor
  // (/dev/stdout) is that descriptor, written where it stands.
  const int own = (mode & UM_CREATE) ? tmpown(full) : -1;
  int fd = own >= 0 ? fcntl(own, F_DUPFD_CLOEXEC, 0) : open(full.c_str(), openflags(mode), 0666);
  if (fd < 0) return -1;
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  if (!known || S_ISDIR(st.st_mode)) {
    const int e = known ? EISDIR : errno;
    close(fd);
    errno = e;
    return -1;
  }
  FILE* fp = fdopen(fd, fm);
  if (!fp) {
    close(fd);
    return -1;
  }
  if (own >= 0) std::setvbuf(fp, nullptr, _IONBF, 0);
  int32_t ref = holdptr(fp);
  if (ref >= -1) {
    fclose(fp);
    return -1;
  }

  UnitSlot& sl = filtab[u];
  ushown[u] = name;
  uerr[u] = 0;
  std::memcpy(sl.name, full.c_str(), full.size() + 1);
  sl.Nlinks = 1;
  sl.blkbuf = 0;
  sl.mode = static_cast<uint16_t>(mode);
  sl.strm = ref;
  uown[u] = own >= 0;
  ustream[u] = own >= 0 || (lseek(fd, 0, SEEK_CUR) < 0 && errno == ESPIPE);
  setcpos(u, ustream[u] ? 0 : -1);
  uread[u] = false;
  if (mode & UM_TEMP) state |= ST_TEMPUNITS;
  return u;
}

int rdblk(int unit, int32_t record, void* buf, int32_t length, int64_t offset) {
  FILE* fp = ufile(unit);
  if (!fp || !buf || length < 0) return -1;
  char m[5];
  unitmode(filtab[unit].mode, m);
  if ((m[0] != 'r' && m[1] != '+') || (ustream[unit] && writable(filtab[unit].mode))) {
    // A unit opened for writing only (a device, a fifo), or a stream this
    // program writes, has nothing to read back: zeros, as past the end of a
    // new file.
    std::memset(buf, 0, static_cast<size_t>(length));
    return length;
  }
  int64_t pos = recpos(record, length, offset);
  if (pos < 0) return -1;
  if (!seekto(unit, fp, pos, false)) return -1;
  auto* b = static_cast<uint8_t*>(buf);
  size_t want = static_cast<size_t>(length);
  size_t got = length ? fread(b, 1, want, fp) : 0;
  uread[unit] = true;
  if (got < want && ferror(fp)) {
    clearerr(fp);
    setcpos(unit, -1);
    state |= ST_ERROR;
    return -1;
  }
  clearerr(fp);  // an end of file is not kept: the file may grow
  std::memset(b + got, 0, want - got);
  setcpos(unit, pos + static_cast<int64_t>(got));
  if (got == 0 && length > 0) return writable(filtab[unit].mode) ? length : 0;
  return static_cast<int>(got);
}

int wrtblk(int unit, int32_t record, const void* buf, int32_t length, int64_t offset) {
  FILE* fp = ufile(unit);
  if (!fp || !buf || length < 0) return -1;
  int64_t pos = recpos(record, length, offset);
  if (pos < 0) return -1;
  if (!seekto(unit, fp, pos, true)) {
    // A stream that cannot be positioned there: the write is refused.
    werrno = errno ? errno : EIO;
    state |= ST_ERROR;
    return -1;
  }
  size_t want = static_cast<size_t>(length);
  ownfirst(unit);
  // The bytes are handed to the system before success is reported, so a
  // full disk shows here and not later at a close nobody checks.
  errno = 0;
  bool ok = fwrite(buf, 1, want, fp) == want;
  if (fflush(fp) != 0) ok = false;
  if (!ok) {
    werrno = errno ? errno : EIO;
    // Drop what the stream still holds, so that it is not written later at
    // whatever place the stream has reached by then.
    __fpurge(fp);
    clearerr(fp);
    setcpos(unit, -1);
    state |= ST_ERROR;
    return -1;
  }
  if (filtab[unit].mode & UM_APPEND) {
    off_t at = ftello(fp);  // appended at the end, wherever pos was
    setcpos(unit, at < 0 ? -1 : static_cast<int64_t>(at));
  } else {
    setcpos(unit, pos + length);
  }
  return length;
}

int bseek(int unit, int32_t block, int32_t byte) {
  if (!ufile(unit)) return 0;
  if (byte < 0) byte = 0;
  if (byte >= UBLK) {
    block += byte / UBLK;
    byte %= UBLK;
  }
  UnitBlock* b = ublk(unit);
  if (!b) {
    if (block < 0) return 0;  // nothing to flush, free or empty
    void* p = zeroblk(static_cast<int32_t>(sizeof(UnitBlock)));
    if (!p) return 0;
    filtab[unit].blkbuf = stkadr(p);
    b = static_cast<UnitBlock*>(p);
    b->zero = 0;
    b->nhand = 0;
  }
  if (block == -3) {
    // Changed bytes come only from wrtbuf; they belong to the block being
    // filled, which is written in place, zero-padded, and stays current.
    if (!(b->flags & UB_CHANGED)) return 0;
    while (b->nhand >= UBLK)
      if (putblk(unit, b) < 0) return -1;
    if (b->nhand == 0) return 0;
    std::memset(b->data + b->nhand, 0, static_cast<size_t>(UBLK - b->nhand));
    if (b->blkno < 0 || wrtblk(unit, b->blkno, b->data, UBLK, 0) != UBLK) return -1;
    b->flags &= static_cast<uint16_t>(~UB_CHANGED);
    return 0;
  }
  setcpos(unit, -2);
  int rc = 0;
  if (b->flags & UB_CHANGED) rc = wrtbuf(unit, nullptr, 0);
  if (block <= -2) {
    freeblk(unit);
    return rc;
  }
  b->nhand = 0;
  b->flags = 0;
  b->blkno = static_cast<int16_t>(block);
  if (block >= 0 && byte > 0) {
    if (rdblk(unit, block, b->data, UBLK, 0) > 0) {
      // The bytes from `byte` on are in hand; rdbuf takes them from the end.
      b->nhand = static_cast<int16_t>(UBLK - byte);
      b->blkno = static_cast<int16_t>(block + 1);
    }
  }
  return rc;
}

uint8_t* rdbuf(int unit, int n) {
  UnitBlock* b = ublk(unit);
  if (!b || n < 0 || n > UBLK || !ufile(unit)) return nullptr;
  if (b->flags & UB_OVERFLOW) {
    // At most 512 bytes are in hand after a call: all of them lie in the
    // overflow, which becomes the block.
    std::memcpy(b->data, b->data + UBLK, UBLK);
    b->flags &= static_cast<uint16_t>(~UB_OVERFLOW);
  }
  if (b->blkno < 0 || b->blkno == INT16_MAX) return nullptr;
  if (n == 0) {
    if (rdblk(unit, b->blkno, b->data, UBLK, 0) <= 0) return nullptr;
    ++b->blkno;
    b->nhand = UBLK;
    return b->data;
  }
  if (b->nhand < n) {
    // The bytes in hand end the block; the next block goes behind them.
    if (rdblk(unit, b->blkno, b->data + UBLK, UBLK, 0) <= 0) return nullptr;
    ++b->blkno;
    b->flags |= UB_OVERFLOW;
    b->nhand = static_cast<int16_t>(b->nhand + UBLK);
  }
  uint8_t* end = b->data + ((b->flags & UB_OVERFLOW) ? 2 * UBLK : UBLK);
  uint8_t* p = end - b->nhand;
  b->nhand = static_cast<int16_t>(b->nhand - n);
  return p;
}

int wrtbuf(int unit, const void* data, int n) {
  UnitBlock* b = ublk(unit);
  if (!b || !ufile(unit)) return -1;
  if (!data) {
    // A flush: the block counts as full.
    if (!(b->flags & UB_CHANGED)) return 0;
    while (b->nhand > 0) {
      if (b->nhand < UBLK) {
        std::memset(b->data + b->nhand, 0, static_cast<size_t>(UBLK - b->nhand));
        b->nhand = UBLK;
      }
      if (putblk(unit, b) < 0) return -1;
    }
    b->flags &= static_cast<uint16_t>(~UB_CHANGED);
    return 0;
  }
  if (n < 0) return -1;
  const auto* src = static_cast<const uint8_t*>(data);
  while (n > 0) {
    int k = 2 * UBLK - b->nhand;
    if (k > n) k = n;
    std::memcpy(b->data + b->nhand, src, static_cast<size_t>(k));
    b->nhand = static_cast<int16_t>(b->nhand + k);
    b->flags |= UB_CHANGED;
    src += k;
    n -= k;
    while (b->nhand >= UBLK)
      if (putblk(unit, b) < 0) return -1;
  }
  return 0;
}

uint32_t strmgen = 0;

int closef(int unit, int del) {
  if (unit >= 100) {
    if (unit <= 109) sercls(unit - 100);
    return 0;
  }
  if (unit == 4) return 0;  // the printer-close hook does nothing here
  if (unit < 3 || unit >= NUNITS) return 0;
  UnitSlot& s = *(filtab + unit);  // (g++ 12 misreads filtab[unit] here)
  if (s.Nlinks == 0) return 0;
  bool lost = false;
  if (s.blkbuf) lost = bseek(unit, s.Nlinks == 1 ? -2 : -1, 0) < 0;
  if (lost && !uerr[unit]) uerr[unit] = werrno ? werrno : EIO;
  if (s.Nlinks < 0) {
    FILE* fp = ufile(unit);
    errno = 0;
    if (fp && fflush(fp) != 0) {
      const int err = errno;
      __fpurge(fp);
      clearerr(fp);
      unitsay(unit, 81, err);
      return -1;
    }
    return 0;
  }
  if (--s.Nlinks > 0) return 0;
  FILE* fp = ufile(unit);
  if (s.strm < -1) dropptr(s.strm);
  s.strm = -1;
  strmgen++;
  // A close fails when the stream's last bytes cannot be written, or when
  // rows written earlier since the open were lost: the file is not whole.
  if (fp && writable(s.mode) && ferror_unlocked(fp) && !uerr[unit]) uerr[unit] = EIO;  // a writer that said nothing
  errno = 0;
  const bool closed = !fp || fclose(fp) == 0;
  const int err = !closed ? (errno ? errno : EIO) : uerr[unit];
  freeblk(unit);
  if (err)
    unitsay(unit, 81, err);
  else if (del == 1)
    delfil(s.name);
  uerr[unit] = 0;
  ushown[unit].clear();
  s.name[0] = '\0';
  if (s.mode & UM_ALERT) delfil("alert.tmp");
  s.mode = 0;
  setcpos(unit, -1);
  uread[unit] = false;
  ustream[unit] = false;
  uown[unit] = false;
  return err ? -1 : 0;
}

void unitfail(int unit, int err) {
  FILE* fp = ufile(unit);
  if (!fp) return;
  clearerr(fp);
  if (uerr[unit]) return;  // said once an open
  uerr[unit] = err ? err : EIO;
  unitsay(unit, 69, uerr[unit]);
}

int clsall() {
  int failed = 0;
  for (int u = 0; u < NUNITS; u++) {
    if (u == errlun) continue;
    if (filtab[u].Nlinks < 0 && closef(u, 0) < 0) failed++;
    for (int k = 0; k < 1000 && filtab[u].Nlinks > 0; k++)
      if (closef(u, 0) < 0) failed++;
  }
  // The error unit last, its own failure said on the terminal.
  if (errlun >= 0 && errlun < NUNITS) {
    const int u = errlun;
    errlun = 1;
    if (filtab[u].Nlinks < 0 && closef(u, 0) < 0) failed++;
    for (int k = 0; k < 1000 && filtab[u].Nlinks > 0; k++)
      if (closef(u, 0) < 0) failed++;
  }
  return failed;
}

int clstmp() {
  for (int u = 0; u < NUNITS; ++u)
    if (filtab[u].Nlinks > 0 && (filtab[u].mode & UM_TEMP)) closef(u, 0);
  return 0;
}

int yesno(int key) {
  static constexpr int keys[10] = {27, 130, 'n', 'N', 129, 13, 'y', 'Y', 208, 209};
  if (key < 0) {
    key = waitky();
    if (key < 0) {  // end of input: a cancel
      state |= ST_ERROR;
      return -1;
    }
  }
  int idx = -1;
  for (int i = 0; i < 10 && !(keytext && key >= 128); ++i)  // typed text is no click or key
    if (keys[i] == key) {
      idx = i;
      break;
    }
  int r;
  if (idx >= 4) {
    r = idx;
  } else {
    if (idx < 0) pushkey(key, keytext);
    r = idx == 0 ? -1 : 0;
    state |= ST_ERROR;
  }
  flushq();  // pending window input goes with the answer
  return r;
}

FILE* unitstream(int unit) {
  FILE* fp = ufile(unit);
  if (fp) {
    // The caller reads or writes the stream itself: the next record
    // transfer must position it again.
    setcpos(unit, -1);
    uread[unit] = false;
    ownfirst(unit);
  }
  return fp;
}
