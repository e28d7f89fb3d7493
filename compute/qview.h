// Operands and destinations of the fast typed paths seen as runs of items
// in plain word memory (or as the parts block buffers make addressable),
// and a cursor that walks them.
#pragma once
#include <algorithm>
#include <cstdint>

#include "core/element.h"
#include "core/varbl.h"

inline bool wcode(int w) { return w == W_BYTE || w == W_SHORT || w == W_LONG || w == W_FLOAT; }
inline int wbytes(int w) { return w == W_BYTE ? 1 : w == W_SHORT ? 2 : 4; }

// One operand or the destination seen as runs of items in plain word
// memory: a single value, one run from the data's first item (records of
// no variable and plain strings), or a window over up to three dimensions.
struct View {
  int w = 0;
  bool scalar = false;
  float v = 0.0f;  // the single value as the loop reads it
  int32_t base = 0;  // byte reference of the data's first item
  int64_t count = 0;
  bool whole = false;
  int64_t dim[3] = {1, 1, 1}, org[3] = {0, 0, 0}, ext[3] = {1, 1, 1};
  // A record with block buffers: its parts come from LDVARB (DMPVRB for
  // the destination), one after another; part0 is what is addressable now.
  PtrRec* rec = nullptr;
  bool dest = false;
  int32_t part0 = 0;
  // The byte range the view's data occupies (for overlap checks); block
  // buffers may hold anything, so they overlap everything.
  int64_t lo() const { return rec ? 0 : base; }
  int64_t hi() const {
    if (rec) return INT64_MAX;
    return base + (whole ? count : dim[0] * dim[1] * dim[2]) * wbytes(w);
  }
};

// Makes a view of a prepared record: count its items (the operand table's
// count), part its addressable items. False when the record is not plain
// word memory of a whole-byte word size, or its window is not what its
// count says.
bool mkview(PtrRec* r, int32_t count, int32_t part, bool dest, View* v);
// Operand table row k (0, 1; 2 the destination) as a view.
bool rowview(int k, View* v);

// Walks the runs of a view from item k on.
struct Cursor {
  const View* v = nullptr;
  int64_t k = 0;
  uint8_t* p = nullptr;
  int64_t left = 0;
  bool paged = false;

  int32_t part = 0;  // block buffers: items addressable up to this index

  void seek(int64_t at) {
    k = at;
    left = 0;
    part = v->part0;
  }
  // The items that lie one after another from the current one (*out); 0
  // when a buffered record has no next part.
  int64_t avail(uint8_t** out);
  void adv(int64_t m) {
    if (v->rec) v->rec->Dptr = addref(v->rec->Dptr, m * wbytes(v->w));
    if (p) p += m * wbytes(v->w);
    left -= m;
    k += m;
  }
  // Up to n items that lie one after another from the current one.
  int64_t take(int64_t n, uint8_t** out) {
    int64_t m = std::min(n, avail(out));
    adv(m);
    return m;
  }
  void locate();
};
