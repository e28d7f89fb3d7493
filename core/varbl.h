// Pointer records and variable storage.
//
// Every operand of a command is handled through a 120-byte pointer record in
// the low stack: what the data is, where it lives, which part of it is in use
// and how far an operation has got. Its companions are the buffer record
// (block buffers of file- and device-backed data) and the file record.
//
// A machine pointer does not fit a 32-bit word, so the fields that name
// machine data hold 32-bit references:
//  - Addr: a stack address (low stack or high memory); with kind flag 4 a
//    held-pointer reference -(n)-1 (core/memory.h); for kind 18 the value.
//  - Dptr, Data0: byte references (see membyt below).
//  - the buffer, file, transform and argument-list fields: the stack address
//    of the companion record, 0 for none.
//  - the file record's strip table: the stack address of its count word (the
//    word before it, the offsets column's file position, starts the block);
//    its pack buffer: the stack address of the pack record.
#pragma once

#include <vector>

#include "core/state.h"
#include <cstddef>
#include <cstdint>

#include "core/memory.h"
#include "core/symbols.h"

// Kind flags (Flg).
enum : uint16_t {
  K_VALUE = 2,      // the value is held in the record
  K_NOSTK = 4,      // the data is not on the stack
  K_FILE = 8,       // file-backed
  K_NUMBER = 16,
  K_STRING = 32,
  K_ARRAY = 64,
  K_MATRIX = 128,
  K_VECTOR = 256,
  K_IMAGE = 512,
  K_SOLID = 1024,
  K_LIST = 2048,
  K_NAMED = 4096,   // belongs to a variable of a symbol table (Pointer)
  K_ARGS = 0x2000,  // an argument list is attached
  K_CONST = 18,     // number constant
  K_DATA = 0x7E0,   // data kinds, String to List
  K_DIMS = 0x7C0,   // data kinds with dimensions, Array to List
  K_HDR = 0x680,    // kinds whose data starts with the 5-word header
};

// Flg2 bits.
enum : uint16_t {
  F2_HIGH = 0x4000,   // the data lives in high memory
  F2_XFORM = 0x3FF0,  // a transform is attached
};

// Store rules of a record (PtrRec::Store) of a saved macro argument: a store through
// it writes the caller's window as it is (never a remake; more items than
// the window is error 59), or is refused with error 58 on argument 1 (the
// argument's data is a copy, a constant or no data of the caller's).
enum : uint8_t { ST_KEEPWIN = 1, ST_NOSTORE = 2 };
// A pointer variable's empty record whose variable was released or
// undeclared: a store through it is error 59, a read error 103.
constexpr uint8_t ST_GONE = 3;

struct PtrRec {
  uint32_t PTR;        // own stack address; expression records: Nargs
  uint16_t Flg;        // kind flags
  uint16_t Flg2;
  int32_t Idx;         // symbol entry, device number, system variable code, or -1
  uint32_t Addr;       // data address; kind 18: the value
  int32_t Dptr;        // byte reference of the current item
  int16_t Wsiz;        // word size code; with K_ARGS the argument count
  uint8_t Bitp;        // bit position of the current item inside its byte
  uint8_t Store;       // a macro argument's store rule (ST_KEEPWIN, ST_NOSTORE); 0 elsewhere
  uint8_t Wbyts;       // bytes per item
  uint8_t Ndims;
  uint16_t Page;
  uint32_t Stack;      // own address when a headed block, else 0
  int32_t Length;      // items in the window (-1 = not known)
  uint32_t Offs[6];    // window origin x, y, z, extents nx, ny, nz
  uint32_t XYZptr[3];  // current position
  uint32_t Tot;        // total items of the data
  uint32_t Datdims[3];
  int32_t Rwds;        // items per block buffer
  int32_t Bufsiz;      // items addressable from Dptr; 0 not prepared; -1 n/a
  uint32_t Mptr;       // file or device layer's word
  int32_t Data0;       // byte reference of the data's first item
  int32_t Bufp;        // buffer record
  int32_t Filp;        // file record
  int32_t Xfrm;        // transform record
  int32_t Args;        // command-argument list
};
static_assert(sizeof(PtrRec) == 120);
static_assert(offsetof(PtrRec, Flg) == 4 && offsetof(PtrRec, Idx) == 8);
static_assert(offsetof(PtrRec, Addr) == 12 && offsetof(PtrRec, Dptr) == 16);
static_assert(offsetof(PtrRec, Wsiz) == 20 && offsetof(PtrRec, Bitp) == 22);
static_assert(offsetof(PtrRec, Wbyts) == 24 && offsetof(PtrRec, Ndims) == 25);
static_assert(offsetof(PtrRec, Page) == 26 && offsetof(PtrRec, Stack) == 28);
static_assert(offsetof(PtrRec, Length) == 32 && offsetof(PtrRec, Offs) == 36);
static_assert(offsetof(PtrRec, XYZptr) == 60 && offsetof(PtrRec, Tot) == 72);
static_assert(offsetof(PtrRec, Datdims) == 76 && offsetof(PtrRec, Rwds) == 88);
static_assert(offsetof(PtrRec, Bufsiz) == 92 && offsetof(PtrRec, Mptr) == 96);
static_assert(offsetof(PtrRec, Data0) == 100 && offsetof(PtrRec, Bufp) == 104);
static_assert(offsetof(PtrRec, Filp) == 108 && offsetof(PtrRec, Xfrm) == 112);
static_assert(offsetof(PtrRec, Args) == 116);

// Word offsets of fields that act as block owners.
constexpr int32_t PR_ADDR = 3;  // the Addr word

// One block buffer slot of a buffer record.
struct BufSlot {
  int16_t Blk;     // block number from 1; 0 or less = empty
  int16_t I0;      // item index in the buffer where the box starts
  int16_t Siz[3];  // the box's sizes
};

struct BufRec {
  uint32_t BPTR;        // own stack address
  uint8_t Bflg;         // 0x2: blocks follow the window
  uint8_t Pflg;         // 0x1: shared through the table of active buffers
  int16_t Lnks;         // records sharing it
  uint32_t Bufdims[3];  // a block's extent along x, y, z
  int32_t Rsiz;         // bytes per buffer
  uint32_t Bksiz;       // items of one block of the window
  uint8_t Actv;         // order of use; 0x40 = single buffer
  uint8_t F[3];         // 0 clean, 2 changed
  uint32_t Org[3][3];   // per buffer the first item of its box
  BufSlot B[3];
  uint16_t Pad;
};
static_assert(sizeof(BufRec) == 100);
static_assert(offsetof(BufRec, Rsiz) == 20 && offsetof(BufRec, Actv) == 28);
static_assert(offsetof(BufRec, Org) == 32 && offsetof(BufRec, B) == 68);

struct FilRec {
  uint32_t Ptr;       // own stack address
  uint8_t Lun;        // unit
  uint8_t Enum;
  uint16_t Mod;
  char Nam[256];
  int32_t Strip;      // strip table (stack address of its count word), 0 none
  uint8_t Flg;        // format code
  int8_t Pad;
  uint16_t Frec;
  int32_t Pack;       // pack record (stack address), 0 none
};
static_assert(sizeof(FilRec) == 276);
static_assert(offsetof(FilRec, Nam) == 8 && offsetof(FilRec, Strip) == 264);
static_assert(offsetof(FilRec, Flg) == 268 && offsetof(FilRec, Pack) == 272);

// Transform record (its fields belong to the geometric transforms).
struct XfmRec {
  uint32_t Ptr;
  float Rotate[3];
  float Scale[3];
  int16_t Pin[3];
  int16_t Offset[3];
  float Matrix[3][3];
};
static_assert(sizeof(XfmRec) == 76);

// Size in bytes of a list element's header (non-string lists).
constexpr int LST_HDR = 48;

// Byte references. Dptr and Data0 cannot hold machine pointers, so they hold
// a 32-bit byte reference instead:
//  - Data0 of 0 or more: Data0 and Dptr are byte addresses in the word memory,
//    4 x stack address + byte (high memory from 4 x 1000000 up); 0 = none;
//  - Data0 below 0: Data0 is a held-pointer reference to outside data and
//    Dptr the byte offset from it.
//  Byte references reach stack addresses below 2^29 (the low stack and the
//  first 2 GB of high memory).
uint8_t* hmbyt(int32_t b);
inline uint8_t* membyt(int32_t b) {
  if (b < 4 * HIMEM_BASE) return reinterpret_cast<uint8_t*>(lowstk) + b;
  return hmbyt(b);
}
inline int32_t bytadr(int32_t stkaddr) {
  return static_cast<int32_t>(static_cast<uint32_t>(stkaddr) * 4u);
}
//  A Number record's item is always in the word memory, and its Data0 is
//  never read: number records may be short heads of the first 9 words.
inline uint8_t* dptr(const PtrRec* r) {
  if (!(r->Flg & 16) && r->Data0 < 0)
    return static_cast<uint8_t*>(heldptr(r->Data0)) + static_cast<uint32_t>(r->Dptr);
  return membyt(r->Dptr);
}
inline uint8_t* dat0(const PtrRec* r) {
  if (r->Data0 < 0) return static_cast<uint8_t*>(heldptr(r->Data0));
  return r->Data0 > 0 ? membyt(r->Data0) : nullptr;
}

// Index arithmetic on record fields: wide enough for any product of three
// 32-bit fields, brought back to 64 bits clamped to +-2^62 so that a few
// further sums stay defined.
using wide = __int128;
inline int64_t narrow(wide v) {
  constexpr int64_t lim = INT64_C(1) << 62;
  return v > lim ? lim : (v < -lim ? -lim : static_cast<int64_t>(v));
}
// A byte reference moved by a byte offset (wraps, never overflows).
inline int32_t addref(int32_t b, int64_t off) {
  return static_cast<int32_t>(static_cast<uint32_t>(b) + static_cast<uint32_t>(off));
}

// Companion records; null when there is none.
inline BufRec* bufrec(const PtrRec* r) {
  return r->Bufp > 0 ? static_cast<BufRec*>(stkptr(r->Bufp)) : nullptr;
}
inline FilRec* filrec(const PtrRec* r) {
  return r->Filp > 0 ? static_cast<FilRec*>(stkptr(r->Filp)) : nullptr;
}
inline XfmRec* xfmrec(const PtrRec* r) {
  return r->Xfrm > 0 ? static_cast<XfmRec*>(stkptr(r->Xfrm)) : nullptr;
}
// The record of a text-file word (~"name", ~~"name"): a string or string
// list that holds its file's text, or that an assignment writes to its
// file. It keeps its file record but holds its items in memory.
inline bool txtword(const PtrRec* r) {
  return r && (r->Flg & (K_STRING | K_FILE)) == K_STRING && r->Filp > 0;
}
// The record at a stack address (a handle); null below 1.
inline PtrRec* ptrrec(int32_t handle) {
  return handle > 0 ? static_cast<PtrRec*>(stkptr(handle)) : nullptr;
}

// Bits one item occupies in storage (the low 6 bits of the word size code).
inline int itmbit(int wsiz) { return wsiz & 63; }

PtrRec* putptr(int kind, int32_t bufbytes, const uint32_t* dims, int bflags, int wsiz,
               int scratch);
int setrec(PtrRec* r, int kind, int32_t idx, uint32_t addr, int wsiz, int32_t length);
int ptrvrb(PtrRec* src, PtrRec* dst);
int freptr(PtrRec* r);
int32_t chgbuf(PtrRec* r, int32_t bytes, int mode);
int erasvb(SymEnt* entry);
// A named matrix, image or solid keeps its transform (rotate, scale, offset,
// pin) when its storage is made anew: xfoff takes the transform block off
// the entry's header (0 for none), xfon hangs it on the entry's new header
// (or frees it when the entry has none). erasvb frees a transform still on.
int32_t xfoff(SymEnt* entry);
void xfon(SymEnt* entry, int32_t xf);
int makvar(PtrRec* r, const PtrRec* tmpl, int32_t* count, int32_t n, int flag, int wsiz);
// Set by a caller that stores every item of the storage makvar makes next
// (an element-wise result sized by setout): storage made for a window from
// the first item is then not cleared first, and makvar notes it in
// mkfresh, so that the caller clears it after all when it stops early.
extern bool mkcover;
struct MkFresh {
  int32_t addr = 0;
  int64_t words = 0;
};
extern MkFresh mkfresh;
// Zeroes words of the word memory, page by page in high memory.
void zerwds(int32_t addr, int64_t words);
int asnvrb(PtrRec* r, int32_t n, const PtrRec* tmpl, int mode);

// While a hold is open, the records a list of vectors loses when asnvrb
// remakes it to a new count are kept aside: `asnend` frees them when the
// operation succeeded, or puts them back (dropping the new ones) when it
// failed, so a failing assignment leaves the list as it was. Holds nest:
// `asnbeg` returns the outer hold, which `asnend` reinstates.
struct AsnHold {
  int32_t ent = 0;            // symbol entry of the list, 0 = nothing held
  int32_t ptr = 0;            // the entry's pointer record
  std::vector<uint8_t> recs;  // the records before the remake
  bool open = false;
};
AsnHold asnbeg();
void asnend(const AsnHold& outer, bool ok);

// A hold over one operation: ended by the scope, the operation counting as
// failed when it reported an error that was not there before it.
struct AsnScope {
  AsnHold outer = asnbeg();
  bool before = (state & ST_ERROR) != 0;
  AsnScope() = default;
  AsnScope(const AsnScope&) = delete;
  AsnScope& operator=(const AsnScope&) = delete;
  ~AsnScope() { asnend(outer, before || !(state & ST_ERROR)); }
};
int32_t chkoff(PtrRec* r, int kind, int32_t* count, int32_t* part, int32_t n, uint32_t* offs);
int32_t sbufdm(PtrRec* r, const uint32_t* offs, int32_t n);
uint8_t* lstptr(PtrRec* r, int32_t n, int32_t* length, int32_t table);
// Element n of a record's list made addressable in place (Dptr), without
// lstptr's terminated copy; its length in items.
int32_t lstelm(PtrRec* r, int32_t n);
// The element slots of a record's list (or of a bare table): 0 when none.
int32_t lstslots(const PtrRec* r, int32_t table);
int lstdel(int32_t rec, int32_t n);
int maklst(int32_t rec, int32_t length, int32_t n);
int movptr(PtrRec* r);
void* ptrdat(const PtrRec* r);
PtrRec* getvar(int32_t handle);
double getnum(PtrRec* r, double dflt);
int32_t getarr(PtrRec* r, void* buf, int32_t max, int wsiz);
int shoptr(const PtrRec* r);

// Frees the headed block that holds a stack address (the whole block, not a
// tail); ignores 0 and addresses outside headed blocks.
void freblk(int32_t addr);

