// The expression evaluator and the operand table.
//
// `doexpr` walks a postfix list built by the argument access: operands are
// pushed, operator items go to `doarth`, function items to `dofunc`. The
// operand table (54 words per evaluation, from the scratch area) carries
// the operands, the destination and the result of one operation from
// `doarth` or `dofunc` to the element loop and the other array operations.
//
// An item of a postfix list is a record whose kind flags have 0x2000: its
// code is the Idx field, its operand count the Wsiz field; kind bit 1 marks
// an item that takes no stack operands, kind bit 8 one that is refused.
#pragma once
#include <cstdint>
#include <cstring>

#include "core/varbl.h"

// Operand table words. Rows in threes: operand 1, operand 2, destination.
enum : int {
  OT_REC = 0,    // 0, 1, 2: pointer records (their stack addresses; 0 none)
  OT_ID = 3,     // 3, 4, 5: word ids; word 5 the result after setout
  OT_CNT = 6,    // 6, 7, 8: element counts (gtvarb's count)
  OT_BUF = 12,   // 12, 13, 14: items addressable in the current part
  OT_TOT = 15,   // 15, 16, 17: total counts (1 marks a scalar)
  OT_RCNT = 18,  // result element count
  OT_SLOT = 20,  // 20 .. 43: twelve 64-bit floats (reductions, accum, compress)
  OT_PREV = 44,  // the table that was current before this one (stack address)
  OT_KIND = 45,  // 45, 46, 47: kind flags
  OT_WSIZ = 48,  // 48, 49, 50: word size codes
  OT_RWSZ = 51,  // result word size code
  OT_COPT = 52,  // option of compress
  OPTWDS = 54,
};

// The current operand table (a scratch buffer of OPTWDS words).
extern int32_t* optab;

// The record of row k (0 operand 1, 1 operand 2, 2 destination); null for
// none.
inline PtrRec* oprec(int k) { return ptrrec(optab[OT_REC + k]); }

// Slot k (0 .. 11) of the result area.
inline double getslt(int k) {
  double v;
  std::memcpy(&v, optab + OT_SLOT + 2 * k, sizeof v);
  return v;
}
inline void putslt(int k, double v) { std::memcpy(optab + OT_SLOT + 2 * k, &v, sizeof v); }

// A fresh table from the scratch area, made current; its link word keeps
// the table it replaces (the caller restores that one when done). Null when
// the scratch area is full (error 42 reported).
int32_t* newopt();
// Clears the whole current table except its link word.
void clropt();
// Row k (0 or 1) of the table from a word id: record, count, addressable
// part, total, word size and kind, prepared for reading. Returns the kind.
int ldopnd(int k, int32_t id);

// Evaluates the postfix list at stack address `list`: word 0 the number of
// entries n, then n word ids (stack addresses of pointer records) in
// evaluation order, operands before the operator or function items that
// consume them. Returns the word id of the record that holds the result
// (list word 1 holds it too afterwards), or 0 on failure.
int32_t doexpr(int32_t list);

// One element-wise operation on the evaluation stack: code, operands taken
// from the stack (at least 1), the stack depth and the stack, and the
// destination (in/out: 0 none; set to -1 when it is refused and the result
// went to a temporary). Returns the new depth, or -1 on failure.
int doarth(int code, int count, int depth, int32_t* stack, int32_t* dest);
// Whether record d (of kind flags kind) is a window of several whole items
// of a string list, each of which a text given to it becomes.
bool lstwin(const PtrRec* d, int kind);

// Loads the destination id into row 2 (when row 2 is empty) and prepares it
// for writing; returns its kind (word 47). With id 0 only word 47.
int getdst(int32_t id);

// Sizes the destination or makes a temporary result. Returns 1 done, 0
// nothing more to do, negative on failure.
int setout(int mode, int reshape);
// Set around a call of setout: the shape (window extents) a matrix, image
// or solid destination made anew takes, instead of its operands' shape.
extern const PtrRec* outshape;
// Set around a call of setout: a temporary of one element keeps the kind
// and shape of what it copies (a one-element window) instead of becoming a
// number.
extern bool outkeep;
// Set around a call of setout: the result is a text (not a list), which a
// string list seen whole takes as its one item.
extern bool outtext;
// Set around a call of setout: the result is numbers, though operand 1 is a
// list, which a string list seen whole takes as its one item.
extern bool outnums;

// 1 when source a and destination b can be walked element for element
// (their windows cut to the same extents), else 0.
int samedim(PtrRec* a, PtrRec* b);

// Copies the list operand 1 into the list destination, element by element.
int dolist(int code);

// A comparison of two strings: 1 true, 0 false.
int compar(int code, const char* s1, int len1, const char* s2, int len2);

// The ordering value of a string for '>' and '<': letters (upper case) by
// falling weight, digit runs as whole numbers.
uint64_t digval(const char* s, int n);

// True when the code gives a float result where there is no destination.
bool fltres(int code);
