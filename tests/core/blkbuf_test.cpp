// Block buffers over a stand-in file layer: a file-backed 16-bit image
// whose file is a vector of items, read and written block by block through
// the element access and the evaluator; failed transfers; parts that stop
// at a buffer's box; the table through which records share buffers.
#include "compute/expr.h"
#include "compute/qarith.h"
#include "core/element.h"
#include "tests/core/varbl_fixture.h"

namespace {

// The stand-in file: block k of a record holds items (k - 1) x Rwds on.
struct Fake {
  std::vector<int16_t> items;
  int reads = 0, writes = 0;
  bool failr = false, failw = false;
};
Fake fake;

int fakeio(PtrRec* r, int i, int dir) {
  BufRec* b = bufrec(r);
  auto* buf = reinterpret_cast<int16_t*>(dat0(r)) + static_cast<ptrdiff_t>(i) * r->Rwds;
  int64_t first = static_cast<int64_t>(b->B[i].Blk - 1) * r->Rwds;
  int64_t n = std::min<int64_t>(r->Rwds, static_cast<int64_t>(fake.items.size()) - first);
  if (first < 0 || n < 0) return -1;
  if (dir == 1) {
    if (fake.failr) return -1;
    std::memcpy(buf, fake.items.data() + first, static_cast<size_t>(n) * 2);
    fake.reads++;
  } else {
    if (fake.failw) return -1;
    std::memcpy(fake.items.data() + first, buf, static_cast<size_t>(n) * 2);
    fake.writes++;
  }
  return static_cast<int>(n * 2);
}

class Blk : public Var {
 protected:
  void SetUp() override {
    Var::SetUp();
    fake = Fake{};
    blkio = fakeio;
  }
  void TearDown() override {
    blkio = nullptr;
    optab = nullptr;
    Var::TearDown();
  }
  // A file-backed nx by ny image of 16-bit items on file unit `lun`, with
  // three buffers of `items` items each, prepared as the file layer would.
  static PtrRec* image(uint32_t nx, uint32_t ny, int items, int lun = 5) {
    uint32_t dims[3] = {nx, ny, 1};
    PtrRec* r = putptr(K_IMAGE | K_FILE, 2 * items, dims, 0, 16, 1);
    r->Idx = 0;
    filrec(r)->Lun = static_cast<uint8_t>(lun);
    EXPECT_EQ(chgbuf(r, 2 * items, 0), 2 * items);
    r->Length = static_cast<int32_t>(nx * ny);
    r->Tot = nx * ny;
    r->Ndims = 2;
    r->Wbyts = 2;
    window(r, 0, 0, nx, ny);
    r->Offs[5] = 1;
    r->Bufsiz = -1;  // set up: no file layer call on preparation
    return r;
  }
};

}  // namespace

TEST_F(Blk, ItemsThroughTheBuffers) {
  for (int i = 0; i < 60; i++) fake.items.push_back(static_cast<int16_t>(3 * i));
  PtrRec* r = image(10, 6, 20);
  std::vector<double> got = getitems(r), want;
  for (int i = 0; i < 60; i++) want.push_back(3 * i);
  EXPECT_EQ(got, want);
  EXPECT_EQ(fake.reads, 3);

  // Writing whole blocks reads none of them; the end writes every block.
  fake.reads = 0;
  putitems(r, 60, [](int32_t i) { return 1000 - i; });
  EXPECT_EQ(fake.reads, 0);
  for (int i = 0; i < 60; i++) ASSERT_EQ(fake.items[static_cast<size_t>(i)], 1000 - i) << i;

  // A window raised by one through the evaluator (the operand is the
  // destination through the same record: a temporary, then the copy):
  // the items outside the window survive.
  optab = nullptr;
  window(r, 2, 1, 5, 3);
  savoff(r);
  rstbuf(r);  // as the file layer does when it sets a record up
  r->Bufsiz = -1;
  PtrRec* one = putptr(K_CONST, 0, nullptr, 0, 96, 1);
  one->Idx = -1;
  one->Length = 1;
  float f1 = 1.0f;
  std::memcpy(&one->Addr, &f1, 4);
  auto item = [](int code) {
    PtrRec* it = putptr(K_ARGS, 0, nullptr, 0, 2, 1);
    it->Idx = code;
    return static_cast<uint32_t>(stkadr(it));
  };
  auto* l = static_cast<uint32_t*>(getbuf(24));
  uint32_t rid = static_cast<uint32_t>(stkadr(r));
  l[0] = 5, l[1] = rid, l[2] = rid, l[3] = static_cast<uint32_t>(stkadr(one));
  l[4] = item(116), l[5] = item(115);
  EXPECT_GT(doexpr(stkadr(l)), 0);
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 10; x++) {
      int v = 1000 - (y * 10 + x);
      bool in = x >= 2 && x < 7 && y >= 1 && y < 4;
      ASSERT_EQ(fake.items[static_cast<size_t>(y * 10 + x)], in ? v + 1 : v) << x << "," << y;
    }
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Blk, FastPathsAsTheLoop) {
  // r = r * 300 over a window of a buffered image, blocks of 15 items
  // (boxes that start inside rows): the fast paths take the buffers part
  // by part and store what the element loop stores, clamping included.
  std::vector<int16_t> out[2];
  uint32_t done = qdone;
  for (int on = 0; on < 2; on++) {
    fake = Fake{};
    for (int i = 0; i < 60; i++) fake.items.push_back(static_cast<int16_t>(i * 7 - 100));
    rststk();
    optab = nullptr;
    qpaths = on != 0;
    PtrRec* r = image(10, 6, 15);
    window(r, 1, 1, 7, 4);
    savoff(r);
    rstbuf(r);
    PtrRec* k = putptr(K_CONST, 0, nullptr, 0, 96, 1);
    k->Idx = -1;
    k->Length = 1;
    float f = 300.0f;
    std::memcpy(&k->Addr, &f, 4);
    auto item = [](int code) {
      PtrRec* it = putptr(K_ARGS, 0, nullptr, 0, 2, 1);
      it->Idx = code;
      return static_cast<uint32_t>(stkadr(it));
    };
    auto* l = static_cast<uint32_t*>(getbuf(24));
    uint32_t rid = static_cast<uint32_t>(stkadr(r));
    l[0] = 5, l[1] = rid, l[2] = rid, l[3] = static_cast<uint32_t>(stkadr(k));
    l[4] = item(118), l[5] = item(115);
    EXPECT_GT(doexpr(stkadr(l)), 0);
    out[on] = fake.items;
  }
  qpaths = true;
  EXPECT_EQ(out[0], out[1]);
  EXPECT_EQ(out[1][33], 32767);  // 131 x 300, clamped
  EXPECT_GE(qdone - done, 2u);
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Blk, PartsStopAtTheBox) {
  // Blocks of 15 items: block 2 starts in the middle of row 1, so its box
  // at (5, 1) is the rest of that row; a part ends there.
  fake.items.assign(60, 1);
  PtrRec* r = image(10, 6, 15);
  r->XYZptr[0] = 5;
  r->XYZptr[1] = 1;
  blkadr(r, 1);
  EXPECT_EQ(sizbuf(r), 5);
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Blk, FailedTransfers) {
  fake.items.assign(60, 5);
  PtrRec* r = image(10, 6, 10);
  BufRec* b = bufrec(r);
  r->XYZptr[1] = 0;
  blkadr(r, 2);
  int cur = b->Actv & 3;
  ASSERT_EQ(b->F[cur], 2);
  // A write that fails is reported, and the buffer stays changed.
  fake.failw = true;
  flshio(r);
  EXPECT_NE(state & ST_ERROR, 0);
  EXPECT_EQ(b->F[cur], 2);
  // Evicting it fails the same way: its block stays, nothing is usable.
  state = 0;
  for (uint32_t y : {1u, 2u, 3u}) {
    r->XYZptr[1] = y;
    blkadr(r, 1);
  }
  EXPECT_NE(state & ST_ERROR, 0);
  EXPECT_EQ(sizbuf(r), 0);
  EXPECT_EQ(b->B[cur].Blk, 1);
  EXPECT_EQ(b->F[cur], 2);
  // Once it can be written it is; a read that fails leaves its buffer empty.
  state = 0;
  fake.failw = false;
  flshio(r);
  EXPECT_EQ(b->F[cur], 0);
  fake.failr = true;
  r->XYZptr[1] = 5;
  blkadr(r, 1);
  EXPECT_NE(state & ST_ERROR, 0);
  EXPECT_EQ(sizbuf(r), 0);
  bool empty = false;
  for (int i = 0; i < 3; i++) empty = empty || b->B[i].Blk == 0;
  EXPECT_TRUE(empty);
}

TEST_F(Blk, RecordsOfOneFileShareBuffers) {
  // A record of unit `lun` without buffers, laid out as an nx by ny image
  // of 16-bit items from byte `at` of its file.
  auto bare = [](int kind, int lun, uint32_t nx, uint32_t ny, uint32_t at = 0) {
    uint32_t dims[3] = {nx, ny, 1};
    PtrRec* r = putptr(kind | K_FILE, 0, dims, 0, 16, 1);
    filrec(r)->Lun = static_cast<uint8_t>(lun);
    r->Mptr = at;
    return r;
  };
  PtrRec* a = image(10, 6, 20, 7);
  PtrRec* b = bare(K_IMAGE, 7, 10, 6);
  pactiv(a, 0);
  pactiv(b, 0);
  EXPECT_EQ(b->Bufp, a->Bufp);
  EXPECT_EQ(b->Addr, a->Addr);
  EXPECT_EQ(b->Rwds, 20);
  EXPECT_EQ(bufrec(a)->Lnks, 2);
  // The same items through another kind share them too; the same file
  // laid out otherwise (another data offset, shape or word size) does not.
  PtrRec* m = bare(K_MATRIX, 7, 10, 6);
  pactiv(m, 0);
  EXPECT_EQ(m->Bufp, a->Bufp);
  for (PtrRec* o : {bare(K_IMAGE, 7, 10, 6, 120), bare(K_IMAGE, 7, 6, 10), bare(K_IMAGE, 8, 10, 6)}) {
    EXPECT_EQ(pacfind(o), nullptr);
    pactiv(o, 0);
    EXPECT_EQ(o->Bufp, 0);
  }
  PtrRec* w = bare(K_IMAGE, 7, 10, 6);
  w->Wsiz = 8;
  EXPECT_EQ(pacfind(w), nullptr);
  // Another buffer record for the same items is refused.
  PtrRec* c = image(10, 6, 20, 7);
  pactiv(c, 0);
  EXPECT_NE(state & ST_ERROR, 0);
  state = 0;
  // The per-command rows go before the next command; persistent rows stay.
  pacrst();
  PtrRec* d = bare(K_IMAGE, 7, 10, 6);
  pactiv(d, 0);
  EXPECT_EQ(d->Bufp, 0);
  pactiv(a, 1);
  pacrst();
  pactiv(d, 0);
  EXPECT_EQ(d->Bufp, a->Bufp);
  pactiv(a, -1);
  PtrRec* e = bare(K_IMAGE, 7, 10, 6);
  pacrst();
  pactiv(e, 0);
  EXPECT_EQ(e->Bufp, 0);
  // Rows beyond the first 20 grow the table.
  for (int k = 0; k < 30; k++) pactiv(image(4, 2, 4, 10 + k), 1);
  PtrRec* f = bare(K_IMAGE, 39, 4, 2);
  pactiv(f, 0);
  EXPECT_NE(f->Bufp, 0);
  // A record leaving the table takes its own row, not the row of another
  // layout of the same file and kind.
  PtrRec* g1 = image(10, 6, 20, 41);
  PtrRec* g2 = image(10, 6, 20, 41);
  g2->Mptr = 500;
  pactiv(g1, 1);
  pactiv(g2, 1);
  pactiv(g2, -1);
  EXPECT_EQ(pacfind(bare(K_IMAGE, 41, 10, 6)), bufrec(g1));
  EXPECT_EQ(pacfind(bare(K_IMAGE, 41, 10, 6, 500)), nullptr);
}
