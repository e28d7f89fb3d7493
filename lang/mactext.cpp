// The running text macro's file held in memory: its lines are read, and
// its positions told and set, without a seek or a read of the stream per
// line. The stream keeps the position it had when the image was made; the
// image gives its position back to the stream when it is dropped.
#include "lang/mactext.h"

#include "core/memory.h"
#include "lang/fastcmd.h"
#include "ui/platform/clock.h"
#include "core/units.h"
#include "lang/rdline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr off_t MAXIMG = 16 << 20;  // larger files are read from the stream

struct Image {
  FILE* f = nullptr;
  uint32_t serial = 0;  // unique to each image made
  uint32_t gen = 0;
  int32_t ref = 0;
  std::string data;
  size_t pos = 0;
  off_t size = 0;
  struct timespec mtime {};
  uint64_t checked = 0;  // coarse clock at the last look at the file
  uint32_t slow = 0;     // fcslow then
};
Image img;
uint32_t serials = 0;

// The held-pointer reference of the unit that has stream f (0 when none).
int32_t streamref(FILE* f) {
  for (int u = 0; u < NUNITS; u++)
    if (filtab[u].Nlinks > 0 && filtab[u].strm < -1 && heldptr(filtab[u].strm) == f) return filtab[u].strm;
  return 0;
}

// Whether the image's stream is still the one it was made from: no stream
// was closed since, or its own reference still holds it (references carry a
// generation, so a stream closed and another opened at the same address
// does not pass). A close of another stream must not lose the macro's place.
bool live() {
  if (!img.f) return false;
  if (img.gen == strmgen) return true;
  if (img.ref < -1 && heldptr(img.ref) == img.f) {
    img.gen = strmgen;
    return true;
  }
  return false;
}

bool same(const struct stat& st) {
  return st.st_size == img.size && st.st_mtim.tv_sec == img.mtime.tv_sec &&
         st.st_mtim.tv_nsec == img.mtime.tv_nsec;
}

// Drops the image; its stream goes on where the image had come to.
void drop() {
  if (live()) std::fseek(img.f, long(img.pos), SEEK_SET);
  img = Image{};
}

// The image of stream f, made when needed; null when f is read directly.
Image* image(FILE* f) {
  if (!f) return nullptr;
  if (img.f == f && live()) return &img;
  drop();
  struct stat st {};
  int fd = fileno(f);
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MAXIMG) return nullptr;
  long at = std::ftell(f);
  if (at < 0) return nullptr;
  std::string d(size_t(st.st_size), '\0');
  size_t got = 0;
  while (got < d.size()) {
    ssize_t r = pread(fd, d.data() + got, d.size() - got, off_t(got));
    if (r <= 0) break;
    got += size_t(r);
  }
  d.resize(got);
  img.f = f;
  img.serial = ++serials;
  img.gen = strmgen;
  img.ref = streamref(f);
  img.data = std::move(d);
  img.pos = std::min(size_t(at), img.data.size());
  img.size = st.st_size;
  img.mtime = st.st_mtim;
  return &img;
}

}  // namespace

int mtline(FILE* f, char* buf, int keep) {
  Image* m = image(f);
  if (!m) return strmln(f, buf, keep);
  const std::string& d = m->data;
  size_t p = m->pos;
  if (p >= d.size()) {
    if (buf) buf[0] = 0;
    return -1;
  }
  // The line runs to the first CR or LF (a CR LF pair is one end).
  const char* b = d.data() + p;
  const size_t left = d.size() - p;
  const void* lf = std::memchr(b, '\n', left);
  size_t len = lf ? size_t(static_cast<const char*>(lf) - b) : left;
  if (const void* cr = std::memchr(b, '\r', len)) len = size_t(static_cast<const char*>(cr) - b);
  p += len;
  if (p < d.size()) {
    if (d[p] == '\r' && p + 1 < d.size() && d[p + 1] == '\n') p++;
    p++;
  }
  int n = int(std::min<size_t>(len, size_t(std::max(keep, 0))));
  if (buf) std::memcpy(buf, b, size_t(n));
  if (buf) buf[n] = 0;
  m->pos = p;
  return n;
}

int64_t mtplace(int unit) {
  // The image's own stream reference names the unit's stream without
  // looking the stream up.
  if (!img.f || unit < 0 || unit >= NUNITS || img.ref >= -1 || filtab[unit].strm != img.ref || !live())
    return -1;
  return int64_t(uint64_t(img.serial) << 32 | uint32_t(img.pos));
}

bool mtmove(int64_t place) {
  if (!img.f || uint32_t(uint64_t(place) >> 32) != img.serial) return false;
  img.pos = std::min(size_t(uint32_t(place)), img.data.size());
  return true;
}

long mttell(FILE* f) {
  Image* m = image(f);
  return m ? long(m->pos) : (f ? std::ftell(f) : -1);
}

int mtseek(FILE* f, long pos) {
  Image* m = image(f);
  if (!m) return f ? std::fseek(f, pos, SEEK_SET) : -1;
  if (pos < 0) return -1;
  m->pos = std::min(size_t(pos), m->data.size());
  return 0;
}

void mtcheck(FILE* f) {
  if (img.f != f || !live()) return;
  // Only a command carried out the general way can have written the file
  // from here; another program's change is seen within a tick of the
  // coarse clock. A loop of fast forms does not look at it on every pass.
  const uint64_t now = clock_ms_coarse();
  if (img.slow == fcslow && img.checked == now) return;
  img.slow = fcslow;
  img.checked = now;
  struct stat st {};
  if (fstat(fileno(f), &st) != 0 || !same(st)) drop();
}
