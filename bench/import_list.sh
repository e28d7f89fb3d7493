#!/usr/bin/env bash
# Times the import function reading a text file of 200,000 lines into a
# string list (the first field of each line an item) and into that list
# again (its old items freed first), through build/pelix, against python3
# splitting the same file into a list of first fields in the same run.
# Each time is the best of R runs (default 3). Prints the times and the
# ratios pelix / python3 (goal: at most 4 each; a list whose items each
# cost a walk of the memory's chain took minutes).
#   bench/import_list.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
reps=${R:-3}
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
lines=200000
$py - "$work/f.txt" "$lines" <<'PY'
import sys
n = int(sys.argv[2])
open(sys.argv[1], "w").write("".join("%d,%d.5,-%d\n" % (i, i, i) for i in range(n)))
PY
{
  echo "himemsize = 100000"
  echo "declare string list ql"
  for ((i = 0; i < reps; i++)); do
    echo "erase ql"
    echo "declare string list ql"
    printf 'time(0)\nql = import("f.txt", 0, 0, 0, " ,")\ntype time(1)\n'
    printf 'time(0)\nql = import("f.txt", 0, 0, 0, " ,")\ntype time(1)\n'
  done
  echo 'ftype "%d %s\n" #0 ql(199999)'
} > "$work/ops.pelix"
# The text of the items is taken in the low stack before the list is made.
(cd "$work" && CSTACK=4000000 PELIX="$root/system" PELIX_BACKEND=headless "$bin" < ops.pelix > out.txt 2>&1) || true
if grep -q ERROR "$work/out.txt"; then
  echo "pelix reported an error:"; grep -B1 ERROR "$work/out.txt"; exit 1
fi
$py - "$work" "$reps" "$lines" <<'PY'
import os, re, sys, time
work, reps, lines = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
out = open(os.path.join(work, "out.txt")).read().splitlines()
vals = [float(l) for l in out if re.fullmatch(r"\s*-?\d+\.\d+\s*", l)]
if len(vals) != 2 * reps or not any(l.strip() == "%d 199999" % lines for l in out):
    sys.exit("unexpected pelix output:\n" + "\n".join(out[-10:]))
fresh, again = min(vals[0::2]), min(vals[1::2])
path = os.path.join(work, "f.txt")
t = []
for _ in range(reps):
    t0 = time.perf_counter()
    items = [l.split(",", 1)[0] for l in open(path).read().splitlines()]
    t.append(time.perf_counter() - t0)
    assert len(items) == lines
ref = min(t)
print("import of %d lines into a string list" % lines)
print("%-30s %8s" % ("", "s"))
print("%-30s %8.3f" % ("pelix, a new list", fresh))
print("%-30s %8.3f" % ("pelix, over the same list", again))
print("%-30s %8.3f" % ("python3 split", ref))
print("ratio new list / python3        %.2f   (goal <= 4)" % (fresh / ref))
print("ratio over the list / python3   %.2f   (goal <= 4)" % (again / ref))
PY
