// The vector list: the display list of vector records that the vector
// commands append to and redraw replays, and beside it the vector data list
// of float (x, y) pairs.
//
// The list is a file-backed variable bound to the system name vecs: 8-byte
// records, one a row of a scratch file ("vecs.tmp" in the temporary folder,
// or the file the string variable vecfil names) reached through the block
// buffers, 1024 records a block, so that it can outgrow memory. Its write
// index is the system variable nvecs; its marks (object start lastvec, last
// end, last drawn) follow the writers. The data list vdata lives in
// "vdata.tmp" (or vdatfil) the same way; its count is nvdata.
//
// Vector record: i16 x, y, z; byte 6 (width << 4) | code; byte 7 colour.
// Expanded point (what readers get): u8 code, u8 width, i16 colour, i16 x,
// y, z.
#pragma once
#include <cstdint>
#include <string>

#include "graphics/drawstate.h"

struct PtrRec;
struct XfmRec;

// Record codes.
enum : int {
  VC_LINE = 1, VC_MOVE = 2, VC_DOT = 3,      // 4 to 6: their relative forms
  VC_PARAM = 7, VC_TEXT = 8, VC_OP = 9, VC_ELLIPSE = 10, VC_TILE = 11, VC_FILL = 12,
  VC_END = 15,
};

// A 16-bit field of a record or an expanded point, read and written.
inline int16_t vget16(const uint8_t* p) {
  int16_t v;
  __builtin_memcpy(&v, p, 2);
  return v;
}
inline void vput16(uint8_t* p, int v) {
  const auto s = static_cast<int16_t>(v);
  __builtin_memcpy(p, &s, 2);
}

// The list's own pointer record (null until vinit made it).
PtrRec* veclst();
// The data list's pointer record (null until made).
PtrRec* vdatlst();
// Sets up the vector system when the list is missing: flags bit 1 the data
// list instead, bit 4 no file. The list file is made anew; a list whose
// file cannot be made stays empty (logged).
int vinit(int flags);
// Makes the data list.
int vinit2(int mode);
// Writes one record at index, growing the count to index + 1 when needed.
// -1 when the list cannot store it (it has no file, or a block of it
// cannot be written to make room): reported (error 69 with the cause), and
// the count stays as it was.
int putvec(int32_t index, int x, int y, int z, int code, int colour, int width);
// Appends one record at the write index (code 1 becomes 2 when the list is
// empty), advances the index and draws the record. The appenders return
// -1, with the write index as it was, when a record cannot be stored.
int savvec(int x, int y, int z, int code, int colour, int width);
// Appends an end record: type 1 end of list, 2 end of object, 3 end of
// object and restart, 4 link; patches the distances of earlier end records.
int endvec(int type);
// Appends a text object (a header and the text 6 bytes a record) and draws it.
int puttext(const char* text, int colour, int size, int angle, int width);
// Record index of a vector variable (list null: the vector list) made
// addressable, access 1 read, 2 write; null past its records.
uint8_t* gtvptr(PtrRec* list, int32_t index, int access);
// Record index of a list in expanded form; mode not 0 turns the relative
// codes into absolute ones from the last absolute point; mode 1 also makes
// it the last absolute point and applies the list's transform. Null past
// the end (the expanded point is then zeroed).
uint8_t* getvec(PtrRec* list, int32_t index, uint8_t* exp, int mode);
// Absolute points of the vector list read in draw mode while a walk is
// pinned, kept by index (vecptgen tells the ones of the walk, with no write
// to the list since): a fill reads again the outline just drawn.
struct VecPt {
  uint32_t gen = 0;
  int32_t index = -1;
  int16_t notx = 0;  // gflags bit 0x0001 then (it turns the transform off)
  uint8_t exp[12];   // the expanded point as read
  uint8_t raw[8];    // the record
};
extern VecPt vecpts[64];
extern uint32_t vecptgen;
// getvec, with a point read again served in line.
inline uint8_t* vecread(PtrRec* list, int32_t index, uint8_t* exp, int mode) {
  VecPt& p = vecpts[index & 63];
  if (mode == 1 && !list && p.gen == vecptgen && p.index == index && p.notx == (gflags & 1)) {
    // A point read again: as it was read, and again the last absolute point.
    __builtin_memcpy(exp, p.exp, 12);
    __builtin_memcpy(lastpt, p.raw, 6);
    return p.raw;
  }
  return getvec(list, index, exp, mode);
}
// Sets the record count of the vector list (which <= 0; -1 also clears its
// marks) or of the data list (which > 0). The write index is the caller's.
int setnvec(int which, int32_t n);
// Appends a float pair to the data list.
int ptvdat(float x, float y);
// The transform of a point (three 16-bit coordinates) by a transform record
// and its selector (the transform word >> 4): pin, scale, rotation, then pin
// and offset, each step truncated.
int projct(int16_t* point, const XfmRec* xf, int selector);
// Applies the list's transform to the x, y, z of an expanded point, and for
// the vector list the perspective toward the drawing box's centre.
int vproject(uint8_t* point, PtrRec* list);
// While one lives, the list and its transform once found are trusted without
// looking again (a drawing walk, during which no variable changes).
struct VecPin {
  VecPin();
  ~VecPin();
  VecPin(const VecPin&) = delete;
  VecPin& operator=(const VecPin&) = delete;
};
// Appends a copy of record index (its x, y, z) with a new code at the write
// index; out gets the record as read.
int vcopy(int32_t index, uint8_t* out, int code);
// The records of a list: the vector list's write index, a variable's count.
int32_t vreccnt(PtrRec* list);

// The colour map: colour index to drawing value, the identity when the list
// is first made; the device variable veclut reads and writes it.
extern uint8_t vcmap[256];
// Light for shading tiles and fills: position x, y, z and strength (0 no
// shading; negative: the light goes through the list's transform first).
extern int16_t vlight[4];
// Writes the lists' buffers to their files, and the record count into the
// list file's header (the program's end).
int vlsync();
// The last-drawn and last-end marks.
int32_t lastdrawn();
int32_t lastendm();
// The host name of the list's file and of the data list's ("" when none).
std::string vlfile();
std::string vdfile();
// Back to no list, its file closed (start-up and tests).
void vlini();
