// Pointer records and variable storage: companions, windows, buffers,
// lists, storage made and erased again with the block chains left whole.
#include "varbl_fixture.h"

#include <cstdio>
#include <vector>

#include "core/units.h"

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

// The record dump as written to a file unit made the listing unit.
std::string listed(const PtrRec* r) {
  std::string path = ::testing::TempDir() + "shoptr.txt";
  int u = openf(path.c_str(), 0x08 | 0x80, 0);
  EXPECT_GT(u, 0);
  int16_t keep = lstlun;
  lstlun = static_cast<int16_t>(u);
  shoptr(r);
  lstlun = keep;
  closef(u, 0);
  std::string out;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
  }
  remove(path.c_str());
  return out;
}

bool inuse(int32_t data) {
  int32_t h = fndstk(data);
  return h > 0 && wordp(h)[1] != 0;
}

uint32_t hdrsize(int32_t data) { return wordp(data - 2)[0]; }
uint32_t owner(int32_t data) { return wordp(data - 2)[1] & BLK_OWNER; }

}  // namespace

TEST_F(Var, PutptrMakesTheCompanions) {
  uint32_t dims[3] = {20, 10, 1};
  PtrRec* r = putptr(K_FILE | K_IMAGE, 4096, dims, 2, 8, 0);
  ASSERT_NE(r, nullptr);
  int32_t self = stkadr(r);
  EXPECT_EQ(r->PTR, static_cast<uint32_t>(self));
  EXPECT_EQ(r->Stack, r->PTR);  // headed
  EXPECT_EQ(r->Flg, K_FILE | K_IMAGE);
  EXPECT_EQ(r->Wsiz, 8);
  EXPECT_EQ(r->Datdims[0], 20u);
  EXPECT_EQ(r->Datdims[1], 10u);
  ASSERT_NE(filrec(r), nullptr);
  ASSERT_NE(bufrec(r), nullptr);
  EXPECT_EQ(filrec(r)->Ptr, static_cast<uint32_t>(r->Filp));
  EXPECT_EQ(bufrec(r)->Rsiz, 4096);
  EXPECT_EQ(bufrec(r)->Bflg, 2);
  EXPECT_EQ(hdrsize(self), 32u);  // 120 bytes + header
  EXPECT_EQ(hdrsize(r->Filp), 72u);
  EXPECT_EQ(hdrsize(r->Bufp), 28u);

  PtrRec* s = putptr(K_ARRAY, 0, nullptr, 0, 16, 1);
  EXPECT_EQ(s->Stack, 0u);  // scratch
  EXPECT_EQ(s->Bufp, 0);
  EXPECT_EQ(s->Filp, 0);

  freptr(r);
  EXPECT_EQ(r->Bufp, 0);
  EXPECT_EQ(r->Filp, 0);
  frebuf(r);
  EXPECT_TRUE(chain());
  EXPECT_EQ(lstk.freew, freew);
}

TEST_F(Var, WindowsAndStepping) {
  uint32_t dims[3] = {10, 5, 1};
  PtrRec* r = putptr(K_IMAGE, 0, dims, 0, 8, 1);
  int32_t count = 50, part = 0;
  window(r, 8, 0, 0, 0);
  EXPECT_EQ(chkoff(r, K_IMAGE, &count, &part, 0, r->Offs), 10);
  EXPECT_EQ(r->Offs[3], 2u);
  EXPECT_EQ(r->Offs[4], 5u);
  EXPECT_EQ(r->XYZptr[0], 8u);
  EXPECT_EQ(part, 2);  // one window row per block

  window(r, 10, 0, 0, 0);
  EXPECT_EQ(chkoff(r, K_IMAGE, &count, &part, 0, r->Offs), 0);

  // An unknown size: the window must say how many items it needs.
  PtrRec* a = putptr(K_ARRAY, 0, nullptr, 0, 8, 1);
  window(a, 0, 0, 7, 0);
  count = 0;
  part = 0;
  EXPECT_EQ(chkoff(a, K_ARRAY, &count, &part, 0, a->Offs), 7);
  EXPECT_EQ(count, -7);

  // Stepping with carries; the window is done when the last axis wraps.
  window(r, 0, 0, 4, 3);
  r->XYZptr[0] = 3, r->XYZptr[1] = 2;
  r->Bufsiz = 1;
  EXPECT_EQ(movptr(r), 0);
  EXPECT_EQ(r->XYZptr[0], 0u);
  EXPECT_EQ(r->XYZptr[1], 0u);
  r->Bufsiz = 6;
  EXPECT_EQ(movptr(r), 1);
  EXPECT_EQ(r->XYZptr[0], 2u);
  EXPECT_EQ(r->XYZptr[1], 1u);
  r->Bufsiz = 6;  // exactly to the end
  EXPECT_EQ(movptr(r), 0);
  EXPECT_EQ(r->XYZptr[0], 0u);
  EXPECT_EQ(r->XYZptr[1], 0u);
  // A whole one-dimensional window in one part is done at once.
  window(a, 0, 0, 7, 0);
  a->XYZptr[0] = 0;
  a->Bufsiz = 7;
  EXPECT_EQ(movptr(a), 0);
}

TEST_F(Var, ChgbufThreeBuffersOrOne) {
  PtrRec* r = putptr(K_ARRAY, 512, nullptr, 0, 8, 0);
  EXPECT_EQ(chgbuf(r, 3410, 0), 3410);
  BufRec* b = bufrec(r);
  EXPECT_EQ(b->Actv & 0x40, 0);
  int32_t a = static_cast<int32_t>(r->Addr);
  EXPECT_EQ(hdrsize(a), 2560u);  // 10230 bytes: 2558 words and the header
  EXPECT_EQ(r->Rwds, 3410);
  EXPECT_EQ(r->Bufsiz, -1);
  EXPECT_EQ(b->B[0].Blk, -1);  // emptied

  EXPECT_EQ(chgbuf(r, 3411, 0), 3411);
  EXPECT_EQ(b->Actv & 0x40, 0x40);
  EXPECT_EQ(static_cast<int32_t>(r->Addr), a);  // fits the old block
  EXPECT_EQ(r->Rwds, 3411);

  r->Wsiz = 16;
  EXPECT_EQ(chgbuf(r, 8192, 0), 8192);
  EXPECT_NE(static_cast<int32_t>(r->Addr), a);
  EXPECT_EQ(r->Rwds, 4096);
  EXPECT_TRUE(chain());

  freptr(r);
  frebuf(r);
  EXPECT_TRUE(chain());
  EXPECT_EQ(lstk.freew, freew);

  // Without a buffer record nothing changes.
  PtrRec* n = putptr(K_ARRAY, 0, nullptr, 0, 8, 1);
  EXPECT_EQ(chgbuf(n, 100, 0), 0);
}

TEST_F(Var, SharedBuffersAreReleasedOnce) {
  // A buffer already marked shared gains one user per copy.
  PtrRec* a = putptr(K_ARRAY, 512, nullptr, 0, 8, 0);
  ASSERT_EQ(chgbuf(a, 512, 0), 512);
  a->Idx = 7;
  BufRec* b = bufrec(a);
  b->Pflg = 1;
  b->Lnks = 1;
  int32_t data = static_cast<int32_t>(a->Addr);
  PtrRec* c = putptr(0, 0, nullptr, 0, 0, 0);
  uint32_t cptr = c->PTR;
  ptrvrb(a, c);
  EXPECT_EQ(c->PTR, cptr);  // keeps its own address
  EXPECT_EQ(c->Stack, cptr);
  EXPECT_EQ(c->Bufp, a->Bufp);
  EXPECT_EQ(b->Lnks, 2);
  freptr(a);
  EXPECT_EQ(b->Lnks, 1);
  EXPECT_TRUE(inuse(data));  // the other user still has it
  freptr(c);
  EXPECT_FALSE(inuse(data));
  frebuf(a);
  frebuf(c);
  EXPECT_TRUE(chain());
  EXPECT_EQ(lstk.freew, freew);

  // An unshared buffer becomes shared by both records.
  PtrRec* d = putptr(K_ARRAY, 512, nullptr, 0, 8, 0);
  chgbuf(d, 512, 0);
  PtrRec* e = putptr(0, 0, nullptr, 0, 0, 0);
  ptrvrb(d, e);
  EXPECT_EQ(bufrec(d)->Pflg, 1);
  EXPECT_EQ(bufrec(d)->Lnks, 2);
  freptr(d);
  freptr(e);
  frebuf(d);
  frebuf(e);
  EXPECT_TRUE(chain());
  EXPECT_EQ(lstk.freew, freew);

  // Scratch data cannot be shared: the copy gets buffers of its own.
  PtrRec* f = putptr(K_ARRAY, 512, nullptr, 0, 8, 1);
  ASSERT_EQ(chgbuf(f, 512, 1), 512);
  ASSERT_LT(static_cast<int32_t>(f->Addr), lstk.lowest);
  PtrRec* g = putptr(0, 0, nullptr, 0, 0, 0);
  ptrvrb(f, g);
  EXPECT_NE(g->Bufp, f->Bufp);
  EXPECT_NE(g->Addr, f->Addr);
  EXPECT_EQ(bufrec(g)->Lnks, 1);
  EXPECT_EQ(owner(static_cast<int32_t>(g->Addr)), static_cast<uint32_t>(stkadr(g) + 3));
  freptr(g);
  frebuf(g);
  EXPECT_TRUE(chain());
}

TEST_F(Var, StringListElementsAndWindows) {
  int32_t e = decl("names", K_STRING | K_LIST, 8);
  freew = lstk.freew;
  PtrRec* r = rec(e);
  window(r, 2, 0, 1, 0);
  int32_t count = -1;
  makvar(r, nullptr, &count, 6, 0, 8);
  ASSERT_EQ(count, 6);
  SymEnt* s = symptr(e);
  EXPECT_EQ(s->value, 6u);  // table of max(origin + 1, 6) slots
  ASSERT_GT(s->data, 0);
  const uint32_t* t = wordp(s->data);
  ASSERT_NE(t[2], 0u);
  EXPECT_EQ(t[0] | t[1] | t[3], 0u);
  EXPECT_EQ(owner(s->data + static_cast<int32_t>(t[2])), static_cast<uint32_t>(s->data + 2));
  memcpy(dptr(r), "abcdef", 6);

  // A window inside the element: "cde", the element keeps its tail.
  PtrRec* q = rec(e);
  q->Datdims[0] = 6;
  window(q, 2, 2, 1, 3);
  int32_t len = 0;
  const uint8_t* p = lstptr(q, 2, &len, 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(len, 3);
  EXPECT_STREQ(reinterpret_cast<const char*>(p), "cde");
  p = lstptr(nullptr, 2, &len, s->data);
  EXPECT_EQ(len, 6);
  EXPECT_STREQ(reinterpret_cast<const char*>(p), "abcdef");
  EXPECT_EQ(lstptr(nullptr, 3, &len, s->data), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(lstptr(nullptr, 6, &len, s->data), nullptr);

  // Reading the list: element lengths add up.
  maklst(-s->data, 2, 4);
  memcpy(stkptr(s->data + static_cast<int32_t>(t[4])), "\002xy", 3);
  PtrRec* all = rec(e);
  window(all, 0, 0, 6, 0);
  int32_t c, pt, tot, w;
  gtvarb(all, &c, &pt, &tot, &w, 0);
  EXPECT_EQ(c, 8);
  EXPECT_EQ(tot, 6);
  std::string text;
  for (int32_t i = 0; i < c; i++) {
    while (i >= pt) LDVARB(all, &pt, i);
    text += static_cast<char>(GSTACK(all));
  }
  EXPECT_EQ(text, "abcdefxy");

  // A shorter element is made anew only when it does not fit.
  maklst(-s->data, 10, 4);
  p = lstptr(nullptr, 4, &len, s->data);
  EXPECT_EQ(len, 10);
  lstdel(-s->data, 2);
  EXPECT_EQ(t[2], 0u);
  erasvb(s);
  EXPECT_EQ(s->value, 0u);
  EXPECT_EQ(s->data, 0);
  EXPECT_TRUE(chain());
  EXPECT_EQ(lstk.freew, freew);
}

TEST_F(Var, StorageMadeAndErasedManyTimes) {
  int32_t a = decl("a", K_ARRAY, 32);
  int32_t m = decl("m", K_MATRIX, 16);
  int32_t l = decl("l", K_STRING | K_LIST, 8);
  highmem(64);  // flat high memory
  ASSERT_GT(hstk.end, HIMEM_BASE);
  int32_t h = decl("h", K_IMAGE, 8, 0x4000);
  int32_t hfree = hstk.freew;
  freew = lstk.freew;
  for (int i = 0; i < 150 && !HasFailure(); i++) {
    int32_t n = 1 + (i * 37) % 300;
    make(a, n);
    EXPECT_EQ(symptr(a)->value, static_cast<uint32_t>(n));
    make(m, n * 2, 2, static_cast<uint32_t>(n));
    EXPECT_EQ(wordp(symptr(m)->data)[1], static_cast<uint32_t>(n));
    make(h, 4096 + n, 1, static_cast<uint32_t>(4096 + n));
    int32_t hd = symptr(h)->data;
    EXPECT_LT(hd, HIMEM_BASE);  // the header stays low
    EXPECT_GE(static_cast<int32_t>(wordp(hd)[3]), HIMEM_BASE);
    PtrRec* r = rec(l);
    window(r, static_cast<uint32_t>(i % 5), 0, 1, 0);
    int32_t cnt = -1;
    makvar(r, nullptr, &cnt, 5, 0, 8);
    EXPECT_EQ(state & ST_ERROR, 0);
    ASSERT_TRUE(chain()) << "round " << i;
    CaptureStdout();
    chkstk(0);
    EXPECT_EQ(GetCapturedStdout(), "") << "round " << i;
    if (i % 3 == 2) {
      erasvb(symptr(a));
      erasvb(symptr(m));
      erasvb(symptr(l));
      erasvb(symptr(h));
      EXPECT_EQ(lstk.freew, freew) << "round " << i;
      EXPECT_EQ(hstk.freew, hfree) << "round " << i;
    }
    rststk();
  }
  erasvb(symptr(a));
  erasvb(symptr(m));
  erasvb(symptr(l));
  erasvb(symptr(h));
  EXPECT_TRUE(chain());
  EXPECT_EQ(lstk.freew, freew);
  EXPECT_EQ(hstk.freew, hfree);
}

// A number, a plain vector and a pointer variable each release exactly
// their own storage: a number's block is no pointer record.
TEST_F(Var, ErasingNumbersVectorsAndPointers) {
  int32_t n = decl("n", K_NUMBER, 96);
  int32_t v = decl("v", K_VECTOR, 136);
  int32_t p = decl("p", 0, 32);
  freew = lstk.freew;
  for (int32_t ent : {n, v}) {
    int32_t blk = 0;
    ASSERT_EQ(getstk(&blk, 8, 4, 1, 0), 8);
    std::memset(stkptr(blk), 0x7F, 32);  // a value, not a record
    ptrstk(blk, ent + 4);                // owned by the entry's data word
    symptr(ent)->data = blk;
  }
  PtrRec* target = putptr(K_ARRAY, 0, nullptr, 0, 16, false);
  symptr(p)->data = stkadr(target);
  erasvb(symptr(n));
  erasvb(symptr(v));
  erasvb(symptr(p));
  EXPECT_EQ(symptr(n)->data, 0);
  EXPECT_EQ(symptr(v)->data, 0);
  EXPECT_EQ(symptr(p)->data, 0);
  EXPECT_TRUE(chain());
  EXPECT_EQ(lstk.freew, freew);
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Var, AssignmentRefusals) {
  PtrRec* k = putptr(0, 0, nullptr, 0, 96, 1);
  setrec(k, K_CONST, -1, 0, 96, 1);
  EXPECT_EQ(asnvrb(k, 5, nullptr, 0), -2);
  EXPECT_NE(state & ST_ERROR, 0);
  state = 0;

  int32_t e = decl("v", K_ARRAY, 8);
  freew = lstk.freew;
  make(e, 10);
  PtrRec* r = rec(e);
  window(r, 0, 0, 5, 0);
  EXPECT_EQ(asnvrb(r, 8, nullptr, 0), -2);  // a window smaller than the items
  EXPECT_NE(state & ST_ERROR, 0);
  state = 0;
  PtrRec* q = rec(e);
  window(q, 0, 0, 5, 0);
  EXPECT_EQ(asnvrb(q, 4, nullptr, 2), 1);  // in place, it fits
  // A whole variable of another size is made anew.
  PtrRec* w = rec(e);
  EXPECT_EQ(asnvrb(w, 12, nullptr, 0), 0);
  EXPECT_EQ(symptr(e)->value, 12u);
  EXPECT_EQ(state & ST_ERROR, 0);
  erasvb(symptr(e));
  EXPECT_TRUE(chain());
  EXPECT_EQ(lstk.freew, freew);
}

TEST_F(Var, WholeListElementHoldsTheItems) {
  // A list of float arrays selected as a whole takes an element of n items,
  // not of n bytes.
  int32_t e = decl("fl", K_ARRAY | K_LIST, 96);
  PtrRec* r = rec(e);
  window(r, 0, 0, 3, 0);
  int32_t count = -1;
  makvar(r, nullptr, &count, 3, 0, 96);
  ASSERT_GT(symptr(e)->data, 0);
  PtrRec* q = rec(e);
  q->Flg |= 1;
  window(q, 1, 0, 1, 5);
  EXPECT_EQ(asnvrb(q, 5, nullptr, 0), 0);
  int32_t c, part, tot, w;
  gtvarb(q, &c, &part, &tot, &w, 115);
  EXPECT_EQ(part, 5);
  for (int i = 0; i < part; i++) PSTACK(i + 0.5, q);
  PtrRec* v = rec(e);
  int32_t len = 0;
  const auto* p = reinterpret_cast<const float*>(lstptr(v, 1, &len, 0));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(len, 5);
  for (int i = 0; i < 5; i++) EXPECT_EQ(p[i], i + 0.5f);
  EXPECT_TRUE(chain());
}

TEST_F(Var, NumbersAndArraysRead) {
  int32_t e = decl("s", K_ARRAY, 16);
  make(e, 4);
  int16_t* items = static_cast<int16_t*>(stkptr(symptr(e)->data));
  items[0] = 5, items[1] = -300, items[2] = static_cast<int16_t>(0x8000), items[3] = 7;
  PtrRec* q = rec(e);
  EXPECT_EQ(getnum(q, 99), 5);
  float f[4];
  PtrRec* g = rec(e);
  EXPECT_EQ(getarr(g, f, 10, 96), 4);
  EXPECT_EQ(f[1], -300);
  EXPECT_TRUE(f[2] == 0 && std::signbit(f[2]));
  uint8_t b[3];
  PtrRec* h = rec(e);
  EXPECT_EQ(getarr(h, b, 3, 8), 3);
  EXPECT_EQ(b[1], static_cast<uint8_t>(-300 & 0xFF));

  int32_t empty = decl("z", K_ARRAY, 16);
  EXPECT_EQ(getnum(rec(empty), 99), 99);
  erasvb(symptr(e));
}

TEST_F(Var, ShoptrListsTheRecord) {
  PtrRec* k = putptr(0, 0, nullptr, 0, 96, 1);
  float v = 2.5f;
  uint32_t bits;
  memcpy(&bits, &v, 4);
  setrec(k, K_CONST, -1, bits, 96, 1);
  k->Dptr = 40;
  std::string out = listed(k);
  std::string want = "PTR = " + std::to_string(k->PTR) +
                     "  Flg = 18.\n  Flg=\t022   o\tIdx= -1     Wsiz= 96  Dptr= 40 Value=      2.50\n";
  EXPECT_EQ(out, want);
  // An integer constant shows its value, not its bits read as a float.
  setrec(k, K_CONST, -1, static_cast<uint32_t>(-7), 32, 1);
  out = listed(k);
  EXPECT_NE(out.find("Wsiz= 32  Dptr= 40 Value=     -7.00\n"), std::string::npos) << out;

  CaptureStdout();
  shoptr(nullptr);
  EXPECT_EQ(GetCapturedStdout(), "NULL Pointer\n");

  uint32_t dims[3] = {3, 2, 1};
  PtrRec* m = putptr(K_MATRIX, 0, dims, 0, 16, 1);
  m->Idx = -1;
  m->Length = 6;
  window(m, 0, 0, 3, 2);
  out = listed(m);
  EXPECT_NE(out.find("  Flg=\t0200  o\tIdx= -1     Wsiz= 16  Dptr= 0 Addr= 0       Rwds= 0\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\n\tLength= 6         Offs:      0      0      0      3      2      0\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("  Datdims:         3         2         1\n"), std::string::npos) << out;
}

TEST_F(Var, BlockBuffersInOrderOfUse) {
  // Transfers succeed (no device behind the record).
  blkio = [](PtrRec*, int, int) { return 0; };
  uint32_t dims[3] = {64, 1, 1};
  PtrRec* r = putptr(K_ARRAY, 16, dims, 0, 8, 1);
  r->Idx = 97;  // a device variable
  ASSERT_EQ(chgbuf(r, 16, 0), 16);
  window(r, 0, 0, 64, 1);
  r->Ndims = 1;
  r->Tot = 64;
  BufRec* b = bufrec(r);
  b->Bksiz = 16;
  for (uint32_t x : {0u, 16u, 32u}) {
    r->XYZptr[0] = x;
    blkadr(r, 1);
  }
  // Blocks 1, 2, 3 are in the buffers, 3 the most recent; 4 evicts 1.
  int slot1 = -1;
  for (int i = 0; i < 3; i++)
    if (b->B[i].Blk == 1) slot1 = i;
  ASSERT_GE(slot1, 0);
  r->XYZptr[0] = 48;
  uint8_t* p = blkadr(r, 1);
  EXPECT_EQ(b->B[slot1].Blk, 4);
  EXPECT_EQ(b->Actv & 3, slot1);
  EXPECT_EQ(p, dat0(r) + slot1 * 16);
  EXPECT_EQ(sizbuf(r), 16);

  // A hit inside a block: the items to the block's end.
  r->XYZptr[0] = 20;
  p = blkadr(r, 2);
  EXPECT_EQ(sizbuf(r), 12);
  int cur = b->Actv & 3;
  EXPECT_EQ(b->B[cur].Blk, 2);
  EXPECT_EQ(b->F[cur], 2);
  EXPECT_EQ(p, dat0(r) + cur * 16 + 4);

  // A window narrower than the block stops at the window's edge.
  window(r, 20, 0, 6, 1);
  EXPECT_EQ(sizbuf(r), 6);

  // After an interrupt changed buffers are not written back.
  state = ST_INTR;
  flshio(r);
  EXPECT_EQ(b->F[cur], 2);
  state = 0;
  flshio(r);
  EXPECT_EQ(b->F[cur], 0);

  // Without a buffer record sizbuf reports error 71.
  PtrRec* n = putptr(K_ARRAY, 0, nullptr, 0, 8, 1);
  EXPECT_EQ(sizbuf(n), 0);
  EXPECT_NE(state & ST_ERROR, 0);
  freptr(r);
  blkio = nullptr;
}

TEST_F(Var, WritesReadBlocksThatLeaveTheWindow) {
  // 100 items in blocks of 64: a window from item 10 covers block 1 only in
  // part, so a write must read that block first; block 2 ends the data.
  uint32_t dims[3] = {100, 1, 1};
  PtrRec* r = putptr(K_ARRAY, 64, dims, 0, 8, 1);
  ASSERT_EQ(chgbuf(r, 64, 0), 64);
  window(r, 0, 0, 100, 1);
  EXPECT_TRUE(blkwin(r, 1));
  EXPECT_TRUE(blkwin(r, 2));
  window(r, 10, 0, 90, 1);
  EXPECT_FALSE(blkwin(r, 1));
  EXPECT_TRUE(blkwin(r, 2));
  window(r, 0, 0, 70, 1);
  EXPECT_TRUE(blkwin(r, 1));
  EXPECT_FALSE(blkwin(r, 2));
  // Blocks that follow the window hold window items only.
  bufrec(r)->Bflg = 2;
  EXPECT_TRUE(blkwin(r, 1));
  freptr(r);

  // 10 x 10 items in blocks of three rows.
  uint32_t d2[3] = {10, 10, 1};
  PtrRec* m = putptr(K_IMAGE, 30, d2, 0, 8, 1);
  ASSERT_EQ(chgbuf(m, 30, 0), 30);
  window(m, 0, 2, 10, 8);  // rows 2 to 9
  EXPECT_FALSE(blkwin(m, 1));  // rows 0 to 2
  EXPECT_TRUE(blkwin(m, 2));   // rows 3 to 5
  EXPECT_TRUE(blkwin(m, 4));   // row 9, the end of the data
  window(m, 0, 0, 5, 10);      // half of every row
  EXPECT_FALSE(blkwin(m, 2));
  window(m, 0, 0, 0, 0);       // extents of 0: the rest of the data
  EXPECT_TRUE(blkwin(m, 3));
  freptr(m);
}

namespace {

// A list of vectors as declare makes it: the entry holds a pointer record
// whose block holds the 8-byte records; rec[i] = i + 1 in its first byte.
int32_t veclist(int32_t e, uint32_t n) {
  PtrRec* p = putptr(K_NAMED | K_VECTOR | K_MATRIX, 0, nullptr, 0, W_VEC, 0);
  int32_t blk = 0;
  EXPECT_GT(getstk(&blk, static_cast<int32_t>(n) * 2, 4, 1, 0), 0);
  auto* b = static_cast<uint8_t*>(stkptr(blk));
  std::memset(b, 0, n * 8);
  for (uint32_t i = 0; i < n; i++) b[i * 8] = static_cast<uint8_t>(i + 1);
  p->Idx = e;
  p->Addr = static_cast<uint32_t>(blk);
  p->Data0 = bytadr(blk);
  p->Length = static_cast<int32_t>(n);
  p->Tot = p->Datdims[0] = n;
  p->Datdims[1] = p->Datdims[2] = 1;
  ptrstk(blk, static_cast<int32_t>(p->PTR) + PR_ADDR);
  SymEnt* s = symptr(e);
  s->data = static_cast<int32_t>(p->PTR);
  s->value = n;
  return blk;
}

// The operand record of the list: a scratch copy of its pointer record.
PtrRec* vlcopy(int32_t e) {
  PtrRec* p = ptrrec(symptr(e)->data);
  PtrRec* r = putptr(0, 0, nullptr, 0, 0, 1);
  uint32_t self = r->PTR;
  std::memcpy(r, p, sizeof(PtrRec));
  r->PTR = self;
  r->Stack = 0;
  return r;
}

}  // namespace

TEST_F(Var, ListOfVectorsRemadeOrKept) {
  int32_t e = decl("vl", K_VECTOR | K_MATRIX, W_VEC);
  veclist(e, 3);
  int32_t ptr = symptr(e)->data;
  int32_t c, part, tot, w;

  // Remade to 5 records under a hold, then the operation fails: the three
  // records come back as they were.
  {
    AsnHold outer = asnbeg();
    EXPECT_EQ(asnvrb(vlcopy(e), 5, nullptr, 0), 0);
    PtrRec* r = vlcopy(e);
    int kind = gtvarb(r, &c, &part, &tot, &w, 115);
    EXPECT_EQ(kind & (K_VECTOR | K_MATRIX), K_VECTOR | K_MATRIX);
    EXPECT_EQ(w, W_VEC);  // 8-byte records, not bytes
    EXPECT_EQ(c, 5);
    EXPECT_EQ(symptr(e)->data, ptr);  // the entry keeps its pointer record
    EXPECT_EQ(symptr(e)->value, 5u);
    const auto* nb = static_cast<const uint8_t*>(stkptr(static_cast<int32_t>(ptrrec(ptr)->Addr)));
    for (int i = 0; i < 40; i++) EXPECT_EQ(nb[i], 0) << i;
    asnend(outer, false);
  }
  EXPECT_EQ(symptr(e)->data, ptr);
  EXPECT_EQ(symptr(e)->value, 3u);
  PtrRec* p = ptrrec(ptr);
  EXPECT_EQ(p->Length, 3);
  EXPECT_EQ(owner(static_cast<int32_t>(p->Addr)), p->PTR + PR_ADDR);
  const auto* b = static_cast<const uint8_t*>(stkptr(static_cast<int32_t>(p->Addr)));
  for (int i = 0; i < 3; i++) EXPECT_EQ(b[i * 8], i + 1);
  gtvarb(vlcopy(e), &c, &part, &tot, &w, 115);
  EXPECT_EQ(c, 3);
  EXPECT_TRUE(chain());

  // A resize that succeeds keeps the new records; an unchanged count or a
  // window of fewer records remakes nothing.
  {
    AsnHold outer = asnbeg();
    EXPECT_EQ(asnvrb(vlcopy(e), 2, nullptr, 0), 0);
    asnend(outer, true);
  }
  EXPECT_EQ(symptr(e)->value, 2u);
  gtvarb(vlcopy(e), &c, &part, &tot, &w, 115);
  EXPECT_EQ(c, 2);
  int32_t blk = static_cast<int32_t>(ptrrec(ptr)->Addr);
  EXPECT_EQ(asnvrb(vlcopy(e), 2, nullptr, 0), 0);
  EXPECT_EQ(static_cast<int32_t>(ptrrec(ptr)->Addr), blk);
  PtrRec* win = vlcopy(e);
  window(win, 0, 1, 8, 1);
  EXPECT_EQ(asnvrb(win, 4, nullptr, 0), -2);  // error 59, nothing remade
  EXPECT_NE(state & ST_ERROR, 0);
  state = 0;
  EXPECT_EQ(symptr(e)->value, 2u);
  EXPECT_EQ(static_cast<int32_t>(ptrrec(ptr)->Addr), blk);
  EXPECT_TRUE(chain());
}
