#!/usr/bin/env bash
# Times a 30-degree rotation of a 4096 x 4096 byte image (transform, nearest
# source pixel) and lookup-table mapping of 4096 x 4096 16-bit and byte
# images (map) through the interpreter (build/colour_bench), and the same
# operations in OpenCV (cv2.warpAffine nearest, cv2.LUT) in the same run;
# prints the times and the ratios (evaluator / reference). cv2.LUT takes
# byte images only: the 16-bit table lookup is compared with numpy's
# indexing (and cv2.LUT on a byte image of the same size is shown beside).
# Usage: bench/colour_bench.sh [build folder]   (python3-opencv, python3-numpy)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$build/colour_bench
if [ ! -x "$bin" ]; then
  echo "colour_bench: $bin is not built (PELIX_BENCH=ON and libbenchmark-dev needed)" >&2
  exit 1
fi
py=
for p in /usr/bin/python3 python3; do
  if command -v "$p" >/dev/null && "$p" -c 'import numpy, cv2' 2>/dev/null; then py=$p; break; fi
done
if [ -z "$py" ]; then
  echo "colour_bench: no python3 with numpy and OpenCV (apt-get install python3-opencv)" >&2
  exit 1
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$bin" --benchmark_out="$out" --benchmark_out_format=json >&2
"$py" - "$out" <<'PY'
import json, sys, time
import numpy as np
import cv2

side = 4096
i = np.arange(side * side, dtype=np.int64)
img = ((i * 7 + i // side * 13) % 251).astype(np.uint8).reshape(side, side)
w16 = ((i * 5 + i // side) % 4096).astype(np.uint16).reshape(side, side)
lut16 = ((np.arange(4096) * 3) % 30000).astype(np.uint16)
lut8 = (255 - np.arange(256)).astype(np.uint8)
rot = cv2.getRotationMatrix2D((2048, 2048), 30, 1.0)

def best(f, reps=7):
    t = []
    for _ in range(reps):
        s = time.perf_counter()
        f()
        t.append(time.perf_counter() - s)
    return min(t) * 1e3

refs = {
    "rotate": ("transform: rotate 30 deg, byte", "cv2.warpAffine nearest",
               best(lambda: cv2.warpAffine(img, rot, (side, side), flags=cv2.INTER_NEAREST))),
    "map16": ("map: 16-bit through a table", "numpy lut[img]", best(lambda: lut16[w16])),
    "map8": ("map: byte through 256 entries", "cv2.LUT", best(lambda: cv2.LUT(img, lut8))),
}
ours = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("error_occurred"):
        sys.exit(f"colour_bench: {b['name']}: {b.get('error_message', 'failed')}")
    unit = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
    ours[b["name"].split("/")[0][3:]] = b["real_time"] * unit

print(f"{'operation':<34} {'evaluator ms':>13} {'reference':<24} {'ref ms':>8} {'ratio':>7}")
for k, (text, rname, ref) in refs.items():
    ms = ours[k]
    print(f"{text:<34} {ms:13.1f} {rname:<24} {ref:8.2f} {ms / ref:7.2f}")
PY
