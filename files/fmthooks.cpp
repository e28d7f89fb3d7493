// Stand-ins for the header readers and writers of the image formats until
// their module is linked (each is weak; the format module's definition
// replaces it). A header of a known format that cannot be read yet is
// error 86, never a raw read of its bytes; the writers write no header, so
// the data start the file and read back raw.
#include "core/output.h"
#include "files/filevar.h"

#define WEAK __attribute__((weak))

namespace {
int noreader(int wflag) {
  if (wflag >= 1) return 0;  // a write: the writer makes the header
  error(0, 86);
  return -2;
}
}  // namespace

WEAK int bmphdr(PtrRec*, int, int, uint8_t*, int wflag, int32_t) { return noreader(wflag); }
WEAK int dmodhdr(PtrRec*, int, int, uint8_t*, int wflag, int32_t) { return noreader(wflag); }
WEAK int pcxhdr(PtrRec*, int, int, uint8_t*, int wflag, int32_t) { return noreader(wflag); }
WEAK int jpghdr(PtrRec*, int, int, uint8_t*, int wflag, int32_t) { return noreader(wflag); }
WEAK int putdmod(PtrRec*, int, int32_t) {
  error(0, 86);
  return 0;
}
