// Process groups that the program starts (serial peers, shell commands):
// whether one still runs, and ending one as a hang-up would.
#pragma once
#include <sys/types.h>

// Whether a process of group g still runs. Members that ended wait as
// zombies until whoever took them in (init) reaps them, which may take a
// while: those do not count.
bool grouplive(pid_t g);
// Hangs up the process group led by pid (a child of the program) and waits
// for the whole group to end: the shell that ran a command may end at once
// while the command it started (one that ignores the hang-up, say) goes
// on. What is left after a second is killed; the child is reaped.
void endgroup(pid_t pid);
