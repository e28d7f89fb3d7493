// The vector commands' module: the functions that measure and query the
// vector list, and (as they come) the commands that put objects into it.
#pragma once
#include <cstdint>

struct PtrRec;

// The length and enclosed area of the object from start (count records, or
// count < 1: to the first record that is no point after some length, start
// < 0: the whole list, skipping what is no point) of a list (null: the
// vector list), read as redraw draws it. An outline whose last point lies
// within 5 units of its first is closed and has an area (made positive,
// the result's sign then -1); an open one has area 0. A positive scale
// multiplies the length, and the area by its square. Returns the records
// examined times the sign; lastvec gets the last index examined.
int measur(PtrRec* list, int32_t start, int32_t count, float scale, float* length, float* area);
