// Text macros, flow control and the macro library, run through the real
// main loop: lines come from a scripted keyboard, macros from files in a
// scratch folder, and results are read back from variables and registers.
#include "lang/macro.h"

#include "core/args.h"
#include "core/units.h"
#include "core/varbl.h"
#include "graphics/views.h"
#include "lang/maclib.h"
#include "lang/mainloop.h"
#include "parse_fixture.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

[[maybe_unused]] std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// A keyboard that types a script and then has nothing more.
struct Keys : RowLog {
  std::string in;
  size_t pos = 0;
  int keyin(int) override {
    if (pos >= in.size()) return 0;
    int c = static_cast<unsigned char>(in[pos++]);
    return c == '\n' ? 13 : c;
  }
};

class Mac : public Parse {
 protected:
  Keys kb;
  std::string dir;
  Backend* prevb = nullptr;

  void SetUp() override {
    Parse::SetUp();
    prevb = setbackend(&kb);
    clrpst(&dfltq);
    clrpst(&typq);
    qflag = 0;
    lstlun = savlst = 1;
    errlun = dbglun = outlun = 1;
    jrnlun = -1;
    macini();
    libcls();
    inunit = 0;
    char t[] = "/tmp/pelix_macXXXXXX";
    dir = mkdtemp(t);
    dir += "/";
    setstrv("path", dir.c_str());
    setstrv("macrofile", (dir + "MACLIB").c_str());
  }
  void TearDown() override {
    macabt();
    libcls();
    setstrv("path", "");
    setstrv("macrofile", "");
    clrpst(&dfltq);
    clrpst(&typq);
    qflag = 0;
    setbackend(prevb);
    std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << cmd;
    Parse::TearDown();
  }
  void file(const std::string& name, const std::string& text) {
    std::ofstream f(dir + name, std::ios::binary);
    f << text;
  }
  // Types the lines and runs the main loop until they, the queued text and
  // every macro are done. Error rows are kept in `log`.
  void type(const std::string& lines) {
    kb.rows.clear();
    size_t at = 0;
    while (at < lines.size()) {
      size_t nl = lines.find('\n', at);
      if (nl == std::string::npos) nl = lines.size() - 1;
      kb.in = lines.substr(at, nl + 1 - at);
      kb.pos = 0;
      at = nl + 1;
      settle();
    }
  }
  // Runs the main loop until the typed line, the queued text and every
  // macro are done.
  void settle() {
    for (int guard = 0; guard < 500000; guard++) {
      bool busy = kb.pos < kb.in.size() || curfrm() || qpend(&dfltq) || qpend(&typq) || qflag != 0;
      if (!busy) break;
      int c = mainturn();
      if (getenv("MACDBG"))
        fprintf(stderr, "turn %d mode %d lev %d frm %d in %d unit %d line %d brc %d lop %d\n", c, macmod,
                maclev, frmadr, inunit, mcunit, maclin, brclev, lopdep);
    }
  }
  // The value of an expression at top level (through register #9).
  float val(const std::string& expr) {
    type("#9 = " + expr + "\n");
    return getres(9);
  }
  std::string rows() const {
    std::string r;
    for (const auto& s : kb.rows)
      if (s.rfind("PELIX> ", 0) != 0) r += s + "\n";
    return r;
  }
  bool has(const std::string& s) const { return rows().find(s) != std::string::npos; }
};

TEST_F(Mac, ArgumentsAndReturnValue) {
  file("addup.imp", "declare number q\nq = $1 + $2\nr = q\nreturn ($1 * $2)\n");
  type("declare number r\naddup 3 4\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(val("r"), 7.0f);
  type("addup 5 6\n");
  EXPECT_EQ(rows(), "");
  type("#8 = #0\n");
  EXPECT_EQ(getres(8), 30.0f) << rows();
  EXPECT_EQ(maclev, 0);
  EXPECT_EQ(macmod, 0);
  EXPECT_EQ(curfrm(), nullptr);
}

}  // namespace
namespace {
TEST_F(Mac, Dbg) {
  file("m4.imp", "declare number q\nq = 1\n#6 = $1\n");
  type("m4 3 4\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(getres(6), 3.0f);
  file("m5.imp", "declare number q\nq = 1\n#6 = 2 * 3\n");
  type("m5 3 4\n");
  EXPECT_EQ(rows(), "");
  file("m6.imp", "declare number q\n#6 = ($1 * $2)\n");
  type("m6 3 4\n");
  EXPECT_EQ(rows(), "");
  type("declare number q\nq = 1\n#6 = (3 * 4)\n");
  EXPECT_EQ(rows(), "");
}
}
