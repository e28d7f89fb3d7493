#!/usr/bin/env bash
# Speed of the real-time data ops: 10^6 additions on numbers and 10^4
# additions of 4096-element 32-bit arrays, each inside one real-time
# program run by build/pelix (timed by the program's own clock reads at
# the start and the end of each part), beside the same operations in a
# plain C++ loop in the same run. Reports ns per op and the ratio.
#   bench/rt_dataops.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
command -v g++ >/dev/null || { echo "g++ not found"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Ten ops per pass: the pass overhead (the block's r_end) is part of the cost.
{
  echo "declare long n"
  echo "declare long array t(3)"
  echo "declare long array a(4096)"
  echo "declare long array b(4096)"
  echo "declare long array c(4096)"
  echo "realtime - - 0 {"
  echo "r_gtime 0 0 0 t ++"
  echo "r_repeat 0 0 0 100000 0"
  for i in $(seq 10); do echo "r_add 0 0 0 n 3"; done
  echo "r_end"
  echo "r_gtime 0 0 0 t ++"
  echo "r_repeat 0 0 0 1000 0"
  for i in $(seq 10); do echo "r_add 0 0 0 a b c 4096"; done
  echo "r_end"
  echo "r_gtime 0 0 0 t ++"
  echo "}"
  echo "type t"
  echo "n"
} > "$work/run.pelix"

cat > "$work/ref.cpp" <<'CPP'
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>
int main() {
  using clk = std::chrono::steady_clock;
  volatile int32_t n = 0;
  auto t0 = clk::now();
  for (int i = 0; i < 1000000; i++) n = static_cast<int32_t>(static_cast<uint32_t>(n) + 3u);
  auto t1 = clk::now();
  std::vector<int32_t> a(4096, 1), b(4096, 2), c(4096);
  for (int k = 0; k < 10000; k++) {
    for (int i = 0; i < 4096; i++) c[i] = static_cast<int32_t>(static_cast<uint32_t>(a[i]) + static_cast<uint32_t>(b[i]));
    asm volatile("" : : "r"(c.data()) : "memory");
  }
  auto t2 = clk::now();
  std::printf("%.3f %.3f\n", std::chrono::duration<double, std::nano>(t1 - t0).count() / 1e6,
              std::chrono::duration<double, std::nano>(t2 - t1).count() / 1e4);
}
CPP
g++ -O2 -o "$work/ref" "$work/ref.cpp"
(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < run.pelix > out.txt)
"$work/ref" > "$work/ref.txt"

python3 - "$work/out.txt" "$work/ref.txt" <<'PY'
import sys
lines = open(sys.argv[1]).read().splitlines()
i = lines.index("PELIX> type t")
t = [int(v) for v in lines[i + 1].split()]
n = int(lines[i + 3].split()[0])
if n != 3000000:
    sys.exit(f"pelix gave n = {n}, expected 3000000")
num = (t[1] - t[0]) * 20000.0 / 1e6
arr = (t[2] - t[1]) * 20000.0 / 1e4
rnum, rarr = (float(v) for v in open(sys.argv[2]).read().split())
print(f"{'':28s}{'pelix ns/op':>14s}{'C++ ns/op':>12s}{'ratio':>9s}")
print(f"{'10^6 r_add on numbers':28s}{num:14.1f}{rnum:12.1f}{num / max(rnum, 1e-3):9.1f}")
print(f"{'10^4 r_add, 4096 elements':28s}{arr:14.1f}{rarr:12.1f}{arr / max(rarr, 1e-3):9.1f}")
PY
