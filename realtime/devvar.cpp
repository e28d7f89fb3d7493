// Device variables. No device memory is reachable yet: a first preparation
// reports the device as unusable (total -1) and no block moves.
#include "realtime/devvar.h"

int gdevvb(PtrRec* r, int kind, int32_t* total, int32_t* wsiz, int) {
  *total = -1;
  if (r) *wsiz = r->Wsiz;
  return kind;
}

int devio(PtrRec*, int, int) { return -1; }

int ippage(int, int) { return 0; }
