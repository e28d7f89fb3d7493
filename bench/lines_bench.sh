#!/usr/bin/env bash
# Lines and filled ellipses drawn from the vector list into a byte image,
# against OpenCV drawing the same geometry.
#
# python3 writes two vector files: 100,000 random line segments (a move and
# a line-to each) and 10,000 filled ellipses (a move to the centre and an
# ellipse record each), all lying wholly inside the drawing box (0..1023 x
# 0..355 on the 1024 x 768 screen of a headless run). build/pelix loads
# each with input, binds a 1024 x 356 byte image as vimage and times
# "redraw 0 0" inside the program (time(0) / time(1)); cv2.line and
# cv2.ellipse (filled, thickness -1) draw the same segments and ellipses on
# a uint8 image of the same size, timed around the draws, in the same run.
# OpenCV draws one shape a call, so a Python loop makes 100,000 and 10,000
# calls; the loop and the calls' own cost (their arguments taken, nothing
# drawn) is timed apart: the same loop calling cv2.line on a segment
# wholly outside the image, and cv2.ellipse with axes 0 outside it. The
# ratios count OpenCV's drawing net of that loop (the fair ratios), and
# also with it. Each time is the best of R runs on both sides. Prints the
# times, the ratios (PELIX / OpenCV) and how many pixels the two images
# share.
#   bench/lines_bench.sh [build folder] [runs]       (python3-opencv needed)
set -euo pipefail
. "$(dirname "$0")/cvbench.bash" lines_bench "$@"

W=1024
H=356
"$py" - "$work" "$W" "$H" "$root/tests/session" <<'PY'
import sys, random
work, W, H = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
sys.path.insert(0, sys.argv[4])
from gfxmodel import writevec   # the session tests' vector file writer
rnd = random.Random(34)
lines, segs = [], []
for i in range(100000):
    x0, y0, x1, y1 = rnd.randrange(W), rnd.randrange(H), rnd.randrange(W), rnd.randrange(H)
    c = rnd.randrange(1, 256)
    lines += [(x0, y0, 0, 2, 0, c), (x1, y1, 0, 1, 0, c)]
    segs.append((x0, y0, x1, y1, c))
ells, eg = [], []
for i in range(10000):
    a, b = rnd.randrange(2, 60), rnd.randrange(2, 60)
    cx, cy = rnd.randrange(a, W - a), rnd.randrange(b, H - b)
    c = rnd.randrange(1, 256)
    ells += [(cx, cy, 0, 2, 0, c), (2 * a, 2 * b, 1, 10, 0, c)]
    eg.append((cx, cy, a, b, c))
writevec(work + '/lines.vec', lines)
writevec(work + '/ells.vec', ells)
with open(work + '/geom.txt', 'w') as f:
    for s in segs: f.write('L %d %d %d %d %d\n' % s)
    for e in eg: f.write('E %d %d %d %d %d\n' % e)
PY

{
  echo "declare byte image img($W,$H)"
  echo "declare real t"
  echo "declare number k"
  echo "input \"lines.vec\""
  echo "vimage = img"
  for i in $(seq "$runs"); do echo "timed lines"; done
  echo "write \"lines.raw\" img"
  echo "img = 0"
  echo "erase vecs"
  echo "input \"ells.vec\""
  for i in $(seq "$runs"); do echo "timed ellipses"; done
  echo "write \"ells.raw\" img"
} > "$work/cmds"
cvrun "lines|ellipses" $((2 * runs))
echo "$res" | "$py" -c '
import sys, time
import numpy as np, cv2
work, W, H, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rs = [l.split() for l in sys.stdin]
tl = min(float(r[1]) for r in rs if r[0] == "lines")
te = min(float(r[1]) for r in rs if r[0] == "ellipses")
segs, ells = [], []
for l in open(work + "/geom.txt"):
    k, *v = l.split()
    (segs if k == "L" else ells).append(tuple(map(int, v)))
def best(f):
    t = 1e9
    for _ in range(runs):
        img = np.zeros((H, W), np.uint8)
        t0 = time.perf_counter(); f(img); t = min(t, time.perf_counter() - t0)
    return t, img
def lines(img):
    for (x0, y0, x1, y1, c) in segs: cv2.line(img, (x0, y0), (x1, y1), c, 1)
def ellipses(img):
    for (cx, cy, a, b, c) in ells: cv2.ellipse(img, (cx, cy), (a, b), 0, 0, 360, c, -1)
# The same loops and calls drawing nothing.
def noline(img):
    for (x0, y0, x1, y1, c) in segs: cv2.line(img, (-5, -5), (-9, -9), c, 1)
def noellipse(img):
    for (cx, cy, a, b, c) in ells: cv2.ellipse(img, (-100, -100), (0, 0), 0, 0, 360, c, -1)
cl, il = best(lines)
ce, ie = best(ellipses)
nl, _ = best(noline)
ne, _ = best(noellipse)
pl = np.fromfile(work + "/lines.raw", np.uint8).reshape(H, W)
pe = np.fromfile(work + "/ells.raw", np.uint8).reshape(H, W)
print("pelix:  redraw of %d lines %.4f s, of %d filled ellipses %.4f s" % (len(segs), tl, len(ells), te))
print("opencv: cv2.line %.4f s, cv2.ellipse (filled) %.4f s, of which the loop and calls %.4f s and %.4f s"
      % (cl, ce, nl, ne))
print("ratios: lines %.2f, ellipses %.2f (OpenCV net of its loop)" % (tl / (cl - nl), te / (ce - ne)))
print("ratios with the loop: lines %.2f, ellipses %.2f" % (tl / cl, te / ce))
print("pixels the same as OpenCV drawn: lines %.1f%%, ellipses %.1f%%"
      % (100.0 * (pl == il).mean(), 100.0 * (pe == ie).mean()))
' "$work" "$W" "$H" "$runs"
