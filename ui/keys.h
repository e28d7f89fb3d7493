// Cell reading of text windows, the text grab, the drawn cursors (the
// cross-hair and the rubber-band box) and the pointer sources other than
// the mouse: the serial digitizer tablet, parameter-driven cursor motion
// and trigger events.
#pragma once
#include <cstdint>

// Copies the rest of a grid row from a cell into buf (at most size - 1
// characters, NUL-terminated). Returns the count.
int txtcell(char* buf, int col, int row, int size);
// The word (characters 33..175) under a pixel point of the current text
// window into buf (at most size - 1 characters and a NUL); its length.
int wordat(int x, int y, char* buf, int size);

// ---- The tablet ----
// The state of the tablet parser between bytes.
struct TabState {
  int pos = 0;            // bytes of the binary packet taken
  uint8_t pkt[5] = {};
  int32_t field[8] = {};  // ASCII fields of the record
  int nf = 0;             // fields finished
  bool indigit = false, neg = false;
  int32_t buttons = -1, x = 0, y = 0;  // the last report (buttons -1: reset)
  bool held = false;      // after a reset: buttons down are ignored until released
};
extern TabState tabst;
// Feeds one byte of the tablet port to the parser under a tablet mode word.
// Returns -2 while a report is incomplete; for a complete report -1 when it
// is not new (or on a framing error), 0 with no button down, 128 | buttons
// otherwise (the report is then in x, y, buttons of the state).
int tabfeed(TabState& t, int mode, int byte);
// Reads the tablet (cursor flag 0x04 and a tablet mode word set): 128 |
// buttons for a new report with buttons down, 0 with none, -1 when nothing
// new; mode < 0 forgets the last report first.
int gettab(int mode);
// Drops every byte waiting at the tablet port.
int tabdrain();

// ---- Parameter cursors and triggers ----
struct PrmCur {
  float scale = 1;
  int16_t param = 0;  // system variable code, 0 none
  int16_t offset = 0;
};
extern PrmCur prmcur[3];  // x, y and z
struct Trigger {
  int16_t param = 0;
  int16_t mode = 0;  // low 4 bits the kind 1-7, 0x40 the level state
  int16_t key = 0;
  float ref = 0;
  int32_t cmd = 0;   // command text (stack address), 0 none
};
extern Trigger trig;
int prmval(const PrmCur* r, int dflt);
int prmxy();
int trigger();

// ---- Drawn cursors ----
// The rubber-band figure (Boxcur, declared with the function services),
// drawn by XOR into the cursor window, in its client pixels. Its shape
// byte is the mode that switched it on (mode > 0; the anchor is then the
// cursor point): the low two bits 0 or 1 a box between anchor and corner,
// 2 the ellipse in that box, 3 a circle about the anchor through the corner;
// BC_LINE a line from anchor to corner instead of a box; BC_CLAMP keeps the
// figure inside the cursor box; BC_SLOPE keeps the corner on a diagonal of
// the anchor; BC_MEASURE (all three) a circle about the anchor whose radius
// is the length of the path the corner travelled.
// Modes: 0 off (the anchor and corner stay for grbtxt; the cursor flags
// saved when it went on come back), -1 and -2 redraw at the stored corner;
// -3 sets the corner (the first corner set while off is the anchor), -4 to
// -6 move the whole figure with its corner, -7 a box of fixed size (x, y)
// from the anchor, -9 the first point of an angle (a line from it follows)
// or, once anchored, the corner. Points are clamped to 0; with gflags
// 0x2000 y is mirrored by the cursor window's height (as getxyz flips it).
enum : int { BC_CLAMP = 4, BC_LINE = 8, BC_SLOPE = 16, BC_MEASURE = 28 };
// The shape byte of the figure, 0 when it is off.
int boxon();
// The figure follows the pointer at (x, y) as it was last placed: -3 moves
// its corner there, -4 to -6 move it whole by its corner, -7 (a box of
// fixed size) moves it whole with its anchor at the point.
int boxtrack(int x, int y);
// XORs a line of pixels (both ends included) into the cursor window: an
// 8-bit value is a grey level (64, the erase pattern, draws 170), a wider one
// a colour 0x00BBGGRR.
int boxdrw(int x0, int y0, int x1, int y1, int value);
// The client pixel of a text cell's top left corner in the current window.
int cellpix(int col, int row, int* x, int* y);
// The cross-hair at (x, y) (mode -1 erases it).
int drwcur(int x, int y, int mode);
// Saves (save != 0) or restores the text cursor in one of two slots.
int savcur(int save, int n);
