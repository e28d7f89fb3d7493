#!/usr/bin/env bash
# Times image operations run by build/pelix against numpy and OpenCV in the
# same run, and prints each time with the ratio (pelix / reference):
#   - fft of a 1024 x 1024 complex image (a 2048 x 1024 float image) vs
#     numpy.fft.fft2;
#   - convolve with a 5 x 5 kernel of a byte image vs cv2.filter2D;
#   - filter kind 3 (3 x 3 mean) vs cv2.blur (3, 3);
#   - smooth with width 3 (running mean along rows) vs cv2.blur (3, 1).
# The byte image is 4096 x 3904 pixels (a variable's block of the word
# memory holds at most 16 MB). Each time is the best of R runs (default 5).
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
  for op in "fft f" "o = convolve(m, k, 0, 0, 0, 5)" "o = filter(m, 3, 3)" "o = smooth(m, 3)"; do
    for ((i = 0; i < reps; i++)); do
      printf 'time(0)\n%s\ntype time(1)\n' "$op"
    done
  done
} > "$work/ops.pelix"

(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < ops.pelix > out.txt 2>&1) || true
if grep -q ERROR "$work/out.txt"; then
  echo "pelix reported an error:"; grep -B1 ERROR "$work/out.txt"; exit 1
fi

$py - "$work/out.txt" "$reps" <<'PY'
import sys, time, re
import numpy as np, cv2
out, reps = sys.argv[1], int(sys.argv[2])
vals = [float(l) for l in open(out) if re.fullmatch(r'\s*-?\d+\.\d+\s*', l)]
if len(vals) != 4 * reps:
    sys.exit('unexpected pelix output: %d times' % len(vals))
pel = [min(vals[i * reps:(i + 1) * reps]) for i in range(4)]

def best(f):
    t = []
    for _ in range(reps):
        t0 = time.perf_counter(); f(); t.append(time.perf_counter() - t0)
    return min(t)

rng = np.random.default_rng(7)
m = rng.integers(0, 256, (3904, 4096), dtype=np.uint8)
c = (rng.random((1024, 1024)) * 100 + 1j * rng.random((1024, 1024)) * 100).astype(np.complex64)
k = np.ones((5, 5), np.float32)
ref = [best(lambda: np.fft.fft2(c)),
       best(lambda: cv2.filter2D(m, -1, k)),
       best(lambda: cv2.blur(m, (3, 3))),
       best(lambda: cv2.blur(m, (3, 1)))]
names = ['fft 1024x1024 complex   vs numpy.fft.fft2',
         'convolve 5x5 4096x3904  vs cv2.filter2D',
         'filter mean 3x3         vs cv2.blur(3,3)',
         'smooth width 3          vs cv2.blur(3,1)']
for n, p, r in zip(names, pel, ref):
    print('%s: pelix %7.1f ms, reference %7.1f ms, ratio %5.2f' % (n, p * 1e3, r * 1e3, p / r))
PY
