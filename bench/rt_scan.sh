#!/usr/bin/env bash
# Background scan collection: a real-time script starts an 8-channel scan
# on the simulated board library and collects it every 1 ms for 10 s of
# virtual time (10,000 status calls, 100 rows of 8 channels each, into a
# 16-bit array), beside a plain C++ program that dlopens the same library,
# makes the same 10,000 calls and copies the same rows into the same
# layout. PELIX's time is net of the same session with a one-op script in
# place of the scan; each side repeats its work R times (R=20 by default).
#   bench/rt_scan.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
build=$(cd "$build" && pwd)
bin=$build/pelix
lib=$build/sim/libpelix_mcsim.so
reps=${R:-20}
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
[ -f "$lib" ] || { echo "no simulated board library at $lib"; exit 1; }
command -v g++ >/dev/null || { echo "g++ not found"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 1,000,000 rows of 8 channels, and one more row: the counter stays below
# the capacity. 100,000 scans a second: 100 rows a millisecond.
session() {
  echo "initialize meascomp 0 8"
  echo "declare integer array d(8000008)"
  echo "declare long k"
  for ((r = 0; r < reps; r++)); do
    echo "realtime - - 0 {"
    if [ "$1" = scan ]; then
      echo "r_ascan 0 0 0 255 100000 d 1000000 0 - 1 k"
      echo "r_repeat 0 0 0 10000 50"
      echo "r_ascan 0 0 50 255 0 d 1000000 0 - 1 k"
      echo "r_end"
    else
      echo "r_wait 0 0 0 0"
    fi
    echo "}"
  done
  echo "k"
}
session scan > "$work/scan.pelix"
session empty > "$work/empty.pelix"

cat > "$work/ref.cpp" <<'CPP'
// The same calls and the same copy as the scan collection, straight.
#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>
int main(int argc, char** argv) {
  void* h = dlopen(argv[1], RTLD_NOW);
  if (!h) return 1;
  auto alloc = reinterpret_cast<void* (*)(int32_t)>(dlsym(h, "cbWinBufAlloc"));
  auto freebuf = reinterpret_cast<int (*)(void*)>(dlsym(h, "cbWinBufFree"));
  auto scan = reinterpret_cast<int (*)(int, int, int, int32_t, int32_t*, int, void*, int)>(dlsym(h, "cbAInScan"));
  auto status = reinterpret_cast<int (*)(int, int16_t*, int32_t*, int32_t*, int)>(dlsym(h, "cbGetIOStatus"));
  auto stop = reinterpret_cast<int (*)(int, int)>(dlsym(h, "cbStopIOBackground"));
  const int reps = std::atoi(argv[2]);
  const int span = 8;
  const int32_t rows = 1000001, total = 7999992;  // rounded to the packet of 24
  std::vector<int16_t> d(size_t(rows) * span);
  double sec = 0;
  int32_t n = 0;
  for (int r = 0; r < reps; r++) {
    auto t0 = std::chrono::steady_clock::now();
    uint16_t* buf = static_cast<uint16_t*>(alloc(total));
    int32_t rate = 100000;
    if (scan(0, 0, 7, total, &rate, 1, buf, 3) != 0) return 2;
    int32_t last = 0;
    n = 0;
    for (int c = 0; c < 10000; c++) {
      int16_t st;
      int32_t cnt, idx;
      if (status(0, &st, &cnt, &idx, 1) != 0 || st != 1 || idx < 0) continue;
      const int32_t to = idx + span;
      while (last != to) {
        const int32_t end = to < last ? total : to;
        int32_t k = (end - last) / span;
        if (k > rows - 1 - n) k = rows - 1 - n;
        for (int32_t i = 0; i < k; i++) {
          const uint16_t* s = buf + last + i * span;
          int16_t* o = d.data() + size_t(n + i) * span;
          for (int j = 0; j < span; j++) o[j] = static_cast<int16_t>(s[j]);
        }
        n += k;
        last = to < last ? 0 : end;
      }
    }
    stop(0, 1);
    freebuf(buf);
    sec += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    asm volatile("" : : "r"(d.data()) : "memory");
  }
  std::printf("%.6f %d\n", sec / reps, n);
}
CPP
g++ -O2 -o "$work/ref" "$work/ref.cpp" -ldl

run() {
  local t0 t1
  t0=$(date +%s.%N)
  (cd "$work" && PELIX_LIB_MEASCOMP="$lib" PELIX="$root/system" PELIX_BACKEND=headless PELIX_CLOCK=virtual \
    "$bin" < "$1.pelix" > "$1.out")
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
tscan=$(run scan)
tempty=$(run empty)
grep -q '1000000' "$work/scan.out" || { echo "the scan collected $(tail -2 "$work/scan.out")"; exit 1; }
read -r tref nref < <("$work/ref" "$lib" "$reps")
[ "$nref" = 1000000 ] || { echo "the C++ program collected $nref rows"; exit 1; }
python3 - "$tscan" "$tempty" "$tref" "$reps" <<'PY'
import sys
scan, empty, ref, reps = float(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
net = (scan - empty) / reps
print(f"scan collection, 10,000 calls x 100 rows x 8 channels, mean of {reps} runs")
print(f"  pelix (net of a one-op run) {net * 1e3:8.2f} ms")
print(f"  C++ dlopen loop             {ref * 1e3:8.2f} ms")
print(f"  ratio {net / ref:.2f} (goal: at most 1.2)")
PY
