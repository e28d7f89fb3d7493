#!/usr/bin/env bash
# Scripted input (PELIX_INPUT) with the sdl backend on a virtual X display:
# while the script waits, the display shows what the script's own snapshot
# shows (an X screen capture matches it).
#
# usage: xvfb_wait.sh PROGRAM SOURCE-FOLDER
set -uo pipefail
bin=$1
src=$2
for t in Xvfb xdotool xwd python3; do
  command -v "$t" >/dev/null || { echo "missing $t: tools/dev installs it"; exit 1; }
done
export PELIX_INPUT="$src/tests/ui/xvfb_wait.input"
. "$(dirname "$0")/xvfb_start.bash"
xvfb_start 231 300 60
for i in $(seq 100); do [ -s want.png ] && break; sleep 0.1; done
[ -s want.png ] || { echo "the script wrote no snapshot:"; cat stdout stderr; exit 1; }
# The snapshot complete, the script in its wait; a busy machine gets a few
# tries.
same=1
for i in 1 2 3 4 5 6; do
  sleep 0.5
  xwd -root -silent >shot.xwd
  python3 "$src/tests/session/imgdiff.py" shot.xwd want.png >diff.txt && { same=0; break; }
done
if [ $same != 0 ]; then
  echo "the display during the script's wait differs from its snapshot:"; cat diff.txt; cat stderr
fi
exit $same
