// Help file reader.
#include "lang/help.h"
#include "lang/parse.h"
#include "lang/mainloop.h"
#include "lang/macro.h"
#include "lang/maclib.h"
#include "core/symbols.h"
#include "core/varbl.h"
#include "core/units.h"
#include "core/args.h"
#include "files/http.h"

#include "core/output.h"
#include "core/state.h"
#include "lang/keywords.h"
#include "lang/names.h"
#include "ui/window.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <unistd.h>

HlpTopic* hlptab = nullptr;
int32_t nhelp = 0;
char hlpfnam[260];
char hlplast[32];

namespace {
// The help file's bytes, read whole once: error messages print lines of it
// all the time. `path` names the file they came from; they are read again
// when that file changes (another inode, size or modification time).
struct HelpText {
  std::string path;
  std::string bytes;
  std::vector<uint32_t> lines;  // the offset of each line's start
  std::vector<HlpTopic> table;  // the topic table read from it, once read
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  int64_t mtime = 0;
  bool same(const struct stat& st) const {
    return st.st_dev == dev && st.st_ino == ino && st.st_size == size &&
           static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec == mtime;
  }
};
HelpText htext;
// The help file is kept outside the units that openf hands out: running out
// of units (error 68) must not lose the error texts. The help unit then
// reads this number, which names no file slot.
constexpr int16_t HLPUNIT = 50;
constexpr char BANNER[] = "##PELIX HELP FILE";

// Reads one line of the help text from `at`: at most max characters are kept
// (the rest of a longer line is skipped), cut at the first CR or LF. Returns
// the length kept, or -1 at the end of the text.
int textln(size_t& at, char* buf, int max) {
  const std::string& t = htext.bytes;
  if (at >= t.size()) {
    buf[0] = 0;
    return -1;
  }
  const char* s = t.data() + at;
  const size_t left = t.size() - at;
  const void* nl = std::memchr(s, '\n', left);
  const size_t len = nl ? static_cast<size_t>(static_cast<const char*>(nl) - s) : left;
  at += nl ? len + 1 : len;
  size_t keep = len;
  if (const void* cr = std::memchr(s, '\r', len)) keep = static_cast<size_t>(static_cast<const char*>(cr) - s);
  keep = std::min(keep, static_cast<size_t>(max));
  std::memcpy(buf, s, keep);
  buf[keep] = 0;
  return static_cast<int>(keep);
}

// Moves `at` from the start of a line k lines on; false past the end of the
// text.
bool skiplines(size_t& at, int k) {
  const auto& v = htext.lines;
  auto it = std::lower_bound(v.begin(), v.end(), static_cast<uint32_t>(std::min<size_t>(at, UINT32_MAX)));
  if (it == v.end() || *it != at) {
    // Not a line start (a table that points into a line): line by line.
    char buf[132];
    for (int i = 0; i < k; i++)
      if (textln(at, buf, 130) < 0) return false;
    return true;
  }
  const size_t i = static_cast<size_t>(it - v.begin()) + static_cast<size_t>(k);
  if (i >= v.size()) {
    at = htext.bytes.size();
    return false;
  }
  at = v[i];
  return true;
}

// Reads one line of a file: as textln.
int readln(FILE* f, char* buf, int max) {
  int n = 0, c;
  bool any = false, cut = false;
  while ((c = fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (c == '\r') cut = true;
    if (!cut && n < max) buf[n++] = static_cast<char>(c);
  }
  buf[n] = 0;
  return any ? n : -1;
}

// Splits a table line: words separated by blanks, a word in double quotes
// kept whole, "#" ends the line, "=" a word of its own.
int splitwords(const char* s, std::string* words, int max) {
  int n = 0;
  while (*s) {
    while (*s == ' ' || *s == '\t') s++;
    if (!*s || *s == '#') break;
    std::string w;
    if (*s == '=') {
      w = "=";
      s++;
    } else if (*s == '"') {
      s++;
      while (*s && *s != '"') w += *s++;
      if (*s == '"') s++;
    } else {
      while (*s && *s != ' ' && *s != '\t' && *s != '=' && *s != '#') w += *s++;
    }
    if (n < max) words[n] = w;
    n++;
  }
  return n;
}

long number(const std::string& w) { return std::strtol(w.c_str(), nullptr, 10); }

// The help file's name.
std::string hlppath() {
  if (hlpfnam[0]) return hlpfnam;
  std::string name = strvar("helpfile");
  if (!name.empty()) return name;
  std::string dir = strvar("sysdir");
  if (dir.empty()) {
    if (const char* env = std::getenv("PELIX"); env && *env) {
      dir = env;
    } else {
      char exe[PATH_MAX];
      ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
      if (n > 0) {
        exe[n] = 0;
        dir = exe;
        size_t slash = dir.rfind('/');
        dir = slash == std::string::npos ? "." : dir.substr(0, slash);
      } else {
        dir = ".";
      }
      dir += "/system";
    }
  }
  if (dir.back() != '/' && dir.back() != '\\') dir += '/';
  return dir + "pelix.hlp";
}

// A help file that could not be read: closed, and marked as tried (0) so
// that it is not opened again.
int fail() {
  hlpcls();
  hlplun = 0;
  return -1;
}
}  // namespace

int hlpcls() {
  free(hlptab);
  hlptab = nullptr;
  nhelp = 0;
  hlplun = -1;
  return 0;
}

namespace {
// Reads the whole file into htext; false when it cannot be opened.
bool loadtext(const std::string& path) {
  htext = HelpText{};
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  struct stat st {};
  if (fstat(fileno(f), &st) == 0) {
    htext.dev = st.st_dev;
    htext.ino = st.st_ino;
    htext.size = st.st_size;
    htext.mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    htext.bytes.reserve(static_cast<size_t>(std::max<off_t>(st.st_size, 0)));
  }
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) htext.bytes.append(buf, n);
  fclose(f);
  const std::string& t = htext.bytes;
  for (size_t at = 0; at < t.size() && at <= UINT32_MAX;) {
    htext.lines.push_back(static_cast<uint32_t>(at));
    const void* nl = std::memchr(t.data() + at, '\n', t.size() - at);
    if (!nl) break;
    at = static_cast<size_t>(static_cast<const char*>(nl) - t.data()) + 1;
  }
  htext.path = path;
  return true;
}

// With a trace mask of 9 or more: the first line of each topic from index 1.
void trace() {
  if (trcmsk < 9) return;
  char line[132];
  for (int i = 1; i < nhelp; i++) {
    size_t at = hlptab[i].offset;
    int n = textln(at, line, 130);
    // The line is shown with its line end, one trace line per topic.
    std::strcat(line, "\n");
    jprintf(dbglun, " %d HLP %6ld (%2d) <%14.14s>:%s", i, static_cast<long>(hlptab[i].offset), n,
            hlptab[i].name, line);
  }
}

// The help file was replaced or written since its text was read.
bool changed() {
  struct stat st {};
  return !htext.path.empty() && stat(htext.path.c_str(), &st) == 0 && !htext.same(st);
}
}  // namespace

int rdhelp() {
  hlpcls();
  const std::string path = hlppath();
  struct stat st {};
  if (path != htext.path || stat(path.c_str(), &st) != 0 || !htext.same(st)) {
    if (!loadtext(path)) {
      jprintf(errlun, "Help file not found\n");
      return fail();
    }
  }
  char line[132];
  size_t at = 0;
  if (!htext.table.empty()) {
    // The table of this text, as read before.
    hlptab = static_cast<HlpTopic*>(calloc(htext.table.size(), sizeof(HlpTopic)));
    if (!hlptab) return fail();
    std::memcpy(hlptab, htext.table.data(), htext.table.size() * sizeof(HlpTopic));
    nhelp = static_cast<int32_t>(htext.table.size());
    hlplun = HLPUNIT;
    trace();
    return 0;
  }
  if (textln(at, line, 80) < 0 || std::strncmp(line, BANNER, 15) != 0) return fail();
  long off = 0, count = 0;
  if (const char* eq = std::strchr(line, '=')) {
    off = std::strtol(eq + 1, nullptr, 10);
    if (const char* eq2 = std::strchr(eq + 1, '=')) count = std::strtol(eq2 + 1, nullptr, 10);
  }
  if (off < 1 || count < 1 || count > 65535) {
    jprintf(errlun, "help file header syntax error\n");
    return fail();
  }
  hlptab = static_cast<HlpTopic*>(calloc(static_cast<size_t>(count), sizeof(HlpTopic)));
  if (!hlptab) {
    jprintf(errlun, "help table allocation error (%ld topics)\n", count);
    return fail();
  }
  if (off >= static_cast<long>(htext.bytes.size())) {
    jprintf(errlun, "help table seek error (ptr= %ld)\n", off);
    return fail();
  }
  at = static_cast<size_t>(off);
  for (long i = 0; i < count; i++) {
    if (textln(at, line, 80) < 0) {
      jprintf(errlun, "help table read error at line %d/%d\n", static_cast<int>(i),
              static_cast<int>(count));
      return fail();
    }
    std::string w[10];
    if (splitwords(line, w, 10) != 6) continue;
    HlpTopic& t = hlptab[i];
    t.offset = static_cast<uint32_t>(number(w[1]));
    t.number = static_cast<uint32_t>(number(w[2]));
    t.lines = static_cast<uint16_t>(number(w[3]));
    t.section = static_cast<uint16_t>(number(w[4]));
    std::memcpy(t.name, w[5].data(), std::min(w[5].size(), sizeof t.name));
  }
  nhelp = static_cast<int32_t>(count);
  hlplun = HLPUNIT;
  htext.table.assign(hlptab, hlptab + count);
  trace();
  return 0;
}

int fndhlp(const char* name) {
  if (!hlptab || !name) return -1;
  for (int i = 0; i < nhelp; i++)
    if (hlptab[i].name[0] == name[0] && name[0] && std::strncmp(hlptab[i].name, name, sizeof hlptab[i].name) == 0 &&
        std::strlen(name) <= sizeof hlptab[i].name)
      return i;
  return -1;
}

int hlpkey(int key, char* name) {
  if (hlplun == -1 || (hlplun == HLPUNIT && changed())) rdhelp();
  if (hlplun == 0 || !hlptab) return -1;
  if (key < 0) {
    long k = -static_cast<long>(key);
    return k <= nhelp ? static_cast<int>(k - 1) : -1;
  }
  char buf[32];
  if (key >= 9999) {
    if (!name) return -1;
    std::strncpy(buf, name, sizeof buf - 1);
    buf[sizeof buf - 1] = 0;
  } else if (key >= 2000) {
    std::strncpy(buf, hlplast, sizeof buf - 1);
    buf[sizeof buf - 1] = 0;
  } else {
    const char* word = nullptr;
    if (key < 1000)
      word = cmdtxt(key);
    else if (key - 1000 > SVBASE && key - 1000 <= SV_LAST)
      word = sysnam[key - 1000 - SVBASE - 1];
    if (!word) return -1;
    std::strncpy(buf, word, sizeof buf - 1);
    buf[sizeof buf - 1] = 0;
  }
  for (char* p = buf; *p; p++) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  if (name && key < 9999) std::strcpy(name, buf);
  return fndhlp(buf);
}

int prthlp(int key, int mode, int line) {
  char name[32] = "";
  if (key >= 9999) error(66, 71);
  int t = hlpkey(key, name);
  if (t < 0) {
    if (mode != 0 && key >= 1) jprintf(lstlun, "No help for: %s\n", name);
    return -1;
  }
  const HlpTopic& tp = hlptab[t];
  size_t at = tp.offset;
  char text[132];
  if (line >= 0) {
    if (line >= tp.lines) return -1;
    if (!skiplines(at, line)) return -1;
    int n = textln(at, text, 130);
    if (n < 0) return -1;
    const char* s = text;
    if (key == 50 && n >= 18) s += 18;
    jprintf(lstlun, "%s\n", s);
    return 1;
  }
  // The page length: the text window's rows on the terminal, else the
  // listing page length; less one.
  const TxtGrid* g = wgrid(wport(txtwin));
  int page = lstlun == 1 ? (g ? g->rows : GRIDROWS) : (prpage > 0 ? prpage : 66);
  page -= 1;
  char head[40] = "";
  if (mode == 31) {
    char up[17] = {0};
    std::memcpy(up, tp.name, sizeof tp.name);
    for (char* p = up; *p; p++) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    std::snprintf(head, sizeof head, "%s [%d]", up, tp.section);
    jprintf(lstlun, "\n%-18s%12s Reference Manual %24s\n\n", head, "PELIX", head);
  }
  const int restart = lstlun == 1 ? 2 : 3;
  int count = restart, pageno = 1;
  int printed = 0;
  // The error texts are listed without the numbers that have none.
  const bool errs = std::strncmp(tp.name, "errors", sizeof tp.name) == 0;
  for (int i = 0; i < tp.lines; i++) {
    if (state & 0x8180) break;
    if (textln(at, text, 130) < 0) break;
    if (errs) {
      const char* rest = std::strlen(text) > 18 ? text + 18 : "";
      if (rest[std::strspn(rest, " \t")] == 0) continue;
    }
    if (mode == 31 && count >= page) {
      jprintf(lstlun, "\f\n%-18s%16s %2d %-15s%18s\n\n", head, "-", ++pageno, "-", head);
      count = restart;
    }
    jprintf(lstlun, "%s\n", text);
    printed++;
    count++;
  }
  if (printed > 0 && lstlun != 1) jprintf(lstlun, "\f");
  return printed;
}

// ---------------------------------------------------------------------------
// The help and manual commands.

char wikihost[256] = "localhost";
char wikiroot[256] = "/wiki/data/pages";
char wikisub[256] = "/lab/pelix/";
int wikiport = 80;

int prcols(const char* const* names, int n, int per) {
  if (per < 1 || per > 5) per = 5;
  int col = 0;
  for (int i = 0; i < n && !(state & 0x8180); i++) {
    jprintf(lstlun, " %-14s", names[i]);
    if (++col == per) {
      jprintf(lstlun, "\n");
      col = 0;
    }
  }
  if (col != 0) jprintf(lstlun, "\n");
  return 0;
}

int wiki(const char* topic) {
  // The topic goes into the request percent-encoded.
  std::string enc;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(topic); *p; p++) {
    if (std::isalnum(*p) || std::strchr("-_.~/", *p)) {
      enc += static_cast<char>(*p);
    } else {
      char b[4];
      std::snprintf(b, sizeof b, "%%%02X", *p);
      enc += b;
    }
  }
  std::string path = std::string(wikiroot) + (topic[0] == '/' ? "" : wikisub) + enc + ".txt";
  char* reply = nullptr;
  std::string note;
  const int n = httpnote(path.c_str(), wikihost, wikiport, "Connection: close", &reply, &note);
  // The page dialog shows the text once dialogs exist; until then the page
  // goes to the listing unit. A page cut short shows what arrived, and the
  // error unit says so; a server that gave nothing did not answer.
  const bool text = n != HTTP_NOCONN && reply && reply[0];
  if (text) jprintf(lstlun, "%s\n", reply);
  std::free(reply);
  if (n == HTTP_NOCONN) {
    jprintf(errlun, "help: the help wiki did not answer: %s\n", note.c_str());
  } else if (!note.empty()) {
    const std::string cut = "incomplete reply: ";
    if (note.compare(0, cut.size(), cut) == 0) note.erase(0, cut.size());
    if (text)
      jprintf(errlun, "help: the page came incomplete: %s\n", note.c_str());
    else
      jprintf(errlun, "help: the help wiki did not answer: %s\n", note.c_str());
  }
  return 0;
}

namespace {
// The first word of a macro line is help (or an abbreviation of two or more
// letters) and the line ends with "{".
bool helpopen(const char* s) {
  while (*s == ' ' || *s == '\t') s++;
  int n = 0;
  while (std::isalpha(static_cast<unsigned char>(s[n]))) n++;
  if (n < 2 || n > 4 || std::strncmp(s, "help", static_cast<size_t>(n)) != 0) return false;
  int e = static_cast<int>(std::strlen(s));
  while (e > 0 && (s[e - 1] == ' ' || s[e - 1] == '\t')) e--;
  return e > 0 && s[e - 1] == '{';
}

// A macro's help block: every line, or line `only` (from 0). -1 when the
// macro cannot be opened.
int machelp(const char* name, int only) {
  int unit = 0;
  char path[260];
  if (opnmac(name, &unit, 2, path, ".imp") != 0) return -1;
  const bool lib = unit == libunit;
  uint32_t pos[3] = {0, 0, 0};
  FILE* fp = nullptr;
  if (lib) {
    libspan(&pos[1], &pos[2]);
    pos[0] = pos[1];
  } else {
    fp = unitstream(unit);
  }
  char line[LINBUF];
  auto next = [&]() -> bool {
    if (lib) return libnxt(pos, line, sizeof line) >= 0;
    return fp && readln(fp, line, LINBUF - 1) >= 0;
  };
  bool in = false;
  int n = 0;
  while (!(state & 0x8180) && next()) {
    if (!in) {
      in = helpopen(line);
      continue;
    }
    const char* s = line;
    while (*s == ' ' || *s == '\t') s++;
    if (*s == '}') break;
    if (only < 0 || n == only) jprintf(lstlun, "%s\n", line);
    n++;
  }
  if (!lib) closef(unit, 0);
  return 0;
}

// The name of a word that stands for a predefined or numbered variable of a
// kind (kind flags without the symbol-table bit): the predefined name of that
// kind and number (veclut, r1, scr1rect), else the kind's prefix followed by
// the number ("^205"), the prefix doubled for a string list, a matrix, a
// vector list and a solid. False for other words.
bool kindname(const WORD& W, char* name, size_t size) {
  const int t = W.type;
  if (t <= 0 || (t & 0x300E) || !(t & 0x7F0)) return false;
  const int kind = t & 0x7F0;
  const int32_t n = wval(W);
  for (const PreDef& p : prdnam)
    if (p.kind == kind && p.index == n) {
      std::snprintf(name, size, "%s", p.name);
      return true;
    }
  char pre[3];
  if (!kindpfx(kind, pre)) return false;
  std::snprintf(name, size, "%s%d", pre, static_cast<int>(n));
  return true;
}
}  // namespace

int help(int code) {
  setres(0, 0);
  const int mode = code == 31 ? 31 : 1;
  const int line = intarg(3, -2);
  int key = 0;
  char name[LINBUF] = "";
  if (nargs() < 2) {
    std::strcpy(name, "begin");
  } else {
    int32_t h = 0;
    int w = argidx(2, &h);
    // A variable word names itself: a holder such as vimage or simage is not
    // looked through to what it refers to (nor read, when it refers to
    // nothing).
    const WORD* V = h < 1 && w >= 0 && w < NWORDS ? &wrdtab[w] : nullptr;
    const bool var = V && V->type > 0 && (V->type & 0x1000) && !(V->type & 0x2000) && wrdsym(*V);
    if (var) symnam(wrdsym(*V), name, SYMNAM);
    const int t = var ? 0 : fndarg(2, &h, &w);
    const WORD* W = w >= 0 && w < NWORDS ? &wrdtab[w] : nullptr;
    const int16_t wt = W ? W->type : 0;
    float v = 0;
    int len = 0;
    if (var) {
      // named above
    } else if (wt == WT_QUOTED || wt == WT_TEXT) {
      getarg(2, &v, name, sizeof name, &len);
      if (name[0] == '_') return wiki(name + 1);
    } else if (wt == WT_NUMBER || t == K_CONST || (wt == WT_GROUP && (argtyp(2, &h) & 0x7F0) == K_NUMBER &&
                                                    !(h && ptrrec(h) && ptrrec(h)->Idx > 0))) {
      const int n = intarg(2, 0);
      if (n < 0) {
        setfoc(1, 64);
        state |= ST_LISTING;
        prcols(cmdwds.data(), NCMDWD, 5);
        setfoc(0, 64);
        return 0;
      }
      key = -n;
      if (n == 0) key = -(nhelp + 1);  // no topic 0
    } else if (wt == WT_CMD || wt == WT_CMDLIST) {
      if (macmod != 0 && (argnum(2) == OP_LBRACE || argnum(2) == OP_LBRACK)) {
        // The running macro's own help block is passed over.
        if ((macmod & 7) == 3) {
          brclev++;
          mgoto(1);
        }
        return 0;
      }
      key = argnum(2);
    } else if (argnum(2) >= 1000) {
      key = argnum(2);
    } else if (W && h < 1 && kindname(*W, name, sizeof name)) {
      // named above
    } else {
      PtrRec* r = argtyp(2, &h) && h ? ptrrec(h) : nullptr;
      if (r && (r->Flg & K_NAMED) && r->Idx > 0 && symptr(r->Idx)) {
        symnam(r->Idx, name, SYMNAM);
      } else if (W && W->b[0] && std::strchr("~^%@#$", static_cast<char>(W->b[0]))) {
        tokstr(w, name, sizeof name);
      } else {
        error(2, 70);
        return 0;
      }
    }
  }
  if (key >= 0) {
    char shown[32] = "";
    if (key > 0) hlpkey(key, shown);
    const char* nm = key > 0 ? shown : name;
    jprintf(lstlun, "Help (%d,%d) %s\n", key, static_cast<int>(std::strlen(nm)), nm);
    jprintf(lstlun, "Help %d %s\n", key, nm);
  }
  if (key == 0) {
    char low[32];
    std::strncpy(low, name, sizeof low - 1);
    low[sizeof low - 1] = 0;
    for (char* p = low; *p; p++) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    if (hlplun == -1) rdhelp();
    const int t = fndhlp(low);
    if (t >= 0) {
      std::snprintf(hlplast, sizeof hlplast, "%s", low);
      key = t + 2000;
    } else {
      if (machelp(name, line >= 0 ? line : -1) < 0) jprintf(errlun, "No help for: %s\n", name);
      return 0;
    }
  }
  const bool term = lstlun == 1;
  if (term) setfoc(1, 64);
  const int r = prthlp(key, mode, line >= 0 ? line : -1);
  if (term) setfoc(0, 64);
  setres(r, 0);
  return 0;
}
