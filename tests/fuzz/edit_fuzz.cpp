// Fuzz target for the full-screen text editor: the file it reads (any
// bytes: long lines, NULs, CR, CR LF, no last newline, more lines than its
// table) and the keys that edit it. The input's first two bytes give the
// length of the keys part (little-endian, cut to what follows); the keys
// come next, as the headless console reads them (characters, control keys,
// ANSI sequences for the arrows, page keys, Ins, Del and F1 to F10); the
// rest is the file. The file is edited with a table of 300 lines, and every
// run ends with F9 and F10 answered by Save, so that the screen is folded
// back into the buffer and the buffer written. No file and no key may make
// the editor read or write outside its buffers.
// fuzz-max-len: 65536
#include "harness.h"

#include "ui/menu.h"
#include "ui/texted.h"

#include <algorithm>

namespace {

constexpr size_t MAXINPUT = 65536;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setup();
  if (!ready || size < 2 || size > MAXINPUT) return 0;
  const size_t nkeys = std::min<size_t>(data[0] | static_cast<size_t>(data[1]) << 8, size - 2);
  const std::string keys(reinterpret_cast<const char*>(data) + 2, nkeys);
  const std::string file(reinterpret_cast<const char*>(data) + 2 + nkeys, size - 2 - nkeys);
  fresh();
  // The edit of a previous run is not resumed: its buffers are forgotten.
  edreset();
  mnureset();
  putfile("f.txt", file);
  runkeys("edit f.txt 300\n" + keys + "\x1b[20~\x1b[21~Save\n");
  edreset();
  mnureset();
  return 0;
}
