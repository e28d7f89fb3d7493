#!/usr/bin/env bash
# Times element-wise arithmetic through the evaluator (build/arith_bench)
# and the same operations in numpy on the same 4096 x 4096 arrays, in one
# run, and prints the times and the ratios (evaluator / numpy). Large
# element-wise operations run on up to four threads in the evaluator, so it
# is timed held to one core (taskset -c 0) too, with a ratio of its own
# (numpy runs these in one thread).
# Usage: bench/arith_bench.sh [build folder]   (numpy: python3-numpy)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$build/arith_bench
if [ ! -x "$bin" ]; then
  echo "arith_bench: $bin is not built (PELIX_BENCH=ON and libbenchmark-dev needed)" >&2
  exit 1
fi
py=
for p in python3 /usr/bin/python3; do
  if command -v "$p" >/dev/null && "$p" -c 'import numpy' 2>/dev/null; then py=$p; break; fi
done
if [ -z "$py" ]; then
  echo "arith_bench: no python3 with numpy (apt-get install python3-numpy)" >&2
  exit 1
fi
out=$(mktemp)
one=$(mktemp)
trap 'rm -f "$out" "$one"' EXIT
"$bin" --benchmark_out="$out" --benchmark_out_format=json >&2
if command -v taskset >/dev/null; then
  taskset -c 0 "$bin" --benchmark_out="$one" --benchmark_out_format=json >&2
else
  echo '{"benchmarks": []}' > "$one"
fi
# Old OpenBLAS work-arounds slow numpy down; they do not apply to this run.
env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$py" - "$out" "$one" <<'PY'
import json, sys, time
import numpy as np

n = 4096 * 4096
i = np.arange(n, dtype=np.int64)
va = (i % 2000) - 1000
vb = (i % 317) * 3
arrays = {
    "int16": (va.astype(np.int16), vb.astype(np.int16), np.empty(n, np.int16)),
    "float32": (va.astype(np.float32), vb.astype(np.float32), np.empty(n, np.float32)),
}
k = np.float32(2.5)
ops = {
    "add": lambda a, b, c: np.add(a, b, out=c),
    "muladd": lambda a, b, c: np.add(a * k, b, out=c, casting="unsafe"),
}

def best(f, *args, reps=5):
    t = []
    for _ in range(reps):
        s = time.perf_counter()
        f(*args)
        t.append(time.perf_counter() - s)
    return min(t) * 1e3

def times(path):
    got = {}
    for b in json.load(open(path))["benchmarks"]:
        if b.get("error_occurred"):
            sys.exit(f"arith_bench: {b['name']}: {b.get('error_message', 'failed')}")
        name = b["name"].split("/")
        unit = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
        got[(name[0][3:], name[1])] = b["real_time"] * unit
    return got

ours, one = times(sys.argv[1]), times(sys.argv[2])
print(f"{'operation':<22} {'evaluator ms':>13} {'numpy ms':>10} {'ratio':>8} {'one core ms':>12} {'ratio':>8}")
for (op, ty), ms in sorted(ours.items()):
    a, b, c = arrays[ty]
    ref = best(ops[op], a, b, c)
    text = "c = a + b" if op == "add" else "c = a * 2.5 + b"
    o = one.get((op, ty))
    tail = f" {o:12.1f} {o / ref:8.2f}" if o else "  (no taskset)"
    print(f"{text + ' ' + ty:<22} {ms:13.1f} {ref:10.2f} {ms / ref:8.2f}{tail}")
PY
