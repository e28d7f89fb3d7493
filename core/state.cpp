#include "core/state.h"

int32_t state = 0;
int32_t pflags = 0;
int32_t aflags = 0;
int32_t trcmsk = 0;
int32_t jdebug = 0;
