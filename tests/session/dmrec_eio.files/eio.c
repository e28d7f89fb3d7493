/* Reads of a file named bad.dat fail as a disk's read error does (EIO). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static int bad(int fd) {
  char p[64], t[4096];
  snprintf(p, sizeof p, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(p, t, sizeof t - 1);
  if (n < 0) return 0;
  t[n] = 0;
  const char* b = strrchr(t, '/');
  return b && strcmp(b + 1, "bad.dat") == 0;
}

ssize_t pread64(int fd, void* buf, size_t n, off_t off) {
  static ssize_t (*real)(int, void*, size_t, off_t);
  if (!real) real = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread64");
  if (bad(fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, buf, n, off);
}

ssize_t pread(int fd, void* buf, size_t n, off_t off) { return pread64(fd, buf, n, off); }
