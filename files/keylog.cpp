// The key log.
#include "files/keylog.h"

#include <cstdio>
#include <cstring>

#include "core/output.h"
#include "core/units.h"
#include "ui/clocks.h"

namespace {

constexpr int KLTEXT = 80;  // characters of text in one line

char held[160];  // the line held back for its key
int heldkey = 0;
bool holding = false;

FILE* klstream() { return keylun >= 0 && keylun < NUNITS ? unitstream(keylun) : nullptr; }

void putheld(FILE* f) {
  if (holding && f) std::fprintf(f, "%s\n", held);
  holding = false;
  heldkey = 0;
}

}  // namespace

int logevt(const char* tag, int length, const char* text, int key) {
  FILE* f = klstream();
  if (!f) {
    holding = false;
    return 0;
  }
  if (!tag) {
    putheld(f);
    std::fflush(f);
    return 0;
  }
  if (!text) text = "";
  int len = length > 0 ? length : static_cast<int>(std::strlen(text));
  int show = static_cast<int>(strnlen(text, static_cast<size_t>(len < KLTEXT ? len : KLTEXT)));
  char line[sizeof held];
  std::snprintf(line, sizeof line, "%s %s %4d %.*s", datestr(), tag, len, show, text);
  if (holding && heldkey != key) putheld(f);
  if (key != 0) {
    std::memcpy(held, line, sizeof held);
    heldkey = key;
    holding = true;
  } else {
    std::fprintf(f, "%s\n", line);
  }
  std::fflush(f);
  return 0;
}
