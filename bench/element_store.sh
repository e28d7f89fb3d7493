#!/usr/bin/env bash
# Times a macro loop whose every pass stores one element (v(3) = i) and
# counts (i = i + 1), N=1000000 passes, as a text macro, run by build/pelix
# pinned to one processor and timed by the processor time it used (medians
# of TURNS=20 runs).
#   bench/element_store.sh [path/to/pelix or build folder]
# With OLD=path/to/another/pelix (or its build folder) both builds run in
# turns and the ratio of this build's median to the other's is printed
# (bench/turns.bash).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
. "$root/bench/turns.bash"
turns_begin "${1:-}"
n=${N:-1000000}
printf 'i = 0\nwhile (i < %d) {\n  i = i + 1\n  v(3) = i\n}\n' "$n" > "$work/store.imp"
printf 'declare global number i\ndeclare global real array v(10)\nrun store.imp\ntype v(3)\n' > "$work/store.in"
echo "element-store loop, $n passes, this build $bin${old:+ against $old}"
duel "text macro" "$n" "$work/store.in"
loadnote
