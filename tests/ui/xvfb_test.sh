#!/usr/bin/env bash
# Starts the program on a virtual X display with the sdl backend, types a
# command into its window through the X server, and checks the command
# window's row and a screenshot of the display against the headless
# program's snapshot of the same state: the pixels are the same with and
# without a display.
#
# usage: xvfb_test.sh PROGRAM SOURCE-FOLDER
set -uo pipefail
bin=$1
src=$2
. "$(dirname "$0")/xvfb_start.bash"
xvfb_need xwd python3
xvfb_start 91 160 60
xdotool type --delay 30 'ftype "%d\n" 6*7'
xdotool key Return
# The command's row and its output arrive on standard output.
for i in $(seq 100); do grep -qx '42' stdout && break; sleep 0.1; done
status=0
if ! grep -qx 'PELIX> ftype "%d\\n" 6\*7' stdout || ! grep -qx '42' stdout; then
  echo "the command window's rows are not there:"; cat stdout; cat stderr; status=1
fi
# The same state, headless.
printf 'type "ftype \\"%%d\\\\n\\" 6*7\\n"\nsnapshot want.png\n' >in.txt
PELIX_INPUT=in.txt PELIX_BACKEND=headless PELIX="$src/system" TEMP="$work" "$bin" </dev/null >hstdout 2>&1
# The window shows the prompt again soon.
if ! xvfb_same want.png; then
  echo "the screen differs from the headless snapshot:"; cat diff.txt; status=1
fi

# Quit through the window.
xdotool type --delay 30 'quit'
xdotool key Return
for i in $(seq 100); do kill -0 "$ppid_" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$ppid_" 2>/dev/null; then echo "quit did not end the program"; status=1; fi
wait "$ppid_"; rc=$?
ppid_=
[ "$rc" = 0 ] || { echo "exit status $rc"; cat stderr; status=1; }
exit $status
