#!/usr/bin/env bash
# Latency of starting a sound: build/pelix plays the same 0.1 s WAVE file
# 1,000 times (each play stops the one before it) on SDL's dummy audio
# driver, and a plain C++ program does the same work on the same device in
# the same run: stop the previous sound, read and parse the file, queue its
# samples. PELIX stamps each play through PELIX_AUDIO_TRACE (microseconds
# from the sound command's start to its buffer handed to SDL); the C++
# program times its read + parse + queue the same way. Prints p50 and p99
# in microseconds and the ratios (pelix / C++), after a first play on each
# side that opens the device.
#   bench/sound_latency.sh [build folder or path/to/pelix]   (N=1000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/pelix}
[ -d "$bin" ] && bin=$bin/pelix
[ -e "$bin" ] && bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
n=${N:-1000}
[ -x "$bin" ] || { echo "no program at $bin"; exit 1; }
command -v g++ >/dev/null || { echo "g++ not found"; exit 1; }
pkg-config --exists sdl2 || { echo "SDL2 development files not found (libsdl2-dev)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=dummy

# The sound: 0.1 s of a 440 Hz tone, 44100 Hz, 16-bit mono.
python3 - "$work/b.wav" <<'PY'
import math, struct, sys
n = 4410
data = b''.join(struct.pack('<h', int(12000 * math.sin(2 * math.pi * 440 * i / 44100))) for i in range(n))
hdr = (b'RIFF' + struct.pack('<I', len(data) + 36) + b'WAVEfmt ' +
       struct.pack('<IHHIIHH', 16, 1, 1, 44100, 88200, 2, 16) + b'data' + struct.pack('<I', len(data)))
open(sys.argv[1], 'wb').write(hdr + data)
PY

cat > "$work/ref.cpp" <<'CPP'
#include <SDL.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// Reads a WAVE file and finds its format and samples, as a program would.
static bool load(const char* name, std::vector<uint8_t>& b, SDL_AudioSpec* spec, size_t* off, size_t* len) {
  FILE* fp = std::fopen(name, "rb");
  if (!fp) return false;
  std::fseek(fp, 0, SEEK_END);
  long n = std::ftell(fp);
  std::fseek(fp, 0, SEEK_SET);
  b.resize(static_cast<size_t>(n));
  size_t got = std::fread(b.data(), 1, b.size(), fp);
  std::fclose(fp);
  if (got != b.size() || n < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4)) return false;
  size_t p = 12;
  while (p + 8 <= b.size()) {
    uint32_t sz;
    std::memcpy(&sz, &b[p + 4], 4);
    if (!std::memcmp(&b[p], "fmt ", 4)) {
      uint16_t ch, bits;
      uint32_t rate;
      std::memcpy(&ch, &b[p + 10], 2);
      std::memcpy(&rate, &b[p + 12], 4);
      std::memcpy(&bits, &b[p + 22], 2);
      spec->freq = static_cast<int>(rate);
      spec->channels = static_cast<Uint8>(ch);
      spec->format = bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    } else if (!std::memcmp(&b[p], "data", 4)) {
      *off = p + 8;
      *len = sz < b.size() - *off ? sz : b.size() - *off;
      return true;
    }
    p += 8 + sz + (sz & 1);
  }
  return false;
}

int main(int argc, char** argv) {
  const int n = argc > 2 ? std::atoi(argv[2]) : 1000;
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 1;
  std::vector<uint8_t> b;
  SDL_AudioSpec want{}, have{};
  size_t off = 0, len = 0;
  if (!load(argv[1], b, &want, &off, &len)) return 1;
  want.samples = 1024;
  SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (!dev) return 1;
  SDL_PauseAudioDevice(dev, 0);
  for (int i = 0; i < n; i++) {
    auto t0 = std::chrono::steady_clock::now();
    SDL_ClearQueuedAudio(dev);
    SDL_AudioSpec spec{};
    if (!load(argv[1], b, &spec, &off, &len)) return 1;
    if (SDL_QueueAudio(dev, b.data() + off, static_cast<Uint32>(len)) != 0) return 1;
    auto t1 = std::chrono::steady_clock::now();
    std::printf("%.3f\n", std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  SDL_CloseAudioDevice(dev);
  return 0;
}
CPP
g++ -O2 -o "$work/ref" "$work/ref.cpp" $(pkg-config --cflags --libs sdl2)

# The pelix session: a first play opens the device, then the loop.
cat > "$work/run.pelix" <<EOF
declare number i
sound "b.wav"
i = 0
while (i < $n) {
  sound "b.wav"
  i = i + 1
}
EOF
(cd "$work" && PELIX="$root/system" PELIX_BACKEND=headless PELIX_AUDIO_TRACE="$work/trace.txt" \
  "$bin" < run.pelix > out.txt 2> err.txt) || { cat "$work/err.txt"; exit 1; }
"$work/ref" "$work/b.wav" "$n" > "$work/ref.txt"

python3 - "$work/trace.txt" "$work/ref.txt" "$n" <<'PY'
import sys
pel = [float(v) for v in open(sys.argv[1])][1:]
ref = [float(v) for v in open(sys.argv[2])]
n = int(sys.argv[3])
if len(pel) != n or len(ref) != n:
    sys.exit(f"expected {n} plays, pelix traced {len(pel)}, C++ {len(ref)}")
def q(a, p):
    a = sorted(a)
    return a[min(len(a) - 1, int(p * len(a)))]
print(f"{n} plays of a 0.1 s WAVE file on SDL's dummy driver; microseconds to the buffer handed to SDL")
print(f"{'':10s}{'p50':>10s}{'p99':>10s}")
for name, a in (("pelix", pel), ("C++", ref)):
    print(f"{name:10s}{q(a, .5):10.2f}{q(a, .99):10.2f}")
print(f"ratio p50 {q(pel, .5) / q(ref, .5):.2f}x, p99 {q(pel, .99) / q(ref, .99):.2f}x (goal: at most 1.5x)")
PY
