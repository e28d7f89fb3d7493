// Vector arithmetic on the current operand table, the search for the
// vector record nearest to a point, and the angle between points.
#pragma once
#include <cstdint>

struct PtrRec;

// = (115), + (116) and - (117) point by point on vector variables: each
// destination record is the first operand's (a zero line-to where it has
// none); + and - change x, y and z of drawable records (codes 1-3 on both
// sides), clamped to -32768..32767. An operand of one record goes with
// every record of the other. Any other code, or an operand that is no
// vector, is error 116.
int dovecs(int code, int count);
// Record i of a vector variable (in memory, file-backed or a list) made
// addressable; access 1 read, 2 write. Null past its records.
uint8_t* vrecat(PtrRec* r, int32_t i, int access);
// Points of an angle: k points of three 32-bit components in a scratch
// buffer, from n numbers from argument 2 on (two a point when n = 2k, three
// when n = 3k), or picked in the vector window when n = 0 (Esc stops).
// Another n is error 47. Null when there are no points.
int32_t* angpts(int n, int k);
