// Threads for work on large data: how many a process may use, and parts of
// a piece of work run side by side. Every thread the program starts for
// its work is started here (thrnew), and takes no signals: those stay with
// the main thread (ui/platform/sighold.h).
#pragma once

#include <functional>
#include <thread>

// The cores this process may run on (its affinity mask), at most max: a
// process held to fewer cores than threads would only take turns on them.
int cores(int max);

// Starts fn on a thread of its own, which begins with every signal
// blocked. A thread that cannot be had gives a thread object that is not
// joinable (fn does not run).
std::thread thrnew(std::function<void()> fn);

// Runs part(0) on the calling thread and part(1) .. part(n - 1) on threads
// of thrnew; a part whose thread cannot be had runs on the caller. Returns
// when every part has returned.
void parts(int n, const std::function<void(int)>& part);
