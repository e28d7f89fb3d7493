// Threads for large data: every thread an operation starts takes no
// signals. A watcher thread reads the signal masks of the process's threads
// (/proc/self/task/*/status) while each kind of threaded operation runs.
#include "compute/cores.h"

#include "tests/compute/fast_fixture.h"

#include "compute/fft.h"
#include "lang/docmnd.h"
#include "tests/support/threads.h"
#include "ui/platform/sighold.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

// Samples the masks of every thread but the main one and itself until
// stopped; its own mask (every signal blocked) is the one to match.
class Watcher {
 public:
  Watcher() : main_(std::to_string(getpid())) {
    for (const std::string& t : tasks()) old_.insert(t);
    th_ = std::thread([this] {
      SigHold hold;
      const std::string me = std::to_string(syscall(SYS_gettid));
      {
        std::lock_guard<std::mutex> lk(m_);
        full_ = sigblk(me);
      }
      ready_ = true;
      while (!stop_) {
        for (const std::string& t : tasks()) {
          if (t == me || t == main_) continue;
          std::string b = sigblk(t);
          if (b.empty()) continue;  // ended meanwhile
          // A thread begins and ends with every signal blocked: a mask
          // seen open at any time between counts.
          std::lock_guard<std::mutex> lk(m_);
          seen_.insert(t);
          if (b != full_) open_[t] = b;
        }
      }
    });
    while (!ready_) std::this_thread::yield();
  }
  ~Watcher() { end(); }
  void end() {
    stop_ = true;
    if (th_.joinable()) th_.join();
  }
  // Threads seen that were not there when the watch began.
  int fresh() {
    std::lock_guard<std::mutex> lk(m_);
    int n = 0;
    for (const auto& t : seen_) n += !old_.count(t);
    return n;
  }
  int any() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(seen_.size());
  }
  // The threads whose mask lacked a signal, with such a mask.
  std::string open() {
    std::lock_guard<std::mutex> lk(m_);
    std::string r;
    for (const auto& o : open_) r += " thread " + o.first + " SigBlk " + o.second + " (all: " + full_ + ")";
    return r;
  }

 private:
  std::string main_;
  std::set<std::string> old_;
  std::thread th_;
  std::atomic<bool> stop_{false}, ready_{false};
  std::mutex m_;
  std::string full_;
  std::set<std::string> seen_;
  std::map<std::string, std::string> open_;
};

class Cores : public FastPaths {};

}  // namespace

TEST_F(Cores, EveryKindOfThreadedOperationRunsOnThreadsThatTakeNoSignals) {
  ASSERT_EQ(highmem(262144), 0);
  const uint32_t nx = 2048, ny = 2048;
  const size_t n = size_t{nx} * ny;
  std::vector<double> px(n), fl(n);
  for (size_t i = 0; i < n; i++) {
    px[i] = static_cast<double>((i * 7919) % 251);
    fl[i] = static_cast<double>(i % 1000) / 8;
  }
  var("ab", 8, px, nx, 0x4000);
  var("db", 8, std::vector<double>(n, 0), nx, 0x4000);
  var("af", 96, fl, 0, 0x4000);
  var("bf", 96, fl, 0, 0x4000);
  var("df", 96, std::vector<double>(n, 0), 0, 0x4000);
  var("x1", 96, {0});
  std::vector<double> tab(256);
  for (int i = 0; i < 256; i++) tab[static_cast<size_t>(i)] = 255 - i;
  var("tb", 8, tab);
  // The transform of ab: a quarter turn about its centre.
  int code = 0;
  ASSERT_TRUE(prsline("pin ab 1024 1024 0", PF_PARSE | PF_ORDER, &code));
  DOCMND(code);
  ASSERT_TRUE(prsline("rotate ab 0 0 90", PF_PARSE | PF_ORDER, &code));
  DOCMND(code);
  ASSERT_EQ(state & 0x8180, 0);
  std::vector<float> cx(size_t{2} * 1024 * 1024, 1.0f);
  const int32_t dims[2] = {1024, 1024};

  struct Kind {
    const char* what;
    std::function<void()> run;
    bool kept;  // its threads stay between operations
  };
  auto line = [](const char* l) { return [l] { evalline(l); }; };
  const Kind kinds[] = {
      {"whole-array arithmetic", line("df = af * 2 + bf"), false},
      {"reduction", line("x1 = sum(af)"), false},
      {"FFT", [&] { fft(cx.data(), dims, 2, 1); }, false},
      {"transform", line("db = transform(ab)"), false},
      {"map", line("db = map(ab, tb)"), false},
      {"smooth", line("db = smooth(ab, 3)"), false},
      {"filter", line("db = filter(ab, 3, 3)"), true},
  };
  for (const Kind& k : kinds) {
    Watcher w;
    // Five times, and on until the watcher has seen the operation's
    // threads (an operation takes milliseconds; the watcher reads every
    // few microseconds).
    for (int i = 0; i < 200 && (i < 5 || (k.kept ? w.any() : w.fresh()) == 0); i++) {
      k.run();
      ASSERT_EQ(state & 0x8180, 0) << k.what;
    }
    w.end();
    EXPECT_GT(k.kept ? w.any() : w.fresh(), 0) << k.what << ": no thread of its own seen";
    EXPECT_EQ(w.open(), "") << k.what;
  }
  highmem(0);
}

TEST_F(Cores, PartsRunOnceEachOnThreadsThatBlockEverySignal) {
  // Part 0 on the caller, parts 1 .. n - 1 on threads of their own whose
  // masks hold every signal; the caller's mask is as it was.
  auto blocked = [] {
    sigset_t cur;
    pthread_sigmask(SIG_SETMASK, nullptr, &cur);
    int n = 0;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGUSR1, SIGWINCH, SIGXFSZ})
      n += sigismember(&cur, s);
    return n;
  };
  const std::thread::id me = std::this_thread::get_id();
  std::atomic<int> runs[5] = {}, masks[5] = {};
  std::atomic<int> here{0};
  parts(5, [&](int k) {
    runs[k]++;
    masks[k] = blocked();
    if (std::this_thread::get_id() == me) here += 1 << k;
  });
  for (int k = 0; k < 5; k++) EXPECT_EQ(runs[k], 1) << "part " << k;
  EXPECT_EQ(here, 1);
  EXPECT_EQ(masks[0], 0);
  for (int k = 1; k < 5; k++) EXPECT_EQ(masks[k], 9) << "part " << k;
  EXPECT_EQ(blocked(), 0);
  std::atomic<int> one{-1};
  std::thread t = thrnew([&] { one = blocked(); });
  ASSERT_TRUE(t.joinable());
  t.join();
  EXPECT_EQ(one, 9);
}
