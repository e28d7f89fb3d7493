#!/usr/bin/env bash
# Scripted input (PELIX_INPUT) with the sdl backend on a virtual X display:
# while the script waits, the display shows what the script's own snapshot
# shows (an X screen capture matches it).
#
# usage: xvfb_wait.sh PROGRAM SOURCE-FOLDER
set -uo pipefail
bin=$1
src=$2
export PELIX_INPUT="$src/tests/ui/xvfb_wait.input"
. "$(dirname "$0")/xvfb_start.bash"
xvfb_need xwd python3
xvfb_start 231 300 60
for i in $(seq 100); do [ -s want.png ] && break; sleep 0.1; done
[ -s want.png ] || { echo "the script wrote no snapshot:"; cat stdout stderr; exit 1; }
# The snapshot complete, the script in its wait.
xvfb_same want.png && exit 0
echo "the display during the script's wait differs from its snapshot:"; cat diff.txt; cat stderr
exit 1
