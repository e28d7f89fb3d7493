// Fuzz target for compiled macros: the input is a compiled macro file's
// bytes. It is loaded and run as a file, from a byte array variable, with
// the loader's listing traced, and from the macro library; with the
// command section in memory, or (inputs of odd size) read record by record. Every corrupt
// file must be refused ("Illegal IPC file format", error 94, or not run);
// none may crash the loader or the runner or read past its sections.
//
// The seeds (tests/fuzz/cmpseeds) are compiled from macros that use the
// global variables declared below, so that their symbols relink and they
// run.
#include "harness.h"

// Records are read one by one from the file instead of held in memory.
extern bool ipcfile;

namespace {

constexpr size_t MAXINPUT = 16384;

const char* const KEYS =
    "declare global number zqa zqb zqc\n"
    "declare global string zqs\n"
    "zqs = \"a string\"\n"
    "declare global array zqv(4)\n"
    "zq 1 2\n"
    "declare global byte array zqm(16384)\n"
    "read zq.cmp zqm 64\n"
    "run zqm 3\n"
    "debug = 20\n"
    "zq 4\n"
    "debug = 0\n"
    "macro 'lib/zl.cmp'\n"
    "zl 5\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setup();
  if (!ready || size > MAXINPUT) return 0;
  fresh();
  std::string bytes(reinterpret_cast<const char*>(data), size);
  putfile("zq.cmp", bytes);
  // Out of the macro search path: zl runs from the library.
  std::error_code ec;
  std::filesystem::create_directory(workdir + "/lib", ec);
  putfile("lib/zl.cmp", bytes);
  // Inputs of odd size run their records from the file.
  ipcfile = (size & 1) != 0;
  runkeys(KEYS);
  ipcfile = false;
  return 0;
}
