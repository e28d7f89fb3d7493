// The temporary files of whole-file writes: names, locks, leftovers and the
// rename that completes a write.
#include "core/tmpfile.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/units.h"

namespace {

constexpr const char* TMPTAG = ".pelix-";
constexpr size_t UNIQUE = 6;  // mkstemp's characters
constexpr size_t HASHLEN = 12;
// A name cut to fit holds at least this many characters of its hash.
constexpr size_t MINHASH = 4;

// The temporary files of writes under way, in fixed cells so that the end
// of the program may remove them from a signal handler or another thread.
// A cell with a back path holds an old file kept aside: it goes back there.
constexpr int NLIVE = 32;
struct Live {
  std::atomic<int> used;
  char path[PATH_MAX];
  char back[PATH_MAX];
};
Live live[NLIVE];

void note(const std::string& path, const std::string& back = "") {
  if (path.size() >= PATH_MAX || back.size() >= PATH_MAX) return;
  for (Live& l : live)
    if (!l.used) {
      std::memcpy(l.path, path.c_str(), path.size() + 1);
      std::memcpy(l.back, back.c_str(), back.size() + 1);
      l.used = 1;
      return;
    }
}

void forget(const std::string& path) {
  for (Live& l : live)
    if (l.used && path == l.path) {
      l.used = 0;
      return;
    }
}

// The folder part of a path ("." for a bare name).
std::string folder(const std::string& p) {
  const size_t cut = p.rfind('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : p.substr(0, cut);
}

// 64-bit FNV-1a of a name, as lower-case hexadecimal digits.
std::string namehash(const std::string& s) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

// Removes the temporary files of earlier writes of the same file that
// never ended: regular files of this user named prefix and six characters
// of mkstemp's alphabet that no write holds locked.
void dropleft(const std::string& dir, const std::string& pfx) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  const uid_t me = geteuid();
  while (const dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n.size() != pfx.size() + UNIQUE || n.compare(0, pfx.size(), pfx) != 0) continue;
    if (!std::all_of(n.begin() + static_cast<long>(pfx.size()), n.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
      continue;
    const std::string path = (dir == "/" ? "" : dir) + "/" + n;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st, now;
    // A write under way holds its file locked; a file that cannot be
    // locked is left alone.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == me && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        lstat(path.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
      unlink(path.c_str());
    close(fd);
  }
  closedir(d);
}

// The descriptor of this process that a /proc link names, or -1 (realdir:
// the link's folder, resolved).
int ownfd(const std::string& link, const std::string& realdir) {
  const std::string me = "/proc/" + std::to_string(getpid());
  const bool mine = realdir == me + "/fd" || (realdir.compare(0, me.size() + 6, me + "/task/") == 0 &&
                                              realdir.size() > 3 && realdir.compare(realdir.size() - 3, 3, "/fd") == 0);
  const std::string num = link.substr(link.rfind('/') + 1);
  if (!mine || num.empty() || num.size() > 9 ||
      !std::all_of(num.begin(), num.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  return std::atoi(num.c_str());
}

// Follows the links of *p to a name that is no link (its lstat in *ls) or
// to a link the system keeps in /proc for an open file (*proc gets that
// link's folder, resolved). 0, or the errno of the failure (ENOENT: the
// name, or the one a dangling link names, is not there).
int follow(std::string* p, std::string* proc, struct stat* ls) {
  for (int hop = 0;; hop++) {
    if (lstat(p->c_str(), ls) != 0) return errno;
    if (!S_ISLNK(ls->st_mode)) return 0;
    if (hop >= 40) return ELOOP;
    const std::string dir = folder(*p);
    char real[PATH_MAX];
    if (realpath(dir.c_str(), real) && std::strncmp(real, "/proc/", 6) == 0) {
      *proc = real;
      return 0;
    }
    char buf[PATH_MAX];
    const ssize_t n = readlink(p->c_str(), buf, sizeof buf - 1);
    if (n < 0) return errno;
    const std::string to(buf, static_cast<size_t>(n));
    *p = to[0] == '/' ? to : (dir == "/" ? "" : dir) + "/" + to;
  }
}

}  // namespace

namespace {
// Keeps the old file of an aimed write aside while the new one is written
// in place: it takes a temporary name of the longer form (a path no unit
// opens, held locked), and an empty file with its permissions takes its
// place. 0, or the errno of the failure (the old file then stays).
int keepold(TmpWrite* t, const std::string& dir, const std::string& at, size_t dirlen, const std::string& base) {
  const std::string pfx = tmpprefix(dirlen, base, PATH_MAX - 1);
  if (pfx.empty()) return ENAMETOOLONG;
  dropleft(dir, pfx);
  const int old = open(t->dest.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (old < 0) return errno;
  // Another program's write of the file holds it: not now.
  if (flock(old, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    close(old);
    return e;
  }
  std::string buf = at + pfx + "XXXXXX";
  const int fd = mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0 || std::rename(t->dest.c_str(), buf.c_str()) != 0) {
    const int e = errno ? errno : EIO;
    if (fd >= 0) {
      close(fd);
      unlink(buf.c_str());
    }
    close(old);
    return e;
  }
  close(fd);
  const int nfd = open(t->dest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, t->perm);
  if (nfd < 0) {
    const int e = errno;
    std::rename(buf.c_str(), t->dest.c_str());
    close(old);
    return e;
  }
  fchmod(nfd, t->perm);
  // The new file is held too: another program's write of the name waits
  // for this one instead of taking it aside in turn.
  flock(nfd, LOCK_EX | LOCK_NB);
  t->keep = buf;
  t->lock = old;
  t->held = nfd;
  note(buf, t->dest);
  return 0;
}
}  // namespace

std::string tmpprefix(size_t dirlen, const std::string& base, size_t limit) {
  const size_t used = dirlen + 1;  // the folder and its separator
  const size_t room = std::min<size_t>(limit > used ? limit - used : 0, NAME_MAX);
  const size_t tag = std::strlen(TMPTAG);
  // ".NAME.pelix-" when it fits.
  if (1 + base.size() + tag + UNIQUE <= room) return "." + base + TMPTAG;
  const std::string h = namehash(base);
  // ".NAM~HASH.pelix-": the name cut, never its hash.
  if (1 + 1 + HASHLEN + tag + UNIQUE <= room) {
    const size_t keep = std::min(base.size(), room - (1 + 1 + HASHLEN + tag + UNIQUE));
    return "." + base.substr(0, keep) + "~" + h.substr(0, HASHLEN) + TMPTAG;
  }
  // ".HASH~" in a folder whose path leaves little room.
  if (1 + MINHASH + 1 + UNIQUE <= room) return "." + h.substr(0, std::min(HASHLEN, room - (2 + UNIQUE))) + "~";
  return "";
}

int tmpaim(const std::string& host, TmpWrite* t) {
  if (t->lock >= 0) close(t->lock);
  if (t->held >= 0) close(t->held);
  *t = TmpWrite{};
  t->dest = host;
  if (host.empty()) return ENOENT;
  const mode_t mask = umask(0);
  umask(mask);
  t->perm = 0666 & ~mask;
  std::string p = host, proc;
  struct stat ls;
  const int e = follow(&p, &proc, &ls);
  // A new name, or the one a dangling link names: it is made.
  if (e == ENOENT) {
    t->dest = p;
    return 0;
  }
  if (e != 0) return e;
  if (!proc.empty()) {
    // A link the system keeps for an open file (what /dev/stdout names):
    // that open file itself, written straight; this program's own
    // descriptor is written where it stands.
    struct stat st;
    if (stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return EISDIR;
    t->straight = true;
    t->own = ownfd(p, proc);
    t->dest = p;
    std::fflush(stdout);
    return 0;
  }
  if (S_ISDIR(ls.st_mode)) return EISDIR;
  if (!S_ISREG(ls.st_mode)) {
    // A device, fifo or socket: written straight, nothing beside it.
    t->straight = true;
    t->dest = p;
    std::fflush(stdout);
    return 0;
  }
  t->there = true;
  t->perm = ls.st_mode & 07777;
  char real[PATH_MAX];
  t->dest = realpath(p.c_str(), real) ? std::string(real) : p;
  return 0;
}

int tmpmake(TmpWrite* t) {
  if (t->straight) return 0;
  const size_t cut = t->dest.rfind('/');
  const std::string dir = folder(t->dest);
  const std::string base = cut == std::string::npos ? t->dest : t->dest.substr(cut + 1);
  // The temporary path stays within the longest a unit takes wherever the
  // folder leaves room for it, also for a file whose own path is longer
  // (the unit writes the temporary file; the rename gives the long name).
  const size_t dirlen = cut == std::string::npos ? 0 : dir.size();
  std::string pfx = tmpprefix(dirlen, base, UNIT_NAMELEN - 1);
  if (pfx.empty() && t->dest.size() >= UNIT_NAMELEN) pfx = tmpprefix(dirlen, base, PATH_MAX - 1);
  const std::string at = cut == std::string::npos ? "" : (dir == "/" ? "" : dir) + "/";
  // No room for a temporary name that a unit takes: the file is written in
  // place, an old one kept aside meanwhile.
  if (pfx.empty() && t->there) return keepold(t, cut == std::string::npos ? "." : dir, at, dirlen, base);
  if (pfx.empty()) {
    // A new file: the end by time-out or signal drops it as a temporary one.
    t->made = true;
    note(t->dest);
    return 0;
  }
  // What a write of this file left behind (the program killed before the
  // rename) goes now.
  dropleft(cut == std::string::npos ? "." : dir, pfx);
  for (int tries = 0; tries < 8; tries++) {
    std::string buf = at + pfx + "XXXXXX";
    const int fd = mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) return errno ? errno : EIO;
    // Locked at once; a clean-up of another program that took the file in
    // the moment before has removed it, and another name is tried.
    struct stat st, now;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR);
    if (!held || fstat(fd, &st) != 0 || lstat(buf.c_str(), &now) != 0 || now.st_ino != st.st_ino ||
        now.st_dev != st.st_dev) {
      close(fd);
      continue;
    }
    fchmod(fd, t->perm);
    t->temp = buf;
    t->lock = fd;
    note(buf);
    return 0;
  }
  return EEXIST;
}

int tmpend(TmpWrite* t, bool ok) {
  int r = ok ? 0 : -1;
  if (t->made) forget(t->dest);
  t->made = false;
  if (!t->keep.empty()) {
    // The old file kept aside goes when the new one is complete, else it
    // takes its name again.
    if (ok) unlink(t->keep.c_str());
    else std::rename(t->keep.c_str(), t->dest.c_str());
    forget(t->keep);
    t->keep.clear();
  }
  if (!t->temp.empty()) {
    if (ok && std::rename(t->temp.c_str(), t->dest.c_str()) != 0) r = errno ? errno : EIO;
    if (r != 0) unlink(t->temp.c_str());
    forget(t->temp);
    t->temp.clear();
  }
  if (t->lock >= 0) close(t->lock);
  if (t->held >= 0) close(t->held);
  t->lock = t->held = -1;
  return r;
}

int tmpfd(const TmpWrite& t) {
  if (!t.temp.empty()) return open(t.temp.c_str(), O_WRONLY | O_CLOEXEC);
  if (t.own >= 0) return fcntl(t.own, F_DUPFD_CLOEXEC, 0);
  return open(t.dest.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (t.straight ? 0 : O_TRUNC), 0666);
}

int tmpown(const std::string& host) {
  std::string p = host, proc;
  struct stat ls;
  return follow(&p, &proc, &ls) == 0 && !proc.empty() ? ownfd(p, proc) : -1;
}

void tmpdrop() {
  for (Live& l : live)
    if (l.used) {
      if (l.back[0]) rename(l.path, l.back);
      else unlink(l.path);
      l.used = 0;
    }
}
