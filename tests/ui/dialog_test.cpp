// Dialogs and alerts: controls made from widgets, values kept in widgets,
// the dialog function's bounds, program-drawn items, alert box layout and
// answers, window commands.
#include "tests/lang/mac_fixture.h"

#include "ui/alert.h"
#include "ui/dialog.h"
#include "ui/menu.h"
#include "ui/platform/dlgwin.h"
#include "ui/platform/wm.h"

#include <cstring>
#include <functional>
#include <string>

namespace {

// A keyboard that first looks at the screen: while an alert waits, `look`
// runs once, then the typed keys come.
struct Looking : Term {
  std::function<void()> look;
  int keyin(int how) override {
    if (how == KEY_WAIT && look) {
      auto f = look;
      look = nullptr;
      f();
    }
    return Term::keyin(how);
  }
};

class Dialogs : public MacRun {
 protected:
  Dialogs() : MacRun("/tmp/pelix-dlg-") {}
  Looking eye;
  Backend* before = nullptr;
  void SetUp() override {
    MacRun::SetUp();
    mnureset();
  }
  // The alerts' tests read the keys of `eye`.
  void looking() { before = setbackend(&eye); }
  void TearDown() override {
    if (before) setbackend(before);
    Alertb(nullptr, nullptr, -1, nullptr, nullptr, 0, 0, 0, 0);
    mnureset();
    dlgreset();  // dialogs made straight from templates too
    MacRun::TearDown();
  }
  int open(const std::string& text, const char* name = "dlg") {
    const int n = rdmnutxt(text.data(), static_cast<int>(text.size()), name, false, 0);
    if (n > 0) GeTMNu(n, 1);
    return n;
  }
  // The rectangle of control id of a dialog as "x,y,w,h".
  static std::string at(int32_t d, int id) {
    int x = 0, y = 0, w = 0, h = 0;
    if (!dlgrect(d, id, &x, &y, &w, &h)) return "none";
    return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h);
  }
};

constexpr char DLG[] =
    "% 100,120 200x99\n"
    "start\n"
    "\n"
    "% 10,10 80x20 26\n"
    "\"no control\n"
    "\n"
    "% 10,40 80x20 5\n"
    "\"Check\n"
    "\n"
    "% 10,70 120x20 16\n"
    "\"edit\n"
    "\n"
    "% 110,10 40x16 8\n"
    "\"Label\n";

TEST_F(Dialogs, ControlsValuesAndTheWindow) {
  const int n = open(DLG);
  ASSERT_GT(n, 0);
  const int32_t d = dlgwinof(n);
  ASSERT_NE(d, 0);
  // The client area is exactly the rectangle (width 201 made even: 202).
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(wm_getpos(d, &x, &y, &w, &h));
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 120);
  EXPECT_EQ(w, 202);
  EXPECT_EQ(h, 100);
  // A widget of kind 26 has no control; the others keep index + 1.
  EXPECT_FALSE(dlghas(d, 1));
  EXPECT_EQ(dlgclass(d, 2), CC_BUTTON);
  EXPECT_EQ(dlgclass(d, 3), CC_EDIT);
  EXPECT_EQ(dlgclass(d, 4), CC_STATIC);
  EXPECT_EQ(at(d, 2), "10,40,80,20");
  EXPECT_EQ(at(d, 4), "110,10,40,16");  // odd sizes lose a pixel in dialog units
  // The window record: a dialog window showing menu n.
  const Wport* p = wport(winnum(d));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->type, 96);
  EXPECT_EQ(p->flags, 0x240);
  EXPECT_EQ(p->wnum, n);
  // Clicks flip the check box; its value stays in the widget after closing.
  dlgclick(d, 2);
  dlgclick(d, 2);
  dlgclick(d, 2);
  for (Msg m; peekmsg(&m, WM_MOUSEMOVE, WM_MOUSELAST, 1);) dlgmessage(d, &m);
  EXPECT_EQ(dlgwid(mnurec(n), 1)->value, 1.0f);
  EXPECT_EQ(dlgchecked(d, 2), 1);
  GeTMNu(n, 0);
  EXPECT_EQ(dlgwinof(n), 0);
  EXPECT_EQ(dlgwid(mnurec(n), 1)->value, 1.0f);
  GeTMNu(n, 1);
  EXPECT_EQ(dlgchecked(dlgwinof(n), 2), 1);  // shown again as it was
}

TEST_F(Dialogs, ItemsAreBoundedAndTheTailNeverOverrun) {
  // The edit field has a command: its text is the one the tail holds.
  std::string withcmd = DLG;
  withcmd.replace(withcmd.find("\"edit\n"), 6, "\"edit\nr1 = 1\n");
  const int n = open(withcmd.c_str());
  MnuRec* r = mnurec(n);
  // An edit field's text: at most 255 characters and a NUL in the tail.
  const std::string longtext(300, 'q');
  ASSERT_EQ(dialog(r, n, 4, 2, nullptr, const_cast<char*>(longtext.c_str())), 0);
  EXPECT_EQ(std::strlen(mnutail(r)), 255u);
  EXPECT_EQ(dlgtextstr(dlgwinof(n), 3), std::string(255, 'q'));
  // A change notification copies at most 255 characters too.
  dlgsetedit(dlgwinof(n), 3, std::string(400, 'z').c_str());
  for (Msg m; peekmsg(&m, WM_COMMAND, WM_COMMAND, 1);) dlgmessage(dlgwinof(n), &m);
  EXPECT_EQ(std::strlen(mnutail(r)), 255u);
  EXPECT_EQ(mnutail(r)[0], 'z');
  // Items outside the widgets are refused; the dialog function's list ends
  // at an item past the last widget.
  float v = 0;
  char t[256] = "1";
  EXPECT_EQ(dialog(r, n, 1, 0, &v, t), -1);
  EXPECT_EQ(dialog(r, n, 6, 0, &v, t), -1);
  EXPECT_EQ(dialog(r, n, 5, 0, &v, t), 2);
  EXPECT_STREQ(t, "Label");
  type("declare number k\nk = dialog(3, 1, 0, 1, 1, 1)\n");
  const std::string out = rows();
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
  // Items 3, 4 and 5 take values; the rest is past the widgets.
  EXPECT_EQ(dlgwid(r, 1)->value, 1.0f);
  EXPECT_STREQ(mnutext(r, dlgwid(r, 3)->txtoff, dlgwid(r, 3)->txtlen), "1");
}

TEST_F(Dialogs, ProgramDrawnItems) {
  const char pd[] = "% 0,0 200x100\n\n% 10,10 100x20 7\n\"h\n\n% 10,50 10x0 7\n\"flat\n";
  const int n = rdmnutxt(pd, static_cast<int>(sizeof pd - 1), "pd", false, 0);
  ASSERT_GT(n, 0);
  MnuRec* r = mnurec(n);
  r->drawn = 1;
  dlgwid(r, 1)->caretx = 1;  // horizontal
  dlgwid(r, 2)->value = 123.0f;
  GeTMNu(n, 1);
  const Wport* w = wport(r->barwin);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->type, 96);
  EXPECT_EQ(dlgwinof(n), 0);  // no dialog window of the platform
  // A click at the middle of the slider reads about 0.5.
  EvtRec e{};
  e.window = static_cast<int16_t>(r->barwin);
  e.what = 1;
  e.h = 60;
  e.v = 20;
  ASSERT_EQ(dlogSelect(&e), n);
  EXPECT_EQ(r->curitem, 2);
  dlgevt(n, &e);
  e.what = 2;
  dlgevt(n, &e);
  float v = 0;
  char t[256];
  dialog(r, n, 3, 0, &v, t);
  EXPECT_NEAR(v, 0.5, 0.001);
  // A slider of no length keeps its value (no division by zero).
  e.what = 1;
  e.h = 10;
  e.v = 50;
  ASSERT_EQ(dlogSelect(&e), n);
  EXPECT_EQ(r->curitem, 3);
  dlgevt(n, &e);
  e.what = 2;
  dlgevt(n, &e);
  EXPECT_EQ(dlgwid(r, 2)->value, 123.0f);
}

TEST_F(Dialogs, AlertLayoutAndAnswers) {
  looking();
  std::string y1, y5, x1, x4;
  eye.look = [&] {
    const int32_t d = dlgmodalwin();
    ASSERT_NE(d, 0);
    // Message line 2 (id 2), then buttons 3..7.
    int x = 0, y = 0, w = 0, h = 0;
    dlgrect(d, 3, &x, &y, &w, &h);
    y1 = std::to_string(y);
    x1 = std::to_string(x);
    dlgrect(d, 6, &x, &y, &w, &h);
    x4 = std::to_string(x);
    dlgrect(d, 7, &x, &y, &w, &h);
    y5 = std::to_string(y);
  };
  Term::keys(eye.typed, "\n");
  // Five buttons without a count: four in a row, the fifth below them.
  EXPECT_EQ(Alertb("One\nTwo", "A;B;C;D;!E", 0, "", nullptr, -1, -1, 0, 0), 5);
  EXPECT_LT(std::stoi(y1), std::stoi(y5));
  EXPECT_LT(std::stoi(x1), std::stoi(x4));
  // A count of one a row (the first character) stacks them; flags 16 lays
  // a row out from the right.
  eye.look = [&] {
    const int32_t d = dlgmodalwin();
    int x = 0, y = 0, ya = 0, xa = 0;
    dlgrect(d, 2, &xa, &ya, nullptr, nullptr);
    dlgrect(d, 3, &x, &y, nullptr, nullptr);
    EXPECT_EQ(xa, x);
    EXPECT_LT(ya, y);
  };
  Term::keys(eye.typed, "\n");
  EXPECT_EQ(Alertb("m", "\001A;B", 0, "", nullptr, -1, -1, 0, 0), 1);
  eye.look = [&] {
    const int32_t d = dlgmodalwin();
    int xa = 0, xb = 0;
    dlgrect(d, 2, &xa, nullptr, nullptr, nullptr);
    dlgrect(d, 3, &xb, nullptr, nullptr, nullptr);
    EXPECT_GT(xa, xb);
  };
  Term::keys(eye.typed, "\n");
  EXPECT_EQ(Alertb("m", "!A;B", 16, "", nullptr, -1, -1, 0, 0), 1);
  // Answers: a typed number, a typed name, Esc (no button), Ctrl-C.
  Term::keys(eye.typed, "3\n");
  EXPECT_EQ(Alertb("m", "!Save;Cancel;Discard", 0, "", nullptr, -1, -1, 0, 0), 3);
  Term::keys(eye.typed, "can\n");
  EXPECT_EQ(Alertb("m", "!Save;Cancel;Discard", 0, "", nullptr, -1, -1, 0, 0), 2);
  eye.typed.push_back(27);
  EXPECT_EQ(Alertb("m", "!Save;Cancel", 0, "", nullptr, -1, -1, 0, 0), 0);
  eye.typed.push_back(3);
  EXPECT_LT(Alertb("m", "!Save;Cancel", 0, "", nullptr, -1, -1, 0, 0), 0);
  EXPECT_TRUE(state & ST_INTR);
  state = 0;
  EXPECT_EQ(alrtmnu, 0);  // the box and its record are gone
  for (int k = 1; k <= NMENUS; k++) EXPECT_EQ(mnurec(k), nullptr);
  // The accept box: the edit field starts with the caller's text, all of it
  // taken over by typing; OK hands the text back.
  char buf[ALERTTXT] = "anon";
  Term::keys(eye.typed, "Ann\n");
  EXPECT_EQ(Alertb("Name", "!OK;Cancel", 2, "Accept", buf, -1, -1, 0, 0), 1);
  EXPECT_STREQ(buf, "Ann");
  // Cancel leaves it.
  std::strcpy(buf, "keep");
  eye.look = [&] {
    const int32_t d = dlgmodalwin();
    dlgsetedit(d, 2, "typed");
    dlgclick(d, 4);
  };
  EXPECT_EQ(Alertb("Name", "!OK;Cancel", 2, "accept it", buf, -1, -1, 0, 0), 2);
  EXPECT_STREQ(buf, "typed");
}

TEST_F(Dialogs, AboutBoxAndBoxesWithoutButtons) {
  looking();
  // Flags 4: the box stays open without buttons; kind -1 closes it and gives
  // its menu number less one.
  kb.rows.clear();
  EXPECT_EQ(Alertb(nullptr, nullptr, 4, nullptr, nullptr, -1, -1, 0, 0), 0);
  const int n = alrtmnu;
  ASSERT_GT(n, 0);
  EXPECT_NE(dlgwinof(n), 0);
  EXPECT_EQ(Alertb(nullptr, nullptr, -1, nullptr, nullptr, 0, 0, 0, 0), n - 1);
  EXPECT_EQ(alrtmnu, 0);
  // The about box: its title and version line, one OK button.
  std::string title, first;
  eye.look = [&] {
    const int32_t d = dlgmodalwin();
    first = dlgtextstr(d, 1);
    title = dlgtextstr(d, dlgbutton(d, "OK"));
  };
  Term::keys(eye.typed, "\n");
  EXPECT_EQ(Alertb(nullptr, nullptr, 1, nullptr, nullptr, -1, -1, 0, 0), 1);
  EXPECT_EQ(first, "PELIX -- Version 1.00.00");
  EXPECT_EQ(title, "OK");
}

TEST_F(Dialogs, WindowCommandsAndSteps) {
  looking();
  // A window's command text is queued on a click; the right button shows its
  // help in an alert titled "Help".
  clrpst(&dfltq);
  Wport* w = wport(0);
  ASSERT_NE(w, nullptr);
  int32_t a = 0, b = 0;
  ASSERT_GT(getstk(&a, 16, 1, 1, 0), 0);
  ASSERT_GT(getstk(&b, 16, 1, 1, 0), 0);
  std::strcpy(static_cast<char*>(stkptr(a)), "\"clicked\"");
  std::strcpy(static_cast<char*>(stkptr(b)), "the help");
  w->cmd = a;
  w->hlp = b;
  EvtRec e{};
  e.window = 0;
  EXPECT_EQ(DowinCmd(0, &e, 129, 0), 13);
  char line[LINBUF];
  ASSERT_GT(gtpstr(&dfltq, line), 0);
  EXPECT_STREQ(line, "\"clicked\"");
  kb.rows.clear();
  Term::keys(eye.typed, "\n");
  EXPECT_EQ(DowinCmd(0, &e, 130, 0), 0);
  EXPECT_FALSE(qpend(&dfltq));
  w->cmd = w->hlp = 0;
  putstk(a, 0, 0);
  putstk(b, 0, 0);
  // Up and Down step the current dialog's item, wrapping.
  const int n = open(DLG);
  MnuRec* r = mnurec(n);
  r->curitem = 2;
  itmstep(200);
  EXPECT_EQ(r->curitem, r->nwid - 1);
  itmstep(208);
  EXPECT_EQ(r->curitem, 2);
}

}  // namespace

namespace {

// A compiled resource file: the empty first entry, then one entry whose
// data is a dialog template (its 32-byte header: data size, header size).
std::string resfile(const std::vector<uint8_t>& tmpl) {
  std::string f(32, '\0');
  std::string h(32, '\0');
  const uint32_t ds = static_cast<uint32_t>(tmpl.size()), hs = 32;
  std::memcpy(&h[0], &ds, 4);
  std::memcpy(&h[4], &hs, 4);
  return f + h + std::string(tmpl.begin(), tmpl.end());
}

TEST_F(Dialogs, PredefinedTemplates) {
  DlgTmpl t;
  t.header(0x90C00000, 2, 10, 20, 100, 50, "pre");
  t.item(0x50010000, 5, 5, 40, 12, 1, CC_BUTTON, "OK");
  t.item(0x50000000, 5, 20, 40, 10, 7, CC_TRACKBAR, "");
  file("pre.res", resfile(t.bytes()));
  std::vector<uint8_t> got;
  ASSERT_EQ(rdpdlg((dir + "pre.res").c_str(), &got), 0);
  TmplInfo ti;
  ASSERT_TRUE(tmplparse(got.data(), got.size(), &ti));
  EXPECT_EQ(ti.title, "pre");
  ASSERT_EQ(ti.items.size(), 2u);
  EXPECT_EQ(ti.items[1].cls, CC_TRACKBAR);
  EXPECT_EQ(ti.items[1].id, 7);
  EXPECT_EQ(ti.cx, 100);
  // The dialog made from it: in pixels, twice the dialog units.
  EXPECT_EQ(ldpdlg((dir + "pre.res").c_str()), 0);
  // A template cut short, one with a menu, one past the file: refused.
  std::vector<uint8_t> cut(got.begin(), got.begin() + static_cast<long>(got.size() - 3));
  EXPECT_FALSE(tmplparse(cut.data(), cut.size(), &ti));
  std::vector<uint8_t> menu = t.bytes();
  menu[18] = 5;  // a menu ordinal-less name of one character
  file("menu.res", resfile(menu));
  kb.rows.clear();
  EXPECT_EQ(ldpdlg((dir + "menu.res").c_str()), -1);
  std::string big = resfile(t.bytes());
  big[32 + 0] = static_cast<char>(0xFF);  // a data size past the file's end
  file("big.res", big);
  EXPECT_EQ(rdpdlg((dir + "big.res").c_str(), &got), -1);
  std::string out;
  for (const auto& s : kb.rows) out += s + "\n";
  EXPECT_NE(out.find("ERROR! Menu detected in Dialog Box"), std::string::npos) << out;
}

}  // namespace
