#!/usr/bin/env bash
# Table views of large variables: the time and peak memory (resident set)
# of build/pelix, headless, for each case, started anew each time:
#   one    a 1 x 32767 byte matrix shown with the format "%99999d"
#   three  three such matrices, each in a view of its own
#   big    a 16384 x 16384 byte matrix (256 MB of data) in a table view
# Each run declares, opens the views, repaints them ("update") and quits;
# #0 after the last view must name a window. The goal of each case: under
# 2 s and 400 MB peak. Prints seconds and megabytes beside the goal, the
# best of R runs (R=3).
#   bench/table_view.sh [build folder | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build}
[ -d "$bin" ] && bin=$bin/pelix
[ -x "$bin" ] || { echo "table_view: no program at $bin" >&2; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
reps=${R:-3}
py=
for p in python3 /usr/bin/python3; do command -v "$p" >/dev/null && { py=$p; break; }; done
[ -n "$py" ] || { echo "table_view: python3 is needed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PELIX="$root/system" PELIX_BACKEND=headless TEMP="$work" TMPDIR="$work"

# Runs the program on a command file in the work folder: its output, then
# a last line "TIME seconds peak-KB". The peak is /usr/bin/time's; without
# it, the child's usage from wait4, which also counts the pages of the
# python3 that spawns it (some 10 MB more).
timed() {
  if [ -x /usr/bin/time ]; then
    (cd "$work" && /usr/bin/time -f 'TIME %e %M' "$bin" < "$1" 2>&1)
    return
  fi
  (cd "$work" && "$py" - "$bin" "$1" <<'PY'
import os, sys, time
src = os.open(sys.argv[2], os.O_RDONLY)
out = os.open("run.out", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
acts = [(os.POSIX_SPAWN_DUP2, src, 0), (os.POSIX_SPAWN_DUP2, out, 1), (os.POSIX_SPAWN_DUP2, out, 2)]
t0 = time.perf_counter()
pid = os.posix_spawn(sys.argv[1], [sys.argv[1]], os.environ, file_actions=acts)
_, status, ru = os.wait4(pid, 0)
t = time.perf_counter() - t0
os.close(out)
sys.stdout.write(open("run.out", errors="replace").read())
print("TIME %.2f %d" % (t, ru.ru_maxrss))
PY
  )
}

one='declare byte matrix qb1(1,32767)
view qb1 "%99999d"'
three='declare byte matrix qb1(1,32767)
declare byte matrix qb2(1,32767)
declare byte matrix qb3(1,32767)
view qb1 "%99999d"
view qb2 "%99999d"
view qb3 "%99999d"'
big='declare byte matrix m(16384,16384)
view m'

run() { # name, commands
  local best_t= best_m= i out t m
  printf '%s\nftype "window %%d\\n" #0\nupdate\nquit\n' "$2" > "$work/$1.pelix"
  for ((i = 0; i < reps; i++)); do
    out=$(timed "$1.pelix") || true
    echo "$out" | grep -qE '^window (9|[1-9][0-9]+)$' || { echo "table_view: $1: no view was made:"; echo "$out" | tail -5; exit 1; }
    if echo "$out" | grep -q ERROR; then echo "table_view: $1:"; echo "$out" | grep ERROR; exit 1; fi
    read -r t m < <(echo "$out" | sed -n 's/^TIME //p')
    if [ -z "$best_t" ] || awk -v a="$t" -v b="$best_t" 'BEGIN { exit !(a < b) }'; then best_t=$t; fi
    if [ -z "$best_m" ] || [ "$m" -lt "$best_m" ]; then best_m=$m; fi
  done
  awk -v n="$1" -v t="$best_t" -v m="$best_m" 'BEGIN {
    mb = m / 1024
    printf "%-6s %7.2f s  (goal < 2 s)   %7.1f MB peak  (goal < 400 MB)   %s\n", n, t, mb,
           (t < 2 && mb < 400) ? "met" : "MISSED" }'
}

echo "table views: time and peak memory of the whole run, best of $reps"
run one "$one"
run three "$three"
run big "$big"
