// The op interpreter of real-time runs: runs the current op of a task
// (prologue, the op, epilogue), the op preparation that the scheduler calls
// when an op becomes current, and the operand helpers every op uses.
#pragma once
#include <cstdint>

#include "realtime/rtsched.h"

// The operand record at stack address ref (null for 0).
inline RtOpnd* rtopnd(int32_t ref) {
  return ref > 0 ? static_cast<RtOpnd*>(static_cast<void*>(wordp(ref))) : nullptr;
}

// Runs the task's current op: nonzero when it ran and the task moved on, 0
// when it must be retried on a later turn.
int dortime(RtTask* t);
// Prepares the op that just became the task's current op (value slots,
// text copies, due-time adjustments). Returns 1 when the op is not run and
// the task advances again at once.
int rtprep(RtTask* t, RtOp* op, uint32_t* due);
// The pre-run operand check: 0, or an op-error code.
int rd_err(RtTask* t);
// Closes what is still open in the RT file table.
void rtfclose();

// Operand access. A null operand reads 0 and stores nothing; reads past an
// operand's end give 0 and stores there are dropped.
// Operand k (from 1) of op, null when absent or omitted.
RtOpnd* rtopk(const RtOp* op, int k);
// Bytes of one element of an operand.
inline int rtebytes(const RtOpnd* o) { return o ? (o->type & 63) >> 3 : 0; }
// Pointer to element k from the current element, or from the base; null
// past the end, for a constant or a run parameter.
uint8_t* elmptr(const RtOpnd* o, int k);
uint8_t* baseptr(const RtOpnd* o, int k);
// The value at a pointer by the operand's type (floats rounded).
int32_t valint(const RtOpnd* o, const uint8_t* p);
double valflt(const RtOpnd* o, const uint8_t* p);
int32_t opval(const RtOpnd* o);
float opflt(const RtOpnd* o);
int32_t opelm(const RtOpnd* o, int k);
int32_t opbase(const RtOpnd* o, int k);
float opelf(const RtOpnd* o, int k);
int putval(int32_t v, RtOpnd* o);
int putelm(int32_t v, RtOpnd* o, int k);
// Bytes of an array operand from its current element to its end (0 when
// exhausted, for a constant or a run parameter).
int64_t rtleft(const RtOpnd* o);
// Moves an array operand's current element to a byte offset; an offset
// outside the data leaves it exhausted.
void rtsetoff(RtOpnd* o, int64_t off);
// Advances an array operand by step bytes (0: one element), a list by one
// element; at the end it wraps to the base with flag 0x10, else stays and
// gives false.
bool rtincr(RtOpnd* o, int32_t step, int flags);
// The element slots of a list operand (0 for any other).
int32_t rtlstn(const RtOpnd* o);
// Stores a time into the current element; with flag 0x20 then advances
// the operand by 4 bytes while that stays inside.
int Storetime(uint32_t time, RtOpnd* o, int flags);
// Operand k (from 1) of op: its current element, or dflt when absent.
int32_t rtarg(const RtOp* op, int k, int32_t dflt);
float rtfarg(const RtOp* op, int k, float dflt);
// Elements 0..n-1 of operand k into the task's 16-bit slots.
int rtargs(RtTask* t, int k, int n);
// (v - p0), times p1 when nonzero, divided by p2 when nonzero, plus p3;
// clamped to [p4, p5] when p5 > p4.
int32_t rtmap(int32_t v, const int16_t p[6]);
// 0 inside; -(axis + 1) below, axis + 1 above the bounds (x first).
int inrange(const int16_t pt[2], const int16_t rect[4]);
// The number of elements of an operand (0 for none).
int32_t rtnelm(const RtOpnd* o);
// Reports an op error ("RTIME error"); the 50th stops the run.
void rtoperr(RtTask* t, const RtOp* op, int code);

// The data ops (realtime/rtdata.cpp).
// Operator codes of rtarith: those of the language's operators, which the
// typed array loops take, and the code of the map function.
enum RtArith : int {
  RA_ADD = 116,  // a + b
  RA_SUB = 117,  // a - b
  RA_MUL = 118,  // a * b
  RA_DIV = 119,  // a / b, truncating; a zero divisor gives 0
  RA_AND = 126,  // a & b
  RA_OR = 127,   // a | b
  RA_MAP = 249,  // table map: destination[i] = table[source[i]]
};
// Scalar or array arithmetic and the table map.
void rtarith(int oper, const RtOp* op);
// The table map: n elements of a source of type stype through a table of
// type ttype (limit entries) into dst, as table elements.
void maptbl(const uint8_t* src, int stype, const uint8_t* tab, int ttype, int64_t limit,
            uint8_t* dst, int32_t n);
void rtcopy(const RtOp* op);
void rtinrect(const RtOp* op);
void rtindex(const RtOp* op);
void rtscale(const RtOp* op);
void rttell(const RtOp* op);
void rtseek(const RtOp* op);
void rtsum(const RtOp* op);
void rtvec(int opc, const RtOp* op);
