// The macro compiler and compiled macros.
//
// A compiled macro is a list of command records: each command line parsed
// once (its word table and argument map), flow-control lines turned into
// jumps between records. The compile command writes them to a file
// (".cmp", or ".cmo" while named references to other macros remain); a
// loop of a running text macro (or typed at the prompt) with aflags bit
// 0x100 is compiled into memory instead. The runner hands the records to
// the main loop's line reader one by one.
//
// File layout (little-endian): bytes 0 to 139 the file layer's header; from
// byte 140 the compiled data: a 28-byte header {u16 reserved, u16 file type
// 0x2008, u16 kind 256/257, u16 header size 28, u16 relocation entries + 1,
// u16 body blocks, u32 Sysz, u32 Rlsz, u32 Labs, u32 Cmds}, then the
// symbol entries (24 bytes), named references (20), labels (8) and the
// command records.
//
// Command record: {u8 nargs, u8 nwords, i16 code, i32 next, i16 line,
// i16 argmap[nargs], WORD[nwords]}. Code < 0 is a control record (a jump
// through its next offset); a condition record (if 6, while 10) keeps its
// false-jump distance, counted from its next offset, in argmap[1]. A word
// naming a variable holds -(6 x symbol index) - 1. An ordinary line ending
// in "{" is followed by its text block: per line i16 (length + 1), the text
// and a NUL; i16 0 ends it.
#pragma once
#include <cstdint>
#include <cstring>

#include <string>
#include <vector>

struct PtrRec;

// Lists symbol entries (24 bytes each) on the debug unit as the traces of
// the compiler and the loader do, under the heading "Symbol table", or the
// heading given.
void lstsym(const std::vector<uint8_t>& s, const char* head = "Symbol table");

constexpr int CMPBASE = 140;          // compiled data start in the file
constexpr int CMPHDR = 28;            // its header
constexpr uint16_t CMPTYPE = 0x2008;  // the file type
constexpr uint16_t CMPKIND = 256;     // all references resolved; 257 some left
constexpr int RECHDR = 10;            // command record header
constexpr int16_t LOOPEND = 32765;    // end record of a loop compiled in memory
constexpr int RELSZ = 20;             // a relocation entry / named reference
constexpr int LABSZ = 8;              // a label entry
constexpr int CMDMAX = 65536;         // largest command table
constexpr int LOOPMAX = 32764;        // largest loop compiled in memory
constexpr int MEMUNIT = 98;           // the input unit of a macro run from a variable

inline int16_t get16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline int32_t get32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void put16(uint8_t* p, int v) {
  auto x = int16_t(uint16_t(uint32_t(v) & 0xFFFF));
  std::memcpy(p, &x, 2);
}
inline void put32(uint8_t* p, int32_t v) { std::memcpy(p, &v, 4); }

// Bytes of the record whose header is at p.
inline int32_t recsiz(const uint8_t* p) { return RECHDR + 2 * p[0] + 16 * p[1]; }

// The compile command (14): compile name [options [S [D [R]]]].
int compil();
// Compiles the loop whose head line was just parsed (IFTEST with aflags bit
// 0x100); bytes of code, or -1 when the loop runs from its text. A loop
// typed at the prompt that it gives up leaves the lines it read after the
// head in *read (each ending with a newline): the caller collects the rest
// and runs the loop from its text.
int loopcompil(int code, std::string* read);
// Runs the compiled macro named by argument argi; -1 when not run.
int runipc(int argi);
// The next command of the running compiled macro into the parse tables;
// the argument count (0: none), the code in *code.
int getipc(int* code);
// The next line of the running compiled macro's text block.
int rdipc(char* buf, int max);
// Whether a line read from `unit` comes from the running compiled form
// (its text blocks) instead.
bool ipcunit(int unit);
// Frees the running compiled macro's sections (frame pop).
void ipcfre();
// Whether a compiled macro or a loop compiled in memory is running.
bool ipcrun();
// Walks string argument `arg` item by item: the first call (buf null)
// takes the string into a scratch buffer; each later call passes the item
// returned last and *state (minus the characters left after it). Items are
// separated by newlines, and with seps also by blank, comma and tab. The
// next item (NUL-terminated in place), or null when none is left.
char* NXTSTR(int arg, char* buf, int32_t* state, int seps);
// Drops every runner state (tests, start-up).
void ipcini();

// Byte streams of pointer records. The stream position is block x 512 +
// byte within the block, kept in XYZptr[1] and XYZptr[0] and written back
// (as block and byte below 512) after each transfer. A file-backed record
// (kind bit 8) moves the whole count in one transfer at file offset
// position + 140; any other record goes piece by piece through its block
// buffers, or its data when it has none.
int64_t stmpos(const PtrRec* r);
void stmset(PtrRec* r, int64_t pos);
// Reads n bytes: a pointer to them in place when they all lie in the first
// piece (buf is then not filled, and may be null), else buf filled piece by
// piece. Null when fewer than n bytes could be read (the position stays).
uint8_t* rdptr(PtrRec* r, uint8_t* buf, int32_t n);
// Writes n bytes; stops when a block has no room left. The bytes written,
// or -1 when the transfer failed.
int32_t wrtptr(PtrRec* r, const uint8_t* bytes, int32_t n);
