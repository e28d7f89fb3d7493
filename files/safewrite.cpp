// Whole-file writes through a temporary file in the target's folder.
#include "files/safewrite.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/output.h"
#include "core/units.h"
#include "files/fileutil.h"

void fileerr(const char* name, int arg, int code, int err) {
  jprintf(errlun, "%s: %s\n", name && *name ? name : "file", std::strerror(err ? err : EIO));
  error(arg, code);
}

int wrtarg = 0;

namespace {

constexpr const char* TMPTAG = ".pelix-";

// The temporary files of writes still under way in this program.
std::set<std::string> live;

// The name of a temporary file of base in dir, without its six random
// characters: ".BASE.pelix-", BASE cut so that the whole path stays below
// a unit's name length and the entry below the longest a folder takes.
std::string tmpprefix(const std::string& dir, const std::string& base) {
  const size_t fixed = 1 + std::strlen(TMPTAG) + 6;  // ".", the tag, XXXXXX
  size_t keep = base.size();
  const size_t room = dir.size() + 1 + fixed < UNIT_NAMELEN - 1 ? UNIT_NAMELEN - 1 - (dir.size() + 1 + fixed) : 0;
  keep = std::min({keep, room, static_cast<size_t>(NAME_MAX) - fixed});
  if (keep == 0) keep = std::min(base.size(), static_cast<size_t>(NAME_MAX) - fixed);
  return "." + base.substr(0, keep) + TMPTAG;
}

// Removes the temporary files of a write of the same file that never
// ended: regular files of this user named prefix and six characters of
// mkstemp's alphabet.
void dropleft(const std::string& dir, const std::string& pfx) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  const uid_t me = geteuid();
  while (const dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n.size() != pfx.size() + 6 || n.compare(0, pfx.size(), pfx) != 0) continue;
    bool ours = true;
    for (size_t i = pfx.size(); i < n.size(); i++)
      ours = ours && std::isalnum(static_cast<unsigned char>(n[i]));
    struct stat st;
    const std::string path = dir + "/" + n;
    if (ours && !live.count(path) && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == me)
      unlink(path.c_str());
  }
  closedir(d);
}

}  // namespace

void wrterr(const char* name, int arg, int err) { fileerr(name, arg ? arg : wrtarg, 69, err); }

int swtemp(const char* name, SafeOut* s, std::string* open, bool ask) {
  s->name = name ? name : "";
  s->dest = hostpath(s->name);
  s->temp.clear();
  *open = s->dest;
  if (s->dest.empty()) return ENOENT;
  struct stat st;
  bool there = stat(s->dest.c_str(), &st) == 0;
  if (there && !S_ISREG(st.st_mode)) return 0;  // a device: in place
  // A file the user may not write is not replaced either.
  if (there && access(s->dest.c_str(), W_OK) != 0) return errno ? errno : EACCES;
  if (ask && ovwask(s->dest.c_str()) < 0) return -1;
  // A link is followed: the file it names is the one replaced.
  if (there) {
    char real[PATH_MAX];
    if (realpath(s->dest.c_str(), real)) s->dest = real;
  }
  size_t cut = s->dest.rfind('/');
  std::string dir = cut == std::string::npos ? "." : s->dest.substr(0, cut);
  std::string base = cut == std::string::npos ? s->dest : s->dest.substr(cut + 1);
  // The temporary file is named after its file, ".NAME.pelix-XXXXXX"; the
  // name is cut to keep the path within a unit's name (and a folder
  // entry's length).
  const std::string pfx = tmpprefix(dir, base);
  std::string tmpl = dir + "/" + pfx + "XXXXXX";
  // What a write of this file left behind (the program killed before the
  // rename) goes now.
  dropleft(dir, pfx);
  std::string buf = tmpl;
  int fd = mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) return errno ? errno : EIO;
  // The new file gets the old one's permissions, or those a new file gets.
  mode_t perm;
  if (there) {
    perm = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    perm = 0666 & ~mask;
  }
  fchmod(fd, perm);
  close(fd);
  s->temp = buf;
  live.insert(buf);
  *open = buf;
  return 0;
}

bool swbegin(const char* name, int arg, SafeOut* s, std::string* open) {
  const int e = swtemp(name, s, open, true);
  if (e > 0 && !s->dest.empty()) fileerr(s->name.c_str(), arg, 66, e);
  return e == 0;
}

int swdone(SafeOut* s, bool ok) {
  if (s->temp.empty()) return ok ? 0 : -1;
  int r = ok ? 0 : -1;
  if (ok && std::rename(s->temp.c_str(), s->dest.c_str()) != 0) r = errno ? errno : EIO;
  if (r != 0) unlink(s->temp.c_str());
  live.erase(s->temp);
  s->temp.clear();
  return r;
}

bool swend(SafeOut* s, bool ok) {
  const int r = swdone(s, ok);
  if (r > 0) wrterr(s->name.c_str(), 2, r);
  return r == 0;
}
