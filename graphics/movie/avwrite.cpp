// The AVI writer of movie recording (see avwrite.h for the file's layout).
#include "graphics/movie/avwrite.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/output.h"
#include "core/tmpfile.h"
#include "files/fileutil.h"

namespace {

constexpr uint32_t HDRL_AT = 12;   // LIST 'hdrl'
constexpr uint32_t MOVI_AT = 212;  // LIST 'movi'
constexpr uint32_t FIRST_AT = 224; // the first frame chunk
constexpr uint32_t MOVI_FCC = MOVI_AT + 8;  // idx1 offsets count from here

struct IdxEnt {
  uint32_t off;   // from the 'movi' fourcc
  uint32_t size;  // data bytes
};

// The writer state (avwstate).
struct AvwState {
  bool open = false;
  std::string name;       // the name as given
  TmpWrite out;           // the file and its temporary file
  std::FILE* fp = nullptr;
  uint32_t width = 0, height = 0, rate = 0, scale = 1;
  uint32_t bufsize = 0;          // width x height x 4
  std::vector<uint8_t> buf;      // the last frame written, rows bottom-up
  uint32_t next = 0;             // the next frame index
  uint64_t pos = FIRST_AT;       // where the next chunk goes
  std::vector<IdxEnt> idx;       // one entry per index written
  bool failed = false;           // a write failed: writing has stopped
  bool reordered = false;        // an index points at a chunk out of the file's order
  // Frames dropped, by cause: too few pixels (or a size not known), or as
  // many pixels as a frame but too few bytes a pixel. Each keeps its first
  // frame's size (0: not known) and bytes; they are told in the order
  // their causes first came.
  struct Drops {
    int n = 0;
    int w = 0, h = 0;
    int64_t bytes = 0;
    int order = 0;
  } drop[2];
  int ndropcause = 0;
};
AvwState avw;

// Lines that tell of dropped frames, kept until told.
std::vector<std::string> dropped;

constexpr int BYSIZE = 0, BYDEPTH = 1;

// The open recording's drops become lines to tell, one a cause.
void dropline() {
  for (int k = 0; k < avw.ndropcause; k++) {
    for (int c = 0; c < 2; c++) {
      const AvwState::Drops& d = avw.drop[c];
      if (d.n == 0 || d.order != k) continue;
      char what[64];
      if (d.w > 0 && d.h > 0)
        std::snprintf(what, sizeof what, "%d x %d", d.w, d.h);
      else
        std::snprintf(what, sizeof what, "%lld bytes", static_cast<long long>(d.bytes));
      char why[96];
      const int64_t px = int64_t(d.w) * d.h;
      if (c == BYDEPTH && d.bytes % px == 0)
        std::snprintf(why, sizeof why, "%lld byte%s a pixel, not the recording's 4",
                      static_cast<long long>(d.bytes / px), d.bytes / px == 1 ? "" : "s");
      else if (c == BYDEPTH)
        std::snprintf(why, sizeof why, "%lld bytes, not the recording's 4 a pixel",
                      static_cast<long long>(d.bytes));
      else
        std::snprintf(why, sizeof why, "smaller than the recording's %u x %u", avw.width, avw.height);
      char line[600];
      std::snprintf(line, sizeof line, "%s: %d frame%s of %s dropped: %s", avw.name.c_str(), d.n,
                    d.n == 1 ? "" : "s", what, why);
      dropped.emplace_back(line);
    }
  }
  avw.drop[0] = avw.drop[1] = AvwState::Drops{};
  avw.ndropcause = 0;
}

// A recording that failed and has not been told yet.
struct AvwFail {
  bool on = false;
  std::string name;
  int code = 0, err = 0;
};
AvwFail fail;

void failed(const std::string& name, int code, int err) {
  if (fail.on) return;  // the first failure is the one told
  fail = {true, name, code, err ? err : EIO};
}

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void fcc(uint8_t* p, const char* f) { std::memcpy(p, f, 4); }

// The 224 bytes in front of the first chunk, for a movie of len frames
// whose 'movi' list holds movibytes after its size field.
void header(uint8_t* h, uint32_t len, uint32_t movibytes, uint32_t filesize) {
  std::memset(h, 0, FIRST_AT);
  fcc(h, "RIFF");
  put32(h + 4, filesize - 8);
  fcc(h + 8, "AVI ");
  uint8_t* l = h + HDRL_AT;
  fcc(l, "LIST");
  put32(l + 4, MOVI_AT - HDRL_AT - 8);
  fcc(l + 8, "hdrl");
  // avih.
  uint8_t* a = l + 12;
  fcc(a, "avih");
  put32(a + 4, 56);
  const uint64_t us = (uint64_t(1000000) * avw.scale + avw.rate / 2) / avw.rate;
  put32(a + 8, static_cast<uint32_t>(us > 0xFFFFFFFFull ? 0xFFFFFFFFull : us));
  const uint64_t bps = uint64_t(avw.bufsize) * avw.rate / avw.scale;
  put32(a + 12, static_cast<uint32_t>(bps > 0xFFFFFFFFull ? 0xFFFFFFFFull : bps));
  // The file has an index; one whose chunks are not all in its order must
  // be read by its index.
  put32(a + 20, avw.reordered ? 0x30 : 0x10);
  put32(a + 24, len);
  put32(a + 32, 1);     // streams
  put32(a + 36, avw.bufsize);
  put32(a + 40, avw.width);
  put32(a + 44, avw.height);
  // LIST 'strl'.
  uint8_t* s = a + 64;
  fcc(s, "LIST");
  put32(s + 4, 4 + 64 + 48);
  fcc(s + 8, "strl");
  uint8_t* sh = s + 12;
  fcc(sh, "strh");
  put32(sh + 4, 56);
  fcc(sh + 8, "vids");
  put32(sh + 28, avw.scale);
  put32(sh + 32, avw.rate);
  put32(sh + 40, len);
  put32(sh + 44, avw.bufsize);
  put16(sh + 60, avw.width);   // rcFrame right
  put16(sh + 62, avw.height);  // rcFrame bottom
  uint8_t* sf = sh + 64;
  fcc(sf, "strf");
  put32(sf + 4, 40);
  put32(sf + 8, 40);
  put32(sf + 12, avw.width);
  put32(sf + 16, avw.height);
  put16(sf + 20, 1);
  put16(sf + 22, 32);
  // LIST 'movi'.
  uint8_t* m = h + MOVI_AT;
  fcc(m, "LIST");
  put32(m + 4, movibytes);
  fcc(m + 8, "movi");
}

// A write failed (cause err): traced once on the debug unit and kept to
// be told; nothing more is written.
void wfail(uint32_t index, int err) {
  if (!avw.failed) {
    jprintf(dbglun, "AVI write failed at frame %d\n", static_cast<int>(index));
    failed(avw.name, 69, err);
  }
  avw.failed = true;
}

// The chunk of index avw.next: the frame buffer, or empty (the frame
// before it shows again). Chunks are appended to the file; an index written
// before is pointed at its new chunk when the frame buffer goes there, and
// keeps what it holds when nothing does.
bool chunk(bool data) {
  const bool again = avw.next < avw.idx.size();
  if (again && !data) {
    avw.next++;
    return true;
  }
  const uint32_t n = data ? avw.bufsize : 0;
  // A RIFF file holds less than 4 GB.
  if (avw.pos + 8 + n + 24ull * (avw.idx.size() + (again ? 0 : 1)) + 8 > 0xFFFFFFFEull) {
    wfail(avw.next, EFBIG);
    return false;
  }
  uint8_t h[8];
  fcc(h, "00db");
  put32(h + 4, n);
  errno = 0;
  if (std::fwrite(h, 1, 8, avw.fp) != 8 || (n && std::fwrite(avw.buf.data(), 1, n, avw.fp) != n)) {
    wfail(avw.next, errno);
    return false;
  }
  const IdxEnt e{static_cast<uint32_t>(avw.pos - MOVI_FCC), n};
  if (again) {
    avw.idx[avw.next] = e;
    avw.reordered = true;
  } else
    avw.idx.push_back(e);
  avw.pos += 8 + n;
  avw.next++;
  return true;
}

void drop() {
  if (avw.fp) std::fclose(avw.fp);
  tmpend(&avw.out, false);
  avw = AvwState{};
}

}  // namespace

bool avwfail(std::string* name, int* code, int* err) {
  if (!fail.on) return false;
  *name = fail.name;
  *code = fail.code;
  *err = fail.err;
  fail = AvwFail{};
  return true;
}

std::vector<std::string> avwdrops() {
  dropline();
  std::vector<std::string> out;
  out.swap(dropped);
  return out;
}

bool avwisopen() { return avw.open; }

int64_t avwframe() { return avw.open ? avw.bufsize : 0; }

int avwclos() {
  if (!avw.open) return 0;
  avw.open = false;
  dropline();
  bool ok = !avw.failed && avw.fp;
  if (ok) {
    // The index.
    const uint32_t len = static_cast<uint32_t>(avw.idx.size());
    std::vector<uint8_t> ix(8 + 16 * static_cast<size_t>(len));
    fcc(ix.data(), "idx1");
    put32(ix.data() + 4, 16 * len);
    for (uint32_t i = 0; i < len; i++) {
      uint8_t* e = ix.data() + 8 + 16 * static_cast<size_t>(i);
      fcc(e, "00db");
      put32(e + 4, avw.idx[i].size ? 0x10 : 0);
      put32(e + 8, avw.idx[i].off);
      put32(e + 12, avw.idx[i].size);
    }
    const uint64_t total = avw.pos + ix.size();
    uint8_t h[FIRST_AT];
    header(h, len, static_cast<uint32_t>(avw.pos - MOVI_AT - 8), static_cast<uint32_t>(total));
    errno = 0;
    ok = std::fwrite(ix.data(), 1, ix.size(), avw.fp) == ix.size() &&
         std::fseek(avw.fp, 0, SEEK_SET) == 0 && std::fwrite(h, 1, FIRST_AT, avw.fp) == FIRST_AT;
    int err = errno;
    if (std::fclose(avw.fp) != 0 && ok) {
      ok = false;
      err = errno;
    }
    avw.fp = nullptr;
    // The file takes its name (and the old file's permissions).
    const int r = tmpend(&avw.out, ok);
    if (r > 0) err = r;
    ok = r == 0;
    if (!ok) wfail(avw.next, err);
  }
  drop();
  return ok ? 0 : -1;
}

int avwopen(const char* name, int width, int height, int rate, int, int scale) {
  if (rate <= 0) {
    // Finish: the last frame once more at the final number, then close.
    if (avw.open) {
      avwrite(avw.buf.data(), avw.bufsize, 0, width);
      avwclos();
    } else if (name && !hostpath(name).empty()) {
      // A file named with no rate opens nothing: refused.
      failed(name, 66, EINVAL);
    }
    return 0;
  }
  avwclos();
  const std::string host = name ? hostpath(name) : std::string();
  if (host.empty()) return -1;  // no name (a name list used up): nothing to tell
  if (width < 1 || height < 1) {
    failed(name, 66, EINVAL);
    return -2;
  }
  if (uint64_t(width) * uint64_t(height) * 4 > 0x7FFFFFFFull) {
    failed(name, 66, EFBIG);
    return -2;
  }
  AvwState s;
  s.name = name;
  // Written through a temporary file beside it, as every whole file is.
  int err = tmpaim(host, &s.out);
  // The header is written last, at the start: a file that cannot be
  // positioned (a fifo, standard output) is refused.
  if (err == 0 && s.out.straight) err = ESPIPE;
  if (err == 0) err = tmpmake(&s.out);
  const int fd = err == 0 ? tmpfd(s.out) : -1;
  if (fd < 0) {
    failed(name, s.out.straight ? 69 : 66, err ? err : errno);
    tmpend(&s.out, false);
    return -1;
  }
  s.fp = fdopen(fd, "wb");
  if (!s.fp) {
    failed(name, 66, errno);
    close(fd);
    tmpend(&s.out, false);
    return -1;
  }
  s.width = static_cast<uint32_t>(width);
  s.height = static_cast<uint32_t>(height);
  s.rate = static_cast<uint32_t>(rate);
  s.scale = static_cast<uint32_t>(scale < 1 ? 1 : scale);
  s.bufsize = s.width * s.height * 4;
  avw = std::move(s);
  // Room for the headers, written when the recording closes.
  uint8_t h[FIRST_AT] = {0};
  errno = 0;
  if (std::fwrite(h, 1, FIRST_AT, avw.fp) != FIRST_AT) {
    failed(avw.name, 66, errno);
    drop();
    return -1;
  }
  try {
    avw.buf.assign(avw.bufsize, 0);
  } catch (...) {
    failed(avw.name, 66, ENOMEM);
    drop();
    return -3;
  }
  avw.open = true;
  return 0;
}

int avwrite(const uint8_t* frame, int64_t bytes, int isnew, int number, int fw, int fh) {
  if (!avw.open || !frame || avw.failed) return -1;
  if (bytes < avw.bufsize) {
    // Dropped; told once the recording is over. A frame of a known size
    // with the recording's pixels or more is short of bytes a pixel.
    const bool sized = fw > 0 && fh > 0;
    const int c = sized && int64_t(fw) * fh >= int64_t(avw.width) * avw.height ? BYDEPTH : BYSIZE;
    AvwState::Drops& d = avw.drop[c];
    if (d.n++ == 0) {
      d.w = sized ? fw : 0;
      d.h = sized ? fh : 0;
      d.bytes = bytes;
      d.order = avw.ndropcause++;
    }
    return -1;
  }
  if (number >= 1) {
    // The frame goes to index number - 1, also one already passed. Indices
    // skipped over repeat the frame before them.
    const uint32_t at = static_cast<uint32_t>(number - 1);
    if (at < avw.next) avw.next = at;
    while (avw.next < at)
      if (!chunk(false)) return -1;
  }
  bool changed = true;
  if (isnew) {
    changed = false;
    const size_t rb = size_t(avw.width) * 4;
    for (uint32_t r = 0; r < avw.height; r++) {
      const uint8_t* src = frame + size_t(avw.height - 1 - r) * rb;
      uint8_t* dst = avw.buf.data() + size_t(r) * rb;
      if (std::memcmp(src, dst, rb) != 0) {
        std::memcpy(dst, src, rb);
        changed = true;
      }
    }
  }
  return chunk(changed) ? 0 : -1;
}
