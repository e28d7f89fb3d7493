// Fast typed paths: whole-array copies, conversions and element-wise
// operators working on the element buffers directly, in typed kernels
// (compute/qkern.h). Each reads the current operand table (compute/expr.h)
// and either does the whole operation or declines at once, so that the
// element loop runs. The element loop is the reference: every path here
// gives its results bit for bit (its float arithmetic, the missing value,
// -0.0, truncation, clamping, division by zero).
#pragma once
#include <cstdint>

#include "core/varbl.h"

// Switches the fast paths off (tests compare both ways); on by default.
extern bool qpaths;
// Operations the fast paths did, and chains of several run in one pass.
extern uint32_t qdone, qchains;

// Copy or broadcast fill (same word size, or a one-element source): 1 done,
// 0 declined.
int qcopy();
// Conversion between whole-byte word sizes: the conversion code when done,
// 0 declined.
int qcnvrt();
// An element-wise operator (+ - * / & |, the comparisons, && ||) over
// operands of whole-byte word sizes, arrays or single values: 1 done, 0
// declined.
int qarith(int code);
// True for the operator codes qarith computes.
bool qarcod(int code);

// Converts a one-element operand in place to another word size code: 0
// nothing to do, k > 0 k sub-byte values replicated into a byte, -1
// impossible.
int set1vb(PtrRec* r, int32_t* bufcount, int from, int to);

// Per-type loops of the real-time runner: n results of op (116 + 117 -
// 118 * 126 AND 127 OR, any other code divides, a zero divisor giving 0)
// into dst; a and b step only when their counts are above 1.
int qarit8(int op, const uint8_t* a, const uint8_t* b, uint8_t* dst, int32_t na, int32_t nb,
           int32_t n);
int qarit16(int op, const int16_t* a, const int16_t* b, int16_t* dst, int32_t na, int32_t nb,
            int32_t n);
int qarit32(int op, const int32_t* a, const int32_t* b, int32_t* dst, int32_t na, int32_t nb,
            int32_t n);
int qaritf(int op, const float* a, const float* b, float* dst, int32_t na, int32_t nb, int32_t n);
// Adds (116) or subtracts (117) a 16-bit constant to each byte of 4-byte
// pixels, clamped to 0..255: 0 done, -1 declined.
int qaddrgb(int op, const uint8_t* a, const int16_t* k, uint8_t* dst, int32_t na, int32_t nk,
            int32_t n, int codea, int codek);
int fill16(const int16_t* src, int16_t* dst, int32_t n);
int fill32(const int32_t* src, int32_t* dst, int32_t n);
// n copies of an integer value as byte (8), 16-bit, 32-bit or float (96).
int fillval(int32_t value, void* dst, int code, int32_t n);

// Fused element-wise chains. An operation whose result would only feed the
// next element-wise operation of the same expression is not computed at
// once: doarth records it (qdefer) and the operation that consumes it runs
// the whole chain in one pass (qfuse), each intermediate rounded to the
// word size its temporary has. Whatever is not fused is computed in order
// before anything reads it (qflush).
//
// doexpr sets qnext before doarth when the next item consumes the result.
extern bool qnext;
// Records the current operation (the operand table is complete, the result
// a temporary): true when deferred.
bool qdefer(int code, int32_t ec, int nops);
// The result id the last qdefer recorded (doexpr clears it before each
// item); 0 none.
extern int32_t qlast;
// True when the record at this id is a deferred result.
bool qpend(int32_t id);
// True when a deferred operation reads the data of this record.
bool qreads(const PtrRec* r);
// Runs the current operation with its deferred operands in one pass: 1
// done, 0 declined (nothing was done).
int qfuse(int code);
// Computes every deferred operation in order and forgets them.
void qflush();
