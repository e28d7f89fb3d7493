// The line reader and word parser: one line of command text becomes the
// command word table (42 WORD entries) with its argument map, and the line
// gets its command code.
//
// The table is used from both ends: final words are taken upward from entry
// 0 (the word count says how many), scratch words (the pending pieces of
// the argument being parsed) downward from entry 41 to the low mark. A word
// that owns sub-words (subscripts, argument lists, a name's text, the words
// of an expression group) stores their positions as relative entry indexes
// (sub-word index - own index). Sub-words always follow their owner and lie
// deeper (depth + 2; the words of an expression group depth + 1), so an
// owner and everything it owns form one run of entries.
#pragma once
#include <cstdint>
#include <cstring>

#include "lang/keywords.h"  // cmdkey, the command codes

constexpr int LINBUF = 240;  // a typed or stored line: 239 characters and the NUL
constexpr int CMDLIN = 241;  // the command line buffer: a macro line of 240 characters and the NUL
constexpr int NWORDS = 42;   // entries of the command word table
constexpr int MAXARG = 40;   // arguments of a line, pending words of an argument

// WORD entry types.
enum : int16_t {
  WT_FREE = -1,        // a freed scratch entry
  WT_NONE = 0,         // unused (a blanked "-", a freed entry)
  WT_GROUP = 1,        // expression group: its words follow it
  WT_MACARG = 4,       // "$n": argument n of the running macro
  WT_NUMBER = 18,      // number constant: 32-bit value and word size code
  WT_TEXT = 32,        // text: an unknown name, or a name kept as text
  WT_QUOTED = 34,      // quoted string, escapes decoded
  WT_CMD = 0x2000,     // command or operator word: code in v1
  WT_CMDLIST = 0x2001, // command or function word with a parenthesised list
  WT_UNKLIST = 0x2008, // unknown name followed by "(" (0x2009 once parsed)
  WT_CONT = 0x4000,    // 0x4000 + t: continuation of a text of type t
  WT_SLOTS = 0x4001,   // continuation of four i16 slots
};

// Slot codes of subscripts and lists.
constexpr int16_t SLOT_NONE = -99;  // not given
constexpr int16_t SLOT_END = -100;  // empty item after ":" (to the end)

// Parse flags (set by the caller of the line reader for each line).
enum : uint16_t {
  PF_DEFINES = 0x01,  // substitute defined names
  PF_COMMENT = 0x02,  // a ";" outside quotes ends the line
  PF_FOLD = 0x04,     // fold upper-case letters to lower case
  PF_PARSE = 0x08,    // parse the line
  PF_ORDER = 0x10,    // order expression words; "-" never starts a number
  PF_WHOLE = 0x40,    // the whole line is one text word
};

// A WORD entry, 16 bytes. Compiled macro files store these records as they
// are, so the layout is fixed. The first and second values together hold a
// 32-bit value or address (first value the low half, little-endian order).
struct WORD {
  int16_t type;
  int16_t depth;  // nesting level: 0 for an argument's top word
  int16_t v1;     // first value
  int16_t v2;     // second value
  uint8_t b[8];   // text, a number {i32 value, i16 word size code}, or four i16 slots
};
static_assert(sizeof(WORD) == 16, "a WORD entry is 16 bytes");

inline int32_t wval(const WORD& w) {
  return int32_t(uint32_t(uint16_t(w.v1)) | (uint32_t(uint16_t(w.v2)) << 16));
}
inline void setwval(WORD& w, int32_t v) {
  w.v1 = int16_t(uint16_t(uint32_t(v) & 0xFFFF));
  w.v2 = int16_t(uint16_t(uint32_t(v) >> 16));
}
inline int16_t wslot(const WORD& w, int i) {
  int16_t s;
  std::memcpy(&s, w.b + 2 * i, 2);
  return s;
}
inline void setwslot(WORD& w, int i, int16_t s) { std::memcpy(w.b + 2 * i, &s, 2); }
// A number constant's 32-bit value (integer, or float bits) and word size code.
inline int32_t wnum(const WORD& w) {
  int32_t v;
  std::memcpy(&v, w.b, 4);
  return v;
}
inline int16_t wnsiz(const WORD& w) { return wslot(w, 2); }
// The value of a number constant as a float.
double wfloat(const WORD& w);

// The parse state. The dump file copies these as they are.
extern char linbuf[CMDLIN];      // the line buffer
extern WORD wrdtab[NWORDS];      // the command word table
extern int16_t nwords;           // final words in use (entries 0 .. nwords-1)
extern int16_t lowmrk;           // lowest scratch entry in use
extern int16_t argmap[MAXARG];   // argument n is entry argmap[n-1]
extern int16_t nargw;            // argument count (the command word included)
extern int16_t lsttok;           // current list token: a WORD index, -1 none
extern uint16_t prsflg;          // parse flags of the current line
extern int16_t pendng[MAXARG];   // pending words of the argument being parsed
extern int16_t pendrd;           // pending list: read index (from 1)
extern int16_t pendct;           // pending list: count

// The last line given to PARSLN as it was before the parse edited the line
// buffer in place (a brace list {a b} becomes the list (a,b), which does
// not read as a brace list again).
extern char prsln[CMDLIN];

// Parses the line buffer (length n): fills the word table and argument map
// and gives the command code. Returns n, or 0 with no argument or on error.
int PARSLN(int n, int* code);

// Stores text into entry e as type t (32 or 34): first value = length,
// second value = relative index of the next piece (0 for the last); 8 bytes
// per entry, continued in entries of type 0x4000 + t taken from the final
// words. Returns the number of entries used, or -1 (error 41).
int wrdtxt(int e, int t, const char* text, int length);
// Reads the text of a text word (types 32, 34, and a command word's text
// entry) into out (size bytes, NUL-terminated). Returns the text's length.
int gettxt(int e, char* out, int size);

// Lays out n slots of entry k: k keeps four; for more, k and each
// continuation entry (type 0x4001, taken from the final words) keep three
// and their fourth slot holds the relative index of the next one (a chain
// that ends with exactly one slot left keeps it in the fourth). Every slot
// is set to -99; phys[j] gets (entry << 8) | slot of slot j. Returns 0, or
// -1 (error 41).
int chnslt(int k, int n, int16_t* phys);

// Takes the next final entry (position < 0) or makes a pending scratch word
// for line[position..] of the given length (negative: to the end of the
// line), preset type and link code. Returns the entry, or -1 (error 41).
int makwrd(int position, int length, int type, int link);

// The prefix a word of the kind is written with (the kind flags a prefix
// gives: "^" 64, "^^" 128, "#" 16 ...), NUL-terminated in pfx; false when no
// prefix gives that kind.
bool kindpfx(int kind, char pfx[3]);

// Character helpers.
// Index of ch in text (NUL-terminated), or -1.
int chrpos(int ch, const char* text);
// Reads a number at text: an optional "-", digits in the input base (a
// letter after the digits may set the radix: b 2, d 10, h 16, o 8, q 4), a
// "." fraction. *kind in: a required kind (a float is made when not 0); out:
// the word size code, 32 integer or 96 float. Returns the characters used,
// 0 when no number is there; error 100 for a value beyond 2147399935.
int rdnum(double* value, const char* text, int* kind);
// Length of the name at text (letters, digits, "_", "."; a quoted string
// counts whole); *next gets the character after it.
int igtnam(const char* text, int* next);
// On "(", "<", "[" or "{": the length up to and including the matching
// closing character (max when it is not found); otherwise the length of the
// name or prefix text up to a blank. *next gets the character after it.
int gobble(const char* text, int max, int* next);
// Decodes escapes of the text src[*pos ..] up to the delimiter (or the NUL)
// into dst (size bytes, NUL-terminated): \b \t \n \f \r \e, \ooo (up to 3
// octal digits), \c for any other c. *pos moves past the closing delimiter.
// Returns the decoded length.
int unesc(char* dst, int size, const char* src, int delim, int* pos);
// Length of the body of the quoted string at text (text[0] is the quote),
// escaped characters skipped; the closing quote is looked for within 300
// characters. -1 when it is not found.
int qotlen(const char* text);
