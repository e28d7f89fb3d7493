#!/usr/bin/env bash
# Reductions of 4096 x 4096 images of bytes, 16-bit, 32-bit and float
# elements run by build/pelix - sum, mean, stdev, max, min, stats and the
# histogram of analyze - against numpy doing the same in this run, on the
# same data (numpy makes the float image, pelix reads it, both convert it
# to each size by truncation) with the same results checked:
#   sum a.sum(), mean a.mean(), stdev np.std(a, ddof=1), max a.max(),
#   min a.min();
#   stats: the size, the non-zero count (np.count_nonzero), the sum, the
#   mean (sum / size), np.std(ddof=1), argmin and argmax (their values
#   read there), the first and last non-zero position (np.argmax of a != 0
#   from either end); for floats the count of elements that are not the
#   missing value (-0.0) too;
#   analyze: np.bincount of the bytes (256 bins); for the other sizes the
#   faster of np.histogram(a, 4096, (0, 4096)) and np.bincount of the items
#   clipped to 0..4095 (the uniform data lie inside that range, so both
#   give pelix's histogram; on the signed data the clipped count alone,
#   np.histogram leaving out the items below 0 that pelix puts in bin 0).
# Two data sets, each printing its own ratios: "uniform" (0..256, all
# positive) and "signed" (standard_normal x 100, about zero, where sums
# wander through zero and across binades; bytes have no signed form). On
# the signed set the sums are checked against the loop's own (np.cumsum in
# doubles runs in item order), the other results against numpy in doubles.
# Floats' sums and every size's extremes of a million items and more run
# in up to four threads in pelix: every operation is also timed held to
# one core (taskset -c 0), its ratio printed beside the first. Each operation
# is timed in blocks of at least 100 ms (pelix: its own clock, time(0) ...
# time(1), around a macro loop of repetitions; numpy: as many calls); each
# time is the best of R blocks. Prints the per-operation times and ratios
# (pelix / numpy; the goal is at most 1.0) and the load average.
#   bench/reduce.sh [build-dir | path/to/pelix]     (R=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
rounds=${R:-3}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
$py -c "import numpy" 2>/dev/null || { echo "python3-numpy is needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ops="sum mean stdev max min stats analyze"
pin=
for set in uniform signed; do
if [ $set = uniform ]; then types="byte integer long real"; else types="integer long real"; fi
$py -c "
import numpy as np
rng = np.random.default_rng(7)
if '$set' == 'uniform':
    (rng.random((4096, 4096)) * 256).astype(np.float32).tofile('$work/rnd.raw')
else:
    (rng.standard_normal((4096, 4096)) * 100).astype(np.float32).tofile('$work/rnd.raw')"

# The data and the variables; then reps(op, type) repetitions of each
# operation in a macro loop (a typed line costs far more than a macro line).
setup() {
  echo "himemsize = 700000"
  echo "declare real array rnd(16777216)"
  echo "read \"rnd.raw\" rnd 64"
  echo "declare number x1"
  echo "declare real array x12(12)"
  for t in $types; do
    # A histogram of its own (a declared destination takes the length of
    # the first histogram stored into it).
    if [ "$t" = byte ]; then echo "declare long array hbyte(256)"; else echo "declare long array h$t(4096)"; fi
    echo "declare $t image i$t(4096,4096)"
    echo "i$t = rnd"
  done
  echo "declare number k1"
}
line() { # op type
  case $1 in
    stats) echo "x12 = stats(i$2)" ;;
    analyze) echo "h$2 = analyze(i$2)" ;;
    *) echo "x1 = $1(i$2)" ;;
  esac
}
for t in $types; do
  for op in $ops; do
    printf 'k1 = 0\nwhile (k1 < reps) {\n%s\nk1 = k1 + 1\n}\n' "$(line "$op" "$t")" > "$work/$op$t.imp"
  done
done
pelix() { (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless $pin "$bin" < "$1" > "$2" 2>&1) || true
  if grep -q ERROR "$work/$2"; then
    echo "pelix reported an error:"; grep -B1 ERROR "$work/$2" | head -20; exit 1
  fi; }
times() { grep -E '^ *-?[0-9]+\.[0-9]+ *$' "$work/$1"; }

# A first pass of 5 repetitions gives each operation's repetitions for a
# block of at least 100 ms.
{
  setup
  echo "declare number reps"
  echo "reps = 5"
  for t in $types; do
    for op in $ops; do printf 'time(0)\nrun %s%s.imp\ntype time(1)\n' "$op" "$t"; done
  done
} > "$work/cal.pelix"
pelix cal.pelix cal.txt
mapfile -t reps < <(times cal.txt | awk '{ n = int(0.12 / ($1 / 5 + 1e-4)) + 1; print (n < 5 ? 5 : n) }')
[ "${#reps[@]}" = $(($(wc -w <<< "$types") * 7)) ] || { echo "unexpected pelix output:"; tail "$work/cal.txt"; exit 1; }

{
  setup
  echo "declare number reps"
  for ((r = 0; r < rounds; r++)); do
    k=0
    for t in $types; do
      for op in $ops; do
        printf 'reps = %d\ntime(0)\nrun %s%s.imp\ntype time(1)\n' "${reps[$k]}" "$op" "$t"
        k=$((k + 1))
      done
    done
  done
  echo "run res.imp"
} > "$work/red.pelix"
# The results, once, from a macro (whose lines are not echoed), one value
# a row (a row of the command window holds 80 characters). A histogram
# has as many bins as its largest value needs, at least 256: the data's
# 256 here.
for t in $types; do
  for op in $ops; do
    line "$op" "$t"
    case $op in
      stats) echo 'ftype "= %.6f\n" x12' ;;
      analyze) echo "ftype \"= %d\\n\" h$t(0:255)" ;;
      *) echo 'ftype "= %.6f\n" x1' ;;
    esac
  done
done > "$work/res.imp"
pelix red.pelix out.txt
pin="taskset -c 0"
pelix red.pelix one.txt
pin=

$py - "$work" "$rounds" "$types" "$ops" "${reps[*]}" "$set" <<'PY'
import os, re, sys, time
import numpy as np
work, rounds = sys.argv[1], int(sys.argv[2])
types, ops = sys.argv[3].split(), sys.argv[4].split()
reps = [int(x) for x in sys.argv[5].split()]
signed = sys.argv[6] == 'signed'
lines = open(os.path.join(work, 'out.txt')).read().splitlines()
vals = [float(l) for l in lines if re.fullmatch(r'\s*-?\d+\.\d+\s*', l)]
got_all = [float(l[1:]) for l in lines if l.startswith('= ')]
n = len(types) * len(ops)
counts = {'stats': 12, 'analyze': 256}
res = []
for t in types:
    for op in ops:
        c = counts.get(op, 1)
        res.append(got_all[:c])
        got_all = got_all[c:]
if len(vals) != n * rounds or got_all or len(res[-1]) != 256:
    sys.exit('unexpected pelix output: %d times' % len(vals))
pel = [min(vals[k + n * r] for r in range(rounds)) / reps[k] for k in range(n)]
ones = [float(l) for l in open(os.path.join(work, 'one.txt')).read().splitlines()
        if re.fullmatch(r'\s*-?\d+\.\d+\s*', l)]
if len(ones) != n * rounds:
    sys.exit('unexpected pelix output on one core: %d times' % len(ones))
one = [min(ones[k + n * r] for r in range(rounds)) / reps[k] for k in range(n)]

f = np.fromfile(os.path.join(work, 'rnd.raw'), np.float32).reshape(4096, 4096)
arr = {'byte': f.astype(np.uint8), 'integer': f.astype(np.int16),
       'long': f.astype(np.int32), 'real': f}

def stats(a):
    n = a.size
    r = a.ravel()
    valid = n - np.count_nonzero((r == 0) & np.signbit(r)) if r.dtype.kind == 'f' else n
    nz = np.count_nonzero(r)
    s = r.sum(dtype=np.float64)
    i0, i1 = r.argmin(), r.argmax()
    first = np.argmax(r != 0) if nz else 0
    last = n - 1 - np.argmax(r[::-1] != 0) if nz else 0
    return [n, valid, nz, s, s / n, np.std(r, ddof=1), r[i0], r[i1], i0, i1, first, last]

def histogram(a):
    return np.histogram(a, 4096, (0, 4096))[0]

def clipcount(a):
    return np.bincount(np.clip(a.ravel(), 0, 4095).astype(np.intp), minlength=4096)

def bytecount(a):
    return np.bincount(a.ravel(), minlength=256)

fn = {'sum': lambda a: a.sum(), 'mean': lambda a: a.mean(), 'stdev': lambda a: np.std(a, ddof=1),
      'max': lambda a: a.max(), 'min': lambda a: a.min(), 'stats': stats}

def best(f, a):
    # Blocks of at least 100 ms, the best of R.
    t0 = time.perf_counter(); f(a); once = time.perf_counter() - t0
    k = max(1, int(0.12 / max(once, 1e-6)) + 1)
    t = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        for _ in range(k):
            f(a)
        t.append((time.perf_counter() - t0) / k)
    return min(t)

def close(p, q, rel):
    # pelix's results are floats, printed to 6 decimals.
    return abs(p - q) <= rel * abs(q) + 2e-6

print('reductions of 4096 x 4096 images, %s data: per operation, best of %d blocks of 100 ms or more (load %s)'
      % (sys.argv[6], rounds, ' '.join('%.1f' % x for x in os.getloadavg())))
worst = worst1 = 0
k = 0
bad = []
for t in types:
    for op in ops:
        a = arr[t]
        note = ''
        got = res[k]
        if op == 'analyze':
            if t == 'byte':
                ref, want = best(bytecount, a), bytecount(a)
            elif signed:
                # (np.histogram leaves out the negative items that bin 0 counts.)
                ref, note, want = best(clipcount, a), 'np.bincount of np.clip', clipcount(a)
            else:
                th, tc = best(histogram, a), best(clipcount, a)
                ref, note = (th, 'np.histogram') if th <= tc else (tc, 'np.bincount of np.clip')
                want = histogram(a)
                if not (want == clipcount(a)).all():
                    sys.exit('np.histogram and np.bincount differ for %s' % t)
            # pelix's first 256 bins (on the uniform data all, the rest of
            # numpy's empty).
            ok = len(got) == 256 and all(g == w for g, w in zip(got, want[:256])) and (signed or not want[256:].any())
        elif op == 'stats':
            ref, want = best(stats, a), stats(a)
            ok = len(got) == 12 and all(close(g, float(w), 2e-6) for g, w in zip(got, want))
        elif signed and op in ('sum', 'mean'):
            # The loop's own sum (and mean) as a float.
            ref = best(fn[op], a)
            s = np.cumsum(a.ravel(), dtype=np.float64)[-1]
            want = np.float32(s if op == 'sum' else s / a.size)
            ok = len(got) == 1 and close(got[0], float(want), 1e-12)
        else:
            ref = best(fn[op], a)
            want = fn[op](a.astype(np.float64)) if signed else fn[op](a)
            ok = len(got) == 1 and close(got[0], float(want), 2e-6)
        if not ok:
            bad.append('%s %s: pelix %s, numpy %s' % (op, t, res[k][:12], list(np.atleast_1d(want))[:12]))
        ratio = pel[k] / ref
        worst = max(worst, ratio)
        worst1 = max(worst1, one[k] / ref)
        print('  %-8s %-8s pelix %8.2f ms   numpy %8.2f ms   ratio %5.2f   one core %8.2f ms ratio %5.2f%s'
              % (op, t, pel[k] * 1e3, ref * 1e3, ratio, one[k] * 1e3, one[k] / ref, '   (' + note + ')' if note else ''))
        k += 1
print('  worst ratio %.2f, on one core %.2f' % (worst, worst1))
if bad:
    print('results differ:')
    for b in bad:
        print('  ' + b)
    sys.exit(1)
PY
done
