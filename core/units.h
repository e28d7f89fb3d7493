// Numbered file units: the file table of 50 unit slots, record I/O at
// offset + record x length with a cached stream position, and a block
// stream of whole 512-byte blocks per unit.
//
// Units 1 and 4 are the terminal and the printer, 0 to 4 are preset slots
// that are never handed out, openf hands out 5 to 49. Unit 99 (the line
// collector) and units 100 and up (serial ports) belong to formatted output;
// openf and closef send serial ports to the serial layer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int NUNITS = 50;        // slots of the file table
constexpr int UNIT_NAMELEN = 256;  // name bytes of a slot, NUL included
constexpr int UBLK = 512;         // bytes of a block of the block stream

// Mode bits of openf. Only the first five and 0x20 choose the stream mode;
// the slot keeps the mode as given.
enum : int {
  UM_RDONLY = 0x01,   // read only
  UM_UPDATE = 0x02,   // read and write
  UM_APPEND = 0x04,   // writes go to the end
  UM_WRITE = 0x08,    // write (file layer)
  UM_TEXT = 0x20,     // text stream
  UM_CREATE = 0x80,   // create or overwrite (may ask first)
  UM_TEMP = 0x200,    // temporary: closed at the start of the next command
  UM_PACKED = 0x400,  // packed file (file layer)
  UM_ALERT = 0x800,   // "alert.tmp" is deleted at the last close
  UM_MATCH = 0x5F,    // bits two opens of one file must agree in
};

// One slot of the file table (276 bytes).
struct UnitSlot {
  int16_t Nlinks;   // open count: 0 free, >0 open, <0 preset (0 to 4)
  uint16_t mode;    // mode bits as given to openf
  int32_t strm;     // held-pointer reference of the stream (-1: none)
  int32_t pos;      // cached position: low 32 bits; -1 unknown, -2 seek
  char name[UNIT_NAMELEN];  // full file name ("/" form), "" when free
  int32_t blkbuf;   // stack address of the unit block buffer, 0 none
  int32_t spare;    // unused
};
static_assert(sizeof(UnitSlot) == 276);
static_assert(offsetof(UnitSlot, mode) == 2);
static_assert(offsetof(UnitSlot, strm) == 4);
static_assert(offsetof(UnitSlot, pos) == 8);
static_assert(offsetof(UnitSlot, name) == 12);
static_assert(offsetof(UnitSlot, blkbuf) == 268);

// The unit block buffer (1032 bytes, a headed block of the low stack).
// The block and the overflow lie back to back so that n bytes asked of
// rdbuf are contiguous.
struct UnitBlock {
  int16_t zero;        // set to zero
  int16_t nhand;       // bytes in hand
  uint8_t data[2 * UBLK];  // block [0, 512) then overflow [512, 1024)
  int16_t blkno;       // the next block of the stream
  uint16_t flags;      // UB_CHANGED, UB_OVERFLOW
};
static_assert(sizeof(UnitBlock) == 1032);
static_assert(offsetof(UnitBlock, blkno) == 1028);
enum : uint16_t { UB_CHANGED = 1, UB_OVERFLOW = 2 };

extern UnitSlot filtab[NUNITS];

// Opens a file on a unit from 5 to 49 (or a serial port "comN" on unit
// 100 + N - 1); -1 on failure. A name already open gets its open count
// raised and the same unit (error 83 when the modes disagree in 0x5F);
// error 68 when no slot is free. Mode bit 0x80 creates (truncates); every
// other mode keeps the file's contents.
int openf(const char* name, int mode, int reclen);
// Asks before an existing file is overwritten (pflags bit 0x1, outside
// macros) and makes the check before creating it: 0 to go on, -1 refused.
// openf asks it for a create; a writer that creates the file under another
// name asks it for the name it replaces.
int ovwask(const char* name);
// The system's cause (errno) of the last failed wrtblk.
extern int werrno;
// The unit open on `name` (any form; compared as host path), or -1.
int fndfil(const char* name);
// Reads `length` bytes at offset + record x length: the bytes read (fewer at
// the end; the rest of buf zeroed), a zero-filled full record past the end
// of a writable unit, 0 past the end of a read-only one, -1 on a bad unit,
// record or seek, or an I/O error (status bit 0x8000).
int rdblk(int unit, int32_t record, void* buf, int32_t length, int64_t offset);
// Writes `length` bytes at offset + record x length and hands them to the
// system: length, or -1 (status bit 0x8000 for a failed or short write).
int wrtblk(int unit, int32_t record, const void* buf, int32_t length, int64_t offset);
// Positions the block stream at `block` and `byte` (byte >= 512 moves on by
// whole blocks). Block -3 writes a changed block in place, -2 flushes and
// frees the buffer, -1 flushes and empties it. 0, or -1 when a flush failed.
int bseek(int unit, int32_t block, int32_t byte);
// The next n (1..512) bytes of the block stream, contiguous; n = 0 reads a
// fresh block and returns its start. Null without a block buffer or at the
// end of the data.
uint8_t* rdbuf(int unit, int n);
// Appends n bytes to the block stream, writing each block as it fills; no
// data flushes a partly filled block as a whole block (zero-padded). 0, or
// -1 without a block buffer or when a write failed.
int wrtbuf(int unit, const void* data, int n);
// Drops one open of a unit; at the last the stream is closed and with
// del = 1 the file deleted. Preset slots are flushed. 0, or -1 when the
// stream's bytes could not all be written (now, or by an earlier formatted
// write since the open): the cause is said as "NAME: cause" on the error
// unit and error 81 raised.
int closef(int unit, int del);
// A formatted write to a unit's stream failed with errno `err`: the first
// failure of an open is said as "NAME: cause" on the error unit, with
// error 69.
void unitfail(int unit, int err);
// Closes every open unit (every open of it) and flushes the preset ones,
// the error unit last: the number of closes that failed (each said).
int clsall();
// Counts the streams closed (a stream pointer seen again after it changed
// may be another file's).
extern uint32_t strmgen;
// Closes once every unit opened with the temporary bit.
int clstmp();
// Judges an answer key (a negative key waits for one): -1 Esc, 0 no or not
// an answer (then pushed back), else the yes key's index 4 to 9.
int yesno(int key);

// The stream of file-table slot `unit` (0..49), or null when none is open.
// The caller moves the stream itself, so the cached position is dropped.
FILE* unitstream(int unit);

// The stream mode that openf uses for `mode` ("r+b", "wb", ...): up to 4
// characters and a NUL in out. Returns out.
const char* unitmode(int mode, char out[5]);
// Seeks made by rdblk and wrtblk since the start (a diagnostic count).
uint32_t unitseeks();
