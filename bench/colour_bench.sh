#!/usr/bin/env bash
# Times, through build/pelix, a 30-degree rotation of a 4096 x 4096 byte
# image (the function transform, nearest source pixel) and the mapping of a
# 4096 x 4096 16-bit image and of a byte image through lookup tables (the
# function map), and the same operations with OpenCV (cv2.warpAffine
# nearest, cv2.LUT) and numpy (a 16-bit table lookup, which cv2.LUT cannot
# do) in the same run; prints each time with the ratio pelix / reference.
# Each time is the best of R blocks (default 5) of at least 100 ms (pelix:
# its own clock around a macro loop of the operation; the references: as
# many calls). pelix splits these operations over up to four threads and
# OpenCV uses its threads too, so each is timed twice: both with their
# threads, and pelix held to one core (taskset -c 0) against OpenCV in one
# thread (cv2.setNumThreads(1)).
#   bench/colour_bench.sh [build-dir | path/to/pelix]
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
S=4096 N=$((4096 * 4096))
{
  echo "himemsize = 400000"
  echo "declare byte image qa($S,$S)"
  echo "declare byte image qb($S,$S)"
  echo "declare integer image qc($S,$S)"
  echo "declare integer image qd($S,$S)"
  echo "declare byte array rsrc($N)"
  echo "rsrc = random($N, 7, 251)"
  echo "qa = 0"
  echo "qa = qa + rsrc"
  echo "declare integer array rsrc16($N)"
  echo "rsrc16 = random($N, 9, 4096)"
  echo "qc = 0"
  echo "qc = qc + rsrc16"
  echo "release rsrc"
  echo "release rsrc16"
  echo "declare integer array qlut(4096)"
  echo "qlut = ramp(4096, 0, 3)"
  echo "declare byte array qlut8(256)"
  echo "qlut8 = ramp(256, 255, -1)"
  echo "pin qa 2048 2048 0"
  echo "rotate qa 0 0 30"
  stopwatch_vars
  for ((i = 0; i < reps; i++)); do
    for k in 1 2 3; do echo "run op$k.imp"; done
  done
} > "$work/ops.pelix"
k=0
for op in "qb = transform(qa)" "qd = map(qc, qlut)" "qb = map(qa, qlut8)"; do
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
    return [min(vals[i::3]) for i in range(3)] if len(vals) == 3 * reps else None
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

side = 4096
rng = np.random.default_rng(7)
img = rng.integers(0, 251, (side, side), dtype=np.uint8)
w16 = rng.integers(0, 4096, (side, side), dtype=np.uint16)
lut16 = (np.arange(4096) * 3).astype(np.uint16)
lut8 = (255 - np.arange(256)).astype(np.uint8)
rot = cv2.getRotationMatrix2D((2048, 2048), 30, 1.0)
fns = [lambda: cv2.warpAffine(img, rot, (side, side), flags=cv2.INTER_NEAREST),
       lambda: lut16[w16],
       lambda: cv2.LUT(img, lut8)]
ref = [best(f) for f in fns]
threads = cv2.getNumThreads()
cv2.setNumThreads(1)
ref1 = [best(f) for f in fns]
names = ['transform: rotate 30 deg, 4096x4096 bytes vs cv2.warpAffine nearest',
         'map: 16-bit through 4096 entries           vs numpy lut[img]',
         'map: bytes through 256 entries             vs cv2.LUT']
print('threads: pelix its own, OpenCV %d; one core: pelix taskset -c 0, OpenCV 1 (numpy: 1 both times)' % threads)
for n, p, r, p1, r1 in zip(names, pel, ref, one or [0] * 3, ref1):
    tail = ('; one core: pelix %7.1f ms, reference %7.1f ms, ratio %5.2f' % (p1 * 1e3, r1 * 1e3, p1 / r1)
            if one else '; (no taskset)')
    print('%s: pelix %7.1f ms, reference %7.1f ms, ratio %5.2f%s' % (n, p * 1e3, r * 1e3, p / r, tail))
PY
