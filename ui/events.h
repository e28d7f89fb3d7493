// Input events: key codes, the type-ahead buffer and the interrupt poll.
#pragma once

int chkio(int level);
int getkey(int flags);
int waitky();
int pushkey(int code);
