// File-backed variables: the file layer's side of a pointer record with kind
// flag 8 (its file record, format detection, row layout, block transfers
// and run-length packed rows).
#pragma once
#include <cstdint>

#include "core/varbl.h"

// File format code (FilRec::Flg).
enum : int {
  FF_PACK = 3,     // pack mode: 0 plain, 1 LZW, 2 run-length, 3 differences
  FF_TYPE = 60,    // the type bits
  FF_NOHDR = 64,   // no header to read
  FF_SWAP = 128,   // the file's byte order differs from the machine's
  // Types (Flg & FF_TYPE).
  FT_VEC = 8, FT_JPEG = 12, FT_TIFF = 16, FT_BMP = 24, FT_TEXT = 32, FT_PCX = 40,
  FT_DMPX = 48,  // DMOD with the product magic "DMPelix 1"
  FT_DMOD = 56,  // DMOD ("#!DMOD_1.0")
};

// File-layer bits of FilRec::Mod beside the unit's open mode.
enum : int {
  FM_KEEP = 0x8000,    // an existing compressed file: its rows are never written
  FM_OWNRLE = 0x4000,  // a TIFF whose rows use the system's own run-length code
};

// The pack record of a packed file: a headed (or scratch) block holding the
// record and its 512-byte I/O buffer.
struct PakRec {
  int32_t blocks;   // 512-byte blocks read or written for the current row
  int32_t packed;   // packed bytes written for the current row; -1 failed
  int16_t index;    // position in the byte buffer
  int16_t unit;     // must equal the file record's unit
  int32_t rowlen;   // bytes of the row (the record's own length)
  uint32_t poslo;   // file position of the row's packed data (64 bits)
  uint32_t poshi;
  int32_t failed;   // a block read failed: the row ends
  uint8_t buf[512];
};
static_assert(sizeof(PakRec) == 540);

// Sets up a file-backed record on its first preparation (opens the file,
// reads or writes its header, takes the buffers); *total gets the items of
// the data, -1 on failure. Returns the kind flags.
int gfilvb(PtrRec* r, int kind, int32_t* total, int32_t* wsiz, int mode);
// Lays a file-backed variable out anew after its dimensions changed (a
// whole assignment remade it): its file's header, its record size, and
// every variable in reach that shares its buffers take the new layout.
void filnew(PtrRec* r);
// Reads the header of the open file into the record: the record bytes, or
// -1 when the format is not recognised.
int gethdr(uint8_t* buf, PtrRec* r);
// Writes the file's header for the record's format and sizes: the format
// type written (above 0), or 0.
int sethdr(PtrRec* r);
// Format detection on the record's open unit: reads the first 512 bytes into
// buf and calls the type's header reader (wflag < 0 asks it to print the
// header, wflag > 0 is a write). -1 when not recognised.
int inihdr(PtrRec* r, uint8_t* buf, int wflag, int32_t blocks);
// Type code from a name's extension (case ignored): .pcx 40, .tif/.tiff
// 16, .jpeg/.jpg 12, .bmp 24, else 0.
int imgtyp(const char* name);
// Lays out the file's rows (every header reader calls it): the record
// bytes, or -1 when the sizes give no data.
int setfdim(PtrRec* r, int64_t nx, int64_t ny, int64_t nz, int wsiz, int64_t offset, int align);
// Moves one record: i >= 0 buffer i of the record, i < 0 row -(i)-1 into
// buf. dir 1 reads, 2 writes. Bytes moved, or -1.
int filio(PtrRec* r, int i, int dir, uint8_t* buf = nullptr);
// Where record `row` lies when it moves as plain bytes (unpacked, in the
// machine's byte order, without pad bytes): true with its file position and
// length, the length filio would move. false for any other record (filio
// moves it).
bool filplain(PtrRec* r, int64_t row, int64_t* pos, int64_t* len);
// Run-length packs a row through the pack record: packed bytes of the row.
int packwr(const uint8_t* row, int32_t len, PakRec* pk);
int putpak(int byte, PakRec* pk);
// PackBits (TIFF compression 32773) of one row through the pack record: a
// literal piece of n bytes (1 to 128) is n - 1 and the bytes, a run of n
// equal bytes (2 to 128) is 257 - n and the byte. The packed bytes so far.
int pbrow(const uint8_t* row, int32_t n, PakRec* pk);
// Decodes a run-length packed row of at most len bytes: bytes decoded.
int unpack(uint8_t* dst, int32_t len, PakRec* pk);
int getpak(PakRec* pk);
// A new pointer record bound to a file: mode, or -unit of an open file;
// bw0 and bw1 go into the buffer record's first two Bufdims words. Null
// when the file cannot be prepared.
PtrRec* makfil(const char* path, int kind, int mode, int32_t recbytes, int wsiz, uint32_t nx,
               uint32_t ny, uint32_t nz, uint32_t bw0, uint32_t bw1, int scratch);
// Whether a file of flen bytes holds the data the record's header lays out
// (its rows, or its strips; compressed data may grow at most grow times,
// 0 for none).
bool hdrfits(PtrRec* r, int64_t flen, int64_t grow);
// Makes the file as long as its data (a declared file is whole at once);
// false when it cannot be.
bool filext(PtrRec* r);

// Header readers and writers of the image formats. Each reader gets the
// record, the swap bit, the unit, the first 512 bytes, the write flag
// (below 0: print the header) and the data blocks; it returns setfdim's
// record bytes, or below 0 (having reported the error) when it cannot
// read the header. The writers return the type written or 0.
int tifftags(PtrRec* r, int swap, int unit, uint8_t* hdr, int wflag, int32_t blocks);
int bmphdr(PtrRec* r, int swap, int unit, uint8_t* hdr, int wflag, int32_t blocks);
int dmodhdr(PtrRec* r, int swap, int unit, uint8_t* hdr, int wflag, int32_t blocks);
int pcxhdr(PtrRec* r, int swap, int unit, uint8_t* hdr, int wflag, int32_t blocks);
int jpghdr(PtrRec* r, int swap, int unit, uint8_t* hdr, int wflag, int32_t blocks);
int retm1(PtrRec* r, int swap, int unit, uint8_t* hdr, int wflag, int32_t blocks);
int settif(PtrRec* r, int unit, int32_t blocks);
// Writes the row index's strip lengths into tag 279 of the TIFF the system
// wrote on the unit (its packed lengths once the strips are written): 0,
// or -1 when the tag is not there or a write failed.
int tiflens(int unit, const uint32_t* idx);
// A header writer's record bytes (its strip size), taken as the layout's
// record instead of setfdim's.
void hdrrec(int32_t rec);
int putdmod(PtrRec* r, int unit, int32_t blocks);

// show file NAME: the file's kind and dimensions as its header gives them
// (with dump, the pointer record too). Nothing for a missing file.
int shofil(const char* name, int dump);
