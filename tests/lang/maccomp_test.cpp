// The macro compiler and compiled macros, run through the real main loop:
// each macro runs as text, compiled, and with its loops compiled in memory,
// and the three must agree; the compiled file's bytes, every compile error
// and the loader's refusals of damaged files.
#include "lang/maccomp.h"

#include "core/args.h"
#include "core/blkbuf.h"
#include "compute/scalar.h"
#include "lang/fastcmd.h"
#include "core/memory.h"
#include "core/state.h"
#include "core/symbols.h"
#include "core/units.h"
#include "core/varbl.h"
#include "lang/maclib.h"
#include "lang/macro.h"
#include "lang/mainloop.h"
#include "ui/events.h"
#include "ui/window.h"
#include "mac_fixture.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

extern bool ipcfile;

namespace {

class Cmp : public MacRun {
 protected:
  Cmp() : MacRun("/tmp/pelix_cmp") {}

  void SetUp() override {
    MacRun::SetUp();
    ipcini();
    aflags = 0;
  }
  void TearDown() override {
    macabt();
    ipcini();
    blkio = nullptr;
    ipcfile = false;
    aflags = 0;
    MacRun::TearDown();
  }
  std::vector<uint8_t> bytes(const std::string& name) {
    std::ifstream f(dir + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
  }
  void put(const std::string& name, const std::vector<uint8_t>& b) {
    std::ofstream f(dir + name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  bool exists(const std::string& name) { return std::ifstream(dir + name).good(); }
  // Runs `call` with fresh globals; the output and the globals' values.
  std::string run(const std::string& call, const std::string& vars) {
    type("zqs = 0\nzqqa = 0\nzqqb = 0\n" + call + "\n");
    std::string out = rows();
    type("type " + vars + "\n");
    return out + "|" + rows() + "|" + std::to_string(getres(0));
  }
};

const char* const FLOW =
    "zqi = 0\n"
    "while (zqi < 12) {\n"
    "  zqi = zqi + 1\n"
    "  if (zqi == 3) {\n"
    "    next\n"
    "  } else {\n"
    "    zqs = zqs + zqi\n"
    "  }\n"
    "  zqj = 0\n"
    "  while (1) {\n"
    "    zqj = zqj + 1\n"
    "    if (zqj > 2) break 1\n"
    "    if (zqi == 10) break 2\n"
    "    zqqa = zqqa + zqj\n"
    "  }\n"
    "  if (zqi == 5) type zqi zqs zqqa\n"
    "}\n"
    "goto 2\n"
    "zqqb = 99\n"
    "label 2\n"
    "if (zqqb == 0)\n"
    "  zqqb = 7\n"
    "if (zqs > 1000) {\n"
    "  zqqb = -1\n"
    "}\n"
    "type \"done\" zqi zqs zqqa zqqb\n"
    "return (zqs + zqqa)\n";

}  // namespace

TEST_F(Cmp, CompiledTextAndInMemoryLoopsAgree) {
  file("flow.imp", FLOW);
  type("declare global number zqi zqj zqs zqqa zqqb\n");
  std::string text = run("flow", "zqi zqj zqs zqqa zqqb");
  EXPECT_NE(text.find("done"), std::string::npos) << text;
  EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
  EXPECT_EQ(text.find("Unknown"), std::string::npos) << text;
  // In-memory loops.
  type("aflags = 256\n");
  EXPECT_EQ(run("flow", "zqi zqj zqs zqqa zqqb"), text);
  type("aflags = 0\ncompile flow\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(getres(0), 0.0f);
  ASSERT_TRUE(exists("flow.cmp"));
  EXPECT_EQ(run("flow", "zqi zqj zqs zqqa zqqb"), text);
  EXPECT_EQ(run("run flow", "zqi zqj zqs zqqa zqqb"), text);
  // Read record by record from the file.
  ipcfile = true;
  EXPECT_EQ(run("flow", "zqi zqj zqs zqqa zqqb"), text);
  ipcfile = false;
  EXPECT_EQ(maclev, 0);
  EXPECT_EQ(macmod, 0);
  EXPECT_EQ(state & 0x6, 0);
  EXPECT_EQ(brclev, 0);
  EXPECT_EQ(lopdep, 0);
  // A line the loop cannot parse sends it back to its text, which reports
  // the error on each pass as it always does.
  file("bad.imp",
       "zqi = 0\nwhile (zqi < 3) {\n  zqi = zqi + 1\n  if (zqi == 2) zqi = zqnone\n  type zqi\n}\n");
  std::string slow = run("bad", "zqi");
  EXPECT_NE(slow.find("ERROR 182"), std::string::npos) << slow;
  type("aflags = 256\n");
  EXPECT_EQ(run("bad", "zqi"), slow);
  type("aflags = 0\n");
  // Called from a text macro, the compiled macro returns to the caller's
  // next line, with the caller's loop intact.
  file("outer.imp", "zqk = 0\nwhile (zqk < 2) {\n  zqk = zqk + 1\n  flow\n}\ntype \"outer\" zqk #0\n");
  type("declare global number zqk\nouter\n");
  std::string r = rows();
  EXPECT_NE(r.find("outer        2.000"), std::string::npos) << r;
  type("type zqk\n");
  EXPECT_NE(rows().find("2.000"), std::string::npos);
  EXPECT_EQ(state & ST_CMACRO, 0);
}

TEST_F(Cmp, FileLayoutByteByByte) {
  file("tiny.imp", "declare global number zqq\nzqq = 5\nwhile (zqq) {\nzqq = zqq - 1\n}\nother 1\n");
  type("compile tiny\n");
  EXPECT_EQ(rows(), "Warning -- unresolved reference:        other\n");
  ASSERT_FALSE(exists("tiny.cmp"));
  std::vector<uint8_t> b = bytes("tiny.cmo");
  ASSERT_GT(b.size(), size_t(CMPBASE + CMPHDR));
  for (int i = 0; i < CMPBASE; i++) ASSERT_EQ(b[size_t(i)], 0) << i;
  const uint8_t* h = b.data() + CMPBASE;
  EXPECT_EQ(get16(h + 2), 0x2008);
  EXPECT_EQ(get16(h + 4), 257);
  EXPECT_EQ(get16(h + 6), 28);
  EXPECT_EQ(get16(h + 8), 4);  // while, "}", the reference, + 1
  int32_t sysz = get32(h + 12), rlsz = get32(h + 16), labs = get32(h + 20), cmds = get32(h + 24);
  EXPECT_EQ(sysz, 24);
  EXPECT_EQ(rlsz, 20);
  EXPECT_EQ(labs, 0);
  EXPECT_EQ(get16(h + 10), (sysz + rlsz + cmds - 1) / 512 + 1);
  EXPECT_EQ(b.size(), size_t(CMPBASE + CMPHDR + sysz + rlsz + cmds));
  const uint8_t* s = h + CMPHDR;
  EXPECT_EQ(s[10] & 15, 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s + 12), 3), "zqq");
  EXPECT_EQ(get16(s + 8) & 0x7F0, 16);
  const uint8_t* ref = s + sysz;
  for (int i = 0; i < 8; i++) EXPECT_EQ(ref[i], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ref + 8)), "other");
  // The records in order: declare, q = 5, while, q = q - 1, "}", other,
  // return.
  const uint8_t* c = ref + rlsz;
  std::vector<int> codes, offs;
  int32_t off = 0;
  while (off < cmds) {
    const uint8_t* r = c + off;
    codes.push_back(get16(r + 2));
    offs.push_back(off);
    EXPECT_EQ(get16(r + 8), int(codes.size()) <= 6 ? int(codes.size()) : get16(r + 8));
    off += codes.back() < 0 ? recsiz(r) : get32(r + 4) - off;
  }
  ASSERT_EQ(codes.size(), 7u);
  EXPECT_EQ(codes[0], CM_DECLARE);
  EXPECT_EQ(codes[2], CM_WHILE);
  EXPECT_EQ(codes[4], -OP_RBRACE);
  EXPECT_EQ(codes[5], CM_UNKNOWN);
  EXPECT_EQ(codes[6], CM_RETURN);
  // "}" jumps to the while head; a false while goes past the "}".
  EXPECT_EQ(get32(c + offs[4] + 4), offs[2]);
  const uint8_t* w = c + offs[2];
  EXPECT_EQ(get32(w + 4) + get16(w + RECHDR + 2), offs[5]);
  // A word naming q refers to symbol 0: -(6 x 0) - 1.
  const uint8_t* q = c + offs[1];
  bool ref0 = false;
  for (int i = 0; i < q[1]; i++) {
    WORD wd;
    std::memcpy(&wd, q + RECHDR + 2 * q[0] + 16 * i, 16);
    if ((wd.type & 0x1000) && wd.type > 0) ref0 = wval(wd) == -1;
  }
  EXPECT_TRUE(ref0);
  const uint8_t* ret = c + offs[6];
  EXPECT_EQ(ret[0], 0);
  EXPECT_EQ(ret[1], 0);
}

TEST_F(Cmp, EveryCompileError) {
  struct Case {
    const char* text;
    const char* row;
  } cases[] = {
      {"while (1) {\n  if (1) {\n    break 2\n  }\n}\n", "ERROR  19 (arg 2)"},
      {"x = 1\n}\n", "ERROR  30 (arg 1)"},
      {"if (1) {\n} junk\n", "ERROR   9 (arg 3)"},
      {"compile other\n", "ERROR  90"},
      {"run \"\"\n", "ERROR  91"},
      {"repeat 3 {\n}\n", "ERROR 214 (arg 1)"},
      {"goto (1+1)\n", "ERROR 214 (arg 2)"},
      {"goto 4\n", "Unresolved jump from line 1"},
      {"label 1\ngoto 1\nlabel 2\n", "ERROR  43"},
  };
  int k = 0;
  for (const Case& c : cases) {
    std::string name = "bad" + std::to_string(k++);
    file(name + ".imp", c.text);
    int32_t st = state;
    type("compile " + name + (k == 9 ? " 0 200 200 1" : "") + "\n");
    std::string r = rows();
    EXPECT_NE(r.find(c.row), std::string::npos) << name << ": " << r;
    EXPECT_NE(r.find("errors detected"), std::string::npos) << name << ": " << r;
    EXPECT_LT(getres(0), 0.0f) << name;
    EXPECT_FALSE(exists(name + ".cmp")) << name;
    EXPECT_EQ(state & ~ST_ERROR, st & ~ST_ERROR) << name;
  }
  // A command table past 64 KB.
  std::string big;
  for (int i = 0; i < 700; i++) big += "zqx = zqx + 1 + 2 + 3\n";
  file("big.imp", big);
  type("declare global number zqx\ncompile big\n");
  EXPECT_NE(rows().find("ERROR  92"), std::string::npos) << rows();
  EXPECT_FALSE(exists("big.cmp"));
  // Local copies of outer symbols overflow a table of one entry.
  file("syms.imp", "sya = 1\nsyb = 2\n");
  type("declare global number sya syb\ncompile syms 0 1\n");
  EXPECT_NE(rows().find("errors detected"), std::string::npos) << rows();
  EXPECT_FALSE(exists("syms.cmp"));
}

TEST_F(Cmp, DamagedFilesAreRefused) {
  file("good.imp", "zqg = zqg + 1\nif (zqg > 0) {\n  zqg = zqg + 10\n}\n");
  type("declare global number zqg\ncompile good\n");
  std::vector<uint8_t> b = bytes("good.cmp");
  ASSERT_GT(b.size(), size_t(CMPBASE + CMPHDR));
  const size_t c = CMPBASE + CMPHDR + size_t(get32(&b[CMPBASE + 12]));
  auto damaged = [&](const std::string& what, auto edit) {
    std::vector<uint8_t> d = b;
    edit(d);
    put("good.cmp", d);
    type("zqg = 0\ngood\n");
    std::string r = rows();
    EXPECT_NE(r.find("ERROR  94"), std::string::npos) << what << ": " << r;
    type("type zqg\n");
    EXPECT_NE(rows().find("0.000"), std::string::npos) << what;  // it did not run
  };
  damaged("nargs", [&](std::vector<uint8_t>& d) { d[c] = 41; });
  damaged("nwords", [&](std::vector<uint8_t>& d) { d[c + 1] = 43; });
  damaged("next", [&](std::vector<uint8_t>& d) { put32(&d[c + 4], 0x7FFF0000); });
  damaged("commands", [&](std::vector<uint8_t>& d) { put32(&d[CMPBASE + 24], 1 << 20); });
  damaged("name", [&](std::vector<uint8_t>& d) { d[CMPBASE + CMPHDR + 10] = 13; });
  damaged("symbol index", [&](std::vector<uint8_t>& d) {
    for (size_t i = c + RECHDR; i + 16 <= d.size(); i += 2)
      if (get16(&d[i]) > 0 && (get16(&d[i]) & 0x1000) && get32(&d[i + 4]) == -1) {
        put32(&d[i + 4], -(6 * 9) - 1);
        break;
      }
  });
  damaged("cut short", [&](std::vector<uint8_t>& d) { d.resize(d.size() - 3); });
  // A symbol of another kind: error 44, the macro does not run.
  std::vector<uint8_t> d = b;
  put16(&d[CMPBASE + CMPHDR + 8], (get16(&d[CMPBASE + CMPHDR + 8]) & ~0x7F0) | 32);
  put("good.cmp", d);
  type("good\n");
  EXPECT_NE(rows().find("Symbol table error:          zqg"), std::string::npos) << rows();
  EXPECT_NE(rows().find("ERROR  44"), std::string::npos);
  EXPECT_EQ(maclev, 0);
}

TEST_F(Cmp, OwnLocalsFallBackToTheText) {
  // A compiled macro with a local of its own is not run: the text is.
  file("loc.imp", "declare number zqz\nzqz = 4\nzqw = zqz\n");
  type("declare global number zqw\ncompile loc\nzqw = 0\nloc\n");
  ASSERT_TRUE(exists("loc.cmp"));
  type("type zqw\n");
  EXPECT_NE(rows().find("4.000"), std::string::npos) << rows();
  // The status word after compiling is what it was before.
  state = ST_PAGING;
  type("compile loc\n");
  EXPECT_EQ(state & ~ST_PAGING & 0x7FFF, 0);
}

TEST_F(Cmp, CachedLinesFollowTheirTables) {
  // Each pass reads the same lines again: what they mean follows the
  // symbols and input base of the moment, not the first parse.
  file("chg.imp",
       "zqn = 0\n"
       "while (zqn < 3) {\n"
       "  zqn = zqn + 1\n"
       "  zqv = 10\n"
       "  zqt = zqt + zqv\n"

       "  if (zqn == 2) ibase = 16\n"
       "  if (zqn == 2) declare global number zqw\n"
       "  zqw = zqn\n"
       "}\n"
       "ibase = 10\n");
  type("declare global number zqn zqv zqt\nzqt = 0\nchg\n");
  // Passes 1 and 2: zqw is unknown until declared; pass 3: 10 reads as
  // 16, zqw is set.
  EXPECT_NE(rows().find("Unknown command: zqw"), std::string::npos) << rows();
  type("type zqt zqw zqv\n");
  EXPECT_EQ(rows(), "      36.000        3.000       16.000\n");
}

TEST_F(Cmp, CompiledMacroRunsFromTheLibrary) {
  file("twc.imp", "zql = zql * 2\nreturn zql\n");
  type("declare global number zql\ncompile twc\n");
  ASSERT_TRUE(exists("twc.cmp"));
  std::vector<uint8_t> b = bytes("twc.cmp");
  type("macro 'twc.cmp'\n");
  EXPECT_EQ(rows(), "");
  // The library holds the file's bytes from a block boundary.
  std::vector<uint8_t> lib = bytes("MACLIB");
  ASSERT_EQ(get16(&lib[32]), 4);
  uint32_t at = uint32_t(get32(&lib[36]));
  EXPECT_EQ(at % 1024, 0u);
  ASSERT_GE(lib.size(), at + b.size());
  EXPECT_TRUE(std::equal(b.begin(), b.end(), lib.begin() + at));
  // Both files go: the library runs the compiled macro.
  std::remove((dir + "twc.cmp").c_str());
  std::remove((dir + "twc.imp").c_str());
  type("zql = 21\ntwc\n");
  EXPECT_EQ(rows(), "");
  EXPECT_EQ(getres(0), 42.0f);
  EXPECT_EQ(maclev, 0);
}

// The scalar path stores exactly what the element loop stores: every
// operator on ordinary, zero, missing, large and integer-constant values.
TEST_F(Cmp, ScalarAssignmentsMatchTheElementLoop) {
  type("declare global number zsa zsb zsd\n");
  auto bits = [](const char* name) {
    uint16_t fl = 0;
    int32_t e = GETSYM(name, int(std::strlen(name)), &fl, 1);
    const SymEnt* s = e > 0 ? symptr(e) : nullptr;
    uint32_t u = 0;
    if (s && s->data > 0) std::memcpy(&u, stkptr(s->data), 4);
    return u;
  };
  auto set = [](const char* name, float v) {
    uint16_t fl = 0;
    int32_t e = GETSYM(name, int(std::strlen(name)), &fl, 1);
    if (const SymEnt* s = e > 0 ? symptr(e) : nullptr) std::memcpy(stkptr(s->data), &v, 4);
  };
  const float vals[] = {1.5f, -2.0f, 0.0f, -0.0f, 3e38f, 7.0f};
  const char* ops[] = {"+", "-", "*", "/", "==", "<", ">", "<=", ">=", "!="};
  int checked = 0;
  for (float a : vals)
    for (float b : vals)
      for (const char* op : ops)
        for (const char* rhs : {"zsb", "3", "zsa"}) {
          std::string line = std::string("zsd = zsa ") + op + " " + rhs + "\n";
          uint32_t got[2];
          for (int k = 0; k < 2; k++) {
            noscalar = k == 1;
            set("zsa", a);
            set("zsb", b);
            set("zsd", 99.0f);
            type(line);
            got[k] = bits("zsd");
          }
          noscalar = false;
          ASSERT_EQ(got[0], got[1]) << a << " " << op << " " << b << " (" << rhs << ")";
          checked++;
        }
  type("zsd = zsa\n");
  EXPECT_EQ(bits("zsd"), bits("zsa"));
  EXPECT_EQ(checked, 6 * 6 * 10 * 3);
}

// The fast forms of assignments and conditions store exactly the bits the
// general path stores and take the same branches, as text, compiled and
// compiled in memory, on ordinary, missing, NaN, infinite and large values;
// a variable that stops being a float number between runs is served right.
TEST_F(Cmp, FastFormsMatchTheGeneralPath) {
  file("zfm.imp",
       "zfk = 0\nwhile (zfk < 2) {\n  zfk = zfk + 1\n  zf1 = zfa + zfb\n  zf2 = zfa * zfb\n"
       "  zf3 = zfa / zfb\n  zf4 = zfa - 16777217\n  zf5 = zfa\n  zf6 = 0\n"
       "  if (zfa < zfb) {\n    zf6 = zf6 + 1\n  }\n  if (zfa) {\n    zf6 = zf6 + 2\n  }\n"
       "  if (zfa == 16777217) {\n    zf6 = zf6 + 4\n  }\n  if (zfb != 1.5) {\n    zf6 = zf6 + 8\n  }\n"
       "  if (zfa > zfb) zf6 = zf6 + 16\n  if (zfb <= 0) {\n    zf6 = zf6 + 32\n  } else {\n"
       "    zf6 = zf6 + 64\n  }\n}\n");
  type("declare global number zfa zfb zfk zf1 zf2 zf3 zf4 zf5 zf6\ncompile zfm\n");
  ASSERT_TRUE(exists("zfm.cmp"));
  put("zfc.cmp", bytes("zfm.cmp"));
  auto sym = [](const char* name) {
    uint16_t fl = 0;
    int32_t e = GETSYM(name, int(std::strlen(name)), &fl, 1);
    const SymEnt* s = e > 0 ? symptr(e) : nullptr;
    return s && s->data > 0 ? static_cast<uint32_t*>(stkptr(s->data)) : nullptr;
  };
  float sn;
  const uint32_t snb = 0x7FA00000u;
  std::memcpy(&sn, &snb, 4);
  const float vals[] = {1.5f, -2.0f, 0.0f, -0.0f, NAN, sn, INFINITY, 3e38f, 16777216.0f, 16777218.0f};
  int checked = 0;
  for (float a : vals)
    for (float b : vals)
      for (const char* call : {"zfm", "zfc", "aflags = 256\nzfm\naflags = 0"}) {
        std::string got[2];
        for (int k = 0; k < 2; k++) {
          nofast = k == 1;
          std::memcpy(sym("zfa"), &a, 4);
          std::memcpy(sym("zfb"), &b, 4);
          type(std::string(call) + "\n");
          for (const char* v : {"zfk", "zf1", "zf2", "zf3", "zf4", "zf5", "zf6"})
            got[k] += std::to_string(*sym(v)) + " ";
        }
        nofast = false;
        ASSERT_EQ(got[0], got[1]) << a << " " << b << " " << call;
        checked++;
      }
  EXPECT_EQ(checked, 10 * 10 * 3);
  // Released storage between runs: the forms find the new storage.
  type("zfa = 7\nzfb = 1\nzfm\nrelease zf5 zf6\nzfm\nrelease zf5\nzfc\ntype zf5 zf6\n");
  EXPECT_EQ(rows(), "       7.000       90.000\n");
}

// Function calls on single values in fast forms store the general path's
// bits, as text, compiled and compiled in memory: every function the forms
// take, on ordinary, missing, NaN, infinite, large and out-of-domain
// values; a call on an array or an expression is left to the general path.
TEST_F(Cmp, FastFunctionCallsMatchTheGeneralPath) {
  const char* calls[] = {"log(zga)", "alog(zga)", "sin(zga)", "asin(zgb)", "cos(zga)", "acos(zgb)",
                         "sqrt(zga)", "ucase(zga)", "lcase(zga)", "integer(zga)", "round(zgb)",
                         "rem(zga)", "numbits(zga)", "atan(zga)", "max(zga, zgb)", "min(zgb, 3)",
                         "rem(zga, zgb)", "xor(zga, zgb)", "shift(zga, zgb)", "atan(zga, zgb)"};
  std::string body = "zgk = 0\nwhile (zgk < 2) {\n  zgk = zgk + 1\n";
  std::string names = "zga zgb zgk";
  for (size_t i = 0; i < std::size(calls); i++) {
    body += "  zg" + std::to_string(i) + " = " + calls[i] + "\n";
    names += " zg" + std::to_string(i);
  }
  body += "  zgy = sum(zgv)\n  zgz = sin(zga + 1)\n}\n";
  file("zgm.imp", body);
  type("declare global number " + names + " zgy zgz\ndeclare global real array zgv(3)\ncompile zgm\n");
  ASSERT_TRUE(exists("zgm.cmp"));
  put("zgc.cmp", bytes("zgm.cmp"));
  auto sym = [](const std::string& name) {
    uint16_t fl = 0;
    int32_t e = GETSYM(name.c_str(), int(name.size()), &fl, 1);
    const SymEnt* s = e > 0 ? symptr(e) : nullptr;
    return s && s->data > 0 ? static_cast<uint32_t*>(stkptr(s->data)) : nullptr;
  };
  float sn;
  const uint32_t snb = 0x7FA00000u;
  std::memcpy(&sn, &snb, 4);
  const float vals[] = {1.5f, -2.0f, 0.0f, -0.0f, NAN, sn, INFINITY, 3e38f, 0.5f, 97.0f, 14.0f, -7.25f};
  uint32_t ran = fcfnrun;
  int checked = 0;
  for (float a : vals)
    for (float b : vals)
      for (const char* call : {"zgm", "zgc", "aflags = 256\nzgm\naflags = 0"}) {
        std::string got[2];
        for (int k = 0; k < 2; k++) {
          nofast = k == 1;
          std::memcpy(sym("zga"), &a, 4);
          std::memcpy(sym("zgb"), &b, 4);
          type(std::string(call) + "\n");
          for (size_t i = 0; i < std::size(calls); i++)
            got[k] += std::to_string(*sym("zg" + std::to_string(i))) + " ";
          got[k] += std::to_string(*sym("zgy")) + " " + std::to_string(*sym("zgz"));
        }
        nofast = false;
        ASSERT_EQ(got[0], got[1]) << a << " " << b << " " << call;
        checked++;
      }
  EXPECT_EQ(checked, 12 * 12 * 3);
  // Every call but the two left to the general path ran in its fast form
  // (twice a run, with the fast forms on).
  EXPECT_EQ(fcfnrun - ran, uint32_t(checked) * 2 * std::size(calls));
}

// Element stores with a simple subscript in fast forms store the general
// path's bytes into byte, integer, long and real arrays (high memory and
// low stack), as text, compiled, compiled in memory and without clamping:
// copies, operators and function calls of ordinary, missing, NaN,
// signalling NaN, infinite and out-of-range values, at the first and last
// element, between elements, and past either end (the general path's
// error, the same elements left as they were). A redeclared array is
// found again.
TEST_F(Cmp, FastElementStoresMatchTheGeneralPath) {
  file("zem.imp",
       "zek = 0\nwhile (zek < 2) {\n  zek = zek + 1\n  zeb(zex) = zea\n  zei(zex) = zea\n"
       "  zel(zex) = zea\n  zer(zex) = zea\n  zeo(zex) = zea\n  zer(1) = zea + zez\n"
       "  zel(4) = zea * zez\n  zei(0) = zea - 40000\n  zeb(2) = zea / zez\n  zeo(3) = sqrt(zea)\n"
       "  zer(zey) = max(zea, zez)\n  zeo(0) = zea < zez\n}\n");
  highmem(0);
  ASSERT_EQ(highmem(1024), 0);
  type("declare global number zea zex zey zez zek\ndeclare global byte array zeb(5)\n"
       "declare global integer array zei(5)\ndeclare global long array zel(5)\n"
       "declare global real array zer(5)\ndeclare global low real array zeo(5)\ncompile zem\n");
  ASSERT_TRUE(exists("zem.cmp"));
  put("zec.cmp", bytes("zem.cmp"));
  const char* arrays[] = {"zeb", "zei", "zel", "zer", "zeo"};
  auto ent = [](const char* name) {
    uint16_t fl = 0;
    int32_t e = GETSYM(name, int(std::strlen(name)), &fl, 1);
    return e > 0 ? symptr(e) : nullptr;
  };
  auto data = [&](const char* name, size_t* bytes) {
    const SymEnt* e = ent(name);
    const int ws = e ? e->type : 0;
    *bytes = e ? size_t(e->value) * size_t(ws == W_FLOAT ? 4 : ws / 8) : 0;
    return e && e->data > 0 ? static_cast<uint8_t*>(stkptr(e->data)) : nullptr;
  };
  for (const char* a : arrays) {
    size_t n = 0;
    ASSERT_NE(data(a, &n), nullptr) << a;
    EXPECT_EQ(n, std::string(a) == "zeb" ? 5u : std::string(a) == "zei" ? 10u : 20u) << a;
  }
  EXPECT_GE(ent("zer")->data, HIMEM_BASE);  // arrays go to high memory unless low
  EXPECT_LT(ent("zeo")->data, HIMEM_BASE);
  auto setf = [&](const char* name, float v) { std::memcpy(stkptr(ent(name)->data), &v, 4); };
  const uint32_t snan = 0x7FA00000u;
  float sn;
  std::memcpy(&sn, &snan, 4);
  const float vals[] = {1.5f, -2.75f, 0.0f, MISSING, NAN, sn, INFINITY, -INFINITY, 3e38f,
                        300.0f, -40000.0f, 70000.5f, 16777217.0f};
  const float subs[] = {0.0f, 2.7f, 4.0f, 5.0f, -1.0f, NAN, -0.5f, 1e10f};
  int checked = 0;
  uint32_t slow[2] = {0, 0};
  for (float a : vals)
    for (float x : subs)
      for (const char* call : {"zem", "zec", "aflags = 256\nzem\naflags = 0", "aflags = 4\nzem\naflags = 0"}) {
        std::string got[2];
        for (int k = 0; k < 2; k++) {
          nofast = k == 1;
          for (const char* n : arrays) {
            size_t bytes = 0;
            std::memset(data(n, &bytes), 0x5A, bytes);
          }
          setf("zea", a);
          setf("zex", x);
          setf("zey", 3.0f);
          setf("zez", x == 0.0f ? 0.0f : 7.0f);
          const uint32_t before = fcslow;
          type(std::string(call) + "\n");
          slow[k] += fcslow - before;
          got[k] = rows() + "|";
          for (const char* n : arrays) {
            size_t bytes = 0;
            const uint8_t* d = data(n, &bytes);
            for (size_t i = 0; i < bytes; i++) got[k] += std::to_string(d[i]) + ",";
            got[k] += std::to_string(ent(n)->nlen >> 4) + " ";
          }
        }
        nofast = false;
        ASSERT_EQ(got[0], got[1]) << a << " (" << x << ") " << call;
        checked++;
      }
  EXPECT_EQ(checked, 13 * 8 * 4);
  // The fast forms served: far fewer lines went the general way.
  EXPECT_LT(slow[0] * 2, slow[1]);
  // A redeclared, shorter array: the forms find its new storage, and a
  // subscript past its new end is the general path's error.
  type("zex = 4\nzey = 0\nzez = 1\nzea = 9\nzem\nundeclare zer\ndeclare global real array zer(3)\n"
       "zex = 2\nzem\ntype zer\n");
  EXPECT_EQ(rows(), "       9.000       10.000        9.000\n");
  type("zex = 3\nzem\n");
  EXPECT_NE(rows().find("196"), std::string::npos);
  type("undeclare zeb zei zel zer zeo\n");
  highmem(0);
}

// Ctrl-C stops a loop that runs on fast forms alone, compiled, compiled in
// memory or as text.
TEST_F(Cmp, CtrlCStopsAFastLoop) {
  // A keyboard whose Ctrl-C comes during the run, as a terminal's does.
  struct Intr : Term {
    int peeks = 0;
    int pump(int how) override {
      if (how == KEY_PEEK && ++peeks == 3000) {
        postmsg(winhwnd(curwin), WM_CHAR, 3, 1, MK_CTRL);
        return 1;
      }
      return Term::pump(how);
    }
  } in;
  file("zfi.imp", "zfq = 0\nwhile (1) {\n  zfq = zfq + 1\n}\n");
  type("declare global number zfq\ncompile zfi\n");
  put("zfic.cmp", bytes("zfi.cmp"));
  std::remove((dir + "zfi.cmp").c_str());
  setbackend(&in);
  for (const char* call : {"zfic\n", "aflags = 256\nzfi\n", "aflags = 0\nzfi\n"}) {
    in.peeks = 0;
    Term::keys(in.pending, call);
    for (int guard = 0; guard < 2000000 && (!in.pending.empty() || curfrm()); guard++) mainturn();
    EXPECT_EQ(curfrm(), nullptr) << call;
    EXPECT_EQ(state & ST_CMACRO, 0) << call;
  }
  setbackend(&kb);
  type("type zfq > 0\n");
  EXPECT_EQ(rows(), "");
}

// Past 32 KB: a compiled macro still runs; a loop too large for its block
// in memory runs from its text, whole.
TEST_F(Cmp, LargeMacrosAndLoops) {
  std::string pre, body;
  for (int i = 0; i < 20; i++) pre += "zqm = zqm + 1 + 2\n";
  for (int i = 0; i < 230; i++) body += "  zqm = zqm + 1 + 2\n";
  file("huge.imp", "zqm = 0\n" + pre + "zqc = 0\nwhile (zqc < 2) {\n  zqc = zqc + 1\n" + body + "}\n");
  type("declare global number zqm zqc\ncompile huge\n");
  EXPECT_EQ(rows(), "");
  std::vector<uint8_t> b = bytes("huge.cmp");
  ASSERT_GT(b.size(), size_t(CMPBASE + CMPHDR));
  EXPECT_GT(get32(&b[CMPBASE + 24]), 32768);
  type("huge\ntype zqm zqc\n");
  EXPECT_EQ(rows(), "    1440.000        2.000\n");
  std::remove((dir + "huge.cmp").c_str());
  type("aflags = 256\nhuge\naflags = 0\ntype zqm zqc\n");
  EXPECT_EQ(rows(), "    1440.000        2.000\n");
}

// A byte array that holds a compiled macro's bytes runs as the macro.
TEST_F(Cmp, ArrayHoldsACompiledMacro) {
  file("zqarr.imp", "zqy = zqy + 5\n");
  type("declare global number zqy\ncompile zqarr\n");
  std::vector<uint8_t> b = bytes("zqarr.cmp");
  ASSERT_GT(b.size(), size_t(CMPBASE + CMPHDR));
  type("declare global byte array zqa(" + std::to_string(b.size()) + ")\n");
  uint16_t fl = 0;
  int32_t e = GETSYM("zqa", 3, &fl, 1);
  ASSERT_GT(e, 0);
  std::memcpy(stkptr(symptr(e)->data), b.data(), b.size());
  type("zqy = 1\nrun zqa\ntype zqy\n");
  EXPECT_EQ(rows(), "       6.000\n");
  // Without the file's header as well.
  std::memcpy(stkptr(symptr(e)->data), b.data() + CMPBASE, b.size() - CMPBASE);
  type("run zqa\ntype zqy\n");
  EXPECT_EQ(rows(), "      11.000\n");
  EXPECT_EQ(maclev, 0);
}

TEST_F(Cmp, StringItems) {
  // The items of a string argument, with and without the blank separators.
  type("declare global string zqs1\nzqs1 = \"ab cd,ef\\n\\ngh\"\n");
  for (int seps : {1, 0}) {
    type("type zqs1\n");  // the line's word table now names zqs1 as argument 2
    std::vector<std::string> items;
    int32_t st = 0;
    for (char* it = NXTSTR(2, nullptr, &st, seps); it; it = NXTSTR(2, it, &st, seps))
      items.push_back(it);
    if (seps)
      EXPECT_EQ(items, (std::vector<std::string>{"ab", "cd", "ef", "gh"}));
    else
      EXPECT_EQ(items, (std::vector<std::string>{"ab cd,ef", "gh"}));
  }
}

// With trace bits 4 and 0x10 the loader's listing also traces each record
// as a parsed command, and the macro's own call still finds its arguments.
TEST_F(Cmp, ListingTracesParsedRecords) {
  file("zqt.imp", "zqt1 = zqt1 + $1\ntype zqt1\n");
  type("declare global number zqt1\ncompile zqt\n");
  auto count = [](const std::string& s, const std::string& w) {
    size_t n = 0;
    for (size_t at = s.find(w); at != std::string::npos; at = s.find(w, at + 1)) n++;
    return n;
  };
  type("debug = 4\nzqt 2\ndebug = 0\n");
  std::string r4 = rows();
  type("debug = 20\nzqt 3\ndebug = 0\n");
  std::string r20 = rows();
  EXPECT_EQ(count(r4, ": type #zqt1"), 1u) << r4;   // run
  EXPECT_EQ(count(r20, ": type #zqt1"), 2u) << r20;  // listed and run
  EXPECT_EQ(count(r20, ": return"), 2u) << r20;
  EXPECT_NE(r20.find("Ipc:"), std::string::npos);
  EXPECT_NE(r20.find("       5.000"), std::string::npos) << r20;  // $1 was 3
  EXPECT_EQ(maclev, 0);
}

// Byte streams: data in memory (read in place, a write stops at the end)
// and a file-backed record (one transfer at position + 140).
TEST_F(Cmp, ByteStreams) {
  type("declare global byte array zqb(1000)\n");
  uint16_t fl = 0;
  int32_t e = GETSYM("zqb", 3, &fl, 1);
  ASSERT_GT(e, 0);
  auto* data = static_cast<uint8_t*>(stkptr(symptr(e)->data));
  PtrRec* r = putptr(K_ARRAY, 0, nullptr, 0, 8, 1);
  ASSERT_TRUE(r && data);
  r->Data0 = bytadr(symptr(e)->data);
  r->Tot = 1000;
  const uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  stmset(r, 600);
  EXPECT_EQ(r->XYZptr[1], 1u);
  EXPECT_EQ(r->XYZptr[0], 88u);
  EXPECT_EQ(wrtptr(r, ten, 10), 10);
  EXPECT_EQ(stmpos(r), 610);
  EXPECT_EQ(data[600], 1);
  EXPECT_EQ(data[609], 10);
  stmset(r, 600);
  EXPECT_EQ(rdptr(r, nullptr, 10), data + 600);  // in place
  stmset(r, 995);
  EXPECT_EQ(wrtptr(r, ten, 10), 5);  // no room past the end
  EXPECT_EQ(stmpos(r), 1000);
  stmset(r, 995);
  uint8_t buf[64] = {0};
  EXPECT_EQ(rdptr(r, buf, 10), nullptr);  // short: nothing, position kept
  EXPECT_EQ(stmpos(r), 995);

  int u = openf((dir + "zqs.bin").c_str(), UM_UPDATE | UM_CREATE, 512);
  ASSERT_GT(u, 0);
  PtrRec* f = putptr(K_FILE, 0, nullptr, 0, 8, 1);
  ASSERT_TRUE(f);
  filrec(f)->Lun = uint8_t(u);
  stmset(f, 512 + 3);
  EXPECT_EQ(wrtptr(f, ten, 10), 10);
  EXPECT_EQ(stmpos(f), 525);
  stmset(f, 512 + 5);
  EXPECT_EQ(rdptr(f, buf, 4), buf);
  EXPECT_EQ(buf[0], 3);
  EXPECT_EQ(buf[3], 6);
  EXPECT_EQ(rdptr(f, buf, 40), nullptr);  // past the file's end
  closef(u, 0);
  std::vector<uint8_t> b = bytes("zqs.bin");
  ASSERT_EQ(b.size(), size_t(CMPBASE + 525));
  EXPECT_EQ(b[CMPBASE + 515], 1);
}

// The byte stream of a record held in block buffers (not file-backed): a
// stand-in device layer over `dev`, blocks of 100 bytes, three buffers.
namespace {
std::vector<uint8_t> dev;
int devstub(PtrRec* r, int i, int dir) {
  uint8_t* buf = dat0(r) + i * r->Rwds;
  const size_t at = size_t(bufrec(r)->B[i].Blk - 1) * size_t(r->Rwds);
  if (dir == 1) std::memcpy(buf, dev.data() + at, size_t(r->Rwds));
  else std::memcpy(dev.data() + at, buf, size_t(r->Rwds));
  return r->Rwds;
}
}  // namespace

TEST_F(Cmp, ByteStreamsThroughBlocks) {
  dev.resize(1000);
  for (size_t i = 0; i < dev.size(); i++) dev[i] = uint8_t(i * 7);
  blkio = devstub;
  const uint32_t dims[3] = {1000, 1, 1};
  PtrRec* r = putptr(K_ARRAY, 100, dims, 0, 8, 1);
  ASSERT_TRUE(r);
  ASSERT_EQ(chgbuf(r, 100, 0), 100);
  r->Tot = 1000;
  r->Length = 1000;
  r->Ndims = 1;
  bufrec(r)->Bksiz = 100;  // as the preparation sets it: whole blocks
  const uint8_t* base = dat0(r);
  stmset(r, 610);  // block 7, in place
  const uint8_t* d = rdptr(r, nullptr, 10);
  ASSERT_TRUE(d >= base && d < base + 300);
  EXPECT_EQ(d[0], uint8_t(610 * 7));
  EXPECT_EQ(d[9], uint8_t(619 * 7));
  EXPECT_EQ(stmpos(r), 620);
  stmset(r, 595);  // blocks 6 and 7 into the buffer
  uint8_t buf[16] = {0};
  ASSERT_EQ(rdptr(r, buf, 10), buf);
  for (int i = 0; i < 10; i++) EXPECT_EQ(buf[i], uint8_t((595 + i) * 7)) << i;
  EXPECT_EQ(stmpos(r), 605);
  EXPECT_EQ(r->XYZptr[1], 1u);
  EXPECT_EQ(r->XYZptr[0], 93u);
  // A write across blocks 3 and 4 (neither buffered) lands in both, and
  // the rest of either block stays as it was.
  const uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  stmset(r, 295);
  EXPECT_EQ(wrtptr(r, ten, 10), 10);
  EXPECT_EQ(stmpos(r), 305);
  for (size_t i = 200; i < 400; i++)
    ASSERT_EQ(dev[i], i >= 295 && i < 305 ? uint8_t(i - 294) : uint8_t(i * 7)) << i;
  stmset(r, 290);
  ASSERT_EQ(rdptr(r, buf, 16), buf);
  EXPECT_EQ(buf[5], 1);
  EXPECT_EQ(buf[14], 10);
  stmset(r, 995);  // past the end: nothing, the position kept
  EXPECT_EQ(rdptr(r, buf, 10), nullptr);
  EXPECT_EQ(stmpos(r), 995);
  EXPECT_EQ(wrtptr(r, ten, 10), 5);
  EXPECT_EQ(stmpos(r), 1000);
  EXPECT_EQ(dev[999], 5);
  EXPECT_EQ(state & ST_ERROR, 0);
}

TEST_F(Cmp, TracedCompileListsTheSymbolAndDefineTables) {
  file("lst.imp", "declare number zql\ndefine ZQD 7\nzql = ZQD\n");
  trcmsk = 4;
  type("compile lst\n");
  trcmsk = 0;
  const std::string out = rows();
  const size_t tab = out.find("  Tables:"), sym = out.find("\nSymbol table\n"),
               zql = out.find(" zql ", sym), def = out.find("\nDefine table\n"),
               zqd = out.find(" zqd ", def), rel = out.find("\nRelocation table\n");
  ASSERT_NE(sym, std::string::npos) << out;
  ASSERT_NE(def, std::string::npos) << out;
  EXPECT_LT(tab, sym);
  EXPECT_LT(sym, zql);
  EXPECT_LT(zql, def);
  EXPECT_LT(def, zqd);
  EXPECT_LT(zqd, rel);
  EXPECT_NE(rel, std::string::npos);
  // A define entry: flags 8, its text's length as the value.
  const size_t line = out.rfind('\n', zqd) + 1;
  int n = -1, flags = 0, ws = -1;
  long value = 0, addr = 0;
  char name[16] = "";
  ASSERT_EQ(std::sscanf(out.c_str() + line, "%d %15s %d %d %ld %ld", &n, name, &flags, &ws, &value, &addr), 6);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(flags & 0xFFFE, 8);
  EXPECT_EQ(value, 1);
  EXPECT_GT(addr, 0);
}
