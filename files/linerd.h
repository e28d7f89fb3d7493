// Lines of a text stream read in large pieces, for the readers of whole
// text files (import). A line ends at LF, CR or CR LF and may be up to
// LINEMAX bytes long: the buffer grows to hold it, and a longer line ends
// the reading (toolong) as soon as its first LINEMAX + 1 bytes are read.
//
//   LineRd rd(fp, 0);
//   char* l; int n; int64_t off;
//   while (rd.next(&l, &n, &off)) { ... l[0..n) ... }
//   if (rd.nomem() || rd.toolong()) ... a line could not be held
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>

// The longest line a reader holds, in bytes (its end not counted).
constexpr size_t LINEMAX = size_t{64} << 20;

// The first LF or CR in [p, e), or null.
const char* eolscan(const char* p, const char* e);

// A text stream at its start passes over a UTF-8 byte-order mark (as
// spreadsheets write at the start of their CSV): the mark's length, 3, or 0
// with the stream left at its start.
int skpbom(FILE* f);

class LineRd {
 public:
  // Reads f from its position pos (the offset the lines' offsets count
  // from); lines of at most most bytes.
  LineRd(FILE* f, int64_t pos, size_t most = LINEMAX);
  // The next line: its bytes (valid, and changeable, until the next call),
  // their count and the line's offset in the file. False at the end, when
  // a line outgrew the memory (nomem) or when a line is longer than the
  // most (toolong); nothing is read after either.
  bool next(char** line, int* len, int64_t* off);
  bool nomem() const { return nomem_; }
  bool toolong() const { return toolong_; }
  // Bytes looked at for line ends so far: each byte once, or twice at the
  // end of a piece (a measure of the reader's work).
  int64_t scanned() const { return scanned_; }

 private:
  size_t fill();
  FILE* f_;
  size_t most_;
  // Not cleared: only the bytes read are ever looked at. A short file gets
  // a buffer of its size.
  size_t cap_;
  std::unique_ptr<char[]> buf_;
  size_t beg_ = 0, end_ = 0;
  int64_t base_;
  int64_t scanned_ = 0;
  bool eof_ = false;
  bool nomem_ = false;
  bool toolong_ = false;
};
