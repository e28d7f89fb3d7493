# Shared by the benchmarks that time operations inside the program with its
# own clock (time(0) ... time(1)), which counts milliseconds: a block lasts
# 100 ms at least, so that the clock's step is 1% of it or less.
#   stopwatch FILE "LINE"   writes the macro FILE that carries out LINE
#                           over and over until 100 ms have passed, then
#                           prints "= S", S the seconds one LINE took.
# The script that runs such a macro declares the numbers swk and swt first
# (stopwatch_vars gives that line).
stopwatch() {
  printf 'time(0)\nswk = 0\nswt = 0\nwhile (swt < 0.1) {\n%s\nswk = swk + 1\nswt = time(1)\n}\nswt = swt / swk\nftype "= %%.7f\\n" swt\n' "$2" > "$1"
}
stopwatch_vars() { echo "declare number swk swt"; }
