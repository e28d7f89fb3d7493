#include "core/memory.h"

int main() {
  MakStk();
  return 0;
}
