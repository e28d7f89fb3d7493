#!/usr/bin/env bash
# Movie recording and playback, on the virtual clock: build/pelix records
# 1,000 frames of 640x480 in a real-time run (a box that moves on every
# frame, the screen read into an image and added to the movie), then plays
# the movie back with animate (every frame painted: its uncompressed frames
# are read from the file straight into the window's memory). In the same
# run ffmpeg writes the same 1,000 frames (taken from the movie beforehand,
# untimed) as an uncompressed AVI and decodes that file. Prints the times
# and the ratios pelix / ffmpeg, best of R runs of each.
#   bench/movie.sh [build folder or path/to/pelix]   (N=1000 R=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
[ -e "$bin" ] && bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
n=${N:-1000}
runs=${R:-3}
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg not found"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/rec.pelix" <<EOF
declare long image img(640,480)
declare integer array bx(4)
bx = {0 200 39 239}
declare integer array sv(4)
sv = {1 0 1 0}
declare integer array rs(4)
rs = {590 0 590 0}
declare integer array reg(4)
reg = {0 0 640 480}
declare string nm
nm = "rec.avi"
realtime - - 0 {
r_aviwrite 0 0 0 nm 25 640 480
r_repeat 0 0 0 $n 40
r_bfill 0 0 0 0 bx
r_add 0 0 0 bx sv bx 4
r_ifgt 0 0 0 bx 590
r_sub 0 0 0 bx rs bx 4
r_endif
r_bfill 0 0 1 16711935 bx
r_sread 0 0 2 img reg
r_aviaddframe 0 0 3 img 1
r_end
r_aviwrite 0 0 + 1 0 0 $n
}
EOF
echo 'animate "rec.avi"' > "$work/play.pelix"

run() {  # run NAME: the session's seconds
  local t0 t1
  t0=$(date +%s.%N)
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless PELIX_CLOCK=virtual SDL_AUDIODRIVER=dummy \
    "$bin" < "$1.pelix" > "$1.out" 2>&1)
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
best() { printf '%s\n' "$@" | sort -g | head -1; }

rec=() play=() fw=() fd=()
for ((i = 0; i < runs; i++)); do
  rm -f "$work/rec.avi"
  rec+=("$(run rec)")
  # Each file is on disk before it is read back, so that neither reader
  # competes with the writing back of what was just written.
  sync "$work/rec.avi"
  play+=("$(run play)")
done
frames=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$work/rec.avi")
[ "$frames" = "$n" ] || { echo "the recording holds $frames frames, not $n"; cat "$work/rec.out"; exit 1; }
ffmpeg -v error -i "$work/rec.avi" -f rawvideo -pix_fmt bgra "$work/frames.raw"
for ((i = 0; i < runs; i++)); do
  rm -f "$work/ref.avi"
  t0=$(date +%s.%N)
  ffmpeg -v error -f rawvideo -pix_fmt bgra -s 640x480 -r 25 -i "$work/frames.raw" -c:v rawvideo \
    -pix_fmt bgra "$work/ref.avi"
  t1=$(date +%s.%N)
  fw+=("$(echo "$t1 - $t0" | bc -l)")
  sync "$work/ref.avi"
  t0=$(date +%s.%N)
  ffmpeg -v error -i "$work/ref.avi" -f null -
  t1=$(date +%s.%N)
  fd+=("$(echo "$t1 - $t0" | bc -l)")
done
r=$(best "${rec[@]}") p=$(best "${play[@]}") w=$(best "${fw[@]}") d=$(best "${fd[@]}")
echo "$n frames of 640x480, best of $runs (load $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-28s %8.3f s\n' "pelix record" "$r" "ffmpeg write (rawvideo)" "$w" "pelix play (animate)" "$p" \
  "ffmpeg decode" "$d"
printf 'record / ffmpeg write:  %.2fx\n' "$(echo "$r / $w" | bc -l)"
printf 'play / ffmpeg decode:   %.2fx\n' "$(echo "$p / $d" | bc -l)"
