// The threads of this process and their signal masks, read from
// /proc/self/task.
#pragma once

#include <dirent.h>
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// A thread's blocked signals, less the two that the C library keeps for
// itself (32 and 33, which no program signal uses); "" when it has ended or
// is ending (the kernel clears the mask of a thread on its way out).
inline std::string sigblk(const std::string& tid) {
  const std::string dir = "/proc/self/task/" + tid;
  std::ifstream f(dir + "/status");
  std::string line, blk;
  while (std::getline(f, line))
    if (line.rfind("SigBlk:", 0) == 0) blk = line.substr(7);
  if (blk.empty()) return "";
  // Read after the mask: flags (the ninth field of stat) with PF_EXITING
  // (4) mean the mask may be the one of a thread on its way out.
  std::ifstream st(dir + "/stat");
  std::string stat;
  std::getline(st, stat);
  const size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return "";
  std::istringstream rest(stat.substr(paren + 1));
  std::string field;
  unsigned long flags = 0;
  for (int i = 3; i <= 9 && rest >> field; i++)
    if (i == 9) flags = std::stoul(field);
  if (flags & 4) return "";
  uint64_t m = std::stoull(blk, nullptr, 16) & ~(uint64_t{3} << 31);
  char hex[20];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(m));
  return hex;
}

// What sigblk gives for a thread that blocks every signal it can.
inline std::string allsigs() {
  uint64_t m = 0;
  for (int s = 1; s <= 64; s++)
    if (s != SIGKILL && s != SIGSTOP && s != 32 && s != 33) m |= uint64_t{1} << (s - 1);
  char hex[20];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(m));
  return hex;
}

// The ids of this process's threads.
inline std::vector<std::string> tasks() {
  std::vector<std::string> v;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') v.emplace_back(e->d_name);
    closedir(d);
  }
  return v;
}
