// Fuzz target for the interpreter: typed command lines, macro files and a
// macro library fed to a freshly started interpreter.
//
// An input is the keyboard text, optionally followed by files for the
// working folder, each introduced by a line "@@ NAME" (NAME of letters,
// digits and dots, at most 16 characters):
//
//   declare number n
//   twice 4
//   @@ twice.imp
//   type $1 * 2
//
// The files are written into an empty working folder (an input can bring
// its own "start.txt"), and the program starts as it does from the command
// line with a copy of the project's system folder (tests/fuzz/harness.h).
#include "harness.h"

namespace {

constexpr size_t MAXINPUT = 8192;

// Writes the input's files into the working folder; the keyboard text is
// returned.
std::string unpack(const uint8_t* data, size_t size) {
  fresh();
  std::string in(reinterpret_cast<const char*>(data), size);
  std::string keys;
  size_t at = 0;
  std::string name;  // the file being filled, empty for the keys
  std::string body;
  auto flush = [&] {
    if (name.empty())
      keys = body;
    else
      putfile(name, body);
    body.clear();
  };
  while (at <= in.size()) {
    size_t nl = in.find('\n', at);
    std::string line = in.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    bool head = line.size() > 3 && line.compare(0, 3, "@@ ") == 0 && line.size() <= 3 + 16;
    for (size_t i = 3; head && i < line.size(); i++) {
      char c = line[i];
      head = std::isalnum(static_cast<unsigned char>(c)) || (c == '.' && i > 3);
    }
    if (head) {
      flush();
      name = line.substr(3);
    } else {
      body += line;
      if (nl != std::string::npos) body += '\n';
    }
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  flush();
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setup();
  if (!ready || size > MAXINPUT) return 0;
  runkeys(unpack(data, size));
  return 0;
}
