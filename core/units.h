// Numbered file units.
#pragma once
#include <cstdio>

// The stream of file-table slot `unit` (0..49), or null when none is open.
FILE* unitstream(int unit);
