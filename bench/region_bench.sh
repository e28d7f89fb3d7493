#!/usr/bin/env bash
# Fills a 4096 x 3840 byte image with 4800 regions (a 128 x 128 pattern of
# five shapes, tiled by the fill command) and traces the outline of every
# region with trace, in build/pelix; then tiles the pattern with numpy and
# finds the image's contours with OpenCV (cv2.findContours) in the same
# run, and labels it (cv2.connectedComponents) for reference. Prints the
# times and the ratios.
# Both sides do the same work: a tiling, and the 4800 outlines with their
# corner points from the raw pixels (trace's default range 1..255 is
# OpenCV's non-zero). OpenCV also has to find the regions, while trace is
# given a point next to each; trace is called once per outline from a
# macro loop, which is timed apart with a trivial function in place of
# trace ("net of the loop"). Each time is the best of five on both sides;
# pelix repeats each until 100 ms have passed (its clock counts
# milliseconds). Both run in one thread.
# fill is a tiling, not a labelling: connectedComponents has no
# counterpart here and is in no ratio.
# (3840 rows: one declared variable holds at most 16 MB.)
#   bench/region_bench.sh [build folder]       (python3-opencv needed)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bin=$build/pelix
[ -x "$bin" ] || { echo "region_bench: no program at $bin" >&2; exit 1; }
py=
for p in python3 /usr/bin/python3; do
  if command -v "$p" >/dev/null && "$p" -c 'import cv2, numpy' 2>/dev/null; then py=$p; break; fi
done
[ -n "$py" ] || { echo "region_bench: no python3 with cv2 (apt-get install python3-opencv)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pattern: a square, a ring, an L of two boxes, a 3 x 3 dot.
cat > "$work/shapes.imp" <<'IMP'
cell = 0
cell(8:55, 8:55) = 200
cell(72:119, 8:55) = 150
cell(84:107, 20:43) = 0
cell(8:55, 72:87) = 100
cell(8:23, 88:119) = 100
cell(80:82, 80:82) = 250
fill img cell
simage = image(img)
IMP
cat > "$work/fills.imp" <<'IMP'
time(0)
k = 0
tf = 0
while (tf < 0.1) {
  fill img cell
  k = k + 1
  tf = time(1)
}
tf = tf / k
ftype "FILL %.4f\n" tf
IMP
# One trace per outline (the ring has two), every move saved; the records
# are counted from nvecs, so the loop holds little besides the calls. The
# whole image is traced over and over until 100 ms have passed.
# outlines CALL TIME LABEL: CALL with X and Y for the point's coordinates.
outlines() {
  local c1=${1//X/px + 30} c2=${1//X/px + 94} c3=${1//X/px + 119} c4=${1//X/px + 15} c5=${1//X/px + 81}
  c1=${c1//Y/py + 30} c2=${c2//Y/py + 30} c3=${c3//Y/py + 30} c4=${c4//Y/py + 80} c5=${c5//Y/py + 81}
  cat <<IMP
time(0)
m = 0
$2 = 0
while ($2 < 0.1) {
  nvecs = 0
  i = 0
  while (i < 32) {
    px = i * 128
    j = 0
    while (j < 30) {
      py = j * 128
      r = $c1
      r = $c2
      r = $c3
      r = $c4
      r = $c5
      j = j + 1
    }
    i = i + 1
  }
  m = m + 1
  $2 = time(1)
}
$2 = $2 / m
n = nvecs
ftype "$3 %.4f %d\n" $2 n
IMP
}
outlines "trace(0, 0, X, Y, 2, 1)" tt TRACE > "$work/outlines.imp"
# The same loop with a trivial function (vector of the same point) in place of
# trace: the macro interpreter's share of the time.
outlines "vector(X, Y, 0, 1)" tl LOOP > "$work/loop.imp"
out=$(cd "$work" && cat <<'CMD' | PELIX="$root/system" PELIX_BACKEND=headless "$bin" 2>&1
himemsize = 65536
declare byte image img(4096,3840)
declare byte image cell(128,128)
declare real tf
declare real tt
declare real tl
declare number i
declare number j
declare number px
declare number py
declare number n
declare number k
declare number m
declare integer array r(4)
shapes
fills
fills
fills
fills
fills
outlines
loop
outlines
loop
outlines
loop
outlines
loop
outlines
loop
CMD
)
res=$(echo "$out" | grep -E '^(FILL|TRACE|LOOP) ' || true)
[ "$(echo "$res" | grep -c .)" = 15 ] || { echo "region_bench: the program gave no result:"; echo "$out" | tail -20; exit 1; }
echo "$res" | "$py" -c '
import sys, time
import numpy as np, cv2
runs = [l.split() for l in sys.stdin]
tf = min(float(r[1]) for r in runs if r[0] == "FILL")
tt = min(float(r[1]) for r in runs if r[0] == "TRACE")
tl = min(float(r[1]) for r in runs if r[0] == "LOOP")
ns = {int(r[2]) for r in runs if r[0] == "TRACE"}
assert len(ns) == 1, "trace records differ between runs"
n = ns.pop()
cell = np.zeros((128, 128), np.uint8)
cell[8:56, 8:56] = 200
cell[8:56, 72:120] = 150
cell[20:44, 84:108] = 0
cell[72:88, 8:56] = 100
cell[88:120, 8:24] = 100
cell[80:83, 80:83] = 250
def best(f, k=5):
    t = 1e9
    for _ in range(k):
        t0 = time.perf_counter(); r = f(); t = min(t, time.perf_counter() - t0)
    return t, r
ttile, img = best(lambda: np.tile(cell, (30, 32)))
assert img.shape == (3840, 4096)
tcon, (cont, _) = best(lambda: cv2.findContours(img, cv2.RETR_LIST, cv2.CHAIN_APPROX_SIMPLE))
tlab, (nlab, _) = best(lambda: cv2.connectedComponents((img > 0).astype(np.uint8), connectivity=4))
assert len(cont) == 32 * 30 * 5
pts = sum(len(c) for c in cont)
print("pelix:  fill %.4f s, trace %d outlines %.4f s (%d records); the same macro loop"
      " without trace %.4f s" % (tf, 32 * 30 * 5, tt, n, tl))
print("opencv: tile %.4f s, findContours %.4f s (%d contours, %d points);"
      " connectedComponents %.4f s (%d labels)" % (ttile, tcon, len(cont), pts, tlab, nlab - 1))
r = lambda a, b: a / b if b > 0 else float("inf")
print("ratios: fill/tile %.2f, trace/findContours %.2f (net of the loop %.2f),"
      " (fill+trace)/(tile+findContours) %.2f (net of the loop %.2f)"
      % (r(tf, ttile), r(tt, tcon), r(max(tt - tl, 0.0), tcon), r(tf + tt, ttile + tcon),
         r(tf + max(tt - tl, 0.0), ttile + tcon)))
'
