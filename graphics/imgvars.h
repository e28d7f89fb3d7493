// The image variables bound to system names: vimage (lines and text go
// into it instead of the window), zimage (the depth image), yzimage (the
// rotated second trace) and simage (the image that region search and
// outline tracing test).
//
// Each name holds a pointer record of its own. `NAME = IMG` binds the name
// to the image by reference (as `NAME = image(IMG)` does), `NAME = 0`
// empties it, and when the image goes (release, undeclare, a macro's
// locals) every name bound to it is emptied, so that drawing goes back to
// the window and never into freed memory.
//
// For drawing, a bound name is resolved into an image target: the address
// of its first item and its row layout when the data lies in plain word
// memory, else its prepared record for the element access.
#pragma once
#include <cstdint>

struct PtrRec;
struct SymEnt;

enum ImgName : int { IV_VIMAGE = 0, IV_ZIMAGE = 1, IV_YZIMAGE = 2, IV_SIMAGE = 3, NIMGNAME = 4 };

// The start-up part: each of the four names gets its empty pointer record.
int imginit();
// The record a name holds (null when it has none); its kind is 0 while the
// name is empty.
PtrRec* imgname(int which);
// Whether a name is bound to an image.
bool imgbound(int which);
// Binds a name to the image of a resolved record (a named variable with
// dimensions), or empties it (src null). Returns 0, or -1 when src cannot
// be bound (no data, a list or a vector).
int imgbind(int which, const PtrRec* src);
// The assignment `NAME = IMG` or `NAME = 0` to one of the four names: true
// when the line was such an assignment and has been served.
bool imgasn();
// A variable is about to go (release, undeclare, a macro's locals): every
// name bound to it is emptied. A variable given new storage (a larger
// image assigned, a file read into it) stays bound: the names follow it.
void imgfreed(const SymEnt* entry);
// A variable's entry moved from one stack address to another (a macro's
// globals handed to its caller): the names bound to it follow.
void imgmoved(int32_t from, int32_t to);

// A scratch copy of the record that simage holds, prepared for reading;
// null when simage holds no image variable.
PtrRec* simrec();

// An image as the pixel writers address it.
struct ImgTgt {
  uint8_t* base = nullptr;  // item (0, 0) of the window; null: element access
  int64_t row = 0;          // bytes from one row to the next
  int32_t w = 0, h = 0;     // window extents
  int16_t ws = 0;           // word size code
  int16_t bytes = 0;        // bytes per item on the fast path (1, 2, 3, 4)
  bool flt = false;         // float items
  PtrRec* rec = nullptr;    // the prepared record (element access)
};
// The target of a bound name, or null when the name is empty or its image
// cannot be drawn into (file-backed data). The target stays valid until the
// next call for the same name or until the image's storage changes.
const ImgTgt* imgtgt(int which);

// While one lives, a name's target once found is trusted without looking
// again (a drawing walk, during which no variable changes).
struct ImgPin {
  ImgPin();
  ~ImgPin();
  ImgPin(const ImgPin&) = delete;
  ImgPin& operator=(const ImgPin&) = delete;
};
// While a pin lives, a stamp that stays the same as long as imgbound and
// imgtgt give what they gave (no name bound anew); 0 without a pin.
extern uint64_t imgstampv;
inline uint64_t imgstamp() { return imgstampv; }

// Back to the start-up state, the names forgotten until imginit (tests).
void imgini();
