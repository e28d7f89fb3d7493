// Macro files and the macro library.
//
// A macro is a text file of command lines (".imp"; ".txt" for the start-up
// macro "start") or a compiled macro (".cmp"). A name is looked up in the
// macro library first and then along the folders of the string variable
// path ('|' separated).
//
// The macro library is one file of 1024-byte blocks, little-endian:
//  - block 0 begins with a 32-byte header {u16 magic 13579, u16 maximum
//    entry count = directory blocks x 32 - 1, u32 next free byte offset,
//    u16 entry count, 22 zero bytes};
//  - the first blocks are the directory, 32 entries of 32 bytes per block
//    (the header takes entry 0's place): {u16 kind 0 free / 2 text /
//    4 compiled, u16 data size in bytes, u32 data offset, 8 zero bytes,
//    16-byte lower-case name, NUL-padded};
//  - a compiled macro is the .cmp file's bytes, from a 1024-byte boundary;
//  - a text macro is packed lines: a length byte n (the record's length,
//    itself included), then the line, or for a line with b >= 3 leading
//    blanks the bytes 1, b and the rest; a record never crosses a block (a
//    255 byte skips to the next block); a 0 byte ends the macro.
#pragma once
#include <cstdint>

constexpr int LIBBLK = 1024;        // block size of the library
constexpr int LIBMAGIC = 13579;
constexpr int LIBENT = 32;          // bytes of a directory entry
constexpr int LIBDIRDEF = 6;        // directory blocks of a new library
constexpr int LIBLINE = 240;        // longest stored line

// The open library: its unit (0 not tried yet, negative failed), a copy of
// its header fields, and the entry last found.
extern int16_t libunit;
struct LibHdr {
  uint16_t maxent;   // maximum entry count
  uint32_t nxtfre;   // next free byte offset for data
  uint16_t nent;     // entries in use or once used
};
extern LibHdr libhdr;
// The entry last found by fndmac: its number (0 none), kind, size, offset
// and name.
struct LibEnt {
  uint16_t kind;
  uint16_t size;
  uint32_t offset;
  char name[17];
};
extern int libfnd;
extern LibEnt libent;

// Opens the library (the string variable macrofile, else sysdir followed
// by "MACROS"); with create a missing one is made with argument 3 of the
// current command (default 6) as its directory blocks. 0, or -1 (error
// 142, the unit kept negative).
int inimac(int create);
// Looks up a name (mode 0; lower-cased, compared over 8 characters), lists
// every used entry on the listing unit (mode > 0) or finds a free slot
// (mode < 0). Returns the entry number (from 1), 0 when none.
int fndmac(const char* name, int mode);
// Finds and opens a macro: mode (its magnitude) 128 "sysstart" in the
// system folder, 8 "start" in the current folder (".txt" tried after ext),
// 2 a text macro, 4 a compiled one; a negative mode does not look in the
// library. The library answers first for a name with no '.'; else the
// folders of path. path gets the file's path (or the library name). 0
// found (*unit set), -1 not found.
int opnmac(const char* name, int* unit, int mode, char* path, const char* ext);
// Tries each folder of a list ('|' separated): folders null the string
// variable path, "" none (the current folder only). 0 opened, -1 not found.
int fserch(const char* name, const char* ext, const char* folders, char* path, int* unit,
           int mode);
// Builds a file path from folder, name and extension (appended when the
// name's last part has no '.'). out takes at least 264 bytes. Returns the
// length of the folder part.
int mkfnam(const char* name, const char* ext, const char* folder, char* out);
// The macro command (code 12): macro file [option].
int macro();
// The data of the entry last found as {start, end} byte offsets, the end
// clamped to the library file's length.
void libspan(uint32_t* start, uint32_t* end);
// Reads the next line of a library macro without ending the macro (pos
// {current, start, end}, current moves past it). The length, or -1 at its
// end.
int libnxt(uint32_t* pos, char* buf, int max);
// Deletes a macro from the library (the delete command's macro form): its
// entry's kind becomes 0 and its directory block is written back; its data
// space stays used. The entry number, or 0 when the name is not there.
int libdel(const char* name);
// The library's name as inimac opens it; "" before the first use.
const char* libnam();
// Closes the library and forgets it (tests, shutdown).
void libcls();
