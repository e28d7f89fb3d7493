// Reading text into variables: lines of numbers or text from a unit, the
// pending input or a given text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PtrRec;

constexpr int RDFLDS = 60;  // fields taken from one line
constexpr size_t LSTMAX = 255;  // characters a text list item holds

// Reads lines into a variable of the given kind flags and word size code
// (0: 96 for numbers, 8 for text) and returns its record: rec when given,
// else a new scratch record; null when scratch memory is short. Lines come
// from text (when given), else from the unit (0: the text cursor). count 0:
// an empty line ends the input; count > 0: a line ending in "}" ends it (the
// brace block of an assignment); count < 0: one line, text cut to -count
// characters. A line of only Esc ends the input. The record's Length is
// below 1 when nothing was entered.
PtrRec* rdary(int unit, int kind, int wsiz, PtrRec* rec, int32_t count, const char* text);

// Splits a line into fields: every byte of value 44 (",") or below
// separates them, but for a "+" right after an "e" or "E" that follows a
// digit or a point (an exponent's sign). A field that reads as a number
// (sign, digits, point, exponent) gives type 16 and its value, any other
// run gives type 32 and its start offset as the value. At most max fields.
// Returns the count.
int txtfld(const char* line, int length, float* values, int* types, int max);

// Makes r a record of no variable that holds text (one string) or a text
// list (one element an item, each cut to LSTMAX characters) in the scratch
// area; false (error 42) when there is no room.
bool txtrec(PtrRec* r, const std::string& text);
bool lstrec(PtrRec* r, const std::vector<std::string>& items);
