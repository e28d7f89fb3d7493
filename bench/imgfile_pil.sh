#!/usr/bin/env bash
# TIFF and JPEG write and read of a 4096 x 4096 byte image by build/pelix
# against python3's PIL doing the same in this run:
#   write TIFF   pelix: write "g.tif" qa      PIL: the same pixels as an 8-bit
#                                             palette image (grey ramp), saved
#                                             as uncompressed TIFF
#   read TIFF    both read the same files: the one pelix wrote (4096 strips
#                of a row each, as the write command lays it out) and the
#                one PIL wrote; one ratio each
#   write JPEG   pelix: write "g.jpg" qa      PIL: the grey pixels made colour,
#                                             saved at pelix's quality (100)
#   read JPEG    pelix: read "g.jpg" qb       PIL: the file pelix wrote, opened,
#                                             made grey and taken as an array
# Each program times the operation itself (pelix time(0) ... time(1), Python
# perf_counter), so start-up does not count; a TIFF operation is timed over
# N=8 repeats (the program's clock counts milliseconds), and each time is
# the best of R runs. The pixels each program read are checked against the image. Prints
# the times and the ratios (pelix / PIL; the goal is at most 1.0) and the
# load average.
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

# The image both programs use, and PIL's TIFF of it (written before pelix
# runs, so that pelix reads it too).
$py - "$work" <<'PY'
import os, sys
import numpy as np
from PIL import Image
a = np.random.default_rng(7).integers(0, 251, (4096, 4096), dtype=np.uint8)
a.tofile(os.path.join(sys.argv[1], 'a.raw'))
im = Image.fromarray(a, 'P')
im.putpalette([v for i in range(256) for v in (i, i, i)])
im.save(os.path.join(sys.argv[1], 'p.tif'))
PY

ops=('write "g.tif" qa' 'read "g.tif" qb' 'read "p.tif" qc' 'write "g.jpg" qa' 'read "g.jpg" qb')
times=(8 8 8 1 1)
{
  echo "himemsize = 200000"
  echo "declare byte image qa(4096,4096)"
  echo "declare byte image qb(1,1)"
  echo "declare byte image qc(1,1)"
  echo 'read "a.raw" qa 64'
  for ((r = 0; r < reps; r++)); do
    for k in "${!ops[@]}"; do
      echo 'time(0)'
      for ((n = 0; n < times[k]; n++)); do echo "${ops[k]}"; done
      printf 'r1 = time(1) * 1000 / %d\ntype r1\n' "${times[k]}"
    done
  done
  echo 'read "g.tif" qb'
  echo 'write "qb.raw" qb 64'
  echo 'write "qc.raw" qc 64'
} > "$work/io.pelix"
(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < io.pelix > out.txt 2>&1) || true
if grep -q ERROR "$work/out.txt"; then
  echo "pelix reported an error:"; grep -B1 ERROR "$work/out.txt" | head; exit 1
fi

$py - "$work" "$reps" "${times[*]}" <<'PY'
import os, re, sys, time
import numpy as np
from PIL import Image
work, reps = sys.argv[1], int(sys.argv[2])
times = [int(x) for x in sys.argv[3].split()]
nops = 5
vals = [float(l) for l in open(os.path.join(work, 'out.txt')) if re.fullmatch(r'\s*-?\d+\.\d+\s*', l)]
if len(vals) != nops * reps:
    sys.exit('unexpected pelix output: %d times' % len(vals))
pel = [min(vals[k + nops * r] for r in range(reps)) / 1000 for k in range(nops)]  # ms: seconds
a = np.fromfile(os.path.join(work, 'a.raw'), np.uint8).reshape(4096, 4096)
for name in ('qb.raw', 'qc.raw'):
    got = np.fromfile(os.path.join(work, name), np.uint8)
    if got.size != a.size or (got.reshape(a.shape) != a).any():
        sys.exit('pelix read other pixels (%s)' % name)
grey = [v for i in range(256) for v in (i, i, i)]
def wtif():
    im = Image.fromarray(a, 'P')
    im.putpalette(grey)
    im.save(os.path.join(work, 'p2.tif'))
def rtif(name):
    return lambda: np.asarray(Image.open(os.path.join(work, name)))
def wjpg():
    Image.fromarray(np.stack([a, a, a], axis=-1)).save(os.path.join(work, 'p.jpg'), quality=100)
def rjpg():
    return np.asarray(Image.open(os.path.join(work, 'g.jpg')).convert('L'))
for name in ('g.tif', 'p.tif'):
    if (rtif(name)() != a).any():
        sys.exit('PIL read other pixels (%s)' % name)
def best(f, n):
    t = []
    for _ in range(reps):
        t0 = time.perf_counter()
        for _ in range(n):
            f()
        t.append((time.perf_counter() - t0) / n)
    return min(t)
names = ['write TIFF', "read pelix's TIFF", "read PIL's TIFF", 'write JPEG', 'read JPEG']
print('4096 x 4096 byte image files: best of %d runs (load %s)'
      % (reps, ' '.join('%.1f' % x for x in os.getloadavg())))
for n, p, f, k in zip(names, pel, [wtif, rtif('g.tif'), rtif('p.tif'), wjpg, rjpg], times):
    r = best(f, k)
    print('  %-18s pelix %7.1f ms   PIL %7.1f ms   ratio %5.2f' % (n, p * 1e3, r * 1e3, p / r))
PY
