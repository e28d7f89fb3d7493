// Keyword lookup by prefix.
#include "files/dmrec/keyfind.h"

#include <cstdint>
#include <cstring>

int fndkey(const char* word, const char* const* list) {
  if (!word || !list) return -1;
  const size_t n = std::strlen(word);
  if (n == 0) return -1;
  for (int i = 0; list[i]; i++) {
    if (reinterpret_cast<intptr_t>(list[i]) == -1) continue;
    if (std::strncmp(list[i], word, n) == 0) return i;
  }
  return -1;
}
