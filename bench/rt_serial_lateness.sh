#!/usr/bin/env bash
# Real-time lateness measured from outside the program: a script of N ops
# 1 ms apart (N=10000), each writing one byte with r_pwrite to serial port
# 1, whose exec: peer stamps every arrival on CLOCK_MONOTONIC. Lateness of
# byte k = arrival - (first arrival + k ms), as p50, p99, p99.9 and max in
# microseconds, at priority 0 and 1, beside a plain C++ loop that writes a
# byte every 1 ms (clock_nanosleep to an absolute time) to the same kind
# of peer on a pseudo-terminal in the same run.
#   bench/rt_serial_lateness.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$(cd "$build" && pwd)/pelix
n=${N:-10000}
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
command -v g++ >/dev/null || { echo "g++ not found"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The peer: stamps each byte that arrives, and after n bytes writes the
# stamps (ns) to its file.
cat > "$work/peer.cpp" <<'CPP'
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>
int main(int argc, char** argv) {
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

# The C++ loop: a pseudo-terminal whose master is the peer's standard input
# and output, as the program's exec: ports are; each byte is written and
# drained as the program's serial writes are.
cat > "$work/ref.cpp" <<'CPP'
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
int main(int argc, char** argv) {
  const int n = std::atoi(argv[1]);
  int m = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(m);
  unlockpt(m);
  const int s = open(ptsname(m), O_RDWR | O_NOCTTY);
  termios t;
  tcgetattr(s, &t);
  cfmakeraw(&t);
  tcsetattr(s, TCSANOW, &t);
  if (fork() == 0) {
    dup2(m, 0);
    dup2(m, 1);
    execl(argv[2], argv[2], argv[1], argv[3], (char*)nullptr);
    _exit(1);
  }
  sched_param sp{};
  sp.sched_priority = sched_get_priority_min(SCHED_FIFO) + 1;
  sched_setscheduler(0, SCHED_FIFO, &sp);  // as the program does at priority 1
  timespec t0;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  const long long start = t0.tv_sec * 1000000000LL + t0.tv_nsec + 100000000LL;
  for (int i = 0; i < n; i++) {
    const long long due = start + 1000000LL * i;
    timespec d{static_cast<time_t>(due / 1000000000LL), static_cast<long>(due % 1000000000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &d, nullptr) != 0) {
    }
    const char b = 'x';
    if (write(s, &b, 1) != 1) return 2;
    int q = 0;
    while (ioctl(s, TIOCOUTQ, &q) == 0 && q > 0) usleep(500);
  }
  int st;
  wait(&st);
}
CPP
g++ -O2 -o "$work/ref" "$work/ref.cpp"

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
done
"$work/ref" "$n" "$work/peer" "$work/stampsref.txt"

python3 - "$work" "$n" <<'PY'
import sys
work, n = sys.argv[1], int(sys.argv[2])
def late(name):
    at = [int(v) for v in open(f"{work}/{name}")]
    if len(at) != n:
        sys.exit(f"{name}: {len(at)} arrivals, expected {n}")
    return sorted((t - (at[0] + 1000000 * k)) / 1000.0 for k, t in enumerate(at))
def q(a, p):
    return a[min(len(a) - 1, int(p * len(a)))]
runs = (("pelix priority 0", late("stamps0.txt")), ("pelix priority 1", late("stamps1.txt")),
        ("C++ nanosleep", late("stampsref.txt")))
print(f"{n} one-byte serial writes 1 ms apart; lateness at the peer in microseconds")
print(f"{'':18s}{'p50':>9s}{'p99':>9s}{'p99.9':>9s}{'max':>9s}")
for name, a in runs:
    print(f"{name:18s}{q(a, .5):9.1f}{q(a, .99):9.1f}{q(a, .999):9.1f}{a[-1]:9.1f}")
ref = q(runs[2][1], .999)
for name, a in runs[:2]:
    print(f"{name}: p99.9 ratio to the C++ loop {q(a, .999) / ref if ref > 0 else float('inf'):.2f} (goal: at most 1.0)")
PY
