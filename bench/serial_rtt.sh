#!/usr/bin/env bash
# Serial round trips through a pseudo-terminal: one C peer answers each
# 1-byte command with 4 bytes and stamps (CLOCK_MONOTONIC) when it sends a
# reply and when the next command arrives; the difference is the client's
# turnaround. Two clients in one run: a PELIX macro loop (comwrite, then
# comread(1, 4, 1)) run by build/pelix, and a plain C++ write/poll/read
# loop. Prints p50, p99 and p99.9 of the turnaround in microseconds and the
# ratio at p99 (goal: at most 1.2).
#   bench/serial_rtt.sh [path/to/pelix or build folder]   (N=10000 by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/program.bash"
program "${1:-}"
n=${N:-10000}
command -v gcc >/dev/null && command -v g++ >/dev/null || { echo "gcc and g++ are needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The peer: serves commands on standard input until it ends; on command
# n + 1 it writes the n turnarounds (ns) that follow each reply to the file
# named by its first argument before it replies (the client's last read
# waits for the file, so that closing the port cannot cut it short).
cat > "$work/peer.c" <<'C'
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
static long long now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}
int main(int argc, char** argv) {
  if (argc < 3) return 2;
  signal(SIGHUP, SIG_IGN);  /* finish the file, then end at end of input */
  long n = atol(argv[2]);
  long long* sent = calloc((size_t)n + 2, sizeof *sent);
  long long* came = calloc((size_t)n + 2, sizeof *came);
  long k = 0;
  char c;
  while (read(0, &c, 1) == 1) {
    long long t = now();
    if (k <= n) came[k] = t;
    if (k == n) {
      FILE* f = fopen(argv[1], "w");
      for (long i = 0; i < n; i++) fprintf(f, "%lld\n", came[i + 1] - sent[i]);
      fclose(f);
    }
    if (write(1, "abcd", 4) != 4) break;
    if (k <= n) sent[k] = now();
    k++;
  }
  return 0;
}
C
gcc -O2 -o "$work/peer" "$work/peer.c"

# The plain client: the same raw settings PELIX gives the port.
cat > "$work/client.cpp" <<'CPP'
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <cstdio>
#include <string>
int main(int argc, char** argv) {
  long n = std::atol(argv[2]);
  int m = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(m);
  unlockpt(m);
  int s = open(ptsname(m), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t;
  tcgetattr(s, &t);
  cfmakeraw(&t);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  tcsetattr(s, TCSANOW, &t);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(m, 0);
    dup2(m, 1);
    close(s);
    execl(argv[1], argv[1], argv[3], argv[2], (char*)nullptr);
    _exit(127);
  }
  close(m);
  for (long k = 0; k <= n; k++) {
    if (write(s, "c", 1) != 1) return 1;
    int got = 0;
    char buf[4];
    while (got < 4) {
      pollfd p{s, POLLIN, 0};
      poll(&p, 1, 2000);
      ssize_t r = read(s, buf + got, 4 - got);
      if (r > 0) got += static_cast<int>(r);
    }
  }
  close(s);
  waitpid(pid, nullptr, 0);
  return 0;
}
CPP
g++ -O2 -o "$work/client" "$work/client.cpp"

# The loop as a text macro and compiled (made first, not timed); the first
# command opens the port and starts the peer.
cat > "$work/loop.imp" <<IMP
comwrite "c" 1 387
s = comread(1, 4, 1)
i = 0
while (i < $n) {
  comwrite "c" 1
  s = comread(1, 4, 1)
  i = i + 1
}
IMP
pelix() { # stamps file, keys
  (cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless PELIX_COM1="exec:./peer $1 $n" "$bin" <<< "$2")
}
printf 'declare global number i\ndeclare global string s\ncompile loop\n' | pelix none.txt "$(cat)" > /dev/null
mv "$work/loop.cmp" "$work/cloop.cmp"
decl=$'declare global number i\ndeclare global string s'

reps=${R:-3}
for ((r = 0; r < reps; r++)); do
  out=$(pelix "text$r.txt" "$decl"$'\nrun loop.imp\ntype i')
  echo "$out" | grep -q "$n" || { echo "the text macro loop did not reach $n:"; echo "$out"; exit 1; }
  out=$(pelix "comp$r.txt" "$decl"$'\ncloop\ntype i')
  echo "$out" | grep -q "$n" || { echo "the compiled loop did not reach $n:"; echo "$out"; exit 1; }
  "$work/client" "$work/peer" "$n" "$work/ref$r.txt"
done

python3 - "$work" "$reps" "$n" <<'PY'
import sys
work, reps, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def q(a, p):
    return a[min(len(a) - 1, int(p * len(a)))]
def load(name):
    a = sorted(int(v) / 1000.0 for v in open(f"{work}/{name}"))
    if len(a) != n:
        sys.exit(f"{name}: {len(a)} turnarounds, expected {n}")
    return a
print(f"{n} round trips a run; client turnaround in microseconds (reply sent -> next command)")
print(f"{'run':6s}{'':16s}{'p50':>9s}{'p99':>9s}{'p99.9':>9s}   p99 ratio")
ratios = {"text": [], "comp": []}
for r in range(reps):
    c = load(f"ref{r}.txt")
    print(f"{r:<6d}{'C++ loop':16s}{q(c, .5):9.1f}{q(c, .99):9.1f}{q(c, .999):9.1f}")
    for way, name in (("text", "pelix text"), ("comp", "pelix compiled")):
        p = load(f"{way}{r}.txt")
        ratio = q(p, .99) / q(c, .99)
        ratios[way].append(ratio)
        print(f"{'':6s}{name:16s}{q(p, .5):9.1f}{q(p, .99):9.1f}{q(p, .999):9.1f}   {ratio:.2f}")
for way, name in (("text", "text macro"), ("comp", "compiled macro")):
    a = ratios[way]
    med = sorted(a)[len(a) // 2]
    print(f"p99 ratio pelix {name} / C++: median {med:.2f}, best {min(a):.2f}, worst {max(a):.2f} (goal <= 1.2)")
PY
