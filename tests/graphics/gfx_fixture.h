// A system table and a terminal for the drawing tests: lines run as the
// main loop runs them, and the items of declared images read back.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/args.h"
#include "core/blkbuf.h"
#include "core/element.h"
#include "graphics/drawstate.h"
#include "graphics/imgvars.h"
#include "graphics/writers.h"
#include "lang/docmnd.h"
#include "lang/mainloop.h"
#include "lang/names.h"
#include "tests/support/interp.h"
#include "ui/draw.h"
#include "ui/ports.h"
#include "ui/window.h"

// An image window with an off-screen port of a depth.
struct ImgWin {
  int n = -1;
  Wport* w = nullptr;
  PwRec* o = nullptr;
  ImgWin(int width, int height, int depth) {
    const int32_t r[4] = {10, 60, 10 + width - 1, 60 + height - 1};
    n = makwin(-1, 4, 0, 0, "IMGWIN", r, 1, 1);
    w = wport(n);
    setImagePtr(w, depth);
    o = static_cast<PwRec*>(heldptr(w->offscr));
  }
  ~ImgWin() { deletewin(n); }
  ImgWin(const ImgWin&) = delete;
  ImgWin& operator=(const ImgWin&) = delete;
  uint8_t* px() const { return static_cast<uint8_t*>(heldptr(o->pixels)); }
  uint8_t* row(int y) const { return px() + static_cast<size_t>(y) * o->rowbytes; }
  // Pixel (x, y) as an unsigned value of the port's depth.
  uint32_t at(int x, int y) const {
    const int by = o->depth == 24 ? 3 : o->depth / 8;
    uint32_t v = 0;
    std::memcpy(&v, row(y) + x * by, static_cast<size_t>(by));
    return v;
  }
  int count() const {
    int n = 0;
    for (int y = 0; y < o->rect[3]; y++)
      for (int x = 0; x < o->rect[2]; x++) n += at(x, y) != 0;
    return n;
  }
};

class Gfx : public ::testing::Test {
 protected:
  Term log;
  TermUse term;
  Bottom bottom;
  ScratchDir tmp{"/tmp/gfx"};  // the vector lists' files

  void SetUp() override {
    MakStk();
    rststk();
    term.begin(&log);
    clrflags();
    errlun = lstlun = dbglun = 1;
    bottom.keep();
    drwini();
    ASSERT_EQ(mksys(), 0);
    setstrv("tmpdir", tmp.path.c_str());
  }
  void TearDown() override {
    setwdc(nullptr);
    setPort(nullptr);
    term.end();
    drwini();
    bottom.back();
    state = 0;
  }
  // Runs one line as the main loop does.
  void run(const char* line) {
    state = 0;
    pacrst();
    savcmd(line, 0, 0, nullptr);
    int code = 0;
    int n = GETLIN(0, &code, 0x1F);
    if (n >= 1) DOCMND(code);
  }
  // Whether a finished terminal row holds the text.
  bool said(const std::string& text) const {
    for (const auto& r : log.rows)
      if (r.find(text) != std::string::npos) return true;
    return false;
  }
  // The items of a declared variable, as numbers.
  std::vector<double> items(const char* name) {
    int32_t e = sysent(name);
    if (e <= 0) {
      uint16_t fl = 0;
      e = GETSYM(name, static_cast<int>(std::strlen(name)), &fl, 1);
    }
    return e > 0 ? getitems(varrec(e)) : std::vector<double>{};
  }
};
