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
