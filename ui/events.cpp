// Placeholder until the input layer lands.
#include "ui/events.h"

int chkio(int) { return 0; }
int getkey(int) { return 0; }
int waitky() { return 0; }
int pushkey(int) { return 0; }
