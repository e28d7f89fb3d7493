#!/usr/bin/env bash
# Streaming a file-backed 16-bit image through whole-array arithmetic: the
# real program runs c = a + 1 where a and c are pointers to two files of
# MB megabytes (default 1024: a 32768 x 16384 image), and a plain C++ loop
# reads a, adds 1 (clamped as the program does) and writes c in the same
# run (the missing value 0x8000 stays as it is). Start-up cancels out: the script runs with and without the
# operation. Prints both times and the ratio (pelix / C++; goal at most
# 1.5). The files live in TMPDIR (default /tmp); 2 x MB of free space.
# Usage: bench/filevar_stream.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$build/pelix
[ -x "$bin" ] || { echo "filevar_stream: $bin is not built" >&2; exit 1; }
MB=${MB:-1024}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export PELIX_BACKEND=headless PELIX="$build/system"
nx=32768
ny=$((MB * 1048576 / 2 / nx))

# The input holds a ramp of values, so that the clamping is exercised.
python3 - "$tmp/a.raw" "$nx" "$ny" <<'PY'
import sys, array
nx, ny = int(sys.argv[2]), int(sys.argv[3])
row = array.array('h', [(x % 65536) - 32768 for x in range(0, 2 * nx, 2)])
with open(sys.argv[1], 'wb') as f:
    for _ in range(ny):
        f.write(row.tobytes())
PY

cat >"$tmp/rmw.cpp" <<'CPP'
#include <cstdint>
#include <cstdio>
#include <vector>
int main(int, char** argv) {
  FILE* in = std::fopen(argv[1], "rb");
  FILE* out = std::fopen(argv[2], "r+b");
  if (!in || !out) return 1;
  std::vector<int16_t> buf(1 << 19);
  size_t n;
  while ((n = std::fread(buf.data(), 2, buf.size(), in)) > 0) {
    for (size_t i = 0; i < n; i++) {
      if (buf[i] == -32768) continue;  // the missing value stays missing
      int v = buf[i] + 1;
      buf[i] = static_cast<int16_t>(v > 32767 ? 32767 : v < -32767 ? -32767 : v);
    }
    if (std::fwrite(buf.data(), 2, n, out) != n) return 1;
  }
  return std::fclose(out) == 0 && std::fclose(in) == 0 ? 0 : 1;
}
CPP
g++ -O2 -o "$tmp/rmw" "$tmp/rmw.cpp"

script() { # with the operation: 1
  {
    echo "declare pointer a c"
    echo "declare string nm"
    echo "nm = \"$tmp/a.raw\""
    echo "a = file(nm, 0, $nx, $ny, 1, 0, 16)"
    echo "nm = \"$tmp/c.raw\""
    echo "c = file(nm, 0, $nx, $ny, 1, 0, 16)"
    [ "$1" = 1 ] && echo "c = a + 1"
    echo "quit"
  } >"$tmp/s.pelix"
}
# Best wall time in ms of two runs of a command.
best() {
  python3 - "$@" <<'PY'
import subprocess, sys, time
best = None
for _ in range(2):
    s = time.perf_counter()
    subprocess.run(sys.argv[1:], stdin=subprocess.DEVNULL if sys.argv[1] != 'sh' else None,
                   stdout=subprocess.DEVNULL, check=True)
    t = (time.perf_counter() - s) * 1e3
    best = t if best is None else min(best, t)
print(f"{best:.1f}")
PY
}

truncate -s $((MB * 1048576)) "$tmp/c.raw"
script 1
t1=$(best sh -c "'$bin' < '$tmp/s.pelix'")
script 0
t0=$(best sh -c "'$bin' < '$tmp/s.pelix'")
truncate -s $((MB * 1048576)) "$tmp/ref.raw"
tc=$(best "$tmp/rmw" "$tmp/a.raw" "$tmp/ref.raw")
cmp "$tmp/c.raw" "$tmp/ref.raw" || { echo "filevar_stream: the results differ" >&2; exit 1; }
python3 - "$t1" "$t0" "$tc" "$MB" <<'PY'
import sys
t1, t0, tc, mb = map(float, sys.argv[1:])
ours = max(t1 - t0, 1e-3)
print(f"c = a + 1 over {mb:.0f} MB of 16-bit items in files")
print(f"  pelix  {ours:10.1f} ms")
print(f"  C++    {tc:10.1f} ms")
print(f"  ratio  {ours / tc:10.2f}  (goal <= 1.5)")
PY
