// Text and number conversion helpers shared by the whole system: character
// classes, string copy and compare, name matching, integer clamps, the
// float-to-integer rules of the language, number formatting, item
// conversion between word size codes, byte swapping and box copies.
//
// Word size codes: 8, 16, 32 integer items, 96 32-bit floats, 1..7 bit-packed
// items (first item in the high bits of a byte).
#pragma once
#include <cstdint>

// ---- Characters and strings -------------------------------------------

// 1 letter (a-z, A-Z), 2 digit, 3 "_" or ".", 0 anything else.
int chrtyp(int ch);
// True (1) for a-z and "_", ".", "$", "\": characters case folding keeps.
int islowr(int ch);
// Reads decimal digits from the start of text; *value gets their number
// (saturated at 2147483647). Returns the count of digits.
int getdec(const char* text, int32_t* value);
// Skips bytes 1..32; -1 when nothing follows or the first character is no
// digit and no "." followed by a digit; else the value of the leading digits
// (a leading "." reads as 0; saturated at 2147483647).
int32_t atoun(const char* text);
// Length up to the NUL (0 for a null pointer).
int lenstr(const char* text);
// Copies source to destination. n > 0: exactly n bytes; n < 0: at most -n
// bytes, stopping at a NUL; n = 0: at most 511 bytes, stopping at a NUL.
// Always writes a NUL after the copy (destination holds count + 1 bytes).
// Returns the count copied.
int cpystr(const char* source, char* destination, int n);
// Looks at most max characters of line (max = the buffer's size); cuts the
// line after its last non-blank (byte above 32) before the first newline or
// NUL; the NUL is written only inside the max bytes. Returns the new length.
int trimln(char* line, int max);
// n > 0 opens a gap of n characters at position (tail moves up); n < 0
// removes -n characters there (when nothing would remain behind, the text is
// cut at position); n = 0 changes nothing. Writes the NUL; returns the new
// length. size is the buffer's size in bytes: a gap that would not fit
// (length + n + 1 > size) changes nothing and returns -1.
int insert(int n, int position, char* text, int length, int size);
// delta -32: a-z to upper case; any other delta is added to each of A-Z
// (32: to lower case). Other characters are left alone. Returns the length.
int caseto(char* text, int delta);
// 1 equal; -1 a is a proper prefix of b; 0 otherwise.
int cmpstr(const char* a, const char* b);
// As cmpstr, except that a character c of b for which islowr(c) holds also
// matches c - 32 in a. 1 equal; -1 b ends before a; 0 otherwise (including
// when a ends before b).
int cmpsti(const char* a, const char* b);
// Compares at most min(la, lb) characters exactly (a length of 0 means up to
// the NUL; a NUL also ends a name): 1 equal; 2 b is shorter and a prefix of a
// (b abbreviates a); -1 a is a proper prefix of b; 0 differ or nothing
// compared.
int isname(const char* a, const char* b, int la, int lb);
// First position of text at which it begins with keyword (characters matched
// as cmpsti does, keyword taking a's side) with at least one character
// following; -1 when there is none.
int kwindx(const char* keyword, const char* text);

// ---- Integers and numbers ---------------------------------------------

int32_t limval(int32_t v, int32_t lo, int32_t hi);  // min(max(v, lo), hi)
int32_t imod(int32_t a, int32_t b);                 // a mod b, sign of a; 0 for b 0
int32_t iabs(int32_t v);                            // |v| (wraps for INT32_MIN)
int ilog2(int32_t v);                               // floor(log2 v); 0 for v < 1
int32_t clmp16(int32_t v);                          // -32767..32767
int32_t clmp8(int32_t v);                           // 0..255
// Float to integer: clamp, then truncate toward zero. NaN gives 0.
int32_t toi16(double x);  // -32767..32767
int32_t toi32(double x);  // -2147400000..2147400000
int32_t toi8(double x);   // 0..255, then read as a signed byte
// Re-reads the base-from digits of v as base-to digits (sum of digit i x
// to^i); a negative v is taken as v + 65536; with from = 10 a result of 32768
// or more has 65536 subtracted. A from below 2 returns v.
int32_t cnvbas(int32_t v, int to, int from);

// Writes value in base (2..36, digits 0-9 then A-Z; other bases read as 10).
// In base 10 a negative value gets a "-" right before its first digit and one
// more sign place; in other bases its 32 bits are written unsigned. width < 0
// zero fills to -width places, width > 0 blank fills to width places, width 0
// uses the places the digits need plus signroom. Places 0..signroom-1 hold
// only the sign or fill. Digits that do not fit fill the field with "*".
// size is the buffer's size: a field that does not fit it is size - 1 stars.
// Returns the length.
int itostr(int32_t value, char* buffer, int width, int base, int signroom, int size);
// printf's "%<width>.<decimals>f"; a negative value is formatted as its
// absolute value one place narrower behind a reserved blank and the "-" is
// put right before the first digit. A text that does not fit size bytes is
// written as stars (the field width, at most size - 1). Returns the length.
int ftostr(double value, char* buffer, int width, int decimals, int size);
// A whole value with "%d" (whole values beyond 32 bits "%.0f"); else
// -100 < value < 100 with "%.3f"; else "%.1f". Stars when it does not fit.
int fshort(double value, char* buffer, int size);

// ---- Items by word size code ------------------------------------------

// One item as a number: code <= 8 unsigned byte, 16 signed 16-bit, 32 signed
// 32-bit, any other code a 32-bit float.
double getval(const void* pointer, int code);
// One item: code <= 8 the low byte of toi16(value); 16 toi16; 32 toi32; any
// other code a 32-bit float.
void putval(double value, void* pointer, int code);
// Conversion code of a pair of whole-byte codes (8, 16, 32, 96): 16 x f + t
// with 8 -> 1, 16 -> 2, 32 -> 4, 96 -> 3; 0 for any other code.
int cnvcod(int from, int to);
// Converts n items by conversion code (18, 19, 20, 33, 35, 36, 49, 50, 52,
// 65, 66, 67); float to integer truncates toward zero and keeps the low bits.
// Any other code copies nothing. Returns the items converted.
int32_t cnvtyp(const void* source, void* destination, int conversion, int32_t n);
// Converts n items between any two codes: whole-byte pairs through cnvtyp
// (equal codes copy), bit-packed items packed from the high bits of each byte
// down; packing clips to the target maximum unless aflags bit 0x4 is set,
// then it masks. Returns the items converted.
int32_t wdcnvt(const void* source, void* destination, int from, int to, int32_t n);
// n 32-bit words set to value.
void filwds(void* pointer, uint32_t value, int32_t n);
// Copies n bytes from the last one backwards.
void movbak(const void* source, void* destination, int32_t n);
// Swap the two bytes of each 16-bit word (bytes / 2 words), byte access and
// 16-bit access forms.
void swab2(void* buffer, int32_t bytes);
void swab2w(void* buffer, int32_t bytes);
// Combines a box of nx x ny items between a flat buffer and an image of
// rowlen items per row, at (x, y). toimage 0: the flat buffer is the target.
// Modes: 0 copy, 1 OR, 2 XOR, 3 AND (bytewise), 4 add, 5 copy non-zero source
// items, 6 replace non-zero target items (item by item). code is the item's
// word size code (8, 16, 24, 32, 96). Returns the items combined.
int32_t copybox(void* flat, void* image, int x, int y, int nx, int ny, int toimage,
                int rowlen, int code, int mode);
