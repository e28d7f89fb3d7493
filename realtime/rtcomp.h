// Real-time programs: the op table, the records a compiled script is made
// of, and the two-pass compiler that turns script lines into them.
//
// A script has one op per line: the op (an r_ keyword or its number), flags,
// code, an optional "+", a time in 20-microsecond ticks and up to 20
// operands. The compiler lays the ops down as one contiguous list of op
// records in a headed block of the low stack, followed by two zero words
// and the SWITCH case tables. Every reference inside the records (operands,
// tasks, case tables, jump targets) is a stack address, so the records stay
// 32-bit words as every other record of the word memory.
#pragma once
#include <cstdint>

// ---- Opcodes ---------------------------------------------------------------
enum RtOpc : int {
  R_QUIT = 1, R_PAUSE, R_RESET, R_UWAIT, R_AWAIT, R_DWAIT, R_AREAD, R_AWRITE, R_DREAD,
  R_DWRITE, R_LUT, R_BDRAW, R_EDRAW, R_ADRAW, R_BFILL, R_EFILL, R_AFILL, R_BMOVE, R_BPUT,
  R_IMAGE, R_GRAPH, R_TEXT, R_FREAD, R_FWRITE, R_COPY, R_INRECT, R_REPEAT, R_END, R_SEEK,
  R_LABEL, R_GOTO, R_BSET, R_IFEQ, R_IFGT, R_IFLT, R_INCR, R_SYNCH, R_SWEEP, R_FONT,
  R_COLOR, R_ERASE, R_MOVEPT, R_GETXY, R_POINT, R_WAIT, R_FORK, R_SRESET, R_CURSOR, R_RGB,
  R_ADD, R_SUB, R_MULT, R_DIV, R_LINE, R_WORD, R_TWAIT, R_NOWAIT, R_LOGVAL, R_CLKSET,
  R_CLKON, R_ENDIF, R_ELSE, R_IFAND, R_SET, R_PUT, R_AND, R_OR, R_NUMBER, R_MLUT,
  R_PICTURE, R_LDRAW, R_GTIME, R_SWRITE, R_RWAIT, R_FWAIT, R_FSEEK, R_SREAD, R_SOUND,
  R_TONE, R_SCALE, R_BREAD, R_BWRITE, R_XOR, R_PWAIT, R_PREAD, R_PWRITE, R_INDEX,
  R_SWITCH, R_CASE, R_BREAK, R_FOPEN, R_FCLOSE, R_TELL, R_ABREAD, R_VWAIT, R_ATRIG,
  R_WREAD, R_WWRITE, R_WINDOW, R_PEN, R_SWAIT, R_FLIP, R_DEFAULT, R_EYEPOS, R_SWAP,
  R_RENDER, R_ROTATE, R_OFFSET, R_ZOOM, R_PROJECT, R_LOCK, R_SCREEN, R_FLICKER, R_CINE,
  R_ARROW, R_USER1, R_USER2, R_USER3, R_AVIWRITE, R_AVIADDFRAME, R_DRAWDOTS,
  R_MOVEPOINTS, R_MAP, R_GRAB, R_HISTO, R_IFGE, R_IFLE, R_ASCAN, R_SUM, R_SETSWEEP,
  R_ADJSCALE, R_FFT, R_VECADD, R_VECMULT, R_VECSIZE, R_CLOCK,
  R_ABANDON = 255,  // an abandoned op: the task moves on without running it
};
constexpr int RTNOPS = 136;
static_assert(R_CLOCK == RTNOPS);

// The op table, indexed by opcode (entry 0 unused): keyword, info byte
// (bits 0-2 minimum operands, bits 3-6 step bytes, bit 7 not traced) and
// duration in ticks.
extern const char* const rtkeys[RTNOPS + 1];
extern const uint8_t rtinfo[RTNOPS + 1];
extern const uint32_t rtdur[RTNOPS + 1];
inline int rtmin(int opc) { return opc >= 1 && opc <= RTNOPS ? rtinfo[opc] & 7 : 0; }
inline int rtstep(int opc) { return opc >= 1 && opc <= RTNOPS ? (rtinfo[opc] >> 3) & 15 : 0; }
inline uint32_t rtdura(int opc) { return opc >= 1 && opc <= RTNOPS ? rtdur[opc] : 0; }
// The opcode of an r_ keyword (exact match), 0 when none.
int rtopcode(const char* word, int len);

// ---- Records -----------------------------------------------------------------
constexpr int RTMAXOPND = 20;  // operands of one op

// Op flags.
enum : uint8_t {
  OF_CHAIN = 0x01,   // run at once after the previous op of the task
  OF_LOG = 0x02,     // write a run-log entry after the op
  OF_BUSY = 0x04,    // spin to the exact due time
  OF_HOLD = 0x08,    // yield while another task falls due within the duration
  OF_WRAP = 0x10,    // operand 1 wraps to its base at its end
  OF_ADV = 0x20,     // advance operand 1 by the extra word after each run
  OF_REL = 0x40,     // the time counts from the moment the op is reached
  OF_LIST = 0x80,    // operand 2 is a list; on r_end: closes a block
};

// An op record: time, {opcode, code, length in words, flags}, line, then
// (with operands) the extra word and one reference per operand.
struct RtOp {
  int32_t time;
  uint8_t opc;
  uint8_t code;
  uint8_t len;
  uint8_t flg;
  int32_t line;
  int32_t extra;
  int32_t opnd[RTMAXOPND + 1];
};
inline int rtnops(const RtOp* op) { return op->len > 4 ? op->len - 4 : 0; }
inline RtOp* rtnext(RtOp* op) { return reinterpret_cast<RtOp*>(reinterpret_cast<int32_t*>(op) + op->len); }

// Operand record: the view shared by variable and constant entries. A
// constant is the first four words (its value in the index field); a
// variable entry has all nine. base is the byte reference (as a pointer
// record's Data0) of the variable's first element; cur that of its current
// element while the data lies in the word memory.
struct RtOpnd {
  int32_t cur;
  int32_t base;
  int16_t type;    // 8, 16, 32 integer; 96 float; 32 for a system variable
  int16_t kind;    // kind flags; 20 system variable; -1 constant
  int32_t index;   // symbol entry, system variable code, or a constant's value
  uint32_t offset; // byte offset of the current element
  int32_t size;    // byte size of the data
  int32_t data;    // stack address of the data
  uint32_t width, height;
};
constexpr int RTVARW = 9;  // words of a variable entry
constexpr int RTCONW = 4;  // words of a constant entry

// Label entry.
struct RtLabel {
  uint16_t num;
  uint16_t zero;
  uint32_t off;  // word offset of the op after the label line
};

// Block record of a REPEAT or FORK op, held by the block's own task.
struct RtRpt {
  int32_t count;     // passes still to run
  int32_t interval;  // ticks between pass starts (block flag 0x20: operand 2's address)
  uint32_t start;    // start of the current pass, from the time origin
  uint16_t nops;     // ops of the block, its r_end excluded
  int16_t cdown;     // ops left in the pass
  int32_t first;     // first op inside the block (stack address)
  int32_t after;     // op after the block's r_end
  int32_t parent;    // task that started the block
  uint16_t flags;
  uint16_t pad;
};
static_assert(sizeof(RtRpt) == 32);

// SWITCH case entry.
struct RtCase {
  int16_t value;
  uint16_t off;  // words from the r_switch op to the op after the r_case
};

// ---- Compiler ----------------------------------------------------------------
// Compiles a script from an open input unit (name for error reports; inline
// nonzero: it ends at the line "}"). 0 after a clean compile, -1 when the
// status word carries an error, stop or interrupt.
int rdrtime(int unit, const char* name, int inlin);
// Reads and drops the lines of an inline script up to its line "}" (a head
// refused before its script was compiled), so that none of them runs at
// the prompt.
void rtdrop(int unit);
// The constant entry holding an integer or float value (appended when new);
// error 173 when the table is full (count == max). Stack address, 0 on failure.
int32_t iconst(int32_t value, int* count, int max);
int32_t fconst(float value, int* count, int max);
// Words from op to just past the ELSE or ENDIF matching it; *count gets the
// ops walked. depth 0 for an IF op, 1 for an ELSE; mode 1 steps over
// REPEAT, FORK and SWITCH blocks whole.
int ifchk(int mode, RtOp* op, int depth, int* count);
// Frame timing defaults of the state block.
void rtdflt();
// Trace listings of the variable table, the running list and its windows.
void rtvdump(int tag);
void rttdump(int tag);
void rtwdump(int tag, int unit);
// The temporary file's path of the last compile that spilled (tests).
const char* rttmpname();
