// Shared set-up for the parser tests: a fresh low stack with the system
// table and a few declared variables, error lines caught from the terminal,
// and helpers that parse a line as the main loop does and show the word
// table.
#pragma once
#include "lang/keywords.h"
#include "lang/rdline.h"
#include "tests/support/interp.h"

#include <map>

class Parse : public ::testing::Test {
 protected:
  Term log;  // keeps every finished row of the terminal
  TermUse term;
  Bottom bottom;
  std::map<int32_t, std::string> names;  // symbol address -> name

  void SetUp() override {
    MakStk();
    rststk();
    term.begin(&log);
    clrflags();
    errlun = lstlun = 1;
    ibase = 10;
    bottom.keep();
    const char cl[] = "pelix";
    ASSERT_EQ(mksyms(cl, 5), 0);
    declare("a", 0x1011);    // number
    declare("b", 0x1011);
    declare("c", 0x1011);
    declare("d", 0x1011);
    declare("e", 0x1011);
    declare("n", 0x1011);
    declare("x", 0x1041);    // array
    declare("m", 0x1081);    // matrix
    declare("s", 0x1021);    // string
    declare("img", 0x1201);  // image
    declare("sol", 0x1401);  // solid
    declare("p", 0x1001);    // pointer
  }
  void TearDown() override {
    term.end();
    bottom.back();
    state = pflags = 0;
    prsflg = 0;
    ibase = 10;
  }

  int32_t declare(const char* name, int flags) {
    int32_t e = putsym(0, name, static_cast<int>(std::strlen(name)), flags, 0, 1, flags & 0x20 ? 8 : 96);
    names[e] = name;
    return e;
  }
  // A defined name with the given text and argument count.
  void define(const char* name, const char* text, int nargs = 0) {
    int32_t blk = 0;
    int len = static_cast<int>(std::strlen(text));
    getstk(&blk, len, 1, 1, 0);
    std::memcpy(stkptr(blk), text, static_cast<size_t>(len));
    putsym(0, name, static_cast<int>(std::strlen(name)), SY_DEFINE | SY_GLOBAL, blk,
           static_cast<uint32_t>(len), nargs);
  }

  // Parses a line as the main loop does with the given parse flags:
  // preprocessing, parsing and, with flag 16 and no error, ordering.
  int parse(const char* line, int flags = 0x1F) {
    state = 0;
    log.rows.clear();
    prsflg = static_cast<uint16_t>(flags);
    std::snprintf(linbuf, sizeof linbuf, "%s", line);
    int n = static_cast<int>(std::strlen(linbuf));
    if (flags & 7) n = prepro(linbuf, n, LINBUF, flags);
    int code = 0;
    if (flags & 8) PARSLN(n, &code);
    if ((flags & 16) && !(state & ST_ERROR)) Aftpro(&code);
    return code;
  }
  // The first error row ("ERROR  16 (arg 2)" ...), up to the colon.
  std::string err() const {
    for (const std::string& r : log.rows) {
      if (r.rfind("ERROR", 0) == 0) return r.substr(0, r.find(':'));
    }
    return "";
  }

  // One entry as "type depth v1 v2 | b0 .. b7" (types in hex, bytes in hex).
  static std::string W(int e) {
    const WORD& w = wrdtab[e];
    char s[96];
    std::snprintf(s, sizeof s, "%x %d %d %d |", static_cast<uint16_t>(w.type), w.depth, w.v1, w.v2);
    std::string r = s;
    for (int i = 0; i < 8; i++) {
      std::snprintf(s, sizeof s, " %02x", w.b[i]);
      r += s;
    }
    return r;
  }
  // The whole table, one entry per line.
  static std::string table() {
    std::string r;
    for (int e = 0; e < nwords; e++) r += W(e) + "\n";
    return r;
  }
  static std::string text(int e) {
    char buf[LINBUF];
    gettxt(e, buf, sizeof buf);
    return buf;
  }
  static std::vector<int> args() { return std::vector<int>(argmap, argmap + nargw); }
};
