// Test support for the device drivers: a pseudo-terminal pair whose slave
// is installed as a serial slot (the test plays the instrument on the
// master), and a fixture with a scripted terminal whose rows and error
// lines can be read back.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "realtime/devices/comport.h"
#include "tests/support/interp.h"

// A peer on a pseudo-terminal: the slave becomes serial slot `slot`.
class PtyPeer {
 public:
  bool open(int slot, int mode = MODE_SRBOX) {
    m_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_ < 0 || grantpt(m_) != 0 || unlockpt(m_) != 0) return false;
    const int s = ::open(ptsname(m_), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) return false;
    termios t;
    tcgetattr(s, &t);
    comtios(mode, &t);
    tcsetattr(s, TCSANOW, &t);
    slot_ = slot;
    return comattach(slot, s, mode) == 0;
  }
  ~PtyPeer() {
    if (slot_ >= 0) comini(slot_, 0);
    if (m_ >= 0) ::close(m_);
  }
  // Sends bytes to the port and waits until the slot sees them all.
  bool send(const std::vector<uint8_t>& b) {
    int before = waiting();
    if (!b.empty() && ::write(m_, b.data(), b.size()) != static_cast<ssize_t>(b.size())) return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (waiting() < before + static_cast<int>(b.size())) {
      if (std::chrono::steady_clock::now() > until) return false;
      usleep(200);
    }
    return true;
  }
  // Sends bytes without waiting for them to arrive.
  bool put(const std::vector<uint8_t>& b) { return ::write(m_, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }
  // The bytes waiting at the port.
  int waiting() const {
    int n = 0;
    ioctl(comfd(slot_), FIONREAD, &n);
    return n;
  }
  // Up to n bytes the port sent, waiting at most ms for them.
  std::vector<uint8_t> recv(size_t n, int ms = 500) {
    std::vector<uint8_t> out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < n && std::chrono::steady_clock::now() < until) {
      pollfd p{m_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      uint8_t buf[256];
      const ssize_t r = ::read(m_, buf, std::min(sizeof buf, n - out.size()));
      if (r <= 0) break;
      out.insert(out.end(), buf, buf + r);
    }
    return out;
  }
  // Hangs the master up: the port's peer is gone.
  void hangup() {
    ::close(m_);
    m_ = -1;
  }

 private:
  int m_ = -1;
  int slot_ = -1;
};

// A fresh interpreter on a scripted terminal, the log kept for the error
// lines.
class DevFixture : public ::testing::Test {
 protected:
  Term term;
  TermUse use;
  LogFile log;
  void SetUp() override {
    freshinterp();
    use.begin(&term);
    ASSERT_TRUE(log.open());
    ASSERT_EQ(mksys(), 0);
    for (int n = 1; n <= NCOMSLOT; n++) ::setenv(("PELIX_COM" + std::to_string(n)).c_str(), "/nonexistent/tty", 1);
  }
  void TearDown() override {
    comend();
    log.close();
    use.end();
    state = 0;
    trcmsk = 0;
    for (int n = 1; n <= NCOMSLOT; n++) ::unsetenv(("PELIX_COM" + std::to_string(n)).c_str());
  }
  // The rows printed so far, joined by newlines; the rows are emptied.
  std::string printed() {
    jflush(1);
    std::string s;
    for (auto& r : term.rows) s += r + "\n";
    term.rows.clear();
    return s;
  }
};
