// The image formats' pixel movers (PCX and JPEG) and the read, write, input
// and output commands.
#pragma once
#include <cstdint>

#include "core/varbl.h"

// PCX: the whole image decoded into dst (rows + 1, or -1), or encoded from
// src into the file of fv (rows written, or -1).
int readPCX(PtrRec* dst, PtrRec* fv);
int putpcx(PtrRec* src, PtrRec* fv);
// Decodes one line (all planes) from data[*pos..len): bytes of the line, or
// -1 at the end of the data. st carries a run across lines.
struct PcxState {
  int bits, planes, bpl, width;
  int run, val;  // a run that crossed the end of a line
};
int pcxlin(const uint8_t* data, int64_t len, int64_t* pos, uint8_t* line, PcxState* st);
// Encodes one row of n pixels of word size code wsiz: bytes written to out.
int pcxenc(const uint8_t* row, uint8_t* out, int64_t n, int wsiz);

// JPEG: the whole file of fv decoded into dst (1, 0 for an empty or
// unreadable file, -1 on failure); the window of src written to path (1,
// 0 when it cannot be written, -1 for an empty window).
int readjpg(PtrRec* dst, PtrRec* fv);
int putjpg(PtrRec* src, int, const char* path);
// In-memory coding: the compressed size (0 on failure) and decoding.
int jpgmem(const uint8_t* rgb, int w, int h, int quality, uint8_t* buf, int64_t size, int64_t* written);
int rdjpgh(const uint8_t* buf, int64_t size, int* w, int* h, int* bits);

// The read (20) and write (21) commands; input (22) and output (23).
int rdwrit(int code);
int vecio(int code);
// The vector role of open and close: a name binds the vector list to that
// vector file (the list is made again with its records); the list bound
// before goes back to its file, and the list is emptied. 0, or -1 (error
// 66) when a file cannot be read or written.
int vecrole(const char* name);
