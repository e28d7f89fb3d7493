// The platform backend: where key input comes from, where finished text
// rows of the command and text windows go, and the system beep. The headless
// console is one backend; a windowed one plugs in the same way.
#pragma once

// Ways of asking for a key (Backend::keyin).
enum : int {
  KEY_PEEK = 0,  // only input that is already pending as an event (interrupts)
  KEY_POLL = 1,  // take typed input when it is there, never wait
  KEY_WAIT = 2,  // wait until a key arrives
};

class Backend {
 public:
  virtual ~Backend() = default;
  // A key code (1 and up), 0 when none came, or -1 when input has ended.
  virtual int keyin(int how) = 0;
  // A row of window `win` (0 or 1) has been finished: n characters, trailing
  // blanks already removed.
  virtual void rowout(int win, const char* text, int n) = 0;
  // The system beep.
  virtual void beep() = 0;
  // Whether long listings stop with " More? " after each page.
  virtual bool paging() = 0;
};

// The backend in use: the one set by setbackend, else the headless console
// on standard input and output.
Backend* backend();
// Installs a backend (null goes back to the console). Returns the previous one.
Backend* setbackend(Backend* b);
