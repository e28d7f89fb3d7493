// Alert boxes.
#pragma once

constexpr int ALERTTXT = 256;  // bytes of an alert's text buffer

// A modal alert box with the buttons given as one text separated by ";",
// "!" marking the default ("!OK", "!Yes;No", "Cancel;!Quit"). With a text
// buffer (ALERTTXT bytes) the box has an edit field preset from it and
// returns the edited text in it. Returns the 1-based number of the button
// pressed. Kind -1 closes the open alert and returns 0.
int Alertb(const char* message, const char* buttons, int kind, const char* title, char* text,
           int x, int y, int width, int height);

// Reads one line from the keyboard (Backspace edits) into buf; false after
// Ctrl-C, or Esc when esc is set.
bool keyline(char* buf, int size, bool esc);
