#!/usr/bin/env bash
# Start-up and shutdown: `echo quit | pelix` (headless, the system folder's
# start-up macro run) against `echo exit | tclsh`, in one run. Each block
# starts one program K times in a row (K=100, so a block lasts well over the
# clock's resolution); the blocks take turns, R of each (R=7), and the median
# block gives the time of one start. Both programs run one thread. Prints
# milliseconds per start and the ratio pelix / tclsh (the goal is at most
# 1.0), and the load average.
#   bench/startup.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
k=${K:-100}
reps=${R:-7}
command -v tclsh >/dev/null || { echo "tclsh not found"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export PELIX="$(dirname "$bin")/system" PELIX_BACKEND=headless
[ -d "$PELIX" ] || PELIX=$root/system

# Both must start and end cleanly, pelix having echoed its quit.
out=$(echo quit | "$bin" 2>&1) || { echo "pelix failed: $out"; exit 1; }
[ "$out" = "PELIX> quit" ] || { echo "pelix said: $out"; exit 1; }
out=$(echo exit | tclsh 2>&1) || { echo "tclsh failed: $out"; exit 1; }

now() { date +%s%N; }
block() { # command word: the program of the block
  local t0 t1 i
  t0=$(now)
  if [ "$1" = pelix ]; then
    for ((i = 0; i < k; i++)); do echo quit | "$bin" >/dev/null; done
  else
    for ((i = 0; i < k; i++)); do echo exit | tclsh >/dev/null; done
  fi
  t1=$(now)
  echo $(( (t1 - t0) / k ))  # nanoseconds a start
}
median() { tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
block pelix >/dev/null  # warm the file cache
block tclsh >/dev/null
p=() t=()
for ((r = 0; r < reps; r++)); do
  p+=("$(block pelix)")
  t+=("$(block tclsh)")
done
pm=$(echo "${p[*]}" | median)
tm=$(echo "${t[*]}" | median)
awk -v p="$pm" -v t="$tm" -v k="$k" -v r="$reps" -v l="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
  printf "start-up: median of %d blocks of %d starts (load %s)\n", r, k, l
  printf "  echo quit | pelix %.2f ms / echo exit | tclsh %.2f ms = %5.2f\n", p / 1e6, t / 1e6, p / t }'
