#!/usr/bin/env bash
# Each run of the interpreter's fuzz harness starts as from nothing: the
# probe's transcript alone is the same as after a run that changed folder,
# files, the clock, high memory, drawing, devices, the screen's records and
# the system folder (tests/fuzz/fresh).
#   fresh.sh FUZZ_REPLAY FOLDER
set -uo pipefail
bin=$1
dir=$(cd "$2" && pwd)
# The transcripts without the replay lines and the run's own folder name.
clean() { grep -v -e '^replay ' -e '^\[run:' -e 'inputs replayed$' | sed 's/pelix-fuzz-[A-Za-z0-9-]*/pelix-fuzz-X/g'; }
alone=$(PELIX_FUZZ_SHOW=1 "$bin" "$dir/2-probe" 2>&1 | clean)
after=$(PELIX_FUZZ_SHOW=1 "$bin" "$dir/1-dirty" "$dir/2-probe" 2>&1 | sed -n '/^replay .*2-probe$/,$p' | clean)
if [ "$alone" != "$after" ]; then
  echo "the probe differs after the other run:"
  diff <(echo "$alone") <(echo "$after")
  exit 1
fi
grep -q "0 records" <<<"$alone" || { echo "the probe did not run:"; echo "$alone"; exit 1; }
echo "probe alone and after the other run: the same"
