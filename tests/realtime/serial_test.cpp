// The serial port layer: line settings from mode words, reads with their
// flags and deadline, writes and their drain, exec: peers.
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>

#include "realtime/devices/comport.h"
#include "tests/realtime/devtest.h"

namespace {

using Clock = std::chrono::steady_clock;

long msince(Clock::time_point t0) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

TEST(Comtios, DataBitsParityStopBitsAndFlowFromTheModeWord) {
  termios t{};
  // 263: 8 data bits, 2 stop bits, no parity, 19200 baud.
  EXPECT_EQ(comtios(263, &t), 19200u);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & PARENB);
  EXPECT_FALSE(t.c_iflag & INPCK);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  // Each data-bits value and each parity; any parity is checked.
  comtios(0 | 8, &t);  // five bits, odd
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_TRUE(t.c_iflag & INPCK);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  comtios(1 | 16, &t);  // six bits, mark
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS6));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
  comtios(2 | 24 | 4, &t);  // seven bits, even, two stop bits
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  // Flow control: each bit alone.
  comtios(3 | 0x200, &t);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON));
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  comtios(3 | 0x400, &t);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXOFF));
  comtios(3 | 0x800, &t);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  // The standard flow characters: start 0x11, stop 0x13.
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
  // Raw and 8-bit clean, reads never block.
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  // The baud table's ends and its doubled last entry.
  EXPECT_EQ(comtios(0 << 5, &t), 110u);
  EXPECT_EQ(comtios(12 << 5, &t), 115200u);
  EXPECT_EQ(comtios(14 << 5, &t), 256000u);
  EXPECT_EQ(comtios(15 << 5, &t), 256000u);
  EXPECT_EQ(comtios(7 << 5, &t), 14400u);
}

TEST(Comtios, RatesOutsideTheStandardListAreSetOnTheTerminal) {
  const int m = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(m, 0);
  ASSERT_EQ(grantpt(m), 0);
  ASSERT_EQ(unlockpt(m), 0);
  const int s = open(ptsname(m), O_RDWR | O_NOCTTY);
  ASSERT_GE(s, 0);
  for (uint32_t b : {14400u, 56000u, 128000u, 256000u, 19200u, 110u}) {
    EXPECT_EQ(setbaud(s, b), 0) << b;
    EXPECT_EQ(combaud(s), b);
  }
  close(s);
  close(m);
}

class Serial : public DevFixture {};

TEST_F(Serial, ReadFlagsCountPurgeAndNewest) {
  PtyPeer p;
  ASSERT_TRUE(p.open(0));
  char buf[16] = {};
  // Count 0 without flags reads nothing.
  EXPECT_EQ(comread(0, buf, 0, 0), 0);
  ASSERT_TRUE(p.send({1, 2, 3, 4, 5, 6}));
  // Flag 2 counts and takes nothing.
  EXPECT_EQ(comread(0, buf, 4, 2), 6);
  EXPECT_EQ(comread(0, buf, 4, 2), 6);
  // A plain read takes what waits, up to the count.
  EXPECT_EQ(comread(0, buf, 4, 0), 4);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(p.waiting(), 2);
  // Flag 16 with exactly count waiting throws nothing away...
  ASSERT_TRUE(p.send({7, 8}));
  EXPECT_EQ(comread(0, buf, 4, 16), 4);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), (std::vector<uint8_t>{5, 6, 7, 8}));
  // ... and with one more the oldest byte only.
  ASSERT_TRUE(p.send({10, 11, 12, 13, 14}));
  EXPECT_EQ(comread(0, buf, 4, 16), 4);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), (std::vector<uint8_t>{11, 12, 13, 14}));
  // Flag 8 purges first: nothing is left to read.
  ASSERT_TRUE(p.send({20, 21, 22}));
  EXPECT_EQ(comread(0, buf, 3, 8), 0);
  EXPECT_EQ(p.waiting(), 0);
  // 8-bit clean: CR, LF, the flow characters and 0xFF come as sent.
  ASSERT_TRUE(p.send({13, 10, 0x11, 0x13, 0, 0xFF, 3}));
  EXPECT_EQ(comread(0, buf, 7, 1), 7);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 7), (std::vector<uint8_t>{13, 10, 0x11, 0x13, 0, 0xFF, 3}));
  EXPECT_TRUE(log.errors().empty());
}

TEST_F(Serial, FlagThirtyTwoKeepsTheFirstNonZeroByteOfEachReadAway) {
  PtyPeer p;
  ASSERT_TRUE(p.open(0));
  // 600 bytes, count 2: 598 go in reads of 512 and 86. The first read's
  // first non-zero byte is at 10, the second's at 520 (byte 511 belongs to
  // the first read); they fill the count, and the two newest bytes stay.
  std::vector<uint8_t> b(600, 0);
  b[10] = 9;
  b[300] = 8;
  b[511] = 7;
  b[520] = 6;
  b[598] = 4;
  b[599] = 5;
  ASSERT_TRUE(p.send(b));
  char buf[4] = {};
  EXPECT_EQ(comread(0, buf, 2, 32), 2);
  EXPECT_EQ(static_cast<uint8_t>(buf[0]), 9);
  EXPECT_EQ(static_cast<uint8_t>(buf[1]), 6);
  EXPECT_EQ(p.waiting(), 2);
  // Count 3 over 4 waiting: the one byte read away (4) is kept, so only
  // two more are read and the newest stays.
  ASSERT_TRUE(p.send({0, 1}));
  EXPECT_EQ(comread(0, buf, 3, 32), 3);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 3), (std::vector<uint8_t>{4, 5, 0}));
  EXPECT_EQ(p.waiting(), 1);
}

TEST_F(Serial, ErrorsOfClosedSlotsAndHungUpPeers) {
  char buf[4];
  EXPECT_EQ(comread(3, buf, 1, 0), 0);
  EXPECT_EQ(comread(10, buf, 1, 4), -1);
  EXPECT_EQ(cwrite(3, "x", 1), 0);
  EXPECT_EQ(log.errors(), (std::vector<std::string>{"ERROR(2,192)", "ERROR(2,192)"}));
  const std::string out = printed();
  EXPECT_NE(out.find("Comread error: 1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Comwrite error: 1\n"), std::string::npos) << out;
  state = 0;
  // A peer that hung up ends a waiting read at once.
  PtyPeer p;
  ASSERT_TRUE(p.open(1));
  p.hangup();
  const auto t0 = Clock::now();
  EXPECT_EQ(comread(1, buf, 2, 1 | 4), -1);
  EXPECT_LT(msince(t0), 1500);
  // So does every read after it, plain, counting or of no bytes.
  EXPECT_EQ(comread(1, buf, 2, 4), -1);
  EXPECT_EQ(comread(1, buf, 0, 4), -1);
  EXPECT_EQ(comread(1, buf, 0, 2 | 4), -1);
  // Mode 0 closes; a slot outside 0..9 is refused.
  EXPECT_EQ(comini(1, 0), 0);
  EXPECT_FALSE(comopen(1));
  EXPECT_EQ(comini(10, 263), -1);
  EXPECT_EQ(comini(-1, 263), -1);
}

TEST_F(Serial, AWaitingReadEndsAtItsDeadlineOrOnCtrlC) {
  PtyPeer p;
  ASSERT_TRUE(p.open(0));
  ASSERT_TRUE(p.send({1}));
  char buf[4];
  // Count 2: 2000 + 100 ms, then the error.
  const auto t0 = Clock::now();
  EXPECT_EQ(comread(0, buf, 2, 1), 0);
  const long ms = msince(t0);
  EXPECT_GE(ms, 2098);
  EXPECT_LT(ms, 3500);
  EXPECT_NE(printed().find("Comread error: -4\n"), std::string::npos);
  EXPECT_EQ(log.errors(), std::vector<std::string>{"ERROR(2,192)"});
  // Ctrl-C stops the wait with what came.
  state = ST_INTR;
  ASSERT_TRUE(p.send({2}));
  const auto t1 = Clock::now();
  EXPECT_EQ(comread(0, buf, 3, 1), 0);
  EXPECT_LT(msince(t1), 500);
  state = 0;
}

TEST_F(Serial, WritesComeWholeAndAFullQueueTimesOut) {
  PtyPeer p;
  ASSERT_TRUE(p.open(0));
  trcmsk = 16;
  EXPECT_EQ(cwrite(0, "ABC", 3), 3);
  trcmsk = 0;
  EXPECT_EQ(p.recv(3), (std::vector<uint8_t>{'A', 'B', 'C'}));
  EXPECT_NE(printed().find("comwrit(0,0,3): 65  66  67"), std::string::npos);
  // The peer reads nothing: fill the line until it takes no more.
  const int fd = comfd(0);
  auto fill = [fd] {
    char junk[4096] = {};
    for (int idle = 0; idle < 50;) {
      if (::write(fd, junk, sizeof junk) > 0 || ::write(fd, junk, 1) > 0) {
        idle = 0;
      } else {
        idle++;
        usleep(1000);
      }
    }
  };
  fill();
  const auto t0 = Clock::now();
  EXPECT_EQ(cwrite(0, "Z", 1), 0);
  const long ms = msince(t0);
  EXPECT_GE(ms, 1998);
  EXPECT_LT(ms, 3500);
  EXPECT_NE(printed().find("Comwrite error: -4\n"), std::string::npos);
  EXPECT_EQ(log.errors(), std::vector<std::string>{"ERROR(2,192)"});
  // Ctrl-C gives up at once; the port stays open.
  fill();
  state = ST_INTR;
  const auto t1 = Clock::now();
  EXPECT_EQ(cwrite(0, "Z", 1), 0);
  EXPECT_LT(msince(t1), 500);
  EXPECT_TRUE(comopen(0));
  state = 0;
}

TEST_F(Serial, ExecPeersRunInTheWorkingFolderAndAreReapedAtClose) {
  ScratchDir dir("/tmp/pelix-serial-", true);
  ::setenv("PELIX_COM2", "exec:echo $$ > peer.pid; exec cat", 1);
  ASSERT_EQ(comini(1, 263), 0);
  EXPECT_EQ(commode(1), 263);
  EXPECT_EQ(cwrite(1, "ping", 4), 4);
  char buf[8] = {};
  EXPECT_EQ(comread(1, buf, 4, 1), 4);
  EXPECT_EQ(std::string(buf, 4), "ping");
  const pid_t pid = std::atoi(slurp("peer.pid").c_str());
  ASSERT_GT(pid, 0);
  // A new mode on the open port keeps its peer.
  ASSERT_EQ(comini(1, 387), 0);
  EXPECT_EQ(commode(1), 387);
  EXPECT_EQ(kill(pid, 0), 0);
  ASSERT_EQ(comini(1, 0), 0);
  EXPECT_EQ(commode(1), 0);
  // Reaped: no such process any more.
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  // A port whose device is no terminal cannot take its settings.
  ::setenv("PELIX_COM2", "/dev/null", 1);
  EXPECT_EQ(comini(1, 263), -1);
  EXPECT_FALSE(comopen(1));
  EXPECT_EQ(log.errors(), std::vector<std::string>{"ERROR(0,191)"});
  state = 0;
}

}  // namespace
