// Device variables: the device memory rows a device number reaches, the
// shapes devptr gives, the buffers of gdevvb, the blocks devio moves (read
// and written through the element access), hardop's constant fill and the
// camera selection.
#include "realtime/devices/devvar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "compute/expr.h"
#include "core/blkbuf.h"
#include "graphics/veclist.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/hwvars.h"
#include "tests/support/interp.h"
#include "ui/draw.h"
#include "ui/screen.h"
#include "ui/window.h"

namespace {

class DevVar : public ::testing::Test {
 protected:
  void SetUp() override {
    freshinterp();
    scrini();
    hwini();
    vlini();
    optab = nullptr;
    std::memset(blk14, 0, sizeof blk14);
    std::memset(drworg, 0, sizeof drworg);
    std::memset(sunblk, 0, sizeof sunblk);
  }
  void TearDown() override {
    for (int n : wins_) deletewin(n);
    optab = nullptr;
    scrini();
    hwini();
    clrflags();
  }
  // A window in slot n (type 4: an image shown from its port), with an
  // 8-bit image when img.
  Wport* window(int n, bool img, int type = 4) {
    const int32_t rect[4] = {10, 10, 73, 41};
    EXPECT_EQ(makwin(n, type, 0, 0, "DEV", rect, 1, 1), n);
    wins_.push_back(n);
    if (img) setImagePtr(wport(n), 8);
    return wport(n);
  }
  // A device variable as the argument access makes it.
  static PtrRec* dev(int kind, int number) {
    PtrRec* r = putptr(kind, 0, nullptr, 0, 0, 1);
    r->Idx = number;
    return r;
  }
  std::vector<int> wins_;
};

struct Row {
  int wf, mem, kind;
};
Row row(int dev, int kind) {
  Row r{};
  r.wf = memnum(dev, kind, &r.mem, &r.kind, "t");
  return r;
}

TEST_F(DevVar, MemnumRows) {
  // Parameter blocks 0-6 and 10-17 (14 is the 3 x 2 one); 7-9 and 18 none.
  for (int d : {0, 6, 10, 13, 15, 17}) {
    const Row r = row(d, K_MATRIX);
    EXPECT_EQ(r.wf, 144) << d;
    EXPECT_EQ(r.mem, d);
    EXPECT_EQ(r.kind, MK_PARM);
  }
  EXPECT_EQ(row(14, K_MATRIX).wf, 20624);
  for (int d : {7, 8, 9, 18, -1}) EXPECT_EQ(row(d, K_MATRIX).wf, 0) << d;
  // The class must match (the list bit aside): a parameter block is no
  // array, a colour-table array no matrix.
  EXPECT_EQ(row(3, K_ARRAY).wf, 0);
  EXPECT_EQ(row(3, K_MATRIX | 1).wf, 144);
  EXPECT_EQ(row(98, K_MATRIX).wf, 0);
  // The system memories.
  EXPECT_EQ(row(97, K_ARRAY).mem, 512);
  EXPECT_EQ(row(98, K_ARRAY).mem, 256);
  EXPECT_EQ(row(98, K_ARRAY).wf, 72);
  EXPECT_EQ(row(99, K_ARRAY).mem, 128);
  // Window 0 and every other multiple of 100: the memory is the device.
  Row r = row(100, K_MATRIX);
  EXPECT_EQ(r.wf, 4240);
  EXPECT_EQ(r.kind, MK_SYS);
  r = row(300, K_ARRAY);
  EXPECT_EQ(r.wf, 80);
  EXPECT_EQ(r.mem, 300);
  // The image row needs the image-processor bit.
  EXPECT_EQ(row(0, K_IMAGE).wf, 0);
  devflg |= 1;
  EXPECT_EQ(row(0, K_IMAGE).wf, 520);
  EXPECT_EQ(row(0, K_IMAGE).mem, 256);
  EXPECT_EQ(row(100, K_IMAGE).wf, 0);
}

TEST_F(DevVar, WindowRowsNeedTheWindowAndItsImage) {
  // Device 205 is the fifth window (entry 4), as is 105.
  EXPECT_EQ(row(205, K_MATRIX).wf, 0);
  window(4, false);
  EXPECT_EQ(row(205, K_MATRIX).wf, 0);  // no image
  setImagePtr(wport(4), 8);
  Row r = row(205, K_MATRIX);
  EXPECT_EQ(r.wf, 4240);
  EXPECT_EQ(r.mem, 205);
  EXPECT_EQ(r.kind, MK_WIN);
  EXPECT_EQ(row(105, K_ARRAY).wf, 80);
  EXPECT_EQ(row(106, K_ARRAY).wf, 0);  // the sixth window is not there
  EXPECT_EQ(row(104, K_ARRAY).wf, 0);
}

// devptr's dimensions, word size and element count.
struct Shape {
  uint32_t d0, d1;
  int wsiz;
  int32_t n;
};
Shape shape(int kind, int d) {
  PtrRec r{};
  int32_t n = 0;
  Shape s{};
  if (!devptr(kind, d, &r, &n)) return s;
  return {r.Datdims[0], r.Datdims[1], r.Wsiz, n};
}
bool operator==(const Shape& a, const Shape& b) {
  return a.d0 == b.d0 && a.d1 == b.d1 && a.wsiz == b.wsiz && a.n == b.n;
}
std::ostream& operator<<(std::ostream& o, const Shape& s) {
  return o << s.d0 << "x" << s.d1 << " w" << s.wsiz << " n" << s.n;
}

TEST_F(DevVar, DevptrShapes) {
  // 32-bit screen: the window-0 array holds whole 32-bit entries.
  EXPECT_EQ(shape(K_ARRAY, 100), (Shape{256, 1, 32, 256}));
  EXPECT_EQ(shape(K_ARRAY, 97), (Shape{4, 1, 16, 4}));
  EXPECT_EQ(shape(K_ARRAY, 98), (Shape{256, 1, 8, 256}));
  EXPECT_EQ(shape(K_ARRAY, 99), (Shape{256, 1, 8, 256}));
  EXPECT_EQ(shape(K_MATRIX, 100), (Shape{4, 256, 8, 1024}));
  EXPECT_EQ(shape(K_MATRIX, 14), (Shape{3, 2, 16, 6}));
  EXPECT_EQ(shape(K_MATRIX, 0), (Shape{2, 2, 16, 4}));
  EXPECT_EQ(shape(K_MATRIX, 17), (Shape{2, 2, 16, 4}));
  EXPECT_EQ(shape(K_MATRIX, 7), (Shape{0, 0, 0, 0}));
  // Memory 300 has no bit 64: 16-bit elements even on a deep screen.
  EXPECT_EQ(shape(K_ARRAY, 300), (Shape{256, 1, 16, 256}));
  // Shallow screens: 2^depth entries, 16-bit array elements.
  scrbits = 8;
  EXPECT_EQ(shape(K_ARRAY, 100), (Shape{256, 1, 16, 256}));
  scrbits = 4;
  EXPECT_EQ(shape(K_ARRAY, 100), (Shape{16, 1, 16, 16}));
  EXPECT_EQ(shape(K_ARRAY, 98), (Shape{16, 1, 8, 16}));
  EXPECT_EQ(shape(K_MATRIX, 100), (Shape{4, 16, 8, 64}));
  EXPECT_EQ(shape(K_ARRAY, 97), (Shape{4, 1, 16, 4}));
  scrbits = 1;
  EXPECT_EQ(shape(K_MATRIX, 100), (Shape{4, 2, 8, 8}));
  scrbits = 32;
  // The image-processor image: the screen's size in bytes.
  devflg |= 1;
  scrwid = 640;
  scrhgt = 480;
  EXPECT_EQ(shape(K_IMAGE, 0), (Shape{640, 480, 8, 640 * 480}));
}

TEST_F(DevVar, DevptrWindowEntriesByWindowType) {
  window(4, true);
  EXPECT_EQ(shape(K_ARRAY, 105), (Shape{256, 1, 32, 256}));
  PtrRec r{};
  int32_t n = 0;
  devptr(K_MATRIX, 205, &r, &n);
  EXPECT_EQ(r.Idx, 205);
  EXPECT_EQ(r.Mptr, 205u | (static_cast<uint32_t>(MK_WIN) << 16));
  // A window type without any of the bits 0x5E: two entries.
  wport(4)->type = 0x80;
  EXPECT_EQ(shape(K_MATRIX, 105), (Shape{4, 2, 8, 8}));
  wport(4)->type = 0x40;
  EXPECT_EQ(shape(K_MATRIX, 105), (Shape{4, 256, 8, 1024}));
}

TEST_F(DevVar, GdevvbBuffers) {
  int32_t tot = 0, ws = 0;
  // A parameter block: one buffer of its 8 bytes.
  PtrRec* r = dev(K_MATRIX, 2);
  gdevvb(r, K_MATRIX, &tot, &ws, 0);
  EXPECT_EQ(tot, 4);
  EXPECT_EQ(ws, 16);
  ASSERT_NE(bufrec(r), nullptr);
  EXPECT_EQ(bufrec(r)->Rsiz, 8);
  EXPECT_TRUE(bufrec(r)->Actv & 0x40);
  EXPECT_EQ(r->Rwds, 4);
  // Arrays of system memory need the image-processor bit.
  r = dev(K_ARRAY, 100);
  gdevvb(r, K_ARRAY, &tot, &ws, 0);
  EXPECT_EQ(tot, -1);
  devflg |= 1;
  r = dev(K_ARRAY, 100);
  gdevvb(r, K_ARRAY, &tot, &ws, 0);
  EXPECT_EQ(tot, 256);
  EXPECT_EQ(bufrec(r)->Rsiz, 1024);
  // Three buffers when three fit in the data and a block is below 3411
  // bytes: a record's own size of 3410 does, 3411 does not.
  for (int32_t size : {3410, 3411}) {
    pacrst();  // each in a command of its own
    r = putptr(K_IMAGE, size, nullptr, 0, 0, 1);
    r->Idx = 0;
    gdevvb(r, K_IMAGE, &tot, &ws, 0);
    EXPECT_EQ(tot, 1024 * 768);
    ASSERT_NE(bufrec(r), nullptr);
    EXPECT_EQ(bufrec(r)->Rsiz, size);
    EXPECT_EQ((bufrec(r)->Actv & 0x40) != 0, size == 3411) << size;
  }
  // No device: unusable.
  r = dev(K_MATRIX, 9);
  gdevvb(r, K_MATRIX, &tot, &ws, 0);
  EXPECT_EQ(tot, -1);
  EXPECT_EQ(bufrec(r), nullptr);
}

TEST_F(DevVar, ParameterBlocksLimitedAndOrdered) {
  // Block 0: every coordinate limited to 0..640, then each pair ordered.
  putitems(dev(K_MATRIX, 0), 4, [](int i) { return std::vector<double>{700, -3, 10, 5}[i]; });
  EXPECT_EQ(dvrect[0][0], 10);
  EXPECT_EQ(dvrect[0][1], 0);
  EXPECT_EQ(dvrect[0][2], 640);
  EXPECT_EQ(dvrect[0][3], 5);
  EXPECT_EQ(getitems(dev(K_MATRIX, 0)), (std::vector<double>{10, 0, 640, 5}));
  putitems(dev(K_MATRIX, 0), 4, [](int i) { return std::vector<double>{640, 641, 0, 639}[i]; });
  EXPECT_EQ(getitems(dev(K_MATRIX, 0)), (std::vector<double>{0, 639, 640, 640}));
  // Blocks 1-6: ordered, not limited.
  putitems(dev(K_MATRIX, 6), 4, [](int i) { return std::vector<double>{700, 900, 100, 50}[i]; });
  EXPECT_EQ(getitems(dev(K_MATRIX, 6)), (std::vector<double>{100, 50, 700, 900}));
  // Blocks 10 and up: stored as they come.
  putitems(dev(K_MATRIX, 10), 4, [](int i) { return std::vector<double>{5, 4, 3, 2}[i]; });
  EXPECT_EQ(getitems(dev(K_MATRIX, 10)), (std::vector<double>{5, 4, 3, 2}));
  // Block 14: six words, the last two its own.
  putitems(dev(K_MATRIX, 14), 6, [](int i) { return 10.0 * (i + 1); });
  EXPECT_EQ(dvrect[14][3], 40);
  EXPECT_EQ(blk14[0], 50);
  EXPECT_EQ(blk14[1], 60);
  EXPECT_EQ(getitems(dev(K_MATRIX, 14)), (std::vector<double>{10, 20, 30, 40, 50, 60}));
}

// A record for devio alone: memory number mem, one buffer of bytes bytes
// holding block 1.
PtrRec* rawrec(int kind, int idx, int mem, int32_t bytes, uint32_t d0, int wsiz) {
  PtrRec* r = putptr(kind, bytes, nullptr, 0, wsiz, 1);
  r->Idx = idx;
  r->Mptr = static_cast<uint32_t>(mem);
  r->Datdims[0] = d0;
  r->Datdims[1] = r->Datdims[2] = 1;
  BufRec* b = bufrec(r);
  b->Actv = 0x40;
  b->Rsiz = 0;
  chgbuf(r, bytes, 1);
  b->Bufdims[0] = d0;
  b->B[0].Blk = 1;
  return r;
}
uint8_t* bufdata(PtrRec* r) { return static_cast<uint8_t*>(stkptr(static_cast<int32_t>(r->Addr))); }

TEST_F(DevVar, DevioBlocksWithoutRowsAndTheDrawingOrigin) {
  // Block 18, the drawing origin: six words, not ordered.
  PtrRec* r = rawrec(K_MATRIX, 18, 18, 12, 6, 16);
  const int16_t v[6] = {9, 8, 7, 6, 5, 4};
  std::memcpy(bufdata(r), v, 12);
  EXPECT_EQ(devio(r, 0, 2), 0);
  EXPECT_EQ(drworg[0], 9);
  EXPECT_EQ(drworg[5], 4);
  // Numbers without a block.
  for (int m : {7, 9, 19}) {
    r = rawrec(K_MATRIX, m, m, 8, 4, 16);
    EXPECT_EQ(devio(r, 0, 1), -1) << m;
    EXPECT_EQ(devio(r, 0, 2), -1) << m;
  }
  // A buffer holding no block, or another index: left alone.
  r = rawrec(K_MATRIX, 7, 7, 8, 4, 16);
  bufrec(r)->B[0].Blk = 0;
  EXPECT_EQ(devio(r, 0, 1), 0);
  EXPECT_EQ(devio(r, 3, 1), 0);
}

TEST_F(DevVar, ColourTablesAndMaps) {
  devflg |= 1;
  // The window-0 table through PClut, whole entries.
  std::vector<double> lut = getitems(dev(K_ARRAY, 100));
  ASSERT_EQ(lut.size(), 256u);
  uint32_t e1;
  std::memcpy(&e1, progctab() + 4, 4);
  EXPECT_EQ(lut[1], e1);
  // A window's table (its image's, the program table).
  window(4, true);
  std::vector<double> w = getitems(dev(K_MATRIX, 105));
  ASSERT_EQ(w.size(), 1024u);
  for (int i = 0; i < 8; i++) EXPECT_EQ(w[i], progctab()[i]) << i;
  // The vector colour map and the 8-byte block.
  putitems(dev(K_ARRAY, 99), 3, [](int i) { return 200.0 + i; });
  EXPECT_EQ(vcmap[0], 200);
  EXPECT_EQ(vcmap[2], 202);
  EXPECT_EQ(vcmap[3], 3);
  putitems(dev(K_ARRAY, 97), 4, [](int i) { return -1.0 - i; });
  EXPECT_EQ(sunblk[3], -4);
  // The paletted array on a deep screen: the program table's bytes.
  std::vector<double> p = getitems(dev(K_ARRAY, 98));
  ASSERT_EQ(p.size(), 256u);
  for (int i = 0; i < 256; i += 37) EXPECT_EQ(p[i], progctab()[i]) << i;
  // On an 8-bit screen: byte 2 of each entry, written through the palette.
  scrbits = 8;
  putitems(dev(K_ARRAY, 98), 2, [](int i) { return 50.0 + i; });
  EXPECT_EQ(progctab()[2], 50);
  EXPECT_EQ(progctab()[4 + 2], 51);
  p = getitems(dev(K_ARRAY, 98));
  EXPECT_EQ(p[1], 51);
}

TEST_F(DevVar, WindowsOfOneDeviceReadSideBySide) {
  devflg |= 1;
  for (int i = 0; i < 256; i++) vcmap[i] = static_cast<uint8_t>(i);
  // Windows 0:5 and 250:255 (the latter's block runs past the map's end)
  // read item by item in turn, as a command with both reads them.
  PtrRec* a = dev(K_ARRAY, 99);
  PtrRec* b = dev(K_ARRAY, 99);
  a->Offs[3] = 6;
  b->Offs[0] = 250;
  b->Offs[3] = 6;
  int32_t ca, pa, cb, pb, t, w;
  gtvarb(a, &ca, &pa, &t, &w, 0);
  gtvarb(b, &cb, &pb, &t, &w, 0);
  ASSERT_EQ(ca, 6);
  ASSERT_EQ(cb, 6);
  EXPECT_NE(bufrec(a), bufrec(b));
  for (int32_t i = 0; i < 6; i++) {
    if (i >= pa) LDVARB(a, &pa, i);
    if (i >= pb) LDVARB(b, &pb, i);
    EXPECT_EQ(GSTACK(a), i) << i;
    EXPECT_EQ(GSTACK(b), 250 + i) << i;
  }
  // A write of part of a window keeps the block's other items.
  putitems(dev(K_ARRAY, 99), 2, [](int i) { return 90.0 + i; });
  EXPECT_EQ(vcmap[1], 91);
  EXPECT_EQ(vcmap[2], 2);
  EXPECT_EQ(vcmap[255], 255);
}

TEST_F(DevVar, HardopFillsWindowZerosImage) {
  Wport* w0 = wport(0);
  setImagePtr(w0, 8);
  auto* o = static_cast<PwRec*>(heldptr(w0->offscr));
  ASSERT_NE(o, nullptr);
  auto* px = static_cast<uint8_t*>(heldptr(o->pixels));
  ASSERT_NE(newopt(), nullptr);
  PtrRec* s = putptr(K_CONST, 0, nullptr, 0, 32, 1);
  s->Addr = 5;
  PtrRec* d = putptr(K_IMAGE, 0, nullptr, 0, 8, 1);
  d->Idx = 101;
  d->Offs[0] = 2;
  d->Offs[1] = 3;
  d->Offs[3] = 15;
  d->Offs[4] = 2;
  optab[OT_REC] = static_cast<int32_t>(s->PTR);
  optab[OT_REC + 2] = static_cast<int32_t>(d->PTR);
  // 15 wide: not done here.
  EXPECT_EQ(hardop(115, 1), 0);
  d->Offs[3] = 16;
  EXPECT_EQ(hardop(116, 1), 0);  // not the assignment
  EXPECT_EQ(hardop(115, 1), 1);
  const uint8_t* row3 = px + 3 * o->rowbytes;
  EXPECT_EQ(row3[1], 0);
  EXPECT_EQ(row3[2], 5);
  EXPECT_EQ(row3[17], 5);
  EXPECT_EQ(row3[18], 0);
  EXPECT_EQ(px[2 * o->rowbytes + 2], 0);
  EXPECT_EQ(px[4 * o->rowbytes + 17], 5);
  EXPECT_EQ(px[5 * o->rowbytes + 2], 0);
  // Not for a named image, a record with data, or a source that is no
  // constant.
  d->Flg = K_IMAGE | K_NAMED;
  EXPECT_EQ(hardop(115, 1), 0);
  d->Flg = K_IMAGE;
  d->Addr = 99;
  EXPECT_EQ(hardop(115, 1), 0);
  d->Addr = 0;
  s->Flg = K_ARRAY;
  EXPECT_EQ(hardop(115, 1), 0);
  // A float constant is taken as an integer.
  s->Flg = K_CONST;
  s->Wsiz = 96;
  const float f = 7.9f;
  std::memcpy(&s->Addr, &f, 4);
  EXPECT_EQ(hardop(115, 1), 1);
  EXPECT_EQ(row3[2], 7);
}

TEST_F(DevVar, SetcamSelectsAndCloses) {
  camera = 2;
  EXPECT_EQ(setcam(20), -1);  // the camera-20 stub does not open
  EXPECT_EQ(camera, 2);
  EXPECT_EQ(setcam(1), -1);
  EXPECT_EQ(setcam(10), -1);
  EXPECT_EQ(setcam(11), -1);
  EXPECT_EQ(setcam(-1), -1);
  EXPECT_EQ(camera, 2);
  EXPECT_EQ(devflg & 0x200, 0);
  // Closing an open camera clears the flag and the word.
  for (int cam : {20, 5}) {
    devflg |= 0x200;
    camera = static_cast<int16_t>(cam);
    EXPECT_EQ(setcam(0), 0);
    EXPECT_EQ(devflg & 0x200, 0);
    EXPECT_EQ(camera, 0);
  }
  EXPECT_EQ(hwmove() + hwline() + hwtext() + hwclr() + ipalustb() + ipwait(), 0);
  EXPECT_EQ(ippage(256, 3), 0);
}

}  // namespace
