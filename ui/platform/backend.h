// The platform backend: where input comes from, where finished text rows of
// the command and text windows go, and the system beep. The headless console
// is one backend; a windowed one plugs in the same way.
//
// A backend turns its platform input into messages of the program's own
// queue (postmsg, ui/events.h) with the original message numbers: typed
// characters as WM_CHAR, cursor, editing and function keys as WM_KEYDOWN
// with their virtual-key codes, menu picks as WM_COMMAND, pointer input as
// the mouse messages. The message loops of ui/events.cpp ask it for input
// through pump() and never read the platform themselves.
#pragma once

// Ways of asking for input (Backend::pump, Backend::keyin).
enum : int {
  KEY_PEEK = 0,  // only input that is already pending as an event (interrupts)
  KEY_POLL = 1,  // also take typed input when it is there, never wait
  KEY_WAIT = 2,  // wait until something arrives
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Moves platform input into the message queue. Returns the number of
  // messages posted (0: nothing there), or -1 when the input has ended and
  // nothing will ever come. KEY_WAIT returns only after posting something,
  // after an interrupt, or at the end of input.
  //
  // The default hands one key code of keyin() to the queue as WM_CHAR, so
  // that a simple backend (a test script) only has to give key codes.
  virtual int pump(int how);
  // For the default pump: a key code (1 and up), 0 when none came, or -1
  // when input has ended.
  virtual int keyin(int) { return -1; }
  // A row of window `win` (0 or 1) has been finished: n characters, trailing
  // blanks already removed.
  virtual void rowout(int win, const char* text, int n) = 0;
  // An alert box has opened: each of its lines (title, message lines,
  // buttons) in turn. The headless console writes them to its output.
  virtual void alertout(const char*, int) {}
  // The system beep.
  virtual void beep() = 0;
  // Whether long listings stop with " More? " after each page.
  virtual bool paging() = 0;
  // Whether a pointer device (a mouse) is there.
  virtual bool pointer() { return false; }
  // The file descriptor keys are read from (standard input is 0), -1 none.
  virtual int keysfd() { return -1; }
  // Shows the program's screen on the display now (a windowed backend
  // does it at each wait of its pump); nothing where there is no display.
  virtual void show() {}
};

// The backend in use: the one set by setbackend, else the one chosen at
// first use (choosebackend).
Backend* backend();
// The headless console on standard input and output.
Backend* conbackend();
// The backend of this run: PELIX_BACKEND=sdl|headless, by default sdl when a
// display exists (DISPLAY or WAYLAND_DISPLAY is set and opens), else the
// console; wrapped in the scripted input of PELIX_INPUT when that is set.
Backend* choosebackend();
// Installs a backend (null goes back to the chosen one). Returns the previous one.
Backend* setbackend(Backend* b);
