// Fuzz target for what serial instruments send: the input's bytes, from
// the third on, arrive at a serial port (a pseudo-terminal whose master
// plays the instrument) and one driver takes them.
//
//   byte 0  the driver (modulo 4): 0 an eecadc box, 1 a geadc box, 2 the
//           eye tracker, 3 a plain read with flag 16 or 32 and the
//           response box
//   byte 1  its option: the channel mask and mask shift of an ADC box,
//           the eye tracker's flags and carry, the read's count and flag
//
// Every read waits with short time-outs, so that an input that leaves a
// reply short costs milliseconds.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/state.h"
#include "realtime/devices/comport.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/eyetrack.h"
#include "realtime/devices/serdev.h"
#include "ui/platform/backend.h"

namespace {

constexpr size_t MAXINPUT = 4000;  // within a terminal's input buffer (fuzz-max-len: 4000)

// No keyboard, no windows.
struct Quiet : Backend {
  int keyin(int) override { return 0; }
  void rowout(int, const char*, int) override {}
  void beep() override {}
  bool paging() override { return false; }
};

int master = -1;

bool setup() {
  static Quiet quiet;
  setbackend(&quiet);
  master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
  const int s = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (s < 0) return false;
  termios t;
  tcgetattr(s, &t);
  comtios(MODE_EYE, &t);
  tcsetattr(s, TCSANOW, &t);
  return comattach(0, s, MODE_EYE) == 0;
}

int waiting() {
  int n = 0;
  ioctl(comfd(0), FIONREAD, &n);
  return n;
}

// Empties both directions: what the port sent, what waits at it.
void empty() {
  char b[4096];
  while (read(master, b, sizeof b) > 0) {
  }
  compurge(0, 3);
}

// The bytes arrive at the port (the terminal passes them on a moment
// later).
void arrive(const uint8_t* b, size_t n) {
  size_t done = 0;
  for (int tries = 0; done < n && tries < 1000; tries++) {
    const ssize_t w = write(master, b + done, n - done);
    if (w > 0) done += static_cast<size_t>(w);
    else usleep(100);
  }
  for (int tries = 0; waiting() < static_cast<int>(done) && tries < 2000; tries++) usleep(50);
}

BoardRec board(int kind, int opt) {
  BoardRec b{};
  b.inkind = static_cast<int16_t>(kind);
  b.inunit = 101;
  b.nin = 8;
  b.param = static_cast<int16_t>(opt >> 5);
  b.tmo = 50;  // 1 ms
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = setup();
  if (!ready || size < 2 || size > MAXINPUT) return 0;
  state = 0;
  empty();
  arrive(data + 2, size - 2);
  const int opt = data[1];
  int16_t dest[16];
  switch (data[0] % 4) {
    case 0: {
      BoardRec b = board(DK_EECADC, opt);
      adbread(opt & 31, dest, 1, 4, &b);
      break;
    }
    case 1: {
      BoardRec b = board(DK_GEADC, opt);
      adbread(opt & 31, dest, 2, 4, &b);
      break;
    }
    case 2: {
      eye = EyeState{};
      eye.chan = 0;
      eye.mode = MODE_EYE;
      // A carry of up to 23 bytes from "before": the input's first bytes.
      eye.ncarry = std::min<int>(opt % 24, static_cast<int>(size - 2));
      std::memcpy(eye.carry, data + 2, static_cast<size_t>(eye.ncarry));
      uint32_t t = 0;
      eyepkt(dest, (opt & ~64) | 4, &t);
      break;
    }
    default: {
      char buf[256];
      comread(0, buf, opt & 127, (opt & 128 ? 32 : 16) | 4);
      BoardRec b{};
      b.outkind = DK_SRBOX;
      b.outunit = 1;
      b.tmo = 50;
      int st = 0;
      comdig(&b, &st, 0);
      break;
    }
  }
  state = 0;
  return 0;
}
