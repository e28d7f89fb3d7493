#!/usr/bin/env bash
# Times, through build/pelix, a 30-degree rotation of a 4096 x 4096 byte
# image (the function transform, nearest source pixel) and the mapping of a
# 4096 x 4096 16-bit image and of a byte image through lookup tables (the
# function map), and the same operations with OpenCV (cv2.warpAffine
# nearest, cv2.LUT) and numpy (a 16-bit table lookup, which cv2.LUT cannot
# do) in the same run; prints each time with the ratio pelix / reference.
# Each time is the best of R runs (default 5); a pelix run times K operations
# in a row (default 10), since its clock counts milliseconds.
#   bench/colour_bench.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
reps=${R:-5}
inner=${K:-10}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
$py -c "import numpy, cv2" 2>/dev/null || { echo "python3-numpy and python3-opencv are needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
  for op in "qb = transform(qa)" "qd = map(qc, qlut)" "qb = map(qa, qlut8)"; do
    for ((i = 0; i < reps; i++)); do
      echo "time(0)"
      for ((j = 0; j < inner; j++)); do echo "$op"; done
      echo "type time(1)"
    done
  done
} > "$work/ops.pelix"
(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < ops.pelix > out.txt 2>&1) || true
if grep -q ERROR "$work/out.txt"; then
  echo "pelix reported an error:"; grep -B1 ERROR "$work/out.txt"; exit 1
fi
$py - "$work/out.txt" "$reps" "$inner" <<'PY'
import sys, time, re
import numpy as np, cv2
out, reps, inner = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
vals = [float(l) for l in open(out) if re.fullmatch(r'\s*-?\d+\.\d+\s*', l)]
if len(vals) != 3 * reps:
    sys.exit('unexpected pelix output: %d times' % len(vals))
pel = [min(vals[i * reps:(i + 1) * reps]) / inner for i in range(3)]

def best(f):
    t = []
    for _ in range(reps):
        t0 = time.perf_counter(); f(); t.append(time.perf_counter() - t0)
    return min(t)

side = 4096
rng = np.random.default_rng(7)
img = rng.integers(0, 251, (side, side), dtype=np.uint8)
w16 = rng.integers(0, 4096, (side, side), dtype=np.uint16)
lut16 = (np.arange(4096) * 3).astype(np.uint16)
lut8 = (255 - np.arange(256)).astype(np.uint8)
rot = cv2.getRotationMatrix2D((2048, 2048), 30, 1.0)
ref = [best(lambda: cv2.warpAffine(img, rot, (side, side), flags=cv2.INTER_NEAREST)),
       best(lambda: lut16[w16]),
       best(lambda: cv2.LUT(img, lut8))]
names = ['transform: rotate 30 deg, 4096x4096 bytes vs cv2.warpAffine nearest',
         'map: 16-bit through 4096 entries           vs numpy lut[img]',
         'map: bytes through 256 entries             vs cv2.LUT']
for n, p, r in zip(names, pel, ref):
    print('%s: pelix %7.1f ms, reference %7.1f ms, ratio %5.2f' % (n, p * 1e3, r * 1e3, p / r))
PY
