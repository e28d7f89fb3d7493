#!/usr/bin/env bash
# Times, through build/pelix, writing 16 records of 64 MiB from a real
# array of 16M elements to one DM record file (dmwrite) and reading them
# back into the array (dmread), and dd (bs=1M) copying the same 1 GiB of
# bytes to a file in the same folder and reading it back, in the same run
# (no fsync on either side). Each time is the best of R runs (default 3).
# Prints the throughputs and the ratios pelix / dd (goal: at least 0.8);
# a large read runs on up to four threads, so pelix is timed held to one
# core (taskset -c 0) too.
#   bench/dmrec_io.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
reps=${R:-3}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
work=$(mktemp -d "${TMPDIR:-/tmp}/dmrec-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
N=16777216
{
  echo "himemsize = 300000"
  echo "declare real array a($N)"
  echo "a = ramp($N)"
  printf 'time(0)\n'
  for ((k = 1; k <= 16; k++)); do echo "dmwrite \"big.dm\" a $k"; done
  printf 'type time(1)\n'
  printf 'time(0)\n'
  for ((k = 1; k <= 16; k++)); do echo "dmread \"big.dm\" a $k"; done
  printf 'type time(1)\n'
  echo 'ftype "%d %.0f %.0f\n" size(a) a(0) a(16777215)'
} > "$work/ops.pelix"
: > "$work/out.txt"
: > "$work/one.txt"
for ((i = 0; i < reps; i++)); do
  rm -f "$work/big.dm"
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless "$bin" < ops.pelix >> out.txt 2>&1) || true
  if command -v taskset >/dev/null; then
    rm -f "$work/big.dm"
    (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless taskset -c 0 "$bin" < ops.pelix >> one.txt 2>&1) || true
  fi
done
if grep -q ERROR "$work/out.txt"; then
  echo "pelix reported an error:"; grep -B1 ERROR "$work/out.txt"; exit 1
fi
$py - "$work" "$reps" <<'PY'
import os, re, subprocess, sys, time
work, reps = sys.argv[1], int(sys.argv[2])
out = open(os.path.join(work, "out.txt")).read().splitlines()
vals = [float(l) for l in out if re.fullmatch(r"\s*-?\d+\.\d+\s*", l)]
check = [l.split() for l in out if re.fullmatch(r"\d+ \d+ \d+", l.strip())]
if len(vals) != 2 * reps or len(check) != reps or any(c != ["16777216", "0", "16777215"] for c in check):
    sys.exit("unexpected pelix output:\n" + "\n".join(out[-10:]))
pw, pr = min(vals[0::2]), min(vals[1::2])
one = [float(l) for l in open(os.path.join(work, "one.txt")).read().splitlines() if re.fullmatch(r"\s*-?\d+\.\d+\s*", l)]
ow, orr = (min(one[0::2]), min(one[1::2])) if len(one) == 2 * reps else (None, None)
data = 16 * 64 * 2**20
big = os.path.join(work, "big.dm")
if os.path.getsize(big) != 8192 + data:
    sys.exit("unexpected DM file size %d" % os.path.getsize(big))
# dd: the same bytes (the DM file's data, in the page cache) to a file in
# the same folder, then that file read back.
dd = os.path.join(work, "dd.bin")
def timed(*cmd):
    t0 = time.perf_counter()
    subprocess.run(cmd, check=True)
    return time.perf_counter() - t0
ddw = ddr = 1e9
for _ in range(reps):
    if os.path.exists(dd):
        os.remove(dd)
    ddw = min(ddw, timed("dd", "if=" + big, "of=" + dd, "bs=1M", "skip=8192", "iflag=skip_bytes", "status=none"))
    ddr = min(ddr, timed("dd", "if=" + dd, "of=/dev/null", "bs=1M", "status=none"))
mb = data / 2**20
print("16 records of 64 MiB (%.0f MiB)" % mb)
print("%-22s %9s %9s" % ("", "s", "MiB/s"))
rows = [("dmwrite", pw), ("dd write", ddw), ("dmread", pr), ("dd read", ddr)]
if ow is not None:
    rows += [("dmwrite, one core", ow), ("dmread, one core", orr)]
for name, t in rows:
    print("%-22s %9.3f %9.0f" % (name, t, mb / t))
print("ratio write pelix / dd %.2f   (goal >= 0.8)" % (ddw / pw))
print("ratio read  pelix / dd %.2f   (goal >= 0.8)" % (ddr / pr))
if ow is not None:
    print("one core: ratio write %.2f, read %.2f" % (ddw / ow, ddr / orr))
PY
