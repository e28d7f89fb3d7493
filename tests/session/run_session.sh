#!/usr/bin/env bash
# Runs the program headless on a command script and compares its standard
# output with the transcript beside the script (NAME.pelix -> NAME.out).
#
# The program runs in a fresh temporary folder that holds the script's
# companions (NAME.files/ is copied in when present). When NAME.check exists
# it is run afterwards in that folder (with the output in ./stdout and the
# session folder in SESSION_DIR, the program in SESSION_BIN) and must exit
# 0: it checks files the session wrote. NAME.input, when present, is the session's scripted input
# (PELIX_INPUT): its steps come first, then the keys of NAME.pelix.
# NAME.env, when present, sets environment variables for the run (sourced
# in the session folder, e.g. PELIX_AUDIO_OUT=out.wav, or a serial device
# and its peer: PELIX_COM1="exec:python3 peer.py"). Serial ports the session
# does not name lead nowhere, so that no session reaches a real port.
set -uo pipefail
bin=$1
script=$2
dir=$(dirname "$script")
name=$(basename "$script" .pelix)
expect="$dir/$name.out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -d "$dir/$name.files" ] && cp -r "$dir/$name.files/." "$work/"
srcdir=$(cd "$dir/../.." && pwd)
input=
[ -f "$dir/$name.input" ] && input=$(cd "$dir" && pwd)/$name.input
export SESSION_DIR=$(cd "$dir" && pwd)
# The program, for checks that run it again under other conditions.
export SESSION_BIN=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
for n in 1 2 3 4 5 6 7 8 9 10; do export PELIX_COM$n=/nonexistent/ttyS$n; done
cd "$work"
# Sound goes to SDL's dummy audio driver (a script adds its own doubles).
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
[ -f "$SESSION_DIR/$name.env" ] && set -a && . "$SESSION_DIR/$name.env" && set +a
PELIX_INPUT="$input" PELIX="$srcdir/system" PELIX_BACKEND=headless PELIX_CLOCK=virtual TEMP="$work" TMP="$work" \
  timeout 60 "$bin" < "$script" > stdout 2> stderr
rc=$?
want_rc=0
[ -f "$dir/$name.rc" ] && want_rc=$(cat "$dir/$name.rc")
status=0
if [ "$rc" != "$want_rc" ]; then
  echo "exit status $rc, expected $want_rc"; cat stderr; status=1
fi
if ! diff -u "$expect" stdout; then
  echo "output differs from $expect"; status=1
fi
if [ -f "$dir/$name.check" ]; then
  if ! bash "$dir/$name.check"; then echo "check $name.check failed"; status=1; fi
fi
exit $status
