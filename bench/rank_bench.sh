#!/usr/bin/env bash
# Times rank and order of 10^7 floats through build/pelix (the times are
# taken inside the program with its stopwatch, time(0) / time(1)) and the
# same with numpy (a stable argsort and an index gather) on data of the
# same kind (15-bit uniform values, so with as many ties), in one run, and
# prints the times and the ratios (pelix / numpy). Each operation is
# repeated until 100 ms have passed (pelix's clock counts milliseconds);
# both run in one thread.
#   bench/rank_bench.sh [build-dir | path/to/pelix]    (N=10000000 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
n=${N:-10000000}
py=
for p in python3 /usr/bin/python3; do
  if command -v "$p" >/dev/null && "$p" -c 'import numpy' 2>/dev/null; then py=$p; break; fi
done
[ -n "$py" ] || { echo "rank_bench: no python3 with numpy (apt-get install python3-numpy)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$root/bench/stopwatch.bash"
stopwatch "$work/rank.imp" "r = rank(a)"
stopwatch "$work/order.imp" "s = order(a, r)"

# High memory for three arrays of n items and the temporaries of the check.
kb=$(( (n * 4 * 5) / 1024 + 4096 ))
cat > "$work/bench.pelix" <<PLX
himemsize = $kb
declare real array a($n) s($n)
declare long array r($n)
a = random($n, 3, 1000)
$(stopwatch_vars)
run rank.imp
run order.imp
ftype "sorted %.4f\n" min(s(1:$((n - 1))) - s(0:$((n - 2))))
PLX
out=$(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < "$work/bench.pelix")
prank=$(echo "$out" | awk '/^= /{print $2}' | sed -n 1p)
porder=$(echo "$out" | awk '/^= /{print $2}' | sed -n 2p)
sorted=$(echo "$out" | awk '/^sorted /{print $2}')
if [ -z "$prank" ] || [ -z "$porder" ] || [ "$sorted" != "0.0000" ]; then
  echo "rank_bench: the program's run failed:"; echo "$out"; exit 1
fi

env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$py" - "$n" "$prank" "$porder" <<'PY'
import sys, time
import numpy as np
n, prank, porder = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
rng = np.random.default_rng(3)
a = (rng.integers(0, 32768, n) / 32768.0 * 1000).astype(np.float32)
def best(f, reps=3):
    # Blocks of at least 100 ms, the best of three.
    s = time.perf_counter(); r = f(); k = int(0.1 / max(time.perf_counter() - s, 1e-6)) + 1
    t = []
    for _ in range(reps):
        s = time.perf_counter()
        for _ in range(k):
            r = f()
        t.append((time.perf_counter() - s) / k)
    return min(t), r
trank, r = best(lambda: np.argsort(a, kind='stable'))
torder, s = best(lambda: a[r])
assert np.all(np.diff(s) >= 0)
print(f"{'operation':<10} {'pelix s':>9} {'numpy s':>9} {'ratio':>7}")
print(f"{'rank':<10} {prank:9.4f} {trank:9.4f} {prank / trank:7.2f}")
print(f"{'order':<10} {porder:9.4f} {torder:9.4f} {porder / torder:7.2f}")
print(f"{'both':<10} {prank + porder:9.4f} {trank + torder:9.4f} {(prank + porder) / (trank + torder):7.2f}")
PY
