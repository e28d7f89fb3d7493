// The function dispatcher: one built-in function item of a postfix list.
//
// `dofunc` binds the item's own argument list (argument 2 is its first
// operand), fills the operand table (compute/expr.h), decides how many
// result elements of which element code the function gives, sizes or makes
// the destination through `setout`, runs the operation (here, in the
// element loop `ariths`, or in a handler of another module) and stores the
// result. Every function word (codes 201 to 299), the declaration words used
// as functions (37 to 43), `window` (62), the brace list "{" (103) and the
// sine and cosine series (1203) have one row of the function table below.
#pragma once
#include <cstdint>

// code: the function or declaration code; item: the stack address of the
// function item's record (its command-argument list holds the operands);
// depth and stack: the evaluation stack of doexpr; dest: in/out handle of
// the destination of a fused assignment (0 none). Returns the new depth
// (depth + 1 after a push, depth when nothing was pushed), 0 after an error
// and after the pointer functions, -1 when the expression ends without a
// value.
int dofunc(int code, int32_t item, int depth, int32_t* stack, int32_t* dest);

// ---------------------------------------------------------------------------
// The function table.

// Set-up rule.
enum : uint8_t {
  SU_DEF,  // default: operand 1 from argument 2, operand 2 from argument 3
  SU_OWN,  // the function's own set-up; no operand is loaded for it
};
// Result count rule (after the default set-up; the own set-ups set theirs).
enum : uint8_t {
  RC_OPND,    // operand 1's element count
  RC_FIX,     // the fixed count of the row
  RC_MAXMIN,  // one value for one operand, or a one-element operand 2
  RC_SUM,     // the destination's count when it has one, else 1
  RC_DIM,     // operand 1's count divided by its dimension `nres`
  RC_SET,     // set by the row's set-up routine
};
// Row flags.
enum : uint8_t {
  FN_GETDST = 0x01,  // the destination is loaded by the set-up
  FN_DEFER = 0x02,   // deferred: no destination made; the handler works on it
  FN_STOPND = 0x04,  // stops without a value when there is no destination
  FN_OPW = 0x08,     // the result element code is operand 1's word size
  FN_ARRAY = 0x10,   // several results without a destination make an array
  FN_KEEP = 0x20,    // a destination that is operand 1's own variable keeps its
                     // data when it holds the result (the operation reads it)
  FN_COVER = 0x40,   // new storage for the destination is not cleared first: the
                     // operation calls fnfresh before it writes (see there)
};
// How the work is done.
enum : uint8_t {
  OP_LOOP,   // the element loop (the device shortcut tried first)
  OP_HERE,   // computed by the row's own routines
  OP_DECL,   // a declaration word used as a function
  OP_GEN,    // a generator (random, ramp, series)
};

struct FnCall;
using FnStep = int (*)(FnCall& c);

struct FnDef {
  int16_t code;
  char word[12];
  uint8_t setup;   // SU_DEF or SU_OWN
  uint8_t count;   // RC_...
  int16_t nres;    // RC_FIX: the count; RC_DIM: the dimension (1..3)
  int16_t elem;    // result element code (0: 96, the default)
  int16_t dkind;   // kind of a temporary result (0: as setout decides)
  uint8_t flags;   // FN_...
  uint8_t op;      // OP_...
  FnStep set;      // the row's set-up step (null: none)
  FnStep run;      // the row's operation (null: none)
};

// The row of a code, or null.
const FnDef* fndef(int code);

// Returns of a set-up step.
enum : int {
  FS_GO = 0,    // go on to the result stage
  FS_RET = 1,   // return FnCall::ret at once
};

// The dispatcher's locals, shared with the rows' steps.
struct FnCall {
  int code;         // the code being run (1203 for the series)
  int orig;         // the code of the item (203 or 205 for the series)
  int n;            // operands of the item
  int depth;        // evaluation stack depth on entry
  int32_t* stack;   // evaluation stack
  int32_t dest;     // destination handle of a fused assignment (0 none)
  int32_t store;    // values to store from the result buffer
  void* buf;        // result buffer (null: none yet)
  int defer;        // deferral count
  int32_t ecnt;     // element count of the element loop
  int ret;          // return value with FS_RET, or after the operation
  bool stop;        // the operation ends the expression without a value
  bool text;        // the result is a text
  const FnDef* def; // the row
  double gen[4];    // generator set-up: a, b, step, repeat
  int32_t aux;      // a row's own value carried from set-up to operation
  int32_t keep[3];  // operand 1's extents while they are changed for sizing
  int32_t fresh;    // FN_COVER: new destination storage not yet cleared (0 none)
  int64_t freshw;   // its words
  alignas(8) uint8_t lbuf[64];  // small results (dimension lists, one value)
};

// A set-up step's refusal, before the destination is made (so a refused
// call leaves it as it was): error (arg, code) and FS_RET with no value; a
// code of 0 refuses quietly and ends the expression without a value.
int fnrefus(FnCall& c, int arg, int code);

// A row marked FN_COVER calls this before it writes its destination:
// storage made for the result and not yet cleared (FnCall::fresh) is
// cleared unless `covers`, the promise that the operation stores every item
// of it. Storage left undecided when the operation returns is cleared.
void fnfresh(FnCall& c, bool covers);
