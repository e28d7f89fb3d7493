// Whole-file writes through a temporary file in the target's folder.
#include "files/safewrite.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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
  std::string tmpl = dir + "/.pelix-XXXXXX";
  if (tmpl.size() >= UNIT_NAMELEN) tmpl = s->dest + "XXXXXX";
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
  s->temp.clear();
  return r;
}

bool swend(SafeOut* s, bool ok) {
  const int r = swdone(s, ok);
  if (r > 0) wrterr(s->name.c_str(), 2, r);
  return r == 0;
}
