// Threads take no signals: Ctrl-C (SIGINT), the terminal's stop and
// resume and the other signals stay with the main thread, whose handlers
// act on its state. A thread begins with the signal mask of the thread
// that made it, so every thread is made inside a SigHold: the program's
// own (compute/cores starts them all) and those a library starts for it
// (SDL's video, audio and joystick threads).
#pragma once

#include <signal.h>

// Every signal blocked on the calling thread while in scope, then its
// mask as it was.
class SigHold {
 public:
  SigHold();
  ~SigHold();
  SigHold(const SigHold&) = delete;
  SigHold& operator=(const SigHold&) = delete;

 private:
  sigset_t old_;
};
