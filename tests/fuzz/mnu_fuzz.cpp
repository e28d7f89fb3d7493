// Fuzz target for menu descriptions and the menu library: the input's first
// byte chooses what the rest is: a ".mnu" menu file, resource-script dialog
// text (".rc"), or a menu library file. Each is read, listed, opened,
// written back, asked about through menuitem and dialog, stored into a
// library and deleted from it. No input may crash the readers or the
// library code or make them read or write outside their data.
// fuzz-max-len: 16384
#include "harness.h"

#include "ui/menu.h"

namespace {

constexpr size_t MAXINPUT = 65536;

// Commands on the menu "zq" read from its file.
const char* const FILEKEYS =
    "declare string zqs\n"
    "declare number zqn\n"
    "menufile = \"zqlib\"\n"
    "show menu zq\n"
    "menu zq\n"
    "zqs = menuitem(zq, 2)\n"
    "zqs = menuitem(zq, -1)\n"
    "zqn = menuitem(zq)\n"
    "zqn = dialog(2)\n"
    "zqs = dialog(3)\n"
    "zqn = dialog(2, 1, 0, 1)\n"
    "zqn = dialog(0, 4, \"text\", 5, 7)\n"
    "show dialog zq\n"
    "show dialog zq 3 1.5 0.5 2\n"
    "menu 0 zq\n"
    "menu load zq\n"
    "show menu\n"
    "menu zq\n"
    "menu -2\n"
    "delete 0 menu zq\n"
    "show menu\n";

// Commands on a library file whose menus are called zq, a, b.
const char* const LIBKEYS =
    "declare string zqs\n"
    "declare number zqn\n"
    "menufile = \"zqlib\"\n"
    "show menu\n"
    "zqn = menuitem(nosuch)\n"
    "menu zq\n"
    "menu a\n"
    "zqs = menuitem(a, 2)\n"
    "show menu b\n"
    "show dialog zq\n"
    "menu 0 zq\n"
    "menu load zk\n"
    "delete 0 menu a\n"
    "menu load zk\n"
    "show menu\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setup();
  if (!ready || size < 1 || size > MAXINPUT) return 0;
  fresh();
  mnureset();
  mnulun = -1;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      putfile("zq.mnu", bytes);
      runkeys(FILEKEYS);
      break;
    case 1:
      putfile("zq.rc", bytes);
      runkeys(std::string("declare string zqs\nmenu zq.rc\nzqs = dialog(2)\nshow menu zq\nshow dialog zq\n") +
              "menu load zq.rc\nshow menu\nmenu 0 zq\n");
      break;
    default:
      putfile("zqlib", bytes);
      putfile("zk.mnu", "\"k\ncmd\n\n\"l\ncmd2\n?help\n");
      runkeys(LIBKEYS);
      break;
  }
  mnureset();
  mnulun = -1;
  return 0;
}
