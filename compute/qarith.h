// Fast typed paths: whole-array copies, conversions and the six common
// operators on same-type arrays, working on the element buffers directly.
// Each reads the current operand table (compute/expr.h) and either does the
// whole operation or declines at once, so that the element loop runs.
#pragma once

// Copy or broadcast fill (same word size, or a one-element source): 1 done,
// 0 declined.
int qcopy();
// Conversion between whole-byte word sizes: the conversion code when done,
// 0 declined.
int qcnvrt();
// + - * / & | (codes 116-119, 126, 127): 1 done, 0 declined.
int qarith(int code);
