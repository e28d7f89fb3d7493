#include "compute/cores.h"

#include <sched.h>

#include <algorithm>
#include <vector>

#include "ui/platform/sighold.h"

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

std::thread thrnew(std::function<void()> fn) {
  SigHold hold;
  try {
    return std::thread(std::move(fn));
  } catch (...) {
    return std::thread();
  }
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
  bool room = n > 1;
  if (room) {
    try {
      th.reserve(static_cast<size_t>(n - 1));  // the pushes below then never throw
    } catch (...) {
      room = false;  // every part runs here
    }
  }
  for (; room && k < n; k++) {
    std::thread t = thrnew([&part, k] { part(k); });
    if (!t.joinable()) break;
    th.push_back(std::move(t));
  }
  // The parts left run here.
  for (int j = k; j < n; j++) part(j);
  part(0);
}
