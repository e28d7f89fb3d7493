// Path text editing.
#include "files/paths.h"

#include <cstring>
#include <string>

namespace {

bool issep(char c) { return c == '/' || c == '\\' || c == ':'; }

// Index of the last separator, or npos.
size_t lastsep(const std::string& s) {
  for (size_t i = s.size(); i-- > 0;)
    if (issep(s[i])) return i;
  return std::string::npos;
}

}  // namespace

int pthpart(const char* source, char* output, int mode, int outsize) {
  if (!output || outsize < 1) return 0;
  // Work on a copy so that source and output may be the same buffer.
  std::string s = source ? source : "";
  std::string r;
  switch (mode) {
    case 0:
      r = s;
      for (char& c : r)
        if (c == '\\') c = '/';
      break;
    case 1:
      r = s;
      for (char& c : r)
        if (c == '/') c = '\\';
      break;
    case 2:
      for (char c : s) {
        r += c;
        if (c == '\\') r += '\\';
      }
      break;
    case 3: {
      size_t k = lastsep(s);
      r = k == std::string::npos ? s : s.substr(k + 1);
      break;
    }
    case 4: {
      size_t k = lastsep(s);
      if (k != std::string::npos) r = s.substr(0, k);
      break;
    }
    case 5: {
      size_t k = lastsep(s);
      if (k != std::string::npos) r = s.substr(0, k + 1);
      break;
    }
    case 6: {
      r = s;
      if (!r.empty() && !issep(r.back())) {
        char sep = '/';
        for (size_t i = r.size(); i-- > 0;)
          if (r[i] == '/' || r[i] == '\\') {
            sep = r[i];
            break;
          }
        r += sep;
      }
      break;
    }
    default:
      r = s;
      break;
  }
  size_t n = r.size();
  if (n > static_cast<size_t>(outsize - 1)) n = static_cast<size_t>(outsize - 1);
  std::memcpy(output, r.data(), n);
  output[n] = '\0';
  return static_cast<int>(n);
}
