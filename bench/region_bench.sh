#!/usr/bin/env bash
# Fills a 4096 x 3840 byte image with 4800 regions (a 128 x 128 pattern of
# five shapes, tiled by the fill command) and traces the outline of every
# region with trace, in build/pelix; then labels the same image and finds
# its contours with OpenCV (cv2.connectedComponents, cv2.findContours) and
# tiles it with numpy, in the same run. Prints the times and the ratios
# (the fill is timed on an image already filled once, as numpy's best of
# five reuses its memory).
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
time(0)
fill img cell
tf = time(1)
simage = image(img)
IMP
# One trace per outline (the ring has two), every move saved.
cat > "$work/outlines.imp" <<'IMP'
nvecs = 0
n = 0
time(0)
i = 0
while (i < 32) {
  j = 0
  while (j < 30) {
    px = i * 128 + 30
    py = j * 128 + 30
    r = trace(0, 0, px, py, 2, 1)
    n = n + r(0)
    px = px + 64
    r = trace(0, 0, px, py, 2, 1)
    n = n + r(0)
    px = px + 25
    r = trace(0, 0, px, py, 2, 1)
    n = n + r(0)
    px = i * 128 + 15
    py = py + 50
    r = trace(0, 0, px, py, 2, 1)
    n = n + r(0)
    px = i * 128 + 81
    py = j * 128 + 81
    r = trace(0, 0, px, py, 2, 1)
    n = n + r(0)
    j = j + 1
  }
  i = i + 1
}
tt = time(1)
IMP
# The same loop with a trivial function in place of trace: the macro
# interpreter's share of the time.
sed 's/r = trace(0, 0, px, py, 2, 1)/r = vector(px, py, 0, 1)/; s/^tt = /tl = /; s/n = n + /m = m + /; s/^n = 0/m = 0/' \
  "$work/outlines.imp" > "$work/loop.imp"
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
declare number m
declare integer array r(4)
shapes
outlines
loop
ftype "RESULT %.4f %.4f %d %.4f\n" tf tt n tl
CMD
)
res=$(echo "$out" | grep '^RESULT' || true)
[ -n "$res" ] || { echo "region_bench: the program gave no result:"; echo "$out" | tail -20; exit 1; }
"$py" - $res <<'PY'
import sys, time
import numpy as np, cv2
tf, tt, n, tl = float(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
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
binary = (img > 0).astype(np.uint8)
tlab, (nlab, _) = best(lambda: cv2.connectedComponents(binary, connectivity=4))
tcon, (cont, _) = best(lambda: cv2.findContours(binary, cv2.RETR_LIST, cv2.CHAIN_APPROX_SIMPLE))
pts = sum(len(c) for c in cont)
print("pelix:  fill %.4f s, trace %d outlines %.4f s (%d records); the same macro loop"
      " without trace %.4f s" % (tf, 32 * 30 * 5, tt, n, tl))
print("opencv: tile %.4f s, connectedComponents %.4f s (%d labels), findContours %.4f s (%d contours, %d points)"
      % (ttile, tlab, nlab - 1, tcon, len(cont), pts))
r = lambda a, b: a / b if b > 0 else float("inf")
print("ratios: fill/tile %.2f, trace/findContours %.2f (net of the loop %.2f),"
      " (fill+trace)/(labels+contours) %.2f"
      % (r(tf, ttile), r(tt, tcon), r(max(tt - tl, 0.0), tcon), r(tf + tt, tlab + tcon)))
PY
