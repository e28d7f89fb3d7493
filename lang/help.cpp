// Help file reader.
#include "lang/help.h"

#include "core/output.h"
#include "core/state.h"
#include "lang/keywords.h"
#include "lang/names.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

HlpTopic* hlptab = nullptr;
int32_t nhelp = 0;
char hlpfnam[260];
char hlplast[32];

namespace {
FILE* hlpfp = nullptr;
// The help file is kept on its own stream, outside the units that openf
// hands out: running out of units (error 68) must not lose the error texts.
// The help unit then reads this number, which names no file slot.
constexpr int16_t HLPUNIT = 50;
constexpr char BANNER[] = "##PELIX HELP FILE";

// Reads one line: at most max characters are kept (the rest of a longer line
// is skipped), cut at the first CR or LF. Returns the length kept, or -1 at
// the end of the file.
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
  if (hlpfp) fclose(hlpfp);
  hlpfp = nullptr;
  free(hlptab);
  hlptab = nullptr;
  nhelp = 0;
  hlplun = -1;
  return 0;
}

int rdhelp() {
  hlpcls();
  std::string path = hlppath();
  hlpfp = fopen(path.c_str(), "rb");
  if (!hlpfp) {
    jprintf(errlun, "Help file not found\n");
    return fail();
  }
  char line[132];
  if (readln(hlpfp, line, 80) < 0 || std::strncmp(line, BANNER, 15) != 0) return fail();
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
  fseek(hlpfp, 0, SEEK_END);
  long size = ftell(hlpfp);
  if (off >= size || fseek(hlpfp, off, SEEK_SET) != 0) {
    jprintf(errlun, "help table seek error (ptr= %ld)\n", off);
    return fail();
  }
  for (long i = 0; i < count; i++) {
    if (readln(hlpfp, line, 80) < 0) {
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
  if (trcmsk >= 9) {
    for (int i = 1; i < nhelp; i++) {
      fseek(hlpfp, hlptab[i].offset, SEEK_SET);
      int n = readln(hlpfp, line, 130);
      // The line is shown with its line end, one trace line per topic.
      std::strcat(line, "\n");
      jprintf(dbglun, " %d HLP %6ld (%2d) <%14.14s>:%s", i, static_cast<long>(hlptab[i].offset),
              n, hlptab[i].name, line);
    }
  }
  return 0;
}

int fndhlp(const char* name) {
  if (!hlptab || !name) return -1;
  for (int i = 0; i < nhelp; i++)
    if (hlptab[i].name[0] && std::strncmp(hlptab[i].name, name, sizeof hlptab[i].name) == 0 &&
        std::strlen(name) <= sizeof hlptab[i].name)
      return i;
  return -1;
}

int hlpkey(int key, char* name) {
  if (hlplun == -1) rdhelp();
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
  if (!hlpfp || fseek(hlpfp, tp.offset, SEEK_SET) != 0) return -1;
  char text[132];
  if (line >= 0) {
    if (line >= tp.lines) return -1;
    for (int i = 0; i < line; i++)
      if (readln(hlpfp, text, 130) < 0) return -1;
    int n = readln(hlpfp, text, 130);
    if (n < 0) return -1;
    const char* s = text;
    if (key == 50 && n >= 18) s += 18;
    jprintf(lstlun, "%s\n", s);
    return 1;
  }
  int printed = 0;
  for (int i = 0; i < tp.lines; i++) {
    if (state & 0x8180) break;
    if (readln(hlpfp, text, 130) < 0) break;
    jprintf(lstlun, "%s\n", text);
    printed++;
  }
  if (printed > 0 && lstlun != 1) jprintf(lstlun, "\f");
  return printed;
}
