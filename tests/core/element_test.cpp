// Typed element access: item stores and reads per word size code at their
// edges, the store rules with and without aflags 0x4, preparing records and
// walking windows part by part.
#include "varbl_fixture.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

namespace {

void rewind(PtrRec* r) {
  r->Dptr = r->Data0;
  r->Bitp = 0;
}

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t u32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

bool negzero(double v) { return v == 0.0 && std::signbit(v); }

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST_F(Var, BytesStoreClampedOrLowBits) {
  uint8_t* d;
  PtrRec* r = raw(8, 16, 16, &d);
  const double in[] = {300.7, -5, 255.9, 0.99, -0.0, kNaN, kInf, -kInf, 1e10, 128};
  const uint8_t clamp[] = {255, 0, 255, 0, 0, 0, 255, 0, 255, 128};
  for (double v : in) PSTACK(v, r);
  for (int i = 0; i < 10; i++) EXPECT_EQ(d[i], clamp[i]) << "item " << i;
  EXPECT_EQ(r->Dptr, r->Data0 + 10);

  aflags = AF_NOCLAMP;
  rewind(r);
  // Through toi16 (clamped to +-32767, truncated), then the low 8 bits.
  const uint8_t low[] = {44, 251, 255, 0, 0, 0, 0xFF, 0x01, 0xFF, 128};
  for (double v : in) PSTACK(v, r);
  for (int i = 0; i < 10; i++) EXPECT_EQ(d[i], low[i]) << "item " << i;

  rewind(r);
  aflags = 0;
  for (int i = 0; i < 10; i++) EXPECT_EQ(GSTACK(r), low[i]);

  // Integer stores: clamped to 0..255, or the low bits; missing stores 0.
  rewind(r);
  IPSTAK(-1, r);
  IPSTAK(40000, r);
  IPSTAK(INT32_MIN, r);
  aflags = AF_NOCLAMP;
  IPSTAK(-1, r);
  IPSTAK(0x1234, r);
  IPSTAK(INT32_MIN, r);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 255);
  EXPECT_EQ(d[2], 0);
  EXPECT_EQ(d[3], 255);
  EXPECT_EQ(d[4], 0x34);
  EXPECT_EQ(d[5], 0);
  rewind(r);
  EXPECT_EQ(igstak(r), 0);
  EXPECT_EQ(igstak(r), 255);
}

TEST_F(Var, ShortsWrapOrClampAndKeepTheMissingValue) {
  uint8_t* d;
  PtrRec* r = raw(16, 8, 16, &d);
  PSTACK(40000, r);
  PSTACK(-0.0, r);
  PSTACK(-32768.0, r);
  PSTACK(-3.9, r);
  PSTACK(1e10, r);  // outside 32 bits: 0x80000000, low 16 bits 0
  EXPECT_EQ(u16(d), 0x9C40);
  EXPECT_EQ(u16(d + 2), 0x8000);
  EXPECT_EQ(u16(d + 4), 0x8000);
  EXPECT_EQ(u16(d + 6), 0xFFFD);
  EXPECT_EQ(u16(d + 8), 0);
  rewind(r);
  EXPECT_EQ(GSTACK(r), 40000 - 65536);
  EXPECT_TRUE(negzero(GSTACK(r)));  // missing reads back as -0.0
  EXPECT_TRUE(negzero(GSTACK(r)));
  EXPECT_EQ(GSTACK(r), -3);
  rewind(r);
  EXPECT_EQ(igstak(r), 40000 - 65536);
  EXPECT_EQ(igstak(r), -32768);  // integers see the raw item

  aflags = AF_NOCLAMP;
  rewind(r);
  PSTACK(40000, r);
  PSTACK(-1e9, r);
  PSTACK(-0.0, r);
  EXPECT_EQ(u16(d), 32767);
  EXPECT_EQ(u16(d + 2), static_cast<uint16_t>(-32767));
  EXPECT_EQ(u16(d + 4), 0x8000);

  // IPSTAK: clamped to +-32767 without aflags 0x4, the low bits with it.
  rewind(r);
  IPSTAK(40000, r);
  IPSTAK(INT32_MIN, r);
  aflags = 0;
  IPSTAK(40000, r);
  IPSTAK(-40000, r);
  IPSTAK(INT32_MIN, r);
  EXPECT_EQ(u16(d), 0x9C40);
  EXPECT_EQ(u16(d + 2), 0x8000);
  EXPECT_EQ(u16(d + 4), 32767);
  EXPECT_EQ(u16(d + 6), static_cast<uint16_t>(-32767));
  EXPECT_EQ(u16(d + 8), 0x8000);
}

TEST_F(Var, ThreeByteItemsOrder) {
  uint8_t* d;
  PtrRec* r = raw(24, 4, 12, &d);
  d[0] = 1, d[1] = 2, d[2] = 3;
  // GSTACK reads the first byte as the least significant, getitm as the most.
  EXPECT_EQ(GSTACK(r), 0x030201);
  EXPECT_EQ(r->Dptr, r->Data0 + 3);
  EXPECT_EQ(getitm(d, 24, 0), 0x010203);
  PSTACK(0x123456, r);
  PSTACK(-1, r);     // low three bytes of the truncated value
  PSTACK(-0.0, r);   // missing stores 0
  EXPECT_EQ(d[3], 0x56);
  EXPECT_EQ(d[4], 0x34);
  EXPECT_EQ(d[5], 0x12);
  EXPECT_EQ(d[6], 0xFF);
  EXPECT_EQ(d[7], 0xFF);
  EXPECT_EQ(d[8], 0xFF);
  EXPECT_EQ(d[9] | d[10] | d[11], 0);
  r->Dptr = r->Data0 + 3;
  EXPECT_EQ(igstak(r), 0x123456);
  EXPECT_EQ(igstak(r), 0xFFFFFF);
}

TEST_F(Var, LongsAndFloats) {
  uint8_t* d;
  PtrRec* r = raw(32, 6, 24, &d);
  PSTACK(-0.0, r);
  PSTACK(3e9, r);   // outside the 32-bit range: 0x80000000
  PSTACK(kNaN, r);
  PSTACK(-7.9, r);
  IPSTAK(16777217, r);
  EXPECT_EQ(u32(d), 0x80000000u);
  EXPECT_EQ(u32(d + 4), 0x80000000u);
  EXPECT_EQ(u32(d + 8), 0x80000000u);
  EXPECT_EQ(u32(d + 12), static_cast<uint32_t>(-7));
  EXPECT_EQ(u32(d + 16), 16777217u);
  rewind(r);
  EXPECT_TRUE(negzero(GSTACK(r)));
  rewind(r);
  r->Dptr += 16;
  EXPECT_EQ(GSTACK(r), 16777216.0);  // float precision
  r->Dptr -= 8;
  EXPECT_EQ(igstak(r), -7);
  EXPECT_EQ(igstak(r), 16777217);

  aflags = AF_NOCLAMP;
  rewind(r);
  PSTACK(3e9, r);
  PSTACK(-3e9, r);
  PSTACK(kNaN, r);
  EXPECT_EQ(static_cast<int32_t>(u32(d)), 2147400000);
  EXPECT_EQ(static_cast<int32_t>(u32(d + 4)), -2147400000);
  EXPECT_EQ(u32(d + 8), 0u);

  uint8_t* f;
  PtrRec* q = raw(96, 4, 16, &f);
  PSTACK(1e39, q);  // beyond the float range
  PSTACK(kNaN, q);
  PSTACK(-0.0, q);
  IPSTAK(INT32_MIN, q);
  rewind(q);
  EXPECT_EQ(GSTACK(q), kInf);
  EXPECT_TRUE(std::isnan(GSTACK(q)));
  EXPECT_TRUE(negzero(GSTACK(q)));
  EXPECT_EQ(GSTACK(q), -2147483648.0);
  rewind(q);
  EXPECT_EQ(igstak(q), INT32_MIN);  // +inf has no integer
  EXPECT_EQ(igstak(q), INT32_MIN);  // nor NaN
  EXPECT_EQ(igstak(q), 0);
  rewind(q);
  PSTACK(-3.9, q);
  rewind(q);
  EXPECT_EQ(igstak(q), -3);
}

TEST_F(Var, NibblesKeepTheOtherHalf) {
  uint8_t* d;
  PtrRec* lo = raw(264, 4, 4, &d);
  std::memset(d, 0xA0, 4);
  PSTACK(20, lo);
  PSTACK(-3, lo);
  PSTACK(7.9, lo);
  EXPECT_EQ(d[0], 0xAF);
  EXPECT_EQ(d[1], 0xA0);
  EXPECT_EQ(d[2], 0xA7);
  EXPECT_EQ(lo->Dptr, lo->Data0 + 3);  // one byte per item
  aflags = AF_NOCLAMP;
  rewind(lo);
  PSTACK(20, lo);
  IPSTAK(-1, lo);
  EXPECT_EQ(d[0], 0xA4);
  EXPECT_EQ(d[1], 0xAF);
  aflags = 0;
  IPSTAK(99, lo);
  EXPECT_EQ(d[2], 0xAF);
  rewind(lo);
  EXPECT_EQ(GSTACK(lo), 4);
  EXPECT_EQ(igstak(lo), 15);

  uint8_t* h;
  PtrRec* hi = raw(520, 2, 2, &h);
  h[0] = 0x05, h[1] = 0x3C;
  PSTACK(9, hi);
  IPSTAK(16, hi);
  EXPECT_EQ(h[0], 0x95);
  EXPECT_EQ(h[1], 0xFC);
  rewind(hi);
  EXPECT_EQ(GSTACK(hi), 9);
  EXPECT_EQ(GSTACK(hi), 15);
}

TEST_F(Var, BitFieldsFirstItemInTheHighBits) {
  uint8_t* d;
  PtrRec* r = raw(1, 16, 2, &d);
  d[0] = 0xA5;
  const int bits[] = {1, 0, 1, 0, 0, 1, 0, 1};
  for (int b : bits) EXPECT_EQ(GSTACK(r), b);
  EXPECT_EQ(r->Dptr, r->Data0 + 1);
  EXPECT_EQ(r->Bitp, 0);

  // Stores at odd positions leave the neighbours alone; 5 clamps to 1.
  d[1] = 0x00;
  r->Bitp = 3;
  PSTACK(5, r);
  PSTACK(0, r);
  PSTACK(1, r);
  EXPECT_EQ(d[1], 0x14);
  EXPECT_EQ(r->Bitp, 6);
  aflags = AF_NOCLAMP;
  PSTACK(2, r);  // low bit of 2
  PSTACK(3, r);
  EXPECT_EQ(d[1], 0x15);
  EXPECT_EQ(r->Dptr, r->Data0 + 2);

  // Crumbs (2 bits) and packed nibbles (4 bits).
  uint8_t* c;
  PtrRec* q = raw(2, 8, 2, &c);
  c[0] = 0xFF;
  aflags = 0;
  q->Bitp = 2;
  PSTACK(0, q);
  PSTACK(9, q);   // clamps to 3
  PSTACK(-0.0, q);  // missing stores 0
  EXPECT_EQ(c[0], 0xCC);
  EXPECT_EQ(q->Dptr, q->Data0 + 1);
  IPSTAK(6, q);
  aflags = AF_NOCLAMP;
  IPSTAK(6, q);  // low bits: 2
  EXPECT_EQ(c[1], 0xE0);
  rewind(q);
  const int crumbs[] = {3, 0, 3, 0, 3, 2, 0, 0};
  for (int v : crumbs) EXPECT_EQ(igstak(q), v);

  uint8_t* n;
  PtrRec* p = raw(4, 4, 2, &n);
  aflags = 0;
  PSTACK(3, p);
  PSTACK(40, p);
  PSTACK(1, p);
  EXPECT_EQ(n[0], 0x3F);
  EXPECT_EQ(n[1], 0x10);
  rewind(p);
  EXPECT_EQ(GSTACK(p), 3);
  EXPECT_EQ(GSTACK(p), 15);
  EXPECT_EQ(GSTACK(p), 1);
}

TEST_F(Var, VectorBytesAndCodesWithoutItems) {
  uint8_t* d;
  PtrRec* v = raw(136, 8, 8, &d);
  PSTACK(300, v);
  IPSTAK(7, v);
  EXPECT_EQ(d[0], 255);
  EXPECT_EQ(d[1], 7);
  EXPECT_EQ(v->Dptr, v->Data0 + 2);

  PtrRec* z = raw(0, 4, 4, &d);
  PSTACK(5, z);
  IPSTAK(5, z);
  EXPECT_EQ(GSTACK(z), 0);
  EXPECT_EQ(igstak(z), 0);
  EXPECT_EQ(z->Dptr, z->Data0);  // no step
  EXPECT_EQ(d[0], 0);
}

TEST_F(Var, NumberConstantStaysInPlace) {
  // A short head: only the first 9 words of a record, then other data.
  auto* hw = static_cast<uint32_t*>(getbuf(30 * 4));
  for (int i = 0; i < 30; i++) hw[i] = 0xDEADBEEF;
  auto* r = reinterpret_cast<PtrRec*>(hw);
  hw[0] = static_cast<uint32_t>(stkadr(hw));
  float one = 1.5f;
  uint32_t bits;
  memcpy(&bits, &one, 4);
  setrec(r, K_CONST, -1, bits, 96, 1);
  int32_t c, p, t, w;
  EXPECT_EQ(gtvarb(r, &c, &p, &t, &w, 0), K_CONST);
  EXPECT_EQ(p, 1);
  EXPECT_EQ(GSTACK(r), 1.5);
  EXPECT_EQ(GSTACK(r), 1.5);  // a number's item does not step
  PSTACK(-2.25, r);
  EXPECT_EQ(GSTACK(r), -2.25);
  DMPVRB(r, &p, 0, 0);
  for (int i = 9; i < 30; i++) EXPECT_EQ(hw[i], 0xDEADBEEFu) << "word " << i;
}

TEST_F(Var, StoreRulesAreExposed) {
  // The per-type routines the fast paths use agree with PSTACK.
  uint8_t* d;
  PtrRec* r = raw(16, 1, 2, &d);
  const double vals[] = {40000, -40000, 1e12, -0.0, kNaN, 12.7, -12.7};
  for (bool nc : {false, true}) {
    aflags = nc ? AF_NOCLAMP : 0;
    for (double v : vals) {
      rewind(r);
      PSTACK(v, r);
      EXPECT_EQ(u16(d), stfl16(nrwflt(v), nc)) << v;
    }
  }
  EXPECT_EQ(stfl8(nrwflt(256.0), false), 255);
  EXPECT_EQ(stflfld(nrwflt(20.0), 4, true), 4u);
  EXPECT_EQ(stfl32(nrwflt(-0.0), false), 0x80000000u);
  EXPECT_EQ(ftrunc(2147483648.0), INT32_MIN);
  EXPECT_EQ(ftrunc(-2147483648.0), INT32_MIN);
  EXPECT_EQ(ftrunc(-2147483648.5), INT32_MIN);
  EXPECT_EQ(ftrunc(2147483647.9), 2147483647);
}

TEST(Narrow, RoundsToNearestAtTheTopOfTheRange) {
  // Less than half a step above the largest float rounds down to it; the
  // half step itself and beyond are infinity (ties to even).
  const double top = FLT_MAX, half = 0x1.ffffffp+127;
  for (double v : {top, 3.4028235e38, 3.40282347e+38, std::nextafter(half, 0.0)}) {
    EXPECT_EQ(nrwflt(v), FLT_MAX) << v;
    EXPECT_EQ(nrwflt(-v), -FLT_MAX) << v;
  }
  for (double v : {half, 3.4028236e38, 1e39, static_cast<double>(INFINITY)}) {
    EXPECT_EQ(nrwflt(v), INFINITY) << v;
    EXPECT_EQ(nrwflt(-v), -INFINITY) << v;
  }
  EXPECT_EQ(nrwflt(0x1.fffffd0000001p+127), FLT_MAX);
  EXPECT_EQ(nrwflt(0x1.fffffcfffffffp+127), std::nextafter(FLT_MAX, 0.0f));
  EXPECT_TRUE(std::isnan(nrwflt(kNaN)));
}

TEST_F(Var, PlainMemoryItems) {
  uint8_t m[16] = {};
  putitf(2.5, m, 16, 1);   // rounds: 3
  putitf(-2.5, m, 16, 2);  // -2.5 + 0.5 truncated: -2
  putitf(7.25, m, 96, 2);
  EXPECT_EQ(getitm(m, 16, 1), 3);
  EXPECT_EQ(getitm(m, 16, 2), -2);
  EXPECT_EQ(getitf(m, 96, 2), 7.25);
  EXPECT_EQ(getitm(m, 96, 2), 7);
  putitm(0x1FF, m, 8, 0);
  EXPECT_EQ(getitm(m, 8, 0), 0xFF);
  EXPECT_EQ(getitm(m, 264, 0), 0);  // no such code here

  // getelm and putelm read and write exactly the item.
  uint8_t w[8];
  std::memset(w, 0xEE, sizeof w);
  putelm(300, w + 1, 8);
  putelm(-70000, w + 2, 16);
  EXPECT_EQ(w[0], 0xEE);
  EXPECT_EQ(w[1], 255);
  EXPECT_EQ(u16(w + 2), static_cast<uint16_t>(-32767));
  EXPECT_EQ(w[4], 0xEE);
  EXPECT_EQ(getelm(w + 2, 16), -32767);
  putelm(1e12, w + 4, 32);
  EXPECT_EQ(static_cast<int32_t>(u32(w + 4)), 2147400000);
}

TEST_F(Var, MemxfrStaysInsideTheWordMemory) {
  int32_t a = 0;
  ASSERT_GT(getstk(&a, 4, 4, 1, 0), 0);
  const char text[] = "abcdefghijklmno";
  EXPECT_EQ(memxfr(a, 0, const_cast<char*>(text), 16, 2), 0);
  char out[8] = {};
  EXPECT_EQ(memxfr(a, 3, out, 4, 0), 0);
  EXPECT_EQ(std::string(out, 4), "defg");
  EXPECT_EQ(memxfr(-1, 0, out, 4, 0), -1);
  EXPECT_EQ(memxfr(lstk.end - 1, 0, out, 8, 0), -1);
  EXPECT_EQ(memxfr(HIMEM_BASE, 0, out, 4, 0), -1);  // no high memory
  putstk(a, 0, 0);
}

// ---------------------------------------------------------------------------
// Preparing records and walking windows.

TEST_F(Var, ImageWindowWrittenAndReadPartByPart) {
  int32_t e = decl("img", K_IMAGE, 16);
  make(e, 50, 10, 5);
  ASSERT_EQ(state & ST_ERROR, 0);
  SymEnt* s = symptr(e);
  EXPECT_EQ(s->value, 50u);
  const uint32_t* h = wordp(s->data);
  EXPECT_EQ(h[0], 10u);
  EXPECT_EQ(h[1], 5u);
  EXPECT_EQ(h[3], static_cast<uint32_t>(s->data + 5));

  // Write the whole image: 0, 1, 2, ...
  PtrRec* w = rec(e);
  int32_t c, p, t, ws;
  EXPECT_EQ(gtvarb(w, &c, &p, &t, &ws, 115), K_IMAGE | K_NAMED);
  EXPECT_EQ(c, 50);
  EXPECT_EQ(t, 50);
  EXPECT_EQ(ws, 16);
  for (int32_t i = 0; i < c; i++) {
    if (i >= p) DMPVRB(w, &p, 1, i);
    PSTACK(i, w);
  }
  DMPVRB(w, &p, 0, 0);

  // A window (2,1) of 3 by 2: parts never run past the window's rows.
  PtrRec* q = rec(e);
  window(q, 2, 1, 3, 2);
  EXPECT_EQ(gtvarb(q, &c, &p, &t, &ws, 0), K_IMAGE | K_NAMED);
  EXPECT_EQ(c, 6);
  EXPECT_EQ(p, 3);
  std::vector<double> got;
  for (int32_t i = 0; i < c; i++) {
    if (i >= p) LDVARB(q, &p, i);
    got.push_back(GSTACK(q));
  }
  EXPECT_EQ(got, (std::vector<double>{12, 13, 14, 22, 23, 24}));

  // Writing through the window leaves everything around it.
  window(q, 2, 1, 3, 2);
  q->Bufsiz = 0;
  EXPECT_EQ(gtvarb(q, &c, &p, &t, &ws, 115), K_IMAGE | K_NAMED);
  for (int32_t i = 0; i < c; i++) {
    if (i >= p) DMPVRB(q, &p, 1, i);
    PSTACK(-1, q);
  }
  DMPVRB(q, &p, 0, 0);
  const int16_t* items = static_cast<const int16_t*>(stkptr(h[3]));
  for (int i = 0; i < 50; i++) {
    bool in = i % 10 >= 2 && i % 10 < 5 && i / 10 >= 1 && i / 10 < 3;
    EXPECT_EQ(items[i], in ? -1 : i) << i;
  }
  // The entry was marked as written.
  EXPECT_EQ(symptr(e)->nlen & 0xF0, 0xF0);

  // Positions: setpos inside, outside; clpoff.
  q->Length = 6;
  uint8_t* a = setpos(q, 4);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(q->XYZptr[0], 3u);
  EXPECT_EQ(q->XYZptr[1], 2u);
  EXPECT_EQ(a, reinterpret_cast<const uint8_t*>(items + 23));
  EXPECT_EQ(setpos(q, 6), nullptr);
  EXPECT_NE(state & ST_ERROR, 0);
  EXPECT_EQ(q->XYZptr[0], 2u);  // back at the origin
  state = 0;
  q->XYZptr[0] = 9, q->XYZptr[1] = 0;
  EXPECT_EQ(clpoff(q, 0), 2);
  EXPECT_EQ(q->XYZptr[0], 4u);  // the last column of the window
  EXPECT_EQ(q->XYZptr[1], 1u);
  EXPECT_EQ(clpoff(q, 0), 0);
  EXPECT_EQ(setxy(q, 1, 1, 1), reinterpret_cast<const uint8_t*>(items + 23));
}

TEST_F(Var, VectorComponentsAsArrays) {
  // A plain vector keeps its 8 bytes in the entry's first two words.
  int32_t e = putsym(0, "v", 1, 0x1103, 0, 0, 136);
  int16_t xyz[3] = {11, -22, 33};
  SymEnt* s = symptr(e);
  memcpy(s, xyz, 6);
  reinterpret_cast<uint8_t*>(s)[6] = 0x5A;
  reinterpret_cast<uint8_t*>(s)[7] = 0x77;

  PtrRec* r = rec(e);
  r->Addr = static_cast<uint32_t>(e);
  r->Length = 1;
  window(r, 1, 0, 1, 1);
  int32_t c, p, t, w;
  int kind = gtvarb(r, &c, &p, &t, &w, 0);
  EXPECT_EQ(kind & (K_VECTOR | K_ARRAY), K_ARRAY);
  EXPECT_EQ(w, 16);
  EXPECT_EQ(c, 1);
  EXPECT_GE(p, 1);
  EXPECT_EQ(GSTACK(r), -22);

  PtrRec* n = rec(e);
  n->Addr = static_cast<uint32_t>(e);
  window(n, 4, 0, 1, 1);
  gtvarb(n, &c, &p, &t, &w, 0);
  EXPECT_EQ(w, 520);
  EXPECT_EQ(GSTACK(n), 5);

  PtrRec* b = rec(e);
  b->Addr = static_cast<uint32_t>(e);
  window(b, 5, 0, 1, 1);
  gtvarb(b, &c, &p, &t, &w, 0);
  EXPECT_EQ(w, 8);
  EXPECT_EQ(GSTACK(b), 0x77);

  PtrRec* bad = rec(e);
  bad->Addr = static_cast<uint32_t>(e);
  window(bad, 2, 0, 2, 1);
  EXPECT_EQ(gtvarb(bad, &c, &p, &t, &w, 0), 0);
  EXPECT_EQ(c, 0);
  EXPECT_NE(state & ST_ERROR, 0);
}

TEST_F(Var, ErrorsOfPreparation) {
  int32_t c = 1, p = 1, t = 1, w = 1;
  EXPECT_EQ(gtvarb(nullptr, &c, &p, &t, &w, 0), 0);
  EXPECT_EQ(c, 0);
  LDVARB(nullptr, &p, 0);
  EXPECT_NE(state & ST_ERROR, 0);
  state = 0;

  int32_t e = decl("nows", K_ARRAY, 0);
  PtrRec* r = rec(e);
  gtvarb(r, &c, &p, &t, &w, 0);
  EXPECT_NE(state & ST_ERROR, 0);  // word size 0
  EXPECT_EQ(c, 0);
  state = 0;

  // A device variable that no device serves: count 0, no error.
  PtrRec* d = putptr(K_ARRAY, 0, nullptr, 0, 8, 1);
  d->Idx = 97;
  EXPECT_EQ(gtvarb(d, &c, &p, &t, &w, 0), K_ARRAY);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Var, PagedHighMemoryPartsStayInsideAPage) {
  himemflag = 2;
  ASSERT_EQ(highmem(256), 0);
  ASSERT_GT(hstk.end, HIMEM_BASE);
  int32_t e = decl("big", K_ARRAY, 96, 0x4000);
  make(e, 20000);
  ASSERT_EQ(state & ST_ERROR, 0);
  SymEnt* s = symptr(e);
  ASSERT_GE(s->data, HIMEM_BASE);

  PtrRec* w = rec(e);
  int32_t c, p, t, ws;
  gtvarb(w, &c, &p, &t, &ws, 115);
  EXPECT_EQ(c, 20000);
  for (int32_t i = 0; i < c; i++) {
    if (i >= p) {
      DMPVRB(w, &p, 1, i);
      // A part is contiguous memory: it never crosses a 16-KB page.
      int32_t first = (w->Dptr - 4 * HIMEM_BASE) / 16384;
      int32_t last = (w->Dptr + 4 * (p - i) - 1 - 4 * HIMEM_BASE) / 16384;
      EXPECT_EQ(first, last) << "part at " << i;
      EXPECT_LE(p - i, 4096);
    }
    PSTACK(i * 0.5, w);
  }
  DMPVRB(w, &p, 0, 0);

  PtrRec* q = rec(e);
  gtvarb(q, &c, &p, &t, &ws, 0);
  EXPECT_LE(p, 4096);
  double sum = 0;
  for (int32_t i = 0; i < c; i++) {
    if (i >= p) LDVARB(q, &p, i);
    double v = GSTACK(q);
    if (v != i * 0.5) {
      ADD_FAILURE() << "item " << i << " reads " << v;
      break;
    }
    sum += v;
  }
  EXPECT_EQ(sum, 0.5 * 20000.0 * 19999.0 / 2.0);
}

TEST_F(Var, BitArrayWindowStartsInsideAByte) {
  int32_t e = decl("bits", K_ARRAY, 1);
  make(e, 20);
  uint8_t* d = static_cast<uint8_t*>(stkptr(symptr(e)->data));
  d[0] = 0xF0, d[1] = 0x0F, d[2] = 0xA0;
  PtrRec* r = rec(e);
  window(r, 3, 0, 10, 0);
  int32_t c, p, t, w;
  gtvarb(r, &c, &p, &t, &w, 0);
  EXPECT_EQ(c, 10);
  EXPECT_EQ(t, 20);
  EXPECT_EQ(r->Bitp, 3);
  std::string got;
  for (int32_t i = 0; i < c; i++) {
    if (i >= p) LDVARB(r, &p, i);
    got += GSTACK(r) ? '1' : '0';
  }
  EXPECT_EQ(got, "1000000001");

  PtrRec* q = rec(e);
  window(q, 6, 0, 5, 0);
  gtvarb(q, &c, &p, &t, &w, 115);
  for (int32_t i = 0; i < c; i++) {
    if (i >= p) DMPVRB(q, &p, 1, i);
    PSTACK(i & 1, q);
  }
  DMPVRB(q, &p, 0, 0);
  EXPECT_EQ(d[0], 0xF1);  // bits 6, 7: 0, 1
  EXPECT_EQ(d[1], 0x4F);  // bits 8 to 10: 0, 1, 0
  EXPECT_EQ(d[2], 0xA0);
}

TEST_F(Var, NumberOutsideTheStackReadAndStoredBack) {
  // A number declared over a cell outside the word memory (flag 4).
  static int16_t cell = 321;
  int32_t ref = holdptr(&cell);
  int32_t e = putsym(0, "cell", 4, 0x1015, 0, 1, 16);
  symptr(e)->data = ref;  // putsym keeps no negative address
  PtrRec* r = rec(e);
  r->Addr = static_cast<uint32_t>(ref);
  int32_t c, p, t, w;
  EXPECT_EQ(gtvarb(r, &c, &p, &t, &w, 0), K_CONST);  // fetched now
  EXPECT_EQ(GSTACK(r), 321);

  PtrRec* q = rec(e);
  q->Addr = static_cast<uint32_t>(ref);
  EXPECT_EQ(gtvarb(q, &c, &p, &t, &w, 115), 0x1014);
  EXPECT_EQ(p, 1);
  PSTACK(1234.7, q);
  EXPECT_EQ(cell, 321);  // not yet
  DMPVRB(q, &p, 0, 0);
  EXPECT_EQ(cell, 1234);
  PSTACK(99999, q);  // wraps in the item, then stored through toi16
  DMPVRB(q, &p, 0, 0);
  EXPECT_EQ(cell, static_cast<int16_t>(99999 & 0xFFFF));
  EXPECT_EQ(symptr(e)->nlen & 0xF0, 0xF0);
  dropptr(ref);
}

TEST_F(Var, ArrayOutsideTheWordMemory) {
  // A core array over memory the word memory does not hold: its data is
  // reached through a held-pointer reference; Dptr counts bytes from it.
  static int16_t outside[12];
  for (int i = 0; i < 12; i++) outside[i] = static_cast<int16_t>(i * 10);
  int32_t ref = holdptr(outside);
  int32_t e = putsym(0, "ext", 3, 0x1045, 0, 12, 16);
  symptr(e)->data = ref;
  PtrRec* r = rec(e);
  r->Addr = static_cast<uint32_t>(ref);
  window(r, 4, 0, 5, 0);
  int32_t c, p, t, w;
  gtvarb(r, &c, &p, &t, &w, 0);
  EXPECT_EQ(r->Data0, ref);
  EXPECT_EQ(r->Dptr, 8);
  EXPECT_EQ(c, 5);
  EXPECT_EQ(p, 5);
  for (int i = 0; i < 5; i++) EXPECT_EQ(GSTACK(r), (4 + i) * 10);

  PtrRec* q = rec(e);
  q->Addr = static_cast<uint32_t>(ref);
  window(q, 10, 0, 0, 0);
  gtvarb(q, &c, &p, &t, &w, 115);
  EXPECT_EQ(c, 2);
  IPSTAK(-5, q);
  IPSTAK(70000, q);
  DMPVRB(q, &p, 0, 0);
  EXPECT_EQ(outside[10], -5);
  EXPECT_EQ(outside[11], 32767);
  EXPECT_EQ(outside[9], 90);

  // Releasing the variable leaves memory it does not own alone.
  erasvb(symptr(e));
  EXPECT_EQ(outside[0], 0);
  dropptr(ref);
}
