#include "ui/platform/procs.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {
uint64_t nowms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}
}  // namespace

bool grouplive(pid_t g) {
  if (kill(-g, 0) != 0 && errno == ESRCH) return false;
  DIR* d = opendir("/proc");
  if (!d) return true;
  bool live = false;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    char path[300], buf[512];
    std::snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) continue;
    buf[n] = 0;
    // pid (comm) state ppid pgrp ...: the name may hold spaces and ")".
    const char* r = std::strrchr(buf, ')');
    char state = 0;
    long ppid = 0, pgrp = 0;
    if (r && std::sscanf(r + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3 && pgrp == g && state != 'Z' &&
        state != 'X') {
      live = true;
      break;
    }
  }
  closedir(d);
  return live;
}

void endgroup(pid_t pid) {
  kill(-pid, SIGHUP);
  kill(pid, SIGHUP);
  const uint64_t until = nowms() + 1000;
  bool reaped = false;
  for (;;) {
    if (!reaped) {
      int st = 0;
      pid_t r = waitpid(pid, &st, WNOHANG);
      reaped = r == pid || (r < 0 && errno != EINTR);
    }
    if (reaped && !grouplive(pid)) return;
    if (nowms() >= until) break;
    const timespec ms{0, 1000000};
    nanosleep(&ms, nullptr);
  }
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  if (!reaped) {
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
  }
}
