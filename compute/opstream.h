// Sequential reading and writing of the operands of an array operation.
//
// A source is read in storage order, part by part (`LDVARB` loads the next
// part of a file- or device-backed variable when the current one is used
// up); a destination is written the same way (`DMPVRB` moves its window on
// and writes back full buffers). Whole runs of bytes are moved at once
// where the item type allows it.
#pragma once
#include <cstdint>
#include <vector>

#include "core/varbl.h"

// The first byte of a variable's data when all of its items lie in one
// run of memory from there (no block buffers, a window over the whole data,
// the low stack, flat high memory or outside data); else null. items is the
// count the caller will use.
uint8_t* contig(PtrRec* r, int64_t items);

struct OpRead {
  OpRead() = default;
  OpRead(OpRead&&) = default;
  OpRead& operator=(OpRead&&) = default;
  ~OpRead();
  PtrRec* r = nullptr;
  int32_t part = 0;  // items addressable up to this index
  int32_t i = 0;     // index of the next item
  int32_t n = 0;     // items in all
  // Starts on operand-table row k (0 or 1), whose record gtvarb prepared.
  void start(int k);
  // Reads up to m items as unsigned bytes (byte sources), or as integers
  // through igstak clamped to 0..255 (other sources); returns the count read
  // (short at the end of the data).
  int32_t bytes(uint8_t* out, int32_t m);
  // One item as an integer or a float; 0 past the end.
  int32_t geti();
  double getf();
  // Whether the whole of the data is addressable at once from here.
  const uint8_t* whole() const;
  // Reads every item now into a private copy that the reads above then
  // take from: for a destination that shares the source's data. Bytes are
  // copied as bytes, data in one piece in one block (whole() gives it).
  void detach();
  // Item k of the copy as an integer (0 outside it).
  int32_t at(int32_t k) const;
  bool mem = false;
  bool flt = false;
  std::vector<int32_t> mi;  // the copy: other integers,
  std::vector<float> mf;    // floats,
  std::vector<uint8_t> mb;  // bytes
};

// Whether the destination row of the operand table shares operand 1's
// record or data.
bool opalias();
// Whether destination handle d names the variable of record r.
bool samevar(int32_t d, const PtrRec* r);
// Operand 1 read ahead by a set-up step whose destination is operand 1's own
// variable (the destination is remade before the operation runs): `snapin`
// takes the copy (when c's destination is that variable), `snapout` hands it
// to the operation's reader and reports whether there was one.
void snapin(int32_t dest);
bool snapout(OpRead& in);

struct OpWrite {
  PtrRec* d = nullptr;
  int32_t part = 0;
  int32_t i = 0;
  int32_t n = 0;
  // Starts on the destination row of the operand table.
  void start();
  bool full() const { return i >= n; }
  // One item through the store rules (IPSTAK / PSTACK).
  void puti(int32_t v);
  void putf(double v);
  // m integers through the store rules, in runs where possible.
  void ints(const int32_t* v, int32_t m);
  // Writes back what is left; the destination's window is done.
  void end();
  // The destination's data when all of it is addressable at once.
  uint8_t* whole() const;
};
