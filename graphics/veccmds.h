// The vector commands: putvec, paint, text, the shapes (line, box, circle,
// ellipse, block, cylinder, sphere, cone, disk) and grid append objects to
// the vector list (or, grid, draw straight through the pen); and the
// services that read points from the arguments or the cursor (setvec,
// curvec) and measure what was drawn (measur).
//
// Every command draws into the vector window (window 4, "VECS"), or into
// the image bound as vimage; interactive picks happen there too, whichever
// window is current.
#pragma once
#include <cstdint>

struct PtrRec;
struct PwRec;

// The current drawing colour (-1 at start): the default of the colour
// arguments and the colour of records made without one (traced outlines).
extern int32_t dcolor;
// The sketch editor's mode word: 0x1000 while the editor is suspended to
// run a key command (the shapes then take the editor's option default).
extern uint16_t skmode;

// Shape option word (the argument after the width).
enum : int {
  SO_NOXFORM = 1,  // no transform while the shape is made
  SO_TEMP = 2,     // drawn, then dropped from the list
  SO_OUTLINE = 4,  // circles and ellipses as point outlines (shpcirc)
  SO_FILL = 8,     // filled
  SO_XOR = 16,     // XOR drawing
  SO_DEFAULT = 32, // the default option added
};
// The option of a shape command: the argument (absent: the default: 2 for
// a plain command; in the sketch editor 4 under rotation bits, else 0); 32
// adds the default; with 1 or 2 set, 4 is dropped.
int shpopt(int given, bool present);

// The vector window is the drawing port while one of these lives (the
// list and its window are made when missing); the port before comes back.
struct VecPort {
  PwRec* keep;
  VecPort();
  ~VecPort();
  VecPort(const VecPort&) = delete;
  VecPort& operator=(const VecPort&) = delete;
};
// The vector window is the current window (for picks and their figures)
// while one of these lives.
struct VecWin {
  int keep;
  VecWin();
  ~VecWin();
  VecWin(const VecWin&) = delete;
  VecWin& operator=(const VecWin&) = delete;
};

// A point from the arguments from *argn on into an 8-byte vector record: a
// vector variable's first record; else x (absent: a cursor pick), y and,
// for three components, z (two components take z = zvalue). A picked point
// gets code 1 for the left button (or Enter), 0 for others. Returns the
// arguments used, -1 when the pick was cancelled by a key.
int setvec(uint8_t* out, int* argn, int ncoord);
// One cursor pick in the vector window as x, y, z; kind < 1 is 521; queued
// input is dropped first unless kind is negative. The key or button (low 8
// bits), + 0x100 when the text-grab mode was on meanwhile.
int curvec(int16_t* point, int kind);
// A rubber-band figure between two picks (the second while the figure
// follows the pointer): shape 1 box, 2 the ellipse in the box, 3 the circle
// about the first point through the second. The two points into a and b;
// the second pick's key, or -1 when a key cancelled it.
int rubber(int shape, int16_t* a, int16_t* b);

// The length and enclosed area of the object from start (count records, or
// count < 1: to the first record that is no point after some length, start
// < 0: the whole list, skipping what is no point) of a list (null: the
// vector list), read as redraw draws it. An outline whose last point lies
// within 5 units of its first is closed and has an area (made positive,
// the result's sign then -1); an open one has area 0. A positive scale
// multiplies the length, and the area by its square. Returns the records
// examined times the sign; lastvec gets the last index examined.
int measur(PtrRec* list, int32_t start, int32_t count, float scale, float* length, float* area);

// Fills the points from record start to the write index: a fill record and
// its parameter record (the outline's normal, the second colour when it is
// >= 0), closed by a link; earlier ends of the object chain are marked to
// be skipped by redraw. Returns 0.
int vpaint(int32_t start, int32_t colour, int32_t colour2);
// A circle or ellipse of semi-axes rx and ry about a centre as a move and
// relative lines (option 1: no transform; 8: filled).
int shpcirc(const int16_t* centre, int rx, int ry, int32_t colour, int option);

// The commands.
int vpoint();  // putvec point [code] [colour] [width] [remove]
int paintc();  // paint [colour] [start] [second colour]
int puttxt();  // text "lines" [colour] [point] [size] [width] [angle] [-] [keep] [unit]
int shapes(int code);  // line box circle ellipse block cylinder sphere cone disk
int grid();    // grid [colour] [dx] [dy] [x0] [y0] [x1] [y1] [keep]
