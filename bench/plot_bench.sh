#!/usr/bin/env bash
# One line through 1,000,000 points plotted into a byte image, against
# OpenCV drawing the same points.
#
# python3 writes 1,000,000 float values (noise over 0..299, a fixed seed);
# build/pelix reads them, binds a 1024 x 356 byte image as vimage and times
# inside the program (time(0) / time(1)) "plot y 0 1 200 0 1 10 10 0.001
# 330 1" (style 1, a line; item i at x = 10 + i / 1000, value v at y = 330 -
# v, so every point lies inside the drawing box; kept in the vector list)
# and then "redraw 0 0" of the 1,000,000 records it wrote.
# cv2.polylines draws the same screen points (computed in float32 as the
# plot computes them) as one open polyline on a uint8 image of the same
# size, timed around the call, in the same run. Each time is the best of R
# runs on both sides. Prints the times, the ratios (PELIX / OpenCV) and how
# many pixels the two images share.
#   bench/plot_bench.sh [build folder] [runs]       (python3-opencv needed)
set -euo pipefail
. "$(dirname "$0")/cvbench.bash" plot_bench "$@"

W=1024
H=356
N=1000000
"$py" - "$work" "$N" <<'PY'
import sys
import numpy as np
work, n = sys.argv[1], int(sys.argv[2])
rnd = np.random.default_rng(36)
(rnd.random(n) * 299).astype(np.float32).tofile(work + '/y.dat')
PY

{
  echo "declare byte image img($W,$H)"
  echo "declare real array y($N)"
  echo "declare real t"
  echo "read \"y.dat\" y 64"
  echo "vimage = img"
  for i in $(seq "$runs"); do
    echo "erase vecs"
    echo "img = 0"
    echo "time(0)"
    echo "plot y 0 1 200 0 1 10 10 0.001 330 1"
    echo "t = time(1)"
    echo "ftype \"plot %.4f %d\\n\" t nvecs"
    echo "timed records"
  done
  echo "write \"plot.raw\" img"
} > "$work/cmds"
cvrun "plot|records" $((2 * runs))
echo "$res" | "$py" -c '
import sys, time
import numpy as np, cv2
work, W, H, N, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
rs = [l.split() for l in sys.stdin]
tp = min(float(r[1]) for r in rs if r[0] == "plot")
tr = min(float(r[1]) for r in rs if r[0] == "records")
assert all(int(r[2]) == N for r in rs if r[0] == "plot"), "not every point was plotted"
y = np.fromfile(work + "/y.dat", np.float32)
f = np.float32
xs = (np.arange(N, dtype=np.float32) * f(0.001) + f(10)).astype(np.int32)
ys = (f(330) - y * f(1)).astype(np.int32)
pts = np.stack([xs, ys], axis=1).reshape(-1, 1, 2)
tc = 1e9
for _ in range(runs):
    img = np.zeros((H, W), np.uint8)
    t0 = time.perf_counter(); cv2.polylines(img, [pts], False, 200); tc = min(tc, time.perf_counter() - t0)
p = np.fromfile(work + "/plot.raw", np.uint8)[-W * H:].reshape(H, W)
print("pelix:  plot of %d points %.4f s, redraw of its records %.4f s" % (N, tp, tr))
print("opencv: cv2.polylines %.4f s" % tc)
print("ratios: plot %.2f, redraw %.2f" % (tp / tc, tr / tc))
print("pixels the same as OpenCV drawn: %.1f%%" % (100.0 * (p == img).mean()))
' "$work" "$W" "$H" "$N" "$runs"
