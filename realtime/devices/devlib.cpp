// Loading the device libraries at run time.
#include "realtime/devices/devlib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "lang/names.h"

namespace {

// The folder of the running program, with a trailing "/".
std::string exefold() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string p(buf, static_cast<size_t>(n));
  const size_t k = p.rfind('/');
  return k == std::string::npos ? std::string() : p.substr(0, k + 1);
}

void* tryopen(const std::string& path) {
  if (access(path.c_str(), F_OK) != 0) return nullptr;
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

void* devlib(const char* name, std::string* why) {
  if (!name || !*name) return nullptr;
  const std::string exe = exefold();
  std::string sys = strvar("sysdir");
  if (!sys.empty() && sys.back() != '/') sys += '/';
  if (std::strchr(name, '/')) {
    void* h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!h && why) *why = dlerror();
    if (h || name[0] == '/') return h;
    for (const std::string& dir : {exe, sys})
      if (void* g = dir.empty() ? nullptr : tryopen(dir + name)) return g;
    return nullptr;
  }
  for (const std::string& dir : {exe, exe.empty() ? std::string() : exe + "sim/", sys}) {
    if (dir.empty()) continue;
    if (void* h = tryopen(dir + name)) return h;
  }
  void* h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!h && why) *why = dlerror();
  return h;
}

void* devsym(void* lib, const char* name) { return lib ? dlsym(lib, name) : nullptr; }

void devfree(void* lib) {
  if (lib) dlclose(lib);
}
