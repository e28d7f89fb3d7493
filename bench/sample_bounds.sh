#!/usr/bin/env bash
# Times sample at its bounds on a 20x10 image through build/pelix, each case
# in a run of its own, and prints the wall time and the peak memory of the
# whole run, and the number of values it returned, beside the goal (under
# 2 s):
#   wide     sample(32767, 0, img, 32767): 32767 samples along a path across
#            the image, each the mean of 32767 values across the path;
#   far      the same along a diagonal from -30000,-30000 to 30000,30000;
#   outline  sample(-1, 0, img) of an outline at +-32767 around the image
#            (its mask would need 32768 bytes or more: no mask is made).
# A short run of the same program (one sample) is the reference: its time
# is the start-up that every case includes.
#   bench/sample_bounds.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

head='declare integer image img(20,10)
img = img + ramp(200)
declare real array s(1)
erase vecs'
across='putvec 2 3 0 2
putvec 12 3 0 1'
cases=(
  "start|$across
s = sample(1, 0, img)"
  "wide|$across
s = sample(32767, 0, img, 32767)"
  "far|putvec -30000 -30000 0 2
putvec 30000 30000 0 1
s = sample(32767, 0, img, 32767)"
  "outline|putvec -32767 -32767 0 2
putvec 32767 -32767 0 1
putvec 32767 32767 0 1
putvec -32767 32767 0 1
putvec -32767 -32767 0 1
s = sample(-1, 0, img)"
)

printf '%-8s %9s %10s %8s  %s\n' case seconds peak-KB values goal
for c in "${cases[@]}"; do
  name=${c%%|*}
  printf '%s\n%s\nftype "n=%%d\\n" size(s)\n' "$head" "${c#*|}" > "$work/$name.pelix"
  run() {
    cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless PELIX_CLOCK=virtual \
      timeout 120 "$@" "$bin" < "$work/$name.pelix" > "$work/$name.out" 2>&1 || true
  }
  if [ -x /usr/bin/time ]; then
    (run /usr/bin/time -f '%e %M' -o "$work/$name.time")
    read -r secs kb < <(tail -n 1 "$work/$name.time")
  else
    # Without GNU time (Debian's package time): the wall time alone.
    t0=$(date +%s.%N)
    (run)
    secs=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
    kb=-
  fi
  goal="under 2 s"
  [ "$name" = start ] && goal="(reference: start-up)"
  if [ "$name" != start ] && awk -v s="$secs" 'BEGIN { exit !(s >= 2) }'; then goal="under 2 s: missed"; fi
  # The size of the result (the outline case returns none: s keeps 1).
  vals=$(awk -F= '/^n=/ { n = $2 } END { print n == "" ? "?" : n }' "$work/$name.out")
  printf '%-8s %9s %10s %8s  %s\n' "$name" "$secs" "$kb" "$vals" "$goal"
done
