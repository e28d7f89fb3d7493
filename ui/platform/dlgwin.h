// Dialog windows of the window manager: a dialog is made from a dialog
// template (the in-memory layout a compiled resource file also holds), its
// controls live inside the dialog window and are drawn into its surface,
// and input for it goes through dlgmessage, which turns clicks and keys into
// the notifications its dialog procedure gets (WM_COMMAND with the control
// identifier and a notification code).
//
// Template layout (little-endian): header {u32 style, u32 extended style,
// u16 item count, i16 x, y, cx, cy, menu, class, title, [u16 point size and
// face when style has 0x40]}, then each item aligned to 4 bytes {u32 style,
// u32 extended style, i16 x, y, cx, cy, u16 id, class, title, u16 creation
// data size and the data}. Menu, class and title are each u16 0 (none),
// 0xFFFF and a u16 ordinal, or a NUL-terminated UTF-16 text. Positions are
// dialog units: x × 4 / 8 and y × 8 / 16 of pixels (base units 8 by 16).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct Msg;
struct Surface;

// Messages and notifications of dialogs.
enum : uint32_t {
  WM_HELP = 0x0053,  // the right button on a control: wParam its identifier
  WM_INITDIALOG = 0x0110,
  WM_HSCROLL = 0x0114,
  WM_VSCROLL = 0x0115,
  BN_CLICKED = 0,
  EN_KILLFOCUS = 0x0200,
  EN_CHANGE = 0x0300,
  IDCANCEL = 2,
};

// Control classes (the predefined class atoms; the trackbar by its name).
enum : int {
  CC_BUTTON = 0x80,
  CC_EDIT = 0x81,
  CC_STATIC = 0x82,
  CC_COMBO = 0x85,
  CC_TRACKBAR = 0x100,
};
constexpr const char* TRACKBAR = "trackbar";

// Control styles used here.
enum : uint32_t {
  WS_VISIBLE = 0x10000000,
  WS_DISABLED = 0x08000000,
  WS_TABSTOP = 0x00010000,
};
enum : int {
  BS_DEFPUSHBUTTON = 1,
  BS_AUTOCHECKBOX = 3,
  BS_RADIOBUTTON = 4,
  BS_AUTORADIOBUTTON = 9,
  ES_MULTILINE = 4,
  SS_CENTER = 1,
  TBS_VERT = 2,
};

constexpr int DLGBX = 8, DLGBY = 16;  // the dialog base units
inline int dlu2px(int v) { return v * DLGBX / 4; }
inline int dlu2py(int v) { return v * DLGBY / 8; }
inline int px2dlu(int v) { return v * 4 / DLGBX; }
inline int py2dlu(int v) { return v * 8 / DLGBY; }

// The dialog procedure: (dialog, message, wParam, lParam).
using DlgProc = int32_t (*)(int32_t, uint32_t, uint32_t, uint32_t);

// Builds a template.
class DlgTmpl {
 public:
  void header(uint32_t style, int count, int x, int y, int cx, int cy, const char* title);
  // cls: a class atom, or CC_TRACKBAR for the trackbar's name.
  void item(uint32_t style, int x, int y, int cx, int cy, int id, int cls, const char* title);
  const std::vector<uint8_t>& bytes() const { return b_; }

 private:
  void u16(uint32_t v);
  void u32(uint32_t v);
  void text(const char* s);
  std::vector<uint8_t> b_;
};

// One parsed control of a template.
struct TmplItem {
  uint32_t style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  int cls = 0;  // a class atom, CC_TRACKBAR, or 0 for a class name not known
  std::string clsname, title;
};
struct TmplInfo {
  uint32_t style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  bool menu = false, cls = false;  // the template names a menu, a class
  std::string title;
  std::vector<TmplItem> items;
};
// Parses a template of n bytes; false when it runs past its end.
bool tmplparse(const uint8_t* t, size_t n, TmplInfo* out);

// Creates a dialog from a template under a parent window; the procedure
// gets WM_INITDIALOG with init. place, when given with a size, is the
// client rectangle in pixels (x, y, width, height) instead of the
// template's. Its window handle, 0 when none was made.
int32_t dlgcreate(const uint8_t* tmpl, size_t n, int32_t parent, DlgProc proc, uint32_t init,
                  const int* place = nullptr);
// True for a live dialog window.
bool dlgvalid(int32_t dlg);
// Offers a message to a dialog: true when it was the dialog's.
bool dlgmessage(int32_t dlg, const Msg* m);
// True when a key message is the dialog's (dlgmessage would take it): a
// key to its window or while it has the keyboard, Ctrl and Alt keys and
// control characters other than Backspace, Tab, Enter and Esc excepted.
bool dlgwants(int32_t dlg, const Msg* m);
// Redraws a dialog's background and every control.
void dlgredraw(int32_t dlg);
// Sets the dialog's client size (its position kept) and background colour
// (0x00BBGGRR).
void dlgsize(int32_t dlg, int w, int h);
void dlgbkcol(int32_t dlg, uint32_t colour);

// Controls by identifier.
bool dlghas(int32_t dlg, int id);
int dlgtext(int32_t dlg, int id, char* buf, int max);   // length, -1 none
std::string dlgtextstr(int32_t dlg, int id);
void dlgsettext(int32_t dlg, int id, const char* text);
void dlgcheck(int32_t dlg, int id, int on);
int dlgchecked(int32_t dlg, int id);
void dlgsetpos(int32_t dlg, int id, int pos);  // trackbar 0..32767
int dlgpos(int32_t dlg, int id);
void dlgenable(int32_t dlg, int id, bool on);
void dlgcolours(int32_t dlg, int id, uint32_t fg, uint32_t bg);
void dlgdefault(int32_t dlg, int id);          // the button Enter presses
void dlgfocus(int32_t dlg, int id, bool selall);
bool dlgrect(int32_t dlg, int id, int* x, int* y, int* w, int* h);
int dlgclass(int32_t dlg, int id);
// Adds a control (its identifier) or removes one.
int dlgadd(int32_t dlg, int cls, uint32_t style, int x, int y, int w, int h, int id, const char* text);
void dlgdel(int32_t dlg, int id);
// The dialog that takes every key while it is set (a modal alert); 0 none.
void dlgmodal(int32_t dlg);
int32_t dlgmodalwin();

// A key code taken elsewhere (the type-ahead buffer) given to a dialog as
// the key it stands for: characters, Backspace, Tab, Enter and Esc, and the
// editing keys Left, Right, Home, End and Del.
void dlgkey(int32_t dlg, int code);

// Scripted input: presses and releases a control (a click at its centre),
// or replaces an edit control's text and posts one change notification.
// 0, or -1 when the dialog has no such control.
int dlgclick(int32_t dlg, int id);
int dlgsetedit(int32_t dlg, int id, const char* text);
// The button whose text is `label` (a leading "!" not counted), 0 when none.
int dlgbutton(int32_t dlg, const char* label);
// One line per control with a text: "ITEM text" (ITEM = id + 1; newlines
// written as "\n"). Returns the lines written.
int dlglist(int32_t dlg, FILE* f);

// Draws a control into a surface (the dialog's own drawing; the program's
// drawn dialogs use it too). state: 1 checked; flags: 1 pressed, 2 focus,
// 4 disabled, 8 all text selected, 16 the default button (drawn marked); caret: the caret's place in the text
// (-1 none).
void drawctl(Surface& s, int cls, uint32_t style, int x, int y, int w, int h, const std::string& text,
             int state, int pos, uint32_t fg, uint32_t bg, int flags, int caret);

// Forgets every dialog (tests).
void dlgreset();
