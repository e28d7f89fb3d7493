// Software surfaces, the built-in face and image files of surfaces.
#include "ui/platform/surface.h"

#include "ui/platform/face.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#ifdef PELIX_HAVE_PNG
#include <dlfcn.h>
#include <png.h>
#endif

void Surface::resize(int width, int height, uint32_t fill) {
  w = std::max(0, width);
  h = std::max(0, height);
  stride = w;
  px.reset();
  made.assign(static_cast<size_t>(h), 0);
  flat = fill;
}

uint32_t* Surface::make(int y) const {
  // The block is taken uncleared, so the pages of rows never reached are
  // never touched.
  if (!px) px.reset(new uint32_t[static_cast<size_t>(w) * static_cast<size_t>(h)]);
  uint32_t* r = at(y);
  std::fill(r, r + w, flat);
  made[static_cast<size_t>(y)] = 1;
  return r;
}

const uint32_t* Surface::data() const {
  for (int y = 0; y < h; y++) row(y);
  return px.get();
}

uint32_t* Surface::data() { return const_cast<uint32_t*>(std::as_const(*this).data()); }

std::vector<uint32_t> Surface::pixels() const {
  std::vector<uint32_t> all(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int y = 0; y < h; y++) std::copy(row(y), row(y) + w, all.begin() + static_cast<ptrdiff_t>(y) * w);
  return all;
}

void Surface::fillall(uint32_t pixel) {
  flat = pixel;
  std::fill(made.begin(), made.end(), 0);
}

void Surface::keep(const Surface& o) {
  const int cw = std::min(w, o.w), ch = std::min(h, o.h);
  for (int y = 0; y < ch; y++) {
    const bool m = o.made[static_cast<size_t>(y)];
    if (!m && !made[static_cast<size_t>(y)] && o.flat == flat) continue;
    uint32_t* d = row(y);
    if (m)
      std::copy(o.at(y), o.at(y) + cw, d);
    else
      std::fill(d, d + cw, o.flat);
  }
}

int Surface::nmade() const { return static_cast<int>(std::count(made.begin(), made.end(), 1)); }

Surface::Surface(const Surface& o) { *this = o; }

Surface& Surface::operator=(const Surface& o) {
  if (this == &o) return *this;
  resize(o.w, o.h, o.flat);
  for (int y = 0; y < h; y++)
    if (o.made[static_cast<size_t>(y)]) std::copy(o.at(y), o.at(y) + w, row(y));
  return *this;
}

void sfill(Surface& s, int x, int y, int w, int h, uint32_t pixel) {
  int x0 = std::max(0, x), y0 = std::max(0, y);
  int x1 = std::min(s.w, x + w), y1 = std::min(s.h, y + h);
  if (x0 == 0 && y0 == 0 && x1 == s.w && y1 == s.h) return s.fillall(pixel);
  for (int r = y0; r < y1; r++) std::fill(s.row(r) + x0, s.row(r) + std::max(x0, x1), pixel);
}

void sblit(Surface& dst, int x, int y, const Surface& src, int sx, int sy, int w, int h) {
  // Clip against the source, then the destination.
  if (sx < 0) { x -= sx; w += sx; sx = 0; }
  if (sy < 0) { y -= sy; h += sy; sy = 0; }
  w = std::min(w, src.w - sx);
  h = std::min(h, src.h - sy);
  if (x < 0) { sx -= x; w += x; x = 0; }
  if (y < 0) { sy -= y; h += y; y = 0; }
  w = std::min(w, dst.w - x);
  h = std::min(h, dst.h - y);
  if (w <= 0 || h <= 0) return;
  for (int r = 0; r < h; r++)
    std::memcpy(dst.row(y + r) + x, src.row(sy + r) + sx, static_cast<size_t>(w) * 4);
}

void stext(Surface& s, int x, int y, const char* text, int n, uint32_t fg, uint32_t bg) {
  for (int i = 0; i < n; i++, x += FACEWID) {
    if (x >= s.w) break;
    if (x + FACEWID <= 0) continue;
    const auto c = static_cast<unsigned char>(text[i]);
    for (int r = 0; r < FACEHGT; r++) {
      const int yy = y + r;
      if (yy < 0 || yy >= s.h) continue;
      const uint8_t bits = facerow(c, r);
      uint32_t* p = s.row(yy);
      for (int b = 0; b < FACEWID; b++) {
        const int xx = x + b;
        if (xx < 0 || xx >= s.w) continue;
        if (bits & (0x80 >> b))
          p[xx] = fg;
        else if (bg != ~0u)
          p[xx] = bg;
      }
    }
  }
}

namespace {
struct FileCloser {
  void operator()(FILE* f) const { if (f) std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool isbmp(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".bmp";
}

void put16(uint8_t* b, uint32_t v) { b[0] = uint8_t(v); b[1] = uint8_t(v >> 8); }
void put32(uint8_t* b, uint32_t v) { put16(b, v & 0xFFFF); put16(b + 2, v >> 16); }
uint32_t get16(const uint8_t* b) { return b[0] | (b[1] << 8); }
uint32_t get32(const uint8_t* b) { return get16(b) | (get16(b + 2) << 16); }

int writebmp(const Surface& s, const std::string& name) {
  File f(std::fopen(name.c_str(), "wb"));
  if (!f) return -1;
  const uint32_t rowb = (static_cast<uint32_t>(s.w) * 3 + 3) & ~3u;
  uint8_t hdr[54] = {'B', 'M'};
  put32(hdr + 2, 54 + rowb * static_cast<uint32_t>(s.h));
  put32(hdr + 10, 54);
  put32(hdr + 14, 40);
  put32(hdr + 18, static_cast<uint32_t>(s.w));
  put32(hdr + 22, static_cast<uint32_t>(s.h));
  put16(hdr + 26, 1);
  put16(hdr + 28, 24);
  put32(hdr + 34, rowb * static_cast<uint32_t>(s.h));
  if (std::fwrite(hdr, 1, sizeof hdr, f.get()) != sizeof hdr) return -1;
  std::vector<uint8_t> row(rowb, 0);
  for (int y = s.h - 1; y >= 0; y--) {  // bottom row first
    const uint32_t* p = s.row(y);
    for (int x = 0; x < s.w; x++) {
      row[x * 3] = uint8_t(p[x]);
      row[x * 3 + 1] = uint8_t(p[x] >> 8);
      row[x * 3 + 2] = uint8_t(p[x] >> 16);
    }
    if (std::fwrite(row.data(), 1, rowb, f.get()) != rowb) return -1;
  }
  return std::fclose(f.release()) == 0 ? 0 : -1;
}

int readbmp(Surface& s, const std::string& name) {
  File f(std::fopen(name.c_str(), "rb"));
  if (!f) return -1;
  std::fseek(f.get(), 0, SEEK_END);
  const long size = std::ftell(f.get());
  std::fseek(f.get(), 0, SEEK_SET);
  if (size < 54) return -1;
  std::vector<uint8_t> d(static_cast<size_t>(size));
  if (std::fread(d.data(), 1, d.size(), f.get()) != d.size()) return -1;
  if (d[0] != 'B' || d[1] != 'M') return -1;
  const uint32_t off = get32(&d[10]);
  const int w = static_cast<int32_t>(get32(&d[18]));
  int h = static_cast<int32_t>(get32(&d[22]));
  const int bits = static_cast<int>(get16(&d[28]));
  const bool topdown = h < 0;
  h = std::abs(h);
  if (w <= 0 || h <= 0 || w > 32768 || h > 32768 || (bits != 24 && bits != 32)) return -1;
  const uint64_t rowb = (static_cast<uint64_t>(w) * (bits / 8) + 3) & ~3ull;
  if (off + rowb * static_cast<uint64_t>(h) > d.size()) return -1;
  s.resize(w, h);
  for (int y = 0; y < h; y++) {
    const uint8_t* r = &d[off + rowb * static_cast<uint64_t>(topdown ? y : h - 1 - y)];
    uint32_t* p = s.row(y);
    for (int x = 0; x < w; x++, r += bits / 8) p[x] = r[0] | (r[1] << 8) | (r[2] << 16);
  }
  return 0;
}

#ifdef PELIX_HAVE_PNG
// libpng is loaded at its first use: a run that writes no PNG image
// neither maps it nor pays for its relocations.
#define PNGFNS(X) X(png_create_write_struct) X(png_create_info_struct) X(png_destroy_write_struct) \
  X(png_set_longjmp_fn) X(png_init_io) X(png_set_IHDR) X(png_write_info) X(png_write_row) \
  X(png_write_end) X(png_image_begin_read_from_file) X(png_image_finish_read) X(png_image_free)
struct PngApi {
#define PNGFN(f) decltype(&::f) f = nullptr;
  PNGFNS(PNGFN)
#undef PNGFN
};

// The library's entry points, null when it is not there.
const PngApi* pngapi() {
  static PngApi api;
  static int state = 0;  // 0 not tried, 1 loaded, -1 missing
  if (!state) {
    state = -1;
    if (void* h = dlopen(PELIX_LIBPNG, RTLD_NOW | RTLD_LOCAL)) {
      PngApi a;
      bool all = true;
#define PNGFN(f) all = all && (a.f = reinterpret_cast<decltype(&::f)>(dlsym(h, #f))) != nullptr;
      PNGFNS(PNGFN)
#undef PNGFN
      if (all) {
        api = a;
        state = 1;
      }
    }
  }
  return state > 0 ? &api : nullptr;
}

int writepng(const Surface& s, const std::string& name) {
  const PngApi* P = pngapi();
  if (!P) return -1;
  File f(std::fopen(name.c_str(), "wb"));
  if (!f) return -1;
  png_structp png = P->png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return -1;
  png_infop info = P->png_create_info_struct(png);
  std::vector<uint8_t> row(static_cast<size_t>(s.w) * 3);
  // libpng reports errors by a long jump; nothing here needs unwinding.
  if (!info || setjmp(*P->png_set_longjmp_fn(png, longjmp, sizeof(jmp_buf)))) {
    P->png_destroy_write_struct(&png, &info);
    return -1;
  }
  P->png_init_io(png, f.get());
  P->png_set_IHDR(png, info, static_cast<png_uint_32>(s.w), static_cast<png_uint_32>(s.h), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  P->png_write_info(png, info);
  for (int y = 0; y < s.h; y++) {
    const uint32_t* p = s.row(y);
    for (int x = 0; x < s.w; x++) {
      row[x * 3] = uint8_t(p[x] >> 16);
      row[x * 3 + 1] = uint8_t(p[x] >> 8);
      row[x * 3 + 2] = uint8_t(p[x]);
    }
    P->png_write_row(png, row.data());
  }
  P->png_write_end(png, nullptr);
  P->png_destroy_write_struct(&png, &info);
  return std::fclose(f.release()) == 0 ? 0 : -1;
}

int readpng(Surface& s, const std::string& name) {
  const PngApi* P = pngapi();
  if (!P) return -1;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!P->png_image_begin_read_from_file(&img, name.c_str())) return -1;
  img.format = PNG_FORMAT_BGRA;
  if (img.width > 32768 || img.height > 32768) {
    P->png_image_free(&img);
    return -1;
  }
  s.resize(static_cast<int>(img.width), static_cast<int>(img.height));
  uint32_t* px = s.data();
  if (!P->png_image_finish_read(&img, nullptr, px, 0, nullptr)) {
    P->png_image_free(&img);
    return -1;
  }
  for (size_t i = 0, n = size_t(s.w) * size_t(s.h); i < n; i++) px[i] &= 0xFFFFFF;
  return 0;
}
#endif
}  // namespace

int swrite(const Surface& s, const std::string& name) {
  if (s.w <= 0 || s.h <= 0) return -1;
  if (isbmp(name)) return writebmp(s, name);
#ifdef PELIX_HAVE_PNG
  return writepng(s, name);
#else
  return -1;  // no PNG writer in this build
#endif
}

int sread(Surface& s, const std::string& name) {
  if (isbmp(name)) return readbmp(s, name);
#ifdef PELIX_HAVE_PNG
  return readpng(s, name);
#else
  return -1;
#endif
}
