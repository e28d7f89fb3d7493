#!/usr/bin/env bash
# Whole-array arithmetic in the real program: build/pelix runs c = a + b and
# c = a * 2.5 + b on 4096 x 4096 images of bytes, 16-bit, 32-bit and float
# elements, and numpy does the same in this run. Start-up, declarations and
# the first touch of the arrays cancel out: each case runs twice, with 1 and
# with 1 + REPS repetitions of the operation, and the difference of the two
# wall times is REPS operations. Prints the times and the ratios
# (pelix / numpy; at most 1.0 is the goal). Large element-wise operations
# run on up to four threads in pelix, so it is timed held to one core
# (taskset -c 0) too, with a ratio of its own (numpy runs them in one
# thread).
# Usage: bench/pelix_arith.sh [build folder]   (numpy: python3-numpy)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$build/pelix
[ -x "$bin" ] || { echo "pelix_arith: $bin is not built" >&2; exit 1; }
py=
for p in python3 /usr/bin/python3; do
  if command -v "$p" >/dev/null && "$p" -c 'import numpy' 2>/dev/null; then py=$p; break; fi
done
[ -n "$py" ] || { echo "pelix_arith: no python3 with numpy (apt-get install python3-numpy)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export PELIX_BACKEND=headless PELIX="$build/system"
REPS=${REPS:-100}

# One script: the declarations, then the operation k times.
script() { # type, operation, k
  {
    echo "himemsize = 600000"
    for v in a b c; do echo "declare $1 image $v(4096,4096)"; done
    echo "a = 3"
    echo "b = 5"
    echo "c = 1"
    for ((i = 0; i < $3; i++)); do echo "$2"; done
  } >"$tmp/s.pelix"
}
# Best wall time in ms of five runs of the script (arguments: a command
# that runs the program, such as taskset -c 0).
runms() {
  "$py" - "$bin" "$tmp/s.pelix" "$@" <<'PY'
import subprocess, sys, time
best = None
for _ in range(5):
    with open(sys.argv[2], "rb") as f:
        s = time.perf_counter()
        subprocess.run(sys.argv[3:] + [sys.argv[1]], stdin=f, stdout=subprocess.DEVNULL, check=True)
        t = (time.perf_counter() - s) * 1e3
    best = t if best is None else min(best, t)
print(f"{best:.3f}")
PY
}

one=()
command -v taskset >/dev/null && one=(taskset -c 0)
declare -A ours ours1
for ty in byte integer long real; do
  for op in "c = a + b" "c = a * 2.5 + b"; do
    script "$ty" "$op" 1
    t1=$(runms)
    o1=$([ ${#one[@]} = 0 ] || runms "${one[@]}")
    script "$ty" "$op" $((1 + REPS))
    t2=$(runms)
    o2=$([ ${#one[@]} = 0 ] || runms "${one[@]}")
    ours["$ty|$op"]=$("$py" -c "print(max(($t2 - $t1) / $REPS, 1e-3))")
    [ ${#one[@]} = 0 ] || ours1["$ty|$op"]=$("$py" -c "print(max(($o2 - $o1) / $REPS, 1e-3))")
  done
done

args=()
for k in "${!ours[@]}"; do args+=("$k=${ours[$k]}=${ours1[$k]:-0}"); done
"$py" - "${args[@]}" <<'PY'
import sys, time
import numpy as np

n = 4096 * 4096
types = {"byte": np.uint8, "integer": np.int16, "long": np.int32, "real": np.float32}
k = np.float32(2.5)

def best(f, reps=7):
    t = []
    for _ in range(reps):
        s = time.perf_counter()
        f()
        t.append(time.perf_counter() - s)
    return min(t) * 1e3

ours, one = {}, {}
for a in sys.argv[1:]:
    key, ms, ms1 = a.rsplit("=", 2)
    ours[tuple(key.split("|"))] = float(ms)
    one[tuple(key.split("|"))] = float(ms1)

print(f"{'operation':<28} {'pelix ms':>9} {'numpy ms':>9} {'ratio':>6} {'one core ms':>12} {'ratio':>6}")
worst = worst1 = 0.0
for ty, dt in types.items():
    a = np.full(n, 3, dt)
    b = np.full(n, 5, dt)
    c = np.ones(n, dt)
    refs = {
        "c = a + b": best(lambda: np.add(a, b, out=c)),
        "c = a * 2.5 + b": best(lambda: np.add(a * k, b, out=c, casting="unsafe")),
    }
    for op, ref in refs.items():
        ms, ms1 = ours[(ty, op)], one[(ty, op)]
        worst = max(worst, ms / ref)
        worst1 = max(worst1, ms1 / ref)
        tail = f" {ms1:12.2f} {ms1 / ref:6.2f}" if ms1 else "  (no taskset)"
        print(f"{op + ' ' + ty:<28} {ms:9.2f} {ref:9.2f} {ms / ref:6.2f}{tail}")
print(f"worst ratio {worst:.2f}, held to one core {worst1:.2f}")
PY
