// The format engine: directives that take their values item by item from
// variables (pointer records) rather than from an argument list.
//
// A format call works over n operands, each the handle of a pointer record
// (0 for none). In the line-by-line mode (single pass 0) the caller keeps,
// besides the n handles, the slot handles[n] for the running element number
// of "#" (bit 0x40000000 set once it is in use), and two tables of n
// entries: the items each operand has left, and the items in hand in its
// buffer (for vector operands the index + 1 of the next vector element).
// The caller sets left[k] to the operand's item count (argary's count) and
// hand[k] to 0 before the first call; `format` updates both and each call
// writes one pass over the format text (one line). In a single pass (single
// pass 1) no tables are read or written: every operand is prepared afresh,
// directives past its last item write blank fields, and "#" counts from its
// own start in each call.
//
// Directives: "%" [-] [0] [width] [sep number [sep number]] letter, where
// sep is one of ".,:;_/" and the letter one of "%()t#svcCfidbqohxrFIDBQOHXR".
#pragma once
#include <cstdint>

constexpr int FMTDEF = 300;        // columns when max is 0
constexpr int FMTMAXW = 4096;      // widest field (larger widths are cut)
constexpr int32_t FMTNUM = 0x40000000;  // running number in use (slot n)

// Formats into out, which holds max bytes (the NUL included; at most
// max - 1 columns are written; max 0 means FMTDEF). Returns, in the
// line-by-line mode, the largest count of items any operand has left (0
// when all are used); in a single pass the length written. Returns 0 at
// once, with an empty text, when the status word has any of 0x8180; an
// unknown directive letter writes "%", raises error 149 (argument 2) and
// returns 0.
int format(int n, char* out, const char* fmt, int32_t* handles, int single, int max,
           int32_t* left, int32_t* hand);
// One pass of the line-by-line mode that is never cut at max: each time out
// is full its text goes to flush and the pass goes on from the start of out
// (what is left at the end is in out, as format leaves it).
using FmtFlush = void (*)(const char* text, int n);
int fmtlong(int n, char* out, const char* fmt, int32_t* handles, int max, int32_t* left, int32_t* hand,
            FmtFlush flush);

// The line width of repeat groups: the column count of the text window's
// grid less one (79 for 80 columns).
int linwid();

// Set while dump formats: the f directive then writes as many decimals as
// the value needs to read back as the same 32-bit float.
extern int fexact;

// True when text holds a directive ("%" not followed by "%").
bool hasdir(const char* text);
