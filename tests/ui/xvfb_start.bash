# Sourced by the virtual-display tests: xvfb_start FIRST LAST TIMEOUT makes
# a working folder (removed at exit, with the display and the program),
# starts Xvfb on a free display number from FIRST to LAST, then the program
# ($bin, system folder $src/system) with the sdl backend and PELIX_TIMEOUT
# seconds, and waits until its window has the focus and has drawn its
# prompt. Leaves work, DISPLAY and wid (the window) set, in the folder.
xvfb_start() {
  work=$(mktemp -d)
  xpid=
  ppid_=
  trap xvfb_cleanup EXIT
  cd "$work" || exit 1
  disp=
  for n in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then disp=$n; break; fi
  done
  [ -n "$disp" ] || { echo "no free display number"; exit 1; }
  Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >xvfb.log 2>&1 &
  xpid=$!
  export DISPLAY=":$disp"
  for i in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
  xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "Xvfb did not start"; cat xvfb.log; exit 1; }

  PELIX_BACKEND=sdl PELIX="$src/system" PELIX_TIMEOUT=$3 TEMP="$work" "$bin" </dev/null >stdout 2>stderr &
  ppid_=$!
  wid=$(timeout 20 xdotool search --sync --name '^PELIX$' | head -1)
  [ -n "$wid" ] || { echo "no PELIX window"; cat stderr; exit 1; }
  xdotool windowfocus "$wid"
  # Keys typed before the window has the focus and has drawn its prompt are
  # lost on a busy machine: wait for both.
  for i in $(seq 50); do [ "$(xdotool getwindowfocus 2>/dev/null)" = "$wid" ] && break; sleep 0.1; done
  sleep 1.5
}

# xvfb_need TOOL...: ends the test when a tool is missing.
xvfb_need() {
  local t
  for t in Xvfb xdotool "$@"; do
    command -v "$t" >/dev/null || { echo "missing $t: tools/dev installs it"; exit 1; }
  done
}

# xvfb_same PNG: whether a capture of the whole display matches the image
# (the differences in diff.txt); a busy machine gets a few tries.
xvfb_same() {
  local i
  for i in 1 2 3 4 5 6; do
    sleep 0.5
    xwd -root -silent >shot.xwd
    python3 "$src/tests/session/imgdiff.py" shot.xwd "$1" >diff.txt && return 0
  done
  return 1
}

xvfb_cleanup() {
  [ -n "$ppid_" ] && kill "$ppid_" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
