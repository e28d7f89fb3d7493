#!/usr/bin/env bash
# Movie recording and playback, on the virtual clock, against ffmpeg doing
# the same work in the same run:
#  - record: build/pelix draws 1,000 frames of 640x480 in a real-time run
#    (a box that moves on every frame, the screen read into an image and
#    added to the movie, an uncompressed 32-bit AVI); ffmpeg draws the same
#    frames (a box laid over a black frame by its filter graph) and writes
#    them as an uncompressed 32-bit AVI. Both movies are checked to hold the
#    same pixels.
#  - play: build/pelix plays its movie with animate (every frame read and
#    painted into the window's memory); ffmpeg decodes the same file (every
#    frame read and decoded, to its null output).
#  - play MJPEG: the same, for the movie made MJPEG by ffmpeg (frames that
#    FFmpeg decodes and the program converts to its pixels).
# Prints the times and the ratios pelix / ffmpeg, best of R runs of each.
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
echo 'animate "mj.avi"' > "$work/playmj.pelix"

run() {  # run NAME: the session's seconds
  local t0 t1
  t0=$(date +%s.%N)
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless PELIX_CLOCK=virtual SDL_AUDIODRIVER=dummy \
    "$bin" < "$1.pelix" > "$1.out" 2>&1)
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
best() { printf '%s\n' "$@" | sort -g | head -1; }

rec=() play=() fw=() fd=() pmj=() fmj=()
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
# ffmpeg's frames: the 40x40 box at x = frame mod 590 + 1 (counted from 0),
# y = 200, in 0xFF00FF on black; the frame number its overlay counts from 1.
refrec() {
  ffmpeg -v error -y -f lavfi -i "color=c=black:s=640x480:r=25,format=bgra" \
    -f lavfi -i "color=c=0xFF00FF:s=40x40:r=25,format=bgra" \
    -filter_complex "[0][1]overlay=x='mod(n-1,590)+1':y=200:eval=frame:format=rgb" \
    -frames:v "$n" -c:v rawvideo -pix_fmt bgra "$work/ref.avi"
}
ffmpeg -v error -y -i "$work/rec.avi" -c:v mjpeg -q:v 3 "$work/mj.avi"
sync "$work/mj.avi"
for ((i = 0; i < runs; i++)); do
  pmj+=("$(run playmj)")
  t0=$(date +%s.%N)
  ffmpeg -v error -i "$work/mj.avi" -f null -
  t1=$(date +%s.%N)
  fmj+=("$(echo "$t1 - $t0" | bc -l)")
done
for ((i = 0; i < runs; i++)); do
  rm -f "$work/ref.avi"
  t0=$(date +%s.%N)
  refrec
  t1=$(date +%s.%N)
  fw+=("$(echo "$t1 - $t0" | bc -l)")
  sync "$work/ref.avi"
  t0=$(date +%s.%N)
  ffmpeg -v error -i "$work/rec.avi" -f null -
  t1=$(date +%s.%N)
  fd+=("$(echo "$t1 - $t0" | bc -l)")
done
# The same work: both movies hold the same pixels (the fourth byte aside).
sum() { ffmpeg -v error -i "$1" -f md5 -pix_fmt bgr24 -; }
[ "$(sum "$work/rec.avi")" = "$(sum "$work/ref.avi")" ] || { echo "the two movies differ"; exit 1; }
r=$(best "${rec[@]}") p=$(best "${play[@]}") w=$(best "${fw[@]}") d=$(best "${fd[@]}")
pm=$(best "${pmj[@]}") dm=$(best "${fmj[@]}")
echo "$n frames of 640x480, best of $runs (load $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-28s %8.3f s\n' "pelix record" "$r" "ffmpeg draw and write" "$w" "pelix play (animate)" "$p" \
  "ffmpeg decode (same file)" "$d" "pelix play MJPEG (animate)" "$pm" "ffmpeg decode (same MJPEG)" "$dm"
printf 'record / ffmpeg write:  %.2fx\n' "$(echo "$r / $w" | bc -l)"
printf 'play / ffmpeg decode:   %.2fx\n' "$(echo "$p / $d" | bc -l)"
printf 'play MJPEG / decode:    %.2fx\n' "$(echo "$pm / $dm" | bc -l)"
