// The platform layer: the window manager, surfaces and image files, window
// records made by makwin, icons, mouse events, and the sdl backend's
// translation of keys and pointer input (SDL's dummy video driver).
#include "core/state.h"
#include "ui/draw.h"
#include "ui/events.h"
#include "ui/platform/backend.h"
#include "ui/platform/clock.h"
#include "ui/platform/face.h"
#include "ui/platform/script.h"
#include "ui/platform/sdl.h"
#include "ui/platform/surface.h"
#include "ui/platform/wm.h"
#include "ui/screen.h"
#include "ui/ports.h"
#include "ui/window.h"
#include "tests/support/interp.h"

#include <cstdlib>

#ifdef PELIX_HAVE_SDL2
#include <SDL.h>
#endif

namespace {

TEST(Wm, HandlesZOrderAndHitTesting) {
  const int32_t top = wm_create("top", WMS_CAPTION | WMS_VISIBLE, 0, 20, 400, 300, 0);
  const int32_t a = wm_create("a", WMS_CAPTION | WMS_CHILD | WMS_VISIBLE, 10, 40, 100, 50, top);
  const int32_t b = wm_create("b", WMS_BORDER | WMS_CHILD | WMS_VISIBLE, 50, 60, 100, 50, top);
  ASSERT_TRUE(a && b && top);
  int x, y;
  ASSERT_TRUE(wm_origin(a, &x, &y));
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 60);  // child origin: parent's origin + its own
  int cx, cy, part;
  // b lies above a where they overlap; raising a puts it on top.
  EXPECT_EQ(wm_hit(70, 90, &cx, &cy, &part), b);
  EXPECT_EQ(part, HT_CLIENT);
  EXPECT_EQ(cx, 20);
  EXPECT_EQ(cy, 10);
  wm_top(a);
  EXPECT_EQ(wm_hit(70, 90, &cx, &cy, &part), a);
  EXPECT_EQ(wm_hit(70, 50, &cx, &cy, &part), a);  // a's caption
  EXPECT_EQ(part, HT_CAPTION);
  EXPECT_EQ(wm_hit(100, 50, &cx, &cy, &part), a);
  EXPECT_EQ(part, HT_CLOSE);
  wm_show(a, false);
  EXPECT_EQ(wm_hit(70, 90, &cx, &cy, &part), b);
  // A destroyed window's handle stays dead even when its place is reused.
  wm_destroy(top);  // children go with it
  EXPECT_FALSE(wm_valid(a));
  EXPECT_FALSE(wm_valid(b));
  const int32_t c = wm_create("c", 0, 0, 0, 10, 10, 0);
  EXPECT_NE(c, a);
  EXPECT_NE(c, top);
  wm_setpos(a, 0, 0, 5, 5);  // calls on dead handles do nothing
  EXPECT_EQ(wm_surface(b), nullptr);
  wm_destroy(c);
}

TEST(Wm, WindowsAreNoLargerThanTheScreenWithItsFrame) {
  wm_screensize(640, 480);
  int w = 0, h = 0;
  // The largest size: the screen, the border on both sides, the caption.
  const int32_t a = wm_create("a", WMS_CAPTION | WMS_VISIBLE, 0, 0, 642, 500, 0);
  ASSERT_TRUE(wm_getpos(a, nullptr, nullptr, &w, &h));
  EXPECT_EQ(w, 642);
  EXPECT_EQ(h, 500);
  wm_setpos(a, 0, 0, 643, 501);
  ASSERT_TRUE(wm_getpos(a, nullptr, nullptr, &w, &h));
  EXPECT_EQ(w, 642);
  EXPECT_EQ(h, 500);
  const int32_t b = wm_create("b", WMS_VISIBLE, 0, 0, 1 << 30, 1 << 30, 0);
  EXPECT_EQ(wm_surface(b)->w, 642);
  EXPECT_EQ(wm_surface(b)->h, 500);
  // A window made large (a view of a whole image) takes the size it was
  // given, at most WM_MAXSIDE, and still the screen's.
  wm_large(a, 2000, 700);
  wm_setpos(a, 0, 0, 2001, 701);
  ASSERT_TRUE(wm_getpos(a, nullptr, nullptr, &w, &h));
  EXPECT_EQ(w, 2000);
  EXPECT_EQ(h, 700);
  EXPECT_EQ(wm_surface(a)->nmade(), 0);  // nothing drawn: no pixel memory yet
  wm_setpos(a, 0, 0, 1500, 20);
  EXPECT_EQ(wm_surface(a)->w, 1500);
  EXPECT_EQ(wm_surface(a)->h, 20);
  wm_large(a, 1 << 30, 10);
  wm_setpos(a, 0, 0, 1 << 30, 400);
  EXPECT_EQ(wm_surface(a)->w, WM_MAXSIDE);
  EXPECT_EQ(wm_surface(a)->h, 400);  // the screen's
  wm_destroy(a);
  wm_destroy(b);
  wm_screensize(1024, 768);
}

TEST(Face, DescendersGoBelowTheBaseline) {
  // The lowest row with ink (of 16); the baseline is row 13.
  auto bottom = [](unsigned char c) {
    int b = -1;
    for (int y = 0; y < 16; y++)
      if (facerow(c, y)) b = y;
    return b;
  };
  auto top = [](unsigned char c) {
    for (int y = 0; y < 16; y++)
      if (facerow(c, y)) return y;
    return -1;
  };
  for (unsigned char c : {'a', 'o', 'x', 'A', 'Z', 'b', 'd', '0', '.'}) EXPECT_EQ(bottom(c), 13) << c;
  for (unsigned char c : {'g', 'j', 'p', 'q', 'y'}) EXPECT_EQ(bottom(c), 15) << c;
  // The bodies of g, p, q and y stand on the x-height as a and o do.
  for (unsigned char c : {'g', 'p', 'q', 'y', 'a', 'o'}) EXPECT_EQ(top(c), 4) << c;
  EXPECT_EQ(top('A'), 0);
  EXPECT_EQ(facerow('j', 14), 0x0C << 2);
  EXPECT_EQ(facerow('p', 15), 0x10 << 2);
  EXPECT_EQ(facerow('g', 13), 0x01 << 2);  // the stem on the baseline
  EXPECT_EQ(facerow('g', 16), 0);
  EXPECT_EQ(facerow('g', -1), 0);
}

TEST(Wm, SurfacesTextAndImageFiles) {
  Surface s;
  s.resize(40, 20, 0xFFFFFF);
  stext(s, 0, 0, "A", 1, 0);
  // The glyph lies in its 8 x 16 cell and has ink; the space has none.
  int ink = 0;
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 8; x++) ink += s.row(y)[x] == 0;
  EXPECT_GT(ink, 10);
  for (int y = 0; y < 20; y++) EXPECT_EQ(s.row(y)[9], 0xFFFFFFu);
  EXPECT_EQ(facerow(' ', 8), 0);
  sfill(s, 30, 15, 20, 20, 0x123456);  // clipped
  EXPECT_EQ(s.row(19)[39], 0x123456u);
  ScratchDir dir("/tmp/pelix_surf");
  for (const char* name : {"s.png", "s.bmp"}) {
    const std::string f = dir.path + "/" + name;
    ASSERT_EQ(swrite(s, f), 0) << name;
    Surface r;
    ASSERT_EQ(sread(r, f), 0) << name;
    EXPECT_EQ(r.w, 40);
    EXPECT_EQ(r.h, 20);
    EXPECT_EQ(r.pixels(), s.pixels()) << name;
  }
}

// A surface's rows get their pixels when first reached: every read sees
// the colour it was made or last filled with, whichever rows were made,
// copied or blitted, and a whole fill after drawing clears the drawing.
TEST(Wm, SurfaceRowsMadeWhenReached) {
  Surface s;
  s.resize(300, 200, 0x00A0B0);
  const Surface& c = s;
  EXPECT_EQ(c.row(199)[299], 0x00A0B0u);  // a row first reached by a read
  sfill(s, 0, 0, 300, 200, 0x112233);     // the whole surface: one colour again
  EXPECT_EQ(s.row(199)[299], 0x112233u);
  EXPECT_EQ(s.row(0)[0], 0x112233u);
  sfill(s, 10, 100, 5, 1, 0x445566);      // one row of part of it
  Surface copy = s;
  Surface dst;
  dst.resize(300, 200, 0);
  sblit(dst, 0, 0, s, 0, 0, 300, 200);
  for (const Surface* t : {&s, &copy, &dst}) {
    EXPECT_EQ(t->row(100)[9], 0x112233u);
    EXPECT_EQ(t->row(100)[10], 0x445566u);
    EXPECT_EQ(t->row(100)[14], 0x445566u);
    EXPECT_EQ(t->row(100)[15], 0x112233u);
    EXPECT_EQ(t->row(101)[10], 0x112233u);
  }
  // All pixels in one block, rows a stride apart.
  const uint32_t* all = s.data();
  EXPECT_EQ(all[100 * s.stride + 12], 0x445566u);
  EXPECT_EQ(all[199 * s.stride + 299], 0x112233u);
  const std::vector<uint32_t> px = s.pixels();
  ASSERT_EQ(px.size(), 300u * 200u);
  EXPECT_EQ(px[100 * 300 + 14], 0x445566u);
  EXPECT_EQ(px[100 * 300 + 15], 0x112233u);
  // A fill of the whole surface covers what was drawn; clipped fills too.
  sfill(s, -5, -5, 400, 400, 0x000001);
  EXPECT_EQ(s.row(100)[12], 0x000001u);
  EXPECT_EQ(copy.row(100)[12], 0x445566u);  // the copy is its own
  // Kept into a larger surface: drawn rows are copied, rows never drawn
  // stay without memory unless they showed another colour.
  Surface k;
  k.resize(4, 3, 0x0000FF);
  sfill(k, 1, 1, 1, 1, 0x00FF00);
  Surface same, other;
  same.resize(6, 5, 0x0000FF);
  same.keep(k);
  EXPECT_EQ(same.nmade(), 1);
  EXPECT_EQ(same.row(1)[1], 0x00FF00u);
  EXPECT_EQ(same.row(1)[4], 0x0000FFu);
  other.resize(6, 5, 0xFFFFFF);
  other.keep(k);
  EXPECT_EQ(other.nmade(), 3);
  EXPECT_EQ(other.row(2)[3], 0x0000FFu);
  EXPECT_EQ(other.row(2)[4], 0xFFFFFFu);
  EXPECT_EQ(other.row(3)[0], 0xFFFFFFu);
  // A resize starts over in the new colour.
  s.resize(3, 2, 0xFFFFFF);
  EXPECT_EQ(s.pixels(), std::vector<uint32_t>(6, 0xFFFFFF));
}

class Ports : public ::testing::Test {
 protected:
  Term keys;
  TermUse term;
  void SetUp() override {
    term.begin(&keys);
    state = 0;
    pflags = 0;
  }
  void TearDown() override {
    for (int i = WINAUTO; i < nwins; i++) deletewin(i);
    setwin(0);
    term.end();
  }
  static constexpr int32_t rect[4] = {100, 100, 299, 199};
};

TEST_F(Ports, MakwinSlotsAndTableGrowth) {
  const int n9 = makwin(-1, 4, 0, 0, "IMG", rect, 1, 1);
  EXPECT_EQ(n9, WINAUTO);
  EXPECT_EQ(makwin(-1, 4, 0, 0, "IMG2", rect, 1, 1), WINAUTO + 1);
  // A slot past the table grows it in steps of 20 to cover the slot.
  const int before = nwins;
  EXPECT_EQ(makwin(before + 25, 4, 0, 0, "FAR", rect, 1, 1), before + 25);
  EXPECT_GE(nwins, before + 26);
  EXPECT_EQ(nwins % WINSTEP, 0);
  EXPECT_EQ(makwin(1000, 4, 0, 0, "NO", rect, 1, 1), -1);  // beyond the limit
  EXPECT_EQ(makwin(2, 4, 0, 0, "MAIN", rect, 1, 1), -1);    // the main window stays
  EXPECT_STREQ(wport(2)->name, "PELIX");
  // A text window never gets a grid of less than one cell.
  const int32_t tiny[4] = {0, 0, 2, 2};
  const int t = makwin(-1, 1, 0x200, 0, "TINY", tiny, 1, 1);
  ASSERT_GE(t, 0);
  EXPECT_EQ(wgrid(wport(t))->rowlen, 1);
  EXPECT_EQ(wgrid(wport(t))->nrows, 1);
  // Deleting the current window moves the current window itself; the
  // window's handle is dead afterwards and names no window.
  setwin(n9);
  EXPECT_EQ(curwin, n9);
  const int32_t h = winhwnd(n9);
  deletewin(n9);
  EXPECT_EQ(wport(n9), nullptr);
  EXPECT_NE(curwin, n9);
  EXPECT_FALSE(wm_valid(h));
  EXPECT_EQ(winnum(h), -1);
  deletewin(0);  // permanent
  EXPECT_NE(wport(0), nullptr);
}

TEST_F(Ports, RecordsInWordMemory) {
  LowStack stack;
  stack.begin();
  winwords(true);
  int slot = WINAUTO;
  while (slot < nwins && wintab[slot]) slot++;  // a slot without a kept record
  const int n = makwin(slot, 4, 0, 0, "WORDS", rect, 1, 1);
  winwords(false);
  ASSERT_GE(n, 0);
  const auto* w = reinterpret_cast<const uint32_t*>(wintab[n]);
  EXPECT_GE(w, lowstk);
  EXPECT_LT(w, lowstk + lstk.end);
  EXPECT_EQ(wintab[n]->id, n + 1);
  deletewin(n);
  wintab[n] = nullptr;  // the stack is zeroed after the test
  stack.end();
}

TEST_F(Ports, WindowDestroyedBehindTheProgramsBack) {
  const int n = makwin(-1, 4, 0, 0, "GONE", rect, 1, 1);
  setwin(n);
  const int32_t h = winhwnd(n);
  postmsg(h, WM_CLOSE, 0, 0);  // no program close box: the platform destroys it
  pumpmsg();
  EXPECT_EQ(wport(n), nullptr);
  EXPECT_NE(curwin, n);
  EXPECT_FALSE(wm_valid(h));
  // Messages for the dead window do nothing.
  EXPECT_EQ(wndproc(h, WM_SIZE, 0, (50 << 16) | 50), 0);
  // A window whose close box the program handles stays.
  const int k = makwin(-1, 4, 0x20, 0, "KEEP", rect, 1, 1);
  postmsg(winhwnd(k), WM_CLOSE, 0, 0);
  pumpmsg();
  EXPECT_NE(wport(k), nullptr);
}

TEST_F(Ports, DrawingPortLeftWhenItsRecordGoes) {
  // Deleting the window of the drawing port: the current window's record
  // draws again (the deleted one's record is kept for the slot's reuse).
  const int a = makwin(-1, 4, 0, 0, "A", rect, 1, 1);
  const int b = makwin(-1, 4, 0, 0, "B", rect, 1, 1);
  PwRec* pa = wpwrec(wport(a));
  PwRec* pb = wpwrec(wport(b));
  setPort(pb);
  deletewin(a);  // another port's window: the drawing port stays
  EXPECT_EQ(portset(), pb);
  deletewin(b);
  EXPECT_EQ(portset(), nullptr);
  EXPECT_EQ(getPort(), drawport());
  // A kept record made the port again and freed by the slot's next window.
  setPort(pa);
  EXPECT_EQ(makwin(a, 4, 0, 0, "A2", rect, 1, 1), a);
  EXPECT_EQ(portset(), nullptr);
  // An off-screen port, disposed when the window gets a new one and when
  // the window goes; and a window lost behind the program's back.
  setImagePtr(wport(a), 8);
  setPort(static_cast<PwRec*>(heldptr(wport(a)->offscr)));
  setImagePtr(wport(a), 8);
  EXPECT_EQ(portset(), nullptr);
  setPort(static_cast<PwRec*>(heldptr(wport(a)->offscr)));
  deletewin(a);
  EXPECT_EQ(portset(), nullptr);
  const int c = makwin(-1, 4, 0, 0, "C", rect, 1, 1);
  setPort(wpwrec(wport(c)));
  winlost(c);
  EXPECT_EQ(portset(), nullptr);
}

TEST_F(Ports, IconsAndRestoring) {
  int32_t w[4] = {0, 0, scrwid - 1, scrhgt - 31};
  const int a = makwin(-1, 4, 0, 0, "A", rect, 1, 1);
  const int b = makwin(-1, 8, 0, 0, "B", rect, 1, 1);
  setwin(a);
  iconwin(wport(a));
  iconwin(wport(b));
  EXPECT_TRUE(wport(a)->status & 8);
  EXPECT_NE(curwin, a);  // the current window moved
  const IconRec* ia = static_cast<const IconRec*>(heldptr(wport(a)->icon));
  const IconRec* ib = static_cast<const IconRec*>(heldptr(wport(b)->icon));
  EXPECT_EQ(ia->rect[0], w[2] - 88);
  EXPECT_EQ(ia->rect[1], w[1] + 20);
  EXPECT_EQ(ib->rect[0], w[2] - 44);
  EXPECT_EQ(ib->rect[1], w[1] + 40);
  EXPECT_FALSE(wm_visible(winhwnd(a)));
  // A click on the main window at b's icon restores and selects b.
  EvtRec e{};
  e.h = static_cast<int16_t>(ib->rect[0] + 3);
  e.v = static_cast<int16_t>(ib->rect[1] + 3);
  EXPECT_EQ(icon(&e, 2), 1);
  EXPECT_FALSE(wport(b)->status & 8);
  EXPECT_EQ(curwin, b);
  EXPECT_TRUE(wm_visible(winhwnd(b)));
  setwin(a);  // selecting an iconized window restores it
  EXPECT_FALSE(wport(a)->status & 8);
}

TEST_F(Ports, TextWindowRepaintsItsGrid) {
  // A single character in column 0 of a row is painted in its cell, in the
  // text colour on the background; the rest of the row stays blank.
  const int32_t r[4] = {0, 0, 8 * 10 - 1, 16 * 4 - 1};
  const int n = makwin(-1, 1, 0x200, 0, "GRID", r, 1, 1);
  ASSERT_GE(n, 0);
  TxtGrid* g = wgrid(wport(n));
  ASSERT_EQ(g->rowlen, 10);
  ASSERT_EQ(g->nrows, 4);
  gridbuf(g)[2 * g->rowlen] = 'x';
  update(n, nullptr, 0);
  const Surface* s = wm_surface(winhwnd(n));
  ASSERT_NE(s, nullptr);
  int ink = 0, other = 0;
  for (int y = 0; y < s->h; y++)
    for (int x = 0; x < s->w; x++) {
      const bool dark = s->row(y)[x] == 0;
      if (y >= 32 && y < 48 && x < 8) ink += dark;
      else other += dark;
    }
  EXPECT_GT(ink, 4);
  EXPECT_EQ(other, 0);
}

TEST_F(Ports, OffscreenPortsKeepTheirRowStride) {
  for (int depth : {1, 8, 16, 24, 32}) {
    PwRec* p = makcport(21, 3, nullptr, depth, nullptr);
    ASSERT_NE(p, nullptr) << depth;
    const uint32_t want = depth < 16 ? ((21u * depth + 15) >> 3) & ~1u : 21u * (depth / 8);
    EXPECT_EQ(p->rowbytes, want) << depth;
    dspport(p, 1);
  }
  EXPECT_EQ(makcport(0, 3, nullptr, 8, nullptr), nullptr);
  // An image window shows its off-screen pixels.
  const int n = makwin(-1, 4, 0, 0, "IMG", rect, 1, 1);
  setImagePtr(wport(n), 24);
  PwRec* o = static_cast<PwRec*>(heldptr(wport(n)->offscr));
  ASSERT_NE(o, nullptr);
  auto* px = static_cast<uint8_t*>(heldptr(o->pixels));
  px[o->rowbytes + 3] = 0x30;  // pixel (1, 1): blue, green, red
  px[o->rowbytes + 4] = 0x20;
  px[o->rowbytes + 5] = 0x10;
  update(n, nullptr, 0);
  EXPECT_EQ(wm_surface(winhwnd(n))->row(1)[1], 0x102030u);
}

TEST_F(Ports, MouseSelectsThenMakesEvents) {
  const int n = makwin(-1, 4, 0, 0, "M", rect, 1, 1);
  setwin(0);
  const int32_t h = winhwnd(n);
  // The first press into another window only selects it.
  wndproc(h, WM_LBUTTONDOWN, 1, (7 << 16) | 5);
  EXPECT_EQ(evtrec.what, 0);
  EXPECT_EQ(curwin, n);
  wndproc(h, WM_LBUTTONUP, 0, (7 << 16) | 5);
  EXPECT_EQ(evtrec.what, 2);
  wndproc(h, WM_RBUTTONDOWN, 2 | 4, (9 << 16) | 8);
  EXPECT_EQ(evtrec.what, 1);
  EXPECT_EQ(evtrec.h, 8);
  EXPECT_EQ(evtrec.v, 9);
  EXPECT_EQ(evtrec.window, n);
  // Left and right together: a chord makes no events until all are up.
  wndproc(h, WM_LBUTTONDOWN, 3, 0);
  EXPECT_EQ(evtrec.what, 1);
  EXPECT_EQ(evtrec.modifiers & 3, 3);
  wndproc(h, WM_MOUSEMOVE, 3, 0);
  EXPECT_EQ(evtrec.what, 0);
  wndproc(h, WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(evtrec.what, 0);
  wndproc(h, WM_LBUTTONDOWN, 1, 0);
  EXPECT_EQ(evtrec.what, 1);
  wndproc(h, WM_LBUTTONUP, 0, 0);
}

TEST_F(Ports, VirtualWaitsAreInstantAndEndOnTime) {
  clock_set_virtual(true);
  const uint64_t t0 = clock_ns();
  waitev(86400, 0);  // a day
  EXPECT_GE(clock_ns() - t0, 86400ull * 1000000000ull);
  EXPECT_LT(clock_ns() - t0, 86401ull * 1000000000ull);
  waitev(2147400000, 0);  // far beyond 2^31 ms: no overflow
  EXPECT_GE(clock_ns() - t0, 2147400000ull * 1000000000ull);
  clock_set_virtual(false);
}

TEST_F(Ports, ScriptKeyNames) {
  struct {
    const char* name;
    uint32_t msg, wp;
    uint16_t keys;
  } cases[] = {{"f10", WM_SYSKEYDOWN, VK_F10, 0},     {"f1", WM_KEYDOWN, VK_F1, 0},
               {"ctrl+c", WM_CHAR, 3, MK_CTRL},       {"alt+w", WM_SYSCHAR, 'w', MK_ALT},
               {"shift+home", WM_KEYDOWN, VK_HOME, MK_SHIFT}, {"enter", WM_CHAR, 13, 0}};
  for (auto& c : cases) {
    clrmsgs();
    ASSERT_TRUE(postkeyname(c.name)) << c.name;
    Msg m;
    ASSERT_TRUE(peekmsg(&m, 0, 0, 1)) << c.name;
    EXPECT_EQ(m.message, c.msg) << c.name;
    EXPECT_EQ(m.wParam, c.wp) << c.name;
    EXPECT_EQ(m.keys, c.keys) << c.name;
  }
  EXPECT_FALSE(postkeyname("nosuchkey"));
  EXPECT_EQ(scriptwin("comm"), 0);
  EXPECT_EQ(scriptwin("TEXT"), 1);
  EXPECT_EQ(scriptwin("7"), -1);
}

#ifdef PELIX_HAVE_SDL2
// The sdl backend on SDL's dummy video driver: SDL events pushed, our
// messages checked.
class Sdl : public Ports {
 protected:
  static Backend* sdl() {
    static Backend* b = [] {
      setenv("SDL_VIDEODRIVER", "dummy", 1);
      return mksdl(true);
    }();
    return b;
  }
  void SetUp() override {
    Ports::SetUp();
    ASSERT_NE(sdl(), nullptr);
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    clrmsgs();
  }
  static void key(SDL_Keycode k, uint16_t mod) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = k;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
  }
  // The key code that the queued messages make, through the window
  // procedure and dokey.
  static int code() {
    sdl()->pump(KEY_POLL);
    return getkey(1);
  }
};

TEST_F(Sdl, KeysBecomeOurMessages) {
  key(SDLK_F10, 0);
  EXPECT_EQ(code(), 196);
  key(SDLK_ESCAPE, 0);  // a key and a character
  sdl()->pump(KEY_POLL);
  Msg m;
  ASSERT_TRUE(peekmsg(&m, 0, 0, 1));
  EXPECT_EQ(m.message, WM_KEYDOWN);
  EXPECT_EQ(m.wParam, VK_ESCAPE);
  ASSERT_TRUE(peekmsg(&m, 0, 0, 1));
  EXPECT_EQ(m.message, WM_CHAR);
  EXPECT_EQ(m.wParam, 27u);
  key(SDLK_c, KMOD_LCTRL);
  sdl()->pump(KEY_POLL);
  ASSERT_TRUE(peekmsg(&m, 0, 0, 0));
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(getkey(1), 3);
  EXPECT_TRUE(state & ST_INTR);
  state = 0;
  key(SDLK_w, KMOD_LALT);
  sdl()->pump(KEY_POLL);
  ASSERT_TRUE(peekmsg(&m, 0, 0, 1));
  dispmsg(&m);
  EXPECT_EQ(evtrec.what, 10);
  EXPECT_EQ(evtrec.modifiers, MK_ALT);
  EXPECT_EQ(evtkey(1, 0), 196);
  key(SDLK_RETURN, 0);
  EXPECT_EQ(code(), 13);
  key(SDLK_3, KMOD_LCTRL);  // Ctrl+digit: the digit with Ctrl
  EXPECT_EQ(code(), 189);
  SDL_Event t{};
  t.type = SDL_TEXTINPUT;
  std::strcpy(t.text.text, "q");
  SDL_PushEvent(&t);
  EXPECT_EQ(code(), 'q');
  // Closing the native window asks the main window to close.
  SDL_Event q{};
  q.type = SDL_QUIT;
  SDL_PushEvent(&q);
  sdl()->pump(KEY_POLL);
  ASSERT_TRUE(peekmsg(&m, 0, 0, 1));
  EXPECT_EQ(m.message, WM_CLOSE);
  EXPECT_EQ(m.hwnd, winhwnd(2));
}

TEST_F(Sdl, TypedTextWaitsWhileTheQueueIsFull) {
  // 3,000 characters of text events (a paste), then Ctrl-C: the text stops
  // at the queue's reserve and waits in SDL's queue, Ctrl-C comes at once,
  // and the text comes in whole and in order as the program takes messages.
  std::string typed;
  for (int i = 0; i < 100; i++) {
    SDL_Event t{};
    t.type = SDL_TEXTINPUT;
    std::string part;
    for (int k = 0; k < 30; k++) part += static_cast<char>('a' + (i + k) % 26);
    std::strcpy(t.text.text, part.c_str());
    typed += part;
    SDL_PushEvent(&t);
  }
  key(SDLK_c, KMOD_LCTRL);
  while (sdl()->pump(KEY_POLL) > 0 && msgroom() >= MSGRESERVE) {
  }
  EXPECT_GE(msgroom(), MSGRESERVE - 32);
  EXPECT_LT(msgroom(), MSGRESERVE);
  std::string got;
  bool intr = false;
  for (int guard = 0; guard < 100000; guard++) {
    Msg m;
    if (!peekmsg(&m, 0, 0, 1)) {
      if (sdl()->pump(KEY_POLL) <= 0) break;
      continue;
    }
    if (m.wParam == 3) {
      intr = true;
      EXPECT_LT(got.size(), typed.size() / 2);  // not behind the whole text
    } else {
      got += static_cast<char>(m.wParam);
    }
  }
  EXPECT_TRUE(intr);
  EXPECT_EQ(got, typed);
}

TEST_F(Sdl, MouseInAChildWindowsClientCoordinates) {
  const int n = makwin(-1, 4, 0, 0, "CHILD", rect, 1, 1);
  setwin(n);
  int ox, oy;
  ASSERT_TRUE(wm_origin(winhwnd(n), &ox, &oy));
  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = SDL_BUTTON_LEFT;
  e.button.x = ox + 12;
  e.button.y = oy + 34;
  SDL_PushEvent(&e);
  e.type = SDL_MOUSEBUTTONUP;
  SDL_PushEvent(&e);
  sdl()->pump(KEY_POLL);
  Msg m;
  ASSERT_TRUE(peekmsg(&m, 0, 0, 1));
  EXPECT_EQ(m.message, WM_LBUTTONDOWN);
  EXPECT_EQ(m.hwnd, winhwnd(n));
  EXPECT_EQ(m.lParam, (34u << 16) | 12u);
  EXPECT_EQ(m.wParam, 1u);
  ASSERT_TRUE(peekmsg(&m, 0, 0, 1));
  EXPECT_EQ(m.message, WM_LBUTTONUP);
  EXPECT_EQ(m.wParam, 0u);
  // A press on the window's close box closes it.
  int cx, cy, part = 0;
  for (int x = ox; x < ox + 200 && part != HT_CLOSE; x++) wm_hit(x, oy - 8, &cx, &cy, &part), e.button.x = x;
  ASSERT_EQ(part, HT_CLOSE);
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.y = oy - 8;
  SDL_PushEvent(&e);
  sdl()->pump(KEY_POLL);
  ASSERT_TRUE(peekmsg(&m, 0, 0, 1));
  EXPECT_EQ(m.message, WM_CLOSE);
  EXPECT_EQ(m.hwnd, winhwnd(n));
}
#endif

}  // namespace
