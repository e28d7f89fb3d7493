// Scripted input (PELIX_INPUT=file): a backend that feeds steps of a script
// into the message queue, each only when the program asks for input, so that
// a run repeats exactly; then hands over to the backend it wraps.
//
// One step a line; "#" starts a comment; texts in double quotes take C
// escapes ("\n" is Enter):
//   type "text"                  each character a key; bytes 128-255 are
//                                text (UTF-8), not special keys
//   key NAME                     f1..f12, esc, enter, tab, backspace, home, end,
//                                pgup, pgdn, up, down, left, right, ins, del,
//                                prtsc, kpplus, kpminus or a character, with
//                                prefixes shift+ ctrl+ alt+
//   click WIN X Y [left|right|middle] [shift] [ctrl] [double]
//   press WIN X Y [button], release WIN X Y [button], move WIN X Y
//                                WIN is a window number or name; X and Y are
//                                client coordinates of that window; a move
//                                between press and release is a drag
//   close WIN                    the close box of a window (the main window's:
//                                closing the native window)
//   alert "button text"          presses that button of the pending alert box
//   menu "title" "item" [shift]  picks an item of a menu bar popup by its
//                                texts (with Shift); menu "title" alone
//                                drops that popup down
//   dialog [WIN] ITEM click|set "text"
//                                presses and releases a dialog control, or
//                                replaces an edit field's text with one
//                                change notification; ITEM is the dialog
//                                function's item number (control + 1); no
//                                WIN: the pending alert, else the dialog the
//                                dialog editor works on, else the current
//                                dialog; WIN a window number or name, tool
//                                or add (the dialog editor's windows)
//   filebox "name"|cancel        answers the file box that waits (an
//                                overwrite of an existing name is confirmed)
//   fontbox "face" SIZE|cancel   answers the next font chooser
//   wait MS                      lets MS milliseconds pass (instant on the
//                                virtual clock); a display shows the screen
//                                meanwhile, as during the program's waits
//   poll N                       releases the next step on the N-th poll that
//                                does not wait (to interrupt a computation)
//   snapshot FILE [WIN]          the screen or one window's client area as PNG
//                                (BMP when FILE ends in .bmp)
//   grid WIN FILE                a text window's grid as text, one row a line;
//                                of a dialog (also tool or add), one line per
//                                control with a text: its ITEM number, a
//                                blank, the text
//   end                          the script ends here
// A faulty line is reported on standard error with its number and skipped.
#pragma once
#include "ui/platform/backend.h"

#include <cstdint>
#include <string>
#include <vector>

class ScriptInput : public Backend {
 public:
  // Reads the script; `inner` takes over when it is used up.
  ScriptInput(const std::string& file, Backend* inner);
  int pump(int how) override;
  void rowout(int win, const char* text, int n) override { inner_->rowout(win, text, n); }
  void beep() override { inner_->beep(); }
  void alertout(const char* text, int n) override { inner_->alertout(text, n); }
  bool paging() override { return inner_->paging(); }
  bool pointer() override { return true; }
  int keysfd() override { return inner_->keysfd(); }
  void show() override { inner_->show(); }
  bool done() const { return pos_ >= steps_.size() && typing_.empty(); }
  bool loaded() const { return ok_; }

 private:
  struct Step {
    int line;
    std::vector<std::string> words;
  };
  int run(const Step& s);
  int typemore();
  std::vector<Step> steps_;
  std::string typing_;  // the rest of a type step, put in as the queue has room
  size_t pos_ = 0;
  int polls_ = 0;   // non-waiting polls counted for a poll step
  uint32_t held_ = 0;  // buttons pressed by press steps (1 left, 2 right, 16 middle)
  Backend* inner_;
  bool ok_ = false;
};

// Posts the messages of a key name such as "f10", "ctrl+c" or "alt+w" to
// the window that has the focus. Returns false for an unknown name.
bool postkeyname(const std::string& name);
// The name of a special key (and its modifiers) as postkeyname takes it:
// "f9", "ctrl+up" ...; empty for a key that has no name there.
std::string keyname(uint32_t vk, uint16_t keys);
// The answer a filebox step gave the file box: -1 none, 0 cancel, 1 the
// name in *name. Taken once.
int boxscript(std::string* name);
// The window slot of a window number or name, -1 when there is none.
int scriptwin(const std::string& w);
// Writes the screen (win < 0) or a window's client area as an image file.
int snapshot(const std::string& file, int win);
// Writes a text window's grid rows (trailing blanks removed) to a file.
int gridfile(int win, const std::string& file);
