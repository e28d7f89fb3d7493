// The dialog editor: after "menu edit NAME" the dialog shows in editing
// mode beside a tool window that walks through its widgets, shows their
// properties, moves, deletes and adds widgets and writes the dialog as a
// ".dlg" file in dialog menu syntax.
//
// Tool window controls: 1000 write NAME.dlg in the current folder, 2 no
// action, 3 close the editor, 1004 the selected widget's text, 1005 its
// command (1044) or help (1045), 1011 next and 1012 previous widget (not
// past the ends), 1013-1016 its x, y, width and height, 1019 undo the last
// move, 1021 the moving mode (a click in the dialog moves the selected
// widget there), 1022 the add window, 1023 delete the widget, 1025 its kind
// ("Push", "Check", "Radio", "Static", "Combo", "Edit").
//
// Add window controls: the kind (1017 push button, 1008 check box, 1007
// radio button, 1040 edit field, 1038 static text), 1045, 1047, 1046, 1048
// x, y, width, height (10 characters each), 1049, 1050, 1006 text, command,
// help (50 characters each), 1022 add, 2 close.
//
// A deleted widget keeps its slot: its first four bytes are cleared and its
// text length is 65535; every walk over the widgets passes it over.
#pragma once
#include <cstdint>

struct MnuRec;

// Opens the tool window for the edited menu (edmnu); 0, or -1.
int wedopen();
// Opens the add window; 0, or -1.
int wedopn2();
// The tool and add windows' procedures.
int32_t winedit(int32_t dlg, uint32_t message, uint32_t wParam, uint32_t lParam);
int32_t wedprv(int32_t dlg, uint32_t message, uint32_t wParam, uint32_t lParam);
// Fills the tool window from widget `widget` of menu n (the next one that
// is not deleted, else the one before): text, command or help, x, y,
// width, height, kind. The widget shown, -1 when none.
int wedset(int n, MnuRec* r, int widget, int32_t window);
// Undoes the last move: the widget's old rectangle comes back and the
// dialog is built again.
int dlgredo(MnuRec* r);
// Makes a control in the dialog window: kind 1 a button with the text, 2 an
// edit field with "(Unnamed)", 3 a static text; the style is combined with
// child and visible.
int mkctl(int32_t window, uint32_t style, int kind, const int32_t* rect, const char* text, int id);
// The work buffer of an addition (40000 bytes, 1000 fewer each time down
// to 2001 while memory is short): 1 with half its size, or -1.
int bigbuf(int* half);
// Writes menu n as NAME.dlg in the current folder: 0, or -1 (error 180,
// the old file left whole).
int wedwrite(int n);
// Whether a widget was deleted.
bool wdeleted(const void* widget);
// The editor's item handler (the dialog procedure calls it: why 1 a click
// selected the widget, 2 the widget is being moved).
int wedtell(int n, int widget, int why);
// The tool ("tool") or add ("add") window, 0 when none.
int32_t wedwin(const char* which);
