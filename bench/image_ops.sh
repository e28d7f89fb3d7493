#!/usr/bin/env bash
# Times image operations run by build/pelix against numpy and OpenCV in the
# same run, and prints each time with the ratio (pelix / reference):
#   - fft of a 1024 x 1024 complex image (a 2048 x 1024 float image) vs
#     numpy.fft.fft2;
#   - convolve with a 5 x 5 kernel of a byte image vs cv2.filter2D;
#   - filter kind 3 (3 x 3 mean) vs cv2.blur (3, 3);
#   - smooth with width 3 (running mean along rows) vs cv2.blur (3, 1).
# The byte image is 4096 x 3904 pixels (a variable's block of the word
# memory holds at most 16 MB). Each time is the best of R blocks (default
# 5) of at least 100 ms (pelix: its own clock around a macro loop of the
# operation; the references: as many calls). pelix splits these operations
# over up to four threads and OpenCV uses its threads too, so each is timed
# twice: both with their threads, and pelix held to one core (taskset -c 0)
# against OpenCV in one thread (cv2.setNumThreads(1); numpy's fft has one).
#   bench/image_ops.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
reps=${R:-5}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
$py -c "import numpy, cv2" 2>/dev/null || { echo "python3-numpy and python3-opencv are needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$root/bench/stopwatch.bash"
W=4096 H=3904 N=$((4096 * 3904))

{
  echo "himemsize = 400000"
  echo "declare byte image m($W,$H)"
  echo "declare byte image o($W,$H)"
  echo "declare byte array a($N)"
  echo "a = random($N, 7, 256)"
  echo "m = 0"
  echo "m = m + a"
  echo "declare integer image k(5,5)"
  echo "k = 1"
  echo "declare real image f(2048,1024)"
  echo "declare real array fa(2097152)"
  echo "fa = random(2097152, 3, 100)"
  echo "f = 0"
  echo "f = f + fa"
  stopwatch_vars
  for ((i = 0; i < reps; i++)); do
    for k in 1 2 3 4; do echo "run op$k.imp"; done
  done
} > "$work/ops.pelix"
k=0
for op in "fft f" "o = convolve(m, k, 0, 0, 0, 5)" "o = filter(m, 3, 3)" "o = smooth(m, 3)"; do
  k=$((k + 1))
  stopwatch "$work/op$k.imp" "$op"
done
run() { # output file, command words before the program
  local out=$1
  shift
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$@" "$bin" < ops.pelix > "$out" 2>&1) || true
  if grep -q ERROR "$work/$out"; then
    echo "pelix reported an error:"; grep -B1 ERROR "$work/$out"; exit 1
  fi
}
run out.txt
: > "$work/one.txt"
command -v taskset >/dev/null && run one.txt taskset -c 0

$py - "$work" "$reps" <<'PY'
import os, sys, time
import numpy as np, cv2
work, reps = sys.argv[1], int(sys.argv[2])
def times(name):
    vals = [float(l[2:]) for l in open(os.path.join(work, name)) if l.startswith('= ')]
    return [min(vals[i::4]) for i in range(4)] if len(vals) == 4 * reps else None
pel, one = times('out.txt'), times('one.txt')
if pel is None:
    sys.exit('unexpected pelix output')

def best(f):
    # Blocks of at least 100 ms, the best of R.
    t0 = time.perf_counter(); f(); k = int(0.1 / max(time.perf_counter() - t0, 1e-6)) + 1
    t = []
    for _ in range(reps):
        t0 = time.perf_counter()
        for _ in range(k):
            f()
        t.append((time.perf_counter() - t0) / k)
    return min(t)

rng = np.random.default_rng(7)
m = rng.integers(0, 256, (3904, 4096), dtype=np.uint8)
c = (rng.random((1024, 1024)) * 100 + 1j * rng.random((1024, 1024)) * 100).astype(np.complex64)
k = np.ones((5, 5), np.float32)
fns = [lambda: np.fft.fft2(c),
       lambda: cv2.filter2D(m, -1, k),
       lambda: cv2.blur(m, (3, 3)),
       lambda: cv2.blur(m, (3, 1))]
ref = [best(f) for f in fns]
threads = cv2.getNumThreads()
cv2.setNumThreads(1)
ref1 = [best(f) for f in fns]
names = ['fft 1024x1024 complex   vs numpy.fft.fft2',
         'convolve 5x5 4096x3904  vs cv2.filter2D',
         'filter mean 3x3         vs cv2.blur(3,3)',
         'smooth width 3          vs cv2.blur(3,1)']
print('threads: pelix its own, OpenCV %d; one core: pelix taskset -c 0, OpenCV 1' % threads)
for n, p, r, p1, r1 in zip(names, pel, ref, one or [0] * 4, ref1):
    tail = ('; one core: pelix %7.1f ms, reference %7.1f ms, ratio %5.2f' % (p1 * 1e3, r1 * 1e3, p1 / r1)
            if one else '; (no taskset)')
    print('%s: pelix %7.1f ms, reference %7.1f ms, ratio %5.2f%s' % (n, p * 1e3, r * 1e3, p / r, tail))
PY
