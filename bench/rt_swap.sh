#!/usr/bin/env bash
# Lateness of r_swap on the real clock: a script of r_swap ops due every
# 833 ticks (60 a second) for 10 s, each writing a run-log entry, run by
# build/pelix at normal and at raised priority. An op is prepared to run
# the lead (300 ticks) before its time; lateness = the tick its log entry
# holds - that due time. Prints p50, p99, p99.9 and max in microseconds.
#   bench/rt_swap.sh [build folder or path/to/pelix]   (SECONDS_RUN=10)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
[ -e "$bin" ] && bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
secs=${SECONDS_RUN:-10}
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
n=$((secs * 50000 / 833))
for prio in 0 1; do
  {
    echo "declare long lg($((2 * n + 8)))"
    echo "priority = $prio"
    echo "realtime - lg 0 {"
    for ((i = 1; i <= n; i++)); do echo "r_swap 2 0 $((833 * i))"; done
    echo "}"
    echo "ftype \"%d\\n\" lg"
  } > "$work/run$prio.pelix"
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < "run$prio.pelix" > "out$prio.txt")
done
python3 - "$work/out0.txt" "$work/out1.txt" "$n" <<'PY'
import sys
n = int(sys.argv[3])
def late(out):
    vals = []
    for line in open(out):
        s = line.strip()
        if s.lstrip('-').isdigit():
            vals.append(int(s))
    # entry 0 holds the count (and 0); then (time, op word) pairs
    times = [vals[2 + 2 * i] for i in range(n)]
    return sorted((t - (833 * (i + 1) - 300)) * 20.0 for i, t in enumerate(times))
def q(a, p):
    return a[min(len(a) - 1, int(p * len(a)))]
print(f"{n} r_swap ops 833 ticks apart; lateness in microseconds (20-us ticks)")
print(f"{'':12s}{'p50':>9s}{'p99':>9s}{'p99.9':>9s}{'max':>9s}")
for name, out in (("priority 0", sys.argv[1]), ("priority 1", sys.argv[2])):
    a = late(out)
    print(f"{name:12s}{q(a, .5):9.1f}{q(a, .99):9.1f}{q(a, .999):9.1f}{a[-1]:9.1f}")
PY
