#!/usr/bin/env bash
# Times printing N rows (1,000,000 by default) into a file, two ways: the
# list command with standard output redirected to a file, and the same
# listing into an output unit (open output "FILE"). Each way is run by the
# program and by a reference program in turns, R times (5 by default), and
# the best time of each is kept; prints the times and the ratios program /
# reference (the goal: at most 1.2 each).
#   bench/print_rows.sh [build-dir | path/to/pelix] [reference pelix]
# The reference is the second argument, else $REF, else the program built
# from the commit before the signal work (/work/wt/base/build/pelix); with
# none there, only the program's times are printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
ref=${2:-${REF:-/work/wt/base/build/pelix}}
[ -d "$ref" ] && ref=$ref/pelix
[ -x "$ref" ] || ref=
n=${N:-1000000}
reps=${R:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seq 1 "$n" > "$work/rows.txt"
# No titles: the rows alone (a listing into a file titles each page).
printf 'list "rows.txt" 0\n' > "$work/stdout.pelix"
printf 'open output "unit.txt"\nlist "rows.txt" 0\nclose output\n' > "$work/unit.pelix"

now() { date +%s.%N; }
best() { awk -v t="$2" -v b="${!1:-}" 'BEGIN { if (b == "" || t < b) print t; else print b }'; }
# run VAR PROGRAM WAY: times one run and keeps the best in VAR; checks the
# rows written (the listing's rows, and on standard output the echoed line).
run() {
  local t0 t1 rows want
  rm -f "$work/out.txt" "$work/unit.txt"
  t0=$(now)
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$2" < "$work/$3.pelix" > out.txt)
  t1=$(now)
  if [ "$3" = stdout ]; then rows=$(wc -l < "$work/out.txt"); want=$((n + 1)); else rows=$(wc -l < "$work/unit.txt"); want=$n; fi
  [ "$rows" = "$want" ] || { echo "$2 ($3): $rows rows, expected $want"; exit 1; }
  printf -v "$1" '%s' "$(best "$1" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")"
}

ps='' pu='' rs='' ru=''
for ((k = 0; k < reps; k++)); do
  run ps "$bin" stdout
  run pu "$bin" unit
  if [ -n "$ref" ]; then
    run rs "$ref" stdout
    run ru "$ref" unit
  fi
done

printf 'printing %d rows into a file (best of %d runs, seconds)\n' "$n" "$reps"
if [ -n "$ref" ]; then
  awk -v ps="$ps" -v pu="$pu" -v rs="$rs" -v ru="$ru" -v ref="$ref" 'BEGIN {
    printf "  reference: %s\n", ref
    printf "  standard output to a file  %.3f   reference %.3f   ratio %.3f\n", ps, rs, ps / rs
    printf "  output unit                %.3f   reference %.3f   ratio %.3f\n", pu, ru, pu / ru
  }'
else
  printf '  standard output to a file  %.3f\n  output unit                %.3f\n  (no reference program)\n' "$ps" "$pu"
fi
echo "  load average: $(cut -d' ' -f1-3 /proc/loadavg)"
