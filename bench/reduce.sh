#!/usr/bin/env bash
# Reductions of 4096 x 4096 images of bytes, 16-bit, 32-bit and float
# elements run by build/pelix - sum, mean, stdev, max, min, stats and the
# histogram of analyze - against numpy doing the same in this run:
#   sum a.sum(), mean a.mean(), stdev a.std(ddof=1), max a.max(),
#   min a.min(); stats: the size, the non-zero count, sum, mean, std, min,
#   max, argmin, argmax and the first and last non-zero position;
#   analyze: numpy.bincount of the bytes (256 bins), of the items clipped
#   to 0..4095 for the other sizes.
# Start-up cancels out: pelix times REPS repetitions of each operation with
# its own clock (time(0) ... time(1)). Each time is the best of R rounds.
# Prints the per-operation times and ratios (pelix / numpy; the goal is at
# most 1.0) and the load average.
#   bench/reduce.sh [build-dir | path/to/pelix]     (R=3, REPS=20)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
reps=${REPS:-20}
rounds=${R:-3}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
$py -c "import numpy" 2>/dev/null || { echo "python3-numpy is needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

types="byte integer long real"
ops="sum mean stdev max min stats analyze"
{
  echo "himemsize = 700000"
  echo "declare real array rnd(16777216)"
  echo "rnd = random(16777216, 7, 256)"
  echo "declare number x1"
  echo "declare real array x12(12)"
  echo "declare long array h1(4096)"
  for t in $types; do
    echo "declare $t image i$t(4096,4096)"
    echo "i$t = rnd"
  done
  echo "declare number k1"
  for ((r = 0; r < rounds; r++)); do
    for t in $types; do
      for op in $ops; do
        echo "time(0)"
        echo "run $op$t.imp"
        echo "type time(1)"
      done
    done
  done
} > "$work/red.pelix"
# Each operation REPS times in a macro loop (a typed line costs far more
# than a macro line).
for t in $types; do
  for op in $ops; do
    case $op in
      stats) line="x12 = stats(i$t)" ;;
      analyze) line="h1 = analyze(i$t)" ;;
      *) line="x1 = $op(i$t)" ;;
    esac
    printf 'k1 = 0\nwhile (k1 < %d) {\n%s\nk1 = k1 + 1\n}\n' "$reps" "$line" > "$work/$op$t.imp"
  done
done

(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < red.pelix > out.txt 2>&1) || true
if grep -q ERROR "$work/out.txt"; then
  echo "pelix reported an error:"; grep -B1 ERROR "$work/out.txt" | head -20; exit 1
fi

$py - "$work/out.txt" "$reps" "$rounds" "$types" "$ops" <<'PY'
import os, re, sys, time
import numpy as np
out, reps, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
types, ops = sys.argv[4].split(), sys.argv[5].split()
vals = [float(l) for l in open(out) if re.fullmatch(r'\s*-?\d+\.\d+\s*', l)]
n = len(types) * len(ops)
if len(vals) != n * rounds:
    sys.exit('unexpected pelix output: %d times' % len(vals))
pel = [min(vals[k + n * r] for r in range(rounds)) / reps for k in range(n)]

rng = np.random.default_rng(7)
f = (rng.random((4096, 4096)) * 256).astype(np.float32)
arr = {'byte': f.astype(np.uint8), 'integer': f.astype(np.int16),
       'long': f.astype(np.int32), 'real': f}

def stats(a):
    nz = np.flatnonzero(a)
    return (a.size, np.count_nonzero(a), a.sum(), a.mean(), a.std(ddof=1), a.min(), a.max(),
            a.argmin(), a.argmax(), nz[0] if nz.size else 0, nz[-1] if nz.size else 0)

def hist(a):
    if a.dtype == np.uint8:
        return np.bincount(a.ravel(), minlength=256)
    return np.bincount(np.clip(a.ravel(), 0, 4095).astype(np.intp), minlength=4096)

fn = {'sum': lambda a: a.sum(), 'mean': lambda a: a.mean(), 'stdev': lambda a: a.std(ddof=1),
      'max': lambda a: a.max(), 'min': lambda a: a.min(), 'stats': stats, 'analyze': hist}

def best(f, a):
    t = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        for _ in range(max(1, reps // 4)):
            f(a)
        t.append((time.perf_counter() - t0) / max(1, reps // 4))
    return min(t)

print('reductions of 4096 x 4096 images: per operation, best of %d rounds (load %s)'
      % (rounds, ' '.join('%.1f' % x for x in os.getloadavg())))
worst = 0
k = 0
for t in types:
    for op in ops:
        ref = best(fn[op], arr[t])
        ratio = pel[k] / ref
        worst = max(worst, ratio)
        print('  %-8s %-8s pelix %8.2f ms   numpy %8.2f ms   ratio %5.2f'
              % (op, t, pel[k] * 1e3, ref * 1e3, ratio))
        k += 1
print('  worst ratio %.2f' % worst)
PY
