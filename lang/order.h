// Expression ordering: after a line is parsed, the words of each expression
// are put in evaluation order (operands before the operators that use them,
// higher priority first, left to right among equal priorities) and written
// as an expression group.
//
// An ordered group is a WORD entry of type 1:
//   first value   relative index (from the group) of the first ordered word
//   second value  absolute index of the first continuation entry, or 0
//   byte 0        number of items; byte 1 number of ordered words
//   byte 2        1-based position of the first nested group, or 0
//   bytes 3-7     start positions (0-based, within the group's words) of
//                 items 2 to 6; further items go on in continuation entries
//                 of type 0x4001, 8 per entry, each chained by its second
//                 value (an absolute index).
// An item is one operand or operator with the entries it owns (a
// subscripted variable or a function call spans several entries). An
// operator word's second value holds its operand count; unary operators get
// codes 187 ("-"), 195 ("!"), 198 ("?"), the factorial 180.
#pragma once
#include <cstdint>

// Orders every expression of the parsed line. An expression line (code 115,
// 200, or 105 to 300) becomes one group at argument 1; otherwise only the
// groups inside arguments are ordered (for "if" only those of argument 1).
// A line whose next-to-last argument is ">" or ">>" gets 0x2000 added to its
// code. Returns 0, or -1 after an error (11, 12, 13, 71, 182, 41).
int Aftpro(int* code);

// Turns a line that begins with a function word followed by blank-separated
// arguments into a call of that function with those arguments as its list.
int mksubs(int code);

// Moves row `from` back to position `to` of a row table, shifting the rows
// between by one.
void movrow(int32_t (*rows)[3], int from, int to);

// Orders rows (first entry, priority, last entry) of one expression and
// rewrites the words of [rs, re) in that order as group g. Mode -1 orders a
// nested group in place; mode 0 makes the group of the whole line (g is
// chosen here) and merges the arguments into argument 1. Returns the number
// of freed entries, or -1 (error 12).
int EXPSRT(int32_t (*rows)[3], int nrows, int g, int rs, int re, int mode);

// Whether entry e is an ordered expression group.
bool grpord(int e);
// The entry of the first word of item i (0-based) of ordered group e, -1.
int grpitem(int e, int i);
// The entry of the last item in evaluation order of group e, -1.
int grplast(int e);
