// Macros run through the real main loop: lines come from a scripted
// keyboard, macro files from a scratch folder, and the rows a run printed
// are read back (the prompt rows left out).
#pragma once
#include "core/args.h"
#include "core/units.h"
#include "lang/maclib.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "ui/events.h"
#include "parse_fixture.h"

#include <fstream>
#include <string>

class MacRun : public Parse {
 protected:
  explicit MacRun(const char* folder) : scratch(folder), dir(scratch.path + "/") {}
  Term kb;  // types its script even to a look, then has nothing more
  ScratchDir scratch;
  std::string dir;
  Backend* prevb = nullptr;

  void SetUp() override {
    Parse::SetUp();
    prevb = setbackend(&kb);
    clrmsgs();
    clrpeek();
    clrpst(&dfltq);
    clrpst(&typq);
    qflag = 0;
    lstlun = savlst = 1;
    errlun = dbglun = outlun = 1;
    jrnlun = -1;
    macini();
    libcls();
    inunit = 0;
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
    Parse::TearDown();
  }
  void file(const std::string& name, const std::string& text) {
    std::ofstream f(dir + name, std::ios::binary);
    f << text;
  }
  // Types the lines and runs the main loop until they, the queued text and
  // every macro (text or compiled) are done.
  void type(const std::string& lines) {
    kb.rows.clear();
    kb.pending.clear();
    Term::keys(kb.pending, lines);
    for (int guard = 0; guard < 500000; guard++) {
      Msg m;
      bool keys = !kb.pending.empty() || peekky() != 0 || peekmsg(&m, 0x100, 0x102, 0) != 0;
      bool busy = keys || curfrm() || qpend(&dfltq) || qpend(&typq) || qflag != 0 ||
                  (state & ST_CMACRO);
      if (!busy) break;
      mainturn();
    }
  }
  std::string rows() const {
    std::string r;
    for (const auto& s : kb.rows)
      if (s.rfind("PELIX> ", 0) != 0) r += s + "\n";
    return r;
  }
};
