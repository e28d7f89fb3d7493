#!/usr/bin/env bash
# A click on the close box of a view's window on a virtual X display: the
# window goes from the display at once, with no further input (no key, no
# mouse motion after the click).
#
# usage: xvfb_close.sh PROGRAM SOURCE-FOLDER
set -uo pipefail
bin=$1
src=$2
. "$(dirname "$0")/xvfb_start.bash"
xvfb_need xwd python3
xvfb_start 301 370 60
# How many pixels of the view's place (its frame from 300,200, 66 x 84
# pixels) show the main window's grey in a screen capture.
grey() {
  xwd -root -silent >shot.xwd
  python3 - "$src/tests/session" shot.xwd <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import imgdiff
w, h, rows = imgdiff.load(sys.argv[2])
print(sum(1 for y in range(200, 284) for x in range(300, 366) if rows[y][x] == (0x7F, 0x7F, 0x7F)))
PY
}
status=0
# Keys typed before the program reads them may be lost on a busy machine:
# each line is typed again until its row comes back.
typeline() {
  for k in 1 2 3; do
    xdotool type --delay 30 "$1"
    xdotool key Return
    for i in $(seq 50); do grep -qxF -- "PELIX> $1" stdout && return 0; sleep 0.1; done
  done
  echo "no row for: $1"; cat stdout stderr; exit 1
}
typeline 'declare image img(64,64)'
typeline 'img = 9'
typeline 'view img 300 200'
for i in $(seq 50); do [ "$(grey)" = 0 ] && break; sleep 0.1; done
[ "$(grey)" = 0 ] || { echo "the view is not on the display"; cat stdout stderr; exit 1; }
# The pointer on the close box (13 x 13 pixels at the caption's right end),
# then the click alone.
xdotool mousemove 356 209
sleep 0.5
xdotool click 1
gone=1
for i in $(seq 50); do [ "$(grey)" = $((66 * 84)) ] && { gone=0; break; }; sleep 0.1; done
if [ $gone != 0 ]; then
  echo "the view's window still shows after its close box was clicked ($(grey) grey pixels)"; status=1
fi
exit $status
