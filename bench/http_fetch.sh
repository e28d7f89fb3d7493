#!/usr/bin/env bash
# Fetches a 200 MB text file from python3's http.server on a free local
# port with the socket command of build/pelix (written into a file by the
# output redirection) and with curl -s -o, alternating, 5 runs each (N
# sets the count); checks that every fetched file equals the served one and
# prints the median wall time of each and the ratio pelix / curl. Both
# times are of the whole process, start-up included.
#   bench/http_fetch.sh [build-dir | path/to/pelix]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
command -v curl >/dev/null || { echo "curl is needed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work" "${N:-5}" "$bin" "$root/system" <<'PY'
import os, statistics, subprocess, sys, time

work, runs, pelix, sysdir = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
served = os.path.join(work, "served")
os.mkdir(served)
line = b"the quick brown fox jumps over the lazy dog 0123456789\n"
size = 200 * 1000 * 1000
with open(os.path.join(served, "big.txt"), "wb") as f:
    block = line * (1 << 14)
    left = size
    while left > 0:
        f.write(block[:left])
        left -= len(block)
big = open(os.path.join(served, "big.txt"), "rb").read()

srv = subprocess.Popen([sys.executable, "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                        "--directory", served], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
try:
    port = int(srv.stdout.readline().split(b" port ")[1].split()[0])
    script = os.path.join(work, "fetch.pelix")
    with open(script, "w") as f:
        f.write('socket "/big.txt" "127.0.0.1" 0 %d > pelix.txt\nftype "%%d\\n" r0\n' % port)
    env = dict(os.environ, PELIX=sysdir, PELIX_BACKEND="headless", PELIX_CLOCK="virtual")

    def run_pelix():
        with open(script) as inp:
            t0 = time.perf_counter()
            out = subprocess.run([pelix], stdin=inp, cwd=work, env=env, capture_output=True, check=True).stdout
            t = time.perf_counter() - t0
        if str(size).encode() not in out:
            sys.exit("pelix did not fetch the file: %r" % out[-200:])
        return t, "pelix.txt"

    def run_curl():
        t0 = time.perf_counter()
        subprocess.run(["curl", "-s", "-o", "curl.txt", "http://127.0.0.1:%d/big.txt" % port], cwd=work, check=True)
        return time.perf_counter() - t0, "curl.txt"

    times = {"pelix": [], "curl": []}
    for i in range(runs):
        for name, f in (("pelix", run_pelix), ("curl", run_curl)):
            t, out = f()
            path = os.path.join(work, out)
            if open(path, "rb").read() != big:
                sys.exit("%s: the fetched file differs from the served one" % name)
            os.remove(path)
            times[name].append(t)
    p, c = statistics.median(times["pelix"]), statistics.median(times["curl"])
    print("%-26s %10s %10s %8s" % ("200 MB over HTTP", "pelix s", "curl s", "ratio"))
    print("%-26s %10.3f %10.3f %8.2f" % ("socket > file vs curl -o", p, c, p / c))
    print("load average: %.2f %.2f %.2f" % os.getloadavg())
finally:
    srv.terminate()
    srv.wait()
PY
