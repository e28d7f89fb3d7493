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
// Steps the cine players that are due.
void rtcine();
// Closes what is still open in the RT file table.
void rtfclose();

// Operand access. A null operand reads 0 and stores nothing.
int32_t opval(const RtOpnd* o);
float opflt(const RtOpnd* o);
int32_t opelm(const RtOpnd* o, int k);
int putval(int32_t v, RtOpnd* o);
// Advances an array operand by step bytes (0: one element); at the end it
// wraps to the base with flag 0x10, else stays and gives false.
bool rtincr(RtOpnd* o, int32_t step, int flags);
// Operand k (from 1) of op: its current element, or dflt when absent.
int32_t rtarg(const RtOp* op, int k, int32_t dflt);
// The number of elements of an operand (0 for none).
int32_t rtnelm(const RtOpnd* o);
