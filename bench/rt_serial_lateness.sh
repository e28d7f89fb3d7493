#!/usr/bin/env bash
# Real-time lateness measured from outside the program: a script of N ops
# 1 ms apart (N=10000), each writing one byte with r_pwrite to serial port
# 1, whose exec: peer stamps every arrival on CLOCK_MONOTONIC; run at
# priority 0 and at priority 1. The reference is a plain C++ loop that
# keeps the same schedule the way the program's run loop does, at the same
# priority, writing each byte to the same kind of peer on a
# pseudo-terminal and draining it as the program's serial writes do:
#   priority 0: it spins on the clock until the byte is due;
#   priority 1: SCHED_FIFO (as the program takes), it sleeps until 500 us
#   before a byte due more than 600 us ahead, then spins.
# A third reference sleeps to each due time with clock_nanosleep at
# priority 1, the usual way to keep a schedule.
# Lateness of byte k = its arrival - (anchor + k ms): the 1-ms grid of the
# schedule is placed once per run, at the phase where its earliest byte is
# on time (lateness 0), so that no single byte (the first, say) sets the
# phase. Reported as p50, p99, p99.9 and max in microseconds, with the
# ratios of the program to the reference at its priority.
#   bench/rt_serial_lateness.sh [path/to/pelix or build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
n=${N:-10000}
command -v g++ >/dev/null || { echo "g++ not found"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The peer: stamps each byte that arrives, and after n bytes writes the
# stamps (ns) to its file. A hang-up does not cut it short.
cat > "$work/peer.cpp" <<'CPP'
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>
int main(int argc, char** argv) {
  signal(SIGHUP, SIG_IGN);
  const size_t n = std::strtoul(argv[1], nullptr, 10);
  std::vector<long long> at;
  at.reserve(n);
  unsigned char b[256];
  while (at.size() < n) {
    const ssize_t k = read(0, b, sizeof b);
    if (k <= 0) break;
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    for (ssize_t i = 0; i < k; i++) at.push_back(t.tv_sec * 1000000000LL + t.tv_nsec);
  }
  FILE* f = std::fopen(argv[2], "w");
  for (long long v : at) std::fprintf(f, "%lld\n", v);
  std::fclose(f);
}
CPP
g++ -O2 -o "$work/peer" "$work/peer.cpp"

# The reference: ref N PEER STAMPS WAY, WAY 0 spin, 1 FIFO sleep-then-spin,
# 2 FIFO clock_nanosleep.
cat > "$work/ref.cpp" <<'CPP'
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
static long long nowns() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}
static void sleepto(long long at) {
  timespec d{static_cast<time_t>(at / 1000000000LL), static_cast<long>(at % 1000000000LL)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &d, nullptr) != 0) {
  }
}
int main(int argc, char** argv) {
  const int n = std::atoi(argv[1]);
  const int way = std::atoi(argv[4]);
  int m = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(m);
  unlockpt(m);
  const int s = open(ptsname(m), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t;
  tcgetattr(s, &t);
  cfmakeraw(&t);
  tcsetattr(s, TCSANOW, &t);
  const pid_t peer = fork();
  if (peer == 0) {
    dup2(m, 0);
    dup2(m, 1);
    execl(argv[2], argv[2], argv[1], argv[3], (char*)nullptr);
    _exit(1);
  }
  close(m);
  if (way > 0) {
    sched_param sp{};
    sp.sched_priority = sched_get_priority_min(SCHED_FIFO) + 1;
    sched_setscheduler(0, SCHED_FIFO, &sp);  // as the program does at priority 1
  }
  const long long start = nowns() + 100000000LL;
  for (int i = 0; i < n; i++) {
    const long long due = start + 1000000LL * i;
    if (way == 2) {
      sleepto(due);
    } else {
      if (way == 1 && due - nowns() > 600000) sleepto(due - 500000);
      while (nowns() < due) {
      }
    }
    const char b = 'x';
    if (write(s, &b, 1) != 1) return 2;
    int q = 0;
    while (ioctl(s, TIOCOUTQ, &q) == 0 && q > 0) usleep(500);
  }
  int st;
  waitpid(peer, &st, 0);
}
CPP
g++ -O2 -o "$work/ref" "$work/ref.cpp"

# The program's runs: the first byte 100 ms after the run starts, then one
# every 50 ticks (1 ms).
for prio in 0 1; do
  {
    echo "declare byte array b(1)"
    echo "b = 120"
    echo "priority = $prio"
    echo "com1 = 259"
    echo "realtime - - 0 {"
    for ((i = 0; i < n; i++)); do echo "r_pwrite 0 0 $((5000 + 50 * i)) b 1 1"; done
    echo "}"
    echo "com1 = 0"
  } > "$work/run$prio.pelix"
  (cd "$work" && PELIX_COM1="exec:$work/peer $n $work/stamps$prio.txt" PELIX="$root/system" \
    PELIX_BACKEND=headless "$bin" < "run$prio.pelix" > "out$prio.txt")
  "$work/ref" "$n" "$work/peer" "$work/stampsref$prio.txt" "$prio"
done
"$work/ref" "$n" "$work/peer" "$work/stampssleep.txt" 2

python3 - "$work" "$n" <<'PY'
import sys
work, n = sys.argv[1], int(sys.argv[2])
def late(name):
    at = [int(v) for v in open(f"{work}/{name}")]
    if len(at) != n:
        sys.exit(f"{name}: {len(at)} arrivals, expected {n}")
    off = [t - 1000000 * k for k, t in enumerate(at)]
    anchor = min(off)
    return sorted((o - anchor) / 1000.0 for o in off)
def q(a, p):
    return a[min(len(a) - 1, int(p * len(a)))]
runs = (("pelix priority 0", late("stamps0.txt")), ("C++ spin, prio 0", late("stampsref0.txt")),
        ("pelix priority 1", late("stamps1.txt")), ("C++ FIFO sl+spin", late("stampsref1.txt")),
        ("C++ FIFO nanosleep", late("stampssleep.txt")))
print(f"{n} one-byte serial writes 1 ms apart; lateness at the peer in microseconds")
print("(each run's 1-ms grid placed where its earliest byte is on time)")
print(f"{'':20s}{'p50':>9s}{'p99':>9s}{'p99.9':>9s}{'max':>9s}")
for name, a in runs:
    print(f"{name:20s}{q(a, .5):9.1f}{q(a, .99):9.1f}{q(a, .999):9.1f}{a[-1]:9.1f}")
def ratio(a, b, p):
    return q(a, p) / q(b, p) if q(b, p) > 0 else float("inf")
for (name, a), (rname, b) in ((runs[0], runs[1]), (runs[2], runs[3]), (runs[2], runs[4])):
    print(f"{name} / {rname}: p99 {ratio(a, b, .99):.2f}, p99.9 {ratio(a, b, .999):.2f} (goal: p99.9 at most 1.0)")
PY
