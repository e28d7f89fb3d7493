#!/usr/bin/env bash
# Times a macro run by build/pelix that opens a loaded dialog of 40 widgets,
# forces one repaint (update) and closes it, N times (1000 by default),
# against N updates of the same dialog kept open, in the same run; the run
# is repeated R times (3 by default) and the best of each loop kept. Prints
# the time per open and close (goal: under 1 ms) and the ratio of the two
# loops.
#   bench/dialog_open.sh [path/to/pelix or build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
n=${N:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The dialog: 40 widgets of every kind with a control, in 4 columns.
{
  echo "% 20,40 640x440"
  echo
  kinds=(4 5 6 7 8 16 4 5)
  for ((i = 0; i < 40; i++)); do
    x=$((10 + (i % 4) * 155)); y=$((10 + (i / 4) * 42))
    echo "% $x,$y 140x24 ${kinds[$((i % 8))]}"
    echo "\"item $i"
    echo "ftype \"item $i\\n\""
    echo
  done
} > "$work/b40.mnu"
# One run times both loops with the clock of the program (secs: seconds
# and milliseconds of the minute; a loop is far shorter than a minute).
# The updates of the open dialog go on until 100 ms have passed, so that
# the clock's millisecond is 1% of the time or less. One thread.
cat > "$work/keys" <<KEYS
declare global number i t a b m
menu b40
menu 0 b40
t = secs
i = 0
while (i < $n) {
  menu b40
  update
  menu 0 b40
  i = i + 1
}
a = secs - t
if (a < 0) a = a + 60
menu b40
update
t = secs
m = 0
b = 0
while (b < 0.1) {
  update
  m = m + 1
  b = secs - t
  if (b < 0) b = b + 60
}
b = b / m
menu 0 b40
ftype "times %.4f %.7f\n" a b
KEYS

reps=${R:-3}
oc='' rp=''
for ((k = 0; k < reps; k++)); do
  line=$(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < keys | grep '^times ' || true)
  [ -n "$line" ] || { echo "the benchmark macro printed no times"; exit 1; }
  read -r _ a b <<< "$line"
  oc=$(awk -v t="$a" -v b="$oc" 'BEGIN { if (b == "" || t < b) print t; else print b }')
  rp=$(awk -v t="$b" -v b="$rp" 'BEGIN { if (b == "" || t < b) print t; else print b }')
done
awk -v oc="$oc" -v rp="$rp" -v n="$n" 'BEGIN {
  printf "dialog of 40 widgets, %d times: open+update+close %.3f s; an update of the open dialog %.2f us\n", n, oc, rp * 1e6
  printf "per open and close: %.3f ms (goal < 1 ms)\n", oc / n * 1000
  printf "ratio open+update+close / update: %.0f\n", oc / n / rp
}'
