// Word memory: the low stack and high memory, two arrays of 32-bit words
// in which every value of the language lives, addressed by stack address.
//
//   below 0            a held machine pointer, -(n)-1 (-1 is null)
//   0 .. 999999        word n of the low stack
//   1000000 and above  word n - 1000000 of high memory
#pragma once
#include <cstddef>
#include <cstdint>

using stkadr_t = int32_t;

constexpr int32_t HIMEM_BASE = 1000000;  // first high-memory address
constexpr int32_t STK_DEFAULT = 200000;  // default low-stack size in words
constexpr int32_t SCRATCH_GAP = 400;     // words left above stkbot per command
constexpr int32_t HPAGE_WORDS = 4096;    // words per high-memory page (16 KB)
// High memory ends below this stack address: a byte reference (4 x the
// stack address, core/varbl.h) must stay a positive 32-bit value.
constexpr int32_t HIMEM_LIMIT = 1 << 29;
// The most words one headed block in high memory can hold.
constexpr int64_t HIMEM_MAXWORDS = HIMEM_LIMIT - HIMEM_BASE - 2;

// Stack descriptor: lowest (first) headed block, stkbot (high memory: top),
// free words, end.
struct StkDesc {
  int32_t lowest;
  int32_t bot;
  int32_t freew;
  int32_t end;
};
static_assert(sizeof(StkDesc) == 16, "stack descriptor is four words");

// Block header: word 0 the size in words (header included, even), word 1
// the state: 0 free, 1 in use, else the owner's stack address (low 26 bits)
// and an extra reference count (top 6 bits, 0..15).
constexpr uint32_t BLK_OWNER = 0x3FFFFFF;
constexpr int BLK_REFSHIFT = 26;
constexpr int32_t STK_MAXWORDS = 999998;  // the low stack stays below HIMEM_BASE

extern uint32_t* lowstk;   // the low stack
extern StkDesc lstk;       // its descriptor; lstk.bot is stkbot
extern int32_t scrtop;     // scratch top
extern int32_t scrbase;    // where this command's scratch buffers begin
extern StkDesc hstk;       // high memory: {1000000, top, free, end}
extern int32_t htmptop;    // high temporary top
extern int32_t himemflag;  // bit 1: paged form
extern int32_t stktrap;    // watched stack word (0: none)
extern int32_t hstack_end; // end address of high memory (system variable hstack)

inline int32_t stkbot() { return lstk.bot; }

int MakStk();
int getstk(int32_t* addr, int32_t count, int32_t size, int where, int partial);
int putstk(int32_t addr, int32_t count, int32_t size);
void* zeroblk(int32_t size);
void* getbuf(int32_t bytes);
int frebuf(void* p);
void* getmem(size_t bytes);
int fremem(void* p);
void* grbstk(uint32_t* bytes, int share);
void* stkptr(int32_t addr);
uint32_t* stkwp(int32_t addr);
int32_t stkadr(const void* p);
int32_t fndstk(int32_t addr);
int ptrstk(int32_t addr, int32_t owner);
// Frees the headed blocks that hold the addresses, as putstk frees each
// block one after the other (an extra reference is dropped instead; 0 and
// addresses outside headed blocks are ignored), with one walk of each
// chain and one merge at the end.
void putblks(const int32_t* addrs, size_t n);
// ptrstk for the data address of a headed block getstk has just taken and
// nothing has changed since: its header lies right before it.
int ownnew(int32_t addr, int32_t owner);
int stkfre(uint32_t* bytes);
int Packstk(StkDesc* d, int32_t* largest);
uint32_t* mapstk(int32_t addr, int frame);
int mappag();
int highmem(int32_t kbytes);
// True while high memory exists in the paged form.
bool hipaged();
int chkstk(int which);
int trpstk(int32_t addr);

// Resets the scratch area and the high temporary top (start of each command),
// then compacts (autopack).
void rststk();
// Compaction between commands (core/compact.cpp): whenever a stack has
// free blocks inside its chain that appeared since the last compaction, or
// a request was refused since (packwanted), the blocks whose references
// are all known (variable data through its symbol entry, aliases, list
// elements through their slots, blocks registered with stkslot) move into
// them, so that the free words gather in the free gap. True when it ran.
bool autopack();
extern bool packwanted;
// An entry that names data it does not own (an alias made by declare ... =
// target, or declare core) never outlives that data: when words lo .. hi - 1
// of a stack are freed, the entries in reach whose data lies there let go
// of it and have none, as a released variable. aliasmade is set by what
// makes such an entry, so that frees cost nothing until one exists.
extern bool aliasmade;
void unalias(int64_t lo, int64_t hi);
// Registers a word outside the word memory that holds the data address of a
// headed low-stack block taken with no owner (0: none): compaction may move
// that block while may() (when given) holds, i.e. while no copy of the word
// is kept elsewhere, and sets the word to its new address.
void stkslot(int32_t* word, bool (*may)() = nullptr);
// Sets the scratch top with no scratch buffer handed out below it.
void setscr(int32_t top);

// Low-stack size in words for a CSTACK value (null: unset): the default
// unless the text is all digits and above 2000; capped at STK_MAXWORDS and
// made even.
int32_t stksiz(const char* cstack);
// The largest free stretch in words: the gap between the bottom area and
// the lowest headed block, the words above the top of high memory, or a
// free headed block of either stack.
int32_t maxfre();

// Typed access to a word of the stack.
inline uint32_t* wordp(int32_t addr) { return static_cast<uint32_t*>(stkptr(addr)); }

// Held machine pointers. A record field that must keep a machine pointer
// keeps a reference -(n)-1 into this table instead; a released or stale
// reference resolves to null.
int32_t holdptr(void* p);
void* heldptr(int32_t ref);
void dropptr(int32_t ref);

// Heap wrappers for platform objects and tables that must not move.
void* xalloc(size_t bytes);
void* xcalloc(size_t count, size_t size);
int xfree(void* p);
void* cmallc(size_t bytes);
void* ccallc(size_t count, size_t size);
void hfree(void* p);
void* xrealloc(void* p, size_t bytes);
// A handle: a heap block whose first slot points at the data behind it.
void* newhdl(size_t bytes, int32_t* err);
inline void* hdlptr(void* h) { return h ? *static_cast<void**>(h) : nullptr; }
void dsphdl(void* h);
int memfree(uint32_t* avail, uint32_t* total);
