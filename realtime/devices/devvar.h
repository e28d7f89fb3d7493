// Device variables: arrays, matrices and images whose elements live in a
// device rather than in the word memory (a window's colour table, the
// program colour table, the vector colour map, blocks of device parameters,
// image-processor memory). The pointer record's Idx is the device number;
// its Mptr holds the memory number (low 16 bits) and the memory kind (high
// 16 bits) that the device memory table gives. Element access reaches the
// device through gdevvb (set-up), devio (one block in or out) and ippage.
// Also hardop, the constant fill of a window-backed image, setcam, which
// selects the camera, and the empty hardware-display stubs.
#pragma once
#include <cstdint>

#include "core/varbl.h"

// A row of the device memory table.
struct DevMem {
  int16_t cls;     // the kind flag the variable must have: 64 Array, 128 Matrix, 512 Image
  int16_t dev;     // device number (100: window 0, 101: window n)
  int16_t mem;     // memory number
  int16_t kind;    // memory kind: 64 system memory, 192 window-backed, 0 parameter block
  int16_t wflags;  // low 6 bits: bits an element; 0x40 the paletted form on deep screens
};
constexpr int NDEVMEM = 23;
extern const DevMem devmem[NDEVMEM];

// Memory kinds.
enum : int { MK_PARM = 0, MK_SYS = 64, MK_WIN = 192 };

// The parts of the parameter blocks that no other table holds: the last two
// words of block 14, the drawing-origin block 18 (x, y, ..., the height in
// its sixth word), and the 8-byte block of memory 512.
extern int16_t blk14[2];
extern int16_t drworg[6];
extern int16_t sunblk[4];

// The device memory row of a device number and kind flags: its word flags,
// 0 when there is none (and for a window row whose window is missing or has
// no image, or the image row without the image-processor bit); the memory
// number and memory kind into *mem and *memkind.
int memnum(int dev, int kind, int* mem, int* memkind, const char* tag);
// Sets a record's dimensions, element size and memory fields for device
// `dev`: the bits an element, 0 when there is no such device. *count gets
// the element count.
int devptr(int kind, int dev, PtrRec* r, int32_t* count);
// Sets a device variable up on its first preparation: element count into
// *total (-1 when it cannot be used), word size code into *wsiz, and its
// block buffers (one, or three when three fit in the data and a block is
// below 3411 bytes). Errors 205 (a window-backed image without image
// memory) and 42 (argument 99: no room for the buffers).
int gdevvb(PtrRec* r, int kind, int32_t* total, int32_t* wsiz, int mode);
// Moves block buffer i between the record and the device: direction 1
// reads from the device, any other writes to it. 0, or -1 for a parameter
// block number that has no block.
int devio(PtrRec* r, int i, int dir);
// Selects a page of image-processor memory (no such memory: a trace only).
int ippage(int mem, int page);
// The assignment of a number constant to a window-backed image device
// variable at least 16 pixels wide: fills its rectangle of window 0's image
// memory. 1 done, 0 not (the caller computes element by element).
int hardop(int op, int nops);
// Selects the camera: 20 opens camera device 20, 1 to 10 a frame grabber on
// that serial port, 0 closes. A result of 1 or more sets device flag 0x200
// and the camera word to n, 0 clears both, a negative result changes
// nothing.
int setcam(int n);

// Hardware-display and image-processor stubs: each returns 0.
int hwmove();
int hwline();
int hwtext();
int hwclr();
int ipalustb();
int ipwait();
