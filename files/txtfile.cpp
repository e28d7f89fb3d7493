// Text-file words written by an assignment.
#include "files/txtfile.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/element.h"
#include "core/memory.h"
#include "core/state.h"
#include "core/varbl.h"
#include "files/safewrite.h"

namespace {

struct Noted {
  int32_t rec;       // the record's stack address
  std::string name;  // the file's name as given
};
std::vector<Noted> noted;

// The record's text: a string as it stands, a list one item a line (an
// empty item a line holding only a backslash, which reads back as an empty
// item where an empty line would end the list).
std::string rectext(PtrRec* r) {
  std::string s;
  int32_t cnt = 0, part = 0, tot = 0, ws = 0;
  const int kind = gtvarb(r, &cnt, &part, &tot, &ws, 0);
  if (!(kind & K_STRING)) return s;
  if (kind & K_LIST) {
    // tot counts the elements of the list's window, read from its first.
    savoff(r);
    for (int32_t e = 0; e < tot && !stopped(); e++) {
      part = 0;
      LDVARB(r, &part, 0);
      if (part > 0)
        s.append(reinterpret_cast<const char*>(dptr(r)), static_cast<size_t>(part));
      else
        s.push_back('\\');
      s.push_back('\n');
    }
    return s;
  }
  if (part > 0 && dptr(r)) s.assign(reinterpret_cast<const char*>(dptr(r)), static_cast<size_t>(part));
  // A string held with its closing zero ends there.
  s.resize(s.find('\0') == std::string::npos ? s.size() : s.find('\0'));
  if (!s.empty() && s.back() != '\n') s.push_back('\n');
  return s;
}

// Writes text to name; false after reporting the failure.
bool wrtext(const std::string& name, const std::string& text) {
  SafeOut so;
  std::string at;
  int e = swtemp(name.c_str(), &so, &at, false);
  if (e != 0) {
    wrterr(name.c_str(), 0, e > 0 ? e : EIO);
    return false;
  }
  errno = 0;
  const int fd = tmpfd(so);
  FILE* f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!f && fd >= 0) close(fd);
  bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  e = errno;
  if (f && std::fclose(f) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (!ok) {
    swdone(&so, false);
    wrterr(name.c_str(), 0, e ? e : EIO);
    return false;
  }
  e = swdone(&so, true);
  if (e != 0) {
    wrterr(name.c_str(), 0, e > 0 ? e : EIO);
    return false;
  }
  return true;
}

}  // namespace

void txtreg(PtrRec* r, const char* name) {
  if (r && name && *name) noted.push_back({stkadr(r), name});
}

void txtbeg() { noted.clear(); }

void txtend() {
  std::vector<Noted> todo;
  todo.swap(noted);
  for (const Noted& n : todo) {
    if (state & 0x8180) return;
    auto* r = static_cast<PtrRec*>(stkptr(n.rec));
    if (!r) continue;
    wrtext(n.name, rectext(r));
  }
}
