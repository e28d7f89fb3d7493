// The headless console: standard input is the keyboard (each byte a key,
// newline is Enter), every finished row of the command and text windows is
// written to standard output, and SIGINT is Ctrl-C.
#pragma once
#include "ui/platform/backend.h"

#include <cstdio>

class Console : public Backend {
 public:
  // Reads keys from file descriptor `in` and writes rows to `out`.
  Console(int in, FILE* out);
  int keyin(int how) override;
  void rowout(int win, const char* text, int n) override;
  void beep() override {}
  bool paging() override { return false; }
  bool ended() const { return eof && pos >= len; }

 private:
  int fill(bool wait);
  int infd;
  FILE* outf;
  unsigned char buf[4096];
  int pos = 0, len = 0;
  bool eof = false;
  bool lastcr = false;
};

// Installs the SIGINT handler that turns an interrupt into Ctrl-C (3).
void coninit();
// Nonzero once an interrupt arrived that no key request has taken yet.
int conintr();
