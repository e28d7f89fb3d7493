#!/usr/bin/env bash
# Times the import function reading a CSV file of about 100 MB (ten floats
# a line) into a real matrix through build/pelix, and numpy.loadtxt and
# pandas.read_csv (float32) reading the same file in the same run, timed
# after their imports. Each time is the best of R runs (default 3). Prints
# the times and the ratios pelix / numpy and pelix / pandas (goals: at
# most 0.5 and 1.0). The same file with lines ended by CR alone is imported
# too: its time against the LF file's (goal: at most 1.2).
#   bench/import_csv.sh [build-dir | path/to/pelix]   (python3-numpy, python3-pandas)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
reps=${R:-3}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
$py -c 'import numpy, pandas' 2>/dev/null || { echo "python3-numpy and python3-pandas are needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
$py - "$work/data.csv" <<'PY'
import sys
import numpy as np
rng = np.random.default_rng(7)
rows = 1_150_000
with open(sys.argv[1], "w") as f:
    step = 50_000
    for k in range(0, rows, step):
        a = rng.uniform(-1000.0, 1000.0, size=(step, 10))
        f.write("\n".join(",".join("%.4f" % v for v in r) for r in a.tolist()))
        f.write("\n")
data = open(sys.argv[1], "rb").read()
open(sys.argv[1].replace("data.csv", "data_cr.csv"), "wb").write(data.replace(b"\n", b"\r"))
PY
size=$(stat -c %s "$work/data.csv")
lines=$(wc -l < "$work/data.csv")
{
  echo "himemsize = 400000"
  echo "declare matrix m"
  for ((i = 0; i < reps; i++)); do
    printf 'time(0)\nm = import("data.csv")\ntype time(1)\n'
  done
  echo 'ftype "%d %d\n" #0 size(m)'
  for ((i = 0; i < reps; i++)); do
    printf 'time(0)\nm = import("data_cr.csv")\ntype time(1)\n'
  done
  echo 'ftype "%d %d\n" #0 size(m)'
} > "$work/ops.pelix"
(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < ops.pelix > out.txt 2>&1) || true
if grep -q ERROR "$work/out.txt"; then
  echo "pelix reported an error:"; grep -B1 ERROR "$work/out.txt"; exit 1
fi
$py - "$work" "$reps" "$size" "$lines" <<'PY'
import os, re, sys, time
import numpy as np
import pandas as pd
work, reps, size, lines = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
out = open(os.path.join(work, "out.txt")).read().splitlines()
vals = [float(l) for l in out if re.fullmatch(r"\s*-?\d+\.\d+\s*", l)]
check = [l for l in out if re.fullmatch(r"\d+ \d+", l.strip())]
if len(vals) != 2 * reps or len(check) != 2 or any(c.split()[0] != str(lines) for c in check):
    sys.exit("unexpected pelix output:\n" + "\n".join(out[-10:]))
pel, pcr = min(vals[:reps]), min(vals[reps:])
path = os.path.join(work, "data.csv")
def best(f):
    t = []
    for _ in range(reps):
        t0 = time.perf_counter()
        a = f()
        t.append(time.perf_counter() - t0)
    assert a.shape == (lines, 10)
    return min(t)
npy = best(lambda: np.loadtxt(path, delimiter=",", dtype=np.float32))
pds = best(lambda: pd.read_csv(path, header=None, dtype=np.float32).to_numpy())
print("import of %.1f MB, %d lines of 10 floats" % (size / 1e6, lines))
print("%-24s %8s" % ("reader", "s"))
print("%-24s %8.3f" % ("pelix import", pel))
print("%-24s %8.3f" % ("numpy.loadtxt", npy))
print("%-24s %8.3f" % ("pandas.read_csv", pds))
print("%-24s %8.3f" % ("pelix import, CR ends", pcr))
print("ratio pelix / numpy.loadtxt  %.2f   (goal <= 0.5)" % (pel / npy))
print("ratio pelix / pandas.read_csv %.2f   (goal <= 1.0)" % (pel / pds))
print("ratio CR ends / LF ends       %.2f   (goal <= 1.2)" % (pcr / pel))
PY
