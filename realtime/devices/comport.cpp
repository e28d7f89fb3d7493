// Serial port slots on termios, with pseudo-terminal peers for "exec:"
// devices.
#include "realtime/devices/comport.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "core/output.h"
#include "core/state.h"
#include "realtime/devices/pport.h"
#include "ui/clocks.h"
#include "ui/events.h"
#include "ui/platform/entry.h"
#include "ui/platform/procs.h"

int setbaud2(int fd, uint32_t baud);
uint32_t getbaud2(int fd);

const uint32_t baudtab[16] = {110,   300,   600,   1200,   2400,   4800,   9600,   14400,
                              19200, 38400, 56000, 57600,  115200, 128000, 256000, 256000};

namespace {

struct Slot {
  int fd = -1;
  int32_t mode = 0;  // the mode last given (0: free)
  pid_t peer = 0;    // the exec: peer, leader of its process group
  uint64_t errs = 0; // line error count at the last comerr
};
Slot slots[NCOMSLOT];
uint32_t lastread;  // tickms(1) of the previous comread (its trace)

speed_t stdspeed(uint32_t baud) {
  switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

int applymode(int fd, int mode) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return -1;
  const uint32_t baud = comtios(mode, &t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return -1;
  if (stdspeed(baud) == B0 && setbaud(fd, baud) != 0) return -1;
  // DTR follows its mode bit; a pseudo-terminal has no modem lines.
  int dtr = TIOCM_DTR;
  ioctl(fd, (mode & 0x1000) ? TIOCMBIS : TIOCMBIC, &dtr);
  return 0;
}

void sleepus(long us) {
  timespec ts{us / 1000000, (us % 1000000) * 1000};
  nanosleep(&ts, nullptr);
}

void closeslot(Slot& s) {
  if (s.fd >= 0) close(s.fd);
  s.fd = -1;
  if (s.peer > 0) endgroup(s.peer);
  s.peer = 0;
  s.errs = 0;
}

// A fresh pseudo-terminal pair: the slave, set to mode, is the port; the
// command runs on the master. The slave's descriptor, or -1.
int openpeer(const std::string& cmd, int mode, Slot& s) {
  int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m < 0) return -1;
  char name[128];
  if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
    close(m);
    return -1;
  }
  int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // Raw before the peer starts, so that nothing it sends first is changed.
  if (fd < 0 || applymode(fd, mode) != 0) {
    const int e = errno;
    if (fd >= 0) close(fd);
    close(m);
    errno = e;
    return -1;
  }
  const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGPIPE, SIGTERM, SIGCHLD}) sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dup2(m, 0) < 0 || dup2(m, 1) < 0) _exit(127);
    close_range(3, ~0U, 0);
    execv(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  const int e = errno;
  close(m);
  if (pid < 0) {
    close(fd);
    errno = e;
    return -1;
  }
  setpgid(pid, pid);
  s.peer = pid;
  return fd;
}

// Opens slot's device with mode; the descriptor, or -1 with errno set.
int openport(int slot, int mode, Slot& s) {
  const std::string var = "PELIX_COM" + std::to_string(slot + 1);
  const char* v = std::getenv(var.c_str());
  std::string path = v && *v ? v : "/dev/ttyS" + std::to_string(slot);
  if (path.compare(0, 5, "exec:") == 0) return openpeer(path.substr(5), mode, s);
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  ioctl(fd, TIOCEXCL);  // no sharing
  if (applymode(fd, mode) != 0) {
    const int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

bool valid(int slot) { return slot >= 0 && slot < NCOMSLOT && slots[slot].fd >= 0; }

// Waits up to ms for the descriptor to become ready for events; the poll's
// revents (0 on a time-out).
int waitfd(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  int r = poll(&p, 1, std::max(ms, 0));
  return r > 0 ? p.revents : 0;
}

int readerr(int code, int flags) {
  if (flags & 4) return -1;
  jprintf(errlun, "Comread error: %d\n", code);
  error(2, 192);
  return 0;
}

int writerr(int code) {
  jprintf(errlun, "Comwrite error: %d\n", code);
  error(2, 192);
  return 0;
}

// Parallel-port registers through the serial calls: one byte a call.
int ppread(int code, char* buf, int count, int flags) {
  if (flags & 2) return 1;
  for (int i = 0; i < count; i++) {
    const int v = pportin(code);
    if (v < 0) return readerr(v, flags);
    buf[i] = static_cast<char>(v);
  }
  return std::max(count, 0);
}

int ppwrite(int code, const char* buf, int count) {
  for (int i = 0; i < count; i++) {
    const int r = pportout(static_cast<uint8_t>(buf[i]), code);
    if (r < 0) return writerr(r);
  }
  return std::max(count, 0);
}

}  // namespace

uint64_t devms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t comtios(int mode, termios* t) {
  cfmakeraw(t);
  t->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP);
  t->c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | HUPCL);
  t->c_cflag |= CREAD | CLOCAL;
  static const tcflag_t sizes[4] = {CS5, CS6, CS7, CS8};
  t->c_cflag |= sizes[mode & 3];
  if (mode & 4) t->c_cflag |= CSTOPB;
  switch (mode & 24) {
    case 8: t->c_cflag |= PARENB | PARODD; break;            // odd
    case 16: t->c_cflag |= PARENB | PARODD | CMSPAR; break;  // mark
    case 24: t->c_cflag |= PARENB; break;                    // even
    default: break;
  }
  if (mode & 24) t->c_iflag |= INPCK;
  if (mode & 0x200) t->c_iflag |= IXON;
  if (mode & 0x400) t->c_iflag |= IXOFF;
  if (mode & 0x800) t->c_cflag |= CRTSCTS;
  t->c_cc[VSTART] = 0x11;
  t->c_cc[VSTOP] = 0x13;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
  const uint32_t baud = baudtab[(mode >> 5) & 15];
  const speed_t sp = stdspeed(baud);
  cfsetispeed(t, sp == B0 ? B38400 : sp);
  cfsetospeed(t, sp == B0 ? B38400 : sp);
  return baud;
}

uint32_t combaud(int fd) { return getbaud2(fd); }

int setbaud(int fd, uint32_t baud) {
  const speed_t sp = stdspeed(baud);
  if (sp == B0) return setbaud2(fd, baud);
  termios t;
  if (tcgetattr(fd, &t) != 0) return -1;
  cfsetispeed(&t, sp);
  cfsetospeed(&t, sp);
  return tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : -1;
}

int comini(int slot, int mode) {
  if (slot < 0 || slot >= NCOMSLOT) return -1;
  Slot& s = slots[slot];
  if (mode <= 0) {
    closeslot(s);
    s.mode = 0;
    return 0;
  }
  bool bad = false;
  if (s.fd < 0) {
    s.fd = openport(slot, mode, s);
    bad = s.fd < 0;
    if (!bad) comerr(slot);  // the line's error count so far
  } else {
    bad = applymode(s.fd, mode) != 0;
  }
  if (bad) {
    // A port that cannot be opened, or whose settings cannot be applied,
    // is left closed.
    logprintf("comini(%d,%d): %s\n", slot, mode, std::strerror(errno));
    closeslot(s);
    s.mode = 0;
    error(0, 191);
    return -1;
  }
  s.mode = mode;
  return 0;
}

int commode(int slot) { return slot >= 0 && slot < NCOMSLOT ? slots[slot].mode : 0; }

bool comopen(int slot) { return valid(slot); }

int comread(int port, char* buf, int count, int flags) {
  if (port >= 100) return ppread(port, buf, count, flags);
  const uint32_t now = tickms(1);
  const int dt = static_cast<int>(now - lastread);
  lastread = now;
  if (count < 0) count = 0;
  if (!valid(port)) return readerr(1, flags);
  const int fd = slots[port].fd;
  if (flags & 8) tcflush(fd, TCIFLUSH);
  uint64_t deadline = 0;  // set when the first wait begins
  uint64_t nextpoll = 0;
  int got = 0;
  while (!stopped()) {
    trcint(4, "comread", port, count, flags, dt, got, 0);
    int waiting = count - got;
    // A plain read takes what is there at once; counting first is needed
    // only to answer flag 2 or to keep the newest bytes.
    if ((flags & 50) && ioctl(fd, FIONREAD, &waiting) != 0) return readerr(errno, flags);
    if (flags & 2) return waiting;
    if (waiting > count - got && (flags & 48)) {
      // Only the newest bytes are wanted: the older ones are read away
      // until no more wait than were wanted.
      const int want = count - got;
      char tmp[512];
      while (waiting > want) {
        const int n = std::min<int>(static_cast<int>(sizeof tmp), waiting - want);
        const ssize_t r = read(fd, tmp, static_cast<size_t>(n));
        if (r <= 0) break;
        waiting -= static_cast<int>(r);
        if (flags & 32) {
          const char* nz = std::find_if(tmp, tmp + r, [](char c) { return c != 0; });
          if (nz != tmp + r && got < count) buf[got++] = *nz;
        }
      }
    }
    const int n = std::min(waiting, count - got);
    ssize_t r = 0;
    if (n > 0) {
      r = read(fd, buf + got, static_cast<size_t>(n));
      if (r < 0 && errno != EAGAIN && errno != EINTR) return readerr(errno, flags);
      if (r > 0) got += static_cast<int>(r);
    }
    // A read that took nothing asks the port's status, as counting does: a
    // port whose peer hung up reads as empty, but its status fails.
    int queued = 0;
    if (r <= 0 && !(flags & 50) && ioctl(fd, FIONREAD, &queued) != 0) return readerr(errno, flags);
    trcint(4, "comRF", port, waiting, n, got, count, 0);
    if (got >= count || !(flags & 1)) break;
    const uint64_t t = devms();
    if (!deadline) deadline = t + 2000 + 50 * static_cast<uint64_t>(count);
    if (t >= deadline) return readerr(-4, flags);
    // Input is polled every few milliseconds of waiting, not on every byte.
    if (t >= nextpoll) {
      chkio(0);
      if (stopped()) break;
      nextpoll = t + 5;
    }
    const int ev = waitfd(fd, POLLIN, static_cast<int>(std::min<uint64_t>(5, deadline - t)));
    if (ev & (POLLHUP | POLLERR)) {
      // The peer hung up: nothing more can come.
      int left = 0;
      if (ioctl(fd, FIONREAD, &left) != 0 || left == 0) return readerr(EIO, flags);
    }
  }
  return got;
}

int cwrite(int port, const char* buf, int count) {
  if (port >= 100) return ppwrite(port, buf, count);
  if (count < 0) count = 0;
  if (trcmsk & 16) {
    jprintf(dbglun, "comwrit(%d,%d,%d):", 0, port, count);
    for (int i = 0; i < count; i++) jprintf(dbglun, "%3d ", static_cast<uint8_t>(buf[i]));
    jprintf(dbglun, "\n");
  }
  if (!valid(port)) return writerr(1);
  const int fd = slots[port].fd;
  uint64_t deadline = 0;  // set when the first wait begins
  int done = 0, code = 0;
  while (done < count) {
    const ssize_t r = write(fd, buf + done, static_cast<size_t>(count - done));
    if (r > 0) {
      done += static_cast<int>(r);
      continue;
    }
    if (r < 0 && errno != EAGAIN && errno != EINTR) {
      code = errno;
      break;
    }
    const uint64_t t = devms();
    if (!deadline) deadline = t + 2000 + 50 * static_cast<uint64_t>(count);
    if (t >= deadline || stopped()) {
      code = -4;
      break;
    }
    chkio(0);
    waitfd(fd, POLLOUT, static_cast<int>(std::min<uint64_t>(10, deadline - t)));
  }
  // Drained: the bytes have left the output queue.
  while (code == 0) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
    if (!deadline) deadline = devms() + 2000 + 50 * static_cast<uint64_t>(count);
    if (devms() >= deadline || stopped()) {
      code = -4;
      break;
    }
    chkio(0);
    sleepus(500);
  }
  trcint(16, "cwrite", port, count, done, code, 0, 0);
  if (code == -4) tcflush(fd, TCOFLUSH);
  if (code) return writerr(code);
  return count;
}

bool comwait(int slot, int ms) {
  if (!valid(slot)) return false;
  const int ev = waitfd(slots[slot].fd, POLLIN, ms);
  if (ev & POLLIN) return true;
  if (ev) sleepus(1000L * std::max(ms, 0));  // hung up: poll would not wait
  return false;
}

int compurge(int slot, int which) {
  if (!valid(slot)) return -1;
  const int q = which == 1 ? TCIFLUSH : which == 2 ? TCOFLUSH : TCIOFLUSH;
  return tcflush(slots[slot].fd, q) == 0 ? 0 : -1;
}

int comerr(int slot) {
  if (!valid(slot)) return 0;
  serial_icounter_struct c{};
  if (ioctl(slots[slot].fd, TIOCGICOUNT, &c) != 0) return 0;
  const uint64_t n = static_cast<uint64_t>(c.frame) + static_cast<uint64_t>(c.parity) +
                     static_cast<uint64_t>(c.overrun) + static_cast<uint64_t>(c.buf_overrun);
  const bool more = n != slots[slot].errs;
  slots[slot].errs = n;
  return more ? 1 : 0;
}

void comend() {
  for (int i = 0; i < NCOMSLOT; i++) comini(i, 0);
}

void comkill() {
  pid_t peers[NCOMSLOT];
  int n = 0;
  for (Slot& s : slots) {
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
    if (s.peer > 0) {
      kill(-s.peer, SIGHUP);
      kill(s.peer, SIGHUP);
      peers[n++] = s.peer;
    }
    s.peer = 0;
    s.mode = 0;
  }
  // The groups end as at a close, but without the process list (which
  // takes memory): a group whose ended members are not reaped yet counts
  // as running, and is killed after the second, to no harm.
  const uint64_t until = devms() + 1000;
  bool reaped[NCOMSLOT] = {}, gone[NCOMSLOT] = {};
  for (;;) {
    bool live = false;
    for (int i = 0; i < n; i++) {
      if (!reaped[i]) {
        int st = 0;
        const pid_t r = waitpid(peers[i], &st, WNOHANG);
        reaped[i] = r == peers[i] || (r < 0 && errno != EINTR);
      }
      gone[i] = reaped[i] && kill(-peers[i], 0) != 0 && errno == ESRCH;
      live = live || !gone[i];
    }
    if (!live || devms() >= until) break;
    sleepus(1000);
  }
  for (int i = 0; i < n; i++)
    if (!gone[i]) {
      kill(-peers[i], SIGKILL);
      if (!reaped[i]) kill(peers[i], SIGKILL);
    }
}

namespace {
// The time-out exit closes the ports as the shutdown does.
struct TmoInit {
  TmoInit() { tmoclose(comkill); }
} tmoinit;
}  // namespace

int seropen(int slot) { return valid(slot) ? 0 : -1; }

void sercls(int slot) { comini(slot, 0); }

int comfd(int slot) { return valid(slot) ? slots[slot].fd : -1; }

int comattach(int slot, int fd, int mode) {
  if (slot < 0 || slot >= NCOMSLOT) return -1;
  closeslot(slots[slot]);
  slots[slot].fd = fd;
  slots[slot].mode = mode;
  return 0;
}
