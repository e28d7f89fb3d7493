// The AVI header reader: the RIFF chunks are walked with every size checked
// against the file's length; unknown chunks are stepped over.
#include "graphics/movie/riff.h"

#include <unistd.h>

#include <climits>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

struct File {
  std::FILE* fp = nullptr;
  int64_t size = 0;
  ~File() {
    if (fp) std::fclose(fp);
  }
  bool read(int64_t at, void* buf, size_t n) {
    if (at < 0 || at + int64_t(n) > size) return false;
    return fseeko(fp, at, SEEK_SET) == 0 && std::fread(buf, 1, n, fp) == n;
  }
};

// The streams of a 'strl' list from `at` to `end`.
void strl(File& f, int64_t at, int64_t end, AviInfo* out) {
  AviStrm s;
  bool have = false;
  while (at + 8 <= end) {
    uint8_t h[8];
    if (!f.read(at, h, 8)) break;
    const uint32_t id = le32(h), n = le32(h + 4);
    const int64_t data = at + 8;
    if (data + n > end) break;
    if (id == fourcc("strh") && n >= 36) {
      uint8_t b[56] = {0};
      if (!f.read(data, b, n < 56 ? n : 56)) break;
      s.type = le32(b);
      s.handler = le32(b + 4);
      s.scale = le32(b + 20);
      s.rate = le32(b + 24);
      s.start = le32(b + 28);
      s.length = le32(b + 32);
      s.sampsize = n >= 48 ? le32(b + 44) : 0;
      if (s.scale == 0) s.scale = 1;
      if (s.rate == 0) {
        // No rate: the stream has no length (and no time to divide by).
        s.rate = 1;
        s.length = 0;
      }
      have = true;
    } else if (id == fourcc("strf") && n <= 65536) {
      s.fmt.resize(n);
      if (n && !f.read(data, s.fmt.data(), n)) s.fmt.clear();
    }
    at = data + n + (n & 1);
  }
  if (have) out->strm.push_back(std::move(s));
}

// The 'idx1' index: the data size of each chunk, stream by stream.
void idx1(File& f, int64_t at, uint32_t n, AviInfo* out) {
  const uint32_t count = n / 16;
  std::unique_ptr<uint8_t[]> b(new (std::nothrow) uint8_t[size_t(count) * 16 + 1]);
  if (!b || !f.read(at, b.get(), size_t(count) * 16)) return;
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t* e = b.get() + size_t(i) * 16;
    if (e[0] < '0' || e[0] > '9' || e[1] < '0' || e[1] > '9') continue;  // 'rec ' lists and the like
    const size_t k = size_t(e[0] - '0') * 10 + size_t(e[1] - '0');
    if (k < out->strm.size()) {
      out->strm[k].chunks.push_back(le32(e + 12));
      out->strm[k].offs.push_back(le32(e + 8));
    }
  }
}

// A file without an index: the chunks of its 'movi' list (from `at` to
// `end`, inside 'rec ' lists too), their offsets counted from the 'movi'
// fourcc at `movi`. Each chunk takes 8 bytes of the file at least, so the
// walk ends within the file.
void moviwalk(File& f, int64_t at, int64_t end, int64_t movi, AviInfo* out, int depth = 0) {
  while (at + 8 <= end) {
    uint8_t h[12];
    if (!f.read(at, h, 8)) break;
    const uint32_t id = le32(h), n = le32(h + 4);
    const int64_t data = at + 8;
    if (id == fourcc("LIST")) {
      if (depth < 4 && n >= 4 && f.read(data, h + 8, 4) && le32(h + 8) == fourcc("rec "))
        moviwalk(f, data + 4, std::min<int64_t>(data + n, end), movi, out, depth + 1);
    } else if (h[0] >= '0' && h[0] <= '9' && h[1] >= '0' && h[1] <= '9' && data + n <= end) {
      const size_t k = size_t(h[0] - '0') * 10 + size_t(h[1] - '0');
      if (k < out->strm.size() && at - movi <= 0xFFFFFFFFll) {
        out->strm[k].chunks.push_back(n);
        out->strm[k].offs.push_back(static_cast<uint32_t>(at - movi));
      }
    }
    at = data + n + (n & 1);
  }
}

// What a stream's index offsets count from: the 'movi' fourcc (as the
// layout has it) or the file's start (as some writers do), whichever puts
// a chunk of the stream at its first entry's place; -1 when neither does.
int64_t idxbase(File& f, const AviStrm& s, size_t n, int64_t movi) {
  size_t i = 0;
  while (i < s.chunks.size() && s.chunks[i] == 0) i++;
  if (i == s.chunks.size()) return -1;
  for (const int64_t b : {movi, int64_t(0)}) {
    uint8_t h[8];
    if (b < 0 || !f.read(b + s.offs[i], h, 8)) continue;
    if (h[0] == '0' + n / 10 && h[1] == '0' + n % 10 && le32(h + 4) == s.chunks[i]) return b;
  }
  return -1;
}

}  // namespace

int aviread(const std::string& name, AviInfo* out) {
  *out = AviInfo{};
  File f;
  f.fp = std::fopen(name.c_str(), "rb");
  if (!f.fp) return -1;
  if (fseeko(f.fp, 0, SEEK_END) != 0) return -1;
  f.size = ftello(f.fp);
  uint8_t h[12];
  if (!f.read(0, h, 12) || le32(h) != fourcc("RIFF") || le32(h + 8) != fourcc("AVI ")) return -1;
  int64_t end = 8 + int64_t(le32(h + 4));
  if (end > f.size) end = f.size;  // a file cut short is read as far as it goes
  int64_t at = 12, movi = -1, moviend = -1;
  bool hdrl = false, index = false;
  while (at + 8 <= end) {
    uint8_t c[12];
    if (!f.read(at, c, 8)) break;
    const uint32_t id = le32(c), n = le32(c + 4);
    const int64_t data = at + 8;
    const int64_t stop = data + n > end ? end : data + n;
    if (id == fourcc("LIST") && f.read(data, c + 8, 4) && le32(c + 8) == fourcc("hdrl")) {
      hdrl = true;
      int64_t p = data + 4;
      while (p + 8 <= stop) {
        uint8_t s[12];
        if (!f.read(p, s, 8)) break;
        const uint32_t sid = le32(s), sn = le32(s + 4);
        if (p + 8 + sn > stop) break;
        if (sid == fourcc("avih") && sn >= 40) {
          uint8_t a[40];
          if (f.read(p + 8, a, 40)) {
            out->usframe = le32(a);
            out->width = le32(a + 32);
            out->height = le32(a + 36);
          }
        } else if (sid == fourcc("LIST") && sn >= 4 && f.read(p + 8, s + 8, 4) &&
                   le32(s + 8) == fourcc("strl")) {
          strl(f, p + 12, p + 8 + sn, out);
        }
        p += 8 + sn + (sn & 1);
      }
    } else if (id == fourcc("LIST") && f.read(data, c + 8, 4) && le32(c + 8) == fourcc("movi")) {
      movi = data;
      moviend = stop;
    } else if (id == fourcc("idx1") && data + n <= end) {
      idx1(f, data, n, out);
      index = true;
    }
    at = data + n + (n & 1);
  }
  if (!index && movi >= 0) moviwalk(f, movi + 4, moviend, movi, out);
  for (size_t i = 0; i < out->strm.size(); i++) {
    out->strm[i].fsize = f.size;
    if (i < 100) out->strm[i].base = idxbase(f, out->strm[i], i, movi);
  }
  return hdrl ? 0 : -1;
}

int64_t smp2ms(const AviStrm& s, int64_t sample) {
  const __int128 ms = static_cast<__int128>(sample) * s.scale * 1000 / s.rate;
  return static_cast<int64_t>(std::clamp<__int128>(ms, INT64_MIN, INT64_MAX));
}

int64_t ms2smp(const AviStrm& s, int64_t ms) {
  return static_cast<int64_t>(static_cast<__int128>(ms) * s.rate / (int64_t(s.scale) * 1000));
}

int64_t strmheld(const AviStrm& s) {
  if (s.sampsize == 0) return int64_t(s.chunks.size());
  int64_t bytes = 0;
  for (const uint32_t n : s.chunks) bytes += n;
  return bytes / s.sampsize;
}

int64_t strmlen(const AviStrm& s) { return std::min<int64_t>(s.length, strmheld(s)); }

int64_t nextfull(const AviStrm& s, int64_t from) {
  const int64_t last = int64_t(s.start) + s.length;
  if (from < s.start) from = s.start;
  if (from >= last) return -1;
  for (int64_t k = from - s.start; k < int64_t(s.chunks.size()) && s.start + k < last; k++)
    if (s.chunks[size_t(k)] > 0) return s.start + k;
  return -1;
}

int64_t firstsmp(const AviStrm& s) {
  if (s.sampsize != 0) return s.start;
  for (size_t k = 0; k < s.chunks.size(); k++)
    if (s.chunks[k] > 0) return int64_t(s.start) + int64_t(k);
  return s.start;
}

bool rawvid(const AviStrm& s, int* w, int* h) {
  if (s.type != fourcc("vids") || s.fmt.size() < 40 || s.base < 0) return false;
  const auto width = static_cast<int32_t>(le32(s.fmt.data() + 4)), height = static_cast<int32_t>(le32(s.fmt.data() + 8));
  const int bits = s.fmt[14] | s.fmt[15] << 8;
  if (bits != 32 || le32(s.fmt.data() + 16) != 0 || width < 1 || height < 1 || width > 65536 || height > 65536)
    return false;
  *w = width;
  *h = height;
  return true;
}

namespace {
// n pixels copied without their fourth byte, which is not the screen's.
__attribute__((target_clones("avx2", "default"))) void rgbcopy(uint32_t* __restrict o, const uint8_t* __restrict s,
                                                                int n) {
  for (int x = 0; x < n; x++) {
    uint32_t v;
    std::memcpy(&v, s + size_t(x) * 4, 4);
    o[x] = v & 0xFFFFFFu;
  }
}
}  // namespace

namespace {
// The chunk of the frame shown at `sample` of an uncompressed stream of w x
// h pixels, when the file holds it whole; -1 when not.
int64_t rawchunk(const AviStrm& s, int64_t sample, int w, int h) {
  int64_t k = sample - s.start;
  if (k >= int64_t(s.chunks.size())) k = int64_t(s.chunks.size()) - 1;
  while (k >= 0 && s.chunks[size_t(k)] == 0) k--;
  const int64_t bytes = int64_t(w) * h * 4;
  if (k < 0 || s.chunks[size_t(k)] != bytes || s.base + s.offs[size_t(k)] + 8 + bytes > s.fsize) return -1;
  return k;
}
}  // namespace

bool rawhas(const AviStrm& s, int64_t sample) {
  int w = 0, h = 0;
  return rawvid(s, &w, &h) && rawchunk(s, sample, w, h) >= 0;
}

int rawfrm(int fd, const AviStrm& s, int n, int64_t sample, uint32_t* out, int64_t stride) {
  int w = 0, h = 0;
  if (fd < 0 || !out || !rawvid(s, &w, &h)) return -1;
  const int64_t k = rawchunk(s, sample, w, h);
  if (k < 0) return -1;
  const int64_t bytes = int64_t(w) * h * 4;
  int64_t at = s.base + s.offs[size_t(k)];
  // The chunk's header and its rows (bottom row first in the file) come a
  // group at a time through a buffer small enough to stay in the cache;
  // each row is then copied to its place without its fourth byte. Nothing
  // is placed before the header is known to be the frame's.
  static std::vector<uint8_t> buf;
  const size_t rowb = size_t(w) * 4;
  if (buf.size() < std::max<size_t>(65536, rowb + 8)) buf.resize(std::max<size_t>(65536, rowb + 8));
  for (int i0 = 0; i0 < h;) {
    const size_t head = i0 == 0 ? 8 : 0;
    const int nr = static_cast<int>(std::min<size_t>((buf.size() - head) / rowb, size_t(h - i0)));
    const size_t want = head + size_t(nr) * rowb;
    if (pread(fd, buf.data(), want, at) != static_cast<ssize_t>(want)) return -1;
    at += static_cast<int64_t>(want);
    const uint8_t* hdr = buf.data();
    if (head && (hdr[0] != '0' + n / 10 || hdr[1] != '0' + n % 10 || le32(hdr + 4) != bytes)) return -1;
    for (int j = 0; j < nr; j++) rgbcopy(out + int64_t(h - 1 - (i0 + j)) * stride, buf.data() + head + size_t(j) * rowb, w);
    i0 += nr;
  }
  return 0;
}
