// Block buffers of file- and device-backed variables, and the address of the
// current item of variables held in the word memory (ptradr, setadr).
//
// A buffered variable's pointer record carries a buffer record with one or
// three block buffers laid end to end in its data block; a block is a run of
// Rwds items in x-fastest order over the data's dimensions (or the window's
// extents with Bflg 0x2), numbered from 1.
#pragma once
#include <cstdint>

#include "core/varbl.h"

uint8_t* blkadr(PtrRec* r, int mode);
int32_t inbloc(const BufSlot* s, const uint32_t* org, const uint32_t* pos);
int getblk(PtrRec* r, int32_t blk, int mode);
// Whether every item of block blk lies inside the record's window (always so
// for blocks that follow the window, Bflg 0x2). A write reads a block first
// when it does not.
bool blkwin(const PtrRec* r, int32_t blk);
int32_t blknum(const PtrRec* r, uint32_t* offset);
int blkxyz(PtrRec* r, BufSlot* s, uint32_t* org, int32_t offset);
int32_t sizbuf(PtrRec* r);
int flshio(PtrRec* r);
int ptradr(PtrRec* r);
int32_t setadr(PtrRec* r, int64_t index);
// The table of active buffers: op 1 enters the record among the
// persistent rows, 0 among the per-command rows (or shares the buffers of
// a row of the same file unit or device and kind), -1 removes it.
//
// Records of one file share buffers only over the same layout (data
// offset, word size, dimensions), whatever their kinds: the same bytes are
// then the same items.
int pactiv(PtrRec* r, int op);
// The buffers that pactiv would let record r share, or null.
BufRec* pacfind(const PtrRec* r);
// The rows of record r's buffers take its layout and data (after they
// changed).
void paclay(const PtrRec* r);
// Drops the per-command rows (the main loop, before every command).
int pacrst();
// The transfer of block buffer i (dir 1 read, 2 write; below 0 failed).
// Null: the file layer (filio) for file-backed records, else the device
// layer (devio). Tests put a stand-in file layer here.
extern int (*blkio)(PtrRec* r, int i, int dir);
// Writes back and empties a variable's block buffers.
int rstbuf(PtrRec* r);
// Writes back a variable's changed buffers, and moves the parts other
// records still use in them aside, before the buffers change.
int blkspl(PtrRec* r);
// A record that is released uses no part of a buffer any more.
void blkend(const PtrRec* r);
// The command argument that gave the record being opened its buffer size
// (the error's argument when its file is open with another size), 0 none;
// set by the function that opens it, read by the file layer.
extern int rsizarg;
