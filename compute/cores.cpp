#include "compute/cores.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <thread>
#include <vector>

int cores(int max) {
  cpu_set_t set;
  int n = 0;
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
  if (n < 1) {
    unsigned hw = std::thread::hardware_concurrency();
    n = hw ? static_cast<int>(hw) : 1;
  }
  return std::min(n, max);
}

void parts(int n, const std::function<void(int)>& part) {
  std::vector<std::thread> th;
  // The threads are joined however the caller's own part ends.
  struct Join {
    std::vector<std::thread>& th;
    ~Join() {
      for (auto& t : th)
        if (t.joinable()) t.join();
    }
  } join{th};
  int k = 1;
  if (n > 1) {
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
      th.reserve(static_cast<size_t>(n - 1));
      for (; k < n; k++) th.emplace_back(part, k);
    } catch (...) {
      // The parts left run here.
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
  for (int j = k; j < n; j++) part(j);
  part(0);
}
