// Start-up and shutdown of the interpreter.
#include "lang/cstart.h"

#include "core/memory.h"
#include "core/output.h"
#include "core/state.h"
#include "ui/sysserv.h"

#include <cstdlib>
#include <cstring>
#include <string>

void cmdlin(const char* line) {
  memstat();
  MakStk();
  // Trailing characters up to the last blank are dropped from the log text.
  std::string text = line ? line : "";
  while (!text.empty() && text.back() == ' ') text.pop_back();
  logprintf("Wcmdline %d ch <%s>\n", static_cast<int>(text.size()), text.c_str());
  state = 0;
  logprintf("cmdlin %d: <%s>\n", static_cast<int>(text.size()), text.c_str());
  if (logfp) std::fflush(logfp);
}

int runmain() { return 0; }

void finish(int status) {
  if (status != 0) jprintf(1, "finish status: %d\n", status);
  endwin();
  std::exit(status);
}
