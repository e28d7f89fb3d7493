// Dialogs and alerts: dialog menus (kind 4) shown as dialog windows of the
// window manager through a dialog template built from the record, the dialog
// procedure that keeps every widget's value in its widget, the dialog
// function that reads and sets them, the dialogs whose items the program
// draws itself, predefined dialog templates, alert boxes and the about box.
#pragma once
#include <cstdint>

struct MnuRec;
struct DlgWid;
struct EvtRec;

// Builds the template of dialog menu n and has the window procedure create
// it (editing: the dialog editor owns it; sysunits: the system's dialog
// base units). 0, or -1 (no such open menu, no memory, no window slot).
int makdlg(int n, int editing, int sysunits);
// The dialog procedure of every dialog made by makdlg.
int32_t dlgprc(int32_t dlg, uint32_t message, uint32_t wParam, uint32_t lParam);
// The dialog window of menu n (0 when it shows none).
int32_t dlgwinof(int n);
// The menu number shown in a dialog window, 0 when none.
int dlgmenuof(int32_t dlg);
// Puts a widget's value into its control (mode unused).
int drwitem(DlgWid* w, MnuRec* r, int mode);
// Repaints dialog n: its window (made when the program draws the dialog and
// it has none), then every item.
int drawDialog(int n);
// Whether an event's window is a dialog or alert window.
int isdlgwin(const EvtRec* evt);
// The item under an event (a key: the current item) of a program-drawn
// dialog: records it as current; the menu number, or 0.
int dlogSelect(const EvtRec* evt);
// A mouse or key event on the current item of program-drawn dialog n.
int dlgevt(int n, const EvtRec* evt);
// Keys and clicks in an edit item the program draws.
int dlgedit(DlgWid* w, MnuRec* r, const EvtRec* evt);
int setwidpos(DlgWid* w, MnuRec* r, int caret);
// The dialog function: the operand count, the number result, the text
// result (256 bytes) and the destination's handle. Above 0 success, -2 a
// bad description, 0 no result.
int dlogitems(int n, float* number, char* texts, int32_t dest);
// Reads (mode 0) or sets (1 a number, 2 a text) item `item` of dialog
// record r (menu n). 0, or -1 for no such item.
int dialog(MnuRec* r, int n, int item, int mode, float* value, char* text);
// Forgets the texts menu n's edit fields keep of their own (its data block
// is released).
void dlgforget(int n);
// Shows a predefined dialog from a compiled resource file; its procedure.
int ldpdlg(const char* file);
int32_t pdlgproc(int32_t dlg, uint32_t message, uint32_t wParam, uint32_t lParam);
// Reads the first dialog template of a compiled resource file into out
// (bytes); 0, 1 a template with a menu, 2 one with a class, -1 none.
int rdpdlg(const char* file, void* out);
// Rounds up to 4; prints a template on the debug unit.
uintptr_t align4(uintptr_t p);
int dumpdlgt(const uint8_t* tmpl, int n);
// Draws a row of labelled boxes on the current port.
int drwdlog(int count, const char* const* labels, const int32_t* rects, int selected);
int nulldlg();

// The alert state: the pending alert box's menu number (0 none), and the
// alert-open flag.
extern int16_t alrtmnu;
extern uint16_t alropen;
// The dialog editor's share: while moving mode is on a click in the edited
// dialog moves the current widget there; the editor's item handler is told
// of clicks and moves (wedtell).
extern int16_t edmove;
extern int (*editem)(int n, int widget, int why);
// The dialog editor's tool ("tool") and add ("add") windows for scripts
// (wedwin): a dialog window handle, 0 none.
extern int32_t (*dlgtoolwin)(const char* which);

// Text boxes: lines of text with a growing buffer.
struct TxtBox {
  int16_t lcap, nlines, tcap, tused;
  char* text;
  char** lines;
};
TxtBox* newtbox(int lines, int bytes);
int addtbox(TxtBox* b, const char* text);
void frtbox(TxtBox* b);
