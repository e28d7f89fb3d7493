// The serial instruments, the board records and their channel routines,
// the parallel port through the simulated library, the hardware
// variables and the keyword lookup of the device set-up.
#include <filesystem>
#include <string>
#include <thread>

#include "realtime/devices/boards.h"
#include "realtime/devices/devsetup.h"
#include "realtime/devices/eyetrack.h"
#include "realtime/devices/hwvars.h"
#include "realtime/devices/joystick.h"
#include "realtime/devices/pport.h"
#include "realtime/devices/serdev.h"
#include "tests/realtime/devtest.h"
#include "ui/clocks.h"
#include "ui/platform/clock.h"
#include "ui/screen.h"

namespace {

// The bytes of an eecadc value as the box sends them: junk in the top
// nibble of the first.
std::vector<uint8_t> eeval(int v) { return {static_cast<uint8_t>(0xA0 | (v >> 8)), static_cast<uint8_t>(v & 255)}; }

// A geadc packet: header, four channels, the sum of the first ten bytes.
std::vector<uint8_t> gepkt(int a, int b, int c, int d) {
  const int w[5] = {0x5AA5, a, b, c, d};
  std::vector<uint8_t> p;
  unsigned sum = 0;
  for (int v : w) {
    p.push_back(static_cast<uint8_t>(v & 255));
    p.push_back(static_cast<uint8_t>(v >> 8));
  }
  for (uint8_t x : p) sum += x;
  p.push_back(static_cast<uint8_t>(sum & 255));
  p.push_back(static_cast<uint8_t>((sum >> 8) & 255));
  return p;
}

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Devices : public DevFixture {
 protected:
  void SetUp() override {
    DevFixture::SetUp();
    devrst();
    hwini();
  }
  void TearDown() override {
    devrst();
    eye = EyeState{};
    DevFixture::TearDown();
  }
  // A board of kind on serial slot, channels first .. first + n - 1.
  BoardRec* box(int i, int kind, int slot, int first, int n, int param = 0) {
    BoardRec& b = boards[i];
    b = BoardRec{};
    b.inkind = static_cast<int16_t>(kind);
    b.inunit = static_cast<int16_t>(101 + slot);
    b.in0 = static_cast<int16_t>(first);
    b.nin = static_cast<int16_t>(n);
    b.inmask = static_cast<int16_t>(((1 << n) - 1) << first);
    b.param = static_cast<int16_t>(param);
    b.tmo = 50 * 20;  // 20 ms
    nboards++;
    return &b;
  }
};

TEST_F(Devices, EecadcRequestsPairsInRisingOrderAndSkipsTheFirstReplyPair) {
  PtyPeer p;
  ASSERT_TRUE(p.open(0));
  BoardRec* b = box(0, DK_EECADC, 0, 0, 8);
  // Channels 0 and 2: 4 0 6 2, and the last pair again.
  EXPECT_EQ(adbread(0b101, nullptr, 1, 5, b), -4);  // no reply within 3 x 20 ms
  EXPECT_EQ(p.recv(6), (std::vector<uint8_t>{4, 0, 6, 2, 6, 2}));
  // Three pairs sent, six bytes back; the i-th channel takes bytes 2 + 2i
  // and 3 + 2i.
  ASSERT_TRUE(p.send(cat(cat({0xEE, 0xEE}, eeval(0x123)), eeval(0xABC))));
  int16_t d[6] = {-7, -7, -7, -7, -7, -7};
  EXPECT_EQ(adbread(0b101, d, 3, 4, b), 6);
  EXPECT_EQ(d[0], 0x123);
  EXPECT_EQ(d[3], 0xABC);
  EXPECT_EQ(d[1], -7);
  // The parameter shifts the board's mask: channel 0 asks for 1.
  b->param = 1;
  EXPECT_EQ(adbread(0b1, nullptr, 1, 5, b), -4);
  EXPECT_EQ(p.recv(4), (std::vector<uint8_t>{5, 1, 5, 1}));
  // adbval: one channel, flags exactly 1 only asks.
  b->param = 0;
  int v = 0;
  EXPECT_EQ(adbval(3, &v, 1, b), 4);
  EXPECT_EQ(p.recv(4), (std::vector<uint8_t>{7, 3, 7, 3}));
  ASSERT_TRUE(p.send(cat({1, 2}, eeval(0x456))));
  EXPECT_EQ(adbval(3, &v, 4, b), 4);
  EXPECT_EQ(v, 0x456);
  // A channel past the board's inputs.
  EXPECT_EQ(adbval(8, &v, 7, b), -1);
  EXPECT_EQ(v, -1);
}

TEST_F(Devices, AdcBoxFailures) {
  PtyPeer p;
  ASSERT_TRUE(p.open(0));
  BoardRec* b = box(0, DK_EECADC, 0, 0, 4);
  int16_t d[2] = {};
  // Time-out: the board's 20 ms times half the request bytes (2 pairs: 2).
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(adbread(0b1, d, 1, 5, b), -4);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 38);  // the deadline counts whole milliseconds
  EXPECT_LT(ms, 1000);
  EXPECT_EQ(d[0], -4);
  p.recv(4);
  // A wait cut short by the stop bit leaves a short reply.
  ASSERT_TRUE(p.send({1, 2}));
  state = ST_STOP;
  EXPECT_EQ(adbread(0b1, d, 1, 4, b), -2);
  EXPECT_EQ(d[0], -2);
  state = 0;
  // A board whose port is closed.
  BoardRec* c = box(1, DK_EECADC, 5, 4, 4);
  EXPECT_EQ(adbread(0b1, d, 1, 4, c), -3);
  int v = 0;
  EXPECT_EQ(adbval(0, &v, 7, c), -3);
}

TEST_F(Devices, GeadcTakesTheNewestPacketThatChecksOut) {
  PtyPeer p;
  ASSERT_TRUE(p.open(1, MODE_GEADC));
  BoardRec* b = box(0, DK_GEADC, 1, 0, 4);
  int16_t d[4] = {};
  // Two packets: the later one counts.
  ASSERT_TRUE(p.send(cat(gepkt(1, 2, 3, 4), gepkt(10, 20, 30, 40))));
  EXPECT_EQ(adbread(0b1011, d, 1, 4, b), 24);
  EXPECT_EQ(std::vector<int16_t>(d, d + 3), (std::vector<int16_t>{10, 20, 40}));
  // One byte before a packet: 13 bytes, found at offset 1.
  ASSERT_TRUE(p.send(cat({9}, gepkt(5, 6, 7, 8))));
  EXPECT_EQ(adbread(0b1, d, 1, 4, b), 13);
  EXPECT_EQ(d[0], 5);
  // The parameter shifts channel 0 onto word 2.
  b->param = 1;
  ASSERT_TRUE(p.send(gepkt(5, 6, 7, 8)));
  EXPECT_EQ(adbread(0b1, d, 1, 4, b), 12);
  EXPECT_EQ(d[0], 6);
  b->param = 0;
  // No offset checks out, and no more bytes come: -5.
  ASSERT_TRUE(p.send(std::vector<uint8_t>(24, 1)));
  EXPECT_EQ(adbread(0b1, d, 1, 4, b), -5);
  EXPECT_EQ(d[0], -5);
}

TEST_F(Devices, ChannelsOfTwoBoxesComeInRisingOrderEachShiftedOnce) {
  PtyPeer e, g;
  ASSERT_TRUE(e.open(0));
  ASSERT_TRUE(g.open(1, MODE_GEADC));
  // geadc on channels 0..3, eecadc on 4..7 (its local channel 1 is
  // global 5).
  box(0, DK_EECADC, 0, 4, 4);
  box(1, DK_GEADC, 1, 0, 4);
  int chans[8];
  EXPECT_EQ(adbchans(&boards[0], 0b1010, chans), 2);
  EXPECT_EQ(chans[1], 3);
  ASSERT_TRUE(e.send(cat(cat({0, 0}, eeval(100)), eeval(300))));
  ASSERT_TRUE(g.send(gepkt(11, 22, 33, 44)));
  int16_t d[8] = {};
  EXPECT_GE(adcvals(0b10100110, d, 2, 4), 0);
  EXPECT_EQ(d[0], 22);   // channel 1
  EXPECT_EQ(d[2], 33);   // channel 2
  EXPECT_EQ(d[4], 100);  // channel 5
  EXPECT_EQ(d[6], 300);  // channel 7
  EXPECT_EQ(adcval[7], 300);
  // getadc passes the board-local channel: global 5 asks for local 1.
  boards[0].inrev = 4095;
  boards[0].zero = 5;
  boards[0].tmo = 50 * 1000;
  int v = 0;
  std::thread peer([&] {
    auto req = e.recv(4, 1000);
    if (req == std::vector<uint8_t>{5, 1, 5, 1}) e.put(cat({0, 0}, eeval(105)));
  });
  EXPECT_EQ(getadc(5, &v), 4);
  peer.join();
  EXPECT_EQ(v, 4095 - 100);
  // A channel of no board gives its last value and -1.
  EXPECT_EQ(getadc(12, &v), -1);
  EXPECT_EQ(v, 0);
}

TEST_F(Devices, EyeTrackerPacketsAndTheCarry) {
  PtyPeer p;
  ASSERT_TRUE(p.open(0, MODE_EYE));
  eye.chan = 0;
  eye.mode = MODE_EYE;
  auto sample = [](int type, int x, int y) {
    std::vector<uint8_t> s = {'V', 'P', static_cast<uint8_t>(type), 16};
    const int w[8] = {x, y, 12, 0, 40, 41, 0, 0};
    for (int v : w) {
      s.push_back(static_cast<uint8_t>(v >> 8));
      s.push_back(static_cast<uint8_t>(v & 255));
    }
    return s;
  };
  int16_t d[4] = {};
  // Fewer than 20 bytes: nothing yet.
  ASSERT_TRUE(p.send({'V', 'P', 6}));
  EXPECT_EQ(eyepkt(d, 7, nullptr), 0);
  compurge(0, 1);
  // A packet of another type is skipped by its length, even when its
  // payload looks like a header; 23 bytes behind the sample are kept.
  const std::vector<uint8_t> other = {'V', 'P', 7, 4, 'V', 'P', 6, 16};
  std::vector<uint8_t> tail23 = sample(10, 9000, 1000);
  tail23.resize(23, 0);
  ASSERT_TRUE(p.send(cat(cat(other, sample(6, 5000, 2500)), tail23)));
  uint32_t t = 0;
  EXPECT_EQ(eyepkt(d, 7, &t), 51);
  EXPECT_EQ(d[0], static_cast<int16_t>(std::lround(5000.0 * scrwid / 10000)));
  EXPECT_EQ(d[1], static_cast<int16_t>(std::lround(2500.0 * scrhgt / 10000)));
  EXPECT_EQ(d[2], 40);
  EXPECT_EQ(d[3], 41);
  EXPECT_EQ(eye.ncarry, 23);
  EXPECT_EQ(eye.cur[2], 12);
  // The carry comes first in the next read: the second sample, raw.
  ASSERT_TRUE(p.send(std::vector<uint8_t>(20, 0)));
  EXPECT_EQ(eyepkt(d, 16 | 4 | 2, nullptr), 20);
  EXPECT_EQ(d[0], 40);  // pupil first without flag 1
  EXPECT_EQ(eye.cur[0], 9000);
  EXPECT_EQ(eye.prev[0], 5000);
  // 24 bytes behind a sample are too many to keep.
  ASSERT_TRUE(p.send(cat(sample(6, 1, 2), std::vector<uint8_t>(24, 0))));
  EXPECT_EQ(eyepkt(d, 7 | 16, nullptr), 44);
  EXPECT_EQ(eye.ncarry, 0);
  // Flag 64 purges.
  ASSERT_TRUE(p.send(sample(6, 3, 4)));
  EXPECT_EQ(eyepkt(d, 64 | 7, nullptr), 0);
  EXPECT_EQ(p.waiting(), 0);
  // Closed: -1.
  eye.mode = 0;
  EXPECT_EQ(eyepkt(d, 7, nullptr), -1);
}

TEST_F(Devices, EyeScanStopsTwentyBytesBeforeTheEnd) {
  std::vector<uint8_t> b(EYEBUF, 0);
  int tail = 0;
  bool partial = true;
  // A sample that ends exactly at the end is whole.
  b[EYEBUF - 20] = 'V', b[EYEBUF - 19] = 'P', b[EYEBUF - 18] = 10, b[EYEBUF - 17] = 16;
  EXPECT_EQ(eyescan(b.data(), EYEBUF, &tail, &partial), EYEBUF - 20);
  EXPECT_FALSE(partial);
  // One byte later it is cut: a partial packet in a full buffer.
  std::fill(b.begin(), b.end(), 0);
  b[EYEBUF - 19] = 'V', b[EYEBUF - 18] = 'P', b[EYEBUF - 17] = 10, b[EYEBUF - 16] = 16;
  EXPECT_EQ(eyescan(b.data(), EYEBUF, &tail, &partial), -1);
  EXPECT_TRUE(partial);
  EXPECT_EQ(tail, EYEBUF - 19);
  // The same cut in a shorter read is only carried.
  EXPECT_EQ(eyescan(b.data() + 100, EYEBUF - 100, &tail, &partial), -1);
  EXPECT_FALSE(partial);
  EXPECT_EQ(tail, EYEBUF - 119);
  // A last "V" alone may start the next packet.
  const uint8_t v[3] = {1, 2, 'V'};
  EXPECT_EQ(eyescan(v, 3, &tail, &partial), -1);
  EXPECT_EQ(tail, 2);
}

TEST_F(Devices, ResponseBoxHoldsItsByteForTheHoldTime) {
  clock_set_virtual(true);
  initRT();
  PtyPeer p;
  ASSERT_TRUE(p.open(2));
  BoardRec& b = boards[0];
  b.outkind = DK_SRBOX;
  b.outunit = 3;
  b.ndigin = 5;
  b.digmask = 31;
  b.tmo = 100 * 50;  // 100 ms
  nboards = 1;
  int st = 1;
  ASSERT_TRUE(p.send({0x20, 0x35}));
  EXPECT_EQ(comdig(&b, &st, 0), 0x35);  // the newest byte
  EXPECT_EQ(st, 0);
  EXPECT_EQ(p.waiting(), 0);
  clock_sleep_ns(99'000'000);
  EXPECT_EQ(comdig(&b, &st, 0), 0x35);
  clock_sleep_ns(1'000'000);
  EXPECT_EQ(comdig(&b, &st, 0), 0);
  // getdig: the board's bits, XORed and masked, at its bit position.
  b.xormask = 0x3;
  int32_t bits = 0;
  ASSERT_TRUE(p.send({0xFF}));
  EXPECT_EQ(getdig(&bits, -1, 0), 0);
  EXPECT_EQ(bits, 0x1C);
  // A second board behind it starts at bit 5; a mask that leaves the
  // first board out does not read it.
  PtyPeer q;
  ASSERT_TRUE(q.open(3));
  boards[1] = b;
  boards[1].outunit = 4;
  boards[1].xormask = 0;
  nboards = 2;
  ASSERT_TRUE(p.send({0x01}));
  ASSERT_TRUE(q.send({0x02}));
  EXPECT_EQ(getdig(&bits, 0x20, 0), 0);
  EXPECT_EQ(bits, 0x2 << 5);
  EXPECT_EQ(p.waiting(), 1);
  // No board answers: -1. digout: no board takes bits.
  devrst();
  EXPECT_EQ(getdig(&bits, -1, 0), -1);
  EXPECT_EQ(bits, 0);
  EXPECT_EQ(digout(5), -1);
  EXPECT_EQ(dacout(0, 5), -1);
  clock_set_virtual(false);
}

TEST_F(Devices, AxisAndTriggerBindingsTakeASystemVariable) {
  auto cmd = [](const char* line) {
    int code = 0;
    ASSERT_TRUE(prsline(line, PF_FOLD | PF_ORDER, &code)) << line;
    devini(0);
  };
  trcmsk = 4;
  cmd("initialize ydev pflags 2.5 1");
  EXPECT_EQ(getres(0), 4.0f);
  EXPECT_EQ(devaxes[2].code, 108);
  EXPECT_EQ(devaxes[2].scale, 2.5f);
  EXPECT_EQ(devaxes[2].mode, 1);
  EXPECT_TRUE(devflg & DF_AXES);
  EXPECT_EQ(devstate[DK_YDEV], DS_ACTIVE);
  // The trigger: mode 3 takes the variable's present value as its level,
  // a text is kept (its extra word is minus its length).
  cmd("initialize trigger debug 1.5 3 \"go on\"");
  EXPECT_EQ(devaxes[0].code, 102);
  EXPECT_EQ(devaxes[0].scale, 4.0f);
  EXPECT_EQ(devaxes[0].extra, -5);
  EXPECT_EQ(devtext, "go on");
  cmd("initialize trigger debug 1.5 2");
  EXPECT_EQ(devaxes[0].scale, 1.5f);
  EXPECT_EQ(devaxes[0].extra, 128);
  EXPECT_EQ(devtext, "");
  // A trigger mode outside 1 to 7 binds nothing.
  cmd("initialize trigger pflags 1 8");
  EXPECT_EQ(devaxes[0].code, 102);
  // A number clears a binding; anything else is error 70.
  cmd("initialize ydev 0");
  EXPECT_EQ(devaxes[2].code, 0);
  EXPECT_EQ(devaxes[2].scale, 0.0f);
  cmd("initialize wdev \"abc\"");
  EXPECT_EQ(log.errors(), std::vector<std::string>{"ERROR(3,70)"});
  EXPECT_EQ(devaxes[4].code, 0);
  trcmsk = 0;
}

TEST(Joystick, AfterAnErrorAFullPositionKeepsThePrevious) {
  JoyHold h{};
  int x = 100, y = 200;
  joyhold(&h, 0, &x, &y, 5);
  EXPECT_EQ(x, 100);
  x = 32767, y = 300;  // no error noted yet: taken as it is
  joyhold(&h, 0, &x, &y, 6);
  EXPECT_EQ(x, 32767);
  joyhold(&h, 1, &x, &y, 7);  // the error: the previous position
  EXPECT_EQ(x, 32767);
  EXPECT_EQ(y, 300);
  x = 10, y = 32767;
  joyhold(&h, 0, &x, &y, 8);
  EXPECT_EQ(x, 32767);
  EXPECT_EQ(y, 300);
  x = 32766, y = 32766;  // both below: the note is cleared
  joyhold(&h, 0, &x, &y, 9);
  EXPECT_EQ(x, 32766);
  x = 32767, y = 1;
  joyhold(&h, 0, &x, &y, 10);
  EXPECT_EQ(x, 32767);
  EXPECT_EQ(h.since, 0u);
}

class Pport : public Devices {
 protected:
  std::string lib = (std::filesystem::current_path() / "sim/libpelix_ppsim.so").string();
  void TearDown() override {
    free_pport();
    lptbase[1] = 0x378;
    ::unsetenv("PELIX_LIB_PPORT");
    ::unsetenv("PELIX_PPSIM_STATUS");
    Devices::TearDown();
  }
};

TEST_F(Pport, RegisterCodesAndPortioLimits) {
  // Before the library: the register first, then the LPT, then -4.
  EXPECT_EQ(pportin(903), -1);
  EXPECT_EQ(pportin(-5), -1);
  EXPECT_EQ(pportin(500), -2);
  EXPECT_EQ(pportin(0), -2);
  EXPECT_EQ(pportin(102), -4);
  EXPECT_EQ(pportout(1, 302), -4);
  EXPECT_EQ(portio(0, 888, 0), -4);
  EXPECT_EQ(pport_adc(1), -1);
  ScratchDir dir("/tmp/pelix-pport-", true);
  ::setenv("PELIX_LIB_PPORT", lib.c_str(), 1);
  ::setenv("PELIX_PPSIM_STATUS", "0xF8", 1);
  BoardRec b{};
  b.outunit = 1;
  EXPECT_EQ(init_pport(&b), 1);
  EXPECT_TRUE(pportok());
  // The flag before the port.
  EXPECT_EQ(portio(4, 8, 0), -2);
  EXPECT_EQ(portio(-1, 888, 0), -2);
  EXPECT_EQ(portio(0, 15, 0), -3);
  EXPECT_EQ(portio(0, 65536, 0), -3);
  EXPECT_EQ(portio(3, 16, 300), 0);
  EXPECT_EQ(portio(2, 16, 0), 44);
  EXPECT_EQ(portio(1, 65535, -1), 0);  // a negative value writes nothing
  EXPECT_EQ(portio(0, 65535, 0), 0);
  // Latches, the status register, LPT 4 without a base.
  EXPECT_EQ(pportout(0x1AB, 100), 0);
  EXPECT_EQ(pportin(100), 0xAB);
  EXPECT_EQ(pportin(101), 0xF8);
  EXPECT_EQ(pportin(400), -1);
  // The ADC handshake: ((status & 248) + (control & 7)) ^ 131.
  EXPECT_EQ(pport_adc(1), ((0xF8 & 248) + 4) ^ 131);
  EXPECT_EQ(pport_adc(4), -1);
  EXPECT_EQ(slurp("ppsim.log"), "out 378 255\nout 378 0\nout 10 44\nout 378 171\nout 37a 12\nout 37a 4\n");
  // A library without the entry points.
  free_pport();
  ::setenv("PELIX_LIB_PPORT", "libm.so.6", 1);
  EXPECT_EQ(init_pport(&b), -3);
  ::setenv("PELIX_LIB_PPORT", "/nonexistent/lib.so", 1);
  EXPECT_EQ(init_pport(&b), -2);
  EXPECT_FALSE(pportok());
}

TEST_F(Pport, MotorsAndSwitchesWriteTheDataRegister) {
  ScratchDir dir("/tmp/pelix-motor-", true);
  ::setenv("PELIX_LIB_PPORT", lib.c_str(), 1);
  BoardRec b{};
  ASSERT_EQ(init_pport(&b), 1);
  clock_set_virtual(true);
  std::remove("ppsim.log");
  // Motor 2 back by 2: command byte (1 + 2) x 16 + 2, twice.
  puthwp(-2, HW_MOTOR2);
  EXPECT_EQ(getres(0), 0.0f);
  const std::string one = "out 378 50\nout 378 50\nout 378 51\nout 378 51\nout 378 51\nout 378 51\nout 378 50\nout 378 128\n";
  EXPECT_EQ(slurp("ppsim.log"), one + one);
  // 128 steps either way are taken, 129 are not.
  puthwp(126, HW_MOTOR2);
  EXPECT_EQ(gethwp(HW_MOTOR2), 126.0f);
  puthwp(-3, HW_MOTOR2);
  EXPECT_EQ(gethwp(HW_MOTOR2), 126.0f);
  std::remove("ppsim.log");
  // Switch 2 on: the word 2, sent as 18 and 18 | 128; the result is -1.
  puthwp(1, HW_SW1 + 1);
  EXPECT_EQ(getres(0), -1.0f);
  EXPECT_EQ(slurp("ppsim.log"), "out 378 18\nout 378 146\n");
  EXPECT_EQ(gethwp(HW_SW1 + 1), 1.0f);
  EXPECT_EQ(gethwp(HW_SW1), 0.0f);
  clock_set_virtual(false);
}

TEST_F(Devices, ClockDivisorsAndVariablesWithoutHardware) {
  clock_set_virtual(true);
  puthwp(500, HW_CLOCK);
  EXPECT_EQ(gethwp(HW_CLOCK), 0.0f);
  clock_sleep_ns(499'000'000);
  EXPECT_EQ(gethwp(HW_CLOCK), 0.0f);
  clock_sleep_ns(1'000'000);
  EXPECT_EQ(gethwp(HW_CLOCK), 1.0f);
  clock_sleep_ns(500'000'000);
  EXPECT_EQ(gethwp(HW_CLOCK), 0.0f);
  puthwp(-10, HW_CLOCK);
  clock_sleep_ns(30'000'000);
  EXPECT_EQ(gethwp(HW_CLOCK), 300.0f);
  puthwp(0, HW_CLOCK);
  clock_sleep_ns(7'000'000);
  EXPECT_EQ(gethwp(HW_CLOCK), 7.0f);
  clock_set_virtual(false);
  // Camera and gains clamp; dac keeps nothing even with unit's 0x20.
  puthwp(9, HW_CAMERA);
  EXPECT_EQ(gethwp(HW_CAMERA), 3.0f);
  puthwp(-9, HW_CAMERA);
  EXPECT_EQ(gethwp(HW_CAMERA), -1.0f);
  puthwp(256, HW_CGAIN);
  EXPECT_EQ(gethwp(HW_CGAIN), 255.0f);
  devflg |= DF_ANALOGOUT;
  puthwp(50, HW_DAC0 + 1);
  EXPECT_EQ(getres(0), -1.0f);
  EXPECT_EQ(gethwp(HW_DAC0 + 1), 0.0f);
  // adc with no board: its last value, status -1 in #0.
  adcval[3] = 77;
  EXPECT_EQ(gethwp(HW_ADC0 + 3), 77.0f);
  EXPECT_EQ(getres(0), -1.0f);
  EXPECT_EQ(gethwp(HW_DAC7 + 1), -1.0f);
}

}  // namespace
