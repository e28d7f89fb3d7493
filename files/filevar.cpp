// File-backed variables. No file can be opened behind a variable yet: a
// first preparation fails cleanly with error 66 and a negative total, and no
// block moves.
#include "files/filevar.h"

#include "core/output.h"

int gfilvb(PtrRec* r, int kind, int32_t* total, int32_t* wsiz, int) {
  *total = -1;
  if (r) *wsiz = r->Wsiz;
  error(0, 66);
  return kind;
}

int filio(PtrRec*, int, int) { return -1; }

int sethdr(PtrRec*) { return 0; }
