// The eight file slots of real-time programs (r_fopen, r_fread, r_fwrite,
// r_fwait, r_fclose, r_fseek). Transfers are made at once inside the op:
// a slot's status is 0 as soon as the op has run. Names are language paths.
// Reads and writes go at the slot's position, which they move on and
// r_fseek sets. A slot opened for writing writes a temporary file in the
// same folder, renamed over the name when the slot closes (at r_fclose, or
// when the run ends with the slot still open); a write that failed leaves
// the old file as it was.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/memory.h"
#include "core/output.h"
#include "files/fileutil.h"
#include "files/safewrite.h"
#include "realtime/rtio.h"
#include "ui/platform/entry.h"

namespace {

constexpr int NFSLOT = 8;

// A slot record of the RT file table (544 bytes).
struct RtFslot {
  char name[512];   // the file name as given
  uint32_t status;  // 1 transfer pending, 0 done, else the system's error code
  int32_t count;    // bytes asked of the last transfer
  uint16_t flags;   // 25 open for reading, 27 for writing; 8 transfer, 16 open, 32 close under way
  uint16_t pad;
  uint32_t pos;     // the position of the next transfer
  int32_t done;     // bytes moved by the last transfer
  int32_t pad2[3];
};
static_assert(sizeof(RtFslot) == 544);

enum : uint16_t { FS_READ = 25, FS_WRITE = 27, FS_WRITABLE = 2, FS_BUSY = 8, FS_OPENING = 16, FS_CLOSING = 32 };

// The host side of the slots: descriptors, the temporary file of a slot
// opened for writing and whether one of its writes failed.
int fds[NFSLOT] = {-1, -1, -1, -1, -1, -1, -1, -1};
SafeOut outs[NFSLOT];
bool writing[NFSLOT], wfailed[NFSLOT];

RtFslot* fslot(int k) {
  if (!rts.filtab || k < 0 || k >= NFSLOT) return nullptr;
  return reinterpret_cast<RtFslot*>(reinterpret_cast<uint8_t*>(wordp(rts.filtab) + 1) + k * sizeof(RtFslot));
}

// Closes a slot's file (a written one renamed over its name, unless a
// write failed): 0, or the system's error code.
int closeslot(int k) {
  int err = 0;
  if (fds[k] >= 0 && ::close(fds[k]) != 0) err = errno;
  fds[k] = -1;
  if (writing[k]) {
    const int r = swdone(&outs[k], err == 0 && !wfailed[k]);
    if (err == 0 && r > 0) err = r;
  }
  writing[k] = wfailed[k] = false;
  return err;
}

// Opens a slot: 0, or the system's error code.
int openslot(int k, const char* name, bool write) {
  std::string path;
  if (!write) {
    path = hostpath(name);
    if (path.empty()) return ENOENT;
    fds[k] = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fds[k] < 0 ? errno : 0;
  }
  const int e = swtemp(name, &outs[k], &path, false);
  if (e != 0) return e > 0 ? e : EACCES;
  writing[k] = true;
  // A device is written in place.
  fds[k] = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | (outs[k].temp.empty() ? O_CREAT : O_TRUNC), 0666);
  return fds[k] < 0 ? errno : 0;
}

// A transfer of count bytes at position `at` of a slot's file: the bytes moved, or
// minus the system's error code.
int64_t transfer(int k, uint32_t at, uint8_t* buf, int64_t count, bool write) {
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = write ? ::pwrite(fds[k], buf + done, static_cast<size_t>(count - done), at + done)
                            : ::pread(fds[k], buf + done, static_cast<size_t>(count - done), at + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -errno;
    if (n == 0) break;
    done += n;
  }
  return done;
}

}  // namespace

bool RTFilio(RtTask* t, RtOp* op) {
  const int opc = op->opc;
  int k = t->slot[0];
  RtFslot* s = nullptr;
  if (k < 0) {
    if (opc == R_FOPEN) {
      // The file name, from its string slot (freed here).
      const int sl = t->slot[2];
      char* name = sl >= 0 && sl < RTSLOTS ? rts.str[sl] : nullptr;
      if (sl >= 0 && sl < RTSLOTS) rts.str[sl] = nullptr;
      t->slot[2] = -1;
      k = -1;
      for (int i = 0; i < NFSLOT && k < 0; i++)
        if (RtFslot* x = fslot(i); x && x->flags == 0) k = i;
      // The slot number (0 when all are busy) is the result.
      t->result = static_cast<int16_t>(k + 1);
      putval(k + 1, rtopk(op, 5));
      if (k < 0) {
        xfree(name);
        return true;
      }
      s = fslot(k);
      const bool write = rtarg(op, 3, 0) != 0;
      std::snprintf(s->name, sizeof s->name, "%s", name ? name : "");
      xfree(name);
      s->flags = write ? FS_WRITE : FS_READ;
      s->pos = 0;
      s->count = s->done = 0;
      t->slot[0] = static_cast<int16_t>(k);
      trcint(8, "rtfilio", 0, opc, k, write, 0, 0);
      trcstr(8, "fopen", k, s->name, write);
      s->status = static_cast<uint32_t>(openslot(k, s->name, write));
      if (s->status != 0) {
        jprintf(errlun, "file %d open error (%d):\n   %s\n", k, static_cast<int>(s->status), s->name);
        closeslot(k);
        s->flags = 0;
        t->result = 0;
        putval(0, rtopk(op, 5));
      }
      return true;
    }
    const int n = rtarg(op, (opc == R_FREAD || opc == R_FWRITE) ? 3 : 1, 1);
    s = fslot(n - 1);
    if (!s || s->flags == 0) return true;
    k = n - 1;
    t->slot[0] = static_cast<int16_t>(k);
  }
  s = fslot(k);
  if (!s) return true;
  if (opc == R_FWAIT) return true;
  if (opc == R_FCLOSE) {
    s->flags |= FS_CLOSING;
    trcint(8, "fileIO", 0, opc, k, 0, 0, 0);
    const int err = wfailed[k] ? EIO : 0;
    s->status = static_cast<uint32_t>(closeslot(k));
    if (!s->status) s->status = static_cast<uint32_t>(err);
    if (s->status) jprintf(errlun, "file %d i/o error: %d\n", k, static_cast<int>(s->status));
    s->flags = 0;
    trcint(8, " ioDONE", 0, opc, k, static_cast<int>(s->status), 0, 0);
    return true;
  }
  // A read or a write of operand 2's count of bytes, never past operand
  // 1's end. The position moves on by the count as the transfer starts,
  // whatever it moves: a write on a slot opened for reading writes
  // nothing and only skips.
  int64_t count = rtarg(op, 2, 0);
  if (count < 1) return true;
  const bool write = opc == R_FWRITE;
  RtOpnd* o1 = rtopk(op, 1);
  uint8_t* buf = elmptr(o1, 0);
  count = buf ? std::min<int64_t>(count, rtleft(o1)) : 0;
  trcint(8, "fileio", 0, opc, k, static_cast<int>(count), static_cast<int>(s->pos), 0);
  s->count = static_cast<int32_t>(count);
  const uint32_t at = s->pos;
  s->pos += static_cast<uint32_t>(count);
  if (write && !(s->flags & FS_WRITABLE)) return true;
  const int64_t got = count > 0 ? transfer(k, at, buf, count, write) : 0;
  s->flags |= FS_BUSY;
  if (got < 0) {
    s->status = static_cast<uint32_t>(-got);
    if (write) wfailed[k] = true;
    jprintf(errlun, "file %d i/o error: %d\n", k, static_cast<int>(s->status));
    s->done = 0;
  } else {
    s->status = 0;
    s->done = static_cast<int32_t>(got);
  }
  s->flags &= 0x1FC7;
  t->result = static_cast<int16_t>(s->done);
  trcint(8, " ioDONE", 0, opc, k, static_cast<int>(got), static_cast<int>(s->pos), 0);
  return true;
}

void rtfseek(const RtOp* op) {
  const int k = rtarg(op, 2, 1) - 1;
  RtFslot* s = fslot(k);
  if (s && s->flags) s->pos = static_cast<uint32_t>(opval(rtopk(op, 1)));
}

void rtfclose() {
  for (int k = 0; k < NFSLOT; k++) {
    if (fds[k] >= 0 || writing[k]) closeslot(k);
    if (RtFslot* s = fslot(k)) s->flags = 0;
  }
}

namespace {
// The time-out's end closes the slots as the end of a run stopped by a
// Ctrl-C does: a file being written is made.
struct TmoInit {
  TmoInit() { tmofinish = rtfclose; }
} tmoinit;
}  // namespace
