// Fast forms of the simplest commands: an assignment d = a, d = a op b or
// d = f(a) / f(a, b) (a function the element loop computes in one step on
// single values, see elscal), and a loop or if condition a or a op b,
// where every operand is a single float number variable or a number
// constant; the destination d is such a variable or one element d(x) of a
// number array (8-, 16-, 32-bit or float items) whose subscript x is such
// an operand. The form is made once from a
// command's words (a compiled record, or a cached parse of a macro line)
// and then run without building argument records or walking the general
// expression evaluator; it computes exactly what the scalar path does, and
// declines (the command then runs the usual way) whenever a variable is no
// longer a float number with storage, or a condition meets a missing value
// (an element store: its array is no longer one with storage, or the
// subscript is missing, NaN or out of range, where the usual way reports).
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>

#include "compute/arith.h"
#include "compute/scalar.h"
#include "core/convert.h"
#include "core/element.h"
#include "core/symbols.h"

struct FastOpd {
  int32_t sym = 0;  // symbol entry (stack address); 0: a constant
  float c = 0;      // the constant's value
};

struct FastCmd {
  int8_t kind = 0;  // 0 not looked at yet, -1 none, 1 assignment, 2 condition
  int16_t op = 0;   // operator code; 0: a single value
  int16_t fn = 0;   // function code of d = f(a) or f(a, b); 0 none
  int8_t nf = 0;    // its operand count
  int8_t elem = 0;  // 1: the destination is element x of array d
  FastOpd d, a, b;
  FastOpd x;        // the element's subscript
  // The operands' storage as found in batch gen (a constant's is c above).
  uint32_t gen = 0;
  const float* pa = nullptr;
  const float* pb = nullptr;
  float* pd = nullptr;
  // An element destination as found: the array's items, their count and
  // word size code, its symbol entry (marked written by each store), and
  // the subscript's storage.
  uint8_t* pe = nullptr;
  uint32_t ne = 0;
  int ew = 0;
  SymEnt* se = nullptr;
  const float* px = nullptr;
};

enum { FC_NONE = -1, FC_ASSIGN = 1, FC_COND = 2 };

// The fast-form slot of the command being carried out (set by the line
// reader and the compiled-macro runner for each command), or null.
extern FastCmd* fcur;
// Set by the main loop around its own line read: only lines it reads to
// carry out may be run as they are read.
extern bool fcmain;
// Turns every fast form off (tests compare the two ways).
extern bool nofast;
// Set when a fast form served the command being carried out.
extern bool fcserved;
// Counts the function calls fast forms computed (tests compare the ways).
extern uint32_t fcfnrun;
// Counts the commands the main loop carried out the general way (other
// than "}"): any of them may have written a file.
extern uint32_t fcslow;
// The current batch: forms find their operands' storage once per batch. A
// batch is a run of fast forms with nothing else carried out between them;
// fcbatch starts a new one.
extern uint32_t fcgen;
inline void fcbatch() { fcgen++; }

// Whether fast forms may run now: no trace, watch, alarm, redirection,
// pending error or stop, and nothing that wants to see each turn.
bool fcok();
// Assignment (code 115) with the parse tables loaded: runs it through the
// current slot's form (made first when the slot has none). False: the
// caller evaluates it.
bool fcassign();
// Condition of if or while (argument 2) with the parse tables loaded: its
// value as lngarg gives it. False: the caller evaluates it.
bool fccond(int32_t* v);
// Finds a form's operands for the current batch; false when a variable is
// no longer a float number with storage.
bool fcfind(FastCmd& f);
// A value as a read through a double gives it: a signalling NaN comes out
// quiet (its quiet bit set, as the conversion sets it; the compiler may
// drop a float-double-float round trip, so the bit is set here).
inline float fcquiet(float a) {
  if (!std::isnan(a)) return a;
  uint32_t u;
  std::memcpy(&u, &a, 4);
  u |= 0x00400000u;
  std::memcpy(&a, &u, 4);
  return a;
}
// The element a form stores into: its address, or null when the subscript
// is missing, NaN or outside the array (the usual way reports that).
inline uint8_t* fcelem(const FastCmd& f) {
  const float x = *f.px;
  if (ismiss(x) || std::isnan(x)) return nullptr;
  const int32_t i = toi32(x);
  if (i < 0 || uint32_t(i) >= f.ne) return nullptr;
  return f.pe + size_t(i) * size_t(f.ew == W_FLOAT ? 4 : f.ew / 8);
}
// Runs a made form. An assignment stores and returns true; a condition
// gives its value in *v. False: the form declines this time.
[[gnu::aligned(64)]] inline bool fcexec(FastCmd& f, int32_t* v) {
  if (f.gen != fcgen && !fcfind(f)) return false;
  const float a = *f.pa;
  if (f.kind == FC_ASSIGN) {
    uint8_t* pe = nullptr;
    if (f.elem && !(pe = fcelem(f))) return false;
    // A function's operands are read, and its result stored, through
    // doubles as the element access does (a signalling NaN comes out quiet).
    float r;
    if (f.fn) {
      const float b = f.nf > 1 ? fcquiet(*f.pb) : 0.0f;
      r = nrwflt(double(elres(f.fn, f.nf, fcquiet(a), b)));
      fcfnrun++;
    } else {
      // A copy reads its operand as the element access does: a signalling
      // NaN comes out quiet.
      r = f.op ? scalres(f.op, a, *f.pb) : fcquiet(a);
    }
    if (!pe) {
      *f.pd = r;
      return true;
    }
    // An element is stored as the element loop stores a result: 16-bit
    // items clamp unless aflags bit 4 is set, others store through a
    // double (a signalling NaN comes out quiet).
    f.se->nlen |= 0xF0;
    if (f.ew == W_SHORT) {
      const uint16_t s = stfl16(r, !noclmp());
      std::memcpy(pe, &s, 2);
    } else {
      uint8_t bp = 0;
      stitm(double(r), pe, f.ew, &bp, noclmp());
    }
    return true;
  }
  // A condition declines a missing or NaN operand: the general evaluator
  // gives its own answer there.
  if (ismiss(a) || std::isnan(a)) return false;
  if (!f.op) {
    *v = toi32(a);
    return true;
  }
  const float b = *f.pb;
  if (ismiss(b) || std::isnan(b)) return false;
  *v = scalres(f.op, a, b) != 0.0f;  // a comparison gives 1 or 0
  return true;
}
// n commands carried out by fast forms between main-loop turns (slot: the
// timer-log slot of their kind): the turn counts as the main loop keeps
// them.
void fcturns(int slot, uint32_t n);
