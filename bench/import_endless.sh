#!/usr/bin/env bash
# An import whose line never ends: m = import("/dev/zero", 0, 0, 0, " ",
# "\n", 0, 1) through build/pelix, run whole (start-up, the import, quit)
# under /usr/bin/time. The line reader gives up once a line passes 64 MiB
# (error 42), so the run must end with that error. Prints the run's time
# and its peak resident memory (goals: under 3 s and under 400 MB; a reader
# that grew its buffer for the line read and copied GBs until memory ran
# out). MEM=KB limits the program's address space (ulimit -v), for running
# an older program safely.
#   bench/import_endless.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (Debian package time)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/ops.pelix" <<'X'
declare matrix m
m = import("/dev/zero", 0, 0, 0, " ", "\n", 0, 1)
type #0
X
(
  cd "$work"
  [ -n "${MEM:-}" ] && ulimit -v "$MEM"
  PELIX="$root/system" PELIX_BACKEND=headless /usr/bin/time -v "$bin" < ops.pelix > out.txt 2> time.txt
) || true
if ! grep -q "ERROR  42" "$work/out.txt" || ! grep -q -- "-42.000" "$work/out.txt"; then
  echo "pelix did not end the import with error 42:"; cat "$work/out.txt"; tail -5 "$work/time.txt"; exit 1
fi
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
secs=$(echo "$wall" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
echo "import of a line without end (/dev/zero), the whole run"
printf '%-24s %8.2f   (goal < 3)\n' "seconds" "$secs"
printf '%-24s %8.0f   (goal < 400)\n' "peak memory, MB" "$(echo "$kb" | awk '{ print $1 / 1024 }')"
