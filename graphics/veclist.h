// The vector list: the display list of vector records that the vector
// commands append to and the transform commands take as their default
// target. In this build it is a list of vectors in the word memory bound to
// the system name vecs (its records read as any list of vectors), grown as
// records are appended; the write index is the system variable nvecs.
#pragma once
#include <cstdint>

struct PtrRec;
struct XfmRec;

// The list's own pointer record (null until vinit made it).
PtrRec* veclst();
// Appends one record at the write index (code 1 becomes 2 when the list is
// empty) and advances the index.
int savvec(int x, int y, int z, int code, int colour, int width);
// Writes one record at index, growing the count to index + 1 when needed.
int putvec(int32_t index, int x, int y, int z, int code, int colour, int width);
// Record index of a vector variable (list null: the vector list) made
// addressable, access 1 read, 2 write; null past its records.
uint8_t* gtvptr(PtrRec* list, int32_t index, int access);
// The transform of a point (three 16-bit coordinates) by a transform record
// and its selector (the transform word >> 4): pin, scale, rotation, then pin
// and offset, each step truncated.
int projct(int16_t* point, const XfmRec* xf, int selector);
// Applies the list's transform to the x, y, z of an expanded point.
int vproject(uint8_t* point, PtrRec* list);

// Record index of a vector list (null: the vector list) in expanded form;
// mode 1 turns the relative codes into absolute ones from the last absolute
// point and applies the list's transform. Null past the end (the expanded
// point is then zeroed).
uint8_t* getvec(PtrRec* list, int32_t index, uint8_t* exp, int mode);

// Colour of new vector records (the drawing colour).
extern uint8_t vcolor;
// The colour map: colour index to drawing value, the identity when the list
// is first made; the device variable veclut reads and writes it.
extern uint8_t vcmap[256];
// The 8-byte record index of the vector list, or null.
uint8_t* vecptr(int32_t index);
// The last-drawn mark: the index of the last record appended and drawn.
int32_t lastdrawn();
// Back to no list (start-up and tests).
void vlini();
