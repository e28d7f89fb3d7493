// Placeholder until the file table lands.
#include "core/units.h"

FILE* unitstream(int) { return nullptr; }
