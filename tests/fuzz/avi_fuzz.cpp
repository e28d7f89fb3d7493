// Fuzz target for movie files: the input is an AVI file's bytes, opened by
// animate and listed frame by frame, played at its own size, at a scale
// far past the window, centred on a point mirrored and upside down, split
// for a stereo screen, looped, restarted from a time, and played by a
// real-time program's movie op on an 8-bit screen. The header reader, the
// index, the chunks and the painter's sizes must stay within the file's
// bytes and the window: no crash, no read past the file, no frame
// allocated at a size the file does not hold.
#include "harness.h"

namespace {

constexpr size_t MAXINPUT = 65536;

const char* const KEYS =
    "animate \"f.avi\" 3\n"
    "animate \"f.avi\" 2\n"
    "animate \"f.avi\"\n"
    "animate \"f.avi\" 0 32767\n"
    "animate \"f.avi\" 0 2 3 600 300 0 2 300\n"
    "animate \"f.avi\" 0 4 0 0 0 1\n"
    "animate \"f.avi\" 0 8 1 0 0 -1\n"
    "animate 1 0 250\n"
    "animate 0\n"
    "scrbits = 8\n"
    "declare string qqname\n"
    "qqname = \"f.avi\"\n"
    "realtime - - 0 {\n"
    "r_cine 0 0 0 qqname 9 0 0 100\n"
    "}\n";

}  // namespace

// fuzz-max-len: 65536
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Sound tracks go to the output file double alone: no SDL device, whose
  // opening and closing would cost each input a quarter of a second.
  static const bool ready = setup() && setenv("SDL_AUDIODRIVER", "none-such", 1) == 0 &&
                            setenv("PELIX_AUDIO_OUT", "/dev/null", 1) == 0;
  if (!ready || size > MAXINPUT) return 0;
  runfile(data, size, {"f.avi"}, KEYS);
  return 0;
}
