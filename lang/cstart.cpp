// Placeholder until start-up and shutdown land.
#include "lang/cstart.h"
#include <cstdlib>

void finish(int status) { std::exit(status); }
