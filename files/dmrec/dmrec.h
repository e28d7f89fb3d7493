// DM record data files: numbered records of typed numeric data (or text)
// behind a text header that lists them.
//
// The file begins with a header block (8192 bytes in files made here) of
// text padded with zero bytes:
//   DMDATA     8192 abcd
//   #     Type Wsiz      Address           NX     NY     NZ     NT
//   Record    1  16         8192          100      1      1      1
//     Text: a description
// then 0x1A and a zero byte after the last record's line. Each record's data
// start at a multiple of 8 after the header, or in a link file named by the
// record line's 9th word. The tag "abcd" marks the byte order of this
// system (least significant byte first); "dcba" marks data in the reverse
// order, swapped on the way in and out.
//
// `DMREC` opens the file, reads or writes the header and finds, lists or
// appends records; `DMRECIO` moves a record's data. Both return counts, or
// minus an index into the result texts (dmrmsg). An opening to append
// holds an exclusive lock on the file until it is closed: programs
// appending to one file take turns, each after the other's header and data.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Result codes.
enum : int {
  DM_NOTFOUND = -1,  // record not found
  DM_OPEN = -2,      // file open
  DM_FORMAT = -3,    // file format
  DM_HREAD = -4,     // header read
  DM_HWRITE = -5,    // header write
  DM_HFULL = -6,     // header overflow
  DM_LINKOPEN = -7,  // data file open
  DM_HALLOC = -8,    // header allocation
  DM_NODATA = -9,    // no open data file
  DM_NULLIO = -10,   // null I/O request
  DM_DALLOC = -11,   // data buffer allocation
  DM_DATAIO = -12,   // data read/write
  DM_BADPTR = -13,   // invalid data pointers for writing
  DM_SEEK = -14,     // file seek error
};

// Flags of DMREC.
enum : int {
  DMR_APPEND = 0x1,     // append a record
  DMR_LINK = 0x2,       // its data go to a link file; a new header has size 0
  DMR_LIST = 0x4,       // list the records on the listing unit, then close
  DMR_CREATE = 0x10,    // create without trying to open for update
  DMR_OPEN = 0x20,      // only open (result 1)
  DMR_REVERSE = 0x40,   // a new file gets the tag "dcba" (its data swapped)
  DMR_READ = 0x80,      // after finding the record, read all its data
  DMR_FULL = 0x100,     // listing in full record form
  DMR_CLOSE = 0x200,    // close the file
  DMR_MUSTOPEN = 0x400, // with append: -2 when the file does not open for update
  DMR_WRHDR = 0x800,    // with close: write the header block back first
  DMR_NUMBERED = 0x2000,// listing in numbered form
  DMR_TRACE = 0x4000,   // trace lines on the standard output
  DMR_XML = 0x8000,     // listing as XML
  // Appending: the header block is not written now but by the close (with
  // DMR_WRHDR), after the data: a failed write then leaves the file as it
  // was (dmrback).
  DMR_HDRLAST = 0x10000,
};

// Flags of DMRECIO. Data move in pieces of 1 MiB; a large read runs its
// pieces on up to four threads.
enum : int {
  DMIO_WRITE = 0x1,
  DMIO_KEEP = 0x1000,   // keep the file's byte order in the buffer
  DMIO_TRACE = 0x4000,
};

// The in-memory state of one open DM file. Clear it (dmrclr) before use;
// DMREC opens the file on the first call and closes it with DMR_CLOSE or
// after a listing.
struct DmFile {
  uint16_t flags = 0;     // DMF_SWAP: the data are in the reverse byte order
  int16_t type = 0;       // the record's word size code
  int16_t bpe = 1;        // bytes per element
  int64_t nx = 0, ny = 0, nz = 0, nt = 0;
  FILE* fp = nullptr;     // the DM file
  FILE* dfp = nullptr;    // the current record's data: fp or a link file
  std::string name;       // the DM file's name as given
  int64_t hsize = 0;      // header size in bytes
  int64_t fsize = 0;      // file size
  uint8_t* dbuf = nullptr;  // data buffer: the caller's, or `own`
  int64_t dbsize = 0;       // its size in bytes
  std::vector<uint8_t> own;
  std::vector<char> hdr;  // the header block (at least 8192 bytes)
  std::string* desc = nullptr;  // description of the record found or appended
  std::string* link = nullptr;  // link file name of the record (as written)
  std::string lname;      // the current record's link file name, as written
  int64_t addr = -1;      // data address (-1: an empty record)
  int64_t elems = 0;      // elements
  int64_t bytes = 0;      // bytes
  int64_t moved = 0;      // bytes moved so far
  uint16_t mode = 0;      // DMM_TEXT: header written without a size, or all text
  int16_t count = 0;      // records appended in this opening, or counted
  int64_t hpos = 0;       // header position
  int64_t hused = 0;      // header bytes used
  char tag[5] = "abcd";
  int32_t found = 0;      // number of the record found
  // Kept for taking back a failed append: the header block and the file
  // size before it, and whether the file was made by this opening.
  std::vector<char> oldhdr;
  int64_t oldsize = 0;
  bool created = false;
  bool linkown = false;   // dfp is a link file of its own
  // Why the record found cannot be read, as a line for the error unit
  // (a record its data file does not hold whole, a data file that is no
  // regular file); empty otherwise.
  std::string why;
  int err = 0;            // the cause (an errno value) of the last data move that failed
  int xml = 1;            // the XML listing's state
};

enum : uint16_t { DMF_SWAP = 0x40 };
enum : uint16_t { DMM_TEXT = 2 };

constexpr int DMHDR = 8192;  // header size of files made here

// Clears a DM file record for a new opening (closing nothing).
void dmrclr(DmFile* dm);

// wanted: 0 every record, -n the n-th record in header order, n the record
// numbered n. Returns the count (records appended in this opening; the
// ordinal of the record found; the number of records when wanted is 0), or
// a result code.
int DMREC(int wanted, DmFile* dm, int flags);

// Moves elements (0: the rest of the record) of the current record between
// the data buffer and the file. Returns the elements moved, or a code.
int64_t DMRECIO(DmFile* dm, int64_t elements, int flags);

// Takes back an append that failed: the file is cut back to its size
// before it and its old header block written back (a file made by this
// opening is deleted), then closed. 0, or a code when that failed too.
int dmrback(DmFile* dm);

// Bytes of one element of a record type: (type & 63) / 8, at least 1,
// doubled by bit 128.
int dmbpe(int type);

// The text of a result code ("no error" for 0).
const char* dmrmsg(int code);

// Byte swapping: swapwd by the element size of type (2 bytes: byte pairs;
// 4: the four bytes of each word; 8: the eight bytes; 24-bit and byte data
// as they are); swapw byte pairs of n 16-bit words; swap16 the 16-bit halves
// of n 32-bit words.
void swapwd(void* buffer, int type, int64_t bytes);
void swapw(void* buffer, int64_t n);
void swap16(void* buffer, int64_t n);

// The name of a record type for the XML listing, null for none.
const char* typnam(int type);

// The length of name's folder part (up to and including its last "/", "\"
// or ":"). With out: the full path of name beside base: name itself when it
// begins with a separator or has ":" as its second character, else the
// folder of base followed by name's file part.
int mkpath(const char* name, const char* base, std::string* out);

// One step of the XML listing on unit: state 1 or more before the first
// element; record >= 0 a record element (the record's fields in dm), text
// (with record < 0) a description; record < 0 and no text ends the listing.
// Returns the new state (-1 inside a record, -2 ended).
int dmxml(DmFile* dm, int unit, int state, int record, const char* text);

// The commands dmread and dmwrite.
int pdread();
int dmwrite();
