// Directory and file utilities: chdir, directory, getenv, the file box and
// the file-system queries.
#include "files/dirutil.h"
#include "ui/alert.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include "core/args.h"
#include "core/output.h"
#include "core/state.h"
#include "files/fileutil.h"
#include "files/keylog.h"
#include "lang/names.h"
#include "lang/parse.h"
#include "ui/events.h"
#include "ui/platform/script.h"
#include "ui/screen.h"

namespace {

bool issep(char c) { return c == '/' || c == '\\' || c == ':'; }

std::string slashed(std::string s) {
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

// The language's current folder with a final "/" (curdir, else sysdir,
// which then becomes curdir).
std::string curfolder() {
  std::string cd = strvar("curdir");
  if (cd.empty()) {
    cd = strvar("sysdir");
    if (!cd.empty()) setstrv("curdir", cd.c_str());
  }
  cd = slashed(cd);
  if (cd.empty() || cd.back() != '/') cd += '/';
  return cd;
}

// An absolute name: "/", a drive "x:" or a network name ("//", "\\").
bool absolute(const std::string& s) {
  if (s.empty()) return false;
  if (s[0] == '/' || s[0] == '\\') return true;
  return s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]));
}

// Each ".." not followed by a name character takes itself and the folder
// before it away.
std::string climb(std::string s) {
  for (;;) {
    size_t k = 0;
    bool done = true;
    while ((k = s.find("..", k)) != std::string::npos) {
      bool before = k == 0 || issep(s[k - 1]);
      bool after = k + 2 >= s.size() || issep(s[k + 2]);
      if (!before || !after) {
        k += 2;
        continue;
      }
      // The folder before: back to the separator before it.
      size_t end = k == 0 ? 0 : k - 1;  // the separator before ".."
      size_t start = end;
      while (start > 0 && !issep(s[start - 1])) start--;
      if (start == 0 && end == 0) {
        s.erase(0, std::min(s.size(), k + 3));
      } else {
        size_t stop = std::min(s.size(), k + 3);
        if (start == 0 && s[0] == '/') start = 1;
        s.erase(start, stop - start);
      }
      done = false;
      break;
    }
    if (done) break;
  }
  if (s.empty()) s = "/";
  return s;
}

}  // namespace

int argtext(int n, char* buf, int max) {
  float v = 0;
  int len = 0;
  buf[0] = 0;
  int kind = getarg(n, &v, buf, max, &len);
  if ((kind & 32) && !(kind & 2048)) return len;
  // A bare word (a name, or one that abbreviates a command word): its
  // text as typed.
  return argword(n, buf, max);
}

namespace {

// One line typed at the file box; false when cancelled (Esc, Ctrl-C) or
// empty.
bool boxline(char* buf, int size) { return keyline(buf, size, true) && buf[0]; }

std::string lastfolder;  // the folder of the last chosen file
std::string envtext;     // the value the last getenv found

}  // namespace

void dirreset() {
  lastfolder.clear();
  envtext.clear();
}

int chtodir(int mode) {
  std::string cd = curfolder();
  char name[257];
  int len = 0;
  bool given = nargs() >= 2;
  if (given) len = argtext(2, name, sizeof name);
  if (mode != 0 || (given && (len < 0 || std::strcmp(name, ".") == 0))) {
    jprintf(lstlun, "Current directory: %s\n", cd.c_str());
    return 0;
  }
  if (!given) {
    len = browse(name, 6, nullptr);
    if (len < 1) return 0;
  }
  if (len < 1) {
    jprintf(lstlun, "Current directory: %s\n", cd.c_str());
    return 0;
  }
  std::string want = slashed(name);
  // A current folder that was deleted has no name (curdir "./"): a relative
  // name is the host's to take from it, ".." being the folder it was in.
  const bool named = absolute(cd) || absolute(want);
  std::string full = named ? climb(absolute(want) ? want : cd + want) : want;
  std::string host = hostpath(full);
  struct stat st;
  if (host.size() >= 256 || stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      ::chdir(host.c_str()) != 0) {
    jprintf(errlun, "Directory <%s> not found\n", name);
    return 0;
  }
  if (!absolute(host)) {
    char here[PATH_MAX];
    host = getcwd(here, sizeof here) ? here : ".";
  }
  if (host.back() != '/') host += '/';
  setstrv("curdir", host.c_str());
  return 0;
}

int lstdir(const char* folder, const char* pattern) {
  std::string host = hostpath(folder && *folder ? folder : ".");
  if (host.empty()) host = curfolder();
  DIR* d = opendir(host.c_str());
  if (!d) return 0;
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    if (fnmatch(pattern, e->d_name, FNM_PERIOD) != 0) continue;
    std::string p = host + "/" + e->d_name;
    struct stat st;
    if (stat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    names.emplace_back(e->d_name);
  }
  closedir(d);
  // The host's order is arbitrary: the listing is by name.
  std::sort(names.begin(), names.end());
  if (names.empty()) return 0;
  bool term = lstlun == 1;
  if (term) jprintf(lstlun, "Directory:\t%s/%s\n", folder, pattern);
  int n = 0;
  for (const std::string& s : names) {
    chkio(0);
    if (state & 0x8180) break;
    n++;
    if (term) jprintf(lstlun, "%3d: ", n);
    jprintf(lstlun, "%s\n", s.c_str());
  }
  return n;
}

int dircmd() {
  char folder[257] = ".", pattern[257] = "*";
  if (nargs() >= 2) {
    if (argtext(2, folder, sizeof folder) < 1) {
      if (browse(folder, 2, nullptr) < 1) {
        setres(0, 0);
        return 0;
      }
    }
  }
  if (nargs() >= 3 && argtext(3, pattern, sizeof pattern) < 1) std::strcpy(pattern, "*");
  state |= ST_LISTING;
  int n = lstdir(folder, pattern);
  state &= ~ST_LISTING;
  setres(n, 0);
  return 0;
}

const char* envval() { return envtext.c_str(); }

int envcmd(int mode) {
  char word[41], name[41];
  envtext.clear();
  if (argtext(2, word, sizeof word) < 0 || strcasecmp(word, "set") != 0) {
    error(2, 56);
    return 0;
  }
  if (argtext(3, name, sizeof name) < 1) {
    error(3, 56);
    return 0;
  }
  const char* v = std::getenv(name);
  envtext = v ? v : "";
  if (mode == 0) {
    jprintf(lstlun, "%s\n", envtext.c_str());
    return 0;
  }
  return static_cast<int>(envtext.size());
}

int browse(char* out, int mode, const char* filter) {
  (void)filter;  // the box has no file-type filter
  out[0] = 0;
  std::string start = (lastfolder.empty() || (mode & 4)) ? curfolder() : lastfolder;
  chkio(0);
  const char* what = (mode & 2) ? "Folder" : (mode & 1) ? "Save file" : "Open file";
  jprintf(1, "%s:\n", what);
  char ans[256];
  bool ok = boxline(ans, sizeof ans);
  // A scripted answer (PELIX_INPUT) is the box's choice, confirmed.
  std::string picked;
  const int scripted = boxscript(&picked);
  if (scripted >= 0) {
    ok = scripted == 1;
    std::snprintf(ans, sizeof ans, "%s", picked.c_str());
  }
  if (ok) jprintf(1, "%s\n", ans);
  std::string full;
  if (ok) {
    std::string a = slashed(ans);
    full = climb(absolute(a) ? a : start + a);
    // An opened file or a folder must exist.
    int e = Exists(full.c_str());
    if ((mode & 2) ? e != 2 : (!(mode & 1) && e != 1)) ok = false;
    if (full.size() > 255) ok = false;
    if (ok && (mode & 1) && e == 1 && scripted < 0) {
      // A name to save that exists is replaced only when the user agrees.
      jprintf(1, "Replace %s? (y/n)\n", ans);
      char yes[8];
      ok = boxline(yes, sizeof yes) && (yes[0] == 'y' || yes[0] == 'Y');
    }
  }
  logevt("Brws", 0, ok ? full.c_str() : "<Cancel>", 0);
  if (!ok) return 0;
  // A folder picked in the folder box is itself the result.
  if ((mode & 2) && full.size() > 1 && full.back() == '/') full.pop_back();
  std::string res = full;
  if (mode & 2) full += '/';
  size_t k = full.rfind('/');
  std::string folder = k == std::string::npos ? "/" : full.substr(0, k + 1);
  lastfolder = folder;
  if ((mode & 0x20) && folder.size() > 1) folder.pop_back();
  if (mode & 2) res = folder;
  if (!(mode & (1 | 2 | 8))) {
    std::string cd = curfolder();
    if (res.compare(0, cd.size(), cd) == 0) res = res.substr(cd.size());
  }
  size_t n = std::min<size_t>(res.size(), 255);
  std::memcpy(out, res.data(), n);
  out[n] = 0;
  return static_cast<int>(n);
}

int filstat(const char* name, struct stat* st) {
  if (!name || !*name || std::strlen(name) > 254) return -1;
  return stat(hostpath(name).c_str(), st) == 0 ? 0 : -1;
}

double freedisk() {
  struct statvfs fs;
  if (statvfs(hostpath(curfolder()).c_str(), &fs) != 0) return -1.0;
  // 64-bit products: large disks overflow 32 bits.
  uint64_t kb = static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize) / 1024u;
  return static_cast<double>(kb);
}

int scrdep() { return scrbits > 0 ? scrbits : 32; }
