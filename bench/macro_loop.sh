#!/usr/bin/env bash
# Times a loop of N passes (a counter, a comparison and an assignment per
# pass) run by build/pelix three ways - as a text macro, as a compiled
# macro, and typed at the prompt with aflags 0x100 (compiled in memory) -
# and the same loop in Tcl at global level and inside a proc, in one run;
# prints the best times of R runs (3 by default) and the ratios.
#   bench/macro_loop.sh [path/to/pelix or build folder](N=1000000 by default)
# With OLD=path/to/another/pelix (or its build folder) the loop of one
# assignment (i = i + 1, N=3000000 passes by default) is run instead by
# both builds in turns, each run pinned to one processor and timed by the
# processor time it used, TURNS=20 turns: it prints the medians and this
# build's median over the other's for the text macro, the compiled macro
# and the loop typed with aflags 0x100 (bench/turns.bash).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
if [ -n "${OLD:-}" ]; then
  . "$root/bench/turns.bash"
  turns_begin "${1:-}"
  n=${N:-3000000}
  printf 'i = 0\nwhile (i < %d) {\n  i = i + 1\n}\n' "$n" > "$work/loop1.imp"
  printf 'declare global number i\ncompile loop1\n' > "$work/mk.in"
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < mk.in > /dev/null)
  mv "$work/loop1.cmp" "$work/cloop1.cmp"
  printf 'declare global number i\nrun loop1.imp\ntype i\n' > "$work/text.in"
  printf 'declare global number i\ncloop1\ntype i\n' > "$work/comp.in"
  printf 'declare global number i\naflags = 256\ni = 0\nwhile (i < %d) {\ni = i + 1\n}\ntype i\n' "$n" > "$work/typed.in"
  echo "macro loop of one assignment, $n passes, this build $bin against $old"
  duel "text macro" "$n" "$work/text.in"
  duel "compiled macro" "$n" "$work/comp.in"
  duel "typed, aflags 0x100" "$n" "$work/typed.in"
  loadnote
  exit 0
fi
program "${1:-}"
n=${N:-1000000}
command -v tclsh >/dev/null || { echo "tclsh not found"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/loop.imp" <<IMP
i = 0
while (i < $n) {
  i = i + 1
  x = i
}
IMP
cat > "$work/glob.tcl" <<TCL
set i 0
while {\$i < $n} {
  incr i
  set x \$i
}
puts \$x
TCL
cat > "$work/proc.tcl" <<TCL
proc run {} {
  set i 0
  while {\$i < $n} {
    incr i
    set x \$i
  }
  return \$x
}
puts [run]
TCL

now() { date +%s.%N; }
pelix() { (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin"); }
check() { echo "$2" | grep -q "$n" || { echo "pelix $1 loop did not reach $n:"; echo "$2"; exit 1; }; }

# The compiled file is made first (its time is not counted).
printf 'declare global number i x\ncompile loop\n' | pelix >/dev/null
mv "$work/loop.cmp" "$work/cloop.cmp"

# Each way is timed R times (R=3 by default), the ways taking turns, and the
# best time of each is kept: a busy machine slows single runs, not the best.
reps=${R:-3}
best() { awk -v t="$2" -v b="${!1:-}" 'BEGIN { if (b == "" || t < b) print t; else print b }'; }
text='' comp='' typed='' tg='' tp=''
for ((k = 0; k < reps; k++)); do
  t0=$(now)
  out=$(printf 'declare global number i x\nrun loop.imp\ntype x\n' | pelix)
  t1=$(now)
  check text "$out"
  out=$(printf 'declare global number i x\ncloop\ntype x\n' | pelix)
  t2=$(now)
  check compiled "$out"
  out=$(printf 'declare global number i x\naflags = 256\ni = 0\nwhile (i < %d) {\ni = i + 1\nx = i\n}\ntype x\n' "$n" | pelix)
  t3=$(now)
  check typed "$out"
  g=$(tclsh "$work/glob.tcl")
  t4=$(now)
  p=$(tclsh "$work/proc.tcl")
  t5=$(now)
  [ "$g" = "$n" ] && [ "$p" = "$n" ] || { echo "tcl loops gave $g and $p"; exit 1; }
  text=$(best text "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
  comp=$(best comp "$(awk -v a="$t1" -v b="$t2" 'BEGIN { print b - a }')")
  typed=$(best typed "$(awk -v a="$t2" -v b="$t3" 'BEGIN { print b - a }')")
  tg=$(best tg "$(awk -v a="$t3" -v b="$t4" 'BEGIN { print b - a }')")
  tp=$(best tp "$(awk -v a="$t4" -v b="$t5" 'BEGIN { print b - a }')")
done

awk -v text="$text" -v comp="$comp" -v typed="$typed" -v tg="$tg" -v tp="$tp" -v n="$n" -v r="$reps" 'BEGIN {
  printf "macro loop, %d passes (best of %d runs, seconds; ratio = pelix / tcl)\n", n, r
  printf "  tcl global %.3f   tcl proc %.3f\n", tg, tp
  printf "  text macro      %.3f   vs tcl global %6.2f   vs tcl proc %6.2f\n", text, text / tg, text / tp
  printf "  compiled macro  %.3f   vs tcl global %6.2f   vs tcl proc %6.2f\n", comp, comp / tg, comp / tp
  printf "  typed, aflags 0x100 %.3f vs tcl global %6.2f   vs tcl proc %6.2f\n", typed, typed / tg, typed / tp
}'
