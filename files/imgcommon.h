// Small helpers shared by the image format readers and writers: byte order,
// file length, the palette and header-text string variables.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/varbl.h"

namespace imgfmt {

inline uint16_t g16(const uint8_t* p, bool be) {
  return be ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t g32(const uint8_t* p, bool be) {
  return be ? (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]
            : p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void p16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void p32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; k++) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

// Length of the file open on a unit, -1 when unknown.
int64_t unitlen(int unit);
// The 768 bytes of the palette variable imglut (blue, green, red triples),
// or null.
uint8_t* imglut();
// Set by the TIFF reader: the last file read holds three 8-bit samples in
// red, green, blue order (the system's 24-bit pixels are blue, green, red).
extern int tifrgb;
// Set by the TIFF reader: the photometric kind the last file read names
// (tag 262), -1 none (a vector file names none; an image always does).
extern int tifphot;
// Set by the TIFF reader: the last file read holds unsigned 16- or 32-bit
// samples (another program's file without a signed SampleFormat).
extern bool tifunsig;
// Set by the TIFF reader for a file of another program whose strips are
// compressed (5 LZW, 32773 PackBits; 0 none) and its predictor (2:
// horizontal differences). Such a file is taken only while tifallow is set
// (by the read command, which decodes its strips); elsewhere it is refused.
extern int tifcomp;
extern int tifpred;
extern bool tifallow;
// Decode a compressed strip of n bytes, appending to out up to `want`
// bytes in all; false for data that break the code.
bool unpackbits(const uint8_t* in, size_t n, std::vector<uint8_t>* out, size_t want);
bool unlzw(const uint8_t* in, size_t n, std::vector<uint8_t>* out, size_t want);
// Items of the variable's window (product of its extents).
int64_t winitems(const PtrRec* r);

// The items of a variable's window as bytes of its own word size (whole
// bytes only); false when it has none.
bool getraw(PtrRec* r, std::vector<uint8_t>* out, int64_t* items);
// Gives the variable of record handle h the shape dims (kind bits `kind`
// when not 0) and word size code vws, and stores data, items of code.
bool imgstore(int32_t h, int kind, const uint32_t* dims, int vws, int code, const std::vector<uint8_t>& data);

// Whether a name is a plain file or none (a failed write may delete it).
bool isplain(const char* name);
// Frees a scratch file variable's row index when the holder goes (a
// scratch record is never released through freptr).
struct DropIdx {
  PtrRec* fv = nullptr;
  ~DropIdx() {
    if (FilRec* f = fv ? filrec(fv) : nullptr; f && f->Strip > 0) {
      freblk(f->Strip);
      f->Strip = 0;
    }
  }
};

}  // namespace imgfmt

// Pixel conversion between the pixel layouts (8-bit index or gray, 16-bit
// 5-6-5, 24-bit blue-green-red, 32-bit red x 65536 + green x 256 + blue).
int swaprb(uint8_t* pix, int64_t count);
int line2rgb(const uint8_t* src, int swsiz, uint8_t* dst, int dwsiz, int64_t count);
void getrgb(const uint8_t* pix, int wsiz, int64_t i, int swap, int, int* rgb);
void putrgb(uint8_t* pix, int wsiz, const int* rgb);
int pal2lut(const uint8_t* pal, void* table, int, int wsiz);
int maplut(uint8_t* row, const void* table, int64_t n, int wsiz);
