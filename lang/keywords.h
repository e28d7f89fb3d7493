// The keyword tables of the command language and keyword lookup.
//
// The command keyword table holds 232 command and function words, then 28
// operator words, then 16 board-command slots. A word's command code
// follows from its 1-based index. Compiled macro files store these codes,
// so the order of the tables is frozen: a word is never moved, removed or
// inserted in front of another.
//
//   index 1-67     code = index          commands
//   index 68-162   code = index + 133    functions 201-295
//   index 163-197  code = index + 138    commands 301-335
//   index 198-204  code = index + 203    commands 401-407
//   index 205-232  code = index + 296    commands 501-528
//   operator 1-28  code = index + 100    101-128
//   board 1-16     code = index + 600    601-616
#pragma once
#include <array>
#include <cstdint>

#include "lang/cmdcodes.h"

constexpr int NCMDWD = 232;  // command and function words
constexpr int NOPRWD = 28;   // operator words
constexpr int NBRDWD = 16;   // board-command slots

// Command codes the parser and dispatcher name.
enum : int {
  OP_LBRACK = 101, OP_LBRACE = 103, OP_RBRACE = 104, OP_LPAREN = 105, OP_RPAREN = 106,
  OP_EQEQ = 107, OP_INC = 108, OP_DEC = 109, OP_POWER = 110, OP_CONCAT = 111, OP_SHR = 112,
  OP_AND = 113, OP_OR = 114, OP_ASSIGN = 115, OP_PLUS = 116, OP_MINUS = 117, OP_TIMES = 118,
  OP_DIVIDE = 119, OP_GE = 120, OP_GT = 121, OP_NE = 124, OP_NOT = 125, OP_BITAND = 126,
  OP_BITOR = 127, OP_QUERY = 128,
  CM_UNKNOWN = 98,   // a name that is no command word
  CM_QUOTED = 99,    // a quoted string
  CM_EXPR = 200,     // an expression
  CM_DOLLAR = 399,   // a line that begins with "$"
  CM_BOARD = 600,    // board command n has code 600 + n
};

// The command and function words in index order (index 1 is element 0).
constexpr std::array<const char*, NCMDWD> cmdwds = {
    // 1-67: codes 1-67
    "help", "quit", "list", "type", "ftype", "if", "else", "goto", "label", "while",
    "break", "macro", "run", "compile", "link", "default", "return", "socket", "close",
    "read", "write", "input", "output", "copy", "call", "execute", "next", "menu",
    "include", "show", "manual", "journal", "define", "declare", "global", "number",
    "string", "array", "matrix", "file", "image", "solid", "pointer", "bit", "crumb",
    "nibble", "byte", "real", "long", "errors", "core", "printer", "terminal", "edit",
    "high", "argshift", "watch", "low", "repeat", "release", "load", "window", "dump",
    "update", "undeclare", "mkdir", "preproc",
    // 68-162: codes 201-295 (function words)
    "log", "alog", "sin", "asin", "cos", "acos", "sqrt", "sweep", "max", "min", "sum",
    "mean", "stdev", "stats", "size", "address", "mode", "length", "angle", "area",
    "measure", "compress", "substitute", "frequency", "bin", "transform", "analyze",
    "correlate", "row", "column", "zproj", "projection", "ucase", "lcase", "integer",
    "round", "rem", "xor", "time", "getbox", "getxy", "perp", "vector", "random", "ramp",
    "maklut", "accept", "format", "map", "matmul", "rank", "align", "findvec", "warp",
    "smooth", "order", "search", "trace", "sample", "getchar", "mask", "accum", "gettxt",
    "zoom", "menuitem", "interpolate", "flip", "invert", "convolve", "dither", "filter",
    "vrbxy", "dialog", "alert", "index", "peak", "color", "getfile", "pdstr", "comread",
    "rgb", "shift", "atan", "fit", "swap", "resource", "stereogram", "fmode", "name",
    "numbits", "import", "eyepos", "open", "parse", "getenv",
    // 163-197: codes 301-335
    "wait", "directory", "delete", "synch", "alarm", "portio", "sysint", "initialize",
    "erase", "sketch", "redraw", "stretch", "view", "blend", "freeze", "scan", "animate",
    "chdir", "surface", "rtclock", "analogio", "xunused", "realtime", "dmwrite", "sound",
    "dmread", "sort", "comwrite", "fopen", "fread", "fwrite", "fclose", "pattern",
    "addlist", "system",
    // 198-204: codes 401-407
    "digitize", "overlay", "ipalu", "roam", "ipwait", "fill", "fft",
    // 205-232: codes 501-528
    "font", "rotate", "scale", "pin", "offset", "histogram", "plot", "text", "putvec",
    "axis", "paint", "line", "box", "circle", "arc", "ellipse", "block", "cylinder",
    "sphere", "cone", "disk", "zscan", "grid", "spline", "picture", "user1", "user2",
    "user3"};

// The operator words (codes 101-128). Every two-character operator stands
// before the one-character operator that begins it, so that the first match
// in table order is the longest.
constexpr std::array<const char*, NOPRWD> oprwds = {
    "[", "]", "{", "}", "(", ")", "==", "++", "--", "**", "//", ">>", "&&", "||",
    "=", "+", "-", "*", "/", ">=", ">", "<=", "<", "!=", "!", "&", "|", "?"};

// The board commands (codes 601-616); empty slots are "".
constexpr std::array<const char*, NBRDWD> brdwds = {
    "cb_getconfig", "cb_setconfig", "cb_digconfigport", "cb_digin", "cb_digout", "xxx",
    "", "", "", "", "", "", "", "", "", ""};

// Command code of the command word with 1-based index i (1..232); 0 outside.
constexpr int cmdcod(int i) {
  if (i < 1 || i > NCMDWD) return 0;
  if (i <= 67) return i;
  if (i <= 162) return i + 133;
  if (i <= 197) return i + 138;
  if (i <= 204) return i + 203;
  return i + 296;
}

// 1-based index of a command word's code (the inverse of cmdcod); 0 when the
// code is no command-word code.
constexpr int cmdidx(int code) {
  int i = 0;
  if (code >= 501) i = code - 296;
  else if (code >= 401) i = code - 203;
  else if (code >= 301) i = code - 138;
  else if (code >= 201) i = code - 133;
  else i = code;
  return cmdcod(i) == code ? i : 0;
}

// Compares word with the entries of table in order, up to n entries or the
// first empty one. *len is the word's length; 0 means "not given": the word
// runs on in the text, and an entry that is a prefix of it matches (the
// first in table order wins) and *len becomes the entry's length. An exact
// match ends the scan. With abbrev and a word of 2 or more characters, an
// entry the word abbreviates is a candidate; a second candidate makes the
// word ambiguous. Returns the 1-based index, -1 not found, -2 ambiguous.
int lookup(const char* word, int* len, const char* const* table, int n, int abbrev);

// The command code of a word: with *len 0 the operator words are searched
// without abbreviation (code 101-128; *len becomes the operator's length);
// otherwise the command words with abbreviation (their code), and when
// nothing is found the board commands (601-616). -1 not found, -2 ambiguous.
int cmdlook(const char* word, int* len);

// Copies the keyword of a command code to out (at least 20 bytes) and
// returns its length; an unknown code gives "" and -1.
int cmdnam(int code, char* out);
// The keyword of a command code, or null.
const char* cmdtxt(int code);

// The command code of the parsed line when argument n is its first word:
// 99 a quoted string; 98 an unknown name; 115 when the next word (or, for
// an ordered group, its last item) is "="; 200 a word that is no command
// word, or a command or function word with a code from 105 to 300; else the
// command word's code. "=" after a command word is error 16 (argument 2)
// and leaves no argument. Sets the current list token to argument n's entry.
int cmdkey(int n);
