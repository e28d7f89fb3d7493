// Typed element access: preparing a pointer record (gtvarb), making the next
// part of its data addressable for reading (LDVARB) and writing (DMPVRB),
// and moving items between the stored word size and numbers (GSTACK/PSTACK in
// float precision, igstak/IPSTAK for integers).
//
// The store rules of PSTACK and IPSTAK are the one rule for every store in
// the system: the element loop and the fast typed paths store through the
// routines below (stfl8 ... stitm) so that they store exactly as PSTACK does.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/state.h"
#include "core/varbl.h"

// Word size codes.
enum : int {
  W_BYTE = 8,
  W_SHORT = 16,
  W_RGB = 24,
  W_LONG = 32,
  W_FLOAT = 96,
  W_LONIB = 264,
  W_HINIB = 520,
  W_VEC = 136,
  W_BIT = 1,
  W_CRUMB = 2,
  W_NIBBLE = 4,
};

// aflags bit that switches off clamping of integer stores.
constexpr int32_t AF_NOCLAMP = 0x4;

int gtvarb(PtrRec* r, int32_t* count, int32_t* part, int32_t* total, int32_t* wsiz, int mode);
int LDVARB(PtrRec* r, int32_t* part, int32_t base);
int DMPVRB(PtrRec* r, int32_t* part, int advance, int32_t base);
double GSTACK(PtrRec* r);
void PSTACK(double v, PtrRec* r);
int32_t igstak(PtrRec* r);
void IPSTAK(int32_t v, PtrRec* r);
uint8_t* nxtbuf(PtrRec* r, int mode);
int savoff(PtrRec* r);
uint8_t* setpos(PtrRec* r, int32_t n);
uint8_t* setxy(PtrRec* r, int32_t x, int32_t y, int mode);
int clpoff(PtrRec* r, int32_t tol);
int32_t getitm(const void* mem, int wsiz, int32_t n);
double getitf(const void* mem, int wsiz, int32_t n);
void putitm(int32_t v, void* mem, int wsiz, int32_t n);
void putitf(double v, void* mem, int wsiz, int32_t n);
double getelm(const void* addr, int wsiz);
void putelm(double v, void* addr, int wsiz);
int memxfr(int32_t addr, int32_t offset, void* buf, int32_t bytes, int mode);
// Whether every item read and stored is traced (trace mask 0x8000): fast
// paths that skip the element access step aside then.
bool tracei();

// ---------------------------------------------------------------------------
// Conversions. Every float-to-integer conversion of the element access goes
// through these; each is defined for NaN, infinities and out-of-range values.

// Narrows a double to a 32-bit float, rounding to nearest as IEEE does: a
// value less than half a step above the largest float gives that float,
// one from the half step on gives +-inf.
inline float nrwflt(double v) {
  if (std::isnan(v)) return static_cast<float>(v);
  if (v >= 0x1.ffffffp+127) return INFINITY;
  if (v <= -0x1.ffffffp+127) return -INFINITY;
  return static_cast<float>(v);
}
// Truncation toward zero; NaN and values outside the 32-bit range give
// 0x80000000 (the missing value of 32-bit items).
inline int32_t ftrunc(double f) {
  if (!(f > -2147483649.0 && f < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(f);
}
// Clamped to -32767..32767, then truncated toward zero; NaN gives 0.
inline int32_t cvi16(double f) {
  if (std::isnan(f)) return 0;
  if (f >= 32767.0) return 32767;
  if (f <= -32767.0) return -32767;
  return static_cast<int32_t>(f);
}
// Clamped to +-2147400000, then truncated toward zero; NaN gives 0.
inline int32_t cvi32(double f) {
  if (std::isnan(f)) return 0;
  if (f >= 2147400000.0) return 2147400000;
  if (f <= -2147400000.0) return -2147400000;
  return static_cast<int32_t>(f);
}
// Clamped to 0..hi, then truncated; NaN gives 0.
inline int32_t cvclmp(double f, int32_t hi) {
  if (!(f > 0.0)) return 0;
  if (f >= hi) return hi;
  return static_cast<int32_t>(f);
}
inline int32_t iclmp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The missing value (-0.0) as a float.
inline bool ismiss(float f) { return f == 0.0f && std::signbit(f); }
constexpr float MISSING = -0.0f;

// ---------------------------------------------------------------------------
// The store rules. f is the value already narrowed to float (nrwflt); nc is
// true when aflags 0x4 switches clamping off.

inline uint8_t stfl8(float f, bool nc) {
  if (ismiss(f)) return 0;
  if (nc) return static_cast<uint8_t>(cvi16(f) & 0xFF);
  return static_cast<uint8_t>(cvclmp(f, 255));
}
inline uint16_t stfl16(float f, bool nc) {
  if (ismiss(f)) return 0x8000;
  if (nc) return static_cast<uint16_t>(cvi16(f));
  return static_cast<uint16_t>(static_cast<uint32_t>(ftrunc(f)) & 0xFFFF);
}
inline uint32_t stfl24(float f, bool nc) {
  if (ismiss(f)) return 0;
  int32_t v = nc ? cvi32(f) : ftrunc(f);
  return static_cast<uint32_t>(v) & 0xFFFFFF;
}
inline uint32_t stfl32(float f, bool nc) {
  if (ismiss(f)) return 0x80000000u;
  return static_cast<uint32_t>(nc ? cvi32(f) : ftrunc(f));
}
// A field of `bits` bits (nibbles and bit fields): 0..max clamped, or the
// low bits with clamping off.
inline uint32_t stflfld(float f, int bits, bool nc) {
  uint32_t mask = (1u << bits) - 1;
  if (ismiss(f)) return 0;
  if (nc) return static_cast<uint32_t>(cvi16(f)) & mask;
  return static_cast<uint32_t>(cvclmp(f, static_cast<int32_t>(mask)));
}

inline uint8_t stin8(int32_t v, bool nc) {
  if (v == INT32_MIN) return 0;
  if (nc) return static_cast<uint8_t>(v & 0xFF);
  return static_cast<uint8_t>(iclmp(v, 0, 255));
}
inline uint16_t stin16(int32_t v, bool nc) {
  if (v == INT32_MIN) return 0x8000;
  if (nc) return static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFF);
  return static_cast<uint16_t>(iclmp(v, -32767, 32767));
}
inline uint32_t stinfld(int32_t v, int bits, bool nc) {
  uint32_t mask = (1u << bits) - 1;
  if (v == INT32_MIN) return 0;
  if (nc) return static_cast<uint32_t>(v) & mask;
  return static_cast<uint32_t>(iclmp(v, 0, static_cast<int32_t>(mask)));
}

// One item at p, at bit position *bitp for bit fields. The stores return the
// bytes to step (bit fields step *bitp and return 1 when the byte is done).
// A word size code without items (0 and unknown codes) stores nothing and
// steps nothing.
int stitm(double v, uint8_t* p, int wsiz, uint8_t* bitp, bool nc);
int istitm(int32_t v, uint8_t* p, int wsiz, uint8_t* bitp, bool nc);
// Reads one item: GSTACK's rule (float precision, missing as -0.0) and
// igstak's; they return the bytes to step in *step in the same way.
double lditm(const uint8_t* p, int wsiz, uint8_t* bitp, int* step);
int32_t ilditm(const uint8_t* p, int wsiz, uint8_t* bitp, int* step);

inline bool noclmp() { return (aflags & AF_NOCLAMP) != 0; }
