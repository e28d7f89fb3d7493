#!/usr/bin/env bash
# Times the full-screen editor on a text file of 30,000 lines (N): build/pelix
# headless runs "edit" of the file, F9 (write) and F10 (end), with and without
# paging down to the end with PgDn, each net of a run that only quits; the
# reference is sed -n p copying the same file, in the same run. Each run is
# repeated R times (3 by default) and the best kept. Prints the ratio of
# load + save to the copy (goal: at most 2) and the time per screen of PgDn.
#   bench/edit_file.sh [path/to/pelix or build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
n=${N:-30000}
reps=${R:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

awk -v n="$n" 'BEGIN { for (i = 1; i <= n; i++) printf "line %6d: the quick brown fox jumps over it %d\n", i, i * 7 }' > "$work/big.txt"
pages=$(( (n + 23) / 24 ))
{ printf 'quit\n'; } > "$work/quit.keys"
{ printf 'edit big.txt %d\n\033[20~\033[21~quit\n' "$n"; } > "$work/save.keys"
{
  printf 'edit big.txt %d\n' "$n"
  for ((i = 0; i < pages; i++)); do printf '\033[6~'; done
  printf '\033[20~\033[21~quit\n'
} > "$work/page.keys"

now() { date +%s%N; }
# Seconds of the best of R runs of a command line.
best() {
  local b='' t0 t1
  for ((k = 0; k < reps; k++)); do
    t0=$(now)
    eval "$1"
    t1=$(now)
    b=$(awk -v t="$(( t1 - t0 ))" -v b="$b" 'BEGIN { t /= 1e9; if (b == "" || t < b) print t; else print b }')
  done
  echo "$b"
}
run() { (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless PELIX_CLOCK=virtual "$bin" < "$1" > /dev/null); }

quit=$(best 'run quit.keys')
save=$(best 'run save.keys')
page=$(best 'run page.keys')
sedt=$(best 'sed -n p "$work/big.txt" > "$work/copy.txt"')
cmp -s "$work/big.txt" "$work/copy.txt" || { echo "sed copy differs"; exit 1; }
awk -v q="$quit" -v s="$save" -v p="$page" -v c="$sedt" -v n="$n" -v pg="$pages" 'BEGIN {
  ls = s - q; if (ls < 0.0005) ls = 0.0005
  per = (p - s) / pg; if (per < 0) per = 0
  printf "edit of %d lines: quit-only %.4f s, load+save %.4f s, sed -n p %.4f s\n", n, q, ls, c
  printf "ratio load+save / sed -n p: %.2f (goal <= 2)\n", ls / c
  printf "PgDn: %d screens in %.4f s, %.1f us per screen\n", pg, p - s, per * 1e6
}'
