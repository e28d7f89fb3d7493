#!/usr/bin/env bash
# Times, through build/pelix, writing and reading back a 4096 x 4096 8-bit
# image and a 4096 x 4096 rgb image as TIFF and as JPEG (write then read),
# and ImageMagick's convert doing the same (raw pixels to the file, the file
# back to raw pixels) in the same run; prints each time with the ratio
# pelix / convert. Each time is the best of R runs (default 3); pelix times
# each operation with its own clock over and over until 100 ms have passed
# (its clock counts milliseconds), convert a whole process. Both read and
# write in one thread.
#   bench/imgfile_bench.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
reps=${R:-3}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
command -v convert >/dev/null || { echo "imagemagick is needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$root/bench/stopwatch.bash"
S=4096 N=$((4096 * 4096))
{
  echo "himemsize = 400000"
  echo "declare byte image qa($S,$S)"
  echo "declare byte image qb(1,1)"
  echo "declare image rgb qr($S,$S)"
  echo "declare image rgb qs(1,1)"
  echo "declare byte array rsrc($N)"
  echo "rsrc = random($N, 7, 251)"
  echo "qa = 0"
  echo "qa = qa + rsrc"
  echo "qr = 0"
  echo "qr = qr + rsrc"
  echo "release rsrc"
  stopwatch_vars
  for ((k = 0; k < 8; k++)); do
    for ((i = 0; i < reps; i++)); do echo "run op$k.imp"; done
  done
} > "$work/ops.pelix"
k=0
for op in 'write "g.tif" qa 16' 'read "g.tif" qb' 'write "c.tif" qr 16' 'read "c.tif" qs' \
          'write "g.jpg" qa 12' 'read "g.jpg" qb' 'write "c.jpg" qr 12' 'read "c.jpg" qs'; do
  stopwatch "$work/op$k.imp" "$op"
  k=$((k + 1))
done
(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < ops.pelix > out.txt 2>&1) || true
if grep -q ERROR "$work/out.txt"; then
  echo "pelix reported an error:"; grep -B1 ERROR "$work/out.txt"; exit 1
fi
$py - "$work" "$reps" <<'PY'
import os, re, subprocess, sys, time
work, reps = sys.argv[1], int(sys.argv[2])
vals = [float(l[2:]) for l in open(os.path.join(work, 'out.txt')) if l.startswith('= ')]
if len(vals) != 8 * reps:
    sys.exit('unexpected pelix output: %d times' % len(vals))
pel = [min(vals[i * reps:(i + 1) * reps]) for i in range(8)]
side = 4096
rnd = os.urandom(side * side)
open(os.path.join(work, 'g.raw'), 'wb').write(rnd)
open(os.path.join(work, 'c.raw'), 'wb').write(rnd * 3)
def best(*cmd):
    t = []
    for _ in range(reps):
        t0 = time.perf_counter()
        subprocess.run(cmd, cwd=work, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t.append(time.perf_counter() - t0)
    return min(t)
sz = '%dx%d' % (side, side)
ref = [best('convert', '-size', sz, '-depth', '8', 'gray:g.raw', '-compress', 'none', 'm.tif'),
       best('convert', 'm.tif', 'gray:o.raw'),
       best('convert', '-size', sz, '-depth', '8', 'rgb:c.raw', '-compress', 'none', 'n.tif'),
       best('convert', 'n.tif', 'rgb:o.raw'),
       best('convert', '-size', sz, '-depth', '8', 'gray:g.raw', '-quality', '100', 'm.jpg'),
       best('convert', 'm.jpg', 'gray:o.raw'),
       best('convert', '-size', sz, '-depth', '8', 'rgb:c.raw', '-quality', '100', 'n.jpg'),
       best('convert', 'n.jpg', 'rgb:o.raw')]
names = ['TIFF 8-bit write', 'TIFF 8-bit read', 'TIFF rgb write', 'TIFF rgb read',
         'JPEG 8-bit write', 'JPEG 8-bit read', 'JPEG rgb write', 'JPEG rgb read']
print('%-18s %10s %10s %7s' % ('operation', 'pelix s', 'convert s', 'ratio'))
for n, p, r in zip(names, pel, ref):
    print('%-18s %10.3f %10.3f %7.2f' % (n, p, r, p / r))
for kind, idx in (('TIFF', (0, 1, 2, 3)), ('JPEG', (4, 5, 6, 7))):
    p = sum(pel[i] for i in idx); r = sum(ref[i] for i in idx)
    print('%s write+read total ratio %.2f' % (kind, p / r))
PY
