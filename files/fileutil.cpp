// File services: host paths, existence, size and deletion.
#include "files/fileutil.h"

#include "core/units.h"
#include "lang/names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

const char* curdir_text() {
  static std::string dir;
  // The language's own current folder: curdir, else sysdir (copied at once:
  // strvar's buffer is shared).
  std::string cd = strvar("curdir");
  if (cd.empty()) cd = strvar("sysdir");
  for (char& c : cd)
    if (c == '\\') c = '/';
  if (cd.empty() || cd[0] != '/') {
    // Without either (no system table yet), or for a relative text, the
    // process's folder is the base.
    // A process folder that was deleted has no name: names stay relative
    // to it, and the host refuses them with their cause.
    char buf[PATH_MAX];
    std::string cwd = getcwd(buf, sizeof buf) ? buf : "";
    if (!cwd.empty() && cwd.back() != '/') cwd += '/';
    cd = cwd + cd;
  }
  if (!cd.empty() && cd.back() != '/') cd += '/';
  dir = cd;
  return dir.c_str();
}

std::string hostpath(std::string_view name) {
  if (name.empty()) return {};
  std::string in(name);
  for (char& c : in)
    if (c == '\\') c = '/';
  // A drive letter names the folder of the environment variable
  // PELIX_DRIVE_<letter> when there is one.
  if (in.size() >= 2 && in[1] == ':' && std::isalpha(static_cast<unsigned char>(in[0])) &&
      (in.size() == 2 || in[2] == '/')) {
    char var[] = "PELIX_DRIVE_X";
    var[12] = static_cast<char>(std::toupper(static_cast<unsigned char>(in[0])));
    if (const char* d = std::getenv(var); d && *d) in = std::string(d) + "/" + in.substr(2);
  }
  if (in[0] != '/') in = curdir_text() + in;
  // Drop repeated separators and "." components so that one file has one
  // name (the unit table matches open files by name). A name that is still
  // relative (no folder to take it from) stays relative.
  std::string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    if (in[i] == '/') {
      if (out.empty() ? i == 0 : out.back() != '/') out += '/';
      ++i;
      continue;
    }
    size_t j = in.find('/', i);
    if (j == std::string::npos) j = in.size();
    std::string_view part(in.data() + i, j - i);
    if (part != ".") out.append(part);
    i = j;
  }
  if (out.empty()) out = ".";
  return out;
}

int Exists(const char* name) {
  if (!name || !*name) return 0;
  // A name too long for the path buffer is missing, never cut to some
  // other file's name.
  std::string host = hostpath(name);
  if (host.size() > 254) return 0;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return 0;
  return S_ISDIR(st.st_mode) ? 2 : 1;
}

int wrtchk(const char*, char*, int exists) { return exists; }

int delfil(const char* name) {
  if (!name || !*name) return -1;
  return unlink(hostpath(name).c_str()) == 0 ? 0 : -1;
}

int64_t fsize(const char* name, int unit) {
  if (unit < 1) {
    if (!name || !*name) return -1;
    int fd = open(hostpath(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    int64_t size = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
    close(fd);
    return size;
  }
  FILE* fp = unitstream(unit);
  if (!fp) return -1;
  off_t here = ftello(fp);
  if (here < 0) return -1;
  if (fseeko(fp, 0, SEEK_END) != 0) return -1;
  off_t end = ftello(fp);
  if (fseeko(fp, here, SEEK_SET) != 0) return -1;
  return end;
}
