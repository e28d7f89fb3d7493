# Set-up shared by the drawing benchmarks that compare with OpenCV: sourced
# with the script's name and its arguments [build folder] [runs]. Sets
# root, build, runs, bin (the program), py (a python3 with cv2 and numpy)
# and work (a temporary folder, removed at the end, holding timed.imp:
# redraws of the list timed inside the program, as many as take 100 ms at
# least (the stopwatch counts milliseconds), printed as "NAME seconds" a
# redraw; the program declares the numbers t and k for it), and the
# function cvrun that runs the program on $work/cmds.
name=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${2:-$root/build}" && pwd)
runs=${3:-5}
bin=$build/pelix
[ -x "$bin" ] || { echo "$name: no program at $bin" >&2; exit 1; }
py=
for p in /usr/bin/python3 python3; do
  if command -v "$p" >/dev/null && "$p" -c 'import cv2, numpy' 2>/dev/null; then py=$p; break; fi
done
[ -n "$py" ] || { echo "$name: no python3 with cv2 (apt-get install python3-opencv)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/timed.imp" <<'IMP'
time(0)
k = 0
t = 0
while (t < 0.1) {
redraw 0 0
k = k + 1
t = time(1)
}
t = t / k
ftype "%s %.5f\n" $1 t
IMP
# Runs the program on $work/cmds; res gets the lines of its output that
# begin with one of the words of pattern (a|b), of which there must be want.
cvrun() {
  local out
  out=$(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless TEMP="$work" "$bin" < "$work/cmds" 2>&1)
  res=$(echo "$out" | grep -E "^($1) " || true)
  [ "$(echo "$res" | grep -c .)" = "$2" ] || { echo "$name: the program gave no result:"; echo "$out" | tail -20; exit 1; }
}
