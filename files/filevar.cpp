// File-backed variables. No file can be opened behind a variable yet: a
// first preparation fails cleanly with error 66 and a negative total, and no
// block moves.
#include "files/filevar.h"

#include "core/output.h"
#include "core/units.h"

int gfilvb(PtrRec* r, int kind, int32_t* total, int32_t* wsiz, int) {
  *total = -1;
  if (r) *wsiz = r->Wsiz;
  error(0, 66);
  return kind;
}

int filio(PtrRec*, int, int) { return -1; }

int sethdr(PtrRec*) { return 0; }

int makfil(const char* path, int kind, int mode, int32_t reclen, int, int32_t, int32_t, int32_t) {
  if (!path || !*path || kind != 0x2008) return -1;
  int u = mode < 0 ? -mode : openf(path, mode | UM_CREATE, reclen > 0 ? reclen : 512);
  if (u <= 0) return -1;
  static const uint8_t blank[FILHDR] = {};
  if (wrtblk(u, 0, blank, FILHDR, 0) != FILHDR) {
    closef(u, mode < 0 ? 0 : 1);
    return -1;
  }
  return u;
}
