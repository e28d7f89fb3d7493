// Symbol tables and string variables.
//
// Names of the command language live in symbol tables in the bottom area of
// the low stack, one table per macro level. A table is a 4-word header
// {count, link to the enclosing table, 654321, 0} followed by 24-byte
// entries back to back; entry i lies at table + 4 + 6 x i words. The
// tables are linked outward from the current macro level to the system
// table, whose link is 0.
//
// A string variable is read and written through a two-word descriptor
// {length in items, data address}; its data is a headed low-stack block
// whose owner is the descriptor's data word, so the text follows the block
// when the low stack is compacted.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t SYMMARK = 654321;  // marker word of a table header
constexpr int SYMHDR = 4;             // words of a table header
constexpr int SYMWDS = 6;             // words of an entry
constexpr int SYMNAM = 12;            // longest name
constexpr int LINSIZ = 241;           // the command line buffer: 240 characters and the NUL

// Entry flags (the kind bits 16 .. 2048 are those of the pointer record).
enum : uint16_t {
  SY_GLOBAL = 0x0001,  // visible from inner macro levels
  SY_VALUE = 0x0002,   // value held in the entry (storage allocated)
  SY_NOTOWN = 0x0004,  // the data block is not owned by the entry
  SY_DEFINE = 0x0008,  // defined string
  SY_NUMBER = 0x0010,
  SY_STRING = 0x0020,
  SY_ARRAY = 0x0040,
  SY_MATRIX = 0x0080,
  SY_VECTOR = 0x0100,
  SY_IMAGE = 0x0200,
  SY_SOLID = 0x0400,
  SY_LIST = 0x0800,
  SY_VAR = 0x1000,     // a variable
  SY_HIGH = 0x4000,    // data in high memory
};

// A symbol entry, 24 bytes inside the low stack.
struct SymEnt {
  uint32_t value;  // item count or size; a string's length; a define's text length
  int32_t data;    // stack address of the data block (0: none)
  uint16_t flags;  // 0: free slot
  uint8_t nlen;    // name length in the low 4 bits; top 4: prepared for writing
  uint8_t type;    // word size code, or a define's argument count
  char name[SYMNAM];  // not NUL-terminated
};
static_assert(sizeof(SymEnt) == 24, "symbol entry is 24 bytes");
static_assert(offsetof(SymEnt, flags) == 8 && offsetof(SymEnt, nlen) == 10 &&
                  offsetof(SymEnt, type) == 11 && offsetof(SymEnt, name) == 12,
              "symbol entry layout");

// The header of a symbol table, 4 words.
struct SymTab {
  uint32_t count;   // entries (free slots included)
  int32_t link;     // enclosing table (0: outermost)
  uint32_t marker;  // SYMMARK
  uint32_t spare;
};
static_assert(sizeof(SymTab) == 16, "symbol table header is 4 words");

// A string descriptor, 2 words.
struct StrDesc {
  uint32_t len;  // length in items
  int32_t data;  // stack address of the data block (0: none)
};
static_assert(sizeof(StrDesc) == 8, "string descriptor is 2 words");

// Table words: the table of the running macro level, the global table, the
// system table (outermost) and the definition table (receives defined
// strings; the compiler's own define table while a macro is compiled).
extern int32_t cursym;
extern int32_t glbsym;
extern int32_t syssym;
extern int32_t defsym;
// Counts every entry made, rewritten or deleted (caches of parsed lines
// compare it).
extern uint32_t symgen;

// Machine pointers of an entry, a table header or a descriptor; NULL for an
// address outside the low stack.
SymEnt* symptr(int32_t entry);
SymTab* tabptr(int32_t table);
StrDesc* desptr(int32_t desc);

// Address of entry i of a table.
inline int32_t symadr(int32_t table, int i) { return table + SYMHDR + SYMWDS * i; }

// Takes a table header from the bottom area with the given link and returns
// its address (0 when the bottom area has no room; error 42 was reported).
int32_t maktab(int32_t link);

// Makes the system table: a fresh header with link 0 that becomes the
// current, global, system and definition table. Returns its address or 0.
// Link 0 means "none", so the table must not lie at word 0: start-up takes
// the number registers first; on an empty bottom area 2 words are skipped.
int32_t mksystab();

// Enters a name in the current table (the definition table when flags has
// 8). The entry goes to the first free slot; with none the table grows by
// one entry at `addr` when it is 1 or more, else at 6 words taken from the
// bottom area. An `addr` that is an entry in use of a table in the chain is
// rewritten in place. Returns the entry's address, 0 on failure.
int32_t putsym(int32_t addr, const char* name, int len, int flags, int32_t data,
               uint32_t value, int type);

// Finds a name: the current table whole, while compiling the definition
// table, then with `outer` the flag-1 entries of the enclosing macro tables
// and the system table whole. Returns the entry's address or -1; *flags
// (when given) gets the entry's flags.
int32_t GETSYM(const char* name, int len, uint16_t* flags, int outer);

// Copies an entry's name into buf: at most its stored length and max
// characters, NUL-terminated when there is room. Returns the count.
int symnam(int32_t entry, char* buf, int max);

// Clears an entry to a free slot. Its own data block is freed unless the
// entry does not own it (flag 4); storage that hangs off the data (list
// elements, an array header's items) must be erased by the caller first.
// The table keeps its count, so every other entry stays where it is.
int delsym(int32_t entry);

// Expands the defined string named by line[start..end) in place; *len is
// the line's length (in and out). Returns the position from which the
// caller goes on scanning.
int chkdef(char* line, int start, int end, int32_t* len);

// Reads a string variable: with max 0 its stored length; otherwise the
// items copied (item size 1: text NUL-terminated, at most max - 1 chars).
int GETCHV(int32_t desc, void* buf, int max, int size);

// Stores len items of `size` bytes into a string variable (len 0 empties
// it). Returns 0; on failure the variable keeps its old value.
int PUTCHV(int32_t desc, const void* data, int len, int size);
