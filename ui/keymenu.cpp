// The function keys of the key menu.
#include "ui/keymenu.h"

#include "lang/mainloop.h"

#include <cstring>
#include <string>

namespace {
std::string keys[13];  // items 2 (Esc) and 3..12 (F1..F10)
}

int setfkey(int item, const char* text) {
  if (item < 2 || item > 12) return -1;
  keys[item] = text ? text : "";
  return 0;
}

void clrfkeys() {
  for (auto& k : keys) k.clear();
}

bool keymenu() {
  for (const auto& k : keys)
    if (!k.empty()) return true;
  return false;
}

const char* fncstr(int key, int run, int* len) {
  if (len) *len = 0;
  int item = 0;
  if (key >= 187 && key <= 196)
    item = key - 184;
  else if (key == 155)
    item = 2;
  if (item == 0 || keys[item].empty()) return nullptr;
  const std::string& t = keys[item];
  if (len) *len = static_cast<int>(t.size());
  if (run >= 0) xeqstr(t.c_str(), 0, static_cast<int>(t.size()));
  return t.c_str();
}
