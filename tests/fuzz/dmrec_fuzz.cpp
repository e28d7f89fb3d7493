// Fuzz target for DM record data files: the input is a DM file's bytes.
// The file is listed, listed as XML, read record by record into variables
// of several word sizes (and as the nine numbers of its records), printed
// as text, and a record is appended to it and the file listed again. Every
// damaged header must be refused or read within the file's bytes; none may
// crash the engine, size a variable past what the file holds or write past
// a variable. The same bytes also stand as the link file "rec.dat".
#include "harness.h"

namespace {

constexpr size_t MAXINPUT = 65536;

const char* const KEYS =
    "declare byte array qqbyte\n"
    "declare integer matrix qqint\n"
    "declare real solid qqsolid\n"
    "declare long array qqlong\n"
    "declare string qqtext qqdesc\n"
    "dmread \"f.dm\"\n"
    "dmread \"f.dm\" 0 0\n"
    "dmread \"f.dm\" qqbyte -1 qqdesc\n"
    "dmread \"f.dm\" qqint -2 qqdesc\n"
    "dmread \"f.dm\" qqsolid -3\n"
    "dmread \"f.dm\" qqlong -4 qqdesc 1\n"
    "dmread \"f.dm\" qqtext 1\n"
    "dmread \"f.dm\" qqbyte 2\n"
    "dmread \"f.dm\" 0 -1\n"
    "dmread \"f.dm\" 0 3\n"
    "dmread \"f.dm\" qqbyte 0\n"
    "qqlong = ramp(5)\n"
    "dmwrite \"f.dm\" qqlong 9 \"appended\"\n"
    "dmwrite \"f.dm\" \"a note\"\n"
    "dmread \"f.dm\"\n"
    "dmread \"f.dm\" qqlong 9\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setup();
  if (!ready || size > MAXINPUT) return 0;
  runfile(data, size, {"f.dm", "rec.dat"}, KEYS);
  return 0;
}
