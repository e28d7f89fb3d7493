// File-backed variables: the file layer's side of a pointer record with kind
// flag 8 (its file record and block transfers).
#pragma once
#include <cstdint>

#include "core/varbl.h"

// Sets up a file-backed record on its first preparation; *total gets the
// items of the data, negative on failure.
int gfilvb(PtrRec* r, int kind, int32_t* total, int32_t* wsiz, int mode);
// Moves block buffer i of the record: direction 1 reads, 2 writes. Bytes
// moved, or -1.
int filio(PtrRec* r, int i, int dir);
// Writes the file's header before the first block; the format type written
// (above 0) or 0.
int sethdr(PtrRec* r);

// The header a new file of the command-list type (0x2008) carries: its data
// starts after it.
constexpr int FILHDR = 140;

// Makes a new file for a variable of kind `kind` (mode: the open mode, or
// -unit for a unit already open), record bytes, word size code and
// dimensions, and writes its header. For now only the command-list type is
// made (compiled macros): its FILHDR-byte header is blank. Returns the
// unit, or -1 (nothing is left behind on failure).
int makfil(const char* path, int kind, int mode, int32_t reclen, int wsiz, int32_t nx, int32_t ny,
           int32_t nz);
