#!/usr/bin/env bash
# Macro loops whose lines call functions, run by build/pelix as a text
# macro and as a compiled macro, against the same loops in Tcl at global
# level and inside a proc, in one run. Each loop makes N passes (a counter,
# its test and one more line):
#   sin        s = sin(i)          set s [expr {sin($i)}]
#   max        s = max(v)          set s [tcl::mathfunc::max {*}$v]   (v: 10 numbers)
#   element    v(3) = i            lset v 3 $i
# Times are taken inside each program (pelix time(0) ... time(1), Tcl clock
# microseconds), so start-up does not count; each is the best of R runs.
# A compiled loop is run over and over until 100 ms have passed (pelix's
# clock counts milliseconds). The loops run in one thread.
# Prints the times and the ratios: text macro / Tcl global and compiled
# macro / Tcl proc (the goal is at most 1.0 each), and the load average.
#   bench/call_loop.sh [build-dir | path/to/pelix]     (N=1000000, R=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
[ -e "$bin" ] && bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
n=${N:-1000000}
reps=${R:-3}
command -v tclsh >/dev/null || { echo "tclsh not found"; exit 1; }
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$root/bench/stopwatch.bash"

names=(zqsin zqmax zqelem)
plines=("s = sin(i)" "s = max(v)" "v(3) = i")
tlines=('set s [expr {sin($i)}]' 'set s [tcl::mathfunc::max {*}$v]' 'lset v 3 $i')
decl="declare global number i s
declare global real array v(10)
v = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3}
$(stopwatch_vars)"
for k in 0 1 2; do
  printf 'i = 0\nwhile (i < %d) {\ni = i + 1\n%s\n}\n' "$n" "${plines[$k]}" > "$work/${names[$k]}.imp"
  for how in glob proc; do
    body=$(printf 'set v {3 1 4 1 5 9 2 6 5 3}\nset i 0\nset t [clock microseconds]\nwhile {$i < %d} {\n  incr i\n  %s\n}\nset t [expr {([clock microseconds] - $t) / 1e6}]' "$n" "${tlines[$k]}")
    if [ $how = glob ]; then
      printf '%s\nputs $t\n' "$body" > "$work/${names[$k]}_$how.tcl"
    else
      printf 'proc run {} {\n%s\nreturn $t\n}\nputs [run]\n' "$body" > "$work/${names[$k]}_$how.tcl"
    fi
  done
done
pelix() { (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" 2>&1 | tail -1); }
# The compiled files are made first (their time does not count).
{ echo "$decl"; for k in 0 1 2; do echo "compile ${names[$k]}"; done; } | pelix >/dev/null
for k in 0 1 2; do
  mv "$work/${names[$k]}.cmp" "$work/${names[$k]}c.cmp"
  stopwatch "$work/${names[$k]}w.imp" "${names[$k]}c"
done

best() { awk -v t="$2" -v b="${!1:-}" 'BEGIN { if (b == "" || t < b) print t; else print b }'; }
printf 'macro loops of %d passes: best of %d runs, seconds (load %s)\n' "$n" "$reps" "$(cut -d' ' -f1-3 /proc/loadavg)"
for k in 0 1 2; do
  text='' comp='' tg='' tp=''
  for ((r = 0; r < reps; r++)); do
    t=$(printf '%s\ntime(0)\nrun %s.imp\ntype time(1)\n' "$decl" "${names[$k]}" | pelix)
    text=$(best text "$t")
    t=$(printf '%s\nrun %sw.imp\n' "$decl" "${names[$k]}" | pelix | sed 's/^= //')
    comp=$(best comp "$t")
    tg=$(best tg "$(tclsh "$work/${names[$k]}_glob.tcl")")
    tp=$(best tp "$(tclsh "$work/${names[$k]}_proc.tcl")")
  done
  awk -v nm="${names[$k]}" -v l="${plines[$k]}" -v text="$text" -v comp="$comp" -v tg="$tg" -v tp="$tp" 'BEGIN {
    printf "  %-12s text %.3f / tcl global %.3f = %5.2f   compiled %.3f / tcl proc %.3f = %5.2f\n",
      l, text, tg, text / tg, comp, tp, comp / tp }'
done
