// Threads for work on large data: how many a process may use, and parts of
// a piece of work run side by side.
#pragma once

#include <functional>

// The cores this process may run on (its affinity mask), at most max: a
// process held to fewer cores than threads would only take turns on them.
int cores(int max);

// Runs part(0) on the calling thread and part(1) .. part(n - 1) on threads
// of their own, which take no signals (those stay with the main thread);
// a part whose thread cannot be had runs on the caller. Returns when every
// part has returned.
void parts(int n, const std::function<void(int)>& part);
