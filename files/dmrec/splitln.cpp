// Header-line splitting and keyword lookup by prefix.
#include "files/dmrec/splitln.h"

#include <cstring>

namespace {

char eqword[2] = "=";  // the word every "=" becomes

inline int uc(char c) { return static_cast<unsigned char>(c); }
inline bool lineend(int c) { return c == '\n' || c == '\r'; }
// Blanks and control characters other than the line ends.
inline bool gap(int c) { return c != 0 && c <= ' ' && !lineend(c); }

// The end of a quoted run that starts at s (on the quote): just past the
// matching quote that no backslash precedes, or at the line's end.
const char* quoted(const char* s) {
  const char* p = s + 1;
  while (*p && !lineend(uc(*p))) {
    if (*p == '\\' && p[1] && !lineend(uc(p[1]))) {
      p += 2;
      continue;
    }
    if (*p == *s) return p + 1;
    p++;
  }
  return p;
}

}  // namespace

int isnamc(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

int scantok(const char** pos, int mode, int* length) {
  const char* s = *pos;
  const char* p = s;
  switch (mode) {
    case 1:
      while (gap(uc(*p))) p++;
      break;
    case 2:
      while (uc(*p) > ' ') p++;
      break;
    case 3:
      while (isnamc(uc(*p))) p++;
      break;
    case 4:
      while (*p && !lineend(uc(*p))) p++;
      break;
    case 5:
      if (*p == '"' || *p == '\'') p = quoted(p);
      break;
    case 6:
      while (uc(*p) > ' ' && *p != '{' && *p != '$' && *p != '-') p++;
      break;
    default:
      if (mode >= 32)
        while (*p && !lineend(uc(*p)) && uc(*p) != mode) p++;
      break;
  }
  *length = static_cast<int>(p - s);
  int r = 0;
  if (*p == 0) {
    r = 2;
  } else if (lineend(uc(*p))) {
    // CR LF counts as one line end.
    p += (p[0] == '\r' && p[1] == '\n') ? 2 : 1;
    r = 1;
  }
  *pos = p;
  return r;
}

int splitln(char* line, char** words, int max) {
  int n = 0;
  char* p = line;
  while (n < max) {
    while (gap(uc(*p))) p++;
    if (*p == 0 || *p == '#' || lineend(uc(*p))) break;
    if (*p == '=') {
      words[n++] = eqword;
      p++;
      continue;
    }
    char* start = p;
    if (*p == '"') {
      p = const_cast<char*>(quoted(p));
    } else if (isnamc(uc(*p))) {
      while (isnamc(uc(*p))) p++;
    } else {
      p++;  // a character of no word
      continue;
    }
    words[n++] = start;
    // The word ends here; what ended it is looked at before the NUL goes in.
    char c = *p;
    if (c == 0) break;
    *p = 0;
    if (c == '=') {
      if (n < max) words[n++] = eqword;
      p++;
    } else if (c == '#' || lineend(uc(c))) {
      break;
    } else {
      p++;
    }
  }
  return n;
}

int fndkey(const char* word, const char* const* keys) {
  if (!word || !*word || !keys) return -1;
  size_t n = std::strlen(word);
  for (int i = 0; keys[i]; i++) {
    if (keys[i] == KEYSKIP) continue;
    if (std::strncmp(keys[i], word, n) == 0) return i;
  }
  return -1;
}
