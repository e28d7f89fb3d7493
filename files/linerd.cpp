// The line reader of whole text files: one scan finds the next LF or CR.
#include "files/linerd.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {
constexpr size_t READ = 1 << 20;  // bytes read at a time

// The buffer a reader starts with: READ bytes, or what is left of a regular
// file when that is less (and one byte more, to find its end at once).
size_t firstsize(FILE* f) {
  struct stat st {};
  const off_t at = ftello(f);
  if (at < 0 || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < at) return READ;
  return std::min<size_t>(READ, static_cast<size_t>(st.st_size - at) + 1);
}
}  // namespace

const char* eolscan(const char* p, const char* e) {
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
  for (; e - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned m =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
    if (m) return p + __builtin_ctz(m);
  }
#endif
  for (; p < e; p++)
    if (*p == '\n' || *p == '\r') return p;
  return nullptr;
}

LineRd::LineRd(FILE* f, int64_t pos, size_t most)
    : f_(f),
      most_(std::min<size_t>(most, INT32_MAX - 2)),
      cap_(std::min(firstsize(f), most_ + 2)),
      buf_(std::make_unique_for_overwrite<char[]>(cap_)),
      base_(pos) {}

bool LineRd::next(char** line, int* len, int64_t* off) {
  if (toolong_ || nomem_) return false;
  size_t scan = beg_;
  for (;;) {
    char* b = buf_.get();
    const char* hit = eolscan(b + scan, b + end_);
    size_t stop = 0, after = 0;
    if (hit) {
      const size_t c = static_cast<size_t>(hit - b);
      scanned_ += static_cast<int64_t>(c + 1 - scan);
      if (c - beg_ > most_) {
        toolong_ = true;
        return false;
      }
      if (b[c] == '\r' && c + 1 == end_ && !eof_) {
        // Whether an LF follows is in the next piece.
        scan = c - fill();
        if (nomem_) return false;
        continue;
      }
      stop = c;
      after = b[c] == '\r' && c + 1 < end_ && b[c + 1] == '\n' ? c + 2 : c + 1;
    } else {
      scanned_ += static_cast<int64_t>(end_ - scan);
      if (end_ - beg_ > most_) {
        // No end in the line's first most + 1 bytes: nothing more is read.
        toolong_ = true;
        return false;
      }
      if (!eof_) {
        scan = end_ - fill();
        if (nomem_) return false;
        continue;
      }
      if (beg_ >= end_) return false;
      stop = after = end_;
    }
    *line = b + beg_;
    *len = static_cast<int>(std::min<size_t>(stop - beg_, INT32_MAX));
    *off = base_ + static_cast<int64_t>(beg_);
    beg_ = after;
    return true;
  }
}

// Moves what is left to the front, grows the buffer when a line fills it
// (to at most the longest line, its CR LF end and a byte: room to find
// that the line is too long), reads more. Returns how far the bytes moved
// down.
size_t LineRd::fill() {
  const size_t shift = beg_;
  if (beg_ > 0) {
    std::memmove(buf_.get(), buf_.get() + beg_, end_ - beg_);
    base_ += static_cast<int64_t>(beg_);
    end_ -= beg_;
    beg_ = 0;
  }
  if (end_ == cap_) {
    try {
      const size_t want = std::min(cap_ * 2, most_ + 2);
      auto grown = std::make_unique_for_overwrite<char[]>(want);
      std::memcpy(grown.get(), buf_.get(), end_);
      buf_ = std::move(grown);
      cap_ = want;
    } catch (const std::bad_alloc&) {
      nomem_ = eof_ = true;
      return shift;
    }
  }
  const size_t got = std::fread(buf_.get() + end_, 1, cap_ - end_, f_);
  if (got == 0) eof_ = true;
  end_ += got;
  return shift;
}

int skpbom(FILE* f) {
  if (!f || std::ftell(f) != 0) return 0;
  unsigned char b[3];
  if (std::fread(b, 1, 3, f) == 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return 3;
  std::clearerr(f);
  std::rewind(f);
  return 0;
}
