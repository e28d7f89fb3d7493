// Services of other modules that the function dispatcher calls, declared
// with the signatures their owners give them: each module that owns one
// defines it with this signature.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "graphics/sketch.h"

struct PtrRec;

// ---- Files (text import, splitter, open, environment, file box) ---------
// The file box: the chosen path (or the box's cancel text) into the
// 256-byte output; returns its length.
int browse(char* output, int mode, const char* filter);
// The environment and resource functions: mode -1 (destination) or 0 gives
// the result's element count, mode 1 fills the result.
int envcmd(int mode);
// The import function (files/import.cpp): pass 0 reads the arguments,
// scans the file and sizes the result (the operand table's result count and
// element code, and a shape or a text record as operand 1); it returns the
// result's element count, 0 when there is nothing to read, -1 after an
// error. Pass 1 fills the destination and closes the file; r0 gets the
// lines read. Pass -1 ends an import whose destination could not be made:
// it closes the file that pass 0 left open.
int import(int pass);
// The parse function's splitter (files/import.cpp): 16-bit field values,
// three per field, and their count; null on failure.
int16_t* fldcmd(uint32_t* count);
// The open function: called as filopn(293, 1); returns the unit opened.
int filopn(int code, int flag);
// A file along a list of folders ('|' separated); 0 opened (unit set),
// -1 not found.
int fserch(const char* name, const char* ext, const char* folders, char* path, int* unit,
           int mode);

// Makes r a record of no variable that holds a text list (one element an
// item) in the scratch area; false (error 42) when there is no room.
bool lstrec(PtrRec* r, const std::vector<std::string>& items);

// ---- Format engine and accept ------------------------------------------
// n operands (handles), output, format text; single pass 1 returns the
// length written (at most max bytes).
int format(int n, char* output, const char* fmt, int32_t* handles, int single, int max,
           int32_t* left, int32_t* inhand);
// Asks the user for a value; the answer's record, null when none.
PtrRec* Zaccpt(int code, int kind, int wsiz);

// ---- User interface ----------------------------------------------------
// The word under text cell (x, y) into buffer (at most size - 1 characters
// and a NUL); its length (0 none).
int getwrd(int x, int y, char* buffer, int size);
// Lets the user drag a box over the text window: the covered text and its
// length.
char* grbtxt(int key, int* length);
// The rubber-band box cursor: -9 anchors, -3 sets a corner, 0 switches off.
int Boxcur(int x, int y, int mode);
// Interactive point picking in a window; the key or button that ended it.
int getxyz(int window, int* x, int* y, int* z);
// Moves the mouse pointer to a point of the current window.
int setcurs(int x, int y);
// The menuitem function: the result buffer; sets the destination kind, the
// result count and element code of the operand table.
void* mnuitm(uint32_t* kind);
// The dialog function: above 0 success, -2 a bad description, 0 or below
// no result; sets the operand table's result count and element code.
int dlogitems(int n, float* number, char* texts, int32_t dest);

// ---- Image display and vector graphics --------------------------------
// The window number of command argument n: a number as given, a name
// matched against the window names; -1 when absent or not found.
int winarg(int n, const char* name);
// Length and enclosed area of a vector list (start -1, count -1: whole).
int measur(PtrRec* list, int32_t start, int32_t count, float scale, float* length,
           float* area);
// A point from the arguments from *argn on (a vector variable's first
// record, numbers, or a cursor click) into an 8-byte vector record; the
// index moves past what was used. Returns the arguments used.
int setvec(uint8_t* out, int* argn, int ncoord);
// Euclidean distance of two 16-bit points over n components.
float vdist(const int16_t* a, const int16_t* b, int n);
// The angle function over the operand table (first >= 0: the operand
// count), or of three given points of three 32-bit components (first < 0),
// which it may change: mode & 3 = 0 the angle at the middle point (0 to
// 180), else the signed angle in the plane that leaves axis (mode & 3) - 1
// out; mode 4 snaps nearly axis-parallel segments; mode < 0: 3 when the z
// are equal, else 0. Error 119 without points.
float vangle(int first, int32_t* points, int mode);
// The vector record nearest to a point from start on (list null: the
// current vector list).
int32_t fndvec(PtrRec* list, const int16_t* point, int32_t start, uint8_t* out, int mode);
// Record index of a vector list in expanded form (12 bytes); null past the
// end (list null: the current vector list).
uint8_t* getvec(PtrRec* list, int32_t index, uint8_t* exp, int mode);
// Waits for a cursor click and writes the clicked point as three i16
// (x, y, z); kind below 1 is the default cursor 521. The button or key code.
int curvec(int16_t* point, int kind);
// Interactive display of traces: a float buffer and its count, or null.
float* sweep(int kind, uint32_t* count);
// sample, setaoi, domask and getbox: graphics/sketch.h (included above).

// ---- Devices -------------------------------------------------------------
// The assignment of a number constant to a window-backed image device
// variable: 1 when done here, 0 when the caller computes element by element.
int hardop(int op, int nops);

// ---- Pointer functions, alert and view coordinates (compute/ptrfn.cpp) --
int ptrptr(int depth, int mode, int code);
int doalert();
int vrbxy(uint8_t* record);
