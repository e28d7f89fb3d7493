# Shared by the benchmarks that compare two builds of the program: each
# measured run is pinned to one processor (taskset, CORE=n, the last one by
# default) and timed by the processor time it used (user + sys, from perf
# stat's task-clock when perf works, else from /usr/bin/time), so that other
# work on a shared machine changes the figures little. The two builds run in
# alternating turns; the medians of the turns are compared.
#   turns_begin [ARG]              bin: this build (ARG as program takes
#                                  it), old: the build named by OLD (none
#                                  without OLD); picks the core and the
#                                  timer; work: a fresh folder, removed at
#                                  exit (program.bash must be read first)
#   turns_setup                    picks the core and the timer
#   cputime OUT IN -- CMD ...      runs CMD with standard input IN, output
#                                  to OUT; prints the processor seconds
#   median V1 V2 ...               the median of the values
#   loadnote                       the load average and the processor count

turns_begin() {
  program "${1:-}"
  old=
  if [ -n "${OLD:-}" ]; then
    local this=$bin
    program "$OLD"
    old=$bin
    bin=$this
  fi
  turns_setup
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

turns_setup() {
  ncpu=$(nproc 2>/dev/null || echo 1)
  core=${CORE:-$((ncpu - 1))}
  pin=()
  command -v taskset >/dev/null && pin=(taskset -c "$core")
  timer=time
  if command -v perf >/dev/null && perf stat -x, -e task-clock -o /dev/null -- true >/dev/null 2>&1; then
    timer=perf
  elif [ ! -x /usr/bin/time ]; then
    echo "neither perf nor /usr/bin/time can time a run" >&2
    exit 1
  fi
}

cputime() { # out in -- cmd...
  local out=$1 in=$2 f
  shift 3
  f=$(mktemp)
  if [ "$timer" = perf ]; then
    "${pin[@]}" perf stat -x, -e task-clock -o "$f" -- "$@" <"$in" >"$out" 2>&1
    awk -F, '$3 == "task-clock" { printf "%.4f\n", $1 / 1000 }' "$f"
  else
    /usr/bin/time -f '%U %S' -o "$f" "${pin[@]}" "$@" <"$in" >"$out" 2>&1
    awk 'NF == 2 { printf "%.4f\n", $1 + $2 }' "$f" | tail -1
  fi
  rm -f "$f"
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

loadnote() {
  printf 'load average %s over %s processors (timer: %s, core %s)\n' \
    "$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null)" "$ncpu" "$timer" "$core"
}

# duel LABEL WANT IN: runs "$bin" and "$old" (the build compared against)
# in turns, TURNS times each (20 by default), in the folder $work with
# standard input IN; each run's output must hold WANT. Prints the medians
# and this build's median over the other's. Without old, only this build.
duel() {
  local label=$1 want=$2 in=$3 k t a=() b=() ma mb
  local turns=${TURNS:-20}
  for ((k = 0; k < turns; k++)); do
    for which in new old; do
      local prog=$bin
      if [ $which = old ]; then
        [ -n "${old:-}" ] || continue
        prog=$old
      fi
      t=$(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless cputime "$work/out" "$in" -- "$prog")
      grep -q -- "$want" "$work/out" || { echo "$label: $which build did not print $want:"; tail -5 "$work/out"; exit 1; }
      if [ $which = new ]; then a+=("$t"); else b+=("$t"); fi
    done
  done
  ma=$(median "${a[@]}")
  if [ -n "${old:-}" ]; then
    mb=$(median "${b[@]}")
    awk -v l="$label" -v a="$ma" -v b="$mb" -v n="$turns" 'BEGIN {
      printf "  %-28s this %.3f s  old %.3f s  ratio %.3f (medians of %d turns)\n", l, a, b, a / b, n }'
  else
    awk -v l="$label" -v a="$ma" -v n="$turns" 'BEGIN { printf "  %-28s %.3f s (median of %d)\n", l, a, n }'
  fi
}
