// Fast forms of the simplest commands: an assignment d = a, d = a op b or
// d = f(a) / f(a, b) (a function the element loop computes in one step on
// single values, see elscal), and a loop or if condition a or a op b,
// where every operand is a single float number variable or a number
// constant. The form is made once from a
// command's words (a compiled record, or a cached parse of a macro line)
// and then run without building argument records or walking the general
// expression evaluator; it computes exactly what the scalar path does, and
// declines (the command then runs the usual way) whenever a variable is no
// longer a float number with storage, or a condition meets a missing value.
#pragma once
#include <cmath>
#include <cstdint>

#include "compute/arith.h"
#include "compute/scalar.h"
#include "core/convert.h"

struct FastOpd {
  int32_t sym = 0;  // symbol entry (stack address); 0: a constant
  float c = 0;      // the constant's value
};

struct FastCmd {
  int8_t kind = 0;  // 0 not looked at yet, -1 none, 1 assignment, 2 condition
  int16_t op = 0;   // operator code; 0: a single value
  int16_t fn = 0;   // function code of d = f(a) or f(a, b); 0 none
  int8_t nf = 0;    // its operand count
  FastOpd d, a, b;
  // The operands' storage as found in batch gen (a constant's is c above).
  uint32_t gen = 0;
  const float* pa = nullptr;
  const float* pb = nullptr;
  float* pd = nullptr;
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
// Runs a made form. An assignment stores and returns true; a condition
// gives its value in *v. False: the form declines this time.
inline bool fcexec(FastCmd& f, int32_t* v) {
  if (f.gen != fcgen && !fcfind(f)) return false;
  const float a = *f.pa;
  if (f.kind == FC_ASSIGN) {
    // A function's operands are read, and its result stored, through
    // doubles as the element access does (a signalling NaN comes out quiet).
    if (f.fn) {
      const float b = f.nf > 1 ? nrwflt(double(*f.pb)) : 0.0f;
      *f.pd = nrwflt(double(elres(f.fn, f.nf, nrwflt(double(a)), b)));
      fcfnrun++;
    } else {
      *f.pd = f.op ? scalres(f.op, a, *f.pb) : a;
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
