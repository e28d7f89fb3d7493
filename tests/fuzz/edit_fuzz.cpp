// Fuzz target for the full-screen text editor: the file it reads (any
// bytes: long lines, NULs, CR, CR LF, no last newline, more lines than its
// table) and the keys and clicks that edit it. The input's first two bytes
// give the length of the keys part (little-endian, cut to what follows);
// the keys come next, as the headless console reads them (characters,
// control keys, ANSI sequences for the arrows, page keys, Ins, Del and F1
// to F10), with bytes the console ignores standing for what it has no bytes
// for: 0x80 and 0x81 a left and a right click on the text window at the
// cell given by the next two bytes (column, row), 0x82 keypad minus, 0x83
// keypad plus. The rest is the file. The file is edited with a table of
// 300 lines, and every run ends with F9 and F10 answered by Save, so that
// the screen is folded back into the buffer and the buffer written. No file
// and no key may make the editor read or write outside its buffers.
// fuzz-max-len: 65536
#include "harness.h"

#include "ui/menu.h"
#include "ui/platform/console.h"
#include "ui/platform/script.h"
#include "ui/texted.h"

#include <algorithm>

namespace {

constexpr size_t MAXINPUT = 65536;

// The keys as input script steps: the text typed, the special keys and the
// clicks, each in the order the keys give them.
std::string steps(const std::string& k) {
  std::string out, text;
  auto flush = [&] {
    if (!text.empty()) out += "type \"" + text + "\"\n";
    text.clear();
  };
  auto step = [&](const std::string& s) {
    flush();
    out += s + "\n";
  };
  bool cr = false;
  for (size_t i = 0; i < k.size(); i++) {
    const auto c = static_cast<unsigned char>(k[i]);
    const bool wascr = cr;
    cr = c == '\r';
    if (c == '\n' && wascr) continue;  // CR LF is one Enter
    if (c == '\n' || c == '\r') {
      text += "\\n";
    } else if (c == 0) {
    } else if (c == 0x80 || c == 0x81) {
      if (i + 2 >= k.size()) break;
      const int col = static_cast<unsigned char>(k[i + 1]) % 100, row = static_cast<unsigned char>(k[i + 2]) % 40;
      i += 2;
      step("click 1 " + std::to_string(col * 8 + 4) + " " + std::to_string(row * 16 + 8) +
           (c == 0x81 ? " right" : " left"));
    } else if (c == 0x82 || c == 0x83) {
      step(c == 0x82 ? "key kpminus" : "key kpplus");
    } else if (c >= 0x80) {
    } else if (c == 127) {
      text += "\\x08";
    } else if (c == 27) {
      // A sequence as the console reads it; what it does not know is
      // dropped, a lone ESC is Esc.
      EscSeq seq;
      int r = EscSeq::ESC_ALONE;
      size_t j = i + 1;
      for (; j < k.size(); j++)
        if ((r = seq.feed(static_cast<unsigned char>(k[j]))) != EscSeq::ESC_MORE) break;
      if (r == EscSeq::ESC_ALONE) {
        text += "\\x1b";
        continue;
      }
      i = std::min(j, k.size() - 1);
      const std::string name = r == EscSeq::ESC_KEY ? keyname(seq.vk, seq.keys) : "";
      if (!name.empty()) step("key " + name);
    } else if (c < 32 || c == '"' || c == '\\') {
      static const char hex[] = "0123456789abcdef";
      text += "\\x";
      text += hex[c >> 4];
      text += hex[c & 15];
    } else {
      text += static_cast<char>(c);
    }
  }
  flush();
  return out;
}

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
  const std::string script = steps("edit f.txt 300\n" + keys + "\x1b[20~\x1b[21~Save\n");
  // PELIX_FUZZ_SHOW=1 also shows the steps.
  static const bool show = std::getenv("PELIX_FUZZ_SHOW") != nullptr;
  if (show) std::fprintf(stderr, "%s", script.c_str());
  runkeys("", script);
  edreset();
  mnureset();
  return 0;
}
