// Text import and field splitting: the function import reads a delimited
// text file into a numeric matrix, a string or a text list in two passes
// (size, then fill); the function parse splits a string into classified
// fields. The scanners below serve both.
//
//   m = import("runs.csv")                   every field of block 0
//   m = import("runs.csv", 1, 3, 0, ",", ";\n", 1)   fields 1 to 3, one
//                                            header line skipped
//   declare string list names
//   names = import("runs.csv", 0, 0, 0, ",") the first field of each line
//   f = parse("a=b c", " ", "=")             3 x 4 numbers: start, length,
//                                            class of a, =, b and c
// The pass functions themselves (import, fldcmd) are declared with the
// other services of the function dispatcher (compute/fnsvc.h).
#pragma once
#include <cstdint>
#include <vector>

// The first token of text[0..length): from the first character above the
// blank up to the first terminator outside quotes (with quote non-zero, '
// and " open a quoted run that ends at the same quote; a backslash inside
// skips the next character). *start gets its offset; no token gives start
// 0 and length 0. Returns the length.
int nxttok(const char* text, int length, const char* terminators, int* start, int quote);

// Splits text[0..length) into fields at the separators; several separators
// in a row make no empty fields. With quote non-zero, a ' or " that begins
// a field opens a quoted run that ends at the same quote (a backslash
// inside skips the next character); mode 1 drops both quotes (the field is
// rewritten in place), other modes keep them. table (when given) gets the
// fields' (start offset, length) pairs. Returns the field count.
int impfld(char* text, int length, std::vector<int32_t>* table, const char* separators, int quote);

// Splits a NUL-terminated text into at most max fields, as triples of
// 16-bit values in table: start offset, length and class (1 letter, 2
// digit, 3 "_" or ".", 0 other, by the field's first character). A
// character of kept is a field of its own (length 1, its own code as the
// class); characters of separators only separate. Returns the fields.
int splitf(const char* text, const char* separators, const char* kept, int16_t* table, int max);
