// Menus: reading menu descriptions, the menu library, opening and closing,
// writing a dialog back, and the guards on outside input.
#include "tests/lang/mac_fixture.h"

#include "core/units.h"
#include "lang/cstart.h"
#include "lang/docmnd.h"
#include "ui/dialog.h"
#include "ui/keymenu.h"
#include "ui/menu.h"
#include "ui/platform/dlgwin.h"
#include "ui/platform/menubar.h"

#include <cstring>
#include <string>

namespace {

class Menus : public MacRun {
 protected:
  Menus() : MacRun("/tmp/pelix-menu-") {}
  void SetUp() override {
    MacRun::SetUp();
    mnureset();
    if (mnulun > 0) closef(mnulun, 0);
    mnulun = -1;
    setstrv("menufile", (dir + "LIB").c_str());
  }
  void TearDown() override {
    mnureset();
    dlgreset();  // dialogs made straight from templates too
    if (mnulun > 0) closef(mnulun, 0);
    mnulun = -1;
    setstrv("menufile", "");
    MacRun::TearDown();
  }
  int read(const std::string& text, const char* name = "tst", int wanted = 0) {
    return rdmnutxt(text.data(), static_cast<int>(text.size()), name, false, wanted);
  }
  static std::string text(const MnuRec* r, uint16_t off, uint16_t len) { return mnutext(r, off, len); }
  static std::string rect(const DlgWid* w) {
    return std::to_string(w->rect[0]) + "," + std::to_string(w->rect[1]) + "," + std::to_string(w->rect[2]) + "," +
           std::to_string(w->rect[3]);
  }
  std::string output() {
    std::string r;
    for (const auto& s : kb.rows) r += s + "\n";
    kb.rows.clear();
    return r;
  }
};

TEST_F(Menus, DialogLinesGiveRectanglesKindsAndColours) {
  const int n = read(
      "% 0,0 99x50 4 red\n"
      "\n"
      "% 10,20 300x200 4 blue green 3\n"
      "\"Text\n"
      "\"more\n"
      "cmd one\n"
      "cmd two\n"
      "?help\n"
      "\n"
      "%\n"
      "\n"
      "% 5:15 7 9 6 Black\n"
      "\n"
      "% 1 2 3 4 16 nocolour\n");
  ASSERT_GT(n, 0);
  const MnuRec* r = mnurec(n);
  EXPECT_EQ(r->kind, MK_DIALOG | MK_FILE);
  EXPECT_STREQ(r->name, "tst");
  // The header: width 100 stays even; its colour is the background.
  EXPECT_EQ(r->rect[2], 99);
  EXPECT_EQ(r->bkcol, 0x0000FFu);
  // The header followed at once by an empty line leaves an empty widget.
  ASSERT_EQ(r->nwid, 5);
  EXPECT_EQ(dlgwid(r, 0)->kind, 0);
  const DlgWid* w = dlgwid(r, 1);
  EXPECT_EQ(rect(w), "10,20,310,220");
  EXPECT_EQ(w->kind, 4);
  EXPECT_EQ(w->fg, 0x00FF00u);
  EXPECT_EQ(w->bg, 0xFF0000u);
  EXPECT_EQ(w->number, 3);
  EXPECT_EQ(text(r, w->txtoff, w->txtlen), "Text\nmore");
  EXPECT_EQ(text(r, w->cmdoff, w->cmdlen), "cmd one\ncmd two");
  EXPECT_EQ(text(r, w->hlpoff, w->hlplen), "help");
  // No coordinates: 25 pixels below the previous widget, its kind, black on
  // the dialog's background.
  w = dlgwid(r, 2);
  EXPECT_EQ(rect(w), "10,45,310,245");
  EXPECT_EQ(w->kind, 4);
  EXPECT_EQ(w->fg, 0u);
  EXPECT_EQ(w->bg, 0x0000FFu);
  EXPECT_EQ(rect(dlgwid(r, 3)), "5,7,15,9");
  EXPECT_EQ(dlgwid(r, 3)->kind, 6);
  EXPECT_EQ(dlgwid(r, 3)->fg, 0u);  // names in any case
  EXPECT_EQ(rect(dlgwid(r, 4)), "1,2,3,4");
  EXPECT_EQ(dlgwid(r, 4)->bg, 0x0000FFu);  // an unknown name: the dialog's
  // The data block: texts padded to 8, the widgets, 256 tail bytes.
  EXPECT_EQ(r->widoff % 8, 0);
  EXPECT_EQ(r->size, r->widoff + 5u * 80u + 256u);
  // An odd width grows by one; a header with start text has no empty widget.
  const int m = read("% 0,0 100x50\nstart\n\n% 1,1 5x5\n", "odd");
  EXPECT_EQ(mnurec(m)->rect[2], 101);
  EXPECT_EQ(mnurec(m)->nwid, 1);
  EXPECT_EQ(text(mnurec(m), mnurec(m)->startoff, mnurec(m)->startlen), "start");
}

TEST_F(Menus, CoordinatesStopAtTheSixteenBitEdges) {
  // Numbers and sums past the 16-bit range the records carry stop at its
  // edges: 1 + 32766 is the last sum inside, 1 + 32767 one past it.
  const int n = read(
      "% 1,0 2147483647x1\n"
      "\n"
      "% 1,0 32766x1 4\n"
      "\n"
      "% 1,0 32767x1 4\n"
      "\n"
      "% -40000 5 40000 -32769 4\n"
      "\n"
      "%\n"
      "\n"
      "% 4294967297:-4294967297 32767 -32768\n");
  ASSERT_GT(n, 0);
  const MnuRec* r = mnurec(n);
  EXPECT_EQ(r->rect[2], 32767);  // the odd width cannot grow past the edge
  EXPECT_EQ(r->rect[3], 1);
  ASSERT_EQ(r->nwid, 6);
  EXPECT_EQ(rect(dlgwid(r, 1)), "1,0,32767,1");
  EXPECT_EQ(rect(dlgwid(r, 2)), "1,0,32767,1");
  EXPECT_EQ(rect(dlgwid(r, 3)), "-32768,5,32767,-32768");
  EXPECT_EQ(rect(dlgwid(r, 4)), "-32768,30,32767,-32743");
  EXPECT_EQ(rect(dlgwid(r, 5)), "32767,32767,-32768,-32768");
  // Resource-script units double into pixels, and stop there too.
  const std::string rc =
      "IDD_DIALOG1 DIALOG DISCARDABLE  0, 0, 1073741824, 95\n"
      "BEGIN\n"
      "    PUSHBUTTON      \"a\",1,268435456,0,1,1\n"
      "    PUSHBUTTON      \"b\",2,16383,0,1,1\n"
      "    PUSHBUTTON      \"c\",3,16384,-16384,1,1\n"
      "END\n";
  const int m = rdmnutxt(rc.data(), static_cast<int>(rc.size()), "wide", true, 0);
  ASSERT_GT(m, 0);
  r = mnurec(m);
  EXPECT_EQ(r->rect[2], 32767);
  EXPECT_EQ(r->rect[3], 190);
  ASSERT_EQ(r->nwid, 3);
  EXPECT_EQ(rect(dlgwid(r, 0)), "32767,0,32767,2");
  EXPECT_EQ(rect(dlgwid(r, 1)), "32766,0,32767,2");
  EXPECT_EQ(rect(dlgwid(r, 2)), "32767,-32768,32767,-32766");
}

TEST_F(Menus, TextAndKeyItems) {
  const int n = read("(\nstart a\nstart b\n\n)\nstop\n\n\"One\nc1\n\n\"(-\n\n\"\n\n?only help\n");
  ASSERT_GT(n, 0);
  const MnuRec* r = mnurec(n);
  EXPECT_EQ(r->kind & 15, MK_TEXT);
  EXPECT_EQ(text(r, r->startoff, r->startlen), "start a\nstart b");
  EXPECT_EQ(text(r, r->stopoff, r->stoplen), "stop");
  ASSERT_EQ(r->nwid, 4);
  EXPECT_EQ(text(r, mnuwid(r, 0)->txtoff, mnuwid(r, 0)->txtlen), "One");
  EXPECT_EQ(text(r, mnuwid(r, 3)->hlpoff, mnuwid(r, 3)->hlplen), "only help");
  // Key lines: E 0, F n 1 + n, M n 12 + n, anything else 255.
  const int k = read("E\nesc\n\nf1 the rest is not read\none\n\nF10\nten\n\nM3\nm\n\nQ\nq\n");
  ASSERT_GT(k, 0);
  const MnuRec* kr = mnurec(k);
  EXPECT_EQ(kr->kind & 15, MK_KEY);
  const int keys[] = {0, 2, 11, 15, 255};
  for (int i = 0; i < 5; i++) EXPECT_EQ(mnuwid(kr, i)->key, keys[i]) << i;
  EXPECT_EQ(text(kr, mnuwid(kr, 1)->cmdoff, mnuwid(kr, 1)->cmdlen), "one");
  // Keys up to 254 are kept; one past it, a number past a long, or one whose
  // sum with 1 or 12 would pass a long give 255, and the menu still loads.
  const int b = read("F253\na\n\nF254\nb\n\nM242\nc\n\nM243\nd\n\nF-1\ne\n\nF-2\nf\n\nM-12\ng\n\n"
                     "F100000000000000000000000\nh\n\nM9223372036854775807\ni\n\nM-9223372036854775808\nj\n\n"
                     "M300\nk\n");
  ASSERT_GT(b, 0);
  const MnuRec* br = mnurec(b);
  const int bkeys[] = {254, 255, 254, 255, 0, 255, 0, 255, 255, 255, 255};
  ASSERT_EQ(br->nwid, 11);
  for (int i = 0; i < 11; i++) EXPECT_EQ(mnuwid(br, i)->key, bkeys[i]) << i;
  EXPECT_EQ(text(br, mnuwid(br, 10)->cmdoff, mnuwid(br, 10)->cmdlen), "k");
  // A start block before the first item makes a text menu of key lines.
  EXPECT_EQ(mnurec(read("(\nx\n\nF1\ncmd\n"))->kind & 15, MK_TEXT);
}

TEST_F(Menus, SyntaxErrorsKindsAndFullHalves) {
  kb.rows.clear();
  EXPECT_EQ(read("\"One\ncmd\n\"late text\n", "a"), -1);
  EXPECT_EQ(read("\"One\n?help\ncmd after help\n", "b"), -1);
  EXPECT_EQ(read("(\nstart\n?no help here\n", "c"), -1);
  EXPECT_EQ(read("% 0 0 10 10\n\n%\n", "d"), -1);  // no widget before it
  EXPECT_EQ(read("% 1 2\n", "e"), -1);           // a header needs its rectangle
  const std::string out = output();
  EXPECT_NE(out.find("Menu syntax error on line 3 of a\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Menu syntax error on line 3 of b\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Menu syntax error on line 3 of c\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Menu syntax error on line 3 of d\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Menu syntax error on line 1 of e\n"), std::string::npos) << out;
  for (int k = 1; k <= NMENUS; k++) EXPECT_EQ(mnurec(k), nullptr);  // all released
  // A wanted kind that the file does not have: error 203.
  state = 0;
  EXPECT_EQ(read("\"x\ny\n", "f", 2), -1);
  EXPECT_EQ(getres(0), -203.0f);
  EXPECT_GT(read("\"x\ny\n", "g", 17), 0);  // the low four bits: 1
  // Texts past their half of the work buffer: error 98.
  std::string big;
  for (int i = 0; i < 70; i++) big += "\"" + std::string(298, 'a' + i % 26) + "\n";
  state = 0;
  EXPECT_EQ(read(big, "h"), -1);
  EXPECT_EQ(getres(0), -98.0f);
  state = 0;
}

TEST_F(Menus, FieldsAndCommandLengths) {
  char a[] = "10,20 300x200 4, black";
  char* f[10];
  int nf = 0;
  EXPECT_EQ(fldspl(a, static_cast<int>(std::strlen(a)), 1, &nf, f, 10), 2);
  ASSERT_EQ(nf, 6);
  EXPECT_STREQ(f[2], "300");
  EXPECT_STREQ(f[3], "200");
  EXPECT_STREQ(f[5], "black");
  char b[] = "10:310 20 220";
  EXPECT_EQ(fldspl(b, static_cast<int>(std::strlen(b)), 1, &nf, f, 10), 1);
  EXPECT_EQ(nf, 4);
  EXPECT_STREQ(f[1], "310");
  // Without the coordinate form ":" and "x" are characters; quotes and
  // backslashes keep separators.
  char c[] = "a:b 1x2 \"c d\",e\\ f";
  EXPECT_EQ(fldspl(c, static_cast<int>(std::strlen(c)), 0, &nf, f, 10), 0);
  ASSERT_EQ(nf, 4);
  EXPECT_STREQ(f[0], "a:b");
  EXPECT_STREQ(f[2], "\"c d\"");
  EXPECT_STREQ(f[3], "e\\ f");
  // "x" separates only inside the third field.
  char d[] = "1 2 x3 4x5";
  fldspl(d, static_cast<int>(std::strlen(d)), 1, &nf, f, 10);
  EXPECT_EQ(nf, 4);
  EXPECT_STREQ(f[2], "x3");
  EXPECT_EQ(cmdlen("ab;cd", 10), 3);
  EXPECT_EQ(cmdlen("'a;b';c", 10), 6);
  EXPECT_EQ(cmdlen("\"a\\\";b\";c", 20), 8);
  EXPECT_EQ(cmdlen("abc", 10), 11);
  EXPECT_EQ(cmdlen("abc;", 3), 4);  // the ";" past the limit is not seen
}

TEST_F(Menus, LibraryEntriesChainAndDelete) {
  const int n = read("\"x\ncmd\n", "m");
  ASSERT_GT(n, 0);
  MnuRec* r = mnurec(n);
  const uint32_t esize = (r->size + MNUREC + 7) & ~7u;
  for (int i = 0; i <= 320; i++) {
    std::snprintf(r->name, sizeof r->name, "m%d", i);
    ASSERT_EQ(mnustor(n), 0) << i;
  }
  EXPECT_EQ(mlibhdr(16), 321u);
  EXPECT_EQ(mlibhdr(28), 32u);
  uint32_t pos = 0, size = 0, at = 0;
  ASSERT_EQ(fndent("m0", &pos, &size, &at), 0);
  EXPECT_EQ(at, 32u);
  EXPECT_EQ(pos, MLIBSTART);
  EXPECT_EQ(size, esize);
  ASSERT_EQ(fndent("m319", &pos, &size, &at), 0);
  EXPECT_EQ(at, 32u + 319u * 32u);  // the last entry after the header
  // The 321st goes to the end of the file, ahead of its menu.
  const uint32_t end320 = MLIBSTART + 320 * esize;
  ASSERT_EQ(fndent("m320", &pos, &size, &at), 0);
  EXPECT_EQ(at, end320);
  EXPECT_EQ(pos, end320 + 32);
  EXPECT_EQ(mlibhdr(20), end320 + 32 + esize);
  // Deleting frees the entry; the next store takes it, the count goes back.
  ASSERT_EQ(delmnu("m5"), 0);
  EXPECT_EQ(mlibhdr(16), 320u);
  EXPECT_EQ(mlibhdr(24), esize);
  EXPECT_EQ(fndent("m5", &pos, &size, &at), -1);
  std::snprintf(r->name, sizeof r->name, "new");
  ASSERT_EQ(mnustor(n), 0);
  ASSERT_EQ(fndent("new", &pos, &size, &at), 0);
  EXPECT_EQ(at, 32u + 5u * 32u);
  EXPECT_EQ(mlibhdr(16), 321u);
  // Storing a name again replaces it: one entry, the old data freed.
  std::snprintf(r->name, sizeof r->name, "m7");
  ASSERT_EQ(mnustor(n), 0);
  EXPECT_EQ(mlibhdr(16), 321u);
  EXPECT_EQ(mlibhdr(24), 2 * esize);
  int found = 0;
  for (uint32_t p = 0; fndent(nullptr, nullptr, nullptr, &p) == 0;) {
    const std::string nm = slurp(dir + "LIB").substr(p, 16).c_str();
    found += nm == "m7";
  }
  EXPECT_EQ(found, 1);
  // A stored menu loads back whole; a name nobody has cannot be deleted.
  ASSERT_EQ(fndent("m7", &pos, &size, &at), 0);
  const int k = rdmnu(pos, size);
  ASSERT_GT(k, 0);
  EXPECT_EQ(text(mnurec(k), mnuwid(mnurec(k), 0)->cmdoff, mnuwid(mnurec(k), 0)->cmdlen), "cmd");
  EXPECT_EQ(mnurec(k)->libpos, pos + MNUREC);
  EXPECT_EQ(delmnu("nobody"), -1);
}

// A library written by hand: its header, entries and stored menus.
struct Lib {
  std::string b;
  explicit Lib(uint32_t entries) : b(MLIBSTART, '\0') {
    std::memcpy(&b[0], "#PLXMNU", 8);
    put16(8, 10);
    put32(12, 320);
    put32(16, entries);
    put32(28, entries ? 32 : 0);
  }
  void put16(size_t at, uint32_t v) { b[at] = static_cast<char>(v), b[at + 1] = static_cast<char>(v >> 8); }
  void put32(size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<char>(v >> (8 * i));
  }
  void entry(int i, const char* name, uint32_t size, uint32_t pos, uint32_t next) {
    const size_t at = 32 + 32 * static_cast<size_t>(i);
    std::memcpy(&b[at], name, std::strlen(name));
    put32(at + 16, size);
    put32(at + 20, pos);
    put32(at + 28, next);
  }
};

TEST_F(Menus, LibraryAsOutsideInput) {
  // A chain that returns to itself ends; names are still found before it.
  Lib cyc(2);
  cyc.entry(0, "a", 0, 0, 64);
  cyc.entry(1, "b", 0, 0, 32);
  cyc.put32(20, static_cast<uint32_t>(cyc.b.size()));
  file("LIB", cyc.b);
  ASSERT_TRUE(libopen(false));
  uint32_t pos = 0, size = 0, at = 0;
  EXPECT_EQ(fndent("b", &pos, &size, &at), 0);
  EXPECT_EQ(fndent("zz", &pos, &size, &at), -1);
  const int listed = liblist(lstlun);  // the listing's walk is bounded
  EXPECT_GE(listed, 2);
  EXPECT_LE(listed, static_cast<int>(cyc.b.size() / 32 + 2));
  closef(mnulun, 0);
  mnulun = -1;

  // A stored menu must lie inside the file and its record inside its entry.
  Lib bad(1);
  const uint32_t mpos = MLIBSTART;
  std::string rec(MNUREC, '\0');
  std::memcpy(&rec[0], "x", 1);
  auto set32 = [&](std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) s[at + i] = static_cast<char>(v >> (8 * i));
  };
  set32(rec, 16, 256 + 16);       // data size: no texts, one text widget
  set32(rec, 20, mpos + MNUREC);  // data position
  rec[24] = MK_TEXT | MK_FILE;
  rec[38] = 1;                    // one widget
  std::string data(256 + 16, '\0');
  data[2] = 0;
  const uint32_t esize = (MNUREC + 272 + 7) & ~7u;
  bad.entry(0, "x", esize, mpos, 0);
  bad.b += rec + data;
  bad.put32(20, static_cast<uint32_t>(bad.b.size()));
  file("LIB", bad.b);
  ASSERT_TRUE(libopen(false));
  state = 0;
  const int good = rdmnu(mpos, esize);
  EXPECT_GT(good, 0);  // an empty text widget at offset 0 is sound
  EXPECT_EQ(rdmnu(mpos, esize + 4096), -1);  // past the file's end
  EXPECT_EQ(getres(0), -97.0f);
  closef(mnulun, 0);
  mnulun = -1;
  // A text that runs into the widgets, a widget array past the data, a data
  // block larger than its entry: each refused.
  for (int fault = 0; fault < 3; fault++) {
    std::string r2 = rec, d2 = data;
    if (fault == 0) {
      d2[2] = 4, d2[4] = 2;  // text at 4, 2 characters: past the texts (0 bytes)
    } else if (fault == 1) {
      r2[38] = 20;  // 20 widgets in a block that holds one
    } else {
      set32(r2, 16, 4096);
    }
    Lib f(1);
    f.entry(0, "x", esize, mpos, 0);
    f.b += r2 + d2;
    f.put32(20, static_cast<uint32_t>(f.b.size()));
    file("LIB", f.b);
    mnureset();
    ASSERT_TRUE(libopen(false));
    state = 0;
    EXPECT_EQ(rdmnu(mpos, esize), -1) << fault;
    EXPECT_EQ(getres(0), -97.0f) << fault;
    closef(mnulun, 0);
    mnulun = -1;
  }
  // A file without the magic is refused (error 97).
  file("LIB", std::string(64, 'z'));
  state = 0;
  EXPECT_FALSE(libopen(false));
  state = 0;
}

TEST_F(Menus, SlotsOpeningAndClosing) {
  // Two dialogs: the second keeps the first open as its previous one; closing
  // it makes the first current again.
  const int d1 = read("% 0,0 50x50\n\n% 1,1 10x10 4\n\"A\n", "d1");
  const int d2 = read("% 0,0 50x50\n\n% 1,1 10x10 4\n\"B\n", "d2");
  ASSERT_GT(d1, 0);
  ASSERT_GT(d2, 0);
  EXPECT_EQ(GeTMNu(d1, 1), 1);
  EXPECT_EQ(GeTMNu(d2, 1), 1);
  EXPECT_EQ(mnurec(d2)->prev, d1);
  EXPECT_TRUE(mnurec(d1)->active);
  EXPECT_EQ(curdlg, d2);
  EXPECT_NE(dlgwinof(d1), 0);
  EXPECT_EQ(GeTMNu(d2, 0), 0);
  EXPECT_EQ(curdlg, d1);
  EXPECT_EQ(dlgwinof(d2), 0);
  // A second key menu closes the first; its stop text runs before the new
  // start text.
  const int k1 = read("E\n\"e1\"\n\n)\n\"k1 stop\"\n", "k1");
  const int k2 = read("E\n\"e2\"\n\n(\n\"k2 start\"\n", "k2");
  ASSERT_GT(k1, 0);
  ASSERT_GT(k2, 0);
  clrpst(&dfltq);
  GeTMNu(k1, 1);
  GeTMNu(k2, 1);
  EXPECT_FALSE(mnurec(k1)->active);
  EXPECT_EQ(curkey, k2);
  char line[LINBUF];
  ASSERT_GT(gtpstr(&dfltq, line), 0);
  EXPECT_STREQ(line, "\"k1 stop\"");
  ASSERT_GT(gtpstr(&dfltq, line), 0);
  EXPECT_STREQ(line, "\"k2 start\"");
  int len = 0;
  EXPECT_STREQ(fncstr(155, -1, &len), "\"e2\"");
  clrpst(&dfltq);
  // A record built in memory (no file flag) goes when it closes.
  mnurec(d1)->kind = MK_DIALOG;
  GeTMNu(d1, -99);
  EXPECT_EQ(mnurec(d1), nullptr);
  // With all 42 slots taken by open menus a new one is refused (error 98);
  // one that is closed is taken over.
  mnureset();
  for (int i = 1; i <= NMENUS; i++) {
    const int m = newmnu();
    ASSERT_EQ(m, i);
    mnurec(m)->active = 1;
  }
  state = 0;
  EXPECT_EQ(newmnu(), -1);
  EXPECT_EQ(getres(0), -98.0f);
  mnurec(17)->active = 0;
  state = 0;
  EXPECT_EQ(newmnu(), 17);
  for (int i = 1; i <= NMENUS; i++) mnurec(i)->active = 0;
}

TEST_F(Menus, BarPositionsAndItems) {
  // Only the first 128 items of a text menu go on its popup.
  std::string t;
  for (int i = 0; i < 130; i++) t += "\"i" + std::to_string(i) + "\nc\n\n";
  const int n = read(t, "big");
  ASSERT_EQ(mnurec(n)->nwid, 130);
  GeTMNu(n, 1);
  uint32_t id = 0;
  EXPECT_TRUE(mbarfind("Big", "i127", &id));
  EXPECT_EQ(id, 1u * 128u + 127u);
  EXPECT_FALSE(mbarfind("Big", "i128", &id));
  // A pick queues the item's command and answers Enter; Shift only shows the
  // help; a position without a menu queues nothing.
  clrpst(&dfltq);
  EXPECT_EQ(menuevent(128 + 3, 0, MK_SHIFT), 13);
  EXPECT_FALSE(qpend(&dfltq));
  EXPECT_EQ(menuevent(128 + 3, 0, 0), 13);
  EXPECT_TRUE(qpend(&dfltq));
  clrpst(&dfltq);
  EXPECT_EQ(menuevent(5 * 128, 0, 0), 13);
  EXPECT_FALSE(qpend(&dfltq));
  // The hold switch keeps the command; key 128 fetches it once.
  holdsw = 1;
  menuevent(128 + 2, 0, 0);
  EXPECT_FALSE(qpend(&dfltq));
  EXPECT_EQ(waitsel(), 4);
  int len = 0;
  EXPECT_STREQ(fncstr(128, -1, &len), "c");
  EXPECT_STREQ(fncstr(128, -1, &len), "");
  holdsw = 0;
  // Twenty positions; closing frees one for the next menu.
  for (int i = 2; i <= NBAR + 1; i++) {
    const int m = read("\"x\ny\n", ("b" + std::to_string(i)).c_str());
    GeTMNu(m, 1);
    EXPECT_EQ(mnurec(m)->barwin, i <= NBAR ? i : 0) << i;
  }
  EXPECT_EQ(mbartitles().size(), static_cast<size_t>(NBAR));
  GeTMNu(n, 0);
  EXPECT_EQ(mbar[1], 0);
  const int late = read("\"x\ny\n", "late");
  GeTMNu(late, 1);
  EXPECT_EQ(mnurec(late)->barwin, 1);
  EXPECT_EQ(mnunxt(late, 1, 1), mbar[2]);
  EXPECT_EQ(mnunxt(late, -1, 1), mbar[NBAR]);
}

TEST_F(Menus, WritingBackKeepsTheLayout) {
  file("rt.mnu",
       "% 3,4 200x100 4 gray\n"
       "\n"
       ")\n"
       "stop one\n"
       "\n"
       "% 10,10 50x20 4\n"
       "\"Go\n"
       "\"two\n"
       "run\n"
       "?help\n"
       "\n"
       "% 10,40 51x21 5\n");
  type("menu load rt\nshow dialog rt\n");
  const std::string once = output();
  EXPECT_NE(once.find("% 3,4 201x100\n\n)\nstop one\n\n% 10,10 50x20 4\n\"Go\n\"two\nrun\n?help\n\n% 10,40 51x21 5\n"),
            std::string::npos)
      << once;
  // The listing read back as a menu file gives the same listing.
  std::string again = once.substr(once.find("% 3,4"));
  again = again.substr(0, again.find("PELIX>"));
  file("rt2.mnu", again);
  type("menu load rt2\nshow dialog rt2\n");
  std::string twice = output();
  twice = twice.substr(twice.find("% 3,4"));
  twice = twice.substr(0, twice.find("PELIX>"));
  EXPECT_EQ(twice, again);
  // Scale factors multiply x and widths, y, and the widgets' heights.
  type("show dialog rt 0 2 3 0.5\n");
  const std::string scaled = output();
  EXPECT_NE(scaled.find("% 6,12 403x302\n"), std::string::npos) << scaled;
  EXPECT_NE(scaled.find("% 20,30 101x9 4\n"), std::string::npos) << scaled;
  type("show dialog nothere\n");
  EXPECT_NE(output().find("Menu nothere not found\n"), std::string::npos);
}

TEST_F(Menus, TheLastResortOpensAndClosesANamedMenu) {
  file("lr.mnu", "(\nftype \"lr open\\n\"\n\n\"x\ny\n");
  type("menu lr\nmenu 0 lr\n");
  const int n = fndmnuname("lr", nullptr, nullptr);
  ASSERT_GT(n, 0);
  int code = 0;
  ASSERT_TRUE(prsline("lr", PF_PARSE | PF_ORDER, &code));
  DOCMND(code);  // without trace bit 2: no menu
  EXPECT_FALSE(mnurec(n)->active);
  trcmsk = 2;
  ASSERT_TRUE(prsline("lr", PF_PARSE | PF_ORDER, &code));
  DOCMND(code);
  EXPECT_TRUE(mnurec(n)->active);
  ASSERT_TRUE(prsline("lr", PF_PARSE | PF_ORDER, &code));
  DOCMND(code);
  EXPECT_FALSE(mnurec(n)->active);
  trcmsk = 0;
  clrpst(&dfltq);
}

}  // namespace
