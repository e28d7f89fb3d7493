#include "ui/platform/sighold.h"

#include <pthread.h>

SigHold::SigHold() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old_);
}

SigHold::~SigHold() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
