// Menus: the menu table, menu records and their widgets, reading menu
// description files (".mnu" and resource-script ".rc" text), the menu
// library file, opening and closing menus of the three kinds (text menus on
// the menu bar, key menus on Esc and the function keys, dialogs), picks, the
// menu command and the menuitem function.
//
// A menu record (104 bytes, the same bytes in the library) owns a data block
// on the process heap: every text of the menu (NUL-terminated, lines of one
// text joined by newlines, the whole padded to 8 bytes), then the widget
// array, then a 256-byte tail area (the text of a dialog's edit field).
// Record fields that refer to machine memory hold held references.
#pragma once
#include <cstdint>

constexpr int NMENUS = 42;     // menu numbers 1..42
constexpr int NBAR = 20;       // menu bar positions 1..20
constexpr int MNUTAIL = 256;   // bytes of the tail area
constexpr int MNUREC = 104;    // bytes of a menu record
constexpr int MLIBHDR = 32;     // bytes of the library header
constexpr int MLIBENT = 32;     // bytes of a library directory entry
constexpr int MLIBCAP = 320;    // directory entries that lie after the header
constexpr uint32_t MLIBSTART = MLIBCAP * MLIBENT + MLIBHDR;  // 10272: where menus start

// Menu kinds (low four bits of the kind word) and the file flag.
enum : int {
  MK_TEXT = 1,
  MK_KEY = 2,
  MK_DIALOG = 4,
  MK_TABLET = 8,
  MK_FILE = 64,  // read from a file or the library (kept when closed)
};

// The menu record.
struct MnuRec {
  char name[16];        //   0 at most 15 characters and a NUL, lower case
  uint32_t size;        //  16 bytes in the data block
  uint32_t libpos;      //  20 where the data block lies in the library
  uint16_t kind;        //  24 kind in the low four bits, + 64 from a file
  int16_t active;       //  26 1 while open
  int16_t prev;         //  28 the menu this one replaced (dialogs: the dialog current before)
  int16_t ngroup;       //  30 groups given by the dialog function
  uint8_t pad0[6];      //  32
  int16_t nwid;         //  38 widget count
  int32_t rect[4];      //  40 x0, y0, x1, y1 in pixels (dialogs)
  uint32_t bkcol;       //  56 background colour (dialogs)
  uint8_t pad1[2];      //  60
  int16_t barwin;       //  62 bar position of an open text menu, or the dialog's window
  int16_t curitem;      //  64 the last control used (its identifier)
  int16_t pressed;      //  66 pressed item
  int16_t drawn;        //  68 nonzero: the program draws the dialog's items itself
  int16_t firstbtn;     //  70 first button index (alert boxes)
  int16_t editlim;      //  72 edit length limit
  int16_t modal;        //  74 1 when opened modal
  int16_t editctl;      //  76 edit control number (alert boxes)
  uint16_t widoff;      //  78 where the widgets begin in the data block
  uint16_t startoff;    //  80 start text
  uint16_t startlen;
  uint16_t stopoff;     //  84 stop text
  uint16_t stoplen;
  int32_t data;         //  88 data block (held reference)
  uint8_t pad2[4];      //  92
  int32_t tail;         //  96 tail area: its offset in the data block (size - 256)
  uint8_t pad3[4];      // 100
};
static_assert(sizeof(MnuRec) == MNUREC);

// The widget of text and key menus (16 bytes), and the first 14 bytes of
// every dialog widget.
struct MnuWid {
  uint8_t key;          //  0 key menus: E 0, F n 1 + n, M n 12 + n; dialogs: the widget kind
  uint8_t flags;        //  1 dialogs: 0x40 switched off
  uint16_t txtoff, txtlen;  //  2
  uint16_t cmdoff, cmdlen;  //  6
  uint16_t hlpoff, hlplen;  // 10
  uint8_t pad[2];       // 14
};
static_assert(sizeof(MnuWid) == 16);

// The dialog widget (80 bytes).
struct DlgWid {
  uint8_t kind;         //  0 widget kind (see the WK_ values)
  uint8_t flags;        //  1 0x40 switched off; 0x80 selected (dialog editor)
  uint16_t txtoff, txtlen;  //  2
  uint16_t cmdoff, cmdlen;  //  6
  uint16_t hlpoff, hlplen;  // 10
  uint8_t pad0[2];      // 14
  float value;          // 16 push and radio 1.0 when pressed, check box 0/1, slider 0..32767
  uint8_t pad1[8];      // 20
  int32_t rect[4];      // 28 x0, y0, x1, y1 in pixels
  uint32_t fg;          // 44 foreground colour
  uint32_t bg;          // 48 background colour
  int16_t number;       // 52 font number of text items
  int16_t group;        // 54 group given by the dialog function
  uint8_t pad2[4];      // 56
  int16_t topline;      // 60 first visible line (items the program draws)
  int16_t nlines;       // 62 number of lines
  int16_t firstch;      // 64 first visible character
  int16_t caretx;       // 66 caret x; a slider's orientation (0 vertical)
  int16_t carety;       // 68 caret line offset
  int16_t width;        // 70 item width in pixels (0 until computed)
  int16_t linest;       // 72 start of the caret's line in the text
  int16_t caret;        // 74 caret position in the text
  uint8_t pad3[4];      // 76
};
static_assert(sizeof(DlgWid) == 80);

// Widget kinds of dialogs.
enum : int {
  WK_PUSH = 4,
  WK_CHECK = 5,
  WK_RADIO = 6,
  WK_SLIDER = 7,
  WK_STATIC = 8,
  WK_COMBO = 9,
  WK_EDIT = 16,
  WK_NONE = 26,    // no control
  WK_STATIC2 = 136,
};

// ---- The menu table and the menu input state ----------------------------

extern MnuRec* mnutab[NMENUS + 1];  // by menu number; 0 unused
extern int16_t mbar[NBAR + 1];      // the text menu at each bar position (0 free)
extern int16_t curkey;              // the current key menu
extern int16_t curtab;              // the current tablet menu
extern int16_t curdlg;              // the current dialog
extern int16_t lastmnu;             // the menu opened last (the current menu of -2 and itmstep)
extern int16_t edmnu;               // the menu being edited (dialog editor), 0 none
extern int16_t holdsw;              // the hold switch: picks are held, not queued
extern int16_t helpsw;              // the help switch: picks show their help
extern int16_t selitem;             // the item of the last held pick (waitsel)

// The record and data of menu n; null when there is none.
MnuRec* mnurec(int n);
uint8_t* mnudata(const MnuRec* r);
// Widget i of a record (null past the widget count). Text widgets are
// 16 bytes, dialog widgets 80.
MnuWid* mnuwid(const MnuRec* r, int i);
DlgWid* dlgwid(const MnuRec* r, int i);
// Bytes of one widget of a record's kind.
int widsize(const MnuRec* r);
// A text of the data block by offset and length ("" when out of bounds).
const char* mnutext(const MnuRec* r, uint16_t off, uint16_t len);
// The tail area of a record (256 bytes), null when none.
char* mnutail(const MnuRec* r);
// Whether the data block of a record holds together: sizes, widget offset
// and every text offset and length within it.
bool mnucheck(const MnuRec* r);

// ---- Reading ---------------------------------------------------------------

// Reads a menu file (".mnu" default; ".rc" read as resource-script dialog
// text) into a new menu; wanted kind (low four bits) 0 takes any kind. The
// menu number, or -1 ("Menu %s not found", error 126, 98 or 203, or a
// syntax error traced on the debug unit).
int ReadMenu(const char* file, int wanted);
// The same from text in memory; name gives the menu's name; rc reads it as
// resource-script text.
int rdmnutxt(const char* text, int length, const char* name, bool rc, int wanted);
// Splits a line in place into fields (blank, tab, CR, LF, comma; quoted parts
// and backslash-protected characters kept whole). With coord set, ":"
// also separates (form 1), and "x" after exactly three fields (form 2).
// At most max fields. Returns the form (0, 1 or 2).
int fldspl(char* text, int length, int coord, int* nfield, char** fields, int max);
// The length of the first command of a text up to and including the first
// ";" outside quotes, or limit + 1.
int cmdlen(const char* text, int limit);
// The menu name of a file name: cut after the last separator, at the first
// blank or ".", lowered, at most 15 characters.
void mnuname(const char* file, char* out);

// ---- Slots and the library --------------------------------------------------

// A free menu number with a fresh record (an inactive menu is reused when
// all 42 are taken); -1 with error 98 when every menu is active.
int newmnu();
// Releases menu n's data block and name; whole also the record and slot.
void frmnu(int n, bool whole);
// Finds a menu by name among the loaded menus (its number), or in the
// library (0, position and size set); -1 when neither.
int fndmnuname(const char* name, uint32_t* pos, uint32_t* size);
// Argument n of the current command as a menu: a number as such; a name
// cut and lowered. Returns as fndmnuname; the name into name (16 bytes).
int fndmnu(int n, char* name, int* len, uint32_t* pos, uint32_t* size);
// Walks the library directory for a name: 0 found (position, size and the
// entry's own place set), -1 not. With no name, the next used entry after
// *prev (0 first) is returned in turn.
int fndent(const char* name, uint32_t* pos, uint32_t* size, uint32_t* prev);
// Loads a stored menu: its menu number, or -1.
int rdmnu(uint32_t pos, uint32_t size);
// Stores menu n in the library (an entry of the same name is deleted first).
// 0, or -1.
int mnustor(int n);
// Deletes a menu from memory and from the library. 0 when either had it,
// -1 when neither.
int delmnu(const char* name);
// The library header's words: entries in use, end of file, bytes freed,
// first entry.
uint32_t mlibhdr(int offset);
// Lists the library's header and directory on a unit; the entries listed,
// or -1 when there is no library.
int liblist(int unit);
// Opens the library when it is not open (creating it when create is set).
// True when it is open.
bool libopen(bool create);

// ---- Opening, closing, picks ------------------------------------------------

// Opens (any code but -99, 0, -1) or closes menu n. 1 opened, 0 closed, -1
// no such menu.
int GeTMNu(int n, int code);
// Queues the pending menu text and redraws the bar.
int PuTBaR();
// Closes every open modal menu (Ctrl-C ends them as it ends any wait).
// Returns how many were closed.
int endmodal();
// Puts text menu n on the bar (nothing when all 20 positions are taken).
int makMenu(int n);
// Redraws the bar.
int drwmbar();
// Takes text menu n off the bar and frees its position.
int rmvbar(int n);
// Shows (show nonzero) or hides dialog menu n.
int shwdlg(int n, int show, int editing);
// A pick from the bar: identifier = position x 128 + item. Returns 13.
int menuevent(int identifier, int message, int modifiers);
// Queues or shows one text of menu n (item 0 start, 1 stop, k >= 2 widget
// k - 2); key "?" or 130 (or the help switch) shows the help; a key of 200
// or more only looks the text up. The text (its length in *len, -1 when
// none).
const char* mnugo(int n, int key, int item, int* len);
// Window commands: a window's own command text on a click, its help on the
// right button.
int DowinCmd(int win, const struct EvtRec* evt, int key, int number);
// Up and Down move the current item of the current dialog.
int itmstep(int key);
// The next menu on the bar from menu n in the direction of step.
int mnunxt(int n, int step, int active);
// Waits for a held menu pick: its item, or -1 on error, interrupt or stop.
int waitsel();
// The menu command (code 28); nonzero code: the dispatcher's last resort
// for a word that is no command (0 when a menu took it, -1 otherwise).
int menucmd(int code);
// The dialog editor's start after "menu edit" (wedopen).
extern int (*wedstart)();
// The dispatcher's trace of the bar (putmnu) and the modal test (mnupnd).
int putmnu(int n);
int mnupnd();
// Error 98, returns 0; returns 0; the empty hooks.
int mnufull();
int nullmnu();
int shwpdlg(int n);
int hidpdlg(int n);

// ---- Listing ------------------------------------------------------------------

// Lists a menu record on a unit.
int mnulist(const MnuRec* r, int unit, int longform);
// Writes a dialog layout as ".mnu" text on the current output unit
// (arguments 3 to 7 of show dialog).
int mnusave();
// Writes each line of a text as "%c%s\n".
int putqln(const char* text, char prefix, int length);
// show menu [name].
int shomnu();
// Forgets every menu and the library state (tests).
void mnureset();
