// Differential fuzz target for variable storage: the input's bytes make one
// script of declarations, whole and window assignments, functions and
// releases over a few arrays, matrices, images and solids, and the script
// runs once with its variables in each storage form:
//
//   flat     plain declarations (data in flat high memory);
//   paged    paged high memory (himemflag = 2, declare high);
//   file     file-backed (declare file);
//   pointer  each variable used through a pointer to it;
//   alias    each variable used through an alias of it (declare ... = t);
//   packed   the low stack, small (CSTACK), with a hole left above every
//            declaration, so that commands compact it;
//   mixed    each variable in another of the forms above.
//
// Every value the script prints (lines that start with "=") and every error
// must be the same as in the flat run; a difference aborts with the script
// and both transcripts on standard error. PELIX_FUZZ_SHOW=1 shows them for
// every input (replays).
//
// fuzz-max-len: 256
#include "harness.h"

namespace {

constexpr size_t MAXINPUT = 256;
constexpr int NVAR = 4;

enum Form { FLAT, PAGED, FILEB, POINTER, ALIAS, PACKED, MIXED, NFORMS };
const char* const FORMS[NFORMS] = {"flat", "paged", "file", "pointer", "alias", "packed", "mixed"};

// The low stack of the packed form, in words, and what the program takes
// of it before the script.
constexpr int PACKWORDS = 48000;
constexpr int PACKBASE = 2000;

const char* const KINDS[] = {"array", "matrix", "image", "solid"};
const char* const TYPES[] = {"byte", "integer", "long", "real"};

// The input's bytes, read as small choices; 0 once they are used up.
struct In {
  const uint8_t* p;
  size_t n, at = 0;
  int u8() { return at < n ? p[at++] : 0; }
  int pick(int m) { return m <= 1 ? 0 : u8() % m; }
  bool more() const { return at < n; }
};

struct Var {
  int kind = 0, type = 0, gen = 0;
  int d[3] = {1, 1, 1};
  int items = 0;      // the most items it may hold (from its stores)
  int hole = 0;       // words of the hole left above it (packed form)
  bool live = false;  // declared
  bool held = false;  // released: no data until a whole store
};

// One step of the script: a line the same in every form, or an operation
// on variable v that each form writes its own way.
enum OpKind { TEXT, DECL, UNDECL, RELEASE };
struct Op {
  OpKind k;
  int v;
  std::string text;
  Var var;  // DECL: the declaration
};

// The names of variable v's declaration gen (each declaration a file of
// its own in the file form): the variable, its target (pointer and alias
// forms) and the hole above it (packed form).
std::string nm(int v, int gen) { return std::string("zq") + char('a' + v) + std::to_string(gen); }
std::string tg(int v, int gen) { return std::string("zqt") + char('a' + v) + std::to_string(gen); }
std::string hl(int v, int gen) { return std::string("zqh") + char('a' + v) + std::to_string(gen); }

int count(const Var& x) { return x.d[0] * x.d[1] * x.d[2]; }
// The low-stack words a variable may take: its items and its header.
int64_t words(const Var& x) {
  static const int bits[] = {8, 16, 32, 32};
  return (int64_t{x.items} * bits[x.type] + 31) / 32 + 8;
}
// Words the packed form keeps free besides: a variable made anew next to
// its old storage, and blocks of a command.
constexpr int SLACK = 8000;

class Gen {
 public:
  explicit Gen(In in) : in_(in) {}

  std::vector<Op> make() {
    for (int v = 0; v < NVAR; v++) declare(v);
    int steps = 0;
    while (in_.more() && steps++ < 40) step();
    for (int v = 0; v < NVAR; v++) show(v);
    // The mark of a run that went to its end.
    text("ftype \"=end\\n\"");
    return ops_;
  }

 private:
  In in_;
  Var vars_[NVAR];
  std::vector<Op> ops_;
  int made_ = 0;

  void text(const std::string& s) { ops_.push_back({TEXT, -1, s, {}}); }

  void declare(int v) {
    Var& x = vars_[v];
    if (x.live) {
      ops_.push_back({UNDECL, v, "", x});
      x.gen++;
    }
    x.kind = in_.pick(4);
    x.type = in_.pick(4);
    // Sizes up to a few pages of paged high memory (16 KB each).
    static const int ext1[] = {1, 2, 5, 12, 24, 100, 1000, 5000};
    static const int ext2[] = {1, 3, 6, 10, 40, 80};
    static const int ext3[] = {1, 2, 3, 5, 16};
    x.d[0] = x.d[1] = x.d[2] = 1;
    if (x.kind == 0) {
      x.d[0] = ext1[in_.pick(8)];
    } else if (x.kind < 3) {
      x.d[0] = ext2[in_.pick(6)];
      x.d[1] = ext2[in_.pick(6)];
    } else {
      for (int& e : x.d) e = ext3[in_.pick(5)];
    }
    x.items = count(x);
    x.live = true;
    // The hole takes most of what the others and this one leave free, so
    // that the gap below it is smaller: the next command compacts.
    int64_t free = PACKWORDS - PACKBASE - SLACK;
    for (const Var& y : vars_) free -= y.live ? words(y) : 0;
    x.hole = static_cast<int>(std::max<int64_t>(200, free * (4 + in_.pick(5)) / 8));
    x.held = false;
    ops_.push_back({DECL, v, "", x});
  }

  // A live variable other than v, or -1.
  int other(int v) {
    int w = in_.pick(NVAR);
    for (int k = 0; k < NVAR; k++, w = (w + 1) % NVAR)
      if (w != v && vars_[w].live && !vars_[w].held) return w;
    return -1;
  }

  std::string name(int v) const { return nm(v, vars_[v].gen); }

  // A window of variable v as declared (it may lie outside the variable
  // when a store made it anew: the error is the same in every form).
  std::string window(int v) {
    const Var& x = vars_[v];
    int nd = x.kind == 0 ? 1 : x.kind < 3 ? 2 : 3;
    std::string s = "(";
    for (int k = 0; k < nd; k++) {
      int a = in_.pick(x.d[k]);
      int b = a + in_.pick(x.d[k] - a);
      if (k) s += ",";
      s += std::to_string(a) + ":" + std::to_string(b);
    }
    return s + ")";
  }

  std::string number() {
    static const char* const N[] = {"0", "1", "-3", "7", "255", "300", "-40000", "2.5", "0.25", "100000"};
    return N[in_.pick(10)];
  }

  // A source for a store into v; made_ the most items it gives.
  std::string expr(int v) {
    int w = other(v);
    int n = std::max(1, count(vars_[v]));
    made_ = w < 0 ? n : std::max(n, vars_[w].items);
    switch (w < 0 ? in_.pick(3) : in_.pick(9)) {
      case 0: return number();
      case 1: {
        int k = in_.pick(3) ? n : 1 + in_.u8();
        made_ = std::max(made_, k);
        return "ramp(" + std::to_string(k) + ", " + number() + ")";
      }
      case 2: return "random(" + std::to_string(n) + ", " + std::to_string(1 + in_.pick(9)) + ", 300)";
      case 3: return name(w);
      case 4: return name(w) + window(w);
      case 5: {
        static const char* const O[] = {" + ", " - ", " * ", " / "};
        return name(w) + O[in_.pick(4)] + number();
      }
      case 6: {
        int u = other(w);
        if (u >= 0) made_ = std::max(made_, vars_[u].items);
        return name(w) + (in_.pick(2) ? " + " : " * ") + (u < 0 ? number() : name(u));
      }
      default: return func(w);
    }
  }

  // A function of variable w (made_ as for expr).
  std::string func(int w) {
    const std::string a = name(w);
    int u = other(w);
    const std::string b = u < 0 ? a : name(u);
    made_ = std::max({made_, vars_[w].items, u < 0 ? 0 : vars_[u].items});
    switch (in_.pick(18)) {
      case 0: return "sqrt(" + a + ")";
      case 1: return "sin(" + a + ")";
      case 2: return "sum(" + a + ")";
      case 3: return "max(" + a + ")";
      case 4: return "min(" + a + ")";
      case 5: return "mean(" + a + ")";
      case 6: return "stdev(" + a + ")";
      case 7: return "row(" + a + ", sum)";
      case 8: return "column(" + a + ", max)";
      case 9: return "zproj(" + a + ", mean)";
      case 10: return "integer(" + a + ")";
      case 11: return "round(" + a + ")";
      case 12: return "smooth(" + a + ")";
      case 13: return "rank(" + a + ")";
      case 14: return "order(" + a + ", rank(" + a + "))";
      case 15: made_ = std::min(made_, 1 << 24) * 3; return "rgb(" + a + ", " + b + ", " + a + ")";
      case 16: return "shift(" + a + ", " + std::to_string(in_.pick(7) - 3) + ")";
      default: return "swap(" + a + ")";
    }
  }

  // Prints what v holds: its size, sums over it and its first items.
  void show(int v) {
    const Var& x = vars_[v];
    if (!x.live || x.held) return;
    const std::string a = name(v);
    static const char* const FIRST[] = {"(0:7)", "(0:3,0:1)", "(0:3,0:1)", "(0:1,0:1,0:1)"};
    text("ftype \"=%d\\n\" size(" + a + ")");
    text("ftype \"=%.9f %.9f %.9f %.9f\\n\" sum(" + a + ") max(" + a + ") min(" + a + ") sum(" + a +
         " * ramp(?" + a + ", 1))");
    text("ftype \"=%.9f\\n\" " + a + FIRST[x.kind]);
  }

  void step() {
    int v = in_.pick(NVAR);
    Var& x = vars_[v];
    switch (in_.pick(10)) {
      case 0:
        declare(v);
        break;
      case 1:
        // A release: until its next whole store the variable is neither
        // read nor stored through a window (a file variable has no data
        // of its own to give up; it is kept as it is).
        if (x.live && !x.held) {
          ops_.push_back({RELEASE, v, "", x});
          x.held = true;
        }
        break;
      case 2:
      case 3:
        if (x.live && x.held) {
          // Storage made anew for a released variable: of two items or
          // more (a file variable, kept, takes one value into every item).
          int n = std::max(2, count(x));
          text(name(v) + " = " + (in_.pick(2) ? "ramp(" : "random(") + std::to_string(n) + ", " +
               std::to_string(1 + in_.pick(9)) + ")");
          x.held = false;
        } else if (x.live) {
          made_ = 0;
          text(name(v) + " = " + expr(v));
          x.items = std::max(x.items, made_);
        }
        break;
      case 4:
      case 5:
      case 6:
        if (x.live && !x.held) text(name(v) + window(v) + " = " + expr(v));
        break;
      case 7:
        if (x.live && !x.held) {
          made_ = 0;
          text(name(v) + " = " + func(other(v) < 0 || in_.pick(2) ? v : other(v)));
          x.items = std::max(x.items, made_);
        }
        break;
      default:
        show(v);
        break;
    }
  }
};

// The form a variable takes: its own in the mixed form.
Form formof(Form f, int v, int gen) {
  if (f != MIXED) return f;
  static const Form M[] = {FLAT, FILEB, POINTER, ALIAS, PACKED};
  return M[(v + gen) % 5];
}

std::string dims(const Var& x) {
  std::string s = "(" + std::to_string(x.d[0]);
  if (x.kind > 0) s += "," + std::to_string(x.d[1]);
  if (x.kind == 3) s += "," + std::to_string(x.d[2]);
  return s + ")";
}

std::string render(const std::vector<Op>& ops, Form form) {
  std::string s;
  if (form == PAGED) s += "himemsize = 0\nhimemflag = 2\nhimemsize = 2048\n";
  for (const Op& o : ops) {
    if (o.k == TEXT) {
      s += o.text + "\n";
      continue;
    }
    const Var& x = o.var;
    const Form f = formof(form, o.v, x.gen);
    const std::string n = nm(o.v, x.gen), t = tg(o.v, x.gen);
    const std::string what = std::string(TYPES[x.type]) + " " + KINDS[x.kind] + " ";
    switch (o.k) {
      case DECL:
        switch (f) {
          case FLAT: s += "declare " + what + n + dims(x) + "\n"; break;
          case PAGED: s += "declare high " + what + n + dims(x) + "\n"; break;
          case FILEB: s += "declare file " + what + n + dims(x) + "\n"; break;
          case POINTER:
            s += "declare " + what + t + dims(x) + "\ndeclare pointer " + n + "\n" + n + " = pointer(" + t + ")\n";
            break;
          case ALIAS: s += "declare " + what + t + dims(x) + "\ndeclare " + what + n + dims(x) + " = " + t + "\n"; break;
          default: {
            // A hole above the variable: the next command moves it up.
            // A hole that does not fit is no fault of the script: its
            // errors are quiet (pflags 0x800).
            const std::string h = hl(o.v, x.gen);
            s += "pflags = 2048\ndeclare low array " + h + "(" + std::to_string(x.hole) + ")\npflags = 0\n";
            s += "declare low " + what + n + dims(x) + "\npflags = 2048\nundeclare " + h + "\npflags = 0\n";
            break;
          }
        }
        break;
      case UNDECL:
        s += "undeclare " + n + (f == POINTER || f == ALIAS ? " " + t : std::string()) + "\n";
        break;
      case RELEASE:
        if (f == POINTER)
          s += "release " + t + "\n" + n + " = pointer(" + t + ")\n";
        else if (f != FILEB)
          s += "release " + n + "\n";
        break;
      default: break;
    }
  }
  return s;
}

// What a transcript shows of the values: the "=" lines and the errors.
std::vector<std::string> values(const std::string& out) {
  std::vector<std::string> v;
  size_t at = 0;
  while (at < out.size()) {
    size_t nl = out.find('\n', at);
    if (nl == std::string::npos) nl = out.size();
    std::string l = out.substr(at, nl - at);
    if (!l.empty() && (l[0] == '=' || l.compare(0, 5, "ERROR") == 0)) v.push_back(l);
    at = nl + 1;
  }
  return v;
}

// Runs the script of a form; its transcript.
std::string run(const std::string& keys, Form form) {
  // The packed form starts over a small low stack; the others over the
  // default one.
  static std::string stackset;
  const std::string want = form == PACKED ? std::to_string(PACKWORDS) : "";
  if (want != stackset) {
    std::free(lowstk);
    lowstk = nullptr;
    if (want.empty())
      unsetenv("CSTACK");
    else
      setenv("CSTACK", want.c_str(), 1);
    stackset = want;
  }
  fresh();
  char* buf = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  if (!f) return {};
  runout = f;
  runkeys(keys);
  runout = nullptr;
  std::fclose(f);
  std::string s(buf ? buf : "", len);
  std::free(buf);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setup();
  // File variables poll the input as they move their blocks.
  pollbudget = 50000;
  if (!ready || size > MAXINPUT) return 0;
  static const bool show = std::getenv("PELIX_FUZZ_SHOW") != nullptr;
  const std::vector<Op> ops = Gen(In{data, size}).make();
  const std::string ref = run(render(ops, FLAT), FLAT);
  const std::vector<std::string> want = values(ref);
  if (show) std::fprintf(stderr, "--- flat\n%s\n%s", render(ops, FLAT).c_str(), ref.c_str());
  // A run cut short (by the harness's budget of input polls) is compared
  // with nothing.
  auto ended = [](const std::vector<std::string>& v) { return !v.empty() && v.back() == "=end"; };
  if (!ended(want)) return 0;
  for (int form = FLAT + 1; form < NFORMS; form++) {
    const std::string keys = render(ops, static_cast<Form>(form));
    const std::string out = run(keys, static_cast<Form>(form));
    if (show) std::fprintf(stderr, "--- %s\n%s\n%s", FORMS[form], keys.c_str(), out.c_str());
    const std::vector<std::string> got = values(out);
    if (got == want || !ended(got)) continue;
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) i++;
    std::fprintf(stderr, "STORAGE FORM %s DIFFERS FROM FLAT at value %zu: %s | flat: %s\n--- flat\n%s\n%s\n--- %s\n%s\n%s\n",
                 FORMS[form], i, i < got.size() ? got[i].c_str() : "(none)",
                 i < want.size() ? want[i].c_str() : "(none)", render(ops, FLAT).c_str(), ref.c_str(),
                 FORMS[form], keys.c_str(), out.c_str());
    std::abort();
  }
  return 0;
}
