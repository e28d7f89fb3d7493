// Fuzz target for text import: the input is a text file's bytes, read by
// import into a matrix, a string and a text list with several field, block,
// header, count and quote settings, and its first line split by parse.
// Every line, quote and terminator must be read within the file's bytes;
// none may crash the scanners or write past the destination.
#include "harness.h"

namespace {

constexpr size_t MAXINPUT = 65536;

const char* const KEYS =
    "declare matrix qqmat\n"
    "declare long matrix qqlmat\n"
    "declare string qqstr\n"
    "declare string list qqlist\n"
    "declare integer array qqparse\n"
    "qqmat = import(\"f.txt\")\n"
    "qqmat = import(\"f.txt\", 1, 3, 0, \",\", \";\\n\", 0, 0, 0)\n"
    "qqlmat = import(\"f.txt\", 0, -1, 1, \" ,\", \";#\", 1, 2, 1, \"x\")\n"
    "qqmat = import(\"f.txt\", 2, -1, 2, \"\\t\", \"\", 0, 0, 2, -1)\n"
    "qqstr = import(\"f.txt\")\n"
    "qqstr = import(\"f.txt\", 1, 0, 0, \",\", \";\\n\", 1, 0, 3)\n"
    "qqlist = import(\"f.txt\", 0, 0, 0, \" ,\")\n"
    "qqlist = import(\"f.txt\", -1, 0, 1)\n"
    "qqmat(0:1,0) = import(\"f.txt\")\n"
    "qqmat = import(\"f.txt\", 0, 1)\n"
    "qqstr = import(\"f.txt\", 0, 0, 0, \"\", \";\\n\", 0, 1)\n"
    "qqparse = parse(qqstr, \" ,\", \"=:\")\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setup();
  if (!ready || size > MAXINPUT) return 0;
  runfile(data, size, {"f.txt"}, KEYS);
  return 0;
}
