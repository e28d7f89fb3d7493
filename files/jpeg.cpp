// JPEG through libjpeg (API 62) with the system's own source and destination
// managers, and the pixel converters between the pixel layouts.
//
// The library reports fatal errors by a long jump. The jump lands in the
// routine that called setjmp, and every frame between that routine and the
// library holds only plain data (no destructors), so nothing is skipped.
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <jpeglib.h>
#include <unistd.h>

#include "core/element.h"
#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "core/tmpfile.h"
#include "core/units.h"
#include "files/fileutil.h"
#include "files/filevar.h"
#include "files/imgcommon.h"
#include "files/imgfmt.h"
#include "lang/names.h"

using namespace imgfmt;

// ---------------------------------------------------------------------------
// Pixel conversion.

int swaprb(uint8_t* pix, int64_t count) {
  for (int64_t i = 0; i < count; i++) std::swap(pix[3 * i], pix[3 * i + 2]);
  return 0;
}

void getrgb(const uint8_t* pix, int wsiz, int64_t i, int swap, int, int* rgb) {
  switch (wsiz & 63) {
    case 8: rgb[0] = rgb[1] = rgb[2] = pix[i]; break;
    case 16: {
      unsigned v = swap ? (pix[2 * i] << 8) | pix[2 * i + 1] : pix[2 * i] | (pix[2 * i + 1] << 8);
      rgb[0] = static_cast<int>((v >> 11) & 31) << 3;
      rgb[1] = static_cast<int>((v >> 5) & 63) << 2;
      rgb[2] = static_cast<int>(v & 31) << 3;
      break;
    }
    case 24:
      rgb[2] = pix[3 * i];
      rgb[1] = pix[3 * i + 1];
      rgb[0] = pix[3 * i + 2];
      break;
    case 32: {
      uint32_t v = g32(pix + 4 * i, swap != 0);
      rgb[0] = (v >> 16) & 255;
      rgb[1] = (v >> 8) & 255;
      rgb[2] = v & 255;
      break;
    }
    default: rgb[0] = rgb[1] = rgb[2] = 0;
  }
}

void putrgb(uint8_t* pix, int wsiz, const int* rgb) {
  switch (wsiz & 63) {
    case 16: p16(pix, static_cast<uint32_t>(((rgb[0] >> 3) << 11) | ((rgb[1] >> 2) << 5) | (rgb[2] >> 3))); break;
    case 24:
      pix[0] = static_cast<uint8_t>(rgb[2]);
      pix[1] = static_cast<uint8_t>(rgb[1]);
      pix[2] = static_cast<uint8_t>(rgb[0]);
      break;
    case 32: p32(pix, static_cast<uint32_t>((rgb[0] << 16) | (rgb[1] << 8) | rgb[2])); break;
    default: {
      uint8_t bitp = 0;
      stitm((rgb[0] + rgb[1] + rgb[2]) / 3.0, pix, wsiz, &bitp, false);
    }
  }
}

int line2rgb(const uint8_t* src, int swsiz, uint8_t* dst, int dwsiz, int64_t count) {
  // Grey bytes into colour pixels, and colour pixels into grey bytes (the
  // mean of three bytes, whose quotient by 3.0 the store truncates to the
  // integer quotient): the common cases in plain loops.
  if (swsiz == 8 && dwsiz == 24) {
    for (int64_t i = 0; i < count; i++) dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = src[i];
    return 0;
  }
  if (swsiz == 24 && dwsiz == 8) {
    for (int64_t i = 0; i < count; i++)
      dst[i] = static_cast<uint8_t>((src[3 * i] + src[3 * i + 1] + src[3 * i + 2]) / 3);
    return 0;
  }
  int db = std::max((dwsiz & 63) / 8, 1);
  for (int64_t i = 0; i < count; i++) {
    int c[3];
    getrgb(src, swsiz, i, 0, 0, c);
    putrgb(dst + i * db, dwsiz, c);
  }
  return 0;
}

int pal2lut(const uint8_t* pal, void* table, int, int wsiz) {
  if (!table || !pal) return 0;
  for (int i = 0; i < 256; i++) {
    int b = pal[3 * i], g = pal[3 * i + 1], r = pal[3 * i + 2];
    if (wsiz == 16)
      static_cast<uint16_t*>(table)[i] = static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    else
      static_cast<uint32_t*>(table)[i] = static_cast<uint32_t>((r << 16) | (g << 8) | b);
  }
  return 0;
}

int maplut(uint8_t* row, const void* table, int64_t n, int wsiz) {
  int b = (wsiz & 63) / 8;
  // From the end down: each index is read before its wider value covers it.
  for (int64_t i = n - 1; i >= 0; i--) {
    uint8_t k = row[i];
    if (b == 2) {
      p16(row + 2 * i, static_cast<const uint16_t*>(table)[k]);
    } else if (b >= 3) {
      uint32_t v = static_cast<const uint32_t*>(table)[k];
      for (int j = 0; j < b; j++) row[b * i + j] = j < 4 ? static_cast<uint8_t>(v >> (8 * j)) : 0;
    } else {
      row[i] = static_cast<uint8_t>(static_cast<const uint32_t*>(table)[k]);
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The library glue.

namespace {

// libjpeg is loaded at its first use: a run that never reads or writes a
// JPEG image neither maps it nor pays for its relocations.
#define JPEGFNS(X) X(jpeg_std_error) X(jpeg_CreateCompress) X(jpeg_CreateDecompress) \
  X(jpeg_destroy_compress) X(jpeg_destroy_decompress) X(jpeg_set_defaults) X(jpeg_set_quality) \
  X(jpeg_start_compress) X(jpeg_write_scanlines) X(jpeg_finish_compress) X(jpeg_read_header) \
  X(jpeg_calc_output_dimensions) X(jpeg_start_decompress) X(jpeg_read_scanlines) \
  X(jpeg_finish_decompress) X(jpeg_resync_to_restart)
struct JpegApi {
#define JPEGFN(f) decltype(&::f) f = nullptr;
  JPEGFNS(JPEGFN)
#undef JPEGFN
};

// The library's entry points, null when it is not there.
const JpegApi* jpegapi() {
  static JpegApi api;
  static int state = 0;  // 0 not tried, 1 loaded, -1 missing
  if (!state) {
    state = -1;
    if (void* h = dlopen(PELIX_LIBJPEG, RTLD_NOW | RTLD_LOCAL)) {
      JpegApi a;
      bool all = true;
#define JPEGFN(f) all = all && (a.f = reinterpret_cast<decltype(&::f)>(dlsym(h, #f))) != nullptr;
      JPEGFNS(JPEGFN)
#undef JPEGFN
      if (all) {
        api = a;
        state = 1;
      }
    }
  }
  return state > 0 ? &api : nullptr;
}


struct ErrMgr {
  jpeg_error_mgr pub;
  jmp_buf jb;
  char msg[JMSG_LENGTH_MAX];
  int warned;
};

void onerror(j_common_ptr c) {
  auto* e = reinterpret_cast<ErrMgr*>(c->err);
  (*c->err->format_message)(c, e->msg);
  longjmp(e->jb, 1);
}

void onmessage(j_common_ptr c) {
  auto* e = reinterpret_cast<ErrMgr*>(c->err);
  if (!e->warned) (*c->err->format_message)(c, e->msg);
  e->warned = 1;
}

// Memory source.
struct MemSrc {
  jpeg_source_mgr pub;
  const uint8_t* buf;
  size_t size;
};
const JOCTET eoi[2] = {0xFF, JPEG_EOI};
void srcinit(j_decompress_ptr c) {
  auto* s = reinterpret_cast<MemSrc*>(c->src);
  s->pub.next_input_byte = s->buf;
  s->pub.bytes_in_buffer = s->size;
}
boolean srcfill(j_decompress_ptr c) {
  // No more data: an end marker, so a truncated stream ends as a partial
  // image with a warning.
  c->err->msg_code = 0;
  auto* e = reinterpret_cast<ErrMgr*>(c->err);
  if (!e->warned) std::snprintf(e->msg, sizeof e->msg, "premature end of JPEG data");
  e->warned = 1;
  c->src->next_input_byte = eoi;
  c->src->bytes_in_buffer = 2;
  return TRUE;
}
void srcskip(j_decompress_ptr c, long n) {
  if (n <= 0) return;
  auto* s = c->src;
  if (static_cast<size_t>(n) > s->bytes_in_buffer) {
    s->next_input_byte += s->bytes_in_buffer;
    s->bytes_in_buffer = 0;
    srcfill(c);
    return;
  }
  s->next_input_byte += n;
  s->bytes_in_buffer -= static_cast<size_t>(n);
}
void srcterm(j_decompress_ptr) {}

// Destinations: the caller's memory, or a stream through a 32768-byte buffer.
struct Dest {
  jpeg_destination_mgr pub;
  uint8_t* mem;
  size_t size;
  FILE* fp;
  JOCTET* buf;
  int overflow;
  int failed;
  ErrMgr* err;
};
constexpr size_t JBUF = 32768;
void dstinit(j_compress_ptr c) {
  auto* d = reinterpret_cast<Dest*>(c->dest);
  if (d->fp) {
    d->pub.next_output_byte = d->buf;
    d->pub.free_in_buffer = JBUF;
  } else {
    d->pub.next_output_byte = d->mem;
    d->pub.free_in_buffer = d->size;
  }
}
boolean dstempty(j_compress_ptr c) {
  auto* d = reinterpret_cast<Dest*>(c->dest);
  if (!d->fp) {
    d->overflow = 1;
    longjmp(d->err->jb, 2);
  }
  if (fwrite(d->buf, 1, JBUF, d->fp) != JBUF) {
    d->failed = errno ? errno : EIO;
    longjmp(d->err->jb, 3);
  }
  d->pub.next_output_byte = d->buf;
  d->pub.free_in_buffer = JBUF;
  return TRUE;
}
void dstterm(j_compress_ptr c) {
  auto* d = reinterpret_cast<Dest*>(c->dest);
  if (!d->fp) return;
  size_t n = JBUF - d->pub.free_in_buffer;
  if (n && fwrite(d->buf, 1, n, d->fp) != n) d->failed = errno ? errno : EIO;
  if (!d->failed && fflush(d->fp) != 0) d->failed = errno ? errno : EIO;
}

// Compression of rgb rows (red, green, blue). 1 done, 0 failed (the
// message in err->msg, or overflow / failed set in the destination).
int jpgcmp(const uint8_t* rgb, int w, int h, int quality, Dest* d, ErrMgr* err) {
  const JpegApi* J = jpegapi();
  if (!J) {
    std::snprintf(err->msg, sizeof err->msg, "the JPEG library is not there");
    return 0;
  }
  jpeg_compress_struct ci;
  std::memset(&ci, 0, sizeof ci);
  ci.err = J->jpeg_std_error(&err->pub);
  err->pub.error_exit = onerror;
  err->pub.output_message = onmessage;
  d->err = err;
  d->pub.init_destination = dstinit;
  d->pub.empty_output_buffer = dstempty;
  d->pub.term_destination = dstterm;
  if (setjmp(err->jb)) {
    J->jpeg_destroy_compress(&ci);
    return 0;
  }
  J->jpeg_CreateCompress(&ci, JPEG_LIB_VERSION, sizeof ci);
  ci.dest = &d->pub;
  ci.image_width = static_cast<JDIMENSION>(w);
  ci.image_height = static_cast<JDIMENSION>(h);
  ci.input_components = 3;
  ci.in_color_space = JCS_RGB;
  J->jpeg_set_defaults(&ci);
  J->jpeg_set_quality(&ci, quality, TRUE);
  J->jpeg_start_compress(&ci, TRUE);
  while (ci.next_scanline < ci.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + static_cast<size_t>(ci.next_scanline) * w * 3);
    J->jpeg_write_scanlines(&ci, &row, 1);
  }
  J->jpeg_finish_compress(&ci);
  J->jpeg_destroy_compress(&ci);
  return d->failed ? 0 : 1;
}

// Decompression from memory: the header (w, h, components), then the rows
// into out (w x components per row). 1 done, 0 failed (message in err).
// With out null only the header is read.
int jpgdec(const uint8_t* buf, size_t size, int* w, int* h, int* comp, uint8_t* out, int64_t outsize, ErrMgr* err) {
  const JpegApi* J = jpegapi();
  if (!J) {
    std::snprintf(err->msg, sizeof err->msg, "the JPEG library is not there");
    return 0;
  }
  jpeg_decompress_struct ci;
  MemSrc src;
  std::memset(&ci, 0, sizeof ci);
  std::memset(&src, 0, sizeof src);
  ci.err = J->jpeg_std_error(&err->pub);
  err->pub.error_exit = onerror;
  err->pub.output_message = onmessage;
  if (setjmp(err->jb)) {
    J->jpeg_destroy_decompress(&ci);
    return 0;
  }
  J->jpeg_CreateDecompress(&ci, JPEG_LIB_VERSION, sizeof ci);
  src.buf = buf;
  src.size = size;
  src.pub.init_source = srcinit;
  src.pub.fill_input_buffer = srcfill;
  src.pub.skip_input_data = srcskip;
  src.pub.resync_to_restart = J->jpeg_resync_to_restart;
  src.pub.term_source = srcterm;
  ci.src = &src.pub;
  J->jpeg_read_header(&ci, TRUE);
  if (ci.jpeg_color_space != JCS_GRAYSCALE) ci.out_color_space = JCS_RGB;
  J->jpeg_calc_output_dimensions(&ci);
  *w = static_cast<int>(ci.output_width);
  *h = static_cast<int>(ci.output_height);
  *comp = ci.output_components;
  if (!out) {
    J->jpeg_destroy_decompress(&ci);
    return 1;
  }
  if (static_cast<int64_t>(*w) * *h * *comp > outsize) {
    J->jpeg_destroy_decompress(&ci);
    return 0;
  }
  J->jpeg_start_decompress(&ci);
  while (ci.output_scanline < ci.output_height) {
    JSAMPROW row = out + static_cast<size_t>(ci.output_scanline) * *w * *comp;
    if (J->jpeg_read_scanlines(&ci, &row, 1) != 1) break;
  }
  J->jpeg_finish_decompress(&ci);
  J->jpeg_destroy_decompress(&ci);
  return 1;
}

void report(const char* label) {
  jprintf(errlun, "%s\n", label);
  error(0, 42);
}

// The file behind a file variable, read whole.
bool readfile(int unit, std::vector<uint8_t>* d) {
  int64_t len = unitlen(unit);
  if (len <= 0 || len > INT32_MAX) return false;
  try {
    d->resize(static_cast<size_t>(len));
  } catch (...) {
    report("jbuf alloc");
    return false;
  }
  for (int64_t o = 0; o < len; o += 16384) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(16384, len - o));
    if (rdblk(unit, 0, d->data() + o, n, o) != n) return false;
  }
  return true;
}

}  // namespace

int rdjpgh(const uint8_t* buf, int64_t size, int* w, int* h, int* bits) {
  ErrMgr err;
  std::memset(&err, 0, sizeof err);
  int comp = 0;
  if (!jpgdec(buf, static_cast<size_t>(size), w, h, &comp, nullptr, 0, &err)) return 0;
  *bits = 8 * comp;
  return 1;
}

int jpgmem(const uint8_t* rgb, int w, int h, int quality, uint8_t* buf, int64_t size, int64_t* written) {
  ErrMgr err;
  Dest d;
  std::memset(&err, 0, sizeof err);
  std::memset(&d, 0, sizeof d);
  d.mem = buf;
  d.size = static_cast<size_t>(size);
  int ok = jpgcmp(rgb, w, h, quality, &d, &err);
  if (d.overflow) {
    jprintf(errlun, "jpeg mem overflow\n");
    error(0, 42);
    return 0;
  }
  *written = ok ? static_cast<int64_t>(d.size - d.pub.free_in_buffer) : 0;
  return ok;
}

int jpghdr(PtrRec* r, int, int, uint8_t*, int wflag, int32_t) {
  if (wflag >= 1) return 0;
  return readjpg(nullptr, r);
}

int readjpg(PtrRec* dst, PtrRec* fv) {
  FilRec* f = fv ? filrec(fv) : nullptr;
  if (!f) return 0;
  std::vector<uint8_t> file;
  if (!readfile(f->Lun, &file)) return 0;
  ErrMgr err;
  std::memset(&err, 0, sizeof err);
  int w = 0, h = 0, comp = 0;
  if (!jpgdec(file.data(), file.size(), &w, &h, &comp, nullptr, 0, &err) || w < 1 || h < 1 ||
      static_cast<int64_t>(w) * h > INT32_MAX / 8 ||
      static_cast<int64_t>(w) * h > 1024 * static_cast<int64_t>(file.size()) + (1 << 24)) {
    jprintf(errlun, "jpeg: %s\n", err.msg[0] ? err.msg : "not a JPEG image");
    error(0, 86);
    return dst ? -1 : -2;
  }
  if (!dst) {
    int rec = setfdim(fv, w, h, 1, 8 * comp, 0, 0);
    if (rec > 0) {
      f->Frec = static_cast<uint16_t>(std::min(rec, 65535));
      hdrrec(rec);
    }
    return rec;
  }
  int64_t ew = (w + 1) & ~1;
  std::vector<uint8_t> pix;
  try {
    pix.assign(static_cast<size_t>(ew * h * comp), 0);
  } catch (...) {
    report("jpeg alloc");
    return -1;
  }
  std::memset(&err, 0, sizeof err);
  if (!jpgdec(file.data(), file.size(), &w, &h, &comp, pix.data(), static_cast<int64_t>(pix.size()), &err)) {
    jprintf(errlun, "jpeg: %s\n", err.msg[0] ? err.msg : "decoding failed");
    error(0, 86);
    return -1;
  }
  if (err.warned) jprintf(errlun, "jpeg warning: %s\n", err.msg);
  // Rows spread out to the even width, the last pixel repeated.
  if (ew != w)
    for (int64_t y = h - 1; y >= 0; y--) {
      uint8_t* to = &pix[static_cast<size_t>(y * ew * comp)];
      std::memmove(to, &pix[static_cast<size_t>(y * w * comp)], static_cast<size_t>(w) * comp);
      std::memcpy(to + static_cast<size_t>(w) * comp, to + static_cast<size_t>(w - 1) * comp, static_cast<size_t>(comp));
    }
  int bits = 8 * comp;
  if (bits == 24) swaprb(pix.data(), ew * h);
  int dws = dst->Wsiz;
  int code = (dws == 8 || dws == 16 || dws == 24 || dws == 32) ? dws : 8;
  uint32_t dims[3] = {static_cast<uint32_t>(ew), static_cast<uint32_t>(h), 1};
  bool ok;
  if (code == bits) {
    ok = imgstore(stkadr(dst), 0, dims, dws, code, pix);
  } else {
    std::vector<uint8_t> out;
    try {
      out.assign(static_cast<size_t>(ew * h * (code / 8)), 0);
    } catch (...) {
      report("jpeg alloc");
      return -1;
    }
    line2rgb(pix.data(), bits, out.data(), code, ew * h);
    ok = imgstore(stkadr(dst), 0, dims, dws, code, out);
  }
  return ok ? 1 : -1;
}

int putjpg(PtrRec* src, int, const char* path) {
  std::vector<uint8_t> d;
  int64_t items = 0;
  int ws = src ? src->Wsiz : 0;
  int64_t w = src ? ((src->Flg & 1) && src->Offs[3] ? src->Offs[3] : src->Datdims[0]) : 0;
  if (!src || w < 1 || (ws != 8 && ws != 16 && ws != 24 && ws != 32) || !getraw(src, &d, &items) || items / w < 1) return -1;
  int64_t h = items / w;
  if (w > JPEG_MAX_DIMENSION || h > JPEG_MAX_DIMENSION) return -1;
  std::vector<uint8_t> rgb;
  try {
    rgb.resize(static_cast<size_t>(w * h * 3));
  } catch (...) {
    report("jpeg alloc");
    return -1;
  }
  if (ws == 24)
    std::memcpy(rgb.data(), d.data(), rgb.size());
  else
    line2rgb(d.data(), ws, rgb.data(), 24, w * h);
  if (ws != 8) swaprb(rgb.data(), w * h);  // (grey pixels are the same either way)
  int q = jpegquality == 0 ? 100 : std::clamp<int>(jpegquality, 1, 100);
  std::string host = hostpath(path ? path : "");
  if (host.empty()) return 0;
  // This program's own descriptor named through /proc (/dev/stdout) is
  // written where it stands.
  const int own = tmpown(host);
  bool delok = own < 0 && isplain(path);
  const int ofd = own >= 0 ? fcntl(own, F_DUPFD_CLOEXEC, 0) : -1;
  FILE* fp = own >= 0 ? (ofd >= 0 ? fdopen(ofd, "wb") : nullptr) : std::fopen(host.c_str(), "wb");
  if (!fp && ofd >= 0) close(ofd);
  if (!fp) {
    werrno = errno ? errno : EIO;
    return 0;
  }
  ErrMgr err;
  Dest dd;
  std::memset(&err, 0, sizeof err);
  std::memset(&dd, 0, sizeof dd);
  std::vector<JOCTET> buf(JBUF);
  dd.fp = fp;
  dd.buf = buf.data();
  errno = 0;
  int ok = jpgcmp(rgb.data(), static_cast<int>(w), static_cast<int>(h), q, &dd, &err);
  if (std::fclose(fp) != 0 && ok) {
    ok = 0;
    dd.failed = errno ? errno : EIO;
  }
  if (!ok) {
    // Nothing half-written stays behind; the caller says why.
    if (delok) std::remove(host.c_str());
    if (dd.failed) {
      werrno = dd.failed;
    } else {
      if (err.msg[0]) jprintf(errlun, "jpeg: %s\n", err.msg);
      error(2, 66);
    }
    return 0;
  }
  return 1;
}
