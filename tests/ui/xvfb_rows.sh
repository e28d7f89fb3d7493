#!/usr/bin/env bash
# In the sdl backend every finished row of the command window also goes to
# standard output, through a whole session: commands typed into the window
# on a virtual X display (declarations, show declare with its matrix and
# image blocks, and the commands after it) must all be on standard output,
# in order, while the program still runs.
#
# usage: xvfb_rows.sh PROGRAM SOURCE-FOLDER
set -uo pipefail
bin=$1
src=$2
for t in Xvfb xdotool; do
  command -v "$t" >/dev/null || { echo "missing $t: tools/dev installs it"; exit 1; }
done
work=$(mktemp -d)
xpid=
ppid_=
cleanup() {
  [ -n "$ppid_" ] && kill "$ppid_" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

disp=
for n in $(seq 161 230); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then disp=$n; break; fi
done
[ -n "$disp" ] || { echo "no free display number"; exit 1; }
Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >xvfb.log 2>&1 &
xpid=$!
export DISPLAY=":$disp"
for i in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "Xvfb did not start"; cat xvfb.log; exit 1; }

PELIX_BACKEND=sdl PELIX="$src/system" PELIX_TIMEOUT=90 TEMP="$work" "$bin" </dev/null >stdout 2>stderr &
ppid_=$!
wid=$(timeout 20 xdotool search --sync --name '^PELIX$' | head -1)
[ -n "$wid" ] || { echo "no PELIX window"; cat stderr; exit 1; }
xdotool windowfocus "$wid"
for i in $(seq 50); do [ "$(xdotool getwindowfocus 2>/dev/null)" = "$wid" ] && break; sleep 0.1; done
sleep 1.5
# Each command once the row before it has arrived (a busy machine is slow).
typeline() { # text, row that must follow
  xdotool type --delay 20 "$1"
  xdotool key Return
  for i in $(seq 100); do grep -qxF -- "$2" stdout && return 0; sleep 0.1; done
  return 1
}
status=0
typeline 'declare real matrix zqm(3,2)' 'PELIX> declare real matrix zqm(3,2)' || status=1
typeline 'declare byte image zqi(4,4)' 'PELIX> declare byte image zqi(4,4)' || status=1
typeline 'show declare' ' zqi' || status=1
typeline 'type 123' '         123' || status=1
typeline 'ftype "%d\n" 6*7' '42' || status=1
# The rows in order: the matrix and image blocks and what followed them.
want=$'Matrix Variables:\n prdots       zqm\nImage Variables:\n zqi\nPELIX> type 123\n         123\nPELIX> ftype "%d\\n" 6*7\n42'
got=$(sed -n '/^Matrix Variables:$/,$p' stdout)
if [ $status != 0 ] || [ "$got" != "$want" ]; then
  echo "standard output lacks rows of the command window:"; cat stdout; cat stderr; status=1
fi
xdotool type --delay 20 'quit'
xdotool key Return
for i in $(seq 100); do kill -0 "$ppid_" 2>/dev/null || break; sleep 0.1; done
wait "$ppid_" 2>/dev/null
ppid_=
exit $status
