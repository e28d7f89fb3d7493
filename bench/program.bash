# Shared by the benchmarks: program [ARG] sets bin to the program's absolute
# path: ARG is the program or its build folder (tools/dev bench passes the
# build folder), build/pelix by default; root must be set.
program() {
  bin=${1:-$root/build/pelix}
  [ -d "$bin" ] && bin=$bin/pelix
  [ -e "$bin" ] && bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
  [ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
}
