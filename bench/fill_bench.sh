#!/usr/bin/env bash
# Lines and filled polygons drawn from the vector list into a byte image,
# against OpenCV drawing the same coordinates.
#
# python3 writes two vector files, all lying inside the drawing box (0..1023
# x 0..355 on the 1024 x 768 screen of a headless run): 500,000 random line
# segments (a move and a line-to each), and 10,000 star-shaped polygons of
# 20 vertices (a move, 19 line-tos, a fill record of the 20 points and its
# parameter record each). build/pelix loads each with input, binds a
# 1024 x 356 byte image as vimage and times "redraw 0 0" inside the program
# (time(0) / time(1)); cv2.polylines (open, one call for all segments, the
# same pixels as one cv2.line a segment) and cv2.fillPoly (one call a
# polygon, as the program fills them: one call for all would fill their
# union by parity, another image) draw the same coordinates on a uint8
# image of the same size, timed around the calls, in the same run. The
# Python loop round the 10,000 fillPoly calls and the calls' own cost are
# timed apart (the same loop filling a triangle outside the image), and the
# fills' ratio is printed with them and net of them. Each time is the best
# of R runs on both sides. Prints the times, the ratios (PELIX / OpenCV)
# and how many pixels the two images share.
#   bench/fill_bench.sh [build folder] [runs]       (python3-opencv needed)
set -euo pipefail
. "$(dirname "$0")/cvbench.bash" fill_bench "$@"

W=1024
H=356
"$py" - "$work" "$W" "$H" "$root/tests/session" <<'PY'
import sys, math
import numpy as np
work, W, H = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
sys.path.insert(0, sys.argv[4])
from gfxmodel import writevec   # the session tests' vector file writer
rnd = np.random.default_rng(35)
n = 500000
p = np.stack([rnd.integers(0, W, (n, 2)), rnd.integers(0, H, (n, 2))], axis=2)
lines = []
for (x0, y0), (x1, y1) in p.tolist():
    lines += [(x0, y0, 0, 2, 0, 0), (x1, y1, 0, 1, 0, 200)]
np.save(work + '/segs.npy', p.astype(np.int32))
stars, polys = [], []
a = np.arange(20) * 2 * math.pi / 20
for i in range(10000):
    r1, r0 = int(rnd.integers(12, 34)), int(rnd.integers(4, 12))
    cx, cy = int(rnd.integers(r1, W - r1)), int(rnd.integers(r1, H - r1))
    r = np.where(np.arange(20) % 2 == 0, r1, r0)
    pts = np.stack([np.round(cx + r * np.cos(a)), np.round(cy + r * np.sin(a))], axis=1).astype(int)
    polys.append(pts)
    stars += [(int(pts[0][0]), int(pts[0][1]), 0, 2, 0, 0)]
    stars += [(int(x), int(y), 0, 1, 0, 100) for x, y in pts[1:]]
    stars += [(-20, 20, -1, 12, 0, 100), (0, 0, 0, 7, 0, 0)]
np.save(work + '/polys.npy', np.array(polys, np.int32))
writevec(work + '/lines.vec', lines)
writevec(work + '/stars.vec', stars)
PY

{
  echo "declare byte image img($W,$H)"
  echo "declare real t"
  echo "declare number k"
  echo "vimage = img"
  echo "input \"lines.vec\""
  echo "img = 0"
  for i in $(seq "$runs"); do echo "timed lines"; done
  echo "write \"lines.raw\" img"
  echo "img = 0"
  echo "erase vecs"
  echo "input \"stars.vec\""
  echo "img = 0"
  for i in $(seq "$runs"); do echo "timed fills"; done
  echo "write \"fills.raw\" img"
} > "$work/cmds"
cvrun "lines|fills" $((2 * runs))
echo "$res" | "$py" -c '
import sys, time
import numpy as np, cv2
work, W, H, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rs = [l.split() for l in sys.stdin]
tl = min(float(r[1]) for r in rs if r[0] == "lines")
tf = min(float(r[1]) for r in rs if r[0] == "fills")
segs = list(np.load(work + "/segs.npy"))
polys = list(np.load(work + "/polys.npy"))
def best(f):
    t = 1e9
    for _ in range(runs):
        img = np.zeros((H, W), np.uint8)
        t0 = time.perf_counter(); f(img); t = min(t, time.perf_counter() - t0)
    return t, img
def fills(img):
    for q in polys: cv2.fillPoly(img, [q], 100)
tri = np.array([[-10, -10], [-9, -10], [-10, -9]], np.int32)
def nofills(img):
    for q in polys: cv2.fillPoly(img, [tri], 100)
cl, il = best(lambda img: cv2.polylines(img, segs, False, 200))
cf, iff = best(fills)
nf, _ = best(nofills)
pl = np.fromfile(work + "/lines.raw", np.uint8).reshape(H, W)
pf = np.fromfile(work + "/fills.raw", np.uint8).reshape(H, W)
print("pelix:  redraw of %d lines %.4f s, of %d filled polygons %.4f s" % (len(segs), tl, len(polys), tf))
print("opencv: cv2.polylines %.4f s, cv2.fillPoly %.4f s, of which the loop and calls %.4f s" % (cl, cf, nf))
print("ratios: lines %.2f, fills %.2f (one fillPoly a polygon), fills %.2f (net of the loop)"
      % (tl / cl, tf / cf, tf / (cf - nf)))
print("pixels the same as OpenCV drawn: lines %.1f%%, fills %.1f%%"
      % (100.0 * (pl == il).mean(), 100.0 * (pf == iff).mean()))
' "$work" "$W" "$H" "$runs"
