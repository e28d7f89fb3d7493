#!/usr/bin/env bash
# Times a text-macro loop of N iterations (a counter, a comparison and an
# assignment per pass) run by build/pelix, and the same loop in Tcl, in the
# same run; prints both times and their ratio.
#   bench/macro_loop.sh [path/to/pelix or build folder]   (N=1000000 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix  # tools/dev bench passes the build folder
[ -e "$bin" ] && bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
n=${N:-1000000}
command -v tclsh >/dev/null || { echo "tclsh not found"; exit 1; }
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/loop.imp" <<IMP
declare global number i x
i = 0
while (i < $n) {
  i = i + 1
  x = i
}
IMP
cat > "$work/loop.tcl" <<TCL
set i 0
while {\$i < $n} {
  incr i
  set x \$i
}
puts \$x
TCL

now() { date +%s.%N; }
t0=$(now)
out=$(cd "$work" && printf 'loop\ntype x\n' | PELIX="$root/system" PELIX_BACKEND=headless "$bin")
t1=$(now)
tout=$(tclsh "$work/loop.tcl")
t2=$(now)

echo "$out" | grep -q "$n" || { echo "pelix loop did not reach $n:"; echo "$out"; exit 1; }
[ "$tout" = "$n" ] || { echo "tcl loop gave $tout"; exit 1; }
awk -v a="$t0" -v b="$t1" -v c="$t2" -v n="$n" 'BEGIN {
  p = b - a; t = c - b;
  printf "macro loop, %d passes: pelix %.3f s, tcl %.3f s, ratio pelix/tcl %.2f\n", n, p, t, (t > 0 ? p / t : 0)
}'
