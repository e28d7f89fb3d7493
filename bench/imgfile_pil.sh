#!/usr/bin/env bash
# TIFF and JPEG write and read of a 4096 x 4096 byte image by build/pelix
# against python3's PIL doing the same in this run:
#   write TIFF   pelix: write "g.tif" qa      PIL: the same pixels as an 8-bit
#                                             palette image (grey ramp), saved
#                                             as uncompressed TIFF
#   read TIFF    pelix: read "g.tif" qb       PIL: the file pelix wrote, opened
#                                             and its pixels taken as an array
#   write JPEG   pelix: write "g.jpg" qa      PIL: the grey pixels made colour,
#                                             saved at pelix's quality (100)
#   read JPEG    pelix: read "g.jpg" qb       PIL: the file pelix wrote, opened,
#                                             made grey and taken as an array
# Each program times the operation itself (pelix time(0) ... time(1), Python
# perf_counter), so start-up does not count; each time is the best of R
# runs. Prints the times and the ratios (pelix / PIL; the goal is at most
# 1.0) and the load average.
#   bench/imgfile_pil.sh [build-dir | path/to/pelix]     (R=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
reps=${R:-3}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
$py -c "import numpy, PIL" 2>/dev/null || { echo "python3-numpy and python3-pil are needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ops=('write "g.tif" qa' 'read "g.tif" qb' 'write "g.jpg" qa' 'read "g.jpg" qb')
{
  echo "himemsize = 200000"
  echo "declare byte image qa(4096,4096)"
  echo "declare byte image qb(1,1)"
  echo "qa = 0"
  echo "qa = qa + random(16777216, 7, 251)"
  for ((r = 0; r < reps; r++)); do
    for op in "${ops[@]}"; do printf 'time(0)\n%s\ntype time(1)\n' "$op"; done
  done
} > "$work/io.pelix"
(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < io.pelix > out.txt 2>&1) || true
if grep -q ERROR "$work/out.txt"; then
  echo "pelix reported an error:"; grep -B1 ERROR "$work/out.txt" | head; exit 1
fi

$py - "$work" "$reps" <<'PY'
import os, re, sys, time
import numpy as np
from PIL import Image
work, reps = sys.argv[1], int(sys.argv[2])
vals = [float(l) for l in open(os.path.join(work, 'out.txt')) if re.fullmatch(r'\s*-?\d+\.\d+\s*', l)]
if len(vals) != 4 * reps:
    sys.exit('unexpected pelix output: %d times' % len(vals))
pel = [min(vals[k + 4 * r] for r in range(reps)) for k in range(4)]
a = np.random.default_rng(7).integers(0, 251, (4096, 4096), dtype=np.uint8)
grey = [v for i in range(256) for v in (i, i, i)]
def wtif():
    im = Image.fromarray(a, 'P')
    im.putpalette(grey)
    im.save(os.path.join(work, 'p.tif'))
def rtif():
    return np.asarray(Image.open(os.path.join(work, 'g.tif')))
def wjpg():
    Image.fromarray(np.stack([a, a, a], axis=-1)).save(os.path.join(work, 'p.jpg'), quality=100)
def rjpg():
    return np.asarray(Image.open(os.path.join(work, 'g.jpg')).convert('L'))
def best(f):
    t = []
    for _ in range(reps):
        t0 = time.perf_counter(); f(); t.append(time.perf_counter() - t0)
    return min(t)
names = ['write TIFF', 'read TIFF', 'write JPEG', 'read JPEG']
print('4096 x 4096 byte image files: best of %d runs (load %s)'
      % (reps, ' '.join('%.1f' % x for x in os.getloadavg())))
for n, p, f in zip(names, pel, [wtif, rtif, wjpg, rjpg]):
    r = best(f)
    print('  %-11s pelix %7.1f ms   PIL %7.1f ms   ratio %5.2f' % (n, p * 1e3, r * 1e3, p / r))
PY
