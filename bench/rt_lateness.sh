#!/usr/bin/env bash
# Lateness of real-time ops on the real clock: a script of N timed ops 1 ms
# apart (each stores the clock tick at which it started), run by build/pelix,
# beside the same schedule driven by a plain clock_nanosleep loop in C++ in
# the same run. Lateness = start - due, reported as p50, p99, p99.9 and max
# in microseconds (pelix in whole 20-microsecond ticks).
#   bench/rt_lateness.sh [path/to/pelix]      (N=10000 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
n=${N:-10000}
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
command -v g++ >/dev/null || { echo "g++ not found"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pelix sessions: the ops start 100 ms after the run starts, 50 ticks
# apart; once at normal priority, once raised (system variable priority 1).
for prio in 0 1; do
  {
    echo "declare long x($n)"
    echo "priority = $prio"
    echo "realtime - - 0 {"
    for ((i = 0; i < n; i++)); do echo "r_gtime 0 0 $((5000 + 50 * i)) x ++"; done
    echo "}"
    echo "type x"
  } > "$work/run$prio.pelix"
done

cat > "$work/ref.cpp" <<'CPP'
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sched.h>
#include <vector>
int main(int argc, char** argv) {
  int n = argc > 1 ? std::atoi(argv[1]) : 10000;
  sched_param sp{};
  sp.sched_priority = sched_get_priority_min(SCHED_FIFO) + 1;
  sched_setscheduler(0, SCHED_FIFO, &sp);  // as pelix does with priority > 0
  std::vector<long> late(n);
  timespec t0;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  long long start = t0.tv_sec * 1000000000LL + t0.tv_nsec + 100000000LL;
  for (int i = 0; i < n; i++) {
    long long due = start + 1000000LL * i;
    timespec d{static_cast<time_t>(due / 1000000000LL), static_cast<long>(due % 1000000000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &d, nullptr) != 0) {
    }
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    late[i] = static_cast<long>(now.tv_sec * 1000000000LL + now.tv_nsec - due);
  }
  for (long v : late) std::printf("%ld\n", v);
}
CPP
g++ -O2 -o "$work/ref" "$work/ref.cpp"

for prio in 0 1; do
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < "run$prio.pelix" > "out$prio.txt")
done
"$work/ref" "$n" > "$work/ref.txt"

python3 - "$work/out0.txt" "$work/out1.txt" "$work/ref.txt" "$n" <<'PY'
import sys
out0, out1, ref, n = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
def pelix(out):
    vals = []
    started = False
    for line in open(out):
        if line.startswith("PELIX> type x"):
            started = True
            continue
        if started:
            if line.startswith("PELIX>"):
                break
            vals += [int(v) for v in line.split()]
    if len(vals) != n:
        sys.exit(f"pelix gave {len(vals)} values, expected {n}")
    return sorted((v - (5000 + 50 * i)) * 20.0 for i, v in enumerate(vals))
runs = (("pelix priority 0", pelix(out0)), ("pelix priority 1", pelix(out1)),
        ("C++ nanosleep", sorted(int(v) / 1000.0 for v in open(ref))))
def q(a, p):
    return a[min(len(a) - 1, int(p * len(a)))]
print(f"{n} ops 1 ms apart; lateness in microseconds (pelix in 20-us ticks)")
print(f"{'':18s}{'p50':>9s}{'p99':>9s}{'p99.9':>9s}{'max':>9s}")
for name, a in runs:
    print(f"{name:18s}{q(a, .5):9.1f}{q(a, .99):9.1f}{q(a, .999):9.1f}{a[-1]:9.1f}")
for name, a in runs[:2]:
    print(f"{name}: p99.9 within one tick (20 us): {'yes' if q(a, .999) <= 20 else 'no'}")
PY
