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
. "$(dirname "$0")/xvfb_start.bash"
xvfb_need
xvfb_start 161 230 90
# Each command once the row before it has arrived (a busy machine is slow).
typeline() { # text, row that must follow
  xdotool type --delay 20 "$1"
  xdotool key Return
  for i in $(seq ${3:-100}); do grep -qxF -- "$2" stdout && return 0; sleep 0.1; done
  return 1
}
# Keys typed before the program reads them may be lost (a slow start under
# the sanitizers): a probe line is typed until its row comes back.
synced=1
for k in $(seq 15); do
  typeline 'type 0' '           0' 10 && { synced=0; break; }
done
[ $synced = 0 ] || { echo "the window never answered:"; cat stdout stderr; exit 1; }
# A command whose keys the X server garbled on a busy machine (seen under
# the sanitizers) is typed again: what is checked is that rows the window
# shows reach standard output, not the typing.
retype() { # text, row that must follow
  for k in 1 2 3; do typeline "$1" "$2" 40 && return 0; done
  return 1
}
status=0
retype 'declare real matrix zqm(3,2)' 'PELIX> declare real matrix zqm(3,2)' || status=1
retype 'declare byte image zqi(4,4)' 'PELIX> declare byte image zqi(4,4)' || status=1
retype 'show declare' ' zqi' || status=1
retype 'type 123' '         123' || status=1
retype 'ftype "%d\n" 6*7' '42' || status=1
# The rows in order: show declare's matrix and image blocks, then the
# commands after it with their output.
got=$(awk '
  /^Matrix Variables:$/ { blk = NR }
  NR == blk + 1 && $0 == " prdots       zqm" { m = NR }
  NR == m + 1 && /^Image Variables:$/ { i = NR }
  NR == i + 1 && $0 == " zqi" { z = NR }
  z && /^PELIX> type 123$/ { t = NR }
  t && NR == t + 1 && $0 == "         123" { tt = NR }
  tt && /^PELIX> ftype "%d\\n" 6\*7$/ { f = NR }
  f && NR == f + 1 && $0 == "42" { ok = 1 }
  END { print ok ? "in order" : "missing" }' stdout)
if [ $status != 0 ] || [ "$got" != "in order" ]; then
  echo "standard output lacks rows of the command window:"; cat stdout; cat stderr; status=1
fi
xdotool type --delay 20 'quit'
xdotool key Return
for i in $(seq 100); do kill -0 "$ppid_" 2>/dev/null || break; sleep 0.1; done
wait "$ppid_" 2>/dev/null
ppid_=
exit $status
