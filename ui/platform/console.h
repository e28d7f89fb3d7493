// The headless console: standard input is the keyboard, every finished row
// of the command and text windows is written to standard output, and SIGINT
// is Ctrl-C.
//
// Keys on standard input (session scripts use this):
//   - each byte is one character (WM_CHAR); newline, carriage return and
//     CR LF are each one Enter (13); byte 127 (what terminals send for
//     Backspace) is Backspace (8); NUL bytes are ignored; bytes 128-255
//     are text (MK_TYPED: UTF-8 reaches the line as typed), never the key
//     codes above 127, which come from escape sequences;
//   - control bytes are the control keys: 3 Ctrl-C, 21 Ctrl-U, 1 Ctrl-A ...;
//   - a lone ESC byte (not followed at once by "[" or "O") is Esc (27, which
//     the line editor makes 155);
//   - ANSI escape sequences give the special keys:
//       ESC [ A  Up (200)        ESC [ B  Down (208)
//       ESC [ C  Right (205)     ESC [ D  Left (203)
//       ESC [ H  Home (199)      ESC [ F  End (207)
//       ESC [ 1 ~ and ESC [ 7 ~ Home, ESC [ 4 ~ and ESC [ 8 ~ End
//       ESC [ 2 ~  Ins (210)     ESC [ 3 ~  Del (211)
//       ESC [ 5 ~  PgUp (201)    ESC [ 6 ~  PgDn (209)
//       ESC [ 11 ~ .. ESC [ 15 ~, ESC [ 17 ~ .. ESC [ 21 ~  F1..F10 (187..196)
//       ESC [ 23 ~  F11 (113)    ESC [ 24 ~  F12 (114)
//       ESC O A/B/C/D/H/F as ESC [ A/B/C/D/H/F; ESC O P/Q/R/S  F1..F4
//     An xterm modifier parameter (ESC [ 1 ; m X, ESC [ n ; m ~) adds Shift,
//     Alt and Ctrl; other complete sequences are ignored.
// The command-line editor turns Up and Down into PgUp and PgDn: history
// recall.
//
// A terminal on standard input and output is put in non-canonical mode
// without echo (Ctrl-C still raises SIGINT); its settings come back at exit,
// on a fatal or terminating signal and while the program is stopped. Before
// waiting, the unfinished row under the cursor (the prompt) is shown, the
// line editor redraws the row it edits as each key acts (conedit), and a
// finished row replaces the row shown. A terminal on standard input alone
// is left as it is: it hands over a line at a time and echoes it itself,
// and the row it echoed is not written again.
//
// End of input at the command prompt ends the program as quit does; end of
// input while anything else waits for a key ends it with a diagnostic on
// standard error and status 1 (ui/events.h, ui/editor.h).
#pragma once
#include "ui/platform/backend.h"

#include <cstdint>
#include <cstdio>

class Console : public Backend {
 public:
  // Reads keys from file descriptor `in` and writes rows to `out`.
  Console(int in, FILE* out);
  int pump(int how) override;
  void editrow(int row, int col);
  void rowout(int win, const char* text, int n) override;
  void alertout(const char* text, int n) override { rowout(-1, text, n); }
  void beep() override {}
  bool paging() override { return false; }
  int keysfd() override { return infd; }
  bool ended() const { return eof && pos >= len; }

 private:
  int fill(bool wait);
  int getb(bool wait);
  int special(bool wait);
  int infd;
  FILE* outf;
  unsigned char buf[4096];
  int pos = 0, len = 0;
  bool eof = false;
  bool lastcr = false;
  int tty = -1;        // standard input is a terminal (-1: not yet asked)
  int shown = -1;      // window whose unfinished row was shown, or -1
  bool drawn = false;   // the console draws the edited line on a terminal
  void showrow();
  void ttyinit();
};

// The escape sequence after an ESC byte, read as the console reads it, one
// byte at a time: feed gives ESC_MORE while the sequence goes on, ESC_KEY
// when it named a key (vk and keys set), ESC_NONE when it ended naming none
// (its bytes are dropped), ESC_ALONE when the first byte starts no sequence
// (the ESC is Esc, the byte a key of its own).
struct EscSeq {
  enum { ESC_MORE, ESC_KEY, ESC_NONE, ESC_ALONE };
  int feed(int b);
  uint32_t vk = 0;
  uint16_t keys = 0;

 private:
  int n = 0;  // bytes fed
  bool csi = false;
  int par[2] = {0, 0};
  int npar = 0;
  bool digits = false;
};

// Installs the SIGINT handler that turns an interrupt into Ctrl-C (3). The
// console on standard input installs it when it is first used.
void coninit();
// Nonzero once an interrupt arrived that no input request has taken yet.
int conintr();
// Takes a pending interrupt: true once per SIGINT (for other backends).
bool contake();
// The cause (errno) of the first failed flush of the console's output, 0
// when none failed.
int conouterr();
// Gives the terminal back its own settings (async-signal-safe; nothing when
// the console never took it).
void conrestore();
// Writes what standard output holds but has not yet written, with raw
// writes and without taking the stream's lock: for a handler of a fatal
// signal, which ends the program next (async-signal-safe).
void outsave();
// The line editor changed row `row` of the current window; the cursor is at
// column col. The console on a terminal shows it; otherwise nothing.
void conedit(int row, int col);
