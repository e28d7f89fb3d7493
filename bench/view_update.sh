#!/usr/bin/env bash
# The repaint of a view: build/pelix shows a 4096 x 4096 8-bit image in a
# view whose window holds the whole image, and repaints it 100 times in one
# macro (each turn "window big" marks it for repaint and "update" paints
# it: every pixel looked up in the 256-entry palette into the window's
# 32-bit surface), timed inside the program with time(0) / time(1). In the
# same run OpenCV (one thread) maps the same image 100 times with cv2.LUT
# through the same palette into a 4096 x 4096 x 4 buffer (the image spread
# over four channels beforehand, untimed). The view's pixels, taken with a
# snapshot after the loop, must equal OpenCV's. Each time is the best of R
# runs. Prints both times and the ratio PELIX / OpenCV. The repaint uses
# one thread.
#   bench/view_update.sh [build folder] [runs]       (python3-opencv needed)
set -euo pipefail
. "$(dirname "$0")/cvbench.bash" view_update "$@"

N=4096
cat > "$work/rep.mac" <<'MAC'
time(0)
i = 0
while (i < 100) {
window big
update
i = i + 1
}
t = time(1)
ftype "repaint %.4f\n" t
MAC
# The session is typed through the scripted input, which takes the
# snapshot of the view at its end.
{
  echo "type \"declare byte image big($N,$N)\\n\""
  # Every byte value, in a pattern that is no plain ramp along the rows.
  echo "type \"big = big + rem(ramp($((N * N)), 0, -999, 7), 256)\\n\""
  echo "type \"write \\\"big.raw\\\" big\\n\""
  echo "type \"view big 0 40 $((N - 1)) $((N + 39))\\n\""
  echo "type \"declare real t\\n\""
  echo "type \"declare long i\\n\""
  for r in $(seq "$runs"); do echo "type \"run \\\"rep.mac\\\"\\n\""; done
  echo "snapshot view.png BIG"
} > "$work/cmds.input"
out=$(cd "$work" && PELIX_INPUT="$work/cmds.input" PELIX="$root/system" PELIX_BACKEND=headless TEMP="$work" \
  "$bin" < /dev/null 2>&1)
res=$(echo "$out" | grep -E "^repaint " || true)
[ "$(echo "$res" | grep -c .)" = "$runs" ] || { echo "view_update: the program gave no result:"; echo "$out" | tail -20; exit 1; }
echo "$res" | "$py" -c '
import sys, time
import numpy as np, cv2
work, n, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
cv2.setNumThreads(1)
tp = min(float(l.split()[1]) for l in sys.stdin)
img = np.fromfile(work + "/big.raw", np.uint8)
assert img.size == n * n, img.size
img = img.reshape(n, n)
assert len(np.unique(img)) == 256
# The palette of an 8-bit view on a true-colour screen: the program colour
# table, a 3-3-2 colour cube, as blue, green, red, 0.
i = np.arange(256)
r = np.where(i & 0xE0, (i & 0xE0) | 0x1F, 0)
g = np.where(i & 0x1C, ((i & 0x1C) << 3) | 0x1F, 0)
b = np.where(i & 3, ((i & 3) << 6) | 0x3F, 0)
lut = np.stack([b, g, r, np.zeros(256, int)], axis=1).astype(np.uint8).reshape(256, 1, 4)
src = cv2.merge([img, img, img, img])
dst = np.empty((n, n, 4), np.uint8)
tc = 1e9
for _ in range(runs):
    t0 = time.perf_counter()
    for _ in range(100):
        cv2.LUT(src, lut, dst=dst)
    tc = min(tc, time.perf_counter() - t0)
shot = cv2.imread(work + "/view.png", cv2.IMREAD_COLOR)
assert shot is not None and shot.shape == (n, n, 3), None if shot is None else shot.shape
same = np.array_equal(shot, dst[:, :, :3])
print("view repaint x100 %dx%d 8-bit: pelix %.3f s  opencv LUT %.3f s  ratio %.2f  pixels %s"
      % (n, n, tp, tc, tp / tc, "equal" if same else "DIFFER"))
if not same:
    sys.exit(1)
' "$work" "$N" "$runs"
