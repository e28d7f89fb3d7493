#!/usr/bin/env bash
# filter and convolve of a 4096 x 4096 byte image run by build/pelix
# against the nearest OpenCV operation (one thread, cv2.setNumThreads(1))
# in this run:
#   max / min (kinds 0, 1)        cv2.dilate / cv2.erode, same window
#   mean (kind 3)                 cv2.blur, same window
#   median (kind 5)               cv2.medianBlur, same size (goal: 2x)
#   Sobel (kind 8)                cv2.Sobel to 16 bits, dx = 1
#   stretch, deviation, hole filling, tolerance mean (2, 4, 11, 12)
#                                 cv2.blur, same window (OpenCV has no
#                                 such filter; the window pass is nearest)
#   binarising kinds (6, 7, 9, 10) cv2.threshold to 0 / 1
#   convolve 3 x 3 / 5 x 5 into bytes   cv2.filter2D to bytes
#   convolve 3 x 3 into a long image    cv2.filter2D to 32-bit floats
# Start-up cancels out: pelix times REPS repetitions of each operation in a
# macro loop with its own clock. Each time is the best of R rounds. pelix
# splits large images over up to four threads: it runs twice, as it is and
# held to one core (taskset -c 0), and each run has its ratio. Prints the
# times and ratios (pelix / OpenCV) and the load average.
#   bench/filters.sh [build-dir | path/to/pelix]     (R=3, REPS=10)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
reps=${REPS:-10}
rounds=${R:-3}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
$py -c "import numpy, cv2" 2>/dev/null || { echo "python3-numpy and python3-opencv are needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name | pelix line
cases=(
  "max 3x3|o8 = filter(m8, 0, 3)"
  "min 3x3|o8 = filter(m8, 1, 3)"
  "max 5x5|o8 = filter(m8, 0, 5)"
  "mean 3x3|o8 = filter(m8, 3, 3)"
  "mean 5x5|o8 = filter(m8, 3, 5)"
  "median 3x3|o8 = filter(m8, 5, 3)"
  "median 5x5|o8 = filter(m8, 5, 5)"
  "median 7x7|o8 = filter(m8, 5, 7)"
  "sobel|o8 = filter(m8, 8)"
  "stretch 3x3|o8 = filter(m8, 2, 3)"
  "deviation 3x3|o8 = filter(m8, 4, 3)"
  "holes 3x3|o8 = filter(m8, 11, 3)"
  "tolerance 3x3|o8 = filter(m8, 12, 3)"
  "binarise|o8 = filter(m8, 6, 3, 0, 0, 128)"
  "convolve 3x3 bytes|o8 = convolve(m8, k3)"
  "convolve 5x5 bytes|o8 = convolve(m8, k5)"
  "convolve 3x3 long|o32 = convolve(m8, k3)"
)
{
  # High memory for the images and the random numbers' temporary; a result
  # remade for each operation takes the storage its predecessor left.
  echo "himemsize = 200000"
  echo "declare byte image m8(4096,4096)"
  echo "declare byte image o8(4096,4096)"
  echo "declare long image o32(4096,4096)"
  echo "m8 = 0"
  echo "m8 = m8 + random(16777216, 7, 256)"
  echo "declare integer image k3(3,3)"
  echo "k3 = 1"
  echo "declare integer image k5(5,5)"
  echo "k5 = 1"
  echo "declare number k1"
  for ((r = 0; r < rounds; r++)); do
    for ((i = 0; i < ${#cases[@]}; i++)); do
      echo "time(0)"
      echo "run c$i.imp"
      echo "type time(1)"
    done
  done
} > "$work/f.pelix"
for ((i = 0; i < ${#cases[@]}; i++)); do
  printf 'k1 = 0\nwhile (k1 < %d) {\n%s\nk1 = k1 + 1\n}\n' "$reps" "${cases[$i]#*|}" > "$work/c$i.imp"
done

(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < f.pelix > out.txt 2>&1) || true
one=(taskset -c 0)
command -v taskset >/dev/null || one=()
(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "${one[@]}" "$bin" < f.pelix > out1.txt 2>&1) || true
for o in out.txt out1.txt; do
  if grep -q ERROR "$work/$o"; then
    echo "pelix reported an error:"; grep -B1 ERROR "$work/$o" | head -20; exit 1
  fi
done

names=()
for c in "${cases[@]}"; do names+=("${c%%|*}"); done
$py - "$work/out.txt" "$work/out1.txt" "$reps" "$rounds" "${names[@]}" <<'PY'
import os, re, sys, time
import numpy as np, cv2
cv2.setNumThreads(1)
reps, rounds = int(sys.argv[3]), int(sys.argv[4])
names = sys.argv[5:]
n = len(names)
def times(out):
    vals = [float(l) for l in open(out) if re.fullmatch(r'\s*-?\d+\.\d+\s*', l)]
    if len(vals) != n * rounds:
        sys.exit('unexpected pelix output: %d times' % len(vals))
    return [min(vals[k + n * r] for r in range(rounds)) / reps for k in range(n)]
pel, pel1 = times(sys.argv[1]), times(sys.argv[2])

rng = np.random.default_rng(7)
m = rng.integers(0, 256, (4096, 4096), dtype=np.uint8)
k3 = np.ones((3, 3), np.uint8)
k5 = np.ones((5, 5), np.uint8)
f3 = np.ones((3, 3), np.float32)
f5 = np.ones((5, 5), np.float32)
ref = {
    'max 3x3': lambda: cv2.dilate(m, k3), 'min 3x3': lambda: cv2.erode(m, k3),
    'max 5x5': lambda: cv2.dilate(m, k5),
    'mean 3x3': lambda: cv2.blur(m, (3, 3)), 'mean 5x5': lambda: cv2.blur(m, (5, 5)),
    'median 3x3': lambda: cv2.medianBlur(m, 3), 'median 5x5': lambda: cv2.medianBlur(m, 5),
    'median 7x7': lambda: cv2.medianBlur(m, 7),
    'sobel': lambda: cv2.Sobel(m, cv2.CV_16S, 1, 0),
    'stretch 3x3': lambda: cv2.blur(m, (3, 3)), 'deviation 3x3': lambda: cv2.blur(m, (3, 3)),
    'holes 3x3': lambda: cv2.blur(m, (3, 3)), 'tolerance 3x3': lambda: cv2.blur(m, (3, 3)),
    'binarise': lambda: cv2.threshold(m, 127, 1, cv2.THRESH_BINARY),
    'convolve 3x3 bytes': lambda: cv2.filter2D(m, -1, f3),
    'convolve 5x5 bytes': lambda: cv2.filter2D(m, -1, f5),
    'convolve 3x3 long': lambda: cv2.filter2D(m, cv2.CV_32F, f3),
}
def best(f):
    t = []
    for _ in range(rounds):
        k = max(1, reps // 2)
        t0 = time.perf_counter()
        for _ in range(k):
            f()
        t.append((time.perf_counter() - t0) / k)
    return min(t)

print('filters of a 4096 x 4096 byte image: per operation, best of %d rounds (load %s)'
      % (rounds, ' '.join('%.1f' % x for x in os.getloadavg())))
print('  %-20s %8s %8s %8s   %6s %6s' % ('', 'pelix', 'one core', 'OpenCV', 'ratio', 'one core'))
for k, name in enumerate(names):
    r = best(ref[name])
    print('  %-20s %6.2f ms %6.2f ms %6.2f ms   %6.2f %6.2f'
          % (name, pel[k] * 1e3, pel1[k] * 1e3, r * 1e3, pel[k] / r, pel1[k] / r))
PY
