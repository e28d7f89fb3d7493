// Command arguments and the number registers.
//
// Every command and built-in function reads its operands here. The parser
// leaves the command as WORD entries with an argument map (lang/parse.h);
// argument 1 is the command or function word, argument 2 the first operand.
// Operands are resolved on first access: a name becomes its variable's
// pointer record, a literal a small record, an expression is evaluated once
// through `doexpr`, and the WORD entry is rewritten as resolved
// {type -kind, value = handle} so that a second access finds the result.
//
// Two other sources can stand in for the command's words:
//  - the current list token `lsttok` (lang/parse.h): a list word (type
//    0x2001), whose elements are then arguments 2, 3, ...;
//  - the list source `lstsrc`: a pointer record with an argument list
//    (kind bit 0x2000), whose command-argument list {own address, handle,
//    handle, ...} supplies the arguments (function calls in expressions).
//
// The ten number registers #0..#9 are 32-bit floats in consecutive words of
// the low stack; `regadr` holds the word address of #0 (the system table's
// start-up takes them first from the bottom area, so they sit at word 0).
// Commands leave their numeric results there; `error` leaves -code in #0.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct WORD;

struct PtrRec;

extern int32_t regadr;  // low-stack word address of register #0
extern int32_t lstsrc;  // list source: handle of a pointer record, 0 none

// Store into number register #n (n 0..9; any other n is ignored). Return 0.
int setres(int32_t value, int n);
int setfres(float value, int n);
// The value of register #n (0 for any other n, or before the low stack exists).
float getres(int n);

// The saved argument n (n >= 1) of the running macro: the stack address of
// its pointer record, 0 when there is none. The macro module installs it;
// while it is null a macro-argument reference ("$n") is a missing argument.
extern int32_t (*tokhdr)(int n);
// Set by the parser for a line that stores through a macro argument
// ("$n = ..."): its first word is the destination.
extern bool margst;
// Set by the parser for an assignment line: its first word is the
// destination.
extern bool asnlin;
// The record a system placeholder name (vecs, vdata) stands for, made on its
// first use by the layer that owns it: null when the name has none to make.
// The display layer installs it.
extern PtrRec* (*holdrec)(int32_t entry);
// Brings the record of pointer variable `entry` up to date before it is
// used: a view of a named variable is laid out again over that variable's
// storage as it is now, or emptied when it cannot be. The layer that makes
// views installs it; null: records are used as they are.
extern void (*ptrcur)(int32_t entry);

// ---- Argument access ---------------------------------------------------

// The argument count: the argument map's count, or, with a list source or a
// current list token, the list's element count + 1. A current token that is
// no list word is cleared.
int nargs();
// n < 0 with a record (handle) that has kind bit 0x2000 and an argument
// list: the record becomes the list source. Otherwise the list source is
// cleared and the current list token becomes the WORD index of argument n
// of the argument map (-1 when n is out of range). Returns 0.
int argset(int n, int32_t handle);

// Kind flags of argument n (0 when missing), its value (0 when it has none)
// and, when maxlen > 0, its text (at most maxlen - 1 characters and a NUL)
// and the text's length.
int getarg(int n, float* value, char* text, int maxlen, int* length);
// Argument n resolved (an expression runs, so an assignment's "=" stores)
// without its value being read: a system variable it stored into is not
// read back. The kind, 0 when missing.
int runarg(int n);
// The text of argument n when it is a string that is not a list (at most
// max characters); false, and out unchanged, for any other argument.
bool argstr(int n, std::string* out, int max);
// Argument n as a 16-bit integer (clamped to +-32767, truncated toward
// zero), a 32-bit integer (clamped to +-2147400000, truncated) or a float
// when it has a numeric kind (any of 0x7D0); else the default.
int intarg(int n, int dflt);
int32_t lngarg(int n, int32_t dflt);
float fltarg(int n, float dflt);
// Kind flags of argument n; for a variable (resolved into a record) its
// handle in *handle (0 otherwise).
int argtyp(int n, int32_t* handle);
// The pointer record of argument n prepared for reading, its item count in
// *count; null when its kind has none of 0x7F0.
PtrRec* argary(int n, int32_t* count);
// A keyword or small-number argument's number; a system variable's code +
// 1000; -1 for anything else.
int32_t argnum(int n);
// The element count of a list argument (kind 0x2000 with bit 1), else 0.
int argcnt(int n);
// For a keyword argument: mode 63 gives the word size code it names (byte
// 8, real 96, long 32, integer 16), any other mode the kind flag (number 16,
// string 32, array 64, matrix 128, file 256, image 512, solid 1024); else 0.
int argknd(int n, int mode);
// The items of array argument n as `code` items (whole-byte codes 8, 16,
// 24, 32, 96): the variable's own buffer when it already holds them so,
// else a scratch copy. want < 1 asks for all items; max > 0 caps the count.
// *count gets the count, dims (3 entries, when given) the count spread over
// the window's extents. Null on failure: error 35 (not an array variable),
// 82 (fewer items than wanted), both with argument n.
void* aryarg(int n, int32_t want, int32_t max, int code, int32_t* count, int32_t* dims);
// The same, with the copy (when one is needed) in *heap instead of the
// scratch area: for tables that may be larger than the low stack.
void* aryheap(int n, int32_t want, int32_t max, int code, int32_t* count, std::vector<uint8_t>* heap);
// Writes count items of `code` from buffer into numeric variable argument n
// (kinds 0x7E0) through putvrb; -1 when the argument is no such variable.
int putarg(int n, const void* buffer, int32_t count, int code);
// Resizes the variable of record `handle` for count items (count < 0:
// -count items, the window's element) and writes them from buffer in word
// size `code`. Returns 0, or -1 when the variable cannot take them.
int putvrb(const void* buffer, int code, int32_t handle, int32_t count);
// Stores value as the current element of argument n's variable; nothing for
// a missing argument, a constant or a file-backed variable.
int setnum(int n, double value);
// The default data file name: the text of the string variable datadir, n in
// decimal ("*" for n < 0), then ".img" (flags 0x200), ".vec" (flags 0x100)
// or ".dat". buffer takes at least DFNMAX bytes. Returns the length, or 0
// (and an empty buffer) when datadir is empty.
constexpr int DFNMAX = 288;
int dfname(int n, char* buffer, int flags);

// ---- The resolver ------------------------------------------------------
// The routines below work on WORD indexes of the command word table; an
// index outside 0..41 is never used.

// Evaluation stack entry: the work table of one resolution has 20 of them.
struct EvlEnt {
  int32_t word;    // WORD index
  int32_t flags;   // 8 a file name; other 1..0x1FF a single value; +0x100
                   // subscripts pushed; 0x200 store the result in a word
  int32_t handle;  // result, or with 0x200 the low-stack word to store it in
};
constexpr int EVLMAX = 20;

// The WORD index of argument n (-1 when missing) and, for a list source or a
// resolved list token, the argument's handle in *handle (0 otherwise).
int argidx(int n, int32_t* handle);
// Kind flags (or the WORD type for words not yet resolved) of argument n,
// 0 when missing; its handle (0 none) and WORD index (-1 none).
int fndarg(int n, int32_t* handle, int* word);
// Reads a number from WORD w without evaluation: its type (or the kind of
// the record it names) with *value; -1 when it cannot, 0 for an unused word.
int tokval(int w, float* value);
// The text of text word w (types 32, 34, continued in 0x4000 + t entries):
// at most maxlen - 1 characters and a NUL. Returns the length.
int tokstr(int w, char* text, int maxlen);
// The text of argument n as typed when it is a bare word: an unknown name,
// or a command word with no list after it. -1 for any other argument (buf
// then empty).
int argword(int n, char* buf, int max);
// Resolves WORD w into a pointer record: its handle, 0 on failure (an error
// was reported) or when a stop bit is set. flags as in EvlEnt (0 plain).
int32_t resarg(int w, int flags);
// The symbol entry a variable word names (its own, not what a reference
// holder refers to); 0 when it names none.
int32_t wrdsym(const WORD& W);
// Builds the record of a simple word (number, register, system variable,
// string, keyword or operator, macro argument, a variable with no kind of
// its own, an indirect name of a string variable). Returns its handle, or 0.
int32_t tokvar(int w, int flags);
// Whether tokvar takes word w.
bool simple(int w);
// The resolver's steps on the top entry of a work table of *n entries:
// 1 the entry was finished and popped, 0 it pushed sub-words and waits,
// -1 failure.
int evllst(EvlEnt* tab, int* n);
int evltok(EvlEnt* tab, int* n);
// Pushes an entry; -1 with error 76 when the table is full.
int pshtok(EvlEnt* tab, int* n, int word, int flags);
// Pushes the subscript words of word w that are not plain numbers (flags =
// their position 1, 2, ...). Returns the count pushed, -1 on failure.
int pshsub(EvlEnt* tab, int* n, int w);
// Narrows the window of record r to the subscripts of word w. Returns 0, or
// -1 (error 196) for a negative, reversed or out-of-range subscript.
int subwin(PtrRec* r, int w);
// A scratch copy of record src (own address set, position at the window
// origin, buffers taken afresh); with w >= 0 and subscripts on word w, its
// window narrowed through subwin. Null on failure.
PtrRec* mktmp(const PtrRec* src, int w);
