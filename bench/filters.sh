#!/usr/bin/env bash
# filter and convolve of a 4096 x 4096 byte image run by build/pelix
# against the nearest OpenCV operation in this run:
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
# Start-up cancels out: pelix times each operation with its own clock
# around a macro loop of it, in blocks of at least 100 ms (OpenCV: as many
# calls); each time is the best of R blocks. pelix splits a filter over up
# to four threads and OpenCV uses its threads too, so each is timed twice:
# both with their threads, and pelix held to one core (taskset -c 0)
# against OpenCV in one thread (cv2.setNumThreads(1)). Prints the times and
# ratios (pelix / OpenCV) and the load average.
#   bench/filters.sh [build-dir | path/to/pelix]     (R=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
rounds=${R:-3}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
$py -c "import numpy, cv2" 2>/dev/null || { echo "python3-numpy and python3-opencv are needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$root/bench/stopwatch.bash"

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
  "median 3x3 in place|p8 = filter(p8, 5, 3)"
  "convolve 3x3 in place|p8 = convolve(p8, k3)"
)
{
  # High memory for the images and the random numbers' temporary; a result
  # remade for each operation takes the storage its predecessor left.
  echo "himemsize = 200000"
  echo "declare byte image m8(4096,4096)"
  echo "declare byte image o8(4096,4096)"
  echo "declare long image o32(4096,4096)"
  echo "declare byte image p8(4096,4096)"
  echo "m8 = 0"
  echo "m8 = m8 + random(16777216, 7, 256)"
  echo "p8 = m8"
  echo "declare integer image k3(3,3)"
  echo "k3 = 1"
  echo "declare integer image k5(5,5)"
  echo "k5 = 1"
  stopwatch_vars
  for ((r = 0; r < rounds; r++)); do
    for ((i = 0; i < ${#cases[@]}; i++)); do echo "run c$i.imp"; done
  done
} > "$work/f.pelix"
for ((i = 0; i < ${#cases[@]}; i++)); do stopwatch "$work/c$i.imp" "${cases[$i]#*|}"; done

run() { # output file, command words before the program
  local out=$1
  shift
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$@" "$bin" < f.pelix > "$out" 2>&1) || true
  if grep -q ERROR "$work/$out"; then
    echo "pelix reported an error:"; grep -B1 ERROR "$work/$out" | head -20; exit 1
  fi
}
run out.txt
: > "$work/one.txt"
command -v taskset >/dev/null && run one.txt taskset -c 0

names=()
for c in "${cases[@]}"; do names+=("${c%%|*}"); done
$py - "$work" "$rounds" "${names[@]}" <<'PY'
import os, re, sys, time
import numpy as np, cv2
work, rounds = sys.argv[1], int(sys.argv[2])
names = sys.argv[3:]
n = len(names)
def times(name):
    vals = [float(l[2:]) for l in open(os.path.join(work, name)) if l.startswith('= ')]
    return [min(vals[k::n]) for k in range(n)] if len(vals) == n * rounds else None
pel, one = times('out.txt'), times('one.txt')
if pel is None:
    sys.exit('unexpected pelix output')

rng = np.random.default_rng(7)
m = rng.integers(0, 256, (4096, 4096), dtype=np.uint8)
p = m.copy()
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
    'median 3x3 in place': lambda: cv2.medianBlur(p, 3, dst=p),
    'convolve 3x3 in place': lambda: cv2.filter2D(p, -1, f3, dst=p),
}
def best(f):
    # Blocks of at least 100 ms, the best of R.
    t0 = time.perf_counter(); f(); k = int(0.1 / max(time.perf_counter() - t0, 1e-6)) + 1
    t = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        for _ in range(k):
            f()
        t.append((time.perf_counter() - t0) / k)
    return min(t)

threads = cv2.getNumThreads()
refs = [best(ref[name]) for name in names]
cv2.setNumThreads(1)
refs1 = [best(ref[name]) for name in names]
print('filters of a 4096 x 4096 byte image: per operation, best of %d blocks of 100 ms or more (load %s)'
      % (rounds, ' '.join('%.1f' % x for x in os.getloadavg())))
print('  %-22s %-38s %s' % ('', 'with threads (OpenCV %d)' % threads, 'one core (pelix taskset -c 0, OpenCV 1)'))
for k, name in enumerate(names):
    r, r1 = refs[k], refs1[k]
    tail = ('pelix %8.2f ms  OpenCV %8.2f ms  ratio %5.2f' % (one[k] * 1e3, r1 * 1e3, one[k] / r1)
            if one else '(no taskset)')
    print('  %-22s pelix %8.2f ms  OpenCV %8.2f ms  ratio %5.2f   %s'
          % (name, pel[k] * 1e3, r * 1e3, pel[k] / r, tail))
PY
